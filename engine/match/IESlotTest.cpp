// Slot tests, join tests and patterns: copying, comparing and writing them, the join test's
// slot comparison, the constant keys of the alpha memories, and the compiling of "|" runs.
//
// Invariant: a slot reader re-resolves its slot index whenever the template's layout changes, so
// a join never reads a stale position; a constant key is made only for a value whose equality is
// exactly key equality (NaN has none, -0.0 folds into 0.0); CompileConnectives turns each "|" run
// into one call test on a variable, so the network sees only "&"-joined tests.
#include "engine/match/IESlotTest.h"

#include <cstring>
#include <utility>

#include "engine/match/IERule.h"
#include "engine/model/IEPackages.h"

namespace ie {

namespace {

// Raised when connectives are compiled for a pattern that no rule owns.
constexpr std::string_view RuleMissingForPattern = "Rule missing for pattern";

std::string IntText(int32_t n) {
    return std::to_string(n);
}

} // namespace

std::string_view SlotTestTypeName(TSlotTestType t) noexcept {
    return t == sttEquals ? "sttEquals" : "sttNotEquals";
}

std::string_view JoinTestTypeName(TJoinTestType t) noexcept {
    return t == tstSlot ? "tstSlot" : "tstMultiSlot";
}

TRefPtr<IIEValue> MakeVariable(TIEType kind, std::string_view name) {
    return TIEValue::CreateText(kind, name);
}

std::string VariableName(const IIEValue& value) {
    return value.GetDType() == dtMultiVariable ? value.AsMultiVariable() : value.AsVariable();
}

bool IsGeneratedVariableName(std::string_view name) noexcept {
    if (name.starts_with(BlankVariableName)) return true;
    if (!name.starts_with('_')) return false;
    size_t i = 1;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9')
        ++i;
    return i > 1 && i < name.size() && name[i] == '_' &&
           name.substr(i + 1).starts_with(BlankVariableName);
}

// ---------------------------------------------------------------------------------------------
// TIESlotTest

void TIESlotTest::Assign(const TPersistent* source) {
    auto* test = dynamic_cast<const TIESlotTest*>(source);
    if (!test) return TPersistent::Assign(source);
    FSlotTestType = test->FSlotTestType;
}

std::string TIESlotTest::GetText() const {
    return FSlotTestType == sttEquals ? "=" : "<>";
}

bool TIESlotTest::Equals(const TIESlotTest& other) const {
    return ClassName() == other.ClassName() && FSlotTestType == other.FSlotTestType;
}

// ---------------------------------------------------------------------------------------------
// TIEPatternMatchTest

TIEPatternMatchTest::TIEPatternMatchTest(TIEPattern* owner) : FOwner(owner) {}

TIEPatternMatchTest::TIEPatternMatchTest(TIEPattern* owner, TSlotTestType type,
                                         TRefPtr<IIEValue> value, int32_t subIndex)
    : TIESlotTest(type), FOwner(owner), FSlotValue(std::move(value)), FMultiSlotSubIndex(subIndex) {
}

void TIEPatternMatchTest::Assign(const TPersistent* source) {
    auto* test = dynamic_cast<const TIEPatternMatchTest*>(source);
    if (!test) return TIESlotTest::Assign(source);
    FSlotTestType = test->FSlotTestType;
    FSlotValue = test->FSlotValue ? test->FSlotValue->CloneValue() : nullptr;
    FMultiSlotSubIndex = test->FMultiSlotSubIndex;
    FConjunction = test->FConjunction;
    FWrittenForm = test->FWrittenForm;
    if (FOwner) FOwner->TestChanged();
}

std::string TIEPatternMatchTest::GetText() const {
    std::string text = TIESlotTest::GetText() + " SubIdx: " + IntText(FMultiSlotSubIndex);
    if (FSlotValue) text += " Slot: " + FSlotValue->GetText();
    return text;
}

std::unique_ptr<TIESlotTest> TIEPatternMatchTest::Clone() const {
    auto copy = std::make_unique<TIEPatternMatchTest>(
        nullptr, FSlotTestType, FSlotValue ? FSlotValue->CloneValue() : nullptr,
        FMultiSlotSubIndex);
    copy->FConjunction = FConjunction;
    copy->FWrittenForm = FWrittenForm;
    return copy;
}

bool TIEPatternMatchTest::Equals(const TIESlotTest& other) const {
    if (!TIESlotTest::Equals(other)) return false;
    auto& o = static_cast<const TIEPatternMatchTest&>(other);
    bool sameValue = FSlotValue == o.FSlotValue ||
                     (FSlotValue && o.FSlotValue && FSlotValue->Equals(o.FSlotValue.get()));
    return sameValue && FMultiSlotSubIndex == o.FMultiSlotSubIndex &&
           FConjunction == o.FConjunction;
}

bool TIEPatternMatchTest::Evaluate(TIEContext* context) const {
    if (!FSlotValue) return FSlotTestType == sttEquals;
    const bool holds = EvalCondition(FSlotValue, context);
    return FSlotTestType == sttEquals ? holds : !holds;
}

void TIEPatternMatchTest::SetSlotValue(TRefPtr<IIEValue> value) {
    FSlotValue = std::move(value);
    if (FOwner) FOwner->TestChanged();
}

void TIEPatternMatchTest::SetMultiSlotSubIndex(int32_t index) {
    if (index == FMultiSlotSubIndex) return;
    FMultiSlotSubIndex = index;
    if (FOwner) FOwner->TestChanged();
}

void TIEPatternMatchTest::SetConjunction(bool value) {
    if (value == FConjunction) return;
    FConjunction = value;
    if (FOwner) FOwner->ConjunctionChanged(this);
}

TRefPtr<IFunCall> TIEPatternMatchTest::BuildFunCall(IReasoner* reasoner,
                                                    const TRefPtr<IIEValue>& variable) const {
    if (IsFunCall()) {
        TRefPtr<IFunCall> call = FSlotValue->AsFunCall();
        if (FSlotTestType == sttEquals) return call;
        auto notCall = TFunctionCall::Create(reasoner, "not");
        notCall->AddArgument(FSlotValue);
        return notCall;
    }
    auto call = TFunctionCall::Create(reasoner, FSlotTestType == sttEquals ? "eq" : "neq");
    call->AddArgument(FSlotValue);
    call->AddArgument(variable);
    return call;
}

// ---------------------------------------------------------------------------------------------
// TIEJoinTest

TIEJoinTest::TIEJoinTest(TSlotTestType type, int32_t tokenIndex, std::string_view rightSlot,
                         std::string_view leftSlot)
    : TIESlotTest(type), TokenIndex(tokenIndex), FLeftIsFact(leftSlot == PatternSlotName),
      FRightReader(rightSlot), FLeftReader(leftSlot) {}

TIEJoinTest::TIEJoinTest(TSlotTestType type, int32_t tokenIndex, std::string_view rightSlot,
                         int32_t rightSubIndex, std::string_view leftSlot, int32_t leftSubIndex)
    : TIESlotTest(type), RightSubIndex(rightSubIndex), TokenIndex(tokenIndex),
      LeftSubIndex(leftSubIndex), JoinTestType(tstMultiSlot),
      FLeftIsFact(leftSlot == PatternSlotName), FRightReader(rightSlot), FLeftReader(leftSlot) {}

void TIEJoinTest::Assign(const TPersistent* source) {
    auto* test = dynamic_cast<const TIEJoinTest*>(source);
    if (!test) return TIESlotTest::Assign(source);
    FSlotTestType = test->FSlotTestType;
    RightSubIndex = test->RightSubIndex;
    FRightReader = test->FRightReader;
    FLeftReader = test->FLeftReader;
    TokenIndex = test->TokenIndex;
    LeftSubIndex = test->LeftSubIndex;
    JoinTestType = test->JoinTestType;
    FLeftIsFact = test->FLeftIsFact;
}

std::string TIEJoinTest::GetText() const {
    std::string text = TIESlotTest::GetText() + " " + std::string(JoinTestTypeName(JoinTestType)) +
                       " TokenIdx: " + IntText(TokenIndex) + " Left: " + LeftSlot();
    // Appended piece by piece: gcc 12 misreads `" " + text` as an overlapping copy at -O2.
    if (JoinTestType == tstMultiSlot) {
        text += ' ';
        text += IntText(LeftSubIndex);
    }
    text += " Right: ";
    text += RightSlot();
    if (JoinTestType == tstMultiSlot) {
        text += ' ';
        text += IntText(RightSubIndex);
    }
    return text;
}

std::unique_ptr<TIESlotTest> TIEJoinTest::Clone() const {
    auto copy = std::make_unique<TIEJoinTest>(FSlotTestType, TokenIndex, RightSlot(), LeftSlot());
    copy->Assign(this);
    return copy;
}

bool TIEJoinTest::Equals(const TIESlotTest& other) const {
    if (!TIESlotTest::Equals(other)) return false;
    auto& o = static_cast<const TIEJoinTest&>(other);
    return RightSubIndex == o.RightSubIndex && RightSlot() == o.RightSlot() &&
           LeftSlot() == o.LeftSlot() && TokenIndex == o.TokenIndex &&
           LeftSubIndex == o.LeftSubIndex && JoinTestType == o.JoinTestType;
}

void TSlotReader::Resolve(const TFactTemplate* t) const {
    FHold = TRefPtr<IFactTemplate>(const_cast<TFactTemplate*>(t));
    FTemplate = t;
    FLayout = t->Layout();
    FIndex = t->IndexOfSlot(Name());
}

const IIEValue* TSlotReader::ReadResolving(const IFact& fact, TRefPtr<IIEValue>& hold,
                                           bool& found) const {
    if (typeid(fact) == typeid(TFact)) {
        const TFact& f = static_cast<const TFact&>(fact);
        if (const TFactTemplate* t = f.Template()) {
            if (t != FTemplate || t->Layout() != FLayout) Resolve(t);
            found = FIndex >= 0;
            return found ? f.ValueAt(FIndex).get() : nullptr;
        }
    }
    found = fact.FindSlotValue(Name(), hold);
    return hold.get();
}

const IIEValue* TSlotReader::ElementRead(const IFact& fact, const TMatchCut* cut,
                                         const IIEValue* value, int32_t sub,
                                         TRefPtr<IIEValue>& hold) const {
    if (cut && typeid(fact) == typeid(TFact) && TMatchCut::CutsSlot(cut, FIndex))
        return TMatchCut::Element(cut, value, FIndex, sub, hold);
    return ElementOf(value, sub);
}

void TNumberPredicate::Compile(const IIEValue* value) {
    if (FState != nsUntried) return;
    FNodes.clear();
    FArguments.clear();
    FItems.clear();
    const int32_t root = CompileNode(value);
    // A call not bound yet (one that has never run: a later argument of an `and` or `or`) is
    // tried again, a few times: each try makes the nodes anew.
    if (root == -2 && ++FTries < 64) return;
    FState = root == 0 ? nsCompiled : nsNone;
    if (FState != nsCompiled) {
        FNodes.clear();
        FArguments.clear();
        FItems.clear();
    }
}

int32_t TNumberPredicate::CompileNode(const IIEValue* value) {
    if (!value || &typeid(*value) != &typeid(TIEValue)) return -1;
    const TFunctionCall* call = AsFunctionCall(*static_cast<const TIEValue*>(value));
    if (!call) return -1;
    // (The call keeps the function it is bound to, so the compiled form does not hold it.)
    const TRefPtr<IUserFunction> bound = call->GetFunction();
    if (!bound) return -2;
    const auto* function = dynamic_cast<const TIEUserFunction*>(bound.get());
    if (!function) return -1;
    const int32_t count = call->ArgumentCount();
    if (count < 1 || !function->CountFits(count)) return -1;
    const TNumberTest test = function->NumberTest();
    const std::string_view kind = function->ClassName();
    const bool isOr = kind == "TOrFunction";
    if (test == ntNone && !isOr && kind != "TAndFunction") return -1;
    const auto at = static_cast<int32_t>(FNodes.size());
    FNodes.push_back(TNode{test, isOr, 0, static_cast<uint32_t>(count)});
    if (test == ntNone) {
        std::vector<uint32_t> items;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t node = CompileNode(call->ArgumentAt(i).get());
            if (node < 0) return node;
            items.push_back(static_cast<uint32_t>(node));
        }
        FNodes[static_cast<size_t>(at)].First = static_cast<uint32_t>(FItems.size());
        FItems.insert(FItems.end(), items.begin(), items.end());
        return at;
    }
    FNodes[static_cast<size_t>(at)].First = static_cast<uint32_t>(FArguments.size());
    for (int32_t i = 0; i < count; ++i) {
        const IIEValue* argument = call->ArgumentAt(i).get();
        if (!argument || &typeid(*argument) != &typeid(TIEValue)) return -1;
        const auto* v = static_cast<const TIEValue*>(argument);
        TArgument a;
        if (v->DType() == dtInteger || v->DType() == dtFloat) {
            a.Literal = v->NumberPayload();
        } else if (v->DType() == dtObject) {
            // A pattern variable bound to a slot value or an element of it (the network's
            // position record).
            const TObject* position = v->OwnedObjectPayload();
            if (!position || &typeid(*position) != &typeid(TBinding)) return -1;
            const auto& binding = static_cast<const TBinding&>(*position);
            if (binding.FactIndex < 0 || binding.SubIndex < -1 || binding.SlotName.empty())
                return -1;
            a.FactIndex = binding.SubIndex < 0 ? binding.FactIndex : -2 - binding.FactIndex;
            a.SubIndex = binding.SubIndex;
            a.Reader = TSlotReader(binding.SlotName);
        } else {
            return -1;
        }
        FArguments.push_back(std::move(a));
    }
    return at;
}

bool TNumberPredicate::ReadElementNumber(const TArgument& a, const TIEToken* left,
                                         const IFact* fact, double& number) {
    const IIEValue* v = ReadSlot(a, -2 - a.FactIndex, left, fact);
    if (!v || &typeid(*v) != &typeid(TIEValue)) return false;
    // An element of a list of the engine's own classes (else the call reads it).
    const IValueVector* list = static_cast<const TIEValue*>(v)->ListPayload();
    if (!list || &typeid(*list) != &typeid(TValueVector)) return false;
    const auto& items = static_cast<const TValueVector&>(*list);
    if (a.SubIndex >= items.Count()) return false;
    return PlainNumberIn(items.begin()[a.SubIndex].get(), number);
}

bool TNumberPredicate::FixLeft(const TIEToken* left, TFixed& fixed) const {
    fixed.Mask = 0;
    if (FState != nsCompiled || !left) return false;
    const TNode& node = FNodes[0];
    if (node.Test == ntNone || node.Count > TFixed::kArguments) return false;
    const int32_t size = left->Size();
    for (uint32_t i = 0; i < node.Count; ++i) {
        const TArgument& a = FArguments[node.First + i];
        const bool element = a.FactIndex < 0;
        // A literal is at hand already.
        if (element && a.SubIndex < 0) continue;
        const int32_t index = element ? -2 - a.FactIndex : a.FactIndex;
        if (index >= size) continue;
        const bool read = element ? ReadElementNumber(a, left, nullptr, fixed.Number[i])
                                  : ReadNumber(a, left, nullptr, fixed.Number[i]);
        if (!read) {
            fixed.Mask = 0;
            return false;
        }
        fixed.Mask |= 1u << i;
    }
    return fixed.Mask != 0;
}

TNumberPredicate::TAnswer TNumberPredicate::LogicHolds(const TNode& node, const TIEToken* left,
                                                       const IFact* fact) const {
    // As `and` and `or` evaluate: in order, up to the first argument that decides.
    for (uint32_t i = 0; i < node.Count; ++i) {
        const TAnswer a = NodeHolds(FNodes[FItems[node.First + i]], left, fact);
        if (a == naUndecided || a == (node.Or ? naTrue : naFalse)) return a;
    }
    return node.Or ? naFalse : naTrue;
}

const IIEValue* ElementOfAny(const IIEValue* value, int32_t subIndex) {
    if (subIndex < 0 || !value) return value;
    if (value->GetDType() != dtList) return nullptr;
    TRefPtr<IValueVector> hold;
    const IValueVector* list = BorrowList(*value, hold);
    // A list taken from a value outlives this call only through the value that holds it.
    if (!list || subIndex >= list->Count()) return nullptr;
    return list->GetItem(subIndex).get();
}

void TIEJoinTest::ReadLeftApart(const TIEToken* token, TSide& side) const {
    bool found;
    if (LeftIsFact()) {
        // A test on a fact the token does not hold yet is satisfied whatever its type.
        if (JoinTestType == tstMultiSlot && (!token || TokenIndex >= token->Size())) {
            side.State = TSide::stPass;
            return;
        }
        const TIEToken* level = token ? token->LevelPtr(TokenIndex) : nullptr;
        const IFact* left = level ? level->Fact() : nullptr;
        if (!left) {
            side.State = TSide::stMissing;
            return;
        }
        side.Hold = TIEValue::CreateInteger(dtFactId, left->GetFactId());
        side.Value = side.Hold.get();
        side.State = TSide::stValue;
        return;
    }
    if (JoinTestType == tstSlot) {
        const TIEToken* level = token ? token->LevelPtr(TokenIndex) : nullptr;
        const IFact* left = level ? level->Fact() : nullptr;
        if (!left) {
            side.State = TSide::stMissing;
            return;
        }
        // ReadLeft read the uncut ones.
        return ReadLeftCut(*level, side);
    }
    // A test on a fact the token does not hold yet is satisfied whatever its type.
    if (!token || TokenIndex >= token->Size()) {
        side.State = TSide::stPass;
        return;
    }
    const TIEToken* level = token->LevelPtr(TokenIndex);
    if (level->MatchCut()) [[unlikely]]
        return ReadLeftCut(*level, side);
    side.Value = FLeftReader.Read(*level->Fact(), side.Hold, found);
    if (!found) {
        side.State = TSide::stMissing;
        return;
    }
    side.Value = ElementOf(side.Value, LeftSubIndex);
    side.State = TSide::stValue;
}

void TIEJoinTest::ReadLeftCut(const TIEToken& level, TSide& side) const {
    bool found;
    side.Value =
        FLeftReader.ReadElement(*level.Fact(), level.MatchCut(),
                                JoinTestType == tstSlot ? -1 : LeftSubIndex, side.Hold, found);
    side.State = found ? TSide::stValue : TSide::stMissing;
}

void TIEJoinTest::RaiseMissing(const TSide& left) const {
    // The left side is read first: when it has a value, the right slot is the missing one.
    RaiseIE(imNoSuchSlot, left.State == TSide::stMissing ? LeftSlot() : RightSlot());
}

bool TIEJoinTest::Test(const IFact& fact, const TIEToken* token) const {
    TSide left, right;
    ReadLeft(token, left);
    if (left.State != TSide::stValue) return Compare(left, right);
    ReadRight(fact, right);
    return Compare(left, right);
}

// ---------------------------------------------------------------------------------------------
// TIEPattern

TIEPattern::TIEPattern(TRule* rule, std::string_view name, TRefPtr<IFactTemplate> factTemplate,
                       int32_t negatedCount)
    : FNegatedCount(negatedCount), FFactTemplate(std::move(factTemplate)), FName(name),
      FRule(rule) {
    InitSlots();
}

TIEPattern::TIEPattern(TRule* rule, const TIEPattern& source, std::string_view name,
                       int32_t negatedCount, TRefPtr<IFactTemplate> factTemplate)
    : TIEPattern(rule, name, factTemplate ? std::move(factTemplate) : source.FFactTemplate,
                 negatedCount) {
    BeginUpdate();
    IRuleEngine* engine = Engine();
    for (const TPatternSlot& slot : source.FSlots) {
        int32_t index = EnsureSlot(slot.Name());
        FSlots[index].MultiSlotLength = slot.MultiSlotLength;
        for (const auto& test : slot.Tests) {
            auto copy = std::unique_ptr<TIEPatternMatchTest>(
                static_cast<TIEPatternMatchTest*>(test->Clone().release()));
            copy->FOwner = this;
            if (copy->IsVariable() && engine) {
                std::string var = VariableName(*copy->FSlotValue);
                if (var.starts_with(BlankVariableName))
                    copy->FSlotValue =
                        MakeVariable(copy->ValueType(), engine->GenSym(BlankVariableName));
            }
            FSlots[index].Tests.push_back(std::move(copy));
        }
    }
    Recount();
    FUpdateCount = 0;
}

TIEPattern::~TIEPattern() = default;

IRuleEngine* TIEPattern::Engine() const noexcept {
    return FRule ? FRule->Engine() : nullptr;
}

void TIEPattern::InitSlots() {
    FSlots.clear();
    if (!FFactTemplate) return;
    const int32_t n = FFactTemplate->SlotCount();
    FSlots.reserve(n);
    for (int32_t i = 0; i < n; ++i)
        FSlots.push_back(TPatternSlot{TIEText::Make(FFactTemplate->SlotAt(i)->GetName()), -1, {}});
}

int32_t TIEPattern::IndexOfSlot(std::string_view name) const noexcept {
    for (size_t i = 0; i < FSlots.size(); ++i)
        if (FSlots[i].Name() == name) return static_cast<int32_t>(i);
    return -1;
}

int32_t TIEPattern::EnsureSlot(std::string_view name) {
    int32_t index = IndexOfSlot(name);
    if (index >= 0) return index;
    FSlots.push_back(TPatternSlot{TIEText::Make(name), -1, {}});
    return static_cast<int32_t>(FSlots.size()) - 1;
}

void TIEPattern::Recount() noexcept {
    FTestCount = 0;
    FDisjunctionCount = 0;
    for (const TPatternSlot& slot : FSlots)
        for (const auto& test : slot.Tests) {
            ++FTestCount;
            if (!test->FConjunction) ++FDisjunctionCount;
        }
}

void TIEPattern::Changed() {
    if (FUpdateCount > 0) return;
    if (FRule) FRule->Changed();
    if (OnChange) OnChange(this);
}

void TIEPattern::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    if (FUpdateCount == 0) Changed();
}

void TIEPattern::Assign(const TPersistent* source) {
    auto* src = dynamic_cast<const TIEPattern*>(source);
    if (!src) return TPersistent::Assign(source);
    if (src == this) return;
    BeginUpdate();
    SetComment(src->Comment());
    FName = src->FName;
    FUnique = src->FUnique;
    FExplicit = src->FExplicit;
    FBoundName = src->FBoundName;
    FFactTemplate = src->FFactTemplate;
    FNegatedCount = src->FNegatedCount;
    FSlots.clear();
    for (const TPatternSlot& slot : src->FSlots) {
        int32_t index = EnsureSlot(slot.Name());
        FSlots[index].MultiSlotLength = slot.MultiSlotLength;
        for (const auto& test : slot.Tests) {
            auto copy = std::unique_ptr<TIEPatternMatchTest>(
                static_cast<TIEPatternMatchTest*>(test->Clone().release()));
            copy->FOwner = this;
            FSlots[index].Tests.push_back(std::move(copy));
        }
    }
    Recount();
    EndUpdate();
}

TIEPatternMatchTest* TIEPattern::NewTest(TSlotTestType type, TRefPtr<IIEValue> value,
                                         int32_t subIndex) {
    // The caller adds it to a slot; until then it belongs to nobody.
    return new TIEPatternMatchTest(this, type, std::move(value), subIndex);
}

TIEPatternMatchTest* TIEPattern::AddTestToSlot(std::string_view slotName,
                                               std::unique_ptr<TIEPatternMatchTest> test) {
    if (!FFactTemplate) RaiseIE(imFactTemplateMissing);
    if (!FFactTemplate->HasSlot(slotName)) RaiseIE(imNoSuchSlot, slotName);
    int32_t index = EnsureSlot(slotName);
    test->FOwner = this;
    TIEPatternMatchTest* raw = test.get();
    FSlots[index].Tests.push_back(std::move(test));
    ++FTestCount;
    if (!raw->FConjunction) ++FDisjunctionCount;
    Changed();
    return raw;
}

TIEPatternMatchTest* TIEPattern::AddSlotTest(std::string_view slotName, TRefPtr<IIEValue> value,
                                             bool conjunction, bool notEqual, int32_t subIndex) {
    auto test = std::make_unique<TIEPatternMatchTest>(this, notEqual ? sttNotEquals : sttEquals,
                                                      std::move(value), subIndex);
    test->FConjunction = conjunction;
    return AddTestToSlot(slotName, std::move(test));
}

void TIEPattern::ConjunctionChanged(TIEPatternMatchTest*) {
    Recount();
    Changed();
}

void TIEPattern::SetUnique(bool value) {
    if (value == FUnique) return;
    FUnique = value;
    Changed();
}

void TIEPattern::SetExplicit(bool value) {
    if (value == FExplicit) return;
    FExplicit = value;
    Changed();
}

void TIEPattern::SetNegatedCount(int32_t count) {
    if (count == FNegatedCount) return;
    FNegatedCount = count;
    Changed();
}

void TIEPattern::SetBoundName(std::string_view name) {
    if (IsNegated() && IsTest()) RaiseIE(imCannotBindNegated);
    if (name == FBoundName) return;
    FBoundName = name;
    Changed();
}

void TIEPattern::SetName(std::string_view name) {
    if (name == FName) return;
    FName = name;
    Changed();
}

void TIEPattern::SetRule(TRule* rule) {
    if (rule == FRule) return;
    FRule = rule;
    Changed();
}

void TIEPattern::SetMultiSlotLength(int32_t i, int32_t length) {
    TPatternSlot& slot = FSlots.at(i);
    if (slot.MultiSlotLength == length) return;
    slot.MultiSlotLength = length;
    Changed();
}

std::unique_ptr<TIEPattern> TIEPattern::CopyForRule(TRule* rule) const {
    auto copy = std::make_unique<TIEPattern>(rule, *this, FName, FNegatedCount);
    copy->FUnique = FUnique;
    copy->FExplicit = FExplicit;
    copy->FBoundName = FBoundName;
    copy->SetComment(Comment());
    return copy;
}

void TIEPattern::CompileConnectives() {
    if (FDisjunctionCount == 0) return;
    if (!FRule) throw EIEException(std::string(RuleMissingForPattern));
    IRuleEngine* engine = Engine();
    if (!engine) RaiseIE(imUnknownEngine);
    IReasoner* reasoner = engine->Reasoner();
    BeginUpdate();
    for (TPatternSlot& slot : FSlots) {
        TSlotTests rebuilt;
        size_t i = 0;
        while (i < slot.Tests.size()) {
            size_t end = i;
            const int32_t sub = slot.Tests[i]->FMultiSlotSubIndex;
            bool hasOr = false;
            while (end < slot.Tests.size() && slot.Tests[end]->FMultiSlotSubIndex == sub) {
                if (!slot.Tests[end]->FConjunction) hasOr = true;
                ++end;
            }
            if (!hasOr) {
                for (size_t k = i; k < end; ++k)
                    rebuilt.push_back(std::move(slot.Tests[k]));
                i = end;
                continue;
            }
            // The run's variable: its own leading variable when that one is joined to the rest
            // by "&", or a fresh one bound by the rule. A leading variable followed by "|" is an
            // alternative like any other term (?a|?b matches either binding's value).
            TRefPtr<IIEValue> variable;
            size_t first = i;
            const bool leadsConjunction = i + 1 < end && slot.Tests[i + 1]->FConjunction;
            if (slot.Tests[i]->ValueType() == dtVariable &&
                slot.Tests[i]->SlotTestType() == sttEquals && leadsConjunction) {
                variable = slot.Tests[i]->FSlotValue;
                rebuilt.push_back(std::move(slot.Tests[i]));
                first = i + 1;
            } else {
                std::string name = engine->GenSym(BlankVariableName);
                variable = MakeVariable(dtVariable, name);
                // Bound in this very pattern: its own position once it is in the rule's list
                // (a pattern's connectives are compiled after it has been appended).
                const int32_t at = FRule->IndexOfPattern(this);
                FRule->AddBinding(name, at >= 0 ? at : FRule->PatternCount(), slot.Name(), sub);
                rebuilt.push_back(
                    std::make_unique<TIEPatternMatchTest>(this, sttEquals, variable, sub));
            }
            // A generated leading variable stands for an "=" constraint or a lone "?", which
            // the run's written form must keep: without it the run's first term would be
            // written as a call on a variable that nothing binds when the text is read back.
            auto written = std::make_shared<TWrittenConstraints>();
            if (first > i && IsGeneratedVariableName(VariableName(*variable)))
                written->push_back({sttEquals, variable, true});
            for (size_t k = first; k < end; ++k)
                written->push_back({slot.Tests[k]->FSlotTestType, slot.Tests[k]->FSlotValue,
                                    slot.Tests[k]->FConjunction});
            auto orCall = TFunctionCall::Create(reasoner, "or");
            size_t g = first;
            while (g < end) {
                size_t gEnd = g + 1;
                while (gEnd < end && slot.Tests[gEnd]->FConjunction)
                    ++gEnd;
                if (gEnd - g == 1) {
                    orCall->AddArgument(
                        TIEValue::CreateFunCall(slot.Tests[g]->BuildFunCall(reasoner, variable)));
                } else {
                    auto andCall = TFunctionCall::Create(reasoner, "and");
                    for (size_t k = g; k < gEnd; ++k)
                        andCall->AddArgument(TIEValue::CreateFunCall(
                            slot.Tests[k]->BuildFunCall(reasoner, variable)));
                    orCall->AddArgument(TIEValue::CreateFunCall(andCall));
                }
                g = gEnd;
            }
            rebuilt.push_back(std::make_unique<TIEPatternMatchTest>(
                this, sttEquals, TIEValue::CreateFunCall(orCall), sub));
            rebuilt.back()->FWrittenForm = std::move(written);
            i = end;
        }
        slot.Tests = std::move(rebuilt);
    }
    Recount();
    EndUpdate();
}

std::string TIEPattern::GetText() const {
    std::string text = "(" + FName;
    for (const TPatternSlot& slot : FSlots) {
        if (slot.Tests.empty()) continue;
        text += " (" + slot.Name();
        for (const auto& test : slot.Tests) {
            text += " ";
            if (test->SlotTestType() == sttNotEquals) text += "~";
            if (test->SlotValue()) text += test->SlotValue()->GetText();
        }
        text += ")";
    }
    return text + ")";
}

TIEFuzzyJoinTest::TIEFuzzyJoinTest(TSlotTestType type, std::string_view rightSlot,
                                   TRefPtr<IIEValue> expression, TRefPtr<IFuzzyVariable> variable)
    : TIESlotTest(type), FRightSlot(rightSlot), FRightReader(rightSlot),
      FExpression(std::move(expression)), FVariable(std::move(variable)) {}

void TIEFuzzyJoinTest::Assign(const TPersistent* source) {
    auto* test = dynamic_cast<const TIEFuzzyJoinTest*>(source);
    if (!test) return TIESlotTest::Assign(source);
    FSlotTestType = test->FSlotTestType;
    FRightSlot = test->FRightSlot;
    FRightReader = TSlotReader(FRightSlot);
    FExpression = test->FExpression;
    FVariable = test->FVariable;
    FVariables = test->FVariables;
}

std::string TIEFuzzyJoinTest::GetText() const {
    std::string text = TIESlotTest::GetText();
    text += " Fuzzy: ";
    text += FExpression ? FExpression->GetText() : std::string();
    text += " Right: ";
    text += FRightSlot;
    return text;
}

std::unique_ptr<TIESlotTest> TIEFuzzyJoinTest::Clone() const {
    auto copy =
        std::make_unique<TIEFuzzyJoinTest>(FSlotTestType, FRightSlot, FExpression, FVariable);
    copy->Assign(this);
    return copy;
}

bool TIEFuzzyJoinTest::Equals(const TIESlotTest& other) const {
    if (!TIESlotTest::Equals(other)) return false;
    auto& o = static_cast<const TIEFuzzyJoinTest&>(other);
    if (FRightSlot != o.FRightSlot || FVariable.get() != o.FVariable.get() ||
        FVariables.size() != o.FVariables.size() || !FExpression != !o.FExpression)
        return false;
    if (FExpression && FExpression->GetText() != o.FExpression->GetText()) return false;
    for (size_t i = 0; i < FVariables.size(); ++i) {
        const TVariableRef &a = FVariables[i], &b = o.FVariables[i];
        if (a.Name != b.Name || a.TokenIndex != b.TokenIndex || a.Slot.Name() != b.Slot.Name() ||
            a.SubIndex != b.SubIndex)
            return false;
    }
    return true;
}

void TIEFuzzyJoinTest::AddVariable(std::string_view name, int32_t tokenIndex, std::string_view slot,
                                   int32_t subIndex) {
    FVariables.push_back({std::string(name), tokenIndex, TSlotReader(slot), subIndex});
}

double TIEFuzzyJoinTest::Degree(const IFact& fact, const TIEToken* token, TIEContext& context,
                                const TEvaluator& evaluate) const {
    TRefPtr<IIEValue> hold;
    bool found;
    const IIEValue* slotValue = FRightReader.Read(fact, hold, found);
    if (!found) RaiseIE(imNoSuchSlot, FRightSlot);
    if (!slotValue) return -1.0;
    // The variables take the values the left token's facts hold; the expression then reads
    // them as any expression reads variables in a context.
    for (const TVariableRef& v : FVariables) {
        if (v.TokenIndex >= 0 && (!token || v.TokenIndex >= token->Size())) return -1.0;
        const TIEToken* level = v.TokenIndex < 0 ? nullptr : token->LevelPtr(v.TokenIndex);
        const IFact* left = level ? level->Fact() : &fact;
        TRefPtr<IIEValue> leftHold;
        const IIEValue* value = nullptr;
        if (v.Slot.Name().empty()) {
            // A variable bound to the whole fact.
            leftHold = TIEValue::CreateFact(TRefPtr<IFact>(const_cast<IFact*>(left)));
            value = leftHold.get();
        } else {
            value = v.Slot.ReadElement(*left, level ? level->MatchCut() : nullptr, v.SubIndex,
                                       leftHold, found);
            if (!found) RaiseIE(imNoSuchSlot, v.Slot.Name());
        }
        if (!value) return -1.0;
        context.AddBinding(v.Name, TRefPtr<IIEValue>(const_cast<IIEValue*>(value)));
    }
    TRefPtr<IIEValue> expression = evaluate(FVariable.get(), FExpression, &context);
    if (!expression || expression->GetDType() != dtFuzzy) return -1.0;
    // As a constant fuzzy test: equality decides first, the degree of match then the strength.
    const bool fa = slotValue->GetDType() == dtFuzzy;
    const bool equal =
        fa ? ValuesEqual(slotValue, expression.get()) : expression->Equals(slotValue);
    if (equal == (FSlotTestType == sttNotEquals)) return -1.0;
    TRefPtr<IFuzzySet> set = fa ? slotValue->AsFuzzy() : expression->AsFuzzy();
    const IIEValue* other = fa ? expression.get() : slotValue;
    return set ? set->MatchDegreeOf(other) : 0.0;
}

} // namespace ie

// The Rete network's nodes and their work: alpha filtering, joins (positive, negated, goal
// seeking), test nodes and terminal nodes; compiling a rule into shared nodes, priming its new
// nodes, removing rules, and propagating fact changes.
//
// Invariant: only a rule's new nodes are primed with what their older parents hold, so rules
// compiled earlier are never handed a token again; a node's tests borrow the token and fact
// through the context and always restore the previous match, even when a call fails; a withdrawn
// token loses its holders oldest first, the order in which propagation reached them.
#include "engine/match/ReteNetwork.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <unordered_map>

#include <boost/container/small_vector.hpp>

#include "engine/match/FuzzyExpression.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/Assert.h"
#include "platform/Format.h"
#include "platform/Restore.h"

// Asks that a lambda be expanded where it is called, however often (see JoinLeft).
#if defined(__GNUC__)
#define IE_ALWAYS_INLINE __attribute__((always_inline))
#else
#define IE_ALWAYS_INLINE
#endif

namespace ie {

namespace {

// Where a rule's compilation failed, after the failure's own message.
constexpr std::string_view ElementErrorMessage = "%s, in CE %s (%s) of rule %s";
constexpr std::string_view ActionErrorMessage = "%s, in the actions of rule %s";
constexpr std::string_view FieldBeforeAddressMessage =
    "Variable ?%s is used before the element that binds it to a fact";

std::string IntText(int64_t n) {
    return std::to_string(n);
}

// The element `sub` of a list value; the value itself for -1; null when there is none.
TRefPtr<IIEValue> Element(const TRefPtr<IIEValue>& value, int32_t sub) {
    if (sub < 0 || !value) return value;
    if (value->GetDType() != dtList) return nullptr;
    TRefPtr<IValueVector> list = value->AsList();
    if (!list || sub >= list->Count()) return nullptr;
    return list->GetItem(sub);
}

// A slot value read without error: null when the fact's template lacks the slot.
TRefPtr<IIEValue> SlotOf(const IFact& fact, const std::string& slot, TSlotPosition& position) {
    TRefPtr<IIEValue> value;
    if (!FindSlotValueAt(fact, slot, position, value)) return nullptr;
    return value;
}

TRefPtr<IIEValue> Atom(std::string_view text) {
    return TIEValue::CreateText(dtAtom, text);
}

// The arguments of an alpha node only ever get read: the shared constant of a small number
// spares every node of a program of many rules a value of its own.
TRefPtr<IIEValue> Int(int32_t n) {
    if (TRefPtr<IIEValue> shared = TIEValue::SharedInteger(n)) return shared;
    return TIEValue::CreateInteger(dtInteger, n);
}

// Lends a token and its fact to a node's context while its tests run, and always restores the
// match the context had before (a test that reaches the network again leaves it as it found it),
// so that a failing call never leaves the context pointing at a token it does not hold. No
// references are taken: the caller holds the token and the fact throughout.
class TContextBinding {
public:
    TContextBinding(TIEContext& context, const TIEToken* token, const IFact* fact) noexcept
        : FContext(context), FToken(context.MatchToken()), FFact(context.MatchFact()) {
        context.SetMatch(token, fact);
    }
    ~TContextBinding() { FContext.SetMatch(FToken, FFact); }
    TContextBinding(const TContextBinding&) = delete;
    TContextBinding& operator=(const TContextBinding&) = delete;

private:
    TIEContext& FContext;
    const IReteToken* FToken;
    const IFact* FFact;
};

bool IsVariableValue(const IIEValue* v) {
    return v && (v->GetDType() == dtVariable || v->GetDType() == dtMultiVariable);
}

} // namespace

std::string_view CallTypeName(TCallType t) noexcept {
    static constexpr std::string_view names[] = {"ctLeft", "ctRight", "ctSingle", "ctActivate"};
    return t <= ctActivate ? names[t] : "<UNKNOWN>";
}

std::string_view PatternMatchTestName(TPatternMatchTest t) noexcept {
    static constexpr std::string_view names[] = {"pmtUnknown",
                                                 "pmtTestClassType",
                                                 "pmtTestEqual",
                                                 "pmtTestNotEqual",
                                                 "pmtTestSlotValueEqual",
                                                 "pmtTestSlotValueNotEqual",
                                                 "pmtTestMultiSlotEqual",
                                                 "pmtTestMultiSlotNotEqual",
                                                 "pmtTestMultiSlotLength",
                                                 "pmtTestMultiSlotMultiField",
                                                 "pmtFailTest"};
    return t <= pmtFailTest ? names[t] : "<UNKNOWN>";
}

// ---------------------------------------------------------------------------------------------
// TReteNode

TReteNode::TReteNode(TReteNetwork* rete) : FRete(rete) {}

TReteNode::~TReteNode() = default;

TIEContext& TReteNode::Context() {
    if (!FContext) {
        TIEContext* root = FRete->Engine() ? FRete->Engine()->RootContext() : nullptr;
        FContext = root ? root->CreateChild() : std::make_unique<TIEContext>(nullptr, nullptr);
    }
    return *FContext;
}

void TReteNode::Propagate(const TIETokenRef& token) {
    for (const TReteEdge& e : FOutgoing)
        e.Node->Receive(token, e.CallType);
}

std::string TReteNode::GetText() const {
    return std::string(NodeName()) + " In/Out#: " + IntText(FIncoming.size()) + "/" +
           IntText(FOutgoing.size()) + " RuleUse: " + IntText(RuleUseCount);
}

// ---------------------------------------------------------------------------------------------
// TPatternMatchNode

TPatternMatchNode::TPatternMatchNode(TReteNetwork* rete, TPatternMatchTest kind,
                                     TRefPtr<IIEValue> value, std::vector<TRefPtr<IIEValue>> args)
    : TReteNode(rete), FKind(kind), FValue(std::move(value)), FArgs(std::move(args)) {
    auto text = [&](size_t i) { return i < FArgs.size() ? FArgs[i]->AsAtom() : std::string(); };
    auto num = [&](size_t i) { return i < FArgs.size() ? FArgs[i]->AsInteger() : -1; };
    FReader = TSlotReader(text(0));
    FSub = num(1);
    FReader2 = TSlotReader(text(2));
    FSub2 = num(3);
    if (kind == pmtTestMultiSlotMultiField) FSplit = std::make_unique<TSplitPlan>();
    if (kind == pmtTestClassType && FValue)
        if (auto* v = dynamic_cast<const TIEValue*>(FValue.get())) FClassName = v->TextBlock();
}

std::string TPatternMatchNode::GetText() const {
    std::string args;
    for (size_t i = 0; i < FArgs.size(); ++i) {
        if (i > 0) args += ", ";
        args += FArgs[i]->GetText();
    }
    return TReteNode::GetText() + " Test: " + std::string(PatternMatchTestName(FKind)) +
           " Value: " + (FValue ? FValue->GetText() : std::string()) + " Args: (" + args + ")";
}

bool TPatternMatchNode::SameTest(TPatternMatchTest kind, const IIEValue* value,
                                 const std::vector<TRefPtr<IIEValue>>& args) const {
    if (kind != FKind) return false;
    if (!value != !FValue) return false;
    if (value) {
        bool fa = value->GetDType() == dtFuzzy, fb = FValue->GetDType() == dtFuzzy;
        if (fa || fb) {
            if (!(fa && fb)) return false;
            TRefPtr<IFuzzySet> sa = value->AsFuzzy(), sb = FValue->AsFuzzy();
            if (!sa || !sb || !sa->Equals(sb.get())) return false;
        } else if (value->GetDType() != FValue->GetDType() || !value->Equals(FValue.get())) {
            return false;
        }
    }
    if (args.size() != FArgs.size()) return false;
    for (size_t i = 0; i < args.size(); ++i)
        if (!args[i]->Equals(FArgs[i].get())) return false;
    return true;
}

void TPatternMatchNode::Receive(const TIETokenRef& token, TCallType) {
    if (token->GetTag() == taClear) return Propagate(token);
    Filter(token, nullptr);
}

void TPatternMatchNode::Prepare(const IFactTemplate* factTemplate) {
    if (!FReader.Name().empty()) FReader.Prepare(factTemplate);
    if (!FReader2.Name().empty()) FReader2.Prepare(factTemplate);
}

void TPatternMatchNode::Pass(const TIETokenRef& token, std::vector<TIETokenRef>* out) {
    if (out)
        out->push_back(token);
    else
        Emit(token);
}

void TPatternMatchNode::RebuildIndex() {
    FIndexes.clear();
    FPlain.clear();
    FIndexVersion = FEdgeVersion;
    FIndexEdgeChanges = FRete->EdgeChanges();
    FOnlyEdge = FOutgoing.size() == 1 ? FOutgoing.front() : TReteEdge{nullptr, ctSingle};
    // Below this many children of one slot, trying each test costs no more than a lookup.
    constexpr size_t MinIndexed = 3;
    struct TCandidate {
        TIndexedChild Child;
        TConstantKey Key;
    };
    std::vector<std::vector<TCandidate>> groups;
    std::vector<bool> grouped(FOutgoing.size(), false);
    auto subOf = [](const TPatternMatchNode& n) { return n.FKind == pmtTestEqual ? -1 : n.FSub; };
    for (uint32_t i = 0; i < FOutgoing.size(); ++i) {
        const TReteEdge& e = FOutgoing[i];
        auto* child = e.CallType == ctSingle ? dynamic_cast<TPatternMatchNode*>(e.Node) : nullptr;
        if (!child || !(child->FKind == pmtTestEqual ||
                        (child->FKind == pmtTestMultiSlotEqual && child->FSub >= 0)))
            continue;
        TConstantKey key;
        if (!MakeConstantKey(child->FValue.get(), key)) continue;
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) {
            const TPatternMatchNode& first = *g.front().Child.Node;
            return first.FReader.Name() == child->FReader.Name() && subOf(first) == subOf(*child);
        });
        if (group == groups.end()) group = groups.insert(groups.end(), std::vector<TCandidate>());
        TReteNode* only = child->FOutgoing.size() == 1 && child->FOutgoing[0].CallType == ctSingle
                              ? child->FOutgoing[0].Node
                              : nullptr;
        group->push_back({{child, i, -1, only}, key});
    }
    for (const auto& g : groups) {
        if (g.size() < MinIndexed) continue;
        TChildIndex& index = FIndexes.emplace_back();
        index.Slot = TSlotReader(g.front().Child.Node->FReader.Name());
        index.Sub = subOf(*g.front().Child.Node);
        index.Children.reserve(g.size());
        for (const TCandidate& c : g) {
            auto [it, added] = index.Children.emplace(c.Key, c.Child);
            if (!added) {
                // After the last child of the key.
                int32_t* link = &it->second.Next;
                while (*link >= 0)
                    link = &index.Equal[static_cast<size_t>(*link)].Next;
                *link = static_cast<int32_t>(index.Equal.size());
                index.Equal.push_back(c.Child);
            }
            index.All.push_back(c.Child);
            grouped[c.Child.Position] = true;
        }
    }
    for (uint32_t i = 0; i < FOutgoing.size(); ++i)
        if (!grouped[i]) FPlain.push_back(i);
    if (!FSplit) return;
    std::vector<TCutChild>& cutChildren = FSplit->CutChildren;
    cutChildren.clear();
    if (FIndexes.empty()) {
        for (const TReteEdge& e : FOutgoing) {
            auto* child =
                e.CallType == ctSingle ? dynamic_cast<TPatternMatchNode*>(e.Node) : nullptr;
            if (!child) {
                cutChildren.clear();
                break;
            }
            cutChildren.push_back({child, (child->FKind == pmtTestMultiSlotLength ||
                                           child->FKind == pmtTestMultiSlotMultiField) &&
                                              child->FReader.Name() == FReader.Name()});
        }
    }
}

void TPatternMatchNode::Emit(const TIETokenRef& token) {
    if (FIndexVersion != FEdgeVersion) RebuildIndex();
    if (FOnlyEdge.Node) return FOnlyEdge.Node->Receive(token, FOnlyEdge.CallType);
    if (FIndexes.empty() || token->Size() == 0 || token->GetTag() == taClear)
        return Propagate(token);
    // The common shape: one index and nothing else below, the fact's value naming one child or
    // none. Anything else takes the general walk.
    if (FIndexes.size() == 1 && FPlain.empty()) {
        const TIndexedChild* child = nullptr;
        switch (OnlyIndexedChild(token, child)) {
        case pkNone:
            return;
        case pkOne:
            // Past the child, to its one edge, while no edge has changed since the index was
            // built (the child's Emit would pass the token there unread).
            if (child->Only && FIndexEdgeChanges == FRete->EdgeChanges())
                return child->Only->Receive(token, ctSingle);
            return child->Node->Emit(token);
        case pkAny:
            break;
        }
    }
    EmitPicked(token);
}

TPatternMatchNode::TPickKind
TPatternMatchNode::OnlyIndexedChild(const TIETokenRef& token, const TIndexedChild*& child) const {
    const TChildIndex& index = FIndexes.front();
    // The token holds the fact while the children run.
    const IFact& fact = *token->FactPtr(0);
    TRefPtr<IIEValue> hold;
    bool found;
    const IIEValue* value = index.Slot.Read(fact, hold, found);
    if (!found || !value || token->MatchCut()) return pkAny;
    value = ElementOf(value, index.Sub);
    // Without the element every child of the index fails.
    if (!value) return pkNone;
    TConstantKey key;
    if (!MakeConstantKey(value, key)) return pkAny;
    auto it = index.Children.find(key);
    if (it == index.Children.end()) return pkNone;
    if (it->second.Next >= 0) return pkAny;
    child = &it->second;
    return pkOne;
}

void TPatternMatchNode::EmitPicked(const TIETokenRef& token) {
    const IFact& fact = *token->FactPtr(0);
    // The indexed children to visit: nearly always one, whose test is known to hold.
    struct TPick {
        uint32_t Position;
        TPatternMatchNode* Node;
        bool Passed;
    };
    boost::container::small_vector<TPick, 4> picked;
    for (const TChildIndex& index : FIndexes) {
        TRefPtr<IIEValue> hold;
        bool found;
        const IIEValue* value = index.Slot.Read(fact, hold, found);
        if (found && value) {
            // Without the element every child of the index fails.
            value = token->MatchCut()
                        ? index.Slot.ElementRead(fact, token->MatchCut(), value, index.Sub, hold)
                        : ElementOf(value, index.Sub);
            if (!value) continue;
            TConstantKey key;
            if (MakeConstantKey(value, key)) {
                auto it = index.Children.find(key);
                if (it == index.Children.end()) continue;
                // Keys equal exactly when the values are, and neither is fuzzy: the test holds.
                for (const TIndexedChild* c = &it->second; c;
                     c = c->Next < 0 ? nullptr : &index.Equal[static_cast<size_t>(c->Next)])
                    picked.push_back({c->Position, c->Node, true});
                continue;
            }
        }
        for (const TIndexedChild& c : index.All)
            picked.push_back({c.Position, c.Node, false});
    }
    if (FIndexes.size() > 1)
        std::sort(picked.begin(), picked.end(),
                  [](const TPick& a, const TPick& b) { return a.Position < b.Position; });
    auto visitPick = [&](const TPick& p) {
        if (p.Passed)
            p.Node->Emit(token);
        else
            p.Node->Receive(token, ctSingle);
    };
    size_t k = 0;
    for (uint32_t position : FPlain) {
        while (k < picked.size() && picked[k].Position < position)
            visitPick(picked[k++]);
        const TReteEdge& e = FOutgoing[position];
        e.Node->Receive(token, e.CallType);
    }
    while (k < picked.size())
        visitPick(picked[k++]);
}

bool TPatternMatchNode::PredicatePasses(const TIETokenRef& token, bool notEqual) {
    // A removal withdraws whatever the fact's addition left below, whatever the predicate would
    // say now (it may read globals or other state that changed since); where nothing was left,
    // the memories below find nothing to remove.
    if (token->Tag() == taRemove) return true;
    TIEContext& context = Context();
    TContextBinding bound(context, token.get(), token->FactPtr(0));
    return EvalCondition(FValue, &context) != notEqual;
}

void TPatternMatchNode::Filter(const TIETokenRef& token, std::vector<TIETokenRef>* out) {
    if (token->Size() == 0) return;
    // The token holds the fact for as long as this runs.
    const IFact& fact = *token->FactPtr(0);
    // The cuts of the splits above, through which the cut slots are read.
    const TMatchCut* cut = token->MatchCut();
    switch (FKind) {
    case pmtTestClassType: {
        std::string wantedCopy;
        const std::string& wanted =
            FClassName ? FClassName->Text() : (wantedCopy = FValue->AsAtom());
        if (typeid(fact) == typeid(TFact))
            if (const TFactTemplate* own = static_cast<const TFact&>(fact).Template())
                if (own->GetName() == wanted) return Pass(token, out);
        for (TRefPtr<IFactTemplate> t = fact.GetTemplate(); t; t = t->GetParent())
            if (t->GetName() == wanted) return Pass(token, out);
        return;
    }
    case pmtTestEqual:
    case pmtTestNotEqual: {
        const bool notEqual = FKind == pmtTestNotEqual;
        if (FValue->GetDType() == dtFunCall) {
            if (PredicatePasses(token, notEqual)) Pass(token, out);
            return;
        }
        TRefPtr<IIEValue> hold;
        bool found;
        if (const IIEValue* v = FReader.ReadElement(fact, cut, -1, hold, found))
            TestValue(token, v, notEqual, FValue.get(), out);
        return;
    }
    case pmtTestSlotValueEqual:
    case pmtTestSlotValueNotEqual: {
        TRefPtr<IIEValue> holdA, holdB;
        bool found;
        const IIEValue* a = FReader.ReadElement(fact, cut, FSub, holdA, found);
        const IIEValue* b = FReader2.ReadElement(fact, cut, FSub2, holdB, found);
        if (a && b) TestValue(token, a, FKind == pmtTestSlotValueNotEqual, b, out);
        return;
    }
    case pmtTestMultiSlotEqual:
    case pmtTestMultiSlotNotEqual: {
        const bool notEqual = FKind == pmtTestMultiSlotNotEqual;
        TRefPtr<IIEValue> hold;
        bool found;
        const IIEValue* e = FReader.ReadElement(fact, cut, FSub < 0 ? 0 : FSub, hold, found);
        if (!e || FSub < 0) return;
        if (FValue->GetDType() == dtFunCall) {
            if (PredicatePasses(token, notEqual)) Pass(token, out);
            return;
        }
        TestValue(token, e, notEqual, FValue.get(), out);
        return;
    }
    case pmtTestMultiSlotLength:
        if (LengthPasses(fact, cut)) Pass(token, out);
        return;
    case pmtTestMultiSlotMultiField:
        return SplitMultifield(token, out);
    default:
        return;
    }
}

bool TPatternMatchNode::LengthPasses(const IFact& fact, const TMatchCut* cut) const {
    TRefPtr<IIEValue> hold;
    TRefPtr<IValueVector> holdList;
    bool found;
    const IIEValue* v = FReader.Read(fact, hold, found);
    if (!v || v->GetDType() != dtList) return false;
    const IValueVector* list = BorrowList(*v, holdList);
    if (!list) return false;
    int32_t count = list->Count();
    if (cut && typeid(fact) == typeid(TFact))
        count = TMatchCut::CutCount(cut, FReader.Index(), count);
    return count == FSub;
}

void TPatternMatchNode::TestValue(const TIETokenRef& token, const IIEValue* a, bool notEqual,
                                  const IIEValue* b, std::vector<TIETokenRef>* out) {
    const bool fa = a->GetDType() == dtFuzzy, fb = b->GetDType() == dtFuzzy;
    bool equal = fa && !fb ? b->Equals(a) : ValuesEqual(a, b);
    if (equal == notEqual) return;
    if (!fa && !fb) return Pass(token, out);
    // The degree to which the fuzzy side matches the other decides the strength.
    const IIEValue* fuzzy = fa ? a : b;
    const IIEValue* other = fa ? b : a;
    TRefPtr<IFuzzySet> set = fuzzy->AsFuzzy();
    const double d = set ? set->MatchDegreeOf(other) : 0.0;
    const double strength = token->Strength();
    if (strength <= d) return Pass(token, out);
    if (FRete->MinActivationStrength() <= d)
        Pass(TIEToken::CreateCopy(*token, token->Tag(), static_cast<float>(d)), out);
}

// The lengths of slot `slot` with which a fact can pass some path below `node`: any length
// (`any`) unless every path reaches a length test of that slot before anything else reads the
// slot (the alpha chain tests lengths right after the splits); then the lengths those tests want.
void TPatternMatchNode::CutLengths(const TReteNode& node, const std::string& slot,
                                   std::vector<int32_t>& lengths, bool& any) {
    for (const TReteEdge& edge : node.Outgoing()) {
        if (any) return;
        auto* next = dynamic_cast<const TPatternMatchNode*>(edge.Node);
        if (!next) {
            any = true;
        } else if (next->FKind == pmtTestMultiSlotLength && next->FReader.Name() == slot) {
            lengths.push_back(next->FSub);
        } else if (next->FReader.Name() == slot || next->FReader2.Name() == slot) {
            any = true;
        } else {
            CutLengths(*next, slot, lengths, any);
        }
    }
}

namespace {
// A cut's first-level token, told apart from the other cuts of its fact by `cutKey` and carrying
// the strength of the token it was cut from.
TIETokenRef CutToken(TIETokenRef split, uint32_t cutKey, TTokenAction tag, float strength) {
    split->SetCut(cutKey);
    if (strength != 1.0f) return TIEToken::CreateCopy(*split, tag, strength);
    return split;
}
} // namespace

// A pattern's tokens are first-level ones: the fact is the token's own.
void TPatternMatchNode::SplitMultifield(const TIETokenRef& token, std::vector<TIETokenRef>* out) {
    SplitCuts(
        {token->Tag(), token->FactRef(), token->MatchCutRef(), token->Cut(), token->Strength()},
        out);
}

void TPatternMatchNode::SplitCuts(const TSplitSource& from, std::vector<TIETokenRef>* out) {
    const IFact& fact = *from.Fact;
    // A cut is the fact itself with the positions of the run (TMatchCut), stacked on the cuts
    // the splits above made (a fact of another class than the engine's own: a copy of the fact
    // whose slot holds the cut list). A join that reads the incoming fact gets a copy (CutCopy).
    // The engine's own facts are read by the slot's position, without taking the value.
    TRefPtr<IIEValue> valueHold;
    TRefPtr<IValueVector> hold;
    const IValueVector* list;
    int32_t slot, n;
    bool positions;
    if (from.List) {
        // The split above cut the same slot of the fact and read it already.
        list = from.List;
        slot = from.Slot;
        n = from.Count;
        positions = true;
    } else {
        // (The type object's address tells the engine's own class: a miss takes the general way.)
        const bool own = &typeid(fact) == &typeid(TFact) &&
                         static_cast<const TFact&>(fact).Template() != nullptr;
        const IIEValue* value;
        if (own) {
            bool found;
            value = FReader.Read(fact, valueHold, found);
        } else {
            valueHold = SlotOf(fact, FReader.Name(), FPosition);
            value = valueHold.get();
        }
        if (!value || value->GetDType() != dtList) return;
        // Read, not taken: asking the slot's value for its list would copy a list it shares.
        list = BorrowList(*value, hold);
        if (!list) return;
        slot = FReader.Index();
        positions = own && slot >= 0;
        n = positions ? TMatchCut::CutCount(from.Cuts.get(), slot, list->Count()) : list->Count();
    }
    const int32_t p = FSub < 0 ? 0 : FSub;
    if (n < p) return;
    // Every way of cutting the run of the variable is a distinct match, from the longest run
    // down to the empty one; the empty list itself gives one match with an empty run. A cut
    // that every path below refuses by the slot's length is not made at all (when propagating;
    // a caller collecting this node's own results gets every cut).
    bool any = out != nullptr;
    // The cuts wanted by length tests, longest run first (the lengths in ascending order, each
    // once); every cut when `any`. The lengths the paths below want are found again only when
    // the network's edges changed (never while a fact goes down the network).
    const int32_t* lengths = nullptr;
    int32_t lengthCount = 0;
    if (!any) {
        TSplitPlan& plan = *FSplit;
        if (plan.CutVersion != FRete->EdgeChanges()) {
            plan.CutLengths.clear();
            plan.CutAny = false;
            CutLengths(*this, FReader.Name(), plan.CutLengths, plan.CutAny);
            std::sort(plan.CutLengths.begin(), plan.CutLengths.end());
            plan.CutLengths.erase(std::unique(plan.CutLengths.begin(), plan.CutLengths.end()),
                                  plan.CutLengths.end());
            plan.CutVersion = FRete->EdgeChanges();
        }
        any = plan.CutAny;
        lengths = plan.CutLengths.data();
        lengthCount = static_cast<int32_t>(plan.CutLengths.size());
    }
    const int32_t cutCount = any ? n - p + 1 : lengthCount;
    // Children that split again or test the slot's length take the cuts without a token.
    bool tokenless = false;
    if (positions && !out) {
        if (FIndexVersion != FEdgeVersion) RebuildIndex();
        tokenless = !FSplit->CutChildren.empty();
    }
    const uint32_t keyBase = (from.Cut * 31u + static_cast<uint32_t>(p)) * 65599u + 1u;
    for (int32_t c = 0; c < cutCount; ++c) {
        const int32_t i = any ? c : lengths[c] - p - 1;
        if (i < 0 || i > n - p) continue; // a length this fact cannot be cut to
        const int32_t runLength = n - p - i;
        const uint32_t cutKey = keyBase + static_cast<uint32_t>(runLength);
        if (positions) {
            TRefPtr<TMatchCut> cuts(new TMatchCut(from.Cuts, slot, p, runLength));
            if (tokenless) {
                PassCut({from.Tag, from.Fact, cuts, cutKey, from.Strength, list, slot,
                         n - runLength + 1},
                        n - runLength + 1);
                continue;
            }
            TIETokenRef split = TIEToken::CreateFirst(from.Tag, from.Fact);
            split->SetMatchCut(std::move(cuts));
            Pass(CutToken(std::move(split), cutKey, from.Tag, from.Strength), out);
            continue;
        }
        // A view of the fact's list: a cut costs the same whatever the slot's length, and the
        // run's own list value is made only when something reads the variable.
        TRefPtr<IIEValue> rebuilt = TIEValue::CreateList(
            TListView::Cut(TRefPtr<IValueVector>(const_cast<IValueVector*>(list)), p, runLength));
        // The other slots keep their value objects: tokens only read them. The cut list is put
        // in place as it is, never checked against the slot's constraints: its pieces are the
        // variables' bindings, not a value the slot holds.
        TRefPtr<IFact> copy;
        if (typeid(fact) == typeid(TFact)) {
            TRefPtr<TFact> shared = static_cast<const TFact&>(fact).ShareValues();
            shared->SetValueAt(FPosition.Index, std::move(rebuilt));
            copy = std::move(shared);
        } else {
            copy = RefCast<IFact>(fact.Clone());
            if (!copy) return;
            copy->SetSlotValue(FReader.Name(), std::move(rebuilt));
        }
        if (copy->GetFactId() != fact.GetFactId()) copy->SetFactId(fact.GetFactId());
        Pass(CutToken(TIEToken::CreateFirst(from.Tag, std::move(copy)), cutKey, from.Tag,
                      from.Strength),
             out);
    }
}

void TPatternMatchNode::PassCut(const TSplitSource& cut, int32_t count) {
    // Made for the first child that needs it; the others get the same token, as Emit gives it.
    TIETokenRef token;
    auto made = [&]() -> const TIETokenRef& {
        if (!token) {
            TIETokenRef split = TIEToken::CreateFirst(cut.Tag, cut.Fact);
            split->SetMatchCut(cut.Cuts);
            token = CutToken(std::move(split), cut.Cut, cut.Tag, cut.Strength);
        }
        return token;
    };
    for (const TCutChild& c : FSplit->CutChildren) {
        TPatternMatchNode* child = c.Node;
        if (child->FKind == pmtTestMultiSlotMultiField) {
            // A split of another slot reads its slot itself.
            if (c.SameSlot)
                child->SplitCuts(cut, nullptr);
            else
                child->SplitCuts({cut.Tag, cut.Fact, cut.Cuts, cut.Cut, cut.Strength}, nullptr);
        } else if (child->FKind != pmtTestMultiSlotLength)
            child->Receive(made(), ctSingle);
        else if (c.SameSlot ? count == child->FSub : child->LengthPasses(*cut.Fact, cut.Cuts.get()))
            child->Emit(made());
    }
}

// A first-level token of a split's cut as a fact of its own: a copy of the fact whose cut slots
// hold the cut lists (the other slots keep their value objects), for a join whose tests read the
// incoming fact itself. Two copies of one cut are equal facts (their lists are the same cuts).
namespace {
TIETokenRef CutCopy(const TIETokenRef& token) {
    const auto& fact = static_cast<const TFact&>(*token->Fact());
    TRefPtr<TFact> copy = fact.ShareValues();
    for (const TMatchCut* c = token->MatchCut(); c; c = c->Outer.get()) {
        bool later = false; // a newer cut of the slot made its list already
        for (const TMatchCut* n = token->MatchCut(); n != c; n = n->Outer.get())
            later |= n->Slot == c->Slot;
        if (later) continue;
        TRefPtr<IIEValue> list;
        TMatchCut::Element(token->MatchCut(), fact.ValueAt(c->Slot).get(), c->Slot, -1, list);
        copy->SetValueAt(c->Slot, std::move(list));
    }
    if (copy->GetFactId() != fact.GetFactId()) copy->SetFactId(fact.GetFactId());
    return CutToken(TIEToken::CreateFirst(token->Tag(), std::move(copy)), token->Cut(),
                    token->Tag(), token->Strength());
}
} // namespace

// ---------------------------------------------------------------------------------------------
// TTestNode

void TTestNode::AddTest(std::unique_ptr<TIESlotTest> test) {
    Classify(test.get());
    FTests.push_back(std::move(test));
}

void TTestNode::Classify(const TIESlotTest* test) {
    if (auto* join = dynamic_cast<const TIEJoinTest*>(test)) {
        FJoinTests.push_back(join);
        FHashedTests = 0;
        Regroup();
    } else if (auto* fuzzy = dynamic_cast<const TIEFuzzyJoinTest*>(test))
        FFuzzyTests.push_back(fuzzy);
    else if (auto* predicate = dynamic_cast<const TIEPatternMatchTest*>(test)) {
        FPredicates.push_back(predicate);
        FQuick.emplace_back(predicate->SlotTestType() == sttEquals);
    }
    UpdateAhead();
}

void TTestNode::UpdateAhead() noexcept {
    FAhead = FHashedTests > 0 && !FPredicates.empty() && FFuzzyTests.empty();
}

void TTestNode::AddPredicate(TSlotTestType type, TRefPtr<IIEValue> value, int32_t subIndex) {
    AddTest(std::make_unique<TIEPatternMatchTest>(nullptr, type, std::move(value), subIndex));
}

void TTestNode::Regroup() {
    FRightGroup.assign(FJoinTests.size(), 0);
    for (size_t i = 0; i < FJoinTests.size(); ++i) {
        size_t first = 0;
        while (!FJoinTests[i]->SameRight(*FJoinTests[first]))
            ++first;
        FRightGroup[i] = static_cast<uint32_t>(first);
    }
}

bool TTestNode::HasPredicates() const noexcept {
    return !FPredicates.empty();
}

bool TTestNode::SameTests(const TTestNode& other) const {
    if (NodeName() != other.NodeName() || FTests.size() != other.FTests.size()) return false;
    for (const auto& t : FTests) {
        bool found = false;
        for (const auto& o : other.FTests)
            if (t->Equals(*o)) {
                found = true;
                break;
            }
        if (!found) return false;
    }
    return true;
}

bool TTestNode::FuzzyTestsPass(const IFact& fact, const TIETokenRef& left, float* strength) {
    IRuleEngine* engine = FRete->Engine();
    if (!engine) return false;
    TFuzzyExpressions expressions(engine->FuzzyParser());
    const TIEFuzzyJoinTest::TEvaluator evaluate = [&expressions](IFuzzyVariable* variable,
                                                                 const TRefPtr<IIEValue>& value,
                                                                 TIEContext* context) {
        return expressions.Evaluate(variable, value, context);
    };
    float current = strength ? *strength : left->Strength();
    for (const TIEFuzzyJoinTest* test : FFuzzyTests) {
        // A fresh scope per test, so that the variables of one token never leak into another.
        std::unique_ptr<TIEContext> scope = Context().CreateChild();
        scope->SetToken(left);
        scope->SetFact(TRefPtr<IFact>(const_cast<IFact*>(&fact)));
        const double d = test->Degree(fact, left.get(), *scope, evaluate);
        if (d < 0) return false;
        if (current <= d) continue;
        if (FRete->MinActivationStrength() > d) return false;
        current = static_cast<float>(d);
    }
    if (strength) *strength = current;
    return true;
}

bool TTestNode::TestsPass(const IFact* fact, const TIETokenRef& left, float* strength) {
    // The join tests are cheap and come first (the network adds them before any predicate).
    for (const TIEJoinTest* join : FJoinTests)
        if (!fact || !join->Test(*fact, left.get())) return false;
    return OtherTestsPass(fact, left, strength);
}

template <bool LeftFixed>
inline bool TTestNode::JoinTestsPass(size_t from, size_t to, const IFact& fact,
                                     const TIETokenRef& left, TIEJoinTest::TSide* sides,
                                     TIEJoinTest::TSide& right, uint32_t& rightGroup) {
    using TSide = TIEJoinTest::TSide;
    // The tests and groups held in locals: the reads in the loop could change the vectors as
    // far as the compiler knows, so it would load them again on every pass.
    const TIEJoinTest* const* tests = FJoinTests.data();
    [[maybe_unused]] const uint32_t* groups = FRightGroup.data();
    for (size_t i = from; i < to; ++i) {
        const TIEJoinTest& join = *tests[i];
        TSide& fixed = sides[i];
        // The reads come in Test's order: the left side first, the right one only when the
        // left has a value.
        if constexpr (LeftFixed) {
            if (fixed.State == TSide::stUnread) join.ReadLeft(left.get(), fixed);
            if (fixed.State == TSide::stValue && groups[i] != rightGroup) {
                join.ReadRight(fact, right);
                rightGroup = groups[i];
            }
            if (!join.Compare(fixed, right)) return false;
        } else {
            TSide other;
            join.ReadLeft(left.get(), other);
            if (other.State == TSide::stValue && fixed.State == TSide::stUnread)
                join.ReadRight(fact, fixed);
            if (!join.Compare(other, fixed)) return false;
        }
    }
    return true;
}

template <bool LeftFixed>
bool TTestNode::TestsPassSides(const IFact* fact, const TIETokenRef& left,
                               TIEJoinTest::TSide* sides, float* strength, size_t tests) {
    // Most joins have no other tests: no call for them.
    if (FJoinTests.empty()) return !HasOtherTests() || OtherTestsPass(fact, left, strength);
    if (!fact) return false;
    // With the left side fixed, the incoming fact's side as read last, for the tests of its
    // group (a missing slot raises, so what is kept is always a value).
    [[maybe_unused]] TIEJoinTest::TSide right;
    [[maybe_unused]] uint32_t rightGroup = UINT32_MAX;
    if (!JoinTestsPass<LeftFixed>(0, tests, *fact, left, sides, right, rightGroup)) return false;
    return !HasOtherTests() || OtherTestsPass(fact, left, strength);
}

bool TTestNode::TestsPassAhead(const IFact* fact, const TIETokenRef& left,
                               TIEJoinTest::TSide* sides, float* strength) {
    if (!fact) return false;
    TIEJoinTest::TSide right;
    uint32_t rightGroup = UINT32_MAX;
    const size_t count = FJoinTests.size();
    const size_t unhashed = count - FHashedTests;
    if (!JoinTestsPass<true>(0, unhashed, *fact, left, sides, right, rightGroup)) return false;
    const TNumberPredicate::TAnswer a = PredicateBefore(fact, left, sides, unhashed);
    if (a == TNumberPredicate::naFalse) return false;
    if (!JoinTestsPass<true>(unhashed, count, *fact, left, sides, right, rightGroup)) return false;
    // A first predicate that answered is not asked again.
    return OtherTestsPass(fact, left, strength, a == TNumberPredicate::naTrue ? 1 : 0);
}

TNumberPredicate::TAnswer TTestNode::PredicateBefore(const IFact* fact, const TIETokenRef& left,
                                                     const TIEJoinTest::TSide* sides,
                                                     size_t from) const {
    using TSide = TIEJoinTest::TSide;
    const TNumberPredicate& quick = FQuick[0];
    if (quick.State() != TNumberPredicate::nsCompiled) return TNumberPredicate::naUndecided;
    // Only where the tests it goes before can neither raise nor read anything first: their left
    // values are read (by the partners before) and the fact sets their right slots.
    const size_t count = FJoinTests.size();
    for (size_t i = from; i < count; ++i)
        if (sides[i].State != TSide::stValue || !FJoinTests[i]->RightSet(*fact))
            return TNumberPredicate::naUndecided;
    return quick.Passes(left.get(), fact);
}

template bool TTestNode::TestsPassSides<true>(const IFact*, const TIETokenRef&, TIEJoinTest::TSide*,
                                              float*, size_t);
template bool TTestNode::TestsPassSides<false>(const IFact*, const TIETokenRef&,
                                               TIEJoinTest::TSide*, float*, size_t);

inline bool TTestNode::CallsPass(size_t from, const IFact* fact, const TIETokenRef& left) {
    TIEContext& context = Context();
    TContextBinding bound(context, left.get(), fact);
    // TIEPatternMatchTest::Evaluate in line: the condition reader answers a comparison in line.
    for (size_t i = from; i < FPredicates.size(); ++i) {
        const TIEPatternMatchTest* predicate = FPredicates[i];
        const bool equals = predicate->SlotTestType() == sttEquals;
        if (const TRefPtr<IIEValue>& value = predicate->SlotValue()) {
            if (EvalCondition(value, &context) != equals) return false;
        } else if (!equals) {
            return false;
        }
    }
    return true;
}

bool TTestNode::PredicatesPass(size_t from, const IFact* fact, const TIETokenRef& left) {
    return CallsPass(from, fact, left);
}

inline bool TTestNode::OtherTestsPass(const IFact* fact, const TIETokenRef& left, float* strength,
                                      size_t from) {
    if (!FFuzzyTests.empty() && (!fact || !FuzzyTestsPass(*fact, left, strength))) return false;
    // The comparisons of numbers answer without their calls; the first that cannot hands the
    // rest to the calls.
    const size_t count = FPredicates.size();
    TNumberPredicate* quick = FQuick.data();
    for (size_t i = from; i < count; ++i) {
        if (quick[i].State() == TNumberPredicate::nsUntried) [[unlikely]] {
            quick[i].Compile(FPredicates[i]->SlotValue().get());
            FCallsFirst = quick[0].State() == TNumberPredicate::nsNone;
        }
        const TNumberPredicate::TAnswer a = quick[i].Passes(left.get(), fact);
        if (a == TNumberPredicate::naFalse) return false;
        if (a == TNumberPredicate::naUndecided) return PredicatesPass(i, fact, left);
    }
    return true;
}

bool TTestNode::OtherTestsApart(const IFact* fact, const TIETokenRef& left, float* strength) {
    // A first predicate that compares no numbers in place goes to the calls at once, as a test
    // element's does: asking its comparison first costs every partner a round through the loop.
    if (FCallsFirst && FFuzzyTests.empty()) return CallsPass(0, fact, left);
    return OtherTestsPass(fact, left, strength);
}

void TTestNode::Receive(const TIETokenRef& token, TCallType) {
    // TestsPass without a fact, in line: a test element has predicates only (and those that
    // compare no numbers in place run their calls in line, as in TestsPass).
    if (token->GetTag() == taClear ||
        (FJoinTests.empty() && FFuzzyTests.empty() &&
         (FCallsFirst ? CallsPass(0, nullptr, token) : OtherTestsPass(nullptr, token, nullptr))))
        Propagate(token);
}

std::string TTestNode::GetText() const {
    std::string text = TReteNode::GetText() + " NumTests: " + IntText(FTests.size());
    for (const auto& t : FTests)
        text += " (" + t->GetText() + ")";
    return text;
}

// ---------------------------------------------------------------------------------------------
// TJoinNode

void TJoinNode::AddJoinTest(TSlotTestType type, int32_t tokenIndex, std::string_view rightSlot,
                            std::string_view leftSlot) {
    AddTest(std::make_unique<TIEJoinTest>(type, tokenIndex, rightSlot, leftSlot));
}

void TJoinNode::AddMultiSlotJoinTest(TSlotTestType type, int32_t tokenIndex,
                                     std::string_view rightSlot, int32_t rightSubIndex,
                                     std::string_view leftSlot, int32_t leftSubIndex) {
    AddTest(std::make_unique<TIEJoinTest>(type, tokenIndex, rightSlot, rightSubIndex, leftSlot,
                                          leftSubIndex));
}

void TJoinNode::ChooseHashTest(const std::function<bool(const TIEJoinTest&)>& isFuzzy) {
    auto hashable = [&](const TIEJoinTest* j) {
        return j && j->SlotTestType() == sttEquals && !j->LeftIsFact() &&
               (j->JoinTestType == tstSlot || j->JoinTestType == tstMultiSlot) &&
               !(isFuzzy && isFuzzy(*j));
    };
    int chosen = -1;
    for (int pass = 0; pass < 2 && chosen < 0; ++pass)
        for (size_t i = 0; i < FTests.size(); ++i) {
            auto* j = dynamic_cast<const TIEJoinTest*>(FTests[i].get());
            if (!hashable(j) || j->JoinTestType != (pass == 0 ? tstSlot : tstMultiSlot)) continue;
            chosen = static_cast<int>(i);
            break;
        }
    FHashParts.clear();
    FHashWalk.clear();
    static std::atomic<uint64_t> stamps{0};
    FKeyStamp = ++stamps;
    FKeyFrom = {};
    if (chosen < 0) {
        FHashed = false;
        FHashedTests = 0;
        UpdateAhead();
        FLeft = std::make_unique<TIETokenTree>(FRete->HashKey, true, "", -1, 0);
        FRight = std::make_unique<TIETokenTree>(FRete->HashKey, true, "", -1, 0);
        AdoptMemories();
        return;
    }
    std::rotate(FTests.begin(), FTests.begin() + chosen, FTests.begin() + chosen + 1);
    // Every typed view is filed again, so none keeps the entries of the old order twice.
    FJoinTests.clear();
    FPredicates.clear();
    FQuick.clear();
    FCallsFirst = false;
    FFuzzyTests.clear();
    for (const auto& t : FTests)
        Classify(t.get());
    // The chosen test first, then every other hashable test in test order.
    for (const auto& t : FTests) {
        auto* j = dynamic_cast<const TIEJoinTest*>(t.get());
        if (!hashable(j)) continue;
        const bool multi = j->JoinTestType == tstMultiSlot;
        FHashParts.push_back({j->TokenIndex, multi ? j->LeftSubIndex : -1,
                              multi ? j->RightSubIndex : -1, TSlotReader(j->LeftSlot()),
                              TSlotReader(j->RightSlot())});
    }
    // The probe already sorted out partners that differ in a hashed value, so the other join
    // tests are the likelier to fail: they run first.
    std::stable_partition(FJoinTests.begin(), FJoinTests.end(),
                          [&](const TIEJoinTest* j) { return !hashable(j); });
    FHashedTests = FHashParts.size();
    UpdateAhead();
    Regroup();
    // The order LeftKey reads the parts in when there are several, on levels it meets one after
    // the other (never a negative index: a hash test reads a fact the token holds).
    const bool walkable = FHashParts.size() > 1 && FHashParts.size() <= kWalkedParts &&
                          std::all_of(FHashParts.begin(), FHashParts.end(),
                                      [](const THashPart& p) { return p.TokenIndex >= 0; });
    if (walkable) {
        for (size_t k = 0; k < FHashParts.size(); ++k)
            FHashWalk.push_back(static_cast<uint8_t>(k));
        std::stable_sort(FHashWalk.begin(), FHashWalk.end(), [&](uint8_t a, uint8_t b) {
            return FHashParts[a].TokenIndex > FHashParts[b].TokenIndex;
        });
    }
    const THashPart& shown = FHashParts.front();
    FHashed = true;
    // The memories show their tokens grouped by the value that the chosen test compares.
    FLeft = std::make_unique<TIETokenTree>(FRete->HashKey, false, shown.Left.Name(), shown.LeftSub,
                                           shown.TokenIndex);
    FRight = std::make_unique<TIETokenTree>(FRete->HashKey, false, shown.Right.Name(),
                                            shown.RightSub, 0);
    AdoptMemories();
}

TJoinNode::TJoinNode(TReteNetwork* rete)
    : TTestNode(rete), FLeft(std::make_unique<TIETokenTree>(rete->HashKey, true, "", -1, 0)),
      FRight(std::make_unique<TIETokenTree>(rete->HashKey, true, "", -1, 0)) {
    AdoptMemories();
}

void TJoinNode::AdoptMemories() {
    FLeft->SetOwner(this, false);
    FRight->SetOwner(this, true);
    FLeft->SetShared(&FRete->FactTokens());
    FRight->SetShared(&FRete->FactTokens());
    // Without a hashed equality both memories are walked whole: no probe chains.
    FLeft->SetChained(FHashed);
    FRight->SetChained(FHashed);
    // A negated join keeps its blocked left entries apart (see TIETokenTree::SetSplit).
    FLeft->SetSplit(FNegation != jnNone);
}

TJoinNode::~TJoinNode() {
    // The sharers that stay no longer wait for this one: the facts only it had go.
    if (FRightBit) FRight->ReleaseSharer(FRightBit);
}

bool TJoinNode::SameRightKeys(const TJoinNode& other) const {
    // A join with tests takes a split's cut as a copy of the fact, one without as it comes.
    if (FHashed != other.FHashed || FTests.empty() != other.FTests.empty() ||
        FHashParts.size() != other.FHashParts.size() ||
        FRight->BucketCount() != other.FRight->BucketCount() ||
        FRight->Chained() != other.FRight->Chained())
        return false;
    for (size_t i = 0; i < FHashParts.size(); ++i)
        if (FHashParts[i].RightSub != other.FHashParts[i].RightSub ||
            FHashParts[i].Right.Name() != other.FHashParts[i].Right.Name())
            return false;
    return true;
}

void TJoinNode::ShareRight(const TReteNode& source) {
    // Only memories that never held a fact are shared, so every sharer's memory shows what an
    // own one would (the same facts in the same order, the same buckets of the text).
    if (FRightBit || !FRight->Pristine()) return;
    for (const TReteEdge& edge : source.Outgoing()) {
        auto* other = dynamic_cast<TJoinNode*>(edge.Node);
        if (!other || other == this || edge.CallType != ctRight || !SameRightKeys(*other) ||
            !other->FRight->Pristine())
            continue;
        TIETokenTree& memory = *other->FRight;
        if (!other->FRightBit) {
            other->FRightBit = memory.TakeSharer();
            if (!other->FRightBit) continue;
            // Right entries are withdrawn by no owner (see WithdrawEntry): the memory needs none.
            memory.SetOwner(nullptr, true);
        }
        const uint64_t bit = memory.TakeSharer();
        if (!bit) continue;
        FRight = other->FRight;
        FRightBit = bit;
        return;
    }
}

void TJoinNode::ClearMemories() {
    FLeft->Clear();
    FRight->Clear();
    FNextMark = 0;
}

void TJoinNode::SetBackwardChainPattern(TIEPattern* pattern, TRule* rule) {
    if (pattern && pattern->FactTemplate() && !pattern->FactTemplate()->GetBackwardChaining())
        RaiseIE(imInvalidBackchainPattern);
    FGoalPattern = pattern;
    FRule = rule;
}

namespace {

// A hashed join's probe key folds the keys of its hash tests in order. Keys that are small
// (under kPackedPart) are packed side by side while the probe stays under 2^22, so that no two
// packed probes of one join's parts are equal unless the parts are; the rest are mixed. Any fold
// works for finding partners (a probe re-runs the tests on what it finds); the packing lets a
// join skip its hash tests on a pair whose parts are all exact (see TKeyFold).
constexpr uint32_t kPackedPart = 1024;
constexpr uint32_t kPackedProbe = 1u << 22;

// A probe key as it is folded, and whether it is exact: every part an integer that is its own
// key (see PartValueKey), folded by packing. Two exact probes of one join are equal exactly when
// the integers are, which is what its hash tests would find.
struct TKeyFold {
    uint32_t Probe;
    bool Exact;
    TKeyFold(int32_t first, bool exact) noexcept
        : Probe(static_cast<uint32_t>(first)), Exact(exact) {}
    void Add(int32_t key, bool exact) noexcept {
        const uint32_t part = static_cast<uint32_t>(key);
        if (Probe < kPackedProbe && part < kPackedPart) {
            Probe = Probe * kPackedPart + part;
            Exact = Exact && exact;
            return;
        }
        Probe ^= part + 0x9E3779B9u + (Probe << 6) + (Probe >> 2);
        Exact = false;
    }
};

// The key of a hash test's value (0 without one), and whether it is exact: an integer of the
// engine's own class whose key is the number its equality compares.
inline int32_t PartValueKey(const IIEValue* v, bool& exact) {
    exact = false;
    if (!v) return 0;
    if (&typeid(*v) != &typeid(TIEValue)) return v->GetHashCode();
    const auto& value = static_cast<const TIEValue&>(*v);
    const int32_t key = value.HashCode();
    exact = value.DType() == dtInteger && key == value.IntPayload();
    return key;
}

// The value a hash test reads on a token level (null when there is none): a fact that no split
// cut is read in line.
inline const IIEValue* ReadKeyValue(const TSlotReader& reader, const TIEToken& level, int32_t sub,
                                    TRefPtr<IIEValue>& hold) {
    bool found;
    const TMatchCut* cut = level.MatchCut();
    if (!cut) [[likely]]
        return ElementOf(reader.Read(*level.Fact(), hold, found), sub);
    return reader.ReadElement(*level.Fact(), cut, sub, hold, found);
}

// A join's probe key: the first part's key (the one shown in texts) with the others folded in.
// `key` gives a part's key and whether it is exact.
template <class TPart, class F>
int32_t ProbeKey(const std::vector<TPart>& parts, F&& key, int32_t& shown, bool& exact) {
    auto p = parts.begin();
    bool partExact;
    shown = key(*p, partExact);
    TKeyFold fold(shown, partExact);
    while (++p != parts.end()) {
        // (Two steps: the call sets partExact, which Add reads.)
        const int32_t k = key(*p, partExact);
        fold.Add(k, partExact);
    }
    exact = fold.Exact;
    return static_cast<int32_t>(fold.Probe);
}

} // namespace

void TJoinNode::FindKeyFrom(const TTokenEntry& maker) const {
    FKeyFrom = {};
    FKeyFrom.Tree = maker.Tree;
    // Only joins own left memories.
    const auto* join = static_cast<const TJoinNode*>(maker.Tree->Owner());
    if (!join || !join->FHashed || join->FLeft.get() != maker.Tree ||
        join->FHashParts.size() > FHashParts.size())
        return;
    int32_t maxIndex = 0;
    for (size_t k = 0; k < join->FHashParts.size(); ++k) {
        const THashPart& a = join->FHashParts[k];
        const THashPart& b = FHashParts[k];
        if (a.TokenIndex < 0 || a.TokenIndex != b.TokenIndex || a.LeftSub != b.LeftSub ||
            a.Left.Name() != b.Left.Name())
            return;
        maxIndex = std::max(maxIndex, a.TokenIndex);
    }
    for (size_t k = join->FHashParts.size(); k < FHashParts.size(); ++k)
        if (FHashParts[k].TokenIndex < 0) return;
    FKeyFrom.Join = join;
    FKeyFrom.Stamp = join->FKeyStamp;
    FKeyFrom.Parts = join->FHashParts.size();
    FKeyFrom.MaxIndex = maxIndex;
}

// The hash of a part's value in `token` (of `size` levels). `at` is the level read last (at
// index `atIndex`): a part on it or an earlier one walks on from it, a later one (unless the
// parts come `Sorted` from the last level up) from the token again.
template <bool Sorted>
inline int32_t TJoinNode::PartKey(const THashPart& p, const TIEToken& token, int32_t size,
                                  const TIEToken*& at, int32_t& atIndex, bool& exact) {
    exact = false;
    // (A hash test reads a fact the token holds: never a negative index.)
    if (p.TokenIndex >= size) return 0;
    if (!Sorted && p.TokenIndex > atIndex) {
        at = &token;
        atIndex = size - 1;
    }
    for (; atIndex > p.TokenIndex && at; --atIndex)
        at = at->Parent().get();
    TRefPtr<IIEValue> hold;
    return PartValueKey(ReadKeyValue(p.Left, *at, p.LeftSub, hold), exact);
}

// The shown keys are what the memories' KeyOf computes, read by slot position.
int32_t TJoinNode::LeftKey(const TIEToken& token, int32_t& shown, bool& exact) const {
    exact = false;
    if (!FHashed) return shown = token.HashCode();
    const int32_t size = token.Size();
    const TIEToken* at = &token;
    int32_t atIndex = size - 1;
    bool partExact;
    // A token a join made, whose maker's hash tests are this join's first ones: their keys are
    // those of the maker's entry (its token is this one's parent, so it has the same levels up to
    // the ones they read), and only the others are read.
    if (const TTokenEntry* maker = token.LeftOwner()) {
        if (maker->Tree != FKeyFrom.Tree ||
            (FKeyFrom.Parts &&
             (maker->Tree->Owner() != FKeyFrom.Join || FKeyFrom.Join->FKeyStamp != FKeyFrom.Stamp)))
            FindKeyFrom(*maker);
        if (FKeyFrom.Parts && FKeyFrom.MaxIndex < size - 1) {
            shown = maker->Key;
            TKeyFold fold(maker->ProbeKey, maker->ExactKey);
            for (size_t k = FKeyFrom.Parts; k < FHashParts.size(); ++k) {
                const int32_t key =
                    PartKey<false>(FHashParts[k], token, size, at, atIndex, partExact);
                fold.Add(key, partExact);
            }
            exact = fold.Exact;
            return static_cast<int32_t>(fold.Probe);
        }
    }
    if (!FHashWalk.empty()) {
        // The parts read from the last level up, in one walk along the parents, and folded in
        // their own order.
        int32_t keys[kWalkedParts];
        bool exacts[kWalkedParts];
        for (const uint8_t k : FHashWalk)
            keys[k] = PartKey<true>(FHashParts[k], token, size, at, atIndex, exacts[k]);
        shown = keys[0];
        TKeyFold fold(shown, exacts[0]);
        for (size_t k = 1; k < FHashWalk.size(); ++k)
            fold.Add(keys[k], exacts[k]);
        exact = fold.Exact;
        return static_cast<int32_t>(fold.Probe);
    }
    return ProbeKey(
        FHashParts,
        [&](const THashPart& p, bool& e) { return PartKey<false>(p, token, size, at, atIndex, e); },
        shown, exact);
}

bool TJoinNode::KeysHold(const TTokenEntry& entry) const {
    int32_t shown = entry.Token->HashCode();
    bool exact = false;
    const int32_t probe = !FHashed ? shown
                          : entry.Tree == FLeft.get()
                              ? LeftKey(*entry.Token, shown, exact)
                              : RightKey(*entry.Token->LastFact(), shown, exact);
    return probe == entry.ProbeKey && exact == entry.ExactKey;
}

int32_t TJoinNode::RightKey(const IFact& fact, int32_t& shown, bool& exact) const {
    auto key = [&](const THashPart& p, bool& e) -> int32_t {
        TRefPtr<IIEValue> hold;
        bool found;
        const IIEValue* v = p.Right.Read(fact, hold, found);
        if (p.RightSub >= 0) v = ElementOf(v, p.RightSub);
        return PartValueKey(v, e);
    };
    return ProbeKey(FHashParts, key, shown, exact);
}

TIETokenRef TJoinNode::PlaceholderChild(const TIETokenRef& left, TTokenAction action,
                                        TIEToken::TEntrySlot entrySlot) {
    // The engine's fact stays where it is while the engine lives (it is set again in place):
    // where it is kept is asked once, not for every placeholder.
    if (!FNotOrTestFact) [[unlikely]] {
        if (!FRete->Engine())
            return TIEToken::CreateChild(left, FRete->NotOrTestFact(), action, left->Strength(),
                                         entrySlot);
        FNotOrTestFact = &FRete->NotOrTestFact();
    }
    return TIEToken::CreateChild(left, *FNotOrTestFact, action, left->Strength(), entrySlot);
}

TIEToken::TEntrySlot TJoinNode::FindChildSlot() {
    // The first join the children reach, through the test nodes of test CEs, which pass them on
    // as they are, takes the slot.
    auto first = [](const TReteNode& node, int depth, auto& self) -> const TJoinNode* {
        for (const TReteEdge& edge : node.Outgoing()) {
            if (const auto* join = dynamic_cast<const TJoinNode*>(edge.Node)) {
                if (edge.CallType == ctLeft) return join;
            } else if (depth < 4 && dynamic_cast<const TTestNode*>(edge.Node)) {
                if (const TJoinNode* below = self(*edge.Node, depth + 1, self)) return below;
            }
        }
        return nullptr;
    };
    const TJoinNode* next = first(*this, 0, first);
    // A split memory's entries are of the unchained size (see TIETokenTree::SetSplit).
    const TIETokenTree* memory = next ? &next->LeftMemory() : nullptr;
    FChildSlot = !memory                                 ? TIEToken::esNone
                 : memory->Chained() && !memory->Split() ? TIEToken::esChained
                                                         : TIEToken::esPlain;
    FStoredVersion = FEdgeVersion;
    return FChildSlot;
}

namespace {

// Removes every holder of a withdrawn token, oldest first: the order in which its propagation
// reached them.
void WithdrawHolders(TIEToken& token) {
    if (TTokenEntry* entry = token.SlotHolder())
        if (ITokenMemoryOwner* owner = entry->Tree->Owner()) owner->WithdrawEntry(*entry);
    while (THolderLinks* h = token.FirstHolder()) {
        if (TTokenHolder::KindOf(*h) == TTokenHolder::hkEntry) {
            auto& entry = TTokenEntry::OfLinks(*h);
            if (ITokenMemoryOwner* owner = entry.Tree->Owner()) owner->WithdrawEntry(entry);
        } else {
            auto& activation = static_cast<TActivation&>(TTokenHolder::OfLinks(*h));
            if (IActivationNode* node = activation.Node()) node->WithdrawActivation(activation);
        }
        // A holder nobody withdraws (none should be) must not stop the walk.
        if (token.FirstHolder() == h) token.RemoveHolder(*h);
    }
}

// Unlinks a child from the entries it was made from and withdraws it.
void DropChild(TIEToken& child) {
    // The left entry's count keeps the child alive until its holders are gone.
    const bool held = TTokenEntry::ReleaseChild(child);
    const TOnExit drop([&child, held] {
        if (held) child.Release();
    });
    WithdrawHolders(child);
}

// The fixed side's values of a join's tests while it runs (see TTestNode::TestsPassFixed).
// Made for every activation of a join, so a join without join tests pays nothing for it.
class TFixedSides {
public:
    using TSide = TIEJoinTest::TSide;
    explicit TFixedSides(size_t count) : FCount(count) {
        if (count <= 1) {
            if (count) ::new (static_cast<void*>(FData)) TSide();
            return;
        }
        if (count <= kInline) {
            // All the inline ones, a fixed number of stores without a loop (those past `count`
            // stay unread and hold nothing: nothing to destroy).
            std::uninitialized_value_construct_n(FData, kInline);
            return;
        }
        FData = static_cast<TSide*>(::operator new(count * sizeof(TSide)));
        std::uninitialized_value_construct_n(FData, count);
    }
    ~TFixedSides() {
        std::destroy_n(FData, FCount);
        if (FCount > kInline) ::operator delete(FData);
    }
    TFixedSides(const TFixedSides&) = delete;
    TFixedSides& operator=(const TFixedSides&) = delete;
    TSide* Data() noexcept { return FData; }

private:
    static constexpr size_t kInline = 4;
    size_t FCount;
    alignas(TSide) unsigned char FInline[kInline * sizeof(TSide)];
    TSide* FData = reinterpret_cast<TSide*>(FInline);
};

// Counts one more left entry blocked by a negated join's right entry (saturating: the count
// may only be too high).
void CountBlock(TTokenEntry& right) noexcept {
    if (right.Blocked != UINT8_MAX) ++right.Blocked;
}

} // namespace

void TJoinNode::EmitChild(TIETokenTree::TEntry& left, TIETokenTree::TEntry* right,
                          TTokenAction action, float strength) {
    const TIEToken::TEntrySlot slot = ChildSlot();
    const TIETokenRef child =
        right ? TIEToken::CreateChild(left.Token, *right->Token, action, strength, slot)
              : PlaceholderChild(left.Token, action, slot);
    TTokenEntry::AdoptChild(left, right, *child);
    if (FRightBit && right) NoteSharer(*right, *child);
    Propagate(child);
    // A child nothing below keeps (a test refused it, its rule is off) has nothing to withdraw
    // later: letting it go now keeps the memory to the tokens that matter. CollectOutputs makes
    // it again should a new rule want it.
    if (!child->Held() && child->LeftOwner() == &left && TTokenEntry::ReleaseChild(*child))
        child->Release();
}

void TJoinNode::WithdrawEntry(TTokenEntry& entry) {
    if (entry.Tree == FLeft.get()) RemoveLeft(entry);
}

void TJoinNode::RemoveLeft(TIETokenTree::TEntry& left) {
    // Two children ahead: the one after next is asked for, and the next one (asked for a step
    // ago) asks for what its withdrawal reaches first (its entry's neighbours, its own first
    // child), so that the misses of a list of scattered children overlap this one's withdrawal.
    while (TIEToken* child = left.FirstChild) {
        if (TIEToken* next = child->NextOfLeft()) {
            if (TIEToken* after = next->NextOfLeft()) PrefetchTokenWithRoom(after);
            if (const TTokenEntry* e = next->SlotHolder()) {
                e->Tree->PrefetchErase(*e);
                if (e->FirstChild) PrefetchTokenWithRoom(e->FirstChild);
            }
        }
        DropChild(*child);
    }
    FLeft->Erase(&left);
}

void TJoinNode::EraseRight(TIETokenTree::TEntry& right) {
    if (FRightBit && static_cast<const TSharedEntry&>(right).Seen) return;
    FRight->Erase(&right);
}

template <class F>
inline uint32_t TJoinNode::FirstBlocker(TIETokenTree::TEntry& left,
                                        const TIETokenTree::TEntry* skip, F&& blocks) {
    uint32_t blocker = 0;
    ForEachRight<true>(left, [&](TIETokenTree::TEntry& r) {
        if (&r == skip || !blocks(r)) return true;
        blocker = r.Mark;
        CountBlock(r);
        return false;
    });
    return blocker;
}

uint32_t TJoinNode::BlockerByNumbers(TIETokenTree::TEntry& left, const TIETokenTree::TEntry* skip,
                                     const TNumberPredicate::TFixed& numbers) {
    return FirstBlocker(left, skip, [&](TIETokenTree::TEntry& r) {
        return FixedNumbersPass(r.Fact, left.Token, numbers);
    });
}

inline uint32_t TJoinNode::FindBlocker(TIETokenTree::TEntry& left,
                                       const TIETokenTree::TEntry* skip) {
    if (FJoinTests.empty()) {
        TNumberPredicate::TFixed numbers;
        if (FixLeftNumbers(*left.Token, numbers)) return BlockerByNumbers(left, skip, numbers);
    }
    // The left token's side of each test is read once for all the partners it tries.
    TFixedSides fixed(FJoinTests.size());
    TIEJoinTest::TSide* sides = fixed.Data();
    return FirstBlocker(left, skip, [&](TIETokenTree::TEntry& r) {
        return TestsPassFixed(r.Fact, left.Token, sides, true, nullptr, left.ExactKeyEquals(r));
    });
}

void TJoinNode::RemoveRight(TIETokenTree::TEntry& right) {
    const int32_t probe = right.ProbeKey;
    // This join sees a shared entry no more; the sharers that have not had the removal yet still
    // do.
    if (FRightBit) static_cast<TSharedEntry&>(right).Seen &= ~FRightBit;
    if (FNegation != jnNone) {
        // The left tokens it blocked look for another blocker; those that find none change
        // sides, in the left memory's order.
        const uint32_t mark = right.Mark;
        if (right.Blocked == 0) {
            EraseRight(right);
            return;
        }
        TIETokenTree::TEntry* hint = nullptr;
        auto unblock = [&](TIETokenTree::TEntry& l) {
            if (l.Mark != mark) return;
            if (const uint32_t blocker = FindBlocker(l, &right)) {
                FLeft->Block(l, blocker);
                return;
            }
            FLeft->Unblock(l, hint);
            if (FNegation == jnNot)
                EmitChild(l, nullptr, taAdd, l.Token->Strength());
            else
                while (TIEToken* child = l.FirstChild)
                    DropChild(*child);
        };
        if (FLeft->Split()) {
            // A split memory chains the entries it blocks apart, and they all leave that chain:
            // they are taken out at once and looked at in the memory's order, which their
            // chain does not keep. Those a raising test leaves unvisited go back.
            boost::container::small_vector<TIETokenTree::TEntry*, 32> blocked;
            FLeft->TakeBlockedBy(probe, mark, blocked);
            auto arrival = [](const TIETokenTree::TEntry* a, const TIETokenTree::TEntry* b) {
                return a->Seq < b->Seq;
            };
            if (!std::is_sorted(blocked.begin(), blocked.end(), arrival))
                std::sort(blocked.begin(), blocked.end(), arrival);
            TIETokenTree::TEntry* const* next = blocked.data();
            TIETokenTree::TEntry* const* const end = next + blocked.size();
            // Those a raising test left are filed again as they are.
            const TOnExit refile([&] {
                for (; next != end; ++next)
                    FLeft->Refile(**next);
            });
            for (; next != end; ++next)
                unblock(**next);
#if defined(IE_CHECKS)
            FLeft->DebugCheck();
#endif
        } else {
            ForEachLeft(probe, unblock);
        }
        EraseRight(right);
        return;
    }
    // Out of the memory first, then what it supported, in the order it was made (the left
    // memory's order). A shared entry lists the children of every sharer: this join's go,
    // picked out of the list only while another sharer may have some there too. The last
    // sharer to have the removal finds only its own.
    TIEToken* child = nullptr;
    if (FRightBit && static_cast<const TSharedEntry&>(right).Seen) {
        auto& shared = static_cast<TSharedEntry&>(right);
        IE_ASSERT(shared.ParentsCoverChildren());
        const uint64_t parents = shared.Parents;
        shared.Parents = parents & ~FRightBit;
        if (parents & FRightBit)
            child = parents & ~FRightBit ? right.DetachRightChildrenOf(SharerNumber())
                                         : right.DetachRightChildren();
        IE_ASSERT(shared.ParentsCoverChildren());
    } else {
        child = right.DetachRightChildren();
    }
    EraseRight(right);
    while (child) {
        // What the bits and numbers picked out is this join's alone.
        IE_ASSERT(OwnChild(*child));
        TIEToken* next = TTokenEntry::TakeNextDetached(*child);
        DropChild(*child);
        child = next;
    }
}

void TJoinNode::Receive(const TIETokenRef& token, TCallType callType) {
    FPassed = 0;
    const TTokenAction tag = token->Tag();
    if (tag == taClear) {
        ClearMemories();
        Propagate(token);
        return;
    }
    if (callType == ctLeft) {
        if (tag == taRemove) {
            // Tokens made by joins are withdrawn through their links; a fact's own token is
            // made afresh for its removal and found by equality.
            if (TIETokenTree::TEntry* e = FindStored(*FLeft, token)) RemoveLeft(*e);
            return;
        }
        // (The key of a join without hash tests in line: the call is for the hashed ones.)
        auto keys = [&](int32_t& shown, int32_t& probe, bool& exact) {
            shown = token->HashCode();
            exact = false;
            probe = FHashed ? LeftKey(*token, shown, exact) : shown;
        };
        if (TIETokenTree::TEntry* e = Store(*FLeft, token, keys)) {
            JoinLeft(*e, tag);
            if (FGoalPattern) AssertGoal(*e->Token);
        }
        return;
    }
    if (callType == ctRight) {
        // Join tests read the incoming fact: a split's cut comes as a copy of the fact.
        if (token->MatchCut() && !FTests.empty()) return Receive(CutCopy(token), ctRight);
        if (tag == taRemove) {
            TIETokenTree::TEntry* e = FindStored(*FRight, token);
            if (!e || !TIETokenTree::Sees(*e, FRightBit)) return;
            // The fact's entry in the next join its removal reaches is erased next: asking now
            // for what that erasing writes lets the misses overlap this join's work.
            if (const TTokenEntry* next = e->NextHeldEntry()) next->Tree->PrefetchErase(*next);
            RemoveRight(*e);
            return;
        }
        auto keys = [&](int32_t& shown, int32_t& probe, bool& exact) {
            shown = token->HashCode();
            exact = false;
            probe = FHashed ? RightKey(*token->LastFact(), shown, exact) : shown;
        };
        if (TIETokenTree::TEntry* e = Store(*FRight, token, keys)) {
            // A shared memory numbers its entries itself, once for all sharers.
            if (FNegation != jnNone && !FRightBit) {
                // Never 0 (no blocker); numbers are reused only after 2^32 right tokens.
                if (++FNextMark == 0) ++FNextMark;
                e->Mark = FNextMark;
                e->Blocked = 0;
            }
            JoinRight(e->Token, e, e->ProbeKey, tag);
        }
        return;
    }
    // A join is linked to its inputs as their left or right target only.
    IE_ASSERT(callType == ctLeft || callType == ctRight);
}

namespace {

// A fact's own token: no join made it (see TFactTokens).
bool SingleFactToken(const TIEToken& token) noexcept {
    return token.Size() == 1 && !token.Parent() && !token.LeftOwner();
}

} // namespace

// A fact's own token is held by the network's one token of its identity, which finds the entry
// (see TFactTokens); a token a join made is held by its maker's child.
template <class FKeys>
TIETokenTree::TEntry* TJoinNode::Store(TIETokenTree& memory, const TIETokenRef& token,
                                       FKeys&& keys) {
    auto insert = [&](const TIETokenRef& stored, bool held, uint64_t seen) {
        int32_t shown;
        int32_t probe;
        bool exact;
        keys(shown, probe, exact);
        TIETokenTree::TEntry* e = memory.Insert(stored, shown, probe, held, seen);
        if (e) e->ExactKey = exact;
        IE_ASSERT(!e || KeysHold(*e));
        return e;
    };
    if (!SingleFactToken(*token)) return insert(token, token->LeftOwner() != nullptr, 0);
    TFactTokens& shared = FRete->FactTokens();
    bool fresh;
    TIEToken& s = shared.Canonical(token, fresh);
    const uint64_t bit = &memory == FRight.get() ? FRightBit : 0;
    if (bit) {
        // A shared memory is reached by every sharer: the first stores the fact, the others
        // take the entry in.
        if (TIETokenTree::TEntry* held = memory.HeldEntry(s)) {
            auto& entry = static_cast<TSharedEntry&>(*held);
            if (entry.Seen & bit) return nullptr;
            entry.Seen |= bit;
            return held;
        }
    } else if (!fresh && memory.HeldEntry(s)) {
        // A token listed before this propagation (an equal one met again when a new rule's join
        // is primed) may be held here already; one listed by it reaches a memory once.
        return nullptr;
    }
    try {
        return insert(TIETokenRef(&s), true, bit);
    } catch (...) {
        if (!s.Held()) shared.Forget(s);
        throw;
    }
}

TIETokenTree::TEntry* TJoinNode::FindStored(const TIETokenTree& memory, const TIETokenRef& token) {
    if (!SingleFactToken(*token)) return memory.FindEntry(*token);
    const TIEToken* s = FRete->FactTokens().Find(token);
    return s ? memory.HeldEntry(*s) : nullptr;
}

// Visits the right entries that can match the left token (those of its key when hashed) until
// the visitor returns false.
template <bool FindsOne, class F>
inline void TJoinNode::ForEachRight(const TIETokenTree::TEntry& left, F&& visit) {
    if (FHashed) {
        // An own memory's walk asks nothing of each entry.
        if (!FRightBit) {
            for (TIETokenTree::TEntry* r = FRight->FirstWithKey(left.ProbeKey); r;) {
                // A search that mostly ends at its first partner reads the next one's link (a
                // miss) only when it goes on; a full walk reads it ahead, overlapping the visit.
                if constexpr (FindsOne) {
                    if (!visit(*r)) return;
                    r = TIETokenTree::NextWithKey(*r);
                } else {
                    TIETokenTree::TEntry* next = TIETokenTree::NextWithKey(*r);
                    if (!visit(*r)) return;
                    r = next;
                }
            }
            return;
        }
        for (TIETokenTree::TEntry* r = FRight->FirstWithKey(left.ProbeKey); r;) {
            TIETokenTree::TEntry* next = TIETokenTree::NextWithKey(*r);
            if (TIETokenTree::Sees(*r, FRightBit) && !visit(*r)) return;
            r = next;
        }
        return;
    }
    for (TIETokenTree::TEntry* r = FRight->First(); r;) {
        TIETokenTree::TEntry* next = r->Next;
        if (TIETokenTree::Sees(*r, FRightBit) && !visit(*r)) return;
        r = next;
    }
}

// Visits the left entries that can match a right token of the probe key (every one when the
// join is not hashed); a visit may remove the entry it is given. A negated join's hashed walk
// visits the unblocked entries only.
template <class F> void TJoinNode::ForEachLeft(int32_t probeKey, F&& visit) {
    if (FLeft->Split()) {
        for (TIETokenTree::TEntry* l = FLeft->FirstOpenWithKey(probeKey); l;) {
            TIETokenTree::TEntry* next = TIETokenTree::NextSplitWithKey(*l);
            visit(*l);
            l = next;
        }
        return;
    }
    if (FHashed) {
        for (TIETokenTree::TEntry* l = FLeft->FirstWithKey(probeKey); l;) {
            TIETokenTree::TEntry* next = TIETokenTree::NextWithKey(*l);
            visit(*l);
            l = next;
        }
        return;
    }
    for (TIETokenTree::TEntry* l = FLeft->First(); l;) {
        TIETokenTree::TEntry* next = l->Next;
        visit(*l);
        l = next;
    }
}

void TJoinNode::JoinLeft(TIETokenTree::TEntry& entry, TTokenAction action) {
    // The entry stays while its join runs (no token enters the network meanwhile), and so do
    // the values of its facts that the tests read.
    const TIETokenRef& left = entry.Token;
    // The predicates may keep what they read of the left token for the walk over a right memory
    // that is not narrowed by a key (a key's partners are few) and holds more than one partner.
    TFixedLeft fixedLeft;
    if (!FHashed && !FPredicates.empty() && FRight->Count() > 1) fixedLeft.Mark(Context(), *left);
    if (FNegation != jnNone) {
        // The first right token that matches blocks the left one; the others are not tried.
        uint32_t blocker = 0;
        {
            // The entry is filed by what it found, unblocked should a test raise.
            const TOnExit settle([&] { FLeft->Settle(entry); });
            blocker = FindBlocker(entry, nullptr);
            entry.Mark = blocker;
        }
        if (FNegation == jnNot ? blocker == 0 : blocker != 0) {
            EmitChild(entry, nullptr, action, left->Strength());
            ++FPassed;
        }
        return;
    }
    // The left token's side of each test is read once for all the partners it tries.
    TFixedSides fixed(FJoinTests.size());
    TIEJoinTest::TSide* sides = fixed.Data();
    // Without fuzzy tests the strength is the smaller of the two, needed only for a match: the
    // right token is not read for the partners that fail.
    const bool fuzzy = !FFuzzyTests.empty();
    // (Kept in line in each of the walk's loops: the visit is most of a join's work.)
    auto visit = [&](TIETokenTree::TEntry& r) IE_ALWAYS_INLINE {
        float strength = 0.0f;
        const bool keysEqual = entry.ExactKeyEquals(r);
        if (fuzzy) {
            strength = std::min(left->Strength(), r.Token->Strength());
            if (!TestsPassFixed(r.Fact, left, sides, true, &strength, keysEqual)) return true;
        } else {
            if (!TestsPassFixed(r.Fact, left, sides, true, nullptr, keysEqual)) return true;
            strength = std::min(left->Strength(), r.Token->Strength());
        }
        EmitChild(entry, &r, action, strength);
        ++FPassed;
        return !Unique;
    };
    ForEachRight(entry, visit);
}

void TJoinNode::JoinRight(const TIETokenRef& right, TIETokenTree::TEntry* rightEntry,
                          int32_t probeKey, TTokenAction action) {
    if (FLeft->Count() == 0) return;
    IFact* fact = right->LastFact();
    TFixedSides fixed(FJoinTests.size());
    TIEJoinTest::TSide* sides = fixed.Data();
    auto join_one = [&](TIETokenTree::TEntry& l) {
        // A left token blocked already stays so whatever the new right token says.
        if (FNegation != jnNone && l.Mark != 0) return;
        float strength = std::min(l.Token->Strength(), right->Strength());
        if (!TestsPassFixed(fact, l.Token, sides, false, FNegation == jnNone ? &strength : nullptr,
                            l.ExactKeyEquals(*rightEntry)))
            return;
        if (FNegation == jnNone) return EmitChild(l, rightEntry, action, strength);
        // Newly blocked: an exists placeholder comes, a not placeholder goes.
        FLeft->Block(l, rightEntry->Mark);
        CountBlock(*rightEntry);
        if (FNegation == jnExists)
            EmitChild(l, nullptr, taAdd, l.Token->Strength());
        else
            while (TIEToken* child = l.FirstChild)
                DropChild(*child);
    };
    ForEachLeft(probeKey, join_one);
}

void TJoinNode::AssertGoal(const TIEToken& left) {
    if (FPassed > 0 || !FGoalPattern || !FRule || FGoalPattern->IsGoal()) return;
    IRuleEngine* engine = FRete->Engine();
    if (!engine) return;
    TRefPtr<IFactTemplate> goalTemplate =
        engine->FindFactTemplate(std::string(GoalFactPrefix) + FGoalPattern->Name());
    if (!goalTemplate) return;
    TRefPtr<IFact> goal = goalTemplate->NewFact();
    for (int32_t s = 0; s < FGoalPattern->SlotCount(); ++s) {
        const std::string& slotName = FGoalPattern->GetSlotName(s);
        if (!goalTemplate->HasSlot(slotName)) continue;
        const bool multi = goalTemplate->SlotByName(slotName)->IsMultiSlot();
        auto values = TValueVector::Create();
        TRefPtr<IIEValue> single;
        for (const auto& test : FGoalPattern->GetSlotTests(s)) {
            if (test->SlotTestType() != sttEquals || !test->SlotValue()) continue;
            TRefPtr<IIEValue> value;
            if (test->IsVariable()) {
                TBinding* b = FRule->FindBinding(VariableName(*test->SlotValue()),
                                                 FRule->IndexOfPattern(FGoalPattern));
                if (!b) continue;
                const int32_t at = FRule->TokenIndexOf(b->FactIndex);
                if (at < 0 || at >= left.Size() || b->SlotName == PatternSlotName) continue;
                const TIEToken* level = left.LevelPtr(at);
                if (level->MatchCut()) {
                    // A fact a split cut: the element of the cut list.
                    TRefPtr<IIEValue> hold;
                    bool found;
                    const IIEValue* e = TSlotReader(b->SlotName)
                                            .ReadElement(*level->Fact(), level->MatchCut(),
                                                         b->SubIndex, hold, found);
                    value = TRefPtr<IIEValue>(const_cast<IIEValue*>(e));
                } else {
                    value = Element(level->Fact()->GetSlotValue(b->SlotName), b->SubIndex);
                }
            } else if (!test->IsFunCall()) {
                value = test->SlotValue();
            }
            if (!value) continue;
            if (!multi) {
                if (!single) single = value;
                continue;
            }
            const int32_t sub = test->MultiSlotSubIndex();
            if (sub >= 0 && sub <= values->Count())
                values->Insert(sub, value);
            else
                values->Add(value);
        }
        if (multi)
            goal->SetSlotValue(slotName, TIEValue::CreateList(values));
        else
            goal->SetSlotValue(slotName, single ? single : IEEmptyAtom());
    }
    engine->AssertGoalFact(goal);
}

void TJoinNode::CollectOutputs(std::vector<TIETokenRef>& out) {
    // The tokens themselves, so that what new nodes keep of them is withdrawn with them. The
    // children nothing kept were let go (see EmitChild): they are made again here, in their
    // places, so that both child lists stay in the order a join makes them (a left entry's
    // children in right memory order, a right entry's in left memory order).
    std::unordered_map<const TTokenEntry*, TIEToken*> lastOfRight;
    for (TIETokenTree::TEntry* l : FLeft->Entries()) {
        if (FNegation != jnNone) {
            if (FNegation == jnNot ? l->Mark != 0 : l->Mark == 0) continue;
            if (!l->FirstChild)
                TTokenEntry::AdoptChild(*l, nullptr, *PlaceholderChild(l->Token, taAdd));
            out.emplace_back(l->FirstChild);
            continue;
        }
        // A unique join gives one output per left token: its first child when it has one.
        bool given = Unique && l->FirstChild;
        if (given) out.emplace_back(l->FirstChild);
        TIEToken* at = l->FirstChild;
        TIEToken* prev = nullptr;
        ForEachRight(*l, [&](TIETokenTree::TEntry& r) {
            TIEToken*& rightPrev = lastOfRight[&r];
            if (at && at->RightOwner() == &r) {
                if (!Unique) out.emplace_back(at);
                rightPrev = prev = at;
                at = at->NextOfLeft();
                return true;
            }
            if (given) return true;
            float strength = std::min(l->Token->Strength(), r.Token->Strength());
            if (!TestsPass(r.Fact, l->Token, &strength)) return true;
            const TIETokenRef child = TIEToken::CreateChild(l->Token, *r.Token, taAdd, strength);
            TTokenEntry::AdoptChildAfter(*l, prev, &r, rightPrev, *child);
            if (FRightBit) NoteSharer(r, *child);
            out.push_back(child);
            rightPrev = prev = child.get();
            given = Unique;
            return true;
        });
        for (; at && !Unique; at = at->NextOfLeft())
            out.emplace_back(at);
    }
}

std::string TJoinNode::GetText() const {
    std::string text = TTestNode::GetText();
    if (FNegation != jnNone) text += " *NEGATED*";
    return text + " Left Memory: " + FLeft->GetText() +
           " Right Memory: " + FRight->GetText(FRightBit);
}

// ---------------------------------------------------------------------------------------------
// TPatternMatchTerminalNode

TPatternMatchTerminalNode::TPatternMatchTerminalNode(TReteNetwork* rete, TRule* rule)
    : TReteNode(rete), FRule(rule) {}

TPatternMatchTerminalNode::~TPatternMatchTerminalNode() {
    // An activation that outlives the node (one that is firing) must not call back into it.
    if (FFiringNow) FFiringNow->DetachNode();
    for (TActivation* firing : FFiringNested)
        firing->DetachNode();
    while (TActivation* last = FLast) {
        Unlist(last);
        last->DetachNode();
        Report(last, false);
    }
}

std::string TPatternMatchTerminalNode::GetText() const {
    return TReteNode::GetText() + " Rule: " + (FRule ? FRule->RuleName() : std::string());
}

void TPatternMatchTerminalNode::Receive(const TIETokenRef& token, TCallType) {
    switch (token->GetTag()) {
    case taClear:
        return RemoveAllActivations();
    case taAdd:
    case taUpdate:
        return AddActivation(token, token->GetTag());
    case taRemove:
        RemoveActivationFor(*token);
        return;
    }
}

namespace {

TIEToken& TokenOf(TActivation& activation) noexcept {
    return const_cast<TIEToken&>(TIEToken::Of(*activation.Token()));
}

} // namespace

void TPatternMatchTerminalNode::AddActivation(const TIETokenRef& token, TTokenAction action) {
    if (!FRule) return;
    if (action == taAdd && ((FRule->OneShot() && FRule->Fired()) || !FRule->Enabled())) return;
    if (action == taUpdate && FInitialized) return;
    auto* activation = new TActivation(FRule, token->GetStrength(), this, token);
    TActivation::TNodeLinks& links = activation->NodeLinks;
    links.Prev = FLast;
    links.Next = nullptr;
    (FLast ? FLast->NodeLinks.Next : FFirst) = activation;
    FLast = activation;
    links.Listed = true;
    ++FCount;
    if (token->LeftOwner()) {
        // Made by a join: withdrawn through the token's holders.
        token->AddHolder(*activation);
    } else {
        links.Hash = token->IdentityHash();
        links.Indexed = true;
        if (FHashing || FCount > IndexFrom) Chain(*activation);
    }
    Report(activation, true);
}

void TPatternMatchTerminalNode::Chain(TActivation& last) {
    // The list's last activation, or every one of them when the chains are made first.
    TActivation* from = FHashing ? &last : FFirst;
    FHashing = true;
    for (TActivation* a = from; a; a = a->NodeLinks.Next)
        if (a->NodeLinks.Indexed) FIndex.Append(a->NodeLinks.Hash, *a);
}

bool TPatternMatchTerminalNode::Unlist(TActivation* activation) noexcept {
    TActivation::TNodeLinks& links = activation->NodeLinks;
    if (!links.Listed) return false;
    links.Listed = false;
    if (links.Indexed) {
        links.Indexed = false;
        if (FHashing) FIndex.Unlink(links.Hash, *activation);
    } else {
        TokenOf(*activation).RemoveHolder(*activation);
    }
    (links.Prev ? links.Prev->NodeLinks.Next : FFirst) = links.Next;
    (links.Next ? links.Next->NodeLinks.Prev : FLast) = links.Prev;
    links.Prev = links.Next = links.HashPrev = links.HashNext = nullptr;
    if (--FCount == 0) FHashing = false; // the chains are empty
    return true;
}

void TPatternMatchTerminalNode::Report(TActivation* activation, bool added) {
    if (added)
        FRete->ActivationAdded(activation);
    else
        FRete->ActivationRemoved(activation);
}

bool TPatternMatchTerminalNode::RemoveActivationFor(const TIEToken& token) {
    // The chain, like the list, runs oldest first: the first equal activation goes.
    const int32_t hash = token.IdentityHash();
    TActivation* found = FHashing ? FIndex.First(hash) : FFirst;
    for (; found; found = FHashing ? found->NodeLinks.HashNext : found->NodeLinks.Next) {
        const TActivation::TNodeLinks& links = found->NodeLinks;
        if (links.Indexed && links.Hash == hash && TIEToken::Of(*found->Token()).Equals(token))
            break;
    }
    if (!found) return false;
    Unlist(found);
    Report(found, false);
    return true;
}

void TPatternMatchTerminalNode::WithdrawActivation(TActivation& activation) {
    if (!Unlist(&activation)) return;
    Report(&activation, false);
}

void TPatternMatchTerminalNode::RemoveAllActivations() {
    while (TActivation* last = FLast) {
        Unlist(last);
        Report(last, false);
    }
}

const std::string& TPatternMatchTerminalNode::ActivationRuleName() const {
    static const std::string none;
    return FRule ? FRule->RuleName() : none;
}

int32_t TPatternMatchTerminalNode::ActivationSalience() {
    if (!FRule) return 0;
    FRule->EvaluateSalience();
    return FRule->Salience();
}

void TPatternMatchTerminalNode::FireActivation(TActivation& activation) {
    // The actions may remove the rule, and this node with it; the node then detaches the
    // activation, and nothing of the node may be touched afterwards.
    FiringStarts(activation);
    try {
        if (FRule) FRule->Fire(activation.Token());
    } catch (...) {
        if (activation.Node() == this) FiringEnds(activation);
        throw;
    }
    if (activation.Node() != this) return;
    FiringEnds(activation);
    Unlist(&activation);
    FRete->ActivationFired(&activation);
}

void TPatternMatchTerminalNode::FiringStarts(TActivation& activation) {
    if (!FFiringNow)
        FFiringNow = &activation;
    else
        FFiringNested.push_back(&activation);
}

void TPatternMatchTerminalNode::FiringEnds(TActivation& activation) noexcept {
    if (FFiringNow == &activation)
        FFiringNow = nullptr;
    else
        std::erase(FFiringNested, &activation);
}

void TPatternMatchTerminalNode::ActivationDestroyed(TActivation& activation) noexcept {
    Unlist(&activation);
}

// ---------------------------------------------------------------------------------------------
// TReteNetwork: compiling

struct TReteNetwork::TBuild {
    TRule& Rule;
    std::vector<TReteNode*>& Nodes;
    std::vector<TReteNode*> AlphaEnds;
    std::vector<TReteNode*> LastNodes;
    std::vector<TReteNode*> Created;
    std::unordered_set<TReteNode*> IsCreated;
    int32_t Pattern = -1; // the pattern being compiled, for the place of a failure
    // The template of the pattern whose alpha nodes are being built.
    const IFactTemplate* Template = nullptr;
};

TReteNetwork::TReteNetwork(IRuleEngine* engine, IActivationSink* sink)
    : FEngine(engine), FSink(sink) {}

TReteNetwork::~TReteNetwork() {
    Clear();
}

const TRefPtr<IFact>& TReteNetwork::NotOrTestFact() const {
    static const TRefPtr<IFact> none;
    return FEngine ? FEngine->NotOrTestFact() : none;
}

void TReteNetwork::SetMinActivationStrength(float value) noexcept {
    FMinActivationStrength = std::clamp(value, 0.0f, 1.0f);
}

void TReteNetwork::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    if (!value) Clear();
}

const std::vector<TReteNode*>& TReteNetwork::RuleNodes(const TRule& rule) const {
    static const std::vector<TReteNode*> none;
    auto it = FRules.find(&rule);
    return it == FRules.end() ? none : it->second;
}

TPatternMatchTerminalNode* TReteNetwork::TerminalNode(const TRule& rule) const {
    const auto& nodes = RuleNodes(rule);
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
        if (auto* t = dynamic_cast<TPatternMatchTerminalNode*>(*it)) return t;
    return nullptr;
}

TReteNode* TReteNetwork::Adopt(std::unique_ptr<TReteNode> node) {
    TReteNode* raw = node.get();
    raw->FSerial = FNextSerial++;
    FNodes.emplace(raw, std::move(node));
    return raw;
}

void TReteNetwork::Link(TReteNode* from, TReteNode* to, TCallType callType) {
    from->FOutgoing.push_back({to, callType});
    ++from->FEdgeVersion;
    ++FEdgeChanges;
    to->FIncoming.push_back({from, callType});
}

TPatternMatchNode* TReteNetwork::AddPatternMatchNode(TBuild& b, TReteNode* parent,
                                                     TPatternMatchTest kind,
                                                     TRefPtr<IIEValue> value,
                                                     std::vector<TRefPtr<IIEValue>> args) {
    auto consider = [&](TReteNode* n) -> TPatternMatchNode* {
        auto* p = dynamic_cast<TPatternMatchNode*>(n);
        return p && p->SameTest(kind, value.get(), args) ? p : nullptr;
    };
    TPatternMatchNode* shared = nullptr;
    if (parent) {
        for (const TReteEdge& e : parent->FOutgoing)
            if (e.CallType == ctSingle && (shared = consider(e.Node))) break;
    } else {
        for (TPatternMatchNode* r : FRoots)
            if ((shared = consider(r))) break;
    }
    if (shared) {
        ++shared->RuleUseCount;
        b.Nodes.push_back(shared);
        if (parent) b.Rule.CompilationTrace += "=1";
        return shared;
    }
    auto* node = static_cast<TPatternMatchNode*>(
        Adopt(std::make_unique<TPatternMatchNode>(this, kind, std::move(value), std::move(args))));
    node->Prepare(b.Template);
    if (parent)
        Link(parent, node, ctSingle);
    else {
        FRoots.push_back(node);
        RootsChanged();
    }
    b.Nodes.push_back(node);
    b.Created.push_back(node);
    b.IsCreated.insert(node);
    b.Rule.CompilationTrace += "+1";
    return node;
}

bool TReteNetwork::BindFunctionArgs(TBuild& b, IFunCall& call, int32_t patternIndex, bool alpha) {
    bool readsOthers = false;
    for (int32_t i = 0; i < call.ArgumentCount(); ++i) {
        const TRefPtr<IIEValue>& arg = call.GetArgument(i);
        if (!arg) continue;
        const TIEType t = arg->GetDType();
        if (t == dtFunCall) {
            if (TRefPtr<IFunCall> inner = arg->AsFunCall())
                readsOthers |= BindFunctionArgs(b, *inner, patternIndex, alpha);
            continue;
        }
        if (t != dtVariable && t != dtMultiVariable) continue;
        const std::string name = VariableName(*arg);
        TBinding* binding = b.Rule.FindBinding(name, patternIndex);
        if (!binding) {
            if (FEngine && FEngine->IsGlobalVariable(name)) continue;
            RaiseIE(imUnknownVariable, name);
        }
        if (binding->FactIndex != patternIndex) readsOthers = true;
        int32_t at = alpha && binding->FactIndex == patternIndex
                         ? 0
                         : b.Rule.TokenIndexOf(binding->FactIndex);
        std::string_view slot = binding->SlotName == PatternSlotName
                                    ? std::string_view()
                                    : std::string_view(binding->SlotName);
        auto position = TIEValue::Create();
        position->SetAsOwnedObject(new TBinding(name, at, slot, binding->SubIndex));
        call.SetArgument(i, position);
    }
    return readsOthers;
}

namespace {

// Whether the call reads a pattern other than `patternIndex`, without changing it.
bool CallReadsOthers(const TRule& rule, const IFunCall& call, int32_t patternIndex) {
    for (int32_t i = 0; i < call.ArgumentCount(); ++i) {
        const TRefPtr<IIEValue>& arg = call.GetArgument(i);
        if (!arg) continue;
        if (arg->GetDType() == dtFunCall) {
            if (TRefPtr<IFunCall> inner = arg->AsFunCall())
                if (CallReadsOthers(rule, *inner, patternIndex)) return true;
        } else if (IsVariableValue(arg.get())) {
            TBinding* b = rule.FindBinding(VariableName(*arg), patternIndex);
            if (b && b->FactIndex != patternIndex) return true;
        }
    }
    return false;
}

void CollectCallVariables(const IFunCall& call, std::vector<std::string>& names);

// The variables an expression reads, in order of first appearance, each once.
void CollectVariables(const IIEValue& value, std::vector<std::string>& names) {
    const TIEType t = value.GetDType();
    if (t == dtVariable || t == dtMultiVariable) {
        std::string name = VariableName(value);
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
    } else if (t == dtList) {
        if (TRefPtr<IValueVector> items = value.AsList())
            for (int32_t i = 0; i < items->Count(); ++i)
                if (const TRefPtr<IIEValue>& item = items->GetItem(i))
                    CollectVariables(*item, names);
    } else if (t == dtFunCall) {
        if (TRefPtr<IFunCall> call = value.AsFunCall()) CollectCallVariables(*call, names);
    }
}

void CollectCallVariables(const IFunCall& call, std::vector<std::string>& names) {
    for (int32_t i = 0; i < call.ArgumentCount(); ++i)
        if (const TRefPtr<IIEValue>& arg = call.GetArgument(i)) CollectVariables(*arg, names);
}

// The fuzzy variable of a single fuzzy slot of the pattern's template, or null.
TRefPtr<IFuzzyVariable> FuzzySlotVariable(const TIEPattern& p, const std::string& slot) {
    TRefPtr<IFactSlot> fs;
    if (!p.FactTemplate() || !p.FactTemplate()->FindSlot(slot, fs) || !fs || !fs->IsFuzzy() ||
        fs->IsMultiSlot())
        return nullptr;
    TRefPtr<IIEDefinedType> type = fs->GetExtendedTypeInfo();
    return type ? type->GetFuzzyVariable() : nullptr;
}

// Whether the test compares a fuzzy slot with an expression that still reads variables bound
// by earlier patterns (the reader leaves such an expression as a list of its written items).
bool IsFuzzyJoinExpression(const TRule& rule, const TIEPattern& p, const std::string& slot,
                           const TIEPatternMatchTest& test, int32_t patternIndex) {
    if (test.ValueType() != dtList || test.MultiSlotSubIndex() >= 0) return false;
    if (!FuzzySlotVariable(p, slot)) return false;
    std::vector<std::string> names;
    CollectVariables(*test.SlotValue(), names);
    for (const std::string& name : names) {
        const TBinding* b = rule.FindBinding(name, patternIndex);
        if (b && b->FactIndex < patternIndex) return true;
    }
    return false;
}

TRefPtr<IFunCall> CloneCall(const IIEValue& value) {
    TRefPtr<IFunCall> call = value.AsFunCall();
    return call ? RefCast<IFunCall>(call->Clone()) : nullptr;
}

} // namespace

void TReteNetwork::BuildAlphaNodes(TBuild& b) {
    TRule& rule = b.Rule;
    for (int32_t i = 0; i < rule.PatternCount(); ++i) {
        b.Pattern = i;
        TIEPattern* p = rule.GetPattern(i);
        if (p->IsTest() || !p->FactTemplate()) {
            b.AlphaEnds.push_back(nullptr);
            continue;
        }
        b.Template = p->FactTemplate().get();
        TReteNode* node = AddPatternMatchNode(b, nullptr, pmtTestClassType,
                                              Atom(p->FactTemplate()->GetName()), {});
        for (int32_t s = 0; s < p->SlotCount(); ++s)
            for (const auto& test : p->GetSlotTests(s))
                if (test->ValueType() == dtMultiVariable)
                    node = AddPatternMatchNode(
                        b, node, pmtTestMultiSlotMultiField, nullptr,
                        {Atom(p->GetSlotName(s)), Int(test->MultiSlotSubIndex()), Int(0)});
        for (int32_t s = 0; s < p->SlotCount(); ++s)
            if (p->GetMultiSlotLength(s) >= 0)
                node = AddPatternMatchNode(
                    b, node, pmtTestMultiSlotLength, nullptr,
                    {Atom(p->GetSlotName(s)), Int(p->GetMultiSlotLength(s)), Int(0)});
        for (int32_t s = 0; s < p->SlotCount(); ++s)
            for (const auto& test : p->GetSlotTests(s)) {
                if (test->IsVariable() || !test->SlotValue()) continue;
                if (IsFuzzyJoinExpression(rule, *p, p->GetSlotName(s), *test, i)) continue;
                TRefPtr<IIEValue> value = test->SlotValue();
                if (test->IsFunCall()) {
                    if (CallReadsOthers(rule, *value->AsFunCall(), i)) continue;
                    TRefPtr<IFunCall> call = CloneCall(*value);
                    BindFunctionArgs(b, *call, i, true);
                    value = TIEValue::CreateFunCall(call);
                }
                const bool eq = test->SlotTestType() == sttEquals;
                const int32_t sub = test->MultiSlotSubIndex();
                TPatternMatchTest kind =
                    sub < 0 ? (eq ? pmtTestEqual : pmtTestNotEqual)
                            : (eq ? pmtTestMultiSlotEqual : pmtTestMultiSlotNotEqual);
                node =
                    AddPatternMatchNode(b, node, kind, value, {Atom(p->GetSlotName(s)), Int(sub)});
            }
        b.AlphaEnds.push_back(node);
    }
}

void TReteNetwork::BuildIntraPatternTests(TBuild& b) {
    TRule& rule = b.Rule;
    for (int32_t i = 0; i < rule.PatternCount(); ++i) {
        b.Pattern = i;
        TIEPattern* p = rule.GetPattern(i);
        if (p->IsTest() || !b.AlphaEnds[i]) continue;
        b.Template = p->FactTemplate().get();
        struct TVarTest {
            int32_t Slot;
            const TIEPatternMatchTest* Test;
            std::string Name;
        };
        std::vector<TVarTest> vars;
        for (int32_t s = 0; s < p->SlotCount(); ++s)
            for (const auto& test : p->GetSlotTests(s))
                if (test->IsVariable())
                    vars.push_back({s, test.get(), VariableName(*test->SlotValue())});
        std::unordered_set<std::string> met;
        // Every later use of a variable in the pattern, in the same slot (another element) or
        // in a later slot, is compared with its first use.
        for (size_t a = 0; a < vars.size(); ++a) {
            if (met.count(vars[a].Name)) continue;
            for (size_t c = a + 1; c < vars.size(); ++c) {
                if (vars[c].Name != vars[a].Name) continue;
                const bool ne1 = vars[a].Test->SlotTestType() == sttNotEquals;
                const bool ne2 = vars[c].Test->SlotTestType() == sttNotEquals;
                if (ne1 && ne2) continue;
                b.AlphaEnds[i] = AddPatternMatchNode(
                    b, b.AlphaEnds[i],
                    ne1 || ne2 ? pmtTestSlotValueNotEqual : pmtTestSlotValueEqual, nullptr,
                    {Atom(p->GetSlotName(vars[a].Slot)), Int(vars[a].Test->MultiSlotSubIndex()),
                     Atom(p->GetSlotName(vars[c].Slot)), Int(vars[c].Test->MultiSlotSubIndex())});
            }
            met.insert(vars[a].Name);
        }
    }
}

void TReteNetwork::BuildJoinNodes(TBuild& b) {
    TRule& rule = b.Rule;
    b.LastNodes.assign(rule.PatternCount(), nullptr);
    if (rule.PatternCount() == 0) return;
    b.LastNodes[0] = b.AlphaEnds[0];
    for (int32_t i = 1; i < rule.PatternCount(); ++i) {
        b.Pattern = i;
        TIEPattern* p = rule.GetPattern(i);
        TReteNode* left = b.LastNodes[i - 1];
        if (p->IsTest()) {
            // Every predicate of a test element is evaluated, including one that reads no
            // pattern variable at all.
            auto node = std::make_unique<TTestNode>(this);
            for (int32_t s = 0; s < p->SlotCount(); ++s)
                for (const auto& test : p->GetSlotTests(s))
                    if (test->IsFunCall()) {
                        TRefPtr<IFunCall> call = CloneCall(*test->SlotValue());
                        BindFunctionArgs(b, *call, i, false);
                        node->AddPredicate(test->SlotTestType(), TIEValue::CreateFunCall(call),
                                           test->MultiSlotSubIndex());
                    }
            TReteNode* raw = Adopt(std::move(node));
            Link(left, raw, ctLeft);
            b.Nodes.push_back(raw);
            b.Created.push_back(raw);
            b.IsCreated.insert(raw);
            rule.CompilationTrace += "+2";
            b.LastNodes[i] = raw;
            continue;
        }
        TReteNode* right = b.AlphaEnds[i];
        auto join = std::make_unique<TJoinNode>(this);
        const int32_t negated = p->NegatedCount();
        join->SetNegation(negated == 0 ? jnNone : (negated & 1) ? jnNot : jnExists);
        join->Unique = p->Unique();
        // Every place of a variable bound by an earlier pattern is compared with the binding:
        // comparing the places only with each other misses a value that differs from the
        // binding at a place after the first (?v twice, or ~?v before ?v).
        for (int32_t s = 0; s < p->SlotCount(); ++s)
            for (const auto& test : p->GetSlotTests(s)) {
                if (!test->IsVariable()) continue;
                std::string name = VariableName(*test->SlotValue());
                TBinding* binding = rule.FindBinding(name, i);
                if (!binding) RaiseIE(imCorruptedBinding, name);
                if (binding->FactIndex >= i) continue;
                const int32_t at = rule.TokenIndexOf(binding->FactIndex);
                const int32_t sub = test->MultiSlotSubIndex();
                // A variable bound to a matched fact is compared with that fact itself.
                if (sub == -1 && binding->SubIndex == -1)
                    join->AddJoinTest(test->SlotTestType(), at, p->GetSlotName(s),
                                      binding->SlotName);
                else
                    join->AddMultiSlotJoinTest(test->SlotTestType(), at, p->GetSlotName(s), sub,
                                               binding->SlotName, binding->SubIndex);
            }
        for (int32_t s = 0; s < p->SlotCount(); ++s)
            for (const auto& test : p->GetSlotTests(s)) {
                const std::string& slot = p->GetSlotName(s);
                if (!IsFuzzyJoinExpression(rule, *p, slot, *test, i)) continue;
                auto fuzzy = std::make_unique<TIEFuzzyJoinTest>(
                    test->SlotTestType(), slot, test->SlotValue(), FuzzySlotVariable(*p, slot));
                std::vector<std::string> names;
                CollectVariables(*test->SlotValue(), names);
                for (const std::string& name : names) {
                    TBinding* binding = rule.FindBinding(name, i);
                    if (!binding) {
                        if (FEngine && FEngine->IsGlobalVariable(name)) continue;
                        RaiseIE(imUnknownVariable, name);
                    }
                    if (binding->FactIndex > i) RaiseIE(imUnknownVariable, name);
                    // A variable of this very pattern is read from the incoming fact (-1).
                    fuzzy->AddVariable(
                        name, binding->FactIndex == i ? -1 : rule.TokenIndexOf(binding->FactIndex),
                        binding->SlotName == PatternSlotName ? std::string_view()
                                                             : std::string_view(binding->SlotName),
                        binding->SubIndex);
                }
                join->AddTest(std::move(fuzzy));
            }
        const bool backward = p->FactTemplate() && p->FactTemplate()->GetBackwardChaining();
        for (int32_t s = 0; s < p->SlotCount(); ++s)
            for (const auto& test : p->GetSlotTests(s)) {
                if (!test->IsFunCall() ||
                    !CallReadsOthers(rule, *test->SlotValue()->AsFunCall(), i))
                    continue;
                if (backward) RaiseIE(imCannotBackchainFunctionCalls, p->Name());
                TRefPtr<IFunCall> call = CloneCall(*test->SlotValue());
                BindFunctionArgs(b, *call, i, false);
                join->AddPredicate(test->SlotTestType(), TIEValue::CreateFunCall(call),
                                   test->MultiSlotSubIndex());
            }
        if (join->Negation() == jnNone) {
            TJoinNode* shared = nullptr;
            for (const TReteEdge& e : left->FOutgoing) {
                auto* j = dynamic_cast<TJoinNode*>(e.Node);
                if (!j || e.CallType != ctLeft || j->Negation() != jnNone ||
                    j->Unique != join->Unique || j->BackwardChainPattern())
                    continue;
                bool fromRight = false;
                for (const TReteEdge& in : j->FIncoming)
                    if (in.Node == right && in.CallType == ctRight) fromRight = true;
                if (fromRight && j->SameTests(*join)) {
                    shared = j;
                    break;
                }
            }
            if (shared && !(backward && !p->Explicit())) {
                ++shared->RuleUseCount;
                b.Nodes.push_back(shared);
                rule.CompilationTrace += "=2";
                b.LastNodes[i] = shared;
                continue;
            }
        }
        if (backward && !p->Explicit()) join->SetBackwardChainPattern(p, &rule);
        auto isFuzzy = [&](const TIEJoinTest& t) {
            auto fuzzySlot = [](const TIEPattern* q, const std::string& slot) {
                TRefPtr<IFactSlot> fs;
                return q && q->FactTemplate() && q->FactTemplate()->FindSlot(slot, fs) && fs &&
                       fs->IsFuzzy();
            };
            if (fuzzySlot(p, t.RightSlot())) return true;
            for (int32_t k = 0; k < i; ++k)
                if (!rule.GetPattern(k)->IsTest() && rule.TokenIndexOf(k) == t.TokenIndex)
                    return fuzzySlot(rule.GetPattern(k), t.LeftSlot());
            return false;
        };
        join->ChooseHashTest(isFuzzy);
        TReteNode* raw = Adopt(std::move(join));
        Link(left, raw, ctLeft);
        Link(right, raw, ctRight);
        static_cast<TJoinNode*>(raw)->ShareRight(*right);
        b.Nodes.push_back(raw);
        b.Created.push_back(raw);
        b.IsCreated.insert(raw);
        rule.CompilationTrace += "+2";
        b.LastNodes[i] = raw;
    }
}

void TReteNetwork::AddTerminalNode(TBuild& b) {
    auto* node = static_cast<TPatternMatchTerminalNode*>(
        Adopt(std::make_unique<TPatternMatchTerminalNode>(this, &b.Rule)));
    if (!b.LastNodes.empty() && b.LastNodes.back()) Link(b.LastNodes.back(), node, ctActivate);
    b.Nodes.push_back(node);
    b.Created.push_back(node);
    b.IsCreated.insert(node);
    b.Rule.CompilationTrace += "+t";
    Prime(b);
    node->SetInitialized();
}

void TReteNetwork::AddRule(TRule& rule) {
    if (!FEnabled) return;
    if (rule.PatternCount() == 0 && FEngine && FEngine->InitialFactPattern()) {
        rule.AddPattern(FEngine->InitialFactPattern()->CopyForRule(&rule));
        if (HasRule(rule)) return;
    }
    if (HasRule(rule)) RemoveRule(rule);
    rule.CompilationTrace = rule.RuleName() + ": ";
    TBuild b{rule, FRules[&rule], {}, {}, {}, {}};
    // A failed compilation leaves the nodes made so far in the rule's list; they changed too.
    auto notify = [&] {
        if (!OnNodeChange) return;
        const std::vector<TReteNode*> nodes = b.Nodes;
        for (TReteNode* n : nodes)
            OnNodeChange(this, n);
    };
    // A rule whose actions read a variable that nothing binds would fail at every firing.
    if (const std::string name = rule.FirstUnboundActionVariable(); !name.empty())
        throw EIEException(Format(ActionErrorMessage, Format(IEMessage(imUnknownVariable), name),
                                  rule.RuleName()));
    if (const std::string fault = rule.FirstActionFault(); !fault.empty())
        throw EIEException(Format(ActionErrorMessage, fault, rule.RuleName()));
    try {
        // A field compared with a fact that only a later element matches would compare with
        // nothing: the earlier element is refused.
        if (const std::string name = rule.FirstFieldBeforeAddress(b.Pattern); !name.empty())
            throw EIEException(Format(FieldBeforeAddressMessage, name));
        BuildAlphaNodes(b);
        BuildIntraPatternTests(b);
        BuildJoinNodes(b);
        b.Pattern = -1;
        AddTerminalNode(b);
    } catch (const EIEException& e) {
        notify();
        if (b.Pattern < 0 || b.Pattern >= rule.PatternCount()) throw;
        // The message says which element of which rule it comes from.
        throw EIEException(Format(ElementErrorMessage, std::string_view(e.what()),
                                  IntText(rule.ElementNumber(b.Pattern)),
                                  rule.GetPattern(b.Pattern)->Name(), rule.RuleName()));
    } catch (...) {
        notify();
        throw;
    }
    notify();
}

// ---------------------------------------------------------------------------------------------
// Priming: only the rule's new nodes receive what their older parents hold, so rules compiled
// earlier see nothing of it.

namespace {

// Runs the token down the alpha chain from its root to `target`, collecting what passes.
void RunAlphaPath(TPatternMatchNode* target, const TIETokenRef& token,
                  std::vector<TIETokenRef>& out) {
    std::vector<TPatternMatchNode*> path;
    for (TReteNode* n = target; n;) {
        auto* p = dynamic_cast<TPatternMatchNode*>(n);
        if (!p) return;
        path.push_back(p);
        n = n->Incoming().empty() ? nullptr : n->Incoming().front().Node;
    }
    std::vector<TIETokenRef> current{token}, next;
    for (auto it = path.rbegin(); it != path.rend() && !current.empty(); ++it) {
        next.clear();
        for (const auto& t : current)
            (*it)->Filter(t, &next);
        current.swap(next);
    }
    out.insert(out.end(), current.begin(), current.end());
}

} // namespace

void TReteNetwork::CollectOutputs(TReteNode* node, std::vector<TIETokenRef>& out) {
    if (auto* alpha = dynamic_cast<TPatternMatchNode*>(node)) {
        if (!FEngine) return;
        FEngine->ForEachFact([&](const TRefPtr<IFact>& fact) {
            RunAlphaPath(alpha, TIEToken::CreateFirst(taAdd, fact), out);
        });
        return;
    }
    if (auto* join = dynamic_cast<TJoinNode*>(node)) return join->CollectOutputs(out);
    if (auto* test = dynamic_cast<TTestNode*>(node)) {
        if (test->Incoming().empty()) return;
        std::vector<TIETokenRef> inputs;
        CollectOutputs(test->Incoming().front().Node, inputs);
        for (const auto& t : inputs)
            if (test->TestsPass(nullptr, t)) out.push_back(t);
    }
}

void TReteNetwork::Prime(TBuild& b) {
    if (!FEngine) return;
    FFactTokens.Settle();
    TOnExit settle([this] { FFactTokens.Settle(); });
    struct TFeed {
        TReteNode* Parent; // null for a new root
        std::vector<TReteEdge> Targets;
    };
    std::vector<TFeed> alphaFeeds, betaFeeds;
    auto feedOf = [](std::vector<TFeed>& feeds, TReteNode* parent) -> TFeed& {
        for (TFeed& f : feeds)
            if (f.Parent == parent) return f;
        feeds.push_back({parent, {}});
        return feeds.back();
    };
    for (TReteNode* n : b.Created) {
        if (n->Incoming().empty()) {
            if (auto* root = dynamic_cast<TPatternMatchNode*>(n))
                alphaFeeds.push_back({nullptr, {{root, ctSingle}}});
            continue;
        }
        for (const TReteEdge& in : n->Incoming()) {
            if (b.IsCreated.count(in.Node)) continue;
            auto& feeds = dynamic_cast<TPatternMatchNode*>(in.Node) ? alphaFeeds : betaFeeds;
            feedOf(feeds, in.Node).Targets.push_back({n, in.CallType});
        }
    }
    if (!alphaFeeds.empty())
        FEngine->ForEachFact([&](const TRefPtr<IFact>& fact) {
            TIETokenRef token = TIEToken::CreateFirst(taAdd, fact);
            for (const TFeed& feed : alphaFeeds) {
                if (!feed.Parent) {
                    feed.Targets.front().Node->Receive(token, ctSingle);
                    continue;
                }
                std::vector<TIETokenRef> passed;
                RunAlphaPath(static_cast<TPatternMatchNode*>(feed.Parent), token, passed);
                for (const auto& t : passed)
                    for (const TReteEdge& e : feed.Targets)
                        e.Node->Receive(t, e.CallType);
            }
        });
    for (const TFeed& feed : betaFeeds) {
        std::vector<TIETokenRef> outputs;
        CollectOutputs(feed.Parent, outputs);
        for (const auto& t : outputs)
            for (const TReteEdge& e : feed.Targets)
                e.Node->Receive(t, e.CallType);
    }
}

// ---------------------------------------------------------------------------------------------
// Removing rules, clearing, propagation

void TReteNetwork::DestroyNode(TReteNode* node) {
    for (const TReteEdge& in : node->FIncoming) {
        ++in.Node->FEdgeVersion;
        ++FEdgeChanges;
        in.Node->FOutgoing.RemoveNode(node);
    }
    for (const TReteEdge& o : node->FOutgoing)
        o.Node->FIncoming.RemoveNode(node);
    FRoots.erase(std::remove(FRoots.begin(), FRoots.end(), node), FRoots.end());
    RootsChanged();
    FNodes.erase(node);
}

void TReteNetwork::RemoveRule(TRule& rule) {
    auto it = FRules.find(&rule);
    if (it == FRules.end()) return;
    std::vector<TReteNode*> nodes = std::move(it->second);
    FRules.erase(it);
    // A failing handler must not leave nodes behind that no rule owns: its failure passes on
    // once the rule is out.
    std::exception_ptr failure;
    for (auto n = nodes.rbegin(); n != nodes.rend(); ++n) {
        --(*n)->RuleUseCount;
        if (OnNodeChange && !failure) {
            try {
                OnNodeChange(this, *n);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        if ((*n)->RuleUseCount <= 0) {
            // The rule's activations go while it still stands, so that their removal is
            // reported under its name (the node's destructor can only report them nameless).
            if (auto* terminal = dynamic_cast<TPatternMatchTerminalNode*>(*n)) {
                try {
                    terminal->RemoveAllActivations();
                } catch (...) {
                    if (!failure) failure = std::current_exception();
                }
            }
            DestroyNode(*n);
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void TReteNetwork::Clear() {
    // Terminal nodes first, so that their activations are reported while the rest stands.
    std::vector<TReteNode*> terminals;
    for (auto& [node, owned] : FNodes)
        if (dynamic_cast<TPatternMatchTerminalNode*>(node)) terminals.push_back(node);
    std::sort(terminals.begin(), terminals.end(),
              [](TReteNode* a, TReteNode* c) { return a->Serial() < c->Serial(); });
    for (TReteNode* t : terminals)
        static_cast<TPatternMatchTerminalNode*>(t)->RemoveAllActivations();
    FRoots.clear();
    RootsChanged();
    FRules.clear();
    FNodes.clear();
}

const std::vector<TPatternMatchNode*>* TReteNetwork::RootsFor(const IFact& fact) {
    if (typeid(fact) != typeid(TFact)) return nullptr;
    const TFactTemplate* t = static_cast<const TFact&>(fact).Template();
    if (!t) return nullptr;
    // The answer for the template is kept in it while this index stands: no name is hashed.
    TFactTemplate::TNetworkNote& note = t->NetworkNote();
    if (FRootIndexValid && note.Owner == this && note.Stamp == FRootStamp)
        return static_cast<const std::vector<TPatternMatchNode*>*>(note.Value);
    if (t->GetParent()) return nullptr;
    if (!FRootIndexValid) {
        // Unique over all networks: a note left by another network never matches.
        static std::atomic<uint64_t> stamps{0};
        FRootStamp = ++stamps;
        FRootsByName.clear();
        FRootIndexUsable = true;
        for (TPatternMatchNode* root : FRoots) {
            if (root->Kind() != pmtTestClassType || !root->Value()) {
                FRootIndexUsable = false;
                break;
            }
            FRootsByName[root->Value()->AsAtom()].push_back(root);
        }
        FRootIndexValid = true;
    }
    if (!FRootIndexUsable) return nullptr;
    static const std::vector<TPatternMatchNode*> none;
    auto it = FRootsByName.find(t->GetName());
    const std::vector<TPatternMatchNode*>* roots = it == FRootsByName.end() ? &none : &it->second;
    note = {this, FRootStamp, roots};
    return roots;
}

bool TReteNetwork::AssertToken(const TIETokenRef& token) {
    if (!token) return false;
    // The token's propagation is the span of the fact tokens' remembered probe.
    FFactTokens.Settle();
    TOnExit settle([this] { FFactTokens.Settle(); });
    const TTokenAction tag = token->GetTag();
    if (!FEnabled && (tag == taAdd || tag == taUpdate)) return false;
    // Dispatch by template: a fact visits only the roots testing for its template's name.
    if (tag != taClear && token->Size() > 0)
        if (const std::vector<TPatternMatchNode*>* own = RootsFor(*token->FactPtr(0))) {
            // A copy, as below; most templates have one root.
            if (own->size() == 1) {
                (*own)[0]->Receive(token, ctSingle);
            } else {
                const std::vector<TPatternMatchNode*> roots = *own;
                for (TPatternMatchNode* root : roots)
                    root->Receive(token, ctSingle);
            }
            return true;
        }
    // A root added while the token runs (none should be) would not be visited twice.
    const std::vector<TPatternMatchNode*> roots = FRoots;
    for (TPatternMatchNode* root : roots)
        root->Receive(token, ctSingle);
    return true;
}

void TReteNetwork::ActivationAdded(TActivation* activation) {
    if (FSink) FSink->ActivationAdded(activation);
    if (OnActivation) [[unlikely]]
        OnActivation(this, activation);
}

void TReteNetwork::ForwardRemoved(TActivation* activation) {
    if (FSink)
        FSink->ActivationRemoved(activation);
    else
        delete activation; // without an agenda the node is the only holder
}

void TReteNetwork::ActivationRemoved(TActivation* activation) {
    // The activation has left its node already: a failing handler must not keep it from the
    // engine, which alone can free it.
    if (OnDeactivation) [[unlikely]] {
        try {
            OnDeactivation(this, activation);
        } catch (...) {
            ForwardRemoved(activation);
            throw;
        }
    }
    ForwardRemoved(activation);
}

void TReteNetwork::ActivationFired(TActivation* activation) {
    if (OnRuleFired) [[unlikely]] {
        try {
            OnRuleFired(this, activation);
        } catch (...) {
            if (FSink) FSink->ActivationFired(activation);
            throw;
        }
    }
    if (FSink) FSink->ActivationFired(activation);
}

namespace {

void FillTree(const TReteNode& node, TReteTreeItem& item) {
    item.Node = &node;
    item.Children.reserve(node.Outgoing().size());
    for (const TReteEdge& e : node.Outgoing()) {
        TReteTreeItem& child = item.Children.emplace_back();
        child.Caption = std::string(CallTypeName(e.CallType)) + " " + e.Node->GetText();
        FillTree(*e.Node, child);
    }
}

} // namespace

void TReteNetwork::AssignTo(std::vector<TReteTreeItem>& view) const {
    view.clear();
    view.reserve(FRoots.size());
    for (const TPatternMatchNode* root : FRoots) {
        TReteTreeItem& item = view.emplace_back();
        item.Caption = root->GetText();
        FillTree(*root, item);
    }
}

} // namespace ie

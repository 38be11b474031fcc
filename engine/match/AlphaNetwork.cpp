// The alpha network: the nodes a fact passes alone (template, constant and slot-length tests,
// predicates on its own slots, multifield splits), the constant index that hands a fact to the
// one child whose constant it carries, and the base node every node of the network shares.
#include "engine/match/ReteNetwork.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <unordered_map>

#include <boost/container/small_vector.hpp>

#include "engine/match/FuzzyExpression.h"
#include "engine/match/ReteInternal.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/Assert.h"
#include "platform/Format.h"
#include "platform/Restore.h"

namespace ie {

using rete::CutToken;
using rete::IntText;
using rete::TContextBinding;

namespace {

// A slot value read without error: null when the fact's template lacks the slot.
TRefPtr<IIEValue> SlotOf(const IFact& fact, const std::string& slot, TSlotPosition& position) {
    TRefPtr<IIEValue> value;
    if (!FindSlotValueAt(fact, slot, position, value)) return nullptr;
    return value;
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

} // namespace ie

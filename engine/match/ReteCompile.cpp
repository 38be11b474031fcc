// Compiling a rule into the network, sharing the nodes it has in common with the rules before,
// and priming its new nodes.
//
// Invariant: only a rule's new nodes are primed with what their older parents hold, so rules
// compiled earlier are never handed a token again.
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

using rete::IntText;

namespace {

// Where a rule's compilation failed, after the failure's own message.
constexpr std::string_view ElementErrorMessage = "%s, in CE %s (%s) of rule %s";
constexpr std::string_view ActionErrorMessage = "%s, in the actions of rule %s";
constexpr std::string_view FieldBeforeAddressMessage =
    "Variable ?%s is used before the element that binds it to a fact";

TRefPtr<IIEValue> Atom(std::string_view text) {
    return TIEValue::CreateText(dtAtom, text);
}

// The arguments of an alpha node only ever get read: the shared constant of a small number
// spares every node of a program of many rules a value of its own.
TRefPtr<IIEValue> Int(int32_t n) {
    if (TRefPtr<IIEValue> shared = TIEValue::SharedInteger(n)) return shared;
    return TIEValue::CreateInteger(dtInteger, n);
}

bool IsVariableValue(const IIEValue* v) {
    return v && (v->GetDType() == dtVariable || v->GetDType() == dtMultiVariable);
}

} // namespace

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

} // namespace ie

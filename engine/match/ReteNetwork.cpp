// The Rete network as a whole: owning and linking nodes, removing rules, clearing, and
// propagating fact changes to the alpha roots.
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

namespace ie {

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

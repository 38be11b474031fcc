// A rule's terminal node: the activations of its complete matches, listed with the agenda and
// withdrawn with the tokens they hold; the network's activation events they raise.
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
// TReteNetwork: the terminal nodes' activation events, in the unit of the nodes that raise them
// so that they stay in line there.

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

} // namespace ie

// The agenda: the activations (a rule with the token that matched it) waiting to fire, in firing
// order.
//
// Order: non-increasing salience; among equal saliences the newest activation first under the
// depth-first strategy and last under breadth-first. The agenda keeps its activations in one
// doubly linked list in that order, through links in the activations themselves, and a short
// vector of salience groups (highest first), each naming its first and last activation. Filing
// finds the group (its end tests first, then a binary search over the few groups) and links the
// activation at the group's front (depth-first) or back (breadth-first); taking one out unlinks
// it and looks at its group only when it was at the group's edge. Firing takes the list's head.
// None of this counts positions, so a run that nobody watches pays nothing for them.
//
// Positions (Item, IndexOf, the index AddActivation returns) come from an order-statistics index
// built on the first question that the list's ends cannot answer: a list of short sorted blocks
// keyed by (negated salience, sequence number signed by the strategy), stored back to front (the
// last block holds the first activations, last-first), so that an index is the sizes of the
// blocks behind plus the place in the block. Once built it follows every change, so a listener
// told the index of each activation (the console) costs a binary search and a block's shift per
// change rather than a walk; when as many changes as the agenda holds go by without a question
// the index is dropped again. Each activation's key is drawn at filing, whether or not the index
// exists, and the list's order is the key order: within a group the depth-first keys (negated
// sequences, newest smallest) come before the breadth-first ones (oldest smallest), which is
// where front and back filing put them.
//
// Ownership: the agenda owns its activations; destroying an activation tells the node that lists
// it (the rule's terminal node) so that no list keeps a pointer to a freed activation. An
// activation's text is only built when someone asks for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/match/IEToken.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEInterfaces.h"
#include "platform/Component.h"

namespace ie {

class TRule;
class TActivation;
class TActivationAgenda;

// The agenda's order key (see the unit's header comment).
struct TActivationKey {
    int64_t Salience; // negated, so that the higher salience comes first
    int64_t Sequence; // signed by the strategy

    friend bool operator<(const TActivationKey& a, const TActivationKey& b) noexcept {
        return a.Salience != b.Salience ? a.Salience < b.Salience : a.Sequence < b.Sequence;
    }
};

// What an activation needs of the node that made it (a rule's terminal node in the network).
class IActivationNode {
public:
    // The name of the node's rule, as the traces and the activation's text show it.
    virtual const std::string& ActivationRuleName() const = 0;
    // The rule's salience after evaluating its salience expression (a dynamic salience).
    virtual int32_t ActivationSalience() = 0;
    // Fires the rule with the activation's token; then the node drops the activation from its
    // list and reports the firing to the engine (which ends in the engine's RuleFired).
    virtual void FireActivation(TActivation& activation) = 0;
    // The activation is being destroyed: the node must forget it.
    virtual void ActivationDestroyed(TActivation& activation) noexcept = 0;
    // The token of a listed activation was withdrawn upstream: the node drops the activation
    // and reports it removed. A node whose activations hold no join's tokens has nothing to do.
    virtual void WithdrawActivation(TActivation&) {}

protected:
    ~IActivationNode() = default;
};

// A holder of its token (TTokenHolder) while its node lists it and the token was made by a join.
// Rules make and drop activations by the thousand; their memory is recycled (TPooled).
class TActivation : public TPersistent, public TTokenHolder, public TPooled<TActivation> {
public:
    TActivation(TRule* rule, float strength, IActivationNode* node, TRefPtr<IReteToken> token);
    ~TActivation() override;

    std::string_view ClassName() const override { return "TActivation"; }

    TRule* Rule() const noexcept { return FRule; }
    const TRefPtr<IReteToken>& Token() const noexcept { return FToken; }
    IActivationNode* Node() const noexcept { return FNode; }
    // Forgets the node without telling it (a node that is being destroyed).
    void DetachNode() noexcept { FNode = nullptr; }
    float Strength() const noexcept { return FStrength; }
    // Clamped to 0..1.
    void SetStrength(float value) noexcept;

    // The salience the agenda ordered this activation by (set when it is added).
    int32_t Salience() const noexcept { return FSalience; }
    const std::string& RuleName() const;
    // "<salience> <rule> : <fact ids> (<strength %.4f>)", e.g. "10 check-temp : f-1, f-4 (1.0000)".
    std::string GetText() const;
    // Runs the rule through its node.
    void Fire();

    // Agenda bookkeeping: the order key.
    using TKey = TActivationKey;
    TKey Key() const noexcept { return {-static_cast<int64_t>(FSalience), FSequence}; }
    bool InAgenda() const noexcept { return FInAgenda; }

    // The links of the node that lists the activation (its rule's terminal node), which keeps
    // its activations in making order and indexes those of first-level tokens by token hash
    // (the others are withdrawn through their token's holder list); only that node uses them.
    struct TNodeLinks {
        TActivation* Prev = nullptr;
        TActivation* Next = nullptr;
        TActivation* HashPrev = nullptr;
        TActivation* HashNext = nullptr;
        int32_t Hash = 0; // the token's hash code (an indexed activation)
        bool Listed = false;
        bool Indexed = false; // in the hash index rather than its token's holder list
    };
    TNodeLinks NodeLinks;
    // True while the run loop fires this activation.
    bool Firing() const noexcept { return FFiring; }
    void SetFiring(bool value) noexcept { FFiring = value; }

private:
    friend class TActivationAgenda;
    TRule* FRule;
    TRefPtr<IReteToken> FToken;
    IActivationNode* FNode;
    float FStrength = 1.0f;
    int32_t FSalience = 0;
    bool FInAgenda = false;
    bool FFiring = false;
    // The key's sequence number, signed by the strategy it was filed under.
    int64_t FSequence = 0;
    // The agenda the activation is filed in while FInAgenda, and its neighbours there.
    TActivationAgenda* FAgenda = nullptr;
    TActivation* FAgendaPrev = nullptr;
    TActivation* FAgendaNext = nullptr;
};

// The ordered, owning list of activations.
class TActivationAgenda {
public:
    TActivationAgenda() = default;
    TActivationAgenda(const TActivationAgenda&) = delete;
    TActivationAgenda& operator=(const TActivationAgenda&) = delete;
    virtual ~TActivationAgenda();

    TSearchStrategy Strategy() const noexcept { return FStrategy; }
    // Only the order of later insertions changes; SetStrategy of the engine re-adds the entries.
    void SetStrategy(TSearchStrategy value) noexcept { FStrategy = value; }

    int32_t Count() const noexcept { return FCount; }
    bool Empty() const noexcept { return FCount == 0; }
    // Raises the list index error outside 0..Count-1.
    TActivation* Item(int32_t index) const;
    TActivation* First() const noexcept { return FHead; }
    // The first activation that is not firing right now (a nested run skips the firing ones).
    TActivation* FirstIdle() const noexcept;
    // The index of the activation, -1 when it is not in this agenda.
    int32_t IndexOf(const TActivation* activation) const;
    bool Holds(const TActivation* activation) const noexcept {
        return activation && activation->FInAgenda && activation->FAgenda == this;
    }

    // Takes ownership, files the activation under `salience` and returns its index.
    int32_t AddActivation(TActivation* activation, int32_t salience);
    // The same without counting out the index.
    void File(TActivation* activation, int32_t salience);
    // Takes the activation out without freeing it (the caller owns it now).
    TActivation* Extract(TActivation* activation);
    TActivation* RemoveActivation(int32_t index) { return Extract(Item(index)); }
    // Takes every activation out, in agenda order, without freeing them.
    std::vector<TActivation*> ExtractAll();
    // Frees every activation.
    void Clear();
    // The activations' texts in agenda order, each followed by CR LF.
    std::string GetText() const;

    // Where an activation of this salience would go: the first index of an equal salience under
    // depth-first, after the last equal salience under breadth-first; -1 means appended.
    int32_t GetInsertIndex(int32_t salience) const;

    // Verifies the order and the counts of the unit's header comment (StructureChecks.cpp);
    // raises a logic error naming the first invariant broken.
    void CheckInvariants() const;

private:
    // A run of activations of one salience: they are linked from First to Last in the list.
    struct TGroup {
        int32_t Salience;
        TActivation* First;
        TActivation* Last;
    };
    // The place of `salience` among the groups: the first group whose salience is not higher.
    size_t GroupFor(int32_t salience) const noexcept;
    // Links the activation into the list and its group by its salience and the strategy.
    void Link(TActivation* activation);
    // Links the activation in front of `next` (at the tail when null).
    void LinkBefore(TActivation* activation, TActivation* next) noexcept;
    void Unlink(TActivation* activation);
    // Files the activation: its key, the list and, when built, the index (its block and slot
    // there, NoPlace without the index).
    std::pair<size_t, size_t> Insert(TActivation* activation, int32_t salience);

    // The order-statistics index (see the unit's header comment).
    static constexpr size_t BlockSize = 64;
    static constexpr size_t NoPlace = static_cast<size_t>(-1);
    // A block keeps the keys beside the activations, so that a search reads no activation.
    struct TSlot {
        TActivationKey Key;
        TActivation* Activation;
    };
    // Largest key first (see the unit's header comment).
    using TBlock = std::vector<TSlot>;
    // Builds the index from the list unless it is there; a question resets the count of changes
    // made without one.
    void NeedIndex() const;
    void DropIndex() const noexcept;
    // Counts a change the index followed; drops the index after many without a question.
    void IndexChanged() const noexcept;
    // The block that holds `key` or would take it: the first whose smallest (last) key is not
    // greater, or the last block (FBlocks must not be empty).
    size_t BlockFor(const TActivationKey& key) const noexcept;
    // The place in `block` of the first key less than `key`.
    static size_t FirstLess(const TBlock& block, const TActivationKey& key) noexcept;
    // The number of activations ordered before the keys of block `b` that are less than `key`.
    int32_t Before(size_t b, size_t less) const noexcept;
    // Files the activation in the index; its block and slot.
    std::pair<size_t, size_t> IndexInsert(TActivation* activation);
    // Takes the activation out of the index.
    void IndexErase(TActivation* activation);
    // The number of activations ordered before `key`.
    size_t Rank(const TActivationKey& key) const noexcept;
    // Remembers the index last computed for an activation and, with the index built, its place:
    // removing an activation asks for its index, then for the activation at that index, and
    // then takes it out, and a listing asks for one index after the other. Any change forgets
    // it.
    void Remember(int32_t index, TActivation* activation, size_t block = NoPlace,
                  size_t slot = 0) const noexcept {
        FKnownIndex = index;
        FKnownActivation = activation;
        FKnownBlock = block;
        FKnownSlot = slot;
    }
    // Remembers the list's first or last activation (with its place when the index is built).
    void RememberEnd(bool first) const noexcept;
    void Forget() const noexcept { FKnownActivation = nullptr; }

    TActivation* FHead = nullptr;
    TActivation* FTail = nullptr;
    std::vector<TGroup> FGroups; // highest salience first
    int32_t FCount = 0;
    TSearchStrategy FStrategy = ssDepthFirst;
    int64_t FSequence = 0;

    mutable bool FIndexed = false;
    mutable std::vector<TBlock> FBlocks;
    // The blocks' sizes side by side, for summing them quickly.
    mutable std::vector<int32_t> FSizes;
    // Changes the index followed since it last answered a question.
    mutable int64_t FUnasked = 0;
    mutable int32_t FKnownIndex = -1;
    mutable TActivation* FKnownActivation = nullptr;
    mutable size_t FKnownBlock = NoPlace;
    mutable size_t FKnownSlot = 0;
};

// The engine's agenda.
class TIEAgenda : public TActivationAgenda {
public:
    explicit TIEAgenda(TComponent* engine) : FEngine(engine) {}
    TComponent* Engine() const noexcept { return FEngine; }

private:
    TComponent* FEngine;
};

} // namespace ie

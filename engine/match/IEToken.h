// Rete tokens and token memories.
//
// A token (TIEToken) is a chain of matched facts, one per level, with the action that caused it,
// a fuzzy strength and a hash code. It is the one token class of the engine: the Rete network
// makes, stores and passes nothing else. A token holds its own fact and its parent; the fact of
// an earlier level is its ancestor's, a few steps up a chain of tokens that the join tests of one
// rule keep in cache. A token is kept small (a cache line and a half with its links): making and
// dropping tokens is most of the work of a rule program whose facts change often. A token a join
// makes for the left memory of another join carries the room for its entry there (TakeEntrySlot):
// the partial match is one block.
//
// A token memory (TIETokenTree) holds the tokens of one join input; the network's joins file
// their tokens under keys they compute themselves (Insert) and keep a negation count per entry.
// A token has two keys: the shown key (KeyOf: what the memory's text groups the tokens by) and
// the probe key (the join's key over all its equality tests: what a join looks tokens up by).
//
// Retraction follows links instead of searching. A token a join makes (a child) is linked into
// the child lists of the two memory entries it was made from (the left one holds it), and every
// place that keeps it downstream (an entry of a later join's memory, an activation) is linked
// into the token's holder list. Withdrawing an entry withdraws its children, and withdrawing a
// child removes each of its holders, oldest first, which is the order in which propagation
// reached them. Only first-level tokens (one per fact change, made afresh for the removal) are
// found by equality: in the join network through the one token of their identity that every
// memory's entry of the fact is held by (TFactTokens), elsewhere through a memory's identity
// index.
// Invariants (CheckInvariants verifies them in checked builds):
//   - every stored token is in the arrival list (oldest first) and in the chain of its probe key
//     (oldest first); an indexed token is in the identity index (keyed by token equality,
//     TIEToken::Equals), a held one in its token's holder list;
//   - no two stored tokens are equal;
//   - adding, finding and removing a token are O(1) on average, whatever the memory holds.
// The historical bucket count only groups the tokens in the memory's text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "engine/model/BlockPool.h"
#include "engine/model/FlatTables.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEInterfaces.h"

namespace ie {

// "taClear", "taAdd", "taRemove", "taUpdate".
std::string_view TokenActionName(TTokenAction action) noexcept;

// Chains of intrusively linked nodes by a 32-bit key, each chain in arrival order (oldest
// first): a flat map from key to the chain's first node. It serves the terminal nodes' identity
// index of activations (the token memories chain their entries in a table of their own, see
// TIETokenTree). `Links` names the node's two link fields: static P*& Prev(TNode&) and Next, where
// P is TNode or a base of it (a node may keep its links in a base it shares with other lists).
template <class TNode, class Links> class TKeyChains {
public:
    TNode* First(int32_t key) const noexcept {
        const auto it = FMap.find(key);
        return it == FMap.end() ? nullptr : it->second;
    }
    // Appends the node to its key's chain; returns the chain's first node before (null for a
    // new key).
    TNode* Append(int32_t key, TNode& node) {
        auto it = FMap.find(key);
        Links::Next(node) = nullptr;
        if (it == FMap.end()) {
            // Keys come and go as chains empty and fill again (see FlatTables.h).
            MakeRoomToInsert(FMap);
            FMap.emplace(key, &node);
            Links::Prev(node) = &node;
            return nullptr;
        }
        TNode* first = it->second;
        TNode* last = static_cast<TNode*>(Links::Prev(*first));
        Links::Prev(node) = last;
        Links::Next(*last) = &node;
        Links::Prev(*first) = &node;
        return first;
    }
    // Unlinks a node of the chain of `key`; a chain left empty goes.
    void Unlink(int32_t key, TNode& node) noexcept {
        TNode* before = static_cast<TNode*>(Links::Prev(node));
        TNode* after = static_cast<TNode*>(Links::Next(node));
        // A node inside its chain (neither first, whose Prev is the last node, nor last) leaves
        // the chain's head as it is: no lookup.
        if (before && after && Links::Next(*before) == &node) {
            Links::Next(*before) = after;
            Links::Prev(*after) = before;
            Links::Prev(node) = nullptr;
            Links::Next(node) = nullptr;
            return;
        }
        const auto it = FMap.find(key);
        if (it == FMap.end()) return;
        TNode* first = it->second;
        TNode* prev = static_cast<TNode*>(Links::Prev(node));
        TNode* next = static_cast<TNode*>(Links::Next(node));
        if (&node == first) {
            if (next) {
                Links::Prev(*next) = prev; // the last node
                it->second = next;
            } else {
                FMap.erase(it);
            }
        } else {
            Links::Next(*prev) = next;
            (next ? Links::Prev(*next) : Links::Prev(*first)) = prev;
        }
        Links::Prev(node) = nullptr;
        Links::Next(node) = nullptr;
    }
    void Clear() noexcept { FMap.clear(); }
    template <class F> void ForEachKey(F&& f) const {
        for (const auto& [key, first] : FMap)
            f(key, first);
    }

private:
    // Each chain's first node; the chain runs on through Next, and the first node's Prev is the
    // last node (so that appending needs no second pointer per key).
    boost::unordered_flat_map<int32_t, TNode*> FMap;
};

class TIEToken;
struct TTokenEntry;
class TIETokenTree;

// The two links of a place downstream that keeps a token made by a join (see TTokenHolder),
// in its token's holder list.
struct THolderLinks {
    // Null while the holder is out of every list; a list's first holder's is its last one.
    THolderLinks* HolderPrev = nullptr;
    THolderLinks* HolderNext = nullptr;
};

// A place downstream that keeps a token made by a join: an entry of a join memory or an
// activation. The token lists its holders (newest last) so that withdrawing it reaches each. The
// kind of a holder follows its links: an activation keeps both here, a memory entry keeps its
// links in front of itself and its kind as its first field (see TTokenEntry), so that an entry
// which needs no links (one in its token's room, an indexed one) has none.
struct TTokenHolder {
    enum TKind : uint8_t { hkEntry, hkActivation };
    explicit TTokenHolder(TKind kind) noexcept : HolderKind(kind) {}
    TTokenHolder(const TTokenHolder&) = delete;
    TTokenHolder& operator=(const TTokenHolder&) = delete;

    THolderLinks Links;
    TKind HolderKind;

    // The kind of the holder whose links these are.
    static TKind KindOf(const THolderLinks& links) noexcept {
        TKind kind;
        std::memcpy(&kind, reinterpret_cast<const char*>(&links) + sizeof(THolderLinks),
                    sizeof kind);
        return kind;
    }
    // The holder of an activation's links.
    static TTokenHolder& OfLinks(THolderLinks& links) noexcept {
        return *reinterpret_cast<TTokenHolder*>(&links);
    }
};
static_assert(std::is_standard_layout_v<TTokenHolder> &&
              offsetof(TTokenHolder, HolderKind) == sizeof(THolderLinks));

class TIEToken final : public IReteToken {
public:
    // An empty token (no fact, size 0, strength 1.0); becomes a clear token with SetTag.
    TIEToken() noexcept;
    ~TIEToken() override;
    TIEToken(const TIEToken&) = delete;
    TIEToken& operator=(const TIEToken&) = delete;

    // Tokens come from the block pool in three sizes: a join whose children go on to the left
    // memory of another join makes them with room for that memory's entry in front of the token
    // (see EntrySlot), so that a partial match is one block: one allocation and one cache miss
    // less for each, made and withdrawn. (A join's child made with a match cut takes a block a
    // word larger of each size: see TrailingCut.) The block goes back to its pool by the size it
    // has, which its bits tell.
    // The room a token keeps for an entry: none, an entry of a memory without probe-key
    // chains, or a chained one (which the other kind fits in too).
    enum TEntrySlot : uint8_t { esNone, esPlain, esChained };
    struct TWithEntrySlot {
        TEntrySlot Slot;
        bool CutRoom = false; // a word for a match cut behind the token
    };
    static void* operator new(size_t size);
    static void* operator new(size_t size, TWithEntrySlot slot);
    static void operator delete(void* p) noexcept;
    static void operator delete(void* p, TWithEntrySlot slot) noexcept;
    static void operator delete(TIEToken* p, std::destroying_delete_t) noexcept;
    // The block of a token with a word of room for its cut behind it, and back.
    static void* NewWithCutRoom(TEntrySlot slot);
    static void DeleteWithCutRoom(void* p, TEntrySlot slot) noexcept;

    static TRefPtr<TIEToken> Create() { return TRefPtr<TIEToken>(new TIEToken()); }
    // A first-level token: size 1, the fact, the action, hash code = the fact's identifier.
    static TRefPtr<TIEToken> CreateFirst(TTokenAction tag, TRefPtr<IFact> fact);
    // Every field of the token, but a negated count of 0.
    static TRefPtr<TIEToken> CreateCopy(const TIEToken& token);
    // One level more: the parent's action and strength, hash code parent * 8 + fact identifier
    // (parent * 8 without a fact).
    static TRefPtr<TIEToken> CreateChild(const TRefPtr<TIEToken>& parent, TRefPtr<IFact> fact);
    // One level more with the given action and strength (a negative strength is stored as 0):
    // the join result of the network.
    // `entrySlot`: the room the token keeps for one memory entry (see TakeEntrySlot).
    static TRefPtr<TIEToken> CreateChild(const TRefPtr<TIEToken>& parent, TRefPtr<IFact> fact,
                                         TTokenAction tag, float strength,
                                         TEntrySlot entrySlot = esNone);
    // The same with the fact of a first-level token `right` and the cuts it holds.
    static TRefPtr<TIEToken> CreateChild(const TRefPtr<TIEToken>& parent, const TIEToken& right,
                                         TTokenAction tag, float strength,
                                         TEntrySlot entrySlot = esNone);
    // The same chain with another action and strength (negative: 0) and no negated count.
    static TRefPtr<TIEToken> CreateCopy(const TIEToken& token, TTokenAction tag, float strength);
    // The token object behind an interface known to hold one (every token of the network).
    static const TIEToken& Of(const IReteToken& token) noexcept {
        return static_cast<const TIEToken&>(token);
    }

    // Copies size, negated count, fact, parent, hash code, action and strength.
    void Assign(const TIEToken& source);

    // Fast access for the network.
    int32_t Size() const noexcept { return FSize; }
    // The last fact of the chain (null for a clear token).
    IFact* LastFact() const noexcept { return FFact.get(); }
    // The fact of this level (null for a clear token).
    IFact* Fact() const noexcept { return FFact.get(); }
    const TRefPtr<IFact>& FactRef() const noexcept { return FFact; }
    // The fact at index (0 = first); an index past the end gives the last fact, a negative
    // index or a token without facts gives null.
    IFact* FactPtr(int32_t index) const noexcept {
        const TIEToken* t = LevelPtr(index);
        return t ? t->FFact.get() : nullptr;
    }
    const TRefPtr<TIEToken>& Parent() const noexcept { return FParent; }
    int32_t HashCode() const noexcept { return FHashCode; }
    // The key of the identity indexes (memories, activations): the hash code, told apart by the
    // cut for the tokens a multifield split makes of one fact (all of one hash code), so that
    // the n + 1 cuts of a slot of n elements do not share one chain.
    int32_t IdentityHash() const noexcept {
        return static_cast<int32_t>(static_cast<uint32_t>(FHashCode) ^ (Cut() * 0x9E3779B1u));
    }
    uint32_t Cut() const noexcept { return FHasCut ? FCut : 0; }
    // Marks a split's token with its cut (the position and length of the run it gave the
    // variable, mixed into the cut of the token it was split from). Only a first-level token,
    // never a join's child, is cut (see FCut).
    void SetCut(uint32_t cut) noexcept;
    // The positions of the cuts a split made of this level's fact (null: none): the fact is the
    // one matched, not a copy, and its cut slots are read through them.
    // (In line the one bit of the usual case only: the joins' readers of keys and tests inline
    // it everywhere.)
    const TMatchCut* MatchCut() const noexcept { return FHasMatchCut ? HeldMatchCut() : nullptr; }
    TRefPtr<TMatchCut> MatchCutRef() const noexcept {
        return TRefPtr<TMatchCut>(const_cast<TMatchCut*>(MatchCut()));
    }
    // (Not for a join's child: it has its cut from its making.)
    void SetMatchCut(TRefPtr<TMatchCut> cut);
    // The token of the level at `index` (the one FactPtr takes the fact of).
    const TIEToken* LevelPtr(int32_t index) const noexcept {
        if (index < 0 || FSize == 0) return nullptr;
        const TIEToken* t = this;
        for (int32_t level = FSize - 1; level > index; --level) {
            t = t->FParent.get();
            if (!t) return nullptr;
        }
        return t;
    }
    TTokenAction Tag() const noexcept { return static_cast<TTokenAction>(FTag); }
    float Strength() const noexcept { return FStrengthKept ? KeptStrength() : 1.0f; }
    int32_t NegatedCount() const noexcept { return FCounted ? StoredNegatedCount() : 0; }

    // A negative count is stored as 0.
    void SetNegatedCount(int32_t count);
    // A changed strength below 0 (or not a number) is stored as 0.
    void SetStrength(float strength);
    // An action other than taClear on a token without fact is a fault (IE_ASSERT).
    void SetTag(TTokenAction action);

    // Same token; or equal hash codes, fact identifiers and strengths, and then: no parent here
    // or the same parent object (true), no parent there (false), else the parents decide.
    // Two fact objects with one identifier (the copies a multifield split makes of one fact, one
    // per way of splitting, where a rule's join reads the cut fact itself) are the same fact only
    // when their values are equal, and two levels of one fact are the same only when they hold
    // the same cuts (TMatchCut), so that each split stays a match of its own.
    bool Equals(const TIEToken& other) const;

    // IReteToken
    int32_t FactCount() const noexcept override { return FSize; }
    TRefPtr<IFact> GetFact(int32_t index) const override { return TRefPtr<IFact>(FactPtr(index)); }
    const IFact* BorrowFact(int32_t index) const noexcept override { return FactPtr(index); }
    const TMatchCut* CutAt(int32_t index) const noexcept override {
        const TIEToken* t = LevelPtr(index);
        return t ? t->MatchCut() : nullptr;
    }
    const IFact* BorrowFactCut(int32_t index, const TMatchCut*& cut) const noexcept override {
        const TIEToken* t = LevelPtr(index);
        cut = t ? t->MatchCut() : nullptr;
        return t ? t->FFact.get() : nullptr;
    }
    TRefPtr<IFact> FactAt(int32_t index) const override { return TRefPtr<IFact>(FactPtr(index)); }
    TRefPtr<IReteToken> GetParent() const override { return FParent; }
    int32_t GetHashCode() const override { return FHashCode; }
    TTokenAction GetTag() const noexcept override { return Tag(); }
    float GetStrength() const noexcept override { return Strength(); }
    int32_t GetNegatedCount() const noexcept override { return NegatedCount(); }
    bool Equals(const IReteToken* other) const override;
    // The action's name, " cnt=" size, " negcnt=" negated count, then CR LF and the text of
    // each level's fact from this level up to the first.
    std::string GetText() const override;
    std::string FactIdList() const override;

    // The holders of a token made by a join (see TTokenHolder), oldest first: the entry in the
    // token's room while it holds the token (SlotHolder: the oldest, when there is one), then
    // those of the list FirstHolder leads.
    TTokenEntry* SlotHolder() const noexcept;
    THolderLinks* FirstHolder() const noexcept { return FHolders; }
    bool Held() const noexcept { return FHolders || FSlotUsed; }
    void AddHolder(THolderLinks& holder) noexcept;
    void RemoveHolder(THolderLinks& holder) noexcept;
    void AddHolder(TTokenHolder& holder) noexcept { AddHolder(holder.Links); }
    void RemoveHolder(TTokenHolder& holder) noexcept { RemoveHolder(holder.Links); }
    // The entries this token was made from (null when it was made by no join, or once they
    // dropped it); the right one is null for a negated join's placeholder.
    TTokenEntry* LeftOwner() const noexcept { return FLeftOwner; }
    TTokenEntry* RightOwner() const noexcept { return FRightOwner; }
    // The next child of the same left or right entry.
    TIEToken* NextOfLeft() const noexcept { return FLeftNext; }
    TIEToken* NextOfRight() const noexcept { return FRightNext; }
    // The sharer number of the join that made it (see FSharer; 0 unless its right entry is one
    // of a shared memory).
    uint8_t Sharer() const noexcept { return FSharer; }

    // The room in front of a token made with an entry slot, free for the entry of the first memory
    // that holds it (null when there is none, it is taken, too small for an entry of `kind`, or
    // the token has holders already: the entry in the room is its oldest holder);
    // the memory gives it back with FreeEntrySlot when it frees that entry, which holds a count
    // of the token meanwhile.
    void* TakeEntrySlot(TEntrySlot kind) noexcept {
        if (FSlot == esNone || FSlotUsed || FSlot < kind || FHolders) return nullptr;
        FSlotUsed = 1;
        return EntrySlot();
    }
    void FreeEntrySlot() noexcept { FSlotUsed = 0; }
    // The bytes of the room for an entry of `slot`, in front of the token.
    static constexpr size_t EntrySlotBytes(TEntrySlot slot) noexcept;

private:
    friend struct TTokenEntry;

    // A join's child: the word of the small fields written once, the fact, parent and hash
    // code stored in place (the references taken over).
    TIEToken(int32_t size, TTokenAction tag, TEntrySlot slot, int32_t hashCode,
             TRefPtr<IFact>&& fact, TRefPtr<TIEToken>&& parent) noexcept;
    // The join's children of both kinds (`cut`: the right token's, null when none).
    static TRefPtr<TIEToken> MakeChild(const TRefPtr<TIEToken>& parent, TRefPtr<IFact> fact,
                                       TTokenAction tag, float strength, TEntrySlot entrySlot,
                                       const TMatchCut* cut);

    // The network never counts negations on a token: a count other than 0 is kept aside, by
    // the token's address, so that it costs the tokens of a match nothing.
    int32_t StoredNegatedCount() const noexcept;
    // The same for a strength other than 1.0 (a fuzzy match's): a match of crisp facts, nearly
    // every one, keeps none.
    float KeptStrength() const noexcept;
    // Stores a strength already made valid (not negative, a number).
    void KeepStrength(float strength);
    // A join's child made with a cut (that of the right token, which only a rule whose split
    // pattern is not its first has) keeps it in a word of room behind it (see TWithEntrySlot).
    TMatchCut* const* TrailingCut() const noexcept {
        return reinterpret_cast<TMatchCut* const*>(this + 1);
    }
    [[gnu::cold]] const TMatchCut* HeldMatchCut() const noexcept {
        return *(FJoinChild ? TrailingCut() : &FOwnMatchCut);
    }
    // The room lies in front of the token, so that the fields a walk over a memory reads (the
    // entry's links, key and mark at its end) share a cache line with the token's first ones
    // (its fact and parent, which the join's tests read next).
    // (Only for a token with room.)
    void* EntrySlot() const noexcept;

    // The size and the small fields share one word (a token of 2^21 levels would take a rule
    // of as many patterns and hundreds of megabytes of its tokens), which fills the tail of the
    // count's base, so that a token is 96 bytes.
    int32_t FSize : 22 = 0;
    uint32_t FTag : 2 = taAdd;
    uint32_t FSlot : 2 = esNone;    // the room for an entry it was made with
    uint32_t FSlotUsed : 1 = 0;     // an entry lives in it
    uint32_t FCounted : 1 = 0;      // a negated count other than 0 is kept aside
    uint32_t FStrengthKept : 1 = 0; // a strength other than 1.0 is kept aside
    uint32_t FHasCut : 1 = 0;       // FCut holds the cut
    uint32_t FHasMatchCut : 1 = 0;  // MatchCut is not null
    uint32_t FJoinChild : 1 = 0;    // made by a join: its links are in use (see TrailingCut)
    int32_t FHashCode = 0;
    // The sharer number of the join that made it, when its right entry is one of a shared
    // memory (see TSharedEntry): the entry's child list tells its sharers' children apart by it.
    uint8_t FSharer = 0;
    TRefPtr<IFact> FFact;
    TRefPtr<TIEToken> FParent;
    // The links of a child (see the unit's header comment).
    // The first listed holder; its HolderPrev is the last (so that appending needs no second
    // pointer).
    THolderLinks* FHolders = nullptr;
    TTokenEntry* FLeftOwner = nullptr;
    TTokenEntry* FRightOwner = nullptr;
    union {
        TIEToken* FLeftPrev = nullptr;
        // A token no join made is no join's child: its match cut, counted, takes the room of a
        // child's link (see MatchCut).
        TMatchCut* FOwnMatchCut;
    };
    TIEToken* FLeftNext = nullptr;
    union {
        TIEToken* FRightPrev = nullptr;
        // A split's first-level token is no join's child: its cut takes the room of a child's
        // link (FHasCut tells which the field holds).
        uint32_t FCut;
    };
    TIEToken* FRightNext = nullptr;
};

// A cache line and a half. The entry room in front of a token is sized by it.
static_assert(sizeof(void*) != 8 || sizeof(TIEToken) <= 96, "a token grew");

using TIETokenRef = TRefPtr<TIEToken>;

// Asks for the cache lines of a token that is about to be unlinked (a pool block of a token may
// straddle three lines): a child list is walked one link after another, and each child has long
// left the cache.
inline void PrefetchToken(const TIEToken* token) noexcept {
    const char* p = reinterpret_cast<const char*>(token);
    __builtin_prefetch(p, 1);
    __builtin_prefetch(p + 64, 1);
    __builtin_prefetch(p + sizeof(TIEToken) - 1, 1);
}

// What a memory's owner does when a held entry's token is withdrawn upstream: withdraw what the
// entry supports and erase it (a join removing one of its left tokens).
class ITokenMemoryOwner {
public:
    virtual void WithdrawEntry(TTokenEntry& entry) = 0;

protected:
    ~ITokenMemoryOwner() = default;
};

// One stored token of a memory with its links in the arrival list, in its key chain and in the
// identity index (an indexed entry) or its token's holder list (a held entry), the mark of a
// negated join (which right entry blocks a left one), and the children the join made with it.
// An entry of a memory kept without probe-key chains is just this (64 bytes); a chained memory's
// entry is a TChainedEntry, which adds the chain links at the end (80 bytes). A held entry that
// lives in its own block has its holder links in front of it (16 bytes more, see Links); the
// entry in its token's room needs none: the token knows it as its oldest holder (SlotHolder).
struct TTokenEntry {
    TTokenEntry(TIETokenTree* tree, TIETokenRef token, int32_t key, int32_t probeKey,
                bool linked = false) noexcept
        : Linked(linked), Key(key), Token(std::move(token)), Tree(tree), ProbeKey(probeKey),
          Fact(Token->LastFact()) {}
    // Unlinks the entry from its token's holders and lets its children go. An entry in its
    // token's slot leaves the count it holds to its memory, which releases the token after
    // freeing the slot.
    ~TTokenEntry();
    TTokenEntry(const TTokenEntry&) = delete;
    TTokenEntry& operator=(const TTokenEntry&) = delete;
    bool InTokenSlot() const noexcept { return InSlot; }
    // Whether this entry and one of the other memory of its join hold equal values in every
    // hash test: both keys exact (see ExactKey) and equal.
    bool ExactKeyEquals(const TTokenEntry& other) const noexcept {
        return ExactKey && other.ExactKey && ProbeKey == other.ProbeKey;
    }

    // The holder links of an entry with links (held, not in its token's room), and the entry of
    // such links.
    THolderLinks& Links() noexcept {
        return *reinterpret_cast<THolderLinks*>(reinterpret_cast<char*>(this) -
                                                sizeof(THolderLinks));
    }
    static TTokenEntry& OfLinks(THolderLinks& links) noexcept {
        return *std::launder(
            reinterpret_cast<TTokenEntry*>(reinterpret_cast<char*>(&links) + sizeof(THolderLinks)));
    }
    static const TTokenEntry& OfLinks(const THolderLinks& links) noexcept {
        return OfLinks(const_cast<THolderLinks&>(links));
    }
    // The entry after this one among its token's holders, null when the next holder is no entry
    // or there is none.
    TTokenEntry* NextHeldEntry() const noexcept;

    // The small fields first, the kind of holder leading (see TTokenHolder). A join's walk over
    // a memory reads Mark, Fact and the link it follows (Next, or a chained entry's KeyNext),
    // which sit together at the end so that a visit costs the entry's one cache line and not the
    // token's too.
    TTokenHolder::TKind HolderKind = TTokenHolder::hkEntry;
    bool Indexed : 1 = false;
    bool InSlot : 1 = false; // lives in the room its token keeps for an entry
    bool Linked : 1 = false; // has holder links in front of it
    // The probe key tells the values of its join's hash tests apart (integers packed whole): two
    // such entries of one probe key pass those tests, which their join then does not run.
    bool ExactKey : 1 = false;
    // A negated join's right entry has no children (the placeholders it decides on have no
    // right partner); it counts instead the left entries it was made the blocker of, so that
    // its removal looks for them only when there may be some. Left entries that go while
    // blocked are not taken off, and the count stops at its maximum: it may be too high, never
    // too low.
    uint8_t Blocked = 0;
    int32_t Key = 0; // the shown key
    TIETokenRef Token;
    TIETokenTree* Tree;
    TTokenEntry* Prev = nullptr;
    // The tokens the join made with this entry, oldest first (left entries hold them). The
    // first child's link back (in this entry's side) leads to the last child, so that appending
    // needs no second pointer per entry.
    TIEToken* FirstChild = nullptr;
    int32_t ProbeKey = 0; // the key of the chain the entry is in
    // A negated join's mark: a right entry's own number, and in a left entry the number of the
    // right entry that blocks it (one that matches it; 0 while none does).
    uint32_t Mark = 0;
    union {
        // The token's last fact (Token keeps it alive), which a join's walk over its right
        // memory reads.
        IFact* Fact;
        // Instead in a negated join's left memory (see TIETokenTree::SetSplit), whose entries
        // no walk reads the fact of: the entry's number in the memory's arrival order, by which
        // an entry that changes chains takes its place in the other.
        uint32_t Seq;
    };
    TTokenEntry* Next = nullptr;

    // Links `child` below `left` and `right` (null for a negated join's placeholder); the left
    // entry holds it.
    // (In line, appending directly: every join's child is adopted so, once.)
    static void AdoptChild(TTokenEntry& left, TTokenEntry* right, TIEToken& child) noexcept {
        child.AddRef();
        child.FLeftOwner = &left;
        AppendChild<&TIEToken::FLeftPrev, &TIEToken::FLeftNext>(left.FirstChild, child);
        child.FRightOwner = right;
        if (right)
            AppendChild<&TIEToken::FRightPrev, &TIEToken::FRightNext>(right->FirstChild, child);
    }
    // The same, placing the child after `leftPrev` in the left entry's list and after
    // `rightPrev` in the right one's (null: first).
    static void AdoptChildAfter(TTokenEntry& left, TIEToken* leftPrev, TTokenEntry* right,
                                TIEToken* rightPrev, TIEToken& child) noexcept;
    // Unlinks `child` from the entries it was made from; true when a left entry held it, whose
    // count the caller then owns (and must Release).
    // (In line: the joins drop children by the million.)
    [[nodiscard]] static bool ReleaseChild(TIEToken& child) noexcept {
        if (TTokenEntry* right = child.FRightOwner) {
            UnlinkChild<&TIEToken::FRightPrev, &TIEToken::FRightNext>(right->FirstChild, child);
            child.FRightOwner = nullptr;
        }
        TTokenEntry* left = child.FLeftOwner;
        if (!left) return false;
        UnlinkChild<&TIEToken::FLeftPrev, &TIEToken::FLeftNext>(left->FirstChild, child);
        child.FLeftOwner = nullptr;
        return true;
    }
    // Cuts this right entry's child list loose, leaving its children with their left entries;
    // returns the first of them, chained through NextOfRight. The children keep their links to
    // this entry until each is passed to TakeNextDetached (so the list costs no walk of its
    // own): the entry may go first, as long as nothing reads a child's right links before then.
    TIEToken* DetachRightChildren() noexcept;
    // The same for the children a right entry of a shared memory has with the join of sharer
    // number `sharer` only, in their order; the others stay.
    TIEToken* DetachRightChildrenOf(uint8_t sharer) noexcept;
    // Marks `child` as made by the join of sharer number `sharer` (see TIEToken::FSharer).
    static void NoteSharer(TIEToken& child, uint8_t sharer) noexcept { child.FSharer = sharer; }
    // The next of the detached children, cutting `child`'s right links.
    static TIEToken* TakeNextDetached(TIEToken& child) noexcept;
    bool RightSide() const noexcept;

private:
    // Appends `child` to the child list `head` leads (see AdoptChildAfter for its links).
    template <TIEToken* TIEToken::*Prev, TIEToken* TIEToken::*Next>
    static void AppendChild(TIEToken*& head, TIEToken& child) noexcept {
        child.*Next = nullptr;
        if (!head) {
            child.*Prev = &child;
            head = &child;
            return;
        }
        TIEToken* last = head->*Prev;
        child.*Prev = last;
        last->*Next = &child;
        head->*Prev = &child;
    }
    // Takes `child` out of the child list `head` leads.
    template <TIEToken* TIEToken::*Prev, TIEToken* TIEToken::*Next>
    static void UnlinkChild(TIEToken*& head, TIEToken& child) noexcept {
        TIEToken* next = child.*Next;
        if (head == &child) {
            if (next) next->*Prev = child.*Prev; // the last child
            head = next;
        } else {
            (child.*Prev)->*Next = next;
            (next ? next : head)->*Prev = child.*Prev;
        }
        child.*Prev = child.*Next = nullptr;
    }
};
static_assert(sizeof(void*) != 8 || sizeof(TTokenEntry) <= 64, "a memory entry grew");
static_assert(std::is_standard_layout_v<TTokenEntry> && offsetof(TTokenEntry, HolderKind) == 0);

// The entry of a memory that keeps probe-key chains: the chain links follow the fields a walk
// reads (see TIETokenTree's chain table).
struct TChainedEntry : TTokenEntry {
    using TTokenEntry::TTokenEntry;
    TChainedEntry* KeyNext = nullptr;
    TChainedEntry* KeyPrev = nullptr;
};
static_assert(sizeof(void*) != 8 || sizeof(TChainedEntry) <= 80, "a chained entry grew");

// The entry of a right memory that several joins share (see TIETokenTree::TakeSharer): one per
// fact for all of them, with the sharers that have taken the fact in. A join sees the entry only
// once its own right activation has taken it in, and no longer once its removal has; the entry
// goes when no sharer has it.
struct TSharedEntry final : TChainedEntry {
    using TChainedEntry::TChainedEntry;
    uint64_t Seen = 0;
    // The sharers that have made children with the entry (a bit stays when its children go
    // another way, never the other way round), so that a sharer's removal walks the child list
    // only when it holds children of another sharer too.
    uint64_t Parents = 0;
    // The invariant Parents keeps: the sharer of every child in the list has its bit, so that a
    // removal that finds its bit clear leaves the list alone.
    bool ParentsCoverChildren() const noexcept {
        for (const TIEToken* c = FirstChild; c; c = c->NextOfRight())
            if (!((Parents >> c->Sharer()) & 1)) return false;
        return true;
    }
};
static_assert(sizeof(void*) != 8 || sizeof(TSharedEntry) <= 96, "a shared entry grew");

// The block sizes of tokens with room for an entry.
inline constexpr size_t PlainSlotTokenBytes = sizeof(TIEToken) + sizeof(TTokenEntry);
inline constexpr size_t ChainedSlotTokenBytes = sizeof(TIEToken) + sizeof(TChainedEntry);

// PrefetchToken with the room for an entry in front of the token, the largest room's two lines
// (asked for whether or not the token has room: reading whether it has would wait for them).
inline void PrefetchTokenWithRoom(const TIEToken* token) noexcept {
    const char* p = reinterpret_cast<const char*>(token);
    __builtin_prefetch(p - sizeof(TChainedEntry), 1);
    __builtin_prefetch(p - 1, 1);
    PrefetchToken(token);
}

// (Arithmetic rather than a choice: the room is found on every erase of an entry.)
constexpr size_t TIEToken::EntrySlotBytes(TEntrySlot slot) noexcept {
    constexpr size_t step = sizeof(TChainedEntry) - sizeof(TTokenEntry);
    return slot == esNone ? 0 : sizeof(TTokenEntry) - step + step * static_cast<size_t>(slot);
}
static_assert(TIEToken::EntrySlotBytes(TIEToken::esPlain) == sizeof(TTokenEntry) &&
              TIEToken::EntrySlotBytes(TIEToken::esChained) == sizeof(TChainedEntry));
inline void* TIEToken::EntrySlot() const noexcept {
    constexpr size_t step = sizeof(TChainedEntry) - sizeof(TTokenEntry);
    return const_cast<char*>(reinterpret_cast<const char*>(this)) - (sizeof(TTokenEntry) - step) -
           step * FSlot;
}

// (The class is final: `size` is always its own.)
inline void* TIEToken::operator new(size_t) {
    return TBlockPool<sizeof(TIEToken)>::Get();
}
inline void* TIEToken::operator new(size_t, TWithEntrySlot slot) {
    if (slot.CutRoom) [[unlikely]]
        return NewWithCutRoom(slot.Slot);
    switch (slot.Slot) {
    case esPlain:
        return static_cast<char*>(TBlockPool<PlainSlotTokenBytes>::Get()) + sizeof(TTokenEntry);
    case esChained:
        return static_cast<char*>(TBlockPool<ChainedSlotTokenBytes>::Get()) + sizeof(TChainedEntry);
    default:
        return TBlockPool<sizeof(TIEToken)>::Get();
    }
}
inline void TIEToken::operator delete(void* p, TWithEntrySlot slot) noexcept {
    if (slot.CutRoom) [[unlikely]]
        return DeleteWithCutRoom(p, slot.Slot);
    switch (slot.Slot) {
    case esPlain:
        return TBlockPool<PlainSlotTokenBytes>::Put(static_cast<char*>(p) - sizeof(TTokenEntry));
    case esChained:
        return TBlockPool<ChainedSlotTokenBytes>::Put(static_cast<char*>(p) -
                                                      sizeof(TChainedEntry));
    default:
        return TBlockPool<sizeof(TIEToken)>::Put(p);
    }
}
// Only for a constructor that throws (none does).
inline void TIEToken::operator delete(void* p) noexcept {
    TBlockPool<sizeof(TIEToken)>::Put(p);
}

inline TTokenEntry* TIEToken::SlotHolder() const noexcept {
    return FSlotUsed ? static_cast<TTokenEntry*>(EntrySlot()) : nullptr;
}

inline TTokenEntry* TTokenEntry::NextHeldEntry() const noexcept {
    const THolderLinks* next = Linked   ? const_cast<TTokenEntry*>(this)->Links().HolderNext
                               : InSlot ? Token->FirstHolder()
                                        : nullptr;
    if (!next || TTokenHolder::KindOf(*next) != TTokenHolder::hkEntry) return nullptr;
    return &OfLinks(const_cast<THolderLinks&>(*next));
}

// The tokens of single facts that the join memories hold, one object per token identity
// (TIEToken::Equals): every entry of a fact's own token, in whichever join and on either side, is
// held by that one token, so a removal finds a join's entry through the token's holders (the
// memory reached first by the fact's propagation holds the first of them) after one identity
// lookup for the whole network, instead of an insert, a lookup and an erase in an identity index
// of every memory. A token stays listed while it has holders.
class TFactTokens {
public:
    TFactTokens() = default;
    TFactTokens(const TFactTokens&) = delete;
    TFactTokens& operator=(const TFactTokens&) = delete;

    // The listed token equal to `token`; `token` itself, now listed, when there is none. The
    // caller makes it held before anything else can end it. `fresh` tells whether the token was
    // listed by this probe (since the last Settle, the joins its propagation reached first):
    // then no memory outside this propagation holds it.
    TIEToken& Canonical(const TIETokenRef& token, bool& fresh);
    // The listed token equal to `token`, null when none.
    TIEToken* Find(const TIETokenRef& token);
    // Unlists a token whose last holder went.
    void Forget(const TIEToken& token) noexcept;
    size_t Count() const noexcept { return FTokens.size(); }
    // Lets go of the token last looked for (at the end of a propagation).
    void Settle() noexcept {
        FProbe = nullptr;
        FFound = nullptr;
        FFresh = false;
    }

private:
    struct THash {
        using is_transparent = void;
        size_t operator()(const TIEToken& t) const noexcept {
            return static_cast<uint32_t>(t.IdentityHash());
        }
        size_t operator()(const TIEToken* t) const noexcept { return (*this)(*t); }
    };
    struct TEqual {
        using is_transparent = void;
        bool operator()(const TIEToken* a, const TIEToken* b) const noexcept { return a == b; }
        bool operator()(const TIEToken& t, const TIEToken* s) const { return s->Equals(t); }
        bool operator()(const TIEToken* s, const TIEToken& t) const { return s->Equals(t); }
    };
    boost::unordered_flat_set<TIEToken*, THash, TEqual> FTokens;
    // The token last looked for and what it found: a fact's propagation reaches the joins that
    // read its pattern one after another with one token object. The reference keeps the
    // address from being reused while it is remembered.
    TIETokenRef FProbe;
    TIEToken* FFound = nullptr;
    bool FFresh = false;
};

// The memory of one join input.
class TIETokenTree {
public:
    using TEntry = TTokenEntry;

    // The key of a token: its hash code (useTokenHash); else the fact at tokenIndex: its
    // identifier (empty slotName), the hash code of its slot value (subIndex -1) or of one
    // element of that value read as a list.
    TIETokenTree(int32_t bucketCount, bool useTokenHash, std::string_view slotName,
                 int32_t subIndex, int32_t tokenIndex);
    ~TIETokenTree();
    TIETokenTree(const TIETokenTree&) = delete;
    TIETokenTree& operator=(const TIETokenTree&) = delete;

    // Stores the token unless an equal one is stored (then false).
    bool Add(const TIETokenRef& token);
    // Stores the token under a key the caller computed as KeyOf would, in the chain of
    // `probeKey` (of `key` when not given); null when an equal token is stored already. A held
    // token (one a join made, withdrawn through its links) is neither indexed nor looked for:
    // its makers never make it twice. In a shared memory the new entry is seen by the sharers
    // `seen` and gets the memory's next mark.
    TEntry* Insert(const TIETokenRef& token, int32_t key, int32_t probeKey, bool held = false,
                   uint64_t seen = 0);
    TEntry* Insert(const TIETokenRef& token, int32_t key) { return Insert(token, key, key); }
    // The entry of the indexed token equal to `token`, null when none.
    TEntry* FindEntry(const TIEToken& token) const;
    // Unlinks and frees a stored entry.
    void Erase(TEntry* entry);
    // Removes the stored token equal to `token`; false when there is none.
    bool Remove(const TIEToken& token);
    // Removes and returns the stored token equal to `token` (null when none).
    TIETokenRef Extract(const TIEToken& token);
    // The stored token equal to `token`, null when none.
    TIEToken* Find(const TIEToken& token) const;
    // Drops every token; does nothing when already cleared and not added to since.
    void Clear();

    int32_t KeyOf(const TIEToken& token) const;
    // The key of a value as a memory computes it (the value's hash code, 0 without value).
    // Raises what the hash code raises: a stand-in key would file equal values apart.
    static int32_t ValueKey(const IIEValue* value);
    // The key of the fact's slot value (whole, or element subIndex of a list; 0 when the
    // element is missing). Raises what reading the slot raises.
    static int32_t SlotKey(const IFact& fact, std::string_view slotName, int32_t subIndex);
    // The bucket a key falls in: |key| mod BucketCount, never negative.
    int32_t BucketOf(int32_t key) const noexcept;

    // Walking: every token oldest first, or the tokens of one probe key oldest first.
    // Entries link onwards through Next (arrival order) and NextWithKey (the same probe key);
    // a split memory's through NextSplitWithKey, and they keep no arrival list (First is null:
    // Entries lists them).
    TEntry* First() const noexcept { return FFirst; }
    // Every entry, oldest first (a split memory's sorted by their arrival numbers).
    std::vector<TEntry*> Entries() const;
    // (Null in a memory kept without chains, and in a split one: see FirstOpenWithKey.)
    TEntry* FirstWithKey(int32_t key) const noexcept {
        const TEntry* head = FChained ? FChains.Head(key) : nullptr;
        return const_cast<TEntry*>(head);
    }
    // A split memory's (see SetSplit) unblocked entries of a key, oldest first (its blocked
    // ones: see TakeBlockedBy).
    TEntry* FirstOpenWithKey(int32_t key) const noexcept {
        return const_cast<TEntry*>(FOpen.Head(key));
    }
    // The next entry of the same probe key (its chain runs on into the next key's in the
    // bucket).
    // (Only for an entry of a chained memory that is not split.)
    static TEntry* NextWithKey(const TEntry& e) noexcept {
        TChainedEntry* next = static_cast<const TChainedEntry&>(e).KeyNext;
        return next && next->ProbeKey == e.ProbeKey ? next : nullptr;
    }
    // The same for an entry of a split memory (the next one of the same blocker, for a blocked
    // one).
    static TEntry* NextSplitWithKey(const TEntry& e) noexcept {
        TEntry* next = e.Next;
        return next && next->ProbeKey == e.ProbeKey && next->Mark == e.Mark ? next : nullptr;
    }
    template <class F> void ForEach(F&& f) const {
        if (FSplit) {
            for (const TEntry* e : Entries())
                f(*e->Token);
            return;
        }
        for (const TEntry* e = FFirst; e;) {
            const TEntry* next = e->Next;
            f(*e->Token);
            e = next;
        }
    }
    template <class F> void ForEachWithKey(int32_t key, F&& f) const {
        if (FSplit) {
            for (const TEntry* e : Entries())
                if (e->ProbeKey == key) f(*e->Token);
            return;
        }
        for (const TEntry* e = FirstWithKey(key); e;) {
            const TEntry* next = NextWithKey(*e);
            f(*e->Token);
            e = next;
        }
    }

    int32_t Count() const noexcept { return FCount; }
    // Who withdraws held entries (the join of a left memory); the side whose entries' children
    // are listed through the right links (a join's right memory).
    ITokenMemoryOwner* Owner() const noexcept { return FOwner; }
    void SetOwner(ITokenMemoryOwner* owner, bool rightSide) noexcept {
        FOwner = owner;
        FRightSide = rightSide;
    }
    bool RightSide() const noexcept { return FRightSide; }
    // Whether the memory keeps its probe-key chains (the default). A memory that is only ever
    // walked whole (the memories of a join without an equality to hash) drops them: a chain per
    // stored token is memory spent for nothing. Set while the memory is empty.
    bool Chained() const noexcept { return FChained; }
    // Where the memory's single-fact tokens are listed (see TFactTokens); entries held by such a
    // token unlist it when they are its last holder.
    TFactTokens* Shared() const noexcept { return FShared; }
    void SetShared(TFactTokens* shared) noexcept { FShared = shared; }
    // The entry of this memory that `token` holds, null when none. The first holder is tried
    // first.
    TEntry* HeldEntry(const TIEToken& token) const noexcept;
    // Asks for the cache lines erasing the entry will write (its neighbours, its key's bucket
    // slot), so that their misses overlap the work done before.
    void PrefetchErase(const TEntry& e) const noexcept;
    void SetChained(bool chained) noexcept { FChained = chained; }
    // A negated join's left memory, chained, keeps its blocked entries (Mark other than 0) in
    // chains apart from the unblocked ones: a new right token walks only the entries it may
    // block, a removed one only those it blocks. The unblocked entries are chained by probe key
    // in arrival order, the blocked ones by probe key and blocker in no set order (a removed
    // blocker sorts its few by their arrival numbers). The chains run through the entries'
    // arrival links (Prev, Next): the memory keeps no arrival list of its own, and its entries
    // are of the size of an unchained memory's. A new entry stays out of the chains until its
    // join has looked for its blocker and calls Settle. Set while the memory is empty.
    bool Split() const noexcept { return FSplit; }
    void SetSplit(bool split) noexcept { FSplit = split && FChained; }
    // Files a split memory's new entry in the chain its Mark says.
    void Settle(TEntry& e) {
        if (FUnsettled == &e) FileUnsettled();
    }
    // Sets a left entry's Mark to a blocker (not 0: Block, whether it was blocked, unblocked or
    // taken) or to 0 (Unblock), moving a split memory's entry to the chain that says so.
    // `hint`: the entry a walk over one key's entries unblocked last (null at first), at or
    // after which the next one's place is sought.
    void Block(TEntry& e, uint32_t mark);
    void Unblock(TEntry& e, TEntry*& hint);
    // Takes the entries of a split memory's key that the right entry numbered `mark` blocks
    // out of their chain, all at once (their blocker goes), into `out`; each is then filed
    // again by Block, Unblock or Refile.
    template <class V> void TakeBlockedBy(int32_t key, uint32_t mark, V& out) {
        for (TEntry* e = FBlocked.Cut(key, mark); e;) {
            TEntry* next = e->Next;
            e->Prev = e->Next = nullptr;
            out.push_back(e);
            e = next;
        }
    }
    // Files an entry TakeBlockedBy took in the chain its Mark says (when nothing else did).
    void Refile(TEntry& e) {
        if (FSplit && !e.Prev && &e != FUnsettled)
            OnSplitChainsOf(e, [&](auto& c) { c.Append(e); });
    }
    // Verifies the invariants of the unit's header comment; raises a logic error naming the
    // first one broken. Checked builds (IE_CHECKS) run it as the memory changes (DebugCheck).
    // Returns the steps it took (entries, chain links and token comparisons).
    int64_t CheckInvariants() const;
    // CheckInvariants as checked builds run it after a change, spaced by a credit (see
    // platform/Assert.h's TCheckCredit) so that the checks stay a bounded share of the work;
    // also called for changes made by parts, as a blocker's removal files its entries again.
    void DebugCheck() const;
    // True after Clear until the next Add.
    bool Empty() const noexcept { return FEmpty; }
    const std::string& SlotName() const noexcept { return FSlotName; }
    int32_t SubIndex() const noexcept { return FSubIndex; }
    int32_t BucketCount() const noexcept { return FBucketCount; }
    int32_t TokenIndex() const noexcept { return FTokenIndex; }

    // Sharing: the right memory of joins that read one input the same way holds each fact once
    // for all of them (see TSharedEntry). A sharer is one bit; the first taken makes the memory
    // shared, which it must be still unused for (Pristine). 0 when all 64 are taken.
    uint64_t TakeSharer();
    // Takes the sharer's bit off every entry, erasing those no sharer has any more.
    void ReleaseSharer(uint64_t bit);
    bool Sharing() const noexcept { return FSharing; }
    uint64_t Sharers() const noexcept { return FSharers; }
    // Nothing was ever stored (not even a bucket of the text marked).
    bool Pristine() const noexcept { return FEmpty && FBucketUsed.empty(); }
    // Whether the sharer `bit` (0: not a sharer, every entry) sees the entry.
    static bool Sees(const TEntry& e, uint64_t bit) noexcept {
        return !bit || (static_cast<const TSharedEntry&>(e).Seen & bit) != 0;
    }

    // For every bucket that was ever used, in bucket order: the text of each of its tokens,
    // then CR LF. `visible`: the tokens a sharer sees (0: all).
    std::string GetText(uint64_t visible = 0) const;
    // The fact-identifier list of each token; CR LF after every non-empty bucket.
    std::string GetFactIdText() const;

private:
    // The probe-key chains are an intrusive hash table: a bucket lists its keys' chains one after
    // another, each chain's entries oldest first through KeyNext, so the last entry of a chain
    // links on to the first of the next chain in the bucket. A chain's first entry keeps its
    // last in KeyPrev (so that appending needs no walk), every other entry its predecessor: an
    // entry is its chain's first exactly when its KeyPrev does not link on to it. Against a map
    // from key to chain this saves the map's slot and group metadata (a cache miss each on
    // every insert and erase) and most of its memory.
    // The links a chain runs through: a chained entry's own, or a split memory's arrival links
    // (see SetSplit).
    template <class Entry, Entry* Entry::*NextLink, Entry* Entry::*PrevLink> struct TLinks {
        using E = Entry;
        static E*& Next(E& e) noexcept { return e.*NextLink; }
        static E*& Prev(E& e) noexcept { return e.*PrevLink; }
        static E* Next(const E& e) noexcept { return e.*NextLink; }
        static E* Prev(const E& e) noexcept { return e.*PrevLink; }
    };
    using TKeyLinks = TLinks<TChainedEntry, &TChainedEntry::KeyNext, &TChainedEntry::KeyPrev>;
    using TArrivalLinks = TLinks<TTokenEntry, &TTokenEntry::Next, &TTokenEntry::Prev>;
    // `ByMark`: a chain holds the entries of one probe key and one Mark (a split memory's
    // blocked entries: those of one blocker), not those of one probe key.
    template <class L, bool ByMark = false> struct TChains {
        using E = typename L::E;
        // The entries by probe key (see SlotOf): a power of two of buckets, at least two per key
        // (a lookup that lands on another key's chain follows two links to pass it).
        std::vector<E*> Buckets;
        uint32_t Shift = 32;
        size_t Keys = 0;
        static bool First(const E& e) noexcept { return L::Next(*L::Prev(e)) != &e; }
        size_t SlotOf(int32_t key, uint32_t mark) const noexcept {
            const uint32_t k = static_cast<uint32_t>(key) ^ (ByMark ? mark * 0x85EBCA77u : 0u);
            return static_cast<size_t>((k * 0x9E3779B1u) >> Shift);
        }
        size_t SlotOf(const E& e) const noexcept { return SlotOf(e.ProbeKey, e.Mark); }
        // Whether two entries belong in one chain.
        bool Same(const E& a, const E& b) const noexcept {
            return a.ProbeKey == b.ProbeKey && (!ByMark || a.Mark == b.Mark);
        }
        // The first entry of the chain of `key` (and `mark`), null when none.
        const E* Head(int32_t key, uint32_t mark = 0) const noexcept {
            if (Buckets.empty()) return nullptr;
            for (const E* h = Buckets[SlotOf(key, mark)]; h; h = L::Next(*L::Prev(*h)))
                if (h->ProbeKey == key && (!ByMark || h->Mark == mark)) return h;
            return nullptr;
        }
        const E* HeadOf(const E& e) const noexcept { return Head(e.ProbeKey, e.Mark); }
        // The link that leads to the chain `first` begins (a bucket's slot or the last entry of
        // the chain before it in the bucket).
        E*& LinkTo(const E& first) noexcept;
        void Append(E& e);
        // Links a split memory's entry in its place by arrival (see Block).
        void Place(E& e, const TEntry* hint);
        // (An entry out of every chain, a split memory's new one, is left as it is.)
        void Unlink(E& e) noexcept;
        // Unlinks the chain of `key` and `mark` whole; returns its first entry, the chain running
        // on through Next to a null (the entries' links are left as they are otherwise).
        E* Cut(int32_t key, uint32_t mark) noexcept;
        void Rehash(size_t buckets);
        void Clear() noexcept {
            std::fill(Buckets.begin(), Buckets.end(), nullptr);
            Keys = 0;
        }
        void Prefetch(int32_t key, uint32_t mark = 0) const noexcept {
            if (!Buckets.empty()) __builtin_prefetch(&Buckets[SlotOf(key, mark)]);
        }
        // Visits every entry (by bucket); the visit may free the entry.
        template <class F> void ForEach(F&& f) const {
            for (E* first : Buckets)
                for (E* k = first; k;) {
                    E* next = L::Next(*k);
                    f(*k);
                    k = next;
                }
        }
        // Raises a logic error where the chains are broken; counts their entries in `chained`.
        void Check(bool split, bool blocked, const std::unordered_set<const TTokenEntry*>& seen,
                   size_t& chained) const;
    };
    using TKeyChains = TChains<TKeyLinks>;
    using TOpenChains = TChains<TArrivalLinks>;
    using TBlockedChains = TChains<TArrivalLinks, true>;
    // Calls `f` with the chains a split memory's entry is in (those of its kind).
    template <class F> void OnSplitChainsOf(const TEntry& e, F&& f) {
        if (e.Mark != 0)
            f(FBlocked);
        else
            f(FOpen);
    }
    template <class F> void OnSplitChainsOf(const TEntry& e, F&& f) const {
        if (e.Mark != 0)
            f(FBlocked);
        else
            f(FOpen);
    }
    // A new entry of the size the memory keeps (chained or not); Free deletes one as such.
    // (In line in Insert, each call with its own `held`.)
    [[gnu::always_inline]] inline TEntry* NewEntry(const TIETokenRef& token, int32_t key,
                                                   int32_t probeKey, bool held, uint64_t seen);
    // (In line in Erase, as Unlink: the joins erase entries by the million.)
    [[gnu::always_inline]] inline void Free(TEntry* e) noexcept;
    void FreeAll() noexcept;
    void FileUnsettled();
    // The identity index is a set of entries looked up by token: no two stored tokens are
    // equal, so a token finds at most one entry; one pointer a stored token.
    struct TIdHash {
        using is_transparent = void;
        size_t operator()(const TIEToken& t) const noexcept {
            return static_cast<uint32_t>(t.IdentityHash());
        }
        size_t operator()(const TEntry* e) const noexcept { return (*this)(*e->Token); }
    };
    struct TIdEqual {
        using is_transparent = void;
        bool operator()(const TEntry* a, const TEntry* b) const noexcept { return a == b; }
        // The stored token decides whether it equals the one looked for.
        bool operator()(const TIEToken& t, const TEntry* e) const { return e->Token->Equals(t); }
        bool operator()(const TEntry* e, const TIEToken& t) const { return e->Token->Equals(t); }
    };
    // The stored entry equal to a token.
    TEntry* Lookup(const TIEToken& token) const;
    void MarkBucket(int32_t key) {
        if (FBucketUsed.empty()) [[unlikely]]
            FBucketUsed.resize(static_cast<size_t>(FBucketCount), false);
        // BucketOf, kept unsigned: the index needs no sign.
        const uint32_t magnitude =
            key < 0 ? 0u - static_cast<uint32_t>(key) : static_cast<uint32_t>(key);
        FBucketUsed[magnitude % static_cast<uint32_t>(FBucketCount)] = true;
    }
    [[gnu::always_inline]] inline void Unlink(TEntry* e) noexcept;
    // The stored tokens grouped by bucket (bucket order, then arrival order).
    std::vector<std::vector<const TIEToken*>> Buckets(uint64_t visible = 0) const;

    ITokenMemoryOwner* FOwner = nullptr;
    TFactTokens* FShared = nullptr;
    bool FRightSide = false;
    bool FChained = true;
    bool FUseTokenHash;
    std::string FSlotName;
    int32_t FSubIndex;
    int32_t FBucketCount;
    int32_t FTokenIndex;
    bool FEmpty = true;
    TEntry* FFirst = nullptr;
    TEntry* FLast = nullptr;
    // The identity index of the indexed entries.
    boost::unordered_flat_set<TEntry*, TIdHash, TIdEqual> FIdentity;
    int32_t FCount = 0;
    int32_t FIndexedCount = 0;
    // The entries by probe key (a memory that is not split).
    TKeyChains FChains;
    // A split memory's unblocked and blocked entries by probe key.
    TOpenChains FOpen;
    TBlockedChains FBlocked;
    bool FSplit = false;
    // A split memory's newest entry while it waits for Settle.
    TEntry* FUnsettled = nullptr;
    // The arrival number of a split memory's newest entry.
    uint32_t FNextSeq = 0;

    // Buckets used since the memory was made (their lines stay in the text after Clear).
    std::vector<bool> FBucketUsed;
    bool FSharing = false;
    uint64_t FSharers = 0;
    // The mark of the next entry of a shared memory (see TTokenEntry::Mark).
    uint32_t FNextMark = 0;
};

} // namespace ie

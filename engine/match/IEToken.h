// Rete tokens and their entries in the token memories.
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
// Retraction follows links instead of searching. A token a join makes (a child) is linked into
// the child lists of the two memory entries it was made from (the left one holds it), and every
// place that keeps it downstream (an entry of a later join's memory, an activation) is linked
// into the token's holder list. Withdrawing an entry withdraws its children, and withdrawing a
// child removes each of its holders, oldest first, which is the order in which propagation
// reached them. The memories themselves are in TokenMemory.h.
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

#include "engine/model/BlockPool.h"
#include "engine/model/FlatTables.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEInterfaces.h"

namespace ie {

// "taClear", "taAdd", "taRemove", "taUpdate".
std::string_view TokenActionName(TTokenAction action) noexcept;

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

} // namespace ie

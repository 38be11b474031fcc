// Token memories (TIETokenTree) and the shared first-level tokens of facts (TFactTokens).
//
// A token memory holds the tokens of one join input; the network's joins file their tokens under
// keys they compute themselves (Insert) and keep a negation count per entry. A token has two
// keys: the shown key (KeyOf: what the memory's text groups the tokens by) and the probe key (the
// join's key over all its equality tests: what a join looks tokens up by). Only first-level
// tokens (one per fact change, made afresh for the removal) are found by equality: in the join
// network through the one token of their identity that every memory's entry of the fact is held
// by (TFactTokens), elsewhere through a memory's identity index.
// Invariants (CheckInvariants verifies them in checked builds):
//   - every stored token is in the arrival list (oldest first) and in the chain of its probe key
//     (oldest first); an indexed token is in the identity index (keyed by token equality,
//     TIEToken::Equals), a held one in its token's holder list;
//   - no two stored tokens are equal;
//   - adding, finding and removing a token are O(1) on average, whatever the memory holds.
// The historical bucket count only groups the tokens in the memory's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <boost/unordered/unordered_flat_set.hpp>

#include "engine/match/IEToken.h"
#include "engine/model/FlatTables.h"

namespace ie {

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

// The token memory with its entries, arrival list, key chains and identity index, and the shared
// first-level tokens of facts.
//
// Invariant: a child token is held by its left entry only (a right entry detaches its children
// when it goes), so each child is released exactly once; a memory keeps every token once, in
// arrival order and in its key's chain, so retraction unlinks instead of searching and each
// operation stays O(1) on average. CheckInvariants spells the rules out for checked builds.
#include "engine/match/TokenMemory.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>

#include "platform/Assert.h"

namespace ie {

TIETokenTree::TIETokenTree(int32_t bucketCount, bool useTokenHash, std::string_view slotName,
                           int32_t subIndex, int32_t tokenIndex)
    : FUseTokenHash(useTokenHash), FSlotName(slotName), FSubIndex(subIndex),
      FBucketCount(bucketCount > 0 ? bucketCount : 1), FTokenIndex(tokenIndex) {}

// ---------------------------------------------------------------------------------------------
// TTokenEntry

bool TTokenEntry::RightSide() const noexcept {
    return Tree && Tree->RightSide();
}

namespace {

// A child list of one side: the entry's FirstChild heads it, the children link on through
// Next, and each child's Prev is its predecessor, but the first's, which is the last child.
template <TIEToken* TIEToken::*Prev, TIEToken* TIEToken::*Next>
void LinkChildAfter(TIEToken*& head, TIEToken* prev, TIEToken& child) noexcept {
    if (!head) {
        child.*Prev = &child;
        child.*Next = nullptr;
        head = &child;
        return;
    }
    if (!prev) { // the new first
        child.*Prev = head->*Prev;
        child.*Next = head;
        head->*Prev = &child;
        head = &child;
        return;
    }
    child.*Prev = prev;
    child.*Next = prev->*Next;
    prev->*Next = &child;
    (child.*Next ? child.*Next : head)->*Prev = &child;
}

} // namespace

void TTokenEntry::AdoptChildAfter(TTokenEntry& left, TIEToken* leftPrev, TTokenEntry* right,
                                  TIEToken* rightPrev, TIEToken& child) noexcept {
    child.AddRef();
    child.FLeftOwner = &left;
    LinkChildAfter<&TIEToken::FLeftPrev, &TIEToken::FLeftNext>(left.FirstChild, leftPrev, child);
    child.FRightOwner = right;
    if (!right) return;
    LinkChildAfter<&TIEToken::FRightPrev, &TIEToken::FRightNext>(right->FirstChild, rightPrev,
                                                                 child);
}

TIEToken* TTokenEntry::DetachRightChildren() noexcept {
    TIEToken* first = FirstChild;
    FirstChild = nullptr;
    return first;
}

TIEToken* TTokenEntry::DetachRightChildrenOf(uint8_t sharer) noexcept {
    TIEToken* first = nullptr;
    TIEToken* last = nullptr;
    for (TIEToken* c = FirstChild; c;) {
        TIEToken* next = c->FRightNext;
        // Each child has long left the cache.
        if (next) __builtin_prefetch(next);
        if (c->FSharer == sharer) {
            UnlinkChild<&TIEToken::FRightPrev, &TIEToken::FRightNext>(FirstChild, *c);
            // Chained on through FRightNext as DetachRightChildren leaves them (its owner stays
            // until TakeNextDetached).
            (last ? last->FRightNext : first) = c;
            last = c;
        }
        c = next;
    }
    return first;
}

TIEToken* TTokenEntry::TakeNextDetached(TIEToken& child) noexcept {
    TIEToken* next = child.FRightNext;
    child.FRightOwner = nullptr;
    child.FRightPrev = child.FRightNext = nullptr;
    // The caller withdraws this child before it takes the next, which has long left the cache:
    // asking for it now lets the miss overlap that work.
    if (next) PrefetchToken(next);
    return next;
}

TTokenEntry::~TTokenEntry() {
    // (The entry in its token's room holds it until the memory frees the room.)
    if (Linked && Links().HolderPrev) {
        Token->RemoveHolder(Links());
        if (TFactTokens* shared = Tree ? Tree->Shared() : nullptr)
            if (!Token->Held() && !Token->Parent()) shared->Forget(*Token);
    }
    if (RightSide()) {
        // The children stay with their left entries, which hold them.
        for (TIEToken* c = DetachRightChildren(); c;)
            c = TakeNextDetached(*c);
    } else {
        while (TIEToken* c = FirstChild) {
            if (TIEToken* next = c->FLeftNext) PrefetchToken(next);
            if (ReleaseChild(*c)) c->Release();
        }
    }
    // The memory releases the token that holds this entry once the entry is gone.
    if (InTokenSlot()) (void)Token.detach();
}

// ---------------------------------------------------------------------------------------------
// TFactTokens

TIEToken& TFactTokens::Canonical(const TIETokenRef& token, bool& fresh) {
    TIEToken* found = Find(token);
    if (!found) {
        MakeRoomToInsert(FTokens);
        FTokens.insert(token.get());
        found = token.get();
        FFound = found;
        FFresh = true;
    }
    fresh = FFresh;
    return *found;
}

TIEToken* TFactTokens::Find(const TIETokenRef& token) {
    if (token == FProbe) return FFound;
    FProbe = token;
    FFound = nullptr;
    FFresh = false;
    if (FTokens.empty()) return nullptr;
    const auto it = FTokens.find(*token);
    if (it != FTokens.end()) FFound = *it;
    return FFound;
}

void TFactTokens::Forget(const TIEToken& token) noexcept {
    if (FFound == &token) FFound = nullptr;
    const auto it = FTokens.find(const_cast<TIEToken*>(&token));
    if (it != FTokens.end()) FTokens.erase(it);
}

// ---------------------------------------------------------------------------------------------
// TIETokenTree

TIETokenTree::TEntry* TIETokenTree::HeldEntry(const TIEToken& token) const noexcept {
    // (A token has one entry in a memory at most: the order of the looks does not matter.)
    THolderLinks* h = token.FirstHolder();
    while (h &&
           (TTokenHolder::KindOf(*h) != TTokenHolder::hkEntry || TEntry::OfLinks(*h).Tree != this))
        h = h->HolderNext;
    if (h) {
        // The entry's address is made once found, not at every holder passed (the compiler
        // would make it ahead of each comparison).
#if defined(__GNUC__)
        asm("" : "+r"(h));
#endif
        return &TEntry::OfLinks(*h);
    }
    TEntry* e = token.SlotHolder();
    return e && e->Tree == this ? e : nullptr;
}

TIETokenTree::~TIETokenTree() {
    FreeAll();
}

void TIETokenTree::FreeAll() noexcept {
    if (FSplit) {
        // (The order does not matter: nothing is told.)
        FOpen.ForEach([this](TEntry& e) { Free(&e); });
        FBlocked.ForEach([this](TEntry& e) { Free(&e); });
        if (FUnsettled) Free(FUnsettled);
        FUnsettled = nullptr;
        return;
    }
    for (TEntry* e = FFirst; e;) {
        TEntry* next = e->Next;
        Free(e);
        e = next;
    }
}

std::vector<TIETokenTree::TEntry*> TIETokenTree::Entries() const {
    std::vector<TEntry*> all;
    all.reserve(static_cast<size_t>(FCount));
    if (!FSplit) {
        for (TEntry* e = FFirst; e; e = e->Next)
            all.push_back(e);
        return all;
    }
    FOpen.ForEach([&all](TEntry& e) { all.push_back(&e); });
    FBlocked.ForEach([&all](TEntry& e) { all.push_back(&e); });
    std::sort(all.begin(), all.end(),
              [](const TEntry* a, const TEntry* b) { return a->Seq < b->Seq; });
    // The newest, not filed yet.
    if (FUnsettled) all.push_back(FUnsettled);
    return all;
}

namespace {

// An entry of its own block, one of an entry of `Room`: the holder links in front of a held one
// (see TTokenEntry::Links).
template <class E, class Room = E>
[[gnu::always_inline]] inline E* NewOwnEntry(bool held, TIETokenTree* tree,
                                             const TIETokenRef& token, int32_t key,
                                             int32_t probeKey) {
    char* at;
    if (held) {
        at = static_cast<char*>(TBlockPool<sizeof(THolderLinks) + sizeof(Room)>::Get());
        ::new (at) THolderLinks;
        at += sizeof(THolderLinks);
    } else {
        at = static_cast<char*>(TBlockPool<sizeof(Room)>::Get());
    }
    return ::new (at) E(tree, token, key, probeKey, held);
}

// Destroys an entry NewOwnEntry made and gives back its block.
template <class E, class Room = E>
[[gnu::always_inline]] inline void FreeOwnEntry(TTokenEntry* e) noexcept {
    const bool linked = e->Linked;
    char* block = reinterpret_cast<char*>(e) - (linked ? sizeof(THolderLinks) : 0);
    static_cast<E*>(e)->~E();
    if (linked)
        TBlockPool<sizeof(THolderLinks) + sizeof(Room)>::Put(block);
    else
        TBlockPool<sizeof(Room)>::Put(block);
}

} // namespace

inline TIETokenTree::TEntry* TIETokenTree::NewEntry(const TIETokenRef& token, int32_t key,
                                                    int32_t probeKey, bool held, uint64_t seen) {
    if (FSharing) {
        auto* e = NewOwnEntry<TSharedEntry>(held, this, token, key, probeKey);
        e->Seen = seen;
        // Never 0 (no blocker); numbers are reused only after 2^32 entries.
        if (++FNextMark == 0) ++FNextMark;
        e->Mark = FNextMark;
        return e;
    }
    // A held token's first memory takes the room the token keeps for it, if it has some.
    // A split memory's entries chain through their arrival links (see SetSplit).
    const bool chained = FChained && !FSplit;
    const TIEToken::TEntrySlot kind = chained ? TIEToken::esChained : TIEToken::esPlain;
    if (void* slot = held ? token->TakeEntrySlot(kind) : nullptr) {
        TEntry* e = chained ? ::new (slot) TChainedEntry(this, token, key, probeKey)
                            : ::new (slot) TEntry(this, token, key, probeKey);
        e->InSlot = true;
        return e;
    }
    if (chained) return NewOwnEntry<TChainedEntry>(held, this, token, key, probeKey);
    // A split memory's entry of its own takes a block of a chained one: the memories around it
    // make and drop those by the thousand, and one pool for both reuses what either frees.
    if (FSplit) return NewOwnEntry<TEntry, TChainedEntry>(held, this, token, key, probeKey);
    return NewOwnEntry<TEntry>(held, this, token, key, probeKey);
}

inline void TIETokenTree::Free(TEntry* e) noexcept {
    if (e->InTokenSlot()) {
        // The entry leaves its count of the token to this release (see ~TTokenEntry).
        TIEToken* token = e->Token.get();
        if (FChained && !FSplit)
            static_cast<TChainedEntry*>(e)->~TChainedEntry();
        else
            e->~TEntry();
        token->FreeEntrySlot();
        token->Release();
        return;
    }
    if (FSharing)
        FreeOwnEntry<TSharedEntry>(e);
    else if (FSplit)
        FreeOwnEntry<TEntry, TChainedEntry>(e);
    else if (FChained)
        FreeOwnEntry<TChainedEntry>(e);
    else
        FreeOwnEntry<TEntry>(e);
}

uint64_t TIETokenTree::TakeSharer() {
    if (FSharers == ~uint64_t{0}) return 0;
    // Entries of the unshared kind cannot take sharers.
    if (!FSharing && !Pristine()) return 0;
    FSharing = true;
    const uint64_t bit = ~FSharers & (FSharers + 1);
    FSharers |= bit;
    return bit;
}

void TIETokenTree::ReleaseSharer(uint64_t bit) {
    if (!FSharing || !(FSharers & bit)) return;
    for (TEntry* e = FFirst; e;) {
        TEntry* next = e->Next;
        auto& shared = static_cast<TSharedEntry&>(*e);
        shared.Seen &= ~bit;
        // Its children go with its left memory; the bit may go to a new sharer.
        shared.Parents &= ~bit;
        if (!shared.Seen) Erase(e);
        e = next;
    }
    FSharers &= ~bit;
}

int32_t TIETokenTree::ValueKey(const IIEValue* value) {
    return value ? value->GetHashCode() : 0;
}

int32_t TIETokenTree::SlotKey(const IFact& fact, std::string_view slotName, int32_t subIndex) {
    TRefPtr<IIEValue> value = fact.GetSlotValue(slotName);
    if (subIndex == -1) return ValueKey(value.get());
    if (!value || value->GetDType() != dtList) return 0;
    TRefPtr<IValueVector> list = value->AsList();
    if (!list || subIndex < 0 || subIndex >= list->Count()) return 0;
    return ValueKey(list->GetItem(subIndex).get());
}

int32_t TIETokenTree::KeyOf(const TIEToken& token) const {
    if (FUseTokenHash) return token.HashCode();
    const IFact* fact = token.FactPtr(FTokenIndex);
    if (!fact) return 0;
    if (FSlotName.empty()) return fact->GetFactId();
    return SlotKey(*fact, FSlotName, FSubIndex);
}

int32_t TIETokenTree::BucketOf(int32_t key) const noexcept {
    // The magnitude in unsigned arithmetic: |INT32_MIN| does not overflow.
    const uint32_t magnitude =
        key < 0 ? 0u - static_cast<uint32_t>(key) : static_cast<uint32_t>(key);
    return static_cast<int32_t>(magnitude % static_cast<uint32_t>(FBucketCount));
}

bool TIETokenTree::Add(const TIETokenRef& token) {
    if (!token) return false;
    return Insert(token, KeyOf(*token)) != nullptr;
}

TIETokenTree::TEntry* TIETokenTree::Lookup(const TIEToken& token) const {
    if (FIdentity.empty()) return nullptr;
    const auto it = FIdentity.find(token);
    return it == FIdentity.end() ? nullptr : *it;
}

TIETokenTree::TEntry* TIETokenTree::Insert(const TIETokenRef& token, int32_t key, int32_t probeKey,
                                           bool held, uint64_t seen) {
    if (FChained && !FSplit) FChains.Prefetch(probeKey);
    TEntry* e;
    if (held) {
        e = NewEntry(token, key, probeKey, true, seen);
        // (The entry in the token's room is its oldest holder by being there.)
        if (!e->InSlot) token->AddHolder(e->Links());
    } else {
        if (Lookup(*token)) {
            MarkBucket(key);
            return nullptr;
        }
        e = NewEntry(token, key, probeKey, false, seen);
        e->Indexed = true;
        // Tokens come and go as facts change (see FlatTables.h).
        MakeRoomToInsert(FIdentity);
        FIdentity.insert(e);
        ++FIndexedCount;
    }
    ++FCount;
    if (FSplit) {
        // Chained by Settle once its join knows whether it is blocked, most often as unblocked:
        // the miss on that chain's bucket overlaps the search.
        FOpen.Prefetch(probeKey);
        if (++FNextSeq == 0) {
            // Numbers run out after 2^32 entries: the live ones are numbered afresh.
            for (TEntry* k : Entries())
                k->Seq = ++FNextSeq;
            ++FNextSeq;
        }
        e->Seq = FNextSeq;
        // A new entry before the last one settled: the last one waits no more (its join
        // failed).
        if (FUnsettled) OnSplitChainsOf(*FUnsettled, [&](auto& c) { c.Append(*FUnsettled); });
        FUnsettled = e;
    } else {
        e->Prev = FLast;
        (FLast ? FLast->Next : FFirst) = e;
        FLast = e;
        if (FChained) FChains.Append(static_cast<TChainedEntry&>(*e));
    }
    // Every stored entry's bucket is marked.
    MarkBucket(key);
    FEmpty = false;
    DebugCheck();
    return e;
}

template <class L, bool M>
typename L::E*& TIETokenTree::TChains<L, M>::LinkTo(const E& first) noexcept {
    E** link = &Buckets[SlotOf(first)];
    while (*link != &first)
        link = &L::Next(*L::Prev(**link));
    return *link;
}

template <class L, bool M> void TIETokenTree::TChains<L, M>::Append(E& e) {
    if (E* first = const_cast<E*>(HeadOf(e))) {
        E* last = L::Prev(*first);
        L::Next(e) = L::Next(*last);
        L::Prev(e) = last;
        L::Next(*last) = &e;
        L::Prev(*first) = &e;
        return;
    }
    if (2 * Keys >= Buckets.size()) Rehash(Buckets.empty() ? 8 : 2 * Buckets.size());
    E*& slot = Buckets[SlotOf(e)];
    L::Next(e) = slot;
    L::Prev(e) = &e;
    slot = &e;
    ++Keys;
}

template <class L, bool M> void TIETokenTree::TChains<L, M>::Place(E& e, const TEntry* hint) {
    E* first = hint ? nullptr : const_cast<E*>(HeadOf(e));
    if (!hint && (!first || L::Prev(*first)->Seq < e.Seq)) return Append(e);
    E* after;
    if (hint) {
        // A walk moves its entries oldest first: the place is at or after the last one's.
        after = static_cast<E*>(const_cast<TEntry*>(hint));
        for (E* n = L::Next(*after); n && Same(*n, e) && n->Seq < e.Seq; n = L::Next(*n))
            after = n;
    } else {
        // Newer entries are passed from the chain's last backwards.
        after = L::Prev(*first);
        while (after != first && after->Seq > e.Seq)
            after = L::Prev(*after);
        if (after->Seq > e.Seq) {
            // The chain's new first.
            E*& link = LinkTo(*first);
            L::Next(e) = first;
            L::Prev(e) = L::Prev(*first);
            L::Prev(*first) = &e;
            link = &e;
            return;
        }
    }
    E* next = L::Next(*after);
    const bool nextInChain = next && Same(*next, e);
    L::Next(e) = next;
    L::Prev(e) = after;
    L::Next(*after) = &e;
    if (nextInChain)
        L::Prev(*next) = &e;
    else // the chain's new last
        L::Prev(*const_cast<E*>(HeadOf(e))) = &e;
}

template <class L, bool M> void TIETokenTree::TChains<L, M>::Unlink(E& e) noexcept {
    if (!L::Prev(e)) return;
    E* next = L::Next(e);
    const bool nextInChain = next && Same(*next, e);
    if (!First(e)) {
        E* prev = L::Prev(e);
        L::Next(*prev) = next;
        if (nextInChain)
            L::Prev(*next) = prev;
        else // the chain's last: its first keeps the new last
            L::Prev(*const_cast<E*>(HeadOf(e))) = prev;
    } else if (nextInChain) {
        // The next entry leads the chain now.
        L::Prev(*next) = L::Prev(e);
        LinkTo(e) = next;
    } else {
        LinkTo(e) = next; // the chain goes
        --Keys;
    }
    L::Prev(e) = L::Next(e) = nullptr;
}

template <class L, bool M>
typename L::E* TIETokenTree::TChains<L, M>::Cut(int32_t key, uint32_t mark) noexcept {
    E* first = const_cast<E*>(Head(key, mark));
    if (!first) return nullptr;
    E* last = L::Prev(*first);
    LinkTo(*first) = L::Next(*last);
    L::Next(*last) = nullptr;
    --Keys;
    return first;
}

template <class L, bool M> void TIETokenTree::TChains<L, M>::Rehash(size_t buckets) {
    std::vector<E*> old(buckets, nullptr);
    old.swap(Buckets);
    Shift = 32;
    for (size_t n = buckets; n > 1; n >>= 1)
        --Shift;
    // Whole chains move, each keeping its order.
    for (E* first : old)
        while (first) {
            E* last = L::Prev(*first);
            E* following = L::Next(*last);
            E*& slot = Buckets[SlotOf(*first)];
            L::Next(*last) = slot;
            slot = first;
            first = following;
        }
}

template <class L, bool M>
void TIETokenTree::TChains<L, M>::Check(bool split, bool blocked,
                                        const std::unordered_set<const TTokenEntry*>& seen,
                                        size_t& chained) const {
    auto fail = [](const char* id, const char* what) {
        throw std::logic_error(std::string("token memory ") + id + ": " + what);
    };
    size_t keys = 0;
    for (const E* first : Buckets)
        for (const E* k = first; k;) {
            if (!First(*k)) fail("T01", "chain's first entry lost its last");
            ++keys;
            const E* last = k;
            for (; k && Same(*k, *first) && (k == first || !First(*k)); k = L::Next(*k)) {
                if (!seen.count(k)) fail("T02", "chain holds a foreign entry");
                if (SlotOf(*k) != SlotOf(*first)) fail("T03", "entry in another bucket");
                if (split && (k->Mark != 0) != blocked)
                    fail("T04", "entry in the chains of the other kind");
                // (A blocker's chain keeps no order.)
                if (split && !blocked && k != first && L::Prev(*k)->Seq >= k->Seq)
                    fail("T05", "chain out of arrival order");
                ++chained;
                last = k;
            }
            if (L::Prev(*first) != last) fail("T06", "chain's first entry lost its last");
            first = k;
        }
    if (keys != Keys) fail("T07", "key count differs from the chains");
}

template struct TIETokenTree::TChains<TIETokenTree::TKeyLinks>;
template struct TIETokenTree::TChains<TIETokenTree::TArrivalLinks>;
template struct TIETokenTree::TChains<TIETokenTree::TArrivalLinks, true>;

void TIETokenTree::FileUnsettled() {
    TEntry& e = *FUnsettled;
    FUnsettled = nullptr;
    OnSplitChainsOf(e, [&](auto& c) { c.Append(e); });
    DebugCheck();
}

void TIETokenTree::Block(TEntry& e, uint32_t mark) {
    // (An entry waiting for Settle is in no chain yet.)
    if (!FSplit || &e == FUnsettled) {
        e.Mark = mark;
        return;
    }
    // One TakeBlockedBy took is in no chain either, and is filed even when its new blocker
    // bears its old one's number (numbers come round again after 2^32 right tokens).
    if (e.Mark == mark && e.Prev) return;
    OnSplitChainsOf(e, [&](auto& c) { c.Unlink(e); });
    e.Mark = mark;
    FBlocked.Append(e);
}

void TIETokenTree::Unblock(TEntry& e, TEntry*& hint) {
    if (!FSplit || e.Mark == 0) {
        e.Mark = 0;
        return;
    }
    FBlocked.Unlink(e);
    e.Mark = 0;
    FOpen.Place(e, hint);
    hint = &e;
}

void TIETokenTree::PrefetchErase(const TEntry& e) const noexcept {
    if (FSplit) {
        OnSplitChainsOf(e, [&](auto& c) { c.Prefetch(e.ProbeKey, e.Mark); });
    } else if (FChained) {
        FChains.Prefetch(e.ProbeKey);
        if (TChainedEntry* next = static_cast<const TChainedEntry&>(e).KeyNext)
            __builtin_prefetch(next);
    }
    if (e.Prev) __builtin_prefetch(e.Prev, 1);
    if (e.Next) __builtin_prefetch(e.Next, 1);
}

inline void TIETokenTree::Unlink(TEntry* e) noexcept {
    // The places the unlinking writes are scattered over the heap: asking for them together
    // lets their cache misses overlap instead of following one another.
    PrefetchErase(*e);
    if (e->Indexed) {
        FIdentity.erase(e);
        --FIndexedCount;
    }
    --FCount;
    if (FSplit) {
        if (e == FUnsettled)
            FUnsettled = nullptr;
        else
            OnSplitChainsOf(*e, [&](auto& c) { c.Unlink(*e); });
        return;
    }
    (e->Prev ? e->Prev->Next : FFirst) = e->Next;
    (e->Next ? e->Next->Prev : FLast) = e->Prev;
    if (FChained) FChains.Unlink(static_cast<TChainedEntry&>(*e));
}

TIETokenTree::TEntry* TIETokenTree::FindEntry(const TIEToken& token) const {
    return Lookup(token);
}

void TIETokenTree::Erase(TEntry* entry) {
    Unlink(entry);
    Free(entry);
    DebugCheck();
}

TIETokenRef TIETokenTree::Extract(const TIEToken& token) {
    TEntry* e = FindEntry(token);
    if (!e) return nullptr;
    Unlink(e);
    TIETokenRef stored = e->Token;
    Free(e);
    return stored;
}

bool TIETokenTree::Remove(const TIEToken& token) {
    return Extract(token) != nullptr;
}

TIEToken* TIETokenTree::Find(const TIEToken& token) const {
    TEntry* e = FindEntry(token);
    return e ? e->Token.get() : nullptr;
}

void TIETokenTree::Clear() {
    if (FEmpty) return;
    FreeAll();
    FFirst = FLast = nullptr;
    FIdentity.clear();
    FCount = 0;
    FIndexedCount = 0;
    FChains.Clear();
    FOpen.Clear();
    FBlocked.Clear();
    FNextSeq = 0;
    FNextMark = 0;
    FEmpty = true;
}

int64_t TIETokenTree::CheckInvariants() const {
    auto fail = [](const char* id, const char* what) {
        throw std::logic_error(std::string("token memory ") + id + ": " + what);
    };
    int32_t count = 0, indexed = 0;
    int64_t steps = 0;
    std::unordered_set<const TEntry*> seen;
    if (FSplit && (FFirst || FLast)) fail("T08", "split memory with an arrival list");
    if (FSplit && FUnsettled && FUnsettled->Seq != FNextSeq)
        fail("T09", "an older entry left unfiled");
    const std::vector<TEntry*> entries = Entries();
    const TEntry* before = nullptr;
    for (const TEntry* e : entries) {
        if (FSplit) {
            if (before && before->Seq >= e->Seq) fail("T10", "arrival numbers out of order");
        } else if (e->Prev != before) {
            fail("T11", "arrival list broken");
        }
        before = e;
        if (e->Tree != this) fail("T12", "entry of another memory");
        if (!e->Token) fail("T13", "entry without token");
        if (!FSplit && e->Fact != e->Token->LastFact())
            fail("T14", "entry's fact is not its token's");
        if (FSharing) {
            const uint64_t by = static_cast<const TSharedEntry*>(e)->Seen;
            if (!by) fail("T15", "shared entry no sharer has");
            if (by & ~FSharers) fail("T16", "shared entry seen by a join that does not share");
            if (e->Mark == 0) fail("T17", "shared entry without its own number");
        }
        seen.insert(e);
        ++count;
        if (e->Indexed) {
            ++indexed;
            if (e->InSlot || e->Linked) fail("T18", "indexed entry in a holder list");
            if (Lookup(*e->Token) != e)
                fail("T19", "indexed token not found, or an equal one found first");
        } else {
            bool listed = e->InSlot && e->Token->SlotHolder() == e;
            for (const THolderLinks* h = e->Token->FirstHolder(); h && !listed; h = h->HolderNext)
                listed =
                    TTokenHolder::KindOf(*h) == TTokenHolder::hkEntry && &TEntry::OfLinks(*h) == e;
            if (!listed) fail("T20", "held entry missing from its token's holders");
        }
        // A split memory's newest entry waits for Settle outside the chains.
        bool inChain = !FChained || e == FUnsettled;
        if (FSplit) {
            const TEntry* k = nullptr;
            OnSplitChainsOf(*e, [&](auto& c) { k = c.HeadOf(*e); });
            for (; k && !inChain; k = NextSplitWithKey(*k), ++steps)
                inChain = k == e;
        } else {
            for (const TEntry* k = FirstWithKey(e->ProbeKey); k && !inChain;
                 k = NextWithKey(*k), ++steps)
                inChain = k == e;
        }
        if (!inChain) fail("T21", "entry missing from the chain of its probe key");
        for (const TIEToken* c = e->FirstChild; c;
             c = RightSide() ? c->NextOfRight() : c->NextOfLeft())
            if ((RightSide() ? c->RightOwner() : c->LeftOwner()) != e)
                fail("T22", "child of another entry");
    }
    if (!FSplit && (FLast != before || (FLast && FLast->Next))) fail("T23", "arrival list end");
    if (count != FCount || indexed != FIndexedCount) fail("T24", "counts differ from the entries");
    size_t chained = FUnsettled ? 1 : 0;
    FChains.Check(false, false, seen, chained);
    FOpen.Check(true, false, seen, chained);
    FBlocked.Check(true, true, seen, chained);
    if (chained != (FChained ? static_cast<size_t>(count) : 0))
        fail("T25", "chains and arrival list differ");
    // No two stored tokens are equal; held tokens are told apart by their makers, so the check
    // compares them by hash first.
    std::unordered_map<int32_t, std::vector<const TIEToken*>> byHash;
    for (const TEntry* e : entries) {
        auto& same = byHash[e->Token->HashCode()];
        steps += static_cast<int64_t>(same.size());
        for (const TIEToken* t : same)
            if (t->Equals(*e->Token)) fail("T26", "two equal tokens stored");
        same.push_back(e->Token.get());
    }
    return steps + count;
}

// The full check costs O(n) steps, more where tokens share a hash or a probe key, and its hash
// sets a fixed cost more; one after every change of a memory would make a long run of a checked
// build quadratic (a program of 0.04 s took a minute under the sanitizers). A change earns a few
// steps, and a check runs once the credit covers the steps the last one took: the checks of all
// memories together stay a bounded share of the work, and a small memory is still checked every
// few changes.
void TIETokenTree::DebugCheck() const {
#if defined(IE_CHECKS)
    static thread_local TCheckCredit credit;
    constexpr int64_t PerChange = 4;
    constexpr int64_t FixedCost = 8;
    if (!credit.Due(PerChange)) return;
    credit.Spent(CheckInvariants() + FixedCost);
#endif
}

std::vector<std::vector<const TIEToken*>> TIETokenTree::Buckets(uint64_t visible) const {
    std::vector<std::vector<const TIEToken*>> buckets(FBucketUsed.size());
    for (const TEntry* e : Entries())
        if (!FSharing || Sees(*e, visible))
            buckets[static_cast<size_t>(BucketOf(e->Key))].push_back(e->Token.get());
    return buckets;
}

std::string TIETokenTree::GetText(uint64_t visible) const {
    std::string s;
    const auto buckets = Buckets(visible);
    for (size_t b = 0; b < buckets.size(); ++b) {
        if (!FBucketUsed[b]) continue;
        for (const TIEToken* t : buckets[b])
            s += t->GetText();
        s += IELineEnd;
    }
    return s;
}

std::string TIETokenTree::GetFactIdText() const {
    std::string s;
    for (const auto& bucket : Buckets()) {
        if (bucket.empty()) continue;
        for (const TIEToken* t : bucket)
            s += t->FactIdList();
        s += IELineEnd;
    }
    return s;
}

} // namespace ie
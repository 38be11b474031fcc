// Joins (positive, negated and goal seeking) with their left and right memories: hashed probe
// keys, storing and finding entries, joining from either side, the blockers of a negated join
// and withdrawing what a removed entry made.
//
// Invariant: a withdrawn token loses its holders oldest first, the order in which propagation
// reached them.
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

// Asks that a lambda be expanded where it is called, however often (see JoinLeft).
#if defined(__GNUC__)
#define IE_ALWAYS_INLINE __attribute__((always_inline))
#else
#define IE_ALWAYS_INLINE
#endif

namespace ie {

using rete::CutToken;
using rete::Element;

namespace {

// A first-level token of a split's cut as a fact of its own: a copy of the fact whose cut slots
// hold the cut lists (the other slots keep their value objects), for a join whose tests read the
// incoming fact itself. Two copies of one cut are equal facts (their lists are the same cuts).
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

} // namespace ie

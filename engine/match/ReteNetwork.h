// The Rete network: rules compiled into shared alpha nodes (single-fact tests), join and test
// nodes (which combine facts into tokens) and one terminal node per rule (which turns complete
// tokens into activations), and the propagation of tokens through them.
//
// Invariants:
//   - a node lives while its RuleUseCount is positive; each rule's node list names every node
//     the rule uses, once per use, in creation order;
//   - a join memory (TIETokenTree) holds each token at most once (token identity, see
//     TIEToken::Equals), indexed by the join key over all of the join's hashable equality tests:
//     a join visits only the partners filed under the key it looks for (those that can pass every
//     such test), and adding or removing a token costs O(1) on average; tokens of one key are
//     visited oldest first;
//   - the left memory of a negated join keeps, per left token, one right token that matches it
//     with the pattern's join tests (its blocker), or none: a left token is tested against the
//     right memory only until one matches, and again only when its blocker goes;
//   - a fuzzy slot never drives a hashed join (approximate equality cannot be hashed);
//   - joins that read one input from the right by the same keys share one right memory when
//     they are made before it holds a fact: each fact is one entry for all of them, and a join
//     sees it from its own right activation of the fact to its own right activation of the
//     removal, so a fact reaches every sharer as it would reach a memory of its own.
// Propagation is depth-first, in edge order, on the caller's thread; the engine defers fact
// changes requested during a propagation, so no token enters while another is in flight.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "engine/match/ActivationAgenda.h"
#include "engine/match/IERule.h"
#include "engine/match/IESlotTest.h"
#include "engine/match/KeyChains.h"
#include "engine/match/TokenMemory.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEInterfaces.h"
#include "platform/Assert.h"

namespace ie {

enum TCallType : uint8_t { ctLeft, ctRight, ctSingle, ctActivate };
std::string_view CallTypeName(TCallType t) noexcept;

enum TPatternMatchTest : uint8_t {
    pmtUnknown,
    pmtTestClassType,
    pmtTestEqual,
    pmtTestNotEqual,
    pmtTestSlotValueEqual,
    pmtTestSlotValueNotEqual,
    pmtTestMultiSlotEqual,
    pmtTestMultiSlotNotEqual,
    pmtTestMultiSlotLength,
    pmtTestMultiSlotMultiField,
    pmtFailTest,
};
std::string_view PatternMatchTestName(TPatternMatchTest t) noexcept;

// The network's tokens are TIEToken (see IEToken.h); TReteToken is the name callers used before
// the network and the token memories shared one token class.
using TReteToken = TIEToken;

// What the network tells its engine about activations. The agenda owns every activation that
// was reported as added; when one is reported as removed the engine takes it off the agenda and
// frees it (unless it is firing), which tells its node through ActivationDestroyed.
class IActivationSink {
public:
    virtual void ActivationAdded(TActivation* activation) = 0;
    virtual void ActivationRemoved(TActivation* activation) = 0;
    // The rule of the activation has fired; the activation has left its node's list.
    virtual void ActivationFired(TActivation* activation) = 0;

protected:
    ~IActivationSink() = default;
};

class TReteNetwork;
class TReteNode;

struct TReteEdge {
    TReteNode* Node; // the target of an outgoing edge, the source of an incoming one
    TCallType CallType;
};

// A node's edges in one direction. Most nodes have one edge each way, so the first is kept in
// the list itself: a loaded rule's nodes then hold no edge arrays at all (each was a 16-byte
// entry in a 32-byte heap block). More edges move to an array of their own.
class TReteEdges {
public:
    TReteEdges() noexcept : FOne{nullptr, ctSingle} {}
    TReteEdges(const TReteEdges&) = delete;
    TReteEdges& operator=(const TReteEdges&) = delete;
    ~TReteEdges() {
        if (FCapacity > 1) delete[] FMany;
    }

    const TReteEdge* begin() const noexcept { return FCapacity > 1 ? FMany : &FOne; }
    const TReteEdge* end() const noexcept { return begin() + FSize; }
    TReteEdge* begin() noexcept { return FCapacity > 1 ? FMany : &FOne; }
    TReteEdge* end() noexcept { return begin() + FSize; }
    uint32_t size() const noexcept { return FSize; }
    bool empty() const noexcept { return FSize == 0; }
    const TReteEdge& front() const noexcept { return *begin(); }
    const TReteEdge& operator[](size_t i) const noexcept { return begin()[i]; }

    void push_back(const TReteEdge& edge) {
        if (FSize == FCapacity) {
            const uint32_t capacity = FCapacity * 2;
            auto* many = new TReteEdge[capacity];
            std::copy(begin(), end(), many);
            if (FCapacity > 1) delete[] FMany;
            FMany = many;
            FCapacity = capacity;
        }
        begin()[FSize++] = edge;
    }
    // Removes the edges of `node`, keeping the order of the others.
    void RemoveNode(const TReteNode* node) noexcept {
        TReteEdge* last =
            std::remove_if(begin(), end(), [node](const TReteEdge& e) { return e.Node == node; });
        FSize = static_cast<uint32_t>(last - begin());
    }

private:
    union {
        TReteEdge FOne;   // while FCapacity is 1
        TReteEdge* FMany; // after
    };
    uint32_t FSize = 0;
    uint32_t FCapacity = 1;
};

class TReteNode {
public:
    explicit TReteNode(TReteNetwork* rete);
    TReteNode(const TReteNode&) = delete;
    TReteNode& operator=(const TReteNode&) = delete;
    virtual ~TReteNode();

    virtual void Receive(const TIETokenRef& token, TCallType callType) = 0;
    virtual std::string_view NodeName() const = 0;
    // "<name> In/Out#: i/o RuleUse: n" and the node's own details.
    virtual std::string GetText() const;
    // (In line: every join's child goes through it, from the units of all node kinds.)
    void Propagate(const TIETokenRef& token) {
        for (const TReteEdge& e : FOutgoing)
            e.Node->Receive(token, e.CallType);
    }

    int32_t RuleUseCount = 1;
    TReteNetwork* Rete() const noexcept { return FRete; }
    const TReteEdges& Outgoing() const noexcept { return FOutgoing; }
    const TReteEdges& Incoming() const noexcept { return FIncoming; }
    // Creation order, for stable priming.
    uint64_t Serial() const noexcept { return FSerial; }

protected:
    friend class TReteNetwork;
    // The context predicates run in (made once per node, on first use).
    TIEContext& Context();

    TReteNetwork* FRete;
    TReteEdges FIncoming;
    std::unique_ptr<TIEContext> FContext;
    uint64_t FSerial = 0;
    // Last, so that what a passing token reads of a node and its subclass's first fields share
    // a cache line.
    TReteEdges FOutgoing;
    // Changes whenever FOutgoing does (see TPatternMatchNode's child index).
    uint32_t FEdgeVersion = 0;
};

// An alpha node: one test of a single fact.
class TPatternMatchNode : public TReteNode {
public:
    TPatternMatchNode(TReteNetwork* rete, TPatternMatchTest kind, TRefPtr<IIEValue> value,
                      std::vector<TRefPtr<IIEValue>> args);

    void Receive(const TIETokenRef& token, TCallType callType) override;
    std::string_view NodeName() const override { return "TPatternMatchNode"; }
    std::string GetText() const override;
    bool SameTest(TPatternMatchTest kind, const IIEValue* value,
                  const std::vector<TRefPtr<IIEValue>>& args) const;
    // Runs the test; each passing token goes to `out` when given, else is propagated.
    void Filter(const TIETokenRef& token, std::vector<TIETokenRef>* out);

    TPatternMatchTest Kind() const noexcept { return FKind; }
    const TRefPtr<IIEValue>& Value() const noexcept { return FValue; }

    // Reads the slots this node tests by their positions in facts of `factTemplate`, resolved
    // now rather than on the first fact.
    void Prepare(const IFactTemplate* factTemplate);

private:
    // One child of an index: the node and the position of its edge.
    struct TIndexedChild {
        TPatternMatchNode* Node;
        uint32_t Position;
        int32_t Next; // the next child with an equal key in TChildIndex::Equal, or -1
        // The child's one outgoing edge when the index was built, if it had one (of the single
        // kind): while no edge of the network changes, a fact the child's key names goes there
        // straight (the child, whose test holds, would only pass it on; a program of many rules
        // seldom finds the child in the cache).
        TReteNode* Only = nullptr;
    };
    // The children that compare one slot, or one element of a multislot, with a constant for
    // equality, by the key of the constant: a fact visits only the child its value names, whose
    // test then holds without running. (Equal tests share a node, so a key names one child;
    // more would be kept in edge order.)
    struct TChildIndex {
        TSlotReader Slot;
        int32_t Sub = -1;
        boost::unordered_flat_map<TConstantKey, TIndexedChild, TConstantKeyHash> Children;
        std::vector<TIndexedChild> Equal;
        // Every child in edge order, for a fact whose value has no key: each runs its test.
        std::vector<TIndexedChild> All;
    };
    // Sends a passing token on: to every plain child and, of each indexed group, to the
    // children that test for the value the fact holds, in edge order.
    void Emit(const TIETokenRef& token);
    // Emit's general walk over the indexes and the plain children.
    [[gnu::noinline]] void EmitPicked(const TIETokenRef& token);
    // For a node with one index and no plain child: the one child the fact's value names (pkOne),
    // none (pkNone), or pkAny when the general walk must decide.
    enum TPickKind : uint8_t { pkNone, pkOne, pkAny };
    TPickKind OnlyIndexedChild(const TIETokenRef& token, const TIndexedChild*& child) const;
    void RebuildIndex();
    void Pass(const TIETokenRef& token, std::vector<TIETokenRef>* out);
    void TestValue(const TIETokenRef& token, const IIEValue* a, bool notEqual, const IIEValue* b,
                   std::vector<TIETokenRef>* out);
    bool PredicatePasses(const TIETokenRef& token, bool notEqual);
    void SplitMultifield(const TIETokenRef& token, std::vector<TIETokenRef>* out);
    // What a split cuts: the fact, its cuts so far and the action, cut and strength of the token
    // they came with (a split whose only child splits again hands its cuts on without a token).
    struct TSplitSource {
        TTokenAction Tag;
        const TRefPtr<IFact>& Fact;
        const TRefPtr<TMatchCut>& Cuts;
        uint32_t Cut;
        float Strength;
        // For a child split of the same slot: the slot's list (at position Slot of the engine's
        // own fact) and its length as the cuts leave it; null when the child reads the slot.
        const IValueVector* List = nullptr;
        int32_t Slot = -1;
        int32_t Count = 0;
    };
    void SplitCuts(const TSplitSource& from, std::vector<TIETokenRef>* out);
    // Sends one cut to the children (TSplitPlan::CutChildren), making its token only for those that
    // keep or test more than the cuts. `count`: the length of the node's slot as the cuts leave it.
    void PassCut(const TSplitSource& cut, int32_t count);
    // Whether the slot, read through the cuts, has the length the node wants.
    bool LengthPasses(const IFact& fact, const TMatchCut* cut) const;
    static void CutLengths(const TReteNode& node, const std::string& slot,
                           std::vector<int32_t>& lengths, bool& any);

    // What a token that passes needs first, together.
    uint32_t FIndexVersion = ~0u; // the FEdgeVersion the index was built for
    // The one outgoing edge of a node that has one (most have), read without the edge list.
    TReteEdge FOnlyEdge{nullptr, ctSingle};
    uint64_t FIndexEdgeChanges = 0; // the network's EdgeChanges when the index was built
    // The children in edge order when each is a pattern node and none is indexed (else empty):
    // a split hands its cuts to those that split again or test the length without a token.
    struct TCutChild {
        TPatternMatchNode* Node;
        bool SameSlot; // a length test or a split of this node's slot
    };
    // What a split (pmtTestMultiSlotMultiField) keeps of the paths below it; the other kinds,
    // most nodes, have none.
    struct TSplitPlan {
        std::vector<TCutChild> CutChildren;
        // The CutLengths found when the network's edges were as EdgeChanges says CutVersion.
        uint64_t CutVersion = ~uint64_t{0};
        std::vector<int32_t> CutLengths; // sorted, each once
        bool CutAny = false;
    };
    std::unique_ptr<TSplitPlan> FSplit;
    std::vector<TChildIndex> FIndexes;
    TPatternMatchTest FKind;
    TRefPtr<IIEValue> FValue;
    std::vector<TRefPtr<IIEValue>> FArgs;
    // Decoded arguments: the slots (each reader keeps its slot's name), the elements.
    TSlotReader FReader, FReader2;
    int32_t FSub = -1, FSub2 = -1;
    TSlotPosition FPosition; // where FReader's slot was last found in a fact of another kind
    const TIEText* FClassName = nullptr;
    std::vector<uint32_t> FPlain; // edge positions outside every index
};

// A node that passes tokens whose tests (predicates and join tests) hold.
class TTestNode : public TReteNode {
public:
    using TReteNode::TReteNode;

    void Receive(const TIETokenRef& token, TCallType callType) override;
    std::string_view NodeName() const override { return "TTestNode"; }
    std::string GetText() const override;

    void AddTest(std::unique_ptr<TIESlotTest> test);
    void AddPredicate(TSlotTestType type, TRefPtr<IIEValue> value, int32_t subIndex);
    int32_t TestCount() const noexcept { return static_cast<int32_t>(FTests.size()); }
    const TIESlotTest& GetTest(int32_t i) const { return *FTests.at(i); }
    bool SameTests(const TTestNode& other) const;
    bool HasPredicates() const noexcept;
    // All tests hold for the incoming `fact` (null in a test node) against the left token.
    // `strength` (the joined token's strength) is lowered to the degree of a fuzzy join test
    // that matches less; without it the left token's strength is the one tested.
    bool TestsPass(const IFact* fact, const TIETokenRef& left, float* strength = nullptr);
    // TestsPass for a join that holds one side fixed while it tries the partners of the other:
    // `sides` (one per join test, unread at first) keeps the fixed side's values once read, the
    // left token's when `leftFixed`, else the fact's.
    // `keysEqual`: the probe keys of the two sides are exact and equal, so the hash tests hold
    // and are not run.
    bool TestsPassFixed(const IFact* fact, const TIETokenRef& left, TIEJoinTest::TSide* sides,
                        bool leftFixed, float* strength = nullptr, bool keysEqual = false) {
        // A checked build runs the tests the exact keys skip, which must hold.
        IE_ASSERT(!keysEqual || !fact || HashedTestsHold(*fact, *left));
        // Many joins test nothing (a pattern that shares no variable with those before it):
        // they pass every partner without a call.
        if (FJoinTests.empty() && !HasOtherTests()) return true;
        // Joins with predicates only (a window on a clock) run them without the join tests'
        // frame.
        if (FJoinTests.empty()) return OtherTestsApart(fact, left, strength);
        const size_t tests = FJoinTests.size() - (keysEqual ? FHashedTests : 0);
        if (!leftFixed) return TestsPassSides<false>(fact, left, sides, strength, tests);
        return FAhead && tests == FJoinTests.size()
                   ? TestsPassAhead(fact, left, sides, strength)
                   : TestsPassSides<true>(fact, left, sides, strength, tests);
    }
    // The invariant of the exact-key skip: a fact and a left token whose probe keys are exact
    // and equal pass the hash tests (the last FHashedTests join tests).
    bool HashedTestsHold(const IFact& fact, const TIEToken& left) const {
        for (size_t i = FJoinTests.size() - FHashedTests; i < FJoinTests.size(); ++i)
            if (!FJoinTests[i]->Test(fact, &left)) return false;
        return true;
    }
    // For a join whose one test is a comparison of numbers, reads the left token's numbers once
    // for all the partners it tries (see TNumberPredicate::FixLeft); false: TestsPassFixed tests.
    bool FixLeftNumbers(const TIEToken& left, TNumberPredicate::TFixed& fixed) const {
        return FJoinTests.empty() && FFuzzyTests.empty() && FQuick.size() == 1 &&
               FQuick[0].FixLeft(&left, fixed);
    }
    // TestsPassFixed with the numbers FixLeftNumbers read.
    bool FixedNumbersPass(const IFact* fact, const TIETokenRef& left,
                          const TNumberPredicate::TFixed& fixed) {
        const TNumberPredicate::TAnswer a = FQuick[0].PassesFixed(left.get(), fact, fixed);
        if (a != TNumberPredicate::naUndecided) return a == TNumberPredicate::naTrue;
        return PredicatesPass(0, fact, left);
    }

protected:
    // Files the test's typed view (join tests first, then predicates, as they were added).
    void Classify(const TIESlotTest* test);
    // Fills FRightGroup for the join tests as they stand.
    void Regroup();

    std::vector<std::unique_ptr<TIESlotTest>> FTests;
    // The same tests by kind, so that running them needs no type test.
    std::vector<const TIEJoinTest*> FJoinTests;
    // Per join test, the first of FJoinTests that reads the same of the incoming fact, so that
    // the tests of one join that compare one slot with several share its read (see Regroup).
    std::vector<uint32_t> FRightGroup;
    std::vector<const TIEPatternMatchTest*> FPredicates;
    // Per predicate, its comparison of numbers answered without the call (see TNumberPredicate).
    std::vector<TNumberPredicate> FQuick;
    // Whether the first predicate has been found to need its call (no comparison in place).
    bool FCallsFirst = false;
    std::vector<const TIEFuzzyJoinTest*> FFuzzyTests;
    // How many of FJoinTests, at their end, a hashed join's probe key covers (0 for the rest).
    size_t FHashedTests = 0;
    // Whether TestsPassFixed with the left side fixed asks the first predicate's comparison of
    // numbers before the hashed tests (see TestsPassAhead).
    bool FAhead = false;
    void UpdateAhead() noexcept;

private:
    // The join tests from `from` to `to`, one side fixed (see TestsPassFixed). With the left
    // side fixed, `right` is the incoming fact's side as read last, for the tests of the group
    // `rightGroup` (see FRightGroup).
    template <bool LeftFixed>
    [[gnu::always_inline]] inline bool
    JoinTestsPass(size_t from, size_t to, const IFact& fact, const TIETokenRef& left,
                  TIEJoinTest::TSide* sides, TIEJoinTest::TSide& right, uint32_t& rightGroup);
    // TestsPassSides<true> for a hashed join with predicates: the hashed tests come last and
    // nearly always hold (the probe found the partner by their values), so a comparison of
    // numbers, which fails more often, is asked before them where that changes nothing but the
    // work (see PredicateBefore).
    [[gnu::noinline]] bool TestsPassAhead(const IFact* fact, const TIETokenRef& left,
                                          TIEJoinTest::TSide* sides, float* strength);
    // The first predicate's comparison of numbers, asked before the join tests from `from` on
    // (the hashed ones) where that changes nothing but the work: naUndecided when it cannot
    // answer or the tests must come first.
    TNumberPredicate::TAnswer PredicateBefore(const IFact* fact, const TIETokenRef& left,
                                              const TIEJoinTest::TSide* sides, size_t from) const;
    // TestsPassFixed for a join with tests.
    // (One for each side held fixed, so that the loop asks nothing per test about it.)
    // `tests`: how many of the join tests to run (the hash tests at their end may be left out).
    template <bool LeftFixed>
    bool TestsPassSides(const IFact* fact, const TIETokenRef& left, TIEJoinTest::TSide* sides,
                        float* strength, size_t tests);
    bool FuzzyTestsPass(const IFact& fact, const TIETokenRef& left, float* strength);
    // Whether there are fuzzy join tests or predicates (most joins have neither: no call).
    bool HasOtherTests() const noexcept { return !FFuzzyTests.empty() || !FPredicates.empty(); }
    // The fuzzy join tests and the predicates, which follow the join tests.
    // `from`: the first predicate to ask (those before answered true).
    [[gnu::always_inline]] inline bool OtherTestsPass(const IFact* fact, const TIETokenRef& left,
                                                      float* strength, size_t from = 0);
    // The predicates from `from` on through their calls.
    [[gnu::noinline]] bool PredicatesPass(size_t from, const IFact* fact, const TIETokenRef& left);
    // PredicatesPass in line.
    [[gnu::always_inline]] inline bool CallsPass(size_t from, const IFact* fact,
                                                 const TIETokenRef& left);
    // OtherTestsPass out of line, for a join with no join tests.
    [[gnu::noinline]] bool OtherTestsApart(const IFact* fact, const TIETokenRef& left,
                                           float* strength);
};

// How a join treats the matches of its right input.
enum TJoinNegation : uint8_t {
    jnNone,   // every match makes a child token
    jnNot,    // the left token passes while nothing matches
    jnExists, // the left token passes while something matches (an even negation count)
};

class TJoinNode : public TTestNode, public ITokenMemoryOwner {
public:
    explicit TJoinNode(TReteNetwork* rete);
    ~TJoinNode() override;

    void Receive(const TIETokenRef& token, TCallType callType) override;
    std::string_view NodeName() const override { return "TJoinNode"; }
    std::string GetText() const override;

    void AddJoinTest(TSlotTestType type, int32_t tokenIndex, std::string_view rightSlot,
                     std::string_view leftSlot);
    void AddMultiSlotJoinTest(TSlotTestType type, int32_t tokenIndex, std::string_view rightSlot,
                              int32_t rightSubIndex, std::string_view leftSlot,
                              int32_t leftSubIndex);
    // Picks the first hashable equality join test and moves it to the front; the memories
    // show their tokens grouped by the value that test compares. A join probes its memories
    // by every hashable equality join test (a single-slot or multislot equality on slots that
    // are not fuzzy), so that it visits only partners that can match all of them. `isFuzzy`
    // tells whether a join test touches a fuzzy slot.
    void ChooseHashTest(const std::function<bool(const TIEJoinTest&)>& isFuzzy);
    // Shares the right memory of another join that reads `source` from the right with the same
    // keys, while that memory has never held a fact: each fact is then stored once for all of
    // them (see TSharedEntry). Called once the join is linked to its inputs.
    void ShareRight(const TReteNode& source);
    // This join's sharer bit in its right memory (0 when the memory is its own).
    uint64_t RightBit() const noexcept { return FRightBit; }
    // The invariant of a child's sharer number: a child this join made with an entry of a shared
    // right memory carries this join's number, by which a removal picks this join's children
    // out of the entry's list (see TTokenEntry::DetachRightChildrenOf).
    bool SharerNumberHolds(const TIEToken& child) const noexcept {
        return !FRightBit || !child.RightOwner() || child.Sharer() == SharerNumber();
    }
    // Whether `child`, found among an entry's children, is one this join made.
    bool OwnChild(const TIEToken& child) const noexcept {
        return child.LeftOwner() && child.LeftOwner()->Tree == FLeft.get() &&
               SharerNumberHolds(child);
    }
    // The invariant the exact-key skip relies on: the entry's probe key and exact-key flag are
    // those this join reads from its token (see TTokenEntry::ExactKey).
    bool KeysHold(const TTokenEntry& entry) const;
    void ClearMemories();
    void SetBackwardChainPattern(TIEPattern* pattern, TRule* rule);
    // The tokens this join has produced so far, recomputed from its memories (priming).
    void CollectOutputs(std::vector<TIETokenRef>& out);

    bool NegatedPattern() const noexcept { return FNegation != jnNone; }
    TJoinNegation Negation() const noexcept { return FNegation; }
    void SetNegation(TJoinNegation value) noexcept { FNegation = value; }
    bool Unique = false;
    bool Hashed() const noexcept { return FHashed; }
    const TIETokenTree& LeftMemory() const noexcept { return *FLeft; }
    const TIETokenTree& RightMemory() const noexcept { return *FRight; }
    TIEPattern* BackwardChainPattern() const noexcept { return FGoalPattern; }

    // ITokenMemoryOwner: a left token withdrawn upstream.
    void WithdrawEntry(TTokenEntry& entry) override;

private:
    // One equality join test the memories are keyed on.
    struct THashPart {
        int32_t TokenIndex;
        int32_t LeftSub;
        int32_t RightSub;
        TSlotReader Left;
        TSlotReader Right;
    };
    // The keys of a token or fact: `shown` is the key of the first hash test (what the
    // memory's text groups by), the result the key of all of them (what a probe looks for).
    // `exact`: the probe key tells the hashed values apart (see TTokenEntry::ExactKey).
    int32_t LeftKey(const TIEToken& token, int32_t& shown, bool& exact) const;
    // LeftKey's read of one part (see there).
    template <bool Sorted>
    static int32_t PartKey(const THashPart& p, const TIEToken& token, int32_t size,
                           const TIEToken*& at, int32_t& atIndex, bool& exact);
    int32_t RightKey(const IFact& fact, int32_t& shown, bool& exact) const;
    // Stores a token in one of the memories (null when an equal one is stored); finds the entry
    // of a stored one equal to `token`. `keys(shown, probe, exact)` gives the keys of a token to
    // insert: a sharer taking in the entry another sharer stored finds them in the entry.
    template <class FKeys>
    TIETokenTree::TEntry* Store(TIETokenTree& memory, const TIETokenRef& token, FKeys&& keys);
    TIETokenTree::TEntry* FindStored(const TIETokenTree& memory, const TIETokenRef& token);
    // Joins a new left entry with the right memory.
    void JoinLeft(TIETokenTree::TEntry& left, TTokenAction action);
    // A negated join's search for a left entry's blocker: the mark of the first right entry
    // (not `skip`) that matches it, counted as its blocker; 0 when none does.
    // (In line in its two callers, as the walks it replaced were.)
    [[gnu::always_inline]] inline uint32_t FindBlocker(TIETokenTree::TEntry& left,
                                                       const TIETokenTree::TEntry* skip);
    // FindBlocker's walk, with `blocks(right)` telling a match.
    template <class F>
    [[gnu::always_inline]] inline uint32_t
    FirstBlocker(TIETokenTree::TEntry& left, const TIETokenTree::TEntry* skip, F&& blocks);
    // FindBlocker when the one test is a comparison of numbers, with the left token's numbers
    // read once for all partners (see FixLeftNumbers).
    [[gnu::noinline]] uint32_t BlockerByNumbers(TIETokenTree::TEntry& left,
                                                const TIETokenTree::TEntry* skip,
                                                const TNumberPredicate::TFixed& numbers);
    // Joins a new right token with the left memory.
    void JoinRight(const TIETokenRef& right, TIETokenTree::TEntry* rightEntry, int32_t probeKey,
                   TTokenAction action);
    // Withdraws what a left entry supports, then erases it.
    void RemoveLeft(TIETokenTree::TEntry& left);
    // Withdraws what a right entry supports and erases it.
    void RemoveRight(TIETokenTree::TEntry& right);
    // Erases a right entry this join has processed the removal of, unless a sharer has it.
    void EraseRight(TIETokenTree::TEntry& right);
    // Right memories that can be shared: the same input read by the same keys.
    bool SameRightKeys(const TJoinNode& other) const;
    // The sharer number of a join of a shared right memory (the place of its bit).
    uint8_t SharerNumber() const noexcept {
        return static_cast<uint8_t>(std::countr_zero(FRightBit));
    }
    // Marks a child made with an entry of the shared right memory as this join's, in the child
    // and in the entry.
    void NoteSharer(TIETokenTree::TEntry& right, TIEToken& child) const noexcept {
        TTokenEntry::NoteSharer(child, SharerNumber());
        static_cast<TSharedEntry&>(right).Parents |= FRightBit;
        IE_ASSERT(SharerNumberHolds(child));
    }
    // Makes a child of `left` (with the fact of `right`, or the not-or-test fact for a negated
    // join's placeholder), links it to both and propagates it.
    void EmitChild(TIETokenTree::TEntry& left, TIETokenTree::TEntry* right, TTokenAction action,
                   float strength);
    void AdoptMemories();
    // (`FindsOne`: a search that mostly stops at its first partner.)
    template <bool FindsOne = false, class F>
    [[gnu::always_inline]] inline void ForEachRight(const TIETokenTree::TEntry& left, F&& visit);
    template <class F> void ForEachLeft(int32_t probeKey, F&& visit);
    void AssertGoal(const TIEToken& left);
    TIETokenRef PlaceholderChild(const TIETokenRef& left, TTokenAction action,
                                 TIEToken::TEntrySlot entrySlot = TIEToken::esNone);
    // The room for an entry the children this join makes get: when they go on to another
    // join's left memory, the size of that memory's entries (see TIEToken::TakeEntrySlot).
    TIEToken::TEntrySlot ChildSlot() {
        return FStoredVersion == FEdgeVersion ? FChildSlot : FindChildSlot();
    }
    // ChildSlot after the edges changed.
    [[gnu::noinline]] TIEToken::TEntrySlot FindChildSlot();

    TJoinNegation FNegation = jnNone;
    std::unique_ptr<TIETokenTree> FLeft;
    std::shared_ptr<TIETokenTree> FRight;
    // What ShareRight gave it (see RightBit).
    uint64_t FRightBit = 0;
    int32_t FPassed = 0;
    TIEPattern* FGoalPattern = nullptr;
    TRule* FRule = nullptr;
    bool FHashed = false;
    // The number the next right entry of a negated join gets (see TTokenEntry::Mark).
    uint32_t FNextMark = 0;
    // The hash tests, the displayed one first.
    std::vector<THashPart> FHashParts;
    // With several hash tests (at most kWalkedParts), their indexes in FHashParts from the last
    // token level they read to the first (see LeftKey); empty otherwise.
    static constexpr size_t kWalkedParts = 8;
    std::vector<uint8_t> FHashWalk;
    // Drawn anew whenever the hash tests are chosen: a join that reads a token's keys from its
    // maker's entry knows by it that the maker's tests are still those it compared.
    uint64_t FKeyStamp = 0;
    // The maker of the left tokens last seen (the memory holding their left entries) and how
    // many of this join's hash tests, in order, are the maker's (0: none or unknown): their keys
    // are the maker's entry's, read from the levels up to MaxIndex.
    struct TKeyFrom {
        const TIETokenTree* Tree = nullptr;
        const TJoinNode* Join = nullptr;
        uint64_t Stamp = 0;
        size_t Parts = 0;
        int32_t MaxIndex = 0;
    };
    mutable TKeyFrom FKeyFrom;
    void FindKeyFrom(const TTokenEntry& maker) const;
    // ChildSlot's answer and the edge version it was found at.
    TIEToken::TEntrySlot FChildSlot = TIEToken::esNone;
    uint32_t FStoredVersion = UINT32_MAX;
    // Where the engine keeps the fact of the placeholders (see PlaceholderChild); null until the
    // first one.
    const TRefPtr<IFact>* FNotOrTestFact = nullptr;
};

// One per rule: turns complete tokens into activations. The agenda owns the activations; the
// node indexes the ones it made by token identity to find them again on retraction.
class TPatternMatchTerminalNode : public TReteNode, public IActivationNode {
public:
    TPatternMatchTerminalNode(TReteNetwork* rete, TRule* rule);
    ~TPatternMatchTerminalNode() override;

    void Receive(const TIETokenRef& token, TCallType callType) override;
    std::string_view NodeName() const override { return "TPatternMatchTerminalNode"; }
    std::string GetText() const override;

    void AddActivation(const TIETokenRef& token, TTokenAction action);
    // The activation of a first-level token equal to `token` (tokens made by joins are
    // withdrawn through their holders).
    bool RemoveActivationFor(const TIEToken& token);
    // Every activation, the newest first, each reported as removed.
    void RemoveAllActivations();
    void SetInitialized() noexcept { FInitialized = true; }
    bool Initialized() const noexcept { return FInitialized; }
    TRule* Rule() const noexcept { return FRule; }
    int32_t ActivationCount() const noexcept { return FCount; }
    // Verifies the node's activation list and index (StructureChecks.cpp); `upstream` is the
    // left memory of the join whose tokens reach the node (null: first-level tokens only).
    void CheckInvariants(const TIETokenTree* upstream) const;

    // IActivationNode
    const std::string& ActivationRuleName() const override;
    int32_t ActivationSalience() override;
    void FireActivation(TActivation& activation) override;
    void ActivationDestroyed(TActivation& activation) noexcept override;
    void WithdrawActivation(TActivation& activation) override;

private:
    // Forgets the activation (no report); false when the node did not list it.
    bool Unlist(TActivation* activation) noexcept;
    void Report(TActivation* activation, bool added);

    struct TIndexLinks {
        static TActivation*& Prev(TActivation& a) noexcept { return a.NodeLinks.HashPrev; }
        static TActivation*& Next(TActivation& a) noexcept { return a.NodeLinks.HashNext; }
    };

    // The fields an activation's making and withdrawal read come first and together (a program
    // of many rules finds few terminal nodes in the cache).
    bool FInitialized = false;
    // Most rules list a few activations at a time, and a retraction finds the one of its token
    // sooner in the short list than a hash table files and drops it: the chains are built only
    // once the node lists more than IndexFrom activations, and kept until it lists none.
    static constexpr int32_t IndexFrom = 8;
    bool FHashing = false;
    int32_t FCount = 0;
    TRule* FRule;
    // The listed activations in making order (for RemoveAll), linked through their NodeLinks,
    // and the identity index of those with first-level tokens: chains by token hash code,
    // oldest first (for "the first equal token").
    TActivation* FFirst = nullptr;
    TActivation* FLast = nullptr;
    // The activation whose firing is in progress, and those of nested runs beyond it: the
    // rule's actions may remove the rule and this node, and the node then detaches them. The
    // first is kept in the node itself, so that a firing writes no block of its own.
    TActivation* FFiringNow = nullptr;
    TKeyChains<TActivation, TIndexLinks> FIndex;
    std::vector<TActivation*> FFiringNested;
    void FiringStarts(TActivation& activation);
    void FiringEnds(TActivation& activation) noexcept;
    // Chains the list's last activation, the list's indexed activations in order (oldest
    // first) when there are no chains yet.
    void Chain(TActivation& last);
};

// Events of the network. Each is one test of an empty handler where it is raised, outside the
// join loops, so an unwatched network pays nothing for them.
using TActivationEvent = std::function<void(TReteNetwork* Sender, TActivation* Activation)>;
using TReteNodeEvent = std::function<void(TReteNetwork* Sender, TReteNode* Node)>;

// One item of the tree copy of the network (see TReteNetwork::AssignTo): the node's text, headed
// by the call type of the edge that leads to it for every item below a root.
struct TReteTreeItem {
    std::string Caption;
    const TReteNode* Node = nullptr;
    std::vector<TReteTreeItem> Children;
};

class TReteNetwork {
public:
    static constexpr int32_t DefaultHashKey = 101;

    explicit TReteNetwork(IRuleEngine* engine, IActivationSink* sink = nullptr);
    TReteNetwork(const TReteNetwork&) = delete;
    TReteNetwork& operator=(const TReteNetwork&) = delete;
    ~TReteNetwork();

    // Compiles the rule (sharing nodes with compiled rules) and primes its new nodes with the
    // engine's facts. A rule that is compiled already is removed first.
    void AddRule(TRule& rule);
    void RemoveRule(TRule& rule);
    bool HasRule(const TRule& rule) const { return FRules.count(&rule) != 0; }
    // The engine's entry point: one token per fact change, a clear token on reset.
    bool AssertToken(const TIETokenRef& token);
    // Every node, root and rule list.
    void Clear();

    IRuleEngine* Engine() const noexcept { return FEngine; }
    IActivationSink* Sink() const noexcept { return FSink; }
    void SetSink(IActivationSink* sink) noexcept { FSink = sink; }
    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool value);
    float MinActivationStrength() const noexcept { return FMinActivationStrength; }
    void SetMinActivationStrength(float value) noexcept;
    int32_t HashKey = DefaultHashKey;

    const std::vector<TPatternMatchNode*>& Roots() const noexcept { return FRoots; }
    // The nodes of a rule, once per use, in the order the rule took them (empty when none).
    const std::vector<TReteNode*>& RuleNodes(const TRule& rule) const;
    size_t NodeCount() const noexcept { return FNodes.size(); }
    TPatternMatchTerminalNode* TerminalNode(const TRule& rule) const;

    // Replaces `view` with the network from the roots down: one item per node reached, every
    // child in edge order (a join appears under both its inputs).
    void AssignTo(std::vector<TReteTreeItem>& view) const;

    // Verifies the whole network (StructureChecks.cpp): edges, rule uses, every memory and the
    // links between the memories and activations of connected nodes; raises a logic error
    // naming the first invariant broken. `activations` receives the number of listed
    // activations, for the engine to compare with its agenda. Returns the steps the memories'
    // checks took (at least the number of memory entries checked).
    int64_t CheckInvariants(int32_t* activations = nullptr) const;

    // Raised after the engine has the new activation; before a removed or fired one goes to the
    // engine (which may free it).
    TActivationEvent OnActivation, OnDeactivation, OnRuleFired;
    // Raised for every node a rule compilation creates or shares, and for every node whose rule
    // use count drops when a rule is removed (before the node is destroyed when the count
    // reaches 0).
    TReteNodeEvent OnNodeChange;

    // Used by the nodes.
    void ActivationAdded(TActivation* activation);
    void ActivationRemoved(TActivation* activation);
    void ActivationFired(TActivation* activation);
    const TRefPtr<IFact>& NotOrTestFact() const;
    // Counts every change of any node's edges (what a split's cached CutLengths depend on).
    uint64_t EdgeChanges() const noexcept { return FEdgeChanges; }
    // The single-fact tokens the join memories hold (see TFactTokens).
    TFactTokens& FactTokens() noexcept { return FFactTokens; }

private:
    struct TBuild;
    TReteNode* Adopt(std::unique_ptr<TReteNode> node);
    void Link(TReteNode* from, TReteNode* to, TCallType callType);
    TPatternMatchNode* AddPatternMatchNode(TBuild& b, TReteNode* parent, TPatternMatchTest kind,
                                           TRefPtr<IIEValue> value,
                                           std::vector<TRefPtr<IIEValue>> args);
    void BuildAlphaNodes(TBuild& b);
    void BuildIntraPatternTests(TBuild& b);
    void BuildJoinNodes(TBuild& b);
    void AddTerminalNode(TBuild& b);
    // Replaces bound variables of the call by their positions; true when it reads a pattern
    // other than `patternIndex`.
    bool BindFunctionArgs(TBuild& b, IFunCall& call, int32_t patternIndex, bool alpha);
    void Prime(TBuild& b);
    // The roots a fact can pass, in root order: those testing for its template's name. Null
    // when the fact must visit every root (a derived template, a fact of another kind, or a
    // root that tests something other than the template name).
    const std::vector<TPatternMatchNode*>* RootsFor(const IFact& fact);
    void RootsChanged() noexcept { FRootIndexValid = false; }
    void CollectOutputs(TReteNode* node, std::vector<TIETokenRef>& out);
    void DestroyNode(TReteNode* node);
    // Hands a removed activation to the engine (or frees it when there is none).
    void ForwardRemoved(TActivation* activation);

    IRuleEngine* FEngine;
    IActivationSink* FSink;
    std::vector<TPatternMatchNode*> FRoots;
    // FRoots by the template name they test (see RootsFor); rebuilt when FRoots changes.
    boost::unordered_flat_map<std::string, std::vector<TPatternMatchNode*>> FRootsByName;
    bool FRootIndexValid = false;
    uint64_t FRootStamp = 0; // this index's own number (see RootsFor)
    bool FRootIndexUsable = false;
    // Before the nodes, whose memories unlist their tokens as they go.
    TFactTokens FFactTokens;
    // Flat: a program of many rules owns thousands of nodes, and a chained table would spend a
    // heap block and a bucket on each.
    boost::unordered_flat_map<TReteNode*, std::unique_ptr<TReteNode>> FNodes;
    std::unordered_map<const TRule*, std::vector<TReteNode*>> FRules;
    float FMinActivationStrength = 0.0f;
    bool FEnabled = true;
    uint64_t FNextSerial = 0;
    uint64_t FEdgeChanges = 0;
};

} // namespace ie

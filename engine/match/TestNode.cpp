// The tests a join or test node runs on a token and a fact: join tests with one side held fixed,
// the comparisons of numbers answered in place, fuzzy join tests and predicates through calls.
//
// Invariant: a node's tests borrow the token and fact through the context and always restore the
// previous match, even when a call fails.
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
using rete::TContextBinding;

// ---------------------------------------------------------------------------------------------
// TTestNode

void TTestNode::AddTest(std::unique_ptr<TIESlotTest> test) {
    Classify(test.get());
    FTests.push_back(std::move(test));
}

void TTestNode::Classify(const TIESlotTest* test) {
    if (auto* join = dynamic_cast<const TIEJoinTest*>(test)) {
        FJoinTests.push_back(join);
        FHashedTests = 0;
        Regroup();
    } else if (auto* fuzzy = dynamic_cast<const TIEFuzzyJoinTest*>(test))
        FFuzzyTests.push_back(fuzzy);
    else if (auto* predicate = dynamic_cast<const TIEPatternMatchTest*>(test)) {
        FPredicates.push_back(predicate);
        FQuick.emplace_back(predicate->SlotTestType() == sttEquals);
    }
    UpdateAhead();
}

void TTestNode::UpdateAhead() noexcept {
    FAhead = FHashedTests > 0 && !FPredicates.empty() && FFuzzyTests.empty();
}

void TTestNode::AddPredicate(TSlotTestType type, TRefPtr<IIEValue> value, int32_t subIndex) {
    AddTest(std::make_unique<TIEPatternMatchTest>(nullptr, type, std::move(value), subIndex));
}

void TTestNode::Regroup() {
    FRightGroup.assign(FJoinTests.size(), 0);
    for (size_t i = 0; i < FJoinTests.size(); ++i) {
        size_t first = 0;
        while (!FJoinTests[i]->SameRight(*FJoinTests[first]))
            ++first;
        FRightGroup[i] = static_cast<uint32_t>(first);
    }
}

bool TTestNode::HasPredicates() const noexcept {
    return !FPredicates.empty();
}

bool TTestNode::SameTests(const TTestNode& other) const {
    if (NodeName() != other.NodeName() || FTests.size() != other.FTests.size()) return false;
    for (const auto& t : FTests) {
        bool found = false;
        for (const auto& o : other.FTests)
            if (t->Equals(*o)) {
                found = true;
                break;
            }
        if (!found) return false;
    }
    return true;
}

bool TTestNode::FuzzyTestsPass(const IFact& fact, const TIETokenRef& left, float* strength) {
    IRuleEngine* engine = FRete->Engine();
    if (!engine) return false;
    TFuzzyExpressions expressions(engine->FuzzyParser());
    const TIEFuzzyJoinTest::TEvaluator evaluate = [&expressions](IFuzzyVariable* variable,
                                                                 const TRefPtr<IIEValue>& value,
                                                                 TIEContext* context) {
        return expressions.Evaluate(variable, value, context);
    };
    float current = strength ? *strength : left->Strength();
    for (const TIEFuzzyJoinTest* test : FFuzzyTests) {
        // A fresh scope per test, so that the variables of one token never leak into another.
        std::unique_ptr<TIEContext> scope = Context().CreateChild();
        scope->SetToken(left);
        scope->SetFact(TRefPtr<IFact>(const_cast<IFact*>(&fact)));
        const double d = test->Degree(fact, left.get(), *scope, evaluate);
        if (d < 0) return false;
        if (current <= d) continue;
        if (FRete->MinActivationStrength() > d) return false;
        current = static_cast<float>(d);
    }
    if (strength) *strength = current;
    return true;
}

bool TTestNode::TestsPass(const IFact* fact, const TIETokenRef& left, float* strength) {
    // The join tests are cheap and come first (the network adds them before any predicate).
    for (const TIEJoinTest* join : FJoinTests)
        if (!fact || !join->Test(*fact, left.get())) return false;
    return OtherTestsPass(fact, left, strength);
}

template <bool LeftFixed>
inline bool TTestNode::JoinTestsPass(size_t from, size_t to, const IFact& fact,
                                     const TIETokenRef& left, TIEJoinTest::TSide* sides,
                                     TIEJoinTest::TSide& right, uint32_t& rightGroup) {
    using TSide = TIEJoinTest::TSide;
    // The tests and groups held in locals: the reads in the loop could change the vectors as
    // far as the compiler knows, so it would load them again on every pass.
    const TIEJoinTest* const* tests = FJoinTests.data();
    [[maybe_unused]] const uint32_t* groups = FRightGroup.data();
    for (size_t i = from; i < to; ++i) {
        const TIEJoinTest& join = *tests[i];
        TSide& fixed = sides[i];
        // The reads come in Test's order: the left side first, the right one only when the
        // left has a value.
        if constexpr (LeftFixed) {
            if (fixed.State == TSide::stUnread) join.ReadLeft(left.get(), fixed);
            if (fixed.State == TSide::stValue && groups[i] != rightGroup) {
                join.ReadRight(fact, right);
                rightGroup = groups[i];
            }
            if (!join.Compare(fixed, right)) return false;
        } else {
            TSide other;
            join.ReadLeft(left.get(), other);
            if (other.State == TSide::stValue && fixed.State == TSide::stUnread)
                join.ReadRight(fact, fixed);
            if (!join.Compare(other, fixed)) return false;
        }
    }
    return true;
}

template <bool LeftFixed>
bool TTestNode::TestsPassSides(const IFact* fact, const TIETokenRef& left,
                               TIEJoinTest::TSide* sides, float* strength, size_t tests) {
    // Most joins have no other tests: no call for them.
    if (FJoinTests.empty()) return !HasOtherTests() || OtherTestsPass(fact, left, strength);
    if (!fact) return false;
    // With the left side fixed, the incoming fact's side as read last, for the tests of its
    // group (a missing slot raises, so what is kept is always a value).
    [[maybe_unused]] TIEJoinTest::TSide right;
    [[maybe_unused]] uint32_t rightGroup = UINT32_MAX;
    if (!JoinTestsPass<LeftFixed>(0, tests, *fact, left, sides, right, rightGroup)) return false;
    return !HasOtherTests() || OtherTestsPass(fact, left, strength);
}

bool TTestNode::TestsPassAhead(const IFact* fact, const TIETokenRef& left,
                               TIEJoinTest::TSide* sides, float* strength) {
    if (!fact) return false;
    TIEJoinTest::TSide right;
    uint32_t rightGroup = UINT32_MAX;
    const size_t count = FJoinTests.size();
    const size_t unhashed = count - FHashedTests;
    if (!JoinTestsPass<true>(0, unhashed, *fact, left, sides, right, rightGroup)) return false;
    const TNumberPredicate::TAnswer a = PredicateBefore(fact, left, sides, unhashed);
    if (a == TNumberPredicate::naFalse) return false;
    if (!JoinTestsPass<true>(unhashed, count, *fact, left, sides, right, rightGroup)) return false;
    // A first predicate that answered is not asked again.
    return OtherTestsPass(fact, left, strength, a == TNumberPredicate::naTrue ? 1 : 0);
}

TNumberPredicate::TAnswer TTestNode::PredicateBefore(const IFact* fact, const TIETokenRef& left,
                                                     const TIEJoinTest::TSide* sides,
                                                     size_t from) const {
    using TSide = TIEJoinTest::TSide;
    const TNumberPredicate& quick = FQuick[0];
    if (quick.State() != TNumberPredicate::nsCompiled) return TNumberPredicate::naUndecided;
    // Only where the tests it goes before can neither raise nor read anything first: their left
    // values are read (by the partners before) and the fact sets their right slots.
    const size_t count = FJoinTests.size();
    for (size_t i = from; i < count; ++i)
        if (sides[i].State != TSide::stValue || !FJoinTests[i]->RightSet(*fact))
            return TNumberPredicate::naUndecided;
    return quick.Passes(left.get(), fact);
}

template bool TTestNode::TestsPassSides<true>(const IFact*, const TIETokenRef&, TIEJoinTest::TSide*,
                                              float*, size_t);
template bool TTestNode::TestsPassSides<false>(const IFact*, const TIETokenRef&,
                                               TIEJoinTest::TSide*, float*, size_t);

inline bool TTestNode::CallsPass(size_t from, const IFact* fact, const TIETokenRef& left) {
    TIEContext& context = Context();
    TContextBinding bound(context, left.get(), fact);
    // TIEPatternMatchTest::Evaluate in line: the condition reader answers a comparison in line.
    for (size_t i = from; i < FPredicates.size(); ++i) {
        const TIEPatternMatchTest* predicate = FPredicates[i];
        const bool equals = predicate->SlotTestType() == sttEquals;
        if (const TRefPtr<IIEValue>& value = predicate->SlotValue()) {
            if (EvalCondition(value, &context) != equals) return false;
        } else if (!equals) {
            return false;
        }
    }
    return true;
}

bool TTestNode::PredicatesPass(size_t from, const IFact* fact, const TIETokenRef& left) {
    return CallsPass(from, fact, left);
}

inline bool TTestNode::OtherTestsPass(const IFact* fact, const TIETokenRef& left, float* strength,
                                      size_t from) {
    if (!FFuzzyTests.empty() && (!fact || !FuzzyTestsPass(*fact, left, strength))) return false;
    // The comparisons of numbers answer without their calls; the first that cannot hands the
    // rest to the calls.
    const size_t count = FPredicates.size();
    TNumberPredicate* quick = FQuick.data();
    for (size_t i = from; i < count; ++i) {
        if (quick[i].State() == TNumberPredicate::nsUntried) [[unlikely]] {
            quick[i].Compile(FPredicates[i]->SlotValue().get());
            FCallsFirst = quick[0].State() == TNumberPredicate::nsNone;
        }
        const TNumberPredicate::TAnswer a = quick[i].Passes(left.get(), fact);
        if (a == TNumberPredicate::naFalse) return false;
        if (a == TNumberPredicate::naUndecided) return PredicatesPass(i, fact, left);
    }
    return true;
}

bool TTestNode::OtherTestsApart(const IFact* fact, const TIETokenRef& left, float* strength) {
    // A first predicate that compares no numbers in place goes to the calls at once, as a test
    // element's does: asking its comparison first costs every partner a round through the loop.
    if (FCallsFirst && FFuzzyTests.empty()) return CallsPass(0, fact, left);
    return OtherTestsPass(fact, left, strength);
}

void TTestNode::Receive(const TIETokenRef& token, TCallType) {
    // TestsPass without a fact, in line: a test element has predicates only (and those that
    // compare no numbers in place run their calls in line, as in TestsPass).
    if (token->GetTag() == taClear ||
        (FJoinTests.empty() && FFuzzyTests.empty() &&
         (FCallsFirst ? CallsPass(0, nullptr, token) : OtherTestsPass(nullptr, token, nullptr))))
        Propagate(token);
}

std::string TTestNode::GetText() const {
    std::string text = TReteNode::GetText() + " NumTests: " + IntText(FTests.size());
    for (const auto& t : FTests)
        text += " (" + t->GetText() + ")";
    return text;
}

} // namespace ie

// Patterns and slot tests: one conditional element of a rule's left-hand side.
//
// A pattern (TIEPattern) names a fact template and holds, per template slot in declaration order,
// the tests of that slot (TIEPatternMatchTest), the required length of a multislot value (-1 =
// any), how many times the element is negated and an optional variable bound to the matched
// fact. The network compiles a pattern into alpha nodes and joins; a join compares a slot of the
// incoming fact with a slot of a fact already in the token through a TIEJoinTest.
//
// Invariants: every test of a pattern is owned by exactly one slot list of that pattern and
// points back at it; after CompileConnectives no test of the pattern is joined by "|".
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/match/IEToken.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEInterfaces.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/Component.h"

namespace ie {

class TIEPattern;
class TRule;
class IRuleEngine;

enum TSlotTestType : uint8_t { sttEquals, sttNotEquals };
using TJoinTestType = TTemplateSlotType;

std::string_view SlotTestTypeName(TSlotTestType t) noexcept;
std::string_view JoinTestTypeName(TJoinTestType t) noexcept;

// The common part of pattern and join tests: whether the test asks for equality or inequality.
// A program holds thousands of tests (one or more per rule): TBlockAllocated.
class TIESlotTest : public TPersistent, public TBlockAllocated {
public:
    explicit TIESlotTest(TSlotTestType type = sttEquals) : FSlotTestType(type) {}

    std::string_view ClassName() const override { return "TIESlotTest"; }
    void Assign(const TPersistent* source) override;
    // "=" or "<>".
    virtual std::string GetText() const;
    virtual std::unique_ptr<TIESlotTest> Clone() const = 0;
    // Equal classes and equal test types.
    virtual bool Equals(const TIESlotTest& other) const;

    TSlotTestType SlotTestType() const noexcept { return FSlotTestType; }
    void SetSlotTestType(TSlotTestType type) { FSlotTestType = type; }

protected:
    TSlotTestType FSlotTestType;
};

// One constraint of a "|" run as it was read: the test that CompileConnectives makes of the run
// keeps them, so that the rule is written back as it was written instead of as the generated
// variable and "or" call that it matches by.
struct TWrittenConstraint {
    TSlotTestType Type;
    TRefPtr<IIEValue> Value;
    bool Conjunction;
};
using TWrittenConstraints = std::vector<TWrittenConstraint>;

// One test of one slot of a pattern: a constant, a variable, a multifield variable or a
// predicate call, on the whole slot value (sub-index -1) or on one element of a multislot.
class TIEPatternMatchTest : public TIESlotTest {
public:
    explicit TIEPatternMatchTest(TIEPattern* owner);
    TIEPatternMatchTest(TIEPattern* owner, TSlotTestType type, TRefPtr<IIEValue> value,
                        int32_t subIndex);

    std::string_view ClassName() const override { return "TIEPatternMatchTest"; }
    void Assign(const TPersistent* source) override;
    // "= SubIdx: -1 Slot: ?x".
    std::string GetText() const override;
    std::unique_ptr<TIESlotTest> Clone() const override;
    bool Equals(const TIESlotTest& other) const override;

    // Evaluates the predicate value in the context: an equality test passes unless the result
    // is the atom FALSE, an inequality test only when it is.
    bool Evaluate(TIEContext* context) const;

    const TRefPtr<IIEValue>& SlotValue() const noexcept { return FSlotValue; }
    void SetSlotValue(TRefPtr<IIEValue> value);
    int32_t MultiSlotSubIndex() const noexcept { return FMultiSlotSubIndex; }
    void SetMultiSlotSubIndex(int32_t index);
    bool Conjunction() const noexcept { return FConjunction; }
    void SetConjunction(bool value);
    TIEPattern* Owner() const noexcept { return FOwner; }
    // The run of constraints this test was compiled from (null for a test read as it stands).
    const TWrittenConstraints* WrittenForm() const noexcept { return FWrittenForm.get(); }

    // The kind of the test's value (dtNone when there is none).
    TIEType ValueType() const noexcept { return FSlotValue ? FSlotValue->GetDType() : dtNone; }
    bool IsVariable() const noexcept {
        TIEType t = ValueType();
        return t == dtVariable || t == dtMultiVariable;
    }
    bool IsFunCall() const noexcept { return ValueType() == dtFunCall; }
    // The function-call form of the test against `variable` (see CompileConnectives).
    TRefPtr<IFunCall> BuildFunCall(IReasoner* reasoner, const TRefPtr<IIEValue>& variable) const;

private:
    friend class TIEPattern;
    friend class TRule;
    TIEPattern* FOwner;
    TRefPtr<IIEValue> FSlotValue;
    int32_t FMultiSlotSubIndex = -1;
    bool FConjunction = true;
    std::shared_ptr<const TWrittenConstraints> FWrittenForm;
};

// Reads one named slot of facts by its position. The position is looked up by name once per
// template (again when the template's slots change), so a pattern that also admits facts of a
// child template with another slot layout costs a name lookup when the template changes, never
// a wrong position. The reader holds the last template it resolved, so its address cannot be
// reused by another template while the reader remembers it.
class TSlotReader {
public:
    TSlotReader() = default;
    explicit TSlotReader(std::string_view name) : FName(TIEText::Make(name)) {}
    TSlotReader(const TSlotReader& other) : FName(other.FName) {}
    TSlotReader& operator=(const TSlotReader& other) {
        if (this != &other) {
            FName = other.FName;
            FTemplate = nullptr;
            FHold = nullptr;
        }
        return *this;
    }

    const std::string& Name() const noexcept { return FName->Text(); }
    // Resolves the position for facts of `factTemplate` now (a rule's compilation knows the
    // template its pattern reads), so that the first fact read needs no name lookup.
    void Prepare(const IFactTemplate* factTemplate) const {
        if (auto* t = dynamic_cast<const TFactTemplate*>(factTemplate)) Resolve(t);
    }
    // The slot's value (the reference stays valid while the fact is not changed), or null when
    // the fact's template lacks the slot; `found` tells which. A fact that is not a TFact is read
    // by name into `hold`. Raises what the fact raises without a template.
    const IIEValue* Read(const IFact& fact, TRefPtr<IIEValue>& hold, bool& found) const {
        // The type object itself, not its name: the name comparison may call strcmp, and a
        // call costs the fast path more than the read. A miss only takes the slow path.
        if (&typeid(fact) == &typeid(TFact)) {
            const TFact& f = static_cast<const TFact&>(fact);
            // A value set in a fact of the template and layout the reader resolved, while the
            // template keeps that layout: read without a call (the rest, defaults and missing
            // slots included, read out of line). A layout number belongs to one template only,
            // so a fact in the reader's layout has the reader's template (and has one).
            if (const IIEValue* v = f.StoredValueAt(FIndex, FLayout)) [[likely]]
                if (f.Template()->Layout() == FLayout) [[likely]] {
                    found = true;
                    return v;
                }
        }
        return ReadResolving(fact, hold, found);
    }
    // The value Read gives when it needs no call (a value set in a fact of the engine's own
    // class), else null. Resolves the position again for a fact of another template or layout;
    // raises nothing and looks nothing up by name for the template it knows.
    const IIEValue* Peek(const IFact& fact) const {
        if (&typeid(fact) != &typeid(TFact)) return nullptr;
        const TFact& f = static_cast<const TFact&>(fact);
        // (As Read: the layout tells the template.)
        if (const IIEValue* v = f.StoredValueAt(FIndex, FLayout)) [[likely]]
            if (f.Template()->Layout() == FLayout) [[likely]]
                return v;
        const TFactTemplate* t = f.Template();
        if (!t) return nullptr;
        if (t != FTemplate || t->Layout() != FLayout) Resolve(t);
        return f.StoredValueAt(FIndex, FLayout);
    }
    // Element `sub` (-1: the whole value) of the slot as the cuts of a multifield split leave
    // it (`cut`: the cuts the token's level holds of the fact; null: none), or null.
    inline const IIEValue* ReadElement(const IFact& fact, const TMatchCut* cut, int32_t sub,
                                       TRefPtr<IIEValue>& hold, bool& found) const;
    // The same for `value`, which Read just gave for the fact.
    const IIEValue* ElementRead(const IFact& fact, const TMatchCut* cut, const IIEValue* value,
                                int32_t sub, TRefPtr<IIEValue>& hold) const;
    // The position of the slot in the last fact of the engine's own class read.
    int32_t Index() const noexcept { return FIndex; }

private:
    void Resolve(const TFactTemplate* t) const;
    // Read for a fact of another template than the last one read (or of none).
    const IIEValue* ReadResolving(const IFact& fact, TRefPtr<IIEValue>& hold, bool& found) const;

    // What a read asks first, the name last: a join's tests read their slots by the million.
    mutable uint32_t FLayout = 0;
    mutable int32_t FIndex = -1;
    mutable const TFactTemplate* FTemplate = nullptr;
    mutable TRefPtr<IFactTemplate> FHold;
    // Interned (never null): the readers of a program name few slots, and a reader is then 32
    // bytes, not 56.
    TRefPtr<TIEText> FName = TIEText::Empty();
};

// The identity of a number or text for finding, by the value a fact holds, the alpha tests that
// compare a slot with constants for equality: two keys are equal exactly when ValuesEqual holds
// for their values. Only numbers and texts of the engine's own value class have keys: a fuzzy
// value equals what it matches, NaN equals nothing, other kinds compare by content. A text key
// refers to the value's text block, so it lives no longer than the value.
struct TConstantKey {
    TIEType Type = dtNone;
    uint64_t Bits = 0; // an integer kind's 32-bit value, a float's bits (0.0 for -0.0)
    const TIEText* Text = nullptr;

    bool operator==(const TConstantKey& other) const noexcept {
        return Type == other.Type && Bits == other.Bits &&
               (Text == other.Text || (Text && other.Text && Text->SameText(*other.Text)));
    }
};
struct TConstantKeyHash {
    size_t operator()(const TConstantKey& key) const noexcept {
        const uint64_t h = key.Text ? static_cast<uint32_t>(key.Text->Hash()) : key.Bits;
        return static_cast<size_t>((h ^ (uint64_t(key.Type) << 56)) * 0x9E3779B97F4A7C15ull);
    }
};
// The key of the value; false when it has none. Inline: an indexed alpha node makes one per
// fact it passes on.
inline bool MakeConstantKey(const IIEValue* value, TConstantKey& key) noexcept {
    if (!value || typeid(*value) != typeid(TIEValue)) return false;
    const auto* v = static_cast<const TIEValue*>(value);
    key = TConstantKey{v->DType(), 0, nullptr};
    switch (v->DType()) {
    case dtInteger:
    case dtFactId:
    case dtDescriptor:
        // Compared as 32-bit numbers (TIEValue::SameKindEquals).
        key.Bits = static_cast<uint32_t>(v->IntPayload());
        return true;
    case dtFloat: {
        double d = v->NumberPayload();
        if (d != d) return false;
        if (d == 0.0) d = 0.0;
        std::memcpy(&key.Bits, &d, sizeof d);
        return true;
    }
    default:
        key.Text = v->TextBlock();
        return key.Text != nullptr;
    }
}

// The element `subIndex` of a list value (the value itself for -1), or null when there is none.
const IIEValue* ElementOfAny(const IIEValue* value, int32_t subIndex);
// The same, without calls for a list of the engine's own classes (the elements of an ordered
// fact read by every join test of its patterns).
// The type objects are compared by address (no name comparison, no call): a miss only takes
// the general way.
inline const IIEValue* ElementOf(const IIEValue* value, int32_t subIndex) {
    if (subIndex < 0 || !value) return value;
    if (&typeid(*value) == &typeid(TIEValue)) {
        const IValueVector* list = static_cast<const TIEValue*>(value)->ListPayload();
        if (list && &typeid(*list) == &typeid(TValueVector)) {
            const auto* items = static_cast<const TValueVector*>(list);
            return subIndex < items->end() - items->begin() ? items->begin()[subIndex].get()
                                                            : nullptr;
        }
    }
    return ElementOfAny(value, subIndex);
}

inline const IIEValue* TSlotReader::ReadElement(const IFact& fact, const TMatchCut* cut,
                                                int32_t sub, TRefPtr<IIEValue>& hold,
                                                bool& found) const {
    const IIEValue* value = Read(fact, hold, found);
    // Only the facts of splits have cuts: read through them out of line.
    if (cut && found) [[unlikely]]
        return ElementRead(fact, cut, value, sub, hold);
    return ElementOf(value, sub);
}

// The network's comparison of a slot of the incoming fact (right) with a slot of a fact already
// in the left token.
class TIEJoinTest : public TIESlotTest {
public:
    TIEJoinTest(TSlotTestType type, int32_t tokenIndex, std::string_view rightSlot,
                std::string_view leftSlot);
    TIEJoinTest(TSlotTestType type, int32_t tokenIndex, std::string_view rightSlot,
                int32_t rightSubIndex, std::string_view leftSlot, int32_t leftSubIndex);

    std::string_view ClassName() const override { return "TIEJoinTest"; }
    void Assign(const TPersistent* source) override;
    std::string GetText() const override;
    std::unique_ptr<TIESlotTest> Clone() const override;
    bool Equals(const TIESlotTest& other) const override;

    // Compares the right slot of `fact` with the left slot of the token's fact at TokenIndex.
    bool Test(const IFact& fact, const TIEToken* token) const;

    // One side of the comparison read ahead: a join holds one side fixed while it tries the
    // partners of the other, so that side is read once, not once per partner. What the read
    // found is told by Compare, which raises what Test raises in the order Test does.
    struct TSide {
        enum TState : uint8_t { stUnread, stValue, stMissing, stPass };
        const IIEValue* Value = nullptr; // the slot or element; null when there is none
        TRefPtr<IIEValue> Hold;          // keeps a value read by name alive
        TState State = stUnread;
    };
    // Inline for a slot of a fact no split cut, the usual case: a join reads the left side of
    // each test once per left token it tries, and most of those tokens try one or two partners.
    void ReadLeft(const TIEToken* token, TSide& side) const {
        if (JoinTestType == tstSlot && token && !LeftIsFact()) [[likely]] {
            const TIEToken* level = token->LevelPtr(TokenIndex);
            const IFact* left = level ? level->Fact() : nullptr;
            if (left && !level->MatchCut()) [[likely]] {
                bool found;
                side.Value = FLeftReader.Read(*left, side.Hold, found);
                side.State = found ? TSide::stValue : TSide::stMissing;
                return;
            }
        }
        ReadLeftApart(token, side);
    }
    // ReadLeft for the rest: elements of lists, cut facts, missing levels.
    [[gnu::noinline]] void ReadLeftApart(const TIEToken* token, TSide& side) const;
    // Inline: a join reads the incoming fact's side once per partner it tries.
    void ReadRight(const IFact& fact, TSide& side) const {
        bool found;
        side.Value = FRightReader.Read(fact, side.Hold, found);
        if (!found) [[unlikely]] {
            side.State = TSide::stMissing;
            return;
        }
        if (JoinTestType != tstSlot) side.Value = ElementOf(side.Value, RightSubIndex);
        side.State = TSide::stValue;
    }
    // Whether ReadRight finds a value set in the fact without a call (so Compare cannot raise on
    // its side); false says nothing.
    bool RightSet(const IFact& fact) const { return FRightReader.Peek(fact) != nullptr; }
    // ReadLeft for a level whose fact a split cut (read through the cuts).
    [[gnu::noinline]] void ReadLeftCut(const TIEToken& level, TSide& side) const;
    // Whether ReadRight gives the same as the other test's for every fact.
    bool SameRight(const TIEJoinTest& other) const noexcept {
        return (JoinTestType == tstSlot) == (other.JoinTestType == tstSlot) &&
               (JoinTestType == tstSlot || RightSubIndex == other.RightSubIndex) &&
               RightSlot() == other.RightSlot();
    }
    bool Compare(const TSide& left, const TSide& right) const {
        if (left.State != TSide::stValue || right.State != TSide::stValue) [[unlikely]]
            return CompareUnread(left);
        const IIEValue* lv = left.Value;
        const IIEValue* rv = right.Value;
        // A missing element never equals anything, so it passes only an inequality test; a
        // missing slot value equals only another.
        bool equal;
        if (lv && rv) {
            // Two numbers or texts of the engine's own class, the usual case, compare inline.
            // (One value is equal to itself whatever it holds, NaN included.)
            bool decided = lv == rv;
            equal = decided;
            if (!decided && &typeid(*lv) == &typeid(TIEValue) && &typeid(*rv) == &typeid(TIEValue))
                equal = static_cast<const TIEValue*>(lv)->SameKindEquals(
                    *static_cast<const TIEValue*>(rv), decided);
            if (!decided) equal = ValuesEqual(lv, rv);
        } else {
            equal = JoinTestType == tstSlot && lv == rv;
        }
        return FSlotTestType == sttEquals ? equal : !equal;
    }

    // What a test reads as it runs comes first, beside its type (in the base) and before the
    // readers, so that a test costs a join's walk few cache lines; the names come last.
    int32_t RightSubIndex = -1;
    int32_t TokenIndex = 0;
    int32_t LeftSubIndex = -1;
    TJoinTestType JoinTestType = tstSlot;

    // The slot names, which the readers keep (set by the constructors and Assign).
    const std::string& RightSlot() const noexcept { return FRightReader.Name(); }
    const std::string& LeftSlot() const noexcept { return FLeftReader.Name(); }
    // Whether the left side is the token's fact itself (the left slot is the pattern's own
    // binding, a variable bound to the matched fact): the right slot is compared with that
    // fact's address. No memory is hashed on such a test.
    bool LeftIsFact() const noexcept { return FLeftIsFact; }

private:
    bool FLeftIsFact = false; // see LeftIsFact
    TSlotReader FRightReader;
    TSlotReader FLeftReader;

    // Compare when a side has no value: passes or raises.
    [[noreturn]] void RaiseMissing(const TSide& left) const;
    bool CompareUnread(const TSide& left) const {
        if (left.State == TSide::stPass) return true;
        RaiseMissing(left);
    }
};

// A predicate of a join or test element answered without its call: a comparison of numbers
// (>, >=, <, <=, =, <>) of pattern variables and number literals, or an `and` or `or` of such.
// It is compiled from the predicate's call once the call is bound to its functions (a call of
// the network's keeps the function it is bound to). It answers only where the call would
// compare plain numbers (every value read is an integer or float of the engine's own class,
// set in a fact of the engine's own class), and as the call's functions compare them; anything
// else it leaves undecided, and the call then runs from the start (the reads have no effects)
// and answers or raises as it always does.
class TNumberPredicate {
public:
    enum TAnswer : int8_t { naUndecided = -1, naFalse = 0, naTrue = 1 };
    enum TState : uint8_t { nsUntried, nsCompiled, nsNone };
    // The numbers a comparison reads of a left token held fixed while a join tries the partners
    // of a memory, read once for all of them.
    struct TFixed {
        static constexpr uint32_t kArguments = 4;
        double Number[kArguments];
        uint32_t Mask = 0; // bit i: argument i reads the left token, its number in Number[i]
    };

    explicit TNumberPredicate(bool equals) : FEquals(equals) {}
    // Compiles the predicate's value while untried; it stays untried while a call it holds is
    // not bound to its function yet.
    void Compile(const IIEValue* value);
    TState State() const noexcept { return FState; }
    // Whether the test passes (the value is not FALSE for an equality test, FALSE for an
    // inequality test), reading the left token and the incoming fact (null in a test element);
    // naUndecided when the call must answer.
    [[gnu::always_inline]] TAnswer Passes(const TIEToken* left, const IFact* fact) const {
        if (FState != nsCompiled) return naUndecided;
        const TAnswer a = NodeHolds(FNodes[0], left, fact);
        if (a == naUndecided) return a;
        return (a == naTrue) == FEquals ? naTrue : naFalse;
    }
    // Reads into `fixed` the numbers of a compiled comparison (no `and`/`or`) that `left` gives;
    // false when there are none or one is no plain number (Passes answers then).
    bool FixLeft(const TIEToken* left, TFixed& fixed) const;
    // Passes for the left token that FixLeft read.
    [[gnu::always_inline]] TAnswer PassesFixed(const TIEToken* left, const IFact* fact,
                                               const TFixed& fixed) const {
        const TAnswer a = CompareHolds<true>(FNodes[0], left, fact, &fixed);
        if (a == naUndecided) return a;
        return (a == naTrue) == FEquals ? naTrue : naFalse;
    }

private:
    // A number literal (FactIndex -1, SubIndex -1), a slot of a matched fact (the fact at
    // FactIndex of the left token, or the incoming fact when FactIndex is the token's length)
    // or the element SubIndex of such a slot's list (FactIndex -2 - the fact's index).
    struct TArgument {
        int32_t FactIndex = -1;
        int32_t SubIndex = -1;
        double Literal = 0.0;
        TSlotReader Reader;
    };
    // A comparison of the arguments First.. (Count of them), or an `and` or `or` (Test ntNone)
    // of the nodes that FItems lists from First.
    struct TNode {
        TNumberTest Test;
        bool Or;
        uint32_t First;
        uint32_t Count;
    };
    // The node's position, -1 when the value has no shape compiled (-2: a call not yet bound).
    int32_t CompileNode(const IIEValue* value);
    [[gnu::always_inline]] inline TAnswer NodeHolds(const TNode& node, const TIEToken* left,
                                                    const IFact* fact) const;
    // NodeHolds for a comparison; with Fixed the arguments `fixed` holds are not read.
    template <bool Fixed>
    [[gnu::always_inline]] inline TAnswer CompareHolds(const TNode& node, const TIEToken* left,
                                                       const IFact* fact,
                                                       const TFixed* fixed) const;
    // NodeHolds for an `and` or `or` (out of line: most predicates compare only).
    [[gnu::noinline]] TAnswer LogicHolds(const TNode& node, const TIEToken* left,
                                         const IFact* fact) const;
    // The number an argument reads as; false when it reads as no plain number.
    [[gnu::always_inline]] static bool ReadNumber(const TArgument& a, const TIEToken* left,
                                                  const IFact* fact, double& number) {
        // A literal or an element (FactIndex below 0) out of the way of a whole slot's read.
        if (a.FactIndex < 0) [[unlikely]] {
            if (a.SubIndex < 0) {
                number = a.Literal;
                return true;
            }
            return ReadElementNumber(a, left, fact, number);
        }
        return PlainNumberIn(ReadSlot(a, a.FactIndex, left, fact), number);
    }
    // The slot value the argument reads in the fact at `factIndex`, null where the call reads.
    [[gnu::always_inline]] static const IIEValue*
    ReadSlot(const TArgument& a, int32_t factIndex, const TIEToken* left, const IFact* fact) {
        const IFact* f;
        const int32_t n = left ? left->Size() : 0;
        if (factIndex == n && fact) {
            f = fact;
        } else {
            if (factIndex >= n) return nullptr;
            const TIEToken* level = left->LevelPtr(factIndex);
            if (!level || level->MatchCut()) return nullptr;
            f = level->Fact();
            if (!f) return nullptr;
        }
        return a.Reader.Peek(*f);
    }
    // ReadNumber for an element of a slot's list.
    [[gnu::noinline]] static bool ReadElementNumber(const TArgument& a, const TIEToken* left,
                                                    const IFact* fact, double& number);

    std::vector<TNode> FNodes; // the root first
    std::vector<TArgument> FArguments;
    std::vector<uint32_t> FItems;
    bool FEquals;
    TState FState = nsUntried;
    uint8_t FTries = 0;
};

inline TNumberPredicate::TAnswer
TNumberPredicate::NodeHolds(const TNode& node, const TIEToken* left, const IFact* fact) const {
    if (node.Test == ntNone) return LogicHolds(node, left, fact);
    return CompareHolds<false>(node, left, fact, nullptr);
}

template <bool Fixed>
inline TNumberPredicate::TAnswer
TNumberPredicate::CompareHolds(const TNode& node, const TIEToken* left, const IFact* fact,
                               const TFixed* fixed) const {
    // As the call's comparison in place: =, <> compare the first with each other, the others
    // each pair of neighbours; the first pair that fails decides, the later ones unread.
    const TArgument* arguments = FArguments.data() + node.First;
    auto read = [&](uint32_t i, double& number) {
        if constexpr (Fixed) {
            if (fixed->Mask & (1u << i)) {
                number = fixed->Number[i];
                return true;
            }
        }
        return ReadNumber(arguments[i], left, fact, number);
    };
    double first;
    if (!read(0, first)) return naUndecided;
    const bool chain = node.Test != ntEqual && node.Test != ntNotEqual;
    double previous = first;
    for (uint32_t i = 1; i < node.Count; ++i) {
        double current;
        if (!read(i, current)) return naUndecided;
        if (!NumbersHold(node.Test, chain ? previous : first, current)) return naFalse;
        previous = current;
    }
    return naTrue;
}

// A fuzzy slot of the incoming fact compared with a linguistic expression that reads variables
// bound by earlier patterns, such as (t very ?x): the expression can only be completed once the
// left token is known, so the test runs in the join. The degree to which the slot's value
// matches the completed expression caps the strength of the joined token.
class TIEFuzzyJoinTest : public TIESlotTest {
public:
    // Turns the expression into a fuzzy value of the variable, reading variables in the context.
    using TEvaluator =
        std::function<TRefPtr<IIEValue>(IFuzzyVariable*, const TRefPtr<IIEValue>&, TIEContext*)>;

    TIEFuzzyJoinTest(TSlotTestType type, std::string_view rightSlot, TRefPtr<IIEValue> expression,
                     TRefPtr<IFuzzyVariable> variable);

    std::string_view ClassName() const override { return "TIEFuzzyJoinTest"; }
    void Assign(const TPersistent* source) override;
    // "= Fuzzy: very ?x Right: size".
    std::string GetText() const override;
    std::unique_ptr<TIESlotTest> Clone() const override;
    bool Equals(const TIESlotTest& other) const override;

    // Names a variable of the expression and where the left token holds its value (token
    // index -1: the incoming fact).
    void AddVariable(std::string_view name, int32_t tokenIndex, std::string_view slot,
                     int32_t subIndex);
    // The degree (0 to 1) to which the right slot of `fact` matches the expression completed
    // with the token's values, or -1 when the test fails (an inequality test passes with 1
    // when the slot does not equal the expression). `context` is a scratch context.
    double Degree(const IFact& fact, const TIEToken* token, TIEContext& context,
                  const TEvaluator& evaluate) const;

    const std::string& RightSlot() const noexcept { return FRightSlot; }
    const TRefPtr<IIEValue>& Expression() const noexcept { return FExpression; }

private:
    struct TVariableRef {
        std::string Name;
        int32_t TokenIndex;
        TSlotReader Slot;
        int32_t SubIndex;
    };
    std::string FRightSlot;
    TSlotReader FRightReader;
    TRefPtr<IIEValue> FExpression;
    TRefPtr<IFuzzyVariable> FVariable;
    std::vector<TVariableRef> FVariables;
};

// Short arrays of the engine's pool: a rule's patterns hold a few tests per slot.
using TSlotTests = std::vector<std::unique_ptr<TIEPatternMatchTest>,
                               TBlockAllocator<std::unique_ptr<TIEPatternMatchTest>>>;

// The tests of one slot of a pattern.
struct TPatternSlot {
    // The slot's name, interned: every pattern on a template names the same few slots.
    TRefPtr<TIEText> NameText;
    int32_t MultiSlotLength = -1;
    TSlotTests Tests;
    const std::string& Name() const noexcept { return NameText->Text(); }
};

using TPatternChangeEvent = TRareEvent<void(TIEPattern* sender)>;

// A program holds thousands of patterns (one or more per rule): TBlockAllocated.
class TIEPattern : public TPersistent, public TBlockAllocated {
public:
    // A pattern of `rule` on `factTemplate`, with one empty test list per template slot.
    TIEPattern(TRule* rule, std::string_view name, TRefPtr<IFactTemplate> factTemplate,
               int32_t negatedCount);
    // A copy of `source` for `rule` with another name and negated count, on `factTemplate` when
    // given (else the source's); every anonymous variable gets a fresh name from the engine's
    // symbol generator.
    TIEPattern(TRule* rule, const TIEPattern& source, std::string_view name, int32_t negatedCount,
               TRefPtr<IFactTemplate> factTemplate = nullptr);
    ~TIEPattern() override;

    std::string_view ClassName() const override { return "TIEPattern"; }
    void Assign(const TPersistent* source) override;

    void Changed();
    void BeginUpdate() noexcept { ++FUpdateCount; }
    void EndUpdate();

    TIEPatternMatchTest* NewTest(TSlotTestType type, TRefPtr<IIEValue> value, int32_t subIndex);
    // Adds the test to the named slot; raises "Fact Template is missing" or "No such slot name".
    TIEPatternMatchTest* AddTestToSlot(std::string_view slotName,
                                       std::unique_ptr<TIEPatternMatchTest> test);
    TIEPatternMatchTest* AddSlotTest(std::string_view slotName, TRefPtr<IIEValue> value,
                                     bool conjunction = true, bool notEqual = false,
                                     int32_t subIndex = -1);
    // Rewrites the tests joined by "|" into one predicate test per run of a sub-index.
    void CompileConnectives();
    std::unique_ptr<TIEPattern> CopyForRule(TRule* rule) const;
    // "(name (slot tests) ...)" for traces.
    std::string GetText() const;

    // Properties
    bool Unique() const noexcept { return FUnique; }
    void SetUnique(bool value);
    bool Explicit() const noexcept { return FExplicit; }
    void SetExplicit(bool value);
    const TRefPtr<IFactTemplate>& FactTemplate() const noexcept { return FFactTemplate; }
    int32_t NegatedCount() const noexcept { return FNegatedCount; }
    void SetNegatedCount(int32_t count);
    bool IsNegated() const noexcept { return (FNegatedCount & 1) != 0; }
    const std::string& BoundName() const noexcept { return FBoundName; }
    void SetBoundName(std::string_view name);
    const std::string& Name() const noexcept { return FName; }
    void SetName(std::string_view name);
    TRule* Rule() const noexcept { return FRule; }
    void SetRule(TRule* rule);
    const std::string& Comment() const noexcept { return FComment.Get(); }
    void SetComment(std::string_view comment) { FComment.Set(comment); }
    bool IsTest() const noexcept { return FName == TestCEName; }
    bool IsGoal() const noexcept { return FName.starts_with(GoalFactPrefix); }

    TPatternChangeEvent OnChange;

    // Slots
    int32_t SlotCount() const noexcept { return static_cast<int32_t>(FSlots.size()); }
    const std::string& GetSlotName(int32_t i) const { return FSlots.at(i).Name(); }
    int32_t GetMultiSlotLength(int32_t i) const { return FSlots.at(i).MultiSlotLength; }
    void SetMultiSlotLength(int32_t i, int32_t length);
    const TSlotTests& GetSlotTests(int32_t i) const { return FSlots.at(i).Tests; }
    int32_t SlotTestCount(int32_t i) const {
        return static_cast<int32_t>(FSlots.at(i).Tests.size());
    }
    TIEPatternMatchTest* GetTest(int32_t i, int32_t j) const {
        return FSlots.at(i).Tests.at(j).get();
    }
    int32_t IndexOfSlot(std::string_view name) const noexcept;
    int32_t TestCount() const noexcept { return FTestCount; }
    int32_t DisjunctionCount() const noexcept { return FDisjunctionCount; }

    // Called by the tests.
    void TestChanged() { Changed(); }
    void ConjunctionChanged(TIEPatternMatchTest* test);

private:
    friend class TRule;
    IRuleEngine* Engine() const noexcept;
    void InitSlots();
    int32_t EnsureSlot(std::string_view name);
    void Recount() noexcept;

    // Laid out without holes: a program of many rules holds one pattern or more per rule.
    bool FUnique = false;
    bool FExplicit = false;
    int32_t FNegatedCount = 0;
    TRefPtr<IFactTemplate> FFactTemplate;
    std::string FBoundName;
    std::string FName;
    // Few patterns carry a comment: held apart, null when empty.
    TRareText FComment;
    std::vector<TPatternSlot, TBlockAllocator<TPatternSlot>> FSlots;
    TRule* FRule = nullptr;
    int32_t FUpdateCount = 0;
    int32_t FTestCount = 0;
    int32_t FDisjunctionCount = 0;
};

// Helpers on values shared by patterns, rules and the network.
TRefPtr<IIEValue> MakeVariable(TIEType kind, std::string_view name);
// The variable name of a variable or multifield-variable value.
std::string VariableName(const IIEValue& value);
// Whether the name is one the reader or a rule made up for an anonymous field ("?", "$?", "=" or
// a "|" run): "_blank_N", or "_P__blank_N" as renamed in a negated pattern.
bool IsGeneratedVariableName(std::string_view name) noexcept;

} // namespace ie

// The evaluation context: the variables bound so far, the enclosing context, the engine, the
// fact and token of the current rule firing, and the return state that control functions use to
// unwind. The engine owns one root context (global variables live there); each rule firing and
// each call of a deffunction evaluates in a child.
//
// A context holds few bindings (a rule's variables), so they are kept in insertion order in a
// small vector searched linearly; a name index is built only when a table grows large (the root
// context's globals). Bindings are heap objects, so pointers to them stay valid until their
// name is rebound or the table is cleared. A deffunction's call binds in a frame (TakeFrame): a
// table laid out once as one binding per parameter and per variable the body binds, reused from
// call to call, whose variables are found where their slot stands; a slot of the body's own
// variables counts as bound only while it has a value, so that until its first bind in a call a
// name reaches the root as in a table that does not hold it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "engine/model/IEInterfaces.h"
#include "engine/model/IEValue.h"
#include "platform/Component.h"

namespace ie {

// Where a pattern variable lies in the matched facts: the fact's position in the token, the
// slot (empty for the whole fact) and the element of a multislot (-1 for the whole value).
class TBindingInfo : public TPersistent {
public:
    TBindingInfo() = default;
    TBindingInfo(int32_t factIndex, std::string_view slotName, int32_t subIndex)
        : FactIndex(factIndex), SubIndex(subIndex), SlotName(slotName) {}

    std::string_view ClassName() const override { return "TBindingInfo"; }
    void Assign(const TPersistent* source) override;
    // "FactIdx=<n> SlotIdx=<slot>" and " SubIdx=<n>" when the sub-index is not -1.
    virtual std::string GetText() const;
    virtual bool Equals(const TObject* other) const;

    int32_t FactIndex = -1;
    int32_t SubIndex = -1;
    std::string SlotName;
    // Where SlotName was last found, so that resolving skips the name lookup.
    mutable TSlotPosition Position;
    // The number read here in a match whose token a join holds fixed (see TFixedLeft), kept for
    // the stretch FixedSerial names (0: nothing kept), so that the walk over the join's other
    // side reads it once.
    mutable uint64_t FixedSerial = 0;
    mutable double FixedNumber = 0.0;
    mutable bool FixedIsFloat = false;
};

// A named binding: a value, or a position in the matched facts.
class TBinding : public TBindingInfo {
public:
    TBinding() = default;
    TBinding(std::string_view name, int32_t factIndex, std::string_view slotName, int32_t subIndex)
        : TBindingInfo(factIndex, slotName, subIndex), Name(name) {}
    TBinding(std::string_view name, TRefPtr<IIEValue> value)
        : Value(std::move(value)), Name(name) {}

    std::string_view ClassName() const override { return "TBinding"; }
    void Assign(const TPersistent* source) override;
    // Every call of a deffunction binds its parameters: blocks are reused per thread.
    static void* operator new(size_t size);
    static void operator delete(void* p, size_t size) noexcept;
    // "name=<name>", " value=<print form>" when there is a value, a blank and the position.
    std::string GetText() const override;
    bool Equals(const TObject* other) const override;

    TRefPtr<IIEValue> Value;
    std::string Name;
    // A slot of a deffunction's frame for a variable its body binds: while it has no value the
    // name is not bound in its context, and reads pass it by to the caller's variables (see
    // TIEContext::TakeFrame); a bind always sets the slot, so that no caller sees it.
    bool FrameLocal = false;
};

class TIEContext;

// Variable names are short and mostly differ in length or first character: comparing them in
// line is cheaper than a call to the library's comparison for each binding of a table. Past
// three characters they are compared a word at a time, the last word overlapping the one before.
inline bool SameName(const std::string& bound, std::string_view name) noexcept {
    const size_t n = name.size();
    if (bound.size() != n) return false;
    const char* a = bound.data();
    const char* b = name.data();
    const auto word = [](const char* p, auto size) {
        decltype(size) w;
        std::memcpy(&w, p, sizeof w);
        return w;
    };
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8)
            if (word(a + i, uint64_t{}) != word(b + i, uint64_t{})) return false;
        return word(a + n - 8, uint64_t{}) == word(b + n - 8, uint64_t{});
    }
    if (n >= 4)
        return word(a, uint32_t{}) == word(b, uint32_t{}) &&
               word(a + n - 4, uint32_t{}) == word(b + n - 4, uint32_t{});
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// The variables a deffunction's call binds, in slot order: its parameters, then the variables
// its body binds. Made when the deffunction is compiled; a call's context holds one binding per
// slot under these names, so that a call binds by position and the body's variables find their
// binding at the position they learned.
struct TFrameLayout {
    // Distinct for every layout made in the process (a frame is reused only for its own layout).
    uint64_t Id = 0;
    std::vector<std::string> Names;
    int32_t ParameterCount = 0;
};

// The bindings of one context, keyed by variable name, in insertion order.
class TBindings {
public:
    explicit TBindings(TIEContext* owner) : FOwner(owner) {}
    TBindings(const TBindings&) = delete;
    TBindings& operator=(const TBindings&) = delete;

    TBinding* Find(std::string_view name) const noexcept;
    // As Find, but a frame slot without a value is found too (see TBinding::FrameLocal).
    TBinding* FindSlot(std::string_view name) const noexcept;
    // Stores the binding under its name; a binding of the same name is removed and freed first.
    TBinding* Put(std::unique_ptr<TBinding> binding);
    bool Remove(std::string_view name);
    // Frees every binding, then tells the owning context (which clears its return state).
    void Clear();
    // Binds a name this table does not hold yet (the caller knows it does not), reusing a
    // binding object that Recycle kept.
    TBinding* Append(std::string_view name, TRefPtr<IIEValue> value);
    // Empties the table like Clear but keeps the binding objects for Append. The first `keep`
    // bindings stay in place under their names, without their values: the firing context of a
    // rule binds the same names in the same order each time, and sets them again directly.
    void Recycle(int32_t keep = 0);
    // Drops the bindings from `count` on, keeping their objects for Append.
    void Truncate(int32_t count);
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    TBinding* Item(int32_t index) const { return FItems.at(static_cast<size_t>(index)).get(); }
    // A number that stands for the names the table holds: drawn anew (never given twice in the
    // process) after any name came or went.
    uint64_t Stamp() const noexcept;

private:
    friend class TIEContext;
    static constexpr size_t IndexThreshold = 16;
    // One bit per name's length and first character: a name whose bit is clear in FNameMarks
    // is not in the table. A rule's firing context is asked for every global variable its
    // actions read, which it never holds, and says so without comparing a name.
    static uint64_t NameMark(std::string_view name) noexcept {
        const unsigned first = name.empty() ? 0u : static_cast<unsigned char>(name[0]);
        return uint64_t{1} << ((first + name.size() * 7) & 63);
    }
    bool MayHold(std::string_view name) const noexcept { return FNameMarks & NameMark(name); }
    // Marks the names the table holds now (after names went).
    void RemarkNames() noexcept;
    // Whether a binding found by name counts as bound: a frame slot without a value does not.
    static bool Visible(const TBinding& b) noexcept { return !b.FrameLocal || b.Value; }
    void BuildIndex();
    // Takes the binding back to a plain binding of its name without a value, for reuse.
    static void Blank(TBinding& b) noexcept {
        b.Value = nullptr;
        b.FactIndex = -1;
        b.SubIndex = -1;
        b.SlotName.clear();
        b.Position = {};
        b.FixedSerial = 0;
        b.FrameLocal = false;
    }
    // Lays the table out as the frame's slots, without values.
    void Shape(const TFrameLayout& layout);
    // Appends a binding whose name the table does not hold.
    TBinding* Insert(std::unique_ptr<TBinding> binding);

    TIEContext* FOwner;
    std::vector<std::unique_ptr<TBinding>> FItems;
    std::vector<std::unique_ptr<TBinding>> FSpare;                 // kept by Recycle for Append
    boost::unordered_flat_map<std::string_view, TBinding*> FIndex; // only past IndexThreshold
    // The number of frame slots the table begins with (TIEContext::TakeFrame); 0 for a table
    // that is no frame, or whose slots a removal or a clearing broke up.
    int32_t FFrameSlots = 0;
    mutable uint64_t FStamp = 0; // 0: none drawn since the names last changed
    uint64_t FNameMarks = 0;     // NameMark of every name held, and maybe of some gone
};

class TIEContext {
public:
    TIEContext(TIEContext* parent, IReasoner* engine);
    TIEContext(const TIEContext&) = delete;
    TIEContext& operator=(const TIEContext&) = delete;
    virtual ~TIEContext();
    // Every call of a deffunction makes a context: blocks are reused per thread.
    static void* operator new(size_t size);
    static void operator delete(void* p, size_t size) noexcept;

    // A context whose parent is this one, with the same engine.
    std::unique_ptr<TIEContext> CreateChild();
    // The same, reusing a context that GiveBack kept on this thread where there is one (with
    // the binding objects it kept): for calls that make a child each time, such as deffunctions.
    // The context holds no binding.
    std::unique_ptr<TIEContext> TakeChild();
    // Keeps a context made by CreateChild or TakeChild for a later TakeChild: its bindings and
    // its match and return state are cleared at once.
    static void GiveBack(std::unique_ptr<TIEContext> context) noexcept;
    // A context for one call of a deffunction, a child of `parent` (the root) whose bindings are
    // the layout's slots in order, without values: a context given back by GiveBackFrame for the
    // same layout where there is one on this thread. The caller sets the parameters' values by
    // position; a variable the body binds is bound once its slot has a value (until then the
    // name is looked for up the chain, as in a context that does not hold it yet).
    static std::unique_ptr<TIEContext> TakeFrame(TIEContext* parent, const TFrameLayout& layout);
    // Lets go of the frame's values and match and return state at once, and keeps it for
    // TakeFrame.
    static void GiveBackFrame(std::unique_ptr<TIEContext> frame) noexcept;

    TIEContext* Parent() const noexcept { return FParent; }
    // The engine the context evaluates in (the runtime's ContextEngine gives the concrete one).
    IReasoner* Engine() const noexcept { return FEngine; }
    // The root of the parent chain.
    TIEContext* Root() noexcept;

    const TRefPtr<IFact>& Fact() const noexcept { return FFact; }
    void SetFact(TRefPtr<IFact> fact) {
        FFact = std::move(fact);
        FMatchFact = FFact.get();
    }
    const TRefPtr<IReteToken>& Token() const noexcept { return FToken; }
    void SetToken(TRefPtr<IReteToken> token) {
        FToken = std::move(token);
        FMatchToken = FToken.get();
    }
    // The match that pattern variables read: the token and the fact joining it. SetToken and
    // SetFact set it too; the network lends a match for the length of a test through SetMatch,
    // without taking references (the caller keeps both alive meanwhile).
    const IReteToken* MatchToken() const noexcept { return FMatchToken; }
    const IFact* MatchFact() const noexcept { return FMatchFact; }
    void SetMatch(const IReteToken* token, const IFact* fact) noexcept {
        FMatchToken = token;
        FMatchFact = fact;
    }
    // While a join holds its left token fixed and tries its partners (TFixedLeft) and the match
    // reads that token: a number that names the stretch, never given twice in the process; 0
    // otherwise. What a test reads of the token's facts stays the same for the whole stretch.
    uint64_t FixedSerial() const noexcept {
        return FFixedSerial != 0 && FMatchToken == FFixedToken ? FFixedSerial : 0;
    }
    // The fact count of the match's token where a join holds it fixed (known without asking
    // the token), else -1.
    int32_t FixedTokenFacts() const noexcept {
        return FixedSerial() != 0 ? static_cast<int32_t>(FFixedFacts) : -1;
    }
    // Whether the fact at `factIndex` of the match is one of the token held fixed.
    bool ReadsFixed(int32_t factIndex) const noexcept {
        return FixedSerial() != 0 && static_cast<uint32_t>(factIndex) < FFixedFacts;
    }

    // Return state
    bool ReturnFlag() const noexcept { return FReturnFlag; }
    const TRefPtr<IIEValue>& ReturnValue() const noexcept { return FReturnValue; }
    void SetReturnValue(TRefPtr<IIEValue> value);
    void ClearReturn() noexcept;
    // Copies flag and value (shared) to the parent and returns the parent; without a parent,
    // this context.
    TIEContext* PropagateReturn();

    // Bindings
    TBindings& Bindings() noexcept { return FBindings; }
    int32_t BindingCount() const noexcept { return FBindings.Count(); }
    // The first binding of the name in this context, then its parent, up to the root.
    TBinding* FindBinding(std::string_view name) const noexcept;
    // The same; `owner` receives the context whose table holds the binding.
    TBinding* FindBinding(std::string_view name, const TIEContext*& owner) const noexcept;
    // A hint with this bit set remembers a position in the root: the name was last found there
    // (a global read in a rule or a deffunction), so the next read looks there at once when no
    // context on the way may hold the name. Positions learnt by a hint are far below it.
    static constexpr uint16_t RootHint = 0x8000;
    // FindBinding for a reader that remembers where it found the name among this context's own
    // bindings: the binding at `hint` when it has the name, else as FindBinding, and `hint`
    // learns the new position.
    TBinding* FindBinding(std::string_view name, const TIEContext*& owner,
                          uint16_t& hint) const noexcept;
    // This context's binding of the name when it stands at `hint`, else null: the common read of
    // a variable, whose hint is right after its first read, in line.
    TBinding* BindingAt(uint16_t hint, std::string_view name) const noexcept {
        TBinding* b = SlotAt(hint, name);
        return b && TBindings::Visible(*b) ? b : nullptr;
    }
    // BindingAt in the nearest context up the chain that holds bindings of its own (`owner`
    // receives it): a test's context holds none, so a global read in a test is found in the root
    // at once; a hint that remembers the root reads there (RootBindingAt). Null where
    // FindBinding must look.
    [[gnu::always_inline]] TBinding* NearestBindingAt(uint16_t hint, std::string_view name,
                                                      const TIEContext*& owner) const noexcept {
        const TIEContext* c = this;
        if (c->FBindings.FItems.empty()) [[unlikely]]
            while (c->FBindings.FItems.empty() && c->FParent)
                c = c->FParent;
        owner = c;
        if (TBinding* b = c->BindingAt(hint, name)) [[likely]]
            return b;
        return hint & RootHint ? c->RootBindingAt(hint, name, owner) : nullptr;
    }
    // The same, a frame slot without a value included.
    TBinding* SlotAt(uint16_t hint, std::string_view name) const noexcept {
        const auto& items = FBindings.FItems;
        const size_t at = hint & ~RootHint;
        if (at >= items.size()) return nullptr;
        TBinding* b = items[at].get();
        return SameName(b->Name, name) ? b : nullptr;
    }
    // Looks only in the root context.
    TBinding* FindGlobalBinding(std::string_view name) const noexcept;
    // A new binding in this context (a same-name binding of this context is replaced).
    TBinding* AddBinding(std::string_view name, TRefPtr<IIEValue> value);
    // A new position binding in this context; the variable resolves to the value at the
    // position in the current fact or token.
    TBinding* AddPatternBinding(std::string_view name, int32_t factIndex, std::string_view slotName,
                                int32_t subIndex);
    // Replaces the value of the binding found up the chain, or adds one to this context.
    TBinding* SetBinding(std::string_view name, TRefPtr<IIEValue> value);
    // The same for a writer that remembers where it found the name among this context's own
    // bindings (as the FindBinding with a hint).
    TBinding* SetBinding(std::string_view name, TRefPtr<IIEValue> value, uint16_t& hint) {
        if (hint & RootHint)
            if (const TIEContext* owner = nullptr;
                TBinding* up = RootBindingAt(hint, name, owner)) {
                up->Value = std::move(value);
                return up;
            }
        TBinding* b = SlotAt(hint, name);
        // A frame slot takes the value even without one: what a deffunction binds is its own.
        if (b && (b->FrameLocal || TBindings::Visible(*b))) {
            b->Value = std::move(value);
            return b;
        }
        return SetBindingApart(name, std::move(value), hint, b);
    }
    // Replaces the value of this context's own binding, otherwise as SetBinding.
    TBinding* SetLocalBinding(std::string_view name, TRefPtr<IIEValue> value);
    // Replaces the value in the root context, or adds it there.
    TBinding* SetGlobalBinding(std::string_view name, TRefPtr<IIEValue> value);

    // Evaluates each argument in this context; list results are spliced flat into the result,
    // at every depth.
    TRefPtr<TValueVector> EvaluateArguments(const IValueVector& arguments);
    // Appends the evaluation of one argument to `values`, splicing lists; `after`: the number of
    // arguments still to come, for which a spliced list leaves room.
    void EvaluateArgumentInto(const TRefPtr<IIEValue>& argument, TValueVector& values,
                              int32_t after = 0);

    // Copies the return flag and a clone of the return value.
    void Assign(const TIEContext& source);
    // Ready for another use under the same parent: no bindings (their objects are kept for
    // TBindings::Append; the first `keepNames` stay under their names, see TBindings::Recycle),
    // no token, fact or match, no return state.
    void Recycle(int32_t keepNames = 0);

private:
    friend class TBindings;
    void BindingsCleared() noexcept { ClearReturn(); }
    // SetBinding with a hint, where no bound binding stands at the hint; `own`: the frame slot
    // of the name without a value that stands there, if one does.
    TBinding* SetBindingApart(std::string_view name, TRefPtr<IIEValue> value, uint16_t& hint,
                              TBinding* own);
    // This context's own binding of the name, a frame slot without a value included, found
    // first at `hint` (which learns the position); null when the table does not hold the name.
    TBinding* OwnSlot(std::string_view name, uint16_t& hint) const noexcept;
    // The root's binding of the name at a hint that remembers the root (`owner` receives the
    // root), when no context on the way may hold the name, so that none holds a nearer binding
    // of it; else null.
    TBinding* RootBindingAt(uint16_t hint, std::string_view name,
                            const TIEContext*& owner) const noexcept;
    void SpliceInto(const IIEValue* value, TValueVector& values, int depth, int32_t after);

    bool FReturnFlag = false;
    TRefPtr<IIEValue> FReturnValue;
    IReasoner* FEngine;
    // The layout the bindings are shaped as (TakeFrame), 0 when none.
    uint64_t FFrameId = 0;
    TBindings FBindings;
    TIEContext* FParent;
    TRefPtr<IFact> FFact;
    TRefPtr<IReteToken> FToken;
    const IReteToken* FMatchToken = nullptr;
    const IFact* FMatchFact = nullptr;
    // The stretch TFixedLeft marks: its token, the token's fact count and the serial.
    friend class TFixedLeft;
    const IReteToken* FFixedToken = nullptr;
    uint32_t FFixedFacts = 0;
    uint64_t FFixedSerial = 0;
};

// Marks, from Mark to its end, the stretch in which a join holds `token` fixed on its left and
// tries the partners of its right memory: the token and its facts stay as they are meanwhile,
// so the predicates may keep what they read of them (TFunctionCall's in-place numbers). The
// stretch the context had before is restored at the end. Unmarked it costs one store and one
// test (most joins never mark).
class TFixedLeft {
public:
    TFixedLeft() noexcept = default;
    ~TFixedLeft() {
        if (!FContext) return;
        FContext->FFixedToken = FToken;
        FContext->FFixedFacts = FFacts;
        FContext->FFixedSerial = FSerial;
    }
    TFixedLeft(const TFixedLeft&) = delete;
    TFixedLeft& operator=(const TFixedLeft&) = delete;
    // Once only.
    void Mark(TIEContext& context, const IReteToken& token) noexcept;

private:
    TIEContext* FContext = nullptr;
    const IReteToken* FToken;
    uint32_t FFacts;
    uint64_t FSerial;
};

// The value of the slot that `info` names in `fact`, without taking a reference where the fact
// can lend it: a fact of the engine's own kind is read by the position remembered in `info`
// (found by name again only when the template or its slot layout changes), any other fact by
// name into `hold`. Raises what the template raises for a slot it lacks.
const IIEValue* BorrowSlotValue(const IFact& fact, const TBindingInfo& info,
                                TRefPtr<IIEValue>& hold);
// The list of a list value, borrowed from the engine's own values (other values: into `hold`).
inline const IValueVector* BorrowList(const IIEValue& value, TRefPtr<IValueVector>& hold) {
    if (typeid(value) == typeid(TIEValue)) return static_cast<const TIEValue&>(value).ListPayload();
    hold = value.AsList();
    return hold.get();
}

// The value a position record names in the context's current match, without taking a
// reference where the matched fact holds it: valid while the match lasts; `hold` keeps what
// the read had to make or take (a fact identifier, a value of a token that cannot lend).
const IIEValue* BorrowBindingInfo(const TBindingInfo& info, const TIEContext& context,
                                  std::string_view variableName, TRefPtr<IIEValue>& hold);
// The common read of a pattern variable, null where it does not apply (BorrowBindingInfo then
// reads it, or raises): the match lent to the context itself, a slot of a fact of the engine's
// own kind at the position the record remembers for the fact's template and layout, or an
// element of it that a split's cuts leave in place (a `$?` variable alone in its slot is the
// slot's own list). Reads without any effect.
const IIEValue* ReadMatchedSlot(const TBindingInfo& info, const TIEContext& context);
// BorrowBindingInfo for every case, the common read (a whole slot of the match lent to the
// context) included, which BorrowBindingInfo tries first in line.
const IIEValue* BorrowBindingInfoApart(const TBindingInfo& info, const TIEContext& context,
                                       std::string_view variableName, TRefPtr<IIEValue>& hold);
// ReadMatchedSlot for a reader that wants only a list's length: where the record names the run
// of a multifield split's cut that the slot does not hold as it is (a `$?` variable sharing its
// slot), null with the run's length in `runLength` (no list is made for it).
const IIEValue* ReadMatchedSlotOrRun(const TBindingInfo& info, const TIEContext& context,
                                     int32_t& runLength);
// One cut of a multifield split as a match holds it: instead of a copy of the fact whose slot
// holds the cut list, the match keeps the fact and these positions. The run of a `$?` variable
// in the slot at position Slot of the fact starts at element Start of the slot as the earlier
// cuts left it and is Length elements long; the cut list has the run as one element (a list) in
// its place. Outer is the cut made before this one in the same match (another split of the
// pattern), or null. The run's list value is made for each read, held by the reader.
class TMatchCut : public TBlockAllocated {
public:
    TMatchCut(TRefPtr<TMatchCut> outer, int32_t slot, int32_t start, int32_t length) noexcept
        : Outer(std::move(outer)), Slot(slot), Start(start), Length(length) {}
    TMatchCut(const TMatchCut&) = delete;
    TMatchCut& operator=(const TMatchCut&) = delete;

    // Owned by the tokens of one engine's network, on its thread: a plain count.
    void AddRef() const noexcept { ++FRefs; }
    void Release() const noexcept {
        if (--FRefs == 0) delete this;
    }

    // Whether a cut of the chain cuts the slot at `slot`.
    static bool CutsSlot(const TMatchCut* cut, int32_t slot) noexcept {
        for (; cut; cut = cut->Outer.get())
            if (cut->Slot == slot) return true;
        return false;
    }
    // Whether two chains cut at the same places.
    static bool SameCuts(const TMatchCut* a, const TMatchCut* b) noexcept;
    // The number of elements of the cut list of a slot of `count` elements.
    static int32_t CutCount(const TMatchCut* cut, int32_t slot, int32_t count) noexcept;
    // Element `sub` of the cut list the chain makes of `slotValue` (the value of the slot at
    // `slot` of the fact), null past its end; the whole cut list for a negative `sub`. What the
    // read made, when the chain does not keep it, goes to `hold`.
    static const IIEValue* Element(const TMatchCut* cut, const IIEValue* slotValue, int32_t slot,
                                   int32_t sub, TRefPtr<IIEValue>& hold);

    const TRefPtr<TMatchCut> Outer;
    const int32_t Slot;
    const int32_t Start;
    const int32_t Length;

private:
    ~TMatchCut() = default;
    const IIEValue* Run(const IIEValue& slotValue, const IValueVector& base, int32_t slot,
                        TRefPtr<IIEValue>& hold) const;

    mutable int32_t FRefs = 0;
};

// Resolves a position record against the context's current match.
TRefPtr<IIEValue> ResolveBindingInfo(const TBindingInfo& info, const TIEContext& context,
                                     std::string_view variableName);

} // namespace ie

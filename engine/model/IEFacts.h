// Facts, fact sets, and the duplicate index of working memory; the header brings the templates
// (IEFactTemplates) facts are made from.
//
// A fact (TFact) keeps one value per slot position of its template; a position that was never
// set holds no value and reads as a clone of the slot's default. Invariant: when a fact's layout
// number equals its template's, position i of the fact belongs to slot i of the template; a fact
// whose template changed its slots re-arranges its values by slot name before the next access.
//
// The default writer below renders templates, slots, facts and fact sets as rule-language text
// for objects without an engine; an engine renders through its own writer.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "containers/InterfaceCollections.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEFactTemplates.h"
#include "engine/model/IEInterfaces.h"
#include "engine/model/IEValue.h"
#include "platform/Component.h"

namespace ie {

// ---------------------------------------------------------------------------------------------
// Facts

// One slot position of a fact: its value (null until set or read). The slot it belongs to is
// the template's slot at that position in the fact's layout (TFactTemplate::SlotsOfLayout).
struct TFactValue {
    TRefPtr<IIEValue> Value;
};
// An owned array of slot positions (AllocateBlock): the slots of a fact being built.
class TFactValues {
public:
    TFactValues() noexcept = default;
    explicit TFactValues(size_t count);
    TFactValues(const TFactValue* values, size_t count);
    TFactValues(TFactValues&& other) noexcept
        : FData(std::exchange(other.FData, nullptr)), FSize(std::exchange(other.FSize, 0)) {}
    TFactValues(const TFactValues&) = delete;
    TFactValues& operator=(const TFactValues&) = delete;
    TFactValues& operator=(TFactValues&&) = delete;
    ~TFactValues() { Free(FData, FSize); }

    size_t size() const noexcept { return FSize; }
    TFactValue& operator[](size_t i) noexcept { return FData[i]; }
    // Hands the array over to its new owner, which frees it with Free.
    TFactValue* Release() noexcept {
        FSize = 0;
        return std::exchange(FData, nullptr);
    }
    static void Free(TFactValue* values, size_t count) noexcept;

private:
    TFactValue* FData = nullptr;
    size_t FSize = 0;
};

// Facts are made per assertion and per cut of a multifield split (TBlockAllocated).
class TFact : public TPersistent, public IFact, public TBlockAllocated {
public:
    // A fact of the template (may be null), assigned from `source` when given.
    explicit TFact(TRefPtr<IFactTemplate> factTemplate = nullptr, const IFact* source = nullptr);
    ~TFact() override;

    static TRefPtr<TFact> Create(TRefPtr<IFactTemplate> factTemplate,
                                 const IFact* source = nullptr) {
        return MakeRef<TFact>(std::move(factTemplate), source);
    }
    // Any interface that is a fact template.
    static TRefPtr<TFact> CreateFromIntf(const TRefPtr<IInterface>& factTemplate);

    std::string_view ClassName() const override { return "TFact"; }
    // From another TFact; see AssignFrom.
    void Assign(const TPersistent* source) override;

    // ICloneable. AssignFrom: values, identifier and tag; across engines the source is read
    // back from its text by this fact's engine.
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    // Clone as a fact: the template, copies of the values, the identifier and the tag.
    TRefPtr<TFact> Copy() const;
    // The template, the identifier and the tag, every slot unset (for a copy whose values are
    // made anew rather than copied).
    TRefPtr<TFact> BlankCopy() const;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FHasTag ? SideTag(this) : 0; }
    void SetTag(intptr_t tag) override;

    // IFact
    int32_t GetFactId() const noexcept override { return FID; }
    TRefPtr<IFactTemplate> GetTemplate() const override { return TemplateIntf(); }
    TRefPtr<IIEValue> GetSlotValue(std::string_view slotName) const override;
    // Same template object and equal values in every slot that is not fuzzy.
    bool Equals(const IFact* other) const override;
    std::string GetText() const override;
    // The template's hash code * 31 + HashString of the slot value texts in declaration order.
    int32_t GetHashCode() const override;
    void SetSlotValue(std::string_view slotName, const TRefPtr<IIEValue>& value) override;
    void SetFactId(int32_t id) override { FID = id; }
    void SetTemplate(const TRefPtr<IFactTemplate>& factTemplate) override;
    void AssignValues(const IFact& other) override;
    bool FindSlotValue(std::string_view slotName, TRefPtr<IIEValue>& value) const override;
    // FindSlotValue through a remembered position (see FindSlotValueAt).
    bool FindSlotValue(std::string_view slotName, TRefPtr<IIEValue>& value,
                       TSlotPosition& position) const;
    // "f-", the identifier (zero-padded to the width of the engine's next identifier), a blank
    // and the text.
    std::string GetLabel() const override;
    TRefPtr<IStringIterator> SlotNameIterator() const override;

    // Fast access by slot position (declaration order of the template).
    TFactTemplate* Template() const noexcept { return FTemplateObj.get(); }
    int32_t SlotCount() const noexcept;
    // The value at the position, read as GetSlotValue reads it.
    const TRefPtr<IIEValue>& ValueAt(int32_t index) const {
        Sync();
        TFactValue& entry = Entry(index);
        return entry.Value ? entry.Value : DefaultValueAt(index);
    }
    // The stored value, or the slot's default itself when never set (no copy is made).
    const IIEValue* PeekValue(int32_t index) const;
    // The value stored at the position while the fact has the slot layout `layout`, else null
    // (never set, another layout, no such position): a read that needs no call.
    const IIEValue* StoredValueAt(int32_t index, uint32_t layout) const noexcept {
        const bool here = FLayout == layout && static_cast<uint32_t>(index) < FValueCount;
        return here ? FValues[index].Value.get() : nullptr;
    }
    void SetValueAt(int32_t index, TRefPtr<IIEValue> value);
    // SetSlotValue of the slot at the position (no name lookup): the same checks and conversions.
    void SetSlotValueAt(int32_t index, const TRefPtr<IIEValue>& value);
    // A copy with this fact's identifier and tag whose slots hold this fact's value objects
    // themselves, not copies: a view for matching that replaces whole slot values but never
    // edits one in place.
    TRefPtr<TFact> ShareValues() const;
    // A hash that equal facts share (template identity and the non-fuzzy values' hashes);
    // cheaper than GetHashCode, which formats every value.
    size_t IdentityHash() const;
    // IdentityHash of a fact of the template (not fuzzy) whose slots hold `values` in order.
    static size_t IdentityHashOf(const TFactTemplate& factTemplate,
                                 std::span<const IIEValue* const> values);
    // Whether a fact of the template (not fuzzy) holding `values` would equal this fact, asked
    // as that fact's Equals asks; false with `unsure` set when that cannot be told without it.
    bool EqualsValues(const TFactTemplate& factTemplate, std::span<const IIEValue* const> values,
                      bool& unsure) const;

private:
    // Takes the template's current slot layout (after slots were added, removed or renamed).
    void Sync() const {
        if (FTemplateObj && FLayout != FTemplateObj->Layout()) Relayout();
    }
    void Relayout() const;
    // Equals for another TFact.
    bool EqualsFact(const TFact& other) const;
    // Stores and returns a copy of the slot's default at the (synchronised) position.
    const TRefPtr<IIEValue>& DefaultValueAt(int32_t index) const;
    IFactServices* Engine() const noexcept;
    [[noreturn]] void RaiseNoTemplate() const;

    IFactTemplate* TemplateIntf() const noexcept { return FTemplateObj.get(); }
    // The slot position, bounds-checked (std::out_of_range).
    TFactValue& Entry(int32_t index) const {
        if (static_cast<uint32_t>(index) >= FValueCount) RaiseNoPosition();
        return FValues[index];
    }
    [[noreturn]] static void RaiseNoPosition();
    // Takes over the array as the fact's slot positions, freeing the previous ones.
    void AdoptValues(TFactValues&& values) const noexcept;

    // A fact is made per assertion and per cut of a multifield split: its fields are packed
    // (the template is held once, as its class; the slot array is a pointer and a count; the
    // rare tag lives beside the fact, see SideTag), so that it fills a 72-byte block.
    mutable TFactValue* FValues = nullptr;
    TRefPtr<TFactTemplate> FTemplateObj;
    mutable uint32_t FValueCount = 0;
    int32_t FID = -1;
    mutable uint32_t FLayout = 0;
    bool FHasTag = false;
};

// ---------------------------------------------------------------------------------------------
// The duplicate index of working memory

// Reads the named slot like IFact::FindSlotValue, through `position` when the fact's template
// and slot layout are the ones it was found for (no name lookup), refreshing it otherwise.
bool FindSlotValueAt(const IFact& fact, std::string_view slotName, TSlotPosition& position,
                     TRefPtr<IIEValue>& value);

// Facts by identity hash; a lookup compares facts for equality, so facts whose hashes collide
// are told apart. The table is a flat open-addressing map of one 16-byte entry (hash, fact) per
// distinct fact. Equal facts (working memory allows them when fact duplication is on) share one
// entry: the earliest indexed one is the entry's fact, the later ones wait in a side table under
// it, and the first of them takes its place when it leaves. The index holds one reference to
// every fact it holds.
class TFactIndex {
public:
    using THashFunction = size_t (*)(const IFact&);
    // The default hash is TFact::IdentityHash (GetHashCode for other facts).
    explicit TFactIndex(THashFunction hash = nullptr) noexcept : FHash(hash) {}
    TFactIndex(const TFactIndex&) = delete;
    TFactIndex& operator=(const TFactIndex&) = delete;
    ~TFactIndex() { Clear(); }

    // The hash the fact is indexed under.
    size_t Add(const TRefPtr<IFact>& fact);
    // Removes this very fact object; false when it is not indexed.
    bool Remove(const IFact& fact) { return Remove(fact, HashOf(fact)); }
    // The same, given the hash Add returned for it.
    bool Remove(const IFact& fact, size_t hash);
    // An indexed fact equal to `fact` (the earliest indexed of them), null when none.
    IFact* FindEqual(const IFact& fact) const;
    // The indexed fact FindEqual would find for a fact of the template (not fuzzy) whose slots
    // hold `values`, without the fact being made; null when none or when only the fact itself
    // could tell (FindEqual decides then).
    // `hash` is set to the hash of such a fact, `unsure` when null does not mean none.
    IFact* FindEqualValues(const TFactTemplate& factTemplate,
                           std::span<const IIEValue* const> values, size_t& hash,
                           bool& unsure) const;
    // Tells the index that `fact` was just made of values for which FindEqualValues found no
    // equal fact and gave `hash`, nothing having run in between but the making: FindEqual then
    // answers for it at once while no fact changes, and Add takes the hash.
    void NoteMadeOfValues(const TRefPtr<IFact>& fact, size_t hash) const noexcept;
    void Clear();
    int32_t Count() const noexcept { return FCount; }
    // Verifies that every fact is indexed once, under the hash it has now, a later equal fact
    // under the first one, and that the count agrees (FactIndexCheck.cpp); raises a logic error
    // naming the first invariant broken.
    void CheckInvariants() const;

private:
    struct TKey {
        size_t Hash;
        const IFact* Fact;
    };
    // A fact yet to be made: its template and slot values; Unsure is set when a fact of the
    // same hash could not be compared with them.
    struct TValuesKey {
        size_t Hash;
        const TFactTemplate* Template;
        std::span<const IIEValue* const> Values;
        bool* Unsure;
    };
    struct TKeyHash {
        using is_transparent = void;
        // The table mixes the hash further (identity hashes of small integers differ in few
        // bits).
        size_t operator()(const TKey& key) const noexcept { return key.Hash; }
        size_t operator()(const TValuesKey& key) const noexcept { return key.Hash; }
    };
    struct TKeyEqual {
        using is_transparent = void;
        bool operator()(const TKey& a, const TKey& b) const {
            return a.Hash == b.Hash && (a.Fact == b.Fact || a.Fact->Equals(b.Fact));
        }
        bool operator()(const TValuesKey& a, const TKey& b) const;
        bool operator()(const TKey& a, const TValuesKey& b) const { return (*this)(b, a); }
    };
    size_t HashOf(const IFact& fact) const;
    size_t HashForAdd(const IFact& fact);

    THashFunction FHash;
    boost::unordered_flat_set<TKey, TKeyHash, TKeyEqual> FFacts;
    // The later equal facts of an entry, in indexing order, under the entry's fact.
    boost::unordered_flat_map<const IFact*, std::vector<IFact*>> FEqualLater;
    int32_t FCount = 0;
    // The last fact FindEqual hashed, its hash and the count of fact changes then.
    mutable TRefPtr<IFact> FHashed;
    mutable size_t FHashedHash = 0;
    mutable uint64_t FHashedStamp = 0;
    // FHashed is known to have no equal fact indexed (see NoteMadeOfValues).
    mutable bool FHashedAbsent = false;
};

// Replaces every call among the fact's slot values, also inside a multifield, by its value in
// the context.
void EvaluateSlotCalls(TFact& fact, TIEContext* context);

// ---------------------------------------------------------------------------------------------
// Fact sets

class TFactSetFacts : public TIStringList {
public:
    explicit TFactSetFacts(TFactSet* owner) : FOwner(owner) {}
    TFactSet* Owner() const noexcept { return FOwner; }
    // Appends every parsed fact in order.
    void AssignTo(TIList<IFact>& list) const;

private:
    TFactSet* FOwner;
};

class TFactSet : public TComponent {
public:
    explicit TFactSet(TComponent* owner);
    // Named before it joins its engine, so that it never displaces the engine's set called
    // "FactSet" (an engine keeps one fact set per name).
    TFactSet(TComponent* owner, std::string_view name);
    ~TFactSet() override;

    std::string_view ClassName() const override { return "TFactSet"; }
    void Assign(const TPersistent* source) override;

    virtual std::string GetText() const;
    // Appends the fact's text as a line holding the fact; returns the line index.
    virtual int32_t AddFact(const TRefPtr<IFact>& fact);
    // Asserts a copy of every line's fact, its call values evaluated, through the engine.
    virtual void AssertFacts();

    // The fact of line i, parsed by the engine when not parsed yet (null without an engine).
    TRefPtr<IFact> GetFact(int32_t index);
    void SetFact(int32_t index, const TRefPtr<IFact>& fact);

    const std::string& Comment() const noexcept { return FComment; }
    void SetComment(std::string_view comment) { FComment = comment; }
    IFactServices* Engine() const noexcept { return FEngine; }
    void SetEngine(IFactServices* engine);
    const std::string& FactSetName() const noexcept { return FFactSetName; }
    void SetFactSetName(std::string_view name) { FFactSetName = name; }
    TFactSetFacts& Facts() noexcept { return FFacts; }
    const TFactSetFacts& Facts() const noexcept { return FFacts; }
    // Copies the lines; with an engine each line is parsed into its fact.
    void SetFacts(const TStrings& lines);

    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    void ParseAll();

    std::string FComment;
    IFactServices* FEngine = nullptr;
    // The engine as a component, for its announcement of its destruction.
    TComponent* FEngineComponent = nullptr;
    std::string FFactSetName = "FactSet";
    TFactSetFacts FFacts;
};

// ---------------------------------------------------------------------------------------------
// The default writer (objects without an engine)

// The one fact writer: "(", the template's name, the text of each slot and ")". `appendSlot(text,
// i, slot)` appends a blank and slot i's text to `text` and returns true, or leaves a slot that is
// left out and returns false; an implied template's one slot holds an ordered fact's fields.
// FormatFactText writes each value's print form; the reader's writer (TIEParser::FormatFact) the
// form that reads back, with the slot's default in mind.
template <class F> std::string WriteFact(const IFact& fact, F&& appendSlot) {
    const TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (!t) return "()";
    std::string text = "(";
    text += t->GetName();
    text.reserve(16 * static_cast<size_t>(t->SlotCount()) + text.size() + 2);
    for (int32_t i = 0; i < t->SlotCount(); ++i)
        if (appendSlot(text, i, *t->SlotAt(i)) && t->GetImplied()) break;
    text += ')';
    return text;
}
std::string FormatFactText(const IFact& fact);
// One slot of a fact from its value text: empty for an empty text, the text itself for an
// implied template, otherwise "(" slot " " text ")".
std::string FormatFactSlotValue(const IFact& fact, std::string_view slotName,
                                std::string_view valueText);
std::string FormatFactSlotText(const IFactSlot& slot);
std::string FormatFactTemplateText(const IFactTemplate& factTemplate);
std::string FormatFactSetText(const TFactSet& factSet);

} // namespace ie

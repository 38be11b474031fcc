// Fact templates and their slots, facts, fact sets, and the duplicate index of working memory.
//
// A template (TFactTemplate) keeps its slots in declaration order with a hashed name index;
// every change of the slot set bumps the template's layout number. A fact (TFact) keeps one
// value per slot position of its template; a position that was never set holds no value and
// reads as a clone of the slot's default. Invariant: when a fact's layout number equals its
// template's, position i of the fact belongs to slot i of the template; a fact whose template
// changed its slots re-arranges its values by slot name before the next access.
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
#include "engine/model/IEInterfaces.h"
#include "engine/model/IEValue.h"
#include "platform/Component.h"

namespace ie {

class TFactTemplate;
class TFact;
class TFactSet;
class TIEContext;

// A slot renamed onto the name of another slot of its template.
inline constexpr std::string_view SlotNameExistsMessage = "Slot name already exists: \"%s\"";

// What facts, templates and fact sets ask of the engine that owns them: reading their texts back
// and writing them through the engine's writer, re-keying the template table when a template is
// renamed, the engine's settings and tables they consult, and asserting the facts of a fact set.
// The engine implements it; without it texts come from the default writer below and nothing is
// read back (slots and values are copied as objects instead).
class IFactServices {
public:
    virtual TRefPtr<IFact> ParseFact(std::string_view text) = 0;
    // A fact of a fact set: its calls and the dynamic defaults of the slots it leaves out stay
    // unevaluated, to be evaluated at each reset.
    virtual TRefPtr<IFact> ParseFactSetFact(std::string_view text) = 0;
    // One slot definition read into a new slot of `owner` (not yet entered in its table).
    virtual TRefPtr<IFactSlot> ParseFactSlot(std::string_view text, TFactTemplate& owner) = 0;
    virtual TRefPtr<IIEValue> ParseValue(std::string_view text) = 0;
    // The text read as a fuzzy expression over the variable, evaluated in the context (none
    // leaves variables and calls as they are).
    virtual TRefPtr<IIEValue> EvaluateFuzzyText(IFuzzyVariable* variable, std::string_view text,
                                                TIEContext* context) = 0;
    // Called before the template stores its new name.
    virtual void RenameFactTemplate(IFactTemplate& factTemplate, const std::string& oldName,
                                    const std::string& newName) = 0;
    virtual std::string FormatFact(const IFact& fact) = 0;
    virtual std::string FormatFactSlot(const IFactSlot& slot) = 0;
    virtual std::string FormatFactTemplate(const IFactTemplate& factTemplate) = 0;
    virtual std::string FormatFactSet(const TFactSet& factSet) = 0;

    // True while values are checked against their slots as they are stored.
    virtual bool DynamicTypeChecks() const noexcept = 0;
    virtual TRefPtr<IIEDefinedType> FindDefinedType(std::string_view name) = 0;
    virtual TRefPtr<IFactTemplate> FindFactTemplate(std::string_view name) = 0;
    // The identifier the next asserted fact gets.
    virtual int32_t NextFactId() const noexcept = 0;
    // The context in which defaults and the calls of fact sets are evaluated.
    virtual TIEContext* RootContext() = 0;
    // Asserts the fact; returns its identifier, or -1 when it was a duplicate.
    virtual int32_t AssertFact(const TRefPtr<IFact>& fact, bool flag) = 0;
    // The engine's table of fact sets, kept by the sets as they join and leave.
    virtual void FactSetAttached(TFactSet& factSet) = 0;
    virtual void FactSetDetached(TFactSet& factSet) = 0;

protected:
    ~IFactServices() = default;
};

// The kinds a new single slot accepts, and the multislot markers.
TIETypes SingleSlotTypes() noexcept;
inline constexpr TIETypes MultiSlotMarkers{dtList, dtMultiSlot};

// Raises "%s contains unexpected character: "%c"" for the first character of the name that
// names of slots, templates and rules may not contain.
void CheckConstructName(std::string_view name);

// ---------------------------------------------------------------------------------------------
// Slots

class TFactSlot : public TPersistent, public IFactSlot {
public:
    explicit TFactSlot(TFactTemplate* owner = nullptr);
    ~TFactSlot() override;

    static TRefPtr<TFactSlot> Create(TFactTemplate* owner) { return MakeRef<TFactSlot>(owner); }

    std::string_view ClassName() const override { return "TFactSlot"; }
    // From another TFactSlot: name, dynamic flag, tag, kinds, defined type and default; a type
    // and a call/fact/fuzzy default of another engine are resolved in this slot's engine.
    void Assign(const TPersistent* source) override;

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // IFactSlot
    bool GetDefaultDynamic() const noexcept override { return FDefaultDynamic; }
    TRefPtr<IIEDefinedType> GetExtendedTypeInfo() const override { return FExtendedTypeInfo; }
    const std::string& GetName() const noexcept override { return FName; }
    TRefPtr<IIEValue> GetSlotDefault() const override { return FSlotDefault; }
    TIETypes GetSlotType() const noexcept override { return FSlotType; }
    std::string GetText() const override;
    std::string GetTemplateName() const override;
    bool IsFuzzy() const noexcept override { return FSlotType.Contains(dtFuzzy); }
    bool IsMultiSlot() const noexcept override { return FSlotType.Contains(dtList); }
    void SetDefaultDynamic(bool value) override { FDefaultDynamic = value; }
    void SetExtendedTypeInfo(const TRefPtr<IIEDefinedType>& type) override;
    void SetName(std::string_view name) override;
    void SetSlotDefault(const TRefPtr<IIEValue>& value) override;
    void SetSlotType(TIETypes types) override;
    TRefPtr<IIEValue> NewDefaultValue(bool multi) const override;
    std::string ValidationMessage(const IIEValue* value) const override;
    bool IsValidValue(const IIEValue* value) const override;

    // Under dynamic type checks, raises "Value "%s" is not valid, %s" for a value the slot
    // does not accept.
    void CheckValue(const IIEValue* value) const;

    TFactTemplate* Owner() const noexcept { return FOwner; }
    // The engine of the owning template (null for a free slot or an engine-less template).
    IFactServices* Engine() const noexcept;

private:
    friend class TFactTemplate;
    void Notify();
    void DetachDefault() noexcept;

    TFactTemplate* FOwner;
    TRefPtr<IIEValue> FSlotDefault;
    std::string FName;
    TIETypes FSlotType;
    intptr_t FTag = 0;
    TRefPtr<IIEDefinedType> FExtendedTypeInfo;
    bool FDefaultDynamic = false;
};

// ---------------------------------------------------------------------------------------------
// Templates

class TFactTemplate : public TPersistent, public IFactTemplate {
public:
    // An empty template owned by `owner` (its engine when that implements IFactServices).
    explicit TFactTemplate(TComponent* owner = nullptr);
    ~TFactTemplate() override;

    static TRefPtr<TFactTemplate> Create(TComponent* owner) {
        return MakeRef<TFactTemplate>(owner);
    }
    static TRefPtr<TFactTemplate> CreateNamed(TComponent* owner, std::string_view name);
    // Takes over the parent's content first, then the name and comment; the parent is kept only
    // when it belongs to the same engine.
    static TRefPtr<TFactTemplate> CreateFull(TComponent* owner, std::string_view name,
                                             std::string_view comment,
                                             const TRefPtr<IFactTemplate>& parent);

    std::string_view ClassName() const override { return "TFactTemplate"; }
    void Assign(const TPersistent* source) override;

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // IFactTemplate
    const std::string& GetName() const noexcept override { return FName; }
    TRefPtr<IFactTemplate> CloneFor(TComponent* owner) const override;
    void AssignSlots(const IFactTemplate& source) override;
    bool GetBackwardChaining() const noexcept override { return FBackwardChaining; }
    void SetBackwardChaining(bool value) override { FBackwardChaining = value; }
    bool GetImplied() const noexcept override { return FImplied; }
    void InitializeFact(IFact& fact) const override;
    const std::string& GetComment() const noexcept override { return FComment; }
    void SetComment(std::string_view comment) override { FComment = comment; }
    int32_t GetHashCode() const override;
    std::string GetText() const override;
    TComponent* GetEngine() const noexcept override { return FOwner; }
    TRefPtr<IFactTemplate> GetParent() const override { return FParent; }
    void SetParent(const TRefPtr<IFactTemplate>& parent) override;
    int32_t SlotCount() const noexcept override { return static_cast<int32_t>(FSlots.size()); }
    TRefPtr<IFactSlot> SlotAt(int32_t index) const override;
    int32_t IndexOfSlot(std::string_view name) const noexcept override;
    // IndexOfSlot for a name held as an interned text (an atom of a rule): found by identity.
    int32_t IndexOfSlotText(const TIEText& name) const noexcept { return FIndex.FindText(name); }
    TRefPtr<IFactSlot> SlotByName(std::string_view name) const override;
    TRefPtr<IIterator> SlotIterator() const override;
    TRefPtr<IStringIterator> SlotNames() const override;
    bool IsFuzzy() const override;
    void SetName(std::string_view name) override;
    void PutSlot(std::string_view name, const TRefPtr<IFactSlot>& slot) override;
    TRefPtr<IFactSlot> AddMultiSlot(std::string_view name,
                                    const TRefPtr<IIEValue>& defaultValue) override;
    TRefPtr<IFactSlot> AddSlot(std::string_view name,
                               const TRefPtr<IIEValue>& defaultValue) override;
    TRefPtr<IFactSlot> AddSlotCopy(const IFactSlot& slot) override;
    bool HasSlot(std::string_view name) const noexcept override { return IndexOfSlot(name) >= 0; }
    bool FindSlot(std::string_view name, TRefPtr<IFactSlot>& slot) const override;
    TRefPtr<IFactSlot> FindSlotByType(const IIEDefinedType* type) const override;
    void DeleteSlot(std::string_view name) override;
    void Clear() override;
    TRefPtr<IFact> NewFact() override;

    // Fast access.
    const TRefPtr<IFactSlot>& Slot(int32_t index) const {
        return FSlots[static_cast<size_t>(index)];
    }
    // The owning component when it is an engine, and its services when it offers them.
    IFactServices* Engine() const noexcept { return FServices; }
    IFactServices* Services() const noexcept { return FServices; }
    bool DynamicTypeChecks() const noexcept;
    // No slot is fuzzy or a multislot.
    bool PlainSlots() const {
        if (FFuzzyChanged) RefreshKinds();
        return FPlain;
    }
    // Whether assertions of facts of this template were refused as duplicates lately (a few
    // refusals outweigh many admissions): worth asking the duplicate index before a fact is made.
    bool DuplicatesLikely() const noexcept { return FRefusals > 0; }
    void NoteAssertion(bool refused) const noexcept {
        if (refused)
            FRefusals = FRefusals > 60 ? 64 : FRefusals + 4;
        else if (FRefusals > 0)
            --FRefusals;
    }
    // Counts every change of the slot set (facts re-arrange their values when it moves).
    uint32_t Layout() const noexcept { return FLayout; }
    // The slots in the order of the given layout number: the current slots for the current
    // layout, a kept copy for an earlier one that a fact was made in (KeepLayout), null for
    // another. A fact re-arranges its values by the names of these slots.
    const std::vector<TRefPtr<IFactSlot>>* SlotsOfLayout(uint32_t layout) const;
    // Remembers the current slots under the current layout number (once per layout): a fact
    // takes the layout.
    void KeepLayout() const {
        if (!FLayoutKept) KeepLayoutSlow();
    }
    // The slot's text as this template's engine (or the default writer) renders it.
    std::string GetSlotText(const IFactSlot& slot) const;

    // Room for one answer a network computed about facts of this template (the pattern roots
    // they visit), valid while `Owner` and `Stamp` are the network's; a new name or parent
    // empties it.
    struct TNetworkNote {
        const void* Owner = nullptr;
        uint64_t Stamp = 0;
        const void* Value = nullptr;
    };
    TNetworkNote& NetworkNote() const noexcept { return FNetworkNote; }

    // A slot tells its template that it is renamed; a name taken by another slot raises.
    void RenameSlot(IFactSlot& slot, const std::string& oldName, const std::string& newName);
    // The slot's kinds, default or type changed: the fuzzy and hash caches are stale.
    void MarkChanged() noexcept;
    // The engine removed or replaced the template: what still holds it (a rule's or a
    // deffunction's action that is running) can no longer assert its facts.
    bool Withdrawn() const noexcept { return FWithdrawn; }
    void SetWithdrawn(bool withdrawn) noexcept { FWithdrawn = withdrawn; }

private:
    friend class TFact;
    void SlotSetChanged() noexcept;
    void RebuildIndex();
    TRefPtr<IFactSlot> NewSlot(std::string_view name, TIETypes types,
                               const TRefPtr<IIEValue>& defaultValue);

    bool FBackwardChaining = false;
    TRefPtr<IFactTemplate> FParent;
    std::string FComment;
    std::vector<TRefPtr<IFactSlot>> FSlots; // declaration order
    // The slots' positions by the names they were filed under. Most templates have a few
    // slots: a short list of interned names, compared in turn (by identity first, for a name
    // read from a rule), and a hash table beside it only past kSmallSlotCount names.
    class TSlotNameIndex {
    public:
        static constexpr size_t kSmallSlotCount = 8;
        size_t size() const noexcept { return FNames.size(); }
        int32_t Find(std::string_view name) const noexcept;
        int32_t FindText(const TIEText& text) const noexcept;
        // Files the name at the position (replacing the position it had).
        void Set(std::string_view name, int32_t at);
        void Erase(std::string_view name);
        void clear() noexcept;

    private:
        std::vector<std::pair<TRefPtr<TIEText>, int32_t>> FNames;
        // Keys view the texts held in FNames.
        boost::unordered_flat_map<std::string_view, int32_t> FLarge;
    };
    TSlotNameIndex FIndex;
    std::string FName;
    bool FImplied = false;
    bool FWithdrawn = false;
    TComponent* FOwner;
    IFactServices* FServices;
    intptr_t FTag = 0;
    mutable bool FFuzzyChanged = true;
    mutable bool FFuzzy = false;
    mutable bool FPlain = true;
    mutable uint8_t FRefusals = 0; // see DuplicatesLikely
    void RefreshKinds() const;
    mutable bool FHashChanged = true;
    mutable int32_t FHash = 0;
    // Unique over all templates (see TSlotPosition); changes whenever the slot set does.
    uint32_t FLayout = NextLayout();
    static uint32_t NextLayout() noexcept;
    void KeepLayoutSlow() const;
    // The slots of the earlier layouts facts were made in, by layout number; the current
    // layout's slots are FSlots, kept here too once FLayoutKept is set.
    mutable std::vector<std::pair<uint32_t, std::vector<TRefPtr<IFactSlot>>>> FKeptLayouts;
    mutable bool FLayoutKept = false;
    mutable TNetworkNote FNetworkNote;
};

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

// Fact templates and their slots, and what facts, templates and fact sets ask of their engine.
//
// A template (TFactTemplate) keeps its slots in declaration order with a hashed name index;
// every change of the slot set bumps the template's layout number.
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

} // namespace ie

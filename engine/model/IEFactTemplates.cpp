// Slots and templates.
//
// Invariant: a default read into a fact is a private copy, so changing it never reaches the
// template.
#include "engine/model/IEFactTemplates.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <stdexcept>
#include <typeinfo>
#include <utility>

#include "engine/model/FactHelpers.h"
#include "engine/model/FlatTables.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"

namespace ie {

using factdetail::TextOf;
using factdetail::Trimmed;
using factdetail::UpperKindList;

TIETypes SingleSlotTypes() noexcept {
    return TIETypes{dtAtom,    dtString, dtInteger,    dtVariable, dtFactId, dtFloat,
                    dtFunCall, dtFact,   dtDescriptor, dtObject,   dtClass,  dtExternalAddress};
}

void CheckConstructName(std::string_view name) {
    const int32_t pos = FirstCharOf(name, IEInvalidNameChars);
    if (pos > 0) RaiseIE(imUnexpectedCharacterIn, name, name[static_cast<size_t>(pos - 1)]);
}

namespace {

// Kinds any slot accepts as values to be judged later (when evaluated).
constexpr TIETypes LateKinds{dtVariable, dtFunCall, dtMultiVariable};

bool KindAccepted(TIETypes slotType, TIEType kind) noexcept {
    return slotType.Contains(kind) || kind == dtNone || LateKinds.Contains(kind);
}

// A stored default: the shared constants as they are, anything else as a private clone.
bool DynamicChecks(const IFactServices* engine) noexcept {
    return engine && engine->DynamicTypeChecks();
}

TRefPtr<IIEValue> StoredDefault(const TRefPtr<IIEValue>& value) {
    if (!value || value->IsConstant()) return value;
    return value->CloneValue();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TFactSlot

TFactSlot::TFactSlot(TFactTemplate* owner) : FOwner(owner) {}

TFactSlot::~TFactSlot() {
    DetachDefault();
}

IFactServices* TFactSlot::Engine() const noexcept {
    return FOwner ? FOwner->Engine() : nullptr;
}

void TFactSlot::Notify() {
    if (FOwner) FOwner->MarkChanged();
}

void TFactSlot::DetachDefault() noexcept {
    if (FSlotDefault && !FSlotDefault->IsConstant()) FSlotDefault->SetOnChange(nullptr);
}

void TFactSlot::Assign(const TPersistent* source) {
    auto* src = dynamic_cast<const TFactSlot*>(source);
    if (!src) {
        TPersistent::Assign(source);
        return;
    }
    if (src == this) return;
    SetName(src->FName);
    FDefaultDynamic = src->FDefaultDynamic;
    FTag = src->FTag;
    IFactServices* engine = Engine();
    const bool foreign = engine && src->Engine() != engine;
    TRefPtr<IIEDefinedType> type = src->FExtendedTypeInfo;
    // A named type is this engine's type of that name; an implicit one (which may carry the
    // name of the type it was copied from) is the slot's own.
    if (foreign && type && !type->GetImplicit())
        if (auto own = engine->FindDefinedType(type->GetName())) type = own;
    // Kinds first, then the type (which may widen them), then the default they must accept.
    FSlotType = src->FSlotType;
    FExtendedTypeInfo = type;
    Notify();
    TRefPtr<IIEValue> def = src->FSlotDefault;
    IFactServices* services = FOwner ? FOwner->Services() : nullptr;
    if (foreign && def && services) {
        const TIEType kind = def->GetDType();
        if (kind == dtFuzzy && type && type->GetFuzzyVariable())
            // A fuzzy value's text is an expression over this engine's variable.
            def =
                engine->EvaluateFuzzyText(type->GetFuzzyVariable().get(), def->GetText(), nullptr);
        else if (kind == dtFunCall || kind == dtFact || kind == dtFuzzy)
            def = services->ParseValue(def->GetText());
    }
    SetSlotDefault(def);
}

void TFactSlot::AssignFrom(const IInterface* source) {
    if (auto* slot = dynamic_cast<const TFactSlot*>(source)) {
        Assign(slot);
        return;
    }
    auto* slot = dynamic_cast<const IFactSlot*>(source);
    if (!slot) RaiseIE(imFunctionUnimplemented, "AssignFrom");
    SetName(slot->GetName());
    FDefaultDynamic = slot->GetDefaultDynamic();
    FTag = slot->GetTag();
    FSlotType = slot->GetSlotType();
    FExtendedTypeInfo = slot->GetExtendedTypeInfo();
    Notify();
    SetSlotDefault(slot->GetSlotDefault());
}

TRefPtr<ICloneable> TFactSlot::Clone() const {
    TRefPtr<TFactSlot> slot = Create(FOwner);
    // The clone is not in the template's table: it takes the name directly.
    slot->FName = FName;
    slot->FDefaultDynamic = FDefaultDynamic;
    slot->FTag = FTag;
    slot->FSlotType = FSlotType;
    slot->FExtendedTypeInfo = FExtendedTypeInfo;
    slot->SetSlotDefault(FSlotDefault);
    return slot;
}

bool TFactSlot::Equals(const IInterface* other) const {
    if (other == static_cast<const IInterface*>(this)) return true;
    auto* slot = dynamic_cast<const IFactSlot*>(other);
    if (!slot) return false;
    if (slot->GetName() != FName || slot->GetSlotType() != FSlotType) return false;
    TRefPtr<IIEDefinedType> type = slot->GetExtendedTypeInfo();
    if (type != FExtendedTypeInfo &&
        !(type && FExtendedTypeInfo && FExtendedTypeInfo->Equals(type.get())))
        return false;
    TRefPtr<IIEValue> def = slot->GetSlotDefault();
    return def == FSlotDefault || (def && FSlotDefault && FSlotDefault->EqualsCoerced(def.get()));
}

std::string TFactSlot::GetText() const {
    if (IFactServices* services = FOwner ? FOwner->Services() : nullptr)
        return services->FormatFactSlot(*this);
    return FormatFactSlotText(*this);
}

std::string TFactSlot::GetTemplateName() const {
    return FOwner ? FOwner->GetName() : std::string();
}

void TFactSlot::SetExtendedTypeInfo(const TRefPtr<IIEDefinedType>& type) {
    if (type == FExtendedTypeInfo) return;
    FExtendedTypeInfo = type;
    FSlotType = type ? type->GetBaseTypes() : TIETypes{};
    if (FName == DataSlotName) FSlotType = FSlotType | MultiSlotMarkers;
    Notify();
}

void TFactSlot::SetName(std::string_view name) {
    if (name == FName) return;
    CheckConstructName(name);
    std::string newName(name);
    if (FOwner) FOwner->RenameSlot(*this, FName, newName);
    FName = std::move(newName);
}

void TFactSlot::SetSlotDefault(const TRefPtr<IIEValue>& value) {
    if (DynamicChecks(Engine()) && !IsValidValue(value.get()))
        RaiseIE(imInvalidDefaultSlotValue, TextOf(value.get()));
    DetachDefault();
    FSlotDefault = StoredDefault(value);
    Notify();
    if (FSlotDefault && !FSlotDefault->IsConstant())
        FSlotDefault->SetOnChange([this](IIEValue* sender) { CheckValue(sender); });
}

void TFactSlot::SetSlotType(TIETypes types) {
    if (types == FSlotType) return;
    if (types.Contains(dtFuzzy) && !(types - MultiSlotMarkers - TIETypes{dtFuzzy}).Empty())
        RaiseIE(imCannotMixFuzzyType);
    Notify();
    FSlotType = types;
    if (FExtendedTypeInfo && FExtendedTypeInfo->GetImplicit())
        FExtendedTypeInfo->SetBaseTypes(types);
    if (!FSlotDefault || !IsValidValue(FSlotDefault.get())) {
        DetachDefault();
        FSlotDefault = NewDefaultValue(IsMultiSlot());
        if (FSlotDefault && !FSlotDefault->IsConstant())
            FSlotDefault->SetOnChange([this](IIEValue* sender) { CheckValue(sender); });
    }
}

TRefPtr<IIEValue> TFactSlot::NewDefaultValue(bool multi) const {
    if (FExtendedTypeInfo) return FExtendedTypeInfo->DefaultValue(multi);
    if (multi) return IEEmptyList()->CloneValue();
    const TIETypes t = FSlotType;
    if (t.Contains(dtAtom)) return TIEValue::CreateText(dtAtom, "");
    if (t.Contains(dtString)) return TIEValue::CreateText(dtString, "");
    if (t.Contains(dtInteger)) return TIEValue::CreateInteger(dtInteger, 0);
    if (t.Contains(dtFloat)) return TIEValue::CreateFloat(0.0);
    if (t.Contains(dtObject)) {
        auto v = TIEValue::Create();
        v->SetAsObject(nullptr);
        return v;
    }
    if (t.Contains(dtExternalAddress)) return TIEValue::CreateExternalAddress(0);
    if (t.Contains(dtFuzzy)) return IEEmptyAtom();
    if (t.Contains(dtFactId)) return TIEValue::CreateInteger(dtFactId, 0);
    if (t.Contains(dtFact)) {
        auto v = TIEValue::Create();
        v->SetAsFact(nullptr);
        return v;
    }
    if (t.Contains(dtDescriptor)) return TIEValue::CreateInteger(dtDescriptor, 0);
    if (t.Contains(dtClass)) {
        auto v = TIEValue::Create();
        v->SetAsClass(nullptr);
        return v;
    }
    return TIEValue::Create();
}

bool TFactSlot::IsValidValue(const IIEValue* value) const {
    if (!value) return true;
    if (IsMultiSlot() ? value == IEEmptyList().get() : value == IEEmptyAtom().get()) return true;
    if (FExtendedTypeInfo) return FExtendedTypeInfo->IsValid(value);
    const TIEType kind = value->GetDType();
    if (!KindAccepted(FSlotType, kind)) return false;
    if (kind == dtList) {
        TRefPtr<IValueVector> list = value->AsList();
        if (list)
            for (int32_t i = 0; i < list->Count(); ++i) {
                const IIEValue* item = list->GetItem(i).get();
                if (item && !KindAccepted(FSlotType, item->GetDType())) return false;
            }
    }
    return true;
}

std::string TFactSlot::ValidationMessage(const IIEValue* value) const {
    if (!value || IsValidValue(value)) return {};
    if (FExtendedTypeInfo)
        return Format(IEMessage(imForSlot), FExtendedTypeInfo->ValidationError(value), FName);
    const std::string kinds = UpperKindList(FSlotType, ", ");
    const TIEType kind = value->GetDType();
    if (!FSlotType.Contains(kind) && !LateKinds.Contains(kind)) {
        const std::string reason =
            Format(IEMessage(imNotAType), kinds, value->GetText(), IETypeName(kind));
        return Format(IEMessage(imForSlot), reason, FName);
    }
    // A list of an accepted kind: the first element that fails.
    TRefPtr<IValueVector> list = value->AsList();
    if (list)
        for (int32_t i = 0; i < list->Count(); ++i) {
            const IIEValue* item = list->GetItem(i).get();
            if (!item || KindAccepted(FSlotType, item->GetDType())) continue;
            const std::string itemKind =
                std::string(IETypeName(item->GetDType())) + " (" + item->GetText() + ")";
            const std::string reason =
                Format(IEMessage(imNotAType), kinds, value->GetText(), itemKind);
            return Format(IEMessage(imForSlot), reason, FName);
        }
    return {};
}

void TFactSlot::CheckValue(const IIEValue* value) const {
    if (DynamicChecks(Engine()) && !IsValidValue(value))
        RaiseIE(imValueNotValid, TextOf(value), FName);
}

// ---------------------------------------------------------------------------------------------
// TFactTemplate

TFactTemplate::TFactTemplate(TComponent* owner)
    : FOwner(owner), FServices(dynamic_cast<IFactServices*>(owner)) {}

TFactTemplate::~TFactTemplate() {
    // Slots may outlive their template: they become free slots instead of keeping a dangling
    // owner.
    for (auto& slot : FSlots)
        if (auto* s = dynamic_cast<TFactSlot*>(slot.get()); s && s->FOwner == this)
            s->FOwner = nullptr;
}

TRefPtr<TFactTemplate> TFactTemplate::CreateNamed(TComponent* owner, std::string_view name) {
    TRefPtr<TFactTemplate> t = Create(owner);
    t->SetName(name);
    return t;
}

TRefPtr<TFactTemplate> TFactTemplate::CreateFull(TComponent* owner, std::string_view name,
                                                 std::string_view comment,
                                                 const TRefPtr<IFactTemplate>& parent) {
    TRefPtr<TFactTemplate> t = Create(owner);
    if (parent) t->AssignFrom(parent.get());
    t->SetName(name);
    t->SetComment(comment);
    t->FParent = parent && parent->GetEngine() == owner ? parent : nullptr;
    return t;
}

bool TFactTemplate::DynamicTypeChecks() const noexcept {
    return DynamicChecks(FServices);
}

void TFactTemplate::MarkChanged() noexcept {
    FFuzzyChanged = true;
    FHashChanged = true;
}

uint32_t TFactTemplate::NextLayout() noexcept {
    static std::atomic<uint32_t> last{0};
    return ++last;
}

void TFactTemplate::SlotSetChanged() noexcept {
    FImplied = FSlots.size() < 2 && IndexOfSlot(DataSlotName) >= 0;
    FLayout = NextLayout();
    FLayoutKept = false;
    MarkChanged();
}

void TFactTemplate::KeepLayoutSlow() const {
    FKeptLayouts.emplace_back(FLayout, FSlots);
    FLayoutKept = true;
}

const std::vector<TRefPtr<IFactSlot>>* TFactTemplate::SlotsOfLayout(uint32_t layout) const {
    if (layout == FLayout) return &FSlots;
    for (auto it = FKeptLayouts.rbegin(); it != FKeptLayouts.rend(); ++it)
        if (it->first == layout) return &it->second;
    return nullptr;
}

void TFactTemplate::RebuildIndex() {
    FIndex.clear();
    for (size_t i = 0; i < FSlots.size(); ++i)
        FIndex.Set(FSlots[i]->GetName(), static_cast<int32_t>(i));
}

void TFactTemplate::Assign(const TPersistent* source) {
    auto* src = dynamic_cast<const TFactTemplate*>(source);
    if (!src) {
        TPersistent::Assign(source);
        return;
    }
    if (src == this) return;
    FBackwardChaining = src->FBackwardChaining;
    FComment = src->FComment;
    SetName(src->FName);
    FParent = src->FParent && src->FParent->GetEngine() == FOwner ? src->FParent : nullptr;
    Clear();
    for (const auto& slot : src->FSlots)
        AddSlotCopy(*slot);
    SlotSetChanged();
}

void TFactTemplate::AssignFrom(const IInterface* source) {
    auto* src = dynamic_cast<const IFactTemplate*>(source);
    if (!src) RaiseIE(imFunctionUnimplemented, "AssignFrom");
    if (src == this) return;
    if (!FServices) {
        // Without an engine reader nothing can read slot texts back: copy the slot objects' state.
        if (auto* t = dynamic_cast<const TFactTemplate*>(src)) {
            Assign(t);
            return;
        }
    }
    FBackwardChaining = src->GetBackwardChaining();
    FComment = src->GetComment();
    SetName(src->GetName());
    TRefPtr<IFactTemplate> parent = src->GetParent();
    FParent = parent && parent->GetEngine() == FOwner ? parent : nullptr;
    AssignSlots(*src);
}

void TFactTemplate::AssignSlots(const IFactTemplate& source) {
    if (&source == this) return;
    Clear();
    for (int32_t i = 0; i < source.SlotCount(); ++i) {
        TRefPtr<IFactSlot> src = source.SlotAt(i);
        if (FServices) {
            // Read back in this engine: defined types and defaults resolve here.
            TRefPtr<IFactSlot> slot = FServices->ParseFactSlot(src->GetText(), *this);
            if (slot && !HasSlot(slot->GetName())) PutSlot(slot->GetName(), slot);
        } else {
            AddSlotCopy(*src);
        }
    }
    SlotSetChanged();
}

TRefPtr<ICloneable> TFactTemplate::Clone() const {
    return CloneFor(FOwner);
}

TRefPtr<IFactTemplate> TFactTemplate::CloneFor(TComponent* owner) const {
    TRefPtr<TFactTemplate> t = Create(owner);
    t->FName = FName;
    if (owner == FOwner)
        t->Assign(this);
    else
        t->AssignFrom(this);
    return t;
}

bool TFactTemplate::Equals(const IInterface* other) const {
    if (other == static_cast<const IInterface*>(this)) return true;
    auto* t = dynamic_cast<const IFactTemplate*>(other);
    if (!t) return false;
    if (t->GetImplied() != FImplied || t->GetName() != FName) return false;
    for (const auto& slot : FSlots) {
        TRefPtr<IFactSlot> theirs;
        if (!t->FindSlot(slot->GetName(), theirs) || !slot->Equals(theirs.get())) return false;
    }
    return true;
}

void TFactTemplate::InitializeFact(IFact& fact) const {
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (!t) RaiseIE(imFactTemplateMissing);
    if (t.get() != static_cast<const IFactTemplate*>(this))
        RaiseIE(imCannotAssignSlotValues, t->GetName(), FName);
    auto* f =
        typeid(fact) == typeid(TFact) ? static_cast<TFact*>(&fact) : dynamic_cast<TFact*>(&fact);
    for (size_t i = 0; i < FSlots.size(); ++i) {
        const IFactSlot& slot = *FSlots[i];
        TRefPtr<IIEValue> def = slot.GetSlotDefault();
        if (slot.GetDefaultDynamic() && FServices && def) {
            TRefPtr<IIEValue> value = def->Evaluate(FServices->RootContext());
            if (f)
                f->SetValueAt(static_cast<int32_t>(i), std::move(value));
            else
                fact.SetSlotValue(slot.GetName(), value);
        } else if (f) {
            // Left unset: the first read takes a copy of the default.
            f->SetValueAt(static_cast<int32_t>(i), nullptr);
        } else {
            fact.SetSlotValue(slot.GetName(), StoredDefault(def));
        }
    }
}

int32_t TFactTemplate::GetHashCode() const {
    if (FHashChanged) {
        std::string text = FName;
        for (const auto& slot : FSlots) {
            text += slot->GetName();
            text += IELineEnd;
        }
        FHash = HashString(text);
        FHashChanged = false;
    }
    return FHash;
}

std::string TFactTemplate::GetText() const {
    if (FServices) return FServices->FormatFactTemplate(*this);
    return FormatFactTemplateText(*this);
}

std::string TFactTemplate::GetSlotText(const IFactSlot& slot) const {
    if (FServices) return FServices->FormatFactSlot(slot);
    return FormatFactSlotText(slot);
}

void TFactTemplate::SetParent(const TRefPtr<IFactTemplate>& parent) {
    FParent = parent;
    FNetworkNote = {};
}

TRefPtr<IFactSlot> TFactTemplate::SlotAt(int32_t index) const {
    if (index < 0 || index >= SlotCount()) RaiseIE(imNoSuchSlot, std::to_string(index));
    return FSlots[static_cast<size_t>(index)];
}

int32_t TFactTemplate::IndexOfSlot(std::string_view name) const noexcept {
    return FIndex.Find(name);
}

int32_t TFactTemplate::TSlotNameIndex::Find(std::string_view name) const noexcept {
    // A template of a few slots: comparing the names costs less than hashing the one asked for.
    if (FLarge.empty()) {
        for (const auto& [text, at] : FNames)
            if (text->Text() == name) return at;
        return -1;
    }
    auto it = FLarge.find(name);
    return it == FLarge.end() ? -1 : it->second;
}

int32_t TFactTemplate::TSlotNameIndex::FindText(const TIEText& text) const noexcept {
    if (FLarge.empty())
        for (const auto& [name, at] : FNames)
            if (name.get() == &text) return at;
    // Not the same block: a text interned elsewhere, or a name that is not there.
    return Find(text.Text());
}

void TFactTemplate::TSlotNameIndex::Set(std::string_view name, int32_t at) {
    if (FLarge.empty() ? Find(name) >= 0 : FLarge.contains(name)) {
        for (auto& entry : FNames)
            if (entry.first->Text() == name) {
                entry.second = at;
                if (!FLarge.empty()) FLarge[entry.first->Text()] = at;
                return;
            }
    }
    FNames.emplace_back(TIEText::Make(name), at);
    if (!FLarge.empty()) {
        FLarge.emplace(FNames.back().first->Text(), at);
    } else if (FNames.size() > kSmallSlotCount) {
        for (const auto& [text, position] : FNames)
            FLarge.emplace(text->Text(), position);
    }
}

void TFactTemplate::TSlotNameIndex::Erase(std::string_view name) {
    for (auto it = FNames.begin(); it != FNames.end(); ++it)
        if (it->first->Text() == name) {
            if (!FLarge.empty()) FLarge.erase(it->first->Text());
            FNames.erase(it);
            if (FNames.size() <= kSmallSlotCount) FLarge = {};
            return;
        }
}

void TFactTemplate::TSlotNameIndex::clear() noexcept {
    FNames.clear();
    FLarge = {};
}

TRefPtr<IFactSlot> TFactTemplate::SlotByName(std::string_view name) const {
    const int32_t i = IndexOfSlot(name);
    if (i < 0) RaiseIE(imNoSuchSlot, name);
    return FSlots[static_cast<size_t>(i)];
}

bool TFactTemplate::FindSlot(std::string_view name, TRefPtr<IFactSlot>& slot) const {
    const int32_t i = IndexOfSlot(name);
    slot = i < 0 ? nullptr : FSlots[static_cast<size_t>(i)];
    return i >= 0;
}

namespace {

// Walks a snapshot of the slots (IFactSlot*) or of their names.
class TSlotIterator final : public IIterator, public IStringIterator {
public:
    explicit TSlotIterator(const std::vector<TRefPtr<IFactSlot>>& slots) : FSlots(slots) {
        FNames.reserve(slots.size());
        for (const auto& s : slots)
            FNames.push_back(s->GetName());
    }
    void* Current() const override { return FSlots.at(static_cast<size_t>(FCursor)).get(); }
    int32_t Remaining() const override { return Count() - 1 - FCursor; }
    bool HasNext() override { return Count() - 1 > FCursor; }
    void* Next() override { return FSlots.at(static_cast<size_t>(++FCursor)).get(); }
    const std::string& CurrentString() const override {
        return FNames.at(static_cast<size_t>(FCursor));
    }
    const std::string& NextString() override { return FNames.at(static_cast<size_t>(++FCursor)); }
    void Reset() override { FCursor = -1; }

private:
    int32_t Count() const { return static_cast<int32_t>(FSlots.size()); }
    std::vector<TRefPtr<IFactSlot>> FSlots;
    std::vector<std::string> FNames;
    int32_t FCursor = -1;
};

} // namespace

TRefPtr<IIterator> TFactTemplate::SlotIterator() const {
    return MakeRef<TSlotIterator>(FSlots);
}

TRefPtr<IStringIterator> TFactTemplate::SlotNames() const {
    return MakeRef<TSlotIterator>(FSlots);
}

bool TFactTemplate::IsFuzzy() const {
    if (FFuzzyChanged) RefreshKinds();
    return FFuzzy;
}

void TFactTemplate::RefreshKinds() const {
    FFuzzy = std::any_of(FSlots.begin(), FSlots.end(), [](const auto& s) { return s->IsFuzzy(); });
    FPlain = std::none_of(FSlots.begin(), FSlots.end(),
                          [](const auto& s) { return s->IsFuzzy() || s->IsMultiSlot(); });
    FFuzzyChanged = false;
}

void TFactTemplate::SetName(std::string_view name) {
    if (name == FName) return;
    CheckConstructName(name);
    std::string newName(name);
    if (FServices) FServices->RenameFactTemplate(*this, FName, newName);
    FName = std::move(newName);
    FNetworkNote = {};
    MarkChanged();
}

void TFactTemplate::RenameSlot(IFactSlot& slot, const std::string& oldName,
                               const std::string& newName) {
    int32_t at = IndexOfSlot(oldName);
    if (at >= 0 && FSlots[static_cast<size_t>(at)].get() != &slot) at = -1;
    const int32_t taken = IndexOfSlot(newName);
    if (taken >= 0 && FSlots[static_cast<size_t>(taken)].get() != &slot)
        throw EIEException(Format(SlotNameExistsMessage, newName));
    if (at < 0) {
        // A slot that is not in the table yet (being named while added) joins at the end.
        if (auto* s = dynamic_cast<TFactSlot*>(&slot); s && s->FOwner == this && !oldName.empty())
            return; // a slot that was deleted from this template stays out of it
        FSlots.emplace_back(&slot);
        FIndex.Set(newName, static_cast<int32_t>(FSlots.size() - 1));
    } else {
        FIndex.Erase(oldName);
        FIndex.Set(newName, at);
    }
    SlotSetChanged();
}

TRefPtr<IFactSlot> TFactTemplate::NewSlot(std::string_view name, TIETypes types,
                                          const TRefPtr<IIEValue>& defaultValue) {
    TRefPtr<TFactSlot> slot = TFactSlot::Create(this);
    slot->FSlotType = types;
    slot->SetSlotDefault(defaultValue);
    slot->SetName(name); // enters the slot in the table
    return slot;
}

TRefPtr<IFactSlot> TFactTemplate::AddSlot(std::string_view name,
                                          const TRefPtr<IIEValue>& defaultValue) {
    if (!defaultValue) RaiseIE(imBadSlotType);
    if (defaultValue->GetDType() == dtList)
        RaiseIE(imInvalidDefaultSlotValue, defaultValue->GetText());
    const int32_t i = IndexOfSlot(name);
    if (i >= 0) {
        const TRefPtr<IFactSlot>& slot = FSlots[static_cast<size_t>(i)];
        if (slot->IsMultiSlot()) RaiseIE(imMultislotIsNotSlot);
        slot->SetSlotDefault(defaultValue);
        return slot;
    }
    return NewSlot(name, SingleSlotTypes(), defaultValue);
}

TRefPtr<IFactSlot> TFactTemplate::AddMultiSlot(std::string_view name,
                                               const TRefPtr<IIEValue>& defaultValue) {
    if (!defaultValue) RaiseIE(imBadSlotType);
    if (defaultValue->GetDType() != dtList)
        RaiseIE(imInvalidMultislotDefault, defaultValue->GetText());
    if (Trimmed(name).empty()) RaiseIE(imBadSlotName, name);
    const int32_t i = IndexOfSlot(name);
    if (i >= 0) {
        const TRefPtr<IFactSlot>& slot = FSlots[static_cast<size_t>(i)];
        if (!slot->IsMultiSlot()) RaiseIE(imSlotIsNotMultislot);
        slot->SetSlotDefault(defaultValue);
        return slot;
    }
    return NewSlot(name, SingleSlotTypes() | MultiSlotMarkers, defaultValue);
}

TRefPtr<IFactSlot> TFactTemplate::AddSlotCopy(const IFactSlot& slot) {
    TRefPtr<TFactSlot> copy = TFactSlot::Create(this);
    if (auto* s = dynamic_cast<const TFactSlot*>(&slot)) {
        // Assign names the copy, which enters it in the table.
        copy->Assign(s);
    } else {
        copy->AssignFrom(&slot);
    }
    if (copy->GetName().empty()) RaiseIE(imBadSlotName, copy->GetName());
    return copy;
}

void TFactTemplate::PutSlot(std::string_view name, const TRefPtr<IFactSlot>& slot) {
    if (!slot || slot->GetName() != name)
        RaiseIE(imIndexDoesNotMatchSlot, name, slot ? slot->GetName() : std::string());
    const int32_t i = IndexOfSlot(name);
    if (i >= 0) {
        FSlots[static_cast<size_t>(i)] = slot;
    } else {
        FSlots.push_back(slot);
        FIndex.Set(name, static_cast<int32_t>(FSlots.size() - 1));
    }
    SlotSetChanged();
}

TRefPtr<IFactSlot> TFactTemplate::FindSlotByType(const IIEDefinedType* type) const {
    for (const auto& slot : FSlots)
        if (slot->GetExtendedTypeInfo().get() == type) return slot;
    return nullptr;
}

void TFactTemplate::DeleteSlot(std::string_view name) {
    const int32_t i = IndexOfSlot(name);
    if (i < 0) RaiseIE(imNoSuchSlot, name);
    TRefPtr<IFactSlot> slot = FSlots[static_cast<size_t>(i)];
    FSlots.erase(FSlots.begin() + i);
    RebuildIndex();
    // The slot lives on as a free slot.
    if (auto* s = dynamic_cast<TFactSlot*>(slot.get()); s && s->FOwner == this) s->FOwner = nullptr;
    SlotSetChanged();
}

void TFactTemplate::Clear() {
    for (auto& slot : FSlots)
        if (auto* s = dynamic_cast<TFactSlot*>(slot.get()); s && s->FOwner == this)
            s->FOwner = nullptr;
    FSlots.clear();
    FIndex.clear();
    SlotSetChanged();
}

TRefPtr<IFact> TFactTemplate::NewFact() {
    TRefPtr<TFact> fact = TFact::Create(TRefPtr<IFactTemplate>(this));
    InitializeFact(*fact);
    return fact;
}

} // namespace ie

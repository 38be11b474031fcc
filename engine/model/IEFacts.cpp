// Facts, the duplicate index of working memory, fact sets and the default text writer.
//
// Invariant: a fact re-arranges its values by slot name before any access once its template's
// layout number has moved, so a slot position is never read against another layout; the duplicate
// index holds each asserted fact once, keeps equal facts in order behind the first, and promotes
// the earliest when the first goes, so a duplicate check always finds a fact still asserted.
#include "engine/model/IEFacts.h"

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
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"

namespace ie {

using factdetail::TextOf;
using factdetail::Trimmed;
using factdetail::UpperKindList;

namespace {

// Counts the changes of any fact's values, so that TFactIndex knows a hash it kept is still the
// fact's hash.
std::atomic<uint64_t> GFactChanges{0};

void NoteFactChange() noexcept {
    GFactChanges.fetch_add(1, std::memory_order_relaxed);
}

TRefPtr<IIEValue> CloneOf(const IIEValue* value) {
    return value ? value->CloneValue() : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TFact

TFactValues::TFactValues(size_t count) : FSize(count) {
    if (count == 0) return;
    FData = static_cast<TFactValue*>(AllocateBlock(count * sizeof(TFactValue)));
    std::uninitialized_value_construct_n(FData, count);
}

TFactValues::TFactValues(const TFactValue* values, size_t count) : FSize(count) {
    if (count == 0) return;
    FData = static_cast<TFactValue*>(AllocateBlock(count * sizeof(TFactValue)));
    std::uninitialized_copy_n(values, count, FData);
}

void TFactValues::Free(TFactValue* values, size_t count) noexcept {
    if (!values) return;
    std::destroy_n(values, count);
    FreeBlock(values, count * sizeof(TFactValue));
}

TFact::TFact(TRefPtr<IFactTemplate> factTemplate, const IFact* source) {
    IFactTemplate* given = factTemplate.get();
    auto* obj = given && typeid(*given) == typeid(TFactTemplate)
                    ? static_cast<TFactTemplate*>(given)
                    : dynamic_cast<TFactTemplate*>(given);
    if (given && !obj) RaiseIE(imFactTemplateMissing);
    FTemplateObj = obj;
    if (FTemplateObj) {
        AdoptValues(TFactValues(FTemplateObj->FSlots.size()));
        FLayout = FTemplateObj->Layout();
        FTemplateObj->KeepLayout();
    }
    if (source) AssignFrom(source);
}

TFact::~TFact() {
    TFactValues::Free(FValues, FValueCount);
    if (FHasTag) SetSideTag(this, 0);
}

void TFact::SetTag(intptr_t tag) {
    if (tag == 0 && !FHasTag) return;
    SetSideTag(this, tag);
    FHasTag = tag != 0;
}

void TFact::RaiseNoPosition() {
    throw std::out_of_range("TFact: slot position out of range");
}

void TFact::AdoptValues(TFactValues&& values) const noexcept {
    TFactValue* old = FValues;
    const uint32_t oldCount = FValueCount;
    FValueCount = static_cast<uint32_t>(values.size());
    FValues = values.Release();
    TFactValues::Free(old, oldCount);
}

TRefPtr<TFact> TFact::CreateFromIntf(const TRefPtr<IInterface>& factTemplate) {
    auto t = RefCast<IFactTemplate>(factTemplate);
    if (!t) RaiseIE(imFactTemplateMissing);
    return Create(t);
}

IFactServices* TFact::Engine() const noexcept {
    return FTemplateObj ? FTemplateObj->Engine() : nullptr;
}

void TFact::RaiseNoTemplate() const {
    RaiseIE(imFactTemplateMissing);
}

void TFact::Relayout() const {
    TFactValues values(FTemplateObj->FSlots.size());
    // The values follow their slots by name (a renamed slot keeps its value).
    if (const auto* slots = FTemplateObj->SlotsOfLayout(FLayout)) {
        for (uint32_t k = 0; k < FValueCount && k < slots->size(); ++k) {
            TFactValue& old = FValues[k];
            if (!old.Value || !(*slots)[k]) continue;
            const int32_t i = FTemplateObj->IndexOfSlot((*slots)[k]->GetName());
            if (i >= 0) values[static_cast<size_t>(i)].Value = std::move(old.Value);
        }
    }
    AdoptValues(std::move(values));
    FLayout = FTemplateObj->Layout();
    FTemplateObj->KeepLayout();
}

int32_t TFact::SlotCount() const noexcept {
    return FTemplateObj ? FTemplateObj->SlotCount() : 0;
}

const IIEValue* TFact::PeekValue(int32_t index) const {
    Sync();
    const TFactValue& entry = Entry(index);
    if (entry.Value) return entry.Value.get();
    const IFactSlot* slot = FTemplateObj->Slot(index).get();
    return slot ? slot->GetSlotDefault().get() : nullptr;
}

const TRefPtr<IIEValue>& TFact::DefaultValueAt(int32_t index) const {
    TFactValue& entry = Entry(index);
    if (!entry.Value) {
        if (const IFactSlot* slot = FTemplateObj->Slot(index).get()) {
            // A copy, so that changing it never reaches the template's default.
            TRefPtr<IIEValue> def = slot->GetSlotDefault();
            entry.Value = def ? def->CloneValue() : slot->NewDefaultValue(slot->IsMultiSlot());
        }
    }
    return entry.Value;
}

void TFact::SetValueAt(int32_t index, TRefPtr<IIEValue> value) {
    Sync();
    Entry(index).Value = std::move(value);
    NoteFactChange();
}

TRefPtr<TFact> TFact::ShareValues() const {
    Sync();
    // Made without a template and given this fact's slots and values at once: a split makes
    // one copy per cut, so the copy costs one array of shared references and nothing more.
    TRefPtr<TFact> copy = Create(nullptr);
    copy->FTemplateObj = FTemplateObj;
    copy->AdoptValues(TFactValues(FValues, FValueCount));
    copy->FLayout = FLayout;
    copy->FID = FID;
    copy->SetTag(GetTag());
    return copy;
}

TRefPtr<IIEValue> TFact::GetSlotValue(std::string_view slotName) const {
    if (!FTemplateObj) RaiseNoTemplate();
    const int32_t i = FTemplateObj->IndexOfSlot(slotName);
    if (i < 0) RaiseIE(imNoSuchSlot, slotName);
    return ValueAt(i);
}

bool TFact::FindSlotValue(std::string_view slotName, TRefPtr<IIEValue>& value) const {
    value = nullptr;
    if (!FTemplateObj) RaiseNoTemplate();
    const int32_t i = FTemplateObj->IndexOfSlot(slotName);
    if (i < 0) return false;
    value = ValueAt(i);
    return true;
}

bool TFact::FindSlotValue(std::string_view slotName, TRefPtr<IIEValue>& value,
                          TSlotPosition& position) const {
    if (!FTemplateObj) RaiseNoTemplate();
    if (position.Template != FTemplateObj.get() || position.Layout != FTemplateObj->Layout())
        position = {FTemplateObj.get(), FTemplateObj->Layout(),
                    FTemplateObj->IndexOfSlot(slotName)};
    if (position.Index < 0) {
        value = nullptr;
        return false;
    }
    value = ValueAt(position.Index);
    return true;
}

bool FindSlotValueAt(const IFact& fact, std::string_view slotName, TSlotPosition& position,
                     TRefPtr<IIEValue>& value) {
    if (typeid(fact) == typeid(TFact))
        return static_cast<const TFact&>(fact).FindSlotValue(slotName, value, position);
    return fact.FindSlotValue(slotName, value);
}

void TFact::SetSlotValue(std::string_view slotName, const TRefPtr<IIEValue>& value) {
    if (!FTemplateObj) RaiseNoTemplate();
    const int32_t i = FTemplateObj->IndexOfSlot(slotName);
    if (i < 0) RaiseIE(imNoSuchSlot, slotName);
    SetSlotValueAt(i, value);
}

void TFact::SetSlotValueAt(int32_t i, const TRefPtr<IIEValue>& value) {
    if (!FTemplateObj) RaiseNoTemplate();
    if (i < 0 || i >= FTemplateObj->SlotCount()) RaiseIE(imNoSuchSlot, std::to_string(i));
    TRefPtr<IIEValue> v = value ? value : IEEmptyAtom();
    if (FTemplateObj->DynamicTypeChecks()) {
        const IFactSlot& slot = *FTemplateObj->Slot(i);
        if (!slot.IsValidValue(v.get())) {
            const TIEType kind = v->GetDType();
            const TIETypes kinds = slot.GetSlotType();
            TRefPtr<IIEDefinedType> type = slot.GetExtendedTypeInfo();
            TRefPtr<IFuzzyVariable> variable = type ? type->GetFuzzyVariable() : nullptr;
            if (kind == dtInteger && kinds.Contains(dtFloat)) {
                v = TIEValue::CreateFloat(static_cast<double>(v->AsInteger()));
            } else if ((kind == dtAtom || kind == dtString) && kinds.Contains(dtFuzzy) &&
                       variable && variable->GetParser()) {
                v = TIEValue::CreateFuzzy(
                    variable->GetParser()->ParseFuzzyText(variable.get(), v->AsString()));
            } else {
                // The previous value stays.
                throw EIEException(slot.ValidationMessage(v.get()));
            }
        }
    }
    SetValueAt(i, std::move(v));
}

void TFact::SetTemplate(const TRefPtr<IFactTemplate>& factTemplate) {
    if (factTemplate.get() == TemplateIntf()) return;
    auto* obj = dynamic_cast<TFactTemplate*>(factTemplate.get());
    if (factTemplate && !obj) RaiseIE(imFactTemplateMissing);
    TFactValues values(obj ? obj->FSlots.size() : 0);
    if (obj && FTemplateObj) {
        // Values of the slot names both templates share stay; the others go.
        Sync();
        for (uint32_t k = 0; k < FValueCount; ++k) {
            TFactValue& old = FValues[k];
            const IFactSlot* slot = FTemplateObj->Slot(static_cast<int32_t>(k)).get();
            if (!slot || !old.Value) continue;
            const int32_t i = obj->IndexOfSlot(slot->GetName());
            if (i >= 0) values[static_cast<size_t>(i)].Value = std::move(old.Value);
        }
    }
    AdoptValues(std::move(values));
    NoteFactChange();
    FTemplateObj = obj;
    FLayout = obj ? obj->Layout() : 0;
    if (obj) obj->KeepLayout();
}

void TFact::AssignValues(const IFact& other) {
    TRefPtr<IFactTemplate> theirs = other.GetTemplate();
    if (!FTemplateObj || !theirs) RaiseNoTemplate();
    if (theirs.get() != TemplateIntf())
        RaiseIE(imCannotAssignSlotValues, FTemplateObj->GetName(), theirs->GetName());
    Sync();
    const auto* fact = typeid(other) == typeid(TFact) ? static_cast<const TFact*>(&other)
                                                      : dynamic_cast<const TFact*>(&other);
    for (int32_t i = 0; i < FTemplateObj->SlotCount(); ++i) {
        TRefPtr<IIEValue> v =
            fact ? CloneOf(fact->PeekValue(i))
                 : CloneOf(other.GetSlotValue(FTemplateObj->Slot(i)->GetName()).get());
        FValues[static_cast<size_t>(i)].Value = std::move(v);
    }
    NoteFactChange();
}

void TFact::Assign(const TPersistent* source) {
    auto* src = dynamic_cast<const TFact*>(source);
    if (!src) {
        TPersistent::Assign(source);
        return;
    }
    AssignFrom(src);
}

void TFact::AssignFrom(const IInterface* source) {
    auto* src = dynamic_cast<const IFact*>(source);
    if (!src) RaiseIE(imFunctionUnimplemented, "AssignFrom");
    if (src == this) return;
    TRefPtr<IFactTemplate> theirs = src->GetTemplate();
    IFactServices* engine = Engine();
    if (engine && theirs && theirs->GetEngine() != FTemplateObj->GetEngine()) {
        // Another engine's fact: read back from its text here, against this engine's template.
        if (TRefPtr<IFactTemplate> own = engine->FindFactTemplate(theirs->GetName()))
            SetTemplate(own);
        TRefPtr<IFact> parsed;
        if (IFactServices* services = FTemplateObj->Services())
            parsed = services->ParseFact(src->GetText());
        if (parsed) {
            if (parsed->GetTemplate().get() != TemplateIntf()) SetTemplate(parsed->GetTemplate());
            AssignValues(*parsed);
        } else {
            // No reader: the values of the slot names both templates share, as copies.
            Sync();
            for (int32_t i = 0; i < FTemplateObj->SlotCount(); ++i) {
                TRefPtr<IIEValue> v;
                if (src->FindSlotValue(FTemplateObj->Slot(i)->GetName(), v))
                    FValues[static_cast<size_t>(i)].Value = CloneOf(v.get());
            }
            NoteFactChange();
        }
    } else if (theirs) {
        if (theirs.get() != TemplateIntf()) SetTemplate(theirs);
        AssignValues(*src);
    }
    FID = src->GetFactId();
    SetTag(src->GetTag());
}

TRefPtr<ICloneable> TFact::Clone() const {
    return Copy();
}

TRefPtr<TFact> TFact::Copy() const {
    // AssignFrom for a fact of this very template, without its casts (an assertion copies its
    // fact literal this way each time it runs).
    TRefPtr<TFact> fact = Create(GetTemplate());
    if (FTemplateObj) fact->AssignValues(*this);
    fact->FID = FID;
    fact->SetTag(GetTag());
    return fact;
}

TRefPtr<TFact> TFact::BlankCopy() const {
    TRefPtr<TFact> fact = Create(GetTemplate());
    fact->FID = FID;
    fact->SetTag(GetTag());
    return fact;
}

bool TFact::Equals(const IInterface* other) const {
    auto* f = dynamic_cast<const IFact*>(other);
    return f && Equals(f);
}

bool TFact::Equals(const IFact* other) const {
    if (other == static_cast<const IFact*>(this)) return true;
    if (!other || !FTemplateObj) return false;
    if (typeid(*other) == typeid(TFact)) return EqualsFact(static_cast<const TFact&>(*other));
    TRefPtr<IFactTemplate> theirs = other->GetTemplate();
    if (theirs.get() != TemplateIntf()) return false;
    const auto* fact = dynamic_cast<const TFact*>(other);
    const int32_t n = FTemplateObj->SlotCount();
    for (int32_t i = 0; i < n; ++i) {
        const IFactSlot& slot = *FTemplateObj->Slot(i);
        if (slot.IsFuzzy()) continue;
        const IIEValue* mine = PeekValue(i);
        TRefPtr<IIEValue> held;
        const IIEValue* other_value;
        if (fact) {
            other_value = fact->PeekValue(i);
        } else {
            held = other->GetSlotValue(slot.GetName());
            other_value = held.get();
        }
        if (mine == other_value) continue;
        if (!mine || !other_value || !mine->Equals(other_value)) return false;
    }
    return true;
}

namespace {
// mine->Equals(theirs) for two slot values, with two lists of the engine's own classes compared
// element by element in place (the general path asks each list for its items through calls).
bool SlotValuesEqual(const IIEValue* mine, const IIEValue* theirs) {
    if (typeid(*mine) == typeid(TIEValue) && typeid(*theirs) == typeid(TIEValue)) {
        const auto& a = static_cast<const TIEValue&>(*mine);
        const auto& b = static_cast<const TIEValue&>(*theirs);
        if (a.DType() == dtList && b.DType() == dtList) {
            const IValueVector* la = a.ListPayload();
            const IValueVector* lb = b.ListPayload();
            if (la == lb) return true;
            if (!la || !lb) return false;
            if (typeid(*la) == typeid(TValueVector) && typeid(*lb) == typeid(TValueVector)) {
                const auto& va = static_cast<const TValueVector&>(*la);
                const auto& vb = static_cast<const TValueVector&>(*lb);
                const int32_t n = va.Count();
                if (n != vb.Count()) return false;
                for (int32_t i = 0; i < n; ++i) {
                    const IIEValue* x = va.begin()[i].get();
                    const IIEValue* y = vb.begin()[i].get();
                    if (!x || !y) {
                        if (x || y) return false;
                        continue;
                    }
                    if (typeid(*x) == typeid(TIEValue) && typeid(*y) == typeid(TIEValue)) {
                        if (x == y) continue;
                        bool decided;
                        const bool equal = static_cast<const TIEValue*>(x)->SameKindEquals(
                            *static_cast<const TIEValue*>(y), decided);
                        if (decided) {
                            if (!equal) return false;
                            continue;
                        }
                    }
                    if (!x->Equals(y)) return false;
                }
                return true;
            }
        }
    }
    return mine->Equals(theirs);
}
} // namespace

bool TFact::EqualsFact(const TFact& other) const {
    // The duplicate test of every assertion: the slot arrays side by side, no counted
    // references, no name lookups; the fuzzy slots are looked for only in a fuzzy template.
    if (other.FTemplateObj != FTemplateObj) return false;
    Sync();
    other.Sync();
    const bool fuzzy = FTemplateObj->TFactTemplate::IsFuzzy();
    for (size_t i = 0, n = FValueCount; i < n; ++i) {
        const IIEValue* mine = FValues[i].Value.get();
        const IIEValue* theirs = other.FValues[i].Value.get();
        if (mine == theirs && mine) continue;
        if (fuzzy && FTemplateObj->Slot(static_cast<int32_t>(i))->IsFuzzy()) continue;
        if (!mine) mine = PeekValue(static_cast<int32_t>(i));
        if (!theirs) theirs = other.PeekValue(static_cast<int32_t>(i));
        if (mine == theirs) continue;
        if (!mine || !theirs || !SlotValuesEqual(mine, theirs)) return false;
    }
    return true;
}

int32_t TFact::GetHashCode() const {
    if (!FTemplateObj) return 0;
    std::string text;
    for (int32_t i = 0; i < FTemplateObj->SlotCount(); ++i)
        text += TextOf(PeekValue(i));
    const uint32_t h = static_cast<uint32_t>(FTemplateObj->GetHashCode()) * 31u +
                       static_cast<uint32_t>(HashString(text));
    return static_cast<int32_t>(h);
}

namespace {
// A value's share of a fact's identity hash: a multifield contributes each of its elements in
// order (its own hash code is their plain sum, under which (path 1 2) and (path 2 1) collide).
// Only a multifield equals a multifield, so equal values still hash alike.
// GetHashCode of a single field of the engine's own class; texts and integers (the elements of
// nearly every multifield) without a call.
uint32_t OwnFieldHash(const TIEValue& v) {
    if (const TIEText* text = v.TextBlock()) return static_cast<uint32_t>(text->Hash());
    if (v.DType() == dtInteger) {
        // An integer of 32 bits is its own hash (the payload read as a double tells whether it
        // fits).
        const double d = v.NumberPayload();
        if (d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max())
            return static_cast<uint32_t>(v.IntPayload());
    }
    return static_cast<uint32_t>(v.TIEValue::GetHashCode());
}

uint64_t MixValueHash(uint64_t h, const IIEValue* v) {
    // The engine's own value of a single field (nearly every slot value): no virtual call.
    if (v && typeid(*v) == typeid(TIEValue)) {
        const auto* own = static_cast<const TIEValue*>(v);
        if (own->DType() != dtList) return MixHash(h, OwnFieldHash(*own));
        // The engine's own list is read in place: AsList would count a reference (and copy a
        // list that another value shares) and GetItem is a call per element.
        const IValueVector* list = own->ListPayload();
        if (list && typeid(*list) == typeid(TValueVector)) {
            const auto* items = static_cast<const TValueVector*>(list);
            h = MixHash(h, static_cast<uint32_t>(items->Count()));
            for (const TRefPtr<IIEValue>& item : *items) {
                const IIEValue* e = item.get();
                if (e && typeid(*e) == typeid(TIEValue) &&
                    static_cast<const TIEValue*>(e)->DType() != dtList)
                    h = MixHash(h, OwnFieldHash(*static_cast<const TIEValue*>(e)));
                else
                    h = MixValueHash(h, e);
            }
            return h;
        }
    }
    if (v && v->GetDType() == dtList) {
        if (const TRefPtr<IValueVector> list = v->AsList()) {
            const int32_t n = list->Count();
            h = MixHash(h, static_cast<uint32_t>(n));
            for (int32_t i = 0; i < n; ++i)
                h = MixValueHash(h, list->GetItem(i).get());
            return h;
        }
    }
    return MixHash(h, v ? static_cast<uint32_t>(v->GetHashCode()) : 0u);
}
} // namespace

size_t TFact::IdentityHash() const {
    size_t h = std::hash<const void*>()(TemplateIntf());
    if (!FTemplateObj) return h;
    Sync();
    const bool fuzzy = FTemplateObj->TFactTemplate::IsFuzzy();
    for (size_t i = 0, n = FValueCount; i < n; ++i) {
        if (fuzzy && FTemplateObj->Slot(static_cast<int32_t>(i))->IsFuzzy()) continue;
        const IIEValue* v = FValues[i].Value.get();
        h = MixValueHash(h, v ? v : PeekValue(static_cast<int32_t>(i)));
    }
    return h;
}

size_t TFact::IdentityHashOf(const TFactTemplate& factTemplate,
                             std::span<const IIEValue* const> values) {
    // As IdentityHash hashes a fact of the template: its interface, then the values in order.
    const IFactTemplate* intf = &factTemplate;
    size_t h = std::hash<const void*>()(intf);
    for (const IIEValue* v : values)
        h = MixValueHash(h, v);
    return h;
}

bool TFact::EqualsValues(const TFactTemplate& factTemplate, std::span<const IIEValue* const> values,
                         bool& unsure) const {
    // EqualsFact with the values in the place of the other fact's, which asks them.
    if (FTemplateObj.get() != &factTemplate) return false;
    Sync();
    if (factTemplate.TFactTemplate::IsFuzzy() || FValueCount != values.size()) {
        unsure = true;
        return false;
    }
    for (size_t i = 0, n = FValueCount; i < n; ++i) {
        const IIEValue* mine = values[i];
        const IIEValue* theirs = FValues[i].Value.get();
        if (!mine) {
            unsure = true;
            return false;
        }
        if (mine == theirs) continue;
        if (!theirs) theirs = PeekValue(static_cast<int32_t>(i));
        if (mine == theirs) continue;
        if (!theirs || !SlotValuesEqual(mine, theirs)) return false;
    }
    return true;
}

std::string TFact::GetText() const {
    if (IFactServices* services = FTemplateObj ? FTemplateObj->Services() : nullptr)
        return services->FormatFact(*this);
    return FormatFactText(*this);
}

std::string TFact::GetLabel() const {
    std::string id;
    if (IFactServices* engine = Engine()) {
        // Padded with zeros to as many digits as the next identifier has.
        const int32_t width = static_cast<int32_t>(std::to_string(engine->NextFactId()).size());
        const int64_t magnitude = FID < 0 ? -static_cast<int64_t>(FID) : FID;
        std::string digits = std::to_string(magnitude);
        if (static_cast<int32_t>(digits.size()) < width)
            digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
        id = (FID < 0 ? "-" : "") + digits;
    } else {
        id = std::to_string(FID);
    }
    return "f-" + id + " " + GetText();
}

TRefPtr<IStringIterator> TFact::SlotNameIterator() const {
    return FTemplateObj ? FTemplateObj->SlotNames() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// TFactIndex

size_t TFactIndex::HashOf(const IFact& fact) const {
    if (FHash) return FHash(fact);
    // The exact class first: a dynamic cast per assertion is a measurable share of it.
    if (typeid(fact) == typeid(TFact)) return static_cast<const TFact&>(fact).IdentityHash();
    if (auto* f = dynamic_cast<const TFact*>(&fact)) return f->IdentityHash();
    return static_cast<size_t>(static_cast<uint32_t>(fact.GetHashCode()));
}

void TFactIndex::Clear() {
    for (const TKey& key : FFacts)
        key.Fact->Release();
    for (auto& [first, later] : FEqualLater)
        for (IFact* f : later)
            f->Release();
    FFacts = {};
    FEqualLater = {};
    FCount = 0;
    FHashed = nullptr;
}

size_t TFactIndex::HashForAdd(const IFact& fact) {
    // The hash FindEqual just computed for this fact, when no fact changed since (an assertion
    // looks for an equal fact, then adds it).
    const bool kept =
        FHashed.get() == &fact && FHashedStamp == GFactChanges.load(std::memory_order_relaxed);
    FHashed = nullptr;
    return kept ? FHashedHash : HashOf(fact);
}

size_t TFactIndex::Add(const TRefPtr<IFact>& fact) {
    if (!fact) return 0;
    const size_t hash = HashForAdd(*fact);
    MakeRoomToInsert(FFacts);
    const auto [it, added] = FFacts.insert(TKey{hash, fact.get()});
    if (!added) FEqualLater[it->Fact].push_back(fact.get());
    fact->AddRef();
    ++FCount;
    return hash;
}

bool TFactIndex::Remove(const IFact& fact, size_t hash) {
    FHashed = nullptr;
    if (FCount == 0) return false;
    const auto it = FFacts.find(TKey{hash, &fact});
    if (it == FFacts.end()) return false;
    const IFact* first = it->Fact;
    const auto later = FEqualLater.empty() ? FEqualLater.end() : FEqualLater.find(first);
    if (first == &fact) {
        // The very object: the earliest of its equal facts left indexed takes its place.
        FFacts.erase(it);
        if (later != FEqualLater.end()) {
            std::vector<IFact*> rest = std::move(later->second);
            FEqualLater.erase(later);
            IFact* next = rest.front();
            rest.erase(rest.begin());
            MakeRoomToInsert(FFacts);
            FFacts.insert(TKey{hash, next});
            if (!rest.empty()) FEqualLater.emplace(next, std::move(rest));
        }
    } else {
        // An equal fact of the same hash is another fact: only a later twin is this one.
        if (later == FEqualLater.end()) return false;
        std::vector<IFact*>& twins = later->second;
        const auto at = std::find(twins.begin(), twins.end(), &fact);
        if (at == twins.end()) return false;
        twins.erase(at);
        if (twins.empty()) FEqualLater.erase(later);
    }
    --FCount;
    fact.Release();
    return true;
}

IFact* TFactIndex::FindEqual(const IFact& fact) const {
    if (FCount == 0) return nullptr;
    const uint64_t stamp = GFactChanges.load(std::memory_order_relaxed);
    if (FHashedAbsent && FHashed.get() == &fact && FHashedStamp == stamp) return nullptr;
    const size_t hash = HashOf(fact);
    // Held, so that its address is not another fact's when Add asks.
    FHashed = TRefPtr<IFact>(const_cast<IFact*>(&fact));
    FHashedHash = hash;
    FHashedStamp = stamp;
    FHashedAbsent = false;
    const auto it = FFacts.find(TKey{hash, &fact});
    return it == FFacts.end() ? nullptr : const_cast<IFact*>(it->Fact);
}

bool TFactIndex::TKeyEqual::operator()(const TValuesKey& a, const TKey& b) const {
    // Only a stored fact of the engine's own class is compared here; any other is left to
    // FindEqual with the fact made.
    if (a.Hash != b.Hash) return false;
    if (typeid(*b.Fact) != typeid(TFact)) {
        *a.Unsure = true;
        return false;
    }
    return static_cast<const TFact*>(b.Fact)->EqualsValues(*a.Template, a.Values, *a.Unsure);
}

IFact* TFactIndex::FindEqualValues(const TFactTemplate& factTemplate,
                                   std::span<const IIEValue* const> values, size_t& hash,
                                   bool& unsure) const {
    hash = TFact::IdentityHashOf(factTemplate, values);
    // A hash of the index's own (FHash) is not the one computed here.
    unsure = FHash != nullptr;
    if (FCount == 0 || unsure) return nullptr;
    const auto it = FFacts.find(TValuesKey{hash, &factTemplate, values, &unsure});
    return it == FFacts.end() ? nullptr : const_cast<IFact*>(it->Fact);
}

void TFactIndex::NoteMadeOfValues(const TRefPtr<IFact>& fact, size_t hash) const noexcept {
    if (!fact || FHash) return;
    FHashed = fact;
    FHashedHash = hash;
    FHashedStamp = GFactChanges.load(std::memory_order_relaxed);
    FHashedAbsent = true;
}

// ---------------------------------------------------------------------------------------------
// Fact sets

void TFactSetFacts::AssignTo(TIList<IFact>& list) const {
    for (int32_t i = 0; i < Count(); ++i)
        if (auto fact = GetInterfaceAs<IFact>(i)) list.Add(fact);
}

TFactSet::TFactSet(TComponent* owner) : TFactSet(owner, "FactSet") {}

TFactSet::TFactSet(TComponent* owner, std::string_view name)
    : TComponent(owner), FFactSetName(name), FFacts(this) {
    if (auto* engine = dynamic_cast<IFactServices*>(owner)) SetEngine(engine);
}

TFactSet::~TFactSet() {
    if (FEngine) {
        IFactServices* engine = std::exchange(FEngine, nullptr);
        engine->FactSetDetached(*this);
    }
}

void TFactSet::ParseAll() {
    IFactServices* services = FEngine;
    if (!services) return;
    for (int32_t i = 0; i < FFacts.Count(); ++i)
        FFacts.PutInterface(i, services->ParseFactSetFact(FFacts.Get(i)));
}

void TFactSet::SetEngine(IFactServices* engine) {
    if (engine == FEngine) return;
    IFactServices* old = std::exchange(FEngine, engine);
    TComponent* oldComponent = std::exchange(FEngineComponent, dynamic_cast<TComponent*>(engine));
    if (old) {
        if (oldComponent && oldComponent != Owner()) RemoveFreeNotification(oldComponent);
        old->FactSetDetached(*this);
    }
    if (engine) {
        if (FEngineComponent && FEngineComponent != Owner()) FreeNotification(FEngineComponent);
        engine->FactSetAttached(*this);
        ParseAll();
    } else {
        for (int32_t i = 0; i < FFacts.Count(); ++i)
            FFacts.PutInterface(i, nullptr);
    }
}

void TFactSet::SetFacts(const TStrings& lines) {
    FFacts.Clear();
    for (int32_t i = 0; i < lines.Count(); ++i)
        FFacts.Add(lines.Get(i));
    if (FEngine) ParseAll();
}

int32_t TFactSet::AddFact(const TRefPtr<IFact>& fact) {
    if (!fact) RaiseIE(imNoSuchFact, "nil");
    return FFacts.AddInterface(fact->GetText(), fact);
}

TRefPtr<IFact> TFactSet::GetFact(int32_t index) {
    TRefPtr<IFact> fact = FFacts.GetInterfaceAs<IFact>(index);
    IFactServices* services = FEngine;
    if (!fact && services) {
        fact = services->ParseFactSetFact(FFacts.Get(index));
        FFacts.PutInterface(index, fact);
    }
    return fact;
}

void TFactSet::SetFact(int32_t index, const TRefPtr<IFact>& fact) {
    FFacts.PutInterface(index, fact);
}

void EvaluateSlotCalls(TFact& fact, TIEContext* context) {
    for (int32_t i = 0; i < fact.SlotCount(); ++i) {
        const IIEValue* v = fact.PeekValue(i);
        if (!v) continue;
        if (v->GetDType() == dtFunCall) {
            fact.SetValueAt(i, fact.ValueAt(i)->Evaluate(context));
        } else if (v->GetDType() == dtList) {
            TRefPtr<IValueVector> list = v->AsList();
            bool hasCall = false;
            for (int32_t j = 0; list && j < list->Count() && !hasCall; ++j)
                hasCall = list->GetItem(j) && list->GetItem(j)->GetDType() == dtFunCall;
            if (hasCall)
                fact.SetValueAt(i, TIEValue::CreateList(context->EvaluateArguments(*list)));
        }
    }
}

void TFactSet::AssertFacts() {
    if (!FEngine) return;
    for (int32_t i = 0; i < FFacts.Count(); ++i) {
        TRefPtr<IFact> fact = GetFact(i);
        if (!fact) continue;
        auto copy = RefCast<IFact>(fact->Clone());
        // Calls and dynamic defaults are evaluated afresh at every reset.
        if (auto* f = dynamic_cast<TFact*>(copy.get()))
            EvaluateSlotCalls(*f, FEngine->RootContext());
        FEngine->AssertFact(copy, false);
    }
}

void TFactSet::Assign(const TPersistent* source) {
    auto* src = dynamic_cast<const TFactSet*>(source);
    if (!src) {
        TComponent::Assign(source);
        return;
    }
    if (src == this) return;
    FComment = src->FComment;
    FFactSetName = src->FFactSetName;
    FFacts.Clear();
    for (int32_t i = 0; i < src->FFacts.Count(); ++i) {
        TRefPtr<IFact> fact = src->FFacts.GetInterfaceAs<IFact>(i);
        IFactServices* services = FEngine;
        if (!services) {
            FFacts.AddInterface(src->FFacts.Get(i),
                                fact ? RefCast<IFact>(fact->Clone()) : TRefPtr<IFact>());
        } else {
            const std::string text = fact ? fact->GetText() : src->FFacts.Get(i);
            FFacts.AddInterface(text, services->ParseFactSetFact(text));
        }
    }
}

std::string TFactSet::GetText() const {
    if (IFactServices* services = FEngine) return services->FormatFactSet(*this);
    return FormatFactSetText(*this);
}

void TFactSet::Loaded() {
    TComponent::Loaded();
    AssertFacts();
}

void TFactSet::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component && component == FEngineComponent) {
        FEngine = nullptr;
        FEngineComponent = nullptr;
    }
    TComponent::Notification(component, operation);
}

// ---------------------------------------------------------------------------------------------
// The default writer

std::string FormatFactSlotValue(const IFact& fact, std::string_view slotName,
                                std::string_view valueText) {
    if (valueText.empty()) return {};
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (t && t->GetImplied()) return std::string(valueText);
    std::string s = "(";
    s += slotName;
    s += ' ';
    s += valueText;
    s += ')';
    return s;
}

std::string FormatFactText(const IFact& fact) {
    const auto* f = dynamic_cast<const TFact*>(&fact);
    return WriteFact(fact, [&](std::string& s, int32_t i, const IFactSlot& slot) {
        TRefPtr<IIEValue> held;
        const IIEValue* value;
        if (f) {
            value = f->PeekValue(i);
        } else {
            held = fact.GetSlotValue(slot.GetName());
            value = held.get();
        }
        const std::string text = FormatFactSlotValue(fact, slot.GetName(), TextOf(value));
        if (text.empty()) return false;
        s += ' ';
        s += text;
        return true;
    });
}

std::string FormatFactSlotText(const IFactSlot& slot) {
    const bool multi = slot.GetSlotType().Contains(dtMultiSlot);
    std::string s = multi ? "(multislot " : "(slot ";
    s += slot.GetName();
    s += ' ';
    std::string def;
    TRefPtr<IIEValue> value = slot.GetSlotDefault();
    if (value) {
        const std::string text = value->GetText();
        if (!Trimmed(text).empty())
            def = (slot.GetDefaultDynamic() ? "(default-dynamic " : "(default ") + text + ") ";
    }
    std::string twoIndents = std::string(IEIndent) + std::string(IEIndent);
    if (TRefPtr<IIEDefinedType> type = slot.GetExtendedTypeInfo()) {
        if (type->GetImplicit())
            s += DefinedTypeText(*type);
        else
            s += "(type " + type->GetName() + ")";
        if (!def.empty()) s += twoIndents + def;
    } else {
        const TIETypes kinds = slot.GetSlotType();
        if (kinds == SingleSlotTypes() || kinds == (SingleSlotTypes() | MultiSlotMarkers)) {
            s += def;
        } else {
            const TIETypes shown = kinds -
                                   TIETypes{dtNone, dtVariable, dtFunCall, dtMultiVariable} -
                                   (multi ? MultiSlotMarkers : TIETypes{});
            s += "(type " + UpperKindList(shown, " ") + (multi ? ") " : ")");
            if (!def.empty()) s += std::string(IELineEnd) + twoIndents + def;
        }
    }
    return s + ")";
}

std::string FormatFactTemplateText(const IFactTemplate& factTemplate) {
    std::string s = "(deftemplate " + factTemplate.GetName();
    if (!factTemplate.GetComment().empty()) s += " \"" + factTemplate.GetComment() + "\"";
    if (TRefPtr<IFactTemplate> parent = factTemplate.GetParent())
        s += std::string(IELineEnd) + std::string(IEIndent) + "extends " + parent->GetName();
    TRefPtr<IIEDefinedType> dataType;
    if (factTemplate.GetImplied() && factTemplate.SlotCount() > 0)
        dataType = factTemplate.SlotAt(0)->GetExtendedTypeInfo();
    if (dataType) {
        if (dataType->GetImplicit())
            s += " " + DefinedTypeText(*dataType);
        else
            s += " is-a " + dataType->GetName();
    } else {
        s += IELineEnd;
        for (int32_t i = 0; i < factTemplate.SlotCount(); ++i) {
            s += IEIndent;
            s += IndentLines(factTemplate.SlotAt(i)->GetText(), IEIndent);
            s += IELineEnd;
        }
    }
    return s + ")";
}

std::string FormatFactSetText(const TFactSet& factSet) {
    std::string s = "(deffacts " + factSet.FactSetName();
    if (!factSet.Comment().empty()) s += " \"" + factSet.Comment() + "\"";
    s += IELineEnd;
    const TFactSetFacts& facts = factSet.Facts();
    for (int32_t i = 0; i < facts.Count(); ++i) {
        s += IEIndent;
        s += IndentLines(facts.Get(i), IEIndent);
        s += IELineEnd;
    }
    return s + ")";
}

} // namespace ie

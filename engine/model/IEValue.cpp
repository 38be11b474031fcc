// Values: TIEValue's construction, change, getters, print form, hash, equality, copying and
// evaluation.
//
// Invariant: nested lists are walked without recursion, so a deep list cannot overflow the stack.
#include "engine/model/IEValue.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <typeinfo>
#include <utility>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "engine/model/FlatTables.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEFuzzyLogic.h"
#include "fuzzy/FuzzyInterfaces.h"
#include "platform/ClassRegistry.h"

namespace ie {

namespace {

// A constant refuses changes with a plain engine error: changing one is a fault of the caller,
// which must clone the constant first.
[[noreturn]] void RaiseConstantChange(const IIEValue& value) {
    throw EIEException("Invalid attempt to change the constant value " + value.GetText());
}

std::string IntText(int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// A pointer or 64-bit number folded into a 32-bit hash; numbers that fit 32 bits keep their
// own value so that integer-like kinds hash as the numbers they are.
int32_t FoldHash(int64_t v) noexcept {
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
        return static_cast<int32_t>(v);
    const auto u = static_cast<uint64_t>(v);
    return static_cast<int32_t>(static_cast<uint32_t>(u ^ (u >> 32)));
}

bool FitsInt32(double d) noexcept {
    return d > -2147483649.0 && d < 2147483648.0; // after truncation toward zero
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The guardian of an owned component

class TIEValueNexus final : public TComponent {
public:
    TIEValueNexus(TIEValue* value, TComponent* watched) : TComponent(nullptr), FValue(value) {
        FreeNotification(watched);
    }
    std::string_view ClassName() const override { return "TIEValueNexus"; }
    void Notification(TComponent* component, TOperation operation) override {
        if (operation == opRemove && FValue && component == FValue->AsObject())
            FValue->ObjectDestroyed();
        TComponent::Notification(component, operation);
    }
    void Detach() noexcept { FValue = nullptr; }

private:
    TIEValue* FValue;
};

// ---------------------------------------------------------------------------------------------
// TIEValue: construction

void* TIEValue::operator new(size_t size) {
    return AllocateBlock(size);
}

void TIEValue::operator delete(void* p, size_t size) noexcept {
    FreeBlock(p, size);
}

TIEValue::TIEValue() noexcept : FInt(0) {}

TIEValue::~TIEValue() {
    if (TExtras* extras = FindExtras()) extras->OnChange = nullptr;
    ReleaseContent();
    if (FHasExtras) DropExtras();
}

// The extras of the values that have them, by value. Values may be made and freed on several
// threads, so the table is guarded; the extras themselves stay where they are while their value
// lives (the table holds them by pointer).
struct TIEValue::TExtrasTable {
    std::mutex Lock;
    boost::unordered_flat_map<const TIEValue*, std::unique_ptr<TExtras>> Items;
};

TIEValue::TExtrasTable& TIEValue::ExtrasTable() {
    // Never destroyed: values held by static objects may outlive every other static.
    static TExtrasTable* table = new TExtrasTable();
    return *table;
}

TIEValue::TExtras* TIEValue::LookUpExtras() const noexcept {
    TExtrasTable& table = ExtrasTable();
    std::lock_guard lock(table.Lock);
    auto it = table.Items.find(this);
    return it == table.Items.end() ? nullptr : it->second.get();
}

TIEValue::TExtras& TIEValue::Extras() {
    if (TExtras* extras = FindExtras()) return *extras;
    auto made = std::make_unique<TExtras>();
    TExtras* extras = made.get();
    TExtrasTable& table = ExtrasTable();
    {
        std::lock_guard lock(table.Lock);
        table.Items[this] = std::move(made);
    }
    FHasExtras = true;
    return *extras;
}

void TIEValue::DropExtras() noexcept {
    std::unique_ptr<TExtras> extras;
    TExtrasTable& table = ExtrasTable();
    {
        std::lock_guard lock(table.Lock);
        auto it = table.Items.find(this);
        if (it == table.Items.end()) return;
        extras = std::move(it->second);
        table.Items.erase(it);
    }
    FHasExtras = false;
    // Destroyed outside the lock: a change handler's captures may free other values.
}

void TIEValue::StoreTag(intptr_t tag) {
    if (tag != 0 || FHasExtras) Extras().Tag = tag;
}

template <class T> TRefPtr<TIEValue> TIEValue::CreateInterface(TIEType kind, TRefPtr<T> payload) {
    TRefPtr<TIEValue> v(new TIEValue());
    T* p = payload.detach();
    v->SetRef(kind, p);
    return v;
}

template <class T> void TIEValue::SetInterface(TIEType kind, TRefPtr<T> payload) {
    CheckChangeable();
    ReleaseContent();
    T* p = payload.detach();
    SetRef(kind, p);
    DoChange();
}

TRefPtr<TIEValue> TIEValue::Create() {
    return TRefPtr<TIEValue>(new TIEValue());
}

TRefPtr<TIEValue> TIEValue::CreateInteger(TIEType kind, int32_t value) {
    if (kind != dtInteger && kind != dtFactId && kind != dtDescriptor) RaiseIE(imValueTypeMismatch);
    TRefPtr<TIEValue> v(new TIEValue());
    v->FType = kind;
    v->FInt = value;
    return v;
}

namespace {
int64_t PackFactAddress(int32_t id, uint32_t round) noexcept {
    return static_cast<int64_t>((uint64_t{round} << 32) | static_cast<uint32_t>(id));
}
} // namespace

TRefPtr<TIEValue> TIEValue::CreateFactAddress(int32_t id, uint32_t round) {
    TRefPtr<TIEValue> v(new TIEValue());
    v->FType = dtFactId;
    v->FInt = PackFactAddress(id, round);
    return v;
}

void TIEValue::SetAsFactAddress(int32_t id, uint32_t round) {
    SetNumber(dtFactId, PackFactAddress(id, round));
}

namespace {

// The shared values of the small integers, made on first use and never freed (a value may be
// released on any thread, up to the very end).
constexpr int32_t SharedIntegerLow = -256;
constexpr int32_t SharedIntegerHigh = 1024;
constinit std::atomic<TIEValue*> SharedIntegers[SharedIntegerHigh - SharedIntegerLow] = {};

} // namespace

TRefPtr<IIEValue> TIEValue::SharedInteger(int32_t value) {
    if (value < SharedIntegerLow || value >= SharedIntegerHigh) return nullptr;
    std::atomic<TIEValue*>& slot = SharedIntegers[value - SharedIntegerLow];
    TIEValue* shared = slot.load(std::memory_order_acquire);
    if (!shared) [[unlikely]] {
        TRefPtr<TIEValue> made = CreateInteger(dtInteger, value);
        made->MakeConstant();
        shared = made.get();
        TIEValue* expected = nullptr;
        if (slot.compare_exchange_strong(expected, shared, std::memory_order_acq_rel))
            (void)made.detach(); // the table's count
        else
            shared = expected; // another thread made it first; `made` goes
    }
    return TRefPtr<IIEValue>(shared);
}

TRefPtr<TIEValue> TIEValue::CreateText(TIEType kind, std::string_view text) {
    if (!IsTextType(kind)) RaiseIE(imValueTypeMismatch);
    TRefPtr<TIEValue> v(new TIEValue());
    v->SetTextPayload(kind, TIEText::Make(text));
    return v;
}

TRefPtr<TIEValue> TIEValue::CreateText(TIEType kind, TRefPtr<TIEText> text) {
    if (!IsTextType(kind)) RaiseIE(imValueTypeMismatch);
    TRefPtr<TIEValue> v(new TIEValue());
    v->SetTextPayload(kind, std::move(text));
    return v;
}

TRefPtr<TIEValue> TIEValue::CreateFloat(double value) {
    TRefPtr<TIEValue> v(new TIEValue());
    v->FType = dtFloat;
    v->FFloat = value;
    return v;
}

TRefPtr<TIEValue> TIEValue::CreateList(TRefPtr<IValueVector> list) {
    return CreateInterface(dtList, std::move(list));
}

TRefPtr<TIEValue> TIEValue::CreateFuzzy(TRefPtr<IFuzzySet> set) {
    return CreateInterface(dtFuzzy, std::move(set));
}

TRefPtr<TIEValue> TIEValue::CreateFact(TRefPtr<IFact> fact) {
    return CreateInterface(dtFact, std::move(fact));
}

TRefPtr<TIEValue> TIEValue::CreateFunCall(TRefPtr<IFunCall> call) {
    return CreateInterface(dtFunCall, std::move(call));
}

TRefPtr<TIEValue> TIEValue::CreateSingletons(TRefPtr<ISingletonsVector> singletons) {
    return CreateInterface(dtSingletons, std::move(singletons));
}

TRefPtr<TIEValue> TIEValue::CreateExternalAddress(intptr_t value) {
    TRefPtr<TIEValue> v(new TIEValue());
    v->FType = dtExternalAddress;
    v->FInt = value;
    return v;
}

// Takes over one reference already held by the caller (nullptr gives an empty payload of the
// kind, as an empty interface did).
void TIEValue::SetRef(TIEType kind, void* typed) {
    FType = kind;
    switch (kind) {
    case dtFunCall:
        FCall = static_cast<IFunCall*>(typed);
        break;
    case dtFact:
        FFact = static_cast<IFact*>(typed);
        break;
    case dtList:
        FList = static_cast<IValueVector*>(typed);
        break;
    case dtSingletons:
        FSingletons = static_cast<ISingletonsVector*>(typed);
        break;
    case dtFuzzy:
        FFuzzy = static_cast<IFuzzySet*>(typed);
        break;
    default:
        FInt = 0;
        break;
    }
}

void TIEValue::SetTextPayload(TIEType kind, TRefPtr<TIEText> text) noexcept {
    if (!text) text = TIEText::Empty();
    FType = kind;
    FTextBlock = text.detach();
}

TRefCounted* TIEValue::CountedPayload() const noexcept {
    switch (FType) {
    case dtFunCall:
        return FCall;
    case dtFact:
        return FFact;
    case dtList:
        return FList;
    case dtSingletons:
        return FSingletons;
    case dtFuzzy:
        return FFuzzy;
    default:
        return IsTextType(FType) ? FTextBlock : nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Content and change

void TIEValue::CheckChangeable() const {
    if (FConstant) RaiseConstantChange(*this);
}

void TIEValue::ReleaseContent() noexcept {
    if (TComponent* watcher = Nexus()) {
        auto* nexus = static_cast<TIEValueNexus*>(watcher);
        FindExtras()->Nexus = nullptr;
        nexus->Detach();
        nexus->Free();
    }
    if (FType == dtObject && FOwnsObject) {
        TObject* obj = FObject;
        FObject = nullptr;
        FOwnsObject = false;
        FreeObject(obj);
        FType = dtNone;
        FInt = 0;
        return;
    }
    if (TRefCounted* c = CountedPayload()) {
        if (FSharedList) {
            --static_cast<TValueVector*>(FList)->FShares;
            FSharedList = false;
        }
        FInt = 0;
        FType = dtNone;
        c->Release();
        return;
    }
    if (FType == dtObject && FHasExtras) FindExtras()->Life = nullptr;
    if (FType == dtFunCall || FType == dtFact || FType == dtList || FType == dtSingletons ||
        FType == dtFuzzy || FType == dtObject) {
        FInt = 0;
        FType = dtNone;
    }
}

void TIEValue::ObjectDestroyed() noexcept {
    // The owned component is being destroyed elsewhere: forget it without freeing it. The
    // guardian stays (it is running this notification) until the content is next released.
    static_cast<TIEValueNexus*>(Nexus())->Detach();
    FObject = nullptr;
    FOwnsObject = false;
    FType = dtNone;
    FInt = 0;
}

void TIEValue::DoChange() {
    if (!FHasExtras) return;
    if (TExtras* extras = FindExtras(); extras->OnChange) extras->OnChange(this);
}

const TIEValueChangeEvent& TIEValue::GetOnChange() const noexcept {
    static const TIEValueChangeEvent none;
    const TExtras* extras = FindExtras();
    return extras ? extras->OnChange : none;
}

void TIEValue::SetOnChange(TIEValueChangeEvent handler) {
    CheckChangeable();
    if (handler || FHasExtras) Extras().OnChange = std::move(handler);
}

void TIEValue::SetTag(intptr_t tag) {
    CheckChangeable();
    StoreTag(tag);
}

void TIEValue::Clear() {
    CheckChangeable();
    ReleaseContent();
    FInt = 0;
    FType = dtNone;
}

void TIEValue::SetText(TIEType kind, std::string_view text) {
    CheckChangeable();
    ReleaseContent();
    SetTextPayload(kind, TIEText::Make(text));
    DoChange();
}

void TIEValue::SetTextBlock(TIEType kind, TRefPtr<TIEText> text) {
    if (!IsTextType(kind)) RaiseIE(imValueTypeMismatch);
    CheckChangeable();
    ReleaseContent();
    SetTextPayload(kind, std::move(text));
    DoChange();
}

void TIEValue::SetNumber(TIEType kind, int64_t value) {
    CheckChangeable();
    ReleaseContent();
    FType = kind;
    FInt = value;
    DoChange();
}

void TIEValue::SetAsExternalAddress(intptr_t value) {
    SetNumber(dtExternalAddress, value);
}

void TIEValue::SetAsFloat(double value) {
    CheckChangeable();
    ReleaseContent();
    FType = dtFloat;
    FFloat = value;
    DoChange();
}

void TIEValue::SetAsFunCall(TRefPtr<IFunCall> call) {
    SetInterface(dtFunCall, std::move(call));
}

void TIEValue::SetAsFuzzy(TRefPtr<IFuzzySet> set) {
    SetInterface(dtFuzzy, std::move(set));
}

void TIEValue::SetAsList(TRefPtr<IValueVector> list) {
    SetInterface(dtList, std::move(list));
}

void TIEValue::SetAsSingletons(TRefPtr<ISingletonsVector> singletons) {
    SetInterface(dtSingletons, std::move(singletons));
}

void TIEValue::SetAsFact(TRefPtr<IFact> fact) {
    SetInterface(dtFact, std::move(fact));
}

void TIEValue::SetAsObject(TObject* object) {
    CheckChangeable();
    ReleaseContent();
    FType = dtObject;
    FObject = object;
    if (TRefPtr<TObjectLife> life = FindObjectLife(object)) Extras().Life = std::move(life);
    DoChange();
}

void TIEValue::SetAsOwnedObject(TObject* object) {
    if (FConstant) {
        // The object was handed over; it must not leak when the change is refused.
        FreeObject(object);
        RaiseConstantChange(*this);
    }
    ReleaseContent();
    FType = dtObject;
    FObject = object;
    FOwnsObject = object != nullptr;
    if (auto* comp = dynamic_cast<TComponent*>(object))
        Extras().Nexus = new TIEValueNexus(this, comp);
    DoChange();
}

void TIEValue::SetAsClass(const TClassInfo* cls) {
    CheckChangeable();
    ReleaseContent();
    FType = dtClass;
    FClass = cls;
    DoChange();
}

// ---------------------------------------------------------------------------------------------
// Getters

void TIEValue::RaiseNotA(std::string_view word) const {
    RaiseIE(imNotAType, word, GetText(), IETypeName(FType));
}

std::string TIEValue::AsString() const {
    if (IsTextType(FType)) return FTextBlock->Text();
    switch (FType) {
    case dtInteger:
        return IntText(FInt);
    case dtFloat:
        return Format("%.4f", FFloat);
    case dtFuzzy:
        if (FFuzzy) return FFuzzy->AsString();
        break;
    default:
        break;
    }
    RaiseNotA("string");
}

int32_t TIEValue::AsInteger() const {
    switch (FType) {
    case dtAtom:
    case dtString: {
        const std::string& t = FTextBlock->Text();
        int64_t i;
        if (TryStrToInt64(t, i)) {
            if (i >= std::numeric_limits<int32_t>::min() &&
                i <= std::numeric_limits<int32_t>::max())
                return static_cast<int32_t>(i);
            break;
        }
        double d;
        if (TryStrToFloat(t, d) && FitsInt32(std::trunc(d))) return static_cast<int32_t>(d);
        break;
    }
    case dtInteger:
    case dtFactId:
    case dtDescriptor:
        return static_cast<int32_t>(FInt);
    case dtExternalAddress:
        if (FInt >= std::numeric_limits<int32_t>::min() &&
            FInt <= std::numeric_limits<int32_t>::max())
            return static_cast<int32_t>(FInt);
        break;
    case dtFloat:
        if (FitsInt32(FFloat)) return static_cast<int32_t>(FFloat);
        break;
    case dtFuzzy:
        if (FFuzzy) {
            // Halves go to the even neighbour.
            const double r = std::nearbyint(FFuzzy->Defuzzify());
            if (FitsInt32(r)) return static_cast<int32_t>(r);
        }
        break;
    default:
        break;
    }
    RaiseNotA("integer");
}

double TIEValue::AsFloat() const {
    switch (FType) {
    case dtAtom:
    case dtString: {
        if (this == IEEmptyAtom().get()) return 0.0;
        double d;
        if (TryStrToFloat(FTextBlock->Text(), d)) return d;
        break;
    }
    case dtInteger:
    case dtFactId:
    case dtDescriptor:
        return static_cast<double>(static_cast<int32_t>(FInt));
    case dtFloat:
        return FFloat;
    case dtFuzzy:
        if (FFuzzy) return FFuzzy->Defuzzify();
        break;
    default:
        break;
    }
    RaiseNotA("numeric");
}

int32_t TIEValue::AsFactId() const {
    switch (FType) {
    case dtInteger:
    case dtFactId:
        return static_cast<int32_t>(FInt);
    case dtFloat:
        if (FitsInt32(FFloat)) return static_cast<int32_t>(FFloat);
        break;
    default:
        break;
    }
    RaiseNotA("fact id");
}

int32_t TIEValue::AsDescriptor() const {
    if (FType != dtDescriptor) RaiseNotA("descriptor");
    return static_cast<int32_t>(FInt);
}

intptr_t TIEValue::AsExternalAddress() const {
    if (FType == dtObject) return reinterpret_cast<intptr_t>(FObject);
    if (FType == dtExternalAddress) return static_cast<intptr_t>(FInt);
    RaiseNotA("External Address");
}

TObject* TIEValue::AsObject() const {
    if (FType != dtObject) RaiseNotA("object");
    return ObjectFreed() ? nullptr : FObject;
}

TObject* TIEValue::AsOwnedObject() const {
    if (FType != dtObject) RaiseNotA("object");
    return FObject;
}

const TClassInfo* TIEValue::AsClass() const {
    if (FType != dtClass) RaiseNotA("class");
    return FClass;
}

TRefPtr<IFact> TIEValue::AsFact() const {
    if (FType != dtFact) RaiseNotA("fact");
    return TRefPtr<IFact>(FFact);
}

TRefPtr<IFunCall> TIEValue::AsFunCall() const {
    if (FType != dtFunCall) RaiseNotA("function call");
    return TRefPtr<IFunCall>(FCall);
}

TRefPtr<IValueVector> TIEValue::AsList() const {
    if (FType != dtList) RaiseNotA("list");
    // The list is handed out as the value's own: whoever changes it changes this value only.
    if (FList && typeid(*FList) == typeid(TValueVector)) {
        auto* list = static_cast<TValueVector*>(FList);
        if (list->FShares > 0 && !list->FConstant) return const_cast<TIEValue*>(this)->OwnList();
    }
    return TRefPtr<IValueVector>(FList);
}

TRefPtr<IValueVector> TIEValue::OwnList() {
    TRefPtr<IValueVector> copy = FList->CloneVector();
    copy->AddRef();
    // Not a change of the value: it holds an equal list, now its own.
    ReleaseContent();
    SetRef(dtList, copy.get());
    return copy;
}

TRefPtr<IFuzzySet> TIEValue::AsFuzzy() const {
    if (FType != dtFuzzy) RaiseNotA("fuzzy value");
    return TRefPtr<IFuzzySet>(FFuzzy);
}

TRefPtr<ISingletonsVector> TIEValue::AsSingletons() const {
    if (FType != dtSingletons) RaiseNotA("singletons");
    return TRefPtr<ISingletonsVector>(FSingletons);
}

// ---------------------------------------------------------------------------------------------
// Print form and hash

namespace {

std::string QuotedString(const std::string& text) {
    std::string r;
    r.reserve(text.size() + 2);
    r += '"';
    for (char c : text) {
        if (c == '\\')
            r += "\\\\";
        else if (c == '"')
            r += "\\\"";
        else
            r += c;
    }
    r += '"';
    return r;
}

} // namespace

std::string TIEValue::GetText() const {
    switch (FType) {
    case dtNone:
        return std::string();
    case dtAtom:
    case dtSlot:
    case dtMultiSlot:
        return FTextBlock->Text();
    case dtString:
        return QuotedString(FTextBlock->Text());
    case dtInteger:
        return IntText(FInt);
    case dtFloat:
        return Format("%.4f", FFloat);
    case dtVariable:
        return "?" + FTextBlock->Text();
    case dtMultiVariable:
        return "$?" + FTextBlock->Text();
    case dtFactId:
        return "<Fact-" + IntText(static_cast<int32_t>(FInt)) + ">";
    case dtFunCall:
        return FCall ? FCall->GetText() : std::string();
    case dtFact:
        return FFact ? FFact->GetText() : std::string();
    case dtList:
        return FList ? FList->GetText() : std::string();
    case dtSingletons:
        return FSingletons ? FSingletons->GetText() : std::string();
    case dtFuzzy:
        return FFuzzy ? FFuzzy->AsString() : std::string();
    case dtObject: {
        if (!FObject) return std::string();
        if (ObjectFreed()) return "<Object: freed>";
        if (auto* info = dynamic_cast<const TBindingInfo*>(FObject))
            return "<" + std::string(info->ClassName()) + ": " + info->GetText() + ">";
        return "<Object: " + std::string(FObject->ClassName()) + ">";
    }
    case dtClass:
        return FClass ? FClass->ClassName() : std::string();
    case dtExternalAddress:
        return "<External-Address: " + IntText(FInt) + ">";
    default:
        return "<UNKNOWN>";
    }
}

int32_t TIEValue::GetHashCode() const {
    if (IsTextType(FType)) return FTextBlock->Hash();
    switch (FType) {
    case dtFactId: // the round takes no part
        return static_cast<int32_t>(FInt);
    case dtInteger:
    case dtDescriptor:
    case dtExternalAddress:
        return FoldHash(FInt);
    case dtFloat: {
        // A float hashes as its truncated value; one outside the integer range (or not a
        // number) hashes its bits instead of overflowing.
        if (FitsInt32(FFloat)) return static_cast<int32_t>(FFloat);
        uint64_t bits;
        std::memcpy(&bits, &FFloat, sizeof bits);
        return static_cast<int32_t>(static_cast<uint32_t>(bits ^ (bits >> 32)));
    }
    case dtFunCall:
        return FCall ? FCall->GetHashCode() : 0;
    case dtList:
        return FList ? FList->GetHashCode() : 0;
    case dtSingletons:
        return FSingletons ? FSingletons->GetHashCode() : 0;
    case dtFact:
        return FFact ? FFact->GetHashCode() : 0;
    case dtFuzzy:
        return FFuzzy ? HashString(FFuzzy->AsString()) : 0;
    case dtObject:
        return FoldHash(reinterpret_cast<intptr_t>(FObject));
    case dtClass:
        return FoldHash(reinterpret_cast<intptr_t>(FClass));
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Equality

bool TIEValue::Equals(const IInterface* other) const {
    auto* v = dynamic_cast<const IIEValue*>(other);
    return v && Equals(v);
}

bool TIEValue::Equals(const IIEValue* other) const {
    if (other == this) return true;
    if (!other) return false;
    if (typeid(*other) == typeid(TIEValue)) {
        bool decided;
        const bool equal = SameKindEquals(*static_cast<const TIEValue*>(other), decided);
        if (decided) return equal;
    }
    const TIEType otherType = other->GetDType();
    if (otherType != FType && FType != dtFuzzy)
        return otherType == dtFuzzy ? other->Equals(static_cast<const IIEValue*>(this)) : false;
    return SamePayload(other);
}

bool TIEValue::EqualsCoerced(const IIEValue* other) const {
    if (!other) return false;
    const TIEType otherType = other->GetDType();
    if (FType == dtFunCall && otherType != dtFunCall) return false;
    if (otherType == dtFuzzy && FType != dtFuzzy)
        return other->EqualsCoerced(static_cast<const IIEValue*>(this));
    return SamePayload(other);
}

// Compares this value's payload with the other value read through the getters of this value's
// kind (which coerce where the kinds differ).
bool TIEValue::SamePayload(const IIEValue* other) const {
    if (IsTextType(FType)) {
        if (IsTextType(other->GetDType()) && typeid(*other) == typeid(TIEValue))
            return FTextBlock->SameText(*static_cast<const TIEValue*>(other)->FTextBlock);
        return FTextBlock->Text() == other->AsString();
    }
    switch (FType) {
    case dtNone:
        return true;
    case dtInteger:
    case dtFactId:
    case dtDescriptor:
        return static_cast<int32_t>(FInt) == other->AsInteger();
    case dtFloat:
        return FFloat == other->AsFloat();
    case dtFunCall: {
        auto call = other->AsFunCall();
        return FCall && call && FCall->SameCall(call.get());
    }
    case dtFact: {
        auto fact = other->AsFact();
        return FFact == fact.get() || (FFact && fact && FFact->Equals(fact.get()));
    }
    case dtList: {
        // Compared as it stands: asking for the list would give a shared one a copy.
        if (typeid(*other) == typeid(TIEValue)) {
            const IValueVector* list = static_cast<const TIEValue*>(other)->ListPayload();
            return FList == list || (FList && list && FList->Equals(list));
        }
        auto list = other->AsList();
        return FList == list.get() || (FList && list && FList->Equals(list.get()));
    }
    case dtObject:
        // By identity; a freed object is no longer touched.
        if (const auto* v = dynamic_cast<const TIEValue*>(other)) return FObject == v->FObject;
        return FObject == other->AsObject();
    case dtExternalAddress:
        return FInt == other->AsExternalAddress();
    case dtSingletons:
        return FSingletons && FSingletons->Equals(static_cast<const IInterface*>(other));
    case dtFuzzy: {
        // A fuzzy value equals what it matches: another fuzzy value whose set overlaps it at
        // or above the variable's threshold, or a number whose membership exceeds it.
        if (!FFuzzy) return false;
        if (auto* set = dynamic_cast<const TIEFuzzySet*>(FFuzzy)) return set->Match(*other);
        if (other->GetDType() == dtFuzzy) {
            const TRefPtr<IFuzzySet> otherSet = other->AsFuzzy();
            return otherSet && FFuzzy->Match(*otherSet);
        }
        return FFuzzy->Equals(static_cast<const IInterface*>(other));
    }
    default:
        return false; // classes are equal only as the same value object
    }
}

// ---------------------------------------------------------------------------------------------
// Copying

namespace {

// A fresh object of the same class assigned from `source`; raises for classes that cannot be
// copied.
TObject* DuplicateObject(const TObject* source) {
    auto* persistent = dynamic_cast<const TPersistent*>(source);
    const TClassInfo* cls = persistent ? FindClassByType(typeid(*source)) : nullptr;
    if (cls) {
        TPersistent* copy = nullptr;
        if (auto* comp = dynamic_cast<const TComponent*>(source)) {
            if (cls->IsComponentClass()) copy = cls->CreateComponent(comp->Owner());
        } else if (cls->CanCreate()) {
            copy = dynamic_cast<TPersistent*>(cls->Create());
        }
        if (copy) {
            try {
                copy->Assign(persistent);
            } catch (...) {
                FreeObject(copy);
                throw;
            }
            return copy;
        }
    } else if (auto* info = dynamic_cast<const TBinding*>(source)) {
        auto* copy = new TBinding();
        copy->Assign(info);
        return copy;
    } else if (auto* pos = dynamic_cast<const TBindingInfo*>(source)) {
        auto* copy = new TBindingInfo();
        copy->Assign(pos);
        return copy;
    }
    RaiseIE(imUncloneableValue, source->ClassName());
}

} // namespace

void TIEValue::CopyPayload(const TIEValue& source, bool cloneList) {
    const TExtras* sourceExtras = source.FType == dtObject ? source.FindExtras() : nullptr;
    if (source.FType == dtObject && !source.FOwnsObject && sourceExtras && sourceExtras->Life) {
        TRefPtr<TObjectLife> life = sourceExtras->Life;
        TObject* object = source.FObject;
        ReleaseContent();
        FType = dtObject;
        FObject = object;
        Extras().Life = std::move(life);
        return;
    }
    if (source.FType == dtObject && source.FOwnsObject && source.FObject) {
        TObject* copy = DuplicateObject(source.FObject);
        ReleaseContent();
        FType = dtObject;
        FObject = copy;
        FOwnsObject = true;
        if (auto* comp = dynamic_cast<TComponent*>(copy))
            Extras().Nexus = new TIEValueNexus(this, comp);
        return;
    }
    // Build the new payload before releasing the old one: the source may be held only by the
    // content being replaced.
    TRefCounted* counted = source.CountedPayload();
    int64_t payload = source.FInt; // also a double, a pointer, an unowned object or a class
    TRefPtr<IValueVector> listCopy;
    if (source.FType == dtList && cloneList && source.FList) {
        listCopy = source.FList->CloneVector();
        counted = listCopy.get();
    }
    if (counted) counted->AddRef();
    const TIEType kind = source.FType;
    ReleaseContent();
    if (listCopy) {
        SetRef(kind, listCopy.get());
    } else {
        FType = kind;
        FInt = payload; // copied bit for bit: the reference taken above is the copy's own
    }
}

void TIEValue::Assign(const TIEValue& source) {
    if (&source == this) return;
    CheckChangeable();
    CopyPayload(source, false);
    StoreTag(source.GetTag());
    DoChange();
}

void TIEValue::AssignFrom(const IInterface* source) {
    auto* other = dynamic_cast<const IIEValue*>(source);
    if (other == this) return;
    CheckChangeable();
    if (auto* v = dynamic_cast<const TIEValue*>(other)) {
        CopyPayload(*v, true);
        StoreTag(v->GetTag());
        DoChange();
        return;
    }
    if (!other) {
        Clear();
        return;
    }
    // A value of another implementation: copy through its getters.
    ReleaseContent();
    const TIEType kind = other->GetDType();
    StoreTag(other->GetTag());
    if (IsTextType(kind)) {
        SetTextPayload(kind, TIEText::Make(kind == dtString || kind == dtAtom || kind == dtSlot ||
                                                   kind == dtMultiSlot || kind == dtVariable ||
                                                   kind == dtMultiVariable
                                               ? other->AsString()
                                               : std::string()));
    } else {
        switch (kind) {
        case dtInteger:
        case dtFactId:
        case dtDescriptor:
            FType = kind;
            FInt = other->AsInteger();
            break;
        case dtExternalAddress:
            FType = kind;
            FInt = other->AsExternalAddress();
            break;
        case dtFloat:
            FType = kind;
            FFloat = other->AsFloat();
            break;
        case dtFunCall:
            SetAsFunCall(other->AsFunCall());
            break;
        case dtFact:
            SetAsFact(other->AsFact());
            break;
        case dtList: {
            auto list = other->AsList();
            SetAsList(list ? list->CloneVector() : nullptr);
            break;
        }
        case dtSingletons:
            SetAsSingletons(other->AsSingletons());
            break;
        case dtFuzzy:
            SetAsFuzzy(other->AsFuzzy());
            break;
        case dtObject:
            if (other->OwnsObject() && other->AsObject())
                SetAsOwnedObject(DuplicateObject(other->AsObject()));
            else
                SetAsObject(other->AsObject());
            break;
        case dtClass:
            SetAsClass(other->AsClass());
            break;
        default:
            break;
        }
    }
    DoChange();
}

TRefPtr<IIEValue> TIEValue::CloneValue() const {
    // A clone owns its own copy of a list, so editing the clone never reaches the original (a
    // fact's slot value, a variable's value or a constant).
    TRefPtr<TIEValue> v(new TIEValue());
    v->CopyPayload(*this, true);
    v->StoreTag(GetTag());
    return v;
}

TRefPtr<IIEValue> TIEValue::SharingClone() const {
    TRefPtr<TIEValue> v(new TIEValue());
    if (FType == dtList && FList) {
        // Only this class's lists keep count of their sharers; any other list, and a constant
        // one (that of IEEmptyList, whose copies may be changed), is copied.
        auto* list =
            typeid(*FList) == typeid(TValueVector) ? static_cast<TValueVector*>(FList) : nullptr;
        const bool share = list && !list->FConstant;
        v->CopyPayload(*this, !share);
        if (share) {
            ++list->FShares;
            v->FSharedList = true;
        }
        v->StoreTag(GetTag());
        return v;
    }
    v->CopyPayload(*this, false);
    v->StoreTag(GetTag());
    return v;
}

TRefPtr<ICloneable> TIEValue::Clone() const {
    return CloneValue();
}

// ---------------------------------------------------------------------------------------------
// Evaluation

namespace {
// The position record an object value holds, if it is one. Positions are exactly TBindingInfo
// or TBinding objects, so comparing the dynamic type spares a dynamic_cast on every variable
// read; any other object falls back to the cast.
const TBindingInfo* AsBindingInfo(const TObject* object) {
    if (!object) return nullptr;
    const std::type_info& type = typeid(*object);
    if (type == typeid(TBinding)) return static_cast<const TBinding*>(object);
    if (type == typeid(TBindingInfo)) return static_cast<const TBindingInfo*>(object);
    return dynamic_cast<const TBindingInfo*>(object);
}
} // namespace

const IIEValue* TIEValue::BorrowVariable(TIEContext* context, TRefPtr<IIEValue>& hold) const {
    switch (FType) {
    case dtVariable:
    case dtMultiVariable: {
        if (!context) RaiseIE(imNoContext, IETypeName(FType));
        const TIEContext* owner = context;
        TBinding* binding = context->NearestBindingAt(FBindingHint, FTextBlock->Text(), owner);
        if (!binding) binding = context->FindBinding(FTextBlock->Text(), owner, FBindingHint);
        if (!binding || !binding->Value) RaiseIE(imCorruptedBinding, FTextBlock->Text());
        const IIEValue* bound = binding->Value.get();
        // A pattern variable is bound to its position in the matched facts.
        if (bound->GetDType() == dtObject)
            if (const TBindingInfo* info = AsBindingInfo(bound->AsObject()))
                return BorrowBindingInfo(*info, *owner, FTextBlock->Text(), hold);
        return bound;
    }
    case dtObject:
        // The positions the network compiles into tests: owned records of one class.
        if (FOwnsObject && FObject && !ObjectFreed() && typeid(*FObject) == typeid(TBinding)) {
            if (!context) RaiseIE(imNoContext, IETypeName(FType));
            const auto& info = static_cast<const TBinding&>(*FObject);
            return BorrowBindingInfo(info, *context, info.Name, hold);
        }
        if (const TBindingInfo* info = AsBindingInfo(TIEValue::AsObject())) {
            if (!context) RaiseIE(imNoContext, IETypeName(FType));
            const bool named = typeid(*info) == typeid(TBinding);
            return BorrowBindingInfo(
                *info, *context,
                named ? std::string_view(static_cast<const TBinding*>(info)->Name)
                      : std::string_view(info->SlotName),
                hold);
        }
        return nullptr;
    default:
        return nullptr;
    }
}

const IIEValue* TIEValue::BorrowVariableOrRun(TIEContext* context, TRefPtr<IIEValue>& hold,
                                              int32_t& runLength) const {
    // The position record found as BorrowVariable finds it (a variable's binding, or a record
    // the network compiled into the expression), read as BorrowBindingInfo reads it, but for a
    // run of a cut, which gives its length.
    const TBindingInfo* info = nullptr;
    const TIEContext* owner = context;
    std::string_view name;
    if (FType == dtVariable || FType == dtMultiVariable) {
        if (!context) RaiseIE(imNoContext, IETypeName(FType));
        TBinding* binding = context->NearestBindingAt(FBindingHint, FTextBlock->Text(), owner);
        if (!binding) binding = context->FindBinding(FTextBlock->Text(), owner, FBindingHint);
        if (!binding || !binding->Value) RaiseIE(imCorruptedBinding, FTextBlock->Text());
        const IIEValue* bound = binding->Value.get();
        if (bound->GetDType() != dtObject) return bound;
        info = AsBindingInfo(bound->AsObject());
        if (!info) return bound;
        name = FTextBlock->Text();
    } else if (FType == dtObject && FOwnsObject && FObject && !ObjectFreed() &&
               &typeid(*FObject) == &typeid(TBinding)) {
        // (Told by the address of the type information: BorrowVariable reads any other.)
        if (!context) RaiseIE(imNoContext, IETypeName(FType));
        info = static_cast<const TBinding*>(FObject);
        name = static_cast<const TBinding*>(FObject)->Name;
    } else {
        return BorrowVariable(context, hold);
    }
    int32_t n = -1;
    if (const IIEValue* value = ReadMatchedSlotOrRun(*info, *owner, n)) return value;
    if (n >= 0) {
        runLength = n;
        return nullptr;
    }
    return BorrowBindingInfoApart(*info, *owner, name, hold);
}

TRefPtr<IIEValue> TIEValue::Evaluate(TIEContext* context) {
    switch (FType) {
    case dtVariable:
    case dtMultiVariable:
    case dtObject: {
        TRefPtr<IIEValue> hold;
        const IIEValue* value = BorrowVariable(context, hold);
        if (hold) return hold;
        // An object that is no position stands for itself.
        return TRefPtr<IIEValue>(value ? const_cast<IIEValue*>(value) : this);
    }
    case dtFunCall:
        if (!FCall) RaiseIE(imFunctionUnimplemented, std::string_view());
        return FCall->Evaluate(context);
    case dtSingletons:
        return EvaluateSingletons(context);
    default:
        return TRefPtr<IIEValue>(this);
    }
}

TRefPtr<IIEValue> TIEValue::EvaluateSingletons(TIEContext* context) {
    // A host may install its own factory (SingletonsFuzzifier); otherwise the points make a set
    // of the engine's fuzzy set class.
    if (!FSingletons) return TRefPtr<IIEValue>(this);
    if (SingletonsFuzzifier()) return CreateFuzzy(SingletonsFuzzifier()(*FSingletons, context));
    // A free set of the engine's class: the reader or the fuzzy-expression evaluation attaches
    // it to the variable of the slot or type it is meant for.
    auto set = MakeRef<TIEFuzzySet>(nullptr, "");
    if (auto* parser = dynamic_cast<IFuzzyParser*>(FSingletons->GetParser()))
        set->SetParser(parser);
    set->BeginUpdate();
    try {
        for (int32_t i = FSingletons->Count() - 1; i >= 0; --i) {
            const TRefPtr<IIEValue>& x = FSingletons->GetValue(i);
            const TRefPtr<IIEValue>& y = FSingletons->GetMembership(i);
            set->Add(x ? x->Evaluate(context)->AsFloat() : 0.0,
                     y ? y->Evaluate(context)->AsFloat() : 0.0);
        }
    } catch (...) {
        set->EndUpdate();
        throw;
    }
    set->EndUpdate();
    return CreateFuzzy(TRefPtr<IFuzzySet>(set.get()));
}

TSingletonsFuzzifier& SingletonsFuzzifier() {
    static TSingletonsFuzzifier fuzzifier;
    return fuzzifier;
}

} // namespace ie

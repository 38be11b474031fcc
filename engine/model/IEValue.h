// Engine values: TIEValue, a kind and one payload. The header brings the units a value is made
// with (IEText, IEValueLists, IEValueTable, IEGlobalConstants), so that a user of values needs
// one include.
//
// Values are made on every slot read, comparison and call, so the common kinds stay cheap:
// numbers live in the value itself, texts are shared immutable TIEText blocks that carry their
// hash (copying a text value never copies characters, comparing two texts first compares the
// blocks and their hashes), and the fourteen global constants are shared and refuse every change.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "containers/GHashTable.h"
#include "engine/model/BlockPool.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEGlobalConstants.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEInterfaces.h"
#include "engine/model/IEText.h"
#include "engine/model/IEValueLists.h"
#include "engine/model/IEValueTable.h"

namespace ie {

// The one value class of the engine.
class TIEValue final : public IIEValue {
public:
    TIEValue() noexcept;
    ~TIEValue() override;
    TIEValue(const TIEValue&) = delete;
    TIEValue& operator=(const TIEValue&) = delete;

    // Constructors by kind; a kind that does not fit raises "Value and type mismatch".
    static TRefPtr<TIEValue> Create();
    static TRefPtr<TIEValue> CreateInteger(TIEType kind, int32_t value);
    // A fact address: the fact's identifier and the round of the numbering it was given in
    // (kept above the identifier's 32 bits). Reset and clear number from 0 again in a new round,
    // so an address of a fact they removed names no fact that comes after; round 0 names
    // whatever fact has the identifier. The round takes no part in comparisons or texts.
    static TRefPtr<TIEValue> CreateFactAddress(int32_t id, uint32_t round);
    void SetAsFactAddress(int32_t id, uint32_t round);
    // The round of a fact address, 0 for any other value.
    uint32_t FactRound() const noexcept {
        return FType == dtFactId ? static_cast<uint32_t>(static_cast<uint64_t>(FInt) >> 32) : 0;
    }
    static TRefPtr<TIEValue> CreateText(TIEType kind, std::string_view text);
    // Shares an existing text block (no copy of the characters).
    static TRefPtr<TIEValue> CreateText(TIEType kind, TRefPtr<TIEText> text);
    static TRefPtr<TIEValue> CreateFloat(double value);
    static TRefPtr<TIEValue> CreateList(TRefPtr<IValueVector> list);
    static TRefPtr<TIEValue> CreateFuzzy(TRefPtr<IFuzzySet> set);
    static TRefPtr<TIEValue> CreateFact(TRefPtr<IFact> fact);
    static TRefPtr<TIEValue> CreateFunCall(TRefPtr<IFunCall> call);
    static TRefPtr<TIEValue> CreateSingletons(TRefPtr<ISingletonsVector> singletons);
    static TRefPtr<TIEValue> CreateExternalAddress(intptr_t value);
    // The one shared, constant value of a small integer (null for a number out of that range):
    // what arithmetic gives, so that the numbers a program computes and keeps (counters,
    // positions, offsets in facts' slots) are not a 40-byte block each, nor an allocation each.
    static TRefPtr<IIEValue> SharedInteger(int32_t value);

    // Values are allocated on every call and comparison (AllocateBlock).
    static void* operator new(size_t size);
    static void operator delete(void* p, size_t size) noexcept;

    // Fast, non-virtual access for code that holds a TIEValue.
    TIEType DType() const noexcept { return FType; }
    // The text block of a text kind, nullptr for other kinds.
    const TIEText* TextBlock() const noexcept { return IsTextType(FType) ? FTextBlock : nullptr; }
    // The number of an integer, fact-identifier, descriptor or float value as AsFloat reads it;
    // only for those kinds.
    double NumberPayload() const noexcept {
        return FType == dtFloat ? FFloat : static_cast<double>(static_cast<int32_t>(FInt));
    }
    // The 32-bit number of an integer, fact-identifier or descriptor value, as SameKindEquals
    // compares it; only for those kinds.
    int32_t IntPayload() const noexcept { return static_cast<int32_t>(FInt); }
    // The call of a call value (no new reference), nullptr for other kinds.
    IFunCall* CallPayload() const noexcept { return FType == dtFunCall ? FCall : nullptr; }
    // True for the kinds whose evaluation is the value itself (literals, lists, facts), false for
    // variables, calls, position records and singletons.
    bool EvaluatesToItself() const noexcept {
        switch (FType) {
        case dtVariable:
        case dtMultiVariable:
        case dtFunCall:
        case dtObject:
        case dtSingletons:
            return false;
        default:
            return true;
        }
    }
    // The list of a list value (no new reference), nullptr for other kinds.
    const IValueVector* ListPayload() const noexcept { return FType == dtList ? FList : nullptr; }
    // The object an object value owns (a pattern variable's position record in a test), nullptr
    // for other values.
    const TObject* OwnedObjectPayload() const noexcept {
        return FType == dtObject && FOwnsObject ? FObject : nullptr;
    }
    // Equality of two values of this class and of one kind for the kinds that compare by their
    // payload alone (numbers and texts); false in `decided` for every other case.
    bool SameKindEquals(const TIEValue& other, bool& decided) const noexcept {
        decided = FType == other.FType;
        if (!decided) return false;
        switch (FType) {
        case dtInteger:
        case dtFactId:
        case dtDescriptor:
            return static_cast<int32_t>(FInt) == static_cast<int32_t>(other.FInt);
        case dtFloat:
            return FFloat == other.FFloat;
        default:
            if (IsTextType(FType)) return FTextBlock->SameText(*other.FTextBlock);
            decided = false;
            return false;
        }
    }

    // Copies kind, payload and tag as they stand (interface payloads are shared); an owned
    // object is copied. Fires OnChange.
    void Assign(const TIEValue& source);
    // Marks this value as one of the global constants; from then on it refuses every change.
    void MakeConstant() noexcept { FConstant = true; }

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FHasExtras ? FindExtras()->Tag : 0; }
    void SetTag(intptr_t tag) override;

    // IIEValue
    TIEType GetDType() const noexcept override { return FType; }
    std::string AsAtom() const override { return AsString(); }
    int32_t AsDescriptor() const override;
    intptr_t AsExternalAddress() const override;
    int32_t AsFactId() const override;
    double AsFloat() const override;
    TRefPtr<IFunCall> AsFunCall() const override;
    TRefPtr<IFuzzySet> AsFuzzy() const override;
    TObject* AsOwnedObject() const override;
    int32_t AsInteger() const override;
    TRefPtr<IValueVector> AsList() const override;
    std::string AsMultiSlot() const override { return AsString(); }
    std::string AsMultiVariable() const override { return AsString(); }
    TRefPtr<ISingletonsVector> AsSingletons() const override;
    std::string AsSlot() const override { return AsString(); }
    std::string AsString() const override;
    std::string AsVariable() const override { return AsString(); }
    double GetAsNumeric() const override { return AsFloat(); }
    TRefPtr<IFact> AsFact() const override;
    // Null for an object that has been freed (ObjectFreed).
    TObject* AsObject() const override;
    // True for an object value whose tracked object has been freed: it is no longer reached.
    bool ObjectFreed() const noexcept {
        if (FType != dtObject || !FHasExtras) return false;
        const TExtras* extras = FindExtras();
        return extras->Life && !extras->Life->Object();
    }
    const TClassInfo* AsClass() const override;

    int32_t GetHashCode() const override;
    // GetHashCode in line for the kinds joins hash most (texts and 32-bit integers); the rest
    // out of line.
    int32_t HashCode() const {
        if (IsTextType(FType)) return FTextBlock->Hash();
        if ((FType == dtInteger || FType == dtFactId || FType == dtDescriptor) &&
            FInt == static_cast<int32_t>(FInt))
            return static_cast<int32_t>(FInt);
        return TIEValue::GetHashCode();
    }
    const TIEValueChangeEvent& GetOnChange() const noexcept override;
    void SetOnChange(TIEValueChangeEvent handler) override;

    void SetAsAtom(std::string_view text) override { SetText(dtAtom, text); }
    void SetAsDescriptor(int32_t value) override { SetNumber(dtDescriptor, value); }
    void SetAsExternalAddress(intptr_t value) override;
    void SetAsFactId(int32_t value) override { SetNumber(dtFactId, value); }
    void SetAsFloat(double value) override;
    void SetAsFunCall(TRefPtr<IFunCall> call) override;
    void SetAsFuzzy(TRefPtr<IFuzzySet> set) override;
    void SetAsOwnedObject(TObject* object) override;
    void SetAsInteger(int32_t value) override { SetNumber(dtInteger, value); }
    void SetAsList(TRefPtr<IValueVector> list) override;
    void SetAsMultiSlot(std::string_view text) override { SetText(dtMultiSlot, text); }
    void SetAsMultiVariable(std::string_view text) override { SetText(dtMultiVariable, text); }
    void SetAsSingletons(TRefPtr<ISingletonsVector> singletons) override;
    void SetAsSlot(std::string_view text) override { SetText(dtSlot, text); }
    void SetAsString(std::string_view text) override { SetText(dtString, text); }
    void SetAsVariable(std::string_view text) override { SetText(dtVariable, text); }
    void SetAsFact(TRefPtr<IFact> fact) override;
    void SetAsObject(TObject* object) override;
    void SetAsClass(const TClassInfo* cls) override;
    // Sets a text kind sharing an existing text block.
    void SetTextBlock(TIEType kind, TRefPtr<TIEText> text);

    bool Equals(const IIEValue* other) const override;
    bool EqualsCoerced(const IIEValue* other) const override;
    bool OwnsObject() const noexcept override { return FOwnsObject; }
    TRefPtr<IIEValue> Evaluate(TIEContext* context) override;
    // What a variable or a position record evaluates to, without taking a reference where the
    // binding or the matched fact holds the value: valid until the binding changes or the match
    // ends; `hold` keeps a value made for the read (a fact identifier). Null for other kinds.
    // Raises as Evaluate does.
    const IIEValue* BorrowVariable(TIEContext* context, TRefPtr<IIEValue>& hold) const;
    // BorrowVariable for a reader that wants only a list's length: a pattern variable that names
    // the run of a multifield split's cut gives the run's length in `runLength` and null (no list
    // is made for it); anything else as BorrowVariable, `runLength` left as it was.
    const IIEValue* BorrowVariableOrRun(TIEContext* context, TRefPtr<IIEValue>& hold,
                                        int32_t& runLength) const;
    // A variable's position among the bindings of the context that last read or bound it,
    // checked by name before it is used (a deffunction's compiler sets it to the variable's
    // frame slot).
    uint16_t& BindingHint() const noexcept { return FBindingHint; }
    void Clear() override;
    std::string GetText() const override;
    TRefPtr<IIEValue> CloneValue() const override;
    // A clone that shares a list payload instead of copying it: the element clones of a list
    // copy, so that copying a list costs its own length, however deep its elements nest. The
    // shared list is copied when one of its holders asks for it (AsList), so the holders never
    // see each other's changes.
    TRefPtr<IIEValue> SharingClone() const;
    // The list payload as this value's own: a list shared with other values is copied first,
    // so that a change made through it reaches no other value.
    TRefPtr<IValueVector> OwnList();
    bool IsConstant() const noexcept override { return FConstant; }

private:
    void CheckChangeable() const;
    bool SamePayload(const IIEValue* other) const;
    [[noreturn]] void RaiseNotA(std::string_view word) const;
    void ReleaseContent() noexcept;
    void DoChange();
    void SetText(TIEType kind, std::string_view text);
    void SetNumber(TIEType kind, int64_t value);
    void CopyPayload(const TIEValue& source, bool cloneList);
    void SetRef(TIEType kind, void* typed);
    // The counted object the payload holds one reference to (a text block or an interface),
    // nullptr for the kinds that hold none.
    TRefCounted* CountedPayload() const noexcept;
    // Takes over one reference the caller holds to a text block.
    void SetTextPayload(TIEType kind, TRefPtr<TIEText> text) noexcept;
    template <class T> void SetInterface(TIEType kind, TRefPtr<T> payload);
    template <class T> static TRefPtr<TIEValue> CreateInterface(TIEType kind, TRefPtr<T> payload);
    TRefPtr<IIEValue> EvaluateBinding(TIEContext* context);
    TRefPtr<IIEValue> EvaluateSingletons(TIEContext* context);
    friend class TIEValueNexus;
    void ObjectDestroyed() noexcept;

    // The payload; a text or interface payload holds one reference to its object, released by
    // ReleaseContent. The kind tells which member is live, so the value needs no pointer apart
    // for the counted object (a value is made per slot element: 40 bytes, not 64).
    union {
        int64_t FInt; // dtInteger, dtFactId, dtDescriptor (32-bit), dtExternalAddress
        double FFloat;
        TIEText* FTextBlock; // the text kinds, never null
        IFunCall* FCall;
        IFact* FFact;
        IValueVector* FList;
        ISingletonsVector* FSingletons;
        IFuzzySet* FFuzzy;
        TObject* FObject;
        const TClassInfo* FClass;
    };
    // What few values carry (a change handler, a watched component, a tag), kept apart so
    // that the many values that carry none stay small.
    struct TExtras {
        TIEValueChangeEvent OnChange;
        // Watches an owned component that may be destroyed elsewhere.
        TComponent* Nexus = nullptr;
        // Tells whether an object held without owning it still exists (a tracked object).
        TRefPtr<TObjectLife> Life;
        intptr_t Tag = 0;
    };
    // The value's extras, made on first use; they live in a table beside the values, keyed by
    // the value's address, so that a value is 40 bytes (a 48-byte heap block), not 48 (64).
    TExtras& Extras();
    // The extras when the value has them (FHasExtras), else null.
    TExtras* FindExtras() const noexcept { return FHasExtras ? LookUpExtras() : nullptr; }
    TExtras* LookUpExtras() const noexcept;
    void DropExtras() noexcept;
    struct TExtrasTable;
    static TExtrasTable& ExtrasTable();
    TComponent* Nexus() const noexcept { return FHasExtras ? FindExtras()->Nexus : nullptr; }
    // Sets the tag without the constant check; a zero tag makes no extras.
    void StoreTag(intptr_t tag);
    TIEType FType = dtNone;
    bool FHasExtras = false;
    bool FOwnsObject = false;
    bool FConstant = false;
    // The list payload is shared with the value this one was copied from (SharingClone).
    bool FSharedList = false;
    // A variable's position among the bindings of the context that last read it, checked by
    // name before it is used (fills padding: the value stays 40 bytes).
    mutable uint16_t FBindingHint = 0;
};

// a->Equals(b) for non-null values, without virtual calls when both are TIEValue of one kind
// that compares by payload (the common case of join tests).
inline bool ValuesEqual(const IIEValue* a, const IIEValue* b) {
    if (a == b) return true;
    if (typeid(*a) == typeid(TIEValue)) {
        const auto* va = static_cast<const TIEValue*>(a);
        if (typeid(*b) == typeid(TIEValue)) {
            bool decided;
            const bool equal = va->SameKindEquals(*static_cast<const TIEValue*>(b), decided);
            if (decided) return equal;
        }
        return va->Equals(b);
    }
    return a->Equals(b);
}

// The hash code of a non-null value, without a virtual call for TIEValue.
inline int32_t ValueHashCode(const IIEValue* value) {
    // The type objects by address: comparing them by name may call strcmp on a miss.
    if (&typeid(*value) == &typeid(TIEValue))
        return static_cast<const TIEValue*>(value)->HashCode();
    return value->GetHashCode();
}

// True for a number, atom or string of the engine's own value class: it stands for itself, so
// evaluating it again, or setting it again in a single-field slot, changes nothing.
inline bool IsPlainScalar(const IIEValue* value) {
    if (!value || &typeid(*value) != &typeid(TIEValue)) return false;
    switch (static_cast<const TIEValue*>(value)->DType()) {
    case dtAtom:
    case dtString:
    case dtInteger:
    case dtFloat:
        return true;
    default:
        return false;
    }
}

// The number an integer or float of the engine's own value class holds; false for anything else
// (which a comparison or sum in place leaves to the function's call).
inline bool PlainNumberIn(const IIEValue* value, double& number) noexcept {
    if (!value || &typeid(*value) != &typeid(TIEValue)) return false;
    const auto* v = static_cast<const TIEValue*>(value);
    if (v->DType() != dtInteger && v->DType() != dtFloat) return false;
    number = v->NumberPayload();
    return true;
}

} // namespace ie

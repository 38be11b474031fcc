// The interfaces through which the engine's parts share values, calls, functions, types, facts
// and tokens. Everything shared by interface is reference counted (TRefPtr); the engine itself
// (IReasoner) and parsers are components that outlive what refers to them, so they are plain
// abstract classes held by non-owning pointers.
//
// Later units implement these interfaces and may extend them; existing methods keep their names.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "containers/CommonInterfaces.h"
#include "engine/model/IEConsts.h"
#include "fuzzy/FuzzyInterfaces.h"
#include "platform/ClassRegistry.h"
#include "platform/Component.h"
#include "platform/RefCounted.h"

namespace ie {

class IIEValue;
class IValueVector;
class ISingletonsVector;
class IFunCall;
class IUserFunction;
class IIEDefinedType;
class IFact;
class IFactTemplate;
class IFactSlot;
class IReteToken;
class IReasoner;
class TMatchCut;
class ISingletonsParser;
class TIEContext;
class TIEValue;
class TValueVector;

// ---------------------------------------------------------------------------------------------
// Values

using TIEValueChangeEvent = std::function<void(IIEValue* Sender)>;

// The one value of the engine: a kind (TIEType) and one payload. The getters coerce between
// kinds where the value model allows it and raise "Not a %s type.  Value (%s) is a %s type"
// otherwise. The global constants (IETrueValue() ...) refuse every change.
class IIEValue : public ICloneable {
public:
    using ICloneable::Equals;

    virtual TIEType GetDType() const noexcept = 0;

    // Coercing getters.
    virtual std::string AsAtom() const = 0;
    virtual int32_t AsDescriptor() const = 0;
    virtual intptr_t AsExternalAddress() const = 0;
    virtual int32_t AsFactId() const = 0;
    virtual double AsFloat() const = 0;
    virtual TRefPtr<IFunCall> AsFunCall() const = 0;
    virtual TRefPtr<IFuzzySet> AsFuzzy() const = 0;
    virtual TObject* AsOwnedObject() const = 0;
    virtual int32_t AsInteger() const = 0;
    virtual TRefPtr<IValueVector> AsList() const = 0;
    virtual std::string AsMultiSlot() const = 0;
    virtual std::string AsMultiVariable() const = 0;
    virtual TRefPtr<ISingletonsVector> AsSingletons() const = 0;
    virtual std::string AsSlot() const = 0;
    virtual std::string AsString() const = 0;
    virtual std::string AsVariable() const = 0;
    virtual double GetAsNumeric() const = 0;
    virtual TRefPtr<IFact> AsFact() const = 0;
    virtual TObject* AsObject() const = 0;
    virtual const TClassInfo* AsClass() const = 0;

    virtual int32_t GetHashCode() const = 0;
    virtual const TIEValueChangeEvent& GetOnChange() const noexcept = 0;
    virtual void SetOnChange(TIEValueChangeEvent handler) = 0;

    // Setters: each replaces kind and payload and then fires OnChange.
    virtual void SetAsAtom(std::string_view text) = 0;
    virtual void SetAsDescriptor(int32_t value) = 0;
    virtual void SetAsExternalAddress(intptr_t value) = 0;
    virtual void SetAsFactId(int32_t value) = 0;
    virtual void SetAsFloat(double value) = 0;
    virtual void SetAsFunCall(TRefPtr<IFunCall> call) = 0;
    virtual void SetAsFuzzy(TRefPtr<IFuzzySet> set) = 0;
    // Takes ownership: the value frees the object (a component through Free) when its content
    // is released.
    virtual void SetAsOwnedObject(TObject* object) = 0;
    virtual void SetAsInteger(int32_t value) = 0;
    virtual void SetAsList(TRefPtr<IValueVector> list) = 0;
    virtual void SetAsMultiSlot(std::string_view text) = 0;
    virtual void SetAsMultiVariable(std::string_view text) = 0;
    virtual void SetAsSingletons(TRefPtr<ISingletonsVector> singletons) = 0;
    virtual void SetAsSlot(std::string_view text) = 0;
    virtual void SetAsString(std::string_view text) = 0;
    virtual void SetAsVariable(std::string_view text) = 0;
    virtual void SetAsFact(TRefPtr<IFact> fact) = 0;
    virtual void SetAsObject(TObject* object) = 0;
    virtual void SetAsClass(const TClassInfo* cls) = 0;

    // Strict equality (kinds must agree, fuzzy values decide for themselves).
    virtual bool Equals(const IIEValue* other) const = 0;
    // Lenient equality: the other value is read through this value's coercing getters.
    virtual bool EqualsCoerced(const IIEValue* other) const = 0;
    virtual bool OwnsObject() const noexcept = 0;
    // Variables resolve through the context's bindings, calls are called; other kinds give
    // themselves.
    virtual TRefPtr<IIEValue> Evaluate(TIEContext* context) = 0;
    virtual void Clear() = 0;
    // The print form.
    virtual std::string GetText() const = 0;
    // A new value with the same state; a list payload is copied, not shared.
    virtual TRefPtr<IIEValue> CloneValue() const = 0;
    // True for the fourteen global constant values.
    virtual bool IsConstant() const noexcept = 0;
};

// A multifield: an ordered list of values; an element may be empty.
class IValueVector : public ICloneable {
public:
    using ICloneable::Equals;

    virtual int32_t Count() const noexcept = 0;
    virtual const TRefPtr<IIEValue>& GetItem(int32_t index) const = 0;
    virtual void SetItem(int32_t index, TRefPtr<IIEValue> value) = 0;
    virtual bool Equals(const IValueVector* other) const = 0;
    // Replaces the content by clones of the other list's elements.
    virtual void Assign(const IValueVector* other) = 0;
    virtual int32_t Add(TRefPtr<IIEValue> value) = 0;
    virtual void Clear() = 0;
    virtual const TRefPtr<IIEValue>& First() const = 0;
    // Position of this very value object, -1 when absent.
    virtual int32_t IndexOf(const IIEValue* value) const noexcept = 0;
    virtual void Insert(int32_t index, TRefPtr<IIEValue> value) = 0;
    virtual const TRefPtr<IIEValue>& Last() const = 0;
    virtual void Delete(int32_t index) = 0;
    // Appends the other list's elements themselves (shared).
    virtual void AddAll(const IValueVector* other) = 0;
    virtual int32_t Remove(const IIEValue* value) = 0;
    virtual std::string GetText() const = 0;
    virtual int32_t GetHashCode() const = 0;
    virtual TRefPtr<IValueVector> CloneVector() const = 0;
};

// Renders fuzzy singletons as rule-language text (the engine).
class ISingletonsParser {
public:
    virtual std::string SingletonsText(const ISingletonsVector& singletons) = 0;

protected:
    ~ISingletonsParser() = default;
};

// Fuzzy singletons: (value, membership) pairs, made into a fuzzy set when evaluated.
class ISingletonsVector : public ICloneable {
public:
    using ICloneable::Equals;

    virtual int32_t Count() const noexcept = 0;
    virtual void Add(TRefPtr<IIEValue> value, TRefPtr<IIEValue> membership) = 0;
    virtual const TRefPtr<IIEValue>& GetValue(int32_t index) const = 0;
    virtual const TRefPtr<IIEValue>& GetMembership(int32_t index) const = 0;
    virtual void Clear() = 0;
    virtual bool Equals(const ISingletonsVector* other) const = 0;
    virtual std::string GetText() const = 0;
    virtual int32_t GetHashCode() const = 0;
    virtual ISingletonsParser* GetParser() const noexcept = 0;
    virtual void SetParser(ISingletonsParser* parser) = 0;
    virtual TRefPtr<ISingletonsVector> CloneSingletons() const = 0;
};

// ---------------------------------------------------------------------------------------------
// Calls and functions

// A call expression: a function name with unevaluated arguments, bound to its function by name
// on first evaluation.
class IFunCall : public ICloneable {
public:
    using ICloneable::Equals;

    virtual void AddArgument(TRefPtr<IIEValue> value) = 0;
    virtual void ClearArguments() = 0;
    virtual void DeleteArgument(int32_t index) = 0;
    virtual bool SameCall(const IFunCall* other) const = 0;
    virtual const TRefPtr<IIEValue>& GetArgument(int32_t index) const = 0;
    virtual void SetArgument(int32_t index, TRefPtr<IIEValue> value) = 0;
    virtual int32_t ArgumentCount() const noexcept = 0;
    virtual TRefPtr<IUserFunction> GetFunction() const = 0;
    virtual TRefPtr<IIEValue> Evaluate(TIEContext* context) = 0;
    virtual std::string GetText() const = 0;
    virtual int32_t GetHashCode() const = 0;
    virtual IReasoner* GetReasoner() const noexcept = 0;
    virtual const std::string& GetFunctionName() const noexcept = 0;
    virtual const std::string& GetComment() const noexcept = 0;
    virtual void SetFunction(TRefPtr<IUserFunction> function) = 0;
    virtual void SetComment(std::string_view comment) = 0;
};

// A callable of the rule language. Call checks the argument count and runs the body, which
// evaluates the arguments it needs.
class IUserFunction : public virtual TRefCounted {
public:
    virtual int32_t GetMaxArgumentCount() const noexcept = 0;
    virtual int32_t GetMinArgumentCount() const noexcept = 0;
    virtual const std::string& GetArgumentString() const noexcept = 0;
    virtual const std::string& GetComment() const noexcept = 0;
    virtual const std::string& GetFunctionName() const noexcept = 0;
    virtual void SetArgumentString(std::string_view text) = 0;
    virtual void SetComment(std::string_view text) = 0;
    virtual void SetFunctionName(std::string_view name) = 0;
    virtual void SetMaxArgumentCount(int32_t count) = 0;
    virtual void SetMinArgumentCount(int32_t count) = 0;
    virtual TRefPtr<IIEValue> Call(IFunCall* call, TIEContext* context) = 0;

    // --- The engines a function serves (IEPackages) ---
    // The engines are not owned: adding one registers the function with it (AddUserFunction),
    // removing one unregisters it (RemoveUserFunction). Renaming re-registers with every engine.
    virtual int32_t AddReasoner(IReasoner* reasoner) = 0;
    virtual void RemoveAllReasoners() = 0;
    virtual void DeleteReasoner(int32_t index) = 0;
    virtual int32_t RemoveReasoner(IReasoner* reasoner) = 0;
    virtual int32_t IndexOfReasoner(const IReasoner* reasoner) const noexcept = 0;
    virtual IReasoner* GetReasoner(int32_t index) const = 0;
    virtual int32_t ReasonerCount() const noexcept = 0;
    // The function's help text as the given engine writes it.
    virtual std::string GetText(IReasoner* reasoner) const = 0;
};

// What a function needs of an engine: the texts of constructs, and its table of functions.
class IReasoner {
public:
    virtual std::string FunCallText(const IFunCall& call) = 0;
    virtual std::string FactText(const IFact& fact) = 0;
    virtual std::string UserFunctionText(const IUserFunction& function) = 0;
    virtual std::string DefinedTypeText(const IIEDefinedType& type) = 0;
    virtual void AddUserFunction(const TRefPtr<IUserFunction>& function) = 0;
    virtual void RemoveUserFunction(const TRefPtr<IUserFunction>& function) = 0;
    virtual TRefPtr<IUserFunction> FindUserFunction(std::string_view name) = 0;
    virtual void PutUserFunction(std::string_view name, const TRefPtr<IUserFunction>& f) = 0;

    // --- Further engine services for functions (IEPackages) ---
    // The text of a function defined in the rule language (a deffunction).
    virtual std::string DeffunctionText(const IUserFunction& function) {
        return UserFunctionText(function);
    }
    // The names of the engine's functions; null when the engine has no function table.
    virtual TRefPtr<IStringIterator> UserFunctionNames() { return nullptr; }

protected:
    ~IReasoner() = default;
};

// ---------------------------------------------------------------------------------------------
// Types, facts and tokens

// A defined type: which values a slot accepts.
class IIEDefinedType : public ICloneable {
public:
    virtual const std::string& GetName() const noexcept = 0;
    virtual TIETypes GetBaseTypes() const noexcept = 0;
    virtual bool IsValid(const IIEValue* value) const = 0;
    virtual std::string ValidationError(const IIEValue* value) const = 0;

    // --- Defined-type details (IEDefinedType) ---
    using TChangeEvent = std::function<void(IIEDefinedType* sender)>;

    virtual TRefPtr<IIEDefinedType> GetAncestor() const = 0;
    virtual const std::string& GetComment() const noexcept = 0;
    virtual const std::string& GetUnits() const noexcept = 0;
    virtual bool GetImplicit() const noexcept = 0;
    virtual TValueConstraints GetConstraints() const noexcept = 0;
    // Allowed values by kind; an index outside the list raises the list's index error, a kind
    // not in GetConstraints() "Defined Type %s does not have %s constraints".
    virtual const std::string& GetAllowedAtom(int32_t index) const = 0;
    virtual int32_t AllowedAtomCount() const noexcept = 0;
    virtual const std::string& GetAllowedString(int32_t index) const = 0;
    virtual int32_t AllowedStringCount() const noexcept = 0;
    virtual int32_t GetAllowedInteger(int32_t index) const = 0;
    virtual int32_t AllowedIntegerCount() const noexcept = 0;
    virtual double GetAllowedFloat(int32_t index) const = 0;
    virtual int32_t AllowedFloatCount() const noexcept = 0;
    virtual TRefPtr<IFuzzyVariable> GetFuzzyVariable() const = 0;
    virtual int32_t GetMaxCardinality() const noexcept = 0;
    virtual int32_t GetMinCardinality() const noexcept = 0;
    virtual double GetMaxRange() const noexcept = 0;
    virtual double GetMinRange() const noexcept = 0;
    virtual IReasoner* GetOwner() const noexcept = 0;
    virtual bool GetCardinalityLimited() const noexcept = 0;
    virtual bool GetRangeLimited() const noexcept = 0;
    virtual const TChangeEvent& GetOnChange() const noexcept = 0;
    virtual void SetOnChange(TChangeEvent handler) = 0;

    virtual void SetAncestor(const TRefPtr<IIEDefinedType>& ancestor) = 0;
    virtual void SetImplicit(bool value) = 0;
    virtual void SetUnits(std::string_view units) = 0;
    virtual void SetBaseTypes(TIETypes types) = 0;
    virtual void SetComment(std::string_view comment) = 0;
    virtual void SetConstraints(TValueConstraints constraints) = 0;
    virtual void SetFuzzyVariable(const TRefPtr<IFuzzyVariable>& variable) = 0;
    virtual void SetMaxCardinality(int32_t value) = 0;
    virtual void SetMinCardinality(int32_t value) = 0;
    virtual void SetMaxRange(double value) = 0;
    virtual void SetMinRange(double value) = 0;
    virtual void SetName(std::string_view name) = 0;
    virtual void SetOwner(IReasoner* owner) = 0;
    virtual void SetCardinalityLimited(bool value) = 0;
    virtual void SetRangeLimited(bool value) = 0;

    // The type's rule-language text (rendered by the owning engine).
    virtual std::string GetText() const = 0;
    // The print form of a value.
    virtual std::string ValueText(const IIEValue* value) const = 0;
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;
    virtual void AddAllowedValue(const TRefPtr<IIEValue>& value) = 0;
    virtual void ClearConstraints() = 0;
    virtual void RemoveConstraints(TValueConstraints kinds) = 0;
    virtual void RemoveAllowedValue(const IIEValue* value) = 0;
    virtual void DeleteAllowedValue(int32_t index, TValueConstraint kind) = 0;
    // The default value of a slot of this type.
    virtual TRefPtr<IIEValue> DefaultValue(bool isMultislot) const = 0;
    // Whether the value is one of the allowed values of its constraint kind (`kind`).
    virtual bool InAllowed(const IIEValue* value, TValueConstraint& kind) const = 0;
};

// One slot of a fact template: name, accepted kinds, default, optional defined type.
class IFactSlot : public ICloneable {
public:
    using ICloneable::Equals;

    virtual bool GetDefaultDynamic() const noexcept = 0;
    virtual TRefPtr<IIEDefinedType> GetExtendedTypeInfo() const = 0;
    virtual const std::string& GetName() const noexcept = 0;
    virtual TRefPtr<IIEValue> GetSlotDefault() const = 0;
    virtual TIETypes GetSlotType() const noexcept = 0;
    virtual std::string GetText() const = 0;
    // The name of the owning template, empty for a free slot.
    virtual std::string GetTemplateName() const = 0;
    virtual bool IsFuzzy() const noexcept = 0;
    virtual bool IsMultiSlot() const noexcept = 0;
    virtual void SetDefaultDynamic(bool value) = 0;
    virtual void SetExtendedTypeInfo(const TRefPtr<IIEDefinedType>& type) = 0;
    virtual void SetName(std::string_view name) = 0;
    virtual void SetSlotDefault(const TRefPtr<IIEValue>& value) = 0;
    virtual void SetSlotType(TIETypes types) = 0;
    virtual TRefPtr<IIEValue> NewDefaultValue(bool multi) const = 0;
    // Empty when the slot accepts the value, otherwise why not.
    virtual std::string ValidationMessage(const IIEValue* value) const = 0;
    virtual bool IsValidValue(const IIEValue* value) const = 0;
};

// A fact template: named slots in declaration order.
class IFactTemplate : public ICloneable {
public:
    using ICloneable::Equals;

    virtual const std::string& GetName() const noexcept = 0;

    // --- Template details (IEFacts) ---
    // A copy of this template owned by another component (engine).
    virtual TRefPtr<IFactTemplate> CloneFor(TComponent* owner) const = 0;
    // Replaces the slots by the other template's, read back through this template's engine.
    virtual void AssignSlots(const IFactTemplate& source) = 0;
    virtual bool GetBackwardChaining() const noexcept = 0;
    virtual void SetBackwardChaining(bool value) = 0;
    // True for the implied template of ordered facts (one multislot "__Data").
    virtual bool GetImplied() const noexcept = 0;
    // Fills every slot of a fact of this template with its default.
    virtual void InitializeFact(IFact& fact) const = 0;
    virtual const std::string& GetComment() const noexcept = 0;
    virtual void SetComment(std::string_view comment) = 0;
    virtual int32_t GetHashCode() const = 0;
    virtual std::string GetText() const = 0;
    // The owning component (the engine when there is one).
    virtual TComponent* GetEngine() const noexcept = 0;
    virtual TRefPtr<IFactTemplate> GetParent() const = 0;
    virtual void SetParent(const TRefPtr<IFactTemplate>& parent) = 0;
    virtual int32_t SlotCount() const noexcept = 0;
    // Slots in declaration order.
    virtual TRefPtr<IFactSlot> SlotAt(int32_t index) const = 0;
    // Declaration position of the named slot, -1 when absent (hashed).
    virtual int32_t IndexOfSlot(std::string_view name) const noexcept = 0;
    // Raises "No such slot name: "%s"" when absent.
    virtual TRefPtr<IFactSlot> SlotByName(std::string_view name) const = 0;
    // Walks the slots (IFactSlot*) in declaration order.
    virtual TRefPtr<IIterator> SlotIterator() const = 0;
    virtual TRefPtr<IStringIterator> SlotNames() const = 0;
    virtual bool IsFuzzy() const = 0;
    virtual void SetName(std::string_view name) = 0;
    virtual void PutSlot(std::string_view name, const TRefPtr<IFactSlot>& slot) = 0;
    virtual TRefPtr<IFactSlot> AddMultiSlot(std::string_view name,
                                            const TRefPtr<IIEValue>& defaultValue) = 0;
    virtual TRefPtr<IFactSlot> AddSlot(std::string_view name,
                                       const TRefPtr<IIEValue>& defaultValue) = 0;
    virtual TRefPtr<IFactSlot> AddSlotCopy(const IFactSlot& slot) = 0;
    virtual bool HasSlot(std::string_view name) const noexcept = 0;
    virtual bool FindSlot(std::string_view name, TRefPtr<IFactSlot>& slot) const = 0;
    // The first slot (declaration order) whose defined type is `type`.
    virtual TRefPtr<IFactSlot> FindSlotByType(const IIEDefinedType* type) const = 0;
    virtual void DeleteSlot(std::string_view name) = 0;
    virtual void Clear() = 0;
    // A new fact of this template with every slot set to its default.
    virtual TRefPtr<IFact> NewFact() = 0;
};

// A fact: its template, identifier (-1 until asserted) and slot values.
class IFact : public ICloneable {
public:
    using ICloneable::Equals;

    virtual int32_t GetFactId() const noexcept = 0;
    virtual TRefPtr<IFactTemplate> GetTemplate() const = 0;
    // The value of the named slot; raises "No such slot name: "%s"" when the template lacks it.
    virtual TRefPtr<IIEValue> GetSlotValue(std::string_view slotName) const = 0;
    virtual bool Equals(const IFact* other) const = 0;
    virtual std::string GetText() const = 0;
    virtual int32_t GetHashCode() const = 0;

    // --- Changing facts (IEFacts). The defaults serve read-only fakes. ---
    // Sets the named slot (checked against the slot's kinds under dynamic type checks).
    virtual void SetSlotValue(std::string_view slotName, const TRefPtr<IIEValue>& value) {
        (void)slotName, (void)value;
        RaiseIE(imFunctionUnimplemented, "SetSlotValue");
    }
    virtual void SetFactId(int32_t id) {
        (void)id;
        RaiseIE(imFunctionUnimplemented, "SetFactId");
    }
    virtual void SetTemplate(const TRefPtr<IFactTemplate>& factTemplate) {
        (void)factTemplate;
        RaiseIE(imFunctionUnimplemented, "SetTemplate");
    }
    // Replaces every value by a clone of the other fact's (same template object required).
    virtual void AssignValues(const IFact& other) {
        (void)other;
        RaiseIE(imFunctionUnimplemented, "AssignValues");
    }
    // Like GetSlotValue, but a slot the template lacks gives false instead of an error.
    virtual bool FindSlotValue(std::string_view slotName, TRefPtr<IIEValue>& value) const {
        value = GetSlotValue(slotName);
        return value != nullptr;
    }
    // "f-", the identifier, a blank and the text.
    virtual std::string GetLabel() const {
        return "f-" + std::to_string(GetFactId()) + " " + GetText();
    }
    // The slot names of the template in declaration order (none without a template).
    virtual TRefPtr<IStringIterator> SlotNameIterator() const { return nullptr; }
};

// Where a compiled reader last found its slot: the template object and slot layout it was
// found for, and the slot's index there (-1: that template lacks the slot). Layout numbers are
// unique over all templates, so a stale record never matches another template.
struct TSlotPosition {
    const void* Template = nullptr;
    uint32_t Layout = 0;
    int32_t Index = -1;
};

// A chain of matched facts, one per level of a rule's patterns. No object is a token and another
// counted interface at once: the count is a plain base (a virtual one costs every token of the
// network a second table pointer).
class IReteToken : public TPlainRefCounted {
public:
    virtual int32_t FactCount() const noexcept = 0;
    virtual TRefPtr<IFact> GetFact(int32_t index) const = 0;
    // The fact at `index` (0 <= index < FactCount()) without taking a reference, for tokens
    // that keep their facts alive themselves; null when the token cannot lend it.
    virtual const IFact* BorrowFact(int32_t) const noexcept { return nullptr; }
    // How multifield splits cut the fact at `index` (see TMatchCut); null when they did not.
    virtual const TMatchCut* CutAt(int32_t) const noexcept { return nullptr; }
    // BorrowFact and CutAt in one.
    virtual const IFact* BorrowFactCut(int32_t index, const TMatchCut*& cut) const noexcept {
        cut = CutAt(index);
        return BorrowFact(index);
    }

    // --- Token details (IEToken). The defaults serve plain fact chains. ---
    // The fact at `index` (0 = first); an index past the end gives the last fact.
    virtual TRefPtr<IFact> FactAt(int32_t index) const {
        const int32_t n = FactCount();
        return n == 0 ? nullptr : GetFact(index < n ? index : n - 1);
    }
    virtual TRefPtr<IReteToken> GetParent() const { return nullptr; }
    virtual int32_t GetHashCode() const { return 0; }
    virtual TTokenAction GetTag() const noexcept { return taAdd; }
    virtual float GetStrength() const noexcept { return 1.0f; }
    virtual int32_t GetNegatedCount() const noexcept { return 0; }
    virtual bool Equals(const IReteToken* other) const { return other == this; }
    virtual std::string GetText() const { return {}; }
    // "f-<id>" of each fact from the first to the last, joined by ", ".
    virtual std::string FactIdList() const {
        std::string s;
        for (int32_t i = 0; i < FactCount(); ++i) {
            if (i > 0) s += ", ";
            auto f = GetFact(i);
            s += "f-" + std::to_string(f ? f->GetFactId() : -1);
        }
        return s;
    }
};

} // namespace ie

// The object package's functions (creating, finding, freeing objects; properties by name; actions
// and classes) and the publication of the engine's own settings and events as properties.
//
// Invariant: an object value never owns its object, and a freed object is refused rather than
// reached; freeing the engine or one of its parts is refused. Works on the concrete engine (its
// owner, its published settings), hence EngineAccess.
#include "packages/ObjectPackage.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/model/IEValue.h"
#include "packages/EngineAccess.h"
#include "platform/Actions.h"
#include "platform/ClassRegistry.h"
#include "platform/FloatMath.h"
#include "platform/PropertyInfo.h"

namespace ie {

namespace {

[[noreturn]] void RaiseInvalidCast() {
    throw EInvalidCast(std::string(InvalidCastMessage));
}

// The object as a T; nil stays nil, an object of another class is the invalid cast.
template <class T> T* ObjectAs(TObject* object) {
    if (!object) return nullptr;
    T* typed = dynamic_cast<T*>(object);
    if (!typed) RaiseInvalidCast();
    return typed;
}

// The object of an argument; one that has been freed is refused rather than taken for nil.
TObject* ObjectArg(IFunCall* call, int32_t index, TIEContext* context) {
    const TRefPtr<IIEValue> value = EvalArg(call, index, context);
    if (const auto* v = dynamic_cast<const TIEValue*>(value.get()); v && v->ObjectFreed())
        throw EIEException(std::string(FreedObjectMessage));
    return value->AsObject();
}

// The value refers to the object without owning it; the object is tracked so that the value
// tells when the object has been freed instead of touching freed memory.
TRefPtr<IIEValue> NewObject(TObject* object) {
    (void)TrackObjectLife(object);
    TRefPtr<TIEValue> value = TIEValue::Create();
    value->SetAsObject(object);
    return value;
}

TRefPtr<IIEValue> NewClass(const TClassInfo* cls) {
    TRefPtr<TIEValue> value = TIEValue::Create();
    value->SetAsClass(cls);
    return value;
}

// A class value that holds no class cannot construct anything.
const TClassInfo& ClassOf(const TClassInfo* cls) {
    if (!cls) throw EException(Format("Class %s cannot be created", "nil"));
    return *cls;
}

// The root component of get-component and get-components; none is an error naming the call.
TComponent* RootOrRaise(TComponent* root, IFunCall* call) {
    if (!root) RaiseIE(imExpectedComponentArgument, call->GetFunctionName());
    return root;
}

// True when freeing `object` would destroy `engine` or a part of it: the engine itself, one of
// its owners (they free it) or a component in its own tree (its packages and their kin).
bool EngineDependsOn(const TInferenceEngine& engine, const TObject* object) {
    for (const TComponent* c = &engine; c; c = c->Owner())
        if (c == object) return true;
    const auto* component = dynamic_cast<const TComponent*>(object);
    for (const TComponent* c = component; c; c = c->Owner())
        if (c == &engine) return true;
    return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Creating and freeing

TCreateComponentFunction::TCreateComponentFunction()
    : TBuiltInFunction("create-component",
                       "Creates a component of the class, owned by the component, and returns "
                       "it; the optional windowed control becomes its parent",
                       " <TComponentClass-expression> <TComponent-expression> "
                       "[<TWinControl-expression>]",
                       2, 3) {}

TRefPtr<IIEValue> TCreateComponentFunction::Execute(IFunCall* call, TIEContext* context) {
    TComponent* owner = ObjectAs<TComponent>(ObjectArg(call, 1, context));
    const TClassInfo& cls = ClassOf(EvalArg(call, 0, context)->AsClass());
    TComponent* component = cls.CreateComponent(owner);
    if (call->ArgumentCount() > 2) {
        try {
            TComponent* parent = ObjectAs<TComponent>(ObjectArg(call, 2, context));
            // A control publishes its Parent; any other component cannot take one.
            const TPropertyTable* table = GetPropertyTable(component);
            const TPropertyInfo* info = table ? table->Find("Parent") : nullptr;
            if (!info || info->Kind != tkClass) RaiseInvalidCast();
            SetPropValue(*component, *info, static_cast<TObject*>(parent));
        } catch (...) {
            // No half-made component is left behind in the owner.
            component->Free();
            throw;
        }
    }
    return NewObject(component);
}

TCreateObjectFunction::TCreateObjectFunction()
    : TBuiltInFunction("create-object",
                       "Creates an object of the class with the plain constructor and returns it",
                       " <TClass-expression>", 1, 1) {}

TRefPtr<IIEValue> TCreateObjectFunction::Execute(IFunCall* call, TIEContext* context) {
    TObject* object = ClassOf(EvalArg(call, 0, context)->AsClass()).Create();
    // Nobody owns the new object: the engine frees it when it goes, unless freed before.
    if (TInferenceEngine* engine = ContextEngine(context)) {
        try {
            engine->KeepMadeObject(object);
        } catch (...) {
            FreeObject(object);
            throw;
        }
    }
    return NewObject(object);
}

TExecuteActionFunction::TExecuteActionFunction()
    : TBuiltInFunction("execute-action",
                       "Runs the action; TRUE when the action was handled, FALSE otherwise",
                       " <TBasicAction-expression>", 1, 1) {}

TRefPtr<IIEValue> TExecuteActionFunction::Execute(IFunCall* call, TIEContext* context) {
    TBasicAction* action = ObjectAs<TBasicAction>(ObjectArg(call, 0, context));
    return IEBoolValue(action && action->Execute());
}

TFreeObjectFunction::TFreeObjectFunction()
    : TBuiltInFunction("free-object", "Frees each object; returns TRUE", " <TObject-expression>*",
                       1) {}

TRefPtr<IIEValue> TFreeObjectFunction::Execute(IFunCall* call, TIEContext* context) {
    for (int32_t i = 0, n = call->ArgumentCount(); i < n; ++i) {
        TObject* object = ObjectArg(call, i, context);
        if (!object) continue;
        if (TInferenceEngine* engine = ContextEngine(context);
            engine && EngineDependsOn(*engine, object)) {
            const auto* component = dynamic_cast<const TComponent*>(object);
            const std::string name = component && !component->Name().empty()
                                         ? component->Name()
                                         : std::string(object->ClassName());
            throw EException(Format(CannotFreeEngineObjectMessage, name));
        }
        FreeObject(object);
    }
    return IETrueValue();
}

// ---------------------------------------------------------------------------------------------
// Finding components

TGetComponentFunction::TGetComponentFunction()
    : TBuiltInFunction("get-component",
                       "Returns the engine's owner, or the component of that name owned by the "
                       "engine's owner or by the given component; FALSE when there is none",
                       " [<component-name>] | \r\n [<TComponent-expression> <component-name>]", 0,
                       2) {}

TRefPtr<IIEValue> TGetComponentFunction::Execute(IFunCall* call, TIEContext* context) {
    const int32_t n = call->ArgumentCount();
    TComponent* found = nullptr;
    if (n == 0) {
        found = EngineOf(context).Owner();
    } else {
        TComponent* root =
            n == 1 ? EngineOf(context).Owner() : ObjectAs<TComponent>(ObjectArg(call, 0, context));
        RootOrRaise(root, call);
        found = root->FindComponent(EvalArg(call, n - 1, context)->AsString());
    }
    return found ? NewObject(found) : IEFalseValue();
}

TGetComponentsFunction::TGetComponentsFunction()
    : TBuiltInFunction("get-components",
                       "Returns a multifield of the components owned by the component, or by "
                       "the engine's owner",
                       " [<TComponent-expression>]", 0, 1) {}

TRefPtr<IIEValue> TGetComponentsFunction::Execute(IFunCall* call, TIEContext* context) {
    TComponent* root = call->ArgumentCount() == 0
                           ? EngineOf(context).Owner()
                           : ObjectAs<TComponent>(ObjectArg(call, 0, context));
    RootOrRaise(root, call);
    auto list = TValueVector::Create();
    list->Reserve(root->ComponentCount());
    for (int32_t i = 0; i < root->ComponentCount(); ++i)
        list->Add(NewObject(root->Components(i)));
    return TIEValue::CreateList(std::move(list));
}

// ---------------------------------------------------------------------------------------------
// Properties

TGetPropertyFunction::TGetPropertyFunction()
    : TBuiltInFunction("get-property",
                       "Returns the value of the object's published property; the empty atom "
                       "when the class has no such property, FALSE without type information",
                       " <TObject-expression> <property-name>", 2, 2) {}

TRefPtr<IIEValue> TGetPropertyFunction::Execute(IFunCall* call, TIEContext* context) {
    TObject* object = ObjectArg(call, 0, context);
    const std::string name = EvalArg(call, 1, context)->AsString();
    const TPropertyTable* table = GetPropertyTable(object);
    if (!table) return IEFalseValue();
    const TPropertyInfo* info = table->Find(name);
    if (!info) return IEEmptyAtom();
    switch (info->Kind) {
    case tkInteger:
    case tkInt64: {
        const int64_t ordinal = GetOrdProp(*object, *info);
        // A 64-bit value beyond the engine's integers is an overflow, never a wrapped number.
        if (ordinal < std::numeric_limits<int32_t>::min() ||
            ordinal > std::numeric_limits<int32_t>::max())
            throw EIntOverflow();
        return TIEValue::CreateInteger(dtInteger, static_cast<int32_t>(ordinal));
    }
    case tkChar:
    case tkString:
    case tkWChar:
    case tkLString:
    case tkWString:
        return TIEValue::CreateText(dtString, GetStrProp(*object, *info));
    case tkEnumeration:
        return TIEValue::CreateText(dtAtom, GetEnumProp(*object, *info));
    case tkFloat:
        return TIEValue::CreateFloat(CheckFloat(GetFloatProp(*object, *info)));
    case tkSet:
        return TIEValue::CreateText(dtString, GetSetProp(*object, *info));
    case tkClass:
        return NewObject(GetObjectProp(*object, *info));
    default:
        throw EException(Format(InvalidPropertyTypeMessage, info->TypeName));
    }
}

TGetPropertiesFunction::TGetPropertiesFunction()
    : TBuiltInFunction("get-properties",
                       "Returns a multifield of the names of the object's published properties "
                       "(events excepted), sorted by name; FALSE without type information",
                       " <TObject-expression>", 1, 1) {}

TRefPtr<IIEValue> TGetPropertiesFunction::Execute(IFunCall* call, TIEContext* context) {
    const TPropertyTable* table = GetPropertyTable(ObjectArg(call, 0, context));
    if (!table) return IEFalseValue();
    auto list = TValueVector::Create();
    for (const TPropertyInfo* info : table->SortedProperties())
        if (info->Kind != tkMethod) list->Add(TIEValue::CreateText(dtAtom, info->Name));
    return TIEValue::CreateList(std::move(list));
}

TSetPropertyFunction::TSetPropertyFunction()
    : TBuiltInFunction("set-property",
                       "Sets the object's published property to the value; TRUE when written, "
                       "FALSE when the object has no such property",
                       " <TObject-expression> <property-name> <expression>", 3, 3) {}

TRefPtr<IIEValue> TSetPropertyFunction::Execute(IFunCall* call, TIEContext* context) {
    TObject* object = ObjectArg(call, 0, context);
    const TPropertyTable* table = GetPropertyTable(object);
    if (!table) return IEFalseValue();
    const TPropertyInfo* info = table->Find(EvalArg(call, 1, context)->AsString());
    if (!info) return IEFalseValue();
    switch (info->Kind) {
    case tkInteger:
    case tkInt64:
        SetPropValue(*object, *info, int64_t(EvalArg(call, 2, context)->AsInteger()));
        break;
    case tkChar:
    case tkEnumeration:
    case tkString:
    case tkSet:
    case tkWChar:
    case tkLString:
    case tkWString:
        SetPropText(*object, *info, EvalArg(call, 2, context)->AsString());
        break;
    case tkFloat:
        SetPropValue(*object, *info, EvalArg(call, 2, context)->AsFloat());
        break;
    case tkClass:
        SetPropValue(*object, *info, ObjectArg(call, 2, context));
        break;
    case tkMethod:
        break;
    default:
        throw EException(Format(InvalidPropertyTypeMessage, info->TypeName));
    }
    return IETrueValue();
}

// ---------------------------------------------------------------------------------------------
// Classes

TGetClassFunction::TGetClassFunction()
    : TBuiltInFunction("get-class",
                       "Returns the registered class of that name (a class value holding no "
                       "class when none is registered)",
                       " <class-name>", 1, 1) {}

TRefPtr<IIEValue> TGetClassFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewClass(GetClass(EvalArg(call, 0, context)->AsString()));
}

TIsClassFunction::TIsClassFunction()
    : TBuiltInFunction("is-class",
                       "Returns TRUE when the object is an instance of the class or of one of "
                       "its descendants, FALSE otherwise",
                       " <TObject-expression> <TClass-expression>", 2, 2) {}

TRefPtr<IIEValue> TIsClassFunction::Execute(IFunCall* call, TIEContext* context) {
    TObject* object = ObjectArg(call, 0, context);
    const TClassInfo* cls = EvalArg(call, 1, context)->AsClass();
    return IEBoolValue(object && cls && cls->IsInstance(object));
}

// ---------------------------------------------------------------------------------------------
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TObjectFunctionClasses =
    TFunctionClasses<TCreateComponentFunction, TCreateObjectFunction, TExecuteActionFunction,
                     TFreeObjectFunction, TGetComponentFunction, TGetComponentsFunction,
                     TGetPropertyFunction, TGetPropertiesFunction, TSetPropertyFunction,
                     TGetClassFunction, TIsClassFunction>;

} // namespace

void TObjectPackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TObjectFunctionClasses::AddTo(Functions());
}

void RegisterObjectFunctionClasses() {
    TObjectFunctionClasses::Register();
}

// ---------------------------------------------------------------------------------------------
// The engine's published properties

namespace {

const TInferenceEngine& Eng(const TObject& o) {
    return static_cast<const TInferenceEngine&>(o);
}
TInferenceEngine& Eng(TObject& o) {
    return static_cast<TInferenceEngine&>(o);
}

int64_t OrdinalValue(const TPropertyValue& v) {
    const auto* i = std::get_if<int64_t>(&v);
    if (!i) throw EPropertyError("Invalid property value");
    return *i;
}

const std::vector<std::string> BooleanNames = {"False", "True"};

// An enumeration or Boolean property; an ordinal outside the enumeration is refused.
template <class E>
TPropertyInfo EnumProperty(std::string name, std::string typeName, std::vector<std::string> names,
                           E (TInferenceEngine::*get)() const, void (TInferenceEngine::*set)(E)) {
    const int64_t count = static_cast<int64_t>(names.size());
    return {std::move(name),
            tkEnumeration,
            std::move(typeName),
            std::move(names),
            [get](const TObject& o) -> TPropertyValue { return int64_t((Eng(o).*get)()); },
            [set, count](TObject& o, const TPropertyValue& v) {
                const int64_t ordinal = OrdinalValue(v);
                if (ordinal < 0 || ordinal >= count) throw EPropertyError("Invalid property value");
                (Eng(o).*set)(static_cast<E>(ordinal));
            }};
}

// A set property over TEnumSet<E>; bits beyond the members are refused.
template <class S>
TPropertyInfo SetProperty(std::string name, std::string typeName, std::vector<std::string> names,
                          S (TInferenceEngine::*get)() const, void (TInferenceEngine::*set)(S)) {
    const uint64_t all = (uint64_t(1) << names.size()) - 1;
    return {std::move(name),
            tkSet,
            std::move(typeName),
            std::move(names),
            [get](const TObject& o) -> TPropertyValue {
                return static_cast<int64_t>((Eng(o).*get)().Bits());
            },
            [set, all](TObject& o, const TPropertyValue& v) {
                const auto bits = static_cast<uint64_t>(OrdinalValue(v));
                if (bits & ~all) throw EPropertyError("Invalid property value");
                (Eng(o).*set)(S::FromBits(bits));
            }};
}

TPropertyInfo IntegerProperty(std::string name, int32_t (TInferenceEngine::*get)() const,
                              void (TInferenceEngine::*set)(int32_t)) {
    return {std::move(name),
            tkInteger,
            "Integer",
            {},
            [get](const TObject& o) -> TPropertyValue { return int64_t((Eng(o).*get)()); },
            [set](TObject& o, const TPropertyValue& v) {
                const int64_t value = OrdinalValue(v);
                if (value < std::numeric_limits<int32_t>::min() ||
                    value > std::numeric_limits<int32_t>::max())
                    throw EIntOverflow();
                (Eng(o).*set)(static_cast<int32_t>(value));
            }};
}

// A single-precision property: a double beyond the single range is an overflow, not infinity.
TPropertyInfo SingleProperty(std::string name, float (TInferenceEngine::*get)() const,
                             void (TInferenceEngine::*set)(float)) {
    return {std::move(name),
            tkFloat,
            "Single",
            {},
            [get](const TObject& o) -> TPropertyValue { return double((Eng(o).*get)()); },
            [set](TObject& o, const TPropertyValue& v) {
                const auto* d = std::get_if<double>(&v);
                if (!d) throw EPropertyError("Invalid property value");
                const double value = CheckFloat(*d);
                if (std::fabs(value) > std::numeric_limits<float>::max()) throw EOverflow();
                (Eng(o).*set)(static_cast<float>(value));
            }};
}

// An event: the handler travels as std::any holding the engine's handler type.
template <class H>
TPropertyInfo EventProperty(std::string name, std::string typeName, H TEngineEvents::*field) {
    return {std::move(name),
            tkMethod,
            std::move(typeName),
            {},
            [field](const TObject& o) -> TPropertyValue { return std::any(Eng(o).*field); },
            [field](TObject& o, const TPropertyValue& v) {
                const auto* a = std::get_if<std::any>(&v);
                const H* handler = a ? std::any_cast<H>(a) : nullptr;
                if (!handler) throw EPropertyError("Invalid property value");
                Eng(o).*field = *handler;
            }};
}

} // namespace

void RegisterEngineProperties() {
    static const bool registered = [] {
        RegisterPlatformProperties();
        TPropertyTable& t = PropertyTableOf<TInferenceEngine, TComponent>("TInferenceEngine");
        using E = TInferenceEngine;
        t.Add(EnumProperty<TDuplicateConstructs>(
            "DuplicateConstructs", "TDuplicateConstructs", {"dcOverwrite", "dcIgnore", "dcError"},
            &E::DuplicateConstructs, &E::SetDuplicateConstructs));
        t.Add(SetProperty<TFunctionPackages>("Packages", "TFunctionPackages",
                                             {"pStandard", "pPredicate", "pMath", "pMiscellaneous",
                                              "pString", "pObject", "pTrigonometry", "pBusiness",
                                              "pFuzzyLogic"},
                                             &E::Packages, &E::SetPackages));
        t.Add(EnumProperty<bool>("FactDuplication", "Boolean", BooleanNames, &E::FactDuplication,
                                 &E::SetFactDuplication));
        t.Add(EnumProperty<bool>("FuzzyAutoTerms", "Boolean", BooleanNames, &E::FuzzyAutoTerms,
                                 &E::SetFuzzyAutoTerms));
        t.Add(EnumProperty<TFuzzyCorrelationMethod>(
            "FuzzyCorrelationMethod", "TFuzzyCorrelationMethod", {"fcmMinimum", "fcmProduct"},
            &E::FuzzyCorrelationMethod, &E::SetFuzzyCorrelationMethod));
        t.Add(EnumProperty<TFuzzyInferenceMethod>(
            "FuzzyInferenceMethod", "TFuzzyInferenceMethod",
            {"fimMinMax", "fimAdditive", "fimMean", "fimProduct", "fimBoundedSum"},
            &E::FuzzyInferenceMethod, &E::SetFuzzyInferenceMethod));
        t.Add(SingleProperty("FuzzyEqualsThreshold", &E::FuzzyEqualsThreshold,
                             &E::SetFuzzyEqualsThreshold));
        t.Add(SingleProperty("MinActivationStrength", &E::MinActivationStrength,
                             &E::SetMinActivationStrength));
        t.Add(EnumProperty<TErrorHandling>("ParserErrorHandling", "TErrorHandling",
                                           {"ehRaiseImmediate", "ehRaiseAllAtEnd"},
                                           &E::ParserErrorHandling, &E::SetParserErrorHandling));
        t.Add(IntegerProperty("ParserMaxErrors", &E::ParserMaxErrors, &E::SetParserMaxErrors));
        t.Add(EnumProperty<bool>("ResetGlobals", "Boolean", BooleanNames, &E::ResetGlobals,
                                 &E::SetResetGlobals));
        t.Add(EnumProperty<TSearchStrategy>("Strategy", "TSearchStrategy",
                                            {"ssDepthFirst", "ssBreadthFirst"}, &E::Strategy,
                                            &E::SetStrategy));
        t.Add(IntegerProperty("SymbolIndex", &E::SymbolIndex, &E::SetSymbolIndex));
        t.Add(SetProperty<TTypeChecks>("TypeChecks", "TTypeChecks", {"tcStatic", "tcDynamic"},
                                       &E::TypeChecks, &E::SetTypeChecks));
        t.Add(SetProperty<TConstructWatches>(
            "Watch", "TConstructWatches",
            {"cwActivation", "cwFact", "cwRule", "cwCompilation", "cwStatistics"}, &E::Watch,
            &E::SetWatch));
        t.Add(EventProperty("OnAddDefaultPackages", "TNotifyEvent", &E::OnAddDefaultPackages));
        t.Add(EventProperty("OnAddActivation", "TAgendaEvent", &E::OnAddActivation));
        t.Add(EventProperty("OnRemoveActivation", "TAgendaEvent", &E::OnRemoveActivation));
        t.Add(EventProperty("OnAddDefinedType", "TIEDefinedTypeEvent", &E::OnAddDefinedType));
        t.Add(EventProperty("OnRemoveDefinedType", "TIEDefinedTypeEvent", &E::OnRemoveDefinedType));
        t.Add(EventProperty("OnAddRule", "TRuleEvent", &E::OnAddRule));
        t.Add(EventProperty("OnRemoveRule", "TRuleEvent", &E::OnRemoveRule));
        t.Add(EventProperty("OnRuleFired", "TRuleEvent", &E::OnRuleFired));
        t.Add(EventProperty("OnAddUserFunction", "TUserFunctionEvent", &E::OnAddUserFunction));
        t.Add(
            EventProperty("OnRemoveUserFunction", "TUserFunctionEvent", &E::OnRemoveUserFunction));
        t.Add(EventProperty("OnAssertion", "TFactEvent", &E::OnAssertion));
        t.Add(EventProperty("OnRetraction", "TFactEvent", &E::OnRetraction));
        t.Add(EventProperty("OnNewFactTemplate", "TFactTemplateEvent", &E::OnNewFactTemplate));
        t.Add(
            EventProperty("OnRemoveFactTemplate", "TFactTemplateEvent", &E::OnRemoveFactTemplate));
        t.Add(EventProperty("OnClear", "TNotifyEvent", &E::OnClear));
        t.Add(EventProperty("OnClearDefinedTypes", "TNotifyEvent", &E::OnClearDefinedTypes));
        t.Add(EventProperty("OnClearFacts", "TNotifyEvent", &E::OnClearFacts));
        t.Add(EventProperty("OnClearFactTemplates", "TNotifyEvent", &E::OnClearFactTemplates));
        t.Add(EventProperty("OnClearRules", "TNotifyEvent", &E::OnClearRules));
        t.Add(EventProperty("OnReset", "TNotifyEvent", &E::OnReset));
        t.Add(EventProperty("OnStartInference", "TNotifyEvent", &E::OnStartInference));
        t.Add(EventProperty("OnEndInference", "TInferenceEvent", &E::OnEndInference));
        t.Add(
            EventProperty("OnFuzzyCorrelation", "TFuzzyCorrelationEvent", &E::OnFuzzyCorrelation));
        t.Add(EventProperty("OnFuzzyInference", "TFactCombineEvent", &E::OnFuzzyInference));
        t.Add(EventProperty("OnPrintOut", "TPrintOutEvent", &E::OnPrintOut));
        t.Add(EventProperty("OnReadLine", "TReadLineEvent", &E::OnReadLine));
        t.Add(EventProperty("OnReadToken", "TReadTokenEvent", &E::OnReadToken));
        return true;
    }();
    (void)registered;
}

void RegisterObjectPackage() {
    RegisterEngineProperties();
    RegisterActionProperties();
    RegisterPackage<TObjectPackage, TObjectFunctionClasses>(pObject);
}

namespace {
// Engines create the package and stored functions find their classes from start-up on.
const bool ObjectPackageRegistered = (RegisterObjectPackage(), true);
} // namespace

} // namespace ie

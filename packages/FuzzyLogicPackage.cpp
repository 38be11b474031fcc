// The fuzzy logic package's functions: fuzzy values from terms and shapes, fuzzy facts, union
// and intersection, the points, universe and defuzzified values of a set, the plot, and the
// engine's fuzzy settings.
//
// Invariant: a set given as an argument is never changed in place (every result is a new set),
// and a variant object's selector agrees with its name. Works on the concrete engine (facts by
// identifier, defined types' fuzzy variables, the fuzzy settings), hence EngineAccess.
#include "packages/FuzzyLogicPackage.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEHelperFunctions.h"
#include "fuzzy/FuzzyConsts.h"
#include "packages/EngineAccess.h"
#include "platform/FloatMath.h"

namespace ie {

TFuzzyExpressionBuilder& FuzzyExpressionBuilder() {
    // The engine's own builder, reached through the context's engine; a host may install
    // another.
    static TFuzzyExpressionBuilder builder = [](IFuzzyVariable* variable, const IValueVector& items,
                                                TIEContext* context) -> TRefPtr<IIEValue> {
        TInferenceEngine* engine = ContextEngine(context);
        if (!engine) RaiseIE(imUnknownEngine);
        return engine->BuildFuzzyExpression(variable, items, context);
    };
    return builder;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Values and arguments

TRefPtr<IIEValue> NewFloat(double value) {
    return TIEValue::CreateFloat(CheckFloat(value));
}

TRefPtr<IIEValue> NewAtom(std::string_view text) {
    return TIEValue::CreateText(dtAtom, text);
}

// A number narrowed to single precision: beyond the single range it is an overflow, never an
// infinity.
float SingleOf(double value) {
    CheckFloat(value);
    if (std::fabs(value) > std::numeric_limits<float>::max()) throw EOverflow();
    return static_cast<float>(value);
}

template <size_t N> std::string Joined(const std::array<std::string_view, N>& words) {
    std::string text;
    for (size_t i = 0; i < N; ++i) {
        if (i > 0) text += ", ";
        text += words[i];
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// Fuzzy sets of facts and values

// The crisp set that a number makes over a variable: a spike at the number, held within the
// variable's universe, named with the number's print form.
TRefPtr<IFuzzySet> CrispSet(IFuzzyVariable* variable, const IIEValue& number,
                            TInferenceEngine& engine) {
    const std::string name = number.GetDType() == dtInteger
                                 ? IntToStr(number.AsInteger())
                                 : Format(FuzzyFloatFormat, number.AsFloat());
    auto set = MakeRef<TIEFuzzySet>(variable, name);
    set->SetParser(dynamic_cast<IFuzzyParser*>(&engine));
    const double n = number.GetAsNumeric();
    set->Triangle(n, n, n);
    return TRefPtr<IFuzzySet>(set.get());
}

// The set of the fact's first fuzzy slot, null when it has none.
TRefPtr<IFuzzySet> FactFuzzyValue(const IFact& fact, TInferenceEngine& engine) {
    const TRefPtr<IFactTemplate> factTemplate = fact.GetTemplate();
    if (!factTemplate) return nullptr;
    for (int32_t i = 0, n = factTemplate->SlotCount(); i < n; ++i) {
        const TRefPtr<IFactSlot> slot = factTemplate->SlotAt(i);
        if (!slot->GetSlotType().Contains(dtFuzzy)) continue;
        TRefPtr<IIEValue> value = fact.GetSlotValue(slot->GetName());
        if (!value) return nullptr;
        if (value->GetDType() == dtList) {
            const TRefPtr<IValueVector> list = value->AsList();
            // An empty multislot holds no set: the fact is as good as not fuzzy.
            if (list->Count() == 0 || !list->GetItem(0)) return nullptr;
            value = list->GetItem(0);
        }
        const TIEType kind = value->GetDType();
        if (kind == dtInteger || kind == dtFloat) {
            const TRefPtr<IIEDefinedType> type = slot->GetExtendedTypeInfo();
            return CrispSet(type ? type->GetFuzzyVariable().get() : nullptr, *value, engine);
        }
        return value->AsFuzzy();
    }
    return nullptr;
}

TRefPtr<IFact> FactOfId(TInferenceEngine& engine, const IIEValue& id) {
    const int32_t index = engine.Facts().IndexOfID(id.AsInteger());
    if (index < 0) RaiseIE(imNoSuchFact, IntToStr(id.AsInteger()));
    return engine.Facts().Item(index);
}

// The fuzzy set of an evaluated value: an integer or fact identifier names a fact, a fact gives
// its first fuzzy slot's set, any other value is read as a fuzzy value.
TRefPtr<IFuzzySet> FuzzySetOfValue(const TRefPtr<IIEValue>& value, TIEContext* context) {
    const TIEType kind = value->GetDType();
    if (kind != dtInteger && kind != dtFactId && kind != dtFact) return value->AsFuzzy();
    TInferenceEngine& engine = EngineOf(context);
    const TRefPtr<IFact> fact = kind == dtFact ? value->AsFact() : FactOfId(engine, *value);
    TRefPtr<IFuzzySet> set = fact ? FactFuzzyValue(*fact, engine) : nullptr;
    if (!set) RaiseIE(imNotFuzzyFact);
    return set;
}

TRefPtr<IFuzzySet> FuzzySetArg(IFunCall* call, int32_t i, TIEContext* context) {
    return FuzzySetOfValue(EvalArg(call, i, context), context);
}

// The fuzzy variable of the defined type of that name.
TRefPtr<IFuzzyVariable> TypeVariable(TInferenceEngine& engine, const std::string& name) {
    const TRefPtr<IIEDefinedType> type = engine.DefinedTypes().Find(name);
    if (!type) RaiseIE(imTypeNameUnknown, name);
    TRefPtr<IFuzzyVariable> variable = type->GetFuzzyVariable();
    if (!variable) RaiseIE(imFuzzyTypeNeeded);
    return variable;
}

// The variable an argument names: an atom or string names a defined type, a fuzzy value gives
// its set's variable; any other kind is refused with the three accepted kinds.
TRefPtr<IFuzzyVariable> VariableArg(IFunCall* call, int32_t i, TIEContext* context) {
    const TRefPtr<IIEValue> value = EvalArg(call, i, context);
    const TIEType kind = value->GetDType();
    if (kind == dtAtom || kind == dtString)
        return TypeVariable(EngineOf(context), value->AsString());
    if (kind != dtFuzzy)
        RaiseIE(imInvalidDeffunctionArgument, IETypeName(kind),
                SetToText(TIETypes{dtAtom, dtString, dtFuzzy}));
    TRefPtr<IFuzzyVariable> variable(value->AsFuzzy()->GetFuzzyVariable());
    if (!variable) RaiseIE(imFuzzyVariableNotDefined);
    return variable;
}

// Replaces every slot value of the fact by its evaluation in the context, lists element by
// element, a multislot always receiving a list.
void EvaluateFactSlots(IFact& fact, TIEContext* context) {
    const TRefPtr<IFactTemplate> factTemplate = fact.GetTemplate();
    if (!factTemplate) return;
    for (int32_t i = 0, n = factTemplate->SlotCount(); i < n; ++i) {
        const TRefPtr<IFactSlot> slot = factTemplate->SlotAt(i);
        const std::string& name = slot->GetName();
        TRefPtr<IIEValue> value = Evaluated(fact.GetSlotValue(name), context);
        if (value->GetDType() == dtList) {
            value = TIEValue::CreateList(context->EvaluateArguments(*value->AsList()));
        } else if (slot->IsMultiSlot()) {
            auto list = TValueVector::Create();
            list->Add(value);
            value = TIEValue::CreateList(std::move(list));
        }
        fact.SetSlotValue(name, value);
    }
}

// ---------------------------------------------------------------------------------------------
// Names, help texts, argument texts and counts of the variants

constexpr std::string_view FactOrFuzzy =
    " <fact-expression> | <fact-id-expression> | <fuzzy-value-expression>";
constexpr std::string_view FactOrFuzzyInteger =
    " <fact-expression> | <fact-id-expression> | <fuzzy-value-expression> <integer-expression> ";
constexpr std::string_view FactOrFuzzyNumber =
    " <fact-expression> | <fact-id-expression> | <fuzzy-value-expression> <numeric-expression> ";
constexpr std::string_view FuzzyTypeOrFact =
    " <fuzzy-type-expression> | <fuzzy-fact-expression> | <fuzzy-fact-id-expression>";
constexpr std::string_view FactIdOrFuzzy =
    " <fact-id-expression> | <fact-expression> | <fuzzy-value-expression> ";
constexpr std::string_view NoArguments = " ";
constexpr std::string_view OneNumber = " <numeric-expression> ";
constexpr std::string_view TwoNumbers = " <numeric-expression> <numeric-expression> ";
constexpr int32_t Many = AnyArgumentCount;

constexpr TVariantFunction::TSpec AssertSpecs[] = {
    {"fuzzy-assert",
     "Asserts or adds each fuzzy fact argument to the fact list using the specified fuzzy "
     "inference type.  Returns the fact-id of the last fact asserted, or FALSE",
     " <fuzzy-inference-expression> <fact-expression>*", 2, Many},
    {"fuzzy-assert-unconditional",
     "Asserts or adds each fuzzy fact argument to the fact list using the specified fuzzy "
     "*intersection* inference type.  Without an inference type min-max is used",
     " [<fuzzy-inference-expression>] <fact-expression>*", 1, Many},
};

constexpr TVariantFunction::TSpec OperationSpecs[] = {
    {"fuzzy-union",
     "Returns a fuzzy set value, which is the union, or the fuzzy OR, of the fuzzy value "
     "expressions.",
     " <fuzzy-value-expression> <fuzzy-value-expression>+", 2, Many},
    {"fuzzy-union-x",
     "Returns a fuzzy set value, which is the union of the fuzzy value expressions.  The first "
     "argument names the union operation",
     " <fuzzy-union-type-expression> <fuzzy-value-expression> <fuzzy-value-expression>+", 3, Many},
    {"fuzzy-intersection",
     "Returns a fuzzy set value, which is the intersection, or the fuzzy AND, of the fuzzy "
     "value expressions.",
     " <fuzzy-value-expression> <fuzzy-value-expression>+", 2, Many},
    {"fuzzy-intersection-x",
     "Returns a fuzzy set value, which is the intersection of the fuzzy value expressions.  The "
     "first argument names the intersection operation",
     " <fuzzy-intersection-type-expression> <fuzzy-value-expression> "
     "<fuzzy-value-expression>+",
     3, Many},
};

constexpr TVariantFunction::TSpec GetFuzzySpecs[] = {
    {"get-fs", "Returns the fuzzy set value as a vector of singletons, e.g.,  ((x0 y0) (x1 y1)).",
     FactOrFuzzy, 1, 1},
    {"get-fs-length", "Returns the number of singletons in the fuzzy set as an integer.",
     FactOrFuzzy, 1, 1},
    {"get-fs-x",
     "Returns the floating point X coordinate value of the Ith singleton in the fuzzy set, "
     "where the singletons are numbered from 0 to n-1.",
     FactOrFuzzyInteger, 2, 2},
    {"get-fs-y",
     "Returns the floating point Y coordinate value of the Ith singleton in the fuzzy set, "
     "where the singletons are numbered from 0 to n-1.",
     FactOrFuzzyInteger, 2, 2},
    {"get-fs-variable", "Returns the linguistic fuzzy variable name of the specified fuzzy set.",
     FactOrFuzzy, 1, 1},
    {"get-fs-value",
     "Returns the degree of membership, or Y value, of the fuzzy set at the specified X value "
     "<numeric-expression>.",
     FactOrFuzzyNumber, 2, 2},
};

constexpr TVariantFunction::TSpec ActivationThresholdSpecs[] = {
    {"get-activation-threshold",
     "Returns the Rule Activation Threshold value as a floating point number between 0 and 1.",
     NoArguments, 0, 0},
    {"set-activation-threshold",
     "Sets the Rule Activation Threshold to the floating point expression, which should be a "
     "number between 0 and 1.  Returns the previous value",
     OneNumber, 1, 1},
};

constexpr TVariantFunction::TSpec AutoTermsSpecs[] = {
    {"get-fuzzy-auto-terms", "Returns a boolean value for the FuzzyAutoTerms control variable.",
     NoArguments, 0, 0},
    {"set-fuzzy-auto-terms",
     "Sets the FuzzyAutoTerms control variable to the boolean value expression.  Only TRUE "
     "sets it; the previous value is returned",
     " <boolean-expression> ", 1, 1},
};

constexpr TVariantFunction::TSpec CorrelationSpecs[] = {
    {"get-fuzzy-correlation",
     "Returns the fuzzy correlation method being used in the inference engine, as an atom.",
     NoArguments, 0, 0},
    {"set-fuzzy-correlation",
     "Sets the fuzzy correlation method to use in the inference engine, and returns the "
     "*previous* value as an atom.",
     " <correlation-expression> ", 1, 1},
};

constexpr TVariantFunction::TSpec InferenceSpecs[] = {
    {"get-fuzzy-inference",
     "Returns the fuzzy inference method being used in the inference engine, as an atom.",
     NoArguments, 0, 0},
    {"set-fuzzy-inference",
     "Sets the fuzzy inference method to use in the inference engine.  Returns the previous "
     "method as an atom",
     " <fuzzy-inference-expression> ", 1, 1},
};

constexpr TVariantFunction::TSpec ThresholdSpecs[] = {
    {"get-fuzzy-threshold",
     "Returns the Fuzzy Equals Threshold value as a floating point number between 0 and 1.",
     NoArguments, 0, 0},
    {"set-fuzzy-threshold",
     "Sets the Fuzzy Equals Threshold value to the expression.  Returns the previous value",
     OneNumber, 1, 1},
};

constexpr TVariantFunction::TSpec UniverseSpecs[] = {
    {"get-u", "Returns the universe of discourse for the fuzzy fact or fuzzy type", FuzzyTypeOrFact,
     1, 1},
    {"get-u-from",
     "Returns the lower limit for the universe of discourse for the fuzzy fact or fuzzy type",
     FuzzyTypeOrFact, 1, 1},
    {"get-u-to",
     "Returns the upper limit for the universe of discourse for the fuzzy fact or fuzzy type",
     FuzzyTypeOrFact, 1, 1},
    {"get-u-units",
     "Returns the units as a string for the universe of discourse for the fuzzy fact or fuzzy "
     "type ",
     FuzzyTypeOrFact, 1, 1},
};

constexpr TVariantFunction::TSpec DefuzzifySpecs[] = {
    {"moment-defuzzify",
     "Returns a defuzzified floating point value, which represents the defuzzified fuzzy set "
     "using the centre of gravity (or first moment of inertia) function.",
     FactIdOrFuzzy, 1, 1},
    {"maximum-defuzzify",
     "Returns a defuzzified floating point value, which represents the defuzzified fuzzy set "
     "using the mean of maxima function.",
     FactIdOrFuzzy, 1, 1},
    {"is-undecidable", "Returns TRUE if the fuzzy set is undecidable.", FactIdOrFuzzy, 1, 1},
    {"get-compatibility-index",
     "Returns a floating point value between 0 and 1 representing the unit compatibility index "
     "of the fuzzy set.",
     FactIdOrFuzzy, 1, 1},
};

constexpr TVariantFunction::TSpec ShapeSpecs[] = {
    {"s",
     "Returns a fuzzy value using a growth curve function, i.e., the probability increases from "
     "0 to 1 between the arguments",
     TwoNumbers, 2, 2},
    {"z",
     "Returns a fuzzy value using a decline curve function, i.e., the probability decreases "
     "from 0 to 1 between the arguments",
     TwoNumbers, 2, 2},
    {"pi",
     "Returns a typical bell curve fuzzy value, e.g., the probablities increase as the X value "
     "gets closer to the middle point",
     " [ <center-numeric-expression> <range-numeric-expression> ] |  [ "
     "<left-numeric-expression> <center-numeric-expression> <right-numeric-expression> ]",
     2, 3},
    {"tri",
     "Returns a fuzzy value with a saw-tooth type shape, e.g., the probablities increase as the "
     "X value gets closer to the center point",
     " <left-numeric-expression> <center-numeric-expression> <right-numeric-expression> ", 3, 3},
    {"beta",
     "Returns a fuzzy value with a beta bell curve shape, e.g., the probablities increase as "
     "the X value gets closer to the middle point",
     " <center-numeric-expression> <range-numeric-expression> [ <inflection-numeric-expression> "
     "[ <weight-numeric-expression> ]]",
     2, 4},
};

// The operation keywords as the error lists them: "a, b, ..., or sum".
std::string OperationKeywords() {
    std::string text;
    for (size_t i = 0; i < FuzzyOperationNames.size(); ++i) {
        if (i > 0) text += ", ";
        if (i + 1 == FuzzyOperationNames.size()) text += "or ";
        text += FuzzyOperationNames[i];
    }
    return text;
}

} // namespace

TFuzzyAssertFunction::TFuzzyAssertFunction() : TVariantFunction(AssertSpecs) {}
TFuzzyOperationFunction::TFuzzyOperationFunction() : TVariantFunction(OperationSpecs) {}
TGetFuzzyFunction::TGetFuzzyFunction() : TVariantFunction(GetFuzzySpecs) {}
TRWActivationThresholdFunction::TRWActivationThresholdFunction()
    : TVariantFunction(ActivationThresholdSpecs) {}
TRWFuzzyAutoTerms::TRWFuzzyAutoTerms() : TVariantFunction(AutoTermsSpecs) {}
TRWFuzzyCorrelationFunction::TRWFuzzyCorrelationFunction() : TVariantFunction(CorrelationSpecs) {}
TRWFuzzyInferenceFunction::TRWFuzzyInferenceFunction() : TVariantFunction(InferenceSpecs) {}
TRWFuzzyThresholdFunction::TRWFuzzyThresholdFunction() : TVariantFunction(ThresholdSpecs) {}
TUniverseOfDiscourseFunction::TUniverseOfDiscourseFunction() : TVariantFunction(UniverseSpecs) {}
TDefuzzifyFunction::TDefuzzifyFunction() : TVariantFunction(DefuzzifySpecs) {}
TCreateFuzzyShapeFunction::TCreateFuzzyShapeFunction() : TVariantFunction(ShapeSpecs) {}

IE_VARIANT_SELECTOR_NAMES(TFuzzyAssertFunction, "fafAssert", "fafAssertUnconditional")
IE_VARIANT_SELECTOR_NAMES(TFuzzyOperationFunction, "fofFuzzyUnion", "fofFuzzyUnionX",
                          "fofFuzzyIntersection", "fofFuzzyIntersectionX")
IE_VARIANT_SELECTOR_NAMES(TGetFuzzyFunction, "gffGetFs", "gffGetFsLength", "gffGetFsX", "gffGetFsY",
                          "gffGetFsVariable", "gffGetFsValue")
IE_VARIANT_SELECTOR_NAMES(TRWActivationThresholdFunction, "atfGetActivationThreshold",
                          "atfSetActivationThreshold")
IE_VARIANT_SELECTOR_NAMES(TRWFuzzyAutoTerms, "fatGetFuzzyAutoTerms", "fatSetFuzzyAutoTerms")
IE_VARIANT_SELECTOR_NAMES(TRWFuzzyCorrelationFunction, "fcfGetCorrelation", "fcfSetCorrelation")
IE_VARIANT_SELECTOR_NAMES(TRWFuzzyInferenceFunction, "fifGetInference", "fifSetInference")
IE_VARIANT_SELECTOR_NAMES(TRWFuzzyThresholdFunction, "ftfGetFuzzyThreshold", "ftfSetFuzzyThreshold")
IE_VARIANT_SELECTOR_NAMES(TUniverseOfDiscourseFunction, "uodGet", "uodGetFrom", "uodGetTo",
                          "uodGetUnits")
IE_VARIANT_SELECTOR_NAMES(TDefuzzifyFunction, "dftMoment", "dftMaximum", "dftUndecidable",
                          "dftCompatibilityIndex")
IE_VARIANT_SELECTOR_NAMES(TCreateFuzzyShapeFunction, "fsGrowthShape", "fsDeclineShape", "fsPIShape",
                          "fsTriangleShape", "fsBetaShape")

// ---------------------------------------------------------------------------------------------
// create-fuzzy-value

TCreateFuzzySetFunction::TCreateFuzzySetFunction()
    : TBuiltInFunction("create-fuzzy-value",
                       "Returns a fuzzy value created for the specified fuzzy variable from the "
                       "linguistic expression that follows it",
                       " <fuzzy-variable-expression> <fuzzy-set-expression>", 2) {}

TRefPtr<IIEValue> TCreateFuzzySetFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IFuzzyVariable> variable = VariableArg(call, 0, context);
    auto items = TValueVector::Create();
    for (int32_t i = 1, n = call->ArgumentCount(); i < n; ++i)
        items->Add(call->GetArgument(i));
    const TFuzzyExpressionBuilder& build = FuzzyExpressionBuilder();
    if (!build) RaiseIE(imFunctionUnimplemented, "BuildFuzzyExpression");
    TRefPtr<IIEValue> result = build(variable.get(), *items, context);
    return result ? result : IEEmptyAtom();
}

// ---------------------------------------------------------------------------------------------
// fuzzy-assert, fuzzy-assert-unconditional

TRefPtr<IIEValue> TFuzzyAssertFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const bool unconditional = FuzzyAssertFunctionType() == fafAssertUnconditional;
    TFuzzyInferenceMethod method = fimMinMax;
    int32_t first = 0;
    TRefPtr<IIEValue> head = EvalArg(call, 0, context);
    if (IsTextType(head->GetDType())) {
        const std::string text = head->AsString();
        if (!FuzzyInferenceIndex(text, method))
            RaiseIE(imInvalidFuzzyInference, text, Joined(FuzzyInferenceNames));
        first = 1;
    } else if (!unconditional) {
        RaiseIE(imInvalidFuzzyInference, head->GetText(), Joined(FuzzyInferenceNames));
    }
    int32_t id = -1;
    bool asserted = false;
    for (int32_t i = first, n = call->ArgumentCount(); i < n; ++i) {
        // The first fact argument of the unconditional form without a method is already read.
        const TRefPtr<IIEValue> value = i == 0 ? head : EvalArg(call, i, context);
        const TRefPtr<IFact> fact = value->AsFact();
        TRefPtr<ICloneable> clone = fact->Clone();
        TRefPtr<IFact> copy(dynamic_cast<IFact*>(clone.get()));
        EvaluateFactSlots(*copy, context);
        id = engine.AssertFactWithInference(copy, method, unconditional);
        asserted = true;
    }
    if (!asserted || id == -1) return IEFalseValue();
    return TIEValue::CreateInteger(dtFactId, id);
}

// ---------------------------------------------------------------------------------------------
// fuzzy-union, fuzzy-union-x, fuzzy-intersection, fuzzy-intersection-x

TRefPtr<IIEValue> TFuzzyOperationFunction::Execute(IFunCall* call, TIEContext* context) {
    const TFuzzyOperationFunctionType kind = FuzzyOperationFunctionType();
    const bool explicitOperation = kind == fofFuzzyUnionX || kind == fofFuzzyIntersectionX;
    const bool unite = kind == fofFuzzyUnion || kind == fofFuzzyUnionX;
    TFuzzyOperation op = foZadeh;
    int32_t first = 0;
    if (explicitOperation) {
        const std::string text = EvalArg(call, 0, context)->AsString();
        if (!FuzzyOperationIndex(text, op))
            RaiseIE(imInvalidFuzzyOperation, text, GetFunctionName(), OperationKeywords());
        first = 1;
    }
    TRefPtr<IFuzzySet> accumulator = FuzzySetArg(call, first, context);
    for (int32_t i = first + 1, n = call->ArgumentCount(); i < n; ++i) {
        const TRefPtr<IFuzzySet> other = FuzzySetArg(call, i, context);
        accumulator =
            unite ? accumulator->Union(*other, op) : accumulator->Intersection(*other, op);
    }
    return TIEValue::CreateFuzzy(std::move(accumulator));
}

// ---------------------------------------------------------------------------------------------
// get-fs family

TRefPtr<IIEValue> TGetFuzzyFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IFuzzySet> set = FuzzySetArg(call, 0, context);
    switch (GetFuzzyFunctionType()) {
    case gffGetFs: {
        TInferenceEngine* engine = ContextEngine(context);
        auto singletons = MakeRef<TSingletonsVector>(dynamic_cast<ISingletonsParser*>(engine));
        for (const TFuzzySetValue& p : set->Points())
            singletons->Add(TIEValue::CreateFloat(p.X), TIEValue::CreateFloat(p.Y));
        return TIEValue::CreateSingletons(TRefPtr<ISingletonsVector>(singletons.get()));
    }
    case gffGetFsLength:
        return TIEValue::CreateInteger(dtInteger, set->Count());
    case gffGetFsX:
        return NewFloat(set->GetX(EvalArg(call, 1, context)->AsInteger()));
    case gffGetFsY:
        return NewFloat(set->GetY(EvalArg(call, 1, context)->AsInteger()));
    case gffGetFsVariable: {
        const IFuzzyVariable* variable = set->GetFuzzyVariable();
        return NewAtom(variable ? std::string_view(variable->GetName()) : std::string_view());
    }
    case gffGetFsValue:
        return NewFloat(set->GetMembership(CheckFloat(EvalArg(call, 1, context)->GetAsNumeric())));
    }
    return IEEmptyAtom();
}

// ---------------------------------------------------------------------------------------------
// Engine settings: each form returns the value before any change.

TRefPtr<IIEValue> TRWActivationThresholdFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const float previous = engine.MinActivationStrength();
    if (RWActivationThresholdFunctionType() == atfSetActivationThreshold)
        engine.SetMinActivationStrength(SingleOf(EvalArg(call, 0, context)->GetAsNumeric()));
    return NewFloat(previous);
}

TRefPtr<IIEValue> TRWFuzzyAutoTerms::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const bool previous = engine.FuzzyAutoTerms();
    if (RWFuzzyAutoTermsType() == fatSetFuzzyAutoTerms)
        engine.SetFuzzyAutoTerms(EvalArg(call, 0, context)->Equals(IETrueValue().get()));
    return IEBoolValue(previous);
}

TRefPtr<IIEValue> TRWFuzzyCorrelationFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const TFuzzyCorrelationMethod previous = engine.FuzzyCorrelationMethod();
    if (RWFuzzyCorrelationFunctionType() == fcfSetCorrelation) {
        const std::string text = EvalArg(call, 0, context)->AsString();
        TFuzzyCorrelationMethod method;
        if (!FuzzyCorrelationIndex(text, method))
            RaiseIE(imInvalidFuzzyCorrelation, text, Joined(FuzzyCorrelationNames));
        engine.SetFuzzyCorrelationMethod(method);
    }
    return NewAtom(FuzzyCorrelationNames[previous]);
}

TRefPtr<IIEValue> TRWFuzzyInferenceFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const TFuzzyInferenceMethod previous = engine.FuzzyInferenceMethod();
    if (RWFuzzyInferenceFunctionType() == fifSetInference) {
        const std::string text = EvalArg(call, 0, context)->AsString();
        TFuzzyInferenceMethod method;
        if (!FuzzyInferenceIndex(text, method))
            RaiseIE(imInvalidFuzzyInference, text, Joined(FuzzyInferenceNames));
        engine.SetFuzzyInferenceMethod(method);
    }
    return NewAtom(FuzzyInferenceNames[previous]);
}

TRefPtr<IIEValue> TRWFuzzyThresholdFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const float previous = engine.FuzzyEqualsThreshold();
    if (RWFuzzyThresholdFunctionType() == ftfSetFuzzyThreshold)
        engine.SetFuzzyEqualsThreshold(SingleOf(EvalArg(call, 0, context)->GetAsNumeric()));
    return NewFloat(previous);
}

// ---------------------------------------------------------------------------------------------
// get-u family

TRefPtr<IIEValue> TUniverseOfDiscourseFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IFuzzyVariable> variable = VariableArg(call, 0, context);
    switch (UniverseOfDiscourseFunctionType()) {
    case uodGet:
        return TIEValue::CreateText(dtString, Format("%.4f - %.4f %s", variable->GetMinimum(),
                                                     variable->GetMaximum(), variable->GetUnits()));
    case uodGetFrom:
        return NewFloat(variable->GetMinimum());
    case uodGetTo:
        return NewFloat(variable->GetMaximum());
    case uodGetUnits:
        return TIEValue::CreateText(dtString, variable->GetUnits());
    }
    return IEEmptyAtom();
}

// ---------------------------------------------------------------------------------------------
// Defuzzify family

TRefPtr<IIEValue> TDefuzzifyFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IFuzzySet> set = FuzzySetArg(call, 0, context);
    switch (DefuzzifyFunctionType()) {
    case dftMoment:
        return NewFloat(set->CenterOfGravity());
    case dftMaximum:
        return NewFloat(set->MeanOfMaxima());
    case dftUndecidable:
        return IEBoolValue(set->IsUndecidable());
    case dftCompatibilityIndex:
        return NewFloat(set->GetDefuzzifiedMembership());
    }
    return IEEmptyAtom();
}

// ---------------------------------------------------------------------------------------------
// plot-fuzzy-value

TPlotFuzzySetFunction::TPlotFuzzySetFunction()
    : TBuiltInFunction(
          "plot-fuzzy-value",
          "Plots Fuzzy values or entire Fuzzy Variable using printout/text statements.  Each "
          "value is drawn with its plot character on a grid of 21 grades by 50 columns",
          " <io-stream-identifier-string-expression> <plot-chars-string-expression> "
          "<low-limit-numeric-expression> <high-limit-numeric-expression> "
          "<fuzzy-variable-name-expression>|<fuzzy-value-expression>|<fact-id-expression>|"
          "<fact-expression>+",
          5) {}

namespace {

constexpr int PlotRows = 21;
constexpr int PlotColumns = 51;
constexpr int PlottedColumns = 50;
// Plot characters when the call gives none.
constexpr char DefaultPlotChar = '*';

// A limit argument: its number when it is an integer or a float, otherwise none.
bool NumericLimit(const IIEValue& value, double& limit) {
    if (value.GetDType() != dtInteger && value.GetDType() != dtFloat) return false;
    limit = CheckFloat(value.GetAsNumeric());
    return true;
}

} // namespace

TRefPtr<IIEValue> TPlotFuzzySetFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string stream = EvalArg(call, 0, context)->AsString();
    const std::string plotChars = EvalArg(call, 1, context)->AsString();
    const TRefPtr<IIEValue> lowArg = EvalArg(call, 2, context);
    const TRefPtr<IIEValue> highArg = EvalArg(call, 3, context);
    const TRefPtr<IIEValue> subject = EvalArg(call, 4, context);

    std::vector<TRefPtr<IFuzzySet>> sets;
    TRefPtr<IFuzzyVariable> variable;
    const TIEType kind = subject->GetDType();
    if (kind == dtInteger || kind == dtFactId || kind == dtFact || kind == dtFuzzy) {
        sets.push_back(FuzzySetOfValue(subject, context));
        variable = TRefPtr<IFuzzyVariable>(sets.front()->GetFuzzyVariable());
        for (int32_t i = 5, n = call->ArgumentCount(); i < n; ++i) {
            TRefPtr<IFuzzySet> set = FuzzySetArg(call, i, context);
            if (set->GetFuzzyVariable() != variable.get()) {
                const IFuzzyVariable* other = set->GetFuzzyVariable();
                RaiseIE(imFuzzyVariablesDifferent, sets.front()->GetName(),
                        variable ? variable->GetName() : std::string(), set->GetName(),
                        other ? other->GetName() : std::string());
            }
            sets.push_back(std::move(set));
        }
    } else {
        variable = TypeVariable(engine, subject->AsString());
        for (int i = 0; i < variable->Count(); ++i)
            sets.push_back(variable->GetSet(i));
    }

    // Limits: numbers held within the universe; otherwise the universe (or the first set's own
    // extent without a variable).
    const double minimum = variable ? variable->GetMinimum() : sets.front()->GetXMin();
    const double maximum = variable ? variable->GetMaximum() : sets.front()->GetXMax();
    double low = minimum, high = maximum;
    if (NumericLimit(*lowArg, low) && variable) low = std::max(low, minimum);
    if (NumericLimit(*highArg, high) && variable) high = std::min(high, maximum);
    if (high <= low) RaiseIE(imInvalidLimits, low, high);

    std::vector<std::string> grid(PlotRows, std::string(PlotColumns, ' '));
    const double step = (high - low) / PlottedColumns;
    std::string legend;
    for (size_t k = 0; k < sets.size(); ++k) {
        const char ch = plotChars.empty()      ? DefaultPlotChar
                        : k < plotChars.size() ? plotChars[k]
                                               : plotChars.back();
        legend += " " + sets[k]->GetName() + "(" + ch + ")";
        for (int column = 1; column <= PlottedColumns; ++column) {
            const double grade = std::min(sets[k]->GetMembership(low + (column - 1) * step), 1.0);
            // The platform rounds halves to even.
            const int row = std::clamp(static_cast<int>(std::nearbyint(grade * 20)), 0, 20);
            grid[static_cast<size_t>(row)][static_cast<size_t>(column - 1)] = ch;
        }
    }

    std::string text;
    auto line = [&text](std::string_view s) {
        text += s;
        text += IELineEnd;
    };
    if (variable) line("Fuzzy Variable: " + variable->GetName());
    line("Fuzzy Values:" + legend);
    line("");
    for (int row = PlotRows - 1; row >= 0; --row)
        line(Format(FuzzyFloatFormat, row / 20.0) + grid[static_cast<size_t>(row)]);
    line("    |----|----|----|----|----|----|----|----|----|----|");
    const double d = (high - low) / 5;
    line(Format("%7.2f %9.2f %9.2f %9.2f %9.2f %9.2f", low, low + d, low + 2 * d, low + 3 * d,
                low + 4 * d, high));
    line("");
    if (variable)
        line(Format("Universe of Discourse: From %0.2f to %.2f", variable->GetMinimum(),
                    variable->GetMaximum()));
    // One print-out per line, as the rule language's printout would write them.
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(IELineEnd, start) + IELineEnd.size();
        engine.PrintOut(stream, text.substr(start, end - start));
        start = end;
    }
    return IETrueValue();
}

// ---------------------------------------------------------------------------------------------
// s, z, pi, tri, beta

TRefPtr<IIEValue> TCreateFuzzyShapeFunction::Execute(IFunCall* call, TIEContext* context) {
    auto set = MakeRef<TIEFuzzySet>(nullptr, call->GetText());
    set->SetParser(dynamic_cast<IFuzzyParser*>(context ? context->Engine() : nullptr));
    const int32_t n = call->ArgumentCount();
    const double a = CheckFloat(EvalArg(call, 0, context)->GetAsNumeric());
    const double b = CheckFloat(EvalArg(call, 1, context)->GetAsNumeric());
    const auto third = [&] { return CheckFloat(EvalArg(call, 2, context)->GetAsNumeric()); };
    switch (CreateFuzzyShapeFunctionType()) {
    case fsGrowthShape:
        set->SCurve(FuzzyDefaultFunctionValues, true, a, b, a + (b - a) / 2);
        break;
    case fsDeclineShape:
        set->SCurve(FuzzyDefaultFunctionValues, false, a, b, a + (b - a) / 2);
        break;
    case fsPIShape:
        if (n == 3)
            set->PICurve(FuzzyDefaultFunctionValues, a, third(), b);
        else
            set->PICurveAround(FuzzyDefaultFunctionValues, b, a);
        break;
    case fsTriangleShape:
        set->Triangle(a, b, third());
        break;
    case fsBetaShape:
        if (n == 2) {
            set->BetaCurve(FuzzyDefaultFunctionValues, b, a, b + (a - b) / 2);
        } else {
            const double c = third();
            if (n == 3)
                set->BetaCurve(FuzzyDefaultFunctionValues, b, a, c);
            else
                set->BetaCurveWeighted(FuzzyDefaultFunctionValues, b, a, c,
                                       CheckFloat(EvalArg(call, 3, context)->GetAsNumeric()));
        }
        break;
    }
    return TIEValue::CreateFuzzy(TRefPtr<IFuzzySet>(set.get()));
}

// ---------------------------------------------------------------------------------------------
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TFuzzyLogicFunctionClasses =
    TFunctionClasses<TCreateFuzzySetFunction, TFuzzyAssertFunction, TFuzzyOperationFunction,
                     TGetFuzzyFunction, TRWActivationThresholdFunction, TRWFuzzyAutoTerms,
                     TRWFuzzyCorrelationFunction, TRWFuzzyInferenceFunction,
                     TRWFuzzyThresholdFunction, TUniverseOfDiscourseFunction, TDefuzzifyFunction,
                     TPlotFuzzySetFunction, TCreateFuzzyShapeFunction>;

} // namespace

void TFuzzyLogicPackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TFuzzyLogicFunctionClasses::AddTo(Functions());
}

void RegisterFuzzyLogicFunctionClasses() {
    TFuzzyLogicFunctionClasses::Register();
}

void RegisterFuzzyLogicPackage() {
    RegisterPackage<TFuzzyLogicPackage, TFuzzyLogicFunctionClasses>(pFuzzyLogic);
}

namespace {
// Engines create the package and stored functions find their classes from start-up on.
const bool FuzzyLogicPackageRegistered = (RegisterFuzzyLogicPackage(), true);
} // namespace

} // namespace ie

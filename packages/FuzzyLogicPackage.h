// The fuzzy logic package: fuzzy values from a variable's terms and from standard shapes,
// fuzzy facts asserted with a chosen inference method, union and intersection of fuzzy values,
// the points, universe and defuzzified values of a fuzzy set, a text plot of fuzzy values, and
// the engine's fuzzy settings.
//
// The fuzzy set of an argument is found as the engine finds it everywhere: an integer or fact
// identifier names a fact, a fact gives the set of its first fuzzy slot, any other value must be
// a fuzzy value. Sets that a function combines are never changed in place: union, intersection
// and the shapes make new sets. Variant classes serve several names each; the selector always
// agrees with the name.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "packages/FunctionFramework.h"

namespace ie {

enum TFuzzyAssertFunctionType : uint8_t { fafAssert, fafAssertUnconditional };
enum TFuzzyOperationFunctionType : uint8_t {
    fofFuzzyUnion,
    fofFuzzyUnionX,
    fofFuzzyIntersection,
    fofFuzzyIntersectionX
};
enum TGetFuzzyFunctionType : uint8_t {
    gffGetFs,
    gffGetFsLength,
    gffGetFsX,
    gffGetFsY,
    gffGetFsVariable,
    gffGetFsValue
};
enum TRWActivationThresholdFunctionType : uint8_t {
    atfGetActivationThreshold,
    atfSetActivationThreshold
};
enum TRWFuzzyAutoTermsType : uint8_t { fatGetFuzzyAutoTerms, fatSetFuzzyAutoTerms };
enum TRWFuzzyCorrelationFunctionType : uint8_t { fcfGetCorrelation, fcfSetCorrelation };
enum TRWFuzzyInferenceFunctionType : uint8_t { fifGetInference, fifSetInference };
enum TRWFuzzyThresholdFunctionType : uint8_t { ftfGetFuzzyThreshold, ftfSetFuzzyThreshold };
enum TUniverseOfDiscourseFunctionType : uint8_t { uodGet, uodGetFrom, uodGetTo, uodGetUnits };
enum TDefuzzifyFunctionType : uint8_t {
    dftMoment,
    dftMaximum,
    dftUndecidable,
    dftCompatibilityIndex
};
enum TCreateFuzzyShapeFunctionType : uint8_t {
    fsGrowthShape,
    fsDeclineShape,
    fsPIShape,
    fsTriangleShape,
    fsBetaShape
};

IE_VARIANT_FUNCTION(TFuzzyAssertFunction, TFuzzyAssertFunctionType, FuzzyAssertFunctionType);
IE_VARIANT_FUNCTION(TFuzzyOperationFunction, TFuzzyOperationFunctionType,
                    FuzzyOperationFunctionType);
IE_VARIANT_FUNCTION(TGetFuzzyFunction, TGetFuzzyFunctionType, GetFuzzyFunctionType);
IE_VARIANT_FUNCTION(TRWActivationThresholdFunction, TRWActivationThresholdFunctionType,
                    RWActivationThresholdFunctionType);
IE_VARIANT_FUNCTION(TRWFuzzyAutoTerms, TRWFuzzyAutoTermsType, RWFuzzyAutoTermsType);
IE_VARIANT_FUNCTION(TRWFuzzyCorrelationFunction, TRWFuzzyCorrelationFunctionType,
                    RWFuzzyCorrelationFunctionType);
IE_VARIANT_FUNCTION(TRWFuzzyInferenceFunction, TRWFuzzyInferenceFunctionType,
                    RWFuzzyInferenceFunctionType);
IE_VARIANT_FUNCTION(TRWFuzzyThresholdFunction, TRWFuzzyThresholdFunctionType,
                    RWFuzzyThresholdFunctionType);
IE_VARIANT_FUNCTION(TUniverseOfDiscourseFunction, TUniverseOfDiscourseFunctionType,
                    UniverseOfDiscourseFunctionType);
IE_VARIANT_FUNCTION(TDefuzzifyFunction, TDefuzzifyFunctionType, DefuzzifyFunctionType);
IE_VARIANT_FUNCTION(TCreateFuzzyShapeFunction, TCreateFuzzyShapeFunctionType,
                    CreateFuzzyShapeFunctionType);

IE_BUILT_IN_FUNCTION(TCreateFuzzySetFunction); // create-fuzzy-value
IE_BUILT_IN_FUNCTION(TPlotFuzzySetFunction);   // plot-fuzzy-value

// The engine's builder of a fuzzy value from a linguistic expression over a variable (the items
// unevaluated, evaluated in the context as the expression is read). create-fuzzy-value calls it;
// the engine installs it. Without one, create-fuzzy-value reports the builder as unimplemented.
using TFuzzyExpressionBuilder = std::function<TRefPtr<IIEValue>(
    IFuzzyVariable* variable, const IValueVector& items, TIEContext* context)>;
TFuzzyExpressionBuilder& FuzzyExpressionBuilder();

class TFuzzyLogicPackage : public TUserPackage {
public:
    explicit TFuzzyLogicPackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TFuzzyLogicPackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers the package's thirteen function classes with the class registry (once).
void RegisterFuzzyLogicFunctionClasses();
// Function classes and the package factory for pFuzzyLogic. Runs when the unit starts.
void RegisterFuzzyLogicPackage();

} // namespace ie

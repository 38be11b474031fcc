// The math package: arithmetic, rounding, powers and logarithms, and the rule language's view
// of the process-wide random generator ("random", "seed", "randomize").
//
// Result kinds: +, -, *, max and min give an integer unless a float took part (the sum, product
// or best value is kept as a double and rounded, halves to even, at the end); "/" and the
// transcendental functions always give a float; div and mod work on 32-bit integers.
// No function ever returns a not-a-number, an infinity or a wrapped integer: a float outside
// its domain raises the platform's math error and an integer result that does not fit 32 bits
// raises "Integer overflow".
#pragma once

#include <string_view>

#include "engine/model/IEPackages.h"
#include "packages/FunctionFramework.h"

namespace ie {

IE_BUILT_IN_FUNCTION(TAbsFunction);
IE_NUMERIC_FUNCTION(TIntegerDivideFunction); // div
IE_NUMERIC_FUNCTION(TDivideFunction);        // /
IE_BUILT_IN_FUNCTION(TExpFunction);
IE_BUILT_IN_FUNCTION(TExptFunction); // **
IE_BUILT_IN_FUNCTION(TFloatFunction);
IE_NUMERIC_FUNCTION(TIntegerFunction);
IE_BUILT_IN_FUNCTION(TLogFunction);
IE_BUILT_IN_FUNCTION(TLog10Function);
IE_BUILT_IN_FUNCTION(TMaxFunction);
IE_BUILT_IN_FUNCTION(TMinFunction);
IE_NUMERIC_FUNCTION(TMinusFunction);
IE_NUMERIC_FUNCTION(TModFunction);
IE_BUILT_IN_FUNCTION(TPiFunction);
IE_NUMERIC_FUNCTION(TPlusFunction);
IE_BUILT_IN_FUNCTION(TRandomFunction);
IE_BUILT_IN_FUNCTION(TRandomizeFunction);
IE_NUMERIC_FUNCTION(TRoundFunction);
IE_BUILT_IN_FUNCTION(TSeedFunction);
IE_BUILT_IN_FUNCTION(TSqrtFunction);
IE_NUMERIC_FUNCTION(TTimesFunction); // *

class TMathPackage : public TUserPackage {
public:
    explicit TMathPackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TMathPackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers the package's function classes with the class registry (once; later calls do
// nothing), so stored package functions can be re-created by class name.
void RegisterMathFunctionClasses();
// Registers the function classes and the package's factory with the engine (done at start-up).
void RegisterMathPackage();

} // namespace ie

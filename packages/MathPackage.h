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

#include "engine/IEPackages.h"
#include "packages/StandardPackage.h"

namespace ie {

#define IE_MATH_FUNCTION(ClassType)                                                                \
    class ClassType : public TBuiltInFunction {                                                    \
    public:                                                                                        \
        ClassType();                                                                               \
        std::string_view ClassName() const override { return #ClassType; }                         \
                                                                                                   \
    protected:                                                                                     \
        TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;                   \
    }

IE_MATH_FUNCTION(TAbsFunction);
IE_MATH_FUNCTION(TIntegerDivideFunction); // div
IE_MATH_FUNCTION(TDivideFunction);        // /
IE_MATH_FUNCTION(TExpFunction);
IE_MATH_FUNCTION(TExptFunction); // **
IE_MATH_FUNCTION(TFloatFunction);
IE_MATH_FUNCTION(TIntegerFunction);
IE_MATH_FUNCTION(TLogFunction);
IE_MATH_FUNCTION(TLog10Function);
IE_MATH_FUNCTION(TMaxFunction);
IE_MATH_FUNCTION(TMinFunction);
IE_MATH_FUNCTION(TMinusFunction);
IE_MATH_FUNCTION(TModFunction);
IE_MATH_FUNCTION(TPiFunction);
IE_MATH_FUNCTION(TPlusFunction);
IE_MATH_FUNCTION(TRandomFunction);
IE_MATH_FUNCTION(TRandomizeFunction);
IE_MATH_FUNCTION(TRoundFunction);
IE_MATH_FUNCTION(TSeedFunction);
IE_MATH_FUNCTION(TSqrtFunction);
IE_MATH_FUNCTION(TTimesFunction); // *

#undef IE_MATH_FUNCTION

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

} // namespace ie

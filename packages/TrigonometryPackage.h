// The trigonometry package: the circular and hyperbolic functions and their inverses, angle
// conversions between radians, degrees, grads and cycles, the hypotenuse, and three distances
// between points given as multifields. Angles are in radians.
//
// Every function computes in extended precision and returns a double. A result is never a
// not-a-number or an infinity: an argument outside the function's domain raises the platform's
// invalid-operation error, a pole (cot 0, csc 0, acoth 1, ...) its division by zero, and a
// result too large for a double its overflow.
#pragma once

#include <string_view>

#include "engine/model/IEPackages.h"
#include "packages/FunctionFramework.h"

namespace ie {

// A function of one numeric argument (" <numeric-expression>", exactly one argument): the body
// reads the number and hands it to Compute. Its float result goes to an enclosing arithmetic call
// as a number, without a value.
class TUnaryTrigonometryFunction : public TNumericFunction {
protected:
    TUnaryTrigonometryFunction(std::string_view name, std::string_view help);
    TIENumber ExecuteNumber(IFunCall* call, TIEContext* context) final;
    virtual long double Compute(long double x) const = 0;
};

#define IE_UNARY_TRIGONOMETRY_FUNCTION(ClassType)                                                  \
    class ClassType : public TUnaryTrigonometryFunction {                                          \
    public:                                                                                        \
        static constexpr std::string_view StaticClassName = #ClassType;                            \
        ClassType();                                                                               \
        std::string_view ClassName() const override { return StaticClassName; }                    \
                                                                                                   \
    protected:                                                                                     \
        long double Compute(long double x) const override;                                         \
    }

IE_UNARY_TRIGONOMETRY_FUNCTION(TACosFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TACosHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TACotFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TACotHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TACscFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TACscHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TASecFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TASecHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TASinFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TASinHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TATanFunction);
IE_BUILT_IN_FUNCTION(TATan2Function);
IE_UNARY_TRIGONOMETRY_FUNCTION(TATanHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TCosFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TCosHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TCotFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TCotHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TCscFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TCscHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TCycleRadFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TDegGradFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TDegRadFunction);
IE_BUILT_IN_FUNCTION(TDistanceFunction);
IE_BUILT_IN_FUNCTION(TDistanceSqrFunction);
IE_BUILT_IN_FUNCTION(TDistanceManhattanFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TGradDegFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TGradRadFunction);
IE_BUILT_IN_FUNCTION(THypotenuseFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TRadCycleFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TRadDegFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TRadGradFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TSecFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TSecHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TSinFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TSinHFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TTanFunction);
IE_UNARY_TRIGONOMETRY_FUNCTION(TTanHFunction);

#undef IE_UNARY_TRIGONOMETRY_FUNCTION

class TTrigonometryPackage : public TUserPackage {
public:
    explicit TTrigonometryPackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TTrigonometryPackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers the package's function classes with the class registry (once; later calls do
// nothing), so stored package functions can be re-created by class name.
void RegisterTrigonometryFunctionClasses();
// Registers the function classes and the package's factory with the engine (done at start-up).
void RegisterTrigonometryPackage();

} // namespace ie

// The trigonometry package's functions: inverse and direct circular and hyperbolic functions,
// angle conversions, the hypotenuse and the distances between points.
//
// Invariant: every result is a finite double computed in extended precision; a domain error, a
// pole or an overflow raises the platform's error of that kind. Needs of the engine nothing but
// the function framework.
#include "packages/TrigonometryPackage.h"

#include <cmath>
#include <limits>

#include "engine/model/IEValue.h"
#include "platform/FloatMath.h"

namespace ie {

namespace {

constexpr long double Pi = 3.141592653589793238462643383279502884L;
constexpr long double HalfPi = Pi / 2;
constexpr long double TwoPi = Pi * 2;

constexpr std::string_view TwoNumbers = " <numeric-expression-X> <numeric-expression-Y>";
constexpr std::string_view TwoPoints = " <multifield-expression-1> <multifield-expression-2>";

// The extended result as a double: a not-a-number raises the invalid operation, a value beyond
// the double range the overflow.
double FloatResult(long double value) {
    if (std::isnan(value)) throw EInvalidOp();
    // Converting an extended value beyond the double range is undefined: test before.
    if (std::fabs(value) > std::numeric_limits<double>::max()) throw EOverflow();
    return static_cast<double>(value);
}

// The same as a float value.
TRefPtr<IIEValue> NewFloat(long double value) {
    return TIEValue::CreateFloat(FloatResult(value));
}

// The checked operations of the extended computations.
long double Divide(long double dividend, long double divisor) {
    if (divisor == 0) {
        if (dividend == 0 || std::isnan(dividend)) throw EInvalidOp();
        throw EZeroDivide();
    }
    return dividend / divisor;
}

long double Ln(long double x) {
    if (x == 0) throw EZeroDivide();
    if (!(x > 0)) throw EInvalidOp();
    return std::log(x);
}

long double Sqrt(long double x) {
    if (!(x >= 0)) throw EInvalidOp();
    return std::sqrt(x);
}

// Arguments of the inverse circular functions must lie in [-1, 1].
long double UnitArgument(long double x) {
    if (!(std::fabs(x) <= 1)) throw EInvalidOp();
    return x;
}

} // namespace

TUnaryTrigonometryFunction::TUnaryTrigonometryFunction(std::string_view name, std::string_view help)
    : TNumericFunction(name, help, " <numeric-expression>", 1, 1) {}

TIENumber TUnaryTrigonometryFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    return {FloatResult(Compute(CheckFloat(EvalNumber(call->GetArgument(0), context).Value))),
            true};
}

// ---------------------------------------------------------------------------------------------
// Inverse circular and hyperbolic functions

TACosFunction::TACosFunction()
    : TUnaryTrigonometryFunction("acos", "Returns the inverse cosine of <numeric-expression>.") {}

long double TACosFunction::Compute(long double x) const {
    return std::acos(UnitArgument(x));
}

TACosHFunction::TACosHFunction()
    : TUnaryTrigonometryFunction("acosh",
                                 "Returns the inverse hyperbolic cosine of <numeric-expression>.") {
}

long double TACosHFunction::Compute(long double x) const {
    if (!(x >= 1)) throw EInvalidOp();
    return std::acosh(x);
}

TACotFunction::TACotFunction()
    : TUnaryTrigonometryFunction("acot", "Returns the inverse cotangent of <numeric-expression>") {}

long double TACotFunction::Compute(long double x) const {
    return HalfPi - std::atan(x);
}

TACotHFunction::TACotHFunction()
    : TUnaryTrigonometryFunction(
          "acoth", "Returns the inverse hyperbolic cotangent of <numeric-expression>") {}

long double TACotHFunction::Compute(long double x) const {
    return Ln(Divide(x + 1, x - 1)) / 2;
}

TACscFunction::TACscFunction()
    : TUnaryTrigonometryFunction("acsc", "Returns the inverse cosecant of <numeric-expression>") {}

long double TACscFunction::Compute(long double x) const {
    // The principal value for the magnitude, moved by pi for a negative argument.
    const long double angle = std::asin(UnitArgument(Divide(1, std::fabs(x))));
    return x < 0 ? angle + Pi : angle;
}

TACscHFunction::TACscHFunction()
    : TUnaryTrigonometryFunction(
          "acsch", "Returns the inverse hyperbolic cosecant of <numeric-expression>") {}

long double TACscHFunction::Compute(long double x) const {
    // ln(1/x + sqrt(1/x^2 + 1)) is asinh(1/x); asinh keeps the digits that the logarithm's
    // argument loses to cancellation for negative x.
    return std::asinh(Divide(1, x));
}

TASecFunction::TASecFunction()
    : TUnaryTrigonometryFunction("asec", "Returns the inverse secant of <numeric-expression>") {}

long double TASecFunction::Compute(long double x) const {
    const long double angle = std::acos(UnitArgument(Divide(1, std::fabs(x))));
    return x < 0 ? angle + Pi : angle;
}

TASecHFunction::TASecHFunction()
    : TUnaryTrigonometryFunction("asech",
                                 "Returns the inverse hyperbolic secant of <numeric-expression>") {}

long double TASecHFunction::Compute(long double x) const {
    const long double r = Divide(1, x);
    return Ln(r + Sqrt(r * r - 1));
}

TASinFunction::TASinFunction()
    : TUnaryTrigonometryFunction("asin", "Returns the inverse sine of <numeric-expression>.") {}

long double TASinFunction::Compute(long double x) const {
    return std::asin(UnitArgument(x));
}

TASinHFunction::TASinHFunction()
    : TUnaryTrigonometryFunction("asinh",
                                 "Returns the inverse hyperbolic sine of <numeric-expression>") {}

long double TASinHFunction::Compute(long double x) const {
    return std::asinh(x);
}

TATanFunction::TATanFunction()
    : TUnaryTrigonometryFunction("atan", "Returns the arctangent of <numeric-expression>") {}

long double TATanFunction::Compute(long double x) const {
    return std::atan(x);
}

TATan2Function::TATan2Function()
    : TBuiltInFunction("atan2", "Returns the arctangent angle and quadrant of a given number.",
                       TwoNumbers, 2, 2) {}

TRefPtr<IIEValue> TATan2Function::Execute(IFunCall* call, TIEContext* context) {
    // The angle of the point (x, y): x is the first argument.
    const long double x = EvalArg(call, 0, context)->GetAsNumeric();
    const long double y = EvalArg(call, 1, context)->GetAsNumeric();
    return NewFloat(std::atan2(y, x));
}

TATanHFunction::TATanHFunction()
    : TUnaryTrigonometryFunction(
          "atanh", "Returns the inverse hyperbolic tangent of <numeric-expression>.") {}

long double TATanHFunction::Compute(long double x) const {
    if (std::fabs(x) == 1) throw EZeroDivide();
    return std::atanh(UnitArgument(x));
}

// ---------------------------------------------------------------------------------------------
// Circular and hyperbolic functions

TCosFunction::TCosFunction()
    : TUnaryTrigonometryFunction(
          "cos",
          "Returns the cosine of the angle represented by the <numeric-expression>, in radians") {}

long double TCosFunction::Compute(long double x) const {
    return std::cos(x);
}

TCosHFunction::TCosHFunction()
    : TUnaryTrigonometryFunction(
          "cosh",
          "Returns the hyperbolic cosine of the angle represented by the <numeric-expression>") {}

long double TCosHFunction::Compute(long double x) const {
    return std::cosh(x);
}

TCotFunction::TCotFunction()
    : TUnaryTrigonometryFunction(
          "cot", "Returns the cotangent of the angle represented by <numeric-expression>.") {}

long double TCotFunction::Compute(long double x) const {
    return Divide(1, std::tan(x));
}

TCotHFunction::TCotHFunction()
    : TUnaryTrigonometryFunction("coth",
                                 "Returns the hyperbolic cotangent of <numeric-expression>") {}

long double TCotHFunction::Compute(long double x) const {
    return Divide(1, std::tanh(x));
}

TCscFunction::TCscFunction()
    : TUnaryTrigonometryFunction("csc", "Returns the cosecant of <numeric-expression>") {}

long double TCscFunction::Compute(long double x) const {
    // 1 / sin x rather than 1 / cos(pi/2 - x): pi/2 has no exact representation, so the cosine
    // form turns the pole at 0 into a huge finite number instead of a division by zero.
    return Divide(1, std::sin(x));
}

TCscHFunction::TCscHFunction()
    : TUnaryTrigonometryFunction("csch",
                                 "Returns the hyperbolic cosecant of <numeric-expression>") {}

long double TCscHFunction::Compute(long double x) const {
    return Divide(1, std::sinh(x));
}

TSecFunction::TSecFunction()
    : TUnaryTrigonometryFunction("sec", "Returns the secant of <numeric-expression>") {}

long double TSecFunction::Compute(long double x) const {
    return Divide(1, std::cos(x));
}

TSecHFunction::TSecHFunction()
    : TUnaryTrigonometryFunction("sech", "Returns the hyperbolic secant of <numeric-expression>") {}

long double TSecHFunction::Compute(long double x) const {
    return Divide(1, std::cosh(x));
}

TSinFunction::TSinFunction()
    : TUnaryTrigonometryFunction(
          "sin",
          "Returns the sine of the angle represented by the <numeric-expression>, in radians") {}

long double TSinFunction::Compute(long double x) const {
    return std::sin(x);
}

TSinHFunction::TSinHFunction()
    : TUnaryTrigonometryFunction(
          "sinh",
          "Returns the hyperbolic sine of the angle represented by the <numeric-expression>") {}

long double TSinHFunction::Compute(long double x) const {
    return std::sinh(x);
}

TTanFunction::TTanFunction()
    : TUnaryTrigonometryFunction(
          "tan", "Returns the tangent of <numeric-expression>, where tan = sin/cos") {}

long double TTanFunction::Compute(long double x) const {
    // A cosine of exactly 0 is a pole.
    return Divide(std::sin(x), std::cos(x));
}

TTanHFunction::TTanHFunction()
    : TUnaryTrigonometryFunction("tanh", "Returns the hyperbolic tangent of <numeric-expression>") {
}

long double TTanHFunction::Compute(long double x) const {
    return std::tanh(x);
}

// ---------------------------------------------------------------------------------------------
// Angle conversions

TCycleRadFunction::TCycleRadFunction()
    : TUnaryTrigonometryFunction("cycle-rad",
                                 "Returns an angle measurement converted from cycles to radians, "
                                 "where radians = 2pi * cycles") {}

long double TCycleRadFunction::Compute(long double x) const {
    return x * TwoPi;
}

TDegGradFunction::TDegGradFunction()
    : TUnaryTrigonometryFunction("deg-grad",
                                 "Returns an angle measurement converted from degrees to grads, "
                                 "where degrees = grads * (9/10)") {}

long double TDegGradFunction::Compute(long double x) const {
    return x * 10 / 9;
}

TDegRadFunction::TDegRadFunction()
    : TUnaryTrigonometryFunction("deg-rad",
                                 "Returns an angle measurement converted from degrees to "
                                 "radians, where radians = degrees * (pi/180)") {}

long double TDegRadFunction::Compute(long double x) const {
    return x * Pi / 180;
}

TGradDegFunction::TGradDegFunction()
    : TUnaryTrigonometryFunction("grad-deg",
                                 "Returns an angle measurement converted from grads to degrees, "
                                 "where degrees = grads * (9/10)") {}

long double TGradDegFunction::Compute(long double x) const {
    return x * 9 / 10;
}

TGradRadFunction::TGradRadFunction()
    : TUnaryTrigonometryFunction("grad-rad",
                                 "Returns an angle measurement converted from grads to radians, "
                                 "where radians = grads * (pi/200)") {}

long double TGradRadFunction::Compute(long double x) const {
    return x * Pi / 200;
}

TRadCycleFunction::TRadCycleFunction()
    : TUnaryTrigonometryFunction("rad-cycle",
                                 "Returns an angle measurement converted from radians to cycles, "
                                 "where radians = 2pi * cycles") {}

long double TRadCycleFunction::Compute(long double x) const {
    return x / TwoPi;
}

TRadDegFunction::TRadDegFunction()
    : TUnaryTrigonometryFunction("rad-deg",
                                 "Returns an angle measurement converted from radians to "
                                 "degrees, where radians = degrees * (pi/180)") {}

long double TRadDegFunction::Compute(long double x) const {
    return x * 180 / Pi;
}

TRadGradFunction::TRadGradFunction()
    : TUnaryTrigonometryFunction("rad-grad",
                                 "Returns an angle measurement converted from radians to grads, "
                                 "where radians = grads * (pi/200)") {}

long double TRadGradFunction::Compute(long double x) const {
    return x * 200 / Pi;
}

// ---------------------------------------------------------------------------------------------
// Lengths and distances

THypotenuseFunction::THypotenuseFunction()
    : TBuiltInFunction("hypotenuse", "Returns the length of the hypotenuse of a triangle.",
                       TwoNumbers, 2, 2) {}

TRefPtr<IIEValue> THypotenuseFunction::Execute(IFunCall* call, TIEContext* context) {
    const long double x = EvalArg(call, 0, context)->GetAsNumeric();
    const long double y = EvalArg(call, 1, context)->GetAsNumeric();
    // The squares of doubles cannot overflow in extended precision.
    return NewFloat(std::sqrt(x * x + y * y));
}

namespace {

enum class TDistanceKind { dkSquared, dkEuclidean, dkManhattan };

// The distance between the points that the two multifield arguments hold, coordinate by
// coordinate (each element evaluated and read as a number).
long double Distance(IFunCall* call, TIEContext* context, TDistanceKind kind) {
    const TRefPtr<IValueVector> p = EvalArg(call, 0, context)->AsList();
    const TRefPtr<IValueVector> q = EvalArg(call, 1, context)->AsList();
    if (p->Count() != q->Count()) RaiseIE(imMultifieldLengths);
    long double sum = 0;
    for (int32_t i = 0, n = p->Count(); i < n; ++i) {
        const long double a = Evaluated(p->GetItem(i), context)->GetAsNumeric();
        const long double b = Evaluated(q->GetItem(i), context)->GetAsNumeric();
        const long double d = b - a;
        sum += kind == TDistanceKind::dkManhattan ? std::fabs(d) : d * d;
    }
    return kind == TDistanceKind::dkEuclidean ? std::sqrt(sum) : sum;
}

} // namespace

TDistanceFunction::TDistanceFunction()
    : TBuiltInFunction("distance",
                       "Returns the distance between 2 points (Sqrt( Sqr(X2-X1) + Sqr(Y2-Y1) + "
                       "... ))  The two points are represented by the two multifield "
                       "expressions",
                       TwoPoints, 2, 2) {}

TRefPtr<IIEValue> TDistanceFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewFloat(Distance(call, context, TDistanceKind::dkEuclidean));
}

TDistanceSqrFunction::TDistanceSqrFunction()
    : TBuiltInFunction("distance-sqr",
                       "Returns the distance squared between 2 points ( Sqr(X2-X1) + "
                       "Sqr(Y2-Y1) + ... )  The two points are represented by the two "
                       "multifield expressions.",
                       TwoPoints, 2, 2) {}

TRefPtr<IIEValue> TDistanceSqrFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewFloat(Distance(call, context, TDistanceKind::dkSquared));
}

TDistanceManhattanFunction::TDistanceManhattanFunction()
    : TBuiltInFunction("distance-manhattan",
                       "Returns the manhattan (city block) distance between 2 points "
                       "(abs(x2-x1) + abs(y2-y1) + ...).",
                       TwoPoints, 2, 2) {}

TRefPtr<IIEValue> TDistanceManhattanFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewFloat(Distance(call, context, TDistanceKind::dkManhattan));
}

// ---------------------------------------------------------------------------------------------
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TTrigonometryFunctionClasses = TFunctionClasses<
    TACosFunction, TACosHFunction, TACotFunction, TACotHFunction, TACscFunction, TACscHFunction,
    TASecFunction, TASecHFunction, TASinFunction, TASinHFunction, TATanFunction, TATan2Function,
    TATanHFunction, TCosFunction, TCosHFunction, TCotFunction, TCotHFunction, TCscFunction,
    TCscHFunction, TCycleRadFunction, TDegGradFunction, TDegRadFunction, TDistanceFunction,
    TDistanceSqrFunction, TDistanceManhattanFunction, TGradDegFunction, TGradRadFunction,
    THypotenuseFunction, TRadCycleFunction, TRadDegFunction, TRadGradFunction, TSecFunction,
    TSecHFunction, TSinFunction, TSinHFunction, TTanFunction, TTanHFunction>;

} // namespace

void TTrigonometryPackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TTrigonometryFunctionClasses::AddTo(Functions());
}

void RegisterTrigonometryFunctionClasses() {
    TTrigonometryFunctionClasses::Register();
}

void RegisterTrigonometryPackage() {
    RegisterPackage<TTrigonometryPackage, TTrigonometryFunctionClasses>(pTrigonometry);
}

namespace {
// Engines create the package and stored functions find their classes from start-up on.
const bool TrigonometryPackageRegistered = (RegisterTrigonometryPackage(), true);
} // namespace

} // namespace ie

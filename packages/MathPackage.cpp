// The math package's functions: sums, differences, products and quotients, magnitudes and
// extremes, powers and logarithms, and the process-wide random generator.
//
// Invariant: no result is a not-a-number, an infinity or a wrapped integer; an integer result
// that does not fit 32 bits is refused ("Integer overflow"). Needs of the engine nothing but the
// function framework.
#include "packages/MathPackage.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

#include "engine/model/IEValue.h"
#include "platform/FloatMath.h"
#include "platform/Random.h"

namespace ie {

namespace {

constexpr std::string_view NumericArgument = " <numeric-expression>";
constexpr std::string_view NumericArguments = " <numeric-expression>+";

TRefPtr<IIEValue> NewInteger(int32_t value) {
    return TIEValue::CreateInteger(dtInteger, value);
}

TRefPtr<IIEValue> NewFloat(double value) {
    return TIEValue::CreateFloat(CheckFloat(value));
}

// The 64-bit result of integer arithmetic as a 32-bit value; one that does not fit raises
// instead of keeping its low bits.
int32_t CheckedInteger(int64_t value) {
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw EIntOverflow();
    return static_cast<int32_t>(value);
}

// A double rounded to the nearest integer, halves to the even neighbour.
int32_t RoundedInteger(double value) {
    const double r = std::nearbyint(CheckFloat(value));
    if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
        throw EIntOverflow();
    return static_cast<int32_t>(r);
}

// The number of +, -, *, max and min: a float when a float took part, else the rounded integer.
TIENumber CheckedNumber(double value, bool isFloat) {
    if (isFloat) return {CheckFloat(value), true};
    return {static_cast<double>(RoundedInteger(value)), false};
}

TRefPtr<IIEValue> NumberResult(double value, bool isFloat) {
    return NumberValue(CheckedNumber(value, isFloat));
}

int32_t IntegerDivide(int32_t a, int32_t b) {
    if (b == 0) throw EDivByZero();
    if (b == -1 && a == std::numeric_limits<int32_t>::min()) throw EIntOverflow();
    return a / b;
}

// +, - and *: the arguments from `from` on combined in turn into `total`, each step checked; the
// result is a float when a float took part (`isFloat` tells whether one did before `from`).
// The checks of CheckFloat and CheckedNumber in line, for the common case of finite steps: a step
// that leaves the finite numbers raises as CheckFloat does, and integers combine into an integral
// total (exact while it is within 32 bits), which needs only its range checked, not rounding.
template <class Op>
TIENumber Combined(IFunCall* call, int32_t from, TIEContext* context, double total, bool isFloat) {
    for (int32_t i = from, n = call->ArgumentCount(); i < n; ++i) {
        const TIENumber v = EvalNumber(ArgumentOf(call, i), context);
        total = Op()(total, v.Value);
        if (!std::isfinite(total)) [[unlikely]]
            CheckFloat(total);
        isFloat = isFloat || v.IsFloat;
    }
    // A first argument that no step followed is checked here.
    if (!std::isfinite(total)) [[unlikely]]
        CheckFloat(total);
    if (isFloat) return {total, true};
    // RoundedInteger without its CheckFloat.
    const std::optional<int32_t> integer = IntegralTotal(total);
    if (!integer) throw EIntOverflow();
    return {static_cast<double>(*integer), false};
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Sums, differences, products, quotients

TPlusFunction::TPlusFunction()
    : TNumericFunction("+",
                       "Returns the sum of its arguments; an integer unless one of them is a "
                       "float",
                       NumericArguments) {
    SetNumberOp(noPlus);
}

TIENumber TPlusFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    return Combined<std::plus<double>>(call, 0, context, 0.0, false);
}

TTimesFunction::TTimesFunction()
    : TNumericFunction("*",
                       "Returns the product of its arguments; an integer unless one of them is a "
                       "float",
                       NumericArguments) {
    SetNumberOp(noTimes);
}

TIENumber TTimesFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    return Combined<std::multiplies<double>>(call, 0, context, 1.0, false);
}

TMinusFunction::TMinusFunction()
    : TNumericFunction("-",
                       "Returns the first argument minus all the following arguments; an "
                       "integer unless one of them is a float",
                       NumericArguments, 1) {
    SetNumberOp(noMinus);
}

TIENumber TMinusFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    const TIENumber first = EvalNumber(ArgumentOf(call, 0), context);
    return Combined<std::minus<double>>(call, 1, context, first.Value, first.IsFloat);
}

TDivideFunction::TDivideFunction()
    : TNumericFunction("/",
                       "Returns the first argument divided by each of the following arguments "
                       "in turn, as a float",
                       NumericArguments, 1) {}

TIENumber TDivideFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    double quotient = CheckFloat(EvalNumber(ArgumentOf(call, 0), context).Value);
    for (int32_t i = 1, n = call->ArgumentCount(); i < n; ++i)
        quotient = FloatDivide(quotient, EvalNumber(ArgumentOf(call, i), context).Value);
    return {CheckFloat(quotient), true};
}

TIntegerDivideFunction::TIntegerDivideFunction()
    : TNumericFunction("div",
                       "Returns the first argument divided by each of the following arguments "
                       "in turn, as integers truncated toward zero",
                       " <integer-expression>+", 1) {}

TIENumber TIntegerDivideFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    int32_t quotient = EvalInteger(ArgumentOf(call, 0), context);
    for (int32_t i = 1, n = call->ArgumentCount(); i < n; ++i)
        quotient = IntegerDivide(quotient, EvalInteger(ArgumentOf(call, i), context));
    return {static_cast<double>(quotient), false};
}

TModFunction::TModFunction()
    : TNumericFunction("mod",
                       "Returns the remainder of the first argument divided by the second; the "
                       "remainder has the sign of the first argument",
                       " <integer-expression> <integer-expression>", 2, 2) {}

TIENumber TModFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    const int32_t a = EvalInteger(ArgumentOf(call, 0), context);
    const int32_t b = EvalInteger(ArgumentOf(call, 1), context);
    // The quotient must exist for the remainder to: the same failures as div.
    IntegerDivide(a, b);
    return {static_cast<double>(a % b), false};
}

// ---------------------------------------------------------------------------------------------
// Magnitude, extremes, conversions

TAbsFunction::TAbsFunction()
    : TBuiltInFunction("abs", "Returns the absolute value of its argument", NumericArgument, 1, 1) {
}

TRefPtr<IIEValue> TAbsFunction::Execute(IFunCall* call, TIEContext* context) {
    TRefPtr<IIEValue> v = EvalArg(call, 0, context);
    switch (v->GetDType()) {
    case dtInteger:
        // The magnitude of the most negative integer does not fit: it raises, never comes
        // back negative.
        return NewInteger(CheckedInteger(std::abs(static_cast<int64_t>(v->AsInteger()))));
    case dtFloat:
        return NewFloat(std::fabs(v->AsFloat()));
    default:
        RaiseIE(imExpectedNumericArgument, GetFunctionName());
    }
}

namespace {

// max and min: the best value so far; a float that was once the best keeps the result a float.
template <class Better> TRefPtr<IIEValue> Extreme(IFunCall* call, TIEContext* context) {
    TRefPtr<IIEValue> first = EvalArg(call, 0, context);
    double best = CheckFloat(first->GetAsNumeric());
    bool isFloat = first->GetDType() == dtFloat;
    for (int32_t i = 1, n = call->ArgumentCount(); i < n; ++i) {
        TRefPtr<IIEValue> v = EvalArg(call, i, context);
        const double x = CheckFloat(v->GetAsNumeric());
        if (Better()(x, best)) {
            best = x;
            isFloat = isFloat || v->GetDType() == dtFloat;
        }
    }
    return NumberResult(best, isFloat);
}

struct TGreater {
    bool operator()(double a, double b) const { return a > b; }
};
struct TLess {
    bool operator()(double a, double b) const { return a < b; }
};

} // namespace

TMaxFunction::TMaxFunction()
    : TBuiltInFunction("max", "Returns the largest of its arguments", NumericArguments, 1) {}

TRefPtr<IIEValue> TMaxFunction::Execute(IFunCall* call, TIEContext* context) {
    return Extreme<TGreater>(call, context);
}

TMinFunction::TMinFunction()
    : TBuiltInFunction("min", "Returns the smallest of its arguments", NumericArguments, 1) {}

TRefPtr<IIEValue> TMinFunction::Execute(IFunCall* call, TIEContext* context) {
    return Extreme<TLess>(call, context);
}

TFloatFunction::TFloatFunction()
    : TBuiltInFunction("float", "Returns its argument as a float", NumericArgument, 1, 1) {}

TRefPtr<IIEValue> TFloatFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewFloat(EvalArg(call, 0, context)->GetAsNumeric());
}

TIntegerFunction::TIntegerFunction()
    : TNumericFunction("integer",
                       "Returns its argument as an integer; a float is truncated toward zero",
                       NumericArgument, 1, 1) {}

TIENumber TIntegerFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    return {static_cast<double>(EvalInteger(ArgumentOf(call, 0), context)), false};
}

TRoundFunction::TRoundFunction()
    : TNumericFunction("round",
                       "Returns its argument rounded to the nearest whole number (halves to the "
                       "even neighbour), as a float",
                       NumericArgument, 1, 1) {}

TIENumber TRoundFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    // nearbyint in the default rounding mode sends halves to the even neighbour; a finite
    // argument rounds to a finite value, so the result needs no check of its own.
    return {std::nearbyint(CheckFloat(EvalNumber(ArgumentOf(call, 0), context).Value)), true};
}

// ---------------------------------------------------------------------------------------------
// Powers and logarithms

TExpFunction::TExpFunction()
    : TBuiltInFunction("exp", "Returns e raised to the power of its argument", NumericArgument, 1,
                       1) {}

TRefPtr<IIEValue> TExpFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewFloat(Exp(EvalArg(call, 0, context)->GetAsNumeric()));
}

TExptFunction::TExptFunction()
    : TBuiltInFunction("**", "Returns the first argument raised to the power of the second",
                       " <numeric-expression> <numeric-expression>", 2, 2) {}

TRefPtr<IIEValue> TExptFunction::Execute(IFunCall* call, TIEContext* context) {
    const double base = EvalArg(call, 0, context)->GetAsNumeric();
    const double exponent = EvalArg(call, 1, context)->GetAsNumeric();
    return NewFloat(Power(base, exponent));
}

TLogFunction::TLogFunction()
    : TBuiltInFunction("log", "Returns the natural logarithm of its argument", NumericArgument, 1,
                       1) {}

TRefPtr<IIEValue> TLogFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewFloat(Ln(EvalArg(call, 0, context)->GetAsNumeric()));
}

TLog10Function::TLog10Function()
    : TBuiltInFunction("log10", "Returns the base-10 logarithm of its argument", NumericArgument, 1,
                       1) {}

TRefPtr<IIEValue> TLog10Function::Execute(IFunCall* call, TIEContext* context) {
    return NewFloat(Log10(EvalArg(call, 0, context)->GetAsNumeric()));
}

TSqrtFunction::TSqrtFunction()
    : TBuiltInFunction("sqrt", "Returns the square root of its argument", NumericArgument, 1, 1) {}

TRefPtr<IIEValue> TSqrtFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewFloat(Sqrt(EvalArg(call, 0, context)->GetAsNumeric()));
}

TPiFunction::TPiFunction() : TBuiltInFunction("PI", "Returns the value of pi", "", 0, 0) {}

TRefPtr<IIEValue> TPiFunction::Execute(IFunCall*, TIEContext*) {
    return IEPiValue();
}

// ---------------------------------------------------------------------------------------------
// The process-wide random generator

TRandomFunction::TRandomFunction()
    : TBuiltInFunction("random",
                       "Returns a random integer: without arguments from 0 to 65535, with one "
                       "argument from 0 to <high> - 1, with two from <low> to <low> + <high> - 1",
                       " [[<low-integer-expression>] <high-integer-expression>]", 0, 2) {}

TRefPtr<IIEValue> TRandomFunction::Execute(IFunCall* call, TIEContext* context) {
    switch (call->ArgumentCount()) {
    case 0:
        return NewInteger(Random(65536));
    case 1:
        return NewInteger(Random(EvalArg(call, 0, context)->AsInteger()));
    default: {
        const int64_t low = EvalArg(call, 0, context)->AsInteger();
        const int32_t high = EvalArg(call, 1, context)->AsInteger();
        return NewInteger(CheckedInteger(low + Random(high)));
    }
    }
}

TRandomizeFunction::TRandomizeFunction()
    : TBuiltInFunction("randomize",
                       "Seeds the random generator with the given integer, or without one with "
                       "the milliseconds since midnight; returns TRUE",
                       " [<seed-integer-expression> ]", 0, 1) {}

TRefPtr<IIEValue> TRandomizeFunction::Execute(IFunCall* call, TIEContext* context) {
    if (call->ArgumentCount() > 0)
        SetRandSeed(static_cast<uint32_t>(EvalArg(call, 0, context)->AsInteger()));
    else
        Randomize();
    return IETrueValue();
}

TSeedFunction::TSeedFunction()
    : TBuiltInFunction("seed", "Seeds the random generator with the given integer; returns TRUE",
                       " <integer-expression>", 1, 1) {}

TRefPtr<IIEValue> TSeedFunction::Execute(IFunCall* call, TIEContext* context) {
    SetRandSeed(static_cast<uint32_t>(EvalArg(call, 0, context)->AsInteger()));
    return IETrueValue();
}

// ---------------------------------------------------------------------------------------------
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TMathFunctionClasses =
    TFunctionClasses<TAbsFunction, TIntegerDivideFunction, TDivideFunction, TExpFunction,
                     TExptFunction, TFloatFunction, TIntegerFunction, TLogFunction, TLog10Function,
                     TMaxFunction, TMinFunction, TMinusFunction, TModFunction, TPiFunction,
                     TPlusFunction, TRandomFunction, TRandomizeFunction, TRoundFunction,
                     TSeedFunction, TSqrtFunction, TTimesFunction>;

} // namespace

void TMathPackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TMathFunctionClasses::AddTo(Functions());
}

void RegisterMathFunctionClasses() {
    TMathFunctionClasses::Register();
}

void RegisterMathPackage() {
    RegisterPackage<TMathPackage, TMathFunctionClasses>(pMath);
}

namespace {
// Engines create the package and stored functions find their classes from start-up on.
const bool MathPackageRegistered = (RegisterMathPackage(), true);
} // namespace

} // namespace ie

// The checked floating-point routines. Each one tests its domain before calling the C library and
// passes the result through CheckFloat, so no NaN or infinity ever leaves this unit: they become
// EInvalidOp, EZeroDivide or EOverflow.
#include "platform/FloatMath.h"

#include <cmath>
#include <limits>

namespace ie {

double CheckFloat(double value) {
    if (std::isnan(value)) throw EInvalidOp();
    if (std::isinf(value)) throw EOverflow();
    return value;
}

double FloatDivide(double dividend, double divisor) {
    if (divisor == 0.0) {
        if (dividend == 0.0 || std::isnan(dividend)) throw EInvalidOp();
        throw EZeroDivide();
    }
    return CheckFloat(dividend / divisor);
}

double Sqrt(double x) {
    if (x < 0 || std::isnan(x)) throw EInvalidOp();
    return CheckFloat(std::sqrt(x));
}

double Exp(double x) {
    return CheckFloat(std::exp(CheckFloat(x)));
}

double Ln(double x) {
    if (x == 0.0) throw EZeroDivide();
    if (x < 0 || std::isnan(x)) throw EInvalidOp();
    return CheckFloat(std::log(x));
}

double Log10(double x) {
    Ln(x); // the domain checks
    return CheckFloat(std::log10(x));
}

double Log2(double x) {
    Ln(x);
    return CheckFloat(std::log2(x));
}

double LogN(double base, double x) {
    return FloatDivide(Ln(x), Ln(base));
}

double IntPower(double base, int exponent) {
    CheckFloat(base);
    // The magnitude of INT_MIN does not fit an int: work in 64 bits.
    int64_t e = exponent;
    const bool negative = e < 0;
    if (negative) e = -e;
    double result = 1.0;
    double square = base;
    while (e != 0) {
        if (e & 1) result *= square;
        e >>= 1;
        if (e != 0) square *= square;
    }
    if (negative) {
        // The reciprocal of a power too large for a double is a number too small for one: 0.
        if (std::isinf(result)) return 0.0;
        // A power too small for a double has a reciprocal too large for one.
        if (result == 0.0 && base != 0.0) throw EOverflow();
        return FloatDivide(1.0, result);
    }
    return CheckFloat(result);
}

double Power(double base, double exponent) {
    CheckFloat(base);
    CheckFloat(exponent);
    if (exponent == 0.0) return 1.0;
    if (base == 0.0 && exponent > 0.0) return 0.0;
    if (exponent == std::trunc(exponent) && std::fabs(exponent) <= std::numeric_limits<int>::max())
        return IntPower(base, static_cast<int>(exponent));
    return Exp(exponent * Ln(base));
}

double ArcSin(double x) {
    if (!(std::fabs(x) <= 1.0)) throw EInvalidOp();
    return std::asin(x);
}

double ArcCos(double x) {
    if (!(std::fabs(x) <= 1.0)) throw EInvalidOp();
    return std::acos(x);
}

double ArcCosh(double x) {
    if (!(x >= 1.0)) throw EInvalidOp();
    return CheckFloat(std::acosh(x));
}

double ArcTanh(double x) {
    if (std::fabs(x) == 1.0) throw EZeroDivide();
    if (!(std::fabs(x) < 1.0)) throw EInvalidOp();
    return std::atanh(x);
}

} // namespace ie

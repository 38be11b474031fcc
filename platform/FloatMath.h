// The platform's math errors and the checked floating-point routines built on them. A result
// is never a not-a-number or an infinity: an operation outside its domain raises EInvalidOp,
// a division by zero (a pole of the function included) EZeroDivide and a result too large
// for a double EOverflow, with the platform's messages.
#pragma once

#include "platform/Exceptions.h"

#include <cstdint>

namespace ie {

class EMathError : public EException {
public:
    using EException::EException;
};

// "Invalid floating point operation"
class EInvalidOp : public EMathError {
public:
    EInvalidOp() : EMathError("Invalid floating point operation") {}
};

// "Floating point division by zero"
class EZeroDivide : public EMathError {
public:
    EZeroDivide() : EMathError("Floating point division by zero") {}
};

// "Floating point overflow"
class EOverflow : public EMathError {
public:
    EOverflow() : EMathError("Floating point overflow") {}
};

// An argument that a math routine rejects; the message is the routine's name.
class EInvalidArgument : public EMathError {
public:
    using EMathError::EMathError;
};

// Integer arithmetic errors: "Division by zero", "Integer overflow".
class EIntError : public EException {
public:
    using EException::EException;
};

class EDivByZero : public EIntError {
public:
    EDivByZero() : EIntError("Division by zero") {}
};

class EIntOverflow : public EIntError {
public:
    EIntOverflow() : EIntError("Integer overflow") {}
};

// Raises EInvalidOp for a not-a-number and EOverflow for an infinity; returns Value otherwise.
double CheckFloat(double value);

double FloatDivide(double dividend, double divisor); // 0/0 invalid, x/0 division by zero
double Sqrt(double x);
double Exp(double x);
double Ln(double x); // Ln(0) is a division by zero, a negative argument invalid
double Log10(double x);
double Log2(double x);
double LogN(double base, double x);
// Base to an integer power by repeated squaring; a negative exponent gives the reciprocal.
double IntPower(double base, int exponent);
// Exponent 0 gives 1; base 0 with a positive exponent gives 0; a whole exponent within the
// 32-bit range goes through IntPower; any other exponent is Exp(exponent * Ln(base)).
double Power(double base, double exponent);
double ArcSin(double x);
double ArcCos(double x);
double ArcCosh(double x);
double ArcTanh(double x);

} // namespace ie

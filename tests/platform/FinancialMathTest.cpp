// Expected values come from the closed forms worked by hand (r = 10 % over two periods:
// F = 1.21, A = 2.1, or 2.31 for start-of-period payments) or from textbook formulas written
// out here, never from the routines under test.
#include "platform/FinancialMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "tests/support/TestSupport.h"

using namespace ie;

namespace {

constexpr auto End = TPaymentTime::ptEndOfPeriod;
constexpr auto Start = TPaymentTime::ptStartOfPeriod;

std::string ArgumentError(const std::function<void()>& f) {
    return test::MessageOf<EInvalidArgument>(f, "<no EInvalidArgument>");
}

} // namespace

TEST(FinancialMathTest, FutureValue) {
    EXPECT_DOUBLE_EQ(FutureValue(0.0, 10, -100, 0, End), 1000.0);
    EXPECT_DOUBLE_EQ(FutureValue(0.1, 2, -100, -1000, End), 1420.0);
    EXPECT_DOUBLE_EQ(FutureValue(0.1, 2, -100, -1000, Start), 1441.0);
    // Below the small-rate threshold the annuity factor is n (1 + (n - 1) r / 2).
    const double r = 1e-5;
    EXPECT_NEAR(FutureValue(r, 10, -100, 0, End), 100.0 * 10 * (1 + 9 * r / 2), 1e-9);
    EXPECT_EQ(ArgumentError([] { FutureValue(-1.0, 2, -100, 0, End); }), "FutureValue");
    // 2^60 exceeds the largest compound factor the routine accepts.
    EXPECT_EQ(ArgumentError([] { FutureValue(1.0, 60, -1, 0, End); }), "FutureValue");
}

TEST(FinancialMathTest, PresentValue) {
    EXPECT_NEAR(PresentValue(0.1, 2, -100, 0, End), 210.0 / 1.21, 1e-9);
    EXPECT_NEAR(PresentValue(0.1, 2, -100, 0, Start), 231.0 / 1.21, 1e-9);
    EXPECT_NEAR(PresentValue(0.1, 2, 0, -1210, End), 1000.0, 1e-9);
    EXPECT_DOUBLE_EQ(PresentValue(0.0, 4, -25, -100, End), 200.0);
    // An endless annuity is worth pmt / r, also when (1 + r)^n overflows a double.
    EXPECT_NEAR(PresentValue(0.5, 5000, -100, 0, End), 200.0, 1e-9);
    EXPECT_EQ(ArgumentError([] { PresentValue(-2.0, 2, -100, 0, End); }), "PresentValue");
}

TEST(FinancialMathTest, Payment) {
    EXPECT_NEAR(Payment(0.1, 2, 1000, 0, End), -1210.0 / 2.1, 1e-9);
    EXPECT_NEAR(Payment(0.1, 2, 1000, 0, Start), -1210.0 / 2.31, 1e-9);
    EXPECT_DOUBLE_EQ(Payment(0.0, 10, 1000, 0, End), -100.0);
    // The textbook mortgage: 100000 over 360 months at 0.5 % a month.
    const double mortgage = -100000.0 * 0.005 / (1.0 - std::pow(1.005, -360));
    EXPECT_NEAR(Payment(0.005, 360, 100000, 0, End), mortgage, 1e-8);
    EXPECT_NEAR(mortgage, -599.55, 0.005);
    // With a compound factor above 1e16 the payment is that of an endless annuity.
    EXPECT_DOUBLE_EQ(Payment(1.0, 60, 1000, 0, End), -1000.0);
    EXPECT_DOUBLE_EQ(Payment(1.0, 60, 1000, 0, Start), -500.0);
    EXPECT_THROW(Payment(0.1, 0, 1000, 0, End), EZeroDivide);
    EXPECT_EQ(ArgumentError([] { Payment(-1.0, 2, 1000, 0, End); }), "Payment");
}

TEST(FinancialMathTest, InterestAndPrincipalParts) {
    // End of period: 1000 at 10 % repaid in two payments of 576.19...
    EXPECT_NEAR(InterestPayment(0.1, 1, 2, 1000, 0, End), -100.0, 1e-9);
    EXPECT_NEAR(PeriodPayment(0.1, 1, 2, 1000, 0, End), -1210.0 / 2.1 + 100.0, 1e-9);
    const double owedAfterFirst = 1100.0 - 1210.0 / 2.1;
    EXPECT_NEAR(InterestPayment(0.1, 2, 2, 1000, 0, End), -0.1 * owedAfterFirst, 1e-9);
    EXPECT_NEAR(PeriodPayment(0.1, 2, 2, 1000, 0, End), -owedAfterFirst, 1e-9);
    // Start of period: the first payment carries no interest.
    const double pmt = -1210.0 / 2.31;
    EXPECT_EQ(InterestPayment(0.1, 1, 2, 1000, 0, Start), 0.0);
    EXPECT_NEAR(PeriodPayment(0.1, 1, 2, 1000, 0, Start), pmt, 1e-9);
    EXPECT_NEAR(InterestPayment(0.1, 2, 2, 1000, 0, Start), 0.1 * (-1000.0 - pmt), 1e-9);
    EXPECT_NEAR(PeriodPayment(0.1, 2, 2, 1000, 0, Start), pmt - 0.1 * (-1000.0 - pmt), 1e-9);
    EXPECT_EQ(ArgumentError([] { InterestPayment(0.1, 0, 2, 1000, 0, End); }), "InterestPayment");
    EXPECT_EQ(ArgumentError([] { InterestPayment(0.1, 3, 2, 1000, 0, End); }), "InterestPayment");
    EXPECT_EQ(ArgumentError([] { PeriodPayment(0.1, 3, 2, 1000, 0, End); }), "PeriodPayment");
    EXPECT_EQ(ArgumentError([] { PeriodPayment(-1.5, 1, 2, 1000, 0, End); }), "PeriodPayment");
}

TEST(FinancialMathTest, PrincipalPartsRepayTheLoan) {
    for (auto time : {End, Start}) {
        double principal = 0;
        for (int p = 1; p <= 24; ++p)
            principal += PeriodPayment(0.01, p, 24, 5000, 0, time);
        EXPECT_NEAR(principal, -5000.0, 1e-7);
    }
}

TEST(FinancialMathTest, NumberOfPeriods) {
    EXPECT_NEAR(NumberOfPeriods(0.1, -1210.0 / 2.1, 1000, 0, End), 2.0, 1e-12);
    EXPECT_NEAR(NumberOfPeriods(0.1, -1210.0 / 2.31, 1000, 0, Start), 2.0, 1e-12);
    EXPECT_NEAR(NumberOfPeriods(0.1, 0, 1000, -1331, End), 3.0, 1e-12);
    EXPECT_DOUBLE_EQ(NumberOfPeriods(0.0, -100, 1000, 0, End), 10.0);
    // Paying less than the interest never repays the loan.
    EXPECT_EQ(ArgumentError([] { NumberOfPeriods(0.1, -50, 1000, 0, End); }), "NumberOfPeriods");
    EXPECT_EQ(ArgumentError([] { NumberOfPeriods(0.0, 0, 1000, 0, End); }), "NumberOfPeriods");
    EXPECT_EQ(ArgumentError([] { NumberOfPeriods(-1.0, -100, 1000, 0, End); }), "NumberOfPeriods");
}

TEST(FinancialMathTest, InterestRate) {
    EXPECT_NEAR(InterestRate(3, 0, 1000, -1331, End), 0.1, 1e-12);
    EXPECT_NEAR(InterestRate(2, -1210.0 / 2.1, 1000, 0, End), 0.1, 1e-12);
    EXPECT_NEAR(InterestRate(2, -1210.0 / 2.31, 1000, 0, Start), 0.1, 1e-12);
    const double mortgage = -100000.0 * 0.005 / (1.0 - std::pow(1.005, -360));
    EXPECT_NEAR(InterestRate(360, mortgage, 100000, 0, End), 0.005, 1e-12);
    EXPECT_NEAR(InterestRate(10, -100, 1000, 0, End), 0.0, 1e-12);
    // A negative rate: 1000 that shrinks to 810 over two periods.
    EXPECT_NEAR(InterestRate(2, 0, 1000, -810, End), -0.1, 1e-12);
    EXPECT_EQ(ArgumentError([] { InterestRate(0, -100, 1000, 0, End); }), "InterestRate");
    EXPECT_EQ(ArgumentError([] { InterestRate(5, 100, 1000, 0, End); }), "InterestRate");
    EXPECT_EQ(ArgumentError([] { InterestRate(5, 0, 0, 0, End); }), "InterestRate");
}

TEST(FinancialMathTest, NetPresentValue) {
    const std::vector<double> one{110.0};
    EXPECT_NEAR(NetPresentValue(0.1, one, End), 100.0, 1e-12);
    EXPECT_DOUBLE_EQ(NetPresentValue(0.1, one, Start), 110.0);
    const std::vector<double> flows{-100.0, 60.0, 60.5};
    EXPECT_NEAR(NetPresentValue(0.1, flows, Start), -100.0 + 60.0 / 1.1 + 50.0, 1e-12);
    EXPECT_NEAR(NetPresentValue(0.1, flows, End), (-100.0 + 60.0 / 1.1 + 50.0) / 1.1, 1e-12);
    EXPECT_EQ(NetPresentValue(0.1, {}, End), 0.0);
    EXPECT_EQ(ArgumentError([&] { NetPresentValue(-1.0, flows, End); }), "NetPresentValue");
}

TEST(FinancialMathTest, InternalRateOfReturn) {
    const std::vector<double> simple{-100.0, 110.0};
    EXPECT_NEAR(InternalRateOfReturn(0.0, simple), 0.1, 1e-12);
    // -100 + 60 d + 60.5 d^2 = 0 solved for the discount factor d.
    const std::vector<double> flows{-100.0, 60.0, 60.5};
    const double d = (-60.0 + std::sqrt(60.0 * 60.0 + 4 * 60.5 * 100.0)) / (2 * 60.5);
    EXPECT_NEAR(InternalRateOfReturn(0.1, flows), 1.0 / d - 1.0, 1e-12);
    const std::vector<double> noChange{100.0, 200.0};
    EXPECT_EQ(ArgumentError([&] { InternalRateOfReturn(0.1, noChange); }), "InternalRateOfReturn");
    EXPECT_EQ(ArgumentError([] { InternalRateOfReturn(0.1, {}); }), "InternalRateOfReturn");
    EXPECT_EQ(ArgumentError([&] { InternalRateOfReturn(-1.0, simple); }), "InternalRateOfReturn");
}

TEST(FinancialMathTest, Depreciation) {
    EXPECT_DOUBLE_EQ(SLNDepreciation(1000, 100, 9), 100.0);
    EXPECT_EQ(ArgumentError([] { SLNDepreciation(1000, 100, 0); }), "SLNDepreciation");
    EXPECT_DOUBLE_EQ(SYDDepreciation(1000, 100, 4, 1), 360.0);
    EXPECT_DOUBLE_EQ(SYDDepreciation(1000, 100, 4, 4), 90.0);
    EXPECT_EQ(SYDDepreciation(1000, 100, 4, 5), 0.0);
    EXPECT_EQ(SYDDepreciation(100, 1000, 4, 1), 0.0);
    // Double declining balance of 1000 down to 100 over 5 periods: 40 % of what is left,
    // never below the salvage value.
    const double expected[] = {400.0, 240.0, 144.0, 86.4, 29.6, 0.0};
    for (int p = 1; p <= 6; ++p)
        EXPECT_NEAR(DoubleDecliningBalance(1000, 100, 5, p), expected[p - 1], 1e-9) << p;
    EXPECT_EQ(DoubleDecliningBalance(1000, 100, 5, 0), 0.0);
    EXPECT_EQ(DoubleDecliningBalance(100, 1000, 5, 1), 0.0);
    EXPECT_DOUBLE_EQ(DoubleDecliningBalance(1000, 100, 2, 1), 900.0);
    EXPECT_EQ(DoubleDecliningBalance(1000, 100, 2, 2), 0.0);
}

TEST(FinancialMathTest, PaymentTimeNames) {
    TPaymentTime t = End;
    EXPECT_TRUE(TryPaymentTimeFromName("ptStartOfPeriod", t));
    EXPECT_EQ(t, Start);
    EXPECT_TRUE(TryPaymentTimeFromName("PTENDOFPERIOD", t));
    EXPECT_EQ(t, End);
    EXPECT_FALSE(TryPaymentTimeFromName("ptMiddle", t));
    EXPECT_EQ(PaymentTimeName(Start), "ptStartOfPeriod");
}

TEST(FloatMathTest, DomainErrorsRaiseInsteadOfNaN) {
    EXPECT_THROW(Ln(0), EZeroDivide);
    EXPECT_THROW(Ln(-1), EInvalidOp);
    EXPECT_THROW(Log10(-5), EInvalidOp);
    EXPECT_THROW(Sqrt(-1), EInvalidOp);
    EXPECT_THROW(ArcCos(2), EInvalidOp);
    EXPECT_THROW(ArcSin(-1.5), EInvalidOp);
    EXPECT_THROW(ArcCosh(0.5), EInvalidOp);
    EXPECT_THROW(ArcTanh(1), EZeroDivide);
    EXPECT_THROW(ArcTanh(2), EInvalidOp);
    EXPECT_THROW(FloatDivide(1, 0), EZeroDivide);
    EXPECT_THROW(FloatDivide(0, 0), EInvalidOp);
    EXPECT_THROW(Exp(1000), EOverflow);
    EXPECT_THROW(CheckFloat(std::numeric_limits<double>::quiet_NaN()), EInvalidOp);
    try {
        Ln(0);
    } catch (const EMathError& e) {
        EXPECT_EQ(e.Message(), "Floating point division by zero");
    }
    try {
        Sqrt(-1);
    } catch (const EMathError& e) {
        EXPECT_EQ(e.Message(), "Invalid floating point operation");
    }
    try {
        Exp(1000);
    } catch (const EMathError& e) {
        EXPECT_EQ(e.Message(), "Floating point overflow");
    }
}

TEST(FloatMathTest, Powers) {
    EXPECT_EQ(Power(2, 10), 1024.0);
    EXPECT_EQ(Power(-2, 3), -8.0);
    EXPECT_EQ(Power(5, 0), 1.0);
    EXPECT_EQ(Power(0, 0), 1.0);
    EXPECT_EQ(Power(0, 2.5), 0.0);
    EXPECT_EQ(Power(2, -2), 0.25);
    EXPECT_NEAR(Power(2, 0.5), std::sqrt(2.0), 1e-15);
    EXPECT_THROW(Power(0, -1), EZeroDivide);
    EXPECT_THROW(Power(-8, 1.0 / 3.0), EInvalidOp);
    EXPECT_THROW(Power(1e200, 2), EOverflow);
    EXPECT_EQ(IntPower(3, 5), 243.0);
    EXPECT_EQ(IntPower(2, std::numeric_limits<int>::min()), 0.0);
    EXPECT_THROW(IntPower(0.5, std::numeric_limits<int>::min()), EOverflow);
    EXPECT_NEAR(LogN(2, 8), 3.0, 1e-15);
    EXPECT_THROW(LogN(1, 5), EZeroDivide);
    EXPECT_NEAR(Log10(1000), 3.0, 1e-15);
    EXPECT_NEAR(ArcCosh(1), 0.0, 0);
}

#include <gtest/gtest.h>

#include "FunctionPackagesScript.h"

using namespace ie;
using ie::test::FunctionPackagesTest;

using BusinessPackageTest = FunctionPackagesTest;

// Expected values are the closed forms of the annuity identity pv F + pmt A + fv = 0 worked by
// hand for r = 0.1 and n = 2: F = 1.21, A = 2.1 (2.31 for payments at the start). (1.1)^2 is
// not exact in binary, so the results agree to rounding.

TEST_F(BusinessPackageTest, Depreciation) {
    EXPECT_EQ(Float("(sln-depreciation 1000 100 9)"), 100.0);
    EXPECT_EQ(Float("(syd-depreciation 1000 100 4 1)"), 360.0);
    EXPECT_EQ(Float("(syd-depreciation 1000 100 4 5)"), 0.0);
    EXPECT_EQ(Float("(double-declining-balance 1000 100 5 1)"), 400.0);
    EXPECT_EQ(Float("(double-declining-balance 1000 100 5 2)"), 240.0); // 0.4 of 600
    EXPECT_EQ(Float("(double-declining-balance 1000 100 2 1)"), 900.0);
    EXPECT_EQ(Float("(double-declining-balance 1000 100 2 2)"), 0.0);
    EXPECT_EQ(Error("(sln-depreciation 1000 100 0)"), "SLNDepreciation");
}

TEST_F(BusinessPackageTest, TimeValueOfMoney) {
    EXPECT_EQ(Float("(future-value 0 10 -100 0 ptEndOfPeriod)"), 1000.0);
    EXPECT_NEAR(Float("(future-value 0.1 2 0 -1000 ptEndOfPeriod)"), 1210.0, 1e-9);
    EXPECT_NEAR(Float("(future-value 0.1 2 -100 0 ptStartOfPeriod)"), 231.0, 1e-9);
    EXPECT_NEAR(Float("(present-value 0.1 2 -100 0 ptEndOfPeriod)"), 210.0 / 1.21, 1e-9);
    EXPECT_NEAR(Float("(payment 0.1 2 1000 0 ptEndOfPeriod)"), -1210.0 / 2.1, 1e-9);
    EXPECT_NEAR(Float("(payment 0.1 2 1000 0 ptStartOfPeriod)"), -1210.0 / 2.31, 1e-9);
    EXPECT_NEAR(Float("(interest-payment 0.1 1 2 1000 0 ptEndOfPeriod)"), -100.0, 1e-9);
    // Owed after the first payment: 1100 - 1210 / 2.1.
    EXPECT_NEAR(Float("(interest-payment 0.1 2 2 1000 0 ptEndOfPeriod)"),
                -0.1 * (1100.0 - 1210.0 / 2.1), 1e-9);
    EXPECT_NEAR(Float("(period-payment 0.1 1 2 1000 0 ptEndOfPeriod)"), -1210.0 / 2.1 + 100.0,
                1e-9);
    EXPECT_NEAR(Float("(number-of-periods 0.1 (/ -1210.0 2.1) 1000 0 ptEndOfPeriod)"), 2.0, 1e-12);
    EXPECT_NEAR(Float("(number-of-periods 0 -100 1000 0 ptEndOfPeriod)"), 10.0, 1e-12);
    EXPECT_NEAR(Float("(interest-rate 2 (/ -1210.0 2.1) 1000 0 ptEndOfPeriod)"), 0.1, 1e-12);
    // The payment time is an enumeration name in any letter case.
    EXPECT_EQ(Float("(future-value 0 10 -100 0 ptendofperiod)"), 1000.0);
}

TEST_F(BusinessPackageTest, CashFlows) {
    EXPECT_DOUBLE_EQ(Float("(net-present-value 0.1 (create$ 110.0) ptEndOfPeriod)"), 100.0);
    EXPECT_DOUBLE_EQ(Float("(net-present-value 0.1 (create$ 110.0) ptStartOfPeriod)"), 110.0);
    EXPECT_NEAR(Float("(net-present-value 0.1 (create$ -100.0 55.0 60.5) ptStartOfPeriod)"), 0.0,
                1e-12);
    EXPECT_NEAR(Float("(internal-rate-of-return 0.1 (create$ -100.0 55.0 60.5))"), 0.1, 1e-12);
    EXPECT_NEAR(Float("(internal-rate-of-return 0 (create$ -100.0 110.0))"), 0.1, 1e-12);
}

// Cash flows must be floats: the business functions refuse integers (and every other kind)
// rather than reading them as amounts.
TEST_F(BusinessPackageTest, CashFlowsMustBeFloats) {
    EXPECT_EQ(Error("(net-present-value 0.1 (create$ 110) ptEndOfPeriod)"),
              "Not a numeric type.  Value (110) is a dtInteger type");
    EXPECT_EQ(Error("(internal-rate-of-return 0.1 (create$ -100.0 abc))"),
              "Not a numeric type.  Value (abc) is a dtAtom type");
    EXPECT_EQ(Error("(net-present-value 0.1 110.0 ptEndOfPeriod)"),
              "Not a list type.  Value (110.0000) is a dtFloat type");
}

TEST_F(BusinessPackageTest, RejectedArguments) {
    EXPECT_EQ(Error("(future-value -1 10 -100 0 ptEndOfPeriod)"), "FutureValue");
    EXPECT_EQ(Error("(interest-payment 0.1 3 2 1000 0 ptEndOfPeriod)"), "InterestPayment");
    EXPECT_EQ(Error("(period-payment 0.1 0 2 1000 0 ptEndOfPeriod)"), "PeriodPayment");
    EXPECT_EQ(Error("(net-present-value -2 (create$ 1.0) ptEndOfPeriod)"), "NetPresentValue");
    EXPECT_EQ(Error("(internal-rate-of-return 0.1 (create$ 1.0 2.0))"), "InternalRateOfReturn");
    EXPECT_EQ(Error("(number-of-periods 0 0 1000 0 ptEndOfPeriod)"), "NumberOfPeriods");
    EXPECT_EQ(Error("(interest-rate 0 -100 1000 0 ptEndOfPeriod)"), "InterestRate");
    EXPECT_EQ(Error("(future-value 0 10 -100 0 sometime)"), "Bad Argument: sometime");
    EXPECT_EQ(Error("(future-value 0 10 -100 0)"), "Too few arguments for future-value");
    EXPECT_EQ(Error("(sln-depreciation 1000 100 abc)"),
              "Not a integer type.  Value (abc) is a dtAtom type");
}

TEST_F(BusinessPackageTest, RegistersItsFunctionsInOrder) {
    const char* names[] = {
        "double-declining-balance", "future-value",      "interest-payment",  "interest-rate",
        "internal-rate-of-return",  "net-present-value", "number-of-periods", "payment",
        "period-payment",           "present-value",     "sln-depreciation",  "syd-depreciation"};
    const int counts[] = {4, 5, 6, 5, 2, 3, 5, 5, 6, 5, 3, 4};
    ASSERT_EQ(Business->Functions().Count(), 12);
    for (int i = 0; i < 12; ++i) {
        const auto& f = Business->Functions().Item(i);
        EXPECT_EQ(f->GetFunctionName(), names[i]);
        EXPECT_EQ(f->GetMinArgumentCount(), counts[i]) << names[i];
        EXPECT_EQ(f->GetMaxArgumentCount(), counts[i]) << names[i];
        EXPECT_TRUE(Engine.FindUserFunction(names[i])) << names[i];
    }
    EXPECT_EQ(Engine.FindUserFunction("net-present-value")->GetArgumentString(),
              " <rate-numeric-expression> <cash-flows-multifield-expression> "
              "ptEndOfPeriod|ptStartOfPeriod");
}

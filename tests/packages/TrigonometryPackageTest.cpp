#include <gtest/gtest.h>

#include <cmath>

#include "FunctionPackagesScript.h"

using namespace ie;
using ie::test::FunctionPackagesTest;

using TrigonometryPackageTest = FunctionPackagesTest;

namespace {
constexpr double Pi = 3.141592653589793;
}

TEST_F(TrigonometryPackageTest, AngleConversions) {
    EXPECT_EQ(Float("(deg-rad 180)"), Pi);
    EXPECT_NEAR(Float("(rad-deg 3.14159265358979)"), 180.0, 1e-11);
    EXPECT_EQ(Float("(deg-grad 90)"), 100.0);
    EXPECT_EQ(Float("(grad-deg 100)"), 90.0);
    EXPECT_EQ(Float("(grad-rad 200)"), Pi);
    EXPECT_EQ(Float("(rad-grad (PI))"), 200.0);
    EXPECT_EQ(Float("(cycle-rad 0.5)"), Pi);
    EXPECT_EQ(Float("(rad-cycle (PI))"), 0.5);
    EXPECT_EQ(Float("(rad-deg (PI))"), 180.0);
}

TEST_F(TrigonometryPackageTest, ResultsPrintAsFloats) {
    EXPECT_EQ(Engine.Text("(deg-rad 180)"), "3.1416");
    EXPECT_EQ(Engine.Text("(atan2 0 1)"), "1.5708");
    EXPECT_EQ(Engine.Text("(distance (create$ 0 0) (create$ 3 4))"), "5.0000");
}

TEST_F(TrigonometryPackageTest, Atan2TakesXFirst) {
    EXPECT_EQ(Float("(atan2 0 1)"), Pi / 2);
    EXPECT_EQ(Float("(atan2 1 0)"), 0.0);
    EXPECT_EQ(Float("(atan2 -1 0)"), Pi);
    EXPECT_EQ(Float("(atan2 0 -1)"), -Pi / 2);
    EXPECT_DOUBLE_EQ(Float("(atan2 1 1)"), Pi / 4);
}

TEST_F(TrigonometryPackageTest, InverseSecantAndCosecantOfNegativeArguments) {
    EXPECT_DOUBLE_EQ(Float("(asec 2)"), Pi / 3);
    EXPECT_DOUBLE_EQ(Float("(asec -2)"), 4 * Pi / 3);
    EXPECT_EQ(Float("(asec -1)"), Pi);
    EXPECT_EQ(Float("(acsc -1)"), 3 * Pi / 2);
    EXPECT_DOUBLE_EQ(Float("(acsc 2)"), Pi / 6);
    EXPECT_EQ(Float("(acot 0)"), Pi / 2);
    EXPECT_DOUBLE_EQ(Float("(acot -1)"), 3 * Pi / 4);
}

TEST_F(TrigonometryPackageTest, CircularAndHyperbolicValues) {
    EXPECT_DOUBLE_EQ(Float("(sin (/ (PI) 6))"), 0.5);
    EXPECT_DOUBLE_EQ(Float("(cos (/ (PI) 3))"), 0.5);
    EXPECT_DOUBLE_EQ(Float("(tan (/ (PI) 4))"), 1.0);
    EXPECT_DOUBLE_EQ(Float("(cot (/ (PI) 4))"), 1.0);
    EXPECT_DOUBLE_EQ(Float("(sec (/ (PI) 3))"), 2.0);
    EXPECT_DOUBLE_EQ(Float("(csc (/ (PI) 6))"), 2.0);
    EXPECT_EQ(Float("(cosh 0)"), 1.0);
    EXPECT_EQ(Float("(sech 0)"), 1.0);
    EXPECT_EQ(Float("(sinh 0)"), 0.0);
    EXPECT_EQ(Float("(tanh 0)"), 0.0);
    // sinh 1 = (e - 1/e) / 2 and its kin, by hand.
    const double e = 2.718281828459045;
    EXPECT_DOUBLE_EQ(Float("(sinh 1)"), (e - 1 / e) / 2);
    EXPECT_DOUBLE_EQ(Float("(cosh 1)"), (e + 1 / e) / 2);
    EXPECT_DOUBLE_EQ(Float("(coth 1)"), (e + 1 / e) / (e - 1 / e));
    EXPECT_DOUBLE_EQ(Float("(csch 1)"), 2 / (e - 1 / e));
    EXPECT_DOUBLE_EQ(Float("(asinh 1)"), std::log(1 + std::sqrt(2.0)));
    EXPECT_DOUBLE_EQ(Float("(acosh 2)"), std::log(2 + std::sqrt(3.0)));
    EXPECT_DOUBLE_EQ(Float("(atanh 0.5)"), std::log(3.0) / 2);
    EXPECT_DOUBLE_EQ(Float("(acoth 3)"), std::log(2.0) / 2);
    EXPECT_DOUBLE_EQ(Float("(asech 0.5)"), std::log(2 + std::sqrt(3.0)));
    EXPECT_DOUBLE_EQ(Float("(acsch 1)"), std::log(1 + std::sqrt(2.0)));
    EXPECT_EQ(Float("(asin 1)"), Pi / 2);
    EXPECT_EQ(Float("(acos -1)"), Pi);
    EXPECT_EQ(Float("(atan 0)"), 0.0);
    // Integers, floats and numeric texts are all read as numbers.
    EXPECT_EQ(Float("(cos \"0\")"), 1.0);
}

// ln(1/x + sqrt(1/x^2 + 1)) of a small negative x loses every digit to cancellation and takes
// the logarithm of 0; the value is asinh(1/x) = -ln(2e10) for x = -1e-10.
TEST_F(TrigonometryPackageTest, AcschOfASmallNegativeArgumentIsFinite) {
    EXPECT_NEAR(Float("(acsch -1.0e-10)"), -(std::log(2.0) + 10 * std::log(10.0)), 1e-12);
}

TEST_F(TrigonometryPackageTest, DomainErrorsRaise) {
    const std::string invalid = "Invalid floating point operation";
    const std::string pole = "Floating point division by zero";
    EXPECT_EQ(Error("(acos 2)"), invalid);
    EXPECT_EQ(Error("(asin -1.5)"), invalid);
    EXPECT_EQ(Error("(acosh 0.5)"), invalid);
    EXPECT_EQ(Error("(atanh 2)"), invalid);
    EXPECT_EQ(Error("(acoth 0.5)"), invalid);
    EXPECT_EQ(Error("(asech 2)"), invalid);
    EXPECT_EQ(Error("(asech -0.5)"), invalid);
    EXPECT_EQ(Error("(asec 0.5)"), invalid);
    EXPECT_EQ(Error("(acsc 0.5)"), invalid);
    EXPECT_EQ(Error("(cot 0)"), pole);
    EXPECT_EQ(Error("(csch 0)"), pole);
    EXPECT_EQ(Error("(coth 0)"), pole);
    EXPECT_EQ(Error("(acoth 1)"), pole);
    EXPECT_EQ(Error("(acoth -1)"), pole);
    EXPECT_EQ(Error("(atanh 1)"), pole);
    EXPECT_EQ(Error("(asec 0)"), pole);
    EXPECT_EQ(Error("(acsc 0)"), pole);
    EXPECT_EQ(Error("(asech 0)"), pole);
    EXPECT_EQ(Error("(acsch 0)"), pole);
    EXPECT_EQ(Error("(cosh 1000)"), "Floating point overflow");
    EXPECT_EQ(Error("(sinh -1000)"), "Floating point overflow");
    EXPECT_EQ(Error("(hypotenuse 1.5e308 1.5e308)"), "Floating point overflow");
    EXPECT_EQ(Error("(sin abc)"), "Not a numeric type.  Value (abc) is a dtAtom type");
}

// csc x as 1 / cos(pi/2 - x) gives about 1.6e16 at 0, since pi/2 is not exact; 0 is a pole.
TEST_F(TrigonometryPackageTest, CscOfZeroIsAPole) {
    EXPECT_EQ(Error("(csc 0)"), "Floating point division by zero");
}

TEST_F(TrigonometryPackageTest, HypotenuseAndDistances) {
    EXPECT_EQ(Float("(hypotenuse 3 4)"), 5.0);
    EXPECT_EQ(Float("(hypotenuse 1.0e300 1.0e300)"), std::sqrt(2.0) * 1.0e300);
    EXPECT_EQ(Float("(distance (create$ 0 0) (create$ 3 4))"), 5.0);
    EXPECT_EQ(Float("(distance-sqr (create$ 0 0) (create$ 3 4))"), 25.0);
    EXPECT_EQ(Float("(distance-manhattan (create$ 0 0) (create$ 3 4))"), 7.0);
    EXPECT_EQ(Float("(distance-manhattan (create$ 1 -2 3) (create$ -1 2 3.5))"), 6.5);
    EXPECT_EQ(Float("(distance (create$) (create$))"), 0.0);
    EXPECT_EQ(Error("(distance (create$ 1 2) (create$ 1))"),
              "Invalid multifield arguments, the two multifields must be of the same length");
    EXPECT_EQ(Error("(distance 1 (create$ 1))"), "Not a list type.  Value (1) is a dtInteger type");
    EXPECT_EQ(Error("(distance (create$ a) (create$ 1))"),
              "Not a numeric type.  Value (a) is a dtAtom type");
}

TEST_F(TrigonometryPackageTest, RegistersItsFunctionsInOrder) {
    const char* names[] = {
        "acos",     "acosh",    "acot",       "acoth",        "acsc",
        "acsch",    "asec",     "asech",      "asin",         "asinh",
        "atan",     "atan2",    "atanh",      "cos",          "cosh",
        "cot",      "coth",     "csc",        "csch",         "cycle-rad",
        "deg-grad", "deg-rad",  "distance",   "distance-sqr", "distance-manhattan",
        "grad-deg", "grad-rad", "hypotenuse", "rad-cycle",    "rad-deg",
        "rad-grad", "sec",      "sech",       "sin",          "sinh",
        "tan",      "tanh"};
    ASSERT_EQ(Trigonometry->Functions().Count(), 37);
    for (int i = 0; i < 37; ++i) {
        EXPECT_EQ(Trigonometry->Functions().Item(i)->GetFunctionName(), names[i]);
        EXPECT_TRUE(Engine.FindUserFunction(names[i])) << names[i];
    }
    auto cos = Engine.FindUserFunction("cos");
    EXPECT_EQ(cos->GetArgumentString(), " <numeric-expression>");
    EXPECT_EQ(cos->GetMinArgumentCount(), 1);
    EXPECT_EQ(cos->GetMaxArgumentCount(), 1);
    EXPECT_EQ(Engine.FindUserFunction("atan2")->GetArgumentString(),
              " <numeric-expression-X> <numeric-expression-Y>");
    EXPECT_EQ(Engine.FindUserFunction("distance")->GetArgumentString(),
              " <multifield-expression-1> <multifield-expression-2>");
    EXPECT_EQ(Error("(atan2 1)"), "Too few arguments for atan2");
    EXPECT_EQ(Error("(sin 1 2)"), "Too many arguments for sin");
}

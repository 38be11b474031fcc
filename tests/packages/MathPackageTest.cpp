#include <gtest/gtest.h>

#include <cstdint>

#include "FunctionPackagesScript.h"
#include "platform/Random.h"

using namespace ie;
using ie::test::FunctionPackagesTest;

using MathPackageTest = FunctionPackagesTest;

TEST_F(MathPackageTest, SumsAndProductsAreIntegersUnlessAFloatTakesPart) {
    EXPECT_EQ(Integer("(+ 1 2)"), 3);
    EXPECT_EQ(Float("(+ 1 2.0)"), 3.0);
    EXPECT_EQ(Integer("(+)"), 0);
    EXPECT_EQ(Integer("(*)"), 1);
    EXPECT_EQ(Integer("(* 6 7)"), 42);
    EXPECT_EQ(Float("(* 2 0.25)"), 0.5);
    // Texts are read as numbers but do not make the result a float; the sum is rounded with
    // halves to the even neighbour.
    EXPECT_EQ(Integer("(+ \"1.5\" 1)"), 2);
    EXPECT_EQ(Integer("(+ \"2.5\" 1)"), 4);
}

TEST_F(MathPackageTest, DifferencesAndQuotients) {
    EXPECT_EQ(Float("(- 2.5 1)"), 1.5);
    EXPECT_EQ(Integer("(- 5)"), 5); // one argument is the value, not its negation
    EXPECT_EQ(Integer("(- 10 3 2)"), 5);
    EXPECT_EQ(Float("(/ 7 2)"), 3.5);
    EXPECT_EQ(Float("(/ 4)"), 4.0);
    EXPECT_EQ(Float("(/ 100 2 5)"), 10.0);
    EXPECT_EQ(Integer("(div 7 2)"), 3);
    EXPECT_EQ(Integer("(div -7 2)"), -3);
    EXPECT_EQ(Integer("(div 100 3 2)"), 16);
    EXPECT_EQ(Integer("(mod -7 2)"), -1);
    EXPECT_EQ(Integer("(mod 7 -2)"), 1);
}

TEST_F(MathPackageTest, RoundingAndConversions) {
    EXPECT_EQ(Float("(round 2.5)"), 2.0);
    EXPECT_EQ(Float("(round 3.5)"), 4.0);
    EXPECT_EQ(Float("(round -2.5)"), -2.0);
    EXPECT_EQ(Float("(round 7)"), 7.0);
    EXPECT_EQ(Integer("(integer -2.7)"), -2);
    EXPECT_EQ(Float("(float 3)"), 3.0);
    EXPECT_EQ(Integer("(abs -4)"), 4);
    EXPECT_EQ(Float("(abs -4.5)"), 4.5);
}

TEST_F(MathPackageTest, ExtremesKeepTheKindOfTheBestValueSeen) {
    EXPECT_EQ(Integer("(max 3 1.5)"), 3);
    EXPECT_EQ(Float("(max 1.5 3)"), 3.0);
    EXPECT_EQ(Integer("(min 2)"), 2);
    EXPECT_EQ(Float("(min 1.5 3)"), 1.5);
    // A float that was once the best keeps the result a float.
    EXPECT_EQ(Float("(min 3 1.5 1)"), 1.0);
}

TEST_F(MathPackageTest, PowersAndLogarithms) {
    EXPECT_EQ(Float("(** 2 10)"), 1024.0);
    EXPECT_EQ(Float("(** 0 0)"), 1.0);
    EXPECT_EQ(Float("(** 2 -2)"), 0.25);
    EXPECT_EQ(Float("(** 0 3)"), 0.0);
    EXPECT_DOUBLE_EQ(Float("(** 4 0.5)"), 2.0);
    EXPECT_EQ(Float("(exp 0)"), 1.0);
    EXPECT_EQ(Float("(log 1)"), 0.0);
    EXPECT_EQ(Float("(log10 1000)"), 3.0);
    EXPECT_EQ(Float("(sqrt 16)"), 4.0);
}

TEST_F(MathPackageTest, PiIsTheSharedConstant) {
    EXPECT_EQ(Eval("(PI)").get(), IEPiValue().get());
    EXPECT_EQ(Float("(PI)"), 3.141592653589793);
    // Names are case-sensitive: "pi" belongs to the fuzzy logic package, not to this one.
    EXPECT_EQ(Error("(pi)"), "Function is unimplemented or unassigned: pi");
}

TEST_F(MathPackageTest, FloatErrorsInsteadOfNotANumberOrInfinity) {
    EXPECT_EQ(Error("(/ 1 0)"), "Floating point division by zero");
    EXPECT_EQ(Error("(/ 0 0)"), "Invalid floating point operation");
    EXPECT_EQ(Error("(log 0)"), "Floating point division by zero");
    EXPECT_EQ(Error("(log -1)"), "Invalid floating point operation");
    EXPECT_EQ(Error("(log10 0)"), "Floating point division by zero");
    EXPECT_EQ(Error("(sqrt -1)"), "Invalid floating point operation");
    EXPECT_EQ(Error("(** -8 0.5)"), "Invalid floating point operation");
    EXPECT_EQ(Error("(** 0 -1)"), "Floating point division by zero");
    EXPECT_EQ(Error("(exp 1000)"), "Floating point overflow");
    EXPECT_EQ(Error("(* 1.0e200 1.0e200)"), "Floating point overflow");
    EXPECT_EQ(Error("(+ 1.0e308 1.0e308)"), "Floating point overflow");
}

TEST_F(MathPackageTest, IntegerErrors) {
    EXPECT_EQ(Error("(div 1 0)"), "Division by zero");
    EXPECT_EQ(Error("(mod 1 0)"), "Division by zero");
    EXPECT_EQ(Error("(abs \"x\")"), "Expected numeric argument to abs function call");
    EXPECT_EQ(Error("(abs abc)"), "Expected numeric argument to abs function call");
    EXPECT_EQ(Error("(div abc 2)"), "Not a integer type.  Value (abc) is a dtAtom type");
    EXPECT_EQ(Error("(+ 1 abc)"), "Not a numeric type.  Value (abc) is a dtAtom type");
    EXPECT_EQ(Error("(mod 1)"), "Too few arguments for mod");
    EXPECT_EQ(Error("(PI 1)"), "Too many arguments for PI");
    EXPECT_EQ(Error("(-)"), "Too few arguments for -");
}

// A 32-bit result that does not fit raises instead of keeping its low bits.
TEST_F(MathPackageTest, IntegerOverflowRaisesInsteadOfWrapping) {
    EXPECT_EQ(Integer("(- 0 2147483647 1)"), INT32_MIN);
    EXPECT_EQ(Error("(+ 2147483647 1)"), "Integer overflow");
    EXPECT_EQ(Error("(* 65536 65536)"), "Integer overflow");
    EXPECT_EQ(Error("(- 0 2147483647 2)"), "Integer overflow");
    // Float results are not limited to 32 bits.
    EXPECT_EQ(Float("(max 1 (+ 0.0 3000000000))"), 3.0e9);
    EXPECT_EQ(Error("(abs (- 0 2147483647 1))"), "Integer overflow");
    EXPECT_EQ(Error("(div (- 0 2147483647 1) -1)"), "Integer overflow");
    EXPECT_EQ(Error("(mod (- 0 2147483647 1) -1)"), "Integer overflow");
    // Seed 2^31 advances to 2^31 + 1, whose draw of range 2 is 1.
    EXPECT_EQ(Error("(seed (- 0 2147483647 1)) (random 2147483647 2)"), "Integer overflow");
}

TEST_F(MathPackageTest, RandomDrawsFromTheSharedSeed) {
    // seed 1 -> 1 * 134775813 + 1 = 134775814; 134775814 * 100 / 2^32 = 3.13...
    EXPECT_EQ(Eval("(seed 1)").get(), IETrueValue().get());
    EXPECT_EQ(GetRandSeed(), 1u);
    EXPECT_EQ(Integer("(random 100)"), 3);
    EXPECT_EQ(GetRandSeed(), 134775814u);
    EXPECT_EQ(Integer("(seed 1) (random 100)"), 3);
    // With two arguments: low plus a draw of range high.
    EXPECT_EQ(Integer("(seed 1) (random 5 10)"), 5);
    // Without arguments the range is 65536: 134775814 * 65536 / 2^32 = 2056.5...
    EXPECT_EQ(Integer("(seed 1) (random)"), 2056);
    Eval("(randomize 7)");
    EXPECT_EQ(GetRandSeed(), 7u);
    for (int i = 0; i < 50; ++i) {
        const int32_t r = Integer("(random 5 10)");
        EXPECT_GE(r, 5);
        EXPECT_LE(r, 14);
    }
    EXPECT_EQ(Eval("(randomize)").get(), IETrueValue().get());
}

TEST_F(MathPackageTest, RegistersItsFunctionsInOrder) {
    const char* names[] = {"abs", "div",    "/",         "exp",   "**",   "float", "integer",
                           "log", "log10",  "max",       "min",   "-",    "mod",   "PI",
                           "+",   "random", "randomize", "round", "seed", "sqrt",  "*"};
    ASSERT_EQ(Math->Functions().Count(), 21);
    for (int i = 0; i < 21; ++i) {
        EXPECT_EQ(Math->Functions().Item(i)->GetFunctionName(), names[i]);
        EXPECT_TRUE(Engine.FindUserFunction(names[i])) << names[i];
    }
    auto random = Engine.FindUserFunction("random");
    EXPECT_EQ(random->GetArgumentString(),
              " [[<low-integer-expression>] <high-integer-expression>]");
    EXPECT_EQ(random->GetMinArgumentCount(), 0);
    EXPECT_EQ(random->GetMaxArgumentCount(), 2);
    EXPECT_EQ(Engine.FindUserFunction("+")->GetMaxArgumentCount(), 2147483647);
    EXPECT_EQ(Engine.FindUserFunction("PI")->GetArgumentString(), "");
    EXPECT_EQ(Engine.FindUserFunction("randomize")->GetArgumentString(),
              " [<seed-integer-expression> ]");
}

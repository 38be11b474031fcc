#include "fuzzy/IFuzzyLogic.h"

#include <gtest/gtest.h>

#include <cmath>

#include "FuzzyTestSupport.h"

namespace ie {
namespace {

using test::MakeSet;

TRefPtr<TIFuzzyVariable> MakeVariable(TFzyFloat min, TFzyFloat max) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    v->SetMaximum(max);
    v->SetMinimum(min);
    return v;
}

std::string Text(const IFuzzySet& set) {
    return set.ValuesAsString();
}

// --- Points and membership ---

TEST(FuzzySetPoints, AddKeepsAscendingOrder) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    s->Add(0, 0);
    s->Add(1, 1);
    EXPECT_EQ(s->Add(0.5, 0.5), 1);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (0.5000 0.5000) (1.0000 1.0000) )");
}

TEST(FuzzySetPoints, DuplicatesGoVerticalStepsStay) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    s->Add(0, 0);
    s->Add(1, 0.5);
    s->Add(1, 0.50004); // equal within the epsilon: replaces the older point
    EXPECT_EQ(s->Count(), 2);
    s->Add(1, 1); // a vertical step
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (1.0000 0.5000) (1.0000 1.0000) )");
    EXPECT_DOUBLE_EQ(s->GetMembership(1.0), 1.0);
}

TEST(FuzzySetPoints, GradesBelowZeroAreZeroAboveOneAreKept) {
    auto s = MakeSet("s", {{0, -0.5}, {1, 1.5}});
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (1.0000 1.5000) )");
}

TEST(FuzzySetPoints, MembershipInterpolatesAndHoldsOutside) {
    auto s = MakeSet("s", {{0, 0.2}, {2, 1}, {4, 0.4}});
    EXPECT_DOUBLE_EQ(s->GetMembership(-100), 0.2);
    EXPECT_DOUBLE_EQ(s->GetMembership(100), 0.4);
    EXPECT_DOUBLE_EQ(s->GetMembership(1), 0.6);
    EXPECT_DOUBLE_EQ(s->GetMembership(3), 0.7);
    EXPECT_DOUBLE_EQ(MakeRef<TIFuzzySet>(nullptr, "e")->GetMembership(1), 0.0);
}

TEST(FuzzySetPoints, XIsClampedToTheVariablesUniverse) {
    auto v = MakeVariable(0, 10);
    auto s = MakeSet("s", {{-5, 1}, {20, 0}}, v.get());
    EXPECT_EQ(Text(*s), "((0.0000 1.0000) (10.0000 0.0000) )");
}

TEST(FuzzySetPoints, ResampleInsertsPointsOnTheSegments) {
    auto s = MakeSet("s", {{0, 0}, {1, 1}, {2, 0}});
    s->Resample(7);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (0.3333 0.3333) (0.6667 0.6667) (1.0000 1.0000) "
                        "(1.3333 0.6667) (1.6667 0.3333) (2.0000 0.0000) )");
}

// Grades above 1 are legal: the largest grade is not the first grade of 1.
TEST(FuzzySetPoints, MaxYScansPastAGradeOfOne) {
    auto s = MakeSet("s", {{0, 1}, {1, 1.5}});
    EXPECT_DOUBLE_EQ(s->MaxY(), 1.5);
    s->Normalize();
    EXPECT_EQ(Text(*s), "((0.0000 0.6667) (1.0000 1.0000) )");
}

TEST(FuzzySetPoints, EmptySetHasNoExtremeGrades) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    try {
        s->MaxY();
        FAIL();
    } catch (const EFzyException& e) {
        EXPECT_STREQ(e.what(), "Invalid operation: \"Get Maximum Y Value\".  Fuzzy set is empty");
    }
    EXPECT_THROW(s->Normalize(), EFzyException);
}

// --- Names, ranges, shapes ---

TEST(FuzzySetShapes, ReservedNameIsRefused) {
    auto s = MakeSet("hot", {{0, 1}});
    try {
        s->SetName("very");
        FAIL();
    } catch (const EFzyException& e) {
        EXPECT_STREQ(e.what(), "Invalid fuzzy set name, \"very\" is a reserved word");
    }
    EXPECT_EQ(s->GetName(), "hot");
    EXPECT_THROW(s->SetName(">=X"), EFzyException);
    EXPECT_THROW(MakeRef<TIFuzzySet>(nullptr, "and"), EFzyException);
}

TEST(FuzzySetShapes, XRangeIndexAndUniverse) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    EXPECT_DOUBLE_EQ(s->GetXRange(0), 2147483647.0);
    EXPECT_DOUBLE_EQ(s->GetXMax(), 2147483647.0);
    try {
        s->GetXRange(2);
        FAIL();
    } catch (const EFzyException& e) {
        EXPECT_STREQ(e.what(), "Invalid index argument to GetXRange.  Index = 2");
    }
}

TEST(FuzzySetShapes, DefaultTriangleOverTheUniverse) {
    auto v = MakeVariable(0, 1);
    auto s = MakeRef<TIFuzzySet>(v.get(), "t");
    s->SetSetType(fstTriangle);
    EXPECT_EQ(s->GetSetType(), fstTriangle);
    EXPECT_EQ(Text(*s), "((0.1667 0.0000) (0.5000 1.0000) (0.8333 0.0000) )");
    auto w = MakeVariable(10, 20);
    auto t = MakeRef<TIFuzzySet>(w.get(), "t");
    t->SetSetType(fstTriangle);
    EXPECT_EQ(Text(*t), "((11.6667 0.0000) (15.0000 1.0000) (18.3333 0.0000) )");
}

TEST(FuzzySetShapes, SCurveHasAtLeastThreePointsAndChecksItsRange) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    s->SCurve(2, true, 0, 2, 1);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (1.0000 0.5000) (2.0000 1.0000) )");
    EXPECT_EQ(s->GetSetType(), fstGrowthCurve);
    s->SCurve(5, false, 0, 4, 2); // Z curve: 1 - S
    EXPECT_EQ(Text(*s), "((0.0000 1.0000) (1.0000 0.8750) (2.0000 0.5000) (3.0000 0.1250) "
                        "(4.0000 0.0000) )");
    try {
        s->SCurve(5, true, 2, 1, 1);
        FAIL();
    } catch (const EFzyException& e) {
        EXPECT_STREQ(e.what(), "Invalid range arguments.  Left (2.0000) is greater than right "
                               "(1.0000)");
    }
    EXPECT_EQ(s->Count(), 5); // unchanged
}

TEST(FuzzySetShapes, PICurveOfSevenPointsHasOnePeak) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    s->PICurve(7, 0, 6, 3);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (1.0000 0.2222) (2.0000 0.7778) (3.0000 1.0000) "
                        "(4.0000 0.7778) (5.0000 0.2222) (6.0000 0.0000) )");
    EXPECT_EQ(s->GetSetType(), fstPICurve);
    EXPECT_DOUBLE_EQ(s->GetCurveParameter(), 4.5);
}

// With few points the duplicated peak goes, not the growth curve's midpoint.
TEST(FuzzySetShapes, PICurveWithFewPointsStaysSymmetric) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    s->PICurve(3, 0, 2, 1);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (0.5000 0.5000) (1.0000 1.0000) (1.5000 0.5000) "
                        "(2.0000 0.0000) )");
}

TEST(FuzzySetShapes, BetaCurve) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    s->BetaCurve(5, 2, 0, 1);
    // 1 / (1 + x^2) at -2, -1, 0, 1, 2
    EXPECT_EQ(Text(*s), "((-2.0000 0.2000) (-1.0000 0.5000) (0.0000 1.0000) (1.0000 0.5000) "
                        "(2.0000 0.2000) )");
    s->BetaCurveWeighted(3, 1, 0, 0, 1); // no width: a spike, not a division by zero
    EXPECT_EQ(Text(*s), "((-1.0000 0.0000) (0.0000 1.0000) (1.0000 0.0000) )");
}

// --- Hedges ---

TEST(FuzzySetHedges, VerySquaresTheResampledGrades) {
    auto s = MakeSet("hot", {{0, 0}, {1, 1}, {2, 0}});
    s->Hedge(fhVery);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (0.3333 0.1111) (0.6667 0.4444) (1.0000 1.0000) "
                        "(1.3333 0.4444) (1.6667 0.1111) (2.0000 0.0000) )");
    EXPECT_EQ(s->GetName(), "very hot");
    EXPECT_EQ(s->GetExpression(), "[very hot]");
    EXPECT_EQ(s->GetSetType(), fstUserDefined);
    s->Hedge(fhNot);
    EXPECT_EQ(s->GetName(), "not [very hot]");
}

TEST(FuzzySetHedges, NotTwiceRestores) {
    auto s = MakeSet("s", {{0, 0.25}, {1, 1}, {2, 0}});
    s->Hedge(fhNot);
    EXPECT_EQ(Text(*s), "((0.0000 0.7500) (1.0000 0.0000) (2.0000 1.0000) )");
    s->Hedge(fhNot);
    EXPECT_EQ(Text(*s), "((0.0000 0.2500) (1.0000 1.0000) (2.0000 0.0000) )");
}

TEST(FuzzySetHedges, AboveAndBelow) {
    auto s = MakeSet("s", {{0, 0}, {1, 1}, {2, 0}});
    s->Hedge(fhAbove);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (1.0000 0.0000) (2.0000 1.0000) )");
    auto t = MakeSet("t", {{0, 0}, {1, 1}, {2, 0}});
    t->Hedge(fhBelow);
    EXPECT_EQ(Text(*t), "((0.0000 1.0000) (1.0000 0.0000) (2.0000 0.0000) )");
}

// The peak is the largest grade even when a grade of exactly 1 comes first.
TEST(FuzzySetHedges, AboveFindsAPeakBeyondOne) {
    auto s = MakeSet("s", {{0, 0}, {1, 1}, {2, 0.8}, {3, 1.5}, {4, 0}});
    s->Hedge(fhAbove);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (1.0000 0.0000) (2.0000 0.0000) (3.0000 0.0000) "
                        "(4.0000 1.0000) )");
}

// Grades above 1 are taken as 1 before a fractional power: no not-a-number.
TEST(FuzzySetHedges, IntensificationOfGradesAboveOne) {
    auto s = MakeSet("s", {{0, 0.5}, {1, 1.5}});
    s->Hedge(fhGenerally);
    EXPECT_EQ(Text(*s), "((0.0000 0.6464) (0.1667 0.7113) (0.3333 0.7959) (0.5000 1.0000) "
                        "(0.6667 1.0000) (0.8333 1.0000) (1.0000 1.0000) )");
}

// A universe shrunk to one point after the set was made must not divide by zero.
TEST(FuzzySetHedges, WideningOnAUniverseOfOnePoint) {
    auto v = MakeVariable(0, 1);
    auto s = MakeSet("s", {{0, 0}, {0.5, 1}, {1, 0}}, v.get());
    v->SetMinimum(1);
    ASSERT_DOUBLE_EQ(v->GetMaximum(), 1.0);
    s->Hedge(fhAbout);
    EXPECT_EQ(Text(*s), "((1.0000 1.0000) )");
    EXPECT_EQ(s->GetName(), "about s");
}

TEST(FuzzySetHedges, WideningSpreadsASpike) {
    auto v = MakeVariable(0, 49);
    auto s = MakeSet("s", {{24, 0}, {25, 1}, {26, 0}}, v.get());
    s->Hedge(fhAbout);
    ASSERT_EQ(s->Count(), 50);
    EXPECT_DOUBLE_EQ(s->MaxY(), 1.0);
    EXPECT_DOUBLE_EQ(s->GetMembership(25), 1.0);
    // s = 2/49; at x = 0: d = 25 * 2/49, grade 1 / (1 + d^2)
    double d = 25.0 * 2 / 49;
    EXPECT_NEAR(s->GetMembership(0), 1 / (1 + d * d), 1e-9);
}

TEST(FuzzySetHedges, SlightlyAndNormalizeOnEmptySetRaise) {
    auto s = MakeRef<TIFuzzySet>(nullptr, "s");
    EXPECT_THROW(s->Hedge(fhNormalize), EFzyException);
    EXPECT_THROW(s->Hedge(fhSlightly), EFzyException);
}

// --- Arithmetic ---

TEST(FuzzySetArithmetic, GradesAndX) {
    auto s = MakeSet("hot", {{0, 0}, {1, 0.5}, {2, 0}});
    s->Arithmetic(faoAdd, true, 0.1);
    EXPECT_EQ(Text(*s), "((0.0000 0.1000) (1.0000 0.6000) (2.0000 0.1000) )");
    EXPECT_EQ(s->GetName(), "hot + 0.1000");
    EXPECT_EQ(s->GetExpression(), "+ hot");
    s->Arithmetic(faoAdd, false, 10);
    EXPECT_EQ(Text(*s), "((10.0000 0.1000) (11.0000 0.6000) (12.0000 0.1000) )");
    EXPECT_EQ(s->GetName(), "[hot + 0.1000] +X 10.0000");
    s->Arithmetic(faoMultiply, false, -1); // reversed x: sorted again
    EXPECT_EQ(Text(*s), "((-12.0000 0.1000) (-11.0000 0.6000) (-10.0000 0.1000) )");
    s->Arithmetic(faoLowerAbove, true, 0.5);
    EXPECT_EQ(Text(*s), "((-12.0000 0.1000) (-11.0000 0.5000) (-10.0000 0.1000) )");
}

TEST(FuzzySetArithmetic, NoInfinityOrNotANumber) {
    auto s = MakeSet("s", {{1, 0.5}, {10, 1}});
    try {
        s->Arithmetic(faoDivide, true, 0);
        FAIL();
    } catch (const EFzyException& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
    EXPECT_THROW(s->Arithmetic(faoPower, false, 400), EFzyException);
    EXPECT_THROW(s->Arithmetic(faoAdd, true, std::nan("")), EFzyException);
    EXPECT_EQ(Text(*s), "((1.0000 0.5000) (10.0000 1.0000) )"); // unchanged
    EXPECT_EQ(s->GetName(), "s");
}

} // namespace
} // namespace ie

#include "fuzzy/IFuzzyLogic.h"

#include <gtest/gtest.h>

#include "FuzzyTestSupport.h"

namespace ie {
namespace {

using test::MakeSet;

std::string Text(const IFuzzySet& set) {
    return set.ValuesAsString();
}

TEST(FuzzyCombine, IntersectionOfOverlappingTrianglesHoldsTheCrossing) {
    auto a = MakeSet("a", {{0, 0}, {1, 1}, {2, 0}});
    auto b = MakeSet("b", {{1, 0}, {2, 1}, {3, 0}});
    auto c = a->And(*b);
    EXPECT_EQ(Text(*c), "((1.0000 0.0000) (1.5000 0.5000) (2.0000 0.0000) )");
    EXPECT_EQ(c->GetName(), "a and b");
    EXPECT_EQ(c->GetExpression(), "a and b");
    auto u = a->Or(*b);
    EXPECT_EQ(Text(*u),
              "((0.0000 0.0000) (1.0000 1.0000) (1.5000 0.5000) (2.0000 1.0000) (3.0000 0.0000) )");
    EXPECT_DOUBLE_EQ(a->MatchDegree(*b), 0.5);
}

TEST(FuzzyCombine, WithItself) {
    auto a = MakeSet("a", {{0, 0}, {1, 1}, {2, 0}});
    EXPECT_EQ(Text(*a->Intersection(*a, foZadeh)), Text(*a));
    auto sum = a->Union(*a, foSum);
    EXPECT_EQ(Text(*sum), "((0.0000 0.0000) (1.0000 2.0000) (2.0000 0.0000) )");
    EXPECT_EQ(sum->GetName(), "a or-sum a");
}

TEST(FuzzyCombine, OperationsCombineGrades) {
    auto a = MakeSet("a", {{0, 0.4}, {1, 0.4}});
    auto b = MakeSet("b", {{0, 0.8}, {1, 0.8}});
    // Flat results keep one point.
    EXPECT_EQ(Text(*a->Intersection(*b, foMean)), "((1.0000 0.6000) )");
    EXPECT_EQ(Text(*a->Union(*b, foMean)), "((1.0000 0.6667) )");
    EXPECT_EQ(Text(*a->Intersection(*b, foMeanSqr)), "((1.0000 0.3600) )");
    EXPECT_EQ(Text(*a->Intersection(*b, foProduct)), "((1.0000 0.3200) )");
    EXPECT_EQ(Text(*a->Union(*b, foProduct)), "((1.0000 0.8800) )");
    EXPECT_EQ(Text(*a->Intersection(*b, foBoundedSum)), "((1.0000 0.2000) )");
    EXPECT_EQ(Text(*a->Union(*b, foBoundedSum)), "((1.0000 1.0000) )");
}

TEST(FuzzyCombine, IntersectionRefusesSum) {
    auto a = MakeSet("a", {{0, 0}, {1, 1}});
    try {
        a->Intersection(*a, foSum);
        FAIL();
    } catch (const EFzyException& e) {
        EXPECT_STREQ(e.what(), "Invalid fuzzy operation: \"foSum:");
    }
    EXPECT_THROW(a->Aggregate(*a, fimAdditive, true), EFzyException);
}

TEST(FuzzyCombine, EmptySetTakesTheOthersPoints) {
    auto a = MakeRef<TIFuzzySet>(nullptr, "a");
    auto b = MakeSet("b", {{0, 0}, {1, 0.5}, {2, 0}});
    EXPECT_EQ(Text(*a->Union(*b, foSum)), "((0.0000 0.0000) (1.0000 1.0000) (2.0000 0.0000) )");
}

TEST(FuzzyCombine, VerticalStepsAreCombinedPointByPoint) {
    auto a = MakeSet("a", {{0, 0}, {1, 0}, {1, 1}, {2, 1}});
    auto b = MakeSet("b", {{0, 0.5}, {2, 0.5}});
    EXPECT_EQ(Text(*a->And(*b)), "((1.0000 0.0000) (1.0000 0.5000) )");
}

// Points that lie on a straight segment of the result are not kept, so aggregating many
// conclusions does not grow the set.
TEST(FuzzyCombine, RepeatedUnionDoesNotGrow) {
    auto t = MakeSet("t", {{0, 0}, {2, 1}, {4, 0}});
    TRefPtr<IFuzzySet> acc = t;
    for (int i = 0; i < 10; ++i) {
        auto small = MakeSet("u", {{1 + i * 0.1, 0}, {2, 0.25}, {3 - i * 0.1, 0}});
        acc = acc->Union(*small, foZadeh);
    }
    EXPECT_EQ(Text(*acc), "((0.0000 0.0000) (2.0000 1.0000) (4.0000 0.0000) )");
}

TEST(FuzzyCombine, CrispAndOr) {
    auto s = MakeSet("hot", {{0, 0}, {1, 1}, {2, 0}});
    auto c = s->CrispAndOr(false, 0.5);
    EXPECT_EQ(Text(*c), "((0.0000 0.0000) (0.5000 0.5000) (1.0000 0.5000) (1.5000 0.5000) "
                        "(2.0000 0.0000) )");
    EXPECT_EQ(c->GetName(), "hot and 0.5000");
    auto o = s->CrispAndOr(true, 0.5);
    EXPECT_EQ(Text(*o), "((0.0000 0.5000) (0.5000 0.5000) (1.0000 1.0000) (1.5000 0.5000) "
                        "(2.0000 0.5000) )");
}

TEST(FuzzyCombine, AlphaCut) {
    auto s = MakeSet("hot", {{0, 0}, {1, 1}, {2, 0}});
    auto c = s->AlphaCut(false, 0.5);
    EXPECT_EQ(Text(*c), "((0.0000 0.0000) (0.5000 0.0000) (0.5000 0.5000) (1.0000 1.0000) "
                        "(1.5000 0.5000) (1.5000 0.0000) )");
    EXPECT_EQ(c->GetName(), "hot (alpha=0.5000)");
    EXPECT_EQ(Text(*s->AlphaCut(true, 1)), "((0.0000 0.0000) )");
    EXPECT_EQ(Text(*s->AlphaCut(true, -3)), Text(*s));
}

TEST(FuzzyCombine, MatchUsesTheVariablesThreshold) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    v->SetMaximum(3);
    auto a = MakeSet("a", {{0, 0}, {1, 1}, {2, 0}}, v.get());
    auto b = MakeSet("b", {{1, 0}, {2, 1}, {3, 0}}, v.get());
    v->SetThreshold(0.5);
    EXPECT_TRUE(a->Match(*b));
    v->SetThreshold(0.6);
    EXPECT_FALSE(a->Match(*b));
    // A free set has no threshold.
    auto free = MakeSet("f", {{0, 1}});
    EXPECT_FALSE(free->Match(*free));
}

TEST(FuzzyDefuzzify, CenterOfGravity) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    v->SetMaximum(2);
    auto s = MakeSet("s", {{0, 0}, {1, 1}, {2, 0}}, v.get());
    EXPECT_DOUBLE_EQ(s->CenterOfGravity(), 1.0);
    EXPECT_DOUBLE_EQ(s->GetDefuzzifiedMembership(), 1.0);
    EXPECT_FALSE(s->IsUndecidable());
    auto one = MakeSet("p", {{0.5, 1}}, v.get());
    EXPECT_DOUBLE_EQ(one->Defuzzify(), 1.0); // the middle of the universe
    // A right tail at grade 0.5 from 1 to 2 and a trapezoid (0,0)-(1,0.5).
    auto tail = MakeSet("t", {{0, 0}, {1, 0.5}}, v.get());
    // moment = 0.25 * 2/3 + 0.5 * 1.5, area = 0.25 + 0.5
    EXPECT_NEAR(tail->CenterOfGravity(), (0.25 * 2 / 3 + 0.75) / 0.75, 1e-12);
}

TEST(FuzzyDefuzzify, MeanOfMaxima) {
    auto s = MakeSet("s", {{0, 0}, {1, 1}, {3, 1}, {4, 0}});
    EXPECT_DOUBLE_EQ(s->MeanOfMaxima(), 2.0);
    EXPECT_DOUBLE_EQ(s->GetDefuzzifiedMembership(), 1.0);
    auto empty = MakeRef<TIFuzzySet>(nullptr, "e");
    EXPECT_DOUBLE_EQ(empty->MeanOfMaxima(), 0.0);
    EXPECT_TRUE(empty->IsUndecidable());
}

TEST(FuzzyDefuzzify, NormalizeOfZeroGradesChangesNothing) {
    auto s = MakeSet("s", {{0, 0}, {1, 0}});
    s->Normalize();
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (1.0000 0.0000) )");
}

TEST(FuzzyDefuzzify, CorrelateClipsOrScales) {
    auto s = MakeSet("s", {{0, 0}, {1, 1}, {2, 0}});
    s->Correlate(true, 0.5);
    EXPECT_EQ(Text(*s), "((0.0000 0.0000) (1.0000 0.5000) (2.0000 0.0000) )");
    // Clipping adds the points where the set crosses the strength: a plateau, not a peak. The
    // peak's point stays, lowered to the strength.
    auto t = MakeSet("t", {{0, 0}, {1, 1}, {2, 0}});
    t->Correlate(false, 0.5);
    EXPECT_EQ(Text(*t), "((0.0000 0.0000) (0.5000 0.5000) (1.0000 0.5000) (1.5000 0.5000) "
                        "(2.0000 0.0000) )");
    EXPECT_DOUBLE_EQ(t->MaxY(), 0.5);
}

} // namespace
} // namespace ie

#include "fuzzy/FuzzyConsts.h"

#include <gtest/gtest.h>

namespace ie {
namespace {

TEST(FuzzyConsts, HedgeLookupIsCaseSensitive) {
    int index = -1;
    EXPECT_FALSE(FuzzyHedgeIndex("Very", index));
    EXPECT_EQ(index, -1); // left unchanged
    ASSERT_TRUE(FuzzyHedgeIndex("very", index));
    EXPECT_EQ(index, 5);
    EXPECT_TRUE(IsFuzzyHedge("generally"));
    EXPECT_DOUBLE_EQ(FuzzyHedgeValues[1], 0.3333333333333333);
}

TEST(FuzzyConsts, ArithmeticOperatorsOnGradesAndOnX) {
    int index = -1;
    bool onY = true;
    ASSERT_TRUE(FuzzyArithOperatorIndex("+X", index, onY));
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(onY);
    ASSERT_TRUE(FuzzyArithOperatorIndex(">=", index, onY));
    EXPECT_EQ(index, 8);
    EXPECT_TRUE(onY);
    EXPECT_FALSE(IsFuzzyArithOperator("X+"));
    EXPECT_FALSE(IsFuzzyArithOperator("X"));
    EXPECT_TRUE(IsFuzzyArithOperator("<=X"));
}

TEST(FuzzyConsts, AndOrOperationCorrelationInferenceWords) {
    bool isOr = false;
    TFuzzyOperation op = foZadeh;
    ASSERT_TRUE(FuzzyAndOrIndex("or-product", isOr, op));
    EXPECT_TRUE(isOr);
    EXPECT_EQ(op, foProduct);
    ASSERT_TRUE(FuzzyAndOrIndex("and", isOr, op));
    EXPECT_FALSE(isOr);
    EXPECT_EQ(op, foZadeh);
    EXPECT_FALSE(FuzzyAndOrIndex("product", isOr, op));
    ASSERT_TRUE(FuzzyOperationIndex("product", op));
    EXPECT_EQ(op, foProduct);
    TFuzzyCorrelationMethod corr = fcmMinimum;
    ASSERT_TRUE(FuzzyCorrelationIndex("product", corr));
    EXPECT_EQ(corr, fcmProduct);
    TFuzzyInferenceMethod inf = fimMinMax;
    ASSERT_TRUE(FuzzyInferenceIndex("bounded-sum", inf));
    EXPECT_EQ(inf, fimBoundedSum);
    EXPECT_FALSE(FuzzyInferenceIndex("and", inf));
}

TEST(FuzzyConsts, ReservedWords) {
    for (auto w : {"and-sum", "or", "not", "+", ">=X", "^X"})
        EXPECT_TRUE(IsFuzzyReservedWord(w));
    for (auto w : {"zadeh", "product", "min-max", "hot", "Very", ""})
        EXPECT_FALSE(IsFuzzyReservedWord(w));
}

TEST(FuzzyConsts, BracketFuzzyText) {
    EXPECT_EQ(BracketFuzzyText("  hot \t"), "hot");
    EXPECT_EQ(BracketFuzzyText("hot day"), "[hot day]");
    EXPECT_EQ(BracketFuzzyText(" [very cold] "), "[very cold]");
    EXPECT_EQ(BracketFuzzyText("[[a] or [b]]"), "[[a] or [b]]");
    // The first bracket closes before the end: the whole is enclosed again.
    EXPECT_EQ(BracketFuzzyText("[a] or [b]"), "[[a] or [b]]");
}

TEST(FuzzyConsts, ExpressionTextBuilders) {
    EXPECT_EQ(FuzzyHedgeText(5, "hot day"), "very [hot day]");
    EXPECT_EQ(FuzzyHedgeText(0, "cold"), "not cold");
    EXPECT_EQ(FuzzyArithText(0, false, "hot"), "+X hot");
    EXPECT_EQ(FuzzyArithText(7, true, "hot day"), "> [hot day]");
    EXPECT_EQ(FuzzyArithValueText("hot day", "*X", 0.1), "[hot day] *X 0.1000");
    EXPECT_EQ(FuzzyArithValueText("hot", "+", -2.5), "hot + -2.5000");
    EXPECT_EQ(FuzzyOperationText("a b", "c", "and-mean"), "[a b] and-mean c");
    EXPECT_EQ(FuzzyOperationEnumName(foSum), "foSum");
    EXPECT_EQ(FuzzyInferenceOperation(fimAdditive), foSum);
}

} // namespace
} // namespace ie

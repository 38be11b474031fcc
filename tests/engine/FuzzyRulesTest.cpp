// Fuzzy values read from rule-language text (facts, patterns, terms, point lists) and fuzzy
// patterns matched by the Rete network: the degree of match becomes the activation's strength,
// and the engine's activation threshold drops weak matches.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "engine/InferenceEngine.h"
#include "engine/match/ActivationAgenda.h"
#include "engine/match/IERule.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"

namespace ie {
namespace {

template <class F> std::string RaisedMessage(F&& f) {
    try {
        f();
    } catch (const EException& e) {
        return e.what();
    }
    return "<nothing raised>";
}

struct TFuzzyRules : ::testing::Test {
    TFuzzyRules() {
        E.ExecuteCommand("(deftype temp extends (type FUZZY) (range 0 100)"
                         "    (values (term cold ((0 1) (50 0)))"
                         "            (term warm ((25 0) (50 1) (75 0)))"
                         "            (term hot ((50 0) (100 1)))))"
                         "(deftemplate room (slot t (type temp)))");
        Var = E.DefinedTypes().Find("temp")->GetFuzzyVariable();
    }
    TRefPtr<IFuzzySet> Term(std::string_view name) {
        TRefPtr<IFuzzySet> set;
        Var->Find(name, set);
        return set;
    }
    TRefPtr<IFuzzySet> SlotSet(const TRefPtr<IFact>& fact) {
        return fact->GetSlotValue("t")->AsFuzzy();
    }
    // The strength of the only activation, or -1 when the agenda holds none.
    float OnlyStrength() {
        EXPECT_LE(E.ActivationCount(), 1);
        return E.ActivationCount() == 1 ? E.Agenda().Item(0)->Strength() : -1.0f;
    }
    TInferenceEngine E;
    TRefPtr<IFuzzyVariable> Var;
};

// --- Reading ---

TEST_F(TFuzzyRules, AFactSlotTakesAHedgedExpression) {
    TRefPtr<IFact> f = E.ParseFact("(room (t very hot))");
    TRefPtr<IFuzzySet> set = SlotSet(f);
    EXPECT_EQ(set->GetName(), "very hot");
    EXPECT_NEAR(set->GetMembership(75), 0.25, 1e-9);
    EXPECT_DOUBLE_EQ(Term("hot")->GetMembership(75), 0.5) << "the term itself is not hedged";
}

TEST_F(TFuzzyRules, AFactSlotTakesAnExpressionWithAndOrWordsAndBrackets) {
    TRefPtr<IFuzzySet> set = SlotSet(E.ParseFact("(room (t [hot or cold] and not warm))"));
    EXPECT_DOUBLE_EQ(set->GetMembership(0), 1.0);
    EXPECT_DOUBLE_EQ(set->GetMembership(50), 0.0) << "warm is 1 there";
    EXPECT_DOUBLE_EQ(set->GetMembership(100), 1.0);
}

TEST_F(TFuzzyRules, AFactSlotPointListBecomesASetOfTheSlotsVariable) {
    TRefPtr<IFuzzySet> set = SlotSet(E.ParseFact("(room (t ((60 0) (70 1) (80 0))))"));
    EXPECT_EQ(set->ValuesAsString(), "((60.0000 0.0000) (70.0000 1.0000) (80.0000 0.0000) )");
    EXPECT_EQ(set->GetFuzzyVariable(), Var.get());
}

TEST_F(TFuzzyRules, AnUnknownTermInAFactSlotIsAParseError) {
    const std::string message = RaisedMessage([&] { E.ParseFact("(room (t very tepid))"); });
    EXPECT_NE(message.find("Invalid item in fuzzy expression: tepid"), std::string::npos)
        << message;
}

TEST_F(TFuzzyRules, ATermMayBeDefinedByAnExpressionOverEarlierTerms) {
    E.ExecuteCommand("(deftype t2 extends (type FUZZY) (range 0 100)"
                     "    (values (term hot ((50 0) (100 1))) (term scorching extremely hot)"
                     "            (term also-hot hot)))");
    TRefPtr<IFuzzyVariable> v = E.DefinedTypes().Find("t2")->GetFuzzyVariable();
    TRefPtr<IFuzzySet> hot, scorching, alsoHot;
    ASSERT_TRUE(v->Find("hot", hot));
    ASSERT_TRUE(v->Find("scorching", scorching));
    ASSERT_TRUE(v->Find("also-hot", alsoHot));
    EXPECT_NEAR(scorching->GetMembership(75), 0.125, 1e-9);
    EXPECT_EQ(hot->GetName(), "hot") << "naming the copy must not rename the term it copies";
    EXPECT_NE(hot.get(), alsoHot.get());
    EXPECT_DOUBLE_EQ(alsoHot->GetMembership(75), 0.5);
}

// --- Matching ---

TEST_F(TFuzzyRules, APartlyOverlappingFactActivatesWithTheMatchDegree) {
    E.ExecuteCommand("(defrule r (room (t hot)) => )");
    E.AssertFact(E.ParseFact("(room (t ((60 0) (70 1) (80 0))))"));
    // The triangle's falling flank crosses hot at (75, 0.5).
    EXPECT_FLOAT_EQ(OnlyStrength(), 0.5f);
}

TEST_F(TFuzzyRules, AHedgedPatternMatchesByItsOwnSet) {
    E.ExecuteCommand("(defrule r (room (t very hot)) => )");
    E.AssertFact(E.ParseFact("(room (t ((60 0) (70 1) (80 0))))"));
    // very hot runs from (75, 0.25) to (83.33, 0.4444); the flank 8 - x/10 meets it at 11/37.
    EXPECT_NEAR(OnlyStrength(), 11.0 / 37.0, 1e-6);
}

TEST_F(TFuzzyRules, AFactWithoutOverlapDoesNotActivate) {
    E.ExecuteCommand("(defrule r (room (t cold)) => )");
    E.AssertFact(E.ParseFact("(room (t ((60 0) (70 1) (80 0))))"));
    EXPECT_EQ(E.ActivationCount(), 0);
}

TEST_F(TFuzzyRules, AFullMatchKeepsFullStrength) {
    E.ExecuteCommand("(defrule r (room (t hot)) => )");
    E.AssertFact(E.ParseFact("(room (t very hot))"));
    EXPECT_FLOAT_EQ(OnlyStrength(), 1.0f);
}

TEST_F(TFuzzyRules, ACrispNumberInAPatternMatchesByMembership) {
    E.ExecuteCommand("(defrule r (room (t 80)) => )");
    E.AssertFact(E.ParseFact("(room (t hot))"));
    EXPECT_FLOAT_EQ(OnlyStrength(), 0.6f);
}

TEST_F(TFuzzyRules, TheActivationThresholdDropsWeakerMatches) {
    // A flat reading at 0.3 matches hot to the degree 0.3.
    E.ExecuteCommand("(defrule r (room (t hot)) => )");
    E.SetMinActivationStrength(0.5f);
    E.AssertFact(E.ParseFact("(room (t ((0 0.3) (100 0.3))))"));
    EXPECT_EQ(E.ActivationCount(), 0);
    E.Reset();
    E.SetMinActivationStrength(0.2f);
    E.AssertFact(E.ParseFact("(room (t ((0 0.3) (100 0.3))))"));
    EXPECT_FLOAT_EQ(OnlyStrength(), 0.3f);
}

TEST_F(TFuzzyRules, TwoFuzzyPatternsJoinAtTheWeakerStrength) {
    E.ExecuteCommand("(deftemplate probe (slot t (type temp)))"
                     "(defrule r (room (t hot)) (probe (t warm)) => )");
    E.AssertFact(E.ParseFact("(room (t ((60 0) (70 1) (80 0))))"));
    E.AssertFact(E.ParseFact("(probe (t ((50 1) (60 0))))"));
    // hot: 0.5; warm against the falling flank (50, 1)-(60, 0): 1 at x = 50.
    EXPECT_FLOAT_EQ(OnlyStrength(), 0.5f);
}

TEST_F(TFuzzyRules, FuzzyValuesEqualWhatTheyMatch) {
    TRefPtr<IIEValue> hot = TIEValue::CreateFuzzy(Term("hot"));
    TRefPtr<IIEValue> cold = TIEValue::CreateFuzzy(Term("cold"));
    TRefPtr<IIEValue> warm = TIEValue::CreateFuzzy(Term("warm"));
    EXPECT_TRUE(hot->Equals(warm.get()));
    EXPECT_FALSE(hot->Equals(cold.get())) << "they meet only at grade 0";
    EXPECT_TRUE(hot->Equals(TIEValue::CreateFloat(80.0).get()));
    EXPECT_TRUE(TIEValue::CreateInteger(dtInteger, 80)->Equals(hot.get()));
    EXPECT_FALSE(hot->Equals(TIEValue::CreateInteger(dtInteger, 20).get()));
    EXPECT_FALSE(hot->Equals(TIEValue::CreateText(dtAtom, "hot").get()));
}

} // namespace
} // namespace ie

// The exact texts of the writers: literals, blanks, CR LF line ends and four-blank indentation.
#include "engine/lang/IEParser.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/EngineTables.h"
#include "engine/InferenceEngine.h"
#include "engine/match/IERule.h"
#include "engine/match/IESlotTest.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"

using namespace ie;

namespace {

// An engine without the automatic terms of fuzzy types, so that a type's text shows only the
// terms read.
class TEngine : public TInferenceEngine {
public:
    TEngine() { SetFuzzyAutoTerms(false); }
    TIEParser& W() { return *Parser(); }
};

} // namespace

TEST(ConstructWriter, FactSetHeaderFactsAndClosingLine) {
    TEngine e;
    e.ExecuteCommand("(deffacts init \"c\" (a 1) (b))");
    EXPECT_EQ(e.W().FormatFactSet(*e.FactSets().Item(0)),
              "(deffacts init \"c\"\r\n    (a 1 )\r\n    (b)\r\n)");
}

TEST(ConstructWriter, RuleDeclareLineOnlyWhenNeeded) {
    TEngine e;
    e.ExecuteCommand(
        "(defrule plain (a) => (f)) (defrule s (declare (salience 10)) (a) => (f))"
        "(defrule o \"note\" (declare (oneshot TRUE) (enabled FALSE)) (a) => (f) (g))");
    EXPECT_EQ(e.W().FormatRule(*e.Rules().Find("plain")),
              "(defrule plain\r\n    (a)\r\n    =>\r\n    (f))");
    EXPECT_EQ(e.W().FormatRule(*e.Rules().Find("s")),
              "(defrule s\r\n    (declare (salience 10))\r\n    (a)\r\n    =>\r\n    (f))");
    EXPECT_EQ(e.W().FormatRule(*e.Rules().Find("o")),
              "(defrule o\r\n    \"note\"\r\n    (declare (enabled FALSE) (oneshot TRUE))\r\n"
              "    (a)\r\n    =>\r\n    (f)\r\n    (g))");
}

TEST(ConstructWriter, CallsWithSlotPairsFactsAndComments) {
    TEngine e;
    e.ExecuteCommand("(deftemplate a (slot x) (multislot y))");
    e.ExecuteCommand("(defrule r ?f <- (a) => (modify ?f (x 3) (y a b)) (assert (p 1) (q))\r\n"
                     "    ; note\r\n    (g))");
    TRule* r = e.Rules().Find("r");
    ASSERT_EQ(r->ActionCount(), 3);
    EXPECT_EQ(e.W().FormatFunCall(*r->GetAction(0)), "(modify ?f (x 3) (y a b))");
    EXPECT_EQ(e.W().FormatFunCall(*r->GetAction(1)), "(assert (p 1 ) (q))");
    EXPECT_EQ(e.W().FormatFunCall(*r->GetAction(2)), "; note\r\n(g)");
}

TEST(ConstructWriter, PatternWrappingAndConstraints) {
    TEngine e;
    e.ExecuteCommand("(deftemplate p (slot x) (multislot m))"
                     "(defrule r (a) (not (not (exists (b)))) (p (x ?v&~1) (m a ?w $?z))"
                     " ?q <- (unique (c ?v)) =>)");
    TRule* r = e.Rules().Find("r");
    EXPECT_EQ(e.W().FormatPattern(*r->GetPattern(1)), "(not (not (exists (b))))");
    EXPECT_EQ(r->GetPattern(1)->NegatedCount(), 4);
    EXPECT_EQ(e.W().FormatPattern(*r->GetPattern(2)), "(p (x ?v&~1) (m a ?w $?z) )");
    EXPECT_EQ(e.W().FormatPattern(*r->GetPattern(3)), "?q <- (unique (c ?v))");
}

TEST(ConstructWriter, ConstraintsComeBackAsWrittenWithoutGeneratedVariables) {
    TEngine e;
    e.ExecuteCommand("(deftemplate m (multislot v))"
                     "(defrule r (b red|blue) (b ?x&~red|\"q\"|:(> ?x 1)&~3) (b ? $?) "
                     "(b ?y&=(+ 1 1)|?y) (m (v =(+ 2 2) $?)) (not (b x|y ?)) "
                     "(exists (m (v ?))) =>)");
    TRule* r = e.Rules().Find("r");
    ASSERT_NE(r, nullptr);
    std::vector<std::string> texts;
    for (int32_t i = 0; i < r->PatternCount(); ++i)
        texts.push_back(e.W().FormatPattern(*r->GetPattern(i)));
    EXPECT_EQ(texts,
              (std::vector<std::string>{"(b red|blue)", "(b ?x&~red|\"q\"|:(> ?x 1)&~3)",
                                        "(b ? $?)", "(b ?y&=(+ 1 1)|?y)", "(m (v =(+ 2 2) $?) )",
                                        "(not (b x|y ?))", "(exists (m (v ?) ))"}));
    // The rule's text reads back to the same text, however often it is read.
    const std::string first = e.W().FormatRule(*r);
    for (int round = 0; round < 2; ++round) {
        e.ExecuteCommand(first);
        EXPECT_EQ(e.W().FormatRule(*e.Rules().Find("r")), first);
    }
}

TEST(ConstructWriter, APatternOutsideARuleKeepsItsOrConstraints) {
    TEngine e;
    e.ExecuteCommand("(deftemplate m (multislot v))");
    TIEPattern ordered(nullptr, "b", e.ImpliedTemplate("b"), 0);
    ordered.AddSlotTest(DataSlotName, e.ParseValue("red"), true, false, 0);
    ordered.AddSlotTest(DataSlotName, e.ParseValue("blue"), false, true, 0);
    ordered.AddSlotTest(DataSlotName, e.ParseValue("?x"), true, false, 1);
    EXPECT_EQ(e.W().FormatPattern(ordered), "(b red|~blue ?x)");
    TIEPattern slots(nullptr, "m", e.FactTemplates().Find("m"), 0);
    slots.AddSlotTest("v", e.ParseValue("?y"), true, false, 0);
    slots.AddSlotTest("v", e.ParseValue("1"), true, false, 0);
    slots.AddSlotTest("v", e.ParseValue("2"), false, false, 0);
    EXPECT_EQ(e.W().FormatPattern(slots), "(m (v ?y&1|2) )");
}

TEST(ConstructWriter, SlotDefinitions) {
    TEngine e;
    e.ExecuteCommand("(deftemplate t (slot x (type INTEGER FLOAT) (default 0)) (slot y)"
                     " (multislot m (default a b)) (slot d (default-dynamic (gensym*)))"
                     " (slot r (type INTEGER) (range 0 10) (default 3)))");
    auto t = e.FactTemplates().Find("t");
    EXPECT_EQ(e.W().FormatFactSlot(*t->SlotAt(0)),
              "(slot x (type INTEGER FLOAT)\r\n        (default 0) )");
    EXPECT_EQ(e.W().FormatFactSlot(*t->SlotAt(1)), "(slot y )");
    EXPECT_EQ(e.W().FormatFactSlot(*t->SlotAt(2)), "(multislot m (default a b) )");
    EXPECT_EQ(e.W().FormatFactSlot(*t->SlotAt(3)), "(slot d (default-dynamic (gensym*)) )");
    EXPECT_EQ(e.W().FormatFactSlot(*t->SlotAt(4)),
              "(slot r (type INTEGER)\r\n        (range 0 10) \r\n        (default 3) )");
}

TEST(ConstructWriter, DefinedTypesWithCommentsAncestorsAndUnlimitedBounds) {
    TEngine e;
    e.ExecuteCommand("(deftype small extends (type INTEGER) (range 0 10))"
                     "(deftype noted \"c\" extends (type INTEGER) (range 0 10))"
                     "(deftype big extends (type small FLOAT))"
                     "(deftype wide extends (type small FLOAT) (range 0 20))"
                     "(deftype open extends (type INTEGER) (range ?VARIABLE 5)"
                     " (cardinality 2 ?VARIABLE) (units \"feet per second\"))");
    auto text = [&](const char* name) {
        return e.W().FormatDefinedType(*e.DefinedTypes().Find(name));
    };
    EXPECT_EQ(text("small"), "(deftype small extends (type INTEGER)\r\n        (range 0 10) \r\n)");
    EXPECT_EQ(text("noted"), "(deftype noted \r\n    \"c\"\r\n    extends (type INTEGER)\r\n"
                             "        (range 0 10) \r\n)");
    EXPECT_EQ(text("big"), "(deftype big extends (type small FLOAT)\r\n)");
    EXPECT_EQ(text("wide"),
              "(deftype wide extends (type small FLOAT)\r\n        (range 0 20) \r\n)");
    EXPECT_EQ(text("open"), "(deftype open extends (type INTEGER)\r\n"
                            "        (range ?VARIABLE 5) \r\n"
                            "        (units \"feet per second\")\r\n"
                            "        (cardinality 2 ?VARIABLE) \r\n)");
}

TEST(ConstructWriter, FuzzyTypeTermsInTheOrderAdded) {
    TEngine e;
    e.ExecuteCommand("(deftype temp extends (type FUZZY) (range 0 100) (units celsius)"
                     " (values (term hot ((50 0) (100 1))) (term cold ((0 1) (20 0)))))");
    EXPECT_EQ(e.W().FormatDefinedType(*e.DefinedTypes().Find("temp")),
              "(deftype temp extends (type FUZZY)\r\n"
              "    (range 0.0000 100.0000)\r\n"
              "    (units celsius)\r\n"
              "    (values \r\n"
              "        (term hot ((50.0000 0.0000) (100.0000 1.0000) ))\r\n"
              "        (term cold ((0.0000 1.0000) (20.0000 0.0000) ))\r\n"
              "    ))");
}

TEST(ConstructWriter, DeffunctionGlobalsAndValuePairs) {
    TEngine e;
    e.ExecuteCommand("(deffunction f (?a $?rest) \"doc\" (g ?a) ?a)");
    auto* f = dynamic_cast<TInterpretedFunction*>(e.UserFunctions().Find("f").get());
    ASSERT_TRUE(f);
    EXPECT_EQ(e.W().FormatDeffunction(*f),
              "(deffunction f (?a $?rest)\r\n    \"doc\"\r\n    (g ?a)\r\n    ?a\r\n)");
    EXPECT_EQ(e.W().FormatGlobal("x", TIEValue::CreateFloat(0.5).get()), "?x = 0.5000");
    EXPECT_EQ(e.W().FormatGlobal("", TIEValue::CreateFloat(0.5).get()), "");
    auto pairs = TValueVector::Create();
    auto pair = TValueVector::Create();
    pair->Add(TIEValue::CreateText(dtAtom, "x"));
    pair->Add(TIEValue::CreateInteger(dtInteger, 3));
    pairs->Add(TIEValue::CreateList(pair));
    EXPECT_EQ(e.W().FormatValuePairs(*pairs), "((x 3) )");
    EXPECT_EQ(e.W().FormatValuePairs(*TValueVector::Create()), "");
}

TEST(ConstructWriter, PatternWithoutTemplateRaises) {
    TEngine e;
    e.ExecuteCommand("(defrule r (a) =>)");
    TRule* r = e.Rules().Find("r");
    auto pattern = r->NewPattern("x", nullptr, 0);
    EXPECT_THROW(e.W().FormatPattern(*pattern), EIEException);
}

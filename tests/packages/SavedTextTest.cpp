// What saving writes and loading reads back: values that have no text of their own (nil, -0.0,
// the empty fuzzy value), strings holding line breaks, a named type with the slot's own
// qualifiers, constraints as they were written, and the facts of fact sets, whose dynamic and
// fuzzy defaults are made at each reset.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/match/IERule.h"
#include "engine/model/IEFacts.h"
#include "platform/Streams.h"

namespace ie {
namespace {

struct TSavedText : ::testing::Test {
    TSavedText() {
        E.OnPrintOut = [this](TInferenceEngine*, const std::string&, const std::string& text) {
            Out += text;
        };
    }
    // The whole engine's text without its "; Created:" line, which carries the time.
    std::string Saved() {
        const std::string text = E.GetText();
        const size_t at = text.find("; Created: ");
        if (at == std::string::npos) return text;
        return text.substr(0, at) + text.substr(text.find("\r\n", at) + 2);
    }
    // Save, clear, load: the text read back as the load function reads a file.
    std::string Reload() {
        const std::string text = Saved();
        E.Clear();
        TStringStream stream(text);
        E.LoadFromStream(stream);
        return text;
    }
    std::string SavedFacts() {
        TStringStream stream("");
        E.SaveFactsToStream(stream);
        return stream.DataString();
    }
    // save-facts, retract everything, load-facts.
    std::string ReloadFacts() {
        const std::string text = SavedFacts();
        E.ExecuteCommand("(retract *)");
        TStringStream stream(text);
        E.LoadFactsFromStream(stream);
        return text;
    }
    std::string Eval(const std::string& command) {
        Out.clear();
        E.ExecuteCommand("(printout t " + command + ")");
        return Out;
    }
    TRefPtr<IIEValue> SlotOf(int32_t index, const std::string& slot) {
        return E.Facts().Items().at(static_cast<size_t>(index))->GetSlotValue(slot);
    }
    TInferenceEngine E;
    std::string Out;
};

TEST_F(TSavedText, NilIsWrittenAsTheWordThatReadsBackToIt) {
    E.ExecuteCommand("(defglobal ?*x* = nil ?*y* = 1)"
                     "(deftype colour extends (type SYMBOL) (allowed-symbols red nil))"
                     "(deftemplate p (slot c (type colour) (default nil)) (multislot m))"
                     "(defrule r => (bind ?*y* nil) (assert (q nil)))");
    E.Reset();
    E.AssertString("(ord a nil b)");
    E.AssertString("(p (m x nil y))");
    const std::string text = Reload();
    EXPECT_NE(text.find("(defglobal ?*x* = nil ?*y* = 1)"), std::string::npos) << text;
    EXPECT_NE(text.find("(allowed-symbols red nil )"), std::string::npos) << text;
    EXPECT_NE(text.find("(bind ?*y* nil)"), std::string::npos) << text;
    EXPECT_EQ(Saved(), text);
    EXPECT_EQ(Eval("(length$ (create$ ?*x*))"), "1");
    // The slot keeps nil as its default rather than the type's first allowed symbol.
    E.AssertString("(p)");
    EXPECT_EQ(E.Facts().Items().back()->GetText(), "(p)") << "nil slot left out";
    EXPECT_EQ(SlotOf(E.Facts().Count() - 1, "c")->GetText(), "");

    const std::string facts = ReloadFacts();
    EXPECT_NE(facts.find("(ord a nil b )"), std::string::npos) << facts;
    EXPECT_NE(facts.find("(m x nil y )"), std::string::npos) << facts;
    EXPECT_EQ(SavedFacts(), facts);
    EXPECT_EQ(E.Facts().Items().at(1)->GetSlotValue("__Data")->AsList()->Count(), 3);
}

TEST_F(TSavedText, LineBreaksInsideStringsGainNoIndentation) {
    E.ExecuteCommand("(deftemplate t (slot s (default \"p\r\nq\")))"
                     "(deffacts d (t (s \"a\r\nb\")) (other \"c\r\nd\"))"
                     "(defrule r => (printout t \"x\r\ny\" crlf))"
                     "(deffunction f () (str-cat \"e\r\nf\"))");
    E.Reset();
    const std::string first = Reload();
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(Reload(), first);
    E.Reset();
    EXPECT_EQ(E.FactTemplates().Find("t")->SlotAt(0)->GetSlotDefault()->AsString(), "p\r\nq");
    EXPECT_EQ(SlotOf(1, "s")->AsString(), "a\r\nb");
    EXPECT_EQ(Eval("(f)"), "e\r\nf");
    Out.clear();
    E.Run();
    EXPECT_EQ(Out, "x\r\ny\r\n");
}

TEST_F(TSavedText, ANamedTypeKeepsTheSlotsOwnQualifiers) {
    E.ExecuteCommand("(deftype small extends (type INTEGER) (range 0 10))"
                     "(deftemplate t (multislot s (type small) (cardinality 1 3))"
                     " (slot v (type small) (range 2 5) (default 3)))");
    const std::string first = Reload();
    EXPECT_EQ(Saved(), first);
    EXPECT_NE(first.find("(multislot s (type small)"), std::string::npos) << first;
    EXPECT_THROW(E.AssertString("(t (s 1 2 3 4))"), EException) << "at most three";
    EXPECT_THROW(E.AssertString("(t (s 1) (v 9))"), EException) << "the slot's own range";
    EXPECT_THROW(E.AssertString("(t (s 11))"), EException) << "the type's range";
    E.AssertString("(t (s 1 2 3) (v 5))");
    // Redefining the type is seen by the slot's qualifiers, which are on top of it.
    EXPECT_NE(E.FactTemplates().Find("t")->SlotAt(0)->GetExtendedTypeInfo().get(),
              E.DefinedTypes().Find("small").get());
}

TEST_F(TSavedText, RulesReadBackAsWrittenAndStayTheSame) {
    E.ExecuteCommand("(deftemplate b (multislot m))"
                     "(defrule r1 (a ?v&=(+ 1 1)|?v) => (assert (r1 ?v)))"
                     "(defrule r2 (unique (b (m $?))) => (assert (r2)))"
                     "(defrule r3 (not (a x|y)) (exists (b (m ?))) => (assert (r3)))");
    const std::string first = Reload();
    EXPECT_EQ(first.find("_blank_"), std::string::npos) << first;
    EXPECT_NE(first.find("(a ?v&=(+ 1 1)|?v)"), std::string::npos) << first;
    EXPECT_NE(first.find("(unique (b (m $?) ))"), std::string::npos) << first;
    EXPECT_NE(first.find("(not (a x|y))"), std::string::npos) << first;
    EXPECT_NE(first.find("(exists (b (m ?) ))"), std::string::npos) << first;
    EXPECT_EQ(Reload(), first);
    EXPECT_EQ(Saved(), first);
    // The rules read back still match.
    E.Reset();
    E.AssertString("(b (m 1))");
    E.AssertString("(a 2)");
    E.AssertString("(a y)");
    E.Run();
    EXPECT_NE(E.Facts().IndexOfFact(E.ParseFact("(r1 2)").get()), -1);
    EXPECT_NE(E.Facts().IndexOfFact(E.ParseFact("(r2)").get()), -1);
    EXPECT_EQ(E.Facts().IndexOfFact(E.ParseFact("(r3)").get()), -1) << "(a y) is there";
}

TEST_F(TSavedText, EmptyAndMergedFuzzyValuesReadBack) {
    E.ExecuteCommand("(deftype fz extends (type FUZZY) (range 0 100)"
                     " (values (term warm (z 10 30)) (term tiny (s 60 80))))"
                     "(deftemplate w (slot k) (slot t (type fz)))"
                     "(deftemplate v (slot k) (slot t (type fz) (default tiny)))");
    E.Reset();
    E.AssertString("(v (k 1) (t __Empty))");
    E.AssertString("(v (k 2))");
    E.AssertString("(w (k 1))");
    E.AssertString("(w (k 2))");
    E.AssertString("(w (k 2) (t very warm))");
    const std::string facts = ReloadFacts();
    EXPECT_EQ(facts,
              "(Initial-Fact)\r\n(v (k 1) (t __Empty))\r\n(v (k 2) (t tiny))\r\n(w (k 1))\r\n"
              "(w (k 2) (t very warm))\r\n");
    EXPECT_EQ(SavedFacts(), facts);
    for (int32_t i = 1; i <= 4; ++i)
        EXPECT_EQ(SlotOf(i, "t")->GetDType(), dtFuzzy) << i;
    EXPECT_EQ(SlotOf(1, "t")->AsFuzzy()->GetName(), "__Empty");
}

TEST_F(TSavedText, FactSetsMakeDynamicAndFuzzyDefaultsAtEachReset) {
    E.ExecuteCommand("(deftype fz extends (type FUZZY) (range 0 100)"
                     " (values (term warm (z 10 30)) (term tiny (s 60 80))))"
                     "(deftemplate t (slot s (type SYMBOL) (default-dynamic (gensym*)))"
                     " (multislot m (default-dynamic (gensym*) x)) (slot k))"
                     "(deftemplate w (slot k) (slot t (type fz) (default tiny)))"
                     "(deffacts d (t (k 1)) (t (k 2) (s given)) (w (k 1)))");
    const std::string text = Reload();
    EXPECT_NE(text.find("(t (k 1))"), std::string::npos) << text;
    EXPECT_NE(text.find("(t (s given) (k 2))"), std::string::npos) << text;
    std::vector<std::string> names;
    for (int round = 0; round < 2; ++round) {
        E.Reset();
        const std::string s = SlotOf(1, "s")->AsString();
        EXPECT_EQ(s.rfind("gen", 0), 0u) << s;
        names.push_back(s);
        EXPECT_EQ(SlotOf(1, "m")->AsList()->Count(), 2);
        EXPECT_NE(SlotOf(1, "m")->AsList()->GetItem(0)->AsString(), s);
        EXPECT_EQ(SlotOf(2, "s")->AsString(), "given");
        EXPECT_EQ(SlotOf(3, "t")->GetDType(), dtFuzzy);
    }
    EXPECT_NE(names[0], names[1]) << "a new symbol at each reset";
    // A copy of the engine reads the fact set's facts again from their texts, alike.
    TInferenceEngine copy;
    copy.Assign(&E);
    std::vector<std::string> copied;
    for (int round = 0; round < 2; ++round) {
        copy.Reset();
        copied.push_back(copy.Facts().Items().at(1)->GetSlotValue("s")->AsString());
        EXPECT_EQ(copy.Facts().Items().at(3)->GetSlotValue("t")->GetDType(), dtFuzzy);
    }
    EXPECT_NE(copied[0], copied[1]);
    EXPECT_EQ(Saved().find("(deffacts d\r\n    (t (k 1))\r\n"), Saved().find("(deffacts d"));
}

TEST_F(TSavedText, NegativeZeroKeepsItsSign) {
    E.ExecuteCommand("(defglobal ?*z* = -0.0) (deffacts d (zz -0.0 0.0))");
    E.Reset();
    E.AssertString("(z -0.0)");
    Reload();
    E.Reset();
    E.AssertString("(z -0.0)");
    ReloadFacts();
    const auto& facts = E.Facts().Items();
    ASSERT_EQ(facts.size(), 3u);
    auto first = [](const TRefPtr<IFact>& f, int32_t i) {
        return f->GetSlotValue("__Data")->AsList()->GetItem(i)->AsFloat();
    };
    EXPECT_TRUE(std::signbit(first(facts[1], 0)));
    EXPECT_FALSE(std::signbit(first(facts[1], 1)));
    EXPECT_TRUE(std::signbit(first(facts[2], 0)));
    EXPECT_NE(Saved().find("(defglobal ?*z* = -0.0)"), std::string::npos);
}

} // namespace
} // namespace ie

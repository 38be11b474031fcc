// The listing, pretty-printing, undefining, settings, parse and guard functions of the
// miscellaneous package, run in an engine.
#include "packages/MiscPackage.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"
#include "tests/support/IETestValues.h"

using namespace ie;
using namespace ie::test;

namespace {

bool IsTrue(const TRefPtr<IIEValue>& v) {
    return v && v->Equals(IETrueValue().get());
}
bool IsFalse(const TRefPtr<IIEValue>& v) {
    return v && v->Equals(IEFalseValue().get());
}

// Asserts the fact text of its argument (a host function, so that the tests need no other
// package).
class TTestAssertFunction : public TIEUserFunction {
public:
    TTestAssertFunction() {
        SetFunctionName("test-assert");
        SetMaxArgumentCount(1);
        SetMinArgumentCount(1);
    }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override {
        // The fact (name value): an ordered fact built without the reader.
        TInferenceEngine* engine = ContextEngine(context);
        const std::string name = call->GetArgument(0)->Evaluate(context)->AsString();
        TRefPtr<IFact> fact = engine->ImpliedTemplate(name)->NewFact();
        TRefPtr<TValueVector> list = TValueVector::Create();
        list->Add(TIEValue::CreateText(dtAtom, "z"));
        fact->SetSlotValue(DataSlotName, TIEValue::CreateList(list));
        engine->AssertFact(fact);
        return IETrueValue();
    }
};

struct TPrinted {
    std::string Name;
    std::string Text;
};

class MiscEngineTest : public ::testing::Test {
protected:
    MiscEngineTest() : Engine(new TInferenceEngine(nullptr)) {
        Engine->OnPrintOut = [this](TInferenceEngine*, const std::string& name,
                                    const std::string& text) {
            Printed.push_back({name, text});
        };
        Engine->AddUserFunction(MakeRef<TTestAssertFunction>());
    }
    ~MiscEngineTest() override { Engine->Free(); }

    void Exec(std::string_view text) { Engine->ExecuteCommand(text, true); }
    // Asserts the ordered fact (name values...) without reading text.
    int32_t AssertOrdered(std::string_view name, std::initializer_list<TRefPtr<IIEValue>> values) {
        TRefPtr<IFact> fact = Engine->ImpliedTemplate(name)->NewFact();
        TRefPtr<TValueVector> list = TValueVector::Create();
        for (const auto& v : values)
            list->Add(v);
        fact->SetSlotValue(DataSlotName, TIEValue::CreateList(list));
        return Engine->AssertFact(fact);
    }
    TRefPtr<IIEValue> Call(std::string_view name,
                           std::initializer_list<TRefPtr<IIEValue>> args = {}) {
        return CallFunction(*Engine, name, args);
    }
    // The one text that the call prints.
    std::string Listing(std::string_view name, std::initializer_list<TRefPtr<IIEValue>> args = {}) {
        Printed.clear();
        Call(name, args);
        EXPECT_EQ(Printed.size(), 1u) << name;
        return Printed.empty() ? "" : Printed.front().Text;
    }
    // The text of fact `id` as the engine writes it.
    std::string FactText(int32_t id) {
        return Engine->Facts().Item(Engine->Facts().IndexOfID(id))->GetText();
    }
    // The listing line of fact `id`.
    std::string Line(int32_t id) { return "f-" + std::to_string(id) + " " + FactText(id) + "\r\n"; }
    std::string ErrorOf(std::string_view name, std::initializer_list<TRefPtr<IIEValue>> args) {
        try {
            Call(name, args);
        } catch (const EException& e) {
            return e.Message();
        }
        return "no error";
    }

    TInferenceEngine* Engine;
    std::vector<TPrinted> Printed;
};

} // namespace

TEST_F(MiscEngineTest, PackageIsCreatedByTheEngine) {
    for (const char* name : {"decode-year", "guard", "facts", "undeftype", "message-dlg"})
        EXPECT_TRUE(Engine->FindUserFunction(name)) << name;
}

// ---------------------------------------------------------------------------------------------
// facts

TEST_F(MiscEngineTest, FactsWithoutFactsPrintsOnlyTheTotal) {
    Engine->Clear();
    ASSERT_EQ(Engine->Facts().Count(), 0);
    // No empty line before the total: an empty fact list has no lines at all.
    EXPECT_EQ(Listing("facts"), "For a total of 0 facts.");
    EXPECT_EQ(Listing("facts", {Int(0)}), "For a total of 0 facts.");
    EXPECT_TRUE(IsTrue(Call("facts")));
}

TEST_F(MiscEngineTest, FactLabelsAreSortedAsTextWithoutLeadingZeros) {
    Engine->Clear();
    for (int i = 0; i < 12; ++i)
        AssertOrdered("n", {Int(i)});
    ASSERT_EQ(Engine->Facts().Count(), 12);
    ASSERT_EQ(Engine->Facts().Item(11)->GetFactId(), 11);
    // With 12 as the next identifier the engine's own labels would read f-02; the listing labels
    // carry the bare identifier, so f-10 sorts before f-2.
    EXPECT_EQ(Listing("facts", {Int(8)}),
              Line(10) + Line(11) + Line(8) + Line(9) + "For a total of 4 facts.");
    EXPECT_EQ(Listing("facts", {Int(1), Int(3)}),
              Line(1) + Line(2) + Line(3) + "For a total of 3 facts.");
    EXPECT_EQ(Listing("facts", {Int(2), Int(5), Int(1)}), Line(2) + "For a total of 1 facts.");
    EXPECT_EQ(Line(2).substr(0, 6), "f-2 (n");
    EXPECT_EQ(Listing("facts", {Int(2), Int(5), Int(0)}), "For a total of 0 facts.");
    EXPECT_EQ(Listing("facts", {Int(20)}), "For a total of 0 facts.");
}

TEST_F(MiscEngineTest, FactsWithoutArgumentsListsTheFactTexts) {
    Engine->Clear();
    AssertOrdered("b", {Int(2)});
    AssertOrdered("A", {Int(1)});
    AssertOrdered("c", {Int(3)});
    // Ids 0, 1, 2 are (b 2), (A 1), (c 3): the lines are sorted ignoring case.
    EXPECT_EQ(Listing("facts"), FactText(1) + "\r\n" + FactText(0) + "\r\n" + FactText(2) +
                                    "\r\nFor a total of 3 facts.");
}

// ---------------------------------------------------------------------------------------------
// Listing constructs

TEST_F(MiscEngineTest, ListingWithoutRulesUsesLowerCaseFor) {
    EXPECT_EQ(Listing("list-defrules"), "for a total of 0 rules.");
    EXPECT_TRUE(Call("list-defrules")->Equals(IEEmptyAtom().get()));
    EXPECT_EQ(Printed.front().Name, "");
}

TEST_F(MiscEngineTest, ListRulesSortsTheNames) {
    Exec("(defrule beta (b) => )");
    Exec("(defrule Alpha (a) => )");
    Exec("(defrule gamma (c) => )");
    EXPECT_EQ(Listing("list-defrules"), "Alpha\r\nbeta\r\ngamma\r\nfor a total of 3 rules.");
}

TEST_F(MiscEngineTest, ListTemplatesAndFunctionsCountTheirTables) {
    Exec("(deftemplate zeta (slot x))");
    Exec("(deftemplate Alpha (slot y))");
    const std::string templates = Listing("list-deftemplates");
    EXPECT_LT(templates.find("Alpha\r\n"), templates.find("zeta\r\n"));
    EXPECT_NE(templates.find("for a total of " + std::to_string(Engine->FactTemplates().Count()) +
                             " deftemplates."),
              std::string::npos);

    const std::string functions = Listing("list-deffunctions", {Atom("ignored")});
    EXPECT_LT(functions.find("decode-day\r\n"), functions.find("decode-hour\r\n"));
    EXPECT_NE(functions.find("test-assert\r\n"), std::string::npos);
    const std::string total =
        "for a total of " + std::to_string(Engine->UserFunctions().Count()) + " deffunctions.";
    EXPECT_EQ(functions.substr(functions.size() - total.size()), total);
}

TEST_F(MiscEngineTest, FactSetsAreListedPrintedAndRemoved) {
    EXPECT_EQ(Listing("list-deffacts"), "for a total of 0 deffacts.");
    Exec("(deffacts start (a 1) (b 2))");
    EXPECT_EQ(Listing("list-deffacts"), "start\r\nfor a total of 1 deffacts.");
    ASSERT_EQ(Engine->FactSets().Count(), 1);
    const std::string text = Engine->FactSets().Item(0)->GetText();
    auto printed = Call("ppdeffacts", {Atom("start")});
    EXPECT_EQ(printed->GetDType(), dtAtom);
    EXPECT_EQ(printed->AsString(), text);

    EXPECT_TRUE(IsFalse(Call("undeffacts", {Atom("nosuchset")})));
    EXPECT_TRUE(IsTrue(Call("undeffacts", {Atom("start")})));
    EXPECT_EQ(Engine->FactSets().Count(), 0);
    EXPECT_EQ(ErrorOf("ppdeffacts", {Atom("start")}), "Unknown fact set name: start");
}

TEST_F(MiscEngineTest, AgendaListsActivationsAndTheirTotal) {
    EXPECT_EQ(Listing("agenda"), "for a total of 0 activations.");
    Exec("(defrule r (a $?x) => )");
    AssertOrdered("a", {Int(1)});
    AssertOrdered("a", {Int(2)});
    ASSERT_EQ(Engine->ActivationCount(), 2);
    EXPECT_EQ(Listing("agenda"), Engine->Agenda().GetText() + "for a total of 2 activations.");
}

// ---------------------------------------------------------------------------------------------
// Pretty-printing and undefining

TEST_F(MiscEngineTest, PrettyPrintUnknownNamesRaise) {
    EXPECT_EQ(ErrorOf("ppdefrule", {Atom("nosuchrule")}), "Unknown rule name: nosuchrule");
    EXPECT_EQ(ErrorOf("ppdeftemplate", {Atom("t")}), "Unknown fact template name: t");
    EXPECT_EQ(ErrorOf("ppdeftype", {Atom("ty")}), "Unknown defined type name: ty");
    EXPECT_EQ(ErrorOf("ppdeffunction", {Atom("f")}), "Unknown user function name: f");
    Printed.clear();
    EXPECT_EQ(ErrorOf("ppdefrule", {Str("x")}), "Unknown rule name: x");
    EXPECT_TRUE(Printed.empty());
}

TEST_F(MiscEngineTest, PrettyPrintTemplateIsItsText) {
    Exec("(deftemplate point (slot x) (slot y))");
    auto text = Call("ppdeftemplate", {Atom("point")});
    EXPECT_EQ(text->GetDType(), dtAtom);
    EXPECT_EQ(text->AsString(), Engine->FactTemplates().Find("point")->GetText());
    EXPECT_NE(text->AsString().find("point"), std::string::npos);
}

TEST_F(MiscEngineTest, PrettyPrintFunctionWritesDeffunctionsAndHelpTexts) {
    Exec("(deffunction twice (?x) ?x ?x)");
    auto text = Call("ppdeffunction", {Atom("twice")});
    EXPECT_EQ(text->GetDType(), dtAtom);
    EXPECT_EQ(text->AsString().find("(deffunction twice"), 0u);
    EXPECT_EQ(Call("ppdeffunction", {Atom("facts")})->AsString(),
              Engine->FindUserFunction("facts")->GetText(Engine));
}

TEST_F(MiscEngineTest, UndefRuleRemovesOnlyAnExistingRule) {
    Exec("(defrule keep (a) => )");
    EXPECT_TRUE(IsFalse(Call("undefrule", {Atom("nosuchrule")})));
    EXPECT_EQ(Engine->Rules().Count(), 1);
    EXPECT_TRUE(IsTrue(Call("undefrule", {Atom("keep")})));
    EXPECT_EQ(Engine->Rules().Count(), 0);
    EXPECT_TRUE(IsFalse(Call("undefrule", {Atom("keep")})));
}

TEST_F(MiscEngineTest, UndefTemplateRemovesItsFacts) {
    Exec("(deftemplate point (slot x))");
    Engine->AssertFact(Engine->FactTemplates().Find("point")->NewFact());
    const int32_t before = Engine->Facts().Count();
    EXPECT_TRUE(IsTrue(Call("undeftemplate", {Atom("point")})));
    EXPECT_FALSE(Engine->FactTemplates().Find("point"));
    EXPECT_EQ(Engine->Facts().Count(), before - 1);
    EXPECT_TRUE(IsFalse(Call("undeftemplate", {Atom("point")})));
    EXPECT_TRUE(IsFalse(Call("undeftype", {Atom("nosuchtype")})));
}

TEST_F(MiscEngineTest, UndefFunctionRemovesTheName) {
    EXPECT_TRUE(IsTrue(Call("undeffunction", {Atom("test-assert")})));
    EXPECT_FALSE(Engine->FindUserFunction("test-assert"));
    EXPECT_TRUE(IsFalse(Call("undeffunction", {Atom("test-assert")})));
    // A call may remove its own function; it finishes on the object it holds.
    EXPECT_TRUE(IsTrue(Call("undeffunction", {Atom("undeffunction")})));
    EXPECT_FALSE(Engine->FindUserFunction("undeffunction"));
}

// ---------------------------------------------------------------------------------------------
// Settings, parse and guard

TEST_F(MiscEngineTest, ConstraintCheckingSettersReturnThePreviousState) {
    EXPECT_TRUE(IsTrue(Call("get-static-constraint-checking")));
    EXPECT_TRUE(IsFalse(Call("get-dynamic-constraint-checking")));
    EXPECT_TRUE(IsFalse(Call("set-dynamic-constraint-checking", {Atom("TRUE")})));
    EXPECT_TRUE(Engine->TypeChecks().Contains(tcDynamic));
    EXPECT_TRUE(IsTrue(Call("get-dynamic-constraint-checking")));
    // Only the atom TRUE switches a check on.
    EXPECT_TRUE(IsTrue(Call("set-dynamic-constraint-checking", {Str("TRUE")})));
    EXPECT_FALSE(Engine->TypeChecks().Contains(tcDynamic));
    EXPECT_TRUE(IsTrue(Call("set-static-constraint-checking", {Int(1)})));
    EXPECT_FALSE(Engine->TypeChecks().Contains(tcStatic));
    EXPECT_TRUE(IsFalse(Call("get-static-constraint-checking")));
}

TEST_F(MiscEngineTest, SetResetGlobalsReturnsItsArgument) {
    EXPECT_TRUE(IsTrue(Call("set-reset-globals")));
    auto result = Call("set-reset-globals", {Int(1)});
    EXPECT_EQ(result->GetDType(), dtInteger);
    EXPECT_EQ(result->AsInteger(), 1);
    EXPECT_FALSE(Engine->ResetGlobals());
    EXPECT_TRUE(IsFalse(Call("set-reset-globals")));
    EXPECT_TRUE(IsTrue(Call("set-reset-globals", {Atom("TRUE")})));
    EXPECT_TRUE(Engine->ResetGlobals());
}

TEST_F(MiscEngineTest, SetGenSetsTheSymbolIndex) {
    EXPECT_EQ(Call("setgen", {Int(40)}), nullptr);
    EXPECT_EQ(Engine->SymbolIndex(), 40);
    EXPECT_THROW(Call("setgen", {Atom("many")}), EException);
}

TEST_F(MiscEngineTest, ParseReportsFailureInsteadOfRaising) {
    EXPECT_TRUE(IsFalse(Call("parse", {Str("(test-assert x")})));
    EXPECT_TRUE(IsFalse(Call("parse", {Str("(no-such-function)")})));
    const int32_t before = Engine->Facts().Count();
    EXPECT_TRUE(IsTrue(Call("parse", {Str("(test-assert x)")})));
    EXPECT_EQ(Engine->Facts().Count(), before + 1);
}

TEST_F(MiscEngineTest, GuardSuppressesReactivationOfItsRule) {
    Engine->Clear();
    // Unguarded: the asserted fact activates the rule again.
    Exec("(defrule loose (b $?x) => (test-assert b))");
    AssertOrdered("b", {Int(1)});
    EXPECT_EQ(Engine->RunLimited(10), 2);

    Exec("(defrule guarded (a $?x) => (guard (test-assert a)))");
    AssertOrdered("a", {Int(1)});
    EXPECT_EQ(Engine->RunLimited(10), 1);
    EXPECT_EQ(Engine->ActivationCount(), 0);
    EXPECT_TRUE(Engine->Rules().Find("guarded")->Enabled());
}

TEST_F(MiscEngineTest, GuardOutsideARuleReturnsTheLastValue) {
    auto result = Call("guard", {Int(1), Str("two")});
    EXPECT_EQ(result->AsString(), "two");
}

// ---------------------------------------------------------------------------------------------
// Rule texts

TEST_F(MiscEngineTest, RulesPrintsEveryRuleAndTheTotalToTheLogicalName) {
    EXPECT_TRUE(IsTrue(Call("rules")));
    ASSERT_EQ(Printed.size(), 1u);
    EXPECT_EQ(Printed.back().Text, "For a total of 0 rules.");
    EXPECT_EQ(Printed.back().Name, "");

    Exec("(defrule beta (b) => )");
    Exec("(defrule alpha (a) => )");
    Printed.clear();
    Call("rules", {Atom("t")});
    ASSERT_EQ(Printed.size(), 3u);
    for (const auto& p : Printed)
        EXPECT_EQ(p.Name, "t");
    EXPECT_NE(Printed[0].Text.find("(defrule "), std::string::npos);
    EXPECT_EQ(Printed[2].Text, "For a total of 2 rules.");

    auto text = Call("ppdefrule", {Atom("beta")});
    EXPECT_EQ(text->GetDType(), dtAtom);
    EXPECT_EQ(text->AsString().find("(defrule beta"), 0u);
}

// ---------------------------------------------------------------------------------------------
// Rule-language scripts: what a console shows

TEST_F(MiscEngineTest, ScriptsPrintExactTexts) {
    auto run = [this](std::string_view script) {
        Printed.clear();
        Exec(script);
        std::vector<std::string> texts;
        for (const auto& p : Printed)
            texts.push_back(p.Text);
        return texts;
    };
    using Texts = std::vector<std::string>;
    EXPECT_EQ(run("(decode-month (encode-date 2004 7 15))"), Texts{"7\r\n"});
    EXPECT_EQ(run("(decode-hour 0.75)"), Texts{"18\r\n"});
    EXPECT_EQ(run("(decode-year 0) (decode-day 0)"), (Texts{"1899\r\n", "30\r\n"}));
    EXPECT_EQ(run("(datetime-str-format (encode-date 2004 1 2) \"\\\"yyyy\\\"\")"),
              Texts{"\"2004\"\r\n"});
    EXPECT_EQ(run("(list-defrules)"), Texts{"for a total of 0 rules."});
    EXPECT_EQ(run("(undefrule nosuchrule)"), Texts{"FALSE\r\n"});
    EXPECT_EQ(run("(parse \"(decode-year\")"), Texts{"FALSE\r\n"});
    EXPECT_EQ(run("(set-reset-globals 1)"), Texts{"1\r\n"});
    EXPECT_FALSE(Engine->ResetGlobals());
    Engine->Clear();
    EXPECT_EQ(run("(facts)"), (Texts{"For a total of 0 facts.", "TRUE\r\n"}));
    try {
        Exec("(ppdefrule nosuchrule)");
        ADD_FAILURE() << "no error";
    } catch (const EException& e) {
        EXPECT_EQ(e.Message(), "Unknown rule name: nosuchrule");
    }
}

// The engine with every package: its whole text, per-construct files, stored properties,
// copying a whole engine, template replacement cascades, and the standard package's file
// functions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/match/IERule.h"
#include "engine/model/IEFacts.h"
#include "platform/StoredProperties.h"
#include "platform/Streams.h"
#include "tests/support/AllPackages.h"
#include "tests/support/TestSupport.h"

namespace ie {
namespace {

namespace fs = std::filesystem;

void RegisterAll() {
    test::RegisterAllPackages();
}

const char* const Constructs =
    "(deftype small extends (type INTEGER) (range 0 10))"
    "(deftemplate person \"a person\" (slot name) (slot age (type INTEGER) (default 0)))"
    "(deftemplate student extends person (slot school))"
    "(deftemplate box (slot size (type small)))"
    "(defglobal ?*limit* = 17)"
    "(deffunction twice (?x) (* 2 ?x))"
    "(defrule adult (person (name ?n) (age ?a&:(> ?a ?*limit*))) => (assert (adult ?n)))"
    "(defrule greet \"says hello\" (person (name ?n)) => (assert (greeted ?n)))"
    "(defrule lonely (box (size ?s)) =>)"
    "(deffacts people (person (name \"Ann\") (age 30)) (person (name Bob) (age 5)))";

struct TEngineText : ::testing::Test {
    TEngineText() {
        RegisterAll();
        E.OnPrintOut = [this](TInferenceEngine*, const std::string&, const std::string& text) {
            Out += text;
        };
    }
    ~TEngineText() override {
        for (const auto& f : Files)
            fs::remove(f);
    }
    std::string File(const std::string& name) {
        fs::path p = test::UniqueTempPath("ie-engine-files-" + name);
        Files.push_back(p);
        return p.string();
    }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The text without its "; Created:" line, which carries the time.
    static std::string Timeless(const std::string& text) {
        const size_t at = text.find("; Created: ");
        if (at == std::string::npos) return text;
        return text.substr(0, at) + text.substr(text.find("\r\n", at) + 2);
    }
    static std::vector<std::string> FactTexts(TInferenceEngine& e) {
        std::vector<std::string> r;
        for (const auto& f : e.Facts().Items())
            r.push_back(f->GetText());
        return r;
    }
    TInferenceEngine E;
    std::string Out;
    std::vector<fs::path> Files;
};

TEST_F(TEngineText, HeaderAndSectionsOfAClearedEngineWithOneTemplate) {
    E.Clear();
    E.ExecuteCommand("(deftemplate p (slot x))");
    const std::string text = Timeless(E.GetText());
    EXPECT_EQ(text.substr(0, text.find("\r\n\r\n")), "; *************************\r\n"
                                                     "; Inference Engine v2.1000 Output\r\n"
                                                     "; Number of Global Variables: 0\r\n"
                                                     "; Number of Defined Types:    0\r\n"
                                                     "; Number of Fact Templates:   3\r\n"
                                                     "; Number of Rules:            0\r\n"
                                                     "; Number of Fact Sets:        0\r\n"
                                                     "; Number of Facts:            0\r\n"
                                                     "(set-fact-duplication TRUE)");
    EXPECT_NE(text.find("\r\n; *************************\r\n; Fact Templates \r\n\r\n"),
              std::string::npos);
    // The function table always holds the package functions: the section is there, empty.
    EXPECT_NE(text.find("; Deffunctions \r\n"), std::string::npos);
    EXPECT_EQ(text.find("; Facts "), std::string::npos);
    EXPECT_EQ(text.find("; Rules "), std::string::npos);
    E.SetFactDuplication(true);
    EXPECT_NE(E.GetText().find("(set-fact-duplication FALSE)\r\n"), std::string::npos);
}

TEST_F(TEngineText, SectionsComeInOrderWithRulesSortedAndParentsFirst) {
    E.ExecuteCommand(Constructs);
    E.Reset();
    const std::string text = E.GetText();
    size_t last = 0;
    for (const char* title : {"; Global Variables ", "; Defined Types ", "; Fact Templates ",
                              "; Deffunctions ", "; Rules ", "; Fact Sets ", "; Facts "}) {
        const size_t at = text.find(std::string("\r\n; *************************\r\n") + title);
        ASSERT_NE(at, std::string::npos) << title;
        EXPECT_GT(at, last) << title;
        last = at;
    }
    EXPECT_LT(text.find("(defrule adult"), text.find("(defrule greet"));
    EXPECT_LT(text.find("(defrule greet"), text.find("(defrule lonely"));
    EXPECT_LT(text.find("(deftemplate person"), text.find("(deftemplate student"));
    EXPECT_NE(text.find("(assert\r\n    (Initial-Fact)\r\n    (person (name \"Ann\") (age 30))"),
              std::string::npos);
}

TEST_F(TEngineText, SettingTheTextGivesTheSameEngineAndResets) {
    E.ExecuteCommand(Constructs);
    E.SetFactDuplication(true);
    E.Reset();
    E.AssertString("(student (name Cy) (age 20) (school MIT))");
    const std::string text = E.GetText();

    TInferenceEngine copy;
    copy.SetText(text);
    EXPECT_TRUE(copy.FactDuplication());
    // The assert block is removed again by the closing reset.
    EXPECT_EQ(FactTexts(copy),
              (std::vector<std::string>{"(Initial-Fact)", "(person (name \"Ann\") (age 30))",
                                        "(person (name Bob) (age 5))"}));
    copy.AssertString("(student (name Cy) (age 20) (school MIT))");
    EXPECT_EQ(Timeless(copy.GetText()), Timeless(text));

    // Loading keeps the facts of the text.
    TInferenceEngine loaded;
    loaded.Clear();
    TStringStream stream(text);
    loaded.LoadFromStream(stream);
    EXPECT_EQ(FactTexts(loaded), FactTexts(E));
    EXPECT_EQ(Timeless(loaded.GetText()), Timeless(text));
    // Rules on an empty left-hand side still see the initial fact of a loaded engine.
    loaded.ExecuteCommand("(defrule start => (assert (started)))");
    loaded.Reset();
    EXPECT_EQ(loaded.Run(), 4) << "start, greet twice, adult once";
}

TEST_F(TEngineText, WholeEngineFilesRoundTrip) {
    E.ExecuteCommand(Constructs);
    E.Reset();
    const std::string path = File("whole.ie");
    E.SaveToFile(path);
    EXPECT_EQ(Slurp(path).substr(0, 27), "; *************************");
    TInferenceEngine other;
    other.LoadFromFile(path);
    EXPECT_EQ(Timeless(other.GetText()), Timeless(E.GetText()));
    EXPECT_THROW(other.LoadFromFile(File("missing.ie")), EException);
}

// A host's engine that writes and reads its own way: the file methods go through its stream
// methods, and its text is what the whole-engine stream gets.
class THostEngine : public TInferenceEngine {
public:
    std::string GetText() override { return "; host\r\n" + TInferenceEngine::GetText(); }
    void SaveFactsToStream(TStream& stream) override {
        const std::string mark = "; facts\r\n";
        stream.WriteBuffer(mark.data(), static_cast<int64_t>(mark.size()));
        TInferenceEngine::SaveFactsToStream(stream);
    }
    void LoadRulesFromStream(TStream& stream) override {
        ++RuleLoads;
        TInferenceEngine::LoadRulesFromStream(stream);
    }
    int RuleLoads = 0;
};

TEST_F(TEngineText, FileMethodsGoThroughAHostsStreamMethods) {
    THostEngine host;
    host.ExecuteCommand(Constructs);
    host.Reset();
    const std::string whole = File("host.ie"), facts = File("host.ief"), rules = File("host.ier");
    host.SaveToFile(whole);
    EXPECT_EQ(Slurp(whole).substr(0, 8), "; host\r\n");
    host.SaveFactsToFile(facts);
    EXPECT_EQ(Slurp(facts).substr(0, 9), "; facts\r\n");
    host.SaveRulesToFile(rules);
    host.LoadRulesFromFile(rules);
    EXPECT_EQ(host.RuleLoads, 1);
    EXPECT_EQ(host.Rules().Count(), 3);
}

TEST_F(TEngineText, PerConstructFiles) {
    E.ExecuteCommand(Constructs);
    E.Reset();
    E.AssertString("(student (name Cy) (age 20) (school MIT))");
    const std::string types = File("t.ied"), templates = File("t.iet"), rules = File("t.ier"),
                      facts = File("t.ief"), students = File("s.ief");
    E.SaveTypesToFile(types);
    E.SaveTemplatesToFile(templates);
    E.SaveRulesToFile(rules);
    E.SaveFactsToFile(facts);
    E.SaveTemplateFactsToFile(students, "student");
    EXPECT_EQ(Slurp(students), "(student (name Cy) (age 20) (school MIT))\r\n");
    EXPECT_EQ(Slurp(types), E.DefinedTypeText(*E.DefinedTypes().Find("small")) + "\r\n");

    TInferenceEngine other;
    // A rule's global must exist before the rule is read.
    other.ExecuteCommand("(defglobal ?*limit* = 17)");
    other.LoadTypesFromFile(types);
    other.LoadTemplatesFromFile(templates);
    other.LoadRulesFromFile(rules);
    other.LoadFactsFromFile(facts);
    EXPECT_EQ(other.DefinedTypes().Count(), 1);
    EXPECT_EQ(other.FactTemplates().Count(), E.FactTemplates().Count());
    EXPECT_EQ(other.Rules().Count(), 3);
    EXPECT_EQ(FactTexts(other), FactTexts(E));
    // Loading rules clears the rules first; a template in the file comes along.
    const std::string mixed = File("mixed.ier");
    {
        std::ofstream out(mixed, std::ios::binary);
        out << "(deftemplate extra (slot a))\r\n(defrule uses-extra (extra (a ?a)) =>)\r\n";
    }
    other.LoadRulesFromFile(mixed);
    EXPECT_EQ(other.Rules().Count(), 1);
    EXPECT_TRUE(other.FactTemplates().Find("extra"));
    // Loading templates clears templates, and with them the facts and rules.
    other.LoadTemplatesFromFile(templates);
    EXPECT_EQ(other.Rules().Count(), 0);
    EXPECT_EQ(other.Facts().Count(), 0);
}

TEST_F(TEngineText, StoredPropertiesCarryTablesFactsAndFactSets) {
    E.ExecuteCommand(Constructs);
    E.Reset();
    E.AssertString("(student (name Cy) (age 20) (school MIT))");
    TMemoryStream stream;
    {
        TWriter writer(stream);
        writer.WriteProperties(E);
    }
    stream.SetPosition(0);
    TInferenceEngine loaded;
    {
        TReader reader(stream);
        reader.ReadProperties(loaded);
    }
    EXPECT_EQ(FactTexts(loaded), FactTexts(E));
    EXPECT_EQ(loaded.Rules().Count(), 3);
    EXPECT_EQ(loaded.FactSets().Count(), 1);
    EXPECT_EQ(loaded.DefinedTypes().Count(), 1);
    EXPECT_TRUE(loaded.FactTemplates().Find("student"));
    EXPECT_EQ(loaded.GlobalVariables().Count(), 1);
}

TEST_F(TEngineText, AssigningAWholeEngine) {
    E.ExecuteCommand(Constructs);
    E.SetWatch(TConstructWatches{cwFact});
    E.Reset();
    E.AssertString("(student (name Cy) (age 20) (school MIT))");
    TInferenceEngine copy;
    copy.Assign(&E);
    EXPECT_EQ(Timeless(copy.GetText()), Timeless(E.GetText()));
    EXPECT_TRUE(copy.Watch().Contains(cwFact));
    EXPECT_TRUE(copy.UserFunctionExists("twice"));
    EXPECT_NE(copy.UserFunctions().Find("twice").get(), E.UserFunctions().Find("twice").get())
        << "deffunctions are made again in the copy";
    EXPECT_EQ(copy.Run(), E.Run());
    TComponent stranger(nullptr);
    EXPECT_THROW(copy.Assign(&stranger), EException);
}

TEST_F(TEngineText, ReplacingATemplateRebuildsItsFactsAndRules) {
    E.ExecuteCommand(Constructs);
    E.Reset();
    TRule* lonely = E.Rules().Find("lonely");
    TRule* adult = E.Rules().Find("adult");
    const int32_t before = E.NextFactId();
    E.ExecuteCommand("(deftemplate person \"a person\" (slot name) (slot age (type INTEGER) "
                     "(default 0)) (slot city))");
    EXPECT_EQ(E.Rules().Find("lonely"), lonely) << "a rule on another template stays";
    ASSERT_NE(E.Rules().Find("adult"), nullptr);
    EXPECT_NE(E.Rules().Find("adult"), adult) << "the rule on the template is made again";
    EXPECT_EQ(E.Rules().Count(), 3);
    // The two persons are asserted again under new identifiers.
    int persons = 0;
    for (const auto& f : E.Facts().Items())
        if (f->GetTemplate()->GetName() == "person") {
            ++persons;
            EXPECT_GE(f->GetFactId(), before);
            EXPECT_EQ(f->GetTemplate().get(), E.FactTemplates().Find("person").get());
        }
    EXPECT_EQ(persons, 2);
    // The rule matches the re-asserted facts of the new template.
    E.Run();
    EXPECT_NE(E.Facts().IndexOfFact(E.ParseFact("(adult \"Ann\")").get()), -1);
}

TEST_F(TEngineText, ReplacingATypeRebuildsTheTemplatesThatUseIt) {
    E.ExecuteCommand(Constructs);
    E.Reset();
    E.AssertString("(box (size 3))");
    E.ExecuteCommand("(deftype small extends (type INTEGER) (range 0 20))");
    TRefPtr<IFactTemplate> box = E.FactTemplates().Find("box");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->SlotAt(0)->GetExtendedTypeInfo().get(), E.DefinedTypes().Find("small").get());
    EXPECT_NE(E.Facts().IndexOfFact(E.ParseFact("(box (size 3))").get()), -1);
    // Another name: the templates that used the old type go.
    E.DefinedTypes().RemoveType("small");
    EXPECT_FALSE(E.FactTemplates().Find("box"));
}

TEST_F(TEngineText, StandardFileFunctions) {
    E.ExecuteCommand(Constructs);
    E.Reset();
    const std::string whole = File("fn.ie"), facts = File("fn.ief"), people = File("p.ief"),
                      none = File("none.ief");
    E.ExecuteCommand("(save \"" + whole + "\") (save-facts \"" + facts + "\") (save-facts \"" +
                     people + "\" person) (save-facts \"" + none + "\" nothing)");
    EXPECT_EQ(Out, "TRUE\r\nTRUE\r\nTRUE\r\nTRUE\r\n");
    EXPECT_EQ(Slurp(people), "(person (name \"Ann\") (age 30))\r\n(person (name Bob) (age 5))\r\n");
    EXPECT_EQ(Slurp(none), "");
    TInferenceEngine other;
    other.ExecuteCommand("(load \"" + whole + "\")");
    EXPECT_EQ(other.Rules().Count(), 3);
    other.ExecuteCommand("(reset) (load-facts \"" + people + "\")");
    EXPECT_EQ(other.Facts().Count(), 3) << "the fact set's facts are already there: refused";
    EXPECT_THROW(other.ExecuteCommand("(load \"" + File("absent.clp") + "\")"), EException);
}

TEST(StandardPackageFunctions, SeventyOneInTheirOrder) {
    RegisterAll();
    TInferenceEngine e;
    TStandardPackage* package = nullptr;
    for (int32_t i = 0; i < e.ComponentCount() && !package; ++i)
        package = dynamic_cast<TStandardPackage*>(e.Components(i));
    ASSERT_NE(package, nullptr);
    ASSERT_EQ(package->Functions().Count(), 71);
    std::vector<std::string> names;
    for (int32_t i = 0; i < package->Functions().Count(); ++i)
        names.push_back(package->Functions().Item(i)->GetFunctionName());
    EXPECT_EQ(names[27], "load");
    EXPECT_EQ(names[28], "load-facts");
    EXPECT_EQ(names[48], "save");
    EXPECT_EQ(names[49], "save-facts");
}

} // namespace
} // namespace ie

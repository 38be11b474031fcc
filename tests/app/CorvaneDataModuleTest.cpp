// The data module with the engine and the demo rule file, end to end and without a display.
#include "app/model/CorvaneDataModule.h"
#include "tests/support/TestSupport.h"

#include "editors/logic/ConsoleEditor.h"
#include "editors/logic/IEDialogs.h"

#include "engine/InferenceEngine.h"
#include "engine/match/IERule.h"
#include "engine/match/ReteNetwork.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"
#include "platform/DialogService.h"
#include "platform/Format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace ie {
namespace {

namespace fs = std::filesystem;

// 13:04:05.250 on 1 March 2024.
constexpr TDateTime Start = 45352 + (13 * 3600 + 4 * 60 + 5.25) / 86400.0;

const std::string Banner = "Demo rules: 5 mnemonics per system, 15 science mnemonics with a "
                           "bandwidth of 0.2000, satellite lost at 2 critical systems";

struct TView : ISimulationView {
    std::vector<std::string> Lines;
    std::vector<std::string> Errors;
    // The window's turns while rules fire, and what the user does in them.
    int Turns = 0;
    std::function<void()> OnTurn;
    void LogAppended(const std::string& line) override { Lines.push_back(line); }
    void ErrorRaised(const std::string& message) override { Errors.push_back(message); }
    void ProcessMessages() override {
        ++Turns;
        if (OnTurn) OnTurn();
    }
};

// Answers the dialogs without a person and remembers what they showed.
struct TScriptedDialogs : IDialogService {
    std::vector<std::string> Messages;
    std::vector<std::string> Errors;
    void ShowMessage(std::string_view text) override { Messages.emplace_back(text); }
    int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override {
        ((flags & 0xF0) == MB_ICONERROR ? Errors : Messages).emplace_back(text);
        Captions.emplace_back(caption);
        return mrOk;
    }
    std::vector<std::string> Captions;
    TModalResult MessageDlg(std::string_view text, TMsgDlgType type, TMsgDlgButtons, int) override {
        (type == TMsgDlgType::mtError ? Errors : Messages).emplace_back(text);
        return mrOk;
    }
    std::string InputBox(std::string_view, std::string_view, std::string_view d) override {
        return std::string(d);
    }
    bool InputQuery(std::string_view, std::string_view, std::string&) override { return false; }
};

// Rounds as the fact texts do: the rules see values and limits to hundredths.
double Hundredths(double value) {
    return std::strtod(Format("%f", value).c_str(), nullptr);
}

class DataModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        FPrevious = SetDialogService(&Dialogs);
        Sim.SetView(&View);
        Sim.SetClock([] { return 0u; });
        Sim.Initialize(Start);
        Dir = test::UniqueTempPath("corvane-dm");
        fs::create_directories(Dir);
    }
    void TearDown() override {
        Module.reset();
        SetDialogService(FPrevious);
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }

    fs::path Write(const std::string& name, const std::string& text) {
        const fs::path path = Dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Loads the text as the working directory's "expert system".
    void Create(const std::string& rules) {
        Write(TDataModule1::ExpertSystemFileName, rules);
        CreateIn(Dir);
    }
    void CreateIn(const fs::path& dir, TDataModule1::TOpenDialog dialog = nullptr) {
        Module = std::make_unique<TDataModule1>(Sim);
        Module->DataModuleCreate(dialog, dir);
    }
    TInferenceEngine& Engine() { return Module->InferenceEngine1(); }
    std::string FirstError() const { return Dialogs.Errors.empty() ? "" : Dialogs.Errors[0]; }

    // The log lines of the last iteration, without their time stamp.
    std::vector<std::string> Step() {
        const size_t before = View.Lines.size();
        Sim.SimulationStep();
        const std::string stamp = TimeToStr(Sim.SimTime()) + " ";
        std::vector<std::string> lines;
        for (size_t i = before; i < View.Lines.size(); ++i) {
            EXPECT_EQ(View.Lines[i].rfind(stamp, 0), 0u) << View.Lines[i];
            lines.push_back(View.Lines[i].substr(stamp.size()));
        }
        return lines;
    }
    int CountFacts(std::string_view templateName) {
        int n = 0;
        for (const auto& fact : Engine().Facts().Items())
            n += fact->GetTemplate()->GetName() == templateName;
        return n;
    }
    TStatusColour Panel(std::string_view caption) {
        for (const TSystemPanel& panel : Sim.SystemPanels())
            if (panel.Caption == caption) return panel.Colour;
        ADD_FAILURE() << "no panel " << caption;
        return TStatusColour::scNeutral;
    }

    TScriptedDialogs Dialogs;
    TView View;
    TSimulation Sim;
    fs::path Dir;
    std::unique_ptr<TDataModule1> Module;

private:
    IDialogService* FPrevious = nullptr;
};

// A template of the values and limits, as a rule file must declare it.
const std::string Templates = "(deftemplate mnemonic (slot name) (slot value))\n"
                              "(deftemplate mnem-metadata (slot name) (slot system) "
                              "(slot subsystem) (slot yellowlow) (slot yellowhigh) "
                              "(slot redlow) (slot redhigh))\n";

// ---------------------------------------------------------------------------------------------
// Finding the rule file

TEST_F(DataModuleTest, WithoutRuleFileACancelledDialogLeavesTheSimulationWithoutRules) {
    std::string offered;
    CreateIn(Dir, [&](std::string& fileName) {
        offered = fileName;
        return false;
    });
    EXPECT_EQ(offered, "expert system");
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].rfind("No Expert System Available\r\n", 0), 0u);
    EXPECT_FALSE(Sim.ExpertSystemAvailable());
    EXPECT_EQ(Sim.RulesStatus(), "Rules inactive: no rule file");
    EXPECT_EQ(Sim.Rules(), nullptr);
    // No variables, no metadata, no reset.
    EXPECT_EQ(Engine().Facts().Count(), 1);
    EXPECT_EQ(Engine().GlobalVariables().Count(), 0);
    Step();
    Step();
    EXPECT_EQ(Sim.Points(), 2);
    EXPECT_EQ(Engine().Facts().Count(), 1);
    for (const TSystemPanel& panel : Sim.SystemPanels())
        EXPECT_EQ(panel.Colour, TStatusColour::scNeutral);
}

TEST_F(DataModuleTest, TheOpenDialogsChoiceIsLoadedWhenThereIsNoExpertSystemFile) {
    const fs::path chosen = Write("mine.clp", Templates + "(defrule r (mnemonic (name "
                                                          "CommMnem1)) => (printout t \"seen\"))");
    CreateIn(Dir, [&](std::string& fileName) {
        fileName = chosen.string();
        return true;
    });
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_EQ(Module->RuleFileName(), chosen.string());
    EXPECT_EQ(Sim.RulesStatus(), "Rules active: " + chosen.string());
    EXPECT_EQ(Step(), std::vector<std::string>{"seen"});
}

// ---------------------------------------------------------------------------------------------
// Start-up

TEST_F(DataModuleTest, StartUpGivesGlobalsAndOneMetadataFactPerMnemonic) {
    Create(Templates + "(defglobal ?*NUM_SYS* = 7)\n(deffacts own (ready))\n");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    EXPECT_EQ(Sim.Rules(), Module.get());
    TGlobalVariables& globals = Engine().GlobalVariables();
    for (const char* name :
         {"*NUM_SYS*", "*NUM_MNEM_PER_SYSTEM*", "*NUM_SCI_MNEMS*", "*SCI_BANDWIDTH*"})
        ASSERT_NE(globals.Get(name), nullptr) << name;
    // The application's values replace the rule file's.
    EXPECT_EQ(globals.Get("*NUM_SYS*")->GetDType(), dtInteger);
    EXPECT_EQ(globals.Get("*NUM_SYS*")->AsInteger(), 2);
    EXPECT_EQ(globals.Get("*NUM_MNEM_PER_SYSTEM*")->AsInteger(), 5);
    EXPECT_EQ(globals.Get("*NUM_SCI_MNEMS*")->AsInteger(), 15);
    EXPECT_EQ(globals.Get("*SCI_BANDWIDTH*")->GetDType(), dtFloat);
    EXPECT_DOUBLE_EQ(globals.Get("*SCI_BANDWIDTH*")->AsFloat(), 0.2);

    // (Initial-Fact) first, then the metadata in mnemonic order, and the rule file's facts.
    const TFacts& facts = Engine().Facts();
    ASSERT_EQ(facts.Count(), 32);
    EXPECT_EQ(facts.Item(0)->GetTemplate()->GetName(), "Initial-Fact");
    EXPECT_EQ(facts.Item(0)->GetFactId(), 0);
    const int first = facts.Item(1)->GetTemplate()->GetName() == "mnem-metadata" ? 1 : 2;
    EXPECT_EQ(facts.Item(first == 1 ? 31 : 1)->GetTemplate()->GetName(), "ready");
    const auto text = [](const IFact& fact, std::string_view slot) {
        const TRefPtr<IIEValue> value = fact.GetSlotValue(slot);
        return value ? value->AsString() : std::string("<none>");
    };
    const auto number = [](const IFact& fact, std::string_view slot) {
        const TRefPtr<IIEValue> value = fact.GetSlotValue(slot);
        return value ? value->AsFloat() : -1e300;
    };
    const TMnemonics& mnemonics = Sim.Mnemonics();
    for (int i = 0; i < 30; ++i) {
        const IFact& fact = *facts.Item(i + first);
        const TMnemonic& item = mnemonics.Items(i);
        ASSERT_EQ(fact.GetTemplate()->GetName(), "mnem-metadata");
        EXPECT_EQ(text(fact, "name"), item.Name());
        EXPECT_EQ(text(fact, "system"), item.System());
        EXPECT_EQ(text(fact, "subsystem"), "unknown");
        EXPECT_DOUBLE_EQ(number(fact, "yellowlow"), Hundredths(item.YellowLow()));
        EXPECT_DOUBLE_EQ(number(fact, "yellowhigh"), Hundredths(item.YellowHigh()));
        EXPECT_DOUBLE_EQ(number(fact, "redlow"), Hundredths(item.RedLow()));
        EXPECT_DOUBLE_EQ(number(fact, "redhigh"), Hundredths(item.RedHigh()));
    }
}

TEST_F(DataModuleTest, ARuleFileDefiningAGlobalSeesTheApplicationsValue) {
    Create(Templates + "(defglobal ?*NUM_SYS* = 7)\n"
                       "(defrule r (mnemonic (name CommMnem1)) => (printout t ?*NUM_SYS*))");
    EXPECT_EQ(Step(), std::vector<std::string>{"2"});
}

// A rule file that clears the engine while it loads drops the engine's list of fact sets; the
// metadata set must still be asserted at every reset.
TEST_F(DataModuleTest, MetadataIsAssertedEvenWhenTheRuleFileClearsTheEngine) {
    Create("(clear)\n" + Templates);
    EXPECT_EQ(CountFacts("mnem-metadata"), 30);
    Engine().Reset();
    EXPECT_EQ(CountFacts("mnem-metadata"), 30);
}

// The reader's message names the line; the half-read file is dropped and the simulation runs
// on without rules.
TEST_F(DataModuleTest, ARuleFileThatFailsToLoadIsReportedAndTheApplicationRunsWithoutRules) {
    Create(Templates + "(defrule good (mnemonic) => (assert (alert Power)))\n"
                       "\n"
                       "(defrule bad (mnemonic) (assert (x)))\n");
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_NE(Dialogs.Errors[0].find("at line 5"), std::string::npos) << Dialogs.Errors[0];
    EXPECT_NE(Dialogs.Errors[0].find("Parsing Error"), std::string::npos) << Dialogs.Errors[0];
    // The box names the file, and the window says that the rules are inactive.
    EXPECT_NE(Dialogs.Errors[0].find("expert system"), std::string::npos) << Dialogs.Errors[0];
    EXPECT_NE(Dialogs.Errors[0].find("without rules"), std::string::npos) << Dialogs.Errors[0];
    EXPECT_EQ(Sim.RulesStatus().rfind("Rules inactive: ", 0), 0u) << Sim.RulesStatus();
    EXPECT_NE(Sim.RulesStatus().find("expert system"), std::string::npos) << Sim.RulesStatus();
    EXPECT_FALSE(Sim.ExpertSystemAvailable());
    EXPECT_EQ(Engine().Rules().Count(), 0);
    Step();
    EXPECT_EQ(Sim.Points(), 1);
    EXPECT_EQ(Panel("Power"), TStatusColour::scNeutral);
    EXPECT_TRUE(View.Errors.empty());
}

// Every rule file that loads but cannot take the exchanged facts is told as a broken file is:
// one box naming the file and the problem, the rules inactive, the simulation running on.
TEST_F(DataModuleTest, ARuleFileThatCannotTakeTheMetadataIsReportedAndTheSimulationRunsOn) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty", ""},
        {"no metadata template",
         "(deftemplate mnemonic (slot name) (slot value))\n(defrule r (mnemonic) => )\n"},
        {"no value template",
         "(deftemplate mnem-metadata (slot name) (slot system) (slot subsystem) "
         "(slot yellowlow) (slot yellowhigh) (slot redlow) (slot redhigh))\n"},
        {"not a rule file", "Dear user,\nthe telemetry looks fine today. Regards\n"},
        {"metadata of the wrong type",
         "(deftemplate mnemonic (slot name) (slot value))\n"
         "(deftemplate mnem-metadata (slot name) (slot system (type INTEGER)) (slot subsystem) "
         "(slot yellowlow) (slot yellowhigh) (slot redlow) (slot redhigh))\n"},
    };
    for (const auto& [what, text] : files) {
        SCOPED_TRACE(what);
        Dialogs.Errors.clear();
        View.Errors.clear();
        const fs::path chosen = Write(what + ".clp", text);
        // Chosen in the open dialog, as a user picks a file of the wrong kind.
        CreateIn(Dir, [&](std::string& fileName) {
            fileName = chosen.string();
            return true;
        });
        ASSERT_EQ(Dialogs.Errors.size(), 1u);
        EXPECT_EQ(Dialogs.Captions.back(), "Rules not used");
        EXPECT_NE(Dialogs.Errors[0].find(chosen.string()), std::string::npos) << Dialogs.Errors[0];
        EXPECT_NE(Dialogs.Errors[0].find("without rules"), std::string::npos) << Dialogs.Errors[0];
        EXPECT_EQ(Dialogs.Errors[0].find("unimplemented"), std::string::npos) << Dialogs.Errors[0];
        EXPECT_FALSE(Sim.ExpertSystemAvailable());
        EXPECT_EQ(Sim.Rules(), nullptr);
        EXPECT_EQ(Sim.RulesStatus().rfind("Rules inactive: ", 0), 0u) << Sim.RulesStatus();
        const int points = Sim.Points();
        Sim.StepClick();
        EXPECT_EQ(Sim.Points(), points + 1);
        EXPECT_TRUE(View.Errors.empty()) << View.Errors.front();
        Module.reset();
    }
    // A missing template is named as such.
    Dialogs.Errors.clear();
    Create("(deftemplate mnemonic (slot name) (slot value))\n");
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_NE(Dialogs.Errors[0].find("\"mnem-metadata\""), std::string::npos) << Dialogs.Errors[0];
}

// What the user is told of a rule file that cannot be used names the user's own file, the line,
// the template and the slot, in words rather than the reader's internal names, and says that
// another file can be opened later from the console.
TEST_F(DataModuleTest, MessagesOnARuleFileNameTheFileLineTemplateAndSlotInWords) {
    const auto told = [&](const std::string& name, const std::string& text) {
        Dialogs.Errors.clear();
        const fs::path file = Write(name, text);
        CreateIn(Dir, [&](std::string& fileName) {
            fileName = file.string();
            return true;
        });
        Module.reset();
        EXPECT_EQ(Dialogs.Errors.size(), 1u);
        const std::string message = Dialogs.Errors.empty() ? "" : Dialogs.Errors[0];
        for (const char* internal : {"dtFloat", "dtAtom", "ATOM", "ParseValue", "INTEGER type",
                                     "a INTEGER", "Operation aborted", "declare no template"})
            EXPECT_EQ(message.find(internal), std::string::npos) << internal << " in " << message;
        EXPECT_NE(message.find(file.string()), std::string::npos) << message;
        EXPECT_NE(message.find("opened later from the console"), std::string::npos) << message;
        return message;
    };
    std::string message =
        told("symbol.clp", "(deftemplate mnemonic (slot name) (slot value))\n"
                           "(deftemplate mnem-metadata (slot name) (slot system)\n"
                           "    (slot subsystem) (slot yellowlow)\n"
                           "    (slot yellowhigh (type SYMBOL)) (slot redlow) (slot redhigh))\n");
    EXPECT_NE(message.find("line 4"), std::string::npos) << message;
    EXPECT_NE(message.find("\"yellowhigh\""), std::string::npos) << message;
    EXPECT_NE(message.find("\"mnem-metadata\""), std::string::npos) << message;
    EXPECT_NE(message.find("a number"), std::string::npos) << message;
    EXPECT_NE(message.find("a symbol"), std::string::npos) << message;

    message = told("default.clp", "(deftemplate mnemonic (slot name) (slot value)\n"
                                  "    (slot seen (type INTEGER) (default none)))\n" +
                                      Templates.substr(Templates.find('\n') + 1));
    EXPECT_NE(message.find("line 2"), std::string::npos) << message;
    EXPECT_NE(message.find("\"seen\""), std::string::npos) << message;
    EXPECT_NE(message.find("an integer"), std::string::npos) << message;

    message = told("empty.clp", "; nothing yet\n");
    EXPECT_NE(message.find("is empty"), std::string::npos) << message;

    message = told("exit.clp", Templates + "(exit)\n");
    EXPECT_NE(message.find("(exit)"), std::string::npos) << message;
    EXPECT_NE(message.find("line 3"), std::string::npos) << message;

    // Without a file at all, the start-up box says the same.
    Dialogs.Messages.clear();
    CreateIn(Dir, [](std::string&) { return false; });
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].rfind("No Expert System Available", 0), 0u);
    EXPECT_NE(Dialogs.Messages[0].find("opened later from the console"), std::string::npos);
}

// Loading at start-up runs the file's commands; what they echo and the facts they assert (gone
// at the reset) are no news for the log. A file saved from the console has such commands.
TEST_F(DataModuleTest, LoadingTheRuleFileSendsNoCommandEchoesOrStaleAlertsToTheLog) {
    Create(Templates + "(assert (alert Power))\n(+ 1 2)\n(deffacts own (ready))\n");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    EXPECT_TRUE(View.Lines.empty()) << View.Lines.front();
    EXPECT_EQ(Panel("Power"), TStatusColour::scNeutral);
    EXPECT_EQ(CountFacts("alert"), 0);
    EXPECT_EQ(CountFacts("ready"), 1);
}

// ---------------------------------------------------------------------------------------------
// The fact exchange

TEST_F(DataModuleTest, AnAlertThenAWarningLeavesThePanelRedAndLogsBoth) {
    Create(Templates + "(defrule r (mnemonic (name CommMnem1)) => "
                       "(assert (alert Communications)) (assert (warning Communications)))");
    EXPECT_EQ(Step(), (std::vector<std::string>{"Alert! Communications critical",
                                                "Warning! Communications degradation detected"}));
    EXPECT_EQ(Panel("Communications"), TStatusColour::scRed);
    EXPECT_EQ(Panel("Power"), TStatusColour::scNeutral);
}

TEST_F(DataModuleTest, AnAlertNamingNoPanelExactlyIsLoggedAndColoursNothing) {
    Create(Templates + "(defrule r (mnemonic (name CommMnem1)) => (assert (alert power)))");
    EXPECT_EQ(Step(), std::vector<std::string>{"Alert! power critical"});
    for (const TSystemPanel& panel : Sim.SystemPanels())
        EXPECT_EQ(panel.Colour, TStatusColour::scNeutral);
}

TEST_F(DataModuleTest, SatelliteHealthSetsTheSatellitePanel) {
    Create(Templates);
    Engine().AssertString("(satellite-health 0.5)");
    EXPECT_EQ(Sim.SatelliteState(), TStatusColour::scYellow);
    Engine().AssertString("(satellite-health 1)");
    EXPECT_EQ(Sim.SatelliteState(), TStatusColour::scNeutral);
    Engine().AssertString("(satellite-health 0.75)");
    EXPECT_EQ(Sim.SatelliteState(), TStatusColour::scAqua);
    Engine().AssertString("(satellite-health -3)");
    EXPECT_EQ(Sim.SatelliteState(), TStatusColour::scRed);
}

// A health that is no number, or none at all, is a satellite in trouble: the panel turns red and
// the run goes on (an exception would abort it and leave the values in working memory).
TEST_F(DataModuleTest, ASatelliteHealthThatIsNoNumberTurnsThePanelRedWithoutAbortingTheRun) {
    Create(Templates + "(defrule a (declare (salience 10)) (mnemonic (name CommMnem1)) => "
                       "(assert (satellite-health 1)) (assert (satellite-health high)))\n"
                       "(defrule b (mnemonic (name CommMnem1)) => (printout t \"after\"))");
    EXPECT_EQ(Step(), std::vector<std::string>{"after"});
    EXPECT_EQ(Sim.SatelliteState(), TStatusColour::scRed);
    EXPECT_EQ(CountFacts("mnemonic"), 0);
    EXPECT_TRUE(View.Errors.empty());

    Engine().AssertString("(satellite-health 1)");
    Engine().AssertString("(satellite-health)");
    EXPECT_EQ(Sim.SatelliteState(), TStatusColour::scRed);
}

TEST_F(DataModuleTest, ValueFactsLeaveAtTheEndOfTheIterationAndConclusionsAtTheNextOne) {
    Create(Templates + "(deffacts own (round-start))\n"
                       "(defrule r (mnemonic (name CommMnem1) (value ?v)) => "
                       "(assert (seen ?v)) (assert (mnemonic (name Extra) (value 1.0))) "
                       "(assert (mnem-metadata (name Extra))))");
    Step();
    // The rule's own "mnemonic" fact went with the values; its "mnem-metadata" fact stays.
    EXPECT_EQ(CountFacts("mnemonic"), 0);
    EXPECT_EQ(CountFacts("mnem-metadata"), 31);
    EXPECT_EQ(CountFacts("seen"), 1);
    EXPECT_EQ(CountFacts("round-start"), 1);
    EXPECT_EQ(Engine().Facts().Count(), 1 + 31 + 2);

    Step();
    // The conclusion of the first iteration is gone, the rule file's facts are back once.
    EXPECT_EQ(CountFacts("seen"), 1);
    EXPECT_EQ(CountFacts("round-start"), 1);
    EXPECT_EQ(CountFacts("mnem-metadata"), 31);
    ASSERT_GT(Engine().Facts().Count(), 0);
    EXPECT_EQ(Engine().Facts().Item(0)->GetTemplate()->GetName(), "Initial-Fact");
}

TEST_F(DataModuleTest, DebugModeOpensTheConsoleBeforeTheRulesRunAndPausesTheSimulation) {
    Create(Templates + "(defrule r (mnemonic (name CommMnem1)) => (assert (alert Power)))");
    int opened = 0;
    Module->ConsoleDialog1 = [&](std::string&) {
        ++opened;
        EXPECT_EQ(CountFacts("mnemonic"), 30);
        EXPECT_EQ(CountFacts("alert"), 0);
        EXPECT_FALSE(Sim.Running());
        return false;
    };
    Sim.SetDebugMode(true);
    Sim.PlayClick();
    Sim.TimerTick();
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(Sim.Running());
    EXPECT_FALSE(Sim.TimerEnabled());
    EXPECT_EQ(Panel("Power"), TStatusColour::scRed);
}

// The console in debug mode, as the application wires it: modal on a copy of the engine, and OK
// hands the copy back. The copy must carry everything the rules rely on (the four globals, the
// metadata and the rule file's deffacts), so that the simulation goes on as before.
struct TScriptedConsoleForm : IConsoleForm {
    TScriptedConsoleForm(bool dialog, TInferenceEngine& engine,
                         const std::function<void(TInferenceEngine&)>& work,
                         const std::function<void(TIEConsole&)>& consoleWork = nullptr)
        : FConsole(dialog, engine), FWork(work), FConsoleWork(consoleWork) {}
    TIEConsole& Console() override { return FConsole; }
    void SetCaption(const std::string&) override {}
    bool ShowModal() override {
        // Cancelled after MaxShows: a console that opens again and again is a failure of the
        // test, not a hang.
        if (++FShows > MaxShows) return false;
        if (FConsoleWork) FConsoleWork(FConsole);
        if (FWork) FWork(FConsole.Engine());
        return true;
    }
    int FShows = 0;
    int MaxShows = 5;
    void ShowModeless() override {}
    TIEConsole FConsole;
    std::function<void(TInferenceEngine&)> FWork;
    std::function<void(TIEConsole&)> FConsoleWork;
};

TEST_F(DataModuleTest, TheConsoleInDebugModeWorksOnACopyAndOkHandsItBack) {
    Create(Templates + "(deffacts own (round-start))\n"
                       "(defrule round (round-start) (mnemonic (name CommMnem1)) => "
                       "(printout t \"round \" ?*NUM_SYS*))\n"
                       "(defrule noted (note ?text) (mnemonic (name CommMnem1)) => "
                       "(printout t ?text) (assert (alert Power)))");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    int opened = 0;
    TEditorFormFactory factory;
    factory.Console = [&](bool dialog, TInferenceEngine& engine) {
        return std::make_unique<TScriptedConsoleForm>(dialog, engine, [&](TInferenceEngine& copy) {
            ++opened;
            EXPECT_NE(&copy, &Engine());
            EXPECT_EQ(copy.Facts().Count(), Engine().Facts().Count());
            copy.AssertString("(note typed)");
        });
    };
    const TEditorFormFactory previous = SetEditorFormFactory(factory);
    const auto sorted = [](std::vector<std::string> lines) {
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    {
        TConsoleDialog console(nullptr);
        console.SetEngine(&Engine());
        Module->ConsoleDialog1 = [&](std::string&) {
            return console.Execute() && console.WroteBack();
        };
        Sim.SetDebugMode(true);
        EXPECT_EQ(sorted(Step()),
                  (std::vector<std::string>{"Alert! Power critical", "round 2", "typed"}));
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(Panel("Power"), TStatusColour::scRed);
        EXPECT_EQ(CountFacts("mnemonic"), 0);

        // Without the console the next step starts from the same facts as before it; the
        // metadata set's copy is not asserted again at each step either, so a metadata fact
        // that went stays gone until the next reset.
        Sim.SetDebugMode(false);
        EXPECT_EQ(CountFacts("mnem-metadata"), 30);
        for (int32_t i = Engine().Facts().Count() - 1; i >= 0; --i) {
            if (Engine().Facts().Item(i)->GetTemplate()->GetName() == "mnem-metadata") {
                Engine().RetractAt(i);
                break;
            }
        }
        EXPECT_EQ(Step(), std::vector<std::string>{"round 2"});
        EXPECT_EQ(Panel("Power"), TStatusColour::scNeutral);
        EXPECT_EQ(CountFacts("mnem-metadata"), 29);
        EXPECT_EQ(CountFacts("round-start"), 1);
        EXPECT_EQ(CountFacts("note"), 0);
        Engine().Reset();
        EXPECT_EQ(CountFacts("mnem-metadata"), 30);
        EXPECT_EQ(CountFacts("round-start"), 1);
        EXPECT_EQ(Step(), std::vector<std::string>{"round 2"});
        Module->ConsoleDialog1 = nullptr;
    }
    SetEditorFormFactory(previous);
    EXPECT_TRUE(View.Errors.empty()) << View.Errors.front();
}

// The console as the Console button opens it, on a copy that `work` edits before OK.
struct TConsoleScript {
    explicit TConsoleScript(TDataModule1& module) : Module(module) {
        TEditorFormFactory factory;
        factory.Console = [this](bool dialog, TInferenceEngine& engine) {
            auto form = std::make_unique<TScriptedConsoleForm>(dialog, engine, Work, ConsoleWork);
            form->MaxShows = MaxShows;
            return form;
        };
        Previous = SetEditorFormFactory(factory);
        Dialog.SetEngine(&Module.InferenceEngine1());
        Module.ConsoleDialog1 = [this](std::string& openedFile) {
            const bool wroteBack = Dialog.Execute() && Dialog.WroteBack();
            openedFile = Dialog.OpenedFile();
            return wroteBack;
        };
        Dialog.OnWriteBackFailed = [this](const std::string& m) {
            Module.ConsoleWriteBackFailed(m);
        };
    }
    ~TConsoleScript() {
        Module.ConsoleDialog1 = nullptr;
        SetEditorFormFactory(Previous);
    }
    void Run(std::function<void(TInferenceEngine&)> work) {
        Work = std::move(work);
        Module.ExecuteConsole();
    }
    TDataModule1& Module;
    TConsoleDialog Dialog{nullptr};
    std::function<void(TInferenceEngine&)> Work;
    // What the user does with the console's own actions, before Work.
    std::function<void(TIEConsole&)> ConsoleWork;
    // The console is cancelled when it would open once more.
    int MaxShows = 5;
    TEditorFormFactory Previous;
};

// A rule file opened in the console (File > Open) and confirmed with OK starts as the one of
// the start-up does: the engine is reset, so that its start-up rules fire, and the status names
// the file.
TEST_F(DataModuleTest, ARuleFileOpenedInTheConsoleIsResetAndNamedInTheStatus) {
    Create(Templates + "(defrule r (mnemonic (name CommMnem1)) => (printout t \"old\"))");
    const fs::path other =
        Write("other.clp", Templates + "(defrule hello => (printout t \"hello from other\"))\n"
                                       "(defrule r (mnemonic (name CommMnem1)) => "
                                       "(printout t \"new\"))");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    TConsoleScript console(*Module);
    console.ConsoleWork = [&](TIEConsole& c) { c.FileOpen(other.string()); };
    console.Run(nullptr);
    EXPECT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    EXPECT_EQ(Sim.RulesStatus(), "Rules active: " + other.string());
    EXPECT_EQ(Module->RuleFileName(), other.string());
    EXPECT_EQ(CountFacts("mnem-metadata"), 30);
    std::vector<std::string> lines = Step();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"hello from other", "new"}));
}

// OK that cannot write the console's work back leaves the engine as it was, and the log says
// what the box said.
TEST_F(DataModuleTest, AConsoleWriteBackThatFailsIsLoggedAndTheRulesGoOn) {
    Create(Templates + "(defrule r (mnemonic (name CommMnem1)) => (printout t \"seen\"))");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    TConsoleScript console(*Module);
    int shown = 0;
    // Opened again after the failure, the console is cancelled.
    console.MaxShows = 1;
    console.Run([&](TInferenceEngine& copy) {
        ++shown;
        copy.AssertString("(note typed)");
        // The metadata slot "subsystem" goes while the metadata set still names it.
        std::unique_ptr<TInferenceEngine, TComponentDeleter> edited(new TInferenceEngine(nullptr));
        edited->Assign(&copy);
        edited->ExecuteCommand("(undeftemplate mnem-metadata)", false);
        edited->ExecuteCommand("(deftemplate mnem-metadata (slot name) (slot system) "
                               "(slot yellowlow) (slot yellowhigh) (slot redlow) (slot redhigh))",
                               false);
        copy.FactTemplates().Assign(edited->FactTemplates());
    });
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_NE(Dialogs.Errors[0].find("could not be written back"), std::string::npos)
        << Dialogs.Errors[0];
    bool logged = false;
    for (const std::string& line : View.Lines)
        logged = logged || line.find("could not be written back") != std::string::npos;
    EXPECT_TRUE(logged);
    EXPECT_TRUE(Sim.ExpertSystemAvailable());
    EXPECT_EQ(Sim.RulesStatus().rfind("Rules active", 0), 0u) << Sim.RulesStatus();
    EXPECT_EQ(CountFacts("mnem-metadata"), 30);
    EXPECT_EQ(CountFacts("note"), 0);
    EXPECT_EQ(Step(), std::vector<std::string>{"seen"});
}

// OK without a change leaves the engine as it was: no alert logged again, no rule that fired
// once fires again. A write-back after a change does not log the alerts the engine held.
TEST_F(DataModuleTest, ConsoleOkWithoutAChangeLeavesTheEngineAloneAndAWriteBackLogsNoOldAlerts) {
    Create(Templates + "(defrule hello (declare (salience 10)) => (printout t \"hello\"))\n"
                       "(defrule r (mnemonic (name CommMnem1)) => (assert (alert Power)))");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    EXPECT_EQ(Step(), (std::vector<std::string>{"hello", "Alert! Power critical"}));
    const IFact* alert = Engine().Facts().Item(Engine().Facts().Count() - 1).get();
    TConsoleScript console(*Module);
    const size_t logged = View.Lines.size();
    console.Run(nullptr);
    EXPECT_FALSE(console.Dialog.WroteBack());
    EXPECT_EQ(View.Lines.size(), logged);
    EXPECT_EQ(Engine().Facts().Item(Engine().Facts().Count() - 1).get(), alert);
    EXPECT_EQ(Step(), std::vector<std::string>{"Alert! Power critical"});

    console.Run([](TInferenceEngine& copy) { copy.AssertString("(note typed)"); });
    EXPECT_TRUE(console.Dialog.WroteBack());
    EXPECT_EQ(View.Lines.size(), logged + 1);
    EXPECT_EQ(CountFacts("note"), 1);
    EXPECT_EQ(CountFacts("alert"), 1);
    EXPECT_TRUE(Sim.ExpertSystemAvailable());
}

// (clear) in the console leaves an engine that cannot take the telemetry: said once, the rules
// go inactive and the steps go on. Loading a rule file there and resetting brings them back.
TEST_F(DataModuleTest, AConsoleThatClearsTheRulesLeavesThemInactiveUntilItLoadsRulesAgain) {
    const std::string rules =
        Templates + "(defglobal ?*NUM_SYS* = 7)\n(defrule r (mnemonic (name CommMnem1)) => "
                    "(printout t \"seen \" ?*NUM_SYS*))";
    const fs::path file = Write("mine.clp", rules);
    Create(rules);
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    Sim.ShowAlert("Power", false);
    Sim.SetSatelliteState(0);
    TConsoleScript console(*Module);
    console.Run([](TInferenceEngine& copy) { copy.Clear(); });
    // The alarms of the rules that went go with them.
    EXPECT_EQ(Panel("Power"), TStatusColour::scNeutral);
    EXPECT_EQ(Sim.SatelliteState(), TStatusColour::scNeutral);
    ASSERT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_NE(Dialogs.Errors[0].find("\"mnem-metadata\""), std::string::npos) << Dialogs.Errors[0];
    EXPECT_FALSE(Sim.ExpertSystemAvailable());
    EXPECT_EQ(Sim.RulesStatus().rfind("Rules inactive", 0), 0u) << Sim.RulesStatus();
    EXPECT_TRUE(Step().empty());
    EXPECT_TRUE(View.Errors.empty()) << View.Errors.front();
    // Still inactive after another change: not said again.
    console.Run([](TInferenceEngine& copy) { copy.AssertString("(note typed)"); });
    EXPECT_EQ(Dialogs.Errors.size(), 1u);

    console.Run([&](TInferenceEngine& copy) {
        copy.Clear();
        copy.LoadFromFile(file.string());
        copy.Reset();
    });
    EXPECT_EQ(Dialogs.Errors.size(), 1u);
    EXPECT_TRUE(Sim.ExpertSystemAvailable());
    EXPECT_EQ(Sim.RulesStatus().rfind("Rules active", 0), 0u) << Sim.RulesStatus();
    EXPECT_EQ(CountFacts("mnem-metadata"), 30);
    EXPECT_EQ(Step(), std::vector<std::string>{"seen 2"});
    EXPECT_TRUE(View.Errors.empty()) << View.Errors.front();
}

// A rule that asserts without end: each counter fact makes it fire again.
const std::string Grow = "(deftemplate counter (slot n))\n(deffacts start (counter (n 0)))\n"
                         "(defrule grow (counter (n ?n)) => (assert (counter (n (+ ?n 1)))))\n"
                         "(defrule once (mnemonic (name CommMnem1)) => (assert (ran)))\n";

// A step whose rules never stop firing is halted at the limit; the user is told which rule
// fired most, the simulation pauses, and the step's value facts are gone as after any step.
TEST_F(DataModuleTest, AStepThatFiresMoreThanTheLimitIsHaltedAndNamesTheRuleThatFiredMost) {
    Create(Templates + Grow);
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    EXPECT_EQ(Module->FiringLimit, TRunWatch::DefaultFiringLimit);
    Module->FiringLimit = 300;
    Sim.PlayClick();
    Sim.TimerTick();
    ASSERT_EQ(View.Errors.size(), 1u);
    EXPECT_NE(View.Errors[0].find("halted after 300 firings"), std::string::npos) << View.Errors[0];
    EXPECT_NE(View.Errors[0].find("\"grow\" fired most (299 times)"), std::string::npos)
        << View.Errors[0];
    EXPECT_FALSE(Sim.Running());
    EXPECT_FALSE(Sim.TimerEnabled());
    EXPECT_EQ(CountFacts("mnemonic"), 0);
    EXPECT_LE(CountFacts("counter"), 301);
    // The next step starts afresh and is halted again, not before.
    Sim.StepClick();
    EXPECT_EQ(View.Errors.size(), 2u);
}

// While the rules fire the window has its turns; Pause in one of them ends the step's rules
// after the firing under way, and the log says so. No limit is needed for that.
TEST_F(DataModuleTest, PauseWhileRulesFireStopsThemAndTheWindowKeepsItsTurns) {
    Create(Templates + Grow);
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    Module->FiringLimit = 0;
    Sim.PlayClick();
    int turnsBeforePause = 0;
    View.OnTurn = [&] {
        if (++turnsBeforePause == 3) Sim.PauseClick();
    };
    Sim.TimerTick();
    View.OnTurn = nullptr;
    EXPECT_GE(turnsBeforePause, 3);
    EXPECT_TRUE(View.Errors.empty()) << View.Errors.front();
    EXPECT_FALSE(Sim.Running());
    EXPECT_FALSE(Sim.TimerEnabled());
    ASSERT_FALSE(View.Lines.empty());
    EXPECT_NE(View.Lines.back().find("The rules of this step were stopped after"),
              std::string::npos)
        << View.Lines.back();
    EXPECT_EQ(CountFacts("mnemonic"), 0);
}

// The console asked for while rules fire does not copy an engine in the middle of a run: the
// step's rules stop and the console opens once the step is over.
TEST_F(DataModuleTest, TheConsoleAskedForWhileRulesFireOpensWhenTheStepIsOver) {
    Create(Templates + Grow);
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    Module->FiringLimit = 0;
    bool opened = false;
    bool openedDuringStep = false;
    const std::function<void()> console = [&] {
        opened = true;
        openedDuringStep = Sim.Iterating();
    };
    View.OnTurn = [&] { Sim.ExecuteConsole(console); };
    Sim.StepClick();
    View.OnTurn = nullptr;
    EXPECT_TRUE(opened);
    EXPECT_FALSE(openedDuringStep);
    EXPECT_TRUE(View.Errors.empty()) << View.Errors.front();
}

// Of forty rules the box names the one that failed, after the error's own text.
TEST_F(DataModuleTest, AnErrorWhileARuleFiresNamesTheRule) {
    Create(Templates + "(defrule fine (mnemonic (name CommMnem1)) => (printout t \"fine\"))\n"
                       "(defrule divide (mnemonic (name CommMnem2)) => (printout t (/ 1 0)))");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    Sim.StepClick();
    ASSERT_EQ(View.Errors.size(), 1u);
    EXPECT_EQ(View.Errors[0], "Floating point division by zero (in rule divide)");
}

// Text for the terminal becomes log lines.
TEST_F(DataModuleTest, EverythingPrintedIsLoggedWithTheSimulatedTime) {
    Create(Templates + "(defrule r (mnemonic (name CommMnem1) (value ?v)) => "
                       "(printout t \"CommMnem1 is \" ?v) (printout t \"done\"))");
    const TMnemonic& first = Sim.Mnemonics().Items(0);
    const std::vector<std::string> lines = Step();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         Format("CommMnem1 is %.4f", Hundredths(first.Value())), "done"}));
}

// Text for a name that is no open stream is not lost silently: the rule's error names it.
TEST_F(DataModuleTest, PrintingToANameNotOpenIsAnError) {
    Create(Templates + "(defrule r (mnemonic (name CommMnem1)) => (printout other \"too\"))");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    Sim.StepClick();
    ASSERT_EQ(View.Errors.size(), 1u);
    EXPECT_EQ(View.Errors[0], "Invalid stream name: other (in rule r)");
}

// ---------------------------------------------------------------------------------------------
// The demo rule file, end to end

struct TExpected {
    std::set<std::string> Alerts;
    std::set<std::string> Warnings;
    TStatusColour Satellite = TStatusColour::scNeutral;
};

// What the demo rules conclude from the current values, worked out here from the model: an
// engineering system is critical with a mnemonic outside its red limits and degraded with one
// outside its yellow limits only; the science instrument is degraded (critical) when more than
// 0.2 x 15 of its mnemonics are outside their yellow (red) limits; the satellite loses half its
// health per critical system, and is at 0.75 with degraded systems only.
TExpected Judge(const TMnemonics& mnemonics) {
    TExpected expected;
    int scienceDeviations = 0, scienceFaults = 0;
    for (int i = 0; i < mnemonics.Count(); ++i) {
        const TMnemonic& m = mnemonics.Items(i);
        const double v = Hundredths(m.Value());
        const bool red = v < Hundredths(m.RedLow()) || v > Hundredths(m.RedHigh());
        const bool yellow = v < Hundredths(m.YellowLow()) || v > Hundredths(m.YellowHigh());
        if (m.System() == "Scientific") {
            scienceDeviations += yellow;
            scienceFaults += red;
        } else if (red) {
            expected.Alerts.insert(m.System());
        } else if (yellow) {
            expected.Warnings.insert(m.System());
        }
    }
    if (scienceDeviations > 3) expected.Warnings.insert("Scientific");
    if (scienceFaults > 3) expected.Alerts.insert("Scientific");
    const size_t critical = expected.Alerts.size();
    if (critical == 1)
        expected.Satellite = TStatusColour::scYellow;
    else if (critical >= 2)
        expected.Satellite = TStatusColour::scRed;
    else if (!expected.Warnings.empty())
        expected.Satellite = TStatusColour::scAqua;
    return expected;
}

TEST_F(DataModuleTest, TheDemoRulesJudgeTheTelemetryAsTheModelPredicts) {
    CreateIn(fs::path(IE_SOURCE_DIR) / "app" / "demo");
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    std::set<TStatusColour> satelliteColours;
    int panelsColoured = 0;
    for (int iteration = 1; iteration <= 40; ++iteration) {
        std::vector<std::string> lines = Step();
        const TExpected expected = Judge(Sim.Mnemonics());
        std::vector<std::string> wanted;
        if (iteration == 1) {
            // The banner fires first, before any conclusion.
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.front(), Banner);
            lines.erase(lines.begin());
        }
        for (const std::string& system : expected.Alerts)
            wanted.push_back("Alert! " + system + " critical");
        for (const std::string& system : expected.Warnings)
            wanted.push_back("Warning! " + system + " degradation detected");
        std::sort(lines.begin(), lines.end());
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(lines, wanted) << "iteration " << iteration;

        for (std::string_view system : SystemNames) {
            const std::string name(system);
            const TStatusColour colour = expected.Alerts.count(name)     ? TStatusColour::scRed
                                         : expected.Warnings.count(name) ? TStatusColour::scYellow
                                                                         : TStatusColour::scNeutral;
            EXPECT_EQ(Panel(system), colour) << name << " at iteration " << iteration;
            panelsColoured += colour != TStatusColour::scNeutral;
        }
        EXPECT_EQ(Sim.SatelliteState(), expected.Satellite) << "iteration " << iteration;
        satelliteColours.insert(Sim.SatelliteState());
        EXPECT_EQ(CountFacts("mnemonic"), 0);
        EXPECT_EQ(CountFacts("mnem-metadata"), 30);
    }
    // The demo shows something from the first seconds on.
    EXPECT_GT(panelsColoured, 40);
    EXPECT_GE(satelliteColours.size(), 3u);
}

// The tokens held in the join memories of the network, each shared node counted once.
int64_t TokensHeld(TInferenceEngine& engine) {
    TReteNetwork* rete = engine.ReteNetwork();
    if (!rete) return -1;
    std::set<const TJoinNode*> joins;
    for (const auto& entry : engine.Rules())
        for (TReteNode* node : rete->RuleNodes(*static_cast<const TRule*>(entry.Value())))
            if (const auto* join = dynamic_cast<const TJoinNode*>(node)) joins.insert(join);
    int64_t tokens = 0;
    for (const TJoinNode* join : joins)
        tokens += join->LeftMemory().Count() + join->RightMemory().Count();
    return tokens;
}

// Every iteration ends with the same working memory shape: nothing accumulates. The network
// holds exactly what a fresh engine with the demo rules holds for the same facts, so no token
// of a retracted value or conclusion is left in a join memory.
TEST_F(DataModuleTest, TheDemoRulesLeaveNothingBehindOverManyIterations) {
    const fs::path demo = fs::path(IE_SOURCE_DIR) / "app" / "demo";
    CreateIn(demo);
    ASSERT_TRUE(Sim.ExpertSystemAvailable()) << FirstError();
    const auto freshTokensFor = [&](const TFacts& facts) {
        TInferenceEngine fresh(nullptr);
        fresh.LoadFromFile((demo / TDataModule1::ExpertSystemFileName).string());
        for (int32_t i = 0; i < facts.Count(); ++i) {
            if (facts.Item(i)->GetTemplate()->GetName() != "Initial-Fact") {
                EXPECT_GE(fresh.AssertString(facts.Item(i)->GetText()), 0);
            }
        }
        return TokensHeld(fresh);
    };
    ASSERT_GT(TokensHeld(Engine()), 0);
    int most = 0;
    for (int iteration = 1; iteration <= 600; ++iteration) {
        Sim.SimulationStep();
        ASSERT_EQ(Engine().ActivationCount(), 0) << "iteration " << iteration;
        ASSERT_EQ(CountFacts("mnemonic"), 0);
        most = std::max(most, Engine().Facts().Count());
        if (iteration % 150 == 0) {
            ASSERT_EQ(TokensHeld(Engine()), freshTokensFor(Engine().Facts()))
                << "iteration " << iteration;
        }
    }
    // (Initial-Fact), 30 metadata facts and at most a few dozen conclusions.
    EXPECT_LE(most, 1 + 30 + 3 + 15 + 15 + 4 + 4 + 4 + 1);
    EXPECT_TRUE(View.Errors.empty()) << View.Errors.front();
}

} // namespace
} // namespace ie

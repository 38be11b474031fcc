// The dialog components: no engine, copy-back on OK only, cancel leaves the host untouched,
// free notification.
#include <gtest/gtest.h>

#include "EditorsTestSupport.h"
#include "engine/model/IEDefinedType.h"
#include "platform/DateTime.h"
#include "platform/DialogService.h"
#include "platform/Restore.h"

namespace ie {
namespace {

using namespace ie::test;

struct TDialogsFixture : ::testing::Test {
    TDialogsFixture() {
        Host->AssertFact(Ordered(*Host, "colour", {"red"}));
        Host->AssertFact(Ordered(*Host, "colour", {"blue"}));
        Host->OnClearFacts = [this](TInferenceEngine*) { ++ClearFactsEvents; };
        Host->OnRetraction = [this](TInferenceEngine*, IFact*) { ++Retractions; };
    }
    std::string HostFacts() { return Host->Facts().GetText(); }

    std::unique_ptr<TInferenceEngine, TComponentDeleter> Host{new TInferenceEngine(nullptr)};
    int ClearFactsEvents = 0, Retractions = 0, FormsMade = 0;
};

// Keeps the message boxes shown, and answers each with OK.
struct TRecordingDialogs : IDialogService {
    TRecordingDialogs() : Previous(SetDialogService(this)) {}
    ~TRecordingDialogs() override { SetDialogService(Previous); }
    void ShowMessage(std::string_view text) override { Boxes.emplace_back(text); }
    int MessageBox(std::string_view text, std::string_view, unsigned) override {
        Boxes.emplace_back(text);
        return mrOk;
    }
    TModalResult MessageDlg(std::string_view text, TMsgDlgType, TMsgDlgButtons, int) override {
        Boxes.emplace_back(text);
        return mrOk;
    }
    std::string InputBox(std::string_view, std::string_view, std::string_view d) override {
        return std::string(d);
    }
    bool InputQuery(std::string_view, std::string_view, std::string&) override { return false; }
    std::vector<std::string> Boxes;
    IDialogService* Previous;
};

TEST_F(TDialogsFixture, NoEngineRaisesBeforeAnyFormIsMade) {
    TEditorFormFactory factory;
    factory.Facts = [this] {
        ++FormsMade;
        return std::make_unique<TScriptedFactsForm>(nullptr);
    };
    TFormFactoryScope scope(factory);
    TFactsDialog facts(nullptr);
    EXPECT_EQ(RaisedMessage([&] { facts.Execute(); }), "Unknown/Undefined Inference Engine");
    TConsoleDialog console(nullptr);
    EXPECT_EQ(RaisedMessage([&] { console.Execute(); }), "Unknown/Undefined Inference Engine");
    TRulesDialog rules(nullptr);
    rules.SetEngine(Host.get());
    rules.MultiEdit = false;
    EXPECT_EQ(RaisedMessage([&] { rules.Execute(); }), "Missing Rule cannot be edited");
    EXPECT_EQ(FormsMade, 0);
}

TEST_F(TDialogsFixture, CancelledFactsDialogLeavesTheHostUntouchedEvenAfterDeletingAll) {
    const std::string before = HostFacts();
    std::string seen;
    TEditorFormFactory factory;
    factory.Facts = [&] {
        return std::make_unique<TScriptedFactsForm>([&](TInferenceEngine& e) {
            seen = e.Facts().GetText();
            e.Facts().Clear();
            return false;
        });
    };
    TFormFactoryScope scope(factory);
    TFactsDialog dialog(nullptr);
    dialog.SetEngine(Host.get());
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(seen, before) << "the form edits a copy of the host's facts";
    EXPECT_EQ(HostFacts(), before);
    EXPECT_EQ(ClearFactsEvents, 0);
}

TEST_F(TDialogsFixture, ConfirmedFactsDialogReplacesTheFactsByOneClear) {
    TEditorFormFactory factory;
    factory.Facts = [&] {
        return std::make_unique<TScriptedFactsForm>([](TInferenceEngine& e) {
            for (int32_t i = 0; i < e.Facts().Count(); ++i)
                if (e.Facts().Item(i)->GetText().find("red") != std::string::npos) {
                    e.RetractAt(i);
                    break;
                }
            e.AssertFact(Ordered(e, "size", {"big"}));
            return true;
        });
    };
    TFormFactoryScope scope(factory);
    TFactsDialog dialog(nullptr);
    dialog.SetEngine(Host.get());
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(ClearFactsEvents, 1);
    EXPECT_EQ(Retractions, 0) << "no retraction event per fact";
    const std::string text = HostFacts();
    EXPECT_EQ(text.find("(colour red"), std::string::npos) << text;
    EXPECT_NE(text.find("(colour blue"), std::string::npos) << text;
    EXPECT_NE(text.find("(size big"), std::string::npos) << text;
}

std::vector<int32_t> IdsOf(const TInferenceEngine& e) {
    std::vector<int32_t> ids;
    for (const auto& fact : e.Facts().Items())
        ids.push_back(fact->GetFactId());
    return ids;
}

TEST_F(TDialogsFixture, FactsKeepTheirIdentifiersThroughTheEditorAndBack) {
    Host->RetractAt(1);
    Host->AssertFact(Ordered(*Host, "size", {"big"}));
    const std::vector<int32_t> hostIds = IdsOf(*Host);
    ASSERT_EQ(hostIds, (std::vector<int32_t>{0, 2, 3})) << "a gap where a fact went";
    std::vector<int32_t> shown;
    int32_t added = -1;
    bool addNew = false;
    TEditorFormFactory factory;
    factory.Facts = [&] {
        return std::make_unique<TScriptedFactsForm>([&](TInferenceEngine& e) {
            shown = IdsOf(e);
            if (addNew) added = e.AssertString("(size small)");
            return true;
        });
    };
    TFormFactoryScope scope(factory);
    TFactsDialog dialog(nullptr);
    dialog.SetEngine(Host.get());
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(shown, hostIds) << "the editor shows the host's identifiers";
    EXPECT_EQ(IdsOf(*Host), hostIds) << "OK without edits gives the facts back as they were";
    EXPECT_FALSE(Host->Facts().KeepIdentifiers) << "the host's list is as it was";
    addNew = true;
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(added, 4) << "a new fact takes the next identifier";
    EXPECT_EQ(IdsOf(*Host), (std::vector<int32_t>{0, 2, 3, 4}));
    EXPECT_EQ(Host->AssertString("(size huge)"), 5) << "the host numbers on after them";
}

TEST_F(TDialogsFixture, TypesAreWrittenBackOnlyWhenTheTypeEditorIsEnabled) {
    TEditorFormFactory factory;
    factory.Facts = [&] {
        return std::make_unique<TScriptedFactsForm>([](TInferenceEngine& e) {
            auto t = TIEDefinedType::Create(&e);
            t->SetName("speed");
            e.DefinedTypes().PutType("speed", t);
            return true;
        });
    };
    TFormFactoryScope scope(factory);
    TFactsDialog dialog(nullptr);
    dialog.SetEngine(Host.get());
    dialog.EnableTypeEditor = false;
    EXPECT_TRUE(dialog.Execute());
    EXPECT_FALSE(Host->DefinedTypes().Find("speed"));
    dialog.EnableTypeEditor = true;
    EXPECT_TRUE(dialog.Execute());
    EXPECT_TRUE(Host->DefinedTypes().Find("speed"));
}

TEST_F(TDialogsFixture, WritingTypesBackKeepsTheHostsTemplatesFactsAndRules) {
    Host->ExecuteCommand("(deftype small extends (type INTEGER) (range 0 10))"
                         "(deftemplate box (slot size (type small)))"
                         "(defrule r (box (size ?s)) =>)");
    Host->AssertString("(box (size 3))");
    TEditorFormFactory factory;
    factory.Facts = [&] {
        return std::make_unique<TScriptedFactsForm>([](TInferenceEngine& e) {
            e.AssertString("(box (size 4))");
            return true;
        });
    };
    factory.Types = [&] {
        return std::make_unique<TScriptedTypesForm>([](TInferenceEngine& e) {
            e.DefinedTypes().Find("small")->SetMaxRange(20);
            return true;
        });
    };
    TFormFactoryScope scope(factory);
    TFactsDialog facts(nullptr);
    facts.SetEngine(Host.get());
    ASSERT_TRUE(facts.Execute());
    EXPECT_TRUE(Host->Rules().Find("r")) << "the facts dialog does not write rules back";
    EXPECT_NE(HostFacts().find("(box (size 4))"), std::string::npos) << HostFacts();
    EXPECT_EQ(ClearFactsEvents, 1);
    TDefinedTypesDialog types(nullptr);
    types.SetEngine(Host.get());
    ASSERT_TRUE(types.Execute());
    EXPECT_DOUBLE_EQ(Host->DefinedTypes().Find("small")->GetMaxRange(), 20);
    EXPECT_TRUE(Host->Rules().Find("r"));
    EXPECT_NE(HostFacts().find("(box (size 4))"), std::string::npos) << HostFacts();
}

TEST_F(TDialogsFixture, TypesDialogCopiesBackOnOkOnly) {
    auto t = TIEDefinedType::Create(Host.get());
    t->SetName("mass");
    Host->DefinedTypes().PutType("mass", t);
    bool answer = false;
    TEditorFormFactory factory;
    factory.Types = [&] {
        return std::make_unique<TScriptedTypesForm>([&](TInferenceEngine& e) {
            EXPECT_TRUE(e.DefinedTypes().Find("mass"));
            e.DefinedTypes().RemoveType("mass");
            return answer;
        });
    };
    TFormFactoryScope scope(factory);
    TDefinedTypesDialog dialog(nullptr);
    dialog.SetEngine(Host.get());
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(Host->DefinedTypes().Find("mass"));
    answer = true;
    EXPECT_TRUE(dialog.Execute());
    EXPECT_FALSE(Host->DefinedTypes().Find("mass"));
}

TEST_F(TDialogsFixture, ConsoleInDialogModeChangesTheHostOnlyOnOk) {
    bool answer = false;
    TEditorFormFactory factory;
    factory.Console = [&](bool dialog, TInferenceEngine& e) -> std::unique_ptr<IConsoleForm> {
        return std::make_unique<TScriptedConsoleForm>(dialog, e, [&](TIEConsole& c) {
            EXPECT_NE(&c.Engine(), Host.get()) << "dialog mode works on a copy";
            c.Engine().AssertFact(Ordered(c.Engine(), "typed", {"in"}));
            return answer;
        });
    };
    TFormFactoryScope scope(factory);
    TConsoleDialog dialog(nullptr);
    dialog.SetEngine(Host.get());
    EXPECT_EQ(dialog.Caption(), "Console Editor");
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(HostFacts().find("(typed in"), std::string::npos);
    answer = true;
    EXPECT_TRUE(dialog.Execute());
    EXPECT_NE(HostFacts().find("(typed in"), std::string::npos);
    EXPECT_EQ(dialog.ConsoleForm(), nullptr) << "a modal console is freed after Execute";
}

// A write-back that fails half-way changes nothing: the host keeps everything it had, the box
// and the host's log say what failed, and the console opens again with the work in it.
TEST_F(TDialogsFixture, AConsoleWriteBackThatFailsChangesNothingAndTheConsoleOpensAgain) {
    Host->ExecuteCommand("(deftemplate m (slot a) (slot b)) (deffacts s (m (a 1) (b 2)))", false);
    Host->Reset();
    Host->AssertFact(Ordered(*Host, "colour", {"green"}));
    // The engine's text carries the time it was written: the clock stands still so that the two
    // texts differ only where the host does.
    SetDateTimeClock([] { return 38000.75; });
    const TOnExit systemClock([] { SetDateTimeClock(nullptr); });
    const std::string before = Host->GetText() + HostFacts();
    // The slot b goes from the template while the fact set still names it: the copy's fact set
    // cannot be read back into the host.
    std::unique_ptr<TInferenceEngine, TComponentDeleter> edited(new TInferenceEngine(nullptr));
    edited->ExecuteCommand("(deftemplate m (slot a))", false);
    int shown = 0;
    std::string workSeenAgain, hostAtRetry;
    TEditorFormFactory factory;
    factory.Console = [&](bool dialog, TInferenceEngine& e) -> std::unique_ptr<IConsoleForm> {
        return std::make_unique<TScriptedConsoleForm>(dialog, e, [&](TIEConsole& c) {
            if (++shown > 3) return false; // a loop that never ends fails, not hangs
            if (shown == 1) {
                c.Engine().FactTemplates().Assign(edited->FactTemplates());
                c.Engine().AssertFact(Ordered(c.Engine(), "typed", {"in"}));
                return true;
            }
            workSeenAgain = c.Engine().Facts().GetText();
            hostAtRetry = Host->GetText() + HostFacts();
            // The user mends it: the fact set that names the slot goes.
            c.Engine().FactSets().Clear();
            return true;
        });
    };
    TFormFactoryScope scope(factory);
    TRecordingDialogs dialogs;
    TConsoleDialog dialog(nullptr);
    std::vector<std::string> logged;
    dialog.OnWriteBackFailed = [&](const std::string& message) { logged.push_back(message); };
    dialog.SetEngine(Host.get());
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(shown, 2);
    EXPECT_NE(workSeenAgain.find("(typed in"), std::string::npos) << workSeenAgain;
    EXPECT_EQ(hostAtRetry, before) << "the host keeps what it had";
    ASSERT_EQ(dialogs.Boxes.size(), 1u) << dialogs.Boxes.back();
    EXPECT_NE(dialogs.Boxes[0].find("could not be written back"), std::string::npos);
    EXPECT_NE(dialogs.Boxes[0].find("No such slot name"), std::string::npos) << dialogs.Boxes[0];
    EXPECT_EQ(logged, dialogs.Boxes);
    EXPECT_TRUE(dialog.WroteBack());
    EXPECT_NE(HostFacts().find("(typed in"), std::string::npos);

    // Failing every time and cancelled at last: the host is as it was before the console.
    Host->Clear();
    Host->ExecuteCommand("(deftemplate m (slot a) (slot b)) (deffacts s (m (a 1) (b 2)))", false);
    Host->Reset();
    const std::string start = Host->GetText() + HostFacts();
    shown = 0;
    factory.Console = [&](bool dialog, TInferenceEngine& e) -> std::unique_ptr<IConsoleForm> {
        return std::make_unique<TScriptedConsoleForm>(dialog, e, [&](TIEConsole& c) {
            if (++shown == 1) c.Engine().FactTemplates().Assign(edited->FactTemplates());
            return shown < 3;
        });
    };
    TFormFactoryScope again(factory);
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(shown, 3);
    EXPECT_EQ(Host->GetText() + HostFacts(), start);
}

// Writing back, and opening the console, keep what fired as fired: a rule that fired in the host
// is not on the console's agenda, does not fire again after OK, and a one-shot rule stays fired.
TEST_F(TDialogsFixture, WhatFiredStaysFiredThroughTheConsole) {
    Host->ExecuteCommand("(defrule once => (assert (said hello)))"
                         "(defrule each (colour ?c) => (assert (seen ?c)))"
                         "(defrule later (colour ?c) (late) => (assert (late ?c)))",
                         false);
    Host->Run();
    ASSERT_EQ(Host->ActivationCount(), 0);
    Host->AssertFact(Ordered(*Host, "late"));
    ASSERT_EQ(Host->ActivationCount(), 2) << "later, for red and for blue";
    int agendaInConsole = -1;
    TEditorFormFactory factory;
    factory.Console = [&](bool dialog, TInferenceEngine& e) -> std::unique_ptr<IConsoleForm> {
        return std::make_unique<TScriptedConsoleForm>(dialog, e, [&](TIEConsole& c) {
            agendaInConsole = static_cast<int>(c.Lines(clAgenda).size());
            c.Submit("(+ 1 2)");
            return true;
        });
    };
    TFormFactoryScope scope(factory);
    TConsoleDialog dialog(nullptr);
    dialog.SetEngine(Host.get());
    EXPECT_TRUE(dialog.Execute());
    EXPECT_TRUE(dialog.WroteBack());
    EXPECT_EQ(agendaInConsole, 2);
    EXPECT_EQ(Host->ActivationCount(), 2);
    EXPECT_EQ(Host->Run(), 2) << "only what waited fires";
    EXPECT_EQ(HostFacts().find("(said hello)"), HostFacts().rfind("(said hello)"));
}

TEST_F(TDialogsFixture, LiveConsoleStaysOpenOnTheHostAndClosesWithItsEngine) {
    TEditorFormFactory factory;
    factory.Console = [&](bool dialog, TInferenceEngine& e) -> std::unique_ptr<IConsoleForm> {
        return std::make_unique<TScriptedConsoleForm>(dialog, e, [](TIEConsole&) { return false; });
    };
    TFormFactoryScope scope(factory);
    TConsoleDialog dialog(nullptr);
    dialog.Dialog = false;
    dialog.SetEngine(Host.get());
    EXPECT_TRUE(dialog.Execute());
    ASSERT_NE(dialog.ConsoleForm(), nullptr);
    TIEConsole& console = dialog.ConsoleForm()->Console();
    EXPECT_EQ(&console.Engine(), Host.get());
    EXPECT_EQ(console.InputCursor, "") << "the component's settings reach the console";
    EXPECT_TRUE(console.ActionVisible(caFileExit)) << "live mode shows Exit";
    Host.reset();
    EXPECT_EQ(dialog.Engine(), nullptr);
    EXPECT_EQ(dialog.ConsoleForm(), nullptr);
}

TEST(DialogComponents, DestroyingTheEngineOrTheRuleClearsTheReferences) {
    auto* engine = new TInferenceEngine(nullptr);
    TFactsDialog facts(nullptr);
    TRulesDialog rules(nullptr);
    facts.SetEngine(engine);
    rules.SetEngine(engine);
    auto* rule = new TRule(nullptr, engine);
    rules.SetRule(rule);
    rule->Free();
    EXPECT_EQ(rules.Rule(), nullptr);
    engine->Free();
    EXPECT_EQ(facts.Engine(), nullptr);
    EXPECT_EQ(rules.Engine(), nullptr);
}

} // namespace
} // namespace ie

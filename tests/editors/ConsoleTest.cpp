// The console without its window: lists following the engine, echo, guarded actions, run
// actions, valid views, live mode with forwarding, and Find.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "EditorsTestSupport.h"
#include "platform/DialogService.h"

namespace ie {
namespace {

using namespace ie::test;

std::vector<std::string> Texts(const std::vector<TConsoleLine>& lines) {
    std::vector<std::string> r;
    for (const auto& l : lines)
        r.push_back(l.Text);
    return r;
}

struct TConsoleFixture : ::testing::Test {
    TConsoleFixture() { Host->AssertFact(Ordered(*Host, "a", {"x"})); }
    std::unique_ptr<TInferenceEngine, TComponentDeleter> Host{new TInferenceEngine(nullptr)};
};

TEST_F(TConsoleFixture, DialogModeFillsTheListsFromTheCopy) {
    TIEConsole c(true, *Host);
    EXPECT_NE(&c.Engine(), Host.get());
    EXPECT_EQ(Texts(c.Lines(clFacts)), (std::vector<std::string>{
                                           Host->Facts().Item(0)->GetLabel(),
                                           Host->Facts().Item(1)->GetLabel(),
                                       }));
    EXPECT_EQ(c.Lines(clFacts)[1].Key, Host->Facts().Item(1)->GetFactId());
    // Filling and refilling the lists changes nothing; a retraction does.
    c.SetValidViews(TValidViews{vvRules});
    c.SetValidViews(TValidViews::FromBits(15));
    EXPECT_FALSE(c.Modified());
    c.Engine().RetractAt(1);
    EXPECT_TRUE(c.Modified());
    EXPECT_EQ(c.Lines(clFacts).size(), 1u);
    EXPECT_EQ(Host->Facts().Count(), 2) << "the host is untouched";
}

TEST_F(TConsoleFixture, EchoUsesTheInputCursorThenTheCommandOutput) {
    TIEConsole c(true, *Host);
    c.Engine().OnPrintOut = [&](TInferenceEngine* s, const std::string& n, const std::string& t) {
        c.PrintOut(s, n, t);
    };
    c.Submit("first\nsecond");
    ASSERT_GE(c.Output().size(), 2u);
    EXPECT_EQ(c.Output()[0], "> first");
    EXPECT_EQ(c.Output()[1], "second");
    c.InputCursor = "";
    c.EchoInput = true;
    c.ClearOutput();
    c.Submit("42");
    ASSERT_GE(c.Output().size(), 1u);
    EXPECT_EQ(c.Output()[0], " 42");
}

TEST_F(TConsoleFixture, PrintOutDropsTrailingControlCharactersAndRemembersTheText) {
    TIEConsole c(true, *Host);
    c.PrintOut(&c.Engine(), "t", "Value: \r\n\t ");
    EXPECT_EQ(c.LastOutput(), "Value:");
    EXPECT_EQ(c.Output().back(), "Value:");
}

TEST_F(TConsoleFixture, RunActionsFollowTheAgenda) {
    TIEConsole c(true, *Host);
    c.SetValidViews(TValidViews{vvFacts, vvFactTemplates, vvRules});
    EXPECT_FALSE(c.ActionEnabled(caIERun));
    c.AddActivation(&c.Engine(), 0, nullptr);
    EXPECT_TRUE(c.ActionEnabled(caIERun));
    EXPECT_TRUE(c.ActionEnabled(caIEStep));
    c.RemoveActivation(&c.Engine(), 0, nullptr);
    EXPECT_FALSE(c.ActionEnabled(caIERun)) << "the engine's agenda is empty";
    EXPECT_FALSE(c.ActionEnabled(caIEStep));
    c.AddActivation(&c.Engine(), 0, nullptr);
    c.FileNew();
    EXPECT_FALSE(c.ActionEnabled(caIERun)) << "Clear disables both";
}

// The engine reports a removed activation while it is still filed; the last one going must
// still disable both run actions, whether it fires or is retracted away.
TEST_F(TConsoleFixture, RunActionsFollowARealAgendaToEmpty) {
    TIEConsole c(true, *Host);
    c.Submit("(defrule greet (person ?n) => (printout t \"hello \" ?n crlf))");
    c.Submit("(assert (person ann))");
    c.Submit("(assert (person bob))");
    ASSERT_EQ(c.Engine().ActivationCount(), 2);
    EXPECT_TRUE(c.ActionEnabled(caIERun));
    c.IEStep();
    EXPECT_EQ(c.Engine().ActivationCount(), 1);
    EXPECT_TRUE(c.ActionEnabled(caIERun)) << "one activation is left";
    c.IEStep();
    EXPECT_EQ(c.Engine().ActivationCount(), 0);
    EXPECT_FALSE(c.ActionEnabled(caIERun)) << "the agenda ran empty";
    EXPECT_FALSE(c.ActionEnabled(caIEStep));
    c.Submit("(assert (person cy))");
    EXPECT_TRUE(c.ActionEnabled(caIEStep));
    const TFacts& facts = c.Engine().Facts();
    c.Submit("(retract " + std::to_string(facts.Item(facts.Count() - 1)->GetFactId()) + ")");
    EXPECT_EQ(c.Engine().ActivationCount(), 0);
    EXPECT_FALSE(c.ActionEnabled(caIERun)) << "its fact was retracted";
    c.Submit("(assert (person dee))");
    c.IERun();
    EXPECT_FALSE(c.ActionEnabled(caIERun)) << "Run emptied the agenda";
    EXPECT_EQ(c.Lines(clAgenda).size(), 0u);
}

// A view that records the console's turns while rules fire.
struct TTurnView : IConsoleView {
    void OutputAdded(const std::string&) override {}
    void OutputCleared() override {}
    void LineInserted(TConsoleList, int32_t, const std::string&) override {}
    void LineDeleted(TConsoleList, int32_t) override {}
    void ListCleared(TConsoleList) override {}
    void ActionsChanged() override {}
    void ViewsChanged() override {}
    void ProcessMessages() override {
        ++Turns;
        if (OnTurn) OnTurn();
    }
    int Turns = 0;
    std::function<void()> OnTurn;
};

const char* const Grow = "(deftemplate counter (slot n))"
                         "(defrule grow (counter (n ?n)) => (assert (counter (n (+ ?n 1)))))"
                         "(assert (counter (n 0)))";

// (run) typed in the console, or its Run, of rules that never stop: the window has its turns,
// in which only Stop is enabled, and Stop ends the run; the console can be used again.
TEST_F(TConsoleFixture, ARunOfRulesThatNeverStopCanBeStopped) {
    TIEConsole c(true, *Host);
    TTurnView view;
    c.SetView(&view);
    c.FiringLimit = 0;
    c.Submit(Grow);
    bool runEnabled = true, stopEnabled = false, allowed = true;
    view.OnTurn = [&] {
        EXPECT_TRUE(c.Busy());
        runEnabled = c.ActionEnabled(caIERun);
        stopEnabled = c.ActionEnabled(caIEStop);
        allowed = c.Allowed(caFileNew);
        EXPECT_FALSE(c.Submit("(facts)")) << "no second command while rules fire";
        c.IEStop();
    };
    EXPECT_TRUE(c.Submit("(run)"));
    EXPECT_EQ(view.Turns, 1);
    EXPECT_FALSE(runEnabled);
    EXPECT_TRUE(stopEnabled);
    EXPECT_FALSE(allowed);
    EXPECT_FALSE(c.Busy());
    EXPECT_FALSE(c.ActionEnabled(caIEStop));
    ASSERT_FALSE(c.Output().empty());
    EXPECT_EQ(c.Output().back().rfind("Stopped after ", 0), 0u) << c.Output().back();
    EXPECT_TRUE(c.ActionEnabled(caIERun)) << "grow is still on the agenda";

    c.IERun();
    EXPECT_EQ(view.Turns, 2);
    EXPECT_EQ(c.Output().back().rfind("Stopped after ", 0), 0u) << c.Output().back();
    c.SetView(nullptr);
}

// A run that fires more than the limit is halted and the message names the rule.
TEST_F(TConsoleFixture, ARunBeyondTheFiringLimitIsHaltedAndNamesTheRule) {
    TIEConsole c(true, *Host);
    EXPECT_EQ(c.FiringLimit, TRunWatch::DefaultFiringLimit);
    c.FiringLimit = 250;
    c.Submit(Grow);
    const std::string message = RaisedMessage([&] { c.IERun(); });
    EXPECT_NE(message.find("halted after 250 firings"), std::string::npos) << message;
    EXPECT_NE(message.find("\"grow\" fired most (250 times)"), std::string::npos) << message;
    EXPECT_FALSE(c.Busy());
    EXPECT_EQ(RaisedMessage([&] { c.Submit("(run)"); }), message);
}

TEST_F(TConsoleFixture, HiddenActionsWorkOnlyWithCheats) {
    TIEConsole c(true, *Host);
    c.PrintOut(&c.Engine(), "t", "kept");
    c.SetValidActions(TValidActions::FromBits(4095) - TValidActions{vaFileNew});
    EXPECT_FALSE(c.ActionVisible(caFileNew));
    c.AllowCheats = false;
    c.FileNew();
    EXPECT_EQ(c.Output().size(), 1u) << "refused without cheats";
    c.AllowCheats = true;
    c.FileNew();
    EXPECT_TRUE(c.Output().empty());
}

TEST_F(TConsoleFixture, MenusHideWhenNoneOfTheirItemsIsVisible) {
    TIEConsole c(true, *Host);
    c.SetShowButtons(true);
    c.SetValidActions(TValidActions{vaEditFacts});
    EXPECT_TRUE(c.FileMenuVisible()) << "Exit is still shown";
    EXPECT_FALSE(c.EngineMenuVisible());
    c.SetShowButtons(false);
    EXPECT_FALSE(c.FileMenuVisible());
    c.SetValidActions(TValidActions{vaIEReset});
    EXPECT_TRUE(c.EngineMenuVisible());
}

TEST_F(TConsoleFixture, TemplateLinesAreKeyedByACounterThatClearRestarts) {
    TIEConsole c(true, *Host);
    TInferenceEngine& e = c.Engine();
    const size_t before = c.Lines(clFactTemplates).size();
    auto t = TFactTemplate::CreateNamed(&e, "gadget");
    e.FactTemplates().PutTemplate("gadget", t);
    ASSERT_EQ(c.Lines(clFactTemplates).size(), before + 1);
    EXPECT_EQ(c.Lines(clFactTemplates).back().Key, t->GetTag());
    EXPECT_EQ(c.Lines(clFactTemplates).back().Text.find('\n'), std::string::npos);
    e.FactTemplates().RemoveTemplate("gadget");
    EXPECT_EQ(c.Lines(clFactTemplates).size(), before) << "no line left behind";
    c.ClearFactTemplates(&e);
    auto u = TFactTemplate::CreateNamed(&e, "widget");
    e.FactTemplates().PutTemplate("widget", u);
    EXPECT_EQ(u->GetTag(), 0) << "keys restart at 0";
}

TEST_F(TConsoleFixture, ViewsWithoutFactsStopFollowingAssertions) {
    TIEConsole c(true, *Host);
    c.SetValidViews(TValidViews{vvRules});
    EXPECT_FALSE(c.Engine().OnAssertion);
    const size_t n = c.Lines(clFacts).size();
    c.Engine().AssertFact(Ordered(c.Engine(), "b"));
    EXPECT_EQ(c.Lines(clFacts).size(), n);
    c.SetValidViews(TValidViews{vvFacts, vvRules});
    EXPECT_EQ(c.Lines(clFacts).size(), static_cast<size_t>(c.Engine().Facts().Count()))
        << "facts refilled when the view comes back";
}

TEST_F(TConsoleFixture, LiveModeForwardsToTheHostAndGivesTheHandlersBack) {
    std::vector<int32_t> hostSaw;
    Host->OnAssertion = [&](TInferenceEngine*, IFact* f) { hostSaw.push_back(f->GetFactId()); };
    {
        TIEConsole c(false, *Host);
        EXPECT_EQ(&c.Engine(), Host.get());
        EXPECT_EQ(hostSaw.size(), 2u) << "one event per fact present when the console opened";
        Host->AssertFact(Ordered(*Host, "from-console"));
        EXPECT_EQ(hostSaw.size(), 3u);
        EXPECT_EQ(c.Lines(clFacts).size(), 3u);
        c.Close();
        Host->AssertFact(Ordered(*Host, "after-close"));
        EXPECT_EQ(hostSaw.size(), 4u) << "the host's handler is back";
        EXPECT_EQ(c.Lines(clFacts).size(), 3u) << "the console stopped following";
    }
    Host->AssertFact(Ordered(*Host, "after-destroy"));
    EXPECT_EQ(hostSaw.size(), 5u);
}

TEST_F(TConsoleFixture, LiveConsoleDestroyedWithoutClosingReturnsTheHandlers) {
    int seen = 0;
    Host->OnAssertion = [&](TInferenceEngine*, IFact*) { ++seen; };
    { TIEConsole c(false, *Host); }
    seen = 0;
    Host->AssertFact(Ordered(*Host, "z"));
    EXPECT_EQ(seen, 1);
}

TEST_F(TConsoleFixture, ReadLineAsksWithTheLastOutputAndCancelAbortsSilently) {
    std::istringstream in("typed line\n");
    std::ostringstream out;
    TTerminalDialogService service(in, out);
    IDialogService* previous = SetDialogService(&service);
    TIEConsole c(true, *Host);
    c.PrintOut(&c.Engine(), "t", "Your name? ");
    std::string text;
    c.ReadLine(&c.Engine(), "t", text);
    EXPECT_EQ(text, "typed line");
    EXPECT_EQ(c.Output().back(), "typed line");
    EXPECT_NE(out.str().find("Your name?"), std::string::npos);
    EXPECT_THROW(c.ReadLine(&c.Engine(), "t", text), EAbort) << "end of input cancels";
    SetDialogService(previous);
}

TEST(ConsoleFind, SuccessiveOccurrencesAndTheVeryEnd) {
    const std::string text = "abc xx abc yy abc";
    int64_t at = TIEConsole::FindText(text, 0, 0, "ABC", false);
    EXPECT_EQ(at, 0);
    at = TIEConsole::FindText(text, at, 3, "ABC", false);
    EXPECT_EQ(at, 7);
    at = TIEConsole::FindText(text, at, 3, "abc", true);
    EXPECT_EQ(at, 14) << "text at the very end is found";
    EXPECT_EQ(TIEConsole::FindText(text, at, 3, "abc", true), -1);
    EXPECT_EQ(TIEConsole::FindText(text, 0, 0, "ABC", true), -1);
}

// Starting at the last selected character would find a one-character match again and again.
TEST(ConsoleFind, FindAgainMovesOnAfterAOneCharacterMatch) {
    const std::string text = "x-x-x";
    int64_t at = TIEConsole::FindText(text, 0, 0, "x", true);
    EXPECT_EQ(at, 0);
    at = TIEConsole::FindText(text, at, 1, "x", true);
    EXPECT_EQ(at, 2);
    at = TIEConsole::FindText(text, at, 1, "x", true);
    EXPECT_EQ(at, 4);
}

} // namespace
} // namespace ie

#include "app/model/Simulation.h"
#include "platform/Random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace ie {
namespace {

// Records what the simulation shows.
struct TView : ISimulationView {
    std::vector<std::string> Lines;
    std::vector<std::string> Errors;
    std::vector<std::string> Plotted;
    std::string Caption;
    int PanelChanges = 0;
    bool Timer = false;
    int Interval = 0;
    bool PauseDown = false;
    int ProcessCalls = 0;

    void RunningChanged(bool running) override { PauseDown = !running; }
    void TimerChanged(bool enabled, int interval) override {
        Timer = enabled;
        Interval = interval;
    }
    void CaptionChanged(const std::string& caption) override { Caption = caption; }
    void LogAppended(const std::string& line) override { Lines.push_back(line); }
    void SystemPanelsChanged() override { ++PanelChanges; }
    void MnemonicPlotted(TMnemonic& item) override { Plotted.push_back(item.Name()); }
    void ErrorRaised(const std::string& message) override { Errors.push_back(message); }
    void ProcessMessages() override { ++ProcessCalls; }
};

// A stand-in rule exchange that remembers the order of the calls.
struct TRules : IRuleExchange {
    TSimulation* Simulation = nullptr;
    std::vector<std::string> Calls;
    void ClearConclusions() override { Calls.push_back("clear"); }
    void AssertMnemonic(const TMnemonic& item) override {
        Calls.push_back("assert " + item.Name());
    }
    void RunInference() override {
        Calls.push_back("run");
        if (Simulation->DebugMode()) Simulation->SetRunning(false);
    }
};

// 13:04:05.250 on 1 March 2024 (45352 days after 30 December 1899).
constexpr TDateTime Start = 45352 + (13 * 3600 + 4 * 60 + 5.25) / 86400.0;

class SimulationTest : public ::testing::Test {
protected:
    void SetUp() override {
        Sim.SetView(&View);
        Sim.SetClock([this] { return Clock; });
        Sim.Initialize(Start);
        Sim.Show();
    }
    TView View;
    TSimulation Sim;
    uint32_t Clock = 0;
};

// The generated set, recomputed on its own from the formulas: generator, draws and limits.
struct TReference {
    int Formula; // 0 sin, 1 cos, 2 arccos, 3 arcsin, 4 tan, 5 cot, 6 sec, 7 csc
    double Raw, Increment, Modifier;

    double StepValue() {
        Raw = Raw + Increment;
        if (Formula == 2 || Formula == 3) {
            if (Raw < -1)
                Raw = Raw + 2;
            else if (Raw > 1)
                Raw = Raw - 2;
        }
        const double x = Raw;
        double f = 0;
        switch (Formula) {
        case 0:
            f = std::sin(x);
            break;
        case 1:
            f = std::cos(x);
            break;
        case 2:
            f = std::atan2(std::sqrt(1 - x * x), x);
            break;
        case 3:
            f = std::atan2(x, std::sqrt(1 - x * x));
            break;
        case 4:
            f = std::tan(x);
            break;
        case 5:
            f = 1 / std::tan(x);
            break;
        case 6:
            f = 1 / std::cos(x);
            break;
        case 7:
            f = 1 / std::sin(x);
            break;
        }
        return f * Modifier;
    }
};

std::vector<TReference> ReferenceSet() {
    uint64_t seed = 7890;
    const auto next = [&seed] { return seed = (seed * 134775813 + 1) & 0xFFFFFFFFu; };
    const auto draw = [&](uint64_t range) { return static_cast<int>((next() * range) >> 32); };
    std::vector<TReference> set;
    set.push_back({0, next() / 4294967296.0, 0.01, -56});
    set.push_back({2, next() / 4294967296.0, -0.05, 11});
    set.push_back({7, next() / 4294967296.0, 0.01, 24});
    while (set.size() < 30) {
        TReference r;
        r.Formula = draw(8);
        r.Raw = draw(361) / 360.0 - 1;
        r.Increment = draw(101) / 100.0 - 0.5;
        r.Modifier = draw(201) - 100;
        if (r.Formula == 4 || r.Formula == 5) {
            r.Increment *= 0.1;
            r.Modifier *= 0.1;
        }
        if (r.Increment == 0) r.Increment = 0.05;
        set.push_back(r);
    }
    return set;
}

TEST_F(SimulationTest, TheSameThirtyMnemonicsOnEveryRun) {
    const TMnemonics& m = Sim.Mnemonics();
    ASSERT_EQ(m.Count(), 30);
    EXPECT_EQ(m[0].GetDisplayName(), "CommMnem1 (fmSin): i:0.01 m:-56.00");
    EXPECT_EQ(std::floor(m[0].RawValue() * 1e5), 58772);
    EXPECT_EQ(m[1].Name(), "CommMnem2");
    EXPECT_EQ(m[1].Formula(), TFormula::fmArcCos);
    EXPECT_EQ(m[1].Increment(), -0.05);
    EXPECT_EQ(m[1].Modifier(), 11);
    EXPECT_EQ(std::floor(m[1].RawValue() * 1e5), 11606);
    EXPECT_EQ(m[2].GetDisplayName(), "CommMnem3 (fmCsc): i:0.01 m:24.00");
    EXPECT_EQ(std::floor(m[2].RawValue() * 1e5), 55245);

    EXPECT_EQ(m[3].Name(), "CommMnem4");
    EXPECT_EQ(m[3].Formula(), TFormula::fmCos);
    EXPECT_DOUBLE_EQ(m[3].RawValue(), -260 / 360.0);
    EXPECT_DOUBLE_EQ(m[3].Increment(), 0.3);
    EXPECT_EQ(m[3].Modifier(), -18);
    EXPECT_EQ(m[3].YellowHigh(), 18);
    EXPECT_EQ(m[3].YellowLow(), -18);
    EXPECT_EQ(m[3].RedHigh(), 36);
    EXPECT_EQ(m[3].RedLow(), -36);
    EXPECT_EQ(m[4].Name(), "CommMnem5");
    EXPECT_EQ(m[4].Formula(), TFormula::fmTan);
    EXPECT_NEAR(m[4].RawValue(), -8 / 360.0, 1e-15);
    EXPECT_DOUBLE_EQ(m[4].Increment(), 0.044);
    EXPECT_DOUBLE_EQ(m[4].Modifier(), -7.4);
    EXPECT_EQ(m[8].Name(), "PwrMnem9");
    EXPECT_EQ(m[8].Increment(), 0.05);

    const char* names[] = {"CommMnem1", "PwrMnem6", "CtrlMnem11", "SciMnem16", "SciMnem30"};
    const char* systems[] = {"Communications", "Power", "Control", "Scientific", "Scientific"};
    const int indexes[] = {0, 5, 10, 15, 29};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(m[indexes[k]].Name(), names[k]);
        EXPECT_EQ(m[indexes[k]].System(), systems[k]);
        EXPECT_EQ(m[indexes[k]].SubSystem(), "unknown");
    }

    // A second window builds exactly the same set, whatever the generator did meanwhile.
    SetRandSeed(12345);
    TSimulation again;
    again.Initialize(Start);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(again.Mnemonics()[i].GetDisplayName(), m[i].GetDisplayName());
        EXPECT_EQ(again.Mnemonics()[i].RawValue(), m[i].RawValue());
    }
}

TEST_F(SimulationTest, ValuesAfterStepsMatchTheFormulas) {
    std::vector<TReference> reference = ReferenceSet();
    const TMnemonics& m = Sim.Mnemonics();
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(static_cast<int>(m[i].Formula()), reference[static_cast<size_t>(i)].Formula);
        ASSERT_EQ(m[i].Increment(), reference[static_cast<size_t>(i)].Increment) << i;
        ASSERT_EQ(m[i].Modifier(), reference[static_cast<size_t>(i)].Modifier) << i;
    }
    for (int step = 1; step <= 500; ++step) {
        Sim.StepClick();
        ASSERT_TRUE(View.Errors.empty()) << View.Errors.front();
        for (int i = 0; i < 30; ++i) {
            const double expected = reference[static_cast<size_t>(i)].StepValue();
            ASSERT_EQ(m[i].Value(), expected) << m[i].Name() << " after step " << step;
            ASSERT_EQ(m[i].RawValue(), reference[static_cast<size_t>(i)].Raw);
        }
    }
    EXPECT_EQ(Sim.Points(), 500);
}

TEST_F(SimulationTest, FirstValuesToTheDigit) {
    Sim.StepClick();
    const TMnemonics& m = Sim.Mnemonics();
    // sin(0.5877209964673966 + 0.01) * -56, and so on, worked out apart from this code.
    EXPECT_NEAR(m[0].Value(), -31.514563690723207, 1e-12);
    EXPECT_NEAR(m[1].Value(), 16.551531374900637, 1e-12);
    EXPECT_NEAR(m[2].Value(), 45.00566428054697, 1e-12);
    EXPECT_NEAR(m[3].Value(), -16.419249939209394, 1e-12);
}

TEST_F(SimulationTest, OpensPausedAndStepsOnce) {
    EXPECT_FALSE(Sim.Running());
    EXPECT_FALSE(Sim.TimerEnabled());
    EXPECT_TRUE(View.PauseDown);
    EXPECT_EQ(Sim.Interval(), 100);
    EXPECT_EQ(View.Interval, 100);
    EXPECT_EQ(Sim.Caption(), "Corvane Demo Application");

    Sim.StepClick();
    EXPECT_EQ(Sim.Points(), 1);
    EXPECT_FALSE(Sim.Running());
    EXPECT_FALSE(View.Timer);
    EXPECT_TRUE(View.PauseDown);
    EXPECT_EQ(View.Plotted.size(), 30u);
    EXPECT_EQ(View.Plotted.front(), "CommMnem1");

    Sim.PlayClick();
    EXPECT_TRUE(Sim.Running());
    EXPECT_TRUE(View.Timer);
    EXPECT_FALSE(View.PauseDown);
    Sim.TimerTick();
    EXPECT_EQ(Sim.Points(), 2);
    EXPECT_TRUE(View.Timer);

    // Step while playing pauses without an iteration.
    Sim.StepClick();
    EXPECT_EQ(Sim.Points(), 2);
    EXPECT_FALSE(Sim.Running());
    EXPECT_FALSE(View.Timer);

    Sim.PlayClick();
    Sim.PauseClick();
    EXPECT_FALSE(View.Timer);
    EXPECT_TRUE(View.PauseDown);
    Sim.Show(); // shown again after iterations: stays as it is
    EXPECT_EQ(Sim.Points(), 2);
}

TEST_F(SimulationTest, SpeedStaysWithinItsRange) {
    Sim.SetSpeed(0);
    EXPECT_EQ(Sim.Interval(), 1);
    Sim.SetSpeed(5000);
    EXPECT_EQ(Sim.Interval(), 1000);
    Sim.SetSpeed(250);
    EXPECT_EQ(View.Interval, 250);
}

TEST_F(SimulationTest, CaptionCountsIterationsAndRate) {
    Clock = 100;
    const auto step = [this] {
        Sim.SetClock([this] {
            const uint32_t now = Clock;
            Clock += 2; // every reading of the clock is 2 ms later: 2 ms per iteration
            return now;
        });
        Sim.StepClick();
    };
    step();
    // The rate uses the time summed before this iteration: none yet, counted as 1 ms.
    EXPECT_EQ(View.Caption,
              "Corvane Demo Application (1 points generated, 1000 steps per proc second)");
    step();
    EXPECT_EQ(View.Caption,
              "Corvane Demo Application (2 points generated, 1000 steps per proc second)");
    step();
    // 4 ms over 3 points: 1000 / (4 / 3) = 750.
    EXPECT_EQ(View.Caption,
              "Corvane Demo Application (3 points generated, 750 steps per proc second)");
    EXPECT_EQ(Sim.ProcTime(), 6u);

    Clock = 0xFFFFFFFFu; // the tick counter wraps: the difference still counts
    step();
    EXPECT_EQ(Sim.ProcTime(), 8u);
}

TEST_F(SimulationTest, ClockAdvancesHalfASecondAndStampsTheLog) {
    EXPECT_EQ(TimeToStr(Sim.SimTime()), "1:04:05.250 PM");
    Sim.StepClick();
    Sim.StepClick();
    Sim.StepClick();
    EXPECT_EQ(TimeToStr(Sim.SimTime()), "1:04:06.750 PM");
    Sim.Log("hello world");
    ASSERT_FALSE(View.Lines.empty());
    EXPECT_EQ(View.Lines.back(), "1:04:06.750 PM hello world");
    for (int i = 0; i < 7200; ++i) // one hour later, without drift
        Sim.SimulationStep();
    EXPECT_EQ(TimeToStr(Sim.SimTime()), "2:04:06.750 PM");
}

TEST_F(SimulationTest, LongTimeFormatIsProcessWide) {
    EXPECT_EQ(FormatSettings().LongTimeFormat, "h:mm:ss.zzz AMPM");
    EXPECT_EQ(TimeToStr(45352.0), "12:00:00.000 AM");
    EXPECT_EQ(TimeToStr(45352.5), "12:00:00.000 PM");
    EXPECT_EQ(TimeToStr(45352 + (9 * 3600 + 5) / 86400.0), "9:00:05.000 AM");
    EXPECT_EQ(TimeToStr(45352 + (23 * 3600 + 59 * 60 + 59.999) / 86400.0), "11:59:59.999 PM");
}

TEST_F(SimulationTest, AlertsWarningsAndPanels) {
    ASSERT_EQ(Sim.SystemPanels().size(), 4u);
    EXPECT_EQ(Sim.SystemPanels()[1].Caption, "Power");
    EXPECT_EQ(Sim.SystemPanels()[1].Hint, "Power system status (yellow=warning, red=critical)");
    const auto colour = [this](int i) { return Sim.SystemPanels()[static_cast<size_t>(i)].Colour; };
    Sim.ShowAlert("Power", false);
    EXPECT_EQ(View.Lines.back(), "1:04:05.250 PM Alert! Power critical");
    EXPECT_EQ(colour(1), TStatusColour::scRed);
    Sim.ShowAlert("Power", true);
    EXPECT_EQ(View.Lines.back(), "1:04:05.250 PM Warning! Power degradation detected");
    EXPECT_EQ(colour(1), TStatusColour::scRed); // a warning never weakens an alert
    Sim.ShowAlert("Communications", true);
    EXPECT_EQ(colour(0), TStatusColour::scYellow);
    Sim.ShowAlert("Communications", false);
    EXPECT_EQ(colour(0), TStatusColour::scRed);
    Sim.ShowAlert("control", false); // captions compare case-sensitively
    EXPECT_EQ(View.Lines.back(), "1:04:05.250 PM Alert! control critical");
    EXPECT_EQ(colour(2), TStatusColour::scNeutral);

    // Rules that stop taking part leave no alarm behind, on the panels or the satellite, and
    // an iteration without rules colours nothing.
    Sim.SetSatelliteState(0);
    const int panelChanges = View.PanelChanges;
    Sim.SetExpertSystemAvailable(false);
    EXPECT_EQ(colour(0), TStatusColour::scNeutral);
    EXPECT_EQ(colour(1), TStatusColour::scNeutral);
    EXPECT_EQ(Sim.SatelliteState(), TStatusColour::scNeutral);
    EXPECT_GT(View.PanelChanges, panelChanges);
    Sim.StepClick();
    EXPECT_EQ(colour(0), TStatusColour::scNeutral);
    Sim.ShowAlert("Communications", false);
    // With rules the next iteration starts from neutral panels.
    TRules rules;
    rules.Simulation = &Sim;
    Sim.SetRules(&rules);
    Sim.SetExpertSystemAvailable(true);
    Sim.StepClick();
    EXPECT_EQ(colour(0), TStatusColour::scNeutral);
    EXPECT_EQ(colour(1), TStatusColour::scNeutral);
}

// The log keeps its last lines only, and says so when it starts dropping the oldest and again
// before that notice itself would go.
TEST_F(SimulationTest, TheLogIsBoundedAndSaysWhenItDropsLines) {
    Sim.SetLogLineLimit(10);
    EXPECT_EQ(Sim.LogLineLimit(), 10);
    const std::string notice = "The log keeps its last 10 lines; older lines are dropped.";
    const auto notices = [&] {
        return std::count_if(View.Lines.begin(), View.Lines.end(), [&](const std::string& l) {
            return l.find(notice) != std::string::npos;
        });
    };
    for (int i = 0; i < 10; ++i)
        Sim.Log("line");
    EXPECT_EQ(notices(), 0);
    // A many-line entry counts each of its lines; its line ends arrive as '\n' alone.
    Sim.Log("first\r\nsecond\r\n");
    EXPECT_EQ(View.Lines[10], "1:04:05.250 PM first\nsecond");
    EXPECT_EQ(notices(), 1);
    EXPECT_EQ(View.Lines.back(), "1:04:05.250 PM " + notice);
    // The notice is line 13; nine more lines keep it among the last ten.
    for (int i = 0; i < 9; ++i)
        Sim.Log("line");
    EXPECT_EQ(notices(), 1);
    Sim.Log("line");
    EXPECT_EQ(notices(), 2);
    EXPECT_EQ(Sim.LoggedLines(), 24);
}

TEST_F(SimulationTest, SatelliteState) {
    const auto state = [this](float value) {
        Sim.SetSatelliteState(value);
        return Sim.SatelliteState();
    };
    EXPECT_EQ(state(0.75f), TStatusColour::scAqua);
    EXPECT_EQ(state(0.5f), TStatusColour::scYellow);
    EXPECT_EQ(state(0.0f), TStatusColour::scRed);
    EXPECT_EQ(state(-1.0f), TStatusColour::scRed);
    EXPECT_EQ(state(NAN), TStatusColour::scRed);
    EXPECT_EQ(state(1.0f), TStatusColour::scNeutral);
    EXPECT_EQ(state(2.0f), TStatusColour::scNeutral);
    EXPECT_EQ(state(0.999f), TStatusColour::scAqua);
}

TEST_F(SimulationTest, RuleExchangeTakesPartInEveryIteration) {
    TRules rules;
    rules.Simulation = &Sim;
    Sim.SetRules(&rules);
    std::vector<double> assertedValues;
    Sim.StepClick();
    ASSERT_EQ(rules.Calls.size(), 32u);
    EXPECT_EQ(rules.Calls.front(), "clear");
    EXPECT_EQ(rules.Calls[1], "assert CommMnem1");
    EXPECT_EQ(rules.Calls[30], "assert SciMnem30");
    EXPECT_EQ(rules.Calls.back(), "run");
    EXPECT_EQ(View.ProcessCalls, 1);

    // Without an expert system nothing reaches the rules, and the caption still counts.
    rules.Calls.clear();
    Sim.SetExpertSystemAvailable(false);
    Sim.StepClick();
    EXPECT_TRUE(rules.Calls.empty());
    EXPECT_EQ(View.ProcessCalls, 1);
    EXPECT_NE(View.Caption.find("(2 points generated"), std::string::npos);
}

TEST_F(SimulationTest, AStepClickedWhileRulesRunIsNotNested) {
    struct TClickingRules : TRules {
        void RunInference() override {
            TRules::RunInference();
            Simulation->StepClick(); // the user clicks Step while the window handles messages
        }
    } rules;
    rules.Simulation = &Sim;
    Sim.SetRules(&rules);
    Sim.StepClick();
    EXPECT_EQ(Sim.Points(), 1);
    EXPECT_EQ(TimeToStr(Sim.SimTime()), "1:04:05.750 PM");
    EXPECT_TRUE(View.Errors.empty());
}

TEST_F(SimulationTest, DebugModePausesFromInsideAnIteration) {
    TRules rules;
    rules.Simulation = &Sim;
    Sim.SetRules(&rules);
    Sim.SetDebugMode(true);
    Sim.PlayClick();
    Sim.TimerTick();
    EXPECT_EQ(Sim.Points(), 1);
    EXPECT_FALSE(Sim.Running());
    EXPECT_FALSE(Sim.TimerEnabled()); // the next tick does not come
    EXPECT_FALSE(View.Timer);
}

TEST_F(SimulationTest, AFailingIterationPausesAndReportsOnce) {
    // An arc form whose increment leaves [-1, 1] fails in its first step.
    Sim.Mnemonics().Add(TFormula::fmArcSin, 0, 5, 1);
    Sim.PlayClick();
    Sim.TimerTick();
    EXPECT_FALSE(Sim.Running());
    EXPECT_FALSE(Sim.TimerEnabled());
    EXPECT_FALSE(View.Timer);
    ASSERT_EQ(View.Errors.size(), 1u);
    EXPECT_EQ(View.Errors[0], "Invalid floating point operation");
    EXPECT_EQ(View.Lines.back(), "1:04:05.750 PM Invalid floating point operation");
    EXPECT_EQ(Sim.Points(), 0);
    EXPECT_TRUE(View.PauseDown);

    // Step reports its own failure the same way, once per click.
    Sim.StepClick();
    EXPECT_EQ(View.Errors.size(), 2u);
    EXPECT_FALSE(Sim.Running());
}

TEST_F(SimulationTest, ConsoleRunsWithTheTimerOff) {
    Sim.PlayClick();
    bool timerDuring = true;
    Sim.ExecuteConsole([&] { timerDuring = View.Timer; });
    EXPECT_FALSE(timerDuring);
    EXPECT_TRUE(View.Timer);
    EXPECT_THROW(Sim.ExecuteConsole([] { throw std::runtime_error("console"); }),
                 std::runtime_error);
    EXPECT_TRUE(View.Timer);
    Sim.PauseClick();
    Sim.ExecuteConsole([] {});
    EXPECT_FALSE(View.Timer);
}

TEST_F(SimulationTest, ChartHintAndStatus) {
    const TMnemonic& first = Sim.Mnemonics()[0];
    EXPECT_EQ(TSimulation::ChartHint(first),
              "Shows last " + std::to_string(TSimulation::ChartPointLimit) +
                  " data points for CommMnem1 (fmSin): i:0.01 m:-56.00\r\n"
                  "Yellow and red lines represent yellow (warning) and red (critical) limits");
    TMnemonic& item = Sim.Mnemonics()[3]; // yellow +-18, red +-36
    item.SetValue(20);
    EXPECT_EQ(TSimulation::MnemonicStatus(item), TStatusColour::scYellow);
    item.SetValue(-40);
    EXPECT_EQ(TSimulation::MnemonicStatus(item), TStatusColour::scRed);
    item.SetValue(18);
    EXPECT_EQ(TSimulation::MnemonicStatus(item), TStatusColour::scNeutral);
}

// The poles of tan, cot, sec and csc leap to values thousands of times the limits; the axis
// stops at half the limits' span beyond them, so the limit lines stay apart and the usual curve
// keeps its height.
TEST(ChartAxisTest, LeapsBeyondTheLimitsAreCutAndTheLimitsStayApart) {
    TMnemonic item(nullptr);
    item.SetRedLow(-48);
    item.SetYellowLow(-24);
    item.SetYellowHigh(24);
    item.SetRedHigh(48);
    const TValueRange clip = TSimulation::ChartClipRange(item);
    EXPECT_DOUBLE_EQ(clip.Low, -96);
    EXPECT_DOUBLE_EQ(clip.High, 96);
    const TValueRange spiked = TSimulation::ChartValueRange(item, -29290, 4147);
    EXPECT_DOUBLE_EQ(spiked.Low, -96 - 9.6);
    EXPECT_DOUBLE_EQ(spiked.High, 96 + 9.6);
    // The yellow lines stay a quarter of the height apart.
    EXPECT_GT(48 / (spiked.High - spiked.Low), 0.2);
    const TValueRange usual = TSimulation::ChartValueRange(item, -30, 20);
    EXPECT_DOUBLE_EQ(usual.Low, -48 - 4.8) << "the limits are always on the axis";
    EXPECT_DOUBLE_EQ(usual.High, 48 + 4.8);
    const TValueRange above = TSimulation::ChartValueRange(item, 0, 70);
    EXPECT_DOUBLE_EQ(above.High, 70 + 5.9) << "values within the clip range are shown whole";
}

} // namespace
} // namespace ie

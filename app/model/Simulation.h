// The simulation loop of the telemetry application, free of widgets: the simulated clock,
// the iteration count and rate shown in the caption, the play / pause / step state machine,
// the system and satellite states, the time-stamped log, and the three points at which the
// rule exchange (the data module) takes part in an iteration. The main window observes it
// through ISimulationView and forwards its controls to it.
#pragma once

#include "app/model/Mnemonics.h"
#include "platform/DateTime.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

// The process-wide long time format the application sets, e.g. "3:04:05.250 PM"; the log
// and the time texts of the rule language use it.
inline constexpr const char* ApplicationLongTimeFormat = "h:mm:ss.zzz AMPM";

enum class TStatusColour { scNeutral, scYellow, scRed, scAqua };

inline constexpr std::array<std::string_view, 4> SystemNames = {"Communications", "Power",
                                                                "Control", "Scientific"};
inline constexpr std::array<std::string_view, 4> SystemAbbreviations = {"Comm", "Pwr", "Ctrl",
                                                                        "Sci"};

// A stretch of a chart's value axis.
struct TValueRange {
    double Low = 0;
    double High = 0;
};

struct TSystemPanel {
    std::string Caption;
    std::string Hint;
    TStatusColour Colour = TStatusColour::scNeutral;
};

// What the window hears. Every notification has an empty default so that a view (or a test)
// listens only to what it shows.
class ISimulationView {
public:
    virtual ~ISimulationView() = default;
    virtual void RunningChanged(bool /*running*/) {}
    virtual void TimerChanged(bool /*enabled*/, int /*interval*/) {}
    virtual void CaptionChanged(const std::string& /*caption*/) {}
    // One log entry, its line ends already '\n'; it may take several lines.
    virtual void LogAppended(const std::string& /*line*/) {}
    // The log keeps only its last `lines` lines from now on.
    virtual void LogLimitChanged(int /*lines*/) {}
    virtual void SystemPanelsChanged() {}
    virtual void SatelliteStateChanged(TStatusColour /*colour*/) {}
    // The item was stepped: plot (SimTime, Value) and the four limits.
    virtual void MnemonicPlotted(TMnemonic& /*item*/) {}
    // An iteration or the console failed; the simulation is already paused.
    virtual void ErrorRaised(const std::string& /*message*/) {}
    // Let pending window messages run (the controls stay responsive while rules run).
    virtual void ProcessMessages() {}
    // Whether the rules take part, and which file they came from, changed (RulesStatus).
    virtual void RulesStatusChanged(const std::string& /*status*/) {}
    // A step (Step, or a timer tick) is over, including the rules it ran.
    virtual void StepEnded() {}
};

// The rule file's side of an iteration (the data module). Called only while an expert system
// is available.
class IRuleExchange {
public:
    virtual ~IRuleExchange() = default;
    // Before the mnemonics are stepped: retract the previous conclusions.
    virtual void ClearConclusions() = 0;
    // After each item's step: assert its value fact.
    virtual void AssertMnemonic(const TMnemonic& item) = 0;
    // After all items were stepped: run the engine, retract the value facts.
    virtual void RunInference() = 0;
    // Asked while RunInference runs (from the window's turn between two firings): end the
    // step's rules after the firing under way.
    virtual void StopInference() {}
};

class TSimulation {
public:
    static constexpr const char* DefaultCaption = "Corvane Demo Application";
    static constexpr int MnemonicCount = 30;
    static constexpr int MnemonicsPerSystem = 5;
    static constexpr uint32_t InitialSeed = 7890;
    static constexpr int SimulatedClockStep = 500; // milliseconds per iteration
    static constexpr int InitialSpeed = 100;       // milliseconds between iterations
    static constexpr int MinSpeed = 1;
    static constexpr int MaxSpeed = 1000;
    // A chart keeps the points of the last ChartPointLimit iterations.
    static constexpr int ChartPointLimit = 100;
    // The log keeps this many of its last lines: a chatty rule at full speed would otherwise
    // fill memory, and every step would slow down as the log grows.
    static constexpr int DefaultLogLineLimit = 5000;

    explicit TSimulation(std::string captionBase = DefaultCaption);
    TSimulation(const TSimulation&) = delete;
    TSimulation& operator=(const TSimulation&) = delete;

    void SetView(ISimulationView* view) { FView = view; }
    void SetRules(IRuleExchange* rules) { FRules = rules; }
    IRuleExchange* Rules() const { return FRules; }
    // A millisecond tick counter, for the processing time in the caption (tests fix it).
    void SetClock(std::function<uint32_t()> clock) { FClock = std::move(clock); }

    // Sets the process-wide long time format, seeds the generator with 7890 and builds the same
    // 30 mnemonics and the system panels on every run; the clock starts at start. The
    // mnemonics' owner hears the items arrive.
    void Initialize(TDateTime start);
    // The window is shown: a fresh simulation starts paused.
    void Show();

    TMnemonics& Mnemonics() { return FMnemonics; }
    const TMnemonics& Mnemonics() const { return FMnemonics; }

    // Controls.
    void StepClick();
    // Pauses; rules firing in the step under way stop too, so that a rule file that never
    // stops firing cannot hold the window.
    void PauseClick();
    void PlayClick() { SetRunning(true); }
    void SetSpeed(int interval);
    void TimerTick();
    // Runs execute (the console) with the timer off, and restores it as it was. Asked while a
    // step runs its rules (the console works on a copy of the engine, which is not taken while
    // rules fire), it stops the step's rules and opens the console when the step is over.
    void ExecuteConsole(const std::function<void()>& execute);
    // Ends the rules of the step under way after the firing under way; nothing else changes.
    void StopRules();
    // Whether a step is under way (its rules may be firing).
    bool Iterating() const { return FIterating; }
    // The window's turn while a step's rules fire: pending window messages run.
    void ProcessMessages() {
        if (FView) FView->ProcessMessages();
    }

    // One iteration: clock, steps, count. Raises what the iteration raises. While the rules
    // run, window messages are handled; a step requested then is ignored, not nested.
    void SimulationStep();
    void SetRunning(bool running);
    void SetPoints(int points);
    void SetSimTime(TDateTime value);

    bool Running() const { return FRunning; }
    bool TimerEnabled() const { return FTimerEnabled; }
    int Interval() const { return FInterval; }
    int Points() const { return FPoints; }
    uint32_t ProcTime() const { return FProcTime; }
    TDateTime SimTime() const;
    const std::string& CaptionBase() const { return FCaptionBase; }
    const std::string& Caption() const { return FCaption; }

    bool DebugMode() const { return FDebugMode; }
    void SetDebugMode(bool value) { FDebugMode = value; }
    bool ExpertSystemAvailable() const { return FExpertSystemAvailable; }
    // Rules that stop taking part take their conclusions with them: the system panels and the
    // satellite show no alarm while no rule judges the telemetry.
    void SetExpertSystemAvailable(bool value);
    // What the window shows of the rules: active with their file, or inactive and why. Empty
    // until the rule exchange says.
    const std::string& RulesStatus() const { return FRulesStatus; }
    void SetRulesStatus(std::string status);

    // Appends "<simulated time> <text>" to the log, with its line ends made '\n' and trailing
    // ones dropped. Once the log holds more than its limit, its oldest lines are dropped, and the
    // log says so: when the first line goes and again after each further limit's worth of lines.
    void Log(std::string_view text);
    int LogLineLimit() const { return FLogLineLimit; }
    void SetLogLineLimit(int lines);
    // The lines logged since the start, counting every line of a many-line entry.
    int64_t LoggedLines() const { return FLoggedLines; }
    // Logs the alert or warning and colours the panel captioned exactly text.
    void ShowAlert(std::string_view text, bool isWarning);
    void SetSatelliteState(float value);
    TStatusColour SatelliteState() const { return FSatelliteState; }
    const std::vector<TSystemPanel>& SystemPanels() const { return FSystemPanels; }

    static TStatusColour MnemonicStatus(const TMnemonic& item);
    static std::string ChartHint(const TMnemonic& item);
    // How far a chart's value axis reaches: the limits and half their span beyond them on each
    // side. The formulas with poles (tan, cot, sec, csc) leap far beyond; drawn to scale, such
    // leaps would squeeze the limit lines into one and flatten the usual curve, so values
    // beyond are drawn at this edge, marked as clipped.
    static TValueRange ChartClipRange(const TMnemonic& item);
    // The value axis for values between dataLow and dataHigh: the limits and the values, cut to
    // the clip range, with a margin of 5% of the height on both sides.
    static TValueRange ChartValueRange(const TMnemonic& item, double dataLow, double dataHigh);

private:
    void BeforeIterate();
    void MnemonicIterated(TMnemonic& item);
    void AfterIterate();
    void SetTimerEnabled(bool enabled);
    void ClearAlarms();
    void GuardedStep();
    void Fail(const std::string& message);
    bool RulesTakePart() const { return FExpertSystemAvailable && FRules; }

    TMnemonics FMnemonics;
    ISimulationView* FView = nullptr;
    IRuleExchange* FRules = nullptr;
    std::function<uint32_t()> FClock;
    // The simulated clock in whole milliseconds since 30 December 1899, so that adding half
    // seconds for hours never drifts.
    int64_t FSimTimeMs = 0;
    int FPoints = 0;
    std::string FCaptionBase;
    std::string FCaption;
    bool FRunning = false;
    bool FIterating = false;
    // The console asked for while a step ran, opened when the step is over.
    std::function<void()> FPendingConsole;
    bool FTimerEnabled = false;
    int FInterval = InitialSpeed;
    uint32_t FProcTime = 0;
    bool FDebugMode = false;
    bool FExpertSystemAvailable = true;
    std::string FRulesStatus;
    int FLogLineLimit = DefaultLogLineLimit;
    int64_t FLoggedLines = 0;
    // Where the log said last that it drops lines (in FLoggedLines), -1 before it first did.
    int64_t FDropNoticeAt = -1;
    std::vector<TSystemPanel> FSystemPanels;
    TStatusColour FSatelliteState = TStatusColour::scNeutral;
};

} // namespace ie

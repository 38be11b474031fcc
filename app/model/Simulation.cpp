// The simulation's clock, play / pause / step machine, log and display state. A failing step
// pauses before it is reported, so one failure is reported once; a step never runs inside
// another; and the timer is off during a step and while the console is open, and after a step
// comes back on only if the simulation still runs.
#include "app/model/Simulation.h"

#include "platform/Format.h"
#include "platform/Random.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace ie {

namespace {

uint32_t SystemMilliseconds() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

TSimulation::TSimulation(std::string captionBase)
    : FClock(SystemMilliseconds), FCaptionBase(std::move(captionBase)), FCaption(FCaptionBase) {
    FMnemonics.OnBeforeIterate = [this](TMnemonics&) { BeforeIterate(); };
    FMnemonics.OnAfterIterate = [this](TMnemonics&) { AfterIterate(); };
    FMnemonics.OnIterateItem = [this](TMnemonics&, TMnemonic& item) { MnemonicIterated(item); };
}

void TSimulation::Initialize(TDateTime start) {
    FormatSettings().LongTimeFormat = ApplicationLongTimeFormat;
    SetSimTime(start);
    SetSpeed(InitialSpeed);
    SetRandSeed(InitialSeed);
    FMnemonics.BeginUpdate();
    try {
        // Three fixed mnemonics, each raw value a fresh draw, then random ones up to 30.
        FMnemonics.Add(TFormula::fmSin, RandomFloat(), 0.01, -56);
        FMnemonics.Add(TFormula::fmArcCos, RandomFloat(), -0.05, 11);
        FMnemonics.Add(TFormula::fmCsc, RandomFloat(), 0.01, 24);
        FMnemonics.AddRandomMnemonics(MnemonicCount - FMnemonics.Count());

        FSystemPanels.clear();
        for (std::string_view name : SystemNames) {
            TSystemPanel panel;
            panel.Caption = name;
            panel.Hint = Format("%s system status (yellow=warning, red=critical)", name);
            FSystemPanels.push_back(std::move(panel));
        }
        if (FView) FView->SystemPanelsChanged();

        // Five mnemonics per system; everything past the named groups is scientific.
        for (int i = 0; i < FMnemonics.Count(); ++i) {
            TMnemonic& item = FMnemonics.Items(i);
            const size_t group = std::min<size_t>(static_cast<size_t>(i / MnemonicsPerSystem),
                                                  SystemNames.size() - 1);
            item.SetSystem(SystemNames[group]);
            item.SetName(std::string(SystemAbbreviations[group]) + item.Name());
        }
    } catch (...) {
        FMnemonics.EndUpdate();
        throw;
    }
    FMnemonics.EndUpdate();
}

void TSimulation::SetSimTime(TDateTime value) {
    FSimTimeMs = std::llround(value * MSecsPerDay);
}

TDateTime TSimulation::SimTime() const {
    return static_cast<double>(FSimTimeMs) / static_cast<double>(MSecsPerDay);
}

void TSimulation::Show() {
    if (FPoints == 0) SetRunning(false);
}

void TSimulation::StepClick() {
    if (!FRunning) {
        // The step button does not stay down: pause is the state shown after a single step.
        if (FView) FView->RunningChanged(false);
        GuardedStep();
    } else {
        SetRunning(false);
    }
}

void TSimulation::SetSpeed(int interval) {
    FInterval = std::clamp(interval, MinSpeed, MaxSpeed);
    if (FView) FView->TimerChanged(FTimerEnabled, FInterval);
}

void TSimulation::TimerTick() {
    SetTimerEnabled(false);
    GuardedStep();
    // A pause made during the step (debug mode, an error) keeps the timer off.
    SetTimerEnabled(FRunning);
}

void TSimulation::PauseClick() {
    SetRunning(false);
    StopRules();
}

void TSimulation::StopRules() {
    if (FIterating && FRules) FRules->StopInference();
}

void TSimulation::ExecuteConsole(const std::function<void()>& execute) {
    if (FIterating) {
        FPendingConsole = execute;
        StopRules();
        return;
    }
    const bool wasRunning = FRunning;
    SetTimerEnabled(false);
    try {
        execute();
    } catch (...) {
        SetTimerEnabled(wasRunning);
        throw;
    }
    SetTimerEnabled(wasRunning);
}

void TSimulation::GuardedStep() {
    if (FIterating) return;
    try {
        SimulationStep();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    if (FView) FView->StepEnded();
    if (!FPendingConsole) return;
    const std::function<void()> console = std::move(FPendingConsole);
    FPendingConsole = nullptr;
    try {
        ExecuteConsole(console);
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

void TSimulation::Fail(const std::string& message) {
    // Pause before reporting, so that a failing iteration is reported once and not again on
    // every following tick.
    SetRunning(false);
    Log(message);
    if (FView) FView->ErrorRaised(message);
}

void TSimulation::SimulationStep() {
    if (FIterating) return;
    struct TGuard {
        bool& Flag;
        explicit TGuard(bool& flag) : Flag(flag) { Flag = true; }
        ~TGuard() { Flag = false; }
    } guard(FIterating);
    const uint32_t t0 = FClock();
    FSimTimeMs += SimulatedClockStep;
    FMnemonics.Iterate();
    FProcTime += FClock() - t0; // 32-bit unsigned: a wrapped tick counter still subtracts right
}

void TSimulation::BeforeIterate() {
    if (!RulesTakePart()) return;
    FRules->ClearConclusions();
    for (TSystemPanel& panel : FSystemPanels)
        panel.Colour = TStatusColour::scNeutral;
    if (FView) FView->SystemPanelsChanged();
}

void TSimulation::MnemonicIterated(TMnemonic& item) {
    if (FView) FView->MnemonicPlotted(item);
    if (RulesTakePart()) FRules->AssertMnemonic(item);
}

void TSimulation::AfterIterate() {
    SetPoints(FPoints + 1);
    if (RulesTakePart()) {
        FRules->RunInference();
        if (FView) FView->ProcessMessages();
    }
}

void TSimulation::SetRunning(bool running) {
    FRunning = running;
    SetTimerEnabled(running);
    if (FView) FView->RunningChanged(running);
}

void TSimulation::SetTimerEnabled(bool enabled) {
    if (enabled == FTimerEnabled) return;
    FTimerEnabled = enabled;
    if (FView) FView->TimerChanged(FTimerEnabled, FInterval);
}

void TSimulation::SetPoints(int points) {
    if (points == FPoints) return;
    FPoints = points;
    // The rate uses the processing time summed up to the previous iteration.
    int64_t rate = 0;
    if (points > 0)
        rate = static_cast<int64_t>(
            std::trunc(1000.0 / (std::max<uint32_t>(FProcTime, 1) / static_cast<double>(points))));
    FCaption =
        Format("%s (%d points generated, %d steps per proc second)", FCaptionBase, points, rate);
    if (FView) FView->CaptionChanged(FCaption);
}

void TSimulation::Log(std::string_view text) {
    std::string line = TimeToStr(SimTime()) + " ";
    line.reserve(line.size() + text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            line += text[i];
        } else {
            line += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        }
    }
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    FLoggedLines += 1 + std::count(line.begin(), line.end(), '\n');
    if (FView) FView->LogAppended(line);
    // Said when dropping starts and again once that notice would have gone itself, so that
    // the log always tells why its start is missing.
    const bool dropping = FDropNoticeAt < 0 ? FLoggedLines > FLogLineLimit
                                            : FLoggedLines - FDropNoticeAt >= FLogLineLimit;
    if (!dropping) return;
    FDropNoticeAt = FLoggedLines + 1;
    Log(Format("The log keeps its last %d lines; older lines are dropped.", FLogLineLimit));
}

void TSimulation::SetLogLineLimit(int lines) {
    FLogLineLimit = std::max(lines, 1);
    if (FView) FView->LogLimitChanged(FLogLineLimit);
}

void TSimulation::ShowAlert(std::string_view text, bool isWarning) {
    Log(isWarning ? Format("Warning! %s degradation detected", text)
                  : Format("Alert! %s critical", text));
    bool changed = false;
    for (TSystemPanel& panel : FSystemPanels) {
        if (panel.Caption != text) continue;
        if (!isWarning)
            panel.Colour = TStatusColour::scRed;
        else if (panel.Colour != TStatusColour::scRed)
            panel.Colour = TStatusColour::scYellow;
        changed = true;
    }
    if (changed && FView) FView->SystemPanelsChanged();
}

void TSimulation::SetSatelliteState(float value) {
    if (std::isnan(value) || value <= 0)
        FSatelliteState = TStatusColour::scRed;
    else if (value >= 1)
        FSatelliteState = TStatusColour::scNeutral;
    else if (value == 0.5f)
        FSatelliteState = TStatusColour::scYellow;
    else
        FSatelliteState = TStatusColour::scAqua;
    if (FView) FView->SatelliteStateChanged(FSatelliteState);
}

TStatusColour TSimulation::MnemonicStatus(const TMnemonic& item) {
    if (item.IsRed()) return TStatusColour::scRed;
    if (item.IsYellow()) return TStatusColour::scYellow;
    return TStatusColour::scNeutral;
}

void TSimulation::SetExpertSystemAvailable(bool value) {
    FExpertSystemAvailable = value;
    if (!value) ClearAlarms();
}

void TSimulation::ClearAlarms() {
    bool changed = false;
    for (TSystemPanel& panel : FSystemPanels) {
        changed = changed || panel.Colour != TStatusColour::scNeutral;
        panel.Colour = TStatusColour::scNeutral;
    }
    if (changed && FView) FView->SystemPanelsChanged();
    if (FSatelliteState == TStatusColour::scNeutral) return;
    FSatelliteState = TStatusColour::scNeutral;
    if (FView) FView->SatelliteStateChanged(FSatelliteState);
}

void TSimulation::SetRulesStatus(std::string status) {
    FRulesStatus = std::move(status);
    if (FView) FView->RulesStatusChanged(FRulesStatus);
}

TValueRange TSimulation::ChartClipRange(const TMnemonic& item) {
    const double low = std::min(item.RedLow(), item.YellowLow());
    const double high = std::max(item.RedHigh(), item.YellowHigh());
    const double span = high > low ? high - low : 1.0;
    return {low - span / 2, high + span / 2};
}

TValueRange TSimulation::ChartValueRange(const TMnemonic& item, double dataLow, double dataHigh) {
    const TValueRange clip = ChartClipRange(item);
    const double low = std::max(std::min({item.RedLow(), item.YellowLow(), dataLow}), clip.Low);
    const double high =
        std::min(std::max({item.RedHigh(), item.YellowHigh(), dataHigh}), clip.High);
    const double margin = high > low ? (high - low) * 0.05 : 1.0;
    return {low - margin, high + margin};
}

std::string TSimulation::ChartHint(const TMnemonic& item) {
    return Format("Shows last %d data points for %s\r\n"
                  "Yellow and red lines represent yellow (warning) and red (critical) limits",
                  ChartPointLimit, item.GetDisplayName());
}

} // namespace ie

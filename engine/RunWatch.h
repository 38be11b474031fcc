// A watch over the rules an engine fires while its host waits for them. A rule file may fire
// without end (a rule that asserts what makes it fire again); the host must keep its window
// painting and its buttons working meanwhile, and must be able to end such a run. The watch
// counts each firing by rule, hands the host control now and then between two firings (when
// nothing of the engine is half done), and halts the run when the host asks or when the rules
// fired more often than the limit; it then names the rule that fired most.
//
// Invariant: the engine's OnRuleFired is the watch's own while the watch lives, and the handler
// it replaced afterwards; every firing still reaches that handler.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "engine/InferenceEngine.h"

namespace ie {

class TRunWatch {
public:
    // Firings a run may make before it is halted: far beyond what a rule file judging one step
    // needs (the demo rules fire about a hundred times), and reached within a second or two by
    // a rule that never stops.
    static constexpr int32_t DefaultFiringLimit = 100000;
    // How long the host waits at most between two turns of its own.
    static constexpr std::chrono::milliseconds TurnInterval{40};

    enum class TEnd { eRunning, eStopped, eLimitReached };

    // between: the host's turn (let pending window messages run); may be empty. A limit of 0 or
    // less sets none.
    TRunWatch(TInferenceEngine& engine, int32_t firingLimit, std::function<void()> between);
    ~TRunWatch();
    TRunWatch(const TRunWatch&) = delete;
    TRunWatch& operator=(const TRunWatch&) = delete;

    // The host asks the run to end (a Pause or Stop click, the close box): the engine halts
    // after the firing under way.
    void Stop() noexcept { FStopAsked = true; }
    TEnd End() const noexcept { return FEnd; }
    int32_t Fired() const noexcept { return FFired; }
    // The rule that fired most and how often; empty and 0 before any firing.
    const std::string& MostFiredRule() const noexcept { return FMostFired; }
    int32_t MostFiredCount() const noexcept { return FMostFiredCount; }
    // What the user is told when the limit halted the run.
    std::string LimitMessage() const;

private:
    void RuleFired(TInferenceEngine* sender, TRule* rule);
    void HaltFor(TEnd reason);

    TInferenceEngine& FEngine;
    int32_t FLimit;
    std::function<void()> FBetween;
    TRuleEvent FPrevious;
    std::unordered_map<std::string, int32_t> FCounts;
    std::string FMostFired;
    int32_t FMostFiredCount = 0;
    int32_t FFired = 0;
    std::chrono::steady_clock::time_point FNextTurn;
    bool FStopAsked = false;
    bool FInTurn = false;
    TEnd FEnd = TEnd::eRunning;
};

} // namespace ie

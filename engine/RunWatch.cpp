// The run watch: one handler on the engine's OnRuleFired that counts, gives the host its turn
// and halts. The host's turn comes only from the handler, after a firing's actions are done and
// before the next firing starts, so whatever the host does then meets a quiet engine; a turn
// never nests in another (a rule that fires while the host has its turn, in a run the host
// started then, is counted but waits for no turn).
#include "engine/RunWatch.h"

#include "engine/match/IERule.h"
#include "platform/Format.h"

namespace ie {

TRunWatch::TRunWatch(TInferenceEngine& engine, int32_t firingLimit, std::function<void()> between)
    : FEngine(engine), FLimit(firingLimit), FBetween(std::move(between)),
      FPrevious(std::move(engine.OnRuleFired)),
      FNextTurn(std::chrono::steady_clock::now() + TurnInterval) {
    FEngine.OnRuleFired = [this](TInferenceEngine* sender, TRule* rule) {
        RuleFired(sender, rule);
    };
}

TRunWatch::~TRunWatch() {
    FEngine.OnRuleFired = std::move(FPrevious);
}

void TRunWatch::RuleFired(TInferenceEngine* sender, TRule* rule) {
    if (FPrevious) FPrevious(sender, rule);
    ++FFired;
    if (rule) {
        const int32_t count = ++FCounts[rule->RuleName()];
        if (count > FMostFiredCount) {
            FMostFiredCount = count;
            if (FMostFired != rule->RuleName()) FMostFired = rule->RuleName();
        }
    }
    if (FEnd != TEnd::eRunning) {
        // Halted already: a rule that runs the engine again from its actions is halted too.
        FEngine.Halt();
        return;
    }
    if (FLimit > 0 && FFired >= FLimit) return HaltFor(TEnd::eLimitReached);
    if (FBetween && !FInTurn && std::chrono::steady_clock::now() >= FNextTurn) {
        FInTurn = true;
        try {
            FBetween();
        } catch (...) {
            FInTurn = false;
            throw;
        }
        FInTurn = false;
        FNextTurn = std::chrono::steady_clock::now() + TurnInterval;
    }
    if (FStopAsked) HaltFor(TEnd::eStopped);
}

void TRunWatch::HaltFor(TEnd reason) {
    FEnd = reason;
    FEngine.Halt();
}

std::string TRunWatch::LimitMessage() const {
    return Format("The rules were halted after %d firings, the most one run may make. The rule "
                  "\"%s\" fired most (%d times): it may keep making what makes it fire again.",
                  FFired, FMostFired, FMostFiredCount);
}

} // namespace ie

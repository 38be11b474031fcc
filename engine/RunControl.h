// The run control of an inference engine: the agenda, the network's reports of activations made,
// dropped and fired (IActivationSink), the run loop with its halting and nesting, and the
// statistics of the last run.
//
// The agenda owns an activation from the moment the network reports it. The run loop fires the
// first idle activation until the agenda has none, the halt flag is set or the firing limit is
// reached; a firing activation stays on the agenda, marked firing, until its firing ends, and
// a (run) inside an action skips it and counts only its own firings.
//
// TInferenceEngine owns one and forwards its agenda and run operations here.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/match/ActivationAgenda.h"
#include "engine/match/ReteNetwork.h"
#include "engine/model/IEConsts.h"

namespace ie {

class TInferenceEngine;
class TRule;

class TRunControl final : public IActivationSink {
public:
    // The limit of nesting of runs inside rule actions.
    static constexpr int32_t MaxRunNesting = 64;

    explicit TRunControl(TInferenceEngine& engine);
    ~TRunControl();
    TRunControl(const TRunControl&) = delete;
    TRunControl& operator=(const TRunControl&) = delete;

    TIEAgenda& Agenda() noexcept { return *FAgenda; }
    const TIEAgenda& Agenda() const noexcept { return *FAgenda; }
    TActivation* Firing() const noexcept { return FFiring; }

    // --- IActivationSink (the network's reports) ---
    void ActivationAdded(TActivation* activation) override { AddActivation(activation); }
    void ActivationRemoved(TActivation* activation) override { RemoveActivation(activation); }
    // RuleFired without counting out the index nobody is told.
    void ActivationFired(TActivation* activation) override;

    // The agenda owns an added activation from then on and frees a removed one (unless it is
    // firing).
    void AddActivation(TActivation* activation);
    void RemoveActivation(TActivation* activation);
    void RemoveActivationAt(int32_t index);
    // OnRuleFired, then the activation leaves the agenda; its former index, or negative.
    int32_t RuleFired(TActivation* activation);

    // Every activation is filed again, in its former order, under the new strategy.
    TSearchStrategy Strategy() const noexcept { return FStrategy; }
    void SetStrategy(TSearchStrategy value);
    // Takes the strategy without refiling (the agenda is empty or about to be).
    void AdoptStrategy(TSearchStrategy value);

    int32_t Run(int32_t limit);
    void Halt() noexcept { FHalt = true; }
    bool Halted() const noexcept { return FHalt; }
    void StartInference();
    void EndInference();
    int32_t RulesFired() const noexcept { return FRulesFired; }
    double RunTime() const noexcept { return FRunTime; }

    // A rule removed while rules fire stays allocated until the outermost firing ends (its own
    // actions may be running): true when it was kept for then.
    bool RetireWhileFiring(TRule* rule);
    // The agenda and the halt flag as after a clear.
    void Clear();
    // The engine goes: no firing is reported any more, then the agenda goes.
    void ForgetFiring() noexcept { FFiring = nullptr; }
    void Release() noexcept { FAgenda.reset(); }

private:
    bool FireOne();
    // Traces the activation's leaving, takes it off the agenda and frees it unless it fires.
    void Drop(TActivation* activation);
    // Frees the rules retired while rules fired (none may be firing any more).
    void FreeRetiredRules() noexcept;

    TInferenceEngine& FEngine;
    std::unique_ptr<TIEAgenda> FAgenda;
    TSearchStrategy FStrategy = ssDepthFirst;
    bool FHalt = false;
    std::recursive_mutex FRunLock;
    TActivation* FFiring = nullptr;
    // Rules removed while a rule fires: out of the rule table and the network, freed when the
    // outermost firing ends (the firing rule may be among them, its actions still running).
    std::vector<TRule*> FRetiredRules;
    // How deep runs nest inside rule actions.
    int32_t FRunDepth = 0;

    // Statistics
    int32_t FRulesFired = 0;
    int64_t FStartTime = 0; // whole milliseconds of TimerMilliseconds
    double FRunTime = 0.0;
    int32_t FMaxActivations = 0;
    double FSumActivations = 0.0;
    int32_t FMaxFacts = 0;
    double FSumFacts = 0.0;
};

} // namespace ie

// The run control: the agenda as the network reports to it, the run loop, halting, the nesting
// of runs inside rule actions, and the run statistics.
//
// Invariant: every activation reported to the agenda is freed exactly once: by the agenda when
// it is removed while idle, or by the run loop when its firing ends (a firing activation stays on
// the agenda, marked, until then). Rules removed while a rule fires are freed when the outermost
// firing ends, never while one of their actions may still run.
#include "engine/RunControl.h"

#include <algorithm>
#include <string>

#include "engine/InferenceEngine.h"
#include "engine/match/IERule.h"
#include "platform/Assert.h"
#include "platform/DateTime.h"
#include "platform/Format.h"
#include "platform/Restore.h"

namespace ie {

namespace {

// An error raised while a rule fires carries the rule's name, so that the user knows which rule
// to open. Only the innermost firing names it (a rule whose action runs other rules passes their
// errors on); the error keeps its class and, before the name, its own text.
thread_local const void* NamedFailure = nullptr;

void NameFailingRule(EException& error, const std::string& rule, bool outermost) {
    if (NamedFailure != &error) {
        NamedFailure = &error;
        static_cast<std::runtime_error&>(error) =
            std::runtime_error(Format("%s (in rule %s)", error.what(), rule));
    }
    if (outermost) NamedFailure = nullptr;
}

} // namespace

TRunControl::TRunControl(TInferenceEngine& engine)
    : FEngine(engine), FAgenda(std::make_unique<TIEAgenda>(&engine)) {}

TRunControl::~TRunControl() = default;

// ---------------------------------------------------------------------------------------------
// The agenda

void TRunControl::AddActivation(TActivation* activation) {
    if (!activation) return;
    // The agenda owns an activation from the moment it is reported: one that never got there
    // is freed (its node forgets it), also before a failure passes on.
    const TOnExit freeUnfiled([activation] {
        if (!activation->InAgenda()) delete activation;
    });
    try {
        const int32_t salience =
            activation->Node() ? activation->Node()->ActivationSalience() : activation->Salience();
        // Only a listener is told the index: counting it out sums a long agenda's blocks.
        int32_t index = -1;
        if (FEngine.OnAddActivation)
            index = FAgenda->AddActivation(activation, salience);
        else
            FAgenda->File(activation, salience);
        if (FEngine.Tracing(cwActivation))
            FEngine.PrintOut("", "==> Activation: " + activation->RuleName() + " : " +
                                     activation->Token()->FactIdList() + std::string(IELineEnd));
        if (FEngine.OnAddActivation) FEngine.OnAddActivation(&FEngine, index, activation);
    } catch (const EAbort&) {
        // A host may refuse to hear of an activation; the activation stays.
    }
}

void TRunControl::RemoveActivation(TActivation* activation) {
    if (FEngine.OnRemoveActivation) {
        const int32_t index = FAgenda->IndexOf(activation);
        if (index >= 0) RemoveActivationAt(index);
    } else if (FAgenda->Holds(activation)) {
        Drop(activation);
    }
}

void TRunControl::RemoveActivationAt(int32_t index) {
    TActivation* activation = FAgenda->Item(index);
    if (FEngine.OnRemoveActivation) FEngine.OnRemoveActivation(&FEngine, index, activation);
    Drop(activation);
}

void TRunControl::Drop(TActivation* activation) {
    if (FEngine.Tracing(cwActivation))
        FEngine.PrintOut("", "<== Activation: " + activation->RuleName() + " : " +
                                 activation->Token()->FactIdList() + std::string(IELineEnd));
    FAgenda->Extract(activation);
    // A firing activation is freed by the run loop when its firing ends.
    if (!activation->Firing()) delete activation;
}

void TRunControl::ActivationFired(TActivation* activation) {
    if (FEngine.OnRuleFired) FEngine.OnRuleFired(&FEngine, activation->Rule());
    RemoveActivation(activation);
}

int32_t TRunControl::RuleFired(TActivation* activation) {
    if (FEngine.OnRuleFired) FEngine.OnRuleFired(&FEngine, activation->Rule());
    const int32_t index = FAgenda->IndexOf(activation);
    if (index >= 0) RemoveActivationAt(index);
    return index;
}

void TRunControl::SetStrategy(TSearchStrategy value) {
    if (value == FStrategy) return;
    // The activations themselves stay (with their strengths and their place in the node lists).
    std::vector<TActivation*> all = FAgenda->ExtractAll();
    AdoptStrategy(value);
    size_t next = 0;
    // The agenda must not lose what it owned: when filing one fails, the rest goes back
    // untraced.
    const TOnFailure refile([&] {
        for (size_t j = next; j < all.size(); ++j)
            FAgenda->File(all[j], all[j]->Salience());
    });
    while (next < all.size())
        AddActivation(all[next++]);
}

void TRunControl::AdoptStrategy(TSearchStrategy value) {
    FStrategy = value;
    FAgenda->SetStrategy(value);
}

void TRunControl::Clear() {
    FHalt = false;
    FAgenda->Clear();
}

// ---------------------------------------------------------------------------------------------
// Retired rules

bool TRunControl::RetireWhileFiring(TRule* rule) {
    if (!FFiring) return false;
    FRetiredRules.push_back(rule);
    return true;
}

void TRunControl::FreeRetiredRules() noexcept {
    std::vector<TRule*> retired;
    retired.swap(FRetiredRules);
    for (TRule* rule : retired)
        if (!rule->IsDestroying()) rule->Free();
}

// ---------------------------------------------------------------------------------------------
// The run loop

void TRunControl::StartInference() {
    if (FEngine.OnStartInference) FEngine.OnStartInference(&FEngine);
    FStartTime = TimerMilliseconds();
    FRulesFired = 0;
    FMaxFacts = FEngine.Facts().Count();
    FSumFacts = 0;
    FMaxActivations = FAgenda->Count();
    FSumActivations = 0;
    FHalt = false;
}

bool TRunControl::FireOne() {
    TActivation* activation = FAgenda->FirstIdle();
    if (!activation) return false;
    if (FEngine.Tracing(cwRule))
        FEngine.PrintOut("", "FIRE " + std::to_string(FRulesFired) + " " + activation->RuleName() +
                                 " " + activation->Token()->FactIdList() + std::string(IELineEnd));
    // The activation stays on the agenda while it fires (its removal is reported when the
    // firing ends), but it belongs to this frame: a nested (run) skips it and a retraction in
    // the action only takes it off the agenda. It is freed here, exactly once, however the
    // firing ends.
    TActivation* outer = FFiring;
    FFiring = activation;
    activation->SetFiring(true);
    const TOnExit end([this, activation, outer] {
        FFiring = outer;
        FAgenda->Extract(activation);
        delete activation;
        if (!outer) FreeRetiredRules();
    });
    try {
        activation->Fire();
    } catch (EAbort&) {
        throw;
    } catch (EException& e) {
        NameFailingRule(e, activation->RuleName(), outer == nullptr);
        throw;
    }
    if (StructureChecks()) FEngine.CheckStructures();
    if (FEngine.Watch().Contains(cwStatistics)) {
        const int32_t facts = FEngine.Facts().Count();
        const int32_t activations = FAgenda->Count();
        FSumFacts += facts;
        FMaxFacts = std::max(FMaxFacts, facts);
        FSumActivations += activations;
        FMaxActivations = std::max(FMaxActivations, activations);
    }
    return true;
}

int32_t TRunControl::Run(int32_t limit) {
    // A run inside a rule action counts its own firings; the enclosing run's count and
    // statistics go on where they were afterwards.
    struct TOuterRun {
        TRunControl& R;
        bool Nested;
        int32_t Fired;
        int64_t Start;
        double SumFacts, SumActivations;
        int32_t MaxFacts, MaxActivations;
        ~TOuterRun() {
            if (!Nested) return;
            R.FRulesFired = Fired;
            R.FStartTime = Start;
            R.FSumFacts = SumFacts;
            R.FSumActivations = SumActivations;
            R.FMaxFacts = MaxFacts;
            R.FMaxActivations = MaxActivations;
        }
    } outer{*this,     FFiring != nullptr, FRulesFired, FStartTime,
            FSumFacts, FSumActivations,    FMaxFacts,   FMaxActivations};
    // Each nested run fires inside the action that called it, one stack frame chain deeper; a
    // rule that keeps calling (run) is stopped here rather than by the stack.
    if (FFiring && FRunDepth >= MaxRunNesting)
        throw EIEException(
            Format("Run called from rule actions nested more than %d deep", MaxRunNesting));
    FEngine.CheckChangeAllowed("Run");
    TRestore<int32_t> depth(FRunDepth, FRunDepth + 1);
    // Through the engine: a host's engine may add to the start and end of a run.
    FEngine.StartInference();
    while (!FHalt && FRulesFired < limit && FAgenda->FirstIdle()) {
        bool fired = false;
        {
            std::lock_guard<std::recursive_mutex> lock(FRunLock);
            fired = FireOne();
        }
        if (fired) ++FRulesFired;
    }
    const int32_t fired = FRulesFired;
    FEngine.EndInference();
    return fired;
}

void TRunControl::EndInference() {
    if (FEngine.Watch().Contains(cwStatistics)) {
        FRunTime = static_cast<double>(TimerMilliseconds() - FStartTime) / 1000.0;
        if (FRulesFired > 0) {
            FSumFacts /= FRulesFired;
            FSumActivations /= FRulesFired;
        }
        if (FRulesFired >= 1 && FEngine.OnPrintOut) {
            const std::string fired = std::to_string(FRulesFired);
            FEngine.PrintOut("", fired + " rules fired.     Run time is " +
                                     Format("%.4f", FRunTime) + " seconds" +
                                     std::string(IELineEnd));
            const std::string rate =
                FRunTime == 0.0 ? fired : Format("%.4f", FRulesFired / FRunTime);
            FEngine.PrintOut("", rate + " rules per second" + std::string(IELineEnd));
            FEngine.PrintOut("", Format("%.4f", FSumFacts) + " mean number of facts (" +
                                     std::to_string(FMaxFacts) + " maximum)" +
                                     std::string(IELineEnd));
            FEngine.PrintOut("", Format("%.4f", FSumActivations) + " mean number of activations (" +
                                     std::to_string(FMaxActivations) + " maximum)" +
                                     std::string(IELineEnd));
        }
    }
    if (FEngine.OnEndInference) FEngine.OnEndInference(&FEngine, FRulesFired);
}

} // namespace ie

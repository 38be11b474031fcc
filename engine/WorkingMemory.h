// The working memory of an inference engine: the fact list with its duplicate index (TFacts),
// the numbering of facts, and the one road by which facts come and go. A fact is numbered,
// stored, traced and sent through the engine's network as a token; assertions and retractions
// requested while a token propagates wait in two queues and are carried out right after it, in
// request order, before the outer call returns.
//
// TInferenceEngine owns one and forwards its assert, retract and modify operations here; the
// fact table (TFacts) reports the changes made from outside the engine here too.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>

#include "engine/EngineTables.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEInterfaces.h"

namespace ie {

class TInferenceEngine;
class TIEContext;

class TWorkingMemory {
public:
    explicit TWorkingMemory(TInferenceEngine& engine);
    ~TWorkingMemory();
    TWorkingMemory(const TWorkingMemory&) = delete;
    TWorkingMemory& operator=(const TWorkingMemory&) = delete;

    TInferenceEngine& Engine() const noexcept { return FEngine; }
    TFacts& Facts() noexcept { return *FFacts; }
    const TFacts& Facts() const noexcept { return *FFacts; }

    // --- Settings of the memory ---
    // With duplication on, equal facts may be asserted again (and the duplicate index is off).
    bool FactDuplication() const noexcept { return FFactDuplication; }
    void SetFactDuplication(bool value);
    TFuzzyCorrelationMethod FuzzyCorrelationMethod() const noexcept { return FCorrelation; }
    void SetFuzzyCorrelationMethod(TFuzzyCorrelationMethod v) noexcept { FCorrelation = v; }
    TFuzzyInferenceMethod FuzzyInferenceMethod() const noexcept { return FInference; }
    void SetFuzzyInferenceMethod(TFuzzyInferenceMethod v) noexcept { FInference = v; }

    // The identifier the next asserted fact gets; a reset or clear numbers from 0 again, in a
    // new round, so that a fact address of an earlier round names no fact of this one.
    int32_t NextFactId() const noexcept { return FNextFactId; }
    void RestartNumbering() noexcept {
        FNextFactId = 0;
        ++FNumberingRound;
    }
    // The round of the numbering, from 1 (see TIEValue::CreateFactAddress).
    uint32_t NumberingRound() const noexcept { return FNumberingRound; }

    // How many tokens are in flight (changes requested meanwhile are queued). A scope that
    // evaluates user code on the network's behalf (a rule being compiled) counts itself in.
    int32_t Propagating() const noexcept { return FPropagating; }
    int32_t& PropagationDepth() noexcept { return FPropagating; }

    // Whether asserting a fact of the template whose slots hold `values` (one per slot, in
    // order) would be refused now as a duplicate, asked before the fact is made: dupRefused,
    // dupNew (with `hash` for NoteNewFact), or dupUnknown when only the fact itself can tell.
    enum TDuplicateAnswer { dupUnknown, dupRefused, dupNew };
    TDuplicateAnswer AskDuplicate(const TFactTemplate& factTemplate,
                                  std::span<const IIEValue* const> values, size_t& hash) const;
    // The fact made of values AskDuplicate answered dupNew for, right after (nothing else run in
    // between): its assertion skips the duplicate lookup.
    void NoteNewFact(const TRefPtr<IFact>& fact, size_t hash) const noexcept;

    // --- Changes ---
    // The identifier, or -1 when refused as a duplicate or queued.
    int32_t Assert(const TRefPtr<IFact>& fact, bool flag);
    // Asserts under the identifier the fact brings; numbering goes on after the highest one.
    int32_t AssertKeepingId(const TRefPtr<IFact>& fact, int32_t id);
    int32_t AssertWithInference(const TRefPtr<IFact>& fact, TFuzzyInferenceMethod method,
                                bool flag);
    void RetractAt(int32_t index);
    // The fact equal to `fact`; its former position, or a negative number when absent.
    int32_t Retract(const IFact* fact);
    // This very fact (by identity, even with duplication on).
    int32_t RetractByID(const IFact* fact);
    int32_t Queue(const TRefPtr<IFact>& fact, bool assert);
    void ProcessPending();
    // The network's clear token and OnClearFacts (the list itself is emptied by TFacts).
    void ClearFacts();
    void ClearQueues() noexcept;
    // Every fact of the template leaves: the queued ones are dropped, the stored ones
    // retracted, the newest first; `before` sees each stored one before it goes.
    void RetractFactsOf(const IFactTemplate* factTemplate,
                        const std::function<void(const TRefPtr<IFact>&)>& before = nullptr);
    // A snapshot of the facts, visited in order.
    void ForEachFact(const std::function<void(const TRefPtr<IFact>&)>& visit) const;
    // Drops the facts and the queues for good (the engine's destruction).
    void Release() noexcept;
    bool Released() const noexcept { return !FFacts; }

    // --- Fuzzy facts ---
    void ScaleByFiringStrength(IFact& fact, float strength);
    void CombineFuzzyFacts(IFact& newFact, const IFact& existingFact, bool useUnion);
    void FuzzyInference(IFact& newFact, const IFact& existingFact);

    // --- Evaluating facts ---
    TRefPtr<IIEValue> EvaluateSlotValue(const IFactSlot& slot, const TRefPtr<IIEValue>& value,
                                        TIEContext* context);
    IFact& EvaluateFact(IFact& fact, TIEContext* context);

private:
    // Retracts a fact that is stored (or queues its retraction).
    void RetractStored(TRefPtr<IFact> fact);

    TInferenceEngine& FEngine;
    std::unique_ptr<TFacts> FFacts;
    std::deque<TRefPtr<IFact>> FPendingAssertions;
    std::deque<TRefPtr<IFact>> FPendingRetractions;
    int32_t FNextFactId = 0;
    uint32_t FNumberingRound = 1;
    int32_t FPropagating = 0;
    bool FFactDuplication = false;
    TFuzzyCorrelationMethod FCorrelation = fcmMinimum;
    TFuzzyInferenceMethod FInference = fimMinMax;
};

} // namespace ie

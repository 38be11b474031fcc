// The working memory of an inference engine: the fact list with its duplicate index (TFacts),
// the numbering of facts, and the one road by which facts come and go. A fact is numbered,
// stored, traced and sent through the engine's network as a token; assertions and retractions
// requested while a token propagates wait in two queues and are carried out right after it, in
// request order, before the outer call returns.
//
// TInferenceEngine owns one and forwards its assert, retract and modify operations here; the
// fact table (TFacts) reports the changes made from outside the engine here too.
//
// The fact list (TFacts) keeps the asserted facts in ascending identifier order beside a
// duplicate index: hash buckets of facts, where a fact counts as present only when a fact of its
// bucket is equal to it (never by hash alone), and a list of the fuzzy facts, which are never
// hashed.
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
class TRunControl;
class TIEContext;

// Working memory.
//
// The facts sit in slots in assertion order; a retracted fact leaves a tombstone that is
// compacted away once tombstones outnumber the live facts, so removal costs O(1) amortized.
// Positions (the index-based operations) count live facts only: a Fenwick tree over the slots
// turns a slot into its position and back in O(log n), and is skipped entirely while there is
// no tombstone. Identifiers are found by binary search while they ascend with the slots, through
// a hash map once they do not.
class TFacts {
public:
    // The working memory asserts and retracts what is added and removed from outside the engine.
    explicit TFacts(TWorkingMemory* memory);
    TFacts(const TFacts&) = delete;
    TFacts& operator=(const TFacts&) = delete;

    TInferenceEngine* Engine() const noexcept { return FEngine; }
    int32_t Count() const noexcept { return FLive; }
    const TRefPtr<IFact>& Item(int32_t index) const;
    // The facts in order (compacts the tombstones first).
    const std::vector<TRefPtr<IFact>>& Items() const;

    // The duplicate index; switching it on builds it from the facts present.
    bool Indexed() const noexcept { return FIndexed; }
    void SetIndexed(bool value);
    // With this flag set, Add keeps the identifier of a fact that has one not yet present.
    bool KeepIdentifiers = false;

    // Position of a fact equal to `fact` (the duplicate test), -1 when absent.
    int32_t IndexOfFact(const IFact* fact) const;
    // A stored fact equal to `fact`, null when none (the duplicate test without counting out a
    // position).
    const IFact* FindEqual(const IFact* fact) const;
    const TFactIndex& DuplicateIndex() const noexcept { return FIndex; }
    // Position of the fact with this identifier, -1 when absent.
    int32_t IndexOfID(int32_t id) const;
    // The fact with this identifier, nullptr when absent (no position is counted out).
    const IFact* FindID(int32_t id) const;
    // Position of this very fact object (by its identifier when it has one), -1 when absent.
    int32_t IndexOf(const IFact* fact) const;

    // Adds a fact from outside the engine (an editor, Assign): it is asserted through the
    // working memory. The assertion's result.
    int32_t Add(const TRefPtr<IFact>& fact);
    // Removes the fact at `index` from outside the engine: the working memory retracts it.
    void Delete(int32_t index);
    // Clears, then adds a copy of every source fact (AddFrom).
    void Assign(const TFacts& source);
    // Adds (asserts through Add, so KeepIdentifiers applies) a copy of every source fact, in
    // order, keeping the facts already here. On another engine each copy takes this engine's
    // template of the same name, which must equal the source's ("Unable to assign slot values,
    // fact templates are different: %s and %s"); an ordered fact's implied template is made
    // here when missing.
    void AddFrom(const TFacts& source);

    // Stores and indexes an asserted fact (the engine's writing path).
    void Append(const TRefPtr<IFact>& fact);
    // Takes the fact at `index` out of the list and the index (the engine's writing path).
    TRefPtr<IFact> Extract(int32_t index);
    // Takes this very fact out (the engine's writing path); false when it is not stored.
    bool Remove(const IFact* fact);
    // Empties list and index; the working memory then sends its clear token (ClearFacts).
    void Clear();
    // Empties list and index only.
    void ClearItems();
    // Verifies the list's counts and identifiers and the duplicate index against the facts
    // (EngineChecks.cpp); raises a logic error naming the first invariant broken.
    void CheckInvariants() const;
    // The facts' texts separated by CR LF; the labelled texts for GetLabelledText.
    std::string GetText() const;
    std::string GetLabelledText() const;

    int32_t HighestID() const noexcept { return FHighestID; }

private:
    static bool IsFuzzy(const IFact* fact);
    // Indexes the fact; the hash it is indexed under (0 for a fuzzy fact, which is only listed).
    size_t IndexFact(const TRefPtr<IFact>& fact);
    void UnindexFact(const IFact* fact, size_t hash);
    // The slot of a position, and the position of a live slot.
    size_t SlotOf(int32_t index) const;
    int32_t PositionOf(size_t slot) const;
    // The slot holding this very fact, or npos.
    size_t SlotOfFact(const IFact* fact) const;
    // The slot filed under the identifier, or npos. The last one found is remembered until
    // the slots or the identifiers move (ForgetLastId).
    size_t SlotOfId(int32_t id) const;
    size_t FindSlotOfId(int32_t id) const;
    void ForgetLastId() const noexcept { FLastKnown = false; }
    // Files the identifiers in the hash table from now on (an identifier arrived out of order).
    void FileIdsInTable() const;
    void RemoveSlot(size_t slot);
    void TreeAdd(size_t slot, int32_t delta);
    void TreeAppend();
    int32_t TreePrefix(size_t count) const;
    void Compact() const;

    TWorkingMemory* FMemory;
    TInferenceEngine* FEngine;
    mutable std::vector<TRefPtr<IFact>> FSlots;
    // Beside each slot: the hash its fact was indexed under (the removal finds the index entry
    // by it instead of hashing every value again).
    mutable std::vector<size_t> FHashes;
    mutable std::vector<int32_t> FTree; // Fenwick tree of live flags, 1-based
    // The identifier each slot was filed under (a tombstone's too), while they ascend with the
    // slots: a slot is found by binary search, 4 bytes per fact. Once a fact comes whose
    // identifier is not above the last one (an identifier kept from elsewhere, a compaction
    // that finds the order changed), the identifiers go to FSlotById until the list is cleared.
    mutable std::vector<int32_t> FIds;
    mutable bool FIdsInTable = false;
    mutable boost::unordered_flat_map<int32_t, uint32_t> FSlotById;
    mutable bool FLastKnown = false;
    mutable int32_t FLastId = 0;
    mutable size_t FLastSlot = 0;
    int32_t FLive = 0;
    bool FIndexed = false;
    int32_t FHighestID = 0;
    TFactIndex FIndex;
    std::vector<IFact*> FFuzzyFacts;
};

class TWorkingMemory {
public:
    explicit TWorkingMemory(TInferenceEngine& engine);
    ~TWorkingMemory();
    TWorkingMemory(const TWorkingMemory&) = delete;
    TWorkingMemory& operator=(const TWorkingMemory&) = delete;

    TInferenceEngine& Engine() const noexcept { return FEngine; }
    // The run control the memory asks for the activation that is firing (a rule's fuzzy
    // conclusion is only as strong as it); the engine sets it once both exist.
    void SetRunControl(const TRunControl& run) noexcept { FRun = &run; }
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
    const TRunControl* FRun = nullptr;
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

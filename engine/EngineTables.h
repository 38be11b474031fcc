// The construct tables of the inference engine: fact templates, rules, defined types, functions,
// named streams, engine and global variables, fact sets and working memory (the fact list).
//
// The named tables are the chained hash tables of the container library keyed by construct name
// (case-sensitive), so their enumeration order (which shows in the engine's text) is the hash
// order. Every Put applies the engine's duplicate-construct policy: the very same object again
// changes nothing; dcOverwrite replaces, dcIgnore keeps the first, dcError raises the table's
// message and leaves the table unchanged.
//
// Working memory (TFacts) keeps the asserted facts in ascending identifier order beside a
// duplicate index: hash buckets of facts, where a fact counts as present only when a fact of its
// bucket is equal to it (never by hash alone), and a list of the fuzzy facts, which are never
// hashed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "containers/GHashTable.h"
#include "containers/GStreams.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEInterfaces.h"
#include "engine/model/IEValue.h"

namespace ie {

class TInferenceEngine;
class TWorkingMemory;
class TRule;
class TFactSet;

// The common part of the named tables: the engine and the duplicate policy.
class TEngineTable {
public:
    explicit TEngineTable(TInferenceEngine* engine) : FEngine(engine) {}
    TInferenceEngine* Engine() const noexcept { return FEngine; }

protected:
    // What Put does with a name that is taken by another object: true to go on and replace,
    // false to drop the new one; raises the table's message under dcError.
    bool AllowReplace(TIEMessageId errorMessage, std::string_view name) const;
    // Refuses the change while the engine evaluates user code in the middle of its structures.
    void CheckChangeAllowed(std::string_view what) const;

    TInferenceEngine* FEngine;

    ~TEngineTable() = default;
};

class TFactTemplates : public TIStringHashTable, public TEngineTable {
public:
    explicit TFactTemplates(TInferenceEngine* engine);

    TRefPtr<IFactTemplate> Find(std::string_view name) const { return FindAs<IFactTemplate>(name); }
    // Adds under the policy ("Fact Template Name already exists: "%s"").
    void PutTemplate(std::string_view name, const TRefPtr<IFactTemplate>& item);
    void ReplaceTemplate(const TRefPtr<IFactTemplate>& oldTemplate,
                         const TRefPtr<IFactTemplate>& newTemplate);
    void RemoveTemplate(std::string_view name);
    void Clear() override;
    // Every template's deftemplate text followed by CR LF: those without a parent first, in
    // table order, then the others with every parent before its children ("Fact templates
    // inheritance structure corrupted" for a cycle).
    std::string GetText() const;
    // The templates in table order, except that a parent always comes before its children.
    std::vector<IFactTemplate*> ParentsFirstOrder() const;
    // Takes the source's templates: those it lacks go, those that differ are replaced by
    // copies, the missing ones are copied in.
    void Assign(const TFactTemplates& source);
};

class TRules : public TGStringHashtable, public TEngineTable {
public:
    explicit TRules(TInferenceEngine* engine);
    ~TRules() override;

    TRule* Find(std::string_view name) const { return FindAs<TRule>(name); }
    // Adds under the policy ("Duplicate Rules defined with same name: "%s""): compiles the rule,
    // prints its compilation trace when watched, raises OnAddRule. False when ignored.
    bool PutRule(std::string_view name, TRule* rule);
    // Removes the entry and hands the rule to the engine's RemoveRule.
    void RemoveRule(std::string_view name);
    // Frees the rules the engine owns, restarts the rule numbering, raises OnClearRules.
    void Clear() override;
    // Resets every rule (the engine's reset).
    void ResetAll();
    // Each rule's defrule text followed by CR LF, sorted as strings while SortedText is set.
    std::string GetText() const;
    // A source rule of this engine is added as it is; any other is re-created from its text.
    void Assign(const TRules& source);
    bool SortedText = true;
};

class TIEDefinedTypes : public TIStringHashTable, public TEngineTable {
public:
    explicit TIEDefinedTypes(TInferenceEngine* engine);

    TRefPtr<IIEDefinedType> Find(std::string_view name) const {
        return FindAs<IIEDefinedType>(name);
    }
    // Adds under the policy ("Defined Type Name already exists: "%s""); a new fuzzy type gets
    // the engine's equality threshold and, with FuzzyAutoTerms, the terms low, medium and high.
    void PutType(std::string_view name, const TRefPtr<IIEDefinedType>& type);
    void ReplaceType(const TRefPtr<IIEDefinedType>& oldType, const TRefPtr<IIEDefinedType>& type);
    void RemoveType(std::string_view name);
    // Clears the fact templates first (they refer to types), then the types.
    void Clear() override;
    // The deftype texts, each followed by CR LF, every ancestor before its descendants
    // ("Defined types inheritance structure corrupted" for a cycle).
    std::string GetText() const;
    // The types in table order, except that an ancestor always comes before its descendants.
    std::vector<IIEDefinedType*> AncestorsFirstOrder() const;
    // Takes the source's types in place: a type the source lacks is removed (with the
    // templates that use it), one whose text differs is replaced by a copy made for this engine
    // (its templates, facts and rules rebuilt on the copy), a missing one is added; unchanged
    // types and everything standing on them stay as they are.
    void Assign(const TIEDefinedTypes& source);
};

class TUserFunctions : public TIStringHashTable, public TEngineTable {
public:
    explicit TUserFunctions(TInferenceEngine* engine);
    ~TUserFunctions() override;

    TRefPtr<IUserFunction> Find(std::string_view name) const { return FindAs<IUserFunction>(name); }
    // The key must be the function's name ("Function names do not match: %s and %s"); then the
    // policy ("Function Name already exists: "%s"").
    void PutFunction(std::string_view name, const TRefPtr<IUserFunction>& function);
    // Removes the entry and unregisters the engine from the function; null when absent.
    TRefPtr<IUserFunction> RemoveFunction(std::string_view name);
    // Removes this engine from every function's reasoners; no event.
    void Clear() override;
    int32_t DeffunctionCount() const noexcept { return FDeffunctionCount; }
    // Removes every deffunction (the engine's clear); the package functions stay.
    void RemoveDeffunctions();
    // The text of every deffunction followed by CR LF; package functions are not written.
    std::string GetText() const;

private:
    int32_t FDeffunctionCount = 0;
};

// Named input/output streams, owned.
class TIOStreams : public TGStringHashtable, public TEngineTable {
public:
    explicit TIOStreams(TInferenceEngine* engine);
    ~TIOStreams() override;

    TGTextStream* Find(std::string_view name) const { return FindAs<TGTextStream>(name); }
    // Takes ownership ("Duplicate streams defined with same name: "%s""); false when ignored
    // (the stream is then freed).
    bool PutStream(std::string_view name, std::unique_ptr<TGTextStream> stream);
    // "Invalid stream name: %s" when absent.
    void CloseStream(std::string_view name);
    void Clear() override;
};

class TEngineVariables : public TValueHashTable, public TEngineTable {
public:
    explicit TEngineVariables(TInferenceEngine* engine);
    // Each variable's "?name = value" text followed by CR LF.
    std::string GetText() const;
};

// Global variables: their defined values; the current values live in the root context.
class TGlobalVariables : public TEngineVariables {
public:
    using TEngineVariables::TEngineVariables;
    // Stores the defined value and binds the variable in the root context (a call is evaluated
    // in a fresh child of the root context first; when that fails nothing is stored).
    void PutGlobal(std::string_view name, const TRefPtr<IIEValue>& value);
    // Binds every global again to its defined value.
    void BindAll();
    // Empties the table and clears every binding of the root context.
    void Clear() override;
    // The source's globals, written as defglobal text and executed in this engine.
    void Assign(const TGlobalVariables& source);

private:
    void Bind(std::string_view name, const TRefPtr<IIEValue>& value);
    // The value a global is bound to: a call's result, anything else as it stands.
    TRefPtr<IIEValue> BoundValue(const TRefPtr<IIEValue>& value) const;
};

// The fact sets registered with the engine (not owned), in registration order.
class TFactSets {
public:
    explicit TFactSets(TInferenceEngine* engine) : FEngine(engine) {}
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    TFactSet* Item(int32_t index) const { return FItems.at(static_cast<size_t>(index)); }
    void Add(TFactSet* factSet);
    void Remove(TFactSet* factSet);
    int32_t IndexOf(const TFactSet* factSet) const;
    // Every fact set leaves the engine (its Engine becomes none).
    void Clear();
    // Every fact set asserts its facts (the engine's reset), walking the list as it was before.
    void AssertAll();
    const std::vector<TFactSet*>& Items() const noexcept { return FItems; }
    // The deffacts texts of the fact sets.
    std::string GetText() const;
    // New fact sets owned by the engine, copies of the source's.
    void Assign(const TFactSets& source);

private:
    TInferenceEngine* FEngine;
    std::vector<TFactSet*> FItems;
};

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

} // namespace ie

// The construct tables of the inference engine: fact templates, rules, defined types, functions,
// named streams, engine and global variables and fact sets (the fact list, TFacts, is the working
// memory's).
//
// The named tables are the chained hash tables of the container library keyed by construct name
// (case-sensitive), so their enumeration order (which shows in the engine's text) is the hash
// order. Every Put applies the engine's duplicate-construct policy: the very same object again
// changes nothing; dcOverwrite replaces, dcIgnore keeps the first, dcError raises the table's
// message and leaves the table unchanged.
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

} // namespace ie

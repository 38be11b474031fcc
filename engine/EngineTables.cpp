// The engine's construct tables: the named tables under the duplicate-construct policy and the
// fact sets.
#include "engine/EngineTables.h"

#include <algorithm>
#include <typeinfo>
#include <unordered_set>

#include "engine/InferenceEngine.h"
#include "engine/WorkingMemory.h"
#include "engine/match/IERule.h"
#include "engine/model/FlatTables.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEPackages.h"

namespace ie {

bool TEngineTable::AllowReplace(TIEMessageId errorMessage, std::string_view name) const {
    switch (FEngine ? FEngine->DuplicateConstructs() : dcOverwrite) {
    case dcIgnore:
        return false;
    case dcError:
        RaiseIE(errorMessage, name);
    default:
        return true;
    }
}

void TEngineTable::CheckChangeAllowed(std::string_view what) const {
    if (FEngine) FEngine->CheckChangeAllowed(what);
}

// ---------------------------------------------------------------------------------------------
// TFactTemplates

TFactTemplates::TFactTemplates(TInferenceEngine* engine)
    : TIStringHashTable(101, 0.75f), TEngineTable(engine) {}

namespace {
// A template leaves the table, or comes (back) into it: see TFactTemplate::Withdrawn.
void MarkWithdrawn(IFactTemplate* factTemplate, bool withdrawn) {
    if (auto* t = dynamic_cast<TFactTemplate*>(factTemplate)) t->SetWithdrawn(withdrawn);
}
} // namespace

void TFactTemplates::PutTemplate(std::string_view name, const TRefPtr<IFactTemplate>& item) {
    TRefPtr<IFactTemplate> old = Find(name);
    if (old == item && old) return;
    // An ordered template read back from text (as the engine's own text writes them) is the
    // one already here: keeping it keeps the facts and patterns that stand on it, among them
    // the initial fact's.
    if (old && item && old->GetImplied() && item->GetImplied() && old->Equals(item.get())) return;
    if (old) {
        if (!AllowReplace(imFactTemplateExists, name)) return;
        // A definition written word for word as the one here changes nothing: the facts,
        // rules and actions that stand on the template keep it. (Told by the written text:
        // the writer writes all of a template, so that it reads back.)
        if (item && FEngine &&
            FEngine->FormatFactTemplate(*old) == FEngine->FormatFactTemplate(*item))
            return;
        CheckChangeAllowed("Redefining a fact template");
        if (FEngine) FEngine->CheckTemplateReplaceable(old.get());
        ReplaceTemplate(old, item);
        return;
    }
    PutEntry(name, item);
    MarkWithdrawn(item.get(), false);
    if (FEngine && FEngine->OnNewFactTemplate) FEngine->OnNewFactTemplate(FEngine, item.get());
}

void TFactTemplates::ReplaceTemplate(const TRefPtr<IFactTemplate>& oldTemplate,
                                     const TRefPtr<IFactTemplate>& newTemplate) {
    if (FEngine && FEngine->OnRemoveFactTemplate)
        FEngine->OnRemoveFactTemplate(FEngine, oldTemplate.get());
    Remove(oldTemplate->GetName());
    MarkWithdrawn(oldTemplate.get(), true);
    PutEntry(newTemplate->GetName(), newTemplate);
    MarkWithdrawn(newTemplate.get(), false);
    // The facts and rules of the old template are made again against the new one.
    if (FEngine) FEngine->RebuildTemplateDependants(oldTemplate.get(), newTemplate.get());
}

void TFactTemplates::RemoveTemplate(std::string_view name) {
    TRefPtr<IFactTemplate> t = Find(name);
    if (!t) return;
    CheckChangeAllowed("Removing a fact template");
    if (FEngine) FEngine->CheckTemplateRemovable(t.get());
    if (FEngine && FEngine->OnRemoveFactTemplate) FEngine->OnRemoveFactTemplate(FEngine, t.get());
    if (FEngine) FEngine->RemoveTemplateDependants(t.get());
    if (ContainsKey(name)) {
        Remove(name);
        MarkWithdrawn(t.get(), true);
    }
}

void TFactTemplates::Clear() {
    if (FEngine) FEngine->ClearQueuesNetworkFactsRules();
    for (const auto& entry : *this)
        MarkWithdrawn(dynamic_cast<IFactTemplate*>(entry.Intf().get()), true);
    TIStringHashTable::Clear();
    if (FEngine && FEngine->OnClearFactTemplates) FEngine->OnClearFactTemplates(FEngine);
}

namespace {

// The items in an order where each comes after the one `parentOf` names (when that one is in
// the list); raises `corrupted` for a cycle.
template <class T, class P>
std::vector<T*> ParentsFirst(const std::vector<T*>& items, P parentOf, TIEMessageId corrupted) {
    std::vector<T*> order;
    std::vector<bool> done(items.size(), false);
    auto indexOf = [&](const T* item) -> ptrdiff_t {
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i] == item) return static_cast<ptrdiff_t>(i);
        return -1;
    };
    // Those whose parent is not listed come first, in table order.
    for (size_t i = 0; i < items.size(); ++i)
        if (indexOf(parentOf(items[i])) < 0) {
            order.push_back(items[i]);
            done[i] = true;
        }
    while (order.size() < items.size()) {
        bool progress = false;
        for (size_t i = 0; i < items.size(); ++i) {
            if (done[i]) continue;
            const ptrdiff_t parent = indexOf(parentOf(items[i]));
            if (parent >= 0 && !done[static_cast<size_t>(parent)]) continue;
            order.push_back(items[i]);
            done[i] = true;
            progress = true;
        }
        if (!progress) RaiseIE(corrupted);
    }
    return order;
}

// The entries of a table sorted by name, then parents first.
template <class T, class Table, class P>
std::vector<T*> ByNameParentsFirst(const Table& table, P parentOf, TIEMessageId corrupted) {
    std::vector<T*> all;
    for (const auto& entry : table)
        if (auto* t = dynamic_cast<T*>(entry.Intf().get())) all.push_back(t);
    std::sort(all.begin(), all.end(),
              [](const T* a, const T* b) { return a->GetName() < b->GetName(); });
    return ParentsFirst(all, parentOf, corrupted);
}

} // namespace

std::vector<IFactTemplate*> TFactTemplates::ParentsFirstOrder() const {
    std::vector<IFactTemplate*> all;
    for (const auto& entry : *this)
        if (auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get())) all.push_back(t);
    return ParentsFirst(
        all, [](const IFactTemplate* t) { return t->GetParent().get(); },
        imFactTemplateInheritanceCorrupted);
}

std::string TFactTemplates::GetText() const {
    // By name, parents first: the order of the table's buckets depends on the order in which
    // the templates came, and the text must read back to the same text.
    std::string text;
    for (IFactTemplate* t : ByNameParentsFirst<IFactTemplate>(
             *this, [](const IFactTemplate* t) { return t->GetParent().get(); },
             imFactTemplateInheritanceCorrupted))
        text += (FEngine ? FEngine->FormatFactTemplate(*t) : t->GetText()) + std::string(IELineEnd);
    return text;
}

void TFactTemplates::Assign(const TFactTemplates& source) {
    if (&source == this || !FEngine) return;
    // A copy is made from the source's text in this engine, so that its parent and its
    // defined types are this engine's own.
    auto copyOf = [&](const IFactTemplate& t) -> TRefPtr<IFactTemplate> {
        if (!source.Engine()) return t.CloneFor(FEngine);
        return FEngine->ParseFactTemplate(source.Engine()->FormatFactTemplate(t));
    };
    std::vector<std::string> gone;
    std::vector<std::pair<TRefPtr<IFactTemplate>, TRefPtr<IFactTemplate>>> changed;
    for (const auto& entry : *this) {
        TRefPtr<IFactTemplate> mine = Find(entry.Key());
        TRefPtr<IFactTemplate> theirs = source.Find(entry.Key());
        if (!theirs)
            gone.push_back(entry.Key());
        else if (!mine->Equals(theirs.get()))
            changed.emplace_back(mine, theirs);
    }
    for (const auto& name : gone)
        RemoveTemplate(name);
    for (const auto& [mine, theirs] : changed)
        ReplaceTemplate(mine, copyOf(*theirs));
    std::vector<IFactTemplate*> all;
    for (const auto& entry : source)
        if (auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get())) all.push_back(t);
    const auto order = ParentsFirst(
        all, [](const IFactTemplate* t) { return t->GetParent().get(); },
        imFactTemplateInheritanceCorrupted);
    for (IFactTemplate* t : order)
        if (!ContainsKey(t->GetName())) PutTemplate(t->GetName(), copyOf(*t));
}

// ---------------------------------------------------------------------------------------------
// TRules

TRules::TRules(TInferenceEngine* engine) : TGStringHashtable(101, 0.75f), TEngineTable(engine) {}

TRules::~TRules() {
    TGStringHashtable::Clear();
}

bool TRules::PutRule(std::string_view name, TRule* rule) {
    TRule* old = Find(name);
    if (old == rule && old) return true;
    CheckChangeAllowed("Defining a rule");
    if (old) {
        if (!AllowReplace(imDuplicateRules, name)) return false;
        RemoveRule(name);
    }
    if (FEngine) FEngine->CompileRule(rule);
    TGStringHashtable::Put(name, rule);
    if (FEngine) {
        if (FEngine->Tracing(cwCompilation))
            FEngine->PrintOut("", rule->CompilationTrace + std::string(IELineEnd));
        if (FEngine->OnAddRule) FEngine->OnAddRule(FEngine, rule);
    }
    return true;
}

void TRules::RemoveRule(std::string_view name) {
    TRule* rule = Find(name);
    if (!rule) return;
    CheckChangeAllowed("Removing a rule");
    TGStringHashtable::Remove(name);
    if (FEngine) FEngine->RemoveRule(rule);
}

void TRules::ResetAll() {
    for (const auto& entry : *this)
        static_cast<TRule*>(entry.Value())->Reset();
}

void TRules::Clear() {
    std::vector<TRule*> owned;
    for (const auto& entry : *this) {
        auto* rule = static_cast<TRule*>(entry.Value());
        if (FEngine && rule->Owner() == FEngine && !rule->IsDestroying()) owned.push_back(rule);
    }
    TGStringHashtable::Clear();
    for (TRule* rule : owned) {
        if (FEngine && FEngine->Network()) FEngine->Network()->RemoveRule(rule);
        rule->Free();
    }
    if (FEngine) {
        FEngine->ResetRuleNumbering();
        if (FEngine->OnClearRules) FEngine->OnClearRules(FEngine);
    }
}

std::string TRules::GetText() const {
    std::vector<std::string> texts;
    for (const auto& entry : *this)
        texts.push_back(FEngine ? FEngine->FormatRule(*static_cast<TRule*>(entry.Value()))
                                : std::string());
    if (SortedText) std::sort(texts.begin(), texts.end());
    std::string text;
    for (const auto& t : texts)
        text += t + std::string(IELineEnd);
    return text;
}

void TRules::Assign(const TRules& source) {
    if (&source == this) return;
    Clear();
    std::vector<TRule*> rules;
    for (const auto& entry : source)
        rules.push_back(static_cast<TRule*>(entry.Value()));
    for (TRule* rule : rules) {
        if (FEngine && rule->Owner() == FEngine) {
            PutRule(rule->RuleName(), rule);
            continue;
        }
        if (!FEngine || !source.Engine()) continue;
        TRule* copy = FEngine->ParseRule(source.Engine()->FormatRule(*rule));
        if (copy && !PutRule(copy->RuleName(), copy)) copy->Free();
    }
}

// ---------------------------------------------------------------------------------------------
// TIEDefinedTypes

TIEDefinedTypes::TIEDefinedTypes(TInferenceEngine* engine)
    : TIStringHashTable(101, 0.75f), TEngineTable(engine) {}

void TIEDefinedTypes::PutType(std::string_view name, const TRefPtr<IIEDefinedType>& type) {
    if (FEngine && type->GetOwner() != FEngine) type->SetOwner(FEngine);
    TRefPtr<IIEDefinedType> old = Find(name);
    if (old == type && old) return;
    if (old) {
        if (!AllowReplace(imDefinedTypeExists, name)) return;
        CheckChangeAllowed("Redefining a type");
        if (FEngine) FEngine->CheckTypeChange(old.get(), true);
        ReplaceType(old, type);
        return;
    }
    if (TRefPtr<IFuzzyVariable> variable = type->GetFuzzyVariable(); variable && FEngine) {
        variable->SetThreshold(FEngine->FuzzyEqualsThreshold());
        if (FEngine->FuzzyAutoTerms()) {
            const double lo = variable->GetMinimum();
            const double hi = variable->GetMaximum();
            TRefPtr<IFuzzySet> term;
            if (!variable->Find("low", term)) {
                term = variable->CreateSet("low");
                term->Add(lo, 1.0);
                term->Add(hi, 0.0);
            }
            if (!variable->Find("medium", term)) {
                term = variable->CreateSet("medium");
                term->Triangle(lo, (hi - lo) / 2, hi);
            }
            if (!variable->Find("high", term)) {
                term = variable->CreateSet("high");
                term->Add(lo, 0.0);
                term->Add(hi, 1.0);
            }
        }
    }
    PutEntry(name, type);
    if (FEngine && FEngine->OnAddDefinedType) FEngine->OnAddDefinedType(FEngine, type);
}

void TIEDefinedTypes::ReplaceType(const TRefPtr<IIEDefinedType>& oldType,
                                  const TRefPtr<IIEDefinedType>& type) {
    if (FEngine && FEngine->OnRemoveDefinedType) FEngine->OnRemoveDefinedType(FEngine, oldType);
    Remove(oldType->GetName());
    PutEntry(type->GetName(), type);
    if (FEngine) FEngine->RebuildTypeDependants(oldType.get(), type.get());
    if (FEngine) type->SetOwner(FEngine);
}

void TIEDefinedTypes::RemoveType(std::string_view name) {
    TRefPtr<IIEDefinedType> type = Find(name);
    if (!type) return;
    CheckChangeAllowed("Removing a type");
    if (FEngine) FEngine->CheckTypeChange(type.get(), false);
    type->SetOwner(nullptr);
    if (FEngine && FEngine->OnRemoveDefinedType) FEngine->OnRemoveDefinedType(FEngine, type);
    if (FEngine) FEngine->RemoveTemplatesUsingType(type.get());
    if (ContainsKey(name)) Remove(name);
}

void TIEDefinedTypes::Clear() {
    if (FEngine) FEngine->FactTemplates().Clear();
    for (const auto& entry : *this)
        if (auto* type = dynamic_cast<IIEDefinedType*>(entry.Intf().get()))
            type->SetAncestor(nullptr);
    TIStringHashTable::Clear();
    if (FEngine && FEngine->OnClearDefinedTypes) FEngine->OnClearDefinedTypes(FEngine);
}

std::vector<IIEDefinedType*> TIEDefinedTypes::AncestorsFirstOrder() const {
    std::vector<IIEDefinedType*> all;
    for (const auto& entry : *this)
        if (auto* t = dynamic_cast<IIEDefinedType*>(entry.Intf().get())) all.push_back(t);
    return ParentsFirst(
        all, [](const IIEDefinedType* t) { return t->GetAncestor().get(); },
        imDefinedTypeInheritanceCorrupted);
}

std::string TIEDefinedTypes::GetText() const {
    // By name, ancestors first, for the reason templates are.
    std::string text;
    for (IIEDefinedType* t : ByNameParentsFirst<IIEDefinedType>(
             *this, [](const IIEDefinedType* t) { return t->GetAncestor().get(); },
             imDefinedTypeInheritanceCorrupted))
        text += (FEngine ? FEngine->DefinedTypeText(*t) : std::string()) + std::string(IELineEnd);
    return text;
}

void TIEDefinedTypes::Assign(const TIEDefinedTypes& source) {
    if (&source == this || !FEngine || !source.Engine()) return;
    // Type by type rather than by a clear: clearing the types would clear the fact templates
    // and with them every fact and rule, although the types they stand on come back at once.
    std::vector<std::string> gone;
    for (const auto& entry : *this)
        if (!source.ContainsKey(entry.Key())) gone.push_back(entry.Key());
    for (const auto& name : gone)
        RemoveType(name);
    // Ancestors first, so that each copy finds its ancestor here already (and a replaced
    // ancestor's new object).
    std::unordered_set<std::string> replaced;
    for (IIEDefinedType* theirs : source.AncestorsFirstOrder()) {
        const std::string text = source.Engine()->DefinedTypeText(*theirs);
        TRefPtr<IIEDefinedType> mine = Find(theirs->GetName());
        // An unchanged type stays the very object its templates hold, unless its ancestor was
        // replaced under it.
        TRefPtr<IIEDefinedType> ancestor = mine ? mine->GetAncestor() : nullptr;
        if (mine && FEngine->DefinedTypeText(*mine) == text &&
            !(ancestor && replaced.contains(ancestor->GetName())))
            continue;
        TRefPtr<IIEDefinedType> copy = FEngine->ParseDefinedType(text);
        if (!copy) continue;
        if (mine) {
            replaced.insert(copy->GetName());
            ReplaceType(mine, copy);
        } else {
            PutType(copy->GetName(), copy);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TUserFunctions

TUserFunctions::TUserFunctions(TInferenceEngine* engine)
    : TIStringHashTable(403, 0.75f), TEngineTable(engine) {}

TUserFunctions::~TUserFunctions() {
    // The engine is going: its functions forget it without calling back.
    for (const auto& entry : *this)
        if (auto* f = dynamic_cast<TIEUserFunction*>(entry.Intf().get()))
            f->DetachReasoner(FEngine);
}

void TUserFunctions::PutFunction(std::string_view name, const TRefPtr<IUserFunction>& function) {
    if (!function) return;
    if (name != function->GetFunctionName())
        RaiseIE(imFunctionNamesDoNotMatch, name, function->GetFunctionName());
    TRefPtr<IUserFunction> old = Find(name);
    if (old == function && old) return;
    if (old) {
        if (!AllowReplace(imFunctionExists, name)) return;
        RemoveFunction(name);
    }
    PutEntry(name, function);
    if (dynamic_cast<TInterpretedFunction*>(function.get())) ++FDeffunctionCount;
    if (FEngine) {
        // Registering with the function calls back AddUserFunction, which finds it stored.
        function->AddReasoner(FEngine);
        if (FEngine->OnAddUserFunction) FEngine->OnAddUserFunction(FEngine, function.get());
    }
}

TRefPtr<IUserFunction> TUserFunctions::RemoveFunction(std::string_view name) {
    TRefPtr<IUserFunction> function = Find(name);
    if (!function) return nullptr;
    Remove(name);
    if (dynamic_cast<TInterpretedFunction*>(function.get())) --FDeffunctionCount;
    if (FEngine) {
        function->RemoveReasoner(FEngine);
        if (FEngine->OnRemoveUserFunction) FEngine->OnRemoveUserFunction(FEngine, function.get());
    }
    return function;
}

void TUserFunctions::RemoveDeffunctions() {
    if (FDeffunctionCount == 0) return;
    std::vector<std::string> names;
    for (const auto& entry : *this)
        if (dynamic_cast<TInterpretedFunction*>(entry.Intf().get())) names.push_back(entry.Key());
    for (const auto& name : names)
        RemoveFunction(name);
}

void TUserFunctions::Clear() {
    std::vector<TRefPtr<IUserFunction>> all;
    for (const auto& entry : *this)
        if (auto* f = dynamic_cast<IUserFunction*>(entry.Intf().get())) all.emplace_back(f);
    TIStringHashTable::Clear();
    FDeffunctionCount = 0;
    for (const auto& f : all)
        f->RemoveReasoner(FEngine);
}

std::string TUserFunctions::GetText() const {
    std::string text;
    if (!FEngine) return text;
    for (const auto& entry : *this)
        if (auto* d = dynamic_cast<TInterpretedFunction*>(entry.Intf().get()))
            text += FEngine->FormatDeffunction(*d) + std::string(IELineEnd);
    return text;
}

// ---------------------------------------------------------------------------------------------
// TIOStreams

TIOStreams::TIOStreams(TInferenceEngine* engine)
    : TGStringHashtable(11, 0.75f), TEngineTable(engine) {}

TIOStreams::~TIOStreams() {
    try {
        Clear();
    } catch (...) {
        // Destruction cannot report a failed write; close and Clear do.
    }
}

bool TIOStreams::PutStream(std::string_view name, std::unique_ptr<TGTextStream> stream) {
    if (ContainsKey(name)) {
        if (!AllowReplace(imDuplicateStreams, name)) return false;
        CloseStream(name);
    }
    TGStringHashtable::Put(name, stream.get());
    (void)stream.release();
    return true;
}

void TIOStreams::CloseStream(std::string_view name) {
    if (!ContainsKey(name)) RaiseIE(imInvalidStreamName, name);
    std::unique_ptr<TGTextStream> stream(static_cast<TGTextStream*>(Remove(name)));
    // Output still buffered is written now, so that a failure is reported, not lost.
    stream->CloseStream();
}

void TIOStreams::Clear() {
    std::vector<std::unique_ptr<TGTextStream>> all;
    for (const auto& entry : *this)
        all.emplace_back(static_cast<TGTextStream*>(entry.Value()));
    TGStringHashtable::Clear();
    // Every stream is closed and freed; the first failure is reported afterwards.
    std::exception_ptr failure;
    for (auto& s : all) {
        try {
            s->CloseStream();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    all.clear();
    if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------------------------
// Variables

TEngineVariables::TEngineVariables(TInferenceEngine* engine)
    : TValueHashTable(101, 0.75f), TEngineTable(engine) {}

std::string TEngineVariables::GetText() const {
    std::string text;
    for (const auto& entry : *this) {
        auto* value = dynamic_cast<IIEValue*>(entry.Intf().get());
        text += "?" + entry.Key() + " = " + (value ? value->GetText() : std::string());
        text += IELineEnd;
    }
    return text;
}

TRefPtr<IIEValue> TGlobalVariables::BoundValue(const TRefPtr<IIEValue>& value) const {
    if (!value || value->GetDType() != dtFunCall) return value;
    std::unique_ptr<TIEContext> child = FEngine->RootContext()->CreateChild();
    return value->Evaluate(child.get());
}

void TGlobalVariables::Bind(std::string_view name, const TRefPtr<IIEValue>& value) {
    if (!FEngine) return;
    FEngine->RootContext()->SetGlobalBinding(name, BoundValue(value));
}

void TGlobalVariables::PutGlobal(std::string_view name, const TRefPtr<IIEValue>& value) {
    CheckChangeAllowed("Defining a global variable");
    // The value is worked out before the global is stored: one whose value fails is refused
    // whole, so that no later reset or saved text meets it again.
    TRefPtr<IIEValue> bound = FEngine ? BoundValue(value) : value;
    TRefPtr<IIEValue> old;
    Put(name, value, old);
    if (FEngine) FEngine->RootContext()->SetGlobalBinding(name, bound);
}

void TGlobalVariables::BindAll() {
    for (const auto& entry : *this)
        Bind(entry.Key(), TRefPtr<IIEValue>(dynamic_cast<IIEValue*>(entry.Intf().get())));
}

void TGlobalVariables::Clear() {
    TValueHashTable::Clear();
    if (FEngine && FEngine->RootContext()) FEngine->RootContext()->Bindings().Clear();
}

void TGlobalVariables::Assign(const TGlobalVariables& source) {
    if (&source == this) return;
    Clear();
    if (source.Count() == 0 || !FEngine || !source.Engine()) return;
    FEngine->ExecuteCommand(source.Engine()->Parser()->FormatGlobals(source), true);
}

// ---------------------------------------------------------------------------------------------
// TFactSets

namespace {
// The set leaves the engine; one the engine made (from a deffacts) has no other owner and is
// freed with it.
void ReleaseFactSet(TFactSet* set, TInferenceEngine* engine) {
    set->SetEngine(nullptr);
    if (engine && set->Owner() == engine && !set->IsDestroying()) set->Free();
}
} // namespace

void TFactSets::Add(TFactSet* factSet) {
    if (!factSet || IndexOf(factSet) >= 0) return;
    // One fact set per name: another set of the same name leaves the engine first, and one the
    // engine made (from a deffacts) has no other owner and goes with it.
    for (TFactSet* other : std::vector<TFactSet*>(FItems))
        if (other->FactSetName() == factSet->FactSetName()) {
            if (FEngine) FEngine->CheckChangeAllowed("Redefining a fact set");
            if (other->Engine() == FEngine)
                ReleaseFactSet(other, FEngine);
            else
                Remove(other);
        }
    FItems.push_back(factSet);
}

void TFactSets::AssertAll() {
    for (TFactSet* factSet : std::vector<TFactSet*>(FItems))
        factSet->AssertFacts();
}

void TFactSets::Clear() {
    std::vector<TFactSet*> all;
    all.swap(FItems);
    // Sets the engine made are freed; a set another component owns only leaves the engine.
    for (TFactSet* set : all)
        if (set->Engine() == FEngine) ReleaseFactSet(set, FEngine);
}

std::string TFactSets::GetText() const {
    std::string text;
    for (TFactSet* set : FItems)
        text += (FEngine ? FEngine->FormatFactSet(*set) : set->GetText()) + std::string(IELineEnd);
    return text;
}

void TFactSets::Assign(const TFactSets& source) {
    if (&source == this || !FEngine) return;
    Clear();
    for (TFactSet* set : std::vector<TFactSet*>(source.FItems)) {
        auto* copy = new TFactSet(FEngine, set->FactSetName());
        copy->SetComment(set->Comment());
        copy->SetFacts(set->Facts());
        Add(copy);
    }
}

void TFactSets::Remove(TFactSet* factSet) {
    std::erase(FItems, factSet);
}

int32_t TFactSets::IndexOf(const TFactSet* factSet) const {
    auto it = std::find(FItems.begin(), FItems.end(), factSet);
    return it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
}

} // namespace ie

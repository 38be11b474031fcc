#include "engine/EngineTables.h"

#include <algorithm>

#include "engine/IEContext.h"
#include "engine/IEPackages.h"
#include "engine/IERule.h"
#include "engine/InferenceEngine.h"

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

// ---------------------------------------------------------------------------------------------
// TFactTemplates

TFactTemplates::TFactTemplates(TInferenceEngine* engine)
    : TIStringHashTable(101, 0.75f), TEngineTable(engine) {}

void TFactTemplates::PutTemplate(std::string_view name, const TRefPtr<IFactTemplate>& item) {
    TRefPtr<IFactTemplate> old = Find(name);
    if (old == item && old) return;
    if (old) {
        if (!AllowReplace(imFactTemplateExists, name)) return;
        ReplaceTemplate(old, item);
        return;
    }
    PutEntry(name, item);
    if (FEngine && FEngine->OnNewFactTemplate) FEngine->OnNewFactTemplate(FEngine, item.get());
}

void TFactTemplates::ReplaceTemplate(const TRefPtr<IFactTemplate>& oldTemplate,
                                     const TRefPtr<IFactTemplate>& newTemplate) {
    if (FEngine && FEngine->OnRemoveFactTemplate)
        FEngine->OnRemoveFactTemplate(FEngine, oldTemplate.get());
    Remove(oldTemplate->GetName());
    PutEntry(newTemplate->GetName(), newTemplate);
    // The facts and rules of the old template no longer fit the new one.
    if (FEngine) FEngine->RemoveTemplateDependants(oldTemplate.get());
}

void TFactTemplates::RemoveTemplate(std::string_view name) {
    TRefPtr<IFactTemplate> t = Find(name);
    if (!t) return;
    if (FEngine && FEngine->OnRemoveFactTemplate) FEngine->OnRemoveFactTemplate(FEngine, t.get());
    if (FEngine) FEngine->RemoveTemplateDependants(t.get());
    if (ContainsKey(name)) Remove(name);
}

void TFactTemplates::Clear() {
    if (FEngine) FEngine->ClearQueuesNetworkFactsRules();
    TIStringHashTable::Clear();
    if (FEngine && FEngine->OnClearFactTemplates) FEngine->OnClearFactTemplates(FEngine);
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
    if (old) {
        if (!AllowReplace(imDuplicateRules, name)) return false;
        RemoveRule(name);
    }
    if (FEngine && FEngine->Network()) FEngine->Network()->AddRule(rule);
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
    TGStringHashtable::Remove(name);
    if (FEngine) FEngine->RemoveRule(rule);
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
    if (FEngine) FEngine->RemoveTemplatesUsingType(oldType.get());
    if (FEngine) type->SetOwner(FEngine);
}

void TIEDefinedTypes::RemoveType(std::string_view name) {
    TRefPtr<IIEDefinedType> type = Find(name);
    if (!type) return;
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

void TUserFunctions::Clear() {
    std::vector<TRefPtr<IUserFunction>> all;
    for (const auto& entry : *this)
        if (auto* f = dynamic_cast<IUserFunction*>(entry.Intf().get())) all.emplace_back(f);
    TIStringHashTable::Clear();
    FDeffunctionCount = 0;
    for (const auto& f : all)
        f->RemoveReasoner(FEngine);
}

// ---------------------------------------------------------------------------------------------
// TIOStreams

TIOStreams::TIOStreams(TInferenceEngine* engine)
    : TGStringHashtable(11, 0.75f), TEngineTable(engine) {}

TIOStreams::~TIOStreams() {
    Clear();
}

bool TIOStreams::PutStream(std::string_view name, std::unique_ptr<TGTextStream> stream) {
    if (ContainsKey(name)) {
        if (!AllowReplace(imDuplicateStreams, name)) return false;
        CloseStream(name);
    }
    TGStringHashtable::Put(name, stream.release());
    return true;
}

void TIOStreams::CloseStream(std::string_view name) {
    if (!ContainsKey(name)) RaiseIE(imInvalidStreamName, name);
    std::unique_ptr<TGTextStream> stream(static_cast<TGTextStream*>(Remove(name)));
}

void TIOStreams::Clear() {
    std::vector<TGTextStream*> all;
    for (const auto& entry : *this)
        all.push_back(static_cast<TGTextStream*>(entry.Value()));
    TGStringHashtable::Clear();
    for (TGTextStream* s : all)
        delete s;
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

void TGlobalVariables::Bind(std::string_view name, const TRefPtr<IIEValue>& value) {
    if (!FEngine) return;
    TIEContext* root = FEngine->RootContext();
    TRefPtr<IIEValue> bound = value;
    if (value && value->GetDType() == dtFunCall) {
        std::unique_ptr<TIEContext> child = root->CreateChild();
        bound = value->Evaluate(child.get());
    }
    root->SetGlobalBinding(name, bound);
}

void TGlobalVariables::PutGlobal(std::string_view name, const TRefPtr<IIEValue>& value) {
    TRefPtr<IIEValue> old;
    Put(name, value, old);
    Bind(name, value);
}

void TGlobalVariables::BindAll() {
    for (const auto& entry : *this)
        Bind(entry.Key(), TRefPtr<IIEValue>(dynamic_cast<IIEValue*>(entry.Intf().get())));
}

void TGlobalVariables::Clear() {
    TValueHashTable::Clear();
    if (FEngine && FEngine->RootContext()) FEngine->RootContext()->Bindings().Clear();
}

// ---------------------------------------------------------------------------------------------
// TFactSets

void TFactSets::Add(TFactSet* factSet) {
    if (!factSet || IndexOf(factSet) >= 0) return;
    // One fact set per name: another set of the same name leaves the engine first.
    for (TFactSet* other : std::vector<TFactSet*>(FItems))
        if (other->FactSetName() == factSet->FactSetName()) {
            if (other->Engine() == FEngine)
                other->SetEngine(nullptr);
            else
                Remove(other);
        }
    FItems.push_back(factSet);
}

void TFactSets::Remove(TFactSet* factSet) {
    std::erase(FItems, factSet);
}

int32_t TFactSets::IndexOf(const TFactSet* factSet) const {
    auto it = std::find(FItems.begin(), FItems.end(), factSet);
    return it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
}

// ---------------------------------------------------------------------------------------------
// TFacts

TFacts::TFacts(TInferenceEngine* engine) : FEngine(engine) {}

const TRefPtr<IFact>& TFacts::Item(int32_t index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FItems[static_cast<size_t>(index)];
}

bool TFacts::IsFuzzy(const IFact* fact) {
    TRefPtr<IFactTemplate> t = fact->GetTemplate();
    return t && t->IsFuzzy();
}

void TFacts::SetIndexed(bool value) {
    if (value == FIndexed) return;
    FIndexed = value;
    FIndex.Clear();
    FFuzzyFacts.clear();
    if (!value) return;
    for (const auto& f : FItems)
        IndexFact(f);
}

void TFacts::IndexFact(const TRefPtr<IFact>& fact) {
    if (IsFuzzy(fact.get()))
        FFuzzyFacts.push_back(fact.get());
    else
        FIndex.Add(fact);
}

void TFacts::UnindexFact(const IFact* fact) {
    if (IsFuzzy(fact)) {
        std::erase(FFuzzyFacts, fact);
        return;
    }
    // The very object leaves its bucket; an equal fact under the same hash stays.
    FIndex.Remove(*fact);
}

int32_t TFacts::IndexOfFact(const IFact* fact) const {
    if (!fact) return -1;
    if (FIndexed) {
        if (IsFuzzy(fact)) {
            for (const IFact* f : FFuzzyFacts)
                if (f->Equals(fact)) return IndexOf(f);
            return -1;
        }
        // A shared hash code is no proof: the index only answers with an equal fact.
        const IFact* equal = FIndex.FindEqual(*fact);
        return equal ? IndexOf(equal) : -1;
    }
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i]->Equals(fact)) return static_cast<int32_t>(i);
    return -1;
}

int32_t TFacts::IndexOfID(int32_t id) const {
    const int32_t n = Count();
    if (n < 5) {
        for (int32_t i = 0; i < n; ++i)
            if (FItems[static_cast<size_t>(i)]->GetFactId() == id) return i;
        return -1;
    }
    auto it = std::lower_bound(
        FItems.begin(), FItems.end(), id,
        [](const TRefPtr<IFact>& f, int32_t value) { return f->GetFactId() < value; });
    if (it == FItems.end() || (*it)->GetFactId() != id) return -1;
    return static_cast<int32_t>(it - FItems.begin());
}

int32_t TFacts::IndexOf(const IFact* fact) const {
    if (!fact) return -1;
    if (fact->GetFactId() != -1) {
        const int32_t i = IndexOfID(fact->GetFactId());
        if (i >= 0 && FItems[static_cast<size_t>(i)].get() == fact) return i;
        // Not stored under its identifier: fall back to identity below.
    }
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == fact) return static_cast<int32_t>(i);
    return -1;
}

void TFacts::Append(const TRefPtr<IFact>& fact) {
    FItems.push_back(fact);
    FHighestID = std::max(FHighestID, fact->GetFactId());
    if (FIndexed) IndexFact(fact);
}

TRefPtr<IFact> TFacts::Extract(int32_t index) {
    TRefPtr<IFact> fact = Item(index);
    if (FIndexed) UnindexFact(fact.get());
    FItems.erase(FItems.begin() + index);
    return fact;
}

void TFacts::ClearItems() {
    FIndex.Clear();
    FFuzzyFacts.clear();
    FItems.clear();
    FHighestID = 0;
}

void TFacts::Clear() {
    ClearItems();
    if (FEngine) FEngine->ClearFacts();
}

std::string TFacts::GetText() const {
    std::string text;
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (i > 0) text += IELineEnd;
        text += FItems[i]->GetText();
    }
    return text;
}

std::string TFacts::GetLabelledText() const {
    std::string text;
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (i > 0) text += IELineEnd;
        text += FItems[i]->GetLabel();
    }
    return text;
}

} // namespace ie

// The inference engine's own part: construction and destruction (the order in which the parts go
// matters: components unregister from tables that must still exist), the settings, the rule
// table's hooks, and reset and clear as sequences of calls to its parts. The work on facts, the
// agenda and the run, input and output, reading, the construct cascades, files and copying is
// done by the collaborators (TWorkingMemory, TRunControl, TIORouter, TEngineReader,
// TConstructCascades, TEngineFiles, TEngineCopy, TMadeObjects); the engine's methods for it
// are forwards.
//
// Invariant: user code evaluated in the middle of the engine's own structures (a token in
// flight, a rule being compiled, a salience, a reset) cannot change them: CheckChangeAllowed
// refuses, naming what the engine is doing.
#include "engine/InferenceEngine.h"

#include <algorithm>
#include <array>
#include <limits>

#include "engine/ConstructCascades.h"
#include "engine/EngineCopy.h"
#include "engine/EngineFiles.h"
#include "engine/lang/IEClipsParser.h"
#include "engine/match/FuzzyExpression.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "fuzzy/FuzzyConsts.h"
#include "platform/DateTime.h"
#include "platform/Format.h"
#include "platform/Restore.h"
#include "platform/StoredProperties.h"
#include "platform/Streams.h"

namespace ie {

namespace {

// The order in which the packages are created.
constexpr TFunctionPackage PackageOrder[] = {pStandard,     pMiscellaneous, pPredicate,
                                             pMath,         pString,        pObject,
                                             pTrigonometry, pBusiness,      pFuzzyLogic};

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction and destruction

// The reader's construct sink: what it reads goes into this engine's tables.
class TEngineConstructSink final : public IConstructSink {
public:
    explicit TEngineConstructSink(TInferenceEngine& engine) noexcept : FEngine(engine) {}

    TRefPtr<TFactTemplate> NewFactTemplate(std::string_view name) override {
        return TFactTemplate::CreateNamed(&FEngine, name);
    }
    TRefPtr<TIEDefinedType> NewDefinedType() override { return TIEDefinedType::Create(&FEngine); }
    TFactSet* NewFactSet(std::string_view name) override { return new TFactSet(&FEngine, name); }
    void AttachFactSet(TFactSet& factSet) override { factSet.SetEngine(&FEngine); }
    TRule* NewRule() override { return new TRule(&FEngine, &FEngine); }

    TRefPtr<IFactTemplate> FindFactTemplate(std::string_view name) override {
        // Facts read one after another mostly name one template. The table is asked every
        // time (a template may have been redefined or removed since), but while its entry
        // holds the template found last, the cast from the stored interface is skipped. The
        // cache holds a reference, so the entry's object cannot be another one at the same
        // address.
        IInterface* stored = FEngine.FactTemplates().FindPtr(name);
        if (!stored) return nullptr;
        if (stored == FLastStored) return FLastTemplate;
        TRefPtr<IFactTemplate> found(dynamic_cast<IFactTemplate*>(stored));
        FLastTemplate = found;
        FLastStored = found ? stored : nullptr;
        return found;
    }
    // Lets go of the template found last, so that a template the table drops is freed now.
    void ForgetLastTemplate() noexcept {
        FLastTemplate = nullptr;
        FLastStored = nullptr;
    }
    TRefPtr<IFactTemplate> ImpliedTemplate(std::string_view name) override {
        return FEngine.ImpliedTemplate(name);
    }
    TRefPtr<IIEDefinedType> FindDefinedType(std::string_view name) override {
        return FEngine.DefinedTypes().Find(name);
    }
    TRule* FindRule(std::string_view name) override { return FEngine.Rules().Find(name); }

    bool PutRule(std::string_view name, TRule* rule) override {
        return FEngine.Rules().PutRule(name, rule);
    }
    void PutFactTemplate(const TRefPtr<IFactTemplate>& factTemplate) override {
        FEngine.FactTemplates().PutTemplate(factTemplate->GetName(), factTemplate);
    }
    void PutUserFunction(const TRefPtr<IUserFunction>& function) override {
        FEngine.UserFunctions().PutFunction(function->GetFunctionName(), function);
    }
    void PutDefinedType(const TRefPtr<IIEDefinedType>& type) override {
        FEngine.DefinedTypes().PutType(type->GetName(), type);
    }
    void PutGlobal(std::string_view name, const TRefPtr<IIEValue>& value) override {
        FEngine.GlobalVariables().PutGlobal(name, value);
    }
    void AssertFact(const TRefPtr<IFact>& fact) override {
        FEngine.WorkingMemory().Assert(fact, false);
    }

    IFuzzyParser* FuzzyParser() override { return &FEngine; }

private:
    TInferenceEngine& FEngine;
    TRefPtr<IFactTemplate> FLastTemplate;
    IInterface* FLastStored = nullptr;
};

TInferenceEngine::TInferenceEngine(TComponent* owner)
    : TComponent(owner), FIO(std::make_unique<TIORouter>(*this)),
      FMemory(std::make_unique<TWorkingMemory>(*this)), FRun(std::make_unique<TRunControl>(*this)),
      FConstructSink(std::make_unique<TEngineConstructSink>(*this)) {
    FMemory->SetRunControl(*FRun);
    FReader = std::make_unique<TEngineReader>(*this);
    FParserFactory = [](TInferenceEngine* engine) -> std::unique_ptr<TIEParser> {
        return std::make_unique<TIEClipsParser>(engine, nullptr);
    };
    FStreamFactory = [](TStream* stream) -> std::unique_ptr<TIETokenizerStream> {
        return std::make_unique<TIEClipsStream>(stream);
    };
    FParser = NewParser();
    FGlobalVariables = std::make_unique<TGlobalVariables>(this);
    FDefinedTypes = std::make_unique<TIEDefinedTypes>(this);
    FFactTemplates = std::make_unique<TFactTemplates>(this);
    FFactSets = std::make_unique<TFactSets>(this);
    {
        // The network reports its activations to the run control directly.
        auto matcher = std::make_unique<TReteMatcher>(this, FRun.get());
        FRete = &matcher->Net();
        FNetwork = std::move(matcher);
    }
    FRules = std::make_unique<TRules>(this);
    FEngineVariables = std::make_unique<TEngineVariables>(this);
    FUserFunctions = std::make_unique<TUserFunctions>(this);
    FRootContext = std::make_unique<TIEContext>(nullptr, this);
    CreateImpliedConstructs();
    AfterConstruction();
}

TInferenceEngine::~TInferenceEngine() {
    // No event reaches the host while the engine goes.
    ClearEventHandlers();
    FConstructSink->ForgetLastTemplate();
    FActivity = eaIdle;
    FRun->ForgetFiring();
    try {
        DoClear();
    } catch (...) {
        // Destruction cannot report; what Clear could not free is freed below.
    }
    FIO->CloseDribble();
    FMadeObjects.FreeAll();
    // Components the engine owns (fact sets, rules, packages) go while the tables they
    // unregister from still exist.
    FreePackages();
    DestroyComponents();
    FRules.reset();
    FGlobalVariables.reset();
    FFactTemplates.reset();
    FDefinedTypes.reset();
    FreePackages();
    FUserFunctions.reset();
    FInitialFactPattern.reset();
    FNotOrTestFact = nullptr;
    FRun->Release();
    FFactSets.reset();
    FMemory->Release();
    FRete = nullptr;
    FNetwork.reset();
    FRootContext.reset();
    FEngineVariables.reset();
    FParser.reset();
    FIO->Release();
}

void TInferenceEngine::AfterConstruction() {
    AddDefaultPackages();
    AssertInitialFact();
}

void TInferenceEngine::ClearEventHandlers() {
    static_cast<TEngineEvents&>(*this) = TEngineEvents{};
    if (FParser) {
        FParser->OnParse = nullptr;
        FParser->OnParseFunCall = nullptr;
        FParser->OnParseVariable = nullptr;
    }
}

std::unique_ptr<TIEParser> TInferenceEngine::NewParser() {
    std::unique_ptr<TIEParser> parser = FParserFactory(this);
    if (parser) {
        parser->ErrorHandling = FParserErrorHandling;
        parser->MaxErrors = FParserMaxErrors;
        parser->StaticTypeCheck = FTypeChecks.Contains(tcStatic);
    }
    return parser;
}

void TInferenceEngine::SetParserFactory(TParserFactory factory) {
    if (!factory) return;
    FParserFactory = std::move(factory);
    FParser = NewParser();
}

void TInferenceEngine::SetStreamFactory(TStreamFactory factory) {
    if (!factory) return;
    FStreamFactory = std::move(factory);
    FDefaultStreamFactory = false;
}

std::unique_ptr<TIETokenizerStream> TInferenceEngine::CreateStream(TStream* stream) {
    std::unique_ptr<TIETokenizerStream> s = FStreamFactory(stream);
    if (s) s->SetEngine(this);
    return s;
}

void TInferenceEngine::SetNetwork(std::unique_ptr<IEngineNetwork> network) {
    FRete = nullptr;
    FNetwork = std::move(network);
    if (FNetwork) FNetwork->SetMinActivationStrength(FMinActivationStrength);
}

void TInferenceEngine::AddDefaultPackages() {
    for (TFunctionPackage p : PackageOrder) {
        if (!FPackages.Contains(p)) continue;
        const TPackageFactory& factory = PackageFactory(p);
        if (!factory) continue;
        if (TComponent* package = factory(this)) FPackageObjects.push_back(package);
    }
    if (OnAddDefaultPackages) OnAddDefaultPackages(this);
}

void TInferenceEngine::FreePackages() {
    while (!FPackageObjects.empty()) {
        TComponent* package = FPackageObjects.back();
        FPackageObjects.pop_back();
        package->Free();
    }
}

void TInferenceEngine::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != opRemove) return;
    std::erase(FPackageObjects, component);
    if (auto* rule = dynamic_cast<TRule*>(component)) {
        if (FRules && FRules->Find(rule->RuleName()) == rule) FRules->Remove(rule->RuleName());
        if (FNetwork) FNetwork->RemoveRule(rule);
    }
    if (auto* factSet = dynamic_cast<TFactSet*>(component); factSet && FFactSets)
        FFactSets->Remove(factSet);
}

void TInferenceEngine::CreateImpliedConstructs() {
    TRefPtr<IFactTemplate> initial = ImpliedTemplate(InitialFactName);
    if (initial)
        FInitialFactPattern = std::make_unique<TIEPattern>(nullptr, InitialFactName, initial, 0);
    TRefPtr<IFactTemplate> notOr = ImpliedTemplate(NotOrTestTemplateName);
    if (notOr) FNotOrTestFact = notOr->NewFact();
}

// ---------------------------------------------------------------------------------------------
// Settings

void TInferenceEngine::SetPackages(TFunctionPackages value) {
    if (value == FPackages) return;
    FreePackages();
    FPackages = value;
    AddDefaultPackages();
}

void TInferenceEngine::SetFuzzyEqualsThreshold(float value) {
    if (value == FFuzzyEqualsThreshold) return;
    FFuzzyEqualsThreshold = std::clamp(value, 0.0f, 1.0f);
    // Every fuzzy variable of a defined type takes it (a type added later gets it as it comes).
    if (!FDefinedTypes) return;
    for (const auto& entry : *FDefinedTypes)
        if (auto* type = dynamic_cast<IIEDefinedType*>(entry.Intf().get()))
            if (TRefPtr<IFuzzyVariable> variable = type->GetFuzzyVariable())
                variable->SetThreshold(FFuzzyEqualsThreshold);
}

void TInferenceEngine::SetMinActivationStrength(float value) {
    FMinActivationStrength = std::clamp(value, 0.0f, 1.0f);
    if (FNetwork) FNetwork->SetMinActivationStrength(value);
}

void TInferenceEngine::SetParserErrorHandling(TErrorHandling value) {
    FParserErrorHandling = value;
    if (FParser) FParser->ErrorHandling = value;
}

void TInferenceEngine::SetParserMaxErrors(int32_t value) {
    FParserMaxErrors = value;
    if (FParser) FParser->MaxErrors = value;
}

namespace {
// Counts the symbol index up by one; at the largest integer it stays and marks the names spent.
void CountSymbol(int32_t& index, bool& spent) noexcept {
    if (index == std::numeric_limits<int32_t>::max())
        spent = true;
    else
        ++index;
}
} // namespace

void TInferenceEngine::SetSymbolIndex(int32_t value) noexcept {
    if (value > FSymbolIndex) {
        FSymbolIndex = value;
        FSymbolsSpent = false;
    } else {
        CountSymbol(FSymbolIndex, FSymbolsSpent);
    }
}

void TInferenceEngine::SetTypeChecks(TTypeChecks value) {
    FTypeChecks = value;
    if (FParser) FParser->StaticTypeCheck = value.Contains(tcStatic);
}

std::string TInferenceEngine::GenSym(std::string_view prefix) {
    // The counter stops at the largest integer: going on would hand out names again (or
    // negative numbers), so once that name is out every further request is refused.
    if (FSymbolsSpent)
        throw EIEException(
            Format("No new symbol is left: the symbol counter has reached %d", FSymbolIndex));
    std::string name(prefix);
    name += std::to_string(FSymbolIndex);
    CountSymbol(FSymbolIndex, FSymbolsSpent);
    return name;
}

// ---------------------------------------------------------------------------------------------
// Templates and rules

TRefPtr<IFactTemplate> TInferenceEngine::FindFactTemplate(std::string_view name) {
    return FFactTemplates->Find(name);
}

IConstructSink* TInferenceEngine::ConstructSink() {
    return FConstructSink.get();
}

TRefPtr<IIEDefinedType> TInferenceEngine::FindDefinedType(std::string_view name) {
    return FDefinedTypes->Find(name);
}

TRefPtr<IFactTemplate> TInferenceEngine::ImpliedTemplate(std::string_view name) {
    if (TRefPtr<IFactTemplate> found = FFactTemplates->Find(name)) return found;
    TRefPtr<TFactTemplate> t = TFactTemplate::CreateNamed(this, name);
    t->AddMultiSlot(DataSlotName, TIEValue::CreateList(TValueVector::Create()));
    t->SetComment("(Implied)");
    FFactTemplates->PutTemplate(name, t);
    return t;
}

bool TInferenceEngine::IsGlobalVariable(std::string_view name) {
    return FGlobalVariables->ContainsKey(name);
}

bool TInferenceEngine::SlotInTemplateOrHeir(const IFactTemplate& factTemplate,
                                            std::string_view slot) {
    if (factTemplate.IndexOfSlot(slot) >= 0) return true;
    for (IFactTemplate* heir : FFactTemplates->ParentsFirstOrder())
        for (TRefPtr<IFactTemplate> up = heir->GetParent(); up; up = up->GetParent())
            if (up.get() == &factTemplate) {
                if (heir->IndexOfSlot(slot) >= 0) return true;
                break;
            }
    return false;
}

void TInferenceEngine::RuleEngineAttached(TRule& rule) {
    FRules->PutRule(rule.RuleName(), &rule);
}

void TInferenceEngine::RuleEngineDetached(TRule& rule) {
    if (FRules->Find(rule.RuleName()) == &rule) {
        FRules->Remove(rule.RuleName());
        if (OnRemoveRule) OnRemoveRule(this, &rule);
        if (FNetwork) FNetwork->RemoveRule(&rule);
    }
}

void TInferenceEngine::RuleRenamed(TRule& rule, std::string_view oldName) {
    if (FRules->Find(oldName) == &rule) RenameRule(oldName, rule.RuleName());
}

void TInferenceEngine::RuleChanged(TRule& rule) {
    RecompileRule(&rule);
}

void TInferenceEngine::RenameRule(std::string_view oldName, std::string_view newName) {
    if (oldName == newName) return;
    TRule* rule = FRules->Find(oldName);
    if (!rule) return;
    if (FRules->ContainsKey(newName)) RaiseIE(imDuplicateRules, newName);
    FRules->TGStringHashtable::Put(newName, rule);
    FRules->TGStringHashtable::Remove(oldName);
    if (rule->RuleName() != newName) rule->SetRuleName(newName);
}

void TInferenceEngine::RecompileRule(TRule* rule) {
    if (!FNetwork || !rule || FRules->Find(rule->RuleName()) != rule) return;
    CheckChangeAllowed("Changing a rule");
    FNetwork->RemoveRule(rule);
    CompileRule(rule);
}

void TInferenceEngine::CompileRule(TRule* rule) {
    if (!FNetwork || !rule) return;
    {
        // The rule's tests run on the facts already there: they see the engine as matching.
        int32_t& depth = FMemory->PropagationDepth();
        TRestore<int32_t> propagating(depth, depth + 1);
        FNetwork->AddRule(rule);
    }
    FMemory->ProcessPending();
}

void TInferenceEngine::RemoveRule(TRule* rule) {
    if (!rule) return;
    if (OnRemoveRule) OnRemoveRule(this, rule);
    if (FNetwork) FNetwork->RemoveRule(rule);
    if (rule->Owner() != this || rule->IsDestroying()) return;
    // A firing rule (at any depth of nested runs) is still evaluating its actions: it leaves the
    // table and the network now and is freed once no rule fires.
    if (!FRun->RetireWhileFiring(rule)) rule->Free();
}

void TInferenceEngine::CheckTemplateRemovable(IFactTemplate* factTemplate) {
    TConstructCascades(*this).CheckTemplateRemovable(factTemplate);
}

void TInferenceEngine::CheckTemplateReplaceable(IFactTemplate* factTemplate) {
    TConstructCascades(*this).CheckTemplateReplaceable(factTemplate);
}

void TInferenceEngine::CheckTypeChange(IIEDefinedType* type, bool replacing) {
    TConstructCascades(*this).CheckTypeChange(type, replacing);
}

void TInferenceEngine::RemoveTemplateDependants(IFactTemplate* factTemplate) {
    FConstructSink->ForgetLastTemplate();
    TConstructCascades(*this).RemoveTemplateDependants(factTemplate);
}

void TInferenceEngine::RemoveTemplatesUsingType(IIEDefinedType* type) {
    TConstructCascades(*this).RemoveTemplatesUsingType(type);
}

void TInferenceEngine::RebuildTemplateDependants(IFactTemplate* oldTemplate,
                                                 IFactTemplate* newTemplate) {
    FConstructSink->ForgetLastTemplate();
    TConstructCascades(*this).RebuildTemplateDependants(oldTemplate, newTemplate);
}

void TInferenceEngine::RebuildTypeDependants(IIEDefinedType* oldType, IIEDefinedType* newType) {
    TConstructCascades(*this).RebuildTypeDependants(oldType, newType);
}

// ---------------------------------------------------------------------------------------------
// Working memory

void TInferenceEngine::RenameFactTemplate(IFactTemplate& factTemplate, const std::string& oldName,
                                          const std::string& newName) {
    if (oldName == newName || !FFactTemplates) return;
    if (FFactTemplates->FindPtr(oldName) != static_cast<IInterface*>(&factTemplate)) return;
    if (FFactTemplates->ContainsKey(newName)) RaiseIE(imFactTemplateExists, newName);
    TRefPtr<IFactTemplate> keep(&factTemplate);
    FFactTemplates->Remove(oldName);
    FFactTemplates->PutEntry(newName, keep);
}

std::string TInferenceEngine::FormatFact(const IFact& fact) {
    return FParser ? FParser->FormatFact(fact) : FormatFactText(fact);
}

std::string TInferenceEngine::FormatFactSlot(const IFactSlot& slot) {
    return FParser ? FParser->FormatFactSlot(slot) : FormatFactSlotText(slot);
}

std::string TInferenceEngine::FormatFactTemplate(const IFactTemplate& factTemplate) {
    return FParser ? FParser->FormatFactTemplate(factTemplate)
                   : FormatFactTemplateText(factTemplate);
}

std::string TInferenceEngine::FormatFactSet(const TFactSet& factSet) {
    return FParser ? FParser->FormatFactSet(factSet) : FormatFactSetText(factSet);
}

void TInferenceEngine::AssertInitialFact() {
    // The same as AssertString("(Initial-Fact)"), without a trip through the reader.
    TRefPtr<IFactTemplate> t = ImpliedTemplate(InitialFactName);
    if (!t) return;
    FMemory->Assert(t->NewFact(), false);
}

void TInferenceEngine::ClearQueuesNetworkFactsRules() {
    FConstructSink->ForgetLastTemplate();
    FMemory->ClearQueues();
    if (FNetwork) FNetwork->Clear();
    if (!FMemory->Released()) FMemory->Facts().Clear();
    if (FRules) FRules->Clear();
}

// ---------------------------------------------------------------------------------------------
// Reset and clear

void TInferenceEngine::CheckChangeAllowed(std::string_view what) const {
    TEngineActivity activity = FActivity;
    if (activity == eaIdle && FMemory->Propagating() > 0) activity = eaMatching;
    if (activity == eaIdle) return;
    static constexpr std::string_view Doing[] = {"", "matches facts", "evaluates a salience",
                                                 "resets"};
    throw EIEException(Format("%s is not allowed while the engine %s", what, Doing[activity]));
}

void TInferenceEngine::Reset() {
    // From a rule action it is carried out at once: the firing activation leaves the agenda as
    // with a retraction, and the run loop frees it when the action ends.
    CheckChangeAllowed("Reset");
    DoReset();
}

void TInferenceEngine::Clear() {
    CheckChangeAllowed("Clear");
    if (FRun->Firing()) throw EIEException("Clear is not allowed while rules fire");
    DoClear();
}

void TInferenceEngine::DoReset() {
    {
        // Deffacts, defaults and global values are evaluated while the engine walks its tables.
        TRestore<TEngineActivity> resetting(FActivity, eaResetting);
        FMemory->Facts().Clear();
        FMemory->RestartNumbering();
        FRules->ResetAll();
        // The globals take their defined values before any fact is matched: a rule whose test
        // reads one is activated by the values of the reset state, not by those before it.
        if (FResetGlobals) FGlobalVariables->BindAll();
        AssertInitialFact();
        FFactSets->AssertAll();
    }
    if (OnReset) OnReset(this);
}

void TInferenceEngine::DoClear() {
    FMemory->RestartNumbering();
    FNextRuleIndex = 0;
    FRun->Clear();
    if (FNetwork) FNetwork->Clear();
    FRules->Clear();
    FFactTemplates->Clear();
    FGlobalVariables->Clear();
    FDefinedTypes->Clear();
    FNotOrTestFact = nullptr;
    std::exception_ptr failure;
    try {
        FFactSets->Clear();
        FMemory->Facts().Clear();
        FMemory->ClearQueues();
        FUserFunctions->RemoveDeffunctions();
        FInitialFactPattern.reset();
        FEngineVariables->TValueHashTable::Clear();
        FIO->Streams().Clear();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!IsDestroying()) CreateImpliedConstructs();
    if (failure) std::rethrow_exception(failure);
    if (OnClear) OnClear(this);
}

// ---------------------------------------------------------------------------------------------
// Input and output

bool TInferenceEngine::Batch(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    return BatchFromStream(file);
}

void TInferenceEngine::ExecuteLines(const std::vector<std::string>& lines) {
    std::vector<TExecuteLine> all;
    all.reserve(lines.size());
    for (const auto& line : lines)
        all.push_back({line, false});
    ExecuteLines(all);
}

// ---------------------------------------------------------------------------------------------
// IReasoner and IParserEngine

std::string TInferenceEngine::FunCallText(const IFunCall& call) {
    return FParser ? FParser->FormatFunCall(call) : DefaultFunCallText(call);
}

std::string TInferenceEngine::FactText(const IFact& fact) {
    return fact.GetText();
}

std::string TInferenceEngine::UserFunctionText(const IUserFunction& function) {
    return function.GetComment();
}

std::string TInferenceEngine::DefinedTypeText(const IIEDefinedType& type) {
    return FParser ? FParser->FormatDefinedType(type) : ie::DefinedTypeText(type);
}

void TInferenceEngine::AddUserFunction(const TRefPtr<IUserFunction>& function) {
    if (function) PutUserFunction(function->GetFunctionName(), function);
}

void TInferenceEngine::RemoveUserFunction(const TRefPtr<IUserFunction>& function) {
    if (!function || !FUserFunctions) return;
    const std::string name = function->GetFunctionName();
    if (FUserFunctions->FindPtr(name) == static_cast<IInterface*>(function.get()))
        FUserFunctions->RemoveFunction(name);
}

TRefPtr<IUserFunction> TInferenceEngine::FindUserFunction(std::string_view name) {
    return FUserFunctions ? FUserFunctions->Find(name) : nullptr;
}

bool TInferenceEngine::UserFunctionExists(std::string_view name) const {
    return FUserFunctions && FUserFunctions->ContainsKey(name);
}

void TInferenceEngine::PutUserFunction(std::string_view name, const TRefPtr<IUserFunction>& f) {
    if (FUserFunctions) FUserFunctions->PutFunction(name, f);
}

TRefPtr<IStringIterator> TInferenceEngine::UserFunctionNames() {
    if (!FUserFunctions) return nullptr;
    return FUserFunctions->TGCustomStringHashtable::Keys();
}

bool TInferenceEngine::AssignUserFunctions(TInferenceEngine& source, bool tolerant) {
    return TEngineCopy(*this).AssignUserFunctions(source, tolerant);
}

TRefPtr<IFunCall> TInferenceEngine::CreateFunCall(std::string_view name) {
    return TFunctionCall::Create(this, name);
}

// ---------------------------------------------------------------------------------------------
// Template replacement

void TInferenceEngine::ReplaceFactTemplate(std::string_view name,
                                           const TRefPtr<IFactTemplate>& item) {
    if (FFactTemplates->ContainsKey(name)) FFactTemplates->RemoveTemplate(name);
    if (item) FFactTemplates->PutTemplate(item->GetName(), item);
}

// ---------------------------------------------------------------------------------------------
// Readers and writers

TRefPtr<IIEDefinedType> TInferenceEngine::ParseDefinedType(std::string_view text) {
    return FReader->ParseDefinedType(text);
}

TRefPtr<IFactTemplate> TInferenceEngine::ParseFactTemplate(std::string_view text) {
    return FReader->ParseFactTemplate(text);
}

TRule* TInferenceEngine::ParseRule(std::string_view text) {
    return FReader->ParseRule(text);
}

TRefPtr<IUserFunction> TInferenceEngine::ParseFunction(std::string_view text) {
    return FReader->ParseFunction(text);
}

TFactSet* TInferenceEngine::ParseFactSet(std::string_view text) {
    return FReader->ParseFactSet(text);
}

TRefPtr<IFunCall> TInferenceEngine::ParseFunCall(std::string_view text) {
    return FReader->ParseFunCall(text);
}

TRefPtr<IIEValue> TInferenceEngine::EvaluateFunCall(std::string_view text) {
    return FReader->EvaluateFunCall(text);
}

TRefPtr<IIEValue> TInferenceEngine::ParseList(std::string_view text) {
    return FReader->ParseList(text);
}

TRefPtr<IFuzzySet> TInferenceEngine::ParseFuzzySet(IFuzzyVariable* variable,
                                                   std::string_view text) {
    return FReader->ParseFuzzySet(variable, text);
}

TRefPtr<IFuzzyVariable> TInferenceEngine::ParseFuzzyVariable(std::string_view text) {
    return FReader->ParseFuzzyVariable(text);
}

std::string TInferenceEngine::FuzzySetText(const IFuzzySet& set, bool asTerm) {
    return FParser->FormatFuzzySet(set, asTerm);
}

std::string TInferenceEngine::FuzzyVariableText(const IFuzzyVariable& variable) {
    return FParser->FormatFuzzyVariable(variable);
}

std::string TInferenceEngine::FormatRule(const TRule& rule) {
    return FParser->FormatRule(rule);
}

std::string TInferenceEngine::FormatDeffunction(const TInterpretedFunction& function) {
    return FParser->FormatDeffunction(function);
}

std::string TInferenceEngine::FormatGlobals() {
    return FParser->FormatGlobals(*FGlobalVariables);
}

TRefPtr<IIEValue> TInferenceEngine::ParseValueOfType(std::string_view text, TIEType type) {
    return FReader->ParseValueOfType(text, type);
}

// ---------------------------------------------------------------------------------------------
// The whole engine as text

std::string TInferenceEngine::GetText() {
    return TEngineFiles(*this).Text();
}

void TInferenceEngine::SetText(std::string_view text) {
    FReader->SetText(text);
}

void TInferenceEngine::LoadFromStream(TStream& stream) {
    TEngineFiles(*this).LoadFromStream(stream);
}
void TInferenceEngine::SaveToStream(TStream& stream) {
    TEngineFiles(*this).SaveToStream(stream);
}
void TInferenceEngine::LoadFromFile(const std::string& fileName) {
    TEngineFiles(*this).LoadFromFile(fileName);
}
void TInferenceEngine::SaveToFile(const std::string& fileName) {
    TEngineFiles(*this).SaveToFile(fileName);
}
void TInferenceEngine::LoadTypesFromStream(TStream& stream) {
    TEngineFiles(*this).LoadTypesFromStream(stream);
}
void TInferenceEngine::SaveTypesToStream(TStream& stream) {
    TEngineFiles(*this).SaveTypesToStream(stream);
}
void TInferenceEngine::LoadFactsFromStream(TStream& stream) {
    TEngineFiles(*this).LoadFactsFromStream(stream);
}
void TInferenceEngine::SaveFactsToStream(TStream& stream) {
    TEngineFiles(*this).SaveFactsToStream(stream);
}
void TInferenceEngine::SaveTemplateFactsToStream(TStream& stream, std::string_view templateName) {
    TEngineFiles(*this).SaveTemplateFactsToStream(stream, templateName);
}
void TInferenceEngine::LoadTemplatesFromStream(TStream& stream) {
    TEngineFiles(*this).LoadTemplatesFromStream(stream);
}
void TInferenceEngine::SaveTemplatesToStream(TStream& stream) {
    TEngineFiles(*this).SaveTemplatesToStream(stream);
}
void TInferenceEngine::LoadRulesFromStream(TStream& stream) {
    TEngineFiles(*this).LoadRulesFromStream(stream);
}
void TInferenceEngine::SaveRulesToStream(TStream& stream) {
    TEngineFiles(*this).SaveRulesToStream(stream);
}
void TInferenceEngine::LoadTypesFromFile(const std::string& fileName) {
    TEngineFiles(*this).LoadTypesFromFile(fileName);
}
void TInferenceEngine::SaveTypesToFile(const std::string& fileName) {
    TEngineFiles(*this).SaveTypesToFile(fileName);
}
void TInferenceEngine::LoadFactsFromFile(const std::string& fileName) {
    TEngineFiles(*this).LoadFactsFromFile(fileName);
}
void TInferenceEngine::SaveFactsToFile(const std::string& fileName) {
    TEngineFiles(*this).SaveFactsToFile(fileName);
}
void TInferenceEngine::SaveTemplateFactsToFile(const std::string& fileName,
                                               std::string_view templateName) {
    TEngineFiles(*this).SaveTemplateFactsToFile(fileName, templateName);
}
void TInferenceEngine::LoadTemplatesFromFile(const std::string& fileName) {
    TEngineFiles(*this).LoadTemplatesFromFile(fileName);
}
void TInferenceEngine::SaveTemplatesToFile(const std::string& fileName) {
    TEngineFiles(*this).SaveTemplatesToFile(fileName);
}
void TInferenceEngine::LoadRulesFromFile(const std::string& fileName) {
    TEngineFiles(*this).LoadRulesFromFile(fileName);
}
void TInferenceEngine::SaveRulesToFile(const std::string& fileName) {
    TEngineFiles(*this).SaveRulesToFile(fileName);
}

// ---------------------------------------------------------------------------------------------
// Stored properties and copying

void TInferenceEngine::DefineProperties(TFiler& filer) {
    TComponent::DefineProperties(filer);
    TEngineFiles(*this).DefineProperties(filer);
}

void TInferenceEngine::Assign(const TPersistent* source) {
    auto* other = dynamic_cast<const TInferenceEngine*>(source);
    if (!other) {
        TComponent::Assign(source);
        return;
    }
    if (other != this) TEngineCopy(*this).Assign(const_cast<TInferenceEngine&>(*other));
}

// ---------------------------------------------------------------------------------------------
// Fuzzy expressions

TRefPtr<IIEValue> TInferenceEngine::EvaluateFuzzyExpression(IFuzzyVariable* variable,
                                                            const TRefPtr<IIEValue>& value,
                                                            TIEContext* context) {
    return TFuzzyExpressions(this).Evaluate(variable, value, context);
}

TRefPtr<IIEValue> TInferenceEngine::BuildFuzzyExpression(IFuzzyVariable* variable,
                                                         const IValueVector& items,
                                                         TIEContext* context) {
    return TFuzzyExpressions(this).Build(variable, items, context);
}

TRefPtr<IIEValue> TInferenceEngine::EvaluateFuzzyText(IFuzzyVariable* variable,
                                                      std::string_view text, TIEContext* context) {
    return EvaluateFuzzyExpression(variable, ParseValue(text), context);
}

TRefPtr<IFuzzySet> TInferenceEngine::ParseFuzzyExpression(IFuzzyVariable* variable,
                                                          std::string_view text) {
    return EvaluateFuzzyExpression(variable, ParseValue(text), FRootContext.get())->AsFuzzy();
}

// The fuzzy library's texts are evaluated in the root context: without a context a call such as
// (tri 1 2 3) would stay unevaluated and give no fuzzy set.
double TInferenceEngine::DefuzzifyFuzzyText(IFuzzyVariable* variable, std::string_view text,
                                            TRefPtr<IFuzzySet>& set) {
    set = EvaluateFuzzyText(variable, text, FRootContext.get())->AsFuzzy();
    return set->Defuzzify();
}

TRefPtr<IFuzzySet> TInferenceEngine::ParseFuzzyText(IFuzzyVariable* variable,
                                                    std::string_view text) {
    return EvaluateFuzzyText(variable, text, FRootContext.get())->AsFuzzy();
}

} // namespace ie

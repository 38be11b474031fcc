// The inference engine's own part: construction and destruction (the order in which the parts go
// matters: components unregister from tables that must still exist), the settings, the rule and
// template cascades, reset and clear, the reader's entry points, the stored properties and
// copying. The work on facts, the agenda and the run, and input and output is done by the working
// memory, the run control and the input/output router; the engine's methods for it are forwards.
//
// Invariant: user code evaluated in the middle of the engine's own structures (a token in
// flight, a rule being compiled, a salience, a reset) cannot change them: CheckChangeAllowed
// refuses, naming what the engine is doing.
#include "engine/InferenceEngine.h"

#include <algorithm>
#include <array>
#include <limits>
#include <typeinfo>

#include "engine/EngineFiles.h"
#include "engine/lang/IEClipsParser.h"
#include "engine/match/FuzzyExpression.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEFuzzyLogic.h"
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

// The Rete network as the engine's matcher.
class TReteMatcher final : public IEngineNetwork {
public:
    TReteMatcher(IRuleEngine* engine, IActivationSink* sink) : FNet(engine, sink) {}
    void AssertToken(TTokenAction action, const TRefPtr<IFact>& fact) override {
        FNet.AssertToken(TReteToken::CreateFirst(action, fact));
    }
    void AddRule(TRule* rule) override { FNet.AddRule(*rule); }
    void RemoveRule(TRule* rule) override { FNet.RemoveRule(*rule); }
    void Clear() override { FNet.Clear(); }
    void SetMinActivationStrength(float value) override { FNet.SetMinActivationStrength(value); }
    TReteNetwork& Net() noexcept { return FNet; }

private:
    TReteNetwork FNet;
};

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
        return FEngine.FactTemplates().Find(name);
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
};

TInferenceEngine::TInferenceEngine(TComponent* owner)
    : TComponent(owner), FIO(std::make_unique<TIORouter>(*this)),
      FMemory(std::make_unique<TWorkingMemory>(*this)), FRun(std::make_unique<TRunControl>(*this)),
      FConstructSink(std::make_unique<TEngineConstructSink>(*this)) {
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
    FActivity = eaIdle;
    FRun->ForgetFiring();
    try {
        DoClear();
    } catch (...) {
        // Destruction cannot report; what Clear could not free is freed below.
    }
    FIO->CloseDribble();
    FreeMadeObjects();
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

void TInferenceEngine::KeepMadeObject(TObject* object) {
    if (!object) return;
    // Objects freed meanwhile leave their records behind; they are dropped as the list grows.
    if (FMadeObjects.size() >= 64 && FMadeObjects.size() == FMadeObjects.capacity())
        std::erase_if(FMadeObjects,
                      [](const TRefPtr<TObjectLife>& life) { return life->Object() == nullptr; });
    FMadeObjects.push_back(TrackObjectLife(object));
}

void TInferenceEngine::FreeMadeObjects() noexcept {
    std::vector<TRefPtr<TObjectLife>> made;
    made.swap(FMadeObjects);
    // The latest first: an object made later may refer to an earlier one.
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        TObject* object = (*it)->Object();
        if (!object) continue;
        try {
            FreeObject(object);
        } catch (...) {
            // Destruction cannot report; the object's own destructor failed.
        }
    }
}

void TInferenceEngine::AfterConstruction() {
    AddDefaultPackages();
    AssertInitialFact();
}

void TInferenceEngine::ClearEventHandlers() {
    OnAddDefaultPackages = nullptr;
    OnAddActivation = OnRemoveActivation = nullptr;
    OnAddDefinedType = OnRemoveDefinedType = nullptr;
    OnAddRule = OnRemoveRule = OnRuleFired = nullptr;
    OnAddUserFunction = OnRemoveUserFunction = nullptr;
    OnAssertion = OnRetraction = nullptr;
    OnNewFactTemplate = OnRemoveFactTemplate = nullptr;
    OnClear = OnClearDefinedTypes = OnClearFacts = OnClearFactTemplates = OnClearRules = OnReset =
        nullptr;
    OnStartInference = nullptr;
    OnEndInference = nullptr;
    OnFuzzyCorrelation = nullptr;
    OnFuzzyInference = nullptr;
    OnPrintOut = nullptr;
    OnReadLine = nullptr;
    OnReadToken = nullptr;
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

namespace {
void ClearFactSetFactsOf(TFactSets& sets, const IFactTemplate* factTemplate);
} // namespace

void TInferenceEngine::RemoveTemplateDependants(IFactTemplate* factTemplate) {
    if (!factTemplate) return;
    FMemory->RetractFactsOf(factTemplate);
    ClearFactSetFactsOf(*FFactSets, factTemplate);
    // Every rule with a pattern on the template goes.
    std::vector<std::string> names;
    for (const auto& entry : *FRules) {
        auto* rule = static_cast<TRule*>(entry.Value());
        for (int32_t p = 0; p < rule->PatternCount(); ++p)
            if (rule->GetPattern(p)->FactTemplate().get() == factTemplate) {
                names.push_back(entry.Key());
                break;
            }
    }
    for (const auto& name : names)
        FRules->RemoveRule(name);
}

void TInferenceEngine::RemoveTemplatesUsingType(IIEDefinedType* type) {
    if (!type) return;
    std::vector<std::string> names;
    for (const auto& entry : *FFactTemplates) {
        auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get());
        if (!t) continue;
        for (int32_t i = 0; i < t->SlotCount(); ++i)
            if (t->SlotAt(i)->GetExtendedTypeInfo().get() == type) {
                names.push_back(entry.Key());
                break;
            }
    }
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        FFactTemplates->RemoveTemplate(*it);
}

// ---------------------------------------------------------------------------------------------
// Working memory

template <class F> auto TInferenceEngine::ReadFrom(std::string_view text, F&& read) {
    // The parser reads the text through a stream of its own and gets its former stream back,
    // however the reading ends.
    TStringStream source(text);
    std::unique_ptr<TIETokenizerStream> own;
    TIEClipsStream* shared = nullptr;
    TIETokenizerStream* stream;
    if (FDefaultStreamFactory && !FReadStreamBusy) {
        if (!FReadStream) {
            FReadStream = std::make_unique<TIEClipsStream>(nullptr);
            FReadStream->SetEngine(this);
        }
        shared = FReadStream.get();
        shared->Rebind(&source);
        FReadStreamBusy = true;
        stream = shared;
    } else {
        own = CreateStream(&source);
        stream = own.get();
    }
    const TOnExit release([this, shared] {
        if (!shared) return;
        shared->Rebind(nullptr); // the source dies with this reading
        FReadStreamBusy = false;
    });
    const TParserStreamScope reading(*FParser, stream);
    return read(*FParser);
}

TRefPtr<IFact> TInferenceEngine::ParseFact(std::string_view text) {
    TRefPtr<IFact> fact = ReadFrom(text, [](TIEParser& p) { return p.ParseFact(); });
    if (!fact) return fact;
    // The slot expressions are evaluated in the root context, also inside a multifield.
    if (auto* f = dynamic_cast<TFact*>(fact.get())) EvaluateSlotCalls(*f, FRootContext.get());
    return fact;
}

TRefPtr<IFact> TInferenceEngine::ParseFactSetFact(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) {
        TDeferDynamicDefaults deferred(p);
        return p.ParseFact();
    });
}

TRefPtr<IFactSlot> TInferenceEngine::ParseFactSlot(std::string_view text, TFactTemplate& owner) {
    return ReadFrom(text, [&owner](TIEParser& p) { return p.ParseFactTemplateSlot(&owner); });
}

TRefPtr<IIEValue> TInferenceEngine::ParseValue(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return p.ParseValue(); });
}

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
        for (const auto& entry : *FRules)
            static_cast<TRule*>(entry.Value())->Reset();
        AssertInitialFact();
        if (FResetGlobals) FGlobalVariables->BindAll();
        for (TFactSet* factSet : std::vector<TFactSet*>(FFactSets->Items()))
            factSet->AssertFacts();
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
        if (FUserFunctions->DeffunctionCount() > 0) {
            std::vector<std::string> names;
            for (const auto& entry : *FUserFunctions)
                if (dynamic_cast<TInterpretedFunction*>(entry.Intf().get()))
                    names.push_back(entry.Key());
            for (const auto& name : names)
                FUserFunctions->RemoveFunction(name);
        }
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

void TInferenceEngine::ExecuteCommand(std::string_view text, bool execute) {
    TStringStream source(text);
    std::unique_ptr<TIETokenizerStream> stream = CreateStream(&source);
    const TParserStreamScope reading(*FParser, stream.get());
    FParser->Parse(execute);
}

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

void TInferenceEngine::ExecuteLines(const std::vector<TExecuteLine>& lines) {
    if (!FParser) return;
    TRestore<TErrorHandling> restore(FParser->ErrorHandling, ehRaiseImmediate);
    for (const auto& line : lines) {
        try {
            if (line.IsFact)
                FMemory->Assert(ParseFact(line.Text), false);
            else
                ExecuteCommand(line.Text, true);
        } catch (const EException&) {
            // A line that no longer reads is dropped; the others still run.
        }
    }
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
    FUserFunctions->Clear();
    std::vector<TInterpretedFunction*> deffunctions;
    for (const auto& entry : *source.FUserFunctions) {
        auto* f = dynamic_cast<IUserFunction*>(entry.Intf().get());
        if (!f) continue;
        if (auto* d = dynamic_cast<TInterpretedFunction*>(f))
            deffunctions.push_back(d);
        else
            f->AddReasoner(this);
    }
    std::sort(deffunctions.begin(), deffunctions.end(),
              [](const TInterpretedFunction* a, const TInterpretedFunction* b) {
                  return a->GetFunctionName() < b->GetFunctionName();
              });
    bool ok = true;
    for (TInterpretedFunction* d : deffunctions) {
        try {
            TRefPtr<IUserFunction> f = ParseFunction(FormatDeffunction(*d));
            if (f) FUserFunctions->PutFunction(f->GetFunctionName(), f);
        } catch (const EException&) {
            if (!tolerant) throw;
            ok = false;
        }
    }
    return ok;
}

TRefPtr<IFunCall> TInferenceEngine::CreateFunCall(std::string_view name) {
    return TFunctionCall::Create(this, name);
}

// ---------------------------------------------------------------------------------------------
// Evaluating facts

// ---------------------------------------------------------------------------------------------
// Template and type replacement

namespace {

// Whether a value, at any depth of calls and lists, holds a fact of the template.
bool MentionsTemplate(const IIEValue* value, const IFactTemplate* factTemplate, int depth = 0) {
    if (!value || depth > 64) return false;
    switch (value->GetDType()) {
    case dtFact: {
        TRefPtr<IFact> fact = value->AsFact();
        return fact && fact->GetTemplate().get() == factTemplate;
    }
    case dtFunCall: {
        TRefPtr<IFunCall> call = value->AsFunCall();
        for (int32_t i = 0; call && i < call->ArgumentCount(); ++i)
            if (MentionsTemplate(call->GetArgument(i).get(), factTemplate, depth + 1)) return true;
        return false;
    }
    case dtList: {
        TRefPtr<IValueVector> list = value->AsList();
        for (int32_t i = 0; list && i < list->Count(); ++i)
            if (MentionsTemplate(list->GetItem(i).get(), factTemplate, depth + 1)) return true;
        return false;
    }
    default:
        return false;
    }
}

bool RuleUsesTemplate(const TRule& rule, const IFactTemplate* factTemplate) {
    for (int32_t p = 0; p < rule.PatternCount(); ++p)
        if (rule.GetPattern(p)->FactTemplate().get() == factTemplate) return true;
    for (int32_t a = 0; a < rule.ActionCount(); ++a) {
        const TRefPtr<IFunCall>& call = rule.GetAction(a);
        for (int32_t i = 0; call && i < call->ArgumentCount(); ++i)
            if (MentionsTemplate(call->GetArgument(i).get(), factTemplate)) return true;
    }
    return false;
}

void ClearFactSetFactsOf(TFactSets& sets, const IFactTemplate* factTemplate) {
    for (TFactSet* set : sets.Items()) {
        TFactSetFacts& facts = set->Facts();
        for (int32_t i = 0; i < facts.Count(); ++i) {
            auto fact = facts.GetInterfaceAs<IFact>(i);
            if (fact && fact->GetTemplate().get() == factTemplate) facts.PutInterface(i, nullptr);
        }
    }
}

} // namespace

void TInferenceEngine::RebuildTemplateDependants(IFactTemplate* oldTemplate,
                                                 IFactTemplate* newTemplate) {
    if (!oldTemplate) return;
    if (!newTemplate || oldTemplate->GetName() != newTemplate->GetName()) {
        RemoveTemplateDependants(oldTemplate);
        return;
    }
    // The facts go now and come back as text, read against the new template.
    std::vector<TExecuteLine> lines;
    FMemory->RetractFactsOf(oldTemplate, [&](const TRefPtr<IFact>& fact) {
        lines.push_back({FormatFact(*fact), true});
    });
    ClearFactSetFactsOf(*FFactSets, oldTemplate);
    std::vector<std::string> names;
    for (const auto& entry : *FRules) {
        auto* rule = static_cast<TRule*>(entry.Value());
        if (RuleUsesTemplate(*rule, oldTemplate)) {
            names.push_back(entry.Key());
            lines.push_back({FormatRule(*rule), false});
        }
    }
    for (const auto& name : names)
        FRules->RemoveRule(name);
    ExecuteLines(lines);
}

void TInferenceEngine::RebuildTypeDependants(IIEDefinedType* oldType, IIEDefinedType* newType) {
    if (!oldType) return;
    if (!newType || oldType->GetName() != newType->GetName()) {
        RemoveTemplatesUsingType(oldType);
        return;
    }
    std::vector<TRefPtr<IFactTemplate>> users;
    for (const auto& entry : *FFactTemplates) {
        auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get());
        if (!t) continue;
        for (int32_t i = 0; i < t->SlotCount(); ++i)
            if (t->SlotAt(i)->GetExtendedTypeInfo().get() == oldType) {
                users.emplace_back(t);
                break;
            }
    }
    TRefPtr<IIEDefinedType> replacement(newType);
    for (const auto& t : users) {
        // The same template on the new type: every slot of the old type takes the new one.
        TRefPtr<IFactTemplate> rebuilt = t->CloneFor(this);
        for (int32_t i = 0; i < rebuilt->SlotCount(); ++i) {
            TRefPtr<IFactSlot> slot = rebuilt->SlotAt(i);
            if (slot->GetExtendedTypeInfo().get() == oldType)
                slot->SetExtendedTypeInfo(replacement);
        }
        FFactTemplates->ReplaceTemplate(t, rebuilt);
    }
}

void TInferenceEngine::ReplaceFactTemplate(std::string_view name,
                                           const TRefPtr<IFactTemplate>& item) {
    if (FFactTemplates->ContainsKey(name)) FFactTemplates->RemoveTemplate(name);
    if (item) FFactTemplates->PutTemplate(item->GetName(), item);
}

// ---------------------------------------------------------------------------------------------
// Readers and writers

namespace {
TIEClipsParser& ClipsParser(TIEParser& parser, std::string_view what) {
    auto* clips = dynamic_cast<TIEClipsParser*>(&parser);
    if (!clips) RaiseIE(imUnableToParseStrings, what);
    return *clips;
}
} // namespace

TRefPtr<IIEDefinedType> TInferenceEngine::ParseDefinedType(std::string_view text) {
    return ReadFrom(text,
                    [](TIEParser& p) { return ClipsParser(p, "deftype").ParseDefinedType(); });
}

TRefPtr<IFactTemplate> TInferenceEngine::ParseFactTemplate(std::string_view text) {
    return ReadFrom(text,
                    [](TIEParser& p) { return ClipsParser(p, "deftemplate").ParseFactTemplate(); });
}

TRule* TInferenceEngine::ParseRule(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return ClipsParser(p, "defrule").ParseRule(); });
}

TRefPtr<IUserFunction> TInferenceEngine::ParseFunction(std::string_view text) {
    return ReadFrom(text,
                    [](TIEParser& p) { return ClipsParser(p, "deffunction").ParseFunction(); });
}

TFactSet* TInferenceEngine::ParseFactSet(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return ClipsParser(p, "deffacts").ParseFactSet(); });
}

TRefPtr<IFunCall> TInferenceEngine::ParseFunCall(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return p.ParseFunCall(); });
}

TRefPtr<IIEValue> TInferenceEngine::EvaluateFunCall(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return p.EvaluateFunCall(); });
}

TRefPtr<IIEValue> TInferenceEngine::ParseList(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return p.ParseList(); });
}

TRefPtr<IFuzzySet> TInferenceEngine::ParseFuzzySet(IFuzzyVariable* variable,
                                                   std::string_view text) {
    if (!variable) RaiseIE(imFuzzyVariableNotDefined);
    return ReadFrom(text, [variable](TIEParser& p) {
        return ClipsParser(p, "deffuzzyset").ParseFuzzySet(*variable);
    });
}

TRefPtr<IFuzzyVariable> TInferenceEngine::ParseFuzzyVariable(std::string_view text) {
    return ReadFrom(
        text, [](TIEParser& p) { return ClipsParser(p, "deffuzzyvariable").ParseFuzzyVariable(); });
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
    switch (type) {
    case dtNone:
        return TIEValue::Create();
    case dtAtom:
        return TIEValue::CreateText(dtAtom, text);
    case dtString: {
        size_t first = 0, last = text.size();
        while (first < last && text[first] == '"')
            ++first;
        while (last > first && text[last - 1] == '"')
            --last;
        return TIEValue::CreateText(dtString, text.substr(first, last - first));
    }
    case dtInteger:
    case dtFactId:
        return TIEValue::CreateInteger(type, StrToInt(text));
    case dtFloat:
        return TIEValue::CreateFloat(StrToFloat(text));
    case dtVariable:
    case dtMultiVariable:
    case dtSlot:
    case dtMultiSlot:
        return TIEValue::CreateText(type, text);
    case dtFunCall:
        return TIEValue::CreateFunCall(ParseFunCall(text));
    case dtFact:
        return TIEValue::CreateFact(ParseFact(text));
    case dtList: {
        TRefPtr<IIEValue> value = ParseValue(text);
        return value ? value : IEEmptyList();
    }
    default:
        break;
    }
    if (static_cast<int>(type) >= IETypeCount)
        throw EIEException("Unknown Type (" + std::to_string(static_cast<int>(type)) + ")");
    RaiseIE(imUnableToParseStrings, IETypeName(type));
}

// ---------------------------------------------------------------------------------------------
// The whole engine as text

std::string TInferenceEngine::GetText() {
    return TEngineFiles(*this).Text();
}

void TInferenceEngine::SetText(std::string_view text) {
    TStringStream source(text);
    std::unique_ptr<TIETokenizerStream> stream = CreateStream(&source);
    const TParserStreamScope reading(*FParser, stream.get());
    Clear();
    FParser->Parse(true);
    Reset();
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

void TInferenceEngine::ParseGlobal(std::string_view text, std::string& name,
                                   TRefPtr<IIEValue>& value) {
    ReadFrom(text, [&](TIEParser& p) {
        ClipsParser(p, "defglobal").ParseVariable(name, value);
        return true;
    });
}

void TInferenceEngine::Assign(const TPersistent* source) {
    auto* other = dynamic_cast<const TInferenceEngine*>(source);
    if (!other) {
        TComponent::Assign(source);
        return;
    }
    if (other == this) return;
    auto& src = const_cast<TInferenceEngine&>(*other);
    Clear();
    // The source's classes make this engine's parser and streams from now on; the parser
    // object itself is kept when the class is the same, so the host's parse events stay.
    FStreamFactory = src.FStreamFactory;
    FDefaultStreamFactory = src.FDefaultStreamFactory;
    const TIEParser& mine = *FParser;
    const TIEParser& theirs = *src.FParser;
    if (typeid(mine) != typeid(theirs)) {
        FParserFactory = src.FParserFactory;
        std::unique_ptr<TIEParser> parser = NewParser();
        parser->OnParse = FParser->OnParse;
        parser->OnParseFunCall = FParser->OnParseFunCall;
        parser->OnParseVariable = FParser->OnParseVariable;
        FParser = std::move(parser);
    }
    FParser->TemplatesMustExist = src.FParser->TemplatesMustExist;
    const TTypeChecks checks = src.FTypeChecks;
    SetTypeChecks(TTypeChecks{});
    struct TRestoreChecks {
        TInferenceEngine& E;
        TTypeChecks C;
        ~TRestoreChecks() { E.SetTypeChecks(C); }
    } restoreChecks{*this, checks};
    FRun->AdoptStrategy(src.Strategy());
    SetFactDuplication(src.FactDuplication());
    FDuplicateConstructs = src.FDuplicateConstructs;
    SetParserMaxErrors(src.FParserMaxErrors);
    SetParserErrorHandling(src.FParserErrorHandling);
    FWatch = src.FWatch;
    FResetGlobals = src.FResetGlobals;
    // First pass over the functions, tolerant: a deffunction may need templates not yet here.
    const int32_t templates = FFactTemplates->Count();
    bool failed = !AssignUserFunctions(src, true);
    if (FFactTemplates->Count() != templates) failed = true;
    FFuzzyAutoTerms = src.FFuzzyAutoTerms;
    SetFuzzyEqualsThreshold(src.FFuzzyEqualsThreshold);
    SetFuzzyCorrelationMethod(src.FuzzyCorrelationMethod());
    SetFuzzyInferenceMethod(src.FuzzyInferenceMethod());
    SetMinActivationStrength(src.FMinActivationStrength);
    FDefinedTypes->Assign(*src.FDefinedTypes);
    FFactTemplates->Assign(*src.FFactTemplates);
    if (failed) AssignUserFunctions(src, false);
    FGlobalVariables->Assign(*src.FGlobalVariables);
    FFactSets->Assign(*src.FFactSets);
    Facts().Assign(src.Facts());
    FRules->Assign(*src.FRules);
}

// ---------------------------------------------------------------------------------------------
// Fuzzy facts

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

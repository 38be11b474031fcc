#include "engine/InferenceEngine.h"

#include <algorithm>
#include <array>
#include <filesystem>
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
#include "platform/Assert.h"
#include "platform/DateTime.h"
#include "platform/Format.h"
#include "platform/Restore.h"
#include "platform/StoredProperties.h"
#include "platform/Streams.h"

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

std::array<TPackageFactory, 9>& PackageFactories() {
    static std::array<TPackageFactory, 9> factories;
    return factories;
}

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

void RegisterPackageFactory(TFunctionPackage package, TPackageFactory factory) {
    PackageFactories()[package] = std::move(factory);
}

bool PackageFactoryRegistered(TFunctionPackage package) {
    return PackageFactories()[package] != nullptr;
}

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
    void AssertFact(const TRefPtr<IFact>& fact) override { FEngine.AssertFact(fact); }

    IFuzzyParser* FuzzyParser() override { return &FEngine; }

private:
    TInferenceEngine& FEngine;
};

TInferenceEngine::TInferenceEngine(TComponent* owner)
    : TComponent(owner), FConstructSink(std::make_unique<TEngineConstructSink>(*this)) {
    FParserFactory = [](TInferenceEngine* engine) -> std::unique_ptr<TIEParser> {
        return std::make_unique<TIEClipsParser>(engine, nullptr);
    };
    FStreamFactory = [](TStream* stream) -> std::unique_ptr<TIETokenizerStream> {
        return std::make_unique<TIEClipsStream>(stream);
    };
    FParser = NewParser();
    FIOStreams = std::make_unique<TIOStreams>(this);
    FGlobalVariables = std::make_unique<TGlobalVariables>(this);
    FDefinedTypes = std::make_unique<TIEDefinedTypes>(this);
    FAgenda = std::make_unique<TIEAgenda>(this);
    FFactTemplates = std::make_unique<TFactTemplates>(this);
    FFacts = std::make_unique<TFacts>(this);
    FFactSets = std::make_unique<TFactSets>(this);
    {
        auto matcher = std::make_unique<TReteMatcher>(this, this);
        FRete = &matcher->Net();
        FNetwork = std::move(matcher);
    }
    FRules = std::make_unique<TRules>(this);
    FEngineVariables = std::make_unique<TEngineVariables>(this);
    FUserFunctions = std::make_unique<TUserFunctions>(this);
    FRootContext = std::make_unique<TIEContext>(nullptr, this);
    CreateImpliedConstructs();
    FFacts->SetIndexed(true);
    AfterConstruction();
}

TInferenceEngine::~TInferenceEngine() {
    // No event reaches the host while the engine goes.
    ClearEventHandlers();
    FActivity = eaIdle;
    FFiring = nullptr;
    try {
        DoClear();
    } catch (...) {
        // Destruction cannot report; what Clear could not free is freed below.
    }
    FDribble.reset();
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
    FAgenda.reset();
    FFactSets.reset();
    FFacts.reset();
    FPendingAssertions.clear();
    FPendingRetractions.clear();
    FRete = nullptr;
    FNetwork.reset();
    FRootContext.reset();
    FEngineVariables.reset();
    FParser.reset();
    FIOStreams.reset();
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
        const TPackageFactory& factory = PackageFactories()[p];
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

void TInferenceEngine::SetFactDuplication(bool value) {
    if (value == FFactDuplication) return;
    FFactDuplication = value;
    FFacts->SetIndexed(!value);
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

void TInferenceEngine::SetStrategy(TSearchStrategy value) {
    if (value == FStrategy) return;
    // Every activation is filed again, in its former order, under the new strategy; the
    // activations themselves stay (with their strengths and their place in the node lists).
    std::vector<TActivation*> all = FAgenda->ExtractAll();
    FStrategy = value;
    FAgenda->SetStrategy(value);
    size_t next = 0;
    // The agenda must not lose what it owned: when filing one fails, the rest goes back
    // untraced.
    const TOnFailure refile([&] {
        for (size_t j = next; j < all.size(); ++j)
            FAgenda->AddActivation(all[j], all[j]->Salience());
    });
    while (next < all.size())
        AddActivation(all[next++]);
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

void TInferenceEngine::FactSetAttached(TFactSet& factSet) {
    FFactSets->Add(&factSet);
}

void TInferenceEngine::FactSetDetached(TFactSet& factSet) {
    FFactSets->Remove(&factSet);
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

void TInferenceEngine::ForEachFact(const std::function<void(const TRefPtr<IFact>&)>& visit) {
    // A copy: priming may assert goal facts, which are queued, but stay safe regardless.
    const std::vector<TRefPtr<IFact>> facts = FFacts->Items();
    for (const auto& f : facts)
        visit(f);
}

void TInferenceEngine::AssertGoalFact(const TRefPtr<IFact>& fact) {
    AssertFact(fact, false);
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
        TRestore<int32_t> propagating(FPropagating, FPropagating + 1);
        FNetwork->AddRule(rule);
    }
    ProcessPendingFacts();
}

void TInferenceEngine::RemoveRule(TRule* rule) {
    if (!rule) return;
    if (OnRemoveRule) OnRemoveRule(this, rule);
    if (FNetwork) FNetwork->RemoveRule(rule);
    if (rule->Owner() != this || rule->IsDestroying()) return;
    // A firing rule (at any depth of nested runs) is still evaluating its actions: it leaves the
    // table and the network now and is freed once no rule fires.
    if (FFiring) {
        FRetiredRules.push_back(rule);
        return;
    }
    rule->Free();
}

void TInferenceEngine::FreeRetiredRules() noexcept {
    std::vector<TRule*> retired;
    retired.swap(FRetiredRules);
    for (TRule* rule : retired)
        if (!rule->IsDestroying()) rule->Free();
}

namespace {
void ClearFactSetFactsOf(TFactSets& sets, const IFactTemplate* factTemplate);
} // namespace

void TInferenceEngine::RemoveTemplateDependants(IFactTemplate* factTemplate) {
    if (!factTemplate) return;
    auto sameTemplate = [factTemplate](const TRefPtr<IFact>& f) {
        return f->GetTemplate().get() == factTemplate;
    };
    std::erase_if(FPendingAssertions, sameTemplate);
    std::erase_if(FPendingRetractions, sameTemplate);
    for (int32_t i = FFacts->Count() - 1; i >= 0; --i)
        if (i < FFacts->Count() && sameTemplate(FFacts->Item(i))) RetractAt(i);
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
    AssertFact(t->NewFact(), false);
}

int32_t TInferenceEngine::AssertString(std::string_view text) {
    return AssertFact(ParseFact(text), false);
}

int32_t TInferenceEngine::AssertFactWithInference(const TRefPtr<IFact>& fact,
                                                  TFuzzyInferenceMethod method, bool flag) {
    if (method == FInference) return AssertFact(fact, flag);
    TRestore<TFuzzyInferenceMethod> restore(FInference, method);
    return AssertFact(fact, flag);
}

int32_t TInferenceEngine::AssertFact(const TRefPtr<IFact>& fact, bool flag) {
    if (!fact || !fact->GetTemplate()) RaiseIE(imFactTemplateMissing);
    // Requested while a token propagates: carried out right after that propagation.
    if (FPropagating > 0) {
        QueueFact(fact, true);
        return -1;
    }
    const bool fuzzy = fact->GetTemplate()->IsFuzzy();
    if (fuzzy) {
        // Concluded by a rule: only as strong as the activation that concluded it.
        if (FFiring) ScaleByFiringStrength(*fact, FFiring->Strength());
        // An equal fuzzy fact is absorbed: the new fact takes both, the old one goes.
        const int32_t existing = FFacts->IndexOfFact(fact.get());
        if (existing >= 0) {
            CombineFuzzyFacts(*fact, *FFacts->Item(existing), !flag);
            RetractAt(existing);
        }
    } else if (!FFactDuplication && FFacts->IndexOfFact(fact.get()) >= 0) {
        return -1;
    }
    const int32_t id = FNextFactId++;
    fact->SetFactId(id);
    FFacts->Append(fact);
    if (Tracing(cwFact)) PrintOut("", " ==> " + fact->GetLabel() + std::string(IELineEnd));
    if (FNetwork) {
        TRestore<int32_t> propagating(FPropagating, FPropagating + 1);
        FNetwork->AssertToken(taAdd, fact);
    }
    if (StructureChecks()) CheckStructures();
    ProcessPendingFacts();
    if (OnAssertion) OnAssertion(this, fact.get());
    return id;
}

void TInferenceEngine::RetractAt(int32_t index) {
    TRefPtr<IFact> fact = FFacts->Item(index);
    if (FPropagating > 0) {
        QueueFact(fact, false);
        return;
    }
    if (OnRetraction) OnRetraction(this, fact.get());
    if (FNetwork) {
        TRestore<int32_t> propagating(FPropagating, FPropagating + 1);
        FNetwork->AssertToken(taRemove, fact);
    }
    if (Tracing(cwFact)) PrintOut("", " <== " + fact->GetLabel() + std::string(IELineEnd));
    // The handler or the network may have moved the fact: find it again by identity.
    FFacts->Remove(fact.get());
    if (StructureChecks()) CheckStructures();
    ProcessPendingFacts();
}

int32_t TInferenceEngine::RetractFact(const IFact* fact) {
    const int32_t index = FFacts->IndexOfFact(fact);
    if (index < 0) return index;
    RetractAt(index);
    return index;
}

int32_t TInferenceEngine::RetractString(std::string_view text) {
    TRefPtr<IFact> fact = ParseFact(text);
    return RetractFact(fact.get());
}

int32_t TInferenceEngine::RetractFactByID(const IFact* fact) {
    const int32_t index = FFacts->IndexOf(fact);
    if (index >= 0) RetractAt(index);
    return index;
}

int32_t TInferenceEngine::QueueFact(const TRefPtr<IFact>& fact, bool assert) {
    auto& queue = assert ? FPendingAssertions : FPendingRetractions;
    queue.push_back(fact);
    return static_cast<int32_t>(queue.size()) - 1;
}

void TInferenceEngine::ProcessPendingFacts() {
    // A change that is itself propagating leaves the queues to the outermost change.
    if (FPropagating > 0) return;
    while (!FPendingAssertions.empty()) {
        TRefPtr<IFact> f = std::move(FPendingAssertions.front());
        FPendingAssertions.pop_front();
        AssertFact(f, false);
    }
    while (!FPendingRetractions.empty()) {
        TRefPtr<IFact> f = std::move(FPendingRetractions.front());
        FPendingRetractions.pop_front();
        RetractFact(f.get());
    }
}

int32_t TInferenceEngine::BeginModify(const IFact* fact) {
    // The very fact, not merely an equal one: with FactDuplication on there may be several.
    return RetractFactByID(fact);
}

int32_t TInferenceEngine::EndModify(const TRefPtr<IFact>& fact) {
    return AssertFact(fact, false);
}

void TInferenceEngine::ClearFacts() {
    if (FNetwork) FNetwork->AssertToken(taClear, nullptr);
    if (OnClearFacts) OnClearFacts(this);
}

void TInferenceEngine::ClearQueuesNetworkFactsRules() {
    FPendingAssertions.clear();
    FPendingRetractions.clear();
    if (FNetwork) FNetwork->Clear();
    if (FFacts) FFacts->Clear();
    if (FRules) FRules->Clear();
}

// ---------------------------------------------------------------------------------------------
// Agenda and run

int32_t TInferenceEngine::GetActivationInsertIndex(int32_t salience) const {
    return FAgenda->GetInsertIndex(salience);
}

void TInferenceEngine::AddActivation(TActivation* activation) {
    if (!activation) return;
    // The agenda owns an activation from the moment it is reported: one that never got there
    // is freed (its node forgets it), also before a failure passes on.
    const TOnExit freeUnfiled([activation] {
        if (!activation->InAgenda()) delete activation;
    });
    try {
        const int32_t salience =
            activation->Node() ? activation->Node()->ActivationSalience() : activation->Salience();
        const int32_t index = FAgenda->AddActivation(activation, salience);
        if (Tracing(cwActivation))
            PrintOut("", "==> Activation: " + activation->RuleName() + " : " +
                             activation->Token()->FactIdList() + std::string(IELineEnd));
        if (OnAddActivation) OnAddActivation(this, index, activation);
    } catch (const EAbort&) {
        // A host may refuse to hear of an activation; the activation stays.
    }
}

void TInferenceEngine::RemoveActivation(TActivation* activation) {
    const int32_t index = FAgenda->IndexOf(activation);
    if (index >= 0) RemoveActivationAt(index);
}

void TInferenceEngine::RemoveActivationAt(int32_t index) {
    TActivation* activation = FAgenda->Item(index);
    if (OnRemoveActivation) OnRemoveActivation(this, index, activation);
    if (Tracing(cwActivation))
        PrintOut("", "<== Activation: " + activation->RuleName() + " : " +
                         activation->Token()->FactIdList() + std::string(IELineEnd));
    FAgenda->Extract(activation);
    // A firing activation is freed by the run loop when its firing ends.
    if (!activation->Firing()) delete activation;
}

int32_t TInferenceEngine::RuleFired(TActivation* activation) {
    if (OnRuleFired) OnRuleFired(this, activation->Rule());
    const int32_t index = FAgenda->IndexOf(activation);
    if (index >= 0) RemoveActivationAt(index);
    return index;
}

void TInferenceEngine::StartInference() {
    if (OnStartInference) OnStartInference(this);
    FStartTime = TimerMilliseconds();
    FRulesFired = 0;
    FMaxFacts = FFacts->Count();
    FSumFacts = 0;
    FMaxActivations = FAgenda->Count();
    FSumActivations = 0;
    FHalt = false;
}

bool TInferenceEngine::FireOne() {
    TActivation* activation = FAgenda->FirstIdle();
    if (!activation) return false;
    if (Tracing(cwRule))
        PrintOut("", "FIRE " + std::to_string(FRulesFired) + " " + activation->RuleName() + " " +
                         activation->Token()->FactIdList() + std::string(IELineEnd));
    // The activation stays on the agenda while it fires (its removal is reported when the
    // firing ends), but it belongs to this frame: a nested (run) skips it and a retraction in
    // the action only takes it off the agenda. It is freed here, exactly once, however the
    // firing ends.
    TActivation* outer = FFiring;
    FFiring = activation;
    activation->SetFiring(true);
    struct TEnd {
        TInferenceEngine& E;
        TActivation* A;
        TActivation* Outer;
        ~TEnd() {
            E.FFiring = Outer;
            E.FAgenda->Extract(A);
            delete A;
            if (!Outer) E.FreeRetiredRules();
        }
    } end{*this, activation, outer};
    try {
        activation->Fire();
    } catch (EAbort&) {
        throw;
    } catch (EException& e) {
        NameFailingRule(e, activation->RuleName(), outer == nullptr);
        throw;
    }
    if (StructureChecks()) CheckStructures();
    if (FWatch.Contains(cwStatistics)) {
        const int32_t facts = FFacts->Count();
        const int32_t activations = FAgenda->Count();
        FSumFacts += facts;
        FMaxFacts = std::max(FMaxFacts, facts);
        FSumActivations += activations;
        FMaxActivations = std::max(FMaxActivations, activations);
    }
    return true;
}

int32_t TInferenceEngine::RunLimited(int32_t limit) {
    // A run inside a rule action counts its own firings; the enclosing run's count and
    // statistics go on where they were afterwards.
    struct TOuterRun {
        TInferenceEngine& E;
        bool Nested;
        int32_t Fired;
        int64_t Start;
        double SumFacts, SumActivations;
        int32_t MaxFacts, MaxActivations;
        ~TOuterRun() {
            if (!Nested) return;
            E.FRulesFired = Fired;
            E.FStartTime = Start;
            E.FSumFacts = SumFacts;
            E.FSumActivations = SumActivations;
            E.FMaxFacts = MaxFacts;
            E.FMaxActivations = MaxActivations;
        }
    } outer{*this,     FFiring != nullptr, FRulesFired, FStartTime,
            FSumFacts, FSumActivations,    FMaxFacts,   FMaxActivations};
    // Each nested run fires inside the action that called it, one stack frame chain deeper; a
    // rule that keeps calling (run) is stopped here rather than by the stack.
    if (FFiring && FRunDepth >= MaxRunNesting)
        throw EIEException(
            Format("Run called from rule actions nested more than %d deep", MaxRunNesting));
    CheckChangeAllowed("Run");
    TRestore<int32_t> depth(FRunDepth, FRunDepth + 1);
    StartInference();
    while (!FHalt && FRulesFired < limit && FAgenda->FirstIdle()) {
        bool fired = false;
        {
            std::lock_guard<std::recursive_mutex> lock(FRunLock);
            fired = FireOne();
        }
        if (fired) ++FRulesFired;
    }
    const int32_t fired = FRulesFired;
    EndInference();
    return fired;
}

void TInferenceEngine::EndInference() {
    if (FWatch.Contains(cwStatistics)) {
        FRunTime = static_cast<double>(TimerMilliseconds() - FStartTime) / 1000.0;
        if (FRulesFired > 0) {
            FSumFacts /= FRulesFired;
            FSumActivations /= FRulesFired;
        }
        if (FRulesFired >= 1 && OnPrintOut) {
            const std::string fired = std::to_string(FRulesFired);
            PrintOut("", fired + " rules fired.     Run time is " + Format("%.4f", FRunTime) +
                             " seconds" + std::string(IELineEnd));
            const std::string rate =
                FRunTime == 0.0 ? fired : Format("%.4f", FRulesFired / FRunTime);
            PrintOut("", rate + " rules per second" + std::string(IELineEnd));
            PrintOut("", Format("%.4f", FSumFacts) + " mean number of facts (" +
                             std::to_string(FMaxFacts) + " maximum)" + std::string(IELineEnd));
            PrintOut("", Format("%.4f", FSumActivations) + " mean number of activations (" +
                             std::to_string(FMaxActivations) + " maximum)" +
                             std::string(IELineEnd));
        }
    }
    if (OnEndInference) OnEndInference(this, FRulesFired);
}

// ---------------------------------------------------------------------------------------------
// Reset and clear

void TInferenceEngine::CheckChangeAllowed(std::string_view what) const {
    TEngineActivity activity = FActivity;
    if (activity == eaIdle && FPropagating > 0) activity = eaMatching;
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
    if (FFiring) throw EIEException("Clear is not allowed while rules fire");
    DoClear();
}

void TInferenceEngine::DoReset() {
    {
        // Deffacts, defaults and global values are evaluated while the engine walks its tables.
        TRestore<TEngineActivity> resetting(FActivity, eaResetting);
        FFacts->Clear();
        FNextFactId = 0;
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
    FHalt = false;
    FNextFactId = 0;
    FNextRuleIndex = 0;
    FAgenda->Clear();
    if (FNetwork) FNetwork->Clear();
    FRules->Clear();
    FFactTemplates->Clear();
    FGlobalVariables->Clear();
    FDefinedTypes->Clear();
    FNotOrTestFact = nullptr;
    std::exception_ptr failure;
    try {
        FFactSets->Clear();
        FFacts->Clear();
        FPendingAssertions.clear();
        FPendingRetractions.clear();
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
        FIOStreams->Clear();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!IsDestroying()) CreateImpliedConstructs();
    if (failure) std::rethrow_exception(failure);
    if (OnClear) OnClear(this);
}

// ---------------------------------------------------------------------------------------------
// Input and output

void TInferenceEngine::PrintOut(const std::string& name, const std::string& text) {
    if (name.empty() || name == "t") {
        if (FDribble) {
            FDribble->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
            return;
        }
        if (OnPrintOut) OnPrintOut(this, name, text);
        return;
    }
    if (TGTextStream* stream = FIOStreams->Find(name)) {
        if (stream->ReadOnly())
            throw EIEException(Format("Cannot write to %s: the stream is open for reading", name));
        stream->WriteString(text);
        return;
    }
    if (!OnPrintOut) RaiseIE(imFunctionUnimplemented, "printout");
}

namespace {
[[noreturn]] void RaiseNoReader(std::string_view function) {
    RaiseIE(imEventNotImplemented, function);
}
} // namespace

void TInferenceEngine::ReadLine(const std::string& name, std::string& text) {
    if (!name.empty() && name != "t") {
        if (TGTextStream* stream = FIOStreams->Find(name)) {
            text.clear();
            if (!stream->Eof()) stream->ReadLn(text);
            return;
        }
    }
    if (FBatch) {
        text.clear();
        FBatch->ReadLn(text);
        PrintOut("", text + std::string(IELineEnd));
        return;
    }
    if (OnReadLine) {
        OnReadLine(this, name, text);
        return;
    }
    RaiseNoReader("readline");
}

void TInferenceEngine::ReadToken(const std::string& name, TStreamTokenRef& token) {
    if (!name.empty() && name != "t") {
        if (auto* stream = dynamic_cast<TIETokenizerStream*>(FIOStreams->Find(name))) {
            token = stream->NextToken();
            stream->SkipLine();
            return;
        }
    }
    if (FBatch) {
        token = FBatch->NextToken();
        FBatch->SkipLine();
        // The echo shows the input as the user typed it: a number, whose token holds no text,
        // as written.
        std::string echo = token->GetText();
        if (echo.empty() && token->GetDataType() != dtString) echo = token->SourceText();
        PrintOut("", echo + std::string(IELineEnd));
        return;
    }
    if (OnReadToken) {
        OnReadToken(this, name, token);
        return;
    }
    RaiseNoReader("read");
}

void TInferenceEngine::ExecuteCommand(std::string_view text, bool execute) {
    TStringStream source(text);
    std::unique_ptr<TIETokenizerStream> stream = CreateStream(&source);
    const TParserStreamScope reading(*FParser, stream.get());
    FParser->Parse(execute);
}

namespace {
bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}
} // namespace

bool TInferenceEngine::BatchFromStream(TStream& stream) {
    const TFileNesting nesting(FFileDepth);
    // The batch echoes every line it reads to the dribble file: reading that same file would
    // read its own echo and never reach the end. The names of the files being batched keep the
    // dribble off them in turn.
    const auto* file = dynamic_cast<const TFileStream*>(&stream);
    const std::string fileName = file ? file->FileName() : std::string();
    if (FDribble && SameFile(fileName, FDribbleFileName))
        throw EIEException(Format("Unable to batch %s: it is the dribble file", fileName));
    FBatchFileNames.push_back(fileName);
    const TOnExit pop([this] { FBatchFileNames.pop_back(); });
    std::unique_ptr<TIETokenizerStream> batch = CreateStream(&stream);
    // The former batch comes back however this one ends, and this one's stream is closed.
    TRestore<TIETokenizerStream*> restore(FBatch, batch.get());
    std::string line;
    while (!batch->Eof()) {
        batch->ReadLn(line);
        ExecuteCommand(line, true);
    }
    return true;
}

bool TInferenceEngine::Batch(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    return BatchFromStream(file);
}

bool TInferenceEngine::SetDribbleStream(std::unique_ptr<TStream> stream) {
    FDribble = std::move(stream);
    FDribbleFileName.clear();
    return true;
}

bool TInferenceEngine::DribbleOn(const std::string& fileName) {
    for (const std::string& batchFile : FBatchFileNames)
        if (SameFile(fileName, batchFile))
            throw EIEException(
                Format("Unable to dribble to %s: it is being run as a batch file", fileName));
    try {
        FDribble = std::make_unique<TFileStream>(fileName, fmCreate);
    } catch (const EException&) {
        return false;
    }
    FDribbleFileName = fileName;
    return true;
}

bool TInferenceEngine::DribbleOff() {
    FDribble.reset();
    FDribbleFileName.clear();
    return true;
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
                AssertFact(ParseFact(line.Text), false);
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

TRefPtr<IIEValue> TInferenceEngine::EvaluateSlotValue(const IFactSlot& slot,
                                                      const TRefPtr<IIEValue>& value,
                                                      TIEContext* context) {
    TIEContext* in = context ? context : FRootContext.get();
    if (!value) return value;
    TRefPtr<IIEValue> result = value->Evaluate(in);
    if (!result) return result;
    if (slot.GetSlotType().Contains(dtFuzzy)) {
        const bool fuzzy = result->GetDType() == dtFuzzy;
        bool oneFuzzy = false;
        if (result->GetDType() == dtList) {
            TRefPtr<IValueVector> list = result->AsList();
            oneFuzzy =
                list->Count() == 1 && list->GetItem(0) && list->GetItem(0)->GetDType() == dtFuzzy;
        }
        if (!fuzzy && !oneFuzzy) {
            TRefPtr<IIEDefinedType> type = slot.GetExtendedTypeInfo();
            TRefPtr<IFuzzyVariable> variable = type ? type->GetFuzzyVariable() : nullptr;
            return EvaluateFuzzyExpression(variable.get(), result, in);
        }
        return result;
    }
    if (result->GetDType() == dtList) {
        TRefPtr<IValueVector> list = result->AsList();
        return TIEValue::CreateList(in->EvaluateArguments(*list));
    }
    if (slot.IsMultiSlot()) {
        auto list = TValueVector::Create();
        list->Add(result);
        return TIEValue::CreateList(std::move(list));
    }
    return result;
}

IFact& TInferenceEngine::EvaluateFact(IFact& fact, TIEContext* context) {
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (!t) return fact;
    for (int32_t i = 0, n = t->SlotCount(); i < n; ++i) {
        TRefPtr<IFactSlot> slot = t->SlotAt(i);
        TRefPtr<IIEValue> value;
        if (!fact.FindSlotValue(slot->GetName(), value) || !value) continue;
        fact.SetSlotValue(slot->GetName(), EvaluateSlotValue(*slot, value, context));
    }
    return fact;
}

int32_t TInferenceEngine::AssertFactKeepingId(const TRefPtr<IFact>& fact, int32_t id) {
    const int32_t next = FNextFactId;
    FNextFactId = id;
    const TOnExit restore([&] { FNextFactId = std::max(next, FFacts->HighestID() + 1); });
    return AssertFact(fact, false);
}

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
    auto sameTemplate = [oldTemplate](const TRefPtr<IFact>& f) {
        return f->GetTemplate().get() == oldTemplate;
    };
    std::erase_if(FPendingAssertions, sameTemplate);
    std::erase_if(FPendingRetractions, sameTemplate);
    std::vector<TExecuteLine> lines;
    for (int32_t i = FFacts->Count() - 1; i >= 0; --i) {
        if (i >= FFacts->Count()) continue;
        TRefPtr<IFact> fact = FFacts->Item(i);
        if (!sameTemplate(fact)) continue;
        lines.push_back({FormatFact(*fact), true});
        RetractAt(i);
    }
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
    // The tables, in the order in which they depend on each other.
    filer.DefineProperty(
        "DefTypes",
        [this](TReader& r) {
            FDefinedTypes->Clear();
            for (const auto& text : r.ReadStrings()) {
                TRefPtr<IIEDefinedType> type = ParseDefinedType(text);
                if (type) FDefinedTypes->PutType(type->GetName(), type);
            }
        },
        [this](TWriter& w) {
            std::vector<std::string> texts;
            for (IIEDefinedType* type : FDefinedTypes->AncestorsFirstOrder())
                texts.push_back(DefinedTypeText(*type));
            w.WriteStrings(texts);
        },
        FDefinedTypes->Count() > 0);
    filer.DefineProperty(
        "Templates",
        [this](TReader& r) {
            FFactTemplates->Clear();
            for (const auto& text : r.ReadStrings()) {
                TRefPtr<IFactTemplate> t = ParseFactTemplate(text);
                if (t) FFactTemplates->PutTemplate(t->GetName(), t);
            }
            CreateImpliedConstructs();
        },
        [this](TWriter& w) {
            std::vector<std::string> texts;
            for (IFactTemplate* t : FFactTemplates->ParentsFirstOrder())
                texts.push_back(FormatFactTemplate(*t));
            w.WriteStrings(texts);
        },
        FFactTemplates->Count() > 0);
    filer.DefineProperty(
        "Variables",
        [this](TReader& r) {
            FGlobalVariables->Clear();
            for (const auto& text : r.ReadStrings()) {
                std::string name;
                TRefPtr<IIEValue> value;
                ReadFrom(text, [&](TIEParser& p) {
                    ClipsParser(p, "defglobal").ParseVariable(name, value);
                    return true;
                });
                FGlobalVariables->PutGlobal(name, value);
            }
        },
        [this](TWriter& w) {
            std::vector<std::string> texts;
            for (const auto& entry : *FGlobalVariables)
                texts.push_back(FParser->FormatGlobal(entry.Key(),
                                                      dynamic_cast<IIEValue*>(entry.Intf().get())));
            w.WriteStrings(texts);
        },
        FGlobalVariables->Count() > 0);
    filer.DefineProperty(
        "Rules",
        [this](TReader& r) {
            FRules->Clear();
            for (const auto& text : r.ReadStrings()) {
                TRule* rule = ParseRule(text);
                if (rule && !FRules->PutRule(rule->RuleName(), rule)) rule->Free();
            }
        },
        [this](TWriter& w) {
            std::vector<std::string> texts;
            for (const auto& entry : *FRules)
                texts.push_back(FormatRule(*static_cast<TRule*>(entry.Value())));
            w.WriteStrings(texts);
        },
        FRules->Count() > 0);
    filer.DefineProperty(
        "FactsList",
        [this](TReader& r) {
            for (const auto& text : r.ReadStrings())
                AssertString(text);
        },
        [this](TWriter& w) {
            std::vector<std::string> texts;
            for (const auto& fact : FFacts->Items())
                texts.push_back(FormatFact(*fact));
            w.WriteStrings(texts);
        },
        FFacts->Count() > 0);
    filer.DefineProperty(
        "FactSets",
        [this](TReader& r) {
            for (const auto& text : r.ReadStrings())
                ParseFactSet(text);
        },
        [this](TWriter& w) {
            // Fact sets of other holders are stored by those holders.
            std::vector<std::string> texts;
            for (TFactSet* set : FFactSets->Items())
                if (set->Owner() == this) texts.push_back(FormatFactSet(*set));
            w.WriteStrings(texts);
        },
        FFactSets->Count() > 0);
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
    if (typeid(*FParser) != typeid(*src.FParser)) {
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
    FStrategy = src.FStrategy;
    FAgenda->SetStrategy(FStrategy);
    SetFactDuplication(src.FFactDuplication);
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
    FCorrelation = src.FCorrelation;
    FInference = src.FInference;
    SetMinActivationStrength(src.FMinActivationStrength);
    FDefinedTypes->Assign(*src.FDefinedTypes);
    FFactTemplates->Assign(*src.FFactTemplates);
    if (failed) AssignUserFunctions(src, false);
    FGlobalVariables->Assign(*src.FGlobalVariables);
    FFactSets->Assign(*src.FFactSets);
    FFacts->Assign(*src.FFacts);
    FRules->Assign(*src.FRules);
}

// ---------------------------------------------------------------------------------------------
// Fuzzy facts

void TInferenceEngine::ScaleByFiringStrength(IFact& fact, float strength) {
    if (strength == 1.0f) return;
    if (OnFuzzyCorrelation) {
        bool handled = false;
        float s = strength;
        OnFuzzyCorrelation(this, &fact, handled, s);
        if (handled) return;
    }
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (!t || !t->IsFuzzy()) RaiseIE(imNotFuzzyFact);
    const bool product = FCorrelation == fcmProduct;
    // Each set is scaled on a copy: a slot may hold a term of its variable itself.
    auto scaled = [&](const TRefPtr<IIEValue>& value) -> TRefPtr<IIEValue> {
        if (!value || value->GetDType() != dtFuzzy) return value;
        TRefPtr<IFuzzySet> set = value->AsFuzzy();
        TRefPtr<IFuzzySet> copy = CloneSet(*set);
        copy->Correlate(product, strength);
        return FuzzyValueOf(copy, *set);
    };
    for (int32_t i = 0, n = t->SlotCount(); i < n; ++i) {
        TRefPtr<IFactSlot> slot = t->SlotAt(i);
        if (!slot->IsFuzzy()) continue;
        TRefPtr<IIEValue> value;
        if (!fact.FindSlotValue(slot->GetName(), value) || !value) continue;
        if (value->GetDType() == dtList) {
            TRefPtr<IValueVector> list = value->AsList();
            auto out = TValueVector::Create();
            for (int32_t j = 0; j < list->Count(); ++j)
                out->Add(scaled(list->GetItem(j)));
            fact.SetSlotValue(slot->GetName(), TIEValue::CreateList(std::move(out)));
        } else {
            fact.SetSlotValue(slot->GetName(), scaled(value));
        }
    }
}

void TInferenceEngine::CombineFuzzyFacts(IFact& newFact, const IFact& existingFact, bool useUnion) {
    TRefPtr<IFactTemplate> t = newFact.GetTemplate();
    TRefPtr<IFactTemplate> other = existingFact.GetTemplate();
    if (t.get() != other.get())
        RaiseIE(imCannotUnionFacts, t ? t->GetName() : std::string(),
                other ? other->GetName() : std::string());
    if (!t || !t->IsFuzzy()) RaiseIE(imNotFuzzyFact);
    const TFuzzyOperation op = FuzzyInferenceOperation(FInference);
    // Under these operations the union with the empty value is the other value itself, which
    // keeps its own name instead of one that joins it with the empty term's.
    const bool emptyIsNeutral = useUnion && (op == foZadeh || op == foSum || op == foBoundedSum);
    auto isEmpty = [](const IFuzzySet& set) {
        if (set.GetName() != FuzzyEmptySetName) return false;
        for (int i = 0; i < set.Count(); ++i)
            if (set.GetY(i) > 0.0) return false;
        return true;
    };
    auto combine = [&](const TRefPtr<IIEValue>& a, const TRefPtr<IIEValue>& b) {
        if (!a || !b || a->GetDType() != dtFuzzy || b->GetDType() != dtFuzzy) return a;
        TRefPtr<IFuzzySet> sa = a->AsFuzzy();
        TRefPtr<IFuzzySet> sb = b->AsFuzzy();
        if (emptyIsNeutral && isEmpty(*sb)) return a;
        if (emptyIsNeutral && isEmpty(*sa)) return b->CloneValue();
        return FuzzyValueOf(useUnion ? sa->Union(*sb, op) : sa->Intersection(*sb, op), *sa);
    };
    // Every slot is combined before any is stored, so a failure leaves the fact as it was.
    std::vector<std::pair<std::string, TRefPtr<IIEValue>>> results;
    for (int32_t i = 0, n = t->SlotCount(); i < n; ++i) {
        TRefPtr<IFactSlot> slot = t->SlotAt(i);
        if (!slot->IsFuzzy()) continue;
        TRefPtr<IIEValue> a, b;
        newFact.FindSlotValue(slot->GetName(), a);
        existingFact.FindSlotValue(slot->GetName(), b);
        if (!a || !b) continue;
        if (a->GetDType() == dtList && b->GetDType() == dtList) {
            TRefPtr<IValueVector> la = a->AsList(), lb = b->AsList();
            auto out = TValueVector::Create();
            for (int32_t j = 0; j < la->Count(); ++j)
                out->Add(j < lb->Count() ? combine(la->GetItem(j), lb->GetItem(j))
                                         : la->GetItem(j));
            results.emplace_back(slot->GetName(), TIEValue::CreateList(std::move(out)));
        } else {
            results.emplace_back(slot->GetName(), combine(a, b));
        }
    }
    for (auto& [name, value] : results)
        newFact.SetSlotValue(name, value);
}

void TInferenceEngine::FuzzyInference(IFact& newFact, const IFact& existingFact) {
    bool handled = false;
    if (OnFuzzyInference)
        OnFuzzyInference(this, &newFact, handled, const_cast<IFact*>(&existingFact));
    if (!handled) CombineFuzzyFacts(newFact, existingFact, true);
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

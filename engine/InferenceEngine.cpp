#include "engine/InferenceEngine.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "engine/IEClipsParser.h"
#include "engine/IEDefinedType.h"
#include "engine/IEFacts.h"
#include "engine/IEPackages.h"
#include "engine/IEValue.h"
#include "platform/Streams.h"

namespace ie {

namespace {

std::array<TPackageFactory, 9>& PackageFactories() {
    static std::array<TPackageFactory, 9> factories;
    return factories;
}

// The order in which the packages are created.
constexpr TFunctionPackage PackageOrder[] = {pStandard,     pMiscellaneous, pPredicate,
                                             pMath,         pString,        pObject,
                                             pTrigonometry, pBusiness,      pFuzzyLogic};

double TimerSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Restores a value when the scope ends, also on an exception.
template <class T> class TRestore {
public:
    TRestore(T& ref, T value) : FRef(ref), FOld(ref) { ref = std::move(value); }
    ~TRestore() { FRef = std::move(FOld); }
    TRestore(const TRestore&) = delete;
    TRestore& operator=(const TRestore&) = delete;

private:
    T& FRef;
    T FOld;
};

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

TInferenceEngine::TInferenceEngine(TComponent* owner) : TComponent(owner) {
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
    FDeferred = dfNone;
    FFiring = nullptr;
    try {
        DoClear();
    } catch (...) {
        // Destruction cannot report; what Clear could not free is freed below.
    }
    FDribble.reset();
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
    if (factory) FStreamFactory = std::move(factory);
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

void TInferenceEngine::SetFuzzyEqualsThreshold(float value) noexcept {
    FFuzzyEqualsThreshold = std::clamp(value, 0.0f, 1.0f);
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

void TInferenceEngine::SetSymbolIndex(int32_t value) noexcept {
    if (value > FSymbolIndex)
        FSymbolIndex = value;
    else
        ++FSymbolIndex;
}

void TInferenceEngine::SetTypeChecks(TTypeChecks value) {
    FTypeChecks = value;
    if (FParser) FParser->StaticTypeCheck = value.Contains(tcStatic);
}

std::string TInferenceEngine::GenSym(std::string_view prefix) {
    std::string name(prefix);
    name += std::to_string(FSymbolIndex++);
    return name;
}

void TInferenceEngine::SetStrategy(TSearchStrategy value) {
    if (value == FStrategy) return;
    // Every activation is filed again, in its former order, under the new strategy; the
    // activations themselves stay (with their strengths and their place in the node lists).
    std::vector<TActivation*> all = FAgenda->ExtractAll();
    FStrategy = value;
    FAgenda->SetStrategy(value);
    for (size_t i = 0; i < all.size(); ++i) {
        try {
            AddActivation(all[i]);
        } catch (...) {
            // The agenda must not lose what it owned: the rest goes back untraced.
            for (size_t j = i + 1; j < all.size(); ++j)
                FAgenda->AddActivation(all[j], all[j]->Salience());
            throw;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Templates and rules

TRefPtr<IFactTemplate> TInferenceEngine::FindFactTemplate(std::string_view name) {
    return FFactTemplates->Find(name);
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
    FNetwork->RemoveRule(rule);
    FNetwork->AddRule(rule);
}

void TInferenceEngine::RemoveRule(TRule* rule) {
    if (!rule) return;
    if (OnRemoveRule) OnRemoveRule(this, rule);
    if (FNetwork) FNetwork->RemoveRule(rule);
    if (rule->Owner() == this && !rule->IsDestroying()) rule->Free();
}

void TInferenceEngine::RemoveTemplateDependants(IFactTemplate* factTemplate) {
    if (!factTemplate) return;
    auto sameTemplate = [factTemplate](const TRefPtr<IFact>& f) {
        return f->GetTemplate().get() == factTemplate;
    };
    std::erase_if(FPendingAssertions, sameTemplate);
    std::erase_if(FPendingRetractions, sameTemplate);
    for (int32_t i = FFacts->Count() - 1; i >= 0; --i)
        if (i < FFacts->Count() && sameTemplate(FFacts->Item(i))) RetractAt(i);
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
    std::unique_ptr<TIETokenizerStream> stream = CreateStream(&source);
    struct TRestoreStream {
        TIEParser& P;
        TIETokenizerStream* S;
        ~TRestoreStream() { P.SetStream(S); }
    } restore{*FParser, FParser->Stream()};
    FParser->SetStream(stream.get());
    return read(*FParser);
}

TRefPtr<IFact> TInferenceEngine::ParseFact(std::string_view text) {
    TRefPtr<IFact> fact = ReadFrom(text, [](TIEParser& p) { return p.ParseFact(); });
    if (!fact) return fact;
    // The slot expressions are evaluated in the root context, also inside a multifield.
    auto* f = dynamic_cast<TFact*>(fact.get());
    if (!f) return fact;
    for (int32_t i = 0; i < f->SlotCount(); ++i) {
        const IIEValue* v = f->PeekValue(i);
        if (!v) continue;
        if (v->GetDType() == dtFunCall) {
            f->SetValueAt(i, f->ValueAt(i)->Evaluate(FRootContext.get()));
        } else if (v->GetDType() == dtList) {
            TRefPtr<IValueVector> list = v->AsList();
            bool hasCall = false;
            for (int32_t j = 0; list && j < list->Count() && !hasCall; ++j)
                hasCall = list->GetItem(j) && list->GetItem(j)->GetDType() == dtFunCall;
            if (hasCall)
                f->SetValueAt(i, TIEValue::CreateList(FRootContext->EvaluateArguments(*list)));
        }
    }
    return fact;
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
    (void)flag;
    if (!fact || !fact->GetTemplate()) RaiseIE(imFactTemplateMissing);
    // Requested while a token propagates: carried out right after that propagation.
    if (FPropagating > 0) {
        QueueFact(fact, true);
        return -1;
    }
    const bool fuzzy = fact->GetTemplate()->IsFuzzy();
    if (fuzzy) {
        const int32_t existing = FFacts->IndexOfFact(fact.get());
        if (existing >= 0) RetractAt(existing);
    } else if (!FFactDuplication && FFacts->IndexOfFact(fact.get()) >= 0) {
        return -1;
    }
    const int32_t id = FNextFactId++;
    fact->SetFactId(id);
    FFacts->Append(fact);
    if (Tracing(cwFact)) PrintOut("", " ==> " + fact->GetLabel() + std::string(IELineEnd));
    if (FNetwork) {
        ++FPropagating;
        try {
            FNetwork->AssertToken(taAdd, fact);
        } catch (...) {
            --FPropagating;
            throw;
        }
        --FPropagating;
    }
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
        ++FPropagating;
        try {
            FNetwork->AssertToken(taRemove, fact);
        } catch (...) {
            --FPropagating;
            throw;
        }
        --FPropagating;
    }
    if (Tracing(cwFact)) PrintOut("", " <== " + fact->GetLabel() + std::string(IELineEnd));
    // The handler or the network may have moved the fact: find it again by identity.
    const int32_t at = FFacts->IndexOf(fact.get());
    if (at >= 0) FFacts->Extract(at);
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
        FPendingAssertions.erase(FPendingAssertions.begin());
        AssertFact(f, false);
    }
    while (!FPendingRetractions.empty()) {
        TRefPtr<IFact> f = std::move(FPendingRetractions.front());
        FPendingRetractions.erase(FPendingRetractions.begin());
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
    } catch (...) {
        // The agenda owns an activation from the moment it is reported: one that never got
        // there is freed (its node forgets it) before the failure passes on.
        if (!activation->InAgenda()) delete activation;
        throw;
    }
    if (!activation->InAgenda()) delete activation;
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
    FStartTime = TimerSeconds();
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
        }
    } end{*this, activation, outer};
    activation->Fire();
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
        double Start, SumFacts, SumActivations;
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
    StartInference();
    while (!FHalt && FRulesFired < limit && FAgenda->FirstIdle()) {
        bool fired = false;
        {
            std::lock_guard<std::recursive_mutex> lock(FRunLock);
            try {
                fired = FireOne();
            } catch (...) {
                if (!FFiring) RunDeferred();
                throw;
            }
        }
        if (fired) ++FRulesFired;
        if (!FFiring) RunDeferred();
    }
    const int32_t fired = FRulesFired;
    EndInference();
    return fired;
}

void TInferenceEngine::EndInference() {
    if (FWatch.Contains(cwStatistics)) {
        FRunTime = TimerSeconds() - FStartTime;
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

void TInferenceEngine::Reset() {
    // From a rule action: carried out when the firing ends, so the firing rule, its activation
    // and its token stay alive while the action runs.
    if (FFiring) {
        if (FDeferred != dfClear) FDeferred = dfReset;
        return;
    }
    DoReset();
}

void TInferenceEngine::Clear() {
    if (FFiring) {
        FDeferred = dfClear;
        return;
    }
    DoClear();
}

void TInferenceEngine::RunDeferred() {
    const TDeferred what = FDeferred;
    FDeferred = dfNone;
    if (what == dfReset) DoReset();
    if (what == dfClear) DoClear();
}

void TInferenceEngine::DoReset() {
    FFacts->Clear();
    FNextFactId = 0;
    for (const auto& entry : *FRules)
        static_cast<TRule*>(entry.Value())->Reset();
    AssertInitialFact();
    if (FResetGlobals) FGlobalVariables->BindAll();
    for (TFactSet* factSet : std::vector<TFactSet*>(FFactSets->Items()))
        factSet->AssertFacts();
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
        PrintOut("", token->GetText() + std::string(IELineEnd));
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
    TIETokenizerStream* former = FParser->Stream();
    struct TRestoreStream {
        TIEParser& P;
        TIETokenizerStream* S;
        ~TRestoreStream() { P.SetStream(S); }
    } restore{*FParser, former};
    FParser->SetStream(stream.get());
    FParser->Parse(execute);
}

bool TInferenceEngine::BatchFromStream(TStream& stream) {
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
    return true;
}

bool TInferenceEngine::DribbleOn(const std::string& fileName) {
    try {
        FDribble = std::make_unique<TFileStream>(fileName, fmCreate);
    } catch (const EException&) {
        return false;
    }
    return true;
}

bool TInferenceEngine::DribbleOff() {
    FDribble.reset();
    return true;
}

void TInferenceEngine::ExecuteLines(const std::vector<std::string>& lines) {
    if (!FParser) return;
    TRestore<TErrorHandling> restore(FParser->ErrorHandling, ehRaiseImmediate);
    for (const auto& line : lines) {
        try {
            ExecuteCommand(line, true);
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

void TInferenceEngine::AssignUserFunctions(TInferenceEngine& source) {
    FUserFunctions->Clear();
    for (const auto& entry : *source.FUserFunctions) {
        auto* f = dynamic_cast<IUserFunction*>(entry.Intf().get());
        if (f && !dynamic_cast<TInterpretedFunction*>(f)) f->AddReasoner(this);
    }
}

TRefPtr<IFunCall> TInferenceEngine::CreateFunCall(std::string_view name) {
    return TFunctionCall::Create(this, name);
}

} // namespace ie

// The inference engine component: the published face of the engine. It owns the construct
// tables, the Rete network, the rule-language parser and the function packages, and three
// collaborators that do the work of one concern each: the working memory (TWorkingMemory:
// assert, retract, modify, the pending queues, the duplicate index), the run control
// (TRunControl: the agenda, the network's activation reports, the run loop, halting,
// statistics) and the input/output router (TIORouter: printout, read, dribble, batch). The
// reader's entry points (TEngineReader, owned too), the construct cascades (TConstructCascades),
// files (TEngineFiles), copying (TEngineCopy) and the objects rule code made (TMadeObjects) are
// units of their own as well. The engine carries the settings and events through which a host
// watches it; its operations forward to the collaborators.
//
// Working-memory changes follow one road: a fact is numbered, stored, traced and sent through
// the network as a token; assertions and retractions requested while a token propagates are
// queued and carried out right after it, in request order, before the outer call returns.
// The run loop fires the first activation of the agenda until the agenda is empty, the halt
// flag is set or the firing limit is reached.
//
// Re-entrancy from rule actions: a (run) inside an action runs a nested loop that skips the
// activations being fired (they stay on the agenda, marked firing, until their firing ends and
// reports their removal) and counts only its own firings. (reset) inside an action is carried
// out at once, like a retraction of every fact, so the actions after it see its result; (clear)
// would free the rules that are running and is refused while rules fire.
//
// Re-entrancy from what the engine evaluates in the middle of its own structures (pattern and
// join tests and salience while a token propagates or a rule is compiled, deffacts, defaults and
// global values while it resets): commands that would change those structures (clear, reset,
// run, defining or removing rules, redefining or removing templates, types and fact sets,
// defining globals) are refused with a message naming what the engine is doing.
//
// Traces are formatted only when their watch is on and OnPrintOut is assigned.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineReader.h"
#include "engine/EngineTables.h"
#include "engine/IORouter.h"
#include "engine/MadeObjects.h"
#include "engine/RunControl.h"
#include "engine/WorkingMemory.h"
#include "engine/lang/IEParser.h"
#include "engine/match/ActivationAgenda.h"
#include "engine/match/IERule.h"
#include "engine/match/ReteMatcher.h"
#include "engine/match/ReteNetwork.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEInterfaces.h"
#include "engine/model/IEInterpretedFunction.h"
#include "fuzzy/FuzzyInterfaces.h"
#include "platform/Component.h"
#include "platform/Exceptions.h"

namespace ie {

class TRule;
class TFactSet;
class TIEParser;
class TIETokenizerStream;
class TEngineConstructSink;
class TEngineFiles;
class TEngineCopy;

// Engine events.
using TAgendaEvent =
    std::function<void(TInferenceEngine* Sender, int32_t Index, TActivation* Activation)>;
using TRuleEvent = std::function<void(TInferenceEngine* Sender, TRule* Rule)>;
using TUserFunctionEvent = std::function<void(TInferenceEngine* Sender, IUserFunction* Function)>;
using TFactEvent = std::function<void(TInferenceEngine* Sender, IFact* Fact)>;
using TFactTemplateEvent =
    std::function<void(TInferenceEngine* Sender, IFactTemplate* FactTemplate)>;
using TEngineNotifyEvent = std::function<void(TInferenceEngine* Sender)>;
using TReadTokenEvent =
    std::function<void(TInferenceEngine* Sender, const std::string& InID, TStreamTokenRef& Token)>;
using TFuzzyCorrelationEvent =
    std::function<void(TInferenceEngine* Sender, IFact* Fact, bool& Handled, float& Strength)>;
using TFactCombineEvent = std::function<void(TInferenceEngine* Sender, IFact* NewFact,
                                             bool& Handled, IFact* ExistingFact)>;
using TPrintOutEvent = std::function<void(TInferenceEngine* Sender, const std::string& OutID,
                                          const std::string& Text)>;
// The handler fills Text with the line read.
using TReadLineEvent =
    std::function<void(TInferenceEngine* Sender, const std::string& InID, std::string& Text)>;
using TInferenceEvent = std::function<void(TInferenceEngine* Sender, int32_t RulesFired)>;

inline constexpr TFunctionPackages AllFunctionPackages = TFunctionPackages::FromBits(511);

// Every event of the engine, in one place: the engine publishes them, and hosts such as the
// console take all of them over at once and give them back by swapping this part.
struct TEngineEvents {
    TEngineNotifyEvent OnAddDefaultPackages;
    TAgendaEvent OnAddActivation, OnRemoveActivation;
    TIEDefinedTypeEvent OnAddDefinedType, OnRemoveDefinedType;
    TRuleEvent OnAddRule, OnRemoveRule, OnRuleFired;
    TUserFunctionEvent OnAddUserFunction, OnRemoveUserFunction;
    TFactEvent OnAssertion, OnRetraction;
    TFactTemplateEvent OnNewFactTemplate, OnRemoveFactTemplate;
    TEngineNotifyEvent OnClear, OnClearDefinedTypes, OnClearFacts, OnClearFactTemplates,
        OnClearRules, OnReset;
    TEngineNotifyEvent OnStartInference;
    TInferenceEvent OnEndInference;
    TFuzzyCorrelationEvent OnFuzzyCorrelation;
    TFactCombineEvent OnFuzzyInference;
    TPrintOutEvent OnPrintOut;
    TReadLineEvent OnReadLine;
    TReadTokenEvent OnReadToken;
};

class TInferenceEngine : public TComponent,
                         public IReasoner,
                         public IParserEngine,
                         public IRuleEngine,
                         public IFactServices,
                         public IFuzzyParser,
                         public TEngineEvents {
public:
    explicit TInferenceEngine(TComponent* owner = nullptr);
    ~TInferenceEngine() override;

    std::string_view ClassName() const override { return "TInferenceEngine"; }
    // Creates the packages and asserts "(Initial-Fact)"; the constructor calls it.
    void AfterConstruction();

    // --- Settings ---
    TDuplicateConstructs DuplicateConstructs() const noexcept { return FDuplicateConstructs; }
    void SetDuplicateConstructs(TDuplicateConstructs v) noexcept { FDuplicateConstructs = v; }
    TFunctionPackages Packages() const noexcept { return FPackages; }
    void SetPackages(TFunctionPackages value);
    bool FactDuplication() const noexcept { return FMemory->FactDuplication(); }
    void SetFactDuplication(bool value) { FMemory->SetFactDuplication(value); }
    bool FuzzyAutoTerms() const noexcept { return FFuzzyAutoTerms; }
    void SetFuzzyAutoTerms(bool value) noexcept { FFuzzyAutoTerms = value; }
    TFuzzyCorrelationMethod FuzzyCorrelationMethod() const noexcept {
        return FMemory->FuzzyCorrelationMethod();
    }
    void SetFuzzyCorrelationMethod(TFuzzyCorrelationMethod v) noexcept {
        FMemory->SetFuzzyCorrelationMethod(v);
    }
    TFuzzyInferenceMethod FuzzyInferenceMethod() const noexcept {
        return FMemory->FuzzyInferenceMethod();
    }
    void SetFuzzyInferenceMethod(TFuzzyInferenceMethod v) noexcept {
        FMemory->SetFuzzyInferenceMethod(v);
    }
    float FuzzyEqualsThreshold() const noexcept { return FFuzzyEqualsThreshold; }
    void SetFuzzyEqualsThreshold(float value);
    float MinActivationStrength() const noexcept { return FMinActivationStrength; }
    void SetMinActivationStrength(float value);
    TErrorHandling ParserErrorHandling() const noexcept { return FParserErrorHandling; }
    void SetParserErrorHandling(TErrorHandling value);
    int32_t ParserMaxErrors() const noexcept { return FParserMaxErrors; }
    void SetParserMaxErrors(int32_t value);
    bool ResetGlobals() const noexcept { return FResetGlobals; }
    void SetResetGlobals(bool value) noexcept { FResetGlobals = value; }
    TSearchStrategy Strategy() const noexcept { return FRun->Strategy(); }
    void SetStrategy(TSearchStrategy value) { FRun->SetStrategy(value); }
    // The limits of nesting: runs inside rule actions, and loads and batches inside each other.
    static constexpr int32_t MaxRunNesting = TRunControl::MaxRunNesting;
    static constexpr int32_t MaxFileNesting = TIORouter::MaxFileNesting;

    int32_t SymbolIndex() const noexcept { return FSymbolIndex; }
    // A value above the current one is stored; any other only counts the current one up. The
    // counter never passes the largest integer: past it, GenSym refuses.
    void SetSymbolIndex(int32_t value) noexcept;
    TTypeChecks TypeChecks() const noexcept { return FTypeChecks; }
    void SetTypeChecks(TTypeChecks value);
    TConstructWatches Watch() const noexcept { return FWatch; }
    void SetWatch(TConstructWatches value) noexcept { FWatch = value; }
    float Version() const noexcept { return 2.1f; }

    // --- Tables ---
    TUserFunctions& UserFunctions() noexcept { return *FUserFunctions; }
    TRules& Rules() noexcept { return *FRules; }
    TFacts& Facts() noexcept { return FMemory->Facts(); }
    const TFacts& Facts() const noexcept { return FMemory->Facts(); }
    TFactTemplates& FactTemplates() noexcept { return *FFactTemplates; }
    TEngineVariables& EngineVariables() noexcept { return *FEngineVariables; }
    TGlobalVariables& GlobalVariables() noexcept { return *FGlobalVariables; }
    TFactSets& FactSets() noexcept { return *FFactSets; }
    TIOStreams& IOStreams() noexcept { return FIO->Streams(); }
    TIEDefinedTypes& DefinedTypes() noexcept { return *FDefinedTypes; }
    TIEAgenda& Agenda() noexcept { return FRun->Agenda(); }
    IEngineNetwork* Network() const noexcept { return FNetwork.get(); }
    // Installs another matcher in place of the Rete network (a host or a test).
    void SetNetwork(std::unique_ptr<IEngineNetwork> network);
    TIEParser* Parser() const noexcept { return FParser.get(); }
    TIEContext* RootContext() override { return FRootContext.get(); }

    // The numbering of facts and rules.
    int32_t NextFactId() const noexcept override { return FMemory->NextFactId(); }
    uint32_t NumberingRound() const noexcept override { return FMemory->NumberingRound(); }
    bool SlotInTemplateOrHeir(const IFactTemplate& factTemplate, std::string_view slot) override;
    // The next rule number, counted up (each new rule draws one).
    int32_t NextRuleIndex() override { return FNextRuleIndex++; }
    // The next new rule is number 0 again.
    void ResetRuleNumbering() noexcept { FNextRuleIndex = 0; }
    std::string GenSym(std::string_view prefix) override;
    std::string GenerateSymbol(std::string_view prefix) override { return GenSym(prefix); }

    // The template of that name; an absent one is created as an implied template.
    TRefPtr<IFactTemplate> ImpliedTemplate(std::string_view name);

    // The collaborators (a unit of the runtime reaches them; hosts use the operations below).
    TWorkingMemory& WorkingMemory() noexcept { return *FMemory; }
    TRunControl& RunControl() noexcept { return *FRun; }
    TIORouter& IORouter() noexcept { return *FIO; }
    // The Rete network, when the engine runs on its own (null when a host installed another).
    TReteNetwork* ReteNetwork() const noexcept { return FRete; }

    // --- IRuleEngine ---
    IReasoner* Reasoner() override { return this; }
    TIEPattern* InitialFactPattern() override { return FInitialFactPattern.get(); }
    const TRefPtr<IFact>& NotOrTestFact() override { return FNotOrTestFact; }
    TRefPtr<IFactTemplate> FindFactTemplate(std::string_view name) override;
    void AssertGoalFact(const TRefPtr<IFact>& fact) override { FMemory->Assert(fact, false); }
    bool IsGlobalVariable(std::string_view name) override;
    void ForEachFact(const std::function<void(const TRefPtr<IFact>&)>& visit) override {
        FMemory->ForEachFact(visit);
    }
    IFuzzyParser* FuzzyParser() override { return this; }
    TEngineActivity SwapActivity(TEngineActivity activity) override {
        const TEngineActivity former = FActivity;
        FActivity = activity;
        return former;
    }
    void RuleEngineAttached(TRule& rule) override;
    void RuleEngineDetached(TRule& rule) override;
    void RuleRenamed(TRule& rule, std::string_view oldName) override;
    void RuleChanged(TRule& rule) override;

    // --- Working memory ---
    // Reads one fact from text, evaluates its calls and asserts it: the identifier, or -1 when
    // refused as a duplicate.
    int32_t AssertString(std::string_view text) { return FMemory->Assert(ParseFact(text), false); }
    int32_t AssertFact(const TRefPtr<IFact>& fact, bool flag = false) override {
        return FMemory->Assert(fact, flag);
    }
    // Asserts a fact under the identifier it brings (an editor or a copied engine keeping the
    // numbering); the next identifier goes on after the highest one seen.
    int32_t AssertFactKeepingId(const TRefPtr<IFact>& fact, int32_t id) {
        return FMemory->AssertKeepingId(fact, id);
    }
    // Replaces each slot value of the fact by its evaluation in the context (the root context
    // when none), slot by slot: a value for a fuzzy slot becomes a fuzzy value of the slot's
    // variable, a multislot always receives a list, lists are flattened. Returns the fact.
    IFact& EvaluateFact(IFact& fact, TIEContext* context = nullptr) {
        return FMemory->EvaluateFact(fact, context);
    }
    // One slot value evaluated as EvaluateFact does it.
    TRefPtr<IIEValue> EvaluateSlotValue(const IFactSlot& slot, const TRefPtr<IIEValue>& value,
                                        TIEContext* context) {
        return FMemory->EvaluateSlotValue(slot, value, context);
    }
    int32_t AssertFactWithInference(const TRefPtr<IFact>& fact, TFuzzyInferenceMethod method,
                                    bool flag) {
        return FMemory->AssertWithInference(fact, method, flag);
    }
    virtual void RetractAt(int32_t index) { FMemory->RetractAt(index); }
    // Retracts the fact equal to `fact`; its former position, or a negative number when absent.
    int32_t RetractFact(const IFact* fact) { return FMemory->Retract(fact); }
    int32_t RetractString(std::string_view text) { return FMemory->Retract(ParseFact(text).get()); }
    // Retracts this very fact (found by identity, even with FactDuplication on).
    int32_t RetractFactByID(const IFact* fact) { return FMemory->RetractByID(fact); }
    // Queues a fact for assertion (Assert) or retraction; its position in that queue.
    virtual int32_t QueueFact(const TRefPtr<IFact>& fact, bool assert) {
        return FMemory->Queue(fact, assert);
    }
    void ProcessPendingFacts() { FMemory->ProcessPending(); }
    // modify and duplicate act on this very fact (not merely an equal one: with FactDuplication
    // on there may be several).
    virtual int32_t BeginModify(const IFact* fact) { return FMemory->RetractByID(fact); }
    virtual int32_t EndModify(const TRefPtr<IFact>& fact) { return FMemory->Assert(fact, false); }
    virtual void ClearFacts() { FMemory->ClearFacts(); }
    // Runs every structure checker (agenda, facts and their index, network) and compares the
    // agenda with the network's activations; a broken invariant aborts (EngineChecks.cpp). The
    // working memory calls it after each propagation and the run control after each firing while
    // StructureChecks() is on; unless `always`, a large engine is checked only once the changes
    // since the last check earned it.
    void CheckStructures(bool always = false) const;

    // --- Agenda and run ---
    // A terminal node has made or dropped an activation (the Rete network reports to the run
    // control itself; an installed matcher reports here): the agenda owns an added activation
    // from then on and frees a removed one (unless it is firing).
    virtual void AddActivation(TActivation* activation) { FRun->AddActivation(activation); }
    virtual void RemoveActivation(TActivation* activation) { FRun->RemoveActivation(activation); }
    virtual void RemoveActivationAt(int32_t index) { FRun->RemoveActivationAt(index); }
    // Reported by the network when an activation has fired: OnRuleFired, then it leaves the
    // agenda. Its former index, negative when it was not there.
    virtual int32_t RuleFired(TActivation* activation) { return FRun->RuleFired(activation); }
    int32_t GetActivationInsertIndex(int32_t salience) const {
        return FRun->Agenda().GetInsertIndex(salience);
    }
    TActivation* GetActivation(int32_t index) const { return FRun->Agenda().Item(index); }
    int32_t ActivationCount() const noexcept { return FRun->Agenda().Count(); }
    TActivation* FiringActivation() const noexcept { return FRun->Firing(); }
    int32_t Run() { return RunLimited(2147483647); }
    int32_t RunLimited(int32_t limit) { return FRun->Run(limit); }
    void Halt() noexcept { FRun->Halt(); }
    bool Halted() const noexcept { return FRun->Halted(); }
    virtual void StartInference() { FRun->StartInference(); }
    virtual void EndInference() { FRun->EndInference(); }

    // Run statistics of the last run.
    int32_t RulesFired() const noexcept { return FRun->RulesFired(); }
    double RunTime() const noexcept { return FRun->RunTime(); }

    // --- Reset and clear ---
    virtual void Reset();
    // Refused while rules fire: the rules that run would go with everything else.
    virtual void Clear();
    // Raises "<what> is not allowed while the engine <activity>" while the engine evaluates
    // user code in the middle of its own structures (a token in flight, a rule being compiled,
    // a salience, a reset); `what` names the change ("Clear", "Removing a rule").
    void CheckChangeAllowed(std::string_view what) const;

    // --- Objects ---
    // An object that rule code made (create-object) and nobody owns: the engine frees it when
    // it goes, unless it has been freed before.
    void KeepMadeObject(TObject* object) { FMadeObjects.Keep(object); }

    // --- Rules ---
    // Compiles the rule into the network; facts asserted by its tests meanwhile are asserted
    // right after.
    void CompileRule(TRule* rule);
    virtual void RemoveRule(TRule* rule);
    void RenameRule(std::string_view oldName, std::string_view newName);
    void RecompileRule(TRule* rule);

    // --- Input and output ---
    void PrintOut(const std::string& name, const std::string& text) override {
        FIO->PrintOut(name, text);
    }
    virtual void ReadLine(const std::string& name, std::string& text) { FIO->ReadLine(name, text); }
    virtual void ReadToken(const std::string& name, TStreamTokenRef& token) {
        FIO->ReadToken(name, token);
    }
    virtual void ExecuteCommand(std::string_view text, bool execute = true) {
        FReader->ExecuteCommand(text, execute);
    }
    // Runs each line of the stream as a command; the stream becomes the input of "t" meanwhile.
    virtual bool BatchFromStream(TStream& stream) { return FIO->BatchFromStream(stream); }
    bool Batch(const std::string& fileName);
    bool SetDribbleStream(std::unique_ptr<TStream> stream) {
        return FIO->SetDribbleStream(std::move(stream));
    }
    bool DribbleOn(const std::string& fileName) { return FIO->DribbleOn(fileName); }
    bool DribbleOff() { return FIO->DribbleOff(); }
    bool Dribbling() const noexcept { return FIO->Dribbling(); }
    bool InBatch() const noexcept { return FIO->InBatch(); }
    // Runs each line; a line that raises is skipped.
    void ExecuteLines(const std::vector<std::string>& lines);
    // A line of ExecuteLines that carries a fact is read as a fact and asserted.
    using TExecuteLine = TEngineReader::TExecuteLine;
    void ExecuteLines(const std::vector<TExecuteLine>& lines) { FReader->ExecuteLines(lines); }
    // A new rule-language input stream of the engine's stream class over `stream` (not owned).
    std::unique_ptr<TIETokenizerStream> CreateStream(TStream* stream);
    // The factories of parser and stream: a descendant or host substitutes both.
    using TParserFactory = std::function<std::unique_ptr<TIEParser>(TInferenceEngine*)>;
    using TStreamFactory = std::function<std::unique_ptr<TIETokenizerStream>(TStream*)>;
    void SetParserFactory(TParserFactory factory);
    void SetStreamFactory(TStreamFactory factory);

    // --- IReasoner ---
    std::string FunCallText(const IFunCall& call) override;
    std::string FactText(const IFact& fact) override;
    std::string UserFunctionText(const IUserFunction& function) override;
    std::string DefinedTypeText(const IIEDefinedType& type) override;
    void AddUserFunction(const TRefPtr<IUserFunction>& function) override;
    void RemoveUserFunction(const TRefPtr<IUserFunction>& function) override;
    TRefPtr<IUserFunction> FindUserFunction(std::string_view name) override;
    void PutUserFunction(std::string_view name, const TRefPtr<IUserFunction>& f) override;
    TRefPtr<IStringIterator> UserFunctionNames() override;
    bool UserFunctionExists(std::string_view name) const;
    // Fills the function table from another engine's: its package functions, and its
    // deffunctions re-created here. Tolerant: a deffunction that fails is skipped (the result
    // is then false); otherwise the failure passes on.
    bool AssignUserFunctions(TInferenceEngine& source, bool tolerant = true);

    // --- IFactServices (facts, templates and fact sets of this engine) ---
    // The engine is the services its templates find (a template asks its owner component), so
    // it keeps this seam: assertion goes to the working memory, the texts to the reader.
    // Reads one fact with the engine's reader and evaluates its calls.
    TRefPtr<IFact> ParseFact(std::string_view text) override { return FReader->ParseFact(text); }
    TRefPtr<IFact> ParseFactSetFact(std::string_view text) override {
        return FReader->ParseFactSetFact(text);
    }
    TRefPtr<IFactSlot> ParseFactSlot(std::string_view text, TFactTemplate& owner) override {
        return FReader->ParseFactSlot(text, owner);
    }
    // One value (or a multifield) read from the text.
    TRefPtr<IIEValue> ParseValue(std::string_view text) override {
        return FReader->ParseValue(text);
    }
    void RenameFactTemplate(IFactTemplate& factTemplate, const std::string& oldName,
                            const std::string& newName) override;
    std::string FormatFact(const IFact& fact) override;
    std::string FormatFactSlot(const IFactSlot& slot) override;
    std::string FormatFactTemplate(const IFactTemplate& factTemplate) override;
    std::string FormatFactSet(const TFactSet& factSet) override;
    bool DynamicTypeChecks() const noexcept override { return FTypeChecks.Contains(tcDynamic); }
    TRefPtr<IIEDefinedType> FindDefinedType(std::string_view name) override;
    void FactSetAttached(TFactSet& factSet) override { FFactSets->Add(&factSet); }
    void FactSetDetached(TFactSet& factSet) override { FFactSets->Remove(&factSet); }

    // --- IParserEngine ---
    TRefPtr<IFunCall> CreateFunCall(std::string_view name) override;
    IConstructSink* ConstructSink() override;

    void Notification(TComponent* component, TOperation operation) override;

    // --- Cascades used by the tables ---
    // Refuses, naming them, the removal of a template that deffunctions or globals use (the
    // cascade does not take them along).
    void CheckTemplateRemovable(IFactTemplate* factTemplate);
    // Refuses the replacement of a template that rules or facts use while rules fire: the
    // firing rule's actions hold the template, and would fire again on the facts re-asserted.
    void CheckTemplateReplaceable(IFactTemplate* factTemplate);
    // The same checks for each template that uses the type, before the type is replaced
    // (`replacing`) or removed.
    void CheckTypeChange(IIEDefinedType* type, bool replacing);
    virtual void RemoveTemplateDependants(IFactTemplate* factTemplate);
    virtual void RemoveTemplatesUsingType(IIEDefinedType* type);
    // Drops the queued facts, then clears the network, facts and rules.
    void ClearQueuesNetworkFactsRules();

    // Template and type replacement: the facts of the old template are asserted again and the
    // rules that use it re-created against the new one (through ExecuteLines).
    virtual void RebuildTemplateDependants(IFactTemplate* oldTemplate, IFactTemplate* newTemplate);
    virtual void RebuildTypeDependants(IIEDefinedType* oldType, IIEDefinedType* newType);
    // Removes the template of that name (with its dependants) and stores the given one.
    virtual void ReplaceFactTemplate(std::string_view name, const TRefPtr<IFactTemplate>& item);

    // --- The whole engine as text, and files ---
    // The header, the settings line and every non-empty table as a section.
    virtual std::string GetText();
    // Clears, reads the whole text with execution on, then resets.
    virtual void SetText(std::string_view text);
    // Reads the whole stream with execution on; nothing is cleared or reset.
    virtual void LoadFromStream(TStream& stream);
    virtual void SaveToStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    // Per construct kind. Loading types, templates or rules clears that table first; loading
    // facts asserts the stream's facts. Saving writes one text per entry, in table order.
    virtual void LoadTypesFromStream(TStream& stream);
    virtual void SaveTypesToStream(TStream& stream);
    virtual void LoadFactsFromStream(TStream& stream);
    virtual void SaveFactsToStream(TStream& stream);
    virtual void SaveTemplateFactsToStream(TStream& stream, std::string_view templateName);
    virtual void LoadTemplatesFromStream(TStream& stream);
    virtual void SaveTemplatesToStream(TStream& stream);
    virtual void LoadRulesFromStream(TStream& stream);
    virtual void SaveRulesToStream(TStream& stream);
    void LoadTypesFromFile(const std::string& fileName);
    void SaveTypesToFile(const std::string& fileName);
    void LoadFactsFromFile(const std::string& fileName);
    void SaveFactsToFile(const std::string& fileName);
    void SaveTemplateFactsToFile(const std::string& fileName, std::string_view templateName);
    void LoadTemplatesFromFile(const std::string& fileName);
    void SaveTemplatesToFile(const std::string& fileName);
    void LoadRulesFromFile(const std::string& fileName);
    void SaveRulesToFile(const std::string& fileName);

    // The text as a value of the kind ("Unable to parse strings of %s at this time" for a kind
    // that cannot be read from text).
    TRefPtr<IIEValue> ParseValueOfType(std::string_view text, TIEType type);

    // Construct readers: each parses one construct from the text (without adding it).
    TRefPtr<IIEDefinedType> ParseDefinedType(std::string_view text);
    TRefPtr<IFactTemplate> ParseFactTemplate(std::string_view text);
    TRule* ParseRule(std::string_view text);
    TRefPtr<IUserFunction> ParseFunction(std::string_view text);
    TFactSet* ParseFactSet(std::string_view text);
    TRefPtr<IFunCall> ParseFunCall(std::string_view text);
    TRefPtr<IIEValue> EvaluateFunCall(std::string_view text);
    TRefPtr<IIEValue> ParseList(std::string_view text);

    // Object writers beyond the IReasoner and IFactServices ones.
    std::string FormatRule(const TRule& rule);
    std::string FormatDeffunction(const TInterpretedFunction& function);
    std::string FormatGlobals();

    // Stored properties: "DefTypes", "Templates", "Variables", "Rules" (the tables), then
    // "FactsList" and "FactSets".
    void DefineProperties(TFiler& filer) override;
    // Copies another engine: settings, functions, types, templates, globals, fact sets, facts
    // and rules.
    void Assign(const TPersistent* source) override;

    // --- Fuzzy facts and expressions ---
    // Weakens every fuzzy slot of the fact by the strength (the firing activation's).
    virtual void ScaleByFiringStrength(IFact& fact, float strength) {
        FMemory->ScaleByFiringStrength(fact, strength);
    }
    // Merges the existing fact into the new one slot by slot (union, or intersection when
    // useUnion is false) by the operation of FuzzyInferenceMethod.
    virtual void CombineFuzzyFacts(IFact& newFact, const IFact& existingFact, bool useUnion) {
        FMemory->CombineFuzzyFacts(newFact, existingFact, useUnion);
    }
    // The host's hook: OnFuzzyInference, else the union of the two facts.
    virtual void FuzzyInference(IFact& newFact, const IFact& existingFact) {
        FMemory->FuzzyInference(newFact, existingFact);
    }
    // One value made into a fuzzy value of the variable (a term name, a number, a variable or
    // call evaluated in the context, an expression list, singletons, a fuzzy value).
    TRefPtr<IIEValue> EvaluateFuzzyExpression(IFuzzyVariable* variable,
                                              const TRefPtr<IIEValue>& value, TIEContext* context);
    // A whole linguistic expression (terms, hedges, and/or and arithmetic words, brackets).
    TRefPtr<IIEValue> BuildFuzzyExpression(IFuzzyVariable* variable, const IValueVector& items,
                                           TIEContext* context);
    // The text read as one value (or a multifield), then EvaluateFuzzyExpression.
    TRefPtr<IIEValue> EvaluateFuzzyText(IFuzzyVariable* variable, std::string_view text,
                                        TIEContext* context) override;
    // The engine's fuzzy-expression reader: the set of the text evaluated in the root context.
    TRefPtr<IFuzzySet> ParseFuzzyExpression(IFuzzyVariable* variable, std::string_view text);

    // IFuzzyParser: the texts are evaluated in the root context, so calls in them are made.
    double DefuzzifyFuzzyText(IFuzzyVariable* variable, std::string_view text,
                              TRefPtr<IFuzzySet>& set) override;
    TRefPtr<IFuzzySet> ParseFuzzyText(IFuzzyVariable* variable, std::string_view text) override;
    TRefPtr<IFuzzySet> ParseFuzzySet(IFuzzyVariable* variable, std::string_view text) override;
    TRefPtr<IFuzzyVariable> ParseFuzzyVariable(std::string_view text) override;
    std::string FuzzySetText(const IFuzzySet& set, bool asTerm) override;
    std::string FuzzyVariableText(const IFuzzyVariable& variable) override;

    // Whether a trace of this kind is printed now.
    bool Tracing(TConstructWatch watch) const noexcept {
        return FWatch.Contains(watch) && OnPrintOut != nullptr;
    }

protected:
    virtual void AddDefaultPackages();
    // Frees the packages the engine created.
    void FreePackages();
    // Asserts the initial fact (construction and Reset).
    void AssertInitialFact();
    void CreateImpliedConstructs();

private:
    // The engine's files and stored properties read through its reader; the reader and the copy
    // reach the parser and stream classes the engine keeps.
    friend class TEngineFiles;
    friend class TEngineReader;
    friend class TEngineCopy;
    void DoReset();
    void DoClear();
    void ClearEventHandlers();
    std::unique_ptr<TIEParser> NewParser();
    // One stored global variable ("?name = value") read into its name and value.
    void ParseGlobal(std::string_view text, std::string& name, TRefPtr<IIEValue>& value) {
        FReader->ParseGlobal(text, name, value);
    }

    // The collaborators, made first and gone last: the tables and the network report to them.
    std::unique_ptr<TIORouter> FIO;
    std::unique_ptr<TWorkingMemory> FMemory;
    std::unique_ptr<TRunControl> FRun;

    // Numbering and state
    int32_t FNextRuleIndex = 0;
    TEngineActivity FActivity = eaIdle;

    // Settings
    TDuplicateConstructs FDuplicateConstructs = dcOverwrite;
    TFunctionPackages FPackages = AllFunctionPackages;
    bool FFuzzyAutoTerms = true;
    float FFuzzyEqualsThreshold = 0.01f;
    float FMinActivationStrength = 0.0f;
    TErrorHandling FParserErrorHandling = ehRaiseImmediate;
    int32_t FParserMaxErrors = 10;
    bool FResetGlobals = true;
    int32_t FSymbolIndex = 1;
    bool FSymbolsSpent = false; // the name of the largest integer has been handed out
    TTypeChecks FTypeChecks{tcStatic};
    TConstructWatches FWatch;

    // Owned parts
    std::unique_ptr<TGlobalVariables> FGlobalVariables;
    std::unique_ptr<TIEDefinedTypes> FDefinedTypes;
    std::unique_ptr<TFactTemplates> FFactTemplates;
    TRefPtr<IFact> FNotOrTestFact;
    std::unique_ptr<TIEPattern> FInitialFactPattern;
    std::unique_ptr<TFactSets> FFactSets;
    std::unique_ptr<IEngineNetwork> FNetwork;
    TReteNetwork* FRete = nullptr;
    std::unique_ptr<TRules> FRules;
    std::unique_ptr<TEngineVariables> FEngineVariables;
    std::unique_ptr<TUserFunctions> FUserFunctions;
    std::unique_ptr<TIEContext> FRootContext;
    TParserFactory FParserFactory;
    TStreamFactory FStreamFactory;
    // Texts read with the engine's own scanner class reuse the reader's scanner.
    bool FDefaultStreamFactory = true;
    std::unique_ptr<TEngineReader> FReader;
    std::unique_ptr<TIEParser> FParser;
    std::unique_ptr<TEngineConstructSink> FConstructSink;
    std::vector<TComponent*> FPackageObjects;
    // What KeepMadeObject was given.
    TMadeObjects FMadeObjects;
};

// The engine a context evaluates in; null without a context, without an engine, or when its
// engine is another reasoner.
inline TInferenceEngine* ContextEngine(const TIEContext* context) noexcept {
    return context ? dynamic_cast<TInferenceEngine*>(context->Engine()) : nullptr;
}

} // namespace ie

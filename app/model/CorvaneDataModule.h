// The data module of the telemetry application: it owns the rule engine and carries everything
// that passes between the simulation and the rule file. At start-up it finds and loads the rule
// file, hands it four global variables and one metadata fact per mnemonic, and resets the engine.
// In every iteration it retracts the previous conclusions, asserts one fact per mnemonic value,
// runs the engine and retracts the value facts again; the facts "alert", "warning" and
// "satellite-health" that rules assert become panel colours and log lines, and everything the
// rules print becomes a log line. It knows nothing of widgets: the host hands it the open dialog
// and the console, and messages go through the dialog service.
#pragma once

#include "app/model/Simulation.h"
#include "engine/RunWatch.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

class IFact;
class TFactSet;
class TInferenceEngine;

class TDataModule1 : public IRuleExchange {
public:
    // The rule file looked for in the working directory.
    static constexpr const char* ExpertSystemFileName = "expert system";
    static constexpr const char* NoExpertSystemMessage = "No Expert System Available";
    // The title of the box that tells why the rules do not take part.
    static constexpr const char* RulesNotUsedCaption = "Rules not used";
    // The open dialog's filter: the rule files, and every file, since the demo's own rule file
    // ("expert system") has no extension.
    static constexpr const char* RuleFileFilter = "Expert System|*.ie; *.clp|All Files|*.*";
    static constexpr const char* RuleFileExtension = "*.ie";
    // The templates whose facts survive the clearing of conclusions.
    static constexpr const char* MnemonicTemplate = "mnemonic";
    static constexpr const char* MetadataTemplate = "mnem-metadata";
    static constexpr const char* InitialFactTemplate = "Initial-Fact";

    // The open dialog (*.ie, *.clp; the file must exist), opened with fileName "expert system":
    // true with the chosen file in fileName, false when the user cancels.
    using TOpenDialog = std::function<bool(std::string& fileName)>;

    // Creates the engine (its events going to the handlers below) and the metadata fact set
    // "FactSet". Nothing is loaded yet: see DataModuleCreate.
    explicit TDataModule1(TSimulation& simulation);
    ~TDataModule1() override;
    TDataModule1(const TDataModule1&) = delete;
    TDataModule1& operator=(const TDataModule1&) = delete;

    // Loads "expert system" from directory (the working directory when empty) or the file the
    // open dialog gives, hands the rules the globals and the metadata and resets the engine.
    // Without a file, or when it cannot be loaded, the user is told, the engine is left without
    // rules and the simulation runs without the data module. Registers itself as the
    // simulation's rule exchange when the rules are available.
    void DataModuleCreate(const TOpenDialog& openDialog = nullptr,
                          const std::filesystem::path& directory = {});

    TInferenceEngine& InferenceEngine1() { return *FInferenceEngine1; }
    TFactSet& FactSet1() { return *FFactSet1; }
    // The rule file loaded, empty when none is.
    const std::string& RuleFileName() const { return FRuleFileName; }

    // ConsoleDialog1.Execute: the console on the engine, opened in debug mode before the engine
    // runs (and by the window's Console button). True when OK wrote the console's engine back,
    // with the rule file the console opened in openedFile (empty when it opened none). Empty
    // while the application has no console.
    std::function<bool(std::string& openedFile)> ConsoleDialog1;
    // OK could not write the console's engine back: the log says what the box said.
    void ConsoleWriteBackFailed(const std::string& message) { FSimulation.Log(message); }
    // Opens the console and takes in what it wrote back: alerts the engine held before are not
    // shown again, and the rules take part exactly while the engine can take the exchanged facts.
    void ExecuteConsole();
    // The engine changed under the module (the console's OK): when it cannot take the metadata
    // and value facts the user is told once and the simulation runs without rules; when it can
    // again, the rules take part again. A rule file the console opened is started as the one of
    // the start-up is: the exchange handed over and the engine reset, so that its start-up rules
    // fire, and the status names it.
    void EngineWrittenBack(const std::string& openedFile = {});
    // What keeps the engine from taking the metadata and value facts, empty when nothing does;
    // in the terms of the rule file the engine was loaded from, when given (its line, template
    // and slot, the kinds of values in words).
    std::string ExchangeProblem(const std::string& fileName = {});

    // IRuleExchange: the three points of an iteration.
    void ClearConclusions() override;
    void AssertMnemonic(const TMnemonic& item) override;
    void RunInference() override;
    void StopInference() override;

    // How often the rules may fire in one step: a step that fires more is halted, and the user
    // is told which rule fired most (see TRunWatch). 0 sets no limit.
    int32_t FiringLimit = TRunWatch::DefaultFiringLimit;

    // The engine's OnAssertion and OnPrintOut.
    void InferenceEngine1Assertion(TInferenceEngine* sender, IFact* fact);
    void InferenceEngine1PrintOut(TInferenceEngine* sender, const std::string& name,
                                  const std::string& text);

    // The satellite state a "satellite-health" fact stands for: the first value of the fact,
    // read as a float; no value or one that is not a number reads as NaN (the panel turns red).
    static float SatelliteHealthOf(const IFact& fact);
    // The system an "alert" or "warning" fact names: its values as text, trimmed.
    static std::string SystemOf(const IFact& fact);

private:
    bool LoadRuleFile(const std::string& fileName);
    // The loaded rule file takes part: the exchange handed over and the engine reset, or the
    // user told why it cannot.
    void StartRuleFile(const std::string& fileName);
    // The globals, the metadata set on the engine and its lines.
    void HandOverExchange();
    bool RulesTakePart() const;
    bool IsMetadataSet(const TFactSet* set) const;
    void Activate(const std::string& status);
    void NoExpertSystem(const std::string& message, bool isError, const std::string& status);
    void RetractMnemonics();

    TSimulation& FSimulation;
    std::unique_ptr<TInferenceEngine> FInferenceEngine1;
    std::unique_ptr<TFactSet> FFactSet1;
    std::string FRuleFileName;
    // While the rule file loads at start-up: its command echoes and the facts it asserts (gone
    // at the reset that follows) do not reach the log.
    bool FLoading = false;
    // While the console writes back: the texts of the alerts, warnings and satellite states the
    // engine held before, which are not shown again.
    std::vector<std::string> FHeldConclusions;
    // The watch over the step's rules while they run, null otherwise.
    TRunWatch* FWatch = nullptr;
};

} // namespace ie

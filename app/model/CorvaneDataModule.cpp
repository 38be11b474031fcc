// The rule exchange: loading and checking the rule file, the metadata fact set, and the
// per-iteration assert, run and retract. A rule file is checked whole at start-up (templates
// declared, every exchanged fact readable, reset succeeding) or not used at all, so a broken file
// fails once rather than at every step; and the iteration's value facts are retracted even when a
// rule fails, so none is left behind for the next one.
#include "app/model/CorvaneDataModule.h"

#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"
#include "platform/DialogService.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Restore.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <regex>
#include <utility>

namespace ie {

namespace {

constexpr std::string_view DataSlot = "__Data";

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The "__Data" value of an ordered fact, or nothing when the fact's template has no such slot
// (a rule file may declare "alert" and the others as templates of its own).
TRefPtr<IIEValue> DataOf(const IFact& fact) {
    const TRefPtr<IFactTemplate> factTemplate = fact.GetTemplate();
    if (!factTemplate || factTemplate->IndexOfSlot(DataSlot) < 0) return nullptr;
    return fact.GetSlotValue(DataSlot);
}

// The facts the exchange asserts for a mnemonic: its metadata once, its value every step.
std::string MetadataFactText(const TMnemonic& item) {
    return Format("(mnem-metadata (name %s) (yellowhigh %f) (redlow %f) (system %s) (redhigh %f) "
                  "(yellowlow %f) (subsystem %s))",
                  item.Name(), item.YellowHigh(), item.RedLow(), item.System(), item.RedHigh(),
                  item.YellowLow(), item.SubSystem());
}

std::string MnemonicFactText(const TMnemonic& item) {
    return Format("(mnemonic (name %s) (value %f))", item.Name(), item.Value());
}

// A told the user in words: "a symbol", "a number", as the rule language's manual says them.
std::string KindWords(TIETypes types) {
    if (types.Contains(dtInteger) && types.Contains(dtFloat)) {
        types.Exclude(dtInteger);
        types.Exclude(dtFloat);
        std::string rest = KindWords(types);
        return rest.empty() ? "a number" : "a number or " + rest;
    }
    static const std::pair<TIEType, const char*> words[] = {
        {dtAtom, "a symbol"},       {dtString, "a string"},  {dtInteger, "an integer"},
        {dtFloat, "a float"},       {dtFactId, "a fact"},    {dtList, "a multifield"},
        {dtFuzzy, "a fuzzy value"}, {dtObject, "an object"}, {dtExternalAddress, "an address"},
    };
    std::string text;
    for (const auto& [type, word] : words) {
        if (!types.Contains(type)) continue;
        if (!text.empty()) text += " or ";
        text += word;
    }
    return text;
}

// The reader's name of a type ("INTEGER", "dtAtom") in words.
std::string TypeNameWords(std::string_view name) {
    static const std::pair<const char*, const char*> words[] = {
        {"INTEGER", "an integer"},
        {"FLOAT", "a float"},
        {"NUMBER", "a number"},
        {"SYMBOL", "a symbol"},
        {"ATOM", "a symbol"},
        {"STRING", "a string"},
        {"LEXEME", "a symbol or a string"},
        {"dtAtom", "a symbol"},
        {"dtString", "a string"},
        {"dtInteger", "an integer"},
        {"dtFloat", "a float"},
        {"dtList", "a multifield"},
        {"dtFactId", "a fact"},
        {"dtFuzzy", "a fuzzy value"},
    };
    for (const auto& [internal, word] : words)
        if (name == internal) return word;
    return std::string(name);
}

// The 1-based line of the text at a position.
int LineAt(std::string_view text, size_t position) {
    return 1 +
           static_cast<int>(std::count(
               text.begin(),
               text.begin() + static_cast<std::ptrdiff_t>(std::min(position, text.size())), '\n'));
}

std::string FileText(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Where "(keyword name" stands in the text from `from` on, outside comments; npos when nowhere.
size_t FindForm(std::string_view text, std::string_view keyword, std::string_view name,
                size_t from = 0) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    bool comment = false;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == ';') comment = true;
        if (text[at] == '\n') comment = false;
        if (comment || at < from || text[at] != '(') continue;
        size_t i = at + 1;
        while (i < text.size() && blank(text[i]))
            ++i;
        if (text.substr(i, keyword.size()) != keyword) continue;
        i += keyword.size();
        const bool ends = i == text.size() || text[i] == '(' || text[i] == ')';
        if (name.empty() && (ends || blank(text[i]))) return at;
        if (ends || !blank(text[i])) continue;
        while (i < text.size() && blank(text[i]))
            ++i;
        if (text.substr(i, name.size()) != name) continue;
        i += name.size();
        if (i == text.size() || blank(text[i]) || text[i] == '(' || text[i] == ')') return at;
    }
    return std::string_view::npos;
}

// The line of a slot's declaration in the rule file, 0 when it cannot be found.
int SlotLine(std::string_view text, std::string_view templateName, std::string_view slotName) {
    const size_t declared = FindForm(text, "deftemplate", templateName);
    if (declared == std::string_view::npos) return 0;
    for (const char* kind : {"slot", "multislot"}) {
        const size_t slot = FindForm(text, kind, slotName, declared);
        if (slot != std::string_view::npos) return LineAt(text, slot);
    }
    return LineAt(text, declared);
}

std::string LinePart(int line) {
    return line > 0 ? Format(", line %d", line) : std::string();
}

// The reader's message with its internal type names in words: "Not a INTEGER type.  Value
// (none) is a dtAtom type for ParseValue slot in ParseValue(SlotTypes)" says "the value (none)
// is a symbol, where an integer is expected".
std::string InWords(const std::string& message) {
    static const std::regex wrongType(R"(Not a (\w+) type\.\s+Value \((.*?)\) is a (\w+) type)");
    static const std::regex internal(R"( for \w+ slot in \w+(\(\w+\))?)");
    std::string text = std::regex_replace(message, internal, "");
    std::smatch match;
    if (std::regex_search(text, match, wrongType))
        text = match.prefix().str() +
               Format("the value (%s) is %s, where %s is expected", match[2].str(),
                      TypeNameWords(match[3].str()), TypeNameWords(match[1].str())) +
               match.suffix().str();
    return text;
}

// The template and slot declared on a line of the rule file, for a reader's message that names
// the line only: "the slot "s" of the template "t"", or empty.
std::string SlotOnLine(std::string_view text, int line) {
    if (line <= 0) return {};
    size_t start = 0;
    for (int i = 1; i < line && start != std::string_view::npos; ++i) {
        start = text.find('\n', start);
        if (start != std::string_view::npos) ++start;
    }
    if (start == std::string_view::npos) return {};
    const std::string lineText(text.substr(start, text.find('\n', start) - start));
    static const std::regex slot(R"(\(\s*(multi)?slot\s+([^\s()]+))");
    static const std::regex declared(R"(\(\s*deftemplate\s+([^\s()]+))");
    std::smatch match;
    if (!std::regex_search(lineText, match, slot)) return {};
    const std::string slotName = match[2].str();
    const std::string before(text.substr(0, start + lineText.size()));
    std::string templateName;
    for (std::sregex_iterator it(before.begin(), before.end(), declared), end; it != end; ++it)
        templateName = (*it)[1].str();
    if (templateName.empty()) return Format("the slot \"%s\"", slotName);
    return Format("the slot \"%s\" of the template \"%s\"", slotName, templateName);
}

// Where the user can turn after a rule file that cannot be used.
constexpr const char* OpenLaterHint = "Another rule file can be opened later from the console: "
                                      "Console, File > Open, then OK.";

} // namespace

// The engine holds one set per name: the metadata set is FactSet1 or the copy of it that an
// engine copy made (the console's OK assigns its engine back, fact sets included).
bool TDataModule1::IsMetadataSet(const TFactSet* set) const {
    return set == FFactSet1.get() || set->FactSetName() == FFactSet1->FactSetName();
}

TDataModule1::TDataModule1(TSimulation& simulation)
    : FSimulation(simulation), FInferenceEngine1(std::make_unique<TInferenceEngine>(nullptr)) {
    FInferenceEngine1->OnAssertion = [this](TInferenceEngine* sender, IFact* fact) {
        InferenceEngine1Assertion(sender, fact);
    };
    FInferenceEngine1->OnPrintOut = [this](TInferenceEngine* sender, const std::string& name,
                                           const std::string& text) {
        InferenceEngine1PrintOut(sender, name, text);
    };
    FFactSet1 = std::make_unique<TFactSet>(nullptr);
    FFactSet1->SetComment("Holds Metadata of mnemonics");
    FFactSet1->SetFactSetName("FactSet");
    FFactSet1->SetEngine(FInferenceEngine1.get());
}

TDataModule1::~TDataModule1() {
    if (FSimulation.Rules() == this) FSimulation.SetRules(nullptr);
    // The fact set leaves the engine before the engine goes; the engine raises nothing while it
    // is destroyed.
    FFactSet1.reset();
    FInferenceEngine1.reset();
}

void TDataModule1::DataModuleCreate(const TOpenDialog& openDialog,
                                    const std::filesystem::path& directory) {
    const std::filesystem::path standard = directory.empty()
                                               ? std::filesystem::path(ExpertSystemFileName)
                                               : directory / ExpertSystemFileName;
    std::error_code error;
    std::string fileName;
    if (std::filesystem::is_regular_file(standard, error)) {
        fileName = standard.string();
    } else {
        fileName = ExpertSystemFileName;
        if (!openDialog || !openDialog(fileName)) {
            NoExpertSystem(Format("%s\r\n%s", NoExpertSystemMessage, OpenLaterHint), false,
                           "Rules inactive: no rule file");
            return;
        }
    }
    if (!LoadRuleFile(fileName)) return;
    StartRuleFile(fileName);
}

void TDataModule1::StartRuleFile(const std::string& fileName) {
    FRuleFileName = fileName;
    // Whatever keeps the rules from taking the exchanged facts is told as a broken file is: a
    // reset that fails half-way would leave the engine to fail again at every step.
    std::string problem;
    try {
        HandOverExchange();
        problem = ExchangeProblem(fileName);
        if (problem.empty()) FInferenceEngine1->Reset();
    } catch (const std::exception& e) {
        problem = InWords(e.what());
    }
    if (!problem.empty()) {
        NoExpertSystem(Format("The rule file \"%s\" cannot be used; the simulation runs without "
                              "rules.\r\n%s\r\n%s",
                              fileName, problem, OpenLaterHint),
                       true, Format("Rules inactive: %s cannot be used", fileName));
        return;
    }
    Activate(Format("Rules active: %s", fileName));
}

void TDataModule1::HandOverExchange() {
    TGlobalVariables& globals = FInferenceEngine1->GlobalVariables();
    globals.PutGlobal("*NUM_SYS*", TIEValue::CreateInteger(dtInteger, 2));
    globals.PutGlobal("*NUM_MNEM_PER_SYSTEM*", TIEValue::CreateInteger(dtInteger, 5));
    globals.PutGlobal("*NUM_SCI_MNEMS*", TIEValue::CreateInteger(dtInteger, 15));
    globals.PutGlobal("*SCI_BANDWIDTH*", TIEValue::CreateFloat(3.0 / 15));

    // Attach the metadata set anew when the engine lost it: a rule file that clears the engine
    // drops the engine's list of fact sets while the set still names the engine, and a set that
    // is not registered is not asserted at reset. A set still registered keeps its place, so
    // the metadata facts come before the rule file's own. An engine written back by the
    // console holds a copy of the set under its name, which serves as well.
    const TFactSets& sets = FInferenceEngine1->FactSets();
    bool registered = false;
    for (int32_t i = 0; i < sets.Count() && !registered; ++i)
        registered = IsMetadataSet(sets.Item(i));
    if (!registered) {
        FFactSet1->SetEngine(nullptr);
        FFactSet1->SetEngine(FInferenceEngine1.get());
    }
    if (FFactSet1->Facts().Count() > 0) return;
    const TMnemonics& mnemonics = FSimulation.Mnemonics();
    for (int i = 0; i < mnemonics.Count(); ++i) {
        FFactSet1->Facts().Add(MetadataFactText(mnemonics.Items(i)));
    }
}

std::string TDataModule1::ExchangeProblem(const std::string& fileName) {
    const std::string text = fileName.empty() ? std::string() : FileText(fileName);
    const std::string where =
        fileName.empty() ? std::string("The rules") : Format("The rule file \"%s\"", fileName);
    bool declaresAnything = FInferenceEngine1->Rules().Count() > 0;
    for (auto& entry : FInferenceEngine1->FactTemplates()) {
        const auto* declared = dynamic_cast<IFactTemplate*>(entry.Intf().get());
        declaresAnything = declaresAnything || (declared && !declared->GetImplied() &&
                                                declared->GetName() != InitialFactTemplate);
    }
    if (!declaresAnything)
        return Format("%s is empty: it declares no template and no rule. A rule file declares "
                      "at least the templates \"%s\" and \"%s\", as the demo rule file \"%s\" "
                      "does.",
                      where, MnemonicTemplate, MetadataTemplate, ExpertSystemFileName);
    // Without a declared template the reader takes "(name ...)" for a call of a function
    // "name"; say what is missing instead.
    for (const char* name : {MetadataTemplate, MnemonicTemplate}) {
        const TRefPtr<IFactTemplate> found = FInferenceEngine1->FactTemplates().Find(name);
        if (!found || found->GetImplied())
            return Format("%s declares no template \"%s\": the application asserts one such fact "
                          "per mnemonic, as the demo rule file \"%s\" shows.",
                          where, name, ExpertSystemFileName);
    }
    // Each slot the exchange fills must take what the exchange gives it, said in the user's
    // terms: the file, the line of the slot, the template, the slot.
    struct TExchangedSlot {
        const char* Template;
        const char* Slot;
        TIEType Kind;
    };
    static const TExchangedSlot exchanged[] = {
        {MetadataTemplate, "name", dtAtom},       {MetadataTemplate, "system", dtAtom},
        {MetadataTemplate, "subsystem", dtAtom},  {MetadataTemplate, "yellowhigh", dtFloat},
        {MetadataTemplate, "yellowlow", dtFloat}, {MetadataTemplate, "redhigh", dtFloat},
        {MetadataTemplate, "redlow", dtFloat},    {MnemonicTemplate, "name", dtAtom},
        {MnemonicTemplate, "value", dtFloat},
    };
    for (const TExchangedSlot& x : exchanged) {
        const TRefPtr<IFactTemplate> owner = FInferenceEngine1->FactTemplates().Find(x.Template);
        const TRefPtr<IFactSlot> slot =
            owner->IndexOfSlot(x.Slot) < 0 ? nullptr : owner->SlotByName(x.Slot);
        if (!slot)
            return Format("%s%s: the template \"%s\" has no slot \"%s\", which the application "
                          "fills.",
                          where, LinePart(SlotLine(text, x.Template, x.Template)), x.Template,
                          x.Slot);
        const TIETypes types = slot->GetSlotType();
        if (types.Empty() || types.Contains(x.Kind)) continue;
        const std::string given = x.Kind == dtFloat ? "a number" : "a symbol";
        return Format("%s%s: the slot \"%s\" of the template \"%s\" takes %s, but the "
                      "application gives it %s. Let the slot take %s, or leave its type out.",
                      where, LinePart(SlotLine(text, x.Template, x.Slot)), x.Slot, x.Template,
                      KindWords(types), given, given);
    }
    // Each fact as the exchange writes it must read: whatever else keeps a value from its slot
    // fails here rather than at every step.
    const TMnemonics& mnemonics = FSimulation.Mnemonics();
    try {
        for (int i = 0; i < mnemonics.Count(); ++i) {
            FInferenceEngine1->ParseFact(MetadataFactText(mnemonics.Items(i)));
            FInferenceEngine1->ParseFact(MnemonicFactText(mnemonics.Items(i)));
        }
    } catch (const std::exception& e) {
        return Format("%s cannot take the application's facts: %s", where, InWords(e.what()));
    }
    return {};
}

bool TDataModule1::RulesTakePart() const {
    return FSimulation.ExpertSystemAvailable() && FSimulation.Rules() == this;
}

void TDataModule1::Activate(const std::string& status) {
    FSimulation.SetExpertSystemAvailable(true);
    FSimulation.SetRules(this);
    FSimulation.SetRulesStatus(status);
}

void TDataModule1::ExecuteConsole() {
    if (!ConsoleDialog1) return;
    FHeldConclusions.clear();
    for (const auto& fact : FInferenceEngine1->Facts().Items()) {
        const std::string& name = fact->GetTemplate()->GetName();
        if (name == "alert" || name == "warning" || name == "satellite-health")
            FHeldConclusions.push_back(fact->GetText());
    }
    const TOnExit forget([this] { FHeldConclusions.clear(); });
    std::string openedFile;
    if (ConsoleDialog1(openedFile)) EngineWrittenBack(openedFile);
}

void TDataModule1::EngineWrittenBack(const std::string& openedFile) {
    if (!openedFile.empty()) return StartRuleFile(openedFile);
    std::string problem;
    try {
        problem = ExchangeProblem();
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (!problem.empty()) {
        // Said once: an engine that was already left out stays out quietly.
        if (RulesTakePart())
            NoExpertSystem(Format("The rules written back from the console cannot take the "
                                  "telemetry; the simulation runs without rules.\r\n%s",
                                  problem),
                           true, "Rules inactive: the rules cannot take the telemetry");
        return;
    }
    if (RulesTakePart()) return;
    try {
        HandOverExchange();
        // An engine cleared in the console lost the metadata set with its facts.
        bool metadata = false;
        for (const auto& fact : FInferenceEngine1->Facts().Items())
            metadata = metadata || fact->GetTemplate()->GetName() == MetadataTemplate;
        if (!metadata) {
            const TFactSets& sets = FInferenceEngine1->FactSets();
            for (int32_t i = 0; i < sets.Count(); ++i)
                if (IsMetadataSet(sets.Item(i))) sets.Item(i)->AssertFacts();
        }
    } catch (const std::exception& e) {
        NoExpertSystem(Format("The rules written back from the console cannot take the "
                              "telemetry; the simulation runs without rules.\r\n%s",
                              e.what()),
                       true, "Rules inactive: the rules cannot take the telemetry");
        return;
    }
    // The console may have loaded another file than the one of the start-up.
    Activate("Rules active: as written back from the console");
}

bool TDataModule1::LoadRuleFile(const std::string& fileName) {
    try {
        // Parsing only: no clear, no reset. What the file's commands echo, and the facts they
        // assert, belong to no iteration: the reset that follows starts the working memory.
        const TRestore<bool> quiet(FLoading, true);
        FInferenceEngine1->LoadFromFile(fileName);
        return true;
    } catch (const std::exception& e) {
        // A half-read rule file must not judge the telemetry: drop what it defined and run
        // without rules. The reader's message names the line; the template and slot there are
        // named too.
        FInferenceEngine1->Clear();
        const std::string text = FileText(fileName);
        std::string problem;
        if (dynamic_cast<const EAbort*>(&e)) {
            const size_t exit = FindForm(text, "exit", "");
            problem = Format("It ends the program with (exit)%s; a rule file for the application "
                             "leaves that out.",
                             exit == std::string::npos ? std::string()
                                                       : Format(" at line %d", LineAt(text, exit)));
        } else {
            problem = InWords(e.what());
            std::smatch line;
            static const std::regex atLine(R"(at line (\d+))");
            if (std::regex_search(problem, line, atLine)) {
                const std::string slot = SlotOnLine(text, std::stoi(line[1].str()));
                if (!slot.empty())
                    problem = Format("Line %s, %s: %s", line[1].str(), slot, problem);
            }
        }
        NoExpertSystem(Format("The rule file \"%s\" could not be loaded; the simulation runs "
                              "without rules.\r\n%s\r\n%s",
                              fileName, problem, OpenLaterHint),
                       true, Format("Rules inactive: %s could not be loaded", fileName));
        return false;
    }
}

void TDataModule1::NoExpertSystem(const std::string& message, bool isError,
                                  const std::string& status) {
    FSimulation.SetExpertSystemAvailable(false);
    if (FSimulation.Rules() == this) FSimulation.SetRules(nullptr);
    FSimulation.SetRulesStatus(status);
    FSimulation.Log(message);
    if (isError)
        GetDialogService().MessageBox(message, RulesNotUsedCaption, MB_OK | MB_ICONERROR);
    else
        GetDialogService().ShowMessage(message);
}

void TDataModule1::ClearConclusions() {
    TFacts& facts = FInferenceEngine1->Facts();
    for (int32_t i = facts.Count() - 1; i >= 0; --i) {
        if (i >= facts.Count()) continue;
        const std::string& name = facts.Item(i)->GetTemplate()->GetName();
        if (name != MnemonicTemplate && name != MetadataTemplate && name != InitialFactTemplate)
            FInferenceEngine1->RetractAt(i);
    }
    // The metadata set is not asserted again.
    const TFactSets& sets = FInferenceEngine1->FactSets();
    for (int32_t i = 0; i < sets.Count(); ++i)
        if (!IsMetadataSet(sets.Item(i))) sets.Item(i)->AssertFacts();
}

void TDataModule1::AssertMnemonic(const TMnemonic& item) {
    FInferenceEngine1->AssertString(MnemonicFactText(item));
}

void TDataModule1::RunInference() {
    if (FSimulation.DebugMode()) {
        FSimulation.SetRunning(false);
        ExecuteConsole();
        // The console may have left the rules out; what it wrote back is not judged then.
        if (!RulesTakePart()) {
            RetractMnemonics();
            return;
        }
    }
    TRunWatch::TEnd end = TRunWatch::TEnd::eRunning;
    std::string limitMessage;
    int32_t fired = 0;
    try {
        // The window paints and takes clicks between firings: Pause, the close box or the
        // console end the step's rules (StopInference).
        TRunWatch watch(*FInferenceEngine1, FiringLimit, [this] { FSimulation.ProcessMessages(); });
        const TRestore<TRunWatch*> watching(FWatch, &watch);
        FInferenceEngine1->Run();
        end = watch.End();
        fired = watch.Fired();
        if (end == TRunWatch::TEnd::eLimitReached) limitMessage = watch.LimitMessage();
    } catch (...) {
        // A failing rule must not leave this iteration's values behind for the next one.
        RetractMnemonics();
        throw;
    }
    RetractMnemonics();
    if (end == TRunWatch::TEnd::eLimitReached) throw EIEException(limitMessage);
    if (end == TRunWatch::TEnd::eStopped)
        FSimulation.Log(Format("The rules of this step were stopped after %d firings.", fired));
}

void TDataModule1::StopInference() {
    if (FWatch) FWatch->Stop();
}

void TDataModule1::RetractMnemonics() {
    TFacts& facts = FInferenceEngine1->Facts();
    for (int32_t i = facts.Count() - 1; i >= 0; --i) {
        if (i >= facts.Count()) continue;
        if (facts.Item(i)->GetTemplate()->GetName() == MnemonicTemplate)
            FInferenceEngine1->RetractAt(i);
    }
}

std::string TDataModule1::SystemOf(const IFact& fact) {
    const TRefPtr<IIEValue> data = DataOf(fact);
    return data ? std::string(Trimmed(data->GetText())) : std::string();
}

float TDataModule1::SatelliteHealthOf(const IFact& fact) {
    constexpr float NotANumber = std::numeric_limits<float>::quiet_NaN();
    try {
        const TRefPtr<IIEValue> data = DataOf(fact);
        if (!data) return NotANumber;
        const TRefPtr<IValueVector> list = data->AsList();
        if (!list || list->Count() == 0) return NotANumber;
        const double value = list->GetItem(0)->AsFloat();
        if (std::isnan(value)) return NotANumber;
        // Narrowed to single precision; beyond its range the value is an infinity.
        if (value > FLT_MAX) return std::numeric_limits<float>::infinity();
        if (value < -FLT_MAX) return -std::numeric_limits<float>::infinity();
        return static_cast<float>(value);
    } catch (const EException&) {
        return NotANumber;
    }
}

void TDataModule1::InferenceEngine1Assertion(TInferenceEngine* /*sender*/, IFact* fact) {
    if (!fact || FLoading) return;
    const TRefPtr<IFactTemplate> factTemplate = fact->GetTemplate();
    if (!factTemplate) return;
    const std::string& name = factTemplate->GetName();
    if (!FHeldConclusions.empty() && std::find(FHeldConclusions.begin(), FHeldConclusions.end(),
                                               fact->GetText()) != FHeldConclusions.end())
        return;
    if (name == "alert" || name == "warning") {
        if (factTemplate->IndexOfSlot(DataSlot) < 0) return;
        FSimulation.ShowAlert(SystemOf(*fact), name == "warning");
    } else if (name == "satellite-health") {
        FSimulation.SetSatelliteState(SatelliteHealthOf(*fact));
    }
}

void TDataModule1::InferenceEngine1PrintOut(TInferenceEngine* /*sender*/,
                                            const std::string& /*name*/, const std::string& text) {
    if (FLoading) return;
    FSimulation.Log(text);
}

} // namespace ie

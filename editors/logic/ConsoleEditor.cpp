// The console's construction on a private or a live engine, its engine handlers, lists, actions
// and command submission. Each line carries its item's key, so a removal takes out the line of
// that very item; a view that is not valid has its handlers off the engine, so it costs the
// engine nothing; and refilling a list reports nothing as a change. A disabled action never runs.
#include "editors/logic/ConsoleEditor.h"

#include <algorithm>
#include <utility>

#include "containers/GHashTable.h"
#include "editors/logic/EngineTransfer.h"
#include "engine/lang/IEClipsParser.h"
#include "engine/match/ActivationAgenda.h"
#include "engine/match/IERule.h"
#include "platform/DialogService.h"
#include "platform/Format.h"
#include "platform/Restore.h"
#include "platform/Streams.h"

namespace ie {

void SwapEngineEvents(TInferenceEngine& e, TEngineEvents& v) {
    std::swap(static_cast<TEngineEvents&>(e), v);
}

// ---------------------------------------------------------------------------------------------
// Construction

TIEConsole::TIEConsole(bool dialog, TInferenceEngine& engine) : FDialog(dialog) {
    FVisible.fill(true);
    FEnabled.fill(true);
    FEnabled[caIERun] = false;
    FEnabled[caIEStep] = false;
    TEngineEvents mine;
    AttachHandlers(mine);
    if (dialog) {
        FOwnEngine.reset(new TInferenceEngine(nullptr));
        FEngine = FOwnEngine.get();
        SwapEngineEvents(*FEngine, mine);
        CreateEditors();
        // The copy raises the private engine's events, which fill the lists.
        const TRestore<bool> filling(FFilling, true);
        FEngine->Assign(&engine);
        // The agenda shows what waits in the host's, not the matches that fired there.
        KeepFiredAsFired(*FEngine, engine);
        return;
    }
    FEngine = &engine;
    CreateEditors();
    FHolder = std::make_unique<TEngineEvents>(std::move(mine));
    SwapEngineEvents(*FEngine, *FHolder);
    FHandlersBorrowed = true;
    // Through the handlers, so that the host hears of every item already present.
    const TRestore<bool> filling(FFilling, true);
    FillAgenda();
    FillFacts();
    FillTemplates();
    FillRules();
}

TIEConsole::~TIEConsole() {
    FView = nullptr;
    ReturnHandlers();
    FRulesDialog.reset();
    FFactTemplatesDialog.reset();
    FFactsDialog.reset();
    FTypesDialog.reset();
    if (FOwnEngine) {
        TEngineEvents none;
        SwapEngineEvents(*FOwnEngine, none);
    }
}

void TIEConsole::CreateEditors() {
    FTypesDialog.reset(new TDefinedTypesDialog(nullptr));
    FTypesDialog->SetCaption("Edit Defined Types...");
    FTypesDialog->SetEngine(FEngine);
    FFactsDialog.reset(new TFactsDialog(nullptr));
    FFactsDialog->SetCaption("Edit Facts...");
    FFactsDialog->SetEngine(FEngine);
    FFactTemplatesDialog.reset(new TFactTemplatesDialog(nullptr));
    FFactTemplatesDialog->SetCaption("Edit Fact Templates...");
    FFactTemplatesDialog->SetEngine(FEngine);
    FRulesDialog.reset(new TRulesDialog(nullptr));
    FRulesDialog->SetCaption("Edit Rules...");
    FRulesDialog->SetEngine(FEngine);
}

void TIEConsole::AttachHandlers(TEngineEvents& ev) {
    ev.OnAddActivation = [this](TInferenceEngine* s, int32_t i, TActivation* a) {
        AddActivation(s, i, a);
    };
    ev.OnRemoveActivation = [this](TInferenceEngine* s, int32_t i, TActivation* a) {
        RemoveActivation(s, i, a);
    };
    ev.OnAssertion = [this](TInferenceEngine* s, IFact* f) { Assertion(s, f); };
    ev.OnRetraction = [this](TInferenceEngine* s, IFact* f) { Retraction(s, f); };
    ev.OnClearFacts = [this](TInferenceEngine* s) { ClearFacts(s); };
    ev.OnNewFactTemplate = [this](TInferenceEngine* s, IFactTemplate* t) { NewFactTemplate(s, t); };
    ev.OnRemoveFactTemplate = [this](TInferenceEngine* s, IFactTemplate* t) {
        RemoveFactTemplate(s, t);
    };
    ev.OnClearFactTemplates = [this](TInferenceEngine* s) { ClearFactTemplates(s); };
    ev.OnAddRule = [this](TInferenceEngine* s, TRule* r) { AddRule(s, r); };
    ev.OnRemoveRule = [this](TInferenceEngine* s, TRule* r) { RemoveRule(s, r); };
    ev.OnClearRules = [this](TInferenceEngine* s) { ClearRules(s); };
    ev.OnClear = [this](TInferenceEngine* s) { Clear(s); };
    ev.OnPrintOut = [this](TInferenceEngine* s, const std::string& n, const std::string& t) {
        PrintOut(s, n, t);
    };
    ev.OnReadLine = [this](TInferenceEngine* s, const std::string& n, std::string& t) {
        ReadLine(s, n, t);
    };
    ev.OnReadToken = [this](TInferenceEngine* s, const std::string& n, TStreamTokenRef& t) {
        ReadToken(s, n, t);
    };
}

void TIEConsole::ReturnHandlers() {
    if (!FHandlersBorrowed) return;
    FHandlersBorrowed = false;
    SwapEngineEvents(*FEngine, *FHolder);
}

void TIEConsole::Close() {
    if (!FDialog) ReturnHandlers();
}

// ---------------------------------------------------------------------------------------------
// Lists

void TIEConsole::InsertLine(TConsoleList list, int32_t index, std::string text, intptr_t key) {
    auto& lines = FLines[list];
    index = std::clamp<int32_t>(index, 0, static_cast<int32_t>(lines.size()));
    lines.insert(lines.begin() + index, TConsoleLine{text, key});
    if (FView) FView->LineInserted(list, index, lines[static_cast<size_t>(index)].Text);
}

void TIEConsole::AppendLine(TConsoleList list, std::string text, intptr_t key) {
    InsertLine(list, static_cast<int32_t>(FLines[list].size()), std::move(text), key);
}

void TIEConsole::DeleteLine(TConsoleList list, int32_t index) {
    auto& lines = FLines[list];
    if (index < 0 || index >= static_cast<int32_t>(lines.size())) return;
    lines.erase(lines.begin() + index);
    if (FView) FView->LineDeleted(list, index);
}

void TIEConsole::DeleteKey(TConsoleList list, intptr_t key) {
    const auto& lines = FLines[list];
    // Facts and templates arrive in ascending key order, so look there first.
    auto it = std::lower_bound(lines.begin(), lines.end(), key,
                               [](const TConsoleLine& l, intptr_t k) { return l.Key < k; });
    if (it == lines.end() || it->Key != key)
        it = std::find_if(lines.begin(), lines.end(),
                          [key](const TConsoleLine& l) { return l.Key == key; });
    if (it != lines.end()) DeleteLine(list, static_cast<int32_t>(it - lines.begin()));
}

void TIEConsole::ClearList(TConsoleList list) {
    FLines[list].clear();
    if (FView) FView->ListCleared(list);
}

void TIEConsole::FillAgenda() {
    ClearList(clAgenda);
    for (int32_t i = 0; i < FEngine->ActivationCount(); ++i)
        AddActivation(FEngine, i, FEngine->GetActivation(i));
}

void TIEConsole::FillFacts() {
    ClearList(clFacts);
    const std::vector<TRefPtr<IFact>> facts = FEngine->Facts().Items();
    for (const auto& fact : facts)
        Assertion(FEngine, fact.get());
}

void TIEConsole::FillTemplates() {
    ClearList(clFactTemplates);
    std::vector<TRefPtr<IFactTemplate>> templates;
    for (auto& entry : FEngine->FactTemplates())
        if (auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get())) templates.emplace_back(t);
    for (const auto& t : templates)
        NewFactTemplate(FEngine, t.get());
}

void TIEConsole::FillRules() {
    ClearList(clRules);
    std::vector<TRule*> rules;
    auto it = FEngine->Rules().Keys();
    while (it->HasNext())
        rules.push_back(FEngine->Rules().Find(it->NextString()));
    for (TRule* rule : rules)
        AddRule(FEngine, rule);
}

std::string TIEConsole::RuleLine(const TRule& rule) {
    if (rule.Comment().empty()) return rule.RuleName();
    return rule.RuleName() + " \"" + rule.Comment() + "\"";
}

std::string TIEConsole::TemplateLine(const IFactTemplate& factTemplate) {
    std::string text = factTemplate.GetText();
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            continue;
        }
        line += text[i];
    }
    return line;
}

// ---------------------------------------------------------------------------------------------
// Engine handlers: the console's work, then the host's handler (live mode).

void TIEConsole::AddActivation(TInferenceEngine* sender, int32_t index, TActivation* activation) {
    Changed();
    if (AgendaShown()) InsertLine(clAgenda, index, activation->GetText(), 0);
    SetRunEnabled(true);
    if (FHolder && FHolder->OnAddActivation) FHolder->OnAddActivation(sender, index, activation);
}

void TIEConsole::RemoveActivation(TInferenceEngine* sender, int32_t index,
                                  TActivation* activation) {
    Changed();
    if (AgendaShown()) DeleteLine(clAgenda, index);
    // The engine reports a removal while the activation is still filed: it does not count.
    const int32_t going = activation && activation->InAgenda() ? 1 : 0;
    SetRunEnabled(sender && sender->ActivationCount() - going > 0);
    if (FHolder && FHolder->OnRemoveActivation)
        FHolder->OnRemoveActivation(sender, index, activation);
}

void TIEConsole::Assertion(TInferenceEngine* sender, IFact* fact) {
    Changed();
    AppendLine(clFacts, fact->GetLabel(), fact->GetFactId());
    if (FHolder && FHolder->OnAssertion) FHolder->OnAssertion(sender, fact);
}

void TIEConsole::Retraction(TInferenceEngine* sender, IFact* fact) {
    Changed();
    DeleteKey(clFacts, fact->GetFactId());
    if (FHolder && FHolder->OnRetraction) FHolder->OnRetraction(sender, fact);
}

void TIEConsole::ClearFacts(TInferenceEngine* sender) {
    Changed();
    ClearList(clFacts);
    if (FHolder && FHolder->OnClearFacts) FHolder->OnClearFacts(sender);
}

void TIEConsole::NewFactTemplate(TInferenceEngine* sender, IFactTemplate* factTemplate) {
    Changed();
    factTemplate->SetTag(FTemplateCounter);
    AppendLine(clFactTemplates, TemplateLine(*factTemplate), FTemplateCounter);
    ++FTemplateCounter;
    if (FHolder && FHolder->OnNewFactTemplate) FHolder->OnNewFactTemplate(sender, factTemplate);
}

void TIEConsole::RemoveFactTemplate(TInferenceEngine* sender, IFactTemplate* factTemplate) {
    Changed();
    DeleteKey(clFactTemplates, factTemplate->GetTag());
    if (FHolder && FHolder->OnRemoveFactTemplate)
        FHolder->OnRemoveFactTemplate(sender, factTemplate);
}

void TIEConsole::ClearFactTemplates(TInferenceEngine* sender) {
    Changed();
    ClearList(clFactTemplates);
    FTemplateCounter = 0;
    if (FHolder && FHolder->OnClearFactTemplates) FHolder->OnClearFactTemplates(sender);
}

void TIEConsole::AddRule(TInferenceEngine* sender, TRule* rule) {
    Changed();
    AppendLine(clRules, RuleLine(*rule), reinterpret_cast<intptr_t>(rule));
    if (FHolder && FHolder->OnAddRule) FHolder->OnAddRule(sender, rule);
}

void TIEConsole::RemoveRule(TInferenceEngine* sender, TRule* rule) {
    Changed();
    const auto& lines = FLines[clRules];
    const auto key = reinterpret_cast<intptr_t>(rule);
    auto it = std::find_if(lines.begin(), lines.end(),
                           [key](const TConsoleLine& l) { return l.Key == key; });
    if (it != lines.end()) DeleteLine(clRules, static_cast<int32_t>(it - lines.begin()));
    if (FHolder && FHolder->OnRemoveRule) FHolder->OnRemoveRule(sender, rule);
}

void TIEConsole::ClearRules(TInferenceEngine* sender) {
    Changed();
    ClearList(clRules);
    if (FHolder && FHolder->OnClearRules) FHolder->OnClearRules(sender);
}

void TIEConsole::Clear(TInferenceEngine* sender) {
    Changed();
    ClearList(clAgenda);
    SetRunEnabled(false);
    if (FHolder && FHolder->OnClear) FHolder->OnClear(sender);
}

void TIEConsole::PrintOut(TInferenceEngine* sender, const std::string& name,
                          const std::string& text) {
    size_t end = text.size();
    while (end > 0 && static_cast<unsigned char>(text[end - 1]) < 33)
        --end;
    FLastOutput.assign(text, 0, end);
    AddOutput(FLastOutput);
    if (FHolder && FHolder->OnPrintOut) FHolder->OnPrintOut(sender, name, text);
}

// The console answers reads itself: asking the host's reader as well would ask the user twice.
void TIEConsole::ReadLine(TInferenceEngine*, const std::string&, std::string& text) {
    std::string value;
    if (!GetDialogService().InputQuery("Enter line:", FLastOutput, value)) throw EAbort();
    AddOutput(value);
    text = value;
}

void TIEConsole::ReadToken(TInferenceEngine* sender, const std::string&, TStreamTokenRef& token) {
    std::string value;
    if (!GetDialogService().InputQuery("Enter token:", FLastOutput, value)) throw EAbort();
    AddOutput(value);
    TStringStream source(value);
    TIEClipsStream scanner(&source);
    scanner.SetEngine(sender ? sender : FEngine);
    token = scanner.ReadToken();
}

// ---------------------------------------------------------------------------------------------
// Output, actions and settings

void TIEConsole::AddOutput(std::string text) {
    FOutput.push_back(std::move(text));
    if (FView) FView->OutputAdded(FOutput.back());
}

void TIEConsole::ClearOutput() {
    FOutput.clear();
    if (FView) FView->OutputCleared();
}

void TIEConsole::SetRunEnabled(bool value) {
    if (FEnabled[caIERun] == value && FEnabled[caIEStep] == value) return;
    FEnabled[caIERun] = value;
    FEnabled[caIEStep] = value;
    ActionsChanged();
}

void TIEConsole::ActionsChanged() {
    if (FView) FView->ActionsChanged();
}

bool TIEConsole::FileMenuVisible() const noexcept {
    return FVisible[caFileNew] || FVisible[caFileOpen] || FVisible[caFileSave] ||
           FVisible[caFileSaveAs] || FVisible[caFileView] || FVisible[caFileExit];
}

bool TIEConsole::EngineMenuVisible() const noexcept {
    return FVisible[caIEReset] || FVisible[caIERun] || FVisible[caIEStep];
}

void TIEConsole::SetValidActions(TValidActions value) {
    if (value == FValidActions) return;
    FValidActions = value;
    FVisible[caFileNew] = value.Contains(vaFileNew);
    FVisible[caFileOpen] = value.Contains(vaFileOpen);
    FVisible[caFileSave] = value.Contains(vaFileSave);
    FVisible[caFileSaveAs] = value.Contains(vaFileSaveAs);
    FVisible[caFileView] = value.Contains(vaFileView);
    FVisible[caEditTypes] = value.Contains(vaEditTypes);
    FVisible[caEditFacts] = value.Contains(vaEditFacts);
    FVisible[caEditFactTemplates] = value.Contains(vaEditFactTemplates);
    FVisible[caEditRules] = value.Contains(vaEditRules);
    FVisible[caIERun] = value.Contains(vaIERun);
    FVisible[caIEStep] = value.Contains(vaIERunOneStep);
    FVisible[caIEStop] = value.Contains(vaIERun);
    FVisible[caIEReset] = value.Contains(vaIEReset);
    ActionsChanged();
}

void TIEConsole::SetShowButtons(bool value) {
    if (value == FShowButtons) return;
    FShowButtons = value;
    FVisible[caFileExit] = value;
    ActionsChanged();
}

void TIEConsole::AttachFactHandlers(bool attach) {
    if (attach) {
        FEngine->OnAssertion = [this](TInferenceEngine* s, IFact* f) { Assertion(s, f); };
        FEngine->OnRetraction = [this](TInferenceEngine* s, IFact* f) { Retraction(s, f); };
    } else {
        FEngine->OnAssertion = nullptr;
        FEngine->OnRetraction = nullptr;
    }
}

void TIEConsole::AttachTemplateHandlers(bool attach) {
    if (attach) {
        FEngine->OnNewFactTemplate = [this](TInferenceEngine* s, IFactTemplate* t) {
            NewFactTemplate(s, t);
        };
        FEngine->OnRemoveFactTemplate = [this](TInferenceEngine* s, IFactTemplate* t) {
            RemoveFactTemplate(s, t);
        };
    } else {
        FEngine->OnNewFactTemplate = nullptr;
        FEngine->OnRemoveFactTemplate = nullptr;
    }
}

void TIEConsole::AttachRuleHandlers(bool attach) {
    if (attach) {
        FEngine->OnAddRule = [this](TInferenceEngine* s, TRule* r) { AddRule(s, r); };
        FEngine->OnRemoveRule = [this](TInferenceEngine* s, TRule* r) { RemoveRule(s, r); };
    } else {
        FEngine->OnAddRule = nullptr;
        FEngine->OnRemoveRule = nullptr;
    }
}

void TIEConsole::SetValidViews(TValidViews value) {
    if (value == FValidViews) return;
    // Refilling the lists reports what is there already: no change.
    const TRestore<bool> filling(FFilling, true);
    FValidViews = value;
    if (FView) FView->ViewsChanged();
    if (value.Contains(vvAgenda))
        FillAgenda();
    else
        ClearList(clAgenda);
    if (!value.Contains(vvFacts)) {
        AttachFactHandlers(false);
    } else if (!FEngine->OnAssertion) {
        AttachFactHandlers(true);
        FillFacts();
    }
    if (!value.Contains(vvFactTemplates)) {
        AttachTemplateHandlers(false);
    } else if (!FEngine->OnNewFactTemplate) {
        AttachTemplateHandlers(true);
        FTemplateCounter = 0;
        FillTemplates();
    }
    if (!value.Contains(vvRules)) {
        AttachRuleHandlers(false);
    } else if (!FEngine->OnAddRule) {
        AttachRuleHandlers(true);
        FillRules();
    }
}

void TIEConsole::FileNew() {
    if (!Allowed(caFileNew)) return;
    Changed();
    ClearOutput();
    FOpenedFile.clear();
    FEngine->Clear();
}

void TIEConsole::FileOpen(const std::string& fileName) {
    if (!Allowed(caFileOpen)) return;
    Changed();
    FOpenedFile.clear();
    FEngine->Clear();
    FEngine->LoadFromFile(fileName);
    FOpenedFile = fileName;
}

void TIEConsole::FileSave(const std::string& fileName) {
    if (!Allowed(caFileSave)) return;
    FEngine->SaveToFile(fileName);
}

void TIEConsole::FileView() {
    AddOutput(FEngine->GetText());
}

void TIEConsole::EditTypes() {
    if (Allowed(caEditTypes) && FTypesDialog->Execute()) Changed();
}

void TIEConsole::EditFacts() {
    if (Allowed(caEditFacts) && FFactsDialog->Execute()) Changed();
}

void TIEConsole::EditFactTemplates() {
    if (Allowed(caEditFactTemplates) && FFactTemplatesDialog->Execute()) Changed();
}

void TIEConsole::EditRules() {
    if (Allowed(caEditRules) && FRulesDialog->Execute()) Changed();
}

void TIEConsole::IEReset() {
    if (!Allowed(caIEReset)) return;
    Changed();
    FEngine->Reset();
}

// A disabled action does not run, whatever its shortcut.
void TIEConsole::IERun() {
    if (!FEnabled[caIERun] || !Allowed(caIERun)) return;
    Changed();
    Watched([this] { FEngine->Run(); });
}

void TIEConsole::IEStop() {
    if (FWatch) FWatch->Stop();
}

void TIEConsole::Watched(const std::function<void()>& work) {
    TRunWatch watch(*FEngine, FiringLimit, [this] {
        if (FView) FView->ProcessMessages();
    });
    {
        FWatch = &watch;
        ActionsChanged();
        const TOnExit idle([this] {
            FWatch = nullptr;
            ActionsChanged();
        });
        work();
    }
    if (watch.End() == TRunWatch::TEnd::eLimitReached) throw EIEException(watch.LimitMessage());
    if (watch.End() == TRunWatch::TEnd::eStopped)
        AddOutput(Format("Stopped after %d firings.", watch.Fired()));
}

void TIEConsole::IEStep() {
    if (!FEnabled[caIEStep] || !Allowed(caIEStep)) return;
    Changed();
    FEngine->RunLimited(1);
}

bool TIEConsole::Submit(std::string_view input) {
    if (FWatch) return false;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        std::string line(input.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    if (EchoInput)
        for (size_t i = 0; i < lines.size(); ++i)
            AddOutput(i == 0 ? InputCursor + " " + lines[i] : lines[i]);
    std::string command;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) command += "\r\n";
        command += lines[i];
    }
    Changed();
    Watched([&] { FEngine->ExecuteCommand(command, true); });
    return true;
}

int64_t TIEConsole::FindText(std::string_view text, int64_t selStart, int64_t selLength,
                             std::string_view what, bool matchCase) {
    if (what.empty()) return -1;
    int64_t from = 0;
    if (selLength > 0) from = selStart + std::max<int64_t>(selLength - 1, 1);
    if (from < 0 || from > static_cast<int64_t>(text.size())) return -1;
    std::string_view rest = text.substr(static_cast<size_t>(from));
    size_t at;
    if (matchCase) {
        at = rest.find(what);
    } else {
        auto lower = [](std::string_view s) {
            std::string r(s);
            for (char& c : r)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            return r;
        };
        at = lower(rest).find(lower(what));
    }
    return at == std::string_view::npos ? -1 : from + static_cast<int64_t>(at);
}

} // namespace ie

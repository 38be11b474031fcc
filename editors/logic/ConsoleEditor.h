// The console's state and behaviour, apart from its window: the engine it works on (a private
// copy in dialog mode, the host's engine in live mode), the four live lists (agenda, facts, fact
// templates, rules) that follow the engine's events, the output lines, command submission with
// echo, the guarded actions with their visibility and enabled state, and the valid views.
//
// Live mode borrows the host engine's event handlers: the console's handlers go onto the engine
// and the host's are kept aside; every console handler does its work and then forwards to the
// host's handler of the same event. Close (or destruction) gives the host its handlers back.
// Invariant: each list mirrors, line for line, what its window list shows; a window follows the
// model through IConsoleView.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "editors/logic/IEDialogs.h"
#include "engine/InferenceEngine.h"
#include "engine/RunWatch.h"

namespace ie {

enum TConsoleList : uint8_t { clAgenda, clFacts, clFactTemplates, clRules };

enum TConsoleAction : uint8_t {
    caFileNew,
    caFileOpen,
    caFileSave,
    caFileSaveAs,
    caFileView,
    caFileExit,
    caEditTypes,
    caEditFacts,
    caEditFactTemplates,
    caEditRules,
    caIEReset,
    caIERun,
    caIEStep,
    // Ends the rules firing in a Run or a submitted command; enabled only then.
    caIEStop,
};
inline constexpr int ConsoleActionCount = caIEStop + 1;

struct TConsoleLine {
    std::string Text;
    intptr_t Key = 0;
};

// What the console's window shows; the console tells it of every change.
class IConsoleView {
public:
    virtual void OutputAdded(const std::string& text) = 0;
    virtual void OutputCleared() = 0;
    virtual void LineInserted(TConsoleList list, int32_t index, const std::string& text) = 0;
    virtual void LineDeleted(TConsoleList list, int32_t index) = 0;
    virtual void ListCleared(TConsoleList list) = 0;
    // Visibility or enabled state of actions, menus or buttons changed.
    virtual void ActionsChanged() = 0;
    // The set of shown views changed.
    virtual void ViewsChanged() = 0;
    // The window's turn while rules fire: pending window messages run (Stop, painting).
    virtual void ProcessMessages() {}

protected:
    ~IConsoleView() = default;
};

// Each side takes the other's handler of every event.
void SwapEngineEvents(TInferenceEngine& engine, TEngineEvents& events);

// The help contexts of the console.
namespace ConsoleHelp {
inline constexpr int Input = 61, Submit = 73, Output = 83, HelpButton = 16, New = 92, Open = 103,
                     Save = 113, SaveAs = 123, Exit = 133, Cut = 143, Copy = 153, Paste = 162,
                     Run = 172, RunOneStep = 181, Facts = 190, FactTemplates = 201, Rules = 211,
                     Reset = 221;
} // namespace ConsoleHelp

// The first entry offers both kinds of rule file; its name says so, so that the list does not
// hold two entries called "All Files" of which only the last lists all files.
inline constexpr std::string_view ConsoleFileFilter =
    "Inference Engine and CLIPS Files|*.ie;*.clp|Inference Engine Files (*.ie)|*.ie|CLIPS Files "
    "(*.clp)|*.clp|All Files (*.*)|*.*";

class TIEConsole {
public:
    // CreateWithEngine: dialog mode copies `engine` into a private engine; live mode works on
    // `engine` itself and takes its event handlers.
    TIEConsole(bool dialog, TInferenceEngine& engine);
    ~TIEConsole();
    TIEConsole(const TIEConsole&) = delete;
    TIEConsole& operator=(const TIEConsole&) = delete;

    TInferenceEngine& Engine() const noexcept { return *FEngine; }
    bool DialogMode() const noexcept { return FDialog; }
    void SetView(IConsoleView* view) noexcept { FView = view; }

    bool AllowCheats = true;
    bool EchoInput = true;
    std::string InputCursor = ">";

    TValidActions ValidActions() const noexcept { return FValidActions; }
    void SetValidActions(TValidActions value);
    TValidViews ValidViews() const noexcept { return FValidViews; }
    void SetValidViews(TValidViews value);
    bool ShowButtons() const noexcept { return FShowButtons; }
    void SetShowButtons(bool value);

    bool ActionVisible(TConsoleAction action) const noexcept { return FVisible[action]; }
    // While rules fire only Stop is enabled; otherwise Stop is not.
    bool ActionEnabled(TConsoleAction action) const noexcept {
        return FWatch ? action == caIEStop : action != caIEStop && FEnabled[action];
    }
    // A guarded action does its work only when it is visible or cheats are allowed, and never
    // while rules fire (the window's turns let its controls be clicked then).
    bool Allowed(TConsoleAction action) const noexcept {
        return !FWatch && (FVisible[action] || AllowCheats);
    }
    // Whether rules fire now, in a Run or a submitted command.
    bool Busy() const noexcept { return FWatch != nullptr; }
    // How often the rules may fire in one Run or command before they are halted (and the
    // rule that fired most is named); 0 sets no limit.
    int32_t FiringLimit = TRunWatch::DefaultFiringLimit;
    bool FileMenuVisible() const noexcept;
    bool EngineMenuVisible() const noexcept;

    // The actions (each guarded where the console guards it; a refused one does nothing).
    void FileNew();
    void FileOpen(const std::string& fileName);
    void FileSave(const std::string& fileName);
    void FileView();
    void EditTypes();
    void EditFacts();
    void EditFactTemplates();
    void EditRules();
    void IEReset();
    // Runs the engine; the window has its turns between firings (IConsoleView::ProcessMessages)
    // and Stop ends the run. A run halted at the firing limit raises what the watch says.
    void IERun();
    void IEStep();
    // Ends the rules firing now after the firing under way (the Stop action).
    void IEStop();
    void ClearOutput();

    // Echoes the input (when EchoInput) and runs it as commands; raises what the commands raise.
    // The rules a command fires are watched as IERun's are. Refused (false) while rules fire.
    bool Submit(std::string_view input);

    // Live mode: gives the host engine its handlers back (once); the lists stop following.
    void Close();

    // Whether anything may have changed the engine since the console was opened: an engine
    // event other than the filling of the lists, a submitted command (it may bind a global), an
    // action that works on the engine or an editor closed with OK. Dialog mode writes the engine
    // back only then, and asks before a close without OK throws such changes away.
    bool Modified() const noexcept { return FModified; }
    // The rule file Open loaded last, empty when none did or New cleared the engine since.
    const std::string& OpenedFile() const noexcept { return FOpenedFile; }

    const std::vector<TConsoleLine>& Lines(TConsoleList list) const { return FLines[list]; }
    const std::vector<std::string>& Output() const noexcept { return FOutput; }
    const std::string& LastOutput() const noexcept { return FLastOutput; }

    TDefinedTypesDialog& TypesDialog() { return *FTypesDialog; }
    TFactsDialog& FactsDialog() { return *FFactsDialog; }
    TFactTemplatesDialog& FactTemplatesDialog() { return *FFactTemplatesDialog; }
    TRulesDialog& RulesDialog() { return *FRulesDialog; }

    // Where Find selects the next match of `what` in `text` after a selection (selStart,
    // selLength, zero-based): the match's start, or -1. The search starts at the last selected
    // character, and after a one-character selection at the character after it, so that Find
    // Again always moves on.
    static int64_t FindText(std::string_view text, int64_t selStart, int64_t selLength,
                            std::string_view what, bool matchCase);

    // The engine's handlers.
    void AddActivation(TInferenceEngine* sender, int32_t index, TActivation* activation);
    void RemoveActivation(TInferenceEngine* sender, int32_t index, TActivation* activation);
    void Assertion(TInferenceEngine* sender, IFact* fact);
    void Retraction(TInferenceEngine* sender, IFact* fact);
    void ClearFacts(TInferenceEngine* sender);
    void NewFactTemplate(TInferenceEngine* sender, IFactTemplate* factTemplate);
    void RemoveFactTemplate(TInferenceEngine* sender, IFactTemplate* factTemplate);
    void ClearFactTemplates(TInferenceEngine* sender);
    void AddRule(TInferenceEngine* sender, TRule* rule);
    void RemoveRule(TInferenceEngine* sender, TRule* rule);
    void ClearRules(TInferenceEngine* sender);
    void Clear(TInferenceEngine* sender);
    void PrintOut(TInferenceEngine* sender, const std::string& name, const std::string& text);
    void ReadLine(TInferenceEngine* sender, const std::string& name, std::string& text);
    void ReadToken(TInferenceEngine* sender, const std::string& name, TStreamTokenRef& token);

    static std::string RuleLine(const TRule& rule);
    static std::string TemplateLine(const IFactTemplate& factTemplate);

private:
    void AttachHandlers(TEngineEvents& events);
    void AttachFactHandlers(bool attach);
    void AttachTemplateHandlers(bool attach);
    void AttachRuleHandlers(bool attach);
    void FillAgenda();
    void FillFacts();
    void FillTemplates();
    void FillRules();
    void AddOutput(std::string text);
    void InsertLine(TConsoleList list, int32_t index, std::string text, intptr_t key);
    void AppendLine(TConsoleList list, std::string text, intptr_t key);
    void DeleteLine(TConsoleList list, int32_t index);
    void DeleteKey(TConsoleList list, intptr_t key);
    void ClearList(TConsoleList list);
    void SetRunEnabled(bool value);
    void ActionsChanged();
    // Runs work under a watch over the rules it fires (see IERun).
    void Watched(const std::function<void()>& work);
    void ReturnHandlers();
    void CreateEditors();
    bool AgendaShown() const noexcept { return FValidViews.Contains(vvAgenda); }
    void Changed() noexcept {
        if (!FFilling) FModified = true;
    }

    bool FDialog;
    std::unique_ptr<TInferenceEngine, TComponentDeleter> FOwnEngine;
    TInferenceEngine* FEngine = nullptr;
    // Live mode: the host's handlers while the console holds the engine's events.
    std::unique_ptr<TEngineEvents> FHolder;
    bool FHandlersBorrowed = false;
    IConsoleView* FView = nullptr;

    TValidActions FValidActions = TValidActions::FromBits(4095);
    TValidViews FValidViews = TValidViews::FromBits(15);
    bool FShowButtons = false;
    std::array<bool, ConsoleActionCount> FVisible{};
    std::array<bool, ConsoleActionCount> FEnabled{};

    std::array<std::vector<TConsoleLine>, 4> FLines;
    std::vector<std::string> FOutput;
    std::string FLastOutput;
    std::string FOpenedFile;
    intptr_t FTemplateCounter = 0;
    bool FModified = false;
    // The watch over the rules firing now, null while none fire.
    TRunWatch* FWatch = nullptr;
    // While the lists are filled from the engine: the handlers' calls change nothing.
    bool FFilling = false;

    std::unique_ptr<TDefinedTypesDialog, TComponentDeleter> FTypesDialog;
    std::unique_ptr<TFactsDialog, TComponentDeleter> FFactsDialog;
    std::unique_ptr<TFactTemplatesDialog, TComponentDeleter> FFactTemplatesDialog;
    std::unique_ptr<TRulesDialog, TComponentDeleter> FRulesDialog;
};

} // namespace ie

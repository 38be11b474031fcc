// The dialog components' Execute: copy the host's tables into the form's private engine, show the
// form, and write back only on OK. The host's engine and rule are held by free notification, so a
// component never reaches a freed one; facts keep their identifiers through the round trip, and a
// console that changed nothing does not rebuild the host.
#include "editors/logic/IEDialogs.h"

#include "editors/logic/ConsoleEditor.h"
#include "editors/logic/EngineTransfer.h"
#include "engine/InferenceEngine.h"
#include "engine/match/IERule.h"
#include "platform/DialogService.h"
#include "platform/Format.h"

namespace ie {
namespace {

TEditorFormFactory& Factory() {
    static TEditorFormFactory factory;
    return factory;
}

template <class F> auto CreateForm(const F& create) {
    if (!create) throw EIEException("No editor form is installed");
    auto form = create();
    if (!form) throw EIEException("No editor form is installed");
    return form;
}

} // namespace

TEditorFormFactory SetEditorFormFactory(TEditorFormFactory factory) {
    std::swap(Factory(), factory);
    return factory;
}

const TEditorFormFactory& EditorFormFactory() {
    return Factory();
}

// ---------------------------------------------------------------------------------------------

void TIEDialogComponent::SetEngine(TInferenceEngine* value) {
    if (value == FEngine) return;
    if (FEngine) RemoveFreeNotification(FEngine);
    FEngine = value;
    if (FEngine) FreeNotification(FEngine);
}

void TIEDialogComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component == FEngine) FEngine = nullptr;
    TComponent::Notification(component, operation);
}

TInferenceEngine& TIEDialogComponent::CheckedEngine() const {
    if (!FEngine) RaiseIE(imUnknownEngine);
    return *FEngine;
}

namespace {

// Switches a fact list to keep the identifiers of the facts handed to it for as long as it
// lives.
class TKeepFactIdentifiers {
public:
    explicit TKeepFactIdentifiers(TFacts& facts) : FFacts(facts), FWas(facts.KeepIdentifiers) {
        FFacts.KeepIdentifiers = true;
    }
    ~TKeepFactIdentifiers() { FFacts.KeepIdentifiers = FWas; }
    TKeepFactIdentifiers(const TKeepFactIdentifiers&) = delete;
    TKeepFactIdentifiers& operator=(const TKeepFactIdentifiers&) = delete;

private:
    TFacts& FFacts;
    bool FWas;
};

} // namespace

bool TFactsDialog::Execute() {
    TInferenceEngine& host = CheckedEngine();
    auto form = CreateForm(EditorFormFactory().Facts);
    form->SetCaption(FCaption);
    TInferenceEngine& edited = form->FormEngine();
    // The editor shows the host's facts under their own identifiers, and a fact that went
    // through the editor unchanged comes back under its identifier.
    edited.Facts().KeepIdentifiers = true;
    CopyEngineForEditing(edited, host);
    form->SetEnableFactTemplateEditor(EnableFactTemplateEditor);
    form->SetEnableTypeEditor(EnableTypeEditor);
    if (!form->ShowModal()) return false;
    // One clear of the fact list: one clear token and OnClearFacts, no retraction per fact.
    host.Facts().Clear();
    if (EnableTypeEditor) host.DefinedTypes().Assign(edited.DefinedTypes());
    if (EnableFactTemplateEditor) host.FactTemplates().Assign(edited.FactTemplates());
    // The list was emptied above, before the templates were written: add without a second
    // clear.
    const TKeepFactIdentifiers keep(host.Facts());
    host.Facts().AddFrom(edited.Facts());
    return true;
}

bool TFactTemplatesDialog::Execute() {
    TInferenceEngine& host = CheckedEngine();
    auto form = CreateForm(EditorFormFactory().FactTemplates);
    form->SetCaption(FCaption);
    form->SetEnableTypeEditor(EnableTypeEditor);
    TInferenceEngine& edited = form->FormEngine();
    edited.DefinedTypes().Assign(host.DefinedTypes());
    edited.AssignUserFunctions(host);
    edited.FactTemplates().Assign(host.FactTemplates());
    if (!form->ShowModal()) return false;
    if (EnableTypeEditor) host.DefinedTypes().Assign(edited.DefinedTypes());
    host.FactTemplates().Assign(edited.FactTemplates());
    return true;
}

void TRulesDialog::SetRule(TRule* value) {
    if (value == FRule) return;
    if (FRule) RemoveFreeNotification(FRule);
    FRule = value;
    if (FRule) FreeNotification(FRule);
}

void TRulesDialog::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component == FRule) FRule = nullptr;
    TIEDialogComponent::Notification(component, operation);
}

bool TRulesDialog::Execute() {
    TInferenceEngine& host = CheckedEngine();
    if (!MultiEdit && !FRule) RaiseIE(imMissingRule);
    auto form = CreateForm(EditorFormFactory().Rules);
    form->SetCaption(FCaption);
    TInferenceEngine& edited = form->FormEngine();
    CopyEngineForEditing(edited, host);
    form->SetMultiEdit(MultiEdit);
    form->SetEnableFactTemplateEditor(EnableFactTemplateEditor);
    form->SetEnableTypeEditor(EnableTypeEditor);
    if (!MultiEdit) form->SetRule(FRule);
    if (!form->ShowModal()) return false;
    if (MultiEdit) host.Rules().Clear();
    if (EnableTypeEditor) host.DefinedTypes().Assign(edited.DefinedTypes());
    if (EnableFactTemplateEditor) host.FactTemplates().Assign(edited.FactTemplates());
    if (MultiEdit) {
        host.Rules().Assign(edited.Rules());
    } else if (TRule* rule = form->EditedRule()) {
        FRule->Assign(rule);
    }
    return true;
}

bool TDefinedTypesDialog::Execute() {
    TInferenceEngine& host = CheckedEngine();
    auto form = CreateForm(EditorFormFactory().Types);
    form->SetCaption(FCaption);
    TInferenceEngine& edited = form->FormEngine();
    edited.DefinedTypes().Assign(host.DefinedTypes());
    if (!form->ShowModal()) return false;
    host.DefinedTypes().Assign(edited.DefinedTypes());
    return true;
}

// ---------------------------------------------------------------------------------------------

TConsoleDialog::TConsoleDialog(TComponent* owner) : TIEDialogComponent(owner) {
    FCaption = "Console Editor";
}

TConsoleDialog::~TConsoleDialog() {
    // The console gives a live engine its handlers back while both still exist.
    FForm.reset();
}

void TConsoleDialog::SetEngine(TInferenceEngine* value) {
    if (value == FEngine) return;
    CloseConsole();
    TIEDialogComponent::SetEngine(value);
}

void TConsoleDialog::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component == FEngine) CloseConsole();
    TIEDialogComponent::Notification(component, operation);
}

void TConsoleDialog::CloseConsole() {
    FForm.reset();
}

bool TConsoleDialog::Execute() {
    TInferenceEngine& host = CheckedEngine();
    FWroteBack = false;
    FOpenedFile.clear();
    CloseConsole();
    const auto& create = EditorFormFactory().Console;
    if (!create) throw EIEException("No editor form is installed");
    std::unique_ptr<IConsoleForm> form = create(Dialog, host);
    TIEConsole& console = form->Console();
    console.SetShowButtons(Dialog);
    form->SetCaption(FCaption);
    console.AllowCheats = AllowCheats;
    console.EchoInput = EchoInput;
    console.InputCursor = InputCursor;
    console.SetValidActions(ValidActions);
    console.SetValidViews(ValidViews);
    if (!Dialog) {
        FForm = std::move(form);
        FForm->ShowModeless();
        return true;
    }
    while (form->ShowModal()) {
        // Writing back rebuilds the host engine: its facts are asserted again and its rules
        // match them again (what fired stays fired). Nothing changed, nothing to rebuild.
        if (!console.Modified()) return true;
        try {
            WriteBackWhole(host, console.Engine());
            FWroteBack = true;
            FOpenedFile = console.OpenedFile();
            return true;
        } catch (const EAbort&) {
            throw;
        } catch (const std::exception& e) {
            // The user's work is still in the console: it opens again, and nothing of it is
            // lost because one table would not go back.
            const std::string message =
                Format("The console's work could not be written back, so the engine keeps what "
                       "it had. What failed: %s\r\nThe console opens again with your work.",
                       e.what());
            if (OnWriteBackFailed) OnWriteBackFailed(message);
            GetDialogService().MessageBox(message, FCaption, MB_OK | MB_ICONERROR);
        }
    }
    return false;
}

} // namespace ie

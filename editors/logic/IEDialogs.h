// The non-visual dialog components through which a host opens the editors and the console on an
// engine. Each component names its engine; Execute builds the form, copies what the form edits
// into the form's private engine, shows it modally and writes the edited tables back only when
// the user confirms with OK. The console component can instead open the console modeless on the
// live engine.
//
// The components never touch a window: they reach the forms through the interfaces below, which
// the window side implements and installs with SetEditorFormFactory (tests install their own).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/model/IEConsts.h"
#include "platform/Component.h"

namespace ie {

class TInferenceEngine;
class TRule;
class TIEConsole;

// What a component asks of an editor form.
class IEditorForm {
public:
    virtual ~IEditorForm() = default;
    // The form's private engine.
    virtual TInferenceEngine& FormEngine() = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    // Shows the form modally; true when it was closed with OK.
    virtual bool ShowModal() = 0;
};

class IFactsEditForm : public IEditorForm {
public:
    virtual void SetEnableFactTemplateEditor(bool value) = 0;
    virtual void SetEnableTypeEditor(bool value) = 0;
};

class IFactTemplatesEditForm : public IEditorForm {
public:
    virtual void SetEnableTypeEditor(bool value) = 0;
};

class IRulesEditForm : public IEditorForm {
public:
    virtual void SetMultiEdit(bool value) = 0;
    virtual void SetEnableFactTemplateEditor(bool value) = 0;
    virtual void SetEnableTypeEditor(bool value) = 0;
    // The rule to edit alone (single-rule mode): the form edits a copy of it.
    virtual void SetRule(TRule* rule) = 0;
    // The edited rule after OK in single-rule mode (the editor applied into it).
    virtual TRule* EditedRule() = 0;
};

class ITypesEditForm : public IEditorForm {};

// The console window around its display-free console.
class IConsoleForm {
public:
    virtual ~IConsoleForm() = default;
    virtual TIEConsole& Console() = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual bool ShowModal() = 0;
    virtual void ShowModeless() = 0;
};

// How the components create their forms. A console form is created on an engine: in dialog mode
// it copies the engine into its private one, in live mode it works on the engine itself.
struct TEditorFormFactory {
    std::function<std::unique_ptr<IFactsEditForm>()> Facts;
    std::function<std::unique_ptr<IFactTemplatesEditForm>()> FactTemplates;
    std::function<std::unique_ptr<IRulesEditForm>()> Rules;
    std::function<std::unique_ptr<ITypesEditForm>()> Types;
    std::function<std::unique_ptr<IConsoleForm>(bool dialog, TInferenceEngine& engine)> Console;
};

// The installed factory; returns the previous one.
TEditorFormFactory SetEditorFormFactory(TEditorFormFactory factory);
const TEditorFormFactory& EditorFormFactory();

// The common part: Caption and Engine with free notification.
class TIEDialogComponent : public TComponent {
public:
    explicit TIEDialogComponent(TComponent* owner) : TComponent(owner) {}

    std::string_view ClassName() const override { return "TIEDialogComponent"; }
    const std::string& Caption() const noexcept { return FCaption; }
    void SetCaption(std::string value) { FCaption = std::move(value); }
    TInferenceEngine* Engine() const noexcept { return FEngine; }
    virtual void SetEngine(TInferenceEngine* value);

    virtual bool Execute() = 0;

    void Notification(TComponent* component, TOperation operation) override;

protected:
    // Raises "Unknown/Undefined Inference Engine" without an engine.
    TInferenceEngine& CheckedEngine() const;

    std::string FCaption;
    TInferenceEngine* FEngine = nullptr;
};

class TFactsDialog : public TIEDialogComponent {
public:
    using TIEDialogComponent::TIEDialogComponent;
    std::string_view ClassName() const override { return "TFactsDialog"; }
    bool Execute() override;

    bool EnableFactTemplateEditor = true;
    bool EnableTypeEditor = true;
};

class TFactTemplatesDialog : public TIEDialogComponent {
public:
    using TIEDialogComponent::TIEDialogComponent;
    std::string_view ClassName() const override { return "TFactTemplatesDialog"; }
    bool Execute() override;

    bool EnableTypeEditor = true;
};

class TRulesDialog : public TIEDialogComponent {
public:
    using TIEDialogComponent::TIEDialogComponent;
    std::string_view ClassName() const override { return "TRulesDialog"; }
    bool Execute() override;

    TRule* Rule() const noexcept { return FRule; }
    void SetRule(TRule* value);
    void Notification(TComponent* component, TOperation operation) override;

    bool MultiEdit = true;
    bool EnableFactTemplateEditor = true;
    bool EnableTypeEditor = true;

private:
    TRule* FRule = nullptr;
};

class TDefinedTypesDialog : public TIEDialogComponent {
public:
    using TIEDialogComponent::TIEDialogComponent;
    std::string_view ClassName() const override { return "TDefinedTypesDialog"; }
    bool Execute() override;
};

class TConsoleDialog : public TIEDialogComponent {
public:
    explicit TConsoleDialog(TComponent* owner);
    ~TConsoleDialog() override;
    std::string_view ClassName() const override { return "TConsoleDialog"; }

    // Also frees a console form that is open.
    void SetEngine(TInferenceEngine* value) override;
    bool Execute() override;
    // Frees the open console form (live mode) and drops the reference.
    virtual void CloseConsole();
    // Whether the last Execute wrote the console's engine back into Engine: in dialog mode, OK
    // after a change. OK without a change leaves the host engine alone.
    bool WroteBack() const noexcept { return FWroteBack; }
    // The rule file the console opened (File > Open) in what the last Execute wrote back,
    // empty when it opened none.
    const std::string& OpenedFile() const noexcept { return FOpenedFile; }
    // The console form open in live mode, or null.
    IConsoleForm* ConsoleForm() const noexcept { return FForm.get(); }
    // A live console closes before its engine goes.
    void Notification(TComponent* component, TOperation operation) override;

    // Told when OK could not write the console's engine back (the host then keeps what it had,
    // the user is told in a box and the console opens again with the work in it), with the
    // text the box shows; for a host's log.
    std::function<void(const std::string& message)> OnWriteBackFailed;

    bool AllowCheats = true;
    bool Dialog = true;
    bool EchoInput = true;
    std::string InputCursor;
    TValidActions ValidActions = TValidActions::FromBits(4095);
    TValidViews ValidViews = TValidViews::FromBits(15);

private:
    std::unique_ptr<IConsoleForm> FForm;
    bool FWroteBack = false;
    std::string FOpenedFile;
};

} // namespace ie

// Shared pieces of the editor tests: ordered facts built through the engine's C++ interface and
// scripted editor forms that stand in for the windows.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "editors/logic/ConsoleEditor.h"
#include "editors/logic/IEDialogs.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"
#include "tests/support/TestSupport.h"

namespace ie::test {

inline TRefPtr<IFact> Ordered(TInferenceEngine& e, std::string_view name,
                              std::initializer_list<std::string_view> atoms = {}) {
    TRefPtr<IFact> f = e.ImpliedTemplate(name)->NewFact();
    auto list = MakeRef<TValueVector>();
    for (auto a : atoms)
        list->Add(TIEValue::CreateText(dtAtom, a));
    f->SetSlotValue(DataSlotName, TIEValue::CreateList(list));
    return f;
}

template <class F> std::string RaisedMessage(F&& f) {
    return MessageOf<EException>(std::forward<F>(f), "<nothing raised>");
}

// What a scripted form does while "shown": edits its private engine and answers OK or Cancel.
using TShowScript = std::function<bool(TInferenceEngine& privateEngine)>;

template <class Base> class TScriptedForm : public Base {
public:
    explicit TScriptedForm(TShowScript script) : FScript(std::move(script)) {}
    TInferenceEngine& FormEngine() override { return *FEngine; }
    void SetCaption(const std::string& caption) override { Caption = caption; }
    bool ShowModal() override { return FScript ? FScript(*FEngine) : false; }
    std::string Caption;

private:
    TShowScript FScript;
    std::unique_ptr<TInferenceEngine, TComponentDeleter> FEngine{new TInferenceEngine(nullptr)};
};

class TScriptedFactsForm : public TScriptedForm<IFactsEditForm> {
public:
    using TScriptedForm::TScriptedForm;
    void SetEnableFactTemplateEditor(bool value) override { EnableTemplates = value; }
    void SetEnableTypeEditor(bool value) override { EnableTypes = value; }
    bool EnableTemplates = false, EnableTypes = false;
};

class TScriptedTypesForm : public TScriptedForm<ITypesEditForm> {
public:
    using TScriptedForm::TScriptedForm;
};

class TScriptedConsoleForm : public IConsoleForm {
public:
    TScriptedConsoleForm(bool dialog, TInferenceEngine& engine,
                         std::function<bool(TIEConsole&)> script)
        : FConsole(dialog, engine), FScript(std::move(script)) {}
    TIEConsole& Console() override { return FConsole; }
    void SetCaption(const std::string& caption) override { Caption = caption; }
    bool ShowModal() override { return FScript(FConsole); }
    void ShowModeless() override { Shown = true; }
    std::string Caption;
    bool Shown = false;

private:
    TIEConsole FConsole;
    std::function<bool(TIEConsole&)> FScript;
};

// Installs a factory for the life of the object and counts the forms made.
class TFormFactoryScope {
public:
    explicit TFormFactoryScope(TEditorFormFactory factory)
        : FPrevious(SetEditorFormFactory(std::move(factory))) {}
    ~TFormFactoryScope() { SetEditorFormFactory(std::move(FPrevious)); }
    TFormFactoryScope(const TFormFactoryScope&) = delete;
    TFormFactoryScope& operator=(const TFormFactoryScope&) = delete;

private:
    TEditorFormFactory FPrevious;
};

} // namespace ie::test

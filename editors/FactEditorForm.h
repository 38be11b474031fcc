// TFactsEditDlg: the fact editor. Its list follows the private engine's facts; a fact is built
// in the slot grid or as free text and added (asserted), or the selected fact is replaced or
// deleted (retracted). The behaviour lives in TFactEditor.
#pragma once

#include "editors/EditorFormBase.h"
#include "editors/logic/FactEditor.h"
#include "editors/logic/IEDialogs.h"

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;

namespace ie {

class TGListBox;

class TFactsEditDlg : public TEditorFormBase, public IFactsEditForm {
    Q_OBJECT
public:
    explicit TFactsEditDlg(QWidget* parent = nullptr);
    ~TFactsEditDlg() override;

    // IFactsEditForm
    TInferenceEngine& FormEngine() override { return PrivateEngine(); }
    void SetCaption(const std::string& caption) override;
    bool ShowModal() override;
    void SetEnableFactTemplateEditor(bool value) override;
    void SetEnableTypeEditor(bool value) override;

    TFactEditor& Editor() noexcept { return FEditor; }
    TGListBox* FactList() const { return FList; }
    QPlainTextEdit* FreeForm() const { return FMemo; }
    QTableWidget* Grid() const { return FGrid; }
    QComboBox* BasedOn() const { return FBasedOn; }
    QTabWidget* Pages() const { return FPages; }
    QAction* NewAction() const { return FNew; }
    // Attaches the engine's handlers and fills the lists (what showing the form first does).
    void Prepare();
    // Sort by Index, ID or Template.
    void Sort(TFactOrder order);
    void NewFact();
    void AddFact();
    void DeleteFact();
    void ReplaceFact();
    // Applies the grid or the free-form page to the current fact.
    bool Apply();
    QAction* ReplaceAction() const { return FReplace; }
    QAction* DeleteAction() const { return FDelete; }
    bool HasPendingEdit() override;
    bool KeepPendingEdit() override;

private:
    void AttachHandlers(bool attach);
    void ShowCurrent();
    void LineClicked();
    void UpdateActions();
    int32_t SelectedId() const;

    TFactEditor FEditor;
    TGListBox* FList = nullptr;
    QPlainTextEdit* FMemo = nullptr;
    QTableWidget* FGrid = nullptr;
    QTabWidget* FPages = nullptr;
    QComboBox* FBasedOn = nullptr;
    QAction* FNew = nullptr;
    QAction* FAdd = nullptr;
    QAction* FReplace = nullptr;
    QAction* FDelete = nullptr;
    QAction* FClear = nullptr;
    QAction* FEditTemplates = nullptr;
    QAction* FEditTypes = nullptr;
    TFactOrder FOrder = foIndex;
    bool FEnableTypes = true;
    bool FPrepared = false;
    bool FLoading = false;
};

} // namespace ie

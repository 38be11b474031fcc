// TFactsEditDlg: the fact editor. Its list follows the private engine's facts; a fact is typed
// as free text and added (asserted), or the selected fact is replaced or deleted (retracted).
#pragma once

#include "editors/EditorFormBase.h"
#include "editors/logic/IEDialogs.h"

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace ie {

class TGListBox;

class TFactsEditDlg : public TEditorFormBase, public IFactsEditForm {
    Q_OBJECT
public:
    explicit TFactsEditDlg(QWidget* parent = nullptr);

    // IFactsEditForm
    TInferenceEngine& FormEngine() override { return PrivateEngine(); }
    void SetCaption(const std::string& caption) override;
    bool ShowModal() override;
    void SetEnableFactTemplateEditor(bool value) override;
    void SetEnableTypeEditor(bool value) override;

    TGListBox* FactList() const { return FList; }
    QPlainTextEdit* Editor() const { return FEditor; }
    // Sort by Index, ID or Template (0, 1, 2).
    void Sort(int order);
    void AddFact();
    void DeleteFact();
    void ReplaceFact();

private:
    QString LineOf(const IFact& fact) const;
    void AttachHandlers();

    TGListBox* FList = nullptr;
    QPlainTextEdit* FEditor = nullptr;
    QComboBox* FBasedOn = nullptr;
    QPushButton* FAdd = nullptr;
    QPushButton* FReplace = nullptr;
    QPushButton* FDelete = nullptr;
    QAction* FEditTemplates = nullptr;
    QAction* FEditTypes = nullptr;
    int FOrder = 0;
    bool FEnableTemplates = true, FEnableTypes = true;
};

} // namespace ie

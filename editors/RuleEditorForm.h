// TRulesEditDlg: the rule editor: the private engine's rules in a tree (multi-edit mode) and the
// edited rule's name, comment, salience and one-shot flag with its conditions and actions as the
// engine's writer renders them.
#pragma once

#include "editors/EditorFormBase.h"
#include "editors/logic/IEDialogs.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QTreeWidget;

namespace ie {

class TGEdit;

class TRulesEditDlg : public TEditorFormBase, public IRulesEditForm {
    Q_OBJECT
public:
    explicit TRulesEditDlg(QWidget* parent = nullptr);
    ~TRulesEditDlg() override;

    TInferenceEngine& FormEngine() override { return PrivateEngine(); }
    void SetCaption(const std::string& caption) override;
    bool ShowModal() override;
    void SetMultiEdit(bool value) override;
    void SetEnableFactTemplateEditor(bool value) override;
    void SetEnableTypeEditor(bool value) override;
    void SetRule(TRule* rule) override;
    TRule* EditedRule() override;

    // A rule's root line: its name, or its name, two blanks and its comment in quotes.
    static std::string RuleRootText(const TRule& rule);
    QTreeWidget* Tree() const { return FTree; }
    void Rebuild();

private:
    void ShowRule(TRule* rule);
    void ApplyFields();

    QTreeWidget* FTree = nullptr;
    TGEdit* FName = nullptr;
    QLineEdit* FComment = nullptr;
    QLineEdit* FSalience = nullptr;
    QCheckBox* FOneShot = nullptr;
    QPlainTextEdit* FIf = nullptr;
    QPlainTextEdit* FThen = nullptr;
    QAction* FEditTemplates = nullptr;
    QAction* FEditTypes = nullptr;
    bool FMultiEdit = true;
    TRule* FEdited = nullptr; // owned, single-rule mode
};

} // namespace ie

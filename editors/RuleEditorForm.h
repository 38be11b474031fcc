// TRulesEditDlg: the rule editor: the private engine's rules in a tree (multi-edit mode), the
// edited rule's fields with its conditions and actions edited line by line or as free text, the
// fact templates and functions to drop into them, and Add, Replace and Delete. The behaviour
// lives in TRuleEditor.
#pragma once

#include "editors/EditorFormBase.h"
#include "editors/logic/IEDialogs.h"
#include "editors/logic/RuleEditor.h"

class QCheckBox;
class QLineEdit;
class QMenu;
class QMimeData;
class QListWidget;
class QPlainTextEdit;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace ie {

class TGEdit;
class TGListBox;

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
    static std::string RuleRootText(const TRule& rule) { return TRuleEditor::RootText(rule); }
    TRuleEditor& Editor() noexcept { return FEditor; }
    QTreeWidget* Tree() const { return FTree; }
    QTreeWidget* TemplatesTree() const { return FTemplates; }
    TGListBox* Lines(TRuleSide side) const { return side == rsIf ? FIf : FThen; }
    QLineEdit* LineEditor() const { return FEdit; }
    TGEdit* NameEdit() const { return FName; }
    QLineEdit* SalienceEdit() const { return FSalience; }
    QListWidget* Functions() const { return FFunctions; }
    QLineEdit* Search() const { return FSearch; }
    QPlainTextEdit* Description() const { return FDescription; }
    void Prepare();
    void Rebuild();
    void FillTemplates();
    // The form's fields into the editor, and back.
    void FieldsToEditor();
    void ShowEdited();
    bool AddRule();
    bool ReplaceRule();
    void DeleteRule();
    QAction* AddAction() const { return FAdd; }
    QAction* ReplaceAction() const { return FReplace; }
    QAction* DeleteAction() const { return FDelete; }
    bool HasPendingEdit() override;
    bool KeepPendingEdit() override;
    // Clicking a line of a list: the line editor edits it.
    void ChooseLine(TRuleSide side, int row);
    void TypeLine(const QString& text);

    // Drag and drop. The data a drag from the trees, the functions list or a list line
    // carries (null when there is nothing to drag), and what a drop of such data (or of plain
    // text) does on a list at `row` (-1: after the last line), in a memo at its caret, and in
    // the line editor at `position`. False when nothing was dropped.
    static const char* DragMimeType;
    static QMimeData* MimeFor(const TIEDragObject& drag);
    QMimeData* DragDataOf(QWidget* source, int row, QTreeWidgetItem* item = nullptr);
    bool DropOnList(TRuleSide side, const QMimeData* data, int row);
    bool DropOnMemo(QPlainTextEdit* memo, const QMimeData* data);
    bool DropOnLineEditor(const QMimeData* data, int position);
    QPlainTextEdit* Memo(TRuleSide side) const { return side == rsIf ? FIfMemo : FThenMemo; }

    // The trees' pop-up menu: Delete (shown only on the rules tree), Expand All, Collapse All,
    // acting on the tree it was opened on.
    QMenu* PopupMenu() const { return FPopup; }
    void PreparePopup(QTreeWidget* tree);
    QAction* PopupDelete() const { return FPopupDelete; }
    QAction* PopupExpand() const { return FPopupExpand; }
    QAction* PopupCollapse() const { return FPopupCollapse; }

private:
    void ShowLines();
    // A drop's data as a drag object; false when it carries nothing to drop.
    static bool DragOf(const QMimeData* data, TIEDragObject& drag);
    std::string SelectedRuleName() const;
    void SelectRule(const std::string& name);

    TRuleEditor FEditor;
    QTreeWidget* FTree = nullptr;
    QTreeWidget* FTemplates = nullptr;
    QListWidget* FFunctions = nullptr;
    QLineEdit* FSearch = nullptr;
    QPlainTextEdit* FDescription = nullptr;
    TGEdit* FName = nullptr;
    TGEdit* FComment = nullptr;
    QLineEdit* FSalience = nullptr;
    QCheckBox* FOneShot = nullptr;
    QCheckBox* FVariables = nullptr;
    QTabWidget* FPages = nullptr;
    TGListBox* FIf = nullptr;
    TGListBox* FThen = nullptr;
    QLineEdit* FEdit = nullptr;
    QPlainTextEdit* FIfMemo = nullptr;
    QPlainTextEdit* FThenMemo = nullptr;
    QWidget* FLeft = nullptr;
    QWidget* FTools = nullptr;
    QAction* FAdd = nullptr;
    QAction* FReplace = nullptr;
    QAction* FDelete = nullptr;
    QAction* FClear = nullptr;
    QAction* FEditTemplates = nullptr;
    QAction* FEditTypes = nullptr;
    QMenu* FPopup = nullptr;
    QTreeWidget* FPopupTree = nullptr;
    QAction* FPopupDelete = nullptr;
    QAction* FPopupExpand = nullptr;
    QAction* FPopupCollapse = nullptr;
    bool FMultiEdit = true;
    bool FEnableTypes = true;
    bool FPrepared = false;
    bool FLoading = false;
    std::vector<std::string> FFunctionNames;
};

} // namespace ie

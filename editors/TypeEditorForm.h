// TIETypesEditDlg: the types editor: a sorted tree of the private engine's defined types beside
// the type frame; types are added, replaced and deleted in the private engine. The tree follows
// the private engine's type events (one item per type, keyed by the type object), so it is never
// rebuilt after an operation.
#pragma once

#include "editors/EditorFormBase.h"
#include "editors/logic/IEDialogs.h"

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace ie {

// Add with an empty type name.
inline constexpr const char* TypeNameMissingMessage =
    "A defined type needs a name: fill in the Type field.";

class TIETypeEditorFrame;

class TIETypesEditDlg : public TEditorFormBase, public ITypesEditForm {
    Q_OBJECT
public:
    explicit TIETypesEditDlg(QWidget* parent = nullptr);
    ~TIETypesEditDlg() override;

    TInferenceEngine& FormEngine() override { return PrivateEngine(); }
    void SetCaption(const std::string& caption) override;
    bool ShowModal() override;

    QTreeWidget* Tree() const { return FTree; }
    TIETypeEditorFrame* Frame() const { return FFrame; }
    // The tree's pop-up menu: the tool bar's actions, Expand All and Collapse All.
    QMenu* PopupMenu() const { return FPopup; }
    QAction* AddAction() const { return FAdd; }
    QAction* ReplaceAction() const { return FReplace; }
    QAction* DeleteAction() const { return FDelete; }
    QAction* ClearAction() const { return FClear; }
    void NewType();
    // Adds the frame's type ("Defined Type Name already exists: "%s"" when taken); the frame
    // then edits the stored type.
    void AddType();
    void DeleteType();
    // Deletes the selected type and adds the edited one.
    void ReplaceType();
    void ClearTypes();
    // Fills the tree from the private engine (first show and after loading a file).
    void Rebuild();

private:
    void AttachHandlers(bool attach);
    QTreeWidgetItem* ItemOf(const IIEDefinedType* type) const;
    void AddItem(IIEDefinedType* type);
    void Select(const IIEDefinedType* type);
    void TreeSelected(QTreeWidgetItem* item);
    // leaving: types still in the table that are about to go.
    void UpdateActions(int32_t leaving = 0);

    QTreeWidget* FTree = nullptr;
    QMenu* FPopup = nullptr;
    bool FHoldTree = false;
    TIETypeEditorFrame* FFrame = nullptr;
    QAction* FAdd = nullptr;
    QAction* FReplace = nullptr;
    QAction* FDelete = nullptr;
    QAction* FClear = nullptr;
};

} // namespace ie

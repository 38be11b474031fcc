// TFactTemplatesEditDlg: the fact template editor: a tree of the private engine's templates with
// their slots, new templates and slots, deleting, the template's name and comment, and the slot
// panel (name, default, multislot and default-dynamic flags, type frame). The behaviour lives in
// TFactTemplateEditor.
#pragma once

#include "editors/EditorFormBase.h"
#include "editors/logic/FactTemplateEditor.h"
#include "editors/logic/IEDialogs.h"

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QLineEdit;
class QCheckBox;
class QGroupBox;
class QPushButton;
class QPlainTextEdit;

namespace ie {

class TGEdit;
class TIETypeEditorFrame;

class TFactTemplatesEditDlg : public TEditorFormBase, public IFactTemplatesEditForm {
    Q_OBJECT
public:
    explicit TFactTemplatesEditDlg(QWidget* parent = nullptr);
    ~TFactTemplatesEditDlg() override;

    TInferenceEngine& FormEngine() override { return PrivateEngine(); }
    void SetCaption(const std::string& caption) override;
    bool ShowModal() override;
    void SetEnableTypeEditor(bool value) override;

    TFactTemplateEditor& Editor() noexcept { return FEditor; }
    QTreeWidget* Tree() const { return FTree; }
    // The tree's pop-up menu: Cut, Copy, Delete, Rename (which do nothing), Expand All and
    // Collapse All.
    QMenu* PopupMenu() const { return FPopup; }
    TGEdit* NameEdit() const { return FName; }
    QWidget* SlotPanel() const { return FSlotPanel; }
    QGroupBox* Properties() const { return FProperties; }
    QPushButton* NewSlotButton() const { return FNewSlotButton; }
    QPushButton* DeleteButton() const { return FDeleteButton; }
    TGEdit* SlotNameEdit() const { return FSlotName; }
    QLineEdit* DefaultEdit() const { return FDefault; }
    QCheckBox* MultiSlotCheck() const { return FMulti; }
    QCheckBox* DynamicCheck() const { return FDynamic; }
    TIETypeEditorFrame* Frame() const { return FFrame; }
    void NewTemplate();
    void NewSlot();
    void DeleteSelected();
    void Rebuild();
    // Applies the slot panel to the current slot.
    bool ApplySlot();
    // Paints the slot field at fault red (the others as usual); none with null.
    void MarkFault(QLineEdit* fault);
    // Selects the item of a template (and of one of its slots).
    void SelectItem(const std::string& templateName, const std::string& slotName = {});

private:
    TRefPtr<IFactTemplate> CurrentTemplate();
    void Selected();
    void Rename(const QString& text);
    // The slot panel's fields as they stand.
    TSlotEdit ShownSlotEdit() const;

    TFactTemplateEditor FEditor;
    QTreeWidget* FTree = nullptr;
    QMenu* FPopup = nullptr;
    TGEdit* FName = nullptr;
    QPlainTextEdit* FComment = nullptr;
    QWidget* FSlotPanel = nullptr;
    QGroupBox* FProperties = nullptr;
    QPushButton* FNewSlotButton = nullptr;
    QPushButton* FDeleteButton = nullptr;
    TGEdit* FSlotName = nullptr;
    QLineEdit* FDefault = nullptr;
    QCheckBox* FMulti = nullptr;
    QCheckBox* FDynamic = nullptr;
    TIETypeEditorFrame* FFrame = nullptr;
    QAction* FEditTypes = nullptr;
    QAction* FClear = nullptr;
    std::string FSlot;
    bool FLoading = false;
    bool FApplying = false;
    // The slot edit last refused, so that finishing it again does not complain twice.
    std::string FRefused;
    // The slot panel as the selection showed it, and whether the type frame was edited since.
    TSlotEdit FShownSlot;
    bool FTypeEdited = false;
};

} // namespace ie

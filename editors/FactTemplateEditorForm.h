// TFactTemplatesEditDlg: the fact template editor: a tree of the private engine's templates with
// their slots, new templates and slots, deleting, and the template's name and comment.
#pragma once

#include "editors/EditorFormBase.h"
#include "editors/logic/IEDialogs.h"

class QTreeWidget;
class QLineEdit;

namespace ie {

class TGEdit;

class TFactTemplatesEditDlg : public TEditorFormBase, public IFactTemplatesEditForm {
    Q_OBJECT
public:
    explicit TFactTemplatesEditDlg(QWidget* parent = nullptr);

    TInferenceEngine& FormEngine() override { return PrivateEngine(); }
    void SetCaption(const std::string& caption) override;
    bool ShowModal() override;
    void SetEnableTypeEditor(bool value) override;

    QTreeWidget* Tree() const { return FTree; }
    // "FactTemplateName" followed by the first free number from the template count on.
    static std::string NewTemplateName(TInferenceEngine& engine);
    // "SlotName" followed by the first free number from the slot count on.
    static std::string NewSlotName(const IFactTemplate& factTemplate);
    void NewTemplate();
    void NewSlot();
    void DeleteSelected();
    void Rebuild();

private:
    TRefPtr<IFactTemplate> CurrentTemplate();

    QTreeWidget* FTree = nullptr;
    TGEdit* FName = nullptr;
    QLineEdit* FComment = nullptr;
    QAction* FEditTypes = nullptr;
    bool FLoading = false;
};

} // namespace ie

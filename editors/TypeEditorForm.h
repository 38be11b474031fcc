// TIETypesEditDlg: the types editor: a sorted tree of the private engine's defined types beside
// the type frame; types are added, replaced and deleted in the private engine.
#pragma once

#include "editors/EditorFormBase.h"
#include "editors/logic/IEDialogs.h"

class QTreeWidget;

namespace ie {

class TIETypeEditorFrame;

class TIETypesEditDlg : public TEditorFormBase, public ITypesEditForm {
    Q_OBJECT
public:
    explicit TIETypesEditDlg(QWidget* parent = nullptr);

    TInferenceEngine& FormEngine() override { return PrivateEngine(); }
    void SetCaption(const std::string& caption) override;
    bool ShowModal() override;

    QTreeWidget* Tree() const { return FTree; }
    TIETypeEditorFrame* Frame() const { return FFrame; }
    void NewType();
    // Adds the frame's type ("Defined Type Name already exists: "%s"" when taken).
    void AddType();
    void DeleteType();
    // Deletes the selected type and adds the edited one.
    void ReplaceType();
    void ClearTypes();
    void Rebuild();

private:
    void Select(const QString& name);
    QTreeWidget* FTree = nullptr;
    bool FHoldTree = false;
    TIETypeEditorFrame* FFrame = nullptr;
};

} // namespace ie

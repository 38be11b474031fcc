#include "editors/TypeEditorForm.h"

#include <QAction>
#include <QHBoxLayout>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "editors/TypeEditorFrame.h"
#include "engine/IEDefinedType.h"

namespace ie {

TIETypesEditDlg::TIETypesEditDlg(QWidget* parent) : TEditorFormBase("Types Editor", 15, parent) {
    auto* tools = new QToolBar(this);
    QAction* add = tools->addAction("New");
    add->setShortcut(QKeySequence("Ctrl+N"));
    add->setToolTip("New Defined Type");
    QAction* put = tools->addAction("Add");
    put->setShortcut(QKeySequence("Ctrl+A"));
    put->setToolTip("Add Type");
    QAction* del = tools->addAction("Delete");
    del->setShortcut(QKeySequence("Ctrl+D"));
    del->setToolTip("Delete Type");
    Body()->addWidget(tools);
    auto* row = new QHBoxLayout;
    FTree = new QTreeWidget(this);
    FTree->setHeaderHidden(true);
    FTree->setSortingEnabled(true);
    row->addWidget(FTree, 1);
    FFrame = new TIETypeEditorFrame(this);
    FFrame->SetIE(&PrivateEngine());
    row->addWidget(FFrame, 2);
    Body()->addLayout(row, 1);
    resize(700, 450);
    connect(add, &QAction::triggered, this, [this] { NewType(); });
    connect(put, &QAction::triggered, this, [this] { AddType(); });
    connect(del, &QAction::triggered, this, [this] { DeleteType(); });
    connect(FTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!item) return;
        TRefPtr<IIEDefinedType> t =
            PrivateEngine().DefinedTypes().Find(item->text(0).toStdString());
        if (t && (!FFrame->CType() || FFrame->CType()->GetName() != t->GetName()))
            FFrame->SetCType(t);
    });
}

void TIETypesEditDlg::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void TIETypesEditDlg::Rebuild() {
    FTree->clear();
    for (auto& entry : PrivateEngine().DefinedTypes())
        if (auto* t = dynamic_cast<IIEDefinedType*>(entry.Intf().get()))
            new QTreeWidgetItem(FTree, {QString::fromStdString(t->GetName())});
    FFrame->RefreshNames();
}

void TIETypesEditDlg::NewType() {
    FFrame->SetCType(TIEDefinedType::Create(&PrivateEngine()));
}

void TIETypesEditDlg::AddType() {
    TRefPtr<IIEDefinedType> t = FFrame->CType();
    if (!t) return;
    Guard([&] {
        TIEDefinedTypes& types = PrivateEngine().DefinedTypes();
        if (types.Find(t->GetName())) RaiseIE(imDefinedTypeExists, t->GetName());
        types.PutType(t->GetName(), t);
        Rebuild();
    });
}

void TIETypesEditDlg::DeleteType() {
    QTreeWidgetItem* item = FTree->currentItem();
    if (!item) return;
    Guard([&] {
        PrivateEngine().DefinedTypes().RemoveType(item->text(0).toStdString());
        Rebuild();
    });
}

bool TIETypesEditDlg::ShowModal() {
    Rebuild();
    return exec() == QDialog::Accepted;
}

} // namespace ie

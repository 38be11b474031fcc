#include "editors/TypeEditorForm.h"

#include <QAction>
#include <QHBoxLayout>
#include <QShortcut>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "editors/TypeEditorFrame.h"
#include "editors/logic/EngineReading.h"
#include "engine/model/IEDefinedType.h"

namespace ie {

TIETypesEditDlg::TIETypesEditDlg(QWidget* parent) : TEditorFormBase("Types Editor", 15, parent) {
    auto* tools = new QToolBar(this);
    QAction* add = MakeAction("New", "Ctrl+N", "New Defined Type", tools);
    QAction* put = MakeAction("Add", "Ctrl+A", "Add Type", tools);
    QAction* replace = MakeAction("Replace", "Ctrl+R", "Replace Type", tools);
    QAction* del = MakeAction("Delete", "Ctrl+D", "Delete Type", tools);
    QAction* clear = MakeAction("Clear", "", "Clear Defined Types", tools);
    QAction* open = MakeAction("Open", "Ctrl+O", "Open File", tools);
    QAction* save = MakeAction("Save", "Ctrl+S", "Save File", tools);
    QAction* saveAs = MakeAction("Save As", "", "Save File", tools);
    QAction* print = MakeAction("Print", "Ctrl+P", "Print", tools);
    QAction* setup = MakeAction("Printer Setup", "", "Print Setup", tools);
    Body()->addWidget(tools);
    auto* row = new QHBoxLayout;
    FTree = new QTreeWidget(this);
    FTree->setHeaderHidden(true);
    FTree->setSortingEnabled(true);
    row->addWidget(FTree, 1);
    FFrame = new TIETypeEditorFrame(this);
    FFrame->SetIE(&PrivateEngine());
    FFrame->SetAllowTypeChange(false);
    row->addWidget(FFrame, 2);
    Body()->addLayout(row, 1);
    resize(700, 450);
    connect(add, &QAction::triggered, this, [this] { NewType(); });
    connect(put, &QAction::triggered, this, [this] { AddType(); });
    connect(del, &QAction::triggered, this, [this] { DeleteType(); });
    connect(replace, &QAction::triggered, this, [this] { ReplaceType(); });
    connect(clear, &QAction::triggered, this, [this] { ClearTypes(); });
    const QString filter = "Inference Engine Defined Types File (*.ied);;Inference Engine File "
                           "(*.ie);;CLIPS File (*.clp);;Text File (*.txt);;Any File (*)";
    connect(open, &QAction::triggered, this, [this, filter] {
        const QString name = AskOpenFile("Load Defined Types File...", filter);
        if (name.isEmpty()) return;
        FHoldTree = true;
        Guard([&] { PrivateEngine().LoadTypesFromFile(name.toStdString()); });
        FHoldTree = false;
        Rebuild();
        if (FTree->topLevelItemCount() > 0) FTree->setCurrentItem(FTree->topLevelItem(0));
    });
    auto saveTo = [this, filter](bool ask) {
        QString name = FileName;
        if (ask || name.isEmpty())
            name = AskSaveFile("Save Defined Types to file...", filter, "ied");
        if (!name.isEmpty()) Guard([&] { PrivateEngine().SaveTypesToFile(name.toStdString()); });
    };
    connect(save, &QAction::triggered, this, [saveTo] { saveTo(false); });
    connect(saveAs, &QAction::triggered, this, [saveTo] { saveTo(true); });
    connect(print, &QAction::triggered, this, [this] {
        PrintLinesDialog("Defined Types", SplitLines(PrivateEngine().DefinedTypes().GetText()));
    });
    connect(setup, &QAction::triggered, this, [this] { PrinterSetup(); });
    for (int key : {Qt::Key_Delete, Qt::Key_Backspace}) {
        auto* shortcut = new QShortcut(QKeySequence(key), FTree);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { DeleteType(); });
    }
    connect(FTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!item || FHoldTree) return;
        TRefPtr<IIEDefinedType> t =
            PrivateEngine().DefinedTypes().Find(item->text(0).toStdString());
        if (t && (!FFrame->CType() || FFrame->CType()->GetName() != t->GetName()))
            FFrame->SetCType(t);
    });

    SetHelpContext(add, 202);
    SetHelpContext(put, 330);
    SetHelpContext(replace, 340);
    SetHelpContext(del, 350);
    SetHelpContext(clear, 231);
    SetHelpContext(open, 44);
    SetHelpContext(save, 34);
    SetHelpContext(FTree, 360);
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
        Select(QString::fromStdString(t->GetName()));
    });
}

void TIETypesEditDlg::Select(const QString& name) {
    const auto found = FTree->findItems(name, Qt::MatchExactly);
    if (!found.isEmpty()) FTree->setCurrentItem(found.front());
}

void TIETypesEditDlg::ReplaceType() {
    QTreeWidgetItem* item = FTree->currentItem();
    TRefPtr<IIEDefinedType> t = FFrame->CType();
    if (!item || !t) return;
    FHoldTree = true;
    Guard([&] {
        TIEDefinedTypes& types = PrivateEngine().DefinedTypes();
        const std::string old = item->text(0).toStdString();
        if (types.Find(old)) types.RemoveType(old);
        if (types.Find(t->GetName())) RaiseIE(imDefinedTypeExists, t->GetName());
        types.PutType(t->GetName(), t);
    });
    FHoldTree = false;
    Rebuild();
    Select(QString::fromStdString(t->GetName()));
}

void TIETypesEditDlg::ClearTypes() {
    FTree->setCurrentItem(nullptr);
    Guard([this] { PrivateEngine().DefinedTypes().Clear(); });
    Rebuild();
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

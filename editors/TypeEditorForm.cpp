// The types editor's window around the type frame. Each tree item keeps the type object it
// stands for and the name it was filed under, and the tree follows the private engine's type
// events; Replace removes the old type before filing the frame's type, with the tree's signals
// held so the frame is not reloaded from a type that is going.
#include "editors/TypeEditorForm.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "editors/TypeEditorFrame.h"
#include "editors/logic/EngineReading.h"
#include "editors/logic/FileFilter.h"
#include "engine/model/IEDefinedType.h"

namespace ie {
namespace {

// An item keeps the type it stands for; its text is the name the type was filed under.
constexpr int TypeRole = Qt::UserRole;

IIEDefinedType* TypeOfItem(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<IIEDefinedType*>(item->data(0, TypeRole).value<quintptr>())
                : nullptr;
}

} // namespace

TIETypesEditDlg::TIETypesEditDlg(QWidget* parent) : TEditorFormBase("Types Editor", 15, parent) {
    auto* tools = new QToolBar(this);
    QAction* add = MakeAction("New", "Ctrl+N", "New Defined Type", tools);
    FAdd = MakeAction("Add", "Ctrl+A", "Add Type", tools);
    FReplace = MakeAction("Replace", "Ctrl+R", "Replace Type", tools);
    FDelete = MakeAction("Delete", "Ctrl+D", "Delete Type", tools);
    FClear = MakeAction("Clear", "", "Clear Defined Types", tools);
    tools->addSeparator();
    QAction* open = MakeAction("Open", "Ctrl+O", "Open File", tools);
    QAction* save = MakeAction("Save", "Ctrl+S", "Save File", tools);
    QAction* saveAs = MakeAction("Save As", "", "Save File", tools);
    QAction* print = MakeAction("Print", "Ctrl+P", "Print", tools);
    QAction* setup = MakeAction("Printer Setup", "", "Print Setup", tools);
    tools->addSeparator();
    QAction* expand = MakeAction("Expand All", "", "Expand All", tools);
    QAction* collapse = MakeAction("Collapse All", "", "Collapse All", tools);
    Body()->addWidget(tools);
    auto* row = new QHBoxLayout;
    FTree = new QTreeWidget(this);
    FTree->setHeaderHidden(true);
    FTree->setSortingEnabled(true);
    FTree->sortByColumn(0, Qt::AscendingOrder);
    row->addWidget(FTree, 1);
    FFrame = new TIETypeEditorFrame(this);
    FFrame->SetIE(&PrivateEngine());
    FFrame->SetAllowTypeChange(false);
    row->addWidget(FFrame, 3);
    Body()->addLayout(row, 1);
    resize(820, 560);

    FPopup = new QMenu(this);
    FPopup->addActions({add, FAdd, FReplace, FDelete, FClear});
    FPopup->addSeparator();
    FPopup->addActions({open, save, saveAs, print, setup});
    FPopup->addSeparator();
    FPopup->addActions({expand, collapse});
    FTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QTreeWidgetItem* item = FTree->itemAt(at)) FTree->setCurrentItem(item);
        FPopup->popup(FTree->viewport()->mapToGlobal(at));
    });

    connect(add, &QAction::triggered, this, [this] { NewType(); });
    connect(FAdd, &QAction::triggered, this, [this] { AddType(); });
    connect(FDelete, &QAction::triggered, this, [this] { DeleteType(); });
    connect(FReplace, &QAction::triggered, this, [this] { ReplaceType(); });
    connect(FClear, &QAction::triggered, this, [this] { ClearTypes(); });
    connect(expand, &QAction::triggered, FTree, &QTreeWidget::expandAll);
    connect(collapse, &QAction::triggered, FTree, &QTreeWidget::collapseAll);
    connect(open, &QAction::triggered, this, [this] {
        const QString name = AskOpenFile("Load Defined Types File...", TypesFileFilter, "ied");
        if (name.isEmpty()) return;
        FHoldTree = true;
        Guard([&] { PrivateEngine().LoadTypesFromFile(name.toStdString()); });
        FHoldTree = false;
        Rebuild();
        if (FTree->topLevelItemCount() > 0) FTree->setCurrentItem(FTree->topLevelItem(0));
    });
    auto saveTo = [this](bool ask) {
        QString name = FileName;
        if (ask || name.isEmpty())
            name = AskSaveFile("Save Defined Types to file...", TypesFileFilter, "ied");
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
    connect(FTree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { TreeSelected(item); });
    AttachHandlers(true);
    UpdateActions();
    auto selectedName = [this] {
        QTreeWidgetItem* item = FTree->currentItem();
        return item ? item->text(0) : QString();
    };
    AskBeforeShortcut(FAdd, [this] {
        const TRefPtr<IIEDefinedType>& t = FFrame->CType();
        // A type without a name: Add says so without asking.
        if (!t || t->GetName().empty()) {
            AddType();
            return QString();
        }
        return "Add type \"" + QString::fromStdString(t->GetName()) + "\"?";
    });
    AskBeforeShortcut(FReplace, [selectedName] {
        const QString name = selectedName();
        return name.isEmpty() ? QString()
                              : "Replace type \"" + name + "\" by the type being edited?";
    });
    AskBeforeShortcut(FDelete, [selectedName] {
        const QString name = selectedName();
        return name.isEmpty() ? QString() : "Delete type \"" + name + "\"?";
    });

    SetHelpContext(add, 202);
    SetHelpContext(FAdd, 330);
    SetHelpContext(FReplace, 340);
    SetHelpContext(FDelete, 350);
    SetHelpContext(FClear, 231);
    SetHelpContext(open, 44);
    SetHelpContext(save, 34);
    SetHelpContext(FTree, 360);
}

TIETypesEditDlg::~TIETypesEditDlg() {
    AttachHandlers(false);
}

void TIETypesEditDlg::AttachHandlers(bool attach) {
    TInferenceEngine& e = PrivateEngine();
    if (!attach) {
        e.OnAddDefinedType = nullptr;
        e.OnRemoveDefinedType = nullptr;
        e.OnClearDefinedTypes = nullptr;
        return;
    }
    e.OnAddDefinedType = [this](TObject*, const TRefPtr<IIEDefinedType>& type) {
        FFrame->RefreshNames();
        if (!FHoldTree) AddItem(type.get());
        UpdateActions();
    };
    e.OnRemoveDefinedType = [this](TObject*, const TRefPtr<IIEDefinedType>& type) {
        FFrame->RefreshNames();
        if (!FHoldTree) delete ItemOf(type.get());
        // The table reports the type before it lets it go.
        UpdateActions(PrivateEngine().DefinedTypes().Find(type->GetName()) ? 1 : 0);
    };
    e.OnClearDefinedTypes = [this](TInferenceEngine*) {
        FFrame->RefreshNames();
        if (!FHoldTree) FTree->clear();
        UpdateActions();
    };
}

void TIETypesEditDlg::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

QTreeWidgetItem* TIETypesEditDlg::ItemOf(const IIEDefinedType* type) const {
    for (int i = 0; type && i < FTree->topLevelItemCount(); ++i)
        if (TypeOfItem(FTree->topLevelItem(i)) == type) return FTree->topLevelItem(i);
    return nullptr;
}

void TIETypesEditDlg::AddItem(IIEDefinedType* type) {
    if (!type || ItemOf(type)) return;
    auto* item = new QTreeWidgetItem(FTree, {QString::fromStdString(type->GetName())});
    item->setData(0, TypeRole, QVariant::fromValue(reinterpret_cast<quintptr>(type)));
}

void TIETypesEditDlg::Rebuild() {
    FTree->clear();
    for (auto& entry : PrivateEngine().DefinedTypes())
        AddItem(dynamic_cast<IIEDefinedType*>(entry.Intf().get()));
    FFrame->RefreshNames();
    UpdateActions();
}

void TIETypesEditDlg::UpdateActions(int32_t leaving) {
    const bool selected = FTree->currentItem() != nullptr;
    FClear->setEnabled(PrivateEngine().DefinedTypes().Count() - leaving > 0);
    FDelete->setEnabled(selected);
    FReplace->setEnabled(selected);
}

void TIETypesEditDlg::TreeSelected(QTreeWidgetItem* item) {
    UpdateActions();
    if (!item || FHoldTree) return;
    IIEDefinedType* type = TypeOfItem(item);
    if (type && (!FFrame->CType() || FFrame->CType().get() != type))
        FFrame->SetCType(TRefPtr<IIEDefinedType>(type));
}

void TIETypesEditDlg::NewType() {
    FFrame->SetCType(TIEDefinedType::Create(&PrivateEngine()));
    // The name a new type is shown with is typed over, not typed onto.
    if (QLineEdit* name = FFrame->NameEdit()) {
        name->setFocus();
        name->selectAll();
    }
}

void TIETypesEditDlg::AddType() {
    TRefPtr<IIEDefinedType> t = FFrame->CType();
    Guard([&] {
        TIEDefinedTypes& types = PrivateEngine().DefinedTypes();
        // Nothing typed yet (no type in the frame) or a type without a name: say what is missing.
        if (!t || t->GetName().empty()) throw EIEException(TypeNameMissingMessage);
        if (types.Find(t->GetName())) RaiseIE(imDefinedTypeExists, t->GetName());
        types.PutType(t->GetName(), t);
        Select(t.get());
    });
}

void TIETypesEditDlg::Select(const IIEDefinedType* type) {
    if (QTreeWidgetItem* item = ItemOf(type)) FTree->setCurrentItem(item);
}

void TIETypesEditDlg::ReplaceType() {
    QTreeWidgetItem* item = FTree->currentItem();
    TRefPtr<IIEDefinedType> t = FFrame->CType();
    if (!item || !t) return;
    // The selection must not load the frame while the old type goes.
    const QSignalBlocker hold(FTree);
    Guard([&] {
        TIEDefinedTypes& types = PrivateEngine().DefinedTypes();
        types.RemoveType(item->text(0).toStdString());
        if (types.Find(t->GetName())) RaiseIE(imDefinedTypeExists, t->GetName());
        types.PutType(t->GetName(), t);
    });
    Select(t.get());
    UpdateActions();
}

void TIETypesEditDlg::ClearTypes() {
    FTree->setCurrentItem(nullptr);
    Guard([this] { PrivateEngine().DefinedTypes().Clear(); });
}

void TIETypesEditDlg::DeleteType() {
    QTreeWidgetItem* item = FTree->currentItem();
    if (!item) return;
    Guard([&] { PrivateEngine().DefinedTypes().RemoveType(item->text(0).toStdString()); });
}

bool TIETypesEditDlg::ShowModal() {
    Rebuild();
    RememberState();
    return exec() == QDialog::Accepted;
}

} // namespace ie

// The fact template editor's window over TFactTemplateEditor. A slot field is applied when its
// editing finishes, but only while the form is shown and whole, and a refused edit is reported
// once: the same attempt finished again keeps the field at fault marked and the reason in the
// status bar, without a second message box.
#include "editors/FactTemplateEditorForm.h"

#include "platform/Restore.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "editors/GEdit.h"
#include "editors/TypeEditorFrame.h"
#include "editors/logic/FileFilter.h"
#include "engine/model/IEFacts.h"

namespace ie {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TFactTemplatesEditDlg::TFactTemplatesEditDlg(QWidget* parent)
    : TEditorFormBase("Fact Template Editor", 13, parent), FEditor(PrivateEngine()) {
    auto* tools = new QToolBar(this);
    QAction* add = MakeAction("New", "Ctrl+N", "New Fact Template", tools);
    FClear = MakeAction("Clear", "", "Clear Fact Templates", tools);
    QAction* open = MakeAction("Open", "Ctrl+O", "Open File", tools);
    QAction* save = MakeAction("Save", "Ctrl+S", "Save File", tools);
    QAction* saveAs = MakeAction("Save As", "", "Save File", tools);
    QAction* print = MakeAction("Print", "Ctrl+P", "Print", tools);
    QAction* setup = MakeAction("Printer Setup", "", "Print Setup", tools);
    FEditTypes = MakeAction("Types", "", "Edit Types", tools);
    Body()->addWidget(tools);
    auto* row = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("Templates", this));
    FTree = new QTreeWidget(this);
    FTree->setHeaderHidden(true);
    FTree->setSortingEnabled(true);
    FTree->sortByColumn(0, Qt::AscendingOrder);
    left->addWidget(FTree, 1);
    // The tree's pop-up menu: a right click selects the item under the mouse; of its items only
    // Expand All and Collapse All act.
    FPopup = new QMenu(this);
    for (const char* caption : {"Cu&t", "&Copy", "&Delete", "&Rename"})
        FPopup->addAction(caption);
    FPopup->addSeparator();
    connect(FPopup->addAction("&Expand All"), &QAction::triggered, FTree, &QTreeWidget::expandAll);
    connect(FPopup->addAction("&Collapse All"), &QAction::triggered, FTree,
            &QTreeWidget::collapseAll);
    FTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QTreeWidgetItem* item = FTree->itemAt(at)) FTree->setCurrentItem(item);
        FPopup->popup(FTree->viewport()->mapToGlobal(at));
    });
    auto* buttons = new QHBoxLayout;
    auto* del = new QPushButton("&Delete", this);
    auto* slot = new QPushButton("New &Slot", this);
    del->setStatusTip("Delete");
    slot->setStatusTip("New Fact Template Slot");
    FDeleteButton = del;
    FNewSlotButton = slot;
    buttons->addWidget(del);
    buttons->addWidget(slot);
    left->addLayout(buttons);
    row->addLayout(left, 1);

    // The properties and the slot panel with its type frame scroll: the frame alone is taller
    // than a small screen, and the form must keep its buttons in view.
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* rightPane = new QWidget(scroll);
    auto* right = new QVBoxLayout(rightPane);
    right->setContentsMargins(0, 0, 0, 0);
    scroll->setWidget(rightPane);
    FProperties = new QGroupBox("Properties", this);
    auto* props = new QFormLayout(FProperties);
    FName = new TGEdit(this);
    FName->SetFilterChars(
        QString::fromLatin1(NameFilterChars.data(), static_cast<int>(NameFilterChars.size())));
    FName->SetFiltering(efBeep);
    FComment = new QPlainTextEdit(this);
    FComment->setMaximumHeight(60);
    props->addRow("Na&me", FName);
    props->addRow("&Comment", FComment);
    right->addWidget(FProperties);
    FSlotPanel = new QWidget(this);
    auto* sl = new QFormLayout(FSlotPanel);
    FSlotName = new TGEdit(FSlotPanel);
    FSlotName->SetFilterChars(FName->FilterChars());
    FSlotName->SetFiltering(efBeep);
    FDefault = new QLineEdit(FSlotPanel);
    FDynamic = new QCheckBox("Default-Dynamic", FSlotPanel);
    FMulti = new QCheckBox("MultiSlo&t", FSlotPanel);
    FMulti->setChecked(true);
    FFrame = new TIETypeEditorFrame(FSlotPanel);
    FFrame->SetIE(&PrivateEngine());
    FFrame->SetAllowTypeChange(true);
    FFrame->SetEnableNonImplicitEditing(false);
    sl->addRow("Sl&ot Name", FSlotName);
    sl->addRow("&Default", FDefault);
    sl->addRow(FDynamic);
    sl->addRow(FMulti);
    sl->addRow(FFrame);
    FSlotPanel->setVisible(false);
    right->addWidget(FSlotPanel, 1);
    right->addStretch(0);
    row->addWidget(scroll, 2);
    Body()->addLayout(row, 1);
    resize(780, 560);

    connect(add, &QAction::triggered, this, [this] { NewTemplate(); });
    connect(slot, &QPushButton::clicked, this, [this] { NewSlot(); });
    connect(del, &QPushButton::clicked, this, [this] { DeleteSelected(); });
    for (int key : {Qt::Key_Delete, Qt::Key_Backspace}) {
        auto* shortcut = new QShortcut(QKeySequence(key), FTree);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { DeleteSelected(); });
    }
    connect(FClear, &QAction::triggered, this, [this] {
        Guard([this] { PrivateEngine().FactTemplates().Clear(); });
        Rebuild();
    });
    connect(FTree, &QTreeWidget::currentItemChanged, this, [this] {
        if (!FLoading) Selected();
    });
    connect(FName, &QLineEdit::textEdited, this, [this](const QString& t) { Rename(t); });
    connect(FComment, &QPlainTextEdit::textChanged, this, [this] {
        TRefPtr<IFactTemplate> t = CurrentTemplate();
        if (FLoading || !t) return;
        t->SetComment(FComment->toPlainText().toStdString());
        InfoPanel()->clear();
    });
    // A field left as the form closes is not applied: OK and Cancel have decided already.
    connect(FSlotName, &QLineEdit::editingFinished, this, [this] {
        if (!FLoading && isVisible()) ApplySlot();
    });
    connect(FDefault, &QLineEdit::editingFinished, this, [this] {
        if (!FLoading && isVisible()) ApplySlot();
    });
    connect(FMulti, &QCheckBox::clicked, this, [this] {
        if (!FLoading) ApplySlot();
    });
    connect(FDynamic, &QCheckBox::toggled, this, [this](bool on) { FMulti->setEnabled(!on); });
    connect(FFrame, &TIETypeEditorFrame::Changed, this, [this] {
        if (FLoading) return;
        FTypeEdited = true;
        ApplySlot();
    });
    TInferenceEngine& e = PrivateEngine();
    auto refresh = [this](auto&&...) { FFrame->RefreshNames(); };
    e.OnAddDefinedType = refresh;
    e.OnRemoveDefinedType = refresh;
    e.OnClearDefinedTypes = refresh;
    connect(open, &QAction::triggered, this, [this] {
        const QString name =
            AskOpenFile("Load Fact Template File...", FactTemplatesOpenFilter, "iet");
        if (name.isEmpty()) return;
        Guard([&] { PrivateEngine().LoadTemplatesFromFile(name.toStdString()); });
        Rebuild();
    });
    auto saveTo = [this](bool ask) {
        QString name = FileName;
        if (ask || name.isEmpty())
            name = AskSaveFile("Save Fact Templates to file...", FactTemplatesSaveFilter, "iet");
        if (!name.isEmpty())
            Guard([&] { PrivateEngine().SaveTemplatesToFile(name.toStdString()); });
    };
    connect(save, &QAction::triggered, this, [saveTo] { saveTo(false); });
    connect(saveAs, &QAction::triggered, this, [saveTo] { saveTo(true); });
    connect(print, &QAction::triggered, this, [this] {
        std::vector<std::string> lines;
        const std::string text = PrivateEngine().FactTemplates().GetText();
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i)
            if (i == text.size() || text[i] == '\n') {
                std::string line = text.substr(start, i - start);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (i < text.size() || !line.empty()) lines.push_back(line);
                start = i + 1;
            }
        PrintLinesDialog("Fact Templates", lines);
    });
    connect(setup, &QAction::triggered, this, [this] { PrinterSetup(); });
    connect(FEditTypes, &QAction::triggered, this, [this] {
        TDefinedTypesDialog dialog(nullptr);
        dialog.SetCaption("Edit Defined Types");
        dialog.SetEngine(&PrivateEngine());
        Guard([&] { dialog.Execute(); });
    });

    SetHelpContext(add, 200);
    SetHelpContext(FClear, 230);
    SetHelpContext(open, 41);
    SetHelpContext(save, 31);
    SetHelpContext(saveAs, 31);
    SetHelpContext(FTree, 28);
    SetHelpContext(slot, 42);
    SetHelpContext(del, 52);
    SetHelpContext(FProperties, 92);
    SetHelpContext(FName, 102);
    SetHelpContext(FSlotName, 122);
    SetHelpContext(FDefault, 142);
    SetHelpContext(FMulti, 280);
    SetHelpContext(FDynamic, 152);
}

TFactTemplatesEditDlg::~TFactTemplatesEditDlg() {
    // The fields finish their editing as they lose the focus while the form's widgets go: the
    // form, no longer whole, must not apply them.
    for (QObject* field : std::initializer_list<QObject*>{FSlotName, FDefault, FComment, FName,
                                                          FFrame, FTree, FMulti})
        field->disconnect(this);
    TInferenceEngine& e = PrivateEngine();
    e.OnAddDefinedType = nullptr;
    e.OnRemoveDefinedType = nullptr;
    e.OnClearDefinedTypes = nullptr;
}

void TFactTemplatesEditDlg::SetCaption(const std::string& caption) {
    setWindowTitle(Q(caption));
}

void TFactTemplatesEditDlg::SetEnableTypeEditor(bool value) {
    FEditTypes->setVisible(value);
    FEditTypes->setEnabled(value);
}

TRefPtr<IFactTemplate> TFactTemplatesEditDlg::CurrentTemplate() {
    QTreeWidgetItem* item = FTree->currentItem();
    while (item && item->parent())
        item = item->parent();
    return item ? PrivateEngine().FactTemplates().Find(
                      item->data(0, Qt::UserRole).toString().toStdString())
                : nullptr;
}

void TFactTemplatesEditDlg::Rebuild() {
    TRefPtr<IFactTemplate> current = CurrentTemplate();
    const std::string name = current ? current->GetName() : std::string();
    const std::string slot = FSlot;
    FLoading = true;
    FTree->clear();
    auto it = PrivateEngine().FactTemplates().Keys();
    while (it->HasNext()) {
        TRefPtr<IFactTemplate> t = PrivateEngine().FactTemplates().Find(it->NextString());
        if (!t) continue;
        auto* item = new QTreeWidgetItem(FTree, {Q(t->GetName())});
        item->setData(0, Qt::UserRole, Q(t->GetName()));
        for (int32_t i = 0; i < t->SlotCount(); ++i) {
            auto* s = new QTreeWidgetItem(item, {Q(t->SlotAt(i)->GetName())});
            s->setData(0, Qt::UserRole, Q(t->SlotAt(i)->GetName()));
            // Level 2: details that stand for their slot.
            for (const std::string& line : FEditor.SlotDetailLines(*t->SlotAt(i)))
                new QTreeWidgetItem(s, {Q(line)});
        }
    }
    FLoading = false;
    FSlot.clear();
    if (!name.empty())
        SelectItem(name, slot);
    else
        Selected();
}

void TFactTemplatesEditDlg::SelectItem(const std::string& templateName,
                                       const std::string& slotName) {
    for (int i = 0; i < FTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* t = FTree->topLevelItem(i);
        if (t->data(0, Qt::UserRole).toString().toStdString() != templateName) continue;
        QTreeWidgetItem* target = t;
        for (int j = 0; j < t->childCount(); ++j)
            if (!slotName.empty() &&
                t->child(j)->data(0, Qt::UserRole).toString().toStdString() == slotName)
                target = t->child(j);
        FTree->setCurrentItem(target);
        Selected();
        return;
    }
    Selected();
}

void TFactTemplatesEditDlg::Selected() {
    FLoading = true;
    QTreeWidgetItem* item = FTree->currentItem();
    TRefPtr<IFactTemplate> t = CurrentTemplate();
    const int level = !item ? -1 : (!item->parent() ? 0 : (!item->parent()->parent() ? 1 : 2));
    QTreeWidgetItem* slotItem = level == 2 ? item->parent() : (level == 1 ? item : nullptr);
    FSlot = slotItem ? slotItem->data(0, Qt::UserRole).toString().toStdString() : std::string();
    FName->setEnabled(item != nullptr);
    FComment->setEnabled(item != nullptr);
    FNewSlotButton->setEnabled(item != nullptr);
    FDeleteButton->setEnabled(item != nullptr);
    const bool templates = PrivateEngine().FactTemplates().Count() > 0;
    FClear->setEnabled(templates);
    FProperties->setVisible(templates);
    FName->setText(t ? Q(t->GetName()) : QString());
    FComment->setPlainText(t ? Q(t->GetComment()) : QString());
    TRefPtr<IFactSlot> slot = t && !FSlot.empty() ? t->SlotByName(FSlot) : nullptr;
    if (slot) {
        FSlotPanel->setVisible(true);
        FSlotName->setText(Q(slot->GetName()));
        FDefault->setText(Q(FEditor.DefaultText(*slot)));
        FDynamic->setChecked(TFactTemplateEditor::DefaultDynamicChecked(*slot));
        FMulti->setChecked(TFactTemplateEditor::MultiSlotChecked(*slot));
        FFrame->ShowSlotType(*slot);
        FShownSlot = ShownSlotEdit();
        FTypeEdited = false;
        FSlotName->setFocus();
    } else {
        FSlotPanel->setVisible(false);
        FName->setFocus();
    }
    FLoading = false;
}

void TFactTemplatesEditDlg::Rename(const QString& text) {
    TRefPtr<IFactTemplate> t = CurrentTemplate();
    if (FLoading || !t) return;
    QTreeWidgetItem* item = FTree->currentItem();
    while (item && item->parent())
        item = item->parent();
    if (item) item->setText(0, text);
    std::string complaint;
    if (!Guard([&] { complaint = FEditor.Rename(*t, text.toStdString()); })) return;
    InfoPanel()->setText(Q(complaint));
    if (item) {
        item->setBackground(0, complaint.empty() ? QBrush() : QBrush(Qt::red));
        if (complaint.empty()) item->setData(0, Qt::UserRole, Q(t->GetName()));
    }
}

bool TFactTemplatesEditDlg::ApplySlot() {
    TRefPtr<IFactTemplate> t = CurrentTemplate();
    if (!t || FSlot.empty()) return false;
    // The error box takes the focus from the field, which finishes its editing once more: one
    // complaint at a time.
    if (FApplying) return false;
    const TRestore<bool> applying(FApplying, true);
    const TSlotEdit edit = ShownSlotEdit();
    // Passing through a field without changing it applies nothing: applying would give the
    // slot the frame's own copy of its type, a change the user did not make.
    if (!FTypeEdited && edit.SameFields(FShownSlot)) return true;
    // The same refused edit finished again (the field regains the focus after the box): the
    // field still shows it marked, the status bar still says why; no second box.
    const std::string attempt = FSlot + '\n' + edit.Name + '\n' + edit.DefaultText + '\n' +
                                (edit.MultiSlot ? "m" : "") + (edit.DefaultDynamic ? "d" : "");
    if (!FRefused.empty() && attempt == FRefused) return false;
    TRefPtr<IFactSlot> slot;
    std::string complaint;
    if (!Guard([&] {
            try {
                slot = FEditor.ApplySlot(*t, FSlot, edit);
            } catch (const std::exception& e) {
                complaint = e.what();
                throw;
            }
        })) {
        FRefused = attempt;
        InfoPanel()->setText(Q(complaint));
        // The editor stays open on the field at fault, its text selected to be typed over: a
        // name another slot has, or else the default.
        const bool nameTaken = !edit.Name.empty() && edit.Name != FSlot && t->SlotByName(edit.Name);
        QLineEdit* fault = nameTaken ? static_cast<QLineEdit*>(FSlotName) : FDefault;
        MarkFault(fault);
        fault->setFocus();
        fault->selectAll();
        return false;
    }
    FRefused.clear();
    MarkFault(nullptr);
    InfoPanel()->clear();
    if (edit.Name.empty() || !slot) return true;
    FSlot = slot->GetName();
    // Tab out of a field applies it: the focus stays where Tab took it (Min to Max), not on
    // the slot name that showing the slot again would focus.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    Rebuild();
    if (focus && focus->isVisible() && isAncestorOf(focus)) focus->setFocus();
    return true;
}

TSlotEdit TFactTemplatesEditDlg::ShownSlotEdit() const {
    return {FSlotName->text().toStdString(), FDefault->text().toStdString(), FMulti->isChecked(),
            FDynamic->isChecked(), FFrame->CType()};
}

void TFactTemplatesEditDlg::MarkFault(QLineEdit* fault) {
    for (QLineEdit* edit : {static_cast<QLineEdit*>(FSlotName), FDefault}) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, edit == fault
                                             ? QColor(Qt::red)
                                             : QApplication::palette().color(QPalette::Base));
        edit->setPalette(palette);
    }
}

void TFactTemplatesEditDlg::NewTemplate() {
    Guard([this] {
        TRefPtr<IFactTemplate> t = FEditor.NewTemplate();
        FSlot.clear();
        Rebuild();
        SelectItem(t->GetName());
    });
}

void TFactTemplatesEditDlg::NewSlot() {
    TRefPtr<IFactTemplate> t = CurrentTemplate();
    if (!t) return;
    Guard([&] {
        TRefPtr<IFactSlot> slot = FEditor.NewSlot(*t);
        FSlot = slot->GetName();
        Rebuild();
        SelectItem(t->GetName(), slot->GetName());
    });
}

void TFactTemplatesEditDlg::DeleteSelected() {
    QTreeWidgetItem* item = FTree->currentItem();
    TRefPtr<IFactTemplate> t = CurrentTemplate();
    if (!item || !t) return;
    InfoPanel()->clear();
    Guard([&] {
        if (!FSlot.empty()) {
            FEditor.DeleteSlot(*t, FSlot);
            FSlot.clear();
            Rebuild();
            SelectItem(t->GetName());
        } else {
            const int at = FTree->indexOfTopLevelItem(item);
            FEditor.DeleteTemplate(t->GetName());
            FTree->setCurrentItem(nullptr);
            Rebuild();
            if (FTree->topLevelItemCount() > 0)
                FTree->setCurrentItem(FTree->topLevelItem(std::max(0, at - 1)));
        }
    });
}

bool TFactTemplatesEditDlg::ShowModal() {
    Rebuild();
    RememberState();
    return exec() == QDialog::Accepted;
}

} // namespace ie

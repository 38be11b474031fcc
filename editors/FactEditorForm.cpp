// The fact editor's window over TFactEditor. Facts copied in keep their identifiers; leaving the
// grid or the text page applies it, so the two pages always show the same fact; and every change
// made while the window fills its controls is ignored, so showing a fact never edits it.
#include "editors/FactEditorForm.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include "editors/GListBox.h"
#include "editors/logic/FileFilter.h"

namespace ie {
namespace {

QPushButton* ButtonFor(QAction* action, QWidget* parent) {
    auto* b = new QPushButton(action->text(), parent);
    QObject::connect(b, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, b,
                     [b, action] { b->setEnabled(action->isEnabled()); });
    b->setEnabled(action->isEnabled());
    return b;
}

} // namespace

TFactsEditDlg::TFactsEditDlg(QWidget* parent)
    : TEditorFormBase("Fact Editor", 11, parent), FEditor(PrivateEngine()) {
    // Facts copied in from a host keep their identifiers.
    PrivateEngine().Facts().KeepIdentifiers = true;
    auto* tools = new QToolBar(this);
    FNew = MakeAction("&New", "Ctrl+N", "New Fact", tools);
    FClear = MakeAction("Clear", "", "Clear Facts", tools);
    QAction* open = MakeAction("Open", "Ctrl+O", "Open File", tools);
    QAction* save = MakeAction("Save", "Ctrl+S", "Save File", tools);
    QAction* saveAs = MakeAction("Save As", "", "Save File", tools);
    QAction* print = MakeAction("Print", "Ctrl+P", "Print", tools);
    QAction* setup = MakeAction("Printer Setup", "", "Print Setup", tools);
    FEditTemplates = MakeAction("Fact Templates", "", "Edit Fact Templates...", tools);
    FEditTypes = MakeAction("Types", "", "Edit Defined Types...", tools);
    FAdd = MakeAction("&Add", "", "Add Fact");
    FReplace = MakeAction("&Replace", "Ctrl+R", "Replace Fact");
    FDelete = MakeAction("&Delete", "Ctrl+D", "Delete Fact");
    Body()->addWidget(tools);

    auto* row = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* sortRow = new QHBoxLayout;
    sortRow->addWidget(new QLabel("Sort By...", this));
    const char* orders[] = {"Inde&x", "&ID", "&Template"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QRadioButton(orders[i], this);
        b->setChecked(i == 0);
        connect(b, &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) Sort(static_cast<TFactOrder>(i));
        });
        sortRow->addWidget(b);
    }
    left->addLayout(sortRow);
    FList = new TGListBox(this);
    FList->SetHorizontalScrollBar(true);
    left->addWidget(FList, 1);
    row->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    auto* basedOnLabel = new QLabel("&Based On", this);
    right->addWidget(basedOnLabel);
    FBasedOn = new QComboBox(this);
    basedOnLabel->setBuddy(FBasedOn);
    right->addWidget(FBasedOn);
    FPages = new QTabWidget(this);
    FGrid = new QTableWidget(0, 2, this);
    FGrid->setHorizontalHeaderLabels({"Slot", "Value"});
    // The headings are the grid's header: its first row is the fact's identifier. Rows are one
    // line of text high.
    FGrid->horizontalHeader()->setStretchLastSection(true);
    FGrid->verticalHeader()->setVisible(false);
    FGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FGrid->verticalHeader()->setDefaultSectionSize(FGrid->fontMetrics().height() + 8);
    FMemo = new QPlainTextEdit(this);
    FPages->addTab(FGrid, "Sl&ot");
    FPages->addTab(FMemo, "&Freeform");
    FPages->setEnabled(false);
    right->addWidget(FPages, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonFor(FAdd, this));
    buttons->addWidget(ButtonFor(FReplace, this));
    buttons->addWidget(ButtonFor(FDelete, this));
    right->addLayout(buttons);
    row->addLayout(right, 1);
    Body()->addLayout(row, 1);
    resize(800, 500);

    connect(FNew, &QAction::triggered, this, [this] { NewFact(); });
    connect(FAdd, &QAction::triggered, this, [this] { AddFact(); });
    connect(FReplace, &QAction::triggered, this, [this] { ReplaceFact(); });
    connect(FDelete, &QAction::triggered, this, [this] { DeleteFact(); });
    connect(FClear, &QAction::triggered, this,
            [this] { Guard([this] { PrivateEngine().Facts().Clear(); }); });
    connect(FList, &QListWidget::currentRowChanged, this, [this] { LineClicked(); });
    connect(FBasedOn, &QComboBox::currentTextChanged, this, [this](const QString& name) {
        if (FLoading) return;
        FEditor.ChooseTemplate(name.toStdString());
        ShowCurrent();
    });
    connect(FPages, &QTabWidget::currentChanged, this, [this](int page) {
        if (FLoading) return;
        // Leaving a page applies it; the other page then shows the result.
        FLoading = true;
        if (page == 1) {
            if (Guard([this] { FEditor.ApplyGrid(); }))
                FMemo->setPlainText(QString::fromStdString(FEditor.CurrentText()));
        } else if (Guard([this] { FEditor.ApplyText(FMemo->toPlainText().toStdString()); })) {
            ShowCurrent();
        }
        FLoading = false;
    });
    connect(FGrid, &QTableWidget::cellChanged, this, [this](int r, int c) {
        if (FLoading || c != 1 || r < 1) return;
        FEditor.SetGridValue(static_cast<size_t>(r), FGrid->item(r, c)->text().toStdString());
    });
    connect(open, &QAction::triggered, this, [this] {
        const QString name = AskOpenFile("Load Facts File...", FactsFileFilter, "ief");
        if (name.isEmpty()) return;
        AttachHandlers(false);
        Guard([&] { PrivateEngine().LoadFactsFromFile(name.toStdString()); });
        AttachHandlers(true);
        Sort(FOrder);
    });
    auto saveTo = [this](bool ask) {
        QString name = FileName;
        if (ask || name.isEmpty())
            name = AskSaveFile("Save Facts to file...", FactsFileFilter, "ief");
        if (!name.isEmpty()) Guard([&] { PrivateEngine().SaveFactsToFile(name.toStdString()); });
    };
    connect(save, &QAction::triggered, this, [saveTo] { saveTo(false); });
    connect(saveAs, &QAction::triggered, this, [saveTo] { saveTo(true); });
    connect(print, &QAction::triggered, this, [this] {
        std::vector<std::string> lines;
        for (const auto& fact : PrivateEngine().Facts().Items())
            lines.push_back(fact->GetText());
        PrintLinesDialog("Facts", lines);
    });
    connect(setup, &QAction::triggered, this, [this] { PrinterSetup(); });
    connect(FEditTemplates, &QAction::triggered, this, [this] {
        TFactTemplatesDialog dialog(nullptr);
        dialog.SetCaption("Edit Fact Templates");
        dialog.SetEngine(&PrivateEngine());
        dialog.EnableTypeEditor = FEnableTypes;
        Guard([&] { dialog.Execute(); });
    });
    connect(FEditTypes, &QAction::triggered, this, [this] {
        TDefinedTypesDialog dialog(nullptr);
        dialog.SetCaption("Edit Defined Types");
        dialog.SetEngine(&PrivateEngine());
        Guard([&] { dialog.Execute(); });
    });
    for (int key : {Qt::Key_Delete, Qt::Key_Backspace}) {
        auto* shortcut = new QShortcut(QKeySequence(key), FList);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { DeleteFact(); });
    }
    UpdateActions();
    AskBeforeShortcut(FReplace, [this] {
        const int32_t id = SelectedId();
        return id < 0 ? QString() : QString("Replace fact f-%1 by the fact being edited?").arg(id);
    });
    AskBeforeShortcut(FDelete, [this] {
        const int32_t id = SelectedId();
        return id < 0 ? QString() : QString("Delete fact f-%1?").arg(id);
    });

    SetHelpContext(FAdd, 150);
    SetHelpContext(FNew, 50);
    SetHelpContext(FReplace, 40);
    SetHelpContext(FDelete, 70);
    SetHelpContext(FClear, 230);
    SetHelpContext(open, 41);
    SetHelpContext(save, 31);
    SetHelpContext(saveAs, 31);
    SetHelpContext(FList, 170);
    SetHelpContext(FBasedOn, 60);
    SetHelpContext(FPages->widget(0), 80);
    SetHelpContext(FGrid, 90);
    SetHelpContext(FPages->widget(1), 100);
    SetHelpContext(FMemo, 110);
}

TFactsEditDlg::~TFactsEditDlg() {
    AttachHandlers(false);
    TInferenceEngine& e = PrivateEngine();
    e.OnNewFactTemplate = nullptr;
    e.OnRemoveFactTemplate = nullptr;
}

void TFactsEditDlg::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void TFactsEditDlg::SetEnableFactTemplateEditor(bool value) {
    FEditTemplates->setVisible(value);
    FEditTemplates->setEnabled(value);
}

void TFactsEditDlg::SetEnableTypeEditor(bool value) {
    FEnableTypes = value;
    FEditTypes->setVisible(value);
    FEditTypes->setEnabled(value);
}

int32_t TFactsEditDlg::SelectedId() const {
    const int row = FList->currentRow();
    return row >= 0 ? static_cast<int32_t>(FList->KeyAt(row)) : -1;
}

void TFactsEditDlg::UpdateActions() {
    const bool current = FEditor.Current() != nullptr;
    const bool selected = FList->currentRow() >= 0;
    FNew->setEnabled(!FBasedOn->currentText().isEmpty());
    FAdd->setEnabled(current);
    FReplace->setEnabled(current && selected);
    FDelete->setEnabled(selected);
    FClear->setEnabled(FList->count() > 0);
    FPages->setEnabled(current);
}

void TFactsEditDlg::AttachHandlers(bool attach) {
    TInferenceEngine& e = PrivateEngine();
    if (!attach) {
        e.OnAssertion = nullptr;
        e.OnRetraction = nullptr;
        e.OnClearFacts = nullptr;
        return;
    }
    e.OnAssertion = [this](TInferenceEngine*, IFact* f) {
        FList->AddLine(QString::fromStdString(TFactEditor::LineText(*f, FOrder)), f->GetFactId());
        FList->setCurrentRow(FList->IndexOfKey(f->GetFactId()));
        UpdateActions();
    };
    e.OnRetraction = [this](TInferenceEngine*, IFact* f) {
        const int row = FList->IndexOfKey(f->GetFactId());
        if (row >= 0) FList->DeleteLine(row);
        UpdateActions();
    };
    e.OnClearFacts = [this](TInferenceEngine*) {
        FList->ClearLines();
        UpdateActions();
    };
}

void TFactsEditDlg::Prepare() {
    if (FPrepared) return;
    FPrepared = true;
    TInferenceEngine& e = PrivateEngine();
    AttachHandlers(true);
    e.OnNewFactTemplate = [this](TInferenceEngine*, IFactTemplate* t) {
        FBasedOn->addItem(QString::fromStdString(t->GetName()));
        FBasedOn->model()->sort(0);
    };
    e.OnRemoveFactTemplate = [this](TInferenceEngine*, IFactTemplate* t) {
        const int at = FBasedOn->findText(QString::fromStdString(t->GetName()));
        if (at >= 0) FBasedOn->removeItem(at);
    };
    FLoading = true;
    FBasedOn->clear();
    auto it = e.FactTemplates().Keys();
    while (it->HasNext())
        FBasedOn->addItem(QString::fromStdString(it->NextString()));
    FBasedOn->model()->sort(0);
    FLoading = false;
    Sort(FOrder);
    // The form opens on the list: OK must not take a Space or Enter meant for the facts.
    FList->setFocus();
}

void TFactsEditDlg::Sort(TFactOrder order) {
    FOrder = order;
    const int32_t selected = SelectedId();
    FList->setUpdatesEnabled(false);
    FList->ClearLines();
    for (const TFactLine& line : FEditor.Lines(order))
        FList->AddLine(QString::fromStdString(line.Text), line.ID);
    FList->setUpdatesEnabled(true);
    if (selected >= 0) FList->setCurrentRow(FList->IndexOfKey(selected));
    UpdateActions();
}

void TFactsEditDlg::ShowCurrent() {
    const bool wasLoading = FLoading;
    FLoading = true;
    const QString name = QString::fromStdString(FEditor.CurrentTemplateName());
    if (!name.isEmpty()) FBasedOn->setCurrentText(name);
    const auto& rows = FEditor.Grid();
    FGrid->setRowCount(static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* slot = new QTableWidgetItem(QString::fromStdString(rows[i].Slot));
        slot->setFlags(slot->flags() & ~Qt::ItemIsEditable);
        FGrid->setItem(static_cast<int>(i), 0, slot);
        auto* value = new QTableWidgetItem(QString::fromStdString(rows[i].Value));
        // The identifier is shown, not edited.
        if (i == 0) value->setFlags(value->flags() & ~Qt::ItemIsEditable);
        FGrid->setItem(static_cast<int>(i), 1, value);
    }
    FMemo->setPlainText(QString::fromStdString(FEditor.CurrentText()));
    FLoading = wasLoading;
    UpdateActions();
}

void TFactsEditDlg::LineClicked() {
    const int32_t id = SelectedId();
    if (id >= 0) FEditor.SelectFact(id);
    ShowCurrent();
}

void TFactsEditDlg::NewFact() {
    if (!FEditor.NewFact(FBasedOn->currentText().toStdString())) return;
    ShowCurrent();
    if (FPages->currentIndex() == 0)
        FGrid->setFocus();
    else
        FMemo->setFocus();
}

bool TFactsEditDlg::Apply() {
    return Guard([this] {
        if (FPages->currentIndex() == 1)
            FEditor.ApplyText(FMemo->toPlainText().toStdString());
        else
            FEditor.ApplyGrid();
    });
}

void TFactsEditDlg::AddFact() {
    if (!Apply()) return;
    Guard([this] { FEditor.Add(); });
    ShowCurrent();
}

void TFactsEditDlg::ReplaceFact() {
    const int32_t id = SelectedId();
    if (id < 0 || !Apply()) return;
    Guard([&] { FEditor.Replace(id); });
    ShowCurrent();
}

void TFactsEditDlg::DeleteFact() {
    const int row = FList->currentRow();
    if (row < 0 || !FDelete->isEnabled()) return;
    Guard([&] { FEditor.Delete(SelectedId()); });
    if (FList->count() > 0) FList->setCurrentRow(std::min(row, FList->count() - 1));
    LineClicked();
}

bool TFactsEditDlg::HasPendingEdit() {
    if (FPages->currentIndex() == 1 && FEditor.Current() &&
        FMemo->toPlainText().toStdString() != FEditor.CurrentText())
        return true;
    return FEditor.HasPendingEdit();
}

bool TFactsEditDlg::KeepPendingEdit() {
    if (!HasPendingEdit()) return true;
    if (!Apply()) return false;
    const bool kept = Guard([this] { FEditor.KeepCurrent(); });
    ShowCurrent();
    return kept;
}

bool TFactsEditDlg::ShowModal() {
    Prepare();
    RememberState();
    const bool ok = exec() == QDialog::Accepted;
    AttachHandlers(false);
    return ok;
}

} // namespace ie

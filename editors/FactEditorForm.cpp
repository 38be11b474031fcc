#include "editors/FactEditorForm.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolBar>
#include <QVBoxLayout>

#include "editors/GListBox.h"

namespace ie {

TFactsEditDlg::TFactsEditDlg(QWidget* parent) : TEditorFormBase("Fact Editor", 11, parent) {
    auto* tools = new QToolBar(this);
    FEditTemplates = tools->addAction("Edit Fact Templates...");
    FEditTypes = tools->addAction("Edit Defined Types...");
    Body()->addWidget(tools);
    auto* row = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* sortRow = new QHBoxLayout;
    const char* orders[] = {"Inde&x", "&ID", "&Template"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QRadioButton(orders[i], this);
        b->setChecked(i == 0);
        connect(b, &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) Sort(i);
        });
        sortRow->addWidget(b);
    }
    left->addLayout(sortRow);
    FList = new TGListBox(this);
    FList->SetHorizontalScrollBar(true);
    left->addWidget(FList, 1);
    row->addLayout(left, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel("&Based On", this));
    FBasedOn = new QComboBox(this);
    right->addWidget(FBasedOn);
    FEditor = new QPlainTextEdit(this);
    right->addWidget(FEditor, 1);
    auto* buttons = new QHBoxLayout;
    FAdd = new QPushButton("&Add", this);
    FReplace = new QPushButton("&Replace", this);
    FDelete = new QPushButton("&Delete", this);
    FAdd->setToolTip("Add Fact");
    FReplace->setToolTip("Replace Fact");
    FDelete->setToolTip("Delete Fact");
    buttons->addWidget(FAdd);
    buttons->addWidget(FReplace);
    buttons->addWidget(FDelete);
    right->addLayout(buttons);
    row->addLayout(right, 1);
    Body()->addLayout(row, 1);
    resize(800, 500);

    connect(FAdd, &QPushButton::clicked, this, [this] { AddFact(); });
    connect(FReplace, &QPushButton::clicked, this, [this] { ReplaceFact(); });
    connect(FDelete, &QPushButton::clicked, this, [this] { DeleteFact(); });
    connect(FList, &QListWidget::currentRowChanged, this, [this](int row) {
        FReplace->setEnabled(row >= 0);
        FDelete->setEnabled(row >= 0);
        if (row < 0) return;
        const int32_t at =
            PrivateEngine().Facts().IndexOfID(static_cast<int32_t>(FList->KeyAt(row)));
        if (at >= 0)
            FEditor->setPlainText(
                QString::fromStdString(PrivateEngine().Facts().Item(at)->GetText()));
    });
    FReplace->setEnabled(false);
    FDelete->setEnabled(false);
}

void TFactsEditDlg::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void TFactsEditDlg::SetEnableFactTemplateEditor(bool value) {
    FEnableTemplates = value;
    FEditTemplates->setVisible(value);
    FEditTemplates->setEnabled(value);
}

void TFactsEditDlg::SetEnableTypeEditor(bool value) {
    FEnableTypes = value;
    FEditTypes->setVisible(value);
    FEditTypes->setEnabled(value);
}

QString TFactsEditDlg::LineOf(const IFact& fact) const {
    if (FOrder == 1) return QString::fromStdString(fact.GetLabel());
    return QString::fromStdString(fact.GetText() + " (f" + std::to_string(fact.GetFactId()) + ")");
}

void TFactsEditDlg::AttachHandlers() {
    TInferenceEngine& e = PrivateEngine();
    e.OnAssertion = [this](TInferenceEngine*, IFact* f) {
        FList->AddLine(LineOf(*f), f->GetFactId());
        FList->setCurrentRow(FList->count() - 1);
    };
    e.OnRetraction = [this](TInferenceEngine*, IFact* f) {
        FList->DeleteLine(FList->IndexOfKey(f->GetFactId()));
    };
    e.OnClearFacts = [this](TInferenceEngine*) { FList->ClearLines(); };
}

void TFactsEditDlg::Sort(int order) {
    FOrder = order;
    const qintptr selected = FList->currentRow() >= 0 ? FList->KeyAt(FList->currentRow()) : -1;
    FList->setSortingEnabled(false);
    FList->ClearLines();
    for (const auto& fact : PrivateEngine().Facts().Items())
        FList->AddLine(LineOf(*fact), fact->GetFactId());
    if (order != 0) FList->sortItems();
    if (selected >= 0) FList->setCurrentRow(FList->IndexOfKey(selected));
}

void TFactsEditDlg::AddFact() {
    Guard([this] { PrivateEngine().AssertString(FEditor->toPlainText().toStdString()); });
}

void TFactsEditDlg::DeleteFact() {
    const int row = FList->currentRow();
    if (row < 0) return;
    TInferenceEngine& e = PrivateEngine();
    const int32_t at = e.Facts().IndexOfID(static_cast<int32_t>(FList->KeyAt(row)));
    if (at >= 0) Guard([&] { e.RetractAt(at); });
    FList->setCurrentRow(std::min(row, FList->count() - 1));
}

void TFactsEditDlg::ReplaceFact() {
    if (FList->currentRow() < 0) return;
    const std::string text = FEditor->toPlainText().toStdString();
    DeleteFact();
    Guard([&] { PrivateEngine().AssertString(text); });
}

bool TFactsEditDlg::ShowModal() {
    FBasedOn->clear();
    for (auto& entry : PrivateEngine().FactTemplates())
        if (auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get()))
            FBasedOn->addItem(QString::fromStdString(t->GetName()));
    FBasedOn->model()->sort(0);
    AttachHandlers();
    Sort(FOrder);
    const bool ok = exec() == QDialog::Accepted;
    TInferenceEngine& e = PrivateEngine();
    e.OnAssertion = nullptr;
    e.OnRetraction = nullptr;
    e.OnClearFacts = nullptr;
    return ok;
}

} // namespace ie

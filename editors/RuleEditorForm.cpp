#include "editors/RuleEditorForm.h"

#include <QAction>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "editors/GEdit.h"
#include "engine/IEParser.h"
#include "engine/IERule.h"

namespace ie {

TRulesEditDlg::TRulesEditDlg(QWidget* parent) : TEditorFormBase("Rule Editor", 12, parent) {
    auto* tools = new QToolBar(this);
    FEditTemplates = tools->addAction("Edit Fact Templates...");
    FEditTypes = tools->addAction("Edit Defined Types...");
    Body()->addWidget(tools);
    auto* row = new QHBoxLayout;
    FTree = new QTreeWidget(this);
    FTree->setHeaderHidden(true);
    FTree->setSortingEnabled(true);
    row->addWidget(FTree, 1);
    auto* right = new QVBoxLayout;
    auto* fields = new QFormLayout;
    FName = new TGEdit(this);
    FName->SetFilterChars(
        QString::fromLatin1(NameFilterChars.data(), static_cast<int>(NameFilterChars.size())));
    FName->SetFiltering(efBeep);
    FComment = new TGEdit(this);
    static_cast<TGEdit*>(FComment)->SetFilterChars("'\"");
    static_cast<TGEdit*>(FComment)->SetFiltering(efBeep);
    FSalience = new QLineEdit("0", this);
    FSalience->setMaxLength(5);
    FOneShot = new QCheckBox("&One Shot", this);
    fields->addRow("&Name", FName);
    fields->addRow("&Comment", FComment);
    fields->addRow("&Salience", FSalience);
    fields->addRow(FOneShot);
    right->addLayout(fields);
    FIf = new QPlainTextEdit(this);
    FThen = new QPlainTextEdit(this);
    right->addWidget(FIf, 1);
    right->addWidget(FThen, 1);
    row->addLayout(right, 2);
    Body()->addLayout(row, 1);
    resize(800, 500);
    connect(FTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        while (item && item->parent())
            item = item->parent();
        if (!item) return;
        const std::string name = item->text(0).toStdString().substr(0, item->text(0).indexOf("  "));
        ShowRule(PrivateEngine().Rules().Find(name));
    });
}

TRulesEditDlg::~TRulesEditDlg() {
    if (FEdited) FEdited->Free();
}

void TRulesEditDlg::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void TRulesEditDlg::SetMultiEdit(bool value) {
    FMultiEdit = value;
    FTree->setVisible(value);
    setWhatsThis(QString::number(value ? 12 : 14));
}

void TRulesEditDlg::SetEnableFactTemplateEditor(bool value) {
    FEditTemplates->setVisible(value);
    FEditTemplates->setEnabled(value);
}

void TRulesEditDlg::SetEnableTypeEditor(bool value) {
    FEditTypes->setVisible(value);
    FEditTypes->setEnabled(value);
}

void TRulesEditDlg::SetRule(TRule* rule) {
    if (FEdited) FEdited->Free();
    FEdited = nullptr;
    if (!rule) return;
    FEdited = new TRule(nullptr, &PrivateEngine());
    FEdited->Assign(rule);
}

TRule* TRulesEditDlg::EditedRule() {
    return FEdited;
}

std::string TRulesEditDlg::RuleRootText(const TRule& rule) {
    if (rule.Comment().empty()) return rule.RuleName();
    return rule.RuleName() + "  \"" + rule.Comment() + "\"";
}

void TRulesEditDlg::Rebuild() {
    FTree->clear();
    auto it = PrivateEngine().Rules().Keys();
    while (it->HasNext()) {
        TRule* rule = PrivateEngine().Rules().Find(it->NextString());
        if (rule) new QTreeWidgetItem(FTree, {QString::fromStdString(RuleRootText(*rule))});
    }
}

void TRulesEditDlg::ShowRule(TRule* rule) {
    if (!rule) return;
    FName->setText(QString::fromStdString(rule->RuleName()));
    FComment->setText(QString::fromStdString(rule->Comment()));
    FSalience->setText(QString::number(rule->Salience()));
    FOneShot->setChecked(rule->OneShot());
    if (TIEParser* writer = PrivateEngine().Parser()) {
        Guard([&] {
            FIf->setPlainText(QString::fromStdString(writer->FormatRuleSide(*rule, 0)));
            FThen->setPlainText(QString::fromStdString(writer->FormatRuleSide(*rule, 1)));
        });
    }
}

void TRulesEditDlg::ApplyFields() {
    if (!FEdited) return;
    Guard([this] {
        FEdited->SetRuleName(FName->text().toStdString());
        FEdited->SetComment(FComment->text().toStdString());
        const QString salience = FSalience->text().trimmed();
        if (!salience.isEmpty() && salience.toInt() != 0) FEdited->SetSalience(salience.toInt());
        FEdited->SetOneShot(FOneShot->isChecked());
    });
}

bool TRulesEditDlg::ShowModal() {
    if (FMultiEdit) Rebuild();
    ShowRule(FEdited);
    const bool ok = exec() == QDialog::Accepted;
    if (ok && !FMultiEdit) ApplyFields();
    return ok;
}

} // namespace ie

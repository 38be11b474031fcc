#include "editors/FactTemplateEditorForm.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "editors/GEdit.h"
#include "engine/IEFacts.h"

namespace ie {

TFactTemplatesEditDlg::TFactTemplatesEditDlg(QWidget* parent)
    : TEditorFormBase("Fact Template Editor", 13, parent) {
    auto* tools = new QToolBar(this);
    QAction* add = tools->addAction("New");
    add->setShortcut(QKeySequence("Ctrl+N"));
    add->setToolTip("New Fact Template");
    FEditTypes = tools->addAction("Edit Types");
    Body()->addWidget(tools);
    auto* row = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    FTree = new QTreeWidget(this);
    FTree->setHeaderHidden(true);
    FTree->setSortingEnabled(true);
    left->addWidget(FTree, 1);
    auto* buttons = new QHBoxLayout;
    auto* del = new QPushButton("&Delete", this);
    auto* slot = new QPushButton("New &Slot", this);
    buttons->addWidget(del);
    buttons->addWidget(slot);
    left->addLayout(buttons);
    row->addLayout(left, 1);
    auto* props = new QFormLayout;
    FName = new TGEdit(this);
    FName->SetFilterChars(
        QString::fromLatin1(NameFilterChars.data(), static_cast<int>(NameFilterChars.size())));
    FName->SetFiltering(efBeep);
    FComment = new QLineEdit(this);
    props->addRow("Na&me", FName);
    props->addRow("&Comment", FComment);
    row->addLayout(props, 1);
    Body()->addLayout(row, 1);
    resize(700, 450);

    connect(add, &QAction::triggered, this, [this] { NewTemplate(); });
    connect(slot, &QPushButton::clicked, this, [this] { NewSlot(); });
    connect(del, &QPushButton::clicked, this, [this] { DeleteSelected(); });
    connect(FTree, &QTreeWidget::currentItemChanged, this, [this] {
        FLoading = true;
        TRefPtr<IFactTemplate> t = CurrentTemplate();
        FName->setText(t ? QString::fromStdString(t->GetName()) : QString());
        FComment->setText(t ? QString::fromStdString(t->GetComment()) : QString());
        FLoading = false;
    });
    connect(FName, &QLineEdit::textEdited, this, [this](const QString& text) {
        TRefPtr<IFactTemplate> t = CurrentTemplate();
        if (FLoading || !t) return;
        const std::string name = text.toStdString();
        if (name.empty()) {
            StatusBar()->showMessage("Please fill in a name");
        } else if (name != t->GetName() && PrivateEngine().FactTemplates().Find(name)) {
            StatusBar()->showMessage("Duplicate name found");
        } else if (Guard([&] { t->SetName(name); })) {
            StatusBar()->clearMessage();
            Rebuild();
        }
    });
    connect(FComment, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (TRefPtr<IFactTemplate> t = CurrentTemplate(); t && !FLoading)
            t->SetComment(text.toStdString());
    });
}

void TFactTemplatesEditDlg::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void TFactTemplatesEditDlg::SetEnableTypeEditor(bool value) {
    FEditTypes->setVisible(value);
    FEditTypes->setEnabled(value);
}

std::string TFactTemplatesEditDlg::NewTemplateName(TInferenceEngine& engine) {
    for (int32_t n = engine.FactTemplates().Count();; ++n) {
        std::string name = "FactTemplateName" + std::to_string(n);
        if (!engine.FactTemplates().Find(name)) return name;
    }
}

std::string TFactTemplatesEditDlg::NewSlotName(const IFactTemplate& factTemplate) {
    for (int32_t n = factTemplate.SlotCount();; ++n) {
        std::string name = "SlotName" + std::to_string(n);
        if (!factTemplate.HasSlot(name)) return name;
    }
}

TRefPtr<IFactTemplate> TFactTemplatesEditDlg::CurrentTemplate() {
    QTreeWidgetItem* item = FTree->currentItem();
    while (item && item->parent())
        item = item->parent();
    return item ? PrivateEngine().FactTemplates().Find(item->text(0).toStdString()) : nullptr;
}

void TFactTemplatesEditDlg::Rebuild() {
    const QString selected = FTree->currentItem() ? FTree->currentItem()->text(0) : QString();
    FTree->clear();
    for (auto& entry : PrivateEngine().FactTemplates()) {
        auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get());
        if (!t || t->GetImplied()) continue;
        auto* item = new QTreeWidgetItem(FTree, {QString::fromStdString(t->GetName())});
        for (int32_t i = 0; i < t->SlotCount(); ++i)
            new QTreeWidgetItem(item, {QString::fromStdString(t->SlotAt(i)->GetName())});
        if (item->text(0) == selected) FTree->setCurrentItem(item);
    }
}

void TFactTemplatesEditDlg::NewTemplate() {
    Guard([this] {
        TInferenceEngine& e = PrivateEngine();
        const std::string name = NewTemplateName(e);
        auto t = TFactTemplate::CreateNamed(&e, name);
        t->SetComment("Comment");
        e.FactTemplates().PutTemplate(name, t);
        Rebuild();
        const auto found = FTree->findItems(QString::fromStdString(name), Qt::MatchExactly);
        if (!found.isEmpty()) FTree->setCurrentItem(found.front());
    });
}

void TFactTemplatesEditDlg::NewSlot() {
    TRefPtr<IFactTemplate> t = CurrentTemplate();
    if (!t) return;
    Guard([&] {
        t->AddSlot(NewSlotName(*t), nullptr);
        Rebuild();
    });
}

void TFactTemplatesEditDlg::DeleteSelected() {
    QTreeWidgetItem* item = FTree->currentItem();
    TRefPtr<IFactTemplate> t = CurrentTemplate();
    if (!item || !t) return;
    StatusBar()->clearMessage();
    Guard([&] {
        if (item->parent())
            t->DeleteSlot(item->text(0).toStdString());
        else
            PrivateEngine().FactTemplates().RemoveTemplate(t->GetName());
        Rebuild();
    });
}

bool TFactTemplatesEditDlg::ShowModal() {
    Rebuild();
    return exec() == QDialog::Accepted;
}

} // namespace ie

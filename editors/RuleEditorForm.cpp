// The rule editor's window over TRuleEditor, with the drag and drop between its trees, lists
// and memos. Drags carry TIEDragObject's encoded text, so only this editor's items (or plain
// text) are taken; the lists are rebuilt from the editor's lines rather than moved by the list
// views; and the rule tree and the functions list follow the private engine's events.
#include "editors/RuleEditorForm.h"

#include <algorithm>
#include <functional>

#include <QAction>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "editors/GEdit.h"
#include "editors/GListBox.h"
#include "editors/logic/EngineReading.h"
#include "editors/logic/FileFilter.h"
#include "engine/lang/IEParser.h"
#include "engine/match/IERule.h"
#include "engine/model/IEFacts.h"

namespace ie {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Where a drag starts: the widget builds its data through the form.
using TMakeDrag = std::function<QMimeData*(int row, QTreeWidgetItem* item)>;
// Where a drop lands: the form inserts; false when nothing was dropped.
using TTakeDrop = std::function<bool(const QMimeData* data, const QPoint& at)>;

bool CarriesDrop(const QMimeData* data) {
    return data && (data->hasFormat(TRulesEditDlg::DragMimeType) || data->hasText());
}

// Accepts the editor's drags (and plain text): only a widget that accepted the move gets the
// drop.
void AcceptDrag(QDropEvent* event) {
    if (CarriesDrop(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

class TDragTree : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    TMakeDrag MakeDrag;

protected:
    QStringList mimeTypes() const override { return {TRulesEditDlg::DragMimeType, "text/plain"}; }
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
        return MakeDrag && !items.isEmpty() ? MakeDrag(-1, items.first()) : nullptr;
    }
};

class TDragList : public QListWidget {
public:
    using QListWidget::QListWidget;
    TMakeDrag MakeDrag;

protected:
    QStringList mimeTypes() const override { return {TRulesEditDlg::DragMimeType, "text/plain"}; }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override {
        return MakeDrag && !items.isEmpty() ? MakeDrag(row(items.first()), nullptr) : nullptr;
    }
};

// The IF and THEN lists: their lines can be dragged, and they take drops.
class TRuleLinesBox : public TGListBox {
public:
    explicit TRuleLinesBox(QWidget* parent) : TGListBox(parent) {
        setDragEnabled(true);
        setAcceptDrops(true);
        viewport()->setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::DragDrop);
        setDropIndicatorShown(true);
    }
    TMakeDrag MakeDrag;
    TTakeDrop TakeDrop;

protected:
    QStringList mimeTypes() const override { return {TRulesEditDlg::DragMimeType, "text/plain"}; }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override {
        return MakeDrag && !items.isEmpty() ? MakeDrag(row(items.first()), nullptr) : nullptr;
    }
    void dragEnterEvent(QDragEnterEvent* event) override { AcceptDrag(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { AcceptDrag(event); }
    void dropEvent(QDropEvent* event) override {
        // The form rebuilds the lines itself: the list view must not move items on its own.
        if (TakeDrop && TakeDrop(event->mimeData(), event->position().toPoint())) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        } else {
            event->ignore();
        }
    }
};

class TDropMemo : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;
    std::function<bool(const QMimeData*)> TakeDrop;

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override {
        return CarriesDrop(source);
    }
    void insertFromMimeData(const QMimeData* source) override {
        if (!TakeDrop || !TakeDrop(source)) QPlainTextEdit::insertFromMimeData(source);
    }
};

class TDropLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    TTakeDrop TakeDrop;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { AcceptDrag(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { AcceptDrag(event); }
    void dropEvent(QDropEvent* event) override {
        if (TakeDrop && TakeDrop(event->mimeData(), event->position().toPoint()))
            event->acceptProposedAction();
        else
            event->ignore();
    }
};

} // namespace

const char* TRulesEditDlg::DragMimeType = "application/x-ie-rule-editor-drag";

TRulesEditDlg::TRulesEditDlg(QWidget* parent)
    : TEditorFormBase("Rule Editor", 12, parent), FEditor(PrivateEngine()) {
    auto* tools = new QToolBar(this);
    FTools = tools;
    QAction* newRule = MakeAction("New", "Ctrl+N", "New Rule", tools);
    FAdd = MakeAction("Add", "Ctrl+A", "Add Rule", tools);
    FReplace = MakeAction("Replace", "Ctrl+R", "Replace Rule", tools);
    FDelete = MakeAction("Delete", "Ctrl+D", "Delete", tools);
    FClear = MakeAction("Clear", "", "Clear Rules", tools);
    QAction* open = MakeAction("Open", "Ctrl+O", "Open File", tools);
    QAction* save = MakeAction("Save", "Ctrl+S", "Save File", tools);
    QAction* saveAs = MakeAction("Save As", "", "Save File", tools);
    QAction* print = MakeAction("Print", "Ctrl+P", "Print", tools);
    QAction* setup = MakeAction("Printer Setup", "", "Print Setup", tools);
    FEditTemplates = MakeAction("Fact Templates", "", "Edit Fact Templates...", tools);
    FEditTypes = MakeAction("Types", "", "Edit Defined Types...", tools);
    QAction* expand = MakeAction("&Expand All", "", "Expand All", tools);
    QAction* collapse = MakeAction("&Collapse All", "", "Collapse All", tools);
    Body()->addWidget(tools);

    auto* row = new QHBoxLayout;
    FLeft = new QWidget(this);
    auto* left = new QVBoxLayout(FLeft);
    // A label's accelerator marks its buddy: Alt and the letter focus the control.
    auto* rulesLabel = new QLabel("&Rules", FLeft);
    left->addWidget(rulesLabel);
    auto* rulesTree = new TDragTree(FLeft);
    FTree = rulesTree;
    rulesLabel->setBuddy(FTree);
    FTree->setHeaderHidden(true);
    FTree->setSortingEnabled(true);
    FTree->sortByColumn(0, Qt::AscendingOrder);
    left->addWidget(FTree, 1);
    row->addWidget(FLeft, 1);

    auto* middle = new QVBoxLayout;
    auto* display = new QTabWidget(this);
    auto* templatesTree = new TDragTree(this);
    FTemplates = templatesTree;
    FTemplates->setHeaderHidden(true);
    display->addTab(FTemplates, "Fact &Templates");
    auto* fpage = new QWidget;
    auto* fl = new QVBoxLayout(fpage);
    FSearch = new QLineEdit(fpage);
    auto* functions = new TDragList(fpage);
    FFunctions = functions;
    FDescription = new QPlainTextEdit(fpage);
    FDescription->setReadOnly(true);
    fl->addWidget(FSearch);
    fl->addWidget(FFunctions, 1);
    fl->addWidget(FDescription);
    display->addTab(fpage, "F&unctions");
    middle->addWidget(display, 1);
    row->addLayout(middle, 1);

    auto* right = new QVBoxLayout;
    auto* fields = new QFormLayout;
    FName = new TGEdit(this);
    FName->SetFilterChars(
        QString::fromLatin1(NameFilterChars.data(), static_cast<int>(NameFilterChars.size())));
    FName->SetFiltering(efBeep);
    FComment = new TGEdit(this);
    FComment->SetFilterChars("'\"");
    FComment->SetFiltering(efBeep);
    FSalience = new QLineEdit("0", this);
    // A sign or digit, then up to four digits; the unfilled places show blanks.
    FSalience->setInputMask("#0000; ");
    FSalience->setText("0");
    FSalience->setMaxLength(5);
    FOneShot = new QCheckBox("&One Shot", this);
    FVariables = new QCheckBox("&Variables?", this);
    auto* clearRule = new QPushButton("C&lear", this);
    fields->addRow("&Name", FName);
    fields->addRow("&Comment", FComment);
    fields->addRow("&Salience", FSalience);
    auto* checks = new QHBoxLayout;
    checks->addWidget(FOneShot);
    checks->addWidget(FVariables);
    checks->addWidget(clearRule);
    fields->addRow(checks);
    right->addLayout(fields);
    FPages = new QTabWidget(this);
    auto* epage = new QWidget;
    auto* el = new QVBoxLayout(epage);
    auto* ifLabel = new QLabel("&IF", epage);
    el->addWidget(ifLabel);
    auto* ifLines = new TRuleLinesBox(epage);
    FIf = ifLines;
    ifLabel->setBuddy(FIf);
    FIf->SetHorizontalScrollBar(true);
    el->addWidget(FIf, 1);
    auto* thenLabel = new QLabel("T&HEN", epage);
    el->addWidget(thenLabel);
    auto* thenLines = new TRuleLinesBox(epage);
    FThen = thenLines;
    thenLabel->setBuddy(FThen);
    FThen->SetHorizontalScrollBar(true);
    el->addWidget(FThen, 1);
    auto* lineEditor = new TDropLineEdit(epage);
    FEdit = lineEditor;
    FEdit->setVisible(false);
    el->addWidget(FEdit);
    FPages->addTab(epage, "&Editor");
    auto* mpage = new QWidget;
    auto* ml = new QVBoxLayout(mpage);
    auto* ifMemo = new TDropMemo(mpage);
    auto* thenMemo = new TDropMemo(mpage);
    FIfMemo = ifMemo;
    FThenMemo = thenMemo;
    ml->addWidget(FIfMemo, 1);
    ml->addWidget(new QLabel("=>", mpage));
    ml->addWidget(FThenMemo, 1);
    FPages->addTab(mpage, "&Free Form");
    right->addWidget(FPages, 1);
    row->addLayout(right, 2);
    Body()->addLayout(row, 1);
    resize(1000, 600);

    // Drag and drop between the trees, the functions list, the lists, the memos and the line
    // editor.
    for (QAbstractItemView* view :
         std::initializer_list<QAbstractItemView*>{FTree, FTemplates, FFunctions}) {
        view->setDragEnabled(true);
        view->setDragDropMode(QAbstractItemView::DragOnly);
    }
    rulesTree->MakeDrag = [this](int, QTreeWidgetItem* item) {
        return DragDataOf(FTree, -1, item);
    };
    templatesTree->MakeDrag = [this](int, QTreeWidgetItem* item) {
        return DragDataOf(FTemplates, -1, item);
    };
    functions->MakeDrag = [this](int row, QTreeWidgetItem*) { return DragDataOf(FFunctions, row); };
    for (TRuleSide side : {rsIf, rsThen}) {
        auto* box = static_cast<TRuleLinesBox*>(Lines(side));
        box->MakeDrag = [this, box](int row, QTreeWidgetItem*) { return DragDataOf(box, row); };
        box->TakeDrop = [this, box, side](const QMimeData* data, const QPoint& at) {
            QListWidgetItem* under = box->itemAt(at);
            return DropOnList(side, data, under ? box->row(under) : -1);
        };
    }
    for (TDropMemo* memo : {ifMemo, thenMemo})
        memo->TakeDrop = [this, memo](const QMimeData* data) { return DropOnMemo(memo, data); };
    lineEditor->TakeDrop = [this, lineEditor](const QMimeData* data, const QPoint& at) {
        return DropOnLineEditor(data, lineEditor->cursorPositionAt(at));
    };

    // The trees' pop-up menu.
    FPopup = new QMenu(this);
    FPopupDelete = FPopup->addAction("Delete");
    FPopupExpand = FPopup->addAction("&Expand All");
    FPopupCollapse = FPopup->addAction("&Collapse All");
    connect(FPopupDelete, &QAction::triggered, this, [this] { DeleteRule(); });
    connect(FPopupExpand, &QAction::triggered, this, [this] {
        if (FPopupTree) FPopupTree->expandAll();
    });
    connect(FPopupCollapse, &QAction::triggered, this, [this] {
        if (FPopupTree) FPopupTree->collapseAll();
    });
    for (QTreeWidget* tree : {FTree, FTemplates}) {
        tree->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(tree, &QWidget::customContextMenuRequested, this, [this, tree](const QPoint& at) {
            // The click selects the item under the mouse first, as the menu acts on it.
            if (QTreeWidgetItem* item = tree->itemAt(at)) tree->setCurrentItem(item);
            PreparePopup(tree);
            FPopup->popup(tree->viewport()->mapToGlobal(at));
        });
    }

    connect(newRule, &QAction::triggered, this, [this] {
        FEditor.Edit(nullptr);
        ShowEdited();
        FName->setFocus();
    });
    connect(clearRule, &QPushButton::clicked, newRule, &QAction::trigger);
    connect(FAdd, &QAction::triggered, this, [this] { AddRule(); });
    connect(FReplace, &QAction::triggered, this, [this] { ReplaceRule(); });
    connect(FDelete, &QAction::triggered, this, [this] { DeleteRule(); });
    connect(FClear, &QAction::triggered, this, [this] {
        FTree->setCurrentItem(nullptr);
        Guard([this] { PrivateEngine().Rules().Clear(); });
        Rebuild();
    });
    for (int key : {Qt::Key_Delete, Qt::Key_Backspace}) {
        auto* shortcut = new QShortcut(QKeySequence(key), FTree);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { DeleteRule(); });
        for (TRuleSide side : {rsIf, rsThen}) {
            auto* s = new QShortcut(QKeySequence(key), Lines(side));
            s->setContext(Qt::WidgetShortcut);
            connect(s, &QShortcut::activated, this, [this, side] {
                FieldsToEditor();
                FEditor.Lines.DeleteLine(side, Lines(side)->currentRow());
                ShowLines();
            });
        }
    }
    connect(expand, &QAction::triggered, this,
            [this] { (FTemplates->hasFocus() ? FTemplates : FTree)->expandAll(); });
    connect(collapse, &QAction::triggered, this,
            [this] { (FTemplates->hasFocus() ? FTemplates : FTree)->collapseAll(); });
    connect(FTree, &QTreeWidget::currentItemChanged, this, [this] {
        if (FLoading) return;
        const std::string name = SelectedRuleName();
        FDelete->setEnabled(!name.empty());
        if (TRule* rule = PrivateEngine().Rules().Find(name)) {
            Guard([&] { FEditor.Edit(rule); });
            ShowEdited();
        }
        FReplace->setEnabled(!name.empty() && FEditor.Edited());
    });
    connect(FIf, &QListWidget::itemClicked, this, [this] { ChooseLine(rsIf, FIf->currentRow()); });
    connect(FThen, &QListWidget::itemClicked, this,
            [this] { ChooseLine(rsThen, FThen->currentRow()); });
    connect(FEdit, &QLineEdit::textEdited, this, [this](const QString& t) { TypeLine(t); });
    connect(FPages, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == 1) {
            FieldsToEditor();
            FIfMemo->setPlainText(Q(FEditor.Lines.Text(rsIf)));
            FThenMemo->setPlainText(Q(FEditor.Lines.Text(rsThen)));
        } else {
            FEditor.Lines.SetText(rsIf, FIfMemo->toPlainText().toStdString());
            FEditor.Lines.SetText(rsThen, FThenMemo->toPlainText().toStdString());
            ShowLines();
        }
    });
    connect(FFunctions, &QListWidget::currentTextChanged, this, [this](const QString& name) {
        if (name.isEmpty()) return;
        if (auto fn = PrivateEngine().UserFunctions().Find(name.toStdString()))
            FDescription->setPlainText(Q(TRuleEditor::FunctionDescription(*fn)));
    });
    connect(FFunctions, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (!FEdit->isVisible()) return;
        Guard([&] {
            auto fn = FEditor.FindFunction(item->text().toStdString());
            FEdit->insert(Q(TRuleEditor::FunctionCallText(*fn)));
            TypeLine(FEdit->text());
        });
    });
    connect(FSearch, &QLineEdit::textEdited, this, [this](const QString& t) {
        const int32_t at = TRuleEditor::SearchFunction(FFunctionNames, t.toStdString());
        if (at >= 0) FFunctions->setCurrentRow(at);
    });
    connect(FSearch, &QLineEdit::returnPressed, this, [this] {
        if (FFunctions->currentItem()) FSearch->setText(FFunctions->currentItem()->text());
    });
    connect(FTemplates, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        // What dropping the item on the IF side gives, typed into the IF list.
        QTreeWidgetItem* top = item->parent() ? item->parent() : item;
        TRefPtr<IFactTemplate> t = PrivateEngine().FactTemplates().Find(top->text(0).toStdString());
        if (!t) return;
        FieldsToEditor();
        std::string text;
        if (item->parent())
            if (auto slot = t->SlotByName(item->text(0).toStdString()))
                text = FEditor.SlotPatternText(*t, *slot, FVariables->isChecked());
        if (text.empty()) text = FEditor.TemplatePatternText(*t, FVariables->isChecked());
        FEditor.Lines.InsertLine(rsIf, -1, text);
        ShowLines();
    });
    connect(open, &QAction::triggered, this, [this] {
        const QString name = AskOpenFile("Load Rules File...", RulesFileFilter, "ier");
        if (name.isEmpty()) return;
        Guard([&] { PrivateEngine().LoadRulesFromFile(name.toStdString()); });
        Rebuild();
    });
    auto saveTo = [this](bool ask) {
        QString name = FileName;
        if (ask || name.isEmpty())
            name = AskSaveFile("Save Rules to file...", RulesFileFilter, "ier");
        if (!name.isEmpty()) Guard([&] { PrivateEngine().SaveRulesToFile(name.toStdString()); });
    };
    connect(save, &QAction::triggered, this, [saveTo] { saveTo(false); });
    connect(saveAs, &QAction::triggered, this, [saveTo] { saveTo(true); });
    connect(print, &QAction::triggered, this,
            [this] { PrintLinesDialog("Rules", SplitLines(PrivateEngine().Rules().GetText())); });
    connect(setup, &QAction::triggered, this, [this] { PrinterSetup(); });
    connect(FEditTemplates, &QAction::triggered, this, [this] {
        TFactTemplatesDialog dialog(nullptr);
        dialog.SetCaption("Edit Fact Templates");
        dialog.SetEngine(&PrivateEngine());
        dialog.EnableTypeEditor = FEnableTypes;
        bool ok = false;
        Guard([&] { ok = dialog.Execute(); });
        if (ok) FillTemplates();
    });
    connect(FEditTypes, &QAction::triggered, this, [this] {
        TDefinedTypesDialog dialog(nullptr);
        dialog.SetCaption("Edit Defined Types");
        dialog.SetEngine(&PrivateEngine());
        Guard([&] { dialog.Execute(); });
    });
    ShowEdited();
    AskBeforeShortcut(FAdd, [this] {
        const QString name = FName->text().trimmed();
        return name.isEmpty() ? QString() : "Add rule \"" + name + "\"?";
    });
    AskBeforeShortcut(FReplace, [this] {
        const std::string name = SelectedRuleName();
        return name.empty() ? QString()
                            : "Replace rule \"" + Q(name) + "\" by the rule being edited?";
    });
    AskBeforeShortcut(FDelete, [this] {
        const std::string name = SelectedRuleName();
        return name.empty() ? QString() : "Delete rule \"" + Q(name) + "\"?";
    });

    SetHelpContext(newRule, 200);
    SetHelpContext(FAdd, 240);
    SetHelpContext(FReplace, 210);
    SetHelpContext(FDelete, 220);
    SetHelpContext(FClear, 230);
    SetHelpContext(expand, 250);
    SetHelpContext(collapse, 260);
    SetHelpContext(open, 41);
    SetHelpContext(save, 31);
    SetHelpContext(saveAs, 31);
    SetHelpContext(FTree, 21);
    SetHelpContext(FTemplates, 61);
    SetHelpContext(FFunctions, 71);
    SetHelpContext(FSearch, 270);
    SetHelpContext(FVariables, 81);
    SetHelpContext(FPages->widget(0), 91);
    SetHelpContext(FPages->widget(1), 121);
    SetHelpContext(FThenMemo, 131);
    SetHelpContext(FIfMemo, 141);
    SetHelpContext(FEdit, 151);
    SetHelpContext(FName, 171);
    SetHelpContext(FComment, 180);
    SetHelpContext(clearRule, 230);
}

TRulesEditDlg::~TRulesEditDlg() {
    TInferenceEngine& e = PrivateEngine();
    e.OnAddRule = nullptr;
    e.OnRemoveRule = nullptr;
    e.OnNewFactTemplate = nullptr;
    e.OnAddUserFunction = nullptr;
    e.OnRemoveUserFunction = nullptr;
}

void TRulesEditDlg::SetCaption(const std::string& caption) {
    setWindowTitle(Q(caption));
}

void TRulesEditDlg::SetMultiEdit(bool value) {
    FMultiEdit = value;
    FLeft->setVisible(value);
    FTools->setVisible(value);
    // One rule alone: the rule table is out of sight, so no key may add, replace, delete or
    // load rules there.
    for (QAction* action : FTools->actions())
        if (action != FEditTemplates && action != FEditTypes) action->setVisible(value);
    SetHelpContext(this, value ? 12 : 14);
    SetHelpContext(HelpButton(), value ? 12 : 14);
}

void TRulesEditDlg::SetEnableFactTemplateEditor(bool value) {
    FEditTemplates->setVisible(value);
    FEditTemplates->setEnabled(value);
}

void TRulesEditDlg::SetEnableTypeEditor(bool value) {
    FEnableTypes = value;
    FEditTypes->setVisible(value);
    FEditTypes->setEnabled(value);
}

void TRulesEditDlg::SetRule(TRule* rule) {
    Guard([&] { FEditor.Edit(rule); });
    ShowEdited();
}

TRule* TRulesEditDlg::EditedRule() {
    return FEditor.Edited();
}

std::string TRulesEditDlg::SelectedRuleName() const {
    QTreeWidgetItem* item = FTree->currentItem();
    while (item && item->parent())
        item = item->parent();
    return item ? TRuleEditor::NameOfRootText(item->text(0).toStdString()) : std::string();
}

void TRulesEditDlg::SelectRule(const std::string& name) {
    for (int i = 0; i < FTree->topLevelItemCount(); ++i)
        if (TRuleEditor::NameOfRootText(FTree->topLevelItem(i)->text(0).toStdString()) == name) {
            FTree->setCurrentItem(FTree->topLevelItem(i));
            return;
        }
}

void TRulesEditDlg::Rebuild() {
    FLoading = true;
    FTree->clear();
    auto it = PrivateEngine().Rules().Keys();
    while (it->HasNext()) {
        TRule* rule = PrivateEngine().Rules().Find(it->NextString());
        if (!rule) continue;
        auto* item = new QTreeWidgetItem(FTree, {Q(TRuleEditor::RootText(*rule))});
        for (const std::string& line : FEditor.ChildLines(*rule))
            new QTreeWidgetItem(item, {Q(line)});
    }
    FLoading = false;
    FClear->setEnabled(PrivateEngine().Rules().Count() > 0);
}

void TRulesEditDlg::FillTemplates() {
    FTemplates->clear();
    auto it = PrivateEngine().FactTemplates().Keys();
    while (it->HasNext()) {
        TRefPtr<IFactTemplate> t = PrivateEngine().FactTemplates().Find(it->NextString());
        if (!t) continue;
        auto* item = new QTreeWidgetItem(FTemplates, {Q(t->GetName())});
        if (!t->GetImplied())
            for (int32_t i = 0; i < t->SlotCount(); ++i)
                new QTreeWidgetItem(item, {Q(t->SlotAt(i)->GetName())});
    }
    FTemplates->sortItems(0, Qt::AscendingOrder);
}

void TRulesEditDlg::Prepare() {
    if (FPrepared) return;
    FPrepared = true;
    TInferenceEngine& e = PrivateEngine();
    if (FMultiEdit) Rebuild();
    e.OnAddRule = [this](TInferenceEngine*, TRule*) { Rebuild(); };
    e.OnRemoveRule = [this](TInferenceEngine*, TRule*) { Rebuild(); };
    e.OnNewFactTemplate = [this](TInferenceEngine*, IFactTemplate*) { FillTemplates(); };
    // The functions list follows the functions the engine gains and loses (a deffunction
    // loaded or undefined from here on).
    e.OnAddUserFunction = [this](TInferenceEngine*, IUserFunction* function) {
        if (!function) return;
        const int32_t at =
            TRuleEditor::InsertFunctionName(FFunctionNames, function->GetFunctionName());
        if (at >= 0) FFunctions->insertItem(at, Q(function->GetFunctionName()));
    };
    e.OnRemoveUserFunction = [this](TInferenceEngine*, IUserFunction* function) {
        if (!function) return;
        const int32_t at =
            TRuleEditor::EraseFunctionName(FFunctionNames, function->GetFunctionName());
        if (at >= 0) delete FFunctions->takeItem(at);
    };
    FillTemplates();
    FFunctionNames = FEditor.FunctionNames();
    FFunctions->clear();
    for (const std::string& name : FFunctionNames)
        FFunctions->addItem(Q(name));
    if (FMultiEdit && FTree->topLevelItemCount() > 0) FTree->setCurrentItem(FTree->topLevelItem(0));
}

void TRulesEditDlg::ShowLines() {
    for (TRuleSide side : {rsIf, rsThen}) {
        TGListBox* list = Lines(side);
        list->ClearLines();
        for (const std::string& line : FEditor.Lines[side])
            list->AddLine(Q(line));
    }
    FEdit->setVisible(false);
}

void TRulesEditDlg::ShowEdited() {
    FLoading = true;
    FName->setText(Q(FEditor.Name));
    FComment->setText(Q(FEditor.Comment));
    FSalience->setText(Q(FEditor.SalienceText));
    FOneShot->setChecked(FEditor.OneShot);
    ShowLines();
    if (FPages->currentIndex() == 1) {
        FIfMemo->setPlainText(Q(FEditor.Lines.Text(rsIf)));
        FThenMemo->setPlainText(Q(FEditor.Lines.Text(rsThen)));
    }
    FLoading = false;
}

void TRulesEditDlg::FieldsToEditor() {
    FEditor.Name = FName->text().toStdString();
    FEditor.Comment = FComment->text().toStdString();
    FEditor.SalienceText = FSalience->text().toStdString();
    FEditor.OneShot = FOneShot->isChecked();
    if (FPages->currentIndex() == 1) {
        FEditor.Lines.SetText(rsIf, FIfMemo->toPlainText().toStdString());
        FEditor.Lines.SetText(rsThen, FThenMemo->toPlainText().toStdString());
    }
}

void TRulesEditDlg::ChooseLine(TRuleSide side, int row) {
    FEditor.Lines.BeginEdit(side, row);
    FEdit->setVisible(true);
    FEdit->setText(Q(FEditor.Lines[side][static_cast<size_t>(FEditor.Lines.EditIndex())]));
    FEdit->setFocus();
}

void TRulesEditDlg::TypeLine(const QString& text) {
    if (!FEditor.Lines.Editing()) return;
    const TRuleSide side = FEditor.Lines.EditSide();
    const int32_t index = FEditor.Lines.EditIndex();
    FEditor.Lines.EditText(text.toStdString());
    TGListBox* list = Lines(side);
    while (list->count() < static_cast<int>(FEditor.Lines[side].size()))
        list->AddLine(QString());
    list->item(index)->setText(text);
    list->setCurrentRow(index);
}

bool TRulesEditDlg::AddRule() {
    FieldsToEditor();
    TRule* added = nullptr;
    if (!Guard([&] { added = FEditor.Add(); }) || !added) return false;
    const std::string name = added->RuleName();
    SelectRule(name);
    Guard([&] { FEditor.Edit(PrivateEngine().Rules().Find(name)); });
    ShowEdited();
    return true;
}

bool TRulesEditDlg::ReplaceRule() {
    const std::string selected = SelectedRuleName();
    if (selected.empty()) return false;
    FieldsToEditor();
    TRule* added = nullptr;
    if (!Guard([&] { added = FEditor.Replace(selected); }) || !added) return false;
    const std::string name = added->RuleName();
    SelectRule(name);
    return true;
}

void TRulesEditDlg::DeleteRule() {
    const std::string name = SelectedRuleName();
    if (name.empty()) return;
    Guard([&] { FEditor.Delete(name); });
}

// ---------------------------------------------------------------------------------------------
// Drag and drop

QMimeData* TRulesEditDlg::MimeFor(const TIEDragObject& drag) {
    auto* data = new QMimeData;
    data->setData(DragMimeType, QByteArray::fromStdString(drag.Encode()));
    data->setText(Q(drag.Text));
    return data;
}

QMimeData* TRulesEditDlg::DragDataOf(QWidget* source, int row, QTreeWidgetItem* item) {
    TIEDragObject drag;
    bool ok = true;
    if (source == FTree) {
        if (!item) return nullptr;
        // Any item of a rule drags the rule.
        QTreeWidgetItem* root = item;
        while (root->parent())
            root = root->parent();
        TRule* rule =
            PrivateEngine().Rules().Find(TRuleEditor::NameOfRootText(root->text(0).toStdString()));
        drag = rule ? TIEDragObject::ForRule(*rule)
                    : TIEDragObject::ForText(item->text(0).toStdString());
    } else if (source == FTemplates) {
        if (!item) return nullptr;
        QTreeWidgetItem* top = item->parent() ? item->parent() : item;
        TRefPtr<IFactTemplate> t = PrivateEngine().FactTemplates().Find(top->text(0).toStdString());
        if (t)
            drag = TIEDragObject::ForTemplate(*t, item->parent() ? item->text(0).toStdString()
                                                                 : std::string());
        else
            drag = TIEDragObject::ForText(item->text(0).toStdString());
    } else if (source == FFunctions) {
        QListWidgetItem* line = FFunctions->item(row);
        if (!line) return nullptr;
        ok = Guard([&] {
            drag = TIEDragObject::ForFunction(PrivateEngine(), line->text().toStdString());
        });
    } else if (source == FIf || source == FThen) {
        const TRuleSide side = source == FIf ? rsIf : rsThen;
        FieldsToEditor();
        const auto& lines = FEditor.Lines[side];
        if (row < 0 || static_cast<size_t>(row) >= lines.size() ||
            Trimmed(lines[static_cast<size_t>(row)]).empty())
            return nullptr;
        drag = TIEDragObject::ForLine(side, row, lines[static_cast<size_t>(row)]);
    } else {
        return nullptr;
    }
    return ok ? MimeFor(drag) : nullptr;
}

bool TRulesEditDlg::DragOf(const QMimeData* data, TIEDragObject& drag) {
    if (!data) return false;
    if (data->hasFormat(DragMimeType) &&
        TIEDragObject::Decode(data->data(DragMimeType).toStdString(), drag))
        return true;
    if (!data->hasText()) return false;
    drag = TIEDragObject::ForText(data->text().toStdString());
    return true;
}

bool TRulesEditDlg::DropOnList(TRuleSide side, const QMimeData* data, int row) {
    TIEDragObject drag;
    if (!DragOf(data, drag)) return false;
    FieldsToEditor();
    bool dropped = false;
    Guard([&] { dropped = FEditor.DropOnLines(drag, side, row, FVariables->isChecked()); });
    if (dropped) ShowLines();
    return dropped;
}

bool TRulesEditDlg::DropOnMemo(QPlainTextEdit* memo, const QMimeData* data) {
    TIEDragObject drag;
    if (!memo || !DragOf(data, drag)) return false;
    const TRuleSide side = memo == FThenMemo ? rsThen : rsIf;
    std::string text;
    if (!Guard([&] { text = FEditor.DropText(drag, side, FVariables->isChecked()); })) return true;
    if (text.empty()) return false;
    memo->textCursor().insertText(Q(text));
    return true;
}

bool TRulesEditDlg::DropOnLineEditor(const QMimeData* data, int position) {
    TIEDragObject drag;
    if (!FEditor.Lines.Editing() || !DragOf(data, drag)) return false;
    std::string text;
    const TRuleSide side = FEditor.Lines.EditSide();
    if (!Guard([&] { text = FEditor.DropText(drag, side, FVariables->isChecked()); })) return true;
    if (text.empty()) return false;
    // One line: a rule's text arrives with its lines joined.
    std::string line;
    for (const std::string& part : SplitLines(text)) {
        const std::string trimmed = Trimmed(part);
        if (trimmed.empty()) continue;
        if (!line.empty()) line += ' ';
        line += trimmed;
    }
    QString current = FEdit->text();
    position = std::clamp(position, 0, static_cast<int>(current.size()));
    current.insert(position, Q(line));
    FEdit->setText(current);
    FEdit->setCursorPosition(position + static_cast<int>(Q(line).size()));
    TypeLine(current);
    return true;
}

void TRulesEditDlg::PreparePopup(QTreeWidget* tree) {
    FPopupTree = tree;
    FPopupDelete->setVisible(tree == FTree);
}

bool TRulesEditDlg::HasPendingEdit() {
    FieldsToEditor();
    return FEditor.FieldsChanged();
}

bool TRulesEditDlg::KeepPendingEdit() {
    if (!HasPendingEdit()) return true;
    // One rule alone: OK applies the fields into it.
    if (!FMultiEdit) return Guard([this] { FEditor.Apply(); });
    TRule* kept = nullptr;
    if (!Guard([&] { kept = FEditor.KeepFields(); }) || !kept) return false;
    SelectRule(kept->RuleName());
    ShowEdited();
    return true;
}

bool TRulesEditDlg::ShowModal() {
    Prepare();
    RememberState();
    const bool ok = exec() == QDialog::Accepted;
    if (ok && !FMultiEdit) {
        FieldsToEditor();
        if (!Guard([this] { FEditor.Apply(); })) return false;
    }
    return ok;
}

} // namespace ie

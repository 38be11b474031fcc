// The console window and the Qt editor forms' factory (InstallQtEditorForms). The window only
// shows what TIEConsole holds and forwards every action to it; each action also has a twin
// shortcut that stays live while the action is hidden, so that the console, not the window,
// decides whether a hidden action may run. Errors become message boxes; a cancelled read does not.
#include "editors/ConsoleEditorForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <utility>

#include "editors/EditorFormBase.h"
#include "editors/FactEditorForm.h"
#include "editors/FactTemplateEditorForm.h"
#include "editors/GListBox.h"
#include "editors/RuleEditorForm.h"
#include "editors/TypeEditorForm.h"

namespace ie {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TIEConsoleDlg::TIEConsoleDlg(bool dialog, TInferenceEngine& engine, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Inference Engine Console Demo");
    resize(800, 600);
    setMinimumSize(200, 200);
    BuildWindow();
    FConsole = std::make_unique<TIEConsole>(dialog, engine);
    // Fill the window from what the console holds already, then follow it.
    for (int l = clAgenda; l <= clRules; ++l)
        for (const auto& line : FConsole->Lines(static_cast<TConsoleList>(l)))
            FLists[l]->AddLine(Q(line.Text), line.Key);
    for (const auto& text : FConsole->Output())
        FOutput->appendPlainText(Q(text));
    FConsole->SetView(this);
    ActionsChanged();
}

TIEConsoleDlg::~TIEConsoleDlg() {
    FConsole->SetView(nullptr);
}

QAction* TIEConsoleDlg::MakeAction(TConsoleAction id, const QString& caption,
                                   const QKeySequence& key, const QString& hint, int helpContext) {
    auto* a = new QAction(caption, this);
    if (!key.isEmpty()) a->setShortcut(key);
    a->setToolTip(hint.section('|', 0, 0));
    a->setStatusTip(LongHint(hint));
    a->setData(helpContext);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setWhatsThis(QString::number(helpContext));
    addAction(a);
    FActions[id] = a;
    // A hidden action's own shortcut is dead; its twin fires it while it is hidden, and the
    // console then decides by AllowCheats.
    if (!key.isEmpty()) {
        auto* twin = new QShortcut(key, this);
        twin->setContext(Qt::WindowShortcut);
        twin->setEnabled(false);
        connect(twin, &QShortcut::activated, a, &QAction::trigger);
        FHiddenShortcuts[id] = twin;
    }
    return a;
}

void TIEConsoleDlg::Guard(const std::function<void()>& work) {
    try {
        work();
    } catch (const EAbort&) {
        // Abandoned silently (a cancelled read).
    } catch (const std::exception& e) {
        QMessageBox::critical(this, windowTitle(), QString::fromUtf8(e.what()));
    }
    RunWhenIdle();
}

bool TIEConsoleDlg::StopFirst(const std::function<void()>& then) {
    if (!FConsole->Busy()) return false;
    // The rules fire below this very click's dispatch: the click takes effect once they end.
    FWhenIdle = then;
    FConsole->IEStop();
    return true;
}

void TIEConsoleDlg::RunWhenIdle() {
    if (!FWhenIdle || FConsole->Busy()) return;
    QTimer::singleShot(0, this, std::exchange(FWhenIdle, nullptr));
}

void TIEConsoleDlg::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TIEConsoleDlg::BuildWindow() {
    auto* top = new QVBoxLayout(this);
    auto* menus = new QMenuBar(this);
    top->setMenuBar(menus);
    auto* tools = new QToolBar(this);
    FTools = tools;
    top->addWidget(tools);

    using K = QKeySequence;
    namespace H = ConsoleHelp;
    MakeAction(caFileNew, "&New", K("Ctrl+N"), "New|Create a new file", H::New);
    MakeAction(caFileOpen, "&Open", K("Ctrl+O"), "Open|Open a file", H::Open);
    MakeAction(caFileSave, "&Save", K("Ctrl+S"), "Save|Save current file", H::Save);
    MakeAction(caFileSaveAs, "Save &As...", K(), "Save As|Save current file with different name",
               H::SaveAs);
    MakeAction(caFileView, "View Expert System", K(), "View|View Entire Expert System", 0);
    MakeAction(caFileExit, "E&xit", K(), "Exit|Exit application", H::Exit);
    MakeAction(caEditTypes, "Defined T&ypes...", K(),
               "Edit Types|Edit the defined types of the inference engine", 0);
    MakeAction(caEditFacts, "F&acts...", K("Ctrl+Alt+F"),
               "Edit Facts|Edit the fact base of the inference engine", H::Facts);
    MakeAction(caEditFactTemplates, "Fact &Templates...", K("Ctrl+T"),
               "Edit Fact Templates|Edit the Fact Templates of the inference engine",
               H::FactTemplates);
    MakeAction(caEditRules, "&Rules...", K("Ctrl+U"),
               "Edit Rules|Edit the Rules of the inference engine", H::Rules);
    MakeAction(caIEReset, "Rese&t", K("Ctrl+Alt+T"),
               "Reset Inference Engine|Reset Inference Engine for another execution", H::Reset);
    MakeAction(caIERun, "&Run", K("Ctrl+R"), "Execute Inference Engine", H::Run);
    MakeAction(caIEStep, "Run One &Step", K("Ctrl+Alt+R"), "Execute Inference Engine One Step",
               H::RunOneStep);
    MakeAction(caIEStop, "Sto&p", K("Ctrl+Alt+P"), "Stop|Stop the rules firing now", 0);

    // The standard clipboard actions, on whichever edit has the focus.
    enum TClip { clCut, clCopy, clPaste };
    auto clipboard = [this](const QString& caption, const char* key, const QString& hint, int help,
                            TClip op) {
        auto* a = new QAction(caption, this);
        a->setShortcut(QKeySequence(key));
        a->setToolTip(hint.section('|', 0, 0));
        a->setStatusTip(LongHint(hint));
        a->setWhatsThis(QString::number(help));
        connect(a, &QAction::triggered, this, [op] {
            QWidget* w = QApplication::focusWidget();
            if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
                if (op == clCut) p->cut();
                if (op == clCopy) p->copy();
                if (op == clPaste) p->paste();
            } else if (auto* l = qobject_cast<QLineEdit*>(w)) {
                if (op == clCut) l->cut();
                if (op == clCopy) l->copy();
                if (op == clPaste) l->paste();
            }
        });
        return a;
    };
    QAction* cut = clipboard("Cu&t", "Ctrl+X",
                             "Cut|Cuts the selection and puts it on the Clipboard", H::Cut, clCut);
    QAction* copy =
        clipboard("&Copy", "Ctrl+C", "Copy|Copies the selection and puts it on the Clipboard",
                  H::Copy, clCopy);
    QAction* paste =
        clipboard("&Paste", "Ctrl+V", "Paste|Inserts Clipboard contents", H::Paste, clPaste);

    auto* clearWindow = new QAction("Clear Output Window", this);
    clearWindow->setStatusTip("Clear output window (Inference Engine is unaffected)");
    auto* find = new QAction("&Find...", this);
    find->setShortcut(K("Ctrl+F"));
    find->setStatusTip("Search output window for text");
    auto* findAgain = new QAction("Find A&gain", this);
    findAgain->setShortcut(K("Ctrl+G"));
    findAgain->setStatusTip("Search again for text");
    findAgain->setEnabled(false);
    addAction(find);
    addAction(findAgain);

    FFileMenu = menus->addMenu("&File");
    FFileMenu->addActions(
        {FActions[caFileNew], FActions[caFileOpen], FActions[caFileSave], FActions[caFileSaveAs]});
    FFileMenu->addSeparator();
    FFileMenu->addAction(FActions[caFileView]);
    FFileMenu->addSeparator();
    FFileMenu->addAction(FActions[caFileExit]);
    QMenu* edit = menus->addMenu("&Edit");
    edit->addActions({cut, copy, paste, clearWindow});
    edit->addSeparator();
    edit->addActions({find, findAgain});
    edit->addSeparator();
    edit->addActions({FActions[caEditTypes], FActions[caEditFacts], FActions[caEditFactTemplates],
                      FActions[caEditRules]});
    FEngineMenu = menus->addMenu("E&ngine");
    FEngineMenu->addAction(FActions[caIEReset]);
    FEngineMenu->addSeparator();
    FEngineMenu->addActions({FActions[caIERun], FActions[caIEStep], FActions[caIEStop]});

    // The tool bar shows short captions, so that all thirteen buttons fit the window's own
    // width; the menus keep the full ones.
    const std::pair<QAction*, const char*> shortCaptions[] = {
        {FActions[caEditTypes], "Types"},
        {FActions[caEditFacts], "Facts"},
        {FActions[caEditFactTemplates], "Templates"},
        {FActions[caEditRules], "Rules"},
        {FActions[caIEStep], "Step"},
    };
    for (const auto& [action, caption] : shortCaptions)
        action->setIconText(caption);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->addActions({FActions[caFileNew], FActions[caFileOpen], FActions[caFileSave]});
    tools->addSeparator();
    tools->addActions({cut, copy, paste});
    tools->addSeparator();
    tools->addActions({FActions[caEditTypes], FActions[caEditFacts], FActions[caEditFactTemplates],
                       FActions[caEditRules]});
    tools->addSeparator();
    tools->addActions(
        {FActions[caIERun], FActions[caIEStep], FActions[caIEStop], FActions[caIEReset]});

    auto* split = new QSplitter(Qt::Horizontal, this);
    top->addWidget(split, 1);
    auto* left = new QWidget(split);
    auto* leftLayout = new QVBoxLayout(left);
    FOutput = new QPlainTextEdit(left);
    FOutput->setReadOnly(true);
    FOutput->setFont(QFont("Courier New"));
    FOutput->setToolTip("Display Area");
    FOutput->setStatusTip("Display Area");
    FOutput->setWhatsThis(QString::number(ConsoleHelp::Output));
    leftLayout->addWidget(FOutput, 3);
    auto* inputRow = new QHBoxLayout;
    FInput = new QPlainTextEdit(left);
    FInput->setToolTip("Enter commands");
    FInput->setStatusTip("Enter commands");
    FInput->setTabChangesFocus(true);
    FInput->installEventFilter(this);
    FInput->setWhatsThis(QString::number(ConsoleHelp::Input));
    inputRow->addWidget(FInput, 1);
    FSubmit = new QPushButton("&Submit", left);
    FSubmit->setDefault(true);
    FSubmit->setWhatsThis(QString::number(ConsoleHelp::Submit));
    inputRow->addWidget(FSubmit);
    leftLayout->addLayout(inputRow, 1);

    FViews = new QWidget(split);
    auto* viewsLayout = new QVBoxLayout(FViews);
    FViewSplitter = new QSplitter(Qt::Vertical, FViews);
    viewsLayout->addWidget(FViewSplitter);
    const char* titles[] = {"&Agenda", "Fa&cts", "Fact &Templates", "&Rules"};
    const char* hints[] = {
        "Agenda|Displays Rule Activations on the Inference Engine Agenda",
        "Fact Base|Displays Facts in the Inference Engine",
        "Fact Templates|Displays Fact Templates in the Inference Engine",
        "Rule Base|Displays Rules in the Inference Engine",
    };
    for (int i = 0; i < 4; ++i) {
        FBoxes[i] = new QGroupBox(titles[i], FViewSplitter);
        FBoxes[i]->setMinimumHeight(100);
        auto* l = new QVBoxLayout(FBoxes[i]);
        FLists[i] = new TGListBox(FBoxes[i]);
        FLists[i]->SetHorizontalScrollBar(true);
        FLists[i]->setToolTip(QString(hints[i]).section('|', 0, 0));
        FLists[i]->setStatusTip(LongHint(hints[i]));
        l->addWidget(FLists[i]);
    }
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    FOk = new QPushButton("OK", this);
    FCancel = new QPushButton("Cancel", this);
    auto* help = new QPushButton("&Help", this);
    help->setWhatsThis(QString::number(ConsoleHelp::HelpButton));
    FOk->setVisible(false);
    FCancel->setVisible(false);
    buttons->addWidget(FOk);
    buttons->addWidget(FCancel);
    buttons->addWidget(help);
    top->addLayout(buttons);
    FStatus = new QStatusBar(this);
    FStatus->setSizeGripEnabled(false);
    top->addWidget(FStatus);

    connect(FSubmit, &QPushButton::clicked, this, [this] { Submit(); });
    connect(FOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(clearWindow, &QAction::triggered, this, [this] { FConsole->ClearOutput(); });
    connect(FActions[caFileNew], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->FileNew(); }); });
    connect(FActions[caFileOpen], &QAction::triggered, this, [this] {
        if (!FConsole->Allowed(caFileOpen)) return;
        const QString name =
            ExecuteFileDialog(this, false, "Open", ConsoleFileFilter, "*.ie", FFileName);
        if (name.isEmpty()) return;
        FFileName = name;
        Guard([&] {
            // Gone before an error box shows.
            const TBusyCursor busy;
            FConsole->FileOpen(name.toStdString());
        });
    });
    auto save = [this](TConsoleAction id) {
        if (!FConsole->Allowed(id)) return;
        const QString name =
            ExecuteFileDialog(this, true, "Save As", ConsoleFileFilter, "*.ie", FFileName);
        if (name.isEmpty()) return;
        FFileName = name;
        Guard([&] { FConsole->FileSave(name.toStdString()); });
    };
    connect(FActions[caFileSave], &QAction::triggered, this, [save] { save(caFileSave); });
    connect(FActions[caFileSaveAs], &QAction::triggered, this, [save] { save(caFileSaveAs); });
    connect(FActions[caFileView], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->FileView(); }); });
    connect(FActions[caFileExit], &QAction::triggered, this, [this] { close(); });
    connect(FActions[caEditTypes], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->EditTypes(); }); });
    connect(FActions[caEditFacts], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->EditFacts(); }); });
    connect(FActions[caEditFactTemplates], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->EditFactTemplates(); }); });
    connect(FActions[caEditRules], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->EditRules(); }); });
    connect(FActions[caIEReset], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->IEReset(); }); });
    connect(FActions[caIERun], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->IERun(); }); });
    connect(FActions[caIEStep], &QAction::triggered, this,
            [this] { Guard([this] { FConsole->IEStep(); }); });
    connect(FActions[caIEStop], &QAction::triggered, this, [this] { FConsole->IEStop(); });
    connect(find, &QAction::triggered, this, [this, findAgain] {
        findAgain->setEnabled(true);
        if (ExecuteFindDialog()) Find(FFindText, FFindMatchCase);
    });
    connect(findAgain, &QAction::triggered, this, [this] { Find(FFindText, FFindMatchCase); });
}

bool TIEConsoleDlg::ExecuteFindDialog() {
    // Searching runs downward only; there is a match-case option but no whole-word one.
    QDialog dialog(this);
    dialog.setWindowTitle("Find");
    auto* layout = new QVBoxLayout(&dialog);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Fi&nd what:", &dialog));
    auto* what = new QLineEdit(FFindText, &dialog);
    row->addWidget(what, 1);
    layout->addLayout(row);
    auto* matchCase = new QCheckBox("Match &case", &dialog);
    matchCase->setChecked(FFindMatchCase);
    layout->addWidget(matchCase);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    buttons->addButton("&Find Next", QDialogButtonBox::AcceptRole)->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    FFindDialog = &dialog;
    const bool ok = dialog.exec() == QDialog::Accepted;
    FFindDialog = nullptr;
    if (!ok) return false;
    FFindText = what->text();
    FFindMatchCase = matchCase->isChecked();
    return true;
}

void TIEConsoleDlg::SetCaption(const std::string& caption) {
    setWindowTitle(Q(caption));
}

bool TIEConsoleDlg::ShowModal() {
    return exec() == QDialog::Accepted;
}

void TIEConsoleDlg::ShowModeless() {
    setModal(false);
    show();
}

void TIEConsoleDlg::accept() {
    if (StopFirst([this] { accept(); })) return;
    QDialog::accept();
}

void TIEConsoleDlg::reject() {
    if (StopFirst([this] { reject(); })) return;
    // A private copy that changed is only thrown away when the user says so; the live console
    // has nothing to throw away.
    if (FConsole->DialogMode() && FConsole->Modified()) {
        const QMessageBox::StandardButton choice = AskDiscardChanges(this);
        if (choice == QMessageBox::Save) {
            accept();
            return;
        }
        if (choice != QMessageBox::Discard) return;
    }
    QDialog::reject();
}

void TIEConsoleDlg::closeEvent(QCloseEvent* event) {
    if (StopFirst([this] { close(); })) {
        event->ignore();
        return;
    }
    // Live mode: the host engine gets its handlers back; the window is only hidden.
    FConsole->Close();
    QDialog::closeEvent(event);
}

bool TIEConsoleDlg::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        FStatus->showMessage(LongHint(static_cast<QStatusTipEvent*>(event)->tip()));
        return true;
    }
    return QDialog::event(event);
}

bool TIEConsoleDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FInput && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers breakLine = Qt::ShiftModifier | Qt::ControlModifier;
        if (enter && !(key->modifiers() & breakLine)) {
            FSubmit->click();
            return true;
        }
        if (enter) {
            FInput->insertPlainText("\n");
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TIEConsoleDlg::Submit() {
    const std::string input = FInput->toPlainText().toStdString();
    try {
        if (FConsole->Submit(input)) FInput->clear();
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        QMessageBox::critical(this, windowTitle(), QString::fromUtf8(e.what()));
    }
    RunWhenIdle();
}

bool TIEConsoleDlg::Find(const QString& what, bool matchCase) {
    QTextCursor cursor = FOutput->textCursor();
    const std::string text = FOutput->toPlainText().toStdString();
    const int64_t at = TIEConsole::FindText(text, cursor.selectionStart(),
                                            cursor.selectionEnd() - cursor.selectionStart(),
                                            what.toStdString(), matchCase);
    if (at < 0) {
        QMessageBox::information(this, windowTitle(), "Search string '" + what + "' not found");
        return false;
    }
    cursor.setPosition(static_cast<int>(at));
    cursor.setPosition(static_cast<int>(at) + static_cast<int>(what.size()),
                       QTextCursor::KeepAnchor);
    FOutput->setFocus();
    FOutput->setTextCursor(cursor);
    return true;
}

void TIEConsoleDlg::OutputAdded(const std::string& text) {
    FOutput->appendPlainText(Q(text));
}

void TIEConsoleDlg::OutputCleared() {
    FOutput->clear();
}

void TIEConsoleDlg::LineInserted(TConsoleList list, int32_t index, const std::string& text) {
    FLists[list]->InsertLine(index, Q(text), FConsole->Lines(list)[index].Key);
}

void TIEConsoleDlg::LineDeleted(TConsoleList list, int32_t index) {
    FLists[list]->DeleteLine(index);
}

void TIEConsoleDlg::ListCleared(TConsoleList list) {
    FLists[list]->ClearLines();
}

void TIEConsoleDlg::ActionsChanged() {
    for (int i = 0; i < ConsoleActionCount; ++i) {
        const auto id = static_cast<TConsoleAction>(i);
        FActions[i]->setVisible(FConsole->ActionVisible(id));
        FActions[i]->setEnabled(FConsole->ActionEnabled(id));
        if (FHiddenShortcuts[i])
            FHiddenShortcuts[i]->setEnabled(!FConsole->ActionVisible(id) &&
                                            FConsole->ActionEnabled(id));
    }
    FSubmit->setEnabled(!FConsole->Busy());
    FOk->setVisible(FConsole->ShowButtons());
    FCancel->setVisible(FConsole->ShowButtons());
    FFileMenu->menuAction()->setVisible(HasVisibleMenuItems(*FFileMenu));
    FEngineMenu->menuAction()->setVisible(HasVisibleMenuItems(*FEngineMenu));
}

void TIEConsoleDlg::ViewsChanged() {
    const TValidViews views = FConsole->ValidViews();
    FViews->setVisible(!views.Empty());
    const TValidView order[] = {vvAgenda, vvFacts, vvFactTemplates, vvRules};
    for (int i = 0; i < 4; ++i)
        FBoxes[i]->setVisible(views.Contains(order[i]));
}

// ---------------------------------------------------------------------------------------------

void InstallQtEditorForms() {
    TEditorFormFactory f;
    f.Facts = [] { return std::make_unique<TFactsEditDlg>(); };
    f.FactTemplates = [] { return std::make_unique<TFactTemplatesEditDlg>(); };
    f.Rules = [] { return std::make_unique<TRulesEditDlg>(); };
    f.Types = [] { return std::make_unique<TIETypesEditDlg>(); };
    f.Console = [](bool dialog, TInferenceEngine& engine) -> std::unique_ptr<IConsoleForm> {
        return std::make_unique<TIEConsoleDlg>(dialog, engine);
    };
    SetEditorFormFactory(std::move(f));
}

} // namespace ie

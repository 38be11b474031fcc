// The editor forms' common frame, file dialogs and printing. The form's private engine checks
// types statically and dynamically; Enter presses no button of a form, so it can neither close
// the form nor run a Delete or Clear; Escape, the close box and Cancel ask before discarding
// only when the engine text or the fields differ from what the form was shown with. Printing
// lays out through PrintLayout on a QPainter.
#include "editors/EditorFormBase.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QVBoxLayout>

#ifdef IE_HAVE_PRINTSUPPORT
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#endif

#include "editors/logic/FileFilter.h"
#include "editors/logic/PrintLayout.h"
#include "editors/logic/TypeFrameEditor.h"
#include "engine/model/IEHelperFunctions.h"

namespace ie {

bool HasVisibleMenuItems(const QMenu& menu) {
    return HasVisibleMenuItems(
        menu.actions(), [](const QAction* a) { return a->isVisible(); },
        [](const QAction* a) { return a->isSeparator(); });
}

void SetHelpContext(QObject* item, int context) {
    if (!item) return;
    item->setProperty("helpContext", context);
    if (auto* w = qobject_cast<QWidget*>(item))
        w->setWhatsThis(QString::number(context));
    else if (auto* a = qobject_cast<QAction*>(item))
        a->setWhatsThis(QString::number(context));
}

int HelpContext(const QObject* item) {
    return item ? item->property("helpContext").toInt() : 0;
}

QString LongHint(const QString& hint) {
    const qsizetype bar = hint.indexOf('|');
    return bar < 0 ? hint : hint.mid(bar + 1);
}

TEditorFormBase::TEditorFormBase(const QString& caption, int helpContext, QWidget* parent)
    : QDialog(parent), FEngine(new TInferenceEngine(nullptr)) {
    FEngine->SetTypeChecks(TTypeChecks{tcStatic, tcDynamic});
    setWindowTitle(caption);
    SetHelpContext(this, helpContext);
    auto* top = new QVBoxLayout(this);
    FBody = new QVBoxLayout;
    top->addLayout(FBody, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    FHelp = new QPushButton("&Help", this);
    SetHelpContext(FHelp, helpContext);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(FHelp);
    top->addLayout(buttons);
    FStatus = new QStatusBar(this);
    FHintPanel = new QLabel(this);
    FHintPanel->setMinimumWidth(300);
    FInfoPanel = new QLabel(this);
    // A long complaint wraps inside the panel; it never widens the form.
    FInfoPanel->setWordWrap(true);
    FInfoPanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    FStatus->addWidget(FHintPanel, 4);
    FStatus->addWidget(FInfoPanel, 5);
    top->addWidget(FStatus);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // The hints of the whole application while the form exists; the filter goes with the form.
    if (qApp) qApp->installEventFilter(this);
}

bool TEditorFormBase::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::StatusTip)
        FHintPanel->setText(LongHint(static_cast<QStatusTipEvent*>(event)->tip()));
    return QDialog::eventFilter(watched, event);
}

TBusyCursor::TBusyCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TBusyCursor::~TBusyCursor() {
    QApplication::restoreOverrideCursor();
}

void DropDefaultButtons(QWidget* widget) {
    // Enter finishes the field it is typed in; only a click (or Space on the focused button)
    // presses a button. A default button would take every Enter: "Clear" emptying the rule
    // being written, "Delete" removing the selected slot, OK dropping a refused field.
    for (QPushButton* button : widget->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

void TEditorFormBase::showEvent(QShowEvent* event) {
    // Before QDialog picks the first auto-default button as its default.
    DropDefaultButtons(this);
    QDialog::showEvent(event);
}

void TEditorFormBase::AskBeforeShortcut(QAction* action, std::function<QString()> question) {
    const QKeySequence key = action->shortcut();
    if (key.isEmpty()) return;
    action->setShortcut(QKeySequence());
    action->setToolTip(action->toolTip() + " (" + key.toString(QKeySequence::NativeText) + ")");
    auto* shortcut = new QShortcut(key, this);
    connect(shortcut, &QShortcut::activated, this, [this, action, question] {
        if (!action->isEnabled() || !action->isVisible()) return;
        const QString text = question();
        if (text.isEmpty()) return;
        QMessageBox box(QMessageBox::Question, windowTitle(), text,
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        box.setObjectName("confirmShortcut");
        if (box.exec() == QMessageBox::Yes) action->trigger();
    });
}

void TEditorFormBase::RememberState() {
    FShownState = FEngine->GetText();
}

bool TEditorFormBase::HasChanges() {
    return FShownState && (HasPendingEdit() || FEngine->GetText() != *FShownState);
}

void TEditorFormBase::accept() {
    const std::string complaint = EngineTypesKeepComplaint(*FEngine);
    if (!complaint.empty()) {
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(complaint));
        return;
    }
    QDialog::accept();
}

void TEditorFormBase::reject() {
    if (!HasChanges()) {
        QDialog::reject();
        return;
    }
    switch (AskDiscardChanges(this)) {
    case QMessageBox::Save:
        if (KeepPendingEdit()) accept();
        break;
    case QMessageBox::Discard:
        QDialog::reject();
        break;
    default:
        break;
    }
}

QMessageBox::StandardButton AskDiscardChanges(QWidget* parent) {
    QMessageBox box(QMessageBox::Question, parent ? parent->windowTitle() : QString(),
                    "The changes made here have not been applied. Keep them?",
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setObjectName("discardChanges");
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool TEditorFormBase::Guard(const std::function<void()>& work) {
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        QMessageBox::critical(this, windowTitle(), QString::fromUtf8(e.what()));
        return false;
    }
}

QAction* TEditorFormBase::MakeAction(const QString& caption, const QString& shortcut,
                                     const QString& hint, QToolBar* bar) {
    auto* action = new QAction(caption, this);
    if (!shortcut.isEmpty()) action->setShortcut(QKeySequence(shortcut));
    action->setToolTip(hint.section('|', 0, 0));
    action->setStatusTip(LongHint(hint));
    addAction(action);
    if (bar) bar->addAction(action);
    return action;
}

namespace {

// The file dialog that opens a file without an extension by its name: with a default suffix the
// dialog looks for the typed name with the suffix only, and says "File not found".
class TFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    void accept() override {
        const QStringList chosen = selectedFiles();
        if (acceptMode() == AcceptOpen && chosen.size() == 1 && !defaultSuffix().isEmpty()) {
            const std::string file = chosen.front().toStdString();
            if (ExistingFileName(file, defaultSuffix().toStdString()) != file)
                setDefaultSuffix(QString());
        }
        QFileDialog::accept();
    }
};

} // namespace

QString ExecuteFileDialog(QWidget* parent, bool save, const QString& title, std::string_view filter,
                          std::string_view defaultExtension, const QString& fileName) {
    TFileDialog dialog(parent, title, fileName);
    // Qt's own dialog shows each entry with its patterns, so that entries whose names say little
    // apart are told apart; a desktop's dialog may show the names alone.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QStringList entries;
    for (const std::string& entry : DialogNameFilters(filter))
        entries << QString::fromStdString(entry);
    dialog.setNameFilters(entries);
    dialog.setDefaultSuffix(QString::fromStdString(DefaultSuffix(defaultExtension)));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

QString TEditorFormBase::AskOpenFile(const QString& title, std::string_view filter,
                                     std::string_view extension) {
    const QString name = ExecuteFileDialog(this, false, title, filter, extension, FileName);
    if (!name.isEmpty()) FileName = name;
    return name;
}

QString TEditorFormBase::AskSaveFile(const QString& title, std::string_view filter,
                                     std::string_view extension) {
    const QString name = ExecuteFileDialog(this, true, title, filter, extension, FileName);
    if (!name.isEmpty()) FileName = name;
    return name;
}

#ifdef IE_HAVE_PRINTSUPPORT
namespace {

class TPainterCanvas : public IPrintCanvas {
public:
    explicit TPainterCanvas(QPrinter& printer) : FPrinter(printer) {}
    void BeginDoc(const std::string& title, int copies) override {
        FPrinter.setDocName(QString::fromStdString(title));
        FPrinter.setCopyCount(copies);
        FPainter.begin(&FPrinter);
    }
    void EndDoc() override { FPainter.end(); }
    void NewPage() override { FPrinter.newPage(); }
    int PageHeight() const override {
        return FPrinter.pageLayout().paintRectPixels(FPrinter.resolution()).height();
    }
    int TextHeight(const std::string& text) const override {
        return FPainter.fontMetrics().boundingRect(QString::fromStdString(text)).height();
    }
    void TextOut(int x, int y, const std::string& text) override {
        FPainter.drawText(x, y, QString::fromStdString(text));
    }

private:
    QPrinter& FPrinter;
    QPainter FPainter;
};

QPrinter& SharedPrinter() {
    static QPrinter printer;
    return printer;
}

} // namespace
#endif

bool TEditorFormBase::PrintLinesDialog(const QString& title,
                                       const std::vector<std::string>& lines) {
#ifdef IE_HAVE_PRINTSUPPORT
    QPrinter& printer = SharedPrinter();
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted) return false;
    TPainterCanvas canvas(printer);
    PrintLines(canvas, title.toStdString(), printer.copyCount(), lines);
    return true;
#else
    (void)title, (void)lines;
    QMessageBox::information(this, windowTitle(), "No printer is available");
    return false;
#endif
}

void TEditorFormBase::PrinterSetup() {
#ifdef IE_HAVE_PRINTSUPPORT
    QPageSetupDialog dialog(&SharedPrinter(), this);
    dialog.exec();
#endif
}

} // namespace ie

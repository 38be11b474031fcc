// TIEConsoleDlg: the console window around TIEConsole: output and input areas, the four live
// lists, the actions in menus and a tool bar, and OK/Cancel in dialog mode.
#pragma once

#include <QDialog>
#include <array>
#include <memory>

#include "editors/logic/ConsoleEditor.h"
#include "editors/logic/IEDialogs.h"

class QAction;
class QGroupBox;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QShortcut;
class QSplitter;
class QStatusBar;
class QToolBar;

namespace ie {

class TGListBox;

class TIEConsoleDlg : public QDialog, public IConsoleForm, private IConsoleView {
    Q_OBJECT
public:
    // CreateWithEngine.
    TIEConsoleDlg(bool dialog, TInferenceEngine& engine, QWidget* parent = nullptr);
    ~TIEConsoleDlg() override;

    // IConsoleForm
    TIEConsole& Console() override { return *FConsole; }
    void SetCaption(const std::string& caption) override;
    bool ShowModal() override;
    void ShowModeless() override;

    QPlainTextEdit* Output() const { return FOutput; }
    QPlainTextEdit* Input() const { return FInput; }
    TGListBox* List(TConsoleList list) const { return FLists[list]; }
    QAction* Action(TConsoleAction action) const { return FActions[action]; }
    QPushButton* SubmitButton() const { return FSubmit; }
    QToolBar* ToolBar() const { return FTools; }
    QStatusBar* StatusBar() const { return FStatus; }

    // Runs the input as commands (the Submit button and Enter).
    void Submit();
    // Searches the output for `what` after the selection.
    bool Find(const QString& what, bool matchCase);
    // The find dialog (text and match case); false when cancelled. While it is open,
    // FindDialog() is it.
    bool ExecuteFindDialog();
    QDialog* FindDialog() const { return FFindDialog; }
    QString FindText() const { return FFindText; }
    bool FindMatchCase() const { return FFindMatchCase; }

    // Escape, Exit, Cancel and the close box: a changed private copy is thrown away only when
    // the user says so.
    void reject() override;
    // OK while rules fire stops them and confirms once they stopped.
    void accept() override;

protected:
    // Closing while rules fire stops them; the window closes once they stopped.
    void closeEvent(QCloseEvent* event) override;
    // The status bar shows the long hint of the control under the mouse.
    bool event(QEvent* event) override;
    // Enter in the input box submits (the input does not take it); Shift+Enter or Ctrl+Enter
    // breaks the line.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // IConsoleView
    void OutputAdded(const std::string& text) override;
    void OutputCleared() override;
    void LineInserted(TConsoleList list, int32_t index, const std::string& text) override;
    void LineDeleted(TConsoleList list, int32_t index) override;
    void ListCleared(TConsoleList list) override;
    void ActionsChanged() override;
    void ViewsChanged() override;
    void ProcessMessages() override;

    QAction* MakeAction(TConsoleAction id, const QString& caption, const QKeySequence& key,
                        const QString& hint, int helpContext);
    void Guard(const std::function<void()>& work);
    // While rules fire: asks them to stop and keeps `then` for when they have (true).
    bool StopFirst(const std::function<void()>& then);
    // Runs what was kept for the end of the rules' firing.
    void RunWhenIdle();
    void BuildWindow();

    std::unique_ptr<TIEConsole> FConsole;
    QPlainTextEdit* FOutput = nullptr;
    QPlainTextEdit* FInput = nullptr;
    QPushButton* FSubmit = nullptr;
    QPushButton* FOk = nullptr;
    QPushButton* FCancel = nullptr;
    QToolBar* FTools = nullptr;
    QStatusBar* FStatus = nullptr;
    QWidget* FViews = nullptr;
    QSplitter* FViewSplitter = nullptr;
    std::array<QGroupBox*, 4> FBoxes{};
    std::array<TGListBox*, 4> FLists{};
    std::array<QAction*, ConsoleActionCount> FActions{};
    std::array<QShortcut*, ConsoleActionCount> FHiddenShortcuts{};
    QDialog* FFindDialog = nullptr;
    QMenu* FFileMenu = nullptr;
    QMenu* FEngineMenu = nullptr;
    QString FFileName;
    QString FFindText;
    bool FFindMatchCase = false;
    std::function<void()> FWhenIdle;
};

// Installs the Qt forms of the console and the editors as the dialog components' forms.
void InstallQtEditorForms();

} // namespace ie

// The common frame of the editor forms: a private engine owned by the form, a caption, OK,
// Cancel and Help buttons, a status bar whose first panel shows the application's hints while
// the form exists and whose second panel shows the editor's complaints, file dialogs with the
// editor's own extension first, and printing a table's text lines.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/InferenceEngine.h"

class QVBoxLayout;
class QStatusBar;
class QLabel;
class QPushButton;
class QAction;
class QToolBar;
class QMenu;

namespace ie {

// True when the menu holds a visible action that is not a separator: a menu with nothing to
// offer is hidden.
bool HasVisibleMenuItems(const QMenu& menu);

class TEditorFormBase : public QDialog {
    Q_OBJECT
public:
    TEditorFormBase(const QString& caption, int helpContext, QWidget* parent = nullptr);

    TInferenceEngine& PrivateEngine() { return *FEngine; }
    QStatusBar* StatusBar() const { return FStatus; }
    QLabel* HintPanel() const { return FHintPanel; }
    QLabel* InfoPanel() const { return FInfoPanel; }
    QPushButton* HelpButton() const { return FHelp; }
    // Runs work and shows what it raised.
    bool Guard(const std::function<void()>& work);
    // An action with a caption, shortcut and a hint ("short|long": the long part goes to the
    // status bar), added to the tool bar when one is given.
    QAction* MakeAction(const QString& caption, const QString& shortcut, const QString& hint,
                        QToolBar* bar = nullptr);

    // File dialogs on a "Name|pattern|..." filter that lists the editor's own files first, with
    // the editor's default extension. Empty when cancelled.
    QString AskOpenFile(const QString& title, std::string_view filter, std::string_view extension);
    QString AskSaveFile(const QString& title, std::string_view filter, std::string_view extension);
    // The file name Save uses without asking (set by Open and Save As).
    QString FileName;

    // The print dialog, then the lines as one job titled `title`; false when cancelled or
    // when no printer can be had.
    bool PrintLinesDialog(const QString& title, const std::vector<std::string>& lines);
    void PrinterSetup();

    // Whether the private engine differs from what it held when the form was shown (never for a
    // form that was not shown modally), or the fields hold an edit not yet applied to it.
    virtual bool HasChanges();
    // An edit in the fields that Add or Replace has not taken yet (a form without one: none).
    virtual bool HasPendingEdit() { return false; }
    // Applies that edit as Add or Replace would; false (with the reason shown) when refused.
    virtual bool KeepPendingEdit() { return true; }

    // OK: refused, with a message and everything the user entered kept, while a type of the
    // private engine could not be written back whole (a fuzzy term without points).
    void accept() override;

    // Escape, the close box and Cancel: with changes, asks whether to keep them (the fields as
    // they show and then OK), throw them away or go on editing; without, closes at once.
    void reject() override;

    // The action's shortcut asks first, naming what the action would change (`question`: empty
    // when there is nothing to act on): a key pressed by mistake must not delete, replace or add
    // unseen. A click on the action's button acts at once.
    void AskBeforeShortcut(QAction* action, std::function<QString()> question);

protected:
    // The private engine as shown: HasChanges compares with it. Called before the form runs.
    void RememberState();
    // The layout above the buttons that the form fills.
    QVBoxLayout* Body() const { return FBody; }
    bool eventFilter(QObject* watched, QEvent* event) override;
    // No button of an editor is a default button: Enter in a field finishes that field and
    // never presses a Delete or Clear beside it.
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<TInferenceEngine, TComponentDeleter> FEngine;
    QVBoxLayout* FBody = nullptr;
    QStatusBar* FStatus = nullptr;
    QLabel* FHintPanel = nullptr;
    QLabel* FInfoPanel = nullptr;
    QPushButton* FHelp = nullptr;
    std::optional<std::string> FShownState;
};

// Asks whether the changes made in a form are kept (Save), thrown away (Discard) or the form
// stays open (Cancel): Qt's usual buttons.
QMessageBox::StandardButton AskDiscardChanges(QWidget* parent);

// The busy cursor for as long as it lives: a long load (a rule file of megabytes) shows that the
// window is at work.
class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// Takes the default-button role from every push button in the widget: Enter in a field of it
// then presses no button.
void DropDefaultButtons(QWidget* widget);

// The long part of a hint: after its "|", or the whole hint.
QString LongHint(const QString& hint);

// An open (or save, prompting before it overwrites) dialog whose filter list is the
// "Name|pattern|..." filter in the dialog's form and which appends the default extension to a
// name typed without one; starts at fileName. The chosen file, or empty when cancelled.
QString ExecuteFileDialog(QWidget* parent, bool save, const QString& title, std::string_view filter,
                          std::string_view defaultExtension, const QString& fileName);

// The topic of a control or an action in the editors' help file (0 when none is set).
void SetHelpContext(QObject* item, int context);
int HelpContext(const QObject* item);

} // namespace ie

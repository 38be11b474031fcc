// Each form built offscreen (QT_QPA_PLATFORM=offscreen) on a real engine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QEnterEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#ifdef IE_HAVE_QTTEST
#include <QTest>
#endif

#include <cstdlib>
#include <fstream>
#include <tuple>

#include "editors/GEdit.h"
#include "editors/TypeEditorFrame.h"
#include "engine/match/IERule.h"

#include "editors/ConsoleEditorForm.h"
#include "editors/EditorFormBase.h"
#include "editors/FactEditorForm.h"
#include "editors/FactTemplateEditorForm.h"
#include "editors/GListBox.h"
#include "editors/RuleEditorForm.h"
#include "editors/TypeEditorForm.h"
#include "editors/logic/FileFilter.h"

namespace ie {
namespace {

QApplication* TheApp = nullptr;

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_editors_ui";
    static char* argv[] = {name, nullptr};
    if (!TheApp) TheApp = new QApplication(argc, argv);
    return *TheApp;
}

// The application goes before the process's exit handlers run, while the test module's input
// devices (children of the application) can still unregister themselves.
struct TAppEnvironment : ::testing::Environment {
    void TearDown() override {
        delete TheApp;
        TheApp = nullptr;
    }
};
const auto* const AppEnvironment = ::testing::AddGlobalTestEnvironment(new TAppEnvironment);

struct TFormsFixture : ::testing::Test {
    TFormsFixture() { App(); }
    std::unique_ptr<TInferenceEngine, TComponentDeleter> Host{new TInferenceEngine(nullptr)};
};

TEST_F(TFormsFixture, AMenuWithOnlySeparatorsAndHiddenActionsHasNothingVisible) {
    QMenu menu;
    EXPECT_FALSE(HasVisibleMenuItems(menu));
    QAction* hidden = menu.addAction("Hidden");
    hidden->setVisible(false);
    menu.addSeparator();
    EXPECT_FALSE(HasVisibleMenuItems(menu)) << "a separator alone does not count";
    hidden->setVisible(true);
    EXPECT_TRUE(HasVisibleMenuItems(menu));
}

TEST_F(TFormsFixture, ConsoleWindowMirrorsTheConsoleLists) {
    TIEConsoleDlg dlg(true, *Host);
    EXPECT_EQ(dlg.List(clFacts)->count(), static_cast<int>(dlg.Console().Lines(clFacts).size()));
    EXPECT_GE(dlg.List(clFacts)->count(), 1) << "the initial fact";
    dlg.Console().SetShowButtons(true);
    EXPECT_TRUE(dlg.Action(caFileExit)->isVisible());
    dlg.Console().PrintOut(&dlg.Console().Engine(), "t", "hello there");
    EXPECT_TRUE(dlg.Output()->toPlainText().contains("hello there"));
    EXPECT_TRUE(dlg.Find("THERE", false));
    dlg.Console().Engine().Facts().Clear();
    EXPECT_EQ(dlg.List(clFacts)->count(), 0);
}

void PressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

// The entries, suffix and mode of the file dialog that `open` opens, read while it is shown.
struct TShownFileDialog {
    QStringList Filters;
    QString Suffix;
    QFileDialog::AcceptMode Mode = QFileDialog::AcceptOpen;
    bool Seen = false;
};

TShownFileDialog InspectFileDialog(const std::function<void()>& open) {
    TShownFileDialog shown;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        shown = {dialog->nameFilters(), dialog->defaultSuffix(), dialog->acceptMode(), true};
        dialog->reject();
    });
    open();
    return shown;
}

// Answers the box that asks whether to discard a form's changes, once it shows; counts the boxes.
int DiscardBoxesSeen = 0;
void AnswerDiscardBox(QMessageBox::StandardButton answer) {
    QTimer::singleShot(0, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != "discardChanges") return;
        ++DiscardBoxesSeen;
        box->button(answer)->click();
    });
}

// The box a piece of work shows, empty when none.
QString BoxShownBy(const std::function<void()>& work) {
    QString text;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            box->accept();
        }
    });
    closer.start();
    work();
    closer.stop();
    return text;
}

// Escape on a console whose private copy changed asks first; Cancel keeps it open, Discard
// closes it. Unchanged, it closes at once.
TEST_F(TFormsFixture, ConsoleAsksBeforeEscapeDiscardsAChangedCopy) {
    DiscardBoxesSeen = 0;
    {
        TIEConsoleDlg unchanged(true, *Host);
        QTimer::singleShot(0, [&] {
            AnswerDiscardBox(QMessageBox::Discard);
            PressKey(&unchanged, Qt::Key_Escape);
        });
        EXPECT_FALSE(unchanged.ShowModal());
        QApplication::processEvents();
        EXPECT_EQ(DiscardBoxesSeen, 0);
    }
    TIEConsoleDlg dlg(true, *Host);
    dlg.Console().Submit("(assert (typed))");
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        AnswerDiscardBox(QMessageBox::Cancel);
        PressKey(&dlg, Qt::Key_Escape);
        stayedOpen = dlg.isVisible();
        AnswerDiscardBox(QMessageBox::Discard);
        PressKey(&dlg, Qt::Key_Escape);
    });
    EXPECT_FALSE(dlg.ShowModal());
    QApplication::processEvents();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(DiscardBoxesSeen, 2);
}

// The fact editor opens on its list, so that Enter or Space does not close it; Escape after an
// assertion asks, and Save keeps the change as OK does.
TEST_F(TFormsFixture, FactEditorOpensOnItsListAndAsksBeforeDiscardingFacts) {
    DiscardBoxesSeen = 0;
    TFactsEditDlg facts;
    facts.FormEngine().AssertString("(kept)");
    bool focusOnList = false, openAfterEnter = false;
    QTimer::singleShot(0, [&] {
        focusOnList = facts.focusWidget() == facts.FactList();
        if (QWidget* focus = facts.focusWidget()) {
            PressKey(focus, Qt::Key_Return);
            PressKey(focus, Qt::Key_Space);
        }
        openAfterEnter = facts.isVisible();
        facts.FormEngine().AssertString("(added)");
        AnswerDiscardBox(QMessageBox::Save);
        PressKey(&facts, Qt::Key_Escape);
    });
    EXPECT_TRUE(facts.ShowModal()) << "Save closes as OK does";
    QApplication::processEvents();
    EXPECT_TRUE(focusOnList);
    EXPECT_TRUE(openAfterEnter);
    EXPECT_EQ(DiscardBoxesSeen, 1);
}

// A slot renamed onto a name its template has already: the error keeps the editor open with the
// name selected, and the Enter that applied the name does not close it.
TEST_F(TFormsFixture, TemplateEditorKeepsARefusedSlotNameOpenForCorrection) {
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    templates.NewSlot();
    templates.SlotNameEdit()->setText("size");
    ASSERT_TRUE(templates.ApplySlot());
    templates.NewSlot();
    bool open = false, selected = false;
    QString error;
    int boxes = 0;
    // Closes the error box as the user does.
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (error.isEmpty()) error = box->text();
            ++boxes;
            box->accept();
        }
    });
    closer.start();
    QTimer::singleShot(0, [&] {
        templates.SlotNameEdit()->setFocus();
        templates.SlotNameEdit()->setText("size");
        PressKey(templates.SlotNameEdit(), Qt::Key_Return);
        open = templates.isVisible();
        selected = templates.SlotNameEdit()->selectedText() == "size" &&
                   templates.focusWidget() == templates.SlotNameEdit();
        templates.done(QDialog::Rejected);
    });
    templates.ShowModal();
    closer.stop();
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(boxes, 1) << "one complaint";
    EXPECT_TRUE(open);
    EXPECT_TRUE(selected);
}

// With a slot and its type frame shown the template editor still fits an 800 x 600 screen with
// its buttons in view. With IE_SCREENSHOT_DIR set the picture is saved there.
TEST_F(TFormsFixture, TemplateEditorWithASlotFitsASmallScreen) {
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    templates.NewSlot();
    templates.resize(780, 560);
    templates.show();
    QApplication::processEvents();
    EXPECT_LE(templates.minimumSizeHint().width(), 800);
    EXPECT_LE(templates.minimumSizeHint().height(), 560);
    EXPECT_LE(templates.width(), 800);
    EXPECT_LE(templates.height(), 600);
    for (QPushButton* button : templates.findChildren<QPushButton*>()) {
        if (button->text() != "OK" && button->text() != "Cancel") continue;
        const QPoint corner = button->mapTo(&templates, QPoint(button->width(), button->height()));
        EXPECT_LE(corner.y(), templates.height()) << button->text().toStdString();
        EXPECT_LE(corner.x(), templates.width()) << button->text().toStdString();
    }
    if (const char* dir = std::getenv("IE_SCREENSHOT_DIR"))
        templates.grab().save(QString::fromLocal8Bit(dir) + "/template-editor.png");
}

// A range that the slot's default does not fit is refused naming the value and the reason, and
// the default is the field marked, not the range.
TEST_F(TFormsFixture, TemplateEditorMarksTheDefaultThatARangeChangeRefuses) {
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    templates.NewSlot();
    templates.MultiSlotCheck()->setChecked(false);
    templates.DefaultEdit()->setText("5");
    ASSERT_TRUE(templates.ApplySlot());
    templates.show();
    QLineEdit* max = templates.Frame()->RangeMax();
    const QString refused = BoxShownBy([&] {
        for (QCheckBox* check : templates.findChildren<QCheckBox*>())
            if (check->text() == "Limit Range") check->click();
        max->setText("3");
        emit max->textEdited("3");
        emit max->editingFinished();
        QApplication::processEvents();
    });
    EXPECT_TRUE(refused.startsWith("Invalid default slot value: 5 (")) << refused.toStdString();
    EXPECT_TRUE(refused.contains("3.0000")) << refused.toStdString();
    const auto red = [](const QLineEdit* edit) {
        return edit->palette().color(QPalette::Base) == QColor(Qt::red);
    };
    EXPECT_TRUE(red(templates.DefaultEdit()));
    EXPECT_FALSE(red(max));
    EXPECT_FALSE(red(templates.SlotNameEdit()));
}

TEST_F(TFormsFixture, ConsoleEnterSubmitsAndShiftEnterBreaksTheLine) {
    TIEConsoleDlg dlg(true, *Host);
    EXPECT_TRUE(dlg.SubmitButton()->isDefault());
    dlg.Input()->setPlainText("(+ 1 2)");
    PressKey(dlg.Input(), Qt::Key_Return);
    EXPECT_TRUE(dlg.Input()->toPlainText().isEmpty()) << "submitted and cleared";
    EXPECT_TRUE(dlg.Output()->toPlainText().contains("(+ 1 2)"));
    EXPECT_TRUE(dlg.Output()->toPlainText().contains("3"));
    dlg.Input()->setPlainText("(+ 2 2)");
    dlg.Input()->moveCursor(QTextCursor::End);
    PressKey(dlg.Input(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(dlg.Input()->toPlainText(), "(+ 2 2)\n") << "a line break, no submission";
    EXPECT_FALSE(dlg.Output()->toPlainText().contains("(+ 2 2)"));
    PressKey(dlg.Input(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(dlg.Input()->toPlainText().isEmpty()) << "the keypad's Enter submits too";
    EXPECT_TRUE(dlg.Output()->toPlainText().contains("4"));
}

TEST_F(TFormsFixture, ConsoleFileDialogsListEveryFilterWithTheDefaultExtension) {
    TIEConsoleDlg dlg(true, *Host);
    const QStringList expected{"Inference Engine and CLIPS Files (*.ie *.clp)",
                               "Inference Engine Files (*.ie)", "CLIPS Files (*.clp)",
                               "All Files (*)"};
    const TShownFileDialog open = InspectFileDialog([&] { dlg.Action(caFileOpen)->trigger(); });
    ASSERT_TRUE(open.Seen);
    EXPECT_EQ(open.Filters, expected);
    EXPECT_EQ(open.Suffix, "ie");
    EXPECT_EQ(open.Mode, QFileDialog::AcceptOpen);
    const TShownFileDialog save = InspectFileDialog([&] { dlg.Action(caFileSave)->trigger(); });
    ASSERT_TRUE(save.Seen);
    EXPECT_EQ(save.Filters, expected);
    EXPECT_EQ(save.Suffix, "ie");
    EXPECT_EQ(save.Mode, QFileDialog::AcceptSave);
}

TEST_F(TFormsFixture, EditorFileDialogsKeepTheirLastFilter) {
    TFactsEditDlg facts;
    const TShownFileDialog shown =
        InspectFileDialog([&] { facts.AskOpenFile("Load Facts File...", FactsFileFilter, "ief"); });
    ASSERT_TRUE(shown.Seen);
    ASSERT_EQ(shown.Filters.size(), 5);
    EXPECT_EQ(shown.Filters.front(), "Inference Engine Facts File (*.ief)");
    EXPECT_EQ(shown.Filters.back(), "Any File (*)");
    EXPECT_EQ(shown.Suffix, "ief");
}

TEST_F(TFormsFixture, ConsoleRunActionsAreDisabledOnceTheAgendaIsEmpty) {
    Host->ExecuteCommand("(defrule r1 (go) => (printout t \"fired\" crlf))", true);
    TIEConsoleDlg dlg(true, *Host);
    EXPECT_FALSE(dlg.Action(caIERun)->isEnabled());
    dlg.Console().Submit("(assert (go))");
    EXPECT_TRUE(dlg.Action(caIERun)->isEnabled());
    EXPECT_TRUE(dlg.Action(caIEStep)->isEnabled());
    dlg.Action(caIERun)->trigger();
    EXPECT_TRUE(dlg.Output()->toPlainText().contains("fired"));
    EXPECT_FALSE(dlg.Action(caIERun)->isEnabled());
    EXPECT_FALSE(dlg.Action(caIEStep)->isEnabled());
}

TEST_F(TFormsFixture, ConsoleStatusBarShowsTheLongHintUnderTheMouse) {
    TIEConsoleDlg dlg(true, *Host);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(dlg.List(clFacts), &enter);
    EXPECT_EQ(dlg.StatusBar()->currentMessage(), "Displays Facts in the Inference Engine");
    QApplication::sendEvent(dlg.Input(), &enter);
    EXPECT_EQ(dlg.StatusBar()->currentMessage(), "Enter commands");
}

TEST_F(TFormsFixture, ConsoleToolBarFitsTheWindowsOwnSize) {
    TIEConsoleDlg dlg(true, *Host);
    dlg.resize(800, 600);
    dlg.show();
    QApplication::processEvents();
    ASSERT_EQ(dlg.width(), 800);
    for (QAction* action : dlg.ToolBar()->actions()) {
        if (action->isSeparator()) continue;
        QWidget* button = dlg.ToolBar()->widgetForAction(action);
        ASSERT_TRUE(button) << action->text().toStdString();
        EXPECT_TRUE(button->isVisible()) << action->text().toStdString() << " is in the overflow";
    }
    EXPECT_TRUE(dlg.ToolBar()->widgetForAction(dlg.Action(caIEReset))->isVisible());
    dlg.hide();
}

#ifdef IE_HAVE_QTTEST
TEST_F(TFormsFixture, HiddenRunActionsShortcutRunsOnlyWithCheats) {
    Host->ExecuteCommand("(defrule r1 (go) => (printout t \"fired\" crlf))", true);
    for (bool cheats : {true, false}) {
        TIEConsoleDlg dlg(true, *Host);
        TValidActions actions = TValidActions::FromBits(4095);
        actions.Exclude(vaIERun);
        dlg.Console().AllowCheats = cheats;
        dlg.Console().SetValidActions(actions);
        ASSERT_FALSE(dlg.Action(caIERun)->isVisible());
        dlg.Console().Submit("(assert (go))");
        ASSERT_TRUE(dlg.Console().ActionEnabled(caIERun));
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        QTest::keyClick(&dlg, Qt::Key_R, Qt::ControlModifier);
        EXPECT_EQ(dlg.Output()->toPlainText().contains("fired"), cheats) << cheats;
        EXPECT_EQ(dlg.Console().Engine().ActivationCount(), cheats ? 0 : 1);
        dlg.hide();
    }
}

TEST_F(TFormsFixture, FindDialogOffersMatchCase) {
    TIEConsoleDlg dlg(true, *Host);
    dlg.Console().PrintOut(&dlg.Console().Engine(), "t", "alpha Beta beta");
    QTimer::singleShot(0, [&] {
        QDialog* find = dlg.FindDialog();
        ASSERT_TRUE(find);
        find->findChild<QLineEdit*>()->setText("beta");
        find->findChild<QCheckBox*>()->setChecked(true);
        find->accept();
    });
    ASSERT_TRUE(dlg.ExecuteFindDialog());
    EXPECT_EQ(dlg.FindText(), "beta");
    EXPECT_TRUE(dlg.FindMatchCase());
    ASSERT_TRUE(dlg.Find(dlg.FindText(), dlg.FindMatchCase()));
    // The lower-case word, not the capitalised one before it.
    EXPECT_EQ(dlg.Output()->textCursor().selectionStart(), 11);
}
#endif

TEST_F(TFormsFixture, EditorFormsAreBuiltOnTheirPrivateEngines) {
    TFactsEditDlg facts;
    EXPECT_NE(&facts.FormEngine(), Host.get());
    facts.Sort(foID);
    EXPECT_EQ(facts.FactList()->count(), facts.FormEngine().Facts().Count());
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    EXPECT_EQ(templates.Tree()->topLevelItemCount(),
              templates.FormEngine().FactTemplates().Count());
    TRulesEditDlg rules;
    rules.Rebuild();
    EXPECT_EQ(rules.Tree()->topLevelItemCount(), 0);
    TIETypesEditDlg types;
    types.NewType();
    types.Rebuild();
    EXPECT_EQ(types.Tree()->topLevelItemCount(), 0);
}

TEST_F(TFormsFixture, NewTemplateNamesCountFromTheTemplatesPresent) {
    TFactTemplatesEditDlg templates;
    const int32_t n = templates.FormEngine().FactTemplates().Count();
    templates.NewTemplate();
    EXPECT_TRUE(
        templates.FormEngine().FactTemplates().Find("FactTemplateName" + std::to_string(n)));
    templates.NewTemplate();
    EXPECT_TRUE(
        templates.FormEngine().FactTemplates().Find("FactTemplateName" + std::to_string(n + 1)));
}

TEST_F(TFormsFixture, ListBoxShowsTheBarOnlyWhenALineIsWiderThanTheList) {
    TGListBox list;
    list.resize(100, 100);
    list.SetHorizontalScrollBar(true);
    list.AddLine("short");
    const int narrow = list.WidestExtent();
    list.AddLine(QString(200, 'x'));
    EXPECT_GT(list.WidestExtent(), narrow);
    list.DeleteLine(1);
    EXPECT_EQ(list.WidestExtent(), narrow);
}

TEST_F(TFormsFixture, FactFormBuildsAFactInTheGridAndAddsIt) {
    TFactsEditDlg facts;
    facts.FormEngine().ExecuteCommand("(deftemplate point (slot x (default 0)))", true);
    facts.Prepare();
    facts.BasedOn()->setCurrentText("point");
    ASSERT_TRUE(facts.NewAction()->isEnabled());
    facts.NewFact();
    ASSERT_EQ(facts.Grid()->rowCount(), 2) << "ID and one slot, below the header of headings";
    EXPECT_EQ(facts.Grid()->horizontalHeaderItem(0)->text(), "Slot");
    EXPECT_EQ(facts.Grid()->horizontalHeaderItem(1)->text(), "Value");
    EXPECT_EQ(facts.Grid()->item(0, 0)->text(), "ID");
    EXPECT_EQ(facts.Grid()->item(0, 1)->text(), "-1");
    EXPECT_EQ(facts.Grid()->item(1, 0)->text(), "x");
    EXPECT_LE(facts.Grid()->rowHeight(1), facts.Grid()->fontMetrics().height() * 2)
        << "one line of text high";
    facts.Grid()->item(1, 1)->setText("5");
    const int before = facts.FactList()->count();
    facts.AddFact();
    EXPECT_EQ(facts.FactList()->count(), before + 1);
    EXPECT_NE(facts.Grid()->item(0, 1)->text(), "-1");
    facts.DeleteFact();
    EXPECT_EQ(facts.FactList()->count(), before);
}

TEST_F(TFormsFixture, TemplateFormAppliesTheSlotPanel) {
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    templates.NewSlot();
    ASSERT_FALSE(templates.SlotPanel()->isHidden());
    templates.SlotNameEdit()->setText("size");
    templates.MultiSlotCheck()->setChecked(false);
    templates.DefaultEdit()->setText("3");
    ASSERT_TRUE(templates.ApplySlot());
    TRefPtr<IFactTemplate> t =
        templates.FormEngine().FactTemplates().Find(templates.NameEdit()->text().toStdString());
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->HasSlot("size"));
    EXPECT_EQ(t->SlotByName("size")->GetSlotDefault()->AsInteger(), 3);

    // Below the slot: its kinds and its default; choosing one of them chooses the slot.
    auto slotItem = [&]() -> QTreeWidgetItem* {
        for (int i = 0; i < templates.Tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* top = templates.Tree()->topLevelItem(i);
            for (int j = 0; j < top->childCount(); ++j)
                if (top->child(j)->text(0) == "size") return top->child(j);
        }
        return nullptr;
    };
    QTreeWidgetItem* slot = slotItem();
    ASSERT_TRUE(slot);
    QStringList details;
    for (int k = 0; k < slot->childCount(); ++k)
        details << slot->child(k)->text(0);
    EXPECT_TRUE(details.contains("Default: 3")) << details.join(" / ").toStdString();
    ASSERT_EQ(details.filter("Type: ").size(), 1) << details.join(" / ").toStdString();
    EXPECT_FALSE(details.filter("Type: ")[0].contains("Multislot"));
    templates.NewSlot();
    EXPECT_NE(templates.SlotNameEdit()->text(), "size");
    slot = slotItem();
    ASSERT_TRUE(slot && slot->childCount() > 0);
    templates.Tree()->setCurrentItem(slot->child(0));
    EXPECT_EQ(templates.SlotNameEdit()->text(), "size");
}

TEST_F(TFormsFixture, RuleFormAddsAndRefusesADuplicate) {
    TRulesEditDlg rules;
    rules.Prepare();
    rules.NameEdit()->setText("r1");
    rules.ChooseLine(rsIf, 0);
    rules.TypeLine("(a)");
    rules.ChooseLine(rsThen, 0);
    rules.TypeLine("(assert (b))");
    EXPECT_EQ(rules.Lines(rsIf)->count(), 2) << "an empty line stays for the next condition";
    ASSERT_TRUE(rules.AddRule());
    EXPECT_TRUE(rules.FormEngine().Rules().Find("r1"));
    EXPECT_EQ(rules.Tree()->topLevelItemCount(), 1);
    EXPECT_GT(rules.Functions()->count(), 0);
    rules.Search()->setText("asser");
    emit rules.Search()->textEdited("asser");
    ASSERT_TRUE(rules.Functions()->currentItem());
    EXPECT_EQ(rules.Functions()->currentItem()->text(), "assert");
}

TEST_F(TFormsFixture, RuleFormTakesDropsFromTheTreesAndTheFunctions) {
    TRulesEditDlg rules;
    rules.FormEngine().ExecuteCommand("(deftemplate point (slot x))");
    rules.Prepare();
    QTreeWidgetItem* point = nullptr;
    for (int i = 0; i < rules.TemplatesTree()->topLevelItemCount(); ++i)
        if (rules.TemplatesTree()->topLevelItem(i)->text(0) == "point")
            point = rules.TemplatesTree()->topLevelItem(i);
    ASSERT_TRUE(point && point->childCount() == 1);

    // A slot dragged from the templates tree, dropped on the IF list by a real drop event.
    std::unique_ptr<QMimeData> data(rules.DragDataOf(rules.TemplatesTree(), -1, point->child(0)));
    ASSERT_TRUE(data && data->hasFormat(TRulesEditDlg::DragMimeType));
    QWidget* viewport = rules.Lines(rsIf)->viewport();
    // A drop reaches only the widget that accepted the drag's move.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_EQ(rules.Lines(rsIf)->count(), 2);
    EXPECT_EQ(rules.Lines(rsIf)->item(0)->text(), "(point (x ))");
    EXPECT_EQ(rules.Editor().Lines[rsIf][0], "(point (x ))");

    // A function onto the THEN list, then that line dragged over to the IF list.
    const int at =
        rules.Functions()->row(rules.Functions()->findItems("assert", Qt::MatchExactly).value(0));
    ASSERT_GE(at, 0);
    data.reset(rules.DragDataOf(rules.Functions(), at));
    ASSERT_TRUE(rules.DropOnList(rsThen, data.get(), -1));
    ASSERT_EQ(rules.Lines(rsThen)->count(), 2);
    EXPECT_EQ(rules.Lines(rsThen)->item(0)->text().left(8), "(assert ");
    data.reset(rules.DragDataOf(rules.Lines(rsThen), 0));
    ASSERT_TRUE(rules.DropOnList(rsIf, data.get(), 0));
    EXPECT_EQ(rules.Lines(rsThen)->count(), 1) << "the line left the THEN list";
    EXPECT_EQ(rules.Lines(rsIf)->item(0)->text().left(8), "(assert ");

    // Plain text into a memo at its caret, and a template into the line editor.
    QPlainTextEdit* memo = rules.Memo(rsIf);
    memo->setPlainText("(a)");
    memo->moveCursor(QTextCursor::End);
    QMimeData text;
    text.setText(" (b)");
    ASSERT_TRUE(rules.DropOnMemo(memo, &text));
    EXPECT_EQ(memo->toPlainText(), "(a) (b)");
    rules.ChooseLine(rsThen, 0);
    data.reset(rules.DragDataOf(rules.TemplatesTree(), -1, point));
    ASSERT_TRUE(rules.DropOnLineEditor(data.get(), 0));
    EXPECT_EQ(rules.LineEditor()->text(), "(point (x ))");
    EXPECT_EQ(rules.Editor().Lines[rsThen][0], "(point (x ))");
}

TEST_F(TFormsFixture, RuleFormPopupShowsDeleteOnlyOnTheRulesTree) {
    TRulesEditDlg rules;
    rules.FormEngine().ExecuteCommand("(defrule r1 (a) =>) (deftemplate point (slot x))");
    rules.Prepare();
    ASSERT_EQ(rules.Tree()->topLevelItemCount(), 1);
    rules.PreparePopup(rules.TemplatesTree());
    EXPECT_FALSE(rules.PopupDelete()->isVisible());
    rules.PopupExpand()->trigger();
    for (int i = 0; i < rules.TemplatesTree()->topLevelItemCount(); ++i)
        EXPECT_TRUE(rules.TemplatesTree()->topLevelItem(i)->isExpanded());
    EXPECT_FALSE(rules.Tree()->topLevelItem(0)->isExpanded()) << "only the tree it was opened on";
    rules.PopupCollapse()->trigger();
    EXPECT_FALSE(rules.TemplatesTree()->topLevelItem(0)->isExpanded());
    rules.PreparePopup(rules.Tree());
    EXPECT_TRUE(rules.PopupDelete()->isVisible());
    rules.Tree()->setCurrentItem(rules.Tree()->topLevelItem(0));
    rules.PopupDelete()->trigger();
    EXPECT_FALSE(rules.FormEngine().Rules().Find("r1"));
    EXPECT_EQ(rules.Tree()->topLevelItemCount(), 0);
}

TEST_F(TFormsFixture, TemplateFormPopupOffersSixItemsAndExpandsTheTree) {
    TFactTemplatesEditDlg templates;
    templates.FormEngine().ExecuteCommand("(deftemplate point (slot x))");
    templates.Rebuild();
    QStringList captions;
    QAction* expand = nullptr;
    for (QAction* action : templates.PopupMenu()->actions()) {
        if (action->isSeparator()) continue;
        captions << action->text();
        if (action->text() == "&Expand All") expand = action;
    }
    EXPECT_EQ(captions,
              (QStringList{"Cu&t", "&Copy", "&Delete", "&Rename", "&Expand All", "&Collapse All"}));
    ASSERT_TRUE(expand);
    const int before = templates.FormEngine().FactTemplates().Count();
    for (QAction* action : templates.PopupMenu()->actions())
        if (action->text() == "&Delete") action->trigger();
    EXPECT_EQ(templates.FormEngine().FactTemplates().Count(), before) << "Delete does nothing";
    expand->trigger();
    for (int i = 0; i < templates.Tree()->topLevelItemCount(); ++i)
        if (templates.Tree()->topLevelItem(i)->childCount() > 0) {
            EXPECT_TRUE(templates.Tree()->topLevelItem(i)->isExpanded());
        }
}

TEST_F(TFormsFixture, TypeFrameShowsPagesByKindAndBuildsShapesByClicks) {
    TIETypesEditDlg types;
    types.NewType();
    TIETypeEditorFrame* frame = types.Frame();
    frame->FuzzyCheck()->click();
    EXPECT_TRUE(frame->Editor().Fuzzy());
    EXPECT_TRUE(frame->Pages()->isTabVisible(3));
    EXPECT_FALSE(frame->Pages()->isTabVisible(4));
    frame->Editor().StoreMaxRange("10");
    frame->Editor().NewTerm();
    frame->ShowTerms();
    ASSERT_EQ(frame->Terms()->count(), 1);
    frame->Terms()->setCurrentRow(0);
    frame->ChooseShape(1);
    EXPECT_EQ(frame->Expression()->text(), "(tri ");
    frame->ChartClick(1, 0);
    frame->ChartClick(2, 1);
    EXPECT_EQ(frame->Expression()->text(), "(tri 1.0000 2.0000 ");
    // The third click completes the shape and makes it the term's set.
    frame->ChartClick(3, 0);
    EXPECT_EQ(frame->Expression()->text(), "(tri 1.0000 2.0000 3.0000 )");
    TRefPtr<IFuzzySet> set = frame->Editor().Term(frame->Terms()->item(0)->text().toStdString());
    ASSERT_TRUE(set);
    EXPECT_NEAR(set->GetMembership(2.0), 1.0, 1e-4);
    EXPECT_NEAR(set->GetMembership(1.0), 0.0, 1e-4);
    frame->FuzzyCheck()->click();
    EXPECT_FALSE(frame->Editor().Fuzzy());
    EXPECT_TRUE(frame->Pages()->isTabVisible(4));
}

// Every label whose caption carries an accelerator has a buddy, so the marker is the
// toolkit's underline and Alt with the letter focuses the control; none shows a literal "&".
void ExpectAcceleratorsHaveBuddies(QWidget& form) {
    for (QLabel* label : form.findChildren<QLabel*>()) {
        const QString text = label->text();
        if (!text.contains('&') || text.contains("&&") || label->textFormat() == Qt::RichText)
            continue;
        EXPECT_TRUE(label->buddy()) << text.toStdString() << " shows its marker";
    }
}

TEST_F(TFormsFixture, LabelAcceleratorsBelongToTheirControls) {
    TRulesEditDlg rules;
    ExpectAcceleratorsHaveBuddies(rules);
    auto labelled = [](QWidget& form, const char* caption) -> QWidget* {
        for (QLabel* label : form.findChildren<QLabel*>())
            if (label->text() == caption) return label->buddy();
        return nullptr;
    };
    EXPECT_EQ(labelled(rules, "&IF"), rules.Lines(rsIf));
    EXPECT_EQ(labelled(rules, "T&HEN"), rules.Lines(rsThen));
    EXPECT_EQ(labelled(rules, "&Rules"), rules.Tree());
    TFactsEditDlg facts;
    ExpectAcceleratorsHaveBuddies(facts);
    EXPECT_EQ(labelled(facts, "&Based On"), facts.BasedOn());
    TIETypesEditDlg types;
    ExpectAcceleratorsHaveBuddies(types);
    EXPECT_EQ(labelled(types, "&Type:"), types.Frame()->NameEdit());
    TFactTemplatesEditDlg templates;
    ExpectAcceleratorsHaveBuddies(templates);
    EXPECT_EQ(labelled(templates, "&Type:"), templates.Frame()->NameEdit()->parentWidget())
        << "the drop-down of type names, when the type may be changed";
}

TEST_F(TFormsFixture, SalienceMaskShowsBlanksNotUnderscores) {
    TRulesEditDlg rules;
    rules.SalienceEdit()->setText("200");
    EXPECT_FALSE(rules.SalienceEdit()->displayText().contains('_'))
        << rules.SalienceEdit()->displayText().toStdString();
    EXPECT_EQ(rules.SalienceEdit()->text().trimmed(), "200");
    rules.SalienceEdit()->setText("-5");
    EXPECT_EQ(rules.SalienceEdit()->text().trimmed(), "-5");
}

TEST_F(TFormsFixture, TypesEditorFollowsTheEnginesEventsAndEnablesItsActions) {
    TIETypesEditDlg types;
    types.Rebuild();
    EXPECT_FALSE(types.ClearAction()->isEnabled()) << "no types";
    EXPECT_FALSE(types.DeleteAction()->isEnabled());
    EXPECT_FALSE(types.ReplaceAction()->isEnabled());
    // The pop-up offers the tool bar's actions with Expand All and Collapse All.
    QStringList popup;
    for (QAction* a : types.PopupMenu()->actions())
        if (!a->isSeparator()) popup << a->text();
    EXPECT_EQ(popup,
              (QStringList{"New", "Add", "Replace", "Delete", "Clear", "Open", "Save", "Save As",
                           "Print", "Printer Setup", "Expand All", "Collapse All"}));
    // Add with the name cleared says that a name is needed.
    types.NewType();
    types.Frame()->NameEdit()->setText("");
    emit types.Frame()->NameEdit()->textEdited("");
    QString refused;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            refused = box->text();
            box->accept();
        }
    });
    types.AddType();
    QApplication::processEvents();
    EXPECT_EQ(refused.toStdString(), TypeNameMissingMessage);
    EXPECT_EQ(types.Tree()->topLevelItemCount(), 0);
    types.NewType();
    types.Frame()->NameEdit()->setText("speed");
    emit types.Frame()->NameEdit()->textEdited("speed");
    types.AddType();
    ASSERT_EQ(types.Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(types.Tree()->currentItem()->text(0), "speed");
    EXPECT_TRUE(types.ClearAction()->isEnabled());
    EXPECT_TRUE(types.DeleteAction()->isEnabled());
    EXPECT_TRUE(types.ReplaceAction()->isEnabled());
    // Types that reach the engine by other ways appear and go by its events alone.
    types.FormEngine().ExecuteCommand("(deftype colour extends (type SYMBOL))", true);
    ASSERT_EQ(types.Tree()->topLevelItemCount(), 2);
    EXPECT_EQ(types.Tree()->topLevelItem(0)->text(0), "colour") << "sorted";
    types.FormEngine().DefinedTypes().RemoveType("speed");
    ASSERT_EQ(types.Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(types.Tree()->topLevelItem(0)->text(0), "colour");
    types.Tree()->setCurrentItem(types.Tree()->topLevelItem(0));
    types.DeleteType();
    EXPECT_EQ(types.Tree()->topLevelItemCount(), 0);
    EXPECT_FALSE(types.ClearAction()->isEnabled());
    EXPECT_FALSE(types.DeleteAction()->isEnabled());
}

TEST_F(TFormsFixture, FuzzyChartHasRoomForItsAxes) {
    TIETypesEditDlg types;
    types.FormEngine().ExecuteCommand(
        "(deftype temperature extends (type FUZZY) (range 0 100) (values (term cold ((0 1) (50 "
        "0)))))",
        true);
    types.Rebuild();
    types.show();
    types.Tree()->setCurrentItem(types.Tree()->topLevelItem(0));
    QTabWidget* pages = types.Frame()->Pages();
    for (int i = 0; i < pages->count(); ++i)
        if (pages->tabText(i) == "&Fuzzy") pages->setCurrentIndex(i);
    QApplication::processEvents();
    EXPECT_GE(types.Frame()->ChartView()->width(), TIETypeEditorFrame::ChartMinimumWidth);
    EXPECT_GT(types.Frame()->Chart()->plotArea().width(), 200);
    types.hide();
}

TEST_F(TFormsFixture, TemplateTreeListsImpliedTemplatesAndEnablesByTheSelection) {
    TFactTemplatesEditDlg templates;
    templates.FormEngine().Clear();
    templates.FormEngine().AssertString("(colour red)");
    templates.Rebuild();
    QStringList names;
    for (int i = 0; i < templates.Tree()->topLevelItemCount(); ++i)
        names << templates.Tree()->topLevelItem(i)->text(0);
    EXPECT_TRUE(names.contains("colour")) << "an ordered fact's implied template";
    EXPECT_TRUE(names.contains("Initial-Fact"));
    EXPECT_EQ(names.size(), templates.FormEngine().FactTemplates().Count());
    templates.Tree()->setCurrentItem(nullptr);
    EXPECT_FALSE(templates.NewSlotButton()->isEnabled()) << "nothing selected";
    EXPECT_FALSE(templates.DeleteButton()->isEnabled());
    EXPECT_FALSE(templates.Properties()->isHidden()) << "templates exist";
    templates.Tree()->setCurrentItem(templates.Tree()->topLevelItem(0));
    EXPECT_TRUE(templates.NewSlotButton()->isEnabled());
    EXPECT_TRUE(templates.DeleteButton()->isEnabled());
    EXPECT_EQ(HelpContext(templates.NewSlotButton()), 42);
    EXPECT_EQ(HelpContext(templates.DeleteButton()), 52);
    EXPECT_EQ(HelpContext(templates.Properties()), 92);
    templates.FormEngine().FactTemplates().Clear();
    templates.Rebuild();
    EXPECT_TRUE(templates.Properties()->isHidden()) << "no template to show";
}

TEST_F(TFormsFixture, RuleFormFunctionsFollowTheEngine) {
    TRulesEditDlg rules;
    rules.Prepare();
    auto names = [&] {
        QStringList list;
        for (int i = 0; i < rules.Functions()->count(); ++i)
            list << rules.Functions()->item(i)->text();
        return list;
    };
    const int before = rules.Functions()->count();
    ASSERT_FALSE(names().contains("double-it"));
    rules.FormEngine().ExecuteCommand("(deffunction double-it (?x) (* 2 ?x))", true);
    const QStringList added = names();
    ASSERT_EQ(added.size(), before + 1);
    const qsizetype at = added.indexOf("double-it");
    ASSERT_GE(at, 0);
    EXPECT_LT(added[at - 1].compare(added[at], Qt::CaseInsensitive), 0) << "in sorted order";
    EXPECT_GT(added[at + 1].compare(added[at], Qt::CaseInsensitive), 0);
    rules.Search()->setText("double-i");
    emit rules.Search()->textEdited("double-i");
    ASSERT_TRUE(rules.Functions()->currentItem());
    EXPECT_EQ(rules.Functions()->currentItem()->text(), "double-it") << "search finds it";
    rules.FormEngine().ExecuteCommand("(undeffunction double-it)", true);
    EXPECT_FALSE(names().contains("double-it"));
    EXPECT_EQ(rules.Functions()->count(), before);
}

// Answers a confirmation box that a shortcut shows, once it shows; counts the boxes and keeps
// the question.
int ConfirmBoxesSeen = 0;
QString ConfirmQuestion;
void AnswerConfirmBox(QMessageBox::StandardButton answer) {
    // Waits for the box: events run before the key that shows it is pressed.
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != "confirmShortcut") return;
        ++ConfirmBoxesSeen;
        ConfirmQuestion = box->text();
        poll->stop();
        poll->deleteLater();
        box->button(answer)->click();
    });
    poll->start();
}

void ShowActive(QWidget& form) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
}

// A control key on the form, active again after the last box closed.
void ControlKey(QWidget& form, Qt::Key key) {
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, key, Qt::ControlModifier);
    QApplication::processEvents();
}

// Enter in any field of the rule editor presses no button: the rule being written stays, and
// no button of any editor is a default button.
TEST_F(TFormsFixture, EnterInARuleEditorFieldKeepsTheRuleBeingWritten) {
    TRulesEditDlg rules;
    rules.Prepare();
    ShowActive(rules);
    for (QPushButton* button : rules.findChildren<QPushButton*>())
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
    rules.NameEdit()->setText("keep-me");
    rules.ChooseLine(rsIf, 0);
    rules.TypeLine("(a)");
    for (QWidget* field : std::initializer_list<QWidget*>{rules.NameEdit(), rules.LineEditor(),
                                                          rules.Search(), rules.SalienceEdit()}) {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(rules.NameEdit()->text(), "keep-me");
        EXPECT_TRUE(rules.isVisible());
    }
    rules.FieldsToEditor();
    EXPECT_EQ(rules.Editor().Lines[rsIf][0], "(a)");
    for (QWidget* form : std::initializer_list<QWidget*>{new TFactsEditDlg, new TIETypesEditDlg,
                                                         new TFactTemplatesEditDlg}) {
        form->show();
        QApplication::processEvents();
        for (QPushButton* button : form->findChildren<QPushButton*>())
            EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
        delete form;
    }
}

// Enter in the template editor's Name field, or in a slot name that another slot has, removes
// neither the template nor the slot.
TEST_F(TFormsFixture, EnterInTheTemplateEditorDeletesNothing) {
    TFactTemplatesEditDlg templates;
    templates.FormEngine().ExecuteCommand("(deftemplate mnem-metadata (slot name) (slot system))",
                                          true);
    templates.Rebuild();
    // Shown as the console shows it, nothing selected yet; then the user picks the template.
    ShowActive(templates);
    templates.SelectItem("mnem-metadata");
    templates.NameEdit()->setFocus();
    EXPECT_EQ(BoxShownBy([&] { QTest::keyClick(templates.NameEdit(), Qt::Key_Return); }), "");
    TRefPtr<IFactTemplate> t = templates.FormEngine().FactTemplates().Find("mnem-metadata");
    ASSERT_TRUE(t) << "Enter in Name removed the template";
    templates.SelectItem("mnem-metadata", "system");
    templates.SlotNameEdit()->setFocus();
    templates.SlotNameEdit()->setText("name");
    const QString error = BoxShownBy([&] {
        QTest::keyClick(templates.SlotNameEdit(), Qt::Key_Return);
        QApplication::processEvents();
    });
    EXPECT_FALSE(error.isEmpty()) << "the taken name is refused";
    EXPECT_TRUE(t->SlotByName("system")) << "the renamed slot is still there";
    EXPECT_TRUE(t->SlotByName("name"));
    templates.hide();
}

// Ctrl+D, Ctrl+R and Ctrl+A ask first, naming what they would change; No changes nothing. In
// single-rule mode, where the rule table is out of sight, they do nothing.
TEST_F(TFormsFixture, EditorShortcutsAskBeforeDeletingReplacingOrAdding) {
    ConfirmBoxesSeen = 0;
    {
        TRulesEditDlg rules;
        rules.FormEngine().ExecuteCommand("(defrule r1 (a) => (assert (b)))", true);
        rules.Prepare();
        ShowActive(rules);
        rules.Tree()->setFocus();
        AnswerConfirmBox(QMessageBox::No);
        ControlKey(rules, Qt::Key_D);
        QApplication::processEvents();
        EXPECT_EQ(ConfirmQuestion, "Delete rule \"r1\"?");
        EXPECT_TRUE(rules.FormEngine().Rules().Find("r1"));
        AnswerConfirmBox(QMessageBox::No);
        ControlKey(rules, Qt::Key_R);
        EXPECT_EQ(ConfirmQuestion, "Replace rule \"r1\" by the rule being edited?");
        AnswerConfirmBox(QMessageBox::No);
        rules.NameEdit()->setText("r2");
        ControlKey(rules, Qt::Key_A);
        EXPECT_EQ(ConfirmQuestion, "Add rule \"r2\"?");
        EXPECT_EQ(rules.FormEngine().Rules().Count(), 1);
        AnswerConfirmBox(QMessageBox::Yes);
        ControlKey(rules, Qt::Key_A);
        EXPECT_EQ(rules.FormEngine().Rules().Count(), 2) << "Yes adds";
        EXPECT_EQ(ConfirmBoxesSeen, 4);
        rules.hide();
    }
    {
        TRulesEditDlg single;
        single.FormEngine().ExecuteCommand("(defrule r1 (a) => (assert (b)))", true);
        single.SetMultiEdit(false);
        single.SetRule(single.FormEngine().Rules().Find("r1"));
        single.Prepare();
        ShowActive(single);
        const int seen = ConfirmBoxesSeen;
        for (Qt::Key key : {Qt::Key_D, Qt::Key_R, Qt::Key_A})
            ControlKey(single, key);
        QApplication::processEvents();
        EXPECT_EQ(ConfirmBoxesSeen, seen);
        EXPECT_EQ(single.FormEngine().Rules().Count(), 1);
        single.hide();
    }
    {
        TFactsEditDlg facts;
        const int32_t id = facts.FormEngine().AssertString("(kept)");
        facts.Prepare();
        facts.FactList()->setCurrentRow(facts.FactList()->IndexOfKey(id));
        ShowActive(facts);
        AnswerConfirmBox(QMessageBox::No);
        ControlKey(facts, Qt::Key_D);
        EXPECT_EQ(ConfirmQuestion, QString("Delete fact f-%1?").arg(id));
        EXPECT_GE(facts.FormEngine().Facts().IndexOfID(id), 0);
        facts.hide();
    }
}

// The keep-changes prompt comes for an edit still in the fields, the Cancel button asks as
// Escape does, and Save keeps what the fields show: a fact's value typed without Replace and a
// rule's salience reach the host.
TEST_F(TFormsFixture, KeepChangesKeepsWhatTheFieldsShowAndCancelAsks) {
    InstallQtEditorForms();
    Host->ExecuteCommand("(deftemplate point (slot x (default 0)))"
                         "(defrule r1 (point (x ?x)) => (assert (seen ?x)))",
                         true);
    const int32_t id = Host->AssertString("(point (x 1))");
    DiscardBoxesSeen = 0;
    TFactsDialog facts(nullptr);
    facts.SetEngine(Host.get());
    QTimer::singleShot(0, [id] {
        auto* form = qobject_cast<TFactsEditDlg*>(QApplication::activeModalWidget());
        if (!form) return;
        form->FactList()->setCurrentRow(form->FactList()->IndexOfKey(id));
        form->Grid()->item(1, 1)->setText("9");
        AnswerDiscardBox(QMessageBox::Save);
        for (QPushButton* button : form->findChildren<QPushButton*>())
            if (button->text() == "Cancel") button->click();
    });
    EXPECT_TRUE(facts.Execute()) << "Save closes as OK does";
    EXPECT_EQ(DiscardBoxesSeen, 1) << "Cancel asked";
    bool nine = false, one = false;
    for (const auto& fact : Host->Facts().Items()) {
        nine = nine || fact->GetText() == "(point (x 9))";
        one = one || fact->GetText() == "(point (x 1))";
    }
    EXPECT_TRUE(nine) << "the typed value was kept";
    EXPECT_FALSE(one) << "in place of the fact it was typed over";

    TRulesDialog rules(nullptr);
    rules.SetEngine(Host.get());
    QTimer::singleShot(0, [] {
        auto* form = qobject_cast<TRulesEditDlg*>(QApplication::activeModalWidget());
        if (!form) return;
        form->SalienceEdit()->setText("7");
        AnswerDiscardBox(QMessageBox::Save);
        PressKey(form, Qt::Key_Escape);
    });
    EXPECT_TRUE(rules.Execute());
    EXPECT_EQ(DiscardBoxesSeen, 2);
    ASSERT_TRUE(Host->Rules().Find("r1"));
    EXPECT_EQ(Host->Rules().Find("r1")->Salience(), 7);
}

// OK with a fuzzy type whose term New made and nothing filled is refused naming the type and
// the term; every type entered stays in the editor, and once the term has points OK writes
// them all back.
TEST_F(TFormsFixture, TypesEditorRefusesOkWithAnEmptyFuzzyTermAndKeepsTheTypes) {
    InstallQtEditorForms();
    TDefinedTypesDialog types(nullptr);
    types.SetEngine(Host.get());
    QString refused;
    int openAfterOk = 0, kept = 0;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<TIETypesEditDlg*>(QApplication::activeModalWidget());
        if (!form) return;
        auto enter = [&](const QString& name) {
            form->NewType();
            form->Frame()->NameEdit()->setText(name);
            emit form->Frame()->NameEdit()->textEdited(name);
        };
        enter("speed");
        form->Frame()->FuzzyCheck()->click();
        for (QPushButton* button : form->Frame()->findChildren<QPushButton*>())
            if (button->text() == "&New") button->click();
        form->AddType();
        enter("count");
        form->AddType();
        refused = BoxShownBy([&] { form->accept(); });
        openAfterOk = form->isVisible();
        kept = form->FormEngine().DefinedTypes().Count();
        TRefPtr<IIEDefinedType> speed = form->FormEngine().DefinedTypes().Find("speed");
        if (speed) {
            form->Frame()->SetCType(speed);
            form->Frame()->Editor().SetTermExpression("Term1", "((20 0) (30 1))", true);
        }
        form->accept();
    });
    EXPECT_TRUE(types.Execute());
    EXPECT_EQ(refused.toStdString(),
              "Fuzzy term \"Term1\" of type \"speed\" has no points: give it an expression or "
              "delete it");
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(kept, 2);
    EXPECT_TRUE(Host->DefinedTypes().Find("speed"));
    EXPECT_TRUE(Host->DefinedTypes().Find("count")) << "the type added beside it is kept too";
}

// Add that adds nothing says why: a type without a name, a fact that is there already.
TEST_F(TFormsFixture, AddThatAddsNothingSaysWhy) {
    TIETypesEditDlg types;
    types.Rebuild();
    EXPECT_EQ(BoxShownBy([&] { types.AddType(); }), TypeNameMissingMessage);
    EXPECT_EQ(types.FormEngine().DefinedTypes().Count(), 0);
    TFactsEditDlg facts;
    const int32_t id = facts.FormEngine().AssertString("(kept 1)");
    facts.Prepare();
    facts.FactList()->setCurrentRow(facts.FactList()->IndexOfKey(id));
    const int before = facts.FactList()->count();
    const QString refused = BoxShownBy([&] { facts.AddFact(); });
    EXPECT_TRUE(refused.startsWith("Fact already exists: (kept 1")) << refused.toStdString();
    EXPECT_EQ(facts.FactList()->count(), before);
}

// Tab from a Min field reaches its Max: applying the field does not move the focus elsewhere;
// unlimited bounds are shown empty, not as the largest integers.
TEST_F(TFormsFixture, TemplateEditorTabFromMinReachesMax) {
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    templates.NewSlot();
    TIETypeEditorFrame* frame = templates.Frame();
    EXPECT_EQ(frame->RangeMin()->text(), "");
    EXPECT_EQ(frame->RangeMax()->text(), "");
    EXPECT_EQ(frame->CardinalityMax()->text(), "");
    ShowActive(templates);
    for (auto [page, min, max] :
         {std::tuple{2, frame->RangeMin(), frame->RangeMax()},
          std::tuple{1, frame->CardinalityMin(), frame->CardinalityMax()}}) {
        frame->Pages()->setCurrentIndex(page);
        min->setFocus();
        QTest::keyClicks(min, "1");
        QTest::keyClick(min, Qt::Key_Tab);
        QApplication::processEvents();
        EXPECT_EQ(QApplication::focusWidget(), max) << page;
    }
    templates.hide();
}

// A long complaint in the status bar wraps: the template editor does not grow wider for it.
TEST_F(TFormsFixture, LongComplaintsWrapInsteadOfWideningTheForm) {
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    templates.NewSlot();
    templates.show();
    QApplication::processEvents();
    const int width = templates.width();
    const int least = templates.minimumSizeHint().width();
    templates.InfoPanel()->setText(QString("Invalid default slot value: ") +
                                   QString("a-very-long-value ").repeated(40));
    QApplication::processEvents();
    EXPECT_EQ(templates.width(), width);
    EXPECT_LE(templates.minimumSizeHint().width(), least);
    templates.hide();
}

// Loading a rule file in the console shows the busy cursor while it reads, and only then.
TEST_F(TFormsFixture, ConsoleLoadShowsTheBusyCursor) {
    const std::string path = ::testing::TempDir() + "console-busy.clp";
    {
        std::ofstream out(path);
        out << "(deftemplate point (slot x))\n";
    }
    TIEConsoleDlg dlg(true, *Host);
    TInferenceEngine& engine = dlg.Console().Engine();
    bool busyWhileReading = false;
    auto shown = engine.OnNewFactTemplate;
    engine.OnNewFactTemplate = [&](TInferenceEngine* sender, IFactTemplate* t) {
        const QCursor* cursor = QApplication::overrideCursor();
        busyWhileReading = busyWhileReading || (cursor && cursor->shape() == Qt::WaitCursor);
        if (shown) shown(sender, t);
    };
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialog->selectFile(QString::fromStdString(path));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    dlg.Action(caFileOpen)->trigger();
    EXPECT_TRUE(engine.FactTemplates().Find("point"));
    EXPECT_TRUE(busyWhileReading);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "restored after the load";
    engine.OnNewFactTemplate = shown;
}

// A host with something of every kind an editor shows.
void FillHost(TInferenceEngine& host) {
    host.ExecuteCommand("(deftype level extends (type FUZZY) (range 0 10)"
                        " (values (term low ((0 1) (5 0))) (term high ((5 0) (10 1)))))"
                        "(deftype colour extends (type SYMBOL) (allowed-symbols red green))"
                        "(deftemplate sensor (slot name) (slot hue (type colour)) (multislot v))"
                        "(defrule watch \"looks\" (declare (salience 5)) (sensor (name ?n))"
                        " (test (neq ?n x)) => (assert (seen ?n)))",
                        true);
    host.AssertString("(sensor (name a) (hue red) (v 1 2))");
    host.AssertString("(seen a)");
}

// Opens each editor on the host through its component and presses Escape at once: an editor
// whose content is what it opened with closes without asking.
TEST_F(TFormsFixture, EscapeOnAnUntouchedEditorClosesWithoutAsking) {
    InstallQtEditorForms();
    FillHost(*Host);
    TFactsDialog facts(nullptr);
    TFactTemplatesDialog templates(nullptr);
    TRulesDialog rules(nullptr);
    TDefinedTypesDialog types(nullptr);
    TIEDialogComponent* components[] = {&facts, &templates, &rules, &types};
    for (TIEDialogComponent* component : components) {
        SCOPED_TRACE(std::string(component->ClassName()));
        DiscardBoxesSeen = 0;
        component->SetEngine(Host.get());
        QTimer::singleShot(0, [] {
            QWidget* form = QApplication::activeModalWidget();
            if (!form) return;
            // The user looks at every item and passes through every field without typing.
            for (QTreeWidget* tree : form->findChildren<QTreeWidget*>()) {
                QList<QTreeWidgetItem*> items;
                for (QTreeWidgetItemIterator it(tree); *it; ++it)
                    items << *it;
                for (QTreeWidgetItem* item : items) {
                    tree->setCurrentItem(item);
                    for (QLineEdit* edit : form->findChildren<QLineEdit*>())
                        if (edit->isVisible()) emit edit->editingFinished();
                }
            }
            for (QListWidget* list : form->findChildren<QListWidget*>())
                for (int row = 0; row < list->count() && list->isVisible(); ++row)
                    list->setCurrentRow(row);
            AnswerDiscardBox(QMessageBox::Discard);
            PressKey(form, Qt::Key_Escape);
        });
        EXPECT_FALSE(component->Execute());
        QApplication::processEvents();
        EXPECT_EQ(DiscardBoxesSeen, 0);
    }
}

} // namespace
} // namespace ie

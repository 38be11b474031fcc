#include "app/CorvaneMain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QtCharts/QChartView>

#include <algorithm>
#include <memory>

#include "QtTestApplication.h"

// Fontconfig keeps a cache for the life of the process that the leak checker would report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace ie {
namespace {

class CorvaneMainTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QApplication* made = test::StartOffscreenApplication()) App = made;
    }

    static void TearDownTestSuite() {
        delete App;
        App = nullptr;
    }

    void TearDown() override { Window.reset(); }

    void SetUp() override {
        // 1 March 2024, 9:30:00.000 in the morning.
        Window = std::make_unique<TfrmCorvane>(45352 + 9.5 / 24);
        Window->show();
        QApplication::processEvents();
    }

    static QApplication* App;
    std::unique_ptr<TfrmCorvane> Window;
};

QApplication* CorvaneMainTest::App = nullptr;

TEST_F(CorvaneMainTest, BuildsThirtyChartsAndTheLists) {
    EXPECT_EQ(Window->ChartCount(), 30);
    const TMnemonics& m = Window->Simulation().Mnemonics();
    for (int i = 0; i < m.Count(); ++i)
        ASSERT_NE(Window->ChartOf(m[i]), nullptr) << i;
    EXPECT_EQ(Window->ChartTitle(m[0]), "CommMnem1 (fmSin): i:0.01 m:-56.00");
    EXPECT_TRUE(Window->ChartOf(m[0])->toolTip().startsWith("Shows last "));
    EXPECT_EQ(Window->MnemonicList()->count(), 30);
    EXPECT_EQ(Window->ScienceList()->count(), 15);
    // Both lists are sorted by text.
    EXPECT_TRUE(Window->MnemonicList()->item(0)->text().startsWith("CommMnem1 "));
    EXPECT_TRUE(Window->ScienceList()->item(0)->text().startsWith("SciMnem16 "));
    ASSERT_NE(Window->SystemPanel(3), nullptr);
    EXPECT_EQ(Window->SystemPanel(0)->text(), "Communications");
    EXPECT_EQ(Window->SystemPanel(3)->text(), "Scientific");
    EXPECT_EQ(Window->windowTitle(), "Corvane Demo Application");
}

// On a large screen the charts grow with the window and the list shows the names in full.
TEST_F(CorvaneMainTest, ALargeWindowGivesItsRoomToTheChartsAndTheNames) {
    const TMnemonics& m = Window->Simulation().Mnemonics();
    const int designHeight = Window->ChartOf(m[0])->height();
    Window->resize(1920, 1080);
    QApplication::processEvents();
    EXPECT_GT(Window->ChartOf(m[0])->height(), designHeight + 100);
    for (QListWidget* list : {Window->MnemonicList(), Window->ScienceList()}) {
        int widest = 0;
        for (int i = 0; i < list->count(); ++i)
            widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->item(i)->text()));
        EXPECT_LE(widest, list->viewport()->width()) << "names are cut";
    }
}

TEST_F(CorvaneMainTest, OpensPausedWithTheSpeedAt100) {
    EXPECT_TRUE(Window->PauseButton()->isChecked());
    EXPECT_FALSE(Window->PlayButton()->isChecked());
    EXPECT_FALSE(Window->Timer()->isActive());
    EXPECT_EQ(Window->SpeedControl()->value(), 100);
    EXPECT_EQ(Window->SpeedControl()->minimum(), 1);
    EXPECT_EQ(Window->SpeedControl()->maximum(), 1000);
    EXPECT_EQ(Window->Timer()->interval(), 100);
    Window->SpeedControl()->setValue(300);
    EXPECT_EQ(Window->Timer()->interval(), 300);
}

TEST_F(CorvaneMainTest, StepsPlotAndCountInTheCaption) {
    const TMnemonic& first = Window->Simulation().Mnemonics()[0];
    Window->StepButton()->click();
    EXPECT_TRUE(Window->PauseButton()->isChecked());
    EXPECT_EQ(Window->ChartPointCount(first), 1);
    EXPECT_TRUE(Window->windowTitle().startsWith("Corvane Demo Application (1 points generated, "));
    EXPECT_TRUE(Window->windowTitle().endsWith(" steps per proc second)"));
    for (int i = 0; i < 120; ++i)
        Window->StepButton()->click();
    EXPECT_TRUE(
        Window->windowTitle().startsWith("Corvane Demo Application (121 points generated, "));
    // A chart keeps only the latest points.
    EXPECT_EQ(Window->ChartPointCount(first), TSimulation::ChartPointLimit);
}

TEST_F(CorvaneMainTest, PlayRunsOnTheTimerAndPauseStopsIt) {
    Window->SpeedControl()->setValue(1);
    Window->PlayButton()->click();
    EXPECT_TRUE(Window->Timer()->isActive());
    EXPECT_TRUE(Window->PlayButton()->isChecked());
    // Waits on the clock, not on a count of spins: processEvents returns at once when nothing
    // is due, so a fast machine could spin through any fixed count before the timer fires.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Window->Simulation().Points() < 3 && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(Window->Simulation().Points(), 3);
    Window->PauseButton()->click();
    EXPECT_FALSE(Window->Timer()->isActive());
    const int points = Window->Simulation().Points();
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(Window->Simulation().Points(), points);
    // Step while playing pauses without an iteration.
    Window->PlayButton()->click();
    Window->StepButton()->click();
    EXPECT_FALSE(Window->Timer()->isActive());
    EXPECT_TRUE(Window->PauseButton()->isChecked());
    EXPECT_EQ(Window->Simulation().Points(), points);
}

TEST_F(CorvaneMainTest, LogLinesAreStampedWithTheSimulatedTime) {
    Window->NoExpertSystem(false);
    Window->StepButton()->click();
    Window->Simulation().ShowAlert("Power", false);
    Window->Simulation().ShowAlert("Power", true);
    Window->Simulation().ShowAlert("Control", true);
    const QStringList lines = Window->LogText().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "9:30:00.000 AM No Expert System Available");
    EXPECT_EQ(lines[1], "9:30:00.500 AM Alert! Power critical");
    EXPECT_EQ(lines[2], "9:30:00.500 AM Warning! Power degradation detected");
    EXPECT_EQ(lines[3], "9:30:00.500 AM Warning! Control degradation detected");
    EXPECT_EQ(Window->SystemPanel(1)->palette().color(QPalette::Window), QColor(Qt::red));
    EXPECT_EQ(Window->SystemPanel(2)->palette().color(QPalette::Window), QColor(Qt::yellow));
    Window->Simulation().SetSatelliteState(0.75f);
    EXPECT_EQ(Window->SatellitePanel()->palette().color(QPalette::Window), QColor(Qt::cyan));
    // Without rules the simulation still runs and counts.
    Window->StepButton()->click();
    EXPECT_EQ(Window->Simulation().Points(), 2);
}

TEST_F(CorvaneMainTest, NumbersIgnoreTheUsersLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto german = std::make_unique<TfrmCorvane>(45352.25);
    QLocale::setDefault(saved);
    EXPECT_EQ(german->ChartTitle(german->Simulation().Mnemonics()[0]),
              "CommMnem1 (fmSin): i:0.01 m:-56.00");
    EXPECT_TRUE(german->MnemonicList()->item(0)->text().endsWith("i:0.01 m:-56.00"));
}

TEST_F(CorvaneMainTest, DebugCheckBoxSetsDebugMode) {
    EXPECT_FALSE(Window->DebugCheck()->isChecked());
    Window->DebugCheck()->click();
    EXPECT_TRUE(Window->Simulation().DebugMode());
    Window->DebugCheck()->click();
    EXPECT_FALSE(Window->Simulation().DebugMode());
}

// A chatty rule file cannot fill memory through the log: the window keeps the last lines.
TEST_F(CorvaneMainTest, TheLogKeepsItsLastLinesAndSaysItDropsTheOldest) {
    EXPECT_EQ(Window->LogView()->maximumBlockCount(), TSimulation::DefaultLogLineLimit);
    Window->Simulation().SetLogLineLimit(20);
    for (int i = 0; i < 50; ++i)
        Window->Simulation().Log("line " + std::to_string(i) + "\r\nits second line");
    const QStringList lines = Window->LogText().split('\n');
    EXPECT_EQ(lines.size(), 20);
    EXPECT_TRUE(lines.back().endsWith("its second line")) << lines.back().toStdString();
    EXPECT_TRUE(Window->LogText().contains("older lines are dropped"));
}

TEST_F(CorvaneMainTest, TheLogOpensAtTheStartOfItsLines) {
    for (int i = 0; i < 5; ++i)
        Window->Simulation().Log("a long line " + std::string(400, 'x'));
    Window->SatelliteViews()->setCurrentWidget(Window->LogView());
    QApplication::processEvents();
    QScrollBar* bar = Window->LogView()->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the lines are wider than the view";
    EXPECT_EQ(bar->value(), 0) << "the time stamps are in view";
    Window->Simulation().Log("another " + std::string(400, 'y'));
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);
}

// CommMnem3 follows csc: near its poles the values leap far beyond the limits. The axis keeps
// to the limits' neighbourhood and the leaps are marked at its edge.
TEST_F(CorvaneMainTest, ChartsOfFormulasWithPolesKeepTheirLimitLinesApart) {
    TMnemonic& item = Window->Simulation().Mnemonics().Items(2);
    ASSERT_EQ(item.Formula(), TFormula::fmCsc);
    Window->StepButton()->click();
    // A leap like the ones a pole gives, plotted as the simulation plots a step.
    item.SetValue(-29290);
    Window->MnemonicPlotted(item);
    item.SetValue(4147);
    Window->MnemonicPlotted(item);
    const TValueRange axis = Window->ChartAxisRange(item);
    const TValueRange clip = TSimulation::ChartClipRange(item);
    EXPECT_GE(axis.Low, clip.Low - (clip.High - clip.Low) * 0.1);
    EXPECT_LE(axis.High, clip.High + (clip.High - clip.Low) * 0.1);
    EXPECT_LT(axis.Low, item.RedLow());
    EXPECT_GT(axis.High, item.RedHigh());
    // The two red lines are at least a third of the axis apart.
    EXPECT_GT((item.RedHigh() - item.RedLow()) / (axis.High - axis.Low), 1.0 / 3);
    EXPECT_EQ(Window->ChartClippedCount(item), 2);
    item.SetValue(0);
    for (int i = 0; i <= TSimulation::ChartPointLimit; ++i)
        Window->MnemonicPlotted(item);
    EXPECT_EQ(Window->ChartClippedCount(item), 0) << "the marks go with their points";
}

TEST_F(CorvaneMainTest, ErrorsShowOneBoxAtATimeWhileTheRunIsPaused) {
    Window->PlayButton()->click();
    ASSERT_TRUE(Window->Timer()->isActive());
    // What the simulation does with a failing iteration: pause, then report.
    Window->Simulation().SetRunning(false);
    Window->ErrorRaised("Division by zero");
    Window->ErrorRaised("Division by zero");
    Window->ErrorRaised("Division by zero");
    QApplication::processEvents();
    int shown = 0;
    for (QMessageBox* box : Window->findChildren<QMessageBox*>())
        shown += box->isVisible();
    EXPECT_EQ(shown, 1);
    ASSERT_TRUE(Window->ErrorBox());
    EXPECT_EQ(Window->ErrorBox()->windowModality(), Qt::WindowModal);
    EXPECT_FALSE(Window->Timer()->isActive());
    Window->ErrorBox()->close();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(Window->ErrorBox());
    Window->ErrorRaised("again");
    EXPECT_TRUE(Window->ErrorBox()) << "a new failure after the box was closed is shown";
    Window->ErrorBox()->close();
}

TEST_F(CorvaneMainTest, TheWindowSaysWhetherTheRulesAreActive) {
    EXPECT_FALSE(Window->RulesStatusLabel()->isVisibleTo(Window.get()));
    Window->Simulation().SetExpertSystemAvailable(false);
    Window->Simulation().SetRulesStatus("Rules inactive: expert system could not be loaded");
    EXPECT_TRUE(Window->RulesStatusLabel()->isVisibleTo(Window.get()));
    EXPECT_EQ(Window->RulesStatusLabel()->text(),
              "Rules inactive: expert system could not be loaded");
}

// Tab goes round the window's controls: past no chart, and onto Step, Pause and Play.
TEST_F(CorvaneMainTest, TabReachesPauseAndPlayAndSkipsTheCharts) {
    Window->activateWindow();
    QApplication::setActiveWindow(Window.get());
    Window->StepButton()->setFocus();
    QApplication::processEvents();
    std::vector<QWidget*> reached;
    for (int i = 0; i < 100; ++i) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        if (std::find(reached.begin(), reached.end(), focus) != reached.end()) break;
        reached.push_back(focus);
        EXPECT_EQ(qobject_cast<QChartView*>(focus), nullptr) << "a chart takes Tab";
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(focus, &tab);
        QApplication::processEvents();
    }
    EXPECT_LT(reached.size(), 30u) << "round the controls, not through thirty charts";
    for (QWidget* button : {static_cast<QWidget*>(Window->PauseButton()),
                            static_cast<QWidget*>(Window->PlayButton())})
        EXPECT_NE(std::find(reached.begin(), reached.end(), button), reached.end());
}

TEST_F(CorvaneMainTest, TheRuleFileDialogOffersEveryFileToo) {
    QStringList filters;
    QString suffix;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            filters = dialog->nameFilters();
            suffix = dialog->defaultSuffix();
            dialog->reject();
        }
    });
    std::string fileName = "expert system";
    EXPECT_FALSE(Window->AskRuleFile(fileName));
    EXPECT_EQ(filters, (QStringList{"Expert System (*.ie *.clp)", "All Files (*)"}));
    EXPECT_EQ(suffix, "ie");
    EXPECT_EQ(fileName, "expert system") << "cancelled: unchanged";
}

} // namespace
} // namespace ie

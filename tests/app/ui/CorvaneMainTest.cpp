#include "app/CorvaneMain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

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

} // namespace
} // namespace ie

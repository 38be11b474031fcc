// The window, the data module with the demo rules and the Qt console, wired as the program's main
// block wires them: the Console button opens the console modal on a copy of the engine, and OK
// hands what was done there to the application's engine.
#include "app/CorvaneMain.h"
#include "app/model/CorvaneDataModule.h"
#include "editors/ConsoleEditorForm.h"
#include "editors/logic/IEDialogs.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <memory>

#include "QtTestApplication.h"

namespace ie {
namespace {

class ConsoleWiringTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QApplication* made = test::StartOffscreenApplication()) App = made;
        InstallQtEditorForms();
    }
    static void TearDownTestSuite() {
        delete App;
        App = nullptr;
    }

    static QApplication* App;
};

QApplication* ConsoleWiringTest::App = nullptr;

QPushButton* ButtonCaptioned(QWidget& parent, const QString& caption) {
    for (QPushButton* button : parent.findChildren<QPushButton*>())
        if (button->text() == caption) return button;
    return nullptr;
}

TEST_F(ConsoleWiringTest, TheConsoleButtonOpensTheConsoleOnACopyAndOkHandsItBack) {
    TfrmCorvane window(45352 + 9.5 / 24);
    TDataModule1 dataModule(window.Simulation());
    dataModule.DataModuleCreate(nullptr, std::filesystem::path(IE_SOURCE_DIR) / "app" / "demo");
    ASSERT_TRUE(window.Simulation().ExpertSystemAvailable());
    TConsoleDialog consoleDialog(nullptr);
    consoleDialog.SetCaption("Console Editor");
    consoleDialog.SetEngine(&dataModule.InferenceEngine1());
    dataModule.ConsoleDialog1 = [&consoleDialog](std::string& openedFile) {
        const bool wroteBack = consoleDialog.Execute() && consoleDialog.WroteBack();
        openedFile = consoleDialog.OpenedFile();
        return wroteBack;
    };
    window.SetConsole([&dataModule] { dataModule.ExecuteConsole(); });
    window.show();
    QApplication::processEvents();

    TInferenceEngine& engine = dataModule.InferenceEngine1();
    const int32_t factsBefore = engine.Facts().Count();
    QString caption;
    int32_t copiedFacts = -1;
    bool hostUntouched = false;
    QTimer::singleShot(0, [&] {
        auto* console = dynamic_cast<TIEConsoleDlg*>(QApplication::activeModalWidget());
        if (!console) return;
        caption = console->windowTitle();
        copiedFacts = console->Console().Engine().Facts().Count();
        console->Input()->setPlainText("(assert (alert Power))");
        console->Submit();
        // The command ran on the copy only.
        hostUntouched = engine.Facts().Count() == factsBefore;
        console->accept();
    });
    QPushButton* button = ButtonCaptioned(window, "Console");
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isEnabled());
    button->click();

    EXPECT_EQ(caption, "Console Editor");
    EXPECT_EQ(copiedFacts, factsBefore);
    EXPECT_TRUE(hostUntouched);
    // OK assigned the copy back: the alert reached the application's engine and its window.
    EXPECT_EQ(engine.Facts().Count(), factsBefore + 1);
    EXPECT_TRUE(window.LogText().contains("Alert! Power critical"))
        << window.LogText().toStdString();

    // The simulation goes on with the demo rules afterwards.
    for (int i = 0; i < 3; ++i)
        window.Simulation().StepClick();
    EXPECT_EQ(window.Simulation().Points(), 3);
    int metadata = 0;
    for (const auto& fact : engine.Facts().Items())
        metadata += fact->GetTemplate()->GetName() == "mnem-metadata";
    EXPECT_EQ(metadata, 30);
    dataModule.ConsoleDialog1 = nullptr;
    window.SetConsole(nullptr);
}

// OK without a change: the engine keeps its facts (no alert logged again, no rule that fired
// once fires again on the next step).
TEST_F(ConsoleWiringTest, ConsoleOkWithoutAChangeLeavesTheEngineAndTheLogAlone) {
    TfrmCorvane window(45352 + 9.5 / 24);
    TDataModule1 dataModule(window.Simulation());
    dataModule.DataModuleCreate(nullptr, std::filesystem::path(IE_SOURCE_DIR) / "app" / "demo");
    ASSERT_TRUE(window.Simulation().ExpertSystemAvailable());
    TConsoleDialog consoleDialog(nullptr);
    consoleDialog.SetEngine(&dataModule.InferenceEngine1());
    dataModule.ConsoleDialog1 = [&consoleDialog](std::string& openedFile) {
        const bool wroteBack = consoleDialog.Execute() && consoleDialog.WroteBack();
        openedFile = consoleDialog.OpenedFile();
        return wroteBack;
    };
    window.SetConsole([&dataModule] { dataModule.ExecuteConsole(); });
    window.show();
    for (int i = 0; i < 3; ++i)
        window.Simulation().StepClick();
    TInferenceEngine& engine = dataModule.InferenceEngine1();
    std::vector<const IFact*> facts;
    for (const auto& fact : engine.Facts().Items())
        facts.push_back(fact.get());
    const QString log = window.LogText();
    QTimer::singleShot(0, [] {
        if (auto* console = dynamic_cast<TIEConsoleDlg*>(QApplication::activeModalWidget()))
            console->accept();
    });
    QPushButton* button = ButtonCaptioned(window, "Console");
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_FALSE(consoleDialog.WroteBack());
    EXPECT_EQ(window.LogText(), log);
    std::vector<const IFact*> after;
    for (const auto& fact : engine.Facts().Items())
        after.push_back(fact.get());
    EXPECT_EQ(after, facts);
    window.Simulation().StepClick();
    EXPECT_EQ(log.count("Demo rules"), 1);
    EXPECT_EQ(window.LogText().count("Demo rules"), 1) << window.LogText().toStdString();
    dataModule.ConsoleDialog1 = nullptr;
    window.SetConsole(nullptr);
}

// Rules that never stop firing hold neither the window nor its close box: the window paints and
// takes clicks while they fire, the close box stops them, and the window closes once the step
// is over.
TEST_F(ConsoleWiringTest, TheCloseBoxWorksWhileRulesFire) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "corvane-close";
    std::filesystem::create_directories(dir);
    {
        std::ofstream file(dir / TDataModule1::ExpertSystemFileName);
        file << "(deftemplate mnemonic (slot name) (slot value))\n"
                "(deftemplate mnem-metadata (slot name) (slot system) (slot subsystem) "
                "(slot yellowlow) (slot yellowhigh) (slot redlow) (slot redhigh))\n"
                "(deftemplate counter (slot n))\n(deffacts start (counter (n 0)))\n"
                "(defrule grow (counter (n ?n)) => (assert (counter (n (+ ?n 1)))))\n";
    }
    TfrmCorvane window(45352 + 9.5 / 24);
    TDataModule1 dataModule(window.Simulation());
    dataModule.DataModuleCreate(nullptr, dir);
    ASSERT_TRUE(window.Simulation().ExpertSystemAvailable());
    dataModule.FiringLimit = 0;
    window.show();
    QApplication::processEvents();
    bool closedWhileFiring = false;
    QTimer::singleShot(150, &window, [&] {
        closedWhileFiring = window.Simulation().Iterating();
        window.close();
    });
    window.StepButton()->click();
    EXPECT_TRUE(closedWhileFiring);
    EXPECT_TRUE(window.LogText().contains("The rules of this step were stopped after"))
        << window.LogText().toStdString();
    for (int i = 0; i < 20 && window.isVisible(); ++i)
        QApplication::processEvents();
    EXPECT_FALSE(window.isVisible());
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace ie

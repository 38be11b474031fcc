// The main window of the telemetry application. It shows what the simulation model
// (TSimulation) holds and forwards its controls to it: one chart per mnemonic with its four
// limit lines, the mnemonic lists coloured by status, the system panels, the satellite panel,
// the time-stamped log, play / pause / step and the speed control. No simulation logic lives
// here; the window is the model's view and the owner its mnemonics report to.
#pragma once

#include "app/model/Simulation.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QFrame;
class QHBoxLayout;
class QLabel;
class QListWidget;

class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QTabWidget;
class QTimer;
class QToolButton;
class QWidget;

namespace ie {

struct TMnemonicChart;

class TfrmCorvane : public QMainWindow, public IMnemonicsObserver, public ISimulationView {
    Q_OBJECT

public:
    // Builds the window and the 30 mnemonics with their charts; the simulated clock starts at
    // start. The simulation is paused until Play or Step.
    explicit TfrmCorvane(TDateTime start = Now(), QWidget* parent = nullptr);
    ~TfrmCorvane() override;

    TSimulation& Simulation() { return FSimulation; }

    // The rule file could not be loaded: log it, tell the user once and simulate without rules.
    void NoExpertSystem(bool showMessage = true);
    // What the Console button opens (the rule engine's console); without one it is disabled.
    void SetConsole(std::function<void()> console);
    // The open dialog for the rule file when "expert system" is missing: the rule files, or any
    // file. True with the chosen file in fileName.
    bool AskRuleFile(std::string& fileName);

    // Views of the parts, for the host and for tests.
    int ChartCount() const { return static_cast<int>(FCharts.size()); }
    QWidget* ChartOf(const TMnemonic& item) const;
    int ChartPointCount(const TMnemonic& item) const;
    QString ChartTitle(const TMnemonic& item) const;
    QString LogText() const;
    QListWidget* MnemonicList() const { return FlbMnemonics; }
    QListWidget* ScienceList() const { return FlbSciMnems; }
    QLabel* SystemPanel(int index) const;
    QFrame* SatellitePanel() const { return FSatellitePanel; }
    QTimer* Timer() const { return FTimer1; }
    QToolButton* StepButton() const { return FtbStep; }
    QToolButton* PauseButton() const { return FtbPause; }
    QToolButton* PlayButton() const { return FtbPlay; }
    QSlider* SpeedControl() const { return FtbSimSpeed; }
    QCheckBox* DebugCheck() const { return FcbDebug; }
    QTabWidget* SatelliteViews() const { return FpcSatViews; }
    QPlainTextEdit* LogView() const { return FmmLog; }
    QLabel* RulesStatusLabel() const { return FRulesStatus; }
    // The error box shown now (one at a time), or null.
    QMessageBox* ErrorBox() const { return FErrorBox; }
    // The points of a chart's value series drawn at the edge of its axis, marked as clipped.
    int ChartClippedCount(const TMnemonic& item) const;
    // A chart's value axis.
    TValueRange ChartAxisRange(const TMnemonic& item) const;

    // IMnemonicsObserver
    void MnemonicNotify(TMnemonic& item, TCollectionNotification action) override;
    void MnemonicUpdate(TMnemonic* item) override;

    // ISimulationView
    void RunningChanged(bool running) override;
    void TimerChanged(bool enabled, int interval) override;
    void CaptionChanged(const std::string& caption) override;
    void LogAppended(const std::string& line) override;
    void LogLimitChanged(int lines) override;
    void SystemPanelsChanged() override;
    void SatelliteStateChanged(TStatusColour colour) override;
    void MnemonicPlotted(TMnemonic& item) override;
    void ErrorRaised(const std::string& message) override;
    void ProcessMessages() override;
    void RulesStatusChanged(const std::string& status) override;
    void StepEnded() override;

protected:
    void showEvent(QShowEvent* event) override;
    // Closing while a step's rules fire stops them; the window closes once the step is over.
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    QWidget* BuildMnemonicsGroup();
    QWidget* BuildSystemsGroup();
    void ConsoleClick();
    qint64 ChartTime(TDateTime value);

    TSimulation FSimulation;
    std::vector<std::unique_ptr<TMnemonicChart>> FCharts;
    std::function<void()> FConsole;
    TDateTime FCachedTime = -1;
    qint64 FCachedMSecs = 0;

    QListWidget* FlbMnemonics = nullptr;
    QListWidget* FlbSciMnems = nullptr;
    QScrollArea* FScrollBox1 = nullptr;
    QWidget* FChartRow = nullptr;
    QHBoxLayout* FChartLayout = nullptr;
    QLabel* FLabel1 = nullptr;
    QWidget* FsbSystems = nullptr;
    std::vector<QLabel*> FSystemPanels;
    QTabWidget* FpcSatViews = nullptr;
    QFrame* FSatellitePanel = nullptr;
    QPushButton* FButton1 = nullptr;
    QCheckBox* FcbDebug = nullptr;
    QPlainTextEdit* FmmLog = nullptr;
    QToolButton* FtbStep = nullptr;
    QToolButton* FtbPause = nullptr;
    QToolButton* FtbPlay = nullptr;
    QSlider* FtbSimSpeed = nullptr;
    QTimer* FTimer1 = nullptr;
    QLabel* FRulesStatus = nullptr;
    QPointer<QMessageBox> FErrorBox;
    bool FCloseAfterStep = false;
};

} // namespace ie

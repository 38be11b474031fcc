// The main window's widgets, the mnemonic charts and lists, and the window's two roles as the
// simulation's view and the mnemonics' owner. The window only draws what the model reports and
// forwards its controls; it unhooks itself from the model in its destructor, since the model, a
// member, outlives the window's body and must not call back into a half-destroyed window.
#include "app/CorvaneMain.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>
#include <deque>

#include "app/model/CorvaneDataModule.h"
#include "editors/EditorFormBase.h"

namespace ie {

namespace {

constexpr int ChartWidth = 225;
constexpr int ChartHeight = 241;
constexpr int SeriesCount = 5; // value, yellow high, yellow low, red high, red low
constexpr int MnemonicRole = Qt::UserRole + 1;

QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}

// A button of the Step, Pause and Play group that Tab stops at. Qt makes a button group one Tab
// stop (only the button focused last keeps tab focus, arrows move within); each of these three
// is a command of its own, so Tab reaches each.
class TTabStopButton : public QToolButton {
public:
    TTabStopButton() { setFocusPolicy(Qt::StrongFocus); }

protected:
    void focusInEvent(QFocusEvent* event) override {
        QToolButton::focusInEvent(event);
        if (QButtonGroup* buttons = group())
            for (QAbstractButton* button : buttons->buttons())
                button->setFocusPolicy(Qt::StrongFocus);
    }
};

// A state shows in full yellow, red or cyan so that it stands out on the mnemonic lists and the
// satellite panel; a neutral state keeps the widget's own colour. On the white chart walls yellow
// is drawn a shade darker.
QColor StatusColour(TStatusColour colour, const QPalette& palette) {
    switch (colour) {
    case TStatusColour::scYellow:
        return QColor(Qt::yellow);
    case TStatusColour::scRed:
        return QColor(Qt::red);
    case TStatusColour::scAqua:
        return QColor(Qt::cyan);
    case TStatusColour::scNeutral:
        break;
    }
    return palette.color(QPalette::Button);
}

void Paint(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

TMnemonic* MnemonicOf(const QListWidgetItem* entry) {
    return reinterpret_cast<TMnemonic*>(entry->data(MnemonicRole).value<quintptr>());
}

// Paints an entry of the mnemonic lists on the colour of its mnemonic's state.
class TMnemonicDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto* mnemonic =
            reinterpret_cast<const TMnemonic*>(index.data(MnemonicRole).value<quintptr>());
        if (mnemonic && !(option.state & QStyle::State_Selected)) {
            const TStatusColour status = TSimulation::MnemonicStatus(*mnemonic);
            if (status != TStatusColour::scNeutral)
                painter->fillRect(option.rect, StatusColour(status, option.palette));
        }
        QStyledItemDelegate::paint(painter, option, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(16);
        return size;
    }
};

// A small drawing of the spacecraft on the satellite panel.
class TSatelliteImage : public QWidget {
public:
    explicit TSatelliteImage(QWidget* parent) : QWidget(parent) { setMinimumSize(120, 80); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF c = rect().center();
        const double s = std::min(width() / 6.0, height() / 3.0);
        p.setPen(QPen(Qt::darkGray, 1.5));
        p.drawLine(QPointF(c.x() - 2.6 * s, c.y()), QPointF(c.x() + 2.6 * s, c.y()));
        p.setBrush(QColor(40, 60, 140));
        for (int side : {-1, 1}) {
            const QRectF wing(c.x() + side * 1.0 * s - (side < 0 ? 1.8 * s : 0), c.y() - 0.55 * s,
                              1.8 * s, 1.1 * s);
            p.drawRect(wing);
            for (int k = 1; k < 3; ++k)
                p.drawLine(QPointF(wing.left() + k * wing.width() / 3, wing.top()),
                           QPointF(wing.left() + k * wing.width() / 3, wing.bottom()));
        }
        p.setBrush(QColor(200, 170, 60));
        p.drawRoundedRect(QRectF(c.x() - 0.7 * s, c.y() - 0.7 * s, 1.4 * s, 1.4 * s), 3, 3);
        p.setBrush(Qt::lightGray);
        p.drawEllipse(QPointF(c.x(), c.y() - 1.0 * s), 0.35 * s, 0.2 * s);
    }
};

} // namespace

// One mnemonic's chart: a title bar coloured by the mnemonic's state and the chart with the
// value series followed by the yellow, yellow, red and red limit series.
struct TMnemonicChart {
    QFrame* Frame = nullptr;
    QLabel* Title = nullptr;
    QChartView* View = nullptr;
    QChart* Chart = nullptr;
    QLineSeries* Series[SeriesCount] = {};
    // The value series' points beyond the axis, drawn at its edge; for every point of the
    // value series, oldest first, whether it has such a mark.
    QScatterSeries* Clipped = nullptr;
    std::deque<bool> ClippedPoints;
    QDateTimeAxis* AxisX = nullptr;
    QValueAxis* AxisY = nullptr;
};

TfrmCorvane::TfrmCorvane(TDateTime start, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(TSimulation::DefaultCaption);
    resize(870, 640);
    BuildControls();

    FTimer1 = new QTimer(this);
    connect(FTimer1, &QTimer::timeout, this, [this] { FSimulation.TimerTick(); });

    FSimulation.SetView(this);
    FSimulation.Mnemonics().SetOwner(this);
    FcbDebug->setChecked(FSimulation.DebugMode());
    FpcSatViews->setCurrentIndex(0);
    FSimulation.Initialize(start);
    FtbSimSpeed->setValue(FSimulation.Interval());
    SetConsole(nullptr);
}

TfrmCorvane::~TfrmCorvane() {
    // The model outlives this body (it is a member): it must not call back into a half
    // destroyed window.
    FSimulation.SetView(nullptr);
    FSimulation.Mnemonics().SetOwner(nullptr);
}

void TfrmCorvane::BuildControls() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    // Room beyond the design size goes to the charts and the lists as much as to the panels.
    layout->addWidget(BuildMnemonicsGroup(), 3);
    layout->addWidget(BuildSystemsGroup(), 2);
    setCentralWidget(central);
    FRulesStatus = new QLabel;
    FRulesStatus->setVisible(false);
    statusBar()->addWidget(FRulesStatus, 1);
}

QWidget* TfrmCorvane::BuildMnemonicsGroup() {
    auto* group = new QGroupBox("Mnemonics");
    group->setMinimumHeight(265 + 20);
    auto* layout = new QHBoxLayout(group);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* splitter = new QSplitter(Qt::Horizontal);

    FlbMnemonics = new QListWidget;
    FlbMnemonics->setSortingEnabled(true);
    FlbMnemonics->setItemDelegate(new TMnemonicDelegate(FlbMnemonics));
    FlbMnemonics->setToolTip("All Mnemonics (Colors indicate status)");
    FlbMnemonics->setUniformItemSizes(true);
    splitter->addWidget(FlbMnemonics);

    FScrollBox1 = new QScrollArea;
    FScrollBox1->setWidgetResizable(true);
    FScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FChartRow = new QWidget;
    FChartLayout = new QHBoxLayout(FChartRow);
    FChartLayout->setContentsMargins(0, 0, 0, 0);
    FChartLayout->setSpacing(0);
    FLabel1 = new QLabel("CHARTS APPEAR HERE WHEN GENERATING CHARTS");
    FChartLayout->addWidget(FLabel1);
    FChartLayout->addStretch(1);
    FScrollBox1->setWidget(FChartRow);
    splitter->addWidget(FScrollBox1);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({153, 700});

    layout->addWidget(splitter);
    return group;
}

QWidget* TfrmCorvane::BuildSystemsGroup() {
    auto* group = new QGroupBox;
    auto* layout = new QHBoxLayout(group);
    layout->setContentsMargins(4, 4, 4, 4);

    // System panels, filled when the simulation creates them.
    auto* systemsBox = new QScrollArea;
    systemsBox->setWidgetResizable(true);
    systemsBox->setFixedWidth(170);
    FsbSystems = new QWidget;
    auto* systemsLayout = new QVBoxLayout(FsbSystems);
    systemsLayout->setContentsMargins(0, 0, 0, 0);
    systemsLayout->setSpacing(0);
    systemsLayout->addStretch(1);
    systemsBox->setWidget(FsbSystems);
    layout->addWidget(systemsBox);

    FpcSatViews = new QTabWidget;
    FSatellitePanel = new QFrame;
    FSatellitePanel->setFrameShape(QFrame::StyledPanel);
    auto* satLayout = new QVBoxLayout(FSatellitePanel);
    satLayout->addWidget(new TSatelliteImage(FSatellitePanel), 1);
    auto* satControls = new QHBoxLayout;
    FButton1 = new QPushButton("Console");
    FcbDebug = new QCheckBox("Debug");
    satControls->addWidget(FButton1);
    satControls->addWidget(FcbDebug);
    satControls->addStretch(1);
    satLayout->addLayout(satControls);
    FpcSatViews->addTab(FSatellitePanel, "Satellite");
    FmmLog = new QPlainTextEdit;
    FmmLog->setReadOnly(true);
    FmmLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    FmmLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FmmLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FmmLog->setMaximumBlockCount(TSimulation::DefaultLogLineLimit);
    FpcSatViews->addTab(FmmLog, "Log");
    connect(FpcSatViews, &QTabWidget::currentChanged, this, [this](int page) {
        if (FpcSatViews->widget(page) == FmmLog) FmmLog->horizontalScrollBar()->setValue(0);
    });
    layout->addWidget(FpcSatViews, 1);
    connect(FButton1, &QPushButton::clicked, this, [this] { ConsoleClick(); });
    connect(FcbDebug, &QCheckBox::toggled, this,
            [this](bool checked) { FSimulation.SetDebugMode(checked); });

    auto* panel1 = new QWidget;
    // At least as designed; wider when the science names need it (see MnemonicUpdate).
    panel1->setMinimumWidth(260);
    panel1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* rightLayout = new QVBoxLayout(panel1);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    auto* sciGroup = new QGroupBox("Science Instrument Mnemonics");
    auto* sciLayout = new QVBoxLayout(sciGroup);
    auto* sciLabel = new QLabel("The mnemonics of the scientific instruments; the colour of an "
                                "entry shows its state.");
    sciLabel->setWordWrap(true);
    sciLayout->addWidget(sciLabel);
    FlbSciMnems = new QListWidget;
    FlbSciMnems->setSortingEnabled(true);
    FlbSciMnems->setItemDelegate(new TMnemonicDelegate(FlbSciMnems));
    FlbSciMnems->setToolTip("Science Mnemonics (Colors indicate status)");
    FlbSciMnems->setUniformItemSizes(true);
    sciLayout->addWidget(FlbSciMnems);
    rightLayout->addWidget(sciGroup, 1);

    auto* gbRunParam = new QGroupBox("Simulation Control");
    auto* runLayout = new QVBoxLayout(gbRunParam);
    auto* buttons = new QHBoxLayout;
    auto* group3 = new QButtonGroup(this);
    group3->setExclusive(true);
    const auto makeButton = [&](const char* caption, const char* hint) {
        auto* button = new TTabStopButton;
        button->setText(caption);
        button->setToolTip(hint);
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setMinimumWidth(60);
        group3->addButton(button);
        buttons->addWidget(button);
        return button;
    };
    FtbStep = makeButton("&Step", "Execute One Simulation Iteration");
    FtbPause = makeButton("Pa&use", "Pause Simulation");
    FtbPlay = makeButton("&Play", "Play Simulation");
    FtbPlay->setChecked(true);
    runLayout->addLayout(buttons);
    FtbSimSpeed = new QSlider(Qt::Horizontal);
    FtbSimSpeed->setRange(TSimulation::MinSpeed, TSimulation::MaxSpeed);
    FtbSimSpeed->setTickInterval(50);
    FtbSimSpeed->setTickPosition(QSlider::TicksBelow);
    FtbSimSpeed->setValue(TSimulation::InitialSpeed);
    FtbSimSpeed->setToolTip("Change Simulation Speed");
    runLayout->addWidget(FtbSimSpeed);
    rightLayout->addWidget(gbRunParam);
    layout->addWidget(panel1);

    connect(FtbStep, &QToolButton::clicked, this, [this] { FSimulation.StepClick(); });
    connect(FtbPause, &QToolButton::clicked, this, [this] { FSimulation.PauseClick(); });
    connect(FtbPlay, &QToolButton::clicked, this, [this] { FSimulation.PlayClick(); });
    connect(FtbSimSpeed, &QSlider::valueChanged, this,
            [this](int position) { FSimulation.SetSpeed(position); });
    return group;
}

void TfrmCorvane::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FSimulation.Show();
}

void TfrmCorvane::NoExpertSystem(bool showMessage) {
    static const char* const Message = "No Expert System Available";
    FSimulation.SetExpertSystemAvailable(false);
    FSimulation.Log(Message);
    if (!showMessage) return;
    auto* box =
        new QMessageBox(QMessageBox::Information, windowTitle(), Message, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void TfrmCorvane::SetConsole(std::function<void()> console) {
    FConsole = std::move(console);
    FButton1->setEnabled(static_cast<bool>(FConsole));
    FButton1->setToolTip(FConsole ? "Open the console of the expert system"
                                  : "No expert system is loaded");
}

void TfrmCorvane::closeEvent(QCloseEvent* event) {
    if (FSimulation.Iterating()) {
        // The rules fire inside this very event's dispatch: the window goes once they stopped.
        FCloseAfterStep = true;
        FSimulation.StopRules();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TfrmCorvane::StepEnded() {
    if (FCloseAfterStep) QTimer::singleShot(0, this, [this] { close(); });
    FCloseAfterStep = false;
}

void TfrmCorvane::ConsoleClick() {
    if (!FConsole) return;
    try {
        FSimulation.ExecuteConsole(FConsole);
    } catch (const std::exception& e) {
        ErrorRaised(e.what());
    }
}

// ---------------------------------------------------------------------------------------------
// The mnemonics' owner

void TfrmCorvane::MnemonicNotify(TMnemonic& item, TCollectionNotification action) {
    if (action == TCollectionNotification::cnAdded) {
        auto chart = std::make_unique<TMnemonicChart>();
        chart->Frame = new QFrame(FChartRow);
        // As wide as designed, as high as the chart row: a taller window draws taller charts.
        chart->Frame->setFixedWidth(ChartWidth);
        chart->Frame->setMinimumHeight(ChartHeight);
        chart->Frame->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        auto* frameLayout = new QVBoxLayout(chart->Frame);
        frameLayout->setContentsMargins(0, 0, 0, 0);
        frameLayout->setSpacing(0);
        chart->Title = new QLabel(chart->Frame);
        chart->Title->setAlignment(Qt::AlignCenter);
        chart->Title->setWordWrap(true);
        QFont titleFont = chart->Title->font();
        titleFont.setPointSizeF(titleFont.pointSizeF() * 0.85);
        chart->Title->setFont(titleFont);
        Paint(chart->Title, StatusColour(TStatusColour::scNeutral, palette()));
        frameLayout->addWidget(chart->Title);

        chart->Chart = new QChart;
        chart->Chart->legend()->hide();
        chart->Chart->setMargins(QMargins(2, 2, 2, 2));
        chart->Chart->setBackgroundRoundness(0);
        chart->Chart->setBackgroundBrush(palette().color(QPalette::Button));
        chart->Chart->setPlotAreaBackgroundBrush(Qt::white);
        chart->Chart->setPlotAreaBackgroundVisible(true);
        chart->AxisX = new QDateTimeAxis;
        chart->AxisX->setFormat("HH:mm:ss");
        chart->AxisX->setTickCount(3);
        chart->AxisY = new QValueAxis;
        QFont axisFont = chart->AxisX->labelsFont();
        axisFont.setPointSizeF(std::max(6.0, axisFont.pointSizeF() * 0.75));
        chart->AxisX->setLabelsFont(axisFont);
        chart->AxisY->setLabelsFont(axisFont);
        chart->Chart->addAxis(chart->AxisX, Qt::AlignBottom);
        chart->Chart->addAxis(chart->AxisY, Qt::AlignLeft);
        const QColor yellow(220, 190, 0);
        const QColor colours[SeriesCount] = {Qt::red, yellow, yellow, Qt::red, Qt::red};
        for (int s = 0; s < SeriesCount; ++s) {
            auto* series = new QLineSeries;
            QPen pen(colours[s]);
            pen.setWidthF(s == 0 ? 1.5 : 1.0);
            if (s > 0) pen.setStyle(Qt::DashLine);
            series->setPen(pen);
            if (s == 0) {
                series->setPointsVisible(true);
                series->setMarkerSize(2);
            }
            chart->Chart->addSeries(series);
            series->attachAxis(chart->AxisX);
            series->attachAxis(chart->AxisY);
            chart->Series[s] = series;
        }
        chart->Clipped = new QScatterSeries;
        chart->Clipped->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
        chart->Clipped->setMarkerSize(7);
        chart->Clipped->setColor(Qt::red);
        chart->Clipped->setBorderColor(Qt::darkRed);
        chart->Chart->addSeries(chart->Clipped);
        chart->Clipped->attachAxis(chart->AxisX);
        chart->Clipped->attachAxis(chart->AxisY);
        chart->View = new QChartView(chart->Chart, chart->Frame);
        chart->View->setRenderHint(QPainter::Antialiasing, false);
        // A chart is looked at, not operated: Tab passes it by on its way to the controls.
        chart->View->setFocusPolicy(Qt::NoFocus);
        frameLayout->addWidget(chart->View, 1);

        // Charts line up side by side, before the stretch that closes the row.
        FChartLayout->insertWidget(FChartLayout->count() - 1, chart->Frame);
        FLabel1->hide();
        item.SetTag(chart.get());
        FCharts.push_back(std::move(chart));
    } else if (action == TCollectionNotification::cnExtracting) {
        auto* chart = static_cast<TMnemonicChart*>(item.Tag());
        item.SetTag(nullptr);
        auto found = std::find_if(FCharts.begin(), FCharts.end(),
                                  [chart](const auto& c) { return c.get() == chart; });
        if (found == FCharts.end()) return;
        delete (*found)->Frame;
        FCharts.erase(found);
        if (FCharts.empty()) FLabel1->show();
    }
}

void TfrmCorvane::MnemonicUpdate(TMnemonic* item) {
    if (item) {
        FlbMnemonics->viewport()->update();
        QListWidgetItem* entry = nullptr;
        for (int i = 0; i < FlbSciMnems->count() && !entry; ++i)
            if (MnemonicOf(FlbSciMnems->item(i)) == item) entry = FlbSciMnems->item(i);
        const bool scientific = item->System() == "Scientific";
        if (scientific && !entry) {
            auto* added = new QListWidgetItem(ToQString(item->GetDisplayName()));
            added->setData(MnemonicRole, QVariant::fromValue(reinterpret_cast<quintptr>(item)));
            FlbSciMnems->addItem(added);
        } else if (!scientific && entry) {
            delete entry;
        }
        FlbSciMnems->viewport()->update();
        return;
    }
    FlbMnemonics->setUpdatesEnabled(false);
    FlbMnemonics->clear();
    FlbSciMnems->clear();
    TMnemonics& mnemonics = FSimulation.Mnemonics();
    for (int i = 0; i < mnemonics.Count(); ++i) {
        TMnemonic& mnemonic = mnemonics.Items(i);
        const QString display = ToQString(mnemonic.GetDisplayName());
        if (auto* chart = static_cast<TMnemonicChart*>(mnemonic.Tag())) {
            chart->Series[0]->setName(display);
            chart->Title->setText(display);
            chart->Frame->setToolTip(ToQString(TSimulation::ChartHint(mnemonic)));
        }
        const QVariant object = QVariant::fromValue(reinterpret_cast<quintptr>(&mnemonic));
        auto* entry = new QListWidgetItem(display);
        entry->setData(MnemonicRole, object);
        FlbMnemonics->addItem(entry);
        if (mnemonic.System() == "Scientific") {
            auto* sci = new QListWidgetItem(display);
            sci->setData(MnemonicRole, object);
            FlbSciMnems->addItem(sci);
        }
    }
    FlbMnemonics->setUpdatesEnabled(true);
    // The names are read in full: the list is at least as wide as its widest name.
    const int scrollBar = FlbMnemonics->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    FlbMnemonics->setMinimumWidth(FlbMnemonics->sizeHintForColumn(0) +
                                  2 * FlbMnemonics->frameWidth() + scrollBar + 4);
    FlbSciMnems->setMinimumWidth(FlbSciMnems->sizeHintForColumn(0) + 2 * FlbSciMnems->frameWidth() +
                                 scrollBar + 4);
}

// ---------------------------------------------------------------------------------------------
// The simulation's view

void TfrmCorvane::RunningChanged(bool running) {
    FtbPause->setChecked(!running);
    FtbPlay->setChecked(running);
}

void TfrmCorvane::TimerChanged(bool enabled, int interval) {
    if (FTimer1->interval() != interval) FTimer1->setInterval(interval);
    if (enabled && !FTimer1->isActive())
        FTimer1->start();
    else if (!enabled && FTimer1->isActive())
        FTimer1->stop();
    if (FtbSimSpeed->value() != interval) {
        const QSignalBlocker blocker(FtbSimSpeed);
        FtbSimSpeed->setValue(interval);
    }
}

void TfrmCorvane::CaptionChanged(const std::string& caption) {
    setWindowTitle(ToQString(caption));
}

void TfrmCorvane::LogAppended(const std::string& line) {
    FmmLog->appendPlainText(ToQString(line));
    // Long lines must not carry the view away from the time stamps at their start.
    FmmLog->horizontalScrollBar()->setValue(0);
}

void TfrmCorvane::LogLimitChanged(int lines) {
    FmmLog->setMaximumBlockCount(lines);
}

void TfrmCorvane::SystemPanelsChanged() {
    const std::vector<TSystemPanel>& panels = FSimulation.SystemPanels();
    auto* layout = static_cast<QVBoxLayout*>(FsbSystems->layout());
    while (FSystemPanels.size() < panels.size()) {
        auto* panel = new QLabel(FsbSystems);
        panel->setAlignment(Qt::AlignCenter);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Raised);
        panel->setFixedHeight(75);
        layout->insertWidget(static_cast<int>(FSystemPanels.size()), panel);
        FSystemPanels.push_back(panel);
    }
    for (size_t i = 0; i < FSystemPanels.size(); ++i) {
        QLabel* panel = FSystemPanels[i];
        if (i >= panels.size()) {
            panel->hide();
            continue;
        }
        panel->setText(ToQString(panels[i].Caption));
        panel->setToolTip(ToQString(panels[i].Hint));
        Paint(panel, StatusColour(panels[i].Colour, palette()));
        panel->show();
    }
}

void TfrmCorvane::SatelliteStateChanged(TStatusColour colour) {
    Paint(FSatellitePanel, StatusColour(colour, palette()));
}

qint64 TfrmCorvane::ChartTime(TDateTime value) {
    if (value == FCachedTime) return FCachedMSecs;
    constexpr qint64 MSecsPerDay = 86400000;
    const qint64 total = std::llround(value * MSecsPerDay);
    qint64 days = total / MSecsPerDay;
    qint64 ms = total % MSecsPerDay;
    if (ms < 0) {
        ms += MSecsPerDay;
        --days;
    }
    // The simulated clock is local time; the axis shows local time of the epoch offset.
    const QDateTime local(QDate(1899, 12, 30).addDays(days),
                          QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
    FCachedTime = value;
    FCachedMSecs = local.toMSecsSinceEpoch();
    return FCachedMSecs;
}

void TfrmCorvane::MnemonicPlotted(TMnemonic& item) {
    auto* chart = static_cast<TMnemonicChart*>(item.Tag());
    if (!chart) return;
    const qreal x = static_cast<qreal>(ChartTime(FSimulation.SimTime()));
    const double ys[SeriesCount] = {item.Value(), item.YellowHigh(), item.YellowLow(),
                                    item.RedHigh(), item.RedLow()};
    for (int s = 0; s < SeriesCount; ++s)
        chart->Series[s]->append(x, ys[s]);
    const TValueRange clip = TSimulation::ChartClipRange(item);
    const bool clipped = item.Value() < clip.Low || item.Value() > clip.High;
    if (clipped) chart->Clipped->append(x, std::clamp(item.Value(), clip.Low, clip.High));
    chart->ClippedPoints.push_back(clipped);
    Paint(chart->Title, StatusColour(TSimulation::MnemonicStatus(item), palette()));
    if (chart->Series[0]->count() > TSimulation::ChartPointLimit) {
        for (QLineSeries* series : chart->Series)
            series->remove(0);
        if (chart->ClippedPoints.front()) chart->Clipped->remove(0);
        chart->ClippedPoints.pop_front();
    }

    const QList<QPointF> points = chart->Series[0]->points();
    double low = points.front().y();
    double high = low;
    for (const QPointF& point : points) {
        low = std::min(low, point.y());
        high = std::max(high, point.y());
    }
    const TValueRange axis = TSimulation::ChartValueRange(item, low, high);
    chart->AxisY->setRange(axis.Low, axis.High);
    const qint64 first = static_cast<qint64>(points.front().x());
    const qint64 last = static_cast<qint64>(points.back().x());
    chart->AxisX->setRange(QDateTime::fromMSecsSinceEpoch(first),
                           QDateTime::fromMSecsSinceEpoch(std::max(last, first + 1000)));
}

void TfrmCorvane::ErrorRaised(const std::string& message) {
    // One box at a time, modal to the window: the simulation is paused already and cannot be
    // played or stepped on until the box is closed. A failure while it is open is in the log.
    if (FErrorBox) return;
    auto* box = new QMessageBox(QMessageBox::Critical, ToQString(FSimulation.CaptionBase()),
                                ToQString(message), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    FErrorBox = box;
    box->open();
}

void TfrmCorvane::RulesStatusChanged(const std::string& status) {
    FRulesStatus->setText(ToQString(status));
    FRulesStatus->setVisible(!status.empty());
    QPalette palette = FRulesStatus->palette();
    palette.setColor(QPalette::WindowText, FSimulation.ExpertSystemAvailable()
                                               ? this->palette().color(QPalette::WindowText)
                                               : QColor(Qt::darkRed));
    FRulesStatus->setPalette(palette);
}

bool TfrmCorvane::AskRuleFile(std::string& fileName) {
    const QString chosen =
        ExecuteFileDialog(this, false, "Open Expert System", TDataModule1::RuleFileFilter,
                          TDataModule1::RuleFileExtension, ToQString(fileName));
    if (chosen.isEmpty()) return false;
    fileName = chosen.toStdString();
    return true;
}

void TfrmCorvane::ProcessMessages() {
    QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------------------------
// Views of the parts

QWidget* TfrmCorvane::ChartOf(const TMnemonic& item) const {
    auto* chart = static_cast<TMnemonicChart*>(item.Tag());
    return chart ? chart->Frame : nullptr;
}

int TfrmCorvane::ChartPointCount(const TMnemonic& item) const {
    auto* chart = static_cast<TMnemonicChart*>(item.Tag());
    return chart ? chart->Series[0]->count() : 0;
}

QString TfrmCorvane::ChartTitle(const TMnemonic& item) const {
    auto* chart = static_cast<TMnemonicChart*>(item.Tag());
    return chart ? chart->Title->text() : QString();
}

int TfrmCorvane::ChartClippedCount(const TMnemonic& item) const {
    auto* chart = static_cast<TMnemonicChart*>(item.Tag());
    return chart ? chart->Clipped->count() : 0;
}

TValueRange TfrmCorvane::ChartAxisRange(const TMnemonic& item) const {
    auto* chart = static_cast<TMnemonicChart*>(item.Tag());
    return chart ? TValueRange{chart->AxisY->min(), chart->AxisY->max()} : TValueRange{};
}

QString TfrmCorvane::LogText() const {
    return FmmLog->toPlainText();
}

QLabel* TfrmCorvane::SystemPanel(int index) const {
    return index >= 0 && index < static_cast<int>(FSystemPanels.size())
               ? FSystemPanels[static_cast<size_t>(index)]
               : nullptr;
}

} // namespace ie

// The type frame's controls, its fuzzy-terms chart and the forwarding to TTypeFrameEditor. Every
// edit goes through Guarded, which does nothing while the frame fills its controls from the type
// and turns a refused edit into a message, so loading a type never changes it and an error never
// escapes into Qt's event loop.
#include "editors/TypeEditorFrame.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "editors/EditorFormBase.h"
#include "editors/GEdit.h"
#include "engine/model/IEDefinedType.h"

namespace ie {

// The chart of the fuzzy terms; clicks and moves are passed on in data coordinates.
class TFrameChartView : public QChartView {
public:
    TFrameChartView(QChart* chart, TIETypeEditorFrame* frame) : QChartView(chart), FFrame(frame) {
        setMouseTracking(true);
        setToolTip("Click to draw fuzzy set");
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        const QPointF v = chart()->mapToValue(event->position());
        FFrame->ChartClick(v.x(), v.y());
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        FFrame->ChartMove(chart()->mapToValue(event->position()).x());
    }

private:
    TIETypeEditorFrame* FFrame;
};

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

void Paint(QLineEdit* edit, bool valid) {
    QPalette p = edit->palette();
    p.setColor(QPalette::Base, valid ? QApplication::palette().color(QPalette::Base) : Qt::red);
    edit->setPalette(p);
}

// Backspace or Delete in a list runs an action.
class TDeleteKeyFilter : public QObject {
public:
    TDeleteKeyFilter(QObject* parent, std::function<void()> action)
        : QObject(parent), FAction(std::move(action)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
                FAction();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> FAction;
};

} // namespace

TIETypeEditorFrame::TIETypeEditorFrame(QWidget* parent) : QWidget(parent) {
    FEditor.OnChanged = [this] {
        ShowType();
        emit Changed();
    };
    auto* top = new QVBoxLayout(this);
    auto* head = new QFormLayout;
    FTypeCombo = new QComboBox(this);
    FTypeCombo->setEditable(true);
    FTypeEdit = new QLineEdit(this);
    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(FTypeCombo);
    typeRow->addWidget(FTypeEdit);
    FTypeCombo->setVisible(false);
    FAncestor = new QComboBox(this);
    FTypeLabel = new QLabel("&Type:", this);
    FTypeLabel->setBuddy(FTypeEdit);
    head->addRow(FTypeLabel, typeRow);
    head->addRow("&Extends Ancestor Type:", FAncestor);
    top->addLayout(head);

    FPages = new QTabWidget(this);
    top->addWidget(FPages, 1);
    // Basic
    auto* basic = new QWidget;
    auto* bl = new QFormLayout(basic);
    FUnits = new QLineEdit(basic);
    FComment = new QPlainTextEdit(basic);
    FFuzzy = new QCheckBox("Fu&zzy", basic);
    FKindsPanel = new QWidget(basic);
    auto* kl = new QVBoxLayout(FKindsPanel);
    FKinds = new QListWidget(FKindsPanel);
    for (TIEType kind : FrameBaseKinds()) {
        auto* it = new QListWidgetItem(Q(BaseKindName(kind)), FKinds);
        it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
        it->setCheckState(Qt::Checked);
        it->setData(Qt::UserRole, static_cast<int>(kind));
    }
    auto* selRow = new QHBoxLayout;
    auto* all = new QPushButton("Select &All", FKindsPanel);
    auto* none = new QPushButton("Select &None", FKindsPanel);
    selRow->addWidget(all);
    selRow->addWidget(none);
    kl->addWidget(FKinds);
    kl->addLayout(selRow);
    bl->addRow("&Units:", FUnits);
    bl->addRow("Co&mment:", FComment);
    bl->addRow(FFuzzy);
    bl->addRow(FKindsPanel);
    FPages->addTab(basic, "&Basic");
    // Cardinality
    auto* card = new QWidget;
    auto* cl = new QFormLayout(card);
    FLimitCard = new QCheckBox("Limit Cardinality", card);
    FCardMin = new QLineEdit("0", card);
    FCardMax = new QLineEdit("100", card);
    cl->addRow(FLimitCard);
    cl->addRow("&Min:", FCardMin);
    cl->addRow("Ma&x:", FCardMax);
    FPages->addTab(card, "&Cardinality");
    // Range
    auto* range = new QWidget;
    auto* rl = new QFormLayout(range);
    FLimitRange = new QCheckBox("Limit Range", range);
    FRangeMin = new QLineEdit("0", range);
    FRangeMax = new QLineEdit("10", range);
    rl->addRow(FLimitRange);
    rl->addRow("&Min:", FRangeMin);
    rl->addRow("Ma&x:", FRangeMax);
    FPages->addTab(range, "&Range");
    // Fuzzy
    auto* fuzzy = new QWidget;
    auto* fl = new QVBoxLayout(fuzzy);
    FExpression = new QLineEdit(fuzzy);
    fl->addWidget(FExpression);
    auto* fuzzyRow = new QHBoxLayout;
    auto* termCol = new QVBoxLayout;
    FTerms = new QListWidget(fuzzy);
    FTerms->setSortingEnabled(true);
    FTermName = new TGEdit(fuzzy);
    FTermName->SetFilterChars(
        QString::fromLatin1(TermFilterChars.data(), static_cast<int>(TermFilterChars.size())));
    FTermName->SetFiltering(efBeep);
    auto* newTerm = new QPushButton("&New", fuzzy);
    termCol->addWidget(FTerms, 1);
    termCol->addWidget(FTermName);
    termCol->addWidget(newTerm);
    FTerms->setMaximumWidth(150);
    FTermName->setMaximumWidth(150);
    fuzzyRow->addLayout(termCol);
    auto* chart = new QChart;
    chart->legend()->setVisible(false);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    FChart = new TFrameChartView(chart, this);
    // Terms are drawn on the chart by clicking it: it needs room for readable axes and for
    // accurate clicks.
    FChart->setMinimumSize(ChartMinimumWidth, ChartMinimumHeight);
    FChart->setRenderHint(QPainter::Antialiasing);
    fuzzyRow->addWidget(FChart, 1);
    fl->addLayout(fuzzyRow, 1);
    auto* shapes = new QHBoxLayout;
    const char* shapeCaptions[] = {"Draw", "/\\", "Z", "PI", "B", "S"};
    const char* shapeHints[] = {
        "Draw Fuzzy Set as series of points", "Create a Triangle (Sawtooth) Fuzzy Set",
        "Create a Decline Curve Fuzzy Set",   "Create a PI Shaped Fuzzy Set",
        "Create a Beta Curve Fuzzy Set",      "Create a Growth Curve Fuzzy Set"};
    for (int mode = 0; mode < 6; ++mode) {
        auto* b = new QToolButton(fuzzy);
        b->setText(shapeCaptions[mode]);
        b->setToolTip(shapeHints[mode]);
        connect(b, &QToolButton::clicked, this, [this, mode] { ChooseShape(mode); });
        shapes->addWidget(b);
    }
    FShowAll = new QCheckBox("Show All", fuzzy);
    shapes->addWidget(FShowAll);
    fl->addLayout(shapes);
    FPages->addTab(fuzzy, "&Fuzzy");
    // Allowed values
    auto* allowed = new QWidget;
    auto* al = new QVBoxLayout(allowed);
    FTabs = new QTabBar(allowed);
    for (const char* t : {"A&ny", "Sy&mbols", "&Strings", "&Integers", "&Floats"})
        FTabs->addTab(t);
    FAllowed = new QListWidget(allowed);
    FAllowedEdit = new QLineEdit(allowed);
    auto* buttons = new QHBoxLayout;
    FAdd = new QPushButton("&Add", allowed);
    FDelete = new QPushButton("&Delete", allowed);
    FClear = new QPushButton("&Clear", allowed);
    buttons->addWidget(FAdd);
    buttons->addWidget(FDelete);
    buttons->addWidget(FClear);
    al->addWidget(FTabs);
    al->addWidget(FAllowed, 1);
    al->addWidget(FAllowedEdit);
    al->addLayout(buttons);
    FPages->addTab(allowed, "Allowed &Values");

    // Edits.
    connect(FUnits, &QLineEdit::textEdited, this,
            [this](const QString& t) { Guarded([&] { FEditor.SetUnits(t.toStdString()); }); });
    connect(FComment, &QPlainTextEdit::textChanged, this, [this] {
        if (!FLoading) Guarded([&] { FEditor.SetComment(FComment->toPlainText().toStdString()); });
    });
    connect(FTypeEdit, &QLineEdit::textEdited, this,
            [this](const QString& t) { Guarded([&] { FEditor.Rename(t.toStdString()); }); });
    connect(FTypeCombo, &QComboBox::textActivated, this, [this](const QString& t) {
        if (FLoading) return;
        TInferenceEngine* e = IE();
        TRefPtr<IIEDefinedType> existing = e ? e->DefinedTypes().Find(t.toStdString()) : nullptr;
        if (existing)
            SetCType(existing);
        else
            Guarded([&] { FEditor.Rename(t.toStdString()); });
    });
    connect(FAncestor, &QComboBox::textActivated, this, [this](const QString& t) {
        if (FLoading) return;
        Guarded([&] {
            if (!FEditor.ChooseAncestor(t.toStdString())) FAncestor->setCurrentIndex(-1);
        });
    });
    connect(FFuzzy, &QCheckBox::clicked, this,
            [this](bool on) { Guarded([&] { FEditor.SetFuzzy(on, CheckedKinds()); }); });
    connect(FKinds, &QListWidget::itemChanged, this, [this] {
        if (!FLoading) Guarded([&] { FEditor.SetBaseKinds(CheckedKinds()); });
    });
    connect(all, &QPushButton::clicked, this, [this] { Guarded([&] { FEditor.SelectAll(); }); });
    connect(none, &QPushButton::clicked, this, [this] { Guarded([&] { FEditor.SelectNone(); }); });
    connect(FLimitCard, &QCheckBox::clicked, this,
            [this](bool on) { Guarded([&] { FEditor.SetCardinalityLimited(on); }); });
    connect(FLimitRange, &QCheckBox::clicked, this,
            [this](bool on) { Guarded([&] { FEditor.SetRangeLimited(on); }); });
    // An empty maximum or range bound is no limit.
    for (QLineEdit* e : {FCardMax, FRangeMin, FRangeMax})
        e->setPlaceholderText("no limit");
    connect(FCardMin, &QLineEdit::textEdited, this, [this](const QString& t) {
        Paint(FCardMin, TTypeFrameEditor::IsIntegerText(t.toStdString()));
    });
    connect(FCardMax, &QLineEdit::textEdited, this, [this](const QString& t) {
        Paint(FCardMax, t.trimmed().isEmpty() || TTypeFrameEditor::IsIntegerText(t.toStdString()));
    });
    for (QLineEdit* e : {FRangeMin, FRangeMax})
        connect(e, &QLineEdit::textEdited, this, [e](const QString& t) {
            Paint(e, t.trimmed().isEmpty() || TTypeFrameEditor::IsNumberText(t.toStdString()));
        });
    connect(FCardMin, &QLineEdit::editingFinished, this, [this] {
        Guarded([&] { FEditor.StoreMinCardinality(FCardMin->text().toStdString()); });
    });
    connect(FCardMax, &QLineEdit::editingFinished, this, [this] {
        Guarded([&] { FEditor.StoreMaxCardinality(FCardMax->text().toStdString()); });
    });
    connect(FRangeMin, &QLineEdit::editingFinished, this,
            [this] { Guarded([&] { FEditor.StoreMinRange(FRangeMin->text().toStdString()); }); });
    connect(FRangeMax, &QLineEdit::editingFinished, this,
            [this] { Guarded([&] { FEditor.StoreMaxRange(FRangeMax->text().toStdString()); }); });

    // Terms.
    connect(newTerm, &QPushButton::clicked, this, [this] {
        Guarded([&] {
            const QString name = Q(FEditor.NewTerm());
            const auto found = FTerms->findItems(name, Qt::MatchExactly);
            if (!found.isEmpty()) FTerms->setCurrentItem(found.front());
        });
    });
    connect(FTermName, &QLineEdit::returnPressed, newTerm, &QPushButton::click);
    connect(FTermName, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (!FTerms->currentItem() && !t.isEmpty()) {
            Guarded([&] {
                const QString name = Q(FEditor.NewTerm(t.toStdString()));
                const auto found = FTerms->findItems(name, Qt::MatchExactly);
                if (!found.isEmpty()) FTerms->setCurrentItem(found.front());
                FTermName->setText(t);
                FTermName->setCursorPosition(static_cast<int>(t.size()));
            });
        }
    });
    connect(FTermName, &QLineEdit::editingFinished, this, [this] {
        const QString old = SelectedTerm();
        const QString now = FTermName->text();
        if (old.isEmpty() || now.isEmpty() || old == now) return;
        Guarded([&] { FEditor.RenameTerm(old.toStdString(), now.toStdString()); });
        const auto found = FTerms->findItems(now, Qt::MatchExactly);
        if (!found.isEmpty()) FTerms->setCurrentItem(found.front());
    });
    connect(FTerms, &QListWidget::currentItemChanged, this, [this] {
        if (FLoading) return;
        const QString term = SelectedTerm();
        FLoading = true;
        FTermName->setText(term);
        FExpression->setText(Q(FEditor.TermExpression(term.toStdString())));
        FLoading = false;
        DrawTerms();
    });
    FTerms->installEventFilter(new TDeleteKeyFilter(this, [this] {
        const QString term = SelectedTerm();
        if (!term.isEmpty()) Guarded([&] { FEditor.RemoveTerm(term.toStdString()); });
    }));
    connect(FExpression, &QLineEdit::textEdited, this, [this](const QString& t) {
        const QString term = SelectedTerm();
        if (term.isEmpty()) return;
        FLoading = true;
        bool ok = false;
        try {
            ok = FEditor.SetTermExpression(term.toStdString(), t.toStdString(), false);
        } catch (const std::exception&) {
            ok = false;
        }
        FLoading = false;
        Paint(FExpression, ok);
        if (ok) DrawTerms();
    });
    connect(FExpression, &QLineEdit::editingFinished, this, [this] {
        const QString term = SelectedTerm();
        if (term.isEmpty()) return;
        Guarded([&] {
            FEditor.SetTermExpression(term.toStdString(), FExpression->text().toStdString(), true);
        });
    });
    connect(FShowAll, &QCheckBox::toggled, this, [this](bool on) {
        FChart->chart()->legend()->setVisible(on);
        DrawTerms();
    });

    // Allowed values.
    connect(FTabs, &QTabBar::currentChanged, this, [this] { ShowAllowed(); });
    connect(FAllowedEdit, &QLineEdit::textChanged, this, [this](const QString& t) {
        const bool ok =
            FEditor.CanAdd(static_cast<TAllowedTab>(FTabs->currentIndex()), t.toStdString());
        FAdd->setEnabled(ok);
        Paint(FAllowedEdit, ok || t.isEmpty());
    });
    connect(FAllowedEdit, &QLineEdit::returnPressed, FAdd, &QPushButton::click);
    connect(FAdd, &QPushButton::clicked, this, [this] {
        const std::string text = FAllowedEdit->text().toStdString();
        Guarded([&] { FEditor.AddAllowed(static_cast<TAllowedTab>(FTabs->currentIndex()), text); });
        const auto found = FAllowed->findItems(Q(text), Qt::MatchExactly);
        if (!found.isEmpty()) FAllowed->setCurrentItem(found.front());
        FDelete->setEnabled(FAllowed->currentItem() != nullptr);
        FAllowedEdit->clear();
        FAllowedEdit->setFocus();
    });
    auto deleteAllowed = [this] {
        const int row = FAllowed->currentRow();
        if (row < 0) return;
        Guarded([&] {
            FEditor.DeleteAllowed(static_cast<TAllowedTab>(FTabs->currentIndex()), row,
                                  FAllowed->item(row)->text().toStdString());
        });
    };
    connect(FDelete, &QPushButton::clicked, this, deleteAllowed);
    FAllowed->installEventFilter(new TDeleteKeyFilter(this, deleteAllowed));
    connect(FClear, &QPushButton::clicked, this, [this] {
        Guarded([&] { FEditor.ClearAllowed(static_cast<TAllowedTab>(FTabs->currentIndex())); });
    });
    connect(FAllowed, &QListWidget::currentRowChanged, this,
            [this](int row) { FDelete->setEnabled(row >= 0); });
    FAdd->setEnabled(false);
    FDelete->setEnabled(false);

    // Help topics, in the help file of the embedding form.
    const std::pair<QObject*, int> topics[] = {
        {FTypeCombo, 5010},
        {FTypeEdit, 5400},
        {FAncestor, 5390},
        {FPages->widget(0), 5030},
        {FUnits, 5040},
        {FComment, 5050},
        {FFuzzy, 5060},
        {FKinds, 132},
        {all, 290},
        {none, 300},
        {FPages->widget(1), 5070},
        {FLimitCard, 5110},
        {FCardMin, 5080},
        {FCardMax, 5090},
        {FPages->widget(2), 5100},
        {FLimitRange, 5120},
        {FRangeMin, 5130},
        {FRangeMax, 5140},
        {FPages->widget(3), 5150},
        {FExpression, 5160},
        {FTerms, 5170},
        {FTermName, 5180},
        {newTerm, 5190},
        {FChart, 5200},
        {FShowAll, 5270},
        {FPages->widget(4), 5280},
        {FAllowed, 5300},
        {FAllowedEdit, 5310},
        {FAdd, 5320},
        {FDelete, 5330},
        {FClear, 5340},
    };
    for (const auto& [item, context] : topics)
        SetHelpContext(item, context);
    const int tabTopics[] = {5290, 5350, 5360, 5370, 5380};
    for (int t = 0; t < FTabs->count() && t < 5; ++t)
        FTabs->setTabWhatsThis(t, QString::number(tabTopics[t]));
}

QChart* TIETypeEditorFrame::Chart() const {
    return FChart->chart();
}

QChartView* TIETypeEditorFrame::ChartView() const {
    return FChart;
}

QLineEdit* TIETypeEditorFrame::NameEdit() const {
    return FAllowTypeChange ? FTypeCombo->lineEdit() : FTypeEdit;
}

void TIETypeEditorFrame::Guarded(const std::function<void()>& work, bool report) {
    if (FLoading) return;
    try {
        work();
    } catch (const std::exception& e) {
        if (report) QMessageBox::critical(this, windowTitle(), QString::fromUtf8(e.what()));
    }
}

void TIETypeEditorFrame::SetIE(TInferenceEngine* engine) {
    FEditor.SetEngine(engine);
    RefreshNames();
}

void TIETypeEditorFrame::SetAllowTypeChange(bool value) {
    FAllowTypeChange = value;
    FTypeCombo->setVisible(value);
    FTypeEdit->setVisible(!value);
    FTypeLabel->setBuddy(value ? static_cast<QWidget*>(FTypeCombo) : FTypeEdit);
}

void TIETypeEditorFrame::RefreshNames() {
    FLoading = true;
    FTypeCombo->clear();
    FAncestor->clear();
    if (TInferenceEngine* e = IE()) {
        auto it = e->DefinedTypes().Keys();
        QStringList names;
        while (it->HasNext())
            names << Q(it->NextString());
        names.sort(Qt::CaseInsensitive);
        FTypeCombo->addItems(names);
        FAncestor->addItems(names);
    }
    FLoading = false;
    ShowType();
}

void TIETypeEditorFrame::SetCType(const TRefPtr<IIEDefinedType>& type) {
    if (type && type.get() == CType().get()) return;
    FEditor.SetType(type);
    FClicks = TFuzzyShapeClicks();
    ShowType();
}

void TIETypeEditorFrame::ShowSlotType(const IFactSlot& slot) {
    FEditor.SetSlotType(slot);
    ShowType();
}

TIETypes TIETypeEditorFrame::CheckedKinds() const {
    TIETypes kinds;
    for (int i = 0; i < FKinds->count(); ++i)
        if (FKinds->item(i)->checkState() == Qt::Checked)
            kinds.Include(static_cast<TIEType>(FKinds->item(i)->data(Qt::UserRole).toInt()));
    return kinds;
}

void TIETypeEditorFrame::ShowType() {
    const TRefPtr<IIEDefinedType>& t = CType();
    FLoading = true;
    const QString name = t ? Q(t->GetName()) : QString();
    if (FTypeEdit->text() != name) FTypeEdit->setText(name);
    FTypeCombo->setCurrentText(name);
    TRefPtr<IIEDefinedType> ancestor = t ? t->GetAncestor() : nullptr;
    FAncestor->setCurrentIndex(ancestor ? FAncestor->findText(Q(ancestor->GetName())) : -1);
    if (t && FUnits->text() != Q(t->GetUnits())) FUnits->setText(Q(t->GetUnits()));
    if (t && FComment->toPlainText() != Q(t->GetComment()))
        FComment->setPlainText(Q(t->GetComment()));
    const bool fuzzy = FEditor.Fuzzy();
    FFuzzy->setChecked(fuzzy);
    FKindsPanel->setVisible(!fuzzy);
    if (t && !fuzzy)
        for (int i = 0; i < FKinds->count(); ++i) {
            const auto kind = static_cast<TIEType>(FKinds->item(i)->data(Qt::UserRole).toInt());
            FKinds->item(i)->setCheckState(t->GetBaseTypes().Contains(kind) ? Qt::Checked
                                                                            : Qt::Unchecked);
        }
    if (t) {
        FLimitCard->setChecked(t->GetCardinalityLimited());
        FCardMin->setText(QString::number(t->GetMinCardinality()));
        FCardMax->setText(Q(TTypeFrameEditor::MaxCardinalityText(t->GetMaxCardinality())));
        FLimitRange->setChecked(t->GetRangeLimited());
        FRangeMin->setText(Q(TTypeFrameEditor::RangeText(t->GetMinRange())));
        FRangeMax->setText(Q(TTypeFrameEditor::RangeText(t->GetMaxRange())));
    }
    FPages->setTabVisible(2, FEditor.RangePageShown());
    FPages->setTabVisible(3, fuzzy);
    FPages->setTabVisible(4, FEditor.AllowedPageShown());
    for (int tab = 0; tab < 5; ++tab)
        FTabs->setTabVisible(tab, FEditor.AllowedTabShown(static_cast<TAllowedTab>(tab)));
    FLoading = false;
    if (FEditor.AllowedPageShown()) ShowAllowed();
    if (fuzzy) ShowTerms();
}

void TIETypeEditorFrame::ShowAllowed() {
    const int row = FAllowed->currentRow();
    FAllowed->clear();
    for (const std::string& line :
         FEditor.AllowedLines(static_cast<TAllowedTab>(FTabs->currentIndex())))
        FAllowed->addItem(Q(line));
    if (row >= 0 && row < FAllowed->count()) FAllowed->setCurrentRow(row);
    FClear->setEnabled(FAllowed->count() > 0);
    FDelete->setEnabled(FAllowed->currentRow() >= 0);
}

QString TIETypeEditorFrame::SelectedTerm() const {
    return FTerms->currentItem() ? FTerms->currentItem()->text() : QString();
}

void TIETypeEditorFrame::ShowTerms() {
    const QString selected = SelectedTerm();
    FLoading = true;
    FTerms->clear();
    for (const std::string& name : FEditor.TermNames())
        FTerms->addItem(Q(name));
    const auto found = FTerms->findItems(selected, Qt::MatchExactly);
    if (!selected.isEmpty() && !found.isEmpty()) FTerms->setCurrentItem(found.front());
    FLoading = false;
    DrawTerms();
}

void TIETypeEditorFrame::DrawTerms(const QString& preview) {
    QChart* chart = FChart->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        // The chart gives up an axis it removes.
        chart->removeAxis(axis);
        delete axis;
    }
    auto addSeries = [&](const QString& name, const IFuzzySet& set) {
        auto* series = new QLineSeries;
        series->setName(name);
        for (const auto& p : set.Points())
            series->append(p.X, p.Y);
        chart->addSeries(series);
    };
    const QString selected = SelectedTerm();
    for (const std::string& name : FEditor.TermNames()) {
        const QString qn = Q(name);
        if (qn != selected && !FShowAll->isChecked()) continue;
        if (qn == selected && !preview.isEmpty()) continue;
        if (TRefPtr<IFuzzySet> set = FEditor.Term(name)) addSeries(qn, *set);
    }
    if (!preview.isEmpty()) {
        try {
            if (TRefPtr<IFuzzySet> set = FEditor.Evaluate(preview.toStdString()))
                addSeries(selected, *set);
        } catch (const std::exception&) {
            // A preview that does not evaluate is not drawn.
        }
    }
    auto* x = new QValueAxis;
    auto* y = new QValueAxis;
    y->setRange(0, 1);
    y->setTickCount(3);
    y->setLabelFormat("%.1f");
    x->setTickCount(5);
    x->setLabelFormat("%.4g");
    QFont labels = x->labelsFont();
    labels.setPointSizeF(std::max(6.0, labels.pointSizeF() * 0.85));
    x->setLabelsFont(labels);
    y->setLabelsFont(labels);
    if (const TRefPtr<IIEDefinedType>& t = CType(); t && t->GetRangeLimited())
        x->setRange(t->GetMinRange(), t->GetMaxRange());
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
}

void TIETypeEditorFrame::ChooseShape(int mode) {
    if (mode == FClicks.Mode()) return;
    const QString term = SelectedTerm();
    const std::string started = FClicks.Choose(mode, FEditor.TermExpression(term.toStdString()));
    if (!term.isEmpty()) FExpression->setText(Q(started));
}

void TIETypeEditorFrame::ChartClick(double x, double y) {
    const QString term = SelectedTerm();
    if (term.isEmpty()) return;
    if (FClicks.Mode() == 0) {
        Guarded([&] { FEditor.AddTermPoint(term.toStdString(), x, y); });
        return;
    }
    bool complete = false;
    const std::string text = FClicks.Click(x, complete);
    FExpression->setText(Q(text));
    if (complete) Guarded([&] { FEditor.SetTermExpression(term.toStdString(), text, true); });
}

void TIETypeEditorFrame::ChartMove(double x) {
    const std::string preview = FClicks.Preview(x);
    if (!preview.empty() && !SelectedTerm().isEmpty()) DrawTerms(Q(preview));
}

} // namespace ie

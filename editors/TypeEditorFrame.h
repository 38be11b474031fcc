// TIETypeEditorFrame: the embeddable panel that edits one defined type: name and ancestor,
// units, comment, kinds and the fuzzy flag, cardinality and range limits, fuzzy terms drawn on a
// chart (with shapes built by clicking it) and allowed values. What an edit does lives in
// TTypeFrameEditor; the frame lays out the controls and forwards to it.
#pragma once

#include <QWidget>

#include "editors/logic/TypeFrameEditor.h"
#include "engine/InferenceEngine.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QTabWidget;
class QTabBar;
class QPushButton;
class QAction;
class QChartView;
class QChart;
class QValueAxis;

namespace ie {

class TGEdit;
class TFrameChartView;

class TIETypeEditorFrame : public QWidget {
    Q_OBJECT
public:
    // The least room of the fuzzy chart.
    static constexpr int ChartMinimumWidth = 320;
    static constexpr int ChartMinimumHeight = 200;

    explicit TIETypeEditorFrame(QWidget* parent = nullptr);

    TInferenceEngine* IE() const noexcept { return FEditor.Engine(); }
    void SetIE(TInferenceEngine* engine);
    const TRefPtr<IIEDefinedType>& CType() const noexcept { return FEditor.Type(); }
    void SetCType(const TRefPtr<IIEDefinedType>& type);
    // The type of a slot in the template editor.
    void ShowSlotType(const IFactSlot& slot);
    bool AllowTypeChange() const noexcept { return FAllowTypeChange; }
    void SetAllowTypeChange(bool value);
    bool EnableNonImplicitEditing() const noexcept { return FEditor.EnableNonImplicitEditing; }
    void SetEnableNonImplicitEditing(bool value) { FEditor.EnableNonImplicitEditing = value; }
    // Refreshes the type-name lists from the engine.
    void RefreshNames();

    TTypeFrameEditor& Editor() noexcept { return FEditor; }
    QTabWidget* Pages() const { return FPages; }
    QCheckBox* FuzzyCheck() const { return FFuzzy; }
    QListWidget* BaseKinds() const { return FKinds; }
    QListWidget* Terms() const { return FTerms; }
    QLineEdit* Expression() const { return FExpression; }
    QListWidget* AllowedList() const { return FAllowed; }
    QLineEdit* AllowedEdit() const { return FAllowedEdit; }
    QPushButton* AllowedAdd() const { return FAdd; }
    QTabBar* AllowedTabs() const { return FTabs; }
    QLineEdit* CardinalityMin() const { return FCardMin; }
    QLineEdit* CardinalityMax() const { return FCardMax; }
    QLineEdit* RangeMin() const { return FRangeMin; }
    QLineEdit* RangeMax() const { return FRangeMax; }
    QChart* Chart() const;
    QChartView* ChartView() const;
    QLineEdit* NameEdit() const;
    // Chart clicks in data coordinates (what a mouse click on the chart does).
    void ChartClick(double x, double y);
    void ChartMove(double x);
    void ChooseShape(int mode);
    void ShowTerms();

signals:
    void Changed();

private:
    void ShowType();
    void ShowAllowed();
    void DrawTerms(const QString& preview = {});
    QString SelectedTerm() const;
    TIETypes CheckedKinds() const;
    void Guarded(const std::function<void()>& work, bool report = true);

    TTypeFrameEditor FEditor;
    TFuzzyShapeClicks FClicks;
    bool FAllowTypeChange = false;
    bool FLoading = false;
    QLabel* FTypeLabel = nullptr;
    QComboBox* FTypeCombo = nullptr;
    QLineEdit* FTypeEdit = nullptr;
    QComboBox* FAncestor = nullptr;
    QTabWidget* FPages = nullptr;
    QLineEdit* FUnits = nullptr;
    QPlainTextEdit* FComment = nullptr;
    QCheckBox* FFuzzy = nullptr;
    QListWidget* FKinds = nullptr;
    QCheckBox* FLimitCard = nullptr;
    QLineEdit* FCardMin = nullptr;
    QLineEdit* FCardMax = nullptr;
    QCheckBox* FLimitRange = nullptr;
    QLineEdit* FRangeMin = nullptr;
    QLineEdit* FRangeMax = nullptr;
    QLineEdit* FExpression = nullptr;
    QListWidget* FTerms = nullptr;
    TGEdit* FTermName = nullptr;
    QCheckBox* FShowAll = nullptr;
    TFrameChartView* FChart = nullptr;
    QTabBar* FTabs = nullptr;
    QListWidget* FAllowed = nullptr;
    QLineEdit* FAllowedEdit = nullptr;
    QPushButton* FAdd = nullptr;
    QPushButton* FDelete = nullptr;
    QPushButton* FClear = nullptr;
    QWidget* FKindsPanel = nullptr;
};

} // namespace ie

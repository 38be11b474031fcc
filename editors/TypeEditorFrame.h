// TIETypeEditorFrame: the embeddable panel that edits one defined type: its name, units and
// comment, with the engine whose types the name list shows.
#pragma once

#include <QWidget>

#include "engine/InferenceEngine.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QCheckBox;

namespace ie {

class TIETypeEditorFrame : public QWidget {
    Q_OBJECT
public:
    explicit TIETypeEditorFrame(QWidget* parent = nullptr);

    TInferenceEngine* IE() const noexcept { return FIE; }
    void SetIE(TInferenceEngine* engine);
    const TRefPtr<IIEDefinedType>& CType() const noexcept { return FType; }
    void SetCType(const TRefPtr<IIEDefinedType>& type);
    bool AllowTypeChange = false;
    bool EnableNonImplicitEditing = true;
    // Refreshes the type-name lists from the engine.
    void RefreshNames();

signals:
    void Changed();

private:
    void ShowType();

    TInferenceEngine* FIE = nullptr;
    TRefPtr<IIEDefinedType> FType;
    QLineEdit* FName = nullptr;
    QComboBox* FAncestor = nullptr;
    QLineEdit* FUnits = nullptr;
    QPlainTextEdit* FComment = nullptr;
    QCheckBox* FFuzzy = nullptr;
    bool FLoading = false;
};

} // namespace ie

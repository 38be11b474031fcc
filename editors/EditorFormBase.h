// The common frame of the editor forms: a private engine owned by the form, a caption, OK,
// Cancel and Help buttons and a status bar whose first panel shows the hints.
#pragma once

#include <QDialog>
#include <memory>

#include "engine/InferenceEngine.h"

class QVBoxLayout;
class QStatusBar;

namespace ie {

class TEditorFormBase : public QDialog {
    Q_OBJECT
public:
    TEditorFormBase(const QString& caption, int helpContext, QWidget* parent = nullptr);

    TInferenceEngine& PrivateEngine() { return *FEngine; }
    QStatusBar* StatusBar() const { return FStatus; }
    // Runs work and shows what it raised.
    bool Guard(const std::function<void()>& work);

protected:
    // The layout above the buttons that the form fills.
    QVBoxLayout* Body() const { return FBody; }

private:
    std::unique_ptr<TInferenceEngine, TComponentDeleter> FEngine;
    QVBoxLayout* FBody = nullptr;
    QStatusBar* FStatus = nullptr;
};

} // namespace ie

#include "editors/EditorFormBase.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace ie {

TEditorFormBase::TEditorFormBase(const QString& caption, int helpContext, QWidget* parent)
    : QDialog(parent), FEngine(new TInferenceEngine(nullptr)) {
    FEngine->SetTypeChecks(TTypeChecks{tcStatic, tcDynamic});
    setWindowTitle(caption);
    setWhatsThis(QString::number(helpContext));
    auto* top = new QVBoxLayout(this);
    FBody = new QVBoxLayout;
    top->addLayout(FBody, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    auto* help = new QPushButton("&Help", this);
    help->setWhatsThis(QString::number(helpContext));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    top->addLayout(buttons);
    FStatus = new QStatusBar(this);
    top->addWidget(FStatus);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TEditorFormBase::Guard(const std::function<void()>& work) {
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        QMessageBox::critical(this, windowTitle(), QString::fromUtf8(e.what()));
        return false;
    }
}

} // namespace ie

#include "editors/TypeEditorFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "engine/IEDefinedType.h"

namespace ie {

TIETypeEditorFrame::TIETypeEditorFrame(QWidget* parent) : QWidget(parent) {
    auto* form = new QFormLayout(this);
    FName = new QLineEdit(this);
    FAncestor = new QComboBox(this);
    FUnits = new QLineEdit(this);
    FComment = new QPlainTextEdit(this);
    FFuzzy = new QCheckBox("Fu&zzy", this);
    FFuzzy->setEnabled(false);
    form->addRow("&Type:", FName);
    form->addRow("&Extends Ancestor Type:", FAncestor);
    form->addRow("&Units:", FUnits);
    form->addRow("Co&mment:", FComment);
    form->addRow(FFuzzy);
    connect(FName, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (FLoading || !FType) return;
        FType->SetName(t.toStdString());
        emit Changed();
    });
    connect(FUnits, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (FLoading || !FType) return;
        FType->SetUnits(t.toStdString());
        emit Changed();
    });
    connect(FComment, &QPlainTextEdit::textChanged, this, [this] {
        if (FLoading || !FType) return;
        FType->SetComment(FComment->toPlainText().toStdString());
        emit Changed();
    });
}

void TIETypeEditorFrame::SetIE(TInferenceEngine* engine) {
    FIE = engine;
    RefreshNames();
}

void TIETypeEditorFrame::RefreshNames() {
    FAncestor->clear();
    if (!FIE) return;
    for (auto& entry : FIE->DefinedTypes())
        if (auto* t = dynamic_cast<IIEDefinedType*>(entry.Intf().get()))
            FAncestor->addItem(QString::fromStdString(t->GetName()));
    FAncestor->model()->sort(0);
}

void TIETypeEditorFrame::SetCType(const TRefPtr<IIEDefinedType>& type) {
    FType = type;
    if (!FType && FIE) FType = TIEDefinedType::Create(FIE);
    ShowType();
}

void TIETypeEditorFrame::ShowType() {
    FLoading = true;
    FName->setText(FType ? QString::fromStdString(FType->GetName()) : QString());
    FUnits->setText(FType ? QString::fromStdString(FType->GetUnits()) : QString());
    FComment->setPlainText(FType ? QString::fromStdString(FType->GetComment()) : QString());
    FFuzzy->setChecked(FType && FType->GetBaseTypes().Contains(dtFuzzy));
    FLoading = false;
}

} // namespace ie

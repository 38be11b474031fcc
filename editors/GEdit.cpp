// The filtering edit's key and paste handling over TEditFilter. A typed character is filtered
// before the edit sees it, and a pasted text is filtered as a whole; when filtering raises, the
// edit goes back to its last accepted text, so it never shows a refused character.
#include "editors/GEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>

namespace ie {

TGEdit::TGEdit(QWidget* parent) : QLineEdit(parent) {
    FFilter.OnBeep = [] { QApplication::beep(); };
    connect(this, &QLineEdit::textChanged, this, [this](const QString& t) { TextChanged(t); });
}

void TGEdit::SetFiltering(TEditFiltering value) {
    if (value == FFilter.Filtering()) return;
    FFilter.SetFiltering(value);
    Refilter();
}

void TGEdit::SetFilterChars(const QString& value) {
    if (value.toStdString() == FFilter.FilterChars()) return;
    FFilter.SetFilterChars(value.toStdString());
    Refilter();
}

void TGEdit::Refilter() {
    if (!FFilter.Active() || text().isEmpty()) return;
    const QString filtered = QString::fromStdString(FFilter.Refilter(text().toStdString()));
    FLastAccepted = filtered;
    if (filtered != text()) {
        FFiltering = true;
        setText(filtered);
        FFiltering = false;
    }
}

void TGEdit::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    if (FFilter.Active() && typed.size() == 1 && typed[0].unicode() < 128) {
        try {
            if (FFilter.FilterChar(static_cast<char>(typed[0].unicode())) == '\0') return;
        } catch (const EEditError& e) {
            QMessageBox::critical(this, windowTitle(), QString::fromUtf8(e.what()));
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TGEdit::focusInEvent(QFocusEvent* event) {
    FLastAccepted = text();
    QLineEdit::focusInEvent(event);
}

void TGEdit::focusOutEvent(QFocusEvent* event) {
    Refilter();
    QLineEdit::focusOutEvent(event);
}

void TGEdit::TextChanged(const QString& value) {
    if (FFiltering || value == FLastAccepted) return;
    if (!FFilter.Active()) {
        FLastAccepted = value;
        return;
    }
    try {
        Refilter();
    } catch (const EEditError&) {
        // The edit keeps its previous text.
        FFiltering = true;
        setText(FLastAccepted);
        FFiltering = false;
        return;
    }
    FLastAccepted = text();
}

} // namespace ie

// TGEdit: a one-line edit that refuses a configurable set of characters (names the rule
// language would not accept), typed or pasted.
#pragma once

#include <QLineEdit>

#include "editors/logic/EditFilter.h"

namespace ie {

class TGEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TGEdit(QWidget* parent = nullptr);

    TEditFiltering Filtering() const noexcept { return FFilter.Filtering(); }
    void SetFiltering(TEditFiltering value);
    QString FilterChars() const { return QString::fromStdString(FFilter.FilterChars()); }
    void SetFilterChars(const QString& value);
    // Filters the whole text again.
    virtual void Refilter();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void TextChanged(const QString& text);

    TEditFilter FFilter;
    QString FLastAccepted;
    bool FFiltering = false;
};

} // namespace ie

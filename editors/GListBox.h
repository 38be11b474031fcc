// TGListBox: a list box whose horizontal scroll range follows its widest line, so long facts,
// rules and activations can be scrolled into view.
#pragma once

#include <QListWidget>

#include "editors/logic/ListExtent.h"

namespace ie {

class TGListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TGListBox(QWidget* parent = nullptr);

    bool HorizontalScrollBar() const noexcept { return FHorizontalScrollBar; }
    void SetHorizontalScrollBar(bool value);

    void AddLine(const QString& text, qintptr key = 0);
    void InsertLine(int index, const QString& text, qintptr key = 0);
    void DeleteLine(int index);
    void ClearLines();
    int IndexOfKey(qintptr key) const;
    qintptr KeyAt(int index) const;
    int WidestExtent() const noexcept { return FExtent.Widest(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::vector<std::string> Lines() const;
    void ApplyExtent();

    TListExtent FExtent;
    bool FHorizontalScrollBar = false;
};

} // namespace ie

// The list box over TListExtent. Each line carries its item's key; extents are counted only
// while the horizontal scroll bar is on, and rescanned when it is switched on, so a deleted line
// is the only one measured again.
#include "editors/GListBox.h"

#include <QFontMetrics>
#include <QScrollBar>

namespace ie {

TGListBox::TGListBox(QWidget* parent)
    : QListWidget(parent), FExtent([this](const std::string& text) {
          return static_cast<int32_t>(
              QFontMetrics(font()).horizontalAdvance(QString::fromStdString(text)));
      }) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

std::vector<std::string> TGListBox::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(count()));
    for (int i = 0; i < count(); ++i)
        lines.push_back(item(i)->text().toStdString());
    return lines;
}

void TGListBox::SetHorizontalScrollBar(bool value) {
    FHorizontalScrollBar = value;
    if (value) FExtent.Rescan(Lines());
    ApplyExtent();
}

void TGListBox::AddLine(const QString& text, qintptr key) {
    InsertLine(count(), text, key);
}

void TGListBox::InsertLine(int index, const QString& text, qintptr key) {
    auto* it = new QListWidgetItem(text);
    it->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(key));
    insertItem(index, it);
    if (FHorizontalScrollBar) {
        FExtent.Added(text.toStdString());
        ApplyExtent();
    }
}

void TGListBox::DeleteLine(int index) {
    if (index < 0 || index >= count()) return;
    // Only the going line is measured; the others' extents are kept counted.
    const bool widestChanged =
        FHorizontalScrollBar && FExtent.Deleted(item(index)->text().toStdString());
    delete takeItem(index);
    if (widestChanged) ApplyExtent();
}

void TGListBox::ClearLines() {
    clear();
    FExtent.Cleared();
    ApplyExtent();
}

int TGListBox::IndexOfKey(qintptr key) const {
    for (int i = 0; i < count(); ++i)
        if (KeyAt(i) == key) return i;
    return -1;
}

qintptr TGListBox::KeyAt(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? static_cast<qintptr>(it->data(Qt::UserRole).toLongLong()) : 0;
}

void TGListBox::ApplyExtent() {
    const bool show = FExtent.BarVisible(FHorizontalScrollBar, viewport()->width());
    setHorizontalScrollBarPolicy(show ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void TGListBox::resizeEvent(QResizeEvent* event) {
    QListWidget::resizeEvent(event);
    ApplyExtent();
}

} // namespace ie

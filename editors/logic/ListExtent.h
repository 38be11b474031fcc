// The horizontal scroll range of the scrolling list box (TGListBox), apart from any window: the
// widest line's extent (its text width plus 50 pixels) and how many lines reach it.
//
// The extents of all lines are kept counted by value, so adding or deleting a line costs one
// measurement and a logarithmic update, and the widest extent after a deletion is at hand
// without measuring the other lines again (a list emptied line by line stays linear). Rescan
// is only needed when every line's width changes at once (another font).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ie {

class TListExtent {
public:
    // The width of a text in pixels on the list's canvas.
    using TMeasure = std::function<int32_t(const std::string& text)>;

    explicit TListExtent(TMeasure measure) : FMeasure(std::move(measure)) {}

    int32_t Extent(const std::string& text) const { return FMeasure(text) + 50; }
    int32_t Widest() const noexcept { return FExtents.empty() ? 0 : FExtents.rbegin()->first; }
    int32_t WidestCount() const noexcept {
        return FExtents.empty() ? 0 : FExtents.rbegin()->second;
    }

    void Added(const std::string& text);
    // The line leaves the list. Returns true when the widest extent changed (the last line of
    // that extent went).
    bool Deleted(const std::string& text);
    // The same for the line at `index` of `lines` (the list with the line still present); an
    // index out of range measures 0.
    bool Deleting(const std::vector<std::string>& lines, int32_t index);
    // Measures every line again, leaving out the one at skipIndex.
    void Rescan(const std::vector<std::string>& lines, int32_t skipIndex = -1);
    void Cleared() noexcept { FExtents.clear(); }

    // Whether the bar shows for a control of this client width.
    bool BarVisible(bool horizontalScrollBar, int32_t width) const noexcept {
        return horizontalScrollBar && Widest() > width;
    }

private:
    bool Remove(int32_t extent);

    TMeasure FMeasure;
    // Extent -> number of lines of that extent.
    std::map<int32_t, int32_t> FExtents;
};

} // namespace ie

// The horizontal scroll range of the scrolling list box (TGListBox), apart from any window: the
// widest line's extent (its text width plus 50 pixels) and how many lines reach it, kept up to
// date as lines come and go so that only deleting the last widest line costs a rescan.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ie {

class TListExtent {
public:
    // The width of a text in pixels on the list's canvas.
    using TMeasure = std::function<int32_t(const std::string& text)>;

    explicit TListExtent(TMeasure measure) : FMeasure(std::move(measure)) {}

    int32_t Extent(const std::string& text) const { return FMeasure(text) + 50; }
    int32_t Widest() const noexcept { return FWidest; }
    int32_t WidestCount() const noexcept { return FCount; }

    void Added(const std::string& text);
    // Call before the line leaves the list; `lines` is the list with it still present and
    // `index` its position (out of range measures 0). Returns true when a rescan happened.
    bool Deleting(const std::vector<std::string>& lines, int32_t index);
    void Rescan(const std::vector<std::string>& lines, int32_t skipIndex = -1);
    void Cleared() noexcept { FWidest = 0, FCount = 0; }

    // Whether the bar shows for a control of this client width.
    bool BarVisible(bool horizontalScrollBar, int32_t width) const noexcept {
        return horizontalScrollBar && FWidest > width;
    }

private:
    TMeasure FMeasure;
    int32_t FWidest = 0;
    int32_t FCount = 0;
};

} // namespace ie

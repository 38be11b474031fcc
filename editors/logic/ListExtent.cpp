#include "editors/logic/ListExtent.h"

namespace ie {

void TListExtent::Added(const std::string& text) {
    const int32_t e = Extent(text);
    if (e == FWidest) {
        ++FCount;
    } else if (e > FWidest) {
        FWidest = e;
        FCount = 1;
    }
}

bool TListExtent::Deleting(const std::vector<std::string>& lines, int32_t index) {
    const bool inRange = index >= 0 && index < static_cast<int32_t>(lines.size());
    const int32_t e = inRange ? Extent(lines[static_cast<size_t>(index)]) : 0;
    if (e != FWidest || FCount == 0) return false;
    if (--FCount > 0) return false;
    Rescan(lines, index);
    return true;
}

void TListExtent::Rescan(const std::vector<std::string>& lines, int32_t skipIndex) {
    FWidest = 0;
    FCount = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (static_cast<int32_t>(i) == skipIndex) continue;
        Added(lines[i]);
    }
}

} // namespace ie

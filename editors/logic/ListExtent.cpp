// The counted extents of the list box's lines. An extent's count reaches zero only when its last
// line goes, so the map's largest key is always the widest line still present and a deletion
// reports whether the widest extent changed.
#include "editors/logic/ListExtent.h"

namespace ie {

void TListExtent::Added(const std::string& text) {
    ++FExtents[Extent(text)];
}

bool TListExtent::Remove(int32_t extent) {
    auto it = FExtents.find(extent);
    if (it == FExtents.end()) return false;
    const bool widest = std::next(it) == FExtents.end();
    if (--it->second > 0) return false;
    FExtents.erase(it);
    return widest;
}

bool TListExtent::Deleted(const std::string& text) {
    return Remove(Extent(text));
}

bool TListExtent::Deleting(const std::vector<std::string>& lines, int32_t index) {
    const bool inRange = index >= 0 && index < static_cast<int32_t>(lines.size());
    return Remove(inRange ? Extent(lines[static_cast<size_t>(index)]) : 0);
}

void TListExtent::Rescan(const std::vector<std::string>& lines, int32_t skipIndex) {
    FExtents.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (static_cast<int32_t>(i) == skipIndex) continue;
        Added(lines[i]);
    }
}

} // namespace ie

// The engine's general hash tables are Boost's open-addressing flat maps and sets
// (boost::unordered_flat_map, boost::unordered_flat_set): one array of entries beside an array of
// group metadata, no allocation per entry.
//
// Boost 1.81 lowers a table's load limit whenever an erasure frees a slot that may have made a
// group overflow, and rebuilds the table at the capacity its size needs once the limit is
// reached. A table of a few dozen to a few hundred entries that keeps losing one entry and
// gaining another (working memory under modify, a token memory) then rebuilds every few
// operations, about ten times slower than std::unordered_map. Calling MakeRoomToInsert before
// each insertion rebuilds such a table at twice its size instead, where overflow is rare.
#pragma once

#include <utility>

namespace ie {

template <class Table> void MakeRoomToInsert(Table& table) {
    if (table.size() < table.max_load()) return;
    Table rebuilt;
    rebuilt.reserve(2 * table.size() + 2);
    for (const auto& entry : table)
        rebuilt.insert(entry);
    table = std::move(rebuilt);
}

} // namespace ie

#include "engine/model/FlatTables.h"

#include <gtest/gtest.h>

#include <boost/unordered/unordered_flat_map.hpp>

#include <vector>

namespace ie {
namespace {

// A small table that keeps losing one entry and gaining another: before every insertion it has
// room again, keeps every entry, and its room never drains back to a rebuild per operation.
TEST(FlatTablesTest, ChurnOnASmallTableKeepsRoomAndEntries) {
    boost::unordered_flat_map<int, int> table;
    std::vector<int> live;
    int next = 0;
    for (; next < 100; ++next) {
        MakeRoomToInsert(table);
        table[next] = -next;
        live.push_back(next);
    }
    int rebuilds = 0;
    for (int round = 0; round < 20000; ++round) {
        const size_t slot = static_cast<size_t>(round) % live.size();
        table.erase(live[slot]);
        const bool full = table.size() >= table.max_load();
        MakeRoomToInsert(table);
        if (full) ++rebuilds;
        ASSERT_LT(table.size(), table.max_load());
        table[next] = -next;
        live[slot] = next++;
    }
    EXPECT_LT(rebuilds, 500); // without it, over 2,000 rebuilds
    ASSERT_EQ(table.size(), live.size());
    for (int key : live)
        EXPECT_EQ(table.at(key), -key);
}

} // namespace
} // namespace ie

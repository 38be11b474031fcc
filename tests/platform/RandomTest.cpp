#include "platform/Random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace ie {
namespace {

TEST(RandomTest, AdvancesTheSeedBeforeEachDraw) {
    SetRandSeed(7890);
    uint64_t seed = 7890;
    for (int i = 0; i < 100; ++i) {
        seed = (seed * 134775813 + 1) % 4294967296ULL;
        const int32_t expected = static_cast<int32_t>((seed * 361) >> 32);
        ASSERT_EQ(Random(361), expected) << "draw " << i;
        ASSERT_EQ(GetRandSeed(), seed);
    }
}

TEST(RandomTest, FloatDrawsOfSeed7890) {
    SetRandSeed(7890);
    // The raw values the three fixed mnemonics receive, 0.58772..., 0.11606..., 0.55245...
    EXPECT_EQ(std::floor(RandomFloat() * 1e5), 58772);
    EXPECT_EQ(std::floor(RandomFloat() * 1e5), 11606);
    EXPECT_EQ(std::floor(RandomFloat() * 1e5), 55245);
}

TEST(RandomTest, RangesStayInside) {
    SetRandSeed(0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) {
        const int32_t draw = Random(8);
        ASSERT_GE(draw, 0);
        ASSERT_LT(draw, 8);
        const double f = RandomFloat();
        ASSERT_GE(f, 0.0);
        ASSERT_LT(f, 1.0);
    }
    EXPECT_EQ(Random(0), 0);
    EXPECT_EQ(Random(-5), 0);
}

TEST(RandomTest, RandomizeSeedsFromTheTimeOfDay) {
    Randomize();
    EXPECT_LT(GetRandSeed(), 24u * 60 * 60 * 1000);
}

} // namespace
} // namespace ie

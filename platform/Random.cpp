// The one process-wide seed and the draws made from it. A draw always advances the seed, even one
// whose range is empty, so the sequence a seed gives does not depend on the ranges asked for.
#include "platform/Random.h"

#include <chrono>
#include <ctime>

namespace ie {

namespace {
uint32_t RandSeed = 0;
} // namespace

uint32_t GetRandSeed() {
    return RandSeed;
}

void SetRandSeed(uint32_t seed) {
    RandSeed = seed;
}

uint32_t NextRandSeed() {
    // Unsigned arithmetic wraps modulo 2^32 by definition.
    RandSeed = RandSeed * 134775813u + 1u;
    return RandSeed;
}

int32_t Random(int32_t range) {
    const uint64_t seed = NextRandSeed();
    if (range <= 0) return 0;
    return static_cast<int32_t>((seed * static_cast<uint64_t>(range)) >> 32);
}

double RandomFloat() {
    return static_cast<double>(NextRandSeed()) / 4294967296.0;
}

void Randomize() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const uint32_t sinceMidnight =
        static_cast<uint32_t>(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000) +
        static_cast<uint32_t>(millis);
    SetRandSeed(sinceMidnight);
}

} // namespace ie

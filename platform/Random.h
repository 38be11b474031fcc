// The process-wide pseudo-random generator. One 32-bit seed is shared by the whole program
// (the telemetry model and the rule-language functions "random", "seed" and "randomize"), so a
// given seed reproduces the same sequence of draws everywhere. Every draw first advances the
// seed: seed := seed * 134775813 + 1 (mod 2^32).
#pragma once

#include <cstdint>

namespace ie {

uint32_t GetRandSeed();
void SetRandSeed(uint32_t seed);

// Advances the seed and returns the new one.
uint32_t NextRandSeed();

// A draw in 0 .. range - 1: the high 32 bits of the 64-bit product of the advanced seed and
// range. A range of 0 or less advances the seed and yields 0 (there is no value to draw).
int32_t Random(int32_t range);

// A draw in [0, 1): the advanced seed divided by 2^32.
double RandomFloat();

// Seeds the generator with the milliseconds elapsed since local midnight.
void Randomize();

} // namespace ie

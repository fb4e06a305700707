// Helpers of the routine-set tests: speech-derived analysis frames and a seeded random source.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "../g729/g729_test_util.h"
#include "gcommon.h"

namespace gctest {

// Deterministic pseudo-random words.
struct Rng {
    std::mt19937 gen;
    explicit Rng(unsigned seed) : gen(seed) {}
    SINT16 word(int lo = -32768, int hi = 32767) { return static_cast<SINT16>(std::uniform_int_distribution<int>(lo, hi)(gen)); }
    SINT32 word32() { return static_cast<SINT32>(gen()); }
};

// A 240-sample analysis window ending at every 80-sample frame of the speech fixture.
inline std::vector<std::vector<SINT16>> speechWindows(std::size_t frames) {
    auto s = g729test::loadSpeech(80 * (frames + 3));
    std::vector<std::vector<SINT16>> out;
    for (std::size_t f = 0; f + 240 <= s.size() && out.size() < frames; f += 80) out.emplace_back(s.begin() + f, s.begin() + f + 240);
    return out;
}

// A short-form LP vector of a windowed speech frame through the set's analysis.
struct Analysis {
    SINT32 r[13];
    int exp_R0;
    SINT16 A[10];
    SINT16 rc[10];
    SINT16 err;
};

}  // namespace gctest

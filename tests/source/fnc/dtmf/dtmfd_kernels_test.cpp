// The vector forms of the detector's filter equal the portable sums bit for bit, on random samples
// and taps to full scale (including -32768, where pair sums of the multiply-add wrap), on the
// designed tables, and inside the detector on a signal that exercises every step.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "dtmfd.h"
#include "dtmfd_kernels.h"

namespace {

std::vector<std::pair<const char*, DtmfdComplexKernel>> vectorForms() {
    std::vector<std::pair<const char*, DtmfdComplexKernel>> f;
#if defined(ORVOX_X86_SIMD)
    f.emplace_back("sse2", dtmfdComplexSse2);
    if (__builtin_cpu_supports("avx2")) f.emplace_back("avx2", dtmfdComplexAvx2);
#endif
    return f;
}

}  // namespace

TEST(DtmfKernels, VectorFiltersEqualThePortableSumsToFullScale) {
    if (vectorForms().empty()) GTEST_SKIP() << "this build has only the portable form";
    std::mt19937 rng(7);
    auto sample = [&](int kind) {
        switch (kind) {
            case 0: return std::int16_t{-32768};
            case 1: return std::int16_t{32767};
            default: return static_cast<std::int16_t>(rng());
        }
    };
    const std::int16_t* designed[][2] = {{bpLowCos.data(), bpLowSin.data()}, {bpHighCos.data(), bpHighSin.data()}};
    int compared = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const int kind = trial % 5;  // all -32768, all 32767, then random values with extremes mixed in
        std::vector<std::int16_t> x(DTMFD_TAPS), c(DTMFD_TAPS), s(DTMFD_TAPS);
        for (int k = 0; k < DTMFD_TAPS; ++k) {
            x[k] = sample(kind < 2 ? kind : static_cast<int>(rng() % 6));
            c[k] = sample(kind < 2 ? kind : static_cast<int>(rng() % 6));
            s[k] = sample(kind < 2 ? 1 - kind : static_cast<int>(rng() % 6));
        }
        const bool tables = trial % 3 == 0;
        const std::int16_t* ct = tables ? designed[trial % 2][0] : c.data();
        const std::int16_t* st = tables ? designed[trial % 2][1] : s.data();
        std::int16_t wantRe, wantIm;
        dtmfdComplexPortable(x.data() + DTMFD_TAPS, ct, st, &wantRe, &wantIm);
        for (const auto& [name, k] : vectorForms()) {
            std::int16_t re = 0, im = 0;
            k(x.data() + DTMFD_TAPS, ct, st, &re, &im);
            ++compared;
            ASSERT_EQ(re, wantRe) << name << " trial " << trial;
            ASSERT_EQ(im, wantIm) << name << " trial " << trial;
        }
    }
    EXPECT_GT(compared, 0);
    // The portable form is the stated filter.
    std::vector<std::int16_t> x(DTMFD_TAPS + 40);
    for (auto& v : x) v = static_cast<std::int16_t>(rng());
    std::int16_t out[DTMFD_OUTPUTS];
    dtmfdBpFilt(x.data() + DTMFD_TAPS, out, bpHighSin.data());
    for (int j = 0; j < DTMFD_OUTPUTS; ++j) {
        std::int16_t re, im;
        dtmfdComplexPortable(x.data() + DTMFD_TAPS + 8 * j, bpHighCos.data(), bpHighSin.data(), &re, &im);
        EXPECT_EQ(im, out[j]);
    }
}

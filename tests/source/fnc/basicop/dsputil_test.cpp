// Maths utilities: the stated edge values, and the decibel, phase and division routines against
// floating point over their ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

#include "dsputil.h"

TEST(DspUtil, DecibelScalingEdgesAndAccuracy) {
    EXPECT_EQ(hsfdB20(0, 1000000), 1000000u);
    EXPECT_EQ(hsfdB20(7, 1000000), (2000000ull * 287) >> 8);
    EXPECT_EQ(hsfdB20(-6, 1000000), (1000000ull * 16423) >> 15);
    EXPECT_EQ(hsfdB20(-91, 1000000), 0u);
    EXPECT_EQ(hsfdB20(-1, 0x10000000), (0x10000000u >> 15) * 29205);  // large values pre-shifted
    for (int db = -60; db <= 40; ++db) {
        const double want = 1e6 * std::pow(10.0, db / 20.0);
        EXPECT_NEAR(hsfdB20(db, 1000000) / want, 1.0, 0.03) << db;
    }
    EXPECT_EQ(hsfdB10(-3, 1000000), hsfdB20(-6, 1000000));
    EXPECT_EQ(hsfGetdB10(1000, 500), -3);
    EXPECT_EQ(hsfGetdB10(500, 1000), 3);
    EXPECT_EQ(hsfGetdB10(777, 777), 0);
    EXPECT_EQ(hsfGetdB10(0, 0), 0);
    for (int db = -40; db <= 16; db += 3) {
        const auto v = static_cast<UINT32>(1e8 * std::pow(10.0, db / 10.0));
        EXPECT_NEAR(hsfGetdB10(100000000, v), db, 1) << db;
    }
}

TEST(DspUtil, PhaseOfComplexPairs) {
    const SINT16 in[] = {10000, 0, 0, 10000, -10000, 0, 0, -10000, 10000, 10000, 100, 50, 0, 0};
    SINT16 out[7];
    hsfAtan(in, out, 7);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 402);
    EXPECT_EQ(out[2], 804);
    EXPECT_EQ(out[3], -402);
    EXPECT_EQ(out[4], 202);
    EXPECT_EQ(out[5], 255);  // both magnitudes below 256: the divisor vanishes
    EXPECT_EQ(out[6], 0);
    for (int deg = -179; deg <= 179; deg += 3) {
        const double r = deg * M_PI / 180;
        const SINT16 p[2] = {static_cast<SINT16>(20000 * std::cos(r)), static_cast<SINT16>(20000 * std::sin(r))};
        SINT16 a;
        hsfAtan(p, &a, 1);
        EXPECT_NEAR(a / 256.0, r, 0.012) << deg;
    }
    // Every pair gives the stated computation: the quotient by fifteen steps of restoring division,
    // then the octant and the quadrant (random pairs to full scale, and all small magnitudes).
    auto stated = [](SINT16 re, SINT16 im) {
        if (re == 0 && im == 0) return 0;
        const std::uint32_t a = static_cast<std::uint32_t>(std::abs(int{re})), b = static_cast<std::uint32_t>(std::abs(int{im}));
        const std::uint32_t big = a > b ? a : b, small = a > b ? b : a;
        const std::uint32_t den = (big * big + ((small * 18350u) >> 16) * small) >> 16;
        std::uint32_t rem = (big * small) >> 16, q = 0;
        for (int i = 0; i < 15; ++i) {
            q <<= 1;
            rem <<= 1;
            if (rem >= den) {
                rem -= den;
                q |= 1;
            }
        }
        int angle = static_cast<int>(q >> 7);
        if (a <= b) angle = 402 - angle;
        if (re < 0 && im < 0) return angle - 804;
        if (re >= 0 && im < 0) return -angle;
        if (re < 0 && im >= 0) return 804 - angle;
        return angle;
    };
    std::mt19937 rng(3);
    int differ = 0;
    for (int n = 0; n < 300000; ++n) {
        SINT16 p[2];
        if (n < 90000) {
            p[0] = static_cast<SINT16>(n % 300 - 150);
            p[1] = static_cast<SINT16>(n / 300 - 150);
        } else {
            p[0] = n % 17 == 0 ? SINT16{-32768} : static_cast<SINT16>(rng());
            p[1] = n % 13 == 0 ? SINT16{-32768} : static_cast<SINT16>(n % 7 == 0 ? p[0] : static_cast<SINT16>(rng()));
        }
        SINT16 a;
        hsfAtan(p, &a, 1);
        if (a != stated(p[0], p[1])) ++differ;
    }
    EXPECT_EQ(differ, 0);
}

TEST(DspUtil, LevelConversions) {
    EXPECT_EQ(utildB2scale(-1536), 16383);
    EXPECT_EQ(utildB2scale(-23040), 0);
    EXPECT_EQ(utildB2scale(0), 32767);
    EXPECT_EQ(utilPower2dB(1u << 30, 0), -736);
    EXPECT_EQ(utilPower2dB(1u << 29, 0), -1504);
    for (int l = -12000; l < 0; l += 333) {
        // Quarter-dB steps and one halving per 6 dB (not 6.02): within half a dB down to -47 dB.
        EXPECT_NEAR(20 * std::log10(utildB2scale(l) / 32768.0), l / 256.0, 0.45) << l;
    }
    for (double p = 1000; p < 2e9; p *= 3.7) {
        // One doubling counts exactly 3 dB, so the error grows by 0.01 dB per octave below full scale.
        EXPECT_NEAR(utilPower2dB(static_cast<UINT32>(p), 256) / 256.0, 1 + 10 * std::log10(p / 2147483648.0), 0.45) << p;
    }
    EXPECT_EQ(utildiv_s(0, 5), 0);
    EXPECT_EQ(utildiv_s(5, 5), 32767);
    EXPECT_EQ(utildiv_s(1, 3), 10922);
}

namespace stepwise {
// The step-by-step forms of the normalisations and the division, as a fixed-point processor runs
// them, and the DC blocker's plain loop: the models the shortcut forms must match bit for bit.
SINT16 power2dB(UINT32 pwr, int offset) {
    UINT32 v = pwr | 1u;
    int k = 0;
    for (; v <= 0x3FFFFFFFu; ++k) v <<= 1;
    const std::int64_t r = std::int64_t{offset} - 768 * k + utilPower2dBTable[(v >> 26) & 15];
    return static_cast<SINT16>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
}
void highpass(const SINT16* x, SINT16* y, int n, int alpha_exp, SINT32* umem) {
    SINT32 u = *umem;
    for (int i = 0; i < n; ++i) {
        const SINT32 next = x[i] + u - (u >> alpha_exp);
        const SINT32 d = u - next;
        const std::int64_t v = std::int64_t{d >> (alpha_exp + 1)} - d;
        y[i] = static_cast<SINT16>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
        u = next;
    }
    *umem = u;
}
int normShift(SINT32 peak) {
    int z = 0;
    for (; peak != 0 && peak < 16384; ++z) peak <<= 1;
    return z;
}
}  // namespace stepwise

TEST(DspUtil, NormalisationsDivisionAndHighpassEqualTheirStepwiseForms) {
    std::mt19937 rng(7);
    int differ = 0;
    // Every bit length with its neighbours, every offset sign, then random powers.
    for (int b = 0; b < 32; ++b) {
        for (const UINT32 p : {1u << b, (1u << b) - 1, (1u << b) + 1, (1u << b) | (1u << b >> 1)}) {
            for (const int offset : {0, 4073, 1920, -40000, 40000}) differ += utilPower2dB(p, offset) != stepwise::power2dB(p, offset);
        }
    }
    for (int i = 0; i < 200000; ++i) {
        const UINT32 p = static_cast<UINT32>(rng()) >> (rng() % 32);
        differ += utilPower2dB(p, 4073) != stepwise::power2dB(p, 4073);
    }
    EXPECT_EQ(differ, 0) << "utilPower2dB";
    // Every numerator for small denominators, edges and random pairs over the whole 16-bit range
    // (negative and larger numerators included) for the others.
    differ = 0;
    for (int d = 1; d <= 1024; ++d) {
        for (int n = 0; n <= d; ++n) differ += utildiv_s(static_cast<SINT16>(n), static_cast<SINT16>(d)) != utildivRestoring(static_cast<SINT16>(n), static_cast<SINT16>(d));
    }
    for (int i = 0; i < 400000; ++i) {
        const auto d = static_cast<SINT16>(i % 4 == 0 ? 32767 - static_cast<int>(rng() % 64) : static_cast<int>(rng() % 65536) - 32768);
        const int pick = static_cast<int>(rng() % 5);
        const auto n = static_cast<SINT16>(pick == 0 ? d - 1 : pick == 1 ? 1 : static_cast<int>(rng() % 65536) - 32768);
        differ += utildiv_s(n, d) != utildivRestoring(n, d);
    }
    EXPECT_EQ(differ, 0) << "utildiv_s";
    // Every peak, -32768 included, with the block scaled by the returned shift.
    differ = 0;
    for (int peak = -32768; peak <= 32767; ++peak) {
        SINT16 x[3] = {static_cast<SINT16>(peak / 3), static_cast<SINT16>(peak), static_cast<SINT16>(-(peak / 2))};
        const SINT16 mid = x[0];
        const int want = stepwise::normShift(utilMaxAbs(x, 3));
        const int z = utilVectorNorm(x, 3);
        differ += z != want || x[0] != static_cast<SINT16>(SINT32{mid} * (1 << want));
    }
    EXPECT_EQ(differ, 0) << "utilVectorNorm";
    // The DC blocker at every shift the callers use and beyond, from rest, from the small states
    // it rests in and their neighbours, and from large states, on silence, then full-scale noise
    // with runs of the extremes and of silence, in place and into another buffer.
    differ = 0;
    std::vector<SINT16> x(997);
    for (auto& v : x) v = static_cast<SINT16>(rng());
    std::fill_n(x.begin(), 120, SINT16{0});
    std::fill_n(x.begin() + 300, 200, SINT16{-32768});
    std::fill_n(x.begin() + 600, 150, SINT16{32767});
    std::fill_n(x.begin() + 850, 100, SINT16{0});
    for (int shift = 0; shift <= 12; ++shift) {
        for (const SINT32 start : {0, 1000000, -1000000, 40000 << (shift > 8 ? 8 : shift), -1,
                                   (1 << shift) - 1, 1 << shift}) {
            SINT32 uGot = start, uWant = start;
            std::vector<SINT16> got(x), want(x.size());
            for (int at = 0, len = 1; at < static_cast<int>(x.size()); at += len, len = len % 90 + 7) {
                const int n = std::min(len, static_cast<int>(x.size()) - at);
                utilHighpass(got.data() + at, got.data() + at, n, shift, &uGot);
                stepwise::highpass(x.data() + at, want.data() + at, n, shift, &uWant);
            }
            differ += got != want || uGot != uWant;
        }
    }
    EXPECT_EQ(differ, 0) << "utilHighpass";
}

TEST(DspUtil, BlockRoutines) {
    std::vector<SINT16> z(8, 0);
    EXPECT_EQ(utilVectorNorm(z.data(), 8), 0);
    SINT16 v[4] = {100, -300, 2, -32768};
    EXPECT_EQ(utilMaxAbs(v, 4), 32767);
    EXPECT_EQ(utilsearchpeak(v, 4), 3);
    EXPECT_EQ(utilVectorNorm(v, 3), 6);  // 300 << 6 = 19200
    EXPECT_EQ(v[1], -19200);
    SINT16 w[3] = {-300, 300, 300};
    EXPECT_EQ(utilsearchpeak(w, 3), 0);  // the first of equal magnitudes
    // Silence is all n samples 0, whatever n, wherever the block starts and wherever the one
    // that is not: below one vector, whole and partial steps, the overlapping last read.
    for (int start = 0; start < 3; ++start) {
        for (int len = 0; len <= 170; len += len < 72 ? 1 : 11) {
            std::vector<SINT16> s(static_cast<size_t>(start + len) + 1, SINT16{-1});  // one either side
            std::fill_n(s.begin() + start, len, SINT16{0});
            SINT16* block = s.data() + start;
            EXPECT_TRUE(utilIsSilent(block, len)) << start << " " << len;
            for (int at = 0; at < len; ++at) {
                block[at] = at % 2 ? SINT16{-32768} : SINT16{1};
                EXPECT_FALSE(utilIsSilent(block, len)) << start << " " << len << " " << at;
                block[at] = 0;
            }
        }
    }
    SINT16 g[3] = {1000, -32768, 32767};
    hsfMulGain(g, 3, 4096);
    EXPECT_EQ(g[1], -32768);
    hsfMulGain(g, 3, 8192);
    EXPECT_EQ(g[0], 2000);
    EXPECT_EQ(g[1], -32768);
    EXPECT_EQ(g[2], 32767);
    // The DC blocker removes a constant and passes a tone.
    std::vector<SINT16> x(4000), y(4000);
    for (int i = 0; i < 4000; ++i) x[i] = static_cast<SINT16>(5000 + 8000 * std::sin(2 * M_PI * 1000 * i / 8000.0));
    SINT32 mem = 0;
    utilHighpass(x.data(), y.data(), 4000, 5, &mem);
    const double mean = std::accumulate(y.begin() + 2000, y.end(), 0.0) / 2000;
    EXPECT_NEAR(mean, 0, 20);
    // Noise stays within about +-g/4 and has no DC.
    SINT16 seed = 0;
    std::vector<SINT16> n(8000);
    utilRand(n.data(), &seed, 32767, 8000);
    double m = 0;
    for (SINT16 s : n) {
        EXPECT_LE(std::abs(s), 8192);
        m += s;
    }
    EXPECT_NEAR(m / 8000, 0, 150);
}

TEST(DspUtil, FirFilterUsesHistoryAndSaturates) {
    const SINT16 h[4] = {16384, 16384, 0, 0};  // two taps of one half
    SINT16 buf[8] = {0, 0, 0, 1000, 3000, -32768, -32768, 0};
    SINT16 y[5];
    fir(buf + 3, y, h, 4, 5);
    EXPECT_EQ(y[0], 500);
    EXPECT_EQ(y[1], 2000);
    EXPECT_EQ(y[3], -32768);
    const SINT16 big[2] = {32767, 32767};
    SINT16 in[3] = {32767, 32767, 32767}, out;
    fir(in + 1, &out, big, 2, 1);
    EXPECT_EQ(out, 32767);
}

TEST(DspUtil, GeneratedTablesMatchTheirChecksums) {
    auto sum = [](const SINT16* t, int n) {
        long s = 0;
        for (int i = 0; i < n; ++i) s += t[i] * (i + 1);
        return s;
    };
    EXPECT_EQ(hsfdBAttenTable[0], 29205);
    EXPECT_EQ(hsfdBAttenTable[89], 1);
    EXPECT_EQ(utillogfactorTable[23], 16902);
    EXPECT_EQ(sum(hsfdBAttenTable, 90), 2468501);
    EXPECT_EQ(sum(utillogfactorTable, 24), 6412977);
    EXPECT_EQ(sum(utilPower2dBTable, 16), -30247);
}

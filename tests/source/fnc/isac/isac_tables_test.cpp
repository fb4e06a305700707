// What the constant tables mean, checked from their meaning rather than
// against their own values: tables defined by a formula follow it; every
// distribution rises from 0 to 65535; the trained transforms are orthonormal;
// quantiser levels lie inside their cells and code lengths are the bits
// their distributions give; filters have the responses they are there for.
// (Which values the coder actually uses is pinned by the digest test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "isac_tables.h"

using namespace isac;

namespace {

long rnd(double x) { return std::lround(x); }

// A distribution table: starts at 0, never falls, ends at 65535.
::testing::AssertionResult is_cdf(std::span<const uint16_t> t) {
    if (t.size() < 2 || t.front() != 0 || t.back() != 65535)
        return ::testing::AssertionFailure() << "does not run from 0 to 65535";
    for (std::size_t i = 1; i < t.size(); ++i)
        if (t[i] < t[i - 1]) return ::testing::AssertionFailure() << "falls at entry " << i;
    return ::testing::AssertionSuccess();
}

// Largest deviation of M times its transpose (and the transpose times M)
// from the identity, for an n x n row-major matrix scaled by `one`.
template <typename T>
double orthonormal_error(const T* m, int n, double one) {
    double worst = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double rows = 0, cols = 0;
            for (int k = 0; k < n; ++k) {
                rows += double(m[i * n + k]) * double(m[j * n + k]);
                cols += double(m[k * n + i]) * double(m[k * n + j]);
            }
            const double want = i == j ? 1.0 : 0.0;
            worst = std::max({worst, std::fabs(rows / (one * one) - want), std::fabs(cols / (one * one) - want)});
        }
    return worst;
}

int bit_reverse(int m, int bits) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((m >> b) & 1) << (bits - 1 - b);
    return r;
}

}  // namespace

TEST(IsacTables, TrigonometricTablesFollowTheirFormulas) {
    for (int i = 0; i < 240; ++i) {
        EXPECT_EQ(kCosTabFfftQ14[i], rnd(16384 * std::cos(2 * M_PI * i / 240))) << i;
        EXPECT_EQ(WebRtcIsacfix_kCosTab1[i], rnd(16384 * std::cos(M_PI * i / 240))) << i;
        EXPECT_EQ(WebRtcIsacfix_kSinTab1[i], rnd(16384 * std::sin(M_PI * i / 240))) << i;
    }
    for (int i = 0; i < 120; ++i) {
        EXPECT_EQ(WebRtcIsacfix_kSinTab2[i], (i % 2 ? -1 : 1) * rnd(16384 * std::cos((2 * i + 1) * M_PI / 480))) << i;
        EXPECT_EQ(kCosTabFfftQ14_2[i], kCosTabFfftQ14[2 * i]) << i;
    }
    for (int i = 0; i < 80; ++i) EXPECT_EQ(kCosTabFfftQ14_3[i], kCosTabFfftQ14[3 * i]) << i;
    for (int i = 0; i < 256; ++i) {
        const double s = std::sin(M_PI * (i + 1) / 512);
        EXPECT_EQ(kHanningTable[i], rnd(16384 * s * s)) << i;
    }
    // The envelope's cosine rows: row k holds cos((k + 1) pi (n + 1/2) / 120) in Q9.
    for (int k = 0; k < 6; ++k)
        for (int n = 0; n < 60; ++n)
            EXPECT_EQ(WebRtcIsacfix_kCos[60 * k + n], rnd(512 * std::cos(M_PI * (k + 1) * (n + 0.5) / 120))) << k << "," << n;
}

TEST(IsacTables, PermutationsAndDivisionTablesFollowTheirFormulas) {
    // FFT output order: entry 60q + 12r + 4t + u is q + 4r + 20t + 60u.
    for (int q = 0; q < 4; ++q)
        for (int r = 0; r < 5; ++r)
            for (int t = 0; t < 3; ++t)
                for (int u = 0; u < 4; ++u) EXPECT_EQ(kSortTabFft[60 * q + 12 * r + 4 * t + u], q + 4 * r + 20 * t + 60 * u);
    // Bit reversal: every pair (m, rev(m)) with m < rev(m), ascending, as byte offsets 4m.
    for (auto [table, bits, pairs] : {std::tuple{index_7, 7, 56}, std::tuple{index_8, 8, 120}}) {
        int k = 0;
        for (int m = 0; m < (1 << bits); ++m) {
            const int r = bit_reverse(m, bits);
            if (m >= r) continue;
            ASSERT_LT(k, pairs) << bits;
            EXPECT_EQ(table[2 * k], 4 * m) << bits << ": pair " << k;
            EXPECT_EQ(table[2 * k + 1], 4 * r) << bits << ": pair " << k;
            ++k;
        }
        EXPECT_EQ(k, pairs) << bits;
    }
    // Reciprocals: entry k is 36864 / k, kept to 16 bits.
    EXPECT_EQ(WebRtcIsacfix_recipTab[0], 0);
    for (int k = 1; k < 2048; ++k) EXPECT_EQ(WebRtcIsacfix_recipTab[k], static_cast<int16_t>(36864 / k)) << k;
    // Check word: CRC-32 with the polynomial 0x04C11DB7, most significant bit first.
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int b = 0; b < 8; ++b) c = c & 0x80000000u ? (c << 1) ^ 0x04C11DB7u : c << 1;
        EXPECT_EQ(kCrcTable[i], c) << i;
    }
}

TEST(IsacTables, EveryDistributionRisesFromZeroToFullScale) {
    for (std::span<const uint16_t> t : std::initializer_list<std::span<const uint16_t>>{
             kOneBitEqualProbCdf, kFrameLenCdf, kBwCdf, WebRtcIsacfix_kModelCdf, kCdfLogistic,
             WebRtcIsacfix_kGainCdf, WebRtcIsacfix_kPitchGainCdf, WebRtcIsacfix_kRc1Cdf, WebRtcIsacfix_kRc2Cdf,
             WebRtcIsacfix_kRc3Cdf, WebRtcIsacfix_kRc4Cdf, WebRtcIsacfix_kRc5Cdf, WebRtcIsacfix_kRc6Cdf,
             WebRtcIsacfix_kPitchLagCdf1Lo, WebRtcIsacfix_kPitchLagCdf2Lo, WebRtcIsacfix_kPitchLagCdf3Lo,
             WebRtcIsacfix_kPitchLagCdf4Lo, WebRtcIsacfix_kPitchLagCdf1Mid, WebRtcIsacfix_kPitchLagCdf2Mid,
             WebRtcIsacfix_kPitchLagCdf3Mid, WebRtcIsacfix_kPitchLagCdf4Mid, WebRtcIsacfix_kPitchLagCdf1Hi,
             WebRtcIsacfix_kPitchLagCdf2Hi, WebRtcIsacfix_kPitchLagCdf3Hi, WebRtcIsacfix_kPitchLagCdf4Hi,
             WebRtcIsac_kLpcGainCdfVec0, WebRtcIsac_kLpcGainCdfVec1, WebRtcIsac_kLpcGainCdfVec2,
             WebRtcIsac_kLpcGainCdfVec3, WebRtcIsac_kLpcGainCdfVec4, WebRtcIsac_kLpcGainCdfVec5,
             WebRtcIsac_kLpcShapeCdfVec01Ub16, WebRtcIsac_kLpcShapeCdfVec01Ub160, WebRtcIsac_kLpcShapeCdfVec01Ub161,
             WebRtcIsac_kLpcShapeCdfVec01Ub162, WebRtcIsac_kLpcShapeCdfVec01Ub163, WebRtcIsac_kLpcShapeCdfVec01Ub164,
             WebRtcIsac_kLpcShapeCdfVec01Ub165, WebRtcIsac_kLpcShapeCdfVec01Ub166, WebRtcIsac_kLpcShapeCdfVec0Ub12,
             WebRtcIsac_kLpcShapeCdfVec1Ub12, WebRtcIsac_kLpcShapeCdfVec2Ub12, WebRtcIsac_kLpcShapeCdfVec3Ub12,
             WebRtcIsac_kLpcShapeCdfVec4Ub12, WebRtcIsac_kLpcShapeCdfVec5Ub12, WebRtcIsac_kLpcShapeCdfVec6Ub12,
             WebRtcIsac_kLpcShapeCdfVec7Ub12, WebRtcIsac_kLpcShapeCdfVec1Ub16, WebRtcIsac_kLpcShapeCdfVec2Ub16,
             WebRtcIsac_kLpcShapeCdfVec3Ub16, WebRtcIsac_kLpcShapeCdfVec4Ub16, WebRtcIsac_kLpcShapeCdfVec5Ub16,
             WebRtcIsac_kLpcShapeCdfVec6Ub16, WebRtcIsac_kLpcShapeCdfVec7Ub16, WebRtcIsac_kLpcShapeCdfVec8Ub16}) {
        EXPECT_TRUE(is_cdf(t)) << "table of " << t.size() << " entries starting " << t[0] << ", " << t[1];
    }
    // Equiprobable tables are exactly that.
    for (int k = 0; k <= 24; ++k) EXPECT_EQ(kBwCdf[k], rnd(65535.0 * k / 24)) << k;
    for (int k = 0; k <= 3; ++k) EXPECT_EQ(kFrameLenCdf[k], 21845 * k) << k;
    // The logistic model: edges every 0.4 from -10 to 10 (Q15), and each
    // slope carries its interval's rise, so the curve is continuous.
    for (int i = 0; i <= 50; ++i) EXPECT_NEAR(kHistEdges[i], -327680 + 13107.2 * i, 1.0) << i;
    for (int i = 0; i < 50; ++i) {
        const int rise = (kCdfSlope[i] * (kHistEdges[i + 1] - kHistEdges[i])) >> 15;
        EXPECT_NEAR(kCdfLogistic[i] + rise, kCdfLogistic[i + 1], 3) << i;
    }
    // The envelope models' distributions lie end to end in one array each; a
    // pointer marks where each starts, and each runs to 65535 before the next.
    for (auto [flat, ptr] : {std::pair{std::span<const uint16_t>(WebRtcIsacfix_kCdfShape),
                                       std::span<const uint16_t>(WebRtcIsacfix_kCdfShapePtr)},
                             std::pair{std::span<const uint16_t>(WebRtcIsacfix_kCdfGain),
                                       std::span<const uint16_t>(WebRtcIsacfix_kCdfGainPtr)}}) {
        for (std::size_t k = 0; k < ptr.size(); ++k) {
            const std::size_t end = k + 1 < ptr.size() && ptr[k + 1] > ptr[k] ? ptr[k + 1] : flat.size();
            ASSERT_LT(ptr[k], end) << k;
            std::size_t last = ptr[k];
            while (last < end && flat[last] != 65535) ++last;
            ASSERT_LT(last, end) << "distribution " << k << " never reaches 65535";
            EXPECT_TRUE(is_cdf(flat.subspan(ptr[k], last + 1 - ptr[k]))) << "distribution " << k;
        }
    }
}

// Code lengths (Q11 bits) of the envelope's first model are -log2 of the
// probability its distribution gives each level; start indices lie inside
// their tables.
TEST(IsacTables, CodeLengthsAreTheBitsOfTheirDistributions) {
    struct Model {
        std::span<const uint16_t> cdf, ptr, offset, max_index, init;
        std::span<const int16_t> code_len;
    };
    const Model models[] = {
        {WebRtcIsacfix_kCdfShape, WebRtcIsacfix_kCdfShapePtr, WebRtcIsacfix_kOffsetShape, WebRtcIsacfix_kMaxIndShape,
         WebRtcIsacfix_kInitIndexShape, WebRtcIsacfix_kCodeLenShapeQ11},
        {WebRtcIsacfix_kCdfGain, WebRtcIsacfix_kCdfGainPtr, WebRtcIsacfix_kOffsetGain, WebRtcIsacfix_kMaxIndGain,
         WebRtcIsacfix_kInitIndexGain, WebRtcIsacfix_kCodeLenGainQ11},
    };
    for (const Model& m : models) {
        const std::size_t n = m.max_index.size();
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_LE(m.init[k], m.max_index[k]) << k;
            for (int i = 0; i <= m.max_index[k]; ++i) {
                const int p = m.cdf[m.ptr[k] + i + 1] - m.cdf[m.ptr[k] + i];
                const std::size_t at = m.offset[k] + i;
                ASSERT_LT(at, m.code_len.size());
                // The published shape table stops one entry short: the last
                // level of the last coefficient is counted as free.
                if (n == 108 && k == 107 && at == m.code_len.size() - 1) {
                    EXPECT_EQ(m.code_len[at], 0);
                    continue;
                }
                ASSERT_GT(p, 0) << k << "," << i;
                EXPECT_NEAR(m.code_len[at], -2048 * std::log2(p / 65536.0), 1.0) << k << "," << i;
            }
        }
    }
}

TEST(IsacTables, TransformsAreOrthonormal) {
    for (int m = 0; m < 3; ++m) {
        EXPECT_LT(orthonormal_error(WebRtcIsacfix_kT1ShapeQ15 + 324 * m, 18, 32768), 1e-4) << m;
        EXPECT_LT(orthonormal_error(WebRtcIsacfix_kT2ShapeQ15 + 36 * m, 6, 32768), 1e-4) << m;
        EXPECT_LT(orthonormal_error(WebRtcIsacfix_kT2GainQ15 + 36 * m, 6, 32768), 1e-4) << m;
        EXPECT_LT(orthonormal_error(WebRtcIsacfix_kT1GainQ15 + 4 * m, 2, 32768), 1e-4) << m;
    }
    EXPECT_LT(orthonormal_error(WebRtcIsac_kIntraVecDecorrMatUb12_Q31, 4, 2147483648.0), 1e-5);
    EXPECT_LT(orthonormal_error(WebRtcIsac_kIintraVecDecorrMatUb16_Q31, 4, 2147483648.0), 1e-5);
    EXPECT_LT(orthonormal_error(WebRtcIsac_kInterVecDecorrMatUb16_Q31, 4, 2147483648.0), 1e-5);
    EXPECT_LT(orthonormal_error(WebRtcIsac_kInterVecDecorrMatUb12_Q31, 2, 2147483648.0), 1e-5);
    EXPECT_LT(orthonormal_error(WebRtcIsac_kLpcGainDecorrMat, 6, 1.0), 1e-5);
    // The pitch gains' 4-point transform: orthonormal rows in Q12 (its
    // second and fourth rows round 0.67 and 0.22 to 2748 and 916).
    EXPECT_LT(orthonormal_error(WebRtcIsacfix_kTransform, 4, 4096), 5e-4);
}

// Quantisers: decision bounds rise and every reconstruction level lies in
// its cell (the smallest spectrum gains share one floor level).
TEST(IsacTables, QuantiserLevelsLieInTheirCells) {
    const int16_t* rc_levels[6] = {WebRtcIsacfix_kRc1Levels, WebRtcIsacfix_kRc2Levels, WebRtcIsacfix_kRc3Levels,
                                   WebRtcIsacfix_kRc4Levels, WebRtcIsacfix_kRc5Levels, WebRtcIsacfix_kRc6Levels};
    for (int i = 1; i < 12; ++i) EXPECT_LT(WebRtcIsacfix_kRcBound[i - 1], WebRtcIsacfix_kRcBound[i]) << i;
    for (int t = 0; t < 6; ++t)
        for (int j = 0; j < 11; ++j) {
            EXPECT_GE(rc_levels[t][j], WebRtcIsacfix_kRcBound[j]) << t << "," << j;
            EXPECT_LE(rc_levels[t][j], WebRtcIsacfix_kRcBound[j + 1]) << t << "," << j;
        }
    for (int i = 1; i < 19; ++i) EXPECT_LT(WebRtcIsacfix_kGain2Bound[i - 1], WebRtcIsacfix_kGain2Bound[i]) << i;
    for (int j = 0; j < 18; ++j) {
        if (j > 0) EXPECT_GE(WebRtcIsacfix_kGain2Lev[j], WebRtcIsacfix_kGain2Lev[j - 1]) << j;
        if (WebRtcIsacfix_kGain2Lev[j] == 128) continue;  // the floor
        EXPECT_GE(WebRtcIsacfix_kGain2Lev[j], WebRtcIsacfix_kGain2Bound[j]) << j;
        EXPECT_LE(WebRtcIsacfix_kGain2Lev[j], WebRtcIsacfix_kGain2Bound[j + 1]) << j;
    }
}

namespace {

// Frequency response of the filters below at f (fraction of the sampling rate).
std::complex<double> z_inv(double f) { return std::polar(1.0, -2 * M_PI * f); }

// A two-branch all-pass half-band pair: each branch a cascade of first-order
// all-pass sections in z^-2, one branch delayed by a sample. Returns the
// low-pass (sum) response.
std::complex<double> halfband(const double* a, int na, const double* b, int nb, double f) {
    const auto z2 = z_inv(f) * z_inv(f);
    std::complex<double> ha = 1, hb = 1;
    for (int i = 0; i < na; ++i) ha *= (a[i] + z2) / (1.0 + a[i] * z2);
    for (int i = 0; i < nb; ++i) hb *= (b[i] + z2) / (1.0 + b[i] * z2);
    return 0.5 * (ha + z_inv(f) * hb);
}

}  // namespace

TEST(IsacTables, FiltersHaveTheirResponses) {
    // Input high-pass: a double zero at 0 Hz and stable poles; the output
    // pair shares one numerator and has stable poles too.
    for (const int32_t* c : {WebRtcIsacfix_kHpStCoeffInQ30, WebRtcIsacfix_kHPStCoeffOut1Q30, WebRtcIsacfix_kHPStCoeffOut2Q30}) {
        const double a1 = c[0] / 1073741824.0, a2 = c[1] / 1073741824.0;
        EXPECT_LT(a2, 1.0);
        EXPECT_LT(std::fabs(a1), 1.0 + a2);  // both poles inside the unit circle
    }
    const auto numerator = [](const int32_t* c, int k) { return (c[k] + c[k + 2] / 32.0) / 1073741824.0; };
    EXPECT_NEAR(numerator(WebRtcIsacfix_kHpStCoeffInQ30, 0), -2.0, 1e-3);
    EXPECT_NEAR(numerator(WebRtcIsacfix_kHpStCoeffInQ30, 1), 1.0, 1e-3);
    for (int k = 0; k < 2; ++k)
        EXPECT_NEAR(numerator(WebRtcIsacfix_kHPStCoeffOut1Q30, k), numerator(WebRtcIsacfix_kHPStCoeffOut2Q30, k), 1e-4);
    EXPECT_NEAR(numerator(WebRtcIsacfix_kHPStCoeffOut1Q30, 0), -1.97994, 1e-4);

    // The band split's all-pass factors form a half-band low-pass: unity at
    // 0 Hz, nothing at half the rate, -3 dB at a quarter (any all-pass pair
    // does that), and a stop band from 0.32 of the rate on.
    const double up[2] = {WebRtcIsacfix_kUpperApFactorsQ15[0] / 32768.0, WebRtcIsacfix_kUpperApFactorsQ15[1] / 32768.0};
    const double lo[2] = {WebRtcIsacfix_kLowerApFactorsQ15[0] / 32768.0, WebRtcIsacfix_kLowerApFactorsQ15[1] / 32768.0};
    EXPECT_NEAR(std::abs(halfband(up, 2, lo, 2, 0.0)), 1.0, 1e-9);
    EXPECT_NEAR(std::abs(halfband(up, 2, lo, 2, 0.5)), 0.0, 1e-9);
    EXPECT_NEAR(std::abs(halfband(up, 2, lo, 2, 0.25)), std::sqrt(0.5), 1e-6);
    double stop = 0;
    for (double f = 0.32; f <= 0.5; f += 0.002) stop = std::max(stop, std::abs(halfband(up, 2, lo, 2, f)));
    EXPECT_LT(20 * std::log10(stop), -45.0);  // an equiripple stop band of 46 dB
    EXPECT_EQ(kApUpperQ15[0], WebRtcIsacfix_kUpperApFactorsQ15[0]);
    EXPECT_EQ(kApLowerQ15[1], WebRtcIsacfix_kLowerApFactorsQ15[1]);
    // The 32 kHz split: three sections per branch in the same form.
    double q1[3], q2[3];
    for (int i = 0; i < 3; ++i) {
        q1[i] = WebRtcSpl_kAllPassFilter1[i] / 65536.0;
        q2[i] = WebRtcSpl_kAllPassFilter2[i] / 65536.0;
    }
    EXPECT_NEAR(std::abs(halfband(q1, 3, q2, 3, 0.0)), 1.0, 1e-9);
    EXPECT_NEAR(std::abs(halfband(q1, 3, q2, 3, 0.25)), std::sqrt(0.5), 1e-6);
    stop = 0;
    for (double f = 0.28; f <= 0.5; f += 0.002) stop = std::max(stop, std::abs(halfband(q1, 3, q2, 3, f)));
    EXPECT_LT(20 * std::log10(stop), -59.0);  // 60 dB

    // Bandwidth expansion: about 0.9^n and 0.8^n.
    for (int n = 0; n < 12; ++n) EXPECT_NEAR(kPolyVecLo[n], 32768 * std::pow(0.9, n + 1), 2.0) << n;
    for (int n = 0; n < 6; ++n) EXPECT_NEAR(kPolyVecHi[n], 32768 * std::pow(0.8, n + 1), 2.0) << n;
    // The damping filter and every fractional-delay phase pass 0 Hz at unity
    // (the damping filter also is symmetric).
    int damp = 0;
    for (int i = 0; i < 5; ++i) damp += kDampFilter[i];
    EXPECT_EQ(damp, 32768);
    EXPECT_EQ(kDampFilter[0], kDampFilter[4]);
    EXPECT_EQ(kDampFilter[1], kDampFilter[3]);
    for (int r = 0; r < 8; ++r) {
        int sum = 0;
        for (int t = 0; t < 9; ++t) sum += kIntrpCoef[9 * r + t];
        EXPECT_NEAR(sum, 16384, 64) << r;
    }
    // The analysis window rises over the older samples to one peak and falls
    // over the newest few (an asymmetric window: low delay).
    const auto peak = std::max_element(std::begin(kWindowAutocorr), std::end(kWindowAutocorr)) - std::begin(kWindowAutocorr);
    EXPECT_EQ(kWindowAutocorr[peak], 19908);
    EXPECT_GT(peak, 192);
    for (int n = 1; n < 256; ++n) {
        if (n <= peak) EXPECT_GE(kWindowAutocorr[n], kWindowAutocorr[n - 1]) << n;
        else EXPECT_LE(kWindowAutocorr[n], kWindowAutocorr[n - 1]) << n;
    }
}

TEST(IsacTables, RateTables) {
    // Twelve rates from 10000 to 32000 bit/s in equal ratios; the averaging
    // table holds each times 6553.6.
    EXPECT_EQ(kQRateTable[0], 10000);
    EXPECT_EQ(kQRateTable[11], 32000);
    const double step = std::pow(3.2, 1.0 / 11);
    for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(kQRateTable[i], 10000 * std::pow(step, i), 25) << i;
        EXPECT_NEAR(KQRate01[i], kQRateTable[i] * 6553.6, 1.0) << i;
    }
    // The split of a super-wideband rate: each band's share grows with the
    // total and stays within 32000.
    for (auto [t, n] : {std::pair{kLowerBandBitRate12, 7}, std::pair{kUpperBandBitRate12, 7},
                        std::pair{kLowerBandBitRate16, 6}, std::pair{kUpperBandBitRate16, 6}})
        for (int i = 0; i < n; ++i) {
            EXPECT_LE(t[i], 32000) << i;
            if (i > 0) EXPECT_GE(t[i], t[i - 1]) << i;
        }
}

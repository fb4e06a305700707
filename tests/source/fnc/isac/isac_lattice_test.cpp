// Lattice filters, Levinson and Schur recursions, conversions and roots,
// against inverses and double-precision models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "isac_lattice.h"
#include "isac_test_util.h"

using namespace isac;

namespace {

// Double-precision Levinson-Durbin with this codec's sign convention
// (A = 1 + a1 z^-1 + ..., K the negated partial correlations).
bool levinson(const std::vector<double>& r, int order, std::vector<double>& a, std::vector<double>& k) {
    a.assign(order + 1, 0.0);
    k.assign(order, 0.0);
    a[0] = 1;
    double err = r[0];
    for (int i = 1; i <= order; ++i) {
        double acc = r[i];
        for (int j = 1; j < i; ++j) acc += a[j] * r[i - j];
        const double ki = -acc / err;
        if (std::fabs(ki) >= 1) return false;
        std::vector<double> next(a);
        for (int j = 1; j < i; ++j) next[j] = a[j] + ki * a[i - j];
        next[i] = ki;
        a = next;
        k[i - 1] = ki;
        err *= 1 - ki * ki;
    }
    return true;
}

// Autocorrelation of a windowed AR(2..) test signal.
std::vector<double> test_correlation(std::mt19937& rng, int order, double pole_radius) {
    std::normal_distribution<double> g(0, 1000);
    std::vector<double> x(2000);
    double y1 = 0, y2 = 0;
    const double a1 = -2 * pole_radius * std::cos(0.6), a2 = pole_radius * pole_radius;
    for (auto& v : x) {
        v = g(rng) - a1 * y1 - a2 * y2;
        y2 = y1;
        y1 = v;
    }
    std::vector<double> r(order + 1);
    for (int i = 0; i <= order; ++i)
        for (std::size_t n = i; n < x.size(); ++n) r[i] += x[n] * x[n - i];
    return r;
}

std::vector<int32_t> scaled(const std::vector<double>& r) {
    std::vector<int32_t> q(r.size());
    for (std::size_t i = 0; i < r.size(); ++i) q[i] = static_cast<int32_t>(std::lround(r[i] / r[0] * 1.0e9));
    return q;
}

// Double step-down from a polynomial (a[0] = 1) to reflection coefficients;
// `largest` receives the largest coefficient of the intermediate polynomials.
std::vector<double> step_down(std::vector<double> a, int order, double* largest) {
    std::vector<double> k(order);
    *largest = 0;
    for (int m = order; m >= 1; --m) {
        const double c = a[m];
        k[m - 1] = c;
        std::vector<double> nx(a);
        for (int j = 1; j < m; ++j) {
            nx[j] = (a[j] - c * a[m - j]) / (1 - c * c);
            *largest = std::max(*largest, std::fabs(nx[j]));
        }
        a = nx;
    }
    return k;
}

}  // namespace

TEST(IsacLattice, AnalysisThenSynthesisReturnsTheInput) {
    // Coefficients as the codec forms them: the reflection coefficients of
    // each frame's own LPC analysis, and gains that keep the whitened Q9
    // signal inside 16 bits.
    const auto speech = isac_test::speech_16k(16000 * 2);
    for (int order : {12, 6, 4}) {
        int32_t ma_state[13] = {};
        int16_t ar_state[13] = {};
        double s = 0, e = 0;
        for (std::size_t off = 0; off + 240 <= speech.size(); off += 240) {
            std::vector<double> r(order + 1, 0.0);
            for (int i = 0; i <= order; ++i)
                for (int n = i; n < 240; ++n) r[i] += double(speech[off + n]) * speech[off + n - i];
            r[0] = r[0] * 1.0001 + 1;
            std::vector<double> a, k;
            if (levinson(r, order, a, k)) {
                // Bandwidth expansion by 0.9 per order, as the masking model does.
                double f = 1;
                for (int i = 1; i <= order; ++i) a[i] *= (f *= 0.9);
                double unused;
                k = step_down(a, order, &unused);
            } else {
                k.assign(order, 0.0);
            }
            int peak = 2000;
            for (int n = 0; n < 240; ++n) peak = std::max(peak, std::abs(int(speech[off + n])));
            int16_t coef[6 * 12];
            int32_t gains[12];
            for (int u = 0; u < 6; ++u) {
                for (int i = 0; i < order; ++i)
                    coef[u * order + i] = static_cast<int16_t>(std::lround(std::clamp(k[i], -0.95, 0.95) * 32767));
                gains[2 * u] = static_cast<int32_t>(8000.0 / 512 / peak * 131072);
                gains[2 * u + 1] = 0;
            }
            int16_t q9[240], back[240];
            WebRtcIsacfix_NormLatticeFilterMa(static_cast<int16_t>(order), ma_state, &speech[off], coef, gains, 0, q9);
            int32_t q25[240];
            for (int n = 0; n < 240; ++n) q25[n] = q9[n] * 65536;
            WebRtcIsacfix_NormLatticeFilterAr(static_cast<int16_t>(order), ar_state, q25, coef, gains, 0, back);
            for (int n = 0; n < 240; ++n) {
                s += double(speech[off + n]) * speech[off + n];
                e += double(speech[off + n] - back[n]) * (speech[off + n] - back[n]);
            }
        }
        const double snr = 10 * std::log10(s / e);
        std::printf("lattice order %d: analysis then synthesis on speech, SNR %.1f dB\n", order, snr);
        EXPECT_GT(snr, 50.0) << order;  // measured 54.2 .. 54.9 dB when committed
    }
}

TEST(IsacLattice, ZeroGainSilencesTheSubFrame) {
    int32_t st[13] = {};
    int16_t in[240], out[240], coef[72] = {};
    for (int n = 0; n < 240; ++n) in[n] = static_cast<int16_t>(1000 + n);
    int32_t gains[12];
    for (auto& g : gains) g = 131072 / 64;
    gains[4] = 0;  // sub-frame 2, lower band
    WebRtcIsacfix_NormLatticeFilterMa(12, st, in, coef, gains, 0, out);
    for (int n = 80; n < 120; ++n) EXPECT_EQ(out[n], 0);
    // Zero coefficients: the gain alone; 1/64 in Q17 gives 8 x in Q9.
    for (int n = 0; n < 40; ++n) EXPECT_NEAR(out[n], in[n] * 8.0, 0.002 * 8 * in[n] + 2);
}

TEST(IsacLattice, LevinsonAndSchurAgreeWithDoublePrecision) {
    std::mt19937 rng(12);
    for (int trial = 0; trial < 30; ++trial) {
        for (int order : {12, 8, 6, 4}) {
            const auto r = test_correlation(rng, order, 0.5 + 0.45 * (trial % 3) / 2.0);
            std::vector<double> a, k;
            ASSERT_TRUE(levinson(r, order, a, k));
            const auto R = scaled(r);
            int16_t A[13], K[12];
            ASSERT_EQ(WebRtcSpl_LevinsonW32_JSK(R.data(), A, K, static_cast<int16_t>(order)), 1);
            for (int i = 0; i < order; ++i) EXPECT_NEAR(K[i] / 32768.0, k[i], 0.003) << order << " " << i;
            for (int i = 1; i <= order; ++i) EXPECT_NEAR(A[i] / 2048.0, a[i], 0.01) << order << " " << i;
            EXPECT_EQ(A[0], 2048);
            if (order == 6) {
                int16_t A12[7], K6[6];
                ASSERT_EQ(WebRtcSpl_LevinsonDurbin(R.data(), A12, K6, 6), 1);
                EXPECT_EQ(A12[0], 4096);
                for (int i = 1; i <= 6; ++i) EXPECT_NEAR(A12[i] / 4096.0, a[i], 0.005);
            }
            int16_t Ks[12];
            WebRtcSpl_AutoCorrToReflCoef(R.data(), order, Ks);
            for (int i = 0; i < order; ++i) EXPECT_NEAR(Ks[i] / 32768.0, k[i], 0.01) << order << " " << i;
        }
    }
    // A correlation that no signal has: the recursion reports the step.
    const int32_t bad[5] = {1000000, 999000, 0, -999000, 1000000};
    int16_t A[5], K[4];
    EXPECT_LT(WebRtcSpl_LevinsonW32_JSK(bad, A, K, 4), 0);
    const int32_t wild[3] = {1 << 29, (1 << 29) + 70000, 0};  // |R1| > R0
    int16_t Kw[2] = {9, 9};
    WebRtcSpl_AutoCorrToReflCoef(wild, 2, Kw);
    EXPECT_EQ(Kw[0], 0);
    EXPECT_EQ(Kw[1], 0);
}

TEST(IsacLattice, PolynomialAndReflectionConversionsAgreeWithDoublePrecision) {
    std::mt19937 rng(13);
    // The step-down divides by 1 - k^2 at every order, so the rounding of
    // each stage grows by that factor; the comparison keeps to coefficients
    // where that growth stays moderate, as in bandwidth-expanded filters.
    std::uniform_real_distribution<double> kd(-0.8, 0.8);
    double worst_up = 0, worst12 = 0, worst11 = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int order = 1 + trial % 12;
        int16_t k[12], a[13], back[12];
        for (int i = 0; i < order; ++i) k[i] = static_cast<int16_t>(std::lround(kd(rng) * 32767));
        std::vector<double> ad(order + 1, 0.0);
        ad[0] = 1;
        for (int m = 0; m < order; ++m) {
            std::vector<double> nx(ad);
            for (int j = 1; j <= m; ++j) nx[j] = ad[j] + k[m] / 32768.0 * ad[m + 1 - j];
            nx[m + 1] = k[m] / 32768.0;
            ad = nx;
        }
        double largest = 0;
        for (double v : ad) largest = std::max(largest, std::fabs(v));
        if (largest >= 7.5) continue;  // beyond Q12; the codec's polynomials stay well inside
        WebRtcSpl_ReflCoefToLpc(k, order, a);
        EXPECT_EQ(a[0], 4096);
        for (int j = 1; j <= order; ++j) worst_up = std::max(worst_up, std::fabs(a[j] / 4096.0 - ad[j]));

        // Step-down of the integer polynomial, against the same in double.
        std::vector<double> aq(order + 1), aq11(order + 1);
        int16_t a11[13];
        for (int j = 0; j <= order; ++j) {
            aq[j] = a[j] / 4096.0;
            a11[j] = static_cast<int16_t>(a[j] >> 1);
            aq11[j] = a11[j] / 2048.0;
        }
        double big12, big11;
        const auto k12 = step_down(aq, order, &big12);
        const auto k11 = step_down(aq11, order, &big11);
        // The intermediate polynomials must fit the 16-bit format as well.
        bool well_posed = big12 < 7.5 && big11 < 7.5;
        for (double v : k12) well_posed &= std::fabs(v) < 0.95;
        for (double v : k11) well_posed &= std::fabs(v) < 0.95;
        WebRtcSpl_LpcToReflCoef(a, order, back);
        int16_t kq11[12];
        WebRtcSpl_AToK_JSK(a11, static_cast<int16_t>(order), kq11);
        if (!well_posed) continue;
        // Rounding of one stage, grown by 1 / (1 - k^2) through the stages below.
        double growth12 = 1, growth11 = 1;
        for (int i = 0; i < order; ++i) {
            growth12 *= 1 / (1 - k12[i] * k12[i]);
            growth11 *= 1 / (1 - k11[i] * k11[i]);
        }
        for (int i = 0; i < order; ++i) {
            worst12 = std::max(worst12, std::fabs(back[i] / 32768.0 - k12[i]) / (order * growth12));
            worst11 = std::max(worst11, std::fabs(kq11[i] / 32768.0 - k11[i]) / (order * growth11));
        }
    }
    std::printf("step-up: largest deviation %.5f; step-down: largest deviation per order and unit growth "
                "%.6f (Q12 input), %.6f (Q11 input)\n", worst_up, worst12, worst11);
    EXPECT_LT(worst_up, 0.005);
    EXPECT_LT(worst12, 10.0 / 8192);
    EXPECT_LT(worst11, 20.0 / 8192);
}

TEST(IsacLattice, SquareRootStaysNearTheExactRoot) {
    EXPECT_EQ(WebRtcSpl_Sqrt(0), 0);
    std::mt19937 rng(14);
    double worst_rel = 0;
    int32_t worst_at = 0;
    auto check = [&](int32_t v) {
        const double exact = std::sqrt(static_cast<double>(v));
        const int32_t r = WebRtcSpl_Sqrt(v);
        // Bound: 1.5 LSB plus the series' own error, under 8e-4 of the root.
        const double dev = (std::fabs(r - exact) - 1.5) / exact;
        if (dev > worst_rel) {
            worst_rel = dev;
            worst_at = v;
        }
    };
    for (int s = 0; s < 31; ++s) {
        check(1 << s);
        check((1 << s) + 1);
        check(static_cast<int32_t>((int64_t{1} << (s + 1)) - 1));
    }
    std::uniform_int_distribution<int32_t> d(1, INT32_MAX);
    for (int i = 0; i < 100000; ++i) check(d(rng) >> (i % 31));
    std::printf("Sqrt: largest deviation beyond 1.5 LSB: %.6f of the root (at %d)\n", worst_rel, worst_at);
    EXPECT_LT(worst_rel, 8e-4);

    int16_t x[5] = {0, 16384, -16384, 32767, -32768}, y[5];
    WebRtcSpl_SqrtOfOneMinusXSquared(x, 5, y);
    EXPECT_NEAR(y[0], 32767, 2);
    EXPECT_NEAR(y[1], 28378, 30);
    EXPECT_EQ(y[1], y[2]);
    EXPECT_LT(y[3], 400);
}

TEST(IsacLattice, VecSqrtSurvivesRunsOfZeros) {
    int32_t in[120];
    uint16_t out[120];
    std::mt19937 rng(15);
    std::uniform_int_distribution<int32_t> d(0, 1 << 28);
    for (int pattern = 0; pattern < 4; ++pattern) {
        for (int i = 0; i < 120; ++i) {
            const bool zero = pattern == 0 || (pattern == 1 && i < 60) || (pattern == 2 && i >= 20 && i < 100);
            // Values of one order of magnitude, so the running estimate
            // carries from one to the next as it does on a spectrum.
            in[i] = zero ? 0 : (pattern == 3 && i % 2 ? -1 : 1) * (1000000 + d(rng) % 1000000);
        }
        WebRtcIsacfix_VecSqrt(in, out);
        for (int i = 0; i < 120; ++i) {
            const double exact = std::sqrt(std::fabs(static_cast<double>(in[i])));
            // Twelve Newton steps from the running estimate: a zero after a
            // large value stays a few units above 0; the first value after a
            // run of zeros starts again from 1 and need not converge.
            if (in[i] == 0) {
                EXPECT_LE(out[i], 8) << pattern << " " << i;
                continue;
            }
            if (i > 0 && in[i - 1] == 0) continue;
            EXPECT_NEAR(out[i], exact, 1.0 + exact * 0.01) << pattern << " " << i;
        }
    }
}

TEST(IsacLattice, CorrelationAndVectorRoutines) {
    std::mt19937 rng(16);
    for (int amplitude : {0, 100, 32767}) {
        auto x = isac_test::random16(rng, 256, amplitude);
        if (amplitude == 32767) x[5] = -32768;
        int32_t r[13];
        int scale = -1;
        ASSERT_EQ(WebRtcSpl_AutoCorrelation(x.data(), 256, 12, r, &scale), 13);
        for (int i = 0; i <= 12; ++i) {
            int64_t exact = 0;
            for (int n = 0; n + i < 256; ++n) exact += (x[n] * x[n + i]) >> scale;
            EXPECT_EQ(r[i], exact);
        }
        if (amplitude == 0) {
            EXPECT_EQ(scale, 0);
        }
        EXPECT_GE(r[0], 0);
    }
    int32_t r[3];
    int scale;
    int16_t small[2] = {1, 2};
    EXPECT_EQ(WebRtcSpl_AutoCorrelation(small, 2, 5, r, &scale), -1);

    const int16_t v16[3] = {5, -32768, 7};
    EXPECT_EQ(WebRtcSpl_MaxAbsValueW16C(v16, 3), 32767);
    EXPECT_EQ(WebRtcSpl_MaxAbsValueW16C(nullptr, 3), -1);
    EXPECT_EQ(WebRtcSpl_MaxAbsValueW16C(v16, 0), -1);
    const int32_t v32[2] = {INT32_MIN, 3};
    EXPECT_EQ(WebRtcSpl_MaxAbsValueW32C(v32, 2), INT32_MAX);

    const int32_t w[4] = {70000 << 4, -5 << 4, INT32_MIN, 1 << 20};
    int16_t o[4];
    WebRtcSpl_VectorBitShiftW32ToW16(o, 4, w, 4);
    EXPECT_EQ(o[0], 32767);
    EXPECT_EQ(o[1], -5);
    EXPECT_EQ(o[2], -32768);
    EXPECT_EQ(o[3], 32767);  // 2^16 saturates

    int16_t in[480], gains[120], out1[240], out2[240];
    for (int i = 0; i < 480; ++i) in[i] = static_cast<int16_t>(i * 37 - 8000);
    for (int i = 0; i < 120; ++i) gains[i] = static_cast<int16_t>(512 + i);
    WebRtcIsacfix_Apply_GainVec(in, gains, out1, out2);
    for (int j = 0; j < 240; ++j) {
        EXPECT_EQ(out1[j], static_cast<int16_t>((in[2 * j] * gains[j >> 1] + 512) >> 10));
        EXPECT_NEAR(out2[j], in[2 * j + 1] * gains[j >> 1] / 1024.0, 1.0);
    }

    alignas(8) int16_t a[64], b[68];
    for (int i = 0; i < 64; ++i) a[i] = static_cast<int16_t>(i - 30);
    for (int i = 0; i < 68; ++i) b[i] = static_cast<int16_t>(3 * i - 100);
    int32_t p[4], ps[4];
    isac_4x_inner_prod_aligned(a, b, 64, p);
    isac_4x_inner_prod_aligned_scaled(a, b, 64, ps, 2);
    for (int j = 0; j < 4; ++j) {
        int32_t e = 0, es = 0;
        for (int i = 0; i < 64; ++i) {
            e += a[i] * b[i + j];
            es += (a[i] * b[i + j]) >> 2;
        }
        EXPECT_EQ(p[j], e);
        EXPECT_EQ(ps[j], es);
    }
}

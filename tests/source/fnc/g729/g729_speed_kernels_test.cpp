// The processor-specific forms of the G.729 kernels against their portable reference forms, on
// random inputs up to full scale (-32768 included) and on inputs near the codewords, where
// distances tie after packing and the candidate number decides.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "g729_internal.h"

using namespace g729;

namespace {

std::mt19937 rng(7291);

W16 rnd(int lo, int hi) { return static_cast<W16>(std::uniform_int_distribution<int>(lo, hi)(rng)); }

// A value from the whole 16-bit range, with the extremes drawn often.
W16 fullScale() {
    switch (rnd(0, 7)) {
        case 0: return kMin16;
        case 1: return kMax16;
        default: return rnd(kMin16, kMax16);
    }
}

}  // namespace

TEST(G729SpeedKernels, LspSearchesInAvx2PickTheReferenceCandidates) {
    if (!g729HasAvx2()) GTEST_SKIP() << "no AVX2 on this processor";
    // Each trial draws the target one way: full scale, a codeword with a small error (packed
    // ties), or a codeword exactly.
    for (int trial = 0; trial < 6000; ++trial) {
        const int kind = trial % 3;
        W16 rbuf[10], cb1[10], wegt[10];
        const int near1 = rnd(0, 127), near2 = rnd(0, 31);
        for (int k = 0; k < 10; ++k) {
            const int err = kind == 1 ? rnd(-40, 40) : 0;
            rbuf[k] = kind == 0 ? fullScale() : static_cast<W16>(g729_std::lspcb1[near1][k] + err);
            cb1[k] = kind == 0 ? fullScale() : static_cast<W16>(rbuf[k] - g729_std::lspcb2[near2][k] - (kind == 1 ? rnd(-40, 40) : 0));
            wegt[k] = trial % 5 == 0 ? rnd(0, 1) * kMax16 : rnd(0, kMax16);
        }
        W32 ref;
        g729ab_Lsp_pre_select(rbuf, g729ab_lspcb1_reorder.data(), &ref);
        ASSERT_EQ(g729ab_Lsp_pre_select_avx2(rbuf), ref) << "trial " << trial;
        ASSERT_EQ(g729ab_Lsp_select_1_avx2(rbuf, cb1, wegt, 0), g729ab_Lsp_select_1(rbuf, cb1, wegt, g729ab_lspcb2a_reorder.data()))
            << "trial " << trial;
        ASSERT_EQ(g729ab_Lsp_select_1_avx2(rbuf + 5, cb1 + 5, wegt + 5, 1),
                  g729ab_Lsp_select_1(rbuf + 5, cb1 + 5, wegt + 5, g729ab_lspcb2b_reorder.data()))
            << "trial " << trial;
    }
    // Codeword 77 at errors of -32768 (each pair of squares wraps to 2^31): every distance
    // saturates and codeword 0 wins.
    W16 rbuf[10], cb1[10], wegt[10];
    for (int k = 0; k < 10; ++k) {
        rbuf[k] = static_cast<W16>(kMin16 + g729_std::lspcb1[77][k]);
        cb1[k] = kMax16;
        wegt[k] = kMax16;
    }
    W32 ref;
    g729ab_Lsp_pre_select(rbuf, g729ab_lspcb1_reorder.data(), &ref);
    EXPECT_EQ(ref, 0);
    EXPECT_EQ(g729ab_Lsp_pre_select_avx2(rbuf), ref);
    EXPECT_EQ(g729ab_Lsp_select_1_avx2(rbuf, cb1, wegt, 0), g729ab_Lsp_select_1(rbuf, cb1, wegt, g729ab_lspcb2a_reorder.data()));
}

TEST(G729SpeedKernels, AutocorrelationKeepsTheLaneRuleOnBothSidesOfThePlainBound) {
    // Noise and low tones (whose lags correlate almost fully, the sign alternating in some) at
    // amplitudes whose doubled energy falls below, near and far beyond 32 bits; the loudest
    // saturate lanes and joins.
    for (int amp : {2000, 2100, 2200, 3000, 3800, 4200, 9000, 32767}) {
        for (int trial = 0; trial < 24; ++trial) {
            std::vector<W16> y(256);
            const double w = 0.002 * (trial % 4), flip = trial % 8 < 4 ? 1.0 : -1.0;
            for (int i = 0; i < 256; ++i) {
                if (trial % 3 == 0)
                    y[i] = amp == 32767 && trial % 2 ? fullScale() : rnd(-amp, amp);
                else
                    y[i] = static_cast<W16>(std::lround(amp * std::cos(w * i) * (i % 2 ? flip : 1.0)));
            }
            const std::vector<W16> x = y;
            W32 r[13];
            g729ab_ACF(y.data(), r, 2);
            for (int i = 240; i < 256; ++i) EXPECT_EQ(y[i], 0);
            std::vector<W16> padded(x.begin(), x.begin() + 240);
            padded.resize(256, 0);
            for (int k = 1; k <= 12; ++k)
                ASSERT_EQ(r[k], static_cast<W32>(static_cast<std::uint32_t>(g729PartialSums4(padded.data(), padded.data() + k, 240)) << 2))
                    << "amp " << amp << " lag " << k;
        }
    }
}

TEST(G729SpeedKernels, BlockSynthesisEqualsThePortableFilterUpToTheBound) {
    // Coefficients up to the plain-sum bound (some concentrated on one tap, so that outputs run
    // away and saturate), full-scale excitation and past outputs.
    int saturated = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        W16 a[11];
        a[0] = 4096;
        const int amp = trial % 4 == 0 ? 28000 : (trial % 4 == 1 ? 6000 : 300);
        for (int j = 1; j <= 10; ++j) a[j] = rnd(-amp, amp);
        if (trial % 7 == 0) {
            for (int j = 1; j <= 10; ++j) a[j] = 0;
            a[rnd(1, 10)] = rnd(-28600, 28600);
        }
        while (!g729SynPlainAllowed(a))
            for (int j = 1; j <= 10; ++j) a[j] = static_cast<W16>(a[j] * 7 / 8);
        W16 x[40], ref[10 + 40], fast[10 + 40];
        for (auto& v : x) v = trial % 2 ? fullScale() : rnd(-3000, 3000);
        for (int i = 0; i < 10; ++i) ref[i] = fast[i] = trial % 2 ? fullScale() : rnd(-3000, 3000);
        const bool satRef = g729SynFiltPlain(a, x, ref + 10);
        const bool satFast = g729SynFiltPlainSse2(a, x, fast + 10);
        ASSERT_EQ(satFast, satRef) << "trial " << trial;
        for (int n = 0; n < 40; ++n) ASSERT_EQ(fast[10 + n], ref[10 + n]) << "trial " << trial << " sample " << n;
        saturated += satRef;
    }
    EXPECT_GT(saturated, 100);
    EXPECT_LT(saturated, 3900);  // both outcomes well represented
    // An integrator driven downwards saturates at the bottom only, and says so.
    {
        W16 integ[11] = {4096, -4096, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        W16 x[40], y[10 + 40] = {};
        for (auto& v : x) v = -20000;
        EXPECT_TRUE(g729SynFiltPlainSse2(integ, x, y + 10));
        EXPECT_EQ(y[10 + 39], kMin16);
        EXPECT_EQ(g729ab_Syn_filt3(integ, x, y + 10), 1);
    }
    // The bound itself: the largest coefficient sum it admits, and one more.
    W16 a[11] = {4096, 28671, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(g729SynPlainAllowed(a));
    a[2] = 1;
    EXPECT_FALSE(g729SynPlainAllowed(a));
}

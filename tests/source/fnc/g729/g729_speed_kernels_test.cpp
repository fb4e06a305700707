// The processor-specific forms of the G.729 kernels against their portable reference forms, on
// random inputs up to full scale (-32768 included) and on inputs near the codewords, where
// distances tie after packing and the candidate number decides.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
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
        // A shorter run (the post filter's impulse response) gives the same first outputs.
        W16 part[10 + 40] = {};
        std::copy(fast, fast + 10, part);
        g729SynFiltPlainSse2(a, x, part + 10, 24);
        for (int n = 0; n < 24; ++n) ASSERT_EQ(part[10 + n], ref[10 + n]) << "trial " << trial << " sample " << n;
        for (int n = 24; n < 40; ++n) ASSERT_EQ(part[10 + n], 0) << "trial " << trial << " sample " << n;
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

namespace {

// The LSP root search one evaluation at a time: walk the grid (two points at a time while far
// from zero), find the point before a sign change, halve the interval twice, interpolate.
void plainAzLsp(const W16* a, W16* lsp, const W16* old_lsp) {
    // Sum and difference polynomials at half scale, or at quarter scale when a coefficient
    // reaches the 16-bit limits.
    W16 F1[6], F2[6];
    int shift = 1;
    for (;; ++shift) {
        F1[0] = F2[0] = static_cast<W16>(4096 >> shift);
        bool limit = false;
        for (int i = 0; i < 5; ++i) {
            const W32 r1 = ((W32{a[i + 1]} + a[10 - i]) >> shift) - F1[i];
            const W32 r2 = ((W32{a[i + 1]} - a[10 - i]) >> shift) + F2[i];
            limit |= r1 >= kMax16 || r1 <= kMin16 || r2 >= kMax16 || r2 <= kMin16;
            F1[i + 1] = sat16(r1);
            F2[i + 1] = sat16(r2);
        }
        if (!limit || shift == 2) break;
    }
    const W16* params = g729ab_chebps_tab1.data() + (shift == 2 ? 3 : 0);
    W32 f[2][6];
    for (int k = 0; k < 6; ++k) {
        f[0][k] = W32{F1[k]} * (k < 5 ? 8192 : 4096);
        f[1][k] = W32{F2[k]} * (k < 5 ? 8192 : 4096);
    }
    auto y = [&](int poly, W16 x) { return g729ab_Chebps_11(x, f[poly], params); };
    auto sameSign = [](W16 p, W16 q) { return (p < 0) == (q < 0); };
    int nf = 0, j = 0, step = 2, poly = 0;
    W16 xlow = g729ab_grid[0], ylow = y(0, xlow);
    while (nf < 10 && j < 50) {
        const int jn = std::min(j + step, 50), taken = jn - j;
        j = jn;
        W16 xhigh = xlow, yhigh = ylow;
        xlow = g729ab_grid[j];
        ylow = y(poly, xlow);
        if (sameSign(ylow, yhigh)) {
            step = abs_s(ylow) > 200 ? 2 : 1;
            continue;
        }
        if (taken == 2) {
            const W16 xm = g729ab_grid[j - 1], ym = y(poly, xm);
            if (L_mult(ylow, ym) <= 0) {
                xhigh = xm, yhigh = ym;
            } else {
                xlow = xm, ylow = ym, --j;
            }
        }
        for (int b = 0; b < 2; ++b) {
            const W16 xmid = static_cast<W16>((xlow >> 1) + (xhigh >> 1)), ymid = y(poly, xmid);
            if (sameSign(ymid, ylow))
                xlow = xmid, ylow = ymid;
            else
                xhigh = xmid, yhigh = ymid;
        }
        const W16 dx = sub(xhigh, xlow), dy = sub(yhigh, ylow);
        W16 xint = xlow;
        if (dy != 0) {
            const W16 e = norm_s(abs_s(dy));
            W16 t = static_cast<W16>(L_mult(dx, div_s(16383, shl(abs_s(dy), e))) >> (20 - e));
            if (dy < 0) t = static_cast<W16>(-t);
            xint = static_cast<W16>(xlow - static_cast<W16>(L_mult(ylow, t) >> 11));
        }
        lsp[nf++] = xint;
        xlow = xint;
        poly ^= 1;
        ylow = y(poly, xlow);
        step = 1;
    }
    if (nf < 10)
        for (int i = 0; i < 10; ++i) lsp[i] = old_lsp[i];
}

}  // namespace

TEST(G729SpeedKernels, LspRootSearchMatchesTheOneAtATimeSearch) {
    // Filters from ordered LSPs (ten roots, some pairs close together), the LPC analysis of
    // random noise and tones, and arbitrary coefficients (roots missing, wide polynomials).
    const W16 old[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
    int missing = 0, wide = 0;
    for (int trial = 0; trial < 6000; ++trial) {
        W16 a[11];
        a[0] = 4096;
        if (trial % 3 == 0) {
            W16 lsp[10];
            for (auto& v : lsp) v = rnd(-32000, 32000);
            std::sort(lsp, lsp + 10, std::greater<W16>());
            if (trial % 2) lsp[5] = static_cast<W16>(lsp[4] - rnd(0, 60));
            g729ab_Lsp_Az(lsp, a);
        } else if (trial % 3 == 1) {
            std::vector<W16> x(240);
            const double w = 0.05 + 0.01 * (trial % 250);
            for (int i = 0; i < 240; ++i) x[i] = static_cast<W16>(rnd(-300, 300) + 8000 * std::sin(w * i));
            W32 r[13];
            g729ab_Autocorr(x.data(), r, g729ab_hamwindow.data());
            g729ab_Lag_window(r);
            W16 oldA[10] = {}, rc[10], oldRc[2] = {}, err;
            g729ab_Levinson(r, a, oldA, rc, oldRc, &err);
        } else {
            const int amp = trial % 4 == 0 ? 32767 : 12000;
            for (int i = 1; i <= 10; ++i) a[i] = trial % 8 == 2 ? fullScale() : rnd(-amp, amp);
        }
        W16 ref[10], got[10];
        plainAzLsp(a, ref, old);
        g729ab_Az_lsp(a, got, old);
        for (int i = 0; i < 10; ++i) ASSERT_EQ(got[i], ref[i]) << "trial " << trial << " root " << i;
        missing += std::equal(ref, ref + 10, old);
        W32 s1 = 0;
        for (int i = 1; i <= 5; ++i) s1 = std::max<W32>(s1, std::abs(W32{a[i]}) + std::abs(W32{a[11 - i]}));
        wide += s1 > 16000;
    }
    EXPECT_GT(missing, 100);
    EXPECT_GT(wide, 100);
}

TEST(G729SpeedKernels, HighPassFiltersFollowTheirRecurrencesIntoSaturation) {
    // The input and output high-pass filters from their recurrences with 32-bit wrapping sums;
    // the output filter's gain of eight as three saturating doublings. Loud square waves drive
    // both into saturation both ways.
    auto sat = [](std::int64_t v) { return static_cast<W32>(std::clamp<std::int64_t>(v, kMin32, kMax32)); };
    for (int mode : {0, 1}) {
        const auto& bq = mode == 1 ? g729ab_b_post : g729ab_b_pre;
        const auto& aq = mode == 1 ? g729ab_a_post : g729ab_a_pre;
        PrePostProcessState st{}, ref{};
        int saturated = 0;
        for (int frame = 0; frame < 200; ++frame) {
            W16 buf[2 + 80], in[2 + 80];
            const int amp = frame % 4 == 3 ? 32767 : 4000 * (frame % 4 + 1);
            // Square waves of 40 samples drive the input filter's low resonance hardest.
            for (int i = 0; i < 80; ++i) in[2 + i] = frame % 8 < 4 ? rnd(-amp, amp) : static_cast<W16>((i / 40) % 2 ? amp : -amp - 1);
            std::copy(in, in + 82, buf);
            W16 out[80];
            g729ab_Pre_Process(&st, buf + 2, out, mode);
            in[0] = ref.x1;
            in[1] = ref.x0;
            for (int n = 0; n < 80; ++n) {
                const W16* x = in + 2 + n;
                const W32 B = bq[0] * W32{x[0]} + bq[1] * W32{x[-1]} + bq[2] * W32{x[-2]};
                const W32 s = static_cast<W32>(static_cast<std::uint32_t>(B) + static_cast<std::uint32_t>((std::int64_t{ref.L_y2} * aq[2]) >> 16) +
                                               static_cast<std::uint32_t>((std::int64_t{ref.L_y1} * aq[1]) >> 16));
                W32 y;
                W16 o;
                if (mode == 1) {
                    y = sat(2 * std::int64_t{sat(2 * std::int64_t{sat(2 * std::int64_t{s})})});
                    o = static_cast<W16>(sat(32768 + std::int64_t{sat(2 * std::int64_t{y})}) >> 16);
                } else {
                    y = sat(16 * std::int64_t{s});
                    o = static_cast<W16>(sat(std::int64_t{y} + 32768) >> 16);
                }
                saturated += y == kMax32 || y == kMin32;
                ASSERT_EQ(out[n], o) << mode << " " << frame << " " << n;
                ref.L_y2 = ref.L_y1;
                ref.L_y1 = y;
            }
            ref.x1 = in[80];
            ref.x0 = in[81];
            ASSERT_EQ(st.L_y1, ref.L_y1);
            ASSERT_EQ(st.L_y2, ref.L_y2);
        }
        EXPECT_GT(saturated, 10) << mode;
    }
}

TEST(G729SpeedKernels, PostFilterPitchSearchKeepsTheLaneRule) {
    // The best of seven lag correlations, each under the four-lane rule, at amplitudes below
    // and beyond the plain-sum bound.
    for (int trial = 0; trial < 600; ++trial) {
        const int amp = std::array{3000, 5000, 6000, 9000, 20000, 32767}[trial % 6];
        std::vector<W16> sig(200);
        for (auto& v : sig) v = amp == 32767 && trial % 2 ? fullScale() : rnd(-amp, amp);
        W16* x = sig.data() + 160;
        const int tmin = rnd(20, 110), tmax = tmin + 6;
        if (trial % 5 == 0) {
            // Periodic at the longest lag, just inside the bound over the nearer lags' samples
            // but full scale on the six only the longest lag reaches: its sum saturates.
            for (int n = -tmax; n < 40; ++n) {
                const int m = ((n % tmax) + tmax) % tmax;
                const bool up = (m * 7919) % 3 != 0;
                x[n] = static_cast<W16>(n < -tmin ? (up ? 32767 : -32767) : (up ? 5180 : -5180));
            }
        }
        W32 best = kMin32;
        int bestT = tmin;
        for (int t = tmin; t <= tmax; ++t) {
            const W32 c = g729ab_Vec_L_mac8(x, x - t, 40, 0);
            if (c > best) best = c, bestT = t;
        }
        W16 t0;
        ASSERT_EQ(g729ab_Pitch_delay_correlate(x, tmin, tmax, &t0), best) << trial;
        ASSERT_EQ(t0, bestT) << trial;
    }
}

TEST(G729SpeedKernels, PitchInterpolationNearTheBoundWithFeedback) {
    // Lags shorter than the block feed outputs back; loud past samples of full magnitude just
    // inside the plain-sum bound let the fed-back outputs grow until later sums saturate.
    auto satMac = [](W32 acc, W16 a, W16 b) { return L_mac(acc, a, b); };
    int differ = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int amp = std::array{20000, 24000, 26000, 26800, 27500}[trial % 5];
        std::vector<W16> hist(154 + 40);
        for (auto& v : hist) v = static_cast<W16>(rnd(0, 1) ? amp : -amp);
        const int t0 = rnd(20, 49), frac = rnd(-1, 1);
        int f = -frac, back = t0;
        if (f < 0) f += 3, ++back;
        const auto& c1 = g729ab_inter_3l_fast[f];
        const auto& c2 = g729ab_inter_3l_fast[3 - f];
        std::vector<W16> refDec = hist, refFast = hist;
        for (int j = 0; j < 40; ++j) {
            const W16* d = refDec.data() + 154 - back + j;
            W32 s = 0;
            for (int i = 0; i < 10; ++i) s = satMac(satMac(s, d[-i], c1[i]), d[1 + i], c2[i]);
            refDec[154 + j] = round16(s);
            const W16* q = refFast.data() + 154 - back + j;
            std::int64_t e = 0;
            bool inRange = true;
            W32 chain = 0;
            for (int i = 9; i >= 0; --i) {
                e += 2 * std::int64_t{q[-i]} * c1[i];
                inRange &= e >= kMin32 && e <= kMax32;
                chain = satMac(chain, q[-i], c1[i]);
            }
            for (int i = 0; i < 10; ++i) {
                e += 2 * std::int64_t{q[1 + i]} * c2[i];
                inRange &= e >= kMin32 && e <= kMax32;
                chain = satMac(chain, q[1 + i], c2[i]);
            }
            refFast[154 + j] = round16(inRange ? static_cast<W32>(e) : chain);
        }
        std::vector<W16> dec = hist, fast = hist;
        g729ab_Pred_lt_3_dec(dec.data() + 154, t0, frac);
        g729ab_Pred_lt_3_fast(fast.data() + 154, t0, frac);
        ASSERT_EQ(dec, refDec) << trial;
        ASSERT_EQ(fast, refFast) << trial;
        differ += refDec != refFast;
    }
    EXPECT_GT(differ, 0);  // the two summation orders saturate differently somewhere
    // The newest ten samples the last output reads, full scale with the signs of their taps and
    // everything else silent: their sum alone passes the 32-bit limit.
    for (auto form : {g729ab_Pred_lt_3_dec, g729ab_Pred_lt_3_fast}) {
        std::vector<W16> hist(154 + 40, 0);
        W16* exc = hist.data() + 154;
        const auto& c2 = g729ab_inter_3l_fast[1];  // the second half's taps for frac 1
        for (int i = 0; i < 10; ++i) exc[-21 + i] = c2[i] < 0 ? kMin16 : kMax16;
        form(exc, 60, 1);
        EXPECT_EQ(exc[39], kMax16);
    }
}

TEST(G729SpeedKernels, ExcitationAndTargetFollowTheirSaturatingChains) {
    // Both shifts of the excitation sum, gains of either sign up to -32768, and amplitudes
    // on both sides of the plain-sum bound.
    for (int trial = 0; trial < 3000; ++trial) {
        const int amp = std::array{2000, 8000, 16000, 32767}[trial % 4];
        W16 exc[40], code[40], y1[40], xn[40];
        for (int n = 0; n < 40; ++n) {
            exc[n] = trial % 3 ? rnd(-amp, amp) : fullScale();
            code[n] = trial % 5 ? rnd(-amp, amp) : fullScale();
            y1[n] = fullScale();
            xn[n] = fullScale();
        }
        const W16 gp = trial % 7 == 0 ? kMin16 : rnd(-20000, 20000), gc = trial % 11 == 0 ? kMin16 : rnd(-9000, 9000);
        const int mode = trial % 2, s = mode == 1 ? 15 : 14;
        W16 out[40];
        std::copy(exc, exc + 40, out);
        g729ab_TotalExc(out, code, gp, gc, mode);
        for (int n = 0; n < 40; ++n) {
            const W32 L = L_add(L_mult(exc[n], gp), L_mult(code[n], gc));
            const std::int64_t r = (std::int64_t{L} + (1 << (s - 1))) >> s;
            ASSERT_EQ(out[n], static_cast<W16>(std::clamp<std::int64_t>(r, kMin16, kMax16))) << trial << " " << n;
        }
        const W16 g = trial % 13 == 0 ? kMin16 : fullScale();
        g729ab_CalcTargetVec(y1, xn, g, out);
        for (int n = 0; n < 40; ++n) ASSERT_EQ(out[n], sub(xn[n], sat16(L_mult(y1[n], g) >> 15))) << trial << " " << n;
    }
    // A sum just below the limit: only the rounding constant carries it over.
    W16 exc[40], code[40];
    std::fill(exc, exc + 40, kMax16);
    std::fill(code, code + 40, W16{2});
    g729ab_TotalExc(exc, code, kMax16, 30000, 1);
    for (int n = 0; n < 40; ++n) ASSERT_EQ(exc[n], kMax16);
}

TEST(G729SpeedKernels, GainControlFollowsItsRecurrenceToTheFixedPoint) {
    // Starting gains at, near and far from the fixed point of each target, full-scale signals.
    int settled = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const W16 g0 = trial % 9 == 0 ? kMin16 : fullScale();
        W16 gains[41], sig[40], ref[40];
        gains[0] = trial % 3 == 0 ? fullScale() : static_cast<W16>(g0 * 10 + rnd(-12, 12));
        for (int n = 0; n < 40; ++n) sig[n] = ref[n] = fullScale();
        W16 g = gains[0], refGains[41];
        refGains[0] = g;
        for (int n = 0; n < 40; ++n) {
            g = static_cast<W16>(((W32{g} * 29491) >> 15) + g0);
            refGains[n + 1] = g;
            ref[n] = sat16(L_mult(ref[n], g) >> 13);
        }
        settled += refGains[1] == refGains[0];
        g729ab_agcLoop(sig, gains, g0);
        for (int n = 0; n < 40; ++n) ASSERT_EQ(sig[n], ref[n]) << trial << " " << n;
        for (int n = 0; n <= 40; ++n) ASSERT_EQ(gains[n], refGains[n]) << trial << " " << n;
    }
    EXPECT_GT(settled, 20);
}

TEST(G729SpeedKernels, ResidualFollowsItsChainOnBothSidesOfTheBound) {
    // Coefficients and signals from quiet to full scale: the plain sums below the bound, the
    // saturating chain (tap 10 first) above it.
    for (int trial = 0; trial < 3000; ++trial) {
        const int amp = std::array{1000, 4000, 9000, 32767}[trial % 4];
        W16 a[11], x[50], y[40];
        for (auto& v : a) v = trial % 5 == 0 ? fullScale() : rnd(-amp, amp);
        for (auto& v : x) v = trial % 3 == 0 ? fullScale() : rnd(-amp, amp);
        g729ab_Residu(a, x + 10, y);
        for (int n = 0; n < 40; ++n) {
            W32 s = 0;
            for (int j = 10; j >= 0; --j) s = L_mac(s, a[j], x[10 + n - j]);
            ASSERT_EQ(y[n], sat16(static_cast<W32>((std::int64_t{s} + 4096) >> 13))) << trial << " " << n;
        }
    }
    // Just past the bound: the chain saturates on the six positive taps it takes first and
    // comes back down on the five negative ones, far from the exact sum.
    W16 a[11], x[50], y[40];
    for (int j = 0; j <= 10; ++j) a[j] = static_cast<W16>(j >= 5 ? 5900 : -5900);
    std::fill(x, x + 50, kMax16);
    g729ab_Residu(a, x + 10, y);
    EXPECT_EQ(y[0], 26151);  // (2^31 - 1 - 5·2·5900·32767 + 2^12) >> 13
}

TEST(G729SpeedKernels, GainSearchInOnePassMatchesTableAndSearchKernels) {
    // Full-scale coefficients and predicted gains over every candidate window, against the
    // table kernel followed by the search kernel.
    for (int trial = 0; trial < 4000; ++trial) {
        W32 coeff[5];
        for (auto& c : coeff) c = trial % 4 == 0 ? static_cast<W32>(rng()) : (W32{fullScale()} << rnd(0, 15));
        const W16 gcode0 = fullScale();
        const W16 cand1 = rnd(0, 4), cand2 = rnd(0, 8);
        W16 table[160];
        g729ab_Qua_gainLoop2_PreSrch(reinterpret_cast<const W16(*)[2]>(g729ab_gbk1[cand1].data()),
                                     reinterpret_cast<const W16(*)[2]>(g729ab_gbk2[cand2].data()), gcode0, table);
        const int n = g729ab_Qua_gainLoop2_Srch(coeff, table);
        W16 i1, i2;
        g729ab_Qua_gainLoop2(coeff, cand1, cand2, gcode0, &i1, &i2);
        ASSERT_EQ(i1, cand1 + (n >> 3)) << trial;
        ASSERT_EQ(i2, cand2 + (n & 7)) << trial;
    }
}

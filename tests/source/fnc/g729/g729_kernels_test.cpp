// Kernels of the G.729 codec against plain loops written from their contracts: lane sums,
// saturation, tie-breaks and the filters' equality with the textbook recurrences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "g729_internal.h"

using namespace g729;

namespace {

std::mt19937 rng(729);

W16 rnd(int lo, int hi) { return static_cast<W16>(std::uniform_int_distribution<int>(lo, hi)(rng)); }

std::vector<W16> randomVec(std::size_t n, int amp) {
    std::vector<W16> v(n);
    for (auto& x : v) x = rnd(-amp, amp);
    return v;
}

// Saturating 32-bit accumulation of doubled products, one term at a time.
W32 satMac(W32 acc, W16 a, W16 b) {
    std::int64_t p = 2 * std::int64_t{a} * b;
    if (p > kMax32) p = kMax32;
    std::int64_t r = std::int64_t{acc} + p;
    return r > kMax32 ? kMax32 : (r < kMin32 ? kMin32 : static_cast<W32>(r));
}
W32 satAdd(W32 a, W32 b) {
    std::int64_t r = std::int64_t{a} + b;
    return r > kMax32 ? kMax32 : (r < kMin32 ? kMin32 : static_cast<W32>(r));
}
// The four-lane rule: lane k takes the terms with index k mod 4; (p0 + p2) + (p1 + p3).
W32 laneSum(const W16* x, const W16* y, int n) {
    W32 p[4] = {};
    for (int i = 0; i < n; ++i) p[i % 4] = satMac(p[i % 4], x[i], y[i]);
    return satAdd(satAdd(p[0], p[2]), satAdd(p[1], p[3]));
}

}  // namespace

TEST(G729Kernels, CorrelationsFollowTheFourLaneRuleIncludingSaturation) {
    // Amplitudes below, around and beyond the bounds of the plain-sum paths.
    for (int amp : {3000, 8000, 10000, 12000, 32767}) {
        for (int trial = 0; trial < 50; ++trial) {
            auto x = randomVec(64, amp), y = randomVec(96, amp);
            if (amp == 32767 && trial % 2)
                for (int i = 0; i < 64; i += 3) x[i] = kMin16, y[i] = kMin16;
            EXPECT_EQ(g729ab_Vec_L_mac8(x.data(), y.data(), 8, 5), satAdd(laneSum(x.data(), y.data(), 40), 5));
            W32 out[16];
            g729ab_comp_corr_loop(x.data(), y.data(), 16, out, 40);
            for (int m = 0; m < 16; ++m) EXPECT_EQ(out[m], laneSum(x.data(), y.data() + m, 40)) << m;
            g729ab_4Vec_L_mac8(x.data(), y.data() + 3, 32, out);
            for (int k = 0; k < 4; ++k) EXPECT_EQ(out[k], laneSum(x.data(), y.data() + 3 + k, 32));
        }
    }
}

TEST(G729Kernels, PlainSumsAgreeWheneverTheBoundAllowsThem) {
    // Amplitudes around the bound: wherever it admits the plain sum, the sum is the lane rule's.
    int admitted = 0;
    for (int amp : {2000, 3500, 3700, 5000, 32767}) {
        for (int trial = 0; trial < 40; ++trial) {
            auto x = randomVec(40, amp), y = randomVec(120, amp);
            if (!g729SumsCannotSaturate(x.data(), 40, y.data(), 120, 40)) continue;
            ++admitted;
            for (int m = 0; m < 80; m += 3)
                ASSERT_EQ(g729PlainSums(x.data(), y.data() + m, 40), laneSum(x.data(), y.data() + m, 40)) << amp << " " << m;
        }
    }
    EXPECT_GT(admitted, 40);
    std::vector<W16> full(40, kMin16);
    EXPECT_FALSE(g729SumsCannotSaturate(full.data(), 40, full.data(), 40, 1));
}

TEST(G729Kernels, EnergiesSaturateAndTheEvenVariantSkipsOddSamples) {
    std::vector<W16> x(224, 30000);
    EXPECT_EQ(g729ab_Vec_L_sqa(x.data(), 240 - 16, 0), kMax32);
    std::vector<W16> y(224, 0);
    for (int i = 1; i < 224; i += 2) y[i] = 32767;
    EXPECT_EQ(g729ab_Vec_L_sqa_2(y.data(), 224, 7), 7);
    y[0] = 100;
    EXPECT_EQ(g729ab_Vec_L_sqa_40(y.data(), 1), satAdd(1, [&] {
                  W32 s = 0;
                  for (int i = 0; i < 40; ++i) s = satMac(s, y[i], y[i]);
                  return s;
              }()));
    W32 L[8] = {kMin32, -5, 17, -100, 3, 0, 99, -99};
    EXPECT_EQ(g729ab_Vec_L_abs_max(L, 8), 100);
    // Every energy against its saturating chain, from quiet to full scale (-32768 included).
    for (int trial = 0; trial < 60; ++trial) {
        auto v = randomVec(240, trial % 3 == 0 ? 3000 : 32767);
        if (trial % 5 == 0) std::fill(v.begin(), v.begin() + 40 + trial, static_cast<W16>(-32768));
        const int n = 20 + trial * 3;
        const W32 acc = trial % 2 ? 12345 : kMax32 - 5;
        W32 s = 0, s2 = 0, a = 0;
        for (int i = 0; i < n; ++i) s = satMac(s, v[i], v[i]);
        for (int i = 0; i < n; i += 2) s2 = satMac(s2, v[i], v[i]);
        for (int i = 0; i < 40; ++i) a = satMac(a, static_cast<W16>(v[i] >> 2), static_cast<W16>(v[i] >> 2));
        EXPECT_EQ(g729ab_Vec_L_sqa(v.data(), n, acc), satAdd(s, acc)) << trial;
        EXPECT_EQ(g729ab_Vec_L_sqa_2(v.data(), n, acc), satAdd(s2, acc)) << trial;
        EXPECT_EQ(g729a_agc_nrg(v.data()), a) << trial;
    }
}

TEST(G729Kernels, ResiduAndSynthesisMatchTheTextbookFilters) {
    for (int trial = 0; trial < 30; ++trial) {
        W16 a[11];
        a[0] = 4096;
        for (int i = 1; i <= 10; ++i) a[i] = rnd(-1200, 1200);
        auto x = randomVec(50, 2000);
        W16 y[40];
        g729ab_Residu(a, x.data() + 10, y);
        for (int n = 0; n < 40; ++n) {
            std::int64_t s = 0;
            for (int j = 0; j <= 10; ++j) s += 2 * std::int64_t{a[j]} * x[10 + n - j];
            std::int64_t r = (s * 8 + 0x8000) >> 16;
            EXPECT_EQ(y[n], static_cast<W16>(std::clamp<std::int64_t>(r, -32768, 32767)));
        }
        // Synthesis: stable filter, moderate input, so no partial sum saturates.
        for (int i = 1; i <= 10; ++i) a[i] = static_cast<W16>(a[i] / 4);
        W16 buf[12 + 40], ref[10 + 40];
        for (int i = 0; i < 12; ++i) buf[i] = rnd(-500, 500);
        for (int i = 0; i < 10; ++i) ref[i] = buf[2 + i];
        auto e = randomVec(40, 1000);
        EXPECT_EQ(g729ab_Syn_filt3(a, e.data(), buf + 12), 0);
        for (int n = 0; n < 40; ++n) {
            std::int64_t s = 2 * std::int64_t{e[n]} * 4096;
            for (int j = 1; j <= 10; ++j) s -= 2 * std::int64_t{a[j]} * ref[10 + n - j];
            ref[10 + n] = static_cast<W16>(std::clamp<std::int64_t>((s * 8 + 0x8000) >> 16, -32768, 32767));
            EXPECT_EQ(buf[12 + n], ref[10 + n]) << n;
        }
        W16 buf2[12 + 40];
        for (int i = 0; i < 12; ++i) buf2[i] = static_cast<W16>(i < 2 ? 999 : ref[i - 2]);
        g729ab_Syn_filt2(a, e.data(), buf2 + 12);
        for (int n = 0; n < 40; ++n) EXPECT_EQ(buf2[12 + n], buf[12 + n]);
    }
}

TEST(G729Kernels, LoudExcitationIsReportedBySynFilt3Only) {
    W16 a[11] = {4096, -8000, 6000, -3000, 1000, 0, 0, 0, 0, 0, 0};
    W16 buf[12 + 40] = {};
    std::vector<W16> e(40, 32000);
    EXPECT_EQ(g729ab_Syn_filt3(a, e.data(), buf + 12), 1);
    W16 quiet[40] = {};
    W16 buf2[12 + 40] = {};
    EXPECT_EQ(g729ab_Syn_filt3(a, quiet, buf2 + 12), 0);
}

TEST(G729Kernels, PitchInterpolationMatchesTheSampleBySampleLoop) {
    // Amplitudes on both sides of the plain-sum bound; lags below the block length make outputs
    // feed later outputs, over one to four generations.
    static constexpr int kAmps[] = {500, 4000, 8000, 12000, 20000, 32767};
    for (int trial = 0; trial < 480; ++trial) {
        int amp = kAmps[trial % 6];
        auto hist = randomVec(154 + 40, amp);
        int t0 = (trial / 6) % 2 ? rnd(20, 50) : rnd(20, 143);
        int frac = rnd(-1, 1);
        // Straightforward loop: interpolation filter taps inter_3l[f + 3i] and [3 - f + 3i].
        std::vector<W16> ref = hist;
        W16* e = ref.data() + 154;
        int f = -frac;
        W16* x0 = e - t0;
        if (f < 0) f += 3, --x0;
        for (int j = 0; j < 40; ++j) {
            W16* x1 = x0 + j;
            W32 s = 0;
            for (int i = 0; i < 10; ++i) {
                s = satMac(s, x1[-i], g729_std::inter_3l[f + 3 * i]);
                s = satMac(s, x1[1 + i], g729_std::inter_3l[3 - f + 3 * i]);
            }
            e[j] = static_cast<W16>(satAdd(s, 0x8000) >> 16);
        }
        std::vector<W16> dec = hist, fast = hist;
        g729ab_Pred_lt_3_dec(dec.data() + 154, t0, frac);
        EXPECT_EQ(dec, ref);
        // The encoder's form chains the ten past taps (oldest first) before the ten later ones;
        // it agrees with the decoder's wherever nothing saturates.
        std::vector<W16> refFast = hist;
        W16* ef = refFast.data() + 154;
        W16* xf = ef - (e - x0);
        for (int j = 0; j < 40; ++j) {
            W32 sf = 0;
            for (int i = 9; i >= 0; --i) sf = satMac(sf, xf[j - i], g729_std::inter_3l[f + 3 * i]);
            for (int i = 0; i < 10; ++i) sf = satMac(sf, xf[j + 1 + i], g729_std::inter_3l[3 - f + 3 * i]);
            ef[j] = static_cast<W16>(satAdd(sf, 0x8000) >> 16);
        }
        g729ab_Pred_lt_3_fast(fast.data() + 154, t0, frac);
        EXPECT_EQ(fast, refFast) << "amp " << amp << " lag " << t0;
        if (amp == 8000) {
            EXPECT_EQ(fast, ref);
        }
    }
}

TEST(G729Kernels, AutocorrelationLagsAndBitClearing) {
    auto y = randomVec(256, 2000);
    W32 r[13];
    r[0] = 12345;
    g729ab_ACF(y.data(), r, 3);
    for (int i = 240; i < 256; ++i) EXPECT_EQ(y[i], 0);
    for (int k = 1; k <= 12; ++k) {
        W32 p[4] = {};
        for (int i = 0; i < 240; ++i) p[i % 4] = satMac(p[i % 4], y[i], y[i + k]);
        W32 s = satAdd(satAdd(p[0], p[2]), satAdd(p[1], p[3]));
        EXPECT_EQ(r[k], static_cast<W32>(static_cast<std::uint32_t>(s) << 3)) << k;
    }
    r[0] = 12345;
    g729ab_ACF(y.data(), r, 0);
    for (int k = 0; k <= 12; ++k) EXPECT_EQ(r[k] & 1, 0) << k;
}

TEST(G729Kernels, ChebyshevValueTracksTheSeriesInBothFormats) {
    for (int q10 = 0; q10 < 2; ++q10) {
        for (int trial = 0; trial < 50; ++trial) {
            W16 F[6];
            F[0] = static_cast<W16>(q10 ? 1024 : 2048);
            for (int k = 1; k < 6; ++k) F[k] = rnd(-3000, 3000);
            W32 f[6];
            for (int k = 0; k < 5; ++k) f[k] = W32{F[k]} * 8192;
            f[5] = W32{F[5]} * 4096;
            W16 x = rnd(-32000, 32000);
            W16 got = g729ab_Chebps_11(x, f, &g729ab_chebps_tab1[q10 ? 3 : 0]);
            // C(x) = T5 + F1 T4 + F2 T3 + F3 T2 + F4 T1 + F5/2, coefficients scaled to Q11 or Q10.
            double scale = q10 ? 1024.0 : 2048.0, xd = x / 32768.0;
            double b2 = 1.0, b1 = 2 * xd + F[1] / scale;
            for (int k = 2; k <= 4; ++k) {
                double b0 = 2 * xd * b1 - b2 + F[k] / scale;
                b2 = b1;
                b1 = b0;
            }
            double c = xd * b1 - b2 + F[5] / scale / 2;
            double expect = c * 16384.0;
            if (std::fabs(expect) < 32000) {
                EXPECT_NEAR(got, expect, 3.0) << x;
            }
        }
    }
}

TEST(G729Kernels, DivisionEdgesAndTruncation) {
    EXPECT_EQ(g729ab_div_s(5, 5), 32767);
    EXPECT_EQ(g729ab_div_s(0, 9), 0);
    EXPECT_EQ(g729ab_div_s(1, 32767), 1);
    for (int i = 0; i < 200; ++i) {
        W16 den = rnd(1, 32767), num = rnd(0, den);
        W16 expect = num == den ? 32767 : static_cast<W16>((W32{num} * 32768) / den);
        EXPECT_EQ(g729ab_div_s(num, den), expect);
    }
}

TEST(G729Kernels, ZeroCrossingsExcitationAndTarget) {
    std::vector<W16> alt(240);
    for (int i = 0; i < 240; ++i) alt[i] = static_cast<W16>(i % 2 ? -32768 : 32767);
    EXPECT_EQ(g729ab_ComputeZeroCross(alt.data()), 32767);
    std::vector<W16> flat(240, 5);
    EXPECT_EQ(g729ab_ComputeZeroCross(flat.data()), 0);
    flat[130] = -5;  // two crossings, one each side of the sample
    EXPECT_EQ(g729ab_ComputeZeroCross(flat.data()), 820);

    auto exc = randomVec(40, 32767), code = randomVec(40, 8192);
    auto out = exc;
    g729ab_TotalExc(out.data(), code.data(), 16000, 900, 1);
    for (int n = 0; n < 40; ++n) {
        W32 L = satMac(satMac(0, exc[n], 16000), code[n], 900);
        std::int64_t r = (std::int64_t{L} + 0x4000) >> 15;
        EXPECT_EQ(out[n], static_cast<W16>(std::clamp<std::int64_t>(r, -32768, 32767)));
    }
    auto y1 = randomVec(40, 32767), xn = randomVec(40, 32767);
    W16 xn2[40];
    g729ab_CalcTargetVec(y1.data(), xn.data(), 19661, xn2);
    for (int n = 0; n < 40; ++n) {
        W32 t = satMac(0, y1[n], 19661) >> 15;
        EXPECT_EQ(xn2[n], sub(xn[n], sat16(t)));
    }
}

TEST(G729Kernels, ComfortNoiseGainScaling) {
    auto g = randomVec(40, 3000);
    auto z = g;
    g729ab_Calc_exc_gain(z.data(), 0, 0x12345678);
    for (W16 v : z) EXPECT_EQ(v, 0);
    for (int trial = 0; trial < 30; ++trial) {
        W16 cur = rnd(1, 4000);
        W32 inv = std::uniform_int_distribution<W32>(1 << 20, 1 << 29)(rng);
        auto v = g;
        g729ab_Calc_exc_gain(v.data(), cur, inv);
        W16 gg = add(cur, mult_r(cur, 19043));
        W32 P = static_cast<W32>((std::int64_t{inv & ~1} * gg) >> 15) & ~1;
        int sh = norm_l(P);
        W16 t = static_cast<W16>(static_cast<W32>(static_cast<std::uint32_t>(P) << sh) >> 16);
        int sh2 = sh - 14;
        if (sh2 > 0) {
            for (int n = 0; n < 40; ++n) EXPECT_EQ(v[n], shr_r(mult_r(g[n], t), sh2));
        }
    }
}

TEST(G729Kernels, GainControlLoopDecaysWithoutTarget) {
    std::vector<W16> s(40, 1000);
    W16 gains[41];
    gains[0] = 4096;
    g729ab_agcLoop(s.data(), gains, 0);
    for (int n = 0; n < 40; ++n) EXPECT_EQ(gains[n + 1], static_cast<W16>((W32{gains[n]} * 29491) >> 15));
    EXPECT_LT(gains[40], 4096 / 50);
    EXPECT_EQ(s[0], static_cast<W16>((2 * 1000 * gains[1]) >> 13));
}

TEST(G729Kernels, LspWeightsFollowTheirFormula) {
    for (int trial = 0; trial < 50; ++trial) {
        W16 f[12];
        f[0] = 1029;
        f[11] = 23677;
        for (int i = 1; i <= 10; ++i) f[i] = static_cast<W16>(f[i - 1] + rnd(300, 4500));
        W16 w[10], ref[10];
        g729ab_Get_wegt(f + 1, w);
        for (int i = 0; i < 10; ++i) {
            W16 d = sat16(W32{sat16(W32{f[i + 2]} - f[i])} - 8192);
            if (d > 0) {
                ref[i] = 2048;
            } else {
                W16 t = sat16(satMac(0, d, d) >> 14);
                ref[i] = sat16(W32{sat16(satMac(0, t, 20480) >> 14)} + 2048);
            }
        }
        ref[4] = sat16(satMac(0, ref[4], 19661) >> 15);
        ref[5] = sat16(satMac(0, ref[5], 19661) >> 15);
        W16 m = *std::max_element(ref, ref + 10);
        int s = 0;
        while ((m << s) < 16384) ++s;
        for (int i = 0; i < 10; ++i) EXPECT_EQ(w[i], static_cast<W16>(ref[i] << s)) << i;
    }
}

TEST(G729Kernels, FirstStageSelectionPacksDistanceAndNumber) {
    // Target equal to codeword 9: exact distance 0 wins.
    W16 rbuf[10];
    for (int k = 0; k < 10; ++k) rbuf[k] = g729Lspcb1(9, k);
    W32 cand;
    g729ab_Lsp_pre_select(rbuf, g729ab_lspcb1_reorder.data(), &cand);
    EXPECT_EQ(cand, 9);
    // Distances that agree above the cleared bits: the lower number wins even when farther.
    // Codewords 0 and 5 differ; place the target so that D(5) = D(0) - small and D>>4 equal.
    for (int trial = 0; trial < 200; ++trial) {
        int base = rnd(0, 127);
        for (int k = 0; k < 10; ++k) rbuf[k] = static_cast<W16>(g729_std::lspcb1[base][k] + rnd(-600, 600));
        W32 best = 0, bestD = kMax32;
        std::vector<W32> D(128);
        for (int c = 0; c < 128; ++c) {
            W32 s = 0;
            for (int k = 0; k < 10; ++k) {
                W16 e = static_cast<W16>(rbuf[k] - g729_std::lspcb1[c][k]);
                s = satMac(s, e, e);
            }
            D[c] = s;
        }
        W32 minPacked = kMax32;
        for (int c = 0; c < 128; ++c) {
            std::int64_t p8 = std::int64_t{D[c]} * 8;
            W32 p = p8 > kMax32 ? kMax32 : static_cast<W32>(p8);
            W32 packed = (p & ~127) | c;
            if (packed < minPacked) minPacked = packed, best = c;
            if (D[c] < bestD) bestD = D[c];
        }
        g729ab_Lsp_pre_select(rbuf, g729ab_lspcb1_reorder.data(), &cand);
        EXPECT_EQ(cand, best);
        if (bestD < (1 << 27)) {
            EXPECT_LE((D[cand] * 8LL) >> 7, (bestD * 8LL) >> 7);
        }
    }
}

TEST(G729Kernels, SecondStageAndGainSearchTieBreaks) {
    // All-saturated distances: candidate 0.
    W16 rbuf[5] = {32767, 32767, 32767, 32767, 32767}, cb1[5] = {-32768, -32768, -32768, -32768, -32768}, w[5] = {32767, 32767, 32767, 32767, 32767};
    EXPECT_EQ(g729ab_Lsp_select_1(rbuf, cb1, w, g729ab_lspcb2a_reorder.data()), 0);

    // Gain search: equal distances pick the smaller candidate number; a lower-bit difference
    // below the packing resolution does not count.
    W16 table[160] = {};
    W32 coeff[5] = {0, 1 << 15, 0, 0, 0};  // distance = gp (pitch term) exactly
    auto setGp = [&](int n, W16 gp) { table[(n >> 3) * 40 + ((n & 7) >> 1) * 10 + 2 + (n & 1)] = gp; };
    for (int n = 0; n < 32; ++n) setGp(n, 1000);
    setGp(17, 960);
    setGp(9, 961);  // same value above the low 5 bits (960 >> 5 == 961 >> 5 == 30)
    EXPECT_EQ(g729ab_Qua_gainLoop2_Srch(coeff, table), 9);
    setGp(3, 900);
    EXPECT_EQ(g729ab_Qua_gainLoop2_Srch(coeff, table), 3);
}

TEST(G729Kernels, GainCandidateTableLayout) {
    W16 table[160];
    W16 gc0 = 20000;
    g729ab_Qua_gainLoop2_PreSrch(reinterpret_cast<const W16(*)[2]>(g729ab_gbk1[2].data()), reinterpret_cast<const W16(*)[2]>(g729ab_gbk2[5].data()),
                                 gc0, table);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j) {
            W32 gp = g729ab_gbk1[2 + i][0] + g729ab_gbk2[5 + j][0];
            W32 gc = (gc0 * ((W32{g729ab_gbk1[2 + i][1]} + g729ab_gbk2[5 + j][1]) >> 1)) >> 15;
            const W16* p = table + i * 40 + (j / 2) * 10 + (j & 1);
            EXPECT_EQ(p[0], static_cast<W16>((gp * gp) >> 15));
            EXPECT_EQ(p[2], static_cast<W16>(gp));
            EXPECT_EQ(p[4], static_cast<W16>((gc * gc) >> 15));
            EXPECT_EQ(p[6], static_cast<W16>(gc));
            EXPECT_EQ(p[8], static_cast<W16>((gc * gp) >> 15));
        }
}

TEST(G729Kernels, CorrelationMatrixBlocksEqualTheirDefinition) {
    for (int trial = 0; trial < 5; ++trial) {
        auto h = randomVec(40, trial == 0 ? 32767 : 6000);
        std::vector<W16> rr(kRrSize, 0);
        g729ab_Cor_h_loop2_3_4_5(h.data(), h.data(), rr.data());
        const int blocks[9][3] = {{0, 1, kRr01}, {0, 2, kRr02}, {0, 3, kRr03}, {0, 4, kRr04}, {1, 2, kRr12},
                                  {1, 3, kRr13}, {1, 4, kRr14}, {2, 3, kRr23}, {2, 4, kRr24}};
        for (const auto& b : blocks)
            for (int k = 0; k < 8; ++k)
                for (int m = 0; m < 8; ++m) {
                    int pa = b[0] + 5 * k, pb = b[1] + 5 * m;
                    int d = std::abs(pa - pb), N = 40 - std::max(pa, pb);
                    W32 s = 0;
                    for (int i = 0; i < N; ++i) s = satMac(s, h[i], h[i + d]);
                    ASSERT_EQ(rr[b[2] + 8 * k + m], static_cast<W16>(s >> 16)) << b[0] << b[1] << k << m;
                }
    }
    std::vector<W16> zero(40, 0), rr(kRrSize, 7);
    g729ab_Cor_h_loop2_3_4_5(zero.data(), zero.data(), rr.data());
    for (int i = kRr01; i < kRrSize; ++i) EXPECT_EQ(rr[i], 0);
}

TEST(G729Kernels, SignsAndSignedMatrixRows) {
    W16 dn[40], ps[40], ns[40];
    for (int i = 0; i < 40; ++i) dn[i] = static_cast<W16>(i % 3 == 0 ? -i * 100 : i * 100);
    dn[1] = 0;
    dn[2] = kMin16;
    W16 orig[40];
    std::copy(dn, dn + 40, orig);
    g729ab_D4i40_SetSign(dn, ps, ns);
    EXPECT_EQ(ps[1], 32767);
    EXPECT_EQ(ns[1], -32768);
    EXPECT_EQ(dn[2], 32767);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(ps[i], orig[i] >= 0 ? 32767 : -32768);

    std::vector<W16> rr(kRrSize);
    for (auto& v : rr) v = rnd(-20000, 20000);
    auto before = rr;
    W16 psT[40], nsT[40];
    for (int t = 0; t < 5; ++t)
        for (int k = 0; k < 8; ++k) psT[8 * t + k] = ps[t + 5 * k], nsT[8 * t + k] = ns[t + 5 * k];
    g729ab_D4i40_ModRrixiy1(rr.data() + kRr01, ps, psT + 8, nsT + 8);
    for (int tb = 1; tb <= 4; ++tb)
        for (int k = 0; k < 8; ++k)
            for (int m = 0; m < 8; ++m) {
                int off = kRr01 + 64 * (tb - 1) + 8 * k + m;
                W16 s = ps[5 * k] >= 0 ? ps[tb + 5 * m] : ns[tb + 5 * m];
                EXPECT_EQ(rr[off], mult(before[off], s));
            }
}

TEST(G729Kernels, PulsePairSearchLanesAndMerges) {
    // Every pair scores the same: lane 0's first candidate (0, 0) must win.
    W16 dnA[8] = {}, dnB[8] = {}, rrAB[64] = {};
    W32 rrv[8] = {}, alp0[8];
    for (auto& a : alp0) a = 1 << 20;
    const W16 weights[6] = {0, 0, 0, 0, 16384, 4096};
    W16 balp, bsq, bidx;
    g729ab_CBS2_PulsePosition_MR122(dnA, dnB, 5000, rrAB, rrv, weights, alp0, &balp, &bsq, &bidx);
    EXPECT_EQ(bidx, 0);
    // Two equally good pairs in lanes 1 and 3: the lower lane wins the merge.
    dnB[1] = 3000;
    dnB[3] = 3000;
    g729ab_CBS2_PulsePosition_MR122(dnA, dnB, 5000, rrAB, rrv, weights, alp0, &balp, &bsq, &bidx);
    EXPECT_EQ(bidx, 1);
    // Ties across lanes: every pair with i = 2 or j = 5 scores the same ((2, 5) is made costly);
    // lane 0's first such pair, (2, 0), beats lane 1's (0, 5) although scanned later.
    dnB[1] = 0;
    dnB[3] = 0;
    dnB[5] = 3000;
    dnA[2] = 3000;
    rrAB[8 * 2 + 5] = 32767;
    g729ab_CBS2_PulsePosition_MR122(dnA, dnB, 5000, rrAB, rrv, weights, alp0, &balp, &bsq, &bidx);
    EXPECT_EQ(bidx, 16);

    // 16-candidate search: candidate 12 best; equal candidates 2 and 6 keep 2.
    W16 R1[8] = {}, R2[8] = {}, d1[8] = {}, d2[8] = {};
    d1[2] = d1[6] = 3000;
    W16 idx[4], sq[4], alp[4], s16, a16, i16;
    g729ab_D4i40_cbs_NB_POS_1(1 << 24, R1, R2, d1, 4000, idx, sq, alp);
    g729ab_D4i40_cbs_NB_POS_2(1 << 24, R1, R2, d2, 4000, idx, sq, alp, &s16, &a16, &i16);
    EXPECT_EQ(i16, 2);
    d2[4] = 4000;
    g729ab_D4i40_cbs_NB_POS_1(1 << 24, R1, R2, d1, 4000, idx, sq, alp);
    g729ab_D4i40_cbs_NB_POS_2(1 << 24, R1, R2, d2, 4000, idx, sq, alp, &s16, &a16, &i16);
    EXPECT_EQ(i16, 12);
}

TEST(G729Kernels, VectorUtilities) {
    W16 p[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    g729ab_Set_const(p, -14336, 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p[i], -14336);
    EXPECT_EQ(p[4], 5);
    W16 x[8] = {-32768, 32767, 100, -3, 0, 1, 2, 3}, y[8];
    g729ab_Vec_shr_8(x, y, 2, 8);
    EXPECT_EQ(y[0], -8192);
    EXPECT_EQ(y[3], -1);
    g729ab_Vec_shl_8(x + 2, y, 3, 2);
    EXPECT_EQ(y[0], 800);
    W16 e[4], o[4];
    g729ab_Vec_shl3_split(x, e, o, 8);
    EXPECT_EQ(e[0], -32768);
    EXPECT_EQ(o[0], 32767);
    EXPECT_EQ(e[1], 800);
    W32 L[2] = {0x12345678, -0x12345678};
    W16 h[2];
    g729ab_Vec_L_shl_ExtractH(L, h, 14, 2);  // >> 2, low 16 bits
    EXPECT_EQ(h[0], static_cast<W16>(0x12345678 >> 2));
    EXPECT_EQ(h[1], static_cast<W16>(-0x12345678 >> 2));
}

TEST(G729Operators, EdgeValuesOfTheCodecsCopies) {
    EXPECT_EQ(g729ab_L_shl(0x40000000, 1), kMax32);
    EXPECT_EQ(g729ab_L_shl(-1, 40), kMin32);
    EXPECT_EQ(g729ab_L_shl(-1, -40), -1);
    EXPECT_EQ(g729ab_L_shl(-256, -4), -16);
    EXPECT_EQ(g729ab_norm_l(0), 0);
    EXPECT_EQ(g729ab_norm_l(-1), 31);
    EXPECT_EQ(g729ab_norm_l(1), 30);
    EXPECT_EQ(g729ab_shl(-3, -1), -2);
    EXPECT_EQ(g729ab_shl(20000, 1), 32767);
    W16 z[6] = {1, 1, 1, 1, 1, 1};
    g729ab_Set_zero_even(z, 3);
    EXPECT_EQ(z[3], 0);
    EXPECT_EQ(z[4], 1);
    W32 comp[2];
    W16 lo[2] = {-1, 5}, hi[2] = {3, -2};
    g729ab_Vec_Comp(comp, lo, hi, 2);
    EXPECT_EQ(comp[0], -1);  // the sign-extended low half covers the high half
    EXPECT_EQ(comp[1], static_cast<W32>(0xFFFE0005u));
    W16 lo2[2], hi2[2];
    g729ab_Vec_ExtractL(comp, lo2, hi2, 2);
    EXPECT_EQ(lo2[1], 5);
    EXPECT_EQ(hi2[1], -2);

    W16 e = 9, f = 9;
    g729ab_Log2(0, &e, &f);
    EXPECT_EQ(e, 0);
    EXPECT_EQ(f, 0);
    g729ab_Log2(-5, &e, &f);
    EXPECT_EQ(e, 0);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(g729ab_Inv_sqrt(0), 0x3FFFFFFF);
    for (W32 x : {1000, 123456, 99999999, 0x7FFFFFFF}) {
        g729ab_Log2(x, &e, &f);
        EXPECT_NEAR(e + f / 32768.0, std::log2(double(x)), 2e-4) << x;
        EXPECT_NEAR(g729ab_Pow2(e, f) / std::pow(2.0, e + f / 32768.0), 1.0, 2e-3);
        EXPECT_NEAR(g729ab_Inv_sqrt(x) / (std::pow(2.0, 30) / std::sqrt(double(x))), 1.0, 3e-3) << x;
        EXPECT_NEAR(g729ab_Sqrt(x), std::sqrt(x / 2.0), 2.0) << x;  // 14 trial bits: the lowest bit is never set
    }
    // Double precision: hi·65536 + lo·2 with bit 0 ignored.
    W32 a = 0x3FFF0000 | 0x5678, b = 0x20000001;
    EXPECT_NEAR(g729ab_MPY_32(a, b) / 2147483648.0, (a / 2147483648.0) * (b / 2147483648.0), 1e-8);
    EXPECT_EQ(g729ab_MPY_32(a, b), g729ab_MPY_32(a, b & ~1));
    EXPECT_NEAR(g729ab_DIV_32(0x10000000, 0x40000000) / 2147483648.0, 0.25, 1e-6);
}

namespace {

// The standard's depth-first search written plainly over a full 40 x 40 matrix, scanning
// candidates in natural order (first of equal scores kept), to cross-check the block layout and
// lane kernels of the codec's search.
struct PlainSearch {
    W16 R[40][40];
    W16 dn[40];
    W16 sq = -1, alp = 1;
    int pos[4] = {0, 1, 2, 3};

    static bool better(W16 sq_c, W16 alp_c, W16 sq_b, W16 alp_b) { return L_msu(L_mult(sq_c, alp_b), sq_b, alp_c) > 0; }

    int best2(int track, int exclude) const {
        W16 max = -1;
        int b = track;
        for (int p = track; p < 40; p += 5)
            if (p != exclude && dn[p] > max) max = dn[p], b = p;
        return b;
    }

    // Pulse pair (p0 fixed first pulse, then every position of trackB), then the 8 x 8 of the
    // other two tracks; updates the overall best.
    void search(int trackA, int trackB, int trackC, int trackD, int slotA, int slotB, int slotC, int slotD) {
        W16 bsq = -1, balp = 1;
        int ia = 0, ib = 0;
        int first = best2(trackA, -1), second = best2(trackA, first);
        for (int i0 : {first, second}) {
            W32 alp1 = L_mult(R[i0][i0], 8192);
            for (int i1 = trackB; i1 < 40; i1 += 5) {
                W16 ps = static_cast<W16>(dn[i0] + dn[i1]);
                W32 a2 = L_mac(L_mac(alp1, R[i1][i1], 8192), R[i0][i1], 16384);
                W16 a16 = round16(a2), s2 = mult(ps, ps);
                if (better(s2, a16, bsq, balp)) bsq = s2, balp = a16, ia = i0, ib = i1;
            }
        }
        W16 ps0 = static_cast<W16>(dn[ia] + dn[ib]);
        W32 alp0 = L_mult(balp, 8192);
        W16 csq = -1, calp = 1;
        int ic = 0, id = 0;
        for (int i2 = trackC; i2 < 40; i2 += 5) {
            W32 alp1 = L_mac(L_mac(L_mac(alp0, R[i2][ia], 4096), R[i2][ib], 4096), R[i2][i2], 2048);
            for (int i3 = trackD; i3 < 40; i3 += 5) {
                W16 ps = static_cast<W16>(ps0 + dn[i2] + dn[i3]);
                W16 v = round16(L_mac(L_mac(L_mult(R[i3][ia], 8192), R[i3][ib], 8192), R[i3][i3], 4096));
                W32 a2 = L_mac(L_mac(alp1, R[i2][i3], 4096), v, 16384);
                W16 a16 = round16(a2), s2 = mult(ps, ps);
                if (better(s2, a16, csq, calp)) csq = s2, calp = a16, ic = i2, id = i3;
            }
        }
        if (better(csq, calp, sq, alp)) {
            sq = csq;
            alp = calp;
            pos[slotA] = ia, pos[slotB] = ib, pos[slotC] = ic, pos[slotD] = id;
        }
    }
};

}  // namespace

TEST(G729Kernels, FixedCodebookSearchAgreesWithThePlainDepthFirstSearch) {
    int same = 0, trials = 300;
    for (int trial = 0; trial < trials; ++trial) {
        W16 h[40], x[40];
        for (int i = 0; i < 40; ++i) h[i] = static_cast<W16>(std::lround(4096 * std::exp(-i / 6.0) * std::cos(i * 0.7)) + rnd(-50, 50));
        for (int i = 0; i < 40; ++i) x[i] = rnd(-3000, 3000);
        W16 hc[40];
        std::copy(h, h + 40, hc);
        W16 code[40], y[40], sign;
        W16 index = g729ab_ACELP_Code_A(x, hc, 60, 3277, code, y, &sign);
        int got[4] = {5 * (index & 7), 5 * ((index >> 3) & 7) + 1, 5 * ((index >> 6) & 7) + 2, 5 * ((index >> 10) & 7) + 3 + ((index >> 9) & 1)};

        // Plain search on the same scaled impulse response and target correlation.
        PlainSearch s;
        W16 rr[kRrSize];
        g729ab_Cor_h(h, rr);
        W16 hs[40];
        W32 energy = g729ab_Vec_L_sqa(h, 40, 0);
        if (extract_h(energy) > 32000)
            for (int i = 0; i < 40; ++i) hs[i] = static_cast<W16>(h[i] >> 1);
        else
            for (int i = 0; i < 40; ++i) hs[i] = static_cast<W16>(h[i] << ((norm_l(energy) >> 1) & 15));
        for (int a = 0; a < 40; ++a)
            for (int b = 0; b < 40; ++b) {
                int d = std::abs(a - b), N = 40 - std::max(a, b);
                W32 c = 0;
                for (int i = 0; i < N; ++i) c = L_mac(c, hs[i], hs[i + d]);
                s.R[a][b] = extract_h(c);
            }
        g729ab_Cor_h_X(h, x, s.dn);
        W16 sg[40];
        for (int i = 0; i < 40; ++i) {
            sg[i] = s.dn[i] >= 0 ? kMax16 : kMin16;
            s.dn[i] = abs_s(s.dn[i]);
        }
        for (int a = 0; a < 40; ++a)
            for (int b = 0; b < 40; ++b)
                if (a % 5 != b % 5) {
                    int lo = a % 5 < b % 5 ? a : b, hi = lo == a ? b : a;
                    W16 sel = sg[lo] >= 0 ? sg[hi] : static_cast<W16>(sg[hi] == kMax16 ? kMin16 : kMax16);
                    s.R[a][b] = mult(s.R[a][b], sel);
                }
        for (int t3 = 3; t3 <= 4; ++t3) {
            s.search(2, t3, 0, 1, 2, 3, 0, 1);
            s.search(t3, 0, 1, 2, 3, 0, 1, 2);
        }
        bool match = true;
        for (int k = 0; k < 4; ++k) match &= s.pos[k] == got[k];
        same += match;
        // The codeword carries the pulses that the index and signs describe.
        for (int k = 0; k < 4; ++k) EXPECT_NE(code[got[k]], 0);
    }
    std::printf("[ fixed codebook ] %d of %d searches choose the same pulses as the plain search\n", same, trials);
    EXPECT_GE(same, trials * 9 / 10);
}

TEST(G729Kernels, OpenLoopPitchMatchesThePlainDecimatedSearch) {
    for (int trial = 0; trial < 80; ++trial) {
        // Weighted speech with a period, some noise and varying level; in the last trials the
        // phase the frame is in is loud and the other nearly silent (so the loud one is scaled
        // up to full scale and only one phase's sums saturate).
        std::vector<W16> buf(226, 0);
        int period = rnd(20, 143);
        int amp = trial % 3 == 0 ? 60 : (trial % 3 == 1 ? 3000 : 20000);
        const bool lopsided = trial >= 60;
        for (int i = 1; i < 224; ++i) {
            double v = std::sin(2 * M_PI * i / period) + 0.5 * std::sin(6 * M_PI * i / period) + 0.2 * (rnd(-100, 100) / 100.0);
            if (lopsided) v = i % 2 ? rnd(-10, 10) / 3000.0 : v;
            buf[i] = static_cast<W16>(std::clamp(v * (lopsided ? 3000 : amp), -32768.0, 32767.0));
        }
        W16* wsp = buf.data() + 144;
        std::vector<W16> copy = buf;
        W16 got = g729ab_Pitch_ol_fast(wsp);

        // Plain version over the full-rate stretch.
        const W16* s0 = copy.data() + 1;  // 143 before the frame
        W32 e = 0;
        for (int i = 0; i < 224; i += 2) e = satMac(e, s0[i], s0[i]);
        std::vector<W16> s(224);
        for (int i = 0; i < 224; ++i) {
            W16 v = i == 223 ? W16{0} : s0[i];
            s[i] = e == kMax32 ? static_cast<W16>(v >> 3) : (e < 1048576 ? shl(v, 3) : v);
        }
        auto corr = [&](int t) {
            W16 a[40], b[40];
            for (int k = 0; k < 40; ++k) a[k] = s[143 + 2 * k], b[k] = s[143 + 2 * k - t];
            return laneSum(a, b, 40);
        };
        auto norm = [&](W32 max, int t, W32 start) {
            W32 en = start;
            for (int k = 0; k < 40; ++k) en = satMac(en, s[143 + 2 * k - t], s[143 + 2 * k - t]);
            return extract_l(g729ab_MPY_32(max, g729ab_Inv_sqrt(en)));
        };
        W16 T[3], M[3];
        for (int sec = 0; sec < 2; ++sec) {
            int first = sec == 0 ? 20 : 40, best = first;
            W32 max = corr(first);
            for (int t = first + 1; t < 2 * first; ++t)
                if (corr(t) > max) max = corr(t), best = t;
            T[sec] = static_cast<W16>(best);
            M[sec] = norm(max, best, 0);
        }
        int best = 80;
        W32 max = corr(80);
        for (int t = 82; t <= 142; t += 2)
            if (corr(t) > max) max = corr(t), best = t;
        int t3 = best;
        if (corr(t3 + 1) > max) max = corr(t3 + 1), best = t3 + 1;
        if (corr(t3 - 1) > max) max = corr(t3 - 1), best = t3 - 1;
        T[2] = static_cast<W16>(best);
        M[2] = norm(max, best, 1);
        if (std::abs(2 * T[1] - T[2]) < 5) M[1] = add(M[1], static_cast<W16>(M[2] >> 2));
        if (std::abs(3 * T[1] - T[2]) < 7) M[1] = add(M[1], static_cast<W16>(M[2] >> 2));
        if (std::abs(2 * T[0] - T[1]) < 5) M[0] = add(M[0], mult(M[1], 6554));
        if (std::abs(3 * T[0] - T[1]) < 7) M[0] = add(M[0], mult(M[1], 6554));
        W16 expect = T[0], m = M[0];
        if (m < M[1]) expect = T[1], m = M[1];
        if (m < M[2]) expect = T[2];
        EXPECT_EQ(got, expect) << "period " << period << " amp " << amp;
        EXPECT_EQ(wsp[80], 0);
    }
}

TEST(G729Kernels, ClosedLoopPitchPicksTheBestLagAndFraction) {
    for (int trial = 0; trial < 80; ++trial) {
        std::vector<W16> exc(154 + 40);
        int period = rnd(25, 140);
        for (std::size_t i = 0; i < exc.size(); ++i) exc[i] = static_cast<W16>(2000 * std::sin(2 * M_PI * i / (period + 0.4)) + rnd(-300, 300));
        W16 h[40], xn[40];
        for (int i = 0; i < 40; ++i) h[i] = static_cast<W16>(4096 * std::exp(-i / 4.0)), xn[i] = static_cast<W16>(exc[154 + i] / 2 + rnd(-50, 50));
        int tmin = std::max(20, period - 5), tmax = std::min(143, tmin + (trial % 2 ? 9 : 6));
        int sub = trial % 2 ? 40 : 0;
        auto work = exc;
        W16 frac;
        W16 t0 = g729ab_Pitch_fr3_fast(work.data() + 154, xn, h, tmin, tmax, sub, &frac);

        W16 Dn[40];
        g729ab_Cor_h_X(h, xn, Dn);
        int best = tmax;
        W32 max = laneSum(Dn, exc.data() + 154 - tmax, 40);
        for (int t = tmax - 1; t >= tmin; --t) {
            W32 c = laneSum(Dn, exc.data() + 154 - t, 40);
            if (c >= max) max = c, best = t;
        }
        EXPECT_EQ(t0, best);
        auto vec = [&](int f) {
            auto v = exc;
            g729ab_Pred_lt_3_fast(v.data() + 154, best, f);
            return v;
        };
        auto c0 = laneSum(Dn, vec(0).data() + 154, 40);
        int f = 0;
        if (!(sub == 0 && best > 84)) {
            W32 cm = laneSum(Dn, vec(-1).data() + 154, 40), cp = laneSum(Dn, vec(1).data() + 154, 40);
            W32 m = c0;
            if (cm > m) m = cm, f = -1;
            if (cp > m) f = 1;
        }
        EXPECT_EQ(frac, f);
        auto expectVec = vec(f);
        EXPECT_TRUE(std::equal(work.begin() + 154, work.end(), expectVec.begin() + 154));
    }
}

namespace {
// Random vector at full scale with -32768 planted at random places.
std::vector<W16> fullScale(std::size_t n) {
    auto v = randomVec(n, 32767);
    for (auto& x : v)
        if (rnd(0, 15) == 0) x = kMin16;
    return v;
}
}  // namespace

#if defined(ORVOX_X86_SIMD)
TEST(G729SearchKernels, VectorFormsGiveThePortableBitsOnAnyInput) {
    for (int trial = 0; trial < 400; ++trial) {
        auto x = fullScale(80), y = fullScale(100);
        if (trial % 50 == 0) std::fill(x.begin(), x.end(), kMin16), std::fill(y.begin(), y.end(), kMin16);
        const int n = 1 + trial % 64;
        ASSERT_EQ(g729PlainSumsSse2(x.data(), y.data(), n), g729PlainSumsPortable(x.data(), y.data(), n)) << trial;
        const int nlag = 1 + trial % 13, len = std::vector<int>{8, 13, 24, 37, 40}[trial % 5];
        W32 a[16], b[16];
        g729PlainLagsSse2(x.data(), y.data(), nlag, a, len);
        g729PlainLagsPortable(x.data(), y.data(), nlag, b, len);
        for (int m = 0; m < nlag; ++m) ASSERT_EQ(a[m], b[m]) << trial << " lag " << m;
    }
}

TEST(G729SearchKernels, CorrelationMatrixVectorFormGivesThePortableBits) {
    for (int trial = 0; trial < 300; ++trial) {
        auto h = fullScale(40), h2 = trial % 3 ? fullScale(40) : h;
        std::vector<W16> a(kRrSize, 11), b(kRrSize, 11);
        g729CorMatrixPlainSse2(h.data(), h2.data(), a.data());
        g729CorMatrixPlainPortable(h.data(), h2.data(), b.data());
        ASSERT_EQ(a, b) << trial;
        for (int i = 0; i < kRr01; ++i) ASSERT_EQ(a[i], 11);  // the diagonal is not theirs
    }
}

TEST(G729SearchKernels, PairSearchVectorFormMatchesWhereverItIsAdmitted) {
    const W16 weights[6] = {0, 0, 0, 0, 16384, 4096};
    constexpr W32 kRoom = kMax32 - 65536 * (16384 + 4096);
    int admitted = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        auto dnA = fullScale(8), dnB = fullScale(8), rrAB = fullScale(64);
        W32 rrv[8], alp0[8];
        for (auto& v : rrv) v = static_cast<W32>(rng());
        // Energies at the edge of the room, beyond it, and the whole range.
        for (auto& v : alp0)
            v = trial % 3 == 0 ? (rnd(0, 1) ? kRoom : -kRoom) : trial % 3 == 1 ? rnd(-12287, 12287) * 65536 + rnd(-32768, 32767) : static_cast<W32>(rng());
        W16 ps0 = trial % 7 == 0 ? kMin16 : rnd(-32768, 32767);
        if (trial % 7 == 0) std::fill(dnA.begin(), dnA.end(), 0), std::fill(dnB.begin(), dnB.end(), 0);  // every ps = -32768
        if (trial % 5 == 1) {
            // Every energy positive (the ratio order), with ties among the ratios now and then.
            const bool ties = trial % 10 == 1;
            for (auto& v : dnA) v = ties ? rnd(0, 1) : rnd(0, 8000);
            for (auto& v : dnB) v = ties ? rnd(0, 1) : rnd(0, 8000);
            for (auto& v : rrAB) v = ties ? static_cast<W16>(8 * rnd(0, 2)) : rnd(-8000, 8000);
            for (auto& v : rrv) v = ties ? 0 : rnd(-8000, 8000) * 65536;
            for (auto& v : alp0) v = ties ? 1000 * 65536 : rnd(5000, 12000) * 65536;
            ps0 = ties ? 1000 : rnd(0, 8000);
        }
        W16 r1[3], r2[3], r3[3];
        g729Cbs2PulsePositionPortable(dnA.data(), dnB.data(), ps0, rrAB.data(), rrv, weights, alp0, &r1[0], &r1[1], &r1[2]);
        g729ab_CBS2_PulsePosition_MR122(dnA.data(), dnB.data(), ps0, rrAB.data(), rrv, weights, alp0, &r3[0], &r3[1], &r3[2]);
        for (int k = 0; k < 3; ++k) ASSERT_EQ(r3[k], r1[k]) << trial;
        if (!g729Cbs2CannotSaturate(alp0, weights)) continue;
        ++admitted;
        g729Cbs2PulsePositionSse2(dnA.data(), dnB.data(), ps0, rrAB.data(), rrv, weights, alp0, &r2[0], &r2[1], &r2[2]);
        for (int k = 0; k < 3; ++k) ASSERT_EQ(r2[k], r1[k]) << trial << " output " << k;
    }
    EXPECT_GT(admitted, 1900);
    // With energies of both signs the comparison orders nothing: the scan's survivor is not a
    // pairwise tree's. Every lane alike: squares 0 (j < 4) and 3 (j >= 4), energies by step.
    {
        const int alpByStep[16] = {2, -2, 1, -2, 0, 0, -3, -1, -1, -2, -2, -1, -2, -2, 3, 2};
        W16 dnA[8] = {}, dnB[8] = {0, 0, 0, 0, 314, 314, 314, 314}, rrAB[64];
        W32 rrv[8] = {}, alp0[8] = {};
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 8; ++j) rrAB[8 * i + j] = static_cast<W16>(8 * alpByStep[2 * i + (j >= 4)]);
        W16 r1[3], r2[3];
        g729Cbs2PulsePositionPortable(dnA, dnB, 0, rrAB, rrv, weights, alp0, &r1[0], &r1[1], &r1[2]);
        g729Cbs2PulsePositionSse2(dnA, dnB, 0, rrAB, rrv, weights, alp0, &r2[0], &r2[1], &r2[2]);
        EXPECT_EQ(r1[2], 24);  // step 6: row 3, j = 0
        for (int k = 0; k < 3; ++k) EXPECT_EQ(r2[k], r1[k]) << k;
    }
    W32 over[8] = {0, 0, 0, kRoom + 1, 0, 0, 0, 0};
    EXPECT_FALSE(g729Cbs2CannotSaturate(over, weights));
    over[3] = -kRoom - 1;
    EXPECT_FALSE(g729Cbs2CannotSaturate(over, weights));
}
#endif

TEST(G729SearchKernels, ExactComparisonEqualsTheSaturatingOne) {
    const W16 edge[] = {kMin16, -32767, -16384, -1, 0, 1, 2, 16384, 32766, kMax16};
    auto saturating = [](W16 sq_c, W16 alp_c, W16 sq_b, W16 alp_b) { return L_msu(L_mult(sq_c, alp_b), sq_b, alp_c) > 0; };
    for (W16 a : edge)
        for (W16 b : edge)
            for (W16 c : edge)
                for (W16 d : edge) ASSERT_EQ(g729Better(a, b, c, d), saturating(a, b, c, d)) << a << " " << b << " " << c << " " << d;
    for (int trial = 0; trial < 100000; ++trial) {
        W16 a = rnd(-32768, 32767), b = rnd(-32768, 32767), c = rnd(-32768, 32767), d = rnd(-32768, 32767);
        ASSERT_EQ(g729Better(a, b, c, d), saturating(a, b, c, d));
    }
}

TEST(G729SearchKernels, SumsNearTheBoundsFollowTheSaturatingRules) {
    // A flat 7000 saturates every long sum although its energy bound is only just exceeded; a
    // decaying response passes the energy bound though its magnitudes fail theirs.
    std::vector<W16> flat(96, 7000), peaky(96, 0);
    for (int i = 0; i < 96; ++i) peaky[i] = static_cast<W16>((i < 40 ? 24000 : 3000) * std::exp(-i / 5.0) * (i % 2 ? -1 : 1));
    for (const auto* v : {&flat, &peaky}) {
        W32 out[16];
        g729ab_comp_corr_loop(v->data(), v->data() + 1, 16, out, 40);
        for (int m = 0; m < 16; ++m) ASSERT_EQ(out[m], laneSum(v->data(), v->data() + 1 + m, 40)) << m;
        std::vector<W16> rr(kRrSize, 0);
        g729ab_Cor_h_loop2_3_4_5(v->data(), v->data(), rr.data());
        for (int a = 0; a < 40; ++a)
            for (int b = a + 1; b < 40; ++b) {
                int ta = a % 5, tb = b % 5;
                if (ta == tb || (std::min(ta, tb) == 3 && std::max(ta, tb) == 4)) continue;
                const int lo = ta < tb ? a : b, hi = lo == a ? b : a;
                const int blockOf[5][5] = {{0, kRr01, kRr02, kRr03, kRr04}, {0, 0, kRr12, kRr13, kRr14}, {0, 0, 0, kRr23, kRr24}};
                W32 s = 0;
                for (int i = 0; i < 40 - b; ++i) s = satMac(s, (*v)[i], (*v)[i + b - a]);
                ASSERT_EQ(rr[blockOf[lo % 5][hi % 5] + 8 * (lo / 5) + hi / 5], extract_h(s)) << a << " " << b;
            }
    }
    // The target correlation at full scale: each lag's four-lane sum, scaled by the largest.
    for (int trial = 0; trial < 40; ++trial) {
        auto h = trial % 2 ? fullScale(40) : randomVec(40, 9000), x = trial % 4 < 2 ? fullScale(40) : randomVec(40, 9000);
        W16 dn[40], ref[40];
        g729ab_Cor_h_X(h.data(), x.data(), dn);
        W16 xp[48] = {};
        std::copy(x.begin(), x.end(), xp);
        W32 y32[40];
        for (int j = 0; j < 40; ++j) y32[j] = laneSum(h.data(), xp + j, 40 - 8 * (j / 8));
        const int m = std::min<int>(norm_l(g729ab_Vec_L_abs_max(y32, 40)), 16);
        g729ab_Vec_L_shl_ExtractH(y32, ref, m - 2, 40);
        for (int j = 0; j < 40; ++j) ASSERT_EQ(dn[j], ref[j]) << trial << " lag " << j;
    }
    // The eight-way step's energies at the edge of its plain range and beyond it.
    W16 R1[8], R2[8], dn[8] = {};
    for (int m = 0; m < 8; ++m) R1[m] = m % 2 ? kMax16 : kMin16, R2[m] = m % 3 ? kMax16 : kMin16;
    constexpr W32 kRoom = kMax32 - 65536 * (8192 + 16384);
    for (W32 alp0 : {kRoom, kRoom + 1, kRoom + 60000, -kRoom, -kRoom - 1, 1600000000, -1600000000, kMax32, kMin32}) {
        W16 idx[4], sq[4], alp[4];
        g729ab_D4i40_cbs_NB_POS_1(alp0, R1, R2, dn, 1000, idx, sq, alp);
        for (int L = 0; L < 4; ++L) {
            W16 a1 = extract_h(L_mac(L_mac(alp0, R1[L], 8192), R2[L], 16384));
            W16 a2 = extract_h(L_mac(L_mac(alp0, R1[L + 4], 8192), R2[L + 4], 16384));
            // All squares are equal, so the lane keeps the smaller energy (the first on a tie).
            ASSERT_EQ(alp[L], a2 < a1 ? a2 : a1) << alp0 << " lane " << L;
        }
    }
}

TEST(G729SearchKernels, SignedRowsAndPulseSumsSaturateAtFullScale) {
    for (int trial = 0; trial < 200; ++trial) {
        auto a = fullScale(40), b = fullScale(40);
        W16 s[40], d[40];
        g729ab_Vec_Add4(a.data(), b.data(), s, 40);
        g729ab_Vec_Sub4(a.data(), b.data(), d, 40);
        for (int i = 0; i < 40; ++i) {
            ASSERT_EQ(s[i], add(a[i], b[i]));
            ASSERT_EQ(d[i], sub(a[i], b[i]));
        }
        // Rows signed by -32768 / 32767, entries -32768 included: mult's one saturating product.
        auto rr = fullScale(kRrSize);
        const auto before = rr;
        W16 ps[40], psT[40], nsT[40];
        for (int i = 0; i < 40; ++i) ps[i] = rnd(0, 1) ? kMax16 : kMin16;
        for (int t = 0; t < 5; ++t)
            for (int k = 0; k < 8; ++k) {
                psT[8 * t + k] = ps[t + 5 * k];
                nsT[8 * t + k] = ps[t + 5 * k] == kMax16 ? kMin16 : kMax16;
            }
        g729ab_D4i40_ModRrixiy3(rr.data() + kRr23, ps, psT + 24, nsT + 24);
        for (int blk = 0; blk < 2; ++blk)
            for (int k = 0; k < 8; ++k)
                for (int m = 0; m < 8; ++m) {
                    const int off = kRr23 + 64 * blk + 8 * k + m;
                    const W16 sel = ps[2 + 5 * k] >= 0 ? psT[24 + 8 * blk + m] : nsT[24 + 8 * blk + m];
                    ASSERT_EQ(rr[off], mult(before[off], sel)) << trial;
                }
    }
}

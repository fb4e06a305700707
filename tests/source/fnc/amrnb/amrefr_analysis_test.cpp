// LPC analysis, LSP conversion, filters, convolution and pitch kernels against
// scalar models written in the standard's form (sequential saturating chains,
// high/low double-precision pairs), plus the stated departures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"
#include "amrefr_test_util.h"

using namespace amrefr_op;
using amrefr_test::Buf;
using amrefr_test::Rng;

namespace {

// ---- double-precision pair arithmetic of the standard ----
struct DP {
    Word16 hi, lo;
};
DP extract(Word32 L) { return {static_cast<Word16>(L >> 16), static_cast<Word16>(L_msu(L >> 1, static_cast<Word16>(L >> 16), 16384))}; }
Word32 comp(DP d) { return L_mac(L_deposit_h(d.hi), d.lo, 1); }
Word32 mpy32(DP a, DP b) { return L_mac(L_mac(L_mult(a.hi, b.hi), mult(a.hi, b.lo), 1), mult(a.lo, b.hi), 1); }
Word32 mpy32_16(DP a, Word16 n) { return L_mac(L_mult(a.hi, n), mult(a.lo, n), 1); }
Word32 div32(Word32 L_num, DP den) {
    Word16 approx = div_s(0x3FFF, den.hi);
    Word32 L = mpy32_16(den, approx);
    L = L_sub(0x7FFFFFFF, L);
    L = mpy32_16(extract(L), approx);
    L = mpy32(extract(L_num), extract(L));
    return L_shl(L, 2);
}

// The standard's Levinson on (hi, lo) pairs.
void levinson_model(Word16* old_A, const Word32* r32, Word16* A, Word16* rc) {
    DP R[11], Ah[11], Anh[11];
    for (int i = 0; i <= 10; ++i) R[i] = extract(r32[i]);
    Word32 t1 = comp(R[1]);
    Word32 t0 = div32(L_abs(t1), R[0]);
    if (t1 > 0) t0 = L_negate(t0);
    DP K = extract(t0);
    rc[0] = round16(t0);
    Ah[1] = extract(t0 >> 4);
    t0 = mpy32(K, K);
    t0 = L_sub(0x7FFFFFFF, L_abs(t0));
    t0 = mpy32(R[0], extract(t0));
    Word16 alp_exp = norm_l(t0);
    DP alp = extract(L_shl(t0, alp_exp));
    for (int i = 2; i <= 10; ++i) {
        t0 = 0;
        for (int j = 1; j < i; ++j) t0 = L_add(t0, mpy32(R[j], Ah[i - j]));
        t0 = L_shl(t0, 4);
        t0 = L_add(t0, comp(R[i]));
        t1 = L_abs(t0);
        Word32 t2 = div32(t1, alp);
        if (t0 > 0) t2 = L_negate(t2);
        t2 = L_shl(t2, alp_exp);
        K = extract(t2);
        if (i < 5) rc[i - 1] = round16(t2);
        if (abs_s(K.hi) > 32750) {
            for (int j = 0; j <= 10; ++j) A[j] = old_A[j];
            for (int j = 0; j < 4; ++j) rc[j] = 0;
            return;
        }
        for (int j = 1; j < i; ++j) Anh[j] = extract(L_add(mpy32(K, Ah[i - j]), comp(Ah[j])));
        Anh[i] = extract(L_shr(t2, 4));
        t0 = mpy32(K, K);
        t0 = L_sub(0x7FFFFFFF, L_abs(t0));
        t0 = mpy32(alp, extract(t0));
        Word16 j = norm_l(t0);
        alp = extract(L_shl(t0, j));
        alp_exp = add(alp_exp, j);
        for (int m = 1; m <= i; ++m) Ah[m] = Anh[m];
    }
    A[0] = 4096;
    for (int i = 1; i <= 10; ++i) {
        A[i] = round16(L_shl(comp(Ah[i]), 1));
        old_A[i] = A[i];
    }
}

// Windowing, energy with the standard's overflow loop and normalisation.
Word16 autocorr_head(const Word16* x, const Word16* window, Word16* y, Word32* r) {
    for (int i = 0; i < 240; ++i) y[i] = mult_r(x[i], window[i]);
    Word32 sum;
    bool overflow;
    do {
        overflow = false;
        sum = 0;
        for (int i = 0; i < 240; ++i) {
            std::int64_t s = std::int64_t{sum} + L_mult(y[i], y[i]);
            if (s > 0x7FFFFFFF) {
                overflow = true;
                break;
            }
            sum = static_cast<Word32>(s);
        }
        if (overflow)
            for (int i = 0; i < 240; ++i) y[i] = shr(y[i], 2);
    } while (overflow);
    sum = L_add(sum, 1);
    Word16 norm = norm_l(sum);
    r[0] = L_shl(sum, norm);
    return norm;
}

std::vector<Word16> speech_frames(int samples) {
    // A deterministic vowel-like signal with noise: a sum of harmonics under an envelope.
    std::vector<Word16> s(samples);
    Rng rng(11);
    for (int n = 0; n < samples; ++n) {
        double env = 0.5 + 0.5 * std::sin(n * 0.003);
        double v = 0;
        for (int h = 1; h <= 12; ++h) v += std::sin(n * 2 * M_PI * 130 * h / 8000.0 + h) / h;
        s[n] = static_cast<Word16>(std::lround(env * 6000 * v + rng.uniform(-300, 300)));
    }
    return s;
}

}  // namespace

TEST(AmrnbLpc, AutocorrelationLevinsonMatchStandardPairs) {
    auto speech = speech_frames(240 * 60);
    GSMAMR_LevinsonState st{};
    st.old_A[0] = 4096;
    Word16 model_old[11] = {4096};
    int frames = 0;
    for (int f = 0; f + 240 <= static_cast<int>(speech.size()); f += 240, ++frames) {
        Buf<Word16> y(256);
        Buf<Word32> r(13);
        Word16 norm = autocorr_head(&speech[f], f % 480 ? amrefr_window_232_8 : amrefr_window_200_40, y.get(), r.get());
        // Lags the standard's way: one chain each, shifted by norm.
        Word32 want[11];
        for (int i = 1; i <= 10; ++i) {
            Word32 s = 0;
            for (int j = 0; j < 240 - i; ++j) s = L_mac(s, y[j], y[j + i]);
            want[i] = L_shl(s, norm);
        }
        amrefr_ACF(y.get(), r.get(), norm);
        for (int i = 1; i <= 10; ++i) ASSERT_EQ(r[i] & ~1, want[i] & ~1) << i;

        Word32 lagged[11];
        amrefr_Lag_window(r.get());
        for (int i = 1; i <= 10; ++i) {
            lagged[i] = mpy32(extract(want[i]), DP{amrefr_L_lag_hi[i - 1], amrefr_L_lag_lo[i - 1]});
            ASSERT_EQ(r[i], lagged[i]);
        }
        lagged[0] = r[0];
        Word16 A[11], rc[4], Am[11], rcm[4];
        amrefr_Levinson(&st, r.get(), A, rc);
        levinson_model(model_old, lagged, Am, rcm);
        for (int i = 0; i <= 10; ++i) ASSERT_EQ(A[i], Am[i]) << "frame " << frames << " coef " << i;
        for (int i = 0; i < 4; ++i) ASSERT_EQ(rc[i], rcm[i]);
        for (int i = 0; i <= 10; ++i) ASSERT_EQ(st.old_A[i], model_old[i]);
    }
}

TEST(AmrnbLpc, SilenceAndUnstableFilters) {
    Buf<Word16> y(256);
    Buf<Word32> r(13);
    r[0] = 1 << 30;
    amrefr_ACF(y.get(), r.get(), 30);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(r[i], 0);
    amrefr_Lag_window(r.get());
    GSMAMR_LevinsonState st{};
    for (int i = 0; i <= 10; ++i) st.old_A[i] = static_cast<Word16>(i == 0 ? 4096 : 77);
    Word16 A[11], rc[4];
    amrefr_Levinson(&st, r.get(), A, rc);
    EXPECT_EQ(A[0], 4096);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(A[i], 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rc[i], 0);
    EXPECT_EQ(st.old_A[5], 0);

    // r[1] = −r[0]: the second reflection coefficient is unstable, old_A is output.
    for (int i = 0; i <= 10; ++i) st.old_A[i] = static_cast<Word16>(i == 0 ? 4096 : 100 + i);
    Word32 rr[13] = {0x40000000, 0x40000000 - 2, 0x40000000 - 4};
    amrefr_Levinson(&st, rr, A, rc);
    for (int i = 0; i <= 10; ++i) EXPECT_EQ(A[i], st.old_A[i]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rc[i], 0);
    EXPECT_EQ(st.old_A[3], 103);

    // norm 0 clears bit 0 of r[0..11].
    Buf<Word32> odd(13);
    for (int i = 0; i < 13; ++i) odd[i] = 0x7FFFFFFF;
    Buf<Word16> z(256);
    amrefr_ACF(z.get(), odd.get(), 0);
    for (int i = 0; i <= 11; ++i) EXPECT_EQ(odd[i] & 1, 0) << i;
}

namespace {

// The standard's Chebyshev recursion (b2 subtracted first, doubling saturated).
Word16 chebps_model(Word16 x, const Word16* f) {
    Word32 t0 = L_mult(x, 512);
    t0 = L_mac(t0, f[1], 8192);
    DP b1 = extract(t0);
    t0 = 0x1000000;  // b2 = 1.0 in Q24
    DP b2 = extract(L_shl(L_deposit_l(1), 24));
    for (int i = 2; i < 5; ++i) {
        t0 = mpy32_16(b1, x);
        t0 = L_shl(t0, 1);
        t0 = L_mac(t0, b2.hi, -32768);
        t0 = L_msu(t0, b2.lo, 1);
        t0 = L_mac(t0, f[i], 8192);
        b2 = b1;
        b1 = extract(t0);
    }
    t0 = mpy32_16(b1, x);
    t0 = L_mac(t0, b2.hi, -32768);
    t0 = L_msu(t0, b2.lo, 1);
    t0 = L_mac(t0, f[5], 4096);
    return extract_h(L_shl(t0, 6));
}

// The standard's Get_lsp_pol and Lsp_Az.
void get_lsp_pol_model(const Word16* lsp, Word32* f) {
    f[0] = L_mult(4096, 2048);
    f[1] = L_msu(0, lsp[0], 512);
    for (int i = 2; i <= 5; ++i) {
        const Word16 q = lsp[2 * (i - 1)];
        f[i] = f[i - 2];
        for (int j = i; j > 1; --j) {
            Word32 t0 = L_shl(mpy32_16(extract(f[j - 1]), q), 1);
            f[j] = L_sub(L_add(f[j], f[j - 2]), t0);
        }
        f[1] = L_msu(f[1], q, 512);
    }
}

}  // namespace

TEST(AmrnbLsp, ConversionsMatchTheStandardOnOrderedSets) {
    Rng rng(12);
    for (int rep = 0; rep < 3000; ++rep) {
        // An ordered LSF set, as the quantisers produce.
        Word16 lsf[10];
        int v = rng.uniform(100, 700);
        for (int i = 0; i < 10; ++i) {
            lsf[i] = static_cast<Word16>(v);
            v += rng.uniform(300, 1500);
            if (v > 16000) v = 16000;
        }
        Word16 lsp[10];
        amrefr_Lsf_lsp(lsf, lsp);
        for (int i = 0; i < 10; ++i) {
            int ind = lsf[i] >> 8, off = lsf[i] & 0xFF;
            ASSERT_EQ(lsp[i], add(amrefr_table[ind],
                                  extract_l(L_mult(sub(amrefr_table[ind + 1], amrefr_table[ind]), off) >> 9)));
        }
        Word16 back[10];
        amrefr_Lsp_lsf2(lsp, back);
        for (int i = 0; i < 10; ++i) ASSERT_NEAR(back[i], lsf[i], 8);  // inverse within the table steps

        Word32 f1[6], f2[6], m1[6], m2[6];
        amrefr_Get_lsp_pol(&lsp[0], f1);
        amrefr_Get_lsp_pol(&lsp[1], f2);
        get_lsp_pol_model(&lsp[0], m1);
        get_lsp_pol_model(&lsp[1], m2);
        for (int i = 0; i < 6; ++i) {
            ASSERT_EQ(f1[i], m1[i]) << i;
            ASSERT_EQ(f2[i], m2[i]) << i;
        }
        Word16 a[11];
        amrefr_Lsp_Az(lsp, a);
        for (int i = 5; i > 0; --i) {
            m1[i] = L_add(m1[i], m1[i - 1]);
            m2[i] = L_sub(m2[i], m2[i - 1]);
        }
        ASSERT_EQ(a[0], 4096);
        for (int i = 1; i <= 5; ++i) {
            // Where the sum saturates, the rounding constant is added after the
            // saturation (a stated departure, see below); elsewhere the standard.
            std::int64_t sum = std::int64_t{m1[i]} + m2[i], dif = std::int64_t{m1[i]} - m2[i];
            if (sum + 4096 == sat32(sum + 4096)) {
                ASSERT_EQ(a[i], extract_l(L_shr_r(L_add(m1[i], m2[i]), 13)));
            }
            if (dif + 4096 == sat32(dif + 4096)) {
                ASSERT_EQ(a[11 - i], extract_l(L_shr_r(L_sub(m1[i], m2[i]), 13)));
            }
        }

        // Chebyshev values on the grid from Q10 coefficients (the kernel takes them
        // times 16384, the last one times 8192).
        Word16 fq[6];
        Word32 fk[6];
        for (int i = 1; i <= 5; ++i) fq[i] = static_cast<Word16>(rng.uniform(-2500, 2500));
        for (int i = 1; i <= 4; ++i) fk[i] = fq[i] * 16384;
        fk[5] = fq[5] * 8192;
        for (int g = 0; g < 61; g += 5) ASSERT_EQ(amrefr_Chebps(amrefr_grid[g], fk), chebps_model(amrefr_grid[g], fq));
    }
    Word32 fz[6] = {0, 3 << 14, 99, 5 << 14, 77, 7 << 13};
    EXPECT_EQ(amrefr_Chebps(0, fz), sat16((3 * 16384 - 5 * 16384 + 7 * 8192) >> 10));
}

TEST(AmrnbLsp, EdgeCasesOfTheConversions) {
    Word16 lsf[10] = {}, lsp[10];
    amrefr_Reorder_lsf(lsf);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(lsf[i], 205 * (i + 1));
    Word16 zero[10] = {};
    amrefr_Lsf_lsp(zero, lsp);
    EXPECT_EQ(lsp[0], 32767);
    Word16 top[10];
    for (Word16& t : top) t = 16383;
    amrefr_Lsf_lsp(top, lsp);
    EXPECT_EQ(lsp[0], -32768);
    Word32 f1[6] = {0x1000000, 0, 0, 0, 0, 0}, f2[6] = {0x1000000, 0, 0, 0, 0, 0};
    Word16 a[11];
    amrefr_Poly2A(f1, f2, a);
    const Word16 want[11] = {4096, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4096};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(a[i], want[i]);
    // Departure: a saturated sum keeps its saturation through the rounding
    // (0x7FFFFFFF >> 13 = 262143, low word −1; the standard's rounding gives 0).
    Word32 g1[6] = {0, 0x7FFFFFFF, 0, 0, 0, 0}, g2[6] = {0, 0x7FFFFFFF, 0, 0, 0, 0};
    amrefr_Poly2A(g1, g2, a);
    EXPECT_EQ(a[1], -1);

    Rng rng(13);
    Word16 mean[10], lspv[10], m0[10];
    rng.fill(mean, 10, 32767);
    rng.fill(lspv, 10, 32767);
    std::memcpy(m0, mean, sizeof(mean));
    amrefr_lsp_avg(mean, lspv);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(mean[i], round16(L_mac(L_msu(L_deposit_h(m0[i]), 5243, m0[i]), 5243, lspv[i])));
    Word16 ai[11], aw[13];
    rng.fill(ai, 11, 32767);
    amrefr_Weight_Ai(ai, amrefr_gamma1, aw);
    EXPECT_EQ(aw[0], ai[0]);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(aw[i], round16(L_mult(ai[i], amrefr_gamma1[i - 1])));
}

namespace {

// The standard's synthesis filter: one saturating chain per output.
void syn_model(const Word16* a, const Word16* x, Word16* y) {
    for (int n = 0; n < 40; ++n) {
        Word32 s = L_mult(x[n], a[0]);
        for (int j = 1; j <= 10; ++j) s = L_msu(s, a[j], y[n - j]);
        y[n] = round16(L_shl(s, 3));
    }
}

void residu_model(const Word16* a, const Word16* x, Word16* y) {
    for (int n = 0; n < 40; ++n) {
        Word32 s = L_mult(x[n], a[0]);
        for (int j = 1; j <= 10; ++j) s = L_mac(s, a[j], x[n - j]);
        y[n] = round16(L_shl(s, 3));
    }
}

void stable_lpc(Rng& rng, Word16* a) {
    // A product of damped resonators: stable, with realistic coefficient sizes.
    double c[11] = {1};
    for (int k = 0; k < 5; ++k) {
        double rad = 0.7 + 0.25 * rng.uniform(0, 100) / 100.0, w = M_PI * rng.uniform(5, 95) / 100.0;
        double p1 = -2 * rad * std::cos(w), p2 = rad * rad, n[11] = {};
        for (int i = 0; i <= 10; ++i) {
            n[i] += c[i];
            if (i + 1 <= 10) n[i + 1] += p1 * c[i];
            if (i + 2 <= 10) n[i + 2] += p2 * c[i];
        }
        std::memcpy(c, n, sizeof(c));
    }
    for (int i = 0; i <= 10; ++i) a[i] = sat16(std::lround(c[i] * 4096));
}

}  // namespace

TEST(AmrnbFilter, SynthesisAndResidualMatchTheStandardChains) {
    Rng rng(14);
    int quiet = 0;
    for (int rep = 0; rep < 4000; ++rep) {
        Word16 a[11];
        stable_lpc(rng, a);
        Buf<Word16> x(50), y(50), ym(50);
        rng.fill(x.get(), 50, rep % 2 ? 300 : 3000);
        for (int i = 0; i < 10; ++i) y[i] = ym[i] = static_cast<Word16>(rng.uniform(-2000, 2000));
        amrefr_Syn_filt(a, x.get() + 10, y.get() + 10);
        syn_model(a, x.get() + 10, ym.get() + 10);
        Buf<Word16> y2(50);
        std::memcpy(y2.get(), ym.get(), 10 * sizeof(Word16));
        Word16 ovf = amrefr_Syn_filt_latch_overflow(a, x.get() + 10, y2.get() + 10);
        bool same = std::memcmp(y.get(), ym.get(), 50 * sizeof(Word16)) == 0;
        ASSERT_EQ(std::memcmp(y.get(), y2.get(), 50 * sizeof(Word16)), 0);
        if (ovf == 0) {
            ASSERT_TRUE(same) << rep;  // nothing clipped: the standard's output
            ++quiet;
        }
        Buf<Word16> r(40), rm(40);
        amrefr_Residu(a, x.get() + 10, r.get());
        residu_model(a, x.get() + 10, rm.get());
        ASSERT_EQ(std::memcmp(r.get(), rm.get(), 40 * sizeof(Word16)), 0);
    }
    EXPECT_GT(quiet, 1000);

    // Identity filters.
    Word16 unit[11] = {4096};
    Buf<Word16> x(40), y(50), r(40), hist(50);
    rng.fill_sat(x.get(), 40, 32767);
    amrefr_Syn_filt(unit, x.get(), y.get() + 10);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(y[10 + i], x[i]);
    for (int i = 0; i < 40; ++i) hist[10 + i] = x[i];
    amrefr_Residu(unit, hist.get() + 10, r.get());
    for (int i = 0; i < 40; ++i) EXPECT_EQ(r[i], x[i]);
}

TEST(AmrnbFilter, SynthesisSaturatesWithTheCorrectSignWhenItsPartialSumsOverflow) {
    // Feedback that drives all four partial sums to +2^31: their plain total
    // would wrap negative; the output saturates at +32767 as in the standard.
    Word16 a[11];
    for (int i = 0; i <= 10; ++i) a[i] = static_cast<Word16>(i == 0 ? 4096 : -32768);
    Buf<Word16> x(40), y(50);
    for (int i = 0; i < 10; ++i) y[i] = 32767;
    for (int i = 0; i < 40; ++i) x[i] = 32767;
    Word16 ovf = amrefr_Syn_filt_latch_overflow(a, x.get(), y.get() + 10);
    EXPECT_EQ(ovf, 1);
    for (int i = 10; i < 50; ++i) EXPECT_EQ(y[i], 32767) << i;
    Buf<Word16> ym(50);
    for (int i = 0; i < 10; ++i) ym[i] = 32767;
    syn_model(a, x.get(), ym.get() + 10);
    EXPECT_EQ(std::memcmp(y.get(), ym.get(), 50 * sizeof(Word16)), 0);
}

namespace {

// The standard's high-pass on (hi, lo) pairs.
void pre_process_model(GSMAMR_Pre_ProcessState& st, const Word16* in, Word16* out, bool post) {
    const Word16* b = post ? amrefr_b_post : amrefr_b_pre;
    const Word16* a = post ? amrefr_a_post : amrefr_a_pre;
    Word16 x0 = st.x0, x1 = st.x1;
    DP y1 = extract(st.L_y1), y2 = extract(st.L_y2);
    for (int i = 0; i < 160; ++i) {
        Word16 x2 = x1;
        x1 = x0;
        x0 = in[i];
        Word32 L = mpy32_16(y1, a[1]);
        L = L_add(L, mpy32_16(y2, a[2]));
        L = L_mac(L, x0, b[0]);
        L = L_mac(L, x1, b[1]);
        L = L_mac(L, x2, b[2]);
        L = L_shl(L, post ? 2 : 3);
        out[i] = post ? static_cast<Word16>(round16(L_shl(L, 1)) & 0xFFF8) : round16(L);
        y2 = y1;
        y1 = extract(L);
    }
    st.x0 = x0;
    st.x1 = x1;
    st.L_y1 = comp(y1);
    st.L_y2 = comp(y2);
}

}  // namespace

TEST(AmrnbFilter, HighPassMatchesThePairArithmeticForBothDirections) {
    auto speech = speech_frames(160 * 40);
    for (int mode = 0; mode < 2; ++mode) {
        GSMAMR_Pre_ProcessState st{}, sm{};
        for (std::size_t f = 0; f + 160 <= speech.size(); f += 160) {
            Buf<Word16> in(160), out(160), outm(160);
            for (int i = 0; i < 160; ++i) in[i] = static_cast<Word16>(speech[f + i] & (mode ? 0xFFFF : 0xFFF8));
            pre_process_model(sm, in.get(), outm.get(), mode == 1);
            amrefr_Pre_Process(&st, in.get(), out.get(), static_cast<Word16>(mode));
            ASSERT_EQ(std::memcmp(out.get(), outm.get(), 160 * sizeof(Word16)), 0) << mode << " " << f;
            ASSERT_EQ(st.x0, sm.x0);
            ASSERT_EQ(st.x1, sm.x1);
            if (mode) {
                for (int i = 0; i < 160; ++i) ASSERT_EQ(out[i] & 7, 0);
            }
        }
    }
    // Silence stays silence; in place works.
    GSMAMR_Pre_ProcessState st{};
    Buf<Word16> z(160);
    amrefr_Pre_Process(&st, z.get(), z.get(), 0);
    for (int i = 0; i < 160; ++i) EXPECT_EQ(z[i], 0);
    EXPECT_EQ(st.L_y1, 0);
}

TEST(AmrnbFilter, TiltAndGainLoops) {
    Rng rng(15);
    Buf<Word16> s(40), ref(40);
    rng.fill_sat(s.get(), 40, 32767);
    std::memcpy(ref.get(), s.get(), 40 * sizeof(Word16));
    GSMAMR_preemphasisState st{1234};
    amrefr_preemphasis(&st, s.get(), 22938);
    for (int i = 39; i >= 0; --i)
        EXPECT_EQ(s[i], sub(ref[i], mult(22938, i ? ref[i - 1] : 1234)));
    EXPECT_EQ(st.mem_pre, ref[39]);
    amrefr_preemphasis(&st, s.get(), 0);
    EXPECT_EQ(st.mem_pre, s[39]);

    Word16 gains[40];
    amrefr_agc_loop1(3000, 0, 777, gains);
    for (Word16 g : gains) EXPECT_EQ(g, 777);
    amrefr_agc_loop1(4096, 29491, 410, gains);
    Word16 g = 4096;
    for (int i = 0; i < 40; ++i) {
        g = add(mult(g, 29491), 410);
        EXPECT_EQ(gains[i], g);
    }
    std::memcpy(ref.get(), s.get(), 40 * sizeof(Word16));
    amrefr_agc_loop2(s.get(), gains);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(s[i], extract_h(L_shl(L_mult(ref[i], gains[i]), 3)));
}

TEST(AmrnbConvolve, ForwardFilteringAndTargetUpdate) {
    Rng rng(16);
    for (int rep = 0; rep < 2000; ++rep) {
        Word16 h[40];
        Buf<Word16> x(40), y(40), hrev(43);
        bool loud = rep % 4 == 0;
        loud ? rng.fill_sat(h, 40, 32767) : rng.fill(h, 40, 4096);
        loud ? rng.fill_sat(x.get(), 40, 32767) : rng.fill(x.get(), 40, 4000);
        amrefr_ReverseCopy_8(h, hrev.get(), 40);
        amrefr_ConvolveFwdH(x.get(), hrev.get(), y.get());
        for (int n = 0; n < 40; ++n) {
            Word32 s = 0;
            for (int i = 0; i <= n; ++i) s = L_mac(s, x[i], h[n - i]);
            ASSERT_EQ(y[n], extract_h(L_shl(s, 3))) << n;
        }
        Word16 gain = rng.w16();
        Buf<Word16> t(40), out(40);
        rng.fill_sat(t.get(), 40, 32767);
        amrefr_Vec_update_target(y.get(), t.get(), out.get(), gain);
        for (int i = 0; i < 40; ++i) ASSERT_EQ(out[i], sub(t[i], extract_h(L_shl(L_mult(y[i], gain), 1))));
        amrefr_Vec_update_target(y.get(), t.get(), t.get(), gain);
        ASSERT_EQ(std::memcmp(out.get(), t.get(), 80), 0);
    }
    // Unit response; saturation from the second output on; the zero taps matter.
    Buf<Word16> hrev(43), x(40), y(40);
    hrev[39] = 4096;
    rng.fill_sat(x.get(), 40, 32767);
    amrefr_ConvolveFwdH(x.get(), hrev.get(), y.get());
    for (int i = 0; i < 40; ++i) EXPECT_EQ(y[i], x[i]);
    for (int i = 0; i < 40; ++i) hrev[i] = x[i] = 32767;
    amrefr_ConvolveFwdH(x.get(), hrev.get(), y.get());
    for (int i = 0; i < 40; ++i) EXPECT_EQ(y[i], 32767);
    Buf<Word16> h2(43), x2(40), y2(40);
    h2[39] = 4096;
    h2[40] = 4096;
    x2[1] = 100;
    amrefr_ConvolveFwdH(x2.get(), h2.get(), y2.get());
    EXPECT_EQ(y2[0], 100);  // x[1] meets the tap h[−1] in the first group
}

TEST(AmrnbPitch, OpenLoopCorrelationsAndWeightedLag) {
    Rng rng(17);
    auto speech = speech_frames(303);
    Buf<Word16> sig(303);
    for (int i = 0; i < 303; ++i) sig[i] = static_cast<Word16>(speech[i] >> 3);
    Buf<Word32> corr(144);
    amrefr_comp_corr_loop(sig.get() + 143, sig.get(), 124, corr.get(), 160);
    for (int m = 0; m < 128; ++m) {
        int lag = 143 - m;
        Word32 s = 0;
        for (int j = 0; j < 160; ++j) s = L_mac(s, sig[143 + j], sig[143 + j - lag]);
        ASSERT_EQ(corr[m], s) << lag;
    }
    Buf<Word16> zero(303);
    amrefr_comp_corr_loop(zero.get() + 143, zero.get(), 124, corr.get(), 160);
    for (int m = 0; m < 128; ++m) EXPECT_EQ(corr[m], 0);

    for (int rep = 0; rep < 300; ++rep) {
        Word32 c[144];
        for (Word32& v : c) v = rep % 3 ? rng.uniform(-5, 5) * 1000000 : rng.w32();
        const Word32* cp = c + 143;
        int old_lag = rng.uniform(20, 143);
        const Word16* ww = &amrefr_corrweight[250];
        const Word16* we = &amrefr_corrweight[123 + 143 - old_lag];
        for (int flg = 0; flg <= 1; ++flg) {
            Word32 max = MIN_32;
            int best = 0;
            for (int i = 143; i >= 20; --i) {
                Word32 t = Mpy_32_16(cp[-i], ww[-(143 - i)]);
                if (flg) t = Mpy_32_16(t, we[-(143 - i)]);
                if (t >= max) {
                    max = t;
                    best = i;
                }
            }
            ASSERT_EQ(amrefr_Lag_max_10k2_Loops(cp, ww, we, static_cast<Word16>(flg)), best);
        }
    }
    Word32 flat[144] = {};
    EXPECT_EQ(amrefr_Lag_max_10k2_Loops(flat + 143, &amrefr_corrweight[250], nullptr, 0), 20);
}

TEST(AmrnbPitch, NormalisedCorrelationFollowsTheRecursion) {
    Rng rng(18);
    for (int rep = 0; rep < 300; ++rep) {
        int t_min = rng.uniform(18, 140), t_max = t_min + rng.uniform(1, 3);
        Buf<Word16> excbuf(160 + 40), xn(40), h(40), s_excf(40), model(40);
        rng.fill(excbuf.get(), 200, 3000);
        rng.fill(xn.get(), 40, 3000);
        rng.fill(h.get(), 40, 4096);
        const Word16* exc = excbuf.get() + 160;
        Word16 h_fac = rep % 2 ? 3 : 1, scaling = rep % 2 ? 0 : 2;
        rng.fill(s_excf.get(), 40, 2000);
        std::memcpy(model.get(), s_excf.get(), 80);
        Buf<Word16> cn(t_max + 1), cm(t_max + 1);
        amrefr_Calculate_Corr_Norm(s_excf.get(), xn.get(), exc, h.get(), cn.get(), static_cast<Word16>(t_min),
                                   static_cast<Word16>(t_max), static_cast<Word16>(-t_min), h_fac, scaling);
        int k = -t_min;
        for (int i = t_min; i <= t_max; ++i) {
            Word32 e = 0, c = 0;
            for (int j = 0; j < 40; ++j) e = L_mac(e, model[j], model[j]);
            for (int j = 0; j < 40; ++j) c = L_mac(c, xn[j], model[j]);
            Word32 norm = amrefr_Inv_sqrt(e);
            cm[i] = extract_h(L_shl(mpy32(extract(norm), extract(c)), 16));
            if (i < t_max) {
                --k;
                for (int j = 39; j > 0; --j) model[j] = add(extract_h(L_shl(L_mult(exc[k], h[j]), h_fac)), model[j - 1]);
                model[0] = shr(exc[k], scaling);
            }
            ASSERT_EQ(cn[i], cm[i]) << i;
        }
    }
    Word16 v[3] = {5, 7, 7};
    EXPECT_EQ(amrefr_Interpol_3or6_Best(v, -1, -32767, 3), 0);
    Word16 low[2] = {-32767, -32768};
    EXPECT_EQ(amrefr_Interpol_3or6_Best(low, -3, -32767, 2), -3);
}

TEST(AmrnbPitch, AdaptiveCodebookVectorMatchesTheAlternatingSum) {
    Rng rng(19);
    std::vector<Word16> taps(61);
    for (int p = 0; p < 7; ++p)
        for (int i = 0; i < 10; ++i)
            if (p + 6 * i < 61) taps[p + 6 * i] = amrefr_inter_6[10 * p + i];
    for (int rep = 0; rep < 2000; ++rep) {
        Buf<Word16> buf(154 + 40), ref(154 + 40);
        rng.fill(buf.get(), 194, 10000);
        std::memcpy(ref.get(), buf.get(), 194 * 2);
        int T0 = rng.uniform(18, 143);
        int flag3 = rep % 2, frac = flag3 ? rng.uniform(-1, 1) : rng.uniform(-2, 3);
        amrefr_Pred_lt_3or6(buf.get() + 154, static_cast<Word16>(T0), static_cast<Word16>(frac), static_cast<Word16>(flag3));
        // The standard's form: both sides alternately, sample by sample.
        Word16* exc = ref.get() + 154;
        const Word16* x0 = exc - T0;
        int f = -frac * (flag3 ? 2 : 1);
        if (f < 0) {
            f += 6;
            --x0;
        }
        for (int j = 0; j < 40; ++j) {
            const Word16* x1 = x0 + j;
            const Word16* x2 = x0 + j + 1;
            Word32 s = 0;
            for (int i = 0, k1 = f, k2 = 6 - f; i < 10; ++i, k1 += 6, k2 += 6) {
                s = L_mac(s, x1[-i], taps[k1]);
                s = L_mac(s, x2[i], taps[k2]);
            }
            exc[j] = round16(s);
        }
        ASSERT_EQ(std::memcmp(buf.get(), ref.get(), 194 * 2), 0) << T0 << " " << frac;
    }
}

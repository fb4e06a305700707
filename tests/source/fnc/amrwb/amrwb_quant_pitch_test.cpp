// ISF quantiser searches, pitch loops, gain search and excitation kernels
// against plain models in the standard's table layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "amrwb_kernels.h"
#include "amrwb_table_layouts.h"
#include "amrwb_test_util.h"

using namespace amr_wb_op;
using namespace amrwb_test;

namespace {
Word32 dist(const Word16* x, const Vec& book, int dim, int k) {
    Word32 d = 0;
    for (int j = 0; j < dim; ++j) {
        Word16 diff = sub(x[j], static_cast<Word16>(book[k * dim + j]));
        d = L_mac(d, diff, diff);
    }
    return d;
}
}  // namespace

TEST(AmrwbIsfQuantiser, FirstStageSurvivorsByKeyThenIndex) {
    Rng rng(40);
    struct Book {
        int dim;
        const Word16* t;
        void (*search)(const Word16*, Word32*, Word16*);
    } books[] = {{9, amr_wb_dico1_isf_reordered, amr_wb_VQ_stage1_dim9},
                 {7, amr_wb_dico2_isf_reordered, amr_wb_VQ_stage1_dim7}};
    for (const Book& b : books) {
        Vec std_book = from_blocks(b.t, 256, b.dim);
        for (int trial = 0; trial < 60; ++trial) {
            Word16 x[9];
            // Near codevectors, and (last trials) far enough that distances saturate the keys.
            for (int j = 0; j < b.dim; ++j) x[j] = trial < 50 ? rng.word(3000, 0) : static_cast<Word16>(20000 + j);
            Exact<Word32> scratch(256);
            Exact<Word16> surv(4);
            b.search(x, scratch.get(), surv.get());
            std::vector<std::pair<std::uint32_t, int>> keys;
            for (int k = 0; k < 256; ++k)
                keys.push_back({(static_cast<std::uint32_t>(L_shl(dist(x, std_book, b.dim, k), 7)) & ~0xFFu) | k, k});
            std::sort(keys.begin(), keys.end());
            for (int s = 0; s < 4; ++s) ASSERT_EQ(surv[s], keys[s].second) << trial << " " << s;
            if (trial >= 50) {
                for (int s = 0; s < 4; ++s) EXPECT_EQ(surv[s], s);  // all at 2^24 or more: by index
            }
        }
    }
}

TEST(AmrwbIsfQuantiser, SplitSearchesReturnTheFirstNearestCodevector) {
    Rng rng(41);
    struct Split {
        int dim, size;
        const Word16* t;
        Word16 (*search)(const Word16*, const Word16*, Word16, Word32*);
    } splits[] = {{2, 64, amr_wb_dico1_isf_noise_reordered, amr_wb_Sub_VQ2_2},
                  {3, 128, amr_wb_dico22_isf_reordered, amr_wb_Sub_VQ3_2},
                  {4, 128, amr_wb_dico22_isf_36b_reordered, amr_wb_Sub_VQ4_2},
                  {5, 128, amr_wb_dico21_isf_36b_reordered, amr_wb_Sub_VQ5_2},
                  {7, 64, amr_wb_dico23_isf_36b_reordered, amr_wb_Sub_VQ7_2}};
    for (const Split& s : splits) {
        Vec book = from_blocks(s.t, s.size, s.dim);
        for (int trial = 0; trial < 50; ++trial) {
            Word16 x[7];
            // Near the codevectors, then at full scale with extremes (differences clip).
            for (int j = 0; j < s.dim; ++j) x[j] = trial < 40 ? rng.word(1500, 0) : rng.word(32767, 2);
            Word32 d = -1;
            Word16 got = s.search(x, s.t, static_cast<Word16>(s.size), &d);
            int best = 0;
            for (int k = 1; k < s.size; ++k)
                if (dist(x, book, s.dim, k) < dist(x, book, s.dim, best)) best = k;
            ASSERT_EQ(got, best) << s.dim << " " << trial;
            ASSERT_EQ(d, dist(x, book, s.dim, best));
        }
        // Equal distances: a copy of codevector 9 placed at 5 and 13 wins at 5.
        std::vector<Word16> synth(s.t, s.t + s.size * s.dim);
        auto put = [&](int k, int j, Word16 v) { synth[(k >> 2) * 4 * s.dim + 4 * j + (k & 3)] = v; };
        Word16 x[7];
        for (int j = 0; j < s.dim; ++j) {
            x[j] = static_cast<Word16>(30000 - j);
            put(5, j, x[j]);
            put(13, j, x[j]);
            put(9, j, x[j]);
        }
        Word32 d;
        EXPECT_EQ(s.search(x, synth.data(), static_cast<Word16>(s.size), &d), 5);
        EXPECT_EQ(d, 0);
    }
    Word16 book[48], out[3];
    for (int i = 0; i < 48; ++i) book[i] = static_cast<Word16>(i);
    amr_wb_VQ_stage1_DeQ(5, 3, book, out);
    EXPECT_EQ(out[0], 13);
    EXPECT_EQ(out[1], 17);
    EXPECT_EQ(out[2], 21);

    Word16 isf1[16], past[16], isf[16];
    for (int i = 0; i < 16; ++i) {
        isf1[i] = rng.word();
        past[i] = rng.word();
    }
    amr_wb_Qpisf_2s_CalcIsf(isf, isf1, past);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(isf[i], sub(sub(isf1[i], amr_wb_mean_isf[i]), mult(past[i], 10923)));
    Word16 q[16], p2[16];
    std::copy(isf, isf + 16, q);
    std::copy(past, past + 16, p2);
    amr_wb_Dpisf_2s_CalcIsfQ(q, p2);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(q[i], add(add(isf[i], amr_wb_mean_isf[i]), mult(past[i], 10923)));
        EXPECT_EQ(p2[i], isf[i]);
    }
}

TEST(AmrwbPitch, OpenLoopCorrelationAndLagChoice) {
    Rng rng(42);
    Exact<Word16> w(115 + 256);
    rng.fill(w.get(), 115 + 256, 5000, 0);
    Exact<Word32> corr(104);
    amr_wb_comp_corr_loop(w.get() + 115, w.get(), 104, corr.get(), 256);
    for (int j = 0; j < 104; ++j) ASSERT_EQ(corr[j], lane_sum(w.get() + 115, w.get() + j, 256)) << j;

    const Word16* ww = amr_wb_corrweight + 198;
    for (int old = 30; old <= 110; old += 40) {
        const Word16* we = amr_wb_corrweight + 213 - old;
        Word32 best1 = MIN_32, best2 = MIN_32;
        int lag1 = 0, lag2 = 0;
        for (int i = 0; i < 98; ++i) {
            Word32 v2 = static_cast<Word32>((std::int64_t{corr[i]} * ww[-i]) >> 16);
            Word32 v1 = static_cast<Word32>((std::int64_t{2 * v2} * we[-i]) >> 16);
            if (v1 >= best1) best1 = v1, lag1 = 115 - i;
            if (v2 >= best2) best2 = v2, lag2 = 115 - i;
        }
        EXPECT_EQ(amr_wb_Pitch_med_ol_loop1(corr.get(), ww, we), lag1);
        EXPECT_EQ(amr_wb_Pitch_med_ol_loop2(corr.get(), ww), lag2);
    }
    // Equal weighted correlations: the shorter lag wins.
    Word32 c[98] = {};
    c[10] = 1000000;
    c[50] = 1000000;
    Word16 flat[98];
    for (Word16& f : flat) f = 16384;
    EXPECT_EQ(amr_wb_Pitch_med_ol_loop2(c, flat + 97), 115 - 50);
}

namespace {
// The lag loop written out from its steps, with the saturating left shift.
std::vector<Word16> norm_corr_model(const Word16* xn, std::vector<Word16> excf, const Word16* h, const Word16* exc_p,
                                    int nscale, int t_min, int t_max) {
    std::vector<Word16> out;
    for (int t = t_min; t <= t_max; ++t) {
        Word32 C = lane_sum(xn, excf.data(), 64) | 1;
        int e = norm_l(L_abs(C));
        Word16 Cn = extract_h(L_shl(C, static_cast<Word16>(e)));
        Word32 E = lane_sum(excf.data(), excf.data(), 64) | 1;
        int f = norm_l(E);
        E = L_shl(E, static_cast<Word16>(f));
        Word16 q = static_cast<Word16>(30 - f);
        Word16 q_in = q;
        amr_wb_Isqrt_n(&E, &q);
        int q2 = (q_in - 1) >> 1;
        Word32 L = L_mult(Cn, extract_h(E));
        int s = (e - 30) + q2 + nscale;
        out.push_back(round16(L_shr(L, static_cast<Word16>(s))));
        Word16 k = exc_p[-(t - t_min)];
        for (int n = 63; n > 0; --n) excf[n] = add(excf[n - 1], mult(k, h[n]));
        excf[0] = mult(k, h[0]);
    }
    return out;
}
}  // namespace

TEST(AmrwbPitch, NormalisedCorrelationLoopShiftsLeftWithSaturation) {
    Rng rng(43);
    // Moderate signals, full-scale ones (extremes mixed in) whose sums clip, and
    // (amplitude 0) a filtered excitation that -32768 · -32768 products update.
    for (int amp : {8000, 32767, 0})
    for (int nscale : {-20, -3, 0, 6, 12, 15, 18}) {
        Exact<Word16> xn(64), excf(64), h(64), exc(200);
        const int edge = amp == 32767 ? 4 : 0;
        rng.fill(xn.get(), 64, amp ? amp : 3000, edge);
        rng.fill(excf.get(), 64, amp ? amp : 3000, edge);
        rng.fill(h.get(), 64, amp, edge);
        rng.fill(exc.get(), 200, amp, edge);
        if (amp == 0) {
            for (int i = 0; i < 64; ++i) h[i] = static_cast<Word16>(i % 2 ? -32768 : 1000);
            for (int i = 0; i < 200; ++i) exc[i] = static_cast<Word16>(i % 3 ? -32768 : -100);
        }
        const int t_min = 34, t_max = 50;
        std::vector<Word16> model = norm_corr_model(xn.get(), std::vector<Word16>(excf.get(), excf.get() + 64), h.get(),
                                                    exc.get() + 199, nscale, t_min, t_max);
        Exact<Word16> out(t_max - t_min + 1);
        amr_wb_Norm_Corr_Loop(xn.get(), excf.get(), out.get(), h.get(), exc.get() + 199, static_cast<Word16>(nscale),
                              t_min, t_max);
        for (int t = 0; t <= t_max - t_min; ++t) ASSERT_EQ(out[t], model[t]) << nscale << " " << t;
        if (nscale == -20 && amp == 8000) {
            for (int t = 0; t <= t_max - t_min; ++t) EXPECT_TRUE(out[t] == 32767 || out[t] == -32768) << out[t];
        }
    }
}

TEST(AmrwbPitch, FractionalInterpolationAndPrediction) {
    Rng rng(44);
    const Vec i41 = from_phase_rows(amr_wb_inter4_1, 8, 8, 32);
    const Vec i42 = from_phase_rows(amr_wb_inter4_2, 32, 32, 128);
    Word16 x[9];
    rng.fill(x, 9, 20000, 0);
    for (int frac = -3; frac <= 3; ++frac) {
        const Word16* p = x + 4;
        int f = frac;
        if (f < 0) f += 4, --p;
        p -= 3;
        Word32 s = 0;
        for (int i = 0; i < 8; ++i) s = L_mac(s, p[i], static_cast<Word16>(i41[(3 - f) + 4 * i]));
        EXPECT_EQ(amr_wb_Interpol_4(x + 4, static_cast<Word16>(frac)), round16(L_shl(s, 1))) << frac;
    }
    // frac = -1 is row 3 one sample earlier.
    EXPECT_EQ(amr_wb_Interpol_4(x + 5, -1), amr_wb_Interpol_4(x + 4, 3));

    for (int T0 : {34, 57, 231}) {
        for (int frac = -3; frac <= 3; ++frac) {
            Exact<Word16> exc(T0 + 17 + 66);
            rng.fill(exc.get(), T0 + 17 + 65, 12000, 0);
            exc[T0 + 17 + 65] = 4321;  // one past the 65 outputs
            std::vector<Word16> m(exc.get(), exc.get() + T0 + 17 + 66);
            amr_wb_Pred_lt4(exc.get() + T0 + 17, static_cast<Word16>(T0), static_cast<Word16>(frac));
            for (int j = 0; j < 65; ++j) {
                int f = -frac, base = T0 + 17 + j - T0;
                if (f < 0) f += 4, --base;
                base -= 15;
                Word32 s = 0;
                for (int k = 0; k < 32; ++k) s = L_mac(s, m[base + k], static_cast<Word16>(i42[(3 - f) + 4 * k]));
                m[T0 + 17 + j] = round16(L_shl(s, 1));
                ASSERT_EQ(exc[T0 + 17 + j], m[T0 + 17 + j]) << T0 << " " << frac << " " << j;
            }
            EXPECT_EQ(exc[T0 + 17 + 65], 4321);
        }
    }
}

TEST(AmrwbGains, CodebookSearchIsTheFirstMinimum) {
    Rng rng(45);
    for (int trial = 0; trial < 40; ++trial) {
        Word16 hi[5], lo[5];
        for (int k = 0; k < 5; ++k) {
            hi[k] = rng.word(trial < 30 ? 8000 : 32767, 0);
            lo[k] = static_cast<Word16>(rng.uniform(0, 4095));
        }
        Word16 gcode0 = static_cast<Word16>(rng.uniform(100, 20000));
        const Word16* gc = trial % 2 ? amr_wb_t_qua_gain7b_g_code : amr_wb_t_qua_gain6b_g_code;
        const Word16* gp = trial % 2 ? amr_wb_t_qua_gain7b_g_pitch : amr_wb_t_qua_gain6b_g_pitch;
        int size = trial % 2 ? 64 : 32, start = trial % 2 ? 32 : 16;
        int best = 0;
        Word32 best_d = MAX_32;
        for (int i = 0; i < size; ++i) {
            Word16 g = mult_r(gc[start + i], gcode0), p = gp[start + i];
            Word32 P = L_mult(g, g);
            Word16 g2h = extract_h(P), g2l = static_cast<Word16>((P & 0xFFFF) >> 1);
            Word16 g2p = mult_r(p, p), gpc = mult_r(g, p);
            Word32 Llo = L_mult(hi[2], g2l) >> 3;
            for (auto [c, v] : {std::pair{lo[0], g2p}, {lo[1], p}, {lo[2], g2h}, {lo[3], g}, {lo[4], gpc}})
                Llo = L_mac(Llo, c, v);
            Word32 Lhi = L_mult(hi[0], g2p);
            for (auto [c, v] : {std::pair{hi[1], p}, {hi[2], g2h}, {hi[3], g}, {hi[4], gpc}}) Lhi = L_mac(Lhi, c, v);
            Word32 d = L_add(Llo >> 12, Lhi);
            if (i == 0 || d < best_d) best_d = d, best = i;
        }
        ASSERT_EQ(amr_wb_Q_gain2_CBS(gc + start, gp + start, hi, lo, gcode0, static_cast<Word16>(size)), best);
    }
    // Equal entries: the lower index.
    Word16 g[8] = {100, 200, 300, 400, 100, 200, 300, 400}, p[8] = {1, 2, 3, 4, 1, 2, 3, 4};
    Word16 hi[5] = {0, -1000, 0, 0, 0}, lo[5] = {};
    EXPECT_EQ(amr_wb_Q_gain2_CBS(g, p, hi, lo, 1000, 8), 3);
}

TEST(AmrwbExcitation, SumsFiltersEnhancerAndDispersion) {
    Rng rng(46);
    Exact<Word16> code(64), exc(64), out(64);
    rng.fill(code.get(), 64);
    rng.fill(exc.get(), 64);
    std::vector<Word16> e0(exc.get(), exc.get() + 64);
    amr_wb_TotalExcitation_LP(code.get(), exc.get(), 3000, 12000);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(exc[i], round16(L_shl(L_mac(L_shl(L_mult(code[i], 3000), 5), e0[i], 12000), 1)));

    Exact<Word16> base(66);
    rng.fill(base.get(), 66);
    amr_wb_Pitch_Excitation_LP(base.get(), out.get(), 1);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(out[i], round16(L_mac(L_mac(L_mult(5898, base[i]), 20972, base[i + 1]), 5898, base[i + 2])));

    // The enhancer treats code[-1] and code[64] as zero.
    amr_wb_PitchEnhance_LP(code.get(), out.get(), 6000);
    for (int i = 0; i < 64; ++i) {
        Word32 L = L_deposit_h(code[i]);
        L = L_msu(L, i < 63 ? code[i + 1] : 0, 6000);
        L = L_msu(L, i > 0 ? code[i - 1] : 0, 6000);
        EXPECT_EQ(out[i], round16(L)) << i;
    }

    // Dispersion: the linear convolution folded onto one subframe.
    Word16 sparse[64] = {}, code2[128] = {};
    sparse[3] = 512;
    sparse[40] = -512;
    std::vector<Word16> s0(sparse, sparse + 64);
    amr_wb_ph_loop(sparse, code2, amr_wb_ph_imp_mid);
    for (int n = 0; n < 64; ++n) {
        Word16 a = 0, b = 0;
        for (int i : {3, 40}) {
            if (n - i >= 0) a = add(a, mult_r(s0[i], amr_wb_ph_imp_mid[n - i]));
            if (n + 64 - i < 64) b = add(b, mult_r(s0[i], amr_wb_ph_imp_mid[n + 64 - i]));
        }
        EXPECT_EQ(sparse[n], add(a, b)) << n;
    }
    Word16 zero[64] = {}, z2[128] = {};
    amr_wb_ph_loop(zero, z2, amr_wb_ph_imp_low);
    for (Word16 v : zero) EXPECT_EQ(v, 0);

    // Pitch sharpening only above a doubled gain of 16384.
    out[0] = 777;
    EXPECT_EQ(amr_wb_Excitation_LP(code.get(), out.get(), 8192), 16384);
    EXPECT_EQ(out[0], 777);
    EXPECT_EQ(amr_wb_Excitation_LP(code.get(), out.get(), 8193), 16386);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(out[i], round16(L_mult(mult(code[i], 16386), 8193) >> 1));

    Exact<Word16> noise(256);
    rng.fill(noise.get(), 256);
    amr_wb_dtx_Exc_loop(noise.get(), 32767, -20);
    for (int i = 0; i < 256; ++i) EXPECT_TRUE(noise[i] == 0 || noise[i] == -1);

    Word16 h[64], x[64];
    rng.fill(h, 64);
    rng.fill(x, 64);
    std::vector<Word16> x0(x, x + 64);
    amr_wb_Vec_Modify_Excitation(h, x, 9000, 55);
    EXPECT_EQ(x[0], add(mult(h[0], 9000), 55));
    for (int i = 1; i < 64; ++i) EXPECT_EQ(x[i], add(mult(h[i], 9000), x0[i - 1]));
}

// Decoder excitation and comfort-noise kernels, the two voice activity
// detectors' kernels and the real FFT.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"
#include "amrefr_test_util.h"

using namespace amrefr_op;
using amrefr_test::Buf;
using amrefr_test::Rng;

TEST(AmrnbExcitation, TotalExcitationSharpeningAndDispersion) {
    Rng rng(41);
    for (int rep = 0; rep < 3000; ++rep) {
        Word16 exc[40], code[40], ref[40];
        rng.fill_sat(exc, 40, 32767);
        rng.fill_sat(code, 40, 32767);
        std::memcpy(ref, exc, sizeof(exc));
        Word16 gp = rng.w16(), gc = rng.w16(), sel = static_cast<Word16>(rng.uniform(0, 3));
        amrefr_TotalExc(exc, code, gp, gc, sel);
        for (int i = 0; i < 40; ++i) {
            Word32 L = L_mac(L_mult(ref[i], gp), code[i], gc);
            ASSERT_EQ(exc[i], round16(L_shl(L, sel == 1 ? 1 : 2)));
        }
        Word16 out[40];
        amrefr_PitchSharp(ref, out, gp, gc);
        for (int i = 0; i < 40; ++i) ASSERT_EQ(out[i], mult_r(mult(ref[i], gp), gc));
        Word16 inno[40], h[40], before[40];
        rng.fill_sat(inno, 40, 32767);
        rng.fill_sat(h, 40, 32767);
        std::memcpy(before, inno, sizeof(inno));
        amrefr_ph_disp_Convolve(h, inno, gc);
        for (int j = 0; j < 40; ++j) ASSERT_EQ(inno[j], add(before[j], mult(h[j], gc)));
    }
    // Saturation before the shift: the total excitation clips at both ends.
    Word16 e[40], c[40];
    for (int i = 0; i < 40; ++i) e[i] = c[i] = i % 2 ? -32768 : 32767;
    amrefr_TotalExc(e, c, 32767, 32767, 1);
    EXPECT_EQ(e[0], 32767);
    EXPECT_EQ(e[1], -32768);
}

TEST(AmrnbExcitation, MemoryUpdateWrapsWhereTheStandardSaturates) {
    Rng rng(42);
    for (int rep = 0; rep < 2000; ++rep) {
        Word16 syn[10], sp[10], y1[10], y2[10], xn[10], me[10], mw[10];
        rng.fill(syn, 10, 8000);
        rng.fill(sp, 10, 8000);
        rng.fill(y1, 10, 4000);
        rng.fill(y2, 10, 4000);
        rng.fill(xn, 10, 4000);
        Word16 gp = static_cast<Word16>(rng.uniform(0, 19661)), gc = static_cast<Word16>(rng.uniform(0, 3000));
        Word16 ks = rep % 2 ? 4 : 2;
        amrefr_sfPostProc_Mem(me, syn, mw, sp, y1, y2, xn, gp, gc, ks);
        for (int j = 0; j < 10; ++j) {
            ASSERT_EQ(me[j], sub(sp[j], syn[j]));
            Word16 temp = extract_h(L_shl(L_mult(y1[j], gp), 1));
            Word16 k = extract_h(L_shl(L_mult(y2[j], gc), ks));
            Word32 kl = L_shl(L_mult(y2[j], gc), ks);
            if (kl != MAX_32 && kl != MIN_32) {
                ASSERT_EQ(mw[j], sub(xn[j], add(temp, k)));
            }
        }
    }
    Word16 syn[10] = {-20000}, sp[10] = {20000}, z[10] = {}, me[10], mw[10];
    amrefr_sfPostProc_Mem(me, syn, mw, sp, z, z, z, 0, 0, 2);
    EXPECT_EQ(me[0], wrap16(40000));  // the standard would give 32767
}

namespace {

Word16 lsp_diff_model(const Word16* lsp, const Word16* aver) {
    Word16 diff = 0;
    for (int i = 0; i < 10; ++i) {
        Word16 t1 = abs_s(sub(aver[i], lsp[i]));
        Word16 s1 = sub(norm_s(t1), 1);
        t1 = shl(t1, s1);
        Word16 s2 = norm_s(aver[i]);
        Word16 t2 = shl(aver[i], s2);
        Word16 t = div_s(t1, t2);
        Word16 sh = sub(add(2, s1), s2);
        t = sh >= 0 ? shr(t, sh) : shl(t, negate(sh));
        diff = add(diff, t);
    }
    return diff;
}

Word16 lsp_diff(const Word16* lsp, const Word16* aver) {
    Word16 t1[12], t2[12], sh[12], q[12];
    amrefr_ComputeLspDiff_Loop1(lsp, aver, t1, t2, sh);
    amrefr_ComputeLspDiff_Loop2(t1, t2, q);
    EXPECT_EQ(q[10], 0);
    EXPECT_EQ(q[11], 0);
    return amrefr_ComputeLspDiff_Loop3(q, sh);
}

}  // namespace

TEST(AmrnbExcitation, LspDifferenceMeasure) {
    Rng rng(43);
    for (int rep = 0; rep < 5000; ++rep) {
        Word16 lsp[12] = {}, aver[12] = {};
        for (int i = 0; i < 10; ++i) {
            aver[i] = static_cast<Word16>(rng.uniform(500, 32000));
            lsp[i] = static_cast<Word16>(std::clamp(aver[i] + rng.uniform(-3000, 3000), 1, 32767));
        }
        ASSERT_EQ(lsp_diff(lsp, aver), lsp_diff_model(lsp, aver)) << rep;
    }
    Word16 same[12] = {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000};
    EXPECT_EQ(lsp_diff(same, same), 0);
    Word16 lsp[12] = {}, aver[12] = {}, t1[12], t2[12], sh[12], q[12];
    lsp[0] = 1000;  // aver 0 with a difference
    aver[1] = -8000;
    lsp[1] = -4000;
    amrefr_ComputeLspDiff_Loop1(lsp, aver, t1, t2, sh);
    amrefr_ComputeLspDiff_Loop2(t1, t2, q);
    EXPECT_EQ(q[0], 32767);
    EXPECT_EQ(q[2], 0);
    EXPECT_LT(q[1], 0);
}

TEST(AmrnbComfortNoise, ShiftRegisterAndRandomInnovation) {
    Word32 reg = 0;
    EXPECT_EQ(amrefr_pseudonoise(&reg, 7), 0);
    EXPECT_EQ(reg, 0);
    reg = 1;
    EXPECT_EQ(amrefr_pseudonoise(&reg, 1), 1);
    EXPECT_EQ(reg, 1 << 30);
    // The standard's generator, bit by bit.
    Rng rng(44);
    for (int rep = 0; rep < 1000; ++rep) {
        Word32 a = rng.uniform(1, 0x7FFFFFFF), b = a;
        Word16 n = static_cast<Word16>(rng.uniform(1, 15));
        Word16 out = amrefr_pseudonoise(&a, n), want = 0;
        for (int i = 0; i < n; ++i) {
            Word16 bit = static_cast<Word16>(b & 1);
            Word32 fb = (b & 1) ^ ((b >> 28) & 1);
            b >>= 1;
            if (fb) b |= 0x40000000;
            want = static_cast<Word16>((want << 1) | bit);
        }
        ASSERT_EQ(out, want);
        ASSERT_EQ(a, b);
        Word16 cod[40];
        Word32 seed = a, check = a;
        amrefr_build_CN_code(&seed, cod);
        int nonzero = 0;
        for (int k = 0; k < 10; ++k) {
            Word16 i = amrefr_pseudonoise(&check, 2);
            Word16 s = amrefr_pseudonoise(&check, 1);
            ASSERT_EQ(cod[10 * i + k], s ? 4096 : -4096);
        }
        for (Word16 v : cod) nonzero += v != 0;
        ASSERT_EQ(nonzero, 10);
        ASSERT_EQ(seed, check);
    }
}

TEST(AmrnbExcitation, ModifiedExcitationMovesUp) {
    Rng rng(45);
    Word16 h[40], excf[40], out[40];
    rng.fill_sat(h, 40, 32767);
    rng.fill_sat(excf, 40, 32767);
    out[0] = 123;
    amrefr_Vec_Modify_Excitation(h, excf, 0, 1, out);
    for (int j = 1; j < 40; ++j) EXPECT_EQ(out[j], excf[j - 1]);
    EXPECT_EQ(out[0], 123);
    Word16 copy[40];
    std::memcpy(copy, excf, sizeof(excf));
    amrefr_Vec_Modify_Excitation(h, excf, -7000, 3, excf);  // in place
    for (int j = 1; j < 40; ++j) EXPECT_EQ(excf[j], add(extract_h(L_shl(L_mult(h[j], -7000), 3)), copy[j - 1]));
}

namespace {

// The standard's filter bank and level calculation (saturating halving sums,
// saturating magnitudes).
struct Vad1Model {
    Word16 a5[3][2] = {}, a3[5] = {}, sub_level[9] = {};

    static void f5(Word16& in0, Word16& in1, Word16* d) {
        Word16 t0 = sub(in0, mult(21955, d[0]));
        Word16 t1 = add(d[0], mult(21955, t0));
        d[0] = t0;
        t0 = sub(in1, mult(6390, d[1]));
        Word16 t2 = add(d[1], mult(6390, t0));
        d[1] = t0;
        in0 = shr(add(t1, t2), 1);
        in1 = shr(sub(t1, t2), 1);
    }
    static void f3(Word16& in0, Word16& in1, Word16& d) {
        Word16 t1 = sub(in1, mult(13363, d));
        Word16 t2 = add(d, mult(13363, t1));
        d = t1;
        in1 = shr(sub(in0, t2), 1);
        in0 = shr(add(in0, t2), 1);
    }
    Word16 level(const Word16* data, int band, int c1, int c2, int m, int a, int scale) {
        Word32 l1 = 0;
        for (int i = c1; i < c2; ++i) l1 = L_mac(l1, 1, abs_s(data[m * i + a]));
        Word32 l2 = L_add(l1, L_shl(sub_level[band], static_cast<Word16>(16 - scale)));
        sub_level[band] = extract_h(L_shl(l1, static_cast<Word16>(scale)));
        for (int i = 0; i < c1; ++i) l2 = L_mac(l2, 1, abs_s(data[m * i + a]));
        return extract_h(L_shl(l2, static_cast<Word16>(scale)));
    }
    void run(const Word16* in, Word16* lev) {
        Word16 b[160];
        Word16 d0 = a5[0][0], d1 = a5[0][1];
        for (int i = 0; i < 40; ++i) {
            Word16 t0 = sub(shr(in[4 * i], 2), mult(21955, d0));
            Word16 t1 = add(d0, mult(21955, t0));
            Word16 t3 = sub(shr(in[4 * i + 1], 2), mult(6390, d1));
            Word16 t2 = add(d1, mult(6390, t3));
            b[4 * i] = add(t1, t2);
            b[4 * i + 1] = sub(t1, t2);
            d0 = sub(shr(in[4 * i + 2], 2), mult(21955, t0));
            t1 = add(t0, mult(21955, d0));
            d1 = sub(shr(in[4 * i + 3], 2), mult(6390, t3));
            t2 = add(t3, mult(6390, d1));
            b[4 * i + 2] = add(t1, t2);
            b[4 * i + 3] = sub(t1, t2);
        }
        a5[0][0] = d0;
        a5[0][1] = d1;
        for (int i = 0; i < 40; ++i) {
            f5(b[4 * i], b[4 * i + 2], a5[1]);
            f5(b[4 * i + 1], b[4 * i + 3], a5[2]);
        }
        for (int i = 0; i < 20; ++i) {
            f3(b[8 * i], b[8 * i + 4], a3[0]);
            f3(b[8 * i + 2], b[8 * i + 6], a3[1]);
            f3(b[8 * i + 3], b[8 * i + 7], a3[4]);
        }
        for (int i = 0; i < 10; ++i) {
            f3(b[16 * i], b[16 * i + 8], a3[2]);
            f3(b[16 * i + 4], b[16 * i + 12], a3[3]);
        }
        lev[8] = level(b, 8, 32, 40, 4, 1, 15);
        const int s4[4] = {6, 2, 3, 7};
        for (int k = 4; k <= 7; ++k) lev[k] = level(b, k, 16, 20, 8, s4[k - 4], 16);
        const int s2[4] = {0, 8, 12, 4};
        for (int k = 0; k <= 3; ++k) lev[k] = level(b, k, 8, 10, 16, s2[k], 16);
    }
};

struct Vad1Kernels {
    Word16 a5[3][2] = {}, a3[5] = {}, sub_level[12] = {};
    void run(const Word16* in, Word16* lev) {
        Buf<Word16> b(162);
        amrefr_first_filter_stage(in, b.get(), a5[0]);
        amrefr_filter5_loop(b.get(), a5[1]);
        amrefr_filter3_loop1(b.get(), a3);
        amrefr_filter3_loop2(b.get(), &a3[2]);
        lev[8] = amrefr_level_calculation8(b.get(), &sub_level[8]);
        const Word16 s4[4] = {6, 2, 3, 7};
        for (int k = 7; k >= 4; --k) lev[k] = amrefr_level_calculation4(b.get(), &sub_level[k], s4[k - 4]);
        const Word16 s2[4] = {0, 8, 12, 4};
        for (int k = 3; k >= 0; --k) lev[k] = amrefr_level_calculation2(b.get(), &sub_level[k], s2[k]);
    }
};

}  // namespace

TEST(AmrnbVad1, FilterBankAndLevelsMatchTheStandardOnSpeech) {
    Rng rng(46);
    Vad1Model model;
    Vad1Kernels kern;
    for (int f = 0; f < 200; ++f) {
        Word16 in[160];
        int amp = f % 10 == 9 ? 32767 : (f % 3 ? 3000 : 200);
        for (int i = 0; i < 160; ++i)
            in[i] = sat16(std::lround(amp * 0.6 * std::sin(i * 0.07 * (1 + f % 7)) + rng.uniform(-amp / 3, amp / 3)));
        Word16 lm[9], lk[9];
        model.run(in, lm);
        kern.run(in, lk);
        for (int k = 0; k < 9; ++k) ASSERT_EQ(lk[k], lm[k]) << "frame " << f << " band " << k;
        for (int k = 0; k < 9; ++k) ASSERT_EQ(kern.sub_level[k], model.sub_level[k]);
        ASSERT_EQ(std::memcmp(kern.a3, model.a3, sizeof(model.a3)), 0);
    }
}

TEST(AmrnbVad1, KernelEdgeCases) {
    // Zero frame, zero memories: each level returns the stored tail and stores 0.
    Buf<Word16> b(162);
    Word16 sub[12] = {11, 12, 13, 14, 15, 16, 17, 18, 19};
    EXPECT_EQ(amrefr_level_calculation2(b.get(), &sub[0], 0), 11);
    EXPECT_EQ(sub[0], 0);
    EXPECT_EQ(amrefr_level_calculation8(b.get(), &sub[8]), 19);
    // −32768 counts 32768; a large tail is stored as 32767 and drives the next level.
    b[1 + 4 * 39] = -32768;
    amrefr_level_calculation8(b.get(), &sub[8]);
    EXPECT_EQ(sub[8], 32767);
    Buf<Word16> z(162);
    EXPECT_EQ(amrefr_level_calculation8(z.get(), &sub[8]), 32767);
    b[1 + 4 * 39] = 0;
    b[0] = -32768;
    sub[0] = 0;
    EXPECT_EQ(amrefr_level_calculation2(b.get(), &sub[0], 0), 32767);  // 2·32768 saturates the level

    // Halving sections do not saturate before halving.
    Buf<Word16> buf(160);
    Word16 data5[4] = {};
    amrefr_filter5_loop(buf.get(), data5);
    Word16 d3[5] = {};
    buf[0] = 30000;
    amrefr_filter3_loop1(buf.get(), d3);
    EXPECT_EQ(buf[0], 15000);

    // Stationarity ratio.
    Word16 lev[9], ave[12];
    for (int k = 0; k < 9; ++k) lev[k] = ave[k] = 1000;
    Word16 stat;
    amrefr_update_cntrl_else(lev, ave, &stat);
    EXPECT_EQ(stat, 576);
    lev[0] = 32767;
    ave[0] = 184;
    amrefr_update_cntrl_else(lev, ave, &stat);
    EXPECT_EQ(stat, 512 + 11396);
    for (int k = 0; k < 9; ++k) lev[k] = 32767, ave[k] = 184;
    amrefr_update_cntrl_else(lev, ave, &stat);
    EXPECT_EQ(stat, 32767);

    // Threshold.
    Word16 bckr[12], level[9] = {}, snr, noise;
    for (Word16& v : bckr) v = 0;
    EXPECT_EQ(amrefr_Gen_vad_thr(bckr, level, &snr, &noise), 1260);
    for (int k = 0; k < 9; ++k) bckr[k] = 40;
    level[3] = 32767;
    amrefr_Gen_vad_thr(bckr, level, &snr, &noise);
    EXPECT_EQ(snr, 3640);
    for (int k = 0; k < 9; ++k) bckr[k] = 0;
    bckr[0] = 6289 * 8;  // noise level 6289
    bckr[0] = 16000;
    bckr[1] = 16000;
    bckr[2] = 18312;
    Word16 thr = amrefr_Gen_vad_thr(bckr, level, &snr, &noise);
    EXPECT_EQ(noise, 6289);
    EXPECT_EQ(thr, 721);
    bckr[2] = 18320;
    EXPECT_EQ(amrefr_Gen_vad_thr(bckr, level, &snr, &noise), 720);

    // Noise update stays within its limits.
    Rng rng(47);
    for (int rep = 0; rep < 1000; ++rep) {
        Word16 old[12], bk[12];
        for (int k = 0; k < 9; ++k) old[k] = static_cast<Word16>(rng.uniform(0, 32767)), bk[k] = static_cast<Word16>(rng.uniform(40, 16000));
        Word16 alphas[2] = {1638, 2097};
        amrefr_noise_est_loop(old, bk, alphas, 2);
        for (int k = 0; k < 9; ++k) ASSERT_TRUE(bk[k] >= 40 && bk[k] <= 16000);
    }
    Word16 same[12] = {500, 500, 500, 500, 500, 500, 500, 500, 500}, bk2[12] = {500, 500, 500, 500, 500, 500, 500, 500, 500};
    Word16 alphas[2] = {491, 1867};
    amrefr_noise_est_loop(same, bk2, alphas, 2);
    EXPECT_EQ(bk2[0], 502);
    Word16 av[12] = {}, lv[12];
    for (int k = 0; k < 12; ++k) lv[k] = static_cast<Word16>(1000 * k);
    amrefr_update_cntrl_loop(av, lv, 3276);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(av[k], mult_r(3276, lv[k]));
}

namespace {

void bit_reverse(Word16* f) {
    for (int i = 0, j = 0; i < 64; ++i) {
        if (j > i) {
            std::swap(f[2 * i], f[2 * j]);
            std::swap(f[2 * i + 1], f[2 * j + 1]);
        }
        int m = 32;
        while (m >= 1 && (j & m)) {
            j ^= m;
            m >>= 1;
        }
        j |= m;
    }
}

void transform(Word16* f) {
    bit_reverse(f);
    for (int i = 1; i <= 4; ++i) {
        int jj = 1 << i, kk = 2 * jj;
        for (int j = 0; j < jj; j += 2) amrefr_c_fft_InitialStages(f, static_cast<Word16>(j), static_cast<Word16>(kk),
                                                                   static_cast<Word16>(jj), static_cast<Word16>(j << (7 - i)));
    }
    amrefr_c_fft_PenultimateStage(f);
    amrefr_c_fft_LastStage(f);
    Word16 f0 = f[0], f1 = f[1];
    f[0] = add(f0, f1);
    f[1] = sub(f0, f1);
    amrefr_r_fft_loop(f);
}

}  // namespace

TEST(AmrnbVad2, RealFftMatchesTheDiscreteTransform) {
    Word16 f[128] = {6400};
    transform(f);
    EXPECT_EQ(f[0], 100);
    EXPECT_EQ(f[1], 100);
    for (int k = 2; k < 128; k += 2) EXPECT_EQ(f[k], 100) << k;
    for (int k = 3; k < 128; k += 2) EXPECT_EQ(f[k], 0) << k;

    Rng rng(48);
    for (int rep = 0; rep < 200; ++rep) {
        Word16 x[128];
        rng.fill(x, 128, 8000);
        Word16 g[128];
        std::memcpy(g, x, sizeof(x));
        transform(g);
        // Bin k of the 128-point real transform, divided by 64.
        for (int k = 1; k < 64; ++k) {
            std::complex<double> s = 0;
            for (int n = 0; n < 128; ++n) s += double(x[n]) * std::polar(1.0, -2 * M_PI * k * n / 128);
            s /= 64.0;
            ASSERT_NEAR(g[2 * k], s.real(), 6) << k;
            ASSERT_NEAR(g[2 * k + 1], s.imag(), 6) << k;
        }
        double dc = 0, ny = 0;
        for (int n = 0; n < 128; ++n) dc += x[n], ny += (n % 2 ? -1 : 1) * x[n];
        ASSERT_NEAR(g[0], dc / 64, 6);
        ASSERT_NEAR(g[1], ny / 64, 6);
    }
}

TEST(AmrnbVad2, NormalisationPreEmphasisAndChannelEnergies) {
    Word16 in[96] = {}, out[80];
    EXPECT_EQ(amrefr_block_norm(in, out, 2), 14);
    for (Word16 v : out) EXPECT_EQ(v, 0);
    in[5] = 4096;
    EXPECT_EQ(amrefr_block_norm(in, out, 2), 0);
    in[5] = -32768;
    in[6] = 100;
    EXPECT_EQ(amrefr_block_norm(in, out, 2), -2);
    EXPECT_EQ(out[6], 25);
    EXPECT_EQ(amrefr_block_norm(in, in, 2), -2);  // in place
    EXPECT_EQ(in[6], 25);

    Word16 buf[128], mem = 1000, last = 3, x[80];
    for (int i = 0; i < 80; ++i) x[i] = static_cast<Word16>(10 * i);
    amrefr_vad2_pre_emp(buf, &mem, &last, x, 1);
    EXPECT_EQ(buf[24], add(0, mult(shr_r(1000, 2), -26214)));
    EXPECT_EQ(buf[25], add(10, mult(0, -26214)));
    EXPECT_EQ(buf[26], add(20, mult(10, -26214)));
    EXPECT_EQ(mem, 790);
    EXPECT_EQ(last, 1);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(buf[i], 0);
    for (int i = 104; i < 128; ++i) EXPECT_EQ(buf[i], 0);
    mem = 20000;
    last = 1;
    amrefr_vad2_pre_emp(buf, &mem, &last, x, 3);
    EXPECT_EQ(buf[24], mult(32767, -26214));  // memory shifted up by 2 with saturation

    Word16 zero[128] = {};
    Word32 enrg[16];
    for (Word32& e : enrg) e = 100000;
    amrefr_vad2_energy_1_loop(zero, enrg, 32, 4, 16384, 16384);
    for (Word32 e : enrg) EXPECT_EQ(e, 50000);
    for (int r = 0; r < 30; ++r) amrefr_vad2_energy_1_loop(zero, enrg, 32, 4, 16384, 16384);
    for (Word32 e : enrg) EXPECT_EQ(e, 32);

    // SNR index: 0 dB gives metric 2, 33.375 dB and above the top index.
    Word32 noise[16], en[16];
    for (int c = 0; c < 16; ++c) noise[c] = en[c] = 512 * 100;
    Word16 db[16], snr[16];
    EXPECT_EQ(amrefr_vad2_energy_2(9, en, db, noise, snr), 16 * 2);
    en[0] = 512 * 100 * 2200;
    Word32 vm = amrefr_vad2_energy_2(9, en, db, noise, snr);
    EXPECT_GE(snr[0], 8544);
    EXPECT_EQ(vm, 15 * 2 + 50);
}

TEST(AmrnbVad2, SnrTrackingBiasAndNoiseUpdate) {
    Word16 tsnr = 1000;
    Word16 snr[16];
    for (Word16& s : snr) s = 0;
    Word16 xt = amrefr_vad2_energy_3_main(&tsnr, snr);
    EXPECT_EQ(xt, amrefr_fn10Log10(16 * amrefr_Pow2(3, 0), 7));
    Word16 var = 55, bias = 66;
    amrefr_vad2_calc_negSNRbias(0, &var, &bias);
    EXPECT_EQ(var, 55);
    EXPECT_EQ(bias, 66);
    amrefr_vad2_calc_negSNRbias(-32768, &var, &bias);
    EXPECT_EQ(var, round16(L_add(L_mult(328, 32767), L_mult(32440, 55))));
    Word16 ldb[16], edb[16];
    for (int c = 0; c < 16; ++c) ldb[c] = 32767, edb[c] = -32768;
    EXPECT_EQ(amrefr_vad2_calc_lsd_loop(ldb, edb), 32767);
    for (int c = 0; c < 16; ++c) ldb[c] = 1000, edb[c] = 2000;
    amrefr_vad2_calc_ltse_loop(ldb, edb, 29491, 3277);
    EXPECT_EQ(ldb[0], round16(L_add(L_mult(3277, 2000), L_mult(29491, 1000))));
    Word32 en[16], no[16], before[16];
    for (int c = 0; c < 16; ++c) en[c] = 0, no[c] = before[c] = 20;
    amrefr_vad2_update_cne(0, 0, en, no);
    EXPECT_EQ(std::memcmp(no, before, sizeof(no)), 0);
    amrefr_vad2_update_cne(1, 0, en, no);
    for (Word32 v : no) EXPECT_EQ(v, 32);
    Word32 tot[16];
    for (Word32& v : tot) v = 512;
    Word16 sv = 7, sb = 8, ts;
    Word16 x0 = amrefr_vad2_energy_3_init(&sv, &sb, tot, &ts);
    EXPECT_EQ(sv, 0);
    EXPECT_EQ(x0, sub(14320, amrefr_fn10Log10(16 * 512, 9)));
    EXPECT_EQ(ts, x0);
}

// Resampling, emphasis, high-pass, band filters, residual and synthesis
// kernels against plain models, and the stated departures.
#include <gtest/gtest.h>

#include <vector>

#include "amrwb_kernels.h"
#include "amrwb_table_layouts.h"
#include "amrwb_test_util.h"

using namespace amr_wb_op;
using namespace amrwb_test;

TEST(AmrwbResampling, DecimationEqualsTheStandardFilterPhases) {
    Rng rng(10);
    const Vec fir = from_phase_rows(amr_wb_fir_down, 30, 32, 120);
    for (Word16 L : {256, 12}) {
        const int span = 5 * L / 4 + 28;  // sig[-14 .. 5L/4 + 13]
        Exact<Word16> sig(span), out(L);
        rng.fill(sig.get(), span, 8000, 0);
        amr_wb_Down_samp(sig.get() + 14, out.get(), L);
        for (int j = 0; j < L; ++j) {
            int g = j / 4, p = j % 4;
            Word32 s = 0;
            for (int t = 0; t < 30; ++t)
                s = L_mac(s, sig[14 + 5 * g + p - 14 + t], static_cast<Word16>(fir[(3 - p) + 4 * t]));
            ASSERT_EQ(out[j], sat16((std::int64_t{s} + 16384) >> 15)) << j;
        }
    }
}

TEST(AmrwbResampling, OversamplingEqualsTheStandardFilterAndCopiesEveryFourthInput) {
    Rng rng(11);
    const Vec fir = fir_up_standard();
    Exact<Word16> sig(87), out(80);
    rng.fill(sig.get(), 87);
    amr_wb_Up_samp(sig.get() + 11, out.get());
    for (int g = 0; g < 16; ++g) {
        EXPECT_EQ(out[5 * g], sig[11 + 4 * g]);
        for (int k = 0; k < 4; ++k) {
            Word32 s = 0;
            for (int t = 0; t < 24; ++t) s = L_mac(s, sig[11 + 4 * g + k - 11 + t], static_cast<Word16>(fir[5 * t + k]));
            EXPECT_EQ(out[5 * g + 1 + k], sat16((std::int64_t{s} + 16384) >> 15));
        }
    }
}

TEST(AmrwbEmphasis, PreEmphasisPassesAndDeEmphasis) {
    Exact<Word16> x(269);
    EXPECT_EQ(amr_wb_Fixed_Preemph1(x.get() + 1), 0);
    for (int i = 0; i < 269; ++i) x[i] = 10000;
    Word16 mem = 0;
    amr_wb_Fixed_Preemph2(x.get() + 1, 0, &mem);
    for (int i = 1; i < 269; ++i) ASSERT_EQ(x[i], 1600);
    EXPECT_EQ(mem, 10000);

    Rng rng(12);
    rng.fill(x.get(), 269, 4000, 0);
    std::vector<Word16> in(x.get(), x.get() + 269);
    Word16 hi = amr_wb_Fixed_Preemph1(x.get() + 1);
    Word16 shift = static_cast<Word16>(std::min(8, norm_s(hi) - 1));
    amr_wb_Fixed_Preemph2(x.get() + 1, shift, &mem);
    for (int i = 1; i < 269; ++i) {
        Word32 L = L_msu(L_deposit_h(in[i]) >> 1, in[i - 1], 11141);
        ASSERT_EQ(x[i], round16(L_shl(L, shift))) << i;
    }
    EXPECT_EQ(mem, in[256]);

    // De-emphasis: the memory stands for the sample in front of the output.
    Exact<Word16> d(64), hi16(64), lo16(64), y(64);
    rng.fill(d.get(), 64);
    std::vector<Word16> din(d.get(), d.get() + 64);
    Word16 m2 = 1234;
    amr_wb_Deemph2(d.get(), 64, &m2);
    Word16 prev = 1234;
    for (int i = 0; i < 64; ++i) {
        prev = round16(L_mac(L_deposit_h(din[i]) >> 1, prev, 22282));
        ASSERT_EQ(d[i], prev);
    }
    EXPECT_EQ(m2, d[63]);
    rng.fill(hi16.get(), 64, 2000, 0);
    for (int i = 0; i < 64; ++i) lo16[i] = static_cast<Word16>(rng.uniform(0, 4095));
    Word16 m3 = -77;
    amr_wb_Deemph_32(hi16.get(), lo16.get(), y.get(), &m3);
    prev = -77;
    for (int i = 0; i < 64; ++i) {
        Word32 L = L_shl(L_mac(L_deposit_h(hi16[i]), lo16[i], 8), 3);
        prev = round16(L_shl(L_mac(L, prev, 11141), 1));
        ASSERT_EQ(y[i], prev) << i;
    }
    EXPECT_EQ(m3, y[63]);

    // Per-subframe emphasis: the memory keeps the last input, not the last output.
    Exact<Word16> e(64);
    rng.fill(e.get(), 64);
    std::vector<Word16> ein(e.get(), e.get() + 64);
    Word16 pm = 300;
    amr_wb_Preemph(e.get(), 22282, &pm);
    EXPECT_EQ(e[0], round16(L_msu(L_deposit_h(ein[0]), 300, 22282)));
    for (int i = 1; i < 64; ++i) EXPECT_EQ(e[i], round16(L_msu(L_deposit_h(ein[i]), ein[i - 1], 22282)));
    EXPECT_EQ(pm, ein[63]);
    Exact<Word16> e2(32);
    rng.fill(e2.get(), 32);
    std::vector<Word16> e2in(e2.get(), e2.get() + 32);
    pm = 0;
    amr_wb_Preemph2(e2.get(), &pm);
    for (int i = 1; i < 32; ++i) EXPECT_EQ(e2[i], round16(L_shl(L_msu(L_deposit_h(e2in[i]), e2in[i - 1], 22282), 1)));
    EXPECT_EQ(pm, e2in[31]);
}

TEST(AmrwbHighPass, FiftyHertzFeedbackSaturatesInsteadOfWrapping) {
    // y[n-1] at full scale with a full-scale feed-forward term drives the
    // 64-bit feedback sum past 32 bits after the shift.
    Word16 mem[4] = {0, 0, -1, 0x7FFF};  // y[-2] = 0, y[-1] = 0x7FFFFFFF
    Word32 y32[2] = {MAX_32, 0};
    Word16 out[2];
    amr_wb_HP50_12k8_loop2(mem, y32, out, 2);
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(mem[0], -1);  // y[0] = 0x7FFFFFFF, now the older output
    EXPECT_EQ(mem[1], 0x7FFF);

    // In range: the Part's recursion with exact products.
    Rng rng(13);
    Exact<Word16> x(66), o(64);
    rng.fill(x.get(), 66, 20000, 0);
    Exact<Word32> f(64);
    amr_wb_12k8_loop1(x.get(), amr_wb_hp50_ab + 4, f.get(), 64);
    Word16 m[4] = {0, 0, 0, 0};
    amr_wb_HP50_12k8_loop2(m, f.get(), o.get(), 64);
    std::int64_t y2 = 0, y1 = 0;
    for (int i = 0; i < 64; ++i) {
        Word32 ff = L_mac(L_mac(L_mult(x[i], 4053), x[i + 1], -8106), x[i + 2], 4053);
        ASSERT_EQ(f[i], ff);
        std::int64_t acc = std::int64_t{ff} * 32768 + 0x4000 - 8021 * y2 + 16211 * y1;
        Word32 Y = L_shl(sat32(acc >> 15), 2);
        y2 = y1;
        y1 = Y;
        ASSERT_EQ(o[i], round16(L_shl(Y, 1))) << i;
    }
}

TEST(AmrwbHighPass, FourHundredHertzFeedbackInFullPrecision) {
    Rng rng(14);
    Exact<Word32> fir(64);
    for (int i = 0; i < 64; ++i) fir[i] = rng.uniform(-20000000, 20000000);
    Word16 mem[6] = {0x1234, 0x0010, -2, 0x0007, 0, 0};
    Exact<Word16> out(64);
    amr_wb_HP400_12k8_loop2(mem, nullptr, out.get(), fir.get());
    std::int64_t y2 = 0x00101234, y1 = 0x0007FFFE;
    for (int i = 0; i < 64; ++i) {
        std::int64_t A = std::int64_t{fir[i]} * 32768 + 16384 - 14160 * y2 + 29280 * y1;
        Word32 y = sat32(2 * std::int64_t{wrap32(A >> 15)});
        ASSERT_EQ(out[i], round16(y)) << i;
        y2 = y1;
        y1 = y;
    }
    EXPECT_EQ(static_cast<std::uint16_t>(mem[2]), static_cast<std::uint32_t>(y1) & 0xFFFF);
    EXPECT_EQ(mem[3], static_cast<Word16>(y1 >> 16));
}

TEST(AmrwbFilters, BandPassLowPassAndHalfBandDecimation) {
    Rng rng(15);
    Exact<Word16> s(80), mem(30), out(80);
    rng.fill(s.get(), 80);
    rng.fill(mem.get(), 30, 8000, 0);
    std::vector<Word16> buf(mem.get(), mem.get() + 30);
    for (int i = 0; i < 80; ++i) buf.push_back(static_cast<Word16>(s[i] >> 2));
    amr_wb_Filt_6k_7k(s.get(), mem.get());
    for (int n = 0; n < 80; ++n) ASSERT_EQ(s[n], round16(mac_chain(0, buf.data() + n, amr_wb_fir_6k_7k, 31)));
    for (int k = 0; k < 30; ++k) EXPECT_EQ(mem[k], buf[80 + k]);
    // Zeros after it flush exactly the filter tail.
    for (int i = 0; i < 80; ++i) s[i] = 0;
    amr_wb_Filt_6k_7k(s.get(), mem.get());
    for (int k = 0; k < 30; ++k) EXPECT_EQ(mem[k], 0);

    rng.fill(s.get(), 80);
    rng.fill(mem.get(), 30);
    std::vector<Word16> b7(mem.get(), mem.get() + 30);
    b7.insert(b7.end(), s.get(), s.get() + 80);
    amr_wb_Filt_7k(s.get(), out.get(), mem.get());
    for (int n = 0; n < 80; ++n) ASSERT_EQ(out[n], round16(mac_chain(0, b7.data() + n, amr_wb_fir_7k, 31)));
    for (int k = 0; k < 30; ++k) EXPECT_EQ(mem[k], s[50 + k]);

    Exact<Word16> x(259), d(128);
    rng.fill(x.get(), 259);
    amr_wb_LP_Decim2_Loop(d.get(), x.get());
    for (int j = 0; j < 128; ++j) ASSERT_EQ(d[j], round16(mac_chain(0, x.get() + 2 * j, amr_wb_h_fir, 5)));
}

TEST(AmrwbSynthesis, ResidualAndSynthesisInvertEachOther) {
    Rng rng(16);
    Word16 a[17] = {4096};
    for (int k = 1; k <= 16; ++k) a[k] = static_cast<Word16>(rng.uniform(-300, 300));
    Exact<Word16> x(16 + 64), r(64);
    rng.fill(x.get(), 80, 3000, 0);
    amr_wb_Residu(a, x.get() + 16, r.get(), 64);
    for (int n = 0; n < 64; ++n) {
        Word32 s = 0;
        for (int k = 0; k <= 16; ++k) s = L_mac(s, a[k], x[16 + n - k]);
        ASSERT_EQ(r[n], round16(L_shl(s, 4))) << n;
    }
    // With all a[j] = 0 the synthesis returns its input halved with
    // rounding: the input term is x·2^12 against the output's 2^13.
    Word16 flat[17] = {4096};
    Exact<Word16> y(16 + 64);
    for (int i = 0; i < 64; ++i) y[16 + i] = x[16 + i];
    amr_wb_Syn_filt_M_inplace(flat, y.get() + 16, y.get() + 16, 64);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(y[16 + i], (x[16 + i] + 1) >> 1);
    // Random filter in place against the sequential model.
    Exact<Word16> z(16 + 64);
    for (int i = 0; i < 80; ++i) z[i] = x[i];
    amr_wb_Syn_filt_M_inplace(a, z.get() + 16, z.get() + 16, 64);
    std::vector<Word16> m(x.get(), x.get() + 80);
    for (int n = 16; n < 80; ++n) {
        Word32 L = L_mult(m[n], 2048);
        for (int j = 1; j <= 16; ++j) L = L_msu(L, a[j], m[n - j]);
        m[n] = round16(L_shl(L, 3));
        ASSERT_EQ(z[n], m[n]) << n;
    }
}

TEST(AmrwbSynthesis, LaneSumsAreExactAndTheFinalShiftOfSynFilt32Wraps) {
    // The reference's chain saturates after the first feedback term; the
    // lanes add exactly.
    Word16 a[17] = {4096, -32768, 32767};
    Word16 y[16 + 4] = {};
    y[15] = 32767;  // y[-1]
    y[14] = 32767;  // y[-2]
    Word16 x[4] = {32767, 0, 0, 0};
    amr_wb_Syn_filt_M_inplace(a, x, y + 16, 4);
    EXPECT_EQ(y[16], 16391);  // (134279166 + 4096) >> 13

    // L = 0x7FFF0000 shifted left by 3 keeps its low 32 bits.
    Word16 a32[17] = {4096, -32768};
    Word16 hi[16 + 64] = {}, lo[16 + 64] = {}, exc[64] = {};
    hi[15] = 32767;
    amr_wb_Syn_filt_32(a32, exc, 0, hi + 16, lo + 16);
    EXPECT_EQ(hi[16], -8);
    EXPECT_EQ(lo[16], 0);
    // With Qnew = 0 the excitation enters divided by 16 (a0 = 256).
    Word16 hz[16 + 64] = {}, lz[16 + 64] = {}, e[64] = {1000};
    Word16 one[17] = {4096};
    amr_wb_Syn_filt_32(one, e, 0, hz + 16, lz + 16);
    Word32 L = L_mult(1000, 256) << 3;
    EXPECT_EQ(hz[16], static_cast<Word16>(L >> 16));
    EXPECT_EQ(lz[16], static_cast<Word16>((L >> 4) & 0xFFF));
}

TEST(AmrwbSynthesis, ImpulseResponseAndTargetUpdate) {
    Rng rng(17);
    Word16 a[17] = {4096};
    for (int k = 1; k <= 16; ++k) a[k] = static_cast<Word16>(rng.uniform(-200, 200));
    Exact<Word16> w(64), h(64);
    rng.fill(w.get(), 17, 4096, 0);
    amr_wb_Imp_Resp(a, w.get(), h.get());
    std::vector<Word16> m(16, 0);
    for (int n = 0; n < 64; ++n) {
        std::int64_t L = std::int64_t{w[n]} * 32768;
        for (int j = 1; j <= 16; ++j) L -= L_mult(a[j], m[16 + n - j]);
        m.push_back(sat16((L + 4096) >> 13));
        ASSERT_EQ(h[n], m.back()) << n;
    }
    Exact<Word16> x(64), y(64), x2(64);
    rng.fill(x.get(), 64);
    rng.fill(y.get(), 64);
    amr_wb_Updt_tar(x.get(), x2.get(), y.get(), 16384);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(x2[i], extract_h(L_shl(L_msu(L_mult(x[i], 16384), y[i], 16384), 1))) << i;
}

// Target correlation, convolution, autocorrelation, gain control, the
// Chebyshev evaluation and the serial conversion against plain models.
#include <gtest/gtest.h>

#include <vector>

#include "amrwb_kernels.h"
#include "amrwb_tables.h"
#include "amrwb_test_util.h"

using namespace amr_wb_op;
using namespace amrwb_test;

TEST(AmrwbCorrelation, CorHxEqualsTheBlockFormOverZeroPaddedTarget) {
    Rng rng(1);
    for (int trial = 0; trial < 50; ++trial) {
        Exact<Word16> h(64), x(64);
        rng.fill(h.get(), 64, trial < 25 ? 32767 : 4000);
        rng.fill(x.get(), 64, trial < 25 ? 32767 : 4000);
        Exact<Word32> y(64);
        amr_wb_cor_h_x_MainLoop(h.get(), x.get(), y.get());
        // Outputs 16m + 4q + k run over t = 0..63 - 16m of the padded target.
        Word16 x80[80] = {};
        for (int i = 0; i < 64; ++i) x80[i] = x[i];
        for (int m = 0; m < 4; ++m)
            for (int j = 16 * m; j < 16 * m + 16; ++j)
                ASSERT_EQ(y[j], mac_chain(1, x80 + j, h.get(), 64 - 16 * m)) << j;
        EXPECT_EQ(y[63], L_mac(1, x[63], h[0]));

        Word32 max[4];
        amr_wb_cor_h_x_Loop1(y.get(), max);
        for (int i = 0; i < 64; ++i) EXPECT_LE(L_abs(y[i]), max[i % 4]);
        Exact<Word16> dn(64);
        amr_wb_cor_h_x_Loop2(y.get(), dn.get(), -3);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(dn[i], round16(y[i] >> 3));
        amr_wb_cor_h_x_Loop2(y.get(), dn.get(), 31);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(dn[i], y[i] > 0 ? 32767 : (y[i] < 0 ? -32768 : 0));
    }
}

TEST(AmrwbCorrelation, ConvolutionWithReversedResponse) {
    Rng rng(2);
    Exact<Word16> x(64), hrev(67), y(64);
    Word16 h[64];
    rng.fill(x.get(), 64);
    rng.fill(h, 64);
    for (int k = 0; k < 64; ++k) hrev[63 - k] = h[k];
    amr_wb_ConvolveFwdH(x.get(), hrev.get(), y.get());
    for (int n = 0; n < 64; ++n) {
        Word32 s = 0;
        for (int i = 0; i <= n; ++i) s = L_mac(s, x[i], h[n - i]);
        EXPECT_EQ(y[n], round16(s)) << n;
    }
    // A non-zero hrev[64] adds x[n+1]·hrev[64] wherever n + 1 is in n's block.
    rng.fill(x.get(), 64, 100, 0);
    rng.fill(h, 64, 100, 0);
    for (int k = 0; k < 64; ++k) hrev[63 - k] = h[k];
    hrev[64] = 1000;
    amr_wb_ConvolveFwdH(x.get(), hrev.get(), y.get());
    for (int n = 0; n < 64; ++n) {
        Word32 s = 0;
        for (int i = 0; i <= n; ++i) s = L_mac(s, x[i], h[n - i]);
        if (n % 4 != 3) s = L_mac(s, x[n + 1], 1000);
        EXPECT_EQ(y[n], round16(s)) << n;
    }
}

TEST(AmrwbAutocorrelation, WindowEnergyAndLags) {
    Rng rng(3);
    Exact<Word16> x(384), y(384);
    rng.fill(x.get(), 384);
    amr_wb_AutorCorr_window(x.get(), y.get());
    for (int i = 0; i < 384; ++i) ASSERT_EQ(y[i], mult_r(x[i], amr_wb_window[i]));
    // Non-negative terms: the energy is the clipped exact sum from 2^20.
    std::int64_t e = 1 << 20;
    for (int i = 0; i < 384; ++i) e += L_mult(y[i], y[i]) >> 8;
    EXPECT_EQ(amr_wb_Autocorr_energy(y.get()), sat32(e));
    Exact<Word16> zero(384);
    EXPECT_EQ(amr_wb_Autocorr_energy(zero.get()), 1 << 20);

    for (Word16 norm : {0, 3, 20}) {
        rng.fill(y.get(), 384, norm == 0 ? 2000 : 32767);
        Exact<Word32> r(17);
        r[0] = 12345;
        amr_wb_ACF_Loop(y.get(), r.get(), norm);
        EXPECT_EQ(r[0], 12345);
        for (int i = 1; i <= 16; ++i) EXPECT_EQ(r[i], L_shl(lane_sum(y.get(), y.get() + i, 384 - i), norm)) << i;
    }
}

TEST(AmrwbAutocorrelation, GainControlLoops) {
    Rng rng(4);
    Exact<Word16> x(64);
    rng.fill(x.get(), 64);
    std::int64_t e = 0;
    for (int i = 0; i < 64; ++i) e += L_mult(static_cast<Word16>(x[i] >> 2), static_cast<Word16>(x[i] >> 2));
    EXPECT_EQ(amr_wb_agc2_loop1(x.get()), sat32(e));
    std::vector<Word16> orig(x.get(), x.get() + 64);
    for (Word16 g0 : {0, 8192, 16384, 5000}) {
        for (int i = 0; i < 64; ++i) x[i] = orig[i];
        amr_wb_agc2_loop(x.get(), g0);
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(x[i], extract_h(L_shl(L_mult(orig[i], g0), 2))) << g0 << " " << i;
    }
}

namespace {
// The kernel's steps written out with 64-bit products.
Word16 cheb_model(Word16 x, const Word32* f, int n) {
    auto P = [&](Word32 b) { return 2 * ((std::int64_t{b} * x) >> 16); };
    Word32 b1 = sat32(std::int64_t{sat32(2 * P(f[0]))} + f[1]);
    Word32 h = f[0] >> 1;
    for (int k = 2; k < n; ++k) {
        Word32 t = sat32(P(b1) - h);
        h = b1 >> 1;
        b1 = sat32(2 * std::int64_t{sat32(std::int64_t{t} + f[k])});
    }
    Word32 t = sat32(2 * std::int64_t{sat32(((std::int64_t{b1} * x) >> 16) - h)});
    t = sat32(std::int64_t{t} + f[n]);
    Word16 c = sat16(t >> 10);
    return c == -32768 ? -32767 : c;
}
}  // namespace

TEST(AmrwbChebyshev, EqualsItsStepsAndNeverReturnsMinus32768) {
    Rng rng(5);
    for (int trial = 0; trial < 2000; ++trial) {
        int n = trial % 2 ? 8 : 7;
        Word32 f[9];
        Word16 c[9];
        for (int k = 0; k <= n; ++k) {
            c[k] = rng.word(trial < 1000 ? 32767 : 3000, 8);
            f[k] = std::int32_t{c[k]} * (k < 2 ? 8192 : 4096);
        }
        Word16 x = rng.word();
        Word16 v = amr_wb_Chebps2(x, f, static_cast<Word16>(n));
        ASSERT_EQ(v, cheb_model(x, f, n));
        ASSERT_NE(v, -32768);
    }
}

namespace {
// Bit widths of the serial parameters of each mode, VAD flag first (mode 9 = SID).
std::vector<int> serial_widths(int mode) {
    if (mode == 9) return {6, 6, 6, 5, 5, 6, 1};
    std::vector<int> w = {1};
    if (mode == 0)
        w.insert(w.end(), {8, 8, 7, 7, 6});
    else
        w.insert(w.end(), {8, 8, 6, 7, 7, 5, 5});
    const std::vector<std::vector<int>> cb = {{12},
                                              {5, 5, 5, 5},
                                              {9, 9, 9, 9},
                                              {13, 13, 9, 9},
                                              {13, 13, 13, 13},
                                              {2, 2, 2, 2, 14, 14, 14, 14},
                                              {10, 10, 2, 2, 10, 10, 14, 14},
                                              {11, 11, 11, 11, 11, 11, 11, 11},
                                              {11, 11, 11, 11, 11, 11, 11, 11}};
    for (int sf = 0; sf < 4; ++sf) {
        if (mode == 0)
            w.push_back(sf == 0 ? 8 : 5);
        else if (mode == 1)
            w.push_back(sf % 2 == 0 ? 8 : 5);
        else
            w.push_back(sf % 2 == 0 ? 9 : 6);
        if (mode >= 2) w.push_back(1);
        w.insert(w.end(), cb[mode].begin(), cb[mode].end());
        w.push_back(mode <= 1 ? 6 : 7);
        if (mode == 8) w.push_back(4);
    }
    return w;
}

Word16 read_fixed(int width, const Word16** p) {
    switch (width) {
        case 1: return amr_wb_Serial_parm1(p);
        case 4: return amr_wb_Serial_parm4(p);
        case 5: return amr_wb_Serial_parm5(p);
        case 6: return amr_wb_Serial_parm6(p);
        case 8: return amr_wb_Serial_parm8(p);
        case 9: return amr_wb_Serial_parm9(p);
        case 12: return amr_wb_Serial_parm12(p);
        default: return amr_wb_Serial_parm(static_cast<Word16>(width), p);
    }
}
}  // namespace

TEST(AmrwbSerial, RandomParameterSetsOfEveryModeRoundTrip) {
    Rng rng(6);
    for (int mode = 0; mode <= 9; ++mode) {
        std::vector<int> w = serial_widths(mode);
        int total = 0;
        for (int b : w) total += b;
        ASSERT_EQ(total, amr_wb_nb_of_bits[mode]) << "mode " << mode;
        for (int trial = 0; trial < 20; ++trial) {
            Exact<Word16> bits(total);
            std::vector<Word16> prm;
            Word16* out = bits.get();
            for (int b : w) {
                // Values wider than the field: only the low bits travel.
                prm.push_back(rng.word());
                amr_wb_Parm_serial(prm.back(), static_cast<Word16>(b), &out);
            }
            ASSERT_EQ(out, bits.get() + total);
            for (int i = 0; i < total; ++i) ASSERT_TRUE(bits[i] == 127 || bits[i] == -127);
            const Word16* in = bits.get();
            const Word16* generic = bits.get();
            for (std::size_t k = 0; k < w.size(); ++k) {
                Word16 expect = static_cast<Word16>(prm[k] & ((1 << w[k]) - 1));
                EXPECT_EQ(read_fixed(w[k], &in), expect) << mode << " field " << k;
                EXPECT_EQ(amr_wb_Serial_parm(static_cast<Word16>(w[k]), &generic), expect);
            }
            EXPECT_EQ(in, bits.get() + total);
        }
    }
}

TEST(AmrwbSerial, BitValuesAndCounts) {
    Word16 buf[16];
    Word16* p = buf;
    amr_wb_Parm_serial(5, 3, &p);
    EXPECT_EQ(p, buf + 3);
    EXPECT_EQ(buf[0], 127);
    EXPECT_EQ(buf[1], -127);
    EXPECT_EQ(buf[2], 127);
    amr_wb_Parm_serial(7, 0, &p);
    EXPECT_EQ(p, buf + 3);
    const Word16* q = buf;
    EXPECT_EQ(amr_wb_Serial_parm(3, &q), 5);
    EXPECT_EQ(amr_wb_Serial_parm(0, &q), 0);
    EXPECT_EQ(q, buf + 3);
    // Any non-negative word reads as a 1 bit.
    const Word16 soft[4] = {0, -1, 3, -127};
    q = soft;
    EXPECT_EQ(amr_wb_Serial_parm4(&q), 0b1010);
    Word16 all[15];
    p = all;
    amr_wb_Parm_serial(-1, 15, &p);
    q = all;
    EXPECT_EQ(amr_wb_Serial_parm15(&q), 0x7FFF);
}

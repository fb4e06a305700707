// Arithmetic primitives, serial bit conversion and the vector utilities.
#include <gtest/gtest.h>

#include "amrefr_basic_op.h"
#include "amrefr_frame_format.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"
#include "amrefr_test_util.h"

using namespace amrefr_op;
using amrefr_test::Buf;
using amrefr_test::Rng;

namespace {

// The standard's 15-step long division.
Word16 long_division(Word16 num, Word16 den) {
    if (num == den) return 32767;
    Word16 out = 0;
    Word32 L_num = num, L_den = den;
    for (int i = 0; i < 15; ++i) {
        out = static_cast<Word16>(out << 1);
        L_num <<= 1;
        if (L_num >= L_den) {
            L_num -= L_den;
            ++out;
        }
    }
    return out;
}

}  // namespace

TEST(AmrnbArith, DivisionIsTheLongDivisionAndDefinedOutsideItsDomain) {
    Rng rng(1);
    for (int n = 0; n < 200000; ++n) {
        Word16 den = static_cast<Word16>(rng.uniform(1, 32767));
        Word16 num = static_cast<Word16>(rng.uniform(0, den));
        ASSERT_EQ(amrefr_div_s(num, den), long_division(num, den)) << num << "/" << den;
    }
    EXPECT_EQ(amrefr_div_s(1, 2), 16384);
    EXPECT_EQ(amrefr_div_s(16384, 16384), 32767);
    EXPECT_EQ(amrefr_div_s(32766, 32767), 32766);
    EXPECT_EQ(amrefr_div_s(16383, 32767), 16383);
    EXPECT_EQ(amrefr_div_s(5, 0), 32767);
    EXPECT_EQ(amrefr_div_s(0, 0), 0);
    EXPECT_EQ(amrefr_div_s(-5, 0), -32768);
    EXPECT_EQ(amrefr_div_s(100, 50), 32767);
    EXPECT_EQ(amrefr_div_s(-1, 2), -16384);
    // The division leaves the floating-point rounding mode alone.
    volatile float a = 1.0f, b = 3.0f;
    float before = a / b;
    amrefr_div_s(1, 3);
    EXPECT_EQ(a / b, before);
}

TEST(AmrnbArith, TableFunctionsAtTheirEdges) {
    EXPECT_EQ(amrefr_Inv_sqrt(0), 0x3FFFFFFF);
    EXPECT_EQ(amrefr_Inv_sqrt(-5), 0x3FFFFFFF);
    EXPECT_EQ(amrefr_Inv_sqrt(1), 0x3FFF8000);
    EXPECT_EQ(amrefr_Inv_sqrt(4), 0x1FFFC000);
    EXPECT_EQ(amrefr_Inv_sqrt(0x40000000), 32767);
    EXPECT_EQ(amrefr_Inv_sqrt(0x7FFFFFFF), 23170);

    struct { Word32 x; Word16 e, f; } logs[] = {{1, 0, 0}, {2, 1, 0}, {3, 1, 19167}, {0x40000000, 30, 0},
                                                {0x7FFFFFFF, 30, 32766}, {0, 0, 0}, {-7, 0, 0}};
    for (auto& c : logs) {
        Word16 e, f;
        amrefr_Log2(c.x, &e, &f);
        EXPECT_EQ(e, c.e) << c.x;
        EXPECT_EQ(f, c.f) << c.x;
    }
    EXPECT_EQ(amrefr_fn10Log10(512, 9), 0);
    EXPECT_EQ(amrefr_fn10Log10(5120, 9), 2560);
    EXPECT_EQ(amrefr_fn10Log10(0, 9), -6936);

    EXPECT_EQ(amrefr_Pow2(14, 0), 16384);
    EXPECT_EQ(amrefr_Pow2(14, 16384), 23170);
    EXPECT_EQ(amrefr_Pow2(0, 0), 1);
    EXPECT_EQ(amrefr_Pow2(30, 0), 0x40000000);
    EXPECT_EQ(amrefr_Pow2(30, 32767), 0x7FFE50C0);
    EXPECT_EQ(amrefr_Pow2(-1, 0), 1);
    EXPECT_EQ(amrefr_Pow2(31, 0), 0);

    EXPECT_EQ(amrefr_MPY_32(0x40000000, 0x40000000), 0x20000000);
    EXPECT_EQ(amrefr_MPY_32(0x7FFFFFFF, 0x7FFFFFFF), 2147483642);
    EXPECT_EQ(amrefr_DIV_32(0x20000000, 0x40000000), 0x3FFFFFF8);
    EXPECT_EQ(amrefr_DIV_32(0x3FFFFFFF, 0x40000000), 0x7FFFFFE0);
    EXPECT_EQ(amrefr_DIV_32(0x10000000, 0x60000000), 0x15555550);
}

TEST(AmrnbArith, LogarithmAndPowerAgreeWithRealArithmetic) {
    Rng rng(2);
    for (int n = 0; n < 20000; ++n) {
        Word32 x = rng.uniform(1, 0x7FFFFFFF);
        Word16 e, f;
        amrefr_Log2(x, &e, &f);
        double approx = e + f / 32768.0;
        ASSERT_NEAR(approx, std::log2(static_cast<double>(x)), 2e-4) << x;
        Word32 inv = amrefr_Inv_sqrt(x);
        ASSERT_NEAR(inv / 1073741824.0, 1.0 / std::sqrt(static_cast<double>(x)), 1e-3 / std::sqrt(double(x)) + 1e-9);
        Word16 frac = static_cast<Word16>(rng.uniform(0, 32767));
        Word32 p = amrefr_Pow2(20, frac);
        ASSERT_NEAR(p / std::exp2(20 + frac / 32768.0), 1.0, 1e-3);
    }
}

TEST(AmrnbFormats, EveryModeRoundTripsWithTheStandardBitCounts) {
    const int bits[] = {95, 103, 118, 134, 148, 159, 204, 244, 35};
    Rng rng(3);
    for (int mode = 0; mode < N_MODES; ++mode) {
        EXPECT_EQ(amrefr_mode_bits(mode), bits[mode]) << mode;
        for (int rep = 0; rep < 200; ++rep) {
            Word16 prm[AMR_MAX_PRM_SIZE], back[AMR_MAX_PRM_SIZE];
            Buf<Word16> serial(bits[mode]);
            for (int j = 0; j < amrefr_prmno[mode]; ++j)
                prm[j] = static_cast<Word16>(rng.uniform(0, (1 << (amrefr_bitno[mode][j] + 1)) - 1));
            amrefr_Prm2bits(static_cast<Word16>(mode), prm, serial.get());
            for (int i = 0; i < bits[mode]; ++i) ASSERT_TRUE(serial[i] == 0 || serial[i] == 1);
            amrefr_Bits2prm(static_cast<Word16>(mode), serial.get(), back);
            for (int j = 0; j < amrefr_prmno[mode]; ++j) ASSERT_EQ(back[j], prm[j]) << mode << ":" << j;
        }
    }
    // Most significant bit first: the MRDTX widths are 3, 8, 9, 9, 6.
    Word16 prm[5] = {5, 0, 0, 0, 1}, serial[35];
    amrefr_Prm2bits(MRDTX, prm, serial);
    EXPECT_EQ(serial[0], 1);
    EXPECT_EQ(serial[1], 0);
    EXPECT_EQ(serial[2], 1);
    EXPECT_EQ(serial[34], 1);
    // A 1-bit parameter (10.2 kbit/s signs, parameter 4) packs as one word.
    Word16 p102[39] = {}, s102[204];
    p102[4] = 1;
    amrefr_Prm2bits(MR102, p102, s102);
    EXPECT_EQ(s102[8 + 9 + 9 + 8], 1);
}

TEST(AmrnbFormats, EfrSidClassificationCountsZeroBitsInTheCodeWord) {
    Word16 bits[244] = {};
    EXPECT_EQ(amrefr_efr_sid_class(bits), 0);
    for (Word16 pos : amrefr_SID_codeword_bit_idx) bits[pos] = 1;
    EXPECT_EQ(amrefr_efr_sid_class(bits), 2);
    bits[amrefr_SID_codeword_bit_idx[0]] = 0;
    EXPECT_EQ(amrefr_efr_sid_class(bits), 2);
    bits[amrefr_SID_codeword_bit_idx[1]] = 0;
    EXPECT_EQ(amrefr_efr_sid_class(bits), 1);
    for (int i = 2; i < 16; ++i) bits[amrefr_SID_codeword_bit_idx[i]] = 0;
    EXPECT_EQ(amrefr_efr_sid_class(bits), 0);
}

namespace {

// Sequential saturating chain: the standard's way of summing.
Word32 chain(const Word16* x, const Word16* y, int n, Word32 acc) {
    for (int i = 0; i < n; ++i) acc = L_mac(acc, x[i], y[i]);
    return acc;
}

// The four-lane grouping written out from its definition.
Word32 lanes(const Word16* x, const Word16* y, int n, Word32 acc, bool* clipped = nullptr) {
    std::int64_t p[4] = {0, 0, 0, 0};
    bool c = false;
    auto sat = [&c](std::int64_t v) {
        Word32 r = sat32(v);
        if (r != v) c = true;
        return std::int64_t{r};
    };
    for (int i = 0; i < n; ++i) {
        std::int64_t prod = 2 * std::int64_t{x[i]} * y[i];
        p[i % 4] = sat(p[i % 4] + sat(prod));
    }
    std::int64_t r = sat(sat(sat(p[0] + p[2]) + sat(p[1] + p[3])) + acc);
    if (clipped) *clipped = c;
    return static_cast<Word32>(r);
}

}  // namespace

TEST(AmrnbVector, DotProductsUseFourSaturatingLanes) {
    Rng rng(4);
    for (int rep = 0; rep < 3000; ++rep) {
        int n = 8 * rng.uniform(1, 30);
        Buf<Word16> x(n), y(n);
        bool loud = rep % 2;
        if (loud) {
            rng.fill_sat(x.get(), n, 32767);
            rng.fill_sat(y.get(), n, 32767);
        }
        if (!loud) {
            rng.fill(x.get(), n, 3000);
            rng.fill(y.get(), n, 3000);
        }
        Word32 acc = rng.uniform(-100000, 100000);
        Word32 want = lanes(x.get(), y.get(), n, acc);
        ASSERT_EQ(amrefr_Vec_L_mac(x.get(), y.get(), static_cast<Word16>(n), acc), want);
        ASSERT_EQ(amrefr_Vec_L_mac8(x.get(), y.get(), static_cast<Word16>(n), acc), want);
        ASSERT_EQ(amrefr_Vec_L_sqa(x.get(), static_cast<Word16>(n), acc), lanes(x.get(), x.get(), n, acc));
        ASSERT_EQ(amrefr_Vec_L_sqa_single(x.get(), static_cast<Word16>(n), acc), lanes(x.get(), x.get(), n, acc));
        if (!loud) {
            ASSERT_EQ(want, chain(x.get(), y.get(), n, acc));  // no saturation: the standard's sum
        }
        if (n >= 40) {
            ASSERT_EQ(amrefr_Vec_L_sqa_40(x.get(), acc), lanes(x.get(), x.get(), 40, acc));
            bool clipped;
            Word32 s = lanes(x.get(), y.get(), 40, 1, &clipped);
            Word16 ovf = 7;
            ASSERT_EQ(amrefr_Vec_L_mac_dual_latch_overflow(x.get(), y.get(), &ovf), s);
            ASSERT_EQ(ovf, clipped ? 1 : 0);
            Word16 q[40];
            for (int i = 0; i < 40; ++i) q[i] = shr(x[i], 2);
            ASSERT_EQ(amrefr_Vec_L_shr_sqa(x.get()), lanes(q, q, 40, 0));
        }
        Buf<Word16> yy(n + 3);
        for (int i = 0; i < n + 3; ++i) yy[i] = rng.sample(20000);
        Word32 four[4];
        amrefr_4Vec_L_mac8(x.get(), yy.get(), static_cast<Word16>(n), four);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(four[k], lanes(x.get(), yy.get() + k, n, 0));
    }
}

TEST(AmrnbVector, LaneGroupingDecidesSaturatedSums) {
    // Products only in lanes 0 and 2: lane 0 saturates positive, lane 2 is negative.
    Word16 x[8] = {32767, 0, -32768, 0, 32767, 0, 0, 0}, y[8] = {32767, 0, 32767, 0, 32767, 0, 0, 0};
    Word32 p0 = sat32(2LL * 2 * 32767 * 32767), p2 = -2 * 32768 * 32767;
    EXPECT_EQ(amrefr_Vec_L_mac(x, y, 8, 0), sat32(std::int64_t{p0} + p2));
    EXPECT_NE(amrefr_Vec_L_mac(x, y, 8, 0), chain(x, y, 8, 0));

    // Lane 0 clips although the total fits: the latch reports it.
    Word16 a[40] = {}, b[40] = {};
    a[0] = a[4] = 32767;
    b[0] = b[4] = 32767;
    a[1] = -32768;
    b[1] = 32767;
    Word16 ovf = 0;
    amrefr_Vec_L_mac_dual_latch_overflow(a, b, &ovf);
    EXPECT_EQ(ovf, 1);
    Word16 z[40] = {};
    EXPECT_EQ(amrefr_Vec_L_mac_dual_latch_overflow(z, z, &ovf), 1);
    EXPECT_EQ(ovf, 0);
    // A total of exactly 0x7FFFFFFF before the added 1.
    Word16 m[40] = {}, one[40] = {};
    m[0] = -32768;
    one[0] = -32768;  // L_mult saturates to 0x7FFFFFFF
    EXPECT_EQ(amrefr_Vec_L_mac_dual_latch_overflow(m, one, &ovf), 0x7FFFFFFF);
    EXPECT_EQ(ovf, 1);
    Word16 neg[40];
    for (Word16& v : neg) v = -32768;
    EXPECT_EQ(amrefr_Vec_L_sqa_40(neg, 0), 0x7FFFFFFF);
}

TEST(AmrnbVector, ScansResolveTiesAsStated) {
    Word16 v[5] = {7, 9, 9, 3, 9};
    EXPECT_EQ(amrefr_Vec_max_ge(v, 4), 4);
    Word16 m[4] = {5, 2, 2, 8};
    EXPECT_EQ(amrefr_Vec_min_lt(m, 4), 1);
    Word16 top[4] = {32767, 32767, 32767, 32767};
    EXPECT_EQ(amrefr_Vec_min_lt(top, 4), 0);
    Word16 lowest[3] = {-32768, -32768, -32768};
    EXPECT_EQ(amrefr_Vec_max_ge(lowest, 2), 2);
    Word32 c[18] = {};
    c[3] = c[17] = 1000;
    EXPECT_EQ(amrefr_Vec_L_max_ge(c, 18), 17);
    Rng rng(5);
    for (int rep = 0; rep < 500; ++rep) {
        Word32 x[126];
        for (Word32& e : x) e = rng.uniform(-5, 5);
        int best = 0;
        for (int i = 0; i < 126; ++i)
            if (x[i] >= x[best]) best = i;
        ASSERT_EQ(amrefr_Vec_L_max_ge(x, 126), best);
    }
}

TEST(AmrnbVector, FillsCopiesAndElementWiseOperations) {
    Buf<Word16> five(5);
    amrefr_Set_const(five.get(), 9, 100);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(five[i], 9);
    Buf<Word16> ten(10);
    for (int i = 0; i < 10; ++i) ten[i] = 1;
    amrefr_Set_zero_even(ten.get(), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ten[i], 0);
    Buf<Word16> src(12), dst(12);
    for (int i = 0; i < 12; ++i) src[i] = static_cast<Word16>(i + 1);
    amrefr_Copy_even(src.get(), dst.get(), 10);
    EXPECT_EQ(dst[9], 10);
    EXPECT_EQ(dst[10], 0);
    amrefr_Vec_shuffle_down(src.get(), 1, 6);
    EXPECT_EQ(src[0], 2);
    EXPECT_EQ(src[5], 7);
    EXPECT_EQ(src[6], 7);

    Word16 e4[4] = {-100, 100, 0, 0}, f4[4] = {-14436, -14436, -14436, -14436};
    EXPECT_EQ(amrefr_Vec_sumEnergy(e4), 0);
    EXPECT_EQ(amrefr_Vec_sumEnergy(f4), -57744);

    Rng rng(6);
    Word16 a[40], b[40], x[40];
    rng.fill_sat(a, 40, 32767);
    rng.fill_sat(b, 40, 32767);
    for (int i = 0; i < 40; ++i) x[i] = a[i];
    amrefr_Vec_add(x, b);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(x[i], add(a[i], b[i]));
    for (int i = 0; i < 40; ++i) x[i] = a[i];
    amrefr_Vec_mult_shl3(x, b[0]);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(x[i], extract_h(L_shl(L_mult(a[i], b[0]), 1)));
    Word16 o[12];
    amrefr_Vec_add_shr2(a, b, o);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(o[i], add(shr(a[i], 2), sub(b[i], shr(b[i], 2))));
}

TEST(AmrnbVector, ComfortNoiseHistorySteps) {
    // LSF variability: deviations after scaling of 1000, 5000 and −5000.
    Word16 hist[80] = {};
    // Row 0 deviates from the mean; with scale 20000/32768 for j = 0.
    // d·20000 >> 15 = 1000 needs d = 1639 (→ 1000); choose rows so the mean is 0.
    auto dev = [](int target) { return static_cast<Word16>((target * 32768 + 19999) / 20000); };
    hist[0] = dev(1000);
    hist[10] = static_cast<Word16>(-hist[0]);
    hist[1] = dev(5000);
    hist[11] = static_cast<Word16>(-hist[1]);
    amrefr_Vec_Set_lsf_mean(hist);
    EXPECT_EQ(hist[0], 741);
    EXPECT_EQ(hist[1], 1310);
    EXPECT_EQ(hist[11], -1310);

    Word32 L_lsf[12] = {};
    Word16 log_en = 0, log_en_hist[8] = {8, 16, 24, 32, 40, 48, 56, 64}, lsf_hist[80];
    for (int i = 0; i < 80; ++i) lsf_hist[i] = static_cast<Word16>(i);
    amrefr_Vec_Set_L_lsf(L_lsf, &log_en, log_en_hist, lsf_hist);
    EXPECT_EQ(log_en, 36);
    EXPECT_EQ(L_lsf[0], 0 + 10 + 20 + 30 + 40 + 50 + 60 + 70);

    Word16 refl[10] = {16384, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // 32767·(1 − 0.25) = 24574, then nine factors of 32767/32768 each lose one.
    EXPECT_EQ(amrefr_Vec_Calc_Pred_Err(refl), 24565);
}

// Shared basic operators: the standard's edge values, the Overflow flag, the maths routines
// against floating point, and the interpolation tables' checksums.
#include <gtest/gtest.h>

#include <cmath>

#include "basicop.h"

TEST(BasicOp, SaturationEdgesSetOverflow) {
    Overflow = 0;
    EXPECT_EQ(abs_s_itu(-32768), 32767);
    EXPECT_EQ(negate(-32768), 32767);
    EXPECT_EQ(L_abs(static_cast<SINT32>(0x80000000u)), 0x7FFFFFFF);
    EXPECT_EQ(L_negate(static_cast<SINT32>(0x80000000u)), 0x7FFFFFFF);
    EXPECT_EQ(Overflow, 0);
    EXPECT_EQ(L_mult(-32768, -32768), 0x7FFFFFFF);
    EXPECT_EQ(Overflow, 1);
    Overflow = 0;
    EXPECT_EQ(mult(-32768, -32768), 32767);
    EXPECT_EQ(Overflow, 1);
    Overflow = 0;
    EXPECT_EQ(add(32000, 1000), 32767);
    EXPECT_EQ(Overflow, 1);
    Overflow = 0;
    EXPECT_EQ(sub(-32000, 1000), -32768);
    EXPECT_EQ(L_shl(0x40000000, 1), 0x7FFFFFFF);
    EXPECT_EQ(shl(1, 20), 32767);
    EXPECT_EQ(Overflow, 1);
    Overflow = 0;
    EXPECT_EQ(round(0x7FFF8000), 32767);
    EXPECT_EQ(Overflow, 1);
    Overflow = 0;
    EXPECT_EQ(sature(40000), 32767);
    EXPECT_EQ(sature(-1234), -1234);
}

TEST(BasicOp, ShiftsRoundingAndNormalisation) {
    EXPECT_EQ(shr(-5, 15), -1);
    EXPECT_EQ(shr(5, 20), 0);
    EXPECT_EQ(shr_r(5, 20), 0);
    EXPECT_EQ(shr_r(5, 1), 3);
    EXPECT_EQ(shr_r(-5, 1), -2);
    EXPECT_EQ(L_shr_r(5, 40), 0);
    EXPECT_EQ(L_shr_r(0x17, 4), 1);
    EXPECT_EQ(L_shr(-1, 40), -1);
    EXPECT_EQ(shl(-8, -2), -2);
    EXPECT_EQ(mult_r(16384, 3), 2);
    EXPECT_EQ(norm_l(0), 0);
    EXPECT_EQ(norm_l(-1), 31);
    EXPECT_EQ(norm_l(1), 30);
    EXPECT_EQ(norm_s_itu(1), 14);
    EXPECT_EQ(norm_s_itu(-32768), 0);
    EXPECT_EQ(div_s_itu(16384, 32767), 16384);
    EXPECT_EQ(div_s_itu(7, 7), 32767);
    EXPECT_EQ(div_s_itu(0, 7), 0);
    EXPECT_EQ(L_deposit_h(-2), static_cast<SINT32>(0xFFFE0000u));
    EXPECT_EQ(extract_h(0x12345678), 0x1234);
    EXPECT_EQ(extract_l(0x12345678), 0x5678);
}

TEST(BasicOp, RandomSequence) {
    SINT16 seed = 0;
    EXPECT_EQ(Random(&seed), 13849);
    EXPECT_EQ(Random(&seed), -26722);
}

TEST(BasicOp, MathsRoutinesTrackFloatingPoint) {
    SINT16 e = 7, f = 7;
    Log2(0, &e, &f);
    EXPECT_EQ(e, 0);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(Inv_sqrt(-3), 0x3FFFFFFF);
    for (SINT32 x : {3, 1000, 65536, 123456789, 0x7FFFFFFF}) {
        Log2(x, &e, &f);
        EXPECT_NEAR(e + f / 32768.0, std::log2(double(x)), 2e-4) << x;
        EXPECT_NEAR(Pow2(e, f) / std::pow(2.0, e + f / 32768.0), 1.0, 2e-3) << x;
        EXPECT_NEAR(Inv_sqrt(x) / (std::pow(2.0, 30) / std::sqrt(double(x))), 1.0, 3e-3) << x;
    }
}

TEST(BasicOp, BlockForms) {
    SINT16 a[8] = {32000, -32000, 1, 2, 3, 4, 5, 6}, b[8] = {1000, -1000, 1, 1, 1, 1, 1, 1}, out[10];
    block_add(out, a, b, 8);
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], -32768);
    block_sub(a, a, b, 8);  // in place
    EXPECT_EQ(a[2], 0);
    block_shrC(out, b, 40, 2);
    EXPECT_EQ(out[1], -1);
    SINT32 w[2];
    block_F16to32(b, w, 2);
    EXPECT_EQ(w[1], -1000 * 65536);
    SINT16 x[8] = {-32768, -32768, 0, 0, 0, 0, 0, 0};
    Overflow = 0;
    EXPECT_EQ(V_mac_shift_blk8(8, x, x), 0x7FFFFFFF);
    EXPECT_EQ(Overflow, 1);
    SINT16 src[20], dst[20] = {};
    for (int i = 0; i < 20; ++i) src[i] = static_cast<SINT16>(i + 1);
    BlockShortMove10xAligned(20, src, dst);
    EXPECT_EQ(dst[19], 20);
    BlockShortClear10xAligned(10, dst);
    EXPECT_EQ(dst[9], 0);
    EXPECT_EQ(dst[10], 11);
}

TEST(BasicOp, InterpolationTablesMatchTheirChecksums) {
    auto sum = [](const SINT16* t, int n) {
        long s = 0;
        for (int i = 0; i < n; ++i) s += t[i];
        return s;
    };
    EXPECT_EQ(sum(basicop_tabpow, 33), 780991);
    EXPECT_EQ(sum(basicop_tablog, 33), 600680);
    EXPECT_EQ(sum(basicop_tabsqr, 49), 1073225);
}

// The saturating operators against a straightforward 64-bit model on random operands, the
// carry-propagating additions against exact 64-bit sums, and the added operators' edges.
#include <gtest/gtest.h>

#include <random>

#include "basicop.h"

namespace {
struct Model {
    bool ovf = false;
    std::int64_t sat32(std::int64_t v) {
        if (v > INT32_MAX) { ovf = true; return INT32_MAX; }
        if (v < INT32_MIN) { ovf = true; return INT32_MIN; }
        return v;
    }
    std::int64_t sat16(std::int64_t v) {
        if (v > 32767) { ovf = true; return 32767; }
        if (v < -32768) { ovf = true; return -32768; }
        return v;
    }
    // Division rounding towards minus infinity, as an arithmetic shift does.
    static std::int64_t floorDiv(std::int64_t v, std::int64_t p) { return v >= 0 ? v / p : -((-v + p - 1) / p); }
    std::int64_t shift32(std::int64_t x, int s) {  // x * 2^s, s may be negative
        if (s >= 0) {
            const __int128 v = static_cast<__int128>(x) << (s > 40 ? 40 : s);
            if (v > INT32_MAX) return sat32(INT64_MAX);
            if (v < INT32_MIN) return sat32(INT64_MIN);
            return static_cast<std::int64_t>(v);
        }
        return floorDiv(x, std::int64_t{1} << (-s > 40 ? 40 : -s));
    }
};

SINT16 r16(std::mt19937& g) {
    // Mix of full-range values and values near the edges, where saturation happens.
    switch (g() % 4) {
        case 0: return static_cast<SINT16>(32767 - g() % 64);
        case 1: return static_cast<SINT16>(-32768 + static_cast<int>(g() % 64));
        default: return static_cast<SINT16>(g());
    }
}
SINT32 r32(std::mt19937& g) {
    switch (g() % 4) {
        case 0: return static_cast<SINT32>(INT32_MAX - g() % 4096);
        case 1: return static_cast<SINT32>(INT32_MIN + g() % 4096);
        default: return static_cast<SINT32>(g());
    }
}
}  // namespace

TEST(BasicOpModel, SaturatingArithmeticMatchesWideModel) {
    std::mt19937 g(12345);
    for (int it = 0; it < 200000; ++it) {
        const SINT16 a = r16(g), b = r16(g);
        const SINT32 L = r32(g), M = r32(g);
        Model m;
        Overflow = 0;
        ASSERT_EQ(add(a, b), m.sat16(a + b));
        ASSERT_EQ(sub(a, b), m.sat16(a - b));
        ASSERT_EQ(mult(a, b), m.sat16(Model::floorDiv(std::int64_t{a} * b, 32768)));
        ASSERT_EQ(mult_r(a, b), m.sat16(Model::floorDiv(std::int64_t{a} * b + 16384, 32768)));
        const std::int64_t lm = m.sat32(2 * std::int64_t{a} * b);
        ASSERT_EQ(L_mult(a, b), lm);
        ASSERT_EQ(L_mac(L, a, b), m.sat32(L + lm));
        ASSERT_EQ(L_msu(L, a, b), m.sat32(L - lm));
        ASSERT_EQ(L_add(L, M), m.sat32(std::int64_t{L} + M));
        ASSERT_EQ(L_sub(L, M), m.sat32(std::int64_t{L} - M));
        ASSERT_EQ(round(L), Model::floorDiv(m.sat32(std::int64_t{L} + 0x8000), 65536));
        ASSERT_EQ(mac_r(L, a, b), Model::floorDiv(m.sat32(m.sat32(L + lm) + 0x8000), 65536));
        ASSERT_EQ(I_mac(L, a, b), m.sat32(L + std::int64_t{a} * b));
        ASSERT_EQ(i_mult(a, b), static_cast<SINT16>(a * b));
        const int s16 = static_cast<int>(g() % 40) - 20;
        const std::int64_t sh = s16 >= 0 ? (a == 0 ? 0 : (s16 > 15 ? m.sat16(a * 65536LL) : m.sat16(std::int64_t{a} << s16)))
                                         : Model::floorDiv(a, std::int64_t{1} << (-s16 > 15 ? 15 : -s16));
        ASSERT_EQ(shl(a, static_cast<SINT16>(s16)), sh) << a << " " << s16;
        const int s32 = static_cast<int>(g() % 80) - 40;
        ASSERT_EQ(L_shl(L, static_cast<SINT16>(s32)), m.shift32(L, s32)) << L << " " << s32;
        ASSERT_EQ(L_shr(L, static_cast<SINT16>(-s32)), m.shift32(L, s32)) << L << " " << s32;
        if (s32 > 0 && s32 <= 31) {
            ASSERT_EQ(L_shr_r(L, static_cast<SINT16>(s32)),
                      Model::floorDiv(std::int64_t{L} + (std::int64_t{1} << (s32 - 1)), std::int64_t{1} << s32));
        }
        ASSERT_EQ(Overflow != 0, m.ovf) << it;
    }
}

TEST(BasicOpModel, NormalisationAndDivisionMatchWideModel) {
    std::mt19937 g(777);
    for (int it = 0; it < 50000; ++it) {
        const SINT32 L = r32(g);
        if (L != 0 && L != -1) {
            const SINT32 n = norm_l(L);
            const std::int64_t v = std::int64_t{L} << n;
            ASSERT_TRUE(v >= INT32_MIN && v <= INT32_MAX && (v >= (1LL << 30) || v < -(1LL << 30))) << L;
        }
        SINT16 num = static_cast<SINT16>(g() & 0x7FFF), den = static_cast<SINT16>(g() & 0x7FFF);
        if (den == 0) continue;
        if (num > den) std::swap(num, den);
        const SINT16 q = div_s_itu(num, den);
        ASSERT_EQ(q, num == den ? 32767 : (std::int64_t{num} << 15) / den);
        const SINT32 lnum = static_cast<SINT32>(g() & 0x7FFFFFFF);
        const SINT16 ql = div_l(lnum, den);
        const std::int64_t want = lnum >= (std::int64_t{den} << 16) ? 32767 : ((std::int64_t{lnum} >> 1) << 15) / (std::int64_t{den} << 15);
        ASSERT_EQ(ql, want) << lnum << " " << den;
        const SINT16 v = static_cast<SINT16>(g());
        Model m;
        const std::int64_t mls = m.sat32(Model::floorDiv((std::int64_t{L} & 0xFFFF) * v, 32768) +
                                         m.sat32(2 * std::int64_t{v} * (L >> 16)));
        ASSERT_EQ(L_mls(L, v), mls) << L << " " << v;
    }
}

TEST(BasicOpModel, CarryPropagatingAdditionsFollowTheStandard) {
    Overflow = 0;
    Carry = 0;
    EXPECT_EQ(L_add_c(0x7FFFFFFF, 1), INT32_MIN);  // wraps, signed overflow
    EXPECT_EQ(Overflow, 1);
    EXPECT_EQ(Carry, 0);
    EXPECT_EQ(L_add_c(-1, 1), 0);  // unsigned carry out, no overflow
    EXPECT_EQ(Overflow, 0);
    EXPECT_EQ(Carry, 1);
    EXPECT_EQ(L_add_c(5, 6), 12);  // the carry comes in
    EXPECT_EQ(Carry, 0);
    EXPECT_EQ(L_add_c(-1, -1), -2);
    EXPECT_EQ(Carry, 1);
    EXPECT_EQ(Overflow, 0);
    Carry = 0;
    EXPECT_EQ(L_sub_c(10, 3), 6);  // without carry in, a borrow of one
    EXPECT_EQ(Carry, 1);
    EXPECT_EQ(L_sub_c(10, 3), 7);
    Carry = 0;
    EXPECT_EQ(L_macNs(0x7FFFFFFF, 1, 1), static_cast<SINT32>(0x80000001u));
    EXPECT_EQ(Overflow, 1);
    EXPECT_EQ(L_sat(123), 0x7FFFFFFF);  // overflow without carry saturates up, flags cleared
    EXPECT_EQ(Overflow, 0);
    EXPECT_EQ(Carry, 0);
    EXPECT_EQ(L_sat(123), 123);
    Overflow = 1;
    Carry = 1;
    EXPECT_EQ(L_sat(5), INT32_MIN);
}

TEST(BasicOpModel, AddedOperatorsReportOverflowLocally) {
    Overflow = 0;
    SINT16 ovf = 0;
    EXPECT_EQ(L_maco(0x7FFFFFF0, 100, 100, &ovf), 0x7FFFFFFF);
    EXPECT_EQ(ovf, 1);
    EXPECT_EQ(Overflow, 0);
    ovf = 0;
    EXPECT_EQ(L_shlo(3, -1, &ovf), 1);
    EXPECT_EQ(L_shlo(0x40000000, 2, &ovf), 0x7FFFFFFF);
    EXPECT_EQ(ovf, 1);
    EXPECT_EQ(Overflow, 0);
    EXPECT_EQ(I_mult(-32768, -32768), 0x40000000);
    EXPECT_EQ(I_msu(0, 3, 4), -12);
    EXPECT_EQ(div_l(0x7FFF0000, 0x7FFF), 32767);
    EXPECT_EQ(div_l(0x20000000, 0x4000), 16384);
    EXPECT_EQ(msu_r(0, 16384, 16384), -8192);
    EXPECT_EQ(L_shl(-1, 31), INT32_MIN);  // reaches the minimum exactly: no saturation
    EXPECT_EQ(Overflow, 0);
    EXPECT_EQ(L_shl(-1, 32), INT32_MIN);
    EXPECT_EQ(Overflow, 1);
    SINT32 in[2] = {0x12345678, -65536};
    SINT16 out[3] = {9, 9, 9};
    block_extract_h(in, out, 2);
    EXPECT_EQ(out[0], 0x1234);
    EXPECT_EQ(out[1], -1);
    BlockShortClear(2, out);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 9);
}

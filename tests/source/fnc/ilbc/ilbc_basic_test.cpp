// Operators and building blocks whose exact results other parts depend on, and the guarded
// cases where the plain arithmetic would go wrong.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "ilbc_basic.h"
#include "ilbc_cb.h"
#include "ilbc_filters.h"
#include "ilbc_lpc.h"
#include "ilbc_state.h"
#include "ilbc_tables.h"

namespace {

using namespace ilbc;

TEST(IlbcOperators, NormalisationAndShifts) {
  EXPECT_EQ(ilbc_norm_l(0), 31);
  EXPECT_EQ(ilbc_norm_l(-1), 31);
  EXPECT_EQ(ilbc_norm_l(1), 30);
  EXPECT_EQ(ilbc_norm_l(kMin32), 0);
  EXPECT_EQ(ilbc_norm_s(0), 0);
  EXPECT_EQ(ilbc_norm_s(16384), 0);
  EXPECT_EQ(ilbc_norm_s(1), 14);
  EXPECT_EQ(ilbc_L_shl(1, 31), kMax32);
  EXPECT_EQ(ilbc_L_shl(-1, 40), kMin32);
  EXPECT_EQ(ilbc_L_shl(12345, -40), 0);
  EXPECT_EQ(ilbc_L_shl(-12345, -40), -1);
  EXPECT_EQ(ilbc_L_shl(3, 29), 3 << 29);
}

TEST(IlbcOperators, SquareRootsFollowTheirTables) {
  i16 e = -1;
  EXPECT_EQ(ilbc_sqrt_l_exp(1 << 29, &e), 16384 * 65536);
  EXPECT_EQ(e, 0);
  EXPECT_EQ(ilbc_sqrt_l_exp(1 << 30, &e), 23170 * 65536);
  EXPECT_EQ(e, 0);
  EXPECT_EQ(ilbc_sqrt_l_exp(1 << 27, &e), 16384 * 65536);
  EXPECT_EQ(e, 2);
  EXPECT_EQ(ilbc_sqrt_l_exp(0, &e), 0);
  EXPECT_EQ(e, 0);
  EXPECT_EQ(ilbc_Isqrt(4, &e), 32767 * 65536);
  EXPECT_EQ(e, -1);
  i32 frac = -5;
  e = 7;
  ilbc_Isqrt_n(&frac, &e);
  EXPECT_EQ(frac, kMax32);
  EXPECT_EQ(e, 0);
  // Across the range the inverse root stays within 0.1 % of the true value.
  for (i32 x = 3; x < kMax32 / 3; x = x * 3 + 1) {
    const i32 f = ilbc_Isqrt(x, &e);
    EXPECT_NEAR(f * std::ldexp(1.0, e - 31) * std::sqrt(double(x)), 1.0, 1e-3) << x;
  }
}

// The Q15 division is exact integer arithmetic: floor(32768 num / den), 32767 at num = den; the
// normalised 32-bit division built on it stays within a few units of the true quotient.
TEST(IlbcOperators, DivisionsAreExactOrClose) {
  EXPECT_EQ(ilbc_div_s(0, 100), 0);
  EXPECT_EQ(ilbc_div_s(100, 100), 32767);
  EXPECT_EQ(ilbc_div_s(1, 3), 10922);
  EXPECT_EQ(ilbc_div_s(16383, 16384), 32766);
  for (i32 den = 1 << 30; den > 0 && den < kMax32 - 99999999; den += 99999999)
    for (i32 num = 1; num < den; num += den / 7 + 1) {
      const double q = double(num) / den * 2147483648.0;
      EXPECT_NEAR(ilbc_DIV_32(num, den), q, 8.0 + q * 1e-7) << num << "/" << den;
    }
  EXPECT_NEAR(ilbc_L_divide(-300, 900), -715827882.0, 16.0);
}

// A quiet block holding one -32768 sample must not be pre-shifted: the shift would wrap that
// sample to a positive value.
TEST(IlbcFilters, FullScaleNegativeSampleIsNeverShiftedIntoAWrap) {
  std::array<i16, 160> in{};
  for (int i = 0; i < 160; ++i) in[static_cast<std::size_t>(i)] = static_cast<i16>(i % 5 - 2);
  in[70] = -32768;
  i16 pole_shift = 31, zero_mem[2] = {0, 0};
  i32 pole_mem[2] = {0, 0};
  std::array<i32, 160> out{};
  ilbc_hpInput(in.data(), 160, &pole_shift, out.data(), zero_mem, pole_mem);
  EXPECT_EQ(in[70], -32768);
  EXPECT_LT(out[70], 0);
  // Without such a sample a quiet block is still raised by up to 4 bits.
  std::array<i16, 160> quiet{};
  for (int i = 0; i < 160; ++i) quiet[static_cast<std::size_t>(i)] = static_cast<i16>(i % 5 - 2);
  pole_shift = 31;
  zero_mem[0] = zero_mem[1] = 0;
  pole_mem[0] = pole_mem[1] = 0;
  ilbc_hpInput(quiet.data(), 160, &pole_shift, out.data(), zero_mem, pole_mem);
  EXPECT_EQ(quiet[1], -1 * 16);
}

TEST(IlbcFilters, SynthesisUndoesAnalysis) {
  std::array<i16, 11> a{4096, -3000, 1500, -400, 100, 0, 0, 0, 0, 0, 0};
  std::array<i16, 50> x{}, r{}, y{};
  for (int i = 10; i < 50; ++i) x[static_cast<std::size_t>(i)] = static_cast<i16>(std::lround(3000 * std::sin(i * 0.3)));
  ilbc_Residu2(a.data(), x.data() + 10, r.data() + 10);
  ilbc_Syn_filt(a.data(), r.data() + 10, y.data() + 10, 40);
  for (int i = 10; i < 50; ++i) EXPECT_NEAR(y[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(i)], 3) << i;
  std::array<i16, 11> one{4096};
  ilbc_Residu2(one.data(), x.data() + 10, r.data() + 10);
  EXPECT_TRUE(std::equal(x.begin() + 10, x.end(), r.begin() + 10));
}

// LSF root search: a sign change at the very first grid point stays at index 0, and roots the
// grid runs out before take the previous frame's values.
TEST(IlbcLsf, RootSearchGuards) {
  std::array<i32, 10> fallback{}, f{};
  for (int i = 0; i < 10; ++i) fallback[static_cast<std::size_t>(i)] = 1000 + i;
  const std::array<i32, 11> double_root{134217728, -268435456, 134217728, 0, 0, 0, 0, 0, 0, 0, 0};
  ilbc_a2lsf(f.data(), double_root.data(), fallback.data());
  EXPECT_EQ(f[0], 0);
  for (int i = 1; i < 10; ++i) EXPECT_GE(f[static_cast<std::size_t>(i)], f[static_cast<std::size_t>(i) - 1]);
  const std::array<i32, 11> unstable{134217728, 2000000000, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ilbc_a2lsf(f.data(), unstable.data(), fallback.data());
  EXPECT_EQ(f[9], 1009);
  EXPECT_EQ(f[6], 1006);
  // The trivial filter gives ten ordered frequencies that round-trip to a near-trivial filter.
  const std::array<i32, 11> trivial{134217728};
  ilbc_a2lsf(f.data(), trivial.data(), fallback.data());
  std::array<i32, 11> back{};
  ilbc_lsf2a(back.data(), f.data());
  for (int i = 1; i <= 10; ++i) EXPECT_LT(std::abs(back[static_cast<std::size_t>(i)]), 134217728 / 50) << i;
}

TEST(IlbcLsf, QuantiserAndStabilityCorrection) {
  // Every candidate of split 1 saturates its key: the lowest index wins.
  const std::array<i32, 3> far{kMax32, kMax32, kMax32};
  std::array<i16, 3> q{};
  EXPECT_EQ(ilbc_vq3(q.data(), ilbc_lsfCbTbl_q13.data(), far.data(), 64), 0);
  // A code vector itself is found again.
  std::array<i32, 4> x{};
  for (int m = 0; m < 4; ++m) x[static_cast<std::size_t>(m)] = i32{ilbc_lsfCbTbl_q13[576 + 4 * 77 + m]} << 16;
  std::array<i16, 4> q4{};
  EXPECT_EQ(ilbc_vq4(q4.data(), ilbc_lsfCbTbl_q13.data() + 576, x.data()), 77);
  // Pairs closer than 320 move apart; a reversed pair is put back in order.
  std::array<i16, 10> lsf{1000, 1100, 3000, 2900, 6000, 8000, 10000, 12000, 14000, 26000};
  EXPECT_EQ(ilbc_LSFQ13_check(lsf.data(), 10, 1), 1);
  for (int i = 0; i < 9; ++i) EXPECT_GT(lsf[static_cast<std::size_t>(i) + 1], lsf[static_cast<std::size_t>(i)]) << i;
  EXPECT_LE(lsf[8], 25723);
  std::array<i16, 10> ok{2308, 3652, 5434, 7885, 10255, 12559, 15160, 17513, 20328, 22752};
  EXPECT_EQ(ilbc_LSFQ13_check(ok.data(), 10, 1), 0);
}

TEST(IlbcStartState, ScalarQuantiserTakesTheLowerLevelAtThresholds) {
  i16 level = 0;
  const auto* cb = ilbc_pow10_state_frgqTbl_q0.data();
  const auto* th = ilbc_pow10_state_frgqTbl_q0_thres.data();
  EXPECT_EQ(ilbc_sort_sq2(&level, 12, cb, th, 64), 1);
  EXPECT_EQ(level, 11);
  EXPECT_EQ(ilbc_sort_sq2(&level, 13, cb, th, 64), 2);
  EXPECT_EQ(ilbc_sort_sq2(&level, 10, cb, th, 64), 0);
  EXPECT_EQ(ilbc_sort_sq2(&level, 32767, cb, th, 64), 63);
  i32 l32 = 0;
  EXPECT_EQ(ilbc_sort_sq2_long_8(&l32, 4408, ilbc_state_sq3Tbl_q16.data(), ilbc_state_sq3Tbl_q16_thresh.data()), 3);
  EXPECT_EQ(ilbc_sort_sq2_long_8(&l32, 4409, ilbc_state_sq3Tbl_q16.data(), ilbc_state_sq3Tbl_q16_thresh.data()), 4);
}

TEST(IlbcCodebook, VectorsOfEverySection) {
  std::array<i16, 147> mem{};
  for (int i = 0; i < 147; ++i) mem[static_cast<std::size_t>(i)] = static_cast<i16>((i * 37) % 200 - 100);
  std::array<i16, 40> v{}, aug{};
  // The last plain vector is the start of the memory.
  ilbc_getCBvec(v.data(), mem.data(), 107, 147, 40);
  EXPECT_TRUE(std::equal(v.begin(), v.end(), mem.begin()));
  // The augmented vectors are those the search builds for the same lag.
  for (int lag = 20; lag < 40; ++lag) {
    ilbc_getCBvec(v.data(), mem.data(), 108 + lag - 20, 147, 40);
    ilbc_createAugmentedVec_q0(lag, mem.data() + 147, aug.data());
    EXPECT_EQ(v, aug) << lag;
  }
  // The filtered plain vectors are the codebook filter applied to the memory (truncated).
  ilbc_getCBvec(v.data(), mem.data(), 128 + 50, 147, 40);
  for (int n = 0; n < 40; ++n) {
    i64 s = 0;
    for (int j = 0; j < 8; ++j) {
      const int p = 147 - 50 - 40 + n - 3 + j;
      s += 2 * i64{mem[static_cast<std::size_t>(p)]} * ilbc_cbfiltersTbl_rev_q15[static_cast<std::size_t>(j)];
    }
    EXPECT_EQ(v[static_cast<std::size_t>(n)], static_cast<i16>(s >> 16)) << n;
  }
  // Stage-2 and stage-3 indices of the first sub-block map one to one onto 7 bits and back.
  for (int i = 0; i < 256; ++i) {
    if ((i >= 44 && i < 108) || (i >= 172 && i < 236)) continue;
    std::array<i16, 3> t{0, static_cast<i16>(i), static_cast<i16>(i)};
    ilbc_index_conv_enc(t.data());
    EXPECT_LT(t[1], 128);
    ilbc_index_conv_dec(t.data());
    EXPECT_EQ(t[1], i);
  }
  EXPECT_EQ(cb_size(85, 23), 126);
  EXPECT_EQ(cb_size(85, 22), 128);
  EXPECT_EQ(cb_size(147, 40), 256);
}

TEST(IlbcCodebook, GainsAreScaledAndClamped) {
  EXPECT_EQ(ilbc_gaindequant(31, 1073741824, 32), 1288503072);
  // A scale below 0.1 is raised to 0.1.
  EXPECT_EQ(ilbc_gaindequant(15, 1000, 16), ilbc_gaindequant(15, 107374182, 16));
  // A construction with a single large stage saturates instead of wrapping.
  std::array<i16, 147> mem{};
  mem.fill(30000);
  std::array<i16, 40> out{};
  const std::array<i16, 3> idx{0, 0, 0}, gidx{31, 15, 7};
  ilbc_iCBConstruct(out.data(), idx.data(), gidx.data(), mem.data(), 147, 40, 3);
  for (auto v : out) EXPECT_EQ(v, 32767);
}

}  // namespace

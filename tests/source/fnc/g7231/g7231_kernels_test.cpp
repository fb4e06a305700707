// Exact fast forms of the G.723.1 kernels against their saturating models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "g7231_kernels.h"

namespace {

TEST(G7231Kernels, MacChainEqualsTheSaturatingChain) {
  // Quiet to full scale, starts near both limits, runs of -32768: sums that never saturate, that
  // saturate on the way and come back, and that end at the limit.
  std::mt19937 rng(7231);
  const int amplitudes[] = {100, 3000, 9000, 20000, 32767};
  const Word32 starts[] = {0, 123456, -987654, 0x7FFF0000, -0x7FFF0000};
  for (int trial = 0; trial < 500; ++trial) {
    const int amp = amplitudes[trial % 5];
    std::uniform_int_distribution<int> d(-amp, amp);
    std::vector<Word16> x(120), y(120);
    for (auto& v : x) v = static_cast<Word16>(d(rng));
    for (auto& v : y) v = static_cast<Word16>(d(rng));
    if (trial % 7 == 0) {
      for (int i = 0; i < 120; i += 5) x[i] = y[i] = -32768;
    }
    const int n = 1 + static_cast<int>(rng() % 120);
    const Word32 start = starts[(trial / 5) % 5];
    ASSERT_EQ(g723_1_mac_chain(start, x.data(), y.data(), n), g723_1_model_mac_chain(start, x.data(), y.data(), n))
        << trial;
    ASSERT_EQ(g723_1_mac_chain(0, x.data(), x.data(), n), g723_1_model_mac_chain(0, x.data(), x.data(), n)) << trial;
  }
}

TEST(G7231Kernels, AdaptiveCodebookFilterEqualsTheSaturatingChain) {
  std::mt19937 rng(5);
  const int amplitudes[] = {500, 8000, 20000, 32767};
  for (int trial = 0; trial < 400; ++trial) {
    std::uniform_int_distribution<int> r(-amplitudes[trial % 4], amplitudes[trial % 4]);
    std::uniform_int_distribution<int> t(-amplitudes[(trial / 4) % 4], amplitudes[(trial / 4) % 4]);
    Word16 rez[64], taps[20], fast[60], model[60];
    for (auto& v : rez) v = static_cast<Word16>(r(rng));
    for (auto& v : taps) v = static_cast<Word16>(t(rng));
    if (trial % 9 == 0) rez[10] = rez[11] = taps[0] = taps[4] = -32768;
    g723_1_Acbk_filter(fast, rez, taps);
    g723_1_model_Acbk_filter(model, rez, taps);
    for (int i = 0; i < 60; ++i) ASSERT_EQ(fast[i], model[i]) << trial << " sample " << i;
  }
}

}  // namespace

namespace {

// The saturating L_mac chain of x[i] y[i] over i < n, as the kernels state it.
Word32 chain(const Word16* x, const Word16* y, int n) {
  Word32 acc = 0;
  for (int i = 0; i < n; ++i) acc = g723_1_L_mac(acc, x[i], y[i]);
  return acc;
}

std::vector<Word16> random_vector(std::mt19937& rng, int n, int amp) {
  std::uniform_int_distribution<int> d(-amp, amp);
  std::vector<Word16> v(static_cast<std::size_t>(n));
  for (auto& s : v) s = static_cast<Word16>(d(rng));
  return v;
}

// The filtered excitation of the next candidate lag: a recursion on the previous row below
// m = 60 (lag >= 62) or lag - 6, the direct convolution from there. The previous row is random
// here, so a moved boundary or a wrong term shows in either part.
TEST(G7231Kernels, PerFiltDeltaFollowsTheRecursionThenTheConvolution) {
  std::mt19937 rng(103);
  const int amplitudes[] = {300, 4000, 32767};
  for (int lag = 17; lag <= 145; ++lag) {
    const int amp = amplitudes[lag % 3];
    auto e = random_vector(rng, 64, amp), h = random_vector(rng, 60, amp);
    if (lag % 5 == 0) e[0] = h[0] = -32768;
    std::vector<Word32> prev(65);
    for (auto& v : prev) v = static_cast<Word32>(rng());
    std::vector<Word32> out32(65);
    std::vector<Word16> out16(65);
    g723_1_Per_Filt_Delta(e.data(), h.data(), out16.data(), prev.data(), out32.data(), static_cast<Word16>(lag));
    const int m = lag >= 62 ? 60 : lag - 6;
    for (int j = 0; j < 60; ++j) {
      Word32 expect;
      if (j == 0) {
        expect = g723_1_L_mult(e[0], h[0]);
      } else if (j < m) {
        expect = g723_1_L_add(prev[static_cast<std::size_t>(j - 1)], g723_1_L_mult(e[0], h[static_cast<std::size_t>(j)]));
      } else {
        std::vector<Word16> rev(static_cast<std::size_t>(j + 1));
        for (int k = 0; k <= j; ++k) rev[static_cast<std::size_t>(k)] = h[static_cast<std::size_t>(j - k)];
        expect = chain(e.data(), rev.data(), j + 1);
      }
      ASSERT_EQ(expect, out32[static_cast<std::size_t>(j)]) << "lag " << lag << " sample " << j;
      ASSERT_EQ(g723_1_round(expect), out16[static_cast<std::size_t>(j)]) << "lag " << lag << " sample " << j;
    }
  }
}

// What the recursion is for: built on the row of the previous candidate lag of the same
// excitation, it gives exactly the convolution of the new candidate (the search's signals do not
// saturate).
TEST(G7231Kernels, PerFiltDeltaContinuesTheRowOfThePreviousLag) {
  std::mt19937 rng(1031);
  for (int lag = 17; lag <= 142; lag += 5) {  // candidate lags reach 143 at most
    const auto past = random_vector(rng, 145, 6000);
    const auto h = random_vector(rng, 60, 6000);
    // The 64-sample periodic excitation at a lag, as the adaptive-codebook search builds it.
    auto rez = [&](int l) {
      std::vector<Word16> r(64);
      for (int i = 0; i < 64; ++i) r[static_cast<std::size_t>(i)] = past[static_cast<std::size_t>(i < l + 2 ? 143 - l + i : 145 - l + (i - 2) % l)];
      return r;
    };
    const auto r0 = rez(lag), r1 = rez(lag + 1);
    std::vector<Word16> f0(65), f1(65), direct(65);
    std::vector<Word32> p0(65), p1(65), d32(65);
    g723_1_Per_Filt(r0.data() + 4, h.data(), f0.data(), p0.data());
    g723_1_Per_Filt_Delta(r1.data() + 4, h.data(), f1.data(), p0.data(), p1.data(), static_cast<Word16>(lag + 1));
    g723_1_Per_Filt(r1.data() + 4, h.data(), direct.data(), d32.data());
    for (int j = 0; j < 60; ++j) ASSERT_EQ(d32[static_cast<std::size_t>(j)], p1[static_cast<std::size_t>(j)]) << "lag " << lag << " sample " << j;
  }
}

TEST(G7231Kernels, FourLagCorrelationIsTheSaturatingChainPerLag) {
  std::mt19937 rng(1204);
  const int amplitudes[] = {200, 5000, 20000, 32767};
  for (int trial = 0; trial < 200; ++trial) {
    auto x = random_vector(rng, 120, amplitudes[trial % 4]);
    auto y = random_vector(rng, 123, amplitudes[(trial / 4) % 4]);
    if (trial % 3 == 0)
      for (int i = 0; i < 120; i += 2) x[static_cast<std::size_t>(i)] = y[static_cast<std::size_t>(i + 3)] = -32768;
    if (trial % 5 == 1)  // a lag that repeats x: the sum just beyond 32 bits, energies just below
      for (int i = 0; i < 120; ++i)
        x[static_cast<std::size_t>(i)] = y[static_cast<std::size_t>(i + 3 - trial % 4)] =
            static_cast<Word16>((i % 2 ? 1 : -1) * (3000 + 10 * trial));
    Word32 out[4];
    g723_1_Vec_L_mac_120_4(x.data(), y.data() + 3, out);
    for (int j = 0; j < 4; ++j) ASSERT_EQ(chain(x.data(), y.data() + 3 - j, 120), out[j]) << trial << " lag " << j;
  }
}

// Whole-vector shifts: saturating left, arithmetic right for negative counts, exactly 60 or 240
// values written.
TEST(G7231Kernels, SubframeAndFrameShiftsSaturateAndStopAtTheirLength) {
  std::mt19937 rng(60);
  for (int shift : {-3, -1, 0, 1, 2, 5}) {
    for (int len : {60, 240}) {
      auto src = random_vector(rng, len, 32767);
      src[0] = -32768;
      src[1] = 32767;
      std::vector<Word16> dst(static_cast<std::size_t>(len + 4), 1234);
      if (len == 60)
        g723_1_Vec_shl_SFL(src.data(), dst.data(), static_cast<Word16>(shift));
      else
        g723_1_Vec_shl_FR(src.data(), dst.data(), static_cast<Word16>(shift));
      for (int i = 0; i < len; ++i) {
        const std::int64_t v = shift >= 0 ? std::int64_t{src[static_cast<std::size_t>(i)]} << shift
                                          : std::int64_t{src[static_cast<std::size_t>(i)]} >> -shift;
        ASSERT_EQ(std::clamp<std::int64_t>(v, -32768, 32767), dst[static_cast<std::size_t>(i)]) << len << " shift " << shift << " at " << i;
      }
      for (int i = len; i < len + 4; ++i) ASSERT_EQ(1234, dst[static_cast<std::size_t>(i)]) << len;
    }
  }
}

// Fills and copies write exactly their stated counts: Set_zero at least one value, Set_const 30
// whatever the count, Copy nothing for 0; a history moved down onto itself arrives intact.
TEST(G7231Kernels, FillsAndCopiesWriteTheirStatedCounts) {
  auto written = [](auto&& op) {
    std::vector<Word16> dst(260, 7);
    op(dst.data());
    int n = 0;
    while (n < 260 && dst[static_cast<std::size_t>(n)] != 7) ++n;
    for (int i = n; i < 260; ++i)
      if (dst[static_cast<std::size_t>(i)] != 7) return -1;
    return n;
  };
  std::vector<Word16> src(260);
  for (int i = 0; i < 260; ++i) src[static_cast<std::size_t>(i)] = static_cast<Word16>(1000 + i);
  const Word16* s = src.data();
  EXPECT_EQ(1, written([](Word16* d) { g723_1_Set_zero(d, 0); }));
  EXPECT_EQ(13, written([](Word16* d) { g723_1_Set_zero(d, 13); }));
  EXPECT_EQ(8, written([](Word16* d) { g723_1_Set_zero4(d, 8); }));
  EXPECT_EQ(30, written([](Word16* d) { g723_1_Set_const(d, -5, 12); }));
  EXPECT_EQ(12, written([](Word16* d) { g723_1_Set_const4(d, -5, 12); }));
  EXPECT_EQ(0, written([&](Word16* d) { g723_1_Copy(s, d, 0); }));
  EXPECT_EQ(19, written([&](Word16* d) { g723_1_Copy(s, d, 19); }));
  EXPECT_EQ(10, written([&](Word16* d) { g723_1_Copy10(s, d); }));
  EXPECT_EQ(240, written([&](Word16* d) { g723_1_Copyx8(s, d, 240); }));
  EXPECT_EQ(60, written([&](Word16* d) { g723_1_Copy_SubFrLen(s, d); }));
  EXPECT_EQ(145, written([&](Word16* d) { g723_1_CopyPM(s, d); }));
  EXPECT_EQ(85, written([&](Word16* d) { g723_1_Copy85(s, d); }));
  std::vector<Word16> v(30, 1);
  g723_1_Set_const(v.data(), -5, 0);
  EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](Word16 x) { return x == -5; }));
  std::vector<Word16> copied(260, 0);
  g723_1_Copy(s + 3, copied.data(), 200);
  EXPECT_TRUE(std::equal(copied.begin(), copied.begin() + 200, src.begin() + 3));

  std::vector<Word16> history(src.begin(), src.begin() + 145);
  g723_1_Copy85(history.data() + 60, history.data());
  EXPECT_TRUE(std::equal(history.begin(), history.begin() + 85, src.begin() + 60));
}

}  // namespace

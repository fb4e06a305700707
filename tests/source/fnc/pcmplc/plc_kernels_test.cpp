// The vector dot products and lag correlations of the concealment's analysis equal the portable
// exact sums on random vectors to full scale (-32768 squared included) at every length the
// analysis uses and beyond.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "plc_kernels.h"

TEST(PlcKernels, VectorDotProductsEqualTheExactSumToFullScale) {
  std::vector<std::pair<const char*, PlcDotKernel>> forms;
#if defined(ORVOX_X86_SIMD)
  if (__builtin_cpu_supports("sse4.1")) forms.emplace_back("sse4.1", plcDotSse41);
  if (__builtin_cpu_supports("avx2")) forms.emplace_back("avx2", plcDotAvx2);
#endif
  std::mt19937 rng(5);
  int compared = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = trial % 171;
    const int kind = trial % 4;  // all -32768, all 32767 against -32768, random, random with extremes
    std::vector<int16_t> x(n), y(n);
    for (int i = 0; i < n; ++i) {
      if (kind == 0) {
        x[i] = y[i] = -32768;
      } else if (kind == 1) {
        x[i] = 32767;
        y[i] = -32768;
      } else {
        x[i] = static_cast<int16_t>(rng());
        y[i] = static_cast<int16_t>(rng());
        if (kind == 3 && rng() % 3 == 0) x[i] = -32768;
        if (kind == 3 && rng() % 2 == 0) y[i] = x[i];  // pairs of (-32768)^2 among other sums
      }
    }
    int64_t exact = 0;
    for (int i = 0; i < n; ++i) exact += int64_t{x[i]} * y[i];
    ASSERT_EQ(plcDotPortable(x.data(), y.data(), n), exact) << n;
    for (const auto& [name, k] : forms) {
      ++compared;
      ASSERT_EQ(k(x.data(), y.data(), n), exact) << name << " n " << n << " trial " << trial;
    }
  }
  std::printf("%d vector sums compared\n", compared);
}

TEST(PlcKernels, VectorLagCorrelationsEqualTheExactSumsToFullScale) {
#if defined(ORVOX_X86_SIMD)
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937 rng(8);
  int compared = 0;
  for (int trial = 0; trial < 600; ++trial) {
    const int n = trial % 41;
    const int dMin = trial % 6;
    const int count = 1 + (trial * 7) % 40;
    const int kind = trial % 4;  // all -32768, random, random with pinned runs, small
    const int history = dMin + count;
    std::vector<int16_t> buf(static_cast<size_t>(history + n));
    for (auto& v : buf) v = kind == 0 ? int16_t{-32768} : static_cast<int16_t>(rng());
    if (kind == 2) {
      for (size_t i = 0; i < buf.size(); ++i) {
        if (rng() % 3 == 0) buf[i] = -32768;
      }
    }
    if (kind == 3) {
      for (auto& v : buf) v = static_cast<int16_t>(v >> 4);
    }
    const int16_t* t = buf.data() + history;
    std::vector<int64_t> want(static_cast<size_t>(count)), got(static_cast<size_t>(count), 7);
    for (int j = 0; j < count; ++j) {
      for (int i = 0; i < n; ++i) want[static_cast<size_t>(j)] += int64_t{t[i]} * t[i - dMin - j];
    }
    std::vector<int64_t> portable(static_cast<size_t>(count));
    plcCorrLagsPortable(t, n, dMin, count, portable.data());
    ASSERT_EQ(portable, want) << "n " << n << " dMin " << dMin << " count " << count;
    plcCorrLagsAvx2(t, n, dMin, count, got.data());
    ASSERT_EQ(got, want) << "n " << n << " dMin " << dMin << " count " << count << " trial " << trial;
    ++compared;
  }
  std::printf("%d lag correlations compared\n", compared);
#else
  GTEST_SKIP() << "no vector form on this processor";
#endif
}

TEST(PlcKernels, VectorAllZeroFilterSumsEqualTheExactSums) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 2000; ++trial) {
    const int n = trial % 90;
    const bool extremes = trial % 3 == 0;
    std::vector<int16_t> buf(8 + n), a(8);
    for (auto& v : buf) v = extremes && rng() % 2 ? int16_t{-32768} : static_cast<int16_t>(rng());
    for (auto& v : a) v = extremes && rng() % 2 ? int16_t{-32768} : static_cast<int16_t>(rng());
    const int16_t* x = buf.data() + 8;
    std::vector<int64_t> want(n), got(n);
    for (int i = 0; i < n; ++i) {
      int64_t s = int64_t{x[i]} * 4096;
      for (int k = 0; k < 8; ++k) s += int64_t{a[k]} * x[i - 1 - k];
      want[i] = s;
    }
    plcAzSumsPortable(a.data(), x, got.data(), n);
    ASSERT_EQ(got, want) << "portable, n " << n;
#if defined(ORVOX_X86_SIMD)
    if (__builtin_cpu_supports("avx2")) {
      std::fill(got.begin(), got.end(), 0);
      plcAzSumsAvx2(a.data(), x, got.data(), n);
      ASSERT_EQ(got, want) << "avx2, n " << n << " trial " << trial;
    }
#endif
  }
}

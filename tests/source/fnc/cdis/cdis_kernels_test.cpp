// The vector form of the symmetric notch filter against the portable form: the shipped filters
// and random ones with taps to full scale (a tap of -32768 included), on random inputs with runs
// of -32768 and 32767 that drive outputs out of 16 bits, at every output count to 50.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "cdis_filters.h"

namespace {

#if defined(ORVOX_X86_SIMD)
std::vector<std::int16_t> fullScale(std::size_t n, std::mt19937& rng) {
  std::uniform_int_distribution<int> d(-32768, 32767);
  std::vector<std::int16_t> x(n);
  for (auto& v : x) v = static_cast<std::int16_t>(d(rng));
  for (std::size_t i = 0; i + 60 < n; i += 131) {
    const bool alternate = (i / 131) % 2 == 1;
    for (std::size_t k = 0; k < 60; ++k) x[i + k] = alternate && k % 2 ? std::int16_t{32767} : std::int16_t{-32768};
  }
  return x;
}
#endif

}  // namespace

TEST(CdisKernels, VectorNotchFilterEqualsThePortableFormToFullScale) {
#if defined(ORVOX_X86_SIMD)
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937 rng(21);
  std::vector<std::vector<std::int16_t>> filters = {
      {cdtcoeffs.begin(), cdtcoeffs.end()}, {cngtcoeffs.begin(), cngtcoeffs.end()},
      {bell103coef.begin(), bell103coef.end()}, {customToneCoef.begin(), customToneCoef.end()}};
  // A lone tap of -32768 against two samples of -32768 makes 2^31, out of a 32-bit pair.
  filters.push_back({0, 0, -32768});
  filters.push_back({100, -32768, 0, 0, 5});
  for (int len : {1, 2, 9, 35, 40}) {
    filters.push_back(fullScale(static_cast<std::size_t>(len), rng));  // starts with -32768 taps
    std::vector<std::int16_t> h = fullScale(static_cast<std::size_t>(len) + 200, rng);
    filters.emplace_back(h.end() - len, h.end());                       // random taps
    filters.emplace_back(static_cast<std::size_t>(len), std::int16_t{32767});
    filters.emplace_back(static_cast<std::size_t>(len), std::int16_t{-32767});
  }
  int compared = 0, overflowed = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const std::vector<std::int16_t> x = fullScale(400, rng);
    std::vector<std::int16_t> quiet(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) quiet[i] = static_cast<std::int16_t>(x[i] >> (trial % 9));
    for (const auto& h : filters) {
      const int halfLen = static_cast<int>(h.size());
      for (int count = 1; count <= 50; ++count) {
        const int at = 45 + (trial * 7 + count) % 200;
        for (const std::vector<std::int16_t>* in : {&x, static_cast<const std::vector<std::int16_t>*>(&quiet)}) {
          std::vector<std::int16_t> want(count, 7), got(count, 7);
          const bool okWant = cdisSymFilterPortable(in->data() + at, want.data(), count, h.data(), halfLen);
          const bool okGot = cdisSymFilterAvx2(in->data() + at, got.data(), count, h.data(), halfLen);
          ASSERT_EQ(got, want) << "taps " << halfLen << " count " << count << " trial " << trial;
          ASSERT_EQ(okGot, okWant) << "taps " << halfLen << " count " << count << " trial " << trial;
          ++compared;
          overflowed += okWant ? 0 : 1;
        }
      }
    }
  }
  EXPECT_GT(overflowed, compared / 10);  // the saturating side was exercised
  std::printf("%d filter runs compared, %d of them out of 16 bits\n", compared, overflowed);
#else
  GTEST_SKIP() << "no vector form on this processor";
#endif
}

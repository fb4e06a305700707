// Exact fast forms of the G.723.1 kernels against their saturating models.
#include <gtest/gtest.h>

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

}  // namespace

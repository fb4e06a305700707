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

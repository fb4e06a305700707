// The decoder's fast forms against their models on random inputs up to full scale: the SSE2
// lag correlations, the plain-sum synthesis filter and the plain-sum codebook filter must give
// the models' bits whichever way they take.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ilbc_cb.h"
#include "ilbc_filters.h"
#include "ilbc_kernels.h"
#include "ilbc_tables.h"

namespace {

using namespace ilbc;

std::vector<i16> random_samples(std::mt19937& rng, int n, int amp) {
  std::uniform_int_distribution<int> d(-amp, amp);
  std::vector<i16> v(static_cast<std::size_t>(n));
  for (auto& s : v) s = static_cast<i16>(d(rng));
  return v;
}

// Full scale with -32768 sprinkled in (or not), so both the pairwise path and its fallback run.
TEST(IlbcFastForms, LagCorrelationsEqualTheModel) {
  std::mt19937 rng(20);
  for (int trial = 0; trial < 300; ++trial) {
    auto buf = random_samples(rng, 200, trial % 3 == 0 ? 32767 : 300 + 100 * trial);
    if (trial % 4 == 1)
      for (auto& s : buf) s = static_cast<i16>(s < 0 ? -32767 : 32767);
    if (trial % 5 == 2) buf[static_cast<std::size_t>(rng() % 200)] = -32768;
    if (trial % 5 == 3)  // runs of -32768: pairs of products of 2^30 that 32 bits cannot hold
      for (int i = 0; i < 200; ++i)
        if ((i / 16) % 2 == 0) buf[static_cast<std::size_t>(i)] = -32768;
    const i16* x = buf.data() + 120;
    i64 fast[100], model[100];
    ilbc_lag_correlations(x, 20, 100, fast);
    ilbc_lag_correlations_model(x, 20, 100, model);
    for (int k = 0; k < 100; ++k) ASSERT_EQ(model[k], fast[k]) << trial << " lag " << 20 + k;
  }
}

TEST(IlbcFastForms, SynthesisFilterEqualsTheSaturatingChain) {
  std::mt19937 rng(10);
  const int coef_amp[] = {1500, 3276, 8000, 32767};
  for (int trial = 0; trial < 400; ++trial) {
    auto a = random_samples(rng, 11, coef_amp[trial % 4]);
    a[0] = 4096;
    if (trial % 7 == 0) a[1] = -32768;
    auto fast = random_samples(rng, 10 + 80, 32767);
    if (trial % 3 == 0) fast[static_cast<std::size_t>(rng() % 90)] = -32768;
    auto model = fast;
    ilbc_Syn_filt(a.data(), fast.data() + 10, fast.data() + 10, 80);
    ilbc_Syn_filt_model(a.data(), model.data() + 10, model.data() + 10, 80);
    ASSERT_EQ(model, fast) << trial;
  }
}

TEST(IlbcFastForms, CodebookFilterEqualsTheSaturatingChainPerSample) {
  std::mt19937 rng(8);
  const int amplitudes[] = {1000, 15000, 15541, 15542, 32767};
  for (int trial = 0; trial < 300; ++trial) {
    auto in = random_samples(rng, 3 + 40 + 4, amplitudes[trial % 5]);
    if (trial % 5 == 2) in[static_cast<std::size_t>(rng() % 47)] = static_cast<i16>(trial % 2 ? 15541 : -15541);
    if (trial % 2 == 0)  // one window aligned with the taps' signs: the largest sum the filter makes
      for (int j = 0; j < 8; ++j)
        in[static_cast<std::size_t>(10 + j)] = static_cast<i16>((ilbc_cbfiltersTbl_rev_q15[static_cast<std::size_t>(j)] < 0 ? -1 : 1) * amplitudes[trial % 5]);
    if (trial % 9 == 4) in[10] = -32768;
    std::vector<i16> fast(40);
    ilbc_cb_filter(in.data() + 3, fast.data(), 40);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(ilbc_genCBvec_loop2(in.data() + 3 + i), fast[static_cast<std::size_t>(i)]) << trial << " at " << i;
  }
}

}  // namespace

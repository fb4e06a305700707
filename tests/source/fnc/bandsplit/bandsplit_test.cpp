// The two-band filter bank: perfect reconstruction with a 39-sample delay, saturation, aliasing of
// the output with the input, and the band the low branch carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "bandsplit.h"
#include "bandsplit_kernels.h"

namespace {

std::vector<int16_t> noise(int n, int amplitude, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-amplitude, amplitude);
  std::vector<int16_t> x(n);
  for (auto& v : x) v = static_cast<int16_t>(d(rng));
  return x;
}

}  // namespace

TEST(BandSplit, PrototypeIsSymmetricWithUnityGain) {
  int sum = 0;
  for (int k = 0; k < BS_TAPS; ++k) {
    EXPECT_EQ(bs_qmf40[k], bs_qmf40[BS_TAPS - 1 - k]);
    sum += bs_qmf40[k];
  }
  EXPECT_EQ(sum, 32772);
}

TEST(BandSplit, SplitThenCombineReturnsTheInputDelayedBy39Samples) {
  // With silent stretches: the filters' tails run out into them and start again after them.
  auto in = noise(160 * 50, 12000, 1);
  std::fill(in.begin() + 160 * 10, in.begin() + 160 * 14, int16_t{0});
  std::fill(in.begin() + 160 * 20 + 17, in.begin() + 160 * 21 + 3, int16_t{0});
  std::fill(in.begin() + 160 * 30, in.begin() + 160 * 31, int16_t{0});
  std::array<int16_t, BS_SPLIT_STATE_WORDS> split{};
  std::array<int16_t, BS_COMBINE_STATE_WORDS> comb{};
  std::vector<int16_t> out;
  for (size_t f = 0; f < in.size() / 160; ++f) {
    std::array<int16_t, 80> low{};
    std::array<int16_t, 160> high;
    bandSplit(low.data(), high.data(), &in[f * 160], split.data());
    bandCombine(low.data(), high.data(), high.data(), comb.data());  // output over the high band
    out.insert(out.end(), high.begin(), high.end());
  }
  for (int n = 0; n < BS_DELAY; ++n) ASSERT_EQ(out[n], 0);
  for (size_t n = BS_DELAY; n < out.size(); ++n) ASSERT_EQ(out[n], in[n - BS_DELAY]) << n;
}

TEST(BandSplit, ZeroInZeroOutAndTheLowBandIsAddedIntoTheMix) {
  std::array<int16_t, BS_SPLIT_STATE_WORDS> split{};
  std::array<int16_t, 80> low;
  low.fill(77);
  std::array<int16_t, 160> zero{}, high;
  bandSplit(low.data(), high.data(), zero.data(), split.data());
  for (int16_t v : low) EXPECT_EQ(v, 77);
  for (int16_t v : high) EXPECT_EQ(v, 0);
}

TEST(BandSplit, LowBranchKeepsLowTonesAndTheHighBandKeepsHighTones) {
  for (double freq : {500.0, 6500.0}) {
    std::array<int16_t, BS_SPLIT_STATE_WORDS> split{};
    double plow = 0, phigh = 0;
    for (int f = 0; f < 20; ++f) {
      std::array<int16_t, 160> x;
      for (int i = 0; i < 160; ++i) x[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * freq * (f * 160 + i) / 16000));
      std::array<int16_t, 80> low{};
      std::array<int16_t, 160> high;
      bandSplit(low.data(), high.data(), x.data(), split.data());
      if (f < 4) continue;
      for (int16_t v : low) plow += double(v) * v * 2;
      for (int16_t v : high) phigh += double(v) * v;
    }
    if (freq < 4000) {
      EXPECT_GT(plow, 100 * phigh) << freq;
    } else {
      EXPECT_GT(phigh, 100 * plow) << freq;
    }
  }
}

// The split computed in 64 bits with saturation only at the outputs.
void modelSplit(const std::vector<int16_t>& wide, size_t frame, std::array<int16_t, 80>& low,
                std::array<int16_t, 160>& high) {
  auto at = [&](long i) { return i >= 0 ? int64_t{wide[i]} : 0; };
  auto sat = [](int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); };
  std::vector<int64_t> lowAll((frame + 1) * 80);
  for (size_t m = 0; m < lowAll.size(); ++m) {
    int64_t acc = 0;
    for (int k = 0; k < BS_TAPS; ++k) acc += bs_qmf40[k] * at(static_cast<long>(2 * m) - k);
    lowAll[m] = sat((acc + 16384) >> 15);
  }
  for (int n = 0; n < 80; ++n) low[n] = sat(int64_t{low[n]} + lowAll[frame * 80 + n]);
  for (int n = 0; n < 160; ++n) {
    const long j = static_cast<long>(frame * 160 + n);
    const int parity = n & 1;
    int64_t acc = 0;
    for (int k = 0; k < BS_TAPS / 2; ++k) {
      const long m = static_cast<long>(frame * 80 + n / 2) - k;
      acc += bs_qmf40[2 * k + parity] * (m >= 0 ? lowAll[m] : 0);
    }
    high[n] = sat(at(j - BS_DELAY) - sat((acc + 8192) >> 14));
  }
}

TEST(BandSplit, FullScaleSaturatesWithoutWrapping) {
  // Full-scale square waves and a loud mix: every output equals the saturated exact value.
  std::vector<int16_t> x(160 * 4);
  for (size_t i = 0; i < x.size(); ++i) x[i] = (i / 3) % 2 ? 32767 : -32768;
  std::array<int16_t, BS_SPLIT_STATE_WORDS> split{};
  for (size_t f = 0; f < 4; ++f) {
    std::array<int16_t, 80> low, lowModel;
    low.fill(static_cast<int16_t>(f % 2 ? 30000 : -30000));
    lowModel = low;
    std::array<int16_t, 160> high, highModel;
    bandSplit(low.data(), high.data(), &x[f * 160], split.data());
    modelSplit(x, f, lowModel, highModel);
    EXPECT_EQ(low, lowModel) << "frame " << f;
    EXPECT_EQ(high, highModel) << "frame " << f;
  }
}

TEST(BandSplit, HighBandMayOverlayTheInput) {
  const auto in = noise(160 * 4, 20000, 3);
  std::array<int16_t, BS_SPLIT_STATE_WORDS> s1{}, s2{};
  for (int f = 0; f < 4; ++f) {
    std::array<int16_t, 80> l1{}, l2{};
    std::array<int16_t, 160> h1, h2;
    std::copy_n(&in[f * 160], 160, h2.begin());
    bandSplit(l1.data(), h1.data(), &in[f * 160], s1.data());
    bandSplit(l2.data(), h2.data(), h2.data(), s2.data());
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(h1, h2);
  }
}

TEST(BandSplit, TwoHalfFrameCombinesEqualOneFullFrame) {
  const auto low = noise(80 * 6, 10000, 4);
  const auto high = noise(160 * 6, 3000, 5);
  std::array<int16_t, BS_COMBINE_STATE_WORDS> c1{}, c2{};
  for (int f = 0; f < 6; ++f) {
    std::array<int16_t, 160> y1, y2;
    bandCombine(&low[f * 80], &high[f * 160], y1.data(), c1.data());
    bandCombine2(&low[f * 80], &high[f * 160], y2.data(), c2.data());
    bandCombine2(&low[f * 80 + 40], &high[f * 160 + 80], y2.data() + 80, c2.data());
    EXPECT_EQ(y1, y2);
  }
}

// Every vector form of the filters and the band mixes gives the portable form's bits, on
// full-scale noise with runs of the extremes (the sums then wrap and the outputs saturate), for
// every input count the bank uses and the tails of the wide form.
TEST(BandSplit, VectorFiltersMatchThePortableFilters) {
  std::mt19937 rng(21);
  std::uniform_int_distribution<int> full(-32768, 32767), pick(0, 5);
  auto sample = [&] {
    const int p = pick(rng);
    return static_cast<int16_t>(p == 0 ? -32768 : p == 1 ? 32767 : full(rng));
  };
  const BsKernels& ref = bsKernelsPortable();
  int forms = 0;
  for (const BsKernels* k : {bsKernelsSse2(), bsKernelsAvx2()}) {
    if (k == nullptr) continue;
    ++forms;
    for (int trial = 0; trial < 400; ++trial) {
      std::array<int16_t, BS_TAPS + 160> x;
      std::array<int16_t, 20 + 80> u;
      for (auto& v : x) v = sample();
      for (auto& v : u) v = sample();
      std::array<int16_t, 80> lowRef, low;
      ref.firDown(x.data() + BS_TAPS, lowRef.data());
      k->firDown(x.data() + BS_TAPS, low.data());
      ASSERT_EQ(low, lowRef) << k->name << " trial " << trial;
      for (int inputs : {80, 40, 24, 8}) {
        std::array<int16_t, 160> yRef{}, y{};
        ref.firUp(u.data() + 20, yRef.data(), inputs);
        k->firUp(u.data() + 20, y.data(), inputs);
        ASSERT_EQ(y, yRef) << k->name << " inputs " << inputs << " trial " << trial;
      }
      // The band mixes, at every length to 40 and the frame's, into a third buffer and in place.
      for (int count : {trial % 41, 80, 160}) {
        std::array<int16_t, 160> sumRef{}, sum{}, diffRef{}, diff{};
        ref.addSat(sumRef.data(), x.data(), x.data() + 40, count);
        k->addSat(sum.data(), x.data(), x.data() + 40, count);
        ASSERT_EQ(sum, sumRef) << k->name << " add " << count;
        ref.subSat(diffRef.data(), x.data() + 7, x.data(), count);
        std::copy_n(x.begin(), 160, diff.begin());
        k->subSat(diff.data(), x.data() + 7, diff.data(), count);
        std::copy(x.begin() + count, x.begin() + 160, diffRef.begin() + count);
        ASSERT_EQ(diff, diffRef) << k->name << " subtract in place " << count;
      }
    }
  }
  RecordProperty("vector_forms", forms);
}

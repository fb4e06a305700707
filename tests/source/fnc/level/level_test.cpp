// Level estimation: the estimator's levels and window, the floor follower's moves, the smoothed
// gain, and the noise model the echo canceller shapes its comfort noise with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "level.h"
#include "lpc.h"

namespace {

LEV_ESTMM3 freshEstimator() {
  LEV_ESTMM3 e;
  std::memset(&e, 0, sizeof(e));
  e.mm2.mm.levMin = e.mm2.mm.levMax = e.mm2.levMin2 = -36 * 256;
  e.a[0] = 4096;
  return e;
}

}  // namespace

TEST(Level, BlockPowersAndTheEstimatorWindow) {
  int16_t ones[40];
  for (int16_t& v : ones) v = 1000;
  EXPECT_EQ(levelBlockPower(ones, 40, 8), 40u * 1000000u >> 8);
  int32_t hp = 0;
  uint32_t p = 0;
  for (int i = 0; i < 50; ++i) p = levelBlockPwrHpf(ones, 40, 8, &hp);
  EXPECT_LT(p, 2u);  // the high-passed measure ignores a steady level

  LEV_ESTMM3 e = freshEstimator();
  LEV_LS ls{};
  levelEstimator(&e.mm2.mm.est, &ls, 0, 0, 0, nullptr, 40, nullptr);
  const int16_t lowest = ls.blk;
  EXPECT_EQ(lowest, -736 - 768 * 30 + 4073);  // a power of 0 gives the lowest level
  const uint32_t loud = levelBlockPower(ones, 40, 8);
  std::vector<int16_t> wins;
  for (int i = 0; i < 8; ++i) {
    levelEstimator(&e.mm2.mm.est, &ls, 0, 0, loud, nullptr, 40, nullptr);
    wins.push_back(ls.win);
  }
  // The window reaches the block level only once all seven slots hold the new power.
  EXPECT_LT(wins[5], ls.blk - 20);
  EXPECT_NEAR(wins[6], ls.blk, 40);
  EXPECT_EQ(wins[6], wins[7]);
  // The level scale: 1000 samples are 10 log10(1e6 / 2^30) + 4.8 dB.
  EXPECT_NEAR(ls.blk / 256.0, 10 * std::log10(1e6 / 1073741824.0) + 4.81, 0.3);
}

TEST(Level, FloorFollowerMovesAsDocumented) {
  int16_t m = -40 * 256, M = -40 * 256, hang = 5;
  levelMinimaxTrack(&m, &M, -50 * 256, &hang, -36 * 256, 0);  // hang running: straight down
  EXPECT_EQ(m, -50 * 256);
  EXPECT_EQ(hang, 4);
  m = -40 * 256;
  hang = 0;
  levelMinimaxTrack(&m, nullptr, -50 * 256, &hang, -36 * 256, 0);  // an eighth of the way
  EXPECT_EQ(m, -40 * 256 - 10 * 256 / 8);
  m = -40 * 256;
  levelMinimaxTrack(&m, nullptr, -50 * 256, &hang, -36 * 256, 2);  // mode bit 1: straight down
  EXPECT_EQ(m, -50 * 256);
  m = -40 * 256;
  levelMinimaxTrack(&m, nullptr, -39 * 256, &hang, -36 * 256, 0);  // within 3 dB above: 1/32
  EXPECT_EQ(m, -40 * 256 + 256 / 32);
  m = -40 * 256;
  levelMinimaxTrack(&m, nullptr, -30 * 256, &hang, -36 * 256, 0);  // above the ceiling: hang set
  EXPECT_EQ(m, -40 * 256);
  EXPECT_EQ(hang, 24);
  hang = 0;
  levelMinimaxTrack(&m, nullptr, -37 * 256 + 100, &hang, -20 * 256, 0);  // slow rise
  EXPECT_EQ(m, -40 * 256 + 9);
  levelMinimaxTrack(&m, nullptr, -30 * 256, &hang, -20 * 256, 1);  // mode bit 0: never rises
  EXPECT_EQ(m, -40 * 256 + 9);
  m = -80 * 256;
  levelMinimaxTrack(&m, nullptr, -90 * 256, &hang, -20 * 256, 2);
  EXPECT_EQ(m, -72 * 256);  // limited below
  M = -40 * 256;
  m = -60 * 256;
  levelMinimaxTrack(&m, &M, -37 * 256, &hang, -20 * 256, 0);
  EXPECT_EQ(M, -40 * 256 + 3 * 256 / 8);  // up an eighth of the way
  M = -30 * 256;
  m = -70 * 256;
  levelMinimaxTrack(&m, &M, -46 * 256, &hang, -20 * 256, 0);
  EXPECT_EQ(M, -30 * 256 - 16 * 256 / 128);  // down a 128th, for a level well above the floor
  M = -45 * 256 + 10;
  levelMinimaxTrack(&m, &M, -55 * 256, &hang, -20 * 256, 0);
  EXPECT_EQ(M, -45 * 256);  // never below -45 dB
}

TEST(Level, SmoothedGainReachesItsScaleAndHoldsIt) {
  LEV_COMPSTATE st{{1024, 1024}, 0, {-1, -1, -1, -1}, -1};
  std::vector<int16_t> x(40, 1000);
  std::vector<int16_t> second(80, 1000);
  levelGain1(x.data(), second.data(), &st, 2048, 40);
  EXPECT_NEAR(st.g[0], 2048, 40);  // most of the way within one block
  EXPECT_GT(x[0], 1000);
  EXPECT_LT(x[0], 1100);
  EXPECT_NEAR(x[39], 2000, 40);
  EXPECT_EQ(second[78], x[39]);
  EXPECT_EQ(second[79], x[39]);
  std::vector<int16_t> y(40, 1000);
  levelGain1(y.data(), nullptr, &st, 2048, 40);
  EXPECT_EQ(st.g[0], 2048);  // snapped after the second block
  levelGain1(y.data(), nullptr, &st, 2048, 40);
  y.assign(40, 1000);
  levelGain1(y.data(), nullptr, &st, 2048, 40);
  for (int16_t v : y) EXPECT_EQ(v, 2000);
  std::vector<int16_t> z(40, 30000);
  levelGain(z.data(), nullptr, &st, 2048, 20000, 40);
  for (int16_t v : z) EXPECT_EQ(v, 20000);
}

TEST(Level, NoiseModelFollowsColouredNoiseAndStaysStable) {
  // Noise through 1 / (1 - 0.9 z^-1): the model's first coefficient heads towards -0.9.
  LEV_ESTMM3 e = freshEstimator();
  std::mt19937 rng(1);
  std::normal_distribution<double> w(0, 300);
  double prev = 0;
  int16_t scratch[200];
  for (int b = 0; b < 3000; ++b) {
    int16_t blk[40];
    for (int16_t& v : blk) {
      prev = 0.9 * prev + w(rng);
      v = static_cast<int16_t>(std::lround(prev));
    }
    levelSpectralEstimator(&e, blk, 40, scratch);
  }
  EXPECT_EQ(e.a[0], 4096);
  EXPECT_LT(e.a[1], -2800);
  EXPECT_GT(lpc_pred2refl(e.a, nullptr, 6), 0);
  EXPECT_LT(e.alpha, -3 * 256);  // a predictable noise: several dB of prediction gain
}

// The line services' numeric routines against direct models and their documented edge values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "lsv_math.h"

using namespace lsvmath;

TEST(LsvMath, MulGainRoundsAndSaturatesInQ12) {
  std::vector<int16_t> x = {0, 1, -1, 1000, -32768, 32767, 20000, -20000};
  std::vector<int16_t> unity = x;
  hsfMulGain(unity.data(), static_cast<int>(unity.size()), 4096);
  EXPECT_EQ(unity, x);
  std::vector<int16_t> twice = x;
  hsfMulGain(twice.data(), static_cast<int>(twice.size()), 8192);
  EXPECT_EQ(twice, (std::vector<int16_t>{0, 2, -2, 2000, -32768, 32767, 32767, -32768}));
  int16_t half[] = {3, -3, 1};
  hsfMulGain(half, 3, 2048);  // (x * 2048 + 2048) >> 12 rounds halves up
  EXPECT_EQ(half[0], 2);
  EXPECT_EQ(half[1], -1);
  EXPECT_EQ(half[2], 1);
}

TEST(LsvMath, DecibelConversionsMeetTheirAnchors) {
  EXPECT_EQ(utildB2scale(0), 32767);
  EXPECT_EQ(utildB2scale(100), 32767);
  EXPECT_EQ(utildB2scale(-1536), 16383);
  EXPECT_EQ(utildB2scale(-23040), 0);
  EXPECT_EQ(utilPower2dB(1u << 30, 0), -736);
  EXPECT_EQ(utilPower2dB(1u << 29, 0), -1504);
  EXPECT_EQ(utilPower2dB(0, 0), -736 - 768 * 30);
  // Every 6 dB step of amplitude halves the scale, within half a dB (quarter-dB steps, truncated).
  for (int level = -20000; level < 0; level += 97) {
    const double want = 32768.0 * std::pow(10.0, level / 256.0 / 20.0);
    EXPECT_NEAR(utildB2scale(level), want, want * 0.06 + 3) << level;
  }
}

TEST(LsvMath, DivisionAndNormalisation) {
  EXPECT_EQ(utildiv_s(0, 100), 0);
  EXPECT_EQ(utildiv_s(100, 100), 32767);
  EXPECT_EQ(utildiv_s(1, 2), 16384);
  EXPECT_EQ(utildiv_s(1, 3), 10922);
  int16_t zero[4] = {};
  EXPECT_EQ(utilVectorNorm(zero, 4), 0);
  int16_t x[3] = {100, -300, 5};
  EXPECT_EQ(utilVectorNorm(x, 3), 6);  // 300 << 6 = 19200
  EXPECT_EQ(x[1], -19200);
  EXPECT_EQ(utilMaxAbs(x, 3), 19200);
  int16_t most[1] = {-32768};
  EXPECT_EQ(utilVectorNorm(most, 1), 0);
}

TEST(LsvMath, HighpassRemovesDirectCurrentAndPassesSpeechBand) {
  std::vector<int16_t> dc(4000, 8000);
  int32_t u = 0;
  utilHighpass(dc.data(), dc.data(), 4000, 5, &u);
  EXPECT_LE(std::abs(dc.back()), 2);
  std::vector<int16_t> tone(800);
  for (int i = 0; i < 800; ++i) tone[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 1000 * i / 8000.0));
  std::vector<int16_t> out(800);
  u = 0;
  utilHighpass(tone.data(), out.data(), 800, 5, &u);
  double pin = 0, pout = 0;
  for (int i = 400; i < 800; ++i) {
    pin += double(tone[i]) * tone[i];
    pout += double(out[i]) * out[i];
  }
  EXPECT_NEAR(10 * std::log10(pout / pin), 0.0, 0.3);
}

TEST(LsvMath, FirMatchesAWideModelIncludingAnOddTap) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> d(-32768, 32767);
  for (int taps : {2, 7, 40, 128}) {
    std::vector<int16_t> h(taps), x(taps - 1 + 50), y(50);
    for (auto& v : h) v = static_cast<int16_t>(d(rng) / 4);
    for (auto& v : x) v = static_cast<int16_t>(d(rng));
    fir(x.data() + taps - 1, y.data(), h.data(), taps, 50);
    for (int i = 0; i < 50; ++i) {
      int64_t acc = 0;
      for (int j = 0; j < taps; ++j) acc += int64_t{h[j]} * x[taps - 1 + i - j];
      EXPECT_EQ(y[i], sat16((2 * acc) >> 16)) << taps << " " << i;
    }
  }
}

// Comfort noise and voice activity detection: the noise level a SID announces, the detector's
// hangover and SID timing, and the frame shapes of the generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <type_traits>
#include <array>
#include <cmath>
#include <string>
#include <random>
#include <vector>

#include "bandsplit.h"
#include "vadcng.h"

namespace {

std::vector<int16_t> comfortNoise(int16_t type, uint16_t sidByte, int frames, uint16_t wide = 0) {
  GCNG c;
  cngInit(&c, type);
  cngCfg(&c, type, wide);
  const int per = wide ? 80 : 40;
  std::vector<int16_t> out(frames * per);
  uint16_t sid = static_cast<uint16_t>(sidByte << 8);
  for (int f = 0; f < frames; ++f) cngProcess(&c, &out[f * per], f == 0 ? &sid : nullptr, f == 0, 40);
  return out;
}

// Level on the library's scale, from the mean square directly: 0 dB x 256 is a mean square of
// 2^30 / 10^0.481 (the scale the estimator's block constant gives a 40-sample block).
double levelDb(const std::vector<int16_t>& x) {
  double p = 0;
  for (int16_t v : x) p += double(v) * v;
  return 10 * std::log10(p / x.size() / 1073741824.0) + 4.81;
}

// Gaussian-ish noise at a mean square of `dbfs` dB re 32768^2 (a sum of uniform variables).
std::vector<int16_t> noise(int n, double dbfs, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> d(0.0, 32768.0 * std::pow(10.0, dbfs / 20));
  std::vector<int16_t> x(n);
  for (auto& v : x) v = static_cast<int16_t>(std::clamp(d(rng), -32768.0, 32767.0));
  return x;
}

void tone(std::vector<int16_t>& x, size_t from, size_t n, double dbfs) {
  const double a = 32768.0 * std::pow(10.0, dbfs / 20) * std::sqrt(2.0);
  for (size_t i = from; i < from + n && i < x.size(); ++i) {
    x[i] = static_cast<int16_t>(std::clamp(x[i] + a * std::sin(2 * M_PI * 1000 * i / 8000.0), -32768.0, 32767.0));
  }
}

struct Frame {
  int silent;
  int sid;  // SID level byte, or -1
};

std::vector<Frame> detect(GVAD& v, const std::vector<int16_t>& x, int n) {
  std::vector<Frame> out;
  for (size_t off = 0; off + n <= x.size(); off += n) {
    Frame f{gvad(&v, &x[off], n, 0), -1};
    uint16_t word = 0;
    if (f.silent && gvadGenSID(&v, &word) == 2) f.sid = word >> 8;
    out.push_back(f);
  }
  return out;
}

}  // namespace

TEST(ComfortNoise, ShapedNoiseComesOutAtTheSidLevel) {
  for (uint16_t sid : {36, 45, 55, 65}) {
    const auto out = comfortNoise(HAPI_GCNG_HOTHNOISE, sid, 800);
    const double got = levelDb(out);
    EXPECT_NEAR(got, -sid, 1.0) << "SID " << sid;
    // The detector that sent the SID measures the same noise at the same level.
    GVAD v;
    gvadInit(&v, HAPI_GVAD_MODE_CONSERVATIVE);
    detect(v, out, 160);
    EXPECT_NEAR(v.levelFlat.mm.levMin / 256.0, -sid, 1.0) << "SID " << sid;
    RecordProperty("cn_level_error_sid" + std::to_string(sid), std::to_string(got + sid));
  }
  // White noise runs 10 dB below the announced level.
  EXPECT_NEAR(levelDb(comfortNoise(HAPI_GCNG_WHITENOISE, 50, 800)), -60, 1.0);
}

TEST(ComfortNoise, SidLevelByteEdges) {
  GCNG c;
  cngInit(&c, HAPI_GCNG_HOTHNOISE);
  EXPECT_EQ(c.level, -23040);
  EXPECT_EQ(c.seed, 21845);
  int16_t out[40];
  uint16_t zero = 0x0000, ninety = 0x5A00, twenty = 0x1400;
  cngProcess(&c, out, &zero, 1, 40);
  EXPECT_EQ(c.level, -23040);
  cngProcess(&c, out, &ninety, 1, 40);
  EXPECT_EQ(c.level, -23040);
  cngProcess(&c, out, &twenty, 1, 40);
  EXPECT_EQ(c.level, -9216);  // capped at -36 dB
  cngCfg(&c, HAPI_GCNG_WHITENOISE, 0);
  cngProcess(&c, out, &twenty, 1, 40);
  EXPECT_EQ(c.level, -11776);
  const int16_t keep = c.level;
  cngProcess(&c, out, nullptr, 0, 40);  // no SID: the level stays
  EXPECT_EQ(c.level, keep);
}

TEST(ComfortNoise, FrameShapesByTypeAndBand) {
  GCNG c;
  cngInit(&c, HAPI_GCNG_NOISEOFF);
  std::vector<int16_t> out(200, 123);
  uint16_t sid = 40 << 8;
  cngProcess(&c, out.data(), &sid, 1, 40);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(out[i], 0);
  EXPECT_EQ(out[40], 123);
  cngCfg(&c, HAPI_GCNG_NOISEOFF, 1);
  cngProcess(&c, out.data(), &sid, 1, 40);
  for (int i = 0; i < 80; ++i) EXPECT_EQ(out[i], 0);
  EXPECT_EQ(out[80], 123);

  // Configuration that changes nothing keeps the generator running where it is.
  cngCfg(&c, HAPI_GCNG_HOTHNOISE, 1);
  cngProcess(&c, out.data(), &sid, 1, 40);
  const int16_t seed = c.seed;
  cngCfg(&c, HAPI_GCNG_HOTHNOISE, 1);
  EXPECT_EQ(c.seed, seed);
  EXPECT_EQ(c.a[1], -4984);  // the wideband Hoth set
  cngCfg(&c, HAPI_GCNG_HOTHNOISE, 0);
  EXPECT_EQ(c.seed, 21845);
  EXPECT_EQ(c.a[1], -3516);
}

TEST(ComfortNoise, SpectrumMatchedWidebandNoiseHasASilentHighBand) {
  const auto wide = comfortNoise(HAPI_GCNG_MATCHSPECTRUM, 40, 200, 1);
  const auto hoth = comfortNoise(HAPI_GCNG_HOTHNOISE, 40, 200, 1);
  auto highBandShare = [](const std::vector<int16_t>& x) {
    std::array<int16_t, BS_SPLIT_STATE_WORDS> st{};
    double lowP = 0, highP = 0;
    for (size_t off = 0; off + 160 <= x.size(); off += 160) {
      std::array<int16_t, 80> lo{};
      std::array<int16_t, 160> hi;
      bandSplit(lo.data(), hi.data(), &x[off], st.data());
      if (off < 800) continue;
      for (int16_t v : lo) lowP += 2.0 * v * v;
      for (int16_t v : hi) highP += double(v) * v;
    }
    return highP / (lowP + highP);
  };
  EXPECT_LT(highBandShare(wide) * 10, highBandShare(hoth));  // 16 kHz Hoth noise reaches above 4 kHz
  EXPECT_LT(highBandShare(wide), 0.002);
}

TEST(VoiceActivity, FreshDetectorHangsOverThenSendsAFirstSid) {
  GVAD v;
  gvadInit(&v, HAPI_GVAD_MODE_CONSERVATIVE);
  const auto quiet = noise(8000 * 6, -62, 1);
  const auto frames = detect(v, quiet, 80);  // 10 ms frames
  int firstSilent = -1;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].silent) {
      firstSilent = static_cast<int>(i);
      break;
    }
  }
  EXPECT_EQ(firstSilent, 30);  // 300 ms of initial hangover
  ASSERT_GE(firstSilent, 0);
  EXPECT_GE(frames[firstSilent].sid, 0);
  // During a long silence the SID comes again once a second.
  std::vector<int> sids;
  for (size_t i = firstSilent; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].silent, 1);
    if (frames[i].sid >= 0) sids.push_back(static_cast<int>(i));
  }
  // (while the floor settles from its -36 dB start, moves of 2 dB bring them sooner)
  ASSERT_GE(sids.size(), 4u);
  for (size_t k = sids.size() - 2; k < sids.size(); ++k) EXPECT_EQ(sids[k] - sids[k - 1], 100);
  for (size_t k = 1; k < sids.size(); ++k) EXPECT_GE(sids[k] - sids[k - 1], 25);
}

TEST(VoiceActivity, ToneBurstsAreVoiceAndHangOver) {
  GVAD v;
  gvadInit(&v, HAPI_GVAD_MODE_TRANSPARENT);
  auto x = noise(8000 * 4, -75, 2);
  tone(x, 16000, 400, -50);  // 50 ms of tone after 2 s of quiet
  std::vector<int> silent;
  for (size_t off = 0; off + 40 <= x.size(); off += 40) silent.push_back(gvad(&v, &x[off], 40, 0));
  for (int f = 400; f < 410; ++f) EXPECT_EQ(silent[f], 0) << f;
  int hang = 0;
  for (int f = 410; f < 500 && silent[f] == 0; ++f) hang += 5;
  EXPECT_GE(hang, 50);  // activity of 10 ms or more: at least 50 ms of hangover
  EXPECT_LT(hang, 200);
  EXPECT_EQ(silent[399], 1);
}

TEST(VoiceActivity, ASingleShortBlockGivesAtLeastTenMsOfHangover) {
  GVAD v;
  gvadInit(&v, HAPI_GVAD_MODE_TRANSPARENT);
  auto x = noise(8000 * 2, -75, 3);
  tone(x, 8000, 40, -56);  // one 5 ms block, about 13 dB above the -68 dB floor of the mode
  std::vector<int> silent;
  for (size_t off = 0; off + 40 <= x.size(); off += 40) silent.push_back(gvad(&v, &x[off], 40, 0));
  EXPECT_EQ(silent[199], 1);
  EXPECT_EQ(silent[200], 0);
  int hang = 0;
  for (int f = 201; f < 300 && silent[f] == 0; ++f) hang += 5;
  EXPECT_GE(hang, 10);
}

TEST(VoiceActivity, FloorChangeRepeatsTheSidEarlyUnlessBothAreVeryQuiet) {
  GVAD v;
  gvadInit(&v, HAPI_GVAD_MODE_AGGRESSIVE);
  auto x = noise(8000 * 6, -52, 4);
  auto quieter = noise(8000 * 2, -58, 5);
  x.insert(x.end(), quieter.begin(), quieter.end());
  const auto frames = detect(v, x, 160);
  std::vector<int> sids;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].sid >= 0) sids.push_back(static_cast<int>(i));
  }
  // After the step down at frame 300 a SID follows within a second (250 ms after the last one at
  // the earliest) and carries the lower floor.
  int after = -1;
  for (size_t k = 0; k < sids.size(); ++k) {
    if (sids[k] > 300) {
      after = static_cast<int>(k);
      break;
    }
  }
  ASSERT_GE(after, 1);
  EXPECT_GE(sids[after] - sids[after - 1], 12);  // 250 ms at 20 ms frames
  EXPECT_LT(sids[after] - sids[after - 1], 50);
  EXPECT_GE(frames[sids[after]].sid, frames[sids[after - 1]].sid + 2);

  // Two floors both below -65 dB: only the one-second repeat.
  GVAD q;
  gvadInit(&q, HAPI_GVAD_MODE_TRANSPARENT);
  auto y = noise(8000 * 2, -80, 6);
  auto y2 = noise(8000 * 2, -72, 7);
  y.insert(y.end(), y2.begin(), y2.end());
  const auto qf = detect(q, y, 160);
  int last = -1;
  for (size_t i = 0; i < qf.size(); ++i) {
    if (qf[i].sid < 0) continue;
    if (last >= 0) {
      EXPECT_EQ(static_cast<int>(i) - last, 50) << i;
    }
    last = static_cast<int>(i);
  }
}

TEST(VoiceActivity, ModesOffAndForcedVoiceNeverSuppress) {
  GVAD v;
  gvadInit(&v, HAPI_GVAD_MODE_OFF);
  const auto x = noise(8000, -80, 8);
  for (size_t off = 0; off + 160 <= x.size(); off += 160) EXPECT_EQ(gvad(&v, &x[off], 160, 0), 0);
  uint16_t w = 0;
  EXPECT_EQ(gvadGenSID(&v, &w), 2);
  EXPECT_EQ(gvadGenSID(&v, &w), 0);
  gvadCfg(&v, HAPI_GVAD_MODE_AGGRESSIVE);
  EXPECT_EQ(v.mode, HAPI_GVAD_MODE_AGGRESSIVE);
  EXPECT_EQ(v.hangCount, 300);
  gvadCfg(&v, HAPI_GVAD_MODE_CONSERVATIVE);  // between active modes: ignored
  EXPECT_EQ(v.mode, HAPI_GVAD_MODE_AGGRESSIVE);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(gvad(&v, &x[0], 160, 1), 0);
}

// The concealment of the G.711 decoder reaches the generator through a pointer of this type.
static_assert(std::is_same_v<decltype(&cngProcess), void (*)(GCNG*, int16_t*, uint16_t*, uint16_t, uint16_t)>);

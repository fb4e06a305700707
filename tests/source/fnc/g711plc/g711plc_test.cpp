// Concealment of lost 5 ms frames: pitch analysis, output delay, exact continuation of periodic
// signals, attenuation to silence and comfort noise, recovery fades and continuity at the joins.
#include "orvox_fixture.h"
#include "g711plc.h"
#include "vadcng.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kFrame = PLC_FRAMESZ;
constexpr int kDelay = 30;

// A signal of exact period `period`: fundamental plus a second harmonic.
std::vector<std::int16_t> periodic(int period, int frames, double amplitude = 9000) {
  std::vector<std::int16_t> s(static_cast<std::size_t>(frames) * kFrame);
  for (std::size_t n = 0; n < s.size(); ++n) {
    const double ph = 2 * M_PI * static_cast<double>(n % period) / period;
    s[n] = static_cast<std::int16_t>(std::lround(amplitude * (std::sin(ph) + 0.4 * std::sin(2 * ph + 0.7))));
  }
  return s;
}

// Runs the concealment over `in`, frame k lost when lost[k]; returns the output stream.
std::vector<std::int16_t> run(HSZPLC &st, const std::vector<std::int16_t> &in,
                              const std::vector<bool> &lost, std::vector<bool> *noise = nullptr) {
  std::vector<std::int16_t> out(in.size());
  for (std::size_t k = 0; k * kFrame < in.size(); ++k) {
    const bool l = k < lost.size() && lost[k];
    const bool cn = do_plc(&st, nullptr, &in[k * kFrame], &out[k * kFrame], l);
    if (noise) noise->push_back(cn);
  }
  return out;
}

std::vector<bool> loss_at(int first, int count, int frames) {
  std::vector<bool> lost(static_cast<std::size_t>(frames), false);
  for (int k = first; k < first + count && k < frames; ++k) lost[static_cast<std::size_t>(k)] = true;
  return lost;
}

int max_step(const std::vector<std::int16_t> &s, std::size_t from = 1) {
  int m = 0;
  for (std::size_t n = std::max<std::size_t>(from, 1); n < s.size(); ++n) m = std::max(m, std::abs(s[n] - s[n - 1]));
  return m;
}

TEST(G711Plc, PitchOfAnEmptyHistoryIs41) {
  std::vector<std::int16_t> buf(PLC_HISTORYLEN, 0);
  EXPECT_EQ(plcfindpitch(buf.data() + buf.size()), 41);
}

TEST(G711Plc, PitchAnalysisFindsThePeriodAcrossItsRange) {
  // The correlation is not normalised by energy, so the window at a neighbouring lag may win by
  // one sample.
  for (int period : {61, 64, 73, 80, 97, 110, 120}) {
    const auto s = periodic(period, 10);
    EXPECT_NEAR(plcfindpitch(s.data() + s.size()), period, 1) << "period " << period;
  }
  // Short periods repeat within the search range: a multiple of the period is as good a match.
  for (int period : {40, 45, 53}) {
    const auto s = periodic(period, 10);
    const int p = plcfindpitch(s.data() + s.size());
    const int k = (p + period / 2) / period;
    EXPECT_NEAR(p, k * period, 1) << "period " << period;
  }
}

TEST(G711Plc, CrossFadeWeightsSumToUnity) {
  std::vector<std::int16_t> l(30, 10000), r(30, 10000), o(30);
  plcoverlapadd(l.data(), r.data(), o.data(), 30);
  for (int v : o) EXPECT_NEAR(v, 10000, 2);
  std::vector<std::int16_t> zero(30, 0);
  plcoverlapadd(l.data(), zero.data(), o.data(), 30);
  for (std::size_t i = 1; i < o.size(); ++i) EXPECT_LT(o[i], o[i - 1]);
}

TEST(G711Plc, GoodFramesPassThroughDelayedBy30Samples) {
  HSZPLC st;
  plcinit(&st);
  std::vector<std::int16_t> in(20 * kFrame);
  std::mt19937 rng(1);
  for (auto &v : in) v = static_cast<std::int16_t>(rng());
  const auto out = run(st, in, {});
  for (std::size_t n = 0; n < out.size(); ++n) {
    ASSERT_EQ(out[n], n < kDelay ? 0 : in[n - kDelay]) << n;
  }
}

TEST(G711Plc, ShortLossOfAPeriodicSignalContinuesItUnattenuated) {
  // Up to two lost frames repeat the last period without attenuation, so an exactly periodic
  // signal comes out as it went in (up to rounding), and the fade ends in the first good frame.
  for (int period : {64, 80, 120}) {
    for (int count : {1, 2}) {
      const auto in = periodic(period, 30);
      HSZPLC st;
      plcinit(&st);
      const auto out = run(st, in, loss_at(15, count, 30));
      for (std::size_t n = kDelay; n < out.size(); ++n) {
        // The fade's weights may exceed unity by one step per sample: a few units of rounding.
        ASSERT_NEAR(out[n], in[n - kDelay], 12) << "period " << period << " loss " << count << " at " << n;
      }
      EXPECT_EQ(st.erasecnt, 0);
      EXPECT_EQ(st.count, 0);
    }
  }
}

TEST(G711Plc, LongLossFadesToSilenceThenComfortNoise) {
  const auto in = periodic(80, 40);
  HSZPLC st;
  plcinit(&st);
  std::vector<bool> noise;
  const auto out = run(st, in, loss_at(10, 20, 40), &noise);
  for (int k = 0; k < 40; ++k) EXPECT_EQ(noise[k], k >= 10 + 12 && k < 30) << "frame " << k;

  // Gain of each lost frame against the signal it replaces (played 30 samples later):
  // attenuation starts with the third lost frame and reaches silence at the thirteenth.
  auto gain = [&](int k) {
    double eo = 0, ei = 0;
    for (int n = k * kFrame; n < (k + 1) * kFrame; ++n) {
      eo += double(out[n + kDelay]) * out[n + kDelay];
      ei += double(in[n]) * in[n];
    }
    return std::sqrt(eo / ei);
  };
  EXPECT_NEAR(gain(10), 1.0, 0.01);
  EXPECT_NEAR(gain(11), 1.0, 0.01);
  for (int k = 12; k < 22; ++k) {
    EXPECT_LT(gain(k), 1.0 - 0.1 * (k - 12)) << "frame " << k;
    EXPECT_GT(gain(k), 0.9 - 0.1 * (k - 12)) << "frame " << k;
  }
  EXPECT_LT(gain(21), 0.1);
  // Without a comfort-noise generator the concealment plays silence.
  for (int n = 22 * kFrame; n < 30 * kFrame; ++n) EXPECT_EQ(out[n], 0);
}

TEST(G711Plc, LongLossPlaysTheGeneratorsComfortNoiseAtItsLevel) {
  // A generator whose last SID said -40 dB; its twin, in the same state, shows what it makes.
  GCNG generator;
  cngInit(&generator, HAPI_GCNG_HOTHNOISE);
  std::uint16_t sid = 40 << 8;
  std::int16_t scratch[kFrame];
  cngProcess(&generator, scratch, &sid, 2, kFrame);
  GCNG twin = generator;

  const auto in = periodic(80, 20);
  HSZPLC st;
  plcinit(&st);
  std::int16_t out[kFrame];
  for (int k = 0; k < 5; ++k) EXPECT_FALSE(do_plc(&st, &generator, &in[k * kFrame], out, false));
  for (int k = 0; k < 12; ++k) EXPECT_FALSE(do_plc(&st, &generator, nullptr, out, true)) << "lost frame " << k;
  double energy = 0;
  for (int k = 12; k < 40; ++k) {
    ASSERT_TRUE(do_plc(&st, &generator, nullptr, out, true)) << "lost frame " << k;
    std::int16_t expected[kFrame];
    cngProcess(&twin, expected, nullptr, 0, kFrame);
    for (int n = 0; n < kFrame; ++n) {
      ASSERT_EQ(out[n], expected[n]) << "lost frame " << k << " sample " << n;
      energy += double(out[n]) * out[n];
    }
  }
  // Noise at about -40 dB (327 rms at full scale 32768), not silence.
  const double rms = std::sqrt(energy / (28 * kFrame));
  std::printf("comfort noise %.1f rms\n", rms);
  EXPECT_GT(rms, 327 / 4.0);
  EXPECT_LT(rms, 327 * 4.0);
  // Good frames do not touch the generator.
  EXPECT_FALSE(do_plc(&st, &generator, &in[0], out, false));
  EXPECT_EQ(std::memcmp(&generator, &twin, sizeof(twin)), 0);
  // Without a generator the concealment plays silence.
  plcinit(&st);
  for (int k = 0; k < 12; ++k) do_plc(&st, nullptr, nullptr, out, true);
  EXPECT_TRUE(do_plc(&st, nullptr, nullptr, out, true));
  for (int v : out) EXPECT_EQ(v, 0);
}

TEST(G711Plc, RecoveryAfterTwelveLostFramesFadesOverTwoGoodFrames) {
  const auto in = periodic(80, 30);
  HSZPLC st;
  plcinit(&st);
  std::int16_t out[kFrame];
  for (int k = 0; k < 10; ++k) do_plc(&st, nullptr, &in[k * kFrame], out, false);
  for (int k = 10; k < 22; ++k) do_plc(&st, nullptr, nullptr, out, true);
  EXPECT_EQ(st.erasecnt, 12);
  do_plc(&st, nullptr, &in[22 * kFrame], out, false);
  // The fade is 80 samples long: 40 now and 40 in the next good frame.
  EXPECT_EQ(st.count, 40);
  EXPECT_EQ(st.erasecnt, 12);
  // The first good frame fades in from silence: its samples rise from 0 towards the input.
  const std::int16_t *first = &st.history[PLC_HISTORYLEN - kFrame];
  EXPECT_LT(std::abs(int(first[0])), 600);
  do_plc(&st, nullptr, &in[23 * kFrame], out, false);
  EXPECT_EQ(st.count, 0);
  EXPECT_EQ(st.erasecnt, 0);
  const std::int16_t *second = &st.history[PLC_HISTORYLEN - kFrame];
  EXPECT_NEAR(second[kFrame - 1], in[24 * kFrame - 1], 3);
}

int peak_of(const std::vector<std::int16_t> &s) {
  int p = 0;
  for (int v : s) p = std::max(p, std::abs(v));
  return p;
}

// A join steps no more than the signal does, plus what an 80-sample fade-in of the signal's peak
// adds (the recovery fades in from silence after a long loss), plus rounding.
int join_limit(const std::vector<std::int16_t> &in) { return max_step(in) + peak_of(in) / 80 + 2; }

TEST(G711Plc, EightySampleRecoveryFadeContinuesItsWeightsIntoTheSecondFrame) {
  // Silence, twelve lost frames (the synthetic signal is silence), then a constant: the fade in
  // is the good speech times a weight rising by 1/80 per sample over two frames.
  HSZPLC st;
  plcinit(&st);
  std::int16_t zeros[kFrame] = {}, level[kFrame], out[kFrame];
  for (auto &v : level) v = 10000;
  for (int k = 0; k < 10; ++k) do_plc(&st, nullptr, zeros, out, false);
  for (int k = 0; k < 12; ++k) do_plc(&st, nullptr, nullptr, out, true);
  const int incr = plc_divs_table[80];
  for (int frame = 0; frame < 2; ++frame) {
    do_plc(&st, nullptr, level, out, false);
    const std::int16_t *played = &st.history[PLC_HISTORYLEN - kFrame];
    for (int i = 0; i < kFrame; ++i) {
      const std::int64_t weight = static_cast<std::int64_t>(incr) * (40 * frame + i + 1);
      EXPECT_EQ(played[i], (2 * weight * 10000 + 0x8000) >> 16) << "frame " << frame << " sample " << i;
    }
  }
  EXPECT_EQ(st.erasecnt, 0);
}

TEST(G711Plc, JoinsStepNoMoreThanTheSignalItself) {
  for (int period : {64, 73, 97, 120}) {
    const auto in = periodic(period, 60);
    const int limit = join_limit(in);
    for (int count : {1, 2, 3, 4, 5, 8, 11, 12, 13, 20}) {
      HSZPLC st;
      plcinit(&st);
      const auto out = run(st, in, loss_at(12, count, 60));
      EXPECT_LE(max_step(out, kDelay + 1), limit) << "period " << period << " loss " << count;
    }
  }
}

TEST(G711Plc, LossStartIsBlendedThroughTheOutputDelay) {
  // A loss right after an abrupt change of signal: the repetition of the last period does not
  // continue the waveform, so without blending into the delayed samples the join would jump.
  const auto clean = periodic(80, 30);
  auto in = clean;
  for (std::size_t n = 11 * kFrame - 20; n < 11 * kFrame; ++n) in[n] = 6000;
  HSZPLC st;
  plcinit(&st);
  const auto out = run(st, in, loss_at(11, 1, 30));
  const int lost_start = 11 * kFrame + kDelay;  // output index of the first synthetic sample
  EXPECT_LE(std::abs(out[lost_start] - out[lost_start - 1]), max_step(clean));
}

// A loss that cuts a two-frame recovery fade short: continuing the old concealment there would
// join the half-faded-in speech to the attenuated repetition unblended, a click of about twice the
// signal's own steepest step.
TEST(G711Plc, LossDuringRecoveryStartsAFreshConcealment) {
  const auto in = periodic(64, 40);
  std::vector<bool> lost = loss_at(10, 6, 40);
  lost[17] = lost[18] = true;  // a new loss right after the first, half-faded good frame
  HSZPLC st;
  plcinit(&st);
  std::vector<bool> noise;
  const auto out = run(st, in, lost, &noise);
  EXPECT_EQ(st.erasecnt, 0);
  EXPECT_EQ(st.count, 0);
  EXPECT_LE(max_step(out, kDelay + 1), join_limit(in));
  // Once recovered the stream passes through untouched again.
  for (std::size_t n = 25 * kFrame; n < out.size(); ++n) EXPECT_EQ(out[n], in[n - kDelay]) << n;
}

TEST(G711Plc, RandomLossPatternsKeepTheJoinsSmooth) {
  // Where the pitch found is a sample off the true period the repetition drifts, and the fades
  // blend two slightly shifted waveforms: allow an eighth more than the signal's own step.
  for (int period : {64, 73, 97, 120}) {
    const auto in = periodic(period, 60);
    const int limit = join_limit(in) + max_step(in) / 8;
    std::mt19937 rng(static_cast<unsigned>(period));
    for (int trial = 0; trial < 200; ++trial) {
      std::vector<bool> lost(60, false);
      for (int k = 10; k < 60; ++k) lost[static_cast<std::size_t>(k)] = rng() % 3 == 0;
      HSZPLC st;
      plcinit(&st);
      const auto out = run(st, in, lost);
      ASSERT_LE(max_step(out, kDelay + 1), limit) << "period " << period << " trial " << trial;
    }
  }
}

TEST(G711Plc, RandomLossOnSpeechStaysBounded) {
  std::ifstream f(orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw"), std::ios::binary);
  std::vector<std::int16_t> in(8000 * 4);
  f.read(reinterpret_cast<char *>(in.data()), static_cast<std::streamsize>(in.size() * 2));
  std::mt19937 rng(3);
  std::vector<bool> lost(in.size() / kFrame);
  for (std::size_t k = 0; k < lost.size(); ++k) lost[k] = (rng() % 10) == 0 || (k > 300 && k < 320);
  HSZPLC st;
  plcinit(&st);
  const auto out = run(st, in, lost);
  EXPECT_LE(peak_of(out), peak_of(in) + 2);
}

}  // namespace

// DTMF detection in a line channel: digits from the independent generator become events, relay
// messages and squelched audio; timing rules (minimum on time at every phase, bridged breaks,
// early falses, long digits, filters) and no digit on speech- and music-like signals.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../../fnc/tone/oracle_tones.h"
#include "../linetest/line_harness.h"
#include "pte.h"

using namespace linetest;

namespace {

constexpr uint16_t kDetectAll = HAPI_PTE_INGRESSMASK | HAPI_PTE_MODE_DIG_EVT | HAPI_PTE_MODE_DIG_RELAY;
const std::string kDigits = "0123456789*#ABCD";

class PteDetect : public ::testing::Test {
 protected:
  void SetUp() override {
    open(&ptearc);
    ASSERT_EQ(command(HAPI_PTE_ENABLE_CMD, 1, kDetectAll).result, HAPISUCCESS);
    runFrames(10);
  }
  void TearDown() override { close(); }

  void play(const std::vector<int16_t>& x) {
    world().ingressIn.insert(world().ingressIn.end(), x.begin(), x.end());
    drain(20);
  }
  std::string digitsOn() {
    std::string s;
    for (const HostMsg& m : events(HAPI_PTE_TONE_ON_EVT)) s += m.op2 < 16 ? kDigits[m.op2] : '+';
    return s;
  }
};

std::vector<int16_t> silence(int ms) { return std::vector<int16_t>(static_cast<size_t>(ms) * 8, 0); }
std::vector<int16_t>& operator+=(std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST_F(PteDetect, EverySixteenDigitsReportedOnceWithEventsAndRelay) {
  play(oracle::dtmf(kDigits, 60, 60));
  EXPECT_EQ(digitsOn(), kDigits);
  const auto offs = events(HAPI_PTE_TONE_OFF_EVT);
  ASSERT_EQ(offs.size(), 16u);
  for (int d = 0; d < 16; ++d) EXPECT_EQ(offs[d].op2, d);
  // Relay: an on and an off message per digit, the off one reporting at least 320 samples.
  int ons = 0, ends = 0;
  for (const Ibd& m : world().ingressIbd) {
    if (m.mask != HSF_IBD_DIGIT_TONE) continue;
    if (m.header == PTE_RELAY_ON_MSG) {
      EXPECT_EQ(m.op1 >> 8, kDigits.find(kDigits[ons]));
      EXPECT_NEAR(m.op1 & 0xFF, 10, 1);  // each tone at -10 dBm0
      ++ons;
    } else if (m.header == PTE_RELAY_OFF_MSG) {
      EXPECT_EQ(m.op1 >> 8, ends);
      EXPECT_GE(m.op2, 320);
      EXPECT_NEAR(m.op2, 480, 80);  // 60 ms
      ++ends;
    }
  }
  EXPECT_EQ(ons, 16);
  EXPECT_EQ(ends, 16);
}

TEST_F(PteDetect, FortyMillisecondsDetectedAtEveryPhaseTwentyNever) {
  std::vector<int16_t> x;
  for (int phase = 0; phase < 40; phase += 3) {
    x += silence(100);
    x += std::vector<int16_t>(static_cast<size_t>(phase), 0);
    x += oracle::dtmf("5", 40, 0);
  }
  const int tones40 = static_cast<int>((40 + 2) / 3);
  play(x);
  EXPECT_EQ(digitsOn(), std::string(static_cast<size_t>(tones40), '5'));
  world().host.clear();
  x.clear();
  for (int phase = 0; phase < 40; phase += 3) {
    x += silence(100);
    x += std::vector<int16_t>(static_cast<size_t>(phase), 0);
    x += oracle::dtmf("5", 20, 0);
  }
  play(x);
  EXPECT_EQ(digitsOn(), "");
}

TEST_F(PteDetect, ATenMillisecondBreakIsBridged) {
  std::vector<int16_t> x = oracle::dtmf("7", 60, 0);
  x.resize(60 * 8);
  x += silence(10);
  x += oracle::dtmf("7", 60, 0);
  x.resize(130 * 8);
  x += silence(200);
  play(x);
  EXPECT_EQ(digitsOn(), "7");
  EXPECT_EQ(events(HAPI_PTE_TONE_OFF_EVT).size(), 1u);
}

TEST_F(PteDetect, DigitIsSquelchedFromTheRawPcm) {
  world().sendRawPcm = true;
  std::vector<int16_t> x = silence(40);
  x += oracle::dtmf("9", 200, 0);
  play(x);
  ASSERT_EQ(digitsOn(), "9");
  const auto& pcm = world().rawPcmOut;
  // The frames where the digit sounded and was seen are zeroed; most of the tone never leaves.
  size_t loud = 0;
  for (size_t i = 40 * 8; i < 240 * 8 && i < pcm.size(); ++i) loud += std::abs(pcm[i]) > 100;
  EXPECT_LT(loud, 40 * 8u);  // at most the pre-detection frames
}

TEST_F(PteDetect, TalkOffOnSpeechAndMusicLikeSignals) {
  // Speech-like: a glottal pulse train (100..250 Hz, gliding) through three gliding formant
  // resonators, syllables of 100..300 ms with pauses. Music-like: notes of the equal-tempered
  // scale with five harmonics, chords of three notes, vibrato. About 60 s in all.
  std::mt19937 rng(4242);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<int16_t> x;
  double t = 0;
  while (x.size() < 30u * 8000) {
    const int len = static_cast<int>(800 + u(rng) * 1600);
    const double f0a = 100 + 150 * u(rng), f0b = 100 + 150 * u(rng);
    double fm[3] = {300 + 600 * u(rng), 900 + 1500 * u(rng), 2000 + 1200 * u(rng)};
    double fmEnd[3] = {300 + 600 * u(rng), 900 + 1500 * u(rng), 2000 + 1200 * u(rng)};
    double y1[3] = {}, y2[3] = {}, phase = 0;
    for (int n = 0; n < len; ++n) {
      const double a = static_cast<double>(n) / len;
      const double f0 = f0a + (f0b - f0a) * a;
      phase += f0 / 8000;
      const double src = phase >= 1 ? (phase -= 1, 1.0) : 0.0;
      double out = 0;
      for (int k = 0; k < 3; ++k) {
        const double fc = fm[k] + (fmEnd[k] - fm[k]) * a, r = 0.97;
        const double y = src + 2 * r * std::cos(2 * M_PI * fc / 8000) * y1[k] - r * r * y2[k];
        y2[k] = y1[k];
        y1[k] = y;
        out += y / (k + 1);
      }
      x.push_back(static_cast<int16_t>(std::clamp(out * 900 * std::sin(M_PI * a), -32000.0, 32000.0)));
    }
    x += silence(static_cast<int>(20 + 150 * u(rng)));
  }
  while (x.size() < 60u * 8000) {
    const int len = static_cast<int>(1200 + u(rng) * 3000);
    double notes[3];
    for (double& f : notes) f = 220 * std::pow(2.0, std::floor(u(rng) * 36) / 12);
    for (int n = 0; n < len; ++n, t += 1.0 / 8000) {
      const double vib = 1 + 0.004 * std::sin(2 * M_PI * 5.5 * t);
      double out = 0;
      for (double f : notes) {
        for (int h = 1; h <= 5; ++h) out += std::sin(2 * M_PI * f * h * vib * t) / (h * h);
      }
      const double env = std::min(1.0, n / 200.0) * std::exp(-2.0 * n / len);
      x.push_back(static_cast<int16_t>(out * 3000 * env));
    }
  }
  play(x);
  const size_t talkOff = events(HAPI_PTE_TONE_ON_EVT).size();
  std::printf("talk-off: %zu digits in %.0f s of speech- and music-like signal\n", talkOff, x.size() / 8000.0);
  EXPECT_EQ(talkOff, 0u);
}

// DTMF detection in a line channel: digits from the independent generator become events, relay
// messages and squelched audio; timing rules (minimum on time at every phase, bridged breaks,
// early falses, long digits, filters) and no digit on speech- and music-like signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../../fnc/tone/oracle_tones.h"
#include "../linetest/line_harness.h"
#include "../linetest/test_signals.h"
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
  std::vector<int16_t> x = testsig::speechLike(30, 4242);
  x += testsig::musicLike(30, 4243);
  play(x);
  const size_t talkOff = events(HAPI_PTE_TONE_ON_EVT).size();
  std::printf("talk-off: %zu digits in %.0f s of speech- and music-like signal\n", talkOff, x.size() / 8000.0);
  EXPECT_EQ(talkOff, 0u);
}

TEST_F(PteDetect, ShortTonesCountEarlyFalses) {
  std::vector<int16_t> x;
  for (int i = 0; i < 5; ++i) {
    x += oracle::dtmf("8", 25, 0);
    x.resize(x.size() - 800);  // the generator's trailing silence
    x += silence(100);
  }
  play(x);
  EXPECT_EQ(digitsOn(), "");
  auto* pte = static_cast<PTEINSTANCEMEM*>(instance(HAPI_PTE_SRV));
  EXPECT_EQ(pte->stats.numEarlyFalses, 5);
  EXPECT_EQ(pte->stats.numDetectedDigits, 0);
}

TEST_F(PteDetect, TriggerFilterLongDigitsAndRelayRefresh) {
  // Only '3' is reported until it has been seen; then everything. Long digits after 1 s.
  ptesrv::HAPI_PTE_FILTER f{HAPI_PTE_FILTER_TYPE_TRIGGER, 1u << 3, 0xFFFF, 10};
  ASSERT_EQ(extCommand(HAPI_PTE_FILTER_CMD, &f, sizeof(f)).result, HAPISUCCESS);
  ASSERT_EQ(command(HAPI_PTE_SETREG1_CMD, 0, 400).result, HAPISUCCESS);  // refresh every 50 ms
  play(oracle::dtmf("134", 80, 80));
  EXPECT_EQ(digitsOn(), "34");
  world().host.clear();
  world().ingressIbd.clear();
  std::vector<int16_t> held = oracle::dtmf("6", 1500, 0);
  held.resize(1500 * 8);
  held += silence(300);
  play(held);
  const auto on = events(HAPI_PTE_TONE_ON_EVT);
  ASSERT_EQ(on.size(), 2u);
  EXPECT_EQ(on[0].op2, 6);
  EXPECT_EQ(on[1].op2, 6 + 16);
  EXPECT_EQ(events(HAPI_PTE_TONE_OFF_EVT).size(), 1u);
  int refreshes = 0;
  for (const Ibd& m : world().ingressIbd) refreshes += m.header == PTE_RELAY_ON_MSG;
  EXPECT_NEAR(refreshes, 1 + 1470 / 50, 2);
  EXPECT_EQ(world().ingressIbd.back().header, PTE_RELAY_VOICE_MSG);  // voice resumes afterwards
}

TEST_F(PteDetect, EgressDetectorReportsFarEndDigitsWithItsOwnEvents) {
  ASSERT_EQ(command(HAPI_PTE_ENABLE_CMD, 1, HAPI_PTE_EGRESSMASK | HAPI_PTE_MODE_DIG_EVT).result, HAPISUCCESS);
  std::vector<int16_t> x = silence(100);  // the re-armed detector first waits out its guard time
  x += oracle::dtmf("47#", 60, 60);
  world().egressIn.insert(world().egressIn.end(), x.begin(), x.end());
  drain(20);
  std::string got;
  for (const HostMsg& m : events(HAPI_PTE_TONE_ON_EGRESS_EVT)) got += kDigits[m.op2];
  EXPECT_EQ(got, "47#");
  EXPECT_EQ(events(HAPI_PTE_TONE_OFF_EGRESS_EVT).size(), 3u);
  EXPECT_TRUE(events(HAPI_PTE_TONE_ON_EVT).empty());
  // The far end's digits pass through unsquelched and uncounted.
  auto* pte = static_cast<PTEINSTANCEMEM*>(instance(HAPI_PTE_SRV));
  EXPECT_EQ(pte->stats.numDetectedDigits, 0);
}

// A block without a digit may skip the state machine only where its step would change nothing:
// checked on every state that a random stream of digits, glitches and gaps passes through (the
// guard time, a digit seen once, digits held, the hangover counting down after one).
TEST(PteStateMachine, RestsOnNoDigitOnlyWhereTheStepChangesNothing) {
  auto pte = std::make_unique<PTEINSTANCEMEM>();
  DETCTRL det;
  pteInitStm(&det);
  ptesrv::HAPI_PTE_FILTER filter{0, 0xFFFF, 0xFFFF, 0};
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> runLength(1, 14), digitOf(-3, 3);
  int rests = 0;
  int left = 0;
  int16_t digit = -1;
  for (int block = 0; block < 20000; ++block) {
    if (left-- == 0) {
      left = runLength(rng);
      digit = static_cast<int16_t>(std::max(-1, digitOf(rng)));
    }
    if (pteStmRestsOnNoDigit(&det)) {
      DETCTRL stepped;
      std::memcpy(&stepped, &det, sizeof(det));
      ptesrv::HAPI_PTE_FILTER f = filter;
      EXPECT_EQ(pteStm(pte.get(), &stepped, PTE_DIR_EGRESS, 0, -1, 31, &f), 0);
      EXPECT_EQ(std::memcmp(&stepped, &det, sizeof(det)), 0) << block;
      ++rests;
    }
    pteStm(pte.get(), &det, PTE_DIR_EGRESS, 0, digit, 10, &filter);
  }
  EXPECT_GT(rests, 1000);
}

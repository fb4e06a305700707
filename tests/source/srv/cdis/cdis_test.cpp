// Call discrimination in a line channel on tones from the independent generator: calling tone,
// answer tone with its timing, phase reversals, Bell 103 answer tone, V.21 flags; nothing on
// speech, noise or DTMF; the command rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../../fnc/tone/oracle_tones.h"
#include "../linetest/line_harness.h"
#include "../linetest/test_signals.h"
#include "cdis.h"

using namespace linetest;

namespace {

using oracle::connectTone;

// The independent generator opens its answer tones with 200 ms of silence.
constexpr long kAnsLead = 200;

std::vector<int16_t> silence(int ms) { return std::vector<int16_t>(static_cast<size_t>(ms) * 8, 0); }

class Cdis : public ::testing::Test {
 protected:
  void SetUp() override {
    open(&cdisarc);
    ASSERT_EQ(command(HAPI_CDIS_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
    runFrames(20);  // past the settling chunks
    world().host.clear();
  }
  void TearDown() override { close(); }

  // Plays x on the line and returns the detections as (flags, ms after the start of x).
  std::vector<std::pair<uint16_t, long>> detect(const std::vector<int16_t>& x, uint16_t event = HAPI_CDIS_DETECT_EVT) {
    const long start = world().ingressFrames;
    world().ingressIn.assign(x.begin(), x.end());
    drain(30);
    std::vector<std::pair<uint16_t, long>> out;
    for (const HostMsg& m : events(event)) out.emplace_back(m.op1, (m.frame - start) * 10);
    world().host.clear();
    return out;
  }
};

}  // namespace

TEST_F(Cdis, CallingToneAfterFourHundredMilliseconds) {
  auto d = detect(connectTone(MODEM_CONNECT_TONES_FAX_CNG, 1200));
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].first, CDIS_CNG | CDIS_MACHINE);
  std::printf("calling tone reported %ld ms after its start\n", d[0].second);
  EXPECT_GE(d[0].second, 400);
  EXPECT_LE(d[0].second, 430);
  ASSERT_EQ(command(HAPI_CDIS_CONFIG_CMD, 0, 0).result, HAPISUCCESS);  // calling-tone detection off
  EXPECT_TRUE(detect(connectTone(MODEM_CONNECT_TONES_FAX_CNG, 1200)).empty());
}

// The calling tone's band is 1100 +- 38 Hz; a 1 kHz test tone (the usual line-up tone) or a tone at
// 1200 Hz is speech-band audio and must not turn the call into a fax call.
TEST_F(Cdis, CallingToneBandEndsWellShortOfOneKilohertz) {
  auto sine = [](double hz, int ms) {
    std::vector<int16_t> x(static_cast<size_t>(ms) * 8);
    for (size_t n = 0; n < x.size(); ++n) x[n] = static_cast<int16_t>(std::lround(6000 * std::sin(2 * M_PI * hz * n / 8000)));
    return x;
  };
  for (double hz : {1062.0, 1138.0}) {
    const auto d = detect(sine(hz, 1000));
    ASSERT_EQ(d.size(), 1u) << hz << " Hz";
    EXPECT_EQ(d[0].first, CDIS_CNG | CDIS_MACHINE);
  }
  for (double hz : {1000.0, 1200.0}) EXPECT_TRUE(detect(sine(hz, 2000)).empty()) << hz << " Hz";
}

TEST_F(Cdis, AnswerToneAtThreeHundredFiftyMillisecondsNotAtThreeForty) {
  for (int lead = 0; lead < 80; lead += 10) {
    std::vector<int16_t> x = silence(300);
    x.resize(x.size() + static_cast<size_t>(lead), 0);
    const auto t340 = oracle::dualTone(2100, -12, 0, 0, 340);
    x.insert(x.end(), t340.begin(), t340.end());
    const auto after = silence(300);
    x.insert(x.end(), after.begin(), after.end());
    for (const auto& [flags, ms] : detect(x)) EXPECT_NE(flags, CDIS_MACHINE) << lead;
  }
  int seen = 0;
  for (int lead = 0; lead < 80; lead += 10) {
    std::vector<int16_t> x = silence(300);
    x.resize(x.size() + static_cast<size_t>(lead), 0);
    const auto t350 = oracle::dualTone(2100, -12, 0, 0, 350);
    x.insert(x.end(), t350.begin(), t350.end());
    const auto after = silence(300);
    x.insert(x.end(), after.begin(), after.end());
    int machine = 0;
    for (const auto& [flags, ms] : detect(x)) machine += flags == CDIS_MACHINE;
    ASSERT_LE(machine, 1);
    seen += machine;
  }
  EXPECT_GE(seen, 1);  // at the alignments where 35 whole chunks fit in the tone
  // A longer answer tone is always reported, once.
  const auto d = detect(connectTone(MODEM_CONNECT_TONES_ANS, 1500));
  ASSERT_GE(d.size(), 1u);
  EXPECT_EQ(d[0].first, CDIS_MACHINE);
  std::printf("answer tone reported %ld ms after its start\n", d[0].second - kAnsLead);
  EXPECT_NEAR(d[0].second - kAnsLead, 355, 15);
}

TEST_F(Cdis, OnePhaseReversalEventPerReversal) {
  // Reversals every 450 ms; the answer tone counts as valid from 350 ms on, so every reversal
  // from the first is reported.
  const auto d = detect(connectTone(MODEM_CONNECT_TONES_ANS_PR, 3300));
  std::vector<long> at;
  for (const auto& [flags, ms] : d) {
    if (flags == CDIS_PHASE_REVERSAL) at.push_back(ms - kAnsLead);
  }
  const size_t sent = (3300 - kAnsLead) / 450;
  std::printf("phase reversals reported: %zu of %zu sent\n", at.size(), sent);
  ASSERT_EQ(at.size(), sent);
  for (size_t i = 0; i < at.size(); ++i) EXPECT_NEAR(at[i], 450.0 * (i + 1), 30) << i;
}

TEST_F(Cdis, BellAnswerToneWhenEnabled) {
  EXPECT_TRUE(detect(connectTone(MODEM_CONNECT_TONES_BELL_ANS, 600)).empty());
  ASSERT_EQ(command(HAPI_CDIS_CONFIG_CMD, CDIS_BELL103_ENABLE, 0).result, HAPISUCCESS);
  runFrames(30);
  world().host.clear();
  const auto d = detect(connectTone(MODEM_CONNECT_TONES_BELL_ANS, 600));
  ASSERT_GE(d.size(), 1u);
  EXPECT_EQ(d[0].first, CDIS_BELL103_DETECT);
  std::printf("Bell answer tone reported %ld ms after its start\n", d[0].second - kAnsLead);
  EXPECT_NEAR(d[0].second - kAnsLead, 255, 15);
}

TEST_F(Cdis, NothingOnSpeechNoiseOrDtmf) {
  ASSERT_EQ(command(HAPI_CDIS_CONFIG_CMD, CDIS_CNG_ENABLE | CDIS_BELL103_ENABLE, 0).result, HAPISUCCESS);
  std::vector<int16_t> x = testsig::speechLike(20, 77);
  const auto music = testsig::musicLike(10, 78);
  x.insert(x.end(), music.begin(), music.end());
  noise_state_t* n = noise_init_dbm0(nullptr, 1234, -15, NOISE_CLASS_AWGN, 0);
  for (int i = 0; i < 8000 * 5; ++i) x.push_back(noise(n));
  noise_free(n);
  const auto dtmf = oracle::dtmf("0123456789*#ABCD", 200, 100);
  x.insert(x.end(), dtmf.begin(), dtmf.end());
  const auto d = detect(x);
  std::printf("detections on %.0f s of speech, music, noise and DTMF: %zu\n", x.size() / 8000.0, d.size());
  EXPECT_TRUE(d.empty());
}

TEST_F(Cdis, TenV21FlagsInARow) {
  // The local modem's bits: a count then 16-bit words, first bit in bit 0.
  auto bitsMsg = [](const std::vector<int>& bits) {
    std::vector<uint16_t> w(1 + (bits.size() + 15) / 16, 0);
    w[0] = static_cast<uint16_t>(bits.size());
    for (size_t i = 0; i < bits.size(); ++i) w[1 + i / 16] |= static_cast<uint16_t>(bits[i] << (i % 16));
    std::vector<uint8_t> b(w.size() * 2);
    std::memcpy(b.data(), w.data(), b.size());
    return World::Packet{HSF_IBD_LOCAL_MODEM, HAPI_V21_DATA_EVT, b};
  };
  std::vector<int> flags = {1, 0, 1, 1};  // noise first
  for (int f = 0; f < 12; ++f) {
    for (int b : {0, 1, 1, 1, 1, 1, 1, 0}) flags.push_back(b);
  }
  ASSERT_EQ(command(HAPI_CDIS_V21ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  std::vector<int> first(flags.begin(), flags.begin() + 50), rest(flags.begin() + 50, flags.end());
  world().ingressPackets.push_back({bitsMsg(first)});
  world().ingressPackets.push_back({bitsMsg(rest)});
  runFrames(4);
  EXPECT_EQ(events(HAPI_CDIS_HDLCDETECT_EVT).size(), 1u);
  // Without flags the search gives up after 100 messages.
  ASSERT_EQ(command(HAPI_CDIS_V21ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  for (int i = 0; i < 101; ++i) world().ingressPackets.push_back({bitsMsg({1, 1, 1, 1, 1, 1, 1, 1, 1, 1})});
  runFrames(105);
  EXPECT_EQ(events(HAPI_CDIS_V21TIMEOUT_EVT).size(), 1u);
}

TEST_F(Cdis, CustomFilterRules) {
  HAPI_CDIS_CUSTOMTONE_FILTER f{};
  f.duration = 200;
  f.offset = 50;
  EXPECT_EQ(extCommand(HAPI_CDIS_SETCUSTOMFILTER_CMD, &f, sizeof(f)).result, HAPISUCCESS);
  EXPECT_EQ(extCommand(HAPI_CDIS_SETCUSTOMFILTER_CMD, &f, 69).result, HAPIFAILURE);  // shorter than its record
  f.duration = 0;
  EXPECT_EQ(extCommand(HAPI_CDIS_SETCUSTOMFILTER_CMD, &f, sizeof(f)).result, HAPIFAILURE);
  f.duration = 40;
  EXPECT_EQ(extCommand(HAPI_CDIS_SETCUSTOMFILTER_CMD, &f, sizeof(f)).result, HAPIFAILURE);
  EXPECT_EQ(command(0x07B5, 0, 0).result, HAPIFAILURE);
}

TEST_F(Cdis, BuiltInCustomTone) {
  ASSERT_EQ(command(HAPI_CDIS_CONFIG_CMD, CDIS_CUSTOMTONE_ENABLE, 0).result, HAPISUCCESS);
  const auto d = detect(oracle::dualTone(2300, -12, 0, 0, 300));
  ASSERT_GE(d.size(), 1u);
  EXPECT_EQ(d[0].first, CDIS_CUSTOMTONE_DETECT);
  EXPECT_NEAR(d[0].second, 75, 15);  // seven chunks
}

TEST_F(Cdis, FortySampleFramesJudgeEverySecondFrame) {
  close();
  open(&cdisarc, 40);
  ASSERT_EQ(command(HAPI_CDIS_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  runFrames(40);
  world().host.clear();
  const long start = world().ingressFrames;
  const auto x = connectTone(MODEM_CONNECT_TONES_FAX_CNG, 1200);
  world().ingressIn.assign(x.begin(), x.end());
  drain(60);
  const auto d = events(HAPI_CDIS_DETECT_EVT);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].op1, CDIS_CNG | CDIS_MACHINE);
  EXPECT_NEAR((d[0].frame - start) * 5, 405, 10);  // 40 chunks of 10 ms, judged every other frame
}

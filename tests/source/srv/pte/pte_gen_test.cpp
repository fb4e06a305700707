// Generation in a line channel, judged on the egress audio: dial strings and relayed digits decoded
// by the independent receiver with their timing and levels, cadenced tones with their cadences and
// frequencies, and the refusal of profiles beyond the generator's records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../linetest/line_harness.h"
#include "pte.h"
#include "pte_signal_util.h"

using namespace linetest;
using sigmeas::amplitude;
using sigmeas::bursts;
using sigmeas::dB;

namespace {

const std::string kDigits = "0123456789*#ABCD";

std::string decode(const std::vector<int16_t>& x) {
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
  dtmf_rx(rx, x.data(), static_cast<int>(x.size()));
  char buf[128] = {};
  const size_t n = dtmf_rx_get(rx, buf, sizeof(buf) - 1);
  dtmf_rx_free(rx);
  return std::string(buf, n);
}

ptesrv::HAPI_PTE_DIALSTRING dialString(const std::string& digits, uint16_t on, uint16_t off, uint16_t level,
                                       uint16_t skew, uint16_t pause = 800) {
  ptesrv::HAPI_PTE_DIALSTRING ds{};
  ds.dBmLevel = level;
  ds.dBmSkew = skew;
  ds.pulseOnTime = on;
  ds.pulseOffTime = off;
  ds.pauseTime = pause;
  ds.numCharacters = static_cast<uint16_t>(digits.size());
  for (size_t i = 0; i < digits.size(); ++i) {
    const size_t d = kDigits.find(digits[i]);
    ds.digitArray[i] = static_cast<uint8_t>(d == std::string::npos ? 0xF0 : d);
  }
  return ds;
}

// Expected tone amplitude for an attenuation in whole dB below 0 dBm0 (22656).
double expected(int attenuation) { return 22656 * std::pow(10.0, -attenuation / 20.0); }

class PteGen : public ::testing::Test {
 protected:
  void SetUp() override { open(&ptearc); }
  void TearDown() override { close(); }
  PTEINSTANCEMEM* pte() { return static_cast<PTEINSTANCEMEM*>(instance(HAPI_PTE_SRV)); }
};

std::vector<uint8_t> relayPacket(uint16_t code, uint16_t ts, uint16_t digit, uint16_t power, uint16_t duration) {
  HAPI_PKT_HDR h{static_cast<uint16_t>(HAPI_PKT_TONE << 8 | code), 4, 0, ts};
  HAPI_PKT_TONEPAYLOAD p{static_cast<uint16_t>(digit << 8 | power), duration};
  std::vector<uint8_t> out(sizeof(h) + sizeof(p));
  std::memcpy(out.data(), &h, sizeof(h));
  std::memcpy(out.data() + sizeof(h), &p, sizeof(p));
  return out;
}

}  // namespace

TEST_F(PteGen, DialStringDecodedWithItsTimingAndLevels) {
  ASSERT_EQ(command(HAPI_PTE_ENABLE_CMD, 1, HAPI_PTE_INGRESSMASK | HAPI_PTE_MODE_DR_EG_EVT).result, HAPISUCCESS);
  runFrames(2);
  const std::string digits = "159*#0ABCD";
  const auto ds = dialString(digits, 480, 400, 7, 2);  // 60 ms on, 50 ms off
  ASSERT_EQ(extCommand(HAPI_PTE_DIALSTRING_CMD, &ds, sizeof(ds)).result, HAPISUCCESS);
  runFrames(150);
  const auto& out = world().egressOut;
  EXPECT_EQ(decode(out), digits);
  const auto b = bursts(out);
  ASSERT_EQ(b.size(), digits.size());
  // Levels: the playout attenuates by dBmLevel + 3 - 1 (high tone) and by the skew more (low).
  const int high = 7 + 3 - 1, low = high + 2;
  double worstTime = 0, worstLevel = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    const int d = static_cast<int>(kDigits.find(digits[i]));
    worstTime = std::max(worstTime, std::abs((b[i].end - b[i].start) - 480.0) / 8);
    if (i > 0) worstTime = std::max(worstTime, std::abs((b[i].start - b[i - 1].end) - 400.0) / 8);
    const size_t from = b[i].start + 40, to = b[i].end - 40;
    worstLevel = std::max(worstLevel, std::abs(dB(amplitude(out, from, to, dtgenDtmfProf[d].freq1) / expected(low))));
    worstLevel = std::max(worstLevel, std::abs(dB(amplitude(out, from, to, dtgenDtmfProf[d].freq2) / expected(high))));
  }
  std::printf("dial string: worst on/off time error %.2f ms, worst level error %.2f dB\n", worstTime, worstLevel);
  EXPECT_LE(worstTime, 5.0);
  EXPECT_LE(worstLevel, 0.5);
  // One playout event per digit, and the end 30 ms after the last digit's gap.
  EXPECT_EQ(events(HAPI_PTE_DR_EGRESS_EVT).size(), digits.size());
  const auto done = events(HAPI_PTE_TONE_GEN_EVT);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].data, (std::vector<uint8_t>{255, 0, 0, 0, 0, 0}));
}

TEST_F(PteGen, DialStringPauseAndRefusals) {
  // A pause after a digit waits pauseTime - minPulseOff beyond the digit's gap.
  const auto ds = dialString("1,2", 400, 400, 10, 1, 1600);
  ASSERT_EQ(extCommand(HAPI_PTE_DIALSTRING_CMD, &ds, sizeof(ds)).result, HAPISUCCESS);
  runFrames(80);
  auto b = bursts(world().egressOut);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_NEAR(static_cast<double>(b[1].start - b[0].end), 1600 + 40, 40);  // gap 400 + pause 1200 (+1 block)
  // Not DTMF: refused. Too short on-time: ignored (still answered 0).
  auto bad = dialString("1", 400, 400, 10, 1);
  bad.encoderType = 1;
  EXPECT_EQ(extCommand(HAPI_PTE_DIALSTRING_CMD, &bad, sizeof(bad)).result, HAPIFAILURE);
  world().egressOut.clear();
  auto shortOn = dialString("1", 39, 400, 10, 1);
  EXPECT_EQ(extCommand(HAPI_PTE_DIALSTRING_CMD, &shortOn, sizeof(shortOn)).result, HAPISUCCESS);
  runFrames(20);
  EXPECT_TRUE(bursts(world().egressOut).empty());
}

TEST_F(PteGen, RelayedDigitsPlayedOutOnceEachWithTheirDurations) {
  ASSERT_EQ(command(HAPI_PTE_ENABLE_CMD, 1, HAPI_PTE_INGRESSMASK | HAPI_PTE_MODE_DIG_EVT).result, HAPISUCCESS);
  runFrames(10);
  auto& q = world().egressPackets;
  q.clear();
  auto frameOf = [&](std::vector<World::Packet> p) { q.push_back(std::move(p)); };
  // Digit 5: on, two repeats with the same time stamp, off with 120 ms; then digit 9 at 80 ms.
  frameOf({{HSF_IBD_DIGIT_TONE, 0, relayPacket(HAPI_PKT_TC_DTMF_ON, 1000, 5, 12, 0)}});
  frameOf({});
  frameOf({{HSF_IBD_DIGIT_TONE, 0, relayPacket(HAPI_PKT_TC_DTMF_ON, 1000, 5, 12, 400)}});
  frameOf({{HSF_IBD_DIGIT_TONE, 0, relayPacket(HAPI_PKT_TC_DTMF_ON, 1000, 5, 12, 640)}});
  for (int i = 0; i < 8; ++i) frameOf({});
  frameOf({{HSF_IBD_DIGIT_TONE, 0, relayPacket(HAPI_PKT_TC_DTMF_OFF, 1000, 5, 12, 960)}});
  for (int i = 0; i < 10; ++i) frameOf({});
  frameOf({{HSF_IBD_DIGIT_TONE, 0, relayPacket(HAPI_PKT_TC_DTMF_ON, 3000, 9, 6, 0)},
           {HSF_IBD_DIGIT_TONE, 0, relayPacket(HAPI_PKT_TC_DTMF_ON, 3100, 20, 6, 0)}});  // 20: not a digit
  for (int i = 0; i < 4; ++i) frameOf({});
  frameOf({{HSF_IBD_DIGIT_TONE, 0, relayPacket(HAPI_PKT_TC_DTMF_OFF, 3000, 9, 6, 640)}});
  runFrames(80);
  const auto& out = world().egressOut;
  EXPECT_EQ(decode(out), "59");
  const auto b = bursts(out);
  ASSERT_EQ(b.size(), 2u);
  std::printf("relayed digits: %.2f ms (120 sent), %.2f ms (80 sent)\n", (b[0].end - b[0].start) / 8.0,
              (b[1].end - b[1].start) / 8.0);
  EXPECT_NEAR((b[0].end - b[0].start) / 8.0, 120, 5);
  EXPECT_NEAR((b[1].end - b[1].start) / 8.0, 80, 5);
  // Levels follow the packets' power (dB below 0 dBm0), less one dB for the high tone.
  const double l1 = dB(amplitude(out, b[0].start + 40, b[0].end - 40, 1336) / expected(11));
  const double l2 = dB(amplitude(out, b[1].start + 40, b[1].end - 40, 1477) / expected(5));
  std::printf("relayed digits: level errors %.2f dB and %.2f dB\n", l1, l2);
  EXPECT_NEAR(l1, 0, 0.5);
  EXPECT_NEAR(l2, 0, 0.5);
  EXPECT_EQ(pte()->stats.numGeneratedDigits, 2);
  EXPECT_EQ(pte()->stats.numLostDigits, 1);  // the code above 15, never used as an index
  // Each playout ends on its own: the first before the second digit arrived.
  ASSERT_EQ(events(HAPI_PTE_TONE_GEN_EVT).size(), 2u);
}

namespace {

// A profile as the host builds it: one group per cadence component, on then off, repeated.
HAPI_PTE_CUSTOM_PACKET cadence(std::vector<uint16_t> freqs, uint16_t onMs, uint16_t offMs, uint16_t level,
                               uint16_t wholeRepeats) {
  HAPI_PTE_CUSTOM_PACKET p{};
  p.signalContrl = HAPI_PTE_MKSIGNALCTRL(1, 0, 0, 0);
  p.profile.wholeToneRepeatCount = wholeRepeats;
  p.profile.numFreqGroups = 1;
  HAPI_PTE_FREQ_GRP& g = p.profile.freqGrp[0];
  g.signalLevel = HAPI_PTE_MKSIGNALLEVEL(level, 10);
  uint16_t mask = 0;
  for (size_t i = 0; i < freqs.size(); ++i) {
    g.freq[i] = freqs[i];
    g.amp[i] = 0x5880;
    mask = static_cast<uint16_t>(mask | (1u << i));
  }
  const uint16_t states = offMs == 0 ? 1 : 2;
  g.freqGroupInfo = HAPI_PTE_MKFREQGRP_INFO(static_cast<unsigned>(freqs.size()), states);
  g.pulse[0] = {HAPI_PTE_CADBIT_FREQ1, 1, mask, onMs};
  if (states == 2) {
    g.pulse[1] = {0, 0, mask, offMs};
  } else {
    g.pulse[0].PulseType |= HAPI_PTE_CADBIT_NOSTATECHANGE;
  }
  return p;
}

}  // namespace

TEST_F(PteGen, CadencedTonesKeepTheirCadenceAndFrequencies) {
  struct Case {
    const char* name;
    std::vector<uint16_t> freqs;
    uint16_t on, off;
  };
  const Case cases[] = {
      {"busy", {480, 620}, 500, 500},
      {"ringback", {440, 480}, 1000, 4000},
      {"congestion", {425}, 250, 250},
      {"callwt", {440}, 300, 9700},
  };
  for (const Case& c : cases) {
    world().egressOut.clear();
    world().host.clear();
    const auto p = cadence(c.freqs, c.on, c.off, 13, 100);
    ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &p, sizeof(p)).result, HAPISUCCESS) << c.name;
    runFrames((3 * (c.on + c.off)) / 10);
    ASSERT_EQ(command(HAPI_PTE_TONE_END_CMD, 0, 0).result, HAPISUCCESS);
    const auto& out = world().egressOut;
    const auto b = bursts(out);
    ASSERT_GE(b.size(), 2u) << c.name;
    double worst = 0;
    for (size_t i = 0; i + 1 < b.size(); ++i) {
      worst = std::max(worst, std::abs((b[i].end - b[i].start) / 8.0 - c.on));
      worst = std::max(worst, std::abs((b[i + 1].start - b[i].end) / 8.0 - c.off));
    }
    double worstHz = 0;
    for (uint16_t f : c.freqs) {
      worstHz = std::max(worstHz, std::abs(sigmeas::peakFrequency(out, b[0].start + 80, b[0].end - 80, f) - f));
    }
    // Level: 13 dB below full scale 0x5880 (which itself is 0 dBm0 at 22656).
    const double level = dB(amplitude(out, b[0].start + 80, b[0].end - 80, c.freqs[0]) / (0x5880 * std::pow(10, -13 / 20.0)));
    std::printf("%s: worst cadence error %.2f ms, worst frequency error %.3f Hz, level error %.2f dB\n", c.name, worst,
                worstHz, level);
    EXPECT_LE(worst, 5.0) << c.name;
    EXPECT_LE(worstHz, 0.5) << c.name;
    EXPECT_NEAR(level, 0, 0.5) << c.name;
  }
}

TEST_F(PteGen, SteadyToneAndPlayOnceProfiles) {
  // A dial tone runs until ended; its frequencies stay exact over two seconds.
  const auto dial = cadence({350, 440}, 0, 0, 13, 0);
  ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &dial, sizeof(dial)).result, HAPISUCCESS);
  runFrames(200);
  const auto& out = world().egressOut;
  ASSERT_EQ(bursts(out).size(), 1u);
  EXPECT_NEAR(sigmeas::peakFrequency(out, 400, out.size(), 350), 350, 0.5);
  EXPECT_NEAR(sigmeas::peakFrequency(out, 400, out.size(), 440), 440, 0.5);
  ASSERT_EQ(command(HAPI_PTE_TONE_END_CMD, 0, 0).result, HAPISUCCESS);
  world().egressOut.clear();
  runFrames(10);
  EXPECT_TRUE(bursts(world().egressOut).empty());
  // Played once: no repeat, no loop count: one burst, then the end event {0xFFFF, 0, 0}; a state
  // marked for an event reports its end.
  auto once = cadence({1000}, 200, 100, 10, 0);
  once.profile.freqGrp[0].pulse[0].PulseType |= HAPI_PTE_CADBIT_EVENT;
  world().egressOut.clear();
  world().host.clear();
  ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &once, sizeof(once)).result, HAPISUCCESS);
  runFrames(60);
  EXPECT_EQ(bursts(world().egressOut).size(), 1u);
  const auto evts = events(HAPI_PTE_TONE_GEN_EVT);
  ASSERT_EQ(evts.size(), 2u);
  EXPECT_EQ(evts[0].data, (std::vector<uint8_t>{0, 0, 0, 0, 0x01, 0x01}));  // state 0, PulseType FREQ1 | EVENT
  EXPECT_EQ(evts[1].data, (std::vector<uint8_t>{0xFF, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(pte()->genMode, PTE_GEN_NONE);
}

// The cadence bits beyond on and off: a group whose last state carries the loop count repeats
// that many more times, the whole profile repeats as asked; a modulated state is the carrier
// amplitude-modulated by tone 1 (sidebands at carrier +- modulator, no modulator of its own); a
// decaying state loses the same factor every 5 ms.
TEST_F(PteGen, LoopCountsModulationAndDecay) {
  // Group 0: 440 Hz 100 ms on, 100 ms off, looped once more; group 1: 1000 Hz 200 ms on, 100 ms
  // off; the whole profile once more. Six bursts, then the end.
  auto p = cadence({440}, 100, 100, 10, 1);
  p.profile.numFreqGroups = 2;
  HAPI_PTE_FREQ_GRP& g0 = p.profile.freqGrp[0];
  g0.pulse[1].PulseType |= HAPI_PTE_CADBIT_LOOPCOUNT;
  g0.freqGroupRepeatCount = 1;
  HAPI_PTE_FREQ_GRP& g1 = p.profile.freqGrp[1];
  g1 = g0;
  g1.freq[0] = 1000;
  g1.pulse[0].PulseTime = 200;
  g1.pulse[1].PulseType = 0;
  g1.freqGroupRepeatCount = 0;
  world().egressOut.clear();
  world().host.clear();
  ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &p, sizeof(p)).result, HAPISUCCESS);
  runFrames(200);
  const auto& out = world().egressOut;
  const auto b = bursts(out);
  ASSERT_EQ(b.size(), 6u);
  const double freqs[] = {440, 440, 1000, 440, 440, 1000};
  for (size_t i = 0; i < b.size(); ++i) {
    EXPECT_NEAR((b[i].end - b[i].start) / 8.0, freqs[i] == 1000 ? 200 : 100, 5) << i;
    EXPECT_NEAR(sigmeas::peakFrequency(out, b[i].start + 40, b[i].end - 40, freqs[i], 60), freqs[i], 2) << i;
  }
  EXPECT_EQ(events(HAPI_PTE_TONE_GEN_EVT).size(), 1u);
  EXPECT_EQ(pte()->genMode, PTE_GEN_NONE);
  // Without the loop-count bit the count is not used: two bursts.
  g0.pulse[1].PulseType = 0;
  p.profile.wholeToneRepeatCount = 0;
  world().egressOut.clear();
  ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &p, sizeof(p)).result, HAPISUCCESS);
  runFrames(100);
  EXPECT_EQ(bursts(world().egressOut).size(), 2u);

  // Modulation: 1000 Hz carrier, 50 Hz modulator at half of full scale: depth 1/2, so each
  // sideband at a quarter of the carrier.
  auto am = cadence({1000, 50}, 0, 0, 10, 0);
  am.profile.freqGrp[0].amp[1] = 16384;
  am.profile.freqGrp[0].pulse[0].PulseType |= HAPI_PTE_CADBIT_MODULATE;
  world().egressOut.clear();
  ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &am, sizeof(am)).result, HAPISUCCESS);
  runFrames(100);
  ASSERT_EQ(command(HAPI_PTE_TONE_END_CMD, 0, 0).result, HAPISUCCESS);
  const auto& x = world().egressOut;
  const double carrier = amplitude(x, 800, 8000, 1000);
  EXPECT_NEAR(carrier, 0x5880 * std::pow(10, -10 / 20.0), 0.05 * carrier);
  EXPECT_NEAR(amplitude(x, 800, 8000, 950) / carrier, 0.25, 0.02);
  EXPECT_NEAR(amplitude(x, 800, 8000, 1050) / carrier, 0.25, 0.02);
  EXPECT_LT(amplitude(x, 800, 8000, 50), 0.01 * carrier);

  // Decay: 1000 Hz steady, each block's amplitude 61440/65536 of the one before.
  auto decay = cadence({1000}, 0, 0, 6, 0);
  decay.profile.freqGrp[0].pulse[0].PulseType |= HAPI_PTE_CADBIT_DECAY;
  decay.profile.freqGrp[0].freqGroupRepeatCount = 61440;
  world().egressOut.clear();
  ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &decay, sizeof(decay)).result, HAPISUCCESS);
  runFrames(4);
  ASSERT_EQ(command(HAPI_PTE_TONE_END_CMD, 0, 0).result, HAPISUCCESS);
  const auto& y = world().egressOut;
  size_t t0 = 0;  // the first generated block (the channel delays the egress audio)
  while (t0 < y.size() && y[t0] == 0) ++t0;
  ASSERT_GE(y.size(), t0 + 400);
  const double a0 = 0x5880 * std::pow(10, -6 / 20.0);
  for (size_t k = 0; k < 10; ++k) {
    const double want = a0 * std::pow(61440.0 / 65536, static_cast<double>(k + 1));
    EXPECT_NEAR(amplitude(y, t0 + 40 * k, t0 + 40 * k + 40, 1000), want, 0.03 * want + 20) << "block " << k;
  }
}

TEST_F(PteGen, ProfilesBeyondTheRecordsAreRefused) {
  auto tooManyGroups = cadence({425}, 100, 100, 10, 0);
  tooManyGroups.profile.numFreqGroups = 6;
  EXPECT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &tooManyGroups, sizeof(tooManyGroups)).result, HAPIFAILURE);
  auto tooManyStates = cadence({425}, 100, 100, 10, 0);
  tooManyStates.profile.freqGrp[0].freqGroupInfo = HAPI_PTE_MKFREQGRP_INFO(1, 3);
  EXPECT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &tooManyStates, sizeof(tooManyStates)).result, HAPIFAILURE);
  auto badNext = cadence({425}, 100, 100, 10, 0);
  badNext.profile.freqGrp[0].pulse[1].PulseNextState = 2;
  EXPECT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &badNext, sizeof(badNext)).result, HAPIFAILURE);
  EXPECT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &badNext, 100).result, HAPIFAILURE);  // short record
  runFrames(20);
  EXPECT_TRUE(bursts(world().egressOut).empty());
  EXPECT_EQ(pte()->genMode, PTE_GEN_NONE);
}

TEST_F(PteGen, RegistersStatisticsAndUnknownCommands) {
  EXPECT_EQ(command(HAPI_PTE_SETREG1_CMD, 12, 480).result, HAPISUCCESS);
  EXPECT_EQ(command(HAPI_PTE_SETREG1_CMD, 13, 1).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(command(HAPI_PTE_SETREG1_CMD, 14, 1).result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(pte()->regs.minPulseOn, 480);
  HAPI_PTE_REGS regs{0, 0, 28, 0, 400, 400, 400};
  EXPECT_EQ(extCommand(HAPI_PTE_SETREGS_CMD, &regs, 10).result, HAPI_ERR_INVALID_REGS);  // short record
  EXPECT_EQ(command(HAPI_PTE_GETREGS_CMD, 0, 0).result, HAPISUCCESS);
  const auto got = events(HAPI_PTE_GETREGS_EVT);
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].data.size(), 14u);
  EXPECT_EQ(got[0].data[12] | got[0].data[13] << 8, 480);
  EXPECT_EQ(command(HAPI_PTE_TONE_VOLUME_CMD, 0, 0).result, HAPI_ERR_UNKNOWN_MESSAGE);
  EXPECT_EQ(command(HAPI_PTE_ENABLE_CMD, 1, 0x32).result, HAPISUCCESS);
  ASSERT_FALSE(world().topCommands.empty());
  EXPECT_EQ(world().topCommands.back().header, HAPI_CODEC_PTEOPTION_CMD);
  EXPECT_EQ(world().topCommands.back().op1, 0x32);
}

TEST_F(PteGen, ToneTowardsTheNetworkOverwritesTheMediaAndVoiceResumesAfter) {
  // 200 ms of 1000 Hz towards the network over line audio, the media buffer overwritten; once the
  // profile ends the packet side hears that voice resumes.
  auto p = cadence({1000}, 200, 100, 10, 0);
  p.signalContrl = HAPI_PTE_MKSIGNALCTRL(0, 1, 1, 0);
  p.profile.freqGrp[0].signalLevel = HAPI_PTE_MKSIGNALLEVEL(30, 6);
  world().ingressIn.assign(8000, 3000);  // line audio the tone must replace
  world().ingressOut.clear();
  ASSERT_EQ(extCommand(HAPI_PTE_TONE_GEN_CMD, &p, sizeof(p)).result, HAPISUCCESS);
  runFrames(60);
  const auto& out = world().ingressOut;
  const auto b = bursts(out, 300);
  ASSERT_FALSE(b.empty());
  // The ingress level byte (6 dB) applies, not the egress one.
  const double level = dB(amplitude(out, b[0].start + 80, b[0].start + 1200, 1000) / (0x5880 * std::pow(10, -6 / 20.0)));
  EXPECT_NEAR(level, 0, 0.5);
  double mean = 0;
  for (size_t i = b[0].start; i < b[0].start + 1600; ++i) mean += out[i];
  EXPECT_NEAR(mean / 1600, 0, 100);  // overwritten: the line's constant 3000 is gone
  int silentAfter = 0;
  for (size_t i = b[0].start + 1700; i < b[0].start + 2300 && i < out.size(); ++i) silentAfter += out[i] == 0;
  EXPECT_GT(silentAfter, 500);  // the off state overwrites the line audio with silence too
  bool resumed = false;
  for (const Ibd& m : world().ingressIbd) resumed |= m.header == PTE_RELAY_VOICE_MSG;
  EXPECT_TRUE(resumed);
  EXPECT_TRUE(world().egressOut.empty() || bursts(world().egressOut).empty());
}

// Tone and digit requests: the profile the digit and tone service receives, read back as
// frequencies, levels and cadence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "dsp_standin.h"
#include "hdspCodes.h"
#include "hdspTone.h"
#include "hdspVhd.h"
#include "vrgProv.h"

using namespace standin;

namespace {

// What a listener hears of one frequency group.
struct HeardGroup {
  std::vector<int> hertz;
  std::vector<int> levelDbm;  // per frequency, from the group's level and the amplitude
  std::vector<std::pair<bool, int>> cadence;  // (sounding, ms) per state
  bool steady = false;         // the last state holds
  int repeat = 0;
};

std::vector<HeardGroup> decode(const HAPI_PTE_CUSTOM_PACKET& p) {
  std::vector<HeardGroup> out;
  for (int g = 0; g < p.profile.numFreqGroups; ++g) {
    const HAPI_PTE_FREQ_GRP& grp = p.profile.freqGrp[g];
    HeardGroup h;
    const int egressAttenuation = grp.signalLevel & 0xFF;
    for (int k = 0; k < (grp.freqGroupInfo >> 8); ++k) {
      h.hertz.push_back(grp.freq[k]);
      const double below = grp.amp[k] == 0 ? 99 : 20 * std::log10(double{HDSP_TONE_FULL_AMPLITUDE} / grp.amp[k]);
      h.levelDbm.push_back(-egressAttenuation - static_cast<int>(std::lround(below)));
    }
    for (int s = 0; s < (grp.freqGroupInfo & 0xFF); ++s) {
      h.cadence.emplace_back((grp.pulse[s].PulseType & HAPI_PTE_CADBIT_FREQ1) != 0, grp.pulse[s].PulseTime);
      h.steady = (grp.pulse[s].PulseType & HAPI_PTE_CADBIT_NOSTATECHANGE) != 0;
    }
    h.repeat = grp.freqGroupRepeatCount;
    out.push_back(h);
  }
  return out;
}

HDSP_TONE_COMPONENT component(std::initializer_list<std::pair<uint32_t, int>> freqs, uint32_t on, uint32_t off) {
  HDSP_TONE_COMPONENT c{};
  c.soundDuration = on;
  c.silenceDuration = off;
  for (const auto& [hz, level] : freqs) c.frequency[c.frequencies++] = {hz, level};
  return c;
}

class HdspTone : public HostDspTest {
 protected:
  void SetUp() override {
    HostDspTest::SetUp();
    makeEndpoints(1, EPTYPE_FXS);
    ASSERT_EQ(InitVhds(&vrgEndpt[0], nullptr), EPSTATUS_SUCCESS);
    line = vrgEndpt[0].lineVhdHdl;
  }
  bool sent() {
    sync(line);
    return dsp.service(line, HAPI_PTE_SRV).lastExt.count(hdsp::HAPI_PTE_TONE_GEN_CMD) != 0;
  }
  HAPI_PTE_CUSTOM_PACKET packet() {
    sync(line);
    HAPI_PTE_CUSTOM_PACKET p{};
    const std::vector<uint8_t> data = dsp.service(line, HAPI_PTE_SRV).lastExt.at(hdsp::HAPI_PTE_TONE_GEN_CMD);
    EXPECT_EQ(data.size(), sizeof(p));
    std::memcpy(&p, data.data(), std::min(data.size(), sizeof(p)));
    return p;
  }
  uint16_t line = 0;
};

TEST_F(HdspTone, BusyToneIsHeardWithItsFrequenciesLevelsAndCadence) {
  HDSP_TONE_PROV_PATTERN busy{};
  busy.tones = 1;
  busy.noSteadyTone = 1;
  busy.tone[0] = component({{480, -24}, {620, -24}}, 500, 500);
  ASSERT_EQ(hdspToneOn(line, 0, -1, 0, 0, &busy, EGRESS_TONE, 0, VRG_COUNTRY_NORTH_AMERICA), 0);
  const HAPI_PTE_CUSTOM_PACKET p = packet();
  EXPECT_EQ(p.signalContrl, 0x1);
  const std::vector<HeardGroup> heard = decode(p);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].hertz, std::vector<int>({480, 620}));
  EXPECT_EQ(heard[0].levelDbm, std::vector<int>({-24, -24}));
  EXPECT_EQ(heard[0].cadence, (std::vector<std::pair<bool, int>>{{true, 500}, {false, 500}}));
  EXPECT_FALSE(heard[0].steady);
  EXPECT_EQ(p.profile.freqGrp[0].signalLevel >> 8, 10);  // nothing towards the network
}

TEST_F(HdspTone, UnequalLevelsAreHeardApart) {
  HDSP_TONE_PROV_PATTERN dial{};
  dial.tones = 1;
  dial.tone[0] = component({{350, -13}, {440, -25}, {620, -104}}, 400, 0);
  ASSERT_EQ(hdspToneOn(line, 0, -1, 0, 0, &dial, EGRESS_TONE, 0, VRG_COUNTRY_NORTH_AMERICA), 0);
  const HAPI_PTE_CUSTOM_PACKET p = packet();
  const HAPI_PTE_FREQ_GRP& g = p.profile.freqGrp[0];
  EXPECT_EQ(g.amp[0], 0x5880);
  EXPECT_EQ(g.amp[1], 5690);  // 12 dB below the loudest
  EXPECT_EQ(g.amp[2], 0);     // 91 dB below
  const std::vector<HeardGroup> heard = decode(p);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].levelDbm[0], -13);
  EXPECT_EQ(heard[0].levelDbm[1], -25);
  // One component, on 400 ms and never off, steady: one state that holds.
  EXPECT_EQ(g.freqGroupInfo & 0xFF, 1);
  EXPECT_EQ(g.pulse[0].PulseType, 0x21);
  EXPECT_TRUE(heard[0].steady);
}

TEST_F(HdspTone, StutterThenSteadyDialToneAppendsAHoldingGroup) {
  HDSP_TONE_PROV_PATTERN stutter{};
  stutter.tones = 2;
  stutter.tone[0] = component({{350, -17}, {440, -17}}, 100, 100);
  stutter.tone[0].repetitions = 9;
  stutter.tone[1] = component({{350, -17}, {440, -17}}, 200, 200);
  ASSERT_EQ(hdspToneOn(line, 0, -1, 0, 0, &stutter, EGRESS_TONE, 0, VRG_COUNTRY_NORTH_AMERICA), 0);
  const std::vector<HeardGroup> heard = decode(packet());
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[0].repeat, 9);
  EXPECT_EQ(heard[2].hertz, std::vector<int>({350, 440}));
  EXPECT_EQ(heard[2].levelDbm, std::vector<int>({-17, -17}));
  EXPECT_TRUE(heard[2].steady);
  EXPECT_EQ(packet().profile.freqGrp[0].pulse[1].PulseType & HAPI_PTE_CADBIT_LOOPCOUNT, HAPI_PTE_CADBIT_LOOPCOUNT);
}

TEST_F(HdspTone, ADelayedToneClosesWithAnEventAndWaits) {
  HDSP_TONE_PROV_PATTERN cw{};
  cw.tones = 2;
  cw.noSteadyTone = 1;
  cw.tone[0] = component({{440, -20}}, 300, 100);
  cw.tone[1] = component({{440, -20}}, 300, 0);
  ASSERT_EQ(hdspToneOn(line, 0, 1, 5000, 0x2, &cw, EGRESS_TONE, 0, VRG_COUNTRY_NORTH_AMERICA), 0);
  const HAPI_PTE_CUSTOM_PACKET p = packet();
  ASSERT_EQ(p.profile.numFreqGroups, 3);
  const HAPI_PTE_FREQ_GRP& second = p.profile.freqGrp[1];
  EXPECT_EQ(second.freqGroupInfo & 0xFF, 2);
  EXPECT_EQ(second.pulse[0].PulseNextState, 1);
  EXPECT_EQ(second.pulse[1].PulseType, HAPI_PTE_CADBIT_EVENT);
  EXPECT_EQ(second.pulse[1].PulseTime, 200);
  const HAPI_PTE_FREQ_GRP& wait = p.profile.freqGrp[2];
  EXPECT_EQ(wait.freqGroupInfo, 1);
  EXPECT_EQ(wait.pulse[0].PulseType, 0x102);
  EXPECT_EQ(wait.pulse[0].PulseTime, 5000);
}

TEST_F(HdspTone, UnplayablePatternsSendNothing) {
  HDSP_TONE_PROV_PATTERN mod{};
  mod.tones = 1;
  mod.tone[0] = component({{400, -10}, {20, -10}}, 1000, 2000);
  mod.tone[0].modulateTone = 1;
  mod.tone[0].modulatePercent = 101;
  EXPECT_EQ(hdspToneOn(line, 0, -1, 0, 0, &mod, EGRESS_TONE, 0, VRG_COUNTRY_JAPAN), -1);
  HDSP_TONE_PROV_PATTERN many{};
  many.tones = 6;
  EXPECT_EQ(hdspToneOn(line, 0, -1, 0, 0, &many, EGRESS_TONE, 0, VRG_COUNTRY_JAPAN), -1);
  EXPECT_EQ(hdspToneOn(line, 0, -1, 0, 0, &mod, static_cast<HDSP_TONE_DIRECTION>(7), 0, VRG_COUNTRY_JAPAN), -1);
  EXPECT_FALSE(sent());

  mod.tone[0].modulatePercent = 85;
  ASSERT_EQ(hdspToneOn(line, 0, -1, 0, 0, &mod, INGRESS_AND_EGRESS_TONE, 1, VRG_COUNTRY_JAPAN), 0);
  const HAPI_PTE_CUSTOM_PACKET p = packet();
  EXPECT_EQ(p.signalContrl, 0x7);
  EXPECT_EQ(p.profile.freqGrp[0].amp[1], 85 * 0x7FFF / 100);
  EXPECT_EQ(p.profile.freqGrp[0].pulse[0].PulseType, 0x3);
  EXPECT_EQ(p.profile.freqGrp[0].pulse[0].PulseFreqMask, 0x3);
  EXPECT_EQ(p.profile.freqGrp[0].signalLevel, 0x0A0A);  // 10 dB both ways
}

TEST_F(HdspTone, CallerIdAlertingSignalTakesTheCallersDelay) {
  ASSERT_EQ(hdspToneOn(line, 0, 1, 650, 0x4, nullptr, EGRESS_TONE, 0, VRG_COUNTRY_NORTH_AMERICA), 0);
  const HAPI_PTE_CUSTOM_PACKET p = packet();
  const std::vector<HeardGroup> heard = decode(p);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0].hertz, std::vector<int>({2130, 2750}));
  EXPECT_EQ(heard[0].levelDbm, std::vector<int>({-16, -16}));
  EXPECT_EQ(heard[0].cadence.front(), std::make_pair(true, 80));
  EXPECT_EQ(p.profile.freqGrp[1].pulse[0].PulseTime, 650);
  EXPECT_EQ(p.profile.freqGrp[1].pulse[0].PulseType, 0x104);
  EXPECT_EQ(gCASTones[1].profile.freqGrp[1].pulse[0].PulseTime, HDSP_TONE_DELAY_PLACEHOLDER);  // table intact
}

TEST_F(HdspTone, DigitsAreTheirTwoFrequencies) {
  ASSERT_EQ(hdspDigitOn(line, 0, HAPI_PTE_DTMFDDGTPND, 7, 0, 80, EGRESS_TONE), 0);
  HAPI_PTE_CUSTOM_PACKET p = packet();
  EXPECT_EQ(p.profile.freqGrp[0].freq[0], 941);
  EXPECT_EQ(p.profile.freqGrp[0].freq[1], 1477);
  EXPECT_EQ(p.profile.freqGrp[0].amp[0], 17996);  // twist 0 is out of range: 2 dB
  EXPECT_EQ(p.profile.freqGrp[0].pulse[0].PulseTime, 80);
  EXPECT_EQ(p.profile.freqGrp[0].pulse[1].PulseTime, 80);
  EXPECT_EQ(p.profile.freqGrp[0].signalLevel & 0xFF, 7);
  EXPECT_EQ(p.signalContrl, 0x5);
  ASSERT_EQ(hdspDigitOn(line, 0, HAPI_PTE_DTMFDDGTA, 7, 3, 80, EGRESS_TONE), 0);
  p = packet();
  EXPECT_EQ(p.profile.freqGrp[0].freq[1], 1633);
  EXPECT_EQ(p.profile.freqGrp[0].amp[0], 16039);
  ASSERT_EQ(hdspDigitOn(line, 0, 3, 7, 6, 80, EGRESS_TONE), 0);
  EXPECT_EQ(packet().profile.freqGrp[0].amp[0], 17996);
  EXPECT_EQ(hdspDigitOn(line, 0, 3, 7, 1, 80, INGRESS_AND_EGRESS_TONE), -1);
  EXPECT_EQ(hdspDigitOn(line, 0, 16, 7, 1, 80, EGRESS_TONE), -1);
  EXPECT_EQ(hdspDigitOn(line, 0, HAPI_PTE_DTMFDDGTERROR, 7, 1, 80, EGRESS_TONE), -1);
}

TEST_F(HdspTone, StoppingEndsEachRequestedSide) {
  ASSERT_EQ(hdspToneOff(line, INGRESS_AND_EGRESS_TONE), 0);
  sync(line);
  Service pte = dsp.service(line, HAPI_PTE_SRV);
  EXPECT_EQ(pte.count.at(hdsp::HAPI_PTE_TONE_END_CMD), 2);
  EXPECT_EQ(pte.lastStd.at(hdsp::HAPI_PTE_TONE_END_CMD).first, 0);  // the ingress side last
  ASSERT_EQ(hdspDigitOff(line), 0);
  sync(line);
  pte = dsp.service(line, HAPI_PTE_SRV);
  EXPECT_EQ(pte.count.at(hdsp::HAPI_PTE_TONE_END_CMD), 3);
  EXPECT_EQ(pte.lastStd.at(hdsp::HAPI_PTE_TONE_END_CMD).first, 1);
}

TEST_F(HdspTone, SignalsWithoutAToneItemPlayNothing) {
  const EPZTONEMAP* row = getEpzToneMapEntry(EPSIG_INIT_RING);
  ASSERT_EQ(row->provItem, -1);
  applyEgressTone(&vrgEndpt[0], VRG_COUNTRY_NORTH_AMERICA, row, 0);
  EXPECT_FALSE(sent());
  // A provisioned busy tone plays on the line.
  HDSP_TONE_PROV_PATTERN busy{};
  busy.tones = 1;
  busy.noSteadyTone = 1;
  busy.tone[0] = component({{425, -10}}, 500, 500);
  ASSERT_EQ(endptProvSetValue(0, EPPROV_ToneBusy, &busy, sizeof(busy)), EPSTATUS_SUCCESS);
  applyEgressTone(&vrgEndpt[0], VRG_COUNTRY_GERMANY, getEpzToneMapEntry(EPSIG_BUSY), 0);
  EXPECT_EQ(decode(packet())[0].hertz, std::vector<int>({425}));
}

TEST(HdspToneMaps, SignalsAndDigitsMapToTheirItemsAndEvents) {
  EXPECT_EQ(getEpzToneMapEntry(EPSIG_BUSY), &epToneMap[0]);
  EXPECT_EQ(getEpzToneMapEntry(EPSIG_SAS_CAS2)->provItem, EPPROV_ToneCallWaiting2);
  EXPECT_EQ(getEpzToneMapEntry(EPSIG_DISCONNECT)->provItem, EPPROV_ToneUserDefined5);
  EXPECT_EQ(getEpzToneMapEntry(EPSIG_VMWI)->event, EPSIG_NULL);
  EXPECT_EQ(GetDigitEvent(0), EPEVT_DTMF0);
  EXPECT_EQ(GetDigitEvent(HAPI_PTE_DTMFDDGTSTR), EPEVT_DTMFS);
  EXPECT_EQ(GetDigitEvent(HAPI_PTE_DTMFDDGTD), EPEVT_DTMFD);
  EXPECT_EQ(GetDigitEvent(99), EPEVT_NULL);
  EXPECT_EQ(digit2epevtMap[0].casEvent, 10);
  EXPECT_EQ(negFactor[0], 20192);
  EXPECT_EQ(negFactor[1], 17996);
}

}  // namespace

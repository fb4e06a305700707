// Call-progress tone profiles: what the line channel's detector holds after a profile is loaded,
// and the generated filters run through the detector's arithmetic on synthetic tones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "../hdsp/dsp_standin.h"
#include "cmtdCtl.h"
#include "hdspCodes.h"
#include "hdspVhd.h"

using namespace standin;

namespace {

using StdOps = std::pair<uint16_t, uint16_t>;

class CmtdProfiles : public HostDspTest {
 protected:
  void SetUp() override {
    HostDspTest::SetUp();
    makeEndpoints(1, EPTYPE_PSTN);
    ASSERT_EQ(InitVhds(&vrgEndpt[0], nullptr), EPSTATUS_SUCCESS);
    vhd = vrgEndpt[0].lineVhdHdl;
    cmtdCtlDisable(vhd);
  }
  HAPI_CMTD_FILTER filter() {
    sync(vhd);
    HAPI_CMTD_FILTER f{};
    const std::vector<uint8_t> data = dsp.service(vhd, HAPI_CMTD_SRV).lastExt.at(hdsp::HAPI_CMTD_FILTER_CMD);
    EXPECT_EQ(data.size(), sizeof(f));
    std::memcpy(&f, data.data(), std::min(data.size(), sizeof(f)));
    return f;
  }
  HAPI_CMTD_STM cadence() {
    HAPI_CMTD_STM s{};
    const std::vector<uint8_t> data = dsp.service(vhd, HAPI_CMTD_SRV).lastExt.at(hdsp::HAPI_CMTD_STM_CMD);
    EXPECT_EQ(data.size(), sizeof(s));
    std::memcpy(&s, data.data(), std::min(data.size(), sizeof(s)));
    return s;
  }
  uint16_t vhd = 0;
};

bool sameTaps(const HAPI_CMTD_FILTER& f, const int16_t* taps) {
  return std::memcmp(f.coefs.filterTaps, taps, sizeof(f.coefs.filterTaps)) == 0;
}

TEST_F(CmtdProfiles, GermanyListensForNorthAmericanDialToneAndItsOwnBusyTone) {
  ASSERT_EQ(cmtdCtlConfigFilter(vhd, VRG_COUNTRY_GERMANY, CMTD_TONE_TYPE_DIAL, CMTD_FILTER_1), HAPISUCCESS);
  HAPI_CMTD_FILTER f = filter();
  EXPECT_EQ(f.index, 0);
  EXPECT_EQ(f.coefs.type, 79);
  EXPECT_EQ(f.coefs.minAttenuation, 16384);
  EXPECT_TRUE(sameTaps(f, cmtdFilter350_440));
  HAPI_CMTD_STM s = cadence();
  EXPECT_EQ(s.index, 0);
  EXPECT_EQ(s.stmParams.substate[0].minTimeMs, 150);
  EXPECT_EQ(s.stmParams.substate[0].maxTimeMs, 0xFFFF);
  EXPECT_EQ(s.stmParams.substate[0].activeFilter, 1);
  EXPECT_EQ(s.stmParams.substate[1].maxTimeMs, 0);  // end of the sequence
  EXPECT_EQ(dsp.service(vhd, HAPI_CMTD_SRV).lastStd.at(hdsp::HAPI_CMTD_ENABLE_CMD), StdOps(0xC1, 0x0000));

  ASSERT_EQ(cmtdCtlConfigFilter(vhd, VRG_COUNTRY_GERMANY, CMTD_TONE_TYPE_BUSY, CMTD_FILTER_2), HAPISUCCESS);
  f = filter();
  EXPECT_EQ(f.index, 1);
  EXPECT_TRUE(sameTaps(f, cmtdFilter425));
  s = cadence();
  EXPECT_EQ(s.index, 1);
  EXPECT_EQ(s.stmParams.substate[0].activeFilter, 2);  // tone on the second detector
  EXPECT_EQ(s.stmParams.substate[0].minTimeMs, 475);
  EXPECT_EQ(s.stmParams.substate[1].activeFilter, 0);  // silence
  EXPECT_EQ(s.stmParams.substate[1].maxTimeMs, 525);
  EXPECT_EQ(dsp.service(vhd, HAPI_CMTD_SRV).lastStd.at(hdsp::HAPI_CMTD_ENABLE_CMD), StdOps(0xC1, 0x0101));
  EXPECT_EQ(cmtdCtlGetConfigTone(0), CMTD_TONE_TYPE_DIAL);
  EXPECT_EQ(cmtdCtlGetConfigTone(1), CMTD_TONE_TYPE_BUSY);

  ASSERT_EQ(cmtdCtlDisable(vhd), HAPISUCCESS);
  sync(vhd);
  EXPECT_EQ(dsp.service(vhd, HAPI_CMTD_SRV).lastStd.at(hdsp::HAPI_CMTD_ENABLE_CMD), StdOps(0x1000, 0));
  EXPECT_EQ(cmtdCtlGetConfigTone(0), CMTD_TONE_TYPE_MAX);
  EXPECT_EQ(cmtdCtlGetConfigTone(1), CMTD_TONE_TYPE_MAX);
}

TEST_F(CmtdProfiles, ReleaseToneWithoutACountryTableTouchesNothing) {
  sync(vhd);
  const int before = dsp.commandsSince();
  (void)before;
  EXPECT_EQ(cmtdCtlConfigFilter(vhd, VRG_COUNTRY_BELGIUM, CMTD_TONE_TYPE_RELEASE, CMTD_FILTER_1), HAPISUCCESS);
  EXPECT_EQ(dsp.commandsSince(), 0);
  EXPECT_EQ(cmtdCtlGetConfigTone(0), CMTD_TONE_TYPE_MAX);
  // The UK's release tone is its congestion tone.
  ASSERT_EQ(cmtdCtlConfigFilter(vhd, VRG_COUNTRY_UK, CMTD_TONE_TYPE_RELEASE, CMTD_FILTER_1), HAPISUCCESS);
  EXPECT_TRUE(sameTaps(filter(), cmtdFilter400));
  EXPECT_EQ(cadence().stmParams.substate[1].minTimeMs, 320);
  EXPECT_EQ(cmtdCtlGetConfigTone(0), CMTD_TONE_TYPE_RELEASE);
}

TEST_F(CmtdProfiles, BadSlotsAndFailuresAreReported) {
  EXPECT_EQ(cmtdCtlConfigFilter(vhd, VRG_COUNTRY_UK, CMTD_TONE_TYPE_DIAL, static_cast<CMTD_FILTER_INDEX>(2)),
            HAPIFAILURE);
  EXPECT_EQ(cmtdCtlGetConfigTone(2), CMTD_TONE_TYPE_MAX);
  EXPECT_EQ(cmtdCtlGetConfigTone(-1), CMTD_TONE_TYPE_MAX);
  dsp.failCode(hdsp::HAPI_CMTD_STM_CMD, HAPIFAILURE);
  EXPECT_EQ(cmtdCtlConfigFilter(vhd, VRG_COUNTRY_UK, CMTD_TONE_TYPE_DIAL, CMTD_FILTER_1), HAPIFAILURE);
  EXPECT_EQ(cmtdCtlGetConfigTone(0), CMTD_TONE_TYPE_MAX);  // not recorded
  EXPECT_EQ(dsp.service(vhd, HAPI_CMTD_SRV).lastStd.count(hdsp::HAPI_CMTD_ENABLE_CMD), 1u);  // only the disable
  EXPECT_STREQ(cmtdCtlMapToneType(3), "Congestion Tone");
  EXPECT_STREQ(cmtdCtlMapToneType(5), "Maximum");
  EXPECT_STREQ(cmtdCtlMapToneType(9), "Maximum");
  EXPECT_STREQ(cmtdCtlMapToneType(-1), "Invalid Tone");
}

TEST_F(CmtdProfiles, EnablingThroughTheLineChannelLoadsTheCountrysDialTone) {
  ASSERT_EQ(hdspVhdEnableCmtd(vhd, VRG_COUNTRY_JAPAN), 0);
  EXPECT_TRUE(sameTaps(filter(), cmtdFilter400Mod20));
  ASSERT_EQ(hdspVhdDisableCmtd(vhd), 0);
  EXPECT_EQ(cmtdCtlGetConfigTone(0), CMTD_TONE_TYPE_MAX);
}

// ---- the generated filters in the detector's arithmetic ----

// Block power of the 16 samples before a block, and the filter output's power over them, as the
// detector computes them; a tone is present when the output keeps less than the threshold.
struct ToneCheck {
  const int16_t* taps;
  int present = 0;
  int blocks = 0;
  void run(const std::vector<int16_t>& x) {
    constexpr int64_t kMinAttenuation = CMTD_MIN_ATTENUATION;
    constexpr int64_t kSilence = 16195;   // -42 dB of the 0 dB block power
    constexpr int64_t kAudible = 25665;   // -40 dB
    for (size_t start = 80; start + 40 <= x.size(); start += 40) {
      int64_t p = 0;
      for (int n = -16; n < 0; ++n) p += (int64_t{x[start + n]} * x[start + n]) >> 4;
      int64_t e = 0;
      for (int k = 0; k < 16; ++k) {
        int64_t acc = 0;
        for (int j = 0; j < CMTD_FILTER_TAPS; ++j) acc += int64_t{taps[j]} * x[start + k - 55 + j];
        const int64_t y = acc >> 15;
        e += (y * y) >> 4;
      }
      const int64_t t = p < (1 << 24) ? ((kMinAttenuation >> 4) * (p >> 4)) >> 8 : kMinAttenuation * (p >> 16);
      blocks += 1;
      if (p >= kSilence && p >= kAudible && e < t) present += 1;
    }
  }
};

std::vector<int16_t> tones(std::initializer_list<double> hz, double amplitude, double modulation = 0) {
  std::vector<int16_t> x(8000);
  for (size_t n = 0; n < x.size(); ++n) {
    double v = 0;
    for (double f : hz) v += std::sin(2 * M_PI * f * n / 8000.0 + f);
    if (modulation > 0) v *= 1 + modulation * std::cos(2 * M_PI * 20 * n / 8000.0);
    x[n] = static_cast<int16_t>(std::lround(amplitude * v));
  }
  return x;
}

struct FilterSet {
  const char* name;
  const int16_t* taps;
  std::vector<double> components;
  bool modulated;
};

TEST(CmtdFilters, EachFilterRecognisesItsToneAndRejectsTonesFurtherAway) {
  const std::vector<FilterSet> sets = {
      {"350+440", cmtdFilter350_440, {350, 440}, false}, {"440+480", cmtdFilter440_480, {440, 480}, false},
      {"480+620", cmtdFilter480_620, {480, 620}, false}, {"400", cmtdFilter400, {400}, false},
      {"400 mod 20", cmtdFilter400Mod20, {400}, true},    {"400+450", cmtdFilter400_450, {400, 450}, false},
      {"425", cmtdFilter425, {425}, false},               {"440", cmtdFilter440, {440}, false},
  };
  const double others[] = {250, 300, 350, 400, 425, 440, 450, 480, 520, 620, 750, 1000, 1400, 2000};
  for (const FilterSet& s : sets) {
    SCOPED_TRACE(s.name);
    ToneCheck own{s.taps};
    own.run(s.components.size() == 2 ? tones({s.components[0], s.components[1]}, 5000, s.modulated ? 0.5 : 0)
                                     : tones({s.components[0]}, 7000, s.modulated ? 0.5 : 0));
    EXPECT_GE(own.present, own.blocks * 95 / 100) << "own tone recognised in " << own.present << " of " << own.blocks;
    for (double f : others) {
      double distance = 1e9;
      for (double c : s.components) distance = std::min(distance, std::abs(f - c));
      if (distance < 120) continue;
      ToneCheck other{s.taps};
      other.run(tones({f}, 7000));
      EXPECT_EQ(other.present, 0) << f << " Hz passes as the tone";
    }
    // Quiet lines and speech-band noise are not the tone either.
    ToneCheck quiet{s.taps};
    quiet.run(tones({s.components[0]}, 20));
    EXPECT_EQ(quiet.present, 0);
  }
}

}  // namespace

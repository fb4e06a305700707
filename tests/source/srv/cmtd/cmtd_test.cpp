// Call-progress tone detection in a line channel, loaded with the host's shipped country
// profiles exactly as the host sends them: every cadence, played by the independent generator,
// is recognised once; short glitches are bridged and a break in a cadence is reported; the
// command rules hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../linetest/line_harness.h"
#include "cmtd.h"
#include "cmtdCtl.h"

using namespace linetest;

namespace {

struct Sound {
  int f1, f2;  // f2 < 0: amplitude modulation at -f2 Hz
};

const std::map<const int16_t*, Sound>& sounds() {
  static const std::map<const int16_t*, Sound> m = {
      {cmtdFilter350_440, {350, 440}}, {cmtdFilter440_480, {440, 480}}, {cmtdFilter480_620, {480, 620}},
      {cmtdFilter400, {400, 0}},       {cmtdFilter400Mod20, {400, -20}}, {cmtdFilter400_450, {400, 450}},
      {cmtdFilter425, {425, 0}},       {cmtdFilter440, {440, 0}},
  };
  return m;
}

std::vector<int16_t> tone(const Sound& s, int ms) {
  tone_gen_descriptor_t* d = tone_gen_descriptor_init(nullptr, s.f1, -20, s.f2, s.f2 < 0 ? 50 : -20, ms, 0, 0, 0, 0);
  tone_gen_state_t* g = tone_gen_init(nullptr, d);
  std::vector<int16_t> x(static_cast<size_t>(ms) * 8);
  tone_gen(g, x.data(), static_cast<int>(x.size()));
  tone_gen_free(g);
  tone_gen_descriptor_free(d);
  return x;
}

void append(std::vector<int16_t>& x, const std::vector<int16_t>& y) { x.insert(x.end(), y.begin(), y.end()); }
std::vector<int16_t> silence(int ms) { return std::vector<int16_t>(static_cast<size_t>(ms) * 8, 0); }

class Cmtd : public ::testing::Test {
 protected:
  void SetUp() override { open(&cmtdarc, 40); }
  void TearDown() override { close(); }

  // Loads a profile into filter slot 0 and machine 0 as the host does, and enables them.
  void load(const CMTD_STMPARAMS& p) {
    cmtdsrv::HAPI_CMTD_FILTER f{};
    f.coefs.type = p.filtSize;
    f.coefs.minAttenuation = CMTD_MIN_ATTENUATION;
    std::memcpy(f.coefs.filterTaps, p.filtCoeffp, sizeof(f.coefs.filterTaps));
    ASSERT_EQ(extCommand(HAPI_CMTD_FILTER_CMD, &f, sizeof(f)).result, HAPISUCCESS);
    cmtdsrv::HAPI_CMTD_STM s{};
    std::memcpy(&s.stmParams, &p.stmParam.stmParams, sizeof(s.stmParams));
    ASSERT_EQ(extCommand(HAPI_CMTD_STM_CMD, &s, sizeof(s)).result, HAPISUCCESS);
    ASSERT_EQ(command(HAPI_CMTD_ENABLE_CMD, 0x1 | 0x40 | 0x80, 0).result, HAPISUCCESS);
    world().host.clear();
  }
  // Plays x; returns the frame at which it ended.
  long play(const std::vector<int16_t>& x) {
    const long end = world().ingressFrames + static_cast<long>(x.size() / 40);
    world().ingressIn.assign(x.begin(), x.end());
    drain(4);
    return end;
  }
  // Break reports before the given frame (after the signal ends the cadence breaks by design).
  size_t breaksBefore(long frame) {
    size_t n = 0;
    for (const HostMsg& m : events(HAPI_CMTD_TONE_END_EVT)) n += m.frame < frame;
    return n;
  }
};

// The shipped profiles, each once (countries share some).
std::vector<const CMTD_STMPARAMS*> shippedProfiles() {
  std::vector<const CMTD_STMPARAMS*> out;
  std::set<const CMTD_STMPARAMS*> seen;
  for (int c = 0; c < VRG_COUNTRY_MAX; ++c) {
    if (cmtdCallingToneProfiles[c] == nullptr) continue;
    for (int t = CMTD_TONE_TYPE_DIAL; t < CMTD_TONE_TYPE_MAX; ++t) {
      const CMTD_STMPARAMS* p = cmtdCtlProfileFor(static_cast<VRG_COUNTRY>(c), static_cast<CMTD_TONE_TYPE>(t));
      if (p != nullptr && seen.insert(p).second) out.push_back(p);
    }
  }
  return out;
}

// The profile as a failure names it: its sound and its first window.
std::string describe(const CMTD_STMPARAMS& p) {
  const Sound& s = sounds().at(p.filtCoeffp);
  const auto& first = p.stmParam.stmParams.substate[0];
  return "profile of " + std::to_string(s.f1) + "/" + std::to_string(s.f2) + " Hz, first window " +
         std::to_string(first.minTimeMs) + "-" + std::to_string(first.maxTimeMs) + " ms";
}

// A cadence that misses its profile in one way: one period `periodMs` long, or every tone
// shifted by `shiftHz`, or every tone `quiet` (its loudest 16 samples 1 dB under the detector's
// -40 dB floor). The other periods sit in the middle of their windows.
struct Deviation {
  std::string what;
  int period = -1, periodMs = 0;
  int shiftHz = 0;
  bool quiet = false;
};

std::vector<int16_t> deviantTone(const Sound& s, int ms, const Deviation& d) {
  Sound shifted = s;
  shifted.f1 += d.shiftHz;
  if (shifted.f2 > 0) shifted.f2 += d.shiftHz;
  std::vector<int16_t> x = tone(shifted, ms);
  if (d.quiet) {
    double loudest = 0;  // the detector's block power: 16 samples squared, over 16
    for (size_t i = 16; i <= x.size(); ++i) {
      double p = 0;
      for (size_t j = i - 16; j < i; ++j) p += static_cast<double>(x[j]) * x[j];
      loudest = std::max(loudest, p / 16);
    }
    const double floor = 256647168.0 * std::pow(10.0, -4.1);  // -41 dB against the 0 dB power
    const double gain = std::sqrt(floor / loudest);
    for (int16_t& v : x) v = static_cast<int16_t>(std::lround(v * gain));
  }
  return x;
}

std::vector<int16_t> deviantCadence(const CMTD_STMPARAMS& p, const Sound& s, const Deviation& d) {
  std::vector<int16_t> x = silence(300);
  const bool steady = p.stmParam.stmParams.substate[p.numSubStates - 1].maxTimeMs == CMTD_NO_MAX_TIME;
  for (int r = 0; r < (steady ? 1 : 3); ++r) {
    for (int i = 0; i < p.numSubStates; ++i) {
      const auto& sub = p.stmParam.stmParams.substate[i];
      int ms = sub.maxTimeMs == CMTD_NO_MAX_TIME ? sub.minTimeMs + 500 : (sub.minTimeMs + sub.maxTimeMs) / 2;
      if (i == d.period) ms = d.periodMs;
      append(x, sub.activeFilter != 0 ? deviantTone(s, ms, d) : silence(ms));
    }
  }
  return x;
}

// Three rounds of the cadence (one of a sequence that ends in a steady tone, as repeating it would
// merge the tones), each period at the middle of its window (a period without an upper limit
// lasts its minimum plus 500 ms).
std::vector<int16_t> cadence(const CMTD_STMPARAMS& p, const Sound& s) { return deviantCadence(p, s, Deviation{}); }

// Periods 30 ms beyond each limit (more than the filter's edges and the 5 ms blocks can blur),
// tones 100 Hz off on either side, and tones just too quiet.
std::vector<Deviation> deviationsOf(const CMTD_STMPARAMS& p) {
  constexpr int kMargin = 30;
  std::vector<Deviation> out;
  for (int i = 0; i < p.numSubStates; ++i) {
    const auto& sub = p.stmParam.stmParams.substate[i];
    const std::string kind = sub.activeFilter != 0 ? "tone" : "silence";
    if (sub.maxTimeMs != CMTD_NO_MAX_TIME) {
      out.push_back({kind + " " + std::to_string(i) + " too long", i, sub.maxTimeMs + kMargin});
    }
    if (sub.minTimeMs > kMargin) {
      out.push_back({kind + " " + std::to_string(i) + " too short", i, sub.minTimeMs - kMargin});
    }
  }
  out.push_back({"100 Hz low", -1, 0, -100});
  out.push_back({"100 Hz high", -1, 0, 100});
  out.push_back({"too quiet", -1, 0, 0, true});
  return out;
}

}  // namespace

// A detector must refuse what lies outside a profile's limits: a busy tone 1.5 s long is no busy
// tone. Each shipped cadence, played just outside its windows, at the wrong frequency or below
// the detector's level, is never reported.
TEST_F(Cmtd, CadencesJustOutsideEveryShippedProfileAreNotRecognised) {
  int variants = 0;
  for (const CMTD_STMPARAMS* p : shippedProfiles()) {
    const Sound s = sounds().at(p->filtCoeffp);
    for (const Deviation& d : deviationsOf(*p)) {
      SCOPED_TRACE(describe(*p) + ": " + d.what);
      load(*p);
      play(deviantCadence(*p, s, d));
      EXPECT_EQ(events(HAPI_CMTD_TONE_DET_EVT).size(), 0u);
      ASSERT_EQ(command(HAPI_CMTD_ENABLE_CMD, 0x1000, 0).result, HAPISUCCESS);
      ++variants;
    }
  }
  std::printf("call-progress cadences refused: %d\n", variants);
  EXPECT_GE(variants, 40);
}

TEST_F(Cmtd, EveryShippedCadenceIsRecognisedOnce) {
  int profiles = 0;
  for (const CMTD_STMPARAMS* p : shippedProfiles()) {
    ASSERT_TRUE(sounds().count(p->filtCoeffp)) << "profile " << profiles;
    const Sound s = sounds().at(p->filtCoeffp);
    SCOPED_TRACE(describe(*p));
    ++profiles;
    load(*p);
    const long end = play(cadence(*p, s));
    const auto on = events(HAPI_CMTD_TONE_DET_EVT);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(on[0].op1, 0);
    EXPECT_EQ(on[0].op2, p->numSubStates - 1);
    EXPECT_EQ(breaksBefore(end), 0u);
    ASSERT_EQ(command(HAPI_CMTD_ENABLE_CMD, 0x1000, 0).result, HAPISUCCESS);
  }
  std::printf("shipped call-progress profiles recognised: %d\n", profiles);
  EXPECT_GE(profiles, 8);
}

TEST_F(Cmtd, TenMillisecondGlitchBridgedTwentyMillisecondBreakReported) {
  const CMTD_STMPARAMS& busy = *cmtdCtlProfileFor(VRG_COUNTRY_NORTH_AMERICA, CMTD_TONE_TYPE_BUSY);
  const Sound s = sounds().at(busy.filtCoeffp);
  const auto& on = busy.stmParam.stmParams.substate[0];
  const auto& off = busy.stmParam.stmParams.substate[1];
  const int onMs = (on.minTimeMs + on.maxTimeMs) / 2, offMs = (off.minTimeMs + off.maxTimeMs) / 2;
  // The gap starts 10 samples into a 5 ms block: the 79-tap filter's ringing at the gap's edges
  // costs part of a block, and at this alignment a 10 ms gap stays within two blocks.
  auto withGap = [&](int gapMs) {
    std::vector<int16_t> x = silence(300);
    x.resize(x.size() + 10, 0);
    for (int r = 0; r < 3; ++r) {
      append(x, tone(s, onMs));
      append(x, silence(offMs));
    }
    // The fourth "on" period broken in its middle.
    append(x, tone(s, onMs / 2));
    append(x, silence(gapMs));
    append(x, tone(s, onMs - onMs / 2 - gapMs));
    append(x, silence(offMs));
    return x;
  };
  load(busy);
  long end = play(withGap(10));
  EXPECT_EQ(events(HAPI_CMTD_TONE_DET_EVT).size(), 1u);
  EXPECT_EQ(breaksBefore(end), 0u);
  ASSERT_EQ(command(HAPI_CMTD_ENABLE_CMD, 0x1000, 0).result, HAPISUCCESS);
  load(busy);
  end = play(withGap(20));
  EXPECT_EQ(events(HAPI_CMTD_TONE_DET_EVT).size(), 1u);
  EXPECT_EQ(breaksBefore(end), 1u);
}

TEST_F(Cmtd, CommandRules) {
  cmtdsrv::HAPI_CMTD_FILTER f{};
  f.index = 2;
  EXPECT_EQ(extCommand(HAPI_CMTD_FILTER_CMD, &f, sizeof(f)).result, HAPIFAILURE);
  EXPECT_EQ(extCommand(HAPI_CMTD_FILTER_CMD, &f, 100).result, HAPIFAILURE);  // short block
  cmtdsrv::HAPI_CMTD_STM s{};
  s.index = 6;
  EXPECT_EQ(extCommand(HAPI_CMTD_STM_CMD, &s, sizeof(s)).result, HAPIFAILURE);
  s.index = 0;
  s.stmParams.substate[0] = {100, 0xFFFF, 3, 0};  // no detector 3
  EXPECT_EQ(extCommand(HAPI_CMTD_STM_CMD, &s, sizeof(s)).result, HAPIFAILURE);
  EXPECT_EQ(command(HAPI_CMTD_ENABLE_CMD, 0x1, 0x0602).result, HAPIFAILURE);
  EXPECT_EQ(command(0x1AB1, 0, 0).result, HAPI_ERR_UNKNOWN_MESSAGE);
  auto* c = static_cast<CMTDINSTANCEMEM*>(instance(HAPI_CMTD_SRV));
  EXPECT_EQ(c->state.enabledOptions, 0);
  EXPECT_EQ(c->cmtdGlobalMem.stmParams[0].substate[0].activeFilter, 0);
  // The power query answers with the last block's power.
  EXPECT_EQ(command(HAPI_CMTD_ENABLE_CMD, 0x1, 0).result, HAPISUCCESS);
  world().ingressIn.assign(800, 1000);
  runFrames(10);
  const HostMsg r = extCommand(HAPI_CMTD_POWER_CMD, nullptr, 0);
  ASSERT_EQ(r.data.size(), 4u);
  uint32_t p = 0;
  std::memcpy(&p, r.data.data(), 4);
  EXPECT_EQ(p, 1000u * 1000u);  // sixteen samples of 1000, squared, divided by 16
}

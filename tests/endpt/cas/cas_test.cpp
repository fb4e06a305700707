// The CAS channel driven step by step with scripted hook, loop-current and ring samples: hook
// changes into events, profile stepping and loops, driver modes, exchange-line ring bursts.

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "casCtlInternal.h"
#include "casTestLine.h"

namespace {

class CasChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    ScriptedLine::get() = ScriptedLine{};
    recordedEvents().clear();
    casSetLineOps(ScriptedLine::ops());
    casReset(&srv_);
    srv_.callbackp = recordEvent;
  }
  void TearDown() override {
    casReset(&srv_);
    casSetLineOps(nullptr);
  }

  ScriptedLine& line() { return ScriptedLine::get(); }
  CASCHANNELINFO& info() { return srv_.localmem.channelinfo; }

  CAS_CTL_STATUS command(uint16_t cmd, uint32_t op1 = 0, uint16_t op2 = 0) {
    CASCMD c{};
    c.cmd = cmd;
    c.op1 = op1;
    c.op2.val = op2;
    return casIO(&srv_.localmem, &c);
  }
  CAS_CTL_STATUS commandRef(uint16_t cmd, void* ref) {
    CASCMD c{};
    c.cmd = cmd;
    c.op2.ref = ref;
    return casIO(&srv_.localmem, &c);
  }
  CAS_CTL_STATUS load(const CASSTM& stm) {
    auto* profile = new CASPROFILE{};
    profile->casstm = stm;
    return commandRef(CAS_CMD_PROFILE, profile);
  }

  // Binds the channel as line signalling control does and lets it settle.
  void bind(CAS_TYPE type, const CAS_CTL_FXO_PARMS& timing = testHookTiming()) {
    command(CAS_CMD_CONFIG, type, kChannel);
    info().earlyOnState = info().earlyOffState = info().delayOnState = info().delayOffState = 1;
    ASSERT_EQ(commandRef(CAS_CMD_FXO_PARMS, new CAS_CTL_FXO_PARMS(timing)), CAS_CTL_SUCCESS);
    command(CAS_CMD_ENABLE, 1);
  }
  void bindSettled() {
    bind(CAS_TYPE_FXO);
    run(50);
    recordedEvents().clear();
  }

  void run(int ms) {
    for (int i = 0; i < ms / CAS_TICK_MS; ++i) {
      casBlk(&srv_);
      ++line().steps;
    }
  }
  void hold(bool offHook, int ms) {
    line().offHook[0] = offHook;
    run(ms);
  }
  // Off-hook long enough to be connected; the events so far are dropped.
  void goActive() {
    bindSettled();
    hold(true, 300);
    ASSERT_EQ(casWordControlState(info().state), CAS_CTL_FXO_ADDRESSING);
    recordedEvents().clear();
  }

  static std::vector<uint32_t> eventsOf(CAS_CTL_EVENT_TYPE type) {
    std::vector<uint32_t> out;
    for (const CasEventRecord& e : recordedEvents()) {
      if (e.type == type) out.push_back(e.event);
    }
    return out;
  }
  static int count(CAS_CTL_EVENT_TYPE type, uint32_t event) {
    const auto events = eventsOf(type);
    return static_cast<int>(std::count(events.begin(), events.end(), event));
  }
  // Steps at which `mode` was requested.
  std::vector<int> modeSteps(int mode) {
    std::vector<int> out;
    for (const ModeChange& m : line().modes[0]) {
      if (m.mode == mode) out.push_back(m.step);
    }
    return out;
  }

  static constexpr uint16_t kChannel = 3;
  CASSRV srv_{};
};

TEST_F(CasChannel, BoundPhoneLineSettlesIntoIdle) {
  bind(CAS_TYPE_FXO);
  run(30);
  EXPECT_EQ(recordedEvents(),
            (std::vector<CasEventRecord>{{0, kChannel, CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_EARLY_ONHOOK},
                                         {0, kChannel, CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_DELAY_ONHOOK}}));
  EXPECT_EQ(info().state, 0x1000Au);
  EXPECT_EQ(info().substate, 0);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_STANDBY);
}

TEST_F(CasChannel, OffHookConnectsAtMinimumConnectTime) {
  bindSettled();
  hold(true, 90);  // a change is credited from the sample that shows it: 9 samples are 90 ms
  EXPECT_EQ(eventsOf(CAS_CTL_DETECT_EVENT),
            (std::vector<uint32_t>{CAS_CTL_EVENT_EARLY_OFFHOOK, CAS_CTL_EVENT_DELAY_OFFHOOK}));
  run(10);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK), 1);
  EXPECT_EQ(info().state, 0x5002Au);
  run(10);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_LCF);
}

TEST_F(CasChannel, HookFlashGivesOneFlashAndNoDigit) {
  goActive();
  hold(false, 500);
  hold(true, 400);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_FLASH), 1);
  EXPECT_TRUE(eventsOf(CAS_CTL_PULSEDIAL_EVENT).empty());
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_ONHOOK), 0);
  EXPECT_EQ(casWordControlState(info().state), CAS_CTL_FXO_ADDRESSING);
}

TEST_F(CasChannel, PulsesAreCountedIntoOneDigit) {
  goActive();
  for (int pulses : {3, 10, 1}) {
    recordedEvents().clear();
    for (int p = 0; p < pulses; ++p) {
      hold(false, 60);
      hold(true, 40);
    }
    hold(true, 300);
    EXPECT_EQ(eventsOf(CAS_CTL_PULSEDIAL_EVENT), std::vector<uint32_t>{uint32_t(pulses)})
        << pulses << " pulses";
    EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_FLASH), 0);
  }
  // A break longer than a pulse's but shorter than a flash is not counted.
  recordedEvents().clear();
  hold(false, 250);
  hold(true, 300);
  EXPECT_TRUE(eventsOf(CAS_CTL_PULSEDIAL_EVENT).empty());
}

// The pulse-dialling limits of a shipped country profile, as the library turns them into the
// channel's hook timing (the digit ends half-way between the longest make and the interdigit
// time).
struct ProfilePulseLimits {
  std::string country;
  uint32_t minBreak, maxBreak, minMake, maxMake, interdigit, minFlash, maxFlash;
};

uint32_t profileValue(const std::string& xml, const std::string& item) {
  const size_t at = xml.find("<" + item + ">");
  EXPECT_NE(at, std::string::npos) << item;
  return at == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(xml.substr(at + item.size() + 2)));
}

std::vector<ProfilePulseLimits> shippedPulseLimits() {
  std::vector<ProfilePulseLimits> out;
  const std::string dir = ORVOX_SOURCE_DIR "/prov/tel_profiles/";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() < 12 || name.substr(3) != "_profile.xml") continue;
    std::ifstream in(dir + name);
    std::stringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    out.push_back({name.substr(0, 3), profileValue(xml, "PlsDlMinBreakTime"),
                   profileValue(xml, "PlsDlMaxBreakTime"), profileValue(xml, "PlsDlMinMakeTime"),
                   profileValue(xml, "PlsDlMaxMakeTime"), profileValue(xml, "PlsDlInterdigitTime"),
                   profileValue(xml, "MinHookFlash"), profileValue(xml, "MaxHookFlash")});
  }
  closedir(d);
  return out;
}

TEST_F(CasChannel, PulseTimingsAtTheEdgesOfEveryShippedProfileAreCounted) {
  const auto profiles = shippedPulseLimits();
  ASSERT_GE(profiles.size(), 27u);
  auto up = [](uint32_t ms) { return static_cast<int>((ms + 9) / 10 * 10); };  // whole samples
  auto down = [](uint32_t ms) { return static_cast<int>(ms / 10 * 10); };
  for (const ProfilePulseLimits& limits : profiles) {
    SCOPED_TRACE(limits.country);
    CAS_CTL_FXO_PARMS timing = testHookTiming();
    timing.pulseMinBreak = limits.minBreak;
    timing.pulseMaxBreak = limits.maxBreak;
    timing.pulseMinMake = limits.minMake;
    timing.pulseMaxMake = (limits.maxMake + limits.interdigit) / 2;
    timing.minHookFlash = limits.minFlash;
    timing.maxHookFlash = limits.maxFlash;
    timing.earlyActiveHookInterval = std::min(limits.minBreak, limits.minMake);
    casReset(&srv_);
    srv_.callbackp = recordEvent;
    recordedEvents().clear();
    bind(CAS_TYPE_FXO, timing);
    run(50);
    hold(true, 300);
    ASSERT_EQ(casWordControlState(info().state), CAS_CTL_FXO_ADDRESSING);
    struct Case {
      int breakMs, makeMs;
      bool counted;
    };
    const Case cases[] = {
        {up(limits.minBreak), up(limits.minMake), true},
        {down(limits.maxBreak), down(limits.maxMake), true},
        {up(limits.minBreak), down(limits.maxMake), true},
        {down(limits.maxBreak), up(limits.minMake), true},
        {up(limits.minBreak) - 10, up(limits.minMake), false},    // too short a break
        {down(limits.maxBreak) + 10, up(limits.minMake), false},  // too long a break
    };
    for (const Case& c : cases) {
      recordedEvents().clear();
      for (int p = 0; p < 7; ++p) {
        hold(false, c.breakMs);
        hold(true, c.makeMs);
      }
      hold(true, 400);
      const std::vector<uint32_t> expected = c.counted ? std::vector<uint32_t>{7} : std::vector<uint32_t>{};
      EXPECT_EQ(eventsOf(CAS_CTL_PULSEDIAL_EVENT), expected)
          << "break " << c.breakMs << " ms, make " << c.makeMs << " ms";
    }
  }
}

TEST_F(CasChannel, OnHookAfterMinimumDisconnectGoesIdle) {
  goActive();
  hold(false, 1190);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_ONHOOK), 0);
  run(10);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_ONHOOK), 1);
  EXPECT_EQ(info().state, 0x1001Au);
  // Picking up again starts a new call, not a flash.
  recordedEvents().clear();
  hold(true, 300);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_FLASH), 0);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK), 1);
}

TEST_F(CasChannel, WinkAfterShortOffHookInIdle) {
  bindSettled();
  hold(true, 50);
  hold(false, 190);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_WINK), 0);
  run(10);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_WINK), 1);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK), 0);
}

TEST_F(CasChannel, IdleProfileIsRefusedWhileActive) {
  goActive();
  CASSTM ringStop{};
  ringStop.state[0] = {0x1F48A, 2};
  EXPECT_EQ(load(ringStop), CAS_CTL_SUCCESS);
  EXPECT_EQ(info().profilep, nullptr);
  run(100);
  EXPECT_EQ(casWordControlState(info().state), CAS_CTL_FXO_ADDRESSING);
  // A profile that keeps the call going is taken.
  CASSTM reverse{};
  reverse.state[0] = {casStateWord(CAS_CTL_FXO_ACTIVE, CAS_NEXT_END, 0, CAS_FEED_REVERSE), 2};
  EXPECT_EQ(load(reverse), CAS_CTL_SUCCESS);
  run(20);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_RLCF);
}

TEST_F(CasChannel, LoopStepRunsTheBodyLoopcountTimes) {
  for (uint16_t loops : {3, 1, 0}) {
    SCOPED_TRACE(loops);
    bindSettled();
    CASSTM stm{};
    stm.loopcount = loops;
    stm.afterloop = 2;
    stm.state[0] = {casStateWord(CAS_CTL_FXO_ALERTING, 1, CAS_CTL_EVENT_RINGON, CAS_FEED_RINGING), 50};
    stm.state[1] = {CAS_LOOP_FLAG | casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_RINGOFF,
                                                 CAS_FEED_FORWARD),
                    50};
    stm.state[2] = {casStateWord(CAS_CTL_FXO_IDLE, CAS_NEXT_END, CAS_CTL_EVENT_TIMER_EXPIRE,
                                 CAS_FEED_FORWARD),
                    0};
    ASSERT_EQ(load(stm), CAS_CTL_SUCCESS);
    run(1000);
    const int body = std::max<int>(loops, 1);  // a loop count of 0 does not wrap round
    EXPECT_EQ(count(CAS_CTL_STATECTL_EVENT, CAS_CTL_EVENT_RINGON), body);
    EXPECT_EQ(count(CAS_CTL_STATECTL_EVENT, CAS_CTL_EVENT_RINGOFF), body);
    EXPECT_EQ(count(CAS_CTL_STATECTL_EVENT, CAS_CTL_EVENT_TIMER_EXPIRE), 1);
    EXPECT_EQ(info().profilep, nullptr);
    casReset(&srv_);
    srv_.callbackp = recordEvent;
  }
}

TEST_F(CasChannel, RingCadenceDrivesRingAndOnHookTransmission) {
  bindSettled();
  CAS_CTL_RING_PROFILE usa{};
  usa.provBits.shortRingPattern = {0xFFFFF000, 0x00000000};
  usa.ringType = CAS_CTRL_SHORT_NORMAL_RING;
  CASSTM stm;
  ASSERT_TRUE(casCtlBuildRingProfile(usa, &stm));
  const int start = line().steps;
  ASSERT_EQ(load(stm), CAS_CTL_SUCCESS);
  run(12500);
  const auto rings = modeSteps(SLIC_MODE_RING);
  const auto quiet = modeSteps(SLIC_MODE_OHT);
  ASSERT_EQ(rings.size(), 3u);
  ASSERT_GE(quiet.size(), 2u);
  EXPECT_EQ(rings[0] - start, 1);  // entered on the first step, driven on the next
  EXPECT_EQ(quiet[0] - rings[0], 200);
  EXPECT_EQ(rings[1] - quiet[0], 400);
  EXPECT_EQ(rings[2] - rings[1], 600);
  EXPECT_EQ(count(CAS_CTL_STATECTL_EVENT, CAS_CTL_EVENT_RINGON), 3);
  EXPECT_EQ(count(CAS_CTL_STATECTL_EVENT, CAS_CTL_EVENT_FIRST_RINGOFF), 2);
}

TEST_F(CasChannel, AnsweringStopsTheRingWithForwardFeed) {
  bindSettled();
  CASSTM ring{};
  ring.state[0] = {casStateWord(CAS_CTL_FXO_ALERTING, CAS_NEXT_END, CAS_CTL_EVENT_RINGON,
                                CAS_FEED_RINGING),
                   2};
  ASSERT_EQ(load(ring), CAS_CTL_SUCCESS);
  run(100);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_RING);
  hold(true, 90);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK), 0);
  run(10);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK), 1);
  EXPECT_EQ(info().state, 0x6002Au);
  run(10);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_LCF);
}

TEST_F(CasChannel, PlayOnceBriefRingReportsCompletion) {
  bindSettled();
  CAS_CTL_RING_PROFILE splash{};
  splash.provBits.shortRingPattern = {0x00000000, 0x000001F8};
  splash.ringType = CAS_CTRL_SHORT_BRIEF_RING;
  CASSTM stm;
  ASSERT_TRUE(casCtlBuildRingProfile(splash, &stm));
  ASSERT_EQ(load(stm), CAS_CTL_SUCCESS);
  run(1000);
  EXPECT_EQ(eventsOf(CAS_CTL_STATECTL_EVENT),
            (std::vector<uint32_t>{CAS_CTL_EVENT_RINGON, CAS_CTL_EVENT_BRIEF_RING}));
  EXPECT_EQ(eventsOf(CAS_CTL_BRIEF_RING_COMPLETE_EVENT), std::vector<uint32_t>{CAS_CTL_EVENT_BRIEF_RING});
  EXPECT_EQ(info().profilep, nullptr);
  EXPECT_EQ(modeSteps(SLIC_MODE_RING).size(), 1u);
  EXPECT_EQ(casWordControlState(info().state), CAS_CTL_FXO_IDLE);
}

TEST_F(CasChannel, LongStepIsClampedNotWrapped) {
  goActive();
  CASSTM stm{};
  stm.state[0] = {casStateWord(CAS_CTL_FXO_ACTIVE, 1, 0, CAS_FEED_FORWARD), 40000};
  stm.state[1] = {casStateWord(CAS_CTL_FXO_ACTIVE, CAS_NEXT_END, CAS_CTL_EVENT_TIMER_EXPIRE,
                               CAS_FEED_FORWARD),
                  0};
  ASSERT_EQ(load(stm), CAS_CTL_SUCCESS);
  run(30000);
  EXPECT_EQ(count(CAS_CTL_STATECTL_EVENT, CAS_CTL_EVENT_TIMER_EXPIRE), 0);
  run(3000);
  EXPECT_EQ(count(CAS_CTL_STATECTL_EVENT, CAS_CTL_EVENT_TIMER_EXPIRE), 1);
}

TEST_F(CasChannel, IgnoredHookChangesWaitUntilTheTimeIsUp) {
  goActive();
  info().ignoreHookState = 500;
  hold(false, 1500);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_ONHOOK), 0);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_EARLY_ONHOOK), 1);  // after the 500 ms
  run(300);
  EXPECT_EQ(count(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_ONHOOK), 1);
  EXPECT_EQ(info().ignoreHookState.load(), 0);
}

TEST_F(CasChannel, BadCommandsFailAndProfilesAreNeverLost) {
  // Not enabled yet: the profile is refused and freed (the sanitizer build checks the latter).
  command(CAS_CMD_CONFIG, CAS_TYPE_FXO, kChannel);
  CASSTM stm{};
  stm.state[0] = {0x2F450, 2};
  EXPECT_EQ(load(stm), CAS_CTL_FAILURE);
  EXPECT_EQ(command(0xE900), CAS_CTL_FAILURE);
  EXPECT_EQ(command(0xE90A), CAS_CTL_FAILURE);
  EXPECT_EQ(commandRef(CAS_CMD_STATUS, nullptr), CAS_CTL_FAILURE);
  EXPECT_EQ(commandRef(CAS_CMD_PROFILE, nullptr), CAS_CTL_FAILURE);
  EXPECT_EQ(commandRef(CAS_CMD_FXO_PARMS, nullptr), CAS_CTL_FAILURE);
  EXPECT_EQ(command(CAS_CMD_SLIC_REQ), CAS_CTL_FAILURE);
  EXPECT_EQ(casIO(nullptr, nullptr), CAS_CTL_FAILURE);
  // A disabled channel is not stepped; disabling drops a running profile.
  run(100);
  EXPECT_TRUE(recordedEvents().empty());
  command(CAS_CMD_ENABLE, 1);
  ASSERT_EQ(load(stm), CAS_CTL_SUCCESS);
  command(CAS_CMD_ENABLE, 0);
  EXPECT_EQ(info().profilep, nullptr);
  CASSTATUS status{};
  EXPECT_EQ(commandRef(CAS_CMD_STATUS, &status), CAS_CTL_SUCCESS);
  EXPECT_EQ(status.channelnum, kChannel);
  EXPECT_EQ(status.state, 0x10000u);  // loading kept only the control state and feed
  EXPECT_EQ(status.substate, 0);      // a profile into another state restarts the monitor
}

TEST_F(CasChannel, ExchangeLineRingBurstsGiveRingOnOffAndEnd) {
  bind(CAS_TYPE_FXS);
  run(100);
  EXPECT_EQ(info().state, 0u);
  std::vector<int> burstStart, burstEnd;
  for (int burst = 0; burst < 2; ++burst) {
    burstStart.push_back(line().steps);
    line().ringing[0] = true;
    run(2000);
    burstEnd.push_back(line().steps);
    line().ringing[0] = false;
    run(4000);
  }
  run(4000);
  std::vector<int> ringOn, ringOff, ringEnd;
  for (const CasEventRecord& e : recordedEvents()) {
    ASSERT_EQ(e.type, CAS_CTL_DETECT_EVENT);
    if (e.event == CAS_CTL_EVENT_RINGON) ringOn.push_back(e.step);
    if (e.event == CAS_CTL_EVENT_RINGOFF) ringOff.push_back(e.step);
    if (e.event == CAS_CTL_EVENT_RINGEND) ringEnd.push_back(e.step);
  }
  EXPECT_EQ(ringOn, (std::vector<int>{burstStart[0] + 1, burstStart[1] + 1}));
  EXPECT_EQ(ringOff, (std::vector<int>{burstEnd[0] + 44, burstEnd[1] + 44}));  // 450 ms
  EXPECT_EQ(ringEnd, std::vector<int>{burstEnd[1] + 599});                     // 6 s
  std::vector<ModeChange> expectedDaa = {{burstEnd[0] + 44, DAA_MODE_ONHOOK_DATA},
                                         {burstEnd[0] + 349, DAA_MODE_ONHOOK},
                                         {burstEnd[1] + 44, DAA_MODE_ONHOOK_DATA},
                                         {burstEnd[1] + 349, DAA_MODE_ONHOOK}};
  ASSERT_EQ(line().modes[0].size(), expectedDaa.size());
  for (size_t i = 0; i < expectedDaa.size(); ++i) {
    EXPECT_EQ(line().modes[0][i].step, expectedDaa[i].step) << i;
    EXPECT_EQ(line().modes[0][i].mode, expectedDaa[i].mode) << i;
  }
}

TEST_F(CasChannel, SeizedExchangeLineFollowsLoopCurrent) {
  bind(CAS_TYPE_FXS);
  CASSTM seize{};
  seize.state[0] = {casStateWord(CAS_CTL_FXS_SEIZED, CAS_NEXT_END, CAS_CTL_EVENT_OFFHOOK,
                                 CAS_FEED_OPEN),
                    2};
  ASSERT_EQ(load(seize), CAS_CTL_SUCCESS);
  line().loopCurrent[0] = DAA_LOOP_CLOSED_REVERSE;
  line().ringing[0] = true;  // ring detection plays no part once seized
  run(100);
  EXPECT_EQ(line().lastMode(0), DAA_MODE_OFFHOOK);
  EXPECT_EQ(info().currentCAS, CAS_FEED_REVERSE);
  EXPECT_EQ(eventsOf(CAS_CTL_STATECTL_EVENT), std::vector<uint32_t>{CAS_CTL_EVENT_OFFHOOK});
  EXPECT_TRUE(eventsOf(CAS_CTL_DETECT_EVENT).empty());
}

}  // namespace

// Line signalling control over scripted lines: binding, the state calls and their profiles,
// the open-switch interval, polarity, and staggered ringing. The "HCAS" task is stopped and its
// periods are run by the test.

#include <gtest/gtest.h>

#include <algorithm>

#include "casCtlInternal.h"
#include "casTestLine.h"
#include "vosInit.h"

namespace {

struct ControlEvent {
  int step;
  CAS_CTL_HANDLE handle;
  CAS_CTL_EVENT_TYPE type;
  int event;
};

std::vector<ControlEvent>& controlEvents() {
  static std::vector<ControlEvent> events;
  return events;
}

void onCasEvent(CAS_CTL_HANDLE handle, CAS_CTL_EVENT_TYPE type, CAS_CTL_EVENT event) {
  controlEvents().push_back({ScriptedLine::get().steps, handle, type, static_cast<int>(event)});
}

class CasControl : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(vosInit(), VOS_STATUS_OK); }

  void SetUp() override {
    ScriptedLine::get() = ScriptedLine{};
    controlEvents().clear();
    casSetLineOps(ScriptedLine::ops());
    ASSERT_EQ(casCtlInit(onCasEvent), CAS_CTL_SUCCESS);
    casCtlStopTask();
  }
  void TearDown() override {
    EXPECT_EQ(casCtlDeinit(), CAS_CTL_SUCCESS);
    casSetLineOps(nullptr);
  }

  ScriptedLine& line() { return ScriptedLine::get(); }
  const CASCHANNELINFO& info(CAS_CTL_HANDLE h) {
    return casCtlState().service[h].localmem.channelinfo;
  }

  CAS_CTL_HANDLE bindPhone(int ept) {
    const CAS_CTL_FXO_PARMS parms = testHookTiming();
    CAS_CTL_HANDLE h = -1;
    EXPECT_EQ(casCtlEndptInit(ept, CAS_TYPE_FXO, &h, &parms), CAS_CTL_SUCCESS);
    return h;
  }
  void run(int ms) {
    for (int i = 0; i < ms / CAS_TICK_MS; ++i) {
      casCtlTaskPeriod();
      ++line().steps;
    }
  }
  // Steps at which the line was first asked for `mode`, or -1.
  int firstMode(int ept, int mode, int from = 0) {
    for (const ModeChange& m : line().modes[ept]) {
      if (m.mode == mode && m.step >= from) return m.step;
    }
    return -1;
  }
  std::vector<int> eventsOf(CAS_CTL_HANDLE h, CAS_CTL_EVENT_TYPE type) {
    std::vector<int> out;
    for (const ControlEvent& e : controlEvents()) {
      if (e.handle == h && e.type == type) out.push_back(e.event);
    }
    return out;
  }

  static CAS_CTL_RING_PROFILE usaRing() {
    CAS_CTL_RING_PROFILE r{};
    r.provBits.shortRingPattern = {0xFFFFF000, 0};
    r.ringType = CAS_CTRL_SHORT_NORMAL_RING;
    return r;
  }
};

TEST_F(CasControl, BindingTakesFreeChannelsAndUnbindingStopsThem) {
  std::vector<CAS_CTL_HANDLE> handles;
  for (int ept = 0; ept < CAS_CTL_MAX_CHANNELS; ++ept) handles.push_back(bindPhone(ept));
  EXPECT_EQ(handles, (std::vector<CAS_CTL_HANDLE>{0, 1, 2, 3, 4, 5, 6, 7}));
  const CAS_CTL_FXO_PARMS parms = testHookTiming();
  CAS_CTL_HANDLE extra = -1;
  EXPECT_EQ(casCtlEndptInit(8, CAS_TYPE_FXO, &extra, &parms), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlEndptInit(8, CAS_TYPE_FXO, nullptr, &parms), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlEndptDeinit(8), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlEndptDeinit(-1), CAS_CTL_FAILURE);

  // An unbound channel no longer rings its line nor reports.
  ASSERT_EQ(casCtlRingOn(3), CAS_CTL_SUCCESS);
  run(50);
  EXPECT_EQ(line().lastMode(3), SLIC_MODE_RING);
  ASSERT_EQ(casCtlEndptDeinit(3), CAS_CTL_SUCCESS);
  const size_t modesBefore = line().modes[3].size();
  controlEvents().clear();
  line().offHook[3] = true;
  run(500);
  EXPECT_EQ(line().modes[3].size(), modesBefore);
  EXPECT_TRUE(controlEvents().empty());
  EXPECT_EQ(casCtlRingOn(3), CAS_CTL_FAILURE);
  // The freed channel is the next one taken, and starts afresh.
  EXPECT_EQ(bindPhone(9), 3);
  EXPECT_EQ(info(3).ept, 9);
  EXPECT_EQ(info(3).profilep, nullptr);
}

TEST_F(CasControl, RequestedStatesAndTheirTimer) {
  const CAS_CTL_HANDLE h = bindPhone(0);
  line().offHook[0] = true;  // a call in progress
  run(300);
  controlEvents().clear();
  ASSERT_EQ(casCtlSetStateGenEvent(h, 6, 300), CAS_CTL_SUCCESS);
  run(20);
  EXPECT_EQ(info(h).state, 0x6048Au);
  EXPECT_EQ(eventsOf(h, CAS_CTL_STATECTL_EVENT), std::vector<int>{CAS_CTL_EVENT_LCF});
  run(300);
  EXPECT_EQ(eventsOf(h, CAS_CTL_STATECTL_EVENT),
            (std::vector<int>{CAS_CTL_EVENT_LCF, CAS_CTL_EVENT_TIMER_EXPIRE}));
  EXPECT_EQ(info(h).state, 0x6F51Au);
  EXPECT_EQ(info(h).profilep, nullptr);

  for (uint32_t state : {7u, 8u, 10u}) EXPECT_EQ(casCtlSetState(h, state), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlSetStateFXS(h, CAS_CTL_FXS_RING_ON), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlSetState(9, 1), CAS_CTL_FAILURE);
}

TEST_F(CasControl, OpenSwitchIntervalReturnsToTheCall) {
  const CAS_CTL_HANDLE h = bindPhone(0);
  line().offHook[0] = true;
  run(300);
  ASSERT_EQ(casCtlSetState(h, 6), CAS_CTL_SUCCESS);
  run(50);
  controlEvents().clear();
  const int start = line().steps;
  ASSERT_EQ(casCtlSupervisoryDisconnect(h, 500, CAS_OSI_DEFAULT), CAS_CTL_SUCCESS);
  run(1000);
  const int open = firstMode(0, SLIC_MODE_LCFO, start);
  ASSERT_GE(open, 0);
  EXPECT_EQ(firstMode(0, SLIC_MODE_LCF, open) - open, 50);  // forward feed after 500 ms
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_LCF);
  EXPECT_EQ(info(h).state, 0x6F40Au);  // the call's state, without its event
  const auto events = eventsOf(h, CAS_CTL_STATECTL_EVENT);
  EXPECT_EQ(std::count(events.begin(), events.end(), CAS_CTL_EVENT_OSI_END), 1);
  // The off-hook phone was not taken for an on-hook while the loop was open.
  EXPECT_TRUE(eventsOf(h, CAS_CTL_DETECT_EVENT).empty());
}

TEST_F(CasControl, PolarityFollowsTheCurrentState) {
  const CAS_CTL_HANDLE h = bindPhone(0);
  line().offHook[0] = true;
  run(300);
  ASSERT_EQ(casCtlChangePolarity(h, CAS_CTL_POLARITY_REVERSE, CAS_CTL_EVENT_NONE, 0),
            CAS_CTL_SUCCESS);
  run(30);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_RLCF);
  EXPECT_EQ(info(h).state, 0x5F402u);
  controlEvents().clear();
  ASSERT_EQ(casCtlChangePolarity(h, CAS_CTL_POLARITY_FORWARD, CAS_CTL_EVENT_RLCF, 200),
            CAS_CTL_SUCCESS);
  run(300);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_LCF);
  EXPECT_EQ(eventsOf(h, CAS_CTL_STATECTL_EVENT),
            (std::vector<int>{CAS_CTL_EVENT_RLCF, CAS_CTL_EVENT_TIMER_EXPIRE}));
}

TEST_F(CasControl, HookIgnoringTimeIsBounded) {
  const CAS_CTL_HANDLE h = bindPhone(5);
  EXPECT_EQ(casCtlIgnoreHookState(h, 100000), CAS_CTL_SUCCESS);
  EXPECT_EQ(info(h).ignoreHookState.load(), CAS_IGNOREHOOKSTATE_ON);
  EXPECT_EQ(casCtlIgnoreHookState(h, -1), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlIgnoreHookState(8, 0), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlIgnoreHookState(h, CAS_IGNOREHOOKSTATE_OFF), CAS_CTL_SUCCESS);
  EXPECT_EQ(info(h).ignoreHookState.load(), 0);
}

TEST_F(CasControl, RingsOfASmallBoardStartInTurn) {
  const CAS_CTL_HANDLE a = bindPhone(0);
  const CAS_CTL_HANDLE b = bindPhone(1);
  run(100);
  EXPECT_EQ(line().lineCountQueries, 0);  // no ring waiting: the periods ask the driver nothing
  const CAS_CTL_RING_PROFILE ring = usaRing();
  ASSERT_EQ(casCtlRingProfileOn(a, &ring, 1), CAS_CTL_SUCCESS);
  run(10);
  ASSERT_EQ(casCtlRingProfileOn(b, &ring, 1), CAS_CTL_SUCCESS);
  run(7000);
  const int ringA = firstMode(0, SLIC_MODE_RING);
  const int ringB = firstMode(1, SLIC_MODE_RING);
  ASSERT_GE(ringA, 0);
  ASSERT_GE(ringB, 0);
  EXPECT_LE(ringA, 13);  // the first ring starts on the next period
  EXPECT_EQ(ringB - ringA, 201);  // the next one a slot later
  // Off-hook on line a stops its ring, and line b keeps its cadence.
  line().offHook[0] = true;
  run(1500);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_LCF);
  const int ringsOfB = static_cast<int>(std::count_if(
      line().modes[1].begin(), line().modes[1].end(),
      [](const ModeChange& m) { return m.mode == SLIC_MODE_RING; }));
  EXPECT_EQ(ringsOfB, 2);
}

TEST_F(CasControl, QueuedRingLeavesItsSlotOnRingOffOrOffHook) {
  const CAS_CTL_HANDLE a = bindPhone(0);
  const CAS_CTL_HANDLE b = bindPhone(1);
  run(100);
  const CAS_CTL_RING_PROFILE ring = usaRing();
  ASSERT_EQ(casCtlRingProfileOn(a, &ring, 1), CAS_CTL_SUCCESS);
  run(10);
  ASSERT_EQ(casCtlRingProfileOn(b, &ring, 1), CAS_CTL_SUCCESS);
  ASSERT_EQ(casCtlRingOff(b, 0), CAS_CTL_SUCCESS);
  run(3000);
  EXPECT_EQ(firstMode(1, SLIC_MODE_RING), -1);

  ASSERT_EQ(casCtlRingProfileOn(b, &ring, 1), CAS_CTL_SUCCESS);
  line().offHook[1] = true;  // picked up before its slot came round
  run(5000);
  EXPECT_EQ(firstMode(1, SLIC_MODE_RING), -1);
  EXPECT_EQ(eventsOf(b, CAS_CTL_DETECT_EVENT).back(), CAS_CTL_EVENT_OFFHOOK);
  for (const CASSTAGGERMEM& slot : casCtlState().staggerState) {
    for (uint16_t holder : slot.ringslot) EXPECT_NE(holder, b);
  }
}

TEST_F(CasControl, LargerBoardsRingAtOnceAndBadRingsAreRefused) {
  line().numEndpoints = 3;
  const CAS_CTL_HANDLE a = bindPhone(0);
  const CAS_CTL_HANDLE b = bindPhone(1);
  run(100);
  const CAS_CTL_RING_PROFILE ring = usaRing();
  ASSERT_EQ(casCtlRingProfileOn(a, &ring, 1), CAS_CTL_SUCCESS);
  ASSERT_EQ(casCtlRingProfileOn(b, &ring, 1), CAS_CTL_SUCCESS);
  const int queries = line().lineCountQueries;
  run(100);
  EXPECT_EQ(firstMode(0, SLIC_MODE_RING), firstMode(1, SLIC_MODE_RING));
  EXPECT_EQ(line().lineCountQueries, queries);  // nothing queued for the periods to look at

  line().numEndpoints = 2;
  CAS_CTL_RING_PROFILE bad = ring;
  bad.ringType = static_cast<CAS_CTL_PROV_RING_TYPE>(0);
  EXPECT_EQ(casCtlRingProfileOn(a, &bad, 1), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlRingProfileOn(a, &bad, 0), CAS_CTL_FAILURE);
  EXPECT_EQ(casCtlRingProfileOn(a, nullptr, 0), CAS_CTL_FAILURE);
  run(50);
  EXPECT_EQ(line().lastMode(0), SLIC_MODE_RING);  // the running ring goes on
}

}  // namespace

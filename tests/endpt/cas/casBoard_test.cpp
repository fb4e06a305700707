// Line signalling on the virtual board in real time: the "HCAS" task rings two phones with the
// USA general ring (staggered, since the board has two lines) and reads a pulse-dialled digit.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "boardHal.h"
#include "casHookTiming.h"
#include "casCtl.h"
#include "vboard.h"
#include "vosInit.h"
#include "vrgEndptTypes.h"
#include "../vboardTimeline.h"

namespace {

struct SeenEvent {
  CAS_CTL_HANDLE handle;
  CAS_CTL_EVENT_TYPE type;
  int event;
};

std::mutex eventsLock;
std::vector<SeenEvent> seenEvents;

void onCasEvent(CAS_CTL_HANDLE handle, CAS_CTL_EVENT_TYPE type, CAS_CTL_EVENT event) {
  std::lock_guard<std::mutex> guard(eventsLock);
  seenEvents.push_back({handle, type, static_cast<int>(event)});
}

bool seen(CAS_CTL_HANDLE handle, CAS_CTL_EVENT_TYPE type, int event) {
  std::lock_guard<std::mutex> guard(eventsLock);
  for (const SeenEvent& e : seenEvents) {
    if (e.handle == handle && e.type == type && e.event == event) return true;
  }
  return false;
}

std::vector<SeenEvent> eventsOfType(CAS_CTL_EVENT_TYPE type) {
  std::lock_guard<std::mutex> guard(eventsLock);
  std::vector<SeenEvent> out;
  for (const SeenEvent& e : seenEvents) {
    if (e.type == type) out.push_back(e);
  }
  return out;
}


class CasOnBoard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("ORVOX_BOARD", "fxs=2,fxo=0,dect=0", 1);
    const std::string socket = "/tmp/orvox_cas_board_" + std::to_string(::getpid()) + ".sock";
    ::setenv("ORVOX_BOARD_SOCKET", socket.c_str(), 1);
    ASSERT_EQ(vosInit(), VOS_STATUS_OK);
    ASSERT_EQ(boardHalEventInit(), 0);
    ASSERT_GE(boardHalSsInit(VRG_COUNTRY_NORTH_AMERICA), 0);
    ASSERT_EQ(boardHalGetNumEndpoints(), 2);
    ASSERT_EQ(casCtlInit(onCasEvent), CAS_CTL_SUCCESS);
    CAS_CTL_FXO_PARMS parms = testHookTiming();
    for (int line = 0; line < 2; ++line) {
      ASSERT_EQ(casCtlEndptInit(line, CAS_TYPE_FXO, &handles[line], &parms), CAS_CTL_SUCCESS);
    }
    // The channels settle into idle on their first periods.
    for (int line = 0; line < 2; ++line) ASSERT_TRUE(waitHookClock(line, 100)) << "line " << line;
  }
  static void TearDownTestSuite() {
    casCtlDeinit();
    boardHalSsDeinit();
    boardHalEventDeinit();
  }

  static inline CAS_CTL_HANDLE handles[2] = {-1, -1};
};

TEST_F(CasOnBoard, UsaGeneralRingOnTwoLinesIsStaggered) {
  CAS_CTL_RING_PROFILE general{};
  general.provBits.shortRingPattern = {0xFFFFF000, 0x00000000};  // 2 s ring, 4 s silence
  general.ringType = CAS_CTRL_SHORT_NORMAL_RING;
  ASSERT_EQ(casCtlRingProfileOn(handles[0], &general, 1), CAS_CTL_SUCCESS);
  ASSERT_TRUE(waitOnBoard([] { return !changesInto(0, "RING").empty(); }));
  ASSERT_EQ(casCtlRingProfileOn(handles[1], &general, 1), CAS_CTL_SUCCESS);
  // Until line 0 rings again and line 1 has rung once (6 s and 4 s of line time).
  EXPECT_TRUE(waitOnBoard([] { return changesInto(0, "RING").size() >= 2 && !changesInto(1, "OHT").empty(); }));
  EXPECT_EQ(casCtlRingOff(handles[0], 0), CAS_CTL_SUCCESS);
  EXPECT_EQ(casCtlRingOff(handles[1], 0), CAS_CTL_SUCCESS);

  const auto line0 = modeTimeline(0);
  const auto rings0 = changesInto(line0, "RING");
  const auto quiet0 = changesInto(line0, "OHT");
  ASSERT_GE(rings0.size(), 2u);
  ASSERT_GE(quiet0.size(), 1u);
  EXPECT_NEAR(quiet0[0] - rings0[0], 2000, 20);
  EXPECT_NEAR(rings0[1] - quiet0[0], 4000, 20);
  EXPECT_NEAR(rings0[1] - rings0[0], 6000, 20);

  // The second line's ring waits for the next stagger slot (2 s and one 10 ms period).
  const auto line1 = modeTimeline(1);
  const auto rings1 = changesInto(line1, "RING");
  const auto quiet1 = changesInto(line1, "OHT");
  ASSERT_GE(rings1.size(), 1u);
  ASSERT_GE(quiet1.size(), 1u);
  EXPECT_NEAR(rings1[0] - rings0[0], 2010, 20);
  EXPECT_NEAR(quiet1[0] - rings1[0], 2000, 20);
  // Never both ringing at once.
  EXPECT_GE(rings1[0], quiet0[0] - 20);
}

TEST_F(CasOnBoard, PulseDialledThreeIsReportedAsThree) {
  ASSERT_EQ(vboardCommand("0 offhook").rfind("OK", 0), 0u);
  ASSERT_TRUE(waitOnBoard([] { return seen(handles[0], CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_OFFHOOK); }));
  ASSERT_EQ(vboardCommand("0 pulse 3").rfind("OK", 0), 0u);
  ASSERT_TRUE(waitOnBoard([] { return !eventsOfType(CAS_CTL_PULSEDIAL_EVENT).empty(); }));
  // 300 ms more of the line's own time: the sampling task reports a period's events before it
  // samples the next, so one period beyond that everything up to it has been reported.
  ASSERT_TRUE(waitHookClock(0, 310));
  const auto digits = eventsOfType(CAS_CTL_PULSEDIAL_EVENT);
  ASSERT_EQ(digits.size(), 1u);
  EXPECT_EQ(digits[0].handle, handles[0]);
  EXPECT_EQ(digits[0].event, 3);
  EXPECT_FALSE(seen(handles[0], CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_FLASH));
  EXPECT_FALSE(seen(handles[0], CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_ONHOOK));
  vboardCommand("0 onhook");
  EXPECT_TRUE(waitOnBoard([] { return seen(handles[0], CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_ONHOOK); }));
}

}  // namespace

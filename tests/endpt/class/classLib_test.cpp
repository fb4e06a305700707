// The endpoint library on the virtual board with its caller-ID and FXO control modules: FXO
// control starts with the library, the exchange line's ring bursts reach the daemon, and an FXS
// line seizes the FXO line and sets up a call over it, whose completion crosses from the "PSTN"
// task to the dispatcher and on to the daemon.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vboard.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptClass.h"
#include "vrgEndptConsole.h"
#include "../vboardTimeline.h"
#include "../lineEventLog.h"

namespace {

using namespace std::chrono_literals;

const bool kEnvironment = [] {
  ::setenv("ORVOX_BOARD", "fxs=1,fxo=1,dect=0", 1);
  ::setenv("ORVOX_PROFILE_DIR", ORVOX_SOURCE_DIR "/prov/tel_profiles/", 1);
  // CTest runs the tests of this program side by side: each process has its own board socket.
  ::setenv("ORVOX_BOARD_SOCKET",
           ("/tmp/orvox_board_clid_lib_test_" + std::to_string(::getpid()) + ".sock").c_str(), 1);
  return true;
}();

// The caller-ID and FXO control modules and the console replace the library's placeholders for
// them: naming them here links them ahead of the placeholders.
const void* const kModules[] = {reinterpret_cast<const void*>(&ClassIsIdle),
                              reinterpret_cast<const void*>(&ProcessVrgEndptConsoleCmd)};

class ClassLib : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(kEnvironment);
    ASSERT_EQ(vosInit(), VOS_STATUS_OK);
  }
  static void TearDownTestSuite() { ::unlink(vboardSocketPath().c_str()); }
  void SetUp() override {
    ENDPT_INIT_CFG cfg{VRG_COUNTRY_NORTH_AMERICA};
    ASSERT_EQ(vrgEndptInit(&cfg, OnEvent, OnPacket, nullptr, nullptr, nullptr, nullptr), EPSTATUS_SUCCESS);
    ASSERT_EQ(vrgEndptCreate(0, 0, &fxs), EPSTATUS_SUCCESS);
    ASSERT_EQ(vrgEndptCreate(1, 1, &fxo), EPSTATUS_SUCCESS);
    ASSERT_EQ(fxo.endptType, EPTYPE_PSTN);
  }
  void TearDown() override {
    vrgEndptDeinit();
    clearEvents();
  }
  ENDPT_STATE fxs{};
  ENDPT_STATE fxo{};
};

TEST_F(ClassLib, SeizeAndSetUpACallOverTheFxoLine) {
  ASSERT_NE(kModules[0], kModules[1]);
  ASSERT_EQ(vrgEndptSignal(&fxs, -1, EPSIG_OFFHOOK, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_NE(vboardCommand("1 status").find("daa="), std::string::npos);
  // No dial string to generate: FXO control completes at once and the daemon hears of it.
  ASSERT_EQ(vrgEndptSignal(&fxs, -1, EPSIG_PSTNCALLSETUP_CONNECTONLY, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_TRUE(waitFor(1, EPEVT_OPCOMPLETE, 3000ms));
  ASSERT_EQ(vrgEndptSignal(&fxs, -1, EPSIG_ONHOOK, 1, -1, -1, -1), EPSTATUS_SUCCESS);
}

// A caller-ID ring: nothing rings until the caller's data arrives; then the phone rings with the
// country's cadence, falls silent for the message and rings again.
TEST_F(ClassLib, CallerIdRingStartsWithTheDataAndRingsAgainAfterTheSilence) {
  vboardCommand("0 onhook");
  const size_t ringsBefore = changesInto(0, "RING").size();
  ASSERT_EQ(vrgEndptSignal(&fxs, -1, EPSIG_CALLID_RINGING, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  // 300 ms of the line's own time without the data: no ring yet, and none may start before the
  // moment the data is given (both on the line driver's clock).
  ASSERT_TRUE(waitHookClock(0, 300));
  EXPECT_EQ(changesInto(0, "RING").size(), ringsBefore);
  const long dataAtMs = hookClockMs(0);
  static const char kCaller[] = "12011200,\"5551234\",\"ANN\"";
  ASSERT_EQ(vrgEndptSignal(&fxs, -1, EPSIG_CALLID, reinterpret_cast<uintptr_t>(kCaller), -1, -1, -1),
            EPSTATUS_SUCCESS);
  // The second ring starts 6 s of line time after the first; a loaded machine may stretch that,
  // so wait for it with a generous bound rather than for a fixed time.
  std::vector<long> rings;
  for (auto deadline = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(50ms)) {
    rings = changesInto(0, "RING");
    if (rings.size() >= ringsBefore + 2) break;
  }
  ASSERT_GE(rings.size(), ringsBefore + 2) << "the phone did not ring twice within 30 s";
  const long first = rings[ringsBefore];
  EXPECT_GE(first, dataAtMs - 10) << "the ring started before the caller's data was given";
  EXPECT_NEAR(rings[ringsBefore + 1] - first, 6000, 40);  // 2 s ring, 4 s silence
  vboardCommand("0 offhook");
}

// The daemon plays a cordless handset's keypad digit into the call as in-band DTMF and hears of
// it as a digit that began and ended.
TEST_F(ClassLib, ConsoleInBandDtmfDigitIsReportedAsADigit) {
  EPCMD_PARMS parms{};
  parms.arg[0] = 5;
  ASSERT_EQ(vrgEndptConsoleCmd(&fxs, EPCMD_INDTMF_GENERATE, &parms), EPSTATUS_SUCCESS);
  ASSERT_TRUE(waitFor(0, EPEVT_DTMF5, 2000ms));
  int digits = 0;
  for (EPEVT e : eventsOf(0)) digits += e == EPEVT_DTMF5;
  EXPECT_EQ(digits, 2);
  ENDPT_STATE missing{5, EPTYPE_FXS};
  EXPECT_EQ(vrgEndptConsoleCmd(&missing, EPCMD_ISTW_STATE, &parms), EPSTATUS_ERROR);
}

TEST_F(ClassLib, ExchangeRingBurstsReachTheDaemon) {
  ASSERT_EQ(vboardCommand("1 ring 400 1000 2").rfind("OK", 0), 0u);
  EXPECT_TRUE(waitFor(1, EPEVT_RINGDET, 2000ms));
  EXPECT_TRUE(waitFor(1, EPEVT_RINGOFF, 3000ms));
  EXPECT_TRUE(waitFor(1, EPEVT_RINGEND, 10000ms));
  const std::vector<EPEVT> events = eventsOf(1);
  int ringOn = 0, ringOff = 0, ringEnd = 0;
  for (EPEVT e : events) {
    ringOn += e == EPEVT_RINGDET;
    ringOff += e == EPEVT_RINGOFF;
    ringEnd += e == EPEVT_RINGEND;
  }
  EXPECT_EQ(ringOn, 2);
  EXPECT_EQ(ringOff, 2);
  EXPECT_EQ(ringEnd, 1);
}

}  // namespace

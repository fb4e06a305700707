// Caller ID on the virtual board in real time, with the HCAS task and the simulated phone and
// exchange line. The test thread stands in for the dispatcher: it hands line-signalling events to
// the caller-ID machine and to FXO control as the library does. Requests to the DSP are recorded
// (the board has no caller-ID transmit service behind them).
//   - Phone line: ring with caller ID in the first silence: the ring stops, the message goes out
//     in the silence, and the ring resumes.
//   - Exchange line: ring bursts give ring-on, ring-off and ring-end; DTMF caller ID between the
//     bursts is reported as first-ring caller ID.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "boardHal.h"
#include "casCtl.h"
#include "classStm.h"
#include "hostDspDouble.h"
#include "memCircBuf.h"
#include "pstnCtlInternal.h"
#include "vboard.h"
#include "vosInit.h"
#include "../cas/casHookTiming.h"
#include "../vboardTimeline.h"

namespace {

using Clock = std::chrono::steady_clock;

struct CasEvent {
  CAS_CTL_HANDLE handle;
  CAS_CTL_EVENT_TYPE type;
  int event;
  Clock::time_point at;
  long clockMs;  // the phone line's sampling clock when the event came
};

std::mutex eventsLock;
std::deque<CasEvent> pending;

void onCasEvent(CAS_CTL_HANDLE handle, CAS_CTL_EVENT_TYPE type, CAS_CTL_EVENT event) {
  std::lock_guard<std::mutex> guard(eventsLock);
  pending.push_back({handle, type, static_cast<int>(event), Clock::now(), hookClockMs(0)});
}

bool nextEvent(CasEvent* out, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 5) {
    {
      std::lock_guard<std::mutex> guard(eventsLock);
      if (!pending.empty()) {
        *out = pending.front();
        pending.pop_front();
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::vector<PSTN_CTL_EVENT_INFO> pstnReports;
std::vector<PSTN_CTL_CLID_EVENT_INFO> pstnClid;
void onPstnReport(uint16_t, PSTN_CTL_EVENT_INFO* info) {
  pstnReports.push_back(*info);
  if (info->pInfo != nullptr) pstnClid.push_back(*static_cast<PSTN_CTL_CLID_EVENT_INFO*>(info->pInfo));
}

class ClidOnBoard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("ORVOX_BOARD", "fxs=1,fxo=1,dect=0", 1);
    const std::string socket = "/tmp/orvox_clid_board_" + std::to_string(::getpid()) + ".sock";
    ::setenv("ORVOX_BOARD_SOCKET", socket.c_str(), 1);
    ASSERT_EQ(vosInit(), VOS_STATUS_OK);
    memCircBufInit();
    ASSERT_EQ(boardHalEventInit(), 0);
    ASSERT_GE(boardHalSsInit(VRG_COUNTRY_NORTH_AMERICA), 0);
    ASSERT_EQ(boardHalGetNumEndpoints(), 2);
    ASSERT_EQ(casCtlInit(onCasEvent), CAS_CTL_SUCCESS);
    CAS_CTL_FXO_PARMS parms = hookTimingWithoutWink();
    ASSERT_EQ(casCtlEndptInit(0, CAS_TYPE_FXO, &phone, &parms), CAS_CTL_SUCCESS);
    ASSERT_EQ(casCtlEndptInit(1, CAS_TYPE_FXS, &exchange, &parms), CAS_CTL_SUCCESS);
    ASSERT_TRUE(waitHookClock(0, 100));  // both lines have settled into idle
    std::lock_guard<std::mutex> guard(eventsLock);
    pending.clear();
  }
  static void TearDownTestSuite() {
    casCtlDeinit();
    boardHalSsDeinit();
    boardHalEventDeinit();
  }
  static inline CAS_CTL_HANDLE phone = -1;
  static inline CAS_CTL_HANDLE exchange = -1;
};

TEST_F(ClidOnBoard, RingWithCallerIdInTheFirstSilenceThenTheRingResumes) {
  HostDspDouble::get().clear();
  CLASSSTM_MEM mem{};
  ASSERT_EQ(classStmInit(&mem, static_cast<uint16_t>(phone), 0x51, VRG_COUNTRY_NORTH_AMERICA), 0);
  classStmReset(&mem, CLASSSTM_TYPE_ONHOOK_RING_CLID);
  const VRG_CLASS_FSK fsk{135, 1200, 2200, 300, 180};
  mem.fskParms = &fsk;
  mem.clidProtocol = CLASS_SIG_TYPE_FSK_CLID;
  std::snprintf(mem.clidInfo.date, sizeof mem.clidInfo.date, "12011030");
  std::snprintf(mem.clidInfo.number, sizeof mem.clidInfo.number, "5551234");
  // 1 s ring, 2 s silence, twice in the 6 s cadence; caller ID 500 ms into the first silence.
  mem.ringInfo.provBits.shortRingPattern = {0xFFC00003, 0xFF000000};
  mem.ringInfo.ringType = CAS_CTRL_SHORT_NORMAL_RING;
  mem.ringInfo.clidTxDelay = 500;

  const Clock::time_point start = Clock::now();
  classStmEventProcess(&mem, CLASSSTM_CLID_RING, 0);
  EXPECT_EQ(mem.currentStatep, stateClidTxNaWaitSilence);
  EXPECT_FALSE(HostDspDouble::get().packets().empty());  // the message is loaded

  // Times are taken on the line driver's sampling clock, which the cadence itself runs on: a
  // loaded machine stretches wall time, not these. The wait ends once the ring has resumed.
  long transmitAtMs = -1;
  long firstRingOff = -1;
  CasEvent e{};
  while (Clock::now() - start < std::chrono::milliseconds(30000) && changesInto(0, "RING").size() < 2) {
    if (!nextEvent(&e, 50) || e.handle != phone) continue;
    if (e.type == CAS_CTL_STATECTL_EVENT && e.event == CAS_CTL_EVENT_TIMER_EXPIRE) {
      classStmEventProcess(&mem, CLASSSTM_TIMER_EXPIRE, 0);
      if (transmitAtMs < 0) {
        transmitAtMs = e.clockMs - firstRingOff;
        // The transmit service reports the end of the message.
        HSZEVT end{0x51, hdsp::CLIDTX_END_EVT, HAPI_REQID_STD_EVT, 0, {}};
        ClassEvent(&mem, nullptr, 0, VRG_COUNTRY_NORTH_AMERICA, &end, nullptr);
      }
    } else if (e.type == CAS_CTL_STATECTL_EVENT && e.event == CAS_CTL_EVENT_FIRST_RINGOFF) {
      firstRingOff = e.clockMs;
      classStmEventProcess(&mem, CLASSSTM_CLID_FIRST_RINGOFF, 0);
    }
  }
  classStmEventProcess(&mem, CLASSSTM_RING_OFF, 0);  // the line is idle: only stops the ring
  casCtlRingOff(phone, 0);

  EXPECT_NEAR(transmitAtMs, 480, 40);  // caller-ID delay into the silence
  int transmits = 0;
  for (const DspRequest& r : HostDspDouble::get().dsp) transmits += (r.cmd == 0x0880 && r.op1 == 1) ? 1 : 0;
  EXPECT_EQ(transmits, 1);
  EXPECT_TRUE(classStmIsIdle(&mem));

  const std::vector<long> rings = changesInto(0, "RING");
  const std::vector<long> quiet = changesInto(0, "OHT");
  ASSERT_GE(rings.size(), 2u);
  ASSERT_GE(quiet.size(), 1u);
  EXPECT_NEAR(quiet[0] - rings[0], 1000, 30);
  EXPECT_NEAR(rings[1] - rings[0], 3000, 30);  // the ring resumes after the caller-ID silence
}

TEST_F(ClidOnBoard, ExchangeRingBurstsAndDtmfCallerIdBetweenThem) {
  HostDspDouble::get().clear();
  pstnReports.clear();
  pstnClid.clear();
  constexpr uint16_t kPstnVhd = 0x53;
  ASSERT_EQ(pstnCtlStateInit(VRG_COUNTRY_NORTH_AMERICA, onPstnReport), PSTN_CTL_SUCCESS);
  ASSERT_EQ(pstnCtlEndptInit(kPstnVhd), PSTN_CTL_SUCCESS);
  VRG_CLASS_DTMF parms{};
  parms.startCode = 12;
  parms.endCode = 15;
  parms.informationCode = 13;
  parms.redirectingCode = 14;
  parms.DTMFpauseTimeout = 500;
  parms.DTMFsessionTimeout = 3000;
  parms.ringAfterClidTimeout = 6000;
  ASSERT_EQ(pstnCtlDTMFClidRxInit(VRG_COUNTRY_NORTH_AMERICA, kPstnVhd, &parms), PSTN_CTL_SUCCESS);

  auto toPstn = [&](PSTN_CTL_EVENT event, uint16_t op1) {
    PSTN_CTL_EVT evt{};
    evt.hsxdevhdl = kPstnVhd;
    evt.hsxevt = event;
    evt.hsxop1 = op1;
    ASSERT_EQ(pstnCtlSendEvent(&evt), PSTN_CTL_SUCCESS);
    pstnCtlTaskPeriod();
  };

  ASSERT_EQ(vboardCommand("1 ring 400 1500 2").rfind("OK", 0), 0u);
  std::vector<int> seen;
  CasEvent e{};
  const Clock::time_point start = Clock::now();
  while (Clock::now() - start < std::chrono::milliseconds(9500)) {
    if (!nextEvent(&e, 50) || e.handle != exchange || e.type != CAS_CTL_DETECT_EVENT) continue;
    seen.push_back(e.event);
    switch (e.event) {
      case CAS_CTL_EVENT_RINGON: toPstn(PSTN_CTL_EVT_RINGON, 0); break;
      case CAS_CTL_EVENT_RINGOFF:
        toPstn(PSTN_CTL_EVT_RINGOFF, 0);
        if (std::count(seen.begin(), seen.end(), CAS_CTL_EVENT_RINGOFF) == 1) {
          for (uint16_t digit : {12, 5, 5, 5, 15}) toPstn(PSTN_CTL_EVT_DTMF_DIGIT, digit);
        }
        break;
      case CAS_CTL_EVENT_RINGEND: toPstn(PSTN_CTL_EVT_RINGEND, 0); break;
      default: break;
    }
    if (e.event == CAS_CTL_EVENT_RINGEND) break;
  }
  EXPECT_EQ(seen, (std::vector<int>{CAS_CTL_EVENT_RINGON, CAS_CTL_EVENT_RINGOFF, CAS_CTL_EVENT_RINGON,
                                    CAS_CTL_EVENT_RINGOFF, CAS_CTL_EVENT_RINGEND}));
  ASSERT_EQ(pstnReports.size(), 1u);
  EXPECT_EQ(pstnReports[0].event, PSTN_CTL_EVT_VALID_DTMFCLID);
  ASSERT_EQ(pstnClid.size(), 1u);
  EXPECT_STREQ(pstnClid[0].clidData.callingNumber, "555");
  EXPECT_EQ(pstnClid[0].clidType, DTMFCLIDRX_FIRSTRING_CLID);
  // The ring end closes the session: the receiver is ready for the next call.
  const PSTN_CTL_DTMFCLIDRX_STATE& rx = pstnCtlChannel(kPstnVhd)->dtmfClidRx;
  EXPECT_EQ(rx.stateInfo.serviceState, DTMFCLIDRX_IDLE);
  EXPECT_EQ(rx.stateInfo.ringState, DTMFCLIDRX_NORING);
  pstnCtlStateDeinit();
}

}  // namespace

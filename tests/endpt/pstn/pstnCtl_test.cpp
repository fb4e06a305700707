// FXO line control: dialling out after dial tone, dial strings that send nothing, the dial-tone
// time-out, the event queue's limit, DTMF caller ID around the ring bursts, and the "PSTN" task.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../class/hostDspDouble.h"
#include "../logCapture.h"
#include "hdspClass.h"
#include "memCircBuf.h"
#include "pstnCtlInternal.h"
#include "vosInit.h"

namespace {

constexpr uint16_t kVhd = 0x53;

struct Report {
  uint16_t vhd;
  PSTN_CTL_EVENT event;
  bool hasClid;
  PSTN_CTL_CLID_EVENT_INFO clid;
};

std::mutex reportLock;
std::vector<Report> reports;

void recordReport(uint16_t vhd, PSTN_CTL_EVENT_INFO* info) {
  Report r{vhd, info->event, info->pInfo != nullptr, {}};
  if (r.hasClid) r.clid = *static_cast<PSTN_CTL_CLID_EVENT_INFO*>(info->pInfo);
  std::lock_guard<std::mutex> guard(reportLock);
  reports.push_back(r);
}

std::vector<Report> takeReports() {
  std::lock_guard<std::mutex> guard(reportLock);
  std::vector<Report> out;
  out.swap(reports);
  return out;
}

PSTN_CTL_STATUS send(PSTN_CTL_EVENT event, uint16_t op1 = 0, const void* op2 = nullptr) {
  PSTN_CTL_EVT evt{};
  evt.hsxdevhdl = kVhd;
  evt.hsxevt = event;
  evt.hsxreqid = HAPI_REQID_STD_EVT;
  evt.hsxop1 = op1;
  evt.hsxop2.ref = const_cast<void*>(op2);
  return pstnCtlSendEvent(&evt);
}

std::vector<uint8_t> dialledDigits() {
  for (auto it = HostDspDouble::get().dsp.rbegin(); it != HostDspDouble::get().dsp.rend(); ++it) {
    if (it->cmd != 0x0902) continue;
    HAPI_PTE_DIALSTRING d{};
    std::memcpy(&d, it->data.data(), sizeof d);
    EXPECT_EQ(d.dBmLevel, 10);
    EXPECT_EQ(d.pulseOnTime, 1200);
    EXPECT_EQ(d.pauseTime, 8000);
    const auto* bytes = reinterpret_cast<const uint8_t*>(d.digitArray);
    return std::vector<uint8_t>(bytes, bytes + d.numCharacters);
  }
  return {};
}

bool sent(uint16_t cmd) {
  for (const DspRequest& r : HostDspDouble::get().dsp) {
    if (r.cmd == cmd) return true;
  }
  return false;
}

// Before any set-up (this runs first), or after shutdown, nothing is posted, and a stop frees nothing that FXO
// control does not own (the first circular buffer here belongs to someone else).
TEST(PstnCtlNoQueue, SendingAndStoppingWithoutAStart) {
  LogCapture log;
  memCircBufInit();
  MEMCIRCBUFDRV other = MEMCIRCBUF_INVALID;
  ASSERT_EQ(memCircBufAlloc(&other, 64), BUF_STATUS_OK);
  PSTN_CTL_EVT evt{};
  EXPECT_EQ(pstnCtlSendEvent(&evt), PSTN_CTL_FAILURE);
  EXPECT_TRUE(log.contains("EPT: pstnCtlSendEvent: NULL QiD!"));
  EXPECT_EQ(pstnCtlDeinit(), PSTN_CTL_SUCCESS);
  EXPECT_EQ(pstnCtlDeinit(), PSTN_CTL_SUCCESS);
  const uint8_t byte = 7;
  EXPECT_EQ(memCircBufWrite(other, &byte, 1), BUF_STATUS_OK);  // still there
  memCircBufFree(&other);
}

class PstnCtlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { memCircBufInit(); }
  void SetUp() override {
    HostDspDouble::get().clear();
    takeReports();
    ASSERT_EQ(pstnCtlStateInit(VRG_COUNTRY_NORTH_AMERICA, recordReport), PSTN_CTL_SUCCESS);
    ASSERT_EQ(pstnCtlEndptInit(kVhd), PSTN_CTL_SUCCESS);
  }
  void TearDown() override { pstnCtlStateDeinit(); }
  PSTN_CTL_CHAN_INFO& chan() { return *pstnCtlChannel(kVhd); }
  void period(int n = 1) {
    for (int i = 0; i < n; ++i) pstnCtlTaskPeriod();
  }
  void dialToneHeard() {
    const uint8_t slot = 0;
    ASSERT_EQ(send(PSTN_CTL_EVT_CPTONE_DETECT, 0, &slot), PSTN_CTL_SUCCESS);
    period();
  }
};

TEST_F(PstnCtlTest, SeizeWaitForDialToneDialAndComplete) {
  ASSERT_EQ(send(PSTN_CTL_EVT_CALL_SETUP, 0, "123"), PSTN_CTL_SUCCESS);
  period();
  EXPECT_EQ(chan().state, PSTN_CTL_CHAN_STATE_WAIT_DIAL_TONE);
  EXPECT_TRUE(sent(0x1A00));  // the detector listens for dial tone
  dialToneHeard();
  EXPECT_EQ(chan().state, PSTN_CTL_CHAN_STATE_GENERATE_DTMF);
  EXPECT_EQ(dialledDigits(), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(takeReports().empty());

  send(PSTN_CTL_EVT_DIAL_COMPLETE, 0);
  period();
  EXPECT_EQ(chan().state, PSTN_CTL_CHAN_STATE_IDLE);
  const std::vector<Report> r = takeReports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].event, PSTN_CTL_EVT_CALL_SETUP_COMPLETE);
  EXPECT_EQ(r[0].vhd, kVhd);
}

TEST_F(PstnCtlTest, InvalidDialCharactersAreLeftOut) {
  LogCapture log;
  send(PSTN_CTL_EVT_CALL_SETUP, 0, "9x*P#");
  period();
  dialToneHeard();
  EXPECT_EQ(dialledDigits(), (std::vector<uint8_t>{9, 10, 255, 11}));
  EXPECT_TRUE(log.contains("EPT: PSTN_CTL: Invalid dialstring digit (x)!!!"));
}

// A dial command that sends no digit gets no dial-complete event: it completes at once and the
// channel takes the next dial command.
TEST_F(PstnCtlTest, DialCommandThatSendsNothingCompletesAndFreesTheChannel) {
  for (const std::string& text : {std::string("--"), std::string(32, '5'), std::string()}) {
    HostDspDouble::get().clear();
    send(PSTN_CTL_EVT_CALL_SETUP, 0, text.empty() ? nullptr : text.c_str());
    period();
    dialToneHeard();
    EXPECT_FALSE(sent(0x0902)) << text;
    EXPECT_EQ(chan().state, PSTN_CTL_CHAN_STATE_IDLE) << text;
    const std::vector<Report> r = takeReports();
    ASSERT_EQ(r.size(), 1u) << text;
    EXPECT_EQ(r[0].event, PSTN_CTL_EVT_CALL_SETUP_COMPLETE);
  }
  // The same when the tone generator refuses the command.
  HostDspDouble::get().failCmd = 0x0902;
  send(PSTN_CTL_EVT_CALL_SETUP, 0, "1");
  period();
  dialToneHeard();
  EXPECT_EQ(chan().state, PSTN_CTL_CHAN_STATE_IDLE);
  EXPECT_EQ(takeReports().size(), 1u);
}

TEST_F(PstnCtlTest, ThirtyOneCharactersAreDialled) {
  const std::string text(31, '7');
  send(PSTN_CTL_EVT_CALL_SETUP, 0, text.c_str());
  period();
  EXPECT_EQ(std::string(chan().dialString), text);
  dialToneHeard();
  EXPECT_EQ(dialledDigits().size(), 31u);
}

TEST_F(PstnCtlTest, BypassCompletesWithoutTheDetector) {
  send(PSTN_CTL_EVT_CALL_SETUP, 0, "BYPASS_CMTD_DSGEN");
  period();
  EXPECT_TRUE(HostDspDouble::get().dsp.empty());
  EXPECT_EQ(chan().state, PSTN_CTL_CHAN_STATE_IDLE);
  EXPECT_EQ(takeReports().at(0).event, PSTN_CTL_EVT_CALL_SETUP_COMPLETE);
}

TEST_F(PstnCtlTest, NoDialToneWithinFiveSecondsTimesOut) {
  LogCapture log;
  send(PSTN_CTL_EVT_CALL_SETUP, 0, "1");
  period(98);  // 4850 ms waited
  send(PSTN_CTL_EVT_CALL_SETUP, 0, "2");  // still waiting: ignored
  period(2);
  EXPECT_TRUE(log.contains("EPT: PSTN_CTL: Dialing in progress, ignoring new dial command."));
  EXPECT_EQ(chan().state, PSTN_CTL_CHAN_STATE_WAIT_DIAL_TONE);
  EXPECT_TRUE(takeReports().empty());
  period();
  EXPECT_EQ(chan().state, PSTN_CTL_CHAN_STATE_IDLE);
  const std::vector<Report> r = takeReports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].event, PSTN_CTL_EVT_CPTONE_TIMEOUT);
  EXPECT_EQ(HostDspDouble::get().dsp.back().cmd, 0x1AB0);  // detector off
}

TEST_F(PstnCtlTest, QueueHoldsEightEventsAndFreesUnhandledTexts) {
  for (int i = 0; i < PSTN_CTL_QUEUE_RECORDS; ++i) EXPECT_EQ(send(PSTN_CTL_EVT_CALL_SETUP, 0, "1"), PSTN_CTL_SUCCESS);
  EXPECT_EQ(send(PSTN_CTL_EVT_CALL_SETUP, 0, "1"), PSTN_CTL_FAILURE);
  period();
  EXPECT_EQ(send(PSTN_CTL_EVT_CALL_SETUP, 0, "1"), PSTN_CTL_SUCCESS);
  // Teardown frees what is left; the leak checker of the sanitizer build holds us to it.
}


class PstnDtmfClidTest : public PstnCtlTest {
 protected:
  void SetUp() override {
    PstnCtlTest::SetUp();
    parms.startCode = 12;        // A
    parms.endCode = 15;          // D
    parms.informationCode = 13;  // B
    parms.redirectingCode = 14;  // C
    const uint8_t priv[16] = {13, 0, 1, 15, 127};
    std::memcpy(parms.privateCode, priv, sizeof priv);
    parms.DTMFpauseTimeout = 500;
    parms.DTMFsessionTimeout = 3000;
    parms.ringAfterClidTimeout = 6000;
    ASSERT_EQ(pstnCtlDTMFClidRxInit(VRG_COUNTRY_NORTH_AMERICA, kVhd, &parms), PSTN_CTL_SUCCESS);
  }
  void digits(std::initializer_list<uint16_t> codes) {
    for (uint16_t c : codes) {
      send(PSTN_CTL_EVT_DTMF_DIGIT, c);
      period();
    }
  }
  PSTN_CTL_DTMFCLIDRX_STATE& rx() { return chan().dtmfClidRx; }
  VRG_CLASS_DTMF parms{};
};

TEST_F(PstnDtmfClidTest, NumberBeforeTheFirstRingIsReportedOnce) {
  digits({12, 1, 2, 3, 15});
  std::vector<Report> r = takeReports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].event, PSTN_CTL_EVT_VALID_DTMFCLID);
  ASSERT_TRUE(r[0].hasClid);
  EXPECT_STREQ(r[0].clid.clidData.callingNumber, "123");
  EXPECT_STREQ(r[0].clid.clidData.clidString, "A123D");
  EXPECT_EQ(r[0].clid.clidType, DTMFCLIDRX_PRERING_CLID);
  EXPECT_TRUE(rx().stateInfo.timer[DTMFCLIDRX_RINGAFTERCLID_TIMER].running);

  send(PSTN_CTL_EVT_RINGON);
  period();
  EXPECT_FALSE(rx().stateInfo.timer[DTMFCLIDRX_RINGAFTERCLID_TIMER].running);
  EXPECT_TRUE(takeReports().empty());
  send(PSTN_CTL_EVT_RINGEND);
  period();
  EXPECT_EQ(rx().stateInfo.serviceState, DTMFCLIDRX_IDLE);
}

TEST_F(PstnDtmfClidTest, InformationFieldGivesTheAbsenceReasonAndRedirectionIsKept) {
  digits({12, 5, 14, 7, 7, 13, 0, 1, 15});
  const std::vector<Report> r = takeReports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_STREQ(r[0].clid.clidData.callingNumber, "5");
  EXPECT_STREQ(r[0].clid.clidData.redirectingNumber, "77");
  EXPECT_EQ(r[0].clid.clidData.infoRecieved, DTMFCLIDRX_INFO_PRIVATE);
}

TEST_F(PstnDtmfClidTest, OffHookDuringDigitsReportsInvalidOnce) {
  digits({12, 1, 2});
  send(PSTN_CTL_EVT_OFFHOOK);
  period();
  digits({3, 15});
  period(5);
  const std::vector<Report> r = takeReports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].event, PSTN_CTL_EVT_INVALID_DTMFCLID);
  EXPECT_FALSE(r[0].hasClid);
}

TEST_F(PstnDtmfClidTest, MalformedDigitStringIsNotReportedAsValid) {
  LogCapture log;
  digits({12, 1, 12, 2, 15});  // a second start-code field
  const std::vector<Report> r = takeReports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].event, PSTN_CTL_EVT_INVALID_DTMFCLID);
  EXPECT_TRUE(log.contains("EPT: processDTMFClidRxEvent: Error Parsing DTMF CLID!"));
}

TEST_F(PstnDtmfClidTest, PauseTimeOutBeforeAnyRingStartsAgain) {
  digits({12, 1});
  period(10);  // 500 ms without a digit
  EXPECT_EQ(rx().stateInfo.serviceState, DTMFCLIDRX_IDLE);
  EXPECT_TRUE(takeReports().empty());
  // In the first ring silence the session waits for the end of the ringing instead.
  send(PSTN_CTL_EVT_RINGON);
  period();
  send(PSTN_CTL_EVT_RINGOFF);
  period();
  digits({12, 4});
  EXPECT_EQ(rx().stateInfo.clidType, DTMFCLIDRX_FIRSTRING_CLID);
  period(10);
  EXPECT_EQ(rx().stateInfo.serviceState, DTMFCLIDRX_WAITINGFOREND);
  EXPECT_EQ(rx().stateInfo.clidType, DTMFCLIDRX_INVALID_CLID);
}

TEST_F(PstnDtmfClidTest, DestroyedReceiverIgnoresDigits) {
  pstnCtlDTMFClidRxDestroy(kVhd);
  EXPECT_EQ(rx().dtmfClidParms, nullptr);
  digits({12, 1, 15});
  EXPECT_TRUE(takeReports().empty());
}

// The real task: reports come from the "PSTN" thread; shutdown lets a report that is being
// taken finish and then ends the task by its stop flag.
std::atomic<int> taskReports{0};
std::atomic<bool> blockReports{false};
void taskCallback(uint16_t, PSTN_CTL_EVENT_INFO*) {
  taskReports.fetch_add(1);
  while (blockReports.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST(PstnCtlTask, ReportsFromTheTaskAndShutdownDuringAReport) {
  ASSERT_EQ(vosInit(), VOS_STATUS_OK);
  memCircBufInit();
  HostDspDouble::get().clear();
  taskReports = 0;
  ASSERT_EQ(pstnCtlInit(VRG_COUNTRY_NORTH_AMERICA, taskCallback), PSTN_CTL_SUCCESS);
  ASSERT_EQ(pstnCtlEndptInit(kVhd), PSTN_CTL_SUCCESS);
  send(PSTN_CTL_EVT_CALL_SETUP, 0, "BYPASS_CMTD_DSGEN");
  for (int i = 0; i < 400 && taskReports.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(taskReports.load(), 1);
  EXPECT_EQ(pstnCtlDeinit(), PSTN_CTL_SUCCESS);

  taskReports = 0;
  blockReports = true;
  ASSERT_EQ(pstnCtlInit(VRG_COUNTRY_NORTH_AMERICA, taskCallback), PSTN_CTL_SUCCESS);
  ASSERT_EQ(pstnCtlEndptInit(kVhd), PSTN_CTL_SUCCESS);
  send(PSTN_CTL_EVT_CALL_SETUP, 0, "BYPASS_CMTD_DSGEN");
  for (int i = 0; i < 400 && taskReports.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(taskReports.load(), 1);
  std::thread release([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    blockReports = false;
  });
  EXPECT_EQ(pstnCtlDeinit(), PSTN_CTL_SUCCESS);
  release.join();
}

}  // namespace

// The dispatcher's side of caller ID and FXO control: signal requests that start caller-ID and
// message-waiting sequences, line events into the machines, received caller ID reported to the
// daemon, FXO seizure, conference and release, and FXO control's reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "classStm.h"
#include "hdspTone.h"
#include "hostDspDouble.h"
#include "memCircBuf.h"
#include "pstnCtlInternal.h"
#include "vrgEndptClass.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgProv.h"

extern CLASSSTM_MEM classState[VRG_MAX_ENDPT];
extern std::vector<uint8_t> lastNotifyData;
extern int consoleFxoEndpoint;

// The dispatcher's functions that these calls reach.
ENDPTZCONFIG endptConfig{};
void PstnEventCallback(uint16_t vhdHdl, void*) { lineCall("PstnEventCallback", {vhdHdl}); }
EPSTATUS GetRingPattern(EPSIG, VRG_COUNTRY, const VRG_ENDPT*, CAS_CTL_RING_PROFILE* profile) {
  *profile = CAS_CTL_RING_PROFILE{};
  profile->ringType = CAS_CTRL_SHORT_NORMAL_RING;
  profile->clidTxDelay = 500;
  return EPSTATUS_SUCCESS;
}
const EPZTONEMAP* getEpzToneMapEntry(EPSIG signal) {
  static const EPZTONEMAP callWaiting{1, EPPROV_ToneCallWaiting};
  return signal == EPSIG_CALLWT || signal == EPSIG_SAS_CAS ? &callWaiting : nullptr;
}
int boardHalLedControl(int ept, int value) { return lineCall("boardHalLedControl", {ept, value}); }
EPSTATUS DisconnectSB(int a, int b) {
  lineCall("DisconnectSB", {a, b});
  return EPSTATUS_SUCCESS;
}

namespace {

std::vector<LineRequest> calls(const std::string& name) {
  std::vector<LineRequest> out;
  for (const LineRequest& r : HostDspDouble::get().line) {
    if (r.call == name) out.push_back(r);
  }
  return out;
}

int countCmd(uint16_t cmd, int op1 = -1) {
  int n = 0;
  for (const DspRequest& r : HostDspDouble::get().dsp) n += (r.cmd == cmd && (op1 < 0 || r.op1 == op1)) ? 1 : 0;
  return n;
}

class ClassEndptTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    memCircBufInit();
    endptProvInit();
  }
  void SetUp() override {
    HostDspDouble::get().clear();
    vrgEndptStateReset();
    endptConfig.country = VRG_COUNTRY_NORTH_AMERICA;
    fxs = setUp(0, EPTYPE_FXS, 0x51);
    fxo = setUp(1, EPTYPE_PSTN, 0x52);
    fxo->pstnVhdHdl = 0x53;
    consoleFxoEndpoint = 1;
    ASSERT_EQ(ClassLineInit(fxs), 0);
  }
  VRG_ENDPT* setUp(int line, EPTYPE type, uint16_t vhd) {
    VRG_ENDPT& e = vrgEndpt[line];
    e.isLineUsed = 1;
    e.lineId = line;
    e.endptNum = static_cast<uint16_t>(line);
    e.lineVhdHdl = vhd;
    e.casCtlHandle = line;
    e.endptType = type;
    e.endptArchive = &archive[line];
    e.routedFxsLineId = -1;
    archive[line] = ENDPT_STATE{line, type};
    return &e;
  }
  void setProv(int line, EPPROV item, int value) { endptProvSetValue(line, item, &value, sizeof value); }

  ENDPT_STATE archive[2]{};
  VRG_ENDPT* fxs = nullptr;
  VRG_ENDPT* fxo = nullptr;
};

TEST_F(ClassEndptTest, CallerIdRingThenDataRingsWithTheMessageLoaded) {
  setProv(0, EPPROV_CIDMode, CLASSSTM_TYPE_ONHOOK_RING_CLID);
  ASSERT_EQ(ClassSignal(fxs, EPSIG_CALLID_RINGING, 1), EPSTATUS_SUCCESS);
  EXPECT_TRUE(ClassIsIdle(fxs));  // nothing rings before the caller-ID data
  EXPECT_TRUE(calls("casCtlRingProfileOn").empty());

  const char* text = "12251830,\"5551234\",\"JOHN\"";
  ASSERT_EQ(ClassSignal(fxs, EPSIG_CALLID, reinterpret_cast<uintptr_t>(text)), EPSTATUS_SUCCESS);
  EXPECT_FALSE(ClassIsIdle(fxs));
  EXPECT_STREQ(classState[0].clidInfo.number, "5551234");
  ASSERT_EQ(calls("casCtlRingProfileOn").size(), 1u);
  EXPECT_EQ(calls("casCtlRingProfileOn")[0].args[2], 480);
  EXPECT_FALSE(HostDspDouble::get().packets().empty());

  ClassTimerExpire(fxs);
  EXPECT_EQ(countCmd(0x0880, 1), 1);
  ClassDspEvent(fxs, 0x08C0, 0, 0);  // the message went out
  EXPECT_TRUE(ClassIsIdle(fxs));

  // Ringing stopped on hook goes to the machine.
  ClassSignal(fxs, EPSIG_CALLID_RINGING, 1);
  ClassSignal(fxs, EPSIG_CALLID, reinterpret_cast<uintptr_t>(text));
  HostDspDouble::get().clear();
  ClassSignal(fxs, EPSIG_CALLID_RINGING, 0);
  EXPECT_EQ(calls("casCtlRingOff").size(), 1u);
  EXPECT_TRUE(ClassIsIdle(fxs));
}

TEST_F(ClassEndptTest, OffHookDuringCallWaitingCallerIdHoldsPulsesBack) {
  fxs->offHook.store(1);
  ASSERT_EQ(ClassSignal(fxs, EPSIG_SAS_CAS, 1), EPSTATUS_SUCCESS);
  EXPECT_EQ(classState[0].classType, CLASS_MSG_OFFHOOK_CLID);
  const char* text = "0101,5551234,";
  ClassSignal(fxs, EPSIG_CALLID, reinterpret_cast<uintptr_t>(text));
  EXPECT_TRUE(ClassOffhookClidRunning(fxs));
  ClassDspEvent(fxs, 0x0942, 2, reinterpret_cast<uintptr_t>("\0\0"));  // the alerting tone ended
  EXPECT_TRUE(ClassBlocksPulseEvents(fxs));
  EXPECT_FALSE(ClassBlocksAllCasEvents(fxs));
  ClassDspEvent(fxs, 0x09C0, 0, 12);  // the phone acknowledged with A
  EXPECT_EQ(countCmd(0x0880, 1), 1);
  ClassSignal(fxs, EPSIG_SAS_CAS, 0);
  EXPECT_FALSE(ClassOffhookClidRunning(fxs));
  EXPECT_FALSE(ClassBlocksPulseEvents(fxs));
}

TEST_F(ClassEndptTest, MessageWaitingAfterOpenSwitchInterval) {
  setProv(0, EPPROV_VMWIMode, CLASSSTM_TYPE_OSI_VMWI);
  setProv(0, EPPROV_VMWISigProtocol, CLASS_SIG_TYPE_FSK_VMWI);
  ASSERT_EQ(ClassSignal(fxs, EPSIG_VMWI, 1), EPSTATUS_SUCCESS);
  ASSERT_EQ(calls("casCtlSupervisoryDisconnect").size(), 1u);
  ClassUpdateCasState(fxs, EPCAS_VMWI_OSI_SENT);
  EXPECT_EQ(countCmd(0x0880, 1), 1);
  ClassUpdateCasState(fxs, EPCAS_OFFHOOK);
  EXPECT_TRUE(ClassIsIdle(fxs));
}

TEST_F(ClassEndptTest, ReceivedCallerIdIsReportedWithItsData) {
  std::vector<uint8_t> msg{0x04, 11, '1', '2', '2', '4', '1', '8', '0', '0', '5', '5', '5'};
  unsigned sum = 0;
  for (uint8_t b : msg) sum += b;
  msg.push_back(static_cast<uint8_t>(-sum));
  HSZCLIDRXPACKET start{};
  ClassDspEvent(fxo, 0x3440, sizeof start, reinterpret_cast<uintptr_t>(&start));
  HSZCLIDRXPACKET end{};
  end.hsxClassCode = CLIDRX_PKT_END;
  end.hsxClassMsgWord0 = static_cast<uint16_t>(msg.size());
  std::memcpy(end.hsxClassMsg, msg.data(), msg.size());
  ClassDspEvent(fxo, 0x3440, sizeof end, reinterpret_cast<uintptr_t>(&end));
  // The daemon's notify goes through vrgEndptNotify (recorded by the console double).
  const auto notes = calls("vrgEndptNotify");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].args[0], 1);                  // the FXO line
  EXPECT_EQ(notes[0].args[2], EPEVT_FSK_CLIDRX);
  EXPECT_EQ(notes[0].args[3], static_cast<long>(sizeof(EPCLIDRX_DATA)));
  EPCLIDRX_DATA data{};
  ASSERT_EQ(lastNotifyData.size(), sizeof data);
  std::memcpy(&data, lastNotifyData.data(), sizeof data);
  EXPECT_STREQ(data.date, "12241800");
  EXPECT_STREQ(data.number, "555");
}

TEST_F(ClassEndptTest, DtmfCallerIdReportsCarryNumberOrReason) {
  PSTN_CTL_CLID_EVENT_INFO clid{};
  clid.clidData.infoRecieved = DTMFCLIDRX_INFO_PRIVATE;
  PSTN_CTL_EVENT_INFO info{PSTN_CTL_EVT_VALID_DTMFCLID, &clid};
  PstnEventProcessInfo(fxo, &info);
  EPCLIDRX_DATA data{};
  ASSERT_EQ(lastNotifyData.size(), sizeof data);
  std::memcpy(&data, lastNotifyData.data(), sizeof data);
  EXPECT_EQ(data.reasonNoNumber, 'P');
  EXPECT_STREQ(data.number, "Private");
  std::snprintf(clid.clidData.callingNumber, sizeof clid.clidData.callingNumber, "4711");
  clid.clidData.infoRecieved = DTMFCLIDRX_INFO_NONE;
  info.event = PSTN_CTL_EVT_PARTIAL_DTMFCLID;
  PstnEventProcessInfo(fxo, &info);
  std::memcpy(&data, lastNotifyData.data(), sizeof data);
  EXPECT_EQ(data.reasonNoNumber, 0);
  EXPECT_STREQ(data.number, "4711");
  info = PSTN_CTL_EVENT_INFO{PSTN_CTL_EVT_CPTONE_TIMEOUT, nullptr};
  PstnEventProcessInfo(fxo, &info);
  const auto notes = calls("vrgEndptNotify");
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].args[2], EPEVT_DTMF_CLIDRX);
  EXPECT_EQ(notes[1].args[2], EPEVT_DTMF_CLIDRX);
  EXPECT_EQ(notes[2].args[2], EPEVT_CPTONETIMEOUT);
}

}  // namespace

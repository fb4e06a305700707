// Caller-ID and message-waiting sequences run through the line's machine: what each step asks of
// line signalling, the tone generator and the transmit service, and where the machine ends up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../logCapture.h"
#include "classStm.h"
#include "hostDspDouble.h"
#include "vrgEndptIdleWd.h"

namespace {

constexpr uint16_t kVhd = 0x51;
constexpr uint16_t kCas = 3;
constexpr int kLine = 1;

bool has(const std::vector<std::string>& calls, const std::string& name) {
  return std::find(calls.begin(), calls.end(), name) != calls.end();
}

const LineRequest* lastCall(const std::string& name) {
  const auto& line = HostDspDouble::get().line;
  for (auto it = line.rbegin(); it != line.rend(); ++it) {
    if (it->call == name) return &*it;
  }
  return nullptr;
}

int countCmd(uint16_t cmd, uint16_t op1) {
  int n = 0;
  for (const DspRequest& r : HostDspDouble::get().dsp) n += (r.cmd == cmd && r.op1 == op1) ? 1 : 0;
  return n;
}

// The arguments of the last call of that name (none when it was not called).
std::vector<long> lastArgs(const std::string& name) {
  const LineRequest* r = lastCall(name);
  return r != nullptr ? r->args : std::vector<long>{};
}
// The CAS step the machine asked for last: state and time.
std::vector<long> lastStep() { return lastArgs("casCtlSetStateGenEvent"); }
// The tone the machine played last towards the line (-1: none).
long lastTone() {
  const std::vector<long> a = lastArgs("hdspToneOn");
  return a.size() > 2 ? a[2] : -1;
}

class ClassStmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostDspDouble::get().clear();
    ASSERT_EQ(classStmInit(&mem, kCas, kVhd, VRG_COUNTRY_NORTH_AMERICA), 0);
    EXPECT_EQ(countCmd(0x08B0, 1), 1);  // transmitter enabled
  }
  void start(CLASSSTM_TYPE type, VRG_COUNTRY country = VRG_COUNTRY_NORTH_AMERICA) {
    mem.country = country;
    classStmReset(&mem, type);
    std::snprintf(mem.clidInfo.date, sizeof mem.clidInfo.date, "01020304");
    std::snprintf(mem.clidInfo.number, sizeof mem.clidInfo.number, "5551234");
    std::snprintf(mem.clidInfo.name, sizeof mem.clidInfo.name, "ANN");
    mem.ringInfo.clidTxDelay = 500;
    mem.ringInfo.ringType = CAS_CTRL_SHORT_NORMAL_RING;
    mem.fskParms = &fsk;
    mem.dtmfParms = &dtmf;
    mem.clidProtocol = CLASS_SIG_TYPE_FSK_CLID;
    mem.vmwiProtocol = CLASS_SIG_TYPE_FSK_VMWI;
    mem.ringAfterFsk = 500;
    mem.fskAfterDtas = 100;
    mem.fskAfterRp = 600;
    mem.dtasAfterLr = 300;
    HostDspDouble::get().clear();
  }
  std::vector<std::string> feed(int event) {
    HostDspDouble::get().clear();
    classStmEventProcess(&mem, event, kLine);
    return HostDspDouble::get().lineCalls();
  }
  // After the first event of a reversal-and-alerting sequence: hook changes ignored, reversed
  // polarity for the reversal delay less 20 ms, the dual tone, 1 ms short of the FSK delay, then
  // the message goes out.
  void reversalDualToneAndMessage() {
    EXPECT_EQ(lastArgs("casCtlIgnoreHookState"), (std::vector<long>{kCas, 0xFFFF}));
    EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHTR, 300 - 20}));
    feed(CLASSSTM_TIMER_EXPIRE);
    EXPECT_EQ(lastTone(), CT_DTAS_ONHOOK);
    feed(CLASSSTM_TONE_GEN_EVT);
    EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHTR, 100 - 1}));
    feed(CLASSSTM_TIMER_EXPIRE);
    EXPECT_EQ(countCmd(0x0880, 1), 1);
  }
  CLASSSTM_MEM mem{};
  VRG_CLASS_FSK fsk{135, 1200, 2200, 300, 180};
  VRG_CLASS_DTMF dtmf{};
};

TEST_F(ClassStmTest, RingWithCallerIdInTheFirstSilence) {
  start(CLASSSTM_TYPE_ONHOOK_RING_CLID);
  EXPECT_EQ(mem.classType, CLASS_MSG_ONHOOK_CLID);
  std::vector<std::string> calls = feed(CLASSSTM_CLID_RING);
  EXPECT_EQ(mem.currentStatep, stateClidTxNaWaitSilence);
  EXPECT_FALSE(HostDspDouble::get().packets().empty());  // message loaded
  const LineRequest* ring = lastCall("casCtlRingProfileOn");
  ASSERT_NE(ring, nullptr);
  EXPECT_EQ(ring->args[2], 480);  // the caller-ID delay less 20 ms
  EXPECT_EQ(mem.ringInfo.clidTxDelay, 500u);  // the line's own profile is untouched

  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(countCmd(0x0880, 1), 1);  // transmission started
  EXPECT_FALSE(classStmIsIdle(&mem));
  feed(CLASSSTM_CLID_TX_END);
  EXPECT_TRUE(classStmIsIdle(&mem));
}

TEST_F(ClassStmTest, OffHookBeforeTheFskStopsPreparationsButNotTheRing) {
  start(CLASSSTM_TYPE_ONHOOK_RING_CLID);
  feed(CLASSSTM_CLID_RING);
  std::vector<std::string> calls = feed(CLASSSTM_OFFHOOK);
  EXPECT_TRUE(classStmIsIdle(&mem));
  EXPECT_FALSE(has(calls, "casCtlRingOff"));
  EXPECT_EQ(countCmd(0x0880, 0), 1);  // transmission stopped

  feed(CLASSSTM_CLID_RING);
  calls = feed(CLASSSTM_RING_OFF);
  EXPECT_TRUE(has(calls, "casCtlRingOff"));
  EXPECT_TRUE(classStmIsIdle(&mem));
}

TEST_F(ClassStmTest, RingOffDuringFskLetsTheMessageFinishThenStopsRinging) {
  start(CLASSSTM_TYPE_ONHOOK_RING_CLID);
  feed(CLASSSTM_CLID_RING);
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_TRUE(feed(CLASSSTM_RING_OFF).empty());
  EXPECT_EQ(mem.currentStatep, stateClidTxNaContFsk);
  EXPECT_TRUE(has(feed(CLASSSTM_CLID_TX_END), "casCtlRingOff"));
  EXPECT_TRUE(classStmIsIdle(&mem));
}

TEST_F(ClassStmTest, EventWithoutARowChangesNothing) {
  start(CLASSSTM_TYPE_ONHOOK_RING_CLID);
  feed(CLASSSTM_CLID_RING);
  const SME_STATE* before = mem.currentStatep;
  EXPECT_TRUE(feed(CLASSSTM_VMWI_ON).empty());
  EXPECT_TRUE(HostDspDouble::get().dsp.empty());
  EXPECT_EQ(mem.currentStatep, before);

  classStmReset(&mem, static_cast<CLASSSTM_TYPE>(11));
  EXPECT_EQ(mem.currentStatep, nullptr);
  EXPECT_TRUE(feed(CLASSSTM_CLID_RING).empty());
}

TEST_F(ClassStmTest, RingPulseAlertingSignalIsLongerInIndia) {
  start(CLASSSTM_TYPE_ONHOOK_RPAS_CLID, VRG_COUNTRY_INDIA);
  feed(CLASSSTM_CLID_RING);
  EXPECT_EQ(lastCall("casCtlSetStateGenEvent")->args, (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING, 400}));
  start(CLASSSTM_TYPE_ONHOOK_RPAS_CLID, VRG_COUNTRY_UK);
  feed(CLASSSTM_CLID_RING);
  EXPECT_EQ(lastCall("casCtlSetStateGenEvent")->args, (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING, 250}));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(lastCall("casCtlSetStateGenEvent")->args, (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, 599}));
}

TEST_F(ClassStmTest, JapaneseCallAnsweredDuringCallArrivalRing) {
  start(CLASSSTM_TYPE_ONHOOK_LRCARIR_CLID, VRG_COUNTRY_JAPAN);
  feed(CLASSSTM_CLID_RING);
  EXPECT_EQ(mem.evBlock, CLASSSTM_CASEVT_BLOCK_ALL);
  EXPECT_EQ(lastCall("casCtlRingProfileOn")->args[1], static_cast<long>(CAS_CTL_RING_JAPAN_CAR));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(mem.currentStatep, stateClidTxJpSendCar);
  feed(CLASSSTM_OFFHOOK);
  EXPECT_EQ(mem.currentStatep, stateClidTxJpSendFsk);
  EXPECT_EQ(countCmd(0x0880, 1), 1);
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_TRUE(classStmIsIdle(&mem));
  EXPECT_EQ(mem.evBlock, CLASSSTM_CASEVT_BLOCK_NONE);
  EXPECT_EQ(lastCall("casCtlSetStateGenEvent")->args, (std::vector<long>{kCas, CAS_CTL_FXO_IDLE, 0}));
}

TEST_F(ClassStmTest, DualToneAlertingThenFskThenRing) {
  start(CLASSSTM_TYPE_ONHOOK_DTAS_CLID);
  std::vector<std::string> calls = feed(CLASSSTM_CLID_RING);
  EXPECT_EQ(lastCall("hdspToneOn")->args[2], CT_DTAS_ONHOOK);
  feed(CLASSSTM_TONE_GEN_EVT);
  EXPECT_EQ(lastCall("casCtlSetStateGenEvent")->args[2], 99);
  feed(CLASSSTM_TIMER_EXPIRE);
  feed(CLASSSTM_CLID_TX_END);
  EXPECT_EQ(lastCall("casCtlSetStateGenEvent")->args[2], 490);  // ring after FSK less 10
  EXPECT_TRUE(has(feed(CLASSSTM_TIMER_EXPIRE), "casCtlRingProfileOn"));
  EXPECT_TRUE(has(feed(CLASSSTM_OFFHOOK), "casCtlRingOff"));
  EXPECT_TRUE(classStmIsIdle(&mem));

  // Sent as DTMF the ring follows sooner, by the last digit and 30 ms.
  start(CLASSSTM_TYPE_ONHOOK_DTAS_CLID);
  mem.clidProtocol = CLASS_SIG_TYPE_DTMF_CLID;
  dtmf.pulseTime = 60;
  feed(CLASSSTM_CLID_RING);
  EXPECT_TRUE(HostDspDouble::get().packets().empty());  // no FSK message loaded
  feed(CLASSSTM_TONE_GEN_EVT);
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(HostDspDouble::get().dsp.back().cmd, 0x0902);
  feed(CLASSSTM_TONE_GEN_EVT);
  EXPECT_EQ(lastCall("casCtlSetStateGenEvent")->args[2], 500 - 90 - 10);
}

TEST_F(ClassStmTest, OffHookCallerIdBehindTheAlertingTone) {
  start(CLASSSTM_TYPE_OFFHOOK_CLID);
  mem.callWtgInfo.profile = EPSIG_CALLWT;
  mem.callWtgInfo.delay = 40;
  mem.callWtgInfo.sasCustomProfile.tones = 2;
  mem.callWtgInfo.sasCustomProfile.tone[0].soundDuration = 300;
  mem.callWtgInfo.sasCustomProfile.tone[0].silenceDuration = 500;
  mem.callWtgInfo.sasCustomProfile.tone[1].soundDuration = 300;
  EXPECT_TRUE(classStmIsIdle(&mem));
  feed(CLASSSTM_CLID_SAS_CAS);
  EXPECT_FALSE(classStmIsIdle(&mem));
  feed(CLASSSTM_CLID_INFO);
  const LineRequest* sas = lastCall("hdspToneOn");
  ASSERT_NE(sas, nullptr);
  EXPECT_EQ(sas->args[3], 10);                   // delay
  EXPECT_EQ(sas->args[4], CLASS_SAS_TONE_TYPE);  // tone type
  EXPECT_EQ(sas->args[5], 1);                    // only the first tone
  HSZCLIDTXREGS regs{};
  std::memcpy(&regs, HostDspDouble::get().dsp[2].data.data(), sizeof regs);
  EXPECT_EQ(regs.delay, 100);

  feed(CLASSSTM_TONE_GEN_EVT);
  EXPECT_EQ(mem.evBlock, CLASSSTM_CASEVT_BLOCK_PULSE);
  EXPECT_EQ(lastCall("hdspToneOn")->args[3], 200);  // the SAS silence less 300 ms
  EXPECT_EQ(lastCall("casCtlEnableFastSlicStateMode")->args[1], 1);
  feed(CLASSSTM_CLID_ACK_RCVD);
  EXPECT_EQ(countCmd(0x0880, 1), 1);
  feed(CLASSSTM_CLID_TX_END);
  EXPECT_EQ(mem.evBlock, CLASSSTM_CASEVT_BLOCK_NONE);
  EXPECT_TRUE(classStmIsIdle(&mem));  // waiting for the rest of the tone counts as idle
  feed(CLASSSTM_TONE_GEN_EVT);
  EXPECT_EQ(lastCall("hdspToneOn")->args[5], 1);  // the tones after the first
  EXPECT_EQ(mem.currentStatep, stateClass2Idle);
}

TEST_F(ClassStmTest, MessageWaitingAfterAnOpenSwitchInterval) {
  start(CLASSSTM_TYPE_OSI_VMWI);
  mem.vmwiType = CLASS_VMWI_ACTIVATE;
  feed(CLASSSTM_VMWI_ON);
  EXPECT_EQ(lastCall("casCtlSupervisoryDisconnect")->args, (std::vector<long>{kCas, 300, CAS_OSI_VMWI}));
  EXPECT_EQ(HostDspDouble::get().packets().size(), 3u);  // start, data, end
  feed(CLASSSTM_VMWI_OSI_END);
  EXPECT_EQ(lastCall("istwEvent")->args, (std::vector<long>{kVhd, ISTW_SIGNALLING, 1}));
  feed(CLASSSTM_CLID_TX_END);
  EXPECT_EQ(lastCall("istwEvent")->args, (std::vector<long>{kVhd, ISTW_SIGNALLING, 0}));
  EXPECT_TRUE(classStmIsIdle(&mem));

  // As DTMF nothing is loaded up front; the digits go when the interval ends.
  start(CLASSSTM_TYPE_OSI_VMWI);
  mem.vmwiProtocol = CLASS_SIG_TYPE_DTMF_VMWI;
  mem.vmwiType = CLASS_VMWI_DEACTIVATE;
  feed(CLASSSTM_VMWI_OFF);
  EXPECT_TRUE(HostDspDouble::get().packets().empty());
  feed(CLASSSTM_VMWI_OSI_END);
  EXPECT_EQ(HostDspDouble::get().dsp.back().cmd, 0x0902);
}

TEST_F(ClassStmTest, LineReversalSequencesWithAndWithoutTheAlertingTone) {
  // Type 4: reversal, then the dual tone, the message, forward polarity and the ring, each step
  // timed from the line's delays.
  start(CLASSSTM_TYPE_ONHOOK_LRAS_CLID);
  EXPECT_EQ(mem.classType, CLASS_MSG_ONHOOK_CLID);
  std::vector<std::string> calls = feed(CLASSSTM_CLID_RING);
  EXPECT_FALSE(HostDspDouble::get().packets().empty());  // the message is loaded first
  ASSERT_NO_FATAL_FAILURE(reversalDualToneAndMessage());
  feed(CLASSSTM_CLID_TX_END);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHTR, (500 - 10) / 2}));
  feed(CLASSSTM_TIMER_EXPIRE);  // forward polarity for the second half
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, (500 - 10) / 2}));
  EXPECT_TRUE(has(feed(CLASSSTM_TIMER_EXPIRE), "casCtlRingProfileOn"));
  EXPECT_FALSE(classStmIsIdle(&mem));
  EXPECT_TRUE(has(feed(CLASSSTM_OFFHOOK), "casCtlRingOff"));
  EXPECT_TRUE(classStmIsIdle(&mem));
  // Answered while still reversed: the preparations stop and the polarity comes back forward.
  start(CLASSSTM_TYPE_ONHOOK_LRAS_CLID);
  feed(CLASSSTM_CLID_RING);
  calls = feed(CLASSSTM_OFFHOOK);
  ASSERT_TRUE(has(calls, "casCtlChangePolarity"));
  EXPECT_EQ(lastArgs("casCtlChangePolarity")[1], CAS_CTL_POLARITY_FORWARD);
  EXPECT_EQ(countCmd(0x0880, 0), 1);
  EXPECT_TRUE(classStmIsIdle(&mem));

  // Type 5: reversal, the message after the DTMF delay, then the ring; sent as DTMF the ring
  // comes sooner by the last digit and 30 ms.
  start(CLASSSTM_TYPE_ONHOOK_LR_CLID);
  mem.dtmfAfterLr = 250;
  mem.clidProtocol = CLASS_SIG_TYPE_DTMF_CLID;
  dtmf.pulseTime = 70;
  feed(CLASSSTM_CLID_RING);
  EXPECT_TRUE(HostDspDouble::get().packets().empty());  // DTMF: no FSK message loaded
  EXPECT_EQ(lastArgs("casCtlIgnoreHookState"), (std::vector<long>{kCas, 0xFFFF}));
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHTR, 250 - 20}));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(HostDspDouble::get().dsp.back().cmd, 0x0902);  // the digits go out
  feed(CLASSSTM_TONE_GEN_EVT);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, 500 - 30 - 70 - 10}));
  EXPECT_TRUE(has(feed(CLASSSTM_TIMER_EXPIRE), "casCtlRingProfileOn"));
  EXPECT_TRUE(has(feed(CLASSSTM_RING_OFF), "casCtlRingOff"));
  EXPECT_TRUE(classStmIsIdle(&mem));
  // A time-out during the transmission abandons it and stops the ring.
  start(CLASSSTM_TYPE_ONHOOK_LR_CLID);
  feed(CLASSSTM_CLID_RING);
  feed(CLASSSTM_TIMER_EXPIRE);
  calls = feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_TRUE(has(calls, "casCtlRingOff"));
  EXPECT_EQ(countCmd(0x0880, 0), 1);
  EXPECT_TRUE(classStmIsIdle(&mem));
}

TEST_F(ClassStmTest, MessageWaitingAfterAnAlertingSignal) {
  // Type 8: the dual tone on forward polarity, the message, 250 ms of on-hook transmission, idle.
  // The system is kept active only while the message goes out.
  start(CLASSSTM_TYPE_DTAS_VMWI);
  EXPECT_EQ(mem.classType, CLASS_MSG_VMWI);
  mem.vmwiType = CLASS_VMWI_ACTIVATE;
  feed(CLASSSTM_VMWI_ON);
  EXPECT_EQ(HostDspDouble::get().packets().size(), 3u);  // start, data, end
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, 0}));
  EXPECT_EQ(lastTone(), CT_DTAS_ONHOOK);
  feed(CLASSSTM_TONE_GEN_EVT);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, 100 - 1}));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(countCmd(0x0880, 1), 1);
  EXPECT_EQ(lastArgs("istwEvent"), (std::vector<long>{kVhd, ISTW_SIGNALLING, 1}));
  feed(CLASSSTM_CLID_TX_END);
  EXPECT_EQ(lastArgs("istwEvent"), (std::vector<long>{kVhd, ISTW_SIGNALLING, 0}));
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, 250}));
  EXPECT_FALSE(classStmIsIdle(&mem));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_IDLE, 0}));
  EXPECT_TRUE(classStmIsIdle(&mem));
  // Picked up while the message goes out: the watchdog is released and the sender stopped.
  start(CLASSSTM_TYPE_DTAS_VMWI);
  feed(CLASSSTM_VMWI_OFF);
  feed(CLASSSTM_TONE_GEN_EVT);
  feed(CLASSSTM_TIMER_EXPIRE);
  feed(CLASSSTM_OFFHOOK);
  EXPECT_EQ(lastArgs("istwEvent"), (std::vector<long>{kVhd, ISTW_SIGNALLING, 0}));
  EXPECT_EQ(countCmd(0x0880, 0), 1);
  EXPECT_TRUE(classStmIsIdle(&mem));

  // Type 9: a ring pulse (250 ms outside India), the message after the pulse delay, then idle.
  start(CLASSSTM_TYPE_RPAS_VMWI, VRG_COUNTRY_UK);
  mem.vmwiType = CLASS_VMWI_DEACTIVATE;
  feed(CLASSSTM_VMWI_OFF);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING, 250}));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, 600 - 1}));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(countCmd(0x0880, 1), 1);
  feed(CLASSSTM_TONE_GEN_EVT);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, 250}));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_IDLE, 0}));
  EXPECT_TRUE(classStmIsIdle(&mem));

  // Type 10: reversal first, then the dual tone on reversed polarity, the message, and back to
  // forward polarity in the idle state.
  start(CLASSSTM_TYPE_LRAS_VMWI);
  mem.vmwiType = CLASS_VMWI_ACTIVATE;
  feed(CLASSSTM_VMWI_ON);
  ASSERT_NO_FATAL_FAILURE(reversalDualToneAndMessage());
  feed(CLASSSTM_CLID_TX_END);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_ALERTING_OHT, 250}));
  feed(CLASSSTM_TIMER_EXPIRE);
  EXPECT_EQ(lastStep(), (std::vector<long>{kCas, CAS_CTL_FXO_IDLE, 0}));
  EXPECT_EQ(countCmd(0x0880, 0), 1);
  EXPECT_TRUE(classStmIsIdle(&mem));
}

TEST_F(ClassStmTest, DspEventsDriveTheMachineAndTheReceiver) {
  start(CLASSSTM_TYPE_ONHOOK_RING_CLID);
  feed(CLASSSTM_CLID_RING);
  feed(CLASSSTM_TIMER_EXPIRE);
  HSZEVT end{kVhd, hdsp::CLIDTX_END_EVT, HAPI_REQID_STD_EVT, 0, {}};
  EXPECT_EQ(ClassEvent(&mem, nullptr, kLine, VRG_COUNTRY_NORTH_AMERICA, &end, nullptr), 0);
  EXPECT_TRUE(classStmIsIdle(&mem));

  LogCapture log;
  HSZEVT refused{kVhd, hdsp::CLIDTX_REFUSED_EVT, HAPI_REQID_STD_EVT, 1, {}};
  ClassEvent(&mem, nullptr, kLine, VRG_COUNTRY_NORTH_AMERICA, &refused, nullptr);
  EXPECT_TRUE(log.contains("EPT: ENDPT 1: ERROR - CLIDTX not ready for new message"));

  // A received message: start, then the whole SDMF message in the end packet.
  HDSP_CLASS_CLIDRX_STATE rx{};
  HSZCLIDRXPACKET packet{};
  HSZEVT data{0x52, hdsp::HAPI_CLIDRX_PKT_EVT, HAPI_REQID_EXT_EVT, sizeof packet, {}};
  data.hsxop2.ref = &packet;
  EPCLIDRX_DATA got{};
  EXPECT_EQ(ClassEvent(&mem, &rx, 0, VRG_COUNTRY_NORTH_AMERICA, &data, &got), 0);
  const uint8_t msg[] = {0x04, 9, '0', '1', '0', '2', '0', '3', '0', '4', '7', 0};
  uint8_t bytes[sizeof msg];
  std::memcpy(bytes, msg, sizeof msg);
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < sizeof bytes; ++i) sum += bytes[i];
  bytes[sizeof bytes - 1] = static_cast<uint8_t>(-sum);
  packet.hsxClassCode = CLIDRX_PKT_END;
  packet.hsxClassMsgWord0 = sizeof bytes;
  std::memcpy(packet.hsxClassMsg, bytes, sizeof bytes);
  ASSERT_EQ(ClassEvent(&mem, &rx, 0, VRG_COUNTRY_NORTH_AMERICA, &data, &got), 1);
  EXPECT_STREQ(got.number, "7");

  // A short data block is read only as far as it goes.
  data.hsxop1 = 4;
  EXPECT_EQ(ClassEvent(&mem, &rx, 0, VRG_COUNTRY_NORTH_AMERICA, &data, &got), 0);
}

}  // namespace

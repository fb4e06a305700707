// What the dispatcher makes of signal requests, connection-channel events and the packets of the
// connection channels, with the library running on the virtual board.
#include <atomic>
#include <type_traits>

#include "casCtl.h"
#include "endptLibFixture.h"
#include "rtpCnx.h"
#include "vrgEndptProcess.h"
#include "vrgProv.h"
#include "vrgProvValues.h"

namespace endpt_test {
namespace {

class EndptProcess : public EndptLib {
 protected:
  // Line 0 with connection 5 (PCMA, send and receive).
  void StartWithConnection() {
    StartWithLine();
    EPZCNXPARAM params = PcmaParams();
    ASSERT_EQ(vrgEndptCreateConnection(&line0_, 5, &params), EPSTATUS_SUCCESS);
    cnx_ = GetCnxState(5);
    ASSERT_NE(cnx_, nullptr);
  }
  void CnxEvent(uint16_t event, uint16_t op1, uint16_t op2) {
    HSZEVT e{cnx_->vhdhdl, event, 0xFB00, op1, {}};
    e.hsxop2.val = op2;
    CnxVhdEventCallback(&e, 0);
  }
  // Events reach the daemon on the dispatcher: a command behind them marks that they are done.
  void Settle() { ASSERT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_ADMIN_STATUS, 1, -1, -1, -1), EPSTATUS_SUCCESS); }
  int Count(EPEVT event, int data) {
    int n = 0;
    for (const Event& e : events().all()) n += e.event == event && e.data == data ? 1 : 0;
    return n;
  }
  CNXSTATE* cnx_ = nullptr;
};

TEST_F(EndptProcess, SignalRequestsAnswerForUnknownLinesConnectionsAndTones) {
  StartWithConnection();
  ENDPT_STATE absent{1, EPTYPE_FXS};
  EXPECT_EQ(vrgEndptSignal(&absent, -1, EPSIG_DIAL, 1, -1, -1, -1), EPSTATUS_ENDPT_UNKNOWN);
  EXPECT_EQ(vrgEndptSignal(&line0_, 77, EPSIG_BUSY, 1, -1, -1, -1), EPSTATUS_CNX_UNKNOWN);
  // The country has no calling-card tone: turning it on fails, turning it off does not.
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_CALLCARD, 1, -1, -1, -1), EPSTATUS_SIGNAL_UNKNOWN);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_CALLCARD, 0, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_DIAL, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_DIAL, 0, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_LINE_RESET, 1, -1, -1, -1), EPSTATUS_SIGNAL_UNKNOWN);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, static_cast<EPSIG>(EPSIG_LAST + 3), 1, -1, -1, -1),
            EPSTATUS_SIGNAL_UNKNOWN);
  // Connection-level requests.
  EXPECT_EQ(vrgEndptSignal(&line0_, 5, EPSIG_RINGBACK, 5, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(cnx_->activeSignal, 5);
  EXPECT_EQ(vrgEndptSignal(&line0_, 5, EPSIG_RINGBACK, 4, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptSignal(&line0_, 5, EPSIG_OSI, 1, -1, -1, -1), EPSTATUS_SIGNAL_UNKNOWN);
  EXPECT_EQ(vrgEndptSignal(&line0_, 5, EPSIG_SB_DISCONNECT, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(cnx_->bSBDisconnect, 1);
  EXPECT_EQ(vrgEndptSignal(&line0_, 5, EPSIG_SB_DISCONNECT, 0, -1, -1, -1), EPSTATUS_SUCCESS);
  // Without an FXO line, seizing, answering and releasing it are logged and change nothing.
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_OFFHOOK, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_ANSWER, 0xBEEF, 5, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_ONHOOK, 0xBAAD, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(vrgEndptSignal(&line0_, -1, EPSIG_ONHOOK, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  EXPECT_EQ(GetEndptState(0)->offHook.load(), 0);
}

TEST_F(EndptProcess, FaxModemAndModeEventsOfAConnectionChannel) {
  StartWithConnection();
  CnxEvent(0x12C3, 1, 0);  // fax relay hears CNG
  CnxEvent(0x12C3, 0, 0);  // ... and an answer tone
  CnxEvent(0x07C1, 0, 0);  // HDLC flags on a voice-band-data connection: fax each time
  CnxEvent(0x07C1, 0, 0);
  CnxEvent(0x30C2, 5, 0);  // into voice-band data
  CnxEvent(0x30C2, 5, 0);  // ... reported once
  CnxEvent(0x30C2, 2, 0);  // back to voice
  CnxEvent(0x30C2, 9, 0);  // an unknown mode changes nothing
  CnxEvent(0x09CB, 0, 3);  // egress digit 3 on and off
  CnxEvent(0x09CC, 0, 3);
  CnxEvent(0x12C0, 0, 0xFFFF);  // fax call ended normally
  Settle();
  EXPECT_EQ(Count(EPEVT_FAX, EPEVTREASON_CNG), 1);
  EXPECT_EQ(Count(EPEVT_MODEM, EPEVTREASON_ANS), 1);
  EXPECT_EQ(events().count(EPEVT_FAX), 3);
  EXPECT_EQ(Count(EPEVT_VBD_START, EPEVTREASON_PTSW), 1);
  EXPECT_EQ(Count(EPEVT_VBD_STOP, EPEVTREASON_PTSW), 1);
  EXPECT_EQ(cnx_->vhdMode, 2);
  EXPECT_EQ(cnx_->vbData.bEnabled, 0);
  EXPECT_EQ(events().count(EPEVT_T38_STOP), 1);
  std::vector<int> digitValues;
  for (const Event& e : events().all()) {
    if (e.event == EPEVT_DTMF3) digitValues.push_back(e.value);
  }
  EXPECT_EQ(digitValues, (std::vector<int>{2, 3}));
  for (const Event& e : events().all()) {
    if (e.event == EPEVT_FAX || e.event == EPEVT_VBD_START) {
      EXPECT_EQ(e.cnxId, 5);
    }
  }

  // Events of channels that are no connection, or of a deleted one, are dropped.
  HSZEVT stray{0x7F, 0x12C3, 0xFB00, 1, {}};
  CnxVhdEventCallback(&stray, 0);
  ASSERT_EQ(vrgEndptDeleteConnection(&line0_, 5), EPSTATUS_SUCCESS);
  CnxEvent(0x12C3, 1, 0);
  Settle();
  EXPECT_EQ(events().count(EPEVT_FAX), 3);
}

TEST_F(EndptProcess, ChannelPacketsReachTheDaemonUnlessMutedOrLooped) {
  StartWithConnection();
  uint8_t rtp[172] = {0x80, 8};
  watchedPacket = rtp;
  const int rtpBefore = watchedPacketsDelivered[EPMEDIATYPE_RTP].load();
  const int rtcpBefore = watchedPacketsDelivered[EPMEDIATYPE_RTCP].load();
  const int t38Before = watchedPacketsDelivered[EPMEDIATYPE_T38].load();
  auto deliver = [&](uint16_t event) {
    HSZEVT e{cnx_->vhdhdl, event, 0xFA00, sizeof rtp, {}};
    e.hsxop2.ref = rtp;
    CnxVhdEventCallback(&e, 0);
  };
  deliver(0x304B);
  deliver(0x304C);
  EXPECT_EQ(watchedPacketsDelivered[EPMEDIATYPE_RTP].load(), rtpBefore + 1);
  EXPECT_EQ(watchedPacketsDelivered[EPMEDIATYPE_RTCP].load(), rtcpBefore + 1);
  // The records belong to the dispatcher: it is held while the test changes them.
  HoldDispatcher();
  // The channel's packets pass the same gates meanwhile, on the DSP tick: atomic stores.
  auto set = [](auto& field, auto value) {
    std::atomic_ref<std::remove_reference_t<decltype(field)>>(field).store(value, std::memory_order_relaxed);
  };
  set(cnx_->bMuteAudio, 1);  // muted audio: RTCP still goes out
  deliver(0x304B);
  deliver(0x304C);
  EXPECT_EQ(watchedPacketsDelivered[EPMEDIATYPE_RTP].load(), rtpBefore + 1);
  EXPECT_EQ(watchedPacketsDelivered[EPMEDIATYPE_RTCP].load(), rtcpBefore + 2);
  set(cnx_->bMuteAudio, 0);
  set(GetEndptState(0)->testMode, TESTMODE_PACKETLOOPBACK);  // looped packets never reach the daemon
  deliver(0x304B);
  EXPECT_EQ(watchedPacketsDelivered[EPMEDIATYPE_RTP].load(), rtpBefore + 1);
  set(GetEndptState(0)->testMode, TESTMODE_NONE);
  events().release();
  // T.38 only leaves a connection that can send.
  deliver(0x1741);
  EXPECT_EQ(watchedPacketsDelivered[EPMEDIATYPE_T38].load(), t38Before + 1);
  watchedPacket = nullptr;
}

TEST(RingPatterns, CountriesMapRingSignalsToCadences) {
  CAS_CTL_RING_PROFILE profile{};
  int item = 0;
  EXPECT_EQ(globeEndptGetRingPattern(VRG_COUNTRY_UK, EPSIG_RING3, &profile, &item),
            EPSTATUS_SUCCESS);
  EXPECT_EQ(item, EPPROV_R3Cadence);
  EXPECT_EQ(globeEndptGetRingPattern(VRG_COUNTRY_UK, EPSIG_CALLID_RINGING, &profile, &item),
            EPSTATUS_SUCCESS);
  EXPECT_EQ(item, EPPROV_RGCadence);
  EXPECT_EQ(globeEndptGetRingPattern(VRG_COUNTRY_UK, EPSIG_BUSY, &profile, &item),
            EPSTATUS_UNKNOWN_TYPE);
  EXPECT_EQ(globeEndptGetRingPattern(VRG_COUNTRY_JAPAN, EPSIG_SPLASH, &profile, &item),
            EPSTATUS_SUCCESS);
  EXPECT_EQ(item, -1);
  EXPECT_EQ(profile.pattern, CAS_CTL_RING_JAPAN_IR);
  EXPECT_EQ(profile.ringType, CAS_CTRL_STATIC_RING);
}

TEST(RingPatterns, ProvisionedCadencesBecomeRingProfiles) {
  ASSERT_EQ(endptProvInit(), EPSTATUS_SUCCESS);
  VRG_RING_PROFILE shortRing{VRG_RING_SHORT, 0xF0000000u, 0x8u, 7, 7, 7, 7, 7, 7, 7, 7};
  VRG_RING_PROFILE longRing{VRG_RING_LONG, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(endptProvSetValue(0, EPPROV_R1Cadence, &shortRing, sizeof shortRing), EPSTATUS_SUCCESS);
  ASSERT_EQ(endptProvSetValue(0, EPPROV_R2Cadence, &longRing, sizeof longRing), EPSTATUS_SUCCESS);
  int32_t delay = 450;
  ASSERT_EQ(endptProvSetValue(0, EPPROV_CIDFskAfterRing, &delay, sizeof delay), EPSTATUS_SUCCESS);

  CAS_CTL_RING_PROFILE profile{};
  ASSERT_EQ(GetRingPattern(EPSIG_RING1, VRG_COUNTRY_UK, nullptr, &profile), EPSTATUS_SUCCESS);
  EXPECT_EQ(profile.ringType, CAS_CTRL_SHORT_NORMAL_RING);
  EXPECT_EQ(profile.provBits.words[0], 0xF0000000u);
  EXPECT_EQ(profile.provBits.words[1], 0x8u);
  EXPECT_EQ(profile.provBits.words[2], 0u);
  EXPECT_EQ(profile.clidTxDelay, 450u);

  ASSERT_EQ(GetRingPattern(EPSIG_RING2, VRG_COUNTRY_UK, nullptr, &profile), EPSTATUS_SUCCESS);
  EXPECT_EQ(profile.ringType, CAS_CTRL_LONG_NORMAL_RING);
  EXPECT_EQ(profile.provBits.words[6], 7u);
  EXPECT_EQ(profile.provBits.words[7], 0u);

  // A numbered cadence ring without a provisioned cadence cannot ring.
  EXPECT_NE(GetRingPattern(static_cast<EPSIG>(EPSIG_CADENCE_RING_BASE + 4), VRG_COUNTRY_UK,
                           nullptr, &profile),
            EPSTATUS_SUCCESS);
  endptProvDeinit();
}

}  // namespace
}  // namespace endpt_test

namespace endpt_test {
namespace {

TEST_F(EndptProcess, MuteLinkModifyAndDestroyActOnTheRecords) {
  StartWithConnection();
  // Muting stops sending; unmuting with 0 does not restore it.
  ASSERT_EQ(vrgEndptMuteConnection(&line0_, 5, 1), EPSTATUS_SUCCESS);
  EXPECT_NE(cnx_->rtpRegs2.configFlags2 & 0x1, 0);
  ASSERT_EQ(vrgEndptMuteConnection(&line0_, 5, 0), EPSTATUS_SUCCESS);
  EXPECT_NE(cnx_->rtpRegs2.configFlags2 & 0x1, 0);
  EXPECT_EQ(vrgEndptMuteConnection(&line0_, 6, 1), EPSTATUS_CNX_UNKNOWN);

  // Two lines linked inside the board know each other's line channel.
  ENDPT_STATE line1{};
  ASSERT_EQ(vrgEndptCreate(1, 1, &line1), EPSTATUS_SUCCESS);
  ASSERT_EQ(vrgEndptLinkInternal(&line0_, &line1, 1), EPSTATUS_SUCCESS);
  EXPECT_EQ(GetEndptState(0)->intLinkVhdHdl, GetEndptState(1)->lineVhdHdl);
  EXPECT_EQ(GetEndptState(1)->intLinkVhdHdl, GetEndptState(0)->lineVhdHdl);
  ASSERT_EQ(vrgEndptLinkInternal(&line0_, &line1, 0), EPSTATUS_SUCCESS);
  EXPECT_EQ(GetEndptState(0)->intLinkVhdHdl, 0);
  ENDPT_STATE absent{7, EPTYPE_FXS};
  EXPECT_EQ(vrgEndptLinkInternal(&line0_, &absent, 1), EPSTATUS_ENDPT_UNKNOWN);

  // A channel in fax relay keeps its mode when the modify asks to preserve it.
  CnxEvent(HAPI_NET_MODE_EVT, 4, 0);
  Settle();
  EPZCNXPARAM g729 = PcmaParams();
  g729.cnxParmList.send.codecs[0] = {CODEC_G729, 18, {}};
  g729.preserveFaxMode = 1;
  EXPECT_EQ(vrgEndptModifyConnection(&line0_, 5, &g729), EPSTATUS_SUCCESS);
  EXPECT_EQ(cnx_->codecType, CODEC_PCMA);
  EXPECT_EQ(vrgEndptModifyConnection(&line0_, 6, &g729), EPSTATUS_CNX_UNKNOWN);

  // Destroying the endpoint frees its connections; the line can be created again.
  ASSERT_EQ(vrgEndptDestroy(&line0_), EPSTATUS_SUCCESS);
  EXPECT_EQ(cnx_->cnxId, -1);
  EXPECT_EQ(GetEndptState(0), nullptr);
  EXPECT_EQ(vrgEndptDestroy(&line0_), EPSTATUS_ENDPT_UNKNOWN);
  EXPECT_EQ(vrgEndptCreate(0, 0, &line0_), EPSTATUS_SUCCESS);
}

// A modify carries the new codec, direction, volumes, digit relay and echo cancelling onto the
// connection; a move to inactive while a signal plays keeps the direction and tells the caller;
// a move to clear channel fixes the jitter buffer.
TEST_F(EndptProcess, ModifyAppliesCodecDirectionVolumesRelayAndEchoCancelling) {
  StartWithConnection();
  auto sendOff = [&] { return (cnx_->rtpRegs2.configFlags2 & HAPI_RTP_INGRESS_SEND_RTP_PACKETS_DISABLE_MASK) != 0; };
  auto receiveOff = [&] { return (cnx_->rtpRegs2.configFlags2 & HAPI_RTP_EGRESS_PROCESS_RTP_PACKETS_DISABLE_MASK) != 0; };
  auto subtract = [&] { return (cnx_->rtpRegs2.configFlags2 & HAPI_RTP_SUBTRACT_DTMF_ENABLE_MASK) != 0; };
  const EPZECANSTATE& ecan = GetEndptState(0)->ecanState;

  EPZCNXPARAM g729 = PcmaParams();
  g729.cnxParmList.send.codecs[0] = {CODEC_G729, 18, {}};
  g729.mode = EPCNXMODE_RCVO;
  g729.rxVolume = 3;
  g729.txVolume = -2;
  g729.digitRelayType = EPDTMFRFC2833_SUBTRACT;
  g729.echocancel = 1;
  ASSERT_EQ(vrgEndptModifyConnection(&line0_, 5, &g729), EPSTATUS_SUCCESS);
  EXPECT_EQ(cnx_->codecType, CODEC_G729);
  EXPECT_EQ(cnx_->mode, EPCNXMODE_RCVO);
  EXPECT_TRUE(sendOff());
  EXPECT_FALSE(receiveOff());
  EXPECT_EQ(cnx_->rxVolume, 3);
  EXPECT_EQ(cnx_->txVolume, -2);
  EXPECT_EQ(cnx_->digitRelayType, EPDTMFRFC2833_SUBTRACT);
  EXPECT_TRUE(subtract());
  EXPECT_EQ(ecan.origState, ECAN_ON);

  // Back to both directions without relay subtraction and without echo cancelling.
  EPZCNXPARAM pcma = PcmaParams();
  ASSERT_EQ(vrgEndptModifyConnection(&line0_, 5, &pcma), EPSTATUS_SUCCESS);
  EXPECT_EQ(cnx_->codecType, CODEC_PCMA);
  EXPECT_FALSE(sendOff());
  EXPECT_FALSE(receiveOff());
  EXPECT_FALSE(subtract());
  EXPECT_EQ(ecan.origState, ECAN_OFF);

  // While a signal plays on the connection the direction stays: inactive is refused quietly and
  // the caller's parameters come back with the mode kept; a send-only modify keeps receiving.
  ASSERT_EQ(vrgEndptSignal(&line0_, 5, EPSIG_RINGBACK, 5, -1, -1, -1), EPSTATUS_SUCCESS);
  ASSERT_NE(cnx_->activeSignal, 0);
  EPZCNXPARAM inactive = PcmaParams();
  inactive.mode = EPCNXMODE_INACT;
  ASSERT_EQ(vrgEndptModifyConnection(&line0_, 5, &inactive), EPSTATUS_SUCCESS);
  EXPECT_EQ(inactive.mode, EPCNXMODE_SNDRX);
  EXPECT_EQ(cnx_->mode, EPCNXMODE_SNDRX);
  EXPECT_FALSE(sendOff());
  EXPECT_FALSE(receiveOff());
  EPZCNXPARAM sendOnly = PcmaParams();
  sendOnly.mode = EPCNXMODE_SNDO;
  ASSERT_EQ(vrgEndptModifyConnection(&line0_, 5, &sendOnly), EPSTATUS_SUCCESS);
  EXPECT_FALSE(receiveOff());
  ASSERT_EQ(vrgEndptSignal(&line0_, 5, EPSIG_RINGBACK, 0, -1, -1, -1), EPSTATUS_SUCCESS);
  ASSERT_EQ(cnx_->activeSignal, 0);

  // Without a signal inactive stops both directions and keeps the codec.
  inactive.mode = EPCNXMODE_INACT;
  ASSERT_EQ(vrgEndptModifyConnection(&line0_, 5, &inactive), EPSTATUS_SUCCESS);
  EXPECT_EQ(inactive.mode, EPCNXMODE_INACT);
  EXPECT_EQ(cnx_->mode, EPCNXMODE_INACT);
  EXPECT_TRUE(sendOff());
  EXPECT_TRUE(receiveOff());
  EXPECT_EQ(cnx_->codecType, CODEC_PCMA);

  // Modes beyond the last are refused.
  EPZCNXPARAM beyond = PcmaParams();
  beyond.mode = static_cast<EPCNXMODE>(EPCNXMODE_TRANSCODE + 1);
  EXPECT_EQ(vrgEndptModifyConnection(&line0_, 5, &beyond), EPSTATUS_UNSUPPORTED_MODE);

  // Clear channel: a fixed jitter buffer of 100 ms, and no echo cancelling even when asked for.
  EPZCNXPARAM clear = PcmaParams();
  clear.cnxParmList.send.codecs[0] = {CODEC_CLEARCHANNEL, 96, {}};
  clear.echocancel = 1;
  ASSERT_EQ(vrgEndptModifyConnection(&line0_, 5, &clear), EPSTATUS_SUCCESS);
  EXPECT_EQ(cnx_->codecType, CODEC_CLEARCHANNEL);
  EXPECT_EQ(cnx_->vrgVoiceJBFixed, 1);
  EXPECT_EQ(cnx_->vrgVoiceJBMin, 100);
  EXPECT_EQ(cnx_->vrgVoiceJBMax, 100);
  EXPECT_EQ(cnx_->vrgVoiceJBTarget, 100);
  EXPECT_EQ(ecan.origState, ECAN_OFF);
}

// A connection made while an on-hook that line signalling has already taken waits behind the
// command (the endpoint's flag still says off hook) leaves the line idle, so that the next
// off-hook is reported.
TEST_F(EndptProcess, ConnectionMadeAsTheLineHangsUpLeavesTheNextOffHookReported) {
  StartWithLine();
  vboardCommand("0 offhook");
  ASSERT_TRUE(events().waitFor(EPEVT_OFFHOOK));
  EPZCNXPARAM params = PcmaParams();
  ASSERT_EQ(vrgEndptCreateConnection(&line0_, 5, &params), EPSTATUS_SUCCESS);
  vboardCommand("0 onhook");
  ASSERT_TRUE(events().waitFor(EPEVT_ONHOOK));
  ASSERT_EQ(vrgEndptDeleteConnection(&line0_, 5), EPSTATUS_SUCCESS);
  VRG_ENDPT* endpt = GetEndptState(0);
  ASSERT_TRUE(casCtlLineIdle(endpt->casCtlHandle));
  endpt->offHook.store(1);  // as if the on-hook event were still queued
  ASSERT_EQ(vrgEndptCreateConnection(&line0_, 6, &params), EPSTATUS_SUCCESS);
  endpt->offHook.store(0);  // the on-hook event processed
  vboardCommand("0 offhook");
  EXPECT_TRUE(events().waitFor(EPEVT_OFFHOOK, 2));
}

TEST_F(EndptProcess, TelephoneEventsRingAndReleaseAGr303Line) {
  ASSERT_EQ(Init(), EPSTATUS_SUCCESS);
  int32_t on = 1;
  ASSERT_EQ(vrgEndptProvSet(0, EPPROV_GR303Support, &on, sizeof on), EPSTATUS_SUCCESS);
  ASSERT_EQ(vrgEndptCreate(0, 0, &line0_), EPSTATUS_SUCCESS);
  vboardCommand("0 onhook");
  EPZCNXPARAM params = PcmaParams();
  ASSERT_EQ(vrgEndptCreateConnection(&line0_, 5, &params), EPSTATUS_SUCCESS);
  auto event = [&](uint8_t code) { return SendPacket(&line0_, 5, Rtp(101, {code, 0x0A, 0, 160})); };

  EXPECT_EQ(event(144), EPSTATUS_SUCCESS);  // ring
  EXPECT_EQ(event(144), EPSTATUS_SUCCESS);  // already ringing: no second report
  EXPECT_TRUE(Eventually([] { return vboardCommand("0 status").find("slic=RING ") != std::string::npos; }));
  EXPECT_EQ(event(149), EPSTATUS_SUCCESS);  // ring off
  EXPECT_EQ(event(149), EPSTATUS_BUSY);     // nothing left to stop
  EXPECT_EQ(event(159), EPSTATUS_SUCCESS);  // open-switch interval
  EXPECT_EQ(event(149), EPSTATUS_SUCCESS);  // ... ended
  EXPECT_EQ(event(5), EPSTATUS_BAD_MODE);   // digits are not line signalling here
  EXPECT_EQ(events().count(EPEVT_RINGING_ON), 1);
  EXPECT_EQ(events().count(EPEVT_RINGING_OFF), 1);
  // Off hook, a ring from the network is refused.
  vboardCommand("0 offhook");
  ASSERT_TRUE(events().waitFor(EPEVT_OFFHOOK));
  EXPECT_EQ(event(144), EPSTATUS_BUSY);
  EXPECT_EQ(events().count(EPEVT_RINGING_ON), 1);
  vboardCommand("0 onhook");
}

TEST_F(EndptProcess, LoopConnectionsHandPacketsStraightBack) {
  StartWithLine();
  EPZCNXPARAM params = PcmaParams();
  params.mode = EPCNXMODE_LOOP;
  ASSERT_EQ(vrgEndptCreateConnection(&line0_, 8, &params), EPSTATUS_SUCCESS);
  const int before = packetsDelivered[EPMEDIATYPE_RTP].load();
  // Looped back at once; a loop connection receives nothing itself.
  EXPECT_EQ(SendPacket(&line0_, 8, Rtp(8, std::vector<uint8_t>(160, 0xD5))), EPSTATUS_BAD_MODE);
  EXPECT_EQ(packetsDelivered[EPMEDIATYPE_RTP].load(), before + 1);
  EXPECT_EQ(events().count(EPEVT_MEDIA), 0);
}

}  // namespace
}  // namespace endpt_test

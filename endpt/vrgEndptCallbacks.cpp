// Callbacks of the lower layers. Each runs on its reporter's thread ("HCAS", "PSTN",
// "voice-events" or the DSP tick "HTSK") and only turns its report into an event record for the
// dispatcher; packets of the connection channels go straight to the daemon instead, so media
// never waits for the dispatcher.
#include "vrgEndptCallbacks.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "hdspCmd.h"
#include "hdspEcan.h"
#include "rtpCnx.h"
#include "voiceLog.h"
#include "vrgEndptClass.h"
#include "vrgEndptDispatcher.h"
#include "vrgEndptHelpers.h"
#include "vrgEndptLib.h"
#include "vrgEndptState.h"

namespace {

// The two fixed connection channels that packet loopback ties together.
constexpr uint16_t LOOPBACK_VHD_A = 0x52;
constexpr uint16_t LOOPBACK_VHD_B = 0x54;

bool HasEventData(const HSZEVT* event) {
  return event->hsxreqid == VRG_HAPI_REQID_DATA && event->hsxop1 != 0 &&
         event->hsxop2.ref != nullptr;
}

uint16_t LoopbackPeer(uint16_t vhdhdl) {
  if (vhdhdl == LOOPBACK_VHD_A) return LOOPBACK_VHD_B;
  if (vhdhdl == LOOPBACK_VHD_B) return LOOPBACK_VHD_A;
  return 0;
}

// Hands a packet of a connection channel to the daemon, or to the other channel in packet
// loopback. checkMute applies the caller-ID and mute gates of audio and T.38.
void DeliverPacket(CNXSTATE* cnx, const HSZEVT* event, EPMEDIATYPE mediaType, uint16_t loopCmd,
                   bool checkMute) {
  const int lineId = vrgCnxLine(cnx);  // the dispatcher may rebind the line meanwhile
  VRG_ENDPT* endpt = GetEndptState(lineId);
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG,
             "EPT: cnxVhdEventCallback: ERROR getting state for line: %d", lineId);
    return;
  }
  // Mute and test mode change on the dispatcher while packets pass here on the DSP tick.
  const bool muted = vrgCnxMuted(cnx->bMuteAudio) != 0 || vrgCnxMuted(cnx->bMuteT38) != 0;
  if (checkMute && (ClassOffhookClidRunning(endpt) || muted)) return;
  const ENDPTTESTMODE testMode =
      std::atomic_ref<ENDPTTESTMODE>(endpt->testMode).load(std::memory_order_relaxed);
  if (testMode == TESTMODE_PACKETLOOPBACK) {
    const uint16_t peer = LoopbackPeer(event->hsxdevhdl);
    if (peer == 0) return;
    if (mediaType == EPMEDIATYPE_T38) {
      hdspSendVoicePacket(peer, static_cast<HAPI_PKT_HDR*>(event->hsxop2.ref));
    } else {
      hdspSendCmdDataAsync(peer, loopCmd, HAPI_REQID_EXT_CMD, event->hsxop1, event->hsxop2.ref);
    }
    return;
  }
  if (endptConfig.packet == nullptr || endpt->endptArchive == nullptr) return;
  EPPACKET packet{mediaType, static_cast<uint8_t*>(event->hsxop2.ref)};
  endptConfig.packet(endpt->endptArchive, cnx->cnxId, &packet, event->hsxop1);
}

}  // namespace

void PostHapiEvent(VRG_EVT_TYPE type, HSZEVT* event, uint16_t dspNum) {
  VRG_EVT record{};
  record.type = type;
  record.u.hapi.dspNum = dspNum;
  record.u.hapi.reqId = event->hsxreqid;
  record.u.hapi.handle = event->hsxdevhdl;
  record.u.hapi.eventId = event->hsxevt;
  record.u.hapi.op1 = event->hsxop1;
  record.u.hapi.op2 = event->hsxop2;
  // Event data belongs to the framework and lives only as long as this call.
  if (HasEventData(event)) {
    void* copy = malloc(event->hsxop1);
    if (copy == nullptr) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
               "EPT: ERROR Could not allocate memory for event data!");
      return;
    }
    memcpy(copy, event->hsxop2.ref, event->hsxop1);
    record.u.hapi.op2.ref = copy;
  }
  if (!VrgQueueExists(&vrgEventQ) || VrgPostEvent(&record, "PostHapiEvent") != BUF_STATUS_OK) {
    if (HasEventData(event)) free(record.u.hapi.op2.ref);
  }
}

void CasEventCallback(CAS_CTL_HANDLE handle, CAS_CTL_EVENT_TYPE eventType, CAS_CTL_EVENT event) {
  if (!VrgQueueExists(&vrgEventQ)) return;
  VRG_EVT record{};
  record.type = VRG_EVT_TYPE_CAS;
  record.u.cas.handle = handle;
  record.u.cas.eventType = eventType;
  record.u.cas.eventId = event;
  VrgPostEvent(&record, "CasEventCallback");
}

void CnxVhdEventCallback(HSZEVT* event, uint16_t dspNum) {
  CNXSTATE* cnx = GetCnxStateFromVHD(event->hsxdevhdl);
  if (cnx == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: ENDPT - CnxVhdEventCallback: Unknown VHD handle 0x%x, evt: 0x%x, op1: 0x%x, "
             "op2: 0x%x",
             event->hsxdevhdl, event->hsxevt, event->hsxop1, event->hsxop2.val);
    return;
  }
  switch (event->hsxevt) {
    case HAPI_NET_INGRESSPACKET_EVT:
      return;
    case HAPI_NET_INGRESSRTPPKT_EVT:
      DeliverPacket(cnx, event, EPMEDIATYPE_RTP, HAPI_NET_EGRESSRTPPKT_CMD, true);
      return;
    case HAPI_NET_INGRESSRTCPPKT_EVT:
      DeliverPacket(cnx, event, EPMEDIATYPE_RTCP, HAPI_NET_EGRESSRTCPPKT_CMD, false);
      return;
    case HAPI_T38_INGRESSPACKET_EVT:
      if (!ModeCheck(cnx->mode, SENDMODE) && cnx->activeSignal == 0) return;
      DeliverPacket(cnx, event, EPMEDIATYPE_T38, 0, true);
      return;
    default:
      PostHapiEvent(VRG_EVT_TYPE_HAPI_CNX, event, dspNum);
      return;
  }
}

void EndptVhdEventCallback(HSZEVT* event, uint16_t dspNum) {
  HapiProcessEcanEvt(event);
  PostHapiEvent(VRG_EVT_TYPE_HAPI_ENDPT, event, dspNum);
}

void RmEventCallback(HSZEVT* event, uint16_t dspNum) {
  PostHapiEvent(VRG_EVT_TYPE_HAPI_RM, event, dspNum);
}

void PstnEventCallback(uint16_t vhdHdl, void* eventInfo) {
  VRG_EVT record{};
  record.type = VRG_EVT_TYPE_PSTN;
  record.u.pstn.vhdHdl = vhdHdl;
  record.u.pstn.pEventInfo = eventInfo;
  // The record lives in the FXO control's memory: wait until the dispatcher is done with it, and
  // only when it was actually queued.
  if (VrgPostEvent(&record, "PstnEventCallback") != BUF_STATUS_OK) return;
  if (vosSemLiteTake(&vrgPstnSem) != VOS_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: vosSemLiteTake failed!",
             "PstnEventCallback");
  }
}

void BoardHalSsEventCallback(BOARD_HAL_LT_EVENT* event) {
  if (event == nullptr || !VrgQueueExists(&vrgEventQ)) return;
  VRG_EVT record{};
  record.type = VRG_EVT_TYPE_HAL;
  record.u.hal.eventInfo = *event;
  VrgPostEvent(&record, "BoardHalSsEventCallback");
}

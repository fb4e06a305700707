// Packets from the network, on the caller's thread: classified and handed straight to the
// connection's DSP channel, never through the dispatcher. Telephone events of the line
// signalling (ring, on-hook, open-switch interval) act on the line here.
#include <atomic>

#include "boardHal.h"
#include "casCtl.h"
#include "hdspCmd.h"
#include "swb/swb.h"
#include "voiceLog.h"
#include "vrgEndpt.h"
#include "vrgEndptClass.h"
#include "hdspCnx.h"
#include "hdspLine.h"
#include "hdspTone.h"
#include "rtpCnx.h"
#include "vrgEndptHelpers.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgEndptState.h"

namespace {

const char* const kSelf = "vrgEndptPacket";

enum class Handling { kHandled, kNotHandled, kBusy };

bool SendToChannel(CNXSTATE* cnx, uint16_t command, EPPACKET* packet, int length) {
  return hdspSendCmdDataAsync(cnx->vhdhdl, command, HAPI_REQID_EXT_CMD,
                              static_cast<uint16_t>(length), packet->packetp) == 0;
}

Handling SendMedia(CNXSTATE* cnx, EPPACKET* packet, int length) {
  if (length <= RTP_HEADER_SIZE) return Handling::kNotHandled;
  return SendToChannel(cnx, HAPI_NET_EGRESSRTPPKT_CMD, packet, length) ? Handling::kHandled
                                                                       : Handling::kNotHandled;
}

Handling SendRtcp(CNXSTATE* cnx, EPPACKET* packet, int length) {
  return SendToChannel(cnx, HAPI_NET_EGRESSRTCPPKT_CMD, packet, length) ? Handling::kHandled
                                                                        : Handling::kNotHandled;
}

Handling SendT38(CNXSTATE* cnx, EPPACKET* packet, int length) {
  if (hdspSendT38Packet(cnx->vhdhdl, static_cast<uint16_t>(length), packet->packetp) == 0) {
    return Handling::kHandled;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
           "EPT: ENDPT cnx %d: ERROR - T38 packet received in non FAXR mode; dataMode=%d",
           cnx->cnxId, cnx->dataMode);
  return Handling::kNotHandled;
}

// Starts ringing the line from a network ring event; busy when the phone is off hook.
Handling RingFromNetwork(VRG_ENDPT* endpt, bool report) {
  if (endpt->offHook.load()) return Handling::kBusy;
  std::atomic<int32_t>& bits = CasCtlBits(endpt);
  if (bits.load() != EP_CAS_CTL_RINGING) {
    casCtlRingOn(endpt->casCtlHandle);
    bits.store(EP_CAS_CTL_RINGING);
    if (report) vrgEndptNotify(endpt->endptArchive, -1, EPEVT_RINGING_ON, nullptr, 0, -1);
  }
  return Handling::kHandled;
}

Handling OsiFromNetwork(VRG_ENDPT* endpt) {
  std::atomic<int32_t>& bits = CasCtlBits(endpt);
  if (bits.load() != EP_CAS_CTL_LCFO) {
    casCtlSupervisoryDisconnectOn(endpt->casCtlHandle);
    bits.store(EP_CAS_CTL_LCFO);
  }
  return Handling::kHandled;
}

Handling Gr303Rtp(VRG_ENDPT* endpt, CNXSTATE* cnx, EPPACKET* packet, int length) {
  RTPPARSE parse{};
  const RTPPKT_TYPE type =
      RtpGetPacketType(cnx->rtpstate.recvNtePayloadType, packet->packetp, length, true, &parse);
  std::atomic<int32_t>& bits = CasCtlBits(endpt);
  switch (type) {
    case RTPPKT_MEDIA:
      return SendMedia(cnx, packet, length);
    case RTPPKT_RING_EVENT:
      return RingFromNetwork(endpt, true);
    case RTPPKT_RINGOFF_EVENT:
      if (bits.load() == EP_CAS_CTL_LCFO) {
        casCtlSupervisoryDisconnectOff(endpt->casCtlHandle, 1, endpt->offHook.load());
        bits.store(EP_CAS_CTL_LCF);
        return Handling::kHandled;
      }
      if (bits.load() == EP_CAS_CTL_RINGING && !endpt->offHook.load()) {
        casCtlRingOff(endpt->casCtlHandle, 1);
        bits.store(EP_CAS_CTL_LCF);
        vrgEndptNotify(endpt->endptArchive, -1, EPEVT_RINGING_OFF, nullptr, 0, -1);
        return Handling::kHandled;
      }
      return Handling::kBusy;
    case RTPPKT_OSI_EVENT:
      return OsiFromNetwork(endpt);
    case RTPPKT_RLCF_EVENT:
      casCtlChangePolarity(endpt->casCtlHandle, CAS_CTL_POLARITY_REVERSE, CAS_CTL_EVENT_NONE, 0);
      return Handling::kNotHandled;
    default:
      return Handling::kNotHandled;
  }
}

Handling PlainRtp(VRG_ENDPT* endpt, CNXSTATE* cnx, EPPACKET* packet, int length) {
  RTPPARSE parse{};
  const RTPPKT_TYPE type =
      RtpGetPacketType(cnx->rtpstate.recvNtePayloadType, packet->packetp, length, false, &parse);
  const bool receives = ModeCheck(cnx->mode, RECVMODE);
  std::atomic<int32_t>& bits = CasCtlBits(endpt);
  switch (type) {
    case RTPPKT_MEDIA:
    case RTPPKT_DTMF_EVENT:
      if (!receives) return Handling::kNotHandled;
      if (bits.load() == EP_CAS_CTL_RINGING) {
        casCtlRingOff(endpt->casCtlHandle, 1);
        bits.store(EP_CAS_CTL_LCF);
      } else if (bits.load() == EP_CAS_CTL_LCFO) {
        casCtlSupervisoryDisconnectOff(endpt->casCtlHandle, 0, endpt->offHook.load());
        bits.store(EP_CAS_CTL_LCF);
      }
      if ((cnx->namedPhoneEvts & CODEC_NTE_LCS) == 0 && !ClassIsIdle(endpt)) return Handling::kBusy;
      return SendMedia(cnx, packet, length);
    case RTPPKT_RING_EVENT:
      return receives ? RingFromNetwork(endpt, false) : Handling::kNotHandled;
    case RTPPKT_OSI_EVENT:
      if (!receives) return Handling::kNotHandled;
      if (endpt->offHook.load()) return Handling::kBusy;
      return OsiFromNetwork(endpt);
    default:
      return Handling::kNotHandled;
  }
}

Handling ClassifyAndSend(VRG_ENDPT* endpt, CNXSTATE* cnx, EPPACKET* packet, int length) {
  const bool receives = ModeCheck(cnx->mode, RECVMODE);
  if (endpt->bGR303Support) {
    switch (packet->mediaType) {
      case EPMEDIATYPE_RTP:
        return Gr303Rtp(endpt, cnx, packet, length);
      case EPMEDIATYPE_T38:
        return IsT38Negotiated(cnx) ? SendT38(cnx, packet, length) : Handling::kNotHandled;
      case EPMEDIATYPE_RTCP:
        return SendRtcp(cnx, packet, length);
      default:
        return Handling::kNotHandled;
    }
  }
  if (vrgCnxMuted(cnx->bMuteT38)) {
    return packet->mediaType == EPMEDIATYPE_RTCP ? SendRtcp(cnx, packet, length)
                                                 : Handling::kNotHandled;
  }
  switch (packet->mediaType) {
    case EPMEDIATYPE_RTP:
      return PlainRtp(endpt, cnx, packet, length);
    case EPMEDIATYPE_T38:
      if (!receives) return Handling::kNotHandled;
      if (IsT38Negotiated(cnx)) return SendT38(cnx, packet, length);
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
               "EPT: ENDPT cnx %d: ERROR - T38 packet received in non FAXR mode; dataMode=%d",
               cnx->cnxId, cnx->dataMode);
      return Handling::kNotHandled;
    case EPMEDIATYPE_RTCP:
      return SendRtcp(cnx, packet, length);
    default:
      return Handling::kNotHandled;
  }
}

}  // namespace

EPSTATUS vrgEndptPacket(ENDPT_STATE* endptState, int cnxId, EPPACKET* epPacket, int length,
                        unsigned int bufDesc) {
  if (!vrgEndptCheckInitialized(kSelf)) return EPSTATUS_ERROR;
  if (endptState == nullptr || epPacket == nullptr || epPacket->packetp == nullptr ||
      length <= 0) {
    return EPSTATUS_ERROR;
  }
  // Connection ids are the PBX's, numbered per line: the connection is looked up within the
  // packet's own endpoint, never by id alone.
  VRG_ENDPT* endpt = GetEndptState(endptState->lineId);
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: %s status %d", kSelf,
             EPSTATUS_ENDPT_UNKNOWN);
    return EPSTATUS_ENDPT_UNKNOWN;
  }
  CNXSTATE* cnx = GetEndptCnxState(endpt, cnxId);
  if (cnx == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "EPT: %s status %d", kSelf,
             EPSTATUS_CNX_UNKNOWN);
    return EPSTATUS_CNX_UNKNOWN;
  }
  // The dispatcher sets the flag when it creates the connection; this thread clears it.
  if (epPacket->mediaType == EPMEDIATYPE_RTP && ModeCheck(cnx->mode, RECVMODE) &&
      std::atomic_ref<int>(cnx->firstValidRTPPkt).exchange(0) != 0) {
    vrgEndptNotify(endpt->endptArchive, cnxId, EPEVT_MEDIA, nullptr, 0, -1);
  }
  if (cnx->mode == EPCNXMODE_LOOP && endptConfig.packet != nullptr) {
    endptConfig.packet(endpt->endptArchive, cnx->cnxId, epPacket, length);
  }
  const Handling handling = ClassifyAndSend(endpt, cnx, epPacket, length);
  if (handling == Handling::kBusy) return EPSTATUS_BUSY;
  if (handling == Handling::kNotHandled) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: %s:%d status %d", kSelf, cnxId,
             EPSTATUS_BAD_MODE);
    return EPSTATUS_BAD_MODE;
  }
  if (endptConfig.packetRelease != nullptr) {
    endptConfig.packetRelease(endpt->endptArchive, cnxId, bufDesc);
  }
  return EPSTATUS_SUCCESS;
}

void ResetBuildOut(int lineId, int vhdhdl) {
  VRG_ENDPT* endpt = GetEndptState(lineId);
  if (endpt != nullptr) {
    for (CNXSTATE* cnx : endpt->cnx) {
      if (cnx != nullptr && cnx->cnxId != -1 && cnx->vhdhdl != vhdhdl) return;
    }
  }
  if (hdspSendCmd(HAPIRESMAN, HAPI_SWB_FLUSH_BUILDOUT_CMD, HAPI_REQID_STD_CMD,
                  static_cast<uint16_t>(vhdhdl), 0) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: ERROR reset build out failed for vhdhdl 0x%x", vhdhdl);
  }
}

EPSTATUS vrgEndptResetBuildOut(int lineId, int vhdhdl) {
  if (!vrgEndptCheckInitialized("vrgEndptResetBuildOut")) return EPSTATUS_ERROR;
  ResetBuildOut(lineId, vhdhdl);
  return EPSTATUS_SUCCESS;
}

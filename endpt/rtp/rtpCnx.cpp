// RTP service register programming of a connection.
#include "rtpCnx.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "hdspCmd.h"
#include "hdspCnx.h"
#include "hdspCodes.h"
#include "net/net_regs.h"
#include "voiceLog.h"
#include "vrgProv.h"

namespace {

constexpr uint16_t kExt = HAPI_REQID_EXT_CMD;
constexpr uint16_t kStd = HAPI_REQID_STD_CMD;
constexpr int kMapEntries = static_cast<int>(HAPI_RTP_MEDIA_MAP_ENTRIES);
constexpr uint8_t kNoNte = 128;
constexpr uint8_t kNoRed = 129;

template <typename... A>
void log(VOICE_LOGLEVEL level, const char* format, A... args) {
  voiceLog(VOICE_MODULE_EPT, level, format, args...);
}

bool isG7231Code(uint16_t code) {
  return code == HAPI_PKT_VC_G7231_53 || code == HAPI_PKT_VC_G7231_63 || code == HAPI_PKT_VC_G7231_SID;
}

uint32_t randomWord() {
  uint32_t value = 0;
  const int fd = open("/dev/urandom", O_RDONLY);
  if (fd < 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: Opening /dev/urandom failed");
    return 0;
  }
  if (read(fd, &value, sizeof(value)) != static_cast<ssize_t>(sizeof(value))) value = 0;
  close(fd);
  return value;
}

// The payload type and voice code that voiceband data uses when redundancy is on.
void setVbdPayloadMap(CNXSTATE* cnx, const CODECDESC& red) {
  const EPRATEMAP* rate = epRateMapFind(red.options.rfc2198Type);
  if (rate == nullptr) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: vhdhdl 0x%x - cannot map redundant codec type %d", cnx->vhdhdl,
        red.options.rfc2198Type);
    return;
  }
  int preferred = 0;
  endptProvGetValue(cnx->lineId, EPPROV_PreferredVBDCodec, &preferred);
  uint16_t pt = 0, code = HAPI_PKT_VC_G711_ULAW;
  if (preferred == 2 || (preferred != 1 && rate->voiceCode == HAPI_PKT_VC_G711_ALAW)) {
    pt = 8;
    code = HAPI_PKT_VC_G711_ALAW;
  }
  hdspSendCmd(cnx->vhdhdl, hdsp::HAPI_RTP_VBD_PAYLOADMAP_SET_CMD, kStd, pt, code);
  log(VOICE_LOGLEVEL_INFO, "EPT: vhdhdl 0x%x - set RED LVL %d and PT %d for codec %d (PT %d)", cnx->vhdhdl,
      red.options.opt1, red.rtpPayloadType, red.options.rfc2198Type, pt);
}

// Builds one payload-type map from a codec list; `send` selects the send-side registers.
// `programVbdMap` sends the voiceband-data map command of a redundancy entry to the RTP service,
// which answers it only while the channel runs voice.
void buildMap(CNXSTATE* cnx, const CODECCNXLIST& list, bool send, uint16_t* map, bool programVbdMap = true) {
  HAPI_RTP_REGS& regs = cnx->rtpRegs;
  RTPSTATE& st = cnx->rtpstate;
  std::memset(map, 0, kMapEntries * sizeof(uint16_t));
  int count = 1;
  bool pcmuListed = false;
  if (!send) {
    regs.nteEgressPayloadType = kNoNte;
    regs.rfc2198EgressPayloadType = kNoRed;
    st.recvNtePayloadType = kNoNte;
    st.recvRedPayloadType = kNoRed;
  }
  const int n = list.numCodecs < CODEC_MAX_TYPES ? list.numCodecs : CODEC_MAX_TYPES;
  for (int i = 0; i < n; ++i) {
    const CODECDESC& c = list.codecs[i];
    const EPRATEMAP* rate = epRateMapFind(c.type);
    if (rate == nullptr) continue;
    if (c.type == CODEC_NTE) {
      if (send) {
        regs.ntePayloadType = c.rtpPayloadType;
        st.sendNtePayloadType = c.rtpPayloadType;
      } else {
        regs.nteEgressPayloadType = c.rtpPayloadType;
        st.recvNtePayloadType = c.rtpPayloadType;
      }
    } else if (c.type == CODEC_RED) {
      if (send) {
        regs.rfc2198PayloadType = c.rtpPayloadType;
        st.sendRedPayloadType = c.rtpPayloadType;
        regs.rfc2198RedundancyLevels = c.options.opt1;
        st.redLevel = c.options.opt1;
        if (programVbdMap) setVbdPayloadMap(cnx, c);
      } else {
        regs.rfc2198EgressPayloadType = c.rtpPayloadType;
        st.recvRedPayloadType = c.rtpPayloadType;
      }
    } else if (c.options.opt1 == 0) {
      count += MapRtpPayloadType(static_cast<uint16_t>(rate->voiceCode), c.rtpPayloadType, map);
      if (c.type == CODEC_PCMU) pcmuListed = true;
    }
  }
  if (count <= kMapEntries - 1) {
    for (int i = count; i < kMapEntries; ++i) map[i] = map[count - 1];
  }
  const int last = (count <= kMapEntries - 1 ? count : kMapEntries) - 1;
  if (!pcmuListed) map[0] = map[last];
}

}  // namespace

int ModeCheck(EPCNXMODE mode, int receive) {
  if (receive) {
    return mode == EPCNXMODE_RCVO || mode == EPCNXMODE_SNDRX || mode == EPCNXMODE_CONF ||
           mode == EPCNXMODE_TEST || mode == EPCNXMODE_TRANSCODE;
  }
  return mode == EPCNXMODE_SNDO || mode == EPCNXMODE_SNDRX || mode == EPCNXMODE_CONF || mode == EPCNXMODE_TEST ||
         mode == EPCNXMODE_REPLCATE || mode == EPCNXMODE_TRANSCODE;
}

namespace {

// The send and receive bits of the second RTP register word for a connection mode.
void applyRtpMode(CNXSTATE* cnx, EPCNXMODE mode) {
  uint16_t& flags = cnx->rtpRegs2.configFlags2;
  const bool signalling = cnx->activeSignal != 0 && mode != EPCNXMODE_LOOP;
  if (ModeCheck(mode, 0) || signalling) {
    if (!ModeCheck(mode, 0)) log(VOICE_LOGLEVEL_INFO, "EPT: Overriding RTP mode to send signal on vhd 0x%x", cnx->vhdhdl);
    flags &= static_cast<uint16_t>(~HAPI_RTP_INGRESS_SEND_RTP_PACKETS_DISABLE_MASK);
  } else {
    flags |= HAPI_RTP_INGRESS_SEND_RTP_PACKETS_DISABLE_MASK;
  }
  if (ModeCheck(mode, 1)) {
    flags &= static_cast<uint16_t>(~HAPI_RTP_EGRESS_PROCESS_RTP_PACKETS_DISABLE_MASK);
  } else {
    flags |= HAPI_RTP_EGRESS_PROCESS_RTP_PACKETS_DISABLE_MASK;
  }
}

}  // namespace

void SetRtpMode(CNXSTATE* cnx, EPCNXMODE mode) {
  if (cnx->voiceMode != VM_ACTIVE || cnx->vhdMode == NETMODE_FAXRELAY) return;
  applyRtpMode(cnx, mode);
  log(VOICE_LOGLEVEL_INFO, "EPT: Setting RTP mode for vhd 0x%x to %d", cnx->vhdhdl, mode);
}

void InitRtpServiceRegisters(CNXSTATE* cnx) {
  const VRG_ENDPT* endpt = GetEndptState(cnx->lineId);
  if (endpt == nullptr) return;
  HAPI_RTP_REGS& regs = cnx->rtpRegs;
  regs.configFlags = static_cast<uint16_t>((regs.configFlags & 0x3483) | 0x83);
  if (cnx->localSsrc != 0) regs.configFlags |= HAPI_RTP_USE_USER_DEFINED_SSRC_MASK;
  int level = 0;
  if (endptProvGetValue(endpt->lineId, EPPROV_Rfc2833ToneLevel, &level) == EPSTATUS_SUCCESS) {
    regs.nteToneLevel = static_cast<uint16_t>(level);
  }
  uint16_t& flags2 = cnx->rtpRegs2.configFlags2;
  flags2 = static_cast<uint16_t>(endpt->bGR303Support ? (flags2 | 0x1F) : (flags2 & ~0x18));
  flags2 |= 0x7;
  if (cnx->digitRelayType == EPDTMFRFC2833_SUBTRACT) {
    flags2 |= HAPI_RTP_SUBTRACT_DTMF_ENABLE_MASK;
  } else {
    flags2 &= static_cast<uint16_t>(~HAPI_RTP_SUBTRACT_DTMF_ENABLE_MASK);
  }
  char text[16];
  const int length = std::snprintf(text, sizeof(text), "%d", static_cast<int>(randomWord()));
  std::memset(regs.cname, 0, sizeof(regs.cname));
  std::memcpy(regs.cname, text, static_cast<size_t>(length));
  regs.cnameLength = static_cast<uint16_t>(length);
}

void SetRtpServiceRegisters(CNXSTATE* cnx, EPRTCPXRMODE xrMode, const EPZVBDPARAM* vbd,
                            const EPTRTPLOOPBACKPARM* loopback) {
  if (cnx->vhdMode == NETMODE_FAXRELAY) return;
  HAPI_RTP_REGS& regs = cnx->rtpRegs;
  uint16_t lb = 0;
  if (loopback->eMode != eEPTRTPLOOPBACK_MODE_DISABLE) {
    lb = loopback->eMode == eEPTRTPLOOPBACK_MODE_ENCAPSULATED
             ? (HAPI_RTP_LOOPBACK_ENABLE_MASK | HAPI_RTP_LOOPBACK_ENCAPSULATED_MASK)
             : HAPI_RTP_LOOPBACK_ENABLE_MASK;
    if (loopback->bMirror) lb |= HAPI_RTP_LOOPBACK_MIRROR_MASK;
    if (loopback->bStart) lb |= HAPI_RTP_LOOPBACK_START_MASK;
  }
  regs.rtpLoopbackConfigFlags = lb;
  regs.rtpLoopbackPayloadType = loopback->uPayloadType;
  if (xrMode == EPRTCPXRMODE_ON || xrMode == EPRTCPXRMODE_NEGOTIATE) {
    regs.configFlags |= HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK;
  } else {
    regs.configFlags &= static_cast<uint16_t>(~HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK);
  }
  constexpr uint16_t v152 = HAPI_RTP_VBD_V152_ENABLE_MASK | HAPI_RTP_VBD_V152_INGRESS_RFC2198_ENABLE_MASK;
  if (vbd->vbdMode & EPVBDMODE_V152) {
    if (vbd->vbdRedMode == EPVBDRED_ON) {
      regs.configFlags |= v152;
    } else {
      regs.configFlags = static_cast<uint16_t>((regs.configFlags | HAPI_RTP_VBD_V152_ENABLE_MASK) &
                                               ~HAPI_RTP_VBD_V152_INGRESS_RFC2198_ENABLE_MASK);
    }
  } else {
    regs.configFlags &= static_cast<uint16_t>(~v152);
  }
  regs.rtcpXrConfigFlags = static_cast<uint16_t>((regs.rtcpXrConfigFlags & ~0x7F) |
                                                 (xrMode == EPRTCPXRMODE_ON ? 0x40 : 0));
}

int MapRtpPayloadType(uint16_t voiceCode, uint8_t payloadType, uint16_t* map) {
  if (voiceCode == HAPI_PKT_VC_G729_8 && vrgEndptCap[0].codecCap[CODEC_G729A] == 1) voiceCode = HAPI_PKT_VC_G729A_8;
  const uint16_t entry = HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(payloadType, voiceCode);
  for (int i = 1; i < kMapEntries; ++i) {
    if (map[i] == entry) return 0;
    if ((map[i] >> 8) == payloadType && map[i] != 0) {
      if (isG7231Code(map[i] & 0xFF) && isG7231Code(voiceCode)) continue;
      map[i] = entry;
      return 1;
    }
    if (map[i] == 0) {
      map[i] = entry;
      return 1;
    }
  }
  return 0;
}

void SetRtpPayloadTypes(CNXSTATE* cnx, const CODECCNXPARMLIST* codecs) {
  if (cnx->voiceMode != VM_ACTIVE || cnx->vhdMode == NETMODE_FAXRELAY) return;
  buildMap(cnx, codecs->send, true, cnx->rtpRegs.mediaPayloadTypeMap);
  buildMap(cnx, codecs->recv, false, cnx->rtpRegs.mediaEgressPayloadTypeMap);
}

// Entering voice makes NET push its copy of the RTP registers to the RTP service before the
// encoder starts; maps written only after that let the first packets go out under the payload
// types the channel held before, and a direction opened only after that loses the first frames
// (a codec's first frames carry what its decoder builds on). So a new connection's maps and
// directions are written while the channel is still idle.
void ProgramIdleRtpPayloadTypes(CNXSTATE* cnx, const CODECCNXPARMLIST* codecs, EPCNXMODE mode) {
  if (cnx->voiceMode != VM_IDLE) return;
  buildMap(cnx, codecs->send, true, cnx->rtpRegs.mediaPayloadTypeMap, false);
  buildMap(cnx, codecs->recv, false, cnx->rtpRegs.mediaEgressPayloadTypeMap, false);
  applyRtpMode(cnx, mode);
  ProgramRtpRegisters(cnx);
}

void SetRtcpInterval(CNXSTATE* cnx, uint16_t ms) { cnx->rtpRegs.rtcpPacketInterval = ms; }

void SetRtcpRandomInterval(CNXSTATE* cnx, int random) {
  if (random) {
    cnx->rtpRegs.configFlags |= HAPI_RTP_INGRESS_RANDOMIZE_RTCP_INTERVAL_MASK;
  } else {
    cnx->rtpRegs.configFlags &= static_cast<uint16_t>(~HAPI_RTP_INGRESS_RANDOMIZE_RTCP_INTERVAL_MASK);
  }
}

void GetRtpRegisters(CNXSTATE* cnx) {
  if (hdspSendCmdData(cnx->vhdhdl, HAPI_NET_RTP_GETREGS_CMD, kExt, sizeof(cnx->rtpRegs), &cnx->rtpRegs) != 0 ||
      hdspSendCmdData(cnx->vhdhdl, HAPI_NET_RTP_GETREGS2_CMD, kExt, sizeof(cnx->rtpRegs2), &cnx->rtpRegs2) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: failed setting RTP registers for line %d", cnx->lineId);
  }
}

void ProgramRtpRegisters(CNXSTATE* cnx) {
  if (hdspSendCmdDataAsync(cnx->vhdhdl, HAPI_NET_RTP_SETREGS_CMD, kExt, sizeof(cnx->rtpRegs), &cnx->rtpRegs) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: failed setting RTP registers for line %d", cnx->lineId);
  }
  if (hdspSendCmdDataAsync(cnx->vhdhdl, HAPI_NET_RTP_SETREGS2_CMD, kExt, sizeof(cnx->rtpRegs2), &cnx->rtpRegs2) !=
      0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: failed setting RTP registers2 for line %d", cnx->lineId);
  }
}

void GenerateNteEvent(CNXSTATE* cnx, int event) {
  if (cnx->voiceMode != VM_ACTIVE || cnx->vhdMode == NETMODE_FAXRELAY) return;
  log(VOICE_LOGLEVEL_INFO, "EPT: Generate NTE event %d for line %d", event, cnx->lineId);
  if (hdspSendCmd(cnx->vhdhdl, hdsp::HAPI_RTP_GEN_NTE_CMD, kStd, static_cast<uint16_t>(event), 0) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: ERROR generating NTE event for line %d", cnx->lineId);
  }
}

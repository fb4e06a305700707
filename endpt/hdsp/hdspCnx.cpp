// Connection options and codec set-up.
#include "hdspCnx.h"

#include <atomic>
#include <cstddef>

#include "codecCap.h"
#include "hal/boardHal.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "hdspLine.h"
#include "hdspVhd.h"
#include "net/net_regs.h"
#include "pte/pte_regs.h"
#include "faxr/faxr_regs.h"
#include "voiceLog.h"
#include "vrgEndpt.h"
#include "vrgProv.h"

using namespace hdsp;

const EPRATEMAP epRateMap[EP_RATE_MAP_ROWS] = {
    {CODEC_PCMU, 0},          {CODEC_PCMA, 1},          {CODEC_G722_MODE_1, 45},   {CODEC_G726_16, 2},
    {CODEC_G726_24, 3},       {CODEC_G726_32, 4},       {CODEC_G726_40, 5},        {CODEC_G7231_53, 9},
    {CODEC_G7231_63, 10},     {CODEC_G7231A_53, 9},     {CODEC_G7231A_63, 10},     {CODEC_G7231_VAR, 93},
    {CODEC_G7231_53_VAR, 93}, {CODEC_G7231_63_VAR, 93}, {CODEC_G729A, 6},          {CODEC_G729B, 6},
    {CODEC_G728, 11},         {CODEC_G729, 7},          {CODEC_G729E, 8},          {CODEC_BV32, 43},
    {CODEC_LINPCM64, 34},     {CODEC_LINPCM128, 13},    {CODEC_LINPCM256, 44},     {CODEC_CLEARCHANNEL, 34},
    {CODEC_ILBC_20, 14},      {CODEC_ILBC_30, 15},      {CODEC_GSMAMR_475, 18},    {CODEC_GSMAMR_515, 19},
    {CODEC_GSMAMR_590, 20},   {CODEC_GSMAMR_670, 21},   {CODEC_GSMAMR_740, 22},    {CODEC_GSMAMR_795, 23},
    {CODEC_GSMAMR_10K, 24},   {CODEC_GSMAMR_12K, 25},   {CODEC_GSMAMR_OA_475, 26}, {CODEC_GSMAMR_OA_515, 27},
    {CODEC_GSMAMR_OA_590, 28}, {CODEC_GSMAMR_OA_670, 29}, {CODEC_GSMAMR_OA_740, 30}, {CODEC_GSMAMR_OA_795, 31},
    {CODEC_GSMAMR_OA_10K, 32}, {CODEC_GSMAMR_OA_12K, 33}, {CODEC_GSMEFR, 17},       {CODEC_GSMFR, 16},
    {CODEC_GSMHR, 35},        {CODEC_AMRWB_66, 50},     {CODEC_AMRWB_885, 51},     {CODEC_AMRWB_1265, 52},
    {CODEC_AMRWB_1425, 53},   {CODEC_AMRWB_1585, 54},   {CODEC_AMRWB_1825, 55},    {CODEC_AMRWB_1985, 56},
    {CODEC_AMRWB_2305, 57},   {CODEC_AMRWB_2385, 58},   {CODEC_AMRWB_OA_66, 59},   {CODEC_AMRWB_OA_885, 60},
    {CODEC_AMRWB_OA_1265, 61}, {CODEC_AMRWB_OA_1425, 62}, {CODEC_AMRWB_OA_1585, 63}, {CODEC_AMRWB_OA_1825, 64},
    {CODEC_AMRWB_OA_1985, 65}, {CODEC_AMRWB_OA_2305, 66}, {CODEC_AMRWB_OA_2385, 67}, {CODEC_OPUS_NB_5, 36},
    {CODEC_OPUS_NB_10, 37},   {CODEC_OPUS_NB_20, 38},   {CODEC_OPUS_NB_40, 39},    {CODEC_OPUS_NB_60, 40},
    {CODEC_OPUS_WB_5, 68},    {CODEC_OPUS_WB_10, 69},   {CODEC_OPUS_WB_20, 70},    {CODEC_OPUS_WB_40, 71},
    {CODEC_OPUS_WB_60, 72},   {CODEC_ISAC_30, 73},      {CODEC_ISAC_60, 74},       {CODEC_NTE, 0},
    {CODEC_RED, 0},           {CODEC_NULL, 0},
};

const EPFAXEVTMAP epFaxEvtMap[4] = {{1, 3}, {2, 2}, {3, 0}, {0, 0}};

const EPRATEMAP* epRateMapFind(CODEC_TYPE codec) {
  for (const EPRATEMAP& row : epRateMap) {
    if (row.codec == CODEC_NULL) break;
    if (row.codec == codec) return &row;
  }
  return nullptr;
}

namespace {

constexpr uint16_t kStd = HAPI_REQID_STD_CMD;
constexpr uint16_t kExt = HAPI_REQID_EXT_CMD;

template <typename... A>
void log(VOICE_LOGLEVEL level, const char* format, A... args) {
  voiceLog(VOICE_MODULE_EPT, level, format, args...);
}

CODEC_TYPE firstSendCodec(const EPZCNXPARAM* p) {
  return p->cnxParmList.send.numCodecs > 0 ? p->cnxParmList.send.codecs[0].type : CODEC_NULL;
}

int firstSendPeriod(const EPZCNXPARAM* p) {
  return p->cnxParmList.send.numPeriods > 0 ? p->cnxParmList.send.period[0] : 0;
}

bool isG7231(CODEC_TYPE c) {
  switch (c) {
    case CODEC_G7231_53:
    case CODEC_G7231_63:
    case CODEC_G7231A_53:
    case CODEC_G7231A_63:
    case CODEC_G7231_53_VAR:
    case CODEC_G7231_63_VAR:
    case CODEC_G7231_VAR:
      return true;
    default:
      return false;
  }
}

// A codec whose packet time is fixed whatever the period asked for, or 0.
int fixedPacketTime(CODEC_TYPE c) {
  switch (c) {
    case CODEC_OPUS_NB_5: case CODEC_OPUS_WB_5: return 5;
    case CODEC_OPUS_NB_10: case CODEC_OPUS_WB_10: return 10;
    case CODEC_OPUS_NB_20: case CODEC_OPUS_WB_20: return 20;
    case CODEC_OPUS_NB_40: case CODEC_OPUS_WB_40: return 40;
    case CODEC_OPUS_NB_60: case CODEC_OPUS_WB_60: case CODEC_ISAC_60: return 60;
    case CODEC_ISAC_30: return 30;
    default: return 0;
  }
}

bool hasNteCodec(const CODECCNXLIST& list) {
  for (int i = 0; i < list.numCodecs && i < CODEC_MAX_TYPES; ++i) {
    if (list.codecs[i].type == CODEC_NTE) return true;
  }
  return false;
}

int digitRelayFlag(const EPZCNXPARAM* p) {
  if (firstSendCodec(p) == CODEC_CLEARCHANNEL) return 0;
  if (p->digitRelayType == EPDTMFRFC2833_SUBTRACT) return 1;
  if (p->digitRelayType == EPDTMFRFC2833_ENABLED) {
    return hasNteCodec(p->cnxParmList.send) && (p->namedPhoneEvts & 0x7FFF8) != 0 ? 1 : 0;
  }
  return 0;
}

uint16_t vadTypeFor(CODEC_TYPE c) {
  if (c == CODEC_G7231A_53 || c == CODEC_G7231A_63 || c == CODEC_G729B ||
      (c >= CODEC_GSMAMR_12K && c <= CODEC_ISAC_60)) {
    return HAPI_VAD_TYPE_BUILTIN;
  }
  return HAPI_VAD_TYPE_GENERIC;
}

// The first entry of a list that is a variable-rate G.723.1 codec is named by its family.
void rewriteVariableG7231(CODECCNXLIST& list) {
  for (int i = 0; i < list.numCodecs && i < CODEC_MAX_TYPES; ++i) {
    if (list.codecs[i].type == CODEC_G7231_53_VAR || list.codecs[i].type == CODEC_G7231_63_VAR) {
      list.codecs[i].type = CODEC_G7231_VAR;
      return;
    }
  }
}

uint16_t vbdVoiceCode(const VRG_ENDPT* endpt, uint16_t voiceCode) {
  int preferred = 0;
  if (endptProvGetValue(endpt->lineId, EPPROV_PreferredVBDCodec, &preferred) != EPSTATUS_SUCCESS) return 0;
  if (preferred == 1) return HAPI_PKT_VC_G711_ULAW;
  if (preferred == 2) return HAPI_PKT_VC_G711_ALAW;
  return voiceCode <= HAPI_PKT_VC_G711_ALAW ? voiceCode : static_cast<uint16_t>(HAPI_PKT_VC_G711_ULAW);
}

int relayFailed(const VRG_ENDPT* endpt, int relay, EPDATAMODE dataMode) {
  log(VOICE_LOGLEVEL_ERROR, "EPT: ENDPT %d: Error returned by enableRelay(), digitRelay: %d, dataMode: %d",
      endpt->endptNum, relay, dataMode);
  return EPSTATUS_RESOURCES;
}

}  // namespace

int checkPacketTime(const EPZCNXPARAM* params) {
  const CODEC_TYPE codec = firstSendCodec(params);
  const int period = firstSendPeriod(params);
  const uint16_t* pCap = vrgEndptCap[0].pCap;
  const bool supported = (pCap[0] & 0x8000) ? (period >= (pCap[0] & 0x7FFF) && period <= pCap[1])
                                             : period == pCap[0];
  if (const int fixed = fixedPacketTime(codec); fixed != 0) return fixed;
  if (supported) return period;
  const int chosen = isG7231(codec) ? 30 : 20;
  log(VOICE_LOGLEVEL_WARNING, "EPT: checkPacketTime: Unsupported ptime %d ms for codec %d - using %d ms instead",
      period, codec, chosen);
  return chosen;
}

int SetConnectionOptions(CNXSTATE* cnx, EPZCNXPARAM* params, int initial) {
  static const char* const fn = "SetConnectionOptions";
  VRG_ENDPT* endpt = GetEndptState(cnx->lineId);
  if (endpt == nullptr) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: %s: Unable to get endpoint state", fn);
    return EPSTATUS_ENDPT_UNKNOWN;
  }
  const CODEC_TYPE first = firstSendCodec(params);
  const int relay = digitRelayFlag(params);
  const int pktMs = checkPacketTime(params);
  const int pktSamples = pktMs * 8;

  if (params->localSsrc != 0) {
    log(VOICE_LOGLEVEL_INFO, "EPT: Setting user-defined SSRC = 0x%08X", params->localSsrc);
    const int16_t result = hdspVhdSetSSRC(cnx->vhdhdl, params->localSsrc);
    if (result != 0) {
      log(VOICE_LOGLEVEL_ERROR, "EPT: Couldn't set custom SSRC !!!");
      return result;
    }
  }
  if ((params->mode == EPCNXMODE_RCVO || params->mode == EPCNXMODE_INACT) &&
      params->cnxParmList.send.numCodecs == 0) {
    return 0;
  }

  if (first == CODEC_T38 || first == CODEC_T38_MUTE) {
    int result = SetT38PktSize(cnx, firstSendPeriod(params));
    if (result == 0) result = SetT38EcMode(cnx, params->t38param.ecMode);
    if (result != 0) return result;
    SetVoiceMode(cnx, VM_FAX_RELAY);
    if (EnableRelay(cnx, relay, pktSamples, params->dataMode, params->digitRelayType) != 0) {
      return relayFailed(endpt, relay, params->dataMode);
    }
    vrgCnxSetMute(cnx->bMuteT38, first == CODEC_T38_MUTE ? 1 : 0);
    return 0;
  }

  CODEC_TYPE codec = first;
  if (first == CODEC_RED) {
    codec = params->cnxParmList.send.codecs[0].options.rfc2198Type;
    log(VOICE_LOGLEVEL_INFO, "EPT: ENDPT %d: Selected CODEC_RED as its first codec, redundant codec is %d",
        endpt->endptNum, codec);
    cnx->rtpRegs.configFlags = static_cast<uint16_t>((cnx->rtpRegs.configFlags & ~0x4) | 0x40);
  }
  if (EnableRelay(cnx, relay, pktSamples, params->dataMode, params->digitRelayType) != 0) {
    return relayFailed(endpt, relay, params->dataMode);
  }
  if (codec == CODEC_T38 || codec == CODEC_T38_MUTE) {
    vrgCnxSetMute(cnx->bMuteT38, 0);
    return 0;
  }

  const uint8_t* cap = vrgEndptCap[0].codecCap;
  if (codec == CODEC_G729 && cap[CODEC_G729A] == 1) codec = cap[CODEC_G729B] == 1 ? CODEC_G729B : CODEC_G729A;
  const EPRATEMAP* rate = epRateMapFind(codec);
  if (rate == nullptr) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: %s: Couldn't find codec", fn);
    return EPSTATUS_UNSUPPORTED_MODE;
  }
  if (codecGetBaseFrameRate(codec) == 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: %s: Invalid codec base frame rate", fn);
    return EPSTATUS_UNSUPPORTED_MODE;
  }
  if (cnx->bLiteWeight && codec != CODEC_PCMU && codec != CODEC_PCMA && codec != CODEC_NTE) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: %s: Liteweight connection only supports G.711", fn);
    return EPSTATUS_UNSUPPORTED_MODE;
  }

  int vad = 1;
  uint16_t vadType = vadTypeFor(codec);
  if (first == CODEC_CLEARCHANNEL || cnx->vbData.bEnabled || params->silence == 0) {
    vad = 0;
    vadType = HAPI_VAD_TYPE_NONE;
  }
  const int plc = vrgEndptRetrievePlcSettings(codec);
  const int cng = first == CODEC_CLEARCHANNEL ? 0 : params->comfortNoise;
  if (vad != cnx->VadMode || cng != cnx->CngMode || plc != cnx->PlcMode) {
    hdspVhdSetVadCngPlc(cnx->vhdhdl, vad, cng, plc);
    cnx->VadMode = vad;
    cnx->CngMode = cng;
    cnx->PlcMode = plc;
  }

  uint16_t voiceCode = static_cast<uint16_t>(rate->voiceCode);
  if (first == CODEC_G7231_53_VAR) voiceCode = HAPI_PKT_VC_G7231_53;
  if (first == CODEC_G7231_63_VAR || first == CODEC_G7231_VAR) voiceCode = HAPI_PKT_VC_G7231_63;
  rewriteVariableG7231(params->cnxParmList.recv);
  rewriteVariableG7231(params->cnxParmList.send);

  const bool unchanged = cnx->silence == params->silence && cnx->period == firstSendPeriod(params) &&
                         cnx->codecType == firstSendCodec(params);
  if (!unchanged) {
    cnx->netRegs.hsxPacketVoiceEncoder = static_cast<uint16_t>(voiceCode + (vadType << 8));
    cnx->netRegs.hsxVoiceSuperPktInterval = static_cast<uint16_t>(pktSamples);
    cnx->netRegs.hsxVBDSuperPktInterval = static_cast<uint16_t>(pktSamples);
    if (initial) {
      if (hdspSendCmdDataAsync(cnx->vhdhdl, HAPI_NET_CONFIG_SETREGS_CMD, kExt, sizeof(cnx->netRegs),
                               &cnx->netRegs) != 0) {
        log(VOICE_LOGLEVEL_ERROR, "HDSP: Failed to set NET config registers for vhd 0x%x !!!", cnx->vhdhdl);
        return -1;
      }
    } else {
      hdspVhdSetVoiceCodec(cnx->vhdhdl, voiceCode, vadType, static_cast<uint16_t>(pktSamples), 0);
    }
    const uint16_t vbdCode = vbdVoiceCode(endpt, voiceCode);
    cnx->netRegs.hsxVoiceBandDefault = static_cast<uint16_t>(vbdCode + (vadType << 8));
    hdspVhdSetVBDCodec(cnx->vhdhdl, vbdCode, vadType);
  }
  vrgCnxSetMute(cnx->bMuteT38, 0);
  log(VOICE_LOGLEVEL_INFO, "EPT: Set codec: codec=0x%x, pc=0x%x, s=%d, p=%d", codec, voiceCode, params->silence,
      pktMs);
  return 0;
}

int EnableRelay(CNXSTATE* cnx, int digitRelay, int pktSamples, EPDATAMODE dataMode,
                EPDTMFRFC2833CONFIG digitRelayType) {
  const int pktMs = pktSamples / 8;
  if (digitRelay && cnx->toneRelayRefreshInterval != pktMs) {
    if (hdspSendCmd(cnx->vhdhdl, HAPI_NET_PTE_SETREG1_CMD, kStd, offsetof(HAPI_PTE_REGS, refreshInterval),
                    static_cast<uint16_t>(pktSamples)) != 0) {
      log(VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting PTE refresh interval for endpt %d", cnx->lineId);
      return EPSTATUS_RESOURCES;
    }
    log(VOICE_LOGLEVEL_INFO, "EPT: DTMF Relay period set to %d ms ", pktMs);
    cnx->toneRelayRefreshInterval = pktMs;
  }
  if (digitRelay == cnx->digitRelay && dataMode == cnx->dataMode && digitRelayType == cnx->digitRelayType) {
    return 0;
  }
  HSZNETREGS regs = cnx->netRegs;
  if (digitRelay) {
    regs.hsxPtePacketVoiceOptions |= HSNET_PTE_OPTION_DETECTOR_INGRESSMASK | HSNET_PTE_OPTION_DIG_RELAY;
    if (digitRelayType == EPDTMFRFC2833_SUBTRACT) {
      cnx->rtpRegs2.configFlags2 |= 0x20;
    } else {
      cnx->rtpRegs2.configFlags2 &= static_cast<uint16_t>(~0x20);
    }
  } else {
    regs.hsxPtePacketVoiceOptions &= static_cast<uint16_t>(~HSNET_PTE_OPTION_DIG_RELAY);
  }
  if (dataMode == EPDATAMODE_T38 || dataMode == EPDATAMODE_T38_MUTE) {
    regs.hsxNetOptions |= HSNET_NET_OPTION_FAXRELAY;
    log(VOICE_LOGLEVEL_INFO, "EPT: EnableRelay: enable fax relay for endpt %d", cnx->lineId);
  } else {
    regs.hsxNetOptions &= static_cast<uint16_t>(~HSNET_NET_OPTION_FAXRELAY);
    log(VOICE_LOGLEVEL_INFO, "EPT: EnableRelay: VBD mode for endpt %d", cnx->lineId);
  }
  if (hdspSendCmdDataAsync(cnx->vhdhdl, HAPI_NET_CONFIG_SETREGS_CMD, kExt, sizeof(regs), &regs) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting registers for endpt %d", cnx->lineId);
    return EPSTATUS_RESOURCES;
  }
  cnx->digitRelay = digitRelay;
  cnx->dataMode = dataMode;
  cnx->netRegs.hsxPtePacketVoiceOptions = regs.hsxPtePacketVoiceOptions;
  cnx->netRegs.hsxNetOptions = regs.hsxNetOptions;
  cnx->digitRelayType = digitRelayType;
  log(VOICE_LOGLEVEL_INFO, "EPT: DTMF Relay %d, Fax %d ", digitRelay,
      (regs.hsxNetOptions & HSNET_NET_OPTION_FAXRELAY) ? 1 : 0);
  return 0;
}

void SetVoiceMode(CNXSTATE* cnx, VOICEMODE mode) {
  const VOICEMODE current = cnx->voiceMode;
  if (mode == current && mode != VM_FAX_RELAY && !cnx->vbData.bEnabled) return;
  if (mode == VM_IDLE || current == VM_IDLE) cnx->vbData.bEnabled = 0;
  switch (mode) {
    case VM_ACTIVE:
      hdspVhdSetMode(cnx->vhdhdl, cnx->vbData.bEnabled ? NETMODE_VOICEBANDDATA : NETMODE_PACKETVOICE, 0);
      break;
    case VM_FAX_RELAY: {
      uint16_t init = 0;
      for (const EPFAXEVTMAP& row : epFaxEvtMap) {
        if (row.faxEvent == 0) break;
        if (row.faxEvent == cnx->lastFaxEvent) init = row.initMode;
      }
      hdspVhdSetMode(cnx->vhdhdl, NETMODE_FAXRELAY, init);
      break;
    }
    default:
      // The channel answers once it is idle. Its mode event comes after the connection has been
      // released, when the record takes no events: the record notes the mode itself, or the next
      // connection on the channel would start out believing it in the last call's mode (after a
      // fax, in fax relay, where its RTP registers are not written).
      if (hdspVhdSetMode(cnx->vhdhdl, NETMODE_IDLE, 0) == 0) {
        std::atomic_ref<uint16_t>(cnx->vhdMode).store(NETMODE_IDLE, std::memory_order_relaxed);
      }
      break;
  }
  cnx->voiceMode = mode;
}

void SaveConnectionOptions(CNXSTATE* cnx, const EPZCNXPARAM* params) {
  if (!cnx->cnxModeControlsLineVhd) cnx->mode = params->mode;
  if (params->mode == EPCNXMODE_INACT) return;
  cnx->silence = params->silence;
  cnx->comfortNoise = params->comfortNoise;
  cnx->period = checkPacketTime(params);
  cnx->codecType = firstSendCodec(params);
  cnx->namedPhoneEvts = params->namedPhoneEvts;
  cnx->t38param.ecMode = params->t38param.ecMode;
  cnx->vbData.param.vbdMode = params->vbdparam.vbdMode;
  cnx->vbData.param.vbdRedMode = params->vbdparam.vbdRedMode;
}

int ConnectionOptionsChanged(const CNXSTATE* cnx, const EPZCNXPARAM* params) {
  return cnx->mode != params->mode || cnx->silence != params->silence ||
         cnx->period != checkPacketTime(params) || cnx->codecType != firstSendCodec(params) ||
         (cnx->namedPhoneEvts & 0x7FFF8) != (params->namedPhoneEvts & 0x7FFF8) ||
         cnx->dataMode != params->dataMode || cnx->t38param.ecMode != params->t38param.ecMode ||
         cnx->comfortNoise != params->comfortNoise || cnx->digitRelayType != params->digitRelayType;
}

void ClearConnectionOptions(CNXSTATE* cnx) {
  cnx->mode = EPCNXMODE_MAX;
  cnx->silence = 0;
  cnx->comfortNoise = 2;
  cnx->period = 0;
  cnx->codecType = CODEC_NULL;
  cnx->namedPhoneEvts = 0;
  cnx->lastFaxEvent = 0;
  vrgCnxSetMute(cnx->bMuteAudio, 0);
  cnx->t38param.ecMode = EPT38EC_UDPREDUNDANCY;
  cnx->t38param.numFaxPagesTx = 0;
  cnx->t38param.numFaxPagesRx = 0;
  cnx->vbData.param.vbdRedMode = EPVBDRED_OFF;
  cnx->vbData.param.vbdMode = EPVBDMODE_LEGACY;
  cnx->localSsrc = 0;
  cnx->toneRelayRefreshInterval = 0;
}

int SetT38EcMode(CNXSTATE* cnx, EPT38ECMODE mode) {
  uint16_t value = 0;
  if (mode == EPT38EC_UDPREDUNDANCY) {
    value = 0x104;
  } else if (mode != EPT38EC_NONE) {
    return 0;
  }
  log(VOICE_LOGLEVEL_INFO, "EPT: Setting T.38 error correction mode for vhd %d to 0x%x", cnx->vhdhdl, value);
  const int16_t result = hdspSendCmd(cnx->vhdhdl, HAPI_NET_FAXR_SETREG1_CMD, kStd,
                                     offsetof(HSZFAXRREGS, hsxmaxjitter), value);
  if (result != 0) log(VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting T.38 error correction mode for vhd %d", cnx->vhdhdl);
  return result;
}

int SetT38PktSize(CNXSTATE* cnx, int ms) {
  const int16_t result = hdspSendCmd(cnx->vhdhdl, HAPI_NET_FAXR_SETREG1_CMD, kStd,
                                     offsetof(HSZFAXRREGS, hsxrxpacketsize), static_cast<uint16_t>(ms));
  if (result != 0) log(VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting T.38 registers for vhd %d", cnx->vhdhdl);
  return result;
}

namespace {

void enable(uint16_t vhd, uint16_t code, uint16_t on, uint16_t op2, const char* failure, bool withResult) {
  const int16_t result = hdspSendCmd(vhd, code, kStd, on, op2);
  if (result == 0) return;
  if (withResult) {
    log(VOICE_LOGLEVEL_ERROR, failure, result, vhd);
  } else {
    log(VOICE_LOGLEVEL_ERROR, failure, vhd);
  }
}

}  // namespace

void SetDigitalMode(VRG_ENDPT* endpt, CNXSTATE* cnx, int on) {
  const uint16_t gw = cnx->vhdhdl;
  const uint16_t line = endpt->lineVhdHdl;
  if (on) {
    cnx->bBell103Enabled = 0;
    cnx->netRegs.hsxNetOptions = 0xE0;
    cnx->netRegs.hsxCallDOptions = 0;
    cnx->netRegs.hsxPtePacketVoiceOptions = 0;
    hdspVhdSetIngressGain(line, 0);
    hdspVhdSetEgressGain(line, 0);
    enable(gw, HAPI_PTE_ENABLE_CMD, 0, 0, "HDSP: ENDPT: ERROR %X disabling PTE for GW vhd 0x%x", true);
    enable(gw, HAPI_CDIS_ENABLE_CMD, 0, 0, "HDSP: ENDPT: ERROR %X disabling CDIS for GW vhd 0x%x", true);
    enable(gw, HAPI_V21_ENABLE_CMD, 0, 0, "HDSP: ENDPT: ERROR %X disabling V21 for GW vhd 0x%x", true);
    enable(line, HAPI_PTE_ENABLE_CMD, 0, 0, "HDSP: ENDPT: ERROR %X disabling PTE for ENDPT vhd 0x%x", true);
    enable(line, LINE_HPF_CMD, 0, 0, "HDSP: ENDPT: ERROR disabling line HPF for ENDPT vhd 0x%x", false);
    enable(line, LINE_BANDSPLIT_CMD, 0, 0, "HDSP: ENDPT: ERROR disabling band split for ENDPT vhd 0x%x", false);
    enable(line, LINE_BANDCOMBINE_CMD, 0, 0, "HDSP: ENDPT: ERROR disabling band combine for ENDPT vhd 0x%x", false);
    enable(line, LINE_EQU_CMD, 0, 0, "HDSP: ENDPT: ERROR disabling equalizer filter for ENDPT vhd 0x%x", false);
    boardHalSetClearChannel(endpt->endptNum, 1);
    EndptUpdateCasState(endpt->lineId, EPCAS_OFFHOOK);
    hdspSendCmd(line, HAPI_HEC_ENABLE_CMD, kStd, 0, 0);
    return;
  }
  hdspSendCmd(gw, HAPI_PTE_ENABLE_CMD, kStd, 1, 0x20);
  hdspSendCmd(gw, HAPI_CDIS_ENABLE_CMD, kStd, 1, 0);
  hdspSendCmd(gw, HAPI_V21_ENABLE_CMD, kStd, 1, 0);
  hdspSendCmd(line, HAPI_PTE_ENABLE_CMD, kStd, 1, 0x22);
  hdspSendCmd(line, LINE_HPF_CMD, kStd, 1, 0);
  hdspSendCmd(line, LINE_BANDSPLIT_CMD, kStd, 1, 0);
  hdspSendCmd(line, LINE_BANDCOMBINE_CMD, kStd, 1, 0);
  boardHalSetClearChannel(endpt->endptNum, 0);
}

void SetSilenceSuppression(CNXSTATE* cnx, int vad, int plc, int comfortNoise) {
  const VRG_ENDPT* endpt = GetEndptState(cnx->lineId);
  if (endpt != nullptr && (endpt->testMode & TESTMODE_VADSET)) {
    if (endpt->diagVadMode == -1) return;
    vad = endpt->diagVadMode;
  }
  if (vad == cnx->VadMode && plc == cnx->PlcMode && comfortNoise == cnx->CngMode) return;
  hdspVhdSetVadCngPlc(cnx->vhdhdl, vad, comfortNoise, plc);
  cnx->VadMode = vad;
  cnx->PlcMode = plc;
}

void SetAdditionalGain(CNXSTATE* cnx, int voiceBandData) {
  VRG_ENDPT* endpt = GetEndptState(cnx->lineId);
  if (endpt == nullptr) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: SetAdditionalGain: unknown endpt for line %d", cnx->lineId);
    return;
  }
  if (voiceBandData) {
    hdspVhdSetIngressGain(endpt->lineVhdHdl, 0);
    hdspVhdSetEgressGain(endpt->lineVhdHdl, 0);
    return;
  }
  hdspVhdSetEgressGain(endpt->lineVhdHdl, endpt->rxGain);
  if (endpt->offHook.load(std::memory_order_relaxed)) hdspVhdSetIngressGain(endpt->lineVhdHdl, endpt->txGain);
}

// Command processing on the dispatcher: each queued API call runs here, writes its status and
// releases its caller. Endpoint creation and destruction, capabilities, statistics, mute and
// internal links live in this file; connection set-up in vrgEndptProcessCnx.cpp.
#include <cstring>

#include "boardHal.h"
#include "casCtl.h"
#include "hdspCmd.h"
#include "hdspEcan.h"
#include "hdspSb.h"
#include "hdspVhd.h"
#include "swb/swb.h"
#include "voiceLog.h"
#include "vrgEndpt.h"
#include "vrgEndptCallbacks.h"
#include "vrgEndptClass.h"
#include "hdspCnx.h"
#include "hdspLine.h"
#include "hdspTone.h"
#include "rtpCnx.h"
#include "vrgEndptHelpers.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgEndptState.h"
#include "vrgProv.h"
#include "vrgProvValues.h"

namespace {

template <typename T>
T* Arg(const VRG_EPT_CMD* cmd, int index) {
  return reinterpret_cast<T*>(cmd->arguments[index]);
}

int IntArg(const VRG_EPT_CMD* cmd, int index) {
  return static_cast<int>(static_cast<uint32_t>(cmd->arguments[index]));
}

VRG_ENDPT* EndptOf(const ENDPT_STATE* state) {
  return state != nullptr ? GetEndptState(state->lineId) : nullptr;
}

// Reads a provisioning item into `value` and reports whether it was set. Unset items are logged
// (by Provision) and leave `value` as it was.
template <typename T>
bool ProvRead(const VRG_ENDPT* endpt, EPPROV item, T* value) {
  uint32_t raw = 0;
  if (Provision(endpt, item, &raw) != EPSTATUS_SUCCESS) return false;
  *value = static_cast<T>(raw);
  return true;
}

// ---- endpoint creation ----

EPTYPE EndptTypeOfLine(int lineId) {
  if (boardHalIsType(lineId, DSPHAL_TYPE_FXO)) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: EPTYPE_PSTN");
    return EPTYPE_PSTN;
  }
  if (boardHalIsType(lineId, DSPHAL_TYPE_DECT)) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: EPTYPE_DECT");
    return EPTYPE_DECT;
  }
  if (boardHalIsType(lineId, DSPHAL_TYPE_FXS)) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: EPTYPE_FXS");
    return EPTYPE_FXS;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: EPTYPE_NOSIG");
  return EPTYPE_NOSIG;
}

// The hook timing of the line from provisioning. Every field starts at zero: an item that is not
// provisioned is logged and leaves its field at zero instead of an undefined value.
CAS_CTL_FXO_PARMS HookTiming(VRG_ENDPT* endpt) {
  CAS_CTL_FXO_PARMS parms{};
  uint32_t maxMake = 0, interdigit = 0;
  ProvRead(endpt, EPPROV_MinHookFlash, &parms.minHookFlash);
  ProvRead(endpt, EPPROV_MaxHookFlash, &parms.maxHookFlash);
  ProvRead(endpt, EPPROV_PlsDlMinBreakTime, &parms.pulseMinBreak);
  ProvRead(endpt, EPPROV_PlsDlMaxBreakTime, &parms.pulseMaxBreak);
  ProvRead(endpt, EPPROV_PlsDlMinMakeTime, &parms.pulseMinMake);
  ProvRead(endpt, EPPROV_PlsDlMaxMakeTime, &maxMake);
  ProvRead(endpt, EPPROV_PlsDlInterdigitTime, &interdigit);
  parms.pulseMaxMake = (maxMake + interdigit) / 2;
  ProvRead(endpt, EPPROV_MinConnect, &parms.minConnect);
  ProvRead(endpt, EPPROV_MinDisconnect, &parms.minDisconnect);
  parms.minWink = 20;
  parms.minPostWink = 200;
  parms.earlyActiveHookInterval =
      parms.pulseMinBreak < parms.pulseMinMake ? parms.pulseMinBreak : parms.pulseMinMake;
  parms.delayActiveHookInterval = 100;
  endpt->bGR303Support = 0;
  endpt->bPulse2dtmf = 0;
  ProvRead(endpt, EPPROV_GR303Support, &endpt->bGR303Support);
  ProvRead(endpt, EPPROV_Pulse2DtmfConvert, &endpt->bPulse2dtmf);
  if (endpt->bGR303Support && endpt->bPulse2dtmf) {
    parms.earlyActiveHookInterval = parms.minHookFlash;
  }
  return parms;
}

EPSTATUS ProcessVrgEndptCreate(int physId, int lineId, ENDPT_STATE* state) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: ENDPT CREATE: Starting initialization for endpt %d", physId);
  if (physId < 0 || physId >= VRG_MAX_ENDPT || physId >= vrgEndptGetNumEndpoints() ||
      state == nullptr || vrgEndpt[physId].isLineUsed) {
    return EPSTATUS_ENDPT_UNKNOWN;
  }
  VRG_ENDPT* endpt = &vrgEndpt[physId];
  const EPTYPE type = EndptTypeOfLine(lineId);
  state->lineId = lineId;
  state->endptType = type;
  endpt->endptArchive = state;
  endpt->lineId = lineId;
  vrgEndptSetLineUsed(endpt, 1);
  endpt->intLinkVhdHdl = 0;
  endpt->endptNum = static_cast<uint16_t>(physId);
  endpt->endptType = type;
  endpt->cnx[0] = nullptr;
  endpt->activeBriefSignal = EPSIG_NULL;

  if (InitVhds(endpt, EndptVhdEventCallback) != EPSTATUS_SUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR InitVhds() failed for endpt %d",
             physId);
    return EPSTATUS_RESOURCES;
  }
  const CAS_CTL_FXO_PARMS parms = HookTiming(endpt);
  const CAS_TYPE casType = type == EPTYPE_FXS    ? CAS_TYPE_FXO
                           : type == EPTYPE_PSTN ? CAS_TYPE_FXS
                                                 : CAS_TYPE_INACTIVE;
  CAS_CTL_HANDLE casHandle = -1;
  if (casCtlEndptInit(lineId, casType, &casHandle, &parms) != CAS_CTL_SUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR casCtlEndptInit for endpt %d",
             physId);
    return EPSTATUS_RESOURCES;
  }
  endpt->casCtlHandle = casHandle;

  if (type == EPTYPE_FXS) {
    const EPSTATUS status = SetRingParams(endpt);
    if (status != EPSTATUS_SUCCESS) return status;
    int boosted = 0;
    if (ProvRead(endpt, EPPROV_BoostedLoopCurrent, &boosted)) {
      boardHalSetSlicBoostedLoopCurrent(endpt->endptNum, boosted == 1);
    }
  }
  int loopback = 0;
  if (ProvRead(endpt, EPPROV_AnalogLoopback, &loopback)) {
    if (loopback == 1) {
      EcanStateSet(endpt, ECAN_OFF);
      endpt->testMode = TESTMODE_ANALOGLOOPBACK;
      boardHalSetAnalogLoopback(endpt->endptNum, 1);
    } else if (loopback == 2) {
      endpt->testMode = TESTMODE_NONE;
      boardHalSetAnalogLoopback(endpt->endptNum, 0);
    }
  }
  if (type == EPTYPE_FXS || type == EPTYPE_DECT) ClassLineInit(endpt);
  if (type == EPTYPE_PSTN && endpt->pstnVhdHdl != 0xFF) {
    const EPSTATUS status = PstnEndptStart(endpt);
    if (status != EPSTATUS_SUCCESS) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
               "EPT: ERROR pstnCtlEndptInit for endpt %d", physId);
      return status;
    }
  }
  boardHalChannelSetEnable(endpt->endptNum, 1);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: COMPLETED successful initialization for endpt %d", physId);
  return EPSTATUS_SUCCESS;
}

EPSTATUS ProcessVrgEndptDestroy(ENDPT_STATE* state) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: ENDPT DESTROY: endpt %d ",
           state != nullptr ? state->lineId : -1);
  VRG_ENDPT* endpt = EndptOf(state);
  if (endpt == nullptr) return EPSTATUS_ENDPT_UNKNOWN;
  const int index = static_cast<int>(endpt - vrgEndpt);
  for (CNXSTATE*& cnx : endpt->cnx) {
    if (cnx == nullptr) continue;
    cnx->cnxId = -1;
    cnx = nullptr;
  }
  for (int k = 0; k < VRG_MAX_CNX_VHD; ++k) {
    if (vrgCnxState[k].vhdhdl == 0 || vrgCnxState[k].vhdhdl == VRG_NO_VHD) continue;
    vrgCnxState[k].inMask &= ~(1u << index);
    vrgCnxState[k].outMask &= ~(1u << index);
  }
  boardHalChannelSetEnable(endpt->endptNum, 0);
  if (endptConfig.initState & EPEINIT_CAS) {
    if (casCtlEndptDeinit(endpt->casCtlHandle) != CAS_CTL_SUCCESS) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: casCtlDeinit FAILED");
      return EPSTATUS_SHUTDOWN_ERR;
    }
    endpt->casCtlHandle = -1;
  }
  ClassLineDeinit(endpt);
  vrgEndptSetLineUsed(endpt, 0);
  if (endpt->lineVhdHdl != VRG_NO_VHD) {
    if (hdspVhdClose(endpt->lineVhdHdl, static_cast<uint16_t>(endpt->dspNum)) != 0) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
               "EPT: hdspVhdClose FAILED for dsp %d, endpt %d, line-vhd 0x%x", endpt->dspNum,
               endpt->endptNum, endpt->lineVhdHdl);
    }
    endpt->lineVhdHdl = VRG_NO_VHD;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: COMPLETED ENDPT DESTROY: endpt %d ",
           state->lineId);
  return EPSTATUS_SUCCESS;
}

// ---- capabilities, statistics, mute, internal links ----

EPSTATUS ProcessVrgEndptCapabilities(ENDPT_STATE* state, EPZCAP* cap) {
  if (cap == nullptr) return EPSTATUS_ERROR;
  *cap = vrgEndptCap[0];
  VRG_ENDPT* endpt = EndptOf(state);
  if (endpt == nullptr) {
    resetCodecCap(cap->codecCap);
    return EPSTATUS_ENDPT_UNKNOWN;
  }
  int clidType = 0;
  if (ProvRead(endpt, EPPROV_CIDSigProtocol, &clidType)) {
    cap->clidType = static_cast<EPCLIDTYPE>(clidType);
  }
  VRG_CLASS_DTMF dtmf{};
  if (clidType == EPCLIDTYPE_DTMF && Provision(endpt, EPPROV_CIDDtmfParms, &dtmf) == EPSTATUS_SUCCESS) {
    cap->clidData[0] = static_cast<uint8_t>(GetDigitEvent(dtmf.startCode));
    cap->clidData[1] = static_cast<uint8_t>(GetDigitEvent(dtmf.endCode));
  }

  // Reserve a connection for the endpoint, as a later create will use it.
  CNXSTATE* reserved = nullptr;
  for (CNXSTATE* cnx : endpt->cnx) {
    if (cnx != nullptr && cnx->cnxId == -2) reserved = cnx;
  }
  if (reserved == nullptr) {
    int emptySlot = -1;
    for (int i = VRG_MAX_CNX_PER_ENDPT - 1; i >= 0; --i) {
      if (endpt->cnx[i] == nullptr) emptySlot = i;
    }
    if (emptySlot < 0) {
      // Every slot holds a connection: nothing can be reserved, so nothing can be offered.
      resetCodecCap(cap->codecCap);
      cap->endptType = endpt->endptType;
      return EPSTATUS_SUCCESS;
    }
    reserved = GetNewSecondaryCnxState(endpt->dspNum);
    if (reserved == nullptr) {
      resetCodecCap(cap->codecCap);
      return EPSTATUS_SUCCESS;
    }
    reserved->cnxId = -2;
    endpt->cnx[emptySlot] = reserved;
  }
  if (reserved->bLiteWeight) {
    for (int c = 0; c < CODEC_MAX_TYPES; ++c) {
      if (c != CODEC_PCMU && c != CODEC_PCMA && c != CODEC_NTE && c != CODEC_RED) {
        cap->codecCap[c] = CODEC_UNSUPPORTED;
      }
    }
  } else if (cap->codecCap[CODEC_G729A] == CODEC_SUPPORTED) {
    cap->codecCap[CODEC_G729A] = CODEC_UNSUPPORTED;
    cap->codecCap[CODEC_G729] = CODEC_SUPPORTED;
  }
  cap->endptType = endpt->endptType;
  return EPSTATUS_SUCCESS;
}

EPSTATUS ProcessVrgEndptGetRtpStats(ENDPT_STATE* state, int cnxId, EPZCNXSTATS* stats,
                                    int reset) {
  VRG_ENDPT* endpt = EndptOf(state);
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: Could not find endpoint for line %d",
             "ProcessVrgEndptGetRtpStats", state != nullptr ? state->lineId : -1);
    return EPSTATUS_ENDPT_UNKNOWN;
  }
  const int slot = GetEndptCnxSlot(endpt, cnxId);
  if (slot < 0 || stats == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "EPT: %s: Could not find connection %d for line %d", "ProcessVrgEndptGetRtpStats",
             cnxId, state->lineId);
    return EPSTATUS_CNX_UNKNOWN;
  }
  return static_cast<EPSTATUS>(GetConnectionRtpStats(endpt->cnx[slot], stats, reset));
}

// Fax page totals of a connection. The caller learns the outcome from the status: success with the
// totals, an unknown endpoint or connection, or a failed read (totals zeroed).
EPSTATUS ProcessVrgEndptGetT38Stats(ENDPT_STATE* state, int cnxId, EPZT38CNXSTATS* stats) {
  VRG_ENDPT* endpt = EndptOf(state);
  if (endpt == nullptr) return EPSTATUS_ENDPT_UNKNOWN;
  const int slot = GetEndptCnxSlot(endpt, cnxId);
  if (slot < 0) return EPSTATUS_CNX_UNKNOWN;
  if (stats == nullptr) return EPSTATUS_ERROR;
  return GetConnectionT38Stats(endpt->cnx[slot], stats);
}

EPSTATUS ProcessVrgEndptMuteConnection(ENDPT_STATE* state, int cnxId, int mute) {
  VRG_ENDPT* endpt = EndptOf(state);
  if (endpt == nullptr) return EPSTATUS_ENDPT_UNKNOWN;
  const int slot = GetEndptCnxSlot(endpt, cnxId);
  if (slot < 0) return EPSTATUS_CNX_UNKNOWN;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
           "EPT: Setting mute status on cnxId %d, endpt %d, value %s", cnxId, endpt->endptNum,
           mute == 1 ? "True" : "False");
  if (mute != 0) {
    SetRtpMode(endpt->cnx[slot], EPCNXMODE_RCVO);
    ProgramRtpRegisters(endpt->cnx[slot]);
  }
  return EPSTATUS_SUCCESS;
}

void LinkConferenceConnections(VRG_ENDPT* a, VRG_ENDPT* b, int link) {
  for (CNXSTATE* cnx : a->cnx) {
    if (cnx == nullptr || cnx->mode != EPCNXMODE_CONF) continue;
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: %s lineVhdl 0x%0x gwVhdl 0x%x with intlinked lineVhdl 0x%x",
             link ? "Conferencing" : "Unconferencing", a->lineVhdHdl, cnx->vhdhdl, b->lineVhdHdl);
    if (hdspRmSwitchBoardConnect(cnx->vhdhdl, HAPI_SWB_BOS, b->lineVhdHdl, HAPI_SWB_TOS,
                                 HAPI_SWB_DUPLEX, link) != 0) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
               "EPT: ERROR %s line->Cnx VHD conf-internal switchboard connection from endpt %d "
               "Cnx 0x%x to endpt %d",
               link ? "connecting" : "disconnecting", a->endptNum, cnx->vhdhdl, b->endptNum);
    }
  }
}

EPSTATUS ProcessVrgEndptLinkInternal(ENDPT_STATE* stateA, ENDPT_STATE* stateB, int link) {
  VRG_ENDPT* a = EndptOf(stateA);
  VRG_ENDPT* b = EndptOf(stateB);
  if (a == nullptr || b == nullptr) return EPSTATUS_ENDPT_UNKNOWN;
  if (hdspRmSwitchBoardConnect(a->lineVhdHdl, HAPI_SWB_TOS, b->lineVhdHdl, HAPI_SWB_TOS,
                               HAPI_SWB_DUPLEX, link) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "EPT: ERROR %s line->line VHD switchboard connection from endpt %d to endpt %d",
             link ? "connecting" : "disconnecting", a->endptNum, b->endptNum);
  }
  a->intLinkVhdHdl = link ? b->lineVhdHdl : 0;
  b->intLinkVhdHdl = link ? a->lineVhdHdl : 0;
  LinkConferenceConnections(a, b, link);
  LinkConferenceConnections(b, a, link);
  return EPSTATUS_SUCCESS;
}

}  // namespace

void VrgEptCmdProcess(VRG_EPT_CMD* cmd) {
  switch (cmd->command) {
    case VRG_EPT_CREATE:
      cmd->status = ProcessVrgEndptCreate(IntArg(cmd, 0), IntArg(cmd, 1), Arg<ENDPT_STATE>(cmd, 2));
      break;
    case VRG_EPT_DESTROY:
      cmd->status = ProcessVrgEndptDestroy(Arg<ENDPT_STATE>(cmd, 0));
      break;
    case VRG_EPT_CREATE_CNX:
      cmd->status = ProcessVrgEndptCreateConnection(Arg<ENDPT_STATE>(cmd, 0), IntArg(cmd, 1),
                                                    Arg<EPZCNXPARAM>(cmd, 2));
      break;
    case VRG_EPT_DELETE_CNX:
      cmd->status = ProcessVrgEndptDeleteConnection(Arg<ENDPT_STATE>(cmd, 0), IntArg(cmd, 1));
      break;
    case VRG_EPT_MODIFY_CNX:
      cmd->status = ProcessVrgEndptModifyConnection(Arg<ENDPT_STATE>(cmd, 0), IntArg(cmd, 1),
                                                    Arg<EPZCNXPARAM>(cmd, 2));
      break;
    case VRG_EPT_MUTE_CNX:
      cmd->status = ProcessVrgEndptMuteConnection(Arg<ENDPT_STATE>(cmd, 0), IntArg(cmd, 1),
                                                  IntArg(cmd, 2));
      break;
    case VRG_EPT_LINK_INT:
      cmd->status = ProcessVrgEndptLinkInternal(Arg<ENDPT_STATE>(cmd, 0),
                                                Arg<ENDPT_STATE>(cmd, 1), IntArg(cmd, 2));
      break;
    case VRG_EPT_CAPABILITIES:
      cmd->status = ProcessVrgEndptCapabilities(Arg<ENDPT_STATE>(cmd, 0), Arg<EPZCAP>(cmd, 1));
      break;
    case VRG_EPT_SIGNAL:
      cmd->status = ProcessVrgEndptSignal(Arg<ENDPT_STATE>(cmd, 0), IntArg(cmd, 1),
                                          *Arg<EPSIG>(cmd, 2), cmd->arguments[3], IntArg(cmd, 4),
                                          IntArg(cmd, 5), IntArg(cmd, 6));
      break;
    case VRG_EPT_GET_RTP_STATS:
      cmd->status = ProcessVrgEndptGetRtpStats(Arg<ENDPT_STATE>(cmd, 0), IntArg(cmd, 1),
                                               Arg<EPZCNXSTATS>(cmd, 2), IntArg(cmd, 3));
      break;
    case VRG_EPT_GET_T38_STATS:
      cmd->status = ProcessVrgEndptGetT38Stats(Arg<ENDPT_STATE>(cmd, 0), IntArg(cmd, 1),
                                               Arg<EPZT38CNXSTATS>(cmd, 2));
      break;
    case VRG_EPT_CONSOLE_CMD:
      cmd->status = ProcessVrgEndptConsoleCmd(Arg<ENDPT_STATE>(cmd, 0), *Arg<EPCONSOLECMD>(cmd, 1),
                                              Arg<EPCMD_PARMS>(cmd, 2));
      break;
    default:
      // The NTR command and unknown commands only release the caller.
      break;
  }
  vosSemLiteGive(&cmd->cmd_sem);
}

// Connection commands on the dispatcher: create binds a connection channel to the line and
// programs its switchboard paths, echo canceller, jitter buffer, NET and RTP registers and codec;
// modify changes what differs; delete returns the channel to idle and frees it.
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "casCtl.h"
#include "hdspCmd.h"
#include "hdspEcan.h"
#include "hdspSb.h"
#include "hdspVhd.h"
#include "swb/swb.h"
#include "voiceLog.h"
#include "vrgEndpt.h"
#include "hdspCnx.h"
#include "hdspLine.h"
#include "hdspTone.h"
#include "rtpCnx.h"
#include "vrgEndptIdleWd.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgEndptState.h"

namespace {

constexpr uint16_t HSNET_NET_OPTION_CDIS = 0x1;
constexpr uint16_t HSNET_NET_OPTION_AUTO_ENC_SWITCH = 0x8;
constexpr uint16_t HSNET_NET_OPTION_IGNORE_CNG_ING_EVT = 0x20;
constexpr uint16_t HSNET_NET_OPTION_IGNORE_CNG_EGR_EVT = 0x40;
constexpr uint16_t HSNET_CDIS_OPTIONS_V18_BELL103_CUSTOM = 0x38;
constexpr uint16_t HSNET_PTE_OPTION_EGRESS_DIGITS = 0x21;
constexpr uint16_t HSNET_PTE_OPTION_DETECTOR_EGRESSMASK = 0x1;
constexpr uint16_t HAPI_NET_CONFIG_SETREGS_CMD = 0x3002;
constexpr uint16_t HAPI_CODEC_FREEZE_CMD = 0x0282;
constexpr int CLEARCHANNEL_JB_MS = 100;

VRG_ENDPT* EndptOf(const ENDPT_STATE* state) {
  return state != nullptr ? GetEndptState(state->lineId) : nullptr;
}

bool IsAmrCodec(CODEC_TYPE codec) {
  return codec >= CODEC_GSMAMR_12K && codec <= CODEC_AMRWB_OA_2385;
}

bool IsBuildOutCodec(CODEC_TYPE codec) {
  switch (codec) {
    case CODEC_G7231_53:
    case CODEC_G7231_63:
    case CODEC_G7231A_53:
    case CODEC_G7231A_63:
    case CODEC_ILBC_20:
    case CODEC_ILBC_30:
    case CODEC_G7231_53_VAR:
    case CODEC_G7231_63_VAR:
    case CODEC_G7231_VAR:
      return true;
    default:
      return false;
  }
}

CODEC_TYPE FirstSendCodec(const EPZCNXPARAM* params) {
  return params->cnxParmList.send.numCodecs > 0 ? params->cnxParmList.send.codecs[0].type
                                                : CODEC_NULL;
}

void SetJitterBuffer(CNXSTATE* cnx, int fixed, int vmin, int vmax, int target, int dataTarget,
                     int lineId) {
  if (cnx->vrgVoiceJBFixed == fixed && cnx->vrgVoiceJBMin == vmin && cnx->vrgVoiceJBMax == vmax &&
      cnx->vrgVoiceJBTarget == target && cnx->vrgDataJBTarget == dataTarget) {
    return;
  }
  if (hdspVhdSetJitterBuffer(cnx->vhdhdl, fixed, vmin, vmax, target, dataTarget,
                             cnx->ajcCustomReg) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: ERROR setting jitter buffer registers for line %d", lineId);
    return;
  }
  cnx->vrgVoiceJBFixed = fixed;
  cnx->vrgVoiceJBMin = vmin;
  cnx->vrgVoiceJBMax = vmax;
  cnx->vrgVoiceJBTarget = target;
  cnx->vrgDataJBTarget = dataTarget;
}

void ProvisionJitterBuffer(VRG_ENDPT* endpt, CNXSTATE* cnx, CODEC_TYPE codec) {
  if (codec == CODEC_CLEARCHANNEL) {
    SetJitterBuffer(cnx, 1, CLEARCHANNEL_JB_MS, CLEARCHANNEL_JB_MS, CLEARCHANNEL_JB_MS,
                    CLEARCHANNEL_JB_MS, endpt->lineId);
    return;
  }
  int fixed = 0, vmin = 0, vmax = 0, target = 0, dataTarget = 0;
  if (Provision(endpt, EPPROV_VoiceJitterBuffFixed, &fixed) != EPSTATUS_SUCCESS ||
      Provision(endpt, EPPROV_VoiceJitterBuffMin, &vmin) != EPSTATUS_SUCCESS ||
      Provision(endpt, EPPROV_VoiceJitterBuffMax, &vmax) != EPSTATUS_SUCCESS ||
      Provision(endpt, EPPROV_VoiceJitterBuffTarget, &target) != EPSTATUS_SUCCESS ||
      Provision(endpt, EPPROV_DataJitterBuffTarget, &dataTarget) != EPSTATUS_SUCCESS) {
    return;
  }
  SetJitterBuffer(cnx, fixed, vmin, vmax, target, dataTarget, endpt->lineId);
}

void SetAmr(VRG_ENDPT* endpt, CNXSTATE* cnx, const EPZCNXPARAM* params, CODEC_TYPE codec) {
  if (!IsAmrCodec(codec)) return;
  const EPAMRCFG& amr = params->amrConfig;
  if (hdspVhdSetAmrSettings(cnx->vhdhdl, amr.modeSet,
                            static_cast<uint16_t>(amr.modeChangeNeighbor),
                            static_cast<uint16_t>(amr.modeChangePeriod), amr.ptime,
                            amr.red) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: ERROR setting AMR registers for line %d",
             endpt->lineId);
  }
}

// NET options of a new connection: fax detection, call discrimination, automatic encoder
// switching and egress digit detection. Only a change is sent to the channel.
void ProgramNetOptions(VRG_ENDPT* endpt, CNXSTATE* cnx, const EPZCNXPARAM* params,
                       CODEC_TYPE codec) {
  HSZNETREGS regs = cnx->netRegs;
  int faxDetection = 0;
  if (codec != CODEC_CLEARCHANNEL &&
      Provision(endpt, EPPROV_FaxDetection, &faxDetection) == EPSTATUS_SUCCESS) {
    if (faxDetection == 1) {
      regs.hsxNetOptions &= static_cast<uint16_t>(~HSNET_NET_OPTION_IGNORE_CNG_ING_EVT);
      cnx->bCngDetEnabled = 1;
    } else {
      regs.hsxNetOptions |= HSNET_NET_OPTION_IGNORE_CNG_ING_EVT;
      cnx->bCngDetEnabled = 0;
    }
  }
  cnx->bBell103Enabled = 0;
  regs.hsxNetOptions &= static_cast<uint16_t>(~HSNET_NET_OPTION_IGNORE_CNG_EGR_EVT);
  regs.hsxNetOptions |= HSNET_NET_OPTION_CDIS;
  if (params->V18Support == 1) {
    regs.hsxCallDOptions |= HSNET_CDIS_OPTIONS_V18_BELL103_CUSTOM;
    cnx->bBell103Enabled = 1;
  } else {
    regs.hsxCallDOptions &= static_cast<uint16_t>(~HSNET_CDIS_OPTIONS_V18_BELL103_CUSTOM);
  }
  if (params->autoEncoder == EPAUTOENC_ON) {
    regs.hsxNetOptions |= HSNET_NET_OPTION_AUTO_ENC_SWITCH | HSNET_NET_OPTION_CDIS;
  } else {
    regs.hsxNetOptions &= static_cast<uint16_t>(
        ~(HSNET_NET_OPTION_AUTO_ENC_SWITCH | HSNET_NET_OPTION_IGNORE_CNG_EGR_EVT));
    regs.hsxNetOptions |= HSNET_NET_OPTION_CDIS;
  }
  int egressDtmf = 0;
  Provision(endpt, EPPROV_EgressDtmfDetection, &egressDtmf);
  if (egressDtmf != 0) {
    regs.hsxPtePacketVoiceOptions |= HSNET_PTE_OPTION_EGRESS_DIGITS;
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: turn on egress DTMF detection %d",
             egressDtmf);
  } else {
    regs.hsxPtePacketVoiceOptions &= static_cast<uint16_t>(~HSNET_PTE_OPTION_DETECTOR_EGRESSMASK);
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: hsxPtePacketVoiceOption = 0x%x\n",
           regs.hsxPtePacketVoiceOptions);
  if (codec == CODEC_CLEARCHANNEL) SetDigitalMode(endpt, cnx, 1);
  if (regs.hsxCallDOptions == cnx->netRegs.hsxCallDOptions &&
      regs.hsxNetOptions == cnx->netRegs.hsxNetOptions &&
      regs.hsxPtePacketVoiceOptions == cnx->netRegs.hsxPtePacketVoiceOptions) {
    return;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: HAPINET_CONFIG_SETREGS");
  if (hdspSendCmdDataAsync(cnx->vhdhdl, HAPI_NET_CONFIG_SETREGS_CMD, HAPI_REQID_EXT_CMD,
                           sizeof regs, &regs) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting net registers for line %d",
             endpt->lineId);
    return;
  }
  cnx->netRegs = regs;
}

void PrepareRtp(CNXSTATE* cnx, const EPZCNXPARAM* params) {
  GetRtpRegisters(cnx);
  InitRtpServiceRegisters(cnx);
  SetRtpServiceRegisters(cnx, params->rtcpXRMode, &params->vbdparam, &params->lbParam);
  RtpInit(&cnx->rtpstate);
}

void SetVolumesAndRtcp(CNXSTATE* cnx, const EPZCNXPARAM* params) {
  SetRtcpInterval(cnx, params->rtcpIntMs != 0 ? params->rtcpIntMs : 5000);
  SetRtcpRandomInterval(cnx, params->rtcpRandomInt);
  cnx->rxVolume = params->rxVolume;
  cnx->txVolume = params->txVolume;
  hdspVhdSetPVEEgressVolume(cnx->vhdhdl, params->rxVolume);
  hdspVhdSetPVEIngressVolume(cnx->vhdhdl, params->txVolume);
}

// Finds the connection record for a new connection of the endpoint: a reserved one in its slots,
// else a free one placed in the first empty slot.
CNXSTATE* ChooseConnection(VRG_ENDPT* endpt, int dspNum, EPSTATUS* status) {
  for (CNXSTATE* cnx : endpt->cnx) {
    if (cnx != nullptr && cnx->cnxId == -2) return cnx;
  }
  int emptySlot = -1;
  for (int i = VRG_MAX_CNX_PER_ENDPT - 1; i >= 0; --i) {
    if (endpt->cnx[i] == nullptr) emptySlot = i;
  }
  if (emptySlot < 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "EPT: %s: already at max connections for the endpoint",
             "ProcessVrgEndptCreateConnection");
    *status = EPSTATUS_RESOURCES;
    return nullptr;
  }
  CNXSTATE* cnx = GetNewSecondaryCnxState(dspNum);
  if (cnx == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: No free secondary connection",
             "ProcessVrgEndptCreateConnection");
    *status = EPSTATUS_RESOURCES;
    return nullptr;
  }
  endpt->cnx[emptySlot] = cnx;
  return cnx;
}

// A PSTN endpoint needs a full channel in its first slot.
void EnsureFullChannelForPstn(VRG_ENDPT* endpt, int dspNum) {
  if (endpt->endptType != EPTYPE_PSTN || endpt->cnx[0] == nullptr || !endpt->cnx[0]->bLiteWeight) {
    return;
  }
  for (int k = 0; k < VRG_MAX_FULL_CNX_VHD; ++k) {
    CNXSTATE* cnx = &vrgCnxState[k];
    if (cnx->dspNum == dspNum && cnx->cnxId == -1 && !cnx->bLiteWeight) {
      endpt->cnx[0]->cnxId = -1;
      endpt->cnx[0] = cnx;
      return;
    }
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
           "EPT: No full VHD found for connection to pstn endpoint. Using lite VHD");
}

void BackToReserved(CNXSTATE* cnx) {
  cnx->cnxId = -2;
  vrgCnxSetLine(cnx, -1);
}

}  // namespace

EPSTATUS ProcessVrgEndptCreateConnection(ENDPT_STATE* state, int cnxId, EPZCNXPARAM* params) {
  const char* self = "ProcessVrgEndptCreateConnection";
  const int line = state != nullptr ? state->lineId : -1;
  const int dspNum = line / 8;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: CREATE CNX: dsp %d, endpt %d, cnx %d",
           dspNum, line, cnxId);
  if (params == nullptr) return EPSTATUS_ERROR;
  printConnectionParams(params);
  VRG_ENDPT* endpt = EndptOf(state);
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: Unable to get endpoint state", self);
    return EPSTATUS_ENDPT_UNKNOWN;
  }
  if (!IsCnxModeSupported(params->mode, dspNum)) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: Connection mode %d unsupported",
             self, params->mode);
    return EPSTATUS_UNSUPPORTED_MODE;
  }
  const CODEC_TYPE codec = FirstSendCodec(params);
  EnsureFullChannelForPstn(endpt, dspNum);
  EPSTATUS status = EPSTATUS_SUCCESS;
  CNXSTATE* cnx = ChooseConnection(endpt, dspNum, &status);
  if (cnx == nullptr) return status;

  cnx->cnxId = cnxId;
  vrgCnxSetLine(cnx, line);
  std::atomic_ref<int>(cnx->firstValidRTPPkt).store(1);
  cnx->bSBDisconnect = 0;
  cnx->bCngDetEnabled = codec != CODEC_CLEARCHANNEL;
  cnx->bNotifyFaxCall = 0;
  cnx->localSsrc = params->localSsrc;

  if (endpt->endptType == EPTYPE_PSTN) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: CREATE CNX: Calling ConnectPstnGwSB");
    ConnectPstnGwSB(cnx->vhdhdl, endpt->lineVhdHdl);
  } else {
    UpdateSBMasks(cnx, params->mode);
    // The flag follows the hook events processed so far. An on-hook that line signalling has
    // already taken, its event still queued behind this command, is not undone: the line would
    // stay active on hook and its next off-hook would never be reported.
    if (endpt->offHook.load() && !casCtlLineIdle(endpt->casCtlHandle)) {
      casCtlSetStateGenEvent(endpt->casCtlHandle, CAS_CTL_FXO_ACTIVE, 0);
    } else if (endpt->bGR303Support) {
      casCtlSetStateGenEvent(endpt->casCtlHandle, CAS_CTL_FXO_ALERTING_OHT, 0);
    }
  }
  istwEvent(cnx->vhdhdl, ISTW_FORCED_ACTIVE, 1);
  EcanProcessStm(endpt, params->echocancel && codec != CODEC_CLEARCHANNEL ? ECANEVT_CRCX_ON
                                                                          : ECANEVT_CRCX_OFF);
  ProvisionJitterBuffer(endpt, cnx, codec);
  SetAmr(endpt, cnx, params, codec);
  ProgramNetOptions(endpt, cnx, params, codec);

  cnx->digitRelayType =
      codec == CODEC_CLEARCHANNEL ? EPDTMFRFC2833_DISABLED : params->digitRelayType;
  PrepareRtp(cnx, params);

  const int optionsStatus = SetConnectionOptions(cnx, params, 1);
  if (optionsStatus != 0) {
    BackToReserved(cnx);
    return static_cast<EPSTATUS>(optionsStatus);
  }
  if (params->mode > EPCNXMODE_TRANSCODE) {
    BackToReserved(cnx);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: Connection mode %d unsupported",
             self, params->mode);
    return EPSTATUS_UNSUPPORTED_MODE;
  }
  if (params->mode == EPCNXMODE_INACT) {
    SaveConnectionOptions(cnx, params);
    SetVoiceMode(cnx, VM_ACTIVE);
    return EPSTATUS_SUCCESS;
  }
  ProgramIdleRtpPayloadTypes(cnx, &params->cnxParmList, params->mode);
  SetVoiceMode(cnx, VM_ACTIVE);
  if (endpt->testMode == TESTMODE_TR57 && params->mode == EPCNXMODE_SNDRX) {
    cnx->vbData.bEnabled = 1;
    SetVoiceMode(cnx, VM_ACTIVE);
  }
  SetVolumesAndRtcp(cnx, params);
  SetRtpPayloadTypes(cnx, &params->cnxParmList);
  SetRtpMode(cnx, params->mode);
  ProgramRtpRegisters(cnx);
  SaveConnectionOptions(cnx, params);
  if (codec == CODEC_CLEARCHANNEL) {
    hdspSendCmd(cnx->vhdhdl, HAPI_CODEC_FREEZE_CMD, HAPI_REQID_STD_CMD, 1, 0);
  }
  if (endpt->bGR303Support) GenerateNteEvent(cnx, endpt->earlyOffHook.load() ? 159 : 149);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: COMPLETED CREATE CNX: dsp %d, endpt %d, cnx %d ", dspNum, line, cnxId);
  return EPSTATUS_SUCCESS;
}

EPSTATUS ProcessVrgEndptModifyConnection(ENDPT_STATE* state, int cnxId, EPZCNXPARAM* params) {
  const int line = state != nullptr ? state->lineId : -1;
  const int dspNum = line / 8;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: MODIFY CNX: dsp %d, endpt %d, cnx %d",
           dspNum, line, cnxId);
  if (params == nullptr) return EPSTATUS_ERROR;
  printConnectionParams(params);
  VRG_ENDPT* endpt = EndptOf(state);
  if (endpt == nullptr) return EPSTATUS_ENDPT_UNKNOWN;
  if (!IsCnxModeSupported(params->mode, dspNum)) return EPSTATUS_UNSUPPORTED_MODE;
  const int slot = GetEndptCnxSlot(endpt, cnxId);
  if (slot < 0) return EPSTATUS_CNX_UNKNOWN;
  CNXSTATE* cnx = endpt->cnx[slot];

  if (cnx->vhdMode == NETMODE_FAXRELAY && params->preserveFaxMode) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: ENDPT %d: Preserving fax mode on connection %d", line, cnxId);
    return EPSTATUS_SUCCESS;
  }
  if (endpt->intLinkVhdHdl != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: Conferencing lineVhdl 0x%0x gwVhdl 0x%x with intlinked lineVhdl 0x%x",
             endpt->lineVhdHdl, cnx->vhdhdl, endpt->intLinkVhdHdl);
    hdspRmSwitchBoardConnect(cnx->vhdhdl, HAPI_SWB_BOS, endpt->intLinkVhdHdl, HAPI_SWB_TOS,
                             params->mode == EPCNXMODE_CONF ? HAPI_SWB_DUPLEX : HAPI_SWB_SIMPLEX,
                             1);
  }
  const CODEC_TYPE oldCodec = cnx->codecType;
  const CODEC_TYPE codec = FirstSendCodec(params);
  UpdateSBMasks(cnx, params->mode);
  EcanProcessStm(endpt, !params->echocancel || codec == CODEC_CLEARCHANNEL ? ECANEVT_MDCX_OFF
                                                                           : ECANEVT_MDCX_ON);
  if (IsBuildOutCodec(oldCodec) && !IsBuildOutCodec(codec)) {
    ResetBuildOut(line, endpt->lineVhdHdl);
  }
  GetRtpRegisters(cnx);
  if (params->mode > EPCNXMODE_TRANSCODE) return EPSTATUS_UNSUPPORTED_MODE;
  if (params->mode == EPCNXMODE_INACT) {
    if (cnx->voiceMode == VM_ACTIVE && cnx->vhdMode != NETMODE_FAXRELAY) {
      if (cnx->mode != EPCNXMODE_INACT && cnx->activeSignal) {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
                 "EPT: ENDPT %d: cnx %d - preserve RTP mode to %d", line, cnxId, cnx->mode);
        params->mode = cnx->mode;
      } else {
        SetRtpMode(cnx, EPCNXMODE_INACT);
        ProgramRtpRegisters(cnx);
      }
    }
    SaveConnectionOptions(cnx, params);
    return EPSTATUS_SUCCESS;
  }
  if (codec != CODEC_T38 && codec != CODEC_T38_MUTE) {
    SetAmr(endpt, cnx, params, codec);
    if (params->dataMode == EPDATAMODE_VBD && cnx->dataMode != EPDATAMODE_VBD &&
        cnx->vhdMode == NETMODE_FAXRELAY) {
      cnx->vbData.bEnabled = 1;
    }
    SetVoiceMode(cnx, VM_ACTIVE);
  }
  if (ConnectionOptionsChanged(cnx, params)) {
    if ((oldCodec == CODEC_T38 || oldCodec == CODEC_T38_MUTE) && codec != CODEC_T38 &&
        codec != CODEC_T38_MUTE) {
      vrgEndptNotify(endpt->endptArchive, cnxId, EPEVT_T38_STOP, nullptr, 0, -1);
    }
    const int optionsStatus = SetConnectionOptions(cnx, params, 0);
    if (optionsStatus != 0) return static_cast<EPSTATUS>(optionsStatus);
  }
  if (endpt->testMode == TESTMODE_TR57 && params->mode == EPCNXMODE_SNDRX) {
    cnx->vbData.bEnabled = 1;
    SetVoiceMode(cnx, VM_ACTIVE);
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
           "EPT: ENDPT %d: cnx %d - set RTP registers and payload types", line, cnxId);
  InitRtpServiceRegisters(cnx);
  SetRtpServiceRegisters(cnx, params->rtcpXRMode, &params->vbdparam, &params->lbParam);
  SetRtpPayloadTypes(cnx, &params->cnxParmList);
  if (params->mode != EPCNXMODE_LOOP && params->mode != cnx->mode && cnx->activeSignal) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: ENDPT %d: cnx %d - preserve RTP mode to %d", line, cnxId, cnx->mode);
    // The service registers were just prepared with both directions off: the mode in force goes
    // back in, or the connection would fall silent both ways while its signal plays.
    SetRtpMode(cnx, cnx->mode);
  } else {
    SetRtpMode(cnx, params->mode);
  }
  SetVolumesAndRtcp(cnx, params);
  if (codec != CODEC_CLEARCHANNEL && params->digitRelayType != cnx->digitRelayType) {
    cnx->digitRelayType = params->digitRelayType;
    if (params->digitRelayType == EPDTMFRFC2833_SUBTRACT) {
      cnx->rtpRegs2.configFlags2 |= 0x20;
    } else {
      cnx->rtpRegs2.configFlags2 &= static_cast<uint16_t>(~0x20);
    }
  }
  ProgramRtpRegisters(cnx);
  if (oldCodec == CODEC_CLEARCHANNEL && codec != CODEC_CLEARCHANNEL) {
    SetDigitalMode(endpt, cnx, 0);
  } else if (oldCodec != CODEC_CLEARCHANNEL && codec == CODEC_CLEARCHANNEL) {
    SetJitterBuffer(cnx, 1, CLEARCHANNEL_JB_MS, CLEARCHANNEL_JB_MS, CLEARCHANNEL_JB_MS,
                    CLEARCHANNEL_JB_MS, line);
    SetDigitalMode(endpt, cnx, 1);
  }
  SaveConnectionOptions(cnx, params);
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: COMPLETED MODIFY CNX: dsp %d, endpt %d, cnx %d",
           dspNum, line, cnxId);
  return EPSTATUS_SUCCESS;
}

EPSTATUS ProcessVrgEndptDeleteConnection(ENDPT_STATE* state, int cnxId) {
  VRG_ENDPT* endpt = EndptOf(state);
  if (endpt == nullptr) return EPSTATUS_ENDPT_UNKNOWN;
  if (cnxId == -1) {
    for (CNXSTATE*& cnx : endpt->cnx) {
      if (cnx == nullptr || cnx->cnxId != -2) continue;
      cnx->cnxId = -1;
      vrgCnxSetLine(cnx, -1);
      cnx = nullptr;
    }
    return EPSTATUS_SUCCESS;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: DELETE CNX: endpt %d, cnx %d",
           endpt->endptNum, cnxId);
  const int slot = GetEndptCnxSlot(endpt, cnxId);
  if (slot < 0) return EPSTATUS_CNX_UNKNOWN;
  CNXSTATE* cnx = endpt->cnx[slot];

  RtpInit(&cnx->rtpstate);
  if (EnableRelay(cnx, 0, 0, cnx->dataMode, cnx->digitRelayType) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "EPT: ENDPT %d: Error returned by enableRelay(), enable: 0", endpt->endptNum);
  }
  istwEvent(cnx->vhdhdl, ISTW_FORCED_ACTIVE, 0);
  SetVoiceMode(cnx, VM_IDLE);
  if (cnx->codecType == CODEC_CLEARCHANNEL) SetDigitalMode(endpt, cnx, 0);
  usleep(20 * 1000);
  if (endpt->endptType == EPTYPE_PSTN) {
    DisConnectPstnGwSB(cnx->vhdhdl, endpt->lineVhdHdl);
  } else {
    UpdateSBMasks(cnx, EPCNXMODE_INACT);
  }
  if (endpt->intLinkVhdHdl != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: Unconferencing lineVhdl 0x%0x gwVhdl 0x%x with intlinked lineVhdl 0x%x",
             endpt->lineVhdHdl, cnx->vhdhdl, endpt->intLinkVhdHdl);
    hdspRmSwitchBoardConnect(cnx->vhdhdl, HAPI_SWB_BOS, endpt->intLinkVhdHdl, HAPI_SWB_TOS,
                             HAPI_SWB_DUPLEX, 0);
  }
  ResetBuildOut(endpt->lineId, endpt->lineVhdHdl);
  endpt->cnx[slot] = nullptr;
  vrgCnxSetLine(cnx, -1);
  EcanProcessStm(endpt, ECANEVT_DLCX);
  cnx->cnxId = -1;
  ClearConnectionOptions(cnx);
  hdspToneOff(cnx->vhdhdl, INGRESS_AND_EGRESS_TONE);
  cnx->activeSignal = 0;
  if (endpt->bGR303Support) {
    std::atomic<int32_t>& bits = CasCtlBits(endpt);
    if (bits.load() == EP_CAS_CTL_LCFO) {
      casCtlSupervisoryDisconnectOff(endpt->casCtlHandle, 1, endpt->offHook.load());
    } else if (bits.load() == EP_CAS_CTL_RINGING) {
      casCtlRingOff(endpt->casCtlHandle, 1);
    }
    bits.store(EP_CAS_CTL_LCF);
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: COMPLETED DELETE CNX: endpt %d, cnx %d",
           endpt->endptNum, cnxId);
  return EPSTATUS_SUCCESS;
}

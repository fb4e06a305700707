// Actions of the caller-ID and message-waiting machines: each drives line signalling, the tone
// generator, caller-ID transmission or the idle watchdog for one step of a sequence. A failure
// of a request is logged and the sequence goes on as its table says.
#include <cstring>

#include "classStm.h"
#include "hdspTone.h"
#include "voiceLog.h"
#include "vrgEndptIdleWd.h"

namespace {

CLASSSTM_PARM& P(void* parm) { return *static_cast<CLASSSTM_PARM*>(parm); }

void setStateFor(const CLASSSTM_PARM& p, uint32_t state, int durationMs) {
  casCtlSetStateGenEvent(p.casCtlHandle, state, durationMs > 0 ? static_cast<uint32_t>(durationMs) : 0);
}

bool onhookClidAsDtmf(const CLASSSTM_PARM& p) {
  return p.classType == CLASS_MSG_ONHOOK_CLID && p.clidProtocol == CLASS_SIG_TYPE_DTMF_CLID;
}

// The ring-after-FSK delay: shorter by the last digit and a margin when the caller ID went as DTMF.
int ringAfterFskDelay(const CLASSSTM_PARM& p) {
  int delay = p.ringAfterFsk;
  if (onhookClidAsDtmf(p) && p.dtmfParms != nullptr) delay -= 30 + p.dtmfParms->pulseTime;
  return delay;
}

int playEgressTone(const CLASSSTM_PARM& p, int tone, int delay, int toneType, const HDSP_TONE_PROV_PATTERN* pattern) {
  return hdspToneOn(p.vhdHdl, p.lineId, tone, delay, toneType, pattern, EGRESS_TONE, 0, p.country);
}

// The SAS custom profile cut to its first tone, played once, without a steady tone.
HDSP_TONE_PROV_PATTERN firstSasTone(const CLASSSTM_PARM& p) {
  HDSP_TONE_PROV_PATTERN copy = p.callWtgInfo->sasCustomProfile;
  copy.tones = copy.tones > 0 ? 1 : 0;
  copy.repetitions = 0;
  copy.tone[0].repetitions = 0;
  copy.noSteadyTone = 1;
  return copy;
}

SME_EVENT vmwiFormat(void* parm, CLASS_VMWI_TYPE type) {
  CLASSSTM_PARM& p = P(parm);
  if (p.vmwiProtocol == CLASS_SIG_TYPE_DTMF_VMWI) return SME_NO_EVENT;
  hdspClassStopTransmit(p.vhdHdl);
  if (hdspClassVmwi(p.vhdHdl, p.lineId, type, p.vmwiMsgFormat, p.fskParms, p.country) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: actionVmwi: failed to send data, vhdHdl %d", p.vhdHdl);
  }
  return SME_NO_EVENT;
}

}  // namespace

SME_EVENT actionBlockPulseCasEvents(void* parm) {
  *P(parm).evBlock = CLASSSTM_CASEVT_BLOCK_PULSE;
  return SME_NO_EVENT;
}

SME_EVENT actionUnblockPulseCasEvents(void* parm) {
  *P(parm).evBlock = CLASSSTM_CASEVT_BLOCK_NONE;
  return SME_NO_EVENT;
}

SME_EVENT actionStopRing(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  casCtlIgnoreHookState(p.casCtlHandle, CAS_IGNOREHOOKSTATE_OFF);
  casCtlRingOff(p.casCtlHandle, 0);
  return SME_NO_EVENT;
}

SME_EVENT actionStartRing(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  casCtlIgnoreHookState(p.casCtlHandle, CAS_IGNOREHOOKSTATE_OFF);
  CAS_CTL_RING_PROFILE ring = *p.ringInfo;
  if (p.classType == CLASS_MSG_ONHOOK_CLID) ring.clidTxDelay = ring.clidTxDelay > 20 ? ring.clidTxDelay - 20 : 0;
  casCtlRingProfileOn(p.casCtlHandle, &ring, 1);
  return SME_NO_EVENT;
}

SME_EVENT actionReversePolarityAndCarRing(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  *p.evBlock = CLASSSTM_CASEVT_BLOCK_ALL;
  CAS_CTL_RING_PROFILE car{};
  car.ringType = CAS_CTRL_STATIC_RING;
  car.pattern = CAS_CTL_RING_JAPAN_CAR;
  casCtlRingProfileOn(p.casCtlHandle, &car, 1);
  return SME_NO_EVENT;
}

SME_EVENT actionClidTxCleanup(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  *p.evBlock = CLASSSTM_CASEVT_BLOCK_NONE;
  if (hdspClassStopTransmit(p.vhdHdl) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: HDSP: Class Stop Failed in startup on vhdHdl %x", p.vhdHdl);
  }
  casCtlIgnoreHookState(p.casCtlHandle, CAS_IGNOREHOOKSTATE_OFF);
  return SME_NO_EVENT;
}

SME_EVENT actionClidTxFormatData(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  if (hdspClassStopTransmit(p.vhdHdl) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: CLASSSTM: hdspClassStopTransmit failed - vhdHdl=0x(%x)!!!",
             p.vhdHdl);
  }
  if (onhookClidAsDtmf(p)) return SME_NO_EVENT;
  const int txDelay = p.classType == CLASS_MSG_OFFHOOK_CLID ? 100 : 0;
  if (hdspClassMessage(p.clidInfo, p.vhdHdl, p.lineId, p.country, p.classType, p.fskParms, txDelay) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: actionClidTxFormatData: failed to send data, vhdHdl %d",
             p.vhdHdl);
  }
  return SME_NO_EVENT;
}

SME_EVENT actionClidTxStart(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  if (p.classType == CLASS_MSG_ONHOOK_CLID && p.clidProtocol == CLASS_SIG_TYPE_DTMF_CLID) {
    hdspClassDtmfTransmit(p.vhdHdl, p.clidInfo, p.dtmfParms);
  } else if (p.classType == CLASS_MSG_VMWI && p.vmwiProtocol == CLASS_SIG_TYPE_DTMF_VMWI) {
    hdspClassDtmfTransmitVmwi(p.vhdHdl, p.vmwiType, p.dtmfParms);
  } else {
    hdspClassTransmit(p.vhdHdl);
  }
  return SME_NO_EVENT;
}

SME_EVENT actionSendDualToneSignal(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  if (playEgressTone(p, CT_DTAS_ONHOOK, 0, 0, nullptr) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR: actionSendDualToneSignal - failed to play DTAS signal ");
  }
  return SME_NO_EVENT;
}

SME_EVENT actionStartCas(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  const HDSP_TONE_PROV_PATTERN& sas = p.callWtgInfo->sasCustomProfile;
  int delay = p.callWtgInfo->delay;
  if (sas.tones > 1 && sas.tone[0].silenceDuration > 300) delay = static_cast<int>(sas.tone[0].silenceDuration) - 300;
  if (playEgressTone(p, CT_DTAS_OFFHOOK, delay, 0, nullptr) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR: actionStartSasCas - failed to turn on tone");
  }
  return SME_NO_EVENT;
}

SME_EVENT actionOnhookTransmission(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING_OHT, 0);
  return SME_NO_EVENT;
}

SME_EVENT actionFskAfterDtasDelay(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING_OHT, P(parm).fskAfterDtas - 1);
  return SME_NO_EVENT;
}

SME_EVENT actionRingAfterFskDelay(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING_OHT, ringAfterFskDelay(P(parm)) - 10);
  return SME_NO_EVENT;
}

SME_EVENT actionSendRingPulseSignal(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING, P(parm).country == VRG_COUNTRY_INDIA ? 400 : 250);
  return SME_NO_EVENT;
}

SME_EVENT actionFskAfterRpasDelay(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING_OHT, P(parm).fskAfterRp - 1);
  return SME_NO_EVENT;
}

SME_EVENT actionDtasAfterLrDelay(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  casCtlIgnoreHookState(p.casCtlHandle, CAS_IGNOREHOOKSTATE_ON);
  setStateFor(p, CAS_CTL_FXO_ALERTING_OHTR, p.dtasAfterLr - 20);
  return SME_NO_EVENT;
}

SME_EVENT actionFskAfterLrDtasDelay(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING_OHTR, P(parm).fskAfterDtas - 1);
  return SME_NO_EVENT;
}

SME_EVENT actionPolNormalAfterFskDelay(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING_OHTR, (ringAfterFskDelay(P(parm)) - 10) / 2);
  return SME_NO_EVENT;
}

SME_EVENT actionPolNormal(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING_OHT, (ringAfterFskDelay(P(parm)) - 10) / 2);
  return SME_NO_EVENT;
}

SME_EVENT actionDtmfAfterLrDelay(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  casCtlIgnoreHookState(p.casCtlHandle, CAS_IGNOREHOOKSTATE_ON);
  setStateFor(p, CAS_CTL_FXO_ALERTING_OHTR, p.dtmfAfterLr - 20);
  return SME_NO_EVENT;
}

SME_EVENT actionNormalPolarityIdle(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_IDLE, 0);
  return SME_NO_EVENT;
}

SME_EVENT actionPostVmwiFskDelay(void* parm) {
  setStateFor(P(parm), CAS_CTL_FXO_ALERTING_OHT, 250);
  return SME_NO_EVENT;
}

SME_EVENT actionNormalPolarity(void* parm) {
  casCtlChangePolarity(P(parm).casCtlHandle, CAS_CTL_POLARITY_FORWARD, CAS_CTL_EVENT_NONE, 0);
  return SME_NO_EVENT;
}

SME_EVENT actionOffHookNormalPolarity(void* parm) {
  casCtlChangePolarity(P(parm).casCtlHandle, CAS_CTL_POLARITY_FORWARD, CAS_CTL_EVENT_OFFHOOK, 0);
  return SME_NO_EVENT;
}

SME_EVENT actionStopSasCas(void* parm) {
  if (hdspToneOff(P(parm).vhdHdl, EGRESS_TONE) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR: actionStopSasCas - failed to turn off tone");
  }
  return SME_NO_EVENT;
}

SME_EVENT actionStartFirstSasWithoutCas(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  HDSP_TONE_PROV_PATTERN first = firstSasTone(p);
  int delay = static_cast<int>(first.tone[0].silenceDuration);
  if (delay == 0) delay = p.callWtgInfo->delay;
  first.tone[0].silenceDuration = 0;
  playEgressTone(p, p.callWtgInfo->profile, delay, CLASS_SAS_TONE_TYPE, &first);
  return SME_NO_EVENT;
}

SME_EVENT actionStartFirstSas(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  HDSP_TONE_PROV_PATTERN first = firstSasTone(p);
  first.tone[0].silenceDuration = 0;
  playEgressTone(p, p.callWtgInfo->profile, 10, CLASS_SAS_TONE_TYPE, &first);
  return SME_NO_EVENT;
}

SME_EVENT actionStartSasWithDelay(void* parm) {
  CLASSSTM_PARM& p = P(parm);
  const HDSP_TONE_PROV_PATTERN& sas = p.callWtgInfo->sasCustomProfile;
  HDSP_TONE_PROV_PATTERN rest = sas;
  const uint32_t tones = sas.tones > 5 ? 5 : sas.tones;
  rest.tones = tones > 0 ? tones - 1 : 0;
  for (uint32_t i = 0; i < rest.tones; ++i) {
    rest.tone[i] = sas.tone[i + 1];
    if (rest.tone[i].silenceDuration == 0) rest.tone[i].silenceDuration = static_cast<uint32_t>(p.callWtgInfo->delay);
  }
  playEgressTone(p, p.callWtgInfo->profile, 0, 0, &rest);
  return SME_NO_EVENT;
}

SME_EVENT actionEnableFastSlicModes(void* parm) {
  casCtlEnableFastSlicStateMode(P(parm).casCtlHandle, 1);
  return SME_NO_EVENT;
}

SME_EVENT actionDisableFastSlicModes(void* parm) {
  casCtlEnableFastSlicStateMode(P(parm).casCtlHandle, 0);
  return SME_NO_EVENT;
}

SME_EVENT actionVmwiOnFormatData(void* parm) { return vmwiFormat(parm, CLASS_VMWI_ACTIVATE); }

SME_EVENT actionVmwiOffFormatData(void* parm) { return vmwiFormat(parm, CLASS_VMWI_DEACTIVATE); }

SME_EVENT actionVmwiSupervisoryDisconnect(void* parm) {
  casCtlSupervisoryDisconnect(P(parm).casCtlHandle, 300, CAS_OSI_VMWI);
  return SME_NO_EVENT;
}

SME_EVENT actionPreventIdle(void* parm) {
  istwEvent(P(parm).vhdHdl, ISTW_SIGNALLING, 1);
  return SME_NO_EVENT;
}

SME_EVENT actionAllowIdle(void* parm) {
  istwEvent(P(parm).vhdHdl, ISTW_SIGNALLING, 0);
  return SME_NO_EVENT;
}

// Endpoint and connection records and their lookups.
#include "vrgEndptState.h"

#include <new>

#include "hal/boardHal.h"
#include "voiceLog.h"
#include "vrgProv.h"

VRG_ENDPT vrgEndpt[VRG_MAX_ENDPT];
CNXSTATE vrgCnxState[VRG_MAX_CNX];
EPZCAP vrgEndptCap[VRG_MAX_NUM_DSP];
int vrgNumEndpts = VRG_MAX_ENDPT;

void vrgCnxStateClear(CNXSTATE* cnx) {
  const int dsp = cnx->dspNum;
  const uint16_t vhd = cnx->vhdhdl;
  const int lite = cnx->bLiteWeight;
  *cnx = CNXSTATE{};
  cnx->dspNum = dsp;
  cnx->vhdhdl = vhd;
  cnx->bLiteWeight = lite;
  cnx->cnxId = -1;
  vrgCnxSetLine(cnx, -1);
  cnx->mode = EPCNXMODE_MAX;
  cnx->codecType = CODEC_NULL;
  cnx->comfortNoise = 2;
  cnx->digitRelayType = EPDTMFRFC2833_ENABLED;
  cnx->t38param.ecMode = EPT38EC_UDPREDUNDANCY;
  cnx->vbData.param.vbdMode = EPVBDMODE_LEGACY;
  cnx->VadMode = cnx->CngMode = cnx->PlcMode = cnx->PrevVadMode = -1;
  cnx->vrgVoiceJBFixed = cnx->vrgVoiceJBMin = cnx->vrgVoiceJBMax = -1;
  cnx->vrgVoiceJBTarget = cnx->vrgDataJBTarget = cnx->vrgDataJBMax = -1;
  cnx->rtpRegs = rtpRegsDefault();
  cnx->rtpRegs2 = rtpRegs2Default();
  cnx->netRegs = hsnetRegsDefault();
  cnx->rtpstate.sendNtePayloadType = cnx->rtpstate.recvNtePayloadType = 255;
  cnx->rtpstate.sendRedPayloadType = cnx->rtpstate.recvRedPayloadType = 255;
  cnx->rtpstate.rtpCnxId = -1;
}

void vrgEndptStateReset(void) {
  for (VRG_ENDPT& e : vrgEndpt) {
    e.~VRG_ENDPT();
    new (&e) VRG_ENDPT();
  }
  for (int i = 0; i < VRG_MAX_CNX; ++i) {
    CNXSTATE& c = vrgCnxState[i];
    c.dspNum = 0;
    c.vhdhdl = VRG_NO_VHD;
    c.bLiteWeight = (i >= VRG_MAX_FULL_CNX_VHD && i < VRG_MAX_CNX_VHD) ? 1 : 0;
    vrgCnxStateClear(&c);
  }
}

VRG_ENDPT* GetEndptState(int lineId) {
  for (VRG_ENDPT& e : vrgEndpt) {
    if (vrgEndptLineUsed(&e) == 1 && e.lineId == lineId) return &e;
  }
  return nullptr;
}

VRG_ENDPT* GetEndptStateFromPhysId(int index) {
  if (index < 0 || index >= VRG_MAX_ENDPT) return nullptr;
  return vrgEndptLineUsed(&vrgEndpt[index]) == 1 ? &vrgEndpt[index] : nullptr;
}

VRG_ENDPT* GetEndptStateFromVHD(uint16_t vhdhdl) {
  for (VRG_ENDPT& e : vrgEndpt) {
    if (vrgEndptLineUsed(&e) == 1 && (e.lineVhdHdl == vhdhdl || e.pstnVhdHdl == vhdhdl)) return &e;
  }
  return nullptr;
}

int GetEndptIndexFromCasHandle(int casHandle, int* index) {
  for (int i = 0; i < VRG_MAX_ENDPT; ++i) {
    if (vrgEndptLineUsed(&vrgEndpt[i]) == 1 && vrgEndpt[i].casCtlHandle == casHandle) {
      if (index != nullptr) *index = i;
      return 1;
    }
  }
  return 0;
}

VRG_ENDPT* GetPstnVrgEndptState(void) {
  for (int i = 0; i < VRG_MAX_ENDPT; ++i) {
    if (boardHalIsType(i, DSPHAL_TYPE_FXO)) return &vrgEndpt[i];
  }
  return nullptr;
}

CNXSTATE* GetCnxState(int cnxId) {
  if (cnxId < 0) return nullptr;
  for (CNXSTATE& c : vrgCnxState) {
    if (c.cnxId == cnxId) return &c;
  }
  return nullptr;
}

int GetEndptCnxSlot(const VRG_ENDPT* endpt, int cnxId) {
  if (endpt == nullptr) return -1;
  for (int i = 0; i < VRG_MAX_CNX_PER_ENDPT; ++i) {
    if (endpt->cnx[i] != nullptr && endpt->cnx[i]->cnxId == cnxId) return i;
  }
  return -1;
}

CNXSTATE* GetEndptCnxState(const VRG_ENDPT* endpt, int cnxId) {
  const int slot = cnxId < 0 ? -1 : GetEndptCnxSlot(endpt, cnxId);
  return slot < 0 ? nullptr : endpt->cnx[slot];
}

CNXSTATE* GetCnxStateFromVHD(uint16_t vhdhdl) {
  const int index = GetCnxIndexFromVHD(vhdhdl);
  return index < 0 ? nullptr : &vrgCnxState[index];
}

int GetCnxIndexFromVHD(uint16_t vhdhdl) {
  for (int i = 0; i < VRG_MAX_CNX_VHD; ++i) {
    if (vrgCnxState[i].vhdhdl == vhdhdl) return i;
  }
  return -1;
}

int IsCnxVhd(uint16_t vhdhdl) { return GetCnxIndexFromVHD(vhdhdl) >= 0 ? 1 : 0; }

CNXSTATE* GetNewSecondaryCnxState(int dspNum) {
  for (int i = 0; i < VRG_MAX_CNX_VHD; ++i) {
    CNXSTATE& c = vrgCnxState[i];
    if (c.dspNum == dspNum && c.cnxId == -1) {
      c.cnxId = -2;
      return &c;
    }
  }
  return nullptr;
}

bool IsCnxModeSupported(EPCNXMODE mode, int dspNum) {
  if (dspNum < 0 || dspNum >= VRG_MAX_NUM_DSP) return false;
  for (int m : vrgEndptCap[dspNum].mCap) {
    if (m == mode) return true;
    if (m == EPCNXMODE_MAX) break;
  }
  return false;
}

EPSTATUS Provision(const VRG_ENDPT* endpt, EPPROV item, void* value) {
  const int line = endpt != nullptr ? endpt->lineId : 0;
  const EPSTATUS status = endptProvGetValue(line, item, value);
  if (status != EPSTATUS_SUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Couldn't get the prov item !!! provItemID %d",
             static_cast<int>(item));
  }
  return status;
}

void PrintVhdInfo(void) {
  for (int i = 0; i < VRG_MAX_ENDPT; ++i) {
    const VRG_ENDPT& e = vrgEndpt[i];
    if (e.isLineUsed != 1) continue;
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: VHD handle 0x%x - resource manager",
             (e.dspNum << 8) | 0x30);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: VHD handle 0x%x - endpt %d VHD",
             e.lineVhdHdl, i);
  }
  for (int i = 0; i < VRG_MAX_CNX; ++i) {
    const CNXSTATE& c = vrgCnxState[i];
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: VHD handle 0x%x - secondary (%s) cnx %d, endpt %d",
             c.vhdhdl, c.bLiteWeight ? "lite" : "heavy", i, c.lineId);
  }
}

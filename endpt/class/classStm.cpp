// The caller-ID and message-waiting machine of a line: selecting a sequence type, running
// events through its tables, and turning the DSP's caller-ID events into machine events.
#include "classStm.h"

#include <cstring>

#include "hdspClass.h"
#include "voiceLog.h"

namespace {

struct TypeRow {
  const SME_STATE* idle;
  CLASS_MSG_TYPE classType;
};

const TypeRow kTypes[] = {
    {stateClidTxNaIdle, CLASS_MSG_ONHOOK_CLID},   {stateClidTxJpIdle, CLASS_MSG_ONHOOK_CLID},
    {stateClidTxDtAsIdle, CLASS_MSG_ONHOOK_CLID}, {stateClidTxRpAsIdle, CLASS_MSG_ONHOOK_CLID},
    {stateClidTxLrAsIdle, CLASS_MSG_ONHOOK_CLID}, {stateClidTxLrIdle, CLASS_MSG_ONHOOK_CLID},
    {stateClass2Idle, CLASS_MSG_OFFHOOK_CLID},    {stateVmwiIdle, CLASS_MSG_VMWI},
    {stateVmwiTxDtAsIdle, CLASS_MSG_VMWI},        {stateVmwiTxRpAsIdle, CLASS_MSG_VMWI},
    {stateVmwiTxLrAsIdle, CLASS_MSG_VMWI},
};
constexpr int kNumTypes = sizeof kTypes / sizeof kTypes[0];

CLASSSTM_PARM makeParm(CLASSSTM_MEM* mem, int lineId) {
  CLASSSTM_PARM p{};
  p.casCtlHandle = mem->casCtlHandle;
  p.vhdHdl = mem->vhdHdl;
  p.lineId = lineId;
  p.evBlock = &mem->evBlock;
  p.country = mem->country;
  p.classType = mem->classType;
  p.vmwiType = mem->vmwiType;
  p.clidInfo = &mem->clidInfo;
  p.ringInfo = &mem->ringInfo;
  p.callWtgInfo = &mem->callWtgInfo;
  p.fskAfterRing = mem->fskAfterRing;
  p.ringAfterFsk = mem->ringAfterFsk;
  p.fskAfterDtas = mem->fskAfterDtas;
  p.fskAfterRp = mem->fskAfterRp;
  p.dtasAfterLr = mem->dtasAfterLr;
  p.dtmfAfterLr = mem->dtmfAfterLr;
  p.clidProtocol = mem->clidProtocol;
  p.vmwiProtocol = mem->vmwiProtocol;
  p.vmwiMsgFormat = mem->vmwiMsgFormat;
  p.fskParms = mem->fskParms;
  p.dtmfParms = mem->dtmfParms;
  return p;
}

// The first 16-bit word of an event's data block, when it has one.
bool firstDataWord(const HSZEVT* event, uint16_t* word) {
  if (event->hsxreqid != HAPI_REQID_EXT_EVT || event->hsxop2.ref == nullptr || event->hsxop1 < 2) return false;
  std::memcpy(word, event->hsxop2.ref, sizeof *word);
  return true;
}

}  // namespace

const SME_STATE* classStmIdleTable(CLASSSTM_TYPE type) {
  return type >= 0 && type < kNumTypes ? kTypes[type].idle : nullptr;
}

int classStmInit(CLASSSTM_MEM* mem, uint16_t casCtlHandle, uint16_t vhdhdl, VRG_COUNTRY country) {
  std::memset(mem, 0, sizeof *mem);
  mem->casCtlHandle = casCtlHandle;
  mem->vhdHdl = vhdhdl;
  mem->country = country;
  classStmReset(mem, CLASSSTM_TYPE_ONHOOK_RING_CLID);
  if (hdspClassEnable(vhdhdl) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: HDSP: Class enable Failed on vhdHdl %x", vhdhdl);
    return -1;
  }
  return 0;
}

void classStmReset(CLASSSTM_MEM* mem, CLASSSTM_TYPE type) {
  const uint16_t handle = mem->casCtlHandle;
  const uint16_t vhd = mem->vhdHdl;
  const VRG_COUNTRY country = mem->country;
  std::memset(mem, 0, sizeof *mem);
  mem->casCtlHandle = handle;
  mem->vhdHdl = vhd;
  mem->country = country;
  mem->idleStatep = classStmIdleTable(type);
  mem->currentStatep = mem->idleStatep;
  if (mem->idleStatep != nullptr) mem->classType = kTypes[type].classType;
  casCtlIgnoreHookState(handle, CAS_IGNOREHOOKSTATE_OFF);
}

void classStmDeinit(CLASSSTM_MEM* mem) { std::memset(mem, 0, sizeof *mem); }

void classStmEventProcess(CLASSSTM_MEM* mem, int event, int lineId) {
  if (mem == nullptr || mem->currentStatep == nullptr) return;
  CLASSSTM_PARM parm = makeParm(mem, lineId);
  if (mem->vhdHdl == 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: %s: invalid VHD for line %d", "classStmEventProcess",
             lineId);
  }
  mem->currentStatep = smeProcess(mem->currentStatep, &parm, event, nullptr);
}

int classStmIsIdle(const CLASSSTM_MEM* mem) {
  if (mem->classType == CLASS_MSG_OFFHOOK_CLID) {
    return mem->currentStatep == stateClass2Idle || mem->currentStatep == stateClass2PendingDelayDone;
  }
  return mem->currentStatep == mem->idleStatep;
}

int ClassEvent(CLASSSTM_MEM* mem, HDSP_CLASS_CLIDRX_STATE* rxState, int lineId, VRG_COUNTRY country,
               const HSZEVT* event, EPCLIDRX_DATA* received) {
  if (event == nullptr) return 0;
  switch (event->hsxevt) {
    case hdsp::HAPI_CLIDRX_PKT_EVT: {
      if (rxState == nullptr || event->hsxreqid != HAPI_REQID_EXT_EVT || event->hsxop2.ref == nullptr) return 0;
      // A short data block leaves the rest of the packet zero rather than read past it.
      HSZCLIDRXPACKET packet{};
      std::memcpy(&packet, event->hsxop2.ref, event->hsxop1 < sizeof packet ? event->hsxop1 : sizeof packet);
      if (hdspClidRxParse(country, &packet, rxState) != 1) return 0;
      if (received != nullptr) *received = rxState->clidRxData;
      return 1;
    }
    case hdsp::HAPI_PTE_TONE_GEN_EVT: {
      uint16_t word = 0;
      if (firstDataWord(event, &word) && (word == 0 || word == 255)) {
        classStmEventProcess(mem, CLASSSTM_TONE_GEN_EVT, lineId);
      }
      return 0;
    }
    case hdsp::HAPI_PTE_TONE_ON_EVT: {
      const uint16_t digit = event->hsxop2.val & 0xFF;
      if (digit == 12 || digit == 15) classStmEventProcess(mem, CLASSSTM_CLID_ACK_RCVD, lineId);
      return 0;
    }
    case hdsp::CLIDTX_END_EVT:
      classStmEventProcess(mem, CLASSSTM_CLID_TX_END, lineId);
      return 0;
    case hdsp::CLIDTX_REFUSED_EVT:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ENDPT %d: ERROR - CLIDTX not ready for new message",
               lineId);
      return 0;
    default: return 0;
  }
}

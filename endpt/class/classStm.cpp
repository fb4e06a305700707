// The caller-ID and message-waiting machine of a line: selecting a sequence type, running
// events through its tables, and turning the DSP's caller-ID events into machine events.
#include "classStm.h"

#include <atomic>
#include <cstddef>
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

// The fields that the packet path reads, written as relaxed atomics.
void publish(CLASSSTM_MEM* mem, const SME_STATE* idle, const SME_STATE* current, CLASS_MSG_TYPE type) {
  std::atomic_ref<const SME_STATE*>(mem->idleStatep).store(idle, std::memory_order_relaxed);
  std::atomic_ref<CLASS_MSG_TYPE>(mem->classType).store(type, std::memory_order_relaxed);
  std::atomic_ref<const SME_STATE*>(mem->currentStatep).store(current, std::memory_order_relaxed);
}

// Clears everything but the published fields.
void clearPrivate(CLASSSTM_MEM* mem) {
  constexpr size_t from = offsetof(CLASSSTM_MEM, casCtlHandle);
  std::memset(reinterpret_cast<char*>(mem) + from, 0, sizeof *mem - from);
}

void clearAll(CLASSSTM_MEM* mem) {
  clearPrivate(mem);
  publish(mem, nullptr, nullptr, CLASS_MSG_TYPE{});
}

}  // namespace

const SME_STATE* classStmIdleTable(CLASSSTM_TYPE type) {
  return type >= 0 && type < kNumTypes ? kTypes[type].idle : nullptr;
}

int classStmInit(CLASSSTM_MEM* mem, uint16_t casCtlHandle, uint16_t vhdhdl, VRG_COUNTRY country) {
  clearAll(mem);
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
  clearPrivate(mem);
  mem->casCtlHandle = handle;
  mem->vhdHdl = vhd;
  mem->country = country;
  const SME_STATE* idle = classStmIdleTable(type);
  publish(mem, idle, idle, idle != nullptr ? kTypes[type].classType : CLASS_MSG_TYPE{});
  casCtlIgnoreHookState(handle, CAS_IGNOREHOOKSTATE_OFF);
}

void classStmDeinit(CLASSSTM_MEM* mem) { clearAll(mem); }

void classStmEventProcess(CLASSSTM_MEM* mem, int event, int lineId) {
  if (mem == nullptr || mem->currentStatep == nullptr) return;
  CLASSSTM_PARM parm = makeParm(mem, lineId);
  if (mem->vhdHdl == 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: %s: invalid VHD for line %d", "classStmEventProcess",
             lineId);
  }
  std::atomic_ref<const SME_STATE*>(mem->currentStatep)
      .store(smeProcess(mem->currentStatep, &parm, event, nullptr), std::memory_order_relaxed);
}

int classStmIsIdle(const CLASSSTM_MEM* mem) {
  auto* shared = const_cast<CLASSSTM_MEM*>(mem);
  const SME_STATE* current =
      std::atomic_ref<const SME_STATE*>(shared->currentStatep).load(std::memory_order_relaxed);
  if (std::atomic_ref<CLASS_MSG_TYPE>(shared->classType).load(std::memory_order_relaxed) ==
      CLASS_MSG_OFFHOOK_CLID) {
    return current == stateClass2Idle || current == stateClass2PendingDelayDone;
  }
  return current == std::atomic_ref<const SME_STATE*>(shared->idleStatep).load(std::memory_order_relaxed);
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

// The caller-ID and message-waiting state machine of an analogue line: it sequences ringing,
// polarity, alerting tones, the FSK or DTMF caller-ID message and message-waiting delivery, one
// sequence type at a time, as state tables run by smeProcess. Dispatcher thread only.
#pragma once

#include <cstdint>

#include "casCtl.h"
#include "hdspClass.h"
#include "sme.h"
#include "vrgProvValues.h"

enum CLASSSTM_CASEVT_BLOCK : int32_t {
  CLASSSTM_CASEVT_BLOCK_NONE = 0,
  CLASSSTM_CASEVT_BLOCK_ALL = 1,
  CLASSSTM_CASEVT_BLOCK_PULSE = 2,
};

enum CLASS_SIG_TYPE : int32_t {
  CLASS_SIG_TYPE_FSK_CLID = 1,
  CLASS_SIG_TYPE_DTMF_CLID = 2,
  CLASS_SIG_TYPE_FSK_VMWI = 3,
  CLASS_SIG_TYPE_DTMF_VMWI = 4,
};

enum CLASSSTM_TYPE : int32_t {
  CLASSSTM_TYPE_ONHOOK_RING_CLID = 0,
  CLASSSTM_TYPE_ONHOOK_LRCARIR_CLID = 1,
  CLASSSTM_TYPE_ONHOOK_DTAS_CLID = 2,
  CLASSSTM_TYPE_ONHOOK_RPAS_CLID = 3,
  CLASSSTM_TYPE_ONHOOK_LRAS_CLID = 4,
  CLASSSTM_TYPE_ONHOOK_LR_CLID = 5,
  CLASSSTM_TYPE_OFFHOOK_CLID = 6,
  CLASSSTM_TYPE_OSI_VMWI = 7,
  CLASSSTM_TYPE_DTAS_VMWI = 8,
  CLASSSTM_TYPE_RPAS_VMWI = 9,
  CLASSSTM_TYPE_LRAS_VMWI = 10,
};

// Events of the machine.
enum : int32_t {
  CLASSSTM_CLID_RING = 0,
  CLASSSTM_CLID_NODATA_RING = 1,
  CLASSSTM_CLID_SAS_CAS = 2,
  CLASSSTM_CLID_SAS_ONLY = 3,
  CLASSSTM_CLID_SAS_CAS_OFF = 4,
  CLASSSTM_CLID_ACK_RCVD = 5,
  CLASSSTM_TONE_GEN_EVT = 6,
  CLASSSTM_CLID_INFO = 7,
  CLASSSTM_CLID_TX_END = 8,
  CLASSSTM_CLID_FIRST_RINGOFF = 9,
  CLASSSTM_OFFHOOK = 10,
  CLASSSTM_ONHOOK = 11,
  CLASSSTM_FLASH = 12,
  CLASSSTM_VMWI_ON = 13,
  CLASSSTM_VMWI_OFF = 14,
  CLASSSTM_VMWI_OSI_END = 15,
  CLASSSTM_RING_OFF = 16,
  CLASSSTM_TIMER_EXPIRE = 17,
};

// Tones of the alerting signals (the built-in CAS tones of the tone layer).
inline constexpr int CT_DTAS_ONHOOK = 0;
inline constexpr int CT_DTAS_OFFHOOK = 1;
// Tone type of the subscriber alerting signal played ahead of off-hook caller ID.
inline constexpr int CLASS_SAS_TONE_TYPE = 320;

struct CLASSSTM_CALLWTG_STATE {
  int profile;  // the tone (EPSIG) of the call-waiting tone
  int delay;    // ms
  HDSP_TONE_PROV_PATTERN casCustomProfile;
  HDSP_TONE_PROV_PATTERN sasCustomProfile;
};

struct CLASSSTM_MEM {
  // Whether the machine is idle is asked from the daemon's packet path too: the first three
  // fields change only as relaxed atomics (classStm.cpp), everything from casCtlHandle on is
  // the dispatcher's alone.
  const SME_STATE* currentStatep;
  const SME_STATE* idleStatep;
  CLASS_MSG_TYPE classType;
  uint16_t casCtlHandle;
  uint16_t vhdHdl;
  CLASSSTM_CASEVT_BLOCK evBlock;
  VRG_COUNTRY country;
  CLASS_VMWI_TYPE vmwiType;
  EPCLIDRX_DATA clidInfo;
  CAS_CTL_RING_PROFILE ringInfo;
  CLASSSTM_CALLWTG_STATE callWtgInfo;
  int fskAfterRing;
  int ringAfterFsk;
  int fskAfterDtas;
  int fskAfterRp;
  int dtasAfterLr;
  int dtmfAfterLr;
  CLASS_SIG_TYPE clidProtocol;
  CLASS_SIG_TYPE vmwiProtocol;
  int vmwiMsgFormat;
  const VRG_CLASS_FSK* fskParms;
  const VRG_CLASS_DTMF* dtmfParms;
};

// What every action sees of the line, made afresh for each event.
struct CLASSSTM_PARM {
  uint16_t casCtlHandle;
  uint16_t vhdHdl;
  int lineId;
  CLASSSTM_CASEVT_BLOCK* evBlock;
  VRG_COUNTRY country;
  CLASS_MSG_TYPE classType;
  CLASS_VMWI_TYPE vmwiType;
  const EPCLIDRX_DATA* clidInfo;
  const CAS_CTL_RING_PROFILE* ringInfo;
  const CLASSSTM_CALLWTG_STATE* callWtgInfo;
  int fskAfterRing;
  int ringAfterFsk;
  int fskAfterDtas;
  int fskAfterRp;
  int dtasAfterLr;
  int dtmfAfterLr;
  CLASS_SIG_TYPE clidProtocol;
  CLASS_SIG_TYPE vmwiProtocol;
  int vmwiMsgFormat;
  const VRG_CLASS_FSK* fskParms;
  const VRG_CLASS_DTMF* dtmfParms;
};

int classStmInit(CLASSSTM_MEM* mem, uint16_t casCtlHandle, uint16_t vhdhdl, VRG_COUNTRY country);
void classStmReset(CLASSSTM_MEM* mem, CLASSSTM_TYPE type);
void classStmDeinit(CLASSSTM_MEM* mem);
void classStmEventProcess(CLASSSTM_MEM* mem, int event, int lineId);
int classStmIsIdle(const CLASSSTM_MEM* mem);

// The idle table of a machine type, or none for an unknown type.
const SME_STATE* classStmIdleTable(CLASSSTM_TYPE type);

// The state tables (classStm_tables.cpp), named for tests and the idle checks.
extern const SME_STATE stateClidTxNaIdle[];
extern const SME_STATE stateClidTxNaWaitSilence[];
extern const SME_STATE stateClidTxNaSendFsk[];
extern const SME_STATE stateClidTxNaContFsk[];
extern const SME_STATE stateClidTxJpIdle[];
extern const SME_STATE stateClidTxJpSendPr[];
extern const SME_STATE stateClidTxJpSendCar[];
extern const SME_STATE stateClidTxJpSendFsk[];
extern const SME_STATE stateClidTxJpSendIr[];
extern const SME_STATE stateClidTxJpWaitOnHook[];
extern const SME_STATE stateClidTxDtAsIdle[];
extern const SME_STATE stateClidTxRpAsIdle[];
extern const SME_STATE stateClidTxLrAsIdle[];
extern const SME_STATE stateClidTxLrIdle[];
extern const SME_STATE stateClass2Idle[];
extern const SME_STATE stateClass2PendingCallid[];
extern const SME_STATE stateClass2PendingSasDone[];
extern const SME_STATE stateClass2PendingAck[];
extern const SME_STATE stateClass2SendFsk[];
extern const SME_STATE stateClass2PendingDelayDone[];
extern const SME_STATE stateVmwiIdle[];
extern const SME_STATE stateVmwiSendOsi[];
extern const SME_STATE stateVmwiSendFsk[];
extern const SME_STATE stateVmwiTxDtAsIdle[];
extern const SME_STATE stateVmwiTxRpAsIdle[];
extern const SME_STATE stateVmwiTxLrAsIdle[];

// Actions (classStmActions.cpp); each takes a CLASSSTM_PARM and returns SME_NO_EVENT.
SME_EVENT actionBlockPulseCasEvents(void* parm);
SME_EVENT actionUnblockPulseCasEvents(void* parm);
SME_EVENT actionStopRing(void* parm);
SME_EVENT actionStartRing(void* parm);
SME_EVENT actionReversePolarityAndCarRing(void* parm);
SME_EVENT actionClidTxCleanup(void* parm);
SME_EVENT actionClidTxFormatData(void* parm);
SME_EVENT actionClidTxStart(void* parm);
SME_EVENT actionSendDualToneSignal(void* parm);
SME_EVENT actionStartCas(void* parm);
SME_EVENT actionOnhookTransmission(void* parm);
SME_EVENT actionFskAfterDtasDelay(void* parm);
SME_EVENT actionRingAfterFskDelay(void* parm);
SME_EVENT actionSendRingPulseSignal(void* parm);
SME_EVENT actionFskAfterRpasDelay(void* parm);
SME_EVENT actionDtasAfterLrDelay(void* parm);
SME_EVENT actionFskAfterLrDtasDelay(void* parm);
SME_EVENT actionPolNormalAfterFskDelay(void* parm);
SME_EVENT actionPolNormal(void* parm);
SME_EVENT actionDtmfAfterLrDelay(void* parm);
SME_EVENT actionNormalPolarityIdle(void* parm);
SME_EVENT actionPostVmwiFskDelay(void* parm);
SME_EVENT actionNormalPolarity(void* parm);
SME_EVENT actionOffHookNormalPolarity(void* parm);
SME_EVENT actionStopSasCas(void* parm);
SME_EVENT actionStartFirstSasWithoutCas(void* parm);
SME_EVENT actionStartFirstSas(void* parm);
SME_EVENT actionStartSasWithDelay(void* parm);
SME_EVENT actionEnableFastSlicModes(void* parm);
SME_EVENT actionDisableFastSlicModes(void* parm);
SME_EVENT actionVmwiOnFormatData(void* parm);
SME_EVENT actionVmwiOffFormatData(void* parm);
SME_EVENT actionVmwiSupervisoryDisconnect(void* parm);
SME_EVENT actionPreventIdle(void* parm);
SME_EVENT actionAllowIdle(void* parm);

// Caller-ID events of the line's channels (0x3440, 0x0942, 0x09C0, 0x08C0, 0x08C1) for the
// machine and the receiver. Returns 1 when a received caller-ID message is complete: `received`
// then holds the data to report as EPEVT_FSK_CLIDRX.
int ClassEvent(CLASSSTM_MEM* mem, HDSP_CLASS_CLIDRX_STATE* rxState, int lineId, VRG_COUNTRY country,
               const HSZEVT* event, EPCLIDRX_DATA* received);

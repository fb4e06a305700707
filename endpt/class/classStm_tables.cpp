// State tables of the caller-ID and message-waiting machines: per state, the events it
// handles, the state each leads to and the actions run on the way; the closing row of each
// state leaves any other event unhandled. Listed per sequence type as in classStm.h.
#include "classStm.h"

// Every table is named before any is defined: states refer to each other.
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
extern const SME_STATE stateClidTxDtAsPreClidTx[];
extern const SME_STATE stateClidTxDtAsClidTx[];
extern const SME_STATE stateClidTxDtAsPostClidTx[];
extern const SME_STATE stateClidTxDtAsSendRing[];
extern const SME_STATE stateClidTxDtAsSendDtAs[];
extern const SME_STATE stateClidTxRpAsIdle[];
extern const SME_STATE stateClidTxRpAsPreClidTx[];
extern const SME_STATE stateClidTxRpAsClidTx[];
extern const SME_STATE stateClidTxRpAsPostClidTx[];
extern const SME_STATE stateClidTxRpAsSendRing[];
extern const SME_STATE stateClidTxRpAsSendRpAs[];
extern const SME_STATE stateClidTxLrAsIdle[];
extern const SME_STATE stateClidTxLrAsPreDtas[];
extern const SME_STATE stateClidTxLrAsSendDtAs[];
extern const SME_STATE stateClidTxLrAsPreClidTx[];
extern const SME_STATE stateClidTxLrAsClidTx[];
extern const SME_STATE stateClidTxLrAsPolNomal[];
extern const SME_STATE stateClidTxLrAsPostClidTx[];
extern const SME_STATE stateClidTxLrAsSendRing[];
extern const SME_STATE stateClidTxLrIdle[];
extern const SME_STATE stateClidTxLrPreClidTx[];
extern const SME_STATE stateClidTxLrClidTx[];
extern const SME_STATE stateClidTxLrPostClidTx[];
extern const SME_STATE stateClidTxLrSendRing[];
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
extern const SME_STATE stateVmwiTxDtAsSendDtAs[];
extern const SME_STATE stateVmwiTxDtAsPreClidTx[];
extern const SME_STATE stateVmwiTxDtAsClidTx[];
extern const SME_STATE stateVmwiTxDtAsPostClidTx[];
extern const SME_STATE stateVmwiTxRpAsIdle[];
extern const SME_STATE stateVmwiTxRpAsSendRpAs[];
extern const SME_STATE stateVmwiTxRpAsPreClidTx[];
extern const SME_STATE stateVmwiTxRpAsClidTx[];
extern const SME_STATE stateVmwiTxRpAsPostClidTx[];
extern const SME_STATE stateVmwiTxLrAsIdle[];
extern const SME_STATE stateVmwiTxLrAsPreDtas[];
extern const SME_STATE stateVmwiTxLrAsSendDtAs[];
extern const SME_STATE stateVmwiTxLrAsPreClidTx[];
extern const SME_STATE stateVmwiTxLrAsClidTx[];
extern const SME_STATE stateVmwiTxLrAsPostClidTx[];

#define CLASS_ROW(event, next, ...) {event, next, {__VA_ARGS__}}
#define CLASS_END {SME_NO_EVENT, nullptr, {}}

const SME_STATE stateClidTxNaIdle[] = {
    CLASS_ROW(CLASSSTM_CLID_RING, stateClidTxNaWaitSilence, actionClidTxFormatData, actionStartRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxNaIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxNaWaitSilence[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxNaSendFsk, actionClidTxStart),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxNaIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxNaIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateClidTxNaSendFsk[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateClidTxNaIdle, nullptr),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClidTxNaIdle, nullptr),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxNaContFsk, nullptr),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxNaIdle, actionClidTxCleanup),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxNaIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateClidTxNaContFsk[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateClidTxNaIdle, actionStopRing),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxNaIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_CLID_FIRST_RINGOFF, stateClidTxNaContFsk, actionClidTxStart),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxNaIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateClidTxJpIdle[] = {
    CLASS_ROW(CLASSSTM_CLID_RING, stateClidTxJpSendPr, actionClidTxFormatData, actionReversePolarityAndCarRing),
    CLASS_ROW(CLASSSTM_CLID_NODATA_RING, stateClidTxJpSendIr, actionStartRing),
    CLASS_END,
};

const SME_STATE stateClidTxJpSendPr[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxJpSendCar, nullptr),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxJpIdle, actionNormalPolarityIdle, actionClidTxCleanup),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxJpIdle, actionNormalPolarity, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateClidTxJpSendCar[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxJpSendIr, actionClidTxCleanup, actionStartRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxJpSendFsk, actionClidTxStart),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxJpIdle, actionClidTxCleanup, actionNormalPolarityIdle),
    CLASS_END,
};

const SME_STATE stateClidTxJpSendFsk[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxJpIdle, actionClidTxCleanup, actionNormalPolarityIdle),
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateClidTxJpSendFsk, nullptr),
    CLASS_ROW(CLASSSTM_ONHOOK, stateClidTxJpSendIr, actionClidTxCleanup, actionStartRing),
    CLASS_ROW(CLASSSTM_FLASH, stateClidTxJpIdle, actionClidTxCleanup, actionOffHookNormalPolarity),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxJpWaitOnHook, nullptr),
    CLASS_END,
};

const SME_STATE stateClidTxJpSendIr[] = {
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxJpIdle, actionNormalPolarity),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxJpIdle, actionNormalPolarityIdle),
    CLASS_END,
};

const SME_STATE stateClidTxJpWaitOnHook[] = {
    CLASS_ROW(CLASSSTM_ONHOOK, stateClidTxJpIdle, actionNormalPolarityIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateClidTxDtAsIdle[] = {
    CLASS_ROW(CLASSSTM_CLID_RING, stateClidTxDtAsSendDtAs, actionOnhookTransmission, actionClidTxFormatData, actionSendDualToneSignal),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxDtAsIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxDtAsPreClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxDtAsClidTx, actionClidTxStart),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxDtAsClidTx[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateClidTxDtAsPostClidTx, actionRingAfterFskDelay),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClidTxDtAsPostClidTx, actionRingAfterFskDelay),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxDtAsPostClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxDtAsSendRing, actionStartRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxDtAsSendRing[] = {
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxDtAsIdle, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxDtAsIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxDtAsSendDtAs[] = {
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClidTxDtAsPreClidTx, actionFskAfterDtasDelay),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxDtAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxRpAsIdle[] = {
    CLASS_ROW(CLASSSTM_CLID_RING, stateClidTxRpAsSendRpAs, actionClidTxFormatData, actionSendRingPulseSignal),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxRpAsIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxRpAsPreClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxRpAsClidTx, actionClidTxStart),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxRpAsClidTx[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateClidTxRpAsPostClidTx, actionRingAfterFskDelay),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClidTxRpAsPostClidTx, actionRingAfterFskDelay),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxRpAsPostClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxRpAsSendRing, actionStartRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxRpAsSendRing[] = {
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxRpAsIdle, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxRpAsIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxRpAsSendRpAs[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxRpAsPreClidTx, actionFskAfterRpasDelay),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxRpAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrAsIdle[] = {
    CLASS_ROW(CLASSSTM_CLID_RING, stateClidTxLrAsPreDtas, actionClidTxFormatData, actionDtasAfterLrDelay),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrAsIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrAsPreDtas[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxLrAsSendDtAs, actionSendDualToneSignal),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing, actionNormalPolarity),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing, actionNormalPolarity),
    CLASS_END,
};

const SME_STATE stateClidTxLrAsSendDtAs[] = {
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClidTxLrAsPreClidTx, actionFskAfterLrDtasDelay),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrAsPreClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxLrAsClidTx, actionClidTxStart),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrAsClidTx[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateClidTxLrAsPolNomal, actionPolNormalAfterFskDelay),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClidTxLrAsPolNomal, actionPolNormalAfterFskDelay),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrAsPolNomal[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxLrAsPostClidTx, actionPolNormal),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrAsIdle, actionStopRing, actionNormalPolarity),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrAsIdle, actionStopRing, actionNormalPolarity),
    CLASS_END,
};

const SME_STATE stateClidTxLrAsPostClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxLrAsSendRing, actionStartRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrAsIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrAsSendRing[] = {
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrAsIdle, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrAsIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrIdle[] = {
    CLASS_ROW(CLASSSTM_CLID_RING, stateClidTxLrPreClidTx, actionClidTxFormatData, actionDtmfAfterLrDelay),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrPreClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxLrClidTx, actionClidTxStart),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrClidTx[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateClidTxLrPostClidTx, actionRingAfterFskDelay),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClidTxLrPostClidTx, actionRingAfterFskDelay),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxLrIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrPostClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClidTxLrSendRing, actionStartRing),
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrIdle, actionClidTxCleanup, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrIdle, actionClidTxCleanup, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClidTxLrSendRing[] = {
    CLASS_ROW(CLASSSTM_RING_OFF, stateClidTxLrIdle, actionStopRing),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateClidTxLrIdle, actionStopRing),
    CLASS_END,
};

const SME_STATE stateClass2Idle[] = {
    CLASS_ROW(CLASSSTM_CLID_SAS_CAS, stateClass2PendingCallid, nullptr),
    CLASS_ROW(CLASSSTM_CLID_SAS_ONLY, stateClass2PendingDelayDone, actionStartFirstSasWithoutCas),
    CLASS_ROW(CLASSSTM_CLID_SAS_CAS_OFF, stateClass2Idle, actionStopSasCas),
    CLASS_END,
};

const SME_STATE stateClass2PendingCallid[] = {
    CLASS_ROW(CLASSSTM_CLID_INFO, stateClass2PendingSasDone, actionClidTxFormatData, actionStartFirstSas),
    CLASS_ROW(CLASSSTM_CLID_SAS_CAS_OFF, stateClass2Idle, actionStopSasCas),
    CLASS_END,
};

const SME_STATE stateClass2PendingSasDone[] = {
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClass2PendingAck, actionBlockPulseCasEvents, actionEnableFastSlicModes, actionStartCas),
    CLASS_ROW(CLASSSTM_CLID_SAS_CAS_OFF, stateClass2Idle, actionStopSasCas),
    CLASS_END,
};

const SME_STATE stateClass2PendingAck[] = {
    CLASS_ROW(CLASSSTM_CLID_ACK_RCVD, stateClass2SendFsk, actionDisableFastSlicModes, actionClidTxStart),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClass2PendingDelayDone, actionDisableFastSlicModes),
    CLASS_ROW(CLASSSTM_CLID_SAS_CAS_OFF, stateClass2Idle, actionDisableFastSlicModes, actionUnblockPulseCasEvents, actionStopSasCas),
    CLASS_ROW(CLASSSTM_ONHOOK, stateClass2Idle, actionDisableFastSlicModes, actionUnblockPulseCasEvents, actionStopSasCas),
    CLASS_END,
};

const SME_STATE stateClass2SendFsk[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateClass2PendingDelayDone, actionUnblockPulseCasEvents),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateClass2PendingDelayDone, actionClidTxCleanup, actionUnblockPulseCasEvents),
    CLASS_ROW(CLASSSTM_CLID_SAS_CAS_OFF, stateClass2Idle, actionClidTxCleanup, actionUnblockPulseCasEvents, actionStopSasCas),
    CLASS_END,
};

const SME_STATE stateClass2PendingDelayDone[] = {
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateClass2Idle, actionStartSasWithDelay, actionUnblockPulseCasEvents),
    CLASS_ROW(CLASSSTM_CLID_SAS_CAS_OFF, stateClass2Idle, actionStopSasCas, actionUnblockPulseCasEvents),
    CLASS_END,
};

const SME_STATE stateVmwiIdle[] = {
    CLASS_ROW(CLASSSTM_VMWI_ON, stateVmwiSendOsi, actionVmwiOnFormatData, actionVmwiSupervisoryDisconnect),
    CLASS_ROW(CLASSSTM_VMWI_OFF, stateVmwiSendOsi, actionVmwiOffFormatData, actionVmwiSupervisoryDisconnect),
    CLASS_END,
};

const SME_STATE stateVmwiSendOsi[] = {
    CLASS_ROW(CLASSSTM_VMWI_OSI_END, stateVmwiSendFsk, actionClidTxStart, actionPreventIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiSendFsk[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateVmwiIdle, actionAllowIdle),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateVmwiIdle, actionAllowIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiIdle, actionAllowIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxDtAsIdle[] = {
    CLASS_ROW(CLASSSTM_VMWI_ON, stateVmwiTxDtAsSendDtAs, actionOnhookTransmission, actionVmwiOnFormatData, actionSendDualToneSignal),
    CLASS_ROW(CLASSSTM_VMWI_OFF, stateVmwiTxDtAsSendDtAs, actionOnhookTransmission, actionVmwiOffFormatData, actionSendDualToneSignal),
    CLASS_END,
};

const SME_STATE stateVmwiTxDtAsSendDtAs[] = {
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateVmwiTxDtAsPreClidTx, actionFskAfterDtasDelay),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxDtAsIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxDtAsPreClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxDtAsClidTx, actionClidTxStart, actionPreventIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxDtAsIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxDtAsClidTx[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateVmwiTxDtAsPostClidTx, actionAllowIdle, actionPostVmwiFskDelay),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateVmwiTxDtAsPostClidTx, actionAllowIdle, actionPostVmwiFskDelay),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxDtAsIdle, actionAllowIdle, actionClidTxCleanup, actionNormalPolarityIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxDtAsIdle, actionAllowIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxDtAsPostClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxDtAsIdle, actionNormalPolarityIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxDtAsIdle, nullptr),
    CLASS_END,
};

const SME_STATE stateVmwiTxRpAsIdle[] = {
    CLASS_ROW(CLASSSTM_VMWI_ON, stateVmwiTxRpAsSendRpAs, actionVmwiOnFormatData, actionSendRingPulseSignal),
    CLASS_ROW(CLASSSTM_VMWI_OFF, stateVmwiTxRpAsSendRpAs, actionVmwiOffFormatData, actionSendRingPulseSignal),
    CLASS_END,
};

const SME_STATE stateVmwiTxRpAsSendRpAs[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxRpAsPreClidTx, actionFskAfterRpasDelay),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxRpAsIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxRpAsPreClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxRpAsClidTx, actionClidTxStart, actionPreventIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxRpAsIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxRpAsClidTx[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateVmwiTxRpAsPostClidTx, actionAllowIdle, actionPostVmwiFskDelay),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateVmwiTxRpAsPostClidTx, actionAllowIdle, actionPostVmwiFskDelay),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxRpAsIdle, actionAllowIdle, actionClidTxCleanup, actionNormalPolarityIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxRpAsIdle, actionAllowIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxRpAsPostClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxRpAsIdle, actionNormalPolarityIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxRpAsIdle, nullptr),
    CLASS_END,
};

const SME_STATE stateVmwiTxLrAsIdle[] = {
    CLASS_ROW(CLASSSTM_VMWI_ON, stateVmwiTxLrAsPreDtas, actionVmwiOnFormatData, actionDtasAfterLrDelay),
    CLASS_ROW(CLASSSTM_VMWI_OFF, stateVmwiTxLrAsPreDtas, actionVmwiOffFormatData, actionDtasAfterLrDelay),
    CLASS_END,
};

const SME_STATE stateVmwiTxLrAsPreDtas[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxLrAsSendDtAs, actionSendDualToneSignal),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxLrAsIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxLrAsSendDtAs[] = {
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateVmwiTxLrAsPreClidTx, actionFskAfterLrDtasDelay),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxLrAsIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxLrAsPreClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxLrAsClidTx, actionClidTxStart, actionPreventIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxLrAsIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxLrAsClidTx[] = {
    CLASS_ROW(CLASSSTM_CLID_TX_END, stateVmwiTxLrAsPostClidTx, actionAllowIdle, actionPostVmwiFskDelay),
    CLASS_ROW(CLASSSTM_TONE_GEN_EVT, stateVmwiTxLrAsPostClidTx, actionAllowIdle, actionPostVmwiFskDelay),
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxLrAsIdle, actionAllowIdle, actionClidTxCleanup, actionNormalPolarityIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxLrAsIdle, actionAllowIdle, actionClidTxCleanup),
    CLASS_END,
};

const SME_STATE stateVmwiTxLrAsPostClidTx[] = {
    CLASS_ROW(CLASSSTM_TIMER_EXPIRE, stateVmwiTxLrAsIdle, actionClidTxCleanup, actionNormalPolarityIdle),
    CLASS_ROW(CLASSSTM_OFFHOOK, stateVmwiTxLrAsIdle, actionClidTxCleanup),
    CLASS_END,
};

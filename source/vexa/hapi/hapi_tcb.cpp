// Transaction control blocks and the callback map of the host command interface.
#include "hapi.h"
#include "lhapi.h"

namespace {

HAPITCB M_SyncTcbPool[HAPI_NUM_TCBS];
HAPITCB* M_pFreeSyncTcbs = nullptr;
HAPITCB* M_pTxQueueStart = nullptr;
HAPITCB* M_pTxQueueEnd = nullptr;
uint16_t M_TransId = 0;
HAPICBMAPENTRY M_CallbackMap[HAPI_NUM_CALLBACKS];

// Handles of the resource manager of any DSP share one callback.
uint16_t callbackKey(uint16_t handle) { return (handle & 0xFF) <= HAPIRESMAN ? HAPIRESMAN : handle; }

}  // namespace

void hapiTcbInit() {
  LhapiLockGuard lock;
  M_pFreeSyncTcbs = nullptr;
  M_pTxQueueStart = nullptr;
  M_pTxQueueEnd = nullptr;
  for (HAPITCB& tcb : M_SyncTcbPool) {
    tcb.semHandle = nullptr;
    if (lhapiOsSemCreate(&tcb.semHandle) != 0) LHAPI_ASSERT_FAIL();
    tcb.retCode = 0xFFFF;
    tcb.transId = 0;
    tcb.commandp = nullptr;
    tcb.prevTcb = nullptr;
    tcb.nextTcb = M_pFreeSyncTcbs;
    M_pFreeSyncTcbs = &tcb;
  }
}

HAPITCB* hapiTcbAllocate(int blocking) {
  if (!blocking) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  LhapiLockGuard lock;
  HAPITCB* tcb = M_pFreeSyncTcbs;
  if (tcb == nullptr || tcb->semHandle == nullptr) return nullptr;
  M_pFreeSyncTcbs = tcb->nextTcb;
  M_TransId = static_cast<uint16_t>(M_TransId + 1);
  if (M_TransId == 0) M_TransId = 1;
  tcb->transId = M_TransId;
  tcb->retCode = 0xFFFF;
  tcb->commandp = nullptr;
  tcb->nextTcb = nullptr;
  tcb->prevTcb = M_pTxQueueEnd;
  if (M_pTxQueueEnd != nullptr) {
    M_pTxQueueEnd->nextTcb = tcb;
  } else {
    M_pTxQueueStart = tcb;
  }
  M_pTxQueueEnd = tcb;
  return tcb;
}

void hapiTcbFree(HAPITCB* tcb) {
  if (tcb == nullptr) return;
  LhapiLockGuard lock;
  if (tcb->prevTcb != nullptr) {
    tcb->prevTcb->nextTcb = tcb->nextTcb;
  } else {
    M_pTxQueueStart = tcb->nextTcb;
  }
  if (tcb->nextTcb != nullptr) {
    tcb->nextTcb->prevTcb = tcb->prevTcb;
  } else {
    M_pTxQueueEnd = tcb->prevTcb;
  }
  // A response that came after its caller gave up must not wake the next transaction.
  if (lhapiOsSemReset(tcb->semHandle) != 0) LHAPI_ASSERT_FAIL();
  tcb->commandp = nullptr;
  tcb->prevTcb = nullptr;
  tcb->nextTcb = M_pFreeSyncTcbs;
  M_pFreeSyncTcbs = tcb;
}

HAPITCB* tcbFindTransId(uint16_t transId) {
  LhapiLockGuard lock;
  for (HAPITCB* tcb = M_pTxQueueStart; tcb != nullptr; tcb = tcb->nextTcb) {
    if (tcb->transId == transId) return tcb;
  }
  return nullptr;
}

void hapiCallbackInit() {
  LhapiLockGuard lock;
  for (auto& e : M_CallbackMap) e = HAPICBMAPENTRY{nullptr, 0, 0};
}

void hapiCallbackFreeAll() { hapiCallbackInit(); }

HAPICBMAPENTRY* hapiCallbackFind(uint16_t deviceHandle) {
  const uint16_t key = callbackKey(deviceHandle);
  LhapiLockGuard lock;
  for (auto& e : M_CallbackMap) {
    if (e.inUse && e.deviceHandle == key) return &e;
  }
  return nullptr;
}

int hapiCallbackRegister(uint16_t deviceHandle, HAPICALLBKP callbackp) {
  const uint16_t key = callbackKey(deviceHandle);
  LhapiLockGuard lock;
  HAPICBMAPENTRY* entry = hapiCallbackFind(key);
  if (entry == nullptr) {
    for (auto& e : M_CallbackMap) {
      if (!e.inUse) {
        entry = &e;
        break;
      }
    }
  }
  if (entry == nullptr) return -1;
  entry->callback = callbackp;
  entry->deviceHandle = key;
  entry->inUse = 1;
  return 0;
}

void hapiCallbackFree(HAPICBMAPENTRY* entry) {
  if (entry == nullptr) return;
  LhapiLockGuard lock;
  *entry = HAPICBMAPENTRY{nullptr, 0, 0};
}

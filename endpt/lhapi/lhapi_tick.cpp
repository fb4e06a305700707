// The frame entry that the board's tick task calls once per 5 ms tick.
#include "halshim/halshim.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "lhapi_tickprof.h"


// One tick: the HAL shim's queued commands, PCM in and out of the board, then one frame sync of
// the kernel (which runs the due threads).
void lhapiProcessEntrySync() {
  lhapiTickProfileBegin();
  gKnlFrameSyncCount += 1;
  halShimProcessMessagesInHal();
  lhapiTickProfileStageEnd(LHAPI_TICK_SHIM);
  lhapiProcessIngress();
  lhapiTickProfileStageEnd(LHAPI_TICK_INGRESS);
  lhapiProcessEgress();
  lhapiTickProfileStageEnd(LHAPI_TICK_EGRESS);
  if (gKnlFrameSyncCount == 1) {
    gKnlFrameSyncCount = 0;
    HSZBIOSSTATE state = LHAPI_gpFncLockSMP();
    KNL_FrameSync();
    LHAPI_gpFncUnlockSMP(state);
  }
  lhapiTickProfileStageEnd(LHAPI_TICK_THREADS);
  lhapiTickProfileEnd();
}

void lhapiKNL_RunReadyThreads() { lhapiProcessEntrySync(); }

void lhapi_ProcessEntrySync(void*) { lhapiProcessEntrySync(); }

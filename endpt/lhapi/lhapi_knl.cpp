// The kernel's hooks into the host: the framework runs on the host processor only, so a run pass
// is simply a call on the tick thread.
#include "knl/knl.h"
#include "lhapi.h"

// Frame entries since the last frame sync.
unsigned gKnlFrameSyncCount = 0;

void lhapiKnlOverrunCondition(int) {}

void lhapiThreadDispatchHostOnly() { KNL_RunReadyThreads(); }

void lhapiKnlScheduleReadyThreads() { lhapiThreadDispatchHostOnly(); }

void lhapiProcessEntryAsync() { lhapiKnlScheduleReadyThreads(); }

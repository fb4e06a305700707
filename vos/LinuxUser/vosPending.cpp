// Start and stop entries of the event, task, message-queue and timer services.
#include "vosEvent.h"
#include "vosMsgQ.h"
#include "vosTask.h"
#include "vosTimer.h"

VOS_STATUS vosEventInit(void) { return VOS_STATUS_OK; }
VOS_STATUS vosEventTerm(void) { return VOS_STATUS_OK; }
VOS_STATUS vosTaskInit(void) { return VOS_STATUS_OK; }
VOS_STATUS vosTaskTerm(void) { return VOS_STATUS_OK; }
VOS_STATUS vosAppInit(void) { return VOS_STATUS_OK; }
VOS_STATUS vosMsgQInit(void) { return VOS_STATUS_OK; }
VOS_STATUS vosMsgQTerm(void) { return VOS_STATUS_OK; }
VOS_STATUS vosTimerInit(void) { return VOS_STATUS_OK; }
VOS_STATUS vosTimerTerm(void) { return VOS_STATUS_OK; }

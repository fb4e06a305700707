// The whole interface of the OS abstraction layer.
#pragma once

#include "vosError.h"
#include "vosEvent.h"
#include "vosInit.h"
#include "vosMsgQ.h"
#include "vosMutex.h"
#include "vosSem.h"
#include "vosSocket.h"
#include "vosTask.h"
#include "vosTime.h"
#include "vosTimer.h"
#include "vosTypes.h"
#include "voiceLog.h"

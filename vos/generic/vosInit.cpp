// Starts and stops the modules of the OS abstraction layer in their fixed order.
#include "vosInit.h"

#include <atomic>

#include "vosError.h"
#include "vosEvent.h"
#include "vosMsgQ.h"
#include "vosMutex.h"
#include "vosSem.h"
#include "vosSocket.h"
#include "vosTask.h"
#include "vosTime.h"
#include "vosTimer.h"
#include "voiceLog.h"

namespace {

std::atomic<bool> gVosInitialized{false};

struct Step {
  VOS_STATUS (*run)(void);
  const char *name;
};

constexpr Step initSteps[] = {
    {vosErrorInit, "vosErrorInit()"},     {vosSleepInit, "vosSleepInit()"},
    {vosSemInit, "vosSemInit()"},         {vosMutexInit, "vosMutexInit()"},
    {vosEventInit, "vosEventInit()"},     {vosTaskInit, "vosTaskInit()"},
    {vosSocketInit, "vosSocketInit()"},   {vosMsgQInit, "vosMsgQInit()"},
    {vosTimeInit, "vosTimeInit()"},       {vosCritSectInit, "vosCritSectInit()"},
    {vosTimerInit, "vosTimerInit()"},     {vosIpAddrInit, "vosIpAddrInit()"},
    {vosAppInit, "vosAppInit()"},
};

// The application-task table is not stopped.
constexpr Step termSteps[] = {
    {vosTimerTerm, "vosTimerTerm()"},   {vosCritSectTerm, "vosCritSectTerm()"},
    {vosTimeTerm, "vosTimeTerm()"},     {vosMsgQTerm, "vosMsgQTerm()"},
    {vosSocketTerm, "vosSocketTerm()"}, {vosTaskTerm, "vosTaskTerm()"},
    {vosEventTerm, "vosEventTerm()"},   {vosMutexTerm, "vosMutexTerm()"},
    {vosSemTerm, "vosSemTerm()"},       {vosSleepTerm, "vosSleepTerm()"},
    {vosIpAddrTerm, "vosIpAddrTerm()"}, {vosErrorTerm, "vosErrorTerm()"},
};

}  // namespace

VOS_STATUS vosInit(void) {
  extVosLog(VOS_LOGLEVEL_INFO, "VOS: Enter vosInit");
  for (const Step &step : initSteps) {
    VOS_STATUS status = step.run();
    if (status != VOS_STATUS_OK) {
      extVosLog(VOS_LOGLEVEL_ERROR, "%s: %s failed", "vosInit", step.name);
      return status;
    }
  }
  gVosInitialized.store(true);
  extVosLog(VOS_LOGLEVEL_INFO, "VOS: Exit vosInit");
  return VOS_STATUS_OK;
}

VOS_STATUS vosTerm(void) {
  for (const Step &step : termSteps) {
    VOS_STATUS status = step.run();
    if (status != VOS_STATUS_OK) {
      extVosLog(VOS_LOGLEVEL_ERROR, "%s: %s failed", "vosTerm", step.name);
      return status;
    }
  }
  gVosInitialized.store(false);
  return VOS_STATUS_OK;
}

VOS_BOOL vosIsInit(void) { return gVosInitialized.load(); }

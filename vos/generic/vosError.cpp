// Per-module tables of function names and the uniform report of a failing system call.
#include "vosError.h"

#include <pthread.h>

#include <cstring>

#include "str.h"
#include "voiceLog.h"

namespace {

VOS_ERROR_MODULE gVosErrorModule[VOS_NUM_MODULES];
// Tables are registered at start-up and read by error reports from any thread.
pthread_mutex_t errorTableLock = PTHREAD_MUTEX_INITIALIZER;

constexpr int FUNC_NAME_SIZE = 40;
constexpr int ERROR_TEXT_SIZE = 128;

}  // namespace

VOS_STATUS vosErrorInit(void) {
  pthread_mutex_lock(&errorTableLock);
  memset(gVosErrorModule, 0, sizeof gVosErrorModule);
  pthread_mutex_unlock(&errorTableLock);
  return VOS_STATUS_OK;
}

VOS_STATUS vosErrorTerm(void) { return VOS_STATUS_OK; }

VOS_STATUS vosErrorAddFunctionStrings(VOS_MODULE module, const char *const *names,
                                      unsigned numEntries) {
  const unsigned index = static_cast<unsigned>(module);
  if (index >= VOS_NUM_MODULES) {
    return VOS_STATUS_ERR;
  }
  pthread_mutex_lock(&errorTableLock);
  gVosErrorModule[index].funcEntry = names;
  gVosErrorModule[index].numFuncIds = numEntries;
  pthread_mutex_unlock(&errorTableLock);
  return VOS_STATUS_OK;
}

void vosErrorFunctionStr(VOS_FUNCTION_ID funcId, char *buf, int bufSize) {
  const unsigned module = funcId >> 8;
  const unsigned index = funcId & 0xFFu;
  const char *name = nullptr;
  if (module < VOS_NUM_MODULES) {
    pthread_mutex_lock(&errorTableLock);
    const VOS_ERROR_MODULE &row = gVosErrorModule[module];
    if (row.funcEntry != nullptr && index < row.numFuncIds) {
      name = row.funcEntry[index];
    }
    pthread_mutex_unlock(&errorTableLock);
  }
  if (name != nullptr) {
    strPrintf(buf, bufSize, "%s", name);
  } else {
    strPrintf(buf, bufSize, "Module:0x%02x, Function:0x%02x", module, index);
  }
}

VOS_STATUS vosErrorCheckStatusLinuxUser(int errorNumber, VOS_FUNCTION_ID funcId) {
  if (errorNumber == 0) {
    return VOS_STATUS_OK;
  }
  char funcName[FUNC_NAME_SIZE];
  vosErrorFunctionStr(funcId, funcName, sizeof funcName);

  char errorBuf[ERROR_TEXT_SIZE];
  errorBuf[0] = '\0';
  // The GNU variant may return a static text instead of filling the buffer.
  const char *errorText = strerror_r(errorNumber, errorBuf, sizeof errorBuf);
  extVosLog(VOS_LOGLEVEL_ERROR, "returned by %s: %s (%u)", funcName, errorText,
            static_cast<unsigned>(errorNumber));
  return VOS_STATUS_ERR;
}

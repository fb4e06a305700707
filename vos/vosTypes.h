// Basic types of the OS abstraction layer: the one status type every operation returns, the
// module numbers and the function ids that name a failing operation in the log.
#pragma once

#include <cstdint>

typedef enum : int {
  VOS_STATUS_OK = 0,
  VOS_STATUS_TIMEOUT = 1,
  VOS_STATUS_ERR = 2,
  VOS_STATUS_DEBUG = 3,
  VOS_STATUS_EXIT = 4,  // a task's wait loop ends when its wait returns this
  VOS_STATUS_IO = 5,
  VOS_STATUS_WOULD_BLOCK = 6,
  VOS_STATUS_RESET = 7,
} VOS_STATUS;

static_assert(sizeof(VOS_STATUS) == 4, "VOS_STATUS is a 32-bit value");

typedef bool VOS_BOOL;
#define VOS_TRUE true
#define VOS_FALSE false

typedef enum : int {
  VOS_EVENT_MODULE = 0,
  VOS_MUTEX_MODULE = 1,
  VOS_SEM_MODULE = 2,
  VOS_SLEEP_MODULE = 3,
  VOS_SOCKET_MODULE = 4,
  VOS_TASK_MODULE = 5,
  VOS_TIME_MODULE = 6,
  VOS_MSGQ_MODULE = 7,
  VOS_CRITSECT_MODULE = 8,
  VOS_TIMER_MODULE = 9,
  VOS_FILE_MODULE = 10,
  VOS_NUM_MODULES = 11,
} VOS_MODULE;

// Module number in the high byte, function index in the low byte.
typedef uint16_t VOS_FUNCTION_ID;

constexpr VOS_FUNCTION_ID vosFunctionId(VOS_MODULE module, unsigned index) {
  return static_cast<VOS_FUNCTION_ID>((static_cast<unsigned>(module) << 8) | (index & 0xFFu));
}

// Waits without limit where an operation takes a time-out in milliseconds.
#define VOS_WAIT_FOREVER 0xFFFFFFFFu

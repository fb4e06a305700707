// What the daemon uses of the endpoint library beyond its public API (vrgEndpt.h): the state
// record of an endpoint, read without a lock, the line-signalling and host-DSP calls and the
// library's and OS layer's start-up and shutdown calls. These are the library's own functions;
// the declarations live here until the library's headers that hold them exist.
#pragma once

#include <atomic>
#include <cstdint>

#include "vrgEndpt.h"

// The fields of the library's endpoint record that the daemon reads. The hook fields are written
// by the library's threads and read here without a lock (relaxed atomics).
struct VRG_ENDPT_VIEW {
  int isLineUsed;
  int lineId;
  uint16_t endptNum;
  uint16_t lineVhdHdl;
  int casCtlHandle;
  std::atomic<int> cnxCnt;
  std::atomic<uint16_t> offHook;
  std::atomic<uint16_t> earlyOffHook;
};

// Line-signalling events and event types that the daemon simulates on DECT lines.
enum CAS_CTL_EVENT : int32_t {
  CAS_CTL_EVENT_NONE = 0,
  CAS_CTL_EVENT_ONHOOK = 1,
  CAS_CTL_EVENT_OFFHOOK = 2,
  CAS_CTL_EVENT_FLASH = 4,
  CAS_CTL_EVENT_EARLY_OFFHOOK = 11,
  CAS_CTL_EVENT_EARLY_ONHOOK = 12,
  CAS_CTL_EVENT_DELAY_OFFHOOK = 13,
  CAS_CTL_EVENT_DELAY_ONHOOK = 14,
};
enum CAS_CTL_EVENT_TYPE : int32_t { CAS_CTL_DETECT_EVENT = 0 };

// Single-register write of the line echo canceller: register 0 ("options"), NLP off.
constexpr uint16_t HAPI_HEC_SETREG1_CMD = 0x44B4;
constexpr uint16_t HAPI_HEC_NLP_OFF = 1;
constexpr uint16_t HSZCMD_REQID_IMMEDIATE = 0xFF00;

extern "C++" {
// Endpoint record of the line with this id, or null when none is in use.
VRG_ENDPT_VIEW* GetEndptState(int lineId);
int casCtlIgnoreHookState(int casCtlHandle, int durationMs);
int hdspSendCmd(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t op1, uintptr_t op2);
int boardHalDeinit(void);
int tpUpdateLocaleProfile(VRG_COUNTRY country);
int vosInit(void);
int vosTerm(void);
int vosIsInit(void);
}

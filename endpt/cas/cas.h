// The CAS channel: one small state machine per analogue line. It owns the line's signalling state,
// drives the SLIC or DAA mode from it, samples hook, loop current and ring detection every 10 ms,
// turns the durations of hook changes into events and steps through timed state profiles. It is
// driven only through the command entry casIO and the 10 ms step casBlk.
#pragma once

#include <atomic>
#include <cstdint>

#include "casCtl.h"
#include "vosMutex.h"

inline constexpr int CAS_TICK_MS = 10;

// Commands of casIO.
inline constexpr uint16_t CAS_CMD_ENABLE = 0xE901;       // op1 1 enables, else disables
inline constexpr uint16_t CAS_CMD_FXO_PARMS = 0xE902;    // op2: CAS_CTL_FXO_PARMS, freed
inline constexpr uint16_t CAS_CMD_CONFIG = 0xE903;       // op1 CAS_TYPE, op2 channel number
inline constexpr uint16_t CAS_CMD_PROFILE = 0xE904;      // op2: CASPROFILE, ownership passes
inline constexpr uint16_t CAS_CMD_STATUS = 0xE905;       // op2: CASSTATUS, filled in
inline constexpr uint16_t CAS_CMD_SLIC_REQ = 0xE906;     // reqid: CAS_REQ_ID
inline constexpr uint16_t CAS_CMD_DAA_REQ = 0xE907;
inline constexpr uint16_t CAS_CMD_APM_REQ = 0xE908;
inline constexpr uint16_t CAS_CMD_SHUTDOWN = 0xE909;     // notice only

enum CAS_REQ_ID : uint16_t {
  CAS_REQ_NONE = 0,
  CAS_REQ_SLIC_START = 1,
  CAS_REQ_SLIC_BOOTED_LOOP_CURRENT = 2,
  CAS_REQ_SLIC_SET_RING_PARMS = 3,
  CAS_REQ_SLIC_PHASE_REVERSAL_CONTROL = 4,
  CAS_REQ_SLIC_IS_OFFHOOK = 5,
  CAS_REQ_SLIC_SET_POWER_SOURCE = 6,
  CAS_REQ_SLIC_END = 7,
  CAS_REQ_DAA_START = 8,
  CAS_REQ_DAA_MODE_CONTROL = 9,
  CAS_REQ_DAA_GET_HOOK_STATUS = 10,
  CAS_REQ_DAA_END = 11,
  CAS_REQ_APM_START = 12,
  CAS_REQ_APM_SET_RING_PARMS = 13,
  CAS_REQ_APM_PULSE_SIGNAL = 14,
  CAS_REQ_APM_END = 15,
};

// The substate a freshly configured channel starts with: the monitor settles it into idle.
inline constexpr uint16_t CAS_SUBSTATE_START = 0x8760;
// The substate of a hook flash candidate.
inline constexpr uint16_t CAS_SUBSTATE_FLASH = 1234;
// Status bit of an enabled channel.
inline constexpr uint16_t CAS_STATUS_ENABLED = 0x8000;

struct CASPROFILE {
  uint16_t index;  // the channel
  CASSTM casstm;
};
static_assert(sizeof(CASPROFILE) == 2384);

union CASOP2 {
  uint16_t val;
  void* ref;
};

struct CASCMD {
  uint16_t devhdl;
  uint16_t cmd;
  uint16_t reqid;
  uint32_t op1;
  CASOP2 op2;
};

struct CASEVT {
  uint16_t devhdl;
  uint16_t evt;  // CAS_CTL_EVENT_TYPE
  uint16_t reqid;
  uint32_t op1;  // the event (or pulse count)
  CASOP2 op2;    // val: the channel
};

struct CASSTATUS {
  uint16_t channelnum;
  uint32_t state;
  uint16_t currentCAS;
  uint16_t currentCount;
  uint16_t deglitchCount;
  uint16_t substate;
};

struct CASCHANNELINFO {
  uint16_t castype;  // CAS_TYPE
  uint16_t channelnum;
  uint16_t statechange;  // the line driver's mode must be set again
  uint32_t state;
  uint32_t previousActiveState;
  // ms left; written by any thread (the daemon renews it from the DSP tick), counted down here.
  std::atomic<uint16_t> ignoreHookState;
  int16_t counter;  // ms left in the current profile step
  CASPROFILE* profilep;
  int ept;
  VOS_MUTEX pMutex;
  CAS_CTL_CALLBACK casCallback;
  uint16_t currentCAS;    // last accepted condition
  uint16_t currentCount;  // ms since the last accepted change
  uint16_t deglitchCount;
  uint16_t newCount;
  uint16_t newCountFxs;
  uint16_t substate;
  uint16_t earlyOnState, earlyOffState, delayOnState, delayOffState;
  CAS_CTL_FXO_PARMS fxoParms;
};

struct CASLOCLMEM {
  uint16_t status;  // CAS_STATUS_ENABLED when enabled
  CASCHANNELINFO channelinfo;
  VOS_MUTEX pMutex;  // guards profiles, parameters and configuration (shared by all channels)
};

typedef void (*CAS_EVENT_CALLBACK)(CASEVT* event);

struct CASSRV {
  int inUse;
  CAS_EVENT_CALLBACK callbackp;
  CASLOCLMEM localmem;
};

CAS_CTL_STATUS casIO(CASLOCLMEM* mem, CASCMD* cmd);
// One 10 ms step of one channel; does nothing unless the channel is typed and enabled.
void casBlk(CASSRV* srv);
// Puts a channel back to its never-configured state (frees any profile).
void casReset(CASSRV* srv);

// The line driver requests the channels make; the board's by default. Tests put their own in.
struct CAS_LINE_OPS {
  int (*setMode)(int ept, int mode);
  int (*processEvents)(int ept);
  int (*isOffhook)(int ept);
  int (*getLoopCurrent)(int ept);
  int (*isRingActive)(int ept);
  int (*setFastSlicMode)(int ept, int value);
  int (*numEndpoints)(void);
};
// Null restores the board's requests.
void casSetLineOps(const CAS_LINE_OPS* ops);
const CAS_LINE_OPS& casLineOps();

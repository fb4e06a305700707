// Line signalling control: the public face of the CAS channels. It binds one channel to each
// analogue line, runs them every 10 ms on the "HCAS" task, turns ring requests into state profiles
// (country static patterns and provisioned bit cadences), staggers ringing on small boards, and
// offers the state changes the dispatcher and the caller-ID machines need. Events of the channels
// reach the library's callback as (handle, event type, event).
//
// Naming: CAS_TYPE_FXO and the CAS_CTL_FXO_* states belong to a channel that faces a telephone
// (the line card's FXS port); CAS_TYPE_FXS and CAS_CTL_FXS_* to one that faces the exchange
// through a DAA (the FXO port).
#pragma once

#include <cstdint>

// --- Status, handles, channel types -------------------------------------------------------

enum CAS_CTL_STATUS : int {
  CAS_CTL_SUCCESS = 0,
  CAS_CTL_FAILURE = 1,
};

// A channel index, 0 .. CAS_CTL_MAX_CHANNELS - 1.
typedef int CAS_CTL_HANDLE;
inline constexpr int CAS_CTL_MAX_CHANNELS = 8;

enum CAS_TYPE : uint16_t {
  CAS_TYPE_INACTIVE = 0,
  CAS_TYPE_FXO = 1,  // faces a telephone, senses hook through the SLIC
  CAS_TYPE_FXS = 2,  // faces the exchange through a DAA
};

// --- Control states, events ---------------------------------------------------------------

// Control states of a phone-facing channel.
enum CAS_CTL_FXO_INTERFACE_STATE : uint32_t {
  CAS_CTL_FXO_SERVICEDENIED = 0,
  CAS_CTL_FXO_IDLE = 1,
  CAS_CTL_FXO_ALERTING = 2,
  CAS_CTL_FXO_ALERTING_RING = 2,
  CAS_CTL_FXO_ALERTING_OHT = 3,
  CAS_CTL_FXO_ALERTING_OHTR = 4,
  CAS_CTL_FXO_ADDRESSING = 5,
  CAS_CTL_FXO_ACTIVE = 6,
  CAS_CTL_FXO_JAPAN_ALERTING = 7,
  CAS_CTL_FXO_JAPAN_ALERTING_CLID = 8,
  CAS_CTL_FXO_JAPAN_ALERTING_CLID_OFFHOOK = 9,
};

// Control states of an exchange-facing channel.
enum CAS_CTL_FXS_INTERFACE_STATE : uint32_t {
  CAS_CTL_FXS_RELEASED = 0,
  CAS_CTL_FXS_SEIZED = 1,
  CAS_CTL_FXS_CLIDRX = 2,
  CAS_CTL_FXS_RING_ON = 3,
};

enum CAS_CTL_EVENT : int32_t {
  CAS_CTL_EVENT_NONE = 0,
  CAS_CTL_EVENT_ONHOOK = 1,
  CAS_CTL_EVENT_OFFHOOK = 2,
  CAS_CTL_EVENT_WINK = 3,
  CAS_CTL_EVENT_FLASH = 4,
  CAS_CTL_EVENT_RINGON = 5,
  CAS_CTL_EVENT_RINGOFF = 6,
  CAS_CTL_EVENT_FIRST_RINGOFF = 7,
  CAS_CTL_EVENT_LCF = 8,
  CAS_CTL_EVENT_RLCF = 9,
  CAS_CTL_EVENT_LCFO = 10,
  CAS_CTL_EVENT_EARLY_OFFHOOK = 11,
  CAS_CTL_EVENT_EARLY_ONHOOK = 12,
  CAS_CTL_EVENT_DELAY_OFFHOOK = 13,
  CAS_CTL_EVENT_DELAY_ONHOOK = 14,
  CAS_CTL_EVENT_PULSECOMPLETE = 15,
  CAS_CTL_EVENT_OSI_END = 16,
  CAS_CTL_EVENT_TIMER_EXPIRE = 17,
  CAS_CTL_EVENT_BRIEF_RING = 18,
  CAS_CTL_EVENT_RINGEND = 19,
};

enum CAS_CTL_EVENT_TYPE : int32_t {
  CAS_CTL_DETECT_EVENT = 0,               // found by the hook and ring monitor
  CAS_CTL_STATECTL_EVENT = 1,             // the event of a profile step
  CAS_CTL_PULSEDIAL_EVENT = 2,            // the event value is the number of pulses
  CAS_CTL_BRIEF_RING_COMPLETE_EVENT = 3,  // a play-once ring has ended
};

// The library's receiver of channel events; runs on "HCAS". For CAS_CTL_PULSEDIAL_EVENT the
// event value is the pulse count.
typedef void (*CAS_CTL_CALLBACK)(CAS_CTL_HANDLE handle, CAS_CTL_EVENT_TYPE eventType,
                                 CAS_CTL_EVENT event);

// --- State profiles -----------------------------------------------------------------------

// The state information word:
//   bits 0-3   feed condition (10 forward loop feed, 2 reverse loop feed, 0 ringing, 15 open)
//   bits 4-9   event to report when the step is entered (CAS_CTL_EVENT, 0 = none)
//   bits 10-15 next step; 61 ends the profile (any index with 0xF400 set does)
//   bits 16-19 control state
//   bit 31     loop step: leaving it counts the profile's loop counter down
inline constexpr uint32_t CAS_FEED_FORWARD = 10;
inline constexpr uint32_t CAS_FEED_REVERSE = 2;
inline constexpr uint32_t CAS_FEED_RINGING = 0;
inline constexpr uint32_t CAS_FEED_OPEN = 15;
inline constexpr uint32_t CAS_NEXT_END = 61;
inline constexpr uint32_t CAS_END_MASK = 0xF400;
inline constexpr uint32_t CAS_LOOP_FLAG = 0x80000000u;

constexpr uint32_t casStateWord(uint32_t controlState, uint32_t next, uint32_t event,
                                uint32_t feed) {
  return (controlState & 0xF) << 16 | (next & 0x3F) << 10 | (event & 0x3F) << 4 | (feed & 0xF);
}
constexpr uint32_t casWordFeed(uint32_t word) { return word & 0xF; }
constexpr uint32_t casWordEvent(uint32_t word) { return (word >> 4) & 0x3F; }
constexpr uint32_t casWordNext(uint32_t word) { return (word >> 10) & 0x3F; }
constexpr uint32_t casWordControlState(uint32_t word) { return (word >> 16) & 0xF; }
constexpr bool casWordEndsProfile(uint32_t word) { return (word & CAS_END_MASK) == CAS_END_MASK; }

inline constexpr int CAS_CTL_MAX_PROFILE_STEPS = 297;

struct CASSTATEINFO {
  uint32_t stateinfo;
  uint32_t duration;  // ms; counted as a signed 16-bit value, longer ones are clamped
};

struct CASSTM {
  uint16_t loopcount;
  uint16_t afterloop;  // step index taken when the loop counter reaches 0
  CASSTATEINFO state[CAS_CTL_MAX_PROFILE_STEPS];
};

// --- Hook timing ----------------------------------------------------------------------------

// All in ms.
struct CAS_CTL_FXO_PARMS {
  uint32_t minHookFlash;
  uint32_t maxHookFlash;
  uint32_t pulseMinMake;
  uint32_t pulseMaxMake;
  uint32_t pulseMinBreak;
  uint32_t pulseMaxBreak;
  uint32_t minConnect;
  uint32_t minDisconnect;
  uint32_t minWink;
  uint32_t minPostWink;
  uint32_t earlyActiveHookInterval;
  uint32_t delayActiveHookInterval;
};
static_assert(sizeof(CAS_CTL_FXO_PARMS) == 48);

// --- Ring profiles ------------------------------------------------------------------------------

// A short cadence: 60 bits of 100 ms from the top of pattern1, then 4 flag bits (bit 3 of
// pattern2: play once).
inline constexpr int CAS_CTL_PROV_SHORT_RING_MAX_INTERVAL = 60;
// A long cadence: pattern1 bits 31-16 the length, bit 15 play once, bits 14-8 the loop start;
// up to 296 bits of 50 ms from bit 7 of pattern1 on.
inline constexpr int CAS_CTL_PROV_LONG_RING_MAX_INTERVAL = 296;

struct CAS_CTL_SHORT_RING_PATTERN {
  uint32_t pattern1;
  uint32_t pattern2;
};
struct CAS_CTL_LONG_RING_PATTERN {
  uint32_t pattern1, pattern2, pattern3, pattern4, pattern5;
  uint32_t pattern6, pattern7, pattern8, pattern9, pattern10;
};
union CAS_CTL_PROV_PATTERN {
  CAS_CTL_SHORT_RING_PATTERN shortRingPattern;
  CAS_CTL_LONG_RING_PATTERN longRingPattern;
  uint32_t words[10];
};
static_assert(sizeof(CAS_CTL_PROV_PATTERN) == 40);

// A static pattern: country << 8 | pattern id.
typedef uint32_t CAS_CTL_RING_PATTERN;
constexpr CAS_CTL_RING_PATTERN CAS_CTL_MAKE_RING_PATTERN(uint32_t country, uint32_t id) {
  return country << 8 | id;
}
inline constexpr uint32_t CAS_CTL_JAPAN_RING_ID_IR = 0;
inline constexpr uint32_t CAS_CTL_JAPAN_RING_ID_CAR = 1;
inline constexpr CAS_CTL_RING_PATTERN CAS_CTL_RING_JAPAN_IR = 0x1000;
inline constexpr CAS_CTL_RING_PATTERN CAS_CTL_RING_JAPAN_CAR = 0x1001;
inline constexpr CAS_CTL_RING_PATTERN CAS_CTL_RING_CYPRUS_RG = 0x600;
inline constexpr CAS_CTL_RING_PATTERN CAS_CTL_RING_CYPRUS_RS = 0x601;

enum CAS_CTL_PROV_RING_TYPE : int32_t {
  CAS_CTRL_SHORT_BRIEF_RING = 1,
  CAS_CTRL_SHORT_NORMAL_RING = 2,
  CAS_CTRL_LONG_BRIEF_RING = 3,
  CAS_CTRL_LONG_NORMAL_RING = 4,
  CAS_CTRL_STATIC_RING = 5,
};

struct CAS_CTL_RING_PROFILE {
  CAS_CTL_PROV_PATTERN provBits;
  CAS_CTL_RING_PATTERN pattern;  // static patterns only
  CAS_CTL_PROV_RING_TYPE ringType;
  uint32_t clidTxDelay;  // ms
};

// --- Other parameters -------------------------------------------------------------------------

enum CAS_CTL_POLARITY : int32_t {
  CAS_CTL_POLARITY_FORWARD = 0,
  CAS_CTL_POLARITY_REVERSE = 1,
};

// Open-switch interval patterns of casCtlSupervisoryDisconnect.
enum CAS_OSI_PATTERN : int32_t {
  CAS_OSI_VMWI = 0,
  CAS_OSI_DEFAULT = 1,
};

inline constexpr int CAS_IGNOREHOOKSTATE_ON = 0xFFFF;
inline constexpr int CAS_IGNOREHOOKSTATE_OFF = 0;

// --- Calls ------------------------------------------------------------------------------------

CAS_CTL_STATUS casCtlInit(CAS_CTL_CALLBACK callback);
CAS_CTL_STATUS casCtlDeinit(void);
// Binds the first free channel to line driver endpoint `ept`.
CAS_CTL_STATUS casCtlEndptInit(int ept, CAS_TYPE channelType, CAS_CTL_HANDLE* handle,
                               const CAS_CTL_FXO_PARMS* fxoParms,
                               CAS_CTL_CALLBACK casCallback = nullptr);
CAS_CTL_STATUS casCtlEndptDeinit(CAS_CTL_HANDLE handle);

CAS_CTL_STATUS casCtlRingOn(CAS_CTL_HANDLE handle);
CAS_CTL_STATUS casCtlRingProfileOn(CAS_CTL_HANDLE handle, const CAS_CTL_RING_PROFILE* profile,
                                   int ringInterleave);
CAS_CTL_STATUS casCtlRingOff(CAS_CTL_HANDLE handle, int alert);
// True when the line's signalling is idle: the on-hook has been taken, whether or not its event
// has been processed yet.
bool casCtlLineIdle(CAS_CTL_HANDLE handle);
CAS_CTL_STATUS casCtlChangePolarity(CAS_CTL_HANDLE handle, CAS_CTL_POLARITY polarity,
                                    CAS_CTL_EVENT event, uint32_t eventDelay);
// state: 0 service denied, 1 idle, 2 ringing, 3 on-hook transmission, 4 reverse on-hook
// transmission, 5 addressing, 6 active, 9 Japanese caller-ID alerting off-hook. A duration gives
// a timer-expire event once it has passed.
CAS_CTL_STATUS casCtlSetStateGenEvent(CAS_CTL_HANDLE handle, uint32_t state, uint32_t duration);
CAS_CTL_STATUS casCtlSetState(CAS_CTL_HANDLE handle, uint32_t state);
CAS_CTL_STATUS casCtlSetStateFXS(CAS_CTL_HANDLE handle, uint32_t state);
CAS_CTL_STATUS casCtlSupervisoryDisconnect(CAS_CTL_HANDLE handle, uint32_t duration,
                                           CAS_OSI_PATTERN pattern);
CAS_CTL_STATUS casCtlSupervisoryDisconnectOn(CAS_CTL_HANDLE handle);
CAS_CTL_STATUS casCtlSupervisoryDisconnectOff(CAS_CTL_HANDLE handle, int alert, int offhook);
// Hook changes are ignored for `duration` ms (CAS_IGNOREHOOKSTATE_ON 0xFFFF at most).
// Safe to call from any thread.
CAS_CTL_STATUS casCtlIgnoreHookState(CAS_CTL_HANDLE handle, int duration);
CAS_CTL_STATUS casCtlEnableFastSlicStateMode(CAS_CTL_HANDLE handle, int enable);

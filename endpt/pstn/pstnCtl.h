// FXO line control: the lines that face the operator's exchange. The "PSTN" task, every 50 ms,
// dials out (waits for dial tone, then sends the dial string as DTMF), listens for release tones
// after dialling and answer, and receives caller ID sent as DTMF around the ring bursts. Events
// arrive through pstnCtlSendEvent; reports leave through one callback, which runs on the task and
// may block it until the library has taken the report.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"
#include "vrgEndptTypes.h"
#include "vrgProvValues.h"

enum PSTN_CTL_STATUS : int32_t {
  PSTN_CTL_SUCCESS = 0,
  PSTN_CTL_FAILURE = 1,
};

inline constexpr int PSTN_CTL_MAX_CHANNELS = 4;
inline constexpr uint16_t PSTN_CTL_FREE_VHD = 255;
inline constexpr int PSTN_CTL_DIALSTRING_SIZE = 32;
inline constexpr int PSTN_CTL_DIALTONE_TIMEOUT_MS = 5000;
inline constexpr int PSTN_CTL_PERIOD_MS = 50;

enum PSTN_CTL_EVENT : uint16_t {
  PSTN_CTL_EVT_CALL_SETUP = 0,
  PSTN_CTL_EVT_CPTONE_DETECT = 1,
  PSTN_CTL_EVT_CPTONE_TIMEOUT = 2,
  PSTN_CTL_EVT_DIAL_COMPLETE = 3,
  PSTN_CTL_EVT_CALL_SETUP_COMPLETE = 4,
  PSTN_CTL_EVT_OFFHOOK = 5,
  PSTN_CTL_EVT_ONHOOK = 6,
  PSTN_CTL_EVT_RINGON = 7,
  PSTN_CTL_EVT_RINGOFF = 8,
  PSTN_CTL_EVT_RINGEND = 9,
  PSTN_CTL_EVT_DTMF_DIGIT = 10,
  PSTN_CTL_EVT_VALID_DTMFCLID = 11,
  PSTN_CTL_EVT_PARTIAL_DTMFCLID = 12,
  PSTN_CTL_EVT_INVALID_DTMFCLID = 13,
  PSTN_CTL_EVT_ANSWER = 14,
  PSTN_CTL_EVT_NONE = 15,
};

// An event for FXO control: hsxdevhdl the PSTN VHD, hsxevt the event, hsxop1 the line (call
// set-up, tone detection) or the digit code, hsxop2.ref the dial string (call set-up) or a
// pointer to the detector's filter slot byte (tone detection; none means slot 2).
typedef HSZEVT PSTN_CTL_EVT;

// A report to the library.
struct PSTN_CTL_EVENT_INFO {
  PSTN_CTL_EVENT event;
  void* pInfo;  // PSTN_CTL_CLID_EVENT_INFO for the caller-ID reports, else none
};

typedef void (*PSTN_CTL_CALLBACK)(uint16_t vhdHdl, PSTN_CTL_EVENT_INFO* info);

enum PSTN_CTL_CHAN_STATE : int32_t {
  PSTN_CTL_CHAN_STATE_IDLE = 0,
  PSTN_CTL_CHAN_STATE_WAIT_DIAL_TONE = 1,
  PSTN_CTL_CHAN_STATE_GENERATE_DTMF = 2,
};

// --- DTMF caller-ID reception ---

enum DTMFCLIDRX_SERVICE_STATE : int32_t {
  DTMFCLIDRX_IDLE = 0,
  DTMFCLIDRX_COLLECTING = 1,
  DTMFCLIDRX_WAITINGFOREND = 2,
};

enum DTMFCLIDRX_RING_STATE : int32_t {
  DTMFCLIDRX_NORING = 0,
  DTMFCLIDRX_FIRSTRINGON = 1,
  DTMFCLIDRX_FIRSTRINGOFF = 2,
  DTMFCLIDRX_SECONDRING = 3,
  DTMFCLIDRX_RINGEND = 4,
};

enum DTMFCLIDRX_CLID_TYPE : int32_t {
  DTMFCLIDRX_PRERING_CLID = 0,
  DTMFCLIDRX_FIRSTRING_CLID = 1,
  DTMFCLIDRX_INVALID_CLID = 2,
};

enum DTMFCLIDRX_TIMER_TYPE : int32_t {
  DTMFCLIDRX_DTMF_PAUSE_TIMER = 0,
  DTMFCLIDRX_SESSION_TIMER = 1,
  DTMFCLIDRX_RINGAFTERCLID_TIMER = 2,
  DTMFCLIDRX_NUM_TIMERS = 3,
};

// Bits of internalEvents.
enum : uint32_t {
  DTMFCLIDRX_EVT_PAUSE_TIMEOUT = 0x1,
  DTMFCLIDRX_EVT_SESSION_TIMEOUT = 0x2,
  DTMFCLIDRX_EVT_RINGAFTERCLID_TIMEOUT = 0x4,
  DTMFCLIDRX_EVT_END_CODE = 0x8,
  DTMFCLIDRX_EVT_PARSED_NO_END = 0x10,
  DTMFCLIDRX_EVT_PARSED_WITH_END = 0x20,
  DTMFCLIDRX_EVT_INVALID = 0x40,
  DTMFCLIDRX_EVT_RESET = 0x80,
  DTMFCLIDRX_EVT_ERROR_RESET = 0x100,
  DTMFCLIDRX_EVT_PARSE_ERROR = 0x200,
};

enum DTMFCLIDRX_INFO : int32_t {
  DTMFCLIDRX_INFO_NONE = 0,
  DTMFCLIDRX_INFO_PRIVATE = 1,
  DTMFCLIDRX_INFO_UNAVAILABLE = 2,
  DTMFCLIDRX_INFO_ERROR = 3,
};

struct DTMFCLIDRX_TIMER {
  uint32_t counter;  // ms
  uint32_t timeout;  // ms
  int running;
  uint32_t timeoutEvent;  // the internalEvents bit it sets
  DTMFCLIDRX_TIMER_TYPE type;
};

struct DTMFCLIDRX_STATE_INFO {
  DTMFCLIDRX_SERVICE_STATE serviceState;
  int offHook;
  DTMFCLIDRX_RING_STATE ringState;
  DTMFCLIDRX_CLID_TYPE clidType;
  DTMFCLIDRX_TIMER timer[DTMFCLIDRX_NUM_TIMERS];
};

inline constexpr int DTMFCLIDRX_MAX_DIGITS = 81;
inline constexpr int DTMFCLIDRX_NUMBER_SIZE = 21;

struct DTMFCLIDRX_PARSED_DATA {
  char callingNumber[DTMFCLIDRX_NUMBER_SIZE];
  char redirectingNumber[DTMFCLIDRX_NUMBER_SIZE];
  DTMFCLIDRX_INFO infoRecieved;
  char clidString[DTMFCLIDRX_MAX_DIGITS];
};

struct DTMFCLIDRX_CLID_INFO {
  uint8_t collectBuffer[DTMFCLIDRX_MAX_DIGITS + 1];
  int collectBufLen;
  DTMFCLIDRX_PARSED_DATA parsedData;
};

struct PSTN_CTL_DTMFCLIDRX_STATE {
  uint16_t vhdHdl;
  int enabled;
  DTMFCLIDRX_STATE_INFO stateInfo;
  int eventSent;
  uint32_t internalEvents;
  VRG_CLASS_DTMF* dtmfClidParms;  // the receiver's own copy
  VRG_COUNTRY country;
  DTMFCLIDRX_CLID_INFO clidInfo;
};

// The report of a received DTMF caller ID.
struct PSTN_CTL_CLID_EVENT_INFO {
  DTMFCLIDRX_PARSED_DATA clidData;
  DTMFCLIDRX_CLID_TYPE clidType;
};

struct PSTN_CTL_CHAN_INFO {
  uint16_t vhdHdl;  // PSTN_CTL_FREE_VHD when the channel is free
  PSTN_CTL_CHAN_STATE state;
  char dialString[PSTN_CTL_DIALSTRING_SIZE];
  PSTN_CTL_DTMFCLIDRX_STATE dtmfClidRx;
  int timeoutCount;  // ms waited for dial tone
};

PSTN_CTL_STATUS pstnCtlInit(VRG_COUNTRY country, PSTN_CTL_CALLBACK callback);
PSTN_CTL_STATUS pstnCtlDeinit(void);
PSTN_CTL_STATUS pstnCtlEndptInit(uint16_t vhdHdl);
PSTN_CTL_STATUS pstnCtlDTMFClidRxInit(VRG_COUNTRY country, uint16_t vhdHdl, const VRG_CLASS_DTMF* dtmfParms);
// 255 frees the receivers of every channel.
PSTN_CTL_STATUS pstnCtlDTMFClidRxDestroy(uint16_t vhdHdl);
PSTN_CTL_STATUS pstnCtlSendEvent(const PSTN_CTL_EVT* event);

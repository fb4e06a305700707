// The digit and tone service: DTMF detection in both directions with events, relay and squelch;
// cadenced call-progress and custom tones in either direction; dial strings and the playout of
// relayed digits towards the line. Everything runs in 40-sample blocks of the frame.
#pragma once

#include <cstdint>

#include "dtmfd.h"
#include "hsf/hsf.h"
#include "pte_codes.h"
#include "pte_regs.h"
#include "pte_tone.h"
#include "tone.h"

inline constexpr int PTE_BLOCK = 40;

// ---- custom tone profile with five tones per group (the converted host profile) ----
struct PTE_TONE_INFO {
  uint16_t freq;
  uint16_t amp;
};
struct PTE_PULSE {
  uint16_t PulseType;
  uint16_t PulseNextState;
  uint16_t PulseFreqMask;
  uint16_t PulseTime;  // ms
};
inline constexpr int PTE_NUMTONES = 5;
struct PTE_FREQ_GRP {
  uint16_t signalLevel;
  PTE_TONE_INFO tone[PTE_NUMTONES];
  uint16_t freqGroupRepeatCount;
  uint16_t freqGroupInfo;
  PTE_PULSE Pulse[HAPI_PTE_NUMCADENCES];
};
static_assert(sizeof(PTE_FREQ_GRP) == 42);
struct PTE_CUSTOM_TONE_PROFILE {
  uint16_t wholeToneRepeatCount;
  uint16_t numFreqGroups;
  PTE_FREQ_GRP freqGrp[HAPI_PTE_NUMFREQUENCY_GRP];
};
struct PTE_CTP_PACKET {
  uint16_t signalContrl;
  PTE_CUSTOM_TONE_PROFILE profile;
};
static_assert(sizeof(PTE_CTP_PACKET) == 216, "custom tone packet is 216 bytes");

inline constexpr uint16_t HAPI_PTE_MEDIAQWMASK = 0x0004;
inline constexpr uint16_t HAPI_PTE_SLOTNUMMASK = 0xFF00;
inline constexpr int HAPI_PTE_NUM_TONEGEN_SLOTS = 3;

// ---- generator state ----
struct PTE_SIGNAL_FREQ_GRP {
  HSZTONE Tone[PTE_NUMTONES];
  PTE_PULSE Pulse[HAPI_PTE_NUMCADENCES];
  uint16_t freqGrpRepeatCnt;
  uint16_t nFreq;
  uint16_t nState;
};

struct PTE_SIGNAL {
  uint32_t Duration;  // blocks; 0 = unlimited
  uint16_t mediaqwrt;
  uint16_t nFreqGrp;
  uint16_t currentPulseNum;  // cadence state; 2 = finished
  uint16_t currentPulseCnt;  // ms in the state
  uint16_t currentFreqGrp;
  uint16_t remFreqGrpRepeatCnt;
  uint16_t remWholeToneRepeatCnt;
  PTE_SIGNAL_FREQ_GRP freqGrp[HAPI_PTE_NUMFREQUENCY_GRP];
};

inline constexpr int PTE_RELAY_QUEUE = 32;
struct PTE_RELAY {
  HSZTONE Tone[2];  // low and high DTMF tone
  int32_t stateTimer;  // samples
  uint16_t pauseTime;
  uint16_t minPulseOn;
  uint16_t minPulseOff;
  uint16_t previousTimeStamp;
  uint16_t dbmLevel;
  uint16_t dbmSkew;
  uint16_t numDigits;
  uint16_t currentState;  // index of the next digit
  uint16_t currentStateOff : 1;  // no tone sounding
  uint16_t endStateOff : 1;      // the last relayed digit has ended
  uint16_t digit : 8;            // digit now played
  uint16_t digitArray[PTE_RELAY_QUEUE];
  uint16_t toneTimer;  // samples the current tone has sounded
  int32_t duration;    // -1 = until the next digit
};

// ---- detection state machine ----
enum STM_STATE : uint16_t {
  PTE_GUARD = 0,
  PTE_IDLE = 1,
  PTE_PRE = 2,
  PTE_ON = 3,
  PTE_ON_LONG = 4,
  PTE_HOLD = 5,
  PTE_POST = 6,
  PTE_ABORT = 7,
};

struct DETCTRL {
  uint16_t digitOBD;  // digits whose tone-on event went to the host
  uint16_t digitIBD;  // digits relayed to the packet side
  uint16_t state;     // STM_STATE
  int16_t digit;      // -1 = none
  uint16_t refreshCount;  // samples
  uint16_t on;
  uint16_t off;
  uint16_t abort;
  uint16_t idle;
  uint16_t power;  // last relayed power
};

// Detector timing, in 5 ms blocks.
struct DTDET_CFG {
  uint16_t minpre;
  uint16_t minon[HAPI_PTE_DTMFDMAXDGT];
  uint16_t extraon;
  uint16_t minoff;
  uint16_t minidle;
  uint16_t minabort;
  uint16_t extraoff;
};
extern const DTDET_CFG dtmfdCfgParams;

struct PTE_DECODERMEM {
  PTE_RELAY relay;
  PTE_SIGNAL signal;
  DTMFD_STATE egressDet;
};
struct PTE_ENCODERMEM {
  DTMFD_STATE ingressDet;
};

inline constexpr int PTE_EVT_SLOTS = 4;
struct PTEINSTANCEMEM {
  HAPI_PTE_REGS regs;
  HAPI_PTE_STATS stats;
  HAPI_PTE_STATE state;
  DETCTRL detState;        // ingress
  DETCTRL detEgressState;  // egress
  PTE_DECODERMEM ptedecstate;
  PTE_ENCODERMEM pteencstate;
  uint16_t newOptions;
  uint16_t currentOptions;
  bool ingressGen;
  bool egressGen;
  uint16_t enabled : 1;
  uint16_t genMode : 2;  // 0 none, 1 relay or dial-string playout, 2 custom tone
  uint16_t resetStats : 1;
  uint16_t resetVoice : 1;
  uint8_t reStoreAmp;
  // Event data handed out by reference must stay put until the host has taken it.
  HAPI_PTE_TONEGENEVT toneGenEvt[PTE_EVT_SLOTS];
  uint16_t toneGenEvtNext;
  HAPI_PTE_REGS regsReply;
  HAPI_PTE_STATS statsReply;
  HAPI_PTE_STATE stateReply;
};

enum : uint16_t { PTE_GEN_NONE = 0, PTE_GEN_PLAYOUT = 1, PTE_GEN_CUSTOM = 2 };

extern const HSFSRVARC ptearc;

HAPIRESULT pteInit(HSFSRVOBJ srvp);
void pteIngress(HSFSRVOBJ srvp);
void pteEgress(HSFSRVOBJ srvp);
HAPIRESULT pteIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* reply);

// Detection (one step per block; 1 = digit present, squelch this block).
enum PTE_DIR { PTE_DIR_INGRESS = 0, PTE_DIR_EGRESS = 1 };
void pteInitStm(DETCTRL* det);
// Whether a block without a digit would leave the machine exactly as it is (idle, nothing
// counting, no voice-resume pending), so that its step may be left out.
bool pteStmRestsOnNoDigit(const DETCTRL* det);
int pteStm(PTEINSTANCEMEM* pte, DETCTRL* det, PTE_DIR dir, uint16_t options, int16_t digit, uint16_t power,
           ptesrv::HAPI_PTE_FILTER* filter);

// Generation.
HAPIRESULT pteToneGenCmd(PTEINSTANCEMEM* pte, const PTE_CTP_PACKET* pkt);
void pteGenShutdown(PTEINSTANCEMEM* pte);
void pteBigressToneGen(PTEINSTANCEMEM* pte, PTE_DIR dir);
void pteSetupDialString(PTEINSTANCEMEM* pte, const ptesrv::HAPI_PTE_DIALSTRING* ds);
void pteEgressToneRelay(PTEINSTANCEMEM* pte);
void pteSendToneGenEvt(PTEINSTANCEMEM* pte, uint16_t slot, uint16_t index, uint16_t state);

// The current direction's frame samples, and the frame length.
int16_t* pteMedia();

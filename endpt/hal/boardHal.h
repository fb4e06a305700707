// The board hardware abstraction: the DSP driver (channels, the 5 ms tick task "HTSK", one PCM
// frame per channel and tick), the line driver (SLIC/DAA control, hook and ring sensing, line
// tests delivered by the "voice-events" task) and their start and stop in a fixed order.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "dsphalDrv.h"
#include "slicslacDrv.h"
#include "voiceLog.h"
#include "vrgEndptTypes.h"

// --- Start and stop --------------------------------------------------------------------------

// 0, or the failed step negated: 1 event task, 2 DSP driver, 3 tick task, 4 line driver,
// 5 capture task. Earlier steps are not undone.
int boardHalInit(VRG_COUNTRY country);
int boardHalDeinit(void);
int boardHalIsrEnable(void);
int boardHalIsrDisable(void);
int boardHalIntCountGet(void);

// --- DSP driver --------------------------------------------------------------------------------

inline constexpr int BOARD_HAL_MAX_CHANNELS = 8;

struct BOARD_HAL_DSP_CFG {
  uint8_t codecCapabilities[CODEC_MAX_TYPES];  // CODEC_SUPPORTED / CODEC_UNSUPPORTED
  uint8_t vbdCapability;
  int isWidebandEnabled;
  int frameSyncSamples;
  int maxEndPts;
  int maxFullCnxs;
  int maxLiteCnxs;
  int maxRfc2198Level;
  int gplcSupport;
  int bvcSupport;
  int isEquEnabled;
};

typedef void (*BOARD_HAL_DSP_TASK_FUNC)(void);

int boardHalDspHalInit(void);
void boardHalDspHalDeinit(void);
int boardHalDspHalWaitTick(void);
int boardHalGetNumEndpoints(void);
int boardHalGetNumTypeEndpoints(dh_type type);
int boardHalIsType(int ept, dh_type type);
int boardHalGetChannelRate(int ept);
void boardHalSetClearChannel(int ept, int enabled);
void boardHalChannelSetEnable(int ept, int enable);
void boardHalDsphalSetLogLevel(int level);
void boardHalSetVoiceIdle(int idle);
int boardHalDspInit(void);
void boardHalDspDeinit(void);
void boardHalDspTaskHalt(void);
void boardHalDspTaskResume(void);
void boardHalDspRegisterCallback(BOARD_HAL_DSP_TASK_FUNC function);
void boardHalDspGetCfg(BOARD_HAL_DSP_CFG* cfg);
void boardHalDspDisplayCfg(void);

// One frame per channel and tick, in both directions; called from the tick handler.
void lhapiProcessIngress();
void lhapiProcessEgress();

// Per-frame hooks; they do nothing.
void g168_rout(int line, int16_t* samples, int size);
void g168_rin(int line, int16_t* samples, int size);
void g168_sout(int line, int16_t* samples, int size);
void g168_sin(int line, int16_t* samples, int size);
void dspcap_ingress(int line, int16_t* buffer, int size);
void dspcap_egress(int line, int16_t* buffer, int size);

// Where frames meet the DSP framework's hardware shim (ports 0..7).
int boardHalShimCfgDevice(unsigned port, int enable, int wideband);
void boardHalShimIngress(const int16_t* samples, unsigned port);
void boardHalShimEgress(int16_t* samples, unsigned port);

// --- Line driver -------------------------------------------------------------------------------

// A line-test result as handed to the library.
typedef ss_lt_volt BOARD_HAL_LT_VOLT;
typedef ss_lt_imp BOARD_HAL_LT_IMP;
typedef ss_lt_self BOARD_HAL_LT_SELF;
typedef ss_lt_result BOARD_HAL_LT_EVENT;

// The library's receiver of good line-test results (runs on "voice-events").
void BoardHalSsEventCallback(BOARD_HAL_LT_EVENT* event);

int boardHalSsInit(VRG_COUNTRY country);
int boardHalSsDeinit(void);
void boardHalSsSetLogLevel(int level);
int boardHalSlicEnable(int ept, int enable);
int boardHalSetFastSlicMode(int ept, int value);
int boardHalSlicLineTest(int ept, int testId);
int boardHalGetDlp(int ept);
int boardHalGetElp(int ept);
int boardHalSetRingParms(int ept, int freq, int wave, int vol, int offset, int offsetCal);
int boardHalSetSlicMode(int ept, int mode);
int boardHalSetSlicPhaseRev(int ept, int phrev);
int boardHalSetSlicBoostedLoopCurrent(int ept, int value);
int boardHalSetSlicPowerSource(int ept, int value);
int boardHalSendPulseSignal(int ept, int dur, int per, int rep, int amp, int freq);
int boardHalProcessSlicEvents(int ept);
int boardHalSetAnalogLoopback(int ept, int enabled);
int boardHalIsOffhook(int ept);
int boardHalGetLoopCurrent(int ept);
int boardHalIsRingActive(int ept);
int boardHalGetSlicParms(int ept, int* phrev, int* lc, int* ps, int* mode);
int boardHalLedControl(int ept, int value);
int boardHalSlicHistoryRate(int ept);
int boardHalSlicHistorySize(int ept);

// The "voice-events" task: waits on registered descriptors and calls their handlers.
typedef void (*BH_EVENT_HANDLER)(int fd, uint32_t events);
int boardHalEventInit(void);
void boardHalEventDeinit(void);
int bhEventPoll(int fd, uint32_t flags, BH_EVENT_HANDLER handler);

// --- Capture -------------------------------------------------------------------------------------

// Header of a captured block.
struct halcap_msg {
  uint8_t msg;
  uint8_t line;
  uint16_t length;
  uint8_t op;
} __attribute__((packed));
static_assert(sizeof(halcap_msg) == 5);

int boardHalCapInit(void);
void boardHalCapDeinit(void);
// Capture of audio and log messages: nothing in this system reads captures, so both do nothing.
void halcap_write(int cmd, int line, const void* data, int length, int op, uint32_t time);
void halcap_log(VOICE_MODULE module, VOICE_LOGLEVEL level, const struct timeval* time,
                const char* format, va_list args);

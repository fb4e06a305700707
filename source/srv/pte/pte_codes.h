// Command, event and in-band message codes of the digit and tone service, its mode options and
// the records the host exchanges with it besides the registers and tone profiles.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"

// Commands.
inline constexpr uint16_t HAPI_PTE_TONE_GEN_CMD = HSF_MKCMD_EXT(HAPI_PTE_SRV, 1);      // 0x0901
inline constexpr uint16_t HAPI_PTE_DIALSTRING_CMD = HSF_MKCMD_EXT(HAPI_PTE_SRV, 2);    // 0x0902
inline constexpr uint16_t HAPI_PTE_FILTER_CMD = HSF_MKCMD_EXT(HAPI_PTE_SRV, 3);        // 0x0903
inline constexpr uint16_t HAPI_PTE_CTP_GEN_CMD = HSF_MKCMD_EXT(HAPI_PTE_SRV, 9);       // 0x0909
inline constexpr uint16_t HAPI_PTE_SETREGS_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_SETREGS_CMD);  // 0x0932
inline constexpr uint16_t HAPI_PTE_TONE_END_CMD = HSF_MKCMD_STD(HAPI_PTE_SRV, 0);      // 0x0980
inline constexpr uint16_t HAPI_PTE_TONE_VOLUME_CMD = HSF_MKCMD_STD(HAPI_PTE_SRV, 7);   // 0x0987
inline constexpr uint16_t HAPI_PTE_RESTORE_DECAY_AMP_CMD = HSF_MKCMD_STD(HAPI_PTE_SRV, 8);  // 0x0988
inline constexpr uint16_t HAPI_PTE_ENABLE_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_ENABLE_CMD);         // 0x09B0
inline constexpr uint16_t HAPI_PTE_GETREGS_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_GETREGS_CMD);       // 0x09B1
inline constexpr uint16_t HAPI_PTE_SETREG1_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_SETREG1_CMD);       // 0x09B4
inline constexpr uint16_t HAPI_PTE_GETSTATS_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_GETSTATS_CMD);     // 0x09B5
inline constexpr uint16_t HAPI_PTE_GETSTATE_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_GETSTATE_CMD);     // 0x09B6
inline constexpr uint16_t HAPI_PTE_RESET_STATS_CMD = HSF_MKHDR(HAPI_PTE_SRV, HAPI_OPC_RESET_STATS_CMD);  // 0x09B8

// Events.
inline constexpr uint16_t HAPI_PTE_TONE_GEN_EVT = HSF_MKEVT_EXT(HAPI_PTE_SRV, 2);      // 0x0942
inline constexpr uint16_t HAPI_PTE_GETREGS_EVT = HSF_MKEVT_EXT(HAPI_PTE_SRV, 8);       // 0x0948
inline constexpr uint16_t HAPI_PTE_GETSTATS_EVT = HSF_MKEVT_EXT(HAPI_PTE_SRV, 9);      // 0x0949
inline constexpr uint16_t HAPI_PTE_GETSTATE_EVT = HSF_MKEVT_EXT(HAPI_PTE_SRV, 10);     // 0x094A
inline constexpr uint16_t HAPI_PTE_TONE_ON_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 0);       // 0x09C0
inline constexpr uint16_t HAPI_PTE_TONE_OFF_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 1);      // 0x09C1
inline constexpr uint16_t HAPI_PTE_ABORT_TONE_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 3);    // 0x09C3
inline constexpr uint16_t HAPI_PTE_DR_EGRESS_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 4);     // 0x09C4
inline constexpr uint16_t HAPI_PTE_ERROR_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 8);         // 0x09C8 (never sent)
inline constexpr uint16_t HAPI_PTE_TONE_ON_EGRESS_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 11);     // 0x09CB
inline constexpr uint16_t HAPI_PTE_TONE_OFF_EGRESS_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 12);    // 0x09CC
inline constexpr uint16_t HAPI_PTE_ABORT_TONE_EGRESS_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 13);  // 0x09CD

// The codec service's copy of the mode options.
inline constexpr uint16_t HAPI_CODEC_PTEOPTION_CMD = HSF_MKCMD_STD(HAPI_CODEC_SRV, 9);  // 0x0289

// Mode options.
enum : uint16_t {
  HAPI_PTE_EGRESSMASK = 0x0001,
  HAPI_PTE_INGRESSMASK = 0x0002,
  HAPI_PTE_MODE_DETECTOR_MASK = 0x000F,
  HAPI_PTE_MODE_DIG_RELAY = 0x0010,
  HAPI_PTE_MODE_DIG_EVT = 0x0020,
  HAPI_PTE_MODE_DR_EG_EVT = 0x0040,
  HAPI_PTE_MODE_SQUELCH = 0x0080,
  HAPI_PTE_MODE_G711_UPSPEED = 0x0100,
  HAPI_PTE_MODE_G711_UPSPEED_LAW = 0x0200,
  HAPI_PTE_MODE_INGRESS_GEN_TO_MEDQ = 0x0400,
};

// Digit filter control bits.
enum : uint16_t {
  HAPI_PTE_FILTER_TYPE_PERMANENT = 0,
  HAPI_PTE_FILTER_TYPE_TRIGGER = 1,
  HAPI_PTE_FILTER_OFF_TO_HOST = 0,
  HAPI_PTE_FILTER_OFF_NOT_TO_HOST = 2,
};
inline constexpr uint16_t HAPI_PTE_LONG_DETECT_TIME_DEFAULT = 0;

// Tone codes of the relay messages and packets (payloadID low byte); an odd code is an "off".
enum HAPI_PKT_TONECODE : uint16_t {
  HAPI_PKT_TC_DTMF_ON = 0,
  HAPI_PKT_TC_DTMF_OFF = 1,
  HAPI_PKT_TC_MFR1_ON = 2,
  HAPI_PKT_TC_MFR1_OFF = 3,
  HAPI_PKT_TC_MFR2F_ON = 4,
  HAPI_PKT_TC_MFR2F_OFF = 5,
  HAPI_PKT_TC_MFR2B_ON = 6,
  HAPI_PKT_TC_MFR2B_OFF = 7,
  HAPI_PKT_TC_TONE_UPSPEED = 8,
  HAPI_PKT_TC_TONE_INGRESS = 9,
  HAPI_PKT_TC_NO_TONE = 10,
  HAPI_PKT_TC_CPG_ON = 11,
  HAPI_PKT_TC_CUSTOM_ON = 12,
  HAPI_PKT_TC_DIALSTRINGCOMPLETE = 13,
  HAPI_PKT_TC_TONE_NOCODE = 255,
};
inline constexpr uint16_t HAPI_PKT_TONE = 3;  // relay message headers: HAPI_PKT_TONE << 8 | tone code
inline constexpr uint16_t PTE_RELAY_ON_MSG = HAPI_PKT_TONE << 8 | HAPI_PKT_TC_DTMF_ON;        // 0x0300
inline constexpr uint16_t PTE_RELAY_OFF_MSG = HAPI_PKT_TONE << 8 | HAPI_PKT_TC_DTMF_OFF;      // 0x0301
inline constexpr uint16_t PTE_RELAY_VOICE_MSG = HAPI_PKT_TONE << 8 | HAPI_PKT_TC_TONE_NOCODE; // 0x03FF

// Payload of a tone-relay packet behind its HAPI_PKT_HDR.
struct HAPI_PKT_TONEPAYLOAD {
  uint16_t digitpwrlevel;  // digit << 8 | power in dB below 0 dBm0
  uint16_t duration;       // samples
};
static_assert(sizeof(HAPI_PKT_TONEPAYLOAD) == 4);

// Counters, state and filter as the host reads and writes them.
struct HAPI_PTE_STATS {
  uint16_t numEarlyFalses;
  uint16_t numDetectedDigits;
  uint16_t numLostDigits;
  uint16_t numGeneratedDigits;
};
static_assert(sizeof(HAPI_PTE_STATS) == 8);

struct HAPI_PTE_STATE {
  uint16_t modeOptions;
  uint16_t filterControl;
  uint16_t filterDigit;
  uint16_t filterLongDigit;
  uint16_t longDetectTime;  // 100 ms units; 0 = no long digits
  uint16_t reserved;
};
static_assert(sizeof(HAPI_PTE_STATE) == 12);
inline constexpr HAPI_PTE_STATE HAPI_PTE_DEF_STATE = {0, 0, 0xFFFF, 0xFFFF, HAPI_PTE_LONG_DETECT_TIME_DEFAULT, 0};

inline constexpr int HAPI_PTE_GEN_MAX_DIGITS = 32;
inline constexpr uint8_t HAPI_PTE_PAUSE_DIGIT = 0xFF;

// The host library declares its own copies of the next two records; the service's live in this
// namespace so that a program holding both has one definition of each name.
namespace ptesrv {

// The filter words of the state, as the filter command carries them.
struct HAPI_PTE_FILTER {
  uint16_t filterControl;
  uint16_t filterDigit;
  uint16_t filterLongDigit;
  uint16_t longDetectTime;
};
static_assert(sizeof(HAPI_PTE_FILTER) == 8, "the filter command carries 8 bytes");

// Dial string command (46 bytes).
struct HAPI_PTE_DIALSTRING {
  uint16_t encoderType;  // 0 = DTMF, the only kind accepted
  uint16_t dBmLevel;
  uint16_t dBmSkew;
  uint16_t pulseOnTime;   // samples
  uint16_t pulseOffTime;  // samples
  uint16_t pauseTime;     // samples
  uint16_t numCharacters;
  uint8_t digitArray[HAPI_PTE_GEN_MAX_DIGITS];
};
static_assert(sizeof(HAPI_PTE_DIALSTRING) == 46, "dial string command is 46 bytes");

}  // namespace ptesrv

// Data of HAPI_PTE_TONE_GEN_EVT.
struct HAPI_PTE_TONEGENEVT {
  uint16_t slotNum;
  uint16_t toneIndex;
  uint16_t toneState;
};
static_assert(sizeof(HAPI_PTE_TONEGENEVT) == 6);

// Register defaults.
inline constexpr uint16_t HAPI_PTE_DEFAULT_PAUSETIME = 400;
inline constexpr uint16_t HAPI_PTE_DEFAULT_MINPULSEOFF = 400;
inline constexpr uint16_t HAPI_PTE_DEFAULT_MINPULSEON = 400;

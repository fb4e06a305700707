// Tone request of the digit and tone service: a cadenced profile of up to five frequency groups,
// each with up to four frequencies and two cadence states. All fields are 16-bit words.
#pragma once

#include <cstdint>

inline constexpr int HAPI_PTE_NUMFREQUENCY_GRP = 5;
inline constexpr int HAPI_PTE_NUMFREQUENCIES = 4;
inline constexpr int HAPI_PTE_NUMCADENCES = 2;

// Cadence bits of PulseType.
enum : uint16_t {
  HAPI_PTE_CADBIT_FREQ1 = 0x0001,
  HAPI_PTE_CADBIT_MODULATE = 0x0002,
  HAPI_PTE_CADBIT_DECAY = 0x0004,
  HAPI_PTE_CADBIT_OFFSIGNAL = 0x0008,
  HAPI_PTE_CADBIT_NOSTATECHANGE = 0x0020,
  HAPI_PTE_CADBIT_COMPLETE = 0x0040,
  HAPI_PTE_CADBIT_LOOPCOUNT = 0x0080,
  HAPI_PTE_CADBIT_EVENT = 0x0100,
};

struct HAPI_PTE_PULSE {
  uint16_t PulseType;
  uint16_t PulseNextState;
  uint16_t PulseFreqMask;
  uint16_t PulseTime;  // ms
};

struct HAPI_PTE_FREQ_GRP {
  uint16_t signalLevel;  // egress attenuation (dB) in the low byte, ingress in the high byte
  uint16_t freq[HAPI_PTE_NUMFREQUENCIES];
  uint16_t amp[HAPI_PTE_NUMFREQUENCIES];
  uint16_t freqGroupRepeatCount;
  uint16_t freqGroupInfo;  // frequencies << 8 | states
  HAPI_PTE_PULSE pulse[HAPI_PTE_NUMCADENCES];
};

struct HAPI_PTE_CP_PROFILE {
  uint16_t wholeToneRepeatCount;
  uint16_t numFreqGroups;
  HAPI_PTE_FREQ_GRP freqGrp[HAPI_PTE_NUMFREQUENCY_GRP];
};

struct HAPI_PTE_CUSTOM_PACKET {
  uint16_t signalContrl;  // egress + ingress << 1 + media overwrite << 2 + slot << 8
  HAPI_PTE_CP_PROFILE profile;
};
static_assert(sizeof(HAPI_PTE_FREQ_GRP) == 38, "frequency group is 38 bytes");
static_assert(sizeof(HAPI_PTE_CP_PROFILE) == 194, "tone profile is 194 bytes");
static_assert(sizeof(HAPI_PTE_CUSTOM_PACKET) == 196, "tone request is 196 bytes");

constexpr uint16_t HAPI_PTE_MKSIGNALCTRL(unsigned egress, unsigned ingress, unsigned media, unsigned slot) {
  return static_cast<uint16_t>(egress + (ingress << 1) + (media << 2) + (slot << 8));
}
constexpr uint16_t HAPI_PTE_MKSIGNALLEVEL(unsigned egLevel, unsigned ingLevel) {
  return static_cast<uint16_t>((egLevel & 0xFF) + ((ingLevel & 0xFF) << 8));
}
constexpr uint16_t HAPI_PTE_MKFREQGRP_INFO(unsigned numFreq, unsigned numStates) {
  return static_cast<uint16_t>((numFreq << 8) | numStates);
}

// Digit codes of the digit and tone service.
enum HAPI_PTE_DTMFDDGT : int32_t {
  HAPI_PTE_DTMFDDGT0 = 0,
  HAPI_PTE_DTMFDDGT1,
  HAPI_PTE_DTMFDDGT2,
  HAPI_PTE_DTMFDDGT3,
  HAPI_PTE_DTMFDDGT4,
  HAPI_PTE_DTMFDDGT5,
  HAPI_PTE_DTMFDDGT6,
  HAPI_PTE_DTMFDDGT7,
  HAPI_PTE_DTMFDDGT8,
  HAPI_PTE_DTMFDDGT9,
  HAPI_PTE_DTMFDDGTSTR = 10,
  HAPI_PTE_DTMFDDGTPND = 11,
  HAPI_PTE_DTMFDDGTA = 12,
  HAPI_PTE_DTMFDDGTB = 13,
  HAPI_PTE_DTMFDDGTC = 14,
  HAPI_PTE_DTMFDDGTD = 15,
  HAPI_PTE_DTMFDDGTERROR = 127,
};

// Layouts of the provisioning values larger than one word: tone patterns, ring cadence
// profiles and caller-ID transmission parameters. The country profiles write them, the tone,
// ring and caller-ID code reads them back; their sizes are the item sizes of the provisioning
// table, so they are fixed here.
#pragma once

#include <cstdint>

// One frequency of a tone component.
struct HDSP_TONE_FREQUENCY_COMPONENT {
  uint32_t hertz;
  int level;  // dBm0, negative
};

// One component (on/off step) of a tone pattern.
struct HDSP_TONE_COMPONENT {
  uint32_t repetitions;
  uint32_t soundDuration;
  uint32_t silenceDuration;
  uint32_t frequencies;  // number of frequency entries in use
  int modulateTone;      // 1 = amplitude-modulated
  uint16_t modulatePercent;  // 0..100
  HDSP_TONE_FREQUENCY_COMPONENT frequency[4];
};

// The value of a tone provisioning item (EPPROV_Tone*, EPPROV_CallingCard).
struct HDSP_TONE_PROV_PATTERN {
  uint32_t repetitions;
  uint32_t tones;    // number of components in use
  int noSteadyTone;  // 0 = the last component continues as a steady tone
  HDSP_TONE_COMPONENT tone[5];
};

enum VRG_RING_TYPE : int32_t {
  VRG_RING_SHORT = 1,
  VRG_RING_LONG = 2,
};

// The value of a ring cadence item (EPPROV_R0Cadence .. EPPROV_RSCadence). A short pattern uses
// pattern1 and pattern2, a long one pattern1 to pattern10.
struct VRG_RING_PROFILE {
  int32_t type;  // VRG_RING_TYPE
  uint32_t pattern1;
  uint32_t pattern2;
  uint32_t pattern3;
  uint32_t pattern4;
  uint32_t pattern5;
  uint32_t pattern6;
  uint32_t pattern7;
  uint32_t pattern8;
  uint32_t pattern9;
  uint32_t pattern10;
};

// Pattern word `index` (0 = pattern1) of a ring profile; index must be 0..9.
inline uint32_t& vrgRingPatternWord(VRG_RING_PROFILE& ring, int index) {
  static constexpr uint32_t VRG_RING_PROFILE::*words[10] = {
      &VRG_RING_PROFILE::pattern1, &VRG_RING_PROFILE::pattern2, &VRG_RING_PROFILE::pattern3,
      &VRG_RING_PROFILE::pattern4, &VRG_RING_PROFILE::pattern5, &VRG_RING_PROFILE::pattern6,
      &VRG_RING_PROFILE::pattern7, &VRG_RING_PROFILE::pattern8, &VRG_RING_PROFILE::pattern9,
      &VRG_RING_PROFILE::pattern10};
  return ring.*words[index];
}

// FSK caller-ID transmission parameters (EPPROV_CIDFskParms).
struct VRG_CLASS_FSK {
  uint16_t amplitude;  // 0.1 dB below 0 dBm0
  uint16_t markFrequency;
  uint16_t spaceFrequency;
  int16_t startNumSeizes;
  uint16_t startNumMarks;
};

// DTMF caller-ID parameters (EPPROV_CIDDtmfParms). Codes are digit codes (0-9, 10 star,
// 11 hash, 12-15 A-D); 127 ends a multi-digit code.
struct VRG_CLASS_DTMF {
  uint16_t dbLevel;
  uint16_t pulseTime;  // ms
  uint8_t startCode;
  uint8_t endCode;
  uint8_t privateCode[16];
  uint8_t unavailCode[16];
  uint8_t errorCode[16];
  uint8_t redirectingCode;
  uint8_t informationCode;
  uint16_t DTMFpauseTimeout;    // ms
  uint16_t DTMFsessionTimeout;  // ms
  uint16_t ringAfterClidTimeout;  // ms
};

static_assert(sizeof(HDSP_TONE_COMPONENT) == 56);
static_assert(sizeof(HDSP_TONE_PROV_PATTERN) == 292);
static_assert(sizeof(VRG_RING_PROFILE) == 44);
static_assert(sizeof(VRG_CLASS_FSK) == 10);
static_assert(sizeof(VRG_CLASS_DTMF) == 62);

// Codec capabilities of the endpoint API codecs: the base packet period and payload size of
// each codec, the payload size for a packet period, and membership of codec classes.
#pragma once

#include <cstdint>

#include "vrgEndptTypes.h"

enum CODEC_CLASS : int32_t {
  CODEC_G722x = 0,
  CODEC_G723x_53 = 1,
  CODEC_G723x_63 = 2,
  CODEC_G723x_VAR = 3,
  CODEC_G723x = 4,
  CODEC_G726x = 5,
  CODEC_G729x = 6,
  CODEC_ILBCx = 7,
  CODEC_AMRWBx = 8,
  CODEC_AMRWBx_OA = 9,
  CODEC_T38x = 10,
  CODEC_PCMx = 11,
  CODEC_VBDx = 12,
  CODEC_WIDEBAND = 13,
  CODEC_AMRx = 14,
  CODEC_AMRx_OA = 15,
  CODEC_ALL_PTIME = 16,
  CODEC_NON_10MS = 17,
  CODEC_NON_VOICE = 18,
  CODEC_NULL_CLASS = 19,
};

struct CODECMAP {
  CODEC_TYPE codec;
  uint16_t pktperiod;  // ms of the codec's base frame
  uint16_t pktsize;    // payload bytes per base frame
};

// 79 codecs and the terminating entry (codec 0).
inline constexpr int CODEC_MAP_ENTRIES = 80;
extern const CODECMAP gCodecMap[CODEC_MAP_ENTRIES];

// The codec's base packet period in ms; 0 when the codec is not in the table.
int codecGetBaseFrameRate(CODEC_TYPE codec);
// The codec's payload bytes per base frame; 0 when the codec is not in the table.
int codecGetBasePayloadSize(CODEC_TYPE codec);
// Payload bytes of one packet of `ptime` ms; 0 when the codec is not in the table.
int codecGetPayloadSize(CODEC_TYPE codec, int ptime);
// 1 when the codec belongs to the class, else 0.
int codecCheckClass(CODEC_TYPE codec, CODEC_CLASS cclass);

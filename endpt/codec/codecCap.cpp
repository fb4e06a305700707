#include "codecCap.h"

const CODECMAP gCodecMap[] = {
    {CODEC_PCMU, 5, 40},
    {CODEC_PCMA, 5, 40},
    {CODEC_G722_MODE_1, 5, 40},
    {CODEC_G726_16, 5, 10},
    {CODEC_G726_24, 5, 15},
    {CODEC_G726_32, 5, 20},
    {CODEC_G726_40, 5, 25},
    {CODEC_G7231_53, 30, 20},
    {CODEC_G7231_63, 30, 24},
    {CODEC_G7231A_53, 30, 20},
    {CODEC_G7231A_63, 30, 24},
    {CODEC_G729A, 10, 10},
    {CODEC_G729B, 10, 10},
    {CODEC_G728, 5, 10},
    {CODEC_G729, 10, 10},
    {CODEC_G729E, 10, 15},
    {CODEC_BV32, 5, 20},
    {CODEC_LINPCM64, 5, 40},
    {CODEC_LINPCM128, 5, 80},
    {CODEC_LINPCM256, 5, 160},
    {CODEC_CLEARCHANNEL, 5, 40},
    {CODEC_NTE, 5, 4},
    {CODEC_G7231_VAR, 30, 24},
    {CODEC_G7231_53_VAR, 30, 24},
    {CODEC_G7231_63_VAR, 30, 24},
    {CODEC_ILBC_20, 20, 38},
    {CODEC_ILBC_30, 30, 50},
    // AMR-NB, bandwidth-efficient and octet-aligned
    {CODEC_GSMAMR_12K, 20, 31},
    {CODEC_GSMAMR_10K, 20, 26},
    {CODEC_GSMAMR_795, 20, 20},
    {CODEC_GSMAMR_740, 20, 19},
    {CODEC_GSMAMR_670, 20, 17},
    {CODEC_GSMAMR_590, 20, 15},
    {CODEC_GSMAMR_515, 20, 13},
    {CODEC_GSMAMR_475, 20, 12},
    {CODEC_GSMAMR_OA_12K, 20, 32},
    {CODEC_GSMAMR_OA_10K, 20, 27},
    {CODEC_GSMAMR_OA_795, 20, 21},
    {CODEC_GSMAMR_OA_740, 20, 20},
    {CODEC_GSMAMR_OA_670, 20, 18},
    {CODEC_GSMAMR_OA_590, 20, 16},
    {CODEC_GSMAMR_OA_515, 20, 14},
    {CODEC_GSMAMR_OA_475, 20, 13},
    {CODEC_GSMEFR, 20, 31},
    {CODEC_GSMFR, 20, 33},
    {CODEC_GSMHR, 20, 15},
    // AMR-WB, bandwidth-efficient and octet-aligned
    {CODEC_AMRWB_2385, 20, 60},
    {CODEC_AMRWB_2305, 20, 58},
    {CODEC_AMRWB_1985, 20, 50},
    {CODEC_AMRWB_1825, 20, 46},
    {CODEC_AMRWB_1585, 20, 40},
    {CODEC_AMRWB_1425, 20, 36},
    {CODEC_AMRWB_1265, 20, 32},
    {CODEC_AMRWB_885, 20, 23},
    {CODEC_AMRWB_66, 20, 17},
    {CODEC_AMRWB_OA_2385, 20, 61},
    {CODEC_AMRWB_OA_2305, 20, 59},
    {CODEC_AMRWB_OA_1985, 20, 51},
    {CODEC_AMRWB_OA_1825, 20, 47},
    {CODEC_AMRWB_OA_1585, 20, 41},
    {CODEC_AMRWB_OA_1425, 20, 37},
    {CODEC_AMRWB_OA_1265, 20, 33},
    {CODEC_AMRWB_OA_885, 20, 23},
    {CODEC_AMRWB_OA_66, 20, 18},
    {CODEC_OPUS_NB_5, 5, 160},
    {CODEC_OPUS_NB_10, 10, 160},
    {CODEC_OPUS_NB_20, 20, 160},
    {CODEC_OPUS_NB_40, 40, 160},
    {CODEC_OPUS_NB_60, 60, 160},
    {CODEC_OPUS_WB_5, 5, 160},
    {CODEC_OPUS_WB_10, 10, 160},
    {CODEC_OPUS_WB_20, 20, 160},
    {CODEC_OPUS_WB_40, 40, 160},
    {CODEC_OPUS_WB_60, 60, 160},
    {CODEC_ISAC_30, 30, 85},
    {CODEC_ISAC_60, 60, 85},
    {CODEC_T38, 10, 52},
    {CODEC_T38_MUTE, 10, 52},
    {CODEC_RED, 5, 40},
    {CODEC_NULL, 0, 0},
};

namespace {

const CODECMAP* codecMapFind(CODEC_TYPE codec) {
  // The terminating entry is codec 0, so CODEC_NULL itself is never found.
  for (const CODECMAP* entry = gCodecMap; entry->codec != CODEC_NULL; ++entry) {
    if (entry->codec == codec) {
      return entry;
    }
  }
  return nullptr;
}

bool codecInRange(CODEC_TYPE codec, CODEC_TYPE first, CODEC_TYPE last) {
  return codec >= first && codec <= last;
}

}  // namespace

int codecGetBaseFrameRate(CODEC_TYPE codec) {
  const CODECMAP* entry = codecMapFind(codec);
  return entry ? entry->pktperiod : 0;
}

int codecGetBasePayloadSize(CODEC_TYPE codec) {
  const CODECMAP* entry = codecMapFind(codec);
  return entry ? entry->pktsize : 0;
}

int codecGetPayloadSize(CODEC_TYPE codec, int ptime) {
  const int period = codecGetBaseFrameRate(codec);
  const int size = codecGetBasePayloadSize(codec);
  if (period == 0 || size == 0) {
    return 0;
  }
  const int frames = ptime / period;
  if (codec == CODEC_T38 || codec == CODEC_T38_MUTE) {
    return 36 * frames + 16;
  }
  return frames * size;
}

int codecCheckClass(CODEC_TYPE codec, CODEC_CLASS cclass) {
  bool member = false;
  switch (cclass) {
    case CODEC_G723x_53:
      member = codec == CODEC_G7231_53 || codec == CODEC_G7231A_53;
      break;
    case CODEC_G723x_63:
      member = codec == CODEC_G7231_63 || codec == CODEC_G7231A_63;
      break;
    case CODEC_G723x_VAR:
      member = codecInRange(codec, CODEC_G7231_53_VAR, CODEC_G7231_VAR);
      break;
    case CODEC_G723x:
      member = codecInRange(codec, CODEC_G7231_53, CODEC_G7231A_63) ||
               codecInRange(codec, CODEC_G7231_53_VAR, CODEC_G7231_VAR);
      break;
    case CODEC_G726x:
      member = codecInRange(codec, CODEC_G726_16, CODEC_G726_40);
      break;
    case CODEC_G729x:
      member = codec == CODEC_G729A || codec == CODEC_G729B || codec == CODEC_G729 ||
               codec == CODEC_G729E;
      break;
    case CODEC_ILBCx:
      member = codec == CODEC_ILBC_20 || codec == CODEC_ILBC_30;
      break;
    case CODEC_T38x:
      member = codec == CODEC_T38 || codec == CODEC_T38_MUTE;
      break;
    case CODEC_PCMx:
    case CODEC_VBDx:
      member = codec == CODEC_PCMU || codec == CODEC_PCMA;
      break;
    case CODEC_AMRx:
      member = codecInRange(codec, CODEC_GSMAMR_12K, CODEC_GSMAMR_475) ||
               codecInRange(codec, CODEC_AMRWB_66, CODEC_AMRWB_2385);
      break;
    case CODEC_NON_VOICE:
      member = codec == CODEC_NTE || codec == CODEC_T38 || codec == CODEC_T38_MUTE ||
               codec == CODEC_RED;
      break;
    default:
      // CODEC_G722x, CODEC_AMRWBx, CODEC_AMRWBx_OA, CODEC_WIDEBAND, CODEC_AMRx_OA,
      // CODEC_ALL_PTIME, CODEC_NON_10MS and anything else have no members.
      break;
  }
  return member ? 1 : 0;
}

#include "codecCap.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// Payload bytes per packet computed from a codec's nominal bit rate: a transcription slip in the
// codec map shows up as a disagreement with the codec's own standard.
int bytesFromBitRate(int bitsPerSecond, int ptimeMs) { return bitsPerSecond * ptimeMs / 8000; }

TEST(CodecCapabilities, FixedRateCodecsCarryTheirBitRate) {
  EXPECT_EQ(codecGetPayloadSize(CODEC_PCMU, 20), bytesFromBitRate(64000, 20));
  EXPECT_EQ(codecGetPayloadSize(CODEC_PCMA, 10), bytesFromBitRate(64000, 10));
  EXPECT_EQ(codecGetPayloadSize(CODEC_G722_MODE_1, 20), bytesFromBitRate(64000, 20));
  EXPECT_EQ(codecGetPayloadSize(CODEC_G726_16, 20), bytesFromBitRate(16000, 20));
  EXPECT_EQ(codecGetPayloadSize(CODEC_G726_24, 20), bytesFromBitRate(24000, 20));
  EXPECT_EQ(codecGetPayloadSize(CODEC_G726_32, 20), bytesFromBitRate(32000, 20));
  EXPECT_EQ(codecGetPayloadSize(CODEC_G726_40, 20), bytesFromBitRate(40000, 20));
  EXPECT_EQ(codecGetPayloadSize(CODEC_G728, 20), bytesFromBitRate(16000, 20));
  EXPECT_EQ(codecGetPayloadSize(CODEC_G729A, 20), bytesFromBitRate(8000, 20));
  // G.729 Annex E: 118 bits per 10 ms frame, padded to 15 bytes.
  EXPECT_EQ(codecGetPayloadSize(CODEC_G729E, 20), 30);
  EXPECT_EQ(codecGetPayloadSize(CODEC_BV32, 20), bytesFromBitRate(32000, 20));
  EXPECT_EQ(codecGetPayloadSize(CODEC_LINPCM128, 10), bytesFromBitRate(128000, 10));
  EXPECT_EQ(codecGetPayloadSize(CODEC_LINPCM256, 10), bytesFromBitRate(256000, 10));
  EXPECT_EQ(codecGetPayloadSize(CODEC_CLEARCHANNEL, 20), bytesFromBitRate(64000, 20));
}

TEST(CodecCapabilities, FrameBasedCodecsUseTheirFrameSizes) {
  // G.723.1: 159 bits (5.3k) and 189 bits (6.3k) per 30 ms frame, padded to whole bytes.
  EXPECT_EQ(codecGetPayloadSize(CODEC_G7231_53, 30), 20);
  EXPECT_EQ(codecGetPayloadSize(CODEC_G7231A_63, 60), 48);
  EXPECT_EQ(codecGetBaseFrameRate(CODEC_G7231_VAR), 30);
  // iLBC (RFC 3951): 38 bytes per 20 ms, 50 bytes per 30 ms.
  EXPECT_EQ(codecGetPayloadSize(CODEC_ILBC_20, 40), 76);
  EXPECT_EQ(codecGetPayloadSize(CODEC_ILBC_30, 30), 50);
  // GSM 06.10 full rate: 33 bytes per 20 ms frame.
  EXPECT_EQ(codecGetPayloadSize(CODEC_GSMFR, 20), 33);
  EXPECT_EQ(codecGetPayloadSize(CODEC_GSMHR, 40), 30);
  EXPECT_EQ(codecGetPayloadSize(CODEC_GSMEFR, 20), 31);
  EXPECT_EQ(codecGetPayloadSize(CODEC_ISAC_60, 60), 85);
  EXPECT_EQ(codecGetBaseFrameRate(CODEC_OPUS_WB_40), 40);
  EXPECT_EQ(codecGetPayloadSize(CODEC_OPUS_NB_20, 40), 320);
  EXPECT_EQ(codecGetPayloadSize(CODEC_NTE, 20), 16);
  EXPECT_EQ(codecGetPayloadSize(CODEC_RED, 20), 160);
}

TEST(CodecCapabilities, AmrPayloadsGrowWithModeAndOctetAlignmentNeverShrinksThem) {
  // Bandwidth-efficient sizes fall strictly from the highest mode down (the two lowest AMR-WB
  // modes excepted, as the octet-aligned 8.85 equals its bandwidth-efficient size).
  const CODEC_TYPE nb[] = {CODEC_GSMAMR_12K, CODEC_GSMAMR_10K, CODEC_GSMAMR_795, CODEC_GSMAMR_740,
                           CODEC_GSMAMR_670, CODEC_GSMAMR_590, CODEC_GSMAMR_515, CODEC_GSMAMR_475};
  for (size_t i = 0; i < std::size(nb); ++i) {
    const CODEC_TYPE oa = static_cast<CODEC_TYPE>(nb[i] + (CODEC_GSMAMR_OA_12K - CODEC_GSMAMR_12K));
    EXPECT_EQ(codecGetBasePayloadSize(oa), codecGetBasePayloadSize(nb[i]) + 1) << nb[i];
    EXPECT_EQ(codecGetBaseFrameRate(nb[i]), 20);
    if (i > 0) {
      EXPECT_LT(codecGetBasePayloadSize(nb[i]), codecGetBasePayloadSize(nb[i - 1]));
    }
  }
  // AMR-WB 23.85: 477 speech bits; 6.60: 132 bits.
  EXPECT_EQ(codecGetBasePayloadSize(CODEC_AMRWB_2385), 60);
  EXPECT_EQ(codecGetBasePayloadSize(CODEC_AMRWB_OA_2385), 61);
  EXPECT_EQ(codecGetBasePayloadSize(CODEC_AMRWB_66), 17);
  EXPECT_EQ(codecGetBasePayloadSize(CODEC_AMRWB_OA_66), 18);
  for (int c = CODEC_AMRWB_66; c < CODEC_AMRWB_2385; ++c) {
    EXPECT_LT(codecGetBasePayloadSize(static_cast<CODEC_TYPE>(c)),
              codecGetBasePayloadSize(static_cast<CODEC_TYPE>(c + 1)));
  }
}

TEST(CodecCapabilities, T38PacketsAreSizedPerTenMillisecondsPlusHeader) {
  EXPECT_EQ(codecGetPayloadSize(CODEC_T38, 30), 124);
  EXPECT_EQ(codecGetPayloadSize(CODEC_T38_MUTE, 10), 52);
  EXPECT_EQ(codecGetPayloadSize(CODEC_T38, 5), 16);  // shorter than one base period
}

TEST(CodecCapabilities, PeriodShorterThanBaseFrameGivesNoPayload) {
  EXPECT_EQ(codecGetPayloadSize(CODEC_G7231_53, 20), 0);
  EXPECT_EQ(codecGetPayloadSize(CODEC_ILBC_30, 20), 0);
  EXPECT_EQ(codecGetPayloadSize(CODEC_PCMU, 0), 0);
  EXPECT_EQ(codecGetPayloadSize(CODEC_G729, 25), 20);  // whole frames only
}

TEST(CodecCapabilities, CodecsOutsideTheMapHaveNoPeriodOrSize) {
  for (CODEC_TYPE c : {CODEC_NULL, CODEC_G711_LINEAR, CODEC_MAX_TYPES, CODEC_UNKNOWN,
                       CODEC_DYNAMIC, static_cast<CODEC_TYPE>(-3)}) {
    EXPECT_EQ(codecGetBaseFrameRate(c), 0) << c;
    EXPECT_EQ(codecGetBasePayloadSize(c), 0) << c;
    EXPECT_EQ(codecGetPayloadSize(c, 20), 0) << c;
  }
}

TEST(CodecCapabilities, MapHoldsEveryOtherCodecExactlyOnce) {
  std::set<int> seen;
  for (int i = 0; i < CODEC_MAP_ENTRIES - 1; ++i) {
    EXPECT_TRUE(seen.insert(gCodecMap[i].codec).second) << gCodecMap[i].codec;
    EXPECT_GT(gCodecMap[i].pktperiod, 0);
    EXPECT_GT(gCodecMap[i].pktsize, 0);
  }
  EXPECT_EQ(gCodecMap[CODEC_MAP_ENTRIES - 1].codec, CODEC_NULL);
  // Every codec type but NULL and linear G.711 has an entry.
  for (int c = CODEC_PCMU; c < CODEC_MAX_TYPES; ++c) {
    EXPECT_EQ(seen.count(c), c == CODEC_G711_LINEAR ? 0u : 1u) << c;
  }
}

// Members of each class, as the connection set-up code groups them.
std::set<int> classMembers(CODEC_CLASS cclass) {
  std::set<int> members;
  for (int c = -1; c <= CODEC_MAX_TYPES; ++c) {
    if (codecCheckClass(static_cast<CODEC_TYPE>(c), cclass)) {
      members.insert(c);
    }
  }
  return members;
}

TEST(CodecCapabilities, ClassesGroupTheirCodecs) {
  EXPECT_EQ(classMembers(CODEC_G723x_53), (std::set<int>{CODEC_G7231_53, CODEC_G7231A_53}));
  EXPECT_EQ(classMembers(CODEC_G723x_63), (std::set<int>{CODEC_G7231_63, CODEC_G7231A_63}));
  EXPECT_EQ(classMembers(CODEC_G723x_VAR),
            (std::set<int>{CODEC_G7231_53_VAR, CODEC_G7231_63_VAR, CODEC_G7231_VAR}));
  EXPECT_EQ(classMembers(CODEC_G723x),
            (std::set<int>{CODEC_G7231_53, CODEC_G7231_63, CODEC_G7231A_53, CODEC_G7231A_63,
                           CODEC_G7231_53_VAR, CODEC_G7231_63_VAR, CODEC_G7231_VAR}));
  EXPECT_EQ(classMembers(CODEC_G726x),
            (std::set<int>{CODEC_G726_16, CODEC_G726_24, CODEC_G726_32, CODEC_G726_40}));
  EXPECT_EQ(classMembers(CODEC_G729x),
            (std::set<int>{CODEC_G729A, CODEC_G729B, CODEC_G729, CODEC_G729E}));
  EXPECT_EQ(classMembers(CODEC_ILBCx), (std::set<int>{CODEC_ILBC_20, CODEC_ILBC_30}));
  EXPECT_EQ(classMembers(CODEC_T38x), (std::set<int>{CODEC_T38, CODEC_T38_MUTE}));
  EXPECT_EQ(classMembers(CODEC_PCMx), (std::set<int>{CODEC_PCMU, CODEC_PCMA}));
  EXPECT_EQ(classMembers(CODEC_VBDx), (std::set<int>{CODEC_PCMU, CODEC_PCMA}));
  EXPECT_EQ(classMembers(CODEC_NON_VOICE),
            (std::set<int>{CODEC_NTE, CODEC_T38, CODEC_T38_MUTE, CODEC_RED}));
  const std::set<int> amr = classMembers(CODEC_AMRx);
  EXPECT_EQ(amr.size(), 17u);
  EXPECT_TRUE(amr.count(CODEC_GSMAMR_475) && amr.count(CODEC_AMRWB_2385));
  EXPECT_FALSE(amr.count(CODEC_GSMAMR_OA_12K) || amr.count(CODEC_AMRWB_OA_66) ||
               amr.count(CODEC_GSMEFR));
}

TEST(CodecCapabilities, ClassesWithoutMembersMatchNothing) {
  for (int cclass : std::initializer_list<int>{CODEC_G722x, CODEC_AMRWBx, CODEC_AMRWBx_OA, CODEC_WIDEBAND, CODEC_AMRx_OA,
                     CODEC_ALL_PTIME, CODEC_NON_10MS, CODEC_NULL_CLASS, 20, -1}) {
    EXPECT_TRUE(classMembers(static_cast<CODEC_CLASS>(cclass)).empty()) << cclass;
  }
}

}  // namespace

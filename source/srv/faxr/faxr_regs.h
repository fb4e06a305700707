// Register and statistics records of the fax relay service. All fields are 16-bit words.
#pragma once

#include <cstdint>

struct HSZFAXRREGS {
  uint16_t hsxmaxjitter;
  uint16_t hsxmaxdelay;
  uint16_t hsxmaxreorderdelay;
  uint16_t hsxTimeStampModulus;
  uint16_t hsxnumv21msgsend;
  uint16_t hsxmaxfaxmodem;
  uint16_t hsxnumgenHDLC;
  uint16_t hsxnumdetHDLC;
  uint16_t hsxcedduration;
  uint16_t hsxcngdonedelay;
  uint16_t hsxcngduration;
  uint16_t hsxlocalrate;
  uint16_t hsxtcflocalgen;
  uint16_t hsxrxpacketsize;
  uint16_t hsxfaxrsendevents;
  uint16_t hsxcustomfeatures;
};
static_assert(sizeof(HSZFAXRREGS) == 32, "fax relay registers are 32 bytes");

constexpr HSZFAXRREGS faxrRegsDefault() {
  return HSZFAXRREGS{150, 2000, 0, 0, 0, 13, 33, 15, 3000, 3000, 500, 10, 0, 0x8120, 0, 0};
}

struct HSZFAXREGRESS_STATS {
  uint16_t hsxFrameCount;
  uint16_t hsxOverrunCount;
  uint16_t hsxSpoofCount;
  uint16_t hsxReorderCount;
  uint16_t hsxfailtoReorderCount;
  uint16_t hsxretrainCount;
  uint16_t hsxPPRCount;
  uint16_t hsxbadframeCount;
  uint16_t hsxSpoofTimeoutCount;
  uint16_t hsxv21TxUflowCount;
  uint16_t hsxNumRxPages;
};

struct HSZFAXRINGRESS_STATS {
  uint16_t hsxFrameCount;
  uint16_t hsxOverrunCount;
  uint16_t hsxretrainCount;
  uint16_t hsxPPRCount;
  uint16_t hsxbadframeCount;
  uint16_t hsxNumTxPages;
};

struct HSZFAXRSTATS {
  HSZFAXREGRESS_STATS egress;
  HSZFAXRINGRESS_STATS ingress;
};
static_assert(sizeof(HSZFAXREGRESS_STATS) == 22, "egress fax statistics are 22 bytes");
static_assert(sizeof(HSZFAXRSTATS) == 34, "fax relay statistics are 34 bytes");

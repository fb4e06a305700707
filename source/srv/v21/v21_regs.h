// Registers of the V.21 service, as the host writes them.
#pragma once

#include <cstdint>

struct HSZV21REGS {
  uint16_t hsxtxamplitude;   // FSK level: peak sample = value x 14328 / 32768
  uint16_t hsxCEDamplitude;  // answer-tone level, same scale
  uint16_t hsxCNGamplitude;  // calling-tone level, same scale
  uint16_t hsxCNGonduration;   // ms
  uint16_t hsxCNGoffduration;  // ms
  uint16_t hsxrxthreshold;     // carrier on above twice this, off below it
  uint16_t hsxdettones;        // non-zero: report tone detector changes
  uint16_t hsxCEDthreshold;
  uint16_t hsxCNGthreshold;
  uint16_t hsxCEDdetduration;  // ms a change must persist
  uint16_t hsxCNGdetduration;  // ms
  uint16_t hsxnumbits;  // bit 15 clear: packet duration in ms; set: the bit count itself
  uint16_t hsxdirection;
  uint16_t hsxmode;  // HSV21SYNC 0, HSV21ASYNC 1
  uint16_t hsxFDansdur;  // answer-tone duration, ms
  uint16_t hsxcmdqhighthreshold;
  uint16_t hsxcmdqlowthreshold;
};
static_assert(sizeof(HSZV21REGS) == 34, "seventeen 16-bit registers");

enum : uint16_t { HSV21ORIGINATE = 0, HSV21ANSWER = 1, HSV21SIMPLEX = 2 };
enum : uint16_t { HSV21SYNC = 0, HSV21ASYNC = 1 };
enum : uint16_t { HSV21TXIDLE = 0, HSV21TXCED = 1, HSV21TXCNG = 2, HSV21TXDATA = 3 };

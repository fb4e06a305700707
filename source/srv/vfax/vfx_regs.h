// Registers of the fax datapump service, as the host writes them.
#pragma once

#include <cstdint>

struct HSZVFAXREGS {
  uint16_t hsxrate;  // HSEVFAXRATE
  uint16_t hsxeptgenflag;
  uint16_t hsxeptgenduration;   // ms
  uint16_t hsxsilenceduration;  // ms
  uint16_t hsxeptamplitude;
  uint16_t hsxtxamplitude;
  uint16_t hsxnumbits;  // bit 15 clear: packet duration in ms; set: the bit count
  uint16_t hsxcmdqhighthreshold;
  uint16_t hsxcmdqlowthreshold;
  uint16_t alignmentPad;
};
static_assert(sizeof(HSZVFAXREGS) == 20, "ten 16-bit registers");

enum HSEVFAXRATE : uint16_t {
  HSVFAX_0 = 0,
  HSV27TER_2400 = 1,
  HSV27TER_4800 = 2,
  HSV29_7200 = 3,
  HSV29_9600 = 4,
  HSV33_12000 = 5,
  HSV33_14400 = 6,
  HSV17_7200 = 7,
  HSV17_9600 = 8,
  HSV17_12000 = 9,
  HSV17_14400 = 10,
};

enum : uint16_t {
  HSGFAXRXCFGTRAIN = 0,
  HSGFAXRXCFGTURNON = 1,
  HSGFAXRXCFGEXTTURNON = 2,
  HSGFAXRXCFGTCFDATA = 3,
  HSGFAXRXCFGECMDATA = 4,
  HSGFAXRXCFGEXTECMDATA = 5,
};

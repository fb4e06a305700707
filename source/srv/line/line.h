// The line service: conditions a line channel's signal. Ingress: DC-blocking high-pass, optional
// FIR equaliser, and on wideband channels the split of the 16 kHz signal into the 8 kHz low band
// and the high band; egress: the recombination of the two bands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hsf/hsf.h"

constexpr uint16_t LINE_CLIENT_HIGHPASS = 0x01;
constexpr uint16_t LINE_CLIENT_BANDSPLIT = 0x02;
constexpr uint16_t LINE_CLIENT_BANDCOMBINE = 0x04;
constexpr uint16_t LINE_CLIENT_EQU_WIDE = 0x08;     // equaliser on the 16 kHz buffer
constexpr uint16_t LINE_CLIENT_EQU_NARROW = 0x10;   // equaliser on the 8 kHz buffer
constexpr uint16_t LINE_CLIENT_EQU_EGRESS_WIDE = 0x20;
constexpr uint16_t LINE_CLIENT_EQU_EGRESS_NARROW = 0x40;
constexpr uint16_t LINE_INGRESS_MASK = 0x1B;
constexpr uint16_t LINE_EGRESS_MASK = 0x64;

constexpr int EQU_MAX_TAPS = 128;
constexpr int EQU_DOWNLOAD_TAPS = 40;

struct EQU_Filter {
  int16_t coeff[EQU_MAX_TAPS];        // Q15 taps
  int16_t history[EQU_MAX_TAPS - 1];  // the last order - 1 input samples
  int16_t pad;
  int16_t isEnabled;
  int16_t order;                      // taps in use
};

struct BSCINSTANCEMEM {
  int32_t splitState[32];    // 60 16-bit words used
  int16_t combineState[20];
};

struct LINEINSTANCEMEM {
  uint16_t clientFlags;
  int32_t highpassState;
  int32_t highpassWBState;
  BSCINSTANCEMEM bandSplitCombine;
  EQU_Filter equ_filter;
};

// Host-visible coefficient download: filter number, first tap, 40 taps.
struct HAPI_LINE_EQU_COEFF {
  uint16_t id;
  uint16_t offset;
  int16_t coeff[EQU_DOWNLOAD_TAPS];
};
static_assert(sizeof(HAPI_LINE_EQU_COEFF) == 84, "coefficient download record is 84 bytes");

constexpr uint16_t LINE_HPF_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 0);          // 0x3680
constexpr uint16_t LINE_EQU_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 1);          // 0x3681
constexpr uint16_t LINE_EQU_ORDER_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 2);    // 0x3682
constexpr uint16_t LINE_EQU_COEFF_CMD = HSF_MKCMD_EXT(HAPI_LINE_SRV, 3);    // 0x3603
constexpr uint16_t LINE_BANDSPLIT_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 4);    // 0x3684
constexpr uint16_t LINE_BANDCOMBINE_CMD = HSF_MKCMD_STD(HAPI_LINE_SRV, 5);  // 0x3685

HAPIRESULT Line_IO(HSFSRVOBJ service, HSFMSG* cmd, HSFMSG* reply);
void Line_IngressProcess(HSFSRVOBJ service);
void Line_EgressProcess(HSFSRVOBJ service);
HAPIRESULT Line_Init(HSFSRVOBJ service);

// The equaliser over one block in place (`n` at most 160 samples).
void equFirProcess(EQU_Filter* filter, int16_t* samples, int n);

extern const HSFSRVARC linearc;

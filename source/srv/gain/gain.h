// The gain service: scales both directions of a channel by Q12 factors (4096 = unity).
#pragma once

#include <cstdint>

#include "hsf/hsf.h"

struct HSZGAINLOCLMEM {
  int16_t gain;    // ingress, Q12
  int16_t volume;  // egress, Q12
};

constexpr uint16_t HAPI_GAIN_SET_CMD = HSF_MKCMD_STD(HAPI_GAIN_SRV, 0);  // 0x3880

HAPIRESULT gainIo(HSFSRVOBJ service, HSFMSG* cmd, HSFMSG* reply);
void gainIngProcess(HSFSRVOBJ service);
void gainEgrProcess(HSFSRVOBJ service);
HAPIRESULT gainInit(HSFSRVOBJ service);

extern const HSFSRVARC gainarc;

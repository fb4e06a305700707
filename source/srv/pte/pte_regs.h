// Register record of the digit and tone service (times in 8 kHz samples).
#pragma once

#include <cstdint>

struct HAPI_PTE_REGS {
  uint16_t refreshInterval;
  uint16_t configFlags;
  uint16_t minDetectPower;
  uint16_t detectAdmin;
  uint16_t pauseTime;
  uint16_t minPulseOff;
  uint16_t minPulseOn;
};
static_assert(sizeof(HAPI_PTE_REGS) == 14, "digit and tone registers are 14 bytes");

// The copy that a packet channel starts with: North American detection, 50 ms pulse timing.
constexpr HAPI_PTE_REGS pteNetRegsDefault() { return HAPI_PTE_REGS{0, 0, 28, 0, 400, 400, 400}; }

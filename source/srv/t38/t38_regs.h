// Register record of the T.38 service.
#pragma once

#include <cstdint>

struct HAPI_T38_REGS {
  uint16_t numRedundantIFP;  // low byte: secondaries for indicators and V.21; high byte: for fast data
  uint16_t reorderDelay;     // ms
};
static_assert(sizeof(HAPI_T38_REGS) == 4, "T.38 registers are 4 bytes");

constexpr HAPI_T38_REGS t38RegsDefault() { return HAPI_T38_REGS{0x0303, 200}; }

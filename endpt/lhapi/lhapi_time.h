// Internal: the millisecond clock under the RTP media clock (replaceable by tests).
#pragma once

#include <cstdint>

// Milliseconds of the OS layer's clock: steps of 10 ms, wrapping after 41 943 030.
extern uint32_t (*lhapi_gpMsClock)();
uint32_t lhapiOsTimeGetMs();
uint32_t lhapiOsTimeDeltaMs(uint32_t first, uint32_t second);
// Forgets the first reading, so the next lhapiRtpTimeGet starts the clock again.
void lhapiRtpTimeRestart();

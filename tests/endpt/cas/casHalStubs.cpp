// What the board layer expects around it when the DSP framework and the library's line-test
// receiver are not part of the test: a hardware shim that takes and gives silence.

#include <cstring>

#include "boardHal.h"

int boardHalShimCfgDevice(unsigned, int, int) { return 0; }
void boardHalShimIngress(const int16_t*, unsigned) {}
void boardHalShimEgress(int16_t* samples, unsigned port) {
  std::memset(samples, 0, sizeof(int16_t) * (boardHalGetChannelRate(static_cast<int>(port)) == 16 ? 80 : 40));
}
void BoardHalSsEventCallback(BOARD_HAL_LT_EVENT*) {}

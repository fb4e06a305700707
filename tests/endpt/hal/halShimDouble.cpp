// The shim and line-test receiver of the tests (see halTestSupport.h).

#include <cstring>

#include "halTestSupport.h"

int boardHalShimCfgDevice(unsigned port, int enable, int wideband) {
  if (port >= BOARD_HAL_MAX_CHANNELS) return -1;
  std::lock_guard<std::mutex> guard(shim().lock);
  shim().enabled[port] = enable;
  shim().configuredWideband[port] = wideband;
  return 0;
}

void boardHalShimIngress(const int16_t* samples, unsigned port) {
  ShimRecord& s = shim();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.ingressCalls[port];
  if (static_cast<int>(port) == s.capturePort && s.capture.size() < s.captureLimit) {
    const int n = s.configuredWideband[port] ? 80 : 40;
    s.capture.insert(s.capture.end(), samples, samples + n);
  }
}

void boardHalShimEgress(int16_t* samples, unsigned port) {
  ShimRecord& s = shim();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.egressCalls[port];
  // Each port plays a constant of its own, so that the board can tell the frames apart.
  for (int i = 0; i < 80; ++i) samples[i] = static_cast<int16_t>(1000 * (port + 1));
}

void BoardHalSsEventCallback(BOARD_HAL_LT_EVENT* event) {
  lastLineTest() = *event;
  ++lineTestsDelivered();
}

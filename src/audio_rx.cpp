// Receive audio pipe framing and the rate limit of its error line.

#include "audio_rx.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t BAD_AUDIO_INTERVAL_MS = 1000;
constexpr unsigned BAD_AUDIO_BURST = 5;

logRateLimit_t badAudioLimit{BAD_AUDIO_INTERVAL_MS, BAD_AUDIO_BURST, 0, 0, 0, false};

int64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

bool logRateAllow(logRateLimit_t* limit, int64_t nowMs, unsigned* heldBack) {
  *heldBack = 0;
  if (!limit->started || nowMs - limit->windowStartMs >= limit->intervalMs || nowMs < limit->windowStartMs) {
    limit->started = true;
    limit->windowStartMs = nowMs;
    limit->printed = 0;
  }
  if (limit->printed >= limit->burst) {
    limit->suppressed++;
    return false;
  }
  limit->printed++;
  *heldBack = limit->suppressed;
  limit->suppressed = 0;
  return true;
}

void badAudioPacket(const char* why) {
  unsigned heldBack = 0;
  if (!logRateAllow(&badAudioLimit, monotonicMs(), &heldBack)) return;
  if (heldBack > 0) {
    printf("bad audio packet: %s (%u more not shown)\n", why, heldBack);
  } else {
    printf("bad audio packet: %s\n", why);
  }
}

int audioRxFeed(tl_bus_t* bus, const tl_event_t* event, size_t readSize) {
  if (!bus || !event || event->count <= 0) return 0;
  int received = tl_bus_receive(bus, event);
  if (received == -1) {
    // Cannot happen while every read is dispatched at once; never let it end the daemon.
    tl_bus_discard(bus);
    badAudioPacket("receive buffer overflow, input dropped");
    return 0;
  }
  if (received < 0) {
    // The bus dropped everything buffered: reading starts again at the next write.
    badAudioPacket("corrupt frame size, input dropped");
    return 0;
  }
  int delivered = tl_bus_dispatch(bus);
  // Writers put each message on the pipe with one write, so a read shorter than asked for ends
  // on a message boundary. What is left over then is a message its writer never finished.
  if (static_cast<size_t>(event->count) < readSize && bus->bufUsed > 0) {
    tl_bus_discard(bus);
    badAudioPacket("partial frame dropped");
  }
  return delivered < 0 ? 0 : delivered;
}

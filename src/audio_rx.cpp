// Receive audio pipe framing and its error line.

#include "audio_rx.h"

namespace {

logRateLimit_t badAudioLimit;

}  // namespace

void badAudioPacket(const char* why) { logLimited(&badAudioLimit, "bad audio packet: %s", why); }

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

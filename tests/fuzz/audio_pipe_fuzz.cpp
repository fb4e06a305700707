// The daemon's receive audio pipe: arbitrary bytes arriving in reads of arbitrary lengths. Every
// message handed on is whole and within the bus's limit, nothing is kept beyond the buffer, and
// after the garbage a well-formed frame written on its own is still delivered.
#include <cstdlib>
#include <cstring>

#include "audio_rx.h"
#include "fuzz_input.h"

namespace {
int delivered;
void check(tl_packet_t* packet) {
  if (packet->size > TL_BUS_MAX_PAYLOAD) std::abort();
  ++delivered;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  tl_bus_t* bus = tl_bus_new(0);
  tl_bus_add_handler(bus, check);
  static uint8_t chunk[4096];
  while (!in.empty()) {
    // A read returns up to 4096 bytes; a short read means the pipe was empty after it.
    size_t n = in.word() % 4097;
    n = in.take(chunk, n);
    if (n == 0) break;
    tl_event_t event{chunk, static_cast<int>(n)};
    audioRxFeed(bus, &event, 4096);
    if (bus->bufUsed > TL_BUS_BUFFER_SIZE) std::abort();
  }
  // The reader starts again at the next write: one whole frame on its own gets through.
  uint8_t frame[4 + 16] = {16, 0, 0, 0};
  std::memset(frame + 4, 0x80, 16);
  tl_event_t event{frame, static_cast<int>(sizeof frame)};
  tl_bus_discard(bus);
  delivered = 0;
  audioRxFeed(bus, &event, 4096);
  if (delivered != 1) std::abort();
  tl_bus_free(bus);
  return 0;
}

// iLBC decoder in both frame modes, with and without the enhancer: arbitrary payloads of the
// length the input gives (the rest zero) mixed with lost frames that the decoder conceals.
#include <memory>

#include "fuzz_input.h"
#include "ilbc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t setup = in.byte();
  auto dec = std::make_unique<iLBC_Dec_Inst_t>();
  const std::int16_t frame_ms = (setup & 1) ? 30 : 20;
  ILBCFIX_MORV_initDecode(dec.get(), frame_ms, static_cast<std::int16_t>((setup >> 1) & 1));
  std::uint16_t payload[25];
  std::int16_t out[240];
  while (!in.empty()) {
    const uint8_t control = in.byte();
    if (control & 0x80) {
      // A lost frame; the mode word the concealment is asked with varies too.
      ILBCFIX_MORV_Decode(out, payload, dec.get(), static_cast<std::int16_t>(-(control & 1)));
      continue;
    }
    const size_t bytes = control % (2 * dec->no_of_words + 1);
    in.take(payload, bytes);
    std::memset(reinterpret_cast<uint8_t*>(payload) + bytes, 0, sizeof payload - bytes);
    ILBCFIX_MORV_Decode(out, payload, dec.get(), 1);
  }
  return 0;
}

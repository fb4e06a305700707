// iSAC decoder: arbitrary payloads of the length the input gives, mixed with lost frames
// (any count) that the decoder conceals.
#include <memory>

#include "fuzz_input.h"
#include "isac_codec.h"

using namespace isac;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  auto mem = std::make_unique<int32_t[]>(kIsacfixInstanceBytes / 4 + 1);
  ISACFIX_MainStruct* inst = nullptr;
  int32_t used = 0;
  if (WebRtcIsacfix_Create(&inst, mem.get(), kIsacfixInstanceBytes, &used) != 0) return 0;
  WebRtcIsacfix_DecoderInit(inst);
  uint8_t payload[1024];
  int16_t out[960 * 2], type = 0;
  while (!in.empty()) {
    const uint8_t control = in.byte();
    if (control & 0x80) {
      WebRtcIsacfix_DecodePlc(inst, out, static_cast<int16_t>(static_cast<int8_t>(control << 1) >> 1), 0);
      continue;
    }
    const size_t len = in.word() % (sizeof payload + 1);
    const size_t got = in.take(payload, len);
    WebRtcIsacfix_Decode(inst, payload, got, out, &type);
  }
  WebRtcIsacfix_FreeInternal(inst);
  return 0;
}

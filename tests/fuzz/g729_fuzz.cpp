// G.729 decoder (and its Annex B path): arbitrary packed frames of every frame type, erasures
// included, at every rate the decoder is configured for.
#include "fuzz_input.h"
#include "g729.h"

namespace {
const G729FRAMETYPE kTypes[] = {G729_RATE_0, G729_RATE_SID, G729_RATE_SID_OCTET,
                                G729_RATE_6_4, G729_RATE_8_0, G729_RATE_11_8};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  static G729DECSTATE dec;
  const G729RATE rate = static_cast<G729RATE>(in.byte() % G729RATE_NUM_RATES);
  g729DecodeInit(&dec, rate);
  uint16_t packed[16];
  int16_t out[80];
  while (!in.empty()) {
    const G729FRAMETYPE type = kTypes[in.byte() % 6];
    in.take(packed, sizeof packed);
    g729Decoder(&dec, out, packed, type, nullptr);
  }
  return 0;
}

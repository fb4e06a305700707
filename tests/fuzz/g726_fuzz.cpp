// G.726 decoder: arbitrary codes at every rate and output law, in runs of any length.
#include "fuzz_input.h"
#include "g726.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  G726_State dec{};
  const uint8_t setup = in.byte();
  g726_configure(&dec, static_cast<G726_Rate>(2 + setup % 4), static_cast<G726_Law>((setup >> 2) % 3));
  int16_t codes[256], out[256];
  while (!in.empty()) {
    const int n = 1 + in.byte();
    for (int i = 0; i < n; ++i) codes[i] = static_cast<int16_t>(in.word());
    g726_decode(codes, out, &dec, n);
  }
  return 0;
}

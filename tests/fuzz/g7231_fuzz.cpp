// G.723.1 decoder: arbitrary packed frames at both rates, with and without the post-filter,
// good or declared lost.
#include "fuzz_input.h"
#include "g7231.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  G7231_Decod_State dec{};
  const uint8_t setup = in.byte();
  g7231_Init_Decod(&dec.DecStat);
  dec.WrkRate = setup & 1;
  dec.UsePf = (setup >> 1) & 1;
  g7231_Init_Dec_Cng(&dec.DecCng);
  int16_t frame[G7231_FRAME_WORDS], out[G7231_FRAME_LEN];
  while (!in.empty()) {
    const int16_t lost = (in.byte() & 7) == 0 ? 1 : 0;
    in.take(frame, sizeof frame);
    g7231_Decod(out, frame, lost, &dec);
  }
  return 0;
}

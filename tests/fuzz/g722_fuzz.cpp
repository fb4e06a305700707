// G.722 decoder with its concealment: arbitrary codewords in every mode, frames good or lost,
// the number of codewords per call taken from the input.
#include "fuzz_input.h"
#include "g722.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  g722_state dec;
  G722_APXIII_WB_PLC_State plc;
  g722_reset_decoder(&dec);
  g722_Reset_WB_PLC(&plc);
  int16_t codes[160], out[320];
  while (!in.empty()) {
    const uint8_t control = in.byte();
    const int mode = 1 + control % 3;
    const bool lost = (control >> 2) & 1;
    const int n = (control >> 3) & 1 ? 160 : 80;  // one or two 10 ms frames
    for (int i = 0; i < n; ++i) codes[i] = static_cast<int16_t>(in.byte() | (control & 0x80 ? 0xFF00 : 0));
    g722_dec(codes, out, mode, n, &dec, &plc, lost ? 1 : 0);
  }
  return 0;
}

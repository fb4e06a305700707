// GSM full-rate decoder: arbitrary parameter sets (from serial bits or raw words) with every
// combination of the SID, TAF and bad-frame flags.
#include <memory>

#include "fuzz_input.h"
#include "gsmfr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  auto dec = std::make_unique<GSMFR_DECSTRUCT>();
  gsmfr_reset_dec(dec.get());
  int16_t parm[79], serial[260], out[160];
  while (!in.empty()) {
    const uint8_t control = in.byte();
    if (control & 8) {
      for (int16_t& bit : serial) bit = static_cast<int16_t>(in.byte() & 1);
      gsmfr_bits2prm(serial, parm);
    } else {
      for (int i = 0; i < 76; ++i) parm[i] = static_cast<int16_t>(in.word());
    }
    parm[76] = parm[77] = parm[78] = 0;
    gsmfr_decode(dec.get(), parm, static_cast<uint16_t>(control & 7), out);
  }
  return 0;
}

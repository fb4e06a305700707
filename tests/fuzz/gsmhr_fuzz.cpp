// GSM half-rate decoder: arbitrary parameter sets (from serial bits or raw words, as many as the
// input holds) with every combination of the bad, unreliable, SID and TAF flags.
#include <memory>

#include "fuzz_input.h"
#include "gsmhr.h"

using namespace hr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  auto dec = std::make_unique<GSMHR_DECSTRUCT>();
  gsmhr_reset_dec(dec.get());
  Word16 parm[GSMHR_NUM_DEC_PRM], serial[GSMHR_SERIAL_BITS], out[160];
  while (!in.empty()) {
    const uint8_t control = in.byte();
    if (control & 16) {
      for (Word16& bit : serial) bit = static_cast<Word16>(in.byte() & 1);
      gsmhr_bits2prm(serial, parm);
    } else {
      for (int i = 0; i < GSMHR_NUM_PRM; ++i) parm[i] = static_cast<Word16>(in.word());
    }
    for (int i = GSMHR_NUM_PRM; i < GSMHR_NUM_DEC_PRM; ++i) parm[i] = 0;
    gsmhr_decode(dec.get(), parm, control & 15u, out);
  }
  return 0;
}

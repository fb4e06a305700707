// G.711 Appendix I concealment: arbitrary 5 ms frames, each good or lost as the input says.
#include "fuzz_input.h"
#include "g711plc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  HSZPLC plc;
  plcinit(&plc);
  int16_t speech[PLC_FRAMESZ], out[PLC_FRAMESZ];
  while (!in.empty()) {
    const bool lost = in.byte() & 1;
    in.take(speech, sizeof speech);
    do_plc(&plc, nullptr, speech, out, lost);
  }
  return 0;
}

// G.711 Appendix I concealment: arbitrary 5 ms frames, each good or lost as the input says, with
// or without a comfort-noise generator behind long losses (its level from the input's first SID).
#include <cstdlib>

#include "fuzz_input.h"
#include "g711plc.h"
#include "vadcng.h"

void lhapiAssertHandlerVerbose(const char*, int) { std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  HSZPLC plc;
  plcinit(&plc);
  GCNG generator;
  GCNG* cngp = nullptr;
  const uint8_t mode = in.byte();
  if (mode & 1) {
    cngInit(&generator, (mode & 2) ? HAPI_GCNG_HOTHNOISE : HAPI_GCNG_WHITENOISE);
    uint16_t sid = in.byte();
    int16_t scratch[PLC_FRAMESZ];
    cngProcess(&generator, scratch, &sid, 1, PLC_FRAMESZ);
    cngp = &generator;
  }
  int16_t speech[PLC_FRAMESZ], out[PLC_FRAMESZ];
  while (!in.empty()) {
    const bool lost = in.byte() & 1;
    in.take(speech, sizeof speech);
    do_plc(&plc, cngp, speech, out, lost);
  }
  return 0;
}

// Families without a wrapper yet (AMR, AMR-WB, Opus) and the start-up sizing hook.
#include "voc_wrappers.h"

size_t vocoderDecStateBytesExt(unsigned) { return 0; }
size_t vocoderEncStateBytesExt(unsigned) { return 0; }
void vocoderInit() {}

const HSZVOCODERS vocoder_gsmamr{}, vocoder_amrwb{}, vocoder_opus{};

void vocoderAmrOptions(void*, const AMR_REGS*) {}
void vocoderAmrModeRequest(void*, uint16_t) {}

// Families sized at start-up (Opus) and those without a wrapper yet (AMR, AMR-WB).
#include "voc_opus.h"
#include "voc_wrappers.h"

size_t vocoderDecStateBytesExt(unsigned alg) { return alg == HAPI_PKT_ALG_OPUS ? opusDecStateBytes() : 0; }
size_t vocoderEncStateBytesExt(unsigned alg) { return alg == HAPI_PKT_ALG_OPUS ? opusEncStateBytes() : 0; }
void vocoderInit() { opusWrapInit(); }

const HSZVOCODERS vocoder_gsmamr{}, vocoder_amrwb{};

void vocoderAmrOptions(void*, const AMR_REGS*) {}
void vocoderAmrModeRequest(void*, uint16_t) {}

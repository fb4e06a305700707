// Families sized at start-up (Opus) or defined in their own files (AMR); AMR-WB has no wrapper
// yet.
#include "voc_amr.h"
#include "voc_opus.h"
#include "voc_wrappers.h"

size_t vocoderDecStateBytesExt(unsigned alg) {
  if (alg == HAPI_PKT_ALG_OPUS) return opusDecStateBytes();
  if (alg == HAPI_PKT_ALG_GSMAMR) return gsmamrDecStateBytes();
  return 0;
}

size_t vocoderEncStateBytesExt(unsigned alg) {
  if (alg == HAPI_PKT_ALG_OPUS) return opusEncStateBytes();
  if (alg == HAPI_PKT_ALG_GSMAMR) return gsmamrEncStateBytes();
  return 0;
}

void vocoderInit() { opusWrapInit(); }

const HSZVOCODERS vocoder_amrwb{};

void vocoderAmrOptions(void* encPool, const AMR_REGS* options) { gsmamrOptions(encPool, options); }
void vocoderAmrModeRequest(void* encPool, uint16_t mode) { gsmamrModeRequest(encPool, mode); }

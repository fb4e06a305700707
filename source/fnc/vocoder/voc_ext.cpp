// Families sized at start-up (Opus) or defined in their own files (AMR, AMR-WB, iLBC, GSM HR, iSAC), and the AMR
// options and mode requests, routed by the family of the configured encoder.
#include "voc_amr.h"
#include "voc_opus.h"
#include "voc_wrappers.h"

size_t ilbcDecStateBytes();
size_t ilbcEncStateBytes();
size_t gsmhrDecStateBytes();
size_t gsmhrEncStateBytes();
size_t isacStateBytes();

size_t vocoderDecStateBytesExt(unsigned alg) {
  if (alg == HAPI_PKT_ALG_ILBC20 || alg == HAPI_PKT_ALG_ILBC30) return ilbcDecStateBytes();
  if (alg == HAPI_PKT_ALG_GSMHR) return gsmhrDecStateBytes();
  if (alg == HAPI_PKT_ALG_ISAC) return isacStateBytes();
  if (alg == HAPI_PKT_ALG_OPUS) return opusDecStateBytes();
  if (alg == HAPI_PKT_ALG_GSMAMR) return gsmamrDecStateBytes();
  if (alg == HAPI_PKT_ALG_AMRWB) return amrwbDecStateBytes();
  return 0;
}

size_t vocoderEncStateBytesExt(unsigned alg) {
  if (alg == HAPI_PKT_ALG_ILBC20 || alg == HAPI_PKT_ALG_ILBC30) return ilbcEncStateBytes();
  if (alg == HAPI_PKT_ALG_GSMHR) return gsmhrEncStateBytes();
  if (alg == HAPI_PKT_ALG_ISAC) return isacStateBytes();
  if (alg == HAPI_PKT_ALG_OPUS) return opusEncStateBytes();
  if (alg == HAPI_PKT_ALG_GSMAMR) return gsmamrEncStateBytes();
  if (alg == HAPI_PKT_ALG_AMRWB) return amrwbEncStateBytes();
  return 0;
}

void vocoderInit() { opusWrapInit(); }

void vocoderAmrOptions(void* encPool, const AMR_REGS* options, bool wideband) {
  if (wideband) amrwbOptions(encPool, options);
  else gsmamrOptions(encPool, options);
}

void vocoderAmrModeRequest(void* encPool, uint16_t mode, bool wideband) {
  if (wideband) amrwbModeRequest(encPool, mode);
  else gsmamrModeRequest(encPool, mode);
}

// Memory of each family's wrapper state, for the codec service's per-code tables.
#include "voc_wrappers.h"

// Families whose wrappers are built elsewhere in this module register their sizes here.
size_t vocoderDecStateBytesExt(unsigned alg);
size_t vocoderEncStateBytesExt(unsigned alg);

size_t vocoderDecStateBytes(unsigned alg) {
  switch (alg) {
    case HAPI_PKT_ALG_G711: return sizeof(G711DecState);
    case HAPI_PKT_ALG_LINPCM128: return sizeof(LinPcmDecState);
    case HAPI_PKT_ALG_G726: return sizeof(G726DecState);
    case HAPI_PKT_ALG_G729: return sizeof(G729DecState);
    case HAPI_PKT_ALG_G7231: return sizeof(G7231DecState);
    case HAPI_PKT_ALG_G722: return sizeof(G722DecState);
    case HAPI_PKT_ALG_GSMFR: return sizeof(GsmFrDecState);
    case HAPI_PKT_ALG_GSMEFR: return sizeof(GsmEfrDecState);
    default: return vocoderDecStateBytesExt(alg);
  }
}

size_t vocoderEncStateBytes(unsigned alg) {
  switch (alg) {
    case HAPI_PKT_ALG_G711:
    case HAPI_PKT_ALG_LINPCM128: return sizeof(G711EncState);
    case HAPI_PKT_ALG_G726: return sizeof(G726EncState);
    case HAPI_PKT_ALG_G729: return sizeof(G729EncState);
    case HAPI_PKT_ALG_G7231: return sizeof(G7231EncState);
    case HAPI_PKT_ALG_G722: return sizeof(G722EncState);
    case HAPI_PKT_ALG_GSMFR: return sizeof(GsmFrEncState);
    case HAPI_PKT_ALG_GSMEFR: return sizeof(GsmEfrEncState);
    default: return vocoderEncStateBytesExt(alg);
  }
}

uint16_t vocoderDecCopyBytes(unsigned alg) {
  switch (alg) {
    case HAPI_PKT_ALG_G711: return 40;
    case HAPI_PKT_ALG_LINPCM128: return 80;
    case HAPI_PKT_ALG_G726: return 26;
    case HAPI_PKT_ALG_G729: return 16;
    case HAPI_PKT_ALG_G7231: return 24;
    case HAPI_PKT_ALG_G722: return 80;
    case HAPI_PKT_ALG_GSMFR: return 34;
    case HAPI_PKT_ALG_GSMEFR: return 32;
    case HAPI_PKT_ALG_GSMAMR: return 34;
    case HAPI_PKT_ALG_AMRWB: return 62;
    case HAPI_PKT_ALG_ILBC20:
    case HAPI_PKT_ALG_ILBC30: return 56;
    case HAPI_PKT_ALG_GSMHR: return 16;
    default: return 0;
  }
}

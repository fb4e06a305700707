// The vocoder table, the code-to-family map and the helpers the wrappers share.
#include "lhapi.h"
#include "vocoder.h"

const HSZVOCODERS* const hsgvocoders[HAPI_PKT_ALG_NUM] = {
    &vocoder_g711_NB, &vocoder_g726,  &vocoder_g729,   &vocoder_g7231,  nullptr,         nullptr,
    &vocoder_linPCM_NB, nullptr,      nullptr,         nullptr,         &vocoder_g722,   nullptr,
    &vocoder_ilbc20,  &vocoder_ilbc30, &vocoder_gsmamr, &vocoder_gsmefr, &vocoder_gsmfr, &vocoder_gsmhr,
    &vocoder_amrwb,   nullptr,        &vocoder_opus,   &vocoder_isac,
};

const uint8_t hsgpvealg[HAPI_PKT_VC_ALG_MAX] = {
    0,  0,                                                  // G.711
    1,  1,  1,  1,                                          // G.726
    2,  2,  2,                                              // G.729
    3,  3,                                                  // G.723.1
    4,  5,  6,  12, 13, 16, 15,                             // G.728, BV16, PCM, iLBC, FR, EFR
    14, 14, 14, 14, 14, 14, 14, 14,                         // AMR
    14, 14, 14, 14, 14, 14, 14, 14,                         // AMR octet-aligned
    19, 17,                                                 // PCM 64, HR
    20, 20, 20, 20, 20,                                     // Opus narrowband
    7,  7,  9,  8,                                          // G.711 WB, BV32, PCM 256
    10, 10, 10, 11, 11,                                     // G.722, G.722.1
    18, 18, 18, 18, 18, 18, 18, 18, 18,                     // AMR-WB
    18, 18, 18, 18, 18, 18, 18, 18, 18,                     // AMR-WB octet-aligned
    20, 20, 20, 20, 20,                                     // Opus wideband
    21, 21,                                                 // iSAC
};


uint16_t vocoderSwap(uint16_t w) { return static_cast<uint16_t>((w >> 8) | (w << 8)); }

void vocoderPackBytes(const int16_t* bytes, int n, uint16_t* words) {
  for (int i = 0; i < n; i += 2) {
    const uint16_t hi = static_cast<uint16_t>(bytes[i] & 0xFF);
    const uint16_t lo = i + 1 < n ? static_cast<uint16_t>(bytes[i + 1] & 0xFF) : 0;
    words[i / 2] = static_cast<uint16_t>(hi << 8 | lo);
  }
}

void vocoderPackBytes(const uint8_t* bytes, int n, uint16_t* words) {
  for (int i = 0; i < n; i += 2) words[i / 2] = static_cast<uint16_t>(bytes[i] << 8 | (i + 1 < n ? bytes[i + 1] : 0));
}

void vocoderUnpackBytes(const uint16_t* words, int n, int16_t* bytes) {
  for (int i = 0; i < n; ++i) {
    bytes[i] = static_cast<int16_t>(i % 2 == 0 ? words[i / 2] >> 8 : words[i / 2] & 0xFF);
  }
}

void vocoderCopy(void* decp, const AJC_PKT_HDR* h, uint16_t* dest, uint16_t words) {
  decoder_copyPayload(vocoderDecHdr(decp)->payloadQp, h, dest, words, 1);
}

void vocoderDropSecond(void* decp, AJC_PVEDEC_INT* r) {
  if (r->numCurrPkt != 2) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  decoder_copyPayload(vocoderDecHdr(decp)->payloadQp, &r->currPkt[1], nullptr, 0, 2);
}

uint16_t vocoderTakeBytes(void* decp, AJC_PVEDEC_INT* r, uint16_t maxBytes, uint8_t* bytes) {
  const AJC_PKT_HDR& h = r->currPkt[0];
  const uint16_t n = h.payloadLength > maxBytes ? maxBytes : h.payloadLength;
  uint16_t* words = vocoderDecHdr(decp)->payloadBufp;
  vocoderCopy(decp, &h, words, static_cast<uint16_t>((n + 1) / 2));
  if (vocoderClass(r) == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
  for (int i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i % 2 == 0 ? words[i / 2] >> 8 : words[i / 2] & 0xFF);
  return n;
}

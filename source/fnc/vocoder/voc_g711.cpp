// G.711 and 16-bit linear PCM: 40 samples at 8 kHz per call, with the waveform concealment.
#include <cstring>

#include "g711.h"
#include "lhapi.h"
#include "voc_plc.h"
#include "voc_wrappers.h"

namespace {

constexpr int kFrame = 40;

void expand(uint16_t code, const uint16_t* words, int16_t* out) {
  int16_t codes[kFrame];
  vocoderUnpackBytes(words, kFrame, codes);
  if (code == HAPI_PKT_VC_G711_ALAW) g711AlawExpand(kFrame, codes, out);
  else g711UlawExpand(kFrame, codes, out);
}

// One frame of either family: `words` payload words per frame, decoded into 40 samples.
template <typename Decode>
void waveformDecode(void* decp, AJC_PVEDEC_INT* r, int16_t* out, PvePlc* plc, uint16_t words, Decode decode) {
  const uint8_t c = vocoderClass(r);
  uint16_t* payload = vocoderDecHdr(decp)->payloadBufp;
  if (c == AJC_PKT_VOICE || c == AJC_PKT_VOICEBANDDATA || c == AJC_PKT_DOUBLE_DECODE) {
    vocoderCopy(decp, &r->currPkt[0], payload, words);
    decode(payload, out);
    if (c == AJC_PKT_DOUBLE_DECODE) {
      if (r->numCurrPkt == 2) {
        // The deleted frame still feeds the concealment's history; the second one is played.
        g711_plcUpdate(plc, out, kFrame, false);
        vocoderCopy(decp, &r->currPkt[1], payload, words);
        decode(payload, out);
      } else {
        LHAPI_ASSERT_FAIL();
      }
    }
  }
  g711_plcUpdate(plc, out, kFrame, c == AJC_PKT_FRAME_REPEAT);
}

}  // namespace

void g711nbdecodeinitcfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<G711DecState>(algmem);
  pvePlcConfig(&st->plc, (cfgregs->hsxVadCngPlcOptions & PLC_MASK) >> PLC_SHIFT, algChange != 0);
  st->code = algorithm & 0xFF;
}

void g711nbdecode(void* decp, AJC_PVEDEC_INT* r, int16_t* speechbufp) {
  auto* st = vocoderDecState<G711DecState>(decp);
  const uint16_t code = st->code;
  waveformDecode(decp, r, speechbufp, &st->plc, kFrame / 2,
                 [code](const uint16_t* w, int16_t* out) { expand(code, w, out); });
}

void g711encodeinitcfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t) {
  static_cast<G711EncState*>(algmem)->code = algorithm & 0xFF;
}

int g711encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  const uint16_t code = static_cast<G711EncState*>(algmem)->code;
  int16_t codes[kFrame];
  if (code == HAPI_PKT_VC_G711_ULAW) {
    g711UlawCompress(kFrame, speechbufp, codes);
  } else if (code == HAPI_PKT_VC_G711_ALAW) {
    g711AlawCompress(kFrame, speechbufp, codes);
  } else {
    LHAPI_ASSERT_FAIL();
    g711UlawCompress(kFrame, speechbufp, codes);
  }
  vocoderPackBytes(codes, kFrame, rawdata);
  *payloadSize = kFrame;
  return PVE_ENC_VOICE;
}

void linPCM128decodeinitcfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t, uint16_t algChange) {
  auto* st = vocoderDecState<LinPcmDecState>(algmem);
  pvePlcConfig(&st->plc, (cfgregs->hsxVadCngPlcOptions & PLC_MASK) >> PLC_SHIFT, algChange != 0);
}

void linPCM128decode(void* decp, AJC_PVEDEC_INT* r, int16_t* speechbufp) {
  auto* st = vocoderDecState<LinPcmDecState>(decp);
  waveformDecode(decp, r, speechbufp, &st->plc, kFrame,
                 [](const uint16_t* w, int16_t* out) { std::memcpy(out, w, kFrame * sizeof(int16_t)); });
}

void linPCMencodeinitcfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t) {
  static_cast<G711EncState*>(algmem)->code = algorithm & 0xFF;
}

int linPCMencode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  LHAPI_ASSERT(static_cast<G711EncState*>(algmem)->code == HAPI_PKT_VC_LINPCM128);
  std::memcpy(rawdata, speechbufp, kFrame * sizeof(int16_t));
  *payloadSize = 2 * kFrame;
  return PVE_ENC_VOICE;
}

const HSZVOCODERS vocoder_g711_NB{g711nbdecodeinitcfg, g711nbdecode, g711encodeinitcfg, g711encode};
const HSZVOCODERS vocoder_linPCM_NB{linPCM128decodeinitcfg, linPCM128decode, linPCMencodeinitcfg, linPCMencode};

// G.722 at 64, 56 and 48 kbit/s: 160 samples at 16 kHz per call, 80 code bytes two to a word,
// with the codec's own wideband concealment.
#include <cstring>

#include "lhapi.h"
#include "voc_wrappers.h"

namespace {
constexpr int kSamples = 160;
constexpr int kCodes = 80;
}  // namespace

void g722wDecInitConfig(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<G722DecState>(algmem);
  const uint16_t code = algorithm & 0xFF;
  if (code < 45 || code > 47) LHAPI_ASSERT_FAIL();
  st->mode = code >= 45 && code <= 47 ? code - 44 : 1;
  st->plcMode = (cfgregs->hsxVadCngPlcOptions & PLC_MASK) >> PLC_SHIFT;
  if (algChange) {
    g722_reset_decoder(&st->codec);
    g722_Reset_WB_PLC(&st->plc);
  }
}

void g722wDecFrame(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<G722DecState>(decp);
  uint16_t* payload = vocoderDecHdr(decp)->payloadBufp;
  const uint8_t c = vocoderClass(r);
  int16_t codes[kCodes] = {};
  if (c == AJC_PKT_FRAME_REPEAT) {
    if (st->plcMode == 0) {
      std::memset(out, 0, kSamples * sizeof(int16_t));
      return;
    }
    g722_dec(codes, out, st->mode, kCodes, &st->codec, &st->plc, 1);
    return;
  }
  if (c != AJC_PKT_VOICE && c != AJC_PKT_DOUBLE_DECODE) return;
  vocoderCopy(decp, &r->currPkt[0], payload, kCodes / 2);
  vocoderUnpackBytes(payload, kCodes, codes);
  if (c == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
  g722_dec(codes, out, st->mode, kCodes, &st->codec, &st->plc, 0);
}

void g722wEncInitConfig(void* algmem, const HSZVOCREGS*, uint16_t, uint16_t algChange) {
  auto* st = static_cast<G722EncState*>(algmem);
  if (algChange) g722_reset_encoder(&st->codec);
}

int g722wEncFrame(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<G722EncState*>(algmem);
  int16_t codes[kCodes];
  g722_enc(speechbufp, codes, kSamples, &st->codec);
  vocoderPackBytes(codes, kCodes, rawdata);
  *payloadSize = kCodes;
  return PVE_ENC_VOICE;
}

const HSZVOCODERS vocoder_g722{g722wDecInitConfig, g722wDecFrame, g722wEncInitConfig, g722wEncFrame};

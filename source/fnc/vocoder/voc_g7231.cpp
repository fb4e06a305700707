// G.723.1 at 5.3 and 6.3 kbit/s: 240 samples per call. The codec packs its frame with the first
// byte in the low half of each word; the payload has it in the high half, so every word is
// swapped both ways.
#include <cstring>

#include "lhapi.h"
#include "voc_wrappers.h"

namespace {
constexpr uint16_t kCopyWords = 12;
constexpr G7231_Crate rateOf(uint16_t algorithm) { return (algorithm & 0xFF) == HAPI_PKT_VC_G7231_53 ? 1 : 0; }
}  // namespace

void g7231decodeinitcfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<G7231DecState>(algmem);
  if (algChange) g7231_Init_Decod(&st->codec.DecStat);
  st->codec.WrkRate = rateOf(algorithm);
  g7231_Init_Dec_Cng(&st->codec.DecCng);
  st->codec.UsePf = 1;
}

void g7231decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<G7231DecState>(decp);
  uint16_t* payload = vocoderDecHdr(decp)->payloadBufp;
  const uint8_t c = vocoderClass(r);
  int16_t frame[kCopyWords] = {};
  int16_t erased = 0;
  if (c == AJC_PKT_CNG || c == AJC_PKT_FRAME_REPEAT) {
    frame[0] = 3;  // not transmitted: the codec's comfort noise, or concealment when erased
    erased = c == AJC_PKT_FRAME_REPEAT;
  } else if (c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_VOICEBANDDATA || c == AJC_PKT_DOUBLE_DECODE) {
    vocoderCopy(decp, &r->currPkt[0], payload, kCopyWords);
    for (int i = 0; i < kCopyWords; ++i) frame[i] = static_cast<int16_t>(vocoderSwap(payload[i]));
    if (c == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
  } else {
    frame[0] = 3;
  }
  g7231_Decod(out, frame, erased, &st->codec);
}

void g7231encodeinitcfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = static_cast<G7231EncState*>(algmem);
  if (algChange) g7231_Init_Coder(&st->codec.CodStat);
  st->codec.WrkRate = rateOf(algorithm);
  st->codec.UseVx = (algorithm >> 8) == 2 ? 1 : 0;
  if (st->codec.UseVx) {
    g7231_Init_Vad(&st->codec.VadStat);
    g7231_Init_Cod_Cng(&st->codec.CodCng);
  }
  st->codec.UseHp = 1;
}

int g7231encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<G7231EncState*>(algmem);
  int16_t frame[kCopyWords] = {};
  g7231_Coder(speechbufp, frame, &st->codec);
  static constexpr uint16_t kBytes[4] = {24, 20, 4, 0};
  static constexpr int kType[4] = {PVE_ENC_VOICE, PVE_ENC_VOICE, PVE_ENC_SID, PVE_ENC_NONE};
  const int type = frame[0] & 3;
  *payloadSize = kBytes[type];
  for (int i = 0; i < (kBytes[type] + 1) / 2; ++i) rawdata[i] = vocoderSwap(static_cast<uint16_t>(frame[i]));
  return kType[type];
}

const HSZVOCODERS vocoder_g7231{g7231decodeinitcfg, g7231decode, g7231encodeinitcfg, g7231encode};

// G.726 at 16 to 40 kbit/s: 40 samples per call, codewords packed least significant bits first
// into the payload bytes (RFC 3551), the first codeword in the lowest bits of the first byte.
#include "lhapi.h"
#include "voc_plc.h"
#include "voc_wrappers.h"

namespace {

constexpr int kFrame = 40;

int bitsPerCode(uint16_t code) { return code >= 2 && code <= 5 ? code : 4; }
int payloadBytes(uint16_t code) { return kFrame * bitsPerCode(code) / 8; }

void packCodes(const int16_t* codes, int bits, uint16_t* words) {
  int16_t bytes[25] = {};
  for (int i = 0; i < kFrame; ++i) {
    for (int b = 0; b < bits; ++b) {
      const int pos = i * bits + b;
      if ((codes[i] >> b) & 1) bytes[pos / 8] = static_cast<int16_t>(bytes[pos / 8] | (1 << (pos % 8)));
    }
  }
  vocoderPackBytes(bytes, kFrame * bits / 8, words);
}

void unpackCodes(const uint16_t* words, int bits, int16_t* codes) {
  int16_t bytes[26];
  vocoderUnpackBytes(words, kFrame * bits / 8, bytes);
  for (int i = 0; i < kFrame; ++i) {
    int v = 0;
    for (int b = 0; b < bits; ++b) {
      const int pos = i * bits + b;
      v |= ((bytes[pos / 8] >> (pos % 8)) & 1) << b;
    }
    codes[i] = static_cast<int16_t>(v);
  }
}

void decodeOne(G726DecState* st, const uint16_t* words, int16_t* out) {
  unpackCodes(words, bitsPerCode(st->code), out);
  g726_decode(out, out, &st->codec, kFrame);
}

}  // namespace

void g726decodeinitcfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<G726DecState>(algmem);
  st->code = algorithm & 0xFF;
  if (st->code < 2 || st->code > 5) LHAPI_ASSERT_FAIL();
  if (algChange) g726_reset(&st->codec);
  g726_configure(&st->codec, static_cast<G726_Rate>(bitsPerCode(st->code)), G726_LINEAR);
  pvePlcConfig(&st->plc, ((cfgregs->hsxVadCngPlcOptions & PLC_MASK) >> PLC_SHIFT) != 0 ? 1 : 0, algChange != 0);
}

void g726decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<G726DecState>(decp);
  const uint8_t c = vocoderClass(r);
  uint16_t* payload = vocoderDecHdr(decp)->payloadBufp;
  const uint16_t words = static_cast<uint16_t>((payloadBytes(st->code) + 1) / 2);
  if (c == AJC_PKT_VOICE || c == AJC_PKT_VOICEBANDDATA || c == AJC_PKT_DOUBLE_DECODE) {
    vocoderCopy(decp, &r->currPkt[0], payload, words);
    decodeOne(st, payload, out);
    if (c == AJC_PKT_DOUBLE_DECODE) {
      if (r->numCurrPkt == 2) {
        g711_plcUpdate(&st->plc, out, kFrame, false);
        vocoderCopy(decp, &r->currPkt[1], payload, words);
        decodeOne(st, payload, out);
      } else {
        LHAPI_ASSERT_FAIL();
      }
    }
  }
  g711_plcUpdate(&st->plc, out, kFrame, c == AJC_PKT_FRAME_REPEAT);
}

void g726encodeinitcfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = static_cast<G726EncState*>(algmem);
  st->code = algorithm & 0xFF;
  if (st->code < 2 || st->code > 5) LHAPI_ASSERT_FAIL();
  if (algChange) g726_reset(&st->codec);
  g726_configure(&st->codec, static_cast<G726_Rate>(bitsPerCode(st->code)), G726_LINEAR);
}

int g726encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<G726EncState*>(algmem);
  int16_t codes[kFrame];
  g726_encode(speechbufp, codes, &st->codec, kFrame);
  packCodes(codes, bitsPerCode(st->code), rawdata);
  *payloadSize = static_cast<uint16_t>(payloadBytes(st->code));
  return PVE_ENC_VOICE;
}

const HSZVOCODERS vocoder_g726{g726decodeinitcfg, g726decode, g726encodeinitcfg, g726encode};

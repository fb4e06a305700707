// iLBC at 20 ms (38 bytes) and 30 ms (50 bytes): one codec frame per call; the payload words are
// the codec's own bit stream, the earlier byte in the high half of each word.
#include <cstring>

#include "ilbc.h"
#include "lhapi.h"
#include "vocoder.h"

namespace {

constexpr uint16_t kCopyWords = 28;

struct IlbcDecState {
  uint16_t code;
  uint16_t payload[kCopyWords];  // the last payload taken: played again for frames without one
  iLBC_Dec_Inst_t codec;
};

struct IlbcEncState {
  uint16_t code;
  iLBC_Enc_Inst_t codec;
};

int16_t modeOf(uint16_t algorithm) { return (algorithm & 0xFF) == 15 ? 30 : 20; }

}  // namespace

void ilbcwDecInitConfig(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t) {
  auto* st = vocoderDecState<IlbcDecState>(algmem);
  const uint16_t code = algorithm & 0xFF;
  if (code != 14 && code != 15) LHAPI_ASSERT_FAIL();
  st->code = code;
  std::memset(st->payload, 0, sizeof(st->payload));
  ILBCFIX_MORV_initDecode(&st->codec, modeOf(algorithm), 1);
}

void ilbcwDecFrame(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<IlbcDecState>(decp);
  const uint8_t c = vocoderClass(r);
  if (c == AJC_PKT_FRAME_REPEAT) {
    ILBCFIX_MORV_Decode(out, st->payload, &st->codec, 0);  // concealment
    return;
  }
  if (c == AJC_PKT_VOICE || c == AJC_PKT_DOUBLE_DECODE) {
    vocoderCopy(decp, &r->currPkt[0], st->payload, kCopyWords);
    if (c == AJC_PKT_DOUBLE_DECODE) {
      // The deleted frame is not decoded: the second one's payload replaces it.
      if (r->numCurrPkt == 2) vocoderCopy(decp, &r->currPkt[1], st->payload, kCopyWords);
      else LHAPI_ASSERT_FAIL();
    }
  }
  ILBCFIX_MORV_Decode(out, st->payload, &st->codec, 1);
}

void ilbcwEncInitConfig(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t) {
  auto* st = static_cast<IlbcEncState*>(algmem);
  st->code = algorithm & 0xFF;
  ILBCFIX_MORV_initEncode(&st->codec, modeOf(algorithm));
}

int ilbcwEncFrame(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<IlbcEncState*>(algmem);
  ILBCFIX_MORV_encode(rawdata, speechbufp, &st->codec);
  *payloadSize = static_cast<uint16_t>(st->codec.no_of_bytes);
  return PVE_ENC_VOICE;
}

size_t ilbcDecStateBytes() { return sizeof(IlbcDecState); }
size_t ilbcEncStateBytes() { return sizeof(IlbcEncState); }

const HSZVOCODERS vocoder_ilbc20{ilbcwDecInitConfig, ilbcwDecFrame, ilbcwEncInitConfig, ilbcwEncFrame};
const HSZVOCODERS vocoder_ilbc30{ilbcwDecInitConfig, ilbcwDecFrame, ilbcwEncInitConfig, ilbcwEncFrame};

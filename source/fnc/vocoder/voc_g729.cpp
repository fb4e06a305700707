// G.729 Annex A with the Annex B silence compression: 80 samples per call, 10-byte voice frames
// and 2-byte SID frames.
#include "lhapi.h"
#include "voc_wrappers.h"

namespace {
constexpr G729RATE kResetValue = static_cast<G729RATE>(4);
constexpr uint16_t kCopyWords = 8;
}  // namespace

void g729wdecodeinitcfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<G729DecState>(algmem);
  if (algChange) {
    g729DecodeInit(&st->codec, kResetValue);
    st->prevKind = G729_RATE_8_0;
  }
  if ((algorithm & 0xFF) == HAPI_PKT_VC_G729A_8) {
    g729DecodeCfg(&st->codec, G729RATE_8_KBPS_A);
  } else {
    LHAPI_ASSERT_FAIL();  // only Annex A is built in
    g729DecodeCfg(&st->codec, kResetValue);
  }
}

void g729wdecode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<G729DecState>(decp);
  uint16_t* payload = vocoderDecHdr(decp)->payloadBufp;
  const uint8_t c = vocoderClass(r);
  G729FRAMETYPE kind;
  switch (c) {
    case AJC_PKT_VOICE:
    case AJC_PKT_DOUBLE_DECODE:
      kind = G729_RATE_8_0;
      break;
    case AJC_PKT_SID:
      kind = G729_RATE_SID_OCTET;
      break;
    case AJC_PKT_FRAME_REPEAT:
      kind = G729_BFI;
      break;
    case AJC_PKT_CNG:
      kind = (st->prevKind == G729_RATE_0 || st->prevKind == G729_RATE_SID_OCTET) ? G729_RATE_0 : G729_BFI;
      break;
    default:
      LHAPI_ASSERT_FAIL();
      kind = G729_NUMFRAMETYPES;
      break;
  }
  if (c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_DOUBLE_DECODE) {
    vocoderCopy(decp, &r->currPkt[0], payload, kCopyWords);
    if (c == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
  }
  g729Decoder(&st->codec, out, payload, kind, nullptr);
  st->prevKind = kind;
}

void g729wencodeinitcfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = static_cast<G729EncState*>(algmem);
  if (algChange) g729EncodeInit(&st->codec, kResetValue);
  const G729VAD vad = (algorithm >> 8) == 2 ? G729VAD_ON : G729VAD_OFF;
  if ((algorithm & 0xFF) != HAPI_PKT_VC_G729A_8) LHAPI_ASSERT_FAIL();
  g729EncodeCfg(&st->codec, vad, G729RATE_8_KBPS_A);
}

int g729wencode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<G729EncState*>(algmem);
  uint16_t packed[6] = {};
  const G729FRAMETYPE kind = g729Encoder(&st->codec, speechbufp, packed, nullptr);
  switch (kind) {
    case G729_RATE_8_0:
      for (int i = 0; i < 5; ++i) rawdata[i] = packed[i];
      *payloadSize = 10;
      return PVE_ENC_VOICE;
    case G729_RATE_SID_OCTET:
      rawdata[0] = packed[0];
      *payloadSize = 2;
      return PVE_ENC_SID;
    case G729_RATE_0:
    case G729_BFI:
      *payloadSize = 0;
      return PVE_ENC_NONE;
    default:
      LHAPI_ASSERT_FAIL();
      *payloadSize = 0;
      return PVE_ENC_NONE;
  }
}

const HSZVOCODERS vocoder_g729{g729wdecodeinitcfg, g729wdecode, g729wencodeinitcfg, g729wencode};

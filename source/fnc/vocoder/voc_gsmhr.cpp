// GSM half rate: 160 samples per call; the payload is RFC 5993's table-of-contents byte (0x00
// speech, 0x20 SID) followed by the 112 codec bits, most significant first.
#include <cstring>

#include "gsmhr.h"
#include "lhapi.h"
#include "vocoder.h"

using namespace hr;

namespace {

constexpr int kBits = GSMHR_SERIAL_BITS;  // 112
constexpr int kBytes = 15;
constexpr uint16_t kCopyWords = 8;
constexpr int kDtxPeriod = 8;

struct GsmHrEncState {
  uint16_t dtx;
  uint16_t counter;  // non-speech frames since the last one sent
  uint16_t prevSpeech;
  GSMHR_ENCSTRUCT codec;
};

struct GsmHrDecState {
  uint16_t prevHoming;  // the previous frame was a decoder homing frame
  GSMHR_DECSTRUCT codec;
};

}  // namespace

void gsmhrwrap_DecCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<GsmHrDecState>(algmem);
  if ((algorithm & 0xFF) != 35) LHAPI_ASSERT_FAIL();
  if (algChange) {
    gsmhr_reset_dec(&st->codec);
    st->prevHoming = 0;
  }
}

void gsmhrwrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<GsmHrDecState>(decp);
  const uint8_t c = vocoderClass(r);
  Word16 parm[GSMHR_NUM_DEC_PRM] = {};
  uint32_t flags = GSMHR_FLAG_BFI;
  if (c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_DOUBLE_DECODE) {
    uint16_t* words = vocoderDecHdr(decp)->payloadBufp;
    vocoderCopy(decp, &r->currPkt[0], words, kCopyWords);
    if (c == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
    int16_t bytes[16];
    vocoderUnpackBytes(words, kBytes, bytes);
    Word16 serial[kBits];
    for (int i = 0; i < kBits; ++i) serial[i] = static_cast<Word16>((bytes[1 + i / 8] >> (7 - i % 8)) & 1);
    gsmhr_bits2prm(serial, parm);
    const int type = (bytes[0] >> 4) & 7;
    flags = type == 0 ? 0u : type == 2 ? static_cast<uint32_t>(GSMHR_FLAG_SID) : static_cast<uint32_t>(GSMHR_FLAG_BFI);
  }
  // Decoder homing (GSM 06.20): a homing frame after a homing frame plays the homing pattern.
  const bool good = flags == 0;
  if (st->prevHoming && good && gsmhr_decoder_homing_frame_test(parm, 9)) {
    for (int i = 0; i < GSMHR_FRAME_LEN; ++i) out[i] = 8;
    gsmhr_reset_dec(&st->codec);
    return;
  }
  Word16 kept[GSMHR_NUM_PRM];
  std::memcpy(kept, parm, sizeof(kept));
  gsmhr_decode(&st->codec, parm, flags, out);
  const bool homing = good && !st->prevHoming && gsmhr_decoder_homing_frame_test(kept, GSMHR_NUM_PRM);
  if (homing) gsmhr_reset_dec(&st->codec);
  st->prevHoming = homing ? 1 : 0;
}

void gsmhrwrap_EncCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = static_cast<GsmHrEncState*>(algmem);
  const uint16_t dtx = (algorithm >> 8) == 2 ? 1 : 0;
  if (algChange || dtx != st->dtx) gsmhr_reset_enc(&st->codec, static_cast<Word16>(dtx));
  st->dtx = dtx;
  st->counter = 0;
  st->prevSpeech = 1;
}

int gsmhrwrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<GsmHrEncState*>(algmem);
  const bool homing = gsmhr_encoder_homing_frame_test(speechbufp) != 0;
  Word16 parm[GSMHR_NUM_ENC_PRM] = {};
  uint32_t flags = 0;
  gsmhr_encode(&st->codec, speechbufp, &flags, parm);
  if (homing) gsmhr_reset_enc(&st->codec, static_cast<Word16>(st->dtx));
  const bool speech = !st->dtx || (flags & GSMHR_FLAG_SP) != 0;
  bool send = speech;
  if (!speech) {
    // Right after speech, then every 8th frame.
    if (st->prevSpeech || ++st->counter >= kDtxPeriod) {
      send = true;
      st->counter = 0;
    }
  }
  st->prevSpeech = speech;
  if (!send) {
    *payloadSize = 0;
    return PVE_ENC_NONE;
  }
  Word16 serial[kBits];
  gsmhr_prm2bits(parm, serial);
  int16_t bytes[kBytes] = {};
  bytes[0] = speech ? 0x00 : 0x20;
  for (int i = 0; i < kBits; ++i) {
    if (serial[i]) bytes[1 + i / 8] = static_cast<int16_t>(bytes[1 + i / 8] | (0x80 >> (i % 8)));
  }
  vocoderPackBytes(bytes, kBytes, rawdata);
  *payloadSize = kBytes;
  return PVE_ENC_VOICE;
}

size_t gsmhrDecStateBytes() { return sizeof(GsmHrDecState); }
size_t gsmhrEncStateBytes() { return sizeof(GsmHrEncState); }

const HSZVOCODERS vocoder_gsmhr{gsmhrwrap_DecCfg, gsmhrwrap_Decode, gsmhrwrap_EncCfg, gsmhrwrap_Encode};

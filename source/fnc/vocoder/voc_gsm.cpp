// GSM full rate and enhanced full rate: 160 samples per call. Payloads are the RTP forms: a
// signature nibble (0xD full rate, 0xC EFR) followed by the codec bits, most significant first.
#include <cstring>

#include "amrefr_tables.h"
#include "lhapi.h"
#include "voc_wrappers.h"

namespace {

constexpr int kFrBits = GSMFR_SERIAL_BITS;  // 260
constexpr int kEfrBits = 244;
constexpr int kFrBytes = 33;
constexpr int kEfrBytes = 31;
constexpr int kDtxPeriod = 24;

// Signature nibble then one bit per word, most significant bit first, into payload words.
void packFrame(uint16_t signature, const int16_t* bits, int nbits, uint16_t* words) {
  const int nbytes = (nbits + 4 + 7) / 8;
  int16_t bytes[40] = {};
  bytes[0] = static_cast<int16_t>(signature << 4);
  for (int i = 0; i < nbits; ++i) {
    const int pos = i + 4;
    if (bits[i]) bytes[pos / 8] = static_cast<int16_t>(bytes[pos / 8] | (0x80 >> (pos % 8)));
  }
  vocoderPackBytes(bytes, nbytes, words);
}

// Returns the signature nibble.
uint16_t unpackFrame(const uint16_t* words, int nbits, int16_t* bits) {
  const int nbytes = (nbits + 4 + 7) / 8;
  int16_t bytes[40];
  vocoderUnpackBytes(words, nbytes, bytes);
  for (int i = 0; i < nbits; ++i) {
    const int pos = i + 4;
    bits[i] = static_cast<int16_t>((bytes[pos / 8] >> (7 - pos % 8)) & 1);
  }
  return static_cast<uint16_t>((bytes[0] >> 4) & 0xF);
}

bool hasPayload(uint8_t c) { return c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_DOUBLE_DECODE; }
bool isLost(uint8_t c) { return c == AJC_PKT_UNKNOWN || c == AJC_PKT_CNG || c == AJC_PKT_FRAME_REPEAT; }

}  // namespace

// ---- GSM full rate ----

void gsmfrwrap_DecCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<GsmFrDecState>(algmem);
  if ((algorithm & 0xFF) != HAPI_PKT_VC_GSM_FR_13) LHAPI_ASSERT_FAIL();
  if (algChange) gsmfr_reset_dec(&st->codec);
}

void gsmfrwrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<GsmFrDecState>(decp);
  uint16_t* payload = vocoderDecHdr(decp)->payloadBufp;
  const uint8_t c = vocoderClass(r);
  int16_t parm[GSMFR_NUM_DEC_PRM] = {};
  uint16_t flags = 0;
  if (hasPayload(c)) {
    vocoderCopy(decp, &r->currPkt[0], payload, (kFrBytes + 1) / 2);
    int16_t bits[kFrBits];
    if (unpackFrame(payload, kFrBits, bits) != 0xD) flags |= 4;
    gsmfr_bits2prm(bits, parm);
    if (c == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
  } else if (isLost(c)) {
    flags = 5;
  }
  gsmfr_decode(&st->codec, parm, flags, out);
}

void gsmfrwrap_EncCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = static_cast<GsmFrEncState*>(algmem);
  const uint16_t dtx = (algorithm >> 8) == 2 ? 1 : 0;
  if (algChange || dtx != st->dtx) gsmfr_reset_enc(&st->codec, static_cast<int16_t>(dtx));
  st->dtx = dtx;
  st->frameCounter = 0;
  st->prevSpeech = 1;
}

int gsmfrwrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<GsmFrEncState*>(algmem);
  int16_t parm[GSMFR_NUM_PRM];
  gsmfr_encode(&st->codec, speechbufp, parm);
  const bool speech = !st->dtx || parm[1] < 0;
  st->frameCounter = static_cast<uint16_t>((st->frameCounter + 1) % kDtxPeriod);
  const bool send = speech || st->prevSpeech || st->frameCounter == 0;
  st->prevSpeech = speech;
  if (!send) {
    *payloadSize = 0;
    return PVE_ENC_NONE;
  }
  int16_t bits[kFrBits];
  gsmfr_prm2bits(parm, bits);
  packFrame(0xD, bits, kFrBits, rawdata);
  *payloadSize = kFrBytes;
  return PVE_ENC_VOICE;
}

// ---- GSM enhanced full rate ----

void gsmefrwrap_DecCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<GsmEfrDecState>(algmem);
  const uint16_t code = algorithm & 0xFF;
  if (code != HAPI_PKT_VC_GSM_EFR_122 && code != HAPI_PKT_VC_GSM_EFR_SID) LHAPI_ASSERT_FAIL();
  if (algChange) amrefr_Speech_Decode_Frame_resetEFR(&st->codec.speech_decoder_state, &st->codec.EFRdtx_decSt);
}

namespace {
// The SID classification of GSM 06.81 by the zeros among the SID code word's 95 bits.
int16_t efrSidClass(const int16_t* bits) {
  int zeros = 0;
  for (int i = 0; i < 95; ++i) zeros += bits[amrefr_SID_codeword_bit_idx[i]] == 0;
  return zeros <= 1 ? 2 : zeros < 16 ? 1 : 0;
}
}  // namespace

void gsmefrwrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<GsmEfrDecState>(decp);
  uint16_t* payload = vocoderDecHdr(decp)->payloadBufp;
  const uint8_t c = vocoderClass(r);
  int16_t serial[2 + kEfrBits + 1] = {};
  if (hasPayload(c)) {
    vocoderCopy(decp, &r->currPkt[0], payload, (kEfrBytes + 1) / 2);
    unpackFrame(payload, kEfrBits, serial + 1);
    serial[1 + kEfrBits] = efrSidClass(serial + 1);
    if (c == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
  } else {
    serial[0] = 1;  // bad frame
  }
  amrefr_Speech_Decode_Frame(&st->codec.speech_decoder_state, 0, serial, out, 1);
}

void gsmefrwrap_EncCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = static_cast<GsmEfrEncState*>(algmem);
  const uint16_t dtx = (algorithm >> 8) == 2 ? 1 : 0;
  if (algChange || dtx != st->dtx) {
    amrefr_Speech_Encode_Frame_resetEFR(&st->codec.speech_encoder_state, static_cast<Word16>(dtx),
                                        &st->codec.EFRdtx_encSt);
  }
  st->dtx = dtx;
  st->sidCounter = 0;
  st->prevSpeech = 1;
}

int gsmefrwrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<GsmEfrEncState*>(algmem);
  int16_t serial[250] = {};
  amrefr_Speech_Encode_Frame(&st->codec.speech_encoder_state, 7, speechbufp, serial, nullptr, 1);
  const bool speech = !st->dtx || serial[245] != 0;
  bool send = speech;
  if (!speech) {
    // The first non-speech frame after speech, then one in every 24.
    if (st->prevSpeech) {
      send = true;
      st->sidCounter = 0;
    } else if (++st->sidCounter >= kDtxPeriod) {
      send = true;
      st->sidCounter = 0;
    }
  }
  st->prevSpeech = speech;
  if (!send) {
    *payloadSize = 0;
    return PVE_ENC_NONE;
  }
  packFrame(0xC, serial, kEfrBits, rawdata);
  *payloadSize = kEfrBytes;
  return PVE_ENC_VOICE;
}

const HSZVOCODERS vocoder_gsmfr{gsmfrwrap_DecCfg, gsmfrwrap_Decode, gsmfrwrap_EncCfg, gsmfrwrap_Encode};
const HSZVOCODERS vocoder_gsmefr{gsmefrwrap_DecCfg, gsmefrwrap_Decode, gsmefrwrap_EncCfg, gsmefrwrap_Encode};

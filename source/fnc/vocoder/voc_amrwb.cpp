// AMR-WB (RFC 4867 single-frame payloads in either framing): the twin of the AMR wrapper, with
// the codec's soft bits (-127 for 0, +127 for 1), nine speech modes and a four-bit mode
// indication in its SID frames.
#include <cstring>

#include "amrwb_decoder.h"
#include "amrwb_encoder.h"
#include "lhapi.h"
#include "voc_amr.h"
#include "voc_amr_tables.h"

namespace {

constexpr uint16_t kBits[10] = {132, 177, 253, 285, 317, 365, 397, 461, 477, 40};
constexpr uint16_t kBytesBe[10] = {18, 24, 33, 37, 41, 47, 51, 59, 61, 7};
constexpr uint16_t kBytesOa[10] = {19, 25, 34, 38, 42, 48, 52, 60, 62, 7};
constexpr unsigned kSid = 9;
constexpr unsigned kSpeechLost = 14;
constexpr unsigned kNoData = 15;
constexpr int kSerialWords = 477;
constexpr int16_t kOne = 127, kZero = -127;

struct AmrWbEncState {
  AMR_PKT_STATE pkt;  // first: the codec service's payload builder reads it
  uint16_t mode;
  uint16_t octetAligned;
  uint16_t dtx;
  uint16_t modeSet;
  uint16_t modeChangeNeighbor;
  uint16_t modeChangePeriod;
  uint16_t requestedMode;
  uint16_t toggle;
  wb_amr_TX_State tx;
  wb_amr_Coder_State codec;
};

struct AmrWbDecState {
  uint16_t mode;
  uint16_t lastMode;
  uint16_t octetAligned;
  wb_amr_RX_State rx;
  wb_amr_Decoder_State codec;
};

bool decodeCode(uint16_t code, uint16_t* mode, uint16_t* octetAligned) {
  if (code >= 50 && code <= 58) {
    *mode = static_cast<uint16_t>(code - 50), *octetAligned = 0;
    return true;
  }
  if (code >= 59 && code <= 67) {
    *mode = static_cast<uint16_t>(code - 59), *octetAligned = 1;
    return true;
  }
  return false;
}

}  // namespace

void amrwbwrap_EncCfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t) {
  auto* st = static_cast<AmrWbEncState*>(algmem);
  if (!decodeCode(algorithm & 0xFF, &st->mode, &st->octetAligned)) LHAPI_ASSERT_FAIL();
  const AMR_REGS& amr = cfgregs->amrOptions;
  st->modeSet = amr.modeSet;
  st->modeChangeNeighbor = amr.modeChangeNeighbor;
  st->modeChangePeriod = amr.modeChangePeriod;
  st->requestedMode = kNoData;
  st->toggle = 0;
  st->pkt.ptime = amrPtime(amr.ptime);
  st->pkt.red = amrRed(amr.ptime, amr.red);
  st->pkt.elapsed = 0;
  st->pkt.stored = 0;
  st->pkt.next = 0;
  st->dtx = (algorithm >> 8) == 2 ? 1 : 0;
  amr_wb_Init_coder(&st->codec);
  amr_wb_Reset_write_serial(&st->tx);
}

int amrwbwrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<AmrWbEncState*>(algmem);
  const uint16_t set = st->modeSet != 0 ? st->modeSet : 0x1FF;
  const uint16_t q = st->requestedMode;
  if (q != st->mode && q != kNoData && !(st->modeChangePeriod && st->toggle == 0)) {
    st->mode = amrNextMode(st->mode, q, set, st->modeChangeNeighbor != 0, 9);
  }
  if (q != kNoData && q != st->mode) st->toggle ^= 1;

  int16_t speech[320];
  for (int i = 0; i < 320; ++i) speech[i] = static_cast<int16_t>(speechbufp[i] & ~3);  // 14-bit input
  int16_t serial[kSerialWords];
  for (int16_t& b : serial) b = kZero;
  Word16 mode = static_cast<Word16>(st->mode);
  Word16 size = 0;
  wb_amr_Coder_Scratch scratch{};
  amr_wb_coder(&mode, speech, serial, &size, &st->codec, static_cast<Word16>(st->dtx), &scratch);
  Word16 txType = 0;
  amr_wb_Dtx_update(mode, &txType, &st->tx);

  uint8_t payload[AMR_SLOT_BYTES] = {};
  unsigned ft;
  int type;
  const bool oa = st->octetAligned != 0;
  const unsigned start = oa ? 16 : 10;
  switch (txType) {
    case 0:  // speech
      ft = st->mode;
      type = PVE_ENC_VOICE;
      if (mode != st->mode) LHAPI_ASSERT_FAIL();
      amrWriteHeader(payload, ft, oa);
      packBits(0x80u >> (start % 8), kBits[ft], payload + start / 8, serial, amrSortWb[ft]);
      break;
    case 1:  // SID first
    case 2:  // SID update
      ft = kSid;
      type = st->dtx ? PVE_ENC_VOICE : PVE_ENC_SID;
      serial[35] = txType == 2 ? kOne : kZero;  // STI
      for (int b = 0; b < 4; ++b) serial[36 + b] = ((st->mode >> (3 - b)) & 1) ? kOne : kZero;  // mode, bit 3 first
      amrWriteHeader(payload, ft, oa);
      packBits(0x80u >> (start % 8), kBits[kSid], payload + start / 8, serial, nullptr);
      break;
    case 3:  // no data
      ft = kNoData;
      type = st->dtx ? PVE_ENC_VOICE : PVE_ENC_SID;
      amrWriteHeader(payload, ft, oa);
      break;
    default:
      LHAPI_ASSERT_FAIL();
      *payloadSize = 0;
      return PVE_ENC_NONE;
  }
  const uint16_t bytes = ft == kNoData ? 2 : (oa ? kBytesOa[ft] : kBytesBe[ft]);
  int16_t asWords[AMR_SLOT_BYTES];
  for (int i = 0; i < bytes; ++i) asWords[i] = payload[i];
  vocoderPackBytes(asWords, bytes, rawdata);
  *payloadSize = bytes;
  return type;
}

void amrwbwrap_DecCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<AmrWbDecState>(algmem);
  if (!decodeCode(algorithm & 0xFF, &st->mode, &st->octetAligned)) LHAPI_ASSERT_FAIL();
  if (algChange) st->lastMode = st->mode;
  amr_wb_Init_decoder(&st->codec);
  amr_wb_Reset_read_serial(&st->rx);
}

void amrwbwrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<AmrWbDecState>(decp);
  const uint8_t c = vocoderClass(r);
  int16_t serial[kSerialWords];
  for (int16_t& b : serial) b = kZero;
  uint16_t mode = st->mode;
  int16_t rx = 7;  // no data
  if (c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_DOUBLE_DECODE) {
    const AJC_PKT_HDR& h = r->currPkt[0];
    const uint16_t bytes = h.payloadLength > 62 ? 62 : h.payloadLength;
    uint16_t* words = vocoderDecHdr(decp)->payloadBufp;
    vocoderCopy(decp, &h, words, 31);
    if (c == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
    uint8_t payload[AMR_SLOT_BYTES] = {};
    int16_t asBytes[AMR_SLOT_BYTES];
    vocoderUnpackBytes(words, bytes, asBytes);
    for (int i = 0; i < bytes; ++i) payload[i] = static_cast<uint8_t>(asBytes[i]);
    const bool oa = st->octetAligned != 0;
    const unsigned ft = amrGetMode(payload, oa);
    const bool q = oa ? (payload[1] >> 2) & 1 : (payload[1] >> 6) & 1;
    const unsigned start = oa ? 16 : 10;
    const unsigned need = ft <= kSid ? (oa ? kBytesOa[ft] : kBytesBe[ft]) : 2;
    const bool whole = ft <= kSid && bytes >= need;
    if (whole) {
      unpackBits(0x80u >> (start % 8), kBits[ft], payload + start / 8, serial, ft < kSid ? amrSortWb[ft] : nullptr, kOne, kZero);
    }
    if (whole && ft == kSid) {
      rx = q ? (serial[35] > 0 ? 5 : 4) : 6;
      mode = kSid;
    } else if (whole) {
      rx = q ? 0 : 3;
    } else {
      mode = st->lastMode;
      rx = ft == kSpeechLost ? 2 : 7;
    }
  } else {
    mode = st->lastMode;
    if (vocoderDecHdr(decp)->cngActive) return;  // the service plays its own comfort noise
  }
  Word16 length = 0;
  wb_amr_Decoder_Scratch scratch{};
  amr_wb_decoder(static_cast<Word16>(mode), serial, out, &length, &st->codec, rx, &scratch);
  if (mode != kSid) st->lastMode = mode;
}

void amrwbOptions(void* encPool, const AMR_REGS* options) {
  auto* st = static_cast<AmrWbEncState*>(encPool);
  st->modeSet = options->modeSet;
  st->modeChangeNeighbor = options->modeChangeNeighbor;
  st->modeChangePeriod = options->modeChangePeriod;
  st->pkt.ptime = amrPtime(options->ptime);
  st->pkt.red = amrRed(options->ptime, options->red);
}

void amrwbModeRequest(void* encPool, uint16_t mode) { static_cast<AmrWbEncState*>(encPool)->requestedMode = mode; }
size_t amrwbDecStateBytes() { return sizeof(AmrWbDecState); }
size_t amrwbEncStateBytes() { return sizeof(AmrWbEncState); }

const HSZVOCODERS vocoder_amrwb{amrwbwrap_DecCfg, amrwbwrap_Decode, amrwbwrap_EncCfg, amrwbwrap_Encode};

// AMR (RFC 4867 single-frame payloads in either framing): the codec mode request, the table of
// contents entry and the speech bits in payload order, and the far end's mode requests carried
// out within the negotiated mode set.
#include <cstring>

#include "lhapi.h"
#include "voc_amr.h"
#include "voc_amr_tables.h"
#include "voc_wrappers.h"

namespace {

constexpr uint16_t kNbBits[9] = {95, 103, 118, 134, 148, 159, 204, 244, 39};
constexpr uint16_t kWbBits[10] = {132, 177, 253, 285, 317, 365, 397, 461, 477, 40};
constexpr uint16_t kNbBytesBe[9] = {14, 15, 16, 18, 20, 22, 27, 32, 7};
constexpr uint16_t kNbBytesOa[9] = {14, 15, 17, 19, 21, 22, 28, 33, 7};
constexpr unsigned kNbSid = 8;
constexpr unsigned kNoData = 15;

struct AmrEncState {
  AMR_PKT_STATE pkt;  // first: the codec service's payload builder reads it
  uint16_t mode;
  uint16_t octetAligned;
  uint16_t dtx;
  uint16_t modeSet;
  uint16_t modeChangeNeighbor;
  uint16_t modeChangePeriod;
  uint16_t requestedMode;  // 15 = none
  uint16_t toggle;
  GSMAMR_ENCSTRUCT codec;
};

struct AmrDecState {
  uint16_t mode;
  uint16_t lastMode;
  uint16_t octetAligned;
  GSMAMR_DECSTRUCT codec;
};

bool decodeCode(uint16_t code, uint16_t* mode, uint16_t* octetAligned) {
  if (code >= 18 && code <= 25) {
    *mode = static_cast<uint16_t>(code - 18), *octetAligned = 0;
    return true;
  }
  if (code >= 26 && code <= 33) {
    *mode = static_cast<uint16_t>(code - 26), *octetAligned = 1;
    return true;
  }
  return false;
}

}  // namespace

// ---- shared with the AMR-WB wrapper and the codec service ----

uint16_t amrPtime(uint16_t ptime) {
  uint16_t p = static_cast<uint16_t>(ptime / 20 * 20);
  return p < 20 ? 20 : p > 240 ? 240 : p;
}

uint16_t amrRed(uint16_t ptime, uint16_t red) {
  const uint16_t p = amrPtime(ptime);
  const uint16_t r = static_cast<uint16_t>(red / 20 * 20);
  return p + r > 240 ? static_cast<uint16_t>(240 - p) : r;
}

uint16_t amrGetModeBits(unsigned mode, bool wideband, bool octetAligned) {
  uint16_t bits = 0;
  if (!wideband && mode <= 8) bits = kNbBits[mode];
  if (wideband && mode <= 9) bits = kWbBits[mode];
  return octetAligned ? static_cast<uint16_t>((bits + 7) / 8 * 8) : bits;
}

unsigned amrGetMode(const uint8_t* payload, bool octetAligned) {
  return octetAligned ? (payload[1] >> 3) & 15u : ((payload[0] & 7u) << 1) | (payload[1] >> 7);
}

void unpackBits(unsigned startMask, unsigned count, const uint8_t* src, int16_t* bits, const int16_t* table,
                   int16_t one, int16_t zero) {
  if (startMask > 128 || startMask == 0) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  unsigned mask = startMask;
  for (unsigned i = 0; i < count; ++i) {
    const int16_t v = (*src & mask) ? one : zero;
    bits[table != nullptr ? table[i] : i] = v;
    mask >>= 1;
    if (mask == 0) {
      mask = 0x80;
      ++src;
    }
  }
}

void packBits(unsigned startMask, unsigned count, uint8_t* dst, const int16_t* bits, const int16_t* table) {
  unsigned mask = startMask;
  for (unsigned i = 0; i < count; ++i) {
    if (bits[table != nullptr ? table[i] : i] > 0) *dst = static_cast<uint8_t>(*dst | mask);
    mask >>= 1;
    if (mask == 0) {
      mask = 0x80;
      ++dst;
    }
  }
}

void amrWriteHeader(uint8_t* p, unsigned ft, bool octetAligned) {
  if (octetAligned) {
    p[0] = 0xF0;
    p[1] = static_cast<uint8_t>(ft << 3 | 0x04);
  } else {
    p[0] = static_cast<uint8_t>(0xF0 | (ft >> 1));
    p[1] = static_cast<uint8_t>((ft & 1) << 7 | 0x40);
  }
}

uint16_t amrNextMode(uint16_t mode, uint16_t request, uint16_t modeSet, bool neighbor, unsigned modes) {
  if (request >= modes || request == mode) return mode;
  if (!neighbor) return request;
  if (!(modeSet & (1u << request))) return mode;  // outside the set: ignored
  const int step = request > mode ? 1 : -1;
  for (int m = mode + step; m != request; m += step) {
    if (modeSet & (1u << m)) return static_cast<uint16_t>(m);
  }
  return request;
}

// ---- AMR ----

void gsmamrwrap_EncCfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t) {
  auto* st = static_cast<AmrEncState*>(algmem);
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
  gsmamr_Speech_Encode_Frame_init(&st->codec.speech_encoder_state, st->dtx);
  gsmamr_sid_sync_init(&st->codec.sid_state);
}

int gsmamrwrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
  auto* st = static_cast<AmrEncState*>(algmem);
  const uint16_t set = st->modeSet != 0 ? st->modeSet : 0xFF;
  const uint16_t q = st->requestedMode;
  if (q != st->mode && q != kNoData && !(st->modeChangePeriod && st->toggle == 0)) {
    st->mode = amrNextMode(st->mode, q, set, st->modeChangeNeighbor != 0, 8);
  }
  if (q != kNoData && q != st->mode) st->toggle ^= 1;

  int16_t serial[AMR_SERIAL_FRAMESIZE] = {};
  GSMAMR_MODE used{};
  uint16_t txType = 0;
  gsmamr_Speech_Encode_Frame(&st->codec.speech_encoder_state, static_cast<GSMAMR_MODE>(st->mode), speechbufp, serial,
                             &used, &txType);
  gsmamr_sid_sync(&st->codec.sid_state, used, reinterpret_cast<GSMAMR_TXFrameType*>(&txType));

  uint8_t payload[AMR_SLOT_BYTES] = {};
  unsigned ft;
  int type;
  const bool oa = st->octetAligned != 0;
  const unsigned start = oa ? 16 : 10;  // speech bits after the request and the table entry
  switch (txType) {
    case TX_SPEECH_GOOD:
      ft = st->mode;
      type = PVE_ENC_VOICE;
      if (used != st->mode) LHAPI_ASSERT_FAIL();
      amrWriteHeader(payload, ft, oa);
      packBits(0x80u >> (start % 8), kNbBits[ft], payload + start / 8, serial, amrSortNb[ft]);
      break;
    case TX_SID_FIRST:
    case TX_SID_UPDATE: {
      ft = kNbSid;
      type = st->dtx ? PVE_ENC_VOICE : PVE_ENC_SID;
      serial[35] = txType == TX_SID_UPDATE ? 1 : 0;  // STI
      for (int b = 0; b < 3; ++b) serial[36 + b] = static_cast<int16_t>((st->mode >> b) & 1);  // mode, bit 0 first
      amrWriteHeader(payload, ft, oa);
      packBits(0x80u >> (start % 8), kNbBits[kNbSid], payload + start / 8, serial, nullptr);
      break;
    }
    case TX_NO_DATA:
      ft = kNoData;
      type = st->dtx ? PVE_ENC_VOICE : PVE_ENC_SID;
      amrWriteHeader(payload, ft, oa);
      break;
    default:
      LHAPI_ASSERT_FAIL();
      *payloadSize = 0;
      return PVE_ENC_NONE;
  }
  const uint16_t bytes = ft == kNoData ? 2 : (oa ? kNbBytesOa[ft] : kNbBytesBe[ft]);
  int16_t asWords[AMR_SLOT_BYTES];
  for (int i = 0; i < bytes; ++i) asWords[i] = payload[i];
  vocoderPackBytes(asWords, bytes, rawdata);
  *payloadSize = bytes;
  return type;
}

void gsmamrwrap_DecCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
  auto* st = vocoderDecState<AmrDecState>(algmem);
  if (!decodeCode(algorithm & 0xFF, &st->mode, &st->octetAligned)) LHAPI_ASSERT_FAIL();
  if (algChange) st->lastMode = st->mode;
  gsmamr_Speech_Decode_Frame_init(&st->codec.speech_decoder_state, &st->codec.dtx_decSt);
}

void gsmamrwrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
  auto* st = vocoderDecState<AmrDecState>(decp);
  const uint8_t c = vocoderClass(r);
  int16_t serial[AMR_SERIAL_FRAMESIZE] = {};
  uint16_t mode = st->mode;
  GSMAMR_RXFrameType rx = RX_NO_DATA;
  if (c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_DOUBLE_DECODE) {
    const AJC_PKT_HDR& h = r->currPkt[0];
    const uint16_t bytes = h.payloadLength > 34 ? 34 : h.payloadLength;
    uint16_t* words = vocoderDecHdr(decp)->payloadBufp;
    vocoderCopy(decp, &h, words, static_cast<uint16_t>((bytes + 1) / 2));
    if (c == AJC_PKT_DOUBLE_DECODE) vocoderDropSecond(decp, r);
    uint8_t payload[AMR_SLOT_BYTES] = {};
    int16_t asBytes[AMR_SLOT_BYTES];
    vocoderUnpackBytes(words, bytes, asBytes);
    for (int i = 0; i < bytes; ++i) payload[i] = static_cast<uint8_t>(asBytes[i]);
    const bool oa = st->octetAligned != 0;
    const unsigned ft = amrGetMode(payload, oa);
    const bool q = oa ? (payload[1] >> 2) & 1 : (payload[1] >> 6) & 1;
    const unsigned start = oa ? 16 : 10;
    const unsigned need = ft <= kNbSid ? (oa ? kNbBytesOa[ft] : kNbBytesBe[ft]) : 2;
    if (ft <= kNbSid && bytes >= need) {
      unpackBits(0x80u >> (start % 8), kNbBits[ft], payload + start / 8, serial, ft < kNbSid ? amrSortNb[ft] : nullptr, 1, 0);
    }
    if (ft == kNbSid && bytes >= need) {
      rx = q ? (serial[35] ? RX_SID_UPDATE : RX_SID_FIRST) : RX_SID_BAD;
    } else if (ft < kNbSid && bytes >= need) {
      rx = q ? RX_SPEECH_GOOD : RX_SPEECH_BAD;
    } else {
      mode = st->lastMode;
    }
  } else {
    mode = st->lastMode;
    if (vocoderDecHdr(decp)->cngActive) return;  // the service plays its own comfort noise
  }
  gsmamr_Speech_Decode_Frame(&st->codec.speech_decoder_state, static_cast<GSMAMR_MODE>(mode), serial, rx, out);
  st->lastMode = mode;
}

void gsmamrOptions(void* encPool, const AMR_REGS* options) {
  auto* st = static_cast<AmrEncState*>(encPool);
  st->modeSet = options->modeSet;
  st->modeChangeNeighbor = options->modeChangeNeighbor;
  st->modeChangePeriod = options->modeChangePeriod;
  st->pkt.ptime = amrPtime(options->ptime);
  st->pkt.red = amrRed(options->ptime, options->red);
}

void gsmamrModeRequest(void* encPool, uint16_t mode) { static_cast<AmrEncState*>(encPool)->requestedMode = mode; }

size_t gsmamrDecStateBytes() { return sizeof(AmrDecState); }
size_t gsmamrEncStateBytes() { return sizeof(AmrEncState); }

const HSZVOCODERS vocoder_gsmamr{gsmamrwrap_DecCfg, gsmamrwrap_Decode, gsmamrwrap_EncCfg, gsmamrwrap_Encode};

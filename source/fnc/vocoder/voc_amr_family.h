// The one payload wrapper of the AMR and AMR-WB families (internal to the vocoder module): RFC
// 4867 single-frame payloads in either framing, the codec mode request, the table of contents
// entry and the speech bits in payload order, and the far end's mode requests carried out within
// the negotiated mode set. A family supplies its frame shapes (AmrFamilyShape) and a traits
// struct with its codec calls; everything is resolved at compile time, so the tick path has no
// indirect call and no allocation.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "lhapi.h"
#include "voc_amr.h"
#include "voc_amr_tables.h"
#include "vocoder.h"

// Frame types 0..modes-1 are speech, `modes` is the SID frame, 14 speech lost, 15 no data.
struct AmrFamilyShape {
  unsigned modes;
  uint16_t codeBe;   // algorithm code of mode 0, bandwidth-efficient; the modes follow it
  uint16_t codeOa;   // the same, octet-aligned
  uint16_t fullSet;  // the mode set when none was negotiated
  uint16_t maxBytes;  // the largest payload the decoder reads
  unsigned sidModeBits;  // width of the mode indication after the SID's STI bit
  bool sidModeMsbFirst;
  std::array<uint16_t, 10> bits;     // speech bits per frame type up to the SID
  std::array<uint16_t, 10> bytesBe;  // whole payload bytes, bandwidth-efficient
  std::array<uint16_t, 10> bytesOa;  // whole payload bytes, octet-aligned
  const int16_t* const* sort;        // payload bit order per speech mode
};

inline constexpr AmrFamilyShape kAmrNbShape{
    8, 18, 26, 0xFF, 34, 3, false,
    {95, 103, 118, 134, 148, 159, 204, 244, 39},
    {14, 15, 16, 18, 20, 22, 27, 32, 7},
    {14, 15, 17, 19, 21, 22, 28, 33, 7},
    amrSortNb};

inline constexpr AmrFamilyShape kAmrWbShape{
    9, 50, 59, 0x1FF, 62, 4, true,
    {132, 177, 253, 285, 317, 365, 397, 461, 477, 40},
    {18, 24, 33, 37, 41, 47, 51, 59, 61, 7},
    {19, 25, 34, 38, 42, 48, 52, 60, 62, 7},
    amrSortWb};

inline constexpr unsigned kAmrSpeechLost = 14;
inline constexpr unsigned kAmrNoData = 15;

// What the encoder made of a frame, and what the decoder is told about one, in the wrapper's own
// terms; each family maps them onto its codec's frame types.
enum class AmrTx { Speech, SidFirst, SidUpdate, NoData, Invalid };
enum class AmrRx { SpeechGood, SpeechBad, SidFirst, SidUpdate, SidBad, NoData, SpeechLost };

struct AmrTxFrame {
  uint16_t usedMode;
  AmrTx kind;
};

// F supplies: `shape` (an AmrFamilyShape), `kSerialWords`, the serial bit values `kOne`/`kZero`,
// the codec records `EncCodec`/`DecCodec`, and `encInit`, `encodeFrame`, `decInit`, `decodeFrame`.
// Every frame, SID frames included, is decoded in the configured speech mode (the last mode where
// the packet holds no frame): both codecs make their comfort noise in the speech mode's synthesis.
template <class F>
struct AmrWrapper {
  static constexpr const AmrFamilyShape& S = F::shape;
  static constexpr unsigned kSid = S.modes;

  struct EncState {
    AMR_PKT_STATE pkt;  // first: the codec service's payload builder reads it
    uint16_t mode;
    uint16_t octetAligned;
    uint16_t dtx;
    uint16_t modeSet;
    uint16_t modeChangeNeighbor;
    uint16_t modeChangePeriod;
    uint16_t requestedMode;  // 15 = none
    uint16_t toggle;
    typename F::EncCodec codec;
  };

  struct DecState {
    uint16_t mode;
    uint16_t lastMode;
    uint16_t octetAligned;
    typename F::DecCodec codec;
  };

  static bool decodeCode(uint16_t code, uint16_t* mode, uint16_t* octetAligned) {
    if (code >= S.codeBe && code < S.codeBe + S.modes) {
      *mode = static_cast<uint16_t>(code - S.codeBe), *octetAligned = 0;
      return true;
    }
    if (code >= S.codeOa && code < S.codeOa + S.modes) {
      *mode = static_cast<uint16_t>(code - S.codeOa), *octetAligned = 1;
      return true;
    }
    return false;
  }

  static uint16_t payloadBytes(unsigned ft, bool oa) { return oa ? S.bytesOa[ft] : S.bytesBe[ft]; }

  static void options(void* encPool, const AMR_REGS* o) {
    auto* st = static_cast<EncState*>(encPool);
    st->modeSet = o->modeSet;
    st->modeChangeNeighbor = o->modeChangeNeighbor;
    st->modeChangePeriod = o->modeChangePeriod;
    st->pkt.ptime = amrPtime(o->ptime);
    st->pkt.red = amrRed(o->ptime, o->red);
  }

  static void modeRequest(void* encPool, uint16_t mode) { static_cast<EncState*>(encPool)->requestedMode = mode; }

  static void encCfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t) {
    auto* st = static_cast<EncState*>(algmem);
    if (!decodeCode(algorithm & 0xFF, &st->mode, &st->octetAligned)) LHAPI_ASSERT_FAIL();
    options(st, &cfgregs->amrOptions);
    st->requestedMode = kAmrNoData;
    st->toggle = 0;
    st->pkt.elapsed = 0;
    st->pkt.stored = 0;
    st->pkt.next = 0;
    st->dtx = (algorithm >> 8) == 2 ? 1 : 0;
    F::encInit(st->codec, st->dtx != 0);
  }

  // A pending request moves the mode before the frame (every other frame with a change period).
  static void followRequest(EncState* st) {
    const uint16_t set = st->modeSet != 0 ? st->modeSet : S.fullSet;
    const uint16_t q = st->requestedMode;
    if (q != st->mode && q != kAmrNoData && !(st->modeChangePeriod && st->toggle == 0)) {
      st->mode = amrNextMode(st->mode, q, set, st->modeChangeNeighbor != 0, S.modes);
    }
    if (q != kAmrNoData && q != st->mode) st->toggle ^= 1;
  }

  static int encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t, uint16_t* payloadSize) {
    auto* st = static_cast<EncState*>(algmem);
    followRequest(st);
    int16_t serial[F::kSerialWords];
    std::fill(serial, serial + F::kSerialWords, F::kZero);
    const AmrTxFrame tx = F::encodeFrame(st->codec, st->mode, speechbufp, serial, st->dtx != 0);

    uint8_t payload[AMR_SLOT_BYTES] = {};
    unsigned ft;
    int type;
    const bool oa = st->octetAligned != 0;
    const unsigned start = oa ? 16 : 10;  // speech bits after the request and the table entry
    switch (tx.kind) {
      case AmrTx::Speech:
        ft = st->mode;
        type = PVE_ENC_VOICE;
        if (tx.usedMode != st->mode) LHAPI_ASSERT_FAIL();
        amrWriteHeader(payload, ft, oa);
        packBits(0x80u >> (start % 8), S.bits[ft], payload + start / 8, serial, S.sort[ft]);
        break;
      case AmrTx::SidFirst:
      case AmrTx::SidUpdate:
        ft = kSid;
        type = st->dtx ? PVE_ENC_VOICE : PVE_ENC_SID;
        serial[35] = tx.kind == AmrTx::SidUpdate ? F::kOne : F::kZero;  // STI
        for (unsigned b = 0; b < S.sidModeBits; ++b) {
          const unsigned shift = S.sidModeMsbFirst ? S.sidModeBits - 1 - b : b;
          serial[36 + b] = ((st->mode >> shift) & 1) ? F::kOne : F::kZero;
        }
        amrWriteHeader(payload, ft, oa);
        packBits(0x80u >> (start % 8), S.bits[kSid], payload + start / 8, serial, nullptr);
        break;
      case AmrTx::NoData:
        ft = kAmrNoData;
        type = st->dtx ? PVE_ENC_VOICE : PVE_ENC_SID;
        amrWriteHeader(payload, ft, oa);
        break;
      default:
        LHAPI_ASSERT_FAIL();
        *payloadSize = 0;
        return PVE_ENC_NONE;
    }
    const uint16_t bytes = ft == kAmrNoData ? 2 : payloadBytes(ft, oa);
    vocoderPackBytes(payload, bytes, rawdata);
    *payloadSize = bytes;
    return type;
  }

  static void decCfg(void* algmem, const HSZVOCREGS*, uint16_t algorithm, uint16_t algChange) {
    auto* st = vocoderDecState<DecState>(algmem);
    if (!decodeCode(algorithm & 0xFF, &st->mode, &st->octetAligned)) LHAPI_ASSERT_FAIL();
    if (algChange) st->lastMode = st->mode;
    F::decInit(st->codec);
  }

  // Reads the packet in hand into serial bits; returns what the decoder is to make of them and
  // sets the mode to decode with.
  static AmrRx readPacket(void* decp, DecState* st, AJC_PVEDEC_INT* r, int16_t* serial, uint16_t* mode) {
    uint8_t payload[AMR_SLOT_BYTES] = {};
    const uint16_t bytes = vocoderTakeBytes(decp, r, S.maxBytes, payload);
    const bool oa = st->octetAligned != 0;
    const unsigned ft = amrGetMode(payload, oa);
    const bool q = oa ? (payload[1] >> 2) & 1 : (payload[1] >> 6) & 1;
    const unsigned start = oa ? 16 : 10;
    const bool whole = ft <= kSid && bytes >= payloadBytes(ft, oa);
    if (!whole) {
      *mode = st->lastMode;
      return ft == kAmrSpeechLost ? AmrRx::SpeechLost : AmrRx::NoData;
    }
    unpackBits(0x80u >> (start % 8), S.bits[ft], payload + start / 8, serial, ft < kSid ? S.sort[ft] : nullptr,
               F::kOne, F::kZero);
    if (ft < kSid) return q ? AmrRx::SpeechGood : AmrRx::SpeechBad;
    return q ? (serial[35] > 0 ? AmrRx::SidUpdate : AmrRx::SidFirst) : AmrRx::SidBad;
  }

  static void decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) {
    auto* st = vocoderDecState<DecState>(decp);
    const uint8_t c = vocoderClass(r);
    int16_t serial[F::kSerialWords];
    std::fill(serial, serial + F::kSerialWords, F::kZero);
    uint16_t mode = st->mode;
    AmrRx rx = AmrRx::NoData;
    if (c == AJC_PKT_VOICE || c == AJC_PKT_SID || c == AJC_PKT_DOUBLE_DECODE) {
      rx = readPacket(decp, st, r, serial, &mode);
    } else {
      mode = st->lastMode;
      if (vocoderDecHdr(decp)->cngActive) return;  // the service plays its own comfort noise
    }
    F::decodeFrame(st->codec, mode, serial, rx, out);
    st->lastMode = mode;
  }

  static constexpr HSZVOCODERS record() { return HSZVOCODERS{decCfg, decode, encCfg, encode}; }
};

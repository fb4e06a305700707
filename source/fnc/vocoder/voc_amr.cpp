// AMR: the family record of the AMR payload wrapper (voc_amr_family.h), and the payload pieces
// the AMR-WB wrapper and the codec service share.
#include "voc_amr_family.h"
#include "voc_wrappers.h"

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
  const AmrFamilyShape& s = wideband ? kAmrWbShape : kAmrNbShape;
  const uint16_t bits = mode <= s.modes ? s.bits[mode] : 0;
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

namespace {

// The AMR codec under the wrapper: its serial bits are 0/1.
struct AmrNbCodec {
  static constexpr const AmrFamilyShape& shape = kAmrNbShape;
  static constexpr int kSerialWords = AMR_SERIAL_FRAMESIZE;
  static constexpr int16_t kOne = 1, kZero = 0;
  using EncCodec = GSMAMR_ENCSTRUCT;
  using DecCodec = GSMAMR_DECSTRUCT;

  static void encInit(EncCodec& c, bool dtx) {
    gsmamr_Speech_Encode_Frame_init(&c.speech_encoder_state, dtx ? 1 : 0);
    gsmamr_sid_sync_init(&c.sid_state);
  }

  static AmrTxFrame encodeFrame(EncCodec& c, uint16_t mode, int16_t* speech, int16_t* serial, bool) {
    GSMAMR_MODE used{};
    uint16_t txType = 0;
    gsmamr_Speech_Encode_Frame(&c.speech_encoder_state, static_cast<GSMAMR_MODE>(mode), speech, serial, &used, &txType);
    gsmamr_sid_sync(&c.sid_state, used, reinterpret_cast<GSMAMR_TXFrameType*>(&txType));
    switch (txType) {
      case TX_SPEECH_GOOD: return {used, AmrTx::Speech};
      case TX_SID_FIRST: return {used, AmrTx::SidFirst};
      case TX_SID_UPDATE: return {used, AmrTx::SidUpdate};
      case TX_NO_DATA: return {used, AmrTx::NoData};
      default: return {used, AmrTx::Invalid};
    }
  }

  static void decInit(DecCodec& c) { gsmamr_Speech_Decode_Frame_init(&c.speech_decoder_state, &c.dtx_decSt); }

  static GSMAMR_RXFrameType rxType(AmrRx rx) {
    switch (rx) {
      case AmrRx::SpeechGood: return RX_SPEECH_GOOD;
      case AmrRx::SpeechBad: return RX_SPEECH_BAD;
      case AmrRx::SidFirst: return RX_SID_FIRST;
      case AmrRx::SidUpdate: return RX_SID_UPDATE;
      case AmrRx::SidBad: return RX_SID_BAD;
      default: return RX_NO_DATA;  // a lost speech frame too
    }
  }

  static void decodeFrame(DecCodec& c, uint16_t mode, const int16_t* serial, AmrRx rx, int16_t* out) {
    gsmamr_Speech_Decode_Frame(&c.speech_decoder_state, static_cast<GSMAMR_MODE>(mode), serial, rxType(rx), out);
  }
};

using AmrNb = AmrWrapper<AmrNbCodec>;

}  // namespace

void gsmamrwrap_EncCfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange) {
  AmrNb::encCfg(algmem, cfgregs, algorithm, algChange);
}
int gsmamrwrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t n, uint16_t* payloadSize) {
  return AmrNb::encode(algmem, speechbufp, rawdata, n, payloadSize);
}
void gsmamrwrap_DecCfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange) {
  AmrNb::decCfg(algmem, cfgregs, algorithm, algChange);
}
void gsmamrwrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) { AmrNb::decode(decp, r, out); }

void gsmamrOptions(void* encPool, const AMR_REGS* options) { AmrNb::options(encPool, options); }
void gsmamrModeRequest(void* encPool, uint16_t mode) { AmrNb::modeRequest(encPool, mode); }
size_t gsmamrDecStateBytes() { return sizeof(AmrNb::DecState); }
size_t gsmamrEncStateBytes() { return sizeof(AmrNb::EncState); }

const HSZVOCODERS vocoder_gsmamr{gsmamrwrap_DecCfg, gsmamrwrap_Decode, gsmamrwrap_EncCfg, gsmamrwrap_Encode};

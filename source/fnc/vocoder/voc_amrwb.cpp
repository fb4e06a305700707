// AMR-WB: the family record of the AMR payload wrapper (voc_amr_family.h) for the wideband codec,
// with its soft bits (-127 for 0, +127 for 1), nine speech modes and a four-bit mode indication,
// most significant bit first, in its SID frames.
#include "amrwb_decoder.h"
#include "amrwb_encoder.h"
#include "voc_amr_family.h"

namespace {

struct AmrWbCodec {
  static constexpr const AmrFamilyShape& shape = kAmrWbShape;
  static constexpr int kSerialWords = 477;
  static constexpr int16_t kOne = 127, kZero = -127;
  struct EncCodec {
    wb_amr_TX_State tx;
    wb_amr_Coder_State coder;
  };
  struct DecCodec {
    wb_amr_RX_State rx;
    wb_amr_Decoder_State decoder;
  };

  static void encInit(EncCodec& c, bool) {
    amr_wb_Init_coder(&c.coder);
    amr_wb_Reset_write_serial(&c.tx);
  }

  static AmrTxFrame encodeFrame(EncCodec& c, uint16_t mode, int16_t* speechbufp, int16_t* serial, bool dtx) {
    int16_t speech[320];
    for (int i = 0; i < 320; ++i) speech[i] = static_cast<int16_t>(speechbufp[i] & ~3);  // 14-bit input
    Word16 used = static_cast<Word16>(mode);
    Word16 size = 0;
    wb_amr_Coder_Scratch scratch{};
    amr_wb_coder(&used, speech, serial, &size, &c.coder, static_cast<Word16>(dtx ? 1 : 0), &scratch);
    Word16 txType = 0;
    amr_wb_Dtx_update(used, &txType, &c.tx);
    const AmrTx kinds[4] = {AmrTx::Speech, AmrTx::SidFirst, AmrTx::SidUpdate, AmrTx::NoData};
    return {static_cast<uint16_t>(used), txType >= 0 && txType < 4 ? kinds[txType] : AmrTx::Invalid};
  }

  static void decInit(DecCodec& c) {
    amr_wb_Init_decoder(&c.decoder);
    amr_wb_Reset_read_serial(&c.rx);
  }

  // The codec's receive frame types: 0 speech, 2 speech lost, 3 bad speech, 4 SID first, 5 SID
  // update, 6 bad SID, 7 no data.
  static Word16 rxType(AmrRx rx) {
    switch (rx) {
      case AmrRx::SpeechGood: return 0;
      case AmrRx::SpeechLost: return 2;
      case AmrRx::SpeechBad: return 3;
      case AmrRx::SidFirst: return 4;
      case AmrRx::SidUpdate: return 5;
      case AmrRx::SidBad: return 6;
      default: return 7;
    }
  }

  static void decodeFrame(DecCodec& c, uint16_t mode, const int16_t* serial, AmrRx rx, int16_t* out) {
    Word16 length = 0;
    wb_amr_Decoder_Scratch scratch{};
    amr_wb_decoder(static_cast<Word16>(mode), serial, out, &length, &c.decoder, rxType(rx), &scratch);
  }
};

using AmrWb = AmrWrapper<AmrWbCodec>;

}  // namespace

void amrwbwrap_EncCfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange) {
  AmrWb::encCfg(algmem, cfgregs, algorithm, algChange);
}
int amrwbwrap_Encode(void* algmem, int16_t* speechbufp, uint16_t* rawdata, uint16_t n, uint16_t* payloadSize) {
  return AmrWb::encode(algmem, speechbufp, rawdata, n, payloadSize);
}
void amrwbwrap_DecCfg(void* algmem, const HSZVOCREGS* cfgregs, uint16_t algorithm, uint16_t algChange) {
  AmrWb::decCfg(algmem, cfgregs, algorithm, algChange);
}
void amrwbwrap_Decode(void* decp, AJC_PVEDEC_INT* r, int16_t* out) { AmrWb::decode(decp, r, out); }

void amrwbOptions(void* encPool, const AMR_REGS* options) { AmrWb::options(encPool, options); }
void amrwbModeRequest(void* encPool, uint16_t mode) { AmrWb::modeRequest(encPool, mode); }
size_t amrwbDecStateBytes() { return sizeof(AmrWb::DecState); }
size_t amrwbEncStateBytes() { return sizeof(AmrWb::EncState); }

const HSZVOCODERS vocoder_amrwb{amrwbwrap_DecCfg, amrwbwrap_Decode, amrwbwrap_EncCfg, amrwbwrap_Encode};

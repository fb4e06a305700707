// Frame interface of the GSM full-rate codec: resets, frame calls and the conversion between
// the 76 codec parameters and the 260-bit serial frame.
#include "gsmfr.h"

#include "fr_codec.h"
#include "fr_tables.h"

int gsmfr_reset_enc(GSMFR_ENCSTRUCT* st, std::int16_t dtx) {
  fr_Encode_Frame_reset(st, dtx);
  return 0;
}

int gsmfr_encode(GSMFR_ENCSTRUCT* st, const std::int16_t* new_speech, std::int16_t* parm) {
  fr_Encode_Frame(new_speech, parm, st);
  return 0;
}

int gsmfr_reset_dec(GSMFR_DECSTRUCT* st) {
  fr_Decode_Frame_reset(st);
  return 0;
}

int gsmfr_decode(GSMFR_DECSTRUCT* st, std::int16_t* parm, std::uint16_t flags, std::int16_t* synth) {
  parm[76] = (flags & GSMFR_FLAG_SID) ? 2 : 0;
  parm[77] = (flags & GSMFR_FLAG_TAF) ? 1 : 0;
  parm[78] = (flags & GSMFR_FLAG_BFI) ? 1 : 0;
  fr_Decode_Frame(st, parm, synth);
  return 0;
}

void gsmfr_prm2bits(const std::int16_t* parm, std::int16_t* serial) {
  for (int i = 0; i < GSMFR_NUM_PRM; ++i) {
    const int width = fr_prm_bits_table[i];
    for (int b = width - 1; b >= 0; --b) *serial++ = static_cast<std::int16_t>((parm[i] >> b) & 1);
  }
}

void gsmfr_bits2prm(const std::int16_t* serial, std::int16_t* parm) {
  for (int i = 0; i < GSMFR_NUM_PRM; ++i) {
    int value = 0;
    for (int b = 0; b < fr_prm_bits_table[i]; ++b) value = (value << 1) | (*serial++ != 0 ? 1 : 0);
    parm[i] = static_cast<std::int16_t>(value);
  }
}

int gsmfr_sid_frame_detection(const std::int16_t* serial) {
  // The SID code word: the two most significant bits of every pulse, except that pulses 5 to
  // 13 of the last subframe contribute their most significant bit only (95 bits in all).
  for (int k = 0; k < 4; ++k) {
    const std::int16_t* pulses = serial + 53 + 56 * k;
    for (int p = 0; p < 13; ++p) {
      if (pulses[3 * p] != 0) return 0;
      const bool second_bit_counts = k < 3 || p < 4;
      if (second_bit_counts && pulses[3 * p + 1] != 0) return 0;
    }
  }
  return 1;
}

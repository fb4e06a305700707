// Frame interface of the GSM half-rate codec: resets, one-frame encode, the 112-bit serial
// layouts and the homing and SID tests.
#include "gsmhr.h"

#include <cstring>

#include "hr_frame.h"
#include "hr_codec.h"
#include "hr_tables.h"

namespace hr {

void hr_resetEnc(HR_ENCODER* st, Word16 dtx) {
  std::memset(static_cast<void*>(st), 0, sizeof(*st));
  hr_vad_reset(&st->hr_vad, 2);
  st->hr_dtx_e.swNElapsed = 50;
  for (int i = 0; i < 64; ++i) st->hr_dtx_e.quantList.pswPredErr[i] = i;
  st->DTXon = dtx;
}

void gsmhr_reset_enc(GSMHR_ENCSTRUCT* st, Word16 dtx) { hr_resetEnc(st, dtx); }

namespace {
// True when the encoder is exactly as a reset with the same DTX setting leaves it.
// The reset images are built once and never change afterwards.
bool at_home(const GSMHR_ENCSTRUCT* st) {
  struct Homes {
    GSMHR_ENCSTRUCT rec[2];
    Homes() {
      hr_resetEnc(&rec[0], 0);
      hr_resetEnc(&rec[1], 1);
    }
  };
  static const Homes homes;
  const GSMHR_ENCSTRUCT& home = homes.rec[st->DTXon != 0 ? 1 : 0];
  return std::memcmp(static_cast<const void*>(&home), static_cast<const void*>(st), sizeof(*st)) == 0;
}
}  // namespace

void gsmhr_encode(GSMHR_ENCSTRUCT* st, const Word16* new_speech, std::uint32_t* flags,
                  Word16* parm) {
  // An encoder homing frame met in the home state answers with the decoder homing frame, the
  // parameters a far-end decoder recognises; our encoder's own coding of the homing pattern
  // would not be exactly those.
  if (gsmhr_encoder_homing_frame_test(new_speech) && at_home(st)) {
    for (int i = 0; i < GSMHR_NUM_PRM; ++i) parm[i] = hr_dhf_mask[i];
    parm[18] = 1;
    parm[19] = 1;
    *flags = GSMHR_FLAG_VAD | GSMHR_FLAG_SP;
    return;
  }
  hr_speechEncoder(new_speech, parm, st);
  *flags = (parm[18] != 0 ? GSMHR_FLAG_VAD : 0u) | (parm[19] != 0 ? GSMHR_FLAG_SP : 0u);
}

void gsmhr_prm2bits(const Word16* parm, Word16* serial) {
  const Word16* widths = prm_bits_table[parm[5] != 0 ? 1 : 0];
  int pos = 0;
  for (int i = 0; i < GSMHR_NUM_PRM; ++i)
    for (int b = widths[i] - 1; b >= 0; --b) serial[pos++] = static_cast<Word16>((parm[i] >> b) & 1);
}

void gsmhr_bits2prm(const Word16* serial, Word16* parm) {
  const Word16* widths = prm_bits_table[(serial[34] != 0 || serial[35] != 0) ? 1 : 0];
  int pos = 0;
  for (int i = 0; i < GSMHR_NUM_PRM; ++i) {
    Word16 v = 0;
    for (int b = 0; b < widths[i]; ++b) v = static_cast<Word16>((v << 1) | (serial[pos++] != 0 ? 1 : 0));
    parm[i] = v;
  }
}

Word16 gsmhr_encoder_homing_frame_test(const Word16* speech) {
  for (int i = 0; i < GSMHR_FRAME_LEN; ++i)
    if (speech[i] != 0x0008) return 0;
  return 1;
}

Word16 gsmhr_decoder_homing_frame_test(const Word16* parm, Word16 len) {
  for (int i = 0; i < len && i < GSMHR_NUM_PRM; ++i) {
    Word16 mask = static_cast<Word16>((1 << hr_n[i]) - 1);
    if ((parm[i] & mask) != hr_dhf_mask[i]) return 0;
  }
  return 1;
}

Word16 gsmhr_sid_frame_detection(const Word16* serial) {
  for (int i = 33; i < GSMHR_SERIAL_BITS; ++i)
    if (serial[i] == 0) return 0;
  return 1;
}

}  // namespace hr

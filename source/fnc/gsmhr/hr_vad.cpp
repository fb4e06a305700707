// Voice activity detector of the GSM half-rate encoder: the full-rate detector in mode 2 (one
// shared copy of its arithmetic) with the half-rate tone detector blocking the threshold
// adaptation on stationary tones. The stricter periodicity rule of mode 2 is part of the
// shared detector.
#include "../gsmfr/fr_codec.h"
#include "hr_frame.h"

namespace hr {

void hr_step_up(const Word16* rc, Word16* a, Word32* L_coef, Word32* L_work, int np) {
  L_coef[0] = 0x20000000;
  L_coef[1] = Word32(rc[0]) << 14;
  for (int m = 1; m < np; ++m) {
    for (int i = 1; i <= m; ++i)
      L_work[i - 1] = L_add(L_coef[i], L_mult(rc[m], extract_h(L_coef[m + 1 - i])));
    for (int i = 1; i <= m; ++i) L_coef[i] = L_work[i - 1];
    L_coef[m + 1] = Word32(rc[m]) << 14;
  }
  for (int i = 0; i <= np; ++i) a[i] = static_cast<Word16>(L_coef[i] >> 19);
}

void hr_tone_detection(const Word16* pswRc, Word16* pswTone) {
  *pswTone = 0;
  Word16 a[3];
  Word32 L_coef[3], L_work[2];
  hr_step_up(pswRc, a, L_coef, L_work, 2);
  Word16 t = a[1] == 0 ? Word16(0) : shl(a[1], 3);
  Word32 L_num = L_mult(t, t);
  Word32 L_den = L_shl(L_deposit_h(a[2]), 3);
  Word32 L_temp = L_sub(L_den, L_num);
  if (L_temp <= 0) return;  // real poles
  if (a[1] < 0 && L_sub(L_temp, L_mult(extract_h(L_num), 3189)) < 0) return;  // too low
  Word16 prederr = 32767;
  for (int i = 0; i < 4; ++i)
    prederr = mult(prederr, sub(32767, extract_h(L_mult(pswRc[i], pswRc[i]))));
  if (prederr < 1464) *pswTone = 1;
}

void hr_vad_reset(HR_FrVadState* st, Word16 mode) { fr_vad_reset(st, mode); }

Word16 hr_vad_computation(const Word32* L_acf, Word16 scal_acf, const Word16* rc,
                          HR_FrVadState* st) {
  Word16 tone;
  hr_tone_detection(rc, &tone);
  return fr_vad_computation_tone(L_acf, scal_acf, tone, st);
}

void hr_periodicity_update(const Word16* lags, HR_FrVadState* st) { fr_periodicity_update(lags, st); }

}  // namespace hr

// Voice activity detector of the GSM full-rate encoder. It runs once per frame on the frame's
// autocorrelation: energy, averaged autocorrelations, predictor of the averaged spectrum,
// spectral stationarity, adaptive threshold, decision and hangover. The periodicity flag comes
// from the LTP lags of the previous frames.
#include "fr_codec.h"
#include "fr_kernels.h"
#include "fr_tables.h"

namespace {

// Columns of a mode's constant row.
enum VadConst {
  kHangover = 0,
  kSpectralThreshold = 1,
  kPthMantissa = 2,
  kPthExponent = 3,
  kPlevMantissa = 4,
  kPlevExponent = 5,
  kMarginMantissa = 6,
  kPvadFactor = 7,
};
constexpr Word16 kMarginExponent = 27;
constexpr Word16 kBurstLength = 3;
constexpr Word16 kAdaptFrames = 8;

inline Word16 vad_const(const FrVadState* st, VadConst c) { return st->const_ptr[c - 4]; }

// a < b, exponent first, then mantissa.
inline bool pf_less(FR_Pfloat a, FR_Pfloat b) { return a.e < b.e || (a.e == b.e && a.m < b.m); }

// Frame energy acf0 and the prediction error pvad of the frame through the adapted filter.
// Returns the scale that the autocorrelation averaging applies.
Word16 fr_energy_computation(const Word32* L_acf, Word16 scal_acf, const FrVadState* st,
                             FR_Pfloat* acf0, FR_Pfloat* pvad) {
  if (L_acf[0] == 0) {
    acf0->e = FR_MIN_16;
    acf0->m = 0;
    *pvad = *acf0;
    return 0;
  }
  const Word16 scale = scal_acf > 0 ? scal_acf : Word16(0);
  const Word16 n = fr_norm_l(L_acf[0]);
  Word16 sacf[12];
  fr_energy_computation_Loop1(L_acf, sacf, static_cast<Word16>(n - 3));

  acf0->e = fr_sub(32, fr_sub(n, fr_shl(scale, 1)));
  acf0->m = fr_shl(sacf[0], 3);

  Word16 e = fr_sub(fr_add(acf0->e, 14), st->scal_rvad);
  Word32 L_temp = fr_Vec_L_mac8(sacf + 1, st->rvad + 1, fr_L_shr(fr_L_mult(sacf[0], st->rvad[0]), 1));
  if (L_temp <= 0) L_temp = 1;
  const Word16 norm_prod = fr_norm_l(L_temp);
  pvad->e = fr_sub(e, norm_prod);
  pvad->m = fr_extract_h(fr_L_shl(L_temp, norm_prod));
  return scale;
}

// L_av0: sum of this and the three previous frames' scaled autocorrelations; L_av1: L_av0 of
// four frames ago.
void fr_acf_averaging(const Word32* L_acf, Word16 scale, Word32* L_av0, Word32* L_av1,
                      FrVadState* st) {
  const Word16 shift = fr_sub(10, fr_shl(scale, 1));
  for (int i = 0; i <= 8; ++i) {
    const Word32 t = fr_L_shr(L_acf[i], shift);
    Word32 sum = fr_L_add(st->L_sacf[i], t);
    sum = fr_L_add(st->L_sacf[i + 9], sum);
    sum = fr_L_add(st->L_sacf[i + 18], sum);
    L_av0[i] = sum;
    st->L_sacf[st->pt_sacf + i] = t;
    L_av1[i] = st->L_sav0[st->pt_sav0 + i];
    st->L_sav0[st->pt_sav0 + i] = sum;
  }
  st->pt_sacf = st->pt_sacf == 18 ? Word16(0) : Word16(st->pt_sacf + 9);
  st->pt_sav0 = st->pt_sav0 == 27 ? Word16(0) : Word16(st->pt_sav0 + 9);
}

// Autocorrelation rav1 of the predictor of the averaged spectrum L_av1.
Word16 fr_predictor_values(const Word32* L_av1, Word16* rav1) {
  Word16 vpar[8];
  Word16 aav1[9];
  Word32 L_coef[9];
  Word32 L_work[9];
  fr_Reflection_coefficients(L_av1, vpar);
  fr_step_up(vpar, aav1, L_coef, L_work);
  return fr_compute_rav1(aav1, rav1);
}

// 1 when the spectrum is stationary: the distortion between the averaged spectrum and the
// predictor changed little since the last frame.
Word16 fr_spectral_comparison(const Word16* rav1, Word16 scal_rav1, const Word32* L_av0,
                              FrVadState* st) {
  Word16 sav0[9];
  if (L_av0[0] == 0) {
    for (auto& v : sav0) v = 4095;
  } else {
    const Word16 shift = fr_sub(fr_norm_l(L_av0[0]), 3);
    for (int i = 0; i <= 8; ++i) sav0[i] = fr_extract_h(fr_L_shl(L_av0[i], shift));
  }

  const Word32 L_sump = fr_Vec_L_mac8(rav1 + 1, sav0 + 1, 0);
  const Word32 L_mag = fr_L_abs(L_sump);
  Word32 L_dm = 0;
  Word16 shift = 0;
  if (L_mag != 0) {
    const Word16 den = fr_shl(sav0[0], 3);
    shift = fr_norm_l(L_mag);
    Word16 num = fr_extract_h(fr_L_shl(L_mag, shift));
    Word32 high = 0;
    if (num > den) {  // quotient above 1: take one den off and add 1.0 (Q15) back
      num = fr_sub(num, den);
      high = 0x8000;
    }
    L_dm = fr_L_shl(fr_L_add(high, fr_L_deposit_l(fr_div_s(num, den))), 1);
    if (L_sump < 0) L_dm = fr_L_negate(L_dm);
  }
  L_dm = fr_L_shl(L_dm, 14);
  L_dm = fr_L_shr(L_dm, shift);
  L_dm = fr_L_add(L_dm, fr_L_shl(fr_L_deposit_l(rav1[0]), 11));
  L_dm = fr_L_shr(L_dm, scal_rav1);

  const Word32 change = fr_L_abs(fr_L_sub(L_dm, st->L_lastdm));
  st->L_lastdm = L_dm;
  return fr_L_sub(change, vad_const(st, kSpectralThreshold)) < 0 ? Word16(1) : Word16(0);
}

// Adds two pseudo-floating values of which b has the fixed margin exponent.
FR_Pfloat fr_pvad_plus_margin(FR_Pfloat pvad, Word16 margin_m) {
  FR_Pfloat sum;
  if (pvad.e == kMarginExponent) {
    sum.m = fr_extract_l(fr_L_shr(Word32(pvad.m) + margin_m, 1));
    sum.e = fr_add(pvad.e, 1);
    return sum;
  }
  Word32 L_temp;
  Word16 e;
  if (pvad.e > kMarginExponent) {
    L_temp = Word32(pvad.m) + fr_shr(margin_m, fr_sub(pvad.e, kMarginExponent));
    e = pvad.e;
  } else {
    L_temp = Word32(margin_m) + fr_shr(pvad.m, fr_sub(kMarginExponent, pvad.e));
    e = kMarginExponent;
  }
  if (L_temp > 0x7FFF) {
    sum.e = fr_add(e, 1);
    sum.m = fr_extract_l(L_temp >> 1);
  } else {
    sum.e = e;
    sum.m = fr_extract_l(L_temp);
  }
  return sum;
}

void fr_threshold_adaptation(Word16 stat, Word16 ptch, Word16 tone, const Word16* rav1,
                             Word16 scal_rav1, FR_Pfloat pvad, FR_Pfloat acf0, FrVadState* st) {
  const FR_Pfloat pth = {vad_const(st, kPthExponent), vad_const(st, kPthMantissa)};
  if (pf_less(acf0, pth)) {  // too little energy: fall back to the low-level threshold
    st->thvad.e = vad_const(st, kPlevExponent);
    st->thvad.m = vad_const(st, kPlevMantissa);
    return;
  }
  if (ptch == 1 || stat == 0 || tone == 1) {
    st->adaptcount = 0;
    return;
  }
  st->adaptcount = fr_add(st->adaptcount, 1);
  if (st->adaptcount <= kAdaptFrames) return;

  FR_Pfloat& thvad = st->thvad;
  thvad.m = fr_sub(thvad.m, fr_shr(thvad.m, 5));
  if (thvad.m < 0x4000) {
    thvad.m = fr_shl(thvad.m, 1);
    thvad.e = fr_sub(thvad.e, 1);
  }

  // pvad times the mode's factor.
  FR_Pfloat scaled;
  Word32 L_temp = fr_L_shr(fr_L_mult(pvad.m, vad_const(st, kPvadFactor)), 15);
  scaled.e = fr_add(pvad.e, 1);
  if (L_temp > 0x7FFF) {
    L_temp = fr_L_shr(L_temp, 1);
    scaled.e = fr_add(scaled.e, 1);
  }
  scaled.m = fr_extract_l(L_temp);

  if (pf_less(thvad, scaled)) {
    L_temp = Word32(thvad.m) + fr_shr(thvad.m, 4);
    if (L_temp > 0x7FFF) {
      thvad.m = fr_extract_l(L_temp >> 1);
      thvad.e = fr_add(thvad.e, 1);
    } else {
      thvad.m = fr_extract_l(L_temp);
    }
    if (pf_less(scaled, thvad)) thvad = scaled;
  }

  const FR_Pfloat limit = fr_pvad_plus_margin(pvad, vad_const(st, kMarginMantissa));
  if (pf_less(limit, thvad)) thvad = limit;

  st->scal_rvad = scal_rav1;
  for (int i = 0; i <= 8; ++i) st->rvad[i] = rav1[i];
  st->adaptcount = kAdaptFrames + 1;
}

Word16 fr_vad_decision(FR_Pfloat pvad, FR_Pfloat thvad) { return pf_less(thvad, pvad) ? 1 : 0; }

Word16 fr_vad_hangover(Word16 vvad, FrVadState* st) {
  st->burstcount = vvad == 1 ? fr_add(st->burstcount, 1) : Word16(0);
  if (st->burstcount >= kBurstLength) {
    st->hangcount = vad_const(st, kHangover);
    st->burstcount = kBurstLength;
  }
  if (st->hangcount >= 0) {
    st->hangcount = fr_sub(st->hangcount, 1);
    return 1;
  }
  return vvad;
}

}  // namespace

void fr_vad_reset(FrVadState* st, Word16 mode) {
  if (mode < 0 || mode > 2) mode = 0;
  const Word16* tab = fr_FRATE_Vad_reset_tab;
  const Word16* per_mode = tab + 4 + 5 * mode;
  st->mode = mode;
  st->const_ptr = &fr_FRATE_VAD_consts[mode][4];
  for (auto& r : st->rvad) r = 0;
  st->rvad[0] = tab[0];
  st->scal_rvad = tab[1];
  st->hangcount = tab[2];
  st->ptch = tab[3];
  st->thvad.e = per_mode[0];
  st->thvad.m = per_mode[1];
  st->oldlag = per_mode[2];
  st->rvad[1] = per_mode[3];
  st->rvad[2] = per_mode[4];
  st->pt_sacf = 0;
  st->pt_sav0 = 0;
  st->L_lastdm = 0;
  st->adaptcount = 0;
  st->burstcount = 0;
  st->oldlagcount = 0;
  st->veryoldlagcount = 0;
  for (auto& v : st->L_sacf) v = 0;
  for (auto& v : st->L_sav0) v = 0;
}

Word16 fr_vad_computation(const Word32* L_acf, Word16 scal_acf, const Word16* rc, FrVadState* st) {
  (void)rc;  // the full-rate detector has no tone detection
  return fr_vad_computation_tone(L_acf, scal_acf, 0, st);
}

Word16 fr_vad_computation_tone(const Word32* L_acf, Word16 scal_acf, Word16 tone, FrVadState* st) {
  FR_Pfloat acf0;
  FR_Pfloat pvad;
  const Word16 scale = fr_energy_computation(L_acf, scal_acf, st, &acf0, &pvad);

  Word32 L_av0[9];
  Word32 L_av1[9];
  fr_acf_averaging(L_acf, scale, L_av0, L_av1, st);

  Word16 rav1[9];
  const Word16 scal_rav1 = fr_predictor_values(L_av1, rav1);
  const Word16 stat = fr_spectral_comparison(rav1, scal_rav1, L_av0, st);
  fr_threshold_adaptation(stat, st->ptch, tone, rav1, scal_rav1, pvad, acf0, st);
  return fr_vad_hangover(fr_vad_decision(pvad, st->thvad), st);
}

void fr_periodicity_update(const Word16* lags, FrVadState* st) {
  Word16 lagcount = 0;
  for (int i = 0; i < 4; ++i) {
    Word16 minlag = st->oldlag;
    Word16 maxlag = lags[i];
    if (st->oldlag > lags[i]) {
      minlag = lags[i];
      maxlag = st->oldlag;
    }
    Word16 smallag = maxlag;
    for (int j = 0; j < 3; ++j)
      if (smallag >= minlag) smallag = fr_sub(smallag, minlag);
    const Word16 other = fr_sub(minlag, smallag);
    if (other < smallag) smallag = other;
    if (smallag < 2) lagcount = fr_add(lagcount, 1);
    st->oldlag = lags[i];
  }
  st->veryoldlagcount = st->oldlagcount;
  st->oldlagcount = lagcount;
  const Word16 needed = st->mode == 2 ? 7 : 4;
  st->ptch = fr_add(st->oldlagcount, st->veryoldlagcount) >= needed ? Word16(1) : Word16(0);
}

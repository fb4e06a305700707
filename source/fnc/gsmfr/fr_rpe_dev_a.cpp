// Long-term prediction and regular-pulse excitation kernels of the GSM full-rate codec.
#include <algorithm>

#include "fr_kernels.h"
#include "fr_tables.h"

namespace {
inline Word32 fr_combine_lanes(const Word32 p[4]) {
  return fr_L_add(fr_L_add(p[0], p[2]), fr_L_add(p[1], p[3]));
}
}  // namespace

Word32 fr_CalcLTP_CrossCorrelate(const Word16* d, const Word16* dp, Word16 scal, Word16* Nc) {
  Word16 wt[40];
  Word16 wmax = 0;
  for (int k = 0; k < 40; ++k) {
    wt[k] = fr_sasr(d[k], scal);
    wmax = std::max(wmax, fr_abs_s(wt[k]));
  }
  // With |wt| <= 511 (what the caller's scaling gives) no doubled product reaches 2^25 and no
  // sum of 40 reaches 2^31, so a plain sum equals the saturating four-lane sum.
  const bool plain = wmax <= 511;
  Word32 L_max = 0;
  Word16 best = 40;
  for (Word16 lambda = 40; lambda <= 120; ++lambda) {
    const Word16* past = dp - lambda;
    Word32 c;
    if (plain) {
      Word32 sum = 0;
      for (int k = 0; k < 40; ++k) sum += Word32(wt[k]) * past[k];
      c = sum * 2;
    } else {
      Word32 p[4] = {0, 0, 0, 0};
      for (int k = 0; k < 40; ++k) p[k & 3] = fr_L_mac(p[k & 3], wt[k], past[k]);
      c = fr_combine_lanes(p);
    }
    if (c > L_max) {  // strictly greater: the smallest lag wins a tie
      L_max = c;
      best = lambda;
    }
  }
  *Nc = best;
  return L_max;
}

Word32 fr_CalcLTP_ComputePower(const Word16* x) {
  Word32 p[4] = {0, 0, 0, 0};
  for (int k = 0; k < 40; ++k) {
    const Word16 t = fr_sasr(x[k], 3);
    p[k & 3] = fr_L_mac(p[k & 3], t, t);
  }
  return fr_combine_lanes(p);
}

void fr_Long_term_analysis_filtering(Word16 bc, Word16 Nc, const Word16* dp, const Word16* d,
                                     Word16* dpp, Word16* e) {
  const Word16 bp = fr_BP_val[bc & 3];
  // dp[k - Nc] lies before dp[0], so dpp may be dp itself.
  for (int k = 0; k < 40; ++k) {
    const Word16 pred = fr_mult_r(bp, dp[k - Nc]);
    dpp[k] = pred;
    e[k] = fr_sub(d[k], pred);
  }
}

void fr_Gsm_Long_Term_Synthesis_Filtering(Word16* nrp, Word16 Ncr, Word16 bcr, const Word16* erp,
                                          Word16* drp) {
  Word16 Nr = *nrp;
  if (Ncr >= 40 && Ncr <= 120) {
    Nr = Ncr;
    *nrp = Ncr;
  }
  const Word16 brp = fr_gsm_QLB[bcr & 3];
  for (int k = 0; k < 40; ++k) drp[k] = fr_add(erp[k], fr_mult_r(brp, drp[k - Nr]));
}

void fr_Weighting_filter(const Word16* e, Word16* x) {
  for (int k = 0; k < 40; ++k) {
    Word32 sum = 4096;
    for (int i = 0; i < 11; ++i) sum += Word32(e[k + i]) * fr_RPEWtCoeff[i];
    x[k] = fr_saturate(sum >> 13);
  }
}

void fr_RPE_grid_selection_reorder(Word16* y, const Word16* x) {
  for (int m = 0; m < 4; ++m)
    for (int i = 0; i < 13; ++i) y[4 * i + m] = fr_sasr(x[m + 3 * i], 2);
}

void fr_RPE_grid_selection_CalcMax(const Word16* y, Word32* EM) {
  for (int m = 0; m < 4; ++m) {
    Word32 sum = 0;
    for (int i = 0; i < 16; ++i) sum = fr_L_mac(sum, y[4 * i + m], y[4 * i + m]);
    EM[m] = sum;
  }
}

void fr_APCM_quantization_Calc_xMc(const Word16* xM, Word16* xMc, Word16 exp, Word16 mant) {
  const int temp1 = 6 - exp;
  const Word16 temp2 = fr_gsm_NRFAC[mant & 7];
  for (int i = 0; i < 13; ++i) {
    Word16 temp = fr_shl_wrap(xM[i], temp1);
    temp = fr_mult(temp, temp2);
    xMc[i] = static_cast<Word16>(fr_sasr(temp, 12) + 4);
  }
}

void fr_APCM_inverse_quantization(const Word16* xMc, Word16 mant, Word16 exp, Word16* xMp) {
  const Word16 temp1 = fr_gsm_FAC[mant & 7];
  const int temp2 = 6 - exp;
  const Word16 temp3 = temp2 >= 1 ? fr_shl_wrap(1, temp2 - 1) : Word16(0);
  for (int i = 0; i < 16; ++i) {
    const Word16 code = i < 13 ? xMc[i] : Word16(0);
    Word16 temp = fr_shl_wrap(static_cast<Word16>(code * 2 - 7), 12);
    temp = fr_mult_r(temp1, temp);
    temp = fr_add(temp, temp3);
    xMp[i] = fr_shr(temp, static_cast<Word16>(temp2));
  }
}

void fr_RPE_grid_positioning(Word16 Mc, const Word16* xMp, Word16* ep) {
  for (int k = 0; k < 40; ++k) ep[k] = 0;
  const int grid = Mc & 3;
  for (int i = 0; i < 13; ++i) ep[grid + 3 * i] = xMp[i];
}

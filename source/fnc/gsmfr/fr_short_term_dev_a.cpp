// Front end and short-term (LPC) kernels of the GSM full-rate codec: pre-processing,
// autocorrelation, the Schur recursion and its division, LAR coding and decoding, LAR
// interpolation, the lattice filters and the decoder's post-processing.
#include <algorithm>

#include "fr_kernels.h"
#include "fr_tables.h"

void fr_Gsm_Preprocess(GSMFR_ENCSTRUCT* S, const Word16* s_in, Word16* so) {
  Word16 z1 = S->z1;
  Word32 K = S->L_z2;  // twice the offset-compensation memory (bit 0 carries no information)
  Word16 mp = S->mp;
  for (int k = 0; k < 160; ++k) {
    // Down-scaling to the 13-bit input format.
    const Word16 SO = static_cast<Word16>(fr_sasr(s_in[k], 3) * 4);
    // Offset compensation: s1 always fits 16 bits since both terms are multiples of 4 below 2^15.
    const Word16 s1 = static_cast<Word16>(SO - z1);
    z1 = SO;
    const std::int64_t lsp2 = K & 65534;
    const std::int64_t msp = K >> 16;
    K = fr_sat32(((lsp2 * 32735) >> 15) + 2 * msp * 32735 + 1 + std::int64_t(s1) * 65536);
    // Pre-emphasis with the previous output of the compensation filter.
    const Word16 msp2 = fr_mult_r(mp, -28180);
    mp = static_cast<Word16>((std::int64_t(K) + 32768) >> 16);
    so[k] = fr_add(mp, msp2);
  }
  S->z1 = z1;
  S->L_z2 = K;
  S->mp = mp;
}

void fr_Autocorrelation_ACF(Word16* s, Word32* L_ACF) {
  for (int i = 160; i < 172; ++i) s[i] = 0;
  Word16 smax = 0;
  for (int i = 0; i < 160; ++i) smax = std::max(smax, fr_abs_s(s[i]));
  // Samples below 2^11 (what the caller's scaling gives) keep every sum of 160 doubled
  // products below 2^31, so a plain sum equals the saturating four-lane sum.
  const bool plain = smax <= 2047;
  for (int k = 0; k <= 8; ++k) {
    if (plain) {
      Word32 sum = 0;
      for (int i = 0; i < 160; ++i) sum += Word32(s[i]) * s[i + k];
      L_ACF[k] = sum * 2;
      continue;
    }
    Word32 p[4] = {0, 0, 0, 0};
    for (int i = 0; i < 160; ++i) p[i & 3] = fr_L_mac(p[i & 3], s[i], s[i + k]);
    L_ACF[k] = fr_L_add(fr_L_add(p[0], p[2]), fr_L_add(p[1], p[3]));
  }
}

Word16 fr_div_s(Word16 num, Word16 den) {
  if (num <= 0) return 0;
  if (den <= 0 || num >= den) return FR_MAX_16;
  return static_cast<Word16>((Word32(num) * 32768) / den);
}

Word32 fr_Reflection_coefficients_Loop(Word16* r, Word16* P, Word16* K) {
  for (int n = 1; n <= 7; ++n) {
    const Word16 temp = fr_abs_s(P[1]);
    if (P[0] < temp) return 1;
    Word16 rn = fr_div_s(temp, P[0]);
    if (P[1] > 0) rn = static_cast<Word16>(-rn);
    r[n - 1] = rn;
    P[0] = fr_add(P[0], fr_mult_r(P[1], rn));
    for (int m = 1; m <= 8 - n; ++m) {
      const Word16 next = P[m + 1];
      P[m] = fr_add(next, fr_mult_r(K[m], rn));
      K[m] = fr_add(K[m], fr_mult_r(next, rn));
    }
  }
  return 0;
}

void fr_Quantization_and_coding(const Word16* LAR, Word16* LARc) {
  for (int i = 0; i < 8; ++i) {
    Word16 temp = fr_mult(fr_LARcQ_Tab[0][i], LAR[i]);
    temp = fr_add(temp, fr_LARcQ_Tab[1][i]);
    temp = fr_add(temp, 256);
    temp = fr_sasr(temp, 9);
    temp = fr_add(temp, fr_LARcQ_Tab[2][i]);
    if (temp < 0) temp = 0;
    if (temp > fr_LARcQ_Tab[3][i]) temp = fr_LARcQ_Tab[3][i];
    LARc[i] = temp;
  }
}

void fr_DecLAR(const Word16* LARc, Word16* LARpp) {
  for (int i = 0; i < 8; ++i) {
    Word16 temp = fr_shl_wrap(fr_add(LARc[i], fr_gsm_MIC[i]), 10);
    temp = fr_sub(temp, fr_gsm_B[i]);
    temp = fr_mult_r(fr_gsm_INVA[i], temp);
    LARpp[i] = fr_add(temp, temp);
  }
}

// The interpolated values are sums of halves and quarters of LARs, which cannot leave 16 bits.
void fr_Coefficients_0_12(const Word16* LARpp_j_1, const Word16* LARpp_j, Word16* LARp) {
  for (int i = 0; i < 8; ++i)
    LARp[i] = fr_add(fr_add(fr_sasr(LARpp_j_1[i], 2), fr_sasr(LARpp_j[i], 2)),
                     fr_sasr(LARpp_j_1[i], 1));
}

void fr_Coefficients_13_26(const Word16* LARpp_j_1, const Word16* LARpp_j, Word16* LARp) {
  for (int i = 0; i < 8; ++i) LARp[i] = fr_add(fr_sasr(LARpp_j_1[i], 1), fr_sasr(LARpp_j[i], 1));
}

void fr_Coefficients_27_39(const Word16* LARpp_j_1, const Word16* LARpp_j, Word16* LARp) {
  for (int i = 0; i < 8; ++i)
    LARp[i] = fr_add(fr_add(fr_sasr(LARpp_j_1[i], 2), fr_sasr(LARpp_j[i], 2)),
                     fr_sasr(LARpp_j[i], 1));
}

void fr_Coefficients_40_159(const Word16* LARpp_j, Word16* LARp) {
  for (int i = 0; i < 8; ++i) LARp[i] = LARpp_j[i];
}

void fr_LARp_to_rp(Word16* LARp) {
  for (int i = 0; i < 8; ++i) {
    const Word16 x = LARp[i];
    const Word16 a = fr_abs_s(x);
    Word16 r;
    if (a <= 11059)
      r = static_cast<Word16>(a * 2);
    else if (a <= 20070)
      r = static_cast<Word16>(a + 11059);
    else
      r = fr_add(fr_sasr(a, 2), 26112);
    LARp[i] = x < 0 ? static_cast<Word16>(-r) : r;
  }
}

void fr_Short_term_analysis_filtering(Word16* u, const Word16* rp, Word16 k_n, Word16* s) {
  for (int k = 0; k < k_n; ++k) {
    Word16 d = s[k];
    Word16 sav = d;
    for (int i = 0; i < 8; ++i) {
      const Word16 ui = u[i];
      u[i] = sav;
      sav = fr_add(ui, fr_mult_r(rp[i], d));
      d = fr_add(d, fr_mult_r(rp[i], ui));
    }
    u[8] = sav;
    s[k] = d;
  }
}

void fr_Short_term_synthesis_filtering(Word16* v, const Word16* rrp, Word16 k, const Word16* wt,
                                       Word16* sr) {
  for (int n = 0; n < k; ++n) {
    Word16 sri = wt[n];
    for (int i = 7; i >= 0; --i) {
      sri = fr_sub(sri, fr_mult_r(rrp[i], v[i]));
      v[i + 1] = fr_add(v[i], fr_mult_r(rrp[i], sri));
    }
    v[0] = sri;
    sr[n] = sri;
  }
}

void fr_Postprocessing(Word16* msr, Word16* s) {
  Word16 m = *msr;
  for (int k = 0; k < 160; ++k) {
    m = fr_add(s[k], fr_mult_r(m, 28180));
    s[k] = static_cast<Word16>(fr_add(m, m) & 0xFFF8);
  }
  *msr = m;
}

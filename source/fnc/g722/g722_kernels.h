// Inner loops of G.722 and its concealment with exact fixed-point contracts: QMF branches, the
// zero-predictor updates, LPC filters, correlations and energies. Lengths follow each kernel's
// contract; none of them keeps state.
#pragma once

#include <cstdint>

#include "g722_basop.h"

using Word16 = std::int16_t;
using Word32 = std::int32_t;

void g722_FrameSave_Neon(Word16 *save_area);
void g722_FrameRestore_Neon(Word16 *save_area);
void g722_W16copy(Word16 *dst, const Word16 *src, int n);
void g722_W16zero(Word16 *dst, int n);

void g722_qmf_tx_part1(Word16 *xl, Word16 *xh, const Word16 *x, Word16 *row, const Word16 *coef,
                       Word16 len, Word32 *scratch);
void g722_qmf_tx_part2(Word16 *xl, Word16 *xh, const Word16 *x, Word16 *row, const Word16 *coef,
                       Word16 len, Word32 *scratch);
void g722_qmf_rx_part1(const Word16 *rl, const Word16 *rh, Word16 *out, Word16 *row,
                       const Word16 *coef, Word16 len);
void g722_qmf_rx_part2(const Word16 *rl, const Word16 *rh, Word16 *out, Word16 *row,
                       const Word16 *coef, Word16 len);
// Both receive branches at once (the difference branch into the even outputs with coef[0..11],
// the sum branch into the odd ones with coef[12..23]): the same samples and delay lines as
// g722_qmf_rx_part1 followed by g722_qmf_rx_part2.
void g722_qmf_rx_both(const Word16 *rl, const Word16 *rh, Word16 *out, Word16 *row1, Word16 *row2,
                      const Word16 *coef, Word16 len);

Word16 g722_upzero(Word16 *dlt, Word16 *b);
Word16 g722_plc_adaptpred_zero_part(Word16 *d, Word16 *b, Word16 step);
void g722_filtdlt_zero_part(const Word16 *in, const Word16 *brev, Word32 *acc);

// y must not overlap x[-8 .. n).
void g722_azfilterQ0_Q1(const Word16 *a, const Word16 *x, Word16 *y, Word16 n);
void g722_apfilterQ1_Q0(const Word16 *a, const Word16 *x, Word16 *y, Word16 n);
void g722_apfilterQ1_Q0_2(const Word16 *a, const Word16 *x, Word16 *y, Word16 n);

void g722_Vec_mult_r_LPC0(const Word16 *a, const Word16 *w, Word16 *out);
void g722_Vec_mult_r_WINSZ(const Word16 *x, const Word16 *win, Word16 *out);
Word32 g722_Vec_L_sqa0(const Word16 *x, Word16 n);
Word32 g722_Vec_L_sqa0_init(const Word16 *x, Word32 init);
Word32 g722_Vec_L_mac_ps0(const Word16 *x, const Word16 *y, Word16 n);
Word32 g722_Vec_L_mac_ps0_30(const Word16 *x, const Word16 *y);
Word32 g722_Vec_L_mac_ps0_60(const Word16 *x, const Word16 *y);
Word32 g722_Vec_L_mac_ps0_80(const Word16 *x, const Word16 *y);
void g722_Vec_L_mac_ps0_30_loop(const Word16 *x, const Word16 *y, Word32 *out, Word16 count);
void g722_ACF(Word16 *x, Word32 *r, Word16 shift);
void g722_prfn_Corr(const Word16 *a, const Word16 *x, Word16 n, Word32 *out);
Word32 g722_testrpc_Energy(const Word16 *x);
void g722_decim_loop1(Word16 *out, const Word32 *in, Word16 shift);
Word16 g722_decim_loop2(const Word16 *buf);
void g722_Vec_shr_8(const Word16 *src, Word16 *dst, Word16 shift, Word16 n);
void g722_Vec_shl_8(const Word16 *src, Word16 *dst, Word16 shift, Word16 n);
// Inline: the Levinson recursion and the spectral smoothing call it in their inner loops.
inline Word32 g722_MPY_32(Word32 a, Word32 b) {
  Word16 hi1, lo1, hi2, lo2;
  g722::L_Extract(a, &hi1, &lo1);
  g722::L_Extract(b, &hi2, &lo2);
  return g722::L_mac(g722::L_mac(g722::L_mult(hi1, hi2), g722::mult(hi1, lo2), 1), g722::mult(lo1, hi2), 1);
}
Word16 g722_div_s(Word16 num, Word16 den);
void g722_Log2(Word32 x, Word16 *exponent, Word16 *fraction);

// Portable saturating forms of the kernels above that take a faster exact path when no sum can
// saturate; the tests hold each pair together.
void g722_model_azfilterQ0_Q1(const Word16 *a, const Word16 *x, Word16 *y, Word16 n);
void g722_model_apfilterQ1_Q0(const Word16 *a, const Word16 *x, Word16 *y, Word16 n);
void g722_model_apfilterQ1_Q0_2(const Word16 *a, const Word16 *x, Word16 *y, Word16 n);
Word32 g722_model_Vec_L_mac_ps0(const Word16 *x, const Word16 *y, Word16 n);
Word32 g722_model_Vec_L_sqa0(const Word16 *x, Word16 n);
void g722_model_ACF(Word16 *x, Word32 *r, Word16 shift);
void g722_model_Vec_L_mac_ps0_30_loop(const Word16 *x, const Word16 *y, Word32 *out, Word16 count);

// True when doubled products of `coef` with any window of x[0..nx) sum without ever saturating;
// then g722_Vec_L_mac_ps0_plain equals g722_Vec_L_mac_ps0 on those windows.
bool g722_mac_cannot_saturate(const Word16 *coef, int ncoef, const Word16 *x, int nx);
Word32 g722_Vec_L_mac_ps0_plain(const Word16 *x, const Word16 *y, Word16 n);

// Operator copies named by the family.
Word16 g722_norm_l(Word32 x);
Word32 g722_L_shl(Word32 x, Word16 n);
Word32 g722_L_shr(Word32 x, Word16 n);
Word16 g722_shr(Word16 x, Word16 n);
Word16 g722_abs_s(Word16 x);
void g722_Vec_shr(const Word16 *Vect_in, Word16 *Vect_out, Word16 shift, Word16 Len);
void g722_Vec_shr_skip(const Word16 *Vect_in, Word16 *Vect_out, Word16 shift, Word16 skip,
                       Word16 Len);

// GSM full-rate encoder frame: pre-processing, LPC analysis with the voice activity detector,
// short-term analysis filtering, then per subframe the long-term predictor and the RPE coding,
// and with DTX on the SID parameters.
#include <cstddef>
#include <cstring>

#include "fr_codec.h"
#include "fr_kernels.h"
#include "fr_tables.h"

namespace {

// Per-frame working memory of the encoder (one frame at a time).
Word16 g_so[172];          // pre-processed frame, then the short-term residual d
Word16 g_NEON_local[64];   // vector register save area of the frame driver

bool fr_EncHomingtest(const Word16* speech_in) {
  for (int i = 0; i < 160; ++i)
    if (speech_in[i] != 0x0008) return false;
  return true;
}

// Scales the frame so that the sums cannot overflow, sums the nine lags and restores the
// frame's scale. Returns the scaling (negative when the frame is quiet).
Word16 fr_Autocorrelation(Word16* s, Word32* L_ACF) {
  const Word16 smax = fr_Vec_max_abs_gt(s, 160);
  const Word16 scalauto = smax == 0 ? Word16(0) : Word16(4 - fr_norm_s(smax));
  if (scalauto > 0) fr_Vec_mult_r160(s, s, static_cast<Word16>(16384 >> (scalauto - 1)));
  fr_Autocorrelation_ACF(s, L_ACF);
  if (scalauto > 0) fr_Vec_shl160(s, s, scalauto);
  return scalauto;
}

void fr_to_LAR(Word16* r) {
  for (int i = 0; i < 8; ++i) {
    Word16 temp = fr_abs_s(r[i]);
    if (temp < 22118)
      temp = static_cast<Word16>(temp >> 1);
    else if (temp < 31130)
      temp = static_cast<Word16>(temp - 11059);
    else
      temp = static_cast<Word16>((temp - 26112) * 4);
    r[i] = r[i] < 0 ? static_cast<Word16>(-temp) : temp;
  }
}

// Returns the VAD decision; LARuq receives the unquantised LARs, LARc the coded ones.
Word16 fr_Gsm_LPC_Analysis(GSMFR_ENCSTRUCT* st, Word16* s, Word16* LARuq, Word16* LARc) {
  Word32 L_ACF[9];
  Word16 r[8];
  const Word16 scalauto = fr_Autocorrelation(s, L_ACF);
  const Word16 vad = fr_vad_computation(L_ACF, scalauto, r, &st->VadState);
  fr_Reflection_coefficients(L_ACF, r);
  fr_to_LAR(r);
  fr_Copy8(r, LARuq);
  fr_Quantization_and_coding(r, LARc);
  return vad;
}

void fr_Gsm_Short_Term_Analysis_Filter(GSMFR_ENCSTRUCT* st, const Word16* LARc, Word16* s) {
  Word16* cur = st->LARpp[st->j];
  st->j ^= 1;
  const Word16* prev = st->LARpp[st->j];
  fr_DecLAR(LARc, cur);

  Word16 LARp[8];
  fr_Coefficients_0_12(prev, cur, LARp);
  fr_LARp_to_rp(LARp);
  fr_Short_term_analysis_filtering(st->u, LARp, 13, s);
  fr_Coefficients_13_26(prev, cur, LARp);
  fr_LARp_to_rp(LARp);
  fr_Short_term_analysis_filtering(st->u, LARp, 14, s + 13);
  fr_Coefficients_27_39(prev, cur, LARp);
  fr_LARp_to_rp(LARp);
  fr_Short_term_analysis_filtering(st->u, LARp, 13, s + 27);
  fr_Coefficients_40_159(cur, LARp);
  fr_LARp_to_rp(LARp);
  fr_Short_term_analysis_filtering(st->u, LARp, 120, s + 40);
}

// LTP gain code from the best lag's correlation and the power of the past residual there.
Word16 fr_CalcLTP(const Word16* d, const Word16* dp, Word16* Nc_out) {
  const Word16 dmax = fr_Vec_max_abs_gt(d, 40);
  const Word16 temp = dmax == 0 ? Word16(0) : fr_norm_s(dmax);
  const Word16 scal = temp > 6 ? Word16(0) : Word16(6 - temp);

  Word16 Nc;
  Word32 L_max = fr_CalcLTP_CrossCorrelate(d, dp, scal, &Nc);
  *Nc_out = Nc;
  L_max >>= 6 - scal;
  if (L_max <= 0) return 0;
  const Word32 L_power = fr_CalcLTP_ComputePower(dp - Nc);
  if (L_max >= L_power) return 3;

  const Word16 t = fr_norm_l(L_power);
  const Word16 R = fr_extract_h(fr_L_asl(L_max, t));
  const Word16 S = fr_extract_h(fr_L_asl(L_power, t));
  Word16 bc = 0;
  while (bc <= 2 && R > fr_mult(S, fr_gsm_DLB[bc])) ++bc;
  return bc;
}

// dp points at the current subframe's 40 slots behind 120 past samples; dpp receives the
// prediction (the encoder passes dp itself) and e the LTP residual.
void fr_Gsm_Long_Term_Predictor(const Word16* d, Word16* dp, Word16* e, Word16* dpp, Word16* Nc,
                                Word16* bc) {
  *bc = fr_CalcLTP(d, dp, Nc);
  fr_Long_term_analysis_filtering(*bc, *Nc, dp, d, dpp, e);
}

Word16 fr_RPE_grid_selection(const Word16* x, Word16* xM) {
  Word16 y[64];
  Word32 EM[4];
  fr_Set_zero4(y, 64);
  fr_RPE_grid_selection_reorder(y, x);
  fr_RPE_grid_selection_CalcMax(y, EM);
  Word16 Mc = 0;
  Word32 best = EM[0];
  for (Word16 m = 1; m < 4; ++m) {
    if (EM[m] > best) {  // a later grid only when strictly larger
      best = EM[m];
      Mc = m;
    }
  }
  for (int i = 0; i < 13; ++i) xM[i] = x[Mc + 3 * i];
  return Mc;
}

void fr_APCM_quantization(const Word16* xM, Word16* xMc, Word16* mant_out, Word16* exp_out,
                          Word16* xmaxc_out, Word16* xmax_out) {
  Word16 xmax = 0;
  for (int i = 0; i < 13; ++i) {
    const Word16 a = fr_abs_s(xM[i]);
    if (a > xmax) xmax = a;
  }
  *xmax_out = xmax;
  const Word16 xmaxc = fr_Q_xmax(xmax);
  Word16 exp;
  Word16 mant;
  fr_APCM_quantization_xmaxc_to_exp_mant(xmaxc, &exp, &mant);
  fr_APCM_quantization_Calc_xMc(xM, xMc, exp, mant);
  *mant_out = mant;
  *exp_out = exp;
  *xmaxc_out = xmaxc;
}

// Codes the LTP residual e[0..39] into prm (Mc, xmaxc, 13 pulses) and replaces it by the
// decoded excitation. xmaxuq receives the unquantised block maximum.
void fr_Gsm_RPE_Encoding(Word16* e, Word16* xmaxuq, Word16* prm) {
  Word16 x[40];
  Word16 xM[13];
  Word16 xMp[16];
  fr_Weighting_filter(e - 5, x);
  const Word16 Mc = fr_RPE_grid_selection(x, xM);
  Word16 mant;
  Word16 exp;
  Word16 xmaxc;
  fr_APCM_quantization(xM, prm + 2, &mant, &exp, &xmaxc, xmaxuq);
  fr_APCM_inverse_quantization(prm + 2, mant, exp, xMp);
  fr_RPE_grid_positioning(Mc, xMp, e);
  prm[0] = Mc;
  prm[1] = xmaxc;
}

void fr_dtx_frame(GSMFR_ENCSTRUCT* st, Word16* prm, const Word16* Nc, const Word16* LARuq,
                  const Word16* xmaxuq, Word16 vad) {
  FRdtx_encState* dtx = &st->dtxState;
  fr_periodicity_update(Nc, &st->VadState);
  const Word16 sp = dtx->txdtx_ctrl & FR_TX_SP_FLAG;
  if (!sp) {
    Word16 xmax_sid[4];
    fr_Set_zero4(prm, 76);
    fr_GenSIDprm(prm, xmax_sid, dtx);
    for (int k = 0; k < 4; ++k) prm[11 + 17 * k] = xmax_sid[k];
  }
  fr_UpdateSIDmem(LARuq, xmaxuq, dtx);
  if (sp) prm[1] = static_cast<Word16>(prm[1] | 0x8000);
  if (vad) prm[0] = static_cast<Word16>(prm[0] | 0x8000);
}

}  // namespace

Word16 fr_Q_xmax(Word16 xmax) {
  const Word16 exp = xmax < 512 ? Word16(0) : Word16(6 - fr_norm_s(static_cast<Word16>(xmax & 0xFE00)));
  return fr_add(fr_sasr(xmax, exp + 5), static_cast<Word16>(exp << 3));
}

void fr_APCM_quantization_xmaxc_to_exp_mant(Word16 xmaxc, Word16* exp_out, Word16* mant_out) {
  Word16 exp = xmaxc > 15 ? Word16((xmaxc >> 3) - 1) : Word16(0);
  Word16 mant = static_cast<Word16>(xmaxc - (exp << 3));
  if (mant == 0) {
    exp = -4;
    mant = 7;
  } else {
    while (mant <= 7) {
      mant = static_cast<Word16>(mant << 1 | 1);
      --exp;
    }
    mant = static_cast<Word16>(mant - 8);
  }
  *exp_out = exp;
  *mant_out = mant;
}

void fr_Reflection_coefficients(const Word32* L_ACF, Word16* r) {
  fr_Set_zero4(r, 8);
  if (L_ACF[0] == 0) return;
  const Word16 temp = fr_norm_l(L_ACF[0]);
  Word16 P[9];
  Word16 K[9];
  for (int i = 0; i <= 8; ++i) P[i] = K[i] = fr_extract_h(fr_L_asl(L_ACF[i], temp));
  if (fr_Reflection_coefficients_Loop(r, P, K)) return;
  const Word16 last = fr_abs_s(P[1]);
  if (P[0] < last) return;
  r[7] = fr_div_s(last, P[0]);
  if (P[1] > 0) r[7] = static_cast<Word16>(-r[7]);
}

void fr_Encode_Frame_reset(GSMFR_ENCSTRUCT* st, Word16 dtx) {
  std::memset(st, 0, offsetof(GSMFR_ENCSTRUCT, end_marker));
  st->nrp = 40;
  fr_vad_reset(&st->VadState, 0);
  fr_reset_tx_dtx(&st->dtxState);
  st->dtxOn = dtx;
}

void fr_Encode_Frame(const Word16* speech_in, Word16* prm_buf, GSMFR_ENCSTRUCT* st) {
  fr_FrameSave_NEON(g_NEON_local);
  const bool homing = fr_EncHomingtest(speech_in);

  Word16 LARuq[8];
  fr_Gsm_Preprocess(st, speech_in, g_so);
  const Word16 vad = fr_Gsm_LPC_Analysis(st, g_so, LARuq, prm_buf);
  FR_tx_dtx(vad, &st->dtxState, 0);
  fr_Gsm_Short_Term_Analysis_Filter(st, prm_buf, g_so);

  // The window st->dp0 holds 120 past samples of the reconstructed residual followed by the
  // current subframe's 40.
  Word16* dp = st->dp0 + 120;
  Word16 Nc[4];
  Word16 xmaxuq[4];
  for (int k = 0; k < 4; ++k) {
    Word16* prm = prm_buf + 8 + 17 * k;
    fr_Gsm_Long_Term_Predictor(g_so + 40 * k, dp, st->e + 5, dp, &prm[0], &prm[1]);
    Nc[k] = prm[0];
    fr_Gsm_RPE_Encoding(st->e + 5, &xmaxuq[k], &prm[2]);
    fr_Vec_add40(dp, st->e + 5, dp);
    fr_Copy120(st->dp0 + 40, st->dp0);
  }

  if (st->dtxOn) fr_dtx_frame(st, prm_buf, Nc, LARuq, xmaxuq, vad);
  if (homing) fr_Encode_Frame_reset(st, st->dtxOn);
  fr_FrameRestore_NEON(g_NEON_local);
}

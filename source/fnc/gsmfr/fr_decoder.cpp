// GSM full-rate decoder frame: receive DTX control, homing, parameter selection for good, bad
// and comfort-noise frames, RPE decoding, long-term and short-term synthesis, post-processing.
#include <cstddef>
#include <cstring>

#include "fr_codec.h"
#include "fr_kernels.h"
#include "fr_tables.h"

namespace {

// Per-frame working memory of the decoder (one frame at a time).
Word16 g_LARc[8];
Word16 g_Nc[4];
Word16 g_bc[4];
Word16 g_Mc[4];
Word16 g_xmaxc[4];
Word16 g_xMc[52];
Word16 g_erp[40];
Word16 g_NEON_local[64];

bool fr_DecHomingtest(const Word16* in, int len) {
  for (int i = 0; i < len; ++i)
    if (in[i] != fr_DecHomSeq[i]) return false;
  return true;
}

// Unpacks the parameters, keeping each to its width so that no value can index past a table
// or a buffer whatever the caller passed.
void fr_unpack(const Word16* in) {
  for (int i = 0; i < 8; ++i) g_LARc[i] = static_cast<Word16>(in[i] & ((1 << fr_prm_bits_table[i]) - 1));
  for (int k = 0; k < 4; ++k) {
    const Word16* sub = in + 8 + 17 * k;
    g_Nc[k] = static_cast<Word16>(sub[0] & 0x7F);
    g_bc[k] = static_cast<Word16>(sub[1] & 3);
    g_Mc[k] = static_cast<Word16>(sub[2] & 3);
    g_xmaxc[k] = static_cast<Word16>(sub[3] & 0x3F);
    for (int i = 0; i < 13; ++i) g_xMc[13 * k + i] = static_cast<Word16>(sub[4 + i] & 7);
  }
}

// Chooses the frame's LARs (into LARppNew) and block maxima: decoded from a good frame,
// interpolated between the last two SIDs during a transmission pause, repeated or attenuated
// for other bad frames.
void fr_DecLARandXmax(const Word16* LARc, Word16* LARppNew, Word16* LARppOld, Word16* xmaxc,
                      Word16 bfi, FRdtx_decState* S) {
  (void)LARppOld;
  const Word16 ctrl = S->rxdtx_ctrl;
  if (bfi == 0) {
    fr_DecLAR(LARc, LARppNew);
    if (ctrl & FR_RX_FIRST_SID_UPDATE) {
      fr_Copy8(LARppNew, S->LAR_CN_Old);
      fr_Copy4(xmaxc, S->Xmax_CN_Old);
    } else {
      fr_Copy8(S->LAR_CN_New, S->LAR_CN_Old);
      fr_Copy4(S->Xmax_CN_New, S->Xmax_CN_Old);
    }
    fr_Copy8(LARppNew, S->LAR_CN_New);
    fr_Copy4(xmaxc, S->Xmax_CN_New);
    S->mute_count = 0;
  } else if (ctrl & FR_RX_NO_TRANSMISSION) {
    fr_interpolate_CN_vec8(S->LAR_CN_Old, S->LAR_CN_New, LARppNew, S->rx_dtx_state);
    fr_interpolate_CN_vec4(S->Xmax_CN_Old, S->Xmax_CN_New, xmaxc, S->rx_dtx_state);
    S->mute_count = 0;
  } else if (((ctrl & FR_RX_SP_FLAG) && S->state == 1) ||
             (!(ctrl & FR_RX_SP_FLAG) && !(ctrl & FR_RX_DTX_MUTING))) {
    fr_Copy8(S->LAR_CN_New, LARppNew);
    fr_Copy4(S->Xmax_CN_New, xmaxc);
    S->mute_count = 0;
  } else {
    fr_Copy8(S->LAR_CN_New, LARppNew);
    for (int k = 0; k < 4; ++k) {
      const Word16 lowered = fr_sub(S->Xmax_CN_New[k], 4);
      xmaxc[k] = S->Xmax_CN_New[k] = lowered < 0 ? Word16(0) : lowered;
    }
    S->mute_count = fr_add(S->mute_count, 1);
  }
}

// Substitutes the silence frame; its LARs go straight into the current LARpp row.
void fr_GenSilence(Word16* LARpp) {
  fr_Copy8(fr_Silence, LARpp);
  for (int k = 0; k < 4; ++k) {
    const Word16* sub = fr_Silence + 8 + 17 * k;
    g_Nc[k] = sub[0];
    g_bc[k] = sub[1];
    g_Mc[k] = sub[2];
    g_xmaxc[k] = sub[3];
    fr_Copy(sub + 4, g_xMc + 13 * k, 13);
  }
}

void fr_Gsm_RPE_Decoding(Word16 xmaxc, Word16 Mc, const Word16* xMc, Word16* erp) {
  Word16 exp;
  Word16 mant;
  Word16 xMp[16];
  fr_APCM_quantization_xmaxc_to_exp_mant(xmaxc, &exp, &mant);
  fr_APCM_inverse_quantization(xMc, mant, exp, xMp);
  fr_RPE_grid_positioning(Mc, xMp, erp);
}

void fr_Gsm_Short_Term_Synthesis_Filter(const Word16* cur, const Word16* prev, Word16* v,
                                        const Word16* wt, Word16* s) {
  Word16 LARp[8];
  fr_Coefficients_0_12(prev, cur, LARp);
  fr_LARp_to_rp(LARp);
  fr_Short_term_synthesis_filtering(v, LARp, 13, wt, s);
  fr_Coefficients_13_26(prev, cur, LARp);
  fr_LARp_to_rp(LARp);
  fr_Short_term_synthesis_filtering(v, LARp, 14, wt + 13, s + 13);
  fr_Coefficients_27_39(prev, cur, LARp);
  fr_LARp_to_rp(LARp);
  fr_Short_term_synthesis_filtering(v, LARp, 13, wt + 27, s + 27);
  fr_Coefficients_40_159(cur, LARp);
  fr_LARp_to_rp(LARp);
  fr_Short_term_synthesis_filtering(v, LARp, 120, wt + 40, s + 40);
}

}  // namespace

void fr_Decode_Frame_reset(GSMFR_DECSTRUCT* st) {
  std::memset(st, 0, offsetof(GSMFR_DECSTRUCT, end_marker));
  st->nrp = 40;
  st->homing_flag_old = 1;
  fr_reset_rx_dtx(&st->dtxState);
}

void fr_Decode_Frame(GSMFR_DECSTRUCT* st, const Word16* in, Word16* speech_out) {
  const Word16 cur_row = st->j;
  st->j ^= 1;
  Word16* LARpp_cur = st->LARpp[cur_row];
  Word16* LARpp_prev = st->LARpp[st->j];
  fr_FrameSave_NEON(g_NEON_local);

  FRdtx_decState* dtx = &st->dtxState;
  const Word16 bfi = in[78];
  FR_rx_dtx(in[77], bfi, in[76], &dtx->state, &dtx->prev_bf, 0, dtx);

  const bool homing = fr_DecHomingtest(in, st->homing_flag_old ? 25 : 76);
  fr_unpack(in);
  fr_DecLARandXmax(g_LARc, LARpp_cur, LARpp_prev, g_xmaxc, bfi, dtx);

  if (!(dtx->rxdtx_ctrl & FR_RX_SP_FLAG)) {  // comfort noise
    for (int k = 0; k < 4; ++k) {
      g_bc[k] = 0;
      g_Nc[k] = (k & 1) ? 120 : 40;
    }
    fr_GenCN(g_Mc, g_xMc, &dtx->L_pn_seed_rx);
  }
  if (dtx->mute_count > 7) fr_GenSilence(LARpp_cur);

  // speech_out serves as the long-term synthesis window: 120 past samples, then 40 new.
  fr_Copy120(st->dp0, speech_out);
  for (int k = 0; k < 4; ++k) {
    fr_Gsm_RPE_Decoding(g_xmaxc[k], g_Mc[k], g_xMc + 13 * k, g_erp);
    fr_Gsm_Long_Term_Synthesis_Filtering(&st->nrp, g_Nc[k], g_bc[k], g_erp, speech_out + 120);
    if (k < 3) fr_Copy120(speech_out + 40, speech_out);
  }
  fr_Copy120(speech_out + 40, st->dp0);

  fr_Gsm_Short_Term_Synthesis_Filter(LARpp_cur, LARpp_prev, st->v, speech_out, speech_out);
  fr_Postprocessing(&st->msr, speech_out);
  dtx->prev_bf = bfi;

  if (homing) {
    if (st->homing_flag_old)
      for (int i = 0; i < 160; ++i) speech_out[i] = 0x0008;
    fr_Decode_Frame_reset(st);
  }
  st->homing_flag_old = homing ? 1 : 0;
  fr_FrameRestore_NEON(g_NEON_local);
}

// Frame-level control of the G.722 concealment: lost frames are extrapolated from the output
// history and re-encoded into the decoder state; the first good frame after a loss is aligned,
// re-phased and cross-faded; the following good frames ease the decoder back to normal.
#include <algorithm>
#include <cstring>

#include "g722_basop.h"
#include "g722_internal.h"
#include "g722_plc_analysis.h"
#include "g722_tables.h"

using namespace g722;

namespace {

constexpr int kPast = 426;       // entries of past output in xq
constexpr int kNext = 586;       // first entry of the continuation beyond the frame
constexpr int kExtrapolated = 212;  // frame plus continuation
constexpr int kContinuation = 52;

// Doubles or halves the stored reconstructed and difference signals of both bands.
void g722_scale_memories(g722_state *s, bool up) {
  auto f = [up](Word16 v) { return up ? saturate(2 * Word32{v}) : static_cast<Word16>(v >> 1); };
  s->rlt[1] = f(s->rlt[1]);
  s->rh[1] = f(s->rh[1]);
  for (int i = 1; i <= 6; ++i) {
    s->dlt[i] = f(s->dlt[i]);
    s->dh[i] = f(s->dh[i]);
  }
}

Word16 g722_quantl_toupdatescaling_logscl(Word16 el, Word16 detl, Word16 nbl) {
  const Word16 wd = el >= 0 ? el : static_cast<Word16>(std::min(32767 - (el & 32767), 32767));
  int i = 1;
  for (int k = 1; k <= 7; ++k) {
    if (wd >= ((Word32{g722_q4[k]} * detl) >> 15)) ++i;
  }
  return std::clamp<Word16>(add(mult(nbl, 32512), g722_wlil4rilil[i]), 0, 18432);
}

// True when the re-encoding drifted: many repeated values or a lopsided sign balance.
bool g722_reencoding_drifted(Word16 cfecount, Word16 postn, int repeats) {
  if (cfecount < 3) return false;
  const Word16 mean = abs_s(round16(L_mult(postn, g722_inv_frm_size[std::min<int>(cfecount - 3, 2)])));
  return repeats > 40 || mean > 36;
}

inline Word16 g722_sign_step(Word16 v) { return static_cast<Word16>(v > 0 ? 1 : (v < 0 ? -1 : 0)); }

}  // namespace

// Drives the lower band of the decoder with a known sub-band signal.
int g722_lsbupd_loop(g722_state *s, Word16 *plc_pl_postn, Word32 *inv_detl, const Word16 *out,
                     Word16 Nsamples) {
  int repeats = 0;
  for (int n = 0; n < Nsamples; ++n) {
    const Word16 x = out[n];
    const Word16 el = sub(x, s->sl);
    s->nbl = g722_quantl_toupdatescaling_logscl(el, s->detl, s->nbl);
    s->detl = g722_scalel(s->nbl, inv_detl);
    const Word16 plt = add(el, s->szl);
    *plc_pl_postn = add(*plc_pl_postn, g722_sign_step(plt));
    if (plt == s->plt[1]) ++repeats;
    s->plt[0] = plt;
    s->rlt[0] = saturate(2 * Word32{x});
    s->dlt[0] = saturate(2 * Word32{el});
    s->sl = g722_plc_adaptive_prediction(s->dlt, s->bl, s->al, s->plt, 15360, s->rlt, &s->szl);
  }
  return repeats;
}

void g722_lsbupd(G722_APXIII_WB_PLC_State *plc, g722_state *s, const Word16 *out, Word16 Nsamples) {
  if (plc->cfecount >= 6 || plc->lb_reset == 1) {
    plc->lb_reset = 1;
    if (plc->cfecount >= 6) {
      plc->psml_mean = 1024;
      plc->nbpl_mean1 = plc->nbpl_mean2 = plc->nbpl_trck = plc->nbpl_chng = 0;
    }
    g722_lsb_reset(s);
    return;
  }
  const int repeats = g722_lsbupd_loop(s, &plc->pl_postn, &s->inv_detl, out, Nsamples);
  if (g722_reencoding_drifted(plc->cfecount, plc->pl_postn, repeats)) {
    plc->lb_reset = 1;
    g722_lsb_reset(s);
  }
}

void g722_hsbupd(G722_APXIII_WB_PLC_State *plc, g722_state *s, const Word16 *out, Word16 Nsamples) {
  if (plc->cfecount >= 6 || plc->hb_reset == 1) {
    g722_reset_hsbdec(s, plc);
    return;
  }
  int repeats = 0;
  for (int n = 0; n < Nsamples; ++n) {
    const Word16 x = out[n];
    const Word16 eh = sub(x, s->sh);
    const Word16 ph = add(eh, s->szh);
    plc->ph_postn = add(plc->ph_postn, g722_sign_step(ph));
    if (ph == s->ph[1]) ++repeats;
    s->dh[0] = saturate(2 * Word32{eh});
    g722_dc_removal(ph, &plc->ph_m1, &plc->phhp_m1);
    g722_dc_removal(x, &plc->rh_m1, &plc->rhhp_m1);
    s->ph[0] = ph;
    s->rh[0] = saturate(2 * Word32{x});
    s->sh = g722_plc_adaptive_prediction(s->dh, s->bh, s->ah, s->ph, 15360, s->rh, &s->szh);
  }
  if (g722_reencoding_drifted(plc->cfecount, plc->ph_postn, repeats)) {
    g722_reset_hsbdec(s, plc);
  }
}

void g722_dltdec(const Word16 *code, Word16 detl, Word16 nbl, Word16 *out) {
  Word32 inv;
  for (int n = 0; n < G722_FRAME_CODES; ++n) {
    const Word16 il = static_cast<Word16>(code[n] & 63);
    out[n] = saturate((Word32{detl} * g722_deQl[il >> 2]) >> 15);
    nbl = g722_logscl(il, nbl);
    detl = g722_scalel(nbl, &inv);
  }
}

// Approximate lower-band reconstruction of a frame from its differences `in` (six earlier
// differences in front of it) with the frozen predictor.
void g722_filtdlt(const Word16 *in, const g722_state *s, Word16 *out) {
  const Word16 brev[6] = {s->bl[6], s->bl[5], s->bl[4], s->bl[3], s->bl[2], s->bl[1]};
  Word32 z[G722_FRAME_CODES];
  g722_filtdlt_zero_part(in, brev, z);
  Word16 y[G722_FRAME_CODES + 1];
  Word16 *yy = y + 1;  // yy[-1] exists
  yy[-1] = static_cast<Word16>(s->rlt[1] >> 1);
  yy[0] = static_cast<Word16>(s->rlt[0] >> 1);
  for (int i = 1; i < G722_FRAME_CODES; ++i) {
    Word32 acc = L_add(z[i - 1], 16384);
    acc = L_add(acc, L_mult(yy[i - 2], s->al[2]));
    acc = L_add(acc, L_mult(yy[i - 1], s->al[1]));
    yy[i] = add(static_cast<Word16>(acc >> 15), in[i]);
  }
  yy[0] = add(in[0], s->sl);
  std::memcpy(out, yy, G722_FRAME_CODES * sizeof(Word16));
}

void g722_CopyG722DecoderMem(g722_state *to, const g722_state *from) {
  for (int i = 1; i <= 2; ++i) {
    to->al[i] = from->al[i];
    to->ah[i] = from->ah[i];
    to->plt[i] = from->plt[i];
    to->ph[i] = from->ph[i];
  }
  to->rlt[1] = from->rlt[1];
  to->rh[1] = from->rh[1];
  for (int i = 1; i <= 6; ++i) {
    to->bl[i] = from->bl[i];
    to->dlt[i] = from->dlt[i];
    to->bh[i] = from->bh[i];
    to->dh[i] = from->dh[i];
  }
  to->detl = from->detl;
  to->nbl = from->nbl;
  to->deth = from->deth;
  to->sl = from->sl;
  to->szl = from->szl;
  to->nbh = from->nbh;
  to->sh = from->sh;
  to->szh = from->szh;
}

void g722_CopyPlcInfo(G722_APXIII_WB_PLC_State *plc) {
  plc->cpl_postn = plc->pl_postn;
  plc->cph_postn = plc->ph_postn;
  plc->crhhp_m1 = plc->rhhp_m1;
  plc->crh_m1 = plc->rh_m1;
  plc->cphhp_m1 = plc->phhp_m1;
  plc->cph_m1 = plc->ph_m1;
}

void g722_RestorePlcInfo(G722_APXIII_WB_PLC_State *plc) {
  plc->pl_postn = plc->cpl_postn;
  plc->ph_postn = plc->cph_postn;
  plc->rhhp_m1 = plc->crhhp_m1;
  plc->rh_m1 = plc->crh_m1;
  plc->phhp_m1 = plc->cphhp_m1;
  plc->ph_m1 = plc->cph_m1;
}

void g722_OverlapAdd(Word16 *Vec_Out, const Word16 *Vec1, const Word16 *Vec2, const Word16 *Vec3,
                     Word16 length) {
  for (int i = 0; i < length; ++i) {
    Vec_Out[i] = round16(L_add(L_mult(Vec_Out[i], Vec1[i]), L_mult(Vec2[i], Vec3[i])));
  }
}

void g722_GenNoise(Word16 *tmp, Word16 cfecount, Word16 avm) {
  Word16 n = cfecount;
  for (int i = 0; i < kExtrapolated; ++i) {
    if (n > 126) n = static_cast<Word16>(n - 127);
    tmp[i] = round16(L_mult(avm, g722_wn[n & 127]));
    n = add(n, cfecount);
  }
}

void g722_MixNoise(Word16 *xq, const Word16 *tmp, Word16 scalep, Word16 scaler) {
  for (int i = 0; i < kExtrapolated; ++i) {
    xq[kPast + i] = round16(L_add(L_mult(scalep, xq[kPast + i]), L_mult(scaler, tmp[i])));
  }
}

void g722_Scale_LPC_residual(Word16 *ltring, Word16 ppt) {
  for (int i = 0; i < 20; ++i) ltring[i] = round16(L_shl(L_mult(ltring[i], ppt), 6));
}

Word16 g722_Vect_Gain_Att(Word16 *xq, Word16 len, Word16 gaw, Word16 delta) {
  Word16 g = gaw;
  for (int i = 0; i < len; ++i) {
    xq[i] = mult(xq[i], g);
    g = add(g, delta);
  }
  return g;
}

// Cross-fade over 20 samples from the ringing (or previous continuation) into the periodic
// repetition; sample by sample, so a short period repeats what was just written.
void g722_FirstPhaseExtrapolation(Word16 *Vect_out, const Word16 *Vect_in, const Word16 *pring,
                                  Word16 scale) {
  for (int i = 0; i < 20; ++i) {
    const Word16 w = saturate(1638 * (i + 1));
    const Word16 y = round16(L_shl(L_mult(scale, Vect_in[i]), 1));
    Vect_out[i] = round16(L_add(L_mult(pring[i], static_cast<Word16>(32767 - w)), L_mult(y, w)));
  }
}

void g722_SecondPhaseExtrapolation(Word16 *Vect_out, const Word16 *Vect_in, Word16 scale) {
  for (int i = 0; i < kExtrapolated - 20; ++i) {
    Vect_out[i] = round16(L_shl(L_mult(scale, Vect_in[i]), 1));
  }
}

Word16 g722_CalcAvgMagnitude(const Word16 *residual) {
  // 160 magnitudes of at most 32767: the saturating sum never saturates.
  Word32 sum = 0;
  for (int i = 60; i < 220; ++i) sum += abs_s(residual[i]);
  const Word16 v = saturate(sum >> 7);
  return add(v, mult(v, 19661));
}

void g722_apfilterQ0_Q0(const Word16 *a, const Word16 *x, Word16 *y, const Word16 *mem, Word16 *tmp) {
  std::memcpy(tmp, mem, 8 * sizeof(Word16));
  g722_apfilterQ1_Q0_2(a, x, tmp + 8, kExtrapolated);
  std::memcpy(y, tmp + 8, kExtrapolated * sizeof(Word16));
}

void g722_WB_PLC_common(G722_APXIII_WB_PLC_State *plc, Word16 *out, Word16 *xq, Word16 good_frame,
                        Word16 *common) {
  std::memcpy(out, xq + kPast, G722_FRAME_SAMPLES * sizeof(Word16));
  if (good_frame) {
    Word32 r[9];
    g722_Autocorr(r, xq + kPast);
    g722_Spectral_Smoothing(r);
    g722_Levinson(r, plc->al, plc->alast);
    g722_Vec_mult_r_LPC0(plc->al + 1, g722_bwel + 1, plc->al + 1);
  }
  // Residual in Q1 behind 60 unused entries, as the weighting buffer below is laid out.
  Word16 *residual = common;  // 220 entries
  g722_azfilterQ0_Q1(plc->al, xq + kPast, residual + 60, G722_FRAME_SAMPLES);
  if (good_frame) plc->avm = g722_CalcAvgMagnitude(residual);

  Word16 weights[9];
  weights[0] = 4096;
  for (int i = 1; i <= 8; ++i) weights[i] = mult_r(plc->al[i], g722_STWAL[i]);
  Word16 *weighted = common + 220;  // 8 memory + 160
  std::memcpy(weighted, plc->stwpml, sizeof(plc->stwpml));
  g722_apfilterQ1_Q0(weights, residual + 60, weighted + 8, G722_FRAME_SAMPLES);
  std::memcpy(plc->stwpml, weighted + G722_FRAME_SAMPLES, sizeof(plc->stwpml));

  Word16 *xw = common + 400;  // 60 memory + 160 weighted
  std::memcpy(xw, plc->dfm, sizeof(plc->dfm));
  std::memcpy(xw + 60, weighted + 8, G722_FRAME_SAMPLES * sizeof(Word16));
  Word16 xwd_work[65];
  g722_decim(xw, xwd_work, plc);
  if (good_frame) plc->cpplast = g722_coarsepitch(xwd_work, plc->cpplast);
  // The pitch refinement of a good frame is deferred: its coarse pitch is kept with the output
  // history, and g722_refine_pending_pitch runs it should a loss follow within five frames.
  for (int k = 4; k > 0; --k) {
    plc->pph[k] = plc->pph[k - 1];
    plc->pph_cpp[k] = plc->pph_cpp[k - 1];
  }
  plc->pph[0] = good_frame ? 0 : plc->pp;
  plc->pph_cpp[0] = good_frame ? plc->cpplast : 0;
  std::memcpy(plc->stsyml, xq + 578, sizeof(plc->stsyml));
  std::memmove(plc->xq_old, plc->xq_old + G722_FRAME_SAMPLES,
               (G722_PLC_XQ_OLD_LEN - G722_FRAME_SAMPLES) * sizeof(Word16));
  std::memcpy(plc->xq_old + G722_PLC_XQ_OLD_LEN - G722_FRAME_SAMPLES, xq, G722_FRAME_SAMPLES * sizeof(Word16));
  std::memmove(xq, xq + G722_FRAME_SAMPLES, kPast * sizeof(Word16));
}

// Refines the pitch of the good frames among the last five, as each frame would have: on the
// history as it stood at that frame's end (586 samples, of which the refinement reads entries
// 147 on). The newest is refined last, so that its tap, energy and scaling remain, with pp.
void g722_refine_pending_pitch(G722_APXIII_WB_PLC_State *plc) {
  constexpr int kLead = 160;  // keeps the oldest frame's view inside the buffer
  Word16 history[kLead + G722_PLC_XQ_OLD_LEN + kPast] = {};
  Word16 *h = history + kLead;
  std::memcpy(h, plc->xq_old, sizeof(plc->xq_old));
  std::memcpy(h + G722_PLC_XQ_OLD_LEN, plc->xq, kPast * sizeof(Word16));
  for (int k = 4; k >= 0; --k) {
    if (plc->pph_cpp[k] == 0) continue;
    // Frame k ended k frames before the last one, whose end is entry 425 of xq.
    const Word16 *view = h + G722_PLC_XQ_OLD_LEN + (kPast - 1) - G722_FRAME_SAMPLES * k - (kNext - 1);
    plc->pph[k] = g722_prfn(&plc->ptfe, &plc->cormax, &plc->energymax32, &plc->ppt, &plc->wsz,
                            &plc->scaled_flag, view, plc->pph_cpp[k]);
    plc->pph_cpp[k] = 0;
    if (k == 0) plc->pp = plc->pph[0];
  }
}

void g722_WB_PLC_erasure(G722_APXIII_WB_PLC_State *plc, Word16 *out, Word16 *qdb) {
  Word16 *xq = plc->xq;
  plc->cfecount = add(plc->cfecount, 1);
  plc->ngfae = 0;
  if (plc->cfecount == 1) {
    g722_refine_pending_pitch(plc);
    Word16 scratch[kPast];
    plc->merit = g722_merit(xq, plc->wsz, plc->cormax, plc->energymax32, plc->scaled_flag, scratch);
    plc->ppinc = 0;
    for (int k = 0; k < 4; ++k) {
      const Word16 d = sub(plc->pph[k], plc->pph[k + 1]);
      if (d != 0 && 20 * std::abs(int{d}) < plc->pph[k]) {
        const Word16 inc = round16(L_shl(L_mult(d, g722_div_n[k]), 6));
        plc->ppinc = d > 0 ? std::min<Word16>(inc, 128) : std::max<Word16>(inc, -64);
        break;
      }
    }
    plc->ppf = static_cast<Word16>(plc->pp << 6);
    // Ringing of the synthesis filter from the last good frame, scaled by the pitch tap.
    Word16 ring[28];
    g722_azfilterQ0_Q1(plc->al, xq + kPast - plc->pp, ring + 8, 20);
    g722_Scale_LPC_residual(ring + 8, plc->ppt);
    Word16 synth[28];
    std::memcpy(synth, plc->stsyml, sizeof(plc->stsyml));
    g722_apfilterQ1_Q0(plc->al, ring + 8, synth + 8, 20);
    std::memcpy(xq + kNext, synth + 8, 20 * sizeof(Word16));
  } else if (plc->cfecount == 2) {
    const Word16 p = add(add(plc->ppf, plc->ppinc), 32);
    plc->ppf = p < 0 ? 40 : std::clamp<Word16>(static_cast<Word16>(p >> 6), 40, 265);
  }
  if (plc->cfecount >= 2) plc->pp = plc->ppf;

  if (plc->merit > 5120) {
    g722_FirstPhaseExtrapolation(xq + kPast, xq + kPast - plc->pp, xq + kNext, plc->ptfe);
    g722_SecondPhaseExtrapolation(xq + kPast + 20, xq + kPast + 20 - plc->pp, plc->ptfe);
  }
  if (plc->merit <= 7168) {
    Word16 noise[kExtrapolated], filtered[kExtrapolated], tmp[kExtrapolated + 8];
    g722_GenNoise(noise, plc->cfecount, plc->avm);
    g722_apfilterQ0_Q0(plc->al, noise, filtered, plc->stsyml, tmp);
    if (plc->merit <= 5120) {
      plc->scaler = 32767;
      std::memcpy(xq + kPast, filtered, sizeof(filtered));
    } else {
      plc->scaler = saturate(shl(static_cast<Word16>(7168 - plc->merit), 4));
      g722_MixNoise(xq, filtered, static_cast<Word16>(32767 - plc->scaler), plc->scaler);
    }
  } else {
    plc->scaler = 0;
  }

  // Fading from the third lost frame, silence from the seventh.
  const Word16 c = plc->cfecount;
  if (c >= 3 && c <= 6) {
    const Word16 g = g722_Vect_Gain_Att(xq + kPast, G722_FRAME_SAMPLES, 32767, g722_gawd[c - 3]);
    if (c <= 5) {
      g722_Vect_Gain_Att(xq + kNext, kContinuation, g, g722_gawd[c - 3]);
    } else {
      g722_W16zero(xq + kNext, kContinuation);
    }
  } else if (c >= 7) {
    g722_W16zero(xq + kPast, kExtrapolated);
  }
  Word16 common[620];
  g722_WB_PLC_common(plc, out, xq, 0, common);
  std::memcpy(qdb, xq + kNext, 50 * sizeof(Word16));
}

void g722_WB_PLC(G722_APXIII_WB_PLC_State *plc, Word16 *out, const Word16 *inbuf) {
  Word16 *xq = plc->xq;
  std::memcpy(xq + kPast, inbuf, G722_FRAME_SAMPLES * sizeof(Word16));
  if (plc->cfecount != 0) {
    plc->nfle = plc->cfecount;
    plc->ngfae = 1;
  } else {
    plc->ngfae = std::min<Word16>(static_cast<Word16>(plc->ngfae + 1), 9);
  }
  plc->cfecount = 0;
  if (plc->ngfae == 1) {
    if (plc->lag == 0) {
      if (plc->scaler == 32767) {
        g722_OverlapAdd(xq + kPast, g722_olaup, xq + kNext, g722_oladown, 8);
      } else {
        g722_OverlapAdd(xq + kPast, g722_olaug, xq + kNext, g722_oladg, 40);
      }
    } else {
      // Align the decoded frame with the extrapolation: continue the periodic extension, then
      // fade into the time-warped decoded frame.
      Word16 frame[G722_FRAME_SAMPLES];
      std::memcpy(frame, inbuf, sizeof(frame));
      plc->lag = g722_refinelag(xq, plc->pp, frame, plc->lag);
      plc->lag = std::clamp<Word16>(plc->lag, -30, 30);
      const int n = std::min(plc->lag + 144, 160);
      Word16 buffer[G722_FRAME_SAMPLES];
      g722_resample(frame + 16, buffer + G722_FRAME_SAMPLES - n, plc->lag);
      for (int i = 0; i <= 199 - n; ++i) {
        xq[kPast + i] = round16(L_shl(L_mult(plc->ptfe, xq[kPast + i - plc->pp]), 1));
      }
      g722_OverlapAdd(xq + kPast, g722_olaug, xq + kNext, g722_oladg, 40);
      g722_OverlapAdd(xq + kNext - n, g722_oladg, buffer + G722_FRAME_SAMPLES - n, g722_olaug, 40);
      std::memcpy(xq + (626 - n), buffer + (200 - n), static_cast<std::size_t>(n - 40) * sizeof(Word16));
    }
  }
  Word16 common[620];
  g722_WB_PLC_common(plc, out, xq, 1, common);
}

void g722_Reset_WB_PLC(G722_APXIII_WB_PLC_State *plc) {
  std::memset(plc, 0, sizeof(*plc));
  plc->al[0] = 4096;
  plc->alast[0] = 4096;
  plc->xwd_exp = 31;
  plc->cpplast = 96;
  plc->pp = 50;
  for (auto &p : plc->pph) p = 50;
  plc->ngfae = 9;
  plc->psml_mean = 1024;
  plc->wsz = 1;
}

namespace {

// Re-encodes a concealed frame through the transmit QMF so that the decoder state follows it.
void g722_reencode_concealment(g722_state *ds, G722_APXIII_WB_PLC_State *plc, const Word16 *out,
                               const Word16 *qdb) {
  Word16 *row1 = ds->qmf_tx_delayx[0];
  Word16 *row2 = ds->qmf_tx_delayx[1];
  for (int k = 0; k < 11; ++k) {
    row1[k + 1] = out[21 - 2 * k];
    row2[k + 1] = out[20 - 2 * k];
  }
  Word16 lower[96], higher[96];
  g722_qmf_tx(out + 22, lower, higher, row1, row2, 68);
  Word16 tail[56] = {};
  tail[0] = out[158];
  tail[1] = out[159];
  std::memcpy(tail + 2, qdb, 50 * sizeof(Word16));
  g722_qmf_tx(tail, lower + 68, higher + 68, row1, row2, 28);

  g722_hsbupd(plc, ds, higher, 66);
  g722_lsbupd(plc, ds, lower, 66);
  g722_CopyG722DecoderMem(&plc->ds, ds);
  g722_CopyPlcInfo(plc);
  g722_hsbupd(plc, ds, higher + 66, 14);
  g722_lsbupd(plc, ds, lower + 66, 14);
  std::memcpy(plc->lb, lower + 55, sizeof(plc->lb));
  std::memcpy(plc->hb, higher + 55, sizeof(plc->hb));
}

// First good frame after a loss: lag search, re-phasing of the decoder state and restart of the
// scale factors.
void g722_first_good_frame(g722_state *ds, G722_APXIII_WB_PLC_State *plc, const Word16 *codes) {
  Word16 dbuf[6 + G722_FRAME_CODES];
  for (int i = 0; i < 6; ++i) dbuf[i] = static_cast<Word16>(ds->dlt[6 - i] >> 1);
  g722_dltdec(codes, ds->detl, ds->nbl, dbuf + 6);
  Word16 estimate[G722_FRAME_CODES];
  g722_filtdlt(dbuf + 6, ds, estimate);
  plc->lag = 0;
  if (g722_testrpc(plc->merit, estimate) != 0 && plc->ptfe > 0) {
    const Word16 lag = g722_ppchange(plc->xq, plc->pp, estimate);
    plc->lag = lag == -100 ? 0 : lag;
  }
  const Word16 lag = plc->lag;
  if (lag > 0) {
    g722_RestorePlcInfo(plc);
    g722_CopyG722DecoderMem(ds, &plc->ds);
    const Word16 n = static_cast<Word16>((28 - lag) / 2);
    g722_hsbupd(plc, ds, plc->hb + 11, n);
    g722_lsbupd(plc, ds, plc->lb + 11, n);
  } else if (lag < 0) {
    const Word16 n = static_cast<Word16>(-(lag / 2));
    g722_hsbupd(plc, ds, plc->hb + 25, n);
    g722_lsbupd(plc, ds, plc->lb + 25, n);
  }
  const int j0 = (50 - lag) / 2 - 1;
  for (int k = 0; k <= 10; ++k) {
    ds->qmf_rx_delayx[0][k + 1] = sub(plc->lb[j0 - k], plc->hb[j0 - k]);
    ds->qmf_rx_delayx[1][k + 1] = add(plc->lb[j0 - k], plc->hb[j0 - k]);
  }
  plc->pl_postn = plc->lb_reset = plc->ph_postn = plc->hb_reset = 0;
  ds->nbh = plc->nbph_mean;
  ds->deth = g722_ila[(plc->nbph_mean >> 6) & 511];
  if (plc->nbpl_chng <= 6553) {
    ds->nbl = plc->nbpl_mean2;
  } else if (plc->nbpl_chng <= 9830) {
    // Cross-fade from the tracked mean (at 6554) to the current value (at 9830).
    const Word16 t = round16(L_sub(L_mult(ds->nbl, 20485), L_mult(plc->nbpl_mean2, 20485)));
    Word32 acc = L_sub(Word32{plc->nbpl_mean2} << 12, L_mult(t, 6554));
    acc = L_add(acc, L_mult(t, plc->nbpl_chng));
    ds->nbl = round16(L_shl(acc, 4));
  }
  ds->detl = g722_scalel(ds->nbl, &ds->inv_detl);
  plc->nbph_lp = plc->nbph_mean;
  plc->nbh_mode = plc->nbph_chng <= 818 ? 2 : (plc->nbph_chng <= 1310 ? 1 : 0);
}

}  // namespace

int G722DecWithPLC(const Word16 *chan, Word16 *output, g722_mode mode, int blocksize, g722_state *ds,
                   G722_APXIII_WB_PLC_State *plc, Word16 bfi) {
  Word16 save[32];
  g722_FrameSave_Neon(save);
  const int frames = blocksize > 0 ? blocksize / G722_FRAME_SAMPLES : 0;
  for (int f = 0; f < frames; ++f) {
    const Word16 *codes = chan + f * G722_FRAME_CODES;
    Word16 *out = output + f * G722_FRAME_SAMPLES;
    if (bfi != 0) {
      plc->hp_flag = 0;
      if (plc->cfecount == 0) g722_scale_memories(ds, true);
      Word16 qdb[50];
      g722_WB_PLC_erasure(plc, out, qdb);
      g722_reencode_concealment(ds, plc, out, qdb);
    } else {
      if (plc->ngfae == 0) g722_first_good_frame(ds, plc, codes);
      plc->hp_flag = plc->ngfae <= 3 ? 1 : 0;
      // 56 and 48 kbit/s streams carry 5 or 4 bits of lower band in the same codeword layout.
      g722_decode(codes, out, mode, G722_FRAME_CODES, ds, plc);
      if (plc->cfecount != 0) g722_scale_memories(ds, false);
      g722_WB_PLC(plc, out, out);
    }
  }
  // Only whole frames are decoded; the rest of the output must not be left unwritten.
  if (blocksize > frames * G722_FRAME_SAMPLES) {
    g722_W16zero(output + frames * G722_FRAME_SAMPLES, blocksize - frames * G722_FRAME_SAMPLES);
  }
  g722_FrameRestore_Neon(save);
  return blocksize;
}

int g722_dec(const Word16 *code, Word16 *out, int mode, int n, g722_state *decoder,
             G722_APXIII_WB_PLC_State *plc, Word16 bfi) {
  return G722DecWithPLC(code, out, static_cast<g722_mode>(mode), 2 * n, decoder, plc, bfi);
}

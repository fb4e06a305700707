// G.722 signal path: QMF analysis and synthesis, lower-band (6-bit) and higher-band (2-bit) ADPCM
// with backward-adaptive predictors, and the decoder's tracking hooks for the concealment.
#include <algorithm>
#include <cstring>

#include "g722_basop.h"
#include "g722_internal.h"
#include "g722_steps.h"
#include "g722_tables.h"
#include "g722_zero_vec.h"

using namespace g722;

namespace {

// Clamps to [-16384, 16383] by saturating doubling and a shift back.
inline Word16 g722_limit(Word16 x) { return static_cast<Word16>(add(x, x) >> 1); }

inline Word16 g722_magnitude(Word16 e) {
  return e >= 0 ? e : static_cast<Word16>(std::min(32767 - (e & 32767), 32767));
}

// Lower-band adaptation shared by encoder and decoders: inverse quantisation of the 4-bit code,
// scale factor update.
inline Word16 g722_lsb_adapt_scale(g722_state *s, Word16 il) {
  const Word16 dlt = saturate((Word32{s->detl} * g722_deQl[il >> 2]) >> 15);
  s->nbl = g722_logscl(il, s->nbl);
  s->detl = g722_scalel(s->nbl, &s->inv_detl);
  return dlt;
}

// Predictor update of one band in the normal scale.
[[gnu::always_inline]] inline Word16 g722_band_predict(Word16 *d, Word16 *b, Word16 *a, Word16 *p,
                                                       Word16 *r, Word16 *sz, Word16 safetythres) {
  *sz = upzero_step(d, b);
  uppol2_step(a, p);
  uppol1_step(a, p, safetythres);
  const Word16 sp = filtep_step(r, a);
  return add(sp, *sz);
}

// The same with the zero predictor held in a ZeroVec; d0 is the new difference.
[[gnu::always_inline]] inline Word16 g722_band_predict(ZeroVec &z, Word16 d0, Word16 *a, Word16 *p,
                                                       Word16 *r, Word16 *sz, Word16 safetythres) {
  *sz = zero_vec_step(z, d0);
  uppol2_step(a, p);
  uppol1_step(a, p, safetythres);
  const Word16 sp = filtep_step(r, a);
  return add(sp, *sz);
}

// round16 of a 32-bit sum of terms that are each within the 32-bit range: the sum is taken
// exactly in 64 bits with the saturation of each partial sum where it could bite.
[[gnu::always_inline]] inline void g722_track_lower(Dec_Temp_State *t, Word16 al1, Word16 al2,
                                                    Word16 nbl) {
  Word32 acc = L_mult(t->psml_mean, 30720);
  acc = L_sub(acc, Word32{abs_s(al1)} << 12);
  acc = L_add(acc, Word32{1} << 26);
  acc = L_sub(acc, Word32{al2} << 12);
  t->psml_mean = round16(acc);

  const Word16 old1 = t->nbpl_mean1;
  t->nbpl_mean1 = round16(L_add(L_mult(old1, 28672), L_mult(nbl, 4096)));
  t->nbpl_trck = round16(L_add(L_shl(L_mult(abs_s(sub(t->nbpl_mean1, old1)), 256), 8),
                               L_mult(t->nbpl_trck, 32512)));
  const Word16 trk = abs_s(t->nbpl_trck);
  const int pair = trk <= 3276 ? 0 : (trk <= 6553 ? 1 : 2);
  const Word16 old2 = t->nbpl_mean2;
  if (trk > 9829) {
    t->nbpl_mean2 = t->nbpl_mean1;
  } else {
    t->nbpl_mean2 = round16(L_add(L_mult(g722_nbpltab[2 * pair], old2),
                                  L_mult(g722_nbpltab[2 * pair + 1], t->nbpl_mean1)));
  }
  t->nbpl_chng = round16(L_add(L_shl(L_mult(abs_s(sub(t->nbpl_mean2, old2)), 256), 8),
                               L_mult(t->nbpl_chng, 32512)));
}

[[gnu::always_inline]] inline void g722_track_higher(Dec_Temp_State *t, Word16 nbh) {
  const Word16 old = t->nbph_mean;
  t->nbph_trck = round16(L_add(L_mult(t->nbph_trck, 31785), L_mult(sub(old, nbh), 983)));
  const Word16 trk = abs_s(t->nbph_trck);
  const int pair = trk <= 1637 ? 0 : trk <= 3276 ? 1 : trk <= 4914 ? 2 : 3;
  t->nbph_mean = round16(L_add(L_mult(g722_nbphtab[2 * pair], old),
                               L_mult(g722_nbphtab[2 * pair + 1], nbh)));
  t->nbph_chng = round16(L_add(L_shl(L_mult(abs_s(sub(t->nbph_mean, old)), 256), 8),
                               L_mult(t->nbph_chng, 32512)));
}

// Inverse quantiser tables of the decoder by mode: 6, 5 or 4 bits of the lower-band code.
struct g722_lsb_dequant_tables {
  const Word16 *oq, *ril, *risi;
  int drop;  // low bits of the 6-bit code the mode ignores
};

g722_lsb_dequant_tables g722_lsb_dequant_for(Word16 mode) {
  if (mode == 0 || mode == 1) return {g722_oq6, g722_ril6, g722_risi6, 0};
  if (mode == 2) return {g722_oq5, g722_ril5, g722_risi5, 1};
  return {g722_oq4, g722_ril4, g722_risi4, 2};
}

[[gnu::always_inline]] inline Word16 g722_lsb_dequant(Word16 ilr, const g722_lsb_dequant_tables &q) {
  const int index = ilr >> q.drop;
  const Word16 mag = saturate(Word32{q.oq[q.ril[index]]} * 8);
  return q.risi[index] == -1 ? negate(mag) : mag;
}

// The signed inverse-quantiser output of every 6-bit code for each mode, built once from the
// tables above so that the sample loop makes one lookup.
const Word16 *g722_lsb_dequant_table(Word16 mode) {
  struct Tables {
    Word16 value[3][64];
    Tables() {
      for (int m = 0; m < 3; ++m) {
        const g722_lsb_dequant_tables q = g722_lsb_dequant_for(static_cast<Word16>(m + 1));
        for (int ilr = 0; ilr < 64; ++ilr) value[m][ilr] = g722_lsb_dequant(static_cast<Word16>(ilr), q);
      }
    }
  };
  static const Tables tables;
  const int m = (mode == 0 || mode == 1) ? 0 : (mode == 2 ? 1 : 2);
  return tables.value[m];
}

[[gnu::always_inline]] inline Word16 g722_dc_removal_step(Word16 x_in, Word16 *m1, Word16 *hp_m1) {
  const Word16 x = saturate(Word32{x_in} * 16);
  const Word16 y = round16(L_add(L_sub(L_mult(*hp_m1, 31785), L_mult(*m1, 31785)), L_mult(x, 31785)));
  *m1 = x;
  *hp_m1 = y;
  return y;
}

// The band decoders run on local copies of the records: the output buffer then cannot alias the
// predictor state, which stays in registers across the sample loop.
template <bool kDoubled>
void g722_lsbdec(Word16 *tmp, const Word16 *code, Word16 mode, g722_state *s, Word16 safetythres,
                 Dec_Temp_State *t, Word16 len) {
  const Word16 *dequant = g722_lsb_dequant_table(mode);
  g722_state st = *s;
  Dec_Temp_State tt = *t;
  ZeroVec zero = zero_vec_load(st.dlt, st.bl);
  for (int n = 0; n < len; ++n) {
    const Word16 ilr = static_cast<Word16>(code[n] & 63);
    const Word16 dl = mult(st.detl, dequant[ilr]);
    tmp[n] = g722_limit(add(st.sl, dl));

    const Word16 dlt = saturate((Word32{st.detl} * g722_deQl[ilr >> 2]) >> 15);
    st.nbl = clamp_rare<Word16>(add(mult(st.nbl, 32512), g722_LogScl[ilr >> 2]), 0, 18432);
    st.detl = g722_ila[((st.nbl >> 6) & 511) + 64];
    st.plt[0] = add(dlt, st.szl);
    if (kDoubled) {
      st.rlt[0] = saturate(2 * Word32{add(st.sl, dlt)});
      st.dlt[0] = saturate(2 * Word32{dlt});
      st.sl = g722_plc_adaptive_prediction(st.dlt, st.bl, st.al, st.plt, safetythres, st.rlt, &st.szl);
    } else {
      st.rlt[0] = add(st.sl, dlt);
      st.dlt[0] = dlt;
      st.sl = g722_band_predict(zero, dlt, st.al, st.plt, st.rlt, &st.szl, safetythres);
    }
    g722_track_lower(&tt, st.al[1], st.al[2], st.nbl);
  }
  if (len > 0) {
    st.inv_detl = g722_inv_ila[((st.nbl >> 6) & 511) + 64];
    if (!kDoubled) {
      st.spl = sub(st.sl, st.szl);
      zero_vec_store(zero, st.dlt, st.bl);
    }
  }
  *s = st;
  *t = tt;
}

template <bool kDoubled, class Filter>
void g722_hsbdec(Word16 *tmp, const Word16 *code, g722_state *s, G722_APXIII_WB_PLC_State *plc,
                 Filter filter, Word16 removal_mode, Word16 inv_int, Word16 inv_frc,
                 Dec_Temp_State *t, Word16 len) {
  g722_state st = *s;
  Dec_Temp_State tt = *t;
  Word16 ph_m1 = plc->ph_m1, phhp_m1 = plc->phhp_m1, rh_m1 = plc->rh_m1, rhhp_m1 = plc->rhhp_m1;
  Word16 nbph_lp = plc->nbph_lp;
  const Word16 ngfae = plc->ngfae;
  ZeroVec zero = zero_vec_load(st.dh, st.bh);
  for (int n = 0; n < len; ++n) {
    const Word16 ih = static_cast<Word16>((code[n] >> 6) & 3);
    const Word16 dh = saturate((Word32{g722_deQh[ih]} * st.deth) >> 15);
    st.nbh = clamp_rare<Word16>(add(mult(st.nbh, 32512), g722_loghTab[ih]), 0, 22528);
    const Word16 nb = filter(inv_int, inv_frc, st.nbh, static_cast<Word16>(n), ngfae, &nbph_lp);
    st.deth = g722_ila[(nb >> 6) & 511];

    Word16 ph = add(dh, st.szh);
    Word16 rh = add(st.sh, dh);
    const Word16 ph_hp = g722_dc_removal_step(ph, &ph_m1, &phhp_m1);
    const Word16 rh_hp = g722_dc_removal_step(rh, &rh_m1, &rhhp_m1);
    if (removal_mode != 0) {
      ph = static_cast<Word16>(add(ph_hp, 8) >> 4);
      rh = static_cast<Word16>(add(rh_hp, 8) >> 4);
    }
    st.ph[0] = ph;
    if (kDoubled) {
      st.rh[0] = saturate(2 * Word32{rh});
      st.dh[0] = saturate(2 * Word32{dh});
      st.sh = g722_plc_adaptive_prediction(st.dh, st.bh, st.ah, st.ph, 15360, st.rh, &st.szh);
    } else {
      st.rh[0] = rh;
      st.dh[0] = dh;
      st.sh = g722_band_predict(zero, dh, st.ah, st.ph, st.rh, &st.szh, 15360);
    }
    tmp[n] = g722_limit(rh);
    g722_track_higher(&tt, st.nbh);
  }
  if (!kDoubled && len > 0) {
    st.sph = sub(st.sh, st.szh);
    zero_vec_store(zero, st.dh, st.bh);
  }
  *s = st;
  *t = tt;
  plc->ph_m1 = ph_m1;
  plc->phhp_m1 = phhp_m1;
  plc->rh_m1 = rh_m1;
  plc->rhhp_m1 = rhhp_m1;
  plc->nbph_lp = nbph_lp;
}

// The two filters of the decoder are called directly so that they inline; any other through
// its pointer.
template <bool kDoubled>
void g722_hsbdec_dispatch(Word16 *tmp, const Word16 *code, g722_state *s, G722_APXIII_WB_PLC_State *plc,
                          g722_nbph_filter filter, Word16 removal_mode, Word16 inv_int, Word16 inv_frc,
                          Dec_Temp_State *t, Word16 len) {
  if (filter == g722_NBPHnofilter) {
    auto none = [](Word16, Word16, Word16 nbph, Word16, Word16, Word16 *) { return nbph; };
    g722_hsbdec<kDoubled>(tmp, code, s, plc, none, removal_mode, inv_int, inv_frc, t, len);
  } else if (filter == g722_NBPHlpfilter) {
    auto lp = [](Word16 i, Word16 f, Word16 nbph, Word16 n, Word16 g, Word16 *lp_m1) {
      return g722_NBPHlpfilter(i, f, nbph, n, g, lp_m1);
    };
    g722_hsbdec<kDoubled>(tmp, code, s, plc, lp, removal_mode, inv_int, inv_frc, t, len);
  } else {
    g722_hsbdec<kDoubled>(tmp, code, s, plc, filter, removal_mode, inv_int, inv_frc, t, len);
  }
}

}  // namespace

void g722_lsb_reset(g722_state *s) {
  std::memset(s->al, 0, sizeof(s->al));
  std::memset(s->bl, 0, sizeof(s->bl));
  std::memset(s->dlt, 0, sizeof(s->dlt));
  s->nbl = 0;
  std::memset(s->plt, 0, sizeof(s->plt));
  std::memset(s->rlt, 0, sizeof(s->rlt));
  s->sl = s->spl = s->szl = 0;
  s->detl = 32;
  s->inv_detl = 33554432;
}

void g722_hsb_reset(g722_state *s) {
  std::memset(s->ah, 0, sizeof(s->ah));
  std::memset(s->bh, 0, sizeof(s->bh));
  std::memset(s->dh, 0, sizeof(s->dh));
  std::memset(s->ph, 0, sizeof(s->ph));
  std::memset(s->rh, 0, sizeof(s->rh));
  s->nbh = s->sh = s->sph = s->szh = 0;
  s->deth = 8;
}

void g722_reset_hsbdec(g722_state *s, G722_APXIII_WB_PLC_State *plc) {
  g722_hsb_reset(s);
  plc->phhp_m1 = plc->ph_m1 = plc->rhhp_m1 = plc->rh_m1 = 0;
  plc->nbph_mean = plc->nbph_trck = plc->nbph_chng = 0;
  plc->nbh_mode = 0;
  plc->hb_reset = 1;
}

void g722_reset_encoder(g722_state *encoder) {
  std::memset(encoder->qmf_tx_delayx, 0, sizeof(encoder->qmf_tx_delayx));
  g722_lsb_reset(encoder);
  g722_hsb_reset(encoder);
}

void g722_reset_state(g722_state *state) { g722_reset_encoder(state); }

void g722_reset_decoder(g722_state *decoder) {
  std::memset(decoder->qmf_rx_delayx, 0, sizeof(decoder->qmf_rx_delayx));
  g722_lsb_reset(decoder);
  g722_hsb_reset(decoder);
}

void g722_qmf_tx(const Word16 *xin, Word16 *xl, Word16 *xh, Word16 *delayx1_in, Word16 *delayx2_in,
                 Word16 len) {
  Word32 scratch[G722_FRAME_CODES];
  for (int done = 0; done < len; done += G722_FRAME_CODES) {
    const Word16 n = static_cast<Word16>(std::min(len - done, G722_FRAME_CODES));
    g722_qmf_tx_part1(xl + done, xh + done, xin + 2 * done, delayx1_in, g722_coef_qmf2, n, scratch);
    g722_qmf_tx_part2(xl + done, xh + done, xin + 2 * done, delayx2_in, g722_coef_qmf2 + 12, n, scratch);
  }
}

void g722_qmf_rx(const Word16 *rl, const Word16 *rh, Word16 *xout1, Word16 *delayx1_in,
                 Word16 *delayx2_in, Word16 len) {
  g722_qmf_rx_both(rl, rh, xout1, delayx1_in, delayx2_in, g722_coef_qmf2, len);
}

Word16 g722_logscl(Word16 il, Word16 nbl) {
  const Word16 v = add(mult(nbl, 32512), g722_LogScl[il >> 2]);
  return clamp_rare<Word16>(v, 0, 18432);
}

Word16 g722_logsch(Word16 ih, Word16 nbh) {
  const Word16 v = add(mult(nbh, 32512), g722_loghTab[ih]);
  return clamp_rare<Word16>(v, 0, 22528);
}

Word16 g722_scalel(Word16 nbpl, Word32 *Inv_deltal) {
  const int index = ((nbpl >> 6) & 511) + 64;
  *Inv_deltal = g722_inv_ila[index];
  return g722_ila[index];
}

void g722_uppol2(Word16 *al, const Word16 *plt) { uppol2_step(al, plt); }

void g722_uppol1(Word16 *al, Word16 *plt, Word16 safetythres) { uppol1_step(al, plt, safetythres); }

Word16 g722_filtep(Word16 *rlt, const Word16 *al) { return filtep_step(rlt, al); }

Word16 g722_plc_adaptive_prediction(Word16 *d, Word16 *b, Word16 *a, Word16 *p,
                                    Word16 safetythres, Word16 *r, Word16 *sz) {
  const Word16 zero = g722_plc_adaptpred_zero_part(d, b, static_cast<Word16>(d[0] != 0 ? 128 : 0));
  uppol2_step(a, p);
  uppol1_step(a, p, safetythres);
  r[2] = r[1];
  r[1] = r[0];
  *sz = zero;
  return add(zero, add(mult(a[1], r[1]), mult(a[2], r[2])));
}

Word16 g722_NBPHlpfilter(Word16 inv_frames_int, Word16 inv_frames_frc, Word16 nbph, Word16 sample,
                         Word16 ngfae, Word16 *nbph_lp) {
  const Word16 t = add(g722_ngfaeoffset_p1[ngfae], sample);
  const Word16 p = round16(L_add(L_shl(L_mult(t, inv_frames_int), 15), L_mult(t, inv_frames_frc)));
  const Word16 w = round16(L_mult(p, p));
  *nbph_lp = round16(L_sub(L_mult(w, nbph), L_mult(static_cast<Word16>(w - 32768), *nbph_lp)));
  return *nbph_lp;
}

Word16 g722_NBPHnofilter(Word16, Word16, Word16 nbph, Word16, Word16, Word16 *) { return nbph; }

Word16 g722_dc_removal(Word16 x_in, Word16 *m1, Word16 *hp_m1) {
  const Word16 x = saturate(Word32{x_in} * 16);
  const Word16 y = round16(L_add(L_sub(L_mult(*hp_m1, 31785), L_mult(*m1, 31785)), L_mult(x, 31785)));
  *m1 = x;
  *hp_m1 = y;
  return y;
}

Word16 g722_quantl_mil(Word16 wd, Word16 detl, Word32 inv_detl) {
  // Only the levels around the pre-quantised interval k ~ 64 wd / detl are compared.
  const std::int64_t prod = static_cast<std::int64_t>(inv_detl) * wd;
  const int k = static_cast<int>(std::min<std::int64_t>(prod >> 24, 63));
  const int start = g722_preQStart[k];
  const int stop = std::min(g722_preQStart[k + 1] + 2, 30);
  int mil = start;
  for (int i = start; i < stop; ++i) {
    if (((Word32{g722_q6[i]} * detl) >> 15) <= wd) ++mil;
  }
  return static_cast<Word16>(mil);
}

void g722_lsbcod_frame(Word16 *xl, g722_state *s, Word16 len) {
  g722_state st = *s;
  ZeroVec zero = zero_vec_load(st.dlt, st.bl);
  for (int n = 0; n < len; ++n) {
    const Word16 el = sub(xl[n], st.sl);
    const Word16 mil = g722_quantl_mil(g722_magnitude(el), st.detl, st.inv_detl);
    const Word16 il = g722_misil[el >= 0 ? mil + 32 : mil];

    const Word16 dlt = g722_lsb_adapt_scale(&st, il);
    st.plt[0] = add(dlt, st.szl);
    st.rlt[0] = add(st.sl, dlt);
    st.dlt[0] = dlt;
    st.sl = g722_band_predict(zero, dlt, st.al, st.plt, st.rlt, &st.szl, 15360);
    st.spl = sub(st.sl, st.szl);
    xl[n] = il;
  }
  zero_vec_store(zero, st.dlt, st.bl);
  *s = st;
}

void g722_hsbcod_frame(Word16 *xh, g722_state *s, Word16 len) {
  g722_state st = *s;
  ZeroVec zero = zero_vec_load(st.dh, st.bh);
  for (int n = 0; n < len; ++n) {
    const Word16 eh = sub(xh[n], st.sh);
    const Word16 wd = g722_magnitude(eh);
    const int mih = wd < ((Word32{4512} * st.deth) >> 15) ? 1 : 2;
    const Word16 ih = g722_misih[eh >= 0 ? mih + 3 : mih];
    const Word16 dh = saturate((Word32{g722_deQh[ih]} * st.deth) >> 15);
    st.nbh = g722_logsch(ih, st.nbh);
    st.deth = g722_ila[(st.nbh >> 6) & 511];
    st.rh[0] = add(st.sh, dh);
    st.ph[0] = add(dh, st.szh);
    st.dh[0] = dh;
    st.sh = g722_band_predict(zero, dh, st.ah, st.ph, st.rh, &st.szh, 15360);
    st.sph = sub(st.sh, st.szh);
    xh[n] = ih;
  }
  zero_vec_store(zero, st.dh, st.bh);
  *s = st;
}

void g722_lsbdec_frame(Word16 *tmp, const Word16 *code, Word16 mode, g722_state *s,
                       Word16 safetythres, Dec_Temp_State *dec_temp, Word16 len) {
  g722_lsbdec<false>(tmp, code, mode, s, safetythres, dec_temp, len);
}

void g722_plc_lsbdec_frame(Word16 *tmp, const Word16 *code, Word16 mode, g722_state *s,
                           Word16 safetythres, Dec_Temp_State *dec_temp, Word16 len) {
  g722_lsbdec<true>(tmp, code, mode, s, safetythres, dec_temp, len);
}

void g722_hsbdec_frame(Word16 *tmp, const Word16 *code, g722_state *s,
                       G722_APXIII_WB_PLC_State *plc, g722_nbph_filter g722_pNBPHlpfilter,
                       Word16 removal_mode, Word16 inv_frame_int, Word16 inv_frame_frc,
                       Dec_Temp_State *dec_temp, Word16 len) {
  g722_hsbdec_dispatch<false>(tmp, code, s, plc, g722_pNBPHlpfilter, removal_mode, inv_frame_int, inv_frame_frc,
                     dec_temp, len);
}

void g722_plc_hsbdec_frame(Word16 *tmp, const Word16 *code, g722_state *s,
                           G722_APXIII_WB_PLC_State *plc, g722_nbph_filter g722_pNBPHlpfilter,
                           Word16 removal_mode, Word16 inv_frame_int, Word16 inv_frame_frc,
                           Dec_Temp_State *dec_temp, Word16 len) {
  g722_hsbdec_dispatch<true>(tmp, code, s, plc, g722_pNBPHlpfilter, removal_mode, inv_frame_int, inv_frame_frc,
                    dec_temp, len);
}

int g722_encode(const Word16 *incode, Word16 *code, Word16 read1, g722_state *encoder) {
  Word16 save[32];
  g722_FrameSave_Neon(save);
  const int pairs = read1 > 0 ? read1 / 2 : 0;
  Word16 xl[G722_FRAME_CODES], xh[G722_FRAME_CODES];
  for (int done = 0; done < pairs; done += G722_FRAME_CODES) {
    const Word16 n = static_cast<Word16>(std::min(pairs - done, G722_FRAME_CODES));
    g722_qmf_tx(incode + 2 * done, xl, xh, encoder->qmf_tx_delayx[0], encoder->qmf_tx_delayx[1], n);
    g722_lsbcod_frame(xl, encoder, n);
    g722_hsbcod_frame(xh, encoder, n);
    for (int i = 0; i < n; ++i) code[done + i] = static_cast<Word16>(((xh[i] << 6) + xl[i]) & 0xFF);
  }
  g722_FrameRestore_Neon(save);
  return pairs;
}

int g722plc_encode(const Word16 *in, Word16 *code, int n, g722_state *encoder) {
  return g722_encode(in, code, static_cast<Word16>(std::clamp(n, 0, 32767)), encoder);
}

int g722_enc(const Word16 *in, Word16 *code, int n, g722_state *encoder) {
  return g722plc_encode(in, code, n, encoder);
}

int g722_decode(const Word16 *code, Word16 *outcode, int mode, Word16 read1, g722_state *decoder,
                G722_APXIII_WB_PLC_State *plc) {
  Dec_Temp_State t = {plc->psml_mean, plc->nbpl_mean1, plc->nbpl_trck, plc->nbpl_mean2,
                      plc->nbpl_chng, plc->nbph_mean, plc->nbph_trck, plc->nbph_chng};
  const Word16 ngfae = plc->ngfae;
  g722_nbph_filter filter = g722_NBPHnofilter;
  Word16 inv_int = 0, inv_frc = 0;
  const bool ramp4 = plc->nbh_mode == 1 && ngfae <= 3;
  const bool ramp8 = plc->nbh_mode == 2 && ngfae <= 7;
  if (ramp4) {
    filter = g722_NBPHlpfilter;
    inv_int = 102;
    inv_frc = 2654;
  } else if (ramp8) {
    filter = g722_NBPHlpfilter;
    inv_int = 51;
    inv_frc = 3936;
  }
  const Word16 margin = std::min<Word16>(plc->psml_mean, 3072);
  const Word16 m = ngfae < 3 ? margin : (ngfae == 3 ? static_cast<Word16>((margin + 1024) / 2) : 1024);
  const Word16 safetythres = sub(16384, m);

  Word16 rl[G722_FRAME_CODES], rh[G722_FRAME_CODES];
  const int total = read1 > 0 ? read1 : 0;
  for (int done = 0; done < total; done += G722_FRAME_CODES) {
    const Word16 n = static_cast<Word16>(std::min(total - done, G722_FRAME_CODES));
    if (ngfae == 0) {
      g722_plc_lsbdec_frame(rl, code + done, static_cast<Word16>(mode), decoder, safetythres, &t, n);
      g722_plc_hsbdec_frame(rh, code + done, decoder, plc, filter, plc->hp_flag, inv_int, inv_frc, &t, n);
    } else {
      g722_lsbdec_frame(rl, code + done, static_cast<Word16>(mode), decoder, safetythres, &t, n);
      g722_hsbdec_frame(rh, code + done, decoder, plc, filter, plc->hp_flag, inv_int, inv_frc, &t, n);
    }
    g722_qmf_rx(rl, rh, outcode + 2 * done, decoder->qmf_rx_delayx[0], decoder->qmf_rx_delayx[1], n);
  }
  plc->psml_mean = t.psml_mean;
  plc->nbpl_mean1 = t.nbpl_mean1;
  plc->nbpl_trck = t.nbpl_trck;
  plc->nbpl_mean2 = t.nbpl_mean2;
  plc->nbpl_chng = t.nbpl_chng;
  plc->nbph_mean = t.nbph_mean;
  plc->nbph_trck = t.nbph_trck;
  plc->nbph_chng = t.nbph_chng;
  return saturate(2 * Word32{read1});
}

// G.723.1 encoder analysis: input high-pass filter, LPC analysis, LSP conversion and
// quantisation, perceptual weighting, open-loop pitch and harmonic noise weighting, and the
// cascaded synthesis/weighting filters of the impulse response and the ringing memories.
#include <algorithm>
#include <cstring>

#include "g7231_encoder.h"
#include "g7231_kernels.h"
#include "g7231_search_kernels.h"
#include "g7231_tables.h"

void g723_1_Rem_Dc(Word16* x, G7231_Coder_State* st) {
  if (st->UseHp) {
    g723_1_HPF(x, &st->CodStat.HpfPdl, &st->CodStat.HpfZdl);
    return;
  }
  for (int i = 0; i < G723_Frame; ++i) x[i] = static_cast<Word16>(x[i] >> 1);
}

Word16 g723_1_Durbin(Word16* Lpc, const Word16* Corr, Word16 Err, Word16* Pk2) {
  Word16 temp[G723_LpcOrder];
  for (int i = 0; i < G723_LpcOrder; ++i) Lpc[i] = 0;
  *Pk2 = 32767;
  for (int i = 0; i < G723_LpcOrder; ++i) {
    Word32 acc = g723_1_L_shr(g723_1_L_deposit_h(Corr[i]), 2);
    for (int j = 0; j < i; ++j) acc = g723_1_L_msu(acc, Lpc[j], Corr[i - j - 1]);
    acc = g723_1_L_shl(acc, 2);
    const Word32 mag = g723_1_L_abs(acc);
    if (mag >= g723_1_L_deposit_h(Err)) {  // unstable: keep the last complete step
      *Pk2 = 32767;
      break;
    }
    Word16 pk = g723_1_div_l(mag, Err);
    if (acc < 0) pk = g723_1_negate(pk);
    if (i == 1) *Pk2 = pk;
    Err = g723_1_round(g723_1_L_msu(g723_1_L_deposit_h(Err), Err, g723_1_mult_r(pk, pk)));
    Lpc[i] = g723_1_shr(pk, 2);
    for (int j = 0; j < i; ++j) temp[j] = Lpc[j];
    for (int j = 0; j < i; ++j)
      Lpc[j] = g723_1_round(g723_1_L_msu(g723_1_L_deposit_h(Lpc[j]), pk, temp[i - j - 1]));
  }
  return Err;
}

// Shifts R1..R10 by the energy's normalisation, applies the binomial lag window and rounds.
void g723_1_LagWindow(Word16* out, const Word32* r, Word16 n) {
  for (int i = 0; i < G723_LpcOrder; ++i)
    out[i] = g723_1_round(g723_1_L_mls(g723_1_L_shl(r[i], n), g723_1_BinomialWindowTable[i]));
}

void g723_1_Comp_Lpc(Word16* UnqLpc, const Word16* buf360, G7231_Coder_State* st) {
  G7231_CODSTATDEF& cs = st->CodStat;
  Word16 peaks[6];
  peaks[0] = cs.Max_abs_sf[0];
  peaks[1] = cs.Max_abs_sf[1];
  for (int b = 2; b < 6; ++b) {
    Word16 m = 0;
    for (int i = 0; i < G723_SubFrLen; ++i) m = std::max(m, g723_1_abs_s(buf360[G723_SubFrLen * b + i]));
    peaks[b] = m;
  }
  cs.Max_abs_sf[0] = peaks[4];
  cs.Max_abs_sf[1] = peaks[5];

  Word16 acf[G723_SubFrames][11];
  int shacf[G723_SubFrames];
  for (int k = 0; k < G723_SubFrames; ++k) {
    const Word16 peak = std::max({peaks[k], peaks[k + 1], peaks[k + 2]});
    const Word16 s = static_cast<Word16>(g723_1_norm_s(peak) - 3);
    Word16 w[180 + 12];
    g723_1_Window(buf360 + G723_SubFrLen * k, w, s);
    Word32 r[11];
    g723_1_ACF(w, r);
    // The kernel sums undoubled products; the exponents below describe the doubled sums, whose
    // scale the comfort-noise gain relies on (without it the noise is 3 dB too quiet).
    for (auto& v : r) v = g723_1_L_add(v, v);
    Word32 r0 = g723_1_L_add(r[0], g723_1_L_shr(r[0], 10));  // white-noise correction
    const Word16 n = g723_1_norm_l(r0);
    acf[k][0] = g723_1_round(g723_1_L_shl(r0, n));
    if (acf[k][0] == 0) {
      for (int i = 1; i <= 10; ++i) acf[k][i] = 0;
      shacf[k] = 40;
    } else {
      g723_1_LagWindow(&acf[k][1], r + 1, n);
      shacf[k] = n + 2 * s;
    }
    Word16 pk2;
    g723_1_Durbin(UnqLpc + G723_LpcOrder * k, &acf[k][1], acf[k][0], &pk2);
    cs.SinDet = static_cast<Word16>(cs.SinDet << 1);
    if (pk2 > 31130) cs.SinDet = static_cast<Word16>(cs.SinDet + 1);
  }
  cs.SinDet = static_cast<Word16>(cs.SinDet & 0x7FFF);
  int bits = 0;
  for (int i = 0; i < 15; ++i) bits += (cs.SinDet >> i) & 1;
  if (bits > 13) cs.SinDet = static_cast<Word16>(cs.SinDet | 0x8000);
  g723_1_Update_Acf(&acf[0][0], shacf, &st->CodCng);
}

namespace {

Word32 poly_value(const Word16* coef, int point) {
  Word32 acc = 0;
  for (int j = 0; j <= 5; ++j) acc = g723_1_L_mac(acc, coef[2 * (5 - j)], g723_1_CosineTable[(point * j) % 512]);
  return acc;
}

}  // namespace

// Sum (even entries) and difference (odd entries) polynomials of the expanded LPC set, six
// coefficients each, normalised together and rounded to 16 bits.
void g723_1_AtoLsp_Loop1(const Word16* a, Word16* spq) {
  Word32 lpq[12];
  lpq[0] = lpq[1] = 0x2000000;
  for (int k = 0; k < 5; ++k) {
    const Word32 ak = g723_1_L_shr(g723_1_L_deposit_h(a[k]), 4);
    const Word32 am = g723_1_L_shr(g723_1_L_deposit_h(a[9 - k]), 4);
    lpq[2 * k + 2] = g723_1_L_sub(g723_1_L_sub(g723_1_L_negate(lpq[2 * k]), ak), am);
    lpq[2 * k + 3] = g723_1_L_add(g723_1_L_sub(lpq[2 * k + 1], ak), am);
  }
  lpq[10] = g723_1_L_shr(lpq[10], 1);
  lpq[11] = g723_1_L_shr(lpq[11], 1);
  const Word16 e = g723_1_norm_l(g723_1_Vec_Max_L_abs(lpq, 12));
  g723_1_Vec_L_shl_round(lpq, spq, e, 12);
}

// Root search on the grid of the cosine table, the two polynomials alternating; returns the
// number of roots found (at most 10).
int g723_1_AtoLsp_search(const Word16* spq, Word16* LspVect) {
  int found = 0;
  int poly = 0;
  int prev_point = 0;
  Word32 prev = poly_value(spq + poly, 0);
  for (int point = 2; point <= 254 && found < G723_LpcOrder; point += 2) {
    Word32 cur = poly_value(spq + poly, point);
    if ((cur ^ prev) >= 0) {
      prev = cur;
      prev_point = point;
      continue;
    }
    // Sign change within the last two points: the point between them picks the unit interval.
    int i0 = point - 1;
    const Word32 mid = poly_value(spq + poly, i0);
    Word32 v0, v1;
    if ((mid ^ prev) < 0) {
      i0 = prev_point;
      v0 = prev;
      v1 = mid;
    } else {
      v0 = mid;
      v1 = cur;
    }
    Word32 sum = g723_1_L_add(g723_1_L_abs(v0), g723_1_L_abs(v1));
    const Word16 n = g723_1_norm_l(sum);
    sum = g723_1_L_shl(sum, n);
    const Word32 num = g723_1_L_shr(g723_1_L_shl(g723_1_L_abs(v0), n), 8);
    LspVect[found++] = g723_1_add(g723_1_div_l(num, g723_1_extract_h(sum)), static_cast<Word16>(i0 << 7));
    poly ^= 1;
    prev_point = i0 + 1;
    prev = poly_value(spq + poly, prev_point);
    point = prev_point;  // continues at prev_point + 2
  }
  return found;
}

void g723_1_AtoLsp(Word16* LspVect, const Word16* Lpc, const Word16* PrevLsp) {
  Word16 a[G723_LpcOrder];
  for (int i = 0; i < G723_LpcOrder; ++i) a[i] = g723_1_mult_r(g723_1_BandExpTable[i], Lpc[i]);
  Word16 spq[12];
  g723_1_AtoLsp_Loop1(a, spq);
  if (g723_1_AtoLsp_search(spq, LspVect) < G723_LpcOrder)
    g723_1_Copy10(PrevLsp, LspVect);
}

// Split vector quantisation of the LSP residual: three bands, 8-bit index each.
Word32 g723_1_Lsp_Svq(const Word16* target, const Word16* w) {
  Word32 id = 0;
  for (int band = 0; band < 3; ++band) {
    const int start = g723_1_BandInfoTable[band][0];
    const Word16* book = g723_1_BandQntTable[band];
    const Word32 index = g723_1_BandInfoTable[band][1] == 4 ? g723_1_LSP_VQ4(target + start, w + start, book)
                                                            : g723_1_LSP_VQ3(target + start, w + start, book);
    id = (id << 8) + index;
  }
  return id;
}

Word32 g723_1_Lsp_Qnt(const Word16* CurrLsp, const Word16* PrevLsp) {
  Word16 w[G723_LpcOrder];
  w[0] = g723_1_sub(CurrLsp[1], CurrLsp[0]);
  w[9] = g723_1_sub(CurrLsp[9], CurrLsp[8]);
  for (int i = 1; i < 9; ++i) w[i] = std::min(g723_1_sub(CurrLsp[i + 1], CurrLsp[i]), g723_1_sub(CurrLsp[i], CurrLsp[i - 1]));
  Word16 peak = 0;
  for (auto& v : w) {
    v = v > 32 ? g723_1_div_s(32, v) : G723_MAX_16;
    peak = std::max(peak, v);
  }
  const Word16 e = g723_1_norm_s(peak);
  for (auto& v : w) v = g723_1_shl(v, e);

  Word16 target[G723_LpcOrder];
  for (int i = 0; i < G723_LpcOrder; ++i) {
    const Word16 cur = g723_1_sub(CurrLsp[i], g723_1_LspDcTable[i]);
    const Word16 prev = g723_1_sub(PrevLsp[i], g723_1_LspDcTable[i]);
    target[i] = g723_1_sub(cur, g723_1_mult_r(prev, 12288));
  }
  return g723_1_Lsp_Svq(target, w);
}

void g723_1_Wght_Lpc(Word16* PerLpc, const Word16* UnqLpc) {
  for (int i = 0; i < G723_SubFrames; ++i) {
    for (int j = 0; j < G723_LpcOrder; ++j) {
      PerLpc[j] = g723_1_round(g723_1_L_mult(UnqLpc[j], g723_1_PerFiltZeroTable[j]));
      PerLpc[G723_LpcOrder + j] = g723_1_round(g723_1_L_mult(UnqLpc[j], g723_1_PerFiltPoleTable[j]));
    }
    PerLpc += 2 * G723_LpcOrder;
    UnqLpc += G723_LpcOrder;
  }
}

void g723_1_Error_Wght(Word16* x, const Word16* PerLpc, G7231_CODSTATDEF* cs) {
  for (int k = 0; k < G723_SubFrames; ++k) {
    const Word16* zero = PerLpc + 2 * G723_LpcOrder * k;
    const Word16* pole = zero + G723_LpcOrder;
    for (int i = 0; i < G723_SubFrLen; ++i) {
      Word16& v = x[G723_SubFrLen * k + i];
      Word32 acc = g723_1_L_mult(v, 0x2000);
      for (int j = 0; j < G723_LpcOrder; ++j) acc = g723_1_L_msu(acc, zero[j], cs->WghtFirDl[j]);
      std::memmove(cs->WghtFirDl + 1, cs->WghtFirDl, 9 * sizeof(Word16));
      cs->WghtFirDl[0] = v;
      for (int j = 0; j < G723_LpcOrder; ++j) acc = g723_1_L_mac(acc, pole[j], cs->WghtIirDl[j]);
      std::memmove(cs->WghtIirDl + 1, cs->WghtIirDl, 9 * sizeof(Word16));
      cs->WghtIirDl[0] = g723_1_round(g723_1_L_shl(acc, 2));
      v = cs->WghtIirDl[0];
    }
  }
}

Word16 g723_1_Estim_Pitch(const Word16* Dpnt, int Start) {
  const Word32 E17 = g723_1_Vec_L_macs_SAT_at_end(Dpnt + Start - 17, Dpnt + Start - 17, 120);
  Word32 corr[146], energy[146];
  g723_1_Estim_Pitch_Loop(Dpnt, E17, corr, energy, Start, Start - 17);

  Word16 indx = 18;
  Word16 mxp = 30, mcr = 0x4000, mnr = 0x7FFF;
  for (int i = 18; i <= G723_PitchMax - 3; ++i) {
    Word32 acc = corr[i];
    if (acc <= 0) continue;
    // Criterion corr^2 / energy as a mantissa and an exponent (smaller exponent: larger value).
    Word16 exp = g723_1_norm_l(acc);
    acc = g723_1_L_shl(acc, exp);
    exp = g723_1_shl(exp, 1);
    Word16 ccr = g723_1_round(acc);
    acc = g723_1_L_mult(ccr, ccr);
    const Word16 sh = g723_1_norm_l(acc);
    acc = g723_1_L_shl(acc, sh);
    exp = g723_1_add(exp, sh);
    ccr = g723_1_extract_h(acc);
    Word32 en = energy[i];
    const Word16 ne = g723_1_norm_l(en);
    en = g723_1_L_shl(en, ne);
    exp = g723_1_sub(exp, ne);
    const Word16 enr = g723_1_round(en);
    if (ccr >= enr) {
      exp = g723_1_sub(exp, 1);
      ccr = g723_1_shr(ccr, 1);
    }
    if (exp > mxp) continue;
    if (exp + 1 < mxp) {
      indx = static_cast<Word16>(i);
      mxp = exp;
      mcr = ccr;
      mnr = enr;
      continue;
    }
    const Word16 tmp = exp + 1 == mxp ? g723_1_shr(mcr, 1) : mcr;
    acc = g723_1_L_msu(g723_1_L_mult(ccr, mnr), enr, tmp);
    if (acc <= 0) continue;
    if (i - indx < 18) {
      indx = static_cast<Word16>(i);
      mxp = exp;
      mcr = ccr;
      mnr = enr;
      continue;
    }
    // Far from the best lag: only when three quarters of the criterion still win.
    acc = g723_1_L_negate(g723_1_L_shr(g723_1_L_mult(ccr, mnr), 2));
    acc = g723_1_L_mac(acc, ccr, mnr);
    acc = g723_1_L_msu(acc, enr, tmp);
    if (acc > 0) {
      indx = static_cast<Word16>(i);
      mxp = exp;
      mcr = ccr;
      mnr = enr;
    }
  }
  return indx;
}

G723_PWDEF g723_1_Comp_Pw(const Word16* Dpnt, int Start, Word16 Olp) {
  Word32 lcr[15];
  lcr[0] = 0;
  for (int i = 0; i < G723_SubFrLen; ++i) lcr[0] = g723_1_L_mac(lcr[0], Dpnt[Start + i], Dpnt[Start + i]);
  for (int i = 0; i <= 6; ++i) {
    const Word16* past = Dpnt + Start - (Olp - 3 + i);
    Word32 c = 0, e = 0;
    for (int j = 0; j < G723_SubFrLen; ++j) {
      c = g723_1_L_mac(c, Dpnt[Start + j], past[j]);
      e = g723_1_L_mac(e, past[j], past[j]);
    }
    lcr[2 * i + 1] = e;
    lcr[2 * i + 2] = c;
  }
  Word32 peak = 0;
  for (Word32 v : lcr) peak = std::max(peak, g723_1_L_abs(v));
  const Word16 exp = g723_1_norm_l(peak);
  Word16 scr[15];
  for (int i = 0; i < 15; ++i) scr[i] = g723_1_round(g723_1_L_shl(lcr[i], exp));

  G723_PWDEF pw{-1, 0};
  Word16 mcr = 1, mnr = 0x7FFF;
  for (int i = 0; i <= 6; ++i) {
    const Word16 enr = scr[2 * i + 1];
    const Word16 ccr = scr[2 * i + 2];
    if (ccr <= 0) continue;
    const Word16 c2 = g723_1_mult_r(ccr, ccr);
    if (g723_1_L_msu(g723_1_L_mult(c2, mnr), enr, mcr) > 0) {
      mcr = c2;
      mnr = enr;
      pw.Indx = static_cast<Word16>(i);
    }
  }
  if (pw.Indx == -1) {
    pw.Indx = Olp;
    return pw;
  }
  // Harmonic weighting only where the lag predicts well: 0.375 * target * lag energy < corr^2.
  const Word32 a = g723_1_L_mult(scr[0], mnr);
  const Word32 limit = g723_1_L_add(g723_1_L_shr(a, 2), g723_1_L_shr(a, 3));
  const Word16 ccr = scr[2 * pw.Indx + 2];
  if (g723_1_L_sub(limit, g723_1_L_mult(ccr, ccr)) < 0)
    pw.Gain = ccr >= mnr ? Word16(10240) : g723_1_mult_r(g723_1_div_s(ccr, mnr), 10240);
  pw.Indx = static_cast<Word16>(Olp - 3 + pw.Indx);
  return pw;
}

void g723_1_Filt_Pw(Word16* out, const Word16* Dpnt, int Start, const G723_PWDEF& pw) {
  for (int i = 0; i < G723_SubFrLen; ++i) {
    Word32 acc = g723_1_L_deposit_h(Dpnt[G723_PitchMax + Start + i]);
    acc = g723_1_L_msu(acc, pw.Gain, Dpnt[G723_PitchMax + Start - pw.Indx + i]);
    out[Start + i] = g723_1_round(acc);
  }
}

void g723_1_Comp_Ir(Word16* ImpResp, const Word16* QntLpc, const Word16* PerLpc, const G723_PWDEF& pw) {
  Word16 s[G723_LpcOrder + G723_SubFrLen] = {};
  Word16 w[G723_LpcOrder + G723_SubFrLen] = {};
  g723_1_Cascade_Filter(g723_1_impulse, s, w, QntLpc, PerLpc, 1);
  const Word16* r = w + G723_LpcOrder;
  for (int n = 0; n < G723_SubFrLen; ++n) {
    if (n < pw.Indx) {
      ImpResp[n] = r[n];
    } else {
      ImpResp[n] = g723_1_round(g723_1_L_msu(g723_1_L_deposit_h(r[n]), pw.Gain, r[n - pw.Indx]));
    }
  }
}

void g723_1_Sub_Ring(Word16* target, const Word16* QntLpc, const Word16* PerLpc, const G723_PWDEF& pw,
                     const G7231_CODSTATDEF* cs) {
  const Word16 zero[G723_SubFrLen] = {};
  Word16 s[G723_LpcOrder + G723_SubFrLen];
  Word16 b[G723_PitchMax + G723_SubFrLen];
  for (int k = 0; k < G723_LpcOrder; ++k) s[G723_LpcOrder - 1 - k] = cs->RingFirDl[k];
  g723_1_CopyPM(cs->PrevErr, b);
  // The weighting filter's pole memory is the end of the error history.
  g723_1_Cascade_Filter(zero, s, b + G723_PitchMax - G723_LpcOrder, QntLpc, PerLpc, 0);
  g723_1_Sub_Ring_Loop(target, b, pw.Indx, pw.Gain);
}

void g723_1_Upd_Ring(const Word16* exc, const Word16* QntLpc, const Word16* PerLpc, G7231_CODSTATDEF* cs) {
  Word16 s[G723_LpcOrder + G723_SubFrLen];
  Word16 b[G723_PitchMax + G723_SubFrLen];
  for (int k = 0; k < G723_LpcOrder; ++k) s[G723_LpcOrder - 1 - k] = cs->RingFirDl[k];
  g723_1_CopyPM(cs->PrevErr, b);
  g723_1_Cascade_Filter(exc, s, b + G723_PitchMax - G723_LpcOrder, QntLpc, PerLpc, 0);
  g723_1_CopyPM(b + G723_SubFrLen, cs->PrevErr);
  for (int k = 0; k < G723_LpcOrder; ++k) cs->RingFirDl[k] = s[G723_LpcOrder + G723_SubFrLen - 1 - k];
}

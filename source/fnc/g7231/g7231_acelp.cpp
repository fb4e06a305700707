// G.723.1 algebraic codebook of the 5.3 kbit/s rate: four signed pulses on four interleaved
// tracks of eight positions (track t: 8i + 2t, plus one on the odd grid), with the fixed-gain
// pitch contribution folded into the impulse response.
#include <algorithm>
#include <cstring>

#include "g7231_acelp.h"
#include "g7231_encoder.h"
#include "g7231_kernels.h"
#include "g7231_tables.h"

namespace {

// Cross-multiplied comparison of two candidates sq / alp: true when (sq, alp) is strictly better.
bool acelp_better(Word16 sq, Word16 alp, Word16 best_sq, Word16 best_alp) {
  return Word32(sq) * best_alp - Word32(best_sq) * alp > 0;
}

// Same-track diagonals and cross-track blocks of the scaled response: element (i, j) of the
// block of tracks (t1, t2) is the correlation of hs at lag |q - p| over k = 0 .. 59 - max(p, q),
// p = 8i + 2 t1, q = 8j + 2 t2. The scaling keeps the energy of hs below 2^31, so no partial
// sum of doubled products can saturate (Cauchy-Schwarz): plain sums are exact.
void g723_1_Cor_h_loop(const Word16* hs, TrackCorr* rr) {
  auto corr = [&](int p, int q) {
    const int d = std::abs(q - p);
    Word32 acc = 0;
    for (int k = 0; k <= G723_SubFrLen - 1 - std::max(p, q); ++k) acc += Word32(hs[k]) * hs[k + d];
    return g723_1_extract_h(2 * acc);
  };
  for (int t = 0; t < G723_Tracks; ++t)
    for (int i = 0; i < G723_TrackPos; ++i) rr->diag[t][i] = corr(8 * i + 2 * t, 8 * i + 2 * t);
  for (int t1 = 0; t1 < G723_Tracks; ++t1)
    for (int t2 = t1 + 1; t2 < G723_Tracks; ++t2)
      for (int i = 0; i < G723_TrackPos; ++i)
        for (int j = 0; j < G723_TrackPos; ++j) rr->cross[t1][t2][i][j] = corr(8 * i + 2 * t1, 8 * j + 2 * t2);
}

void g723_1_Cor_h(const Word16* h, TrackCorr* rr) {
  Word32 energy = 0;
  for (int i = 0; i < G723_SubFrLen; ++i) energy = g723_1_L_mac(energy, h[i], h[i]);
  Word16 hs[G723_SubFrLen];
  if (g723_1_extract_h(energy) > 32000)
    g723_1_Vec_shl_SFL(h, hs, -1);
  else
    g723_1_Vec_shl_SFL(h, hs, g723_1_shr(g723_1_norm_l(energy), 1));
  g723_1_Cor_h_loop(hs, rr);
}

// Backward-filtered target over 64 positions (the last four are zero).
void g723_1_Cor_h_X(const Word16* h, const Word16* X, Word16* D) {
  Word16 x[G723_SubFrLen + 8];
  g723_1_Copy_SubFrLen(X, x);
  g723_1_Set_zero4(x + G723_SubFrLen, 8);
  Word32 y32[G723_SubFrLen];
  const Word32 peak = g723_1_Backward_Per_Filt2(x, h, y32);
  const Word16 shift = static_cast<Word16>(18 - std::min<int>(g723_1_norm_l(peak), 16));
  for (int i = 0; i < G723_SubFrLen; ++i) D[i] = g723_1_extract_l(g723_1_L_shr(y32[i], shift));
  for (int i = G723_SubFrLen; i < 64; ++i) D[i] = 0;
}

// Signs of the pulses: -1 where the backward-filtered target is negative (made positive).
void g723_1_D4i64_LBC_SetSign(Word16* D, Word16* sign) {
  for (int p = 0; p < 64; ++p) {
    sign[p] = 1;
    if (D[p] < 0) {
      sign[p] = -1;
      D[p] = g723_1_negate(D[p]);
    }
  }
}

// Threshold of the fourth pulse on one grid: mean + (max - mean) / 2 over tracks 0..2.
Word16 g723_1_D4i64_LBC_means(const Word16* D, int grid) {
  Word32 max_sum = 0, all = 0;
  for (int t = 0; t < 3; ++t) {
    Word16 m = 0;
    for (int i = 0; i < G723_TrackPos; ++i) {
      const Word16 v = D[8 * i + 2 * t + grid];
      m = std::max(m, v);
      all += v;
    }
    max_sum += m;
  }
  const Word32 mean = all >> 3;
  return static_cast<Word16>(mean + ((max_sum - mean) >> 1));
}

void g723_1_D4i64_LBC_Mod_rrixiy1(const TrackCorr& rr, const Word16* sign, SignedCorr* sc) {
  for (int i = 0; i < G723_TrackPos; ++i)
    for (int j = 0; j < G723_TrackPos; ++j) {
      sc->rri0i1[i][j] = static_cast<Word16>(rr.cross[0][1][i][j] * sign[8 * i] * sign[8 * j + 2]);
      sc->rri0i2[i][j] = static_cast<Word16>(rr.cross[0][2][i][j] * sign[8 * i] * sign[8 * j + 4]);
      sc->L_rri0i3[i][j] = 2 * Word32(rr.cross[0][3][i][j]) * sign[8 * i] * sign[8 * j + 6];
    }
}

void g723_1_D4i64_LBC_Mod_rrixiy2(const TrackCorr& rr, const Word16* sign, SignedCorr* sc) {
  for (int i = 0; i < G723_TrackPos; ++i)
    for (int j = 0; j < G723_TrackPos; ++j) {
      sc->rri1i2[i][j] = static_cast<Word16>(rr.cross[1][2][i][j] * sign[8 * i + 2] * sign[8 * j + 4]);
      sc->L_rri1i3[i][j] = 2 * Word32(rr.cross[1][3][i][j]) * sign[8 * i + 2] * sign[8 * j + 6];
    }
}

void g723_1_D4i64_LBC_Mod_rrixiy3(const TrackCorr& rr, const Word16* sign, SignedCorr* sc) {
  for (int i = 0; i < G723_TrackPos; ++i)
    for (int j = 0; j < G723_TrackPos; ++j)
      sc->L_rri2i3[i][j] = 2 * Word32(rr.cross[2][3][i][j]) * sign[8 * i + 4] * sign[8 * j + 6];
}

Word16 g723_1_D4i64_LBC(Word16* D, const TrackCorr& rr, Word16* sign, int budget, AcelpResult* out) {
  g723_1_D4i64_LBC_SetSign(D, sign);
  const Word16 threshold = std::max(g723_1_D4i64_LBC_means(D, 0), g723_1_D4i64_LBC_means(D, 1));
  SignedCorr sc;
  g723_1_D4i64_LBC_Mod_rrixiy1(rr, sign, &sc);
  g723_1_D4i64_LBC_Mod_rrixiy2(rr, sign, &sc);
  g723_1_D4i64_LBC_Mod_rrixiy3(rr, sign, &sc);
  return g723_1_LowRateSearch(out, threshold, D, sc, rr, budget);
}

Word16 g723_1_G_code(const Word16* X, const Word16* Y, Word16* gain_q) {
  Word16 y2[G723_SubFrLen];
  for (int i = 0; i < G723_SubFrLen; ++i) y2[i] = g723_1_shr(Y[i], 3);
  Word32 acc = 0;
  for (int i = 0; i < G723_SubFrLen; ++i) acc = g723_1_L_mac(acc, X[i], y2[i]);
  const Word16 exp_xy = g723_1_norm_l(acc);
  Word16 xy = g723_1_extract_h(g723_1_L_shl(acc, exp_xy));
  if (xy <= 0) {
    *gain_q = g723_1_FcbkGainTable[0];
    return 0;
  }
  acc = 0;
  for (int i = 0; i < G723_SubFrLen; ++i) acc = g723_1_L_mac(acc, y2[i], y2[i]);
  const Word16 exp_yy = g723_1_norm_l(acc);
  const Word16 yy = g723_1_extract_h(g723_1_L_shl(acc, exp_yy));
  xy = g723_1_shr(xy, 1);
  Word16 gain_nq = g723_1_div_s(xy, yy);
  gain_nq = g723_1_shr(gain_nq, static_cast<Word16>(exp_xy + 5 - exp_yy));
  int gain = 0;
  Word16 dist_min = g723_1_abs_s(g723_1_sub(gain_nq, g723_1_FcbkGainTable[0]));
  for (int i = 1; i < G723_NumOfGainLev; ++i) {
    const Word16 d = g723_1_abs_s(g723_1_sub(gain_nq, g723_1_FcbkGainTable[i]));
    if (d < dist_min) {
      dist_min = d;
      gain = i;
    }
  }
  *gain_q = g723_1_FcbkGainTable[gain];
  return static_cast<Word16>(gain);
}

}  // namespace

// Four-pulse search within the time budget; returns the budget left. Each of the eight track-3
// positions keeps its own best (lanes, the earliest triple on ties); the lanes are then reduced
// pairwise (j against j + 4, j + 2, j + 1), a lane taking over only when strictly better, so of
// equal candidates the lowest track-3 index wins.
Word16 g723_1_LowRateSearch(AcelpResult* out, Word16 threshold, const Word16* D, const SignedCorr& sc,
                            const TrackCorr& rr, int budget) {
  Word16 lane_sq[G723_TrackPos], lane_alp[G723_TrackPos];
  int lane_code[G723_TrackPos];
  for (int l = 0; l < G723_TrackPos; ++l) {
    lane_sq[l] = 0;
    lane_alp[l] = 32767;
    lane_code[l] = 0;
  }
  for (int i0 = 0; i0 < G723_TrackPos && budget > 0; ++i0)
    for (int i1 = 0; i1 < G723_TrackPos && budget > 0; ++i1)
      for (int i2 = 0; i2 < G723_TrackPos && budget > 0; ++i2) {
        const Word16 ps_a = static_cast<Word16>(D[8 * i0] + D[8 * i1 + 2] + D[8 * i2 + 4]);
        const Word16 ps_b = static_cast<Word16>(D[8 * i0 + 1] + D[8 * i1 + 3] + D[8 * i2 + 5]);
        const int alt = ps_b > ps_a ? 1 : 0;
        const Word16 ps3 = alt ? ps_b : ps_a;
        if (ps3 <= threshold) continue;
        const Word32 alp3 = Word32(rr.diag[0][i0]) + rr.diag[1][i1] + rr.diag[2][i2] +
                            2 * (Word32(sc.rri0i1[i0][i1]) + sc.rri0i2[i0][i2] + sc.rri1i2[i1][i2]);
        for (int i3 = 0; i3 < G723_TrackPos; ++i3) {
          const Word16 ps = static_cast<Word16>(ps3 + D[8 * i3 + 6 + alt]);
          const Word16 sq = g723_1_mult(ps, ps);
          const Word32 sum = alp3 + sc.L_rri0i3[i0][i3] + sc.L_rri1i3[i1][i3] + sc.L_rri2i3[i2][i3] + rr.diag[3][i3];
          const Word16 alp = static_cast<Word16>(sum >> 4);
          if (acelp_better(sq, alp, lane_sq[i3], lane_alp[i3])) {
            lane_sq[i3] = sq;
            lane_alp[i3] = alp;
            lane_code[i3] = (alt << 12) | (i0 << 9) | (i1 << 6) | (i2 << 3) | i3;
          }
        }
        --budget;
      }
  for (int step = G723_TrackPos / 2; step >= 1; step /= 2)
    for (int j = 0; j < step; ++j)
      if (acelp_better(lane_sq[j + step], lane_alp[j + step], lane_sq[j], lane_alp[j])) {
        lane_sq[j] = lane_sq[j + step];
        lane_alp[j] = lane_alp[j + step];
        lane_code[j] = lane_code[j + step];
      }
  const int best_code = lane_code[0];
  out->idx[0] = (best_code >> 9) & 7;
  out->idx[1] = (best_code >> 6) & 7;
  out->idx[2] = (best_code >> 3) & 7;
  out->idx[3] = best_code & 7;
  out->grid = (best_code >> 12) & 1;
  return static_cast<Word16>(budget);
}

// Lag and fixed gain of the pitch contribution folded into the 5.3 kbit/s codebook.
void g723_1_search_T0(Word16 Olp, Word16 AcLg, Word16 AcGn, int* T0, Word16* gain_T0) {
  const int gid = std::clamp<int>(AcGn, 0, 169);
  *T0 = Olp - 1 + AcLg + g723_1_epsi170[gid];
  *gain_T0 = g723_1_gain170[gid];
}

// Searches the algebraic codebook for the target X with the response h (modified in place);
// writes the gained excitation with its pitch contribution to code.
void g723_1_ACELP_LBC_code(const Word16* X, Word16* h, int T0, Word16* code, G723_SFSDEF* sfs, Word16 gain_T0,
                           int* extra) {
  g723_1_Vec_shl_SFL(h, h, -1);
  if (T0 > 0 && T0 < G723_SubFrLen - 2)
    for (int n = T0; n < G723_SubFrLen; ++n) h[n] = g723_1_add(h[n], g723_1_mult(h[n - T0], gain_T0));

  TrackCorr rr;
  g723_1_Cor_h(h, &rr);
  Word16 D[64];
  g723_1_Cor_h_X(h, X, D);
  Word16 sign[64];
  AcelpResult res;
  *extra = g723_1_D4i64_LBC(D, rr, sign, *extra + 120, &res);

  Word16 pulses[64] = {};
  sfs->Ppos = 0;
  sfs->Pamp = 0;
  for (int k = 0; k < G723_Tracks; ++k) {
    const int pos = 8 * res.idx[k] + 2 * k + res.grid;
    sfs->Ppos |= Word32(res.idx[k]) << (3 * k);
    if (sign[pos] > 0) sfs->Pamp = static_cast<Word16>(sfs->Pamp | (1 << k));
    if (pos < G723_SubFrLen) pulses[pos] = sign[pos];
  }
  sfs->Grid = static_cast<Word16>(res.grid);
  sfs->Tran = 0;

  // Filtered codeword.
  Word16 y[G723_SubFrLen];
  for (int n = 0; n < G723_SubFrLen; ++n) {
    Word32 acc = 0;
    for (int k = 0; k <= n; ++k)
      if (pulses[k]) acc += pulses[k] * Word32(h[n - k]);
    y[n] = g723_1_sat16(acc);
  }
  Word16 gain_q;
  sfs->Mamp = g723_1_G_code(X, y, &gain_q);
  g723_1_Vec_Mult_Integer(code, pulses, gain_q);
  if (T0 > 0 && T0 < G723_SubFrLen - 2)
    for (int n = T0; n < G723_SubFrLen; ++n) code[n] = g723_1_add(code[n], g723_1_mult(code[n - T0], gain_T0));
}

void g723_1_Find_Acelp(Word16* Tv, const Word16* ImpResp, G723_LINEDEF* Line, int Sfc, G7231_Coder_State* st) {
  G723_SFSDEF& sfs = Line->Sfs[Sfc];
  int T0;
  Word16 gain_T0;
  g723_1_search_T0(Line->Olp[Sfc >> 1], sfs.AcLg, sfs.AcGn, &T0, &gain_T0);
  Word16 h[G723_SubFrLen];
  g723_1_Copy_SubFrLen(ImpResp, h);
  Word16 code[G723_SubFrLen];
  g723_1_ACELP_LBC_code(Tv, h, T0, code, &sfs, gain_T0, &st->extra);
  g723_1_Copy_SubFrLen(code, Tv);
}

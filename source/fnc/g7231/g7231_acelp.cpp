// G.723.1 algebraic codebook of the 5.3 kbit/s rate: four signed pulses on four interleaved
// tracks of eight positions (track t: 8i + 2t, plus one on the odd grid), with the fixed-gain
// pitch contribution folded into the impulse response.
#include <algorithm>
#include <cstring>

#include "g7231_encoder.h"
#include "g7231_tables.h"

namespace {

constexpr int kTracks = 4;
constexpr int kPos = 8;

// Correlations of the scaled response between the even-grid positions p = 8i + 2t.
struct TrackCorr {
  Word16 diag[kTracks][kPos];
  Word16 cross[kTracks][kTracks][kPos][kPos];  // [t1][t2] for t1 < t2
};

void g723_1_Cor_h(const Word16* h, TrackCorr* rr) {
  Word32 energy = 0;
  for (int i = 0; i < G723_SubFrLen; ++i) energy = g723_1_L_mac(energy, h[i], h[i]);
  Word16 hs[G723_SubFrLen];
  if (g723_1_extract_h(energy) > 32000) {
    for (int i = 0; i < G723_SubFrLen; ++i) hs[i] = g723_1_shr(h[i], 1);
  } else {
    const Word16 k = g723_1_shr(g723_1_norm_l(energy), 1);
    for (int i = 0; i < G723_SubFrLen; ++i) hs[i] = g723_1_shl(h[i], k);
  }
  auto corr = [&](int p, int q) {
    const int d = std::abs(q - p);
    Word32 acc = 0;
    for (int k = 0; k <= G723_SubFrLen - 1 - std::max(p, q); ++k) acc = g723_1_L_mac(acc, hs[k], hs[k + d]);
    return g723_1_extract_h(acc);
  };
  for (int t = 0; t < kTracks; ++t)
    for (int i = 0; i < kPos; ++i) rr->diag[t][i] = corr(8 * i + 2 * t, 8 * i + 2 * t);
  for (int t1 = 0; t1 < kTracks; ++t1)
    for (int t2 = t1 + 1; t2 < kTracks; ++t2)
      for (int i = 0; i < kPos; ++i)
        for (int j = 0; j < kPos; ++j) rr->cross[t1][t2][i][j] = corr(8 * i + 2 * t1, 8 * j + 2 * t2);
}

// Backward-filtered target over 64 positions (the last four are zero).
void g723_1_Cor_h_X(const Word16* h, const Word16* X, Word16* D) {
  Word32 y32[G723_SubFrLen];
  Word32 peak = 0;
  for (int i = 0; i < G723_SubFrLen; ++i) {
    Word32 s = 0;
    for (int j = i; j < G723_SubFrLen; ++j) s = g723_1_L_mac(s, X[j], h[j - i]);
    y32[i] = s;
    peak = std::max(peak, g723_1_L_abs(s));
  }
  const Word16 shift = static_cast<Word16>(18 - std::min<int>(g723_1_norm_l(peak), 16));
  for (int i = 0; i < G723_SubFrLen; ++i) D[i] = g723_1_extract_l(g723_1_L_shr(y32[i], shift));
  for (int i = G723_SubFrLen; i < 64; ++i) D[i] = 0;
}

struct AcelpResult {
  int idx[kTracks];
  int grid;
};

// Four-pulse search within the time budget; returns the budget left.
Word16 g723_1_D4i64_LBC(Word16* D, const TrackCorr& rr, Word16* sign, int budget, AcelpResult* out) {
  for (int p = 0; p < 64; ++p) {
    sign[p] = 1;
    if (D[p] < 0) {
      sign[p] = -1;
      D[p] = g723_1_negate(D[p]);
    }
  }
  // Threshold for evaluating the fourth pulse, from the first three tracks of each grid.
  Word16 thr[2];
  for (int g = 0; g < 2; ++g) {
    Word32 max_sum = 0, all = 0;
    for (int t = 0; t < 3; ++t) {
      Word16 m = 0;
      for (int i = 0; i < kPos; ++i) {
        const Word16 v = D[8 * i + 2 * t + g];
        m = std::max(m, v);
        all += v;
      }
      max_sum += m;
    }
    const Word32 mean = all >> 3;
    thr[g] = static_cast<Word16>(mean + ((max_sum - mean) >> 1));
  }
  const Word16 threshold = std::max(thr[0], thr[1]);

  // Signed correlations (signs of the even-grid positions).
  auto s = [&](int t, int i) { return sign[8 * i + 2 * t]; };
  auto cross = [&](int t1, int i, int t2, int j) {
    return static_cast<Word16>(rr.cross[t1][t2][i][j] * s(t1, i) * s(t2, j));
  };

  Word16 best_sq = 0, best_alp = 32767;
  int best_code = 0;
  out->grid = 0;
  for (int k = 0; k < kTracks; ++k) out->idx[k] = 0;
  for (int i0 = 0; i0 < kPos && budget > 0; ++i0)
    for (int i1 = 0; i1 < kPos && budget > 0; ++i1)
      for (int i2 = 0; i2 < kPos && budget > 0; ++i2) {
        const Word16 ps_a = static_cast<Word16>(D[8 * i0] + D[8 * i1 + 2] + D[8 * i2 + 4]);
        const Word16 ps_b = static_cast<Word16>(D[8 * i0 + 1] + D[8 * i1 + 3] + D[8 * i2 + 5]);
        const int alt = ps_b > ps_a ? 1 : 0;
        const Word16 ps3 = alt ? ps_b : ps_a;
        if (ps3 <= threshold) continue;
        const Word32 alp3 = Word32(rr.diag[0][i0]) + rr.diag[1][i1] + rr.diag[2][i2] +
                            2 * (Word32(cross(0, i0, 1, i1)) + cross(0, i0, 2, i2) + cross(1, i1, 2, i2));
        for (int i3 = 0; i3 < kPos; ++i3) {
          const Word16 ps = static_cast<Word16>(ps3 + D[8 * i3 + 6 + alt]);
          const Word16 sq = g723_1_mult(ps, ps);
          const Word32 l03 = 2 * Word32(cross(0, i0, 3, i3));
          const Word32 l13 = 2 * Word32(cross(1, i1, 3, i3));
          const Word32 l23 = 2 * Word32(cross(2, i2, 3, i3));
          const Word16 alp = static_cast<Word16>((alp3 + l03 + l13 + l23 + rr.diag[3][i3]) >> 4);
          if (Word32(sq) * best_alp - Word32(best_sq) * alp > 0) {
            best_sq = sq;
            best_alp = alp;
            best_code = (alt << 12) | (i0 << 9) | (i1 << 6) | (i2 << 3) | i3;
          }
        }
        --budget;
      }
  out->idx[0] = (best_code >> 9) & 7;
  out->idx[1] = (best_code >> 6) & 7;
  out->idx[2] = (best_code >> 3) & 7;
  out->idx[3] = best_code & 7;
  out->grid = (best_code >> 12) & 1;
  return static_cast<Word16>(budget);
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

void g723_1_Find_Acelp(Word16* Tv, const Word16* ImpResp, G723_LINEDEF* Line, int Sfc, G7231_Coder_State* st) {
  G723_SFSDEF& sfs = Line->Sfs[Sfc];
  const int gid = std::clamp<int>(sfs.AcGn, 0, 169);
  const int T0 = Line->Olp[Sfc >> 1] - 1 + sfs.AcLg + g723_1_epsi170[gid];
  const Word16 b = g723_1_gain170[gid];

  Word16 h[G723_SubFrLen];
  for (int i = 0; i < G723_SubFrLen; ++i) h[i] = g723_1_shr(ImpResp[i], 1);
  if (T0 > 0 && T0 < G723_SubFrLen - 2)
    for (int n = T0; n < G723_SubFrLen; ++n) h[n] = g723_1_add(h[n], g723_1_mult(h[n - T0], b));

  static_assert(sizeof(TrackCorr) < 4096);
  TrackCorr rr;
  g723_1_Cor_h(h, &rr);
  Word16 D[64];
  g723_1_Cor_h_X(h, Tv, D);
  Word16 sign[64];
  AcelpResult res;
  st->extra = g723_1_D4i64_LBC(D, rr, sign, st->extra + 120, &res);

  Word16 code[64] = {};
  sfs.Ppos = 0;
  sfs.Pamp = 0;
  for (int k = 0; k < kTracks; ++k) {
    const int pos = 8 * res.idx[k] + 2 * k + res.grid;
    sfs.Ppos |= Word32(res.idx[k]) << (3 * k);
    if (sign[pos] > 0) sfs.Pamp = static_cast<Word16>(sfs.Pamp | (1 << k));
    if (pos < G723_SubFrLen) code[pos] = sign[pos];
  }
  sfs.Grid = static_cast<Word16>(res.grid);
  sfs.Tran = 0;

  Word16 y[G723_SubFrLen];
  for (int n = 0; n < G723_SubFrLen; ++n) {
    Word32 acc = 0;
    for (int k = 0; k <= n; ++k)
      if (code[k]) acc += code[k] * Word32(h[n - k]);
    y[n] = g723_1_sat16(acc);
  }
  Word16 gain_q;
  sfs.Mamp = g723_1_G_code(Tv, y, &gain_q);

  for (int i = 0; i < G723_SubFrLen; ++i) Tv[i] = static_cast<Word16>(code[i] * gain_q);
  if (T0 > 0 && T0 < G723_SubFrLen - 2)
    for (int n = T0; n < G723_SubFrLen; ++n) Tv[n] = g723_1_add(Tv[n], g723_1_mult(Tv[n - T0], b));
}

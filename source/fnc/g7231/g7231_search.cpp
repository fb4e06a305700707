// G.723.1 encoder codebook searches: the adaptive codebook with error taming, and the
// multipulse (6.3 kbit/s) fixed codebook. The algebraic 5.3 kbit/s codebook is in
// g7231_acelp.cpp.
#include <algorithm>
#include <cstring>

#include "g7231_encoder.h"
#include "g7231_tables.h"

namespace {

// Worst taming error over the zones that lags lag1..lag2 reach; 0 disables the large gains.
Word16 g723_1_Test_Err(Word16 lag1, Word16 lag2, const G7231_Coder_State* st) {
  const Word16 zone2 = g723_1_mult(static_cast<Word16>(lag2 + G723_ClPitchOrd / 2), 1092);
  int i1 = -G723_SubFrLen + 1 + lag1 - G723_ClPitchOrd / 2;
  if (i1 <= 0) i1 = 1;
  const Word16 zone1 = g723_1_mult(static_cast<Word16>(i1), 1092);
  Word32 worst = -1;
  for (int i = zone2; i >= zone1; --i)
    if (st->CodStat.Err[i] > worst) worst = st->CodStat.Err[i];
  const Word32 margin = g723_1_L_sub(worst, 0x40000000);
  if (margin > 0 || st->CodStat.SinDet < 0) return 0;
  return g723_1_extract_l(g723_1_L_shr(g723_1_L_negate(margin), 23));
}

// The five filtered excitations of one candidate lag: row 4 by convolution, rows 3..0 by the
// recursion on the previous row.
void filter_taps(const Word16* rez, const Word16* h, Word16 flt[5][G723_SubFrLen]) {
  for (int n = 0; n < G723_SubFrLen; ++n) {
    Word32 acc = 0;
    for (int k = 0; k <= n; ++k) acc = g723_1_L_mac(acc, rez[4 + k], h[n - k]);
    flt[4][n] = g723_1_round(acc);
  }
  for (int i = 3; i >= 0; --i) {
    flt[i][0] = g723_1_mult_r(rez[i], 0x2000);
    for (int j = 1; j < G723_SubFrLen; ++j)
      flt[i][j] = g723_1_round(g723_1_L_mac(g723_1_L_deposit_h(flt[i + 1][j - 1]), rez[i], h[j]));
  }
}

// Correlation terms of the five-tap gain search: target crosses, energies, between crosses.
void compute_corbuf(const Word16 flt[5][G723_SubFrLen], const Word16* t, Word32* cor) {
  auto plain_cross = [](const Word16* a, const Word16* b) {
    Word32 c = 0;
    for (int n = 0; n < G723_SubFrLen; ++n) c = g723_1_L_add(c, Word32(a[n]) * b[n]);
    return c;
  };
  for (int i = 0; i < 5; ++i) {
    const Word32 c = plain_cross(t, flt[i]);
    cor[i] = g723_1_L_add(c, c);
  }
  for (int i = 0; i < 5; ++i) {
    Word32 e = 0;
    for (int n = 0; n < G723_SubFrLen; ++n) e = g723_1_L_mac(e, flt[i][n], flt[i][n]);
    cor[5 + i] = e;
  }
  int k = 10;
  for (int i = 1; i < 5; ++i)
    for (int j = 0; j < i; ++j) {
      Word32 c = 0;
      for (int n = 0; n < G723_SubFrLen; ++n) c = g723_1_L_mac(c, flt[i][n], flt[j][n]);
      cor[k++] = g723_1_L_add(c, c);
    }
}

}  // namespace

void g723_1_Find_Acbk(Word16* Tv, const Word16* ImpResp, const Word16* PrevExc, G723_LINEDEF* Line, int Sfc,
                      G7231_Coder_State* st) {
  Word16 olp = Line->Olp[Sfc >> 1];
  const int candidates = 3 + (Sfc & 1);
  if ((Sfc & 1) == 0) {
    if (olp == 18) olp = 19;
    if (olp > G723_PitchMax - 5) olp = G723_PitchMax - 5;
  }

  Word32 cor[4 * 20];
  for (int k = 0; k < candidates; ++k) {
    Word16 rez[G723_SubFrLen + G723_ClPitchOrd - 1];
    const int lag = olp - 1 + k;
    for (int i = 0; i < 2; ++i) rez[i] = PrevExc[G723_PitchMax - lag - 2 + i];
    for (int i = 0; i < G723_SubFrLen + 2; ++i) rez[2 + i] = PrevExc[G723_PitchMax - lag + i % lag];
    Word16 flt[5][G723_SubFrLen];
    filter_taps(rez, ImpResp, flt);
    compute_corbuf(flt, Tv, cor + 20 * k);
  }
  Word32 peak = 0;
  for (int i = 0; i < 20 * candidates; ++i) peak = std::max(peak, g723_1_L_abs(cor[i]));
  const Word16 exp = g723_1_norm_l(peak);
  Word16 vct[4 * 20];
  for (int i = 0; i < 20 * candidates; ++i) vct[i] = g723_1_round(g723_1_L_shl(cor[i], exp));

  const Word16 taming = g723_1_Test_Err(static_cast<Word16>(olp - 1), static_cast<Word16>(olp - 1 + candidates - 1), st);
  const int bound[2] = {std::min(51 + 4 * taming, 85), std::min(93 + 8 * taming, 170)};

  Word32 best = 0;
  int best_gain = 0, best_cand = 0;
  for (int k = 0; k < candidates; ++k) {
    int table = 1;
    if (st->WrkRate == 0) {
      const int lag_tested = (Sfc & 1) == 0 ? olp - 1 + k : olp;
      table = lag_tested < G723_SubFrLen - 2 ? 0 : 1;
    }
    const Word16* tab = g723_1_AcbkInterleavedGainTablePtr[table];
    // Four running bests, one per entry index modulo 4, merged in lane order.
    Word32 lane_best[4] = {0, 0, 0, 0};
    int lane_idx[4] = {0, 0, 0, 0};
    for (int e = 0; e < bound[table]; ++e) {
      const Word16* entry = tab + 80 * (e >> 2) + (e & 3);
      Word32 sum = 0;
      for (int j = 0; j < 20; ++j) sum += Word32(vct[20 * k + j]) * entry[4 * j];
      if (sum > lane_best[e & 3]) {
        lane_best[e & 3] = sum;
        lane_idx[e & 3] = e;
      }
    }
    for (int l = 0; l < 4; ++l)
      if (lane_best[l] > best) {
        best = lane_best[l];
        best_gain = lane_idx[l];
        best_cand = k;
      }
  }

  Word16 lid = static_cast<Word16>(best_cand);
  if ((Sfc & 1) == 0) {
    olp = static_cast<Word16>(olp - 1 + best_cand);
    lid = 1;
  }
  Line->Sfs[Sfc].AcLg = lid;
  Line->Sfs[Sfc].AcGn = static_cast<Word16>(best_gain);
  Line->Olp[Sfc >> 1] = olp;

  // Subtract the filtered adaptive contribution from the target.
  Word16 acbk[G723_SubFrLen];
  g723_1_Decod_Acbk(acbk, PrevExc, olp, lid, static_cast<Word16>(best_gain), st->WrkRate);
  for (int n = 0; n < G723_SubFrLen; ++n) {
    Word32 acc = g723_1_L_shr(g723_1_L_deposit_h(Tv[n]), 1);
    for (int k = 0; k <= n; ++k) acc = g723_1_L_msu(acc, acbk[k], ImpResp[n - k]);
    Tv[n] = g723_1_round(g723_1_L_shl(acc, 1));
  }
}

void g723_1_Update_Err(Word16 Olp, Word16 AcLg, Word16 AcGn, G7231_Coder_State* st) {
  Word32* E = st->CodStat.Err;
  const int lag = Olp - 1 + AcLg;
  const bool small_table = st->WrkRate == 0 && Olp < G723_SubFrLen - 2;
  const Word16 beta = small_table ? g723_1_tabgain85[std::clamp<int>(AcGn, 0, 84)]
                                  : g723_1_tabgain170[std::clamp<int>(AcGn, 0, 169)];
  auto w = [&](Word32 e) {
    const Word32 scaled = static_cast<Word32>((std::int64_t(e) * beta) >> 15);
    return g723_1_L_add(4, g723_1_L_shl(scaled, 2));
  };
  Word32 new0, new1;
  if (lag <= G723_SubFrLen / 2) {
    new0 = new1 = w(E[0]);
  } else {
    const int iz = (lag * 2184) >> 16;
    if (lag == 30 * (iz + 1)) {
      new0 = w(E[iz - 1]);
      new1 = w(E[iz]);
    } else if (iz == 1) {
      new0 = new1 = std::max(w(E[0]), w(E[1]));
    } else {
      const Word32 t = w(E[iz - 1]);
      new0 = std::max(w(E[iz - 2]), t);
      new1 = std::max(w(E[iz]), t);
    }
  }
  E[4] = E[2];
  E[3] = E[1];
  E[2] = E[0];
  E[0] = new0;
  E[1] = new1;
}

namespace {

struct G723_BESTDEF {
  Word32 MaxErr;
  Word16 GridId;
  Word16 MampId;
  Word16 UseTrn;
  Word16 Ploc[6];
  Word16 Pamp[6];
};

void g723_1_Find_Best(G723_BESTDEF* best, const Word16* Tv, const Word16* ImpResp, int np, Word16 olp) {
  G723_BESTDEF cand{};
  Word16 imr[G723_SubFrLen];
  if (olp < G723_SubFrLen - 2) {
    cand.UseTrn = 1;
    g723_1_Gen_Trn(imr, ImpResp, olp);
  } else {
    cand.UseTrn = 0;
    std::memcpy(imr, ImpResp, sizeof imr);
  }
  Word16 half[G723_SubFrLen];
  for (int i = 0; i < G723_SubFrLen; ++i) half[i] = g723_1_shr(imr[i], 1);
  Word32 acc = 0;
  for (int i = 0; i < G723_SubFrLen; ++i) acc = g723_1_L_mac(acc, half[i], half[i]);
  Word16 exp = g723_1_norm_l(acc);
  Word16 imr_corr[G723_SubFrLen];
  imr_corr[0] = g723_1_round(g723_1_L_shl(acc, exp));
  for (int i = 1; i < G723_SubFrLen; ++i) {
    acc = 0;
    for (int j = i; j < G723_SubFrLen; ++j) acc = g723_1_L_mac(acc, half[j], half[j - i]);
    imr_corr[i] = g723_1_round(g723_1_L_shl(acc, exp));
  }
  exp = static_cast<Word16>(exp - 4);
  Word32 err[G723_SubFrLen];
  for (int i = 0; i < G723_SubFrLen; ++i) {
    acc = 0;
    for (int j = i; j < G723_SubFrLen; ++j) acc = g723_1_L_mac(acc, Tv[j], imr[j - i]);
    err[i] = g723_1_L_shl(acc, exp);
  }

  for (int grid = 0; grid < 2; ++grid) {
    cand.GridId = static_cast<Word16>(grid);
    // First pulse at the largest correlation of the grid (the last of equal values).
    Word32 top = 0;
    cand.Ploc[0] = static_cast<Word16>(grid);
    for (int i = grid; i < G723_SubFrLen; i += 2) {
      const Word32 a = g723_1_L_abs(err[i]);
      if (a >= top) {
        top = a;
        cand.Ploc[0] = static_cast<Word16>(i);
      }
    }
    // Nearest amplitude level (the highest index wins ties).
    Word32 nearest = 0x40000000;
    int amp_id = 22;
    for (int i = 22; i >= 2; --i) {
      const Word32 d = g723_1_L_abs(g723_1_L_sub(g723_1_L_mult(g723_1_FcbkGainTable[i], imr_corr[0]), top));
      if (d < nearest) {
        nearest = d;
        amp_id = i;
      }
    }
    --amp_id;

    for (int step = 1; step <= 4; ++step) {
      Word32 work[G723_SubFrLen];
      bool used[G723_SubFrLen] = {};
      for (int j = grid; j < G723_SubFrLen; j += 2) work[j] = err[j];
      cand.MampId = static_cast<Word16>(amp_id - 2 + step);
      const Word16 amp = g723_1_FcbkGainTable[std::clamp<int>(cand.MampId, 0, 23)];
      cand.Pamp[0] = work[cand.Ploc[0]] >= 0 ? amp : g723_1_negate(amp);
      used[cand.Ploc[0]] = true;
      for (int p = 1; p < np; ++p) {
        Word32 pick = -0x40000000;
        int where = -1;
        for (int l = grid; l < G723_SubFrLen; l += 2) {
          if (used[l]) continue;
          work[l] = g723_1_L_msu(work[l], cand.Pamp[p - 1], imr_corr[std::abs(l - cand.Ploc[p - 1])]);
          const Word32 a = g723_1_L_abs(work[l]);
          if (a > pick) {
            pick = a;
            where = l;
          }
        }
        cand.Ploc[p] = static_cast<Word16>(where);
        cand.Pamp[p] = work[where] > 0 ? amp : g723_1_negate(amp);
        used[where] = true;
      }
      // Score: 2 <t, y> - <y, y> of the filtered pulse train.
      Word16 pulses[G723_SubFrLen] = {};
      for (int p = 0; p < np; ++p) pulses[cand.Ploc[p]] = cand.Pamp[p];
      Word16 y[G723_SubFrLen];
      for (int l = 0; l < G723_SubFrLen; ++l) {
        acc = 0;
        for (int j = 0; j <= l; ++j) acc = g723_1_L_mac(acc, pulses[j], imr[l - j]);
        y[l] = g723_1_extract_h(g723_1_L_shl(acc, 2));
      }
      Word32 score = 0;
      for (int j = 0; j < G723_SubFrLen; ++j) {
        score = g723_1_L_mac(score, Tv[j], y[j]);
        score = g723_1_L_sub(score, g723_1_L_shr(g723_1_L_mult(y[j], y[j]), 1));
      }
      if (score > best->MaxErr) {
        best->MaxErr = score;
        best->GridId = cand.GridId;
        best->MampId = cand.MampId;
        best->UseTrn = cand.UseTrn;
        std::memcpy(best->Ploc, cand.Ploc, sizeof cand.Ploc);
        std::memcpy(best->Pamp, cand.Pamp, sizeof cand.Pamp);
      }
    }
  }
}

void g723_1_Fcbk_Pack(const Word16* pulses, G723_SFSDEF* sfs, const G723_BESTDEF& best, int np) {
  int j = 6 - np;
  sfs->Pamp = 0;
  sfs->Ppos = 0;
  for (int i = best.GridId; i < G723_SubFrLen; i += 2) {
    if (pulses[i] == 0) {
      sfs->Ppos = g723_1_L_add(sfs->Ppos, g723_1_CombinatorialTable[j][i >> 1]);
    } else {
      sfs->Pamp = static_cast<Word16>(sfs->Pamp << 1);
      if (pulses[i] < 0) ++sfs->Pamp;
      if (++j == 6) break;
    }
  }
  sfs->Mamp = best.MampId;
  sfs->Grid = best.GridId;
  sfs->Tran = best.UseTrn;
}

}  // namespace

void g723_1_Find_Acelp(Word16* Tv, const Word16* ImpResp, G723_LINEDEF* Line, int Sfc, G7231_Coder_State* st);

void g723_1_Find_Fcbk(Word16* Tv, const Word16* ImpResp, G723_LINEDEF* Line, int Sfc, G7231_Coder_State* st) {
  if (st->WrkRate != 0) {
    g723_1_Find_Acelp(Tv, ImpResp, Line, Sfc, st);
    return;
  }
  const int np = g723_1_Nb_puls[Sfc];
  G723_BESTDEF best{};
  best.MaxErr = static_cast<Word32>(0xC0000000u);
  g723_1_Find_Best(&best, Tv, ImpResp, np, G723_SubFrLen);
  const Word16 olp = Line->Olp[Sfc >> 1];
  if (olp < G723_SubFrLen - 2) g723_1_Find_Best(&best, Tv, ImpResp, np, olp);

  for (int i = 0; i < G723_SubFrLen; ++i) Tv[i] = 0;
  for (int p = 0; p < np; ++p) Tv[best.Ploc[p]] = best.Pamp[p];
  g723_1_Fcbk_Pack(Tv, &Line->Sfs[Sfc], best, np);
  if (best.UseTrn == 1) g723_1_Gen_Trn(Tv, Tv, olp);
}

// G.723.1 encoder codebook searches: the adaptive codebook with error taming, and the
// multipulse (6.3 kbit/s) fixed codebook. The algebraic 5.3 kbit/s codebook is in
// g7231_acelp.cpp.
#include <algorithm>
#include <cstring>

#include "g7231_encoder.h"
#include "g7231_kernels.h"
#include "g7231_search_kernels.h"
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

// 64 samples of periodic excitation at a candidate lag (two before the lag, then the period).
void g723_1_Get_Rez_all(Word16* rez, const Word16* PrevExc, int lag) {
  for (int i = 0; i < 2; ++i) rez[i] = PrevExc[G723_PitchMax - lag - 2 + i];
  for (int i = 0; i < G723_SubFrLen + 2; ++i) rez[2 + i] = PrevExc[G723_PitchMax - lag + i % lag];
}

// The next candidate's excitation: the same construction one lag further.
void g723_1_Get_Delta_Rez(Word16* rez, const Word16* PrevExc, int lag) { g723_1_Get_Rez_all(rez, PrevExc, lag); }

// Rows 3..0 of a candidate's filtered excitations (rows of 60) by the recursion on the row after
// them; row 4 is already in place.
void filter_lower_taps(const Word16* rez, const Word16* h, Word16* flt) {
  for (int i = 3; i >= 0; --i) {
    Word16* row = flt + i * G723_SubFrLen;
    row[0] = g723_1_round(g723_1_L_mult(rez[i], 8192));
    Word32 energy = g723_1_L_mult(row[0], row[0]);
    g723_1_Recursive_PerFilt_Loop(rez[i], h + 1, row + 1, &energy);
  }
}

}  // namespace

// Best entry of the candidate's gain table: lane maxima merged in lane order into the running best.
void g723_1_AdapGainQ(const Word16* CorVct, int bound, const Word16* table, Word32* best, int* best_gain,
                      int* best_cand, int cand) {
  Word32 last[4], lane_max[4];
  Word16 lane_idx[4];
  const int compared = g723_1_AdapGainQ_loop(CorVct, bound, table, last, lane_max, lane_idx);
  for (int e = compared; e < bound; ++e)
    if (last[e - compared] > lane_max[e & 3]) {
      lane_max[e & 3] = last[e - compared];
      lane_idx[e & 3] = static_cast<Word16>(e);
    }
  for (int l = 0; l < 4; ++l)
    if (lane_max[l] > *best) {
      *best = lane_max[l];
      *best_gain = lane_idx[l];
      *best_cand = cand;
    }
}

void g723_1_Find_Acbk(Word16* Tv, const Word16* ImpResp, const Word16* PrevExc, G723_LINEDEF* Line, int Sfc,
                      G7231_Coder_State* st) {
  Word16 olp = Line->Olp[Sfc >> 1];
  const int candidates = 3 + (Sfc & 1);
  if ((Sfc & 1) == 0) {
    if (olp == 18) olp = 19;
    if (olp > G723_PitchMax - 5) olp = G723_PitchMax - 5;
  }

  Word32 cor[4 * 20];
  // Row 4 of the first candidate by convolution, of each later one from the row before it (the
  // block forms of the kernels want five spare values after each row).
  Word32 row32[2][G723_SubFrLen + 5];
  Word16 flt[5 * G723_SubFrLen + 5];
  for (int k = 0; k < candidates; ++k) {
    Word16 rez[G723_SubFrLen + G723_ClPitchOrd - 1];
    const int lag = olp - 1 + k;
    if (k == 0) {
      g723_1_Get_Rez_all(rez, PrevExc, lag);
      g723_1_Per_Filt(rez + 4, ImpResp, flt + 4 * G723_SubFrLen, row32[0]);
    } else {
      g723_1_Get_Delta_Rez(rez, PrevExc, lag);
      g723_1_Per_Filt_Delta(rez + 4, ImpResp, flt + 4 * G723_SubFrLen, row32[(k - 1) & 1], row32[k & 1],
                            static_cast<Word16>(lag));
    }
    filter_lower_taps(rez, ImpResp, flt);
    g723_1_Compute_CorBuf(flt, Tv, cor + 20 * k);
  }
  const Word16 exp = g723_1_norm_l(g723_1_Vec_Max_L_abs(cor, 20 * candidates));
  Word16 vct[4 * 20];
  g723_1_Vec_L_shl_round(cor, vct, exp, 20 * candidates);

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
    g723_1_AdapGainQ(vct + 20 * k, bound[table], g723_1_AcbkInterleavedGainTablePtr[table], &best, &best_gain,
                     &best_cand, k);
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
  g723_1_Per_Filt_and_Sub(acbk, ImpResp, Tv);
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

// Nearest amplitude level to the first pulse's correlation (the highest index wins ties),
// returned minus one.
int g723_1_Quant_Max_Amp(Word32 top, Word16 energy_term) {
  Word32 nearest = 0x40000000;
  int amp_id = 22;
  for (int i = 22; i >= 2; --i) {
    const Word32 d = g723_1_L_abs(g723_1_L_sub(g723_1_L_mult(g723_1_FcbkGainTable[i], energy_term), top));
    if (d < nearest) {
      nearest = d;
      amp_id = i;
    }
  }
  return amp_id - 1;
}

// Keeps a candidate when its score is strictly larger than the best so far.
void g723_1_CS_Candidate(G723_BESTDEF* best, const G723_BESTDEF& cand, Word32 score) {
  if (score > best->MaxErr) {
    *best = cand;
    best->MaxErr = score;
  }
}

// The response with the pulse train at the lag added in.
void g723_1_Gen_Trn2(Word16* dst, const Word16* src, Word16 lag) { g723_1_Gen_Trn(dst, src, lag); }

void g723_1_Find_Best(G723_BESTDEF* best, const Word16* Tv, const Word16* ImpResp, int np, Word16 olp) {
  G723_BESTDEF cand{};
  // Response with 60 zeros in front (for the score) and 8 after (for the correlations).
  Word16 imr_buf[G723_SubFrLen + G723_SubFrLen + 8];
  Word16* imr = imr_buf + G723_SubFrLen;
  g723_1_Set_zero4(imr_buf, G723_SubFrLen);
  g723_1_Set_zero4(imr + G723_SubFrLen, 8);
  if (olp < G723_SubFrLen - 2) {
    cand.UseTrn = 1;
    g723_1_Gen_Trn2(imr, ImpResp, olp);
  } else {
    cand.UseTrn = 0;
    g723_1_Copy_SubFrLen(ImpResp, imr);
  }
  Word16 half[G723_SubFrLen + 8];
  g723_1_Vec_shl_SFL(imr, half, -1);
  g723_1_Set_zero4(half + G723_SubFrLen, 8);
  const Word32 energy = g723_1_Vec_L_sqa_SFL(half);
  Word16 exp = g723_1_norm_l(energy);
  // Even-lag correlations of the response, mirrored: ish[32 + m] holds lag 2m.
  Word16 ish[65];
  ish[32] = g723_1_round(g723_1_L_shl(energy, exp));
  g723_1_Per_Filt_ish(half, half, ish + 32, exp);
  Word16 target[G723_SubFrLen + 8];
  g723_1_Copy_SubFrLen(Tv, target);
  g723_1_Set_zero4(target + G723_SubFrLen, 8);
  Word32 err[G723_SubFrLen];
  g723_1_Backward_Per_Filt(target, imr, err, static_cast<Word16>(exp - 4));

  for (int grid = 0; grid < 2; ++grid) {
    cand.GridId = static_cast<Word16>(grid);
    int first = grid;
    const Word32 top = g723_1_Vec_Max_L_abs_index(err + grid, 30, 2, &first);
    first += grid;
    cand.Ploc[0] = static_cast<Word16>(first);
    const int amp_id = g723_1_Quant_Max_Amp(top, ish[32]);

    for (int step = 1; step <= 4; ++step) {
      cand.MampId = static_cast<Word16>(amp_id - 2 + step);
      const Word16 amp = g723_1_FcbkGainTable[std::clamp<int>(cand.MampId, 0, 23)];
      Word32 corr30[30];
      g723_1_Long_Copy_with_Skip(err + grid, corr30);
      Word16 amp_pos[30], amp_neg[30];
      g723_1_Set_const(amp_pos, amp, 30);
      g723_1_Set_const(amp_neg, g723_1_negate(amp), 30);
      cand.Pamp[0] = err[first] >= 0 ? amp : g723_1_negate(amp);
      const int m0 = (first - grid) / 2;
      corr30[m0] = 0;
      amp_pos[m0] = amp_neg[m0] = 0;
      for (int p = np; p < 6; ++p) cand.Pamp[p] = 0;
      g723_1_PulseSearch(np, cand.Pamp[0], grid, corr30, amp_pos, amp_neg, ish + 32, cand.Ploc, cand.Pamp, amp);
      Word16 y[G723_SubFrLen];
      g723_1_CS_Candidate(best, cand, g723_1_Gen_Score(imr, cand.Ploc, cand.Pamp, y, Tv));
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

  g723_1_Set_zero4(Tv, G723_SubFrLen);
  for (int p = 0; p < np; ++p) Tv[best.Ploc[p]] = best.Pamp[p];
  g723_1_Fcbk_Pack(Tv, &Line->Sfs[Sfc], best, np);
  if (best.UseTrn == 1) g723_1_Gen_Trn(Tv, Tv, olp);
}

// Frame LPC analysis of the GSM half-rate encoder: input high-pass filter, covariance lattice
// analysis with the frame energy R0, the three-segment reflection-coefficient vector
// quantiser, subframe interpolation with its residual-energy test, spectral noise weighting
// and the weighted-speech frame.
#include <algorithm>
#include <cstring>

#include "hr_codec.h"
#include "hr_frame.h"
#include "hr_tables.h"

namespace hr {

void hr_filt4_2nd(Word16* pswIn, Word16* pswXYstate) {
  hr_iir_d(hr_psrHPFCoefs1.data(), pswIn, pswXYstate, 1, 0);
  hr_iir_d(hr_psrHPFCoefs2.data(), pswIn, pswXYstate + 6, 0, 1);
}

Word16 hr_r0Quant(Word32 L_UnqntzdR0) {
  Word16 r = round16(L_UnqntzdR0);
  for (int i = 0; i < 31; ++i)
    if (hr_psrR0DecTbl[2 * i + 1] > r) return static_cast<Word16>(i);
  return 31;
}

namespace {

// Frame-local covariance of the lattice: forward, backward and cross terms per element.
struct Bcf {
  Word32 t[NP][NP][3];
};
enum { F_ = 0, B_ = 1, C_ = 2 };

Word32 qmul(Word32 L, Word16 q) { return sat32((std::int64_t(L) * q) >> 15); }

}  // namespace

Word16 hr_cov32(const Word16* pswIn, Bcf* bcf, Word32* pL_R0, Word32* pL_VadAcf,
                Word16* pswVadScalAuto) {
  // Input scaling from the largest windowed energy of the 11 lattice window positions.
  Word32 E = hr_Vec_L_shr_sqa_FLEN(pswIn, 3, 1146635);
  Word32 acc = E;
  for (int m = 1; m <= NP; ++m) {
    Word16 in = shr(pswIn[159 + m], 3), out = shr(pswIn[m - 1], 3);
    E = L_msu(L_mac(E, in, in), out, out);
    acc |= E;
  }
  Word16 n = static_cast<Word16>(6 - norm_l(acc));
  Word16 shift = n < 0 ? Word16(0) : static_cast<Word16>(((n + 1) >> 1) + 1);
  Word16 x[A_LEN];
  hr_Vec_shr_ALEN(pswIn, x, shift);
  *pswVadScalAuto = shift;

  // Covariance phi(i, k) = sum over n = 10..169 of x[n - i] x[n - k], from its first row.
  Word32 phi[NP + 1][NP + 1];
  for (int k = 0; k <= NP; ++k) phi[0][k] = hr_Vec_L_mac_FLEN(x + NP, x + NP - k);
  for (int i = 0; i < NP; ++i)
    for (int k = i; k < NP; ++k)
      phi[i + 1][k + 1] = L_msu(L_mac(phi[i][k], x[9 - i], x[9 - k]), x[169 - i], x[169 - k]);
  for (int i = 0; i <= NP; ++i)
    for (int k = 0; k < i; ++k) phi[i][k] = phi[k][i];
  for (int k = 0; k <= 8; ++k) pL_VadAcf[k] = phi[0][k];
  *pL_R0 = phi[0][0];
  // Lag window over the covariance.
  for (int i = 0; i <= NP; ++i)
    for (int k = 0; k <= NP; ++k)
      if (i != k) phi[i][k] = hr_L_mpy_ll2(phi[i][k], hr_pL_rFlatSstCoefs[std::abs(i - k) - 1]);
  Word32 diag = 0;
  for (int i = 0; i < NP; ++i)
    for (int k = 0; k < NP; ++k) {
      bcf->t[i][k][F_] = phi[i][k];
      bcf->t[i][k][B_] = phi[i + 1][k + 1];
      bcf->t[i][k][C_] = phi[i][k + 1];
    }
  for (int i = 0; i < NP; ++i) diag |= bcf->t[i][i][F_] | bcf->t[i][i][B_];
  return diag <= 0 ? Word16(0) : static_cast<Word16>(norm_l(diag) - 2);
}

// One lattice stage: the terms of the next stage from the current ones, each read shifted
// left by the stage normalisation.
void hr_recompute_pppL(Bcf* bcf, Word16 swShift, Word16 swRc, int swCount) {
  Word16 rc2 = static_cast<Word16>(std::min<Word32>((Word32(swRc) * swRc + 16384) >> 15, 32767));
  Bcf old = *bcf;
  auto g = [&](int i, int k, int w) { return L_shl(old.t[i][k][w], swShift); };
  for (int i = 0; i < swCount; ++i)
    for (int k = 0; k < swCount; ++k) {
      Word32 f = L_add(g(i, k, F_), qmul(L_add(g(i, k, C_), g(k, i, C_)), swRc));
      bcf->t[i][k][F_] = L_add(f, qmul(g(i, k, B_), rc2));
      Word32 b = L_add(g(i + 1, k + 1, B_),
                       qmul(L_add(g(i + 1, k + 1, C_), g(k + 1, i + 1, C_)), swRc));
      bcf->t[i][k][B_] = L_add(b, qmul(g(i + 1, k + 1, F_), rc2));
      Word32 c = L_add(g(i, k + 1, C_), qmul(L_add(g(i, k + 1, B_), g(i, k + 1, F_)), swRc));
      bcf->t[i][k][C_] = L_add(c, qmul(g(k + 1, i, C_), rc2));
    }
}

Word32 hr_flat(const Word16* pswSpeechIn, Word16* pswRc, Word16* piR0Inx, Word32* pL_VadAcf,
               Word16* pswVadScalAuto) {
  Bcf bcf;
  Word32 L_R0;
  Word16 norm = hr_cov32(pswSpeechIn, &bcf, &L_R0, pL_VadAcf, pswVadScalAuto);

  // R0: square root of the frame energy, with the shift count 8 - norm (less the input
  // scaling), on the scale of the level table.
  Word32 L_UnqntzdR0 = 0;
  if (L_R0 > 0) {
    Word16 n = norm_l(L_R0);
    Word16 r = hr_sqroot(L_shl(L_R0, n));
    Word16 c = static_cast<Word16>(8 + n - 2 * *pswVadScalAuto);
    if (c & 1) r = mult_r(r, 23170);
    r = shr(r, Word16(c >> 1));
    L_UnqntzdR0 = L_deposit_h(r);
  }
  *piR0Inx = hr_r0Quant(L_UnqntzdR0);

  for (int j = 0; j < NP; ++j) {
    Word32 F = L_shl(bcf.t[0][0][F_], norm), B = L_shl(bcf.t[0][0][B_], norm);
    Word32 C = L_shl(bcf.t[0][0][C_], norm);
    Word16 sum = round16(L_add(F, B));
    Word16 cross = round16(L_shl(C, 1));
    if (sum <= 0 || abs_s(cross) >= sum) {
      for (int i = j; i < NP; ++i) pswRc[i] = 0;
      break;
    }
    Word16 k = hr_div_s(abs_s(cross), sum);
    pswRc[j] = cross > 0 ? negate(k) : k;
    if (j == NP - 1) break;
    int count = NP - j - 1;
    hr_recompute_pppL(&bcf, norm, pswRc[j], count);
    Word32 diag = 0;
    for (int i = 0; i < count; ++i) diag |= bcf.t[i][i][F_] | bcf.t[i][i][B_];
    norm = diag <= 0 ? Word16(0) : static_cast<Word16>(norm_l(diag) - 2);
  }
  return L_UnqntzdR0;
}

// ---- reflection-coefficient vector quantiser ----

namespace {
const Word16* codebook(int seg) {
  return seg == 0 ? hr_psrQuant1_v2.data()
                  : (seg == 1 ? hr_psrQuant2_v2.data() : hr_psrQuant3_v2.data());
}
const Word16* prequant(int seg) {
  return seg == 0 ? hr_psrPreQ1_exp.data()
                  : (seg == 1 ? hr_psrPreQ2_exp.data() : hr_psrPreQ3_exp.data());
}
}  // namespace

// Prediction error left after the segment's coefficients, by the 16-bit AFLAT recursion over
// PBar[0..len-1] and VBar[-(len-1)..len-1].
Word16 hr_aflatRecursion(const Word16* rc, const Word16* pBar, const Word16* vBar, int len) {
  Word16 pA[4], pB[4], vA[7], vB[7];
  std::copy(pBar, pBar + len, pA);
  for (int i = -(len - 1); i <= len - 1; ++i) vA[3 + i] = vBar[i];
  Word16 *p = pA, *pn = pB, *v = vA + 3, *vn = vB + 3;
  for (int s = 0; s < len - 1; ++s) {
    Word16 k = rc[s], k2 = mult_r(k, k);
    int m = len - s - 1;  // size of the next stage
    for (int i = 0; i < m; ++i) {
      Word32 L = L_mult(v[i], k);
      L = L_mac(L, v[-i], k);
      L = L_mac(L, p[i], k2);
      L = L_msu(L, p[i], SW_MIN);
      pn[i] = round16(L);
    }
    for (int i = -(m - 1); i <= m - 1; ++i) {
      Word32 L = L_mult(v[-i - 1], k2);
      L = L_msu(L, v[i + 1], SW_MIN);
      int a = i + 1 >= 0 ? i + 1 : -(i + 1);
      L = L_mac(L, p[a], k);
      L = L_mac(L, p[a], k);
      vn[i] = round16(L);
    }
    std::swap(p, pn);
    std::swap(v, vn);
  }
  Word16 k = rc[len - 1], k2 = mult_r(k, k);
  Word32 L = L_mult(v[0], k);
  L = L_mac(L, v[0], k);
  L = L_mac(L, p[0], k2);
  L = L_msu(L, p[0], SW_MIN);
  return round16(L);
}

void hr_aflatRecursion2(QuantList* ql, const Word16* pBar, const Word16* vBar, int iSeg,
                        int iWordPtr) {
  int len = hr_psvqIndex[3 * iSeg + 2];
  const Word16* tab = iWordPtr < 0 ? prequant(iSeg) : codebook(iSeg) + 2 * iWordPtr;
  for (int c = 0; c < ql->iNum; ++c) {
    Word16 e = hr_aflatRecursion(tab + len * c, pBar, vBar, len);
    ql->pswPredErr[c] = Word32(e) * 65536 + (ql->pswPredErr[c] & 0xFFFF);
  }
}

void hr_findBestInQuantList4(QuantList* in, QuantList2* out) {
  for (int t = 0; t < 4; ++t) {
    Word32 m = hr_Vec_L_min(in->pswPredErr, std::max<int>(in->iNum, 8));
    int pos = m & 0xFFFF;
    out[t].iNum = 1;
    out[t].pswPredErr = extract_h(m);
    out[t].iRCIndex = static_cast<Word16>(in->iRCIndex + pos);
    in->pswPredErr[pos] = Word32(32767) * 65536 + pos;
  }
}

void hr_findBestInQuantList1(const QuantList* in, QuantList2* out) {
  Word32 m = hr_Vec_L_min(in->pswPredErr, std::max<int>(in->iNum, 8));
  out->iNum = 1;
  out->pswPredErr = extract_h(m);
  out->iRCIndex = static_cast<Word16>(in->iRCIndex + (m & 0xFFFF));
}

void hr_getNextVec(int iSeg, int iVector, Word16* pswRc) {
  int len = hr_psvqIndex[3 * iSeg + 2];
  int l = hr_psvqIndex[3 * iSeg] - 1;
  const Word16* v = codebook(iSeg) + len * iVector;
  std::copy(v, v + len, pswRc + l);
}

void hr_lpcCorrQntz(const Word32* pL_CorrelSeq, Word16* pswFinalRc, Word16* piVQCodewds,
                    QuantList quantList) {
  Word32 pFull[NP], pFull2[NP], vFullA[2 * NP - 1], vFullB[2 * NP - 1];
  Word32 *pf = pFull, *pf2 = pFull2, *vf = vFullA + NP - 1, *vf2 = vFullB + NP - 1;
  hr_initPBarFullVBarFullL(pL_CorrelSeq, pf, vf);
  for (int seg = 0; seg < 3; ++seg) {
    int l = hr_psvqIndex[3 * seg] - 1;
    int len = hr_psvqIndex[3 * seg + 2];
    Word16 pBar[4], vBarSpace[7];
    Word16* vBar = vBarSpace + 3;
    for (int i = 0; i < len; ++i) pBar[i] = round16(pf[i]);
    for (int i = -(len - 1); i <= len - 1; ++i) vBar[i] = round16(vf[i]);

    // Pre-quantiser: the four best cells, then every codebook vector of those cells.
    QuantList ql = quantList;
    ql.iNum = hr_psrPreQSz[seg];
    ql.iRCIndex = 0;
    hr_aflatRecursion2(&ql, pBar, vBar, seg, -1);
    for (int c = ql.iNum; c < 64; ++c) ql.pswPredErr[c] = Word32(32767) * 65536 + c;
    QuantList2 cells[4];
    hr_findBestInQuantList4(&ql, cells);
    QuantList2 best{1, 0, SW_MAX};
    bool first = true;
    for (const auto& cell : cells) {
      QuantList blk = quantList;
      blk.iNum = hr_psrQuantSz[seg];
      blk.iRCIndex = static_cast<Word16>(cell.iRCIndex * blk.iNum);
      hr_aflatRecursion2(&blk, pBar, vBar, seg, blk.iRCIndex * len / 2);
      for (int c = blk.iNum; c < 64; ++c) blk.pswPredErr[c] = Word32(32767) * 65536 + c;
      QuantList2 b;
      hr_findBestInQuantList1(&blk, &b);
      if (first || b.pswPredErr < best.pswPredErr ||
          (b.pswPredErr == best.pswPredErr && b.iRCIndex < best.iRCIndex))
        best = b;
      first = false;
    }
    piVQCodewds[seg] = best.iRCIndex;
    hr_getNextVec(seg, best.iRCIndex, pswFinalRc);
    // Carry the full-precision terms through the chosen coefficients.
    for (int i = 0; i < len; ++i) {
      int j = l + i;
      if (j == NP - 1) break;
      hr_aFlatRcDp_Loop1(pf, vf, pf2, vf2, pswFinalRc[j], j);
      std::swap(pf, pf2);
      std::swap(vf, vf2);
    }
  }
}

void hr_aflat(const Word16* pswSpeechToLPC, Word16* piR0Index, Word16* pswFinalRc,
              Word16* piVQCodewds, Word16* pswVadFlag, Word16* pswSP, HR_ENCODER* st) {
  Word16 flatsRc[NP];
  Word32 vadAcf[9];
  Word16 vadScale;
  Word32 L_R0 = hr_flat(pswSpeechToLPC, flatsRc, piR0Index, vadAcf, &vadScale);
  Word16 vadRc[4];
  std::copy(flatsRc, flatsRc + 4, vadRc);
  Word32 corr[NP + 1];
  hr_rcToCorrDpL(flatsRc, corr);
  Word16 vad = hr_vad_computation(vadAcf, vadScale, vadRc, &st->hr_vad);
  if (st->DTXon == 0) vad = 1;
  *pswVadFlag = vad;
  *pswSP = hr_swComfortNoise(vad, L_R0, corr, &st->hr_dtx_e);
  if (*pswSP == 0) {
    std::copy(flatsRc, flatsRc + NP, pswFinalRc);  // the SID carries the comfort-noise codes
  } else {
    hr_lpcCorrQntz(corr, pswFinalRc, piVQCodewds, st->hr_dtx_e.quantList);
  }
}

// ---- subframe coefficients and weighting ----

Word16 hr_compResidEnergy(HR_ENCODER* st, const Word16* speech, Word16 (*interp)[NP],
                          const Word16* newAs, const NormSw* rs) {
  Word16 minSh = SW_MAX;
  for (int s = 0; s < N_SUB; ++s)
    if (rs[s].man > 0 && rs[s].sh < minSh) minSh = rs[s].sh;
  Word16 factor = minSh >= 1 ? 0 : (minSh == 0 ? 16384 : (minSh == -1 ? 8192 : 4096));
  auto energy = [&](const Word16* r, Word32 L0) {
    return factor == 0 ? hr_Vec_L_sqa_SLEN(r, L0) : hr_Vec_mult_r_Sqa_SLEN(r, factor, L0);
  };
  Word16 state[NP];
  std::copy(st->pswAnalysisState, st->pswAnalysisState + NP, state);
  Word16 in[S_LEN], resid[S_LEN];
  Word32 L = 0;
  for (int s = 0; s < N_SUB; ++s) {
    std::copy(speech + 40 * s, speech + 40 * s + S_LEN, in);
    hr_lpcFir(in, interp[s], state, resid);
    L = energy(resid, L);
  }
  for (int s = 0; s < N_SUB; ++s) {
    std::copy(speech + 40 * s, speech + 40 * s + S_LEN, in);
    hr_lpcFir(in, s == 0 ? st->pswOldFrmAs : newAs, st->pswAnalysisState, resid);
    L = L_negate(energy(resid, L_negate(L)));
  }
  return L < 0 ? 1 : 0;
}

Word16 hr_getSfrmLpcTx(HR_ENCODER* st, const Word16* speech, Word16 swNewR0,
                       const Word16* newKs, const Word16* newAs, const Word16* newSNW,
                       NormSw* rs, Word16 (*synthAs)[NP], Word16 (*snwAs)[NP]) {
  for (int s = 0; s < 3; ++s) {
    const bool old = s == 0;
    Word16 ok = hr_interpolateCheck(old ? st->pswOldFrmKs : newKs, old ? st->pswOldFrmAs : newAs,
                                    st->pswOldFrmAs, newAs, hr_psrOldCont[s], hr_psrNewCont[s],
                                    old ? st->swOldR0 : swNewR0, &rs[s], synthAs[s]);
    if (ok)
      hr_interpolateCoefs(newSNW, st->pswOldFrmSNWCoefs, nullptr, nullptr, snwAs[s], nullptr,
                          hr_psrNewCont[s], hr_psrOldCont[s]);
    else
      std::copy(old ? st->pswOldFrmSNWCoefs : newSNW, (old ? st->pswOldFrmSNWCoefs : newSNW) + NP,
                snwAs[s]);
  }
  std::copy(newAs, newAs + NP, synthAs[3]);
  std::copy(newSNW, newSNW + NP, snwAs[3]);
  hr_res_eng(newKs, swNewR0, &rs[3]);
  if (hr_compResidEnergy(st, speech, synthAs, newAs, rs)) return 1;
  std::copy(st->pswOldFrmAs, st->pswOldFrmAs + NP, synthAs[0]);
  std::copy(st->pswOldFrmSNWCoefs, st->pswOldFrmSNWCoefs + NP, snwAs[0]);
  hr_res_eng(st->pswOldFrmKs, st->swOldR0, &rs[0]);
  hr_res_eng(newKs, swNewR0, &rs[1]);
  for (int s = 1; s < N_SUB; ++s) {
    std::copy(newAs, newAs + NP, synthAs[s]);
    std::copy(newSNW, newSNW + NP, snwAs[s]);
    rs[s] = rs[1];
  }
  return 0;
}

void hr_getNWCoefs(const Word16* pswACoefs, Word16* pswHCoefs) {
  Word16 num[NP], denP[NP];
  for (int i = 0; i < NP; ++i) {
    num[i] = mult_r(pswACoefs[i], hr_psrNWCoefs[i]);
    denP[NP - 1 - i] = negate(mult_r(pswACoefs[i], hr_psrNWCoefs[NP + i]));
  }
  Word16 ir[NP + S_LEN] = {};
  hr_lpcIrZsIir(pswACoefs, ir + NP);
  Word16 firOut[S_LEN];
  hr_Residu(num, ir + NP, firOut);
  Word16 y[S_LEN + NP] = {};
  hr_lpcZsIirP(denP, firOut, y);
  Word32 L[NP + 1];
  Word16 n = hr_g_corr1(y, &L[0]);
  hr_getNWCoefs_CalcACF(y, L);
  hr_Vec_L_shl_NP(L + 1, n);
  Word16 rc[NP];
  hr_aFlatRcDp(L, rc);
  hr_rcToADp(2048, rc, pswHCoefs);
}

void hr_weightSpeechFrame(HR_ENCODER* st, const Word16* speech, Word16 (*synthAs)[NP],
                          Word16 (*snwAs)[NP]) {
  Word16* w = st->pswWgtSpeechSpace;
  hr_Copy(w + F_LEN, w, W_BUF - F_LEN);
  Word16 scratch[F_LEN];
  Word16 in[S_LEN];
  for (int s = 0; s < N_SUB; ++s) {
    std::copy(speech + 40 * s, speech + 40 * s + S_LEN, in);
    hr_lpcFir(in, synthAs[s], st->pswWStateNum, scratch + 40 * s);
  }
  for (int s = 0; s < N_SUB; ++s)
    hr_lpcIir2(scratch + 40 * s, snwAs[s], st->pswWStateDenom, w + 145 + 40 * s);
}

}  // namespace hr

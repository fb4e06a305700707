// Subframe analysis-by-synthesis of the GSM half-rate encoder: zero-input response removal,
// harmonic noise weighting, closed-loop lag search, VSELP codebooks, joint gain quantisation
// and the excitation histories.
#include <algorithm>

#include "hr_frame.h"
#include "hr_tables.h"

namespace hr {

namespace {
constexpr int HNW_HIST = 145;

Word16 energy_shift(Word32 E) {
  Word16 e = round16(E);
  return e < 2048 ? Word16(0) : (e < 8192 ? Word16(1) : Word16(2));
}
}  // namespace

Word16 hr_closedLoopLagSearch(const Word16* lagList, int n, Word16* ltpState,
                              const Word16* hCoefs, const Word16* target, Word16* pLag,
                              Word16* pShift, Word16 (*tVect)[S_LEN], Word16 (*ltpVect)[S_LEN],
                              int* pBest) {
  Word32 E = 1965900;
  for (int k = 0; k < n; ++k) {
    hr_fp_ex_copy(lagList[k], ltpState, ltpVect[k]);
    hr_lpcZsIir(hCoefs, ltpVect[k], tVect[k]);
    E = hr_Vec_L_shr_sqa_SLEN(tVect[k], 2, E);
  }
  Word16 shift = energy_shift(E);
  Word16 tv2[4][S_LEN];
  Word32 G[4], C[4];
  hr_closedLoopLagSearch_Loop1(&tVect[0][0], &tv2[0][0], target, G, C, shift, n);
  Word32 orC = 0, orG = 0;
  for (int k = 0; k < n; ++k) orC |= L_abs(C[k]), orG |= G[k];
  Word16 nC = norm_l(orC), nG = norm_l(orG);
  Word16 c16[4], g16[4];
  for (int k = 0; k < n; ++k) c16[k] = round16(L_shl(C[k], nC)), g16[k] = round16(L_shl(G[k], nG));
  Word16 cc, g;
  int best = hr_maxCCOverGWithSign(c16, g16, &cc, &g, n);
  *pLag = lagList[best];
  *pShift = shift;
  *pBest = best;
  Word16 code;
  hr_quantLag(lagList[best], &code);
  return code;
}

void hr_sfrmAnalysis(const Word16* pswWSpeech, Word16 mode, const NormSw* snsSqrtRs,
                     const Word16* hCoefs, const Word16* lagList, int nLags, Word16 swPitch,
                     Word16 swHNWCoef, Word16* psiLagCode, Word16* psiVSCode1, Word16* psiVSCode2,
                     Word16* psiGsp0Code, Word16 swSP, HR_ENCODER* st, int sfrm) {
  Word16* hnw = st->pswHNWState;
  Word16* exOut = hnw + HNW_HIST;  // the subframe's excitation slot
  Word16 bits[9];
  Word16 vselp[2][S_LEN], wVselp[2][S_LEN];
  NormSw rs1, rs2;

  if (swSP == 0) {
    // Comfort noise: both unvoiced excitations from the comfort-noise codes, no search.
    for (int c = 0; c < 2; ++c) {
      hr_b_con(c == 0 ? *psiVSCode1 : *psiVSCode2, 7, bits);
      hr_v_con(&hr_pppsrUvCodeVec2[280 * c], vselp[c], bits, 7);
    }
    hr_rs_rr(vselp[0], snsSqrtRs, &rs1, 0);
    hr_rs_rr(vselp[1], snsSqrtRs, &rs2, 0);
    const Word16* gain = &hr_pppsrGsp0[5 * (*psiGsp0Code & 31)];
    hr_scaleExcite(vselp[0], gain[0], &rs1, vselp[0]);
    hr_scaleExcite(vselp[1], gain[1], &rs2, vselp[1]);
    hr_Vec_add_SLEN(vselp[0], vselp[1], exOut);
  } else {
    // 1. Target: weighted speech less the zero-input response.
    hr_lpcZiIir(hCoefs, st->pswHState, exOut);
    Word16 target[S_LEN];
    hr_Vec_sub_SLEN(pswWSpeech, exOut, target);
    // 2. Target scaling.
    Word16 tShift = energy_shift(hr_Vec_L_shr_sqa_SLEN(target, 2, 1965900));
    if (tShift != 0) hr_Vec_shr_SLEN(target, target, tShift);

    Word16 wBasis[9 * S_LEN];
    Word16 pVec[S_LEN], wpVec[S_LEN];
    Word16 hnwCoefs[CG_INT_MACS];
    int hnwCount = 0, hnwOff = 0;
    int nBasis = 7;
    const Word16* basisInt = hr_psrUvCodeVec_Int4.data();
    if (mode == 0) {
      *psiLagCode = 0;
    } else {
      // 4.1 Closed-loop lag search.
      Word16 tVect[4][S_LEN], ltpVect[4][S_LEN];
      Word16 lag, ltpShift;
      int best;
      Word16 code = hr_closedLoopLagSearch(lagList, nLags, st->pswLtpStateBase, hCoefs, target,
                                           &lag, &ltpShift, tVect, ltpVect, &best);
      if (sfrm == 0) {
        *psiLagCode = code;
      } else {
        *psiLagCode = static_cast<Word16>(std::clamp(code - st->siPrevLagCode + 8, 0, 15));
        code = static_cast<Word16>(std::clamp(st->siPrevLagCode + *psiLagCode - 8, 0, 255));
      }
      st->siPrevLagCode = code;
      // 4.2 Harmonic noise weighting filter.
      Word16 P, r;
      hr_get_ipjj(swPitch, &P, &r);
      hr_Calc_HNWCoefs(&hr_ppsrCGIntFilt[6 * r], hnwCoefs, swHNWCoef);
      hnwOff = -3 - P;
      hnwCount = 42 - P;
      // 4.3 Target rebuilt from the weighted speech and response, both weighted.
      Word16 ws[S_LEN], zr[S_LEN];
      hr_hnwFilt1(pswWSpeech, ws, hnwCoefs, hnwOff);
      hr_hnwFilt1(exOut, zr, hnwCoefs, hnwOff);
      std::copy(zr, zr + S_LEN, exOut);
      hr_Vec_sub_shr_SLEN(ws, zr, target, tShift);
      // 4.4 Chosen LTP vector, filtered and unfiltered.
      std::copy(tVect[best], tVect[best] + S_LEN, wpVec);
      if (hnwCount > 0) hr_hnwFilt0(wpVec, hnwCoefs, hnwOff);
      std::copy(ltpVect[best], ltpVect[best] + S_LEN, st->pswLtpStateBase + LTP_LEN);
      hr_Vec_shr_SLEN(ltpVect[best], pVec, ltpShift);
      hr_Vec_shr_SLEN(wpVec, wpVec, ltpShift);
      nBasis = 9;
      basisInt = hr_psrVcdCodeVec_Int4.data();
    }
    // 5. Weighted basis vectors.
    hr_lpcZsIir4(hCoefs, basisInt, wBasis);
    hr_lpcZsIir4(hCoefs, basisInt + 160, wBasis + 160);
    if (nBasis == 9) hr_lpcZsIir(hCoefs, hr_psrVcdCodeVec9.data(), wBasis + 320);
    if (hnwCount > 0)
      for (int k = 0; k < nBasis; ++k) hr_hnwFilt0(wBasis + 40 * k, hnwCoefs, hnwOff);
    if (mode != 0) hr_decorr(nBasis, wpVec, wBasis);
    // 6. First codebook.
    Word16 cw1 = static_cast<Word16>(hr_v_srch(target, wBasis, nBasis));
    *psiVSCode1 = cw1;
    hr_b_con(cw1, nBasis, bits);
    hr_v_con(mode == 0 ? hr_pppsrUvCodeVec2.data() : hr_pppsrVcdCodeVec2.data(), vselp[0], bits,
             nBasis);
    // 7. Second codebook (unvoiced only).
    if (mode == 0) {
      hr_v_con2(wBasis, wVselp[0], bits);
      Word16 wBasis2[8 * S_LEN];
      hr_lpcZsIir4(hCoefs, hr_psrUvCodeVec_Int4.data() + 320, wBasis2);
      hr_lpcZsIir4(hCoefs, hr_psrUvCodeVec_Int4.data() + 480, wBasis2 + 160);
      hr_decorr(7, wVselp[0], wBasis2);
      Word16 cw2 = static_cast<Word16>(hr_v_srch(target, wBasis2, 7));
      *psiVSCode2 = cw2;
      hr_b_con(cw2, 7, bits);
      hr_v_con(hr_pppsrUvCodeVec2.data() + 280, vselp[1], bits, 7);
    } else {
      *psiVSCode2 = 0;
    }
    // 8. Weighted excitations.
    hr_lpcZsIir(hCoefs, vselp[0], wVselp[0]);
    if (hnwCount > 0) hr_hnwFilt0(wVselp[0], hnwCoefs, hnwOff);
    if (mode == 0) hr_lpcZsIir(hCoefs, vselp[1], wVselp[1]);
    // 9. Energy normalisations.
    const Word16* v1 = mode == 0 ? vselp[0] : pVec;
    const Word16* v2 = mode == 0 ? vselp[1] : vselp[0];
    hr_rs_rr(v1, snsSqrtRs, &rs1, mode == 0 ? Word16(0) : Word16(1));
    hr_rs_rr(v2, snsSqrtRs, &rs2, 0);
    // 10. Gain code.
    const Word16* wv1 = mode == 0 ? wVselp[0] : wpVec;
    const Word16* wv2 = mode == 0 ? wVselp[1] : wVselp[0];
    Word16 gcode = hr_g_quant_vl(mode, target, tShift, wv1, wv2, &rs1, &rs2);
    *psiGsp0Code = gcode;
    // 11. Excitation.
    const Word16* gain = &hr_pppsrGsp0[160 * (mode & 3) + 5 * gcode];
    Word16 e1[S_LEN], e2[S_LEN];
    std::copy(v1, v1 + S_LEN, e1);
    std::copy(v2, v2 + S_LEN, e2);
    hr_scaleExcite(e1, gain[0], &rs1, e1);
    hr_scaleExcite(e2, gain[1], &rs2, e2);
    hr_Vec_add_SLEN(e1, e2, exOut);
  }

  // History update, every subframe.
  Word16* ltp = st->pswLtpStateBase;
  hr_Copy(ltp + 40, ltp, 107);
  std::copy(exOut, exOut + S_LEN, ltp + 107);
  Word16 ex[S_LEN];
  std::copy(exOut, exOut + S_LEN, ex);
  hr_Copy(hnw + 40, hnw, 105);
  hr_lpcIir2(ex, hCoefs, st->pswHState, hnw + 105);
}

}  // namespace hr

// Decoder routines of the GSM half-rate codec: codeword lookup, subframe interpolation,
// residual energy, fractional-lag excitation, VSELP vectors, excitation scaling, the pitch
// prefilter, the spectral postfilter and the LPC filters with their state handling. The
// encoder reuses most of them.
#include <algorithm>

#include "hr_codec.h"
#include "hr_tables.h"

namespace hr {

Word16 hr_lagDecode(Word16 swDeltaLag, Word16* swLastLag, int giSfrmCnt) {
  int idx = swDeltaLag;
  if (giSfrmCnt != 0) idx = std::clamp(swDeltaLag - 8 + *swLastLag, 0, 255);
  idx = std::clamp(idx, 0, 255);
  *swLastLag = static_cast<Word16>(idx);
  return hr_psrLagTbl[idx];
}

void hr_lookupVq(const Word16* w, Word16* rc) {
  for (int j = 0; j < 3; ++j) rc[j] = hr_psrQuant1_v2[3 * (w[0] & 2047) + j];
  for (int j = 0; j < 3; ++j) rc[3 + j] = hr_psrQuant2_v2[3 * (w[1] & 511) + j];
  for (int j = 0; j < 4; ++j) rc[6 + j] = hr_psrQuant3_v2[4 * (w[2] & 255) + j];
}

void hr_res_eng(const Word16* rc, Word16 swRq, NormSw* out) {
  Word16 P = SW_MIN;
  Word16 c = -6;
  for (int i = 0; i < NP; ++i) {
    Word16 t = round16(L_add(L_mult(rc[i], rc[i]), LW_MIN));
    Word32 L = L_mult(t, P);
    Word16 n = norm_s(extract_h(L));
    P = round16(L_shl(L, n));
    c = add(c, n);
  }
  Word16 mag = P == SW_MIN ? SW_MAX : abs_s(P);
  Word16 r = hr_sqroot(Word32(mag) * 65536);
  if (c & 1) r = mult_r(r, 23170);
  Word32 L = L_mult(swRq, r);
  Word16 n = norm_l(L);
  out->man = round16(L_shl(L, n));
  out->sh = static_cast<Word16>((c >> 1) + n);
}

Word16 hr_interpolateCheck(const Word16* refKs, const Word16* refA, const Word16* oldA,
                           const Word16* newA, Word16 oldPer, Word16 newPer, Word16 swRq,
                           NormSw* out, Word16* coefOut) {
  Word16 rc[NP];
  hr_interpolateCheck_Coef(newA, oldA, coefOut, newPer, oldPer);
  if (hr_aToRc(4, coefOut, rc) == 0) {
    hr_res_eng(rc, swRq, out);
    return 1;
  }
  std::copy(refA, refA + NP, coefOut);
  hr_res_eng(refKs, swRq, out);
  return 0;
}

void hr_getSfrmLpc(Word16 soft, Word16 swPrevR0, Word16 swNewR0, const Word16* oldKs,
                   const Word16* oldAs, const Word16* oldNum, const Word16* oldDen,
                   const Word16* newKs, const Word16* newAs, const Word16* newNum,
                   const Word16* newDen, NormSw* rs, Word16* const* synthAs,
                   Word16* const* pfNum, Word16* const* pfDen) {
  auto copy10 = [](const Word16* s, Word16* d) { std::copy(s, s + NP, d); };
  if (soft) {
    for (int k = 0; k < 3; ++k) {
      const bool old = k == 0;
      Word16 ok = hr_interpolateCheck(old ? oldKs : newKs, old ? oldAs : newAs, oldAs, newAs,
                                      hr_psrOldCont[k], hr_psrNewCont[k],
                                      old ? swPrevR0 : swNewR0, &rs[k], synthAs[k]);
      if (ok) {
        hr_interpolateCoefs(newNum, oldNum, newDen, oldDen, pfNum[k], pfDen[k], hr_psrNewCont[k],
                            hr_psrOldCont[k]);
      } else {
        copy10(old ? oldNum : newNum, pfNum[k]);
        copy10(old ? oldDen : newDen, pfDen[k]);
      }
    }
    copy10(newAs, synthAs[3]);
    copy10(newNum, pfNum[3]);
    copy10(newDen, pfDen[3]);
    hr_res_eng(newKs, swNewR0, &rs[3]);
  } else {
    copy10(oldAs, synthAs[0]);
    copy10(oldNum, pfNum[0]);
    copy10(oldDen, pfDen[0]);
    hr_res_eng(oldKs, swPrevR0, &rs[0]);
    hr_res_eng(newKs, swNewR0, &rs[1]);
    for (int k = 1; k < 4; ++k) {
      copy10(newAs, synthAs[k]);
      copy10(newNum, pfNum[k]);
      copy10(newDen, pfDen[k]);
      rs[k] = rs[1];
    }
  }
}

void hr_aFlatRcDp(const Word32* pL_R, Word16* rc) {
  Word32 pA[NP], pB[NP], vA[2 * NP - 1], vB[2 * NP - 1];
  Word32 *pOld = pA, *pNew = pB, *vOld = vA + NP - 1, *vNew = vB + NP - 1;
  hr_initPBarFullVBarFullL(pL_R, pOld, vOld);
  for (int j = 0; j < NP; ++j) {
    Word16 num = round16(vOld[0]);
    Word16 den = round16(pOld[0]);
    if (den <= 0 || abs_s(num) >= den) {
      for (int i = j; i < NP; ++i) rc[i] = 0;
      return;
    }
    // The quotient is taken on the normalised terms: the 16-bit denominator alone keeps only
    // a dozen bits once the energy has fallen through the earlier stages.
    Word16 n = norm_l(pOld[0]);
    Word16 dn = round16(L_shl(pOld[0], n));
    Word16 nn = std::min(round16(L_shl(L_abs(vOld[0]), n)), dn);
    Word16 k = hr_div_s(nn, dn);
    rc[j] = num > 0 ? negate(k) : k;
    if (j == NP - 1) break;
    hr_aFlatRcDp_Loop1(pOld, vOld, pNew, vNew, rc[j], j);
    std::swap(pOld, pNew);
    std::swap(vOld, vNew);
  }
}

void hr_a_sst(const Word16* in, Word16* out) {
  Word16 rc[NP], rc2[NP];
  Word32 L[NP + 1];
  hr_aToRc(4, in, rc);
  hr_rcToCorrDpL(rc, L);
  hr_a_sst_Loop(L, hr_psrSST.data());
  hr_aFlatRcDp(L, rc2);
  hr_rcToADp(2048, rc2, out);
}

void hr_b_con(Word16 code, int n, Word16* out) {
  for (int i = 0; i < n; ++i) out[i] = ((code >> i) & 1) ? Word16(16384) : Word16(-16384);
}

void hr_get_ipjj(Word16 lag, Word16* ip, Word16* jj) {
  *ip = static_cast<Word16>(lag / 6);
  *jj = static_cast<Word16>(lag % 6);
}

void hr_fp_ex(Word16 lag, Word16* p) {
  int done = 0;
  Word16 cur = lag;
  while (done < S_LEN) {
    Word16 ip, jj;
    hr_get_ipjj(cur, &ip, &jj);
    int cnt = std::min<int>(ip, S_LEN - done);
    if (jj == 0) {
      for (int n = done; n < done + cnt; ++n) p[n] = p[n - ip];
    } else if (done == 0 && cnt == S_LEN) {
      hr_fp_ex_fracLag_SLEN(p, &hr_ppsrPVecIntFilt[10 * jj], ip);
    } else {
      hr_fp_ex_fracLag(p, &hr_ppsrPVecIntFilt[10 * jj], done, cnt, ip);
    }
    done += cnt;
    cur = add(cur, lag);
  }
}

void hr_fp_ex_copy(Word16 lag, Word16* state, Word16* out) {
  hr_fp_ex(lag, state + LTP_LEN);
  std::copy(state + LTP_LEN, state + LTP_LEN + S_LEN, out);
}

void hr_rs_rr(const Word16* v, const NormSw* sqrtRs, NormSw* out, Word16 shift) {
  Word32 L;
  Word16 es;
  if (shift == 1) {
    Word16 e = sub(shl(sqrtRs->sh, 1), 3);
    es = e < 0 ? hr_g_corr1s(v, negate(e), &L) : hr_g_corr1(v, &L);
  } else {
    es = hr_g_corr1(v, &L);
  }
  Word16 r = hr_sqroot(L);
  Word32 R;
  if (es & 1) {
    es = sub(es, 1);
    R = L_mult(r, 23170);
  } else {
    R = L_deposit_h(r);
  }
  Word16 n = norm_l(R);
  Word16 d = round16(L_shl(R, n));
  Word16 m = hr_div_s(Word16(sqrtRs->man >> 1), d);
  Word16 p = norm_s(m);
  out->man = shl(m, p);
  Word16 sh = sub(sqrtRs->sh, add(Word16(es / 2), n));
  out->sh = add(sub(sh, 1), p);
}

Word16 hr_scaleExcite(Word16* v, Word16 err, const NormSw* rs, Word16* out) {
  Word32 L = L_mult(err, rs->man);
  Word16 n = norm_s(extract_h(L));
  L = L_shl(L, n);
  Word16 s = add(n, sub(rs->sh, 1));
  if (s >= 0) {
    Word16 g = round16(L_shr(L, s));
    hr_scaleExcite_v2(v, out, g);
    return g;
  }
  hr_scaleExcite_v1(v, out, round16(L), s);
  return SW_MAX;
}

Word16 hr_agcGain(const Word16* x, NormSw* eIn, Word16 s) {
  Word32 L;
  Word16 shOut = add(hr_g_corr1s(x, s, &L), 1);
  if (L == 0) return 0;
  eIn->man = static_cast<Word16>(eIn->man >> 1);
  Word16 g = hr_div_s(eIn->man, round16(L));
  Word16 n = norm_s(g);
  Word16 sh = add(sub(eIn->sh, shOut), n);
  Word16 r = hr_sqroot(L_deposit_h(shl(g, n)));
  if (add(sh, 2) < 0) return SW_MAX;
  if (sh & 1) r = extract_h(L_mult(r, 23170));
  Word16 k = static_cast<Word16>((sh >> 1) + 1);
  if (k > 0) r = shr(r, k);
  return r;
}

void hr_pitchPreFilt(const Word16* ex, Word16 G, Word16 lag, Word16 mode, Word16 semiBeta,
                     const NormSw* sqrtRs, Word16* out, Word16* st) {
  if (mode == 0) {
    hr_Copy(st + 40, st, 107);
    std::copy(ex, ex + S_LEN, st + 107);
    std::copy(ex, ex + S_LEN, out);
    return;
  }
  Word16 e = sub(3, shl(sqrtRs->sh, 1));
  NormSw energy;
  Word32 L;
  if (e <= 0) {
    e = 0;
    L = hr_Vec_L_sqa_SLEN(ex, 0);
    Word16 n = norm_l(L);
    L = L_shl(L, n);
    energy.sh = n;
  } else {
    energy.sh = hr_g_corr1s(ex, e, &L);
  }
  energy.man = round16(L);
  Word16 limit = hr_ppsrSqrtP0[32 * (mode - 1) + (G & 31)];
  Word16 gain = mult_r(std::min(limit, semiBeta), 9830);
  Word16 ip, jj;
  hr_get_ipjj(lag, &ip, &jj);
  hr_pitchPreFilt_loop1(ex, st + LTP_LEN, &hr_ppsrPVecIntFilt[10 * jj], gain, ip);
  Word16 g = hr_agcGain(st + LTP_LEN, &energy, e);
  hr_pitchPreFilt_loop2(st + LTP_LEN, out, g);
  hr_Copy(st + 40, st, LTP_LEN);
}

// The FIR and IIR filters join state and samples in a buffer of their own, so callers need no
// writable words in front of their vectors.
void hr_lpcFir(Word16* in, const Word16* coef, Word16* state, Word16* out) {
  Word16 buf[NP + S_LEN] = {};
  Word16 saved[NP];
  std::copy(in, in + S_LEN, buf + NP);
  hr_Save_Restore(saved, buf + NP - 1, buf + NP - 1, state);
  hr_Residu(coef, buf + NP, out);
  hr_Save_Restore(state, buf + NP + S_LEN - 1, buf + NP - 1, saved);
}

void hr_lpcIir2(const Word16* in, const Word16* coef, Word16* state, Word16* out) {
  Word16 buf[NP + S_LEN] = {};
  Word16 saved[NP];
  hr_Save_Restore(saved, buf + NP - 1, buf + NP - 1, state);
  hr_Synt(coef, in, buf + NP);
  hr_Save_Restore(state, buf + NP + S_LEN - 1, buf + NP - 1, saved);
  std::copy(buf + NP, buf + NP + S_LEN, out);
}

void hr_lpcZiIir(const Word16* coef, const Word16* state, Word16* out) {
  Word16 buf[NP + S_LEN];
  for (int i = 0; i < NP; ++i) buf[NP - 1 - i] = state[i];
  hr_Synt3(coef, buf);
  std::copy(buf + NP, buf + NP + S_LEN, out);
}

void hr_spectralPostFilter(const Word16* in, const Word16* num, const Word16* den, Word16* out,
                           HR_DECODER* dec, Word16 shift) {
  Word32 L;
  NormSw energy;
  energy.sh = hr_g_corr1s(in, shift, &L);
  energy.man = round16(L);
  Word16 inBuf[S_LEN];
  Word16 firBuf[S_LEN];
  std::copy(in, in + S_LEN, inBuf);
  hr_lpcFir(inBuf, num, dec->gpswPostFiltStateNum, firBuf);
  hr_lpcIir2(firBuf, den, dec->gpswPostFiltStateDenom, out);
  hr_spectralPostFilter_loop1(out, &dec->swPostEmphasisState);
  Word16 g = hr_agcGain(out, &energy, shift);
  dec->gswPostFiltAgcGain = hr_spectralPostFilter_loop2(
      out, L_deposit_h(dec->gswPostFiltAgcGain), dec->gswPostFiltAgcGain, g);
}

void hr_update_gs_history_d(HR_DTX_DEC* dtx, Word16 mode, const Word16* prm) {
  for (int k = 0; k < N_SUB; ++k) {
    dtx->pL_RxGsHist[dtx->swRxGsHistPtr] = hr_ppLr_gsTable[32 * (mode & 3) + (prm[8 + 3 * k] & 31)];
    dtx->swRxGsHistPtr++;
  }
  if (dtx->swRxGsHistPtr > 27) dtx->swRxGsHistPtr = 0;
}

}  // namespace hr

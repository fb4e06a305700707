// Open-loop lag search and voicing decision of the GSM half-rate encoder. Lags are in sixths
// of a sample; integer lags run from 21 to 142.
#include <algorithm>

#include "hr_frame.h"
#include "hr_tables.h"

namespace hr {

namespace {
constexpr int C_LAGS = 128;   // correlations per subframe, lags 18..145
constexpr int LAG_LO = 18;    // lag of the first correlation
constexpr int MAX_TRAJ = 8;
constexpr int MAX_PEAKS = 13;
constexpr Word16 NO_PITCH = 126;  // harmonic-noise-weighting lag without a peak
}  // namespace

Word16 hr_quantLag(Word16 swRawLag, Word16* pswCode) {
  int code = 0;
  if (swRawLag >= 120 && swRawLag <= 859) {
    auto w = static_cast<std::uint16_t>(hr_quantLagIndx[(swRawLag - 120) >> 1]);
    code = (swRawLag & 1) ? (w >> 8) : (w & 0xFF);
  } else if (swRawLag > 859) {
    code = 255;
  }
  *pswCode = static_cast<Word16>(code);
  return hr_psrLagTbl[code];
}

// log2 of a positive Q31 fraction, result in Q16 (upper half the integer part).
Word32 hr_fnLog2(Word32 L_Input) {
  if (L_Input <= 0) return LW_MIN;
  Word16 n = norm_l(L_Input);
  Word16 x = extract_h(L_shl(L_Input, n));
  Word32 L = L_mult(hr_pswLog2[0], mult_r(x, x));
  L = L_mac(L, hr_pswLog2[1], x);
  L = L_add(L, L_deposit_h(hr_pswLog2[2]));
  // L holds log2(x) / 2 as a Q31 fraction.
  return L_sub(L >> 14, Word32(n) * 65536);
}

// 2 to the power of a non-positive Q16 value, Q15 result.
Word16 hr_fnExp2(Word32 L_Input) {
  Word32 i = L_Input >> 16;
  Word16 f = static_cast<Word16>(((L_Input & 0xFFFF) >> 1) - 32768);  // fraction - 1
  Word32 L = L_mult(hr_pswPCoefE[0], mult_r(f, f));
  L = L_mac(L, hr_pswPCoefE[1], f);
  L = L_add(L, L_deposit_h(hr_pswPCoefE[2]));
  Word16 r = round16(L);
  Word32 sh = i + 1;
  if (sh >= 0) return SW_MAX;
  if (sh < -15) return 0;
  return shr(r, static_cast<Word16>(-sh));
}

Word16 hr_getCCThreshold(Word16 swRp0, Word16 swCC, Word16 swG) {
  Word32 L = L_mult(swRp0, swG);
  Word32 diff = L_sub(L, L_deposit_h(swCC));
  Word16 ratio = 33;
  if (diff > 0 && extract_h(L) > 0) {
    Word16 num = extract_h(diff), den = extract_h(L);
    ratio = num >= den ? SW_MAX : hr_div_s(num, den);
    if (ratio < 34) ratio = 33;
  }
  Word32 lg = hr_L_mpy_ls(hr_fnLog2(L_deposit_h(ratio)), 24576);
  Word16 t = hr_fnExp2(lg);
  return static_cast<Word16>(extract_h(L_msu(L_deposit_h(swRp0), swRp0, t)) >> 1);
}

Word16 hr_findPeak(Word16 lag, const Word16* C, const Word16* G) {
  int lo = std::max(lag - 4, 20), hi = std::min(lag + 4, 143);
  Word16 cc, g, idx;
  hr_fnBest_CG1(C + lo - LAG_LO, G + lo - LAG_LO, &cc, &g, &idx, hi - lo + 1);
  if (idx <= 0 || idx >= hi - lo) return 0;
  return static_cast<Word16>((lo + idx) * 6);
}

int hr_CGInterpValid(Word16 lag6, const Word16* C, const Word16* G, Word16* Lout, Word16* Cout,
                     Word16* Gout) {
  Word16 cl, ch;
  Word16 ql = hr_quantLag(static_cast<Word16>(lag6 - 6), &cl);
  if (ql != lag6 - 6 && cl < 255) ++cl;
  Word16 qh = hr_quantLag(static_cast<Word16>(lag6 + 6), &ch);
  if (qh != lag6 + 6 && ch > cl) --ch;
  int n = ch - cl + 1;
  for (int i = 0; i < n; ++i) Lout[i] = hr_psrLagTbl[cl + i];
  hr_CGInterp(Lout, n, C, G, LAG_LO, Cout, Gout);
  return n;
}

int hr_maxCCOverGWithSign(const Word16* C, const Word16* G, Word16* pCC, Word16* pG, int n) {
  auto signedCC = [&](int i) -> Word16 {
    if (G[i] <= 0) return SW_MIN;
    Word16 cc = mult_r(C[i], C[i]);
    return C[i] < 0 ? negate(cc) : cc;
  };
  int best = 0;
  Word16 bcc = signedCC(0), bg = abs_s(G[0]);
  for (int i = 1; i < n; ++i) {
    Word16 cc = signedCC(i);
    if (L_msu(L_mult(cc, bg), G[i], bcc) > 0) best = i, bcc = cc, bg = G[i];
  }
  *pCC = bcc;
  *pG = bg;
  return best;
}

namespace {

struct Peaks {
  int n = 0;
  Word16 L[MAX_PEAKS], C[MAX_PEAKS], G[MAX_PEAKS];
  bool near(Word16 lag) const {
    for (int i = 0; i < n; ++i)
      if (std::abs(L[i] - lag) <= 10) return true;
    return false;
  }
  void add(Word16 lag, Word16 c, Word16 g) {
    if (n < MAX_PEAKS && !near(lag)) L[n] = lag, C[n] = c, G[n] = g, ++n;
  }
};

// Best fractional lag around an integer peak whose C^2/G beats the threshold (C^2/G in energy
// units), or none.
bool refine(Word16 lag6, const Word16* C, const Word16* G, Word16 thresh, Word16* L, Word16* c,
            Word16* g) {
  Word16 lt[16], ct[16], gt[16];
  int n = hr_CGInterpValid(lag6, C, G, lt, ct, gt);
  Word16 cc = thresh, gm = 1, idx;
  hr_fnBest_CG(ct, gt, &cc, &gm, &idx, n);
  if (idx < 0) return false;
  *L = lt[idx], *c = ct[idx], *g = gt[idx];
  return true;
}

// Peaks around the best integer lag, its sub-multiples and multiples; the two best are output,
// best first, with the harmonic-noise-weighting lag and coefficient.
int pitch_lags(Word16 bestInt, const Word16* C, const Word16* G, Word16 thresh, Word16* lOut,
               Word16* cOut, Word16* gOut, Word16* pitch, Word16* hnwCoef) {
  Peaks pk;
  *pitch = NO_PITCH;
  *hnwCoef = 0;
  Word16 L0, C0, G0;
  if (!refine(static_cast<Word16>(bestInt * 6), C, G, 0, &L0, &C0, &G0)) return 0;
  pk.add(L0, C0, G0);
  *pitch = L0;
  Word16 ratio = C0 >= G0 ? SW_MAX : hr_div_s(C0, G0);
  *hnwCoef = mult_r(ratio, 13107);
  for (Word16 f : hr_psrSubMultFactor) {
    Word16 sub = mult_r(static_cast<Word16>(bestInt * 6), f);
    if (sub <= 20) break;
    Word16 p = hr_findPeak(sub, C, G);
    Word16 l, c, g;
    if (p != 0 && refine(p, C, G, thresh, &l, &c, &g)) pk.add(l, c, g);
  }
  for (Word32 m = 2 * Word32(L0); m < 143 * 6; m += L0) {
    Word16 il = static_cast<Word16>((m * 5461) >> 15);
    Word16 p = hr_findPeak(il, C, G);
    Word16 l, c, g;
    if (p != 0 && refine(p, C, G, thresh, &l, &c, &g)) pk.add(l, c, g);
  }
  int out = 0;
  bool taken[MAX_PEAKS] = {};
  while (out < 2) {
    Word16 cc = 0, gm = 63, idx = -1;
    Word16 c2[MAX_PEAKS], g2[MAX_PEAKS];
    for (int i = 0; i < pk.n; ++i) c2[i] = taken[i] ? Word16(0) : pk.C[i], g2[i] = pk.G[i];
    hr_fnBest_CG(c2, g2, &cc, &gm, &idx, pk.n);
    if (idx < 0) break;
    taken[idx] = true;
    if (out == 1 && pk.L[idx] == lOut[0]) continue;
    lOut[out] = pk.L[idx], cOut[out] = pk.C[idx], gOut[out] = pk.G[idx];
    ++out;
  }
  return out;
}

struct Traj {
  Word16 L[N_SUB], CC[N_SUB], G[N_SUB];
};

Word16 cc_over_g(Word16 cc, Word16 g) {
  if (g <= 0) return 0;
  Word16 m = abs_s(cc);
  if (m > g) return cc < 0 ? SW_MIN : SW_MAX;
  Word16 r = m == g ? SW_MAX : hr_div_s(m, g);
  return cc < 0 ? negate(r) : r;
}

}  // namespace

static void best_delta(Word16 code, int lo, int hi, const Word16* C, const Word16* G, Traj* t,
                       int s) {
  int c0 = std::max<int>(code + lo, 0), c1 = std::min<int>(code + hi, 255);
  Word16 cc[16], gg[16];
  int n = c1 - c0 + 1;
  hr_CGInterp2(&hr_CG_IntRem[c0], n, C, G, LAG_LO, cc, gg);
  Word16 bcc, bg;
  int b = hr_maxCCOverGWithSign(cc, gg, &bcc, &bg, n);
  t->L[s] = hr_psrLagTbl[c0 + b];
  t->CC[s] = bcc;
  t->G[s] = bg;
}

void hr_openLoopLagSearch(Word16* ws, Word16 prevR0, Word16 curR0, Word16* uvCode,
                          Word16* lagList, Word16* numLagList, Word16* pitchBuf,
                          Word16* hnwCoefBuf, NormSw* eng, Word16* vadLags, Word16 swSP) {
  // 1. Subframe energies of the weighted speech.
  for (int s = 0; s < N_SUB; ++s) eng[s] = eng[4 + s];
  for (int s = 0; s < N_SUB; ++s) {
    Word32 L;
    Word16 sh = hr_r0Shifts[s == 0 ? prevR0 : curR0];
    eng[4 + s].sh = hr_g_corr1s(ws + 40 * s, sh, &L);
    eng[4 + s].man = round16(L);
  }
  // 2. Scaling from the largest energy.
  int big = -1;
  for (int i = 0; i < 8; ++i)
    if (eng[i].man > 0 &&
        (big < 0 || eng[i].sh < eng[big].sh || (eng[i].sh == eng[big].sh && eng[i].man > eng[big].man)))
      big = i;
  Word16 shift = big < 0 ? Word16(-1) : static_cast<Word16>((eng[big].sh >> 1) - 1);
  Word16 scaled[W_BUF];
  hr_Vec_shl(ws - 145, scaled, shift);
  Word16* x = scaled + 145;

  // 3. Energies and correlations of every lag.
  Word16 gBuf[249 + 8] = {};
  Word16* gOut = gBuf + 1;
  hr_calcGFrame(hr_Vec_L_sqa_SLEN(x - 145, 0), x, gOut);
  Word16 cFrame[4 * C_LAGS + 8] = {};
  hr_calcCFrame(x, cFrame);
  const Word16* Cs[N_SUB];
  const Word16* Gs[N_SUB];
  Word16 sfrmEng[N_SUB];
  for (int s = 0; s < N_SUB; ++s) {
    Cs[s] = cFrame + C_LAGS * s;
    Gs[s] = gOut + 120 - 40 * s;
  }
  for (int s = 0; s < 3; ++s) sfrmEng[s] = gOut[102 - 40 * s];
  sfrmEng[3] = extract_h(hr_Vec_L_sqa_SLEN(x + 120, 0));

  // 4. Best integer lag per subframe.
  Word16 lInt[N_SUB], ccThresh[N_SUB];
  Word16 sumCG = 0;
  for (int s = 0; s < N_SUB; ++s) {
    Word16 cc, g, idx;
    Word16 Cc[124], Gc[124];
    std::copy(Cs[s] + 3, Cs[s] + 127, Cc);
    std::copy(Gs[s] + 3, Gs[s] + 127, Gc);
    hr_fnBest_CG2(Cc, Gc, &cc, &g, &idx);
    vadLags[s] = idx >= 0 ? static_cast<Word16>(21 + idx) : Word16(21);
    lInt[s] = idx >= 0 ? static_cast<Word16>(21 + idx) : Word16(0);
    ccThresh[s] = 0;
    if (idx >= 0) {
      Word16 C = Cc[idx], G = Gc[idx];
      sumCG = add(sumCG, C >= G ? SW_MAX : hr_div_s(C, G));
      ccThresh[s] = hr_getCCThreshold(sfrmEng[s], C, G);
    }
  }

  // 5. Voicing decision.
  Word32 Lv = L_add(hr_Vec_L_mac_const(sfrmEng, -10614), L_deposit_h(sumCG));
  if (swSP == 0 || Lv <= 0) {
    *uvCode = 0;
    for (int i = 0; i < N_SUB; ++i) lagList[i] = numLagList[i] = pitchBuf[i] = hnwCoefBuf[i] = 0;
    return;
  }

  // 6. Peaks and lag trajectories.
  Traj traj[MAX_TRAJ];
  int nTraj = 0;
  for (int s = 0; s < N_SUB; ++s) {
    Word16 pl[2], pc[2], pg[2];
    int np = 0;
    if (lInt[s] == 0) {
      pitchBuf[s] = NO_PITCH;
      hnwCoefBuf[s] = 0;
    } else {
      np = pitch_lags(lInt[s], Cs[s], Gs[s], ccThresh[s], pl, pc, pg, &pitchBuf[s], &hnwCoefBuf[s]);
    }
    for (int p = 0; p < np && nTraj < MAX_TRAJ; ++p) {
      bool dup = false;
      for (int t = 0; t < nTraj; ++t)
        if (traj[t].L[s] == pl[p]) dup = true;
      if (dup) continue;
      Traj& t = traj[nTraj++];
      t.L[s] = pl[p];
      Word16 cc = mult_r(pc[p], pc[p]);
      t.CC[s] = pc[p] < 0 ? negate(cc) : cc;
      t.G[s] = pg[p];
      Word16 code;
      for (int f = s + 1; f < N_SUB; ++f) {
        hr_quantLag(t.L[f - 1], &code);
        best_delta(code, -6, 5, Cs[f], Gs[f], &t, f);
      }
      for (int b = s - 1; b >= 0; --b) {
        hr_quantLag(t.L[b + 1], &code);
        best_delta(code, -5, 6, Cs[b], Gs[b], &t, b);
      }
    }
  }
  if (nTraj == 0) {
    *uvCode = 0;
    for (int i = 0; i < N_SUB; ++i) lagList[i] = numLagList[i] = pitchBuf[i] = hnwCoefBuf[i] = 0;
    return;
  }
  int best = 0;
  Word16 bestScore = SW_MIN;
  for (int t = 0; t < nTraj; ++t) {
    Word16 score = 0;
    for (int s = 0; s < N_SUB; ++s)
      if (traj[t].G[s] > 0) score = add(score, cc_over_g(traj[t].CC[s], traj[t].G[s]));
    if (t == 0 || score > bestScore) best = t, bestScore = score;
  }

  // 7. Voicing mode of the winning trajectory.
  const Traj& w = traj[best];
  Word16 mode = 3;
  for (int s = 0; s < N_SUB; ++s) {
    Word16 ge = mult_r(w.G[s], sfrmEng[s]);
    Word32 cc = L_deposit_h(w.CC[s]);
    if (L_msu(cc, 26230, ge) < 0) mode = std::min<Word16>(mode, 2);
    if (L_msu(cc, 26230, ge) < 0 && L_msu(cc, 18131, ge) < 0) mode = 1;
  }
  *uvCode = mode;

  // 8. Candidate lags around the trajectory for the closed-loop search.
  int pos = 0;
  for (int s = 0; s < N_SUB; ++s) {
    Word16 code;
    hr_quantLag(w.L[s], &code);
    int c0 = std::max(code - 1, 0), c1 = std::min(code + 1, 255);
    for (int c = c0; c <= c1; ++c) lagList[pos++] = hr_psrLagTbl[c];
    numLagList[s] = static_cast<Word16>(c1 - c0 + 1);
  }
}

}  // namespace hr

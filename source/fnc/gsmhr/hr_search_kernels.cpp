// Search kernels of the GSM half-rate encoder: noise-weighting autocorrelation, open-loop
// correlations and energies, best C^2/G selection, fractional-lag interpolation of C and G,
// gain-table search, harmonic noise weighting, decorrelation and the closed-loop lag kernel.
#include "hr_kernels.h"

#include "hr_lanes.h"
#include "hr_tables.h"

namespace hr {

// ---- encoder search kernels ----

void hr_getNWCoefs_CalcACF(const Word16* x, Word32* L) {
  for (int k = 1; k <= NP; ++k)
    L[k] = lane_sum(S_LEN, 0, [&](int i) { return L_mult(x[i], x[i + k]); });
}

void hr_calcCFrame(const Word16* x, Word16* out) {
  for (int s = 0; s < N_SUB; ++s)
    for (int j = 0; j < 128; ++j) {
      const Word16* xs = x + 40 * s;
      std::int64_t sum[4] = {0, 0, 0, 0}, mag[4] = {0, 0, 0, 0};
      for (int i = 0; i < S_LEN; ++i) {
        std::int64_t p = L_mult(xs[i], xs[i - 18 - j]);
        sum[i & 3] += p;
        mag[i & 3] += p < 0 ? -p : p;
      }
      Word32 acc[4];
      if (mag[0] <= LW_MAX && mag[1] <= LW_MAX && mag[2] <= LW_MAX && mag[3] <= LW_MAX) {
        for (int k = 0; k < 4; ++k) acc[k] = static_cast<Word32>(sum[k]);
      } else {  // the stated chains, descending
        acc[0] = acc[1] = acc[2] = acc[3] = 0;
        for (int i = S_LEN - 1; i >= 0; --i) acc[i & 3] = L_mac(acc[i & 3], xs[i], xs[i - 18 - j]);
      }
      out[128 * s + j] = extract_h(hr_lanes(acc, 0));
    }
}

void hr_calcGFrame(Word32 L0, const Word16* x, Word16* out) {
  Word32 G = L0;
  out[247] = extract_h(G);
  for (int m = 1; m <= 248; ++m) {
    G = L_mac(L_msu(G, x[m - 146], x[m - 146]), x[m - 106], x[m - 106]);
    out[247 - m] = extract_h(G);
  }
}

namespace {
struct CgBest {
  Word16 cc, g, idx;
};
// Lane-wise best C^2/G with the stated replace and merge tests.
void best_cg(const Word16* C, const Word16* G, int n, Word16* pCC, Word16* pG, Word16* pIdx) {
  CgBest lane[4];
  for (auto& l : lane) l = {*pCC, *pG, -1};
  for (int i = 0; i < n; ++i) {
    CgBest& l = lane[i & 3];
    if (L_mult(G[i], C[i]) <= 0) continue;
    Word16 cc = mult_r(C[i], C[i]);
    if (L_msu(L_mult(cc, l.g), l.cc, G[i]) > 0) l = {cc, G[i], static_cast<Word16>(i)};
  }
  CgBest b = lane[0];
  for (int k = 1; k < 4; ++k) {
    const CgBest& l = lane[k];
    Word32 t = L_msu(L_mult(b.g, l.cc), l.g, b.cc);
    if (t > 0 || (t == 0 && l.idx < b.idx)) b = l;
  }
  *pCC = b.cc;
  *pG = b.g;
  *pIdx = b.idx;
}
}  // namespace

void hr_fnBest_CG(const Word16* C, const Word16* G, Word16* pCmaxSqr, Word16* pGmax,
                  Word16* pIndex, int n) {
  best_cg(C, G, n, pCmaxSqr, pGmax, pIndex);
}
void hr_fnBest_CG1(const Word16* C, const Word16* G, Word16* pCmaxSqr, Word16* pGmax,
                   Word16* pIndex, int n) {
  *pCmaxSqr = 0;
  *pGmax = 63;
  best_cg(C, G, n, pCmaxSqr, pGmax, pIndex);
}
void hr_fnBest_CG2(Word16* C, Word16* G, Word16* pCmaxSqr, Word16* pGmax, Word16* pIndex) {
  Word16 c0 = C[122], c1 = C[123], g0 = G[122], g1 = G[123];
  C[122] = C[123] = G[122] = G[123] = 0;
  *pCmaxSqr = 0;
  *pGmax = 63;
  best_cg(C, G, 124, pCmaxSqr, pGmax, pIndex);
  C[122] = c0, C[123] = c1, G[122] = g0, G[123] = g1;
}

namespace {
Word16 cg_tap(const Word16* v, int base, const Word16* f) {
  Word32 s = 16384;
  for (int k = 0; k < CG_INT_MACS; ++k) s += Word32(v[base + k]) * f[k];
  return static_cast<Word16>(s >> 15);
}
}  // namespace

void hr_CGInterp(const Word16* L, int n, const Word16* C, const Word16* G, int lo, Word16* Cout,
                 Word16* Gout) {
  for (int i = 0; i < n; ++i) {
    Word32 p = Word32(L[i]) * 5461;
    int b = p >> 15;
    int s = ((p & 32767) * 6 + 16384) >> 15;
    int r = 6 - s;
    if (r > 5) r = 5;  // not reached for the lags the search produces
    const Word16* f = &hr_ppsrCGIntFilt[6 * r];
    Cout[i] = cg_tap(C, b - lo - 2, f);
    Gout[i] = cg_tap(G, b - lo - 2, f);
  }
}

void hr_CGInterp2(const Word16* packed, int n, const Word16* C, const Word16* G, int lo,
                  Word16* Cout, Word16* Gout) {
  for (int i = 0; i < n; ++i) {
    auto w = static_cast<std::uint16_t>(packed[i]);
    int b = w >> 8;
    int r = (w & 0xFF) / 6;
    const Word16* f = &hr_ppsrCGIntFilt[6 * r];
    Cout[i] = cg_tap(C, b - lo - 2, f);
    Gout[i] = cg_tap(G, b - lo - 2, f);
  }
}

int hr_GetBestEnergy(const Word16* table, const Word16* w) {
  Word32 best[4] = {LW_MIN, LW_MIN, LW_MIN, LW_MIN};
  int idx[4] = {0, 1, 2, 3};
  for (int j = 0; j < 32; ++j) {
    const Word16* t = table + 5 * j;
    Word32 E = L_mult(t[0], w[0]);
    E = L_mac(E, t[1], w[2]);
    E = L_mac(E, t[2], w[4]);
    E = L_mac(E, t[3], w[6]);
    E = L_mac(E, t[4], w[8]);
    if (E > best[j & 3]) best[j & 3] = E, idx[j & 3] = j;
  }
  int b = 0;
  for (int k = 1; k < 4; ++k)
    if (best[k] > best[b] || (best[k] == best[b] && idx[k] < idx[b])) b = k;
  return idx[b];
}

void hr_hnwFilt1(const Word16* in, Word16* out, const Word16* c, int off) {
  for (int n = S_LEN - 1; n >= 0; --n) {
    Word32 L = Word32(in[n]) * 32768;
    for (int k = 0; k < CG_INT_MACS; ++k) L = L_mac(L, c[k], in[n + off + k]);
    L = L_add(L, 16384);
    out[n] = sat16(L >> 15);
  }
}

void hr_hnwFilt0(Word16* v, const Word16* c, int off) {
  int first = -off - 5;
  if (first < 0) first = 0;
  for (int n = S_LEN - 1; n >= first; --n) {
    Word32 L = Word32(v[n]) * 32768;
    for (int k = 0; k < CG_INT_MACS; ++k) {
      int i = n + off + k;
      L = L_mac(L, c[k], i < 0 ? Word16(0) : v[i]);
    }
    L = L_add(L, 16384);
    v[n] = sat16(L >> 15);
  }
}

void hr_decorr_Loop(Word16* vect, const Word16* given, Word16 shift, Word16 coef) {
  for (int i = 0; i < S_LEN; ++i) {
    Word16 t = shl(given[i], shift);
    Word32 L = L_add(L_deposit_h(vect[i]), L_mult(coef, t));
    vect[i] = extract_h(L_add(L, 32768));
  }
}

void hr_closedLoopLagSearch_Loop1(const Word16* tv, Word16* tv2, const Word16* target,
                                  Word32* pL_G, Word32* pL_C, Word16 shift, int num) {
  for (int k = 0; k < num; ++k) {
    const Word16* v = tv + 40 * k;
    Word16* o = tv2 + 40 * k;
    for (int i = 0; i < S_LEN; ++i) o[i] = shift != 0 ? shr(v[i], shift) : v[i];
    pL_G[k] = hr_Vec_L_sqa_SLEN(o, 0);
    pL_C[k] = hr_Vec_L_mac_SLEN(o, target);
  }
}

}  // namespace hr

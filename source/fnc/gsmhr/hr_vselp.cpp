// VSELP codebook search, decorrelation and joint gain quantisation of the GSM half-rate encoder.
#include <algorithm>
#include <cmath>

#include "hr_frame.h"
#include "hr_tables.h"

namespace hr {

namespace {
constexpr int MAX_BASIS = 9;

// Index of the basis vector that step p + 1 of the Gray-code walk flips (positions from 0):
// even steps flip vector 0, odd ones the vector of the half-step bit-index table.
int flipped_bit(int p, int n) {
  if ((p & 1) == 0) return 0;
  int e = n - 1;
  const Word16* tab = n == 9 ? hr_pswBitIndexV.data() : hr_pswBitIndexUn.data();
  return (tab[p >> 1] - 1 + e) % e;
}
}  // namespace

int hr_v_srch_cbs(const Word16* cUpd, Word16 swC0, Word16 swG0, int n, const Word16* alp16) {
  const int positions = (1 << (n - 1)) - 1;
  struct Best {
    Word16 cc, g;
    int pos;
  } lane[4];
  Word16 cc0 = mult_r(swC0, swC0);
  for (auto& l : lane) l = {cc0, swG0, -1};
  // Codeword bits along the walk decide the sign of each C update.
  int code = 0;
  Word16 C = swC0;
  for (int p = 0; p < positions; ++p) {
    int b = flipped_bit(p, n);
    bool wasSet = (code >> b) & 1;
    C = add(C, wasSet ? cUpd[MAX_BASIS + b] : cUpd[b]);
    code ^= 1 << b;
    Word16 cc = mult_r(C, C);
    Word16 g = alp16[p];
    Best& l = lane[p & 3];
    if (L_msu(L_mult(l.g, cc), g, l.cc) > 0) l = {cc, g, p};
  }
  Best best = lane[0];
  for (int k = 1; k < 4; ++k) {
    Word32 t = L_msu(L_mult(best.g, lane[k].cc), lane[k].g, best.cc);
    if (t > 0 || (t == 0 && lane[k].pos > best.pos)) best = lane[k];
  }
  return best.pos + 1;
}

int hr_v_srch(const Word16* target, const Word16* basis, int n) {
  Word32 R[MAX_BASIS];
  Word32 sumAbs = 0;
  Word32 accE[4] = {0, 0, 0, 0};
  for (int i = 0; i < n; ++i) {
    R[i] = hr_Vec_L_mac_SLEN(basis + 40 * i, target);
    sumAbs = L_add(sumAbs, L_abs(R[i]));
    for (int s = 0; s < S_LEN; ++s)
      accE[s & 3] = L_mac(accE[s & 3], basis[40 * i + s], basis[40 * i + s]);
  }
  Word32 energy = hr_lanes(accE, 0);

  // C: start value and update terms (second half: the negated terms).
  Word16 cSh = static_cast<Word16>(norm_l(sumAbs) - 1);
  Word32 C0 = 0;
  Word16 cUpd[2 * MAX_BASIS];
  for (int i = 0; i < n; ++i) {
    Word32 r = L_shl(R[i], cSh);
    C0 = L_sub(C0, r);
    Word16 t = shl(round16(r), 1);
    cUpd[i] = t;
    cUpd[MAX_BASIS + i] = negate(t);
  }
  Word16 swC0 = round16(C0);

  // G: pair correlations, the start energy and the update terms.
  Word16 gSh = static_cast<Word16>(norm_l(energy) - 2);
  Word32 G0 = L_shl(energy, Word16(gSh - 1));
  Word16 T[MAX_BASIS][MAX_BASIS] = {};
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      Word32 D = hr_Vec_L_mac_SLEN(basis + 40 * i, basis + 40 * j);
      // No saturation on the way up; a large total energy gives a negative count (right shift).
      Word32 Ds = gSh >= 0 ? wrap32(std::int64_t(D) << gSh) : D >> -gSh;
      G0 = L_add(G0, Ds);
      Word16 t = sat16(2 * Word32(static_cast<Word16>(wrap32(std::int64_t(Ds) + 32768) >> 16)));
      T[i][j] = T[j][i] = t;
    }

  // Energy of every codeword along the walk (quarter scale: G0 halved in the upper half).
  const int positions = (1 << (n - 1)) - 1;
  Word16 alp16[256];
  Word32 L = G0 >> 1;
  int code = 0;
  for (int p = 0; p < positions; ++p) {
    int b = flipped_bit(p, n);
    int thetaB = ((code >> b) & 1) ? 1 : -1;
    for (int j = 0; j < n; ++j) {
      if (j == b) continue;
      int thetaJ = ((code >> j) & 1) ? 1 : -1;
      L = L_mac(L, T[b][j], static_cast<Word16>(-thetaB * thetaJ * 16384));
    }
    code ^= 1 << b;
    alp16[p] = extract_h(L);
  }
  int q = hr_v_srch_cbs(cUpd, swC0, static_cast<Word16>(extract_h(G0) >> 1), n, alp16);
  int cw = q ^ (q >> 1);
  Word32 c = 0;
  for (int i = 0; i < n; ++i) c = L_add(c, ((cw >> i) & 1) ? R[i] : L_negate(R[i]));
  if (c < 0) cw ^= (1 << n) - 1;
  return cw;
}

void hr_decorr(int nv, const Word16* given, Word16* vects) {
  Word32 E;
  Word16 es = hr_g_corr1(given, &E);
  if (E == 0) return;
  Word16 e16 = round16(E);
  for (int v = 0; v < nv; ++v) {
    Word16* x = vects + 40 * v;
    Word32 L;
    Word16 cs = hr_g_corr2(x, given, &L);
    Word16 num = round16(L_abs(L) >> 1);
    Word16 a = hr_div_s(std::min(num, e16), e16);
    if (L > 0) a = negate(a);
    Word16 m = norm_s(a);
    Word16 an = shl(a, m);
    Word16 total = static_cast<Word16>(m + (cs - 1) - es);
    if (total <= 0) {
      hr_decorr_Loop(x, given, static_cast<Word16>(-total), an);
    } else if (total > 15) {
      hr_decorr_Loop(x, given, 0, 0);
    } else {
      Word16 coef = static_cast<Word16>((shr(an, static_cast<Word16>(total - 1)) + 1) >> 1);
      hr_decorr_Loop(x, given, 0, coef);
    }
  }
}

// Keeps the cross term of the two weighted vectors within the bound their energies allow, so
// that rounding of the normalised terms cannot make the error surface indefinite.
void hr_gainTweak(Word16* e) {
  std::int64_t lim = std::int64_t(e[6]) * e[8];
  std::int64_t cross = std::int64_t(e[4]) * e[4];
  if (e[6] >= 0 && e[8] >= 0 && cross > lim) {
    auto r = static_cast<Word16>(std::sqrt(static_cast<double>(lim)));
    e[4] = e[4] < 0 ? static_cast<Word16>(-r) : r;
  }
}

Word16 hr_g_quant_vl(Word16 mode, const Word16* target, Word16 tShift, const Word16* w1,
                     const Word16* w2, const NormSw* rs1, const NormSw* rs2) {
  Word32 corr[6];
  hr_g_quant_vl_corr(target, w1, w2, corr);
  NormSw c[5];
  for (int i = 0; i < 5; ++i) {
    Word16 n = norm_l(corr[i]);
    c[i].man = round16(L_shl(corr[i], n));
    c[i].sh = n;
  }
  // Terms as mantissa and exponent: 2<t, r1 w1>, 2<t, r2 w2>, <r1 w1, r2 w2>, |r1 w1|^2,
  // |r2 w2|^2, with the target's scaling undone.
  Word16 M[5];
  int S[5];
  M[0] = mult_r(c[0].man, rs1->man), S[0] = c[0].sh + rs1->sh - tShift - 17;
  M[1] = mult_r(c[1].man, rs2->man), S[1] = c[1].sh + rs2->sh - tShift - 17;
  M[2] = mult_r(mult_r(c[2].man, rs1->man), rs2->man), S[2] = c[2].sh + rs1->sh + rs2->sh - 17;
  M[3] = mult_r(mult_r(c[3].man, rs1->man), rs1->man), S[3] = c[3].sh + 2 * rs1->sh - 17;
  M[4] = mult_r(mult_r(c[4].man, rs2->man), rs2->man), S[4] = c[4].sh + 2 * rs2->sh - 17;
  int minS = 1 << 20;
  for (int i = 0; i < 5; ++i)
    if (M[i] != 0) minS = std::min(minS, S[i]);
  Word16 w[10] = {};
  for (int i = 0; i < 5; ++i) {
    int d = S[i] - minS;
    Word16 v = 0;
    if (M[i] != 0 && d < 16) v = d == 0 ? M[i] : static_cast<Word16>((shr(M[i], Word16(d - 1)) + 1) >> 1);
    w[2 * i] = v;
  }
  hr_gainTweak(w);
  return static_cast<Word16>(hr_GetBestEnergy(&hr_pppsrGsp0[160 * (mode & 3)], w));
}

}  // namespace hr

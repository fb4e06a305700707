// Vector, energy, correlation and filter kernels of the GSM half-rate codec.
#include "hr_kernels.h"

#include "hr_lanes.h"

#include <cstring>

#include "hr_tables.h"

namespace hr {

Word32 hr_lanes(const Word32 acc[4], Word32 L0) {
  return L_add(L_add(L_add(acc[0], acc[2]), L_add(acc[1], acc[3])), L0);
}

// No vector registers are used by this portable build; the save area is kept unchanged so
// the frame code reads like the register-saving original.
void hr_FrameSave_NEON(Word16*) {}
void hr_FrameRestore_NEON(Word16*) {}

void hr_Save_Restore(Word16* dst, const Word16* src, Word16* dst2, const Word16* src2) {
  for (int i = 0; i < NP; ++i) {
    Word16 a = src[-i];
    Word16 b = src2[i];
    dst[i] = a;
    dst2[-i] = b;
  }
}

void hr_Copy(const Word16* src, Word16* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] = src[i];
}
void hr_Set_zero(Word16* x, int n) {
  for (int i = 0; i < n; ++i) x[i] = 0;
}

void hr_Vec_add_SLEN(const Word16* a, const Word16* b, Word16* out) {
  for (int i = 0; i < S_LEN; ++i) out[i] = add(a[i], b[i]);
}
void hr_Vec_sub_SLEN(const Word16* a, const Word16* b, Word16* out) {
  for (int i = 0; i < S_LEN; ++i) out[i] = sub(a[i], b[i]);
}
void hr_Vec_sub_shr_SLEN(const Word16* a, const Word16* b, Word16* out, Word16 n) {
  for (int i = 0; i < S_LEN; ++i) out[i] = shr(sub(a[i], b[i]), n);
}
void hr_Vec_shr_SLEN(const Word16* in, Word16* out, Word16 n) {
  for (int i = 0; i < S_LEN; ++i) out[i] = shr(in[i], n);
}
void hr_Vec_shr_ALEN(const Word16* in, Word16* out, Word16 n) {
  for (int i = 0; i < A_LEN; ++i) out[i] = shr(in[i], n);
}
void hr_Vec_shl(const Word16* in, Word16* out, Word16 n) {
  for (int i = 0; i < W_BUF; ++i) out[i] = shl(in[i], n);
}
void hr_Vec_mult_r_NP(const Word16* a, const Word16* b, Word16* out) {
  for (int i = 0; i < NP; ++i) out[i] = mult_r(a[i], b[i]);
}
void hr_Vec_mult_r_SLEN(const Word16* a, const Word16* b, Word16* out) {
  for (int i = 0; i < S_LEN; ++i) out[i] = mult_r(a[i], b[i]);
}
void hr_Calc_HNWCoefs(const Word16* in, Word16* out, Word16 g) {
  for (int i = 0; i < CG_INT_MACS; ++i) {
    Word16 neg = in[i] == SW_MIN ? SW_MIN : Word16(-in[i]);
    out[i] = mult_r(neg, g);
  }
}
void hr_Vec_L_shl_NP(Word32* L, Word16 n) {
  for (int i = 0; i < NP; ++i) L[i] = L_shl(L[i], n);
}
Word32 hr_Vec_L_min(const Word32* L, int len) {
  Word32 m = L[0];
  for (int i = 1; i < len; ++i)
    if (L[i] < m) m = L[i];
  return m;
}
void hr_Interleave4(const Word16* in, Word16* out) {
  for (int i = 0; i < S_LEN; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = in[40 * j + i];
}


Word32 hr_Vec_L_sqa_SLEN(const Word16* in, Word32 L0) {
  return lane_sum(S_LEN, L0, [&](int i) { return L_mult(in[i], in[i]); });
}
Word32 hr_Vec_L_sqa(const Word16* in, int len) {
  return lane_sum(len, 0, [&](int i) { return L_mult(in[i], in[i]); });
}
Word32 hr_Vec_L_shr_sqa_SLEN(const Word16* in, Word16 n, Word32 L0) {
  return lane_sum(S_LEN, L0, [&](int i) {
    Word16 x = shr(in[i], n);
    return L_mult(x, x);
  });
}
Word32 hr_Vec_L_shr_sqa_FLEN(const Word16* in, Word16 n, Word32 L0) {
  return lane_sum(F_LEN, L0, [&](int i) {
    Word16 x = shr(in[i], n);
    return L_mult(x, x);
  });
}
Word32 hr_Vec_L_shr_sqa(const Word16* x, int n, Word16 shift, Word32 L_acc) {
  for (int i = 0; i < n; ++i) {
    Word16 v = shr(x[i], shift);
    L_acc = L_mac(L_acc, v, v);
  }
  return L_acc;
}
Word32 hr_Vec_mult_r_Sqa_SLEN(const Word16* in, Word16 g, Word32 L0) {
  return lane_sum(S_LEN, L0, [&](int i) {
    Word16 x = mult_r(in[i], g);
    return L_mult(x, x);
  });
}
Word32 hr_Vec_L_mac_8(const Word16* a, const Word16* b, Word32 L0) {
  return lane_sum(8, L0, [&](int i) { return L_mult(a[i], b[i]); });
}
Word32 hr_Vec_L_mac_SLEN(const Word16* a, const Word16* b) {
  return lane_sum(S_LEN, 0, [&](int i) { return L_mult(a[i], b[i]); });
}
Word32 hr_Vec_L_mac_FLEN(const Word16* a, const Word16* b) {
  return lane_sum(F_LEN, 0, [&](int i) { return L_mult(a[i], b[i]); });
}
Word32 hr_Vec_L_mac_const(const Word16* in, Word16 c) {
  return lane_sum(4, 0, [&](int i) { return L_mult(in[i], c); });
}

Word16 hr_g_corr1(const Word16* in, Word32* pL) {
  Word32 E = hr_Vec_L_sqa_SLEN(in, 0);
  if (E == 0) {
    *pL = 0;
    return 0;
  }
  Word16 n = norm_l(E);
  *pL = E << n;
  return n;
}

Word16 hr_g_corr1s(const Word16* in, Word16 s, Word32* pL) {
  Word32 E;
  if (s <= 1) {
    E = lane_sum(S_LEN, 0, [&](int i) { return L_mult(shr(in[i], s), in[i]); });
  } else {
    Word16 t = static_cast<Word16>((s + 1) / 2);
    E = lane_sum(S_LEN, 0, [&](int i) {
      Word16 x = shr(in[i], t);
      return L_mult(x, x);
    });
    s = static_cast<Word16>(2 * t);
  }
  if (E == 0) {
    *pL = 0;
    return 0;
  }
  Word16 n = norm_l(E);
  *pL = E << n;
  return static_cast<Word16>(n - s);
}

Word16 hr_g_corr2(const Word16* a, const Word16* b, Word32* pL) {
  Word32 L = hr_Vec_L_mac_SLEN(a, b);
  if (L == 0) {
    *pL = 0;
    return 0;
  }
  Word16 n = norm_l(L);
  *pL = L << n;
  return n;
}

void hr_g_quant_vl_corr(const Word16* a, const Word16* b, const Word16* c, Word32* out) {
  out[0] = hr_Vec_L_mac_SLEN(a, b);
  out[1] = hr_Vec_L_mac_SLEN(a, c);
  out[2] = hr_Vec_L_mac_SLEN(b, c);
  out[3] = hr_Vec_L_mac_SLEN(b, b);
  out[4] = hr_Vec_L_mac_SLEN(c, c);
  out[5] = hr_Vec_L_mac_SLEN(a, a);
}

// ---- filters ----

namespace {
// add32(L_shl(S, 4), extra), extra given exactly.
Word32 shifted_sum(Word32 S, std::int64_t extra) {
  return sat32(std::int64_t(L_shl(S, 4)) + extra);
}
// All-pole feedback sum -sum 2 a[k] y[n-1-k] in the four stated partial sums; the partial
// sums are combined with saturation so that an overload clips instead of flipping sign.
Word32 synt_feedback(const Word16* a, const Word16* yn) {
  auto prod = [&](int k) { return L_mult(a[k], yn[-1 - k]); };
  std::int64_t mag = 0, exact = 0;
  for (int k = 0; k < NP; ++k) {
    std::int64_t p = prod(k);
    exact -= p;
    mag += p < 0 ? -p : p;
  }
  if (mag <= LW_MAX) return static_cast<Word32>(exact);  // no partial sum can saturate
  Word32 p0 = L_sub(L_sub(0, prod(7)), prod(3));
  Word32 p1 = L_sub(L_sub(0, prod(6)), prod(2));
  Word32 p2 = L_sub(L_sub(L_sub(0, prod(9)), prod(5)), prod(1));
  Word32 p3 = L_sub(L_sub(L_sub(0, prod(8)), prod(4)), prod(0));
  return L_add(L_add(p0, p1), L_add(p2, p3));
}
}  // namespace

void hr_Residu(const Word16* a, const Word16* x, Word16* y) {
  for (int n = 0; n < S_LEN; ++n) {
    std::int64_t exact = 0, mag = 0;
    for (int k = NP - 1; k >= 0; --k) {
      std::int64_t p = L_mult(a[k], x[n - 1 - k]);
      exact += p;
      mag += p < 0 ? -p : p;
    }
    Word32 S = static_cast<Word32>(exact);
    if (mag > LW_MAX) {
      S = 0;
      for (int k = NP - 1; k >= 0; --k) S = L_mac(S, a[k], x[n - 1 - k]);
    }
    y[n] = round16(shifted_sum(S, std::int64_t(x[n]) * 65536));
  }
}

void hr_Synt(const Word16* a, const Word16* x, Word16* y) {
  for (int n = 0; n < S_LEN; ++n) {
    Word32 S = synt_feedback(a, y + n);
    y[n] = extract_h(shifted_sum(S, std::int64_t(x[n]) * 65536 + 32768));
  }
}

void hr_Synt3(const Word16* a, Word16* buf) {
  Word16* y = buf + NP;
  for (int n = 0; n < S_LEN; ++n) {
    Word32 S = synt_feedback(a, y + n);
    y[n] = extract_h(shifted_sum(S, 32768));
  }
}

void hr_lpcZsIir(const Word16* a, const Word16* x, Word16* y) {
  Word16 buf[NP + S_LEN] = {};
  Word16* yy = buf + NP;
  for (int n = 0; n < S_LEN; ++n) {
    Word32 S = synt_feedback(a, yy + n);
    yy[n] = extract_h(shifted_sum(S, std::int64_t(x[n]) * 65536 + 32768));
  }
  std::memcpy(y, yy, sizeof(Word16) * S_LEN);
}

void hr_lpcZsIir4(const Word16* a, const Word16* x, Word16* y) {
  Word16 na9 = negate(a[9]);
  for (int j = 0; j < 4; ++j) {
    Word16 buf[NP + S_LEN] = {};
    Word16* yy = buf + NP;
    for (int n = 0; n < S_LEN; ++n) {
      std::int64_t exact = L_mult(na9, yy[n - 10]), mag = exact < 0 ? -exact : exact;
      for (int k = 8; k >= 0; --k) {
        std::int64_t p = L_mult(a[k], yy[n - 1 - k]);
        exact -= p;
        mag += p < 0 ? -p : p;
      }
      Word32 S = static_cast<Word32>(exact);
      if (mag > LW_MAX) {  // the stated saturating chain
        S = L_mult(na9, yy[n - 10]);
        for (int k = 8; k >= 0; --k) S = L_msu(S, a[k], yy[n - 1 - k]);
      }
      yy[n] = round16(shifted_sum(S, std::int64_t(x[4 * n + j]) * 65536));
    }
    std::memcpy(y + 40 * j, yy, sizeof(Word16) * S_LEN);
  }
}

void hr_lpcZsIirP(const Word16* c, const Word16* x, Word16* y) {
  Word16 buf[NP + S_LEN] = {};
  Word16* yy = buf + NP;
  for (int n = 0; n < S_LEN; ++n) {
    auto prod = [&](int k) { return L_mult(c[9 - k], yy[n - 1 - k]); };
    Word32 p0 = L_add(prod(7), prod(3));
    Word32 p1 = L_add(prod(6), prod(2));
    Word32 p2 = L_add(L_add(prod(9), prod(5)), prod(1));
    Word32 p3 = L_add(L_add(prod(8), prod(4)), prod(0));
    Word32 S = L_add(L_add(p0, p1), L_add(p2, p3));
    yy[n] = round16(shifted_sum(S, std::int64_t(x[n]) * 65536));
  }
  std::memcpy(y, yy, sizeof(Word16) * S_LEN);
}

void hr_lpcIrZsIir(const Word16* a, Word16* y) {
  Word16 buf[NP + S_LEN] = {};
  Word16* yy = buf + NP;
  yy[0] = 1024;
  for (int n = 1; n < S_LEN; ++n) yy[n] = round16(L_shl(synt_feedback(a, yy + n), 4));
  std::memcpy(y, yy, sizeof(Word16) * S_LEN);
}

void hr_iir_d(const Word16* c, Word16* x, Word16* st, Word16 sIn, Word16 sOut) {
  Word16 x2 = st[0], x1 = st[1], yh2 = st[2], yl2 = st[3], yh1 = st[4], yl1 = st[5];
  for (int n = 0; n < F_LEN; ++n) {
    Word16 x0 = shr(x[n], sIn);
    Word32 A, B;
    if ((n & 1) == 0) {
      const Word16* k = c;  // c_l2, c_l1, c_h2, c_h1, c_x2, c_x1, c_x0
      A = L_mac(L_mult(yl2, k[0]), yl1, k[1]) >> 14;
      B = L_mult(yh2, k[2]);
      B = L_mac(B, yh1, k[3]);
      B = L_mac(B, x2, k[4]);
      B = L_mac(B, x1, k[5]);
      B = L_mac(B, x0, k[6]);
    } else {
      const Word16* k = c + 7;  // c_l1, c_l2, c_h1, c_h2, c_x1, c_x2, c_x0
      A = L_mac(L_mult(yl1, k[0]), yl2, k[1]) >> 14;
      B = L_mult(yh2, k[3]);
      B = L_mac(B, x1, k[4]);
      B = L_mac(B, x2, k[5]);
      B = L_mac(B, x0, k[6]);
      B = L_mac(B, yh1, k[2]);
    }
    Word32 S = L_shl(L_add(B, A), 1);
    Word16 yh = extract_h(S);
    Word16 yl = static_cast<Word16>(((S & 0xFFFF) >> 2) & 16383);
    x[n] = round16(L_shl(S, sOut));
    x2 = x1;
    x1 = x0;
    yh2 = yh1;
    yl2 = yl1;
    yh1 = yh;
    yl1 = yl;
  }
  st[0] = x2, st[1] = x1, st[2] = yh2, st[3] = yl2, st[4] = yh1, st[5] = yl1;
}

// ---- decoder and shared loops ----

void hr_v_con(const Word16* basis, Word16* out, const Word16* bits, int n) {
  for (int i = 0; i < S_LEN; ++i) {
    const Word16* grp = basis + (i >> 2) * 4 * n + (i & 3);
    Word32 L = 0;
    for (int k = 0; k < n; ++k) L = L_mac(L, bits[k], grp[4 * k]);
    out[i] = round16(L_shl(L, 1));
  }
}

void hr_v_con2(const Word16* basis, Word16* out, const Word16* bits) {
  for (int i = 0; i < S_LEN; ++i) {
    Word32 L = 0;
    for (int k = 0; k < 7; ++k) L = L_mac(L, bits[k], basis[40 * k + i]);
    out[i] = sat16(L >> 15);
  }
}

void hr_scaleExcite_v2(const Word16* in, Word16* out, Word16 g) {
  for (int i = 0; i < S_LEN; ++i) out[i] = round16(L_mult(in[i], g));
}
void hr_scaleExcite_v1(const Word16* in, Word16* out, Word16 g, Word16 s) {
  for (int i = 0; i < S_LEN; ++i) out[i] = round16(L_shl(L_mult(in[i], g), Word16(-s)));
}

void hr_fp_ex_fracLag(Word16* p, const Word16* f, int start, int count, int ip) {
  for (int n = start; n < start + count; ++n) {
    Word32 L = 0;
    for (int k = 0; k < 10; ++k) L = L_mac(L, p[n - ip - 5 + k], f[k]);
    p[n] = round16(L);
  }
}
void hr_fp_ex_fracLag_SLEN(Word16* p, const Word16* f, int ip) {
  hr_fp_ex_fracLag(p, f, 0, S_LEN, ip);
}

void hr_pitchPreFilt_loop1(const Word16* x, Word16* y, const Word16* f, Word16 g, int ip) {
  Word16 fg[10];
  for (int k = 0; k < 10; ++k) fg[k] = mult_r(f[k], g);
  for (int n = 0; n < S_LEN; ++n) {
    Word32 L = L_deposit_h(x[n]);
    for (int k = 0; k < 10; ++k) L = L_mac(L, y[n - ip - 5 + k], fg[k]);
    y[n] = round16(L);
  }
}
void hr_pitchPreFilt_loop2(const Word16* x, Word16* out, Word16 g) {
  for (int i = 0; i < S_LEN; ++i) out[i] = sat16((2 * Word32(x[i]) * g + 16384) >> 15);
}

void hr_interpolateCheck_Coef(const Word16* nw, const Word16* old, Word16* out, Word16 newPer,
                              Word16 oldPer) {
  for (int i = 0; i < NP; ++i) out[i] = round16(L_mac(L_mult(nw[i], newPer), old[i], oldPer));
}
void hr_interpolateCoefs(const Word16* newNum, const Word16* oldNum, const Word16* newDen,
                         const Word16* oldDen, Word16* outNum, Word16* outDen, Word16 newPer,
                         Word16 oldPer) {
  hr_interpolateCheck_Coef(newNum, oldNum, outNum, newPer, oldPer);
  if (newDen != nullptr) hr_interpolateCheck_Coef(newDen, oldDen, outDen, newPer, oldPer);
}

void hr_spectralPostFilter_loop1(Word16* buf, Word16* state) {
  Word16 prev = *state;
  for (int n = 0; n < S_LEN; ++n) {
    Word16 x = buf[n];
    Word32 L = L_add(sat32(std::int64_t(x) * 65536 + 32768), L_mult(prev, -6554));
    buf[n] = extract_h(L);
    prev = x;
  }
  *state = prev;
}

Word16 hr_spectralPostFilter_loop2(Word16* buf, Word32 L, Word16 g0, Word16 agc) {
  Word16 g = g0;
  Word32 acc = L;  // the caller passes g0 * 65536
  for (int n = 0; n < S_LEN; ++n) {
    acc = L_add(acc, L_mult(g, hr_agcCoef[0]));
    acc = L_add(acc, L_mult(agc, hr_agcCoef[1]));
    g = extract_h(acc);
    // The gain from hr_agcGain is Q14; applying it in Q13 doubles the output. That is on
    // purpose: the encoder's input high-pass filter halves the signal (passband -6.02 dB) to
    // leave headroom, so everything up to here runs at half level and this restores it.
    buf[n] = sat16((Word32(buf[n]) * g) >> 13);
  }
  return g;
}

void hr_a_sst_Loop(Word32* L, const Word16* w) {
  for (int k = 1; k <= NP; ++k) L[k] = hr_L_mpy_ls(L[k], w[k]);
}

Word16 hr_rcToADp(Word16 scale, const Word16* rc, Word16* a) {
  Word32 A[NP], T[NP];
  for (int i = 0; i < NP; ++i) {
    A[i] = wrap32(std::int64_t(rc[i]) * scale * 2);
    for (int j = 0; j < i; ++j) T[j] = L_add(hr_L_mpy_ls(A[i - j - 1], rc[i]), A[j]);
    for (int j = 0; j < i; ++j) A[j] = T[j];
  }
  Word16 lim = 0;
  for (int i = 0; i < NP; ++i) {
    a[i] = round16(A[i]);
    if (hr_isSwLimit(a[i])) lim = 1;
  }
  return lim;
}

Word16 hr_aToRc(Word16 shift, const Word16* ain, Word16* rc) {
  Word16 A[NP], T[NP];
  for (int i = 0; i < NP; ++i) A[i] = ain[i];
  Word16 unstable = 0;
  for (int i = NP - 1; i >= 0; --i) {
    Word32 wide = Word32(A[i]) << shift;
    rc[i] = sat16(wide);
    if (wide != rc[i] || hr_isSwLimit(rc[i])) unstable = 1;
    Word32 L = L_sub(LW_MAX, L_mult(rc[i], rc[i]));
    Word16 ns = norm_l(L);
    Word16 prod = extract_h(L << ns);
    Word16 act = static_cast<Word16>(2 + ns);
    Word16 div = hr_div_s(8192, prod);
    Word16 rcOverE = mult_r(rc[i], div);
    for (int j = 0; j < i; ++j) {
      std::int64_t t = std::int64_t(L_mult(A[j], div)) - L_mult(rcOverE, A[i - j - 1]);
      Word32 Lt = sat32(t);
      if (Lt != t) unstable = 1;
      std::int64_t sh = std::int64_t(Lt) * (std::int64_t(1) << act);
      Word32 Ls = sat32(sh);
      if (Ls != sh) unstable = 1;
      T[j] = round16(Ls);
    }
    for (int j = 0; j < i; ++j) A[j] = T[j];
  }
  return unstable;
}

void hr_rcToCorrDpL(const Word16* rc, Word32* L) {
  Word32 A[NP], T[NP];
  L[0] = 2147483646;
  for (int i = 0; i < NP; ++i) {
    A[i] = Word32(rc[i]) * 4096;
    for (int j = 0; j < i; ++j) T[j] = L_add(hr_L_mpy_ls(A[i - j - 1], rc[i]), A[j]);
    for (int j = 0; j < i; ++j) A[j] = T[j];
    Word32 sum = 0;
    for (int j = 0; j <= i; ++j) sum = L_add(sum, hr_L_mpy_ll(A[j], L[i - j]));
    L[i + 1] = L_shl(L_negate(sum), 4);
  }
}

void hr_initPBarFullVBarFullL(const Word32* in, Word32* pbar, Word32* vbar) {
  for (int i = 0; i < NP; ++i) pbar[i] = in[i] >> 2;
  for (int i = -9; i <= -1; ++i) vbar[i] = pbar[-i - 1];
  for (int i = 0; i <= 8; ++i) vbar[i] = pbar[i + 1];
  vbar[9] = in[10] >> 2;
}

// The k^2 terms are formed as two successive products with k: a rounded 16-bit k^2 would
// cost the later stages several LSB once a large first coefficient has removed most of the
// energy (1 - k^2 small).
void hr_aFlatRcDp_Loop1(const Word32* pOld, const Word32* vOld, Word32* pNew, Word32* vNew,
                        Word16 rc, int j) {
  auto sq = [rc](Word32 L) { return hr_L_mpy_ls(hr_L_mpy_ls(L, rc), rc); };
  for (int i = 0; i <= NP - j - 2; ++i) {
    Word32 s = L_add(hr_L_mpy_ls(vOld[i], rc), pOld[i]);
    s = L_add(sq(pOld[i]), s);
    s = L_add(hr_L_mpy_ls(vOld[-i], rc), s);
    pNew[i] = s;
  }
  for (int i = -NP + j + 2; i <= NP - j - 2; ++i) {
    Word32 s = L_add(sq(vOld[-i - 1]), vOld[i + 1]);
    int a = i + 1 >= 0 ? i + 1 : -(i + 1);
    s = L_add(L_shl(hr_L_mpy_ls(pOld[a], rc), 1), s);
    vNew[i] = s;
  }
}

}  // namespace hr

// LPC analysis and LSF coding of the iLBC codec.
#include "ilbc_lpc.h"

#include <array>

#include "ilbc_kernels.h"
#include "ilbc_tables.h"

namespace ilbc {
namespace {

constexpr int kOrder = 10;
constexpr int kBufLen = 300;
constexpr int kWinLen = 240;
constexpr i32 kOneQ27 = 134217728;

int key_of(i32 d, int group) { return (sat32(16 * i64{d}) & ~31) | group; }

// Saturating squared distance of a code vector: sum of doubled squares of the wrapped differences.
i32 vq_distance(const i16* x, const i16* c, int dim) {
  i32 d = 0;
  for (int m = 0; m < dim; ++m) {
    const i16 diff = wrap16(i32{x[m]} - c[m]);
    d = sat32(i64{d} + ilbc_L_mult(diff, diff));
  }
  return d;
}

i16 vq_search(i16* Xq_q13, const i16* CB_q13, const i32* X_q29, int n_cb, int dim) {
  i16 x[4];
  for (int m = 0; m < dim; ++m) x[m] = static_cast<i16>(sat32(i64{X_q29[m]} + 32768) >> 16);
  std::array<i32, 4> lane{kMax32, kMax32, kMax32, kMax32};
  for (int idx = 0; idx < n_cb; ++idx) {
    const i32 key = key_of(vq_distance(x, CB_q13 + dim * idx, dim), idx / 4);
    if (key < lane[idx % 4]) lane[idx % 4] = key;
  }
  int best = 0;
  for (int l = 1; l < 4; ++l)
    if (lane[l] < lane[best]) best = l;
  const i16 index = static_cast<i16>(4 * (lane[best] & 31) + best);
  for (int m = 0; m < dim; ++m) Xq_q13[m] = CB_q13[dim * index + m];
  return index;
}

void ilbc_Lag_window(i32* z, const i32* x, const i32* y) {
  for (int i = 0; i <= kOrder; ++i) z[i] = sat32(4 * i64{hi(x[i], y[i])});
}

// h5 of the root search: the Chebyshev-like evaluation of one LSF polynomial at grid cosine c.
i32 eval_poly(i32 c, const i32* pq) {
  auto dbl = [](i64 v) { return sat32(2 * v); };
  const i32 h1 = ilbc_L_add(c >> 5, pq[0]);
  const i32 h2 = ilbc_L_add(ilbc_L_sub(dbl(dbl(hi(c, h1))), 33554432), pq[1]);
  const i32 h3 = ilbc_L_add(ilbc_L_sub(dbl(dbl(hi(c, h2))), h1), pq[2]);
  const i32 h4 = ilbc_L_add(ilbc_L_sub(dbl(dbl(hi(c, h3))), h2), pq[3]);
  return ilbc_L_add(ilbc_L_sub(dbl(hi(c, h4)), h3), pq[4]);
}

void ilbc_LSFinterpolate2a_enc(i32* a_q27, const i32* lsf1_q29, const i32* lsf2_q29, i32 coef, i32 inv_coef) {
  std::array<i32, kOrder> lsf{};
  ilbc_L_interpolate(lsf.data(), lsf1_q29, lsf2_q29, coef, inv_coef, kOrder);
  ilbc_lsf2a(a_q27, lsf.data());
}

void ilbc_LSFinterpolate2a_dec(i32* a_q27, const i16* lsf1_q13, const i16* lsf2_q13, i32 coef, i32 inv_coef) {
  std::array<i32, kOrder> lsf{};
  ilbc_S_interpolate(lsf.data(), lsf1_q13, lsf2_q13, coef, inv_coef, kOrder);
  ilbc_lsf2a(a_q27, lsf.data());
}

void ilbc_SimpleInterpolateLSF(i32* syntdenum_q27, i32* weightdenum_q27, const i32* lsf_q29,
                               const i16* lsfdeq_q13, iLBC_Enc_Inst_t* inst) {
  std::array<i32, 2 * kOrder> lsfdeq_q29{};
  std::array<i32, kOrder> lsfdeqold_q29{};
  for (int i = 0; i < kOrder * inst->lpc_n; ++i) lsfdeq_q29[i] = i32{lsfdeq_q13[i]} * 65536;
  for (int i = 0; i < kOrder; ++i) lsfdeqold_q29[i] = i32{inst->lsfdeqold[i]} * 65536;
  std::array<i32, 11> lp{};
  for (int i = 0; i < inst->nsub; ++i) {
    const i32 *q1, *q2, *u1, *u2;
    i32 w, iw;
    if (frame_ms(inst) == 30) {
      w = ilbc_lsf_weightTbl_30ms_q30[i];
      iw = ilbc_lsf_InvweightTbl_30ms_q30[i];
      q1 = i == 0 ? lsfdeqold_q29.data() : lsfdeq_q29.data();
      q2 = i == 0 ? lsfdeq_q29.data() : lsfdeq_q29.data() + kOrder;
      u1 = i == 0 ? inst->lsfold : lsf_q29;
      u2 = i == 0 ? lsf_q29 : lsf_q29 + kOrder;
    } else {
      w = ilbc_lsf_weightTbl_20ms_q30[i];
      iw = ilbc_lsf_InvweightTbl_20ms_q30[i];
      q1 = lsfdeqold_q29.data();
      q2 = lsfdeq_q29.data();
      u1 = inst->lsfold;
      u2 = lsf_q29;
    }
    ilbc_LSFinterpolate2a_enc(syntdenum_q27 + 11 * i, q1, q2, w, iw);
    ilbc_LSFinterpolate2a_enc(lp.data(), u1, u2, w, iw);
    ilbc_bwexpand3(weightdenum_q27 + 11 * i, lp.data(), 11);
  }
  const int last = kOrder * (inst->lpc_n - 1);
  for (int i = 0; i < kOrder; ++i) {
    inst->lsfold[i] = lsf_q29[last + i];
    inst->lsfdeqold[i] = lsfdeq_q13[last + i];
  }
}

}  // namespace

void ilbc_LPCencode(i32* syntdenum_q27, i32* weightdenum_q27, i16* lsf_index, i32* LdataQ14, i16 norm_shift,
                    iLBC_Enc_Inst_t* inst) {
  std::array<i32, 2 * kOrder> lsf_q29{};
  std::array<i16, 2 * kOrder> lsfdeq_q13{};
  ilbc_SimpleAnalysis(lsf_q29.data(), LdataQ14, norm_shift, inst);
  for (int k = 0; k < inst->lpc_n; ++k)
    ilbc_SplitVQ(lsfdeq_q13.data() + kOrder * k, lsf_index + 3 * k, lsf_q29.data() + kOrder * k);
  ilbc_LSFQ13_check(lsfdeq_q13.data(), kOrder, inst->lpc_n);
  ilbc_SimpleInterpolateLSF(syntdenum_q27, weightdenum_q27, lsf_q29.data(), lsfdeq_q13.data(), inst);
}

void ilbc_SimpleAnalysis(i32* lsf_q29, i32* LdataQ14, i16 norm_shift, iLBC_Enc_Inst_t* inst) {
  const int n_hist = kBufLen - inst->blockl;
  std::array<i32, kBufLen> buf{};
  const int s = inst->lpc_buffer_shift;
  const i32 m = ilbc_L_shr(ilbc_get_max_abs(inst->lpc_bufferQ14, n_hist), s);
  const int z = ilbc_norm_l(m);
  if (norm_shift < z) {
    ilbc_Vec_L_shl(inst->lpc_bufferQ14, buf.data(), norm_shift - s, n_hist);
    ilbc_L_Copy(LdataQ14, buf.data() + n_hist, inst->blockl);
    inst->lpc_buffer_shift = norm_shift;
  } else {
    ilbc_Vec_L_shl(inst->lpc_bufferQ14, buf.data(), z - s, n_hist);
    ilbc_Vec_L_shl(LdataQ14, buf.data() + n_hist, z - norm_shift, inst->blockl);
    inst->lpc_buffer_shift = static_cast<i16>(z);
  }
  std::array<i32, kWinLen> windowed{};
  std::array<i32, 11> r{}, lp{}, lp2{};
  for (int k = 0; k < inst->lpc_n; ++k) {
    if (k < inst->lpc_n - 1)
      ilbc_window(windowed.data(), ilbc_lpc_winTbl_q15.data(), buf.data(), kWinLen);
    else
      ilbc_window(windowed.data(), ilbc_lpc_asymwinTbl_q15.data(), buf.data() + 60, kWinLen);
    const int scale = ilbc_autocorr(r.data(), windowed.data());
    ilbc_Lag_window(r.data(), r.data(), ilbc_lpc_lagwinTbl_q30.data());
    ilbc_levdurb(lp.data(), r.data(), kOrder, scale + 2 * inst->lpc_buffer_shift - 4);
    ilbc_bwexpand2(lp2.data(), lp.data(), 11);
    ilbc_a2lsf(lsf_q29 + kOrder * k, lp2.data(), inst->lsfold);
  }
  ilbc_L_Copy(buf.data() + inst->blockl, inst->lpc_bufferQ14, n_hist);
}

i16 ilbc_autocorr(i32* rQm4, const i32* xQ14) {
  const int sh = ilbc_norm_l(ilbc_get_max_abs(xQ14, kWinLen));
  std::array<i16, kWinLen + 11> v{};
  for (int i = 0; i < kWinLen; ++i) v[i] = sat16((i64{ilbc_L_shl(xQ14[i], sh)} + 32768) >> 16);
  const i64 e = ilbc_Vec_L64_sqa0(v.data(), kWinLen);
  int s2 = 0;
  if (e > 0) s2 = 31 - (64 - __builtin_clzll(static_cast<std::uint64_t>(e)));
  auto scaled = [s2](i64 x) { return wrap32(s2 >= 0 ? static_cast<i64>(static_cast<std::uint64_t>(x) << s2) : x >> -s2); };
  rQm4[0] = scaled(e);
  for (int lag = 1; lag <= kOrder; ++lag) rQm4[lag] = scaled(ilbc_Vec_L64_mac0(v.data() + lag, v.data(), kWinLen));
  return static_cast<i16>(s2 + 2 * sh);
}

void ilbc_levdurb(i32* a, const i32* r, int order, int total_shift) {
  a[0] = kOneQ27;
  if (ilbc_L_shr(r[0], total_shift) == 0) {
    for (int i = 1; i <= order; ++i) a[i] = 0;
    return;
  }
  auto one_minus_k2 = [](i32 k) { return kMax32 - std::min<i64>(2 * i64{hi(k, k)}, kMax32); };
  i32 k = ilbc_L_negate(ilbc_L_divide(r[1], r[0]));
  a[1] = k >> 4;
  i32 err = sat32(2 * i64{hi(r[0], one_minus_k2(k))});
  for (int m = 2; m <= order; ++m) {
    i32 sum = r[m] >> 4;
    for (int j = 1; j < m; ++j) sum = sat32(i64{sum} + sat32(2 * i64{hi(r[m - j], a[j])}));
    k = ilbc_L_shl(ilbc_L_negate(ilbc_L_divide(sum, err)), 4);
    err = sat32(2 * i64{hi(err, one_minus_k2(k))});
    for (int j = 1; j <= m / 2; ++j) {
      const i32 aj = a[j], amj = a[m - j];
      a[j] = sat32(i64{aj} + sat32(2 * i64{hi(amj, k)}));
      a[m - j] = sat32(i64{amj} + sat32(2 * i64{hi(k, aj)}));
    }
    a[m] = k >> 4;
  }
}

void ilbc_bwexpand2(i32* out, const i32* in, int length) {
  out[0] = in[0];
  for (int i = 1; i < length; ++i) out[i] = sat32(2 * i64{hi(in[i], ilbc_bwexpand_coef2[i - 1])});
}

void ilbc_bwexpand3(i32* out, const i32* in, int length) {
  out[0] = in[0];
  for (int i = 1; i < length; ++i) out[i] = sat32(2 * i64{hi(in[i], ilbc_bwexpand_coef3[i - 1])});
}

void ilbc_a2lsf(i32* freq_q29, const i32* a, const i32* fallback_q29) {
  std::array<i32, 5> p{}, q{}, p_pre{}, q_pre{};
  for (int i = 0; i < 5; ++i) {
    p[i] = ilbc_L_negate(ilbc_L_add(a[i + 1] >> 2, a[10 - i] >> 2));
    q[i] = ilbc_L_sub(a[10 - i] >> 2, a[i + 1] >> 2);
  }
  p_pre[0] = ilbc_L_sub(-33554432, p[0]);
  q_pre[0] = ilbc_L_sub(33554432, q[0]);
  for (int i = 1; i < 5; ++i) {
    p_pre[i] = wrap32(-i64{ilbc_L_add(p_pre[i - 1], p[i])});
    q_pre[i] = ilbc_L_sub(q_pre[i - 1], q[i]);
  }
  p_pre[4] >>= 1;
  q_pre[4] >>= 1;

  std::array<i32, 2> old{kMax32, kMax32};
  constexpr int kLastGrid = 629;
  int g = 0;
  int found = 0;
  for (int root = 0; root < kOrder && g <= kLastGrid; ++root) {
    const i32* pq = (root & 1) ? q_pre.data() : p_pre.data();
    i32& o = old[root & 1];
    int step = 8, level = 0, restart = 0;
    while (g <= kLastGrid) {
      const i32 h5 = eval_poly(ilbc_LSF_grid[g], pq);
      if (hi(h5, o) >= 0) {
        o = h5;
        g += step;
      } else if (level < 3) {
        if (level == 0) restart = g;
        step >>= 1;
        ++level;
        g = std::max(0, g - step);  // a sign change at the very first grid point stays in range
      } else {
        const int idx = ilbc_L_abs(h5) >= ilbc_L_abs(o) ? g - 1 : g;
        freq_q29[root] = wrap32((i64{std::max(idx, 0)} * 10710099) >> 2);
        o = o >= 0 ? kMin32 : kMax32;
        g = restart;
        ++found;
        break;
      }
    }
  }
  // Roots the grid ran out before take the previous frame's values, so the set stays defined.
  for (int i = found; i < kOrder; ++i) freq_q29[i] = fallback_q29[i];
}

i32 ilbc_cosine(i32 L_freq) {
  const i32 t = ilbc_L_add(L_freq, 32768);
  const int ind = std::min(t >> 24, 63);
  const int offset = (t >> 16) & 255;
  const i32 v = ilbc_table2[ind] + ((offset * i32{ilbc_slope_cos[ind]}) >> 12);
  return i32{sat16(v)} * 65536;
}

void ilbc_lsf2a(i32* a_coef, i32* freq) {
  for (int i = 0; i < kOrder; ++i) freq[i] = wrap32(i64{sat32(2 * i64{hi(freq[i], 341782638)})} * 4);
  bool repaired = false;
  if (freq[0] <= 0) {
    freq[0] = 47244640;
    repaired = true;
  }
  if (freq[9] >= (1 << 30)) {
    freq[9] = 1071594340;
    repaired = true;
  }
  if (repaired) {
    const i32 hlp = sat32(2 * i64{hi(wrap32(i64{freq[9]} - freq[0]), 238609294)});
    for (int i = 1; i < kOrder; ++i) freq[i] = wrap32(i64{freq[i - 1]} + hlp);
  }
  std::array<i32, 5> p{}, q{}, a1{}, a2{}, b1{}, b2{};
  for (int i = 0; i < 5; ++i) {
    p[i] = ilbc_cosine(freq[2 * i]);
    q[i] = ilbc_cosine(freq[2 * i + 1]);
    a1[i] = b1[i] = 33554432;
  }
  for (int j = 0; j < kOrder; ++j) {
    std::array<i32, 6> a{}, b{};
    a[0] = j == 0 ? 33554432 : 0;
    b[0] = j == 0 ? -33554432 : 0;
    for (int i = 0; i < 5; ++i) {
      const i32 xa = sat32(2 * i64{wrap32(2 * i64{hi(p[i], a1[i])})});
      const i32 xb = sat32(2 * i64{wrap32(2 * i64{hi(q[i], b1[i])})});
      a[i + 1] = sat32(i64{sat32(i64{a[i]} - xa)} + a2[i]);
      b[i + 1] = sat32(i64{sat32(i64{b[i]} - xb)} + b2[i]);
      a2[i] = a1[i];
      a1[i] = a[i];
      b2[i] = b1[i];
      b1[i] = b[i];
    }
    a_coef[j + 1] = sat32(2 * i64{sat32(i64{a[5]} + b[5])});
  }
  a_coef[0] = kOneQ27;
}

i16 ilbc_vq3(i16* Xq_q13, const i16* CB_q13, const i32* X_q29, int n_cb) {
  return vq_search(Xq_q13, CB_q13, X_q29, n_cb, 3);
}

i16 ilbc_vq4(i16* Xq_q13, const i16* CB_q13, const i32* X_q29) { return vq_search(Xq_q13, CB_q13, X_q29, 128, 4); }

void ilbc_SplitVQ(i16* qX_q13, i16* index, const i32* X_q29) {
  const i16* cb = ilbc_lsfCbTbl_q13.data();
  index[0] = ilbc_vq3(qX_q13, cb, X_q29, 64);
  index[1] = ilbc_vq3(qX_q13 + 3, cb + 192, X_q29 + 3, 128);
  index[2] = ilbc_vq4(qX_q13 + 6, cb + 576, X_q29 + 6);
}

int ilbc_LSFQ13_check(i16* lsf, int dim, int NoAn) {
  int changed = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int v = 0; v < NoAn; ++v) {
      i16* x = lsf + v * dim;
      for (int n = 0; n < dim - 1; ++n) {
        if (i32{x[n + 1]} - x[n] < 320) {
          if (x[n + 1] >= x[n]) {
            x[n] = wrap16(i32{x[n]} - 160);
            x[n + 1] = wrap16(i32{x[n + 1]} + 160);
          } else {
            x[n + 1] = wrap16(i32{x[n]} + 160);
          }
          changed = 1;
        }
        if (x[n] < 82) {
          x[n] = 82;
          changed = 1;
        }
        if (x[n] > 25723) {
          x[n] = 25723;
          changed = 1;
        }
      }
    }
  }
  return changed;
}

void ilbc_Conv_LPfiltCoeffs(const i32* syntdenum_q27, const i32* weightdenum_q27, i16* syntdenum_q12,
                            i16* weightdenum_q12, int nsub) {
  ilbc_Vec_L_shr_r(syntdenum_q27, syntdenum_q12, 11 * nsub, -1);
  ilbc_Vec_L_shr_r(weightdenum_q27, weightdenum_q12, 11 * nsub, -1);
}

void ilbc_SimplelsfDEQ(i16* lsfdeq_q13, const i16* index, int lpc_n) {
  const auto& cb = ilbc_lsfCbTbl_q13;
  for (int s = 0; s < lpc_n; ++s) {
    i16* out = lsfdeq_q13 + 10 * s;
    for (int m = 0; m < 3; ++m) out[m] = cb[3 * index[3 * s] + m];
    for (int m = 0; m < 3; ++m) out[3 + m] = cb[192 + 3 * index[3 * s + 1] + m];
    for (int m = 0; m < 4; ++m) out[6 + m] = cb[4 * (144 + index[3 * s + 2]) + m];
  }
}

void ilbc_DecoderInterpolateLSF(i32* syntdenum_q27, i32* weightdenum_q27, const i16* lsfdeq_q13, int length,
                                iLBC_Dec_Inst_t* inst) {
  for (int i = 0; i < inst->nsub; ++i) {
    i32* a = syntdenum_q27 + 11 * i;
    if (frame_ms(inst) == 30) {
      const i16* l1 = i == 0 ? inst->lsfdeqold : lsfdeq_q13;
      const i16* l2 = i == 0 ? lsfdeq_q13 : lsfdeq_q13 + length;
      ilbc_LSFinterpolate2a_dec(a, l1, l2, ilbc_lsf_weightTbl_30ms_q30[i], ilbc_lsf_InvweightTbl_30ms_q30[i]);
    } else {
      ilbc_LSFinterpolate2a_dec(a, inst->lsfdeqold, lsfdeq_q13, ilbc_lsf_weightTbl_20ms_q30[i],
                                ilbc_lsf_InvweightTbl_20ms_q30[i]);
    }
    ilbc_bwexpand3(weightdenum_q27 + 11 * i, a, 11);
  }
  const int last = frame_ms(inst) == 30 ? length : 0;
  for (int i = 0; i < length; ++i) inst->lsfdeqold[i] = lsfdeq_q13[last + i];
}

}  // namespace ilbc

// Start-state coding of the iLBC codec.
#include "ilbc_state.h"

#include <array>

#include "ilbc_filters.h"
#include "ilbc_kernels.h"
#include "ilbc_tables.h"

namespace ilbc {
namespace {

constexpr int kMaxState = 58;

i64 windowed_square(i16 x, i32 w) { return sat32(2 * i64{hi(i32{x} * x, w)}); }

// The all-pass numerator: the synthesis filter's coefficients reversed.
std::array<i16, 11> reversed_numerator(const i16* synt) {
  std::array<i16, 11> num{};
  for (int k = 0; k < 10; ++k) num[k] = synt[10 - k];
  num[10] = synt[0];
  return num;
}

}  // namespace

i16 ilbc_FrameClassify2(const iLBC_Enc_Inst_t* inst, const i16* residual, i16* state_first, i16* start_pos) {
  const int nsub = inst->nsub;
  std::array<i32, 6> f{}, b{};
  for (int n = 0; n < nsub; ++n) {
    const i16* x = residual + 40 * n;
    i64 front = 0, back = 0;
    for (int l = 0; l < 5; ++l) front += windowed_square(x[l], ilbc_sampEn_win_q31[l]);
    for (int l = 5; l < 40; ++l) front += i32{x[l]} * x[l];
    for (int l = 0; l < 35; ++l) back += i32{x[l]} * x[l];
    for (int l = 35; l < 40; ++l) back += windowed_square(x[l], ilbc_sampEn_win_q31[39 - l]);
    f[n] = wrap32(front >> 3);
    b[n] = wrap32(back >> 3);
  }
  const int l0 = frame_ms(inst) == 20 ? 1 : 0;
  auto pair_energy = [&](int n) { return sat32(2 * i64{hi(wrap32(i64{f[n - 1]} + b[n]), ilbc_ssqEn_win_q31[l0 + n - 1])}); };
  int start = 1;
  i32 best = pair_energy(1);
  for (int n = 2; n < nsub; ++n) {
    const i32 p = pair_energy(n);
    if (p > best) {
      best = p;
      start = n;
    }
  }
  const int ssl = inst->state_short_len;
  const int first = (start - 1) * 40;
  const i64 e1 = ilbc_Vec_L64_sqa0(residual + first, ssl);
  const i64 e2 = ilbc_Vec_L64_sqa0(residual + first + 80 - ssl, ssl);
  if (e2 < e1) {
    *state_first = 1;
    *start_pos = static_cast<i16>(first);
  } else {
    *state_first = 0;
    *start_pos = static_cast<i16>(first + 80 - ssl);
  }
  return static_cast<i16>(start);
}

int ilbc_sort_sq2(i16* xq, i16 x, const i16* cb, const i16* cb_threshold, int cb_size) {
  int result = 0;
  if (x > cb[0]) {
    int i = 1;
    while (i < cb_size - 1 && cb[i] <= x) ++i;
    result = x > cb_threshold[i] ? i : i - 1;
  }
  *xq = cb[result];
  return result;
}

int ilbc_sort_sq2_long_8(i32* xq, i32 x, const i32* cb, const i32* cb_threshold) {
  int result = 0;
  if (x > cb[0]) {
    int i = 1;
    while (i < 7 && cb[i] <= x) ++i;
    result = x > cb_threshold[i] ? i : i - 1;
  }
  *xq = cb[result];
  return result;
}

void ilbc_StateSearchW(const iLBC_Enc_Inst_t* inst, const i16* residual, const i16* synt, const i16* weight,
                       i16* idxForMax, i16* idxVec, int len, int state_first) {
  const auto num = reversed_numerator(synt);
  std::array<i16, kMaxState + 20> in{};
  ilbc_Copy(residual, in.data() + 10, len);
  std::array<i16, 10 + 2 * kMaxState> fout{};
  i16* y = fout.data() + 10;
  ilbc_ZeroPoleFilter2(in.data() + 10, num.data(), synt, len, y);
  i16 maxVal = 0;
  for (int k = 0; k < len; ++k) {
    y[k] = sat16(i32{y[k]} + y[k + len]);
    maxVal = std::max(maxVal, ilbc_abs_s(y[k]));
  }
  if (maxVal < 10) maxVal = 10;
  i16 level = 0;
  *idxForMax = static_cast<i16>(ilbc_sort_sq2(&level, maxVal, ilbc_pow10_state_frgqTbl_q0.data(),
                                              ilbc_pow10_state_frgqTbl_q0_thres.data(), 64));
  std::array<i32, 10 + kMaxState> scaled{};
  const i32 scale = ilbc_scal_frgqTbl_q16[*idxForMax];
  for (int k = 0; k < len; ++k) scaled[10 + k] = i32{y[k]} * scale;
  ilbc_AbsQuantW(inst, scaled.data() + 10, weight, idxVec, len, state_first);
}

void ilbc_AbsQuantW(const iLBC_Enc_Inst_t* inst, i32* in, const i16* weight, i16* out, int len, int state_first) {
  std::array<i32, 10 + kMaxState> synt_out{};
  i32* so = synt_out.data() + 10;
  const int change = state_first ? 40 : inst->state_short_len - 40;
  ilbc_Syn_filt32(weight, in, in, change);
  for (int n = 0; n < len; ++n) {
    if (n == change) {
      weight += 11;
      ilbc_Syn_filt32(weight, in + n, in + n, len - n);
    }
    so[n] = 0;
    ilbc_Syn_filt32(weight, so + n, so + n, 1);
    i32 level = 0;
    out[n] = static_cast<i16>(ilbc_sort_sq2_long_8(&level, wrap32(i64{in[n]} - so[n]), ilbc_state_sq3Tbl_q16.data(),
                                                   ilbc_state_sq3Tbl_q16_thresh.data()));
    so[n] = level;
    ilbc_Syn_filt32(weight, so + n, so + n, 1);
  }
}

void ilbc_StateConstructW(int idxForMax, const i16* idxVec, const i16* synt, i16* out_q0, int len) {
  const i32 maxVal_q16 = wrap32(2 * ((i64{ilbc_pow10_state_frgqTbl_q0[idxForMax]} * 477218588) >> 16));
  const auto num = reversed_numerator(synt);
  std::array<i32, kMaxState + 20> tmp{};
  for (int k = 0; k < len; ++k)
    tmp[10 + k] = sat32(2 * i64{hi(maxVal_q16, ilbc_state_sq3Tbl_q28[idxVec[len - 1 - k]])});
  std::array<i32, 10 + 2 * kMaxState> fout{};
  i32* y = fout.data() + 10;
  ilbc_ZeroPoleFilter32(tmp.data() + 10, num.data(), synt, len, y);
  for (int k = 0; k < len; ++k)
    out_q0[k] = static_cast<i16>(ilbc_L_shl(ilbc_L_add(y[len - 1 - k], y[2 * len - 1 - k]), 3) >> 16);
}

}  // namespace ilbc

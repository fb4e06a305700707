// Vector kernels of the iLBC codec: small loops with exactly defined arithmetic, shared by the
// analysis, search, construction and enhancement code.
#pragma once

#include <algorithm>
#include <cstring>

#include "ilbc_basic.h"

namespace ilbc {

inline void ilbc_Copy(const i16* src, i16* dst, int n) {
  if (n > 0) std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(i16));
}
inline void ilbc_Set_zero(i16* dst, int n) {
  if (n > 0) std::memset(dst, 0, static_cast<std::size_t>(n) * sizeof(i16));
}
inline void ilbc_L_Copy(const i32* x, i32* y, int n) {
  if (n > 0) std::memmove(y, x, static_cast<std::size_t>(n) * sizeof(i32));
}
inline void ilbc_L_Set_zero(i32* x, int n) {
  if (n > 0) std::memset(x, 0, static_cast<std::size_t>(n) * sizeof(i32));
}
// y[k] = x[-k]: reads backwards from x.
inline void ilbc_Rev_Copy(const i16* x, i16* y, int n) {
  for (int k = 0; k < n; ++k) y[k] = x[-k];
}
// y[-k] = x[k]: writes backwards from y.
inline void ilbc_Rev_CopyBack(const i16* x, i16* y, int n) {
  for (int k = 0; k < n; ++k) y[-k] = x[k];
}

// Largest saturated |x| of 32-bit values.
inline i32 ilbc_get_max_abs(const i32* src, int n) {
  i32 m = 0;
  for (int i = 0; i < n; ++i) m = std::max(m, ilbc_L_abs(src[i]));
  return m;
}

// Largest wrapping |x| of 16-bit values: -32768 stays -32768 and so never wins unless alone.
inline i16 ilbc_Vec_abs_max(const i16* src, int n) {
  i16 m = -32768;
  for (int i = 0; i < n; ++i) {
    const i16 a = src[i] < 0 ? wrap16(-i32{src[i]}) : src[i];
    if (a > m) m = a;
  }
  return m;
}

inline void ilbc_Vec_L_shr_r(const i32* src, i16* dst, int n, int shift) {
  for (int i = 0; i < n; ++i) {
    const i32 t = ilbc_L_shr(src[i], shift);
    dst[i] = sat16((i64{t} + 32768) >> 16);
  }
}

inline void ilbc_Vec_L_shl(const i32* src, i32* dst, int shift, int n) {
  for (int i = 0; i < n; ++i) dst[i] = ilbc_L_shl(src[i], shift);
}

// 16-bit shift without saturation; a negative shift is an arithmetic right shift.
inline void ilbc_Vec_shl_8(const i16* src, i16* dst, int shift, int n) {
  for (int i = 0; i < n; ++i) dst[i] = shift >= 0 ? wrap16(i32{src[i]} * (1 << shift)) : static_cast<i16>(src[i] >> -shift);
}

inline void ilbc_window(i32* dst, const i16* win, const i32* src, int n) {
  for (int i = 0; i < n; ++i) dst[i] = static_cast<i32>((i64{win[i]} * src[i]) >> 15);
}

inline void ilbc_L_interpolate(i32* dst, const i32* a, const i32* b, i32 wa, i32 wb, int n) {
  for (int i = 0; i < n; ++i)
    dst[i] = sat32(2 * i64{sat32(i64{hi(2 * i64{wa}, a[i])} + hi(2 * i64{wb}, b[i]))});
}

inline void ilbc_S_interpolate(i32* dst, const i16* a, const i16* b, i32 wa, i32 wb, int n) {
  for (int i = 0; i < n; ++i)
    dst[i] = sat32(2 * i64{sat32(i64{hi(2 * i64{wa}, i64{a[i]} * 65536)} + hi(2 * i64{wb}, i64{b[i]} * 65536))});
}

inline i64 ilbc_Vec_L64_sqa0(const i16* x, int n) {
  i64 s = 0;
  for (int i = 0; i < n; ++i) s += i32{x[i]} * x[i];
  return s;
}
inline i64 ilbc_Vec_L64_mac0(const i16* x, const i16* y, int n) {
  i64 s = 0;
  for (int i = 0; i < n; ++i) s += i32{x[i]} * y[i];
  return s;
}

// out[k] = sum over i < 80 of x[i] x[i - lag0 - k], k < count, exact in 64 bits.
void ilbc_lag_correlations(const i16* x, int lag0, int count, i64* out);
void ilbc_lag_correlations_model(const i16* x, int lag0, int count, i64* out);

// out[k] = sum over four lanes of (40-term lane sum of x[n]*y[n-k], wrapping) >> shift.
inline void VecLmultPS0_32_Loop(const i16* x, const i16* y, int count, i32* out, int shift) {
  for (int k = 0; k < count; ++k) {
    i32 total = 0;
    for (int j = 0; j < 4; ++j) {
      std::uint32_t lane = 0;
      for (int m = 0; m < 10; ++m) lane += static_cast<std::uint32_t>(i32{x[4 * m + j]} * y[4 * m + j - k]);
      total = wrap32(i64{total} + (static_cast<i32>(lane) >> shift));
    }
    out[k] = total;
  }
}
inline void ilbc_VecLmultPS0_32_Shr4_Loop(const i16* x, const i16* y, int count, i32* out) {
  VecLmultPS0_32_Loop(x, y, count, out, 4);
}
inline void ilbc_VecLmultPS0_32_Shr2_Loop(const i16* x, const i16* y, int count, i32* out) {
  VecLmultPS0_32_Loop(x, y, count, out, 2);
}

}  // namespace ilbc

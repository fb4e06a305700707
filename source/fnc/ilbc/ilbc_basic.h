// Scalar fixed-point operators of the iLBC codec. Every operator is exact: saturation, wrapping
// and rounding happen where the name says and nowhere else.
#pragma once

#include <cstdint>
#include <limits>

namespace ilbc {

using i16 = std::int16_t;
using i32 = std::int32_t;
using i64 = std::int64_t;

inline constexpr i32 kMax32 = std::numeric_limits<i32>::max();
inline constexpr i32 kMin32 = std::numeric_limits<i32>::min();

inline i32 sat32(i64 v) { return v > kMax32 ? kMax32 : v < kMin32 ? kMin32 : static_cast<i32>(v); }
inline i16 sat16(i64 v) { return v > 32767 ? 32767 : v < -32768 ? -32768 : static_cast<i16>(v); }
// Two's-complement wrap to 32 or 16 bits.
inline i32 wrap32(i64 v) { return static_cast<i32>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v))); }
inline i16 wrap16(i64 v) { return static_cast<i16>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(v))); }
// Upper word of an exact 64-bit product, floor(a*b / 2^32).
inline i32 hi(i64 a, i64 b) { return static_cast<i32>((a * b) >> 32); }

inline i16 ilbc_norm_l(i32 x) {
  if (x == 0) return 31;
  std::uint32_t u = static_cast<std::uint32_t>(x < 0 ? ~x : x);
  if (u == 0) return 31;
  return static_cast<i16>(__builtin_clz(u) - 1);
}

inline i16 ilbc_norm_s(i16 x) {
  if (x == 0) return 0;
  if (x == -1) return 15;
  std::uint32_t u = static_cast<std::uint32_t>(x < 0 ? ~x : x);
  return static_cast<i16>(__builtin_clz(u) - 17);
}

inline i32 ilbc_L_shl(i32 x, int n) {
  if (n <= 0) return -n >= 31 ? (x < 0 ? -1 : 0) : x >> -n;
  if (x == 0) return 0;
  if (n <= ilbc_norm_l(x)) return static_cast<i32>(static_cast<std::uint32_t>(x) << n);
  return x > 0 ? kMax32 : kMin32;
}
inline i32 ilbc_L_shr(i32 x, int n) { return ilbc_L_shl(x, -n); }
// Shift by c: saturating left shift for c >= 0, arithmetic right shift for c < 0.
inline i32 shift_by(i32 x, int c) { return ilbc_L_shl(x, c); }

inline i32 ilbc_L_add(i32 a, i32 b) { return sat32(i64{a} + b); }
inline i32 ilbc_L_sub(i32 a, i32 b) { return sat32(i64{a} - b); }
inline i32 ilbc_L_abs(i32 a) { return a == kMin32 ? kMax32 : (a < 0 ? -a : a); }
inline i32 ilbc_L_negate(i32 a) { return a == kMin32 ? kMax32 : -a; }
inline i16 ilbc_add(i16 a, i16 b) { return sat16(i32{a} + b); }
inline i16 ilbc_sub(i16 a, i16 b) { return sat16(i32{a} - b); }
inline i16 ilbc_abs_s(i16 a) { return a == -32768 ? 32767 : static_cast<i16>(a < 0 ? -a : a); }
inline i16 ilbc_negate(i16 a) { return a == -32768 ? 32767 : static_cast<i16>(-a); }
inline i16 ilbc_shr(i16 a, int n) { return static_cast<i16>(a >> n); }
inline i16 ilbc_extract_h(i32 x) { return static_cast<i16>(x >> 16); }
inline i16 ilbc_extract_l(i32 x) { return wrap16(x); }
inline i32 ilbc_L_deposit_h(i16 x) { return static_cast<i32>(static_cast<std::uint32_t>(x) << 16); }
inline i32 ilbc_L_mult(i16 x, i16 y) { return sat32(2 * i64{x} * y); }
inline i32 ilbc_L_msu(i32 acc, i16 x, i16 y) { return sat32(i64{acc} - ilbc_L_mult(x, y)); }
inline i32 ilbc_L_mult_ps0(i16 x, i16 y) { return i32{x} * y; }
inline i32 ilbc_round_to16(i32 x) { return sat32(i64{x} + 32768) >> 16; }
inline i32 ilbc_round(i32 x) { return ilbc_round_to16(x); }

// 2*floor(a*x / 2^16), the doubling wraps.
inline i32 ilbc_mpy_ls(i32 a, i16 x) { return wrap32(2 * ((i64{a} * x) >> 16)); }
inline i32 ilbc_mpy_ll(i32 a, i32 b) { return sat32(2 * i64{hi(a, b)}); }
inline i32 ilbc_mpy_ll_ps0(i32 a, i32 b) { return hi(a, b); }
// The Q30 product of the gain code: sat32(2 * (2 * hi(a*b))).
inline i32 mpy_q30(i32 a, i32 b) { return sat32(4 * i64{hi(a, b)}); }
// Saturates a 64-bit accumulator to 32 bits.
inline i32 ilbc_dLim(i64 acc) { return sat32(acc); }

// floor(32768*num / den), saturated; exact integer division for 0 <= num <= den.
inline i16 ilbc_div_s(i16 num, i16 den) {
  if (num <= 0 || den <= 0) return 0;
  const i32 q = static_cast<i32>((i64{num} * 32768) / den);
  return q > 32767 ? 32767 : static_cast<i16>(q);
}

// Frame length in ms as the instance's mode values give it. The stored `mode` may hold a value
// that initialisation refused, while the mode values stay as they were; every decision on the
// frame layout follows the mode values so that they can never disagree.
template <typename Inst>
int frame_ms(const Inst* inst) {
  return inst->blockl == 240 ? 30 : 20;
}
// Sets the frame layout of a 20 or 30 ms instance (encoder or decoder alike).
template <typename Inst>
void set_mode_values(Inst* inst, int mode) {
  const bool m30 = mode == 30;
  inst->blockl = m30 ? 240 : 160;
  inst->nsub = m30 ? 6 : 4;
  inst->nasub = m30 ? 4 : 2;
  inst->no_of_bytes = m30 ? 50 : 38;
  inst->no_of_words = m30 ? 25 : 19;
  inst->lpc_n = m30 ? 2 : 1;
  inst->state_short_len = m30 ? 58 : 57;
}
// True when the instance carries a valid set of mode values.
template <typename Inst>
bool mode_values_valid(const Inst* inst) {
  return (inst->blockl == 160 && inst->nsub == 4) || (inst->blockl == 240 && inst->nsub == 6);
}

i32 ilbc_DIV_32(i32 num, i32 den);
i32 ilbc_L_divide(i32 numerator, i32 denom);
void ilbc_Isqrt_n(i32* frac, i16* exp);
i32 ilbc_Isqrt(i32 x, i16* exp);
i32 ilbc_sqrt_l_exp(i32 x, i16* exp);

}  // namespace ilbc

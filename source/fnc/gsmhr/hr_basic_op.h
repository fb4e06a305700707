// Saturating fixed-point operators of the GSM half-rate codec (its own copy, in namespace hr).
// 16-bit results saturate to [-32768, 32767], 32-bit results to [-2^31, 2^31 - 1].
#pragma once

#include <cstdint>

namespace hr {

typedef std::int16_t Word16;
typedef std::int32_t Word32;

inline constexpr Word16 SW_MAX = 32767;
inline constexpr Word16 SW_MIN = -32768;
inline constexpr Word32 LW_MAX = 0x7FFFFFFF;
inline constexpr Word32 LW_MIN = -0x7FFFFFFF - 1;

// Normalised value: mantissa and the left shift that was applied to obtain it.
struct NormSw {
  Word16 man;
  Word16 sh;
};
using HR_NormSw = NormSw;

inline Word16 sat16(std::int64_t x) {
  return x > SW_MAX ? SW_MAX : (x < SW_MIN ? SW_MIN : static_cast<Word16>(x));
}
inline Word32 sat32(std::int64_t x) {
  return x > LW_MAX ? LW_MAX : (x < LW_MIN ? LW_MIN : static_cast<Word32>(x));
}
// Two's-complement wrap to 32 bits (the operators that are stated not to saturate).
inline Word32 wrap32(std::int64_t x) { return static_cast<Word32>(static_cast<std::uint32_t>(x)); }

inline Word16 add(Word16 a, Word16 b) { return sat16(Word32(a) + b); }
inline Word16 sub(Word16 a, Word16 b) { return sat16(Word32(a) - b); }
inline Word16 abs_s(Word16 a) { return a == SW_MIN ? SW_MAX : (a < 0 ? Word16(-a) : a); }
inline Word16 negate(Word16 a) { return a == SW_MIN ? SW_MAX : Word16(-a); }
inline Word16 mult(Word16 a, Word16 b) { return sat16((Word32(a) * b) >> 15); }
inline Word16 hr_mult_r(Word16 a, Word16 b) { return sat16((Word32(a) * b + 16384) >> 15); }
inline Word16 mult_r(Word16 a, Word16 b) { return hr_mult_r(a, b); }

inline Word16 hr_shr(Word16 a, Word16 n);
// Saturating left shift; a negative count shifts right arithmetically.
inline Word16 hr_shl(Word16 a, Word16 n) {
  if (n < 0) return hr_shr(a, Word16(n < -16 ? 16 : -n));
  if (n > 15) return a == 0 ? 0 : (a > 0 ? SW_MAX : SW_MIN);
  return sat16(std::int64_t(a) * (std::int64_t(1) << n));
}
// Truncating arithmetic right shift; a negative count shifts left with saturation.
inline Word16 hr_shr(Word16 a, Word16 n) {
  if (n < 0) return hr_shl(a, Word16(n < -16 ? 16 : -n));
  return static_cast<Word16>(a >> (n > 15 ? 15 : n));
}
inline Word16 shl(Word16 a, Word16 n) { return hr_shl(a, n); }
inline Word16 shr(Word16 a, Word16 n) { return hr_shr(a, n); }

inline Word32 L_add(Word32 a, Word32 b) {
  Word32 r;
  if (__builtin_add_overflow(a, b, &r)) return a < 0 ? LW_MIN : LW_MAX;
  return r;
}
inline Word32 L_sub(Word32 a, Word32 b) {
  Word32 r;
  if (__builtin_sub_overflow(a, b, &r)) return a < 0 ? LW_MIN : LW_MAX;
  return r;
}
inline Word32 L_negate(Word32 a) { return a == LW_MIN ? LW_MAX : -a; }
inline Word32 L_abs(Word32 a) { return a == LW_MIN ? LW_MAX : (a < 0 ? -a : a); }
inline Word32 L_mult(Word16 a, Word16 b) {
  Word32 p = Word32(a) * b;
  return p == 0x40000000 ? LW_MAX : p * 2;
}
inline Word32 L_mac(Word32 acc, Word16 a, Word16 b) { return L_add(acc, L_mult(a, b)); }
inline Word32 L_msu(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, L_mult(a, b)); }

inline Word32 hr_L_shr(Word32 a, Word16 n);
inline Word32 hr_L_shl(Word32 a, Word16 n) {
  if (n < 0) return hr_L_shr(a, Word16(n < -32 ? 32 : -n));
  if (n > 31) return a == 0 ? 0 : (a > 0 ? LW_MAX : LW_MIN);
  return sat32(std::int64_t(a) * (std::int64_t(1) << n));
}
inline Word32 hr_L_shr(Word32 a, Word16 n) {
  if (n < 0) return hr_L_shl(a, Word16(n < -32 ? 32 : -n));
  return a >> (n > 31 ? 31 : n);
}
inline Word32 L_shl(Word32 a, Word16 n) { return hr_L_shl(a, n); }
inline Word32 L_shr(Word32 a, Word16 n) { return hr_L_shr(a, n); }

inline Word16 extract_h(Word32 a) { return static_cast<Word16>(a >> 16); }
inline Word16 extract_l(Word32 a) { return static_cast<Word16>(a & 0xFFFF); }
inline Word32 L_deposit_h(Word16 a) { return Word32(a) * 65536; }
inline Word16 round16(Word32 a) { return extract_h(L_add(a, 0x8000)); }

// Left shift that brings a non-zero value into [2^30, 2^31) or [-2^31, -2^30); 0 for 0.
inline Word16 hr_norm_l(Word32 a) {
  if (a == 0) return 0;
  if (a == -1) return 31;
  std::uint32_t u = static_cast<std::uint32_t>(a < 0 ? ~a : a);
  Word16 n = 0;
  while (u < 0x40000000u) {
    u <<= 1;
    ++n;
  }
  return n;
}
inline Word16 hr_norm_s(Word16 a) {
  if (a == 0) return 0;
  if (a == -1) return 15;
  Word32 u = a < 0 ? ~Word32(a) : a;
  Word16 n = 0;
  while (u < 0x4000) {
    u <<= 1;
    ++n;
  }
  return n;
}
inline Word16 norm_l(Word32 a) { return hr_norm_l(a); }
inline Word16 norm_s(Word16 a) { return hr_norm_s(a); }

inline bool hr_isLwLimit(Word32 a) { return a == LW_MAX || a == LW_MIN; }
inline bool hr_isSwLimit(Word16 a) { return a == SW_MAX || a == SW_MIN; }

// Fractional quotient floor(num * 32768 / den) for 0 <= num <= den, den > 0; 32767 when
// num == den. Exact integer arithmetic: the floating-point environment is never touched.
inline Word16 hr_div_s(Word16 num, Word16 den) {
  if (num <= 0 || den <= 0) return 0;
  if (num >= den) return SW_MAX;
  return static_cast<Word16>((Word32(num) << 15) / den);
}

// Bits 15..46 of (L with bit 0 cleared) * s; wraps where the product leaves 32 bits.
inline Word32 hr_L_mpy_ls(Word32 L, Word16 s) {
  return wrap32((std::int64_t(L & ~1) * s) >> 15);
}
// Bits 31..62 of the product of both operands with bit 0 cleared.
inline Word32 hr_L_mpy_ll(Word32 a, Word32 b) {
  return wrap32((std::int64_t(a & ~1) * std::int64_t(b & ~1)) >> 31);
}
// Bits 31..62 of the full product.
inline Word32 hr_L_mpy_ll2(Word32 a, Word32 b) {
  return wrap32((std::int64_t(a) * std::int64_t(b)) >> 31);
}

// Square root of a normalised positive value (0.5 <= L < 1 in Q31), Q15 result, by the
// truncated binomial series around 1.
inline Word16 hr_sqroot(Word32 L_in) {
  Word32 L1 = L_sub(L_shr(L_in, 1), 0x40000000);  // x/2
  Word16 t = extract_h(L1);
  L1 = L_sub(L1, LW_MIN);  // 1 + x/2
  Word32 L0 = L_msu(0, t, t);  // -x^2/4
  Word16 t2 = extract_h(L0);
  L0 = L_add(L1, L_shr(L0, 1));  // 1 + x/2 - x^2/8
  L1 = L_msu(0, t, t2);  // x^3/8
  Word16 t3 = extract_h(L1);
  L1 = L_add(L0, L_shr(L1, 1));  // + x^3/16
  Word16 t4 = round16(L_mult(t, t3));  // x^4/16
  Word16 t5 = round16(L_msu(0, t2, t3));  // x^5/32
  L1 = L_add(L_msu(0, 0x5000, t4), L1);
  L1 = L_add(L_mac(0, 0x7000, t5), L1);
  return round16(L1);
}

}  // namespace hr

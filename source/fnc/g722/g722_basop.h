// The G.722 family's own copies of the saturating ITU-T basic operators (16-bit values, 32-bit
// accumulators). They behave as the published operators and keep no overflow flag.
#pragma once

#include <bit>
#include <cstdint>

namespace g722 {

using Word16 = std::int16_t;
using Word32 = std::int32_t;

constexpr Word32 kMax32 = 0x7FFFFFFF;
constexpr Word32 kMin32 = static_cast<Word32>(0x80000000u);

// Saturation is rare: a predicted branch keeps it off the dependency chains of the recursions.
inline Word16 saturate(Word32 v) {
  if (__builtin_expect(v > 32767, 0)) return 32767;
  if (__builtin_expect(v < -32768, 0)) return -32768;
  return static_cast<Word16>(v);
}
inline Word32 L_sat(std::int64_t v) {
  if (__builtin_expect(v > kMax32, 0)) return kMax32;
  if (__builtin_expect(v < kMin32, 0)) return kMin32;
  return static_cast<Word32>(v);
}
// Clamp to [lo, hi] where leaving the range is the exception.
template <class T>
inline T clamp_rare(T v, T lo, T hi) {
  if (__builtin_expect(v > hi, 0)) return hi;
  if (__builtin_expect(v < lo, 0)) return lo;
  return v;
}
inline Word16 add(Word16 a, Word16 b) { return saturate(Word32{a} + b); }
inline Word16 sub(Word16 a, Word16 b) { return saturate(Word32{a} - b); }
inline Word16 negate(Word16 a) { return __builtin_expect(a == -32768, 0) ? 32767 : static_cast<Word16>(-a); }
inline Word16 abs_s(Word16 a) {
  if (__builtin_expect(a == -32768, 0)) return 32767;
  return static_cast<Word16>(a < 0 ? -a : a);
}
inline Word16 mult(Word16 a, Word16 b) { return saturate((Word32{a} * b) >> 15); }
inline Word16 mult_r(Word16 a, Word16 b) { return saturate((Word32{a} * b + 0x4000) >> 15); }
inline Word32 L_mult(Word16 a, Word16 b) {
  if (__builtin_expect(a == -32768 && b == -32768, 0)) return kMax32;
  return Word32{a} * b * 2;
}
// Overflow is rare on the hot paths: the flag test costs less than a 64-bit sum and clamp.
inline Word32 L_add(Word32 a, Word32 b) {
  Word32 r;
  if (__builtin_add_overflow(a, b, &r)) [[unlikely]] return a < 0 ? kMin32 : kMax32;
  return r;
}
inline Word32 L_sub(Word32 a, Word32 b) {
  Word32 r;
  if (__builtin_sub_overflow(a, b, &r)) [[unlikely]] return a < 0 ? kMin32 : kMax32;
  return r;
}
inline Word32 L_mac(Word32 acc, Word16 a, Word16 b) { return L_add(acc, L_mult(a, b)); }
inline Word32 L_msu(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, L_mult(a, b)); }
inline Word32 L_mac0(Word32 acc, Word16 a, Word16 b) { return L_add(acc, Word32{a} * b); }
inline Word32 L_msu0(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, Word32{a} * b); }
inline Word32 L_negate(Word32 a) { return a == kMin32 ? kMax32 : -a; }
inline Word32 L_abs(Word32 a) { return a == kMin32 ? kMax32 : (a < 0 ? -a : a); }
inline Word16 extract_h(Word32 a) { return static_cast<Word16>(a >> 16); }
inline Word16 extract_l(Word32 a) { return static_cast<Word16>(a); }
inline Word16 round16(Word32 a) { return extract_h(L_add(a, 0x8000)); }
inline Word32 L_deposit_h(Word16 a) { return Word32{a} << 16; }
inline Word16 s_max(Word16 a, Word16 b) { return a > b ? a : b; }
inline Word16 s_min(Word16 a, Word16 b) { return a < b ? a : b; }
inline Word32 L_max(Word32 a, Word32 b) { return a > b ? a : b; }

inline Word16 shr(Word16 a, Word16 n);
inline Word16 shl(Word16 a, Word16 n) {
  if (n < 0) return shr(a, static_cast<Word16>(n < -16 ? 16 : -n));
  if (n > 15) return a == 0 ? 0 : (a > 0 ? 32767 : -32768);
  return saturate(Word32{a} << n);
}
inline Word16 shr(Word16 a, Word16 n) {
  if (n < 0) return shl(a, static_cast<Word16>(n < -16 ? 16 : -n));
  if (n > 14) return a < 0 ? -1 : 0;
  return static_cast<Word16>(a >> n);
}

inline Word32 L_shr(Word32 a, Word16 n);
// Doubling step by step saturates exactly when a * 2^n leaves 32 bits, so the shift is taken
// in 64 bits (where it fits for n <= 32) and clamped once.
inline Word32 L_shl(Word32 a, Word16 n) {
  if (n <= 0) return L_shr(a, static_cast<Word16>(n < -32 ? 32 : -n));
  if (n > 32) return a == 0 ? 0 : (a > 0 ? kMax32 : kMin32);
  return L_sat(static_cast<std::int64_t>(static_cast<std::uint64_t>(std::int64_t{a}) << n));
}
inline Word32 L_shr(Word32 a, Word16 n) {
  if (n < 0) return L_shl(a, static_cast<Word16>(n < -32 ? 32 : -n));
  if (n >= 31) return a < 0 ? -1 : 0;
  return a >> n;
}

inline Word16 norm_s(Word16 a) {
  if (a == 0) return 0;
  if (a == -1) return 15;
  const std::uint32_t v = static_cast<std::uint32_t>(a < 0 ? ~a : a);
  return static_cast<Word16>(std::countl_zero(v) - 17);
}
inline Word16 norm_l(Word32 a) {
  if (a == 0) return 0;
  if (a == -1) return 31;
  const std::uint32_t v = static_cast<std::uint32_t>(a < 0 ? ~a : a);
  return static_cast<Word16>(std::countl_zero(v) - 1);
}

// div_s: 0 <= num <= den, den > 0; the Q15 quotient, 32767 when they are equal.
inline Word16 div_s(Word16 num, Word16 den) {
  if (num <= 0 || den <= 0) return 0;
  if (num >= den) return 32767;
  return static_cast<Word16>((Word32{num} << 15) / den);
}

// Double precision in the L_Extract form: hi and a 15-bit lo.
inline void L_Extract(Word32 v, Word16 *hi, Word16 *lo) {
  *hi = extract_h(v);
  *lo = extract_l(L_msu(v >> 1, *hi, 16384));
}
inline Word32 Mpy_32_16(Word16 hi, Word16 lo, Word16 n) {
  return L_mac(L_mult(hi, n), mult(lo, n), 1);
}

}  // namespace g722

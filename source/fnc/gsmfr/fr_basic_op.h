// Saturating fixed-point operators of the GSM full-rate codec (its own copy, prefixed fr_).
// 16-bit results saturate to [-32768, 32767], 32-bit results to [-2^31, 2^31 - 1].
#pragma once

#include <cstdint>

typedef std::int16_t Word16;
typedef std::int32_t Word32;

inline constexpr Word16 FR_MAX_16 = 32767;
inline constexpr Word16 FR_MIN_16 = -32768;
inline constexpr Word32 FR_MAX_32 = 0x7FFFFFFF;
inline constexpr Word32 FR_MIN_32 = -0x7FFFFFFF - 1;

inline Word16 fr_saturate(Word32 x) {
  return x > FR_MAX_16 ? FR_MAX_16 : (x < FR_MIN_16 ? FR_MIN_16 : static_cast<Word16>(x));
}
inline Word32 fr_sat32(std::int64_t x) {
  return x > FR_MAX_32 ? FR_MAX_32 : (x < FR_MIN_32 ? FR_MIN_32 : static_cast<Word32>(x));
}

inline Word16 fr_add(Word16 a, Word16 b) { return fr_saturate(Word32(a) + b); }
inline Word16 fr_sub(Word16 a, Word16 b) { return fr_saturate(Word32(a) - b); }
inline Word16 fr_abs_s(Word16 a) { return a == FR_MIN_16 ? FR_MAX_16 : (a < 0 ? Word16(-a) : a); }
inline Word16 fr_negate(Word16 a) { return a == FR_MIN_16 ? FR_MAX_16 : Word16(-a); }

// (a * b) >> 15; -32768 * -32768 gives 32767.
inline Word16 fr_mult(Word16 a, Word16 b) { return fr_saturate((Word32(a) * b) >> 15); }
// (a * b + 16384) >> 15; -32768 * -32768 gives 32767.
inline Word16 fr_mult_r(Word16 a, Word16 b) { return fr_saturate((Word32(a) * b + 16384) >> 15); }

// Arithmetic right shift of a 16-bit value; counts of 16 or more give the sign.
inline Word16 fr_sasr(Word16 a, int n) { return static_cast<Word16>(a >> (n > 15 ? 15 : n)); }
// 16-bit left shift that wraps (drops the bits shifted out); negative counts shift right.
inline Word16 fr_shl_wrap(Word16 a, int n) {
  if (n < 0) return fr_sasr(a, -n);
  if (n > 15) return 0;
  return static_cast<Word16>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(a) << n));
}

inline Word16 fr_shr(Word16 a, Word16 n);
// Saturating left shift; a negative count shifts right arithmetically.
inline Word16 fr_shl(Word16 a, Word16 n) {
  if (n < 0) return fr_shr(a, Word16(n < -16 ? 16 : -n));
  if (n > 15) return a == 0 ? 0 : (a > 0 ? FR_MAX_16 : FR_MIN_16);
  return fr_saturate(Word32(a) * (Word32(1) << n));
}
inline Word16 fr_shr(Word16 a, Word16 n) {
  if (n < 0) return fr_shl(a, Word16(n < -16 ? 16 : -n));
  return fr_sasr(a, n);
}

inline Word32 fr_L_add(Word32 a, Word32 b) { return fr_sat32(std::int64_t(a) + b); }
inline Word32 fr_L_sub(Word32 a, Word32 b) { return fr_sat32(std::int64_t(a) - b); }
inline Word32 fr_L_mult(Word16 a, Word16 b) {
  Word32 p = Word32(a) * b;
  return p == 0x40000000 ? FR_MAX_32 : p * 2;
}
inline Word32 fr_L_mac(Word32 acc, Word16 a, Word16 b) { return fr_L_add(acc, fr_L_mult(a, b)); }
inline Word32 fr_L_msu(Word32 acc, Word16 a, Word16 b) { return fr_L_sub(acc, fr_L_mult(a, b)); }
inline Word32 fr_L_negate(Word32 a) { return a == FR_MIN_32 ? FR_MAX_32 : -a; }
inline Word32 fr_L_abs(Word32 a) { return a < 0 ? fr_L_negate(a) : a; }

inline Word32 fr_L_shr(Word32 a, Word16 n);
// Saturating 32-bit left shift; a negative count shifts right arithmetically.
inline Word32 fr_L_shl(Word32 a, Word16 n) {
  if (n <= 0) return fr_L_shr(a, Word16(n < -32 ? 32 : -n));
  if (n > 31) return a == 0 ? 0 : (a > 0 ? FR_MAX_32 : FR_MIN_32);
  return fr_sat32(std::int64_t(a) * (std::int64_t(1) << n));
}
inline Word32 fr_L_shr(Word32 a, Word16 n) {
  if (n < 0) return fr_L_shl(a, Word16(n < -32 ? 32 : -n));
  return a >> (n > 31 ? 31 : n);
}

inline Word16 fr_extract_h(Word32 a) { return static_cast<Word16>(a >> 16); }
inline Word16 fr_extract_l(Word32 a) { return static_cast<Word16>(a); }
inline Word32 fr_L_deposit_l(Word16 a) { return a; }
inline Word16 fr_round(Word32 a) { return fr_extract_h(fr_L_add(a, 0x8000)); }

// Number of left shifts that normalise a (0 for 0, 15 for -1).
inline Word16 fr_norm_s(Word16 a) {
  if (a == 0) return 0;
  std::uint32_t v = a < 0 ? ~static_cast<std::uint32_t>(Word32(a)) : static_cast<std::uint32_t>(a);
  return v == 0 ? 15 : static_cast<Word16>(__builtin_clz(v) - 17);
}
inline Word16 fr_norm_l(Word32 a) {
  if (a == 0) return 0;
  std::uint32_t v = a < 0 ? ~static_cast<std::uint32_t>(a) : static_cast<std::uint32_t>(a);
  return v == 0 ? 31 : static_cast<Word16>(__builtin_clz(v) - 1);
}

// 32-bit value shifted left by n (no saturation: callers guarantee the result fits).
inline Word32 fr_L_asl(Word32 a, int n) {
  return static_cast<Word32>(static_cast<std::uint32_t>(a) << n);
}

// Saturating fixed-point operators of the G.723.1 codec (its own copies, prefixed g723_1_).
#pragma once

#include <cstdint>

typedef std::int16_t Word16;
typedef std::int32_t Word32;

inline constexpr Word16 G723_MAX_16 = 32767;
inline constexpr Word16 G723_MIN_16 = -32768;
inline constexpr Word32 G723_MAX_32 = 0x7FFFFFFF;
inline constexpr Word32 G723_MIN_32 = -0x7FFFFFFF - 1;

// Saturation is the exception: predicted branches keep it off the recursions' dependency chains
// (a select would sit on them).
inline Word16 g723_1_sat16(Word32 x) {
  if (__builtin_expect(x > G723_MAX_16, 0)) return G723_MAX_16;
  if (__builtin_expect(x < G723_MIN_16, 0)) return G723_MIN_16;
  return static_cast<Word16>(x);
}
inline Word32 g723_1_sat32(std::int64_t x) {
  if (__builtin_expect(x > G723_MAX_32, 0)) return G723_MAX_32;
  if (__builtin_expect(x < G723_MIN_32, 0)) return G723_MIN_32;
  return static_cast<Word32>(x);
}

inline Word16 g723_1_add(Word16 a, Word16 b) { return g723_1_sat16(Word32(a) + b); }
inline Word16 g723_1_sub(Word16 a, Word16 b) { return g723_1_sat16(Word32(a) - b); }
inline Word16 g723_1_negate(Word16 a) { return a == G723_MIN_16 ? G723_MAX_16 : Word16(-a); }
inline Word16 g723_1_abs_s(Word16 a) { return a < 0 ? g723_1_negate(a) : a; }
inline Word16 g723_1_mult(Word16 a, Word16 b) { return g723_1_sat16((Word32(a) * b) >> 15); }
inline Word16 g723_1_mult_r(Word16 a, Word16 b) { return g723_1_sat16((Word32(a) * b + 0x4000) >> 15); }
inline Word16 g723_1_extract_h(Word32 a) { return static_cast<Word16>(a >> 16); }
inline Word16 g723_1_extract_l(Word32 a) { return static_cast<Word16>(a); }
inline Word32 g723_1_L_deposit_h(Word16 a) { return static_cast<Word32>(static_cast<std::uint32_t>(Word32(a)) << 16); }
inline Word32 g723_1_L_deposit_l(Word16 a) { return a; }

inline Word16 g723_1_shr(Word16 a, Word16 n);
// Saturating left shift; a negative count shifts right; counts above 16 count as 16.
inline Word16 g723_1_shl(Word16 a, Word16 n) {
  if (n < 0) return g723_1_shr(a, static_cast<Word16>(n < -16 ? 16 : -n));
  if (n > 16) n = 16;
  return g723_1_sat16(Word32(a) * (Word32(1) << n));
}
inline Word16 g723_1_shr(Word16 a, Word16 n) {
  if (n < 0) return g723_1_shl(a, static_cast<Word16>(n < -16 ? 16 : -n));
  return static_cast<Word16>(a >> (n > 15 ? 15 : n));
}

inline Word32 g723_1_L_add(Word32 a, Word32 b) {
  Word32 r;
  if (__builtin_add_overflow(a, b, &r)) [[unlikely]] return a < 0 ? G723_MIN_32 : G723_MAX_32;
  return r;
}
inline Word32 g723_1_L_sub(Word32 a, Word32 b) {
  Word32 r;
  if (__builtin_sub_overflow(a, b, &r)) [[unlikely]] return a < 0 ? G723_MIN_32 : G723_MAX_32;
  return r;
}
inline Word32 g723_1_L_mult(Word16 a, Word16 b) {
  const Word32 p = Word32(a) * b;
  if (__builtin_expect(p == 0x40000000, 0)) return G723_MAX_32;
  return p * 2;
}
inline Word32 g723_1_L_mac(Word32 acc, Word16 a, Word16 b) { return g723_1_L_add(acc, g723_1_L_mult(a, b)); }
inline Word32 g723_1_L_msu(Word32 acc, Word16 a, Word16 b) { return g723_1_L_sub(acc, g723_1_L_mult(a, b)); }
inline Word32 g723_1_L_negate(Word32 a) { return a == G723_MIN_32 ? G723_MAX_32 : -a; }
inline Word32 g723_1_L_abs(Word32 a) { return a < 0 ? g723_1_L_negate(a) : a; }

inline Word32 g723_1_L_shr(Word32 a, Word16 n);
inline Word32 g723_1_L_shl(Word32 a, Word16 n) {
  if (n <= 0) return g723_1_L_shr(a, static_cast<Word16>(n < -32 ? 32 : -n));
  if (n > 31) return a == 0 ? 0 : (a > 0 ? G723_MAX_32 : G723_MIN_32);
  return g723_1_sat32(std::int64_t(a) * (std::int64_t(1) << n));
}
inline Word32 g723_1_L_shr(Word32 a, Word16 n) {
  if (n < 0) return g723_1_L_shl(a, static_cast<Word16>(n < -32 ? 32 : -n));
  return a >> (n > 31 ? 31 : n);
}
inline Word16 g723_1_round(Word32 a) { return g723_1_extract_h(g723_1_L_add(a, 0x8000)); }

inline Word16 g723_1_norm_s(Word16 a) {
  if (a == 0) return 0;
  const std::uint32_t v = a < 0 ? ~static_cast<std::uint32_t>(Word32(a)) : static_cast<std::uint32_t>(a);
  return v == 0 ? 15 : static_cast<Word16>(__builtin_clz(v) - 17);
}
inline Word16 g723_1_norm_l(Word32 a) {
  if (a == 0) return 0;
  const std::uint32_t v = a < 0 ? ~static_cast<std::uint32_t>(a) : static_cast<std::uint32_t>(a);
  return v == 0 ? 31 : static_cast<Word16>(__builtin_clz(v) - 1);
}

// 32 x 16-bit product (Lv * v) >> 15, saturating.
inline Word32 g723_1_L_mls(Word32 Lv, Word16 v) {
  Word32 t = static_cast<Word32>((Lv & 0xFFFF) * Word32(v)) >> 15;
  return g723_1_L_mac(t, v, g723_1_extract_h(Lv));
}

// Q15 quotient num / den truncated toward zero and saturated (div_s for 0 <= num <= den).
Word16 g723_1_div_s(Word16 num, Word16 den);
// floor(L / (2 d)) with L first truncated toward zero to 24 significant bits, saturated.
Word16 g723_1_div_l(Word32 L, Word16 d);
// 14-bit bit-by-bit square root.
Word16 g723_1_Sqrt_lbc(Word32 num);
// seed = seed * 521 + 259 in 16 bits; returns the new seed.
Word16 g723_1_Rand_lbc(Word16* seed);
// A value in 0 .. n - 1.
Word16 g723_1_random_number(Word16 n, Word16* seed);

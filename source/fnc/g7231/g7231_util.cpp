// Scalar helpers of the G.723.1 codec: divisions, square root and random numbers.
#include "g7231_basic_op.h"

Word16 g723_1_div_s(Word16 num, Word16 den) {
  if (den == 0) return num > 0 ? G723_MAX_16 : (num < 0 ? G723_MIN_16 : 0);
  const Word32 q = (Word32(num) * 32768) / den;  // truncates toward zero
  return g723_1_sat16(q);
}

Word16 g723_1_div_l(Word32 L, Word16 d) {
  if (d == 0) return L > 0 ? G723_MAX_16 : (L < 0 ? G723_MIN_16 : 0);
  // The quotient is formed in single precision: the numerator keeps 24 significant bits.
  std::int64_t n = L;
  const std::int64_t mag = n < 0 ? -n : n;
  int bits = 0;
  while ((mag >> bits) != 0) ++bits;
  if (bits > 24) {
    const int drop = bits - 24;
    const std::int64_t kept = (mag >> drop) << drop;
    n = n < 0 ? -kept : kept;
  }
  const std::int64_t q = n / (2 * std::int64_t(d));
  return q > G723_MAX_16 ? G723_MAX_16 : (q < G723_MIN_16 ? G723_MIN_16 : static_cast<Word16>(q));
}

Word16 g723_1_Sqrt_lbc(Word32 num) {
  Word16 rez = 0;
  Word16 bit = 0x4000;
  for (int i = 0; i < 14; ++i) {
    const Word16 trial = g723_1_add(rez, bit);
    if (num >= g723_1_L_mult(trial, trial)) rez = trial;
    bit = g723_1_shr(bit, 1);
  }
  return rez;
}

Word16 g723_1_Rand_lbc(Word16* seed) {
  *seed = static_cast<Word16>((Word32(*seed) * 521 + 259) & 0xFFFF);
  return *seed;
}

Word16 g723_1_random_number(Word16 n, Word16* seed) {
  const Word16 r = static_cast<Word16>(g723_1_Rand_lbc(seed) & 0x7FFF);
  return g723_1_mult(r, n);
}

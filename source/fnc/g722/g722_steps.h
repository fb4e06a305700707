// Per-sample predictor steps, inline so that the band loops keep the predictor in registers; the
// named routines of the family are thin wrappers over these.
#pragma once

#include <algorithm>

#include "g722_basop.h"

namespace g722 {

inline bool same_sign(Word16 a, Word16 b) { return (a < 0) == (b < 0); }

// Sign-sign zero-predictor update and zero-section output (see g722_upzero).
inline Word16 upzero_step(Word16 *dlt, Word16 *b) {
  Word16 d[7], bn[7];
  for (int i = 0; i <= 6; ++i) d[i] = dlt[i];
  const Word32 d0 = d[0];
  const Word32 step = d0 != 0 ? 128 : 0;
  for (int i = 1; i <= 6; ++i) {
    const Word32 sign = ((d0 ^ d[i]) >> 31) | 1;  // -1 or +1
    bn[i] = static_cast<Word16>(sign * step + ((Word32{b[i]} * 32640) >> 15));
  }
  // New dlt[i] is the old dlt[i - 1]; the two spare entries shift along as well.
  dlt[8] = dlt[7];
  dlt[7] = d[6];
  Word32 sz = 0;
  for (int i = 1; i <= 6; ++i) {
    dlt[i] = d[i - 1];
    b[i] = bn[i];
    const Word32 d2 = std::clamp<Word32>(2 * Word32{d[i - 1]}, -32768, 32767);
    const Word32 p = std::min<Word32>((d2 * bn[i]) >> 15, 32767);
    sz = std::clamp<Word32>(sz + p, -32768, 32767);
  }
  b[7] = b[8] = 0;
  return static_cast<Word16>(sz);
}

inline void uppol2_step(Word16 *al, const Word16 *plt) {
  Word16 wd = shl(al[1], 2);
  if (same_sign(plt[0], plt[1])) wd = negate(wd);
  const Word32 a2 = (wd >> 7) + (same_sign(plt[0], plt[2]) ? 128 : -128) + mult(al[2], 32512);
  al[2] = static_cast<Word16>(clamp_rare<Word32>(a2, -12288, 12288));
}

inline void uppol1_step(Word16 *al, Word16 *plt, Word16 safetythres) {
  const Word16 g = same_sign(plt[0], plt[1]) ? 192 : -192;
  Word16 a1 = add(g, mult(al[1], 32640));
  const Word16 wd3 = sub(safetythres, al[2]);
  // The bound binds rarely: predicted branches.
  if (__builtin_expect(a1 >= wd3, 0)) {
    a1 = wd3;
  } else if (__builtin_expect(a1 < negate(wd3), 0)) {
    a1 = negate(wd3);
  }
  al[1] = a1;
  plt[2] = plt[1];
  plt[1] = plt[0];
}

inline Word16 filtep_step(Word16 *rlt, const Word16 *al) {
  rlt[2] = rlt[1];
  rlt[1] = rlt[0];
  return add(mult(al[1], shl(rlt[1], 1)), mult(al[2], shl(rlt[2], 1)));
}

}  // namespace g722

// Position arithmetic of the sample-rate converters and the timing interpolator: 8.24 positions,
// with a 32-bit low word where the step has one.
#pragma once

#include <cstdint>

// The 64-bit position step: the high word carries bit 31 of the halved low-word sum.
inline void vcPosAdd64(uint32_t& hi, uint32_t& lo, uint32_t incHi, uint32_t incLo) {
  const uint32_t s = (lo >> 1) + (incLo >> 1);
  hi = hi + incHi + (s >> 31);
  lo = s << 1;
}

// Integer part of an 8.24 position, which may run one sample below zero between blocks.
inline int32_t vcPosInt(uint32_t pos) { return static_cast<int32_t>(pos) >> 24; }

// Where the second interpolation phase reads: the next sample after phase 15.
inline int32_t vcPosSecondBase(uint32_t pos) { return vcPosInt(pos) + (((pos >> 20) & 15) == 15 ? 1 : 0); }

// Steps the position on when the step's second phase still reads before `limit`; false, and the
// position kept, when it would not.
inline bool vcPosStepBefore(uint32_t& pos, uint32_t& posLow, uint32_t inc, uint32_t incLow, int32_t limit) {
  uint32_t hi = pos, lo = posLow;
  vcPosAdd64(hi, lo, inc, incLow);
  if (vcPosSecondBase(hi) >= limit) return false;
  pos = hi;
  posLow = lo;
  return true;
}

// Position arithmetic of the sample-rate converters and the timing interpolator: 8.24 positions,
// with a 32-bit low word where the step has one.
#pragma once

#include <cstdint>

// A position and its low word as one 64-bit value (high word on top), for the loops: one add per
// step instead of a chain of halvings, shifts and carries.
inline uint64_t vcPosJoin(uint32_t hi, uint32_t lo) { return (static_cast<uint64_t>(hi) << 32) | lo; }
inline uint32_t vcPosHigh(uint64_t p) { return static_cast<uint32_t>(p >> 32); }
inline uint32_t vcPosLow(uint64_t p) { return static_cast<uint32_t>(p); }

// The toolkit's 64-bit add of a step (vcfUAdd64) as a plain 64-bit add: the low words are added
// halved, so that the lowest bit of each drops out and the halved sum's top bit carries into the
// high word; that is the 64-bit sum of both with their lowest bit cleared (the step's here, the
// position's at each step).
inline uint64_t vcPosStepOf(uint32_t inc, uint32_t incLow) { return vcPosJoin(inc, incLow & ~1u); }

// Integer part of an 8.24 position, which may run one sample below zero between blocks.
inline int32_t vcPosInt(uint32_t pos) { return static_cast<int32_t>(pos) >> 24; }

// Steps the position on when the step's second phase still reads before `limit`; false, and the
// position kept, when it would not. The second phase reads the integer part's sample, the next one
// after phase 15: that is the integer part of the position a sixteenth on, so it reads before
// `limit` while the position lies below `limit` less a sixteenth (in 64 bits: no wrap at 128).
inline bool vcPosStepBefore(uint64_t& pos, uint64_t step, int32_t limit) {
  const uint64_t next = (pos & ~uint64_t{1}) + step;
  const int64_t at = static_cast<int32_t>(vcPosHigh(next));
  if (at >= (static_cast<int64_t>(limit) << 24) - (int64_t{1} << 20)) return false;
  pos = next;
  return true;
}

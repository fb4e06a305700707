// Arithmetic of the linear-prediction routines: saturating 32-bit operations with a flag of their
// own and the double-precision (high word, 15-bit low word) products of the G.729 reference.
#pragma once

#include <cstdint>

namespace lpcarith {

extern int16_t Overflow;  // this family's own flag

constexpr int32_t wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }
constexpr int32_t sat32(int64_t v) {
  return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}
// Left shifts that bring a positive value to at least 2^30 (0 for 0); negative values by their
// complement, as norm_l counts.
int normExp(int32_t x);
// 32 x 16 fractional product: unsigned low half times v shifted right by 15, plus 2 x high half x v.
constexpr int64_t mpy32x16(int32_t a, int16_t v) {
  const int64_t hi = a >> 16;
  const int64_t lo = a & 0xFFFF;
  return ((lo * v) >> 15) + hi * v * 2;
}

int32_t L_add(int32_t a, int32_t b);
int32_t L_mac(int32_t acc, int16_t a, int16_t b);
int16_t norm_l(int32_t x);
int32_t L_shl(int32_t x, int16_t s);  // a negative count is reported and the value returned as is
int16_t mult(int16_t a, int16_t b);
void L_Extract(int32_t x, int16_t* hi, int16_t* lo);
int32_t L_Comp(int16_t hi, int16_t lo);
int32_t Mpy_32(int16_t hi1, int16_t lo1, int16_t hi2, int16_t lo2);
int32_t Mpy_32_16(int16_t hi, int16_t lo, int16_t n);
int32_t Div_32(int32_t num, int16_t denom_hi, int16_t denom_lo);

}  // namespace lpcarith

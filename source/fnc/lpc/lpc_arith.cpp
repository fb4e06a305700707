#include "lpc_arith.h"

#include "lhapi.h"

namespace lpcarith {

int16_t Overflow = 0;

int normExp(int32_t x) {
  if (x == 0) return 0;
  return norm_l(x);
}

int32_t L_add(int32_t a, int32_t b) {
  const int64_t s = int64_t{a} + b;
  if (s != sat32(s)) Overflow = 1;
  return sat32(s);
}

int32_t L_mac(int32_t acc, int16_t a, int16_t b) {
  int32_t p = int32_t{a} * b;
  if (p == 0x40000000) {
    Overflow = 1;
    p = INT32_MAX;
  } else {
    p *= 2;
  }
  return L_add(acc, p);
}

int16_t norm_l(int32_t x) {
  if (x == 0) return 0;
  if (x == -1) return 31;
  uint32_t v = static_cast<uint32_t>(x < 0 ? ~x : x);
  int16_t n = 0;
  while (v < 0x40000000u) {
    v <<= 1;
    ++n;
  }
  return n;
}

int32_t L_shl(int32_t x, int16_t s) {
  if (s < 0) {
    LHAPI_ASSERT_FAIL();
    return x;
  }
  if (s > 31) s = 31;
  const int64_t v = int64_t{x} * (int64_t{1} << s);
  if (v != sat32(v)) Overflow = 1;
  return sat32(v);
}

int16_t mult(int16_t a, int16_t b) {
  if (a == -32768 && b == -32768) {
    Overflow = 1;
    return 32767;
  }
  Overflow = 0;
  return static_cast<int16_t>((int32_t{a} * b) >> 15);
}

void L_Extract(int32_t x, int16_t* hi, int16_t* lo) {
  *hi = static_cast<int16_t>(x >> 16);
  *lo = static_cast<int16_t>((x >> 1) - int32_t{*hi} * 32768);
}

int32_t L_Comp(int16_t hi, int16_t lo) { return L_mac(int32_t{hi} << 16, lo, 1); }

int32_t Mpy_32(int16_t hi1, int16_t lo1, int16_t hi2, int16_t lo2) {
  int32_t t = L_mac(0, hi1, hi2);
  t = L_mac(t, mult(hi1, lo2), 1);
  return L_mac(t, mult(lo1, hi2), 1);
}

int32_t Mpy_32_16(int16_t hi, int16_t lo, int16_t n) {
  return L_mac(L_mac(0, hi, n), mult(lo, n), 1);
}

int32_t Div_32(int32_t num, int16_t denom_hi, int16_t denom_lo) {
  if (denom_hi <= 0) return INT32_MAX;
  // 1/denominator from its high word, one Newton step, times the numerator.
  const int32_t q = (int32_t{0x3FFF} << 15) / denom_hi;  // 16383 / denominator, Q15
  const int16_t approx = static_cast<int16_t>(q > 32767 ? 32767 : q);
  int32_t t = Mpy_32_16(denom_hi, denom_lo, approx);
  t = sat32(int64_t{INT32_MAX} - t);
  int16_t hi, lo;
  L_Extract(t, &hi, &lo);
  t = Mpy_32_16(hi, lo, approx);
  int16_t n_hi, n_lo;
  L_Extract(num, &n_hi, &n_lo);
  L_Extract(t, &hi, &lo);
  t = Mpy_32(n_hi, n_lo, hi, lo);
  return L_shl(t, 2);
}

}  // namespace lpcarith

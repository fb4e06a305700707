// Division and square-root operators of the iLBC codec.
#include "ilbc_basic.h"

#include "ilbc_tables.h"

namespace ilbc {

i32 ilbc_DIV_32(i32 num, i32 den) {
  const i32 approx = ilbc_div_s(16383, static_cast<i16>(den >> 16));
  const i32 t = sat32(i64{kMax32} - 2 * ((i64{den} * approx) >> 16));
  const i32 inv = wrap32(2 * ((i64{t} * approx) >> 16));
  const i32 r = sat32(2 * i64{hi(num, inv)});
  return ilbc_L_shl(r, 2);
}

i32 ilbc_L_divide(i32 numerator, i32 denom) {
  const bool negative = (numerator < 0) != (denom < 0);
  const i32 n = ilbc_L_abs(numerator), d = ilbc_L_abs(denom);
  const int e_d = ilbc_norm_l(d), e_n = ilbc_norm_l(n);
  const i32 q = ilbc_DIV_32(ilbc_L_shl(n, e_n - 1), ilbc_L_shl(d, e_d));
  const i32 r = ilbc_L_shr(q, e_n - 1 - e_d);
  return negative ? ilbc_L_negate(r) : r;
}

namespace {
// Table interpolation of the square-root operators: T[i]*2^16 - 2*(T[i] - T[i+1])*a, saturated.
i32 table_interp(const std::array<i16, 49>& t, i32 y) {
  const int i = (y >> 25) - 16;
  const i16 a = static_cast<i16>((y >> 10) & 32767);
  const i16 diff = sat16(i32{t[i]} - t[i + 1]);
  return sat32(i64{t[i]} * 65536 - ilbc_L_mult(diff, a));
}
}  // namespace

void ilbc_Isqrt_n(i32* frac, i16* exp) {
  if (*frac <= 0) {
    *exp = 0;
    *frac = kMax32;
    return;
  }
  if (*exp & 1) *frac >>= 1;
  *exp = sat16(-i32{sat16((i32{*exp} - 1) >> 1)});
  *frac = table_interp(ilbc_table_isqrt, *frac);
}

i32 ilbc_Isqrt(i32 x, i16* exp) {
  const int n = ilbc_norm_l(x);
  i32 frac = ilbc_L_shl(x, n);
  *exp = static_cast<i16>(31 - n);
  ilbc_Isqrt_n(&frac, exp);
  return frac;
}

i32 ilbc_sqrt_l_exp(i32 x, i16* exp) {
  if (x <= 0) {
    *exp = 0;
    return 0;
  }
  const int e = ilbc_norm_l(x) & ~1;
  const i32 y = ilbc_L_shl(x, e);
  *exp = static_cast<i16>(e);
  return table_interp(ilbc_sqrt_table, y);
}

}  // namespace ilbc

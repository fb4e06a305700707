// Data movement, fixed-point helpers, the 64-bit accumulator, the order-8 filters and the linear
// prediction of the PCM concealment.
#include "plc_common.h"
#include "plc_kernels.h"

#include <cstring>
#include "wide128.h"

namespace {

// The filters below keep the accumulator as a native 64-bit value: nine products of at most 2^46
// cannot wrap it, so this is the emulated accumulator's arithmetic exactly, in a register.

// An all-zero filter's outputs: each exact sum saturated to 32 bits, shifted and rounded.
void azFilter(const int16_t* a, const int16_t* x, int16_t* y, int n, int16_t shift) {
  int64_t sums[160];
  for (int at = 0; at < n; at += 160) {
    const int len = n - at < 160 ? n - at : 160;
    plcAzSums(a, x + at, sums, len);
    for (int i = 0; i < len; ++i) y[at + i] = ::round(L_shl(plcSat32(sums[i]), shift));
  }
}

// The last eight outputs stay in registers (y1 the newest): only the newest one's product is on
// the path from one output to the next; the sum is exact, so its order is free.
void allPole(const int16_t* a, const int16_t* x, int16_t* y, int n, const int16_t* mem,
             int16_t* newMem, int32_t inputGain) {
  const int len = n > 160 ? 160 : n;
  int32_t y1 = mem[7], y2 = mem[6], y3 = mem[5], y4 = mem[4], y5 = mem[3], y6 = mem[2], y7 = mem[1], y8 = mem[0];
  for (int i = 0; i < len; ++i) {
    const int64_t older = int64_t{a[1] * y2} + a[2] * y3 + a[3] * y4 + a[4] * y5 + a[5] * y6 + a[6] * y7 + a[7] * y8;
    const int64_t acc = int64_t{x[i]} * inputGain - older - a[0] * y1;
    const int16_t out = ::round(L_shl(plcSat32(acc), 4));
    y[i] = out;
    y8 = y7;
    y7 = y6;
    y6 = y5;
    y5 = y4;
    y4 = y3;
    y3 = y2;
    y2 = y1;
    y1 = out;
  }
  if (newMem != nullptr) {
    const int32_t last[PLC_ORDER] = {y8, y7, y6, y5, y4, y3, y2, y1};
    for (int k = 0; k < PLC_ORDER; ++k) newMem[k] = static_cast<int16_t>(last[k]);
  }
}

}  // namespace

void W16copy(int16_t* dst, const int16_t* src, int n) { std::memmove(dst, src, n * sizeof(int16_t)); }
void W16zero(int16_t* dst, int n) { std::memset(dst, 0, n * sizeof(int16_t)); }
void W32copy(int32_t* dst, const int32_t* src, int n) { std::memmove(dst, src, n * sizeof(int32_t)); }

void L_Extract(int32_t x, int16_t* hi, int16_t* lo) {
  *hi = static_cast<int16_t>(x >> 16);
  *lo = static_cast<int16_t>((x >> 1) & 0x7FFF);
}

int32_t L_Comp(int16_t hi, int16_t lo) { return L_add(L_deposit_h(hi), L_add(lo, lo)); }

int32_t Mpy_32_16(int16_t hi, int16_t lo, int16_t n) { return L_add(L_mult(hi, n), 2 * int32_t{mult(lo, n)}); }

void bvxx_Log2(int32_t x, int16_t* exponent, int16_t* fraction) {
  // The interpolation of the shared operators' Log2, whose table is the same.
  Log2(x, exponent, fraction);
}

void idiv32(PlcAcc64* acc, int32_t a, int32_t b) {
  if (b == 0) {  // no quotient: keep the dividend, no remainder
    acc->lo = static_cast<uint32_t>(a);
    acc->hi = 0;
    return;
  }
  if (b == -1) {
    acc->lo = static_cast<uint32_t>(-static_cast<int64_t>(a));
    acc->hi = 0;
    return;
  }
  acc->lo = static_cast<uint32_t>(a / b);
  acc->hi = a % b;
}

int32_t fdiv32(int32_t a, int32_t b) {
  if (a <= 0 || b <= 0) return 0;
  if (a >= b) return INT32_MAX;
  int shift = 0;
  int64_t bn = b;
  while (bn < 0x40000000) {  // normalise the divisor; the quotient is scaled back below
    bn <<= 1;
    ++shift;
  }
  // First estimate of 2^47 / bn from its high word, then one Newton step kept to 2^63 / bn.
  const int64_t y0 = 0x7FFFFFFF / (bn >> 16);
  const int64_t e = (int64_t{1} << 48) - bn * y0;  // 2^48 - bn*y0, about 2^47 (1 - error)
  const int64_t y1 = static_cast<int64_t>(((orvox::Int128)y0 * e) >> 31);  // 2^63 / bn, refined
  // a / bn in Q31, then back to the divisor's own scale.
  const orvox::Int128 q = (((orvox::Int128)a * y1) >> 32) << shift;
  return q > INT32_MAX ? INT32_MAX : static_cast<int32_t>(q);
}

void bvxx_azfilter_8th_Q0_Q0(const int16_t* a, const int16_t* x, int16_t* y, int n) {
  azFilter(a, x, y, n, 4);
}

void bvxx_azfilter_8th_Q0_Q1(const int16_t* a, const int16_t* x, int16_t* y, int n) {
  azFilter(a, x, y, n, 5);
}

void bvxx_azfilter_8th_Q0_Q1_generic(const int16_t* a, const int16_t* x, int16_t* y, int n) {
  bvxx_azfilter_8th_Q0_Q1(a, x, y, n);
}

void bvxx_apfilter_8th_Q0_Q0(const int16_t* a, const int16_t* x, int16_t* y, int n, int16_t* mem,
                             int update) {
  allPole(a, x, y, n, mem, update ? mem : nullptr, 4096);
}

void bvxx_apfilter_8th_Q0_Q0_20(const int16_t* a, const int16_t* x, int16_t* y, const int16_t* mem) {
  allPole(a, x, y, 20, mem, nullptr, 4096);
}

void bvxx_apfilter_8th_Q1_Q0(const int16_t* a, const int16_t* x, int16_t* y, int n, int16_t* mem,
                             int update) {
  allPole(a, x, y, n, mem, update ? mem : nullptr, 2048);
}

void bvxx_apfilter_8th_Q1_Q0_20(const int16_t* a, const int16_t* x, int16_t* y, const int16_t* mem) {
  allPole(a, x, y, 20, mem, nullptr, 2048);
}

void bvxx_Autocorr(int32_t* r, const int16_t* x, const int16_t* window, int n, int order) {
  int16_t w[160];
  const int len = n > 160 ? 160 : n;
  for (int i = 0; i < len; ++i) w[i] = mult_r(x[i], window[i]);
  // The energy's terms are all positive, so its saturating sum saturates exactly when the exact
  // sum leaves 32 bits. Once it does not, no lag's sum can (each |2 w_i w_i+k| is at most
  // w_i^2 + w_i+k^2), and those are exact sums too.
  int32_t r0;
  for (;;) {
    Overflow = 0;
    const int64_t exact = 1 + 2 * plcDot(w, w, len);
    if (exact <= INT32_MAX) {
      r0 = static_cast<int32_t>(exact);
      break;
    }
    Overflow = 1;
    for (int i = 0; i < len; ++i) w[i] = static_cast<int16_t>(w[i] >> 2);
  }
  const int16_t s = norm_l(r0);
  r[0] = L_shl(r0, s);
  for (int k = 1; k <= order; ++k) r[k] = L_shl(static_cast<int32_t>(2 * plcDot(w, w + k, len - k)), s);
}

void bvxx_Spectral_Smoothing(int order, int32_t* r, const int32_t* lagWindow) {
  for (int k = 1; k <= order; ++k) {
    const int64_t p = int64_t{r[k]} * lagWindow[k - 1];
    r[k] = static_cast<int32_t>(2 * (p >> 32));
  }
}

void bvxx_Levinson(const int32_t* r, int16_t* a, int16_t* previous) {
  // Coefficients in Q27 (a0 = 2^27 implicit), prediction error in Q31 of r[0].
  constexpr int32_t kMaxReflection = 0x7FEE0000;
  int32_t A[PLC_ORDER + 1] = {};
  int32_t An[PLC_ORDER + 1] = {};
  if (r[0] <= 0) {
    std::memcpy(a, previous, PLC_ORDER * sizeof(int16_t));
    return;
  }
  int64_t alpha = r[0];
  for (int m = 1; m <= PLC_ORDER; ++m) {
    int64_t t = int64_t{r[m]} << 27;
    for (int j = 1; j < m; ++j) t += int64_t{A[j]} * r[m - j];
    const int64_t num = t >> 27;  // Q31
    const int64_t mag = num < 0 ? -num : num;
    if (mag >= alpha) {
      std::memcpy(a, previous, PLC_ORDER * sizeof(int16_t));
      return;
    }
    int32_t k = fdiv32(static_cast<int32_t>(mag), static_cast<int32_t>(alpha));
    if (num > 0) k = -k;
    if (k > kMaxReflection || k < -kMaxReflection) {
      std::memcpy(a, previous, PLC_ORDER * sizeof(int16_t));
      return;
    }
    for (int j = 1; j < m; ++j) An[j] = static_cast<int32_t>(A[j] + ((int64_t{k} * A[m - j]) >> 31));
    An[m] = k >> 4;
    for (int j = 1; j <= m; ++j) A[j] = An[j];
    alpha = (alpha * (((int64_t{1} << 62) - int64_t{k} * k) >> 31)) >> 31;
    if (alpha <= 0) alpha = 1;
  }
  for (int j = 1; j <= PLC_ORDER; ++j) {
    const int32_t q = (A[j] + (1 << 14)) >> 15;  // Q27 to Q12, rounded
    a[j - 1] = static_cast<int16_t>(q > 32767 ? 32767 : (q < -32768 ? -32768 : q));
  }
  std::memcpy(previous, a, PLC_ORDER * sizeof(int16_t));
}

void bvxx_Bandwidth_Expansion(int16_t* out, const int16_t* factors, const int16_t* a) {
  for (int k = 0; k < PLC_ORDER; ++k) out[k] = mult_r(factors[k], a[k]);
}

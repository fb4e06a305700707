// Synthesis, analysis and the conversions between predictor and reflection coefficients.
#include "lpc.h"

#include <cstring>

#include "lhapi.h"
#include "lpc_arith.h"

using namespace lpcarith;

int lpc_synthesis(int m, const int16_t* a, const int16_t* x, int16_t* y, int lg, int16_t* mem,
                  int update, int16_t* scratchp) {
  if (m < 1 || m > LPC_MAX_ORDER) {
    LHAPI_ASSERT_FAIL();
    return 0;
  }
  int16_t* s = scratchp + m;
  std::memcpy(scratchp, mem, m * sizeof(int16_t));
  for (int n = 0; n < lg; ++n) {
    int64_t acc = int32_t{x[n]} * a[0];
    for (int k = 1; k <= m; ++k) acc -= int32_t{a[k]} * s[n - k];
    // The filter keeps the low 16 bits: a stable filter never needs more.
    s[n] = static_cast<int16_t>(wrap32(wrap32(acc) + int64_t{2048}) >> 12);
  }
  std::memcpy(y, s, lg * sizeof(int16_t));
  if (update != 0) std::memcpy(mem, s + lg - m, m * sizeof(int16_t));
  return 0;
}

int32_t lpc_pred2refl(const int16_t* h, int16_t* r, int m) {
  if (m < 1 || m > LPC_MAX_ORDER) {
    LHAPI_ASSERT_FAIL();
    return -1;
  }
  int32_t A[LPC_MAX_ORDER + 1] = {};
  for (int j = 1; j <= m; ++j) A[j] = static_cast<int32_t>(static_cast<uint32_t>(h[j]) << 16);
  int32_t G = 32767;
  int X = 0;
  for (int i = m; i >= 1; --i) {
    const int16_t k = static_cast<int16_t>(A[i] >> 13);
    const int32_t E = k == -32768 ? 0 : 0x7FFFFFFF - 2 * int32_t{k} * k;
    const int e = normExp(E);
    const int16_t En = static_cast<int16_t>((int64_t{E} << e) >> 16);
    X += e;
    const int16_t inv = static_cast<int16_t>(En >= 16384 ? 0x1FFF8000 / En : 32767);
    const int16_t kk = static_cast<int16_t>(mpy32x16(A[i], inv) >> 13);
    for (int j = 1; j <= (i + 1) / 2 - 1; ++j) {
      const int64_t aj = mpy32x16(A[j], inv) - mpy32x16(A[i - j], kk);
      const int64_t aij = mpy32x16(A[i - j], inv) - mpy32x16(A[j], kk);
      A[j] = sat32(aj * (int64_t{1} << (e + 1)));
      A[i - j] = sat32(aij * (int64_t{1} << (e + 1)));
    }
    if ((i & 1) == 0) {
      const int h2 = i / 2;
      A[h2] = sat32((mpy32x16(A[h2], inv) - mpy32x16(A[h2], kk)) * (int64_t{1} << (e + 1)));
    }
    if (A[i] > 0x0FFFFFFF || A[i] < -0x0FFFFFFF) return -1;
    G = (int32_t{En} * G * 2) >> 16;
  }
  if (r != nullptr) {
    for (int j = 1; j <= m; ++j) r[j] = static_cast<int16_t>(A[j] >> 13);
  }
  return X >= 31 ? 0 : G >> X;
}

namespace {

void analysis(const int16_t* a, int16_t a0, const int16_t* x, int16_t* y, int lg, int m) {
  for (int n = 0; n < lg; ++n) {
    int64_t acc = int32_t{x[n]} * a0;
    for (int k = 1; k <= m; ++k) acc += int32_t{a[k]} * x[n - k];
    y[n] = static_cast<int16_t>(wrap32(acc) >> 12);
  }
}

}  // namespace

void lpc_analysis(const int16_t* a, const int16_t* x, int16_t* y, int lg, int m) {
  // The paired kernel runs over an even order and reads the word after a[m].
  LHAPI_ASSERT((m & 1) == 0);
  LHAPI_ASSERT(a[m + 1] == 0);
  analysis(a, 4096, x, y, lg, m);
}

void lpc_analysisprog(const int16_t* a, const int16_t* x, int16_t* y, int lg, int m) {
  analysis(a, a[0], x, y, lg, m);
}

int16_t lpc_refl2pred(int16_t* rc, int16_t* lpc, int p) {
  for (int i = 0; i <= p; ++i) rc[i] = static_cast<int16_t>(rc[i] >> 3);
  int32_t P = 32767;
  for (int i = 1; i <= p; ++i) {
    const int16_t k = rc[i];
    lpc[i] = k;
    P = (P * (32767 - ((int32_t{k} * k) >> 9))) >> 15;
    for (int j = 1; j < (i + 1) / 2; ++j) {
      const int16_t lj = lpc[j];
      lpc[j] = static_cast<int16_t>(lpc[j] + ((int32_t{k} * lpc[i - j]) >> 12));
      lpc[i - j] = static_cast<int16_t>(lpc[i - j] + ((int32_t{k} * lj) >> 12));
    }
    if ((i & 1) == 0) lpc[i / 2] = static_cast<int16_t>(lpc[i / 2] + ((int32_t{k} * lpc[i / 2]) >> 12));
  }
  lpc[0] = 4096;
  return static_cast<int16_t>(P);
}

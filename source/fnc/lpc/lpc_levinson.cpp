// Autocorrelation and the Levinson-Durbin recursion in the double-precision arithmetic of the
// G.729 reference (32-bit values split into a high word and a 15-bit low word).
#include <cstring>

#include "lhapi.h"
#include "lpc.h"
#include "lpc_arith.h"

using namespace lpcarith;

namespace {

// Sum of squares of the block with the saturating multiply-accumulate; false when it saturated.
bool energy(const int16_t* x, int n, int32_t* r0) {
  Overflow = 0;
  int32_t acc = 1;
  for (int i = 0; i < n; ++i) acc = L_mac(acc, x[i], x[i]);
  acc = L_add(acc, acc >> 10);  // white-noise correction of 1 + 1/1024
  *r0 = acc;
  return Overflow == 0;
}

void acorr(int16_t* scratchp, const int16_t* x, int m, int16_t* r_h, int16_t* r_l, int n) {
  std::memcpy(scratchp, x, n * sizeof(int16_t));
  int32_t r0 = 0;
  while (!energy(scratchp, n, &r0)) {
    for (int i = 0; i < n; ++i) scratchp[i] = static_cast<int16_t>(scratchp[i] >> 2);
  }
  const int16_t s = norm_l(r0);
  L_Extract(L_shl(r0, s), &r_h[0], &r_l[0]);
  for (int k = 1; k <= m; ++k) {
    int32_t acc = 0;
    for (int i = 0; i < n - k; ++i) acc = L_mac(acc, scratchp[i], scratchp[i + k]);
    L_Extract(L_shl(acc, s), &r_h[k], &r_l[k]);
  }
}

// The recursion on whole 32-bit lags; rc[0] is the first reflection coefficient.
void levinson(int m, const int32_t* R, int16_t* A, int16_t* rc, int16_t* predgain) {
  int16_t Rh[LPC_MAX_ORDER + 1], Rl[LPC_MAX_ORDER + 1];
  for (int i = 0; i <= m; ++i) L_Extract(R[i], &Rh[i], &Rl[i]);
  int16_t Ah[LPC_MAX_ORDER + 1] = {}, Al[LPC_MAX_ORDER + 1] = {};
  int16_t Anh[LPC_MAX_ORDER + 1] = {}, Anl[LPC_MAX_ORDER + 1] = {};
  int16_t Kh, Kl, hi, lo;

  int32_t t1 = R[1];
  int32_t t0 = Div_32(t1 < 0 ? (t1 == INT32_MIN ? INT32_MAX : -t1) : t1, Rh[0], Rl[0]);
  if (t1 > 0) t0 = -t0;
  L_Extract(t0, &Kh, &Kl);
  rc[0] = Kh;
  L_Extract(t0 >> 4, &Ah[1], &Al[1]);  // Q27
  t0 = Mpy_32(Kh, Kl, Kh, Kl);
  t0 = INT32_MAX - (t0 < 0 ? -t0 : t0);
  L_Extract(t0, &hi, &lo);
  t0 = Mpy_32(Rh[0], Rl[0], hi, lo);
  int alpExp = norm_l(t0);
  int16_t alpH, alpL;
  L_Extract(L_shl(t0, static_cast<int16_t>(alpExp)), &alpH, &alpL);

  int reached = 1;
  for (int i = 2; i <= m && alpExp <= 9; ++i) {
    t0 = 0;
    for (int j = 1; j < i; ++j) t0 = L_add(t0, Mpy_32(Rh[j], Rl[j], Ah[i - j], Al[i - j]));
    t0 = L_add(L_shl(t0, 4), R[i]);
    int32_t t2 = Div_32(t0 < 0 ? (t0 == INT32_MIN ? INT32_MAX : -t0) : t0, alpH, alpL);
    if (t0 > 0) t2 = -t2;
    t2 = L_shl(t2, static_cast<int16_t>(alpExp));
    L_Extract(t2, &Kh, &Kl);
    rc[i - 1] = Kh;
    for (int j = 1; j < i; ++j) {
      t0 = L_add(Mpy_32(Kh, Kl, Ah[i - j], Al[i - j]), L_Comp(Ah[j], Al[j]));
      L_Extract(t0, &Anh[j], &Anl[j]);
    }
    L_Extract(t2 >> 4, &Anh[i], &Anl[i]);
    t0 = Mpy_32(Kh, Kl, Kh, Kl);
    t0 = INT32_MAX - (t0 < 0 ? -t0 : t0);
    L_Extract(t0, &hi, &lo);
    t0 = Mpy_32(alpH, alpL, hi, lo);
    const int16_t j = norm_l(t0);
    L_Extract(L_shl(t0, j), &alpH, &alpL);
    alpExp += j;
    for (int k = 1; k <= i; ++k) {
      Ah[k] = Anh[k];
      Al[k] = Anl[k];
    }
    reached = i;
  }
  A[0] = 4096;
  for (int i = 1; i <= m; ++i) {
    if (i > reached) {
      A[i] = 0;
      continue;
    }
    const int32_t v = L_shl(L_Comp(Ah[i], Al[i]), 1);
    A[i] = static_cast<int16_t>(L_add(v, 0x8000) >> 16);
  }
  // Final prediction error over lag 0, as a Q15 fraction.
  const int32_t err = alpExp >= 31 ? 0 : (L_Comp(alpH, alpL) >> alpExp);
  const int16_t num = static_cast<int16_t>(err >> 16);
  const int16_t den = Rh[0];
  if (num <= 0 || den <= 0) {
    *predgain = 0;
  } else if (num >= den) {
    *predgain = 32767;
  } else {
    *predgain = static_cast<int16_t>((int32_t{num} << 15) / den);
  }
}

}  // namespace

void lpc_acorr(int16_t* scratchp, const int16_t* x, int m, int16_t* r_h, int16_t* r_l, int n) {
  acorr(scratchp, x, m, r_h, r_l, n);
}

void lpc_acorrprog(int16_t* scratchp, const int16_t* x, int m, int16_t* r_h, int16_t* r_l, int n) {
  acorr(scratchp, x, m, r_h, r_l, n);
}

void lpc_acorr1(int32_t* R, const int16_t* x, int32_t* r_h, uint32_t* r_l, int m, int n,
                int framesize, int16_t* /*scratchp*/) {
  // The window is the n samples ending with the new frame; the frame that left it lies n samples
  // before the new one.
  const int start = framesize - n;
  for (int k = 0; k <= m; ++k) {
    int64_t sum = (int64_t{r_h[k]} << 32) | r_l[k];
    for (int i = 0; i < framesize; ++i) {
      if (i - k >= start) sum += int32_t{x[i]} * x[i - k];
    }
    for (int j = -n; j < start; ++j) {
      if (j + k < 0) sum -= int32_t{x[j]} * x[j + k];
    }
    r_h[k] = static_cast<int32_t>(sum >> 32);
    r_l[k] = static_cast<uint32_t>(sum);
  }
  int64_t r0 = (int64_t{r_h[0]} << 32) | r_l[0];
  r0 += (r0 >> 10) + 1;
  int rs = 0;
  int ls = 0;
  for (int64_t v = r0; v > INT32_MAX; v >>= 1) ++rs;
  for (int64_t v = r0; rs == 0 && v > 0 && v < 0x40000000; v <<= 1) ++ls;
  auto scaled = [rs, ls](int64_t v) { return static_cast<int32_t>(rs > 0 ? v >> rs : v * (int64_t{1} << ls)); };
  R[0] = scaled(r0);
  for (int k = 1; k <= m; ++k) R[k] = scaled((int64_t{r_h[k]} << 32) | r_l[k]);
}

void lpc_levinson(int m, const int16_t* Rh, const int16_t* Rl, int16_t* A, int16_t* rc,
                  int16_t* predgain, int16_t* /*scratch*/) {
  if (m < 1 || m > LPC_MAX_ORDER) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  int32_t R[LPC_MAX_ORDER + 1];
  for (int i = 0; i <= m; ++i) R[i] = L_Comp(Rh[i], Rl[i]);
  levinson(m, R, A, rc, predgain);
}

void lpc_levinson1(int m, const int32_t* R, int16_t* A, int16_t* rc, int16_t* predgain,
                   int16_t* /*scratch*/) {
  if (m < 1 || m > LPC_MAX_ORDER) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  levinson(m, R, A, rc, predgain);
}

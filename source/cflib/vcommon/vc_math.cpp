// Fixed-point arithmetic of the modem library.
#include "vc_math.h"

#include <cstdlib>
#include <cstdint>
#include <cstring>

#include "vc_dot_avx2.h"

static_assert(vcSineQuarterInRange(vcgSineQuarter));  // checked once, not in every file that reads it

const uint16_t vcgSymbolRateLUT[9] = {2400, 2743, 2800, 3000, 3200, 3429, 1200, 1600, 600};

int32_t fxmacpp(const int16_t* x, const int16_t* y, int16_t n) {
  uint32_t acc = 16384;  // 32-bit sum: wraps like the accumulator it stands for
  for (int i = 0; i <= n; ++i) acc += static_cast<uint32_t>(static_cast<int32_t>(x[i]) * y[i]);
  return static_cast<int32_t>(acc) >> 15;
}

int16_t vcfdivRestoring(int32_t a, int32_t b) {
  int64_t rem = a;
  int32_t quot = 0;
  for (int i = 0; i < 15; ++i) {
    rem <<= 1;
    quot <<= 1;
    if (rem >= b) {
      rem -= b;
      quot |= 1;
    }
  }
  return static_cast<int16_t>(quot);
}

int32_t vcfdiv_d(int32_t a, int32_t b) {
  if (a <= 0 || b <= 0) return 0;
  // Long division of a * 2^15 by b, 30 quotient bits.
  const uint64_t num = static_cast<uint64_t>(a) << 15;
  uint64_t rem = 0;
  uint32_t quot = 0;
  for (int bit = 46; bit >= 0; --bit) {
    rem = (rem << 1) | ((num >> bit) & 1);
    quot <<= 1;
    if (rem >= static_cast<uint64_t>(b)) {
      rem -= static_cast<uint64_t>(b);
      quot |= 1;
    }
  }
  return static_cast<int32_t>(quot & 0x3FFFFFFF);
}

void vcfdivt(int16_t a, int16_t b, VCZDIV_T* out) {
  if (b == 0) {
    out->quot = 0;
    out->rem = a;
    return;
  }
  const int32_t q = static_cast<int32_t>(a) / b;
  out->quot = static_cast<int16_t>(q);
  out->rem = static_cast<int16_t>(a - b * q);
}

void fxshr(int16_t* dly, int16_t n, int16_t s) {
  for (int k = n - 1 - s; k >= 0; --k) dly[k + s] = dly[k];
}

void vcfUAdd64(uint32_t* xLow, const uint32_t* yLow) {
  const uint32_t s = (*xLow >> 1) + (*yLow >> 1);
  xLow[-1] = xLow[-1] + yLow[-1] + (s >> 31);
  *xLow = s << 1;
}

int16_t vcfConvPlain(const int16_t* x, const int16_t* h, int16_t n) {
  uint32_t acc = 0;
  for (int j = -n; j <= 0; ++j) acc += static_cast<uint32_t>(static_cast<int32_t>(x[j]) * h[j]);
  return vcSat16(static_cast<int32_t>(acc) >> 15);
}

int16_t vcfCsearchPlain(const VCZCOMPLEX* d, const VCZCOMPLEX* table, int16_t n) {
  // selects rather than branches: which point is nearest is the received data itself
  int16_t best = 0;
  int32_t bestDist = 32767;
  for (int16_t i = 0; i < n; ++i) {
    const int16_t dr = static_cast<int16_t>(d->real - table[i].real);
    const int16_t di = static_cast<int16_t>(d->imag - table[i].imag);
    const int32_t dist = fxmul(dr, dr) + fxmul(di, di);
    const bool nearer = dist < bestDist;
    bestDist = nearer ? dist : bestDist;
    best = nearer ? i : best;
  }
  return best;
}

#if defined(VC_HAVE_AVX2_KERNELS)
__attribute__((target("avx2"))) int16_t vcfCsearchAvx2(const VCZCOMPLEX* d, const VCZCOMPLEX* table, int16_t n) {
  if (n % 8 != 0 || n > 32) return vcfCsearchPlain(d, table, n);
  return vcCsearchEightsAvx2(d, table, n);
}
#endif

int16_t vcfCsearch(const VCZCOMPLEX* d, const VCZCOMPLEX* table, int16_t n) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) return vcfCsearchAvx2(d, table, n);
#endif
  return vcfCsearchPlain(d, table, n);
}

void vcfInitTxLinBuf(VCZBUF* buf, int16_t start, int16_t end) {
  for (int i = 0; i < end; ++i) buf->startp[i] = 0;
  buf->bufp = buf->startp + start;
  buf->endp = buf->startp + end;
}

void vcfMultGain(VCZBUF* bufRdp, const VCZBUF* bufWrp, int16_t gainQ10) {
  if (bufWrp->bufp > bufRdp->bufp) vcGainQ10(bufRdp->bufp, static_cast<int>(bufWrp->bufp - bufRdp->bufp), gainQ10);
}

void vcfUpdateFIRhist(VCZBUF* buf, int16_t n, int16_t* hist, int16_t histLen) {
  for (int i = 0; i < histLen; ++i) {
    buf->bufp[-1 - i] = hist[histLen - 1 - i];
    hist[histLen - 1 - i] = buf->bufp[n - 1 - i];
  }
}

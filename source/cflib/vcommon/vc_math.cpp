// Fixed-point arithmetic of the modem library.
#include "vc_math.h"

#include <cstdlib>

namespace {

constexpr int16_t vccsincoeff[6] = {7374, 2231, -21812, 83, 12864, 0};

int16_t sat16(int32_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

}  // namespace

const uint16_t vcgSymbolRateLUT[9] = {2400, 2743, 2800, 3000, 3200, 3429, 1200, 1600, 600};

int16_t fxmul(int16_t a, int16_t b) {
  return static_cast<int16_t>((static_cast<int32_t>(a) * b + 16384) >> 15);
}

int32_t fxmacpp(const int16_t* x, const int16_t* y, int16_t n) {
  uint32_t acc = 16384;  // 32-bit sum: wraps like the accumulator it stands for
  for (int i = 0; i <= n; ++i) acc += static_cast<uint32_t>(static_cast<int32_t>(x[i]) * y[i]);
  return static_cast<int32_t>(acc) >> 15;
}

uint16_t fxabs(int16_t a) { return static_cast<uint16_t>(a < 0 ? -static_cast<int32_t>(a) : a); }

uint32_t fxabsl(int32_t a) {
  return a < 0 ? static_cast<uint32_t>(0) - static_cast<uint32_t>(a) : static_cast<uint32_t>(a);
}

int16_t fxcmag(const VCZCOMPLEX* z) {
  const uint16_t re = fxabs(z->real), im = fxabs(z->imag);
  const int16_t hi = static_cast<int16_t>(re > im ? re : im);
  const int16_t lo = static_cast<int16_t>(re > im ? im : re);
  return static_cast<int16_t>(fxmul(31472, hi) + fxmul(13036, lo));
}

void fxcmul(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst) {
  const int16_t re = static_cast<int16_t>(fxmul(a->real, b->real) - fxmul(a->imag, b->imag));
  const int16_t im = static_cast<int16_t>(fxmul(a->real, b->imag) + fxmul(a->imag, b->real));
  dst->real = re;
  dst->imag = im;
}

void fxcmulconj(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst) {
  const int16_t re = static_cast<int16_t>(fxmul(a->real, b->real) + fxmul(a->imag, b->imag));
  const int16_t im = static_cast<int16_t>(fxmul(a->imag, b->real) - fxmul(a->real, b->imag));
  dst->real = re;
  dst->imag = im;
}

void fxcsub(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst) {
  dst->real = static_cast<int16_t>(a->real - b->real);
  dst->imag = static_cast<int16_t>(a->imag - b->imag);
}

int16_t fxsin(uint16_t p) {
  // First quarter by polynomial; the second and fourth quarters mirror it, the second half negates.
  int32_t x = p & 0x3FFF;
  if (p & 0x4000) x = (~p) & 0x3FFF;
  int64_t acc = static_cast<int64_t>(vccsincoeff[0]) << 15;
  for (int i = 1; i < 6; ++i) acc = (static_cast<int64_t>(vccsincoeff[i]) << 15) + x * (acc >> 15);
  int32_t r = static_cast<int32_t>(acc >> 12);
  if (p & 0x8000) r = -r;
  return static_cast<int16_t>(r);
}

int16_t fxcos(uint16_t p) { return fxsin(static_cast<uint16_t>(p + 16384)); }

int16_t vcfdiv_s(int16_t a, int16_t b) { return vcfdiv_L(a, b); }

int16_t vcfdiv_L(int32_t a, int32_t b) {
  if (a == 0) return 0;
  if (a >= b) return 32767;
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
  return sat16(static_cast<int32_t>(acc) >> 15);
}

int16_t vcfConv(const int16_t* x, const int16_t* h, int16_t n) {
  // Wide steps over the same 32-bit wrapping sum: the order of the products cannot change it.
  uint32_t acc = 0;
  int j = -n;
  auto step = [&](int width) {
    while (j + width - 1 <= 0) {
      uint32_t part = 0;
      for (int i = 0; i < width; ++i)
        part += static_cast<uint32_t>(static_cast<int32_t>(x[j + i]) * h[j + i]);
      acc += part;
      j += width;
    }
  };
  step(16);
  step(8);
  step(4);
  step(1);
  return sat16(static_cast<int32_t>(acc) >> 15);
}

int16_t vcfCsearch(const VCZCOMPLEX* d, const VCZCOMPLEX* table, int16_t n) {
  int16_t best = 0;
  int32_t bestDist = 32767;
  for (int16_t i = 0; i < n; ++i) {
    const int16_t dr = static_cast<int16_t>(d->real - table[i].real);
    const int16_t di = static_cast<int16_t>(d->imag - table[i].imag);
    const int32_t dist = fxmul(dr, dr) + fxmul(di, di);
    if (dist < bestDist) {
      bestDist = dist;
      best = i;
    }
  }
  return best;
}

void vcfInitTxLinBuf(VCZBUF* buf, int16_t start, int16_t end) {
  for (int i = 0; i < end; ++i) buf->startp[i] = 0;
  buf->bufp = buf->startp + start;
  buf->endp = buf->startp + end;
}

void vcfMultGain(VCZBUF* bufRdp, const VCZBUF* bufWrp, int16_t gainQ10) {
  for (int16_t* p = bufRdp->bufp; p < bufWrp->bufp; ++p)
    *p = sat16((static_cast<int32_t>(gainQ10) * *p) >> 10);
}

void vcfUpdateFIRhist(VCZBUF* buf, int16_t n, int16_t* hist, int16_t histLen) {
  for (int i = 0; i < histLen; ++i) {
    buf->bufp[-1 - i] = hist[histLen - 1 - i];
    hist[histLen - 1 - i] = buf->bufp[n - 1 - i];
  }
}

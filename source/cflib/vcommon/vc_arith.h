// The modem library's hot arithmetic, inline: saturation, Q15 products, magnitudes, complex
// products, sine and cosine, the restoring division and the wrapping dot product under every
// filter. Each is called per sample or per tap, so a call costs more than the work it does.
#pragma once

#include <cstdint>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

#include "vc_types.h"

inline int16_t vcSat16(int32_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

// Set bits of a word. The baseline processor has no population-count instruction, so the
// compiler's builtin is a library call; this is a handful of instructions.
constexpr int vcPopcount(uint32_t x) {
  x = x - ((x >> 1) & 0x55555555u);
  x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0Fu;
  return static_cast<int>((x * 0x01010101u) >> 24);
}

constexpr int16_t fxmul(int16_t a, int16_t b) {
  return static_cast<int16_t>((static_cast<int32_t>(a) * b + 16384) >> 15);
}

constexpr uint16_t fxabs(int16_t a) { return static_cast<uint16_t>(a < 0 ? -static_cast<int32_t>(a) : a); }

constexpr uint32_t fxabsl(int32_t a) {
  return a < 0 ? static_cast<uint32_t>(0) - static_cast<uint32_t>(a) : static_cast<uint32_t>(a);
}

inline int16_t fxcmag(const VCZCOMPLEX* z) {
  // larger and smaller by selection: which is larger is the received data itself
  const uint32_t re = fxabs(z->real), im = fxabs(z->imag);
  const uint32_t larger = re > im ? re : im, smaller = re > im ? im : re;
  const int16_t hi = static_cast<int16_t>(larger);
  const int16_t lo = static_cast<int16_t>(smaller);
  return static_cast<int16_t>(fxmul(31472, hi) + fxmul(13036, lo));
}

inline void fxcmul(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst) {
  const int16_t re = static_cast<int16_t>(fxmul(a->real, b->real) - fxmul(a->imag, b->imag));
  const int16_t im = static_cast<int16_t>(fxmul(a->real, b->imag) + fxmul(a->imag, b->real));
  dst->real = re;
  dst->imag = im;
}

inline void fxcmulconj(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst) {
  const int16_t re = static_cast<int16_t>(fxmul(a->real, b->real) + fxmul(a->imag, b->imag));
  const int16_t im = static_cast<int16_t>(fxmul(a->imag, b->real) - fxmul(a->real, b->imag));
  dst->real = re;
  dst->imag = im;
}

inline void fxcsub(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst) {
  dst->real = static_cast<int16_t>(a->real - b->real);
  dst->imag = static_cast<int16_t>(a->imag - b->imag);
}

// The sine's first quarter by polynomial, at x = 0 .. 0x3FFF of a quarter turn.
constexpr int32_t vcSineQuarterPoly(int32_t x) {
  constexpr int16_t coeff[6] = {7374, 2231, -21812, 83, 12864, 0};
  int64_t acc = static_cast<int64_t>(coeff[0]) << 15;
  for (int i = 1; i < 6; ++i) acc = (static_cast<int64_t>(coeff[i]) << 15) + x * (acc >> 15);
  return static_cast<int32_t>(acc >> 12);
}

// The second and fourth quarters mirror the first, the second half negates.
constexpr int16_t fxsinPoly(uint16_t p) {
  int32_t x = p & 0x3FFF;
  if (p & 0x4000) x = (~p) & 0x3FFF;
  int32_t r = vcSineQuarterPoly(x);
  if (p & 0x8000) r = -r;
  return static_cast<int16_t>(r);
}

// The polynomial's first quarter, tabled (32 KB): the carrier and rotation of every symbol
// and sample read it.
struct VcSineQuarter {
  int16_t v[16384];
};
constexpr VcSineQuarter vcMakeSineQuarter() {
  VcSineQuarter t{};
  for (int32_t x = 0; x < 16384; ++x) t.v[x] = static_cast<int16_t>(vcSineQuarterPoly(x));
  return t;
}
// Every value lies in 0 .. 32767, so the table and its negation give the polynomial's bits.
constexpr bool vcSineQuarterInRange(const VcSineQuarter& t) {
  for (int32_t x = 0; x < 16384; ++x)
    if (vcSineQuarterPoly(x) < 0 || vcSineQuarterPoly(x) > 32767 || t.v[x] != vcSineQuarterPoly(x)) return false;
  return true;
}
inline constexpr VcSineQuarter vcgSineQuarter = vcMakeSineQuarter();  // checked in vc_math.cpp

inline int16_t fxsin(uint16_t p) {
  // the second and fourth quarters read the table backwards: p's bits flipped, without a branch
  // (carrier phases cross the quarters at every few symbols, beyond any predictor)
  const uint32_t flip = 0u - ((static_cast<uint32_t>(p) >> 14) & 1u);
  const int32_t x = static_cast<int32_t>((p ^ flip) & 0x3FFF);
  const int16_t r = vcgSineQuarter.v[x];
  return (p & 0x8000) ? static_cast<int16_t>(-r) : r;
}

inline int16_t fxcos(uint16_t p) { return fxsin(static_cast<uint16_t>(p + 16384)); }

// Restoring division: 15 quotient bits of a / b for 0 < a < b (full scale at a >= b). The loop
// stays for signs it was never meant for, where it answers as it always did; for positive
// operands its quotient is floor(a * 2^15 / b), which one division gives.
int16_t vcfdivRestoring(int32_t a, int32_t b);

inline int16_t vcfdiv_L(int32_t a, int32_t b) {
  if (a == 0) return 0;
  if (a >= b) return 32767;
  if (a > 0) return static_cast<int16_t>((static_cast<int64_t>(a) << 15) / b);
  return vcfdivRestoring(a, b);
}

inline int16_t vcfdiv_s(int16_t a, int16_t b) { return vcfdiv_L(a, b); }

// Sum of a[i] * b[i] for i < n, wrapping at 32 bits like the accumulator it stands for: the order
// of the products cannot change it, so the wide form below gives the plain loop's bits.
inline uint32_t vcDot16Plain(const int16_t* a, const int16_t* b, int n) {
  uint32_t acc = 0;
  for (int i = 0; i < n; ++i) acc += static_cast<uint32_t>(static_cast<int32_t>(a[i]) * b[i]);
  return acc;
}

#if defined(ORVOX_X86_SIMD)
// Lanes to keep of the last eight products when `rest` (0..7) of them are new: the eight end at n,
// so the first 8 - rest were counted already and are masked out.
alignas(16) inline constexpr int16_t vcgDotTailMask[8][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},      {0, 0, 0, 0, 0, 0, 0, -1},     {0, 0, 0, 0, 0, 0, -1, -1},
    {0, 0, 0, 0, 0, -1, -1, -1},   {0, 0, 0, 0, -1, -1, -1, -1},  {0, 0, 0, -1, -1, -1, -1, -1},
    {0, 0, -1, -1, -1, -1, -1, -1}, {0, -1, -1, -1, -1, -1, -1, -1}};

inline __m128i vcLoad8(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The products of the last n % 8 terms, read as the eight that end at n (n >= 8).
inline __m128i vcDotTail(const int16_t* a, const int16_t* b, int n) {
  const __m128i keep = _mm_load_si128(reinterpret_cast<const __m128i*>(vcgDotTailMask[n & 7]));
  return _mm_madd_epi16(vcLoad8(a + n - 8), _mm_and_si128(vcLoad8(b + n - 8), keep));
}

inline uint32_t vcSum4(__m128i acc) {
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
}

// Eight products at a time; each pair's sum wraps only for two products of -32768 * -32768, to
// 2^31, which is that sum modulo 2^32.
inline uint32_t vcDot16(const int16_t* a, const int16_t* b, int n) {
  if (n < 8) return vcDot16Plain(a, b, n);
  __m128i acc = _mm_setzero_si128();
  int i = 0;
  for (; i + 8 <= n; i += 8) acc = _mm_add_epi32(acc, _mm_madd_epi16(vcLoad8(a + i), vcLoad8(b + i)));
  if (i < n) acc = _mm_add_epi32(acc, vcDotTail(a, b, n));
  return vcSum4(acc);
}

// Two sums over the same a: with coefficient rows b0 and b1, sharing the loads of a.
inline void vcDot16Pair(const int16_t* a, const int16_t* b0, const int16_t* b1, int n, uint32_t* s0, uint32_t* s1) {
  __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b0 + i))));
    acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b1 + i))));
  }
  *s0 = vcSum4(acc0) + vcDot16Plain(a + i, b0 + i, n - i);
  *s1 = vcSum4(acc1) + vcDot16Plain(a + i, b1 + i, n - i);
}
#else
inline uint32_t vcDot16(const int16_t* a, const int16_t* b, int n) { return vcDot16Plain(a, b, n); }

inline void vcDot16Pair(const int16_t* a, const int16_t* b0, const int16_t* b1, int n, uint32_t* s0, uint32_t* s1) {
  *s0 = vcDot16Plain(a, b0, n);
  *s1 = vcDot16Plain(a, b1, n);
}
#endif

// x[i] = sat16((gain * x[i]) >> 10) for i < n: a Q10 gain.
inline void vcGainQ10Plain(int16_t* x, int n, int16_t gain) {
  for (int i = 0; i < n; ++i) x[i] = vcSat16((static_cast<int32_t>(gain) * x[i]) >> 10);
}

#if defined(ORVOX_X86_SIMD)
// The 32-bit products from the low and high 16-bit halves, shifted, packed back with saturation.
// Unity (1024) leaves every sample as it is, so it is not applied.
inline void vcGainQ10(int16_t* x, int n, int16_t gain) {
  if (gain == 1024) return;
  const __m128i g = _mm_set1_epi16(gain);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    auto* p = reinterpret_cast<__m128i*>(x + i);
    const __m128i v = _mm_loadu_si128(p);
    const __m128i lo = _mm_mullo_epi16(v, g), hi = _mm_mulhi_epi16(v, g);
    const __m128i a = _mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 10);
    const __m128i b = _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 10);
    _mm_storeu_si128(p, _mm_packs_epi32(a, b));
  }
  vcGainQ10Plain(x + i, n - i, gain);
}
#else
inline void vcGainQ10(int16_t* x, int n, int16_t gain) {
  if (gain != 1024) vcGainQ10Plain(x, n, gain);
}
#endif

// The dot products as the transmit kernel and the interpolator take them (the baseline forms).
struct VcDotBase {
  static uint32_t dot(const int16_t* a, const int16_t* b, int n) { return vcDot16(a, b, n); }
  static void pair32(const int16_t* a, const int16_t* b0, const int16_t* b1, uint32_t* s0, uint32_t* s1) {
    vcDot16Pair(a, b0, b1, 32, s0, s1);
  }
};

// Q15 convolution of the n + 1 samples ending at x with the taps ending at h, saturated.
inline int16_t vcfConv(const int16_t* x, const int16_t* h, int16_t n) {
  return vcSat16(static_cast<int32_t>(vcDot16(x - n, h - n, n + 1)) >> 15);
}

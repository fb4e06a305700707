// The equalisers' per-symbol loops: the T/3 equaliser's output (the taps' high halves against the
// line, newest sample first) and tap update, and the 2T/3 complex equaliser's (every other sample
// of the real and imaginary lines). The plain forms are the reference; the wide forms give their
// bits (sums and tap updates wrap at 32 bits in both).
#pragma once

#include <cstdint>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

#include "vc_dot_avx2.h"
#include "vc_types.h"

// re = sum of (cr[i] >> 16) * x[-i], im likewise with ci, for i < n.
inline void vcEqDotPlain(const int32_t* cr, const int32_t* ci, const int16_t* x, int n, uint32_t* re, uint32_t* im) {
  uint32_t r = 0, q = 0;
  for (int i = 0; i < n; ++i) {
    r += static_cast<uint32_t>((cr[i] >> 16) * x[-i]);
    q += static_cast<uint32_t>((ci[i] >> 16) * x[-i]);
  }
  *re = r;
  *im = q;
}

// cr[i] += (x[-i] * e.real) >> shift, ci[i] likewise with e.imag, for i < n.
inline void vcEqUpdatePlain(int32_t* cr, int32_t* ci, const int16_t* x, int n, VCZCOMPLEX e, int shift) {
  for (int i = 0; i < n; ++i) {
    cr[i] = static_cast<int32_t>(static_cast<uint32_t>(cr[i]) + static_cast<uint32_t>((x[-i] * e.real) >> shift));
    ci[i] = static_cast<int32_t>(static_cast<uint32_t>(ci[i]) + static_cast<uint32_t>((x[-i] * e.imag) >> shift));
  }
}

// The 2T/3 equaliser's complex output: re = sum of a*xr - b*xi, im = sum of b*xr + a*xi, with
// a, b the high halves of cr[i], ci[i] and xr, xi the lines' samples 2i, for i < n.
inline void vcEq2T3DotPlain(const int32_t* cr, const int32_t* ci, const int16_t* xr, const int16_t* xi, int n,
                            uint32_t* re, uint32_t* im) {
  uint32_t r = 0, q = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t a = cr[i] >> 16, b = ci[i] >> 16;
    r += static_cast<uint32_t>(a * xr[2 * i]) - static_cast<uint32_t>(b * xi[2 * i]);
    q += static_cast<uint32_t>(b * xr[2 * i]) + static_cast<uint32_t>(a * xi[2 * i]);
  }
  *re = r;
  *im = q;
}

// Its update: gr = xr*e.real + xi*e.imag, gi = xr*e.imag - xi*e.real (32-bit, wrapping), shifted
// left by `step` when 0 <= step < 32 or right by -step when -32 < step < 0, added to the taps.
inline void vcEq2T3UpdatePlain(int32_t* cr, int32_t* ci, const int16_t* xr, const int16_t* xi, int n,
                               VCZCOMPLEX e, int step) {
  for (int i = 0; i < n; ++i) {
    const uint32_t pr = static_cast<uint32_t>(xr[2 * i] * e.real) + static_cast<uint32_t>(xi[2 * i] * e.imag);
    const uint32_t pi = static_cast<uint32_t>(xr[2 * i] * e.imag) - static_cast<uint32_t>(xi[2 * i] * e.real);
    const uint32_t dr = step >= 0 ? pr << step : static_cast<uint32_t>(static_cast<int32_t>(pr) >> -step);
    const uint32_t di = step >= 0 ? pi << step : static_cast<uint32_t>(static_cast<int32_t>(pi) >> -step);
    cr[i] = static_cast<int32_t>(static_cast<uint32_t>(cr[i]) + dr);
    ci[i] = static_cast<int32_t>(static_cast<uint32_t>(ci[i]) + di);
  }
}

#if defined(ORVOX_X86_SIMD)
// x[-i-k] in lane k, k = 0..7.
inline __m128i vcEqLine8(const int16_t* x, int i) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x - i - 7));
  const __m128i w = _mm_shuffle_epi32(v, 0x1B);
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(w, 0xB1), 0xB1);
}

// The high halves of eight taps as eight 16-bit lanes.
inline __m128i vcEqHigh8(const int32_t* c) {
  const __m128i lo = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)), 16);
  const __m128i hi = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 4)), 16);
  return _mm_packs_epi32(lo, hi);  // already in range: nothing saturates
}

inline uint32_t vcEqSum4(__m128i acc) {
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
}

inline void vcEqDot(const int32_t* cr, const int32_t* ci, const int16_t* x, int n, uint32_t* re, uint32_t* im) {
  __m128i ar = _mm_setzero_si128(), ai = _mm_setzero_si128();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i line = vcEqLine8(x, i);
    ar = _mm_add_epi32(ar, _mm_madd_epi16(vcEqHigh8(cr + i), line));
    ai = _mm_add_epi32(ai, _mm_madd_epi16(vcEqHigh8(ci + i), line));
  }
  uint32_t r, q;
  vcEqDotPlain(cr + i, ci + i, x - i, n - i, &r, &q);
  *re = vcEqSum4(ar) + r;
  *im = vcEqSum4(ai) + q;
}

// Four 32-bit products of the line with one multiplier, shifted.
inline void vcEqProducts(__m128i line, int16_t m, __m128i count, __m128i* lo4, __m128i* hi4) {
  const __m128i k = _mm_set1_epi16(m);
  const __m128i lo = _mm_mullo_epi16(line, k), hi = _mm_mulhi_epi16(line, k);
  *lo4 = _mm_sra_epi32(_mm_unpacklo_epi16(lo, hi), count);
  *hi4 = _mm_sra_epi32(_mm_unpackhi_epi16(lo, hi), count);
}

inline void vcEqAdd4(int32_t* c, __m128i d) {
  auto* p = reinterpret_cast<__m128i*>(c);
  _mm_storeu_si128(p, _mm_add_epi32(_mm_loadu_si128(p), d));
}

inline void vcEqUpdate(int32_t* cr, int32_t* ci, const int16_t* x, int n, VCZCOMPLEX e, int shift) {
  const __m128i count = _mm_cvtsi32_si128(shift);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i line = vcEqLine8(x, i);
    __m128i a, b;
    vcEqProducts(line, e.real, count, &a, &b);
    vcEqAdd4(cr + i, a);
    vcEqAdd4(cr + i + 4, b);
    vcEqProducts(line, e.imag, count, &a, &b);
    vcEqAdd4(ci + i, a);
    vcEqAdd4(ci + i + 4, b);
  }
  vcEqUpdatePlain(cr + i, ci + i, x - i, n - i, e, shift);
}

// Samples 0, 2, .., 14 of the sixteen at x.
inline __m128i vcEven8(const int16_t* x) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 8));
  return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16), _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
}

// Samples 0, 2, 4, 6 at x, then four zeros: the high halves of the eight from x - 1, so that the
// reads end at sample 6.
inline __m128i vcEven4(const int16_t* x) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x - 1));
  return _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_setzero_si128());
}

// The high halves of four taps, then four zeros.
inline __m128i vcEqHigh4(const int32_t* c) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)), 16), _mm_setzero_si128());
}

// Samples 0 and 2 at x, then six zeros: the high halves of the four from x - 1.
inline __m128i vcEven2(const int16_t* x) {
  const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x - 1));
  return _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_setzero_si128());
}

// The high halves of two taps, then six zeros.
inline __m128i vcEqHigh2(const int32_t* c) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c)), 16), _mm_setzero_si128());
}

inline void vcEqAdd2(int32_t* c, __m128i d) {
  auto* p = reinterpret_cast<__m128i*>(c);
  _mm_storel_epi64(p, _mm_add_epi32(_mm_loadl_epi64(p), d));
}

// Inlined into the demodulator's symbol: a call each symbol would cost about what a quarter of the
// sum does.
__attribute__((always_inline)) inline void vcEq2T3Dot(const int32_t* cr, const int32_t* ci, const int16_t* xr,
                                                      const int16_t* xi, int n, uint32_t* re, uint32_t* im) {
  // the real sum's lanes (a xr - b xi) and the imaginary one's (b xr + a xi), wrapping as the
  // plain sums do, so that one fold ends each
  __m128i accRe = _mm_setzero_si128(), accIm = _mm_setzero_si128();
  const auto add = [&](__m128i a, __m128i b, __m128i r, __m128i q) {
    accRe = _mm_add_epi32(accRe, _mm_sub_epi32(_mm_madd_epi16(a, r), _mm_madd_epi16(b, q)));
    accIm = _mm_add_epi32(accIm, _mm_add_epi32(_mm_madd_epi16(b, r), _mm_madd_epi16(a, q)));
  };
  int i = 0;
  // eight taps read sixteen samples: the last (odd, unused) one must still lie inside the line
  for (; i + 8 < n; i += 8) add(vcEqHigh8(cr + i), vcEqHigh8(ci + i), vcEven8(xr + 2 * i), vcEven8(xi + 2 * i));
  // four read samples -1 to 6 from their first: inside the line of 2 n - 1 samples after eight
  if (i > 0 && i + 4 <= n) {
    add(vcEqHigh4(cr + i), vcEqHigh4(ci + i), vcEven4(xr + 2 * i), vcEven4(xi + 2 * i));
    i += 4;
  }
  // two (the V.29 line's last) read samples -1 to 2 from their first
  if (i > 0 && i + 2 <= n) {
    add(vcEqHigh2(cr + i), vcEqHigh2(ci + i), vcEven2(xr + 2 * i), vcEven2(xi + 2 * i));
    i += 2;
  }
  uint32_t r, q;
  vcEq2T3DotPlain(cr + i, ci + i, xr + 2 * i, xi + 2 * i, n - i, &r, &q);
  // both folds at once: re's lanes paired with im's, then the pairs
  const __m128i lo = _mm_unpacklo_epi64(accRe, accIm), hi = _mm_unpackhi_epi64(accRe, accIm);
  const __m128i half = _mm_add_epi32(lo, hi);  // re0+re2, re1+re3, im0+im2, im1+im3
  const __m128i sums = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0xB1));
  *re = static_cast<uint32_t>(_mm_cvtsi128_si32(sums)) + r;
  *im = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(sums, 0x02))) + q;
}

__attribute__((always_inline)) inline void vcEq2T3Update(int32_t* cr, int32_t* ci, const int16_t* xr,
                                                         const int16_t* xi, int n, VCZCOMPLEX e, int step) {
  const bool left = step >= 0;
  const __m128i count = _mm_cvtsi32_si128(left ? step : -step);
  const uint16_t er = static_cast<uint16_t>(e.real), ei = static_cast<uint16_t>(e.imag);
  const __m128i both = _mm_set1_epi32(static_cast<int32_t>(er | (uint32_t{ei} << 16)));  // (er, ei)
  const __m128i imagOnly = _mm_set1_epi32(static_cast<int32_t>(ei));                      // (ei, 0)
  const __m128i realHigh = _mm_set1_epi32(static_cast<int32_t>(uint32_t{er} << 16));     // (0, er)
  // four taps (two with vcEqAdd2) from their (xr, xi) pairs
  const auto update = [&](int at, __m128i pairs, auto addTo) {
    const __m128i gr = _mm_madd_epi16(pairs, both);
    const __m128i gi = _mm_sub_epi32(_mm_madd_epi16(pairs, imagOnly), _mm_madd_epi16(pairs, realHigh));
    addTo(cr + at, left ? _mm_sll_epi32(gr, count) : _mm_sra_epi32(gr, count));
    addTo(ci + at, left ? _mm_sll_epi32(gi, count) : _mm_sra_epi32(gi, count));
  };
  const auto update4 = [&](int at, __m128i pairs) { update(at, pairs, vcEqAdd4); };
  int i = 0;
  for (; i + 8 < n; i += 8) {  // as in vcEq2T3Dot: the sixteenth sample inside the line
    const __m128i r = vcEven8(xr + 2 * i), q = vcEven8(xi + 2 * i);
    update4(i, _mm_unpacklo_epi16(r, q));
    update4(i + 4, _mm_unpackhi_epi16(r, q));
  }
  if (i > 0 && i + 4 <= n) {  // as in vcEq2T3Dot
    update4(i, _mm_unpacklo_epi16(vcEven4(xr + 2 * i), vcEven4(xi + 2 * i)));
    i += 4;
  }
  if (i > 0 && i + 2 <= n) {  // as in vcEq2T3Dot
    update(i, _mm_unpacklo_epi16(vcEven2(xr + 2 * i), vcEven2(xi + 2 * i)), vcEqAdd2);
    i += 2;
  }
  vcEq2T3UpdatePlain(cr + i, ci + i, xr + 2 * i, xi + 2 * i, n - i, e, step);
}
#if defined(VC_HAVE_AVX2_KERNELS)
// The 2T/3 equaliser's steps with AVX2, eight taps a vector: the taps are read whole (32-bit) and the
// lines' every other sample lies in the high half of each 32-bit lane with zero below it, so
// that one multiply-add gives the tap's high half times the sample (the low half meets the zero)
// without packing either side to 16 bits first. The same products, wrapping the same way.

// Lane k's high half sample 2k of the line from x, its low half zero, for a line of 2 n - 1
// samples with x at sample 2i: from the samples at x moved up where those reads (to sample 2w - 1
// for w lanes) stay inside the line, else from those before x masked (past the line's start; they
// end at 2w - 2). The eight are read as two halves, from x and x + 8: the decimator stores the
// line in those pieces, and a read across two stores would wait for both to land.
__attribute__((target("avx2"), always_inline)) inline __m256i vcEqLoadHalves(const int16_t* p) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 1);
}
__attribute__((target("avx2"), always_inline)) inline __m256i vcEqEvenHigh8(const int16_t* x, int i, int n) {
  if (i + 8 < n) return _mm256_slli_epi32(vcEqLoadHalves(x), 16);
  return _mm256_and_si256(vcEqLoadHalves(x - 1), _mm256_set1_epi32(-65536));
}
__attribute__((target("avx2"), always_inline)) inline __m128i vcEqEvenHigh4(const int16_t* x, int i, int n) {
  if (i + 4 < n) return _mm_slli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x)), 16);
  return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x - 1)), _mm_set1_epi32(-65536));
}

// Whether w taps from i can be taken by vcEqEvenHigh8 or 4 (the reads before x only after the start).
inline bool vcEqWideFits(int i, int w, int n) { return i + w < n || (i > 0 && i + w <= n); }

// One step's sums: a xr - b xi into *re, b xr + a xi into *im (a, b the taps, xr, xi the lines).
template <typename V>
__attribute__((target("avx2"), always_inline)) inline void vcEq2T3DotStep(V a, V b, V xr, V xi, V* re, V* im) {
  if constexpr (sizeof(V) == 32) {
    *re = _mm256_add_epi32(*re, _mm256_sub_epi32(_mm256_madd_epi16(a, xr), _mm256_madd_epi16(b, xi)));
    *im = _mm256_add_epi32(*im, _mm256_add_epi32(_mm256_madd_epi16(b, xr), _mm256_madd_epi16(a, xi)));
  } else {
    *re = _mm_add_epi32(*re, _mm_sub_epi32(_mm_madd_epi16(a, xr), _mm_madd_epi16(b, xi)));
    *im = _mm_add_epi32(*im, _mm_add_epi32(_mm_madd_epi16(b, xr), _mm_madd_epi16(a, xi)));
  }
}

__attribute__((target("avx2"), always_inline)) inline __m256i vcEqTaps8(const int32_t* c) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
}

// One step's tap update: gr = xr er + xi ei into the taps at cr, gi = xr ei - xi er at ci, shifted
// (left by count, or right when !left). er, ei: each multiplier in the high half of every lane.
template <typename V>
__attribute__((target("avx2"), always_inline)) inline void vcEq2T3UpdateStep(int32_t* cr, int32_t* ci, V xr, V xi,
                                                                             V er, V ei, bool left, __m128i count) {
  if constexpr (sizeof(V) == 32) {
    const __m256i gr = _mm256_add_epi32(_mm256_madd_epi16(xr, er), _mm256_madd_epi16(xi, ei));
    const __m256i gi = _mm256_sub_epi32(_mm256_madd_epi16(xr, ei), _mm256_madd_epi16(xi, er));
    auto* pr = reinterpret_cast<__m256i*>(cr);
    auto* pi = reinterpret_cast<__m256i*>(ci);
    const __m256i dr = left ? _mm256_sll_epi32(gr, count) : _mm256_sra_epi32(gr, count);
    const __m256i di = left ? _mm256_sll_epi32(gi, count) : _mm256_sra_epi32(gi, count);
    _mm256_storeu_si256(pr, _mm256_add_epi32(_mm256_loadu_si256(pr), dr));
    _mm256_storeu_si256(pi, _mm256_add_epi32(_mm256_loadu_si256(pi), di));
  } else {
    const __m128i gr = _mm_add_epi32(_mm_madd_epi16(xr, er), _mm_madd_epi16(xi, ei));
    const __m128i gi = _mm_sub_epi32(_mm_madd_epi16(xr, ei), _mm_madd_epi16(xi, er));
    vcEqAdd4(cr, left ? _mm_sll_epi32(gr, count) : _mm_sra_epi32(gr, count));
    vcEqAdd4(ci, left ? _mm_sll_epi32(gi, count) : _mm_sra_epi32(gi, count));
  }
}

// vcEq2T3UpdatePlain's taps. Inlined into its callers, which must be compiled for AVX2 themselves.
__attribute__((target("avx2"), always_inline)) inline void vcEq2T3UpdateAvx2(int32_t* cr, int32_t* ci,
                                                                             const int16_t* xr, const int16_t* xi,
                                                                             int n, VCZCOMPLEX e, int step) {
  const bool left = step >= 0;
  const __m128i count = _mm_cvtsi32_si128(left ? step : -step);
  const __m256i er = _mm256_set1_epi32(static_cast<int32_t>(uint32_t{static_cast<uint16_t>(e.real)} << 16));
  const __m256i ei = _mm256_set1_epi32(static_cast<int32_t>(uint32_t{static_cast<uint16_t>(e.imag)} << 16));
  int i = 0;
  for (; vcEqWideFits(i, 8, n); i += 8)
    vcEq2T3UpdateStep(cr + i, ci + i, vcEqEvenHigh8(xr + 2 * i, i, n), vcEqEvenHigh8(xi + 2 * i, i, n), er, ei, left,
                      count);
  if (vcEqWideFits(i, 4, n)) {
    const __m128i r = vcEqEvenHigh4(xr + 2 * i, i, n), q = vcEqEvenHigh4(xi + 2 * i, i, n);
    vcEq2T3UpdateStep(cr + i, ci + i, r, q, _mm256_castsi256_si128(er), _mm256_castsi256_si128(ei), left, count);
    i += 4;
  }
  vcEq2T3UpdatePlain(cr + i, ci + i, xr + 2 * i, xi + 2 * i, n - i, e, step);
}
#endif
#else
inline void vcEqDot(const int32_t* cr, const int32_t* ci, const int16_t* x, int n, uint32_t* re, uint32_t* im) {
  vcEqDotPlain(cr, ci, x, n, re, im);
}
inline void vcEqUpdate(int32_t* cr, int32_t* ci, const int16_t* x, int n, VCZCOMPLEX e, int shift) {
  vcEqUpdatePlain(cr, ci, x, n, e, shift);
}
inline void vcEq2T3Dot(const int32_t* cr, const int32_t* ci, const int16_t* xr, const int16_t* xi, int n,
                       uint32_t* re, uint32_t* im) {
  vcEq2T3DotPlain(cr, ci, xr, xi, n, re, im);
}
inline void vcEq2T3Update(int32_t* cr, int32_t* ci, const int16_t* xr, const int16_t* xi, int n, VCZCOMPLEX e,
                          int step) {
  vcEq2T3UpdatePlain(cr, ci, xr, xi, n, e, step);
}
#endif

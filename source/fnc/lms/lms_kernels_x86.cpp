// The SSE2 and AVX2 forms of the LMS kernels. Products of 16-bit samples are formed and summed in
// pairs by the multiply-add instruction, whose one overflow (two products of -32768 * -32768)
// wraps exactly as the portable 32-bit sums do; all further sums wrap too, so the order of
// accumulation does not change the result. The tap update adds the rounded, shifted sum to the
// tap in 32-bit lanes and saturates when packing back to 16 bits (or, where the step is known to
// fit 16 bits, adds it with the saturating 16-bit add). The energies widen the pair sums of
// squares, exact as unsigned 32-bit values, into 64-bit sums.
#include "lms_kernels.h"

#if defined(ORVOX_X86_SIMD) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#define LMS_AVX2 __attribute__((target("avx2")))

namespace {

// ------------------------------------------------------------------------------------ SSE2

void reverseSse2(int16_t* dst, const int16_t* src, int T) {
  for (int m = 0; m < T; m += 8) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + T - 8 - m));
    v = _mm_shuffle_epi32(v, 0x1B);
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + m), v);
  }
}

inline __m128i load8(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The four lane sums of a, b, c and d, in that order.
inline __m128i laneSums4(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
  const __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
  return _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
}

inline int32_t laneSum(__m128i a) {
  a = _mm_add_epi32(a, _mm_shuffle_epi32(a, 0x4E));
  a = _mm_add_epi32(a, _mm_shuffle_epi32(a, 0xB1));
  return _mm_cvtsi128_si32(a);
}

void dotsSse2(int32_t* acc, const int16_t* x, const int16_t* hr, int T, int L) {
  int l = 0;
  for (; l + 4 <= L; l += 4) {
    __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
    for (int m = 0; m < T; m += 8) {
      const __m128i h = load8(hr + m);
      a0 = _mm_add_epi32(a0, _mm_madd_epi16(load8(x + l + m), h));
      a1 = _mm_add_epi32(a1, _mm_madd_epi16(load8(x + l + 1 + m), h));
      a2 = _mm_add_epi32(a2, _mm_madd_epi16(load8(x + l + 2 + m), h));
      a3 = _mm_add_epi32(a3, _mm_madd_epi16(load8(x + l + 3 + m), h));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(acc + l), laneSums4(a0, a1, a2, a3));
  }
  for (; l < L; ++l) {
    __m128i a = _mm_setzero_si128();
    for (int m = 0; m < T; m += 8) a = _mm_add_epi32(a, _mm_madd_epi16(load8(x + l + m), load8(hr + m)));
    acc[l] = laneSum(a);
  }
}

// hr + rounded (S >> hExp), S the pair sums s of one half of the lanes: (S >> 15) + bit 14 of S
// is (S + 16384) >> 15 without leaving 32 bits.
inline __m128i tapStep(__m128i s, __m128i shift) {
  s = _mm_sra_epi32(s, shift);
  return _mm_add_epi32(_mm_srai_epi32(s, 15), _mm_and_si128(_mm_srai_epi32(s, 14), _mm_set1_epi32(1)));
}

// Only the two-sample step is vectorised (the echo canceller's); others take the portable form.
void adaptDotsSse2(int16_t* hr, const int16_t* x, const int16_t* e, int Nb, int hExp, int T, int32_t* acc,
                   int L) {
  if (Nb != 2 || (L != 0 && L != 2)) {
    lmsKernelsPortable().adaptDots(hr, x, e, Nb, hExp, T, acc, L);
    return;
  }
  const __m128i pair = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(e[0]) |
                                                           (static_cast<uint32_t>(static_cast<uint16_t>(e[1])) << 16)));
  const __m128i shift = _mm_cvtsi32_si128(hExp < 32 ? hExp : 32);
  __m128i a0 = _mm_setzero_si128(), a1 = a0;
  for (int m = 0; m < T; m += 8) {
    const __m128i r0 = load8(x + m), r1 = load8(x + m + 1);
    const __m128i dLo = tapStep(_mm_madd_epi16(_mm_unpacklo_epi16(r0, r1), pair), shift);
    const __m128i dHi = tapStep(_mm_madd_epi16(_mm_unpackhi_epi16(r0, r1), pair), shift);
    const __m128i h = load8(hr + m);
    const __m128i hLo = _mm_srai_epi32(_mm_unpacklo_epi16(h, h), 16);
    const __m128i hHi = _mm_srai_epi32(_mm_unpackhi_epi16(h, h), 16);
    const __m128i updated = _mm_packs_epi32(_mm_add_epi32(hLo, dLo), _mm_add_epi32(hHi, dHi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hr + m), updated);
    if (L != 0) {
      a0 = _mm_add_epi32(a0, _mm_madd_epi16(load8(x + 2 + m), updated));
      a1 = _mm_add_epi32(a1, _mm_madd_epi16(load8(x + 3 + m), updated));
    }
  }
  if (L != 0) {
    acc[0] = laneSum(a0);
    acc[1] = laneSum(a1);
  }
}

// The pair sums of squares reach 2^31 at most (two samples of -32768): exact as unsigned 32-bit
// lanes, which are widened to 64 bits before they are added up.
inline __m128i widenPairSums(__m128i sum, __m128i pairs) {
  const __m128i zero = _mm_setzero_si128();
  return _mm_add_epi64(sum, _mm_add_epi64(_mm_unpacklo_epi32(pairs, zero), _mm_unpackhi_epi32(pairs, zero)));
}

inline int64_t laneSum64(__m128i a) {
  return _mm_cvtsi128_si64(_mm_add_epi64(a, _mm_unpackhi_epi64(a, a)));
}

int64_t energySse2(const int16_t* x, int n) {
  __m128i sum = _mm_setzero_si128();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i v = load8(x + i);
    sum = widenPairSums(sum, _mm_madd_epi16(v, v));
  }
  return laneSum64(sum) + lmsKernelsPortable().energy(x + i, n - i);
}

constexpr LmsKernels kSse2 = {"sse2", reverseSse2, dotsSse2, adaptDotsSse2, energySse2};

// ------------------------------------------------------------------------------------ AVX2

LMS_AVX2 inline __m256i load16(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// Sixteen taps at a time: the halves swapped, then the eight words of each half reversed.
LMS_AVX2 void reverseAvx2(int16_t* dst, const int16_t* src, int T) {
  const __m256i words = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                                         14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
  for (int m = 0; m < T; m += 16) {
    const __m256i v = _mm256_permute4x64_epi64(load16(src + T - 16 - m), 0x4E);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + m), _mm256_shuffle_epi8(v, words));
  }
}

LMS_AVX2 inline __m128i halves(__m256i a) {
  return _mm_add_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
}

LMS_AVX2 void dotsAvx2(int32_t* acc, const int16_t* x, const int16_t* hr, int T, int L) {
  int l = 0;
  for (; l + 4 <= L; l += 4) {
    __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
    for (int m = 0; m < T; m += 16) {
      const __m256i h = load16(hr + m);
      a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(load16(x + l + m), h));
      a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(load16(x + l + 1 + m), h));
      a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(load16(x + l + 2 + m), h));
      a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(load16(x + l + 3 + m), h));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(acc + l), laneSums4(halves(a0), halves(a1), halves(a2), halves(a3)));
  }
  for (; l < L; ++l) {
    __m256i a = _mm256_setzero_si256();
    for (int m = 0; m < T; m += 16) a = _mm256_add_epi32(a, _mm256_madd_epi16(load16(x + l + m), load16(hr + m)));
    acc[l] = laneSum(halves(a));
  }
}

LMS_AVX2 inline __m256i tapStep(__m256i s, __m128i shift) {
  s = _mm256_sra_epi32(s, shift);
  return _mm256_add_epi32(_mm256_srai_epi32(s, 15), _mm256_and_si256(_mm256_srai_epi32(s, 14), _mm256_set1_epi32(1)));
}

// The unpacks work within each 128-bit half, and so does the saturating pack that undoes them:
// the taps come back in their order.
LMS_AVX2 void adaptDotsWideAvx2(int16_t* hr, const int16_t* x, __m256i pair, __m128i shift, int T,
                                __m256i* a0, __m256i* a1, bool next) {
  for (int m = 0; m < T; m += 16) {
    const __m256i r0 = load16(x + m), r1 = load16(x + m + 1);
    const __m256i dLo = tapStep(_mm256_madd_epi16(_mm256_unpacklo_epi16(r0, r1), pair), shift);
    const __m256i dHi = tapStep(_mm256_madd_epi16(_mm256_unpackhi_epi16(r0, r1), pair), shift);
    const __m256i h = load16(hr + m);
    const __m256i hLo = _mm256_srai_epi32(_mm256_unpacklo_epi16(h, h), 16);
    const __m256i hHi = _mm256_srai_epi32(_mm256_unpackhi_epi16(h, h), 16);
    const __m256i updated = _mm256_packs_epi32(_mm256_add_epi32(hLo, dLo), _mm256_add_epi32(hHi, dHi));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(hr + m), updated);
    if (next) {
      *a0 = _mm256_add_epi32(*a0, _mm256_madd_epi16(load16(x + 2 + m), updated));
      *a1 = _mm256_add_epi32(*a1, _mm256_madd_epi16(load16(x + 3 + m), updated));
    }
  }
}

// From a shift of 2 on, the rounded step (S >> hExp + 2^14) >> 15 stays within +-(2^14 + 1): it
// packs to 16 bits unchanged, and the saturating 16-bit add gives sat16(h + step) directly. The
// two shifts fold into one, (S >> (hExp + 15)) + bit (hExp + 14) of S, counts past 31 giving the
// sign as the two shifts would.
LMS_AVX2 void adaptDotsNarrowAvx2(int16_t* hr, const int16_t* x, __m256i pair, int hExp, int T,
                                  __m256i* a0, __m256i* a1, bool next) {
  const __m128i down = _mm_cvtsi32_si128(hExp + 15), half = _mm_cvtsi32_si128(hExp + 14);
  const __m256i one = _mm256_set1_epi32(1);
  const auto step = [&](__m256i s) LMS_AVX2 {
    return _mm256_add_epi32(_mm256_sra_epi32(s, down), _mm256_and_si256(_mm256_sra_epi32(s, half), one));
  };
  for (int m = 0; m < T; m += 16) {
    const __m256i r0 = load16(x + m), r1 = load16(x + m + 1);
    const __m256i dLo = step(_mm256_madd_epi16(_mm256_unpacklo_epi16(r0, r1), pair));
    const __m256i dHi = step(_mm256_madd_epi16(_mm256_unpackhi_epi16(r0, r1), pair));
    const __m256i updated = _mm256_adds_epi16(load16(hr + m), _mm256_packs_epi32(dLo, dHi));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(hr + m), updated);
    if (next) {
      *a0 = _mm256_add_epi32(*a0, _mm256_madd_epi16(load16(x + 2 + m), updated));
      *a1 = _mm256_add_epi32(*a1, _mm256_madd_epi16(load16(x + 3 + m), updated));
    }
  }
}

LMS_AVX2 void adaptDotsAvx2(int16_t* hr, const int16_t* x, const int16_t* e, int Nb, int hExp, int T,
                            int32_t* acc, int L) {
  if (Nb != 2 || (L != 0 && L != 2)) {
    lmsKernelsPortable().adaptDots(hr, x, e, Nb, hExp, T, acc, L);
    return;
  }
  const __m256i pair = _mm256_set1_epi32(static_cast<int32_t>(
      static_cast<uint16_t>(e[0]) | (static_cast<uint32_t>(static_cast<uint16_t>(e[1])) << 16)));
  const int shift = hExp < 32 ? hExp : 32;
  __m256i a0 = _mm256_setzero_si256(), a1 = a0;
  if (shift >= 2) {
    adaptDotsNarrowAvx2(hr, x, pair, shift, T, &a0, &a1, L != 0);
  } else {
    adaptDotsWideAvx2(hr, x, pair, _mm_cvtsi32_si128(shift), T, &a0, &a1, L != 0);
  }
  if (L != 0) {
    acc[0] = laneSum(halves(a0));
    acc[1] = laneSum(halves(a1));
  }
}

LMS_AVX2 int64_t energyAvx2(const int16_t* x, int n) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i sum = zero;
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i v = load16(x + i);
    const __m256i pairs = _mm256_madd_epi16(v, v);
    sum = _mm256_add_epi64(sum, _mm256_add_epi64(_mm256_unpacklo_epi32(pairs, zero), _mm256_unpackhi_epi32(pairs, zero)));
  }
  __m128i half = _mm_add_epi64(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
  if (i + 8 <= n) {
    const __m128i v = load8(x + i);
    half = widenPairSums(half, _mm_madd_epi16(v, v));
    i += 8;
  }
  return laneSum64(half) + lmsKernelsPortable().energy(x + i, n - i);
}

constexpr LmsKernels kAvx2 = {"avx2", reverseAvx2, dotsAvx2, adaptDotsAvx2, energyAvx2};

}  // namespace

const LmsKernels* lmsKernelsSse2() { return &kSse2; }  // every x86-64 processor has SSE2

const LmsKernels* lmsKernelsAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? &kAvx2 : nullptr;
}

#else

const LmsKernels* lmsKernelsSse2() { return nullptr; }
const LmsKernels* lmsKernelsAvx2() { return nullptr; }

#endif

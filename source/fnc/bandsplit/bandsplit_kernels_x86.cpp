// The SSE2 and AVX2 forms of the two-band filters. The multiply-add instruction forms the
// products of 16-bit pairs and sums each pair in 32 bits; its one overflow (two products of
// -32768 * -32768) wraps exactly as the portable sum does once reduced to 32 bits, and all further
// sums wrap too, so the order of accumulation does not change the result. The packing back to 16
// bits saturates as the portable form does.
//
// Both filters run vertically: each 32-bit lane holds one output, and the taps are applied two at
// a time as broadcast pairs.
// - Decimation: the 32-bit word at x + 2m - 1 holds (x[2m - 1], x[2m]), so output n takes, for
//   j < 20, that word at m = n - j times the pair (h[2j + 1], h[2j]).
// - Interpolation: interleaving u + m - 2i with u + m - 2i - 1 gives the words
//   (u[m - 2i], u[m - 2i - 1]); the even branch takes them times (h[4i], h[4i + 2]), the odd
//   branch times (h[4i + 1], h[4i + 3]), for i < 10.
#include "bandsplit_kernels.h"

#if defined(ORVOX_X86_SIMD) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include "bandsplit.h"

#define BS_AVX2 __attribute__((target("avx2")))

namespace {

constexpr int kLow = 80;
constexpr int kDownPairs = BS_TAPS / 2;
constexpr int kUpPairs = BS_TAPS / 4;

int32_t pair(int16_t lo, int16_t hi) {
  return static_cast<int32_t>(static_cast<uint16_t>(lo) | (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16));
}

struct Pairs {
  int32_t down[kDownPairs];
  int32_t upEven[kUpPairs];
  int32_t upOdd[kUpPairs];
};

const Pairs& pairs() {
  static const Pairs p = [] {
    Pairs q{};
    const auto& h = bs_qmf40;
    for (int j = 0; j < kDownPairs; ++j) q.down[j] = pair(h[2 * j + 1], h[2 * j]);
    for (int i = 0; i < kUpPairs; ++i) {
      q.upEven[i] = pair(h[4 * i], h[4 * i + 2]);
      q.upOdd[i] = pair(h[4 * i + 1], h[4 * i + 3]);
    }
    return q;
  }();
  return p;
}

inline __m128i load8(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store8(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Rounds, shifts and saturates two vectors of four 32-bit sums into eight samples.
inline __m128i roundPack(__m128i a, __m128i b, int shift) {
  const __m128i half = _mm_set1_epi32(1 << (shift - 1));
  const __m128i sa = _mm_sra_epi32(_mm_add_epi32(a, half), _mm_cvtsi32_si128(shift));
  const __m128i sb = _mm_sra_epi32(_mm_add_epi32(b, half), _mm_cvtsi32_si128(shift));
  return _mm_packs_epi32(sa, sb);
}

// ------------------------------------------------------------------------------------ SSE2

// Four decimated outputs from n.
inline __m128i downSums4(const int16_t* x, int n, const Pairs& p) {
  __m128i acc = _mm_setzero_si128();
  for (int j = 0; j < kDownPairs; ++j) {
    acc = _mm_add_epi32(acc, _mm_madd_epi16(load8(x + 2 * (n - j) - 1), _mm_set1_epi32(p.down[j])));
  }
  return acc;
}

void firDownSse2(const int16_t* x, int16_t* low) {
  const Pairs& p = pairs();
  for (int n = 0; n < kLow; n += 8) store8(low + n, roundPack(downSums4(x, n, p), downSums4(x, n + 4, p), 15));
}

// Sixteen interpolated outputs from the eight inputs at m.
void upGroup8(const int16_t* u, int16_t* y, int m, const Pairs& p) {
  __m128i evenLo = _mm_setzero_si128(), evenHi = evenLo, oddLo = evenLo, oddHi = evenLo;
  for (int i = 0; i < kUpPairs; ++i) {
    const __m128i a = load8(u + m - 2 * i);
    const __m128i b = load8(u + m - 2 * i - 1);
    const __m128i lo = _mm_unpacklo_epi16(a, b);
    const __m128i hi = _mm_unpackhi_epi16(a, b);
    const __m128i ce = _mm_set1_epi32(p.upEven[i]);
    const __m128i co = _mm_set1_epi32(p.upOdd[i]);
    evenLo = _mm_add_epi32(evenLo, _mm_madd_epi16(lo, ce));
    evenHi = _mm_add_epi32(evenHi, _mm_madd_epi16(hi, ce));
    oddLo = _mm_add_epi32(oddLo, _mm_madd_epi16(lo, co));
    oddHi = _mm_add_epi32(oddHi, _mm_madd_epi16(hi, co));
  }
  const __m128i even = roundPack(evenLo, evenHi, 14);
  const __m128i odd = roundPack(oddLo, oddHi, 14);
  store8(y + 2 * m, _mm_unpacklo_epi16(even, odd));
  store8(y + 2 * m + 8, _mm_unpackhi_epi16(even, odd));
}

void firUpSse2(const int16_t* u, int16_t* y, int inputs) {
  const Pairs& p = pairs();
  for (int m = 0; m < inputs; m += 8) upGroup8(u, y, m, p);
}

// The saturating 16-bit add and subtract are sat16(a + b) and sat16(a - b) exactly; the tail takes
// the portable form.
void addSatSse2(int16_t* y, const int16_t* a, const int16_t* b, int count) {
  int n = 0;
  for (; n + 8 <= count; n += 8) store8(y + n, _mm_adds_epi16(load8(a + n), load8(b + n)));
  bsKernelsPortable().addSat(y + n, a + n, b + n, count - n);
}

void subSatSse2(int16_t* y, const int16_t* a, const int16_t* b, int count) {
  int n = 0;
  for (; n + 8 <= count; n += 8) store8(y + n, _mm_subs_epi16(load8(a + n), load8(b + n)));
  bsKernelsPortable().subSat(y + n, a + n, b + n, count - n);
}

constexpr BsKernels kSse2 = {"sse2", firDownSse2, firUpSse2, addSatSse2, subSatSse2};

// ------------------------------------------------------------------------------------ AVX2

BS_AVX2 inline __m256i load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

BS_AVX2 void firDownAvx2(const int16_t* x, int16_t* low) {
  const Pairs& p = pairs();
  for (int n = 0; n < kLow; n += 8) {
    __m256i acc = _mm256_setzero_si256();
    for (int j = 0; j < kDownPairs; ++j) {
      acc = _mm256_add_epi32(acc, _mm256_madd_epi16(load16(x + 2 * (n - j) - 1), _mm256_set1_epi32(p.down[j])));
    }
    store8(low + n, roundPack(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1), 15));
  }
}

// Rounds, shifts and saturates two vectors of eight 32-bit sums into sixteen samples; the
// unpacked halves keep the order of the samples within each 128-bit lane, so packing them
// together lane by lane restores it.
BS_AVX2 inline __m256i roundPack16(__m256i a, __m256i b) {
  const __m256i half = _mm256_set1_epi32(1 << 13);
  return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(a, half), 14),
                            _mm256_srai_epi32(_mm256_add_epi32(b, half), 14));
}

BS_AVX2 void firUpAvx2(const int16_t* u, int16_t* y, int inputs) {
  const Pairs& p = pairs();
  int m = 0;
  for (; m + 16 <= inputs; m += 16) {
    __m256i evenLo = _mm256_setzero_si256(), evenHi = evenLo, oddLo = evenLo, oddHi = evenLo;
    for (int i = 0; i < kUpPairs; ++i) {
      const __m256i a = load16(u + m - 2 * i);
      const __m256i b = load16(u + m - 2 * i - 1);
      const __m256i lo = _mm256_unpacklo_epi16(a, b);
      const __m256i hi = _mm256_unpackhi_epi16(a, b);
      const __m256i ce = _mm256_set1_epi32(p.upEven[i]);
      const __m256i co = _mm256_set1_epi32(p.upOdd[i]);
      evenLo = _mm256_add_epi32(evenLo, _mm256_madd_epi16(lo, ce));
      evenHi = _mm256_add_epi32(evenHi, _mm256_madd_epi16(hi, ce));
      oddLo = _mm256_add_epi32(oddLo, _mm256_madd_epi16(lo, co));
      oddHi = _mm256_add_epi32(oddHi, _mm256_madd_epi16(hi, co));
    }
    const __m256i even = roundPack16(evenLo, evenHi);
    const __m256i odd = roundPack16(oddLo, oddHi);
    const __m256i first = _mm256_unpacklo_epi16(even, odd);   // outputs 0-7 | 16-23
    const __m256i second = _mm256_unpackhi_epi16(even, odd);  // outputs 8-15 | 24-31
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + 2 * m), _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + 2 * m + 16), _mm256_permute2x128_si256(first, second, 0x31));
  }
  for (; m < inputs; m += 8) upGroup8(u, y, m, p);
}

BS_AVX2 void addSatAvx2(int16_t* y, const int16_t* a, const int16_t* b, int count) {
  int n = 0;
  for (; n + 16 <= count; n += 16) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + n), _mm256_adds_epi16(load16(a + n), load16(b + n)));
  }
  addSatSse2(y + n, a + n, b + n, count - n);
}

BS_AVX2 void subSatAvx2(int16_t* y, const int16_t* a, const int16_t* b, int count) {
  int n = 0;
  for (; n + 16 <= count; n += 16) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + n), _mm256_subs_epi16(load16(a + n), load16(b + n)));
  }
  subSatSse2(y + n, a + n, b + n, count - n);
}

constexpr BsKernels kAvx2 = {"avx2", firDownAvx2, firUpAvx2, addSatAvx2, subSatAvx2};

}  // namespace

const BsKernels* bsKernelsSse2() { return &kSse2; }  // every x86-64 processor has SSE2

const BsKernels* bsKernelsAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? &kAvx2 : nullptr;
}

#else

const BsKernels* bsKernelsSse2() { return nullptr; }
const BsKernels* bsKernelsAvx2() { return nullptr; }

#endif

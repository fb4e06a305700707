// The detector's filter kernels. 76 taps = nine groups of eight and one of four (SSE2), or four
// groups of sixteen, one of eight and one of four (AVX2); no form reads outside the 76 samples.
#include "dtmfd_kernels.h"

#include "dtmfd.h"

#if defined(ORVOX_X86_SIMD)
#include <immintrin.h>
#endif

namespace {

std::int16_t filterOutput(const std::int16_t* x, const std::int16_t* taps) {
    std::uint32_t acc = 0;  // 32-bit accumulation without saturation
    for (int k = 0; k < DTMFD_TAPS; ++k) acc += static_cast<std::uint32_t>(std::int32_t{taps[k]} * x[k]);
    return static_cast<std::int16_t>(static_cast<std::int32_t>(acc) >> 15);
}

}  // namespace

void dtmfdComplexPortable(const std::int16_t* end, const std::int16_t* cosTaps, const std::int16_t* sinTaps,
                          std::int16_t* re, std::int16_t* im) {
    *re = filterOutput(end - DTMFD_TAPS, cosTaps);
    *im = filterOutput(end - DTMFD_TAPS, sinTaps);
}

#if defined(ORVOX_X86_SIMD)

namespace {

inline std::int16_t horizontal(__m128i acc) {
    acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
    acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
    return static_cast<std::int16_t>(_mm_cvtsi128_si32(acc) >> 15);
}

}  // namespace

void dtmfdComplexSse2(const std::int16_t* end, const std::int16_t* cosTaps, const std::int16_t* sinTaps,
                      std::int16_t* re, std::int16_t* im) {
    static_assert(DTMFD_TAPS == 9 * 8 + 4);
    const std::int16_t* x = end - DTMFD_TAPS;
    __m128i c = _mm_setzero_si128(), s = _mm_setzero_si128();
    for (int k = 0; k < 72; k += 8) {
        const __m128i xv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + k));
        c = _mm_add_epi32(c, _mm_madd_epi16(xv, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cosTaps + k))));
        s = _mm_add_epi32(s, _mm_madd_epi16(xv, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sinTaps + k))));
    }
    const __m128i xv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + 72));
    c = _mm_add_epi32(c, _mm_madd_epi16(xv, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cosTaps + 72))));
    s = _mm_add_epi32(s, _mm_madd_epi16(xv, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sinTaps + 72))));
    *re = horizontal(c);
    *im = horizontal(s);
}

__attribute__((target("avx2"))) void dtmfdComplexAvx2(const std::int16_t* end, const std::int16_t* cosTaps,
                                                      const std::int16_t* sinTaps, std::int16_t* re, std::int16_t* im) {
    static_assert(DTMFD_TAPS == 4 * 16 + 8 + 4);
    const std::int16_t* x = end - DTMFD_TAPS;
    __m256i c = _mm256_setzero_si256(), s = _mm256_setzero_si256();
    for (int k = 0; k < 64; k += 16) {
        const __m256i xv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + k));
        c = _mm256_add_epi32(c, _mm256_madd_epi16(xv, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cosTaps + k))));
        s = _mm256_add_epi32(s, _mm256_madd_epi16(xv, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sinTaps + k))));
    }
    __m128i c4 = _mm_add_epi32(_mm256_castsi256_si128(c), _mm256_extracti128_si256(c, 1));
    __m128i s4 = _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    const __m128i x8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 64));
    c4 = _mm_add_epi32(c4, _mm_madd_epi16(x8, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cosTaps + 64))));
    s4 = _mm_add_epi32(s4, _mm_madd_epi16(x8, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sinTaps + 64))));
    const __m128i x4 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + 72));
    c4 = _mm_add_epi32(c4, _mm_madd_epi16(x4, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cosTaps + 72))));
    s4 = _mm_add_epi32(s4, _mm_madd_epi16(x4, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sinTaps + 72))));
    *re = horizontal(c4);
    *im = horizontal(s4);
}

#endif

DtmfdComplexKernel dtmfdComplexKernel() {
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
    static const DtmfdComplexKernel kernel = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? dtmfdComplexAvx2 : dtmfdComplexSse2;
    }();
    return kernel;
#else
    return dtmfdComplexPortable;
#endif
}

// Eight-lane AVX2 forms of the saturating operators of amrefr_fast.h (internal
// header).  Only functions compiled for AVX2 may use them, and only where the
// processor has it (amrefr_fast::has_avx2()).
#pragma once

#if defined(ORVOX_X86_SIMD)
#include <immintrin.h>

#include "amrefr_basic_op.h"

namespace amrefr_fast {

// Eight words widened to eight 32-bit lanes.
__attribute__((target("avx2"))) inline __m256i load8x32(const Word16* p) {
    return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// sat32(a + b) per lane.
__attribute__((target("avx2"))) inline __m256i add32x8(__m256i a, __m256i b) {
    const __m256i r = _mm256_add_epi32(a, b);
    const __m256i ovf = _mm256_srai_epi32(_mm256_and_si256(_mm256_xor_si256(a, r), _mm256_xor_si256(b, r)), 31);
    const __m256i lim = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(amrefr_op::MAX_32));
    return _mm256_blendv_epi8(r, lim, ovf);
}

// L_mult per lane: 2·a·b, the product 2^31 clipped to MAX_32.
__attribute__((target("avx2"))) inline __m256i mult32x8(__m256i a, __m256i b) {
    const __m256i p = _mm256_mullo_epi32(a, b);
    const __m256i clip = _mm256_cmpeq_epi32(p, _mm256_set1_epi32(0x40000000));  // −1 where 2p overflows
    return _mm256_add_epi32(_mm256_add_epi32(p, p), clip);
}

// mult(x, x) per lane for x already wrapped to 16 bits.
__attribute__((target("avx2"))) inline __m256i square16x8(__m256i x) {
    return _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(x, x), 15), _mm256_set1_epi32(32767));
}

// Two's-complement wrap of each lane to 16 bits.
__attribute__((target("avx2"))) inline __m256i wrap16x8(__m256i x) {
    return _mm256_srai_epi32(_mm256_slli_epi32(x, 16), 16);
}

}  // namespace amrefr_fast
#endif

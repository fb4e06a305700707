// The oscillator's inner loop: portable reference and the SSE2 and AVX2 forms of the same
// arithmetic. The polynomial's intermediate values all fit 16 bits (|p| < 22000, x < 2^14), so
// each product x * p is one multiply-add of a 16-bit pair whose other half is zero.
#include "tone_kernels.h"

#include "tone.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

inline std::int16_t addSat(std::int16_t a, std::int32_t b) {
    const std::int32_t s = std::int32_t{a} + b;
    return static_cast<std::int16_t>(s > 32767 ? 32767 : (s < -32768 ? -32768 : s));
}

}  // namespace

void toneGenPortable(std::int16_t* out, std::uint16_t phase, std::uint16_t inc, std::uint16_t amp, int count) {
    for (int i = 0; i < count; ++i) {
        const std::int32_t prod = std::int32_t{hsfSinModel(phase)} * amp;
        out[i] = addSat(out[i], static_cast<std::int16_t>(prod >> 15));  // bits 15..30 of the product
        phase = static_cast<std::uint16_t>(phase + inc);
    }
}

void tonePhasesPortable(std::int16_t* out, const std::uint16_t* phases, std::uint16_t amp, int count) {
    for (int i = 0; i < count; ++i) {
        const std::int32_t prod = std::int32_t{hsfSinModel(phases[i])} * amp;
        out[i] = addSat(out[i], static_cast<std::int16_t>(prod >> 15));
    }
}

#if defined(__x86_64__)

namespace {

// One step of the polynomial: c + ((2 x p + 32768) >> 16), lanes of 32 bits holding x (< 2^14,
// upper half zero) and p (its low half the 16-bit value).
inline __m128i polyStep(__m128i x, __m128i p, __m128i c) {
    const __m128i xp = _mm_madd_epi16(x, p);
    return _mm_add_epi32(c, _mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(xp, 1), _mm_set1_epi32(32768)), 16));
}

// Four samples of sine times amplitude, wrapped to 16 bits as the scalar product's bits 15..30.
inline __m128i sineTimesAmp4(__m128i phase, __m128i amp0, __m128i amp1) {
    const __m128i mirror = _mm_and_si128(_mm_srai_epi32(_mm_slli_epi32(phase, 17), 31), _mm_set1_epi32(0x3FFF));
    const __m128i x = _mm_xor_si128(_mm_and_si128(phase, _mm_set1_epi32(0x3FFF)), mirror);
    __m128i p = _mm_set1_epi32(sineCoefficients[0]);
    for (std::size_t k = 1; k < sineCoefficients.size(); ++k) p = polyStep(x, p, _mm_set1_epi32(sineCoefficients[k]));
    const __m128i s = polyStep(x, p, _mm_setzero_si128());
    const __m128i neg = _mm_srai_epi32(_mm_slli_epi32(phase, 16), 31);
    const __m128i r = _mm_sub_epi32(_mm_xor_si128(_mm_slli_epi32(s, 3), neg), neg);
    // amp = amp0 + 32768 amp1: (r amp) >> 15 = ((r amp0) >> 15) + r amp1, exactly.
    __m128i v = _mm_add_epi32(_mm_srai_epi32(_mm_madd_epi16(r, amp0), 15), _mm_and_si128(r, amp1));
    return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}

}  // namespace

void toneGenSse2(std::int16_t* out, std::uint16_t phase, std::uint16_t inc, std::uint16_t amp, int count) {
    const __m128i amp0 = _mm_set1_epi32(amp & 0x7FFF);
    const __m128i amp1 = _mm_set1_epi32((amp & 0x8000) ? -1 : 0);
    const __m128i mask16 = _mm_set1_epi32(0xFFFF);
    __m128i ph = _mm_setr_epi32(phase, phase + inc, phase + 2 * inc, phase + 3 * inc);
    const __m128i step = _mm_set1_epi32(4 * inc);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i v = sineTimesAmp4(_mm_and_si128(ph, mask16), amp0, amp1);
        ph = _mm_add_epi32(ph, step);
        const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(out + i));
        const __m128i o = _mm_srai_epi32(_mm_unpacklo_epi16(raw, raw), 16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(_mm_add_epi32(o, v), v));
    }
    if (i < count) {  // the last one to three samples through a buffer
        alignas(16) std::int16_t buf[8] = {};
        const int n = count - i;
        for (int j = 0; j < n; ++j) buf[j] = out[i + j];
        const __m128i v = sineTimesAmp4(_mm_and_si128(ph, mask16), amp0, amp1);
        const __m128i raw = _mm_load_si128(reinterpret_cast<const __m128i*>(buf));
        const __m128i o = _mm_srai_epi32(_mm_unpacklo_epi16(raw, raw), 16);
        _mm_store_si128(reinterpret_cast<__m128i*>(buf), _mm_packs_epi32(_mm_add_epi32(o, v), v));
        for (int j = 0; j < n; ++j) out[i + j] = buf[j];
    }
}

void tonePhasesSse2(std::int16_t* out, const std::uint16_t* phases, std::uint16_t amp, int count) {
    const __m128i amp0 = _mm_set1_epi32(amp & 0x7FFF);
    const __m128i amp1 = _mm_set1_epi32((amp & 0x8000) ? -1 : 0);
    alignas(16) std::int16_t buf[8] = {};
    alignas(16) std::uint16_t ph[8] = {};
    for (int i = 0; i < count; i += 4) {
        const int n = count - i < 4 ? count - i : 4;
        for (int j = 0; j < n; ++j) {
            buf[j] = out[i + j];
            ph[j] = phases[i + j];
        }
        const __m128i p16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ph));
        const __m128i v = sineTimesAmp4(_mm_unpacklo_epi16(p16, _mm_setzero_si128()), amp0, amp1);
        const __m128i raw = _mm_load_si128(reinterpret_cast<const __m128i*>(buf));
        const __m128i o = _mm_srai_epi32(_mm_unpacklo_epi16(raw, raw), 16);
        _mm_store_si128(reinterpret_cast<__m128i*>(buf), _mm_packs_epi32(_mm_add_epi32(o, v), v));
        for (int j = 0; j < n; ++j) out[i + j] = buf[j];
    }
}

namespace {

__attribute__((target("avx2"))) inline __m256i polyStep8(__m256i x, __m256i p, __m256i c) {
    const __m256i xp = _mm256_madd_epi16(x, p);
    return _mm256_add_epi32(c, _mm256_srai_epi32(_mm256_add_epi32(_mm256_slli_epi32(xp, 1), _mm256_set1_epi32(32768)), 16));
}

__attribute__((target("avx2"))) inline __m256i sineTimesAmp8(__m256i phase, __m256i amp0, __m256i amp1) {
    const __m256i mirror =
        _mm256_and_si256(_mm256_srai_epi32(_mm256_slli_epi32(phase, 17), 31), _mm256_set1_epi32(0x3FFF));
    const __m256i x = _mm256_xor_si256(_mm256_and_si256(phase, _mm256_set1_epi32(0x3FFF)), mirror);
    __m256i p = _mm256_set1_epi32(sineCoefficients[0]);
    for (std::size_t k = 1; k < sineCoefficients.size(); ++k) p = polyStep8(x, p, _mm256_set1_epi32(sineCoefficients[k]));
    const __m256i s = polyStep8(x, p, _mm256_setzero_si256());
    const __m256i neg = _mm256_srai_epi32(_mm256_slli_epi32(phase, 16), 31);
    const __m256i r = _mm256_sub_epi32(_mm256_xor_si256(_mm256_slli_epi32(s, 3), neg), neg);
    __m256i v = _mm256_add_epi32(_mm256_srai_epi32(_mm256_madd_epi16(r, amp0), 15), _mm256_and_si256(r, amp1));
    return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
}

}  // namespace

__attribute__((target("avx2"))) void toneGenAvx2(std::int16_t* out, std::uint16_t phase, std::uint16_t inc,
                                                 std::uint16_t amp, int count) {
    const __m256i amp0 = _mm256_set1_epi32(amp & 0x7FFF);
    const __m256i amp1 = _mm256_set1_epi32((amp & 0x8000) ? -1 : 0);
    const __m256i mask16 = _mm256_set1_epi32(0xFFFF);
    __m256i ph = _mm256_add_epi32(_mm256_set1_epi32(phase), _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                                                                _mm256_set1_epi32(inc)));
    const __m256i step = _mm256_set1_epi32(8 * inc);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i v = sineTimesAmp8(_mm256_and_si256(ph, mask16), amp0, amp1);
        ph = _mm256_add_epi32(ph, step);
        const __m256i o = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i)));
        const __m256i sum = _mm256_packs_epi32(_mm256_add_epi32(o, v), _mm256_setzero_si256());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm256_castsi256_si128(_mm256_permute4x64_epi64(sum, 0x08)));
    }
    if (i < count) {
        alignas(16) std::int16_t buf[8] = {};
        const int n = count - i;
        for (int j = 0; j < n; ++j) buf[j] = out[i + j];
        const __m256i v = sineTimesAmp8(_mm256_and_si256(ph, mask16), amp0, amp1);
        const __m256i o = _mm256_cvtepi16_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(buf)));
        const __m256i sum = _mm256_packs_epi32(_mm256_add_epi32(o, v), _mm256_setzero_si256());
        _mm_store_si128(reinterpret_cast<__m128i*>(buf), _mm256_castsi256_si128(_mm256_permute4x64_epi64(sum, 0x08)));
        for (int j = 0; j < n; ++j) out[i + j] = buf[j];
    }
}

__attribute__((target("avx2"))) void tonePhasesAvx2(std::int16_t* out, const std::uint16_t* phases,
                                                    std::uint16_t amp, int count) {
    const __m256i amp0 = _mm256_set1_epi32(amp & 0x7FFF);
    const __m256i amp1 = _mm256_set1_epi32((amp & 0x8000) ? -1 : 0);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i ph = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(phases + i)));
        const __m256i v = sineTimesAmp8(ph, amp0, amp1);
        const __m256i o = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i)));
        const __m256i sum = _mm256_packs_epi32(_mm256_add_epi32(o, v), _mm256_setzero_si256());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(_mm256_permute4x64_epi64(sum, 0x08)));
    }
    if (i < count) tonePhasesSse2(out + i, phases + i, amp, count - i);
}

#endif

TonePhasesKernel tonePhasesKernel() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const TonePhasesKernel kernel = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? tonePhasesAvx2 : tonePhasesSse2;
    }();
    return kernel;
#else
    return tonePhasesPortable;
#endif
}

ToneGenKernel toneGenKernel() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const ToneGenKernel kernel = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? toneGenAvx2 : toneGenSse2;
    }();
    return kernel;
#else
    return toneGenPortable;
#endif
}

// The oscillator's inner loop: portable reference and the SSE2 and AVX2 forms of the same
// arithmetic. The polynomial's intermediate values all fit 16 bits (|p| < 22000, x < 2^14), so
// each product x * p is one multiply-add of a 16-bit pair whose other half is zero.
#include "tone_kernels.h"

#include "tone.h"

#if defined(ORVOX_X86_SIMD)
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

#if defined(ORVOX_X86_SIMD)

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

// The AVX2 forms work on sixteen 16-bit lanes: each polynomial step c + ((2 x p + 32768) >> 16) is
// exactly the rounding high product of x and p (pmulhrsw) plus c, every value fitting 16 bits;
// the amplitude's product comes from its high and low halves, its bits 15..30 kept as a 16-bit
// value, and the addition into the output saturates.
namespace {

struct Lanes8x16 {
    using V = __m128i;
    __attribute__((target("avx2"))) static __m128i set1(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
    __attribute__((target("avx2"))) static __m128i mulhrs(__m128i a, __m128i b) { return _mm_mulhrs_epi16(a, b); }
    __attribute__((target("avx2"))) static __m128i mulhi(__m128i a, __m128i b) { return _mm_mulhi_epi16(a, b); }
    __attribute__((target("avx2"))) static __m128i mullo(__m128i a, __m128i b) { return _mm_mullo_epi16(a, b); }
    __attribute__((target("avx2"))) static __m128i add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
    __attribute__((target("avx2"))) static __m128i sub(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
    __attribute__((target("avx2"))) static __m128i adds(__m128i a, __m128i b) { return _mm_adds_epi16(a, b); }
    __attribute__((target("avx2"))) static __m128i band(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
    __attribute__((target("avx2"))) static __m128i bor(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
    __attribute__((target("avx2"))) static __m128i bxor(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }
    __attribute__((target("avx2"))) static __m128i slli(__m128i a, int n) { return _mm_slli_epi16(a, n); }
    __attribute__((target("avx2"))) static __m128i srli(__m128i a, int n) { return _mm_srli_epi16(a, n); }
    __attribute__((target("avx2"))) static __m128i srai(__m128i a, int n) { return _mm_srai_epi16(a, n); }
};

struct Lanes16x16 {
    using V = __m256i;
    __attribute__((target("avx2"))) static __m256i set1(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
    __attribute__((target("avx2"))) static __m256i mulhrs(__m256i a, __m256i b) { return _mm256_mulhrs_epi16(a, b); }
    __attribute__((target("avx2"))) static __m256i mulhi(__m256i a, __m256i b) { return _mm256_mulhi_epi16(a, b); }
    __attribute__((target("avx2"))) static __m256i mullo(__m256i a, __m256i b) { return _mm256_mullo_epi16(a, b); }
    __attribute__((target("avx2"))) static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
    __attribute__((target("avx2"))) static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
    __attribute__((target("avx2"))) static __m256i adds(__m256i a, __m256i b) { return _mm256_adds_epi16(a, b); }
    __attribute__((target("avx2"))) static __m256i band(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
    __attribute__((target("avx2"))) static __m256i bor(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
    __attribute__((target("avx2"))) static __m256i bxor(__m256i a, __m256i b) { return _mm256_xor_si256(a, b); }
    __attribute__((target("avx2"))) static __m256i slli(__m256i a, int n) { return _mm256_slli_epi16(a, n); }
    __attribute__((target("avx2"))) static __m256i srli(__m256i a, int n) { return _mm256_srli_epi16(a, n); }
    __attribute__((target("avx2"))) static __m256i srai(__m256i a, int n) { return _mm256_srai_epi16(a, n); }
};

// out + (sine(phase) * amp) >> 15 per 16-bit lane, saturated; amp1 is all ones when amp > 32767.
template <typename L, typename V = typename L::V>
__attribute__((target("avx2"))) inline V sineAdd16(V out, V phase, V amp, V amp1) {
    const V mirror = L::band(L::srai(L::slli(phase, 1), 15), L::set1(0x3FFF));
    const V x = L::bxor(L::band(phase, L::set1(0x3FFF)), mirror);
    V p = L::set1(sineCoefficients[0]);
    for (std::size_t k = 1; k < sineCoefficients.size(); ++k) p = L::add(L::set1(sineCoefficients[k]), L::mulhrs(x, p));
    const V neg = L::srai(phase, 15);
    const V r = L::sub(L::bxor(L::slli(L::mulhrs(x, p), 3), neg), neg);
    // The product's high half (an amplitude read as negative is corrected by r) and its bit 15.
    const V hi = L::add(L::mulhi(r, amp), L::band(r, amp1));
    const V v = L::bor(L::slli(hi, 1), L::srli(L::mullo(r, amp), 15));
    return L::adds(out, v);
}

}  // namespace

__attribute__((target("avx2"))) void toneGenAvx2(std::int16_t* out, std::uint16_t phase, std::uint16_t inc,
                                                 std::uint16_t amp, int count) {
    const __m256i amp16 = _mm256_set1_epi16(static_cast<short>(amp));
    const __m256i amp1 = _mm256_set1_epi16((amp & 0x8000) ? -1 : 0);
    const __m256i iota = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m256i ph = _mm256_add_epi16(_mm256_set1_epi16(static_cast<short>(phase)),
                                  _mm256_mullo_epi16(iota, _mm256_set1_epi16(static_cast<short>(inc))));
    const __m256i step = _mm256_set1_epi16(static_cast<short>(16 * inc));
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        __m256i* o = reinterpret_cast<__m256i*>(out + i);
        _mm256_storeu_si256(o, sineAdd16<Lanes16x16>(_mm256_loadu_si256(o), ph, amp16, amp1));
        ph = _mm256_add_epi16(ph, step);
    }
    if (i < count) {  // up to fifteen more through a buffer
        alignas(32) std::int16_t buf[16] = {};
        const int n = count - i;
        for (int j = 0; j < n; ++j) buf[j] = out[i + j];
        __m256i* b = reinterpret_cast<__m256i*>(buf);
        _mm256_store_si256(b, sineAdd16<Lanes16x16>(_mm256_load_si256(b), ph, amp16, amp1));
        for (int j = 0; j < n; ++j) out[i + j] = buf[j];
    }
}

__attribute__((target("avx2"))) void tonePhasesAvx2(std::int16_t* out, const std::uint16_t* phases,
                                                    std::uint16_t amp, int count) {
    const __m256i amp16 = _mm256_set1_epi16(static_cast<short>(amp));
    const __m256i amp1 = _mm256_set1_epi16((amp & 0x8000) ? -1 : 0);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        __m256i* o = reinterpret_cast<__m256i*>(out + i);
        const __m256i ph = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(phases + i));
        _mm256_storeu_si256(o, sineAdd16<Lanes16x16>(_mm256_loadu_si256(o), ph, amp16, amp1));
    }
    for (; i < count; i += 8) {  // eight at a time, the last ones through a buffer
        alignas(16) std::int16_t buf[8] = {};
        alignas(16) std::uint16_t ph[8] = {};
        const int n = count - i < 8 ? count - i : 8;
        for (int j = 0; j < n; ++j) {
            buf[j] = out[i + j];
            ph[j] = phases[i + j];
        }
        const __m128i v = sineAdd16<Lanes8x16>(_mm_load_si128(reinterpret_cast<const __m128i*>(buf)),
                                    _mm_load_si128(reinterpret_cast<const __m128i*>(ph)),
                                    _mm256_castsi256_si128(amp16), _mm256_castsi256_si128(amp1));
        _mm_store_si128(reinterpret_cast<__m128i*>(buf), v);
        for (int j = 0; j < n; ++j) out[i + j] = buf[j];
    }
}

#endif

TonePhasesKernel tonePhasesKernel() {
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
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
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
    static const ToneGenKernel kernel = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? toneGenAvx2 : toneGenSse2;
    }();
    return kernel;
#else
    return toneGenPortable;
#endif
}

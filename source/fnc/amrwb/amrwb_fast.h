// Exact fast forms for the AMR-WB encoder's hot loops (internal header).
//
// The saturating operators branch and widen to 64 bits, which keeps the
// compiler from vectorising the loops that use them.  Where bounds on the
// actual inputs show that no step of a saturating sum can clip, the plain
// 32-bit sum is the same number; the kernels test those bounds once per call
// and fall back to their saturating model otherwise.
#pragma once

#include <cstdint>

#include "amrwb_basic_op.h"
#include "wide128.h"

// Plain integer loops are compiled for AVX2 and for the baseline, and the
// loader picks the one the processor runs; both are the same integer
// arithmetic.  Sanitizer builds keep one form.
#if defined(__GNUC__) && defined(ORVOX_X86_SIMD) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
#define AMRWB_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define AMRWB_VECTOR_CLONES
#endif

namespace amr_wb_fast {

// Σ x² over n samples, exact.
inline std::int64_t energy64(const Word16* x, int n) {
    std::int64_t e = 0;
    for (int i = 0; i < n; ++i) e += std::int32_t{x[i]} * x[i];
    return e;
}

// True when no sum of doubled products x[i]·y[j] over pairs drawn from the two
// sets (each index used once) can reach beyond `limit`, given ex = Σ x² and
// ey = Σ y² over the sets: by Cauchy–Schwarz such a sum is at most 2·√(ex·ey).
inline bool products_within(std::int64_t ex, std::int64_t ey, std::int64_t limit) {
    const orvox::UInt128 lim = static_cast<orvox::UInt128>(limit) * static_cast<std::uint64_t>(limit);
    return static_cast<orvox::UInt128>(4) * static_cast<std::uint64_t>(ex) * static_cast<std::uint64_t>(ey) <= lim;
}

// A 32-bit value clipped to 16 bits, in a form that vectorises (sat16 widens to 64 bits).
inline std::int32_t clip16(std::int32_t v) {
    return v > amr_wb_op::MAX_16 ? amr_wb_op::MAX_16 : (v < amr_wb_op::MIN_16 ? amr_wb_op::MIN_16 : v);
}

// mult(p, p) for p = add(a, b): the square of the clipped sum in Q15, 32767 for -32768.
inline Word16 square_of_sum(std::int32_t a, std::int32_t b) {
    const std::int32_t p = clip16(a + b);
    const std::int32_t q = (p * p) >> 15;
    return static_cast<Word16>(q > amr_wb_op::MAX_16 ? amr_wb_op::MAX_16 : q);
}

// Plain Σ x[i]·y[i] over n terms (the caller has bounded it to 31 bits).
inline std::int32_t dot32(const Word16* x, const Word16* y, int n) {
    std::int32_t s = 0;
    for (int i = 0; i < n; ++i) s += std::int32_t{x[i]} * y[i];
    return s;
}

}  // namespace amr_wb_fast

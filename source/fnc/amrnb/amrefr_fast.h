// Fast forms of the kernels' arithmetic (internal header).
//
// The saturating operators of amrefr_basic_op.h branch and widen to 64 bits,
// which keeps the compiler from vectorising the loops that use them.  The forms
// here give the same results with 32-bit operations and selects only, so a loop
// of them becomes vector code; and the bounds below tell when a chain of
// saturating multiply-accumulates cannot saturate at all, so that its plain
// sum is the same number.
#pragma once

#include <algorithm>

#include "amrefr_basic_op.h"
#include "wide128.h"

// Loops of these forms are compiled for AVX2 and for the baseline, and the
// loader picks the one the processor runs; both are the same integer
// arithmetic.  Sanitizer builds keep one form.
#if defined(__GNUC__) && defined(ORVOX_X86_SIMD) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
#define AMREFR_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define AMREFR_VECTOR_CLONES
#endif

namespace amrefr_fast {

// sat32(a + b) without a wider type: on overflow both operands have the sign
// the wrapped sum lacks, and the limit takes the operands' sign.
inline Word32 add32(Word32 a, Word32 b) {
    const Word32 r = static_cast<Word32>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
    const Word32 ovf = ((a ^ r) & (b ^ r)) >> 31;
    const Word32 lim = (a >> 31) ^ amrefr_op::MAX_32;
    return (r & ~ovf) | (lim & ovf);
}

// sat32(a - b).
inline Word32 sub32(Word32 a, Word32 b) {
    const Word32 r = static_cast<Word32>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
    const Word32 ovf = ((a ^ b) & (a ^ r)) >> 31;
    const Word32 lim = (a >> 31) ^ amrefr_op::MAX_32;
    return (r & ~ovf) | (lim & ovf);
}

// L_mult: 2·a·b, the one product 2^31 (−32768 · −32768) clipped to MAX_32.
inline Word32 mult32(Word16 a, Word16 b) {
    const Word32 p = std::int32_t{a} * b;
    return static_cast<Word32>(static_cast<std::uint32_t>(p) * 2u - static_cast<std::uint32_t>(p == 0x40000000));
}

inline Word32 mac32(Word32 acc, Word16 a, Word16 b) { return add32(acc, mult32(a, b)); }
inline Word32 msu32(Word32 acc, Word16 a, Word16 b) { return sub32(acc, mult32(a, b)); }

// mult(x, x): the square's upper half, 32767 for −32768.
inline Word16 square16(Word16 x) { return static_cast<Word16>(std::min((std::int32_t{x} * x) >> 15, 32767)); }

// Σ x² over n samples, exact.
inline std::int64_t energy64(const Word16* x, int n) {
    std::int64_t e = 0;
    for (int i = 0; i < n; ++i) e += std::int32_t{x[i]} * x[i];
    return e;
}

// True when no partial sum of doubled products x[i]·y[i] over any set of the
// indices can leave the 32-bit range, given ex = Σ x², ey = Σ y² over those
// indices: by Cauchy–Schwarz every such sum is at most 2·√(ex·ey) in size.
inline bool products_cannot_saturate(std::int64_t ex, std::int64_t ey) {
    const orvox::UInt128 lim = static_cast<orvox::UInt128>(amrefr_op::MAX_32) * amrefr_op::MAX_32;
    return static_cast<orvox::UInt128>(4) * static_cast<std::uint64_t>(ex) * static_cast<std::uint64_t>(ey) <= lim;
}

// The four interleaved sub-searches of the pair choice (flat index k mod 4 in
// sub-search k mod 4), each keeping its first best by sq² / alp: the best
// squares, energies and indices.  Squares are never negative, so each
// comparison's two products fit 31 bits and their difference has the sign of
// the saturated one.  The SSE4.1 form runs only where has_sse41().
struct LaneBests {
    std::int32_t sq[4], alp[4], k[4];
};
void lane_bests_portable(int count, const Word16* sq2, const Word16* alp16, LaneBests* out);
void lane_bests_sse41(int count, const Word16* sq2, const Word16* alp16, LaneBests* out);

// Usable from static initialisers (the processor model is read first).
inline bool has_sse41() {
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.1");
#else
    return false;
#endif
}
inline bool has_avx2() {
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// The 8 × 8 pair terms of the 12.2 kbit/s search (squares of the wrapped pulse
// sums, upper halves of the saturated energies alp1[a] + rr_row[200a + b]·c5 +
// rrv[b]·c4) through the four sub-searches.  The AVX2 form runs only where
// has_avx2().
void pair_search_122_portable(const Word16* dn_a, const Word16* dn_b, Word16 ps0, const Word16* rr_row,
                              const Word16* rrv, const Word32* alp1, Word16 c5, Word16 c4, LaneBests* out);
void pair_search_122_avx2(const Word16* dn_a, const Word16* dn_b, Word16 ps0, const Word16* rr_row,
                          const Word16* rrv, const Word32* alp1, Word16 c5, Word16 c4, LaneBests* out);

// The 10 × 10 pair terms of the 10.2 kbit/s search (as amrefr_CBS2_GenPSQ2 and
// amrefr_CBS2_GenALP16 with the rounded sums rrv and the coefficients c5, c4;
// rr_row rows 160 words apart).  The AVX2 forms run only where has_avx2().
void pair_squares_102_portable(Word16* out, const Word16* dn_a, const Word16* dn_b, Word16 ps0);
void pair_squares_102_avx2(Word16* out, const Word16* dn_a, const Word16* dn_b, Word16 ps0);
void pair_energies_102_portable(Word16* out, const Word16* rr_row, const Word16* rrv, Word16 c5, Word16 c4,
                                const Word32* vals);
void pair_energies_102_avx2(Word16* out, const Word16* rr_row, const Word16* rrv, Word16 c5, Word16 c4,
                            const Word32* vals);

// The three- and four-pulse depth-first search (as amrefr_Search7K4, which
// runs the AVX2 form where has_avx2()).
void search_7k4_portable(const Word16* dn_split, const Word16* dn2, Word16* const* row_start,
                         const Word16* rr_diag_split, const Word16* ipos, Word16* codvec, Word16* psk, Word16* alpk,
                         int nb_pulse, const Word16* control, Word16* reuse);
void search_7k4_avx2(const Word16* dn_split, const Word16* dn2, Word16* const* row_start,
                     const Word16* rr_diag_split, const Word16* ipos, Word16* codvec, Word16* psk, Word16* alpk,
                     int nb_pulse, const Word16* control, Word16* reuse);

}  // namespace amrefr_fast

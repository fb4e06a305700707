// Ten- and eight-pulse codebook search (12.2 / EFR and 10.2 kbit/s) on the
// track-split copy of the correlation matrix: rearrangement, partial energies
// of one pulse-pair level and the choice of the best pair.
#include <cstring>

#if defined(ORVOX_X86_SIMD)
#include <immintrin.h>
#endif

#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_fast_avx2.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

void amrefr_LoadRRSplit(const Word16* rr, Word16* rr_split, const Word16* table) {
    // The table holds byte offsets; halving the unsigned word gives the index.
    for (int k = 0; k < 1600; ++k) rr_split[k] = rr[static_cast<std::uint16_t>(table[k]) >> 1];
}

void amrefr_SplitInto5Tracks(const Word16* dn, Word16* dn_split, const Word16* rr_diag, Word16* rr_diag_split) {
    for (int t = 0; t < 5; ++t)
        for (int j = 0; j < 8; ++j) {
            dn_split[8 * t + j] = dn[t + 5 * j];
            rr_diag_split[8 * t + j] = rr_diag[t + 5 * j];
        }
}

void amrefr_SplitInto4Tracks(const Word16* dn, Word16* dn_split, const Word16* rr_diag, Word16* rr_diag_split) {
    for (int t = 0; t < 4; ++t)
        for (int j = 0; j < 10; ++j) {
            dn_split[10 * t + j] = dn[t + 4 * j];
            rr_diag_split[10 * t + j] = rr_diag[t + 4 * j];
        }
}

void amrefr_GenRowStart(Word16* rr_split, Word16** row_start) {
    for (int p = 0; p < 40; ++p) row_start[p] = rr_split + amrefr_GenRowStart_index[p & 3] / 2 + 160 * (p >> 2);
}

void amrefr_fast::lane_bests_portable(int count, const Word16* sq2, const Word16* alp16, LaneBests* out) {
    LaneBests b;
    for (int m = 0; m < 4; ++m) {
        b.sq[m] = sq2[m];
        b.alp[m] = alp16[m];
        b.k[m] = m;
    }
    for (int k = 4; k < count; k += 4)
        for (int m = 0; m < 4; ++m) {
            const std::int32_t s2 = sq2[k + m], a2 = alp16[k + m];
            const bool better = a2 * b.sq[m] < s2 * b.alp[m];
            b.sq[m] = better ? s2 : b.sq[m];
            b.alp[m] = better ? a2 : b.alp[m];
            b.k[m] = better ? k + m : b.k[m];
        }
    *out = b;
}

#if defined(ORVOX_X86_SIMD)
namespace {

__attribute__((target("sse4.1"))) inline __m128i load4(const Word16* p) {
    return _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

}  // namespace

// The same four sub-searches in the four lanes of one register.
__attribute__((target("sse4.1"))) void amrefr_fast::lane_bests_sse41(int count, const Word16* sq2,
                                                                     const Word16* alp16, LaneBests* out) {
    __m128i bs = load4(sq2), ba = load4(alp16);
    __m128i kk = _mm_setr_epi32(0, 1, 2, 3), bk = kk;
    const __m128i four = _mm_set1_epi32(4);
    for (int k = 4; k < count; k += 4) {
        kk = _mm_add_epi32(kk, four);
        const __m128i s2 = load4(sq2 + k), a2 = load4(alp16 + k);
        const __m128i better = _mm_cmpgt_epi32(_mm_mullo_epi32(s2, ba), _mm_mullo_epi32(a2, bs));
        bs = _mm_blendv_epi8(bs, s2, better);
        ba = _mm_blendv_epi8(ba, a2, better);
        bk = _mm_blendv_epi8(bk, kk, better);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->sq), bs);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->alp), ba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->k), bk);
}
#else
void amrefr_fast::lane_bests_sse41(int count, const Word16* sq2, const Word16* alp16, LaneBests* out) {
    lane_bests_portable(count, sq2, alp16, out);
}
#endif

#if defined(ORVOX_X86_SIMD)
namespace {

__attribute__((target("avx2"))) inline void lane_step(__m128i s2, __m128i a2, __m128i kk, __m128i& bs, __m128i& ba,
                                                      __m128i& bk) {
    const __m128i better = _mm_cmpgt_epi32(_mm_mullo_epi32(s2, ba), _mm_mullo_epi32(a2, bs));
    bs = _mm_blendv_epi8(bs, s2, better);
    ba = _mm_blendv_epi8(ba, a2, better);
    bk = _mm_blendv_epi8(bk, kk, better);
}

}  // namespace

// The 8 × 8 pair terms of the 12.2 kbit/s search, one row of eight per
// register, fed straight into the four sub-searches (the row's first half
// holds flat indices 8a … 8a + 3, its second half 8a + 4 … 8a + 7).
__attribute__((target("avx2"))) void amrefr_fast::pair_search_122_avx2(const Word16* dn_a, const Word16* dn_b,
                                                                       Word16 ps0, const Word16* rr_row,
                                                                       const Word16* rrv, const Word32* alp1,
                                                                       Word16 c5, Word16 c4, LaneBests* out) {
    const __m256i dnb = load8x32(dn_b);
    const __m256i m4 = mult32x8(load8x32(rrv), _mm256_set1_epi32(c4));
    const __m256i c5v = _mm256_set1_epi32(c5);
    __m128i bs = _mm_setzero_si128(), ba = bs, bk = bs;
    __m128i kk = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i four = _mm_set1_epi32(4);
    for (int a = 0; a < 8; ++a) {
        const __m256i sum = _mm256_add_epi32(_mm256_set1_epi32(std::int32_t{ps0} + dn_a[a]), dnb);
        const __m256i sq2 = square16x8(wrap16x8(sum));
        __m256i e = add32x8(_mm256_set1_epi32(alp1[a]), mult32x8(load8x32(rr_row + 200 * a), c5v));
        const __m256i alp16 = _mm256_srai_epi32(add32x8(e, m4), 16);
        const __m128i s_lo = _mm256_castsi256_si128(sq2), s_hi = _mm256_extracti128_si256(sq2, 1);
        const __m128i a_lo = _mm256_castsi256_si128(alp16), a_hi = _mm256_extracti128_si256(alp16, 1);
        if (a == 0) {
            bs = s_lo, ba = a_lo, bk = kk;
        } else {
            lane_step(s_lo, a_lo, kk, bs, ba, bk);
        }
        kk = _mm_add_epi32(kk, four);
        lane_step(s_hi, a_hi, kk, bs, ba, bk);
        kk = _mm_add_epi32(kk, four);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->sq), bs);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->alp), ba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->k), bk);
}
#else
void amrefr_fast::pair_search_122_avx2(const Word16* dn_a, const Word16* dn_b, Word16 ps0, const Word16* rr_row,
                                       const Word16* rrv, const Word32* alp1, Word16 c5, Word16 c4, LaneBests* out) {
    pair_search_122_portable(dn_a, dn_b, ps0, rr_row, rrv, alp1, c5, c4, out);
}
#endif

namespace {

using namespace amrefr_fast;

// Small fixed-size loops: the baseline's vector instructions suffice.
template <int n>
void loop2(Word32* __restrict out, const Word16* diag, const Word16* row_a, const Word16* row_b, Word16 c_diag,
           Word16 c_cross, Word32 init) {
    for (int k = 0; k < n; ++k)
        out[k] = mac32(mac32(mac32(init, diag[k], c_diag), row_a[k], c_cross), row_b[k], c_cross);
}

template <int n>
void loop1(Word32* __restrict alp1, Word32* __restrict s, const Word16* const* rows, Word16 c_alp, Word16 c_s) {
    const Word16 *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
    for (int k = 0; k < n; ++k) {
        alp1[k] = mac32(mac32(alp1[k], r0[k], c_alp), r1[k], c_alp);
        s[k] = mac32(mac32(s[k], r2[k], c_s), r3[k], c_s);
    }
}

using LaneBestsFn = void (*)(int, const Word16*, const Word16*, LaneBests*);

// The form for the processor the encoder runs on, chosen at the first call
// (also safe from another file's static initialisers).
void lane_bests(int count, const Word16* sq2, const Word16* alp16, LaneBests* out) {
    static const LaneBestsFn form = has_sse41() ? lane_bests_sse41 : lane_bests_portable;
    form(count, sq2, alp16, out);
}

// Merge of the four sub-searches, in sub-search order, into the incoming pair.
void merge_lanes(const LaneBests& b, Word32* alp0, Word16* sq, Word16* index) {
    Word16 cur_sq = *sq, cur_alp = static_cast<Word16>(*alp0 >> 16);
    int cur_k = 4;
    for (int m = 0; m < 4; ++m)
        if (L_msu(L_mult(static_cast<Word16>(b.alp[m]), cur_sq), static_cast<Word16>(b.sq[m]), cur_alp) < 0) {
            cur_sq = static_cast<Word16>(b.sq[m]);
            cur_alp = static_cast<Word16>(b.alp[m]);
            cur_k = b.k[m];
        }
    *sq = cur_sq;
    *alp0 = static_cast<Word32>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(cur_alp)) << 16);
    *index = static_cast<Word16>(cur_k);
}

void choose_pair(int count, const Word16* sq2, const Word16* alp16, Word32* alp0, Word16* sq, Word16* index) {
    LaneBests b;
    lane_bests(count, sq2, alp16, &b);
    merge_lanes(b, alp0, sq, index);
}

// Squared pulse-pair sums and pair energies of an na × nb block of candidates
// (row stride of rr_row: rr_stride).
template <int na, int nb, int rr_stride>
inline __attribute__((always_inline)) void pair_terms(const Word16* dn_a, const Word16* dn_b, Word16 ps0,
                                                      const Word16* rr_row, const Word32* alp1, const Word16* rrv,
                                                      Word16 c5, Word16 c4, Word16* __restrict sq2,
                                                      Word16* __restrict alp16) {
    for (int a = 0; a < na; ++a) {
        const std::int32_t base = std::int32_t{ps0} + dn_a[a];
        const Word32 alp = alp1[a];
        const Word16* rr = rr_row + rr_stride * a;
        for (int b = 0; b < nb; ++b) {
            sq2[nb * a + b] = square16(static_cast<Word16>(base + dn_b[b]));
            alp16[nb * a + b] = static_cast<Word16>(mac32(mac32(alp, rr[b], c5), rrv[b], c4) >> 16);
        }
    }
}

}  // namespace

void amrefr_Do2Pulses_Loop2_MR122(Word32* out, const Word16* diag, const Word16* row_a, const Word16* row_b,
                                  Word16 c_diag, Word16 c_cross, Word32 init) {
    loop2<8>(out, diag, row_a, row_b, c_diag, c_cross, init);
}

// Ten candidates; the two spare entries of the 12-entry buffer get the start
// value and never reach a result.
void amrefr_Do2Pulses_Loop2_MR102(Word32* out, const Word16* diag, const Word16* row_a, const Word16* row_b,
                                  Word16 c_diag, Word16 c_cross, Word32 init) {
    loop2<10>(out, diag, row_a, row_b, c_diag, c_cross, init);
    out[10] = out[11] = init;
}

void amrefr_Do2Pulses_Loop1_MR122(Word32* alp1, Word32* s, const Word16* const* rows, Word16 c_alp, Word16 c_s) {
    loop1<8>(alp1, s, rows, c_alp, c_s);
}

void amrefr_Do2Pulses_Loop1_MR102(Word32* alp1, Word32* s, const Word16* const* rows, Word16 c_alp, Word16 c_s) {
    loop1<10>(alp1, s, rows, c_alp, c_s);
}

void amrefr_fast::pair_search_122_portable(const Word16* dn_a, const Word16* dn_b, Word16 ps0, const Word16* rr_row,
                                           const Word16* rrv, const Word32* alp1, Word16 c5, Word16 c4,
                                           LaneBests* out) {
    Word16 sq2[64], alp16[64];
    pair_terms<8, 8, 200>(dn_a, dn_b, ps0, rr_row, alp1, rrv, c5, c4, sq2, alp16);
    lane_bests(64, sq2, alp16, out);
}

namespace {

using PairSearchFn = void (*)(const Word16*, const Word16*, Word16, const Word16*, const Word16*, const Word32*,
                              Word16, Word16, LaneBests*);

// Chosen at the first call, as lane_bests.
void pair_search_122(const Word16* dn_a, const Word16* dn_b, Word16 ps0, const Word16* rr_row, const Word16* rrv,
                     const Word32* alp1, Word16 c5, Word16 c4, LaneBests* out) {
    static const PairSearchFn form = has_avx2() ? pair_search_122_avx2 : pair_search_122_portable;
    form(dn_a, dn_b, ps0, rr_row, rrv, alp1, c5, c4, out);
}

}  // namespace

void amrefr_CBS2_PulsePosition_MR122(const Word16* dn_a, const Word16* dn_b, Word16 ps0, const Word16* rr_row,
                                     const Word32* s, const Word16* coeffs, const Word32* alp1, Word32* alp0,
                                     Word16* sq, Word16* index) {
    Word16 rrv[8];
    for (int b = 0; b < 8; ++b) rrv[b] = round16(s[b]);
    LaneBests b;
    pair_search_122(dn_a, dn_b, ps0, rr_row, rrv, alp1, coeffs[5], coeffs[4], &b);
    merge_lanes(b, alp0, sq, index);
}

// Entries 10a + b for b < 10 are the pairs; entries 100 and 101 are spare (0).
void amrefr_fast::pair_squares_102_portable(Word16* out, const Word16* dn_a, const Word16* dn_b, Word16 ps0) {
    for (int a = 0; a < 10; ++a) {
        const std::int32_t base = std::int32_t{ps0} + dn_a[a];
        for (int b = 0; b < 10; ++b) out[10 * a + b] = square16(static_cast<Word16>(base + dn_b[b]));
    }
    out[100] = out[101] = 0;
}

void amrefr_fast::pair_energies_102_portable(Word16* out, const Word16* rr_row, const Word16* rrv, Word16 c5,
                                             Word16 c4, const Word32* vals) {
    for (int a = 0; a < 10; ++a)
        for (int b = 0; b < 10; ++b)
            out[10 * a + b] = static_cast<Word16>(mac32(mac32(vals[a], rr_row[160 * a + b], c5), rrv[b], c4) >> 16);
    out[100] = out[101] = 0;
}

#if defined(ORVOX_X86_SIMD)
// Rows of ten: the first eight pairs of a row in one register, the last two
// in scalar code.
__attribute__((target("avx2"))) void amrefr_fast::pair_squares_102_avx2(Word16* out, const Word16* dn_a,
                                                                        const Word16* dn_b, Word16 ps0) {
    const __m256i dnb = load8x32(dn_b);
    for (int a = 0; a < 10; ++a) {
        const std::int32_t base = std::int32_t{ps0} + dn_a[a];
        const __m256i sq = square16x8(wrap16x8(_mm256_add_epi32(_mm256_set1_epi32(base), dnb)));
        const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(sq), _mm256_extracti128_si256(sq, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 10 * a), packed);
        for (int b = 8; b < 10; ++b) out[10 * a + b] = square16(static_cast<Word16>(base + dn_b[b]));
    }
    out[100] = out[101] = 0;
}

__attribute__((target("avx2"))) void amrefr_fast::pair_energies_102_avx2(Word16* out, const Word16* rr_row,
                                                                         const Word16* rrv, Word16 c5, Word16 c4,
                                                                         const Word32* vals) {
    const __m256i m4 = mult32x8(load8x32(rrv), _mm256_set1_epi32(c4));
    const __m256i c5v = _mm256_set1_epi32(c5);
    for (int a = 0; a < 10; ++a) {
        const Word16* rr = rr_row + 160 * a;
        const __m256i e = add32x8(_mm256_set1_epi32(vals[a]), mult32x8(load8x32(rr), c5v));
        const __m256i alp = _mm256_srai_epi32(add32x8(e, m4), 16);
        const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(alp), _mm256_extracti128_si256(alp, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 10 * a), packed);
        for (int b = 8; b < 10; ++b)
            out[10 * a + b] = static_cast<Word16>(mac32(mac32(vals[a], rr[b], c5), rrv[b], c4) >> 16);
    }
    out[100] = out[101] = 0;
}
#else
void amrefr_fast::pair_squares_102_avx2(Word16* out, const Word16* dn_a, const Word16* dn_b, Word16 ps0) {
    pair_squares_102_portable(out, dn_a, dn_b, ps0);
}
void amrefr_fast::pair_energies_102_avx2(Word16* out, const Word16* rr_row, const Word16* rrv, Word16 c5, Word16 c4,
                                         const Word32* vals) {
    pair_energies_102_portable(out, rr_row, rrv, c5, c4, vals);
}
#endif

// The forms for the processor the encoder runs on, chosen at the first call.
void amrefr_CBS2_GenPSQ2(Word16* out, const Word16* dn_a, const Word16* dn_b, Word16 ps0) {
    static const auto form = has_avx2() ? pair_squares_102_avx2 : pair_squares_102_portable;
    form(out, dn_a, dn_b, ps0);
}

void amrefr_CBS2_GenALP_Vals(const Word32* in, Word32* out) {
    for (int k = 0; k < 12; ++k) {
        Word16 hi = static_cast<Word16>(in[k] >> 16);
        Word32 lo = in[k] & 0xFFFF;
        out[k] = L_sub(lo, L_mult(hi, -32768));
    }
}

void amrefr_CBS2_GenALP16(Word16* out, const Word16* rr_row, const Word32* s, const Word16* coeffs,
                          const Word32* vals) {
    Word16 rrv[10];
    for (int b = 0; b < 10; ++b) rrv[b] = round16(s[b]);
    static const auto form = has_avx2() ? pair_energies_102_avx2 : pair_energies_102_portable;
    form(out, rr_row, rrv, coeffs[5], coeffs[4], vals);
}

void amrefr_CBS2_PulsePosition(const Word16* psq2, const Word16* alp16, Word32* alp0, Word16* sq, Word16* index) {
    choose_pair(100, psq2, alp16, alp0, sq, index);
}

void amrefr_CBS2_GenRRV8(Word32* buf) {
    Word16 r[8];
    for (int k = 0; k < 8; ++k) r[k] = round16(buf[k]);
    std::memcpy(buf, r, sizeof(r));
}

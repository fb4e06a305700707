// Algebraic codebook search of the modes 4.75 to 7.95 kbit/s (pair tables and
// the depth-first three- and four-pulse search), the filtering of a chosen
// code vector, and the index packing of the 10.2 kbit/s codebook.
#include <algorithm>

#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_fast_avx2.h"
#include "amrefr_kernels.h"

using namespace amrefr_op;

void amrefr_search_i0i1_GenPS1(const Word16* dnA, const Word16* dnB, Word16* out) {
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) {
            Word16 ps = add(dnA[a], dnB[b]);
            out[8 * a + b] = mult(ps, ps);
        }
}

void amrefr_search_i0i1_GenAlp16(const Word16* diagA, const Word16* rowA, const Word16* diagB, Word16* out) {
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) {
            Word32 s = L_add(32768, L_mult(diagA[a], 8192));
            s = L_add(s, L_mult(diagB[b], 8192));
            s = L_add(s, L_mult(rowA[200 * a + b], 16384));
            out[8 * a + b] = extract_h(s);
        }
}

namespace {

using namespace amrefr_fast;

struct Cand {
    Word16 sq, alp, ps;
    int j;
};

// The lane survivors compared in lane order; a later lane must be strictly
// better.  Selects, not branches: the outcome is data, and mispredicted jumps
// cost more than the comparisons.
inline __attribute__((always_inline)) Cand merge_lanes(const std::int32_t* lps, const std::int32_t* lsq,
                                                       const std::int32_t* lalp, const std::int32_t* lj) {
    std::int32_t ps = lps[0], sq = lsq[0], alp = lalp[0], j = lj[0];
    for (int l = 1; l < 4; ++l) {
        const bool better = alp * lsq[l] - sq * lalp[l] > 0;
        ps = better ? lps[l] : ps;
        sq = better ? lsq[l] : sq;
        alp = better ? lalp[l] : alp;
        j = better ? lj[l] : j;
    }
    return Cand{static_cast<Word16>(sq), static_cast<Word16>(alp), static_cast<Word16>(ps), j};
}

// A pulse's eight candidates: ps1 wraps in 16 bits, alp is the upper half of
// the saturated energy sum.  Selection inside the track: candidate l + 4 may
// replace candidate l (lanes), then the lane survivors are compared in lane
// order; ties keep the lower lane.  Squares are never negative, so each
// comparison's products fit 31 bits and their difference has the sign of the
// saturated one.
inline __attribute__((always_inline)) Cand next_pulse(Word16 ps0, const Word16* dn_track, const Word32* energy) {
    std::int32_t ps[8], sq[8], alp[8];
    for (int j = 0; j < 8; ++j) {
        ps[j] = static_cast<Word16>(std::int32_t{ps0} + dn_track[j]);
        sq[j] = square16(static_cast<Word16>(ps[j]));
        alp[j] = energy[j] >> 16;
    }
    std::int32_t lps[4], lsq[4], lalp[4], lj[4];
    for (int l = 0; l < 4; ++l) {
        const bool hi = alp[l] * sq[l + 4] - sq[l] * alp[l + 4] > 0;
        lps[l] = hi ? ps[l + 4] : ps[l];
        lsq[l] = hi ? sq[l + 4] : sq[l];
        lalp[l] = hi ? alp[l + 4] : alp[l];
        lj[l] = hi ? l + 4 : l;
    }
    return merge_lanes(lps, lsq, lalp, lj);
}

// The candidates of the second, third and fourth pulse: energy sums of the
// diagonal and the rows of the pulses placed so far (d, r0 … r2: eight words
// each), then the selection.
struct PortablePulses {
    // 2^15 <= A < 2^30 + 2^15 and |2·d·8192| < 2^29: the first sum cannot
    // saturate, the second can.
    static Cand second(Word32 A, Word16 ps0, const Word16* dn, const Word16* d, const Word16* r0) {
        Word32 energy[8];
        for (int j = 0; j < 8; ++j) energy[j] = add32(A + 16384 * std::int32_t{d[j]}, 32768 * std::int32_t{r0[j]});
        return next_pulse(ps0, dn, energy);
    }
    // 2^15 <= A < 2^30 + 2^15 and the three products together stay below
    // 2^27 + 2^29 in size: none of the sums can saturate.
    static Cand third(Word32 A, Word16 ps0, const Word16* dn, const Word16* d, const Word16* r0, const Word16* r1) {
        Word32 energy[8];
        for (int j = 0; j < 8; ++j) energy[j] = A + 4096 * std::int32_t{d[j]} + 8192 * (std::int32_t{r0[j]} + r1[j]);
        return next_pulse(ps0, dn, energy);
    }
    static Cand fourth(Word32 A, Word16 ps0, const Word16* dn, const Word16* d, const Word16* r2, const Word16* r1,
                       const Word16* r0) {
        Word32 energy[8];
        for (int j = 0; j < 8; ++j)
            energy[j] = add32(add32(add32(add32(A, mult32(d[j], 2048)), mult32(r2[j], 4096)), mult32(r1[j], 4096)),
                              mult32(r0[j], 4096));
        return next_pulse(ps0, dn, energy);
    }
};

#if defined(ORVOX_X86_SIMD)
// The same in eight AVX2 lanes (2048·2·x = x << 12, 4096·2·x = x << 13, …:
// none of these doubled products is the clipped one).
struct Avx2Pulses {
    __attribute__((target("avx2"))) static Cand select(Word16 ps0, const Word16* dn, __m256i energy) {
        const __m256i ps = wrap16x8(_mm256_add_epi32(_mm256_set1_epi32(ps0), load8x32(dn)));
        const __m256i sq = square16x8(ps), alp = _mm256_srai_epi32(energy, 16);
        const __m128i ps_lo = _mm256_castsi256_si128(ps), ps_hi = _mm256_extracti128_si256(ps, 1);
        const __m128i sq_lo = _mm256_castsi256_si128(sq), sq_hi = _mm256_extracti128_si256(sq, 1);
        const __m128i alp_lo = _mm256_castsi256_si128(alp), alp_hi = _mm256_extracti128_si256(alp, 1);
        const __m128i hi = _mm_cmpgt_epi32(_mm_mullo_epi32(alp_lo, sq_hi), _mm_mullo_epi32(sq_lo, alp_hi));
        alignas(16) std::int32_t lps[4], lsq[4], lalp[4], lj[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lps), _mm_blendv_epi8(ps_lo, ps_hi, hi));
        _mm_store_si128(reinterpret_cast<__m128i*>(lsq), _mm_blendv_epi8(sq_lo, sq_hi, hi));
        _mm_store_si128(reinterpret_cast<__m128i*>(lalp), _mm_blendv_epi8(alp_lo, alp_hi, hi));
        _mm_store_si128(reinterpret_cast<__m128i*>(lj),
                        _mm_blendv_epi8(_mm_setr_epi32(0, 1, 2, 3), _mm_setr_epi32(4, 5, 6, 7), hi));
        return merge_lanes(lps, lsq, lalp, lj);
    }
    __attribute__((target("avx2"))) static Cand second(Word32 A, Word16 ps0, const Word16* dn, const Word16* d,
                                                       const Word16* r0) {
        const __m256i e = _mm256_add_epi32(_mm256_set1_epi32(A), _mm256_slli_epi32(load8x32(d), 14));
        return select(ps0, dn, add32x8(e, _mm256_slli_epi32(load8x32(r0), 15)));
    }
    __attribute__((target("avx2"))) static Cand third(Word32 A, Word16 ps0, const Word16* dn, const Word16* d,
                                                      const Word16* r0, const Word16* r1) {
        const __m256i rows = _mm256_slli_epi32(_mm256_add_epi32(load8x32(r0), load8x32(r1)), 13);
        const __m256i e = _mm256_add_epi32(_mm256_set1_epi32(A), _mm256_slli_epi32(load8x32(d), 12));
        return select(ps0, dn, _mm256_add_epi32(e, rows));
    }
    __attribute__((target("avx2"))) static Cand fourth(Word32 A, Word16 ps0, const Word16* dn, const Word16* d,
                                                       const Word16* r2, const Word16* r1, const Word16* r0) {
        __m256i e = add32x8(_mm256_set1_epi32(A), _mm256_slli_epi32(load8x32(d), 12));
        e = add32x8(e, _mm256_slli_epi32(load8x32(r2), 13));
        e = add32x8(e, _mm256_slli_epi32(load8x32(r1), 13));
        return select(ps0, dn, add32x8(e, _mm256_slli_epi32(load8x32(r0), 13)));
    }
};
#endif

// The depth-first search; Pulses supplies the candidate selection.
template <class Pulses>
inline __attribute__((always_inline)) void search_7k4(const Word16* dn_split, const Word16* dn2,
                                                      Word16* const* row_start, const Word16* rr_diag_split,
                                                      const Word16* ipos, Word16* codvec, Word16* psk, Word16* alpk,
                                                      int nb_pulse, const Word16* control, Word16* reuse) {
    Word16* cursor = reuse;
    for (int q = 0; q < nb_pulse; ++q) {
        int off[4];
        for (int p = 0; p < nb_pulse; ++p) off[p] = ipos[-q + p];
        int trk[4];
        for (int p = 0; p < nb_pulse; ++p) trk[p] = off[p] / 8;
        Word16 ctl = control[q];

        for (int k = 0; k < 8; ++k) {
            int i0 = trk[0] + 5 * k;
            if (dn2[i0] < 0) continue;
            const Word16* row0 = row_start[i0];

            // Second pulse.
            Word16 k1x5, alp, ps;
            if (ctl == 0) {
                k1x5 = cursor[0];
                alp = cursor[1];
                ps = cursor[2];
                cursor += 3;
            } else {
                const Word32 A =
                    static_cast<Word32>(static_cast<std::uint16_t>(rr_diag_split[off[0] + k]) * 16384u + 32768u);
                Cand c = Pulses::second(A, dn_split[off[0] + k], dn_split + off[1], rr_diag_split + off[1],
                                        row0 + off[1]);
                k1x5 = static_cast<Word16>(5 * c.j);
                alp = c.alp;
                ps = c.ps;
                if (ctl == 1) {
                    cursor[0] = k1x5;
                    cursor[1] = alp;
                    cursor[2] = ps;
                    cursor += 3;
                }
            }
            int i1 = k1x5 + trk[1];
            const Word16* row1 = row_start[i1];

            // Third pulse.
            const Word32 A = static_cast<Word32>(static_cast<std::uint16_t>(alp) * 16384u + 32768u);
            Cand c = Pulses::third(A, ps, dn_split + off[2], rr_diag_split + off[2], row0 + off[2], row1 + off[2]);
            int i2 = 5 * c.j + trk[2];
            int i3 = 0;

            // Fourth pulse.
            if (nb_pulse == 4) {
                const Word16* row2 = row_start[i2];
                const Word32 A4 = L_add(L_deposit_h(c.alp), 32768);
                c = Pulses::fourth(A4, c.ps, dn_split + off[3], rr_diag_split + off[3], row2 + off[3],
                                   row1 + off[3], row0 + off[3]);
                i3 = 5 * c.j + trk[3];
            }

            Word16 sq = mult(c.ps, c.ps);
            if (L_msu(L_mult(*alpk, sq), *psk, c.alp) > 0) {
                *psk = sq;
                *alpk = c.alp;
                codvec[0] = static_cast<Word16>(i0);
                codvec[1] = static_cast<Word16>(i1);
                codvec[2] = static_cast<Word16>(i2);
                if (nb_pulse == 4) codvec[3] = static_cast<Word16>(i3);
            }
        }
    }
}

}  // namespace

AMREFR_VECTOR_CLONES
void amrefr_fast::search_7k4_portable(const Word16* dn_split, const Word16* dn2, Word16* const* row_start,
                                      const Word16* rr_diag_split, const Word16* ipos, Word16* codvec, Word16* psk,
                                      Word16* alpk, int nb_pulse, const Word16* control, Word16* reuse) {
    search_7k4<PortablePulses>(dn_split, dn2, row_start, rr_diag_split, ipos, codvec, psk, alpk, nb_pulse, control,
                               reuse);
}

#if defined(ORVOX_X86_SIMD)
__attribute__((target("avx2"))) void amrefr_fast::search_7k4_avx2(const Word16* dn_split, const Word16* dn2,
                                                                  Word16* const* row_start,
                                                                  const Word16* rr_diag_split, const Word16* ipos,
                                                                  Word16* codvec, Word16* psk, Word16* alpk,
                                                                  int nb_pulse, const Word16* control,
                                                                  Word16* reuse) {
    search_7k4<Avx2Pulses>(dn_split, dn2, row_start, rr_diag_split, ipos, codvec, psk, alpk, nb_pulse, control,
                           reuse);
}
#else
void amrefr_fast::search_7k4_avx2(const Word16* dn_split, const Word16* dn2, Word16* const* row_start,
                                  const Word16* rr_diag_split, const Word16* ipos, Word16* codvec, Word16* psk,
                                  Word16* alpk, int nb_pulse, const Word16* control, Word16* reuse) {
    search_7k4_portable(dn_split, dn2, row_start, rr_diag_split, ipos, codvec, psk, alpk, nb_pulse, control, reuse);
}
#endif

// The form for the processor the encoder runs on, chosen at the first call.
void amrefr_Search7K4(const Word16* dn_split, const Word16* dn2, Word16* const* row_start,
                      const Word16* rr_diag_split, const Word16* ipos, Word16* codvec, Word16* psk,
                      Word16* alpk, int nb_pulse, const Word16* control, Word16* reuse) {
    static const auto form = amrefr_fast::has_avx2() ? amrefr_fast::search_7k4_avx2 : amrefr_fast::search_7k4_portable;
    form(dn_split, dn2, row_start, rr_diag_split, ipos, codvec, psk, alpk, nb_pulse, control, reuse);
}

// The 40 words in front of h are cleared (the caller provides them), so that
// h[n] = 0 for n < 0.
namespace {

// The filtered code vector when no sum can saturate: all outputs side by side.
AMREFR_VECTOR_CLONES
void plain_code_vector(const Word16* pos, const Word16* amp, const Word16* h, Word16* y, int npulses) {
    std::int32_t s[40] = {};
    for (int m = 0; m < npulses; ++m) {
        const std::int32_t a = amp[m];
        const Word16* hm = h - pos[m];
        for (int i = 0; i < 40; ++i) s[i] += a * hm[i];
    }
    for (int i = 0; i < 40; ++i) y[i] = static_cast<Word16>((2 * s[i] + 0x8000) >> 16);
}

}  // namespace

void amrefr_Gen_ACELP_Vec(const Word16* pos, const Word16* amp, Word16* h, Word16* y, Word16 npairs) {
    for (int n = -40; n < 0; ++n) h[n] = 0;
    // Every partial sum is within twice the largest tap times Σ|amp|, the
    // rounding constant on top.
    std::int64_t amp_sum = 0;
    int h_max = 0;
    for (int m = 0; m < 2 * npairs; ++m) amp_sum += amp[m] < 0 ? -int{amp[m]} : int{amp[m]};
    for (int i = 0; i < 40; ++i) h_max = std::max(h_max, h[i] < 0 ? -int{h[i]} : int{h[i]});
    bool positions_ok = true;
    for (int m = 0; m < 2 * npairs; ++m) positions_ok &= pos[m] >= 0 && pos[m] < 40;
    if (positions_ok && 2 * amp_sum * h_max + 0x8000 <= MAX_32) {
        plain_code_vector(pos, amp, h, y, 2 * npairs);
        return;
    }
    Word32 s[40] = {};
    for (int m = 0; m < 2 * npairs; ++m)
        for (int i = 0; i < 40; ++i) s[i] = L_mac(s[i], h[i - pos[m]], amp[m]);
    for (int i = 0; i < 40; ++i) y[i] = round16(s[i]);
}

Word16 amrefr_compress10(Word16 a, Word16 b, Word16 c) {
    return static_cast<Word16>(((a >> 1) + 5 * (b >> 1) + 25 * (c >> 1)) * 8 + (a & 1) + 2 * (b & 1) + 4 * (c & 1));
}

Word16 amrefr_compressLast(Word16 a, Word16 b) {
    int ia = ((b >> 1) & 1) ? 4 - (a >> 1) : (a >> 1);
    int t = (ia + 5 * (b >> 1)) * 32 + 12;
    int u = (t * 1311) >> 15;
    return static_cast<Word16>(4 * u + (a & 1) + 2 * (b & 1));
}

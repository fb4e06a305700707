// ISF quantiser and dequantiser loops over the codebooks stored in blocks of
// four codevectors.
#include "amrwb_basic_op.h"
#include "amrwb_fast.h"
#include "amrwb_kernels.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr Word16 kMu = 10923;  // 1/3 in Q15

// Squared distances of x to the four codevectors of block `blk` (stored
// side by side), each one L_mac chain over the components.  The terms are
// never negative, so each chain is min(Σ 2·diff², MAX_32) (a lone L_mult of
// -32768 clips to MAX_32, where the sum is clipped anyway): Σ diff² is kept
// in 32 bits, held at 2^30 once it gets there, where twice it passes MAX_32.
AMRWB_VECTOR_CLONES void block_distances(const Word16* x, const Word16* book, int dim, int blk, Word32* d) {
    constexpr std::uint32_t kClip = 1u << 30;
    const Word16* c = book + blk * 4 * dim;
    std::uint32_t sum[4] = {0, 0, 0, 0};
    for (int j = 0; j < dim; ++j)
        for (int l = 0; l < 4; ++l) {
            const std::int32_t diff = amr_wb_fast::clip16(std::int32_t{x[j]} - c[4 * j + l]);
            const std::uint32_t s = sum[l] + static_cast<std::uint32_t>(diff * diff);
            sum[l] = s < kClip ? s : kClip;
        }
    for (int l = 0; l < 4; ++l) d[l] = sum[l] < kClip ? static_cast<Word32>(2 * sum[l]) : MAX_32;
}

void stage1(const Word16* x, const Word16* book, int dim, Word32* scratch, Word16* surv) {
    for (int blk = 0; blk < 64; ++blk) {
        Word32 d[4];
        block_distances(x, book, dim, blk, d);
        for (int l = 0; l < 4; ++l) {
            const int k = 4 * blk + l;
            scratch[k] =
                static_cast<Word32>((static_cast<std::uint32_t>(L_shl(d[l], 7)) & ~0xFFu) | static_cast<std::uint32_t>(k));
        }
    }
    for (int s = 0; s < 4; ++s) {
        int at = 0;
        for (int k = 1; k < 256; ++k)
            if (scratch[k] < scratch[at]) at = k;
        surv[s] = static_cast<Word16>(scratch[at] & 0xFF);
        scratch[at] = MAX_32;
    }
}

// Nearest codevector; each of four lanes (k mod 4) keeps its first minimum,
// then the lanes merge with the lower index winning a tie.
Word16 split_search(const Word16* x, const Word16* book, int dim, int size, Word32* dist) {
    Word32 best_d[4] = {MAX_32, MAX_32, MAX_32, MAX_32};
    int best_k[4] = {0, 1, 2, 3};
    bool seen[4] = {false, false, false, false};
    for (int blk = 0; 4 * blk < size; ++blk) {
        Word32 d[4];
        block_distances(x, book, dim, blk, d);
        for (int l = 0; l < 4 && 4 * blk + l < size; ++l) {
            if (!seen[l] || d[l] < best_d[l]) {
                best_d[l] = d[l];
                best_k[l] = 4 * blk + l;
                seen[l] = true;
            }
        }
    }
    int w = 0;
    for (int l = 1; l < 4; ++l) {
        if (!seen[l]) continue;
        if (best_d[l] < best_d[w] || (best_d[l] == best_d[w] && best_k[l] < best_k[w])) w = l;
    }
    *dist = best_d[w];
    return static_cast<Word16>(best_k[w]);
}
}  // namespace

void amr_wb_Qpisf_2s_CalcIsf(Word16* isf, const Word16* isf1, const Word16* past_isfq) {
    for (int i = 0; i < 16; ++i) isf[i] = sub(sub(isf1[i], amr_wb_mean_isf[i]), mult(past_isfq[i], kMu));
}

void amr_wb_Dpisf_2s_CalcIsfQ(Word16* isf_q, Word16* past_isfq) {
    for (int i = 0; i < 16; ++i) {
        Word16 t = isf_q[i];
        isf_q[i] = add(add(t, amr_wb_mean_isf[i]), mult(past_isfq[i], kMu));
        past_isfq[i] = t;
    }
}

void amr_wb_VQ_stage1_dim9(const Word16* x, Word32* scratch, Word16* surv) {
    stage1(x, amr_wb_dico1_isf_reordered, 9, scratch, surv);
}

void amr_wb_VQ_stage1_dim7(const Word16* x, Word32* scratch, Word16* surv) {
    stage1(x, amr_wb_dico2_isf_reordered, 7, scratch, surv);
}

Word16 amr_wb_Sub_VQ2_2(const Word16* x, const Word16* book, Word16 size, Word32* distance) {
    return split_search(x, book, 2, size, distance);
}
Word16 amr_wb_Sub_VQ3_2(const Word16* x, const Word16* book, Word16 size, Word32* distance) {
    return split_search(x, book, 3, size, distance);
}
Word16 amr_wb_Sub_VQ4_2(const Word16* x, const Word16* book, Word16 size, Word32* distance) {
    return split_search(x, book, 4, size, distance);
}
Word16 amr_wb_Sub_VQ5_2(const Word16* x, const Word16* book, Word16 size, Word32* distance) {
    return split_search(x, book, 5, size, distance);
}
Word16 amr_wb_Sub_VQ7_2(const Word16* x, const Word16* book, Word16 size, Word32* distance) {
    return split_search(x, book, 7, size, distance);
}

void amr_wb_VQ_stage1_DeQ(Word16 index, Word16 dim, const Word16* book, Word16* out) {
    for (int j = 0; j < dim; ++j) out[j] = book[(index >> 2) * 4 * dim + 4 * j + (index & 3)];
}

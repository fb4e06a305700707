// Weighted split-VQ searches of the LSF quantisers over codebooks stored in
// blocks of four entries (entry i, component c at 4·D·(i div 4) + 4·c + i mod 4).
#include <algorithm>

#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_kernels.h"

using namespace amrefr_op;

namespace {

inline Word16 entry(const Word16* dico, int dim, int i, int c) { return dico[4 * dim * (i / 4) + 4 * c + (i % 4)]; }

// Weighted distance of entry i (the reference form of distances below).
Word32 distance(const Word32* X, const Word16* dico, const Word16* w, int dim, int i, int sign) {
    Word32 dist = 0;
    for (int c = 0; c < dim; ++c) {
        Word32 d = L_mult(entry(dico, dim, i, c), w[c]);
        Word32 diff = sign > 0 ? wrap32(std::int64_t{X[c]} - d) : wrap32(std::int64_t{X[c]} + d);
        Word16 t = static_cast<Word16>(diff >> 16);
        dist = L_mac(dist, t, t);
    }
    return dist;
}

// Weighted distances of the entries of blocks [0, blocks); Sign −1 measures
// against the negated entries.  The per-component difference is taken in 32
// bits without saturation.  The doubled squares are never negative, so their
// saturating sum is the running sum capped at MAX_32 (held unsigned: two
// capped terms cannot wrap).
template <int dim, int Sign>
AMREFR_VECTOR_CLONES void distances(const Word32* X, const Word16* dico, const Word16* w, int blocks,
                                    Word32* __restrict dist) {
    using namespace amrefr_fast;
    for (int b = 0; b < blocks; ++b) {
        const Word16* blk = dico + 4 * dim * b;
        std::uint32_t acc[4] = {0, 0, 0, 0};
        for (int c = 0; c < dim; ++c) {
            const std::uint32_t x = static_cast<std::uint32_t>(X[c]);
            const Word16 wc = w[c];
            for (int l = 0; l < 4; ++l) {
                const std::uint32_t d = static_cast<std::uint32_t>(mult32(blk[4 * c + l], wc));
                const Word16 t = static_cast<Word16>(static_cast<Word32>(Sign > 0 ? x - d : x + d) >> 16);
                acc[l] = std::min<std::uint32_t>(acc[l] + static_cast<std::uint32_t>(mult32(t, t)), MAX_32);
            }
        }
        for (int l = 0; l < 4; ++l) dist[4 * b + l] = static_cast<Word32>(acc[l]);
    }
}

// First minimum over entries first, first + step, …; returns the ordinal.
int search(const Word16* x, const Word16* dico, const Word16* w, int dim, int count, int step, int sign,
           Word32* best_dist) {
    Word32 X[4];
    for (int c = 0; c < dim; ++c) X[c] = L_mult(x[c], w[c]);
    // Whole blocks of four entries go through the vector form, a fixed number
    // of blocks at a time; entries of a last partial block one at a time.
    const int entries = count > 0 ? (count - 1) * step + 1 : 0;
    const int whole = entries / 4;
    constexpr int kChunkBlocks = 64;
    Word32 dist[4 * kChunkBlocks];
    Word32 best = MAX_32;
    int best_n = 0;
    auto consider = [&](int n, Word32 d) {
        best_n = d < best ? n : best_n;
        best = d < best ? d : best;
    };
    int n = 0;
    for (int first = 0; first < whole; first += kChunkBlocks) {
        const int blocks = std::min(kChunkBlocks, whole - first);
        const Word16* from = dico + 4 * dim * first;
        if (dim == 4)
            sign > 0 ? distances<4, 1>(X, from, w, blocks, dist) : distances<4, -1>(X, from, w, blocks, dist);
        else
            sign > 0 ? distances<3, 1>(X, from, w, blocks, dist) : distances<3, -1>(X, from, w, blocks, dist);
        for (const int end = 4 * (first + blocks); n < count && n * step < end; ++n)
            consider(n, dist[n * step - 4 * first]);
    }
    for (; n < count; ++n) consider(n, distance(X, dico, w, dim, n * step, sign));
    *best_dist = best;
    return best_n;
}

Word16 unsigned_search(Word16* x, const Word16* dico, const Word16* w, int dim, int size, int step) {
    Word32 dist;
    int n = search(x, dico, w, dim, size, step, 1, &dist);
    for (int c = 0; c < dim; ++c) x[c] = entry(dico, dim, n * step, c);
    return static_cast<Word16>(n);
}

}  // namespace

Word16 amrefr_reordered_Vq_subvec4(Word16* x, const Word16* dico, const Word16* w, Word16 size) {
    return unsigned_search(x, dico, w, 4, size, 1);
}

Word16 amrefr_reordered_Vq_subvec3a(Word16* x, const Word16* dico, const Word16* w, Word16 size) {
    return unsigned_search(x, dico, w, 3, size, 1);
}

Word16 amrefr_reordered_Vq_subvec3b(Word16* x, const Word16* dico, const Word16* w, Word16 size) {
    return unsigned_search(x, dico, w, 3, size, 2);
}

Word16 amrefr_reordered_Vq_subvec_s(Word16* x, const Word16* dico, const Word16* w, Word16 size) {
    Word32 dp, dm;
    int ip = search(x, dico, w, 4, size, 1, 1, &dp);
    int im = search(x, dico, w, 4, size, 1, -1, &dm);
    bool neg = dm < dp || (dm == dp && im < ip);
    int i = neg ? im : ip;
    for (int c = 0; c < 4; ++c) {
        Word16 v = entry(dico, 4, i, c);
        x[c] = neg ? wrap16(-std::int32_t{v}) : v;
    }
    return static_cast<Word16>(2 * i + (neg ? 1 : 0));
}

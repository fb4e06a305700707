// Weighted split-VQ searches of the LSF quantisers over codebooks stored in
// blocks of four entries (entry i, component c at 4·D·(i div 4) + 4·c + i mod 4).
#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"

using namespace amrefr_op;

namespace {

inline Word16 entry(const Word16* dico, int dim, int i, int c) { return dico[4 * dim * (i / 4) + 4 * c + (i % 4)]; }

// Weighted distance of entry i; sign −1 measures against the negated entry.
// The per-component difference is taken in 32 bits without saturation.
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

// First minimum over entries first, first + step, …; returns the ordinal.
int search(const Word16* x, const Word16* dico, const Word16* w, int dim, int count, int step, int sign,
           Word32* best_dist) {
    Word32 X[4];
    for (int c = 0; c < dim; ++c) X[c] = L_mult(x[c], w[c]);
    Word32 best = MAX_32;
    int best_n = 0;
    for (int n = 0; n < count; ++n) {
        Word32 d = distance(X, dico, w, dim, n * step, sign);
        if (d < best) {
            best = d;
            best_n = n;
        }
    }
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

// Kernels of the algebraic codebook searches: sign pre-selection, track
// reordering, the correlation matrices of the impulse response and the
// pair searches.
#include "amrwb_fast.h"
#include "amrwb_kernels.h"
#include "amrwb_lanes.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

void amr_wb_ACELP_set_sign_loop1(const Word16* cn, const Word16* dn, Word16 k_cn, Word16 k_dn, Word16* dn2) {
    for (int i = 0; i < 64; ++i) {
        Word32 s = sat32(std::int64_t{L_mult(k_cn, cn[i])} + L_mult(k_dn, dn[i]));
        dn2[i] = sat16(s >> 8);
    }
}

void amr_wb_ACELP_set_sign_loop2(Word16* sign, Word16* vec, Word16* dn, Word16* dn2) {
    for (int i = 0; i < 64; ++i) {
        if (dn2[i] >= 0) {
            sign[i] = MAX_16;
            vec[i] = MIN_16;
        } else {
            sign[i] = MIN_16;
            vec[i] = MAX_16;
            dn[i] = negate(dn[i]);
            dn2[i] = negate(dn2[i]);
        }
    }
}

void amr_wb_Reorder(const Word16* in, Word16* out) {
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 16; ++k) out[16 * t + k] = in[4 * k + t];
}

void amr_wb_ACELP_4t64_nb_max(Word16* dn2, Word16* pos_max) {
    for (int t = 0; t < 4; ++t) {
        Word16* d = dn2 + 16 * t;
        pos_max[t] = static_cast<Word16>(t);
        for (int r = 0; r < 8; ++r) {
            int best = -1;
            Word16 ps = -1;
            for (int k = 0; k < 16; ++k) {
                if (d[k] > ps) {
                    ps = d[k];
                    best = k;
                }
            }
            if (best < 0) break;  // fewer than eight candidates left
            d[best] = static_cast<Word16>(r - 8);
            if (r == 0) pos_max[t] = static_cast<Word16>(4 * best + t);
        }
    }
}

void amr_wb_ACELP_4t64_storage_orders(const Word16* h, Word16* rrixix, Word16* rrixiy) {
    // One L_mac chain per diagonal d from 32768; after term n it holds the
    // correlation of the two positions whose larger one is 63 - n.
    // With 32768 + 2·Σh² in range no chain can clip (|2·h[n]·h[n+d]| ≤
    // h[n]² + h[n+d]²), and the plain sums are the chains' values.
    const bool plain = 32768 + 2 * amr_wb_fast::energy64(h, 64) <= MAX_32;
    for (int d = 0; d < 64; ++d) {
        // Only the energies (d = 0) and the distances that join neighbouring
        // tracks (d odd) are stored.
        if (d != 0 && (d & 1) == 0) continue;
        Word32 acc = 32768;
        for (int n = 0; n + d < 64; ++n) {
            acc = plain ? acc + 2 * std::int32_t{h[n]} * h[n + d] : L_mac(acc, h[n], h[n + d]);
            int m = 63 - n, l = m - d;
            Word16 v = extract_h(acc);
            if (d == 0) {
                rrixix[16 * (m & 3) + (m >> 2)] = v;
                continue;
            }
            // Ordered pairs (x, y) with y on the track after x's.
            if ((l & 3) == (((m & 3) + 1) & 3)) rrixiy[256 * (m & 3) + 16 * (m >> 2) + (l >> 2)] = v;
            if ((m & 3) == (((l & 3) + 1) & 3)) rrixiy[256 * (l & 3) + 16 * (l >> 2) + (m >> 2)] = v;
        }
    }
}

void amr_wb_ACELP_4t64_mod_rrixiy_signs(Word16* rrixiy, const Word16* sign, const Word16* vec) {
    for (int m = 0; m < 4; ++m) {
        int ty = (m + 1) & 3;
        for (int a = 0; a < 16; ++a) {
            const Word16* s = (sign[16 * m + a] >= 0 ? sign : vec) + 16 * ty;
            Word16* row = rrixiy + 256 * m + 16 * a;
            for (int b = 0; b < 16; ++b) row[b] = mult(row[b], s[b]);
        }
    }
}

void amr_wb_ACELP_4t64_cor_h_vec(const Word16* h, const Word16* vec, Word16 track, const Word16* sign,
                                 const Word16* rrixix, Word16* cor) {
    // Every sum pairs h[0..] with a run of vec[track..track + 63]; when the two
    // energies bound all of them below 2^31 the lane sums are the plain sums.
    const bool plain = amr_wb_fast::products_within(amr_wb_fast::energy64(h, 64), amr_wb_fast::energy64(vec, 67),
                                                    MAX_32);
    for (int i = 0; i < 16; ++i) {
        int pos = track + 4 * i;
        // Runs to t = 63 - 4i: the last terms read the zeros at vec[64..66].
        Word32 S = plain ? 2 * amr_wb_fast::dot32(h, vec + pos, 64 - 4 * i)
                         : amr_wb_lanes::dot4(h, vec + pos, 64 - 4 * i);
        Word16 c = sat16((std::int64_t{S} + 16384) >> 15);
        cor[i] = add(mult(c, sign[16 * track + i]), rrixix[16 * track + i]);
    }
}

namespace {
// Best pair of one lane of a pair search.
struct Best {
    Word16 sq = -1, alp = 1;
    Word16 index = 0;
};

// Candidate (sq, alp) beats best when alp_k·sq > sq_k·alp, in the
// saturating form of the search.
Word32 cross(Word16 sq, Word16 alp, const Best& b) { return L_sub(L_mult(alp, b.sq), L_mult(sq, b.alp)); }

Best merge(const Best* lanes) {
    Best best = lanes[0];
    for (int k = 1; k < 4; ++k) {
        Word32 c = cross(lanes[k].sq, lanes[k].alp, best);
        if (c < 0 || (c == 0 && lanes[k].index < best.index)) best = lanes[k];
    }
    return best;
}
}  // namespace

namespace {
// One row of pair terms: the squares of the pulse sums and the upper halves of
// the energies, through the saturating operators.
void ixiy_row_model(Word16 ps1, Word32 alp1, const Word16* dn_y, const Word16* cor_y, const Word16* rr, Word16* sq,
                    Word16* alp16) {
    for (int b = 0; b < 16; ++b) {
        Word16 ps2 = add(ps1, dn_y[b]);
        sq[b] = mult(ps2, ps2);
        Word32 alp2 = sat32(std::int64_t{sat32(std::int64_t{alp1} + std::int64_t{cor_y[b]} * 8192)} +
                            std::int64_t{rr[b]} * 16384);
        alp16[b] = extract_h(alp2);
    }
}

// The same row when alp1 leaves room for both terms (|cor_y·8192| ≤ 2^28,
// |rr·16384| ≤ 2^29): the energy sums cannot clip and are plain.
AMRWB_VECTOR_CLONES void ixiy_row_fast(Word16 ps1, Word32 alp1, const Word16* dn_y, const Word16* cor_y,
                                       const Word16* rr, Word16* sq, Word16* alp16) {
    for (int b = 0; b < 16; ++b) {
        sq[b] = amr_wb_fast::square_of_sum(ps1, dn_y[b]);
        alp16[b] = static_cast<Word16>((alp1 + std::int32_t{cor_y[b]} * 8192 + std::int32_t{rr[b]} * 16384) >> 16);
    }
}
constexpr Word32 kRowRoom = (1 << 28) + (1 << 29);
}  // namespace

Word16 amr_wb_ACELP_4t64_search_ixiy(Word16 nb_pos_ix, Word16 track_x, Word16 track_y, Word16* alp, Word16 ps,
                                     const Word16* dn, const Word16* dn2, const Word16* cor_x, const Word16* cor_y,
                                     const Word16* rrixiy) {
    const Word16 thres = static_cast<Word16>(nb_pos_ix - 8);
    const Word32 alp0 = sat32(std::int64_t{*alp} * 65536 + 32768);
    const Word16* rr = rrixiy + 256 * track_x;
    const Word16* dn_y = dn + 16 * track_y;
    Best lanes[4];
    for (int a = 0; a < 16; ++a) {
        if (dn2[16 * track_x + a] >= thres) continue;
        Word16 ps1 = add(ps, dn[16 * track_x + a]);
        Word32 alp1 = sat32(std::int64_t{alp0} + std::int64_t{cor_x[a]} * 8192);
        Word16 sq[16], alp16[16];
        if (alp1 > MIN_32 + kRowRoom && alp1 < MAX_32 - kRowRoom)
            ixiy_row_fast(ps1, alp1, dn_y, cor_y, rr + 16 * a, sq, alp16);
        else
            ixiy_row_model(ps1, alp1, dn_y, cor_y, rr + 16 * a, sq, alp16);
        for (int b = 0; b < 16; ++b) {
            // cross() < 0 exactly when alp·best.sq < sq·best.alp: squares are
            // never negative and a best square is at least -1, so both
            // products fit 31 bits and the saturated difference keeps the sign.
            Best& l = lanes[b & 3];
            if (std::int32_t{alp16[b]} * l.sq < std::int32_t{sq[b]} * l.alp) {
                l.sq = sq[b];
                l.alp = alp16[b];
                l.index = static_cast<Word16>(16 * a + b);
            }
        }
    }
    Best best = merge(lanes);
    *alp = best.alp;
    return best.index;
}

AMRWB_VECTOR_CLONES void amr_wb_ACELP_4t64_deep_final_sum(const Word16* vec, const Word16* p0, const Word16* p1,
                                                          Word16* out) {
    // add(add(vec, p0), p1) in 32-bit lanes with the same two clips.
    using amr_wb_fast::clip16;
    for (int i = 0; i < 64; ++i) out[i] = static_cast<Word16>(clip16(clip16(std::int32_t{vec[i]} + p0[i]) + p1[i]));
}

void amr_wb_ACELP_2t64_1st_storage_order(const Word16* h, Word16* rrixix) {
    Word32 acc = 65536;
    for (int i = 0; i < 32; ++i) {
        acc = L_mac(acc, h[2 * i], h[2 * i]);
        rrixix[32 + 31 - i] = static_cast<Word16>(acc >> 17);
        acc = L_mac(acc, h[2 * i + 1], h[2 * i + 1]);
        rrixix[31 - i] = static_cast<Word16>(acc >> 17);
    }
}

void amr_wb_ACELP_2t64_2nd_storage_order(const Word16* h, Word16* rrixiy) {
    // Even and odd positions differ by an odd distance d; the chain of d from
    // 32768 holds, after term n, the pair whose larger position is 63 - n.
    for (int d = 1; d < 64; d += 2) {
        Word32 acc = 32768;
        for (int n = 0; n + d < 64; ++n) {
            acc = L_mac(acc, h[n], h[n + d]);
            int m = 63 - n, l = m - d;
            int even = (m & 1) ? l : m, odd = (m & 1) ? m : l;
            rrixiy[32 * (even >> 1) + (odd >> 1)] = extract_h(acc);
        }
    }
}

void amr_wb_ACELP_2t64_mod_rrixiy_signs(Word16* rrixiy, const Word16* sign, const Word16* vec) {
    for (int a = 0; a < 32; ++a) {
        const Word16* s = sign[2 * a] >= 0 ? sign : vec;
        for (int b = 0; b < 32; ++b) rrixiy[32 * a + b] = mult(rrixiy[32 * a + b], s[2 * b + 1]);
    }
}

namespace {
// One row of the two-track search: squares of the pulse sums and the
// energies, each add() and mult() clipped as the saturating operators do.
AMRWB_VECTOR_CLONES void pairs_2t64_row(Word16 ps1, Word16 alp1, const Word16* odd, const Word16* rrixix1,
                                        const Word16* rr, Word16* sq, Word16* alp2) {
    using amr_wb_fast::clip16;
    for (int b = 0; b < 32; ++b) {
        sq[b] = amr_wb_fast::square_of_sum(ps1, odd[b]);
        alp2[b] = static_cast<Word16>(clip16(clip16(std::int32_t{rrixix1[b]} + alp1) + rr[b]));
    }
}
}  // namespace

Word16 amr_wb_ACELP_2t64_search_ixiy(const Word16* rrixix0, const Word16* rrixix1, const Word16* rrixiy,
                                     const Word16* dn) {
    Word16 odd[32];
    for (int b = 0; b < 32; ++b) odd[b] = dn[2 * b + 1];
    Best lanes[4];
    for (int a = 0; a < 32; ++a) {
        Word16 sq[32], alp2[32];
        pairs_2t64_row(dn[2 * a], rrixix0[a], odd, rrixix1, rrixiy + 32 * a, sq, alp2);
        for (int b = 0; b < 32; ++b) {
            // cross() < 0 exactly (see the four-track search).
            Best& l = lanes[b & 3];
            if (std::int32_t{alp2[b]} * l.sq < std::int32_t{sq[b]} * l.alp) {
                l.sq = sq[b];
                l.alp = alp2[b];
                l.index = static_cast<Word16>(32 * a + b);
            }
        }
    }
    return merge(lanes).index;
}

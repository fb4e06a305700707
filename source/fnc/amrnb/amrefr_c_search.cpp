// Algebraic codebook search of the modes 4.75 to 7.95 kbit/s (pair tables and
// the depth-first three- and four-pulse search), the filtering of a chosen
// code vector, and the index packing of the 10.2 kbit/s codebook.
#include "amrefr_basic_op.h"
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

struct Cand {
    Word16 sq, alp, ps;
    int j;
};

// Selection inside a track: candidate l + 4 may replace candidate l (lanes),
// then the lane survivors are compared in lane order; ties keep the lower lane.
Cand select_in_track(const Cand* c) {
    Cand lane[4];
    for (int l = 0; l < 4; ++l) {
        const Cand& lo = c[l];
        const Cand& hi = c[l + 4];
        lane[l] = L_msu(L_mult(lo.alp, hi.sq), lo.sq, hi.alp) > 0 ? hi : lo;
    }
    Cand best = lane[0];
    for (int l = 1; l < 4; ++l)
        if (L_msu(L_mult(best.alp, lane[l].sq), best.sq, lane[l].alp) > 0) best = lane[l];
    return best;
}

// A pulse's eight candidates: ps1 wraps in 16 bits, alp is the saturated upper
// half of the running energy sum.
template <typename Alp>
Cand next_pulse(Word16 ps0, const Word16* dn_track, Alp alp_of) {
    Cand c[8];
    for (int j = 0; j < 8; ++j) {
        c[j].ps = wrap16(std::int32_t{ps0} + dn_track[j]);
        c[j].sq = mult(c[j].ps, c[j].ps);
        c[j].alp = extract_h(alp_of(j));
        c[j].j = j;
    }
    return select_in_track(c);
}

}  // namespace

void amrefr_Search7K4(const Word16* dn_split, const Word16* dn2, Word16* const* row_start,
                      const Word16* rr_diag_split, const Word16* ipos, Word16* codvec, Word16* psk,
                      Word16* alpk, int nb_pulse, const Word16* control, Word16* reuse) {
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
                Word32 A = static_cast<Word32>(static_cast<std::uint16_t>(rr_diag_split[off[0] + k]) * 16384u + 32768u);
                Cand c = next_pulse(dn_split[off[0] + k], dn_split + off[1], [&](int j) {
                    Word32 s = L_add(A, L_mult(rr_diag_split[off[1] + j], 8192));
                    return L_add(s, L_mult(row0[off[1] + j], 16384));
                });
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
            Word32 A = static_cast<Word32>(static_cast<std::uint16_t>(alp) * 16384u + 32768u);
            Cand c = next_pulse(ps, dn_split + off[2], [&](int j) {
                Word32 s = L_add(A, L_mult(rr_diag_split[off[2] + j], 2048));
                s = L_add(s, L_mult(row0[off[2] + j], 4096));
                return L_add(s, L_mult(row1[off[2] + j], 4096));
            });
            int i2 = 5 * c.j + trk[2];
            int i3 = 0;

            // Fourth pulse.
            if (nb_pulse == 4) {
                const Word16* row2 = row_start[i2];
                Word32 A4 = L_add(L_deposit_h(c.alp), 32768);
                c = next_pulse(c.ps, dn_split + off[3], [&](int j) {
                    Word32 s = L_add(A4, L_mult(rr_diag_split[off[3] + j], 2048));
                    s = L_add(s, L_mult(row2[off[3] + j], 4096));
                    s = L_add(s, L_mult(row1[off[3] + j], 4096));
                    return L_add(s, L_mult(row0[off[3] + j], 4096));
                });
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

// The 40 words in front of h are cleared (the caller provides them), so that
// h[n] = 0 for n < 0.
void amrefr_Gen_ACELP_Vec(const Word16* pos, const Word16* amp, Word16* h, Word16* y, Word16 npairs) {
    for (int n = -40; n < 0; ++n) h[n] = 0;
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

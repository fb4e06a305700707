// Algebraic codebook search of the encoder (two-track search of 6.60 kbit/s,
// four-track depth-first search of the other modes) and the pulse coders.
#include <cstring>

#include "amrwb_basic_op.h"
#include "amrwb_enc_internal.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr Word16 NB_POS = 16;
}  // namespace

// ---- pulse coders --------------------------------------------------------------
Word32 amr_wb_quant_1p_N1(Word16 pos, Word16 N) {
    Word16 mask = static_cast<Word16>((1 << N) - 1);
    Word32 index = pos & mask;
    if (pos & NB_POS) index = L_add(index, 1 << N);
    return index;
}

Word32 amr_wb_quant_2p_2N1(Word16 N, Word16 pos1, Word16 pos2) {
    Word16 mask = static_cast<Word16>((1 << N) - 1);
    Word32 index;
    if (((pos2 ^ pos1) & NB_POS) == 0) {
        // Same signs: the smaller position first.
        index = pos1 <= pos2 ? ((pos1 & mask) << N) + (pos2 & mask) : ((pos2 & mask) << N) + (pos1 & mask);
        if (pos1 & NB_POS) index = L_add(index, Word32{1} << (2 * N));
    } else if ((pos1 & mask) <= (pos2 & mask)) {
        // Different signs: the order carries the second sign.
        index = ((pos2 & mask) << N) + (pos1 & mask);
        if (pos2 & NB_POS) index = L_add(index, Word32{1} << (2 * N));
    } else {
        index = ((pos1 & mask) << N) + (pos2 & mask);
        if (pos1 & NB_POS) index = L_add(index, Word32{1} << (2 * N));
    }
    return index;
}

Word32 amr_wb_quant_3p_3N1_common(Word16 N, Word32 index, Word16 pos_a, Word16 pos_z) {
    Word16 nb_pos = static_cast<Word16>(1 << (N - 1));
    index = L_add(index, L_shl(pos_a & nb_pos, N));
    return L_add(index, L_shl(amr_wb_quant_1p_N1(pos_z, N), static_cast<Word16>(2 * N)));
}

Word32 amr_wb_quant_3p_3N1(Word16 N, Word16 pos1, Word16 pos2, Word16 pos3) {
    Word16 nb_pos = static_cast<Word16>(1 << (N - 1)), n_1 = static_cast<Word16>(N - 1);
    if ((pos1 & nb_pos) == (pos2 & nb_pos))
        return amr_wb_quant_3p_3N1_common(N, amr_wb_quant_2p_2N1(n_1, pos1, pos2), pos1, pos3);
    if ((pos1 & nb_pos) == (pos3 & nb_pos))
        return amr_wb_quant_3p_3N1_common(N, amr_wb_quant_2p_2N1(n_1, pos1, pos3), pos1, pos2);
    return amr_wb_quant_3p_3N1_common(N, amr_wb_quant_2p_2N1(n_1, pos2, pos3), pos2, pos1);
}

Word32 amr_wb_quant_4p_4N1_common(Word16 N, Word32 index, Word16 pos_a, Word16 pos_z1, Word16 pos_z2) {
    Word16 nb_pos = static_cast<Word16>(1 << (N - 1));
    index = L_add(index, L_shl(pos_a & nb_pos, N));
    return L_add(index, L_shl(amr_wb_quant_2p_2N1(N, pos_z1, pos_z2), static_cast<Word16>(2 * N)));
}

Word32 amr_wb_quant_4p_4N1(Word16 pos1, Word16 pos2, Word16 pos3, Word16 pos4, Word16 N) {
    Word16 nb_pos = static_cast<Word16>(1 << (N - 1)), n_1 = static_cast<Word16>(N - 1);
    if ((pos1 & nb_pos) == (pos2 & nb_pos))
        return amr_wb_quant_4p_4N1_common(N, amr_wb_quant_2p_2N1(n_1, pos1, pos2), pos1, pos3, pos4);
    if ((pos1 & nb_pos) == (pos3 & nb_pos))
        return amr_wb_quant_4p_4N1_common(N, amr_wb_quant_2p_2N1(n_1, pos1, pos3), pos1, pos2, pos4);
    return amr_wb_quant_4p_4N1_common(N, amr_wb_quant_2p_2N1(n_1, pos2, pos3), pos2, pos1, pos4);
}

namespace {
// Splits pulses by the top position bit: A without it, B with it.
int split_halves(const Word16* pos, int n, Word16 nb_pos, Word16* A, Word16* B) {
    int i = 0, j = 0;
    for (int k = 0; k < n; ++k) {
        if ((pos[k] & nb_pos) == 0)
            A[i++] = pos[k];
        else
            B[j++] = pos[k];
    }
    return i;
}
}  // namespace

Word32 amr_wb_quant_4p_4N(const Word16* pos, Word16 N) {
    Word16 n_1 = static_cast<Word16>(N - 1), nb_pos = static_cast<Word16>(1 << n_1);
    Word16 A[4], B[4];
    int i = split_halves(pos, 4, nb_pos, A, B);
    Word32 index = 0;
    switch (i) {
        case 0:
            index = L_add(Word32{1} << (4 * N - 3), amr_wb_quant_4p_4N1(B[0], B[1], B[2], B[3], n_1));
            break;
        case 1:
            index = L_add(L_shl(amr_wb_quant_1p_N1(A[0], n_1), static_cast<Word16>(3 * n_1 + 1)),
                          amr_wb_quant_3p_3N1(n_1, B[0], B[1], B[2]));
            break;
        case 2:
            index = L_add(L_shl(amr_wb_quant_2p_2N1(n_1, A[0], A[1]), static_cast<Word16>(2 * n_1 + 1)),
                          amr_wb_quant_2p_2N1(n_1, B[0], B[1]));
            break;
        case 3:
            index = L_add(L_shl(amr_wb_quant_3p_3N1(n_1, A[0], A[1], A[2]), N), amr_wb_quant_1p_N1(B[0], n_1));
            break;
        default:
            index = amr_wb_quant_4p_4N1(A[0], A[1], A[2], A[3], n_1);
            break;
    }
    return L_add(index, L_shl(i & 3, static_cast<Word16>(4 * N - 2)));
}

Word32 amr_wb_quant_5p_5N(const Word16* pos, Word16 N) {
    Word16 n_1 = static_cast<Word16>(N - 1), nb_pos = static_cast<Word16>(1 << n_1);
    Word16 A[5], B[5];
    int i = split_halves(pos, 5, nb_pos, A, B);
    const Word16 sh = static_cast<Word16>(2 * N + 1);
    Word32 top = Word32{1} << (5 * N - 1);
    switch (i) {
        case 0:
            return L_add(L_add(top, L_shl(amr_wb_quant_3p_3N1(n_1, B[0], B[1], B[2]), sh)),
                         amr_wb_quant_2p_2N1(N, B[3], B[4]));
        case 1:
            return L_add(L_add(top, L_shl(amr_wb_quant_3p_3N1(n_1, B[0], B[1], B[2]), sh)),
                         amr_wb_quant_2p_2N1(N, B[3], A[0]));
        case 2:
            return L_add(L_add(top, L_shl(amr_wb_quant_3p_3N1(n_1, B[0], B[1], B[2]), sh)),
                         amr_wb_quant_2p_2N1(N, A[0], A[1]));
        case 3:
            return L_add(L_shl(amr_wb_quant_3p_3N1(n_1, A[0], A[1], A[2]), sh), amr_wb_quant_2p_2N1(N, B[0], B[1]));
        case 4:
            return L_add(L_shl(amr_wb_quant_3p_3N1(n_1, A[0], A[1], A[2]), sh), amr_wb_quant_2p_2N1(N, A[3], B[0]));
        default:
            return L_add(L_shl(amr_wb_quant_3p_3N1(n_1, A[0], A[1], A[2]), sh), amr_wb_quant_2p_2N1(N, A[3], A[4]));
    }
}

Word32 amr_wb_quant_6p_6N_2(const Word16* pos, Word16 N) {
    Word16 n_1 = static_cast<Word16>(N - 1), nb_pos = static_cast<Word16>(1 << n_1);
    Word16 A[6], B[6];
    int i = split_halves(pos, 6, nb_pos, A, B);
    Word32 index;
    const Word32 top = Word32{1} << (6 * N - 5);
    switch (i) {
        case 0:
            index = L_add(L_add(top, amr_wb_quant_5p_5N(B, n_1) << N), amr_wb_quant_1p_N1(B[5], n_1));
            break;
        case 1:
            index = L_add(L_add(top, amr_wb_quant_5p_5N(B, n_1) << N), amr_wb_quant_1p_N1(A[0], n_1));
            break;
        case 2:
            index = L_add(L_add(top, amr_wb_quant_4p_4N(B, n_1) << (2 * n_1 + 1)), amr_wb_quant_2p_2N1(n_1, A[0], A[1]));
            break;
        case 3:
            index = L_add(amr_wb_quant_3p_3N1(n_1, A[0], A[1], A[2]) << (3 * n_1 + 1),
                          amr_wb_quant_3p_3N1(n_1, B[0], B[1], B[2]));
            break;
        case 4:
            i = 2;
            index = L_add(amr_wb_quant_4p_4N(A, n_1) << (2 * n_1 + 1), amr_wb_quant_2p_2N1(n_1, B[0], B[1]));
            break;
        case 5:
            i = 1;
            index = L_add(amr_wb_quant_5p_5N(A, n_1) << N, amr_wb_quant_1p_N1(B[0], n_1));
            break;
        default:
            i = 0;
            index = L_add(amr_wb_quant_5p_5N(A, n_1) << N, amr_wb_quant_1p_N1(A[5], n_1));
            break;
    }
    return L_add(index, (Word32{i} & 3) << (6 * N - 4));
}

// ---- target correlation and signs ----------------------------------------------------
void amr_wb_cor_h_x(const Word16* h, const Word16* x, Word16* dn) {
    Word32 y32[64], max[4];
    amr_wb_cor_h_x_MainLoop(h, x, y32);
    amr_wb_cor_h_x_Loop1(y32, max);
    Word32 tot = 1;
    for (int k = 0; k < 4; ++k) {
        Word32 t = max[k] >> 2;
        tot = L_add(tot, t);
        tot = L_add(tot, t >> 1);
    }
    amr_wb_cor_h_x_Loop2(y32, dn, static_cast<Word16>(norm_l(tot) - 4));
}

void amr_wb_ACELP_set_sign(Word16* dn, const Word16* cn, Word16* sign, Word16* vec, Word16* dn2, Word16 alp) {
    Word16 exp;
    Word32 s = amr_wb_Dot_product12s(cn, 64, &exp);
    amr_wb_Isqrt_n(&s, &exp);
    Word16 k_cn = round16(L_shl(s, static_cast<Word16>(exp + 5)));
    s = amr_wb_Dot_product12s(dn, 64, &exp);
    amr_wb_Isqrt_n(&s, &exp);
    Word16 k_dn = mult_r(alp, round16(L_shl(s, static_cast<Word16>(exp + 8))));
    amr_wb_ACELP_set_sign_loop1(cn, dn, k_cn, k_dn, dn2);
    amr_wb_ACELP_set_sign_loop2(sign, vec, dn, dn2);
}

// ---- two-track search ---------------------------------------------------------------
void amr_wb_ACELP_2t64_fx(Word16* dn, const Word16* cn, const Word16* H, Word16* code, Word16* y, Word16* index) {
    Word16 sign[64], vec[64], dn2[64];
    amr_wb_ACELP_set_sign(dn, cn, sign, vec, dn2, 8192);
    Word16 h_buf[128] = {}, h_inv_buf[128] = {};
    Word16* h = h_buf + 64;
    Word16* h_inv = h_inv_buf + 64;
    amr_wb_CopyL_SUBFR(H, h);
    amr_wb_CopyNeg(H, h_inv);
    Word16 rrixix[64], rrixiy[1024];
    amr_wb_ACELP_2t64_1st_storage_order(H, rrixix);
    amr_wb_ACELP_2t64_2nd_storage_order(H, rrixiy);
    amr_wb_ACELP_2t64_mod_rrixiy_signs(rrixiy, sign, vec);
    Word16 r = amr_wb_ACELP_2t64_search_ixiy(rrixix, rrixix + 32, rrixiy, dn);
    int ix = 2 * (r >> 5), iy = 2 * (r & 31) + 1;
    int i0 = ix >> 1, i1 = iy >> 1;
    amr_wb_Set_zero_L_SUBFR(code);
    const Word16 *p0, *p1;
    if (sign[ix] > 0) {
        code[ix] = 512;
        p0 = h - ix;
    } else {
        code[ix] = -512;
        i0 += 32;
        p0 = h_inv - ix;
    }
    if (sign[iy] > 0) {
        code[iy] = 512;
        p1 = h - iy;
    } else {
        code[iy] = -512;
        i1 += 32;
        p1 = h_inv - iy;
    }
    *index = static_cast<Word16>(i0 * 64 + i1);
    amr_wb_Vec_add_shr_r(y, p0, p1);
}

// ---- four-track depth-first search ---------------------------------------------------------
namespace {
struct Row {
    Word16 bits, nbiter, alp, nb_pulse, nbpos[10];
};
constexpr Row kRows[7] = {
    {20, 4, 8192, 4, {4, 8}},
    {36, 4, 4096, 8, {4, 8, 8}},
    {44, 4, 4096, 10, {4, 6, 8, 8}},
    {52, 4, 4096, 12, {4, 6, 8, 8}},
    {64, 3, 3277, 16, {4, 4, 6, 6, 8, 8}},
    {72, 3, 3072, 18, {2, 3, 4, 5, 6, 7, 8}},
    {88, 2, 2048, 24, {2, 2, 3, 4, 5, 6, 7, 8, 8, 8}},
};

const Word16* response(const Word16* sign, int pos, const Word16* h, const Word16* h_inv) {
    return (sign[pos] < 0 ? h_inv : h) - pos;
}
}  // namespace

void amr_wb_ACELP_4t64_fx(Word16* dn, const Word16* cn, const Word16* H, Word16* code, Word16* y, Word16 nbbits,
                          Word16 ser_size, Word16* index) {
    const Row* row = &kRows[0];
    for (const Row& r : kRows)
        if (r.bits == nbbits) row = &r;
    Word16 nbiter = row->nbiter;
    if (nbbits == 88 && ser_size > 462) nbiter = 1;
    const Word16 nb_pulse = row->nb_pulse;

    Word16 sign[64], vec_s[64], dn2[64];
    amr_wb_ACELP_set_sign(dn, cn, sign, vec_s, dn2, row->alp);
    Word16 dn2_t[64], pos_max[4];
    amr_wb_Reorder(dn2, dn2_t);
    amr_wb_ACELP_4t64_nb_max(dn2_t, pos_max);

    // Impulse response, halved for the larger codebooks when it is strong.
    Word16 h_buf[128] = {}, h_inv_buf[128] = {};
    Word16* h = h_buf + 64;
    Word16* h_inv = h_inv_buf + 64;
    Word16 h_shift = 0;
    if (nb_pulse >= 12 && extract_h(amr_wb_Vec_L_sqa(H, 64, 0)) > 1024) h_shift = 1;
    for (int i = 0; i < 64; ++i) h[i] = shr(H[i], h_shift);
    amr_wb_CopyNeg(h, h_inv);

    Word16 rrixix[64], rrixiy[1024], sign_t[64], vec_t[64], dn_t[64];
    amr_wb_ACELP_4t64_storage_orders(h, rrixix, rrixiy);
    amr_wb_Reorder(sign, sign_t);
    amr_wb_Reorder(vec_s, vec_t);
    amr_wb_ACELP_4t64_mod_rrixiy_signs(rrixiy, sign_t, vec_t);
    amr_wb_Reorder(dn, dn_t);

    Word16 psk = -1, alpk = 1;
    Word16 codvec[24], ind[24], ipos[36];
    for (int i = 0; i < nb_pulse; ++i) codvec[i] = static_cast<Word16>(i);
    Word16 vec[67] = {};
    for (int k = 0; k < nbiter; ++k) {
        for (int i = 0; i < nb_pulse; ++i) ipos[i] = amr_wb_tipos[4 * k + i];
        int pos;
        Word16 ps, alp;
        if (nbbits == 20) {
            pos = 0;
            ps = 0;
            alp = 0;
            for (int i = 0; i < 64; ++i) vec[i] = 0;
        } else if (nbbits == 36 || nbbits == 44) {
            pos = 2;
            int ix = ind[0] = pos_max[ipos[0]];
            int iy = ind[1] = pos_max[ipos[1]];
            ps = add(dn[ix], dn[iy]);
            int i = ix >> 2, j = iy >> 2;
            Word32 s = L_mult(rrixix[16 * ipos[0] + i], 4096);
            s = L_mac(s, rrixix[16 * ipos[1] + j], 4096);
            s = L_mac(s, rrixiy[256 * ipos[0] + 16 * i + j], 8192);
            alp = round16(s);
            const Word16* p0 = response(sign, ix, h, h_inv);
            const Word16* p1 = response(sign, iy, h, h_inv);
            for (int n = 0; n < 64; ++n) vec[n] = add(p0[n], p1[n]);
            if (nbbits == 44) {
                ipos[8] = 0;
                ipos[9] = 1;
            }
        } else {
            pos = 4;
            const Word16* p[4];
            ps = 0;
            for (int q = 0; q < 4; ++q) {
                ind[q] = pos_max[ipos[q]];
                ps = add(ps, dn[ind[q]]);
                p[q] = response(sign, ind[q], h, h_inv);
            }
            // The start vector of four pulses saturates as the standard's add.
            Word32 L = 0;
            for (int n = 0; n < 64; ++n) {
                vec[n] = add(add(add(p[0][n], p[1][n]), p[2][n]), p[3][n]);
                L = L_mac(L, vec[n], vec[n]);
            }
            alp = round16(L >> 3);
            if (nbbits == 72) {
                ipos[16] = 0;
                ipos[17] = 1;
            }
        }
        for (int j = pos, stg = 0; j < nb_pulse; j += 2, ++stg) {
            Word16 cor_x[16], cor_y[16];
            amr_wb_ACELP_4t64_cor_h_vec(h, vec, ipos[j], sign_t, rrixix, cor_x);
            amr_wb_ACELP_4t64_cor_h_vec(h, vec, ipos[j + 1], sign_t, rrixix, cor_y);
            Word16 r = amr_wb_ACELP_4t64_search_ixiy(row->nbpos[stg], ipos[j], ipos[j + 1], &alp, ps, dn_t, dn2_t,
                                                     cor_x, cor_y, rrixiy);
            int ix = ipos[j] + 4 * (r >> 4), iy = ipos[j + 1] + 4 * (r & 15);
            ind[j] = static_cast<Word16>(ix);
            ind[j + 1] = static_cast<Word16>(iy);
            ps = add(add(ps, dn[ix]), dn[iy]);
            amr_wb_ACELP_4t64_deep_final_sum(vec, response(sign, ix, h, h_inv), response(sign, iy, h, h_inv), vec);
        }
        ps = mult(ps, ps);
        Word32 s = L_msu(L_mult(alpk, ps), psk, alp);
        if (s > 0) {
            psk = ps;
            alpk = alp;
            for (int i = 0; i < nb_pulse; ++i) codvec[i] = ind[i];
            for (int i = 0; i < 64; ++i) y[i] = vec[i];
        }
    }

    amr_wb_Vec_shr_r(y, 3, 64);
    amr_wb_Set_zero_L_SUBFR(code);
    Word16 slots[24];
    for (Word16& s : slots) s = -1;
    const Word16 amp = static_cast<Word16>(512 >> h_shift);
    for (int k = 0; k < nb_pulse; ++k) {
        int p = codvec[k], t = p & 3;
        Word16 i = static_cast<Word16>(p >> 2);
        if (sign[p] > 0) {
            code[p] = add(code[p], amp);
        } else {
            code[p] = sub(code[p], amp);
            i = static_cast<Word16>(i + NB_POS);
        }
        int at = 6 * t;
        while (slots[at] >= 0) ++at;
        slots[at] = i;
    }
    for (int t = 0; t < 4; ++t) {
        const Word16* s = slots + 6 * t;
        Word32 L;
        switch (nbbits) {
            case 20:
                index[t] = static_cast<Word16>(amr_wb_quant_1p_N1(s[0], 4));
                break;
            case 36:
                index[t] = static_cast<Word16>(amr_wb_quant_2p_2N1(4, s[0], s[1]));
                break;
            case 44:
                index[t] = static_cast<Word16>(t < 2 ? amr_wb_quant_3p_3N1(4, s[0], s[1], s[2])
                                                     : amr_wb_quant_2p_2N1(4, s[0], s[1]));
                break;
            case 52:
                index[t] = static_cast<Word16>(amr_wb_quant_3p_3N1(4, s[0], s[1], s[2]));
                break;
            case 64:
                L = amr_wb_quant_4p_4N(s, 4);
                index[t] = static_cast<Word16>((L >> 14) & 3);
                index[t + 4] = static_cast<Word16>(L & 0x3FFF);
                break;
            case 72:
                if (t < 2) {
                    L = amr_wb_quant_5p_5N(s, 4);
                    index[t] = static_cast<Word16>((L >> 10) & 0x3FF);
                    index[t + 4] = static_cast<Word16>(L & 0x3FF);
                } else {
                    L = amr_wb_quant_4p_4N(s, 4);
                    index[t] = static_cast<Word16>((L >> 14) & 3);
                    index[t + 4] = static_cast<Word16>(L & 0x3FFF);
                }
                break;
            default:
                L = amr_wb_quant_6p_6N_2(s, 4);
                index[t] = static_cast<Word16>((L >> 11) & 0x7FF);
                index[t + 4] = static_cast<Word16>(L & 0x7FF);
                break;
        }
    }
}

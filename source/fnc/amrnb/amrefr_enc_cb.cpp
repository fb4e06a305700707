// Encoder algebraic codebook search for every mode: correlations and signs,
// the pulse searches on track-split data, code vector, filtered code vector and
// index coding.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

constexpr Word16 kGray[8] = {0, 1, 3, 2, 6, 4, 5, 7};
constexpr Word16 kTrackTable[20] = {0, 1, 0, 1, -1, 0, -1, 1, 0, 1, 0, 1, 0, -1, 1, 0, -1, 1, 0, 1};

// Search scratch (one encoder frame at a time).
Word16 g_rr[40 * 40];
Word16 g_rr_diag[40];
Word16 g_dn_split[40 + 2];
Word16 g_rr_split[41 * 40];
Word16* g_row_start[40];
Word16 g_dn2[40];

// The impulse response with 40 zero samples before it and one after.
struct HBuf {
    Word16 buf[81] = {};
    Word16* h() { return buf + 40; }
};

void split_matrix(const Word16* dn, int T) {
    amrefr_LoadRRSplit(g_rr, g_rr_split, T == 5 ? amrefr_src_i : amrefr_src_i_102);
    if (T == 5)
        amrefr_SplitInto5Tracks(dn, g_dn_split, g_rr_diag, &g_rr_split[1600]);
    else
        amrefr_SplitInto4Tracks(dn, g_dn_split, g_rr_diag, &g_rr_split[1600]);
    amrefr_GenRowStart(g_rr_split, g_row_start);
}

// The track pairs the two-pulse search visits, in order.
int pairs_2i40(Word16 subNr, Word16 mode, int (*pairs)[2]) {
    int n = 0;
    if (mode == MR59) {
        for (int t1 = 0; t1 < 2; ++t1)
            for (int t2 = 0; t2 < 4; ++t2) pairs[n][0] = amrefr_startPos1[t1], pairs[n++][1] = amrefr_startPos2[t2];
    } else {
        for (int t = 0; t < 2; ++t)
            pairs[n][0] = amrefr_startPos[2 * subNr + 8 * t], pairs[n++][1] = amrefr_startPos[2 * subNr + 1 + 8 * t];
    }
    return n;
}

// The two-pulse search reads only the 8 × 8 blocks of its track pairs from the
// split matrix: those blocks are filled, the rest of the matrix is not needed.
void split_matrix_2i40(const Word16* dn, Word16 subNr, Word16 mode) {
    amrefr_SplitInto5Tracks(dn, g_dn_split, g_rr_diag, &g_rr_split[1600]);
    amrefr_GenRowStart(g_rr_split, g_row_start);
    int pairs[8][2];
    const int n = pairs_2i40(subNr, mode, pairs);
    for (int p = 0; p < n; ++p) {
        const int first = static_cast<int>(g_row_start[pairs[p][0]] - g_rr_split) + 8 * pairs[p][1];
        for (int a = 0; a < 8; ++a)
            for (int b = 0; b < 8; ++b) {
                const int k = first + 200 * a + b;
                g_rr_split[k] = g_rr[static_cast<std::uint16_t>(amrefr_src_i[k]) >> 1];
            }
    }
}

// Two-pulse search over track pairs; the running best carries across pairs.
void search_2i40(Word16 subNr, Word16 mode, Word16* codvec) {
    const Word16* diag = &g_rr_split[1600];
    Word16 psk = -1, alpk = 1;
    codvec[0] = 0;
    codvec[1] = 1;
    auto pair = [&](int A, int B) {
        Word16 ps[64], alp[64];
        amrefr_search_i0i1_GenPS1(&g_dn_split[8 * A], &g_dn_split[8 * B], ps);
        amrefr_search_i0i1_GenAlp16(&diag[8 * A], g_row_start[A] + 8 * B, &diag[8 * B], alp);
        for (int k = 0; k < 64; ++k)
            if (L_msu(L_mult(alpk, ps[k]), psk, alp[k]) > 0) {
                psk = ps[k];
                alpk = alp[k];
                codvec[0] = static_cast<Word16>(5 * (k >> 3) + A);
                codvec[1] = static_cast<Word16>(5 * (k & 7) + B);
            }
    };
    int pairs[8][2];
    const int n = pairs_2i40(subNr, mode, pairs);
    for (int p = 0; p < n; ++p) pair(pairs[p][0], pairs[p][1]);
}

void search_3or4i40(int nb_pulse, Word16* codvec) {
    const Word16* diag = &g_rr_split[1600];
    Word16 psk = -1, alpk = 1;
    for (int i = 0; i < 4; ++i) codvec[i] = static_cast<Word16>(i);
    if (nb_pulse == 4) {
        Word16 reuse[54];
        amrefr_Search7K4(g_dn_split, g_dn2, g_row_start, diag, &amrefr_expanded_ipos_7K4[3], codvec, &psk, &alpk, 4,
                         &amrefr_control_7k4[0], reuse);
        amrefr_Search7K4(g_dn_split, g_dn2, g_row_start, diag, &amrefr_expanded_ipos_7K4[10], codvec, &psk, &alpk, 4,
                         &amrefr_control_7k4[4], reuse);
    } else {
        Word16 a[54], b[54];
        const int ipos[4] = {2, 7, 12, 17};
        for (int c = 0; c < 4; ++c) {
            amrefr_Search7K4(g_dn_split, g_dn2, g_row_start, diag, &amrefr_expanded_ipos_6k7[ipos[c]], codvec, &psk,
                             &alpk, 3, &amrefr_control_6k7[3 * c], (c & 1) ? b : a);
            amrefr_Copy_even(a, b, 18);
        }
    }
}

// Index of the 2/3/4-pulse codebooks; returns the position index and writes
// code, filtered code and the sign word.
Word16 build_code_low(Word16 mode, Word16 subNr, const Word16* codvec, const Word16* dn_sign, Word16* cod, Word16* h,
                      Word16* y, Word16* sign_word) {
    int npulse = mode <= MR59 ? 2 : (mode == MR67 ? 3 : 4);
    Word16 pos[4] = {0, 0, 0, 0}, amp[4] = {0, 0, 0, 0};
    for (int i = 0; i < 40; ++i) cod[i] = 0;
    Word16 indx = 0, rsign = 0;
    for (int k = 0; k < npulse; ++k) {
        Word16 i = codvec[k];
        Word16 index = mult(i, 6554);
        Word16 track = sub(i, extract_l(L_shr(L_mult(index, 5), 1)));
        int bit;
        if (mode <= MR515) {
            if (k == 0) {
                bit = 0;
                if (kTrackTable[5 * subNr + track] != 0) index = add(index, 64);
            } else {
                bit = 1;
                index = shl(index, 3);
            }
        } else if (mode == MR59) {
            if (track == 1 && k == 0) {
                bit = 0;
                index = shl(index, 1);
            } else if (track == 1) {
                bit = 1;
                index = add(shl(index, 6), 16);
            } else if (track == 0) {
                bit = 1;
                index = shl(index, 6);
            } else if (track == 2) {
                bit = 1;
                index = add(shl(index, 6), 32);
            } else if (track == 3) {
                bit = 0;
                index = add(shl(index, 1), 1);
            } else {
                bit = 1;
                index = add(shl(index, 6), 48);
            }
        } else if (mode == MR67) {
            static constexpr Word16 kShift[5] = {0, 4, 8, 4, 8}, kAdd[5] = {0, 0, 0, 8, 128}, kBit[5] = {0, 1, 2, 1, 2};
            bit = kBit[track];
            index = add(shl(index, kShift[track]), kAdd[track]);
        } else {
            static constexpr Word16 kShift[5] = {0, 3, 6, 10, 10}, kAdd[5] = {0, 0, 0, 0, 512}, kBit[5] = {0, 1, 2, 3, 3};
            bit = kBit[track];
            index = add(shl(kGray[index], kShift[track]), kAdd[track]);
        }
        if (dn_sign[i] > 0) {
            cod[i] = 8191;
            amp[k] = 32767;
            rsign = add(rsign, shl(1, static_cast<Word16>(bit)));
        } else {
            cod[i] = -8192;
            amp[k] = -32768;
        }
        pos[k] = i;
        indx = add(indx, index);
    }
    *sign_word = rsign;
    amrefr_Gen_ACELP_Vec(pos, amp, h, y, static_cast<Word16>(npulse == 2 ? 1 : 2));
    return indx;
}

Word16 code_Xi40_Ybits(const Word16* x, Word16* h, Word16* code, Word16* y, Word16* sign_word, Word16 mode,
                       Word16 subNr) {
    Word16 xb[52] = {};
    std::memcpy(xb, x, 40 * sizeof(Word16));
    Word16 dn[40], dn_sign[40], tmp[40];
    amrefr_cor_h_x2_v2(h, xb, dn, 1);
    amrefr_SetSign(dn, g_dn2, tmp, dn_sign);
    int n = mode <= MR59 ? 8 : (mode == MR67 ? 6 : 4);
    if (n < 8) amrefr_ClearMinM(g_dn2, tmp, static_cast<Word16>(n));
    amrefr_cor_h(h, dn_sign, g_rr, g_rr_diag);
    Word16 codvec[4];
    if (mode <= MR59) {
        split_matrix_2i40(dn, subNr, mode);
        search_2i40(subNr, mode, codvec);
    } else {
        split_matrix(dn, 5);
        search_3or4i40(mode == MR67 ? 3 : 4, codvec);
    }
    return build_code_low(mode, subNr, codvec, dn_sign, code, h, y, sign_word);
}

// ---------------------------------------------------------------------------
// Eight and ten pulses.

void set_sign12k2(Word16* dn, const Word16* cn, Word16* sign, Word16* pos_max, int nb_track, Word16* ipos, int step) {
    Word16 k_cn = extract_h(L_shl(amrefr_Inv_sqrt(amrefr_Vec_L_sqa_40(cn, 256)), 5));
    Word16 k_dn = extract_h(L_shl(amrefr_Inv_sqrt(amrefr_Vec_L_sqa_40(dn, 256)), 5));
    Word16 en[40];
    amrefr_Set_const_8(sign, 32767, 40);
    amrefr_SetSign12K2_lp1(k_cn, k_dn, cn, dn, en, sign);
    Word16 max_of_all = -1;
    for (int i = 0; i < nb_track; ++i) {
        Word16 max = -1;
        Word16 pos = static_cast<Word16>(i);
        for (int j = i; j < 40; j += step)
            if (en[j] > max) {
                max = en[j];
                pos = static_cast<Word16>(j);
            }
        pos_max[i] = pos;
        if (max > max_of_all) {
            max_of_all = max;
            ipos[0] = static_cast<Word16>(i);
        }
    }
    Word16 pos = ipos[0];
    ipos[nb_track] = pos;
    for (int i = 1; i < nb_track; ++i) {
        pos = static_cast<Word16>(pos + 1 >= nb_track ? 0 : pos + 1);
        ipos[i] = pos;
        ipos[i + nb_track] = pos;
    }
}

void search_10and8i40(int nbPulse, int T, const Word16* dn, const Word16* ipos_in, const Word16* pos_max,
                      Word16* codvec) {
    const int P = 40 / T, nbTracks = T;
    Word16 ipos[20];
    for (int i = 0; i < 2 * nbTracks; ++i) ipos[i] = ipos_in[i];
    for (int m = 0; m < nbTracks - 1; ++m) ipos[nbPulse + m] = ipos[1 + m];
    split_matrix(dn, T);
    const Word16* diag = &g_rr_split[1600];
    auto row = [&](int p) { return static_cast<const Word16*>(g_row_start[p]); };
    auto rr = [&](int a, int b) { return a >= b ? g_rr[40 * a + b] : g_rr[40 * b + a]; };

    Word16 ix[10] = {};
    ix[0] = pos_max[ipos[0]];
    Word16 psk = -1, alpk = 1;
    for (int i = 0; i < nbPulse; ++i) codvec[i] = static_cast<Word16>(i);
    for (int rot = 0; rot < nbTracks - 1; ++rot) {
        const Word16* ip = ipos + rot;
        ix[1] = pos_max[ip[1]];
        Word16 ps0 = wrap16(std::int32_t{dn[ix[0]]} + dn[ix[1]]);
        Word32 alp0 = L_mult(g_rr_diag[ix[0]], 2048);
        alp0 = L_mac(alp0, g_rr_diag[ix[1]], 2048);
        alp0 = L_mac(alp0, rr(ix[0], ix[1]), 4096);
        alp0 = L_add(alp0, 32768);
        Word16 sq = -1;
        const Word16* coeffs = amrefr_coeff_12k2;
        for (int x = 2; x < nbPulse; x += 2, coeffs += 6) {
            int ta = ip[x], tb = ip[x + 1];
            if (x > 2) alp0 = L_add(alp0 >> 1, 32768);
            Word32 alp1[12], s[12];
            if (T == 5) {
                amrefr_Do2Pulses_Loop2_MR122(alp1, diag + P * ta, row(ix[0]) + P * ta, row(ix[1]) + P * ta,
                                             coeffs[0], coeffs[1], alp0);
                amrefr_Do2Pulses_Loop2_MR122(s, diag + P * tb, row(ix[0]) + P * tb, row(ix[1]) + P * tb, coeffs[2],
                                             coeffs[3], 0);
            } else {
                amrefr_Do2Pulses_Loop2_MR102(alp1, diag + P * ta, row(ix[0]) + P * ta, row(ix[1]) + P * ta,
                                             coeffs[0], coeffs[1], alp0);
                amrefr_Do2Pulses_Loop2_MR102(s, diag + P * tb, row(ix[0]) + P * tb, row(ix[1]) + P * tb, coeffs[2],
                                             coeffs[3], 0);
            }
            for (int m = 2; m < x; m += 2) {
                const Word16* rows[4] = {row(ix[m]) + P * ta, row(ix[m + 1]) + P * ta, row(ix[m]) + P * tb,
                                         row(ix[m + 1]) + P * tb};
                if (T == 5)
                    amrefr_Do2Pulses_Loop1_MR122(alp1, s, rows, coeffs[1], coeffs[3]);
                else
                    amrefr_Do2Pulses_Loop1_MR102(alp1, s, rows, coeffs[1], coeffs[3]);
            }
            sq = -1;
            alp0 = 1;
            Word16 index;
            if (T == 5) {
                amrefr_CBS2_PulsePosition_MR122(&g_dn_split[8 * ta], &g_dn_split[8 * tb], ps0,
                                                g_row_start[ta] + 8 * tb, s, coeffs, alp1, &alp0, &sq, &index);
            } else {
                Word16 psq2[102], alp16[102];
                Word32 vals[12];
                amrefr_CBS2_GenPSQ2(psq2, &g_dn_split[10 * ta], &g_dn_split[10 * tb], ps0);
                amrefr_CBS2_GenALP_Vals(alp1, vals);
                amrefr_CBS2_GenALP16(alp16, g_row_start[ta] + 10 * tb, s, coeffs, vals);
                amrefr_CBS2_PulsePosition(psq2, alp16, &alp0, &sq, &index);
            }
            if (index >= 0) {
                int a = T == 5 ? index >> 3 : (index * 3277) >> 15;
                int b = index - P * a;
                ix[x] = static_cast<Word16>(ta + T * a);
                ix[x + 1] = static_cast<Word16>(tb + T * b);
                ps0 = wrap16(std::int32_t{ps0} + dn[ix[x]] + dn[ix[x + 1]]);
            }
        }
        Word16 alp = static_cast<Word16>(alp0 >> 16);
        if (L_sub(L_mult(psk, alp), L_mult(alpk, sq)) < 0) {
            psk = sq;
            alpk = alp;
            for (int i = 0; i < 10; ++i) codvec[i] = ix[i];
        }
    }
}

void build_code_12k2(const Word16* codvec, const Word16* sign, Word16* cod, Word16* h, Word16* y, Word16* indx) {
    Word16 amp[10];
    for (int i = 0; i < 40; ++i) cod[i] = 0;
    for (int i = 0; i < 5; ++i) indx[i] = -1;
    for (int k = 0; k < 10; ++k) {
        Word16 i = codvec[k];
        Word16 index = mult(i, 6554);
        Word16 track = sub(i, extract_l(L_shr(L_mult(index, 5), 1)));
        if (sign[i] > 0) {
            cod[i] = add(cod[i], 4096);
            amp[k] = 8192;
        } else {
            cod[i] = sub(cod[i], 4096);
            amp[k] = -8192;
            index = add(index, 8);
        }
        if (indx[track] < 0) {
            indx[track] = index;
        } else if (((index ^ indx[track]) & 8) == 0) {
            if (indx[track] <= index) {
                indx[track + 5] = index;
            } else {
                indx[track + 5] = indx[track];
                indx[track] = index;
            }
        } else if ((indx[track] & 7) <= (index & 7)) {
            indx[track + 5] = indx[track];
            indx[track] = index;
        } else {
            indx[track + 5] = index;
        }
    }
    amrefr_Gen_ACELP_Vec(codvec, amp, h, y, 5);
    for (int k = 0; k < 10; ++k) {
        Word16 t = indx[k];
        indx[k] = k < 5 ? static_cast<Word16>((t & 8) | kGray[t & 7]) : kGray[t & 7];
    }
}

void build_code_10k2(const Word16* codvec, const Word16* sign, Word16* cod, Word16* h, Word16* y, Word16* indx) {
    Word16 amp[8], sign_indx[4], pos_indx[8];
    for (int i = 0; i < 40; ++i) cod[i] = 0;
    for (int i = 0; i < 4; ++i) pos_indx[i] = sign_indx[i] = -1;
    for (int k = 0; k < 8; ++k) {
        Word16 i = codvec[k];
        Word16 pos_index = shr(i, 2);
        int track = i & 3;
        Word16 sign_index;
        if (sign[i] > 0) {
            cod[i] = add(cod[i], 8191);
            amp[k] = 32767;
            sign_index = 0;
        } else {
            cod[i] = sub(cod[i], 8191);
            amp[k] = -32768;
            sign_index = 1;
        }
        if (pos_indx[track] < 0) {
            pos_indx[track] = pos_index;
            sign_indx[track] = sign_index;
        } else if (((sign_index ^ sign_indx[track]) & 1) == 0) {
            if (pos_indx[track] > pos_index) {
                pos_indx[track + 4] = pos_indx[track];
                pos_indx[track] = pos_index;
            } else {
                pos_indx[track + 4] = pos_index;
            }
        } else if (pos_indx[track] <= pos_index) {
            pos_indx[track + 4] = pos_indx[track];
            pos_indx[track] = pos_index;
            sign_indx[track] = sign_index;
        } else {
            pos_indx[track + 4] = pos_index;
        }
    }
    amrefr_Gen_ACELP_Vec(codvec, amp, h, y, 4);
    for (int i = 0; i < 4; ++i) indx[i] = sign_indx[i];
    indx[4] = amrefr_compress10(pos_indx[0], pos_indx[4], pos_indx[1]);
    indx[5] = amrefr_compress10(pos_indx[2], pos_indx[6], pos_indx[5]);
    indx[6] = amrefr_compressLast(pos_indx[3], pos_indx[7]);
}

void code_10i40_35bits(const Word16* x, Word16* h, Word16* cod, Word16* y, const Word16* cn, Word16* indx,
                       bool flag_12k2) {
    Word16 xb[52] = {};
    std::memcpy(xb, x, 40 * sizeof(Word16));
    Word16 dn[40], sign[40], pos_max[5] = {}, ipos[10] = {};
    int T = flag_12k2 ? 5 : 4;
    if (flag_12k2)
        amrefr_cor_h_x2_v2(h, xb, dn, 2);
    else
        amrefr_cor_h_x2_v1(h, xb, dn, 2);
    set_sign12k2(dn, cn, sign, pos_max, T, ipos, T);
    amrefr_cor_h(h, sign, g_rr, g_rr_diag);
    Word16 codvec[10];
    search_10and8i40(flag_12k2 ? 10 : 8, T, dn, ipos, pos_max, codvec);
    if (flag_12k2)
        build_code_12k2(codvec, sign, cod, h, y, indx);
    else
        build_code_10k2(codvec, sign, cod, h, y, indx);
}

}  // namespace

void amrefr_cbsearch(const Word16* x, Word16* h_in, Word16 T0, Word16 pitch_sharp, Word16 gain_pit, const Word16* res2,
                     Word16* code, Word16* y, Word16** anap, Word16 mode, Word16 subNr) {
    HBuf hb;
    Word16* h = hb.h();
    std::memcpy(h, h_in, 40 * sizeof(Word16));
    Word16 factor = mode == MR122 ? shl(gain_pit, 1) : shl(pitch_sharp, 1);
    if (T0 < 40) amrefr_Vec_add_prev_mult(h, factor, T0);
    if (mode <= MR795) {
        Word16 sign_word;
        Word16 index = code_Xi40_Ybits(x, h, code, y, &sign_word, mode, subNr);
        *(*anap)++ = index;
        *(*anap)++ = sign_word;
    } else {
        code_10i40_35bits(x, h, code, y, res2, *anap, mode == MR122);
        *anap += mode == MR122 ? 10 : 7;
    }
    if (T0 < 40) amrefr_Vec_add_prev_mult(code, factor, T0);
}

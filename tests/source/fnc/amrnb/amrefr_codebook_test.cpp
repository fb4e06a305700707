// Codebook correlation, sign selection, pulse searches, LSF vector
// quantisation and gain searches: against the standard's sequential loops where
// the kernels agree with them, and expected values for the stated departures.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"
#include "amrefr_test_util.h"

using namespace amrefr_op;
using amrefr_test::Buf;
using amrefr_test::Rng;

namespace {

void cor_h_x_model(const Word16* h, const Word16* x, Word16* dn, int sf, int T) {
    Word32 y[40], tot = 5;
    for (int i = 0; i < 40; ++i) {
        Word32 s = 0;
        for (int j = i; j < 40; ++j) s = L_mac(s, x[j], h[j - i]);
        y[i] = s;
    }
    for (int t = 0; t < T; ++t) {
        Word32 max = 0;
        for (int i = t; i < 40; i += T) max = std::max(max, L_abs(y[i]));
        tot = L_add(tot, L_shr(max, 1));
    }
    Word16 j = sub(norm_l(tot), static_cast<Word16>(sf));
    for (int i = 0; i < 40; ++i) dn[i] = round16(L_shl(y[i], j));
}

}  // namespace

TEST(AmrnbCodebook, TargetCorrelationMatchesTheStandardWithAZeroTail) {
    Rng rng(21);
    for (int rep = 0; rep < 2000; ++rep) {
        Buf<Word16> h(41), x(52), dn(40), dm(40);
        rng.fill(h.get(), 40, 4096);
        rng.fill(x.get(), 40, rep % 3 ? 2000 : 20000);
        int T = rep % 2 ? 5 : 4, sf = 1 + rep % 2;
        (T == 5 ? amrefr_cor_h_x2_v2 : amrefr_cor_h_x2_v1)(h.get(), x.get(), dn.get(), static_cast<Word16>(sf));
        cor_h_x_model(h.get(), x.get(), dm.get(), sf, T);
        ASSERT_EQ(std::memcmp(dn.get(), dm.get(), 80), 0) << rep;
    }
    // A zero target: tot = 5 and dn all zero.
    Buf<Word16> h(41), x(52), dn(40);
    h[0] = 4096;
    amrefr_cor_h_x2_v2(h.get(), x.get(), dn.get(), 1);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(dn[i], 0);
    // x[40] reaches every output through h[40 − i].
    for (int i = 0; i <= 40; ++i) h[i] = 100;
    x[40] = 1000;
    amrefr_cor_h_x2_v2(h.get(), x.get(), dn.get(), 1);
    for (int i = 0; i < 40; ++i) EXPECT_NE(dn[i], 0) << i;
}

namespace {

void cor_h_model(const Word16* h, const Word16* sign, Word16* rr) {
    Word16 h2[40];
    Word32 s = 2;
    for (int i = 0; i < 40; ++i) s = L_mac(s, h[i], h[i]);
    if (sub(extract_h(s), 32767) == 0) {
        for (int i = 0; i < 40; ++i) h2[i] = shr(h[i], 1);
    } else {
        s = L_shr(s, 1);
        Word16 k = extract_h(L_shl(amrefr_Inv_sqrt(s), 7));
        k = mult(k, 32440);
        for (int i = 0; i < 40; ++i) h2[i] = round16(L_shl(L_mult(h[i], k), 9));
    }
    s = 0;
    for (int k = 0, ii = 39; k < 40; ++k, --ii) {
        s = L_mac(s, h2[k], h2[k]);
        rr[ii * 40 + ii] = round16(s);
    }
    for (int dec = 1; dec < 40; ++dec) {
        int j = 39, i = j - dec;
        s = 0;
        for (int k = 0; k < 40 - dec; ++k, --i, --j) {
            s = L_mac(s, h2[k], h2[k + dec]);
            rr[j * 40 + i] = mult(round16(s), mult(sign[i], sign[j]));
        }
    }
}

}  // namespace

TEST(AmrnbCodebook, CorrelationMatrixLowerTriangleEqualsTheStandard) {
    Rng rng(22);
    for (int rep = 0; rep < 300; ++rep) {
        Word16 h[40], sign[40];
        rng.fill(h, 40, rep % 5 ? 4096 : 32767);
        if (rep == 7) {
            for (Word16& v : h) v = 32767;  // energy reaching the halving path
        }
        for (Word16& s : sign) s = rng.uniform(0, 1) ? 32767 : -32767;
        Buf<Word16> rr(40 * 40), rm(40 * 40), diag(40);
        amrefr_cor_h(h, sign, rr.get(), diag.get());
        cor_h_model(h, sign, rm.get());
        for (int j = 0; j < 40; ++j) {
            ASSERT_EQ(diag[j], rm[41 * j]);
            for (int i = 0; i <= j; ++i) ASSERT_EQ(rr[40 * j + i], rm[40 * j + i]) << j << "," << i;
        }
    }
}

TEST(AmrnbCodebook, SignSelectionAndCandidateRemoval) {
    Rng rng(23);
    for (int rep = 0; rep < 1000; ++rep) {
        Word16 dn[40], dn2[40], tmp[40], sign[40], ref[40];
        rng.fill(dn, 40, 32767);
        if (rep % 4 == 0)
            for (int i = 0; i < 40; i += 7) dn[i] = dn[(i + 5) % 40];  // equal magnitudes in a track
        std::memcpy(ref, dn, sizeof(dn));
        amrefr_SetSign(dn, dn2, tmp, sign);
        int n = rep % 2 ? 4 : 6;
        amrefr_ClearMinM(dn2, tmp, static_cast<Word16>(n));
        // The standard: magnitudes, then per track 8 − n times the first smallest kept value.
        Word16 m2[40];
        for (int i = 0; i < 40; ++i) {
            ASSERT_EQ(sign[i], ref[i] >= 0 ? 32767 : -32767);
            m2[i] = abs_s(ref[i]);
            ASSERT_EQ(dn[i], m2[i]);
        }
        for (int t = 0; t < 5; ++t)
            for (int k = 0; k < 8 - n; ++k) {
                Word16 min = 32767;
                int pos = -1;
                for (int j = t; j < 40; j += 5)
                    if (m2[j] >= 0 && sub(m2[j], min) < 0) {
                        min = m2[j];
                        pos = j;
                    }
                ASSERT_GE(pos, 0);
                m2[pos] = -1;
            }
        for (int i = 0; i < 40; ++i) ASSERT_EQ(dn2[i] < 0, m2[i] < 0) << i;
    }
    // −32768 keeps its value (no saturation) and is never removed as a minimum.
    Word16 dn[40], dn2[40], tmp[40], sign[40];
    for (int i = 0; i < 40; ++i) dn[i] = static_cast<Word16>(100 + i);
    dn[0] = -32768;
    amrefr_SetSign(dn, dn2, tmp, sign);
    EXPECT_EQ(dn[0], -32768);
    EXPECT_EQ(dn2[0], -32768);
    EXPECT_EQ(sign[0], -32767);
    amrefr_ClearMinM(dn2, tmp, 1);
    EXPECT_EQ(dn2[0], -32768);
    // A track with nothing below 32767 loses its first position.
    for (int i = 0; i < 40; ++i) tmp[i] = dn2[i] = 32767;
    amrefr_ClearMinM(dn2, tmp, 7);
    for (int t = 0; t < 5; ++t) EXPECT_EQ(dn2[t], -1);

    // 12.2 kbit/s signs: cor = round(L_shl(2·k_cn·cn + 2·k_dn·dn, 10)).
    for (int rep = 0; rep < 500; ++rep) {
        Word16 cn[40], d[40], en[40], sg[40], d0[40];
        rng.fill_sat(cn, 40, 32767);
        rng.fill_sat(d, 40, 32767);
        std::memcpy(d0, d, sizeof(d));
        for (Word16& s : sg) s = 32767;
        Word16 k_cn = rng.w16(), k_dn = rng.w16();
        amrefr_SetSign12K2_lp1(k_cn, k_dn, cn, d, en, sg);
        for (int i = 0; i < 40; ++i) {
            Word16 cor = round16(L_shl(L_mac(L_mult(k_cn, cn[i]), k_dn, d0[i]), 10));
            ASSERT_EQ(en[i], cor == -32768 ? -32768 : abs_s(cor));
            ASSERT_EQ(sg[i], cor < 0 ? -32767 : 32767);
            ASSERT_EQ(d[i], cor < 0 ? wrap16(-std::int32_t{d0[i]}) : d0[i]);
        }
    }
}

TEST(AmrnbCodebook, PairTablesOfTheTwoPulseModes) {
    Rng rng(24);
    Word16 dnA[8], dnB[8], diagA[8], diagB[8], ps[64], alp[64];
    Buf<Word16> rows(200 * 7 + 8);
    rng.fill(dnA, 8, 32767);
    rng.fill(dnB, 8, 32767);
    rng.fill(diagA, 8, 32767);
    rng.fill(diagB, 8, 32767);
    rng.fill(rows.get(), 200 * 7 + 8, 32767);
    amrefr_search_i0i1_GenPS1(dnA, dnB, ps);
    amrefr_search_i0i1_GenAlp16(diagA, rows.get(), diagB, alp);
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) {
            Word16 p = add(dnA[a], dnB[b]);
            EXPECT_EQ(ps[8 * a + b], mult(p, p));
            Word32 s = L_mac(L_mac(L_mult(diagA[a], 8192), diagB[b], 8192), rows[200 * a + b], 16384);
            EXPECT_EQ(alp[8 * a + b], round16(s));
        }
    Word16 big[8] = {30000, 0, 0, 0, 0, 0, 0, 0}, more[8] = {30000, 0, 0, 0, 0, 0, 0, 0};
    amrefr_search_i0i1_GenPS1(big, more, ps);
    EXPECT_EQ(ps[0], 32766);
}

namespace {

struct Split {
    Word16 dn_split[40], diag_split[40], rr_split[41 * 40];
    Word16* row_start[40];
};

void make_split(Rng& rng, Split& s, Word16* dn2, int keep) {
    Word16 dn[40], diag[40];
    Buf<Word16> rr(40 * 40);
    for (int i = 0; i < 40; ++i) dn[i] = static_cast<Word16>(rng.uniform(0, 4000));
    // Energies stay positive (dominant diagonal), as those of a real impulse response.
    for (int i = 0; i < 40; ++i) diag[i] = static_cast<Word16>(rng.uniform(6000, 8000));
    for (int j = 0; j < 40; ++j)
        for (int i = 0; i <= j; ++i) rr[40 * j + i] = i == j ? diag[i] : static_cast<Word16>(rng.uniform(-1000, 1000));
    amrefr_LoadRRSplit(rr.get(), s.rr_split, amrefr_src_i);
    amrefr_SplitInto5Tracks(dn, s.dn_split, diag, s.diag_split);
    amrefr_GenRowStart(s.rr_split, s.row_start);
    for (int i = 0; i < 40; ++i) dn2[i] = dn[i];
    for (int t = 0; t < 5; ++t)  // remove 8 − keep random positions of each track
        for (int r = 0; r < 8 - keep; ++r) {
            int p;
            do p = t + 5 * rng.uniform(0, 7);
            while (dn2[p] < 0);
            dn2[p] = -1;
        }
}

// Depth-first search written from the definition: no reuse buffer, a strict
// first-best scan inside each track (the order of the candidates within a
// track only matters on ties, which these random values avoid).
void search_model(const Split& s, const Word16* dn2, const Word16* ipos, int nb, Word16* codvec, Word16* psk,
                  Word16* alpk) {
    for (int q = 0; q < nb; ++q) {
        int off[4];
        for (int p = 0; p < nb; ++p) off[p] = ipos[-q + p];
        for (int k = 0; k < 8; ++k) {
            int i0 = off[0] / 8 + 5 * k;
            if (dn2[i0] < 0) continue;
            int pos[4] = {i0};
            Word16 ps = s.dn_split[off[0] + k];
            Word16 alp = 0;
            for (int p = 1; p < nb; ++p) {
                Word16 bsq = -1, balp = 1, bps = 0;
                int bj = 0;
                for (int j = 0; j < 8; ++j) {
                    Word16 ps1 = wrap16(std::int32_t{ps} + s.dn_split[off[p] + j]);
                    Word32 a;
                    if (p == 1) {
                        a = L_add(s.diag_split[off[0] + k] * 16384 + 32768, L_mult(s.diag_split[off[1] + j], 8192));
                        a = L_add(a, L_mult(s.row_start[i0][off[1] + j], 16384));
                    } else {
                        a = p == 2 ? static_cast<Word32>(static_cast<std::uint16_t>(alp) * 16384u + 32768u)
                                   : L_add(L_deposit_h(alp), 32768);
                        a = L_add(a, L_mult(s.diag_split[off[p] + j], 2048));
                        for (int m = p - 1; m >= 0; --m) a = L_add(a, L_mult(s.row_start[pos[m]][off[p] + j], 4096));
                    }
                    Word16 sq1 = mult(ps1, ps1), a16 = extract_h(a);
                    if (L_msu(L_mult(balp, sq1), bsq, a16) > 0) {
                        bsq = sq1;
                        balp = a16;
                        bps = ps1;
                        bj = j;
                    }
                }
                ps = bps;
                alp = balp;
                pos[p] = off[p] / 8 + 5 * bj;
            }
            Word16 sq = mult(ps, ps);
            if (L_msu(L_mult(*alpk, sq), *psk, alp) > 0) {
                *psk = sq;
                *alpk = alp;
                for (int p = 0; p < nb; ++p) codvec[p] = static_cast<Word16>(pos[p]);
            }
        }
    }
}

}  // namespace

TEST(AmrnbCodebook, ThreeAndFourPulseSearchWithReuseEqualsThePlainSearch) {
    Rng rng(25);
    for (int rep = 0; rep < 300; ++rep) {
        Split s;
        Word16 dn2[40];
        bool four = rep % 2;
        make_split(rng, s, dn2, four ? 4 : 6);
        Word16 cv[4] = {0, 0, 0, 0}, psk = -1, alpk = 1;
        Word16 mv[4] = {0, 0, 0, 0}, mpsk = -1, malpk = 1;
        if (four) {
            Word16 reuse[3 * 8 * 2];
            amrefr_Search7K4(s.dn_split, dn2, s.row_start, s.diag_split, &amrefr_expanded_ipos_7K4[3], cv, &psk, &alpk,
                             4, &amrefr_control_7k4[0], reuse);
            amrefr_Search7K4(s.dn_split, dn2, s.row_start, s.diag_split, &amrefr_expanded_ipos_7K4[10], cv, &psk,
                             &alpk, 4, &amrefr_control_7k4[4], reuse);
            search_model(s, dn2, &amrefr_expanded_ipos_7K4[3], 4, mv, &mpsk, &malpk);
            search_model(s, dn2, &amrefr_expanded_ipos_7K4[10], 4, mv, &mpsk, &malpk);
        } else {
            Word16 A[3 * 8 * 2], B[3 * 8 * 2];
            const int ip[4] = {2, 7, 12, 17};
            for (int c = 0; c < 4; ++c) {
                amrefr_Search7K4(s.dn_split, dn2, s.row_start, s.diag_split, &amrefr_expanded_ipos_6k7[ip[c]], cv,
                                 &psk, &alpk, 3, &amrefr_control_6k7[3 * c], c % 2 ? B : A);
                std::memcpy(B, A, 18 * sizeof(Word16));
                search_model(s, dn2, &amrefr_expanded_ipos_6k7[ip[c]], 3, mv, &mpsk, &malpk);
            }
        }
        ASSERT_EQ(psk, mpsk) << rep;
        ASSERT_EQ(alpk, malpk) << rep;
        for (int p = 0; p < (four ? 4 : 3); ++p) ASSERT_EQ(cv[p], mv[p]) << rep << " pulse " << p;
    }
}

TEST(AmrnbCodebook, TrackSelectionPrefersTheLaneOrderOnTies) {
    // Candidates 1 and 4 of the second track equally best, the others worse:
    // lane 0 takes 4 over 0, lane 1 keeps 1, and 4 wins (a sequential scan gives 1).
    Split s{};
    for (int p = 0; p < 40; ++p) s.row_start[p] = s.rr_split + 40 * p;
    for (Word16& d : s.diag_split) d = 4096;  // equal positive energies
    Word16 dn2[40];
    for (Word16& d : dn2) d = -1;
    dn2[0] = 1;  // only position 0 may start an ordering
    for (int j = 0; j < 8; ++j) s.dn_split[8 + j] = 10;
    s.dn_split[8 + 1] = s.dn_split[8 + 4] = 1000;
    // Orderings (0, 1, 2), (1, 0, 1), (2, 1, 0): only the first starts on track 0.
    const Word16 ipos[5] = {16, 8, 0, 8, 16};
    const Word16 ctl[3] = {2, 2, 2};
    Word16 cv[4] = {}, psk = -1, alpk = 1;
    amrefr_Search7K4(s.dn_split, dn2, s.row_start, s.diag_split, &ipos[2], cv, &psk, &alpk, 3, ctl, nullptr);
    EXPECT_EQ(cv[0], 0);
    EXPECT_EQ(cv[1], 1 + 5 * 4);
    // Equal final criteria keep the earlier combination; nothing better keeps the caller's values.
    Word16 cv2[4] = {7, 7, 7, 7}, psk2 = 32767, alpk2 = 1;
    amrefr_Search7K4(s.dn_split, dn2, s.row_start, s.diag_split, &ipos[2], cv2, &psk2, &alpk2, 3, ctl, nullptr);
    EXPECT_EQ(cv2[0], 7);
    EXPECT_EQ(psk2, 32767);
}

TEST(AmrnbCodebook, CodeVectorFilteringAndIndexPacking) {
    Rng rng(26);
    Buf<Word16> hb(80), y(40);
    Word16* h = hb.get() + 40;
    for (int i = -40; i < 0; ++i) h[i] = 999;  // whatever was there
    rng.fill(h, 40, 4096);
    Word16 pos[10], amp[10];
    for (int m = 0; m < 10; ++m) {
        pos[m] = static_cast<Word16>(rng.uniform(0, 39));
        amp[m] = rng.uniform(0, 1) ? 8192 : -8192;
    }
    amrefr_Gen_ACELP_Vec(pos, amp, h, y.get(), 5);
    for (int i = -40; i < 0; ++i) EXPECT_EQ(h[i], 0);
    for (int i = 0; i < 40; ++i) {
        Word32 s = 0;
        for (int m = 0; m < 10; ++m) s = L_mac(s, i >= pos[m] ? h[i - pos[m]] : 0, amp[m]);
        EXPECT_EQ(y[i], round16(s));
    }
    Word16 p0[2] = {0, 0}, a0[2] = {32767, 0};
    amrefr_Gen_ACELP_Vec(p0, a0, h, y.get(), 1);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(y[i], round16(L_mult(h[i], 32767)));

    EXPECT_EQ(amrefr_compress10(0, 0, 0), 0);
    EXPECT_EQ(amrefr_compress10(9, 9, 9), 999);
    EXPECT_EQ(amrefr_compress10(1, 2, 4), 441);
    EXPECT_EQ(amrefr_compressLast(9, 9), 127);
    EXPECT_EQ(amrefr_compressLast(7, 2), 33);
    EXPECT_EQ(amrefr_compressLast(0, 0), 0);
}

TEST(AmrnbCodebook, SplitLayoutAndLevelSums) {
    Rng rng(27);
    Buf<Word16> rr(1600), sym(1600), split(1600), split2(1600);
    rng.fill(rr.get(), 1600, 32767);
    std::memcpy(sym.get(), rr.get(), 3200);
    for (int j = 0; j < 40; ++j)
        for (int i = j + 1; i < 40; ++i) sym[40 * j + i] = sym[40 * i + j];
    for (int t : {5, 4}) {
        const Word16* table = t == 5 ? amrefr_src_i : amrefr_src_i_102;
        int P = 40 / t;
        amrefr_LoadRRSplit(rr.get(), split.get(), table);
        amrefr_LoadRRSplit(sym.get(), split2.get(), table);
        EXPECT_EQ(std::memcmp(split.get(), split2.get(), 3200), 0);  // the upper triangle is never read
        for (int p = 0; p < 40; ++p)
            for (int c = 0; c < 40; ++c) {
                int q = c / P + t * (c % P);
                ASSERT_EQ(split[40 * p + c], sym[40 * p + q]);
            }
    }
    Word16 dn[40], diag[40], ds[40], dgs[40];
    for (int i = 0; i < 40; ++i) dn[i] = static_cast<Word16>(i), diag[i] = static_cast<Word16>(100 + i);
    amrefr_SplitInto5Tracks(dn, ds, diag, dgs);
    EXPECT_EQ(ds[13], 26);  // position 26: track 1, index 5
    amrefr_SplitInto4Tracks(dn, ds, diag, dgs);
    EXPECT_EQ(ds[26], 26);  // position 26: track 2, index 6
    EXPECT_EQ(dgs[26], 126);
    Word16* rs[40];
    amrefr_GenRowStart(split.get(), rs);
    for (int p = 0; p < 40; ++p) EXPECT_EQ(rs[p], split.get() + 40 * p);

    Word16 d[12], ra[12], rb[12];
    rng.fill_sat(d, 12, 32767);
    rng.fill_sat(ra, 12, 32767);
    rng.fill_sat(rb, 12, 32767);
    Word32 out[12], alp1[12], sb[12];
    Word32 init = rng.w32();
    amrefr_Do2Pulses_Loop2_MR102(out, d, ra, rb, 2048, 4096, init);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(out[k], L_mac(L_mac(L_mac(init, d[k], 2048), ra[k], 4096), rb[k], 4096));
    for (int k = 0; k < 12; ++k) alp1[k] = out[k], sb[k] = -out[k];
    const Word16* rows[4] = {ra, rb, d, ra};
    amrefr_Do2Pulses_Loop1_MR122(alp1, sb, rows, 512, 1024);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(alp1[k], L_mac(L_mac(out[k], ra[k], 512), rb[k], 512));
        EXPECT_EQ(sb[k], L_mac(L_mac(-out[k], d[k], 1024), ra[k], 1024));
    }
}

namespace {

// The pair choice written from its definition: four interleaved sub-searches
// (first best by the strict criterion), merged in order into the incoming pair.
int choose_model(int count, const Word16* sq2, const Word16* alp16, Word16 sq_in, Word16 alp_in) {
    Word16 bs[4], ba[4];
    int bk[4];
    for (int m = 0; m < 4; ++m) bs[m] = sq2[m], ba[m] = alp16[m], bk[m] = m;
    for (int k = 4; k < count; ++k) {
        int m = k % 4;
        if (std::int64_t{sq2[k]} * ba[m] > std::int64_t{bs[m]} * alp16[k]) bs[m] = sq2[k], ba[m] = alp16[k], bk[m] = k;
    }
    Word16 cs = sq_in, ca = alp_in;
    int ck = 4;
    for (int m = 0; m < 4; ++m)
        if (std::int64_t{bs[m]} * ca > std::int64_t{cs} * ba[m]) cs = bs[m], ca = ba[m], ck = bk[m];
    return ck;
}

}  // namespace

TEST(AmrnbCodebook, PairChoiceOfTheTenAndEightPulseSearch) {
    Rng rng(28);
    for (int rep = 0; rep < 500; ++rep) {
        // 10.2 kbit/s chain from its tables.
        Word16 dn_a[10], dn_b[10], rr[160 * 9 + 10], coeffs[6] = {0, 0, 0, 0, 8192, 2048};
        rng.fill(dn_a, 10, 3000);
        rng.fill(dn_b, 10, 3000);
        rng.fill(rr, 160 * 9 + 10, 3000);
        Word32 s[12], alp1[12], vals[12];
        for (int k = 0; k < 12; ++k) {
            s[k] = rng.uniform(0, 100000000);
            alp1[k] = 32768 + rng.uniform(50000000, 200000000);
        }
        Word16 ps0 = static_cast<Word16>(rng.uniform(0, 5000));
        Buf<Word16> psq2(102), a16(102);
        amrefr_CBS2_GenPSQ2(psq2.get(), dn_a, dn_b, ps0);
        amrefr_CBS2_GenALP_Vals(alp1, vals);
        amrefr_CBS2_GenALP16(a16.get(), rr, s, coeffs, vals);
        for (int a = 0; a < 10; ++a)
            for (int b = 0; b < 10; ++b) {
                Word16 ps = wrap16(std::int32_t{ps0} + dn_a[a] + dn_b[b]);
                ASSERT_EQ(psq2[10 * a + b], mult(ps, ps));
                ASSERT_EQ(a16[10 * a + b], extract_h(L_mac(L_mac(alp1[a], rr[160 * a + b], 2048), round16(s[b]), 8192)));
            }
        Word32 alp0 = 1;
        Word16 sq = -1, index = -1;
        amrefr_CBS2_PulsePosition(psq2.get(), a16.get(), &alp0, &sq, &index);
        int want = choose_model(100, psq2.get(), a16.get(), -1, 0);
        ASSERT_EQ(index, want);
        ASSERT_EQ(sq, psq2[want]);
        ASSERT_EQ(alp0, a16[want] * 65536);

        // 12.2 kbit/s in one pass.
        Word16 rr122[200 * 7 + 8], q2[64], al[64];
        rng.fill(rr122, 200 * 7 + 8, 3000);
        for (int a = 0; a < 8; ++a)
            for (int b = 0; b < 8; ++b) {
                Word16 ps = wrap16(std::int32_t{ps0} + dn_a[a] + dn_b[b]);
                q2[8 * a + b] = mult(ps, ps);
                al[8 * a + b] = extract_h(L_mac(L_mac(alp1[a], rr122[200 * a + b], 2048), round16(s[b]), 8192));
            }
        alp0 = 1;
        sq = -1;
        amrefr_CBS2_PulsePosition_MR122(dn_a, dn_b, ps0, rr122, s, coeffs, alp1, &alp0, &sq, &index);
        ASSERT_EQ(index, choose_model(64, q2, al, -1, 0));
    }
}

TEST(AmrnbCodebook, PairChoiceTiesAndWrapping) {
    Buf<Word16> psq2(102), a16(102);
    for (int k = 0; k < 100; ++k) psq2[k] = 10, a16[k] = 100;
    psq2[1] = psq2[4] = 1000;
    Word32 alp0 = 1;
    Word16 sq = -1, index;
    amrefr_CBS2_PulsePosition(psq2.get(), a16.get(), &alp0, &sq, &index);
    EXPECT_EQ(index, 4);  // a first-maximum scan would give 1
    psq2[1] = 10;
    psq2[8] = 1000;
    alp0 = 1;
    sq = -1;
    amrefr_CBS2_PulsePosition(psq2.get(), a16.get(), &alp0, &sq, &index);
    EXPECT_EQ(index, 4);
    // The sum of correlations wraps before squaring.
    Word16 dn_a[10] = {2000}, dn_b[10] = {1000};
    amrefr_CBS2_GenPSQ2(psq2.get(), dn_a, dn_b, 30000);
    EXPECT_EQ(psq2[0], mult(-32536, -32536));
    // Energies whose upper half is −32768 come out one higher.
    Word32 in[12] = {1000, static_cast<Word32>(0x80000000u)}, out[12];
    amrefr_CBS2_GenALP_Vals(in, out);
    EXPECT_EQ(out[0], 1000);
    EXPECT_EQ(out[1], -2147483647);
    Word32 rrv[8] = {2147450880, 0x7FFFFFFF, -5, 32768, 0, 65535, -32769, 100000};
    amrefr_CBS2_GenRRV8(rrv);
    Word16 r16[8];
    std::memcpy(r16, rrv, sizeof(r16));
    EXPECT_EQ(r16[0], 32767);
    EXPECT_EQ(r16[1], 32767);
    EXPECT_EQ(r16[3], 1);
    EXPECT_EQ(r16[7], 2);
}

namespace {

// The standard's weighted search: saturating difference, mult by the weight.
int vq_model(const Word16* x, const Word16* dico, const Word16* w, int dim, int count, int step, int sign,
             Word32* dist_out) {
    Word32 best = 0x7FFFFFFF;
    int bi = 0;
    for (int n = 0; n < count; ++n) {
        int i = n * step;
        Word32 d = 0;
        for (int c = 0; c < dim; ++c) {
            Word16 e = dico[4 * dim * (i / 4) + 4 * c + i % 4];
            Word16 t = mult(w[c], sign > 0 ? sub(x[c], e) : add(x[c], e));
            d = L_mac(d, t, t);
        }
        if (d < best) best = d, bi = n;
    }
    *dist_out = best;
    return bi;
}

}  // namespace

TEST(AmrnbCodebook, LsfSplitSearchesMatchTheStandardOnTheCodebooks) {
    Rng rng(29);
    struct Book {
        const Word16* dico;
        int dim, size;
    } books[] = {{amrefr_reordered_dico1_lsf, 3, 256},   {amrefr_reordered_dico2_lsf, 3, 512},
                 {amrefr_reordered_dico3_lsf, 4, 512},   {amrefr_reordered_mr515_3_lsf, 4, 128},
                 {amrefr_reordered_mr795_1_lsf, 3, 512}, {amrefr_reordered_dico1_5_lsf, 4, 128},
                 {amrefr_reordered_dico2_5_lsf, 4, 256}, {amrefr_reordered_dico4_5_lsf, 4, 256},
                 {amrefr_reordered_dico5_5_lsf, 4, 64}};
    for (int rep = 0; rep < 200; ++rep)
        for (const Book& b : books) {
            Word16 x[4], w[4] = {0, 0, 0, 0}, xk[4];
            rng.fill(x, 4, 2000);
            for (int c = 0; c < b.dim; ++c) w[c] = static_cast<Word16>(rng.uniform(1000, 20000));
            std::memcpy(xk, x, sizeof(x));
            Word32 d;
            Word16 got = b.dim == 4 ? amrefr_reordered_Vq_subvec4(xk, b.dico, w, static_cast<Word16>(b.size))
                                    : amrefr_reordered_Vq_subvec3a(xk, b.dico, w, static_cast<Word16>(b.size));
            int want = vq_model(x, b.dico, w, b.dim, b.size, 1, 1, &d);
            ASSERT_EQ(got, want);
            for (int c = 0; c < b.dim; ++c) ASSERT_EQ(xk[c], b.dico[4 * b.dim * (want / 4) + 4 * c + want % 4]);
            if (b.dim == 3 && b.size == 512) {
                std::memcpy(xk, x, sizeof(x));
                ASSERT_EQ(amrefr_reordered_Vq_subvec3b(xk, b.dico, w, 256), vq_model(x, b.dico, w, 3, 256, 2, 1, &d));
            }
        }
    for (int rep = 0; rep < 300; ++rep) {
        Word16 x[4], w[4], xk[4];
        rng.fill(x, 4, 2500);
        for (Word16& v : w) v = static_cast<Word16>(rng.uniform(1000, 20000));
        std::memcpy(xk, x, sizeof(x));
        Word32 dp, dm;
        int ip = vq_model(x, amrefr_reordered_dico3_5_lsf, w, 4, 256, 1, 1, &dp);
        int im = vq_model(x, amrefr_reordered_dico3_5_lsf, w, 4, 256, 1, -1, &dm);
        int want = (dm < dp || (dm == dp && im < ip)) ? 2 * im + 1 : 2 * ip;
        ASSERT_EQ(amrefr_reordered_Vq_subvec_s(xk, amrefr_reordered_dico3_5_lsf, w, 256), want);
    }
}

TEST(AmrnbCodebook, LsfSearchTiesSignsAndWideDifferences) {
    // Small codebooks in block layout with chosen ties.
    auto book4 = [](std::vector<std::array<Word16, 4>> entries, Word16* out) {
        for (std::size_t i = 0; i < entries.size(); ++i)
            for (int c = 0; c < 4; ++c) out[16 * (i / 4) + 4 * c + i % 4] = entries[i][c];
    };
    std::vector<std::array<Word16, 4>> e(16, {9, 9, 9, 9});
    Word16 dico[64];
    Word16 w[4] = {32767, 32767, 32767, 32767};
    e[2] = e[5] = {1, 0, 0, 0};
    book4(e, dico);
    Word16 x[4] = {0, 0, 0, 0};
    EXPECT_EQ(amrefr_reordered_Vq_subvec4(x, dico, w, 16), 2);  // equal distances at 2 and 5
    EXPECT_EQ(x[0], 1);
    e[2] = e[5] = {9, 9, 9, 9};
    e[7] = e[12] = {3, 3, 0, 0};
    book4(e, dico);
    Word16 x7[4] = {3, 3, 0, 0};
    EXPECT_EQ(amrefr_reordered_Vq_subvec4(x7, dico, w, 16), 7);
    // Signed search: a tie at one entry keeps the positive sign; the positive at 3
    // and the negative at 1 tie, and the lower index wins with its sign.
    e.assign(16, {9, 9, 9, 9});
    e[3] = {0, 0, 0, 0};
    book4(e, dico);
    Word16 xz[4] = {0, 0, 0, 0};
    EXPECT_EQ(amrefr_reordered_Vq_subvec_s(xz, dico, w, 16), 6);
    e[3] = {100, 0, 0, 0};
    e[1] = {-100, 0, 0, 0};
    book4(e, dico);
    Word16 xt[4] = {100, 0, 0, 0};
    EXPECT_EQ(amrefr_reordered_Vq_subvec_s(xt, dico, w, 16), 3);
    EXPECT_EQ(xt[0], 100);  // the negated entry 1
    Word16 xn[4] = {-9, -9, -9, -9};
    e.assign(16, {9, 9, 9, 9});
    book4(e, dico);
    EXPECT_EQ(amrefr_reordered_Vq_subvec_s(xn, dico, w, 16), 1);
    EXPECT_EQ(xn[0], -9);
    // Every distance saturated: index 0 and entry 0.
    e.assign(16, {-32767, -32767, -32767, -32767});
    book4(e, dico);
    Word16 xs[4] = {32767, 32767, 32767, 32767};
    EXPECT_EQ(amrefr_reordered_Vq_subvec4(xs, dico, w, 16), 0);
    // The half search never takes an odd entry.
    Word16 d3[24] = {};
    for (int c = 0; c < 3; ++c) d3[4 * c + 1] = 50;  // entry 1 = (50, 50, 50)
    Word16 x3[4] = {50, 50, 50, 0};
    EXPECT_EQ(amrefr_reordered_Vq_subvec3b(x3, d3, w, 4), 0);
    EXPECT_EQ(x3[0], 0);
    // A difference beyond 16 bits is not clipped: x 20000, d −20000, w 8192 gives
    // t = 10000 (the standard: 8191), so entry 1 at t = 9000 wins here.
    Word16 d1[12] = {-20000, -16000, -30000, -30000, 0, 0, 0, 0, 0, 0, 0, 0};
    Word16 x1[4] = {20000, 0, 0, 0}, w1[4] = {8192, 0, 0, 0};
    EXPECT_EQ(amrefr_reordered_Vq_subvec3a(x1, d1, w1, 4), 1);
}

TEST(AmrnbGain, DistancesAreHalfTheStandardCriterion) {
    // floor(coeff·t / 2^15) with coeff = hi·2^15 + lo is half of Mpy_32_16(hi, lo, t).
    Rng rng(30);
    for (int rep = 0; rep < 100000; ++rep) {
        Word16 hi = rng.w16(), lo = static_cast<Word16>(rng.uniform(0, 32767)), t = rng.w16();
        std::int64_t coeff = std::int64_t{hi} * 32768 + lo;
        std::int64_t half = (coeff * t) >> 15;
        Word32 mpy = L_mac(L_mult(hi, t), mult(lo, t), 1);
        if (mpy != MAX_32 && mpy != MIN_32) {
            ASSERT_EQ(2 * half, mpy);
        }
    }
}

TEST(AmrnbGain, SearchesHonourLimitsAndReturnTheFirstMinimum) {
    // 4.75: both pitch gains must be strictly below the limit.
    Buf<Word16> terms(2816);
    Word16 gcode0[2] = {2000, 2000};
    Word32 coeff[10] = {};
    amrefr_QGainSearch_475_Loop1(gcode0, 0, terms.get());
    EXPECT_EQ(amrefr_QGainSearch_475_Loop2(coeff, terms.get()), 0);  // nothing admissible
    amrefr_QGainSearch_475_Loop1(gcode0, 32767, terms.get());
    coeff[1] = -100000;  // favour large g_pitch of subframe 0
    int best = 0;
    for (int r = 0; r < 256; ++r)
        if (amrefr_table_gain_MR475_gpit0[r] > amrefr_table_gain_MR475_gpit0[best]) best = r;
    EXPECT_EQ(amrefr_QGainSearch_475_Loop2(coeff, terms.get()), best);
    Word16 lim = amrefr_table_gain_MR475_gpit0[best];
    amrefr_QGainSearch_475_Loop1(gcode0, lim, terms.get());
    EXPECT_NE(amrefr_QGainSearch_475_Loop2(coeff, terms.get()), best);  // equal to the limit is excluded

    // Low and high rates: equal to the limit stays, above never wins.
    Buf<Word16> gp(640);
    Word32 L_coeff[5] = {-100000, 0, 0, 0, 0};
    int top = 0;
    for (int r = 0; r < 128; ++r)
        if (amrefr_g_pit_gain_highrates[r] > amrefr_g_pit_gain_highrates[top]) top = r;
    amrefr_GP_param_gen(32767, 1000, amrefr_g_pit_gain_highrates, amrefr_g_fac_gain_highrates, gp.get(), 128);
    EXPECT_EQ(amrefr_GainSearch(L_coeff, gp.get(), 128), top);
    amrefr_GP_param_gen(amrefr_g_pit_gain_highrates[top], 1000, amrefr_g_pit_gain_highrates,
                        amrefr_g_fac_gain_highrates, gp.get(), 128);
    EXPECT_EQ(amrefr_GainSearch(L_coeff, gp.get(), 128), top);
    amrefr_GP_param_gen(static_cast<Word16>(amrefr_g_pit_gain_highrates[top] - 1), 1000, amrefr_g_pit_gain_highrates,
                        amrefr_g_fac_gain_highrates, gp.get(), 128);
    Word32 positive[5] = {100000, 0, 0, 0, 0};
    Word16 r = amrefr_GainSearch(positive, gp.get(), 128);
    EXPECT_LT(amrefr_g_pit_gain_highrates[r], amrefr_g_pit_gain_highrates[top]);
    // All-zero coefficients: every distance 0, the first row wins.
    Word32 zero[5] = {};
    EXPECT_EQ(amrefr_GainSearch(zero, gp.get(), 128), 0);

    // 7.95 joint search: row index 32·j + i, lanes by i mod 4.
    Buf<Word32> buf(297);
    Word16 cand[3] = {8000, 12000, 16000};
    amrefr_QGainSearch_795_Loop1(cand, 3000, buf.get());
    Word32 c5[5] = {0, -50000, 0, 0, 0}, dist[4];
    Word16 idx[4];
    amrefr_QGainSearch_795_Loop2(c5, dist, idx, buf.get());
    for (int l = 0; l < 4; ++l) {
        EXPECT_EQ(idx[l] >> 5, 2);
        EXPECT_EQ(idx[l] & 3, l);
    }

    // LTP residual energy: a difference that wraps, and −32768 saturating the sum.
    Word16 exc[40] = {}, res[40] = {};
    res[0] = -32768;
    EXPECT_EQ(amrefr_CompEn_LTP_res(exc, res, 16384), 0x7FFFFFFF);
    res[0] = 30000;
    exc[0] = -20000;  // r = −20000·2 → −32768 after saturation; 30000 − (−32768) wraps
    Word16 d = wrap16(30000 + 32768);
    EXPECT_EQ(amrefr_CompEn_LTP_res(exc, res, 32767), L_mult(d, d));
}

TEST(AmrnbGain, ModifiedSearchSquareRootsAndBound) {
    Rng rng(31);
    Word32 x[32];
    Word16 e[32], a[32], i[32];
    for (Word32& v : x) v = rng.uniform(1, 0x7FFFFFFF);
    x[0] = 0;
    x[1] = -5;
    Word32 y[32];
    std::memcpy(y, x, sizeof(x));
    amrefr_QGainSearch_795_mod_Sqrt1(y, e, a, i);
    amrefr_QGainSearch_795_mod_Sqrt2(y, a, i);
    EXPECT_EQ(y[0], 0);
    EXPECT_EQ(y[1], 0);
    for (int n = 2; n < 32; ++n) {
        double want = std::sqrt(static_cast<double>(x[n]));
        ASSERT_NEAR((y[n] >> e[n]) / (32768.0 * std::sqrt(2.0)), want, 1e-3 * want + 2) << x[n];
    }
    // Rows whose code gain reaches the bound never win; no admissible row keeps the start values.
    Word32 xs[32], coeff[5] = {0, 0, 0, 0, 1 << 20};
    Word16 ex[32] = {};
    for (Word32& v : xs) v = 0;
    Word32 dist[4] = {2147418112, 2147418112, 2147418112, 2147418112};
    Word16 idx[4] = {0, 0, 0, 0};
    amrefr_QGainSearch_795_mod_Loop2(amrefr_qua_gain_code_g_fac, 0, 4000, -1, 0, coeff, dist, idx, xs, ex);
    for (int l = 0; l < 4; ++l) EXPECT_EQ(idx[l], 0);
    amrefr_QGainSearch_795_mod_Loop2(amrefr_qua_gain_code_g_fac, 0, 4000, 2000, 2000, coeff, dist, idx, xs, ex);
    for (int l = 0; l < 4; ++l) EXPECT_LT(mult(amrefr_qua_gain_code_g_fac[idx[l]], 4000), 2000);
}

TEST(AmrnbBuffers, KernelsStayInsideExactSizeArrays) {
    // Run under the address sanitizer: every array below has exactly the size
    // the kernel's contract names, with no slack after it.
    Rng rng(32);
    Buf<Word16> dn_split(40), diag_split(40), rr_split(1600), psq2(102), alp16(102);
    rng.fill(dn_split.get(), 40, 3000);
    rng.fill(diag_split.get(), 40, 3000);
    rng.fill(rr_split.get(), 1600, 3000);
    Buf<Word32> out(12), alp1(12), s(12), vals(12);
    const Word16* last_track = diag_split.get() + 30;
    amrefr_Do2Pulses_Loop2_MR102(out.get(), last_track, rr_split.get() + 1600 - 10, last_track, 1024, 2048, 0);
    const Word16* rows[4] = {rr_split.get() + 1590, last_track, rr_split.get() + 1590, last_track};
    amrefr_Do2Pulses_Loop1_MR102(alp1.get(), s.get(), rows, 512, 512);
    amrefr_CBS2_GenPSQ2(psq2.get(), dn_split.get() + 30, dn_split.get() + 30, 100);
    amrefr_CBS2_GenALP_Vals(alp1.get(), vals.get());
    amrefr_CBS2_GenALP16(alp16.get(), rr_split.get() + 3 * 40 + 30, s.get(), amrefr_coeff_12k2 + 18, vals.get());
    Buf<Word32> alp0(1);
    Buf<Word16> sq(1), index(1);
    sq[0] = -1;
    amrefr_CBS2_PulsePosition(psq2.get(), alp16.get(), alp0.get(), sq.get(), index.get());
    amrefr_CBS2_PulsePosition_MR122(dn_split.get() + 32, dn_split.get() + 32, 0, rr_split.get() + 4 * 40 + 32,
                                    s.get(), amrefr_coeff_12k2, alp1.get(), alp0.get(), sq.get(), index.get());

    Buf<Word16> in(160), o(160), sig(40), x80(80), buf128(128), hist(80), lsp(10), a(11), aexp(11);
    rng.fill(in.get(), 160, 10000);
    GSMAMR_Pre_ProcessState pst{};
    amrefr_Pre_Process(&pst, in.get(), o.get(), 0);
    GSMAMR_preemphasisState pe{};
    amrefr_preemphasis(&pe, sig.get(), 22938);
    Word16 mem = 0, last = 0;
    amrefr_vad2_pre_emp(buf128.get(), &mem, &last, x80.get(), 0);
    Buf<Word32> L_lsf(12);
    Buf<Word16> log_hist(8);
    Word16 log_en = 0;
    amrefr_Vec_Set_L_lsf(L_lsf.get(), &log_en, log_hist.get(), hist.get());
    amrefr_Vec_Set_lsf_mean(hist.get());
    amrefr_lsp_avg(lsp.get(), lsp.get());
    amrefr_Weight_Ai(a.get(), amrefr_gamma1, aexp.get());
    Buf<Word16> lsp_int(10), lsp_old(10);
    amrefr_Vec_Update_lsp_int(lsp_int.get(), 8192, lsp_old.get());
    SUCCEED();
}

// The fast forms of the kernels against their saturating models: the
// branch-free operators over their whole edge, the plain sums on both sides of
// the bounds that admit them (amplitudes swept across each bound, saturating
// values included), and the SSE4.1 pair choice against the portable one.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"
#include "amrefr_test_util.h"

using namespace amrefr_op;
using amrefr_test::Buf;
using amrefr_test::Rng;

namespace {

// Amplitudes from well inside to far beyond the bounds; the last one fills
// with extremes as well.
constexpr int kAmplitudes[] = {300, 2000, 3600, 6000, 12000, 24000, 32767};

void fill(Rng& rng, Word16* x, int n, int amp) { amp == 32767 ? rng.fill_sat(x, n, amp) : rng.fill(x, n, amp); }

// Σ 2·x[i]·y[i] in four saturating lanes (i mod 4), joined as
// sat(sat(p0 + p2) + sat(p1 + p3)).
Word32 lanes(const Word16* x, const Word16* y, int n) {
    Word32 p[4] = {};
    for (int i = 0; i < n; ++i) p[i & 3] = L_mac(p[i & 3], x[i], y[i]);
    return L_add(L_add(p[0], p[2]), L_add(p[1], p[3]));
}

void calc_corr_norm_model(Word16* e, const Word16* xn, const Word16* exc, const Word16* h, Word16* corr_norm,
                          int t_min, int t_max, int k, Word16 h_fac, Word16 scaling) {
    for (int i = t_min; i <= t_max; ++i) {
        Word32 norm = amrefr_Inv_sqrt(lanes(e, e, 40));
        corr_norm[i] = sat16(amrefr_MPY_32(norm, lanes(xn, e, 40)));
        if (i < t_max) {
            --k;
            for (int j = 39; j > 0; --j) e[j] = add(extract_h(L_shl(L_mult(exc[k], h[j]), h_fac)), e[j - 1]);
            e[0] = shr(exc[k], scaling);
        }
    }
}

void cor_h_model(const Word16* h, const Word16* sign, Word16* rr, Word16* rr_diag) {
    Word16 h2[40];
    Word32 s = 2;
    for (int i = 0; i < 40; ++i) s = L_add(s, L_mult(h[i], h[i]));
    if (extract_h(s) == 32767) {
        for (int i = 0; i < 40; ++i) h2[i] = static_cast<Word16>(h[i] >> 1);
    } else {
        Word16 k = mult(extract_h(L_shl(amrefr_Inv_sqrt(s >> 1), 7)), 32440);
        for (int i = 0; i < 40; ++i) h2[i] = sat16((std::int64_t{L_mult(h[i], k)} + 64) >> 7);
    }
    s = 0;
    for (int k = 0; k < 40; ++k) {
        s = L_mac(s, h2[k], h2[k]);
        rr[(39 - k) * 41] = rr_diag[39 - k] = round16(s);
    }
    for (int dec = 1; dec < 40; ++dec) {
        s = 0;
        for (int k = 0; k <= 39 - dec; ++k) {
            int j = 39 - k, i = j - dec;
            s = L_mac(s, h2[k], h2[k + dec]);
            rr[40 * j + i] = mult(round16(s), mult(sign[i], sign[j] >= 0 ? 32767 : -32767));
        }
    }
}

// Lanes {8, 4}, {7, 3}, {10, 6, 2}, {9, 5, 1} (the last from x·8192), each
// saturating, their total exact; any clip latches.
Word16 syn_model(const Word16* a, const Word16* x, Word16* y) {
    bool clipped = false;
    auto msu = [&](Word32 acc, Word16 c, Word16 v) {
        Word32 p = L_mult(c, v);
        if (c == -32768 && v == -32768) clipped = true;
        std::int64_t r = std::int64_t{acc} - p;
        if (r != sat32(r)) clipped = true;
        return sat32(r);
    };
    for (int n = 0; n < 40; ++n) {
        const Word16* yn = y + n;
        Word32 p0 = msu(msu(0, a[8], yn[-8]), a[4], yn[-4]);
        Word32 p1 = msu(msu(0, a[7], yn[-7]), a[3], yn[-3]);
        Word32 p2 = msu(msu(msu(0, a[10], yn[-10]), a[6], yn[-6]), a[2], yn[-2]);
        Word32 p3 = msu(msu(msu(std::int32_t{x[n]} * 8192, a[9], yn[-9]), a[5], yn[-5]), a[1], yn[-1]);
        std::int64_t v = ((std::int64_t{p0} + p1) + (std::int64_t{p2} + p3) + 4096) >> 13;
        y[n] = sat16(v);
        if (y[n] != v) clipped = true;
    }
    return clipped ? 1 : 0;
}

void residu_model(const Word16* a, const Word16* x, Word16* y) {
    for (int n = 0; n < 40; ++n) {
        Word32 s = L_mult(a[10], x[n - 10]);
        for (int j = 9; j >= 0; --j) s = L_mac(s, a[j], x[n - j]);
        y[n] = sat16((std::int64_t{s} + 4096) >> 13);
    }
}

// The sums of the track-normalised target correlation (before normalising).
void track_sums_model(const Word16* h, const Word16* x, Word32* y, int T) {
    for (int i = 0; i < 40; ++i) {
        Word32 s = 0;
        for (int n = 0; n <= 40 - T * (i / T); ++n) s = L_mac(s, x[i + n], h[n]);
        y[i] = s;
    }
}

void pred_lt_model(Word16* exc, int T0, int frac, int flag3) {
    const Word16* p = exc - T0;
    int f = -frac * (1 << flag3);
    if (f < 0) {
        f += 6;
        --p;
    }
    for (int j0 = 0; j0 < 40; j0 += 4) {
        Word16 group[4];
        for (int g = 0; g < 4; ++g) {
            int j = j0 + g;
            Word32 s = 0;
            for (int m = 0; m < 10; ++m) s = L_mac(s, p[j - 9 + m], amrefr_inter_6_rev[10 * f + m]);
            for (int i = 0; i < 10; ++i) s = L_mac(s, p[j + 1 + i], amrefr_inter_6[10 * (6 - f) + i]);
            group[g] = extract_h(L_add(s, 0x8000));
        }
        for (int g = 0; g < 4; ++g) exc[j0 + g] = group[g];
    }
}

// The three- and four-pulse depth-first search with saturating energy sums at
// every step (the definition the vectorised search follows).
struct Cand {
    Word16 sq, alp, ps;
    int j;
};

template <typename Alp>
Cand next_pulse_model(Word16 ps0, const Word16* dn_track, Alp alp_of) {
    Cand c[8];
    for (int j = 0; j < 8; ++j) {
        c[j].ps = wrap16(std::int32_t{ps0} + dn_track[j]);
        c[j].sq = mult(c[j].ps, c[j].ps);
        c[j].alp = extract_h(alp_of(j));
        c[j].j = j;
    }
    Cand lane[4];
    for (int l = 0; l < 4; ++l)
        lane[l] = L_msu(L_mult(c[l].alp, c[l + 4].sq), c[l].sq, c[l + 4].alp) > 0 ? c[l + 4] : c[l];
    Cand best = lane[0];
    for (int l = 1; l < 4; ++l)
        if (L_msu(L_mult(best.alp, lane[l].sq), best.sq, lane[l].alp) > 0) best = lane[l];
    return best;
}

void search7k4_model(const Word16* dn_split, const Word16* dn2, Word16* const* row_start, const Word16* diag,
                     const Word16* ipos, Word16* codvec, Word16* psk, Word16* alpk, int nb_pulse,
                     const Word16* control, Word16* reuse) {
    Word16* cursor = reuse;
    for (int q = 0; q < nb_pulse; ++q) {
        int off[4], trk[4];
        for (int p = 0; p < nb_pulse; ++p) off[p] = ipos[-q + p], trk[p] = off[p] / 8;
        for (int k = 0; k < 8; ++k) {
            int i0 = trk[0] + 5 * k;
            if (dn2[i0] < 0) continue;
            const Word16* row0 = row_start[i0];
            Word16 k1x5, alp, ps;
            if (control[q] == 0) {
                k1x5 = cursor[0], alp = cursor[1], ps = cursor[2];
                cursor += 3;
            } else {
                Word32 A = static_cast<Word32>(static_cast<std::uint16_t>(diag[off[0] + k]) * 16384u + 32768u);
                Cand c = next_pulse_model(dn_split[off[0] + k], dn_split + off[1], [&](int j) {
                    return L_add(L_add(A, L_mult(diag[off[1] + j], 8192)), L_mult(row0[off[1] + j], 16384));
                });
                k1x5 = static_cast<Word16>(5 * c.j), alp = c.alp, ps = c.ps;
                if (control[q] == 1) {
                    cursor[0] = k1x5, cursor[1] = alp, cursor[2] = ps;
                    cursor += 3;
                }
            }
            int i1 = k1x5 + trk[1];
            const Word16* row1 = row_start[i1];
            Word32 A = static_cast<Word32>(static_cast<std::uint16_t>(alp) * 16384u + 32768u);
            Cand c = next_pulse_model(ps, dn_split + off[2], [&](int j) {
                Word32 e = L_add(A, L_mult(diag[off[2] + j], 2048));
                return L_add(L_add(e, L_mult(row0[off[2] + j], 4096)), L_mult(row1[off[2] + j], 4096));
            });
            int i2 = 5 * c.j + trk[2], i3 = 0;
            if (nb_pulse == 4) {
                const Word16* row2 = row_start[i2];
                Word32 A4 = L_add(L_deposit_h(c.alp), 32768);
                c = next_pulse_model(c.ps, dn_split + off[3], [&](int j) {
                    Word32 e = L_add(L_add(A4, L_mult(diag[off[3] + j], 2048)), L_mult(row2[off[3] + j], 4096));
                    return L_add(L_add(e, L_mult(row1[off[3] + j], 4096)), L_mult(row0[off[3] + j], 4096));
                });
                i3 = 5 * c.j + trk[3];
            }
            Word16 sq = mult(c.ps, c.ps);
            if (L_msu(L_mult(*alpk, sq), *psk, c.alp) > 0) {
                *psk = sq, *alpk = c.alp;
                codvec[0] = static_cast<Word16>(i0), codvec[1] = static_cast<Word16>(i1);
                codvec[2] = static_cast<Word16>(i2);
                if (nb_pulse == 4) codvec[3] = static_cast<Word16>(i3);
            }
        }
    }
}

}  // namespace

TEST(AmrnbFast, BranchFreeOperatorsEqualTheSaturatingOnes) {
    Rng rng(61);
    const Word32 edges[] = {MIN_32, MIN_32 + 1, -65536, -1, 0, 1, 65535, MAX_32 - 1, MAX_32};
    std::vector<Word32> v(edges, edges + 9);
    for (int i = 0; i < 2000; ++i) v.push_back(rng.w32());
    for (Word32 a : v)
        for (Word32 b : v) {
            ASSERT_EQ(amrefr_fast::add32(a, b), L_add(a, b)) << a << " " << b;
            ASSERT_EQ(amrefr_fast::sub32(a, b), L_sub(a, b)) << a << " " << b;
        }
    for (int a = -32768; a <= 32767; ++a) {
        ASSERT_EQ(amrefr_fast::square16(static_cast<Word16>(a)), mult(static_cast<Word16>(a), static_cast<Word16>(a)));
        for (Word16 b : {Word16{-32768}, Word16{-32767}, Word16{-1}, Word16{0}, Word16{1}, Word16{32767}})
            ASSERT_EQ(amrefr_fast::mult32(static_cast<Word16>(a), b), L_mult(static_cast<Word16>(a), b));
    }
    // The Cauchy–Schwarz bound: wherever it admits the plain sum, the lanes agree with it.
    int admitted = 0, refused = 0;
    for (int amp : kAmplitudes)
        for (int rep = 0; rep < 40; ++rep) {
            Buf<Word16> x(160), y(160);
            fill(rng, x.get(), 160, amp);
            fill(rng, y.get(), 160, amp);
            if (!amrefr_fast::products_cannot_saturate(amrefr_fast::energy64(x.get(), 160),
                                                       amrefr_fast::energy64(y.get(), 160))) {
                ++refused;
                continue;
            }
            ++admitted;
            std::int64_t plain = 0;
            for (int i = 0; i < 160; ++i) plain += 2 * (std::int32_t{x[i]} * y[i]);
            ASSERT_EQ(lanes(x.get(), y.get(), 160), plain);
        }
    EXPECT_GT(admitted, 40);
    EXPECT_GT(refused, 40);
    std::vector<Word16> full(40, -32768);
    EXPECT_FALSE(amrefr_fast::products_cannot_saturate(amrefr_fast::energy64(full.data(), 40),
                                                       amrefr_fast::energy64(full.data(), 40)));
}

TEST(AmrnbFast, PitchCorrelationsAgreeWithTheLanesOnBothSidesOfTheBound) {
    Rng rng(62);
    for (int amp : kAmplitudes)
        for (int rep = 0; rep < 12; ++rep) {
            const int L = rep % 2 ? 80 : 160, nlags = rng.uniform(1, 124), outputs = (nlags + 7) / 8 * 8;
            Buf<Word16> past(outputs - 1 + L), cur(L);
            fill(rng, past.get(), outputs - 1 + L, amp);
            fill(rng, cur.get(), L, rep % 3 ? amp : 32767);
            Buf<Word32> out(outputs);
            amrefr_comp_corr_loop(cur.get(), past.get(), static_cast<Word16>(nlags), out.get(), static_cast<Word16>(L));
            for (int m = 0; m < outputs; ++m) ASSERT_EQ(out[m], lanes(cur.get(), past.get() + m, L)) << amp << " " << m;
        }
    for (int amp : kAmplitudes)
        for (int rep = 0; rep < 30; ++rep) {
            const int t_min = rng.uniform(18, 140), t_max = t_min + rng.uniform(0, 3);
            Buf<Word16> excbuf(200), xn(40), h(40), e(40), model(40);
            fill(rng, excbuf.get(), 200, amp);
            fill(rng, xn.get(), 40, amp);
            fill(rng, h.get(), 40, rep % 4 ? 4096 : amp);
            fill(rng, e.get(), 40, amp);
            std::memcpy(model.get(), e.get(), 80);
            const Word16 h_fac = static_cast<Word16>(rep % 5 == 4 ? 0 : (rep % 2 ? 3 : 1)), scaling = rep % 2 ? 0 : 2;
            const Word16* exc = excbuf.get() + 160;
            Buf<Word16> got(144), want(144);
            amrefr_Calculate_Corr_Norm(e.get(), xn.get(), exc, h.get(), got.get(), static_cast<Word16>(t_min),
                                       static_cast<Word16>(t_max), static_cast<Word16>(-t_min), h_fac, scaling);
            calc_corr_norm_model(model.get(), xn.get(), exc, h.get(), want.get(), t_min, t_max, -t_min, h_fac,
                                 scaling);
            for (int i = t_min; i <= t_max; ++i) ASSERT_EQ(got[i], want[i]) << amp << " lag " << i;
        }
}

TEST(AmrnbFast, FractionalDelayAgreesWithTheChainsOnBothSidesOfTheBound) {
    Rng rng(63);
    for (int amp : kAmplitudes)
        for (int rep = 0; rep < 200; ++rep) {
            Buf<Word16> buf(154 + 40), ref(154 + 40);
            fill(rng, buf.get(), 194, amp);
            std::memcpy(ref.get(), buf.get(), 194 * 2);
            const int T0 = rng.uniform(18, 143), flag3 = rep % 2;
            const int frac = flag3 ? rng.uniform(-1, 1) : rng.uniform(-2, 3);
            amrefr_Pred_lt_3or6(buf.get() + 154, static_cast<Word16>(T0), static_cast<Word16>(frac),
                                static_cast<Word16>(flag3));
            pred_lt_model(ref.get() + 154, T0, frac, flag3);
            ASSERT_EQ(std::memcmp(buf.get(), ref.get(), 194 * 2), 0) << amp << " " << T0 << " " << frac;
        }
}

TEST(AmrnbFast, FiltersAgreeWithTheirModelsOnBothSidesOfTheBounds) {
    Rng rng(64);
    int plain_synthesis = 0;
    for (int coeff_amp : {1000, 3000, 8000, 16000, 32767})
        for (int amp : kAmplitudes)
            for (int rep = 0; rep < 20; ++rep) {
                Word16 a[11];
                a[0] = 4096;
                fill(rng, a + 1, 10, coeff_amp);
                if (rep % 4 == 0) fill(rng, a, 1, coeff_amp);
                Buf<Word16> x(50), y(50), ym(50);
                fill(rng, x.get(), 50, amp);
                fill(rng, y.get(), 10, amp);
                std::memcpy(ym.get(), y.get(), 20);
                Word16 ovf = amrefr_Syn_filt_latch_overflow(a, x.get() + 10, y.get() + 10);
                ASSERT_EQ(ovf, syn_model(a, x.get() + 10, ym.get() + 10)) << coeff_amp << " " << amp;
                ASSERT_EQ(std::memcmp(y.get(), ym.get(), 100), 0) << coeff_amp << " " << amp;
                // In place, as the weighting filter runs.
                std::memcpy(y.get() + 10, x.get() + 10, 80);
                std::memcpy(ym.get() + 10, x.get() + 10, 80);
                amrefr_Syn_filt(a, y.get() + 10, y.get() + 10);
                syn_model(a, ym.get() + 10, ym.get() + 10);
                ASSERT_EQ(std::memcmp(y.get(), ym.get(), 100), 0) << coeff_amp << " " << amp;
                std::int64_t lane3 = 0;
                for (int k : {1, 5, 9}) lane3 += a[k] < 0 ? -a[k] : a[k];
                if (32768LL * 8192 + 65536 * lane3 <= MAX_32) ++plain_synthesis;

                Buf<Word16> r(40), rm(40);
                amrefr_Residu(a, x.get() + 10, r.get());
                residu_model(a, x.get() + 10, rm.get());
                ASSERT_EQ(std::memcmp(r.get(), rm.get(), 80), 0) << coeff_amp << " " << amp;
                // In place: each output replaces its input before the next reads it.
                Buf<Word16> in_place(50), model(50);
                std::memcpy(in_place.get(), x.get(), 100);
                std::memcpy(model.get(), x.get(), 100);
                amrefr_Residu(a, in_place.get() + 10, in_place.get() + 10);
                residu_model(a, model.get() + 10, model.get() + 10);
                ASSERT_EQ(std::memcmp(in_place.get(), model.get(), 100), 0) << coeff_amp << " " << amp;
            }
    EXPECT_GT(plain_synthesis, 100);
}

TEST(AmrnbFast, CodebookCorrelationsAgreeWithTheirModelsOnBothSidesOfTheBounds) {
    Rng rng(65);
    for (int amp : kAmplitudes)
        for (int rep = 0; rep < 40; ++rep) {
            // Target correlation: compare the kernel with the model through the
            // normalisation they share, on both track counts.
            Buf<Word16> h(41), x(52);
            fill(rng, h.get(), 40, rep % 2 ? amp : 8000);
            fill(rng, x.get(), 52, amp);
            for (int T : {4, 5}) {
                Word16 dn[40];
                (T == 5 ? amrefr_cor_h_x2_v2 : amrefr_cor_h_x2_v1)(h.get(), x.get(), dn, static_cast<Word16>(rep % 3));
                Word32 y[40];
                track_sums_model(h.get(), x.get(), y, T);
                Word32 tot = 0;
                for (int g = 0; g < T; ++g) {
                    Word32 max = 0;
                    for (int i = g; i < 40; i += T) {
                        Word32 m = y[i] < 0 ? wrap32(-std::int64_t{y[i]}) : y[i];
                        if (m > max) max = m;
                    }
                    tot = wrap32(std::int64_t{tot} + (max >> 1));
                }
                tot = L_add(tot, 5);
                int lz = 0;
                for (std::uint32_t u = static_cast<std::uint32_t>(tot); lz < 32 && !(u & 0x80000000u); u <<= 1) ++lz;
                for (int i = 0; i < 40; ++i)
                    ASSERT_EQ(dn[i], round16(L_shl(y[i], static_cast<Word16>(lz - 1 - rep % 3)))) << amp << " " << i;
            }
            // Correlation matrix, with sign words of any value.
            Word16 hh[40], sign[40];
            fill(rng, hh, 40, amp);
            for (Word16& s : sign) s = rep % 3 ? (rng.uniform(0, 1) ? 32767 : -32767) : rng.w16();
            Buf<Word16> rr(1600), rm(1600), diag(40), dm(40);
            amrefr_cor_h(hh, sign, rr.get(), diag.get());
            cor_h_model(hh, sign, rm.get(), dm.get());
            for (int j = 0; j < 40; ++j) {
                ASSERT_EQ(diag[j], dm[j]);
                for (int i = 0; i <= j; ++i) ASSERT_EQ(rr[40 * j + i], rm[40 * j + i]) << amp << " " << j << "," << i;
            }
        }
    // Autocorrelation lags around the energy bound (2·Σy² = MAX_32 near amplitude 3660).
    for (int amp : {1000, 3500, 3650, 3700, 4000, 12000, 32767})
        for (int rep = 0; rep < 10; ++rep) {
            Buf<Word16> y(256);
            fill(rng, y.get(), 240, amp);
            const Word16 norm = static_cast<Word16>(rng.uniform(-2, 3));
            Word32 r[13] = {}, rm[13] = {};
            r[0] = rm[0] = rng.w32();
            amrefr_ACF(y.get(), r, norm);
            for (int i = 1; i <= 10; ++i) {
                Word32 p[4] = {};
                for (int j = 0; j < 240; ++j) p[j & 3] = L_mac(p[j & 3], y[j], y[j + i]);
                Word32 s = L_add(L_add(p[0], p[2]), L_add(p[1], p[3]));
                rm[i] = static_cast<Word32>(static_cast<std::uint32_t>(s) << (norm > 0 ? norm : 0));
            }
            if (norm <= 0)
                for (Word32& v : rm) v &= ~1;
            for (int i = 0; i <= 12; ++i) ASSERT_EQ(r[i], rm[i]) << amp << " lag " << i;
        }
}

TEST(AmrnbFast, PairChoiceFormsAgree) {
    Rng rng(66);
    if (!amrefr_fast::has_sse41()) GTEST_SKIP() << "no SSE4.1 on this processor";
    for (int rep = 0; rep < 3000; ++rep) {
        const int count = rep % 2 ? 64 : 100;
        Word16 sq2[100], alp16[100];
        // Narrow ranges make ties; negative and extreme energies as well.
        const int range = rep % 3 == 0 ? 3 : 32767;
        for (int k = 0; k < count; ++k) {
            sq2[k] = static_cast<Word16>(rng.uniform(0, range));
            alp16[k] = rep % 5 == 0 ? rng.w16() : static_cast<Word16>(rng.uniform(-range, range));
        }
        amrefr_fast::LaneBests a, b;
        amrefr_fast::lane_bests_portable(count, sq2, alp16, &a);
        amrefr_fast::lane_bests_sse41(count, sq2, alp16, &b);
        ASSERT_EQ(std::memcmp(&a, &b, sizeof(a)), 0) << rep;
        // The portable form is the definition: first best per sub-search.
        for (int m = 0; m < 4; ++m) {
            int best = m;
            for (int k = m + 4; k < count; k += 4)
                if (L_msu(L_mult(alp16[k], sq2[best]), sq2[k], alp16[best]) < 0) best = k;
            ASSERT_EQ(a.k[m], best);
            ASSERT_EQ(a.sq[m], sq2[best]);
            ASSERT_EQ(a.alp[m], alp16[best]);
        }
    }
}

TEST(AmrnbFast, ThreeAndFourPulseSearchFormsKeepEverySaturatingSum) {
    // Matrix, energies and correlations over the whole 16-bit range, where the
    // energy sums of the second and fourth pulses do saturate; the public
    // kernel and both of its forms against the definition.
    using Search = void (*)(const Word16*, const Word16*, Word16* const*, const Word16*, const Word16*, Word16*,
                            Word16*, Word16*, int, const Word16*, Word16*);
    std::vector<Search> forms = {amrefr_Search7K4, amrefr_fast::search_7k4_portable};
    if (amrefr_fast::has_avx2()) forms.push_back(amrefr_fast::search_7k4_avx2);
    Rng rng(67);
    for (int rep = 0; rep < 400; ++rep) {
        const int amp = kAmplitudes[rep % 7];
        Buf<Word16> rr_split(41 * 40), dn_split(42), dn2(40);
        fill(rng, rr_split.get(), 41 * 40, amp);
        fill(rng, dn_split.get(), 42, amp);
        for (int i = 0; i < 40; ++i) dn2[i] = rng.uniform(0, 3) ? 1 : -1;
        Word16* row_start[40];
        amrefr_GenRowStart(rr_split.get(), row_start);
        const Word16* diag = rr_split.get() + 1600;
        const bool four = rep % 2;
        Word16 mv[4] = {}, mpsk = -1, malpk = 1, mreuse[54] = {};
        auto run = [&](auto search, Word16* cv, Word16* psk, Word16* alpk, Word16* reuse) {
            if (four) {
                for (int half = 0; half < 2; ++half)
                    search(dn_split.get(), dn2.get(), row_start, diag, &amrefr_expanded_ipos_7K4[half ? 10 : 3], cv,
                           psk, alpk, 4, &amrefr_control_7k4[4 * half], reuse);
            } else {
                const int ip[4] = {2, 7, 12, 17};
                for (int c = 0; c < 4; ++c)
                    search(dn_split.get(), dn2.get(), row_start, diag, &amrefr_expanded_ipos_6k7[ip[c]], cv, psk,
                           alpk, 3, &amrefr_control_6k7[3 * c], reuse);
            }
        };
        run(search7k4_model, mv, &mpsk, &malpk, mreuse);
        for (std::size_t f = 0; f < forms.size(); ++f) {
            Word16 cv[4] = {}, psk = -1, alpk = 1, reuse[54] = {};
            run(forms[f], cv, &psk, &alpk, reuse);
            ASSERT_EQ(psk, mpsk) << rep << " form " << f;
            ASSERT_EQ(alpk, malpk) << rep << " form " << f;
            ASSERT_EQ(std::memcmp(cv, mv, sizeof(cv)), 0) << rep << " form " << f;
            ASSERT_EQ(std::memcmp(reuse, mreuse, sizeof(reuse)), 0) << rep << " form " << f;
        }
    }
    if (!amrefr_fast::has_avx2()) GTEST_SKIP() << "this CPU lacks AVX2: the portable form was checked, the AVX2 form was not";
}

TEST(AmrnbFast, TwelveKbitPairSearchFormsAgreeWithTheDefinition) {
    Rng rng(68);
    for (int rep = 0; rep < 2000; ++rep) {
        const int amp = kAmplitudes[rep % 7];
        Buf<Word16> rr(200 * 7 + 8), dn_a(8), dn_b(8), rrv(8);
        Buf<Word32> alp1(8);
        fill(rng, rr.get(), 200 * 7 + 8, amp);
        fill(rng, dn_a.get(), 8, amp);
        fill(rng, dn_b.get(), 8, amp);
        fill(rng, rrv.get(), 8, amp);
        for (int a = 0; a < 8; ++a) alp1[a] = rep % 3 ? rng.uniform(-amp, amp) * 65536 : rng.w32();
        const Word16 ps0 = rng.sample(amp), c5 = rng.sample(32767), c4 = rng.sample(32767);
        // The definition: the 64 terms with saturating sums, then the first best of each sub-search.
        Word16 sq2[64], alp16[64];
        for (int k = 0; k < 64; ++k) {
            const int a = k >> 3, b = k & 7;
            const Word16 ps2 = wrap16(std::int32_t{ps0} + dn_a[a] + dn_b[b]);
            sq2[k] = mult(ps2, ps2);
            alp16[k] = extract_h(L_mac(L_mac(alp1[a], rr[200 * a + b], c5), rrv[b], c4));
        }
        amrefr_fast::LaneBests want, portable;
        amrefr_fast::lane_bests_portable(64, sq2, alp16, &want);
        amrefr_fast::pair_search_122_portable(dn_a.get(), dn_b.get(), ps0, rr.get(), rrv.get(), alp1.get(), c5, c4,
                                              &portable);
        ASSERT_EQ(std::memcmp(&want, &portable, sizeof(want)), 0) << rep;
        if (amrefr_fast::has_avx2()) {
            amrefr_fast::LaneBests avx2;
            amrefr_fast::pair_search_122_avx2(dn_a.get(), dn_b.get(), ps0, rr.get(), rrv.get(), alp1.get(), c5, c4,
                                              &avx2);
            ASSERT_EQ(std::memcmp(&want, &avx2, sizeof(want)), 0) << rep;
        }
    }
    if (!amrefr_fast::has_avx2()) GTEST_SKIP() << "this CPU lacks AVX2: the portable form was checked, the AVX2 form was not";
}

TEST(AmrnbFast, TenKbitPairTermFormsAgreeWithTheDefinition) {
    Rng rng(69);
    for (int rep = 0; rep < 2000; ++rep) {
        const int amp = kAmplitudes[rep % 7];
        Buf<Word16> rr(160 * 9 + 10), dn_a(10), dn_b(10), rrv(10);
        Buf<Word32> vals(12);
        fill(rng, rr.get(), 160 * 9 + 10, amp);
        fill(rng, dn_a.get(), 10, amp);
        fill(rng, dn_b.get(), 10, amp);
        fill(rng, rrv.get(), 10, amp);
        for (int a = 0; a < 12; ++a) vals[a] = rep % 3 ? rng.uniform(-amp, amp) * 65536 : rng.w32();
        const Word16 ps0 = rng.sample(amp), c5 = rng.sample(32767), c4 = rng.sample(32767);
        Word16 sq_want[102], alp_want[102];
        for (int k = 0; k < 100; ++k) {
            const int a = k / 10, b = k % 10;
            const Word16 ps2 = wrap16(std::int32_t{ps0} + dn_a[a] + dn_b[b]);
            sq_want[k] = mult(ps2, ps2);
            alp_want[k] = extract_h(L_mac(L_mac(vals[a], rr[160 * a + b], c5), rrv[b], c4));
        }
        sq_want[100] = sq_want[101] = alp_want[100] = alp_want[101] = 0;
        std::vector<std::pair<decltype(&amrefr_fast::pair_squares_102_portable),
                              decltype(&amrefr_fast::pair_energies_102_portable)>>
            forms = {{amrefr_fast::pair_squares_102_portable, amrefr_fast::pair_energies_102_portable}};
        if (amrefr_fast::has_avx2())
            forms.push_back({amrefr_fast::pair_squares_102_avx2, amrefr_fast::pair_energies_102_avx2});
        for (const auto& [squares, energies] : forms) {
            Buf<Word16> sq(102), alp(102);
            squares(sq.get(), dn_a.get(), dn_b.get(), ps0);
            energies(alp.get(), rr.get(), rrv.get(), c5, c4, vals.get());
            ASSERT_EQ(std::memcmp(sq.get(), sq_want, sizeof(sq_want)), 0) << rep;
            ASSERT_EQ(std::memcmp(alp.get(), alp_want, sizeof(alp_want)), 0) << rep;
        }
    }
    if (!amrefr_fast::has_avx2()) GTEST_SKIP() << "this CPU lacks AVX2: the portable form was checked, the AVX2 form was not";
}

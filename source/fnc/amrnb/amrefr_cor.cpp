// Codebook correlations: backward-filtered target with track normalisation,
// the sign-folded correlation matrix of the impulse response, and the sign
// pre-selection of the pulse positions.
#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_kernels.h"

using namespace amrefr_op;

namespace {

AMREFR_VECTOR_CLONES
void plain_track_correlations(const Word16* h, const Word16* x, Word32* y, int T) {
    for (int i = 0; i < 40; ++i) {
        const int len = 41 - T * (i / T);
        std::int32_t s = 0;
        for (int n = 0; n < len; ++n) s += std::int32_t{x[i + n]} * h[n];
        y[i] = 2 * s;
    }
}

// x[40 …] past the target enter the sums as the kernel contract states.
void cor_h_x_tracks(const Word16* h, const Word16* x, Word16* dn, Word16 sf, int T) {
    Word32 y[40];
    // Reads x[0 … 40 + T − 1] and h[0 … 40]; when their energies exclude
    // saturation the chains are plain sums.
    if (amrefr_fast::products_cannot_saturate(amrefr_fast::energy64(x, 40 + T), amrefr_fast::energy64(h, 41))) {
        plain_track_correlations(h, x, y, T);
    } else {
        for (int i = 0; i < 40; ++i) {
            int b = T * (i / T);
            Word32 s = 0;
            for (int n = 0; n <= 40 - b; ++n) s = L_mac(s, x[i + n], h[n]);
            y[i] = s;
        }
    }
    Word32 tot = 0;
    for (int g = 0; g < T; ++g) {
        Word32 max = 0;
        for (int i = g; i < 40; i += T) {
            Word32 a = y[i] < 0 ? wrap32(-std::int64_t{y[i]}) : y[i];  // −2^31 stays negative
            if (a > max) max = a;
        }
        tot = wrap32(std::int64_t{tot} + (max >> 1));
    }
    tot = L_add(tot, 5);
    int lz = 0;
    for (std::uint32_t u = static_cast<std::uint32_t>(tot); lz < 32 && !(u & 0x80000000u); u <<= 1) ++lz;
    Word16 j = static_cast<Word16>(lz - 1 - sf);
    for (int i = 0; i < 40; ++i) dn[i] = round16(L_shl(y[i], j));
}

}  // namespace

void amrefr_cor_h_x2_v2(const Word16* h, const Word16* x, Word16* dn, Word16 sf) { cor_h_x_tracks(h, x, dn, sf, 5); }

void amrefr_cor_h_x2_v1(const Word16* h, const Word16* x, Word16* dn, Word16 sf) { cor_h_x_tracks(h, x, dn, sf, 4); }

namespace {

// The matrix from the scaled response when no sum can saturate.  With g the
// response reversed, element (j, i), i <= j, is the sum over t <= 39 − j of
// g[j + t]·g[i + t], which is g[j]·g[i] plus element (j + 1, i + 1): one
// accumulator per diagonal (slot 39 − j + i) carries the sums from row to row,
// and a row is then one contiguous pass.  Every accumulator is a partial sum of
// the diagonal products, within Σ g² by Cauchy–Schwarz; the caller checked that
// twice that plus the rounding constant stays below the 32-bit limit, so the
// rounding, the sign words (±32766 for signs of ±32767) and their products are
// plain integer arithmetic.
AMREFR_VECTOR_CLONES
void cor_h_rows(const Word16* g, const Word16* sign, Word16* rr, Word16* rr_diag) {
    std::int32_t acc[40] = {};
    for (int j = 39; j >= 0; --j) {
        const int off = 39 - j;
        const std::int32_t gj = g[j];
        const std::int32_t sj = sign[j] >= 0 ? 32767 : -32767;
        Word16* row = rr + 40 * j;
        std::int32_t* a = acc + off;
        for (int i = 0; i < j; ++i) {
            const std::int32_t c = a[i] + gj * g[i];
            a[i] = c;
            const std::int32_t r = (2 * c + 0x8000) >> 16;
            const std::int32_t p = (std::int32_t{sign[i]} * sj) >> 15;
            row[i] = static_cast<Word16>((r * p) >> 15);
        }
        acc[39] += gj * gj;
        rr_diag[j] = row[j] = static_cast<Word16>((2 * acc[39] + 0x8000) >> 16);
    }
}

void cor_h_saturating(const Word16* h2, const Word16* sign, Word16* rr, Word16* rr_diag) {
    Word32 s = 0;
    for (int k = 0; k < 40; ++k) {
        s = L_mac(s, h2[k], h2[k]);
        rr[(39 - k) * 41] = rr_diag[39 - k] = round16(s);
    }
    for (int dec = 1; dec < 40; ++dec) {
        s = 0;
        for (int k = 0; k <= 39 - dec; ++k) {
            int j = 39 - k, i = j - dec;
            s = L_mac(s, h2[k], h2[k + dec]);
            Word16 p = mult(sign[i], sign[j] >= 0 ? 32767 : -32767);
            rr[40 * j + i] = mult(round16(s), p);
        }
    }
}

}  // namespace

// Only the diagonal and the lower triangle of rr are written.
void amrefr_cor_h(const Word16* h, const Word16* sign, Word16* rr, Word16* rr_diag) {
    Word16 h2[40];
    Word32 s = 2;
    for (int i = 0; i < 40; ++i) s = L_add(s, L_mult(h[i], h[i]));
    if (extract_h(s) == 32767) {
        for (int i = 0; i < 40; ++i) h2[i] = static_cast<Word16>(h[i] >> 1);
    } else {
        s >>= 1;
        Word16 k = extract_h(L_shl(amrefr_Inv_sqrt(s), 7));
        k = mult(k, 32440);
        for (int i = 0; i < 40; ++i) h2[i] = sat16((std::int64_t{L_mult(h[i], k)} + 64) >> 7);
    }
    if (2 * amrefr_fast::energy64(h2, 40) + 0x8000 > MAX_32) {
        cor_h_saturating(h2, sign, rr, rr_diag);
        return;
    }
    Word16 g[40];
    for (int i = 0; i < 40; ++i) g[i] = h2[39 - i];
    cor_h_rows(g, sign, rr, rr_diag);
}

// Magnitudes are taken without saturation: −32768 stays −32768.
void amrefr_SetSign(Word16* dn, Word16* dn2, Word16* tmp, Word16* sign) {
    for (int i = 0; i < 40; ++i) {
        sign[i] = dn[i] >= 0 ? 32767 : -32767;
        Word16 m = dn[i] >= 0 ? dn[i] : wrap16(-std::int32_t{dn[i]});
        dn[i] = dn2[i] = tmp[i] = m;
    }
}

void amrefr_ClearMinM(Word16* dn2, Word16* tmp, Word16 n) {
    for (int t = 0; t < 5; ++t)
        for (int r = 0; r < 8 - n; ++r) {
            std::uint16_t min = 32767;
            int pos = t;
            for (int j = t; j < 40; j += 5)
                if (static_cast<std::uint16_t>(tmp[j]) < min) {
                    min = static_cast<std::uint16_t>(tmp[j]);
                    pos = j;
                }
            dn2[pos] = -1;
            tmp[pos] = 32767;
        }
}

void amrefr_SetSign12K2_lp1(Word16 k_cn, Word16 k_dn, const Word16* cn, Word16* dn, Word16* en, Word16* sign) {
    for (int i = 0; i < 40; ++i) {
        Word16 cor = sat16((std::int64_t{L_mac(L_mult(k_cn, cn[i]), k_dn, dn[i])} + 32) >> 6);
        en[i] = cor >= 0 ? cor : wrap16(-std::int32_t{cor});
        if (cor < 0) {
            sign[i] = -32767;
            dn[i] = wrap16(-std::int32_t{dn[i]});
        }
    }
}

// LP analysis leaves: lag window, Levinson-Durbin recursion, inverse square
// root, double-precision products, ISP polynomials and conversions, spectral
// weighting.
#include "amrwb_kernels.h"
#include "amrwb_lanes.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
// The double-precision split hi = L >> 16, lo = (L & 0xFFFF) >> 1.
Word16 hi_of(Word32 L) { return static_cast<Word16>(L >> 16); }
Word16 lo_of(Word32 L) { return static_cast<Word16>((L & 0xFFFF) >> 1); }
Word32 clear0(Word32 L) { return static_cast<Word32>(static_cast<std::uint32_t>(L) & ~1u); }
// High 32 bits of the 48-bit product of a 32-bit and a 16-bit value.
std::int64_t mul_hi(Word32 a, std::int32_t b) { return (std::int64_t{a} * b) >> 16; }

// L_mult(ah, bh) + 2·mult(ah, bl) + 2·mult(al, bh) of the split operands,
// without the intermediate saturation; the final value saturates.
Word32 mpy32(Word32 a, Word32 b) {
    a = clear0(a);
    b = clear0(b);
    std::int32_t ah = a >> 16, bh = b >> 16;
    std::int64_t t = mul_hi(a, bh) + mul_hi(b, ah) - std::int64_t{ah} * bh;
    return sat32(2 * t);
}

// Reciprocal seed of Div_32: floor(16383·32768 / denom_hi), by integer division.
Word16 reciprocal(Word32 denom) {
    std::int32_t d = denom >> 16;
    if (d <= 0) return MAX_16;
    return sat16((std::int64_t{16383} * 32768) / d);
}

Word32 div32(Word32 num, Word32 denom) {
    Word16 approx = reciprocal(denom);
    Word32 L = sat32(std::int64_t{MAX_32} - 2 * mul_hi(clear0(denom), approx));
    L = wrap32(2 * mul_hi(clear0(L), approx));
    return L_shl(mpy32(num, L), 2);
}
}  // namespace

void amr_wb_Lag_window(Word32* R) {
    for (int i = 1; i <= 16; ++i) {
        Word16 hi = hi_of(R[i]), lo = lo_of(R[i]);
        Word32 L = L_mult(hi, amr_wb_lag_hi[i - 1]);
        L = L_add(L, 2 * std::int32_t{mult(hi, amr_wb_lag_lo[i - 1])});
        L = L_add(L, 2 * std::int32_t{mult(lo, amr_wb_lag_hi[i - 1])});
        R[i] = L;
    }
}

void amr_wb_Levinson(Word16* mem, const Word32* R, Word16* A, Word16* rc) {
    Word32 a[17], an[17];  // Q27
    Word32 K = div32(L_abs(R[1]), R[0]);
    if (R[1] > 0) K = L_negate(K);
    rc[0] = round16(K);
    a[1] = K >> 4;
    Word32 alpha = mpy32(R[0], L_sub(MAX_32, L_abs(mpy32(K, K))));
    Word16 alp_exp = norm_l(alpha);
    alpha = L_shl(alpha, alp_exp);

    for (int i = 2; i <= 16; ++i) {
        Word32 t0 = 0;
        for (int j = 1; j < i; ++j) t0 = L_add(t0, mpy32(R[j], a[i - j]));
        t0 = L_shl(t0, 4);
        t0 = L_add(t0, R[i]);
        K = div32(L_abs(t0), alpha);
        if (t0 > 0) K = L_negate(K);
        K = L_shl(K, alp_exp);
        rc[i - 1] = round16(K);
        if (abs_s(rc[i - 1]) > 32750) {
            // Unstable: fall back to the last stable filter.
            A[0] = 4096;
            for (int j = 0; j < 16; ++j) A[j + 1] = mem[j];
            rc[0] = mem[16];
            rc[1] = mem[17];
            return;
        }
        for (int j = 1; j < i; ++j) an[j] = L_add(a[j], mpy32(K, a[i - j]));
        an[i] = K >> 4;
        alpha = mpy32(alpha, L_sub(MAX_32, L_abs(mpy32(K, K))));
        Word16 j = norm_l(alpha);
        alpha = L_shl(alpha, j);
        alp_exp = add(alp_exp, j);
        for (int k = 1; k <= i; ++k) a[k] = an[k];
    }
    A[0] = 4096;
    for (int i = 1; i <= 16; ++i) {
        A[i] = round16(L_shl(a[i], 1));
        mem[i - 1] = A[i];
    }
    mem[16] = rc[0];
    mem[17] = rc[1];
}

void amr_wb_Isqrt_n(Word32* frac, Word16* exp) {
    if (*frac <= 0) {
        *exp = 0;
        *frac = MAX_32;
        return;
    }
    Word32 L = *frac;
    if (*exp & 1) L >>= 1;
    *exp = static_cast<Word16>(-((*exp - 1) >> 1));
    int i = (L >> 25) - 16;
    // A mantissa that is not normalised would index outside the table.
    if (i < 0) i = 0;
    if (i > 47) i = 47;
    Word16 a = static_cast<Word16>((L >> 10) & 0x7FFF);
    Word16 tmp = static_cast<Word16>(amr_wb_table_isqrt[i] - amr_wb_table_isqrt[i + 1]);
    *frac = L_msu(L_deposit_h(amr_wb_table_isqrt[i]), tmp, a);
}

Word32 amr_wb_MPY_32_16(Word32 L, Word16 n) { return wrap32(2 * mul_hi(clear0(L), n)); }

Word32 amr_wb_MPY_32(Word32 a, Word32 b) { return mpy32(a, b); }

Word32 amr_wb_MPY_32_neon(Word32 a, Word32 b) {
    Word16 ah = hi_of(a), al = lo_of(a), bh = hi_of(b), bl = lo_of(b);
    std::int32_t m = std::int32_t{mult(ah, bl)} + mult(bh, al);
    return L_add(L_mult(ah, bh), 2 * m);
}

Word32 amr_wb_Calc_IsfCorr(const Word16* d, const Word16* e, Word16 mean) {
    Word32 term[8];
    for (int k = 0; k < 8; ++k) {
        Word32 P = L_mult(sub(d[k], mean), sub(e[k], mean));
        Word16 hi = hi_of(P), lo = lo_of(P);
        term[k] = sat32(std::int64_t{L_mult(hi, hi)} + 4 * std::int64_t{mult(hi, lo)});
    }
    Word32 lane[4];
    for (int k = 0; k < 4; ++k) lane[k] = L_add(term[k], term[k + 4]);
    return amr_wb_lanes::combine4(lane);
}

void amr_wb_Get_isp_pol(const Word16* isp, Word32* f, Word16 n, const Word16* c) {
    f[0] = std::int32_t{c[0]} << 13;
    f[1] = L_mult(isp[0], c[1]);
    isp += 2;
    for (int i = 2; i <= n; ++i, isp += 2) {
        f[i] = f[i - 2];
        for (int j = i; j >= 2; --j) {
            Word32 t = sat32(std::int64_t{f[j]} - 4 * mul_hi(f[j - 1], *isp));
            f[j] = L_add(t, f[j - 2]);
        }
        f[1] = sat32(std::int64_t{f[1]} - std::int64_t{c[2]} * *isp);
    }
}

void amr_wb_Int_isp_InnerLoop(const Word16* isp_old, const Word16* isp_new, Word16* out, Word16 fac_old,
                              Word16 fac_new) {
    for (int i = 0; i < 16; ++i) out[i] = round16(L_mac(L_mult(isp_old[i], fac_old), isp_new[i], fac_new));
}

void amr_wb_Isp_Az_PrepF1F2_Loop1(Word32* f1, Word32* f2, Word16 v) {
    for (int i = 0; i < 8; ++i) {
        std::int64_t t1 = 2 * ((std::int64_t{f1[i] >> 1} * v) >> 15);
        std::int64_t t2 = 2 * ((std::int64_t{f2[i] >> 1} * v) >> 15);
        f1[i] = sat32(f1[i] + t1);
        f2[i] = sat32(f2[i] - t2);
    }
}

void amr_wb_Isf_isp(const Word16* isf, Word16* isp, Word16 m) {
    for (int i = 0; i < m; ++i) {
        Word16 v = i < m - 1 ? isf[i] : sat16(2 * std::int32_t{isf[i]});
        // Valid frequencies lie in 0..16383; clamping keeps any other input
        // inside the cosine table.
        if (v < 0) v = 0;
        if (v > 16383) v = 16383;
        int ind = v >> 7, off = v & 0x7F;
        std::int32_t T0 = amr_wb_isp_isf_table[ind], T1 = amr_wb_isp_isf_table[ind + 1];
        isp[i] = wrap16(T0 + (((T1 - T0) * off) >> 7));
    }
}

void amr_wb_Weight_a_M(const Word16* a, Word16* ap, const Word16* fac) {
    ap[0] = a[0];
    for (int i = 1; i <= 16; ++i) ap[i] = round16(L_mult(a[i], fac[i - 1]));
}

void amr_wb_Weight_a_M16k(const Word16* a, Word16* ap, const Word16* fac) {
    ap[0] = a[0];
    for (int i = 1; i <= 20; ++i) ap[i] = round16(L_mult(a[i], fac[i - 1]));
}

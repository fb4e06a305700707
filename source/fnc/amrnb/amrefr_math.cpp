// Scalar arithmetic primitives: division, inverse square root, logarithms,
// power of two and the 32-bit double-precision multiply and divide.
#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// table[i]·65536 − 2·(table[i] − table[i + 1])·a, the interpolation step of
// the table-driven functions (no step can saturate with these tables).
Word32 interpolate(const Word16* table, Word16 i, Word16 a) {
    return L_msu(L_deposit_h(table[i]), sub(table[i], table[i + 1]), a);
}

}  // namespace

// Exact integer division: the same values as a single-precision division
// rounded toward zero, without touching the thread's floating-point mode.
Word16 amrefr_div_s(Word16 var1, Word16 var2) { return div_s(var1, var2); }

Word32 amrefr_Inv_sqrt(Word32 L_x) {
    if (L_x <= 0) return 0x3FFFFFFF;
    Word16 e = norm_l(L_x);
    L_x = static_cast<Word32>(static_cast<std::uint32_t>(L_x) << e);
    e = static_cast<Word16>(30 - e);
    if ((e & 1) == 0) L_x >>= 1;
    e = static_cast<Word16>((e >> 1) + 1);
    L_x >>= 9;
    Word16 i = static_cast<Word16>((L_x >> 16) - 16);
    Word16 a = static_cast<Word16>((L_x >> 1) & 0x7FFF);
    return interpolate(amrefr_inv_sqrt_table, i, a) >> e;
}

void amrefr_Log2_norm(Word32 L_x, Word16 exp, Word16* exponent, Word16* fraction) {
    if (L_x <= 0) {
        *exponent = 0;
        *fraction = 0;
        return;
    }
    *exponent = static_cast<Word16>(30 - exp);
    L_x >>= 9;
    Word16 i = static_cast<Word16>((L_x >> 16) - 32);
    Word16 a = static_cast<Word16>((L_x >> 1) & 0x7FFF);
    *fraction = static_cast<Word16>(interpolate(amrefr_log2_table, i, a) >> 16);
}

void amrefr_Log2(Word32 L_x, Word16* exponent, Word16* fraction) {
    if (L_x <= 0) {
        *exponent = 0;
        *fraction = 0;
        return;
    }
    Word16 exp = norm_l(L_x);
    amrefr_Log2_norm(static_cast<Word32>(static_cast<std::uint32_t>(L_x) << exp), exp, exponent, fraction);
}

Word16 amrefr_fn10Log10(Word32 L_x, Word16 fbits) {
    Word16 exponent, fraction;
    amrefr_Log2(L_x, &exponent, &fraction);
    Word32 t = L_mac(L_mult(sub(exponent, fbits), 24660), mult(fraction, 24660), 1);
    return extract_l(L_shr_r(t, 6));
}

Word32 amrefr_Pow2(Word16 exponent, Word16 fraction) {
    Word32 L = L_mult(fraction, 32);
    Word16 i = static_cast<Word16>(L >> 16);
    Word16 a = static_cast<Word16>((L >> 1) & 0x7FFF);
    Word32 y = interpolate(amrefr_pow_table, i, a);
    int s = 30 - exponent;
    if (s == 0) return y;
    if (s < 0 || s > 31) return 0;
    return ((y >> (s - 1)) + 1) >> 1;
}

Word32 amrefr_MPY_32(Word32 L_1, Word32 L_2) {
    Word16 hi1 = dp_hi(L_1), lo1 = dp_lo(L_1), hi2 = dp_hi(L_2), lo2 = dp_lo(L_2);
    Word32 r = L_mult(hi1, hi2);
    r = L_mac(r, mult(hi1, lo2), 1);
    return L_mac(r, mult(lo1, hi2), 1);
}

Word32 amrefr_DIV_32(Word32 L_num, Word32 L_denom) {
    Word16 dh = dp_hi(L_denom), dl = dp_lo(L_denom);
    Word16 approx = div_s(0x3FFF, dh);
    Word32 L = L_mac(L_mult(dh, approx), mult(dl, approx), 1);
    L = L_sub(MAX_32, L);
    L = L_mac(L_mult(dp_hi(L), approx), mult(dp_lo(L), approx), 1);
    Word32 r = amrefr_MPY_32(L_num, L);
    return L_shl(r, 2);
}

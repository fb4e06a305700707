// Arithmetic functions of the AMR-WB codec: rounding shifts, inverse square
// root, powers and logarithms of 2, normalised energies, the noise generator.
#include "amrwb_basic_op.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

Word32 amr_wb_L_shr_r(Word32 L, Word16 n) {
    if (n == 0 || L == 0) return L;
    if (n < 0) return L_shl(L, static_cast<Word16>(-n));
    if (n >= 33) return 0;
    Word32 t = n - 1 > 30 ? (L < 0 ? -1 : 0) : (L >> (n - 1));
    return static_cast<Word32>((std::int64_t{t} + (t & 1)) >> 1);
}

Word32 amr_wb_Isqrt(Word32 L) {
    Word16 exp = norm_l(L);
    L = L_shl(L, exp);
    exp = static_cast<Word16>(31 - exp);
    amr_wb_Isqrt_n(&L, &exp);
    return L_shl(L, exp);
}

Word32 amr_wb_Pow2(Word16 exponent, Word16 fraction) {
    Word32 L = L_mult(fraction, 32);
    Word16 i = extract_h(L);
    L >>= 1;
    Word16 a = static_cast<Word16>(L & 0x7FFF);
    L = L_deposit_h(amr_wb_pow_table[i]);
    Word16 tmp = static_cast<Word16>(amr_wb_pow_table[i] - amr_wb_pow_table[i + 1]);
    L = L_msu(L, tmp, a);
    return amr_wb_L_shr_r(L, static_cast<Word16>(30 - exponent));
}

Word16 amr_wb_Log2_norm(Word32 L, Word16 exp, Word16* exponent) {
    if (L <= 0) {
        *exponent = 0;
        return 0;
    }
    *exponent = static_cast<Word16>(30 - exp);
    L >>= 9;
    Word16 i = extract_h(L);
    L >>= 1;
    Word16 a = static_cast<Word16>(L & 0x7FFF);
    i = static_cast<Word16>(i - 32);
    Word32 y = L_deposit_h(amr_wb_log2_table[i]);
    Word16 tmp = static_cast<Word16>(amr_wb_log2_table[i] - amr_wb_log2_table[i + 1]);
    y = L_msu(y, tmp, a);
    return extract_h(y);
}

Word16 amr_wb_Log2(Word32 L, Word16* exponent) {
    Word16 exp = norm_l(L);
    return amr_wb_Log2_norm(L_shl(L, exp), exp, exponent);
}

namespace {
Word32 normalise(Word32 L, Word16* exp) {
    Word16 sft = norm_l(L);
    *exp = static_cast<Word16>(30 - sft);
    return L_shl(L, sft);
}
}  // namespace

Word32 amr_wb_Dot_product12(const Word16* x, const Word16* y, Word16* exp) {
    return normalise(amr_wb_Vec_L_mac8(x, y, 64, 1), exp);
}

Word32 amr_wb_Dot_product12s(const Word16* x, Word16 n, Word16* exp) {
    return normalise(amr_wb_Vec_L_sqa(x, n, 1), exp);
}

Word16 amr_wb_Random(Word16* seed) {
    *seed = wrap16(std::int32_t{*seed} * 31821 + 13849);
    return *seed;
}

Word16 amr_wb_median5(const Word16* x) {
    // The middle one of x[-2..2].
    Word16 v[5] = {x[-2], x[-1], x[0], x[1], x[2]};
    for (int i = 1; i < 5; ++i)
        for (int j = i; j > 0 && v[j] < v[j - 1]; --j) {
            Word16 t = v[j];
            v[j] = v[j - 1];
            v[j - 1] = t;
        }
    return v[2];
}

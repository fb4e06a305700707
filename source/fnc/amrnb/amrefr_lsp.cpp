// Conversions between LPC coefficients, line spectral pairs (cosine domain)
// and line spectral frequencies, order 10.
#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// Upper 32 bits of the 48-bit product of a 32-bit word and a 16-bit value.
Word32 mul_hi(Word32 v, Word16 x) { return static_cast<Word32>((std::int64_t{v} * x) >> 16); }
Word32 plain_shl(Word32 v, int n) { return static_cast<Word32>(static_cast<std::uint32_t>(v) << n); }

}  // namespace

Word16 amrefr_Chebps(Word16 x, const Word32* f) {
    Word32 b2 = 0x1000000;
    Word32 b1 = f[1] + std::int32_t{x} * 1024;
    for (int i = 2; i <= 4; ++i) {
        Word32 b0 = plain_shl(mul_hi(b1, x), 2);
        b0 = L_sub(L_add(b0, f[i]), b2);
        b2 = b1;
        b1 = b0;
    }
    Word32 t0 = plain_shl(mul_hi(b1, x), 1);
    t0 = L_sub(L_add(t0, f[5]), b2);
    return sat16(t0 >> 10);
}

void amrefr_Get_lsp_pol(const Word16* lsp, Word32* f) {
    Word32 g[6];
    g[0] = 0x1000000;
    g[1] = -1024 * std::int32_t{lsp[0]};
    for (int k = 2; k <= 5; ++k) {
        Word16 q = lsp[2 * (k - 1)];
        auto t = [q](Word32 v) { return L_shl(mul_hi(v, q), 2); };
        Word32 old[6];
        for (int j = 0; j < k; ++j) old[j] = g[j];
        Word32 twice = k == 2 ? 0x2000000 : L_add(old[k - 2], old[k - 2]);
        g[k] = L_sub(twice, t(old[k - 1]));
        for (int j = k - 1; j >= 2; --j) g[j] = L_sub(L_add(old[j], old[j - 2]), t(old[j - 1]));
        g[1] = old[1] - 1024 * std::int32_t{q};
    }
    for (int j = 0; j < 6; ++j) f[j] = g[j];
}

void amrefr_Poly2A(Word32* f1, Word32* f2, Word16* a) {
    for (int i = 5; i >= 1; --i) {
        f1[i] = L_add(f1[i], f1[i - 1]);
        f2[i] = L_sub(f2[i], f2[i - 1]);
    }
    a[0] = 4096;
    for (int i = 1; i <= 5; ++i) {
        a[i] = static_cast<Word16>(L_add(L_add(f1[i], f2[i]), 4096) >> 13);
        a[11 - i] = static_cast<Word16>(L_add(L_sub(f1[i], f2[i]), 4096) >> 13);
    }
}

void amrefr_Lsp_Az(const Word16* lsp, Word16* a) {
    Word16 copy[10];
    for (int i = 0; i < 10; ++i) copy[i] = lsp[i];
    Word32 f1[6], f2[6];
    amrefr_Get_lsp_pol(&copy[0], f1);
    amrefr_Get_lsp_pol(&copy[1], f2);
    amrefr_Poly2A(f1, f2, a);
}

void amrefr_Lsf_lsp(const Word16* lsf, Word16* lsp) {
    for (int i = 0; i < 10; ++i) {
        int ind = lsf[i] >> 8;
        int offset = lsf[i] & 0xFF;
        std::int32_t d = (std::int32_t{amrefr_table[ind + 1]} - amrefr_table[ind]) * offset;
        lsp[i] = sat16(std::int32_t{amrefr_table[ind]} + (d >> 8));
    }
}

void amrefr_Lsp_lsf2(const Word16* lsp, Word16* lsf) {
    int ind = 63;
    for (int i = 9; i >= 0; --i) {
        while (amrefr_table[ind] < lsp[i]) --ind;
        Word32 L = L_shl(L_mult(sub(lsp[i], amrefr_table[ind]), amrefr_slope[ind]), 3);
        lsf[i] = add(static_cast<Word16>(ind * 256), round16(L));
    }
}

void amrefr_Reorder_lsf(Word16* lsf) {
    Word16 lsf_min = 205;
    for (int i = 0; i < 10; ++i) {
        if (lsf[i] < lsf_min) lsf[i] = lsf_min;
        lsf_min = add(lsf[i], 205);
    }
}

void amrefr_lsp_avg(Word16* mean, const Word16* lsp) {
    for (int i = 0; i < 10; ++i) {
        Word32 L = L_deposit_h(mean[i]);
        L = L_msu(L, 5243, mean[i]);
        L = L_mac(L, 5243, lsp[i]);
        mean[i] = round16(L);
    }
}

void amrefr_Weight_Ai(const Word16* a, const Word16* fac, Word16* a_exp) {
    a_exp[0] = a[0];
    for (int i = 1; i <= 10; ++i) a_exp[i] = round16(L_mult(a[i], fac[i - 1]));
}

// LP analysis of the encoder: windowed autocorrelation and the ISP root
// search on the cosine grid; the ISP-to-ISF conversion.
#include "amrwb_basic_op.h"
#include "amrwb_encoder_lp.h"
#include "amrwb_kernels.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

void amr_wb_Autocorr(const Word16* x, Word32* r) {
    Word16 y[384];
    amr_wb_AutorCorr_window(x, y);
    Word32 e = amr_wb_Autocorr_energy(y);
    Word16 shift = static_cast<Word16>(4 - (norm_l(e) >> 1));
    if (shift > 0) amr_wb_Vec_shr_r(y, shift, 384);
    Word32 r0 = amr_wb_Vec_L_sqa(y, 384, 1);
    Word16 norm = norm_l(r0);
    r[0] = L_shl(r0, norm);
    amr_wb_ACF_Loop(y, r, norm);
}

namespace {
constexpr int M = 16, NC = 8, GRID_LAST = 100;

// Chebyshev coefficients in the kernel's 32-bit form.
void cheb_coefs(const Word16* c, int n, Word32* f) {
    for (int k = 0; k <= n; ++k) f[k] = std::int32_t{c[k]} * (k < 2 ? 8192 : 4096);
}

bool same_sign(Word16 a, Word16 b) { return L_mult(a, b) > 0; }

// x_new - y_new·(x_old - x_new)/(y_old - y_new), as the standard forms it.
Word16 interpolate(Word16 x_new, Word16 y_new, Word16 x_old, Word16 y_old) {
    Word16 x = sub(x_old, x_new), y = sub(y_old, y_new);
    if (y == 0) return x_new;
    Word16 sign = y;
    y = abs_s(y);
    Word16 exp = norm_s(y);
    y = shl(y, exp);
    y = amr_wb_div_s(16383, y);
    Word32 t0 = L_shr(L_mult(x, y), static_cast<Word16>(20 - exp));
    y = extract_l(t0);
    if (sign < 0) y = negate(y);
    t0 = L_shr(L_mult(y_new, y), 11);
    return sub(x_new, extract_l(t0));
}
}  // namespace

void amr_wb_Az_isp(const Word16* a, Word16* isp, const Word16* old_isp) {
    Word16 c1[NC + 1], c2[NC];
    for (int i = 0; i < NC; ++i) {
        Word32 t0 = L_mult(a[i], 16384);
        c1[i] = round16(L_mac(t0, a[M - i], 16384));
        c2[i] = round16(L_msu(t0, a[M - i], 16384));
    }
    c1[NC] = a[NC];
    for (int i = 2; i < NC; ++i) c2[i] = add(c2[i], c2[i - 2]);
    Word32 f1[NC + 1], f2[NC];
    cheb_coefs(c1, NC, f1);
    cheb_coefs(c2, NC - 1, f2);

    const Word32* f = f1;
    Word16 order = NC;
    int nf = 0, j = 0, step = 1;
    Word16 x_old = amr_wb_grid[0], y_old = amr_wb_Chebps2(x_old, f, order);
    while (nf < M - 1) {
        if (j >= GRID_LAST) {
            // Fewer than 15 roots on the grid: keep the previous ISPs.
            for (int i = 0; i < M; ++i) isp[i] = old_isp[i];
            return;
        }
        // The double step from point 99 stops at the last grid point.
        int taken = j + step > GRID_LAST ? GRID_LAST - j : step;
        j += taken;
        Word16 x_new = amr_wb_grid[j], y_new = amr_wb_Chebps2(x_new, f, order);
        if (same_sign(y_new, y_old)) {
            x_old = x_new;
            y_old = y_new;
            step = abs_s(y_new) > 200 ? 2 : 1;
            continue;
        }
        if (taken == 2) {
            Word16 x_mid = amr_wb_grid[j - 1], y_mid = amr_wb_Chebps2(x_mid, f, order);
            if (L_mult(y_mid, y_old) <= 0) {
                x_new = x_mid;
                y_new = y_mid;
                j -= 1;
            } else {
                x_old = x_mid;
                y_old = y_mid;
            }
        }
        for (int i = 0; i < 2; ++i) {
            Word16 x_mid = add(shr(x_old, 1), shr(x_new, 1)), y_mid = amr_wb_Chebps2(x_mid, f, order);
            if (same_sign(y_mid, y_new)) {
                x_new = x_mid;
                y_new = y_mid;
            } else {
                x_old = x_mid;
                y_old = y_mid;
            }
        }
        Word16 root = interpolate(x_new, y_new, x_old, y_old);
        isp[nf++] = root;
        if (nf == M - 1) break;
        f = f == f1 ? f2 : f1;
        order = f == f1 ? NC : NC - 1;
        x_old = root;
        y_old = amr_wb_Chebps2(root, f, order);
        step = 1;
    }
    isp[M - 1] = shl(a[M], 3);
}

void amr_wb_Isp_isf(const Word16* isp, Word16* isf) {
    // The last coefficient: search downwards from 127, or from 64 when positive.
    int ind = isp[M - 1] > 0 ? 64 : 127;
    for (int i = M - 1; i >= 0; --i) {
        if (i == M - 2) ind = 127;  // the others continue downwards: ISPs fall with i
        while (amr_wb_isp_isf_table[ind] < isp[i] && ind > 0) --ind;
        Word32 L = L_mult(sub(isp[i], amr_wb_isp_isf_table[ind]), amr_wb_isp_isf_slope[ind]);
        isf[i] = round16(L_shl(L, 4));  // (isp - table)·slope >> 11
        isf[i] = add(isf[i], static_cast<Word16>(ind << 7));
    }
    isf[M - 1] = shr(isf[M - 1], 1);
}

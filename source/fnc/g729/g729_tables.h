// Constant tables of the G.729 Annex A/B codec under the codec's own names: the standard's tables
// as they are (g729_tables_std.h) and the working layouts built from them at compile time.
#pragma once

#include <array>
#include <cstdint>

#include "g729_tables_std.h"

namespace g729 {

using Tab16 = std::int16_t;

inline constexpr auto& g729ab_hamwindow = g729_std::hamwindow;
inline constexpr auto& g729ab_table = g729_std::table;
inline constexpr auto& g729ab_slope = g729_std::slope;
inline constexpr auto& g729ab_table2 = g729_std::table2;
inline constexpr auto& g729ab_slope_cos = g729_std::slope_cos;
inline constexpr auto& g729ab_slope_acos = g729_std::slope_acos;
inline constexpr auto& g729ab_lspcb1 = g729_std::lspcb1;
inline constexpr auto& g729ab_lspcb2 = g729_std::lspcb2;
inline constexpr auto& g729ab_fg_sum = g729_std::fg_sum;
inline constexpr auto& g729ab_fg_sum_inv = g729_std::fg_sum_inv;
inline constexpr auto& g729ab_noise_fg_sum = g729_std::noise_fg_sum;
inline constexpr auto& g729ab_noise_fg_sum_inv = g729_std::noise_fg_sum_inv;
inline constexpr auto& g729ab_freq_prev_reset = g729_std::freq_prev_reset;
inline constexpr auto& g729ab_pred = g729_std::pred;
inline constexpr auto& g729ab_gbk1 = g729_std::gbk1;
inline constexpr auto& g729ab_gbk2 = g729_std::gbk2;
inline constexpr auto& g729ab_map1 = g729_std::map1;
inline constexpr auto& g729ab_map2 = g729_std::map2;
inline constexpr auto& g729ab_imap1 = g729_std::imap1;
inline constexpr auto& g729ab_imap2 = g729_std::imap2;
inline constexpr auto& g729ab_thr1 = g729_std::thr1;
inline constexpr auto& g729ab_thr2 = g729_std::thr2;
inline constexpr auto& g729ab_b_pre = g729_std::b140;
inline constexpr auto& g729ab_a_pre = g729_std::a140;
inline constexpr auto& g729ab_b_post = g729_std::b100;
inline constexpr auto& g729ab_a_post = g729_std::a100;
inline constexpr auto& g729ab_bitsno = g729_std::bitsno;
inline constexpr auto& g729ab_bitsno2 = g729_std::bitsno2;
inline constexpr auto& g729ab_tabpow = g729_std::tabpow;
inline constexpr auto& g729ab_tablog = g729_std::tablog;
inline constexpr auto& g729ab_tabsqr = g729_std::tabsqr;
inline constexpr auto& g729ab_tab_zone = g729_std::tab_zone;
inline constexpr auto& g729ab_lbf_corr = g729_std::lbf_corr;
inline constexpr auto& g729ab_factor_fx = g729_std::factor_fx;
inline constexpr auto& g729ab_shift_fx = g729_std::shift_fx;
inline constexpr auto& g729ab_fact = g729_std::fact;
inline constexpr auto& g729ab_tab_Sidgain = g729_std::tab_Sidgain;
inline constexpr auto& g729ab_PtrTab_1 = g729_std::PtrTab_1;
inline constexpr auto& g729ab_PtrTab_2 = g729_std::PtrTab_2;
inline constexpr auto& g729ab_Mp = g729_std::Mp;

// MA predictors [mode][lag][element] from the standard's 8 x 10 layout (row 4·mode + lag).
constexpr std::array<std::array<std::array<Tab16, 10>, 4>, 2> g729Split8x10(
    const std::array<std::array<Tab16, 10>, 8>& t) {
    std::array<std::array<std::array<Tab16, 10>, 4>, 2> r{};
    for (int m = 0; m < 2; ++m)
        for (int k = 0; k < 4; ++k) r[m][k] = t[4 * m + k];
    return r;
}
inline constexpr auto g729ab_fg = g729Split8x10(g729_std::fg);
inline constexpr auto g729ab_noise_fg = g729Split8x10(g729_std::noise_fg);

// Margins of the SID energy average, held as 16 - marg of the standard.
inline constexpr std::array<Tab16, 3> g729ab_marg{
    static_cast<Tab16>(16 - g729_std::marg[0]), static_cast<Tab16>(16 - g729_std::marg[1]),
    static_cast<Tab16>(16 - g729_std::marg[2])};

// First-stage LSP codebook in groups of four codewords, element-major inside a group.
inline constexpr auto g729ab_lspcb1_reorder = [] {
    std::array<Tab16, 1280> r{};
    for (int p = 0; p < 128; ++p)
        for (int k = 0; k < 10; ++k) r[(p >> 2) * 40 + 4 * k + (p & 3)] = g729_std::lspcb1[p][k];
    return r;
}();
constexpr std::array<Tab16, 160> g729ReorderHalf(int first) {
    std::array<Tab16, 160> r{};
    for (int c = 0; c < 32; ++c)
        for (int k = 0; k < 5; ++k) r[20 * (c >> 2) + 4 * k + (c & 3)] = g729_std::lspcb2[c][first + k];
    return r;
}
inline constexpr auto g729ab_lspcb2a_reorder = g729ReorderHalf(0);
inline constexpr auto g729ab_lspcb2b_reorder = g729ReorderHalf(5);

// Lag window, lags 1..12, in the one-word double-precision form.
inline constexpr auto g729ab_lag = [] {
    std::array<std::int32_t, 12> r{};
    for (int i = 0; i < 12; ++i) r[i] = g729_std::lag_h[i] * 65536 + g729_std::lag_l[i] * 2;
    return r;
}();

// LSP search grid: the 51 points then ten zeros.
inline constexpr auto g729ab_grid = [] {
    std::array<Tab16, 61> r{};
    for (int i = 0; i < 51; ++i) r[i] = g729_std::grid[i];
    return r;
}();

// 1/3-resolution interpolation filter, row p entry i = inter_3l[p + 3i], and its reversed rows.
inline constexpr auto g729ab_inter_3l_fast = [] {
    std::array<std::array<Tab16, 10>, 4> r{};
    for (int p = 0; p < 4; ++p)
        for (int i = 0; i < 10; ++i) r[p][i] = g729_std::inter_3l[p + 3 * i];
    return r;
}();
inline constexpr auto g729ab_inter_3l_fast_rev = [] {
    std::array<std::array<Tab16, 10>, 4> r{};
    for (int p = 0; p < 4; ++p)
        for (int m = 0; m < 10; ++m) r[p][m] = g729_std::inter_3l[p + 3 * (9 - m)];
    return r;
}();

// Gain pre-selection constants.
inline constexpr std::array<Tab16, 2> g729ab_coef{g729_std::coef[0][0], g729_std::coef[1][0]};
inline constexpr std::array<std::int32_t, 2> g729ab_L_coef{
    static_cast<std::int32_t>(g729_std::L_coef[0][1] >> 10), static_cast<std::int32_t>(g729_std::L_coef[1][1] >> 15)};

inline constexpr std::array<Tab16, 10> g729ab_gamma1_tab{24576, 18432, 13824, 10368, 7776, 5832, 4374, 3281, 2461, 1846};
inline constexpr std::array<Tab16, 10> g729ab_gamma1pst_tab{22938, 16057, 11240, 7868, 5508, 3856, 2699, 1889, 1322, 925};
inline constexpr std::array<Tab16, 10> g729ab_gamma2pst_tab{18022, 9912, 5451, 2998, 1649, 907, 499, 274, 151, 83};
inline constexpr std::array<Tab16, 6> g729ab_chebps_tab1{256, 10, 6, 128, 9, 7};
inline constexpr std::array<Tab16, 10> g729ab_lsp_init{30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
inline constexpr auto& g729ab_lsp_old_table = g729ab_lsp_init;
// Starting SID spectrum of the decoder (Q15 cosines).
inline constexpr std::array<Tab16, 10> g729ab_lspSid_init{31441, 27566, 21458, 13612, 4663, -4663, -13612, -21458, -27566, -31441};
inline constexpr auto g729ab_zero_tab = [] {
    std::array<Tab16, 40> r{};
    r[0] = 4096;
    return r;
}();
inline constexpr std::array<Tab16, 8> g729ab_vq_index_init{0, 1, 2, 3, 4, 5, 6, 7};
inline constexpr std::array<Tab16, 8> g729ab_vq_index_init8{8, 9, 10, 11, 12, 13, 14, 15};
inline constexpr std::array<Tab16, 4> g729ab_vq_index_init2{-1, 0, 1, 2};
inline constexpr Tab16 g729ab_Lsf_lsp2_Const = 20861;
// f[0] = 4096·2048·2 (1.0 in Q24) and the factor 512 that doubles an LSP into Q24.
inline constexpr std::array<Tab16, 3> g729ab_Get_lsp_pol_Consts{4096, 2048, 512};
// -24660 (-3.0103 in Q13), 127.298 in Q14 as high 31 / low -11520, and 5439 (0.166 in Q15).
inline constexpr std::array<Tab16, 4> g729ab_Gain_predict_Consts{-24660, 31, -11520, 5439};
inline constexpr std::array<Tab16, 6> g729ab_Quant_Energy_Consts{1024, -2721, 22111, 4762, 340, 193};
// The decision constants of the 14 rules of the VAD, each a folded 32-bit product.
inline constexpr std::array<std::int32_t, 14> g729ab_MakeDecConsts{-467288064, -318603264, 268435456, 322109440, 63082496,
                                                                  2558464,    -1932736,   375816192, 258670592, 71135232,
                                                                  1625280,    -15339008,  28761088,  60397568};

}  // namespace g729

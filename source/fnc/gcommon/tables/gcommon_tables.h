// Constant tables of the generic routine set. The standard's tables are the live codec's generated
// ones under the set's names (aliases, not copies); the only new things are constexpr views that
// re-slice them: the column halves of the second-stage LSP codebook, the two tap orders of the
// 1/3-resolution interpolation filter and the 51-point root-search grid.
#pragma once

#include <array>
#include <cstdint>

#include "g729_tables_std.h"

namespace gcommon {

using Tab16 = std::int16_t;

inline constexpr auto& g729HamwindowTab = g729_std::hamwindow;
inline constexpr auto& g729CosTab = g729_std::table;
inline constexpr auto& g729Slope_cosTab = g729_std::slope_cos;
inline constexpr auto& g729Slope_acosTab = g729_std::slope_acos;
inline constexpr auto& g729Lspcb1Tab = g729_std::lspcb1;
inline constexpr auto& g729FgSumTab = g729_std::fg_sum;
inline constexpr auto& g729FgSumInvTab = g729_std::fg_sum_inv;
inline constexpr auto& g729ZoneTab = g729_std::tab_zone;
inline constexpr auto& g729PredTab = g729_std::pred;
inline constexpr auto& g729a140Tab = g729_std::a140;
inline constexpr auto& g729b140Tab = g729_std::b140;
inline constexpr auto& g729a100Tab = g729_std::a100;
inline constexpr auto& g729b100Tab = g729_std::b100;
inline constexpr auto& g729Gbk1Tab = g729_std::gbk1;
inline constexpr auto& g729Gbk2Tab = g729_std::gbk2;
inline constexpr auto& g729imap1Tab = g729_std::imap1;
inline constexpr auto& g729imap2Tab = g729_std::imap2;
inline constexpr auto& g729CoefTab = g729_std::coef;
inline constexpr auto& g729LcoefTab = g729_std::L_coef;
inline constexpr auto& g729Thr1Tab = g729_std::thr1;
inline constexpr auto& g729Thr2Tab = g729_std::thr2;
inline constexpr auto& g729bSidgainTab = g729_std::tab_Sidgain;
inline constexpr auto& g729bPtr1Tab = g729_std::PtrTab_1;
inline constexpr auto& g729bPtr2Tab = g729_std::PtrTab_2;
inline constexpr auto& g729bNoiseFgSumTab = g729_std::noise_fg_sum;
inline constexpr auto& g729bNoiseFgSumInvTab = g729_std::noise_fg_sum_inv;
inline constexpr auto& g729bLbf_corrTab = g729_std::lbf_corr;
inline constexpr auto& g729bFactor_fxTab = g729_std::factor_fx;
inline constexpr auto& g729bShift_fxTab = g729_std::shift_fx;
inline constexpr auto& g729bMpTab = g729_std::Mp;
inline constexpr auto& g729bFactTab = g729_std::fact;
inline constexpr auto& g729bMargTab = g729_std::marg;
inline constexpr auto& g729aGridTab = g729_std::grid;

// The standard keeps each pair of MA predictors as 8 rows of 10; the set reads them as 2 x 4 x 10.
using Predictors = std::array<std::array<std::array<Tab16, 10>, 4>, 2>;
constexpr Predictors splitPredictors(const std::array<std::array<Tab16, 10>, 8>& flat) {
    Predictors p{};
    for (int m = 0; m < 2; ++m)
        for (int k = 0; k < 4; ++k) p[m][k] = flat[4 * m + k];
    return p;
}
inline constexpr Predictors g729FgTab = splitPredictors(g729_std::fg);
inline constexpr Predictors g729bNoiseFgTab = splitPredictors(g729_std::noise_fg);

// Columns 0..4 and 5..9 of the second-stage codebook.
constexpr std::array<std::array<Tab16, 5>, 32> lspcb2Half(int first) {
    std::array<std::array<Tab16, 5>, 32> t{};
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 5; ++c) t[r][c] = g729_std::lspcb2[r][first + c];
    return t;
}
inline constexpr auto g729Lspcb2_1Tab = lspcb2Half(0);
inline constexpr auto g729Lspcb2_2Tab = lspcb2Half(5);

// The interpolation filter per fraction f: forward tap order (Tab1) and interleaved (Tab2).
using InterRows = std::array<std::array<Tab16, 20>, 3>;
constexpr InterRows inter3Forward() {
    InterRows t{};
    const auto& c = g729_std::inter_3l;
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 10; ++i) {
            t[f][9 - i] = c[f + 3 * i];
            t[f][10 + i] = c[3 - f + 3 * i];
        }
    return t;
}
constexpr InterRows inter3Interleaved() {
    InterRows t{};
    const auto& c = g729_std::inter_3l;
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 10; ++i) {
            t[f][2 * i] = c[f + 3 * i];
            t[f][2 * i + 1] = c[3 - f + 3 * i];
        }
    return t;
}
inline constexpr InterRows g729aInter3LoTab1 = inter3Forward();
inline constexpr InterRows g729aInter3LoTab2 = inter3Interleaved();

}  // namespace gcommon

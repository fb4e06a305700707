// Four-lane saturating sums shared by the AMR-WB kernels (internal header).
//
// A lane sum keeps four partial sums P0..P3, Pk taking the terms whose index
// is congruent to k modulo 4 in increasing order, each step saturating as
// L_mac; the result is sat32(sat32(P0 + P2) + sat32(P1 + P3)).
#pragma once

#include "amrwb_basic_op.h"

namespace amr_wb_lanes {

inline Word32 combine4(const Word32* p) {
    using namespace amr_wb_op;
    return L_add(L_add(p[0], p[2]), L_add(p[1], p[3]));
}

// Σ 2·x[i]·y[i] over i < n in four lanes.
inline Word32 dot4(const Word16* x, const Word16* y, int n) {
    // When twice the sum of the magnitudes stays in range no step can clip,
    // and every grouping gives the exact sum.
    std::int64_t sum = 0, mag = 0;
    for (int i = 0; i < n; ++i) {
        std::int32_t p = std::int32_t{x[i]} * y[i];
        sum += p;
        mag += p < 0 ? -std::int64_t{p} : p;
    }
    if (2 * mag <= amr_wb_op::MAX_32) return static_cast<Word32>(2 * sum);
    Word32 p[4] = {0, 0, 0, 0};
    for (int i = 0; i < n; ++i) p[i & 3] = amr_wb_op::L_mac(p[i & 3], x[i], y[i]);
    return combine4(p);
}

// Σ 2·x[i]·y[i] over i < n as one L_mac chain from s0.
inline Word32 chain(Word32 s0, const Word16* x, const Word16* y, int n) {
    std::int64_t sum = s0, mag = s0 < 0 ? -std::int64_t{s0} : s0;
    for (int i = 0; i < n; ++i) {
        std::int32_t p = std::int32_t{x[i]} * y[i];
        sum += 2 * std::int64_t{p};
        mag += 2 * (p < 0 ? -std::int64_t{p} : p);
    }
    if (mag <= amr_wb_op::MAX_32) return static_cast<Word32>(sum);
    Word32 s = s0;
    for (int i = 0; i < n; ++i) s = amr_wb_op::L_mac(s, x[i], y[i]);
    return s;
}

}  // namespace amr_wb_lanes

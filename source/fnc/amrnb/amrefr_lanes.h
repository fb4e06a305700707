// Four-lane saturating sums shared by the kernels (internal header).
#pragma once

#include <algorithm>

#include "amrefr_basic_op.h"

namespace amrefr_lanes {

// Records whether any saturating step clipped (the overflow latch).
struct Latch {
    bool clipped = false;
    Word32 add(Word32 a, Word32 b) { return sat(std::int64_t{a} + b); }
    Word32 sat(std::int64_t s) {
        Word32 r = amrefr_op::sat32(s);
        if (r != s) clipped = true;
        return r;
    }
    Word32 mult(Word16 a, Word16 b) {
        if (a == -32768 && b == -32768) {
            clipped = true;
            return amrefr_op::MAX_32;
        }
        return std::int32_t{a} * b * 2;
    }
    Word32 mac(Word32 acc, Word16 a, Word16 b) { return add(acc, mult(a, b)); }
    Word32 msu(Word32 acc, Word16 a, Word16 b) { return sat(std::int64_t{acc} - mult(a, b)); }
};

// Σ 2·x[i]·y[i], lane q taking i ≡ q (mod 4), combined as
// sat(sat(p0 + p2) + sat(p1 + p3)).
inline Word32 dot4(const Word16* x, const Word16* y, int n, Latch* latch = nullptr) {
    // When twice the sum of the magnitudes stays in range no step can clip,
    // and every grouping gives the exact sum.
    // Cheapest test first: n products of the largest magnitudes; the plain 32-bit sum then
    // vectorises.
    int mx = 0, my = 0;
    for (int i = 0; i < n; ++i) {
        mx = std::max(mx, x[i] < 0 ? -int{x[i]} : int{x[i]});
        my = std::max(my, y[i] < 0 ? -int{y[i]} : int{y[i]});
    }
    if (2 * std::int64_t{mx} * my * n <= amrefr_op::MAX_32) {
        std::int32_t plain = 0;
        for (int i = 0; i < n; ++i) plain += 2 * (std::int32_t{x[i]} * y[i]);
        return plain;
    }
    std::int64_t sum = 0, mag = 0;
    for (int i = 0; i < n; ++i) {
        std::int32_t p = std::int32_t{x[i]} * y[i];
        sum += p;
        mag += p < 0 ? -std::int64_t{p} : p;
    }
    if (2 * mag <= amrefr_op::MAX_32) return static_cast<Word32>(2 * sum);
    Latch local;
    Latch& l = latch ? *latch : local;
    Word32 p[4] = {0, 0, 0, 0};
    for (int i = 0; i < n; ++i) p[i & 3] = l.mac(p[i & 3], x[i], y[i]);
    return l.add(l.add(p[0], p[2]), l.add(p[1], p[3]));
}

// Combination of four lane sums.
inline Word32 combine4(const Word32* p) {
    using namespace amrefr_op;
    return L_add(L_add(p[0], p[2]), L_add(p[1], p[3]));
}

}  // namespace amrefr_lanes

// Undoing the table module's layouts: back to the standard's own order.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "amrwb_tables.h"

namespace amrwb_test {

using Vec = std::vector<std::int64_t>;

inline Vec plain(const Word16* t, int n) { return Vec(t, t + n); }

// Blocks of four codevectors, component-interleaved, back to codevector order.
inline Vec from_blocks(const Word16* t, int entries, int dim) {
    Vec v(entries * dim);
    for (int k = 0; k < entries; ++k)
        for (int j = 0; j < dim; ++j) v[k * dim + j] = t[(k >> 2) * 4 * dim + 4 * j + (k & 3)];
    return v;
}

// One row per fraction f, tap k = filter[(3 - f) + 4k]: back to the filter.
inline Vec from_phase_rows(const Word16* t, int taps, int row_len, int length) {
    Vec v(length, 0);
    for (int f = 0; f < 4; ++f)
        for (int k = 0; k < taps; ++k)
            if ((3 - f) + 4 * k < length) v[(3 - f) + 4 * k] = t[row_len * f + k];
    return v;
}

// Entry 4t + k is filter[5t + k]; filter[5t + 4] is the trivial phase, a
// plain copy (16384 at the centre, zeros elsewhere).
inline Vec fir_up_standard() {
    Vec v(120, 0);
    for (int e = 0; e < 96; ++e) v[5 * (e / 4) + e % 4] = amr_wb_fir_up[e];
    v[59] = 16384;
    return v;
}

// Separate columns back into records.
inline Vec from_columns(std::initializer_list<const Word16*> cols, int rows) {
    Vec v;
    for (int r = 0; r < rows; ++r)
        for (const Word16* c : cols) v.push_back(c[r]);
    return v;
}

}  // namespace amrwb_test

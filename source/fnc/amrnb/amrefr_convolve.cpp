// Filtering of an excitation vector through the reversed impulse response,
// and the gain-scaled target update of the closed-loop pitch stage.
#include <algorithm>
#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_kernels.h"

using namespace amrefr_op;

namespace {

// Tap k = n − i of the forward response is h_rev43[39 − k], k = −3 … 39.  Input
// i enters the outputs of its own group of four and all later ones.
AMREFR_VECTOR_CLONES
void plain_convolution(const Word16* x, const Word16* h_rev43, Word16* y) {
    Word16 h[80] = {};  // h[40 + k] = tap k
    for (int k = -3; k < 40; ++k) h[40 + k] = h_rev43[39 - k];
    std::int32_t acc[40] = {};
    for (int i = 0; i < 40; ++i) {
        const std::int32_t xi = x[i];
        const Word16* hi = h + 40 - i;
        for (int n = i & ~3; n < 40; ++n) acc[n] += xi * hi[n];
    }
    for (int n = 0; n < 40; ++n) y[n] = extract_h(L_shl(2 * acc[n], 3));
}

}  // namespace

// Outputs are formed four at a time over one stretch of reversed taps: output n
// of the group starting at n0 takes the terms i = 0 … n0 + 3, the terms with
// i > n meeting the zero taps h[−1..−3] (elements 40..42 of h_rev43).
void amrefr_ConvolveFwdH(const Word16* x, const Word16* h_rev43, Word16* y) {
    // When no partial sum can reach the 32-bit limit the saturating chain is a plain sum.
    std::int64_t hsum = 0;
    int xmax = 0;
    for (int i = 0; i < 43; ++i) hsum += h_rev43[i] < 0 ? -int{h_rev43[i]} : int{h_rev43[i]};
    for (int i = 0; i < 40; ++i) xmax = std::max(xmax, x[i] < 0 ? -int{x[i]} : int{x[i]});
    // The side-by-side form reads all inputs before it writes: an output
    // overlapping the input keeps the output-by-output order below.
    const auto xs = reinterpret_cast<std::uintptr_t>(x), ys = reinterpret_cast<std::uintptr_t>(y);
    const bool apart = ys + 40 * sizeof(Word16) <= xs || xs + 40 * sizeof(Word16) <= ys;
    if (apart && 2 * hsum * xmax <= MAX_32) {
        plain_convolution(x, h_rev43, y);
        return;
    }
    for (int n = 0; n < 40; ++n) {
        int last = (n & ~3) + 3;
        Word32 s = 0;
        for (int i = 0; i <= last; ++i) s = L_mac(s, x[i], h_rev43[39 - (n - i)]);
        y[n] = extract_h(L_shl(s, 3));
    }
}

void amrefr_Vec_update_target(const Word16* y, const Word16* x, Word16* out, Word16 gain) {
    Word16 t[40];
    for (int i = 0; i < 40; ++i) t[i] = sub(x[i], extract_h(L_shl(L_mult(y[i], gain), 1)));
    for (int i = 0; i < 40; ++i) out[i] = t[i];
}

// Sample-by-sample filters: input high-pass / output post-processing, LPC
// residual, synthesis filter (with and without overflow report), the
// post-filter's tilt compensation and its gain-control loops.
#include <algorithm>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_kernels.h"
#include "amrefr_lanes.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

void amrefr_Pre_Process(GSMAMR_Pre_ProcessState* st, Word16* in, Word16* out, Word16 mode) {
    const Word16* b = mode == 0 ? amrefr_b_pre : amrefr_b_post;
    const Word16* a = mode == 0 ? amrefr_a_pre : amrefr_a_post;

    // Feed-forward pass first, so that out may be in.  The two previous input
    // samples come from the state (no words in front of the caller's buffer
    // are touched).
    std::int32_t t[160];
    Word16 xm2 = st->x1, xm1 = st->x0;
    for (int n = 0; n < 160; ++n) {
        t[n] = b[2] * std::int32_t{xm2} + b[1] * std::int32_t{xm1} + b[0] * std::int32_t{in[n]};
        xm2 = xm1;
        xm1 = in[n];
    }
    st->x1 = in[158];
    st->x0 = in[159];

    Word32 y2 = st->L_y2, y1 = st->L_y1;
    for (int n = 0; n < 160; ++n) {
        std::int64_t s = std::int64_t{t[n]} + ((std::int64_t{y2} * a[2]) >> 16) + ((std::int64_t{y1} * a[1]) >> 16);
        Word32 y;
        if (mode == 0) {
            y = sat32(s * 16);
            out[n] = round16(y);
        } else {
            y = sat32(s * 8);
            out[n] = static_cast<Word16>(round16(L_shl(y, 1)) & 0xFFF8);
        }
        y2 = y1;
        y1 = y;
    }
    st->L_y2 = y2;
    st->L_y1 = y1;
}

// The previous call's last sample comes from the state; nothing is written in
// front of the signal.
void amrefr_preemphasis(GSMAMR_preemphasisState* st, Word16* signal, Word16 g) {
    Word16 temp = signal[39];
    for (int i = 39; i > 0; --i) signal[i] = sub(signal[i], mult(g, signal[i - 1]));
    signal[0] = sub(signal[0], mult(g, st->mem_pre));
    st->mem_pre = temp;
}

namespace {

// Residual when no partial sum can saturate (the caller checked the bound): all
// 40 outputs accumulate side by side, one coefficient at a time.
AMREFR_VECTOR_CLONES
void residu_plain(const Word16* a, const Word16* x, Word16* y) {
    std::int32_t acc[40] = {};
    for (int j = 0; j <= 10; ++j) {
        const std::int32_t aj = a[j];
        for (int n = 0; n < 40; ++n) acc[n] += aj * x[n - j];
    }
    for (int n = 0; n < 40; ++n) y[n] = static_cast<Word16>(std::clamp((2 * acc[n] + 4096) >> 13, -32768, 32767));
}

}  // namespace

void amrefr_Residu(const Word16* a, const Word16* x, Word16* y) {
    // Every partial sum is within twice the largest input times Σ|a|.  The
    // side-by-side form reads all inputs before it writes: an output buffer
    // overlapping the input keeps the sample-by-sample order.
    int asum = 0, xmax = 0;
    for (int j = 0; j <= 10; ++j) asum += a[j] < 0 ? -int{a[j]} : int{a[j]};
    for (int n = -10; n < 40; ++n) xmax = std::max(xmax, x[n] < 0 ? -int{x[n]} : int{x[n]});
    const auto xs = reinterpret_cast<std::uintptr_t>(x - 10), ys = reinterpret_cast<std::uintptr_t>(y);
    const bool apart = ys + 40 * sizeof(Word16) <= xs || xs + 50 * sizeof(Word16) <= ys;
    if (apart && 2 * std::int64_t{asum} * xmax + 4096 <= MAX_32) {
        residu_plain(a, x, y);
        return;
    }
    for (int n = 0; n < 40; ++n) {
        Word32 s = L_mult(a[10], x[n - 10]);
        for (int j = 9; j >= 0; --j) s = L_mac(s, a[j], x[n - j]);
        y[n] = sat16((std::int64_t{s} + 4096) >> 13);
    }
}

namespace {

// One output: four saturating partial sums over the coefficients
// {8, 4}, {7, 3}, {10, 6, 2}, {9, 5, 1} (the last starting at x·8192).  Their
// total is formed exactly, so a total beyond the 32-bit range saturates the
// output with the correct sign instead of wrapping.
Word16 syn_step(const Word16* a, Word16 x, const Word16* y, amrefr_lanes::Latch& l) {
    Word32 p0 = l.msu(l.msu(0, a[8], y[-8]), a[4], y[-4]);
    Word32 p1 = l.msu(l.msu(0, a[7], y[-7]), a[3], y[-3]);
    Word32 p2 = l.msu(l.msu(l.msu(0, a[10], y[-10]), a[6], y[-6]), a[2], y[-2]);
    Word32 p3 = l.msu(l.msu(l.msu(std::int32_t{x} * 8192, a[9], y[-9]), a[5], y[-5]), a[1], y[-1]);
    std::int64_t total = (std::int64_t{p0} + p1) + (std::int64_t{p2} + p3);
    std::int64_t v = (total + 4096) >> 13;
    Word16 out = sat16(v);
    if (out != v) l.clipped = true;
    return out;
}

// True when none of syn_step's four partial sums can leave the 32-bit range,
// whatever the input and output samples: the total, formed exactly, is then the
// plain sum.
bool lanes_cannot_saturate(const Word16* a) {
    auto mag = [&](int k) { return std::int64_t{a[k] < 0 ? -int{a[k]} : int{a[k]}}; };
    constexpr std::int64_t kProduct = 2 * 32768;  // largest doubled product per unit of |a|
    return kProduct * (mag(8) + mag(4)) <= MAX_32 && kProduct * (mag(7) + mag(3)) <= MAX_32 &&
           kProduct * (mag(10) + mag(6) + mag(2)) <= MAX_32 &&
           32768LL * 8192 + kProduct * (mag(9) + mag(5) + mag(1)) <= MAX_32;
}

#if defined(ORVOX_X86_SIMD)
// When even the input term and all doubled products together stay inside 32
// bits, every sum in any order is plain.  The eight oldest products of an
// output are then one multiply-add of packed words (the sign, the factor 2 and
// the newest two outputs are applied in scalar code, the newest last).  An
// output is stored as it is made and read back as a packed word three outputs
// later.
bool total_cannot_saturate(const Word16* a) {
    std::int64_t asum = 0;
    for (int k = 1; k <= 10; ++k) asum += a[k] < 0 ? -std::int64_t{a[k]} : a[k];
    return 32768LL * 8192 + 4096 + 2 * 32768 * asum <= MAX_32;
}

bool syn_filt_packed(const Word16* a, const Word16* x, Word16* y) {
    alignas(16) Word16 hist[50];  // y[−10 …] as they are made
    for (int k = 0; k < 10; ++k) hist[k] = y[k - 10];
    const __m128i older = _mm_setr_epi16(a[10], a[9], a[8], a[7], a[6], a[5], a[4], a[3]);
    const std::int32_t a1 = a[1], a2 = a[2];
    std::int32_t y1 = y[-1], y2 = y[-2];
    bool clipped = false;
    for (int n = 0; n < 40; ++n) {
        __m128i p = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hist + n)), older);
        p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0x4E));
        p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0xB1));
        const std::int32_t t = std::int32_t{x[n]} * 8192 + 4096 - 2 * (_mm_cvtsi128_si32(p) + a2 * y2);
        const std::int32_t v = (t - 2 * (a1 * y1)) >> 13;
        const std::int32_t out = std::clamp(v, -32768, 32767);
        clipped |= out != v;
        y[n] = static_cast<Word16>(out);
        hist[10 + n] = static_cast<Word16>(out);
        y2 = y1;
        y1 = out;
    }
    return clipped;
}
#endif

Word16 syn_filt(const Word16* a, const Word16* x, Word16* y) {
#if defined(ORVOX_X86_SIMD)
    if (total_cannot_saturate(a)) return syn_filt_packed(a, x, y) ? 1 : 0;
#endif
    if (lanes_cannot_saturate(a)) {
        // No lane can saturate, so each is a plain 32-bit sum and the total an
        // exact 64-bit one.  The ten previous outputs stay in registers, and the
        // newest enters last: one multiply-add, the rounding and the clip stand
        // between two outputs.
        const std::int32_t c1 = 2 * a[1], c2 = 2 * a[2], c3 = 2 * a[3], c4 = 2 * a[4], c5 = 2 * a[5];
        const std::int32_t c6 = 2 * a[6], c7 = 2 * a[7], c8 = 2 * a[8], c9 = 2 * a[9], c10 = 2 * a[10];
        std::int32_t y1 = y[-1], y2 = y[-2], y3 = y[-3], y4 = y[-4], y5 = y[-5];
        std::int32_t y6 = y[-6], y7 = y[-7], y8 = y[-8], y9 = y[-9], y10 = y[-10];
        bool clipped = false;
        for (int n = 0; n < 40; ++n) {
            const std::int32_t p0 = -(c8 * y8) - c4 * y4;
            const std::int32_t p1 = -(c7 * y7) - c3 * y3;
            const std::int32_t p2 = -(c10 * y10) - c6 * y6 - c2 * y2;
            const std::int32_t p3 = std::int32_t{x[n]} * 8192 - c9 * y9 - c5 * y5;
            const std::int64_t rest = (std::int64_t{p0} + p1) + (std::int64_t{p2} + p3) + 4096;
            const std::int64_t v = (rest - c1 * y1) >> 13;
            const std::int32_t out = static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -32768, 32767));
            clipped |= out != v;
            y[n] = static_cast<Word16>(out);
            y10 = y9, y9 = y8, y8 = y7, y7 = y6, y6 = y5, y5 = y4, y4 = y3, y3 = y2, y2 = y1, y1 = out;
        }
        return clipped ? 1 : 0;
    }
    amrefr_lanes::Latch l;
    for (int n = 0; n < 40; ++n) y[n] = syn_step(a, x[n], &y[n], l);
    return l.clipped ? 1 : 0;
}

}  // namespace

void amrefr_Syn_filt(const Word16* a, const Word16* x, Word16* y) { syn_filt(a, x, y); }

Word16 amrefr_Syn_filt_latch_overflow(const Word16* a, const Word16* x, Word16* y) { return syn_filt(a, x, y); }

void amrefr_agc_loop1(Word16 gain, Word16 fac, Word16 g0, Word16* gains) {
    for (int i = 0; i < 40; ++i) {
        gain = wrap16(((std::int32_t{gain} * fac) >> 15) + g0);
        gains[i] = gain;
    }
}

void amrefr_agc_loop2(Word16* sig, const Word16* gains) {
    for (int i = 0; i < 40; ++i) sig[i] = sat16(L_mult(sig[i], gains[i]) >> 13);
}

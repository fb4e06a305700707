// Filter and signal kernels of the G.729 Annex A/B codec.
#include "g729_kernels.h"
#include "g729_tables.h"

#include <algorithm>
#include <cstdlib>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#define G729_FILTER_SSE2 1
#endif

namespace g729 {

namespace {
// (L + 2^(s-1)) >> s, saturated to 16 bits.
W16 rnd16(W32 L, int s) { return sat16(static_cast<W32>((std::int64_t{L} + (std::int64_t{1} << (s - 1))) >> s)); }

// Saturating multiply-subtract that records whether it saturated.
W32 msuFlag(W32 acc, W16 a, W16 b, bool& sat) {
    std::int64_t p = (a == kMin16 && b == kMin16) ? std::int64_t{kMax32} : 2 * std::int64_t{a} * b;
    if (a == kMin16 && b == kMin16) sat = true;
    std::int64_t r = std::int64_t{acc} - p;
    if (r > kMax32 || r < kMin32) sat = true;
    return sat32(r);
}
}  // namespace

namespace {
// With either filter, the input part and both feedback products (|y·a| >> 16 below 2^15·|a|
// for any 32-bit y) sum below 2^31 in magnitude: the 32-bit sum never wraps, so the
// recursion may run in 64 bits without truncating between steps.
constexpr bool sumNeverWraps(const std::array<Tab16, 3>& b, const std::array<Tab16, 3>& a) {
    std::int64_t m = 0;
    for (int i = 0; i < 3; ++i) m += 32768 * std::int64_t{b[i] < 0 ? -b[i] : b[i]};
    for (int i = 1; i < 3; ++i) m += 32768 * std::int64_t{a[i] < 0 ? -a[i] : a[i]};
    return m <= kMax32;
}
static_assert(sumNeverWraps(g729ab_b_pre, g729ab_a_pre) && sumNeverWraps(g729ab_b_post, g729ab_a_post));
}  // namespace

void g729ab_Pre_Process(PrePostProcessState* st, W16* in, W16* out, int mode) {
    const bool post = mode == 1;
    const auto& b = post ? g729ab_b_post : g729ab_b_pre;
    const auto& a = post ? g729ab_a_post : g729ab_a_pre;
    in[-2] = st->x1;
    in[-1] = st->x0;
    W32 B[80];
    for (int n = 0; n < 80; ++n) B[n] = b[0] * W32{in[n]} + b[1] * W32{in[n - 1]} + b[2] * W32{in[n - 2]};
    st->x1 = in[78];
    st->x0 = in[79];
    std::int64_t y2 = st->L_y2, y1 = st->L_y1;
    const std::int64_t a1 = a[1], a2 = a[2];
    auto sat = [](std::int64_t v) { return std::clamp<std::int64_t>(v, kMin32, kMax32); };
    for (int n = 0; n < 80; ++n) {
        const std::int64_t s = B[n] + ((y2 * a2) >> 16) + ((y1 * a1) >> 16);
        std::int64_t y;
        if (post) {
            // Three saturating doublings saturate exactly where one multiplication by eight does.
            y = sat(s * 8);
            out[n] = static_cast<W16>(sat(32768 + sat(y * 2)) >> 16);
        } else {
            y = sat(s * 16);
            out[n] = static_cast<W16>(sat(y + 32768) >> 16);
        }
        y2 = y1;
        y1 = y;
    }
    st->L_y2 = static_cast<W32>(y2);
    st->L_y1 = static_cast<W32>(y1);
}

namespace {
// The residual in plain sums, exact in any order under the caller's bound.
void residuPlain(const W16* a, const W16* x, W16* y) {
#ifdef G729_FILTER_SSE2
    // Eight outputs at a time, each multiply-add taking taps 2p and 2p + 1 (tap 10 alone);
    // rounding ((2·sum + 2^12) >> 13) is (sum + 2^11) >> 12, saturated by the pack.
    __m128i taps[6];
    for (int p = 0; p < 5; ++p)
        taps[p] = _mm_set1_epi32(static_cast<int>(static_cast<std::uint16_t>(a[2 * p]) | (static_cast<std::uint32_t>(static_cast<std::uint16_t>(a[2 * p + 1])) << 16)));
    taps[5] = _mm_set1_epi32(static_cast<std::uint16_t>(a[10]));
    const __m128i half = _mm_set1_epi32(1 << 11);
    for (int n = 0; n < 40; n += 8) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        for (int p = 0; p < 6; ++p) {
            const __m128i newer = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + n - 2 * p));
            const __m128i older = p < 5 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + n - 2 * p - 1)) : _mm_setzero_si128();
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(newer, older), taps[p]));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(newer, older), taps[p]));
        }
        lo = _mm_srai_epi32(_mm_add_epi32(lo, half), 12);
        hi = _mm_srai_epi32(_mm_add_epi32(hi, half), 12);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + n), _mm_packs_epi32(lo, hi));
    }
#else
    // One coefficient at a time across all outputs, which the compiler vectorises.
    W32 s[40] = {};
    for (int j = 0; j <= 10; ++j)
        for (int n = 0; n < 40; ++n) s[n] += 2 * (W32{a[j]} * x[n - j]);
    for (int n = 0; n < 40; ++n) y[n] = rnd16(s[n], 13);
#endif
}
}  // namespace

void g729ab_Residu(const W16* a, const W16* x, W16* y) {
    // Plain sums when the doubled products of the coefficients with the largest input magnitude
    // cannot reach the 32-bit limit.
    std::int64_t asum = 0;
    for (int j = 0; j <= 10; ++j) asum += std::abs(int{a[j]});
    const int xmax = g729LargestMagnitude(x - 10, 50);
    if (2 * asum * xmax <= kMax32) {
        residuPlain(a, x, y);
        return;
    }
    for (int n = 0; n < 40; ++n) {
        W32 s = 0;
        for (int j = 10; j >= 0; --j) s = L_mac(s, a[j], x[n - j]);
        y[n] = rnd16(s, 13);
    }
}

namespace {
// One sample of the all-pole filter in four partial sums; `late` selects the lane assignment
// used after the first sample by the plain variant.
W16 synSample(const W16* a, W16 xn, const W16* y, int n, bool late, bool& sat) {
    static constexpr int kEarly[4][3] = {{8, 4, 0}, {7, 3, 0}, {10, 6, 2}, {9, 5, 1}};
    static constexpr int kLate[4][3] = {{8, 1, 0}, {7, 4, 0}, {10, 6, 3}, {9, 5, 2}};
    const auto& lanes = late ? kLate : kEarly;
    static constexpr int kCount[4] = {2, 2, 3, 3};
    // Fast path in exact arithmetic while every lane stays inside the 32-bit range.
    {
        auto prod = [&](int j) { return 2 * std::int64_t{a[j]} * y[n - j]; };
        bool inRange = true;
        auto step = [&](std::int64_t& acc, int j) {
            acc -= prod(j);
            inRange &= acc <= kMax32 && acc >= kMin32;
        };
        std::int64_t q3 = 2 * std::int64_t{xn} * 4096, q2 = 0, q1 = 0, q0 = 0;
        if (late) {
            step(q3, 9), step(q3, 5), step(q3, 2);
            step(q2, 10), step(q2, 6), step(q2, 3);
            step(q1, 7), step(q1, 4);
            step(q0, 8), step(q0, 1);
        } else {
            step(q3, 9), step(q3, 5), step(q3, 1);
            step(q2, 10), step(q2, 6), step(q2, 2);
            step(q1, 7), step(q1, 3);
            step(q0, 8), step(q0, 4);
        }
        if (inRange) {
            W32 total = g729WrapAdd(g729WrapAdd(static_cast<W32>(q0), static_cast<W32>(q1)), g729WrapAdd(static_cast<W32>(q2), static_cast<W32>(q3)));
            std::int64_t r = (std::int64_t{total} + 4096) >> 13;
            if (r > kMax16 || r < kMin16) sat = true;
            return sat16(static_cast<W32>(r));
        }
    }
    W32 p[4];
    for (int l = 0; l < 4; ++l) {
        W32 acc = l == 3 ? L_mult(xn, 4096) : 0;
        for (int t = 0; t < kCount[l]; ++t) {
            int j = lanes[l][t];
            acc = msuFlag(acc, a[j], y[n - j], sat);
        }
        p[l] = acc;
    }
    W32 total = g729WrapAdd(g729WrapAdd(p[0], p[1]), g729WrapAdd(p[2], p[3]));
    std::int64_t r = (std::int64_t{total} + 4096) >> 13;
    if (r > kMax16 || r < kMin16) sat = true;
    return sat16(static_cast<W32>(r));
}
}  // namespace

// When the input term (below 2^28) and all doubled products with full-scale outputs fit 32 bits,
// no lane leaves the range and the lane order cannot matter: one plain sum per sample.
bool g729SynPlainAllowed(const W16* a) {
    std::int64_t asum = 0;
    for (int j = 1; j <= 10; ++j) asum += std::abs(int{a[j]});
    return (std::int64_t{1} << 28) + 4096 + 2 * asum * 32768 <= kMax32;
}

namespace {
// One output of the plain-sum filter from its exact sum; records whether it saturated.
W16 synOutput(W32 total, bool& sat) {
    const W32 r = total >> 13;
    sat |= r > kMax16 || r < kMin16;
    return sat16(r);
}
}  // namespace

bool g729SynFiltPlain(const W16* a, const W16* x, W16* y, int n_out) {
    // Plain sums are exact in any order: the older outputs first and the newest, kept in a
    // register, last, so that each sample waits on one multiply and one add of the previous.
    bool sat = false;
    W32 prev = y[-1];
    for (int n = 0; n < n_out; ++n) {
        W32 total = W32{x[n]} * 8192 + 4096;
        for (int j = 10; j >= 2; --j) total -= 2 * (W32{a[j]} * y[n - j]);
        total -= 2 * (W32{a[1]} * prev);
        prev = synOutput(total, sat);
        y[n] = static_cast<W16>(prev);
    }
    return sat;
}

#ifdef G729_FILTER_SSE2
bool g729SynFiltPlainSse2(const W16* a, const W16* x, W16* y, int n_out) {
    // Blocks of four outputs. The taps that reach three or more samples back from a block's
    // first output are summed for the four outputs at once, two past samples per multiply-add;
    // they wait only on outputs of the block before last, off the recursion's path. The taps
    // on the last two samples of the previous block and on the block itself run in scalar code.
    // Every partial sum is bounded by the plain-sum condition, so any order gives the same sum.
    // K[t]: for output m of a block, the taps (a[m + 4 + 2t], a[m + 3 + 2t]), zero past a[10];
    // built in registers, as a store and reload would stall the first block.
    const W16 z = 0;
    const __m128i K[4] = {_mm_setr_epi16(a[4], a[3], a[5], a[4], a[6], a[5], a[7], a[6]),
                          _mm_setr_epi16(a[6], a[5], a[7], a[6], a[8], a[7], a[9], a[8]),
                          _mm_setr_epi16(a[8], a[7], a[9], a[8], a[10], a[9], z, a[10]),
                          _mm_setr_epi16(a[10], a[9], z, a[10], z, z, z, z)};
    auto pairOf = [](W32 older, W32 newer) {
        return _mm_set1_epi32(static_cast<int>(static_cast<std::uint16_t>(older) | (static_cast<std::uint32_t>(newer) << 16)));
    };
    // P[t]: the pair (y[n0 - 4 - 2t], y[n0 - 3 - 2t]) in every lane.
    __m128i P[4];
    for (int t = 0; t < 4; ++t) P[t] = pairOf(y[-4 - 2 * t], y[-3 - 2 * t]);
    const W32 twoA1 = 2 * W32{a[1]}, a2 = a[2], a3 = a[3], a4 = a[4], a5 = a[5];
    W32 ym2 = y[-2], ym1 = y[-1];
    bool sat = false;
    for (int n0 = 0; n0 < n_out; n0 += 4) {
        __m128i c = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(P[0], K[0]), _mm_madd_epi16(P[1], K[1])),
                                  _mm_add_epi32(_mm_madd_epi16(P[2], K[2]), _mm_madd_epi16(P[3], K[3])));
        alignas(16) W32 C[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(C), c);
        // Everything but the newest output's term is summed first, so that each output waits on
        // one multiply and one subtraction after the previous.
        const W16* xb = x + n0;
        const W32 y0 = synOutput((W32{xb[0]} * 8192 + 4096 - 2 * (C[0] + a2 * ym2)) - twoA1 * ym1, sat);
        const W32 y1 = synOutput((W32{xb[1]} * 8192 + 4096 - 2 * (C[1] + a3 * ym2 + a2 * ym1)) - twoA1 * y0, sat);
        const W32 y2 = synOutput((W32{xb[2]} * 8192 + 4096 - 2 * (C[2] + a4 * ym2 + a3 * ym1 + a2 * y0)) - twoA1 * y1, sat);
        const W32 y3 = synOutput((W32{xb[3]} * 8192 + 4096 - 2 * (C[3] + a5 * ym2 + a4 * ym1 + a3 * y0 + a2 * y1)) - twoA1 * y2, sat);
        y[n0] = static_cast<W16>(y0);
        y[n0 + 1] = static_cast<W16>(y1);
        y[n0 + 2] = static_cast<W16>(y2);
        y[n0 + 3] = static_cast<W16>(y3);
        P[3] = P[1];
        P[2] = P[0];
        P[1] = pairOf(ym2, ym1);
        P[0] = pairOf(y0, y1);
        ym2 = y2;
        ym1 = y3;
    }
    return sat;
}
#else
bool g729SynFiltPlainSse2(const W16* a, const W16* x, W16* y, int n_out) { return g729SynFiltPlain(a, x, y, n_out); }
#endif

void g729ab_Syn_filt2(const W16* a, const W16* x, W16* y) {
    if (g729SynPlainAllowed(a)) {
        g729SynFiltPlainSse2(a, x, y);
        return;
    }
    bool sat = false;
    for (int n = 0; n < 40; ++n) y[n] = synSample(a, x[n], y, n, n > 0, sat);
}

int g729ab_Syn_filt3(const W16* a, const W16* x, W16* y) {
    if (g729SynPlainAllowed(a)) return g729SynFiltPlainSse2(a, x, y) ? 1 : 0;
    bool sat = false;
    for (int n = 0; n < 40; ++n) y[n] = synSample(a, x[n], y, n, false, sat);
    return sat ? 1 : 0;
}

void g729ab_Weight_Az(const W16* a, const W16* gamma_tab, W16* ap) {
    ap[0] = a[0];
    for (int i = 1; i <= 10; ++i) ap[i] = round16(L_mult(a[i], gamma_tab[i - 1]));
}

void g729ab_preemphasis(W16* mem, W16* signal, W16 g) {
    W16 last = signal[39];
    for (int n = 39; n > 0; --n) signal[n] = sub(signal[n], mult(g, signal[n - 1]));
    signal[0] = sub(signal[0], mult(g, *mem));
    *mem = last;
}

W32 g729a_agc_nrg(const W16* x) {
    // The saturating sum of squares only grows and sticks at the limit: the exact sum, capped.
    std::int64_t s = 0;
    for (int i = 0; i < 40; ++i) {
        const W32 v = x[i] >> 2;
        s += 2 * v * v;
    }
    return static_cast<W32>(std::min<std::int64_t>(s, kMax32));
}

void g729ab_agcLoop(W16* sig_out, W16* gains, W16 g0) {
    // The gain recursion first, in a register: once a gain repeats it stays (the usual case,
    // the gain having settled in earlier frames). Then the scaling, where (2·s·g) >> 13 is
    // (s·g) >> 12, also for -32768 squared once clamped, so that the loop vectorises.
    W16 gain = gains[0];
    for (int n = 0; n < 40; ++n) {
        const W16 next = static_cast<W16>(((W32{gain} * 29491) >> 15) + g0);
        if (next == gain) {
            std::fill(gains + n + 1, gains + 41, gain);
            break;
        }
        gain = next;
        gains[n + 1] = gain;
    }
    for (int n = 0; n < 40; ++n) sig_out[n] = clamp16((W32{sig_out[n]} * gains[n + 1]) >> 12);
}

void g729ab_Vec_mult_r(const W16* in, const W16* window, W16* out, int /*n*/) {
    for (int i = 0; i < 240; ++i) out[i] = mult_r(in[i], window[i]);
}

void g729ab_ACF(W16* y, W32* r, int norm) {
    for (int i = 240; i < 256; ++i) y[i] = 0;
    // By Cauchy-Schwarz no lag's products add up to more in magnitude than the energy's: when
    // the doubled energy fits 32 bits (as after the caller's scaling), no lane or join of any lag
    // can saturate and the plain sums are exact.
    std::int64_t energy = 0;
    for (int i = 0; i < 240; ++i) energy += W32{y[i]} * y[i];
    const bool plain = 2 * energy <= kMax32;
    for (int k = 1; k <= 12; ++k) {
        W32 s = plain ? g729PlainSums(y, y + k, 240) : g729PartialSums4(y, y + k, 240);
        r[k] = static_cast<W32>(static_cast<std::uint32_t>(s) << (norm > 0 ? norm : 0));
    }
    if (norm <= 0)
        for (int k = 0; k <= 12; ++k) r[k] &= ~W32{1};
}

W16 g729ab_Chebps_11(W16 x, const W32* f, const W16* params) { return g729Chebps(x, f, params); }

// The quotient is computed by integer division; it equals the floating-point form with rounding
// towards zero on the whole domain, and leaves the thread's floating-point mode untouched.
W16 g729ab_div_s(W16 num, W16 den) { return div_s(num, den); }

namespace {
// Interpolated samples [start, end) in plain sums, which the caller's bound makes exact in any
// order; they read no sample of the span itself.
void interpolateSpan(const W16* x0, const W16* c1, const W16* c2, W16* exc, int start, int end) {
    int j = start;
#ifdef G729_FILTER_SSE2
    // Eight outputs at a time: each multiply-add takes the pair of taps i of both halves of the
    // filter, x0[j - i]·c1[i] + x0[j + 1 + i]·c2[i]. Rounding: ((2·sum + 2^15) >> 16) is
    // ((sum >> 14) + 1) >> 1, saturated by the pack as the rounding add saturates.
    __m128i taps[10];
    for (int i = 0; i < 10; ++i)
        taps[i] = _mm_set1_epi32(static_cast<int>(static_cast<std::uint16_t>(c1[i]) | (static_cast<std::uint32_t>(static_cast<std::uint16_t>(c2[i])) << 16)));
    const __m128i one = _mm_set1_epi32(1);
    for (; j + 8 <= end; j += 8) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        for (int i = 0; i < 10; ++i) {
            const __m128i older = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x0 + j - i));
            const __m128i newer = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x0 + j + 1 + i));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(older, newer), taps[i]));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(older, newer), taps[i]));
        }
        lo = _mm_srai_epi32(_mm_add_epi32(_mm_srai_epi32(lo, 14), one), 1);
        hi = _mm_srai_epi32(_mm_add_epi32(_mm_srai_epi32(hi, 14), one), 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(exc + j), _mm_packs_epi32(lo, hi));
    }
#endif
    for (; j < end; ++j) {
        W32 s = 0;
        for (int i = 0; i < 10; ++i) s += 2 * (W32{x0[j - i]} * c1[i]) + 2 * (W32{x0[j + 1 + i]} * c2[i]);
        exc[j] = round16(s);
    }
}

// The 40 interpolated samples. With a lag shorter than the block, outputs read outputs `gap`
// or more samples back only, so chunks of `gap` outputs (the whole block without feedback)
// depend on earlier chunks alone. A chunk whose largest sample read keeps every sum inside 32
// bits runs in plain sums, which then equal the saturating chains in any order; any other
// sample takes `chain(j)`, the form's own chain.
template <typename Chain>
void interpolate(const W16* x0, const W16* c1, const W16* c2, W16* exc, Chain chain) {
    const std::ptrdiff_t gap = exc - (x0 + 10);
    if (gap < 1) {
        for (int j = 0; j < 40; ++j) exc[j] = chain(j);
        return;
    }
    std::int64_t csum = 0;
    for (int i = 0; i < 10; ++i) csum += std::abs(int{c1[i]}) + std::abs(int{c2[i]});
    const int chunk = static_cast<int>(std::min<std::ptrdiff_t>(gap, 40));
    for (int start = 0; start < 40; start += chunk) {
        const int end = std::min(40, start + chunk);
        if (2 * csum * g729LargestMagnitude(x0 + start - 9, end - start + 19) <= kMax32) {
            interpolateSpan(x0, c1, c2, exc, start, end);
        } else {
            for (int j = start; j < end; ++j) exc[j] = chain(j);
        }
    }
}
}  // namespace

void g729ab_Pred_lt_3_dec(W16* exc, int t0, int frac) {
    const W16* x0 = exc - t0;
    int f = -frac;
    if (f < 0) {
        f += 3;
        --x0;
    }
    const auto& c1 = g729ab_inter_3l_fast[f];
    const auto& c2 = g729ab_inter_3l_fast[3 - f];
    interpolate(x0, c1.data(), c2.data(), exc, [&](int j) {
        const W16* x1 = x0 + j;
        const W16* x2 = x1 + 1;
        W32 s = 0;
        for (int i = 0; i < 10; ++i) {
            s = L_mac(s, x1[-i], c1[i]);
            s = L_mac(s, x2[i], c2[i]);
        }
        return round16(s);
    });
}

void g729ab_Pred_lt_3_fast(W16* exc, int t0, int frac) {
    const W16* x0 = exc - t0;
    int f = -frac;
    if (f < 0) {
        f += 3;
        --x0;
    }
    const auto& c1r = g729ab_inter_3l_fast_rev[f];
    const auto& c2 = g729ab_inter_3l_fast[3 - f];
    interpolate(x0, g729ab_inter_3l_fast[f].data(), c2.data(), exc, [&](int j) {
        const W16* x1 = x0 + j;
        // Exact sum while the running value stays in range, else the saturating chain.
        std::int64_t q = 0;
        bool inRange = true;
        for (int m = 0; m < 10; ++m) {
            q += 2 * std::int64_t{x1[-(9 - m)]} * c1r[m];
            inRange &= q <= kMax32 && q >= kMin32;
        }
        for (int i = 0; i < 10; ++i) {
            q += 2 * std::int64_t{x1[1 + i]} * c2[i];
            inRange &= q <= kMax32 && q >= kMin32;
        }
        W32 s = static_cast<W32>(q);
        if (!inRange) {
            s = 0;
            for (int m = 0; m < 10; ++m) s = L_mac(s, x1[-(9 - m)], c1r[m]);
            for (int i = 0; i < 10; ++i) s = L_mac(s, x1[1 + i], c2[i]);
        }
        return round16(s);
    });
}

W16 g729ab_ComputeZeroCross(const W16* x) {
    W32 count = 0;
    for (int i = 120; i < 200; ++i)
        if (W32{x[i]} * x[i + 1] < 0) ++count;
    return sat16(count * 410);
}

void g729ab_CalcTargetVec(const W16* y1, const W16* xn, W16 gain, W16* out) {
    // (2·y·g) >> 15 is (y·g) >> 14, also for -32768 squared once clamped: no case apart, so
    // the loop vectorises.
    for (int n = 0; n < 40; ++n) out[n] = clamp16(W32{xn[n]} - clamp16((W32{y1[n]} * gain) >> 14));
}

void g729ab_TotalExc(W16* exc, const W16* code, W16 gain_pit, W16 gain_code, int mode) {
    const int s = mode == 1 ? 15 : 14;
    // When the doubled products and the rounding constant cannot reach the 32-bit limit, the
    // saturating sum is a plain one, which the compiler vectorises.
    if (2 * (std::int64_t{g729LargestMagnitude(exc, 40)} * std::abs(int{gain_pit}) +
             std::int64_t{g729LargestMagnitude(code, 40)} * std::abs(int{gain_code})) + (1 << (s - 1)) <= kMax32) {
        for (int n = 0; n < 40; ++n) exc[n] = clamp16((2 * (W32{exc[n]} * gain_pit) + 2 * (W32{code[n]} * gain_code) + (1 << (s - 1))) >> s);
        return;
    }
    for (int n = 0; n < 40; ++n) {
        W32 L = L_mac(L_mult(exc[n], gain_pit), code[n], gain_code);
        exc[n] = rnd16(L, s);
    }
}

void g729ab_Calc_exc_gain(W16* excg, W16 cur_gain, W32 L_inv) {
    W16 g = add(cur_gain, mult_r(cur_gain, 19043));
    W32 L = L_inv & ~W32{1};
    W32 P = static_cast<W32>((std::int64_t{L} * g) >> 15) & ~W32{1};
    int sh = norm_l(P);
    W16 t = static_cast<W16>(static_cast<W32>(static_cast<std::uint32_t>(P) << sh) >> 16);
    int sh2 = sh - 14;
    std::int64_t R = sh2 >= 1 ? (std::int64_t{1} << (15 + sh2)) : 0;
    for (int n = 0; n < 40; ++n) {
        W32 prod = sat32(2 * std::int64_t{excg[n]} * t);
        W16 v = static_cast<W16>(sat32(32768 + R + prod) >> 16);
        if (sh2 > 0)
            excg[n] = static_cast<W16>(v >> sh2);
        else if (sh2 == 0)
            excg[n] = v;
        else
            excg[n] = static_cast<W16>(static_cast<std::uint16_t>(v) << -sh2);
    }
}

}  // namespace g729

// Correlation, energy, vector, quantiser-search and fixed-codebook kernels of the G.729 codec.
#include "g729_kernels.h"
#include "g729_tables.h"
#include "wide128.h"

#include <algorithm>
#include <cstdlib>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

namespace g729 {

// The four-lane sums are compiled twice, for AVX2 and for the baseline, and the loader picks the
// form the processor runs; both are the same integer arithmetic, so the results are identical.
// The explicit vector forms below use SSE2, which every x86-64 processor has.
#if defined(__GNUC__) && defined(ORVOX_X86_SIMD) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define ORVOX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ORVOX_VECTOR_CLONES
#endif

// The largest |x[i]| (32768 for -32768), from the extremes so that the vector form needs no
// wider type.
int g729LargestMagnitude(const W16* x, int n) {
    int hi = 0, lo = 0, i = 0;
#if defined(ORVOX_X86_SIMD)
    if (n >= 8) {
        __m128i vhi = _mm_setzero_si128(), vlo = _mm_setzero_si128();
        for (; i + 8 <= n; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
            vhi = _mm_max_epi16(vhi, v);
            vlo = _mm_min_epi16(vlo, v);
        }
        alignas(16) W16 h[8], l[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(h), vhi);
        _mm_store_si128(reinterpret_cast<__m128i*>(l), vlo);
        for (int k = 0; k < 8; ++k) {
            hi = std::max(hi, int{h[k]});
            lo = std::min(lo, int{l[k]});
        }
    }
#endif
    for (; i < n; ++i) {
        hi = std::max(hi, int{x[i]});
        lo = std::min(lo, int{x[i]});
    }
    return std::max(hi, -lo);
}

namespace {

// Σ x[i]² over the samples of 0..n) at every `step`-th index (1 or 2), exact.
std::int64_t squares64(const W16* x, int n, int step) {
    std::uint64_t s = 0;
    int i = 0;
#if defined(ORVOX_X86_SIMD)
    // Pairs of squares fit 32 unsigned bits; they are widened to 64-bit lanes before adding.
    const __m128i keep = step == 1 ? _mm_set1_epi32(-1) : _mm_set1_epi32(0xFFFF);
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
        const __m128i q = _mm_madd_epi16(v, _mm_and_si128(v, keep));
        acc = _mm_add_epi64(acc, _mm_add_epi64(_mm_unpacklo_epi32(q, zero), _mm_unpackhi_epi32(q, zero)));
    }
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    s = lanes[0] + lanes[1];
#endif
    for (; i < n; i += step) s += static_cast<std::uint64_t>(W32{x[i]} * x[i]);
    return static_cast<std::int64_t>(s);
}

// The plain sum of doubled products, and whether n doubled products of the largest magnitudes
// of x and y stay inside 32 bits (then no lane or join of the four-lane rule can saturate and
// the plain sum is its value). One pass over the data.
bool boundedPlainSums(const W16* x, const W16* y, int n, W32* sum) {
    int i = 0;
    std::uint32_t s = 0;
    int xhi = 0, xlo = 0, yhi = 0, ylo = 0;
#if defined(ORVOX_X86_SIMD)
    if (n >= 8) {
        __m128i acc = _mm_setzero_si128(), vxhi = acc, vxlo = acc, vyhi = acc, vylo = acc;
        for (; i + 8 <= n; i += 8) {
            const __m128i vx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
            const __m128i vy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(vx, vy));
            vxhi = _mm_max_epi16(vxhi, vx);
            vxlo = _mm_min_epi16(vxlo, vx);
            vyhi = _mm_max_epi16(vyhi, vy);
            vylo = _mm_min_epi16(vylo, vy);
        }
        acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
        acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
        s = static_cast<std::uint32_t>(_mm_cvtsi128_si32(acc));
        alignas(16) W16 e[4][8];
        _mm_store_si128(reinterpret_cast<__m128i*>(e[0]), vxhi);
        _mm_store_si128(reinterpret_cast<__m128i*>(e[1]), vxlo);
        _mm_store_si128(reinterpret_cast<__m128i*>(e[2]), vyhi);
        _mm_store_si128(reinterpret_cast<__m128i*>(e[3]), vylo);
        for (int k = 0; k < 8; ++k) {
            xhi = std::max(xhi, int{e[0][k]});
            xlo = std::min(xlo, int{e[1][k]});
            yhi = std::max(yhi, int{e[2][k]});
            ylo = std::min(ylo, int{e[3][k]});
        }
    }
#endif
    for (; i < n; ++i) {
        s += static_cast<std::uint32_t>(W32{x[i]} * y[i]);
        xhi = std::max(xhi, int{x[i]});
        xlo = std::min(xlo, int{x[i]});
        yhi = std::max(yhi, int{y[i]});
        ylo = std::min(ylo, int{y[i]});
    }
    *sum = static_cast<W32>(2 * s);
    return 2 * std::int64_t{std::max(xhi, -xlo)} * std::max(yhi, -ylo) * n <= kMax32;
}

}  // namespace

// By Cauchy-Schwarz, every sum of products x[i]·y[i + d] over any set of steps is at most
// √(Σx² · Σy²) in size: when twice that stays inside 32 bits, no saturating chain of doubled
// products along any lag, lane or join can saturate (and no single product is (-32768)²).
bool g729EnergiesCannotSaturate(const W16* x, int nx, const W16* y, int ny) {
    using U128 = orvox::UInt128;
    return U128{4} * static_cast<std::uint64_t>(squares64(x, nx, 1)) * static_cast<std::uint64_t>(squares64(y, ny, 1)) <=
           U128{static_cast<std::uint64_t>(kMax32)} * static_cast<std::uint64_t>(kMax32);
}

ORVOX_VECTOR_CLONES W32 g729PartialSums4(const W16* x, const W16* y, int n) {
    // Fastest path: when n doubled products of the largest magnitudes stay inside 32 bits, no
    // lane and no join can saturate, and the plain sum (taken in the same pass) is exact.
    {
        W32 sum;
        if (boundedPlainSums(x, y, n, &sum)) return sum;
    }
    // Next: when the doubled magnitudes of all products add up to no more than the limit, no
    // partial sum of any lane and no join can reach it either.
    {
        std::uint32_t sum = 0;  // wraps harmlessly when the test below fails
        std::int64_t magnitudes = 0;
        for (int i = 0; i < n; ++i) {
            const W32 p = W32{x[i]} * y[i];
            sum += static_cast<std::uint32_t>(p);
            magnitudes += p < 0 ? -std::int64_t{p} : std::int64_t{p};
        }
        if (2 * magnitudes <= kMax32) return 2 * static_cast<W32>(sum);
    }
    // Fast path: exact 64-bit lanes, valid as long as no lane ever leaves the 32-bit range
    // (checked at every step); otherwise the saturating chains are run as specified.
    std::int64_t q[4] = {0, 0, 0, 0};
    bool inRange = true;
    int i = 0;
    for (; i + 4 <= n; i += 4)
        for (int k = 0; k < 4; ++k) {
            q[k] += 2 * std::int64_t{x[i + k]} * y[i + k];
            inRange &= q[k] <= kMax32 && q[k] >= kMin32;
        }
    for (; i < n; ++i) {
        q[i & 3] += 2 * std::int64_t{x[i]} * y[i];
        inRange &= q[i & 3] <= kMax32 && q[i & 3] >= kMin32;
    }
    if (inRange)
        return L_add(L_add(static_cast<W32>(q[0]), static_cast<W32>(q[2])), L_add(static_cast<W32>(q[1]), static_cast<W32>(q[3])));
    W32 p[4] = {0, 0, 0, 0};
    for (i = 0; i < n; ++i) p[i & 3] = L_mac(p[i & 3], x[i], y[i]);
    return L_add(L_add(p[0], p[2]), L_add(p[1], p[3]));
}

bool g729SumsCannotSaturate(const W16* x, int nx, const W16* y, int ny, int n) {
    return 2 * std::int64_t{g729LargestMagnitude(x, nx)} * g729LargestMagnitude(y, ny) * n <= kMax32;
}

W32 g729ab_Vec_L_mac8(const W16* x, const W16* y, int /*n*/, W32 acc) { return L_add(g729PartialSums4(x, y, 40), acc); }

void g729ab_4Vec_L_mac8(const W16* x, const W16* y, int n, W32* out) { g729ab_comp_corr_loop(x, y, 4, out, n); }

void g729ab_comp_corr_loop(const W16* x, const W16* y, int nlag, W32* out, int len) {
    // One bound for every lag: the frame against everything any lag reads.
    if (g729SumsCannotSaturate(x, len, y, nlag - 1 + len, len) || g729EnergiesCannotSaturate(x, len, y, nlag - 1 + len)) {
        g729PlainLags(x, y, nlag, out, len);
        return;
    }
    for (int m = 0; m < nlag; ++m) out[m] = g729PartialSums4(x, y + m, len);
}

// A saturating sum of doubled squares only grows, and once at the limit it stays there: it is
// the exact sum capped at the limit (a doubled square of -32768 is beyond it either way).
W32 g729ab_Vec_L_sqa(const W16* x, int n, W32 acc) {
    return L_add(static_cast<W32>(std::min<std::int64_t>(2 * squares64(x, n, 1), kMax32)), acc);
}

W32 g729ab_Vec_L_sqa_2(const W16* x, int n, W32 acc) {
    return L_add(static_cast<W32>(std::min<std::int64_t>(2 * squares64(x, n, 2), kMax32)), acc);
}

W32 g729ab_Vec_L_sqa_40(const W16* x, W32 acc) { return g729ab_Vec_L_sqa(x, 40, acc); }

W32 g729ab_Vec_L_abs_max(const W32* L, int n) {
    W32 m = 0;
    for (int i = 0; i < n; ++i) {
        W32 a = L[i] == kMin32 ? kMin32 : (L[i] < 0 ? -L[i] : L[i]);
        if (a > m) m = a;
    }
    return m;
}

void g729ab_Vec_shr_8(const W16* x, W16* y, int s, int n) {
    for (int i = 0; i < n; ++i)
        y[i] = s >= 0 ? static_cast<W16>(x[i] >> (s > 15 ? 15 : s))
                      : static_cast<W16>(static_cast<std::uint16_t>(x[i]) << -s);
}

void g729ab_Vec_shl_8(const W16* x, W16* y, int s, int n) { g729ab_Vec_shr_8(x, y, -s, n); }

void g729ab_Vec_L_shl_ExtractH(const W32* L, W16* y, int s, int n) {
    for (int i = 0; i < n; ++i)
        y[i] = s < 16 ? static_cast<W16>(L[i] >> (16 - s)) : static_cast<W16>(static_cast<std::uint32_t>(L[i]) << (s - 16));
}

void g729ab_Vec_shl3_split(const W16* x, W16* even, W16* odd, int n) {
    for (int i = 0; i < n / 2; ++i) {
        even[i] = shl(x[2 * i], 3);
        odd[i] = shl(x[2 * i + 1], 3);
    }
}

void g729ab_Vec_shr3_split(const W16* x, W16* even, W16* odd, int n) {
    for (int i = 0; i < n / 2; ++i) {
        even[i] = static_cast<W16>(x[2 * i] >> 3);
        odd[i] = static_cast<W16>(x[2 * i + 1] >> 3);
    }
}

void g729ab_Vec_split(const W16* x, W16* even, W16* odd, int n) {
    for (int i = 0; i < n / 2; ++i) {
        even[i] = x[2 * i];
        odd[i] = x[2 * i + 1];
    }
}

// add, sub and mult in select form (no branch), so that their loops become vector code.
namespace {
// (a·b) >> 15 lies in [-32767, 32768]; only (-32768)² reaches the top.
inline W16 multSelect(W16 a, W16 b) { return static_cast<W16>(std::min((W32{a} * b) >> 15, W32{kMax16})); }
}  // namespace

void g729ab_Vec_Add4(const W16* a, const W16* b, W16* c, int n) {
    for (int i = 0; i < n; ++i) c[i] = clamp16(W32{a[i]} + b[i]);
}

void g729ab_Vec_Sub4(const W16* a, const W16* b, W16* c, int n) {
    for (int i = 0; i < n; ++i) c[i] = clamp16(W32{a[i]} - b[i]);
}

void g729ab_Set_zero(W16* p, int n) {
    for (int i = 0; i < n; ++i) p[i] = 0;
}

void g729ab_Set_const(W16* p, W16 value, int /*n*/) {
    for (int i = 0; i < 4; ++i) p[i] = value;
}

// ---------------------------------------------------------------- LSP quantiser

void g729ab_Lsp_prev_compose(const W16* lsp_ele, W16* lsp, const W16 (*fg)[10], const W16 (*freq_prev)[10], const W16* fg_sum) {
    for (int j = 0; j < 10; ++j) {
        W32 L = L_mult(lsp_ele[j], fg_sum[j]);
        for (int k = 0; k < 4; ++k) L = L_mac(L, freq_prev[k][j], fg[k][j]);
        lsp[j] = extract_h(L);
    }
}

void g729ab_Lsp_prev_extract(const W16* lsp, W16* lsp_ele, const W16 (*fg)[10], const W16 (*freq_prev)[10], const W16* fg_sum_inv) {
    for (int j = 0; j < 10; ++j) {
        W32 L = L_deposit_h(lsp[j]);
        for (int k = 0; k < 4; ++k) L = L_msu(L, freq_prev[k][j], fg[k][j]);
        W16 t = extract_h(L);
        lsp_ele[j] = sat16(L_mult(t, fg_sum_inv[j]) >> 13);
    }
}

void g729ab_Get_wegt(const W16* flsp, W16* wegt) {
    W16 w[10];
    for (int i = 0; i < 10; ++i) {
        W16 d = sub(sub(flsp[i + 1], flsp[i - 1]), 8192);
        if (d > 0) {
            w[i] = 2048;
        } else {
            W16 t = sat16(L_mult(d, d) >> 14);
            W16 u = sat16(L_mult(t, 20480) >> 14);
            w[i] = add(u, 2048);
        }
    }
    w[4] = sat16(L_mult(w[4], 19661) >> 15);
    w[5] = sat16(L_mult(w[5], 19661) >> 15);
    W16 m = 0;
    for (int i = 0; i < 10; ++i)
        if (w[i] > m) m = w[i];
    int s = norm_s(m);
    for (int i = 0; i < 10; ++i) wegt[i] = shl(w[i], s);
}

namespace {
W32 packCandidate(W32 dist, int bits, int number) {
    W32 p = sat32(std::int64_t{dist} * 8);
    return (p & ~((W32{1} << bits) - 1)) | number;
}
}  // namespace

void g729ab_Lsp_pre_select(const W16* rbuf, const W16* codebook, W32* cand) {
    W32 best = kMax32;
    for (int c = 0; c < 128; ++c) {
        const W16* cw = codebook + (c >> 2) * 40 + (c & 3);
        // Non-negative terms: the saturating chain is the exact sum capped at the top.
        std::int64_t q = 0;
        for (int k = 0; k < 10; ++k) {
            W16 e = static_cast<W16>(rbuf[k] - cw[4 * k]);
            q += 2 * std::int64_t{e} * e;
        }
        W32 D = q > kMax32 ? kMax32 : static_cast<W32>(q);
        W32 packed = packCandidate(D, 7, c);
        if (c == 0 || packed < best) best = packed;
    }
    *cand = best & 127;
}

int g729ab_Lsp_select_1(const W16* rbuf, const W16* cb1, const W16* wegt, const W16* codebook) {
    W16 b[5];
    for (int k = 0; k < 5; ++k) b[k] = sub(rbuf[k], cb1[k]);
    W32 best = kMax32;
    for (int c = 0; c < 32; ++c) {
        const W16* cw = codebook + 20 * (c >> 2) + (c & 3);
        W32 D = 0;
        for (int k = 0; k < 5; ++k) {
            W16 t = static_cast<W16>(b[k] - cw[4 * k]);
            W16 u = mult(wegt[k], t);
            D = L_mac(D, u, t);
        }
        W32 packed = packCandidate(D, 5, c);
        if (c == 0 || packed < best) best = packed;
    }
    return best & 31;
}

void g729ab_Lsp_get_tdist(const W16* wegt, const W16* buf, W32* L_tdist, const W16* rbuf, const W16* fg_sum) {
    W16 u[10], t[10];
    for (int j = 0; j < 10; ++j) {
        W16 d = sub(buf[j], rbuf[j]);
        t[j] = extract_h(L_mult(d, fg_sum[j]));
        u[j] = sat16(L_mult(wegt[j], t[j]) >> 12);
    }
    *L_tdist = g729PartialSums4(u, t, 10);
}

// ---------------------------------------------------------------- gain quantiser

void g729ab_Qua_gainLoop2_PreSrch(const W16 (*g1)[2], const W16 (*g2)[2], W16 gcode0, W16* table) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j) {
            W32 gp = static_cast<W16>(g1[i][0] + g2[j][0]);
            W32 c = (W32{g1[i][1]} + g2[j][1]) >> 1;
            W32 gc = static_cast<W16>((W32{gcode0} * c) >> 15);
            W16* pair = table + i * 40 + (j >> 1) * 10 + (j & 1);
            pair[0] = static_cast<W16>((gp * gp) >> 15);
            pair[2] = static_cast<W16>(gp);
            pair[4] = static_cast<W16>((gc * gc) >> 15);
            pair[6] = static_cast<W16>(gc);
            pair[8] = static_cast<W16>((gc * gp) >> 15);
        }
}

int g729ab_Qua_gainLoop2_Srch(const W32* coeff, const W16* table) {
    W32 best = kMax32;
    for (int n = 0; n < 32; ++n) {
        const W16* pair = table + (n >> 3) * 40 + ((n & 7) >> 1) * 10 + (n & 1);
        std::int64_t S = std::int64_t{coeff[0]} * pair[0] + std::int64_t{coeff[1]} * pair[2] + std::int64_t{coeff[2]} * pair[4] +
                         std::int64_t{coeff[3]} * pair[6] + std::int64_t{coeff[4]} * pair[8];
        W32 D = static_cast<W32>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(S >> 15)));
        W32 packed = (D & ~W32{31}) | n;
        if (n == 0 || packed < best) best = packed;
    }
    return best & 31;
}

// ---------------------------------------------------------------- fixed-codebook search

namespace {
constexpr int blockOffset(int ta, int tb) {
    constexpr int kBlock[5][5] = {{-1, kRr01, kRr02, kRr03, kRr04},
                                  {-1, -1, kRr12, kRr13, kRr14},
                                  {-1, -1, -1, kRr23, kRr24},
                                  {-1, -1, -1, -1, -1},
                                  {-1, -1, -1, -1, -1}};
    return kBlock[ta][tb];
}

// Where the running sum of diagonal d after i + 1 terms goes in rr (-1: nowhere); the pair's
// later position is 39 - i.
struct CorDestinations {
    short at[40][40];
};
constexpr CorDestinations corDestinations() {
    CorDestinations t{};
    for (int d = 0; d < 40; ++d)
        for (int i = 0; i < 40; ++i) {
            t.at[d][i] = -1;
            if (d == 0 || d % 5 == 0 || i + d >= 40) continue;
            int b = 39 - i, a = b - d;
            int ta = a % 5, tb = b % 5;
            int lo = ta < tb ? ta : tb, hi = ta < tb ? tb : ta;
            int off = blockOffset(lo, hi);
            if (off < 0) continue;
            int row = (lo == ta ? a : b) / 5, col = (lo == ta ? b : a) / 5;
            t.at[d][i] = static_cast<short>(off + 8 * row + col);
        }
    return t;
}
constexpr CorDestinations kCorDestinations = corDestinations();

// The same destinations as a list per diagonal (step and word), so that the plain path stores
// without a test and sums no further than the diagonal's last stored step.
struct CorStores {
    unsigned char step[kRrSize - kRr01];
    short to[kRrSize - kRr01];
    short first[41];  // diagonal d's entries are [first[d], first[d + 1])
};
constexpr CorStores corStores() {
    CorStores t{};
    int k = 0;
    for (int d = 0; d < 40; ++d) {
        t.first[d] = static_cast<short>(k);
        for (int i = 0; i + d < 40; ++i)
            if (kCorDestinations.at[d][i] >= 0) {
                t.step[k] = static_cast<unsigned char>(i);
                t.to[k] = kCorDestinations.at[d][i];
                ++k;
            }
    }
    t.first[40] = static_cast<short>(k);
    return t;
}
constexpr CorStores kCorStores = corStores();
static_assert(kCorStores.first[40] == kRrSize - kRr01, "every off-diagonal word of rr has one source");

// The same again as (running sum, word) pairs over a [step][diagonal] table of 40 x 40 sums.
struct CorGather {
    short from[kRrSize - kRr01];
    short to[kRrSize - kRr01];
};
constexpr CorGather corGather() {
    CorGather g{};
    for (int d = 1; d < 40; ++d)
        for (int k = kCorStores.first[d]; k < kCorStores.first[d + 1]; ++k) {
            g.from[k] = static_cast<short>(40 * kCorStores.step[k] + d);
            g.to[k] = kCorStores.to[k];
        }
    return g;
}
constexpr CorGather kCorGather = corGather();

}  // namespace

void g729ab_Cor_h_loop2_3_4_5(const W16* h, const W16* h2, W16* rr) {
    // Running sums along each diagonal, stored where the destination table says. When the
    // largest possible sum stays inside 32 bits, the saturating chain is a plain one.
    int hsum = 0;
    for (int i = 0; i < 40; ++i) hsum += std::abs(int{h[i]});
    if (2 * std::int64_t{hsum} * g729LargestMagnitude(h2, 40) <= kMax32 || g729EnergiesCannotSaturate(h, 40, h2, 40)) {
        g729CorMatrixPlain(h, h2, rr);
        return;
    }
    for (int d = 1; d < 40; ++d) {
        if (d % 5 == 0) continue;
        const short* to = kCorDestinations.at[d];
        W32 cor = 0;
        for (int i = 0; i + d < 40; ++i) {
            cor = L_mac(cor, h[i], h2[i + d]);
            if (to[i] >= 0) rr[to[i]] = extract_h(cor);
        }
    }
}

void g729ab_D4i40_SetSign(W16* dn, W16* psign, W16* nsign) {
    for (int i = 0; i < 40; ++i) {
        if (dn[i] >= 0) {
            psign[i] = kMax16;
            nsign[i] = kMin16;
        } else {
            psign[i] = kMin16;
            nsign[i] = kMax16;
        }
        dn[i] = abs_s(dn[i]);
    }
}

namespace {
void modRows(W16* block, int blocks, int track, const W16* psign, const W16* psignTrk, const W16* nsignTrk) {
    for (int k = 0; k < 8; ++k) {
        const W16* sel = psign[5 * k + track] >= 0 ? psignTrk : nsignTrk;
        for (int b = 0; b < blocks; ++b)
            for (int m = 0; m < 8; ++m) {
                W16& v = block[64 * b + 8 * k + m];
                v = multSelect(v, sel[8 * b + m]);
            }
    }
}
}  // namespace

void g729ab_D4i40_ModRrixiy1(W16* rr01, const W16* psign, const W16* psignTrk, const W16* nsignTrk) {
    modRows(rr01, 4, 0, psign, psignTrk, nsignTrk);
}
void g729ab_D4i40_ModRrixiy2(W16* rr12, const W16* psign, const W16* psignTrk, const W16* nsignTrk) {
    modRows(rr12, 3, 1, psign, psignTrk, nsignTrk);
}
void g729ab_D4i40_ModRrixiy3(W16* rr23, const W16* psign, const W16* psignTrk, const W16* nsignTrk) {
    modRows(rr23, 2, 2, psign, psignTrk, nsignTrk);
}

void g729ab_D4i40_CalcRrv_NB_POS(const W16* A, const W16* B, const W16* C, W32* rrv) {
    for (int m = 0; m < 8; ++m) rrv[m] = L_mac(L_mac(L_mult(A[8 * m], 8192), B[8 * m], 8192), C[m], 4096);
}

void g729ab_D4i40_CalcRrv_1(const W16* A, const W16* B, const W16* C, W32* rrv) {
    for (int m = 0; m < 8; ++m) rrv[m] = L_mac(L_mac(L_mult(A[8 * m], 8192), B[m], 8192), C[m], 4096);
}

namespace {
void scoreEight(W32 alp0, const W16* R1, const W16* R2, const W16* dn, W16 ps0, W16* sq, W16* alp) {
    // The two doubled products add at most 65536 · (8192 + 16384) in size: below that margin
    // from the limits the energies are plain sums.
    constexpr W32 kRoom = kMax32 - 65536 * (8192 + 16384);
    if (alp0 <= kRoom && alp0 >= -kRoom) {
        for (int m = 0; m < 8; ++m) {
            alp[m] = static_cast<W16>((alp0 + 2 * (W32{R1[m]} * 8192 + W32{R2[m]} * 16384)) >> 16);
            const W16 ps = static_cast<W16>(ps0 + dn[m]);
            sq[m] = static_cast<W16>(std::min((W32{ps} * ps) >> 15, W32{kMax16}));
        }
        return;
    }
    for (int m = 0; m < 8; ++m) {
        W32 A = L_mac(L_mac(alp0, R1[m], 8192), R2[m], 16384);
        alp[m] = extract_h(A);
        W16 ps = static_cast<W16>(ps0 + dn[m]);
        sq[m] = mult(ps, ps);
    }
}
// Branch-free: which candidate wins is data, not a pattern a predictor could learn.
void meet(W16& idx, W16& sq, W16& alp, W16 idx_c, W16 sq_c, W16 alp_c) {
    const W16 take = static_cast<W16>(-static_cast<int>(g729Better(sq_c, alp_c, sq, alp)));
    idx = static_cast<W16>(idx ^ ((idx ^ idx_c) & take));
    sq = static_cast<W16>(sq ^ ((sq ^ sq_c) & take));
    alp = static_cast<W16>(alp ^ ((alp ^ alp_c) & take));
}
}  // namespace

void g729ab_D4i40_cbs_NB_POS_1(W32 alp0, const W16* R1, const W16* R2, const W16* dn, W16 ps0, W16* index, W16* sq, W16* alp) {
    W16 s[8], a[8];
    scoreEight(alp0, R1, R2, dn, ps0, s, a);
    for (int L = 0; L < 4; ++L) {
        index[L] = g729ab_vq_index_init[L];
        sq[L] = s[L];
        alp[L] = a[L];
        meet(index[L], sq[L], alp[L], g729ab_vq_index_init[L + 4], s[L + 4], a[L + 4]);
    }
}

void g729ab_D4i40_cbs_NB_POS_2(W32 alp0, const W16* R1, const W16* R2, const W16* dn, W16 ps0, W16* index, W16* sq, W16* alp,
                               W16* best_sq, W16* best_alp, W16* best_index) {
    W16 s[8], a[8];
    scoreEight(alp0, R1, R2, dn, ps0, s, a);
    for (int L = 0; L < 4; ++L) {
        meet(index[L], sq[L], alp[L], g729ab_vq_index_init8[L], s[L], a[L]);
        meet(index[L], sq[L], alp[L], g729ab_vq_index_init8[L + 4], s[L + 4], a[L + 4]);
    }
    meet(index[0], sq[0], alp[0], index[2], sq[2], alp[2]);
    meet(index[1], sq[1], alp[1], index[3], sq[3], alp[3]);
    meet(index[0], sq[0], alp[0], index[1], sq[1], alp[1]);
    *best_sq = sq[0];
    *best_alp = alp[0];
    *best_index = index[0];
}

void g729Cbs2PulsePositionPortable(const W16* dnA, const W16* dnB, W16 ps0, const W16* rrAB, const W32* rrv, const W16* weights,
                                   const W32* alp0, W16* best_alp, W16* best_sq, W16* best_index) {
    W16 v[8];
    for (int j = 0; j < 8; ++j) v[j] = round16(rrv[j]);
    W16 li[4], ls[4], la[4];
    for (int L = 0; L < 4; ++L) {
        bool first = true;
        for (int i = 0; i < 8; ++i)
            for (int half = 0; half < 2; ++half) {
                int j = L + 4 * half;
                W16 ps = static_cast<W16>(ps0 + dnA[i] + dnB[j]);
                W16 sq = mult(ps, ps);
                W32 A = L_mac(L_mac(alp0[i], rrAB[8 * i + j], weights[5]), v[j], weights[4]);
                W16 alp = extract_h(A);
                W16 num = static_cast<W16>(8 * i + j);
                if (first) {
                    li[L] = num;
                    ls[L] = sq;
                    la[L] = alp;
                    first = false;
                } else {
                    meet(li[L], ls[L], la[L], num, sq, alp);
                }
            }
    }
    for (int L = 1; L < 4; ++L) meet(li[0], ls[0], la[0], li[L], ls[L], la[L]);
    *best_alp = la[0];
    *best_sq = ls[0];
    *best_index = li[0];
}

// ---------------------------------------------------------------- exact plain sums

// The sums of doubled products in 32-bit wrapping arithmetic: the exact value wherever
// g729SumsCannotSaturate holds, and a defined (wrapped) one elsewhere, which the vector form
// reproduces bit for bit.
W32 g729PlainSumsPortable(const W16* x, const W16* y, int n) {
    std::uint32_t sum = 0;
    for (int i = 0; i < n; ++i) sum += static_cast<std::uint32_t>(W32{x[i]} * y[i]);
    return static_cast<W32>(2 * sum);
}

#if defined(ORVOX_X86_SIMD)
namespace {
// Pairs of products added in 32 bits: only (-32768)² + (-32768)² leaves the range, and it wraps
// to the same residue as the portable sum.
inline std::uint32_t sumLanes(__m128i acc) {
    acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
    acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(acc));
}
inline __m128i load8(const W16* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
}  // namespace

W32 g729PlainSumsSse2(const W16* x, const W16* y, int n) {
    __m128i acc = _mm_setzero_si128();
    int i = 0;
    for (; i + 8 <= n; i += 8) acc = _mm_add_epi32(acc, _mm_madd_epi16(load8(x + i), load8(y + i)));
    std::uint32_t sum = sumLanes(acc);
    for (; i < n; ++i) sum += static_cast<std::uint32_t>(W32{x[i]} * y[i]);
    return static_cast<W32>(2 * sum);
}
#endif

W32 g729PlainSums(const W16* x, const W16* y, int n) {
#if defined(ORVOX_X86_SIMD)
    return g729PlainSumsSse2(x, y, n);
#else
    return g729PlainSumsPortable(x, y, n);
#endif
}

void g729PlainLagsPortable(const W16* x, const W16* y, int nlag, W32* out, int len) {
    for (int m = 0; m < nlag; ++m) out[m] = g729PlainSumsPortable(x, y + m, len);
}

#if defined(ORVOX_X86_SIMD)
// Four lags at a time share the loads of x; their four accumulators are summed across lanes
// together by a transpose.
void g729PlainLagsSse2(const W16* x, const W16* y, int nlag, W32* out, int len) {
    const int vlen = len & ~7;
    int m = 0;
    for (; m + 4 <= nlag; m += 4) {
        __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
        for (int i = 0; i < vlen; i += 8) {
            const __m128i vx = load8(x + i);
            const W16* yi = y + m + i;
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(vx, load8(yi)));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(vx, load8(yi + 1)));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(vx, load8(yi + 2)));
            a3 = _mm_add_epi32(a3, _mm_madd_epi16(vx, load8(yi + 3)));
        }
        const __m128i s01 = _mm_add_epi32(_mm_unpacklo_epi32(a0, a1), _mm_unpackhi_epi32(a0, a1));
        const __m128i s23 = _mm_add_epi32(_mm_unpacklo_epi32(a2, a3), _mm_unpackhi_epi32(a2, a3));
        alignas(16) std::uint32_t sums[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_add_epi32(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23)));
        for (int k = 0; k < 4; ++k) {
            std::uint32_t sum = sums[k];
            for (int i = vlen; i < len; ++i) sum += static_cast<std::uint32_t>(W32{x[i]} * y[m + k + i]);
            out[m + k] = static_cast<W32>(2 * sum);
        }
    }
    for (; m < nlag; ++m) out[m] = g729PlainSumsSse2(x, y + m, len);
}
#endif

void g729PlainLags(const W16* x, const W16* y, int nlag, W32* out, int len) {
#if defined(ORVOX_X86_SIMD)
    g729PlainLagsSse2(x, y, nlag, out, len);
#else
    g729PlainLagsPortable(x, y, nlag, out, len);
#endif
}

// ---------------------------------------------------------------- pair search, vector form

bool g729Cbs2CannotSaturate(const W32* alp0, const W16* weights) {
    // Each energy adds two doubled products to alp0[i], each at most 65536·|weight| in size.
    const std::int64_t room = kMax32 - 65536 * (std::int64_t{std::abs(int{weights[4]})} + std::abs(int{weights[5]}));
    for (int i = 0; i < 8; ++i)
        if (std::abs(std::int64_t{alp0[i]}) > room) return false;
    return true;
}

#if defined(ORVOX_X86_SIMD)
namespace {
// mult(ps, ps) on eight lanes: (ps²) >> 15 from the product's halves, 32768 (from -32768 only)
// brought down to 32767.
inline __m128i squares(__m128i ps) {
    const __m128i r = _mm_or_si128(_mm_slli_epi16(_mm_mulhi_epi16(ps, ps), 1), _mm_srli_epi16(_mm_mullo_epi16(ps, ps), 15));
    return _mm_sub_epi16(r, _mm_srli_epi16(r, 15));
}
inline __m128i select16(__m128i keep, __m128i take, __m128i mask) {
    return _mm_or_si128(_mm_and_si128(mask, take), _mm_andnot_si128(mask, keep));
}

// Four lanes' bests in words 0-3 (square, energy, number): the later candidate b replaces the
// earlier a where sq_b·alp_a - sq_a·alp_b > 0, one 16-bit pair multiply-add per lane.
struct LaneBest {
    __m128i sq, alp, idx;
};
inline LaneBest pick(const LaneBest& a, const LaneBest& b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i d = _mm_madd_epi16(_mm_unpacklo_epi16(b.sq, _mm_sub_epi16(zero, a.sq)), _mm_unpacklo_epi16(a.alp, b.alp));
    const __m128i m32 = _mm_cmpgt_epi32(d, zero);
    const __m128i m = _mm_packs_epi32(m32, m32);
    return {select16(a.sq, b.sq, m), select16(a.alp, b.alp, m), select16(a.idx, b.idx, m)};
}
inline LaneBest upperHalf(const LaneBest& r) {
    return {_mm_unpackhi_epi64(r.sq, r.sq), _mm_unpackhi_epi64(r.alp, r.alp), _mm_unpackhi_epi64(r.idx, r.idx)};
}
}  // namespace

// The four lanes' searches run side by side: lane L's step (i, half) is candidate
// j = L + 4·half of row i, in the portable order. Squares are never negative, so the comparison
// sq_c·alp_b - sq_b·alp_c of two 31-bit products is exact in one 16-bit pair multiply-add and
// has the sign of the saturated one. Valid where g729Cbs2CannotSaturate(alp0, weights).
void g729Cbs2PulsePositionSse2(const W16* dnA, const W16* dnB, W16 ps0, const W16* rrAB, const W32* rrv, const W16* weights,
                               const W32* alp0, W16* best_alp, W16* best_sq, W16* best_index) {
    alignas(16) W16 v[8];
    for (int j = 0; j < 8; ++j) v[j] = round16(rrv[j]);
    const __m128i vv = _mm_load_si128(reinterpret_cast<const __m128i*>(v));
    const __m128i dB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dnB));
    // (rr, v) pairs times (weights[5], weights[4]).
    const __m128i w = _mm_set1_epi32(static_cast<W32>(static_cast<std::uint16_t>(weights[5]) |
                                                      (std::uint32_t{static_cast<std::uint16_t>(weights[4])} << 16)));
    const __m128i zero = _mm_setzero_si128();
    // Row i's candidates: words 0-3 are lane L's step 2i (j = L), words 4-7 its step 2i + 1.
    LaneBest row[8];
    __m128i minAlp = _mm_set1_epi16(kMax16);
    for (int i = 0; i < 8; ++i) {
        const __m128i ps = _mm_add_epi16(_mm_set1_epi16(static_cast<W16>(ps0 + dnA[i])), dB);
        const __m128i rrRow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rrAB + 8 * i));
        const __m128i a0 = _mm_set1_epi32(alp0[i]);
        const __m128i lo = _mm_add_epi32(a0, _mm_slli_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(rrRow, vv), w), 1));
        const __m128i hi = _mm_add_epi32(a0, _mm_slli_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(rrRow, vv), w), 1));
        row[i] = {squares(ps), _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16)),
                  _mm_add_epi16(_mm_set1_epi16(static_cast<W16>(8 * i)), _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7))};
        minAlp = _mm_min_epi16(minAlp, row[i].alp);
    }
    LaneBest best;
    if (_mm_movemask_epi8(_mm_cmpgt_epi16(minAlp, zero)) == 0xFFFF) {
        // Every energy positive: the comparison orders candidates by sq / alp, so the scan's
        // survivor (the first of the highest ratio) is also the survivor of a pairwise tree
        // that keeps the earlier candidate on ties. Four levels instead of fifteen steps.
        LaneBest w[8];
        for (int i = 0; i < 8; ++i) w[i] = pick(row[i], upperHalf(row[i]));
        for (int i = 0; i < 4; ++i) w[i] = pick(w[2 * i], w[2 * i + 1]);
        best = pick(pick(w[0], w[1]), pick(w[2], w[3]));
    } else {
        // Any order: the scan itself, steps (i, 0), (i, 1) in turn.
        best = row[0];
        best = pick(best, upperHalf(row[0]));
        for (int i = 1; i < 8; ++i) best = pick(pick(best, row[i]), upperHalf(row[i]));
    }
    alignas(16) W16 ls[8], la[8], li[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(ls), best.sq);
    _mm_store_si128(reinterpret_cast<__m128i*>(la), best.alp);
    _mm_store_si128(reinterpret_cast<__m128i*>(li), best.idx);
    for (int L = 1; L < 4; ++L) meet(li[0], ls[0], la[0], li[L], ls[L], la[L]);
    *best_alp = la[0];
    *best_sq = ls[0];
    *best_index = li[0];
}
#endif

void g729ab_CBS2_PulsePosition_MR122(const W16* dnA, const W16* dnB, W16 ps0, const W16* rrAB, const W32* rrv, const W16* weights,
                                     const W32* alp0, W16* best_alp, W16* best_sq, W16* best_index) {
#if defined(ORVOX_X86_SIMD)
    if (g729Cbs2CannotSaturate(alp0, weights)) {
        g729Cbs2PulsePositionSse2(dnA, dnB, ps0, rrAB, rrv, weights, alp0, best_alp, best_sq, best_index);
        return;
    }
#endif
    g729Cbs2PulsePositionPortable(dnA, dnB, ps0, rrAB, rrv, weights, alp0, best_alp, best_sq, best_index);
}

// ---------------------------------------------------------------- correlation matrix, plain form

// The running sums Σ h[k]·h2[k + d] in 32-bit wrapping arithmetic, each stored word its sum
// >> 15: the doubled sum's upper half wherever no sum can saturate.
void g729CorMatrixPlainPortable(const W16* h, const W16* h2, W16* rr) {
    for (int d = 1; d < 40; ++d) {
        const int first = kCorStores.first[d], end = kCorStores.first[d + 1];
        if (first == end) continue;
        std::uint32_t cor = 0;
        W32 running[40];
        for (int i = 0; i <= kCorStores.step[end - 1]; ++i) {
            cor += static_cast<std::uint32_t>(W32{h[i]} * h2[i + d]);
            running[i] = static_cast<W32>(cor);
        }
        for (int k = first; k < end; ++k) rr[kCorStores.to[k]] = static_cast<W16>(running[kCorStores.step[k]] >> 15);
    }
}

#if defined(ORVOX_X86_SIMD)
// The diagonals come in runs of four (5g + 1 .. 5g + 4), one run to a vector: every step adds
// h[i] times four neighbouring samples of h2, and the sums of all steps are kept for the stores.
void g729CorMatrixPlainSse2(const W16* h, const W16* h2, W16* rr) {
    alignas(16) W16 padded[48] = {};  // the last steps of a run read up to three words past h2
    for (int i = 0; i < 40; ++i) padded[i] = h2[i];
    alignas(16) W32 running[40][40];  // [step][diagonal]
    const __m128i zero = _mm_setzero_si128();
    for (int d0 = 1; d0 < 40; d0 += 5) {
        int steps = 0;  // as far as the run's furthest stored step
        for (int d = d0; d < d0 + 4; ++d)
            if (kCorStores.first[d + 1] > kCorStores.first[d]) steps = std::max(steps, kCorStores.step[kCorStores.first[d + 1] - 1] + 1);
        __m128i acc = zero;
        for (int i = 0; i < steps; ++i) {
            const __m128i v = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(padded + i + d0)), zero);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(v, _mm_set1_epi32(static_cast<std::uint16_t>(h[i]))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(&running[i][d0]), acc);
        }
    }
    const W32* flat = &running[0][0];
    for (int k = 0; k < kRrSize - kRr01; ++k) rr[kCorGather.to[k]] = static_cast<W16>(flat[kCorGather.from[k]] >> 15);
}
#endif

void g729CorMatrixPlain(const W16* h, const W16* h2, W16* rr) {
#if defined(ORVOX_X86_SIMD)
    g729CorMatrixPlainSse2(h, h2, rr);
#else
    g729CorMatrixPlainPortable(h, h2, rr);
#endif
}

}  // namespace g729

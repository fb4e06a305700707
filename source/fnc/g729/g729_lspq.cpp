// LSP quantisation (encoder) and decoding: the two-stage switched MA-predictive quantiser with
// its minimum-distance expansion, stability correction and predictor memory.
#include "g729_internal.h"

#if defined(ORVOX_X86_SIMD)
#include <immintrin.h>
#define G729_LSP_AVX2 1
#endif

namespace g729 {

namespace {
using Fg = const W16 (*)[10];
Fg fgOf(const std::array<std::array<std::array<Tab16, 10>, 4>, 2>& t, int m) { return reinterpret_cast<Fg>(t[m].data()); }
}  // namespace

bool g729HasAvx2() {
#ifdef G729_LSP_AVX2
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

#ifdef G729_LSP_AVX2
namespace {
// The codebooks for the searches below: eight codewords side by side, each holding one pair of
// adjacent elements, so that one multiply-add gives every codeword's two squared terms. The
// second-stage halves are padded to three pairs with zeros (zero error, zero term).
constexpr auto kCb1Pairs = [] {
    std::array<std::array<std::array<Tab16, 16>, 5>, 16> t{};
    for (int g = 0; g < 16; ++g)
        for (int j = 0; j < 5; ++j)
            for (int l = 0; l < 16; ++l) t[g][j][l] = g729_std::lspcb1[8 * g + l / 2][2 * j + l % 2];
    return t;
}();
constexpr auto kCb2Pairs = [] {
    std::array<std::array<std::array<std::array<Tab16, 16>, 3>, 4>, 2> t{};
    for (int h = 0; h < 2; ++h)
        for (int g = 0; g < 4; ++g)
            for (int j = 0; j < 3; ++j)
                for (int l = 0; l < 16; ++l) {
                    const int k = 2 * j + l % 2;
                    t[h][g][j][l] = k < 5 ? g729_std::lspcb2[8 * g + l / 2][5 * h + k] : Tab16{0};
                }
    return t;
}();

// Both searches add non-negative terms, so the saturating chain is the exact sum capped at the
// 32-bit limit, and the packed candidate (8·distance saturated, low bits replaced by the number)
// is the same for every distance of 2^28 or more. Capping each pair at 2^27 before the sum keeps
// the sum inside 31 bits without changing any packed value; the candidates' numbers in the low
// bits make the minimum unique, which is the reference's first-best rule.
__attribute__((target("avx2"))) __m256i g729PackedDistance(__m256i pairSum, __m256i number, int numberBits) {
    const __m256i d = _mm256_min_epi32(_mm256_add_epi32(pairSum, pairSum), _mm256_set1_epi32((1 << 28) - 1));
    return _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi32(d, 3), _mm256_set1_epi32(~((1 << numberBits) - 1))), number);
}

__attribute__((target("avx2"))) W32 g729SmallestLane(__m256i v) {
    __m128i m = _mm_min_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0x4E));
    m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0xB1));
    return _mm_cvtsi128_si32(m);
}

__attribute__((target("avx2"))) __m256i g729PairOf(W16 lo, W16 hi) {
    return _mm256_set1_epi32(static_cast<int>(static_cast<std::uint16_t>(lo) | (static_cast<std::uint32_t>(static_cast<std::uint16_t>(hi)) << 16)));
}

// The smallest packed candidate over Groups groups of eight codewords of Pairs element pairs
// (`table`, laid out as above) from the target pairs, the error of each element weighted by
// mult(w, e) when Weighted (weights from 0 to 32767, so that it never saturates and every term
// stays non-negative).
template <int Groups, int Pairs, bool Weighted>
__attribute__((target("avx2"))) W32 g729SmallestPacked(const __m256i* target, const __m256i* weight, const Tab16* table, int numberBits) {
    const __m256i cap = _mm256_set1_epi32(1 << 27);
    __m256i number = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i best = _mm256_set1_epi32(kMax32);
    for (int g = 0; g < Groups; ++g) {
        __m256i sum = _mm256_setzero_si256();
        for (int j = 0; j < Pairs; ++j) {
            const __m256i cw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + 16 * (Pairs * g + j)));
            const __m256i e = _mm256_sub_epi16(target[j], cw);
            __m256i u = e;
            if constexpr (Weighted) {
                // mult(w, e) = (w·e) >> 15 from the product's two halves.
                const __m256i lo = _mm256_mullo_epi16(weight[j], e), hi = _mm256_mulhi_epi16(weight[j], e);
                u = _mm256_or_si256(_mm256_slli_epi16(hi, 1), _mm256_srli_epi16(lo, 15));
            }
            // Two squares of -32768 wrap to 2^31, still right as an unsigned value.
            sum = _mm256_add_epi32(sum, _mm256_min_epu32(_mm256_madd_epi16(u, e), cap));
        }
        best = _mm256_min_epi32(best, g729PackedDistance(sum, number, numberBits));
        number = _mm256_add_epi32(number, _mm256_set1_epi32(8));
    }
    return g729SmallestLane(best) & ((1 << numberBits) - 1);
}
}  // namespace

__attribute__((target("avx2"))) W32 g729ab_Lsp_pre_select_avx2(const W16* rbuf) {
    __m256i r[5];
    for (int j = 0; j < 5; ++j) r[j] = g729PairOf(rbuf[2 * j], rbuf[2 * j + 1]);
    return g729SmallestPacked<16, 5, false>(r, nullptr, kCb1Pairs[0][0].data(), 7);
}

__attribute__((target("avx2"))) int g729ab_Lsp_select_1_avx2(const W16* rbuf, const W16* cb1, const W16* wegt, int half) {
    W16 b[6] = {}, w[6] = {};
    for (int k = 0; k < 5; ++k) {
        b[k] = sub(rbuf[k], cb1[k]);
        w[k] = wegt[k];
    }
    __m256i bv[3], wv[3];
    for (int j = 0; j < 3; ++j) {
        bv[j] = g729PairOf(b[2 * j], b[2 * j + 1]);
        wv[j] = g729PairOf(w[2 * j], w[2 * j + 1]);
    }
    return static_cast<int>(g729SmallestPacked<4, 3, true>(bv, wv, kCb2Pairs[half][0][0].data(), 5));
}
#else
W32 g729ab_Lsp_pre_select_avx2(const W16* rbuf) {
    W32 c;
    g729ab_Lsp_pre_select(rbuf, g729ab_lspcb1_reorder.data(), &c);
    return c;
}
int g729ab_Lsp_select_1_avx2(const W16* rbuf, const W16* cb1, const W16* wegt, int half) {
    return g729ab_Lsp_select_1(rbuf, cb1, wegt, half == 0 ? g729ab_lspcb2a_reorder.data() : g729ab_lspcb2b_reorder.data());
}
#endif

namespace {
W32 lspPreSelect(const W16* rbuf) {
    if (g729HasAvx2()) return g729ab_Lsp_pre_select_avx2(rbuf);
    W32 c;
    g729ab_Lsp_pre_select(rbuf, g729ab_lspcb1_reorder.data(), &c);
    return c;
}
// The weights come from g729ab_Get_wegt, always from 2048 to 32767.
int lspSelect1(const W16* rbuf, const W16* cb1, const W16* wegt, int half) {
    if (g729HasAvx2()) return g729ab_Lsp_select_1_avx2(rbuf, cb1, wegt, half);
    return g729ab_Lsp_select_1(rbuf, cb1, wegt, half == 0 ? g729ab_lspcb2a_reorder.data() : g729ab_lspcb2b_reorder.data());
}
}  // namespace

void g729ab_Lsp_expand_1_2(W16* buf, W16 gap) {
    for (int j = 1; j < 10; ++j) {
        W16 t = static_cast<W16>(add(sub(buf[j - 1], buf[j]), gap) >> 1);
        if (t > 0) {
            buf[j - 1] = sub(buf[j - 1], t);
            buf[j] = add(buf[j], t);
        }
    }
}

void g729ab_Lsp_stability(W16* buf) {
    for (int j = 0; j < 9; ++j)
        if (W32{buf[j + 1]} - buf[j] < 0) {
            W16 t = buf[j + 1];
            buf[j + 1] = buf[j];
            buf[j] = t;
        }
    if (buf[0] < 40) buf[0] = 40;
    for (int j = 0; j < 9; ++j)
        if (W32{buf[j + 1]} - buf[j] < 321) buf[j + 1] = add(buf[j], 321);
    if (buf[9] > 25681) buf[9] = 25681;
}

void g729ab_Lsp_prev_update(const W16* lsp_ele, W16 (*freq_prev)[10]) {
    for (int k = 3; k > 0; --k) g729ab_Copy10(freq_prev[k - 1], freq_prev[k]);
    g729ab_Copy10(lsp_ele, freq_prev[0]);
}

int g729ab_Lsp_last_select(const W32* L_tdist) { return L_tdist[1] < L_tdist[0] ? 1 : 0; }

void g729ab_Lsp_get_quant(int code0, int code1, int code2, const W16 (*fg)[10], W16 (*freq_prev)[10], W16* lsf_q, const W16* fg_sum) {
    W16 buf[10];
    for (int k = 0; k < 5; ++k) buf[k] = add(g729Lspcb1(code0, k), g729ab_lspcb2[code1][k]);
    for (int k = 5; k < 10; ++k) buf[k] = add(g729Lspcb1(code0, k), g729ab_lspcb2[code2][k]);
    g729ab_Lsp_expand_1_2(buf, 10);
    g729ab_Lsp_expand_1_2(buf, 5);
    g729ab_Lsp_prev_compose(buf, lsf_q, fg, freq_prev, fg_sum);
    g729ab_Lsp_prev_update(buf, freq_prev);
    g729ab_Lsp_stability(lsf_q);
}

void g729ab_Qua_lsp(const W16* lsp, W16* lsp_q, W16 (*freq_prev)[10], W16* ana) {
    W16 flsp[12];
    flsp[0] = 1029;
    flsp[11] = 23677;
    W16* lsf = flsp + 1;
    g729ab_Lsp_lsf2(lsp, lsf);
    W16 wegt[10];
    g729ab_Get_wegt(lsf, wegt);

    W16 cand[2], idx1[2], idx2[2];
    W32 tdist[2];
    for (int m = 0; m < 2; ++m) {
        W16 rbuf[10], cb1[10], buf[10];
        g729ab_Lsp_prev_extract(lsf, rbuf, fgOf(g729ab_fg, m), freq_prev, g729ab_fg_sum_inv[m].data());
        const W32 c = lspPreSelect(rbuf);
        cand[m] = static_cast<W16>(c);
        for (int k = 0; k < 10; ++k) cb1[k] = g729Lspcb1(c, k);
        idx1[m] = static_cast<W16>(lspSelect1(rbuf, cb1, wegt, 0));
        idx2[m] = static_cast<W16>(lspSelect1(rbuf + 5, cb1 + 5, wegt + 5, 1));
        g729ab_Vec_Add(cb1, g729ab_lspcb2[idx1[m]].data(), buf, 5);
        g729ab_Vec_Add(cb1 + 5, g729ab_lspcb2[idx2[m]].data() + 5, buf + 5, 5);
        g729ab_Lsp_expand_1_2(buf, 10);
        g729ab_Lsp_get_tdist(wegt, buf, &tdist[m], rbuf, g729ab_fg_sum[m].data());
    }
    int mode = g729ab_Lsp_last_select(tdist);
    ana[0] = static_cast<W16>((mode << 7) | cand[mode]);
    ana[1] = static_cast<W16>((idx1[mode] << 5) | idx2[mode]);
    W16 lsf_q[10];
    g729ab_Lsp_get_quant(cand[mode], idx1[mode], idx2[mode], fgOf(g729ab_fg, mode), freq_prev, lsf_q, g729ab_fg_sum[mode].data());
    g729ab_Lsf_lsp2(lsf_q, lsp_q);
}

void g729ab_Lsp_iqua_cs(const W16* prm, W16* lsf_q, int erase, G729NUNIDEC* st) {
    if (erase == 0) {
        int m = (prm[0] >> 7) & 1;
        int code0 = prm[0] & 127;
        int code1 = (prm[1] >> 5) & 31;
        int code2 = prm[1] & 31;
        g729ab_Lsp_get_quant(code0, code1, code2, fgOf(g729ab_fg, m), st->freq_prev, lsf_q, g729ab_fg_sum[m].data());
        g729ab_Copy10(lsf_q, st->prev_lsp);
        st->prev_ma = static_cast<W16>(m);
    } else {
        g729ab_Copy10(st->prev_lsp, lsf_q);
        W16 buf[10];
        int m = st->prev_ma & 1;
        g729ab_Lsp_prev_extract(st->prev_lsp, buf, fgOf(g729ab_fg, m), st->freq_prev, g729ab_fg_sum_inv[m].data());
        g729ab_Lsp_prev_update(buf, st->freq_prev);
    }
}

void g729ab_D_lsp(const W16* prm, W16* lsp_q, int erase, G729NUNIDEC* st) {
    W16 lsf_q[10];
    g729ab_Lsp_iqua_cs(prm, lsf_q, erase, st);
    g729ab_Lsf_lsp2(lsf_q, lsp_q);
}

}  // namespace g729

// Voice activity detector option 1: the filter bank of all-pass half-band
// sections, the sub-band levels, the stationarity ratio, the averaged levels,
// the background-noise update and the decision threshold.
#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

constexpr Word16 AMR_COEFF3 = 13363;
constexpr Word16 AMR_STAT_THR_LEVEL = 184;
constexpr Word16 AMR_NOISE_MIN = 40;
constexpr Word16 AMR_NOISE_MAX = 16000;
constexpr Word16 AMR_INV_COMPLEN = 3641;
constexpr Word16 AMR_VAD_THR_HIGH = 1260;
constexpr Word16 AMR_VAD_THR_LOW = 720;
constexpr Word16 VAD_SLOPE = -2808;

// Two-coefficient section on (a, b) with memories (m0, m1); the sum and
// difference are halved from their exact values.
void section5(Word16& a, Word16& b, Word16& m0, Word16& m1) {
    const Word16 c1 = amr_coeff5[0], c2 = amr_coeff5[1];
    Word16 u = sub(a, mult(c1, m0));
    Word16 t1 = add(m0, mult(c1, u));
    m0 = u;
    Word16 v = sub(b, mult(c2, m1));
    Word16 t2 = add(m1, mult(c2, v));
    m1 = v;
    a = static_cast<Word16>((std::int32_t{t1} + t2) >> 1);
    b = static_cast<Word16>((std::int32_t{t1} - t2) >> 1);
}

void section3(Word16& a, Word16& b, Word16& m) {
    Word16 u = sub(b, mult(AMR_COEFF3, m));
    Word16 t = add(m, mult(AMR_COEFF3, u));
    m = u;
    Word16 a0 = a;
    b = static_cast<Word16>((std::int32_t{a0} - t) >> 1);
    a = static_cast<Word16>((std::int32_t{a0} + t) >> 1);
}

inline std::int32_t mag(Word16 v) { return v < 0 ? -std::int32_t{v} : v; }

// Sums of magnitudes over a band's positions s + step·i, the last `tail` of
// `count` positions counted separately.
void band_sums(const Word16* buf, int s, int step, int count, int tail, std::int32_t& H, std::int32_t& T) {
    H = T = 0;
    for (int i = 0; i < count; ++i) (i >= count - tail ? T : H) += mag(buf[s + step * i]);
}

}  // namespace

void amrefr_first_filter_stage(const Word16* in, Word16* out, Word16* data) {
    const std::int32_t c1 = amr_coeff5[0], c2 = amr_coeff5[1];
    std::int32_t d0 = data[0], d1 = data[1];
    auto m = [](std::int32_t c, std::int32_t x) { return (c * x) >> 15; };
    for (int i = 0; i < 40; ++i) {
        std::int32_t x0 = in[4 * i] >> 2, x1 = in[4 * i + 1] >> 2, x2 = in[4 * i + 2] >> 2, x3 = in[4 * i + 3] >> 2;
        std::int32_t t0 = x0 - m(c1, d0);
        std::int32_t t1 = d0 + m(c1, t0);
        std::int32_t t3 = x1 - m(c2, d1);
        std::int32_t t2 = d1 + m(c2, t3);
        out[4 * i] = static_cast<Word16>(t1 + t2);
        out[4 * i + 1] = static_cast<Word16>(t1 - t2);
        d0 = x2 - m(c1, t0);
        t1 = t0 + m(c1, d0);
        d1 = x3 - m(c2, t3);
        t2 = t3 + m(c2, d1);
        out[4 * i + 2] = static_cast<Word16>(t1 + t2);
        out[4 * i + 3] = static_cast<Word16>(t1 - t2);
    }
    data[0] = static_cast<Word16>(d0);
    data[1] = static_cast<Word16>(d1);
}

void amrefr_filter5_loop(Word16* buf, Word16* data) {
    Word16 m10 = data[0], m11 = data[1], m20 = data[2], m21 = data[3];
    for (int i = 0; i < 40; ++i) {
        section5(buf[4 * i], buf[4 * i + 2], m10, m11);
        section5(buf[4 * i + 1], buf[4 * i + 3], m20, m21);
    }
    data[0] = m10;
    data[1] = m11;
    data[2] = m20;
    data[3] = m21;
}

void amrefr_filter3_loop1(Word16* buf, Word16* data) {
    Word16 m0 = data[0], m1 = data[1], m4 = data[4];
    for (int i = 0; i < 20; ++i) {
        section3(buf[8 * i], buf[8 * i + 4], m0);
        section3(buf[8 * i + 2], buf[8 * i + 6], m1);
        section3(buf[8 * i + 3], buf[8 * i + 7], m4);
    }
    data[0] = m0;
    data[1] = m1;
    data[4] = m4;
}

void amrefr_filter3_loop2(Word16* buf, Word16* data) {
    Word16 m0 = data[0], m1 = data[1];
    for (int i = 0; i < 10; ++i) {
        section3(buf[16 * i], buf[16 * i + 8], m0);
        section3(buf[16 * i + 4], buf[16 * i + 12], m1);
    }
    data[0] = m0;
    data[1] = m1;
}

Word16 amrefr_level_calculation8(const Word16* buf, Word16* sub) {
    std::int32_t H, T;
    band_sums(buf, 1, 4, 40, 8, H, T);
    std::int32_t L = 2 * std::int32_t{*sub} + 2 * T + 2 * H;
    *sub = static_cast<Word16>(T > 32767 ? 32767 : T);
    return L >= 65536 ? 32767 : static_cast<Word16>(L >> 1);
}

Word16 amrefr_level_calculation4(const Word16* buf, Word16* sub, Word16 s) {
    std::int32_t H, T;
    band_sums(buf, s, 8, 20, 4, H, T);
    std::int32_t L = std::int32_t{*sub} + 2 * T + 2 * H;
    *sub = static_cast<Word16>(2 * T > 32767 ? 32767 : 2 * T);
    return static_cast<Word16>(L > 32767 ? 32767 : L);
}

Word16 amrefr_level_calculation2(const Word16* buf, Word16* sub, Word16 s) {
    std::int32_t H, T;
    band_sums(buf, s, 16, 10, 2, H, T);
    std::int32_t L = std::int32_t{*sub} + 2 * T + 2 * H;
    *sub = static_cast<Word16>(2 * T > 32767 ? 32767 : 2 * T);
    return static_cast<Word16>(L > 32767 ? 32767 : L);
}

void amrefr_update_cntrl_else(const Word16* level, const Word16* ave, Word16* stat_rat) {
    std::int32_t sum = 0;
    for (int k = 0; k < 9; ++k) {
        Word16 num = level[k] > ave[k] ? level[k] : ave[k];
        Word16 den = level[k] > ave[k] ? ave[k] : level[k];
        if (num < AMR_STAT_THR_LEVEL) num = AMR_STAT_THR_LEVEL;
        if (den < AMR_STAT_THR_LEVEL) den = AMR_STAT_THR_LEVEL;
        Word16 e = norm_s(den);
        den = static_cast<Word16>(den << e);
        Word16 q = div_s(static_cast<Word16>(num >> 1), den);
        sum += q >> (8 - e);
    }
    *stat_rat = static_cast<Word16>(sum > 32767 ? 32767 : sum);
}

void amrefr_update_cntrl_loop(Word16* ave, const Word16* level, Word16 alpha) {
    for (int k = 0; k < 12; ++k) {
        Word16 d = wrap16(std::int32_t{level[k]} - ave[k]);
        ave[k] = wrap16(std::int32_t{ave[k]} + mult_r(alpha, d));
    }
}

void amrefr_noise_est_loop(const Word16* old, Word16* bckr, const Word16* alphas, Word16 bckr_add) {
    for (int k = 0; k < 9; ++k) {
        std::int32_t diff = std::int32_t{old[k]} - bckr[k];
        if (diff < 0) {
            std::int32_t v = bckr[k] + mult_r(alphas[1], sat16(diff)) - 2;
            bckr[k] = static_cast<Word16>(v < AMR_NOISE_MIN ? AMR_NOISE_MIN : v);
        } else {
            std::int32_t v = bckr[k] + mult_r(alphas[0], sat16(diff)) + bckr_add;
            bckr[k] = static_cast<Word16>(v > AMR_NOISE_MAX ? AMR_NOISE_MAX : v);
        }
    }
}

Word16 amrefr_Gen_vad_thr(const Word16* bckr, const Word16* level, Word16* snr_sum, Word16* noise_level) {
    std::int32_t S = 0, B = 0;
    for (int k = 0; k < 9; ++k) {
        B += bckr[k];
        Word16 e = norm_s(bckr[k]);
        Word16 q = div_s(static_cast<Word16>(level[k] >> 1), static_cast<Word16>(bckr[k] << e));
        q = e >= 5 ? shl(q, static_cast<Word16>(e - 5)) : static_cast<Word16>(q >> (5 - e));
        S = L_add(S, L_mult(q, q));
    }
    Word16 snr = S >= (1 << 25) ? 32767 : static_cast<Word16>(S >> 10);
    *snr_sum = static_cast<Word16>((std::int32_t{snr} * AMR_INV_COMPLEN) >> 15);
    *noise_level = B >= (1 << 18) ? 32767 : static_cast<Word16>(B >> 3);
    std::int32_t prod = std::int32_t{VAD_SLOPE} * *noise_level;
    Word16 thr = add(static_cast<Word16>(prod >> 15), AMR_VAD_THR_HIGH);
    return thr < AMR_VAD_THR_LOW ? AMR_VAD_THR_LOW : thr;
}

#include "isac_filterbank.h"

#include <cstring>

#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {

void WebRtcIsacfix_HighpassFilterFixDec32(int16_t* io, int16_t len, const int32_t* c, int32_t* state) {
    int32_t s0 = state[0], s1 = state[1];
    for (int k = 0; k < len; ++k) {
        const int64_t a64 = static_cast<int64_t>(c[0]) * s0 + static_cast<int64_t>(c[1]) * s1;
        const int64_t b64 = static_cast<int64_t>(c[2]) * s0 + static_cast<int64_t>(c[3]) * s1;
        const int32_t a = static_cast<int32_t>(a64 >> 32);
        const int32_t b = static_cast<int32_t>(b64 >> 32);
        const int32_t x = io[k];
        io[k] = sat16(x + lo16(b >> 7));
        s1 = s0;
        s0 = sat32(4 * static_cast<int64_t>(sub32(4 * x, a)));
    }
    state[0] = s0;
    state[1] = s1;
}

namespace {

// One first-order all-pass section, factor in Q15, state in Q16.
inline int16_t allpass_section(int16_t x, int32_t f, int32_t& s) {
    const int32_t v = sat32(2 * static_cast<int64_t>(f) * x + s);
    const int16_t y = static_cast<int16_t>(v >> 16);
    s = sat32(65536 * static_cast<int64_t>(x) - 2 * static_cast<int64_t>(f) * y);
    return y;
}

}  // namespace

void WebRtcIsacfix_AllpassFilter2FixDec16C(int16_t* ch1, int16_t* ch2, const int16_t* f1, const int16_t* f2,
                                           int length, int32_t* st1, int32_t* st2) {
    for (int n = 0; n < length; ++n) {
        ch1[n] = allpass_section(allpass_section(ch1[n], f1[0], st1[0]), f1[1], st1[1]);
        ch2[n] = allpass_section(allpass_section(ch2[n], f2[0], st2[0]), f2[1], st2[1]);
    }
}

void WebRtcIsacfix_SplitAndFilter1(int16_t* pin, int16_t* LP16, int16_t* HP16, PreFiltBankstr* pf) {
    WebRtcIsacfix_HighpassFilterFixDec32(pin, 480, WebRtcIsacfix_kHpStCoeffInQ30, pf->HPstates_fix);
    int16_t ch1[264], ch2[264];
    std::memcpy(ch1, pf->INLABUF1_fix, sizeof pf->INLABUF1_fix);
    std::memcpy(ch2, pf->INLABUF2_fix, sizeof pf->INLABUF2_fix);
    for (int k = 0; k < 240; ++k) {
        ch1[24 + k] = pin[2 * k + 1];
        ch2[24 + k] = pin[2 * k];
    }
    for (int k = 0; k < 24; ++k) {
        pf->INLABUF1_fix[k] = pin[433 + 2 * k];
        pf->INLABUF2_fix[k] = pin[432 + 2 * k];
    }
    WebRtcIsacfix_AllpassFilter2FixDec16C(ch1, ch2, WebRtcIsacfix_kUpperApFactorsQ15,
                                          WebRtcIsacfix_kLowerApFactorsQ15, 240, pf->INSTAT1_fix,
                                          pf->INSTAT2_fix);
    // The look-ahead runs on copies so that the stored states stay those of
    // the 240 coded samples.
    int32_t t1[4], t2[4];
    std::memcpy(t1, pf->INSTAT1_fix, sizeof t1);
    std::memcpy(t2, pf->INSTAT2_fix, sizeof t2);
    WebRtcIsacfix_AllpassFilter2FixDec16C(ch1 + 240, ch2 + 240, WebRtcIsacfix_kUpperApFactorsQ15,
                                          WebRtcIsacfix_kLowerApFactorsQ15, 24, t1, t2);
    for (int k = 0; k < 264; ++k) {
        LP16[k] = sat16((ch1[k] + ch2[k]) >> 1);
        HP16[k] = sat16((ch1[k] - ch2[k]) >> 1);
    }
}

void WebRtcIsacfix_FilterAndCombine1(int16_t* ch1, int16_t* ch2, int16_t* out16, PostFiltBankstr* pf) {
    WebRtcIsacfix_AllpassFilter2FixDec16C(ch1, ch2, WebRtcIsacfix_kLowerApFactorsQ15,
                                          WebRtcIsacfix_kUpperApFactorsQ15, 240, pf->STATE_0_UPPER_fix,
                                          pf->STATE_0_LOWER_fix);
    for (int k = 0; k < 240; ++k) {
        out16[2 * k] = ch2[k];
        out16[2 * k + 1] = ch1[k];
    }
    WebRtcIsacfix_HighpassFilterFixDec32(out16, 480, WebRtcIsacfix_kHPStCoeffOut1Q30, pf->HPstates1_fix);
    WebRtcIsacfix_HighpassFilterFixDec32(out16, 480, WebRtcIsacfix_kHPStCoeffOut2Q30, pf->HPstates2_fix);
}

namespace {

inline int32_t m16(int32_t d, int32_t c) { return static_cast<int32_t>((static_cast<int64_t>(d) * c) >> 16); }

// Sections 2 and 3 of the three-section all-pass: coefficient split into one
// half plus (coefficient - 32768).
void allpass_half_section(const int32_t* src, int32_t* dst, int32_t a, int32_t* st) {
    const int32_t c = a - 32768;
    int32_t d = sub32(src[0], st[1]);
    dst[0] = add32(add32(st[0], d >> 1), m16(d, c));
    for (int k = 1; k < 160; ++k) {
        d = sub32(src[k], dst[k - 1]);
        dst[k] = add32(add32(src[k - 1], d >> 1), m16(d, c));
    }
    st[0] = src[159];
    st[1] = dst[159];
}

}  // namespace

void WebRtcSpl_AllPassQMF(int32_t* in, int32_t* out, const uint16_t* coef, int32_t* st) {
    const int32_t a0 = static_cast<int16_t>(coef[0]);
    out[0] = add32(st[0], m16(sub32(in[0], st[1]), a0));
    for (int k = 1; k < 160; ++k) out[k] = add32(in[k - 1], m16(sub32(in[k], out[k - 1]), a0));
    st[0] = in[159];
    st[1] = out[159];
    allpass_half_section(out, in, coef[1], st + 2);
    allpass_half_section(in, out, coef[2], st + 4);
}

void WebRtcSpl_AnalysisQMF(const int16_t* in, int16_t* low, int16_t* high, int32_t* st1, int32_t* st2) {
    int32_t h1[160], h2[160], f1[160], f2[160];
    for (int i = 0; i < 160; ++i) {
        h2[i] = 1024 * in[2 * i];
        h1[i] = 1024 * in[2 * i + 1];
    }
    WebRtcSpl_AllPassQMF(h1, f1, WebRtcSpl_kAllPassFilter1, st1);
    WebRtcSpl_AllPassQMF(h2, f2, WebRtcSpl_kAllPassFilter2, st2);
    for (int i = 0; i < 160; ++i) {
        low[i] = sat16(add32(add32(f1[i], f2[i]), 1024) >> 11);
        high[i] = sat16(add32(sub32(f1[i], f2[i]), 1024) >> 11);
    }
}

void WebRtcSpl_SynthesisQMF(const int16_t* low, const int16_t* high, int16_t* out, int32_t* st1, int32_t* st2) {
    int32_t h1[160], h2[160], f1[160], f2[160];
    for (int i = 0; i < 160; ++i) {
        h1[i] = 1024 * static_cast<int32_t>(lo16(low[i] + high[i]));
        h2[i] = 1024 * static_cast<int32_t>(lo16(low[i] - high[i]));
    }
    WebRtcSpl_AllPassQMF(h1, f1, WebRtcSpl_kAllPassFilter2, st1);
    WebRtcSpl_AllPassQMF(h2, f2, WebRtcSpl_kAllPassFilter1, st2);
    for (int i = 0; i < 160; ++i) {
        out[2 * i] = sat16(add32(f2[i], 512) >> 10);
        out[2 * i + 1] = sat16(add32(f1[i], 512) >> 10);
    }
}

void AllpassFilterForDec32(int16_t* io, const int32_t* factors, int16_t length, int32_t* state) {
    // The factor is in Q15 against a state in Q16, as in the band-split
    // all-pass: the product is doubled, not scaled down by 2^16, or the
    // sections would be little more than a delay and the decimator would
    // let the band above 2 kHz alias into the pitch search.
    for (int sec = 0; sec < 2; ++sec) {
        const int32_t f = factors[sec];
        int32_t s = state[sec];
        for (int n = 0; n < length; n += 2) {
            const int32_t x = io[n];
            const int32_t v = sat32(static_cast<int64_t>(shl32(f * x, 1)) + s);
            const int32_t y = v >> 16;
            s = sat32(static_cast<int64_t>(shl32(-f * y, 1)) + 65536 * int64_t{x});
            io[n] = static_cast<int16_t>(y);
        }
        state[sec] = s;
    }
}

void WebRtcIsacfix_DecimateAllpass32(const int16_t* in, int32_t* state_in, int16_t N, int16_t* out) {
    int16_t d[480];
    if (N <= 0 || N > 480 || N % 2 != 0) return;
    d[0] = static_cast<int16_t>(state_in[4] >> 16);
    std::memcpy(d + 1, in, sizeof(int16_t) * (N - 1));
    state_in[4] = 65536 * static_cast<int32_t>(in[N - 1]);
    AllpassFilterForDec32(d + 1, kApUpperQ15, N, state_in);
    AllpassFilterForDec32(d, kApLowerQ15, N, state_in + 2);
    for (int k = 0; k < N / 2; ++k) out[k] = sat16(d[2 * k] + d[2 * k + 1]);
}

int WebRtcSpl_DownsampleFastC(const int16_t* data_in, int data_in_length, int16_t* data_out,
                              int data_out_length, const int16_t* coefficients, int coefficients_length,
                              int factor, int16_t delay) {
    if (data_out_length <= 0 || coefficients_length <= 0) return -1;
    const int64_t last = int64_t{delay} + 1 + int64_t{factor} * (data_out_length - 1);
    if (last > data_in_length) return -1;
    for (int n = 0; n < data_out_length; ++n) {
        const int i = delay + n * factor;
        int32_t s = 2048;
        for (int j = 0; j < coefficients_length; ++j) s = add32(s, coefficients[j] * data_in[i - j]);
        data_out[n] = sat16(s >> 12);
    }
    return 0;
}

}  // namespace isac

#include "isac_lattice.h"

#include "isac_arith.h"
#include "isac_ops.h"

namespace isac {
namespace {

constexpr int kSubFrames = 6;
constexpr int kSubLen = 40;
constexpr int kMaxOrder = 12;

// Saturated floor(c * v / 2^15): a doubling multiply-high of v by c << 16.
inline int32_t q15(int32_t c, int32_t v) { return sat32((static_cast<int64_t>(c) * v) >> 15); }

// Sine and cosine of one sub-frame's reflection coefficients.
void sin_cos(const int16_t* coef, int order, int16_t* sth, int16_t* cth) {
    for (int k = 0; k < order; ++k) sth[k] = coef[k];
    WebRtcSpl_SqrtOfOneMinusXSquared(sth, order, cth);
}

}  // namespace

// One stage of the analysis lattice over 39 samples.
void WebRtcIsacfix_FilterMaLoopC(int16_t sth, int16_t cth, int32_t inv_cth, int32_t* g_in, int32_t* f,
                                 int32_t* g_out) {
    for (int n = 0; n < kSubLen - 1; ++n) {
        const int32_t t = add32(f[n + 1], q15(sth, g_in[n]));
        f[n + 1] = wrap32((static_cast<int64_t>(t) * inv_cth) >> 16);
        g_out[n + 1] = add32(q15(cth, g_in[n]), q15(sth, f[n + 1]));
    }
}

void WebRtcIsacfix_NormLatticeFilterMa(int16_t order, int32_t* state, const int16_t* in, const int16_t* coef,
                                       const int32_t* gains, int16_t lo_hi, int16_t* out) {
    if (order < 1 || order > kMaxOrder) return;
    for (int u = 0; u < kSubFrames; ++u) {
        int16_t sth[kMaxOrder], cth[kMaxOrder];
        sin_cos(coef + u * order, order, sth, cth);
        int32_t gain32 = gains[2 * u + lo_hi];
        const int gain_sh = norm32(gain32);
        gain32 = shl32(gain32, gain_sh);
        int32_t inv_cth[kMaxOrder];
        for (int k = 0; k < order; ++k) {
            gain32 = mulQ15r(cth[k], gain32);
            inv_cth[k] = WebRtcSpl_DivW32W16(INT32_MAX, cth[k]);
        }
        const int32_t gain16 = gain32 >> 16;

        int32_t f[kSubLen];
        int32_t g[kMaxOrder + 1][kSubLen];
        for (int n = 0; n < kSubLen; ++n) f[n] = g[0][n] = shl32(in[kSubLen * u + n], 15);
        int32_t f0 = f[0];
        for (int i = 1; i <= order; ++i) {
            const int32_t t = add32(f0, mulQ15r(sth[i - 1], state[i - 1]));
            int32_t lo = static_cast<int16_t>(inv_cth[i - 1] & 0xFFFF);
            int32_t hi = (inv_cth[i - 1] >> 16) + (lo < 0 ? 1 : 0);
            f0 = add32(mul32(hi, t), wrap32((static_cast<int64_t>(lo) * t) >> 16));
            g[i][0] = add32(mulQ15r(cth[i - 1], state[i - 1]), mulQ15r(sth[i - 1], f0));
        }
        for (int k = 0; k < order; ++k) WebRtcIsacfix_FilterMaLoopC(sth[k], cth[k], inv_cth[k], g[k], f, g[k + 1]);
        f[0] = f0;
        for (int n = 0; n < kSubLen; ++n) {
            const int32_t v = wrap32((static_cast<int64_t>(gain16) * f[n]) >> 16);
            out[kSubLen * u + n] = lo16(shiftW32(v, 9 - gain_sh));
        }
        for (int i = 0; i <= order; ++i) state[i] = g[i][kSubLen - 1];
    }
}

void WebRtcIsacfix_NormLatticeFilterAr_loop(const int32_t* in, int16_t inv_gain16, int sh, int16_t* out) {
    for (int i = 0; i < kSubLen; ++i) {
        int32_t v = sat32((static_cast<int64_t>(in[i]) * inv_gain16) >> 15);
        v = sh >= 12 ? shl32(v, sh - 12) : v >> (12 - sh);
        out[i] = static_cast<int16_t>(v >> 16);
    }
}

void WebRtcIsacfix_FilterArLoop(int16_t* g, int16_t* f, const int16_t* cth, const int16_t* sth, int16_t order) {
    for (int n = 0; n < kSubLen - 1; ++n) {
        int32_t a = f[n + 1];
        for (int k = order - 1; k >= 0; --k) {
            const int16_t t = sat16((cth[k] * a - sth[k] * g[k] + 16384) >> 15);
            g[k + 1] = sat16((sth[k] * a + cth[k] * g[k] + 16384) >> 15);
            a = t;
        }
        f[n + 1] = static_cast<int16_t>(a);
        g[0] = static_cast<int16_t>(a);
    }
}

void WebRtcIsacfix_NormLatticeFilterAr(int16_t order, int16_t* state, const int32_t* in, const int16_t* coef,
                                       const int32_t* gains, int16_t lo_hi, int16_t* out) {
    if (order < 1 || order > kMaxOrder) return;
    for (int u = 0; u < kSubFrames; ++u) {
        int16_t sth[kMaxOrder], cth[kMaxOrder];
        sin_cos(coef + u * order, order, sth, cth);
        int32_t tmp32 = shl32(gains[2 * u + lo_hi], 10);
        for (int k = 0; k < order; ++k) tmp32 = mulQ15r(cth[k], tmp32);
        const int sh = norm32(tmp32);
        const int16_t den16 = lo16(shiftW32(tmp32, sh - 16));
        const int16_t inv_gain16 = lo16(WebRtcSpl_DivW32W16(INT32_MAX, den16) >> 2);
        int16_t f[kSubLen];
        WebRtcIsacfix_NormLatticeFilterAr_loop(in + kSubLen * u, inv_gain16, sh, f);
        int16_t g[kMaxOrder + 1];
        int32_t f0 = f[0];
        for (int i = order - 1; i >= 0; --i) {
            const int16_t t = sat16((cth[i] * f0 - sth[i] * state[i] + 16384) >> 15);
            g[i + 1] = sat16((sth[i] * f0 + cth[i] * state[i] + 16384) >> 15);
            f0 = t;
        }
        f[0] = static_cast<int16_t>(f0);
        g[0] = f[0];
        WebRtcIsacfix_FilterArLoop(g, f, cth, sth, order);
        for (int n = 0; n < kSubLen; ++n) out[kSubLen * u + n] = f[n];
        for (int i = 0; i <= order; ++i) state[i] = g[i];
    }
}

namespace {

inline int32_t hi32(int32_t a, int32_t b) { return static_cast<int32_t>((static_cast<int64_t>(a) * b) >> 32); }

// 1 - K^2 times alpha, renormalised; the shift is added to alpha_exp.
void update_alpha(int32_t k, int32_t& alpha, int& alpha_exp) {
    const int32_t one_minus = sub32(INT32_MAX, shl32(hi32(k, k), 1));
    alpha = shl32(hi32(one_minus, alpha), 1);
    const int n = norm32(alpha);
    alpha = shl32(alpha, n);
    alpha_exp += n;
}

// The recursion shared by both Levinson routines; L_A in Q27.  Returns 1, or
// -i when step i is unstable.
int levinson_q27(const int32_t* Rin, int16_t* K, int order, int32_t* L_A) {
    int32_t R[kMaxOrder + 1];
    const int norm = norm32(Rin[0]);
    for (int i = 0; i <= order; ++i) R[i] = shl32(Rin[i], norm);
    const int32_t r1abs = R[1] < 0 ? wrap32(-static_cast<int64_t>(R[1])) : R[1];
    int32_t k1 = WebRtcSpl_DivW32(r1abs, R[0]);
    if (R[1] > 0) k1 = sub32(0, k1);
    K[0] = static_cast<int16_t>(k1 >> 16);
    L_A[1] = k1 >> 4;
    int32_t alpha = R[0];
    int alpha_exp = 0;
    update_alpha(k1, alpha, alpha_exp);
    for (int i = 2; i <= order; ++i) {
        int32_t s = 0;
        for (int j = 1; j < i; ++j) s = add32(s, hi32(R[j], L_A[i - j]));
        const int32_t t = add32(R[i], shl32(s, 5));
        const int32_t tabs = t < 0 ? wrap32(-static_cast<int64_t>(t)) : t;
        int32_t ki = WebRtcSpl_DivW32(tabs, alpha);
        if (t > 0) ki = sub32(0, ki);
        const int64_t shifted = static_cast<int64_t>(ki) * (int64_t{1} << alpha_exp);
        ki = sat32(shifted);
        K[i - 1] = static_cast<int16_t>(ki >> 16);
        if (K[i - 1] > 32740 || K[i - 1] < -32740) return -i;
        int32_t next[kMaxOrder + 1];
        for (int j = 1; j < i; ++j) next[j] = add32(L_A[j], shl32(hi32(L_A[i - j], ki), 1));
        for (int j = 1; j < i; ++j) L_A[j] = next[j];
        L_A[i] = ki >> 4;
        update_alpha(ki, alpha, alpha_exp);
    }
    return 1;
}

}  // namespace

int16_t WebRtcSpl_LevinsonW32_JSK(const int32_t* R, int16_t* A, int16_t* K, int16_t order) {
    if (order < 1 || order > kMaxOrder) return 0;
    int32_t L_A[kMaxOrder + 1] = {};
    const int r = levinson_q27(R, K, order, L_A);
    if (r < 0) return static_cast<int16_t>(r);
    A[0] = 2048;
    for (int j = 1; j <= order; ++j) A[j] = static_cast<int16_t>(add32(L_A[j], 32768) >> 16);
    return 1;
}

int16_t WebRtcSpl_LevinsonDurbin(const int32_t* R, int16_t* A, int16_t* K, int16_t /*order*/) {
    constexpr int kOrder = 6;
    int32_t L_A[kMaxOrder + 1] = {};
    const int r = levinson_q27(R, K, kOrder, L_A);
    if (r < 0) return static_cast<int16_t>(r);
    A[0] = 4096;
    for (int j = 1; j <= kOrder; ++j) A[j] = static_cast<int16_t>(add32(shl32(L_A[j], 1), 32768) >> 16);
    return 1;
}

namespace {

// Step-down recursion; q is the Q format of the polynomial (12 or 11).
void step_down(int16_t* a, int n, int16_t* k, int q) {
    const int up = 15 - q;
    const int32_t lim = q == 12 ? 8191 : 4092;
    const int32_t mul = q == 12 ? 4 : 8;
    k[n - 1] = lo16(shl32(a[n], up));
    for (int m = n - 1; m >= 1; --m) {
        const int32_t c = k[m];
        const int16_t den = lo16((1073741823 - c * c) >> 15);
        const int32_t inv = WebRtcSpl_DivW32W16(1 << 30, den);
        int32_t tmp[kMaxOrder + 1] = {};
        for (int j = 1; j <= m; ++j) {
            const int64_t num = (static_cast<int64_t>(a[j]) << 16) - 2 * static_cast<int64_t>(c) * a[m + 1 - j];
            tmp[j] = wrap32((num * inv) >> 30);
        }
        for (int j = 1; j < m; ++j) a[j] = lo16(tmp[j] >> 1);
        const int32_t cl = tmp[m] > lim ? lim : (tmp[m] < -lim ? -lim : tmp[m]);
        k[m - 1] = static_cast<int16_t>(mul * cl);
    }
}

}  // namespace

void WebRtcSpl_AToK_JSK(int16_t* a16, int16_t useOrder, int16_t* k16) {
    if (useOrder < 1 || useOrder > kMaxOrder) return;
    step_down(a16, useOrder, k16, 11);
}

void WebRtcSpl_LpcToReflCoef(int16_t* a16, int use_order, int16_t* k16) {
    if (use_order < 1 || use_order > kMaxOrder) return;
    step_down(a16, use_order, k16, 12);
}

void WebRtcSpl_ReflCoefToLpc(const int16_t* k, int use_order, int16_t* a) {
    if (use_order < 1 || use_order > kMaxOrder) return;
    int16_t cur[kMaxOrder + 1] = {};
    cur[0] = 4096;
    cur[1] = static_cast<int16_t>(k[0] >> 3);
    for (int m = 1; m < use_order; ++m) {
        int16_t next[kMaxOrder + 1];
        next[m + 1] = static_cast<int16_t>(k[m] >> 3);
        for (int j = 1; j <= m; ++j) next[j] = lo16(cur[j] + ((cur[m + 1 - j] * k[m]) >> 15));
        for (int j = 1; j <= m + 1; ++j) cur[j] = next[j];
    }
    for (int j = 0; j <= use_order; ++j) a[j] = cur[j];
}

int WebRtcSpl_AutoCorrelation(const int16_t* x, int len, int order, int32_t* result, int* scale) {
    if (order < 0) order = len;
    if (order > len || len <= 0) return -1;
    const int32_t smax = WebRtcSpl_MaxAbsValueW16C(x, len);
    int scaling = 0;
    if (smax != 0) {
        const int b = 32 - clz32(static_cast<uint32_t>(len));
        const int t = norm32(smax * smax);
        scaling = t > b ? 0 : b - t;
    }
    for (int i = 0; i <= order; ++i) {
        int32_t s = 0;
        for (int j = 0; j < len - i; ++j) s = add32(s, (x[j] * x[j + i]) >> scaling);
        result[i] = s;
    }
    *scale = scaling;
    return order + 1;
}

void WebRtcSpl_AutoCorrToReflCoef(const int32_t* R, int use_order, int16_t* K) {
    if (use_order < 1 || use_order > kMaxOrder) return;
    int16_t P[kMaxOrder + 1], W[kMaxOrder + 1];
    const int norm = norm32(R[0]);
    for (int i = 0; i <= use_order; ++i) P[i] = W[i] = static_cast<int16_t>(shl32(R[i], norm) >> 16);
    for (int n = 1; n <= use_order; ++n) {
        const int32_t p1abs = P[1] < 0 ? -P[1] : P[1];
        if (P[0] < p1abs) {
            for (int i = n - 1; i < use_order; ++i) K[i] = 0;
            return;
        }
        int32_t k = 0;
        if (P[1] != 0) {
            int32_t num = p1abs;
            for (int b = 0; b < 15; ++b) {
                num <<= 1;
                k <<= 1;
                if (num >= P[0]) {
                    num -= P[0];
                    k += 1;
                }
            }
            if (P[1] > 0) k = -k;
        }
        K[n - 1] = static_cast<int16_t>(k);
        if (n == use_order) return;
        P[0] = ADD16_SAT(P[0], lo16((P[1] * k + 16384) >> 15));
        for (int i = 1; i <= use_order - n; ++i) {
            const int16_t p_next = P[i + 1];
            P[i] = ADD16_SAT(p_next, lo16((W[i] * k + 16384) >> 15));
            W[i] = ADD16_SAT(W[i], lo16((p_next * k + 16384) >> 15));
        }
    }
}

int32_t WebRtcSpl_SqrtLocal(int32_t in) {
    // Series of sqrt(1 + x) around x = 0 in Q31, with x/2 in Q15.
    int32_t B = sub32(in >> 1, 0x40000000);
    const int32_t h = static_cast<int16_t>(B >> 16);
    B = add32(B, 0x40000000);
    B = add32(B, 0x40000000);
    const int32_t x2 = shl32(h * h, 1);
    B = sub32(B, x2 >> 1);
    const int32_t nx = sub32(0, x2) >> 16;
    const int32_t t = static_cast<int16_t>(shl32(mul32(nx, nx), 1) >> 16);
    B = add32(B, mul32(-40960, t));
    B = add32(B, mul32(57344, static_cast<int16_t>(shl32(h * t, 1) >> 16)));
    B = add32(B, shl32(h * static_cast<int16_t>(x2 >> 16), 1) >> 1);
    return add32(B, 32768);
}

int32_t WebRtcSpl_Sqrt(int32_t value) {
    if (value == 0) return 0;
    const int sh = norm32(value);
    int32_t A = shl32(value, sh);
    if (A >= INT32_MAX - 32767) A = INT32_MAX - 65535;
    else A = static_cast<int32_t>(static_cast<uint32_t>(A + 32768) & 0xFFFF0000u);
    const int32_t absA = A < 0 ? wrap32(-static_cast<int64_t>(A)) : A;
    int32_t r = WebRtcSpl_SqrtLocal(absA);
    if ((sh & 1) == 0) {
        r = static_cast<int32_t>(static_cast<uint32_t>(add32(mul32(r >> 16, 46340), 32768)) & 0x7FFF0000u) >> 15;
    } else {
        r >>= 16;
    }
    return (r & 0xFFFF) >> (sh >> 1);
}

void WebRtcSpl_SqrtOfOneMinusXSquared(const int16_t* x, int n, int16_t* y) {
    for (int i = 0; i < n; ++i) y[i] = lo16(WebRtcSpl_Sqrt(1073741823 - x[i] * x[i]));
}

void WebRtcSpl_VectorBitShiftW32ToW16(int16_t* out, int length, const int32_t* in, int s) {
    for (int i = 0; i < length; ++i) {
        out[i] = s >= 0 ? sat16(in[i] >> (s > 31 ? 31 : s))
                        : sat16_64(static_cast<int64_t>(in[i]) * (int64_t{1} << (-s > 32 ? 32 : -s)));
    }
}

int16_t WebRtcSpl_MaxAbsValueW16C(const int16_t* v, int length) {
    if (v == nullptr || length <= 0) return -1;
    int32_t m = 0;
    for (int i = 0; i < length; ++i) {
        const int32_t a = v[i] < 0 ? -v[i] : v[i];
        if (a > m) m = a;
    }
    return static_cast<int16_t>(m > 32767 ? 32767 : m);
}

int32_t WebRtcSpl_MaxAbsValueW32C(const int32_t* v, int length) {
    if (v == nullptr || length <= 0) return -1;
    uint32_t m = 0;
    for (int i = 0; i < length; ++i) {
        const uint32_t a = v[i] < 0 ? 0u - static_cast<uint32_t>(v[i]) : static_cast<uint32_t>(v[i]);
        if (a > m) m = a;
    }
    return static_cast<int32_t>(m > 0x7FFFFFFFu ? 0x7FFFFFFFu : m);
}

void WebRtcIsacfix_VecSqrt(const int32_t* in, uint16_t* out) {
    auto magnitude = [](int32_t v) -> int64_t { return v < 0 ? -static_cast<int64_t>(v) : v; };
    // A run of zeros halves the running estimate down to 0; it then restarts
    // at 1 rather than dividing by zero.  Encoder and decoder share this
    // routine, so both restart alike.
    int64_t y = int64_t{1} << ((31 - norm32(in[0])) >> 1);
    for (int i = 0; i < 120; ++i) {
        const int64_t v = magnitude(in[i]);
        if (y == 0) y = 1;
        y = (v / y + y) >> 1;
        int64_t next = y;
        for (int step = 0; step < 11; ++step) {
            if (y == 0) y = 1;
            next = (y + static_cast<int16_t>(static_cast<uint16_t>(v / y))) >> 1;
            if (next == y || step == 10) break;
            y = next;
        }
        out[i] = static_cast<uint16_t>(next);
    }
}

void WebRtcIsacfix_Apply_GainVec(const int16_t* in, const int16_t* gains, int16_t* out1, int16_t* out2) {
    for (int j = 0; j < 240; ++j) {
        out1[j] = lo16((in[2 * j] * gains[j >> 1] + 512) >> 10);
        out2[j] = lo16((in[2 * j + 1] * gains[j >> 1] + 512) >> 10);
    }
}

void isac_4x_inner_prod_aligned(const int16_t* x, const int16_t* y, int n, int32_t* out) {
    for (int j = 0; j < 4; ++j) {
        int32_t s = 0;
        for (int i = 0; i < n; ++i) s = add32(s, x[i] * y[i + j]);
        out[j] = s;
    }
}

void isac_4x_inner_prod_aligned_scaled(const int16_t* x, const int16_t* y, int n, int32_t* out, int scale) {
    for (int j = 0; j < 4; ++j) {
        int32_t s = 0;
        for (int i = 0; i < n; ++i) s = add32(s, (x[i] * y[i + j]) >> scale);
        out[j] = s;
    }
}

}  // namespace isac

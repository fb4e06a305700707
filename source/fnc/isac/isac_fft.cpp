#include "isac_fft.h"

#include <utility>

#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int kN = 240;

// 16-bit sums wrap, as the stages are defined.
inline int16_t w16(int32_t v) { return lo16(v); }

// Rotation of element p by table index t (sign of the sine follows iSign).
inline void rotate(int16_t* re, int16_t* im, int p, int t, int16_t iSign) {
    const int32_t c = kCosTabFfftQ14[t];
    const int32_t s = iSign == -1 ? kCosTabFfftQ14[t + 60] : -kCosTabFfftQ14[t + 60];
    const int32_t r = re[p], i = im[p];
    re[p] = w16((c * r - s * i) >> 14);
    im[p] = w16((c * i + s * r) >> 14);
}

// Stage 1: radix 4 with twiddles, stride 60.
void loop1(int16_t* re, int16_t* im, int16_t iSign) {
    for (int kk = 0; kk < 60; ++kk) {
        const int k0 = kk, k1 = kk + 60, k2 = kk + 120, k3 = kk + 180;
        const int16_t akp = w16(re[k0] + re[k2]), akm = w16(re[k0] - re[k2]);
        const int16_t ajp = w16(re[k1] + re[k3]), ajm = w16(re[k1] - re[k3]);
        const int16_t bkp = w16(im[k0] + im[k2]), bkm = w16(im[k0] - im[k2]);
        const int16_t bjp = w16(im[k1] + im[k3]), bjm = w16(im[k1] - im[k3]);
        re[k0] = w16(akp + ajp);
        im[k0] = w16(bkp + bjp);
        int16_t x[4], y[4];
        x[2] = w16(akp - ajp);
        y[2] = w16(bkp - bjp);
        if (iSign == 1) {
            x[1] = w16(akm - bjm); y[1] = w16(bkm + ajm);
            x[3] = w16(akm + bjm); y[3] = w16(bkm - ajm);
        } else {
            x[1] = w16(akm + bjm); y[1] = w16(bkm - ajm);
            x[3] = w16(akm - bjm); y[3] = w16(bkm + ajm);
        }
        for (int m = 1; m <= 3; ++m) {
            int32_t c, s;
            if (m == 1) {
                c = kCosTabFfftQ14[kk];
                s = kCosTabFfftQ14[kk + 60];
            } else if (m == 2) {
                c = kCosTabFfftQ14_2[kk];
                s = kCosTabFfftQ14_2[kk + 30];
            } else {
                c = kCosTabFfftQ14_3[kk];
                s = kCosTabFfftQ14_3[kk + 20];
            }
            if (iSign == 1) s = -s;
            const int km = kk + 60 * m;
            re[km] = w16((c * x[m] - s * y[m]) >> 14);
            im[km] = w16((s * x[m] + c * y[m]) >> 14);
        }
    }
}

// Stage 6: radix 4, stride 1, into the scratch arrays.
void loop6(const int16_t* re, const int16_t* im, int16_t* dr, int16_t* di, int16_t iSign) {
    for (int g = 0; g < 60; ++g) {
        const int32_t a0 = re[4 * g], a1 = re[4 * g + 1], a2 = re[4 * g + 2], a3 = re[4 * g + 3];
        const int32_t b0 = im[4 * g], b1 = im[4 * g + 1], b2 = im[4 * g + 2], b3 = im[4 * g + 3];
        const int16_t ap = w16(a0 + a2), am = w16(a0 - a2), cp = w16(a1 + a3), cm = w16(a1 - a3);
        const int16_t bp = w16(b0 + b2), bm = w16(b0 - b2), dp = w16(b1 + b3), dm = w16(b1 - b3);
        dr[4 * g] = w16(ap + cp);
        dr[4 * g + 2] = w16(ap - cp);
        di[4 * g] = w16(bp + dp);
        di[4 * g + 2] = w16(bp - dp);
        if (iSign == 1) {
            dr[4 * g + 1] = w16(am - dm);
            dr[4 * g + 3] = w16(am + dm);
            di[4 * g + 1] = w16(bm + cm);
            di[4 * g + 3] = w16(bm - cm);
        } else {
            dr[4 * g + 1] = w16(am + dm);
            dr[4 * g + 3] = w16(am - dm);
            di[4 * g + 1] = w16(bm - cm);
            di[4 * g + 3] = w16(bm + cm);
        }
    }
}

// Steps 2 and 3 of both transforms: scale a 32-bit vector so that its largest
// magnitude lands in 64..128 and return the shift used.
int normalise_shift(const int32_t* a, const int32_t* b, int n) {
    uint32_t m = 0;
    for (int k = 0; k < n; ++k) {
        const uint32_t x = a[k] < 0 ? 0u - static_cast<uint32_t>(a[k]) : static_cast<uint32_t>(a[k]);
        const uint32_t y = b[k] < 0 ? 0u - static_cast<uint32_t>(b[k]) : static_cast<uint32_t>(b[k]);
        if (x > m) m = x;
        if (y > m) m = y;
    }
    if (m == 0) return 7;
    // Leading sign bits of the magnitude, not counting the sign bit.
    const int lead = m >= 0x80000000u ? 0 : norm32(static_cast<int32_t>(m));
    return lead - 24;
}

inline int16_t shifted(int32_t v, int sh) {
    if (sh >= 0) return lo16(shl32(v, sh));
    return lo16(static_cast<int32_t>((static_cast<int64_t>(v) + (int64_t{1} << (-sh - 1))) >> -sh));
}

}  // namespace

void WebRtcIsacfix_FftRadix16Fastest_fwd_loop1(int16_t* re, int16_t* im) { loop1(re, im, 1); }
void WebRtcIsacfix_FftRadix16Fastest_inv_loop1(int16_t* re, int16_t* im) { loop1(re, im, -1); }

void WebRtcIsacfix_FftRadix16Fastest_loop2(int16_t* re, int16_t* im, int16_t sigma) {
    for (int g = 0; g < 4; ++g) {
        for (int i = 0; i < 20; ++i) {
            const int k = 60 * g + i, k1 = k + 20, k2 = k + 40;
            const int16_t ak = re[k], bk = im[k];
            const int16_t aj = w16(re[k1] + re[k2]), bj = w16(im[k1] + im[k2]);
            const int32_t p = (sigma * static_cast<int32_t>(w16(re[k1] - re[k2]))) >> 14;
            const int32_t q = (sigma * static_cast<int32_t>(w16(im[k1] - im[k2]))) >> 14;
            re[k] = w16(ak + aj);
            im[k] = w16(bk + bj);
            const int16_t ak2 = w16(ak - (aj >> 1)), bk2 = w16(bk - (bj >> 1));
            re[k1] = w16(ak2 - q);
            re[k2] = w16(ak2 + q);
            im[k1] = w16(bk2 + p);
            im[k2] = w16(bk2 - p);
        }
    }
}

void WebRtcIsacfix_FftRadix16Fastest_fwd_loop6(const int16_t* re, const int16_t* im, int16_t* dr, int16_t* di) {
    loop6(re, im, dr, di, 1);
}
void WebRtcIsacfix_FftRadix16Fastest_inv_loop6(const int16_t* re, const int16_t* im, int16_t* dr, int16_t* di) {
    loop6(re, im, dr, di, -1);
}

int16_t WebRtcIsacfix_FftRadix16Fastest(int16_t* re, int16_t* im, int16_t iSign) {
    if (iSign == 1) WebRtcIsacfix_FftRadix16Fastest_fwd_loop1(re, im);
    else WebRtcIsacfix_FftRadix16Fastest_inv_loop1(re, im);
    WebRtcIsacfix_FftRadix16Fastest_loop2(re, im, static_cast<int16_t>(iSign == 1 ? 14189 : -14189));
    for (int m = 1; m <= 19; ++m) {
        for (int j = 0; j < 4; ++j) {
            rotate(re, im, 20 + m + 60 * j, 4 * m, iSign);
            rotate(re, im, 40 + m + 60 * j, 8 * m, iSign);
        }
    }
    // Stage 4: radix 5, stride 4.
    const int32_t C1 = 5063, C2 = -13255;
    const int32_t S1 = iSign == 1 ? 15582 : -15582, S2 = iSign == 1 ? 9630 : -9630;
    for (int b = 0; b < 4; ++b) {
        for (int t = 0; t < 12; ++t) {
            const int p0 = b + 20 * t, p1 = p0 + 4, p2 = p0 + 8, p3 = p0 + 12, p4 = p0 + 16;
            const int16_t akp = w16(re[p1] + re[p4]), akm = w16(re[p1] - re[p4]);
            const int16_t ajp = w16(re[p2] + re[p3]), ajm = w16(re[p2] - re[p3]);
            const int16_t bkp = w16(im[p1] + im[p4]), bkm = w16(im[p1] - im[p4]);
            const int16_t bjp = w16(im[p2] + im[p3]), bjm = w16(im[p2] - im[p3]);
            const int16_t a0 = re[p0], b0 = im[p0];
            re[p0] = w16(a0 + akp + ajp);
            im[p0] = w16(b0 + bkp + bjp);
            const int16_t ak2 = w16(a0 + ((C1 * akp + C2 * ajp) >> 14));
            const int16_t bk2 = w16(b0 + ((C1 * bkp + C2 * bjp) >> 14));
            const int16_t ak3 = w16(a0 + ((C2 * akp + C1 * ajp) >> 14));
            const int16_t bk3 = w16(b0 + ((C2 * bkp + C1 * bjp) >> 14));
            const int32_t t1 = (S1 * bkm + S2 * bjm) >> 14;
            const int32_t t2 = (S1 * akm + S2 * ajm) >> 14;
            const int32_t t3 = (S2 * bkm - S1 * bjm) >> 14;
            const int32_t t4 = (S2 * akm - S1 * ajm) >> 14;
            re[p1] = w16(ak2 - t1);
            re[p4] = w16(ak2 + t1);
            im[p1] = w16(bk2 + t2);
            im[p4] = w16(bk2 - t2);
            re[p2] = w16(ak3 - t3);
            re[p3] = w16(ak3 + t3);
            im[p2] = w16(bk3 + t4);
            im[p3] = w16(bk3 - t4);
        }
    }
    for (int b = 1; b <= 3; ++b)
        for (int j = 1; j <= 4; ++j)
            for (int t = 0; t < 12; ++t) rotate(re, im, b + 4 * j + 20 * t, 12 * b * j, iSign);
    int16_t dr[kN], di[kN];
    if (iSign == 1) WebRtcIsacfix_FftRadix16Fastest_fwd_loop6(re, im, dr, di);
    else WebRtcIsacfix_FftRadix16Fastest_inv_loop6(re, im, dr, di);
    for (int i = 0; i < kN; ++i) {
        re[i] = dr[kSortTabFft[i]];
        im[i] = di[kSortTabFft[i]];
    }
    return 0;
}

void WebRtcIsacfix_Time2SpecC(int16_t* x1, int16_t* x2, int16_t* outre, int16_t* outim) {
    int32_t tr[kN], ti[kN];
    for (int k = 0; k < kN; ++k) {
        const int32_t c = WebRtcIsacfix_kCosTab1[k], s = WebRtcIsacfix_kSinTab1[k];
        const int64_t pr = static_cast<int64_t>(c) * x1[k] + static_cast<int64_t>(s) * x2[k];
        const int64_t pi = static_cast<int64_t>(c) * x2[k] - static_cast<int64_t>(s) * x1[k];
        tr[k] = static_cast<int32_t>((pr * 16921) >> 26);
        ti[k] = static_cast<int32_t>((pi * 16921) >> 26);
    }
    const int sh = normalise_shift(tr, ti, kN);
    for (int k = 0; k < kN; ++k) {
        x1[k] = shifted(tr[k], sh);
        x2[k] = shifted(ti[k], sh);
    }
    WebRtcIsacfix_FftRadix16Fastest(x1, x2, -1);
    const int n = sh + 23;
    for (int k = 0; k < kN / 2; ++k) {
        const int32_t c = -WebRtcIsacfix_kSinTab2[119 - k], s = WebRtcIsacfix_kSinTab2[k];
        const int32_t xr = sat16(x1[k] + x1[239 - k]);
        const int32_t xi = sat16(x2[k] - x2[239 - k]);
        const int32_t yr = sat16(x2[k] + x2[239 - k]);
        const int32_t yi = sat16(x1[239 - k] - x1[k]);
        outre[k] = lo16(sub32(c * xr, s * xi) >> n);
        outim[k] = lo16(add32(s * xr, c * xi) >> n);
        outre[239 - k] = lo16(-(add32(s * yr, c * yi) >> n));
        outim[239 - k] = lo16(sub32(s * yi, c * yr) >> n);
    }
}

void WebRtcIsacfix_Spec2TimeC(int16_t* re, int16_t* im, int32_t* o1, int32_t* o2) {
    for (int k = 0; k < kN / 2; ++k) {
        const int32_t c = -WebRtcIsacfix_kSinTab2[119 - k], s = WebRtcIsacfix_kSinTab2[k];
        const int32_t A = (c * re[k] + s * im[k]) >> 5;
        const int32_t B = (c * im[k] - s * re[k]) >> 5;
        const int32_t C = (s * im[239 - k] - c * re[239 - k]) >> 5;
        const int32_t D = (-(c * im[239 - k] + s * re[239 - k])) >> 5;
        o1[k] = A - C;
        o1[239 - k] = A + C;
        o2[k] = D + B;
        o2[239 - k] = D - B;
    }
    const int sh = normalise_shift(o1, o2, kN);
    for (int k = 0; k < kN; ++k) {
        re[k] = shifted(o1[k], sh);
        im[k] = shifted(o2[k], sh);
    }
    WebRtcIsacfix_FftRadix16Fastest(re, im, 1);
    for (int k = 0; k < kN; ++k) {
        const int32_t ur = sh >= 0 ? re[k] >> sh : shl32(re[k], -sh);
        const int32_t ui = sh >= 0 ? im[k] >> sh : shl32(im[k], -sh);
        o1[k] = static_cast<int32_t>((static_cast<int64_t>(ur) * 273) >> 16);
        o2[k] = static_cast<int32_t>((static_cast<int64_t>(ui) * 273) >> 16);
    }
    for (int k = 0; k < kN; ++k) {
        const int64_t c = WebRtcIsacfix_kCosTab1[k], s = WebRtcIsacfix_kSinTab1[k];
        const int32_t xr = wrap32((c * o1[k] - s * o2[k] + 512) >> 10);
        const int32_t yi = wrap32((c * o2[k] + s * o1[k] + 512) >> 10);
        o1[k] = static_cast<int32_t>((static_cast<int64_t>(xr) * 31727) >> 15);
        o2[k] = static_cast<int32_t>((static_cast<int64_t>(yi) * 31727) >> 15);
    }
}

void WebRtcSpl_ComplexBitReverse(int16_t* v, int stages) {
    auto swap_elements = [v](int a, int b) {
        std::swap(v[2 * a], v[2 * b]);
        std::swap(v[2 * a + 1], v[2 * b + 1]);
    };
    if (stages == 7 || stages == 8) {
        const int16_t* pairs = stages == 7 ? index_7 : index_8;
        const int count = stages == 7 ? 56 : 120;
        for (int i = 0; i < count; ++i) swap_elements(pairs[2 * i] / 4, pairs[2 * i + 1] / 4);
        return;
    }
    if (stages < 1 || stages > 30) return;
    const int n = 1 << stages;
    int mr = 0;
    for (int m = 1; m < n; ++m) {
        int l = n;
        do {
            l >>= 1;
        } while (l > (n - 1) - mr);
        mr = (mr % l) + l;
        if (mr > m) swap_elements(m, mr);
    }
}

}  // namespace isac

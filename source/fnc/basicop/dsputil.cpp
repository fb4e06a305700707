// Maths and utilities of the signal-processing library.
#include "dsputil.h"

#include <bit>
#include <cstring>

namespace {
SINT16 sat16(std::int64_t v) {
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<SINT16>(v);
}
SINT32 magnitude(SINT16 v) { return v < 0 ? -SINT32{v} : SINT32{v}; }
}  // namespace

UINT32 hsfdB20(int dBgain, UINT32 val) {
    if (dBgain < -90) return 0;
    if (dBgain < 0) {
        const std::uint64_t t = static_cast<std::uint16_t>(hsfdBAttenTable[-dBgain - 1]);
        if (val > 0x7FFF80u) return static_cast<UINT32>((val >> 15) * t);
        return static_cast<UINT32>((val * t) >> 15);
    }
    std::uint64_t v = val;
    int db = dBgain;
    while (db > 6) {
        v <<= 1;
        db -= 6;
    }
    for (; db > 0; --db) v = (v * 287) >> 8;
    return static_cast<UINT32>(v);
}

UINT32 hsfdB10(int dBgain, UINT32 val) { return hsfdB20(2 * dBgain, val); }

int hsfGetdB10(UINT32 reference, UINT32 val) {
    std::uint64_t big = val > reference ? val : reference;
    const std::uint64_t small = val > reference ? reference : val;
    int d = 0;
    while ((big >> 1) > small) {
        big >>= 1;
        d -= 3;
    }
    while (((51 * big) >> 6) > small) {
        big = (51 * big) >> 6;
        d -= 1;
    }
    if (small < ((57 * big) >> 6)) d -= 1;
    return val <= reference ? d : -d;
}

namespace {
// atan(small / big) in Q15 radians by z / (1 + 0.28 z^2), the 15-bit quotient of a restoring
// division. Since small <= big the numerator never exceeds the denominator; when they are equal
// (or both 0) every step of the division sets its bit (32767), otherwise the steps give exactly
// the truncated quotient, found here by one division instead of fifteen unpredictable branches.
std::uint32_t atanRatio(std::uint32_t big, std::uint32_t small) {
    const std::uint32_t den = (big * big + ((small * 18350u) >> 16) * small) >> 16;
    const std::uint32_t num = (big * small) >> 16;
    if (num >= den) return 0x7FFF;
    return (num << 15) / den;
}
}  // namespace

void hsfAtan(const SINT16* input, SINT16* freqcalc, int numfreq) {
    for (int k = 0; k < numfreq; ++k) {
        const SINT16 re = input[2 * k];
        const SINT16 im = input[2 * k + 1];
        if (re == 0 && im == 0) {
            freqcalc[k] = 0;
            continue;
        }
        const auto a = static_cast<std::uint32_t>(magnitude(re));
        const auto b = static_cast<std::uint32_t>(magnitude(im));
        const bool aBig = a > b;
        int angle = static_cast<int>(atanRatio(aBig ? a : b, aBig ? b : a) >> 7);
        if (!aBig) angle = 402 - angle;
        if (re >= 0 && im >= 0) {
        } else if (re < 0 && im < 0) {
            angle -= 804;
        } else if (re >= 0) {
            angle = -angle;
        } else {
            angle = 804 - angle;
        }
        freqcalc[k] = static_cast<SINT16>(angle);
    }
}

void hsfMulGain(SINT16* sampbuf, int numsamp, SINT16 gain) {
    for (int i = 0; i < numsamp; ++i) sampbuf[i] = sat16((SINT32{sampbuf[i]} * gain + 2048) >> 12);
}

SINT16 utildB2scale(int level) {
    if (level >= 0) return 32767;
    if (level < -23039) return 0;
    const int q = (1 - (level >> 5)) >> 1;
    return static_cast<SINT16>(utillogfactorTable[q % 24] >> (q / 24));
}

SINT16 utilPower2dB(UINT32 pwr, int offset) {
    // Normalised until bit 30 or 31 is set: k shifts, one less than the leading zeros (v != 0).
    UINT32 v = pwr | 1u;
    const int k = v > 0x3FFFFFFFu ? 0 : std::countl_zero(v) - 1;
    v <<= k;
    return sat16(std::int64_t{offset} - 768 * k + utilPower2dBTable[(v >> 26) & 15]);
}

SINT16 utildiv_s(SINT16 var1, SINT16 var2) {
    // For 0 < var1 < var2 the remainder stays below var2 at every step of the restoring division,
    // so its fifteen steps give exactly the truncated quotient; other operands take the steps.
    if (var1 > 0 && var1 < var2) return div_s_itu(var1, var2);
    return utildivRestoring(var1, var2);
}

SINT16 utildivRestoring(SINT16 var1, SINT16 var2) {
    if (var1 == 0) return 0;
    if (var1 == var2) return 32767;
    SINT32 num = var1;
    SINT16 q = 0;
    for (int i = 0; i < 15; ++i) {
        q = static_cast<SINT16>(q << 1);
        num <<= 1;
        if (num >= var2) {
            num -= var2;
            q = static_cast<SINT16>(q + 1);
        }
    }
    return q;
}

SINT16 utilMaxAbs(const SINT16* x, int n) {
    SINT32 m = 0;
    for (int i = 0; i < n; ++i) {
        const SINT32 a = magnitude(x[i]);
        if (a > m) m = a;
    }
    return static_cast<SINT16>(m > 32767 ? 32767 : m);
}

int utilVectorNorm(SINT16* x, int n) {
    const SINT32 m = utilMaxAbs(x, n);
    if (m == 0) return 0;
    // The doublings that bring the peak (1..32767) to 16384 or more.
    const int z = m >= 16384 ? 0 : std::countl_zero(static_cast<std::uint32_t>(m)) - 17;
    for (int i = 0; i < n; ++i) x[i] = static_cast<SINT16>(SINT32{x[i]} * (1 << z));
    return z;
}

namespace {
// The DC blocker with its shift known at compile time (kShift >= 0) or given (kShift < 0): the
// line's narrow and wide blockers use 5 and 6, and constant shifts keep the loop short.
// (d >> k) - d lies between -d and 0 (or 0 and -d - 1), so it needs no wider type.
template <int kShift>
void highpass(const SINT16* x, SINT16* y, int n, int shift, SINT32* umem) {
    const int a = kShift >= 0 ? kShift : shift;
    SINT32 u = *umem;
    for (int i = 0; i < n; ++i) {
        const SINT32 next = x[i] + u - (u >> a);
        const SINT32 d = u - next;
        const SINT32 v = (d >> (a + 1)) - d;
        y[i] = static_cast<SINT16>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
        u = next;
    }
    *umem = u;
}

bool restsOnSilence(const SINT16* x, int n, int alpha_exp, SINT32 u) {
    return utilHighpassAtRest(alpha_exp, u) && utilIsSilent(x, n);
}
}  // namespace

// A state below 2^a loses nothing to u >> a, so on silence it holds and every output is 0.
bool utilHighpassAtRest(int alpha_exp, SINT32 umem) {
    return alpha_exp >= 0 && alpha_exp <= 30 && umem >= 0 && umem < (SINT32{1} << alpha_exp);
}

// The test must cost far less than the filtering it saves, and an idle line asks it of every
// frame several times: 64 samples (eight 16-byte vectors) a step, and a step that finds a
// sample ends the scan, so speech costs one step. The rest (under 64) is read in one pass of 32,
// 16 and 8 samples, the last 8 once more from the end of the block instead of one by one.
bool utilIsSilent(const SINT16* x, int n) {
    using Lanes = std::uint64_t __attribute__((vector_size(16)));
    constexpr int kLane = static_cast<int>(sizeof(Lanes) / sizeof(SINT16));
    auto lanes = [x](int at) {
        Lanes v;
        std::memcpy(&v, x + at, sizeof(v));
        return v;
    };
    auto four = [&lanes](int at) {
        return (lanes(at) | lanes(at + kLane)) | (lanes(at + 2 * kLane) | lanes(at + 3 * kLane));
    };
    if (n < kLane) {
        std::uint16_t any = 0;
        for (int i = 0; i < n; ++i) any |= static_cast<std::uint16_t>(x[i]);
        return any == 0;
    }
    int i = 0;
    for (; i + 8 * kLane <= n; i += 8 * kLane) {
        const Lanes any = four(i) | four(i + 4 * kLane);
        if ((any[0] | any[1]) != 0) return false;
    }
    Lanes any = lanes(n - kLane);
    if (i + 4 * kLane <= n) {
        any |= four(i);
        i += 4 * kLane;
    }
    if (i + 2 * kLane <= n) {
        any |= lanes(i) | lanes(i + kLane);
        i += 2 * kLane;
    }
    if (i + kLane <= n) any |= lanes(i);
    return (any[0] | any[1]) == 0;
}

void utilHighpass(const SINT16* x, SINT16* y, int n, int alpha_exp, SINT32* umem) {
    if (restsOnSilence(x, n, alpha_exp, *umem)) {
        if (y != x && n > 0) std::memset(y, 0, sizeof(SINT16) * static_cast<size_t>(n));
        return;
    }
    switch (alpha_exp) {
        case 5: return highpass<5>(x, y, n, 5, umem);
        case 6: return highpass<6>(x, y, n, 6, umem);
        default: return highpass<-1>(x, y, n, alpha_exp, umem);
    }
}

void utilRand(SINT16* x, SINT16* seed, SINT16 g, int n) {
    for (int i = 0; i < n; ++i) {
        *seed = static_cast<SINT16>(static_cast<std::uint16_t>(*seed * 31821 + 13849));
        x[i] = static_cast<SINT16>((SINT32{*seed} * g) >> 17);
    }
}

int utilsearchpeak(const SINT16* x, int n) {
    int best = 0;
    SINT32 m = -1;
    for (int i = 0; i < n; ++i) {
        if (magnitude(x[i]) > m) {
            m = magnitude(x[i]);
            best = i;
        }
    }
    return best;
}
int utilsearchpeakprog(const SINT16* x, int n) { return utilsearchpeak(x, n); }

void utilmemcpy(SINT16* dest, const SINT16* src, int n) {
    for (int i = 0; i < n; ++i) dest[i] = src[i];
}
void utilmemcpyprog(SINT16* dest, const SINT16* src, int n, int /*mode*/) { utilmemcpy(dest, src, n); }
void utilmemset(SINT16* dest, SINT16 value, int n) {
    for (int i = 0; i < n; ++i) dest[i] = value;
}
void utilmemsetprog(SINT16* dest, SINT16 value, int n) { utilmemset(dest, value, n); }

void fir(const SINT16* x, SINT16* y, const SINT16* h, int n, int k) {
    for (int i = 0; i < k; ++i) {
        std::int64_t acc = 0;
        for (int j = 0; j + 1 < n; j += 2) {
            // Two products summed in 32 bits (wrapping as the hardware's lane does), then widened.
            const std::uint32_t pair = static_cast<std::uint32_t>(SINT32{h[j]} * x[i - j]) +
                                       static_cast<std::uint32_t>(SINT32{h[j + 1]} * x[i - j - 1]);
            acc += static_cast<SINT32>(pair);
        }
        y[i] = sat16((2 * acc) >> 16);
    }
}

#include "isac_masking.h"

#include <cstring>

#include "isac_arith.h"
#include "isac_lattice.h"
#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int kSubFrames = 6;
constexpr int kSub = 40;
constexpr int kWin = 256;
constexpr int kOrderLo = 12;
constexpr int kOrderHi = 6;

inline int32_t mulQ16(int32_t a, int32_t b) { return wrap32((static_cast<int64_t>(a) * b) >> 16); }
inline int16_t i16(int32_t v) { return lo16(v); }

// 2^(-x) style mantissa/exponent step of the variability scale: m and s are
// taken from a negative Q10 exponent.
int32_t exp_from_negative(int16_t t) {
    const int32_t m = 0x400 | (t & 0x3FF);
    const int32_t s = static_cast<int32_t>((static_cast<uint16_t>(t) ^ 0xFFFFu) >> 10) - 3;
    return s < 0 ? (m << -s) : (m >> s);
}

uint32_t energy(const int16_t* x, int from, int to) {
    uint32_t e = 0;
    for (int n = from; n <= to; ++n) e += static_cast<uint32_t>(x[n] * x[n]);
    return e;
}

int16_t level_change(const uint32_t* nrg, uint32_t old_energy) {
    int16_t lg[4];
    for (int i = 0; i < 4; ++i) lg[i] = i16(log2_Q8_LPC(nrg[i]));
    const int16_t old_lg = i16(log2_Q8_LPC(old_energy));
    auto a = [](int32_t v) { return v < 0 ? -v : v; };
    const int32_t chng = a(lg[3] - lg[2]) + a(lg[2] - lg[1]) + a(lg[1] - lg[0]) + a(lg[0] - old_lg);
    return i16(i16((i16(chng) * 3523) >> 10) + 2926);
}

int16_t finish_varscale(int16_t divVal) {
    const int16_t t = i16((11819 * divVal + 4096) >> 13);
    const int32_t expPg = t < 0 ? exp_from_negative(t) : 16384;
    return i16(expPg - 1);
}

}  // namespace

int32_t log2_Q8_LPC(uint32_t x) {
    const int z = x == 0 ? 0 : __builtin_clz(x);
    return ((31 - z) << 8) + static_cast<int32_t>(((x << z) >> 23) & 0xFF);
}

int16_t exp2_Q10_T(int16_t x) {
    const int32_t e = x >> 10;
    const int32_t f = x & 1023;
    return i16(e >= 0 ? shl32(1024 + f, e > 31 ? 31 : e) : (1024 + f) >> (-e > 31 ? 31 : -e));
}

void WebRtcIsacfix_GetVars(const int16_t* input, const int16_t* pitchGains_Q12, uint32_t* oldEnergy,
                           int16_t* varscale) {
    const uint32_t nrg[4] = {energy(input, 12, 71), energy(input, 72, 131), energy(input, 132, 191),
                             energy(input, 192, 251)};
    const int16_t chngQ = level_change(nrg, *oldEnergy);
    const int16_t pgQ = i16(pitchGains_Q12[0] + pitchGains_Q12[1] + pitchGains_Q12[2] + pitchGains_Q12[3]);
    int16_t pg3 = i16((pgQ * pgQ) >> 11);
    pg3 = i16((pgQ * pg3) >> 13);
    pg3 = i16((pg3 * -25) >> 5);
    const int16_t t = i16((11819 * pg3 + 4096) >> 13);
    const int32_t expPg = t < 0 ? -exp_from_negative(t) : -16384;
    const int16_t divVal = WebRtcSpl_DivW32W16ResW16(shl32(expPg, 8), chngQ);
    *varscale = finish_varscale(divVal);
    *oldEnergy = nrg[3];
}

void WebRtcIsacfix_GetVars_UB(const int16_t* input, uint32_t* oldEnergy, int16_t* varscale) {
    const uint32_t nrg[4] = {energy(input, 0, 59), energy(input, 60, 119), energy(input, 120, 179),
                             energy(input, 180, 239)};
    const int16_t chngQ = level_change(nrg, *oldEnergy);
    const int16_t divVal = WebRtcSpl_DivW32W16ResW16(-4194304, chngQ);
    *varscale = finish_varscale(divVal);
    *oldEnergy = nrg[3];
}

void WebRtcIsacfix_GetLpcCoef_Window(int16_t* bufLo, int16_t* bufHi, const int16_t* newLo, const int16_t* newHi,
                                     int16_t* outLo, int16_t* outHi) {
    std::memmove(bufLo, bufLo + kSub, sizeof(int16_t) * (kWin - kSub));
    std::memmove(bufHi, bufHi + kSub, sizeof(int16_t) * (kWin - kSub));
    std::memcpy(bufLo + kWin - kSub, newLo + 24, sizeof(int16_t) * kSub);
    std::memcpy(bufHi + kWin - kSub, newHi, sizeof(int16_t) * kSub);
    for (int n = 0; n < kWin; ++n) {
        outLo[n] = sat16((bufLo[n] * kWindowAutocorr[n]) >> 15);
        outHi[n] = sat16((bufHi[n] * kWindowAutocorr[n]) >> 15);
    }
}

int WebRtcIsacfix_AutocorrC(int32_t* r, const int16_t* x, int16_t N, int16_t order, int16_t* scale) {
    int64_t r0 = 0;
    for (int i = 0; i < N; ++i) r0 += x[i] * x[i];
    int scaling = 0;
    const int64_t top = r0 >> 31;
    if (top != 0) scaling = 32 - clz32(static_cast<uint32_t>(top));
    r[0] = static_cast<int32_t>(r0 >> scaling);
    for (int i = 1; i <= order; ++i) {
        int64_t s = 0;
        for (int j = 0; j < N; j += 2) s += add32(x[j] * x[j + i], x[j + 1] * x[j + 1 + i]);
        r[i] = static_cast<int32_t>(s >> scaling);
    }
    *scale = static_cast<int16_t>(scaling);
    return order + 1;
}

int32_t WebRtcIsacfix_CalculateResidualEnergyC(int order, int32_t corrQ, int polyQ, const int16_t* a,
                                               const int32_t* corr, int* resQ) {
    int64_t sum = 0;
    int shift_internal = 0;
    for (int i = 0; i <= order; ++i) {
        for (int j = i; j <= order; ++j) {
            int32_t p = a[j] * a[j - i];
            if (i > 0) p = shl32(p, 1);
            const int64_t term = (static_cast<int64_t>(p) * corr[i]) >> shift_internal;
            int64_t next;
            if (__builtin_add_overflow(sum, term, &next)) {
                sum = (sum >> 1) + (term >> 1);
                ++shift_internal;
            } else {
                sum = next;
            }
        }
    }
    int n = 0;
    if (sum != 0) {
        const uint64_t u = static_cast<uint64_t>(sum < 0 ? ~sum : sum);
        n = (u == 0 ? 64 : __builtin_clzll(u)) - 1;
    }
    const int32_t res = static_cast<int32_t>(static_cast<int64_t>(static_cast<uint64_t>(sum) << n) >> 32);
    *resQ = corrQ + 2 * polyQ - shift_internal - 32 + n;
    return res;
}

namespace {

// Gain of one band from its residual energy (step shared by both bands).
int32_t band_gain(int32_t res, int sh, int16_t varscaleQ14, int16_t snrq) {
    if (sh & 1) {
        res >>= 1;
        sh -= 1;
    }
    if (res <= 0) return 100;
    const int32_t sqrt_nrg = WebRtcSpl_Sqrt(res);
    const int ssh = sh >> 1;
    const int32_t denominator = add32(sqrt_nrg, shiftW32(varscaleQ14 >> 1, ssh - 14));
    const int32_t numerator = varscaleQ14 * snrq;
    const int shft = 16 - norm32(denominator);
    const int16_t d16 = lo16(shiftW32(denominator, -shft));
    return shiftW32(WebRtcSpl_DivW32W16(numerator, d16), ssh - shft - 7);
}

// Brings a value held in one Q domain to another one.
inline int32_t to_domain(int32_t v, int from, int to) { return shiftW32(v, to - from); }

// Recursive smoothing of one band's correlations with its memory.  The
// first two cases bring the memory into the frame's domain; when it is too
// large for that, the memory stays where it fits and the frame's value is
// brought down to it, and that lower domain becomes the band's domain.
// `fresh` is what is added to the scaled memory; `frame` what is blended in.
int smooth(int32_t* corr, const int32_t* fresh, int32_t* mem, int16_t* memQdom, int count, int qdom) {
    int newQdom = qdom;
    bool moved = false;
    for (int n = 0; n < count; ++n) {
        int32_t tmp, tmpCorr = fresh[n];
        int dom = qdom;
        if (mem[n] == 0) {
            tmp = 0;
        } else {
            const int shMem = norm32(mem[n]);
            const int sh = qdom - memQdom[n];
            if (sh <= shMem) {
                tmp = mulQ15r(328, shiftW32(mem[n], sh));
            } else if (sh - shMem < 7) {
                tmp = mulQ15r(i16(328 << (sh - shMem)), shl32(mem[n], shMem));
            } else {
                const int d = sh - shMem - 6;
                tmp = mulQ15r(20992, shl32(mem[n], shMem));
                tmpCorr = shr32(fresh[n], d);
                dom = qdom - d;
                newQdom = dom;
                moved = true;
            }
        }
        tmp = add32(tmp, tmpCorr);
        mem[n] = tmp;
        memQdom[n] = static_cast<int16_t>(dom);
        corr[n] = add32(mulQ15r(324, tmp), mulQ15r(32440, tmpCorr));
    }
    if (moved) {
        for (int n = 0; n < count; ++n)
            if (memQdom[n] != newQdom) corr[n] = to_domain(corr[n], memQdom[n], newQdom);
        return newQdom;
    }
    return qdom;
}

}  // namespace

void WebRtcIsacfix_GetLpcCoef(const int16_t* inLoQ0, const int16_t* inHiQ0, MaskFiltstr_enc* md,
                              int16_t snrQ10, const int16_t* pitchGains_Q12, int32_t* gain_lo_hiQ17,
                              int16_t* lo_coeffQ15, int16_t* hi_coeffQ15) {
    const int16_t snrq = i16((exp2_Q10_T(i16((snrQ10 * 172) >> 10)) * 285) >> 10);
    int16_t varscaleQ14;
    WebRtcIsacfix_GetVars(inLoQ0, pitchGains_Q12, &md->OldEnergy, &varscaleQ14);
    const int16_t aaQ14 = i16((22938 * (8192 + (varscaleQ14 >> 1)) + 32768) >> 16);
    const int32_t tmpQQlo = 4096 + ((aaQ14 * aaQ14) >> 16);
    const int32_t t1 = 8192 + (aaQ14 >> 1);
    const int32_t tmpQQhi = i16((t1 * t1) >> 14);
    std::memcpy(md->DataBufferLoQ0 + 232, inLoQ0, sizeof(int16_t) * 24);

    for (int k = 0; k < kSubFrames; ++k) {
        int16_t DataLoQ6[kWin + kOrderLo + 1] = {};
        int16_t DataHiQ6[kWin + kOrderHi + 1] = {};
        WebRtcIsacfix_GetLpcCoef_Window(md->DataBufferLoQ0, md->DataBufferHiQ0, inLoQ0 + kSub * k,
                                        inHiQ0 + kSub * k, DataLoQ6, DataHiQ6);
        int32_t corrloQQ[kOrderLo + 2], corrhiQQ[kOrderHi + 1];
        int16_t scale;
        WebRtcIsacfix_AutocorrC(corrloQQ, DataLoQ6, kWin, kOrderLo + 1, &scale);
        const int sh_lo0 = norm32(corrloQQ[0]);
        int QdomLO = 12 - scale + sh_lo0;
        for (int n = 0; n <= kOrderLo + 1; ++n) corrloQQ[n] = shl32(corrloQQ[n], sh_lo0);
        WebRtcIsacfix_AutocorrC(corrhiQQ, DataHiQ6, kWin, kOrderHi, &scale);
        const int sh_hi0 = norm32(corrhiQQ[0]);
        int QdomHI = 12 - scale + sh_hi0;
        for (int n = 0; n <= kOrderHi; ++n) corrhiQQ[n] = shl32(corrhiQQ[n], sh_hi0);

        // Low-frequency de-emphasis of the lower band.
        int32_t corrlo2QQ[kOrderLo + 1];
        corrlo2QQ[0] = sub32(mulQ16(tmpQQlo, corrloQQ[0]) >> 1, mulQ16(aaQ14, corrloQQ[1]) >> 2);
        for (int n = 1; n <= kOrderLo; ++n) {
            const int32_t side = add32(corrloQQ[n - 1] >> 1, corrloQQ[n + 1] >> 1);
            corrlo2QQ[n] = sub32(mulQ16(tmpQQlo, corrloQQ[n]) >> 1, mulQ16(aaQ14, side) >> 2);
        }
        QdomLO -= 5;
        for (int n = 0; n <= kOrderHi; ++n) corrhiQQ[n] = mulQ16(tmpQQhi, corrhiQQ[n]);
        QdomHI -= 4;

        corrlo2QQ[0] = add32(corrlo2QQ[0], shiftW32(1, QdomLO - 20));
        corrhiQQ[0] = add32(corrhiQQ[0], shiftW32(1, QdomHI - 20));
        for (auto& v : corrlo2QQ) v >>= 1;
        for (auto& v : corrhiQQ) v >>= 1;
        QdomLO -= 1;
        QdomHI -= 1;

        int32_t fresh[kOrderLo + 1];
        std::memcpy(fresh, corrhiQQ, sizeof(int32_t) * (kOrderHi + 1));
        QdomHI = smooth(corrhiQQ, fresh, md->CorrBufHiQQ, md->CorrBufHiQdom, kOrderHi + 1, QdomHI);
        std::memcpy(fresh, corrlo2QQ, sizeof fresh);
        QdomLO = smooth(corrlo2QQ, fresh, md->CorrBufLoQQ, md->CorrBufLoQdom, kOrderLo + 1, QdomLO);

        int16_t a_LOQ11[kOrderLo + 1], k_veclo[kOrderLo];
        if (WebRtcSpl_LevinsonW32_JSK(corrlo2QQ, a_LOQ11, k_veclo, kOrderLo) < 0) {
            a_LOQ11[0] = 2048;
            for (int n = 1; n <= kOrderLo; ++n) a_LOQ11[n] = 0;
            WebRtcSpl_LevinsonW32_JSK(corrlo2QQ, a_LOQ11, k_veclo, 8);
        }
        // An unstable upper-band recursion leaves its polynomial unwritten;
        // start each sub-frame from a flat one so nothing stale is read.
        int16_t a_HIQ12[kOrderHi + 1] = {4096, 0, 0, 0, 0, 0, 0};
        int16_t k_vechi[kOrderHi];
        WebRtcSpl_LevinsonDurbin(corrhiQQ, a_HIQ12, k_vechi, kOrderHi);

        for (int n = 1; n <= kOrderLo; ++n) a_LOQ11[n] = i16((kPolyVecLo[n - 1] * a_LOQ11[n] + 16384) >> 15);
        int16_t polyHI[kOrderHi + 1];
        polyHI[0] = a_HIQ12[0];
        for (int n = 1; n <= kOrderHi; ++n)
            a_HIQ12[n] = polyHI[n] = i16((kPolyVecHi[n - 1] * a_HIQ12[n] + 16384) >> 15);

        const int sh = norm32(corrlo2QQ[0]);
        for (auto& v : corrlo2QQ) v = shl32(v, sh);
        int sh_lo = 31;
        const int32_t res_lo =
            WebRtcIsacfix_CalculateResidualEnergyC(kOrderLo, QdomLO + sh, 11, a_LOQ11, corrlo2QQ, &sh_lo);
        WebRtcSpl_AToK_JSK(a_LOQ11, kOrderLo, lo_coeffQ15 + kOrderLo * k);
        gain_lo_hiQ17[2 * k] = band_gain(res_lo, sh_lo, varscaleQ14, snrq);

        int sh_hi = 31;
        const int32_t res_hi =
            WebRtcIsacfix_CalculateResidualEnergyC(kOrderHi, QdomHI, 12, a_HIQ12, corrhiQQ, &sh_hi);
        WebRtcSpl_LpcToReflCoef(polyHI, kOrderHi, hi_coeffQ15 + kOrderHi * k);
        gain_lo_hiQ17[2 * k + 1] = band_gain(res_hi, sh_hi, varscaleQ14, snrq);
    }
}

void WebRtcIsacfix_GetLpcCoef_UB(const int16_t* inQ0, MaskFiltstr_enc_UB* md, int16_t* lo_coeffQ15,
                                 int32_t* corr, int16_t* corr_Q, int16_t* varscaleQ14, int16_t bandwidth) {
    constexpr int kOrder = 4;
    const int numSubFrames = bandwidth == 16 ? 12 : 6;
    WebRtcIsacfix_GetVars_UB(inQ0, &md->OldEnergy, &varscaleQ14[0]);
    int sets = 0;
    for (int k = 0; k < numSubFrames; ++k) {
        if (k == 6 && bandwidth == 16) WebRtcIsacfix_GetVars_UB(inQ0 + 240, &md->OldEnergy, &varscaleQ14[1]);
        std::memmove(md->DataBufferLoQ0, md->DataBufferLoQ0 + kSub, sizeof(int16_t) * (kWin - kSub));
        std::memcpy(md->DataBufferLoQ0 + kWin - kSub, inQ0 + kSub * k, sizeof(int16_t) * kSub);
        int32_t DataLoQ21[kWin];
        for (int n = 0; n < kWin; ++n) DataLoQ21[n] = md->DataBufferLoQ0[n] * kWindowAutocorr[n];
        const int32_t mx = WebRtcSpl_MaxAbsValueW32C(DataLoQ21, kWin);
        int shift = 16 - norm32(mx);
        if (shift < 0) shift = 0;
        int16_t DataLoQ6[kWin + 5 + 1] = {};
        WebRtcSpl_VectorBitShiftW32ToW16(DataLoQ6, kWin, DataLoQ21, shift);
        int32_t corrloQQ[6];
        int16_t scale;
        WebRtcIsacfix_AutocorrC(corrloQQ, DataLoQ6, kWin, 5, &scale);
        for (int n = 0; n < 5; ++n) corr[5 * k + n] = corrloQQ[n];
        corr_Q[k] = static_cast<int16_t>((21 - shift) * 2 - scale);
        const int sh = norm32(corrloQQ[0]);
        for (auto& v : corrloQQ) v = shl32(v, sh);
        const bool make_set = bandwidth == 16 ? (k == 3 || k == 7 || k == 11) : (k == 0 || k == 5);
        if (!make_set) continue;
        corrloQQ[0] = add32(corrloQQ[0], shiftW32(1, (12 - scale + sh) - 20));
        int16_t a[kOrder + 1], kv[kOrder];
        if (WebRtcSpl_LevinsonW32_JSK(corrloQQ, a, kv, kOrder) < 0) {
            a[0] = 2048;
            for (int n = 1; n <= kOrder; ++n) a[n] = 0;
        }
        for (int n = 1; n <= kOrder; ++n) a[n] = i16((kPolyVecLo[n - 1] * a[n] + 16384) >> 15);
        WebRtcSpl_AToK_JSK(a, kOrder, lo_coeffQ15 + kOrder * sets);
        ++sets;
    }
}

}  // namespace isac

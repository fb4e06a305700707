#include "isac_field_coder.h"

#include <cstring>

#include "isac_arith.h"
#include "isac_lattice.h"
#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr uint16_t kRcInitIndex = 5;
constexpr uint16_t kGainInitIndex = 11;
constexpr uint16_t kPitchGainTableSize = 256;
constexpr uint16_t kOneBitInitIndex = 1;
constexpr uint16_t kFrameLenInitIndex = 1;
constexpr uint16_t kBwInitIndex = 7;

const uint16_t* const kRcCdfPtr[6] = {WebRtcIsacfix_kRc1Cdf, WebRtcIsacfix_kRc2Cdf, WebRtcIsacfix_kRc3Cdf,
                                      WebRtcIsacfix_kRc4Cdf, WebRtcIsacfix_kRc5Cdf, WebRtcIsacfix_kRc6Cdf};
const int16_t* const kRcLevPtr[6] = {WebRtcIsacfix_kRc1Levels, WebRtcIsacfix_kRc2Levels, WebRtcIsacfix_kRc3Levels,
                                     WebRtcIsacfix_kRc4Levels, WebRtcIsacfix_kRc5Levels, WebRtcIsacfix_kRc6Levels};

// The three pitch-lag sets, chosen by the mean quantised pitch gain.
struct LagSet {
    const uint16_t* cdf[4];
    uint16_t size;
    uint16_t init[3];
    int16_t lower[4];
    int16_t upper[4];
    const int16_t* mean2;
    const int16_t* mean4;
    int shift;
};

const LagSet kLagSets[3] = {
    {{WebRtcIsacfix_kPitchLagCdf1Lo, WebRtcIsacfix_kPitchLagCdf2Lo, WebRtcIsacfix_kPitchLagCdf3Lo,
      WebRtcIsacfix_kPitchLagCdf4Lo},
     128, {10, 1, 5}, {-140, -9, 0, -4}, {-20, 9, 0, 4}, WebRtcIsacfix_kMeanLag2Lo, WebRtcIsacfix_kMeanLag4Lo, -1},
    {{WebRtcIsacfix_kPitchLagCdf1Mid, WebRtcIsacfix_kPitchLagCdf2Mid, WebRtcIsacfix_kPitchLagCdf3Mid,
      WebRtcIsacfix_kPitchLagCdf4Mid},
     256, {18, 1, 10}, {-280, -17, 0, -9}, {-40, 17, 0, 9}, WebRtcIsacfix_kMeanLag2Mid, WebRtcIsacfix_kMeanLag4Mid, 0},
    {{WebRtcIsacfix_kPitchLagCdf1Hi, WebRtcIsacfix_kPitchLagCdf2Hi, WebRtcIsacfix_kPitchLagCdf3Hi,
      WebRtcIsacfix_kPitchLagCdf4Hi},
     512, {34, 1, 18}, {-552, -34, 0, -16}, {-80, 32, 0, 17}, WebRtcIsacfix_kMeanLag2Hi, WebRtcIsacfix_kMeanLag4Hi, 1},
};

const LagSet& lag_set(const int16_t* gains) {
    const int32_t mean = (gains[0] + gains[1] + gains[2] + gains[3]) >> 2;
    return mean < 820 ? kLagSets[0] : (mean < 1639 ? kLagSets[1] : kLagSets[2]);
}

inline int16_t T(int r, int c) { return WebRtcIsacfix_kTransform[4 * r + c]; }

inline uint32_t next_seed(uint32_t seed) { return seed * 196314165u + 907633515u; }
inline int32_t dither_sample(uint32_t seed) { return static_cast<int32_t>(seed + 16777216u); }

// Lattice point of x nearest to the dither-shifted multiples of 128.
inline int16_t quantise(int16_t x, int16_t d) { return lo16(((x + d + 64) & ~127) - d); }

// Normalised spectral correlation of the power spectrum.
void CalcCorrelation(const int32_t* PSpec, int32_t* CorrQ7) {
    int32_t summ[60], diff[60];
    for (int n = 0; n < 60; ++n) {
        summ[n] = add32(add32(PSpec[n], PSpec[119 - n]), 16) >> 5;
        diff[n] = add32(sub32(PSpec[n], PSpec[119 - n]), 16) >> 5;
    }
    int32_t c0 = 2;
    for (int n = 0; n < 60; ++n) c0 = add32(c0, summ[n]);
    CorrQ7[0] = c0;
    for (int j = 0; j < 3; ++j) {
        int32_t a = 0, b = 0;
        for (int n = 0; n < 60; ++n) {
            a = add32(a, add32(mul32(diff[n], WebRtcIsacfix_kCos[60 * (2 * j) + n]), 256) >> 9);
            b = add32(b, add32(mul32(summ[n], WebRtcIsacfix_kCos[60 * (2 * j + 1) + n]), 256) >> 9);
        }
        CorrQ7[2 * j + 1] = a;
        CorrQ7[2 * j + 2] = b;
    }
}

// The lower band's gain per group of four values from the squared envelope.
int16_t gain_from_envelope(int32_t v, int16_t AvgPitchGain_Q12) {
    if (AvgPitchGain_Q12 > 614) {
        int32_t t = add32(v, 0x288000) >> 16;
        if (t < 0) t = 0;  // a corrupt envelope must not index before the table
        return t < 2048 ? WebRtcIsacfix_recipTab[t] : WebRtcSpl_DivW32W16ResW16(36864, lo16(t));
    }
    int32_t t = add32(v, 0x218000) >> 16;
    if (t < 0) t = 0;
    return t < 2048 ? lo16((WebRtcIsacfix_recipTab[t] * 27307) >> 15) : WebRtcSpl_DivW32W16ResW16(30720, lo16(t));
}

}  // namespace

void GenerateDitherQ7(int16_t* bufQ7, uint32_t seed, int length, int16_t AvgPitchGain_Q12) {
    if (AvgPitchGain_Q12 >= 614) {
        const int32_t scale = lo16(22528 - 10 * AvgPitchGain_Q12);
        for (int k = 0; k < length - 1; k += 2) {
            seed = next_seed(seed);
            const int32_t d = dither_sample(seed) >> 25;
            const int s = (seed >> 25) & 1;
            bufQ7[k + s] = lo16((scale * d + 8192) >> 14);
            bufQ7[k + 1 - s] = 0;
        }
        return;
    }
    for (int k = 0; k < length - 2; k += 3) {
        seed = next_seed(seed);
        const int16_t d1 = static_cast<int16_t>(dither_sample(seed) >> 25);
        seed = next_seed(seed);
        const int16_t d2 = static_cast<int16_t>((seed + 16777216u) >> 25);
        const uint32_t s = (seed >> 25) & 15;
        if (s < 5) {
            bufQ7[k] = d1;
            bufQ7[k + 1] = d2;
            bufQ7[k + 2] = 0;
        } else if (s < 10) {
            bufQ7[k] = d1;
            bufQ7[k + 1] = 0;
            bufQ7[k + 2] = d2;
        } else {
            bufQ7[k] = 0;
            bufQ7[k + 1] = d1;
            bufQ7[k + 2] = d2;
        }
    }
}

void GenerateDitherQ7_UB(int16_t* bufQ7, uint32_t seed, int length) {
    for (int k = 0; k < length; ++k) {
        seed = next_seed(seed);
        bufQ7[k] = static_cast<int16_t>(dither_sample(seed) >> 27);
    }
}

void CalcInvArSpec(const int16_t* a, int32_t gainQ10, int32_t* CurveQ16) {
    int32_t s = 0;
    for (int k = 0; k <= 6; ++k) s = add32(s, a[k] * a[k]);
    int32_t CorrQ11[7];
    CorrQ11[0] = wrap32((int64_t{gainQ10} * ((((s >> 6) * int64_t{65}) + 32768) >> 16) + 256) >> 9);
    int32_t g = gainQ10, bias = 256, shift = 9;
    if (gainQ10 > 400000) {
        g = gainQ10 >> 3;
        bias = 32;
        shift = 6;
    }
    for (int k = 1; k <= 6; ++k) {
        int32_t sum = 16384;
        for (int n = k; n <= 6; ++n) sum = add32(sum, a[n - k] * a[n]);
        const int32_t t = sum >> 15;
        CorrQ11[k] = wrap32((int64_t{t} * g + bias) >> shift);
    }
    int32_t curve[60];
    for (int n = 0; n < 60; ++n) curve[n] = shl32(CorrQ11[0], 7);
    for (int k = 1; k <= 5; k += 2)
        for (int n = 0; n < 60; ++n)
            curve[n] = add32(curve[n], add32(mul32(WebRtcIsacfix_kCos[60 * k + n], CorrQ11[k + 1]), 2) >> 2);
    const int sh = norm32(CorrQ11[1] != 0 ? CorrQ11[1] : CorrQ11[2]);
    const int shv = sh < 9 ? 9 - sh : 0;
    for (int n = 0; n < 60; ++n) {
        int32_t d = add32(mul32(WebRtcIsacfix_kCos[n], CorrQ11[1] >> shv), 2) >> 2;
        for (int k = 2; k <= 4; k += 2)
            d = add32(d, add32(mul32(WebRtcIsacfix_kCos[60 * k + n], CorrQ11[k + 1] >> shv), 2) >> 2);
        CurveQ16[n] = add32(curve[n], shl32(d, shv));
        CurveQ16[119 - n] = sub32(curve[n], shl32(d, shv));
    }
}

void CalcRootInvArSpec(const int16_t* ARCoefQ12, int32_t gainQ10, uint16_t* CurveQ8) {
    int32_t curve[120];
    CalcInvArSpec(ARCoefQ12, gainQ10, curve);
    WebRtcIsacfix_VecSqrt(curve, CurveQ8);
}

int WebRtcIsacfix_EncodeRcCoef(int16_t* RCQ15, Bitstr_enc* streamdata) {
    int16_t index[6];
    for (int k = 0; k < 6; ++k) {
        int i = kRcInitIndex;
        if (WebRtcIsacfix_kRcBound[i] >= RCQ15[k]) {
            while (i > 0 && WebRtcIsacfix_kRcBound[i] > RCQ15[k]) --i;
        } else {
            while (i < 10 && WebRtcIsacfix_kRcBound[i + 1] < RCQ15[k]) ++i;
        }
        index[k] = static_cast<int16_t>(i);
        RCQ15[k] = kRcLevPtr[k][i];
    }
    return WebRtcIsacfix_EncHistMulti(streamdata, index, kRcCdfPtr, 6);
}

int WebRtcIsacfix_DecodeRcCoef(Bitstr_dec* streamdata, int16_t* RCQ15) {
    int16_t index[6];
    const uint16_t init[6] = {kRcInitIndex, kRcInitIndex, kRcInitIndex, kRcInitIndex, kRcInitIndex, kRcInitIndex};
    const int r = WebRtcIsacfix_DecHistOneStepMulti(index, streamdata, kRcCdfPtr, init, 6);
    if (r < 0) return r;
    for (int k = 0; k < 6; ++k) RCQ15[k] = kRcLevPtr[k][index[k]];
    return 0;
}

int WebRtcIsacfix_EncodeGain2(int32_t* gainQ10, Bitstr_enc* streamdata) {
    int i = kGainInitIndex;
    if (*gainQ10 <= WebRtcIsacfix_kGain2Bound[i]) {
        while (i > 0 && WebRtcIsacfix_kGain2Bound[i] > *gainQ10) --i;
    } else {
        while (i < 17 && *gainQ10 > WebRtcIsacfix_kGain2Bound[i + 1]) ++i;
    }
    *gainQ10 = WebRtcIsacfix_kGain2Lev[i];
    const int16_t index = static_cast<int16_t>(i);
    const uint16_t* cdf[1] = {WebRtcIsacfix_kGainCdf};
    return WebRtcIsacfix_EncHistMulti(streamdata, &index, cdf, 1);
}

int WebRtcIsacfix_DecodeGain2(Bitstr_dec* streamdata, int32_t* gainQ10) {
    int16_t index;
    const uint16_t* cdf[1] = {WebRtcIsacfix_kGainCdf};
    const uint16_t init[1] = {kGainInitIndex};
    const int r = WebRtcIsacfix_DecHistOneStepMulti(&index, streamdata, cdf, init, 1);
    if (r < 0) return r;
    *gainQ10 = WebRtcIsacfix_kGain2Lev[index];
    return 0;
}

int WebRtcIsacfix_EncodeSpec(const int16_t* fr, const int16_t* fi, Bitstr_enc* streamdata, int16_t AvgPitchGain_Q12,
                             int16_t band) {
    int16_t dither[480];
    int16_t data[480];
    int32_t PSpec[120];
    const uint32_t seed = streamdata->W_upper;
    int N = 480;
    auto sq = [](int16_t v) { return static_cast<int32_t>(v) * v; };
    if (band == kIsacLowerBand) {
        GenerateDitherQ7(dither, seed, 480, AvgPitchGain_Q12);
        for (int i = 0; i < 60; ++i) {
            for (int j = 0; j < 4; ++j) {
                data[8 * i + 2 * j] = quantise(fr[4 * i + j], dither[8 * i + 2 * j]);
                data[8 * i + 2 * j + 1] = quantise(fi[4 * i + j], dither[8 * i + 2 * j + 1]);
            }
            PSpec[2 * i] = add32(add32(sq(data[8 * i]), sq(data[8 * i + 1])), add32(sq(data[8 * i + 2]), sq(data[8 * i + 3]))) >> 2;
            PSpec[2 * i + 1] =
                add32(add32(sq(data[8 * i + 4]), sq(data[8 * i + 5])), add32(sq(data[8 * i + 6]), sq(data[8 * i + 7]))) >> 2;
        }
    } else if (band == kIsacUpperBand16) {
        GenerateDitherQ7_UB(dither, seed, 480);
        for (int i = 0; i < 120; ++i) {
            data[4 * i] = quantise(fr[i], dither[4 * i]);
            data[4 * i + 1] = quantise(fi[i], dither[4 * i + 1]);
            data[4 * i + 2] = quantise(fr[239 - i], dither[4 * i + 2]);
            data[4 * i + 3] = quantise(fi[239 - i], dither[4 * i + 3]);
            PSpec[i] = add32(add32(sq(data[4 * i]), sq(data[4 * i + 1])), add32(sq(data[4 * i + 2]), sq(data[4 * i + 3]))) >> 2;
        }
    } else {
        N = 240;
        GenerateDitherQ7_UB(dither, seed, 240);
        for (int i = 0; i < 60; ++i) {
            data[4 * i] = quantise(fr[2 * i], dither[4 * i]);
            data[4 * i + 1] = quantise(fi[2 * i], dither[4 * i + 1]);
            data[4 * i + 2] = quantise(fr[2 * i + 1], dither[4 * i + 2]);
            data[4 * i + 3] = quantise(fi[2 * i + 1], dither[4 * i + 3]);
            PSpec[2 * i] = add32(sq(data[4 * i]), sq(data[4 * i + 1])) >> 1;
            PSpec[2 * i + 1] = add32(sq(data[4 * i + 2]), sq(data[4 * i + 3])) >> 1;
        }
    }
    int32_t CorrQ7[7];
    CalcCorrelation(PSpec, CorrQ7);
    const int sh = (CorrQ7[0] == 0 ? 0 : norm32(CorrQ7[0])) - 18;
    int32_t Cn[7];
    for (int k = 0; k < 7; ++k) Cn[k] = sh > 0 ? shl32(CorrQ7[k], sh) : shr32(CorrQ7[k], -sh);
    int16_t RCQ15[6];
    WebRtcSpl_AutoCorrToReflCoef(Cn, 6, RCQ15);
    int r = WebRtcIsacfix_EncodeRcCoef(RCQ15, streamdata);
    if (r < 0) return r;
    int16_t a[7];
    WebRtcSpl_ReflCoefToLpc(RCQ15, 6, a);
    int32_t nrg = 0;
    for (int j = 0; j <= 6; ++j) {
        for (int n = 0; n <= j; ++n)
            nrg = add32(nrg, add32(mul32(a[j], add32(mul32(Cn[j - n], a[n]), 256) >> 9), 4) >> 3);
        for (int n = j + 1; n <= 6; ++n)
            nrg = add32(nrg, add32(mul32(a[j], add32(mul32(Cn[n - j], a[n]), 256) >> 9), 4) >> 3);
    }
    nrg = sh > 0 ? shr32(nrg, sh) : shl32(nrg, -sh);
    int32_t gain2_Q10 = nrg <= 131072 ? 120 : WebRtcSpl_DivResultInQ31(120, nrg);
    if (WebRtcIsacfix_EncodeGain2(&gain2_Q10, streamdata) != 0) return -1;
    uint16_t envQ8[120];
    CalcRootInvArSpec(a, gain2_Q10, envQ8);
    return WebRtcIsacfix_EncLogisticMulti2(streamdata, data, envQ8, static_cast<int16_t>(N),
                                           band == kIsacUpperBand12 ? 1 : 0);
}

int WebRtcIsacfix_DecodeSpec(Bitstr_dec* streamdata, int16_t* frQ7, int16_t* fiQ7, int16_t AvgPitchGain_Q12,
                             int16_t band) {
    constexpr int kError = -6690;
    int16_t data[480];
    const uint32_t seed = streamdata->W_upper;
    const int N = band == kIsacUpperBand12 ? 240 : 480;
    if (band == kIsacLowerBand) GenerateDitherQ7(data, seed, N, AvgPitchGain_Q12);
    else GenerateDitherQ7_UB(data, seed, N);
    int16_t RCQ15[6];
    if (WebRtcIsacfix_DecodeRcCoef(streamdata, RCQ15) < 0) return kError;
    int16_t a[7];
    WebRtcSpl_ReflCoefToLpc(RCQ15, 6, a);
    int32_t gain2_Q10;
    if (WebRtcIsacfix_DecodeGain2(streamdata, &gain2_Q10) < 0) return kError;
    int32_t invARSpec2_Q16[120];
    CalcInvArSpec(a, gain2_Q10, invARSpec2_Q16);
    const int len = WebRtcIsacfix_DecLogisticMulti2(data, streamdata, invARSpec2_Q16, static_cast<int16_t>(N),
                                                    band == kIsacUpperBand12 ? 1 : 0);
    if (len < 1) return kError;
    if (band == kIsacLowerBand) {
        int16_t gains[120];
        for (int k = 0; k < 120; ++k) gains[k] = gain_from_envelope(invARSpec2_Q16[k], AvgPitchGain_Q12);
        WebRtcIsacfix_Apply_GainVec(data, gains, frQ7, fiQ7);
    } else if (band == kIsacUpperBand12) {
        for (int i = 0; i < 60; ++i) {
            frQ7[2 * i] = data[4 * i];
            fiQ7[2 * i] = data[4 * i + 1];
            frQ7[2 * i + 1] = data[4 * i + 2];
            fiQ7[2 * i + 1] = data[4 * i + 3];
        }
        std::memset(frQ7 + 120, 0, sizeof(int16_t) * 120);
        std::memset(fiQ7 + 120, 0, sizeof(int16_t) * 120);
    } else {
        for (int i = 0; i < 120; ++i) {
            frQ7[i] = data[4 * i];
            fiQ7[i] = data[4 * i + 1];
            frQ7[239 - i] = data[4 * i + 2];
            fiQ7[239 - i] = data[4 * i + 3];
        }
    }
    return len;
}

int WebRtcIsacfix_EncodePitchGain(int16_t* PitchGains_Q12, Bitstr_enc* streamdata, ISAC_SaveEncData_t* encData) {
    int32_t s[4];
    for (int k = 0; k < 4; ++k) s[k] = (PitchGains_Q12[k] * 33) >> 2;
    int idx[3];
    for (int j = 0; j < 3; ++j) {
        int32_t c = 0;
        for (int k = 0; k < 4; ++k) c += T(j, k) * s[k];
        c >>= 10;
        int v = (c + 8192) >> 14;
        if (v < WebRtcIsacfix_kLowerlimiGain[j]) v = WebRtcIsacfix_kLowerlimiGain[j];
        if (v > WebRtcIsacfix_kUpperlimitGain[j]) v = WebRtcIsacfix_kUpperlimitGain[j];
        idx[j] = v - WebRtcIsacfix_kLowerlimiGain[j];
    }
    const int16_t index = static_cast<int16_t>(WebRtcIsacfix_kMultsGain[0] * idx[0] + WebRtcIsacfix_kMultsGain[1] * idx[1] + idx[2]);
    PitchGains_Q12[0] = WebRtcIsacfix_kPitchGain1[index];
    PitchGains_Q12[1] = WebRtcIsacfix_kPitchGain2[index];
    PitchGains_Q12[2] = WebRtcIsacfix_kPitchGain3[index];
    PitchGains_Q12[3] = WebRtcIsacfix_kPitchGain4[index];
    const uint16_t* cdf[1] = {WebRtcIsacfix_kPitchGainCdf};
    if (encData != nullptr) encData->pitchGain_index[encData->startIdx] = index;
    return WebRtcIsacfix_EncHistMulti(streamdata, &index, cdf, 1);
}

int WebRtcIsacfix_DecodePitchGain(Bitstr_dec* streamdata, int16_t* PitchGains_Q12) {
    int16_t index;
    const uint16_t* cdf[1] = {WebRtcIsacfix_kPitchGainCdf};
    const uint16_t size[1] = {kPitchGainTableSize};
    const int r = WebRtcIsacfix_DecHistBisectMulti(&index, streamdata, cdf, size, 1);
    if (r < 0 || index < 0 || index > 143) return -6660;
    PitchGains_Q12[0] = WebRtcIsacfix_kPitchGain1[index];
    PitchGains_Q12[1] = WebRtcIsacfix_kPitchGain2[index];
    PitchGains_Q12[2] = WebRtcIsacfix_kPitchGain3[index];
    PitchGains_Q12[3] = WebRtcIsacfix_kPitchGain4[index];
    return 0;
}

namespace {

// ((((b & 0xFFFF) * a) >> 1) + 512) >> 10) + ((b >> 16) * a << 5)
inline int32_t mul16_32_rsft11(int16_t a, int32_t b) {
    return add32(((((b & 0xFFFF) * a) >> 1) + 512) >> 10, shl32(mul32(b >> 16, a), 5));
}

void reconstruct_lags(const LagSet& set, const int* idx, int16_t* lags) {
    const int32_t C = shl32(idx[0] + set.lower[0], 11 - set.shift);
    for (int k = 0; k < 4; ++k) {
        int32_t lag = mul16_32_rsft11(T(0, k), C) >> 5;
        lag += (T(1, k) * set.mean2[idx[1]]) >> 15;
        lag += (T(3, k) * set.mean4[idx[3]]) >> 15;
        lags[k] = lo16(lag);
    }
}

}  // namespace

int WebRtcIsacfix_EncodePitchLag(int16_t* PitchLagsQ7, const int16_t* PitchGain_Q12, Bitstr_enc* streamdata,
                                 ISAC_SaveEncData_t* encData) {
    const int32_t mean = (PitchGain_Q12[0] + PitchGain_Q12[1] + PitchGain_Q12[2] + PitchGain_Q12[3]) >> 2;
    if (encData != nullptr) encData->meanGain[encData->startIdx] = mean;
    const LagSet& set = lag_set(PitchGain_Q12);
    int idx[4];
    int16_t sym[4];
    for (int k = 0; k < 4; ++k) {
        int32_t c = 0;
        for (int j = 0; j < 4; ++j) c += (T(k, j) * PitchLagsQ7[j]) >> 2;
        c = set.shift < 0 ? c >> 1 : (set.shift > 0 ? shl32(c, 1) : c);
        int v = (c + 65536) >> 17;
        if (v < set.lower[k]) v = set.lower[k];
        if (v > set.upper[k]) v = set.upper[k];
        idx[k] = v - set.lower[k];
        sym[k] = static_cast<int16_t>(idx[k]);
        if (encData != nullptr) encData->pitchIndex[4 * encData->startIdx + k] = sym[k];
    }
    reconstruct_lags(set, idx, PitchLagsQ7);
    return WebRtcIsacfix_EncHistMulti(streamdata, sym, set.cdf, 4);
}

int WebRtcIsacfix_DecodePitchLag(Bitstr_dec* streamdata, const int16_t* PitchGain_Q12, int16_t* PitchLags_Q7) {
    const LagSet& set = lag_set(PitchGain_Q12);
    int16_t sym[4];
    const uint16_t size[1] = {set.size};
    int r = WebRtcIsacfix_DecHistBisectMulti(sym, streamdata, set.cdf, size, 1);
    if (r < 0 || sym[0] < 0) return -6670;
    r = WebRtcIsacfix_DecHistOneStepMulti(sym + 1, streamdata, set.cdf + 1, set.init, 3);
    if (r < 0) return -6670;
    // The one-step search stays inside its table; the index must also stay
    // inside the mean-lag tables it selects from.
    if (sym[1] > set.upper[1] - set.lower[1] || sym[3] > set.upper[3] - set.lower[3]) return -6670;
    const int idx[4] = {sym[0], sym[1], sym[2], sym[3]};
    reconstruct_lags(set, idx, PitchLags_Q7);
    return 0;
}

int WebRtcIsacfix_EncodeFrameLen(int16_t framesamples, Bitstr_enc* streamdata) {
    int16_t sym;
    if (framesamples == 480) sym = 1;
    else if (framesamples == 960) sym = 2;
    else return -6430;
    const uint16_t* cdf[1] = {kFrameLenCdf};
    return WebRtcIsacfix_EncHistMulti(streamdata, &sym, cdf, 1);
}

int WebRtcIsacfix_DecodeFrameLen(Bitstr_dec* streamdata, int16_t* framesamples) {
    int16_t sym;
    const uint16_t* cdf[1] = {kFrameLenCdf};
    const uint16_t init[1] = {kFrameLenInitIndex};
    const int r = WebRtcIsacfix_DecHistOneStepMulti(&sym, streamdata, cdf, init, 1);
    if (r < 0) return -6640;
    if (sym == 1) *framesamples = 480;
    else if (sym == 2) *framesamples = 960;
    else return -6630;
    return r;
}

int WebRtcIsacfix_EncodeReceiveBandwidth(const int16_t* BWno, Bitstr_enc* streamdata) {
    const uint16_t* cdf[1] = {kBwCdf};
    return WebRtcIsacfix_EncHistMulti(streamdata, BWno, cdf, 1);
}

int WebRtcIsacfix_DecodeSendBandwidth(Bitstr_dec* streamdata, int16_t* BWno) {
    const uint16_t* cdf[1] = {kBwCdf};
    const uint16_t init[1] = {kBwInitIndex};
    const int r = WebRtcIsacfix_DecHistOneStepMulti(BWno, streamdata, cdf, init, 1);
    return r < 0 ? -6650 : r;
}

int WebRtcIsac_EncodeBandwidth(int bandwidth, Bitstr_enc* streamData) {
    int16_t bit;
    if (bandwidth == 12) bit = 0;
    else if (bandwidth == 16) bit = 1;
    else return -6460;
    const uint16_t* cdf[1] = {kOneBitEqualProbCdf};
    const int r = WebRtcIsacfix_EncHistMulti(streamData, &bit, cdf, 1);
    return r < 0 ? r : 0;
}

int WebRtcIsac_DecodeBandwidth(Bitstr_dec* streamData, int* bandwidth) {
    int16_t bit;
    const uint16_t* cdf[1] = {kOneBitEqualProbCdf};
    const uint16_t init[1] = {kOneBitInitIndex};
    if (WebRtcIsacfix_DecHistOneStepMulti(&bit, streamData, cdf, init, 1) < 0) return -6740;
    if (bit == 0) *bandwidth = 12;
    else if (bit == 1) *bandwidth = 16;
    else return -6750;
    return 0;
}

int WebRtcIsac_EncodeJitterInfo(int32_t jitterIndex, Bitstr_enc* streamData) {
    if (jitterIndex != 0 && jitterIndex != 1) return -1;
    const int16_t bit = static_cast<int16_t>(jitterIndex);
    const uint16_t* cdf[1] = {kOneBitEqualProbCdf};
    const int r = WebRtcIsacfix_EncHistMulti(streamData, &bit, cdf, 1);
    return r < 0 ? r : 0;
}

int WebRtcIsac_DecodeJitterInfo(Bitstr_dec* streamData, int32_t* jitterInfo) {
    int16_t bit;
    const uint16_t* cdf[1] = {kOneBitEqualProbCdf};
    const uint16_t init[1] = {kOneBitInitIndex};
    if (WebRtcIsacfix_DecHistOneStepMulti(&bit, streamData, cdf, init, 1) < 0) return -6740;
    *jitterInfo = bit;
    return 0;
}

}  // namespace isac

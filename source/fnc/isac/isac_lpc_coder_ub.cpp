#include "isac_lpc_coder_ub.h"

#include <cmath>

#include "isac_lattice.h"
#include "isac_lpc_coder.h"
#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int kOrder = 4;
constexpr int32_t kShapeStepQ17 = 19660;
constexpr double kGainStep = 0.1;
constexpr double kLogGainMean = 3.3822;
constexpr int kGainsPerCall = 6;

bool valid(int16_t bw) { return bw == isac12kHz || bw == isac16kHz; }
int vectors(int16_t bw) { return bw == isac16kHz ? 4 : 2; }

const uint16_t* const kLpcShapeCdfMatUb12[8] = {
    WebRtcIsac_kLpcShapeCdfVec0Ub12, WebRtcIsac_kLpcShapeCdfVec1Ub12, WebRtcIsac_kLpcShapeCdfVec2Ub12,
    WebRtcIsac_kLpcShapeCdfVec3Ub12, WebRtcIsac_kLpcShapeCdfVec4Ub12, WebRtcIsac_kLpcShapeCdfVec5Ub12,
    WebRtcIsac_kLpcShapeCdfVec6Ub12, WebRtcIsac_kLpcShapeCdfVec7Ub12};
const uint16_t* const kLpcShapeCdfMatUb16[16] = {
    WebRtcIsac_kLpcShapeCdfVec01Ub16,  WebRtcIsac_kLpcShapeCdfVec1Ub16,   WebRtcIsac_kLpcShapeCdfVec2Ub16,
    WebRtcIsac_kLpcShapeCdfVec3Ub16,   WebRtcIsac_kLpcShapeCdfVec4Ub16,   WebRtcIsac_kLpcShapeCdfVec5Ub16,
    WebRtcIsac_kLpcShapeCdfVec6Ub16,   WebRtcIsac_kLpcShapeCdfVec7Ub16,   WebRtcIsac_kLpcShapeCdfVec8Ub16,
    WebRtcIsac_kLpcShapeCdfVec01Ub160, WebRtcIsac_kLpcShapeCdfVec01Ub161, WebRtcIsac_kLpcShapeCdfVec01Ub162,
    WebRtcIsac_kLpcShapeCdfVec01Ub163, WebRtcIsac_kLpcShapeCdfVec01Ub164, WebRtcIsac_kLpcShapeCdfVec01Ub165,
    WebRtcIsac_kLpcShapeCdfVec01Ub166};
const uint16_t* const kLpcGainCdfMat[6] = {WebRtcIsac_kLpcGainCdfVec0, WebRtcIsac_kLpcGainCdfVec1,
                                           WebRtcIsac_kLpcGainCdfVec2, WebRtcIsac_kLpcGainCdfVec3,
                                           WebRtcIsac_kLpcGainCdfVec4, WebRtcIsac_kLpcGainCdfVec5};

const int32_t* mean_of(int16_t bw) { return bw == isac16kHz ? WebRtcIsac_kMeanLarUb16_Q17 : WebRtcIsac_kMeanLarUb12_Q17; }
const int32_t* intra_of(int16_t bw) {
    return bw == isac16kHz ? WebRtcIsac_kIintraVecDecorrMatUb16_Q31 : WebRtcIsac_kIntraVecDecorrMatUb12_Q31;
}
const int32_t* inter_of(int16_t bw) {
    return bw == isac16kHz ? WebRtcIsac_kInterVecDecorrMatUb16_Q31 : WebRtcIsac_kInterVecDecorrMatUb12_Q31;
}
const int32_t* left_of(int16_t bw) {
    return bw == isac16kHz ? WebRtcIsac_kLpcShapeLeftRecPointUb16_Q17 : WebRtcIsac_kLpcShapeLeftRecPointUb12_Q17;
}
const int16_t* points_of(int16_t bw) {
    return bw == isac16kHz ? WebRtcIsac_kLpcShapeNumRecPointUb16 : WebRtcIsac_kLpcShapeNumRecPointUb12;
}

// The 12 kHz band interpolates over 6 vectors from vector 0 to 1; the 16 kHz
// band over 5 vectors for each of the pairs (0,1), (1,2), (2,3), each pair's
// first vector overwriting the previous pair's last.
void interpolate(const int32_t* lars, int16_t* out, int16_t bw) {
    if (bw == isac12kHz) {
        WebRtcIsac_Lar2PolyInterpolUB(lars, out, 6, 429496730);
        return;
    }
    for (int p = 0; p < 3; ++p) WebRtcIsac_Lar2PolyInterpolUB(lars + kOrder * p, out + 16 * p, 5, 0x20000000);
}

}  // namespace

void Poly2LarFix_UB(const int16_t* lpcVecs, int16_t bandwidth, int32_t* lars) {
    const int n = vectors(bandwidth) * kOrder;
    for (int i = 0; i < n; ++i) lars[i] = Rc2LarFix(lpcVecs[i]);
}

int16_t WebRtcIsac_RemoveLarMean(int32_t* lar, int16_t bw) {
    if (!valid(bw)) return -1;
    for (int v = 0; v < vectors(bw); ++v)
        for (int c = 0; c < kOrder; ++c) lar[kOrder * v + c] = sub32(lar[kOrder * v + c], mean_of(bw)[c]);
    return 0;
}

int16_t WebRtcIsac_AddLarMean(int32_t* lar, int16_t bw) {
    if (!valid(bw)) return -1;
    for (int v = 0; v < vectors(bw); ++v)
        for (int c = 0; c < kOrder; ++c) lar[kOrder * v + c] = add32(lar[kOrder * v + c], mean_of(bw)[c]);
    return 0;
}

namespace {

// Each vector of kOrder coefficients times the intra-vector matrix, or its transpose to undo it.
template <bool kTranspose>
int16_t intraVecTimes(const int32_t* in, int32_t* out, int16_t bw) {
    if (!valid(bw)) return -1;
    const int32_t* M = intra_of(bw);
    for (int v = 0; v < vectors(bw); ++v)
        for (int r = 0; r < kOrder; ++r) {
            int32_t s = 0;
            for (int c = 0; c < kOrder; ++c)
                s = add32(s, MUL32_32_Q31(in[kOrder * v + c], M[kTranspose ? kOrder * c + r : kOrder * r + c]));
            out[kOrder * v + r] = s;
        }
    return 0;
}

// Each coefficient across the vectors times the inter-vector matrix, or its transpose.
template <bool kTranspose>
int16_t interVecTimes(const int32_t* in, int32_t* out, int16_t bw) {
    if (!valid(bw)) return -1;
    const int n = vectors(bw);
    const int32_t* N = inter_of(bw);
    for (int c = 0; c < kOrder; ++c)
        for (int r = 0; r < n; ++r) {
            int32_t s = 0;
            for (int m = 0; m < n; ++m) s = add32(s, MUL32_32_Q31(in[c + kOrder * m], N[kTranspose ? n * r + m : r + n * m]));
            out[c + kOrder * r] = s;
        }
    return 0;
}

}  // namespace

int16_t WebRtcIsac_DecorrelateIntraVec(const int32_t* in, int32_t* out, int16_t bw) {
    return intraVecTimes<false>(in, out, bw);
}
int16_t WebRtcIsac_CorrelateIntraVec(const int32_t* in, int32_t* out, int16_t bw) {
    return intraVecTimes<true>(in, out, bw);
}
int16_t WebRtcIsac_DecorrelateInterVec(const int32_t* in, int32_t* out, int16_t bw) {
    return interVecTimes<false>(in, out, bw);
}
int16_t WebRtcIsac_CorrelateInterVec(const int32_t* in, int32_t* out, int16_t bw) {
    return interVecTimes<true>(in, out, bw);
}

int16_t WebRtcIsac_QuantizeUncorrLar(int32_t* data, int16_t* idx, int16_t bw) {
    if (!valid(bw)) return -1;
    const int n = vectors(bw) * kOrder;
    for (int k = 0; k < n; ++k) {
        const int32_t L = left_of(bw)[k];
        const int P = points_of(bw)[k];
        int i = 0;
        for (;; ++i) {
            if (i >= P - 1) {
                i = P - 1;
                break;
            }
            const int64_t d = int64_t{L} + int64_t{kShapeStepQ17} * i - data[k];
            if (d >= 0) {
                // The previous point only when strictly nearer.
                if (i > 0 && -(d - kShapeStepQ17) < d) --i;
                break;
            }
        }
        idx[k] = static_cast<int16_t>(i);
        data[k] = L + kShapeStepQ17 * i;
    }
    return 0;
}

int16_t WebRtcIsac_DequantizeLpcParam(const int16_t* idx, int32_t* out, int16_t bw) {
    if (!valid(bw)) return -1;
    const int n = vectors(bw) * kOrder;
    for (int k = 0; k < n; ++k) out[k] = left_of(bw)[k] + kShapeStepQ17 * idx[k];
    return 0;
}

void WebRtcIsac_Lar2PolyInterpolUB(const int32_t* lar, int16_t* out, int16_t numPolyVecs, int32_t recip) {
    int32_t slope[kOrder];
    for (int c = 0; c < kOrder; ++c) slope[c] = MUL32_32_Q31(sub32(lar[kOrder + c], lar[c]), recip);
    for (int t = 0; t < numPolyVecs; ++t)
        for (int c = 0; c < kOrder; ++c) out[kOrder * t + c] = Lar2RcFix(add32(lar[c], mul32(slope[c], t)));
}

int16_t WebRtcIsacfix_EncodeLpc_UB(const int16_t* LPCCoef_loQ15, Bitstr_enc* streamdata, int16_t* interpolLPCCoeff,
                                   int16_t bw, ISAC_SaveEncDataUB_t* encData) {
    if (!valid(bw)) return -1;
    const int n = vectors(bw) * kOrder;
    int32_t lar[16], a[16], b[16];
    int16_t idx[16];
    Poly2LarFix_UB(LPCCoef_loQ15, bw, lar);
    WebRtcIsac_RemoveLarMean(lar, bw);
    WebRtcIsac_DecorrelateIntraVec(lar, a, bw);
    WebRtcIsac_DecorrelateInterVec(a, b, bw);
    WebRtcIsac_QuantizeUncorrLar(b, idx, bw);
    WebRtcIsac_CorrelateInterVec(b, a, bw);
    WebRtcIsac_CorrelateIntraVec(a, lar, bw);
    WebRtcIsac_AddLarMean(lar, bw);
    if (encData != nullptr)
        for (int k = 0; k < n; ++k) encData->indexLPCShape[k] = idx[k];
    const int r = WebRtcIsacfix_EncHistMulti(streamdata, idx, bw == isac16kHz ? kLpcShapeCdfMatUb16 : kLpcShapeCdfMatUb12,
                                             static_cast<int16_t>(n));
    if (r < 0) return static_cast<int16_t>(r);
    interpolate(lar, interpolLPCCoeff, bw);
    return 0;
}

int16_t WebRtcIsac_DecodeLpcCoefUB(Bitstr_dec* streamdata, int32_t* lpcVecs, int32_t* gains_Q17, int16_t bw) {
    if (!valid(bw)) return -1;
    const int n = vectors(bw) * kOrder;
    int16_t idx[16];
    uint16_t init[16];
    const uint16_t* search = bw == isac16kHz ? WebRtcIsac_kLpcShapeEntropySearchUb16 : WebRtcIsac_kLpcShapeEntropySearchUb12;
    for (int k = 0; k < n; ++k) init[k] = static_cast<uint16_t>(search[k]);
    if (WebRtcIsacfix_DecHistOneStepMulti(idx, streamdata, bw == isac16kHz ? kLpcShapeCdfMatUb16 : kLpcShapeCdfMatUb12,
                                          init, static_cast<int16_t>(n)) < 0)
        return -1;
    int32_t q[16], a[16];
    WebRtcIsac_DequantizeLpcParam(idx, q, bw);
    WebRtcIsac_CorrelateInterVec(q, a, bw);
    WebRtcIsac_CorrelateIntraVec(a, lpcVecs, bw);
    WebRtcIsac_AddLarMean(lpcVecs, bw);
    const int groups = bw == isac16kHz ? 2 : 1;
    for (int g = 0; g < groups; ++g) {
        double gains[kGainsPerCall];
        if (WebRtcIsac_DecodeLpcGainUb(gains, streamdata) < 0) return -1;
        for (int k = 0; k < kGainsPerCall; ++k) gains_Q17[kGainsPerCall * g + k] = static_cast<int32_t>(gains[k] * 131072.0);
    }
    return 0;
}

int16_t WebRtcIsacfix_DecodeInterpolLpcUb(Bitstr_dec* streamdata, int16_t* percepFilterParams,
                                          int32_t* percepFilterGains_Q17, int16_t bw) {
    if (!valid(bw)) return -1;
    int32_t lars[16];
    if (WebRtcIsac_DecodeLpcCoefUB(streamdata, lars, percepFilterGains_Q17, bw) < 0) return -6680;
    interpolate(lars, percepFilterParams, bw);
    return 0;
}

void WebRtcIsacfix_GetLpcGain(int16_t snr_Q10, const int16_t* filt, int numVecs, double* gain, const int32_t* corrMat,
                              const int16_t* corr_Q, const int16_t* varscale_Q14) {
    const double scale = std::pow(10.0, snr_Q10 / 1024.0 / 20.0) / 3.46;
    for (int k = 0; k < numVecs; ++k) {
        int16_t a[kOrder + 1];
        WebRtcSpl_ReflCoefToLpc(filt + kOrder * k, kOrder, a);
        const int32_t* r = corrMat + (kOrder + 1) * k;
        int64_t q = 0;
        for (int i = 0; i <= kOrder; ++i)
            for (int j = 0; j <= kOrder; ++j) q += static_cast<int64_t>((a[i] * a[j]) >> 4) * r[i > j ? i - j : j - i];
        const double s = (k < 6 ? varscale_Q14[0] : varscale_Q14[1]) * std::ldexp(1.0, -14);
        const double res = std::sqrt(std::ldexp(static_cast<double>(q), -(corr_Q[k] + 20))) / s;
        gain[k] = scale / (res + 0.03981071705534971);
    }
}

void WebRtcIsac_ToLogDomainRemoveMean(double* g) {
    for (int k = 0; k < kGainsPerCall; ++k) g[k] = std::log(g[k]) + kLogGainMean;
}

void WebRtcIsac_DecorrelateLPGain(const double* x, double* y) {
    for (int r = 0; r < kGainsPerCall; ++r) {
        double s = 0;
        for (int c = 0; c < kGainsPerCall; ++c) s += x[c] * WebRtcIsac_kLpcGainDecorrMat[6 * c + r];
        y[r] = s;
    }
}

double WebRtcIsac_QuantizeLpcGain(double* y, int* idx) {
    for (int k = 0; k < kGainsPerCall; ++k) {
        int i = static_cast<int>(std::floor((y[k] - WebRtcIsac_kLeftRecPointLpcGain[k]) / kGainStep + 0.5));
        if (i < 0) i = 0;
        if (i > WebRtcIsac_kNumQCellLpcGain[k] - 1) i = WebRtcIsac_kNumQCellLpcGain[k] - 1;
        idx[k] = i;
        y[k] = WebRtcIsac_kLeftRecPointLpcGain[k] + kGainStep * i;
    }
    return 0;
}

void WebRtcIsac_DequantizeLpcGain(const int* idx, double* y) {
    for (int k = 0; k < kGainsPerCall; ++k) y[k] = WebRtcIsac_kLeftRecPointLpcGain[k] + kGainStep * idx[k];
}

void WebRtcIsac_CorrelateLpcGain(const double* y, double* x) {
    for (int r = 0; r < kGainsPerCall; ++r) {
        double s = 0;
        for (int c = 0; c < kGainsPerCall; ++c) s += WebRtcIsac_kLpcGainDecorrMat[6 * r + c] * y[c];
        x[r] = s;
    }
}

void WebRtcIsac_AddMeanToLinearDomain(double* g) {
    for (int k = 0; k < kGainsPerCall; ++k) g[k] = std::exp(g[k] - kLogGainMean);
}

int16_t WebRtcIsac_EncodeLpcGainUb(double* lpGains, Bitstr_enc* streamdata, int* lpcGainIndex) {
    double y[kGainsPerCall];
    WebRtcIsac_ToLogDomainRemoveMean(lpGains);
    WebRtcIsac_DecorrelateLPGain(lpGains, y);
    WebRtcIsac_QuantizeLpcGain(y, lpcGainIndex);
    WebRtcIsac_CorrelateLpcGain(y, lpGains);
    WebRtcIsac_AddMeanToLinearDomain(lpGains);
    int16_t sym[kGainsPerCall];
    for (int k = 0; k < kGainsPerCall; ++k) sym[k] = static_cast<int16_t>(lpcGainIndex[k]);
    return static_cast<int16_t>(WebRtcIsacfix_EncHistMulti(streamdata, sym, kLpcGainCdfMat, kGainsPerCall));
}

int16_t WebRtcIsac_DecodeLpcGainUb(double* lpGains, Bitstr_dec* streamdata) {
    int16_t sym[kGainsPerCall];
    uint16_t init[kGainsPerCall];
    for (int k = 0; k < kGainsPerCall; ++k) init[k] = WebRtcIsac_kLpcGainEntropySearch[k];
    if (WebRtcIsacfix_DecHistOneStepMulti(sym, streamdata, kLpcGainCdfMat, init, kGainsPerCall) < 0) return -1;
    int idx[kGainsPerCall];
    for (int k = 0; k < kGainsPerCall; ++k) idx[k] = sym[k];
    double y[kGainsPerCall];
    WebRtcIsac_DequantizeLpcGain(idx, y);
    WebRtcIsac_CorrelateLpcGain(y, lpGains);
    WebRtcIsac_AddMeanToLinearDomain(lpGains);
    return 0;
}

}  // namespace isac

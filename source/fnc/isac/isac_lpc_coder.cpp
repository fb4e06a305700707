#include "isac_lpc_coder.h"

#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int kSub = 6;
constexpr int kOrdLo = 12;
constexpr int kOrdHi = 6;
constexpr int kLars = kOrdLo + kOrdHi;  // per sub-block
constexpr int kShape = kSub * kLars;    // 108
constexpr int kGains = 2 * kSub;        // 12

inline int64_t mul(int64_t a, int64_t b) { return a * b; }

const uint16_t* shape_cdf(int m, int k) {
    return WebRtcIsacfix_kCdfShape + WebRtcIsacfix_kCdfShapePtr[kShape * m + k];
}
const uint16_t* gain_cdf(int m, int k) { return WebRtcIsacfix_kCdfGain + WebRtcIsacfix_kCdfGainPtr[kGains * m + k]; }

// Decodes the N indices of model m, each with its own CDF and search start.
template <int N, typename Init>
int decode_indices(Bitstr_dec* streamdata, int m, const uint16_t* (*cdf)(int, int), const Init* initIndex,
                   int16_t* index) {
    const uint16_t* cdfs[N];
    uint16_t inits[N];
    for (int k = 0; k < N; ++k) {
        cdfs[k] = cdf(m, k);
        inits[k] = initIndex[N * m + k];
    }
    return WebRtcIsacfix_DecHistOneStepMulti(index, streamdata, cdfs, inits, N);
}

// Log gains minus their means (Q8).
void log_gains(const int32_t* gain, int32_t* g) {
    for (int k = 0; k < kGains; ++k) g[k] = CalcLogN(gain[k]) - 3017 - WebRtcIsacfix_kMeansGainQ8[k];
}

// Gain KLT within each sub-block and across the sub-blocks (model 0), then
// the indices.
void gain_indices(const int32_t* g, int16_t* index) {
    const int16_t* T = WebRtcIsacfix_kT1GainQ15;
    int32_t h[kGains], t[kGains];
    for (int k = 0; k < kSub; ++k) {
        h[2 * k] = T[0] * g[2 * k] + T[2] * g[2 * k + 1];
        h[2 * k + 1] = T[1] * g[2 * k] + T[3] * g[2 * k + 1];
    }
    for (int r = 0; r < kSub; ++r)
        for (int c = 0; c < 2; ++c) {
            int32_t s = 0;
            for (int m = 0; m < kSub; ++m) s += static_cast<int32_t>(mul(h[2 * m + c], WebRtcIsacfix_kT2GainQ15[6 * r + m]) >> 16);
            t[2 * r + c] = s >> 3;
        }
    for (int k = 0; k < kGains; ++k) {
        int idx = WebRtcIsacfix_kQuantMinGain[k] + ((t[k] + 65536) >> 17);
        if (idx < 0) idx = 0;
        if (idx > WebRtcIsacfix_kMaxIndGain[k]) idx = WebRtcIsacfix_kMaxIndGain[k];
        index[k] = static_cast<int16_t>(idx);
    }
}

// The gains' indices; with `encData`, the gains are kept there for block `start` first.
void kept_gain_indices(const int32_t* gain, ISAC_SaveEncData_t* encData, int start, int16_t* index_g) {
    if (encData != nullptr)
        for (int k = 0; k < kGains; ++k) encData->LPCcoeffs_g[kGains * start + k] = gain[k];
    int32_t g[kGains];
    log_gains(gain, g);
    gain_indices(g, index_g);
}

// Reconstruction shared by encoder and decoder, so that the encoder's
// filters use exactly the values the decoder will rebuild.
void reconstruct(int m, const int16_t* index_s, const int16_t* index_g, int32_t* lars, int32_t* gains) {
    const int16_t* T1g = WebRtcIsacfix_kT1GainQ15 + 4 * m;
    const int16_t* T1s = WebRtcIsacfix_kT1ShapeQ15 + 324 * m;
    const int16_t* T2s = WebRtcIsacfix_kT2ShapeQ15 + 36 * m;
    // Gains: levels, inverse KLT within sub-blocks, then across with model 0's matrix.
    int32_t g[kGains], h[kGains];
    for (int k = 0; k < kGains; ++k)
        g[k] = WebRtcIsacfix_kLevelsGainQ17[WebRtcIsacfix_kOfLevelsGain[m] + WebRtcIsacfix_kOffsetGain[kGains * m + k] +
                                            index_g[k]];
    for (int k = 0; k < kSub; ++k) {
        const int32_t a = shl32(g[2 * k], 5), b = shl32(g[2 * k + 1], 5);
        h[2 * k] = add32(MUL16_32_Q16(T1g[0], a), MUL16_32_Q16(T1g[1], b));
        h[2 * k + 1] = add32(MUL16_32_Q16(T1g[2], a), MUL16_32_Q16(T1g[3], b));
    }
    for (int r = 0; r < kSub; ++r)
        for (int c = 0; c < 2; ++c) {
            int32_t s = 0;
            for (int mm = 0; mm < kSub; ++mm)
                s = add32(s, static_cast<int32_t>(mul(h[2 * mm + c], WebRtcIsacfix_kT2GainQ15[r + 6 * mm]) >> 16));
            const int32_t x = s >> 3;
            gains[2 * r + c] = CalcExpN(lo16(WebRtcIsacfix_kMeansGainQ8[kGains * m + 2 * r + c] + (x >> 11)));
        }
    // Shape: levels, inverse KLT within sub-blocks, then across.
    int32_t within[kShape];
    for (int k = 0; k < kSub; ++k)
        for (int j = 0; j < kLars; ++j) {
            int32_t s = 0;
            for (int i = 0; i < kLars; ++i) {
                const int q = kLars * k + i;
                const int16_t level = WebRtcIsacfix_kLevelsShapeQ10[WebRtcIsacfix_kOfLevelsShape[m] +
                                                                    WebRtcIsacfix_kOffsetShape[kShape * m + q] + index_s[q]];
                s = add32(s, (level * T1s[kLars * j + i]) >> 7);
            }
            within[kLars * k + j] = s;
        }
    const int32_t* means = WebRtcIsacfix_kMeansShapeQ17 + kShape * m;
    for (int r = 0; r < kSub; ++r)
        for (int j = 0; j < kLars; ++j) {
            int32_t s = 0;
            for (int mm = 0; mm < kSub; ++mm)
                s = add32(s, static_cast<int32_t>(mul(within[j + kLars * mm], T2s[r + 6 * mm]) >> 16));
            const int q = kLars * r + j;
            lars[q] = j < kOrdLo ? add32(static_cast<int32_t>(mul(s, 31208) >> 16), means[q])
                                 : add32(shl32(static_cast<int32_t>(mul(s, 18204) >> 16), 3), means[q]);
        }
}

}  // namespace

int32_t Rc2LarFix(int16_t rc) {
    const int32_t k = rc < 0 ? -rc : rc;
    int32_t lar;
    if (k <= 24955) lar = (k * 21512) >> 11;
    else if (k <= 29999) lar = ((k * 29837) >> 10) - 465024;
    else if (k <= 32499) lar = ((k * 31863) >> 8) - 3324784;
    else lar = ((k * 21973) >> 3) - 88546020;
    return rc <= 0 ? -lar : lar;
}

int16_t Lar2RcFix(int32_t lar) {
    const int32_t t = add32(lar, 32) >> 6;
    const int32_t a = t < 0 ? -t : t;
    int32_t rc;
    if (a <= 4096) rc = (a * 24957) >> 12;
    else if (a <= 6392) rc = static_cast<int32_t>((int64_t{a} * 17993 + 130738688) >> 13);
    else if (a <= 11254) rc = static_cast<int32_t>((int64_t{a} * 16850 + 875329820) >> 15);
    else rc = static_cast<int32_t>(((int64_t{a} * 24433 >> 16) + 515804) >> 4);
    if (rc > 32767) rc = 32767;
    return static_cast<int16_t>(lar <= 0 ? -rc : rc);
}

void Poly2LarFix(const int16_t* lo, int16_t orderLo, const int16_t* hi, int16_t orderHi, int16_t Nsub, int32_t* lars) {
    for (int k = 0; k < Nsub; ++k) {
        for (int i = 0; i < orderLo; ++i) *lars++ = Rc2LarFix(lo[orderLo * k + i]);
        for (int i = 0; i < orderHi; ++i) *lars++ = Rc2LarFix(hi[orderHi * k + i]);
    }
}

void Lar2polyFix(const int32_t* lars, int16_t* lo, int16_t orderLo, int16_t* hi, int16_t orderHi, int16_t Nsub) {
    for (int k = 0; k < Nsub; ++k) {
        for (int i = 0; i < orderLo; ++i) lo[orderLo * k + i] = Lar2RcFix(*lars++);
        for (int i = 0; i < orderHi; ++i) hi[orderHi * k + i] = Lar2RcFix(*lars++);
    }
}

int32_t CalcLogN(int32_t arg) {
    if (arg <= 0) arg = 1;  // the gains are positive; keep the logarithm defined
    const int n = __builtin_clz(static_cast<uint32_t>(arg));
    const int32_t below = static_cast<int32_t>((static_cast<uint32_t>(arg) << n) >> 23) & 0xFF;
    const int32_t L = (31 - n) * 256 + below;
    return ((L * 22713) >> 15) + 11;
}

int32_t CalcExpN(int16_t x) {
    const int32_t a = (x * 23637) >> 14;
    if (x >= 0) {
        const int sh = (a >> 8) > 15 ? 15 : (a >> 8);
        return shl32(lo16(1 << sh) * ((a & 255) + 256), 9);
    }
    const int32_t b = -a;
    const int s = (b >> 8) + 1;
    const int32_t base = lo16(s > 15 ? 0 : (32768 >> s));
    return (base * (255 - (b & 255) + 256)) >> 6;
}

int WebRtcIsacfix_EncodeLpc(int32_t* gain_lo_hiQ17, int16_t* LPCCoef_loQ15, int16_t* LPCCoef_hiQ15, int16_t* model,
                            int32_t* sizeQ11, Bitstr_enc* streamdata, ISAC_SaveEncData_t* encData,
                            transcode_obj* transcodingParam) {
    int32_t lars[kShape];
    Poly2LarFix(LPCCoef_loQ15, kOrdLo, LPCCoef_hiQ15, kOrdHi, kSub, lars);
    const int start = encData != nullptr ? encData->startIdx : 0;
    int16_t index_g[kGains];
    kept_gain_indices(gain_lo_hiQ17, encData, start, index_g);

    // Shape: weighted mean-removed LARs, KLT within and across sub-blocks.
    int32_t x[kShape], y[kShape], z[kShape];
    for (int k = 0; k < kSub; ++k)
        for (int j = 0; j < kLars; ++j) {
            const int q = kLars * k + j;
            const int32_t d = sub32(lars[q], WebRtcIsacfix_kMeansShapeQ17[q]);
            x[q] = j < kOrdLo ? static_cast<int32_t>(mul(shl32(d, 3), 17203) >> 16)
                              : static_cast<int32_t>(mul(shl32(d, 1), 14746) >> 16);
        }
    for (int k = 0; k < kSub; ++k)
        for (int i = 0; i < kLars; ++i) {
            int32_t s = 0;
            for (int j = 0; j < kLars; ++j)
                s = add32(s, static_cast<int32_t>(mul(shl32(x[kLars * k + j], 1), WebRtcIsacfix_kT1ShapeQ15[kLars * j + i]) >> 16));
            y[kLars * k + i] = s;
        }
    for (int r = 0; r < kSub; ++r)
        for (int j = 0; j < kLars; ++j) {
            int32_t s = 0;
            for (int m = 0; m < kSub; ++m)
                s = add32(s, static_cast<int32_t>(mul(shl32(y[j + kLars * m], 1), WebRtcIsacfix_kT2ShapeQ15[6 * r + m]) >> 16));
            z[kLars * r + j] = s;
        }
    int32_t size = 0;
    for (int k = 0; k < kGains; ++k) {
        if (encData != nullptr) encData->LPCindex_g[kGains * start + k] = index_g[k];
        size += WebRtcIsacfix_kCodeLenGainQ11[WebRtcIsacfix_kOffsetGain[k] + index_g[k]];
    }
    int16_t index_s[kShape];
    for (int k = 0; k < kShape; ++k) {
        int idx = WebRtcIsacfix_kQuantMinShape[k] + ((z[k] + 65536) >> 17);
        if (idx < 0) idx = 0;
        if (idx > WebRtcIsacfix_kMaxIndShape[k]) idx = WebRtcIsacfix_kMaxIndShape[k];
        index_s[k] = static_cast<int16_t>(idx);
        size += WebRtcIsacfix_kCodeLenShapeQ11[WebRtcIsacfix_kOffsetShape[k] + idx];
    }
    *model = 0;
    *sizeQ11 = size;

    const int16_t model0 = 0;
    const uint16_t* model_cdf[1] = {WebRtcIsacfix_kModelCdf};
    int r = WebRtcIsacfix_EncHistMulti(streamdata, &model0, model_cdf, 1);
    if (r < 0) return r;
    const uint16_t* cdf_s[kShape];
    for (int k = 0; k < kShape; ++k) cdf_s[k] = shape_cdf(0, k);
    r = WebRtcIsacfix_EncHistMulti(streamdata, index_s, cdf_s, kShape);
    if (r < 0) return r;
    if (encData != nullptr)
        for (int k = 0; k < kShape; ++k) encData->LPCindex_s[kShape * start + k] = index_s[k];
    if (transcodingParam != nullptr) {
        transcodingParam->W_upper = streamdata->W_upper;
        transcodingParam->streamval = streamdata->streamval;
        transcodingParam->stream_index = streamdata->stream_index;
        transcodingParam->full = streamdata->full;
        const int i = streamdata->stream_index;
        transcodingParam->beforeLastWord = i > 0 ? streamdata->stream[i - 1] : 0;
        transcodingParam->lastWord = i < kStreamWords ? streamdata->stream[i] : 0;
    }
    const uint16_t* cdf_g[kGains];
    for (int k = 0; k < kGains; ++k) cdf_g[k] = gain_cdf(0, k);
    r = WebRtcIsacfix_EncHistMulti(streamdata, index_g, cdf_g, kGains);
    if (r < 0) return r;

    reconstruct(0, index_s, index_g, lars, gain_lo_hiQ17);
    Lar2polyFix(lars, LPCCoef_loQ15, kOrdLo, LPCCoef_hiQ15, kOrdHi, kSub);
    return 0;
}

int WebRtcIsacfix_DecodeLpcCoef(Bitstr_dec* streamdata, int32_t* LPCCoefQ17, int32_t* gain_lo_hiQ17, int16_t* model) {
    int16_t m;
    const uint16_t* model_cdf[1] = {WebRtcIsacfix_kModelCdf};
    const uint16_t model_init[1] = {1};
    int r = WebRtcIsacfix_DecHistOneStepMulti(&m, streamdata, model_cdf, model_init, 1);
    if (r < 0) return r;
    if (m < 0 || m > 2) return -1;
    int16_t index_s[kShape];
    r = decode_indices<kShape>(streamdata, m, shape_cdf, WebRtcIsacfix_kInitIndexShape, index_s);
    if (r < 0) return r;
    int16_t index_g[kGains];
    r = decode_indices<kGains>(streamdata, m, gain_cdf, WebRtcIsacfix_kInitIndexGain, index_g);
    if (r < 0) return r;
    reconstruct(m, index_s, index_g, LPCCoefQ17, gain_lo_hiQ17);
    *model = m;
    return 0;
}

int WebRtcIsacfix_DecodeLpc(int32_t* gain_lo_hiQ17, int16_t* LPCCoef_loQ15, int16_t* LPCCoef_hiQ15,
                            Bitstr_dec* streamdata, int16_t* model) {
    int32_t lars[kShape];
    if (WebRtcIsacfix_DecodeLpcCoef(streamdata, lars, gain_lo_hiQ17, model) < 0) return -6680;
    Lar2polyFix(lars, LPCCoef_loQ15, kOrdLo, LPCCoef_hiQ15, kOrdHi, kSub);
    return 0;
}

int WebRtcIsacfix_EstCodeLpcGain(int32_t* gain_lo_hiQ17, Bitstr_enc* streamdata, ISAC_SaveEncData_t* encData) {
    const int start = encData != nullptr ? encData->startIdx : 0;
    int16_t index_g[kGains];
    kept_gain_indices(gain_lo_hiQ17, encData, start, index_g);
    if (encData != nullptr)
        for (int k = 0; k < kGains; ++k) encData->LPCindex_g[kGains * start + k] = index_g[k];
    const uint16_t* cdf_g[kGains];
    for (int k = 0; k < kGains; ++k) cdf_g[k] = gain_cdf(0, k);
    return WebRtcIsacfix_EncHistMulti(streamdata, index_g, cdf_g, kGains);
}

void WebRtcIsacfix_TranscodeLpcCoef(int32_t* gain_lo_hiQ17, int16_t* index_gQQ) {
    kept_gain_indices(gain_lo_hiQ17, nullptr, 0, index_gQQ);
}

}  // namespace isac

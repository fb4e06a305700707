// Frame coders of the super-wideband upper band (8 to 12 or 16 kHz).
#include <cstring>

#include "isac_codec.h"
#include "isac_fft.h"
#include "isac_lattice.h"
#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int16_t kUpperBandFull = -6470;

void reset(Bitstr_enc* s) {
    s->W_upper = 0xFFFFFFFFu;
    s->streamval = 0;
    s->stream_index = 0;
    s->full = 1;
}

// Gains of the interpolated filters, coded in groups of six; the quantised
// values come back in Q17.
int code_gains(ISACFIX_EncInstUB_t* u, const int16_t* filters, int count, const int32_t* corr, const int16_t* corr_Q,
               const int16_t* varscale, int16_t s2nr, int32_t* gainsQ17) {
    double gains[12];
    WebRtcIsacfix_GetLpcGain(s2nr, filters, count, gains, corr, corr_Q, varscale);
    for (int g = 0; g < count; g += 6) {
        int index[6];
        const int r = WebRtcIsac_EncodeLpcGainUb(gains + g, &u->bitstr_obj, index);
        if (r < 0) return r;
        for (int k = 0; k < 6; ++k) u->SaveEnc.lpcGainIndex[g + k] = static_cast<int16_t>(index[k]);
    }
    for (int k = 0; k < count; ++k) gainsQ17[k] = static_cast<int32_t>(gains[k] * 131072.0);
    return 0;
}

int finish(ISACFIX_EncInstUB_t* u, const int16_t* fr, const int16_t* fi, int16_t band) {
    u->SaveEnc.bitStreamObj = u->bitstr_obj;
    std::memcpy(u->SaveEnc.realFFT, fr, sizeof u->SaveEnc.realFFT);
    std::memcpy(u->SaveEnc.imagFFT, fi, sizeof u->SaveEnc.imagFFT);
    const int r = WebRtcIsacfix_EncodeSpec(fr, fi, &u->bitstr_obj, 0, band);
    if (r < 0 && r != kStreamFull) return r;
    if (r == kStreamFull || 2 * u->bitstr_obj.stream_index > u->maxPayloadSizeBytes - u->numBytesUsed - 3)
        return kUpperBandFull;
    return WebRtcIsacfix_EncTerminate(&u->bitstr_obj);
}

}  // namespace

int WebRtcIsacfix_EncodeImpl_UB16(const int16_t* in, ISACFIX_EncInstUB_t* u, int16_t jitterInfo) {
    std::memcpy(u->data_buffer_fix + u->buffer_index, in, sizeof(int16_t) * 160);
    if (u->buffer_index < 320) {
        u->buffer_index = static_cast<int16_t>(u->buffer_index + 160);
        return 0;
    }
    reset(&u->bitstr_obj);
    int r = WebRtcIsac_EncodeJitterInfo(jitterInfo, &u->bitstr_obj);
    if (r < 0) return r;
    r = WebRtcIsac_EncodeBandwidth(isac16kHz, &u->bitstr_obj);
    if (r < 0) return r;
    const int16_t s2nr = WebRtcIsacfix_GetSnr(static_cast<int16_t>(u->BottleNeck), 480);
    // Four vectors: the previous frame's last, then this frame's three sets.
    int16_t vecs[16], corr_Q[12], varscale[2];
    int32_t corr[60];
    std::memcpy(vecs, u->lastLPCVec, sizeof u->lastLPCVec);
    WebRtcIsacfix_GetLpcCoef_UB(u->data_buffer_fix + 24, &u->maskfiltstr_obj, vecs + 4, corr, corr_Q, varscale,
                                isac16kHz);
    std::memcpy(u->lastLPCVec, vecs + 12, sizeof u->lastLPCVec);
    int16_t params[52];
    r = WebRtcIsacfix_EncodeLpc_UB(vecs, &u->bitstr_obj, params, isac16kHz, &u->SaveEnc);
    if (r < 0) return r;
    int32_t gQ17[12];
    r = code_gains(u, params + 4, 12, corr, corr_Q, varscale, s2nr, gQ17);
    if (r < 0) return r;
    int32_t gains[12];
    for (int k = 0; k < 6; ++k) {
        gains[2 * k] = gQ17[k];
        gains[2 * k + 1] = gQ17[k + 6];
    }
    for (int k = 0; k < 12; ++k) u->SaveEnc.lpcGain[k] = lo16(gQ17[k]);
    int16_t first[240], second[240];
    WebRtcIsacfix_NormLatticeFilterMa(4, u->maskfiltstr_obj.PreStateLoGQ15, u->data_buffer_fix, params + 4, gains, 0,
                                      first);
    WebRtcIsacfix_NormLatticeFilterMa(4, u->maskfiltstr_obj.PreStateLoGQ15, u->data_buffer_fix + 240, params + 28,
                                      gains, 1, second);
    WebRtcIsacfix_Time2SpecC(first, second, first, second);
    std::memmove(u->data_buffer_fix, u->data_buffer_fix + 480, sizeof(int16_t) * 48);
    u->buffer_index = 48;
    return finish(u, first, second, kIsacUpperBand16);
}

int WebRtcIsacfix_EncodeImpl_UB12(const int16_t* in, ISACFIX_EncInstUB_t* u, int16_t jitterInfo) {
    std::memcpy(u->data_buffer_fix + u->buffer_index, in, sizeof(int16_t) * 160);
    if (u->buffer_index < 320) {
        u->buffer_index = static_cast<int16_t>(u->buffer_index + 160);
        return 0;
    }
    // The 12 kHz band carries no look-ahead between frames: its split has
    // its own, and the next frame starts where this one ended.
    u->buffer_index = 0;
    reset(&u->bitstr_obj);
    int r = WebRtcIsac_EncodeJitterInfo(jitterInfo, &u->bitstr_obj);
    if (r < 0) return r;
    r = WebRtcIsac_EncodeBandwidth(isac12kHz, &u->bitstr_obj);
    if (r < 0) return r;
    const int16_t s2nr = WebRtcIsacfix_GetSnr(static_cast<int16_t>(u->BottleNeck), 480);
    // The 32 kHz split hands over 8-16 kHz mirrored (16 kHz at 0 Hz), so of
    // this band's split the upper half holds 8-12 kHz and the lower half
    // 12-16 kHz. The decoder rebuilds the upper half only (its combine puts
    // the decoded band where the lower-band codec puts its high band), so the
    // upper half is what is coded; 12-16 kHz is dropped.
    int16_t lp[264], hp[264];
    WebRtcIsacfix_SplitAndFilter1(u->data_buffer_fix, lp, hp, &u->prefiltbankstr_obj);
    int16_t vecs[8], corr_Q[6], varscale[2];
    int32_t corr[30];
    WebRtcIsacfix_GetLpcCoef_UB(hp, &u->maskfiltstr_obj, vecs, corr, corr_Q, varscale, isac12kHz);
    int16_t params[24];
    r = WebRtcIsacfix_EncodeLpc_UB(vecs, &u->bitstr_obj, params, isac12kHz, &u->SaveEnc);
    if (r < 0) return r;
    int32_t gQ17[6];
    r = code_gains(u, params, 6, corr, corr_Q, varscale, s2nr, gQ17);
    if (r < 0) return r;
    int32_t gains[12] = {};
    for (int k = 0; k < 6; ++k) gains[2 * k] = gQ17[k];
    for (int k = 0; k < 6; ++k) u->SaveEnc.lpcGain[k] = lo16(gQ17[k]);
    int16_t band[240], zero[240] = {};
    WebRtcIsacfix_NormLatticeFilterMa(4, u->maskfiltstr_obj.PreStateLoGQ15, hp, params, gains, 0, band);
    WebRtcIsacfix_Time2SpecC(band, zero, band, zero);
    return finish(u, band, zero, kIsacUpperBand12);
}

int WebRtcIsac_DecodeUb16(int16_t* signal_out, ISACFIX_DecInstUB_t* d, int16_t isRCUPayload) {
    int16_t params[52] = {};
    int32_t gQ17[12];
    if (WebRtcIsacfix_DecodeInterpolLpcUb(&d->bitstr_obj, params, gQ17, isac16kHz) < 0) return -6680;
    int16_t fr[240], fi[240];
    const int len = WebRtcIsacfix_DecodeSpec(&d->bitstr_obj, fr, fi, 0, kIsacUpperBand16);
    if (len < 0) return len;
    if (isRCUPayload)
        for (int k = 0; k < 240; ++k) {
            fr[k] = sat16(2 * fr[k]);
            fi[k] = sat16(2 * fi[k]);
        }
    int32_t first[240], second[240], gains[12];
    WebRtcIsacfix_Spec2TimeC(fr, fi, first, second);
    for (int k = 0; k < 6; ++k) {
        gains[2 * k] = gQ17[k];
        gains[2 * k + 1] = gQ17[k + 6];
    }
    for (int n = 0; n < 240; ++n) {
        first[n] = shl32(first[n], 9);
        second[n] = shl32(second[n], 9);
    }
    WebRtcIsacfix_NormLatticeFilterAr(4, d->maskfiltstr_obj.PostStateHiGQ0, first, params + 4, gains, 0, signal_out);
    WebRtcIsacfix_NormLatticeFilterAr(4, d->maskfiltstr_obj.PostStateHiGQ0, second, params + 28, gains, 1,
                                      signal_out + 240);
    return len;
}

int WebRtcIsac_DecodeUb12(int16_t* signal_out, ISACFIX_DecInstUB_t* d, int16_t isRCUPayload) {
    int16_t params[24] = {};
    int32_t gQ17[6];
    if (WebRtcIsacfix_DecodeInterpolLpcUb(&d->bitstr_obj, params, gQ17, isac12kHz) < 0) return -6680;
    int16_t fr[240], fi[240];
    const int len = WebRtcIsacfix_DecodeSpec(&d->bitstr_obj, fr, fi, 0, kIsacUpperBand12);
    if (len < 0) return len;
    if (isRCUPayload)
        for (int k = 0; k < 240; ++k) {
            fr[k] = sat16(2 * fr[k]);
            fi[k] = sat16(2 * fi[k]);
        }
    int32_t first[240], second[240], gains[12] = {};
    WebRtcIsacfix_Spec2TimeC(fr, fi, first, second);
    for (int k = 0; k < 6; ++k) gains[2 * k] = gQ17[k];
    for (int n = 0; n < 240; ++n) first[n] = shl32(first[n], 9);
    int16_t band[240], ch1[240], ch2[240];
    WebRtcIsacfix_NormLatticeFilterAr(4, d->maskfiltstr_obj.PostStateHiGQ0, first, params, gains, 0, band);
    for (int n = 0; n < 240; ++n) {
        ch1[n] = sat16(band[n] + 1);
        ch2[n] = sat16(-band[n]);
    }
    WebRtcIsacfix_FilterAndCombine1(ch1, ch2, signal_out, &d->postfiltbankstr_obj);
    return len;
}

}  // namespace isac

#include <cstring>

#include "isac_codec.h"
#include "isac_fft.h"
#include "isac_lattice.h"
#include "isac_ops.h"

namespace isac {
namespace {

constexpr int16_t kRatioQ5[8] = {0, 6, 9, 12, 16, 19, 22, 25};
constexpr int16_t kScaleQ14[8] = {0, 348, 828, 1408, 2015, 3195, 3500, 3500};

void restore(Bitstr_enc* s, const transcode_obj& t) {
    s->W_upper = t.W_upper;
    s->streamval = t.streamval;
    s->stream_index = t.stream_index;
    s->full = t.full;
    if (t.stream_index > 0) s->stream[t.stream_index - 1] = t.beforeLastWord;
    if (t.stream_index < kStreamWords) s->stream[t.stream_index] = t.lastWord;
}

int byte_count(const Bitstr_enc& s) { return 2 * s.stream_index + 1 - s.full; }

// Scale index for a spectrum that did not fit: the ratio of the bytes left
// to the spectrum's bytes, by three comparisons.
int scale_index(int status, int limit, int before, int current) {
    if (status == kStreamFull) return 0;
    const int32_t left = 32 * (limit - before);
    const int32_t d = current - before;
    int i = left < kRatioQ5[4] * d ? 2 : 6;
    i = left < kRatioQ5[i] * d ? i - 1 : i + 1;
    if (left < kRatioQ5[i] * d) --i;
    return i;
}

}  // namespace

int WebRtcIsacfix_EncodeImpl(const int16_t* in, ISACFIX_EncInst_t* e, int16_t CodingMode, int16_t bottleneckIndex) {
    if (e->buffer_index == 0) e->current_framesamples = e->new_framelength;
    const int frame_mode = e->current_framesamples / 960;
    const int processed = e->current_framesamples / (frame_mode + 1);
    std::memcpy(e->data_buffer_fix + e->buffer_index, in, sizeof(int16_t) * 160);
    if (e->buffer_index + 160 != processed) {
        e->buffer_index = static_cast<int16_t>(e->buffer_index + 160);
        return 0;
    }
    e->buffer_index = 0;
    const bool second_half = frame_mode == 1 && e->frame_nb == 1;
    auto fail = [&](int status) {
        if (second_half) e->frame_nb = 0;
        return status;
    };
    Bitstr_enc* s = &e->bitstr_obj;
    if (frame_mode == 0 || e->frame_nb == 0) {
        s->W_upper = 0xFFFFFFFFu;
        s->streamval = 0;
        s->stream_index = 0;
        s->full = 1;
        if (CodingMode == 0 && frame_mode == 0 && e->enforceFrameSize == 0)
            e->new_framelength = WebRtcIsacfix_GetNewFrameLength(static_cast<int16_t>(e->BottleNeck), e->current_framesamples);
        e->s2nr = WebRtcIsacfix_GetSnr(static_cast<int16_t>(e->BottleNeck), e->current_framesamples);
        int r = WebRtcIsacfix_EncodeFrameLen(e->current_framesamples, s);
        if (r < 0) return fail(r);
        if (e->SaveEnc_ptr != nullptr) e->SaveEnc_ptr->framelength = e->current_framesamples;
        e->lastBWIdx = bottleneckIndex;
        r = WebRtcIsacfix_EncodeReceiveBandwidth(&e->lastBWIdx, s);
        if (r < 0) return fail(r);
    }
    int16_t lp[264], hp[264], pitch_out[264], lags[4], gains[4];
    WebRtcIsacfix_SplitAndFilter1(e->data_buffer_fix, lp, hp, &e->prefiltbankstr_obj);
    WebRtcIsacfix_PitchAnalysis(lp, pitch_out, &e->pitchanalysisstr_obj, lags, gains);
    ISAC_SaveEncData_t* save = e->SaveEnc_ptr;
    if (save != nullptr) save->startIdx = second_half ? 1 : 0;
    int r = WebRtcIsacfix_EncodePitchGain(gains, s, save);
    if (r < 0) return fail(r);
    r = WebRtcIsacfix_EncodePitchLag(lags, gains, s, save);
    if (r < 0) return fail(r);
    const int16_t avg = static_cast<int16_t>((gains[0] + gains[1] + gains[2] + gains[3]) >> 2);

    int32_t gain_lo_hi[12], gain_copy[12], sizeQ11;
    int16_t lo[72], hi[36], model;
    WebRtcIsacfix_GetLpcCoef(pitch_out, hp, &e->maskfiltstr_obj, e->s2nr, gains, gain_lo_hi, lo, hi);
    std::memcpy(gain_copy, gain_lo_hi, sizeof gain_copy);
    transcode_obj tr{};
    r = WebRtcIsacfix_EncodeLpc(gain_lo_hi, lo, hi, &model, &sizeQ11, s, save, &tr);
    if (r < 0) return fail(r);
    int before = byte_count(*s);

    int16_t lo9[240], lo_pf[240], hi9[240], fre[240], fim[240];
    WebRtcIsacfix_NormLatticeFilterMa(12, e->maskfiltstr_obj.PreStateLoGQ15, lp, lo, gain_lo_hi, 0, lo9);
    WebRtcIsacfix_PitchFilter(lo9, lo_pf, &e->pitchfiltstr_obj, lags, gains, kPitchFilterPre);
    WebRtcIsacfix_NormLatticeFilterMa(6, e->maskfiltstr_obj.PreStateHiGQ15, hp, hi, gain_lo_hi, 1, hi9);
    std::memcpy(fre, lo_pf, sizeof fre);
    std::memcpy(fim, hi9, sizeof fim);
    WebRtcIsacfix_Time2SpecC(fre, fim, fre, fim);
    const int half = save != nullptr ? save->startIdx : 0;
    if (save != nullptr) {
        std::memcpy(save->fre + 240 * half, fre, sizeof fre);
        std::memcpy(save->fim + 240 * half, fim, sizeof fim);
        save->AvgPitchGain[half] = avg;
    }
    int status = WebRtcIsacfix_EncodeSpec(fre, fim, s, avg, kIsacLowerBand);
    if (status < 0 && status != kStreamFull) return fail(status);

    const int limit = frame_mode == 0 ? e->payloadLimitBytes30 - 3
                                      : (second_half ? e->payloadLimitBytes60 - 3 : e->payloadLimitBytes60 / 2);
    int retries = 0;
    while (status == kStreamFull || 2 * s->stream_index > limit) {
        if (retries == 1) {
            if (frame_mode == 1 && !second_half) {
                e->frame_nb = 1;
                return 0;
            }
            if (second_half) e->frame_nb = 0;
            return status == kStreamFull ? kStreamFull : -6450;
        }
        const int16_t scale = kScaleQ14[scale_index(status, limit, before, byte_count(*s))];
        for (int k = 0; k < 240; ++k) {
            fre[k] = lo16((fre[k] * scale) >> 14);
            fim[k] = lo16((fim[k] * scale) >> 14);
        }
        if (save != nullptr) {
            std::memcpy(save->fre + 240 * half, fre, sizeof fre);
            std::memcpy(save->fim + 240 * half, fim, sizeof fim);
        }
        for (int k = 0; k < 12; ++k) {
            gain_lo_hi[k] = static_cast<int32_t>((static_cast<int64_t>(gain_copy[k]) * scale + 8192) >> 14);
            gain_copy[k] = gain_lo_hi[k];
        }
        restore(s, tr);
        r = WebRtcIsacfix_EstCodeLpcGain(gain_lo_hi, s, save);
        if (r < 0) return fail(r);
        before = byte_count(*s);
        status = WebRtcIsacfix_EncodeSpec(fre, fim, s, avg, kIsacLowerBand);
        if (status < 0 && status != kStreamFull) return fail(status);
        ++retries;
    }
    if (frame_mode == 1 && !second_half) {
        e->frame_nb = 1;
        return 0;
    }
    if (second_half) {
        e->frame_nb = 0;
        if (CodingMode == 0 && e->enforceFrameSize == 0)
            e->new_framelength = WebRtcIsacfix_GetNewFrameLength(static_cast<int16_t>(e->BottleNeck), e->current_framesamples);
    }
    return WebRtcIsacfix_EncTerminate(s);
}


}  // namespace isac

#include "isac_codec.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int16_t kErrEncoderNotInit = 6410;
constexpr int16_t kErrDecoderNotInit = 6610;
constexpr int16_t kErrEmptyPacket = 6620;
constexpr int16_t kErrLength = 6730;
constexpr int16_t kErrCodingMode = 6420;
constexpr int16_t kErrRange = 6030;
constexpr int16_t kErrFrameSize = 6040;
constexpr int16_t kErrNotAdaptive = 6020;

ISACFIX_SubStruct* sub(ISACFIX_MainStruct* m) { return reinterpret_cast<ISACFIX_SubStruct*>(m); }

int16_t fail(ISACFIX_SubStruct* s, int code) {
    s->errorcode = static_cast<int16_t>(code);
    return -1;
}

void init_pitch_filter(PitchFiltstr* p) {
    *p = PitchFiltstr{};
    p->oldlagQ7 = 6400;
}

void init_pitch_analysis(PitchAnalysisStruct* p) {
    *p = PitchAnalysisStruct{};
    init_pitch_filter(&p->PFstr_wght);
    init_pitch_filter(&p->PFstr);
}

void update_payload_limits(ISACFIX_SubStruct* s) {
    const int16_t L30 = s->maxPayloadSizeBytes < s->maxRateBytesPer30Ms ? s->maxPayloadSizeBytes : s->maxRateBytesPer30Ms;
    if (s->bandwidthKHz == isac8kHz) {
        s->ISACenc_obj.payloadLimitBytes30 = L30;
        const int32_t twice = 2 * s->maxRateBytesPer30Ms;
        s->ISACenc_obj.payloadLimitBytes60 =
            static_cast<int16_t>(twice < s->maxPayloadSizeBytes ? twice : s->maxPayloadSizeBytes);
    } else {
        int32_t v;
        if (L30 > 250) v = 4 * L30 / 5;
        else if (L30 > 200) v = 2 * L30 / 5 + 100;
        else v = L30 - 20;
        s->ISACenc_obj.payloadLimitBytes30 = static_cast<int16_t>(v);
        s->ISACencUB_obj.maxPayloadSizeBytes = L30;
    }
}

// Bytes of a payload as the coder's words: the earlier byte in the high half;
// the words beyond the payload stay 0.
void to_words(const uint8_t* bytes, std::size_t len, uint16_t* words) {
    for (std::size_t i = 0; i < len; ++i) {
        if (i & 1) words[i / 2] = static_cast<uint16_t>(words[i / 2] | bytes[i]);
        else words[i / 2] = static_cast<uint16_t>(bytes[i] << 8);
    }
}

// The adaptive mode's rate for the frame about to start, from the uplink
// estimate. The hold at 37000 and the caps keep the coded bandwidth from
// flapping between 8 and 12 kHz (and from climbing out of 12 kHz) on small
// changes of the estimate.
void update_bottleneck(ISACFIX_SubStruct* s) {
    ISACFIX_EncInst_t& e = s->ISACenc_obj;
    int32_t rate = WebRtcIsacfix_GetUplinkBandwidth(&s->bwestimator_obj);
    if (s->bandwidthKHz == isac8kHz) rate = (rate > 37000 && rate < 41000) ? 37000 : (rate > 46000 ? 46000 : rate);
    else if (s->bandwidthKHz == isac12kHz && rate > 46000) rate = 46000;
    if (s->encoderSamplingRateKHz == kIsacWideband) {
        e.BottleNeck = rate > 32000 ? 32000 : rate;
        s->bandwidthKHz = isac8kHz;
        return;
    }
    double lb = 0, ub = 0;
    int16_t bw = isac8kHz;
    // The estimate stays within 10000..56000, which the allocation covers.
    WebRtcIsac_RateAllocation(rate, &lb, &ub, &bw);
    e.BottleNeck = static_cast<int32_t>(lb);
    s->ISACencUB_obj.BottleNeck = static_cast<int32_t>(ub);
    // An upper band is coded in 30 ms frames only.
    if (bw != isac8kHz) e.new_framelength = 480;
    if (bw != s->bandwidthKHz) {
        s->bandwidthKHz = bw;
        update_payload_limits(s);
    }
}

int32_t control_band(double rate, int32_t* bottleneck) {
    if (rate < 10000.0 || rate > 32000.0) return -kErrRange;
    *bottleneck = static_cast<int32_t>(rate);
    return 0;
}

}  // namespace

int16_t WebRtcIsacfix_Create(ISACFIX_MainStruct** inst, int32_t* mem_ptr, std::size_t max_size_bytes,
                             int32_t* size_used) {
    // The block is measured in bytes against the instance as this host lays
    // it out (kIsacfixInstanceBytes: its pointers' width changes the size).
    if (max_size_bytes < sizeof(ISACFIX_SubStruct)) return -1;
    *size_used = static_cast<int32_t>((sizeof(ISACFIX_SubStruct) + 3) / 4);
    *inst = reinterpret_cast<ISACFIX_MainStruct*>(mem_ptr);
    if (mem_ptr == nullptr) return -1;
    ISACFIX_SubStruct* s = new (mem_ptr) ISACFIX_SubStruct{};
    s->errorcode = 0;
    s->initflag = 0;
    s->ISACenc_obj.SaveEnc_ptr = nullptr;
    s->internalSaveEnc = nullptr;
    s->bandwidthKHz = isac8kHz;
    s->encoderSamplingRateKHz = kIsacWideband;
    s->decoderSamplingRateKHz = kIsacWideband;
    return 0;
}

int16_t WebRtcIsacfix_AssignSize(int* sizeinbytes) {
    *sizeinbytes = static_cast<int>(sizeof(ISACFIX_SubStruct));
    return 0;
}

int16_t WebRtcIsacfix_Assign(ISACFIX_MainStruct** inst, void* addr) {
    if (addr == nullptr) return -1;
    *inst = static_cast<ISACFIX_MainStruct*>(addr);
    ISACFIX_SubStruct* s = sub(*inst);
    s->errorcode = 0;
    s->initflag = 0;
    s->ISACenc_obj.SaveEnc_ptr = nullptr;
    s->internalSaveEnc = nullptr;
    return 0;
}

int16_t WebRtcIsacfix_CreateInternal(ISACFIX_MainStruct* inst) {
    ISACFIX_SubStruct* s = sub(inst);
    if (s->internalSaveEnc != nullptr) return 0;  // one block per instance, never a second
    auto* block = static_cast<ISAC_SaveEncData_t*>(std::calloc(1, sizeof(ISAC_SaveEncData_t)));
    if (block == nullptr) return -1;
    s->internalSaveEnc = block;
    s->ISACenc_obj.SaveEnc_ptr = block;
    return 0;
}

void WebRtcIsacfix_FreeInternal(ISACFIX_MainStruct* inst) {
    ISACFIX_SubStruct* s = sub(inst);
    std::free(s->internalSaveEnc);
    s->internalSaveEnc = nullptr;
    s->ISACenc_obj.SaveEnc_ptr = nullptr;
}

int16_t WebRtcIsacfix_EncoderInit(ISACFIX_MainStruct* inst, int16_t CodingMode, int16_t SWB) {
    ISACFIX_SubStruct* s = sub(inst);
    int16_t result = 0;
    s->initflag = static_cast<int16_t>(s->initflag | 2);
    if (SWB) {
        s->encoderSamplingRateKHz = s->decoderSamplingRateKHz = kIsacSuperWideband;
        s->bottleneck = 56000;
        s->bandwidthKHz = isac16kHz;
        s->maxPayloadSizeBytes = 600;
        s->maxRateBytesPer30Ms = 600;
        std::memset(s->analysisFBState1, 0, sizeof s->analysisFBState1);
        std::memset(s->analysisFBState2, 0, sizeof s->analysisFBState2);
    } else {
        s->encoderSamplingRateKHz = s->decoderSamplingRateKHz = kIsacWideband;
        s->bandwidthKHz = isac8kHz;
        s->maxPayloadSizeBytes = 400;
        s->maxRateBytesPer30Ms = 200;
    }
    ISACFIX_EncInst_t& e = s->ISACenc_obj;
    if (SWB || CodingMode == 1) {
        e.new_framelength = 480;
    } else if (CodingMode == 0) {
        e.new_framelength = 960;
    } else {
        s->errorcode = kErrCodingMode;
        result = -1;
    }
    s->CodingMode = CodingMode;
    WebRtcIsacfix_InitBandwidthEstimator(&s->bwestimator_obj, s->encoderSamplingRateKHz, s->decoderSamplingRateKHz);
    WebRtcIsacfix_InitRateModel(&e.rate_data_obj);
    e.maskfiltstr_obj = MaskFiltstr_enc{};
    e.maskfiltstr_obj.OldEnergy = 10;
    e.prefiltbankstr_obj = PreFiltBankstr{};
    init_pitch_filter(&e.pitchfiltstr_obj);
    init_pitch_analysis(&e.pitchanalysisstr_obj);
    e.buffer_index = 0;
    e.BottleNeck = 32000;
    e.MaxDelay = 10;
    e.frame_nb = 0;
    e.current_framesamples = 0;
    e.bitstr_seed = 4447;
    e.payloadLimitBytes30 = 200;
    e.maxRateInBytes = 200;
    e.s2nr = 0;
    e.MaxBits = 0;
    e.payloadLimitBytes60 = 400;
    e.maxPayloadBytes = 400;
    e.enforceFrameSize = 0;
    std::memset(e.bitstr_obj.stream, 0, sizeof e.bitstr_obj.stream);
    WebRtcIsacfix_InitBitstreamEnc(&e.bitstr_obj);

    ISACFIX_EncInstUB_t& u = s->ISACencUB_obj;
    std::memset(u.bitstr_obj.stream, 0, sizeof u.bitstr_obj.stream);
    u.maskfiltstr_obj = MaskFiltstr_enc_UB{};
    u.maskfiltstr_obj.OldEnergy = 10;
    u.prefiltbankstr_obj = PreFiltBankstr{};
    u.buffer_index = s->bandwidthKHz == isac16kHz ? 48 : 0;
    u.BottleNeck = 32000;
    u.maxPayloadSizeBytes = 200;
    u.numBytesUsed = 0;
    std::memset(u.data_buffer_fix, 0, sizeof u.data_buffer_fix);
    std::memcpy(u.lastLPCVec, WebRtcIsac_kMeanLarUb16, sizeof u.lastLPCVec);
    return result;
}

int16_t WebRtcIsacfix_DecoderInit(ISACFIX_MainStruct* inst) {
    ISACFIX_SubStruct* s = sub(inst);
    ISACFIX_DecInst_t& d = s->ISACdec_obj;
    d.maskfiltstr_obj = MaskFiltstr_dec{};
    d.maskfiltstr_obj.OldEnergy = 10;
    d.postfiltbankstr_obj = PostFiltBankstr{};
    init_pitch_filter(&d.pitchfiltstr_obj);
    WebRtcIsacfix_InitPlc(&d.plcstr_obj);
    if (s->decoderSamplingRateKHz == kIsacSuperWideband) {
        s->ISACdecUB_obj.maskfiltstr_obj = MaskFiltstr_dec{};
        s->ISACdecUB_obj.maskfiltstr_obj.OldEnergy = 10;
        s->ISACdecUB_obj.postfiltbankstr_obj = PostFiltBankstr{};
        std::memset(s->synthesisFBState1, 0, sizeof s->synthesisFBState1);
        std::memset(s->synthesisFBState2, 0, sizeof s->synthesisFBState2);
    }
    if (!(s->initflag & 2))
        WebRtcIsacfix_InitBandwidthEstimator(&s->bwestimator_obj, s->encoderSamplingRateKHz, s->decoderSamplingRateKHz);
    s->resetFlag_8kHz = 0;
    s->initflag = static_cast<int16_t>(s->initflag | 1);
    return 0;
}

int16_t WebRtcIsac_RateAllocation(int32_t inRate, double* rateLB, double* rateUB, int16_t* bandwidthKHz) {
    if (inRate < 38000) {
        *rateLB = inRate > 32000 ? 32000 : inRate;
        *rateUB = 0;
        *bandwidthKHz = isac8kHz;
    } else if (inRate < 50000) {
        const double idxD = (inRate - 38000) * 0.00085714286;
        const int idx = idxD >= 6.0 ? 6 : static_cast<int>(idxD);
        *rateLB = kLowerBandBitRate12[idx];
        *rateUB = kUpperBandBitRate12[idx];
        if (idx < 6) {
            *rateLB += static_cast<int16_t>((idxD - idx) * (kLowerBandBitRate12[idx + 1] - kLowerBandBitRate12[idx]));
            *rateUB += static_cast<int16_t>((idxD - idx) * (kUpperBandBitRate12[idx + 1] - kUpperBandBitRate12[idx]));
        }
        *bandwidthKHz = isac12kHz;
    } else if (inRate <= 56000) {
        const double idxD = (inRate - 50000) * 0.00083333333;
        const int idx = idxD >= 5.0 ? 5 : static_cast<int>(idxD);
        *rateLB = kLowerBandBitRate16[idx];
        *rateUB = kUpperBandBitRate16[idx];
        if (idx < 5) {
            *rateLB += static_cast<int16_t>((idxD - idx) * (kLowerBandBitRate16[idx + 1] - kLowerBandBitRate16[idx]));
            *rateUB += static_cast<int16_t>((idxD - idx) * (kUpperBandBitRate16[idx + 1] - kUpperBandBitRate16[idx]));
        }
        *bandwidthKHz = isac16kHz;
    } else {
        return -1;
    }
    if (*rateLB > 32000) *rateLB = 32000;
    if (*rateUB > 32000) *rateUB = 32000;
    return 0;
}

int16_t WebRtcIsacfix_Control(ISACFIX_MainStruct* inst, int32_t bottleneckBPS, int16_t framesize) {
    ISACFIX_SubStruct* s = sub(inst);
    if (!(s->initflag & 2)) return fail(s, kErrEncoderNotInit);
    double rateLB, rateUB;
    int16_t bw;
    if (s->encoderSamplingRateKHz == kIsacWideband) {
        bw = isac8kHz;
        rateLB = bottleneckBPS > 32000 ? 32000 : bottleneckBPS;
        rateUB = 0;
    } else if (WebRtcIsac_RateAllocation(bottleneckBPS, &rateLB, &rateUB, &bw) < 0) {
        return -1;
    }
    if (s->encoderSamplingRateKHz == kIsacSuperWideband && framesize != 30 && bw != isac8kHz)
        return fail(s, kErrFrameSize);
    int32_t r = control_band(rateLB, &s->ISACenc_obj.BottleNeck);
    if (r == 0) {
        if (framesize == 30 || framesize == 60) s->ISACenc_obj.new_framelength = static_cast<int16_t>(16 * framesize);
        else r = -kErrFrameSize;
    }
    if (r < 0) return fail(s, -r);
    if (bw != isac8kHz) {
        r = control_band(rateUB, &s->ISACencUB_obj.BottleNeck);
        if (r < 0) return fail(s, -r);
    }
    if (s->bandwidthKHz == isac8kHz && bw != isac8kHz) {
        std::memset(s->ISACencUB_obj.data_buffer_fix, 0, sizeof s->ISACencUB_obj.data_buffer_fix);
        s->ISACencUB_obj.buffer_index = static_cast<int16_t>(s->ISACenc_obj.buffer_index + (bw == isac16kHz ? 48 : 0));
        if (bw == isac16kHz) std::memcpy(s->ISACencUB_obj.lastLPCVec, WebRtcIsac_kMeanLarUb16, sizeof s->ISACencUB_obj.lastLPCVec);
    }
    if (bw != s->bandwidthKHz) {
        s->bandwidthKHz = bw;
        update_payload_limits(s);
    }
    s->bottleneck = bottleneckBPS;
    return 0;
}

int16_t WebRtcIsacfix_ControlBwe(ISACFIX_MainStruct* inst, int32_t rateBPS, int16_t frameSizeMs,
                                 int16_t enforceFrameSize) {
    ISACFIX_SubStruct* s = sub(inst);
    if (!(s->initflag & 2)) return fail(s, kErrEncoderNotInit);
    if (s->CodingMode != 0) return fail(s, kErrNotAdaptive);
    if (frameSizeMs != 30 && s->encoderSamplingRateKHz == kIsacSuperWideband) return fail(s, kErrFrameSize);
    s->ISACenc_obj.enforceFrameSize = enforceFrameSize ? 1 : 0;
    if (rateBPS != 0) {
        double lb, ub;
        int16_t bw;
        if (WebRtcIsac_RateAllocation(rateBPS, &lb, &ub, &bw) < 0) return -1;
        s->bwestimator_obj.sendBwAvg = rateBPS * 128;
        s->bandwidthKHz = bw;
    }
    if (frameSizeMs != 30 && frameSizeMs != 60) return fail(s, kErrFrameSize);
    s->ISACenc_obj.new_framelength = static_cast<int16_t>(16 * frameSizeMs);
    return 0;
}

int16_t WebRtcIsacfix_SetMaxPayloadSize(ISACFIX_MainStruct* inst, int16_t maxPayloadBytes) {
    ISACFIX_SubStruct* s = sub(inst);
    if (!(s->initflag & 2)) return fail(s, kErrEncoderNotInit);
    const int16_t upper = s->encoderSamplingRateKHz == kIsacSuperWideband ? 600 : 400;
    int16_t result = 0;
    if (maxPayloadBytes < 120) {
        maxPayloadBytes = 120;
        result = -1;
    } else if (maxPayloadBytes > upper) {
        maxPayloadBytes = upper;
        result = -1;
    }
    s->maxPayloadSizeBytes = maxPayloadBytes;
    update_payload_limits(s);
    return result;
}

int16_t WebRtcIsacfix_SetMaxRate(ISACFIX_MainStruct* inst, int32_t maxRate) {
    ISACFIX_SubStruct* s = sub(inst);
    if (!(s->initflag & 2)) return fail(s, kErrEncoderNotInit);
    int32_t bytes = maxRate * 3 / 800;
    int16_t result = 0;
    if (s->encoderSamplingRateKHz == kIsacWideband) {
        if (maxRate < 32000) {
            bytes = 120;
            result = -1;
        } else if (maxRate > 53400) {
            bytes = 200;
            result = -1;
        }
    } else if (bytes < 120) {
        bytes = 120;
        result = -1;
    } else if (bytes > 600) {
        bytes = 600;
        result = -1;
    }
    s->maxRateBytesPer30Ms = static_cast<int16_t>(bytes);
    update_payload_limits(s);
    return result;
}

int16_t WebRtcIsacfix_GetNewFrameLen(ISACFIX_MainStruct* inst) { return sub(inst)->ISACenc_obj.new_framelength; }

int16_t WebRtcIsacfix_Encode(ISACFIX_MainStruct* inst, const int16_t* speechIn, uint8_t* encoded, int16_t SWB) {
    ISACFIX_SubStruct* s = sub(inst);
    if (!(s->initflag & 2)) return fail(s, kErrEncoderNotInit);
    ISACFIX_EncInst_t& e = s->ISACenc_obj;
    int16_t lower[160], upper[160];
    const int16_t* lb = speechIn;
    if (SWB && s->encoderSamplingRateKHz == kIsacSuperWideband) {
        WebRtcSpl_AnalysisQMF(speechIn, lower, upper, s->analysisFBState1, s->analysisFBState2);
        lb = lower;
    }
    if (s->CodingMode == 0 && e.buffer_index == 0 && e.frame_nb == 0) update_bottleneck(s);
    int16_t bwIndex = 0, jitter = 0;
    if (e.buffer_index == 320 && e.frame_nb == 0)
        WebRtcIsac_GetDownlinkBwJitIndexImpl(&s->bwestimator_obj, &bwIndex, &jitter, s->decoderSamplingRateKHz);
    const int len = WebRtcIsacfix_EncodeImpl(lb, &e, s->CodingMode, bwIndex);
    if (len < 0) return fail(s, -len);
    int ub_len = 0;
    const bool swb = SWB && s->encoderSamplingRateKHz == kIsacSuperWideband;
    if (swb) {
        ISACFIX_EncInstUB_t& u = s->ISACencUB_obj;
        u.numBytesUsed = static_cast<int16_t>(len + 5);
        if (s->bandwidthKHz == isac16kHz) ub_len = WebRtcIsacfix_EncodeImpl_UB16(upper, &u, jitter);
        else if (s->bandwidthKHz == isac12kHz) ub_len = WebRtcIsacfix_EncodeImpl_UB12(upper, &u, jitter);
        // An upper band that does not fit is dropped; the packet keeps its
        // lower band.
        if (ub_len == -6450 || ub_len == -6470) ub_len = 0;
        if (ub_len < 0) return -1;
        if (ub_len > 250) ub_len = 0;
    }
    if (len == 0) return 0;
    for (int i = 0; i < len; ++i) {
        const uint16_t w = e.bitstr_obj.stream[i / 2];
        encoded[i] = static_cast<uint8_t>((i & 1) ? (w & 0xFF) : (w >> 8));
    }
    int total = len;
    if (ub_len > 0) {
        encoded[len] = static_cast<uint8_t>(ub_len + 5);
        for (int i = 0; i < ub_len; ++i) {
            const uint16_t w = s->ISACencUB_obj.bitstr_obj.stream[i / 2];
            encoded[len + 1 + i] = static_cast<uint8_t>((i & 1) ? (w & 0xFF) : (w >> 8));
        }
        total = len + 1 + ub_len;
    }
    const int32_t bottleneck = WebRtcIsacfix_GetUplinkBandwidth(&s->bwestimator_obj);
    if (s->CodingMode == 1) {
        WebRtcIsacfix_UpdateRateModel(&e.rate_data_obj, static_cast<int16_t>(len), e.current_framesamples,
                                      static_cast<int16_t>(bottleneck));
    } else {
        e.MaxDelay = WebRtcIsacfix_GetUplinkMaxDelay(&s->bwestimator_obj);
        int minBytes = WebRtcIsacfix_GetMinBytes(&e.rate_data_obj, static_cast<int16_t>(len), e.current_framesamples,
                                                 static_cast<int16_t>(bottleneck), e.MaxDelay, s->bandwidthKHz);
        const int limit = s->bandwidthKHz == isac8kHz
                              ? (e.current_framesamples == 480 ? e.payloadLimitBytes30 : e.payloadLimitBytes60)
                              : s->ISACencUB_obj.maxPayloadSizeBytes;
        if (minBytes > limit) minBytes = limit;
        const int cap = ub_len > 0 ? len + 250 - ub_len : len + 255;
        if (minBytes > cap) minBytes = cap;
        const int used = ub_len > 0 ? len + 5 + ub_len : len;
        if (minBytes > used) {
            const int G = minBytes - used;
            encoded[total] = static_cast<uint8_t>(G);
            for (int i = 1; i < G; ++i) encoded[total + i] = 0xCC;
            total += G;
            if (ub_len > 0) encoded[len] = static_cast<uint8_t>(encoded[len] + G);
        }
    }
    if (ub_len > 0) {
        uint32_t crc = 0;
        WebRtcIsac_GetCrc(reinterpret_cast<const int16_t*>(encoded + len + 1), total - len - 1, &crc);
        for (int i = 0; i < 4; ++i) encoded[total + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        total += 4;
    }
    return static_cast<int16_t>(total);
}

int16_t WebRtcIsacfix_Decode(ISACFIX_MainStruct* inst, const uint8_t* encoded, std::size_t len, int16_t* decoded,
                             int16_t* speechType) {
    ISACFIX_SubStruct* s = sub(inst);
    if (!(s->initflag & 1)) return fail(s, kErrDecoderNotInit);
    if (len < 1) return fail(s, kErrEmptyPacket);
    if (len > 600) len = 600;
    // Zero-filled, and the reader stops at `len`: a crafted stream reads
    // nothing stale and nothing outside the payload.
    uint16_t words[300] = {};
    to_words(encoded, len, words);
    WebRtcIsacfix_InitBitstreamDec(&s->ISACdec_obj.bitstr_obj, words, static_cast<uint16_t>(len));
    *speechType = 1;
    int16_t samples = 0;
    const int declen = WebRtcIsacfix_DecodeImpl(decoded, &s->ISACdec_obj, &samples);
    s->ISACdec_obj.bitstr_obj.stream = nullptr;
    if (declen < 0) {
        std::memset(decoded, 0, sizeof(int16_t) * 960);
        return fail(s, -declen);
    }
    if (static_cast<std::size_t>(declen) != len) {
        if (static_cast<std::size_t>(declen) > len || encoded[declen] != len - declen) {
            std::memset(decoded, 0, sizeof(int16_t) * samples);
            return fail(s, kErrLength);
        }
        std::size_t at = static_cast<std::size_t>(declen);
        int blocks = 0;
        while (at < len) {
            const std::size_t block = encoded[at];
            if (block == 0 || at + block > len || ++blocks > 10) return fail(s, kErrLength);
            at += block;
        }
    }
    if (s->decoderSamplingRateKHz != kIsacSuperWideband) return samples;
    int16_t upper[480] = {};
    bool have_upper = false;
    if (static_cast<std::size_t>(declen) == len) {
        s->resetFlag_8kHz = 2;
    } else {
        const int L = encoded[declen];
        uint32_t crc = 0;
        bool good = L >= 6;
        if (good) {
            WebRtcIsac_GetCrc(reinterpret_cast<const int16_t*>(encoded + declen + 1), L - 5, &crc);
            for (int i = 0; i < 4; ++i) good &= encoded[declen + L - 4 + i] == static_cast<uint8_t>(crc >> (24 - 8 * i));
        }
        if (good) {
            if (samples > 480) return fail(s, kErrLength);
            std::memset(words, 0, sizeof words);
            to_words(encoded + declen + 1, static_cast<std::size_t>(L - 5), words);
            ISACFIX_DecInstUB_t& u = s->ISACdecUB_obj;
            WebRtcIsacfix_InitBitstreamDec(&u.bitstr_obj, words, static_cast<uint16_t>(L - 5));
            int32_t jit;
            int bw;
            int r = WebRtcIsac_DecodeJitterInfo(&u.bitstr_obj, &jit);
            if (r < 0) return fail(s, -r);
            if (s->encoderSamplingRateKHz == kIsacSuperWideband) {
                r = WebRtcIsac_UpdateUplinkJitter(&s->bwestimator_obj, jit);
                if (r < 0) return fail(s, -r);
            }
            r = WebRtcIsac_DecodeBandwidth(&u.bitstr_obj, &bw);
            if (r < 0) return fail(s, -r);
            int taken;
            if (bw == isac12kHz) {
                taken = WebRtcIsac_DecodeUb12(upper, &u, 0);
                if (taken >= 0 && s->resetFlag_8kHz > 0) {
                    std::memset(upper, 0, sizeof upper);
                    --s->resetFlag_8kHz;
                }
            } else if (bw == isac16kHz) {
                taken = WebRtcIsac_DecodeUb16(upper, &u, 0);
            } else {
                return -1;
            }
            u.bitstr_obj.stream = nullptr;
            const int payload = L - 5;
            const bool exact = taken == payload ||
                               (taken >= 0 && taken < payload && taken == payload - encoded[declen + 1 + taken]);
            if (taken < 0 || !exact) std::memset(upper, 0, sizeof upper);
            else have_upper = true;
        }
    }
    int16_t lower[960];
    std::memcpy(lower, decoded, sizeof(int16_t) * samples);
    const int blocks = samples / 160;
    int16_t zero[160] = {};
    for (int b = 0; b < blocks; ++b) {
        const int16_t* ub = b < 3 ? upper + 160 * b : zero;
        WebRtcSpl_SynthesisQMF(lower + 160 * b, ub, decoded + 320 * b, s->synthesisFBState1, s->synthesisFBState2);
    }
    *speechType = 0;
    return static_cast<int16_t>(have_upper ? samples + 480 : 2 * samples);
}

int16_t WebRtcIsacfix_DecodePlc(ISACFIX_MainStruct* inst, int16_t* decoded, int16_t noOfLostFrames, int16_t SWB) {
    ISACFIX_SubStruct* s = sub(inst);
    if (!(s->initflag & 1)) return fail(s, kErrDecoderNotInit);
    if (SWB) {
        int16_t lower[480], zero[160] = {}, n = 0;
        if (WebRtcIsacfix_DecodePlcImpl(lower, &s->ISACdec_obj, &n) < 0 || n != 480) return -1;
        for (int b = 0; b < 3; ++b)
            WebRtcSpl_SynthesisQMF(lower + 160 * b, zero, decoded + 320 * b, s->synthesisFBState1, s->synthesisFBState2);
        return 960;
    }
    if (noOfLostFrames > 2) noOfLostFrames = 2;
    if (noOfLostFrames < 1) noOfLostFrames = 1;
    int total = 0;
    for (int k = 0; k < noOfLostFrames; ++k) {
        int16_t n = 0;
        if (WebRtcIsacfix_DecodePlcImpl(decoded + 480 * k, &s->ISACdec_obj, &n) < 0) return -1;
        total += n;
    }
    return static_cast<int16_t>(total);
}

namespace {

int16_t update_bwe(ISACFIX_SubStruct* s, const uint8_t* encoded, std::size_t packet_size, std::size_t minimum,
                   uint16_t seq, uint32_t send_ts, uint32_t arr_ts) {
    if (packet_size < minimum) return fail(s, kErrEmptyPacket);
    if (packet_size > 600) return fail(s, kErrLength);
    if (!(s->initflag & 1)) return fail(s, kErrDecoderNotInit);
    uint16_t words[5] = {};
    to_words(encoded, packet_size < 10 ? packet_size : 10, words);
    Bitstr_dec d;
    WebRtcIsacfix_InitBitstreamDec(&d, words, static_cast<uint16_t>(packet_size < 10 ? packet_size : 10));
    const int r = WebRtcIsacfix_EstimateBandwidth(&s->bwestimator_obj, &d, packet_size, seq, send_ts, arr_ts,
                                                  s->encoderSamplingRateKHz, s->decoderSamplingRateKHz);
    return r < 0 ? fail(s, -r) : 0;
}

int16_t read_header(const uint8_t* encoded, std::size_t len, int16_t* frameLength, int16_t* rateIndex) {
    uint16_t words[5] = {};
    const std::size_t n = len < 10 ? len : 10;
    to_words(encoded, n, words);
    Bitstr_dec d;
    WebRtcIsacfix_InitBitstreamDec(&d, words, static_cast<uint16_t>(n));
    int16_t fl;
    int r = WebRtcIsacfix_DecodeFrameLen(&d, &fl);
    if (r < 0) return static_cast<int16_t>(r);
    if (frameLength != nullptr) *frameLength = fl;
    if (rateIndex != nullptr) {
        r = WebRtcIsacfix_DecodeSendBandwidth(&d, rateIndex);
        if (r < 0) return static_cast<int16_t>(r);
    }
    return 0;
}

}  // namespace

int16_t WebRtcIsacfix_UpdateBwEstimate(ISACFIX_MainStruct* inst, const uint8_t* encoded, std::size_t packet_size,
                                       uint16_t rtp_seq_number, uint32_t send_ts, uint32_t arr_ts) {
    return update_bwe(sub(inst), encoded, packet_size, 11, rtp_seq_number, send_ts, arr_ts);
}

int16_t WebRtcIsacfix_UpdateBwEstimate1(ISACFIX_MainStruct* inst, const uint8_t* encoded, std::size_t packet_size,
                                        uint16_t rtp_seq_number, uint32_t arr_ts) {
    return update_bwe(sub(inst), encoded, packet_size, 1, rtp_seq_number, 0, arr_ts);
}

int16_t WebRtcIsacfix_GetDownLinkBwIndex(ISACFIX_MainStruct* inst, int16_t* rateIndex) {
    *rateIndex = static_cast<int16_t>(WebRtcIsacfix_GetDownlinkBwIndexImpl(&sub(inst)->bwestimator_obj));
    return 0;
}

int16_t WebRtcIsacfix_UpdateUplinkBw(ISACFIX_MainStruct* inst, int16_t rateIndex) {
    ISACFIX_SubStruct* s = sub(inst);
    const int16_t r = WebRtcIsacfix_UpdateUplinkBwRec(&s->bwestimator_obj, rateIndex, 16);
    return r < 0 ? fail(s, -r) : 0;
}

int32_t WebRtcIsacfix_GetUplinkBw(ISACFIX_MainStruct* inst) {
    return WebRtcIsacfix_GetUplinkBandwidth(&sub(inst)->bwestimator_obj);
}

int16_t WebRtcIsacfix_ReadFrameLen(const uint8_t* encoded, std::size_t len, int16_t* frameLength) {
    return read_header(encoded, len, frameLength, nullptr);
}

int16_t WebRtcIsacfix_ReadBwIndex(const uint8_t* encoded, std::size_t len, int16_t* rateIndex) {
    return read_header(encoded, len, nullptr, rateIndex);
}

int16_t WebRtcIsac_GetCrc(const int16_t* bitstream, int len, uint32_t* crc) {
    if (bitstream == nullptr) return -1;
    const auto* bytes = reinterpret_cast<const uint8_t*>(bitstream);
    uint32_t reg = 0xFFFFFFFFu;
    for (int i = 0; i < len; ++i) reg = kCrcTable[(bytes[i] ^ (reg >> 24)) & 0xFF] ^ (reg << 8);
    *crc = ~reg;
    return 0;
}

int16_t WebRtcIsacfix_GetNewBitStream(ISACFIX_MainStruct* inst, int16_t bweIndex, float scale, uint8_t* encoded) {
    ISACFIX_SubStruct* s = sub(inst);
    if (!(s->initflag & 2)) return fail(s, kErrEncoderNotInit);
    const int len = WebRtcIsacfix_EncodeStoredData(&s->ISACenc_obj, bweIndex, scale);
    if (len < 0) return fail(s, -len);
    for (int i = 0; i < len; ++i) {
        const uint16_t w = s->ISACenc_obj.bitstr_obj.stream[i / 2];
        encoded[i] = static_cast<uint8_t>((i & 1) ? (w & 0xFF) : (w >> 8));
    }
    return static_cast<int16_t>(len);
}

int16_t WebRtcIsacfix_GetErrorCode(ISACFIX_MainStruct* inst) { return sub(inst)->errorcode; }

void WebRtcIsacfix_version(char* version) { std::memcpy(version, "3.6.0", 6); }

}  // namespace isac

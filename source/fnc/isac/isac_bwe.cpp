#include "isac_bwe.h"

#include <cstdlib>

#include "isac_field_coder.h"
#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {
namespace {

constexpr int32_t kQRateTableSWB[24] = {10000, 11115, 12355, 13733, 15265, 16967, 18860, 20963,
                                        23153, 25343, 27533, 29722, 31912, 34102, 36292, 38482,
                                        40671, 42861, 45051, 47241, 49431, 51620, 53810, 56000};
constexpr int32_t KQRate01_SWB[24] = {65536000,  72843264,  80969728,  90000589,  100040704, 111194931,
                                      123600896, 137383117, 151735501, 166087885, 180440269, 194786099,
                                      202584883, 223490867, 237843251, 252195635, 266541466, 280893850,
                                      295246234, 309598618, 323951002, 338296832, 352649216, 367001600};

int32_t clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

void reset_timers(BwEstimatorstr* b, uint32_t arrival) {
    b->lastUpdate = arrival;
    b->lastReduction = arrival + 48000;
    b->countRecPkts = 0;
}

}  // namespace

int32_t WebRtcIsacfix_InitBandwidthEstimator(BwEstimatorstr* b, int encoderSampRate, int decoderSampRate) {
    *b = BwEstimatorstr{};
    b->sendBwAvg = encoderSampRate == 32 ? 7168000 : 2560000;
    if (decoderSampRate == 32) {
        b->prevFrameSizeMs = 30;
        b->recBw = 56000;
        b->recBwInv = 16435;
        b->recBwAvg = 2090656;
        b->recBwAvgQ = 7168000;
        b->recHeaderRate = 9333;
        b->maxBwInv = 16435;
        b->minBwInv = 55539;
    } else {
        b->prevFrameSizeMs = 60;
        b->recBw = 20000;
        b->recBwInv = 43531;
        b->recBwAvg = 789312;
        b->recBwAvgQ = 2560000;
        b->recHeaderRate = 4666;
        b->maxBwInv = 29284;
        b->minBwInv = 73213;
    }
    b->prevRtpRate = 1;
    b->countUpdates = -9;
    b->recJitter = 0x50000;
    b->recJitterShortTermAbs = 40960;
    b->recMaxDelay = 0x50000;
    b->recMaxDelayAvgQ = 5120;
    b->sendMaxDelayAvg = 5120;
    return 0;
}

int16_t WebRtcIsacfix_UpdateUplinkBwRec(BwEstimatorstr* b, int16_t Index, int encoderSamplingFreq) {
    if (Index < 0 || Index > 23) return -6240;
    int32_t rate;
    if (encoderSamplingFreq == 32) {
        rate = kQRateTableSWB[Index];
    } else {
        if (Index > 11) {
            Index = static_cast<int16_t>(Index - 12);
            b->sendMaxDelayAvg = (461 * b->sendMaxDelayAvg + 652800) >> 9;
        } else {
            b->sendMaxDelayAvg = (461 * b->sendMaxDelayAvg + 130560) >> 9;
        }
        rate = kQRateTable[Index];
    }
    b->sendBwAvg = static_cast<int32_t>((int64_t{461} * b->sendBwAvg + int64_t{6528} * rate) >> 9);
    if ((b->sendBwAvg >> 7) > 28000 && !b->highSpeedSend) {
        if (++b->countHighSpeedSent >= 66) b->highSpeedSend = 1;
    } else if (!b->highSpeedSend) {
        b->countHighSpeedSent = 0;
    }
    return 0;
}

int16_t WebRtcIsac_UpdateUplinkJitter(BwEstimatorstr* b, int32_t index) {
    if (index < 0 || index > 23) return -6240;
    b->sendMaxDelayAvg = (461 * b->sendMaxDelayAvg + (index > 0 ? 652800 : 130560)) >> 9;
    return 0;
}

int32_t WebRtcIsacfix_GetUplinkBandwidth(const BwEstimatorstr* b) { return clamp(b->sendBwAvg >> 7, 10000, 56000); }
int16_t WebRtcIsacfix_GetUplinkMaxDelay(const BwEstimatorstr* b) {
    return static_cast<int16_t>(clamp(b->sendMaxDelayAvg >> 9, 5, 25));
}

uint32_t WebRtcIsacfix_GetDownlinkBandwidth(const BwEstimatorstr* b) {
    const int32_t abs_st = b->recJitterShortTermAbs != 0 ? b->recJitterShortTermAbs : 1;
    const int64_t s = (int64_t{0x7FFFFFFF} / abs_st * (b->recJitterShortTerm >> 4)) / (int64_t{1} << 19);
    const int64_t adjust = 65536 - (s * ((s * s * 38 >> 8) + 9830)) / 256;
    const int64_t r = (int64_t{b->recBw} * (adjust >> 2)) >> 14;
    return static_cast<uint32_t>(r < 10000 ? 10000 : (r > 56000 ? 56000 : r));
}

int16_t WebRtcIsacfix_GetDownlinkMaxDelay(const BwEstimatorstr* b) {
    return static_cast<int16_t>(clamp(b->recMaxDelay >> 15, 5, 25));
}

uint16_t WebRtcIsac_GetDownlinkBwJitIndexImpl(BwEstimatorstr* b, int16_t* bottleneckIndex, int16_t* jitterInfo,
                                              int decoderSamplingFreq) {
    // Jitter bit from the averaged maximum delay.
    const int64_t D = int64_t{WebRtcIsacfix_GetDownlinkMaxDelay(b)} << 18;
    const int64_t X = int64_t{461} * b->recMaxDelayAvgQ;
    if ((X + 655360 - D) > (D - X - 131072)) {
        *jitterInfo = 0;
        b->recMaxDelayAvgQ = static_cast<int32_t>((X + 131072) >> 9);
    } else {
        *jitterInfo = 1;
        b->recMaxDelayAvgQ = static_cast<int32_t>((X + 655360) >> 9);
    }
    const int32_t rate = static_cast<int32_t>(WebRtcIsacfix_GetDownlinkBandwidth(b));
    const bool wide = decoderSamplingFreq != 32;
    int lo = 0, hi = wide ? 11 : 23;
    auto table = [wide](int i) { return wide ? int32_t{kQRateTable[i]} : kQRateTableSWB[i]; };
    auto q01 = [wide](int i) { return wide ? int64_t{KQRate01[i]} : int64_t{KQRate01_SWB[i]}; };
    while (hi > lo + 1) {
        const int mid = (lo + hi) / 2;
        if (table(mid) < rate) lo = mid;
        else hi = mid;
    }
    const int64_t T = (int64_t{461} * b->recBwAvgQ) / 2 - int64_t{rate} * 32768;
    const int index = std::llabs(T + q01(lo) / 2) < std::llabs(T + q01(hi) / 2) ? lo : hi;
    b->recBwAvgQ = static_cast<uint32_t>(((int64_t{461} * b->recBwAvgQ) / 2 + q01(index) / 2) >> 8);
    *bottleneckIndex = static_cast<int16_t>(wide ? index + 12 * *jitterInfo : index);
    b->recBwAvg = static_cast<uint32_t>((int64_t{921} * b->recBwAvg + int64_t{3277} * (rate + b->recHeaderRate)) >> 10);
    return 0;
}

uint16_t WebRtcIsacfix_GetDownlinkBwIndexImpl(BwEstimatorstr* b) {
    const int32_t rate = static_cast<int32_t>(WebRtcIsacfix_GetDownlinkBandwidth(b));
    b->recBwAvg = static_cast<uint32_t>((int64_t{922} * b->recBwAvg + int64_t{3264} * (rate + b->recHeaderRate)) >> 10);
    int i = 1;
    while (i < 11 && rate > kQRateTable[i]) ++i;
    const int64_t Y = int64_t{461} * b->recBwAvgQ - ((int64_t{25} * b->recBwAvgQ) >> 7);
    const int64_t r16 = int64_t{rate} << 16;
    int index = i;
    if ((Y + KQRate01[i] - r16) > (r16 - Y - KQRate01[i - 1])) index = i - 1;
    b->recBwAvgQ = static_cast<uint32_t>((Y + KQRate01[index]) >> 9);
    if (b->recBwAvgQ >= 3584001) {
        if (!b->highSpeedRec && ++b->countHighSpeedRec > 65) b->highSpeedRec = 1;
    } else if (!b->highSpeedRec) {
        b->countHighSpeedRec = 0;
    }
    const int64_t D = int64_t{WebRtcIsacfix_GetDownlinkMaxDelay(b)} << 18;
    const int64_t X = int64_t{461} * b->recMaxDelayAvgQ;
    int delay = 0;
    if ((X + 652800 - D) > (D - X - 130560)) {
        b->recMaxDelayAvgQ = static_cast<int32_t>((X + 130560) >> 9);
    } else {
        delay = 12;
        b->recMaxDelayAvgQ = static_cast<int32_t>((X + 652800) >> 9);
    }
    return static_cast<uint16_t>(index + delay);
}

int32_t WebRtcIsacfix_UpdateUplinkBwImpl(BwEstimatorstr* b, uint16_t rtpNumber, int16_t frameSize, uint32_t sendTime,
                                         uint32_t arrivalTime, size_t pksize, uint16_t Index, int encoderSamplingFreq,
                                         int decoderSampRate) {
    const int16_t err = WebRtcIsacfix_UpdateUplinkBwRec(b, static_cast<int16_t>(Index), encoderSamplingFreq);
    if (err < 0) return err;
    uint32_t sendDiff = sendTime - b->senderTimestamp;
    uint32_t arrDiff = arrivalTime - b->receiverTimestamp;
    if (decoderSampRate == 32) {
        sendDiff >>= 1;
        arrDiff >>= 1;
    }
    b->senderTimestamp = sendTime;
    b->receiverTimestamp = arrivalTime;
    const uint32_t arrival = b->prevArrivalTime + arrDiff;
    const uint32_t send = b->prevSendTime + sendDiff;

    if (frameSize != b->prevFrameSizeMs && b->countUpdates > 0) {
        b->countUpdates = 10;
        if (frameSize == 60) {
            b->recHeaderRate = 4666;
            b->maxBwInv = 29284;
            b->minBwInv = 73213;
        } else {
            b->recHeaderRate = 9333;
            b->maxBwInv = 25978;
            b->minBwInv = 55539;
        }
        b->recBwInv = static_cast<uint32_t>((1u << 30) / (b->recBw + b->recHeaderRate));
    }
    const uint32_t size = static_cast<uint32_t>(pksize > 600 ? 600 : pksize);
    const uint32_t rate = frameSize == 60 ? b->recHeaderRate + ((size * 4369000u) >> 15)
                                          : b->recHeaderRate + ((size * 4369000u) >> 14) + 1;
    const int32_t frameSamples = 16 * frameSize;

    if (static_cast<int32_t>(arrival - b->prevArrivalTime) < 0) {
        b->prevRtpRate = rate;
        b->prevArrivalTime = arrival;
        reset_timers(b, arrival);
        b->prevFrameSizeMs = frameSize;
        b->prevRtpNumber = rtpNumber;
        return 0;
    }
    ++b->countRecPkts;
    int immediate = 0;
    if (b->countUpdates <= 0) {
        reset_timers(b, arrival);
        ++b->countUpdates;
    } else {
        if (b->inWaitPeriod && arrival - b->startWaitPeriod > 24000) b->inWaitPeriod = 0;
        const uint32_t sendGap = send - b->prevSendTime;
        if (static_cast<int32_t>(sendGap) > 32 * frameSize) {
            reset_timers(b, arrival);
        } else if (arrival - b->lastUpdate > 48000) {
            const uint32_t expected = (arrival - b->lastUpdate) / static_cast<uint32_t>(frameSamples);
            if (922u * expected < 1024u * static_cast<uint32_t>(b->countRecPkts)) {
                uint32_t elapsed = arrival - b->lastReduction;
                if (elapsed > 208000) elapsed = 208000;
                b->lastReduction = arrival;
                const uint32_t t = 76u * elapsed;
                const uint32_t factor = (((t & 0xFFFFFF) | 0x1000000) >> (t >> 24)) >> 11;
                b->recBwInv = factor == 0 ? 43533 : static_cast<uint32_t>((uint64_t{b->recBwInv} * factor) >> 13);
            } else {
                reset_timers(b, arrival);
            }
        }
        if (rtpNumber == static_cast<uint16_t>(b->prevRtpNumber + 1)) {
            const int32_t d = static_cast<int32_t>(arrival - b->prevArrivalTime);
            const int32_t sgap = static_cast<int32_t>(send - b->prevSendTime);
            if (!(b->highSpeedSend && b->highSpeedRec) && d > frameSamples) {
                const int32_t late = sgap < 1 ? d - frameSamples : d - sgap - 2 * frameSamples;
                if (late > 8000) immediate = 717;
                else if (late > 5120) immediate = 819;
                if (immediate) {
                    b->startWaitPeriod = arrival;
                    b->inWaitPeriod = 1;
                }
            }
            if (rate > (b->recBwAvg >> 5) && b->prevRtpRate > (b->recBwAvg >> 5) && !b->inWaitPeriod) {
                const int32_t old = b->countUpdates;
                const int32_t n = ++b->countUpdates;
                const int32_t w = old < 100 ? (8192 + n / 2) / n : 82;
                const int32_t dc = clamp(d, frameSamples - 160, frameSamples + 400);
                const uint32_t bytes = size + 35;
                const uint32_t numBytesInv = ((1u << 19) + bytes / 2) / bytes;
                const uint32_t u = static_cast<uint32_t>(dc) * 8389u;
                uint32_t inv = (numBytesInv * (u >> 15) + ((numBytesInv * (u & 0x7FFF)) >> 15)) >> 4;
                if (inv < b->maxBwInv) inv = b->maxBwInv;
                if (inv > b->minBwInv) inv = b->minBwInv;
                b->recBwInv = static_cast<uint32_t>((int64_t{w} * inv + int64_t{8192 - w} * b->recBwInv) >> 13);
                reset_timers(b, arrival);
                const uint32_t avg = b->recBwAvg != 0 ? b->recBwAvg : 1;
                const uint32_t perBit = static_cast<uint32_t>(((1ull << 31) + avg / 2) / avg);
                const int64_t expectedDelay = ((int64_t{perBit} * 8000 >> 4) * bytes) >> 12;
                const int64_t diff = int64_t{64} * dc - expectedDelay;
                const int32_t noise = static_cast<int32_t>(diff < 0 ? -diff : diff);
                const int32_t sign = expectedDelay < int64_t{64} * dc ? 1 : -1;
                int64_t j = (int64_t{32} * noise * (w >> 3) + int64_t{b->recJitter} * (1024 - (w >> 3))) >> 10;
                b->recJitter = static_cast<int32_t>(j > 0x50000 ? 0x50000 : j);
                b->recJitterShortTermAbs = static_cast<int32_t>((int64_t{408} * noise + int64_t{973} * b->recJitterShortTermAbs) >> 10);
                b->recJitterShortTerm =
                    static_cast<int32_t>((int64_t{1640} * sign * noise + int64_t{3891} * b->recJitterShortTerm) / 4096);
            }
        }
    }
    if (b->recBwInv < b->maxBwInv) b->recBwInv = b->maxBwInv;
    if (b->recBwInv > b->minBwInv) b->recBwInv = b->minBwInv;
    b->prevRtpRate = rate;
    b->prevArrivalTime = arrival;
    b->prevFrameSizeMs = frameSize;
    b->prevRtpNumber = rtpNumber;
    b->prevSendTime = send;
    b->recMaxDelay = 3 * b->recJitter;
    b->recBw = (1u << 30) / b->recBwInv - static_cast<uint32_t>(b->recHeaderRate);
    if (immediate) {
        b->recBw = (b->recBw * static_cast<uint32_t>(immediate)) >> 10;
        if (b->recBw < 10000) b->recBw = 10000;
        b->recJitterShortTerm = 0;
        b->recBwAvg = (b->recBw + static_cast<uint32_t>(b->recHeaderRate)) * 32;
        b->recBwAvgQ = b->recBw << 7;
        b->recBwInv = (1u << 30) / (b->recBw + static_cast<uint32_t>(b->recHeaderRate));
    }
    return 0;
}

int WebRtcIsacfix_EstimateBandwidth(BwEstimatorstr* b, Bitstr_dec* streamdata, size_t packet_size,
                                    uint16_t rtp_seq_number, uint32_t send_ts, uint32_t arr_ts,
                                    int encoderSamplingFreq, int decoderSamplingFreq) {
    int16_t frameSamples, index;
    int r = WebRtcIsacfix_DecodeFrameLen(streamdata, &frameSamples);
    if (r < 0) return r;
    r = WebRtcIsacfix_DecodeSendBandwidth(streamdata, &index);
    if (r < 0) return r;
    const int32_t e = WebRtcIsacfix_UpdateUplinkBwImpl(b, rtp_seq_number, static_cast<int16_t>(frameSamples * 1000 / 16000),
                                                       send_ts, arr_ts, packet_size, static_cast<uint16_t>(index),
                                                       encoderSamplingFreq, decoderSamplingFreq);
    return e < 0 ? e : 0;
}

void WebRtcIsacfix_InitRateModel(RateModel* s) {
    s->PrevExceed = 0;
    s->ExceedAgo = 0;
    s->BurstCounter = 0;
    s->InitCounter = 15;
    s->StillBuffered = 1;
}

void WebRtcIsacfix_UpdateRateModel(RateModel* s, int16_t StreamSize, int16_t FrameSamples, int16_t BottleNeck) {
    s->InitCounter = 0;
    const int32_t bn = BottleNeck != 0 ? BottleNeck : 1;
    const int32_t v = s->StillBuffered + StreamSize * 8000 / bn - FrameSamples / 16;
    const int16_t v16 = lo16(v);
    s->StillBuffered = v16 < 0 ? 0 : v16;
}

uint16_t WebRtcIsacfix_GetMinBytes(RateModel* s, int16_t StreamSize, int16_t FrameSamples, int16_t BottleNeck,
                                   int16_t DelayBuildUp, int16_t bandwidth) {
    const int32_t frameMs = FrameSamples / 16;
    const int32_t bn = BottleNeck;
    int32_t minRateQ9 = 0;  // Q9
    if (s->InitCounter > 0) {
        if (s->InitCounter-- <= 5) minRateQ9 = (bandwidth == 8 ? 20000 : 56000) << 9;
    } else if (s->BurstCounter) {
        const int32_t buffered = s->StillBuffered;
        if (buffered < (342 * DelayBuildUp) >> 9) {
            minRateQ9 = static_cast<int32_t>((int64_t{bn} << 9) * (3 * frameMs + DelayBuildUp) / (3 * frameMs));
        } else if (buffered <= DelayBuildUp) {
            minRateQ9 = static_cast<int32_t>((int64_t{bn} << 9) * (frameMs + DelayBuildUp - buffered) / frameMs);
        } else if (buffered - DelayBuildUp < frameMs) {
            minRateQ9 = static_cast<int32_t>((int64_t{bn} << 9) * (frameMs - (buffered - DelayBuildUp)) / frameMs);
        } else {
            minRateQ9 = 0;
        }
        if (minRateQ9 < ((532 * bn) >> 9) << 9) minRateQ9 += ((22 * bn) >> 9) << 9;
        --s->BurstCounter;
    }
    const int32_t minBytes = static_cast<int32_t>(int64_t{FrameSamples} * ((minRateQ9 + 256) >> 9) / 128000);
    if (StreamSize < minBytes) StreamSize = static_cast<int16_t>(minBytes);
    const int32_t rate = 128000 * StreamSize / FrameSamples;
    if (rate > (517 * bn) >> 9) {
        if (s->PrevExceed) {
            s->ExceedAgo = static_cast<int16_t>(s->ExceedAgo - 400);
            if (s->ExceedAgo < 0) s->ExceedAgo = 0;
        } else {
            s->ExceedAgo = static_cast<int16_t>(s->ExceedAgo + frameMs);
            s->PrevExceed = 1;
        }
    } else {
        s->PrevExceed = 0;
        s->ExceedAgo = static_cast<int16_t>(s->ExceedAgo + frameMs);
    }
    if (s->ExceedAgo > 800 && s->BurstCounter == 0) s->BurstCounter = s->PrevExceed ? 2 : 3;
    int32_t v = s->StillBuffered + StreamSize * 8000 / (bn != 0 ? bn : 1) - frameMs;
    if (v < 0) v = 0;
    if (v > 2000) v = 2000;
    s->StillBuffered = static_cast<int16_t>(v);
    return static_cast<uint16_t>(minBytes);
}

int16_t WebRtcIsacfix_GetNewFrameLength(int16_t bottle_neck, int16_t current_framesamples) {
    if (current_framesamples == 480) return bottle_neck < 18000 ? 960 : 480;
    if (current_framesamples == 960) return bottle_neck >= 27000 ? 480 : 960;
    return -1;
}

int16_t WebRtcIsacfix_GetSnr(int16_t bottle_neck, int16_t framesamples) {
    const int32_t r = static_cast<uint16_t>(bottle_neck);
    switch (framesamples) {
        case 480: return lo16(((503 * r) >> 10) - 23552);
        case 960: return lo16(((556 * r) >> 10) - 23552);
        case 320: return lo16(((503 * r) >> 10) + 4096);
        default: return -1;
    }
}

}  // namespace isac

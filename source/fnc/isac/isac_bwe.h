// Bandwidth estimator (receive direction estimate, the index sent back, the
// far end's index turned into the sending rate and delay) and the rate model
// of the data still buffered in the network.
#pragma once

#include <cstddef>
#include <cstdint>

#include "isac_range_coder.h"

namespace isac {

struct BwEstimatorstr {
    int32_t prevFrameSizeMs;
    int32_t prevRtpNumber;
    uint32_t prevSendTime;
    uint32_t prevArrivalTime;
    uint32_t prevRtpRate;
    uint32_t lastUpdate;
    uint32_t lastReduction;
    int32_t countUpdates;
    uint32_t recBw;
    uint32_t recBwInv;
    uint32_t recBwAvg;
    uint32_t recBwAvgQ;
    uint32_t minBwInv;
    uint32_t maxBwInv;
    int32_t recJitter;
    int32_t recJitterShortTerm;
    int32_t recJitterShortTermAbs;
    int32_t recMaxDelay;
    int32_t recMaxDelayAvgQ;
    int32_t recHeaderRate;
    int32_t sendBwAvg;
    int32_t sendMaxDelayAvg;
    int16_t countRecPkts;
    int16_t highSpeedRec;
    int16_t countHighSpeedRec;
    int16_t inWaitPeriod;
    uint32_t startWaitPeriod;
    int16_t countHighSpeedSent;
    int16_t highSpeedSend;
    uint32_t senderTimestamp;
    uint32_t receiverTimestamp;
};

struct RateModel {
    int16_t PrevExceed;
    int16_t ExceedAgo;
    int16_t BurstCounter;
    int16_t InitCounter;
    int16_t StillBuffered;
};

int32_t WebRtcIsacfix_InitBandwidthEstimator(BwEstimatorstr* bweStr, int encoderSampRate, int decoderSampRate);
int16_t WebRtcIsacfix_UpdateUplinkBwRec(BwEstimatorstr* bweStr, int16_t Index, int encoderSamplingFreq);
int32_t WebRtcIsacfix_UpdateUplinkBwImpl(BwEstimatorstr* bweStr, uint16_t rtpNumber, int16_t frameSize,
                                         uint32_t sendTime, uint32_t arrivalTime, size_t pksize, uint16_t Index,
                                         int encoderSamplingFreq, int decoderSampRate);
int WebRtcIsacfix_EstimateBandwidth(BwEstimatorstr* bwest_str, Bitstr_dec* streamdata, size_t packet_size,
                                    uint16_t rtp_seq_number, uint32_t send_ts, uint32_t arr_ts,
                                    int encoderSamplingFreq, int decoderSamplingFreq);
uint32_t WebRtcIsacfix_GetDownlinkBandwidth(const BwEstimatorstr* bweStr);
int16_t WebRtcIsacfix_GetDownlinkMaxDelay(const BwEstimatorstr* bweStr);
uint16_t WebRtcIsacfix_GetDownlinkBwIndexImpl(BwEstimatorstr* bweStr);
uint16_t WebRtcIsac_GetDownlinkBwJitIndexImpl(BwEstimatorstr* bwest_str, int16_t* bottleneckIndex,
                                              int16_t* jitterInfo, int decoderSamplingFreq);
int32_t WebRtcIsacfix_GetUplinkBandwidth(const BwEstimatorstr* bweStr);
int16_t WebRtcIsacfix_GetUplinkMaxDelay(const BwEstimatorstr* bweStr);
int16_t WebRtcIsac_UpdateUplinkJitter(BwEstimatorstr* bwest_str, int32_t index);

void WebRtcIsacfix_InitRateModel(RateModel* State);
void WebRtcIsacfix_UpdateRateModel(RateModel* State, int16_t StreamSize, int16_t FrameSamples, int16_t BottleNeck);
uint16_t WebRtcIsacfix_GetMinBytes(RateModel* State, int16_t StreamSize, int16_t FrameSamples, int16_t BottleNeck,
                                   int16_t DelayBuildUp, int16_t bandwidth);
int16_t WebRtcIsacfix_GetNewFrameLength(int16_t bottle_neck, int16_t current_framesamples);
int16_t WebRtcIsacfix_GetSnr(int16_t bottle_neck, int16_t framesamples);

}  // namespace isac

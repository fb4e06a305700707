// The codec instance in caller memory and its public calls: set-up, rate and
// frame control, encoding of 10 ms blocks, decoding of payloads,
// concealment of lost frames and the small stream routines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "isac_bwe.h"
#include "isac_field_coder.h"
#include "isac_filterbank.h"
#include "isac_lpc_coder.h"
#include "isac_lpc_coder_ub.h"
#include "isac_masking.h"
#include "isac_pitch_est.h"
#include "isac_pitch_filter.h"
#include "isac_range_coder.h"

namespace isac {

enum IsacSamplingRate { kIsacWideband = 16, kIsacSuperWideband = 32 };

struct MaskFiltstr_dec {
    int16_t PostStateLoGQ0[13];
    int16_t PostStateHiGQ0[7];
    uint32_t OldEnergy;
};

struct PLCstr {
    int16_t prevPitchInvIn[240];
    int16_t prevPitchInvOut[150];
    int32_t prevHP[150];
    int16_t decayCoeffPriodic;
    int16_t decayCoeffNoise;
    int16_t used;
    int16_t lastPitchLP;  // offset into prevPitchInvIn
    int16_t lofilt_coefQ15[12];
    int16_t hifilt_coefQ15[6];
    int32_t gain_lo_hiQ17[2];
    int16_t AvgPitchGain_Q12;
    int16_t lastPitchGain_Q12;
    int16_t lastPitchLag_Q7;
    int16_t overlapLP[80];
    int16_t pitchCycles;
    int16_t A;
    int16_t B;
    int16_t pitchIndex;
    int16_t stretchLag;
    int16_t prevPitchLP;  // offset into prevPitchInvIn
    int16_t seed;
    int16_t std;
    int16_t stretched[240];  // the current stretched pitch cycle
    int16_t decayStep;
};

struct ISACFIX_EncInst_t {
    Bitstr_enc bitstr_obj;
    MaskFiltstr_enc maskfiltstr_obj;
    PreFiltBankstr prefiltbankstr_obj;
    PitchFiltstr pitchfiltstr_obj;
    PitchAnalysisStruct pitchanalysisstr_obj;
    RateModel rate_data_obj;
    int16_t buffer_index;
    int16_t current_framesamples;
    int16_t data_buffer_fix[480];
    int16_t frame_nb;
    int32_t BottleNeck;
    int16_t MaxDelay;
    int16_t new_framelength;
    int16_t s2nr;
    uint16_t MaxBits;
    int16_t bitstr_seed;
    ISAC_SaveEncData_t* SaveEnc_ptr;
    int16_t payloadLimitBytes30;
    int16_t payloadLimitBytes60;
    int16_t maxPayloadBytes;
    int16_t maxRateInBytes;
    int16_t enforceFrameSize;
    int16_t maxPayloadSizeBytes;
    int16_t lastBWIdx;
};

struct ISACFIX_EncInstUB_t {
    Bitstr_enc bitstr_obj;
    MaskFiltstr_enc_UB maskfiltstr_obj;
    PreFiltBankstr prefiltbankstr_obj;
    int16_t buffer_index;
    int16_t data_buffer_fix[528];
    int32_t BottleNeck;
    ISAC_SaveEncDataUB_t SaveEnc;
    int16_t maxPayloadSizeBytes;
    int16_t lastLPCVec[4];
    int16_t numBytesUsed;
    int16_t lastJitterInfo;
};

struct ISACFIX_DecInst_t {
    Bitstr_dec bitstr_obj;
    MaskFiltstr_dec maskfiltstr_obj;
    PostFiltBankstr postfiltbankstr_obj;
    PitchFiltstr pitchfiltstr_obj;
    PLCstr plcstr_obj;
};

struct ISACFIX_DecInstUB_t {
    Bitstr_dec bitstr_obj;
    MaskFiltstr_dec maskfiltstr_obj;
    PostFiltBankstr postfiltbankstr_obj;
};

struct ISACFIX_SubStruct {
    ISACFIX_EncInst_t ISACenc_obj;
    ISACFIX_DecInst_t ISACdec_obj;
    ISACFIX_EncInstUB_t ISACencUB_obj;
    ISACFIX_DecInstUB_t ISACdecUB_obj;
    BwEstimatorstr bwestimator_obj;
    int16_t CodingMode;
    int16_t errorcode;
    int16_t initflag;
    int32_t bottleneck;
    int16_t bandwidthKHz;
    int16_t encoderSamplingRateKHz;
    int16_t decoderSamplingRateKHz;
    int32_t analysisFBState1[6];
    int32_t analysisFBState2[6];
    int32_t synthesisFBState1[6];
    int32_t synthesisFBState2[6];
    int16_t maxRateBytesPer30Ms;
    int16_t maxPayloadSizeBytes;
    int16_t resetFlag_8kHz;
    ISAC_SaveEncData_t* internalSaveEnc;  // the block of WebRtcIsacfix_CreateInternal, if any
};

// The handle callers hold; the instance behind it is opaque to them.
struct ISACFIX_MainStruct {
    void* dummy;
};

// Bytes an instance takes on this host; the memory handed to
// WebRtcIsacfix_Create must be at least this large.
inline constexpr std::size_t kIsacfixInstanceBytes = sizeof(ISACFIX_SubStruct);
// The instance as laid out with 64-bit pointers (10848 bytes) and with 32-bit ones (10820): a
// growth shows here before it shows in the memory budget of a gateway's channels.
static_assert(sizeof(ISACFIX_SubStruct) <= (sizeof(void*) == 8 ? 10848 : 10820), "instance outgrew its block");

int16_t WebRtcIsacfix_Create(ISACFIX_MainStruct** ISAC_main_inst, int32_t* mem_ptr, std::size_t max_size_bytes,
                             int32_t* size_used);
int16_t WebRtcIsacfix_AssignSize(int* sizeinbytes);
int16_t WebRtcIsacfix_Assign(ISACFIX_MainStruct** inst, void* ISACFIX_inst_Addr);
int16_t WebRtcIsacfix_CreateInternal(ISACFIX_MainStruct* ISAC_main_inst);
void WebRtcIsacfix_FreeInternal(ISACFIX_MainStruct* ISAC_main_inst);
int16_t WebRtcIsacfix_EncoderInit(ISACFIX_MainStruct* ISAC_main_inst, int16_t CodingMode, int16_t SWB);
int16_t WebRtcIsacfix_DecoderInit(ISACFIX_MainStruct* ISAC_main_inst);
int16_t WebRtcIsacfix_Encode(ISACFIX_MainStruct* ISAC_main_inst, const int16_t* speechIn, uint8_t* encoded,
                             int16_t SWB);
int16_t WebRtcIsacfix_Decode(ISACFIX_MainStruct* ISAC_main_inst, const uint8_t* encoded, std::size_t len,
                             int16_t* decoded, int16_t* speechType);
int16_t WebRtcIsacfix_DecodePlc(ISACFIX_MainStruct* ISAC_main_inst, int16_t* decoded, int16_t noOfLostFrames,
                                int16_t SWB);
int16_t WebRtcIsacfix_Control(ISACFIX_MainStruct* ISAC_main_inst, int32_t bottleneckBPS, int16_t framesize);
int16_t WebRtcIsacfix_ControlBwe(ISACFIX_MainStruct* ISAC_main_inst, int32_t rateBPS, int16_t frameSizeMs,
                                 int16_t enforceFrameSize);
int16_t WebRtcIsacfix_SetMaxPayloadSize(ISACFIX_MainStruct* ISAC_main_inst, int16_t maxPayloadBytes);
int16_t WebRtcIsacfix_SetMaxRate(ISACFIX_MainStruct* ISAC_main_inst, int32_t maxRate);
int16_t WebRtcIsacfix_GetNewFrameLen(ISACFIX_MainStruct* ISAC_main_inst);
int16_t WebRtcIsacfix_UpdateBwEstimate(ISACFIX_MainStruct* ISAC_main_inst, const uint8_t* encoded,
                                       std::size_t packet_size, uint16_t rtp_seq_number, uint32_t send_ts,
                                       uint32_t arr_ts);
int16_t WebRtcIsacfix_UpdateBwEstimate1(ISACFIX_MainStruct* ISAC_main_inst, const uint8_t* encoded,
                                        std::size_t packet_size, uint16_t rtp_seq_number, uint32_t arr_ts);
int16_t WebRtcIsacfix_GetDownLinkBwIndex(ISACFIX_MainStruct* ISAC_main_inst, int16_t* rateIndex);
int16_t WebRtcIsacfix_UpdateUplinkBw(ISACFIX_MainStruct* ISAC_main_inst, int16_t rateIndex);
int32_t WebRtcIsacfix_GetUplinkBw(ISACFIX_MainStruct* ISAC_main_inst);
int16_t WebRtcIsacfix_ReadFrameLen(const uint8_t* encoded, std::size_t encoded_len_bytes, int16_t* frameLength);
int16_t WebRtcIsacfix_ReadBwIndex(const uint8_t* encoded, std::size_t encoded_len_bytes, int16_t* rateIndex);
int16_t WebRtcIsac_GetCrc(const int16_t* bitstream, int len_bitstream_in_bytes, uint32_t* crc);
int16_t WebRtcIsacfix_GetErrorCode(ISACFIX_MainStruct* ISAC_main_inst);
void WebRtcIsacfix_version(char* version);
int16_t WebRtcIsac_RateAllocation(int32_t inRateBitPerSec, double* rateLBBitPerSec, double* rateUBBitPerSec,
                                  int16_t* bandwidthKHz);

// Frame coders behind the public calls.
int WebRtcIsacfix_EncodeImpl(const int16_t* in, ISACFIX_EncInst_t* ISACenc_obj, int16_t CodingMode,
                             int16_t bottleneckIndex);
int16_t WebRtcIsacfix_DecodeImpl(int16_t* signal_out16, ISACFIX_DecInst_t* ISACdec_obj,
                                 int16_t* current_framesamples);
int16_t WebRtcIsacfix_DecodePlcImpl(int16_t* signal_out16, ISACFIX_DecInst_t* ISACdec_obj,
                                    int16_t* current_framesamples);
void WebRtcIsacfix_InitPlc(PLCstr* State);
int WebRtcIsacfix_EncodeStoredData(ISACFIX_EncInst_t* ISACenc_obj, int BWnumber, float scale);
int16_t WebRtcIsacfix_GetNewBitStream(ISACFIX_MainStruct* ISAC_main_inst, int16_t bweIndex, float scale,
                                      uint8_t* encoded);
int WebRtcIsacfix_EncodeImpl_UB16(const int16_t* in, ISACFIX_EncInstUB_t* ISACenc_obj, int16_t jitterInfo);
int WebRtcIsacfix_EncodeImpl_UB12(const int16_t* in, ISACFIX_EncInstUB_t* ISACenc_obj, int16_t jitterInfo);
int WebRtcIsac_DecodeUb16(int16_t* signal_out, ISACFIX_DecInstUB_t* ISACdecUB_obj, int16_t isRCUPayload);
int WebRtcIsac_DecodeUb12(int16_t* signal_out, ISACFIX_DecInstUB_t* ISACdecUB_obj, int16_t isRCUPayload);

}  // namespace isac

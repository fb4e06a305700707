// Coders of the payload's fields other than the LPC model: the dithered
// spectrum with its own envelope, pitch gains and lags, frame length,
// bandwidth index and the upper band's flags.
#pragma once

#include <cstdint>

#include "isac_range_coder.h"

namespace isac {

enum ISACBand { kIsacLowerBand = 0, kIsacUpperBand12 = 1, kIsacUpperBand16 = 2 };

struct ISAC_SaveEncData_t {
    int startIdx;
    int16_t framelength;
    int16_t pitchGain_index[2];
    int32_t meanGain[2];
    int16_t pitchIndex[8];
    int32_t LPCcoeffs_g[24];
    int16_t LPCindex_s[216];
    int16_t LPCindex_g[24];
    int16_t fre[480];
    int16_t fim[480];
    int16_t AvgPitchGain[2];
    int minBytes;
};

void GenerateDitherQ7(int16_t* bufQ7, uint32_t seed, int length, int16_t AvgPitchGain_Q12);
void GenerateDitherQ7_UB(int16_t* bufQ7, uint32_t seed, int length);
void CalcInvArSpec(const int16_t* ARCoefQ12, int32_t gainQ10, int32_t* CurveQ16);
void CalcRootInvArSpec(const int16_t* ARCoefQ12, int32_t gainQ10, uint16_t* CurveQ8);

int WebRtcIsacfix_EncodeRcCoef(int16_t* RCQ15, Bitstr_enc* streamdata);
int WebRtcIsacfix_DecodeRcCoef(Bitstr_dec* streamdata, int16_t* RCQ15);
int WebRtcIsacfix_EncodeGain2(int32_t* gainQ10, Bitstr_enc* streamdata);
int WebRtcIsacfix_DecodeGain2(Bitstr_dec* streamdata, int32_t* gainQ10);

int WebRtcIsacfix_EncodeSpec(const int16_t* fr, const int16_t* fi, Bitstr_enc* streamdata, int16_t AvgPitchGain_Q12,
                             int16_t band);
int WebRtcIsacfix_DecodeSpec(Bitstr_dec* streamdata, int16_t* frQ7, int16_t* fiQ7, int16_t AvgPitchGain_Q12,
                             int16_t band);

int WebRtcIsacfix_EncodePitchGain(int16_t* PitchGains_Q12, Bitstr_enc* streamdata, ISAC_SaveEncData_t* encData);
int WebRtcIsacfix_DecodePitchGain(Bitstr_dec* streamdata, int16_t* PitchGains_Q12);
int WebRtcIsacfix_EncodePitchLag(int16_t* PitchLagsQ7, const int16_t* PitchGain_Q12, Bitstr_enc* streamdata,
                                 ISAC_SaveEncData_t* encData);
int WebRtcIsacfix_DecodePitchLag(Bitstr_dec* streamdata, const int16_t* PitchGain_Q12, int16_t* PitchLags_Q7);

int WebRtcIsacfix_EncodeFrameLen(int16_t framesamples, Bitstr_enc* streamdata);
int WebRtcIsacfix_DecodeFrameLen(Bitstr_dec* streamdata, int16_t* framesamples);
int WebRtcIsacfix_EncodeReceiveBandwidth(const int16_t* BWno, Bitstr_enc* streamdata);
int WebRtcIsacfix_DecodeSendBandwidth(Bitstr_dec* streamdata, int16_t* BWno);
int WebRtcIsac_EncodeBandwidth(int bandwidth, Bitstr_enc* streamData);
int WebRtcIsac_DecodeBandwidth(Bitstr_dec* streamData, int* bandwidth);
int WebRtcIsac_EncodeJitterInfo(int32_t jitterIndex, Bitstr_enc* streamData);
int WebRtcIsac_DecodeJitterInfo(Bitstr_dec* streamData, int32_t* jitterInfo);

}  // namespace isac

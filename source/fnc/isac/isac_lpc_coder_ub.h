// Envelope coding of the super-wideband upper band: order-4 reflection
// vectors as mean-removed, decorrelated log-area ratios on a uniform grid,
// and per-vector gains coded in the log domain (double precision).
#pragma once

#include <cstdint>

#include "isac_range_coder.h"

namespace isac {

enum ISACBandwidth { isac8kHz = 8, isac12kHz = 12, isac16kHz = 16 };

struct ISAC_SaveEncDataUB_t {
    int16_t indexLPCShape[16];
    int16_t lpcGain[12];
    int16_t lpcGainIndex[12];
    Bitstr_enc bitStreamObj;
    int16_t realFFT[240];
    int16_t imagFFT[240];
};

void Poly2LarFix_UB(const int16_t* lpcVecsQ15, int16_t bandwidth, int32_t* larsQ17);
int16_t WebRtcIsac_RemoveLarMean(int32_t* lar, int16_t bandwidth);
int16_t WebRtcIsac_AddLarMean(int32_t* lar, int16_t bandwidth);
int16_t WebRtcIsac_DecorrelateIntraVec(const int32_t* in, int32_t* out, int16_t bandwidth);
int16_t WebRtcIsac_CorrelateIntraVec(const int32_t* in, int32_t* out, int16_t bandwidth);
int16_t WebRtcIsac_DecorrelateInterVec(const int32_t* in, int32_t* out, int16_t bandwidth);
int16_t WebRtcIsac_CorrelateInterVec(const int32_t* in, int32_t* out, int16_t bandwidth);
int16_t WebRtcIsac_QuantizeUncorrLar(int32_t* data, int16_t* idx, int16_t bandwidth);
int16_t WebRtcIsac_DequantizeLpcParam(const int16_t* idx, int32_t* out, int16_t bandwidth);
void WebRtcIsac_Lar2PolyInterpolUB(const int32_t* larVecs, int16_t* percepFilterParams, int16_t numPolyVecs,
                                   int32_t recip_numPolyVecs_m1);

int16_t WebRtcIsacfix_EncodeLpc_UB(const int16_t* LPCCoef_loQ15, Bitstr_enc* streamdata, int16_t* interpolLPCCoeff,
                                   int16_t bandwidth, ISAC_SaveEncDataUB_t* encData);
int16_t WebRtcIsac_DecodeLpcCoefUB(Bitstr_dec* streamdata, int32_t* lpcVecs, int32_t* percepFilterGains_Q17,
                                   int16_t bandwidth);
int16_t WebRtcIsacfix_DecodeInterpolLpcUb(Bitstr_dec* streamdata, int16_t* percepFilterParams,
                                          int32_t* percepFilterGains_Q17, int16_t bandwidth);

void WebRtcIsacfix_GetLpcGain(int16_t signal_noise_ratio_Q10, const int16_t* filtCoeffVecs, int numVecs, double* gain,
                              const int32_t* corrMat, const int16_t* corr_Q, const int16_t* varscale_Q14);
void WebRtcIsac_ToLogDomainRemoveMean(double* lpGains);
void WebRtcIsac_DecorrelateLPGain(const double* data, double* out);
double WebRtcIsac_QuantizeLpcGain(double* data, int* idx);
void WebRtcIsac_DequantizeLpcGain(const int* idx, double* out);
void WebRtcIsac_CorrelateLpcGain(const double* data, double* out);
void WebRtcIsac_AddMeanToLinearDomain(double* lpcGains);
int16_t WebRtcIsac_EncodeLpcGainUb(double* lpGains, Bitstr_enc* streamdata, int* lpcGainIndex);
int16_t WebRtcIsac_DecodeLpcGainUb(double* lpGains, Bitstr_dec* streamdata);

}  // namespace isac

// Quantisation and coding of the lower band's spectral envelope: 6 sub-blocks
// of 12 + 6 reflection coefficients as log-area ratios through two
// Karhunen-Loeve transforms, and 12 gains in the log domain.
#pragma once

#include <cstdint>

#include "isac_field_coder.h"
#include "isac_range_coder.h"

namespace isac {

struct transcode_obj {
    int32_t lpcGains[12];
    uint32_t W_upper;
    uint32_t streamval;
    uint16_t stream_index;
    int16_t full;
    uint16_t beforeLastWord;
    uint16_t lastWord;
    uint8_t stream[3];
};

int32_t Rc2LarFix(int16_t rcQ15);
int16_t Lar2RcFix(int32_t larQ17);
void Poly2LarFix(const int16_t* lowband, int16_t orderLo, const int16_t* hiband, int16_t orderHi, int16_t Nsub,
                 int32_t* lars);
void Lar2polyFix(const int32_t* larsQ17, int16_t* lowband, int16_t orderLo, int16_t* hiband, int16_t orderHi,
                 int16_t Nsub);
int32_t CalcLogN(int32_t arg);
int32_t CalcExpN(int16_t x);

int WebRtcIsacfix_EncodeLpc(int32_t* gain_lo_hiQ17, int16_t* LPCCoef_loQ15, int16_t* LPCCoef_hiQ15, int16_t* model,
                            int32_t* sizeQ11, Bitstr_enc* streamdata, ISAC_SaveEncData_t* encData,
                            transcode_obj* transcodingParam);
int WebRtcIsacfix_DecodeLpc(int32_t* gain_lo_hiQ17, int16_t* LPCCoef_loQ15, int16_t* LPCCoef_hiQ15,
                            Bitstr_dec* streamdata, int16_t* model);
int WebRtcIsacfix_DecodeLpcCoef(Bitstr_dec* streamdata, int32_t* LPCCoefQ17, int32_t* gain_lo_hiQ17,
                                int16_t* model);
int WebRtcIsacfix_EstCodeLpcGain(int32_t* gain_lo_hiQ17, Bitstr_enc* streamdata, ISAC_SaveEncData_t* encData);
void WebRtcIsacfix_TranscodeLpcCoef(int32_t* gain_lo_hiQ17, int16_t* index_gQQ);

}  // namespace isac

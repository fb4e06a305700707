// Constant tables of the PCM concealment (narrowband and wideband).
#pragma once

#include <cstdint>

extern const int16_t plc_olaup[8];
extern const int16_t plc_oladown[8];
extern const int16_t plc_olaug16[20];
extern const int16_t plc_oladg16[20];
extern const int16_t plc_gawd[8];
extern const int16_t plc_div_n[16];
extern const int16_t plc_bwel[8];
extern const int16_t plc_STWAL[8];
extern const int16_t plc_winl[160];
extern const int16_t plc_wn[127];
extern const int16_t plc32_olaug[40];
extern const int16_t plc32_oladg[40];
extern const int16_t bv32_gawd[8];
extern const int32_t plc_sstwinl[8];
extern const int32_t plc_adf[4];
extern const int32_t plc_bdf[5];
extern const int32_t bv32_adf[4];
extern const int32_t bv32_bdf[5];
extern const int16_t plc_MPTH[4];
extern const int16_t plc_invk[4];

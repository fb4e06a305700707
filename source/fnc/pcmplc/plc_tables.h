// Constant tables of the PCM concealment (narrowband and wideband).
#pragma once

#include <cstdint>

#include "basicop.h"
#include "g722_tables.h"

extern const int16_t olaup[8];
extern const int16_t oladown[8];
extern const int16_t olaug16[20];
extern const int16_t oladg16[20];
extern const int16_t gawd[8];
extern const int16_t div_n[16];
extern const int16_t bwel[8];
extern const int16_t STWAL[8];
extern const int16_t winl[160];
extern const int16_t wn[127];
extern const int16_t plc32_olaug[40];
extern const int16_t plc32_oladg[40];
extern const int16_t bv32_gawd[8];
extern const int32_t sstwinl_hl[8];
extern const int32_t adf[4];
extern const int32_t bdf[5];
extern const int32_t bv32_adf[4];
extern const int32_t bv32_bdf[5];
extern const int16_t MPTH[4];
extern const int16_t invk[4];

// Tables shared with the BV32 codec under its names: the wideband analysis window and lag window
// are the public ones of the G.722 concealment, the rest the narrowband concealment's own.
inline const int16_t (&bv32_winl)[160] = g722_win;
inline const int32_t (&bv32_sstwinl_hl)[8] = g722_sstwin;
inline const int16_t (&bvxx_bwel)[8] = bwel;
inline const int16_t (&bvxx_olaup)[8] = olaup;
inline const int16_t (&bvxx_oladown)[8] = oladown;
inline const int16_t (&bvxx_tablog)[33] = basicop_tablog;
inline const int16_t (&bvxx_tabpow)[33] = basicop_tabpow;

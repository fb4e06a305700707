// Constant tables of the G.723.1 codec.
#pragma once

#include "g7231_basic_op.h"

extern const Word16 g723_1_HammingWindowTable[180];
extern const Word16 g723_1_BinomialWindowTable[10];
extern const Word16 g723_1_BandExpTable[10];
extern const Word16 g723_1_CosineTable[512];
extern const Word16 g723_1_LspDcTable[10];
extern const Word16 g723_1_Band0Tb8[768];
extern const Word16 g723_1_Band1Tb8[768];
extern const Word16 g723_1_Band2Tb8[1024];
extern const Word16* const g723_1_BandQntTable[3];
extern const Word16 g723_1_BandInfoTable[3][2];  // start and length of each LSP sub-vector
extern const Word16 g723_1_PerFiltZeroTable[10];
extern const Word16 g723_1_PerFiltPoleTable[10];
extern const Word16 g723_1_PostFiltZeroTable[10];
extern const Word16 g723_1_PostFiltPoleTable[10];
extern const Word16 g723_1_Nb_puls[4];
extern const Word16 g723_1_FcbkGainTable[24];
extern const Word32 g723_1_MaxPosTable[4];
extern const Word32 g723_1_CombinatorialTable[6][30];
extern const Word16 g723_1_LpfConstTable[2];
extern const Word16 g723_1_epsi170[170];
extern const Word16 g723_1_gain170[170];
extern const Word16 g723_1_tabgain170[170];
extern const Word16 g723_1_tabgain85[85];
extern const Word16 g723_1_fact[4];
extern const Word32 g723_1_L_bseg[3];
extern const Word16 g723_1_base[3];
extern const Word16 g723_ScfTab[11];
extern const Word16 g723_1_AcbkInterleavedGainTable085[88 * 20];
extern const Word16 g723_1_AcbkInterleavedGainTable170[172 * 20];
extern const Word16* const g723_1_AcbkInterleavedGainTablePtr[2];
extern const Word16 g723_1_NumBitsSet[16];
extern const Word16 g723_1_RemDctab_YR[3];  // input high-pass filter: feedback, then the two input taps
extern const Word16 g723_1_impulse[60];     // unit impulse at the input scale of the cascade filter

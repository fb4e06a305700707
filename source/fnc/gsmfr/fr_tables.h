// Constant tables of the GSM full-rate codec.
#pragma once

#include "fr_basic_op.h"

// LAR quantiser: rows A, B, -MIC, MAC - MIC.
extern const Word16 fr_LARcQ_Tab[4][8];
extern const Word16 fr_gsm_MIC[8];
extern const Word16 fr_gsm_B[8];  // twice the quantiser offsets B
extern const Word16 fr_gsm_INVA[8];

extern const Word16 fr_BP_val[4];   // quantised LTP gains (encoder's analysis filter)
extern const Word16 fr_gsm_QLB[4];  // the same values (decoder's synthesis filter)
extern const Word16 fr_gsm_DLB[4];  // LTP gain decision levels

extern const Word16 fr_RPEWtCoeff[12];  // 11-tap RPE weighting filter, Q13, then one 0
extern const Word16 fr_gsm_NRFAC[8];    // inverse mantissas
extern const Word16 fr_gsm_FAC[8];      // mantissas

extern const Word16 fr_interp_factor[24][2];  // comfort-noise weights (new, old)

extern const Word16 fr_DecHomSeq[76];  // decoder homing frame
extern const Word16 fr_Silence[76];    // silence frame substituted after long muting

extern const unsigned char fr_prm_bits_table[76];  // parameter widths of the serial frame

extern const Word16 fr_FRATE_VAD_consts[3][8];  // VAD constants per mode
extern const Word16 fr_FRATE_Vad_reset_tab[19];
extern const Word16 fr_EFR_DTX_const[2][2];  // {hangover, elapsed threshold} per do_EFR

extern const Word16 fr_FrameTypeLookup[8];
extern const Word16 fr_UpdatePrevSp_Lookup[5];
extern const Word16 fr_UpdatePrevNOTSp_Lookup[10];

inline constexpr Word32 FR_PN_INITIAL_SEED = 0x70816958;  // comfort-noise generator start

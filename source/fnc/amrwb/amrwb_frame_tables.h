// The AMR-WB tables that the payload wrapper shares with the codec: serial bit
// counts per mode, the payload bit orders (payload bit i is serial bit
// amr_wb_sort_X[i]) and the decoder homing frames (15 serial bits per word,
// first bit in bit 14, the last word left-aligned).
#pragma once

#include "amrwb_types.h"

// Serial bits per mode 0..8 (6.60 .. 23.85 kbit/s) and 9 (SID).
extern const Word16 amr_wb_nb_of_bits[10];

extern const Word16 amr_wb_sort_660[132];
extern const Word16 amr_wb_sort_885[177];
extern const Word16 amr_wb_sort_1265[253];
extern const Word16 amr_wb_sort_1425[285];
extern const Word16 amr_wb_sort_1585[317];
extern const Word16 amr_wb_sort_1825[365];
extern const Word16 amr_wb_sort_1985[397];
extern const Word16 amr_wb_sort_2305[461];
extern const Word16 amr_wb_sort_2385[477];
extern const Word16 amr_wb_sort_SID[35];

extern const Word16 amr_wb_dfh_M7k[9];
extern const Word16 amr_wb_dfh_M9k[12];
extern const Word16 amr_wb_dfh_M12k[17];
extern const Word16 amr_wb_dfh_M14k[19];  // 285 bits fill 19 words exactly
extern const Word16 amr_wb_dfh_M16k[22];
extern const Word16 amr_wb_dfh_M18k[25];
extern const Word16 amr_wb_dfh_M20k[27];
extern const Word16 amr_wb_dfh_M23k[31];
extern const Word16 amr_wb_dfh_M24k[32];
// Homing frame per mode 0..9; entry 9 repeats the 23.85 frame.
extern const Word16* const amr_wb_dhf[10];
// Serial bits of the first subframe per mode 0..8 (the first homing test).
extern const Word16 amr_wb_prmnofsf[9];

// Constant tables of the AMR-WB codec.  Layouts are those the kernels read:
// ISF codebooks in blocks of four codevectors (element j of codevector k at
// (k >> 2)·4·dim + 4·j + (k & 3)), interpolation filters one row per
// fraction, gain codebooks as separate columns, resampling filters by phase.
#pragma once

#include "amrwb_frame_tables.h"
#include "amrwb_types.h"

// Serial bit values of a 0 and a 1 bit.
extern const Word16 amr_wb_BIT_lookup[2];

// LP analysis and ISF conversion
extern const Word16 amr_wb_window[384];
extern const Word16 amr_wb_lag_hi[16];
extern const Word16 amr_wb_lag_lo[16];
extern const Word16 amr_wb_table_isqrt[49];
extern const Word16 amr_wb_pow_table[33];
extern const Word16 amr_wb_log2_table[33];
extern const Word16 amr_wb_isp_isf_table[129];
extern const Word16 amr_wb_isp_isf_slope[128];
extern const Word16 amr_wb_grid[101];
extern const Word16 amr_wb_isp_az_pol_tbl[4];
extern const Word16 amr_wb_isp_az_pol_16KHz_tbl[4];
extern const Word16 amr_wb_Weight_a_GAMMA1_M[16];
extern const Word16 amr_wb_Weight_a_19661_M[16];
extern const Word16 amr_wb_Weight_a_29491_M16K[20];
extern const Word16 amr_wb_isp_init[16];
extern const Word16 amr_wb_isf_init[16];
extern const Word16 amr_wb_interpol_frac[4];

// ISF quantisation
extern const Word16 amr_wb_mean_isf[16];
extern const Word16 amr_wb_mean_isf_noise[16];
extern const Word16 amr_wb_dico1_isf_reordered[256 * 9];
extern const Word16 amr_wb_dico2_isf_reordered[256 * 7];
extern const Word16 amr_wb_dico21_isf_reordered[64 * 3];
extern const Word16 amr_wb_dico22_isf_reordered[128 * 3];
extern const Word16 amr_wb_dico23_isf_reordered[128 * 3];
extern const Word16 amr_wb_dico24_isf_reordered[32 * 3];
extern const Word16 amr_wb_dico25_isf_reordered[32 * 4];
extern const Word16 amr_wb_dico21_isf_36b_reordered[128 * 5];
extern const Word16 amr_wb_dico22_isf_36b_reordered[128 * 4];
extern const Word16 amr_wb_dico23_isf_36b_reordered[64 * 7];
extern const Word16 amr_wb_dico1_isf_noise_reordered[64 * 2];
extern const Word16 amr_wb_dico2_isf_noise_reordered[64 * 3];
extern const Word16 amr_wb_dico3_isf_noise_reordered[64 * 3];
extern const Word16 amr_wb_dico4_isf_noise_reordered[32 * 4];
extern const Word16 amr_wb_dico5_isf_noise_reordered[32 * 4];
extern const Word16 amr_wb_vq_index_init[4];
extern const Word32 amr_wb_vq_index_init2[4];

// Filters
extern const Word16 amr_wb_fir_down[4 * 32];
extern const Word16 amr_wb_fir_up[96];
extern const Word16 amr_wb_hp400_ab[8];
extern const Word16 amr_wb_hp50_ab[8];
extern const Word16 amr_wb_hp_wsp_ab[12];
extern const Word16 amr_wb_fir_6k_7k[31];
extern const Word16 amr_wb_fir_7k[31];
extern const Word16 amr_wb_h_fir[5];

// Pitch, gains and excitation
extern const Word16 amr_wb_inter4_1[4 * 8];
extern const Word16 amr_wb_inter4_2[4 * 32];
extern const Word16 amr_wb_corrweight[199];
extern const Word16 amr_wb_t_qua_gain7b_g_pitch[128];
extern const Word16 amr_wb_t_qua_gain7b_g_code[128];
extern const Word16 amr_wb_t_qua_gain6b_g_pitch[64];
extern const Word16 amr_wb_t_qua_gain6b_g_code[64];
extern const Word16 amr_wb_pred[4];
extern const Word16 amr_wb_ph_imp_low[64];
extern const Word16 amr_wb_ph_imp_mid[64];
extern const Word16 amr_wb_Pitch_Excitation_LP_coeff[4];
extern const Word16 amr_wb_HP_gain[16];
extern const Word16 amr_wb_pdown_usable[7];
extern const Word16 amr_wb_pdown_unusable[7];
extern const Word16 amr_wb_cdown_usable[7];
extern const Word16 amr_wb_cdown_unusable[7];
extern const Word16 amr_wb_tipos[36];

// DTX
extern const Word16 amr_wb_en_adjust[9];

// VAD filter bank: one row (count1, count2, ind_m, ind_a, scale) per band,
// highest band first.
struct amr_wb_FbankParam {
    Word16 count1, count2, ind_m, ind_a, scale;
};
extern const amr_wb_FbankParam amr_wb_FbankParamTable[12];

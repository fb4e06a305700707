// Constant tables of the AMR-NB / EFR code base, shared by the kernels and the
// frame code.  Layouts are those the kernels read: LSF codebooks in blocks of
// four entries, gain tables split into columns, the interpolation filter in
// rows of ten, bit allocations stored as bits minus one.
#pragma once

#include "amrefr_types.h"

// Arithmetic
extern const Word16 amrefr_inv_sqrt_table[49];
extern const Word16 amrefr_log2_table[33];
extern const Word16 amrefr_pow_table[33];
extern const Word16 amrefr_sqrt_table[49];

// LPC analysis and LSP conversion
extern const Word16 amrefr_L_lag_hi[10];
extern const Word16 amrefr_L_lag_lo[10];
extern const Word16 amrefr_table[65];
extern const Word16 amrefr_slope[64];
extern const Word16 amrefr_grid[61];
extern const Word16 amrefr_window_200_40[240];
extern const Word16 amrefr_window_160_80[240];
extern const Word16 amrefr_window_232_8[240];

// Filters
extern const Word16 amrefr_b_pre[3];
extern const Word16 amrefr_a_pre[3];
extern const Word16 amrefr_b_post[3];
extern const Word16 amrefr_a_post[3];
extern const Word16 amrefr_gamma1[10];
extern const Word16 amrefr_gamma1_12k2[10];
extern const Word16 amrefr_gamma2[10];
extern const Word16 amrefr_gamma3[10];
extern const Word16 amrefr_gamma4[10];
extern const Word16 amrefr_gamma3_MR122[10];
extern const Word16 amrefr_gamma4_MR122[10];

// Pitch
extern const Word16 amrefr_inter_6[70];
extern const Word16 amrefr_inter_6_rev[70];
extern const Word16 amrefr_inter_6_2_comb[48];
extern const Word16 amrefr_corrweight[251];

// LSF quantisation
extern const Word16 amrefr_past_rq_init[80];
extern const Word16 amrefr_pred_fac[10];
extern const Word16 amrefr_mean_lsf_3[10];
extern const Word16 amrefr_mean_lsf_5[10];
extern const Word16 amrefr_lsp_init_data[10];
extern const Word16 amrefr_reordered_dico1_lsf[256 * 3];
extern const Word16 amrefr_reordered_dico2_lsf[512 * 3];
extern const Word16 amrefr_reordered_dico3_lsf[512 * 4];
extern const Word16 amrefr_reordered_mr515_3_lsf[128 * 4];
extern const Word16 amrefr_reordered_mr795_1_lsf[512 * 3];
extern const Word16 amrefr_reordered_dico1_5_lsf[128 * 4];
extern const Word16 amrefr_reordered_dico2_5_lsf[256 * 4];
extern const Word16 amrefr_reordered_dico3_5_lsf[256 * 4];
extern const Word16 amrefr_reordered_dico4_5_lsf[256 * 4];
extern const Word16 amrefr_reordered_dico5_5_lsf[64 * 4];

// Gain quantisation
extern const Word16 amrefr_qua_gain_pitch[16];
extern const Word16 amrefr_table_gain_MR475_gpit0[256];
extern const Word16 amrefr_table_gain_MR475_gfac0[256];
extern const Word16 amrefr_table_gain_MR475_gpit1[256];
extern const Word16 amrefr_table_gain_MR475_gfac1[256];
extern const Word16 amrefr_qua_gain_code_g_fac[32];
extern const Word16 amrefr_qua_gain_code_qeMR122[32];
extern const Word16 amrefr_qua_gain_code_qe[32];
extern const Word16 amrefr_g_pit_gain_highrates[128];
extern const Word16 amrefr_g_fac_gain_highrates[128];
extern const Word16 amrefr_qe_MR122_gain_highrates[128];
extern const Word16 amrefr_qe_gain_highrates[128];
extern const Word16 amrefr_g_pit_gain_lowrates[64];
extern const Word16 amrefr_g_fac_gain_lowrates[64];
extern const Word16 amrefr_qe_MR122_gain_lowrates[64];
extern const Word16 amrefr_qe_gain_lowrates[64];
extern const Word16 amrefr_gs_mask[4];

// Algebraic codebook
extern const Word16 amrefr_vq_index_init[4];
extern const Word16 amrefr_vq_index_init2[4];
extern const Word16 amrefr_expanded_ipos_7K4[14];
extern const Word16 amrefr_expanded_ipos_6k7[20];
extern const Word16 amrefr_control_7k4[8];
extern const Word16 amrefr_control_6k7[12];
extern const Word16 amrefr_coeff_12k2[30];
extern const Word16 amrefr_src_i[1600];
extern const Word16 amrefr_src_i_102[1600];
extern const Word32 amrefr_GenRowStart_index[4];
extern const UWord8 amrefr_split5_index[24];
extern const Word16 amrefr_startPos[16];
extern const Word16 amrefr_startPos1[2];
extern const Word16 amrefr_startPos2[4];

// Decoder and comfort noise
extern const Word16 amrefr_ph_imp_low[40];
extern const Word16 amrefr_ph_imp_mid[40];
extern const Word16 amrefr_ph_imp_low_MR795[40];
extern const Word16 amrefr_ph_imp_mid_MR795[40];
extern const Word16 amrefr_lsf_hist_mean_scale[10];
extern const Word16 amrefr_dtx_log_en_adjust[9];
extern const Word16 amrefr_interp_factor[24];
extern const Word16 amrefr_SID_codeword_bit_idx[95];

// Homing frames (parameter values)
extern const Word16 amrefr_dhf_MR475[17];
extern const Word16 amrefr_dhf_MR515[19];
extern const Word16 amrefr_dhf_MR59[19];
extern const Word16 amrefr_dhf_MR67[19];
extern const Word16 amrefr_dhf_MR74[19];
extern const Word16 amrefr_dhf_MR795[23];
extern const Word16 amrefr_dhf_MR102[39];
extern const Word16 amrefr_dhf_MR122[57];
extern const Word16 amrefr_dhf_mask[57];
extern const Word16 amrefr_homing_tab[57];
extern const Word16* const amrefr_dhf[8];

// Parameter layouts: counts and bits minus one per parameter
extern const Word16 amrefr_prmno[9];
extern const Word16 amrefr_prmnofsf[8];
extern const Word16 amrefr_bitno_MR475[17];
extern const Word16 amrefr_bitno_MR515[19];
extern const Word16 amrefr_bitno_MR59[19];
extern const Word16 amrefr_bitno_MR67[19];
extern const Word16 amrefr_bitno_MR74[19];
extern const Word16 amrefr_bitno_MR795[23];
extern const Word16 amrefr_bitno_MR102[39];
extern const Word16 amrefr_bitno_MR122[57];
extern const Word16 amrefr_bitno_MRDTX[5];
extern const Word16* const amrefr_bitno[9];

// VAD option 1 and 2
extern const Word16 amr_coeff5[2];
extern const Word16 amrefr_ch_tbl[16];
extern const Word16 amrefr_ch_tbl_sh[16];
extern const Word16 amrefr_vm_tbl[90];
extern const Word16 amrefr_phs_tbl[128];
extern const Word16 amrefr_phs_tbl_Penultimate[32];
extern const Word16 amrefr_phs_tbl_Last[64];

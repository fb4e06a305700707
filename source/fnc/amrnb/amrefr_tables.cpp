// Tables whose values are fixed by the code base's own design or are short
// enough to state here; the standard's long tables are in amrefr_tables_gen.cpp.
#include "amrefr_tables.h"

constexpr Word16 amrefr_b_pre[3] = {1899, -3798, 1899};
constexpr Word16 amrefr_a_pre[3] = {4096, 7807, -3733};
constexpr Word16 amrefr_b_post[3] = {7699, -15398, 7699};
constexpr Word16 amrefr_a_post[3] = {8192, 15836, -7667};

constexpr Word16 amrefr_lsp_init_data[10] = {30000, 26000, 21000, 15000, 8000,
                                             0, -8000, -15000, -21000, -26000};

// Upper 32 bits of a 64-bit lane pair set (the two high 16-bit words of each lane pair).
constexpr Word16 amrefr_gs_mask[4] = {0, 0, -1, -1};

constexpr Word16 amrefr_vq_index_init[4] = {0, 1, 2, 3};
constexpr Word16 amrefr_vq_index_init2[4] = {-1, 0, 1, 2};
constexpr Word16 amrefr_expanded_ipos_7K4[14] = {8, 16, 24, 0, 8, 16, 24, 8, 16, 32, 0, 8, 16, 32};
constexpr Word16 amrefr_expanded_ipos_6k7[20] = {8, 16, 0, 8, 16, 8, 32, 0, 8, 32,
                                                 24, 16, 0, 24, 16, 24, 32, 0, 24, 32};
constexpr Word16 amrefr_control_7k4[8] = {1, 2, 2, 1, 0, 2, 2, 0};
constexpr Word16 amrefr_control_6k7[12] = {1, 1, 2, 0, 1, 2, 1, 0, 2, 0, 0, 2};
// Level coefficients c0..c5 of the pulse-pair levels 2, 4, 6, 8 (Q15), then six zeros.
constexpr Word16 amrefr_coeff_12k2[30] = {2048, 4096, 4096, 8192, 16384, 4096,
                                          1024, 2048, 4096, 8192, 8192, 2048,
                                          512, 1024, 2048, 4096, 8192, 1024,
                                          256, 512, 2048, 4096, 4096, 512,
                                          0, 0, 0, 0, 0, 0};
constexpr Word32 amrefr_GenRowStart_index[4] = {0, 80, 160, 240};
constexpr UWord8 amrefr_split5_index[24] = {0, 1, 10, 11, 20, 21, 30, 31,
                                            2, 2, 2, 2, 2, 2, 2, 2,
                                            128, 128, 128, 128, 128, 128, 0, 1};
constexpr Word16 amrefr_startPos[16] = {0, 2, 0, 3, 0, 2, 0, 3, 1, 3, 2, 4, 1, 4, 1, 4};
constexpr Word16 amrefr_startPos1[2] = {1, 3};
constexpr Word16 amrefr_startPos2[4] = {0, 1, 2, 4};

constexpr Word16 amrefr_lsf_hist_mean_scale[10] = {20000, 20000, 20000, 20000, 20000,
                                                   18000, 16384, 8192, 0, 0};
constexpr Word16 amrefr_dtx_log_en_adjust[9] = {-1023, -878, -732, -586, -440, -294, -148, 0, 0};

const Word16* const amrefr_dhf[8] = {amrefr_dhf_MR475, amrefr_dhf_MR515, amrefr_dhf_MR59,
                                     amrefr_dhf_MR67,  amrefr_dhf_MR74,  amrefr_dhf_MR795,
                                     amrefr_dhf_MR102, amrefr_dhf_MR122};

constexpr Word16 amrefr_prmno[9] = {17, 19, 19, 19, 19, 23, 39, 57, 5};
constexpr Word16 amrefr_prmnofsf[8] = {7, 7, 7, 7, 7, 8, 12, 18};
const Word16* const amrefr_bitno[9] = {amrefr_bitno_MR475, amrefr_bitno_MR515, amrefr_bitno_MR59,
                                       amrefr_bitno_MR67,  amrefr_bitno_MR74,  amrefr_bitno_MR795,
                                       amrefr_bitno_MR102, amrefr_bitno_MR122, amrefr_bitno_MRDTX};

constexpr Word16 amr_coeff5[2] = {21955, 6390};
constexpr Word16 amrefr_ch_tbl_sh[16] = {16384, 16384, 16384, 16384, 16384, 16384, 10923, 10923,
                                         10923, 8192, 8192, 6554, 5461, 4681, 4681, 4096};
constexpr Word16 amrefr_vm_tbl[90] = {
    2,  2,  2,  2,  2,  2,  2,  2,  2,  2,  2,  3,  3,  3,  3,  3,  4,  4,  4,  5,  5,  5,  6,
    6,  7,  7,  7,  8,  8,  9,  9,  10, 10, 11, 12, 12, 13, 13, 14, 15, 15, 16, 17, 17, 18, 19,
    20, 20, 21, 22, 23, 24, 24, 25, 26, 27, 28, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 37, 38,
    39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50};

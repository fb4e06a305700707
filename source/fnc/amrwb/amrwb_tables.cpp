// AMR-WB tables whose values are written out in full here rather than taken
// from the standard's table files.
#include "amrwb_tables.h"

constexpr Word16 amr_wb_BIT_lookup[2] = {-127, 127};

constexpr Word16 amr_wb_isp_az_pol_tbl[4] = {1024, -256, 512, 0};
constexpr Word16 amr_wb_isp_az_pol_16KHz_tbl[4] = {256, -64, 128, 0};

constexpr Word16 amr_wb_vq_index_init[4] = {0, 1, 2, 3};
constexpr Word32 amr_wb_vq_index_init2[4] = {0, 1, 2, 3};

constexpr Word16 amr_wb_Pitch_Excitation_LP_coeff[4] = {5898, 20972, 5898, 0};

constexpr amr_wb_FbankParam amr_wb_FbankParamTable[12] = {
    {16, 64, 4, 1, 14}, {8, 32, 8, 7, 15},   {8, 32, 8, 3, 15},   {8, 32, 8, 2, 15},
    {4, 16, 16, 14, 16}, {4, 16, 16, 6, 16}, {4, 16, 16, 4, 16},  {4, 16, 16, 12, 16},
    {2, 8, 32, 8, 17},  {2, 8, 32, 24, 17},  {2, 8, 32, 16, 17},  {2, 8, 32, 0, 17},
};

constexpr const Word16* amr_wb_dhf[10] = {
    amr_wb_dfh_M7k,  amr_wb_dfh_M9k,  amr_wb_dfh_M12k, amr_wb_dfh_M14k, amr_wb_dfh_M16k,
    amr_wb_dfh_M18k, amr_wb_dfh_M20k, amr_wb_dfh_M23k, amr_wb_dfh_M24k, amr_wb_dfh_M24k,
};

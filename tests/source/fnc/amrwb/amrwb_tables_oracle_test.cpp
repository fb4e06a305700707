// The AMR-WB table module, element by element, against the tables that the
// independent implementations' static archives export (libopencore-amrwb,
// libvo-amrwbenc; linked into this test only), after undoing each layout.
#include <gtest/gtest.h>

#if AMRWB_PEER_TABLES
#include "amrwb_table_layouts.h"

using namespace amrwb_test;

extern "C" {
// Decoder library.
extern const short fir_6k_7k[], fir_7k[], fir_up[], inter4_2[], Log2_norm_table[], table_pow2[];
extern const short pred[], pdown_usable[], pdown_unusable[], cdown_usable[], cdown_unusable[];
extern const short t_qua_gain6b[], t_qua_gain7b[], mean_isf[], mean_isf_noise[], HP_gain[];
extern const short dico1_isf[], dico2_isf[], dico21_isf[], dico22_isf[], dico23_isf[], dico24_isf[], dico25_isf[];
extern const short dico21_isf_36b[], dico22_isf_36b[], dico23_isf_36b[];
extern const short dico1_isf_noise[], dico2_isf_noise[], dico3_isf_noise[], dico4_isf_noise[], dico5_isf_noise[];
extern const short dfh_M7k[], dfh_M9k[], dfh_M12k[], dfh_M14k[], dfh_M16k[], dfh_M18k[], dfh_M20k[], dfh_M23k[],
    dfh_M24k[];
extern const short sort_660[], sort_885[], sort_1265[], sort_1425[], sort_1585[], sort_1825[], sort_1985[],
    sort_2305[], sort_2385[], sort_SID[];
// Encoder library.
extern const short vo_window[], vogrid[], voAWB_fir_6k_7k[], voAWB_inter4_2[];
}

namespace {

// Their decoder stores the oversampling filter by phase: [k][t] = filter[5t + k].
Vec their_fir_up_as_ours() {
    Vec v(96);
    for (int t = 0; t < 24; ++t)
        for (int k = 0; k < 4; ++k) v[4 * t + k] = fir_up[24 * k + t];
    return v;
}

// Both store the rows of Pred_lt4's filter in the opposite order: their row r
// serves the fraction 3 - r.
Vec reversed_rows_as_ours(const short* theirs) {
    Vec v(128);
    for (int f = 0; f < 4; ++f)
        for (int k = 0; k < 32; ++k) v[32 * f + k] = theirs[32 * (3 - f) + k];
    return v;
}

}  // namespace

TEST(AmrwbTablesOracle, EqualTheIndependentImplementationsTables) {
    struct Pair {
        const char* name;
        Vec ours, theirs;
    };
    const Pair pairs[] = {
        {"fir_6k_7k (decoder: 30 taps)", plain(amr_wb_fir_6k_7k, 30), plain(fir_6k_7k, 30)},
        {"fir_6k_7k (encoder)", plain(amr_wb_fir_6k_7k, 31), plain(voAWB_fir_6k_7k, 31)},
        {"fir_7k", plain(amr_wb_fir_7k, 31), plain(fir_7k, 31)},
        {"fir_up", plain(amr_wb_fir_up, 96), their_fir_up_as_ours()},
        {"inter4_2 (decoder)", plain(amr_wb_inter4_2, 128), reversed_rows_as_ours(inter4_2)},
        {"inter4_2 (encoder)", plain(amr_wb_inter4_2, 128), reversed_rows_as_ours(voAWB_inter4_2)},
        {"log2", plain(amr_wb_log2_table, 33), plain(Log2_norm_table, 33)},
        {"pow2", plain(amr_wb_pow_table, 33), plain(table_pow2, 33)},
        {"window", plain(amr_wb_window, 384), plain(vo_window, 384)},
        {"grid", plain(amr_wb_grid, 101), plain(vogrid, 101)},
        {"pred", plain(amr_wb_pred, 4), plain(pred, 4)},
        {"pdown_usable", plain(amr_wb_pdown_usable, 7), plain(pdown_usable, 7)},
        {"pdown_unusable", plain(amr_wb_pdown_unusable, 7), plain(pdown_unusable, 7)},
        {"cdown_usable", plain(amr_wb_cdown_usable, 7), plain(cdown_usable, 7)},
        {"cdown_unusable", plain(amr_wb_cdown_unusable, 7), plain(cdown_unusable, 7)},
        {"t_qua_gain6b", from_columns({amr_wb_t_qua_gain6b_g_pitch, amr_wb_t_qua_gain6b_g_code}, 64),
         plain(t_qua_gain6b, 128)},
        {"t_qua_gain7b", from_columns({amr_wb_t_qua_gain7b_g_pitch, amr_wb_t_qua_gain7b_g_code}, 128),
         plain(t_qua_gain7b, 256)},
        {"mean_isf", plain(amr_wb_mean_isf, 16), plain(mean_isf, 16)},
        {"mean_isf_noise", plain(amr_wb_mean_isf_noise, 16), plain(mean_isf_noise, 16)},
        {"HP_gain", plain(amr_wb_HP_gain, 16), plain(HP_gain, 16)},
        {"dico1_isf", from_blocks(amr_wb_dico1_isf_reordered, 256, 9), plain(dico1_isf, 2304)},
        {"dico2_isf", from_blocks(amr_wb_dico2_isf_reordered, 256, 7), plain(dico2_isf, 1792)},
        {"dico21_isf", from_blocks(amr_wb_dico21_isf_reordered, 64, 3), plain(dico21_isf, 192)},
        {"dico22_isf", from_blocks(amr_wb_dico22_isf_reordered, 128, 3), plain(dico22_isf, 384)},
        {"dico23_isf", from_blocks(amr_wb_dico23_isf_reordered, 128, 3), plain(dico23_isf, 384)},
        {"dico24_isf", from_blocks(amr_wb_dico24_isf_reordered, 32, 3), plain(dico24_isf, 96)},
        {"dico25_isf", from_blocks(amr_wb_dico25_isf_reordered, 32, 4), plain(dico25_isf, 128)},
        {"dico21_isf_36b", from_blocks(amr_wb_dico21_isf_36b_reordered, 128, 5), plain(dico21_isf_36b, 640)},
        {"dico22_isf_36b", from_blocks(amr_wb_dico22_isf_36b_reordered, 128, 4), plain(dico22_isf_36b, 512)},
        {"dico23_isf_36b", from_blocks(amr_wb_dico23_isf_36b_reordered, 64, 7), plain(dico23_isf_36b, 448)},
        {"dico1_isf_noise", from_blocks(amr_wb_dico1_isf_noise_reordered, 64, 2), plain(dico1_isf_noise, 128)},
        {"dico2_isf_noise", from_blocks(amr_wb_dico2_isf_noise_reordered, 64, 3), plain(dico2_isf_noise, 192)},
        {"dico3_isf_noise", from_blocks(amr_wb_dico3_isf_noise_reordered, 64, 3), plain(dico3_isf_noise, 192)},
        {"dico4_isf_noise", from_blocks(amr_wb_dico4_isf_noise_reordered, 32, 4), plain(dico4_isf_noise, 128)},
        {"dico5_isf_noise", from_blocks(amr_wb_dico5_isf_noise_reordered, 32, 4), plain(dico5_isf_noise, 128)},
        {"dfh_M7k", plain(amr_wb_dfh_M7k, 9), plain(dfh_M7k, 9)},
        {"dfh_M9k", plain(amr_wb_dfh_M9k, 12), plain(dfh_M9k, 12)},
        {"dfh_M12k", plain(amr_wb_dfh_M12k, 17), plain(dfh_M12k, 17)},
        {"dfh_M14k", plain(amr_wb_dfh_M14k, 19), plain(dfh_M14k, 19)},
        {"dfh_M16k", plain(amr_wb_dfh_M16k, 22), plain(dfh_M16k, 22)},
        {"dfh_M18k", plain(amr_wb_dfh_M18k, 25), plain(dfh_M18k, 25)},
        {"dfh_M20k", plain(amr_wb_dfh_M20k, 27), plain(dfh_M20k, 27)},
        {"dfh_M23k", plain(amr_wb_dfh_M23k, 31), plain(dfh_M23k, 31)},
        {"dfh_M24k", plain(amr_wb_dfh_M24k, 32), plain(dfh_M24k, 32)},
        {"sort_660", plain(amr_wb_sort_660, 132), plain(sort_660, 132)},
        {"sort_885", plain(amr_wb_sort_885, 177), plain(sort_885, 177)},
        {"sort_1265", plain(amr_wb_sort_1265, 253), plain(sort_1265, 253)},
        {"sort_1425", plain(amr_wb_sort_1425, 285), plain(sort_1425, 285)},
        {"sort_1585", plain(amr_wb_sort_1585, 317), plain(sort_1585, 317)},
        {"sort_1825", plain(amr_wb_sort_1825, 365), plain(sort_1825, 365)},
        {"sort_1985", plain(amr_wb_sort_1985, 397), plain(sort_1985, 397)},
        {"sort_2305", plain(amr_wb_sort_2305, 461), plain(sort_2305, 461)},
        {"sort_2385", plain(amr_wb_sort_2385, 477), plain(sort_2385, 477)},
        {"sort_SID", plain(amr_wb_sort_SID, 35), plain(sort_SID, 35)},
    };
    for (const Pair& p : pairs) EXPECT_EQ(p.ours, p.theirs) << p.name;
}
#else
TEST(AmrwbTablesOracle, EqualTheIndependentImplementationsTables) {
    GTEST_SKIP() << "needs the tables of the peers' static archives libopencore-amrwb.a and libvo-amrwbenc.a, "
                    "which were not found when the build was configured";
}
#endif

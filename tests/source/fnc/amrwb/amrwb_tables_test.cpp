// The AMR-WB table module against the checksums of the standard's tables
// (one test per table, in the standard's layout) and the layout rulings.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "amrwb_basic_op.h"
#include "amrwb_table_layouts.h"

using namespace amrwb_test;

namespace {

struct Case {
    const char* name;
    Vec (*standard)();
    std::int64_t sum, weighted;
    int count;
};

#define PLAIN(t, n) [] { return plain(t, n); }
#define BLOCKS(t, e, d) [] { return from_blocks(t, e, d); }

const Case kCases[] = {
    {"window", PLAIN(amr_wb_window, 384), 7203439, 1594246174, 384},
    {"fir_down", [] { return from_phase_rows(amr_wb_fir_down, 30, 32, 120); }, 65533, 3931980, 120},
    {"fir_up", fir_up_standard, 81922, 4915320, 120},
    {"lag_h", PLAIN(amr_wb_lag_hi, 16), 503700, 4203120, 16},
    {"lag_l", PLAIN(amr_wb_lag_lo, 16), 232704, 1964672, 16},
    {"table_isqrt", PLAIN(amr_wb_table_isqrt, 49), 1073225, 23834196, 49},
    {"table_pow2", PLAIN(amr_wb_pow_table, 33), 780991, 14797716, 33},
    {"log2_table", PLAIN(amr_wb_log2_table, 33), 600680, 13231461, 33},
    {"isp_isf_table", PLAIN(amr_wb_isp_isf_table, 129), -1, -110895599, 129},
    {"isp_isf_slope", PLAIN(amr_wb_isp_isf_slope, 128), -168582, -10873539, 128},
    {"grid", PLAIN(amr_wb_grid, 101), 7, -68043363, 101},
    {"mean_isf", PLAIN(amr_wb_mean_isf, 16), 119497, 1277910, 16},
    {"mean_isf_noise", PLAIN(amr_wb_mean_isf_noise, 16), 111821, 1201854, 16},
    {"dico1_isf", BLOCKS(amr_wb_dico1_isf_reordered, 256, 9), 126081, 85810625, 2304},
    {"dico2_isf", BLOCKS(amr_wb_dico2_isf_reordered, 256, 7), -75376, -74775598, 1792},
    {"dico21_isf", BLOCKS(amr_wb_dico21_isf_reordered, 64, 3), 1674, -460075, 192},
    {"dico22_isf", BLOCKS(amr_wb_dico22_isf_reordered, 128, 3), -273, 156680, 384},
    {"dico23_isf", BLOCKS(amr_wb_dico23_isf_reordered, 128, 3), 834, -161686, 384},
    {"dico24_isf", BLOCKS(amr_wb_dico24_isf_reordered, 32, 3), -392, 70321, 96},
    {"dico25_isf", BLOCKS(amr_wb_dico25_isf_reordered, 32, 4), 104, -96354, 128},
    {"dico21_isf_36b", BLOCKS(amr_wb_dico21_isf_36b_reordered, 128, 5), 1244, -3353521, 640},
    {"dico22_isf_36b", BLOCKS(amr_wb_dico22_isf_36b_reordered, 128, 4), -907, 2521026, 512},
    {"dico23_isf_36b", BLOCKS(amr_wb_dico23_isf_36b_reordered, 64, 7), -237, 265254, 448},
    {"dico1_isf_noise", BLOCKS(amr_wb_dico1_isf_noise_reordered, 64, 2), 28274, 3011756, 128},
    {"dico2_isf_noise", BLOCKS(amr_wb_dico2_isf_noise_reordered, 64, 3), 14156, 4835525, 192},
    {"dico3_isf_noise", BLOCKS(amr_wb_dico3_isf_noise_reordered, 64, 3), 54961, 9779597, 192},
    {"dico4_isf_noise", BLOCKS(amr_wb_dico4_isf_noise_reordered, 32, 4), 59928, 5995386, 128},
    {"dico5_isf_noise", BLOCKS(amr_wb_dico5_isf_noise_reordered, 32, 4), 84238, 6334176, 128},
    {"inter4_1", [] { return from_phase_rows(amr_wb_inter4_1, 8, 8, 32); }, 65544, 1048704, 32},
    {"inter4_2", [] { return from_phase_rows(amr_wb_inter4_2, 32, 32, 128); }, 65537, 4194368, 128},
    {"corrweight", PLAIN(amr_wb_corrweight, 199), 2518854, 251503596, 199},
    {"t_qua_gain6b", [] { return from_columns({amr_wb_t_qua_gain6b_g_pitch, amr_wb_t_qua_gain6b_g_code}, 64); },
     1225954, 92710564, 128},
    {"t_qua_gain7b", [] { return from_columns({amr_wb_t_qua_gain7b_g_pitch, amr_wb_t_qua_gain7b_g_code}, 128); },
     2074615, 327932349, 256},
    {"pred", PLAIN(amr_wb_pred, 4), 11469, 24576, 4},
    {"ph_imp_low", PLAIN(amr_wb_ph_imp_low, 64), 32780, 243210, 64},
    {"ph_imp_mid", PLAIN(amr_wb_ph_imp_mid, 64), 32769, 214199, 64},
    {"fir_6k_7k", PLAIN(amr_wb_fir_6k_7k, 31), 14, 224, 31},
    {"fir_7k", PLAIN(amr_wb_fir_7k, 31), 32770, 524320, 31},
    {"h_fir", PLAIN(amr_wb_h_fir, 5), 32767, 98301, 5},
    // Filter rows: the recursive part's leading 1.0 is not stored.
    {"hp400_a", [] { return Vec{16384, amr_wb_hp400_ab[3], amr_wb_hp400_ab[2]}; }, 31504, 32464, 3},
    {"hp400_b", [] { return Vec{amr_wb_hp400_ab[4], amr_wb_hp400_ab[5], amr_wb_hp400_ab[6]}; }, 0, 0, 3},
    {"hp50_a", [] { return Vec{8192, amr_wb_hp50_ab[3], amr_wb_hp50_ab[2]}; }, 16382, 16551, 3},
    {"hp50_b", [] { return Vec{amr_wb_hp50_ab[4], amr_wb_hp50_ab[5], amr_wb_hp50_ab[6]}; }, 0, 0, 3},
    {"hp_wsp_a", [] { return Vec{8192, amr_wb_hp_wsp_ab[2], amr_wb_hp_wsp_ab[1], amr_wb_hp_wsp_ab[0]}; },
     16331, 16680, 4},
    {"hp_wsp_b",
     [] { return Vec{amr_wb_hp_wsp_ab[11], amr_wb_hp_wsp_ab[10], amr_wb_hp_wsp_ab[9], amr_wb_hp_wsp_ab[8]}; }, 0, 16,
     4},
    {"HP_gain", PLAIN(amr_wb_HP_gain, 16), 200857, 2219992, 16},
    {"interpol_frac", PLAIN(amr_wb_interpol_frac, 4), 105184, 292613, 4},
    {"isp_init", PLAIN(amr_wb_isp_init, 16), 1475, -1419616, 16},
    {"isf_init", PLAIN(amr_wb_isf_init, 16), 126720, 1331200, 16},
    {"pdown_usable", PLAIN(amr_wb_pdown_usable, 7), 130416, 339477, 7},
    {"pdown_unusable", PLAIN(amr_wb_pdown_unusable, 7), 127467, 331613, 7},
    {"cdown_usable", PLAIN(amr_wb_cdown_usable, 7), 216270, 835593, 7},
    {"cdown_unusable", PLAIN(amr_wb_cdown_unusable, 7), 81919, 216268, 7},
    {"en_adjust", PLAIN(amr_wb_en_adjust, 9), 1260, 5583, 9},
    {"nb_of_bits", PLAIN(amr_wb_nb_of_bits, 10), 2899, 17270, 10},
    {"prmnofsf", PLAIN(amr_wb_prmnofsf, 9), 1040, 5877, 9},
    {"dfh_M7k", PLAIN(amr_wb_dfh_M7k, 9), 158022, 813039, 9},
    {"dfh_M9k", PLAIN(amr_wb_dfh_M9k, 12), 171683, 1177944, 12},
    {"dfh_M12k", PLAIN(amr_wb_dfh_M12k, 17), 249426, 2360528, 17},
    {"dfh_M14k", PLAIN(amr_wb_dfh_M14k, 19), 294680, 3055319, 19},
    {"dfh_M16k", PLAIN(amr_wb_dfh_M16k, 22), 278793, 3244907, 22},
    {"dfh_M18k", PLAIN(amr_wb_dfh_M18k, 25), 368884, 4626643, 25},
    {"dfh_M20k", PLAIN(amr_wb_dfh_M20k, 27), 403694, 5939392, 27},
    {"dfh_M23k", PLAIN(amr_wb_dfh_M23k, 31), 478670, 7791976, 31},
    {"dfh_M24k", PLAIN(amr_wb_dfh_M24k, 32), 510253, 8375598, 32},
    {"sort_660", PLAIN(amr_wb_sort_660, 132), 8646, 622910, 132},
    {"sort_885", PLAIN(amr_wb_sort_885, 177), 15576, 1537725, 177},
    {"sort_1265", PLAIN(amr_wb_sort_1265, 253), 31878, 4479743, 253},
    {"sort_1425", PLAIN(amr_wb_sort_1425, 285), 40470, 6375723, 285},
    {"sort_1585", PLAIN(amr_wb_sort_1585, 317), 50086, 8783483, 317},
    {"sort_1825", PLAIN(amr_wb_sort_1825, 365), 66430, 13445642, 365},
    {"sort_1985", PLAIN(amr_wb_sort_1985, 397), 78606, 17152784, 397},
    {"sort_2305", PLAIN(amr_wb_sort_2305, 461), 106030, 27124893, 461},
    {"sort_2385", PLAIN(amr_wb_sort_2385, 477), 113526, 29708973, 477},
    {"sort_SID", PLAIN(amr_wb_sort_SID, 35), 595, 14280, 35},
    {"tipos", PLAIN(amr_wb_tipos, 36), 54, 1004, 36},
    {"Weight_a_GAMMA1_M", PLAIN(amr_wb_Weight_a_GAMMA1_M, 16), 277597, 1881803, 16},
    {"Weight_a_19661_M", PLAIN(amr_wb_Weight_a_19661_M, 16), 49140, 122644, 16},
    {"Weight_a_29491_M16K", PLAIN(amr_wb_Weight_a_29491_M16K, 20), 259048, 1873367, 20},
};

class AmrwbTableChecksum : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(AmrwbTableChecksum, EqualsTheStandardTable) {
    const Case& c = GetParam();
    Vec v = c.standard();
    std::int64_t sum = 0, weighted = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        sum += v[i];
        weighted += static_cast<std::int64_t>(i + 1) * v[i];
    }
    EXPECT_EQ(static_cast<int>(v.size()), c.count);
    EXPECT_EQ(sum, c.sum);
    EXPECT_EQ(weighted, c.weighted);
}

INSTANTIATE_TEST_SUITE_P(Tables, AmrwbTableChecksum, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p; ++p)
                                 n += (std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                             return n;
                         });

TEST(AmrwbTables, LayoutRulings) {
    // Row = fraction f, tap k = filter[(3 - f) + 4k]: row 0 of the Interpol_4 filter.
    const Word16 row0[8] = {206, -766, 1376, 14746, 1376, -766, 206, 0};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(amr_wb_inter4_1[k], row0[k]) << k;
    // The Pred_lt4 filter peaks at the integer delay in row 0.
    EXPECT_EQ(amr_wb_inter4_2[15], 15401);
    // Decimation row 0 and its peak, the oversampling filter's centre.
    const Word16 down0[6] = {-5, 24, -50, 54, 0, -128};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(amr_wb_fir_down[k], down0[k]);
    EXPECT_EQ(amr_wb_fir_down[14], 13107);
    EXPECT_EQ(amr_wb_fir_down[30], 0);
    EXPECT_EQ(amr_wb_fir_down[31], 0);
    EXPECT_EQ(amr_wb_fir_up[44], 3792);
    EXPECT_EQ(amr_wb_fir_up[47], 15317);
    for (int e = 0; e < 96; ++e) EXPECT_EQ(amr_wb_fir_up[e], amr_wb_fir_up[95 - e]);
    // First codevectors of the first stage interleave by four.
    EXPECT_EQ(amr_wb_dico1_isf_reordered[0], 579);
    EXPECT_EQ(amr_wb_dico1_isf_reordered[1], 18);
    EXPECT_EQ(amr_wb_dico1_isf_reordered[2], 740);
    EXPECT_EQ(amr_wb_dico1_isf_reordered[3], -91);
    // Homing frames: 285 bits fill 19 words; entry 9 repeats 23.85.
    EXPECT_EQ(amr_wb_nb_of_bits[3], 19 * 15);
    EXPECT_EQ(amr_wb_dhf[9], amr_wb_dfh_M24k);
    EXPECT_EQ(amr_wb_dhf[8], amr_wb_dfh_M24k);
    EXPECT_EQ(amr_wb_dhf[0], amr_wb_dfh_M7k);
    // The payload orders are permutations of the serial bits.
    const Word16* sorts[10] = {amr_wb_sort_660,  amr_wb_sort_885,  amr_wb_sort_1265, amr_wb_sort_1425,
                               amr_wb_sort_1585, amr_wb_sort_1825, amr_wb_sort_1985, amr_wb_sort_2305,
                               amr_wb_sort_2385, amr_wb_sort_SID};
    for (int m = 0; m < 10; ++m) {
        std::vector<int> seen(amr_wb_nb_of_bits[m], 0);
        for (int i = 0; i < amr_wb_nb_of_bits[m]; ++i) ++seen.at(sorts[m][i]);
        for (int s : seen) EXPECT_EQ(s, 1) << "mode " << m;
    }
    // The doubled and repeated filter words.
    EXPECT_EQ(amr_wb_hp50_ab[0], 2 * amr_wb_hp50_ab[2]);
    EXPECT_EQ(amr_wb_hp50_ab[1], 2 * amr_wb_hp50_ab[3]);
    EXPECT_EQ(amr_wb_hp400_ab[0], amr_wb_hp400_ab[2]);
    EXPECT_EQ(amr_wb_hp400_ab[1], amr_wb_hp400_ab[3]);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(amr_wb_hp_wsp_ab[k], amr_wb_hp_wsp_ab[4 + k]);
    // The weighting sequences follow their rule.
    struct W {
        const Word16* t;
        Word16 gamma;
        int n;
    } ws[] = {{amr_wb_Weight_a_GAMMA1_M, 30147, 16}, {amr_wb_Weight_a_19661_M, 19661, 16},
              {amr_wb_Weight_a_29491_M16K, 29491, 20}};
    for (const W& w : ws) {
        Word16 f = w.gamma;
        for (int k = 0; k < w.n; ++k) {
            EXPECT_EQ(w.t[k], f) << k;
            f = amr_wb_op::round16(amr_wb_op::L_mult(f, w.gamma));
        }
    }
}

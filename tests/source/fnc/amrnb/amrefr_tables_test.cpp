// The project's AMR-NB / EFR tables against the published checksums of the
// standard's tables and, element by element, against the tables of an
// independent implementation (libopencore-amrnb, linked into this test only).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "amrefr_tables.h"

// Tables of the independent implementation, in the standard's layout.
extern "C" {
extern const short inv_sqrt_tbl[], log2_tbl[], pow2_tbl[], sqrt_l_tbl[];
extern const short lag_h[], lag_l[], table[], slope[], grid[];
extern const short window_200_40[], window_160_80[], window_232_8[];
extern const short corrweight[], inter_6_pred_lt[], inter_6[];
extern const short past_rq_init[], pred_fac_3[], mean_lsf_3[], mean_lsf_5[], lsp_init_data[];
extern const short dico1_lsf_3[], dico2_lsf_3[], dico3_lsf_3[], mr515_3_lsf[], mr795_1_lsf[];
extern const short dico1_lsf_5[], dico2_lsf_5[], dico3_lsf_5[], dico4_lsf_5[], dico5_lsf_5[];
extern const short qua_gain_pitch[], qua_gain_code[], table_gain_highrates[], table_gain_lowrates[];
extern const short table_gain_MR475[];
extern const short ph_imp_low[], ph_imp_mid[], ph_imp_low_MR795[], ph_imp_mid_MR795[];
extern const short bitno_MR475[], bitno_MR515[], bitno_MR59[], bitno_MR67[], bitno_MR74[];
extern const short bitno_MR795[], bitno_MR102[], bitno_MR122[], bitno_MRDTX[];
extern const short prmno[], prmnofsf[], startPos[], startPos1[], startPos2[];
}

namespace {

using Vec = std::vector<std::int32_t>;

Vec plain(const Word16* t, int n) { return Vec(t, t + n); }

// Undo the block-of-four codebook layout: back to entry-major order.
Vec from_blocks(const Word16* t, int entries, int dim) {
    Vec v(entries * dim);
    for (int i = 0; i < entries; ++i)
        for (int c = 0; c < dim; ++c) v[i * dim + c] = t[4 * dim * (i / 4) + 4 * c + (i % 4)];
    return v;
}

// Interleave column arrays back into records.
Vec from_columns(std::initializer_list<const Word16*> cols, int rows) {
    Vec v;
    for (int r = 0; r < rows; ++r)
        for (const Word16* c : cols) v.push_back(c[r]);
    return v;
}

struct Sums {
    std::int64_t sum = 0, weighted = 0;
    int count = 0;
};
Sums sums(const Vec& v) {
    Sums s;
    for (std::size_t i = 0; i < v.size(); ++i) {
        s.sum += v[i];
        s.weighted += static_cast<std::int64_t>(i + 1) * v[i];
    }
    s.count = static_cast<int>(v.size());
    return s;
}

struct Case {
    const char* name;
    Vec ours;  // in the standard's layout
    std::int64_t sum, weighted;
    int count;
};

void expect_sums(const Case& c) {
    Sums s = sums(c.ours);
    EXPECT_EQ(s.count, c.count) << c.name;
    EXPECT_EQ(s.sum, c.sum) << c.name;
    EXPECT_EQ(s.weighted, c.weighted) << c.name;
}

Vec inter6_from_rows() {
    // Element 10·p + i of the row table is tap p + 6·i of the 61-tap filter.
    Vec v(61, 0);
    for (int p = 0; p < 7; ++p)
        for (int i = 0; i < 10; ++i)
            if (p + 6 * i < 61) v[p + 6 * i] = amrefr_inter_6[10 * p + i];
    return v;
}

Vec widths(const Word16* bits_minus_one, int n) {
    Vec v(n);
    for (int i = 0; i < n; ++i) v[i] = bits_minus_one[i] + 1;
    return v;
}

}  // namespace

TEST(AmrnbTables, ChecksumsOfTheStandardTables) {
    const Case cases[] = {
        {"inv_sqrt", plain(amrefr_inv_sqrt_table, 49), 1073225, 23834196, 49},
        {"log2", plain(amrefr_log2_table, 33), 600680, 13231461, 33},
        {"pow2", plain(amrefr_pow_table, 33), 780991, 14797716, 33},
        {"sqrt_l", plain(amrefr_sqrt_table, 49), 1247892, 34472593, 49},
        {"lag_h", plain(amrefr_L_lag_hi, 10), 314132, 1696306, 10},
        {"lag_l", plain(amrefr_L_lag_lo, 10), 204992, 1090048, 10},
        {"window_200_40", plain(amrefr_window_200_40, 240), 4376882, 659149379, 240},
        {"window_160_80", plain(amrefr_window_160_80, 240), 4246725, 570491203, 240},
        {"window_232_8", plain(amrefr_window_232_8, 240), 4275757, 683897173, 240},
        {"lsp_lsf table", plain(amrefr_table, 65), -1, -28252291, 65},
        {"slope", plain(amrefr_slope, 64), -151182, -4913415, 64},
        {"grid", plain(amrefr_grid, 61), 0, -24892262, 61},
        {"corrweight", plain(amrefr_corrweight, 251), 6060485, 761733247, 251},
        {"inter_6 (61 taps)", inter6_from_rows(), 113021, 253489, 61},
        {"past_rq_init", plain(amrefr_past_rq_init, 80), -17243, -729429, 80},
        {"pred_fac", plain(amrefr_pred_fac, 10), 107652, 558215, 10},
        {"mean_lsf_3", plain(amrefr_mean_lsf_3, 10), 76194, 536723, 10},
        {"mean_lsf_5", plain(amrefr_mean_lsf_5, 10), 74223, 527885, 10},
        {"dico1_lsf_3", from_blocks(amrefr_reordered_dico1_lsf, 256, 3), 381220, 162552235, 768},
        {"dico2_lsf_3", from_blocks(amrefr_reordered_dico2_lsf, 512, 3), 44865, 4783534, 1536},
        {"dico3_lsf_3", from_blocks(amrefr_reordered_dico3_lsf, 512, 4), -28932, 78254094, 2048},
        {"mr515_3_lsf", from_blocks(amrefr_reordered_mr515_3_lsf, 128, 4), -34788, -7360089, 512},
        {"mr795_1_lsf", from_blocks(amrefr_reordered_mr795_1_lsf, 512, 3), 71737, 128176646, 1536},
        {"dico1_lsf_5", from_blocks(amrefr_reordered_dico1_5_lsf, 128, 4), 142291, 51711293, 512},
        {"dico2_lsf_5", from_blocks(amrefr_reordered_dico2_5_lsf, 256, 4), 194273, 242552980, 1024},
        {"dico3_lsf_5", from_blocks(amrefr_reordered_dico3_5_lsf, 256, 4), -82706, 74838932, 1024},
        {"dico4_lsf_5", from_blocks(amrefr_reordered_dico4_5_lsf, 256, 4), -97234, 83350887, 1024},
        {"dico5_lsf_5", from_blocks(amrefr_reordered_dico5_5_lsf, 64, 4), -6167, 4259475, 256},
        {"qua_gain_pitch", plain(amrefr_qua_gain_pitch, 16), 199068, 2081596, 16},
        {"qua_gain_code",
         from_columns({amrefr_qua_gain_code_g_fac, amrefr_qua_gain_code_qeMR122, amrefr_qua_gain_code_qe}, 32),
         162136, 25009971, 96},
        {"table_gain_highrates",
         from_columns({amrefr_g_pit_gain_highrates, amrefr_g_fac_gain_highrates, amrefr_qe_MR122_gain_highrates,
                       amrefr_qe_gain_highrates},
                      128),
         2349714, 805616389, 512},
        {"table_gain_lowrates",
         from_columns({amrefr_g_pit_gain_lowrates, amrefr_g_fac_gain_lowrates, amrefr_qe_MR122_gain_lowrates,
                       amrefr_qe_gain_lowrates},
                      64),
         1069284, 108991622, 256},
        {"table_gain_MR475",
         from_columns({amrefr_table_gain_MR475_gpit0, amrefr_table_gain_MR475_gfac0, amrefr_table_gain_MR475_gpit1,
                       amrefr_table_gain_MR475_gfac1},
                      256),
         7424570, 4150425933, 1024},
        {"ph_imp_low_MR795", plain(amrefr_ph_imp_low_MR795, 40), 32790, 191798, 40},
        {"ph_imp_mid_MR795", plain(amrefr_ph_imp_mid_MR795, 40), 32779, 65025, 40},
        {"ph_imp_low", plain(amrefr_ph_imp_low, 40), 32783, 375484, 40},
        {"ph_imp_mid", plain(amrefr_ph_imp_mid, 40), 32779, 65025, 40},
        {"gamma1", plain(amrefr_gamma1, 10), 236864, 1182621, 10},
        {"gamma1_12k2", plain(amrefr_gamma1_12k2, 10), 192079, 892504, 10},
        {"gamma2", plain(amrefr_gamma2, 10), 48855, 119160, 10},
        {"gamma3", plain(amrefr_gamma3, 10), 39946, 87752, 10},
        {"gamma4", plain(amrefr_gamma4, 10), 74302, 226073, 10},
        {"gamma3_MR122", plain(amrefr_gamma3_MR122, 10), 74302, 226073, 10},
        {"gamma4_MR122", plain(amrefr_gamma4_MR122, 10), 92770, 315731, 10},
        {"dhf_MR475", plain(amrefr_dhf_MR475, 17), 780, 3761, 17},
        {"dhf_MR515", plain(amrefr_dhf_MR515, 19), 828, 4902, 19},
        {"dhf_MR59", plain(amrefr_dhf_MR59, 19), 1279, 8921, 19},
        {"dhf_MR67", plain(amrefr_dhf_MR67, 19), 3385, 38557, 19},
        {"dhf_MR74", plain(amrefr_dhf_MR74, 19), 8629, 102023, 19},
        {"dhf_MR795", plain(amrefr_dhf_MR795, 23), 15121, 194506, 23},
        {"dhf_MR102", plain(amrefr_dhf_MR102, 39), 4302, 101299, 39},
        {"dhf_MR122", plain(amrefr_dhf_MR122, 57), 1121, 14114, 57},
        {"dhf_mask", plain(amrefr_dhf_mask, 57), 1323, 19782, 57},
        {"homing_tab", plain(amrefr_homing_tab, 57), 1323, 19782, 57},
        {"bitno_MR475", widths(amrefr_bitno_MR475, 17), 95, 767, 17},
        {"bitno_MR515", widths(amrefr_bitno_MR515, 19), 103, 937, 19},
        {"bitno_MR59", widths(amrefr_bitno_MR59, 19), 118, 1081, 19},
        {"bitno_MR67", widths(amrefr_bitno_MR67, 19), 134, 1269, 19},
        {"bitno_MR74", widths(amrefr_bitno_MR74, 19), 148, 1429, 19},
        {"bitno_MR795", widths(amrefr_bitno_MR795, 23), 159, 1774, 23},
        {"bitno_MR102", widths(amrefr_bitno_MR102, 39), 204, 4041, 39},
        {"bitno_MR122", widths(amrefr_bitno_MR122, 57), 244, 6442, 57},
        {"bitno_MRDTX", widths(amrefr_bitno_MRDTX, 5), 35, 112, 5},
        {"phs_tbl", plain(amrefr_phs_tbl, 128), -1302057, -140375893, 128},
        {"SID_codeword_bit_idx", plain(amrefr_SID_codeword_bit_idx, 95), 12690, 756260, 95},
        {"interp_factor", plain(amrefr_interp_factor, 24), 409591, 6690012, 24},
    };
    for (const Case& c : cases) expect_sums(c);
}

TEST(AmrnbTables, EqualTheIndependentImplementationsTables) {
    struct Pair {
        const char* name;
        Vec ours, theirs;
    };
    const Pair pairs[] = {
        {"inv_sqrt", plain(amrefr_inv_sqrt_table, 49), plain(inv_sqrt_tbl, 49)},
        {"log2", plain(amrefr_log2_table, 33), plain(log2_tbl, 33)},
        {"pow2", plain(amrefr_pow_table, 33), plain(pow2_tbl, 33)},
        {"sqrt_l", plain(amrefr_sqrt_table, 49), plain(sqrt_l_tbl, 49)},
        {"lag_h", plain(amrefr_L_lag_hi, 10), plain(lag_h, 10)},
        {"lag_l", plain(amrefr_L_lag_lo, 10), plain(lag_l, 10)},
        {"table", plain(amrefr_table, 65), plain(table, 65)},
        {"slope", plain(amrefr_slope, 64), plain(slope, 64)},
        {"grid", plain(amrefr_grid, 61), plain(grid, 61)},
        {"window_200_40", plain(amrefr_window_200_40, 240), plain(window_200_40, 240)},
        {"window_160_80", plain(amrefr_window_160_80, 240), plain(window_160_80, 240)},
        {"window_232_8", plain(amrefr_window_232_8, 240), plain(window_232_8, 240)},
        {"corrweight", plain(amrefr_corrweight, 251), plain(corrweight, 251)},
        {"inter_6 (61 taps)", inter6_from_rows(), plain(inter_6_pred_lt, 61)},
        {"past_rq_init", plain(amrefr_past_rq_init, 80), plain(past_rq_init, 80)},
        {"pred_fac", plain(amrefr_pred_fac, 10), plain(pred_fac_3, 10)},
        {"mean_lsf_3", plain(amrefr_mean_lsf_3, 10), plain(mean_lsf_3, 10)},
        {"mean_lsf_5", plain(amrefr_mean_lsf_5, 10), plain(mean_lsf_5, 10)},
        {"lsp_init_data", plain(amrefr_lsp_init_data, 10), plain(lsp_init_data, 10)},
        {"dico1_lsf_3", from_blocks(amrefr_reordered_dico1_lsf, 256, 3), plain(dico1_lsf_3, 768)},
        {"dico2_lsf_3", from_blocks(amrefr_reordered_dico2_lsf, 512, 3), plain(dico2_lsf_3, 1536)},
        {"dico3_lsf_3", from_blocks(amrefr_reordered_dico3_lsf, 512, 4), plain(dico3_lsf_3, 2048)},
        {"mr515_3_lsf", from_blocks(amrefr_reordered_mr515_3_lsf, 128, 4), plain(mr515_3_lsf, 512)},
        {"mr795_1_lsf", from_blocks(amrefr_reordered_mr795_1_lsf, 512, 3), plain(mr795_1_lsf, 1536)},
        {"dico1_lsf_5", from_blocks(amrefr_reordered_dico1_5_lsf, 128, 4), plain(dico1_lsf_5, 512)},
        {"dico2_lsf_5", from_blocks(amrefr_reordered_dico2_5_lsf, 256, 4), plain(dico2_lsf_5, 1024)},
        {"dico3_lsf_5", from_blocks(amrefr_reordered_dico3_5_lsf, 256, 4), plain(dico3_lsf_5, 1024)},
        {"dico4_lsf_5", from_blocks(amrefr_reordered_dico4_5_lsf, 256, 4), plain(dico4_lsf_5, 1024)},
        {"dico5_lsf_5", from_blocks(amrefr_reordered_dico5_5_lsf, 64, 4), plain(dico5_lsf_5, 256)},
        {"qua_gain_pitch", plain(amrefr_qua_gain_pitch, 16), plain(qua_gain_pitch, 16)},
        {"qua_gain_code",
         from_columns({amrefr_qua_gain_code_g_fac, amrefr_qua_gain_code_qeMR122, amrefr_qua_gain_code_qe}, 32),
         plain(qua_gain_code, 96)},
        {"table_gain_highrates",
         from_columns({amrefr_g_pit_gain_highrates, amrefr_g_fac_gain_highrates, amrefr_qe_MR122_gain_highrates,
                       amrefr_qe_gain_highrates},
                      128),
         plain(table_gain_highrates, 512)},
        {"table_gain_lowrates",
         from_columns({amrefr_g_pit_gain_lowrates, amrefr_g_fac_gain_lowrates, amrefr_qe_MR122_gain_lowrates,
                       amrefr_qe_gain_lowrates},
                      64),
         plain(table_gain_lowrates, 256)},
        {"table_gain_MR475",
         from_columns({amrefr_table_gain_MR475_gpit0, amrefr_table_gain_MR475_gfac0, amrefr_table_gain_MR475_gpit1,
                       amrefr_table_gain_MR475_gfac1},
                      256),
         plain(table_gain_MR475, 1024)},
        {"ph_imp_low", plain(amrefr_ph_imp_low, 40), plain(ph_imp_low, 40)},
        {"ph_imp_mid", plain(amrefr_ph_imp_mid, 40), plain(ph_imp_mid, 40)},
        {"ph_imp_low_MR795", plain(amrefr_ph_imp_low_MR795, 40), plain(ph_imp_low_MR795, 40)},
        {"ph_imp_mid_MR795", plain(amrefr_ph_imp_mid_MR795, 40), plain(ph_imp_mid_MR795, 40)},
        {"bitno_MR475", widths(amrefr_bitno_MR475, 17), plain(bitno_MR475, 17)},
        {"bitno_MR515", widths(amrefr_bitno_MR515, 19), plain(bitno_MR515, 19)},
        {"bitno_MR59", widths(amrefr_bitno_MR59, 19), plain(bitno_MR59, 19)},
        {"bitno_MR67", widths(amrefr_bitno_MR67, 19), plain(bitno_MR67, 19)},
        {"bitno_MR74", widths(amrefr_bitno_MR74, 19), plain(bitno_MR74, 19)},
        {"bitno_MR795", widths(amrefr_bitno_MR795, 23), plain(bitno_MR795, 23)},
        {"bitno_MR102", widths(amrefr_bitno_MR102, 39), plain(bitno_MR102, 39)},
        {"bitno_MR122", widths(amrefr_bitno_MR122, 57), plain(bitno_MR122, 57)},
        {"bitno_MRDTX", widths(amrefr_bitno_MRDTX, 5), plain(bitno_MRDTX, 5)},
        {"prmno", plain(amrefr_prmno, 9), plain(prmno, 9)},
        {"prmnofsf", plain(amrefr_prmnofsf, 8), plain(prmnofsf, 8)},
        {"startPos", plain(amrefr_startPos, 16), plain(startPos, 16)},
        {"startPos1", plain(amrefr_startPos1, 2), plain(startPos1, 2)},
        {"startPos2", plain(amrefr_startPos2, 4), plain(startPos2, 4)},
    };
    for (const Pair& p : pairs) EXPECT_EQ(p.ours, p.theirs) << p.name;
}

TEST(AmrnbTables, DerivedLayoutsFollowTheirRules) {
    // Reversed interpolation rows, the 25-tap filter pairs and the FFT twiddle blocks.
    for (int p = 0; p < 7; ++p)
        for (int m = 0; m < 10; ++m) EXPECT_EQ(amrefr_inter_6_rev[10 * p + m], amrefr_inter_6[10 * p + 9 - m]);
    for (int f = 0; f < 6; ++f)
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(amrefr_inter_6_2_comb[8 * f + 2 * k], inter_6[f + 6 * k]);
            EXPECT_EQ(amrefr_inter_6_2_comb[8 * f + 2 * k + 1], inter_6[6 - f + 6 * k]);
        }
    for (int m = 0; m < 16; ++m) {
        EXPECT_EQ(amrefr_phs_tbl_Penultimate[8 * (m / 4) + m % 4], amrefr_phs_tbl[8 * m]);
        EXPECT_EQ(amrefr_phs_tbl_Penultimate[8 * (m / 4) + 4 + m % 4], amrefr_phs_tbl[8 * m + 1]);
    }
    for (int m = 0; m < 32; ++m) {
        EXPECT_EQ(amrefr_phs_tbl_Last[8 * (m / 4) + m % 4], amrefr_phs_tbl[4 * m]);
        EXPECT_EQ(amrefr_phs_tbl_Last[8 * (m / 4) + 4 + m % 4], amrefr_phs_tbl[4 * m + 1]);
    }
    // The second value of each twiddle pair is minus the sine.
    EXPECT_EQ(amrefr_phs_tbl[2], 32729);
    EXPECT_EQ(amrefr_phs_tbl[3], -1608);
    // Channel bin counts cover bins 2..63.
    int bins = 0;
    for (Word16 c : amrefr_ch_tbl) bins += c;
    EXPECT_EQ(bins, 62);
    // The 32767 run of the correlation weights sits at 120..126.
    for (int i = 120; i <= 126; ++i) EXPECT_EQ(amrefr_corrweight[i], 32767);
    EXPECT_EQ(amrefr_corrweight[127], 31457);
    // Split-matrix byte offsets point at the lower-triangle element of each pair.
    for (int p = 0; p < 40; ++p)
        for (int c = 0; c < 40; ++c) {
            int q5 = (c % 8) * 5 + c / 8, q4 = (c % 10) * 4 + c / 10;
            EXPECT_EQ(amrefr_src_i[40 * p + c], 2 * (40 * std::max(p, q5) + std::min(p, q5)));
            EXPECT_EQ(amrefr_src_i_102[40 * p + c], 2 * (40 * std::max(p, q4) + std::min(p, q4)));
        }
    // EFR homing frame and the AMR 12.2 homing frame are different tables.
    EXPECT_EQ(amrefr_homing_tab[1], 47);
    EXPECT_EQ(amrefr_dhf_MR122[1], 42);
}

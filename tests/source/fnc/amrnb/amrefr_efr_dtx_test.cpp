// EFR DTX: control-word sequences of the transmit and receive handlers and
// the comfort-noise parameter routines, against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "amrefr_efr_dtx.h"
#include "amrefr_tables.h"

TEST(AmrnbEfrDtx, TransmitHangoverThenSidUpdateWithSeedReset) {
    GSMAMR_EFRdtx_encState st;
    amrefr_reset_tx_dtx(&st);
    EXPECT_EQ(st.txdtx_ctrl, 3);
    amrefr_tx_dtx(1, &st);
    EXPECT_EQ(st.txdtx_ctrl, EFR_TX_SP_FLAG | EFR_TX_VAD_FLAG);
    // Long after any SID: seven silent frames in hangover (speech bit kept).
    for (int i = 0; i < 7; ++i) {
        amrefr_tx_dtx(0, &st);
        Word16 expect = i == 0 ? (EFR_TX_HANGOVER_ACTIVE | EFR_TX_SP_FLAG)
                               : (EFR_TX_PREV_HANGOVER_ACTIVE | EFR_TX_HANGOVER_ACTIVE | EFR_TX_SP_FLAG);
        EXPECT_EQ(st.txdtx_ctrl, expect) << i;
    }
    st.L_pn_seed_tx = 5;
    amrefr_tx_dtx(0, &st);
    EXPECT_EQ(st.txdtx_ctrl, EFR_TX_PREV_HANGOVER_ACTIVE | EFR_TX_SID_UPDATE);
    EXPECT_EQ(st.L_pn_seed_tx, EFR_PN_INITIAL_SEED);
    EXPECT_EQ(st.txdtx_N_elapsed, 0);
    amrefr_tx_dtx(0, &st);
    EXPECT_EQ(st.txdtx_ctrl, EFR_TX_SID_UPDATE);
    // A short talk spurt soon after: silent frames inside the hangover re-send
    // the old SID parameters.
    amrefr_tx_dtx(1, &st);
    amrefr_tx_dtx(0, &st);
    EXPECT_EQ(st.txdtx_ctrl, EFR_TX_USE_OLD_SID);
    EXPECT_EQ(st.txdtx_hangover, 6);
}

TEST(AmrnbEfrDtx, ComfortNoiseParametersReplaceTheSpeechParameters) {
    Word16 prm[57], mem[6] = {};
    for (int i = 0; i < 57; ++i) prm[i] = static_cast<Word16>(i + 100);
    amrefr_CN_encoding(prm, EFR_TX_SID_UPDATE, mem);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(mem[i], 100 + i);
    EXPECT_EQ(mem[5], 156);
    for (int i = 0; i < 57; ++i) {
        bool kept = i < 5 || i == 17 || i == 30 || i == 43 || i == 56;
        EXPECT_EQ(prm[i], kept ? 100 + i : 0) << i;
    }
    Word16 later[57];
    for (int i = 0; i < 57; ++i) later[i] = 7;
    amrefr_CN_encoding(later, EFR_TX_USE_OLD_SID, mem);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(later[i], 100 + i);
    for (int g : {17, 30, 43, 56}) EXPECT_EQ(later[g], 156);
    EXPECT_EQ(later[5], 0);
    EXPECT_EQ(later[55], 0);
}

TEST(AmrnbEfrDtx, SidCodeWordSetsItsNinetyFiveBits) {
    Word16 ser[250] = {};
    amrefr_sid_codeword_encoding(ser);
    int ones = 0;
    for (Word16 b : ser) ones += b;
    EXPECT_EQ(ones, 95);
    EXPECT_EQ(ser[45], 1);
    EXPECT_EQ(ser[221], 1);
    EXPECT_EQ(ser[47], 0);
}

TEST(AmrnbEfrDtx, HistoriesAndAverages) {
    Word16 hist[28] = {};
    EXPECT_EQ(amrefr_update_gain_code_history(99, hist, 27), 0);
    EXPECT_EQ(hist[27], 99);
    EXPECT_EQ(amrefr_update_gain_code_history(98, hist, 3), 4);

    // Constant gains: the 29-term average weighs each by 1136 (1/29 rounded
    // up in Q15), 0.5 % high; gcode0 averages the 7 frames' sums of 4 gains
    // weighted by 8191 (1/4) and 4681 (1/7).
    for (Word16& g : hist) g = 1000;
    EXPECT_EQ(amrefr_aver_gain_code_history(1000, hist), (29 * 2 * 1136 * 1000) >> 16);
    EXPECT_NEAR(amrefr_update_gcode0_CN(hist), 1000, 3);

    Word16 rows[7][10], lsf[10], out[10];
    for (int i = 0; i < 10; ++i) lsf[i] = amrefr_mean_lsf_5[i];
    for (auto& r : rows)
        for (int i = 0; i < 10; ++i) r[i] = 0;
    amrefr_update_lsf_history(lsf, lsf, rows);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(rows[0][i], (lsf[i] >> 1) + (lsf[i] >> 1));
    EXPECT_EQ(rows[1][0], 0);
    for (int k = 0; k < 6; ++k) amrefr_update_lsf_history(lsf, lsf, rows);
    amrefr_update_lsf_p_CN(rows, out);
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(out[i], lsf[i], 2) << i;
    amrefr_aver_lsf_history(rows, lsf, lsf, out);
    // 8 terms weighted 4095/32768 each: 0.99976 of the value, less truncation.
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(out[i], lsf[i] * 0.99976, 3) << i;
}

// sqrt(E / 20) with E = 2·Σ r²: twice the residual's RMS over the subframe.
TEST(AmrnbEfrDtx, ExcitationGainIsTwiceTheResidualRms) {
    for (int amp : {50, 300, 1000, 5000}) {
        Word16 res[40];
        for (int i = 0; i < 40; ++i) res[i] = static_cast<Word16>(i % 2 ? amp : -amp);
        double g = amrefr_compute_CN_excitation_gain(res);
        EXPECT_NEAR(g / (2.0 * amp), 1.0, 0.03) << amp;
    }
    // A saturated energy gives sqrt(2^31 / 20).
    Word16 loud[40];
    for (Word16& v : loud) v = 20000;
    EXPECT_EQ(amrefr_compute_CN_excitation_gain(loud), 10362);
    Word16 zero[40] = {};
    EXPECT_EQ(amrefr_compute_CN_excitation_gain(zero), 0);
}

TEST(AmrnbEfrDtx, ReceiveControlWordsAcrossAComfortNoisePeriod) {
    GSMAMR_EFRdtx_decState st;
    amrefr_reset_rx_dtx(&st);
    EXPECT_EQ(st.rxdtx_ctrl, 1);
    EXPECT_EQ(st.prev_gp, 4096);
    // Valid SID after speech: first SID update.
    amrefr_rx_dtx(0, 0, 2, &st);
    EXPECT_EQ(st.rxdtx_ctrl & 0x00FF & ~EFR_RX_UPD_SID_QUANT_MEM, EFR_RX_FIRST_SID_UPDATE);
    EXPECT_EQ(st.rx_dtx_state, 23);
    // Unusable frames without TAF: no transmission; the state counts up.
    amrefr_rx_dtx(0, 1, 0, &st);
    EXPECT_EQ(st.rxdtx_ctrl & ~EFR_RX_UPD_SID_QUANT_MEM, EFR_RX_CNI_BFI | EFR_RX_NO_TRANSMISSION);
    // Valid SID in comfort noise: continued update, state back to 0.
    amrefr_rx_dtx(0, 0, 2, &st);
    EXPECT_EQ(st.rxdtx_ctrl & ~EFR_RX_UPD_SID_QUANT_MEM, EFR_RX_CONT_SID_UPDATE);
    EXPECT_EQ(st.rx_dtx_state, 0);
    // Invalid SID: continued update marked invalid, state + 1.
    amrefr_rx_dtx(0, 0, 1, &st);
    EXPECT_EQ(st.rxdtx_ctrl & ~EFR_RX_UPD_SID_QUANT_MEM, EFR_RX_CONT_SID_UPDATE | EFR_RX_INVALID_SID_FRAME);
    EXPECT_EQ(st.rx_dtx_state, 1);
    // Two SID frames lost at TAF: lost SID, then muting.
    amrefr_rx_dtx(1, 1, 0, &st);
    EXPECT_EQ(st.rxdtx_ctrl & ~EFR_RX_UPD_SID_QUANT_MEM, EFR_RX_CNI_BFI | EFR_RX_LOST_SID_FRAME);
    amrefr_rx_dtx(1, 1, 0, &st);
    EXPECT_EQ(st.rxdtx_ctrl & ~EFR_RX_UPD_SID_QUANT_MEM, EFR_RX_CNI_BFI | EFR_RX_LOST_SID_FRAME | EFR_RX_DTX_MUTING);
    // Good speech after muted comfort noise: first speech frame, previous muted.
    amrefr_rx_dtx(0, 0, 0, &st);
    EXPECT_EQ(st.rxdtx_ctrl, 0x0501);
    EXPECT_EQ(st.rx_dtx_state, 23);
    // Good speech after unmuted comfort noise: 0x0401.
    amrefr_rx_dtx(0, 0, 2, &st);
    amrefr_rx_dtx(0, 0, 0, &st);
    EXPECT_EQ(st.rxdtx_ctrl, 0x0401);
}

TEST(AmrnbEfrDtx, ComfortNoiseInterpolationWeights) {
    Word16 old_v[10], new_v[10], out[10];
    for (int i = 0; i < 10; ++i) {
        old_v[i] = 0;
        new_v[i] = 24000;
    }
    amrefr_interpolate_CN_vec_M(old_v, new_v, out, 0);
    EXPECT_EQ(out[0], (1365 * 24000 * 2 + 32768) >> 16);
    amrefr_interpolate_CN_vec_M(old_v, new_v, out, 23);
    EXPECT_EQ(out[9], (32767 * 24000 * 2 + 32768) >> 16);
    Word16 o = 1000, n = 3000, r;
    amrefr_interpolate_CN_vec_1(&o, &n, &r, 11);  // weights (16384, 16384)
    EXPECT_EQ(r, 2000);
}

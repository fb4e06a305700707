// GSM EFR receive side: pitch and code gain decoding with the EFR concealment
// and comfort-noise gains, and the EFR decoder homing test.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_decoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// Attenuation of the concealed gains by the bad-frame state (Q15).
constexpr Word16 amrefr_pdown[7] = {32767, 32112, 32112, 26214, 9830, 6553, 6553};
constexpr Word16 amrefr_cdown[7] = {32767, 32112, 32112, 32112, 32112, 32112, 22937};

constexpr Word16 kMinQuaEnerMR122 = -2381;

void push_history(Word16* buf5, Word16 v) {
    for (int i = 0; i < 4; ++i) buf5[i] = buf5[i + 1];
    buf5[4] = v;
}

void set_pred_MR122(GSMAMR_gc_predState* pred, Word16 v) {
    for (Word16& e : pred->past_qua_en_MR122) e = v;
}

Word16 interpolated_gain(const GSMAMR_EFRdtx_decState* st) {
    Word16 g;
    amrefr_interpolate_CN_vec_1(&st->gain_code_old_CN, &st->gain_code_new_CN, &g, st->rx_dtx_state);
    return g;
}

}  // namespace

// Pitch gain in Q12 internally; returned in Q14 like the AMR decoders.
Word16 amrefr_d_gain_pitch_efr(Word16 index, Word16 bfi, Word16 state, Word16 prev_bf, GSMAMR_EFRdtx_decState* st) {
    const bool speech = (st->rxdtx_ctrl & EFR_RX_SP_FLAG) != 0;
    Word16 g = 0;
    if (bfi == 0) {
        if (speech) {
            g = shr(amrefr_qua_gain_pitch[index & 15], 2);
            if (prev_bf != 0 && g > st->prev_gp) g = st->prev_gp;
        }
        st->prev_gp = g;
    } else if (speech) {
        Word16 med = amrefr_gmed_n(st->pbuf, 5);
        if (med < st->past_gain_pit) st->past_gain_pit = med;
        g = mult(st->past_gain_pit, amrefr_pdown[state]);
    }
    st->past_gain_pit = (bfi == 0 || speech) ? (g > 4096 ? static_cast<Word16>(4096) : g) : g;
    push_history(st->pbuf, st->past_gain_pit);
    return static_cast<Word16>(static_cast<std::uint16_t>(g) << 2);
}

// Code gain in the EFR scale (half the AMR 12.2 kbit/s scale); returned doubled.
void amrefr_d_gain_code_efr(GSMAMR_gc_predState* pred_state, Word16 index, const Word16* code, Word16 lcode,
                            Word16* gain_code, Word16 bfi, Word16 state, Word16 prev_bf, Word16 i_subfr,
                            GSMAMR_EFRdtx_decState* st) {
    (void)lcode;
    const Word16 ctrl = st->rxdtx_ctrl;
    if (i_subfr == 0 && (ctrl & EFR_RX_UPD_SID_QUANT_MEM))
        st->gcode0_CN = shl(amrefr_update_gcode0_CN(st->gain_code_old_rx), 4);

    Word16 gain;
    if (ctrl & (EFR_RX_NO_TRANSMISSION | EFR_RX_INVALID_SID_FRAME | EFR_RX_LOST_SID_FRAME)) {
        if ((ctrl & EFR_RX_NO_TRANSMISSION) == 0) {
            st->gain_code_old_CN = st->gain_code_new_CN;
            gain = st->gain_code_new_CN;
            set_pred_MR122(pred_state, kMinQuaEnerMR122);
        } else {
            gain = i_subfr == 0 ? interpolated_gain(st) : st->prev_gc;
        }
        if (ctrl & EFR_RX_DTX_MUTING) {
            st->gain_code_muting_CN = mult(st->gain_code_muting_CN, 30057);
            gain = st->gain_code_muting_CN;
        } else {
            st->gain_code_muting_CN = st->gain_code_new_CN;
        }
    } else if (bfi != 0) {
        Word16 med = amrefr_gmed_n(st->gbuf, 5);
        if (med < st->past_gain_code) st->past_gain_code = med;
        st->past_gain_code = mult(st->past_gain_code, amrefr_cdown[state]);
        gain = st->past_gain_code;
        Word16 av_MR122, av;
        amrefr_gc_pred_average_limited(pred_state, &av_MR122, &av);
        for (int i = 3; i > 0; --i) pred_state->past_qua_en_MR122[i] = pred_state->past_qua_en_MR122[i - 1];
        pred_state->past_qua_en_MR122[0] = av_MR122;
        Word16 hist = st->gain_code_new_CN != 0 ? st->gain_code_new_CN : st->prev_gc;
        st->buf_p_rx = amrefr_update_gain_code_history(hist, st->gain_code_old_rx, st->buf_p_rx);
        if (i_subfr == 120) st->gain_code_old_CN = gain;
        *gain_code = shl(gain, 1);
        return;
    } else if (ctrl & EFR_RX_SP_FLAG) {
        Word16 g, unused = 0;
        amrefr_d_gain_code(pred_state, MR122, index, code, &g, 0, &unused);
        gain = shr(g, 1);
        if (prev_bf != 0 && gain > st->prev_gc) gain = st->prev_gc;
        st->buf_p_rx = amrefr_update_gain_code_history(gain, st->gain_code_old_rx, st->buf_p_rx);
        if (i_subfr == 120) st->gain_code_old_CN = gain;
    } else {
        if (i_subfr == 0) {
            if (ctrl & EFR_RX_FIRST_SID_UPDATE) {
                st->gain_code_new_CN = mult(st->gcode0_CN, amrefr_qua_gain_code_g_fac[index & 31]);
                set_pred_MR122(pred_state, kMinQuaEnerMR122);
            }
            if (ctrl & EFR_RX_CONT_SID_UPDATE) {
                st->gain_code_old_CN = st->gain_code_new_CN;
                st->gain_code_new_CN = mult(st->gcode0_CN, amrefr_qua_gain_code_g_fac[index & 31]);
                set_pred_MR122(pred_state, kMinQuaEnerMR122);
            }
            gain = interpolated_gain(st);
        } else {
            gain = st->prev_gc;
        }
    }
    st->past_gain_code = gain;
    push_history(st->gbuf, gain);
    st->prev_gc = gain;
    *gain_code = shl(gain, 1);
}

Word16 amrefr_homing_frame_test(const Word16* input_frame, const Word16* mask, Word16 len, Word16 step) {
    Word32 sum = 0;
    for (int i = 0; i < len; ++i) sum = L_add(sum, abs_s(static_cast<Word16>(input_frame[i] ^ mask[i * step])));
    return sum == 0 ? 1 : 0;
}

Word16 amrefr_efr_decoder_homing_frame_test(const Word16* parm, Word16 nbr_of_params) {
    return amrefr_homing_frame_test(parm, amrefr_dhf_mask, nbr_of_params, 1);
}

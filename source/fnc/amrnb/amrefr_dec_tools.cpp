// Decoder tools: gain concealment, source characteristic detector, code-gain
// smoothing, excitation control, phase dispersion, post-filter and gain control.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_decoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

constexpr Word16 kPdown[7] = {32767, 32112, 32112, 26214, 9830, 6553, 6553};
constexpr Word16 kCdown[7] = {32767, 32112, 32112, 32112, 32112, 32112, 22937};

}  // namespace

// Median by repeated maximum: the chosen element is set to −32768, the
// middle pick is the median.
Word16 amrefr_gmed_n(const Word16* ind, Word16 n) {
    Word16 tmp[9], order[9];
    for (int i = 0; i < n; ++i) tmp[i] = ind[i];
    for (int i = 0; i < n; ++i) {
        Word16 ix = amrefr_Vec_max_ge(tmp, static_cast<Word16>(n - 1));
        tmp[ix] = -32768;
        order[i] = ix;
    }
    return ind[order[n >> 1]];
}

void amrefr_ec_gain_pitch(GSMAMR_ec_gain_pitchState* st, Word16 state, Word16* gain_pitch) {
    Word16 tmp = amrefr_gmed_n(st->pbuf, 5);
    if (tmp > st->past_gain_pit) tmp = st->past_gain_pit;
    *gain_pitch = mult(tmp, kPdown[state]);
}

void amrefr_ec_gain_pitch_update(GSMAMR_ec_gain_pitchState* st, Word16 bfi, Word16 prev_bf, Word16* gain_pitch) {
    if (bfi == 0) {
        if (prev_bf != 0 && *gain_pitch > st->prev_gp) *gain_pitch = st->prev_gp;
        st->prev_gp = *gain_pitch;
    }
    st->past_gain_pit = *gain_pitch > 16384 ? 16384 : *gain_pitch;
    for (int i = 1; i < 5; ++i) st->pbuf[i - 1] = st->pbuf[i];
    st->pbuf[4] = st->past_gain_pit;
}

void amrefr_ec_gain_code(GSMAMR_ec_gain_codeState* st, GSMAMR_gc_predState* pred_state, Word16 state,
                         Word16* gain_code) {
    Word16 tmp = amrefr_gmed_n(st->gbuf, 5);
    if (tmp > st->past_gain_code) tmp = st->past_gain_code;
    *gain_code = mult(tmp, kCdown[state]);
    Word16 qua_ener_MR122, qua_ener;
    amrefr_gc_pred_average_limited(pred_state, &qua_ener_MR122, &qua_ener);
    amrefr_gc_pred_update(pred_state, qua_ener_MR122, qua_ener);
}

void amrefr_ec_gain_code_update(GSMAMR_ec_gain_codeState* st, Word16 bfi, Word16 prev_bf, Word16* gain_code) {
    if (bfi == 0) {
        if (prev_bf != 0 && *gain_code > st->prev_gc) *gain_code = st->prev_gc;
        st->prev_gc = *gain_code;
    }
    st->past_gain_code = *gain_code;
    for (int i = 1; i < 5; ++i) st->gbuf[i - 1] = st->gbuf[i];
    st->gbuf[4] = *gain_code;
}

Word16 amrefr_Bgn_scd(GSMAMR_BGNSCD_STATE* st, const Word16* ltpGainHist, const Word16* speech,
                      Word16* voicedHangover, Word32* FrameEnergy) {
    Word32 s = amrefr_Vec_L_sqa(speech, 160, 0);
    *FrameEnergy = s;
    Word16 currEnergy = extract_h(L_shl(s, 2));
    Word16 frameEnergyMin = 32767;
    for (int i = 0; i < 60; ++i)
        if (st->frameEnergyHist[i] < frameEnergyMin) frameEnergyMin = st->frameEnergyHist[i];
    Word16 noiseFloor = shl(frameEnergyMin, 4);
    Word16 maxEnergy = st->frameEnergyHist[0];
    for (int i = 1; i < 56; ++i)
        if (maxEnergy < st->frameEnergyHist[i]) maxEnergy = st->frameEnergyHist[i];
    Word16 maxEnergyLastPart = st->frameEnergyHist[40];
    for (int i = 41; i < 60; ++i)
        if (maxEnergyLastPart < st->frameEnergyHist[i]) maxEnergyLastPart = st->frameEnergyHist[i];

    if (maxEnergy > 20 && currEnergy < 17578 && currEnergy > 20 &&
        (currEnergy < noiseFloor || maxEnergyLastPart < 1953)) {
        st->bgHangover = st->bgHangover + 1 > 30 ? 30 : static_cast<Word16>(st->bgHangover + 1);
    } else {
        st->bgHangover = 0;
    }
    Word16 inbgNoise = st->bgHangover > 1 ? 1 : 0;
    for (int i = 0; i < 59; ++i) st->frameEnergyHist[i] = st->frameEnergyHist[i + 1];
    st->frameEnergyHist[59] = currEnergy;

    Word16 ltpLimit = 13926;
    if (st->bgHangover > 8) ltpLimit = 15565;
    if (st->bgHangover > 15) ltpLimit = 16383;
    bool prevVoiced = amrefr_gmed_n(&ltpGainHist[4], 5) > ltpLimit;
    if (st->bgHangover > 20) prevVoiced = amrefr_gmed_n(ltpGainHist, 9) > ltpLimit;
    if (prevVoiced)
        *voicedHangover = 0;
    else
        *voicedHangover = *voicedHangover + 1 > 10 ? 10 : static_cast<Word16>(*voicedHangover + 1);
    return inbgNoise;
}

Word16 amrefr_ComputeLspDiff(const Word16* lsp, const Word16* lspAver_Plus2) {
    Word16 t1[12], t2[12], sh[12], q[12];
    amrefr_ComputeLspDiff_Loop1(lsp, lspAver_Plus2, t1, t2, sh);
    amrefr_ComputeLspDiff_Loop2(t1, t2, q);
    return amrefr_ComputeLspDiff_Loop3(q, sh);
}

namespace {

Word16 cb_gain_smooth(const Word16* hist, Word16 constant, int size, Word16 bgMix, Word16 cbGainMix) {
    Word32 L_sum = L_mult(constant, hist[0]);
    for (int i = 1; i < size; ++i) L_sum = L_mac(L_sum, constant, hist[i]);
    Word16 mean = round16(L_sum);
    L_sum = L_mult(bgMix, cbGainMix);
    L_sum = L_mac(L_sum, 8192, mean);
    L_sum = L_msu(L_sum, bgMix, mean);
    return round16(L_shl(L_sum, 2));
}

}  // namespace

Word16 amrefr_Cb_gain_average(GSMAMR_CB_GAIN_AVERAGE_STATE* st, Word16 mode, Word16 gain_code, const Word16* lsp,
                              const Word16* lspAver, Word16 bfi, Word16 prev_bf, Word16 pdfi, Word16 prev_pdf,
                              Word16 inBackgroundNoise, Word16 voicedHangover) {
    Word16 cbGainMix = gain_code;
    for (int i = 0; i < 6; ++i) st->cbGainHistory[i] = st->cbGainHistory[i + 1];
    st->cbGainHistory[6] = gain_code;

    Word16 aver[12], lsp12[12];
    for (int i = 0; i < 10; ++i) aver[i] = lspAver[i], lsp12[i] = lsp[i];
    aver[10] = lsp12[10] = 0;
    aver[11] = lsp12[11] = 0;
    Word16 diff = amrefr_ComputeLspDiff(lsp12, aver);

    if (diff > 5325)
        st->hangVar = add(st->hangVar, 1);
    else
        st->hangVar = 0;
    if (st->hangVar > 10) st->hangCount = 0;

    bool low3 = mode == MR475 || mode == MR515 || mode == MR59;
    if (mode <= MR67 || mode == MR102) {
        Word16 tmp_diff;
        if (((pdfi != 0 && prev_pdf != 0) || bfi != 0 || prev_bf != 0) && voicedHangover > 1 &&
            inBackgroundNoise != 0 && low3)
            tmp_diff = sub(diff, 4506);
        else
            tmp_diff = sub(diff, 3277);
        Word16 tmp1 = tmp_diff > 0 ? tmp_diff : 0;
        Word16 bgMix = tmp1 > 2048 ? 8192 : shl(tmp1, 2);
        if (st->hangCount < 40 || diff > 5325) bgMix = 8192;
        if ((bfi != 0 || prev_bf != 0) && inBackgroundNoise != 0 && low3)
            cbGainMix = cb_gain_smooth(&st->cbGainHistory[0], 4681, 7, bgMix, cbGainMix);
        else
            cbGainMix = cb_gain_smooth(&st->cbGainHistory[2], 6554, 5, bgMix, cbGainMix);
    }
    st->hangCount = add(st->hangCount, 1);
    return cbGainMix;
}

void amrefr_Ex_ctrl(Word16* excitation, Word16 excEnergy, const Word16* exEnergyHist, Word16 voicedHangover,
                    Word16 prevBFI, Word16 carefulFlag) {
    Word16 avgEnergy = amrefr_gmed_n(exEnergyHist, 9);
    Word16 prevEnergy = shr(add(exEnergyHist[7], exEnergyHist[8]), 1);
    if (exEnergyHist[8] < prevEnergy) prevEnergy = exEnergyHist[8];
    if (excEnergy < avgEnergy && excEnergy > 5) {
        Word16 testEnergy = shl(prevEnergy, 2);
        if (voicedHangover < 7 || prevBFI != 0) testEnergy = sub(testEnergy, prevEnergy);
        if (avgEnergy > testEnergy) avgEnergy = testEnergy;
        Word16 exp = norm_s(excEnergy);
        Word16 e = shl(excEnergy, exp);
        e = div_s(16383, e);
        Word32 t0 = L_mult(avgEnergy, e);
        t0 = L_shr(t0, sub(20, exp));
        if (t0 > 32767) t0 = 32767;
        Word16 scaleFactor = extract_l(t0);
        if (carefulFlag != 0 && scaleFactor > 3072) scaleFactor = 3072;
        for (int i = 0; i < 40; ++i) excitation[i] = extract_l(L_shr(L_mult(scaleFactor, excitation[i]), 11));
    }
}

void amrefr_Int_lsf(const Word16* lsf_old, const Word16* lsf_new, Word16 i_subfr, Word16* lsf_out) {
    Word16 o[12] = {}, n[12] = {};
    for (int i = 0; i < 10; ++i) o[i] = lsf_old[i], n[i] = lsf_new[i];
    if (i_subfr == 0)
        amrefr_Vec_add_shr2(n, o, lsf_out);
    else if (i_subfr == 40)
        amrefr_Vec_add_shr(o, n, lsf_out);
    else if (i_subfr == 80)
        amrefr_Vec_add_shr2(o, n, lsf_out);
    else if (i_subfr == 120)
        for (int i = 0; i < 10; ++i) lsf_out[i] = lsf_new[i];
}

// ---------------------------------------------------------------------------
// Gain control.

Word32 amrefr_energy_new(const Word16* in) {
    Word32 s = amrefr_Vec_L_sqa_40(in, 0);
    if (s == MAX_32) return amrefr_Vec_L_shr_sqa(in);
    return s >> 4;
}

// With agc_fac 0 (the single-gain form) every sample is scaled as
// extract_h(L_shl(L_mult(x, g), 3)) for every gain g, as the standard does.
void amrefr_agc(const Word16* sig_in, Word16* sig_out, Word16 agc_fac, Word16* past_gain) {
    Word32 s = amrefr_energy_new(sig_out);
    if (s == 0) {
        if (agc_fac != 0) *past_gain = 0;
        return;
    }
    Word16 exp = sub(norm_l(s), 1);
    Word16 gain_out = round16(L_shl(s, exp));
    s = amrefr_energy_new(sig_in);
    Word16 g = 0;
    if (s != 0) {
        Word16 i = norm_l(s);
        Word16 gain_in = round16(L_shl(s, i));
        exp = sub(exp, i);
        s = L_deposit_l(div_s(gain_out, gain_in));
        s = L_shl(s, 7);
        s = L_shr(s, exp);
        s = amrefr_Inv_sqrt(s);
        g = round16(L_shl(s, 9));
    }
    if (agc_fac != 0) {
        Word16 g0 = mult(g, sub(32767, agc_fac));
        Word16 gains[40];
        amrefr_agc_loop1(*past_gain, agc_fac, g0, gains);
        amrefr_agc_loop2(sig_out, gains);
        *past_gain = gains[39];
    } else {
        for (int n = 0; n < 40; ++n) sig_out[n] = extract_h(L_shl(L_mult(sig_out[n], g), 3));
    }
}

// h: at least 25 words; words 22..24 are cleared.
Word16 amrefr_comp_mu(Word16* h) {
    h[22] = h[23] = h[24] = 0;
    Word16 r0 = extract_h(amrefr_Vec_L_sqa(h, 24, 0));
    Word16 r1 = extract_h(amrefr_Vec_L_mac(h, h + 1, 24, 0));
    if (r1 <= 0) return 0;
    return div_s(mult(r1, 26214), r0);
}

void amrefr_Post_Filter(GSMAMR_Post_FilterState* st, Word16 mode, Word16* syn, const Word16* Az_4) {
    Word16 work[170];  // 10 samples of history, then the unfiltered frame
    std::memcpy(work, st->synth_buf, sizeof(st->synth_buf));
    std::memcpy(work + 10, syn, 160 * sizeof(Word16));
    const Word16* g3 = (mode == MR122 || mode == MR102) ? amrefr_gamma3_MR122 : amrefr_gamma3;
    const Word16* g4 = (mode == MR122 || mode == MR102) ? amrefr_gamma4_MR122 : amrefr_gamma4;
    Word16* res2 = &st->res2_plus[1];
    for (int sf = 0; sf < 4; ++sf) {
        const Word16* Az = Az_4 + 11 * sf;
        Word16 Ap3[13], Ap4[13];
        amrefr_Weight_Ai(Az, g3, Ap3);
        amrefr_Weight_Ai(Az, g4, Ap4);
        amrefr_Residu(Ap3, work + 10 + 40 * sf, res2);

        Word16 hbuf[50] = {};  // zero memory, then Ap3 and zeros, filtered in place
        for (int i = 0; i <= 10; ++i) hbuf[10 + i] = Ap3[i];
        amrefr_Syn_filt(Ap4, hbuf + 10, hbuf + 10);
        Word16 h[25];
        for (int i = 0; i < 22; ++i) h[i] = hbuf[10 + i];
        Word16 mu = amrefr_comp_mu(h);
        amrefr_preemphasis(&st->preemph_state, res2, mu);

        Word16 out[50];
        std::memcpy(out, st->mem_syn_pst, sizeof(st->mem_syn_pst));
        amrefr_Syn_filt(Ap4, res2, out + 10);
        std::memcpy(st->mem_syn_pst, out + 40, sizeof(st->mem_syn_pst));
        std::memcpy(syn + 40 * sf, out + 10, 40 * sizeof(Word16));
    }
    for (int sf = 0; sf < 4; ++sf) amrefr_agc(work + 10 + 40 * sf, syn + 40 * sf, 29491, &st->agc_state.past_gain);
    std::memcpy(st->synth_buf, work + 160, sizeof(st->synth_buf));
}

// ---------------------------------------------------------------------------
// Phase dispersion.

void amrefr_ph_disp(GSMAMR_ph_dispState* state, Word16 mode, Word16* x, Word16 cbGain, Word16 ltpGain, Word16* inno,
                    Word16 pitch_fac, Word16 tmp_shift, const Word16* undisp_x) {
    for (int i = 4; i > 0; --i) state->gainMem[i] = state->gainMem[i - 1];
    state->gainMem[0] = ltpGain;
    Word16 impNr = ltpGain < 14746 ? (ltpGain > 9830 ? 1 : 0) : 2;

    Word16 tmp1 = round16(L_shl(L_mult(state->prevCbGain, 16384), 2));
    if (cbGain > tmp1)
        state->onset = 2;
    else if (state->onset > 0)
        state->onset = sub(state->onset, 1);
    if (state->onset == 0) {
        int i1 = 0;
        for (int i = 0; i < 5; ++i)
            if (state->gainMem[i] < 9830) ++i1;
        if (i1 > 2) impNr = 0;
    }
    if (impNr > state->prevState + 1 && state->onset == 0) impNr = sub(impNr, 1);
    if (impNr < 2 && state->onset > 0) impNr = add(impNr, 1);
    if (cbGain < 10) impNr = 2;
    if (state->lockFull == 1) impNr = 0;
    state->prevState = impNr;
    state->prevCbGain = cbGain;

    if (mode == MR74 || mode == MR102 || mode == MR122 || impNr == 2) {
        if (mode == MR74 || mode == MR795 || mode == MR122)
            std::memcpy(x, undisp_x, 40 * sizeof(Word16));
        else
            amrefr_TotalExc(x, inno, pitch_fac, cbGain, tmp_shift);
        return;
    }
    const Word16* ph_imp = mode == MR795 ? (impNr == 0 ? amrefr_ph_imp_low_MR795 : amrefr_ph_imp_mid_MR795)
                                         : (impNr == 0 ? amrefr_ph_imp_low : amrefr_ph_imp_mid);
    Word16 saved[40];
    int ps_pos[40], nze = 0;
    for (int i = 0; i < 40; ++i) {
        if (inno[i] != 0) ps_pos[nze++] = i;
        saved[i] = inno[i];
        inno[i] = 0;
    }
    for (int n = 0; n < nze; ++n) {
        int p = ps_pos[n];
        Word16 h[40];
        for (int j = 0; j < 40; ++j) h[j] = ph_imp[(j - p + 40) % 40];
        amrefr_ph_disp_Convolve(h, inno, saved[p]);
    }
    amrefr_TotalExc(x, inno, pitch_fac, cbGain, tmp_shift);
}

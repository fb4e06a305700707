// G.729 Annex A decoder frame with the Annex B comfort-noise decoder and lost-frame concealment.
#include <cstring>

#include "g729_internal.h"

namespace g729 {

void g729ab_Init_Decod_ld8a(G729NUNIDEC* st) {
    std::memset(static_cast<void*>(st), 0, sizeof(*st));
    g729ab_Copy10(g729ab_lsp_old_table.data(), st->lsp_old);
    st->sharp = kSharpMin;
    st->old_T0 = 60;
    st->seed_fer = 21845;
    st->past_ftyp = 1;
    st->seed = 11111;
    st->sid_sav = 0;
    st->sh_sid_sav = 1;
    for (int k = 0; k < 4; ++k) g729ab_Copy10(g729ab_freq_prev_reset.data(), st->freq_prev[k]);
    st->prev_ma = 0;
    g729ab_Copy10(g729ab_freq_prev_reset.data(), st->prev_lsp);
    st->res2 = st->res2_buf;
    g729ab_Set_const(st->past_qua_en, -14336, 4);
    st->past_gain = 4096;
    st->Sid.cur_gain = 0;
    // The SID spectrum is read as LSPs: start from the reference's cosine-domain vector.
    g729ab_Copy10(g729ab_lspSid_init.data(), st->Sid.lspSid);
    st->Sid.sid_gain = g729ab_tab_Sidgain[0];
    st->bad_lsf = 0;
}

void g729ab_CheckFramType(const W16* serial, W16* parm) {
    parm[0] = 0;
    W16 count = serial[1];
    if (count != 0) {
        int n = count > 80 ? 80 : (count < 0 ? 0 : count);
        W16 all = -1;
        for (int i = 0; i < n; ++i) all = static_cast<W16>(all & serial[2 + i]);
        if ((all & 1) == 0) parm[0] = 1;
    } else if (static_cast<std::uint16_t>(serial[0]) != 0x6B21) {
        parm[0] = 1;
    }
    if (parm[1] == 1) {
        W16 sum = 1;
        for (int b = 2; b <= 7; ++b) sum = static_cast<W16>(sum + ((parm[4] >> b) & 1));
        parm[5] = static_cast<W16>((sum + parm[5]) & 1);
    }
}

namespace {
// Synthesis of one subframe with the decoder's overflow rescue.
void synthesise(G729NUNIDEC* st, const W16* Az, W16* exc, W16* synth) {
    g729ab_Copy10(st->mem_syn, synth - 10);
    if (g729ab_Syn_filt3(Az, exc, synth) != 0) {
        g729ab_Vec_shr_8(st->old_exc, st->old_exc, 2, 240);
        g729ab_Copy10(st->mem_syn, synth - 10);
        g729ab_Syn_filt2(Az, exc, synth);
    }
    g729ab_Copy10(synth + 30, st->mem_syn);
}
}  // namespace

void g729ab_Decod_ld8a(const W16* serial, W16* synth_out, G729NUNIDEC* st) {
    W16 parm[16] = {};
    g729ab_bits2prm_ld8k(serial + 1, parm);
    g729ab_CheckFramType(serial, parm);
    const W16 bfi = parm[0];
    W16 ftyp = parm[1];
    if (bfi == 1) {
        ftyp = st->past_ftyp == 1 ? W16{1} : W16{0};
        parm[1] = ftyp;
    }

    W16* exc = st->old_exc + 154;
    W16 synth_buf[12 + kFrame] = {};
    W16* synth = synth_buf + 12;
    W16 A_t[22], T2[2];

    if (ftyp == 1) {
        st->seed = 11111;
        W16 lsp_new[10];
        g729ab_D_lsp(parm + 2, lsp_new, bfi + st->bad_lsf, st);
        g729ab_Int_qlpc(st->lsp_old, lsp_new, A_t);
        g729ab_Copy10(lsp_new, st->lsp_old);
        for (int s = 0; s < 2; ++s) {
            const int i = kSubfr * s;
            const W16* p = parm + (s == 0 ? 4 : 9);
            W16 index = p[0];
            const W16* rest = s == 0 ? p + 2 : p + 1;
            W16 T0 = st->old_T0, T0_frac = 0;
            const int bad = s == 0 ? bfi + parm[5] : bfi;
            if (bad == 0) {
                if (s == 1) T0 = T2[0];
                g729ab_Dec_lag3(index, i, &T0, &T0_frac);
                st->old_T0 = T0;
            } else {
                T0 = st->old_T0;
                T0_frac = 0;
                st->old_T0 = static_cast<W16>(st->old_T0 + 1 > kPitMax ? kPitMax : st->old_T0 + 1);
            }
            T2[s] = T0;
            g729ab_Pred_lt_3_dec(exc + i, T0, T0_frac);
            W16 posIndex = rest[0], signIndex = rest[1];
            if (bfi) {
                posIndex = static_cast<W16>(Random(&st->seed_fer) & 0x1FFF);
                signIndex = static_cast<W16>(Random(&st->seed_fer) & 0xF);
            }
            W16 code[40];
            g729ab_Decod_ACELP(signIndex, posIndex, code);
            if (T0 < kSubfr) g729ab_Vec_add_prev_mult(code, shl(st->sharp, 1), T0);
            g729ab_Dec_gain(rest[2], code, bfi, st->past_qua_en, &st->gain_pitch, &st->gain_code);
            st->sharp = st->gain_pitch;
            if (st->sharp > kSharpMax) st->sharp = kSharpMax;
            if (st->sharp < kSharpMin) st->sharp = kSharpMin;
            g729ab_TotalExc(exc + i, code, st->gain_pitch, st->gain_code, 1);
            synthesise(st, A_t + 11 * s, exc + i, synth + i);
        }
    } else {
        g729ab_Dec_cng(st->past_ftyp, st->sid_sav, st->sh_sid_sav, parm + 1, exc, st->lsp_old, A_t, &st->seed, st->freq_prev, st);
        for (int s = 0; s < 2; ++s) {
            synthesise(st, A_t + 11 * s, exc + kSubfr * s, synth + kSubfr * s);
            T2[s] = st->old_T0;
        }
        st->sharp = kSharpMin;
    }

    if (bfi == 0) {
        W32 e = g729ab_Vec_L_sqa(exc, kFrame, 0);
        W16 n = norm_l(e);
        st->sid_sav = round16(L_shl(e, n));
        st->sh_sid_sav = static_cast<W16>(16 - n);
    }
    g729ab_Copy(st->old_exc + kFrame, st->old_exc, 160);
    st->past_ftyp = ftyp;
    g729ab_Post_Filter(synth, st, A_t, T2, ftyp);
    g729ab_Pre_Process(&st->st, synth, synth_out, 1);
}

}  // namespace g729

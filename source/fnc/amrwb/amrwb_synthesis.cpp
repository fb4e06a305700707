// Excitation post-processing and the low-band synthesis shared by encoder and
// decoder, with the white noise of the high band scaled to the excitation.
#include <cstring>

#include "amrwb_basic_op.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

void amr_wb_Pit_shrp(Word16* x, Word16 lag) {
    for (int i = lag; i < 64; ++i) x[i] = round16(L_mac(L_deposit_h(x[i]), x[i - lag], 27853));
}

Word16 amr_wb_voice_factor(const Word16* exc, Word16 Q_exc, Word16 gain_pit, const Word16* code, Word16 gain_code) {
    Word16 exp1, exp2;
    Word16 ener1 = extract_h(amr_wb_Dot_product12(exc, exc, &exp1));
    exp1 = sub(exp1, add(Q_exc, Q_exc));
    Word32 L = L_mult(gain_pit, gain_pit);
    Word16 exp = norm_l(L);
    ener1 = mult(ener1, extract_h(L_shl(L, exp)));
    exp1 = sub(sub(exp1, exp), 10);
    Word16 ener2 = extract_h(amr_wb_Dot_product12(code, code, &exp2));
    exp = norm_s(gain_code);
    Word16 tmp = shl(gain_code, exp);
    ener2 = mult(ener2, mult(tmp, tmp));
    exp2 = sub(exp2, add(exp, exp));
    Word16 i = sub(exp1, exp2);
    if (i >= 0) {
        ener1 = shr(ener1, 1);
        ener2 = shr(ener2, add(i, 1));
    } else {
        ener1 = shr(ener1, sub(1, i));
        ener2 = shr(ener2, 1);
    }
    tmp = sub(ener1, ener2);
    ener1 = add(add(ener1, ener2), 1);
    return tmp >= 0 ? amr_wb_div_s(tmp, ener1) : negate(amr_wb_div_s(negate(tmp), ener1));
}

void amr_wb_agc2(const Word16* sig_in, Word16* sig_out) {
    Word32 s = amr_wb_agc2_loop1(sig_out);
    if (s == 0) return;
    Word16 exp = static_cast<Word16>(norm_l(s) - 1);
    Word16 gain_out = round16(L_shl(s, exp));
    s = amr_wb_agc2_loop1(sig_in);
    Word16 g0 = 0;
    if (s != 0) {
        Word16 i = norm_l(s);
        Word16 gain_in = round16(L_shl(s, i));
        exp = sub(exp, i);
        s = L_deposit_l(amr_wb_div_s(gain_out, gain_in));
        s = L_shl(s, 7);
        s = L_shr(s, exp);
        s = amr_wb_Isqrt(s);
        g0 = round16(L_shl(s, 9));
    }
    amr_wb_agc2_loop(sig_out, g0);
}

void amr_wb_HP50_12k8(Word16* signal, Word16* mem) {
    Word16 x[2 + 64];
    x[0] = mem[4];
    x[1] = mem[5];
    std::memcpy(x + 2, signal, 64 * sizeof(Word16));
    Word32 y32[64];
    amr_wb_12k8_loop1(x, amr_wb_hp50_ab + 4, y32, 64);
    amr_wb_HP50_12k8_loop2(mem, y32, signal, 64);
    mem[4] = x[64];
    mem[5] = x[65];
}

void amr_wb_HP400_12k8(const Word16* signal, Word16* out, Word16* mem) {
    Word16 x[2 + 64];
    x[0] = mem[4];
    x[1] = mem[5];
    std::memcpy(x + 2, signal, 64 * sizeof(Word16));
    Word32 fir[64];
    amr_wb_12k8_loop1(x, amr_wb_hp400_ab + 4, fir, 64);
    amr_wb_HP400_12k8_loop2(mem, nullptr, out, fir);
    mem[4] = x[64];
    mem[5] = x[65];
}

void amr_wb_Oversamp_18k(const Word16* sig12k8, Word16* sig16k, Word16* mem) {
    Word16 buf[24 + 64];
    std::memcpy(buf, mem, 24 * sizeof(Word16));
    std::memcpy(buf + 24, sig12k8, 64 * sizeof(Word16));
    amr_wb_Up_samp(buf + 12, sig16k);
    std::memcpy(mem, buf + 64, 24 * sizeof(Word16));
}

Word16 amr_wb_ModifyNoiseEnergy(Word32 L_hf, Word32 L_exc, Word16 exp, Word16 exp_ener, Word16 exp_offset) {
    Word16 tmp = extract_h(L_hf), ener = extract_h(L_exc);
    if (tmp > ener) {
        tmp = static_cast<Word16>(tmp >> 1);
        exp = add(exp, 1);
    }
    Word32 L = L_deposit_h(amr_wb_div_s(tmp, ener));
    exp = sub(exp, exp_ener);
    amr_wb_Isqrt_n(&L, &exp);
    return extract_h(L_shl(L, add(exp, exp_offset)));
}

Word16 amr_wb_WhiteNoiseSynthTilt(Word32 r0, Word32 r1, Word16 vad_hist) {
    Word16 norm = norm_l(r0);
    Word16 ener = extract_h(L_shl(r0, norm)), tmp = extract_h(L_shl(r1, norm));
    Word16 fac = tmp > 0 ? amr_wb_div_s(tmp, ener) : 0;
    Word16 gain1 = sub(32767, fac);
    Word16 gain2 = shl(mult(gain1, 20480), 1);
    Word16 w1 = vad_hist > 0 ? 0 : 32767, w2 = vad_hist > 0 ? 32767 : 0;
    Word16 g = add(mult(w1, gain1), mult(w2, gain2));
    if (g != 0) g = add(g, 1);
    return g < 3277 ? 3277 : g;
}

Word16 amr_wb_common_synthesis(amr_wb_SynthesisHead* st, const Word16* Aq, Word16* exc, Word16 Q_new,
                               Word16* synth16k, Word16* HF) {
    Word16 hi[16 + 64], lo[16 + 64], synth[64];
    std::memcpy(hi, st->mem_syn_hi, 16 * sizeof(Word16));
    std::memcpy(lo, st->mem_syn_lo, 16 * sizeof(Word16));
    amr_wb_Syn_filt_32(Aq, exc, Q_new, hi + 16, lo + 16);
    std::memcpy(st->mem_syn_hi, hi + 64, 16 * sizeof(Word16));
    std::memcpy(st->mem_syn_lo, lo + 64, 16 * sizeof(Word16));
    amr_wb_Deemph_32(hi + 16, lo + 16, synth, &st->mem_deemph);
    amr_wb_HP50_12k8(synth, st->mem_sig_out);
    if (synth16k) amr_wb_Oversamp_18k(synth, synth16k, st->mem_oversamp);

    amr_wb_Vec_Random(HF, &st->seed2, 80, 3);
    amr_wb_Scale_sig2(exc, 64, -3);
    Word16 Q = static_cast<Word16>(Q_new - 3);
    Word16 exp_ener, exp;
    Word32 L_exc = amr_wb_Dot_product12s(exc, 64, &exp_ener);
    exp_ener = sub(exp_ener, add(Q, Q));
    Word32 L_hf = amr_wb_Dot_product12s(HF, 80, &exp);
    Word16 gain = amr_wb_ModifyNoiseEnergy(L_hf, L_exc, exp, exp_ener, 1);
    amr_wb_Vec_mult_shift(HF, 80, gain, 0);

    // Tilt of the synthesis through the 400 Hz high-pass.
    Word16 s[64 + 1];
    amr_wb_HP400_12k8(synth, s, st->mem_hp400);
    s[64] = 0;
    Word32 r0 = amr_wb_Vec_L_sqa(s, 64, 1);
    Word32 r1 = amr_wb_Vec_L_mac8(s, s + 1, 64, 1);  // s[64] = 0 ends the lag-1 sum
    return amr_wb_WhiteNoiseSynthTilt(r0, r1, st->vad_hist);
}

void amr_wb_Phase_dispersion(Word16 gain_code, Word16 gain_pit, Word16* code, Word16 mode, Word16* disp_mem) {
    Word16& prev_state = disp_mem[0];
    Word16& prev_gain_code = disp_mem[1];
    Word16* prev_gain_pit = disp_mem + 2;
    Word16 state = gain_pit < 9830 ? 0 : (gain_pit < 14746 ? 1 : 2);
    for (int i = 5; i > 0; --i) prev_gain_pit[i] = prev_gain_pit[i - 1];
    prev_gain_pit[0] = gain_pit;
    if (sub(gain_code, prev_gain_code) > shl(prev_gain_code, 1)) {
        if (state < 2) state = static_cast<Word16>(state + 1);  // onset
    } else {
        int j = 0;
        for (int i = 0; i < 6; ++i)
            if (prev_gain_pit[i] < 9830) ++j;
        if (j > 2) state = 0;
        if (state - prev_state > 1) state = static_cast<Word16>(state - 1);
    }
    prev_gain_code = gain_code;
    prev_state = state;
    state = static_cast<Word16>(state + mode);
    if (state > 1) return;
    Word16 code2[128] = {};
    amr_wb_ph_loop(code, code2, state == 0 ? amr_wb_ph_imp_low : amr_wb_ph_imp_mid);
}

// Comfort-noise excitation of a frame: white noise scaled to the level
// 2^(L/2^15), L the interpolated log2 energy (Q24) shifted right by 9.
void amr_wb_cn_excitation(Word16* exc2, Word16* seed, Word32 L_log) {
    // The high half of L >> 9 halves the log: the level is a square root.
    Word32 Lq = L_log >> 9;
    Word16 e = static_cast<Word16>(Lq >> 16), f = static_cast<Word16>((Lq & 0xFFFF) >> 1);
    Word32 level32 = amr_wb_Pow2(static_cast<Word16>(e + 15), f);
    Word16 norm = norm_l(level32);
    Word16 level = extract_h(L_shl(level32, norm));
    amr_wb_Vec_Random(exc2, seed, 256, 4);
    Word16 exp;
    Word32 ener = amr_wb_Dot_product12s(exc2, 256, &exp);
    amr_wb_Isqrt_n(&ener, &exp);
    Word16 gain = mult(level, extract_h(ener));
    // level / sqrt(mean energy): 16 / sqrt(energy of the 256 samples).
    amr_wb_dtx_Exc_loop(exc2, gain, static_cast<Word16>(exp - norm + 19));
}

// Voice activity detector option 2 kernels and the 128-point real FFT.
#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

Word16 amrefr_block_norm(const Word16* in, Word16* out, Word16 headroom) {
    Word16 m = 0;
    for (int i = 0; i < 80; ++i) {
        Word16 a = abs_s(in[i]);
        if (a > m) m = a;
    }
    if (m == 0) {
        for (int i = 0; i < 80; ++i) out[i] = 0;
        return static_cast<Word16>(16 - headroom);
    }
    Word16 s = static_cast<Word16>(norm_s(m) - headroom);
    for (int i = 0; i < 80; ++i) out[i] = shl(in[i], s);
    return s;
}

// The memory sample is used directly; nothing is written in front of in.
void amrefr_vad2_pre_emp(Word16* buf, Word16* mem, Word16* last_shift, Word16* in, Word16 shift) {
    for (int i = 0; i < 24; ++i) buf[i] = 0;
    *mem = shr_r(*mem, static_cast<Word16>(*last_shift - shift));
    *last_shift = shift;
    Word16 prev = *mem;
    for (int j = 0; j < 80; ++j) {
        buf[24 + j] = add(in[j], mult(prev, -26214));
        prev = in[j];
    }
    *mem = in[79];
    for (int i = 104; i < 128; ++i) buf[i] = 0;
}

void amrefr_vad2_energy_1_loop(const Word16* buf, Word32* enrg, Word32 min_enrg, Word16 n, Word16 alpha,
                               Word16 one_m_alpha) {
    int bin = 2;
    for (int c = 0; c < 16; ++c) {
        std::int64_t S = 0;
        for (int b = 0; b < amrefr_ch_tbl[c]; ++b, ++bin)
            S += std::int32_t{buf[2 * bin]} * buf[2 * bin] + std::int32_t{buf[2 * bin + 1]} * buf[2 * bin + 1];
        Word32 S32 = static_cast<Word32>(S);
        Word32 E;
        if (n >= 2)
            E = ((S32 >> (n - 2)) + 1) >> 1;
        else
            E = sat32(std::int64_t{S32} << (1 - n));
        Word16 g = mult(alpha, amrefr_ch_tbl_sh[c]);
        Word32 v = L_add(sat32((std::int64_t{E} * g) >> 15), sat32((std::int64_t{enrg[c]} * one_m_alpha) >> 15));
        enrg[c] = v < min_enrg ? min_enrg : v;
    }
}

Word32 amrefr_vad2_energy_2(Word16 fbits, const Word32* enrg, Word16* enrg_db, const Word32* noise, Word16* snr) {
    Word32 vm_sum = 0;
    for (int c = 0; c < 16; ++c) {
        enrg_db[c] = amrefr_fn10Log10(enrg[c], fbits);
        Word16 noise_db = amrefr_fn10Log10(noise[c], 9);
        snr[c] = sub(enrg_db[c], noise_db);
        Word16 q = shr_r(mult(snr[c], 21845), 6);
        if (q < 0) q = 0;
        if (q > 89) q = 89;
        vm_sum += amrefr_vm_tbl[q];
    }
    return vm_sum;
}

Word16 amrefr_vad2_energy_3_init(Word16* snr_var, Word16* snr_bias, const Word32* noise, Word16* tsnr) {
    *snr_var = 0;
    *snr_bias = 0;
    Word32 total = 0;
    for (int c = 0; c < 16; ++c) total = L_add(total, noise[c]);
    Word16 xt = sub(14320, amrefr_fn10Log10(total, 9));
    *tsnr = xt;
    return xt;
}

Word16 amrefr_vad2_energy_3_main(Word16* tsnr, const Word16* snr) {
    Word32 P = 0;
    for (int c = 0; c < 16; ++c) {
        Word32 t = L_mult(snr[c], 10885) >> 8;
        Word16 h = static_cast<Word16>((t >> 16) + 3);
        Word16 l = static_cast<Word16>((t & 0xFFFF) >> 1);
        P = L_add(P, amrefr_Pow2(h, l));
    }
    Word16 xt = amrefr_fn10Log10(P, 7);
    if (xt > *tsnr)
        *tsnr = round16(L_add(L_mult(29491, *tsnr), L_mult(3277, xt)));
    else if (xt > mult(20480, *tsnr))
        *tsnr = round16(L_add(L_mult(32702, *tsnr), L_mult(66, xt)));
    return xt;
}

void amrefr_vad2_calc_negSNRbias(Word16 xt, Word16* snr_var, Word16* snr_bias) {
    if (xt >= 0) return;
    Word32 v = L_mult(xt, xt);
    Word16 t = v >= (1 << 24) ? 32767 : static_cast<Word16>((v + 256) >> 9);
    Word16 var = round16(L_add(L_mult(328, t), L_mult(32440, *snr_var)));
    if (var > 1024) var = 1024;
    *snr_var = var;
    Word16 b = mult_r(wrap16((std::int32_t{var} - 166) * 16), 24576);
    *snr_bias = b <= 0 ? 0 : static_cast<Word16>(b >> 8);
}

Word16 amrefr_vad2_calc_lsd_loop(const Word16* long_db, const Word16* enrg_db) {
    Word16 s = 0;
    for (int c = 0; c < 16; ++c) s = add(s, abs_s(sub(long_db[c], enrg_db[c])));
    return s;
}

void amrefr_vad2_calc_ltse_loop(Word16* long_db, const Word16* enrg_db, Word16 alpha, Word16 one_m_alpha) {
    for (int c = 0; c < 16; ++c)
        long_db[c] = round16(L_add(L_mult(one_m_alpha, enrg_db[c]), L_mult(alpha, long_db[c])));
}

void amrefr_vad2_update_cne(Word16 update_flag, Word16 shift_state, const Word32* enrg, Word32* noise) {
    if (update_flag != 1) return;
    for (int c = 0; c < 16; ++c) {
        Word32 x = shift_state == 1 ? L_shl(enrg[c], 5) : enrg[c];
        Word32 v = L_add(Mpy_32_16(x, 3277), Mpy_32_16(noise[c], 29491));
        noise[c] = v < 32 ? 32 : v;
    }
}

namespace {

void butterfly(Word16* f, int top, int jj, Word16 c, Word16 s) {
    int bot = top + jj;
    Word16 tr = round16(L_msu(L_mult(f[bot], c), f[bot + 1], s));
    Word16 ti = round16(L_mac(L_mult(f[bot + 1], c), f[bot], s));
    Word16 re = f[top], im = f[top + 1];
    f[bot] = shr(sub(re, tr), 1);
    f[bot + 1] = shr(sub(im, ti), 1);
    f[top] = shr(add(re, tr), 1);
    f[top + 1] = shr(add(im, ti), 1);
}

}  // namespace

void amrefr_c_fft_InitialStages(Word16* f, Word16 j, Word16 kk, Word16 jj, Word16 ji) {
    Word16 c = amrefr_phs_tbl[ji], s = amrefr_phs_tbl[ji + 1];
    for (int k = j; k < 128; k += kk) butterfly(f, k, jj, c, s);
}

void amrefr_c_fft_PenultimateStage(Word16* f) {
    for (int m = 0; m < 16; ++m) {
        Word16 c = amrefr_phs_tbl_Penultimate[8 * (m / 4) + m % 4];
        Word16 s = amrefr_phs_tbl_Penultimate[8 * (m / 4) + 4 + m % 4];
        butterfly(f, 2 * m, 32, c, s);
        butterfly(f, 64 + 2 * m, 32, c, s);
    }
}

void amrefr_c_fft_LastStage(Word16* f) {
    for (int m = 0; m < 32; ++m) {
        Word16 c = amrefr_phs_tbl_Last[8 * (m / 4) + m % 4];
        Word16 s = amrefr_phs_tbl_Last[8 * (m / 4) + 4 + m % 4];
        butterfly(f, 2 * m, 64, c, s);
    }
}

void amrefr_r_fft_loop(Word16* f) {
    for (int i = 2; i <= 64; i += 2) {
        int j = 128 - i;
        Word16 cp = amrefr_phs_tbl[i], sp = amrefr_phs_tbl[i + 1];
        Word16 cq = amrefr_phs_tbl[j], sq = amrefr_phs_tbl[j + 1];
        Word16 r1 = add(f[i], f[j]), i1 = sub(f[i + 1], f[j + 1]);
        Word16 r2 = add(f[i + 1], f[j + 1]), i2 = sub(f[j], f[i]);
        Word32 R = L_deposit_h(r1), I = L_deposit_h(i1);
        Word16 fi = round16(L_shr(L_msu(L_mac(R, r2, cp), i2, sp), 1));
        Word16 fi1 = round16(L_shr(L_mac(L_mac(I, i2, cp), r2, sp), 1));
        Word16 fj = round16(L_shr(L_mac(L_mac(R, r2, cq), i2, sq), 1));
        Word16 fj1 = round16(L_shr(L_mac(L_msu(L_negate(I), i2, cq), r2, sq), 1));
        f[i] = fi;
        f[i + 1] = fi1;
        f[j] = fj;
        f[j + 1] = fj1;
    }
}

// Decoder gains: the quantised pitch and code gains with MA energy
// prediction, their substitution in bad frames, and the lag concealment.
#include "amrwb_basic_op.h"
#include "amrwb_decoder.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
// Memory layout of dec_gain.
constexpr int kQuaEn = 0, kPastGainPit = 4, kPastGainCode = 5, kPrevGc = 6, kPbuf = 7, kGbuf = 12, kPbuf2 = 17;

void shift_in(Word16* buf, Word16 v) {
    for (int i = 1; i < 5; ++i) buf[i - 1] = buf[i];
    buf[4] = v;
}
void push_energy(Word16* qua_en, Word16 e) {
    qua_en[3] = qua_en[2];
    qua_en[2] = qua_en[1];
    qua_en[1] = qua_en[0];
    qua_en[0] = e;
}
}  // namespace

void amr_wb_D_gain2_bfi(Word16* gain_pit, Word32* gain_cod, Word16 state, Word16 unusable, Word16 vad_hist,
                        Word16 gcode_inov, Word16* mem) {
    Word16 past = amr_wb_median5(mem + kPbuf + 2);
    if (past > 15565) past = 15565;
    mem[kPastGainPit] = past;
    *gain_pit = mult(unusable ? amr_wb_pdown_unusable[state] : amr_wb_pdown_usable[state], past);
    Word16 gc = amr_wb_median5(mem + kGbuf + 2);
    if (vad_hist <= 2) gc = mult(unusable ? amr_wb_cdown_unusable[state] : amr_wb_cdown_usable[state], gc);
    mem[kPastGainCode] = gc;
    Word16* qua_en = mem + kQuaEn;
    Word32 L = L_mult(qua_en[0], 8192);
    for (int i = 1; i < 4; ++i) L = L_mac(L, qua_en[i], 8192);
    Word16 e = sub(extract_h(L), 3072);
    if (e < -14336) e = -14336;
    push_energy(qua_en, e);
    shift_in(mem + kGbuf, mem[kPastGainCode]);
    shift_in(mem + kPbuf, mem[kPastGainPit]);
    *gain_cod = L_mult(mem[kPastGainCode], gcode_inov);  // Q3 · Q12 · 2 = Q16
}

void amr_wb_D_gain2(Word16 index, Word16 nbits, const Word16* code, Word16* gain_pit, Word32* gain_cod, Word16 bfi,
                    Word16 prev_bfi, Word16 state, Word16 unusable, Word16 vad_hist, Word16* mem) {
    Word16 exp;
    Word32 L = amr_wb_Dot_product12s(code, 64, &exp);
    exp = static_cast<Word16>(exp - 24);
    amr_wb_Isqrt_n(&L, &exp);
    Word16 gcode_inov = extract_h(L_shl(L, static_cast<Word16>(exp - 3)));  // Q12
    if (bfi != 0) {
        amr_wb_D_gain2_bfi(gain_pit, gain_cod, state, unusable, vad_hist, gcode_inov, mem);
        return;
    }
    Word16* qua_en = mem + kQuaEn;
    // Predicted code gain from the past quantised energies.
    L = 30 << 24;
    for (int i = 0; i < 4; ++i) L = L_mac(L, amr_wb_pred[i], qua_en[i]);
    Word16 gcode0 = extract_h(L);
    L = L_mult(gcode0, 5443) >> 8;
    Word16 exp_gcode0 = extract_h(L), frac = static_cast<Word16>((L & 0xFFFF) >> 1);
    gcode0 = extract_l(amr_wb_Pow2(14, frac));
    exp_gcode0 = static_cast<Word16>(exp_gcode0 - 14);

    const Word16* gp = nbits == 6 ? amr_wb_t_qua_gain6b_g_pitch : amr_wb_t_qua_gain7b_g_pitch;
    const Word16* gc = nbits == 6 ? amr_wb_t_qua_gain6b_g_code : amr_wb_t_qua_gain7b_g_code;
    *gain_pit = gp[index];
    Word16 g_code = gc[index];
    *gain_cod = L_shl(L_mult(g_code, gcode0), static_cast<Word16>(exp_gcode0 + 4));
    if (prev_bfi == 1) {
        Word32 limit = L_mult(mem[kPrevGc], 5120);
        if (*gain_cod > limit && *gain_cod > 6553600) *gain_cod = limit;
    }
    mem[kPastGainCode] = round16(L_shl(*gain_cod, 3));
    mem[kPastGainPit] = *gain_pit;
    mem[kPrevGc] = mem[kPastGainCode];
    shift_in(mem + kGbuf, mem[kPastGainCode]);
    shift_in(mem + kPbuf, mem[kPastGainPit]);
    shift_in(mem + kPbuf2, mem[kPastGainPit]);
    *gain_cod = L_shl(amr_wb_MPY_32_16(*gain_cod, gcode_inov), 3);

    // Quantised energy 20·log10(g_code) for the prediction.
    Word16 e;
    Word16 f = amr_wb_Log2(L_deposit_l(g_code), &e);
    e = static_cast<Word16>(e - 11);
    L = L_mac(L_mult(e, 24660), mult(f, 24660), 1);
    push_energy(qua_en, extract_l(L >> 3));
}

void amr_wb_insert(Word16* array, Word16 n, Word16 x) {
    int i = n - 1;
    for (; i >= 0 && x < array[i]; --i) array[i + 1] = array[i];
    array[i + 1] = x;
}

void amr_wb_insertion_sort(Word16* array, Word16 n) {
    for (Word16 i = 0; i < n; ++i) amr_wb_insert(array, i, array[i]);
}

namespace {
Word16 spread_lag(const Word16* lag_hist, Word16* seed) {
    Word16 h[5];
    for (int i = 0; i < 5; ++i) h[i] = lag_hist[i];
    amr_wb_insertion_sort(h, 5);
    Word16 dif = sub(h[4], h[2]);
    if (dif > 40) dif = 40;
    Word16 D = amr_wb_Random(seed);
    Word16 D2 = mult(shr(dif, 1), D);
    return add(mult(add(add(h[2], h[3]), h[4]), 10923), D2);
}
}  // namespace

void amr_wb_lagconc(const Word16* gain_hist, const Word16* lag_hist, Word16* T0, const Word16* old_T0, Word16* seed,
                    Word16 unusable) {
    const Word16 lastGain = gain_hist[4], secLastGain = gain_hist[3], lastLag = lag_hist[0];
    Word16 minLag = lag_hist[0], maxLag = lag_hist[0], minGain = gain_hist[0];
    for (int i = 1; i < 5; ++i) {
        if (lag_hist[i] < minLag) minLag = lag_hist[i];
        if (lag_hist[i] > maxLag) maxLag = lag_hist[i];
        if (gain_hist[i] < minGain) minGain = gain_hist[i];
    }
    const Word16 lagDif = sub(maxLag, minLag);
    auto clamp = [&] {
        if (*T0 > maxLag) *T0 = maxLag;
        if (*T0 < minLag) *T0 = minLag;
    };
    if (unusable) {
        if (minGain > 8192 && lagDif < 10)
            *T0 = *old_T0;
        else if (lastGain > 8192 && secLastGain > 8192)
            *T0 = lag_hist[0];
        else
            *T0 = spread_lag(lag_hist, seed);
        clamp();
        return;
    }
    Word16 meanLag = 0;
    for (int i = 0; i < 5; ++i) meanLag = add(meanLag, lag_hist[i]);
    meanLag = mult(meanLag, 6554);
    const Word16 tmp = sub(*T0, maxLag), tmp2 = sub(*T0, lastLag);
    if (lagDif < 10 && *T0 > sub(minLag, 5) && tmp < 5) return;
    if (lastGain > 8192 && secLastGain > 8192 && tmp2 > -10 && tmp2 < 10) return;
    if (minGain < 6554 && lastGain == minGain && *T0 > minLag && *T0 < maxLag) return;
    if (lagDif < 70 && *T0 > minLag && *T0 < maxLag) return;
    if (*T0 > meanLag && *T0 < maxLag) return;
    if ((minGain > 8192 && lagDif < 10) || (lastGain > 8192 && secLastGain > 8192))
        *T0 = lag_hist[0];
    else
        *T0 = spread_lag(lag_hist, seed);
    clamp();
}

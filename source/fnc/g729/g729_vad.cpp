// Voice activity detector of G.729 Annex B: frame energy, low-band energy, spectral distortion and
// zero-crossing rate against running background means, a fixed multi-boundary decision, and
// smoothing with hangover.
#include "g729_internal.h"

namespace g729 {

namespace {
// Energy in the log domain of a positive 32-bit value with the frame's normalisation exponent.
W16 logEnergy(W32 value, W16 exp_R0) {
    W16 e, f;
    g729ab_Log2(value, &e, &f);
    W32 ef = W32{e} * 65536 + 2 * W32{f};
    W32 v = L_add(2 * static_cast<W32>((std::int64_t{ef} * 9864) >> 16), L_mult(static_cast<W16>(exp_R0 - 2), 9864));
    return sub(extract_h(L_shl(v, 11)), 4875);
}

bool ruleAbove(W32 acc) { return acc > 0; }
bool ruleBelow(W32 acc) { return acc < 0; }
}  // namespace

W16 g729ab_MakeDec(W16 dSLE, W16 dSE, W16 SD, W16 dSZC) {
    const auto& K = g729ab_MakeDecConsts;
    if (ruleAbove(L_add(L_shr(L_add(L_mult(dSZC, -14680), K[0]), 8), L_deposit_h(SD)))) return 1;
    if (ruleAbove(L_add(L_shr(L_add(L_mult(dSZC, 19065), K[1]), 7), L_deposit_h(SD)))) return 1;
    if (ruleBelow(L_add(L_shr(L_add(L_mult(dSZC, 20480), K[2]), 2), L_deposit_h(dSE)))) return 1;
    if (ruleBelow(L_add(L_shr(L_add(L_mult(dSZC, -16384), K[3]), 2), L_deposit_h(dSE)))) return 1;
    if (ruleBelow(L_add(L_mult(dSE, 32767), K[4]))) return 1;
    if (ruleBelow(L_add(L_add(L_mult(SD, -28160), K[5]), L_mult(dSE, 512)))) return 1;
    if (ruleAbove(L_add(L_mult(SD, 32767), K[6]))) return 1;
    if (ruleBelow(L_add(L_shr(L_add(L_mult(dSZC, -20480), K[7]), 2), L_deposit_h(dSE)))) return 1;
    if (ruleBelow(L_add(L_shr(L_add(L_mult(dSZC, 23831), K[8]), 2), L_deposit_h(dSE)))) return 1;
    if (ruleBelow(L_add(L_mult(dSE, 32767), K[9]))) return 1;
    if (ruleBelow(L_add(L_add(L_mult(SD, -22400), K[10]), L_mult(dSLE, 256)))) return 1;
    if (ruleAbove(L_add(L_add(L_mult(dSE, -30427), K[11]), L_deposit_h(dSLE)))) return 1;
    if (ruleBelow(L_add(L_add(L_mult(dSE, -23406), K[12]), L_deposit_h(dSLE)))) return 1;
    if (ruleBelow(L_add(L_add(L_mult(dSE, 24576), K[13]), L_mult(dSLE, 16384)))) return 1;
    return 0;
}

W16 g729ab_ComputeSD(const W16* lsf, const W16* MeanLSF) {
    W32 acc = 0;
    for (int i = 0; i < 10; ++i) {
        W16 d = sub(lsf[i], MeanLSF[i]);
        acc = L_mac(acc, d, d);
    }
    return extract_h(acc);
}

W16 g729ab_FindMinBuf(const W16* buf, W16 min) {
    for (int i = 0; i < 15; ++i)
        if (buf[i] < min) min = buf[i];
    return min;
}

void g729ab_VadLoop1(W16* MeanLSF, W16 factor, W16 shift) {
    for (int i = 0; i < 10; ++i) MeanLSF[i] = extract_h(L_shl(L_mult(MeanLSF[i], factor), shift));
}

void g729ab_VadLoop2(W16* MeanSZC, W16 ZC, W16* MeanLSF, const W16* lsf) {
    *MeanSZC = extract_h(L_mac(L_deposit_h(*MeanSZC), ZC, 1024));
    for (int i = 0; i < 10; ++i) MeanLSF[i] = extract_h(L_mac(L_deposit_h(MeanLSF[i]), lsf[i], 1024));
}

void g729ab_VadLoop3(W16* MeanLSF, const W16* lsf, W16 COEFSD, W16 C_COEFSD) {
    for (int i = 0; i < 10; ++i) MeanLSF[i] = extract_h(L_mac(L_mult(COEFSD, MeanLSF[i]), C_COEFSD, lsf[i]));
}

void g729ab_vad(W16 rc, const W16* lsf, const W32* r, W16 exp_R0, const W16* sigpp, W16 prev_marker, W16 pprev_marker, W16* marker,
                G729NUNIENC* st) {
    st->frm_count = st->frm_count == 32767 ? W16{256} : static_cast<W16>(st->frm_count + 1);
    const W16 c = st->frm_count;

    W16 ENERGY = logEnergy(r[0] & ~W32{1}, exp_R0);
    W32 acc = 0;
    for (int i = 1; i <= 12; ++i) acc = L_mac(acc, dp_hi(r[i]), g729ab_lbf_corr[i]);
    acc = L_shl(acc, 1);
    acc = L_mac(acc, dp_hi(r[0]), g729ab_lbf_corr[0]);
    W16 ENERGY_low = logEnergy(acc, exp_R0);
    W16 SD = g729ab_ComputeSD(lsf, st->MeanLSF);
    W16 ZC = g729ab_ComputeZeroCross(sigpp);

    if (c <= 128) {
        if (ENERGY < st->Min) {
            st->Min = ENERGY;
            st->Prev_Min = ENERGY;
        }
        if ((c & 7) == 0) {
            st->Min_buffer[c / 8 - 1] = st->Min;
            st->Min = kMax16;
        }
    }
    if ((c & 7) == 0) st->Prev_Min = g729ab_FindMinBuf(st->Min_buffer, st->Min_buffer[15]);
    if (c > 128) {
        if ((c & 7) == 1) {
            st->Min = st->Prev_Min;
            st->Next_Min = kMax16;
        }
        if (ENERGY < st->Min) st->Min = ENERGY;
        if (ENERGY < st->Next_Min) st->Next_Min = ENERGY;
        if ((c & 7) == 0) {
            for (int i = 0; i < 15; ++i) st->Min_buffer[i] = st->Min_buffer[i + 1];
            st->Min_buffer[15] = st->Next_Min;
            st->Prev_Min = g729ab_FindMinBuf(st->Min_buffer, st->Min_buffer[15]);
        }
    }

    if (c <= 32) {
        if (ENERGY < 3072) {
            *marker = 0;
            st->less_count = static_cast<W16>(st->less_count + 1);
        } else {
            *marker = 1;
            st->MeanE = extract_h(L_mac(L_deposit_h(st->MeanE), ENERGY, 1024));
            g729ab_VadLoop2(&st->MeanSZC, ZC, st->MeanLSF, lsf);
        }
    }
    if (c < 32) {
        st->Vadprev_energy = ENERGY;
        return;
    }
    if (c == 32) {
        int lc = st->less_count < 0 ? 0 : (st->less_count > 32 ? 32 : st->less_count);
        W16 factor = g729ab_factor_fx[lc], shift = g729ab_shift_fx[lc];
        st->MeanE = extract_h(L_shl(L_mult(st->MeanE, factor), shift));
        st->MeanSZC = extract_h(L_shl(L_mult(st->MeanSZC, factor), shift));
        g729ab_VadLoop1(st->MeanLSF, factor, shift);
        st->MeanSE = sub(st->MeanE, 2048);
        st->MeanSLE = sub(st->MeanE, 2458);
    }

    W16 dSE = sub(st->MeanSE, ENERGY);
    W16 dSLE = sub(st->MeanSLE, ENERGY_low);
    W16 dSZC = sub(st->MeanSZC, ZC);
    *marker = ENERGY < 3072 ? W16{0} : g729ab_MakeDec(dSLE, dSE, SD, dSZC);

    st->v_flag = 0;
    if (prev_marker == 1 && *marker == 0 && add(dSE, 410) < 0 && ENERGY > 3072) {
        *marker = 1;
        st->v_flag = 1;
    }
    if (st->flag == 1) {
        if (prev_marker == 1 && pprev_marker == 1 && *marker == 0 && abs_s(sub(st->Vadprev_energy, ENERGY)) <= 614) {
            st->count_ext = static_cast<W16>(st->count_ext + 1);
            *marker = 1;
            st->v_flag = 1;
            if (st->count_ext > 4) {
                st->count_ext = 0;
                st->flag = 0;
            }
        }
    } else {
        st->flag = 1;
    }
    if (*marker == 0) st->count_sil = add(st->count_sil, 1);
    if (*marker == 1 && st->count_sil > 10) {
        if (sub(ENERGY, st->Vadprev_energy) <= 614) *marker = 0;
        st->count_sil = 0;
    }
    if (*marker == 1) st->count_sil = 0;

    const bool belowNoise = sub(sub(ENERGY, 614), st->MeanSE) < 0;
    if (belowNoise && c > 128 && st->v_flag == 0 && rc < 19661) *marker = 0;

    if (belowNoise && SD < 83 && rc < 24576) {
        st->count_update = add(st->count_update, 1);
        W16 COEF, C_COEF, COEFZC, C_COEFZC, COEFSD, C_COEFSD;
        const W16 u = st->count_update;
        if (u < 20) {
            COEF = 24576; C_COEF = 8192; COEFZC = 26214; C_COEFZC = 6554; COEFSD = 19661; C_COEFSD = 13017;
        } else if (u < 30) {
            COEF = 31130; C_COEF = 1638; COEFZC = 30147; C_COEFZC = 2621; COEFSD = 21299; C_COEFSD = 11469;
        } else if (u < 40) {
            COEF = 31785; C_COEF = 983; COEFZC = 30802; C_COEFZC = 1966; COEFSD = 22938; C_COEFSD = 9830;
        } else if (u < 50) {
            COEF = 32440; C_COEF = 328; COEFZC = 31457; C_COEFZC = 1311; COEFSD = 24576; C_COEFSD = 8192;
        } else if (u < 60) {
            COEF = 32604; C_COEF = 164; COEFZC = 32440; C_COEFZC = 328; COEFSD = 24576; C_COEFSD = 8192;
        } else {
            COEF = 32604; C_COEF = 164; COEFZC = 32702; C_COEFZC = 66; COEFSD = 24576; C_COEFSD = 8192;
        }
        st->MeanSE = extract_h(L_mac(L_mult(COEF, st->MeanSE), C_COEF, ENERGY));
        st->MeanSLE = extract_h(L_mac(L_mult(COEF, st->MeanSLE), C_COEF, ENERGY_low));
        st->MeanSZC = extract_h(L_mac(L_mult(C_COEFZC, ZC), COEFZC, st->MeanSZC));
        g729ab_VadLoop3(st->MeanLSF, lsf, COEFSD, C_COEFSD);
    }
    if (c > 128 && ((SD < 83 && st->MeanSE < st->Min) || sub(st->MeanSE, st->Min) > 2048)) {
        st->MeanSE = st->Min;
        st->count_update = 0;
    }
    st->Vadprev_energy = ENERGY;
}

}  // namespace g729

// Gains of G.729: MA prediction of the fixed-codebook gain, the two-stage conjugate-structure
// gain quantiser with pre-selection, its decoding, and the taming of the pitch gain.
#include "g729_internal.h"

namespace g729 {

namespace {
using GainRow = const W16 (*)[2];
GainRow rowsOf(const std::array<std::array<Tab16, 2>, 8>& t, int first) { return reinterpret_cast<GainRow>(t[first].data()); }
GainRow rowsOf(const std::array<std::array<Tab16, 2>, 16>& t, int first) { return reinterpret_cast<GainRow>(t[first].data()); }
constexpr W32 kThreshErr = 983040000;
}  // namespace

W16 g729ab_Gain_predict(const W16* past_qua_en, const W16* code, W16* gcode0) {
    // The saturating sum of squares only grows: the energy kernel's capped exact sum.
    W32 L = g729ab_Vec_L_sqa_40(code, 0);
    W16 exp, frac;
    g729ab_Log2(L, &exp, &frac);
    const auto& c = g729ab_Gain_predict_Consts;
    L = L_mac(L_mult(exp, c[0]), mult(frac, c[0]), 1);
    L = L_add(L, W32{c[1]} * 65536 + static_cast<std::uint16_t>(c[2]));  // 2085632 = 2·32588·32 (127.298 in Q14)
    L = L_shl(L, 10);
    for (int i = 0; i < 4; ++i) L = L_mac(L, g729ab_pred[i], past_qua_en[i]);
    W16 g = extract_h(L);
    L = L_shr(L_mult(g, c[3]), 8);
    W16 e = dp_hi(L), f = dp_lo(L);
    *gcode0 = extract_l(g729ab_Pow2(14, f));
    return static_cast<W16>(14 - e);
}

void g729ab_Gain_update(W16* past_qua_en, W32 L_gbk12) {
    for (int i = 3; i > 0; --i) past_qua_en[i] = past_qua_en[i - 1];
    W16 exp, frac;
    g729ab_Log2(L_gbk12, &exp, &frac);
    W32 L = W32{static_cast<W16>(exp - 13)} * 65536 + 2 * W32{frac};
    W16 tmp = extract_h(L_shl(L, 13));
    past_qua_en[0] = mult(tmp, 24660);
}

void g729ab_Gain_update_erasure(W16* past_qua_en) {
    W32 L = 0;
    for (int i = 0; i < 4; ++i) L = L_add(L, past_qua_en[i]);
    W16 av = extract_l(L >> 2);
    av = sub(av, 4096);
    if (av < -14336) av = -14336;
    for (int i = 3; i > 0; --i) past_qua_en[i] = past_qua_en[i - 1];
    past_qua_en[0] = av;
}

void g729ab_Gbk_presel(const W16* best_gain, W16* cand1, W16* cand2, W16 gcode0) {
    W32 L_cfbg = L_mult(g729ab_coef[0], best_gain[0]);
    W32 L_acc = L_add(L_cfbg, g729ab_L_coef[1]);
    W16 acc_h = extract_h(L_acc);
    W32 L_preg = L_mult(acc_h, gcode0);
    L_acc = L_shl(L_deposit_l(best_gain[1]), 7);
    L_acc = L_sub(L_acc, L_preg);
    acc_h = extract_h(L_shl(L_acc, 2));
    W32 x = L_mult(acc_h, -17103);

    L_acc = L_sub(L_cfbg, g729ab_L_coef[0]);
    acc_h = mult(extract_h(L_acc), gcode0);
    W32 L_tmp = L_mult(acc_h, g729ab_coef[1]);
    L_preg = L_mult(g729ab_coef[0], best_gain[1]);
    L_acc = L_sub(L_tmp, L_shr(L_preg, 3));
    acc_h = extract_h(L_shl(L_acc, 2));
    W32 y = L_mult(acc_h, -17103);

    *cand1 = 0;
    *cand2 = 0;
    if (gcode0 > 0) {
        while (*cand1 < 4 && L_sub(y, L_shr(L_mult(g729ab_thr1[*cand1], gcode0), 3)) > 0) ++*cand1;
        while (*cand2 < 8 && L_sub(x, L_shr(L_mult(g729ab_thr2[*cand2], gcode0), 5)) > 0) ++*cand2;
    } else {
        while (*cand1 < 4 && L_sub(y, L_shr(L_mult(g729ab_thr1[*cand1], gcode0), 3)) < 0) ++*cand1;
        while (*cand2 < 8 && L_sub(x, L_shr(L_mult(g729ab_thr2[*cand2], gcode0), 5)) < 0) ++*cand2;
    }
}

namespace {
// One optimum gain: (term1 - term2) / denominator with the exponent alignment of the standard.
W16 bestGain(W16 c1a, W16 c1b, W16 e1, W16 c2a, W16 c2b, W16 e2, W16 inv_denom, W16 exp_inv_denom, int qOut) {
    W32 L_tmp1 = L_mult(c1a, c1b);
    W32 L_tmp2 = L_mult(c2a, c2b);
    W32 L;
    W16 exp;
    if (e1 > e2) {
        L = L_sub(L_shr(L_tmp1, e1 - e2 + 1), L_shr(L_tmp2, 1));
        exp = static_cast<W16>(e2 - 1);
    } else {
        L = L_sub(L_shr(L_tmp1, 1), L_shr(L_tmp2, e2 - e1 + 1));
        exp = static_cast<W16>(e1 - 1);
    }
    W16 sft = norm_l(L);
    W16 nume = extract_h(L_shl(L, sft));
    W16 exp_nume = static_cast<W16>(exp + sft - 16);
    sft = static_cast<W16>(exp_nume + exp_inv_denom - (qOut + 16 - 1));
    return extract_h(L_shr(L_mult(nume, inv_denom), sft));
}

W32 distance(const W32* c, W16 gp, W16 gc) {
    std::int64_t S = std::int64_t{c[0]} * mult(gp, gp) + std::int64_t{c[1]} * gp + std::int64_t{c[2]} * mult(gc, gc) +
                     std::int64_t{c[3]} * gc + std::int64_t{c[4]} * mult(gc, gp);
    return static_cast<W32>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(S >> 15)));
}
}  // namespace

void g729ab_Qua_gainLoop1(const W32* coeff, W16 cand1, W16 cand2, W16 gcode0, W16* index1, W16* index2) {
    W32 dmin = kMax32;
    *index1 = cand1;
    *index2 = cand2;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j) {
            W16 gp = add(g729ab_gbk1[cand1 + i][0], g729ab_gbk2[cand2 + j][0]);
            if (gp >= 16383) continue;
            W16 tmp = static_cast<W16>((W32{g729ab_gbk1[cand1 + i][1]} + g729ab_gbk2[cand2 + j][1]) >> 1);
            W16 gc = mult(gcode0, tmp);
            W32 d = distance(coeff, gp, gc);
            if (d < dmin) {
                dmin = d;
                *index1 = static_cast<W16>(cand1 + i);
                *index2 = static_cast<W16>(cand2 + j);
            }
        }
}

void g729ab_Qua_gainLoop2(const W32* coeff, W16 cand1, W16 cand2, W16 gcode0, W16* index1, W16* index2) {
    // The candidate table and its search in one pass, each candidate's terms formed where they
    // are used (the same 16-bit values the table kernel stores, the same packed distance and
    // first-best rule as the search kernel).
    const GainRow g1 = rowsOf(g729ab_gbk1, cand1), g2 = rowsOf(g729ab_gbk2, cand2);
    W32 best = kMax32;
    for (int n = 0; n < 32; ++n) {
        const W32 gp = static_cast<W16>(g1[n >> 3][0] + g2[n & 7][0]);
        const W32 c = (W32{g1[n >> 3][1]} + g2[n & 7][1]) >> 1;
        const W32 gc = static_cast<W16>((W32{gcode0} * c) >> 15);
        const std::int64_t S = std::int64_t{coeff[0]} * static_cast<W16>((gp * gp) >> 15) + std::int64_t{coeff[1]} * gp +
                               std::int64_t{coeff[2]} * static_cast<W16>((gc * gc) >> 15) + std::int64_t{coeff[3]} * gc +
                               std::int64_t{coeff[4]} * static_cast<W16>((gc * gp) >> 15);
        const W32 D = static_cast<W32>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(S >> 15)));
        const W32 packed = (D & ~W32{31}) | n;
        if (n == 0 || packed < best) best = packed;
    }
    *index1 = static_cast<W16>(cand1 + ((best & 31) >> 3));
    *index2 = static_cast<W16>(cand2 + (best & 7));
}

W16 g729ab_Qua_gain(const W16* code, const W16* g_coeff, const W16* exp_coeff, W16* past_qua_en, W16* gain_pit, W16* gain_code,
                    int tameflag) {
    W16 gcode0;
    W16 exp_gcode0 = g729ab_Gain_predict(past_qua_en, code, &gcode0);

    // Denominator 4·c0·c2 - c4².
    W32 L_tmp1 = L_mult(g_coeff[0], g_coeff[2]);
    W16 exp1 = static_cast<W16>(exp_coeff[0] + exp_coeff[2] - 1);
    W32 L_tmp2 = L_mult(g_coeff[4], g_coeff[4]);
    W16 exp2 = static_cast<W16>(exp_coeff[4] + exp_coeff[4] + 1);
    W32 L;
    W16 exp;
    if (exp1 > exp2) {
        L = L_sub(L_shr(L_tmp1, exp1 - exp2), L_tmp2);
        exp = exp2;
    } else {
        L = L_sub(L_tmp1, L_shr(L_tmp2, exp2 - exp1));
        exp = exp1;
    }
    W16 sft = norm_l(L);
    W16 denom = extract_h(L_shl(L, sft));
    W16 exp_denom = static_cast<W16>(exp + sft - 16);
    W16 inv_denom = negate(g729ab_div_s(16384, denom));
    W16 exp_inv_denom = static_cast<W16>(14 + 15 - exp_denom);

    W16 best_gain[2];
    best_gain[0] = bestGain(g_coeff[2], g_coeff[1], static_cast<W16>(exp_coeff[2] + exp_coeff[1]), g_coeff[3], g_coeff[4],
                            static_cast<W16>(exp_coeff[3] + exp_coeff[4] + 1), inv_denom, exp_inv_denom, 9);
    if (tameflag == 1 && best_gain[0] > 481) best_gain[0] = 481;
    best_gain[1] = bestGain(g_coeff[0], g_coeff[3], static_cast<W16>(exp_coeff[0] + exp_coeff[3]), g_coeff[1], g_coeff[4],
                            static_cast<W16>(exp_coeff[1] + exp_coeff[4] + 1), inv_denom, exp_inv_denom, 2);

    W16 gcode0_org;
    if (exp_gcode0 >= 4)
        gcode0_org = shr(gcode0, exp_gcode0 - 4);
    else
        gcode0_org = extract_h(L_shl(L_deposit_l(gcode0), 20 - exp_gcode0));

    W16 cand1, cand2;
    g729ab_Gbk_presel(best_gain, &cand1, &cand2, gcode0_org);

    W16 exp_min[5];
    exp_min[0] = static_cast<W16>(exp_coeff[0] + 13);
    exp_min[1] = static_cast<W16>(exp_coeff[1] + 14);
    exp_min[2] = static_cast<W16>(exp_coeff[2] + 2 * exp_gcode0 - 21);
    exp_min[3] = static_cast<W16>(exp_coeff[3] + exp_gcode0 - 3);
    exp_min[4] = static_cast<W16>(exp_coeff[4] + exp_gcode0 - 4);
    W16 e_min = exp_min[0];
    for (int i = 1; i < 5; ++i)
        if (exp_min[i] < e_min) e_min = exp_min[i];
    W32 coeff[5];
    for (int i = 0; i < 5; ++i) coeff[i] = L_shr(L_deposit_h(g_coeff[i]), exp_min[i] - e_min);

    W16 index1, index2;
    if (tameflag == 1)
        g729ab_Qua_gainLoop1(coeff, cand1, cand2, gcode0, &index1, &index2);
    else
        g729ab_Qua_gainLoop2(coeff, cand1, cand2, gcode0, &index1, &index2);

    *gain_pit = add(g729ab_gbk1[index1][0], g729ab_gbk2[index2][0]);
    W32 L_gbk12 = W32{g729ab_gbk1[index1][1]} + g729ab_gbk2[index2][1];
    W16 tmp = extract_l(L_gbk12 >> 1);
    L = L_mult(tmp, gcode0);
    L = L_shl(L, 4 - exp_gcode0);
    *gain_code = extract_h(L);
    g729ab_Gain_update(past_qua_en, L_gbk12);
    return static_cast<W16>(g729ab_map1[index1] * 16 + g729ab_map2[index2]);
}

void g729ab_Dec_gain(W16 index, const W16* code, int bfi, W16* past_qua_en, W16* gain_pit, W16* gain_cod) {
    if (bfi != 0) {
        *gain_pit = mult(*gain_pit, 29491);
        if (*gain_pit > 29491) *gain_pit = 29491;
        *gain_cod = mult(*gain_cod, 32111);
        g729ab_Gain_update_erasure(past_qua_en);
        return;
    }
    int i1 = g729ab_imap1[(index >> 4) & 7];
    int i2 = g729ab_imap2[index & 15];
    *gain_pit = add(g729ab_gbk1[i1][0], g729ab_gbk2[i2][0]);
    W16 gcode0;
    W16 exp_gcode0 = g729ab_Gain_predict(past_qua_en, code, &gcode0);
    W32 L_gbk12 = W32{g729ab_gbk1[i1][1]} + g729ab_gbk2[i2][1];
    W16 tmp = extract_l(L_gbk12 >> 1);
    W32 L = L_shl(L_mult(tmp, gcode0), 4 - exp_gcode0);
    *gain_cod = extract_h(L);
    g729ab_Gain_update(past_qua_en, L_gbk12);
}

int g729ab_test_err(W16 T0, W16 T0_frac, const W32* L_exc_err) {
    int t1 = T0_frac > 0 ? T0 + 1 : T0;
    int i = t1 - 50;
    if (i < 0) i = 0;
    int zone1 = g729ab_tab_zone[i];
    int zone2 = g729ab_tab_zone[t1 + 8];
    W32 maxloc = -1;
    for (int k = zone2; k >= zone1; --k)
        if (L_exc_err[k] > maxloc) maxloc = L_exc_err[k];
    return maxloc > kThreshErr ? 1 : 0;
}

void g729ab_update_exc_err(W16 gain_pit, W16 T0, W32* L_exc_err) {
    W32 worst = -1;
    int n = T0 - 40;
    if (n < 0) {
        W32 t = L_add(0x4000, L_shl(Mpy_32_16(L_exc_err[0], gain_pit), 1));
        if (t > worst) worst = t;
        t = L_add(0x4000, L_shl(Mpy_32_16(t, gain_pit), 1));
        if (t > worst) worst = t;
    } else {
        int zone1 = g729ab_tab_zone[n];
        int zone2 = g729ab_tab_zone[T0 - 1];
        for (int k = zone1; k <= zone2; ++k) {
            W32 t = L_add(0x4000, L_shl(Mpy_32_16(L_exc_err[k], gain_pit), 1));
            if (t > worst) worst = t;
        }
    }
    for (int i = 3; i > 0; --i) L_exc_err[i] = L_exc_err[i - 1];
    L_exc_err[0] = worst;
}

}  // namespace g729

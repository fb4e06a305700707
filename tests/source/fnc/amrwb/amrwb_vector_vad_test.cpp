// Vector operations, the VAD filter bank arithmetic, and a sweep of random
// inputs through every kernel over exact-size arrays (the sanitizer builds
// report any access outside them).
#include <gtest/gtest.h>

#include <vector>

#include "amrwb_kernels.h"
#include "amrwb_tables.h"
#include "amrwb_test_util.h"

using namespace amr_wb_op;
using namespace amrwb_test;

TEST(AmrwbVector, ScalingShiftsAndCopies) {
    Word16 x[16];
    for (Word16& v : x) v = 20000;
    amr_wb_Scale_sig2(x, 16, 1);
    for (Word16 v : x) EXPECT_EQ(v, 32767);
    for (int i = 0; i < 16; ++i) x[i] = static_cast<Word16>(i % 2 ? -32768 : 32767);
    amr_wb_Scale_sig2(x, 16, -16);
    for (Word16 v : x) EXPECT_EQ(v, 0);
    Rng rng(50);
    Exact<Word16> a(64), b(64), o(64);
    rng.fill(a.get(), 64);
    rng.fill(b.get(), 64);
    for (Word16 e : {-3, -1, 0, 2, 15}) {
        std::vector<Word16> s(a.get(), a.get() + 64);
        amr_wb_Scale_sig2(s.data(), 64, e);
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(s[i], e >= 0 ? shl(a[i], e) : round16(L_shr(L_deposit_h(a[i]), static_cast<Word16>(-e))));
    }
    std::vector<Word16> small(a.get(), a.get() + 4);
    amr_wb_Scale_sig2(small.data(), 4, 3);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(small[i], a[i]);  // fewer than 8 stay as they are

    amr_wb_Scale_sig2out(a.get(), o.get());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(o[i], shr_r(a[i], 2));
    amr_wb_Vec_add_shr_r(o.get(), a.get(), b.get());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(o[i], shr_r(add(a[i], b[i]), 3));
    Word16 r[8] = {-1, 1, 3, -3, 32767, -32768, 100, -100};
    amr_wb_Vec_shr_r(r, 1, 8);
    const Word16 want[8] = {0, 1, 2, -1, 16384, -16384, 50, -50};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(r[i], want[i]);
    amr_wb_Vec_shr_r(r, 0, 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(r[i], want[i]);

    amr_wb_CopyNeg(a.get(), o.get());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(o[i], a[i] == -32768 ? -32768 : -a[i]);
    Exact<Word16> four(4);
    amr_wb_Copy_even_four(a.get(), four.get(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(four[i], a[i]);
    amr_wb_Set_zero_L_SUBFR(o.get());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(o[i], 0);

    std::vector<Word16> m(a.get(), a.get() + 64);
    amr_wb_Vec_mult_shift(m.data(), 64, 26214, 1);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(m[i], shl(mult(a[i], 26214), 1));
    std::vector<Word16> s(a.get(), a.get() + 64);
    amr_wb_Vec_add_even(s.data(), b.get(), 64);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(s[i], add(a[i], b[i]));
    amr_wb_Vec_shr1(a.get(), o.get(), 64);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(o[i], a[i] >> 1);
    Word16 neg[16] = {5, -32768};
    EXPECT_EQ(amr_wb_Vec_abs_max_gt(neg, 16, 0), 32767);
    EXPECT_EQ(amr_wb_Vec_abs_max_gt(neg, 16 - 16 + 0, 9), 9);
}

TEST(AmrwbVector, EnergiesInFourLanesAndTheNoiseGenerator) {
    Rng rng(51);
    Exact<Word16> x(256), y(256);
    rng.fill(x.get(), 256, 3000, 0);
    rng.fill(y.get(), 256, 3000, 0);
    EXPECT_EQ(amr_wb_Vec_L_sqa(x.get(), 256, 1), mac_chain(1, x.get(), x.get(), 256));
    EXPECT_EQ(amr_wb_Vec_L_mac8(x.get(), y.get(), 256, -5), mac_chain(-5, x.get(), y.get(), 256));
    // Lane 0 (entries 0, 4) clips upwards and lane 2 (entries 2, 6)
    // downwards: the lanes give sat(MAX + MIN) = -1 where the reference's one
    // chain comes back to 0.
    Word16 a[8] = {32767, 0, 32767, 0, 32767, 0, 32767, 0}, b[8] = {32767, 0, -32767, 0, 32767, 0, -32767, 0};
    EXPECT_EQ(amr_wb_Vec_L_mac8(a, b, 8, 0), -1);
    EXPECT_EQ(mac_chain(0, a, b, 8), 0);

    Word32 f1[12], f2[12];
    for (int i = 0; i < 12; ++i) {
        f1[i] = rng.word32();
        f2[i] = rng.word32();
    }
    std::vector<Word32> g1(f1, f1 + 12), g2(f2, f2 + 12);
    amr_wb_Vec_L_shl2_12(f1, f2);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(f1[i], L_shl(g1[i], 2));
        EXPECT_EQ(f2[i], L_shl(g2[i], 2));
    }

    Word16 seed = 0, out[256];
    amr_wb_Vec_Random(out, &seed, 256, 4);
    EXPECT_EQ(out[0], 13849 >> 4);
    Word16 s = 0;
    for (int i = 0; i < 256; ++i) {
        s = static_cast<Word16>(s * 31821 + 13849);
        EXPECT_EQ(out[i], s >> 4);
    }
    EXPECT_EQ(seed, s);
}

TEST(AmrwbVad, FilterBankLevelsAndAverages) {
    // A zero frame with zero memories: level 0 everywhere, sub_level stays 0.
    Word16 buf[256] = {}, a5[10] = {}, a3[6] = {}, levels[12] = {};
    amr_wb_filter_bank_stage1_2(buf, a5, 128);
    amr_wb_filter_bank_stage1_4(buf, a5 + 2, 64);
    amr_wb_filter_bank_stage1_4(buf + 1, a5 + 4, 64);
    amr_wb_filter_bank_stage1_8(buf, a5 + 6, 32);
    amr_wb_filter_bank_stage1_8(buf + 2, a5 + 8, 32);
    amr_wb_filter_bank_stage2(buf + 3, buf + 7, a3, 32, 8);
    for (int b = 0; b < 12; ++b) {
        const amr_wb_FbankParam& r = amr_wb_FbankParamTable[b];
        EXPECT_EQ(r.count1 * r.ind_m, 64);
        EXPECT_EQ(amr_wb_level_calculation(buf, &levels[b], r.count1, r.count2, r.ind_m, r.ind_a, r.scale), 0);
        EXPECT_EQ(levels[b], 0);
    }
    // Band 11 over a full-scale buffer saturates both results.
    Word16 full[256];
    for (Word16& v : full) v = 32767;
    Word16 sl = 0;
    const amr_wb_FbankParam& r = amr_wb_FbankParamTable[0];
    EXPECT_EQ(amr_wb_level_calculation(full, &sl, r.count1, r.count2, r.ind_m, r.ind_a, r.scale), 32767);
    EXPECT_EQ(sl, 32767);

    // Sections against their steps, with saturating 16-bit sums.
    Rng rng(52);
    Word16 x[64], m5[2] = {1000, -2000};
    rng.fill(x, 64);
    std::vector<Word16> e(x, x + 64);
    Word16 n0 = m5[0], n1 = m5[1];
    for (int i = 0; i < 32; ++i) {
        Word16 t0 = sub(e[2 * i], mult(21955, n0)), t1 = add(n0, mult(21955, t0));
        n0 = t0;
        Word16 u0 = sub(e[2 * i + 1], mult(6390, n1)), t2 = add(n1, mult(6390, u0));
        n1 = u0;
        e[2 * i] = static_cast<Word16>((t1 + t2) >> 1);
        e[2 * i + 1] = static_cast<Word16>((t1 - t2) >> 1);
    }
    amr_wb_filter_bank_stage1_2(x, m5, 32);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(x[i], e[i]);
    EXPECT_EQ(m5[0], n0);
    EXPECT_EQ(m5[1], n1);
    Word16 y[64], m3 = 300;
    rng.fill(y, 64);
    std::vector<Word16> f(y, y + 64);
    Word16 k = 300;
    for (int i = 0; i < 16; ++i) {
        Word16 t1 = sub(f[4 * i + 2], mult(13363, k)), t2 = add(k, mult(13363, t1));
        k = t1;
        f[4 * i + 2] = shr(sub(f[4 * i], t2), 1);
        f[4 * i] = shr(add(f[4 * i], t2), 1);
    }
    amr_wb_filter_bank_stage2(y, y + 2, &m3, 16, 4);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(y[i], f[i]);
    EXPECT_EQ(m3, k);

    Word16 ave[12], lev[12];
    rng.fill(ave, 12, 10000, 0);
    rng.fill(lev, 12, 10000, 0);
    amr_wb_update_cntrl_loop(ave, lev, 32767);
    for (int i = 0; i < 12; ++i) EXPECT_LE(std::abs(ave[i] - lev[i]), 1);
}

TEST(AmrwbSweep, RandomInputsThroughEveryKernelStayInsideTheirArrays) {
    Rng rng(53);
    auto v = [&](int n, int amp = 32767) {
        Exact<Word16> e(n);
        rng.fill(e.get(), n, amp);
        return e;
    };
    auto v32 = [&](int n) {
        Exact<Word32> e(n);
        for (int i = 0; i < n; ++i) e[i] = rng.word32();
        return e;
    };
    for (int trial = 0; trial < 30; ++trial) {
        auto h = v(64), x = v(64), hrev = v(67), y = v(64), big = v(400), pvec = v(67), buf = v(259);
        auto y32 = v32(64), r = v32(17), max = v32(4);
        amr_wb_cor_h_x_MainLoop(h.get(), x.get(), y32.get());
        amr_wb_cor_h_x_Loop1(y32.get(), max.get());
        amr_wb_cor_h_x_Loop2(y32.get(), y.get(), static_cast<Word16>(rng.uniform(-31, 31)));
        amr_wb_ConvolveFwdH(x.get(), hrev.get(), y.get());
        auto w384 = v(384), w384b = v(384);
        amr_wb_AutorCorr_window(w384.get(), w384b.get());
        amr_wb_Autocorr_energy(w384b.get());
        amr_wb_ACF_Loop(w384b.get(), r.get(), static_cast<Word16>(rng.uniform(0, 31)));
        amr_wb_agc2_loop1(x.get());
        amr_wb_agc2_loop(x.get(), rng.word());
        auto f = v32(9);
        amr_wb_Chebps2(rng.word(), f.get(), 8);
        // Serial words of any value.
        auto ser = v(16);
        const Word16* cur = ser.get();
        amr_wb_Serial_parm(16, &cur);
        Word16* wcur = ser.get();
        amr_wb_Parm_serial(rng.word(), 16, &wcur);

        auto pre = v(269);
        amr_wb_Fixed_Preemph1(pre.get() + 1);
        Word16 mem = rng.word();
        amr_wb_Fixed_Preemph2(pre.get() + 1, static_cast<Word16>(rng.uniform(0, 8)), &mem);
        auto sig = v(320 + 28), d256 = v(256), up = v(87), u80 = v(80);
        amr_wb_Down_samp(sig.get() + 14, d256.get(), 256);
        amr_wb_Up_samp(up.get() + 11, u80.get());
        amr_wb_Deemph2(x.get(), 64, &mem);
        amr_wb_Deemph_32(x.get(), h.get(), y.get(), &mem);
        auto m6 = v(6), m4 = v(4), m9 = v(9), m30 = v(30), m30b = v(30);
        amr_wb_HP400_12k8_loop2(m6.get(), nullptr, y.get(), y32.get());
        amr_wb_Excitation_LP(x.get(), y.get(), rng.word());
        auto i16a = v(16), i16b = v(16), i16o = v(16);
        amr_wb_CalcHfIsf(i16a.get(), i16b.get(), i16o.get(), rng.word());
        auto e256 = v(256);
        amr_wb_dtx_Exc_loop(e256.get(), rng.word(), static_cast<Word16>(rng.uniform(-20, 20)));
        amr_wb_div_s(rng.word(), rng.word());

        auto dn = v(64), dn2 = v(64), sign = v(64), vec = v(64), rrixix = v(64), rrixiy = v(1024), pos = v(4), cor = v(16),
             cor2 = v(16);
        amr_wb_ACELP_set_sign_loop1(x.get(), h.get(), rng.word(), rng.word(), dn2.get());
        amr_wb_ACELP_set_sign_loop2(sign.get(), vec.get(), dn.get(), dn2.get());
        amr_wb_Reorder(dn2.get(), y.get());
        amr_wb_ACELP_4t64_nb_max(y.get(), pos.get());
        amr_wb_ACELP_4t64_storage_orders(h.get(), rrixix.get(), rrixiy.get());
        amr_wb_ACELP_4t64_mod_rrixiy_signs(rrixiy.get(), sign.get(), vec.get());
        Word16 tr = static_cast<Word16>(rng.uniform(0, 3));
        amr_wb_ACELP_4t64_cor_h_vec(h.get(), pvec.get(), tr, sign.get(), rrixix.get(), cor.get());
        amr_wb_ACELP_4t64_cor_h_vec(h.get(), pvec.get(), static_cast<Word16>((tr + 1) % 4), sign.get(), rrixix.get(),
                                    cor2.get());
        Word16 alp = rng.word();
        amr_wb_ACELP_4t64_search_ixiy(static_cast<Word16>(rng.uniform(1, 8)), tr, static_cast<Word16>((tr + 1) % 4), &alp,
                                      rng.word(), dn.get(), y.get(), cor.get(), cor2.get(), rrixiy.get());
        amr_wb_ACELP_4t64_deep_final_sum(x.get(), h.get(), y.get(), x.get());
        amr_wb_ACELP_2t64_1st_storage_order(h.get(), rrixix.get());
        amr_wb_ACELP_2t64_2nd_storage_order(h.get(), rrixiy.get());
        amr_wb_ACELP_2t64_mod_rrixiy_signs(rrixiy.get(), sign.get(), vec.get());
        amr_wb_ACELP_2t64_search_ixiy(rrixix.get(), rrixix.get() + 32, rrixiy.get(), dn.get());

        auto R = v32(17);
        auto A = v(17), rc = v(16), lmem = v(18);
        R[0] = rng.uniform(1 << 30, 0x7FFFFFFF);
        amr_wb_Lag_window(R.get());
        amr_wb_Levinson(lmem.get(), R.get(), A.get(), rc.get());
        Word32 fr = rng.word32();
        Word16 ex = rng.word();
        amr_wb_Isqrt_n(&fr, &ex);
        auto isf20 = v(20), isp20 = v(20), a21 = v(21), ap21 = v(21), d8 = v(8), e8 = v(8);
        amr_wb_Isf_isp(isf20.get(), isp20.get(), 20);  // any value, valid or not
        amr_wb_Calc_IsfCorr(d8.get(), e8.get(), rng.word());
        auto pol = v32(11);
        auto f1 = v32(8), f2 = v32(8);
        amr_wb_Get_isp_pol(isp20.get(), pol.get(), 10, amr_wb_isp_az_pol_16KHz_tbl);
        amr_wb_Int_isp_InnerLoop(i16a.get(), i16b.get(), i16o.get(), rng.word(), rng.word());
        amr_wb_Isp_Az_PrepF1F2_Loop1(f1.get(), f2.get(), rng.word());
        amr_wb_Weight_a_M(a21.get(), ap21.get(), amr_wb_Weight_a_GAMMA1_M);
        amr_wb_Weight_a_M16k(a21.get(), ap21.get(), amr_wb_Weight_a_29491_M16K);

        auto x9 = v(9), surv = v(4), o7 = v(7), past = v(16);
        auto scratch = v32(256);
        amr_wb_Qpisf_2s_CalcIsf(i16o.get(), i16a.get(), past.get());
        amr_wb_Dpisf_2s_CalcIsfQ(i16o.get(), past.get());
        amr_wb_VQ_stage1_dim9(x9.get(), scratch.get(), surv.get());
        amr_wb_VQ_stage1_dim7(x9.get(), scratch.get(), surv.get());
        Word32 dd;
        amr_wb_Sub_VQ7_2(x9.get(), amr_wb_dico23_isf_36b_reordered, 64, &dd);
        amr_wb_VQ_stage1_DeQ(static_cast<Word16>(rng.uniform(0, 63)), 7, amr_wb_dico23_isf_36b_reordered, o7.get());

        auto in66 = v(66), in67 = v(67), o64 = v(64), s80 = v(80), o80 = v(80), dec = v(128);
        amr_wb_12k8_loop1(in66.get(), amr_wb_hp50_ab + 4, y32.get(), 64);
        amr_wb_HP50_12k8_loop2(m4.get(), y32.get(), o64.get(), 64);
        amr_wb_Hp_wsp_loop1(in67.get(), amr_wb_hp_wsp_ab + 8, y32.get(), 64);
        amr_wb_Hp_wsp_loop2(m9.get(), m9.get() + 3, amr_wb_hp_wsp_ab, y32.get(), o64.get(), 64);
        amr_wb_Filt_6k_7k(s80.get(), m30.get());
        amr_wb_Filt_7k(s80.get(), o80.get(), m30b.get());
        amr_wb_LP_Decim2_Loop(dec.get(), buf.get());
        amr_wb_Preemph(x.get(), rng.word(), &mem);
        auto x32 = v(32);
        amr_wb_Preemph2(x32.get(), &mem);
        auto res = v(80), syn = v(80), syn20 = v(100), hi = v(80), lo = v(80);
        amr_wb_Residu(A.get(), res.get() + 16, o64.get(), 64);
        amr_wb_Syn_filt_M_inplace(A.get(), syn.get() + 16, syn.get() + 16, 64);
        amr_wb_Syn_filt_M16k_inplace(a21.get(), syn20.get() + 20, syn20.get() + 20);
        amr_wb_Syn_filt_32(A.get(), x.get(), static_cast<Word16>(rng.uniform(0, 8)), hi.get() + 16, lo.get() + 16);
        amr_wb_Imp_Resp(A.get(), x.get(), o64.get());
        amr_wb_Updt_tar(x.get(), o64.get(), y.get(), rng.word());

        auto wsp = v(115 + 256), excf = v(64), cn = v(17), exc = v(300);
        auto corr = v32(104);
        amr_wb_comp_corr_loop(wsp.get() + 115, wsp.get(), 104, corr.get(), 256);
        amr_wb_Pitch_med_ol_loop1(corr.get(), amr_wb_corrweight + 198, amr_wb_corrweight + 213 - 115);
        amr_wb_Pitch_med_ol_loop2(corr.get(), amr_wb_corrweight + 198);
        amr_wb_Norm_Corr_Loop(x.get(), excf.get(), cn.get(), h.get(), exc.get() + 299 - 0,
                              static_cast<Word16>(rng.uniform(-40, 40)), 34, 50);
        auto c9 = v(9);
        amr_wb_Interpol_4(c9.get() + 4, static_cast<Word16>(rng.uniform(-3, 3)));
        amr_wb_Pred_lt4(exc.get() + 235, static_cast<Word16>(rng.uniform(34, 200)), static_cast<Word16>(rng.uniform(-3, 3)));
        amr_wb_Q_gain2_CBS(amr_wb_t_qua_gain7b_g_code, amr_wb_t_qua_gain7b_g_pitch, i16a.get(), i16b.get(), rng.word(), 128);
        amr_wb_TotalExcitation_LP(x.get(), y.get(), rng.word(), rng.word());
        amr_wb_Pitch_Excitation_LP(in66.get(), o64.get(), 1);
        amr_wb_PitchEnhance_LP(x.get(), o64.get(), rng.word());
        auto code2 = v(128);
        for (int i = 0; i < 128; ++i) code2[i] = 0;
        amr_wb_ph_loop(x.get(), code2.get(), amr_wb_ph_imp_low);
        amr_wb_Vec_Modify_Excitation(h.get(), x.get(), rng.word(), rng.word());

        auto seed = v(1);
        amr_wb_Vec_Random(e256.get(), seed.get(), 256, 4);
        amr_wb_Vec_L_sqa(e256.get(), 256, rng.word32());
        amr_wb_Vec_L_mac8(e256.get(), d256.get(), 256, rng.word32());
        amr_wb_Vec_abs_max_gt(e256.get(), 256, 0);
        amr_wb_Vec_shr_r(e256.get(), static_cast<Word16>(rng.uniform(0, 15)), 256);
        amr_wb_Scale_sig2(e256.get(), 256, static_cast<Word16>(rng.uniform(-20, 20)));
        amr_wb_Copy_even_four(e256.get(), d256.get(), 256);
        amr_wb_CopyM(i16a.get(), i16b.get());
        amr_wb_CopyL_SUBFR(x.get(), y.get());
        Word16 area[64];
        amr_wb_FrameSave_NEON(area);
        amr_wb_FrameRestore_NEON(area);

        auto vbuf = v(256), a5 = v(10), a3 = v(6), sl = v(12), ave = v(12), lvl = v(12);
        amr_wb_Vec_shr1(e256.get(), vbuf.get(), 256);
        amr_wb_filter_bank_stage1_2(vbuf.get(), a5.get(), 128);
        amr_wb_filter_bank_stage1_4(vbuf.get(), a5.get() + 2, 64);
        amr_wb_filter_bank_stage1_4(vbuf.get() + 1, a5.get() + 4, 64);
        amr_wb_filter_bank_stage1_8(vbuf.get(), a5.get() + 6, 32);
        amr_wb_filter_bank_stage1_8(vbuf.get() + 2, a5.get() + 8, 32);
        amr_wb_filter_bank_stage2(vbuf.get() + 3, vbuf.get() + 7, a3.get(), 32, 8);
        amr_wb_filter_bank_stage2(vbuf.get(), vbuf.get() + 8, a3.get() + 1, 16, 16);
        amr_wb_filter_bank_stage2(vbuf.get() + 8, vbuf.get() + 24, a3.get() + 5, 8, 32);
        for (int b = 0; b < 12; ++b) {
            const amr_wb_FbankParam& p = amr_wb_FbankParamTable[b];
            lvl[b] = amr_wb_level_calculation(vbuf.get(), sl.get() + b, p.count1, p.count2, p.ind_m, p.ind_a, p.scale);
        }
        amr_wb_update_cntrl_loop(ave.get(), lvl.get(), rng.word());
    }
    SUCCEED();
}

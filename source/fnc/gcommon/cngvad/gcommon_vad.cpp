// Voice activity detector and the SID quantisers (noise LSFs by a two-stage M-best search,
// noise energy). The detector is the live codec's, run on the set's encoder record.
#include <cstring>
#include <utility>

#include "g729_internal.h"
#include "gcommon_internal.h"

namespace gcommon {

namespace {
template <typename A, typename B>
void copyField(A& dst, const B& src) {
    static_assert(sizeof(A) == sizeof(B));
    std::memcpy(&dst, &src, sizeof(A));
}

// The detector's memory moves between the set's record and the live codec's in one place.
template <typename From, typename To>
void moveVadFields(const From& f, To& t) {
    copyField(t.MeanLSF, f.MeanLSF);
    copyField(t.Min_buffer, f.Min_buffer);
    t.Prev_Min = f.Prev_Min;
    t.Next_Min = f.Next_Min;
    t.Min = f.Min;
    t.MeanE = f.MeanE;
    t.MeanSE = f.MeanSE;
    t.MeanSLE = f.MeanSLE;
    t.MeanSZC = f.MeanSZC;
    t.count_sil = f.count_sil;
    t.count_update = f.count_update;
    t.count_ext = f.count_ext;
    t.flag = f.flag;
    t.v_flag = f.v_flag;
    t.less_count = f.less_count;
}
}  // namespace

void g729bVad(G729ABENCSTATE* encloclp, SINT16 rc, const SINT16* lsf, const SINT32* r, int exp_R0, const SINT16* sigpp,
              SINT16 frm_count, int* marker) {
    G729ABENC& st = encloclp->stateVar;
    G729NUNIENC live{};
    moveVadFields(st, live);
    live.Vadprev_energy = st.prev_energyv;
    // The live detector counts the frame itself. A count below 1 is taken as the first frame, so
    // that the minimum buffer is never addressed in front of its first entry.
    const SINT16 frame = frm_count < 1 ? SINT16{1} : frm_count;
    live.frm_count = static_cast<SINT16>(frame - 1);
    SINT16 decision = 0;
    g729::g729ab_vad(rc, lsf, r, static_cast<SINT16>(exp_R0), sigpp, st.pastVad, st.ppastVad, &decision, &live);
    moveVadFields(live, st);
    st.prev_energyv = live.Vadprev_energy;
    *marker = decision;
}

void g729bQua_Sidgain(const SINT16* ener, const SINT16* sh_ener, SINT16 nb_ener, SINT16* enerq, SINT16* idx) {
    *idx = g729::g729ab_Qua_Sidgain(ener, sh_ener, nb_ener, enerq);
}

namespace {

// The first smallest of the J x MQ distances, in the order of the rows; it is set to the largest
// value so that the next search passes it over.
template <std::size_t Cols>
std::pair<int, int> takeSmallest(SINT16 (&dist)[10][Cols], int J, int MQ) {
    SINT16 min = 32767;
    int bp = 0, bm = 0;
    for (int p = 0; p < J; ++p)
        for (int m = 0; m < MQ; ++m)
            if (dist[p][m] < min) {
                min = dist[p][m];
                bp = p;
                bm = m;
            }
    dist[bp][bm] = 32767;
    return {bp, bm};
}

}  // namespace

void g729bNew_ML_search_1(const SINT16 (*d_data)[10], SINT16 J, SINT16 (*new_d_data)[10], SINT16 K, SINT16* best_indx,
                          SINT16* ptr_back, const SINT16* PtrTab, SINT16 MQ) {
    SINT16 dist[10][32];
    for (int p = 0; p < J; ++p)
        for (int m = 0; m < MQ; ++m) {
            SINT32 acc = 0;
            for (int l = 0; l < 10; ++l) {
                const SINT16 t = sub(d_data[p][l], g729Lspcb1Tab[PtrTab[m]][l]);
                acc = L_mac(acc, t, t);
            }
            dist[p][m] = static_cast<SINT16>((SINT32{extract_h(acc)} * g729bMpTab[p]) >> 15);
        }
    for (int q = 0; q < K; ++q) {
        const auto [bp, bm] = takeSmallest(dist, J, MQ);
        for (int l = 0; l < 10; ++l) new_d_data[q][l] = sub(d_data[bp][l], g729Lspcb1Tab[PtrTab[bm]][l]);
        ptr_back[q] = static_cast<SINT16>(bp);
        best_indx[q] = static_cast<SINT16>(bm);
    }
}

void g729bNew_ML_search_2(const SINT16 (*d_data)[10], const SINT16* weight, SINT16 J, SINT16 (*new_d_data)[10], SINT16 K,
                          SINT16* best_indx, const SINT16* ptr_prd, SINT16* ptr_back, const SINT16 (*PtrTab)[16], SINT16 MQ) {
    auto cb = [&](int m, int l) {
        return l < 5 ? g729Lspcb2_1Tab[PtrTab[0][m]][l] : g729Lspcb2_2Tab[PtrTab[1][m]][l - 5];
    };
    SINT16 dist[10][16];
    for (int p = 0; p < J; ++p) {
        const auto& g = g729bNoiseFgSumTab[ptr_prd[p] & 1];
        for (int m = 0; m < MQ; ++m) {
            SINT32 acc = 0;
            for (int l = 0; l < 10; ++l) {
                SINT16 t1 = extract_h(L_shl(L_mult(g[l], g[l]), 2));
                t1 = static_cast<SINT16>((SINT32{t1} * weight[l]) >> 15);
                const SINT16 t2 = sub(d_data[p][l], cb(m, l));
                t1 = extract_h(L_shl(L_mult(t1, t2), 3));
                acc = L_mac(acc, t1, t2);
            }
            dist[p][m] = extract_h(acc);
        }
    }
    for (int q = 0; q < K; ++q) {
        const auto [bp, bm] = takeSmallest(dist, J, MQ);
        for (int l = 0; l < 10; ++l) new_d_data[q][l] = sub(d_data[bp][l], cb(bm, l));
        ptr_back[q] = static_cast<SINT16>(bp);
        best_indx[q] = static_cast<SINT16>(bm);
    }
}

void g729bQnt_e(const SINT16 (*errlsf)[10], const SINT16* weight, SINT16 DIn, SINT16* qlsf, SINT16* Pptr, SINT16 DOut,
                SINT16* cluster, const SINT16* MS) {
    SINT16 stage1[4][10], stage2[4][10], best1[4], back1[4], best2[4], back2[4];
    g729bNew_ML_search_1(errlsf, DIn, stage1, 4, best1, back1, g729bPtr1Tab.data(), MS[0]);
    g729bNew_ML_search_2(stage1, weight, 4, stage2, DOut, best2, back1, back2, reinterpret_cast<const SINT16 (*)[16]>(g729bPtr2Tab.data()),
                         MS[1]);
    cluster[1] = best2[0];
    const int p = back2[0];
    cluster[0] = best1[p];
    *Pptr = back1[p];
    for (int l = 0; l < 5; ++l) qlsf[l] = add(g729Lspcb1Tab[g729bPtr1Tab[cluster[0]]][l], g729Lspcb2_1Tab[g729bPtr2Tab[0][cluster[1]]][l]);
    for (int l = 5; l < 10; ++l)
        qlsf[l] = add(g729Lspcb1Tab[g729bPtr1Tab[cluster[0]]][l], g729Lspcb2_2Tab[g729bPtr2Tab[1][cluster[1]]][l - 5]);
}

void g729bLsfq_noise(const SINT16* lsp, SINT16* lspq, Rows10 freq_prev, SINT16* ana) {
    SINT16 lsf[10];
    g729Lsp_lsf2(lsp, lsf, 10);
    if (lsf[0] < 40) lsf[0] = 40;
    for (int i = 0; i < 9; ++i)
        if (sub(lsf[i + 1], lsf[i]) < 642) lsf[i + 1] = add(lsf[i], 642);
    if (lsf[9] > 25681) lsf[9] = 25681;
    if (lsf[8] > lsf[9]) lsf[8] = static_cast<SINT16>(lsf[9] - 321);
    SINT16 weight[10];
    g729Get_wegt(lsf, weight);
    SINT16 errlsf[2][10];
    for (int k = 0; k < 2; ++k)
        g729Lsp_prev_extract(lsf, errlsf[k], reinterpret_cast<CRows10>(g729bNoiseFgTab[k][0].data()), freq_prev,
                             g729bNoiseFgSumInvTab[k].data());
    SINT16 tmp[10], mode, cluster[2];
    const SINT16 MS[2] = {32, 16};
    g729bQnt_e(errlsf, weight, 2, tmp, &mode, 1, cluster, MS);
    ana[0] = mode;
    ana[1] = cluster[0];
    ana[2] = cluster[1];
    g729aLsp_expand(tmp, 10, 10);
    SINT16 lsfq[10];
    g729Lsp_prev_compose(tmp, lsfq, reinterpret_cast<CRows10>(g729bNoiseFgTab[mode][0].data()), freq_prev, g729bNoiseFgSumTab[mode].data());
    g729Lsp_prev_update(tmp, freq_prev);
    g729Lsp_stability(lsfq);
    g729Lsf_lsp2(lsfq, lspq, 10);
}

}  // namespace gcommon

// ISF quantisers of the encoder: two-stage split VQ with MA prediction for
// speech frames (46 and 36 bits) and the memoryless comfort-noise quantiser.
#include "amrwb_basic_op.h"
#include "amrwb_dtx_enc.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr int M = 16;

void sub_codevector(const Word16* x, const Word16* book, int dim, Word16 index, Word16* out) {
    Word16 c[9];
    amr_wb_VQ_stage1_DeQ(index, static_cast<Word16>(dim), book, c);
    for (int j = 0; j < dim; ++j) out[j] = sub(x[j], c[j]);
}

// Stage 1 on 9 (or 7) residual ISFs with four survivors, then the split
// searches of stage 2 for each; the survivor of least total distance wins.
struct Split {
    int offset, dim, size;
    const Word16* book;
    Word16 (*search)(const Word16*, const Word16*, Word16, Word32*);
};

void two_stages(const Word16* x, int dim, bool first_half, const Split* splits, int n_splits, Word16* stage1_index,
                Word16* stage2_index) {
    Word32 scratch[256];
    Word16 surv[4];
    if (first_half)
        amr_wb_VQ_stage1_dim9(x, scratch, surv);
    else
        amr_wb_VQ_stage1_dim7(x, scratch, surv);
    const Word16* book1 = first_half ? amr_wb_dico1_isf_reordered : amr_wb_dico2_isf_reordered;
    Word32 best = MAX_32;
    for (int k = 0; k < 4; ++k) {
        Word16 r[9];
        sub_codevector(x, book1, dim, surv[k], r);
        Word32 total = 0;
        Word16 idx[3];
        for (int s = 0; s < n_splits; ++s) {
            Word32 d;
            idx[s] = splits[s].search(r + splits[s].offset, splits[s].book, static_cast<Word16>(splits[s].size), &d);
            total = L_add(total, d);
        }
        if (total < best) {
            best = total;
            *stage1_index = surv[k];
            for (int s = 0; s < n_splits; ++s) stage2_index[s] = idx[s];
        }
    }
}
}  // namespace

void amr_wb_Qpisf_2s_46b(const Word16* isf1, Word16* isf_q, Word16* past_isfq, Word16* indice) {
    Word16 isf[M];
    amr_wb_Qpisf_2s_CalcIsf(isf, isf1, past_isfq);
    const Split lo[3] = {{0, 3, 64, amr_wb_dico21_isf_reordered, amr_wb_Sub_VQ3_2},
                         {3, 3, 128, amr_wb_dico22_isf_reordered, amr_wb_Sub_VQ3_2},
                         {6, 3, 128, amr_wb_dico23_isf_reordered, amr_wb_Sub_VQ3_2}};
    const Split hi[2] = {{0, 3, 32, amr_wb_dico24_isf_reordered, amr_wb_Sub_VQ3_2},
                         {3, 4, 32, amr_wb_dico25_isf_reordered, amr_wb_Sub_VQ4_2}};
    two_stages(isf, 9, true, lo, 3, &indice[0], indice + 2);
    two_stages(isf + 9, 7, false, hi, 2, &indice[1], indice + 5);
    amr_wb_Dpisf_2s_46b(indice, isf_q, past_isfq, isf_q, isf_q, 0, 0);
}

void amr_wb_Qpisf_2s_36B(const Word16* isf1, Word16* isf_q, Word16* past_isfq, Word16* indice) {
    Word16 isf[M];
    amr_wb_Qpisf_2s_CalcIsf(isf, isf1, past_isfq);
    const Split lo[2] = {{0, 5, 128, amr_wb_dico21_isf_36b_reordered, amr_wb_Sub_VQ5_2},
                         {5, 4, 128, amr_wb_dico22_isf_36b_reordered, amr_wb_Sub_VQ4_2}};
    const Split hi[1] = {{0, 7, 64, amr_wb_dico23_isf_36b_reordered, amr_wb_Sub_VQ7_2}};
    two_stages(isf, 9, true, lo, 2, &indice[0], indice + 2);
    two_stages(isf + 9, 7, false, hi, 1, &indice[1], indice + 4);
    amr_wb_Dpisf_2s_36b(indice, isf_q, past_isfq, isf_q, isf_q, 0, 0);
}

void amr_wb_Qisf_ns(const Word16* isf1, Word16* isf_q, Word16* indice) {
    Word16 isf[M];
    for (int i = 0; i < M; ++i) isf[i] = sub(isf1[i], amr_wb_mean_isf_noise[i]);
    Word32 d;
    indice[0] = amr_wb_Sub_VQ2_2(isf, amr_wb_dico1_isf_noise_reordered, 64, &d);
    indice[1] = amr_wb_Sub_VQ3_2(isf + 2, amr_wb_dico2_isf_noise_reordered, 64, &d);
    indice[2] = amr_wb_Sub_VQ3_2(isf + 5, amr_wb_dico3_isf_noise_reordered, 64, &d);
    indice[3] = amr_wb_Sub_VQ4_2(isf + 8, amr_wb_dico4_isf_noise_reordered, 32, &d);
    indice[4] = amr_wb_Sub_VQ4_2(isf + 12, amr_wb_dico5_isf_noise_reordered, 32, &d);
    amr_wb_Disf_ns(indice, isf_q);
}

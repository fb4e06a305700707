// LPC analysis, LSF quantisation and interpolation of the iLBC encoder, and the LSF decoding of
// the decoder; both sides share the LSF-to-LPC conversion and the stability correction.
#pragma once

#include "ilbc.h"
#include "ilbc_basic.h"

namespace ilbc {

void ilbc_LPCencode(i32* syntdenum_q27, i32* weightdenum_q27, i16* lsf_index, i32* LdataQ14, i16 norm_shift,
                    iLBC_Enc_Inst_t* iLBCenc_inst);
void ilbc_SimpleAnalysis(i32* lsf_q29, i32* LdataQ14, i16 norm_shift, iLBC_Enc_Inst_t* iLBCenc_inst);
i16 ilbc_autocorr(i32* rQm4, const i32* xQ14);
void ilbc_levdurb(i32* aQ27, const i32* rQm4, int order, int total_shift);
void ilbc_bwexpand2(i32* out, const i32* in, int length);
void ilbc_bwexpand3(i32* out, const i32* in, int length);
void ilbc_a2lsf(i32* freq_q29, const i32* aQ27, const i32* fallback_q29);
void ilbc_lsf2a(i32* a_coef_q27, i32* freq_q29);
i32 ilbc_cosine(i32 L_freq);
i16 ilbc_vq3(i16* Xq_q13, const i16* CB_q13, const i32* X_q29, int n_cb);
i16 ilbc_vq4(i16* Xq_q13, const i16* CB_q13, const i32* X_q29);
void ilbc_SplitVQ(i16* qX_q13, i16* index, const i32* X_q29);
int ilbc_LSFQ13_check(i16* lsf, int dim, int NoAn);
void ilbc_Conv_LPfiltCoeffs(const i32* syntdenum_q27, const i32* weightdenum_q27, i16* syntdenum_q12,
                            i16* weightdenum_q12, int nsub);

void ilbc_SimplelsfDEQ(i16* lsfdeq_q13, const i16* index, int lpc_n);
void ilbc_DecoderInterpolateLSF(i32* syntdenum_q27, i32* weightdenum_q27, const i16* lsfdeq_q13, int length,
                                iLBC_Dec_Inst_t* iLBCdec_inst);

}  // namespace ilbc

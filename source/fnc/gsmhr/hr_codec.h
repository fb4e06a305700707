// Internal routines of the GSM half-rate codec shared by the encoder and the decoder.
#pragma once

#include "gsmhr.h"
#include "hr_kernels.h"

namespace hr {

// ---- decoder routines, also used by the encoder ----
Word16 hr_lagDecode(Word16 swDeltaLag, Word16* swLastLag, int giSfrmCnt);
void hr_lookupVq(const Word16* pswVqCodeWds, Word16* pswRCOut);
void hr_getSfrmLpc(Word16 siSoftInterpolation, Word16 swPrevR0, Word16 swNewR0,
                   const Word16* pswPrevFrmKs, const Word16* pswPrevFrmAs,
                   const Word16* pswPrevFrmPFNum, const Word16* pswPrevFrmPFDenom,
                   const Word16* pswNewFrmKs, const Word16* pswNewFrmAs,
                   const Word16* pswNewFrmPFNum, const Word16* pswNewFrmPFDenom,
                   NormSw* psnsSqrtRs, Word16* const* ppswSynthAs, Word16* const* ppswPFNumAs,
                   Word16* const* ppswPFDenomAs);
Word16 hr_interpolateCheck(const Word16* pswRefKs, const Word16* pswRefCoefsA,
                           const Word16* pswOldCoefsA, const Word16* pswNewCoefsA,
                           Word16 swOldPer, Word16 swNewPer, Word16 swRq, NormSw* psnsSqrtRsOut,
                           Word16* pswCoefOutA);
void hr_res_eng(const Word16* pswReflecCoefIn, Word16 swRq, NormSw* psnsSqrtRsOut);
void hr_a_sst(const Word16* pswDirectFormCoefIn, Word16* pswDirectFormCoefOut);
void hr_aFlatRcDp(const Word32* pL_R, Word16* pswRc);
void hr_b_con(Word16 swCodeWord, int siNumBits, Word16* pswVectOut);
void hr_get_ipjj(Word16 swLagIn, Word16* pswIp, Word16* pswJj);
void hr_fp_ex(Word16 swOrigLagIn, Word16* pswLTPState);
void hr_fp_ex_copy(Word16 swOrigLagIn, Word16* pswLTPState, Word16* pswOut);
void hr_rs_rr(const Word16* pswExcitation, const NormSw* snsSqrtRs, NormSw* snsSqrtRsRr,
              Word16 shift);
Word16 hr_scaleExcite(Word16* pswVect, Word16 swErrTerm, const NormSw* snsRS,
                      Word16* pswScldVect);
void hr_pitchPreFilt(const Word16* pswExcite, Word16 swRxGsp0, Word16 swRxLag, Word16 swUvCode,
                     Word16 swSemiBeta, const NormSw* snsSqrtRs, Word16* pswExciteOut,
                     Word16* pswPPreState);
void hr_spectralPostFilter(const Word16* pswSPFIn, const Word16* pswNumCoef,
                           const Word16* pswDenomCoef, Word16* pswSPFOut, HR_DECODER* dec,
                           Word16 swEngyRShift);
Word16 hr_agcGain(const Word16* pswStateCurr, NormSw* snsInSigEnergy, Word16 swEngyRShft);
void hr_lpcFir(Word16* pswInput, const Word16* pswCoef, Word16* pswState, Word16* pswFiltOut);
void hr_lpcIir2(const Word16* pswInput, const Word16* pswCoef, Word16* pswState,
                Word16* pswFiltOut);
void hr_lpcZiIir(const Word16* pswCoef, const Word16* pswState, Word16* pswFiltOut);
void hr_update_gs_history_d(HR_DTX_DEC* dtx, Word16 swVoicingMode, const Word16* pswParameters);

// ---- encoder ----
void hr_resetEnc(HR_ENCODER* st, Word16 dtx);
struct HrEncoderProbe;
// probe: when given, receives what the encoder chose for this frame (tests).
void hr_speechEncoder(const Word16* pswSpeechIn, Word16* pswFrmCodes, HR_ENCODER* st,
                      HrEncoderProbe* probe = nullptr);
void hr_update_gs_history(HR_DTX_ENC* dtx, Word16 siUVCode, const Word16* pswGsp0Code);

// Decoder view for tests: the excitation and synthesis filters of the last frame, before the
// pitch prefilter and the postfilter.
struct HrDecoderProbe {
  Word16 excitation[160];
  Word16 synthAs[4][10];
};
void hr_resetDec(HR_DECODER* st);
void hr_speechDecoder(Word16* pswParameters, Word16* pswDecodedSpeechFrame, HR_DECODER* dec,
                      HrDecoderProbe* probe = nullptr);

// Encoder view for tests: the excitation and the synthesis filters the encoder chose for the
// last frame (what a decoder reconstructs before post-filtering).
struct HrEncoderProbe {
  Word16 excitation[160];
  Word16 synthAs[4][10];
  Word16 filtered[160];  // the high-passed input frame the encoder analysed
};

}  // namespace hr

// Encoder analysis routines of the GSM half-rate codec (frame and subframe level).
#pragma once

#include "hr_codec.h"

namespace hr {

// One selected vector-quantiser candidate.
struct QuantList2 {
  Word16 iNum;
  Word16 iRCIndex;
  Word16 pswPredErr;
};

// ---- frame LPC ----
void hr_filt4_2nd(Word16* pswIn, Word16* pswXYstate);
Word16 hr_r0Quant(Word32 L_UnqntzdR0);
Word32 hr_flat(const Word16* pswSpeechIn, Word16* pswRc, Word16* piR0Inx, Word32* pL_VadAcf,
               Word16* pswVadScalAuto);
Word16 hr_aflatRecursion(const Word16* rc, const Word16* pBar, const Word16* vBar, int len);
void hr_aflatRecursion2(QuantList* ql, const Word16* pBar, const Word16* vBar, int iSeg,
                        int iWordPtr);
void hr_findBestInQuantList4(QuantList* in, QuantList2* out);
void hr_findBestInQuantList1(const QuantList* in, QuantList2* out);
void hr_getNextVec(int iSeg, int iVector, Word16* pswRc);
void hr_lpcCorrQntz(const Word32* pL_CorrelSeq, Word16* pswFinalRc, Word16* piVQCodewds,
                    QuantList quantList);
void hr_aflat(const Word16* pswSpeechToLPC, Word16* piR0Index, Word16* pswFinalRc,
              Word16* piVQCodewds, Word16* pswVadFlag, Word16* pswSP, HR_ENCODER* st);
Word16 hr_compResidEnergy(HR_ENCODER* st, const Word16* speech, Word16 (*interp)[NP],
                          const Word16* newAs, const NormSw* rs);
Word16 hr_getSfrmLpcTx(HR_ENCODER* st, const Word16* speech, Word16 swNewR0,
                       const Word16* newKs, const Word16* newAs, const Word16* newSNW,
                       NormSw* rs, Word16 (*synthAs)[NP], Word16 (*snwAs)[NP]);
void hr_getNWCoefs(const Word16* pswACoefs, Word16* pswHCoefs);
void hr_weightSpeechFrame(HR_ENCODER* st, const Word16* speech, Word16 (*synthAs)[NP],
                          Word16 (*snwAs)[NP]);

// ---- open-loop lag search ----
Word16 hr_quantLag(Word16 swRawLag, Word16* pswCode);
Word32 hr_fnLog2(Word32 L_Input);
Word16 hr_fnExp2(Word32 L_Input);
Word16 hr_getCCThreshold(Word16 swRp0, Word16 swCC, Word16 swG);
Word16 hr_findPeak(Word16 swSingleResLag, const Word16* pswCIn, const Word16* pswGIn);
int hr_CGInterpValid(Word16 swFullResLag, const Word16* pswCIn, const Word16* pswGIn,
                     Word16* pswLOut, Word16* pswCOut, Word16* pswGOut);
int hr_maxCCOverGWithSign(const Word16* pswCIn, const Word16* pswGIn, Word16* pswCCMax,
                          Word16* pswGMax, int swNum);
void hr_openLoopLagSearch(Word16* pswWSpeech, Word16 swPrevR0Index, Word16 swCurrR0Index,
                          Word16* psiUVCode, Word16* pswLagList, Word16* pswNumLagList,
                          Word16* pswPitchBuf, Word16* pswHNWCoefBuf, NormSw* psnsWSfrmEng,
                          Word16* pswVadLags, Word16 swSP);

// ---- voice activity detector ----
void hr_step_up(const Word16* rc, Word16* a, Word32* L_coef, Word32* L_work, int np);
void hr_tone_detection(const Word16* pswRc, Word16* pswTone);
void hr_vad_reset(HR_FrVadState* st, Word16 mode);
Word16 hr_vad_computation(const Word32* L_acf, Word16 scal_acf, const Word16* rc,
                          HR_FrVadState* st);
void hr_periodicity_update(const Word16* lags, HR_FrVadState* st);

// ---- DTX and comfort noise ----
Word16 hr_swComfortNoise(Word16 swVadFlag, Word32 L_UnqntzdR0, const Word32* pL_UnqntzdCorr,
                         HR_DTX_ENC* dtx);
void hr_avgGsHistQntz(const Word32* pL_GsHistory, Word32* pL_GsAvgd);
Word16 hr_gsQuant(Word32 L_GsIn, Word16 swVoicingMode);
void hr_avgCNHist(const Word32* pL_R0History, const Word32 (*ppL_CorrHistory)[11],
                  Word32* pL_AvgdR0, Word32* pL_AvgdCorrSeq);
Word16 hr_getPnBits(int iBits, Word32* pL_PNSeed);
Word32 hr_linInterpSid(Word32 L_New, Word32 L_Old, Word16 swDtxState);
Word16 hr_linInterpSidShort(Word16 swNew, Word16 swOld, Word16 swDtxState);
void hr_rxInterpR0Lpc(Word16* pswNewKs, Word16 swFrameType, const Word16* pswOldFrmKsDec,
                      HR_DTX_DEC* dtx);

// ---- subframe analysis ----
int hr_v_srch(const Word16* pswWInput, const Word16* pswWBasisVecs, int siNumBasis);
int hr_v_srch_cbs(const Word16* pswCGUpdates, Word16 swC0, Word16 swG0, int siNumBasis,
                  const Word16* alp16);
void hr_decorr(int iNumVects, const Word16* pswGivenVect, Word16* pswVects);
Word16 hr_g_quant_vl(Word16 swUVCode, const Word16* pswWInput, Word16 swWIShift,
                     const Word16* pswWVSVec1, const Word16* pswWVSVec2, const NormSw* snsRs1,
                     const NormSw* snsRs2);
void hr_sfrmAnalysis(const Word16* pswWSpeech, Word16 swVoicingMode, const NormSw* snsSqrtRs,
                     const Word16* pswHCoefs, const Word16* pswLagList, int siNumLags,
                     Word16 swPitch, Word16 swHNWCoef, Word16* psiLagCode, Word16* psiVSCode1,
                     Word16* psiVSCode2, Word16* psiGsp0Code, Word16 swSP, HR_ENCODER* st,
                     int giSfrmCnt);

}  // namespace hr

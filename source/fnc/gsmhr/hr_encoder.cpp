// Encoder frame of the GSM half-rate codec: speech buffering, frame analysis, the four
// subframe searches, comfort-noise substitution, the SID codeword and the frame history.
#include <algorithm>

#include "hr_frame.h"
#include "hr_tables.h"

namespace hr {

void hr_update_gs_history(HR_DTX_ENC* dtx, Word16 siUVCode, const Word16* pswGsp0Code) {
  for (int i = 0; i < N_SUB; ++i) {
    dtx->pL_GsHist[dtx->swTxGsHistPtr] = hr_ppLr_gsTable[32 * (siUVCode & 3) + (pswGsp0Code[i] & 31)];
    dtx->swTxGsHistPtr++;
  }
  if (dtx->swTxGsHistPtr > 27) dtx->swTxGsHistPtr = 0;
}

void hr_fillBitAlloc(Word16 iVoicing, Word16 iR0, const Word16* piVq, Word16 iSoftInterp,
                     const Word16* piLags, const Word16* piCodeWrdsA, const Word16* piCodeWrdsB,
                     const Word16* piGsp0s, Word16 swVadFlag, Word16 swSP, Word16* out) {
  out[0] = iR0;
  out[1] = piVq[0];
  out[2] = piVq[1];
  out[3] = piVq[2];
  out[4] = iSoftInterp;
  out[5] = iVoicing;
  for (int k = 0; k < N_SUB; ++k) {
    if (iVoicing != 0) {
      out[6 + 3 * k] = piLags[k];
      out[7 + 3 * k] = piCodeWrdsA[k];
    } else {
      out[6 + 3 * k] = piCodeWrdsA[k];
      out[7 + 3 * k] = piCodeWrdsB[k];
    }
    out[8 + 3 * k] = piGsp0s[k];
  }
  out[18] = swVadFlag;
  out[19] = swSP;
}

void hr_speechEncoder(const Word16* pswSpeechIn, Word16* pswFrmCodes, HR_ENCODER* st,
                      HrEncoderProbe* probe) {
  Word16 neonLocal[64];
  hr_FrameSave_NEON(neonLocal);

  // The speech buffer: 35 samples of the previous frame, then the new frame (high-passed).
  Word16 buf[GSMHR_HIST + F_LEN];
  Word16* speech = buf;
  st->pswSpeech = speech;
  std::copy(st->pswSpeechMem, st->pswSpeechMem + GSMHR_HIST, speech);
  std::copy(pswSpeechIn, pswSpeechIn + F_LEN, speech + GSMHR_HIST);
  hr_filt4_2nd(speech + GSMHR_HIST, st->pswHPFXYState);

  Word16 iR0, vq[3], vad, sp;
  Word16 frmKs[NP], frmAs[NP], frmSNW[NP];
  hr_aflat(speech + 25, &iR0, frmKs, vq, &vad, &sp, st);
  Word16 swR0 = hr_psrR0DecTbl[2 * iR0];

  if (hr_rcToADp(2048, frmKs, frmAs) != 0) {
    std::copy(st->pswOldFrmKs, st->pswOldFrmKs + NP, frmKs);
    std::copy(st->pswOldFrmAs, st->pswOldFrmAs + NP, frmAs);
    std::copy(st->pswOldFrmSNWCoefs, st->pswOldFrmSNWCoefs + NP, frmSNW);
  } else {
    hr_getNWCoefs(frmAs, frmSNW);
  }

  NormSw sqrtRs[N_SUB];
  Word16 synthAs[N_SUB][NP], snwAs[N_SUB][NP];
  Word16 iSi = hr_getSfrmLpcTx(st, speech, swR0, frmKs, frmAs, frmSNW, sqrtRs, synthAs, snwAs);
  hr_weightSpeechFrame(st, speech, synthAs, snwAs);

  Word16 mode, lagList[12], numLag[N_SUB], pitchBuf[N_SUB], hnwCoef[N_SUB], vadLags[N_SUB];
  hr_openLoopLagSearch(st->pswWgtSpeechSpace + 145, st->swOldR0Index, iR0, &mode, lagList,
                       numLag, pitchBuf, hnwCoef, st->psnsWSfrmEngSpace, vadLags, sp);
  hr_periodicity_update(vadLags, &st->hr_vad);

  Word16 lagCode[N_SUB] = {}, vs1[N_SUB] = {}, vs2[N_SUB] = {}, gsp[N_SUB] = {};
  int lagPos = 0;
  for (int s = 0; s < N_SUB; ++s) {
    if (sp == 0) {
      vs1[s] = st->hr_dtx_e.pswCNVSCode1[s];
      vs2[s] = st->hr_dtx_e.pswCNVSCode2[s];
      gsp[s] = st->hr_dtx_e.pswCNGsp0Code[s];
    }
    hr_sfrmAnalysis(st->pswWgtSpeechSpace + 145 + 40 * s, mode, &sqrtRs[s], snwAs[s],
                    lagList + lagPos, numLag[s], pitchBuf[s], hnwCoef[s], &lagCode[s], &vs1[s],
                    &vs2[s], &gsp[s], sp, st, s);
    lagPos += numLag[s];
    if (probe != nullptr) {
      std::copy(st->pswLtpStateBase + 107, st->pswLtpStateBase + LTP_LEN, probe->excitation + 40 * s);
      std::copy(synthAs[s], synthAs[s] + NP, probe->synthAs[s]);
    }
  }
  if (probe != nullptr) std::copy(speech, speech + F_LEN, probe->filtered);

  if (sp == 0) {
    iR0 = st->hr_dtx_e.swCNR0;
    std::copy(st->hr_dtx_e.pswCNLpc, st->hr_dtx_e.pswCNLpc + 3, vq);
  } else {
    hr_update_gs_history(&st->hr_dtx_e, mode, gsp);
  }
  st->swOldR0Index = iR0;
  st->swOldR0 = swR0;
  std::copy(frmKs, frmKs + NP, st->pswOldFrmKs);
  std::copy(frmAs, frmAs + NP, st->pswOldFrmAs);
  std::copy(frmSNW, frmSNW + NP, st->pswOldFrmSNWCoefs);

  if (sp == 0) {
    for (int s = 0; s < N_SUB; ++s) vs1[s] = 0x01FF, gsp[s] = 0x001F;
    lagCode[0] = 0x00FF;
    lagCode[1] = lagCode[2] = lagCode[3] = 0x000F;
    mode = 3;
    iSi = 1;
  }
  hr_fillBitAlloc(mode, iR0, vq, iSi, lagCode, vs1, vs2, gsp, vad, sp, pswFrmCodes);

  std::copy(speech + F_LEN, speech + F_LEN + GSMHR_HIST, st->pswSpeechMem);
  st->pswSpeech = nullptr;
  hr_FrameRestore_NEON(neonLocal);
}

}  // namespace hr

// Decoder frame of the GSM half-rate codec: receive DTX mode machine, comfort-noise
// parameters, parameter concealment, LPC decoding and interpolation, and per subframe the
// excitation, pitch prefilter, signal concealment, synthesis and spectral postfilter.
#include <algorithm>
#include <cstring>

#include "hr_conceal.h"
#include "hr_frame.h"
#include "hr_tables.h"

namespace hr {

namespace {
enum FrameType : Word16 { VALID_SID = 11, INVALID_SID = 22, GOOD_SPEECH = 33, UNUSABLE = 44 };
enum DecoMode : Word16 { SPEECH = 1, CNIFIRSTSID = 2, CNICONT = 3, CNIBFI = 4 };
constexpr Word32 PN_INIT_SEED = 0x1091988;
constexpr Word16 INTERP_LAST = 11;  // interpolation period less one
}  // namespace

void hr_speechDecoder(Word16* prm, Word16* out, HR_DECODER* dec, HrDecoderProbe* probe) {
  Word16 neonLocal[64];
  hr_FrameSave_NEON(neonLocal);
  HR_DTX_DEC* d = &dec->hr_dtx_d;

  Word16 frmKs[NP], frmAs[NP], frmNum[NP], frmDen[NP];
  Word16 sA[N_SUB][NP], sN[N_SUB][NP], sD[N_SUB][NP];
  Word16* ppSynth[N_SUB] = {sA[0], sA[1], sA[2], sA[3]};
  Word16* ppNum[N_SUB] = {sN[0], sN[1], sN[2], sN[3]};
  Word16* ppDen[N_SUB] = {sD[0], sD[1], sD[2], sD[3]};
  NormSw sqrtRs[N_SUB];

  // Frame type and decoder mode.
  const Word16 bfi = prm[18], ufi = prm[19], sid = prm[20];
  Word16 type;
  if (bfi == 0 && ufi == 0 && sid == 2) type = VALID_SID;
  else if (bfi == 0 && ufi == 0 && sid == 0) type = GOOD_SPEECH;
  else if (sid == 0) type = UNUSABLE;
  else type = INVALID_SID;
  const bool isSid = type == VALID_SID || type == INVALID_SID;
  if (d->swDecoMode == SPEECH) {
    d->swDecoMode = isSid ? Word16(CNIFIRSTSID) : Word16(SPEECH);
  } else {
    d->swDecoMode = isSid ? Word16(CNICONT) : (type == GOOD_SPEECH ? Word16(SPEECH) : Word16(CNIBFI));
  }

  Word16 mutePermit = 0, muteFlag = 0;
  Word16 r0Index, mode, soft;
  if (d->swDecoMode == SPEECH) {
    hr_para_conceal_speech_decoder(prm + 18, prm, &mutePermit, &dec->swLastFlag, &dec->swState,
                                   dec->pswLastGood, &dec->lastR0);
    r0Index = static_cast<Word16>(prm[0] & 31);
    d->swR0Dec = hr_psrR0DecTbl[2 * r0Index];
    mode = static_cast<Word16>(prm[5] & 3);
    soft = static_cast<Word16>(prm[4] & 1);
    hr_lookupVq(prm + 1, frmKs);
    hr_update_gs_history_d(d, mode, prm);
    d->swDtxBfiCnt = 0;
    d->swDtxMuting = 0;
    d->swRxDTXState = INTERP_LAST;
  } else {
    auto sidParams = [&] {
      d->swR0NewCN = hr_psrR0DecTbl[2 * (prm[0] & 31)];
      hr_lookupVq(prm + 1, frmKs);
    };
    if (d->swDecoMode == CNIFIRSTSID) {
      d->swDtxBfiCnt = d->swDtxMuting = 0;
      d->swRxDTXState = INTERP_LAST;
      if (type == VALID_SID) {
        sidParams();
      } else {
        d->swR0NewCN = hr_psrR0DecTbl[2 * (d->swOldR0IndexDec & 31)];
        std::copy(dec->pswOldFrmKsDec, dec->pswOldFrmKsDec + NP, frmKs);
      }
      dec->L_RxPNSeed = PN_INIT_SEED;
      Word32 gs;
      hr_avgGsHistQntz(d->pL_RxGsHist, &gs);
      dec->swRxDtxGsIndex = hr_gsQuant(gs, 0);
    } else if (d->swDecoMode == CNICONT) {
      d->swDtxBfiCnt = d->swDtxMuting = 0;
      if (type == VALID_SID) {
        d->swRxDTXState = 0;
        sidParams();
      } else if (d->swRxDTXState < INTERP_LAST) {
        d->swRxDTXState++;
      }
      if (type != VALID_SID) std::copy(dec->pswOldFrmKsDec, dec->pswOldFrmKsDec + NP, frmKs);
    } else {  // comfort noise with a bad frame
      if (d->swRxDTXState < INTERP_LAST) d->swRxDTXState++;
      if (d->swDtxMuting == 1) {
        d->swOldR0IndexDec = std::max<Word16>(static_cast<Word16>(d->swOldR0IndexDec - 2), 0);
        d->swR0NewCN = hr_psrR0DecTbl[2 * d->swOldR0IndexDec];
      }
      d->swDtxBfiCnt = add(d->swDtxBfiCnt, 1);
      if (d->swDtxBfiCnt > 24 && prm[21] == 1) d->swDtxMuting = 1;
      std::copy(dec->pswOldFrmKsDec, dec->pswOldFrmKsDec + NP, frmKs);
    }
    r0Index = type == VALID_SID ? static_cast<Word16>(prm[0] & 31) : d->swOldR0IndexDec;
    for (int k = 0; k < N_SUB; ++k) {
      prm[8 + 3 * k] = dec->swRxDtxGsIndex;
      prm[6 + 3 * k] = hr_getPnBits(7, &dec->L_RxPNSeed);
      prm[7 + 3 * k] = hr_getPnBits(7, &dec->L_RxPNSeed);
    }
    mode = 0;
    soft = 1;
    hr_rxInterpR0Lpc(frmKs, type, dec->pswOldFrmKsDec, d);
  }

  // Direct-form and postfilter coefficients, or the last frame's on an unstable filter.
  if (hr_rcToADp(2048, frmKs, frmAs) == 0) {
    hr_Vec_mult_r_NP(frmAs, hr_psrSPFDenomWidenCf.data(), frmDen);
    hr_a_sst(frmDen, frmNum);
  } else {
    std::copy(dec->pswOldFrmKsDec, dec->pswOldFrmKsDec + NP, frmKs);
    std::copy(dec->pswOldFrmAsDec, dec->pswOldFrmAsDec + NP, frmAs);
    std::copy(dec->pswOldFrmPFDenom, dec->pswOldFrmPFDenom + NP, frmDen);
    std::copy(dec->pswOldFrmPFNum, dec->pswOldFrmPFNum + NP, frmNum);
  }
  hr_getSfrmLpc(soft, d->swOldR0Dec, d->swR0Dec, dec->pswOldFrmKsDec, dec->pswOldFrmAsDec,
                dec->pswOldFrmPFNum, dec->pswOldFrmPFDenom, frmKs, frmAs, frmNum, frmDen, sqrtRs,
                ppSynth, ppNum, ppDen);
  const Word16 engShift = hr_r0Shifts[r0Index];

  for (int k = 0; k < N_SUB; ++k) {
    const Word16 G = static_cast<Word16>(prm[8 + 3 * k] & 31);
    Word16 v0[S_LEN], v1[S_LEN], ex[S_LEN], ppf[S_LEN], bits[9];
    Word16 lag = 0, semiBeta = 0;
    NormSw rs0, rs1;
    if (mode == 0) {
      for (int c = 0; c < 2; ++c) {
        hr_b_con(static_cast<Word16>(prm[6 + c + 3 * k] & 127), 7, bits);
        hr_v_con(hr_pppsrUvCodeVec2.data() + 280 * c, c == 0 ? v0 : v1, bits, 7);
      }
      hr_rs_rr(v0, &sqrtRs[k], &rs0, 0);
      hr_rs_rr(v1, &sqrtRs[k], &rs1, 0);
      hr_scaleExcite(v0, hr_pppsrGsp0[5 * G], &rs0, v0);
      hr_scaleExcite(v1, hr_pppsrGsp0[5 * G + 1], &rs1, v1);
    } else {
      lag = hr_lagDecode(static_cast<Word16>(prm[6 + 3 * k] & (k == 0 ? 255 : 15)), &dec->swLastLag, k);
      hr_fp_ex(lag, dec->pswLtpStateBaseDec + LTP_LEN);
      std::copy(dec->pswLtpStateBaseDec + LTP_LEN, dec->pswLtpStateBaseDec + LTP_LEN + S_LEN, v0);
      hr_b_con(static_cast<Word16>(prm[7 + 3 * k] & 511), 9, bits);
      hr_v_con(hr_pppsrVcdCodeVec2.data(), v1, bits, 9);
      hr_rs_rr(v0, &sqrtRs[k], &rs0, 1);
      hr_rs_rr(v1, &sqrtRs[k], &rs1, 0);
      const Word16* gain = &hr_pppsrGsp0[160 * mode + 5 * G];
      semiBeta = hr_scaleExcite(v0, gain[0], &rs0, v0);
      hr_scaleExcite(v1, gain[1], &rs1, v1);
    }
    hr_Vec_add_SLEN(v0, v1, ex);
    hr_Copy(dec->pswLtpStateBaseDec + 40, dec->pswLtpStateBaseDec, LTP_LEN);
    std::copy(ex, ex + S_LEN, dec->pswLtpStateBaseDec + 107);
    if (probe != nullptr) {
      std::copy(ex, ex + S_LEN, probe->excitation + 40 * k);
      std::copy(sA[k], sA[k] + NP, probe->synthAs[k]);
    }
    hr_pitchPreFilt(ex, G, lag, mode, semiBeta, &sqrtRs[k], ppf, dec->pswPPreState);

    Word16 levelMean, levelMax;
    hr_level_estimator0(&levelMean, &levelMax, dec->plSubfrEnergyMem, dec->swLevelMem);
    hr_signal_conceal_sub(ppf, sA[k], dec->pswSynthFiltState, dec->pswLtpStateBaseDec + 107,
                          dec->pswPPreState + 107, levelMean, levelMax, ufi, dec->swMuteFlagOld,
                          &muteFlag, mutePermit);
    Word16 synth[S_LEN];
    hr_lpcIir2(ppf, sA[k], dec->pswSynthFiltState, synth);
    hr_spectralPostFilter(synth, sN[k], sD[k], out + 40 * k, dec, engShift);
    hr_level_estimator1(out + 40 * k, dec->plSubfrEnergyMem, dec->swLevelMem);
  }

  dec->swMuteFlagOld = muteFlag;
  d->swOldR0Dec = d->swR0Dec;
  d->swOldR0IndexDec = r0Index;
  std::copy(frmKs, frmKs + NP, dec->pswOldFrmKsDec);
  std::copy(frmAs, frmAs + NP, dec->pswOldFrmAsDec);
  std::copy(frmNum, frmNum + NP, dec->pswOldFrmPFNum);
  std::copy(frmDen, frmDen + NP, dec->pswOldFrmPFDenom);
  hr_FrameRestore_NEON(neonLocal);
}

void hr_resetDec(HR_DECODER* st) {
  std::memset(static_cast<void*>(st), 0, sizeof(*st));
  st->swState = 7;
  st->reset_flag_decoder_old = 1;
  for (int i = 0; i < 3; ++i) st->plSubfrEnergyMem[i] = 80, st->swLevelMem[i] = -72;
  st->hr_dtx_d.swRxDTXState = 11;
  st->hr_dtx_d.swDecoMode = 1;
}

void gsmhr_reset_dec(GSMHR_DECSTRUCT* st) { hr_resetDec(st); }

void gsmhr_decode(GSMHR_DECSTRUCT* st, Word16* parm, std::uint32_t flags, Word16* synth) {
  parm[18] = (flags & GSMHR_FLAG_BFI) ? 1 : 0;
  parm[19] = (flags & GSMHR_FLAG_UFI) ? 1 : 0;
  parm[20] = (flags & GSMHR_FLAG_SID) ? 2 : 0;
  parm[21] = (flags & GSMHR_FLAG_TAF) ? 1 : 0;
  hr_speechDecoder(parm, synth, st);
}

}  // namespace hr

// Discontinuous transmission of the GSM half-rate codec: the transmit decision between speech,
// hangover and SID frames with the comfort-noise parameters, and the receive-side interpolation
// of energy and spectrum between SID frames.
#include <algorithm>

#include "hr_frame.h"
#include "hr_tables.h"

namespace hr {

namespace {
constexpr Word32 PN_INIT_SEED = 0x1091988;
constexpr Word16 SHORT_BURST = 23;  // frames since the last SID computation
constexpr Word16 HANGOVER = 7;
constexpr Word16 VALID_SID = 11;
}  // namespace

void hr_avgGsHistQntz(const Word32* hist, Word32* avg) {
  Word32 sum = 0;
  for (int i = 0; i < 28; ++i) sum = L_add(sum, ((hist[i] >> 4) + 1) >> 1);
  *avg = L_add(sum, hr_L_mpy_ls(sum, 4681));  // sum of x / 32 over 28 values, times 32 / 28
}

Word16 hr_gsQuant(Word32 L_GsIn, Word16 mode) {
  const Word32* row = &hr_ppLr_gsTable[32 * (mode & 3)];
  int best = 0;
  Word32 bestErr = L_abs(L_sub(L_GsIn, row[0]));
  for (int i = 1; i < 32; ++i) {
    Word32 e = L_abs(L_sub(L_GsIn, row[i]));
    if (e < bestErr) bestErr = e, best = i;
  }
  return static_cast<Word16>(best);
}

void hr_avgCNHist(const Word32* r0, const Word32 (*corr)[11], Word32* avgR0, Word32* avgCorr) {
  Word32 s = 0;
  for (int f = 0; f < 8; ++f) s = L_add(s, r0[f] >> 3);
  *avgR0 = s;
  for (int i = 0; i < 11; ++i) {
    Word32 c = 0;
    for (int f = 0; f < 8; ++f) c = L_add(c, ((corr[f][i] >> 2) + 1) >> 1);
    avgCorr[i] = c;
  }
}

Word16 hr_getPnBits(int iBits, Word32* seed) {
  Word16 out = 0;
  for (int i = 0; i < iBits; ++i) {
    Word32 s = *seed;
    Word32 fb = (s ^ (s >> 2)) & 1;
    s = ((s >> 1) & 0x3FFFFFFF) | (fb << 30);
    *seed = s;
    out = static_cast<Word16>(shl(out, 1) | (s & 1));
  }
  return out;
}

Word32 hr_linInterpSid(Word32 L_New, Word32 L_Old, Word16 state) {
  Word16 f = hr_psrCNNewFactor[state];
  Word16 g = static_cast<Word16>(std::min(32768 - f, 32767));
  return L_add(hr_L_mpy_ls(L_New, f), hr_L_mpy_ls(L_Old, g));
}

Word16 hr_linInterpSidShort(Word16 swNew, Word16 swOld, Word16 state) {
  Word16 f = hr_psrCNNewFactor[state];
  Word16 g = static_cast<Word16>(std::min(32768 - f, 32767));
  return round16(L_add(L_mult(swNew, f), L_mult(swOld, g)));
}

Word16 hr_swComfortNoise(Word16 vad, Word32 L_UnqntzdR0, const Word32* corr, HR_DTX_ENC* d) {
  d->swVadFrmCnt = vad ? Word16(0) : add(d->swVadFrmCnt, 1);
  d->swNElapsed = add(d->swNElapsed, 1);
  if (d->swVadFrmCnt == 0) return 1;
  if (d->swVadFrmCnt == 1) d->swShortBurst = d->swNElapsed <= SHORT_BURST ? 1 : 0;

  d->pL_R0Hist[d->siUpdPointer] = L_UnqntzdR0;
  std::copy(corr, corr + 11, d->ppL_CorrHist[d->siUpdPointer]);
  d->siUpdPointer = static_cast<Word16>((d->siUpdPointer + 1) & 7);

  if ((d->swShortBurst == 0 && d->swVadFrmCnt == HANGOVER + 1) ||
      (d->swShortBurst == 1 && d->swVadFrmCnt == 1)) {
    d->L_TxPNSeed = PN_INIT_SEED;
    Word32 avg;
    hr_avgGsHistQntz(d->pL_GsHist, &avg);
    d->swRefGsIndex = hr_gsQuant(avg, 0);
  }
  if (!(d->swShortBurst == 1 && d->swVadFrmCnt <= HANGOVER)) {
    if (d->swVadFrmCnt <= HANGOVER) return 1;  // hangover: still coded as speech
    d->swNElapsed = 0;
    Word32 avgR0, avgCorr[11];
    hr_avgCNHist(d->pL_R0Hist, d->ppL_CorrHist, &avgR0, avgCorr);
    d->swQntRefR0 = hr_r0Quant(avgR0);
    Word16 rc[NP];
    hr_lpcCorrQntz(avgCorr, rc, d->piRefVqCodewds, d->quantList);
  }
  d->swCNR0 = d->swQntRefR0;
  std::copy(d->piRefVqCodewds, d->piRefVqCodewds + 3, d->pswCNLpc);
  for (int k = 0; k < N_SUB; ++k) d->pswCNGsp0Code[k] = d->swRefGsIndex;
  for (int k = 0; k < N_SUB; ++k) {
    d->pswCNVSCode1[k] = hr_getPnBits(7, &d->L_TxPNSeed);
    d->pswCNVSCode2[k] = hr_getPnBits(7, &d->L_TxPNSeed);
  }
  return 0;
}

void hr_rxInterpR0Lpc(Word16* newKs, Word16 frameType, const Word16* oldKsDec, HR_DTX_DEC* d) {
  Word16 st = d->swRxDTXState;
  if (d->swDecoMode == 2) {
    d->swR0OldCN = d->swOldR0Dec;
    d->swR0Dec = hr_linInterpSidShort(d->swR0NewCN, d->swOldR0Dec, st);
    hr_rcToCorrDpL(oldKsDec, d->pL_OldCorrSeq);
    hr_rcToCorrDpL(newKs, d->pL_NewCorrSeq);
  } else if (frameType == VALID_SID && d->swDecoMode == 3) {
    d->swR0OldCN = d->swOldR0Dec;
    d->swR0Dec = hr_linInterpSidShort(d->swR0NewCN, d->swOldR0Dec, st);
    std::copy(d->pL_CorrSeq, d->pL_CorrSeq + 11, d->pL_OldCorrSeq);
    hr_rcToCorrDpL(newKs, d->pL_NewCorrSeq);
  } else {
    d->swR0Dec = hr_linInterpSidShort(d->swR0NewCN, d->swR0OldCN, st);
  }
  for (int i = 0; i < 11; ++i) d->pL_CorrSeq[i] = hr_linInterpSid(d->pL_NewCorrSeq[i], d->pL_OldCorrSeq[i], st);
  hr_aFlatRcDp(d->pL_CorrSeq, newKs);
}

}  // namespace hr

// Symbol-timing recovery of the T/3 receiver: acquisition of the symbol phase from band-edge
// filters during training, then symbol-by-symbol tracking that re-samples the input at the
// tracked positions (8.24 samples) with the polyphase interpolator.
#pragma once

#include <cstdint>

#include "vc_math.h"

struct VCZCALCTIMPAR {
  int16_t nh0, nh1;  // upper band-edge resonator
  int16_t nl0, nl1;  // lower band-edge resonator
  const int16_t* coeffp;
  int16_t skipFactor;  // samples per call - 1
  int16_t scale;       // input left shift
};

enum VCETRNSTAGE : int16_t { FIRST_TRN = 0, SECOND_TRN = 1 };
enum VCETIMEACQSTATE : int16_t { ACQ_WAITCALCTHRESH = 0, ACQ_WAITCALCPHASE = 1, ACQ_DONE = 2 };

struct VCZTRKTIMPAR;
// A tracking schedule, run once per symbol: it moves the loop's gains, steps and counts, never the
// position, the adjustment or the resonators' state (the tracker holds those in registers).
using VCTIMINGFSM = void (*)(VCZTRKTIMPAR* trk);

struct VCZTRKTIMPAR {
  uint32_t interpSampPos;
  uint32_t interpSampInc;
  VCZCALCTIMPAR trkCalcTimParm;
  int16_t interpSampAdj;
  int16_t timingDiff;
  uint16_t timingAdjInc;
  uint16_t timingAdjCurrInc;
  int16_t timingAdj;
  int16_t timingLmtCnt;
  int16_t accumAdjCnt;
  int16_t timingAdjLmt;
  int16_t timingSymCnt;
  VCETRNSTAGE trnStage;
  VCTIMINGFSM timingFSM;
};

struct VCZTIMACQPAR {
  VCZCALCTIMPAR acqCalcTimParm;
  VCETIMEACQSTATE timeAcqState;
  int16_t v1, v2, v3;
  int16_t threshold;
  int16_t numJamSymToUse;
  int16_t numAcqSym;
  int16_t sampRemaining;
  int16_t tbynsampRemaining;
  int16_t timSampToSkip;
  int16_t magic;
  uint32_t interpIncPerSym;
};

struct VCZTIMADJ {
  VCZTIMACQPAR acqParm;
  VCZTRKTIMPAR trkParm;
};

extern const int16_t vctiming_acq[4][6];
extern const int16_t vctiming[4][6];
extern const int16_t vcnumJamSym[6];
extern const int16_t vcgSymbolCarrierLUT32[12];

void vcfInitTiming(VCTIMINGFSM timingFSM, VCESYMBOLRATE symbolRate, VCECARRIER carrier,
                   VCETRNSTAGE trnStage, VCZTIMADJ* timadj);
// The band-edge filters over skipFactor + 1 samples and their cross product. The plain form
// saturates every resonator output as it goes; the other gives its bits with the saturation off
// the serial chain.
int16_t vcfCalcTimingAdj(const int16_t* samples, VCZCALCTIMPAR* par);
int16_t vcfCalcTimingAdjPlain(const int16_t* samples, VCZCALCTIMPAR* par);
int16_t vcfCalcTimingPhase(int16_t s1, int16_t s2);
// Runs acquisition over n samples; returns the number taken (fewer once it completes).
int32_t acquireTiming(const int16_t* samples, int32_t n, VCZTIMADJ* timadj);
void vcfAdjTiming(VCZBUF* in, VCZBUF* out, VCZTIMADJ* timadj);
// Tracks symbol by symbol while the input holds a whole symbol's reads; the re-sampled symbols go to
// out (none when out or its pointer is null).
void vcfTrackTiming(VCZBUF* in, VCZBUF* out, VCZTRKTIMPAR* trk);
void vcftimingFSM32(VCZTRKTIMPAR* trk);

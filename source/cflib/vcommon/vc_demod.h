// Receive signal path of the datapumps: gain finding, the T/3 pass-band equaliser, the 2T/3
// complex equaliser behind a mixer and decimating low-pass, decision-directed carrier recovery,
// gear shifting, training averages and jams, and the training tone detector.
#pragma once

#include <cstdint>
#include <cstring>

#include "vc_baud.h"

struct VCZAGC {
  uint16_t gain;
  uint16_t numSampToAvg;
  int16_t sigLevel;
  int16_t gainConst;
  uint16_t numSampProc;
};

struct VCZCRPAR {
  int16_t pll1;        // proportional gain
  int16_t pll2;        // integral gain
  int16_t phasedecr;   // nominal phase step per symbol
  int16_t qamRxPhase;  // current demodulation phase (16-bit turn)
  int16_t f;           // loop frequency term
  int16_t pher;        // last phase step
  int16_t trn2PhaseAdj;
};

// One gear-shift row; a row with negative count is final.
struct VCZGS {
  int16_t count;
  int16_t stepsize;
  int16_t pll1;
  int16_t pll2;
  int16_t eqstate;  // bit 15: equaliser frozen; bit 14: carrier loop sees no phase error
};

struct VCZEQPARMT3 {
  int16_t stepsize;
  int32_t* coeffRealp;  // value in the high 16 bits
  int32_t* coeffImagp;
  const int16_t* eqfltUpdatep;  // newest sample of the window used for the update
  int16_t eqlen1;               // taps - 1
  int16_t eqscf;
  int16_t uoff;
  int16_t ulen1;
  int16_t cnt;
  int16_t eqstate;
  int16_t pcnt;
  int16_t poly;
};

struct VCZDEMODT3 {
  int16_t eqgain;  // output gain correction, Q15
  int16_t currgshftidx;
  int16_t enab;
  int16_t aveError;
  int16_t accDistErr[3];
  VCZCRPAR car;
  VCZEQPARMT3 eq;
  const VCZGS* gstable;
};

using VCLPFF = void (*)(const int16_t* in, int16_t step, int16_t* out);

struct VCZEQPARM2T3 {
  int16_t* fltMemp;  // mixer output: real half, then imaginary half (fltMemLen each)
  int16_t m;         // input samples per symbol
  int16_t fltMemLen;
  uint16_t phase;
  int16_t phaseDelta;  // mixer phase step per input sample
  int16_t* eqT3Memp;   // T/3 delay line: real half, then imaginary half (2 eqlength + 1 each)
  int16_t eqlength;    // taps - 1
  VCLPFF lpfFunc;
  int32_t* eqp;  // 2 (eqlength + 1) coefficients: real parts, then imaginary parts
  int16_t stepsize;
  int16_t cnt;
  int16_t eqstate;
  // The carrier detector's level of the three newest T/3 samples (vcfHalfMagnitudes3Plain at the
  // lines' end), left by each decimation: taken while the samples are still in registers.
  int32_t newestHalfMag;
};

struct VCZDEMOD2T3 {
  int16_t currgshftidx;
  int16_t enab;
  int16_t aveError;
  int16_t accDistErr[3];
  VCZCRPAR car;
  VCZEQPARM2T3 eq;
  const VCZGS* gstable;
};

struct VCZ2T3INIT {
  int16_t m;
  int16_t fltMemLen;
  int16_t phaseDelta;
  int16_t eqlength;
  VCLPFF lpfFunc;
  const VCZGS* gsp;
};

extern const int16_t vct3lpfcoeff[18];

// ---- gain finding ----
void vcfInitFindGain(uint16_t numSampToAvg, int16_t gainConst, VCZAGC* agc);
bool vcfFindGain(VCZBUF* SampBufRdp, const VCZBUF* SampBufWrp, VCZAGC* agcParmp);

// ---- T/3 pass-band equaliser ----
void vcfDemodInitT3(VCZDEMODT3* demod, const VCZGS* gearTable, int16_t phasedecr);
void vcfAppEQandCarr(int16_t qamRxPhase, const VCZEQPARMT3* eq, const int16_t* x, VCZCOMPLEX* out);
VCBDMSTATUS vcfDemodT3(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS vcfRxupdT3(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
void vcfupdateEQ(VCZEQPARMT3* eq, const VCZCOMPLEX* err);
// The decision error's power into the average, and the error turned back by the carrier phase.
// Inline here (and vcfCarrierRec below): both run in every symbol's update, where a call each
// would cost about what they compute.
// The carrier phase's cosine and sine, as the equaliser's output turns by them and its error
// turns back.
struct VcCarrierTurn {
  int32_t c, s;
};
inline VcCarrierTurn vcCarrierTurn(int16_t phase) {
  return {fxcos(static_cast<uint16_t>(phase)), fxsin(static_cast<uint16_t>(phase))};
}
// With the phase's turn already taken (by the symbol's output).
inline void vcfRemSoftDecErrTurned(VcCarrierTurn turn, VCZCOMPLEX* err, int16_t* aveError, int16_t s) {
  int32_t p = err->real * err->real + err->imag * err->imag;
  const int32_t cap = (1 << (22 - s)) - 1;
  if (p > cap || p < 0) p = cap;
  *aveError = static_cast<int16_t>((*aveError * 32667 + (p >> (7 - s)) * 100) >> 15);
  const int32_t c = turn.c, sn = turn.s;
  const int32_t re = err->real, im = err->imag;
  // both parts in one store: the equaliser's update takes the error whole, by value, at once,
  // and a read that spans two narrower stores waits for them to reach the cache
  const VCZCOMPLEX rotated{static_cast<int16_t>((re * c + im * sn + 16384) >> 15),
                           static_cast<int16_t>((im * c - re * sn + 16384) >> 15)};
  std::memcpy(err, &rotated, sizeof(rotated));
}
inline void vcfRemSoftDecErr(int16_t phase, VCZCOMPLEX* err, int16_t* aveError, int16_t s) {
  vcfRemSoftDecErrTurned(vcCarrierTurn(phase), err, aveError, s);
}

// ---- 2T/3 complex equaliser ----
void vcfDemodInit2T3(VCZDEMOD2T3* demod, const VCZ2T3INIT* init);
// Samples in each half of the mixer memory the caller binds to fltMemp (fltMemLen + m + 1).
int vcf2T3MixerHalfLen(const VCZEQPARM2T3* eq);
void vcfdecimat2T3(VCZEQPARM2T3* eq, const int16_t* in);
VCBDMSTATUS vcfDemod2T3(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS vcfRxupd2T3(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
// A run of V.27ter symbols asks once whether it may take the AVX2 forms (the processor has them
// and the equaliser decimates by six: nothing in a run changes that), then takes them without
// vcfDemod2T3's and vcfRxupd2T3's tests per symbol; each gives their bits. Built where the AVX2
// kernels are (VC_HAVE_AVX2_KERNELS), compiled for AVX2 so that the kernels go into them.
// The output hands the update the carrier phase's turn it took (the phase only moves at the
// update's end).
#if defined(ORVOX_X86_SIMD)
bool vcfDemod2T3SixWide(const VCZRXMEM* rxmem);
__attribute__((target("avx2"))) VcCarrierTurn vcfDemod2T3Six(VCZRXMEM* rxmem, const int16_t* in);
__attribute__((target("avx2"))) void vcfRxupd2T3Twelve(VCZRXMEM* rxmem, VcCarrierTurn turn);
#endif
void vcT3LPF(const int16_t* in, int16_t step, int16_t* out);
// One output of that low-pass ending at in: the plain sum (the reference) and the wide one.
int16_t vcT3LPFOnePlain(const int16_t* in);
int16_t vcT3LPFOne(const int16_t* in);
// Half the magnitude (fxcmag / 2) of each of the three complex samples before end, the real parts
// at re and the imaginary at im, summed.
int32_t vcfHalfMagnitudes3Plain(const int16_t* re, const int16_t* im, int end);

// ---- carrier recovery ----
inline void vcfCarrierRec(const VCZCOMPLEX* soft, const VCZCOMPLEX* ref, VCZCRPAR* car) {
  const int32_t e = ref->imag * soft->real - ref->real * soft->imag;
  const int32_t mag2 = ref->real * ref->real + ref->imag * ref->imag;
  int32_t q = vcfdiv_L(static_cast<int32_t>(fxabsl(e) > 0x7FFFFFFF ? 0x7FFFFFFF : fxabsl(e)), mag2);
  if (q > 4096) q = 4096;
  if (e < 0) q = -q;
  q >>= 1;
  const int32_t acc = car->f * 32768 + q * car->pll2;
  car->f = static_cast<int16_t>((acc + 16384) >> 15);
  car->pher = static_cast<int16_t>((q * car->pll1 + ((acc + 16384) >> 5) + 16384) >> 15);
  car->qamRxPhase = static_cast<int16_t>(car->qamRxPhase - car->phasedecr + car->pher);
}

// ---- training average and jams ----
void vcfRxFupdave_init(VCZRXMEM* rxmem);
VCBDMSTATUS vcfRxFupdave(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS vcfRxFupdaveT3(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
void vcfRxFcgjam(const VCZRXMEM* rxmem, int16_t* gainOut, int16_t* phaseOut);

// ---- tone detector ----
void vcfTonedetinit(VCZRXMEM* rxmem, int16_t freq, int16_t countthresh, int16_t carthresh, int16_t ds);
void vcfCpbdemod(VCZCPBDEMOD* demdet, const int16_t* in, VCZCOMPLEX* out, int16_t n, int16_t ds);
int32_t vcftoneDetAsm(VCZCTONEDET* sdet);
VCBDMSTATUS vcfTonedet(VCZRXMEM* rxmem, VCZBUF* rxlbuf);

// Receive training set-up of the T/3 receiver (scrambled-ones reference).
void vcfRxgpctrn2v3xT3_init(VCZBAUD* baud);

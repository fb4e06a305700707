// Small numeric routines shared by the line services and the signal-processing blocks: decibel
// conversions (whole dB for the hsf routines, dB x 256 for the util routines), a phase
// calculator, fractional division, block normalisation, a DC blocker, a noise source, peak
// search, block copy and fill, a general FIR filter and a Q12 gain. No state outside arguments.
#pragma once

#include <cstdint>

#include "basicop.h"

using UINT16 = std::uint16_t;
using UINT32 = std::uint32_t;

// Amplitude ratio of dBgain (whole dB; below -90 gives 0) applied to val.
UINT32 hsfdB20(int dBgain, UINT32 val);
// Power ratio: hsfdB20(2 * dBgain, val).
UINT32 hsfdB10(int dBgain, UINT32 val);
// 10 log10(val / reference) in whole dB.
int hsfGetdB10(UINT32 reference, UINT32 val);
// Phase of each (re, im) pair in Q8 radians (402 = pi/2, 804 = pi), from -804 to 804.
void hsfAtan(const SINT16* input, SINT16* freqcalc, int numfreq);
// Each sample times a Q12 gain (4096 = unity), rounded and saturated.
void hsfMulGain(SINT16* sampbuf, int numsamp, SINT16 gain);

// Q15 amplitude of a level in dB x 256 (0 dB = 32767).
SINT16 utildB2scale(int level);
// Level in dB x 256 of a power below 2^31 (2^31 = 0 dB), plus offset.
SINT16 utilPower2dB(UINT32 pwr, int offset);
// Q15 quotient var1 / var2 for 0 <= var1 <= var2.
SINT16 utildiv_s(SINT16 var1, SINT16 var2);
// The same quotient by fifteen steps of restoring division, for any operands: utildiv_s takes
// these steps where its one division would not give the same result.
SINT16 utildivRestoring(SINT16 var1, SINT16 var2);
// Scales the block left until its peak reaches 16384; returns the shift applied.
int utilVectorNorm(SINT16* x, int n);
// DC blocker; x and y may be the same buffer; *umem is the filter's state.
void utilHighpass(const SINT16* x, SINT16* y, int n, int alpha_exp, SINT32* umem);
// Whether the blocker with this state turns silence into silence and keeps its state.
bool utilHighpassAtRest(int alpha_exp, SINT32 umem);
// Whether all n samples are 0: the test that lets a filter at rest skip a silent block.
bool utilIsSilent(const SINT16* x, int n);
// Uniform noise of about +-g/4 from a 16-bit linear congruential seed.
void utilRand(SINT16* x, SINT16* seed, SINT16 g, int n);
SINT16 utilMaxAbs(const SINT16* x, int n);
int utilsearchpeak(const SINT16* x, int n);
int utilsearchpeakprog(const SINT16* x, int n);
void utilmemcpy(SINT16* dest, const SINT16* src, int n);
void utilmemcpyprog(SINT16* dest, const SINT16* src, int n, int mode);
void utilmemset(SINT16* dest, SINT16 value, int n);
void utilmemsetprog(SINT16* dest, SINT16 value, int n);
// k outputs of an n-tap (n even) Q15 FIR; x must have n - 1 samples of history before it.
void fir(const SINT16* x, SINT16* y, const SINT16* h, int n, int k);

extern const SINT16 hsfdBAttenTable[90];
extern const SINT16 utillogfactorTable[24];
extern const SINT16 utilPower2dBTable[16];

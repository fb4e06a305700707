// Fixed-point toolkit of the modem library: Q15 products, magnitudes, complex products, sine and
// cosine, restoring divisions, the dot-product kernel, the receive sample-rate converter, and the
// transmit back end (bulk delay lines, modulator, pass-band pulse shaper, transmit resampler).
#pragma once

#include <cstdint>

#include "vc_types.h"

// ---- arithmetic ----
int16_t fxmul(int16_t a, int16_t b);
int32_t fxmacpp(const int16_t* x, const int16_t* y, int16_t n);  // n + 1 terms
uint16_t fxabs(int16_t a);
uint32_t fxabsl(int32_t a);
int16_t fxcmag(const VCZCOMPLEX* z);
void fxcmul(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst);
void fxcmulconj(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst);
void fxcsub(const VCZCOMPLEX* a, const VCZCOMPLEX* b, VCZCOMPLEX* dst);
int16_t fxsin(uint16_t phase);
int16_t fxcos(uint16_t phase);
int16_t vcfdiv_s(int16_t a, int16_t b);
int16_t vcfdiv_L(int32_t a, int32_t b);
int32_t vcfdiv_d(int32_t a, int32_t b);
void vcfdivt(int16_t a, int16_t b, VCZDIV_T* out);
void fxshr(int16_t* dly, int16_t n, int16_t s);
// 64-bit add of {high, low} pairs named by their low words; the high word sits just before.
void vcfUAdd64(uint32_t* xLow, const uint32_t* yLow);
int16_t vcfConv(const int16_t* x, const int16_t* h, int16_t n);
int16_t vcfConvPlain(const int16_t* x, const int16_t* h, int16_t n);
int16_t vcfCsearch(const VCZCOMPLEX* d, const VCZCOMPLEX* table, int16_t n);

// ---- buffers ----
void vcfInitTxLinBuf(VCZBUF* buf, int16_t start, int16_t end);
void vcfMultGain(VCZBUF* bufRdp, const VCZBUF* bufWrp, int16_t gainQ10);
void vcfUpdateFIRhist(VCZBUF* buf, int16_t n, int16_t* hist, int16_t histLen);

// ---- receive sample-rate conversion ----
struct VCZRESAMPLE {
  uint32_t interpSampPos;  // 8.24 samples: integer in bits 24..31, phase 20..23, fraction 5..19
  uint32_t interpSampPosLow;
  uint32_t interpSampInc;
  uint32_t interpSampIncLow;
};

extern const int16_t vcgInterp[16 * 32];
extern const uint32_t vcrxInterpIncHigh[7];
extern const uint32_t vcrxInterpIncLow[7];

void vcfInitResample(int16_t index, VCZRESAMPLE* rs);
int16_t vcfResample(VCZBUF* inSampBufRdp, const VCZBUF* inSampBufWrp, VCZBUF* outSampBufp,
                    VCZRESAMPLE* rs);
// One interpolated sample at an 8.24 position relative to base (the phase blend of both
// converters and the timing interpolator).
int16_t vcfInterpAt(const int16_t* base, uint32_t pos);

// ---- transmitter ----
struct VCZFASTBULKDLYHDL {
  int16_t* fstStp;
  int16_t* fstEndp;
  int16_t* fstWrp;
  int16_t* fstRdp;
  uint16_t fstBulkDlyLen;  // the imaginary line lies this far after the real one
};

constexpr int VC_T3SAMPLES = 44;

struct VCZMOD {
  uint16_t amplitude;
  VCESYMBOLRATE symbolRate;
  uint32_t carrierPhase;
  uint32_t phaseInc;
  uint32_t interpSampPos;
  uint32_t interpSampPosLow;
  uint32_t interpSampInc;
  uint32_t interpSampIncLow;
  int16_t* modWrtp;
  int16_t numSample;
  int16_t txFiltLen;
  const int16_t* passBandCoeffp;
  int16_t t3Samples[VC_T3SAMPLES];
};

extern const int16_t vcgTxbandpassfilt32[120];

void vcfInitBulkDly(int16_t* base, int16_t len, VCZMOD* mod);
void vcfInitTxParam32(VCZMOD* mod, int16_t amplitude);
void vcfSetTxAmplitude32(VCZMOD* mod, int16_t value);
void vcfInitFastBulkDly(const int16_t* base, const int16_t* wrp, int16_t len, VCZFASTBULKDLYHDL* hdl,
                        int16_t* fast, int16_t fastLen, int16_t hist);
int16_t vcfCalcNumSymbols(const VCZBUF* buf, int16_t rateIndex);
void vcfModulate(const VCZCOMPLEX* sig, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl);
void vcfpulseShape(VCZMOD* mod, VCZFASTBULKDLYHDL* hdl);
void vcfTxRsmp(int16_t** out, VCZMOD* mod);
void vcfTxSymbols(int16_t** out, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl);
void vcfCopyToBulkDly(int16_t** wrpp, const int16_t* re, const int16_t* im, int16_t n, int16_t* base,
                      int16_t len);
void vcfCopyFromBulkDly(const int16_t** rdpp, int16_t* re, int16_t* im, int16_t n, const int16_t* base,
                        int16_t len);

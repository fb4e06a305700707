// The 8-state two-dimensional Viterbi decoder of the trellis-coded rates.
#pragma once

#include <cstdint>

#include "vc_types.h"

struct VCZVITRESLICETAB {
  int16_t xa;
  int16_t xb;
  int16_t ya;
  int16_t yb;
};

struct VCZVITERBI32 {
  uint32_t pathMetric[8];
  uint32_t minmet;
  uint16_t curMinState;
  uint16_t pathHistoryIndex;    // 0 .. 15
  uint16_t history[16][8];      // predecessor state << 8 | subset
  // Per state, the states of its surviving path, newest first: what tracing `history` back from
  // it gives, kept up to date with each decision so that the decision 15 symbols back is one read.
  uint8_t survivor[8][16];
  VCZCOMPLEX RxSig[16];         // received points of the last 16 symbols
  const VCZVITRESLICETAB* rSliceTabp;
  int16_t slcMask;
  int16_t dist1;
  int16_t dist2;
  int16_t dist3;
  uint16_t rate;  // bit/s: 7200, 9600, 12000 or 14400
  int16_t vitscale;
};

extern const VCZVITRESLICETAB ResliceTab32[8];
extern const uint16_t ViterbiStateTab32[8][4];

void vcfViterbiInit32(VCZVITERBI32* vit, uint16_t rate);
// Decodes one received point; returns the trellis label (Y0 in bit 0) decided 15 symbols ago.
int16_t vcfViterbiDecode32(VCZVITERBI32* vit, const VCZCOMPLEX* rx, VCZCOMPLEX* dpout1,
                           VCZCOMPLEX* dpout16);
// The branch metric of each subset for one received point.
void CalcBranchMetr32(const VCZCOMPLEX* rx, uint32_t metric[8]);
void UpdatePathMetr32(VCZVITERBI32* vit, const uint32_t branch[8]);
// Each state's best predecessor, the first of equal metrics winning (unsigned): the new metrics
// into next, the decisions into the history row. The plain form is the reference of the AVX2 one.
void vcfSelectSurvivors(const VCZVITERBI32* vit, const uint32_t branch[8], uint32_t next[8], uint16_t* row);
#if defined(ORVOX_X86_SIMD)
__attribute__((target("avx2"))) void vcfSelectSurvivorsAvx2(const VCZVITERBI32* vit, const uint32_t branch[8],
                                                            uint32_t next[8], uint16_t* row);
#endif
// Nearest point of a subset to a received point.
void vcfVitSlice(const VCZVITERBI32* vit, const VCZCOMPLEX* rx, int subset, VCZCOMPLEX* out);

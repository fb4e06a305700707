// The 7200/9600 bit/s pump (V.29): rate tables, constellations, training tables and coders.
#pragma once

#include <cstdint>

#include "vfx.h"

extern const int16_t vfxgTxbandpassfilt29[120];

// Signal tables: symbol = phase (eighths of a turn) + 8 x amplitude bit.
extern const VCZCOMPLEX vfxtSig9600LUT[16];
extern const VCZCOMPLEX vfxtSig7200LUT[8];
// Training points A, B (alternation) and C, D (training sequence) per rate.
extern const VCZCOMPLEX vfxtTrn9600LUT[4];
extern const VCZCOMPLEX vfxtTrn7200LUT[4];
extern const uint16_t vfxtGraymapLUT[8];
extern const uint16_t vfxtGrayunmapLUT[8];
extern const VCZCOMPLEX vfxtSig4800LUT[4];
extern const VCZCOMPLEX vfxtSig8PskLUT[8];
extern const VCZCOMPLEX vfxtTrn27LUT[4];
extern const uint16_t vfxtGraymap4LUT[4];
extern const uint16_t vfxtGrayunmap4LUT[4];
extern const int16_t vfxgTxbandpassfilt27l[72];
extern const int16_t vfxgTxbandpassfilt27h[72];

// Per rate code (desiredrate 0: 2400, 1: 4800, 2: 7200, 3: 9600 bit/s).
struct VFXRATEPARM {
  uint16_t baud;
  uint16_t numbits;
  uint16_t bmask;
  const VCZCOMPLEX* stab;
  int16_t npts;
  const VCZCOMPLEX* trn;
  VCTXSTAGEF scram;
  VCTXSTAGEF difenc;
  VCRXSTAGEF descram;
  VCRXSTAGEF difdec;
  VCTXRUNF dataRun;  // the baud machine's run for the page data's stages
};
const VFXRATEPARM& vfxfRateParam(uint16_t code);
// The differential coders, inline for the baud machine's runs.
inline VCBDMSTATUS vfxfDifenc4800(VCZTXMEM* t) {
  t->encout = static_cast<uint16_t>(((t->encout & 3) + vfxtGraymap4LUT[t->scout & 3]) & 3);
  return 0;
}
VCBDMSTATUS vfxfDifdec4800(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS v27fTxpn127(VCZTXMEM* txmem);

struct VFAXRATECONV {
  uint16_t rate;
  uint16_t code;
  uint16_t bps;
};

uint16_t vfxfGetBitRate(uint16_t rate);      // the rate code (desiredrate)
uint16_t vfxfGetBitsPerSec(uint16_t rate);

VCBDMSTATUS vfxfTxalt(VCZTXMEM* txmem);
VCBDMSTATUS vfxfTxpn127(VCZTXMEM* txmem);
VCBDMSTATUS vfxfTxtrn(VCZTXMEM* txmem);
inline VCBDMSTATUS vfxfDifenc9600(VCZTXMEM* t) {
  const uint16_t phase = static_cast<uint16_t>(((t->encout & 7) + vfxtGraymapLUT[(t->scout >> 1) & 7]) & 7);
  t->encout = static_cast<uint16_t>(phase + 8 * (t->scout & 1));
  return 0;
}
inline VCBDMSTATUS vfxfDifenc7200(VCZTXMEM* t) {
  t->encout = static_cast<uint16_t>(((t->encout & 7) + vfxtGraymapLUT[t->scout & 7]) & 7);
  return 0;
}
VCBDMSTATUS vfxfDifdec9600(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS vfxfDifdec7200(VCZRXMEM* rxmem, VCZBUF* rxlbuf);

void vfxStartTx(VFXLOCLMEM* m, uint16_t op1);
void vfxfBlkTsk(VFXLOCLMEM* m, const int16_t* frame);
void vfxStartRx(VFXLOCLMEM* m, uint16_t op1);
void vfxfBlkTskRx(VFXLOCLMEM* m, const int16_t* frame);

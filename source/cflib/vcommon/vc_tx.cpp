// Sample-rate converters and the transmit back end: bulk delay lines, modulator, pass-band pulse
// shaper and the 7200 -> 8000 samples per second transmit resampler.
#include "vc_math.h"

#include <cstring>

#include "vc_dot_avx2.h"
#include "vc_interp_avx2.h"
#include "vc_txpos.h"

const uint32_t vcrxInterpIncHigh[7] = {0x011C71C7, 0x00F8E38E, 0x00F3CF3C, 0x00E38E38,
                                       0x00D55555, 0x00C71C71, 0x01333333};
const uint32_t vcrxInterpIncLow[7] = {0x1C71C71C, 0x38E38E39, 0xF3CF3CF4, 0xE38E38E4,
                                      0x55555555, 0xC71C71C7, 0x33333333};

void vcfInitResample(int16_t index, VCZRESAMPLE* rs) {
  if (index < 0 || index > 6) index = 0;
  rs->interpSampPos = 0;
  rs->interpSampPosLow = 0;
  rs->interpSampInc = vcrxInterpIncHigh[index];
  rs->interpSampIncLow = vcrxInterpIncLow[index];
}

namespace {

template <class Collector>
__attribute__((always_inline)) inline int16_t resampleWith(VCZBUF* inSampBufRdp, const VCZBUF* inSampBufWrp,
                                                           VCZBUF* outSampBufp, VCZRESAMPLE* rs) {
  const int32_t avail = static_cast<int32_t>(inSampBufWrp->bufp - inSampBufRdp->bufp);
  if (avail <= 0) return 0;
  // position and output pointer in locals: written through the output, the records would be reloaded
  const int16_t* in = inSampBufRdp->bufp;
  Collector c{outSampBufp->bufp};
  uint64_t pos = vcPosJoin(rs->interpSampPos, rs->interpSampPosLow);
  const uint64_t step = vcPosStepOf(rs->interpSampInc, rs->interpSampIncLow);
  int16_t produced = 0;
  while (vcPosStepBefore(pos, step, avail)) {
    const uint32_t at = vcPosHigh(pos);
    c.push(in + vcPosInt(at), at);
    ++produced;
  }
  c.flush();
  outSampBufp->bufp = c.out;
  inSampBufRdp->bufp = inSampBufWrp->bufp;
  pos -= static_cast<uint64_t>(avail) << 56;
  rs->interpSampPos = vcPosHigh(pos);
  rs->interpSampPosLow = vcPosLow(pos);
  return produced;
}

int16_t resampleBase(VCZBUF* rd, const VCZBUF* wr, VCZBUF* out, VCZRESAMPLE* rs) {
  return resampleWith<VcInterpEach<>>(rd, wr, out, rs);
}

}  // namespace

int16_t vcfResample(VCZBUF* inSampBufRdp, const VCZBUF* inSampBufWrp, VCZBUF* outSampBufp,
                    VCZRESAMPLE* rs) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) return vcResampleAvx2(inSampBufRdp, inSampBufWrp, outSampBufp, rs);
#endif
  return resampleBase(inSampBufRdp, inSampBufWrp, outSampBufp, rs);
}

// ---- transmitter ----

void vcfInitBulkDly(int16_t* base, int16_t len, VCZMOD* mod) {
  for (int i = 0; i < 2 * len; ++i) base[i] = 0;
  mod->modWrtp = base;
}

void vcfSetTxAmplitude32(VCZMOD* mod, int16_t value) {
  mod->amplitude = static_cast<uint16_t>((14178 * static_cast<int32_t>(value)) >> 15);
}

void vcfInitTxParam32(VCZMOD* mod, int16_t amplitude) {
  // 31 samples of history in front, plus one guard sample below them: between symbols the
  // position may fall to just above 30, where the 32-tap read would reach one sample lower.
  mod->interpSampPos = 0x20000000;
  mod->interpSampPosLow = 0;
  mod->interpSampInc = 0x00E66666;  // 0.9 = 7200 / 8000
  mod->interpSampIncLow = 0x66666666;
  mod->phaseInc = 0xC0000000;  // 1800 Hz at 2400 baud: three quarters of a turn per symbol
  mod->carrierPhase = 0;
  vcfSetTxShaper(mod, 3, 20, vcgTxbandpassfilt32);
  vcfSetTxAmplitude32(mod, amplitude);
  for (int i = 0; i < mod->numSample + 32; ++i) mod->t3Samples[i] = 0;
}

void vcfSetTxShaper(VCZMOD* mod, int16_t ns, int16_t filtLen, const int16_t* taps) {
  mod->numSample = ns;
  mod->txFiltLen = filtLen;
  mod->passBandCoeffp = taps;
  VCZSHAPETAPS& t = mod->shape;
  t.from = nullptr;
  if (ns > VC_MAXSHAPESUMS / 2 || filtLen > 32) return;  // no laid-out form: the baseline one runs
  for (int d = 0; d < 2 * ns; ++d) {
    const int k = d < ns ? d : d - ns;
    const int16_t* c = taps + (d < ns ? 0 : ns * filtLen) + (ns - 1 - k) * filtLen;
    for (int i = 0; i < 16; ++i) {
      const int tap = filtLen - 16 + i;  // the tap of late lane i
      t.early[d][i] = filtLen > 16 ? c[i] : 0;
      t.late[d][i] = tap >= 0 && (filtLen <= 16 || tap >= 16) ? c[tap] : 0;
    }
  }
  for (int k = 0; k < ns; ++k)
    for (int i = 0; i < 8; ++i) {
      t.narrow[k][i] = t.late[k][8 + i];
      t.narrow[k][8 + i] = t.late[ns + k][8 + i];
    }
  t.from = taps;
}

void vcfInitFastBulkDly(const int16_t* base, const int16_t* wrp, int16_t len, VCZFASTBULKDLYHDL* hdl,
                        int16_t* fast, int16_t fastLen, int16_t hist) {
  const int32_t at = static_cast<int32_t>(wrp - base);
  int32_t src = (at - (hist - 1)) % len;  // the oldest sample kept, wrapped into the line
  if (src < 0) src += len;
  for (int i = 0; i < hist - 1; ++i) {
    fast[i] = base[src];
    fast[fastLen + i] = base[len + src];
    if (++src == len) src = 0;
  }
  hdl->fstBulkDlyLen = static_cast<uint16_t>(fastLen);
  hdl->fstStp = hdl->fstWrp = hdl->fstRdp = fast + hist - 1;
  hdl->fstEndp = fast + fastLen;
}

int16_t vcfCalcNumSymbols(const VCZBUF* buf, int16_t rateIndex) {
  const int32_t n = static_cast<int32_t>(buf->endp - buf->bufp);
  const uint16_t rate = vcgSymbolRateLUT[rateIndex];
  const uint16_t scaled = static_cast<uint16_t>(n << 8);
  return static_cast<int16_t>((scaled / (64000 / (rate >> 3))) >> 2);
}

namespace {

// Q15 convolution of the n + 1 samples ending at x with the taps ending at h, saturated.
template <class Dot>
__attribute__((always_inline)) inline int16_t convWith(const int16_t* x, const int16_t* h, int n) {
  return vcSat16(static_cast<int32_t>(Dot::dot(x - n, h - n, n + 1)) >> 15);
}

template <class Dot>
__attribute__((always_inline)) inline void txSymbolsWith(int16_t** out, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl) {
  // The modulator's state in locals for the run of symbols: written through the output pointer,
  // the record would be reloaded for every sample.
  int16_t t3[VC_T3SAMPLES];
  std::memcpy(t3, mod->t3Samples, sizeof(t3));
  const int ns = mod->numSample, taps = mod->txFiltLen;
  const int32_t limit = ns + 32;
  const int16_t* realBlocks = mod->passBandCoeffp;
  const int16_t* imagBlocks = mod->passBandCoeffp + ns * taps;
  const uint64_t step = vcPosStepOf(mod->interpSampInc, mod->interpSampIncLow);
  const int32_t amplitude = mod->amplitude;
  uint64_t pos = vcPosJoin(mod->interpSampPos, mod->interpSampPosLow);
  int16_t* rd = hdl->fstRdp;
  const int16_t* const wr = hdl->fstWrp;
  const int len = hdl->fstBulkDlyLen;
  int16_t* w = *out;
  for (; rd < wr; ++rd) {
    // pass-band pulse shaping: the symbol's samples at three (or six) times the symbol rate
    for (int k = 0; k < ns; ++k) {
      const int blk = ns - 1 - k;
      const int32_t y = convWith<Dot>(rd, realBlocks + blk * taps + taps - 1, taps - 1) -
                        convWith<Dot>(rd + len, imagBlocks + blk * taps + taps - 1, taps - 1);
      t3[33 + k] = vcSat16(y);
    }
    // resampled to 8000/s while both interpolation phases lie inside the line
    while (vcPosStepBefore(pos, step, limit)) {
      const uint32_t at = vcPosHigh(pos);
      const int32_t y = vcInterpAtWith<Dot>(&t3[vcPosInt(at)], at);
      *w++ = vcSat16((y * amplitude) >> 13);
    }
    int16_t kept[33];  // a fixed-size copy through a temporary: no library call per symbol
    std::memcpy(kept, t3 + ns, sizeof(kept));
    std::memcpy(t3, kept, sizeof(kept));
    pos -= static_cast<uint64_t>(ns) << 56;
  }
  std::memcpy(mod->t3Samples, t3, sizeof(t3));
  mod->interpSampPos = vcPosHigh(pos);
  mod->interpSampPosLow = vcPosLow(pos);
  hdl->fstRdp = rd;
  *out = w;
}

void txSymbolsBase(int16_t** out, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl) { txSymbolsWith<VcDotBase>(out, mod, hdl); }

}  // namespace

#if defined(VC_HAVE_AVX2_KERNELS)
namespace {
const bool gProcessorHasAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
bool gAvx2Allowed = true;
}  // namespace

bool vcHaveAvx2() { return gProcessorHasAvx2 && gAvx2Allowed; }
void vcAllowAvx2(bool allowed) { gAvx2Allowed = allowed; }
#else
bool vcHaveAvx2() { return false; }
void vcAllowAvx2(bool) {}
#endif

void vcfTxSymbols(int16_t** out, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2() && vcTxSymbolsAvx2(out, mod, hdl)) return;
#endif
  txSymbolsBase(out, mod, hdl);
}

void vcfModulateRun(int16_t* w, int n, int len, uint32_t* phase, uint32_t inc) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) {
    const int done = vcModulateRunAvx2(w, n, len, phase, inc);
    w += done;
    n -= done;
  }
#endif
  uint32_t ph = *phase;
  for (int i = 0; i < n; ++i) {
    const VCZCOMPLEX sig{w[i], w[i + len]};
    ph += inc;
    vcModulateAt(&sig, ph, w + i, len);
  }
  *phase = ph;
}

void vcfCopyToBulkDly(int16_t** wrpp, const int16_t* re, const int16_t* im, int16_t n, int16_t* base,
                      int16_t len) {
  int16_t* w = *wrpp;
  for (int i = 0; i < n; ++i) {
    w[0] = re[i];
    w[len] = im[i];
    if (++w >= base + len) w = base;
  }
  *wrpp = w;
}

void vcfCopyFromBulkDly(const int16_t** rdpp, int16_t* re, int16_t* im, int16_t n, const int16_t* base,
                        int16_t len) {
  const int16_t* r = *rdpp;
  for (int i = 0; i < n; ++i) {
    re[i] = r[0];
    im[i] = r[len];
    if (++r >= base + len) r = base;
  }
  *rdpp = r;
}

// Comfort-noise generator.
#include <algorithm>
#include <cstring>

#include "bandsplit.h"
#include "lhapi.h"
#include "lpc.h"
#include "lsv_math.h"
#include "vadcng.h"

namespace {

constexpr int16_t kInitSeed = 21845;
constexpr int16_t kSilentLevel = -23040;  // -90 dB
constexpr int16_t kLevelCap = -9216;      // -36 dB
constexpr int16_t kWhiteOffset = 2560;    // white noise runs 10 dB below the SID level
constexpr int kMaxChunk = 80;

constexpr int16_t kHothNarrow[GCNG_ORDER + 1] = {4096, -3516, 491, -339, 176, -80, 51};
constexpr int16_t kHothNarrowAlpha = -1130;
constexpr int16_t kHothWide[GCNG_ORDER + 1] = {4096, -4984, 1302, -25, 39, -56, 76};
constexpr int16_t kHothWideAlpha = -2204;

void loadHoth(GCNG* c, bool wide) {
  std::memcpy(c->a, wide ? kHothWide : kHothNarrow, sizeof(c->a));
  c->alpha = wide ? kHothWideAlpha : kHothNarrowAlpha;
}

int16_t sidLevel(const uint16_t* datap) {
  const int L = datap[0] >> 8;
  const int level = (L >= 1 && L <= 89) ? -256 * L : kSilentLevel;
  return static_cast<int16_t>(std::min(level, int{kLevelCap}));
}

}  // namespace

void cngInit(GCNG* c, int16_t noisetype) {
  c->noisetype = static_cast<HAPI_GCNG_NOISETYPE>(noisetype);
  c->widebandcfg = 0;
  std::memset(c->__bandCombineHist, 0, sizeof(c->__bandCombineHist));
  c->seed = kInitSeed;
  c->level = kSilentLevel;
  loadHoth(c, false);
  std::memset(c->filtState, 0, sizeof(c->filtState));
}

void cngCfg(GCNG* c, int16_t noisetype, uint16_t widebandcfg) {
  if (c->noisetype == noisetype && c->widebandcfg == widebandcfg) return;
  c->noisetype = static_cast<HAPI_GCNG_NOISETYPE>(noisetype);
  c->widebandcfg = widebandcfg;
  c->seed = kInitSeed;
  c->level = kSilentLevel;
  loadHoth(c, noisetype == HAPI_GCNG_HOTHNOISE && widebandcfg == 1);
  std::memset(c->filtState, 0, sizeof(c->filtState));
}

void cng(int16_t* y, const int16_t* a, int16_t* state, int16_t* seed, int16_t level, int16_t alpha,
         int m, int n, int16_t* scratchp) {
  if (n < 2) {
    LHAPI_ASSERT_FAIL();
    if (n <= 0) return;
  }
  const int g = level + 3072;
  if (m == 0) {
    lsvmath::utilRand(y, seed, lsvmath::utildB2scale(g), n);
    return;
  }
  if (alpha > 0) {
    const int32_t ratio = lpc_pred2refl(a, nullptr, m);
    alpha = ratio > 0 ? lsvmath::utilPower2dB(static_cast<uint32_t>(ratio) << 16, 0) : 0;
  }
  lsvmath::utilRand(scratchp, seed, lsvmath::utildB2scale(g + alpha), n);
  lpc_synthesis(m, a, scratchp, y, n, state, 1, scratchp + n);
}

void cngProcess(GCNG* c, int16_t* s, uint16_t* datap, uint16_t packetlen, uint16_t n) {
  const bool wide = c->widebandcfg == 1;
  const bool widened = wide && c->noisetype == HAPI_GCNG_MATCHSPECTRUM;
  const int total = wide ? 2 * n : n;
  if (c->noisetype == HAPI_GCNG_NOISEOFF && !widened) {
    std::memset(s, 0, total * sizeof(int16_t));
    return;
  }
  if (packetlen != 0 && datap != nullptr) {
    c->level = sidLevel(datap);
    if (c->noisetype == HAPI_GCNG_WHITENOISE) c->level = static_cast<int16_t>(c->level - kWhiteOffset);
  }
  int order = 0;
  if (c->noisetype != HAPI_GCNG_WHITENOISE) {
    loadHoth(c, wide);
    order = GCNG_ORDER;
  }
  int16_t scratch[2 * kMaxChunk + GCNG_ORDER];
  if (widened) {
    // Noise at 8 kHz in 5 ms pieces, each widened to 16 kHz with a silent high band.
    static const int16_t silentHigh[kMaxChunk] = {};
    int16_t* hist = reinterpret_cast<int16_t*>(c->__bandCombineHist);
    for (int off = 0; off + 40 <= n; off += 40) {
      int16_t piece[40];
      cng(piece, c->a, c->filtState, &c->seed, c->level, c->alpha, order, 40, scratch);
      bandCombine2(piece, silentHigh, s + 2 * off, hist);
    }
    return;
  }
  const int chunk = wide ? 80 : 40;
  for (int off = 0; off < total; off += chunk) {
    const int len = std::min(chunk, total - off);
    cng(s + off, c->a, c->filtState, &c->seed, c->level, c->alpha, order, len, scratch);
  }
}

// The near-end direction: cancellation, background adaptation and push, the ERL and ERLE
// trackers, the non-linear processor and the ingress gain, block by block.
#include <algorithm>
#include <cstring>

#include "ecan.h"
#include "lhapi.h"
#include "lms.h"
#include "lsv_math.h"
#include "vadcng.h"

namespace {

constexpr int16_t dB(int x) { return static_cast<int16_t>(x * Q_DB); }
constexpr int16_t kQuietFar = -36 * Q_DB;
// The background adapts in sub-blocks of two samples: a block gradient over correlated input
// (speech) adds up coherently, and short sub-blocks keep the update close to sample-by-sample
// NLMS. The step exponent starts at -9: block energies are measured >> 9, and 2^-9 brings the
// normalised step back to about three quarters.
constexpr int16_t kStepBias = -9;
constexpr int kAdaptBlock = 2;
constexpr int16_t kBgStepQ15 = 24000;
constexpr int kStatePeriodMs = 5000;
constexpr int kAcomPeriodMs = 1000;

int16_t powerDb(uint32_t p) { return lsvmath::utilPower2dB(p, 4073); }

int16_t minErl(const HEC* hec) { return hec->regs.minmaxERLdB[0]; }

// The far-end peak and trough over the last seven blocks.
void hecPeakLevel(HEC* hec, int16_t level, int16_t* peak, int16_t* trough) {
  PEAKLEV& p = hec->rOutPeak;
  p.level[p.index] = level;
  p.index = static_cast<int16_t>(p.index >= 6 ? 0 : p.index + 1);
  *peak = *std::max_element(p.level, p.level + 7);
  *trough = *std::min_element(p.level, p.level + 7);
}

// Near-end speech stops adaptation and holds it off for a while.
bool hecNearDetectAdapt(HEC* hec, int16_t sIn, int16_t rOutPeak) {
  int16_t& hang = hec->hangCount.adapt;
  if (sIn > -36 * Q_DB && sIn > rOutPeak + dB(5) - minErl(hec)) {
    hang = sIn < -24 * Q_DB ? std::max<int16_t>(hang, 10) : 50;
    return false;
  }
  if (hang > 0) --hang;
  return hang == 0;
}

void highLevelWatch(HEC* hec, int16_t far) {
  HANGCOUNTER& h = hec->hangCount;
  const int16_t peak = hec->regs.volCompressordB[0];
  if (peak < dB(6) && far > peak) {
    h.clipped = static_cast<int16_t>(std::min(32767, h.clipped + 1));
    if (h.highLevel == 0) ecanEvent(hec, HAPI_HEC_HIGHLEVEL_EVT, h.clipped, 14);
    h.highLevel = 14;
  } else if (h.highLevel > 0 && --h.highLevel == 0) {
    ecanEvent(hec, HAPI_HEC_HIGHLEVEL_EVT, h.clipped, 0);
  }
}

void ecanErlEstimate(HEC* hec, uint32_t sInPwr, uint32_t rOutPwr, bool slow) {
  ERLTRK& t = hec->erlTracker;
  const int shift = slow ? 5 : 7;
  t.sIn += (static_cast<int32_t>(std::min<uint32_t>(sInPwr, INT32_MAX)) - t.sIn) >> shift;
  t.rOut += (static_cast<int32_t>(std::min<uint32_t>(rOutPwr, INT32_MAX)) - t.rOut) >> shift;
  const int16_t d = static_cast<int16_t>(powerDb(static_cast<uint32_t>(t.rOut)) -
                                         powerDb(static_cast<uint32_t>(t.sIn)));
  if (t.cnt > 0) {
    t.erlMeandB = static_cast<int16_t>(t.erlMeandB + ((d - t.erlMeandB) >> 4));
    --t.cnt;
  } else {
    const int diff = t.erlMeandB - t.erldB;
    if (!slow || diff > 0) t.erldB = static_cast<int16_t>(t.erldB + (diff > dB(10) ? diff / 2 : diff / 8));
    t.cnt = 15;
  }
  hec->state.erldB = std::max(hec->state.erldB, t.erldB);
}

void ecanErleEstimate(HEC* hec, uint32_t sInPwr, uint32_t sOutPwr, int16_t sIndB, int16_t sOutdB,
                  int16_t peak, bool slow) {
  if (slow || sOutdB > peak - dB(15)) return;
  ERLETRK& t = hec->erleTracker;
  t.sIn += (static_cast<int32_t>(std::min<uint32_t>(sInPwr, INT32_MAX)) - t.sIn) >> 7;
  t.sOut += (static_cast<int32_t>(std::min<uint32_t>(sOutPwr, INT32_MAX)) - t.sOut) >> 7;
  if (t.cnt > 0) {
    --t.cnt;
    return;
  }
  const int longTerm = powerDb(static_cast<uint32_t>(t.sIn)) - powerDb(static_cast<uint32_t>(t.sOut) | 1);
  if (longTerm > t.erledB + dB(1)) t.erledB = static_cast<int16_t>(t.erledB + dB(1));
  const int r = sIndB - sOutdB;
  if (r >= t.erledB + 32) {
    t.erledB = static_cast<int16_t>(t.erledB + 32);
  } else if (r <= t.erledB - 16) {
    t.erledB = static_cast<int16_t>(t.erledB - 16);
  }
}

void clearPushAverages(HEC* hec) { hec->pushTracker = PUSHTRK{}; }

// Energy of a set of taps in dB (a tap of 1.0 is 0 dB), not limited at 0 dB.
int16_t coeffEnergyDb(const int16_t* h) {
  int64_t e = 0;
  for (int k = 0; k < HEC_TAPS; ++k) e += int32_t{h[k]} * h[k];
  int16_t offset = 0;
  while (e > 0x3FFFFFFF) {  // two bits at a time: 6.02 dB
    e >>= 2;
    offset = static_cast<int16_t>(offset + 1541);
  }
  return static_cast<int16_t>(lsvmath::utilPower2dB(static_cast<uint32_t>(2 * e), 0) + offset);
}

// Energy of the foreground taps in dB, and where the largest one sits.
int16_t tapEnergyDb(HEC* hec) {
  int peak = 0;
  int idx = 0;
  for (int k = 0; k < HEC_TAPS; ++k) {
    const int a = std::abs(int{hec->hFg[k]});
    if (a > peak) {
      peak = a;
      idx = k;
    }
  }
  hec->state.peakReflector = static_cast<int16_t>(idx);
  hec->state.peakReflectorValue = static_cast<int16_t>(std::min(peak, 32767));
  return coeffEnergyDb(hec->hFg);
}

// A hybrid returns less than it is sent: its echo-return loss is at least the minimum the
// registers allow, and never below 0 dB. Background taps that would return more than that (with
// 6 dB of slack for the estimate, and never less than unity gain) are no echo path: the
// background has followed something else, typically a near-end tone that a weak component of a
// tonal far end correlates with (a 2,700 Hz tone through A-law carries its 15th harmonic at
// 500 Hz). Pushed, they would cancel the near end itself; so the background starts again from
// the foreground instead.
void guardBackground(HEC* hec) {
  if (coeffEnergyDb(hec->hBg) <= std::max<int>(0, dB(6) - minErl(hec))) return;
  std::memcpy(hec->hBg, hec->hFg, sizeof(hec->hBg));
  hec->AcomDelta = 0;
  clearPushAverages(hec);
}

void push(HEC* hec, int reason) {
  std::memcpy(hec->hFg, hec->hBg, sizeof(hec->hFg));
  hec->state.erlcdB = static_cast<int16_t>(-tapEnergyDb(hec));
  hec->AcomDelta = 0;
  hec->state.erldB = hec->erlTracker.erldB;
  if (hec->state.erlcdB < hec->erlTracker.erldB && hec->erleTracker.erledB > dB(10)) {
    hec->state.erldB = hec->state.erlcdB;
  }
  hec->state.erledB = hec->erleTracker.erledB;
  ecanEvent(hec, HAPI_HEC_PUSH_EVT, static_cast<uint16_t>(reason), static_cast<uint16_t>(hec->AcomdBPush));
  clearPushAverages(hec);
  hec->resetTracker = RESETTRK{};
}

// Decides whether the adapted background replaces the foreground.
void pushCheck(HEC* hec, int16_t peakWin, int16_t peak, int16_t fgOut, int16_t bgOut) {
  const bool converged = hec->state.state & HAPI_HEC_STATE_CONVERGED;
  int reason = 0;
  if (!(converged && hec->hangCount.nlpState < 1)) {
    PUSHTRK& p = hec->pushTracker;
    if (peakWin < kQuietFar) {
      clearPushAverages(hec);
    } else if (bgOut > fgOut - dB(1)) {
      clearPushAverages(hec);
    } else {
      p.AcomFgAvg = static_cast<int16_t>(p.AcomFgAvg + (peak - fgOut) / 8);
      p.AcomBgAvg = static_cast<int16_t>(p.AcomBgAvg + (peak - bgOut) / 8);
      if (++p.count >= 8) {
        if (p.AcomBgAvg > hec->AcomdBPush + dB(1)) {
          reason = 1;
        } else if (p.AcomBgAvg > p.AcomFgAvg + dB(5)) {
          reason = 2;
        }
        if (reason != 0) hec->AcomdBPush = p.AcomBgAvg;
        clearPushAverages(hec);
      }
    }
  }
  hec->AcomDelta += ((fgOut - bgOut) - hec->AcomDelta) / 128;
  if (reason == 0 && hec->AcomDelta / Q_DB > 3) reason = 3;
  if (reason != 0) push(hec, reason);
}

// Convergence is judged on the ERLE tracker's running estimate: the canceller's own erledB is
// refreshed only at a push, and a settled canceller stops pushing.
void convergence(HEC* hec) {
  const int acom = hec->state.erldB + std::max(hec->state.erledB, hec->erleTracker.erledB);
  const bool was = hec->state.state & HAPI_HEC_STATE_CONVERGED;
  if (!was && acom > dB(30)) {
    hec->state.state |= HAPI_HEC_STATE_CONVERGED;
    ecanEvent(hec, HAPI_HEC_CONVERGED_EVT, 1, 0);
    clearPushAverages(hec);
  } else if (was && acom < dB(27)) {
    hec->state.state &= static_cast<uint16_t>(~HAPI_HEC_STATE_CONVERGED);
    ecanEvent(hec, HAPI_HEC_CONVERGED_EVT, 0, 0);
    clearPushAverages(hec);
  }
}

// The non-linear processor's replacement of a block: silence, or comfort noise at the output's
// noise floor shaped by the noise model.
void nlpReplace(HEC* hec, int16_t* out, int16_t* companion) {
  if (companion != nullptr) std::memset(companion, 0, 2 * HEC_BLOCK * sizeof(int16_t));
  if (hec->regs.options & HAPI_HEC_CNG_OFF) {
    std::memset(out, 0, HEC_BLOCK * sizeof(int16_t));
    return;
  }
  int16_t level = hec->state.LsoutMin;
  if (hec->regs.options & HAPI_HEC_CNG_CAP_ON) level = std::min<int16_t>(level, -65 * Q_DB);
  int16_t scratch[2 * HEC_BLOCK + GCNG_ORDER];
  cng(out, hec->sOutLevFlat.a, hec->cngState, &hec->seed, level, hec->sOutLevFlat.alpha, GCNG_ORDER,
      HEC_BLOCK, scratch);
}

void applyGain(HEC* hec, int16_t* x, int16_t* companion, int n) {
  if (hec->regs.gaindB == 0) return;  // 0 dB passes the samples untouched
  const int16_t g = hec->regs.gaindB < -90 * Q_DB ? HAPI_HEC_GAIN_MIN : hec->regs.gaindB;
  const int16_t scale = lsvmath::utildB2scale(g - 30 * Q_DB);
  // A settled gain passes silence as it is: the whole frame is looked at once, not block by block.
  if (levelGainSettled(&hec->gainCompState, scale) && lsvmath::utilIsSilent(x, n) &&
      (companion == nullptr || lsvmath::utilIsSilent(companion, 2 * n))) {
    return;
  }
  for (int off = 0; off + HEC_BLOCK <= n; off += HEC_BLOCK) {
    levelGain1(x + off, companion != nullptr ? companion + 2 * off : nullptr, &hec->gainCompState,
               scale, HEC_BLOCK);
  }
}

void modeBits(HEC* hec) {
  const uint16_t old = hec->state.state & HAPI_HEC_MODE_DOUBLETALK;
  uint16_t mode = 0;
  if (hec->hangCount.farEnd > 0) mode |= HAPI_HEC_MODE_RECEIVE;
  if (hec->hangCount.longTerm > 0) mode |= HAPI_HEC_MODE_SEND;
  if (mode == old) return;
  hec->state.state = static_cast<uint16_t>((hec->state.state & ~HAPI_HEC_MODE_DOUBLETALK) | mode);
  ecanEvent(hec, HAPI_HEC_STATE_EVT, mode, old);
  if ((mode ^ old) & HAPI_HEC_MODE_SEND) {
    const HANGCOUNTER& h = hec->hangCount;
    ecanEvent(hec, HAPI_HEC_NEAREND_EVT, static_cast<uint16_t>((h.unwht.hc << 8) | (h.wht.hc & 0xFF)),
              static_cast<uint16_t>(h.high.hc << 8));
  }
}

// What the two halves of a block's processing share.
struct BlockVals {
  int16_t in[HEC_BLOCK];  // the near-end input before cancellation
  uint32_t sInPwr;
  uint32_t rOutPwr;
  uint32_t e;             // output power
  int16_t peak;
  int16_t trough;
};

// The adaptive part of one 40-sample block: levels, cancellation, background adaptation, the
// output levels and the activity detection.
void hecIngress1(HEC* hec, HEC_T* t, int b, int16_t* sIn, const int16_t* ref, BlockVals* v) {
  const int T = t->tailLength;
  const uint16_t options = hec->regs.options;
  int16_t scratch[4 * HEC_BLOCK];
  std::memcpy(v->in, sIn, sizeof(v->in));
  const int16_t* in = v->in;

  v->rOutPwr = levelBlockPwrHpf(ref, HEC_BLOCK, 8, &hec->hpfa);
  v->sInPwr = levelBlockPwrHpf(in, HEC_BLOCK, 8, &hec->hpfc);
  levelEstimator(&hec->rOutLev.est, &t->rOutdB[b], 0, LEV_FLAG_MINMAX, v->rOutPwr, ref, HEC_BLOCK, nullptr);
  levelEstimator(&hec->sInLev, &t->sIndB[b], 0, 0, v->sInPwr, in, HEC_BLOCK, nullptr);
  highLevelWatch(hec, t->rOutdB[b].blk);
  hecPeakLevel(hec, t->rOutdB[b].blk, &v->peak, &v->trough);
  t->rOutPeakdB[b] = LEV_LS{v->peak, std::max(v->peak, t->rOutdB[b].win)};
  t->rOutTroughdB[b] = v->trough;
  const bool adaptAllowed = hecNearDetectAdapt(hec, t->sIndB[b].blk, v->peak);

  // Foreground cancellation; the background's error is measured from the same filter state.
  int32_t uBg = hec->sOutLev.mm2.mm.est.u;
  v->e = lmsCancel(sIn, ref, hec->hFg, in, T, HEC_BLOCK, &hec->sOutLev.mm2.mm.est.u, scratch);
  t->sOutdBFg[b] = powerDb(v->e);

  t->adapted[b] = 0;
  t->sOutPwrBg[b] = 0;
  if (adaptAllowed && !(options & HAPI_HEC_ADAPT_OFF)) {
    int16_t stepExp = kStepBias;
    const int16_t step = lmsStepSize(ref, &stepExp, HEC_BLOCK, 32767, 20, T);
    if (step != 0) {
      t->sOutPwrBg[b] = lmsBlockAdapt(in, ref, hec->hBg, static_cast<int16_t>((step * kBgStepQ15) >> 15),
                                      stepExp, HEC_BLOCK, kAdaptBlock, T, &uBg, scratch);
      t->adapted[b] = 1;
      hec->state.adaptCount = static_cast<int16_t>(hec->state.adaptCount + 1);
      guardBackground(hec);
    }
  }

  // Divergence guard: an output louder than twice the input while the floor is watched.
  if (v->sInPwr < v->e / 2 && hec->hangCount.lowLevel > 0) {
    std::memcpy(sIn, in, sizeof(v->in));
    v->e = v->sInPwr;
    hec->hangCount.lowLevel = 50;
  }

  // Output levels; the noise floor and its spectral model learn only while the far end is quiet.
  const bool farQuiet = t->rOutdB[b].win <= kQuietFar;
  const uint16_t outFlags = farQuiet ? 0x1C : (0x1C | LEV_FLAG_HOLD_MIN2 | LEV_FLAG_TRACK_HOLD);
  LEV_LS flat{};
  levelEstimator(&hec->sOutLev.mm2.mm.est, &t->sOutdB[b], 0, outFlags, v->e, nullptr, HEC_BLOCK, nullptr);
  levelEstimator(&hec->sOutLevFlat.mm2.mm.est, &flat, 0, outFlags, levelBlockPower(sIn, HEC_BLOCK, 8),
                 sIn, HEC_BLOCK, scratch);
  hec->state.LsoutMin = hec->sOutLevFlat.mm2.mm.levMin;
  hec->state.LroutMin = hec->rOutLev.levMin;
  t->doubletalk = hecNearFarDetect(hec, t, b);
  hec->state.Lrout = t->rOutdB[b].blk;
  hec->state.Lrin = static_cast<int16_t>(hec->state.Lrout - hec->regs.volumedB);
  hec->state.Lsin = t->sIndB[b].blk;
  hec->state.Lsout = t->sOutdB[b].blk;
  modeBits(hec);
}

// After cancellation: ERL and ERLE, reports, push, the non-linear processor, convergence and
// the ingress gain.
void hecIngress2(HEC* hec, HEC_T* t, int b, int16_t* sIn, int16_t* companion, const BlockVals& v) {
  const uint16_t options = hec->regs.options;
  const bool slow = hec->hangCount.adapt > 0 || t->rOutdB[b].win <= kQuietFar;
  ecanErlEstimate(hec, v.sInPwr, v.rOutPwr, slow);
  ecanErleEstimate(hec, v.sInPwr, v.e, t->sIndB[b].blk, t->sOutdB[b].blk, v.peak, slow);
  if (options == 0 && hec->frameCount % kAcomPeriodMs == 0) {
    ecanEvent(hec, HAPI_HEC_ACOM_EVT, 32767,
              static_cast<uint16_t>((HEC_DBQ82DB(hec->state.erldB) << 8) | (HEC_DBQ82DB(hec->state.erledB) & 0xFF)));
  }
  if (t->rOutdB[b].win > kQuietFar && v.trough - t->sIndB[b].blk > hec->state.erldB + dB(1)) {
    ecanEvent(hec, HAPI_HEC_LEVEL_EVT, static_cast<uint16_t>(v.trough), static_cast<uint16_t>(t->sIndB[b].blk));
  }
  if (!(options & HAPI_HEC_PUSH_OFF) && t->adapted[b]) {
    pushCheck(hec, t->rOutPeakdB[b].win, v.peak, t->sOutdBFg[b], powerDb(t->sOutPwrBg[b]));
  }

  const uint16_t before = hec->state.nlp;
  t->nlp = hecNLPdecision(hec, t, b);
  const bool nlpOn = hec->state.nlp & 1;
  if (!(options & HAPI_HEC_NLP_OFF) && nlpOn) nlpReplace(hec, sIn, companion);
  if ((before ^ hec->state.nlp) & 1) ecanEvent(hec, HAPI_HEC_NLP_EVT, hec->state.nlp & 1, t->nlp);

  const int16_t smaller = std::min(t->sIndB[b].blk, t->sOutdB[b].blk);
  if (hec->state.LsoutMin > smaller - dB(6)) {
    hec->hangCount.lowLevel = 50;
  } else {
    hec->hangCount.lowLevel = static_cast<int16_t>(std::max(0, hec->hangCount.lowLevel - 5));
  }
  hec->hangCount.erleGood = static_cast<int16_t>(
      t->sIndB[b].blk - t->sOutdB[b].blk > dB(10) ? std::min(11, hec->hangCount.erleGood + 1) : 0);
  convergence(hec);
  applyGain(hec, sIn, companion, HEC_BLOCK);
  hec->frameCount += 5;
}

void afterFrame(HEC* hec, uint32_t before) {
  std::memcpy(hec->state.acng, hec->sOutLevFlat.a + 1, sizeof(hec->state.acng));
  if (hec->coeffIndex >= 0) {
    ecanEventExt(hec, HAPI_HEC_GETCOEFF_EVT, hec->hFg + hec->coeffIndex, 64);
    hec->coeffIndex = static_cast<int16_t>(hec->coeffIndex + 32);
    if (hec->coeffIndex >= HEC_TAPS) hec->coeffIndex = -1;
  }
  if ((hec->regs.eventMask & 0x8000) && before / kStatePeriodMs != hec->frameCount / kStatePeriodMs) {
    ecanEventExt(hec, HAPI_HEC_GETSTATE_EVT, &hec->state, sizeof(hec->state));
  }
}

}  // namespace

void hecIngress(HEC* hec, int16_t* sIn, int16_t* companion, int frameSize) {
  if (frameSize % HEC_BLOCK != 0 || frameSize > 2 * HEC_BLOCK || frameSize <= 0) {
    LHAPI_ASSERT_FAIL();
    frameSize = std::clamp(frameSize - frameSize % HEC_BLOCK, 0, 2 * HEC_BLOCK);
  }
  static int16_t zeroCompanion[160];
  const bool spare = companion == nullptr;
  if (spare) {
    std::memset(zeroCompanion, 0, sizeof(zeroCompanion));
    companion = zeroCompanion;
  }
  const uint16_t options = hec->regs.options;
  const int16_t* ref = hec->rOutBuf + HEC_TAPS;
  if (options & (HAPI_HEC_BYPASS_ON | HAPI_HEC_LOOPBACK_ON)) {
    if (options & HAPI_HEC_LOOPBACK_ON) {
      std::memcpy(sIn, ref, frameSize * sizeof(int16_t));
      std::memset(companion, 0, 2 * frameSize * sizeof(int16_t));
    }
    applyGain(hec, sIn, companion, frameSize);
    hec->frameCount += static_cast<uint32_t>(frameSize / 8);
  } else {
    HEC_T t{};
    t.tailLength = HEC_TAPS;
    const uint32_t before = hec->frameCount;
    for (int b = 0; b * HEC_BLOCK < frameSize; ++b) {
      BlockVals v;
      hecIngress1(hec, &t, b, sIn + b * HEC_BLOCK, ref + b * HEC_BLOCK, &v);
      hecIngress2(hec, &t, b, sIn + b * HEC_BLOCK, companion + 2 * b * HEC_BLOCK, v);
    }
    afterFrame(hec, before);
  }
  if (options & HAPI_HEC_MUTE_ON) {
    std::memset(sIn, 0, frameSize * sizeof(int16_t));
    std::memset(companion, 0, 2 * frameSize * sizeof(int16_t));
  }
}

void ecanSuppressor(int16_t* x, int16_t target, int16_t level, int count) {
  if (level <= target) return;
  const int16_t scale = lsvmath::utildB2scale(target - level);
  for (int i = 0; i < count; ++i) x[i] = static_cast<int16_t>((int32_t{x[i]} * scale + 16384) >> 15);
}

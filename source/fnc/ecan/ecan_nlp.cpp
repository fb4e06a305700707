// Near-end and far-end activity and the non-linear processor's decision.
#include <algorithm>

#include "ecan.h"

namespace {

constexpr int dB(int x) { return x * Q_DB; }

// A positive metric counts towards a near-end hang; a clear one or a burst of six starts it.
void hecHangcountSet(HEC* hec, int metric, HBC* c, int16_t hang) {
  if (metric > 0) {
    c->burst = static_cast<int16_t>(c->burst + 1);
    if (metric > dB(6) || c->burst >= 6) {
      c->hc = std::max(c->hc, hang);
      c->burst = std::min<int16_t>(c->burst, 10);
      hec->hangCount.erleGood = 0;
    }
  } else {
    if (c->hc > 0) --c->hc;
    if (c->burst > 0) --c->burst;
  }
}

bool nearHangRuns(const HANGCOUNTER& h) {
  if (h.unwht.hc > 0 || h.wht.hc > 0 || h.high.hc > 0) return true;
  for (const HBC& s : h.sb) {
    if (s.hc > 0) return true;
  }
  return false;
}

}  // namespace

int16_t hecNearFarDetect(HEC* hec, const HEC_T* t, int b) {
  HANGCOUNTER& h = hec->hangCount;
  const int peak = t->rOutPeakdB[b].blk;
  const int metric = t->sOutdB[b].win > hec->state.LsoutMin + dB(10)
                         ? t->sIndB[b].blk - (peak + dB(5) - hec->regs.minmaxERLdB[0])
                         : -1;
  hecHangcountSet(hec, metric, &h.unwht, 20);
  const int16_t farWin = t->rOutdB[b].win;
  if (farWin > hec->state.LroutMin + dB(10)) {
    h.farEnd = farWin < -24 * Q_DB ? std::max<int16_t>(h.farEnd, 10) : 50;
  } else if (h.farEnd > 0) {
    --h.farEnd;
  }
  if (nearHangRuns(h)) {
    h.longTerm = 100;
  } else if (h.longTerm > 0) {
    --h.longTerm;
  }
  if (h.erleGood >= 11) h.longTerm = 0;
  return static_cast<int16_t>(h.longTerm != 0 && h.farEnd != 0);
}

uint16_t hecNLPdecision(HEC* hec, const HEC_T* t, int b) {
  const HANGCOUNTER& h = hec->hangCount;
  const int r = t->rOutdB[b].blk;
  const int p = t->rOutPeakdB[b].blk;
  const int bo = t->sOutdB[b].blk;
  const int w = t->sOutdB[b].win;
  const bool useWin = std::abs(bo - w) < dB(6);
  const int s = useWin ? w : bo;
  const int i = useWin ? t->sIndB[b].win : t->sIndB[b].blk;
  const int rMax = std::max(r, p);
  const int erl = std::clamp<int>(hec->state.erldB, hec->regs.minmaxERLdB[0], hec->regs.minmaxERLdB[1]);
  const int erle = std::clamp<int>(hec->state.erledB, 0, dB(27));
  const int acom = erl + erle;
  const int floor = hec->state.LsoutMin;
  const int farMax = hec->rOutLev.levMax;
  const int state = h.nlpState;

  uint16_t bits = 0;
  if (bo < dB(-72)) bits |= 0x0001;
  if (state < 0 && rMax + dB(10) - acom < dB(-72)) bits |= 0x0002;
  if (state < 0 && rMax - erl < dB(-72)) bits |= 0x0004;
  if (h.unwht.hc > 0 || h.wht.hc > 0) bits |= 0x0008;
  if (rMax + dB(10) - erl < floor) bits |= 0x0010;
  if (rMax + dB(10) - acom < floor) bits |= 0x0020;
  if (state > 0 && r < farMax - dB(10) && bo < farMax - dB(30)) bits |= 0x0040;
  if (state > 0 && r < farMax - dB(10) && bo < r - dB(20)) bits |= 0x0080;
  if (r - bo < erl - dB(6)) bits |= 0x0100;
  if (rMax - bo < dB(40) && i - s < erle - dB(10)) bits |= 0x0200;
  if (rMax - std::min(w, bo) < (acom > dB(50) ? dB(40) : acom - dB(10))) bits |= 0x0400;
  if (rMax + dB(10) - acom < dB(-72)) bits |= 0x1000;
  if (rMax - erl < dB(-72)) bits |= 0x2000;
  if (p > dB(6)) bits |= 0x4000;
  if (h.longTerm > 0) bits |= 0x8000;

  // on: the decision; hold: the run counter keeps its value.
  bool on;
  bool hold = false;
  if (bits & 0x003F) {
    on = false;
    hold = (bits & 0x0037) != 0;
  } else if (bits & (0x0040 | 0x0080 | 0x4000)) {
    on = true;
  } else if (bits & 0x0F00) {
    on = false;
  } else if (bits & (0x1000 | 0x2000)) {
    on = false;
    hold = true;
  } else {
    on = true;
  }
  hec->state.nlp = static_cast<uint16_t>((hec->state.nlp << 1) | (on ? 1 : 0));
  int16_t& run = hec->hangCount.nlpState;
  if (!hold) {
    if (on) {
      run = run > 0 ? static_cast<int16_t>(std::min(32767, run + 1)) : 1;
    } else {
      run = run < 0 ? static_cast<int16_t>(std::max(-32768, run - 1)) : -1;
    }
  }
  return bits;
}

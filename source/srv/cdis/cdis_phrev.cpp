// Phase reversals of the 2100 Hz answer tone: the second difference of the tone's phase, taken
// 40 samples apart in each chunk, jumps by half a turn in the two chunks around a reversal.
#include "cdis.h"
#include "cdis_filters.h"
#include "dsputil.h"

namespace {

constexpr int16_t kHalfTurn = 804;   // pi in hsfAtan units
constexpr int16_t kFullTurn = 1608;
constexpr int16_t kReversal = 636;   // about 142 degrees
constexpr uint16_t kStartChunks = 4;

int16_t phaseAt(const int16_t* newest) {
  int16_t pair[2];
  cdisPhRevFilter(newest, &pair[0], &pair[1]);
  cdisNormInput(&pair[0], &pair[1]);
  int16_t phase = 0;
  hsfAtan(pair, &phase, 1);
  return phase;
}

// Folded magnitude of the second difference at one point; updates that point's history.
int16_t secondDifference(int16_t phase, int16_t* prevPhase, int16_t* prevDiff) {
  const int diff = phase - *prevPhase;
  int v = diff - *prevDiff;
  if (v < 0) v = -v;
  while (v > kFullTurn) v -= kFullTurn;
  if (v > kHalfTurn) v = kFullTurn - v;
  *prevPhase = phase;
  *prevDiff = static_cast<int16_t>(diff);
  return static_cast<int16_t>(v);
}

}  // namespace

void phrevReset(HSZPHREVMEM* p) {
  *p = HSZPHREVMEM{};
  p->phRevTimeout = 150;
  p->phRevRate = 10;
}

bool cdisPhRev(HSZPHREVMEM* p, const int16_t* mediaData) {
  const int16_t v1 = secondDifference(phaseAt(mediaData + 33), &p->phase10, &p->phase11);
  const int16_t v2 = secondDifference(phaseAt(mediaData + 73), &p->phase20, &p->phase21);
  p->phaseDiff12 = p->phaseDiff11;
  p->phaseDiff11 = v1;
  p->phaseDiff22 = p->phaseDiff21;
  p->phaseDiff21 = v2;
  if (p->phRevCount > 0) p->phRevInterval = static_cast<uint16_t>(p->phRevInterval + p->phRevRate);
  if (p->phRevStartDlyCnt < kStartChunks) {
    p->phRevStartDlyCnt += 1;
    return false;
  }
  const bool found = (p->phaseDiff11 >= kReversal && p->phaseDiff12 >= kReversal) ||
                     (p->phaseDiff21 >= kReversal && p->phaseDiff22 >= kReversal);
  if (!found) return false;
  p->phRevDetected = 1;
  if (p->phRevCount > 0 && p->phRevInterval >= 400 && p->phRevInterval <= 500) {
    p->phRevCount += 1;
  } else {
    p->phRevCount = 1;
  }
  p->phRevInterval = 0;
  // The reversal is seen in two chunks running; forget it so that it is counted once.
  p->phaseDiff11 = p->phaseDiff21 = 0;
  return true;
}

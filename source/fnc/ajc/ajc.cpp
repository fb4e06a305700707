// The jitter buffer's arithmetic, reset and arrival handling.
#include <algorithm>

#include "ajc.h"
#include "ajc_internal.h"
#include "lhapi.h"

int ajcTimestampCompare(uint16_t timestamp1, uint16_t timestamp2, uint16_t decoderInterval) {
  const int d = static_cast<int16_t>(timestamp1 - timestamp2);
  const int magnitude = d < 0 ? -d : d;
  if (magnitude <= decoderInterval / 2) return 0;
  if (magnitude <= AJC_OUTOFRANGE_INTERVAL) return d > 0 ? 1 : -1;
  return 32767;
}

int16_t ajcLimit(int16_t currentHt, int16_t delta, uint16_t minHt, uint16_t maxHt) {
  const int high = (maxHt >= 1 && maxHt <= AJC_MAX_HOLDTIME) ? maxHt : AJC_MAX_HOLDTIME;
  const int low = std::min<int>(minHt, high);
  const int value = static_cast<int16_t>(currentHt + std::min<int>(delta, 400));
  return static_cast<int16_t>(std::clamp(value, low, high));
}

int32_t ajcTrackerAdd(int32_t tracker, int16_t sampleBump) {
  return std::clamp<int32_t>(tracker + sampleBump * 128, 0, ajc::kTrackerMax);
}

namespace ajc {

void satInc(uint16_t& counter) {
  if (counter != 0xFFFF) ++counter;
}

void initBuildout(AJC_OBJ* o) {
  o->replayCount = 0;
  o->lowEnergyDetect = 0;
  o->minHoldTimeInt = 32767;
  o->maxHoldTimeInt = 0;
  o->timerIntMs = 0;
  o->inState = AJC_IN_BUILDOUT;
  o->pending = AJC_NO_ACTION;
  o->statep->actionPendingTimer = 15000;
  o->statep->underrunDuration = 0;
}

void refreshTrackers(AJC_OBJ* o) {
  o->statep->maxHoldTimeTracker = static_cast<uint16_t>(o->maxHoldTimeState >> 7);
  o->statep->minHoldTimeTracker = static_cast<uint16_t>(o->minHoldTimeState >> 7);
}

void phaseDiscontinuity(AJC_OBJ* o, int16_t bump, bool tooLate) {
  AJC_STATE* st = o->statep;
  o->pending = AJC_NO_ACTION;
  st->actionPendingTimer = std::max<int16_t>(st->actionPendingTimer, 5250);
  satInc(o->statsp->ajcPhaseJitterCount);
  if (bump == 0) return;
  st->expectedTimestamp = static_cast<uint16_t>(st->expectedTimestamp + bump);
  o->maxHoldTimeState = ajcTrackerAdd(o->maxHoldTimeState, static_cast<int16_t>(-bump));
  o->maxHoldTimeInt = static_cast<int16_t>(o->maxHoldTimeInt - bump);
  if (tooLate) {
    o->minHoldTimeState = 0;
    o->minHoldTimeInt = 0;
  } else {
    o->minHoldTimeState = ajcTrackerAdd(o->minHoldTimeState, static_cast<int16_t>(-bump));
    o->minHoldTimeInt = static_cast<int16_t>(o->minHoldTimeInt - bump);
  }
  refreshTrackers(o);
}

uint16_t frameTime(const AJC_OBJ* o, unsigned code) {
  return code < AJC_NUM_VOICECODES ? o->ajcTableEntriesp->pktTimep[code] : 0;
}

}  // namespace ajc

using namespace ajc;

void ajcInit(AJC_OBJ* objp, uint16_t tickRate, const AJC_REGS* regp, AJC_STATS* statsp,
             AJC_STATE* statep, uint16_t* decJbp, uint16_t decJbSize,
             const AJC_TABLE_ENTRIES* ajcTableEntriesp, AJC_INTERNAL_STATS* internalAjcStatsp) {
  *objp = AJC_OBJ{};
  objp->regp = regp;
  objp->statsp = statsp;
  objp->statep = statep;
  objp->decJbp = decJbp;
  objp->decJbSizeinWords = decJbSize;
  objp->ajcTableEntriesp = ajcTableEntriesp;
  objp->ajcIntStatsp = internalAjcStatsp;
  objp->tickRate = tickRate;
  ajcReset(objp, 13, AJC_RESET_RESIZE | AJC_RESET_LIQUID);
}

namespace {

void flush(AJC_OBJ* o) {
  o->ajcIntStatsp->discards = static_cast<uint16_t>(o->ajcIntStatsp->discards + o->ajcJitterQ.count);
  o->ajcJitterQ.headp = o->ajcJitterQ.startp;
  o->ajcJitterQ.count = 0;
  o->statep->lastArrivalTime = -1;
  if (o->payloadQ.freeListp != nullptr) {
    std::fill(o->payloadQ.freeListp, o->payloadQ.freeListp + o->payloadQ.freeListSize, uint16_t{0});
  }
}

void resize(AJC_OBJ* o, unsigned code) {
  const AJC_TABLE_ENTRIES* t = o->ajcTableEntriesp;
  const uint16_t inst = code < AJC_NUM_VOICECODES ? t->decInstSizep[code] : 0;
  const uint16_t payload = code < AJC_NUM_VOICECODES ? t->decPktSizep[code] : 0;
  if (inst >= o->decJbSizeinWords) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  ajcQInit(&o->ajcJitterQ, &o->payloadQ, o->decJbp + inst,
           static_cast<uint16_t>(o->decJbSizeinWords - inst), payload);
}

}  // namespace

void ajcReset(AJC_OBJ* objp, uint16_t vc, uint16_t action) {
  AJC_STATE* st = objp->statep;
  const AJC_REGS* regs = objp->regp;
  if (action & AJC_RESET_RESIZE) resize(objp, vc);
  if (action & (AJC_RESET_RESIZE | AJC_RESET_FLUSH)) flush(objp);
  if (vc < AJC_NUM_VOICECODES) {
    objp->decoderInterval = objp->ajcTableEntriesp->pktTimep[vc];
    objp->tickCount = static_cast<int16_t>(objp->decoderInterval);
  }
  bool restart = true;
  switch (action & AJC_RESET_MASK) {
    case AJC_RESET_NO_ACTION:
      break;
    case AJC_RESET_LIQUID:
      objp->freeze = 0;
      break;
    case AJC_RESET_FREEZE:
      objp->freeze = 1;
      break;
    case AJC_NORESET_LIQUID:
      objp->freeze = 0;
      objp->adapt = 1;
      objp->allowPendingActions = 1;
      restart = false;
      break;
    case AJC_NORESET_FREEZE:
      objp->freeze = 1;
      objp->adapt = 0;
      objp->allowPendingActions = 0;
      restart = false;
      break;
    default:
      LHAPI_ASSERT_FAIL();
      break;
  }
  if (restart) {
    if (objp->freeze) {
      st->currentHoldTime = regs->jitterVBDTarget != 0 ? regs->jitterVBDTarget : 800;
      objp->adapt = 0;
      objp->allowPendingActions = 0;
    } else {
      objp->adapt = 1;
      objp->allowPendingActions = 1;
      st->currentHoldTime = static_cast<uint16_t>(ajcLimit(
          static_cast<int16_t>(regs->jitterTarget), 0, regs->jitterMin, regs->jitterMax));
      if ((regs->options & AJC_OPTIONS_NOADAPT) ||
          (regs->jitterMax != 0 && regs->jitterTarget == regs->jitterMax)) {
        objp->adapt = 0;
      }
    }
    initBuildout(objp);
  }
  objp->ajcIntStatsp->jbAdaptiveFlag = objp->adapt;
  st->maxHoldTimeTracker = st->currentHoldTime;
  objp->maxHoldTimeState = st->currentHoldTime * 128;
  st->minHoldTimeTracker = regs->jitterTarget;
  objp->minHoldTimeState = regs->jitterTarget * 128;
  objp->silenceDuration = 0;
  objp->hangoverSID = 0;
  objp->silenceRatio = 32767;
}

namespace {

void flushForCurrent(AJC_OBJ* o) {
  const uint16_t dec = o->statep->currentDec;
  ajcReset(o, dec < AJC_NUM_VOICECODES ? dec : 0, AJC_RESET_FLUSH);
}

int discard(AJC_OBJ* o, const AJC_PKT_HDR* h) {
  ajcFreeSlot(&o->payloadQ, h->flags >> 8);
  if (o->ajcJitterQ.count == o->ajcJitterQ.numEntries) flushForCurrent(o);
  return 0;
}

bool after(uint16_t a, uint16_t b) { return static_cast<int16_t>(a - b) > 0; }

// Files the frame before the tail; false when it must be discarded.
bool insertBeforeTail(AJC_OBJ* o, const AJC_PKT_HDR& frame) {
  AJC_Q* q = &o->ajcJitterQ;
  const bool full = q->count >= q->numEntries;
  if (after(q->headp->timestamp, frame.timestamp)) {
    if (full) {
      satInc(o->statsp->overrunCount);
      return false;
    }
    q->headp = q->headp == q->startp ? q->endp - 1 : q->headp - 1;
    *q->headp = frame;
  } else {
    // The last entry whose timestamp is not after the frame's.
    unsigned pos = 0;
    AJC_PKT_HDR* p = q->headp;
    for (unsigned i = 1; i < q->count; ++i) {
      AJC_PKT_HDR* next = ajcPeekQLink(q, p);
      if (next == nullptr || after(next->timestamp, frame.timestamp)) break;
      p = next;
      pos = i;
    }
    if (p->timestamp == frame.timestamp) {
      satInc(o->statsp->duplicateCount);
      return false;
    }
    if (full) {
      satInc(o->statsp->overrunCount);
      return false;
    }
    // Move every entry after pos one place towards the tail, from the tail backwards.
    for (unsigned i = q->count; i > pos + 1; --i) {
      AJC_PKT_HDR* dst = q->headp + i;
      if (dst >= q->endp) dst -= q->numEntries;
      AJC_PKT_HDR* src = q->headp + (i - 1);
      if (src >= q->endp) src -= q->numEntries;
      *dst = *src;
    }
    AJC_PKT_HDR* slot = q->headp + pos + 1;
    if (slot >= q->endp) slot -= q->numEntries;
    *slot = frame;
  }
  ++q->count;
  o->statsp->reorderCount = static_cast<uint16_t>(o->statsp->reorderCount + 1);  // wraps
  return true;
}

}  // namespace

int ajcHandlePacketArrival(AJC_OBJ* objp, AJC_PKT_HDR* hapipktp, uint16_t superpacketIndex) {
  AJC_STATE* st = objp->statep;
  AJC_INTERNAL_STATS* is = objp->ajcIntStatsp;
  AJC_PKT_HDR& h = *hapipktp;
  const uint8_t cls = ajcClass(h);
  if (cls == AJC_PKT_UNKNOWN) {
    flushForCurrent(objp);
    return 0;
  }
  const unsigned code = ajcCode(h) < AJC_NUM_VOICECODES ? ajcCode(h) : st->currentDec;
  const uint16_t t = frameTime(objp, code);
  if (cls == AJC_PKT_SID) objp->hangoverSID = 1600;

  uint16_t arrival = static_cast<uint16_t>(st->timer + t * superpacketIndex);
  // Arrival ticks do not go backwards while arrivals are recent.
  const uint16_t behind = static_cast<uint16_t>(st->timerLastArrival - arrival);
  if (st->lastArrivalTime >= 1 && st->lastArrivalTime <= 3199 && behind >= 1 && behind < 32767) {
    arrival = st->timerLastArrival;
  }
  h.arrivalTime = arrival;
  st->timerLastArrival = arrival;

  if (is->firstSeq == is->lastSeq) is->firstSeq = h.timestamp;
  is->lastSeq = static_cast<uint16_t>(h.timestamp + objp->decoderInterval);

  if (st->lastArrivalTime >= 0) {
    const int diff = static_cast<int16_t>(h.timestamp - st->lastArrTimeStamp);
    const int d = diff < 0 ? -diff : diff;
    if (d == 0 && st->lastArrivalTime < 1600) {
      satInc(objp->statsp->duplicateCount);
      return discard(objp, &h);
    }
    if (d != 0 && st->lastArrivalTime < 3200 && d > 6400) {
      satInc(objp->statsp->outOfRangeCount);
      flushForCurrent(objp);
      ++is->discards;
      return discard(objp, &h);
    }
    if (objp->inState != AJC_IN_BUILDOUT &&
        static_cast<int16_t>(h.timestamp - st->lastReleaseTimestamp) <= 0 &&
        st->lastArrivalTime < 6400) {
      satInc(objp->statsp->tooLateCount);
      ++is->discards;
      st->minHoldTimeTracker = 0;
      objp->minHoldTimeState = 0;
      if (objp->allowPendingActions) {
        objp->pending = AJC_REPEAT;
        st->actionPendingTimer = std::max<int16_t>(st->actionPendingTimer, 5000);
      }
      return discard(objp, &h);
    }
  }

  AJC_Q* q = &objp->ajcJitterQ;
  if (q->count == 0 || after(h.timestamp, ajcGetTail(q)->timestamp)) {
    if (!ajcEnq(q, &h)) {
      satInc(objp->statsp->overrunCount);
      return discard(objp, &h);
    }
    objp->statsp->addTailCount = static_cast<uint16_t>(objp->statsp->addTailCount + 1);  // wraps
  } else if (!insertBeforeTail(objp, h)) {
    return discard(objp, &h);
  }
  st->lastArrivalTime = 0;
  st->lastArrTimeStamp = h.timestamp;
  return 1;
}

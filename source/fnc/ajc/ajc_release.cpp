// The jitter buffer's release: once per decoder frame, by the state it is in (build-out, active,
// underrun, silence), decide what the decoder plays and keep the hold-time trackers.
#include <algorithm>

#include "ajc.h"
#include "ajc_internal.h"
#include "hsf/hsf.h"
#include "lhapi.h"

using namespace ajc;

namespace {

void releaseBuildout(AJC_OBJ* o, AJC_PKT_HDR* head);
void releaseActive(AJC_OBJ* o, AJC_PKT_HDR* head);
void releaseUnderrun(AJC_OBJ* o, AJC_PKT_HDR* head);
void releaseSilence(AJC_OBJ* o, AJC_PKT_HDR* head);

bool isSid(const AJC_PKT_HDR& h) { return ajcClass(h) == AJC_PKT_SID; }

AJC_PKT_HDR* queueHead(AJC_OBJ* o) {
  return o->ajcJitterQ.count != 0 ? o->ajcJitterQ.headp : nullptr;
}

void growSilence(AJC_OBJ* o) {
  if (o->silenceDuration < 65000) o->silenceDuration = static_cast<uint16_t>(o->silenceDuration + (o->decoderInterval >> 3));
  o->silenceRatio = static_cast<int16_t>(o->silenceRatio - static_cast<int8_t>(o->silenceRatio >> 8));
}

bool markReleased(AJC_OBJ* o) {
  LHAPI_ASSERT(!o->packetReleased);
  o->packetReleased = 1;
  return o->pktInfo.numCurrPkt <= 1;
}

void appendRelease(AJC_OBJ* o, const AJC_PKT_HDR& h) {
  if (o->pktInfo.numCurrPkt > 1) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  o->pktInfo.currPkt[o->pktInfo.numCurrPkt++] = h;
}

void playoutComfortNoise(AJC_OBJ* o) {
  LHAPI_ASSERT(!o->packetReleased);
  o->packetReleased = 1;
  growSilence(o);
  o->timerIntMs = static_cast<uint16_t>(o->timerIntMs + (o->decoderInterval >> 3));
  AJC_PKT_HDR cng{};
  cng.payloadID = AJC_PKT_CNG << 8;
  appendRelease(o, cng);
}

int playoutRepeat(AJC_OBJ* o) {
  AJC_STATE* st = o->statep;
  satInc(o->statsp->ajcRepeatCount);
  ++o->replayCount;
  if (o->pending > 0) {
    if (o->pending == AJC_REPEAT && o->adapt) {
      st->currentHoldTime = static_cast<uint16_t>(
          ajcLimit(static_cast<int16_t>(st->currentHoldTime), static_cast<int16_t>(o->decoderInterval),
                   o->regp->jitterTarget, o->regp->jitterMax));
    }
    phaseDiscontinuity(o, static_cast<int16_t>(-o->decoderInterval), false);
    if (o->inState == AJC_IN_SILENCE) return 0;
  }
  o->timerIntMs = static_cast<uint16_t>(o->timerIntMs + (o->decoderInterval >> 3));
  LHAPI_ASSERT(!o->packetReleased);
  o->packetReleased = 1;
  AJC_PKT_HDR rep{};
  rep.payloadID = AJC_PKT_FRAME_REPEAT << 8;
  appendRelease(o, rep);
  return 1;
}

uint16_t sidFrameTime(const AJC_OBJ* o, const AJC_PKT_HDR& h) {
  switch (ajcCode(h)) {
    case 83: return frameTime(o, 9);
    case 82: return frameTime(o, 7);
    case 86:
    case 88: return frameTime(o, 50);
    default: return o->decoderInterval;
  }
}

// Plays the queue head; 1 for a SID frame.
int playoutPacket(AJC_OBJ* o, AJC_PKT_HDR* head) {
  AJC_STATE* st = o->statep;
  const AJC_REGS* regs = o->regp;
  const AJC_PKT_HDR h = *head;
  ajcDeq(&o->ajcJitterQ);
  const bool sid = isSid(h);
  o->decoderInterval = sid ? sidFrameTime(o, h) : frameTime(o, ajcCode(h));
  const int16_t wait = static_cast<int16_t>(st->timer - h.arrivalTime);
  st->actualHoldTime = static_cast<uint16_t>(std::max<int16_t>(0, wait));

  const int r = o->silenceRatio;
  const int interval = o->decoderInterval;
  const int32_t s = r < 1000 ? 4 * interval : r < 2000 ? 2 * interval : r < 4000 ? interval
                  : r < 8000 ? interval >> 1 : r < 16000 ? interval >> 2 : interval >> 3;
  const int32_t held = st->actualHoldTime * 128;
  o->minHoldTimeState = std::min({held, kTrackerMax, o->minHoldTimeState + s});
  o->minHoldTimeInt = std::min<int16_t>(o->minHoldTimeInt, static_cast<int16_t>(st->actualHoldTime));
  if (o->hangoverSID < 1) {
    if (o->maxHoldTimeState > s) o->maxHoldTimeState -= s;
    if (held > o->maxHoldTimeState) o->maxHoldTimeState = held;
    if (!sid) o->statsp->peakHoldingTime = std::max(o->statsp->peakHoldingTime, st->actualHoldTime);
    o->maxHoldTimeInt = std::max<int16_t>(o->maxHoldTimeInt, static_cast<int16_t>(st->actualHoldTime));
  } else {
    o->maxHoldTimeState = std::max(o->maxHoldTimeState, o->minHoldTimeState);
  }
  refreshTrackers(o);

  if (!sid) {
    o->silenceDuration = 0;
    o->silenceRatio = static_cast<int16_t>(o->silenceRatio + ((32767 - o->silenceRatio) >> 8));
    o->timerIntMs = static_cast<uint16_t>(o->timerIntMs + 5 * (interval >> 3));
  } else {
    growSilence(o);
    o->timerIntMs = static_cast<uint16_t>(o->timerIntMs + (interval >> 3));
  }

  // Plan a delete when even the least hold time is a frame above the floor, a repeat when frames
  // are held less than the minimum.
  if (o->pending == AJC_NO_ACTION && o->allowPendingActions && o->inState == AJC_IN_ACTIVE &&
      st->actionPendingTimer <= 5000) {
    if (st->maxHoldTimeTracker >= interval + regs->jitterTarget &&
        st->minHoldTimeTracker >= interval + regs->jitterMin) {
      o->pending = AJC_DELETE;
      st->actionPendingTimer = std::max<int16_t>(st->actionPendingTimer, 5000);
    }
    if (st->minHoldTimeTracker < regs->jitterMin) {
      o->pending = AJC_REPEAT;
      st->actionPendingTimer = std::max<int16_t>(st->actionPendingTimer, 5000);
    }
  }

  if (o->adapt && st->actionPendingTimer <= -2000) {
    const int16_t span = static_cast<int16_t>(st->maxHoldTimeTracker + regs->jitterMin - st->minHoldTimeTracker);
    if (span >= st->currentHoldTime + interval) {
      st->currentHoldTime = static_cast<uint16_t>(ajcLimit(static_cast<int16_t>(st->currentHoldTime),
                                                           static_cast<int16_t>(interval),
                                                           regs->jitterTarget, regs->jitterMax));
    } else if (span <= static_cast<int>(st->currentHoldTime) - interval) {
      st->currentHoldTime = static_cast<uint16_t>(ajcLimit(static_cast<int16_t>(st->currentHoldTime),
                                                           static_cast<int16_t>(-interval),
                                                           regs->jitterTarget, regs->jitterMax));
    }
    st->actionPendingTimer = 0;
  }

  st->lastReleaseTimestamp = h.timestamp;
  markReleased(o);
  appendRelease(o, h);
  return sid ? 1 : 0;
}

// Serves a planned repeat (> 0: a repeat was played) or delete (< 0: the head was deleted).
int servicePendingAction(AJC_OBJ* o, AJC_PKT_HDR* head) {
  AJC_STATE* st = o->statep;
  const AJC_REGS* regs = o->regp;
  if (o->pending > 0) {
    if (regs->jitterMin != 0 && st->minHoldTimeTracker >= regs->jitterMin) {
      o->pending = AJC_NO_ACTION;
      return 0;
    }
    return playoutRepeat(o);
  }
  if (!(st->maxHoldTimeTracker >= o->decoderInterval + regs->jitterTarget &&
        st->minHoldTimeTracker >= o->decoderInterval + regs->jitterMin)) {
    o->pending = AJC_NO_ACTION;
    return 0;
  }
  if (regs->customFeatures & HAPI_PVE_AJC_IGNORE_SILENCE_DELETION) return 0;
  int result = 0;
  if (head != nullptr && ajcTimestampCompare(head->timestamp, st->expectedTimestamp, o->decoderInterval) == 0) {
    AJC_PKT_HDR* next = ajcPeekQLink(&o->ajcJitterQ, head);
    if (next != nullptr && !isSid(*head) && !isSid(*next) &&
        next->timestamp == static_cast<uint16_t>(head->timestamp + o->decoderInterval)) {
      AJC_PKT_HDR deleted = *head;
      ajcDeq(&o->ajcJitterQ);
      satInc(o->statsp->ajcDeleteCount);
      st->lastReleaseTimestamp = deleted.timestamp;
      deleted.payloadID = static_cast<uint16_t>((AJC_PKT_DOUBLE_DECODE << 8) | ajcCode(deleted));
      LHAPI_ASSERT(o->pktInfo.numCurrPkt == 0);
      appendRelease(o, deleted);
      result = -1;
    }
  }
  if (o->adapt && o->pending == AJC_DELETE) {
    st->currentHoldTime = static_cast<uint16_t>(ajcLimit(static_cast<int16_t>(st->currentHoldTime),
                                                         static_cast<int16_t>(-o->decoderInterval),
                                                         regs->jitterTarget, regs->jitterMax));
  }
  phaseDiscontinuity(o, static_cast<int16_t>(o->decoderInterval), false);
  return result;
}

void restartBuildout(AJC_OBJ* o, AJC_PKT_HDR* head) {
  satInc(o->statsp->outOfRangeCount);
  initBuildout(o);
  releaseBuildout(o, head);
}

void releaseBuildout(AJC_OBJ* o, AJC_PKT_HDR* head) {
  AJC_STATE* st = o->statep;
  st->releaseBump = 0;
  if (head == nullptr) {
    playoutComfortNoise(o);
    return;
  }
  // How much later the head arrived than its successors say it should have.
  uint16_t expectedArrival = head->arrivalTime;
  AJC_PKT_HDR* p = head;
  for (AJC_PKT_HDR* n = ajcPeekQLink(&o->ajcJitterQ, p); n != nullptr; p = n, n = ajcPeekQLink(&o->ajcJitterQ, n)) {
    expectedArrival = static_cast<uint16_t>(expectedArrival + (n->timestamp - p->timestamp));
    const int16_t bump = static_cast<int16_t>(expectedArrival - n->arrivalTime);
    if (bump > 0 && static_cast<uint16_t>(bump) > st->releaseBump) st->releaseBump = static_cast<uint16_t>(bump);
  }
  const int16_t wait = static_cast<int16_t>(st->timer - head->arrivalTime);
  const int held = wait < 0 ? st->releaseBump : st->releaseBump + wait;
  if (held < st->currentHoldTime) {
    playoutComfortNoise(o);
    return;
  }
  st->expectedTimestamp = head->timestamp;
  if (isSid(*head)) {
    playoutPacket(o, head);
    st->lastArrivalTime = -1;
    return;
  }
  o->inState = AJC_IN_ACTIVE;
  st->underrunDuration = 0;
  releaseActive(o, head);
  satInc(o->statsp->ajcResyncCount);
}

void releaseActive(AJC_OBJ* o, AJC_PKT_HDR* head) {
  AJC_STATE* st = o->statep;
  if (o->pending != AJC_NO_ACTION && (o->lowEnergyDetect || st->actionPendingTimer <= 0)) {
    const int r = servicePendingAction(o, head);
    if (r > 0) return;
    if (r < 0) head = queueHead(o);
  }
  if (head != nullptr) {
    const int c = ajcTimestampCompare(head->timestamp, st->expectedTimestamp, o->decoderInterval);
    if (c == 1) {
      st->underrunDuration = static_cast<uint16_t>(st->underrunDuration + o->decoderInterval);
      playoutRepeat(o);
      return;
    }
    if (c == 32767) {
      restartBuildout(o, head);
      return;
    }
    if (c == -1) {
      const int16_t g = static_cast<int16_t>(st->expectedTimestamp - head->timestamp);
      if (o->adapt && st->underrunDuration != 0) {
        st->currentHoldTime = static_cast<uint16_t>(ajcLimit(static_cast<int16_t>(st->currentHoldTime), g,
                                                             o->regp->jitterTarget, o->regp->jitterMax));
      }
      phaseDiscontinuity(o, static_cast<int16_t>(-g), true);
    }
    st->underrunDuration = 0;
    st->expectedTimestamp = head->timestamp;
    if (playoutPacket(o, head)) {
      o->inState = AJC_IN_SILENCE;
      st->underrunDuration = 0;
    }
    return;
  }
  o->inState = AJC_IN_UNDERRUN;
  satInc(o->statsp->ajcUnderrunCount);
  st->underrunDuration = 0;
  releaseUnderrun(o, nullptr);
}

void releaseUnderrun(AJC_OBJ* o, AJC_PKT_HDR* head) {
  AJC_STATE* st = o->statep;
  if (head != nullptr) {
    const int c = ajcTimestampCompare(head->timestamp, st->expectedTimestamp, o->decoderInterval);
    if (c == 32767) {
      restartBuildout(o, head);
      return;
    }
    if (c != 1) {
      if (c == -1) phaseDiscontinuity(o, static_cast<int16_t>(head->timestamp - st->expectedTimestamp), true);
      st->expectedTimestamp = head->timestamp;
      if (o->adapt) {
        const int16_t gap = static_cast<int16_t>(head->timestamp - st->lastReleaseTimestamp);
        const int16_t x = static_cast<int16_t>(st->underrunDuration + o->decoderInterval - gap);
        if (gap > 0 && x > 0) {
          st->currentHoldTime = static_cast<uint16_t>(ajcLimit(static_cast<int16_t>(st->currentHoldTime), x,
                                                               o->regp->jitterTarget, o->regp->jitterMax));
        }
      }
      st->underrunDuration = 0;
      o->inState = AJC_IN_ACTIVE;
      releaseActive(o, head);
      return;
    }
  }
  st->underrunDuration = static_cast<uint16_t>(st->underrunDuration + o->decoderInterval);
  const uint16_t dec = st->currentDec;
  const uint16_t replay = dec < AJC_NUM_VOICECODES ? o->ajcTableEntriesp->decPktReplayp[dec] : 320;
  if (replay >= st->underrunDuration) {
    playoutRepeat(o);
  } else if (st->underrunDuration <= 1600) {
    playoutComfortNoise(o);
  } else {
    o->inState = AJC_IN_SILENCE;
    st->underrunDuration = 0;
    releaseSilence(o, head);
  }
}

void releaseSilence(AJC_OBJ* o, AJC_PKT_HDR* head) {
  AJC_STATE* st = o->statep;
  if (head != nullptr) {
    int c = ajcTimestampCompare(head->timestamp, st->expectedTimestamp, o->decoderInterval);
    if (c == -1) {
      phaseDiscontinuity(o, static_cast<int16_t>(head->timestamp - st->expectedTimestamp), true);
      c = 0;
    }
    if (c == 0) {
      st->expectedTimestamp = head->timestamp;
      o->inState = AJC_IN_ACTIVE;
      st->underrunDuration = 0;
      releaseActive(o, head);
    } else if (c == 1) {
      playoutComfortNoise(o);
    } else {
      restartBuildout(o, head);
    }
    return;
  }
  if (o->pending != AJC_NO_ACTION) {
    if (servicePendingAction(o, nullptr) > 0) {
      LHAPI_ASSERT_FAIL();  // only the phase may move in silence
      return;
    }
  }
  if (o->silenceDuration < 65000 && st->lastArrivalTime <= 28000) {
    playoutComfortNoise(o);
  } else {
    initBuildout(o);
    releaseBuildout(o, nullptr);
  }
}

}  // namespace

int16_t ajcControlPacketRelease(AJC_OBJ* objp) {
  AJC_STATE* st = objp->statep;
  objp->pktInfo.numCurrPkt = 0;
  objp->tickCount = static_cast<int16_t>(objp->tickCount + objp->tickRate);
  if (objp->tickCount >= static_cast<int16_t>(objp->decoderInterval)) {
    objp->tickCount = 0;
    objp->packetReleased = 0;
    const uint16_t silenceBefore = objp->silenceDuration;
    AJC_PKT_HDR* head = queueHead(objp);
    switch (objp->inState) {
      case AJC_IN_BUILDOUT: releaseBuildout(objp, head); break;
      case AJC_IN_ACTIVE: releaseActive(objp, head); break;
      case AJC_IN_UNDERRUN: releaseUnderrun(objp, head); break;
      default: releaseSilence(objp, head); break;
    }
    if (silenceBefore == 0 && objp->silenceDuration != 0) hsfObdSendStd(HAPI_CODEC_CNG_EVT, 1, 0);
    if (silenceBefore != 0 && objp->silenceDuration == 0) hsfObdSendStd(HAPI_CODEC_CNG_EVT, 0, 0);

    st->expectedTimestamp = static_cast<uint16_t>(st->expectedTimestamp + objp->decoderInterval);
    if (objp->hangoverSID > 0) objp->hangoverSID = static_cast<int16_t>(objp->hangoverSID - objp->decoderInterval);
    if (st->actionPendingTimer > -2000) st->actionPendingTimer = static_cast<int16_t>(st->actionPendingTimer - (objp->decoderInterval >> 3));
    if (static_cast<uint16_t>(st->lastArrivalTime) < 32000) st->lastArrivalTime = static_cast<int16_t>(st->lastArrivalTime + objp->decoderInterval);

    if (objp->timerIntMs > 50000) {
      if (objp->minHoldTimeInt > objp->decoderInterval + st->minHoldTimeTracker) {
        st->minHoldTimeTracker = static_cast<uint16_t>(objp->minHoldTimeInt);
        objp->minHoldTimeState = objp->minHoldTimeInt * 128;
      }
      objp->maxHoldTimeInt = 0;
      objp->minHoldTimeInt = 32767;
      objp->timerIntMs = 0;
    }
  }
  st->timer = static_cast<uint16_t>(st->timer + objp->tickRate);
  return objp->pending;
}

// The jitter buffer on scripted arrival schedules: one behaviour per group, invariants checked at
// every release by the harness.
#include <gtest/gtest.h>

#include "ajc_harness.h"

namespace ajctest {
namespace {

AJC_REGS holdRegs(uint16_t target, uint16_t max = 800, uint16_t min = 0) {
  AJC_REGS r{};
  r.jitterTarget = target;
  r.jitterMax = max;
  r.jitterMin = min;
  return r;
}

// Steady stream: frame k (timestamp 40k) arrives just before the release at timer 40k.
void steady(Jb& jb, int from, int to, int skip = -1) {
  for (int k = from; k < to; ++k) {
    if (k != skip) jb.arrive(static_cast<uint16_t>(40 * k));
    jb.release();
  }
}

TEST(AjcArithmetic, CompareLimitAndTracker) {
  EXPECT_EQ(ajcTimestampCompare(100, 100, 40), 0);
  EXPECT_EQ(ajcTimestampCompare(120, 100, 40), 0);   // within half a frame
  EXPECT_EQ(ajcTimestampCompare(121, 100, 40), 1);   // in the future: the due frame is missing
  EXPECT_EQ(ajcTimestampCompare(79, 100, 40), -1);   // older than expected
  EXPECT_EQ(ajcTimestampCompare(3300, 100, 40), 1);  // 3200 still in range
  EXPECT_EQ(ajcTimestampCompare(3301, 100, 40), 32767);
  EXPECT_EQ(ajcTimestampCompare(10, 65530, 40), 0);  // across the wrap
  EXPECT_EQ(ajcTimestampCompare(10, 65500, 40), 1);
  EXPECT_EQ(ajcLimit(100, 1000, 0, 0), 500);         // delta capped at 400
  EXPECT_EQ(ajcLimit(1500, 400, 0, 0), 1600);        // max 0 means 1600
  EXPECT_EQ(ajcLimit(1500, 400, 0, 5000), 1600);     // max above 1600 means 1600
  EXPECT_EQ(ajcLimit(100, -200, 80, 800), 80);
  EXPECT_EQ(ajcLimit(100, 0, 900, 800), 800);        // a floor above the ceiling is the ceiling
  EXPECT_EQ(ajcTrackerAdd(100, -10), 0);
  EXPECT_EQ(ajcTrackerAdd(1024000 - 10, 5), 1024000);
}

TEST(AjcBuildout, ZeroRegistersPlayTheFirstFrameAtOnce) {
  Jb jb;
  EXPECT_EQ(jb.state.currentHoldTime, 0);
  jb.arrive(1000);
  Release r = jb.release();
  ASSERT_EQ(r.numCurrPkt, 1);
  EXPECT_EQ(ajcClass(r.pkt[0]), AJC_PKT_VOICE);
  EXPECT_EQ(r.pkt[0].timestamp, 1000);
  EXPECT_EQ(jb.obj.inState, AJC_IN_ACTIVE);
  EXPECT_EQ(jb.stats.ajcResyncCount, 1);
}

TEST(AjcBuildout, HoldsTheTargetThenReleasesSteadily) {
  Jb jb(holdRegs(320));
  steady(jb, 0, 200);
  // Comfort noise while building out, then every frame in order with a constant hold.
  ASSERT_GT(jb.releases.size(), 9u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ajcClass(jb.releases[i].pkt[0]), AJC_PKT_CNG) << i;
  EXPECT_EQ(jb.releases[8].timer, 320);
  EXPECT_EQ(jb.releases[8].pkt[0].timestamp, 0);
  ASSERT_EQ(jb.played.size(), 200u - 8);
  for (size_t i = 0; i < jb.played.size(); ++i) EXPECT_EQ(jb.played[i], 40 * i);
  EXPECT_EQ(jb.state.actualHoldTime, 320);
  EXPECT_EQ(jb.stats.peakHoldingTime, 320);
  EXPECT_EQ(jb.repeats, 0);
  EXPECT_EQ(jb.stats.addTailCount, 200);
}

TEST(AjcBuildout, SuccessorsThatArriveEarlyCountAsHold) {
  Jb jb(holdRegs(200));
  // Five frames in one burst: the first arrived 160 ticks later than the last one says it should.
  for (int k = 0; k < 5; ++k) jb.arrive(static_cast<uint16_t>(40 * k));
  Release r = jb.release();
  EXPECT_EQ(jb.state.releaseBump, 160);
  EXPECT_EQ(ajcClass(r.pkt[0]), AJC_PKT_CNG);  // 160 + 0 below 200
  r = jb.release();
  EXPECT_EQ(ajcClass(r.pkt[0]), AJC_PKT_VOICE);  // 160 + 40 reaches 200
}

TEST(AjcActive, MissingFrameIsRepeatedAndTheStreamGoesOn) {
  Jb jb(holdRegs(80));
  steady(jb, 0, 60, 30);
  EXPECT_EQ(jb.repeats, 1);
  EXPECT_EQ(jb.stats.ajcRepeatCount, 1);
  EXPECT_EQ(std::count(jb.played.begin(), jb.played.end(), 1200), 0);
  EXPECT_EQ(jb.played.back(), 40 * 57);
  EXPECT_EQ(jb.obj.inState, AJC_IN_ACTIVE);
}

TEST(AjcUnderrun, RepeatsThenComfortNoiseThenSilenceThenBuildout) {
  Jb jb(holdRegs(80));
  steady(jb, 0, 50);
  const int repeatsBefore = jb.repeats;
  // The queue drains; the last queued frames still play.
  jb.run(80);
  EXPECT_EQ(jb.obj.inState, AJC_IN_ACTIVE);
  Release r = jb.release();
  EXPECT_EQ(jb.obj.inState, AJC_IN_UNDERRUN);
  EXPECT_EQ(jb.stats.ajcUnderrunCount, 1);
  EXPECT_EQ(ajcClass(r.pkt[0]), AJC_PKT_FRAME_REPEAT);
  // Repeats for 320 ticks in all, comfort noise until 1600 ticks, then silence.
  jb.run(320 - 40);
  EXPECT_EQ(jb.repeats - repeatsBefore, 8);
  jb.run(1600 - 320);
  EXPECT_EQ(jb.obj.inState, AJC_IN_UNDERRUN);
  EXPECT_EQ(jb.repeats - repeatsBefore, 8);
  jb.release();
  EXPECT_EQ(jb.obj.inState, AJC_IN_SILENCE);
  // 3.5 s without an arrival falls back to build-out.
  jb.run(28000);
  EXPECT_EQ(jb.obj.inState, AJC_IN_BUILDOUT);
  EXPECT_EQ(jb.repeats - repeatsBefore, 8);
}

TEST(AjcUnderrun, FrameDueAgainResumesWithoutBuildout) {
  Jb jb(holdRegs(0, 800));
  steady(jb, 0, 20);
  jb.run(200);  // five frame times without data
  EXPECT_EQ(jb.obj.inState, AJC_IN_UNDERRUN);
  const uint16_t due = jb.state.expectedTimestamp;
  jb.arrive(due);
  Release r = jb.release();
  EXPECT_EQ(jb.obj.inState, AJC_IN_ACTIVE);
  EXPECT_EQ(r.pkt[0].timestamp, due);
  // The frames of the gap were lost, not late (the time stamps moved on with the underrun): the
  // target stays where it was.
  EXPECT_EQ(jb.state.currentHoldTime, 0);
  EXPECT_EQ(jb.stats.ajcPhaseJitterCount, 0);
}

TEST(AjcSilence, SidFrameEntersSilenceAndVoiceResumes) {
  Jb jb(holdRegs(80));
  steady(jb, 0, 20);
  jb.arrive(800, AJC_PKT_SID);
  jb.run(3 * 40);  // frames 18 and 19 still play first
  EXPECT_EQ(jb.obj.inState, AJC_IN_SILENCE);
  EXPECT_EQ(ajcClass(jb.releases.back().pkt[0]), AJC_PKT_SID);
  EXPECT_EQ(jb.obj.hangoverSID, 1600 - 3 * 40);
  const int cngBefore = jb.comfort;
  jb.run(400);
  EXPECT_EQ(jb.comfort - cngBefore, 10);
  EXPECT_GT(jb.obj.silenceDuration, 0);
  // Voice resumes on time.
  const uint16_t due = jb.state.expectedTimestamp;
  jb.arrive(due);
  Release r = jb.release();
  EXPECT_EQ(r.pkt[0].timestamp, due);
  EXPECT_EQ(jb.obj.inState, AJC_IN_ACTIVE);
  EXPECT_EQ(jb.obj.silenceDuration, 0);
}

TEST(AjcSilence, SilenceDurationStopsAt65SecondsAndFallsBackToBuildout) {
  Jb jb(holdRegs(0));
  jb.arrive(0, AJC_PKT_SID);
  jb.release();
  EXPECT_EQ(jb.obj.inState, AJC_IN_BUILDOUT);  // a SID in build-out is played, state kept
  // Keep arrivals recent with SID frames so only the 65 s rule can end silence.
  jb.obj.inState = AJC_IN_SILENCE;
  for (int k = 1; k < 1700; ++k) {
    jb.state.lastArrivalTime = 0;
    jb.run(40 * 40);  // 200 ms
    if (jb.obj.inState != AJC_IN_SILENCE) break;
  }
  EXPECT_EQ(jb.obj.inState, AJC_IN_BUILDOUT);
  EXPECT_GE(jb.obj.silenceDuration, 65000);
}

TEST(AjcArrival, OutOfRangeHeadRestartsBuildout) {
  Jb jb(holdRegs(0));
  steady(jb, 0, 20);
  const uint16_t jump = static_cast<uint16_t>(jb.state.expectedTimestamp + 4000);
  jb.arrive(jump);  // within 6400 of the last arrival: queued
  jb.release();
  EXPECT_EQ(jb.stats.outOfRangeCount, 1);
  EXPECT_EQ(jb.stats.ajcResyncCount, 2);
  EXPECT_EQ(jb.played.back(), jump);
}

TEST(AjcArrival, JumpBeyond800msFlushesAndTheNextFrameStartsAfresh) {
  Jb jb(holdRegs(160));
  for (int k = 0; k < 3; ++k) jb.arrive(static_cast<uint16_t>(40 * k));
  EXPECT_EQ(jb.arrive(3 * 40 + 7000), 0);
  EXPECT_EQ(jb.stats.outOfRangeCount, 1);
  EXPECT_EQ(jb.obj.ajcJitterQ.count, 0);
  EXPECT_EQ(jb.state.lastArrivalTime, -1);
  EXPECT_EQ(slotsInUse(jb.obj.payloadQ), 0);
  EXPECT_EQ(jb.internal.discards, 4);
  EXPECT_EQ(jb.arrive(4 * 40 + 7000), 1);
}

TEST(AjcArrival, DuplicatesAndLateFramesAreDropped) {
  Jb jb(holdRegs(80));
  steady(jb, 0, 30);
  EXPECT_EQ(jb.arrive(40 * 29), 0);  // same as the last arrival
  EXPECT_EQ(jb.stats.duplicateCount, 1);
  EXPECT_EQ(jb.arrive(40 * 20), 0);  // already played
  EXPECT_EQ(jb.stats.tooLateCount, 1);
  EXPECT_EQ(jb.state.minHoldTimeTracker, 0);
  EXPECT_EQ(jb.obj.pending, AJC_REPEAT);
  EXPECT_GE(jb.state.actionPendingTimer, 5000);
  // A duplicate of a queued frame that is not the last arrival is caught by the queue.
  jb.arrive(40 * 30);
  jb.arrive(40 * 31);
  EXPECT_EQ(jb.arrive(40 * 30), 0);
  EXPECT_EQ(jb.stats.duplicateCount, 2);
  EXPECT_EQ(slotsInUse(jb.obj.payloadQ), jb.obj.ajcJitterQ.count);
}

TEST(AjcArrival, ReorderedFramesPlayInOrder) {
  Jb jb(holdRegs(160));
  for (int k = 0; k < 40; k += 2) {
    jb.arrive(static_cast<uint16_t>(40 * (k + 1)));
    jb.arrive(static_cast<uint16_t>(40 * k));  // before the head or in the middle
    jb.release();
    jb.release();
  }
  EXPECT_EQ(jb.repeats, 0);
  jb.run(160);
  EXPECT_EQ(jb.stats.reorderCount, 20);
  ASSERT_EQ(jb.played.size(), 40u);
  for (size_t i = 0; i < jb.played.size(); ++i) EXPECT_EQ(jb.played[i], 40 * i);
}

TEST(AjcArrival, InsertionInTheMiddleKeepsOrder) {
  Jb jb(holdRegs(800));
  for (int k : {0, 1, 5, 3, 2, 4, 7, 6}) jb.arrive(static_cast<uint16_t>(40 * k));
  std::vector<AJC_PKT_HDR> q = queued(jb.obj);
  ASSERT_EQ(q.size(), 8u);
  for (size_t i = 0; i < q.size(); ++i) EXPECT_EQ(q[i].timestamp, 40 * i);
  EXPECT_EQ(jb.stats.reorderCount, 4);
}

TEST(AjcArrival, FullStoreFlushesOnTheNextFrame) {
  Jb jb(holdRegs(1600));
  const int capacity = jb.obj.ajcJitterQ.numEntries;
  ASSERT_GT(capacity, 100);
  for (int k = 0; k < capacity; ++k) ASSERT_EQ(jb.arrive(static_cast<uint16_t>(10 * k)), 1);
  // One slot per entry: the next frame finds no slot, comes without data and flushes.
  EXPECT_EQ(jb.arrive(static_cast<uint16_t>(10 * capacity)), 0);
  EXPECT_EQ(jb.obj.ajcJitterQ.count, 0);
  EXPECT_EQ(slotsInUse(jb.obj.payloadQ), 0);
  EXPECT_EQ(jb.internal.discards, capacity);
}

TEST(AjcArrival, OverrunOfAFullQueueCountsAndFlushes) {
  Jb jb(holdRegs(1600));
  const int capacity = jb.obj.ajcJitterQ.numEntries;
  for (int k = 0; k < capacity; ++k) jb.arrive(static_cast<uint16_t>(10 * k));
  AJC_PKT_HDR h{};
  h.payloadID = AJC_PKT_VOICE << 8;
  h.timestamp = static_cast<uint16_t>(10 * capacity);
  EXPECT_EQ(ajcHandlePacketArrival(&jb.obj, &h, 0), 0);
  EXPECT_EQ(jb.stats.overrunCount, 1);
  EXPECT_EQ(jb.obj.ajcJitterQ.count, 0);
}

TEST(AjcArrival, FrameWithoutPayloadSlotFlushes) {
  Jb jb(holdRegs(160));
  for (int k = 0; k < 3; ++k) jb.arrive(static_cast<uint16_t>(40 * k));
  AJC_PKT_HDR h{};
  h.payloadID = 0;  // class unknown: no slot could be had
  h.timestamp = 120;
  EXPECT_EQ(ajcHandlePacketArrival(&jb.obj, &h, 0), 0);
  EXPECT_EQ(jb.obj.ajcJitterQ.count, 0);
  EXPECT_EQ(slotsInUse(jb.obj.payloadQ), 0);
}

TEST(AjcPlanning, HoldAboveTheTargetIsShortenedByDeletes) {
  Jb jb(holdRegs(0, 1600));
  // A burst of 21 frames, then one per frame: every frame is held 800 ticks.
  for (int k = 0; k < 20; ++k) jb.arrive(static_cast<uint16_t>(40 * k));
  for (int k = 20; k < 20 + 6000; ++k) {
    jb.arrive(static_cast<uint16_t>(40 * k));
    jb.release();
  }
  EXPECT_GT(jb.stats.ajcDeleteCount, 0);
  EXPECT_EQ(jb.deleted, jb.stats.ajcDeleteCount);
  EXPECT_EQ(jb.state.actualHoldTime, 800 - 40 * jb.stats.ajcDeleteCount);
  bool sawDouble = false;
  for (const Release& r : jb.releases) sawDouble |= r.numCurrPkt == 2;
  EXPECT_TRUE(sawDouble);
  // Every frame was played or deleted, in order, none twice.
  EXPECT_EQ(jb.played.size() + jb.deleted + jb.obj.ajcJitterQ.count, 6020u);
}

TEST(AjcPlanning, LowEnergyBringsThePlannedDeleteForward) {
  auto runWith = [](bool lowEnergy) {
    Jb jb(holdRegs(0, 1600));
    for (int k = 0; k < 20; ++k) jb.arrive(static_cast<uint16_t>(40 * k));
    for (int k = 20; k < 20 + 2200; ++k) {
      jb.arrive(static_cast<uint16_t>(40 * k));
      jb.obj.lowEnergyDetect = lowEnergy;
      jb.release();
    }
    return jb.stats.ajcDeleteCount;
  };
  EXPECT_EQ(runWith(false), 0);
  EXPECT_GT(runWith(true), 0);
}

TEST(AjcPlanning, IgnoreSilenceDeletionKeepsTheDelay) {
  AJC_REGS r = holdRegs(0, 1600);
  r.customFeatures = HAPI_PVE_AJC_IGNORE_SILENCE_DELETION;
  Jb jb(r);
  for (int k = 0; k < 20; ++k) jb.arrive(static_cast<uint16_t>(40 * k));
  for (int k = 20; k < 20 + 6000; ++k) {
    jb.arrive(static_cast<uint16_t>(40 * k));
    jb.release();
  }
  EXPECT_EQ(jb.stats.ajcDeleteCount, 0);
  EXPECT_EQ(jb.state.actualHoldTime, 800);
  EXPECT_EQ(jb.obj.pending, AJC_DELETE);
}

TEST(AjcPlanning, HoldBelowTheMinimumIsLengthenedByRepeats) {
  Jb jb(holdRegs(0, 1600, 200));
  steady(jb, 0, 100);
  EXPECT_EQ(jb.state.actualHoldTime, 200);
  // The path gets 120 ticks slower: frames are still on time but held only 80 ticks.
  for (int k = 100; k < 100 + 4000; ++k) {
    if (k >= 103) jb.arrive(static_cast<uint16_t>(40 * (k - 3)));
    jb.release();
  }
  EXPECT_GT(jb.stats.ajcRepeatCount, 0);
  EXPECT_GT(jb.stats.ajcPhaseJitterCount, 0);
  EXPECT_EQ(jb.state.actualHoldTime, 80 + 40 * jb.stats.ajcRepeatCount);
}

// Frames delayed by a repeating pattern of 0..360 ticks, in order.
void jittery(Jb& jb, int frames) {
  static const int kDelay[] = {0, 360, 40, 200, 0, 120, 320, 80};
  std::vector<std::pair<int, uint16_t>> schedule;
  for (int k = 0; k < frames; ++k) schedule.push_back({40 * k + kDelay[k % 8], static_cast<uint16_t>(40 * k)});
  std::stable_sort(schedule.begin(), schedule.end(), [](auto& a, auto& b) { return a.first < b.first; });
  size_t next = 0;
  for (int t = 0; t < 40 * frames; t += 40) {
    while (next < schedule.size() && schedule[next].first <= t) jb.arrive(schedule[next++].second);
    jb.release();
  }
}

TEST(AjcAdaptation, JitterRaisesTheTargetWithinItsLimits) {
  Jb jb(holdRegs(80, 1600));
  jittery(jb, 5000);
  EXPECT_GT(jb.state.currentHoldTime, 80);
  EXPECT_LE(jb.state.currentHoldTime, 1600);
  EXPECT_EQ(jb.internal.jbAdaptiveFlag, 1);
}

TEST(AjcAdaptation, NoAdaptOptionAndFixedTargetHoldStill) {
  AJC_REGS r = holdRegs(80, 1600);
  r.options = AJC_OPTIONS_NOADAPT;
  Jb noAdapt(r);
  jittery(noAdapt, 5000);
  EXPECT_EQ(noAdapt.state.currentHoldTime, 80);
  EXPECT_EQ(noAdapt.internal.jbAdaptiveFlag, 0);
  Jb fixed(holdRegs(240, 240));
  jittery(fixed, 5000);
  EXPECT_EQ(fixed.state.currentHoldTime, 240);
}

TEST(AjcReset, FreezeLiquidAndTheNoResetModes) {
  AJC_REGS r = holdRegs(160, 800);
  Jb jb(r);
  steady(jb, 0, 30);
  ajcReset(&jb.obj, kG711, AJC_RESET_FREEZE);
  EXPECT_EQ(jb.state.currentHoldTime, 800);  // voiceband target 0 means 100 ms
  EXPECT_EQ(jb.obj.adapt, 0);
  EXPECT_EQ(jb.obj.inState, AJC_IN_BUILDOUT);
  EXPECT_GT(jb.obj.ajcJitterQ.count, 0);     // no flush without the flush bit
  jb.regs.jitterVBDTarget = 240;
  ajcReset(&jb.obj, kG711, AJC_RESET_FREEZE | AJC_RESET_FLUSH);
  EXPECT_EQ(jb.state.currentHoldTime, 240);
  EXPECT_EQ(jb.obj.ajcJitterQ.count, 0);
  ajcReset(&jb.obj, kG711, AJC_RESET_LIQUID);
  EXPECT_EQ(jb.state.currentHoldTime, 160);
  EXPECT_EQ(jb.obj.adapt, 1);
  // The no-reset modes change the adaptation flags and nothing of the release state.
  steady(jb, 30, 60);
  const uint16_t state = jb.obj.inState;
  const uint16_t hold = jb.state.currentHoldTime;
  ajcReset(&jb.obj, kG711, AJC_NORESET_FREEZE);
  EXPECT_EQ(jb.obj.inState, state);
  EXPECT_EQ(jb.state.currentHoldTime, hold);
  EXPECT_EQ(jb.obj.adapt, 0);
  EXPECT_EQ(jb.obj.allowPendingActions, 0);
  EXPECT_EQ(jb.internal.jbAdaptiveFlag, 0);
  ajcReset(&jb.obj, kG711, AJC_NORESET_LIQUID);
  EXPECT_EQ(jb.obj.adapt, 1);
  EXPECT_EQ(jb.obj.inState, state);
}

TEST(AjcReset, ResizeFollowsTheCodecFrameAndPayload) {
  Jb jb(holdRegs(160));
  steady(jb, 0, 10);
  ajcReset(&jb.obj, kGsmFr, AJC_RESET_RESIZE);
  EXPECT_EQ(jb.obj.decoderInterval, 160);
  EXPECT_EQ(jb.obj.ajcJitterQ.count, 0);
  EXPECT_EQ(slotsInUse(jb.obj.payloadQ), 0);
  // Queue, free list and slots fit the memory.
  const uint16_t* end = jb.mem.data() + kMemWords;
  EXPECT_LE(jb.obj.payloadQ.plEndp, end);
}

TEST(AjcStatistics, CountersSaturateExceptTheFilingCounters) {
  Jb jb(holdRegs(160));
  jb.stats.duplicateCount = 65535;
  jb.stats.addTailCount = 65535;
  jb.arrive(0);
  jb.arrive(0);
  EXPECT_EQ(jb.stats.duplicateCount, 65535);
  EXPECT_EQ(jb.stats.addTailCount, 0);
  EXPECT_EQ(jb.internal.firstSeq, 0);
  EXPECT_EQ(jb.internal.lastSeq, 40);  // the duplicate's timestamp plus a frame
}

TEST(AjcPayload, CopyKeepsOrFreesTheSlot) {
  Jb jb;
  jb.arrive(1234);
  AJC_PKT_HDR h = queued(jb.obj)[0];
  uint16_t w = 0;
  decoder_copyPayload(&jb.obj.payloadQ, &h, &w, 1, 0);
  EXPECT_EQ(w, 1234);
  EXPECT_EQ(slotsInUse(jb.obj.payloadQ), 1);
  decoder_copyPayload(&jb.obj.payloadQ, &h, nullptr, 0, 2);
  EXPECT_EQ(slotsInUse(jb.obj.payloadQ), 0);
  // Slots are handed out first-free, bit 15 first.
  AJC_PAYLOADQ& pq = jb.obj.payloadQ;
  EXPECT_EQ(searchFreeIndex(&pq), 0);
  EXPECT_EQ(searchFreeIndex(&pq), 1);
  EXPECT_EQ(pq.freeListp[0], 0xC000);
}

}  // namespace
}  // namespace ajctest

// How the jitter buffer's hold-time target moves, call by call, on G.711 (40-tick frames, one
// release per call). Every expected change is worked out from the buffer's rules:
// - actionPendingTimer starts at 15000 ms and loses 5 ms per release: planned actions are served
//   once it reaches 0 (call 3000 after a build-out), and the target is re-examined at -2000 (call
//   3400), then every 400 calls. A phase step raises the timer to 5250, a planned action to 5000.
// - A frame due again after an underrun of u ticks that came g ticks after the last frame played
//   widens the target by u + 40 - g; a planned repeat (after a late frame) by 40; a planned
//   delete narrows it by 40. A re-examination narrows it by 40 when the spread of the hold
//   trackers (max - min) is at most the target less a frame, and widens it when the spread is at
//   least the target plus a frame. Every change is held within [jitterTarget, jitterMax] and is
//   at most 400 ticks.
// - The maximum tracker falls by 5/128 tick per frame played (5 = 40 >> 3 at a high voice ratio),
//   the minimum tracker rises as slowly; a phase step of the expected time stamp by -d moves the
//   maximum up by d.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ajc_harness.h"

namespace ajctest {
namespace {

struct Change {
  int call;
  uint16_t target;
  bool operator==(const Change& o) const { return call == o.call && target == o.target; }
};

std::ostream& operator<<(std::ostream& os, const Change& c) {
  return os << "{call " << c.call << ": " << c.target << "}";
}

using Arrivals = std::function<std::vector<int>(int call)>;  // frame numbers that arrive before a call

// Runs `calls` releases; frame j carries time stamp 40 j. Returns every change of the target.
std::vector<Change> runCalls(Jb& jb, int calls, const Arrivals& arrivals, std::vector<int>* deletesAt = nullptr) {
  std::vector<Change> changes;
  uint16_t target = jb.state.currentHoldTime;
  for (int call = 0; call < calls; ++call) {
    for (int frame : arrivals(call)) jb.arrive(static_cast<uint16_t>(40 * frame));
    const int deletedBefore = jb.deleted;
    jb.release();
    if (::testing::Test::HasFatalFailure()) break;
    if (deletesAt != nullptr && jb.deleted != deletedBefore) deletesAt->push_back(call);
    if (jb.state.currentHoldTime != target) {
      target = jb.state.currentHoldTime;
      changes.push_back({call, target});
    }
  }
  return changes;
}

AJC_REGS regs(uint16_t target, uint16_t max, uint16_t min = 0) {
  AJC_REGS r{};
  r.jitterTarget = target;
  r.jitterMax = max;
  r.jitterMin = min;
  return r;
}

// Frames 0-19 on time, then five calls without a frame, then the stream goes on with frame
// `resume` at call 25 (frame 20: the frames were delayed 200 ticks).
Arrivals afterAGap(int resume) {
  return [resume](int call) -> std::vector<int> {
    if (call < 20) return {call};
    if (call < 25) return {};
    return {resume + call - 25};
  };
}

TEST(AjcAdaptation, DelaySpikeWidensTheTargetByTheDelayAndItDecaysEveryTwoSeconds) {
  Jb jb(regs(0, 800));
  const std::vector<Change> changes = runCalls(jb, 6000, afterAGap(20));
  // Call 25: the frame due 200 ticks ago arrives: the target widens by 200 + 40 - 40. Its hold is
  // 0 and the maximum tracker, raised to 200 by the phase step, falls 5/128 tick per frame: at
  // the re-examinations (calls 3400, 3800, ...) it is 68, 52, 36, 21, 5, 0, each time at most the
  // target less a frame until the last 5 meets a target of 40 (5 > 0): that step waits for 0.
  const std::vector<Change> expected = {{25, 200}, {3400, 160}, {3800, 120}, {4200, 80}, {4600, 40}, {5400, 0}};
  EXPECT_EQ(changes, expected);
  EXPECT_EQ(jb.stats.ajcRepeatCount, 5);
  EXPECT_EQ(jb.stats.ajcPhaseJitterCount, 1);
}

TEST(AjcAdaptation, SpreadOfTheHoldsWidensTheTargetAtEachReexaminationUpToTheSpread) {
  Jb jb(regs(0, 800));
  // Frames come in threes: held 0, 40 and 80 ticks. The minimum tracker stays at 0 and the
  // maximum between 79 and 80 (80 after the frame held 80, then 5/128 less per frame).
  const std::vector<Change> changes = runCalls(jb, 6000, [](int call) -> std::vector<int> {
    if (call % 3 != 0) return {};
    return {call, call + 1, call + 2};
  });
  // Call 3400 plays a frame held 40 (spread 79, at least 0 + 40): widen; call 3800 one held 80
  // (spread 80, at least 40 + 40): widen; from then on the spread stays below 80 + 40.
  EXPECT_EQ(changes, (std::vector<Change>{{3400, 40}, {3800, 80}}));
  EXPECT_EQ(jb.stats.ajcRepeatCount, 0);
  EXPECT_EQ(jb.stats.ajcDeleteCount, 0);
}

TEST(AjcAdaptation, FrameOvertakenByItsSuccessorWidensTheTargetByAFrameUntilAPlannedDelete) {
  Jb jb(regs(0, 800));
  std::vector<int> deletes;
  const std::vector<Change> changes = runCalls(jb, 6000, [](int call) -> std::vector<int> {
    if (call == 20) return {};
    if (call == 22) return {20, 22};  // frame 21 was played at call 21
    return {call};
  }, &deletes);
  // Frame 20 is too late: a repeat is planned and served at call 3000, when the action timer
  // runs out: the target widens by a frame and every frame is then held 40 ticks. From call 3050
  // (timer 5000) both trackers stand at 40, a frame above the floors: a delete is planned and
  // served 1000 calls later, which narrows the target again and brings the hold back to 0.
  EXPECT_EQ(changes, (std::vector<Change>{{3000, 40}, {4050, 0}}));
  EXPECT_EQ(deletes, std::vector<int>{4050});
  EXPECT_EQ(jb.stats.tooLateCount, 1);
  EXPECT_EQ(jb.stats.ajcRepeatCount, 2);  // the underrun at call 20, the planned repeat
  EXPECT_EQ(jb.state.actualHoldTime, 0);
}

TEST(AjcAdaptation, ReorderedAndDuplicatedFramesWithinTheHoldLeaveTheTargetAtItsFloor) {
  Jb jb(regs(80, 800));
  // Each pair arrives swapped, each frame twice, one copy after its successor.
  const std::vector<Change> changes = runCalls(jb, 6000, [](int call) -> std::vector<int> {
    if (call % 2 != 0) return {};
    return {call + 1, call + 1, call, call, call + 1};
  });
  // Holds alternate 40 and 80: a spread of 40 votes the target down at every re-examination, and
  // the floor (jitterTarget 80) holds it.
  EXPECT_EQ(changes, std::vector<Change>{});
  EXPECT_EQ(jb.state.currentHoldTime, 80);
  EXPECT_EQ(jb.stats.reorderCount, 3000);
  EXPECT_EQ(jb.stats.duplicateCount, 9000);
  EXPECT_EQ(jb.stats.tooLateCount, 0);
  EXPECT_EQ(jb.repeatsBeforeLastPlay, 0);
  EXPECT_EQ(jb.stats.ajcDeleteCount, 0);
  EXPECT_EQ(jb.played.size(), 5999u);
}

TEST(AjcAdaptation, SlowSenderClockWidensTheTargetAtEachSlipAndItDecays) {
  Jb jb(regs(0, 800));
  // The sender's clock is 0.05 % slow: every 2000 frames one call finds no frame.
  const std::vector<Change> changes = runCalls(jb, 8000, [](int call) -> std::vector<int> {
    std::vector<int> frames;
    for (int j = call - call / 2000 - 1; j <= call; ++j) {
      if (j >= 0 && j + j / 2000 == call) frames.push_back(j);
    }
    return frames;
  });
  // Each slip (calls 2001, 4002, 6003) is a frame due 40 ticks ago: the target widens by a
  // frame; the phase step holds re-examination off for 1450 calls, when both trackers are back
  // to 0 and the target narrows again.
  EXPECT_EQ(changes, (std::vector<Change>{{2001, 40}, {3451, 0}, {4002, 40}, {5452, 0}, {6003, 40}, {7453, 0}}));
  EXPECT_EQ(jb.stats.ajcUnderrunCount, 3);
}

TEST(AjcAdaptation, FastSenderClockIsAbsorbedByPlannedDeletesWithoutMovingTheTarget) {
  Jb jb(regs(0, 800));
  std::vector<int> deletes;
  // The sender's clock is 0.05 % fast: every 2000 calls one more frame arrives.
  const std::vector<Change> changes = runCalls(jb, 9000, [](int call) -> std::vector<int> {
    std::vector<int> frames;
    const int last = call + call / 2000, before = call == 0 ? -1 : call - 1 + (call - 1) / 2000;
    for (int j = before + 1; j <= last; ++j) frames.push_back(j);
    return frames;
  }, &deletes);
  // From call 2001 frames are held 40 ticks; the minimum tracker climbs to 40 in 1024 frames and
  // a delete is planned at call 3024, served at 4024 (the hold is 80 from call 4002 and falls back
  // to 40). The delete takes the minimum tracker down by a frame from 40 plus 5/128 for each of
  // the 22 frames held 80: 1002 frames later (call 5025) it is back at 40, and the next delete
  // is served at 6025; the next extra frame comes one call earlier against it (call 6002), so
  // its delete is planned after 1001 frames and served at 8025.
  EXPECT_EQ(changes, std::vector<Change>{});
  EXPECT_EQ(deletes, (std::vector<int>{4024, 6025, 8025}));
  EXPECT_EQ(jb.stats.ajcRepeatCount, 0);
  EXPECT_EQ(jb.state.actualHoldTime, 40);
}

// Slips every 101 calls keep the phase step's timer from ever reaching a re-examination: only
// the ceiling stops the target.
Arrivals slipEvery100Frames() {
  return [](int call) -> std::vector<int> {
    if (call % 101 == 100) return {};
    return {call - call / 101};
  };
}

TEST(AjcAdaptation, TargetStaysWithinItsCeilingAndStepsAtMost400Ticks) {
  {
    SCOPED_TRACE("ceiling 200");
    Jb jb(regs(0, 200));
    EXPECT_EQ(runCalls(jb, 1000, slipEvery100Frames()),
              (std::vector<Change>{{101, 40}, {202, 80}, {303, 120}, {404, 160}, {505, 200}}));
  }
  {
    SCOPED_TRACE("no ceiling given: 1600");
    Jb jb(regs(0, 0));
    const std::vector<Change> changes = runCalls(jb, 4500, slipEvery100Frames());
    ASSERT_EQ(changes.size(), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(changes[i], (Change{101 * (i + 1), static_cast<uint16_t>(40 * (i + 1))}));
    EXPECT_EQ(jb.state.currentHoldTime, 1600);
  }
  {
    SCOPED_TRACE("a 600-tick spike widens by 400");
    Jb jb(regs(0, 1600));
    const std::vector<Change> changes = runCalls(jb, 100, [](int call) -> std::vector<int> {
      if (call < 20) return {call};
      if (call < 35) return {};
      return {20 + call - 35};
    });
    EXPECT_EQ(changes, (std::vector<Change>{{35, 400}}));
  }
}

}  // namespace
}  // namespace ajctest

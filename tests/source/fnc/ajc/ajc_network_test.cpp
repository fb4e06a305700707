// The jitter buffer on random network schedules: a two-state (good / congested) path with bursty
// loss, delay jitter and reordering, a packet every 20 ms, invariants checked at every release.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "ajc_harness.h"

namespace ajctest {
namespace {

struct PathModel {
  double lossGood, lossBad;      // loss probability per packet in each state
  double toBad, toGood;          // state change probabilities per packet
  int baseDelay;                 // ticks
  int jitterGood, jitterBad;     // exponential mean of the extra delay, ticks
};

struct Outcome {
  int sent = 0, lost = 0;
};

// Runs `seconds` of 20 ms packets of `framesPerPacket` frames through the path.
Outcome runPath(Jb& jb, const PathModel& m, uint32_t seed, int seconds, int framesPerPacket) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  const int frameTicks = jb.obj.ajcTableEntriesp->pktTimep[jb.code];
  const int packetTicks = frameTicks * framesPerPacket;
  const int packets = seconds * 8000 / packetTicks;
  struct Arrival {
    int at;
    uint16_t ts;
  };
  std::vector<Arrival> arrivals;
  bool bad = false;
  Outcome out;
  for (int p = 0; p < packets; ++p) {
    bad = bad ? u(rng) >= m.toGood : u(rng) < m.toBad;
    ++out.sent;
    if (u(rng) < (bad ? m.lossBad : m.lossGood)) {
      ++out.lost;
      continue;
    }
    std::exponential_distribution<double> e(1.0 / (bad ? m.jitterBad : m.jitterGood));
    arrivals.push_back({p * packetTicks + m.baseDelay + static_cast<int>(e(rng)), static_cast<uint16_t>(p * packetTicks)});
  }
  std::stable_sort(arrivals.begin(), arrivals.end(), [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
  size_t next = 0;
  const int end = packets * packetTicks + 4000;
  for (int t = 0; t < end; t += jb.thread) {
    while (next < arrivals.size() && arrivals[next].at <= t) {
      for (int f = 0; f < framesPerPacket; ++f) {
        jb.arrive(static_cast<uint16_t>(arrivals[next].ts + f * frameTicks), AJC_PKT_VOICE, static_cast<uint16_t>(f));
      }
      ++next;
    }
    jb.release();
    if (::testing::Test::HasFatalFailure()) return out;
  }
  return out;
}

const PathModel kPaths[] = {
    {0.001, 0.05, 0.01, 0.2, 160, 40, 400},    // mostly quiet, bursts of jitter
    {0.01, 0.3, 0.02, 0.1, 400, 120, 1200},    // congested
    {0.0, 0.0, 0.0, 1.0, 80, 8, 8},            // clean
};

TEST(AjcNetwork, RandomPathsKeepEveryInvariant) {
  for (const PathModel& m : kPaths) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
      SCOPED_TRACE(::testing::Message() << "path base " << m.baseDelay << " seed " << seed);
      Jb jb(AJC_REGS{0, 1600, 80, 0, 0, 0}, kGsmFr);
      const Outcome o = runPath(jb, m, seed, 60, 1);
      ASSERT_FALSE(HasFatalFailure());
      // Every frame that arrived was played, deleted, dropped as late or still in the queue.
      const size_t arrived = o.sent - o.lost;
      EXPECT_LE(jb.played.size() + jb.deleted, arrived);
      EXPECT_GE(jb.played.size() + jb.deleted + jb.stats.tooLateCount + jb.internal.discards + jb.obj.ajcJitterQ.count, arrived);
      EXPECT_GT(jb.played.size(), arrived * 8 / 10);
    }
  }
}

TEST(AjcNetwork, CleanPathPlaysEverythingWithoutConcealment) {
  Jb jb(AJC_REGS{0, 1600, 80, 0, 0, 0}, kGsmFr);
  const Outcome o = runPath(jb, kPaths[2], 7, 30, 1);
  EXPECT_EQ(jb.played.size(), static_cast<size_t>(o.sent));
  EXPECT_EQ(jb.repeatsBeforeLastPlay, 0);
  EXPECT_EQ(jb.stats.tooLateCount, 0);
}

TEST(AjcNetwork, JitteryPathRaisesTheTargetAndLateFramesPlanRepeats) {
  Jb adaptive(AJC_REGS{0, 1600, 80, 0, 0, 0}, kGsmFr);
  runPath(adaptive, kPaths[1], 3, 60, 1);
  AJC_REGS fixed{0, 80, 80, 0, 0, 0};
  Jb still(fixed, kGsmFr);
  runPath(still, kPaths[1], 3, 60, 1);
  EXPECT_GT(adaptive.state.currentHoldTime, 80);
  EXPECT_EQ(still.state.currentHoldTime, 80);
  // Late frames plan a repeat, which lengthens the real hold, adaptive or not.
  EXPECT_GT(adaptive.stats.tooLateCount, 0);
  EXPECT_GT(still.repeatsBeforeLastPlay, 0);
}

TEST(AjcNetwork, SuperpacketsOfShortFramesOnARandomPath) {
  Jb jb(AJC_REGS{0, 1600, 160, 0, 0, 0}, kG711);
  const Outcome o = runPath(jb, kPaths[0], 11, 30, 4);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_GT(jb.played.size(), static_cast<size_t>(o.sent - o.lost) * 4 * 8 / 10);
}

}  // namespace
}  // namespace ajctest

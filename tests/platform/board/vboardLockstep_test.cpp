// The fast tick in lockstep: granted tick by tick, each grant answered once the tick's work is
// done; or kept on one clock with the line driver's hook sampling, neither side leading the other
// by more than a sampling period.

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "dsphalDrv.h"
#include "slicslacDrv.h"
#include "vboard.h"

namespace {

const bool kBoardShape = (::setenv("ORVOX_BOARD", "fxs=2,fxo=0,dect=0", 1), ::setenv("ORVOX_TICK", "fast", 1),
                          ::setenv("ORVOX_BOARD_SOCKET",
                                   ("/tmp/orvox_vboard_lockstep_" + std::to_string(::getpid()) + ".sock").c_str(), 1),
                          true);

bool ok(const std::string& answer) { return answer.rfind("OK", 0) == 0; }

long field(const std::string& text, const std::string& name) {
  const size_t at = text.find(name + "=");
  return at == std::string::npos ? -1 : std::atol(text.c_str() + at + name.size() + 1);
}

long boardTicks() { return field(vboardCommand("board"), "ticks"); }

// A DSP task: waits for each tick, counts it and does its work (here: nothing) until stopped.
class TickTask {
 public:
  explicit TickTask(int fd) : thread_([this, fd] {
    while (!stop_.load() && vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0) == 0) {
      ++ticks_;
      const long base = lockstepTicks.load();
      if (base >= 0) onTick(base);
    }
  }) {}
  ~TickTask() { join(); }
  void join() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  long ticks() const { return ticks_.load(); }
  std::atomic<long> lockstepTicks{-1};  // the board's ticks when the lockstep began
  std::atomic<long> hookSamples{0};     // periods sampled since then, kept by the sampling thread
  std::atomic<long> worstLead{0};       // ticks beyond the hook sampling, in ms

 private:
  void onTick(long base) {
    // The tick just begun ends 5 ms after the ticks before it; the sampling has reached at least
    // the end of its own last period (the sample counted may still be in the ioctl).
    const long lead = 5 * (boardTicks() - base) - 10 * (hookSamples.load() + 1);
    long worst = worstLead.load();
    while (lead > worst && !worstLead.compare_exchange_weak(worst, lead)) {
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<long> ticks_{0};
  std::thread thread_;
};

TEST(VirtualBoardLockstep, GrantedTicksRunOneByOneAndEachGrantIsAnsweredWhenItsWorkIsDone) {
  EXPECT_FALSE(ok(vboardCommand("step")));  // not in lockstep
  EXPECT_FALSE(ok(vboardCommand("lockstep sometimes")));
  const int fd = vboardOpen(DSPHAL_DEVICE, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_SETTICKENABLE, 1), 0);
  ASSERT_TRUE(ok(vboardCommand("lockstep step")));
  {
    TickTask task(fd);
    // Each grant runs exactly one tick: a tick run without a grant would put the count ahead of
    // the grants.
    const long before = task.ticks();
    for (int i = 1; i <= 20; ++i) {
      const std::string answer = vboardCommand("step");
      ASSERT_TRUE(ok(answer)) << answer;
      EXPECT_EQ(task.ticks(), before + i);  // answered after the tick, before the next
    }
    const std::string answer = vboardCommand("step 30");
    ASSERT_TRUE(ok(answer)) << answer;
    EXPECT_EQ(task.ticks(), before + 50);
    EXPECT_FALSE(ok(vboardCommand("step 0")));
    EXPECT_FALSE(ok(vboardCommand("step x")));
    EXPECT_NE(vboardCommand("board").find("lockstep=step"), std::string::npos);
    // Released, the tick runs back to back again, and the task can be stopped.
    ASSERT_TRUE(ok(vboardCommand("lockstep off")));
    while (task.ticks() < before + 200) std::this_thread::yield();
    task.join();
  }
  vboardClose(fd);
}

TEST(VirtualBoardLockstep, TicksAndHookSamplingKeepOneClock) {
  const int fd = vboardOpen(DSPHAL_DEVICE, 0);
  const int ss = vboardOpen(SLICSLAC_DEVICE, 0);
  ASSERT_GE(fd, 0);
  ASSERT_GE(ss, 0);
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_SETTICKENABLE, 1), 0);
  long worstHookLead = 0;
  {
    // Both sides run before the lockstep begins, as the DSP task and the line driver's sampling
    // do in the daemon.
    TickTask task(fd);
    ASSERT_GE(vboardIoctl(ss, SS_CMD_ISOFFHOOK, 0), 0);
    while (task.ticks() < 10) std::this_thread::yield();
    const std::string engaged = vboardCommand("lockstep line");
    ASSERT_TRUE(ok(engaged)) << engaged;
    const long ticks0 = field(engaged, "ticks");
    task.lockstepTicks = ticks0;
    // The line driver samples both lines once a period, as fast as the board lets it.
    for (long period = 1; period <= 200; ++period) {
      for (int line = 0; line < 2; ++line) ASSERT_GE(vboardIoctl(ss, SS_CMD_ISOFFHOOK, line), 0);
      task.hookSamples = period;
      // Back from the sample, the ticks have reached the period before it.
      const long lead = 10 * period - 10 - 5 * (boardTicks() - ticks0);
      worstHookLead = std::max(worstHookLead, lead);
    }
    const long ticks = field(vboardCommand("board"), "ticks") - ticks0;
    task.lockstepTicks = -1;  // what runs from here on is free
    ASSERT_TRUE(ok(vboardCommand("lockstep off")));
    task.join();
    std::printf("200 hook periods, %ld ticks; worst lead of the ticks %ld ms, of the sampling %ld ms\n", ticks,
                task.worstLead.load(), worstHookLead);
    EXPECT_LE(task.worstLead.load(), 0);
    EXPECT_LE(worstHookLead, 0);
    EXPECT_GE(ticks, 2 * 200 - 2);
    EXPECT_LE(ticks, 2 * 200);
  }
  vboardClose(ss);
  vboardClose(fd);
  ::unlink(vboardSocketPath().c_str());
}

}  // namespace

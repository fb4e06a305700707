// Host adaptation layer: semaphores, the RTP clock, the assertion hook and the frame entry.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "halshim/halshim.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "lhapi_tickprof.h"
#include "lhapi_time.h"
#include "mem/mem.h"
#include "qrn/qrn.h"

// The board's PCM exchange, which the frame entry calls between the HAL shim's commands and the
// kernel's frame sync: here it records the order of the calls.
namespace {
std::vector<std::string>& calls() {
  static std::vector<std::string> c;
  return c;
}

// The frame sync whose PCM ingress burns kSlowIngressNs of the thread's processor time and takes
// a page fault on each of kSlowIngressPages fresh pages.
std::atomic<uint32_t> gSlowIngressTick{~0u};
constexpr int64_t kSlowIngressNs = 2000000;
constexpr size_t kSlowIngressPages = 32;

void touchFreshPages() {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* area = mmap(nullptr, kSlowIngressPages * page, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return;
  for (size_t i = 0; i < kSlowIngressPages; ++i) static_cast<volatile char*>(area)[i * page] = 1;
  munmap(area, kSlowIngressPages * page);
}

int64_t threadCpuNow() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}
}  // namespace

void lhapiProcessIngress() {
  calls().push_back("ingress " + std::to_string(KNL_gGlobals.frameSyncCount));
  if (KNL_gGlobals.frameSyncCount == gSlowIngressTick) {
    const int64_t until = threadCpuNow() + kSlowIngressNs;
    while (threadCpuNow() < until) {
    }
    touchFreshPages();
  }
}
void lhapiProcessEgress() { calls().push_back("egress " + std::to_string(KNL_gGlobals.frameSyncCount)); }

namespace {

// The lock is recursive: a thread's nested takes and releases keep it held until the last
// release, and only then may another thread take it.
TEST(LhapiLock, NestedTakesHoldTheLockUntilTheLastRelease) {
  std::atomic<bool> otherHeld{false};
  HSZBIOSSTATE outer = CritSectEnter();
  HSZBIOSSTATE inner = CritSectEnter();
  std::thread other([&] {
    HSZBIOSSTATE s = CritSectEnter();
    otherHeld = true;
    CritSectLeave(s);
  });
  CritSectLeave(inner);
  // Still held once: the other thread must not get in, however long it is given.
  for (int i = 0; i < 200 && !otherHeld; ++i) std::this_thread::sleep_for(std::chrono::microseconds(50));
  EXPECT_FALSE(otherHeld);
  CritSectLeave(outer);
  other.join();
  EXPECT_TRUE(otherHeld);
}

TEST(LhapiSemaphore, TimedTakeTellsAGiveFromATimeOutAndResetDrains) {
  lhapiInit(0);
  LHAPI_SEMID sem = nullptr;
  ASSERT_EQ(lhapiOsSemCreate(&sem), 0);
  EXPECT_NE(lhapiOsSemTake(sem, 10), 0);  // nothing given: a time-out
  EXPECT_EQ(lhapiOsSemGive(sem), 0);
  EXPECT_EQ(lhapiOsSemTake(sem, 10), 0);
  // A give that arrives after the taker gave up is drained by the reset and wakes nobody later.
  EXPECT_EQ(lhapiOsSemGive(sem), 0);
  EXPECT_EQ(lhapiOsSemReset(sem), 0);
  EXPECT_NE(lhapiOsSemTake(sem, 10), 0);
  // The count never exceeds one.
  lhapiOsSemGive(sem);
  lhapiOsSemGive(sem);
  EXPECT_EQ(lhapiOsSemTake(sem, 0), 0);
  EXPECT_NE(lhapiOsSemTake(sem, 0), 0);
  // A give from another thread wakes a waiting taker.
  std::thread giver([sem] { lhapiOsSemGive(sem); });
  EXPECT_EQ(lhapiOsSemTake(sem, 5000), 0);
  giver.join();
  lhapiDeinit();
}

TEST(LhapiSemaphore, TheFiftyFirstIsRefusedWithALogLine) {
  lhapiInit(0);
  std::vector<LHAPI_SEMID> sems(LHAPI_MAX_SEMAPHORES);
  for (auto& s : sems) ASSERT_EQ(lhapiOsSemCreate(&s), 0);
  EXPECT_EQ(lhapi_gSemCount, 50u);
  testing::internal::CaptureStdout();
  LHAPI_SEMID extra = nullptr;
  EXPECT_EQ(lhapiOsSemCreate(&extra), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("LHAPI: lhapi: Attempting to allocate too many semaphores: Max 50"),
            std::string::npos);
  EXPECT_EQ(extra, nullptr);
  lhapiDeinit();
  EXPECT_EQ(lhapi_gSemCount, 0u);
  EXPECT_EQ(lhapiOsSemCreate(&extra), 0);
  lhapiDeinit();
}

uint32_t fakeMs = 0;
uint32_t fakeClock() { return fakeMs; }

TEST(LhapiRtpClock, AdvancesExactlyWithTheMillisecondClockAcrossItsWrap) {
  lhapi_gpMsClock = fakeClock;
  lhapiRtpTimeRestart();
  fakeMs = 41943030 - 700;  // the OS clock wraps after 41 943 030
  lhapiRtpTimeSet(0, 0);
  uint32_t s0 = 0, us0 = 0, s = 0, us = 0;
  lhapiRtpTimeGet(&s0, &us0);
  lhapiRtpTimeSet(1000, 999000);
  lhapiRtpTimeGet(&s0, &us0);
  EXPECT_EQ(s0, 1000u);
  EXPECT_EQ(us0, 999000u);
  fakeMs += 1500;  // 1.5 s later, across the wrap
  fakeMs -= 41943031;
  lhapiRtpTimeGet(&s, &us);
  EXPECT_EQ(s, 1002u);
  EXPECT_EQ(us, 499000u);
  fakeMs += 1000;
  lhapiRtpTimeGet(&s, &us);
  EXPECT_EQ(s, 1003u);
  EXPECT_EQ(us, 499000u);
  lhapi_gpMsClock = lhapiOsTimeGetMs;
}

TEST(LhapiRtpClock, NtpTimeIsOnTheNtpEpoch) {
  uint32_t s = 0, us = 0;
  EXPECT_EQ(lhapiRtpNtpTimeGet(&s, &us), 0);
  const uint32_t unixNow = static_cast<uint32_t>(time(nullptr));
  EXPECT_NEAR(static_cast<double>(s - 2208988800u), static_cast<double>(unixNow), 2.0);
  EXPECT_LT(us, 1000000u);
}

TEST(LhapiAssert, LogsOneErrorLineWithTheFileNameAndReturns) {
  testing::internal::CaptureStdout();
  LHAPI_ASSERT(1 + 1 == 3);
  LHAPI_ASSERT(true);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("[ept]\x1b[0;31m LHAPI: Assert in file lhapi_test.cpp at line "),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("LHAPI: Assert", out.find("LHAPI: Assert") + 1), std::string::npos);
}

// A pool run dry by a flood is dumped once, not once per refused allocation; the refusals are
// counted when it serves again. A flood that lets the pool recover between datagrams starts dry
// spell after spell: only one per report interval is reported, the ones in between are summed up
// with the next report. A flood runs several pools dry at once: the interval is one for all pools.
// A large pool's report lists its first blocks and counts the rest.
TEST(LhapiPoolLog, APoolThatRunsDryIsReportedOncePerSpellAndPerInterval) {
  std::vector<uint8_t> memory(MEM_BufPoolMemSize(16, 2));
  MEM_BufPool pool{};
  ASSERT_EQ(MEM_InitBufPoolNoAdd(&pool, 16, memory.data(), memory.size()), 2);
  void* first = MEM_BufPoolAlloc(&pool);
  void* second = MEM_BufPoolAlloc(&pool);
  ASSERT_NE(second, nullptr);
  constexpr int kOtherBlocks = MEM_POOL_DRY_DUMP_BLOCKS + 3;
  std::vector<uint8_t> otherMemory(MEM_BufPoolMemSize(16, kOtherBlocks));
  MEM_BufPool other{};
  ASSERT_EQ(MEM_InitBufPoolNoAdd(&other, 16, otherMemory.data(), otherMemory.size()), kOtherBlocks);
  std::vector<void*> otherRest;
  for (int i = 1; i < kOtherBlocks; ++i) otherRest.push_back(MEM_BufPoolAlloc(&other));
  void* otherHeld = MEM_BufPoolAlloc(&other);
  auto linesWith = [](const std::string& out, const std::string& text) {
    int n = 0;
    for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
  };
  // One dry spell of `refusals` refused allocations from a pool whose blocks are all taken, ended
  // by freeing `held` and a served allocation (held again).
  auto drySpellOf = [](MEM_BufPool& p, void*& held, int refusals) {
    for (int i = 0; i < refusals; ++i) EXPECT_EQ(MEM_BufPoolAlloc(&p), nullptr);
    MEM_BufPoolFree(&p, held);
    held = MEM_BufPoolAlloc(&p);
    ASSERT_NE(held, nullptr);
  };
  auto drySpell = [&](int refusals) { drySpellOf(pool, second, refusals); };
  const uint32_t savedFrames = KNL_gGlobals.frameSyncCount;
  KNL_gGlobals.frameSyncCount = 0xFFFFFF00u;  // the interval is measured across the wrap
  testing::internal::CaptureStdout();
  drySpell(500);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(linesWith(out, "# free = 0"), 1) << out;
  EXPECT_EQ(linesWith(out, "  Hdr @ "), 2) << out;
  EXPECT_EQ(linesWith(out, "LHAPI: Assert"), 1) << out;
  EXPECT_EQ(linesWith(out, " serves again after refusing 500 allocations"), 1) << out;
  EXPECT_EQ(linesWith(out, "\n"), 5) << out;

  // A hundred more spells within the interval, and the first of another pool: nothing is
  // logged, everything is counted.
  testing::internal::CaptureStdout();
  for (int spell = 0; spell < 100; ++spell) {
    KNL_gGlobals.frameSyncCount += (MEM_POOL_DRY_REPORT_FRAMES - 1) / 100;
    drySpell(3);
  }
  drySpellOf(other, otherHeld, 4);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");

  // The first spell once the interval has passed is reported with the quiet ones before it.
  KNL_gGlobals.frameSyncCount = 0xFFFFFF00u + MEM_POOL_DRY_REPORT_FRAMES;
  testing::internal::CaptureStdout();
  drySpell(7);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(linesWith(out, " ran dry 100 more times (300 allocations refused) since its last report"),
            1)
      << out;
  EXPECT_EQ(linesWith(out, "# free = 0"), 1) << out;
  EXPECT_EQ(linesWith(out, "LHAPI: Assert"), 1) << out;
  EXPECT_EQ(linesWith(out, " serves again after refusing 7 allocations"), 1) << out;
  EXPECT_EQ(linesWith(out, "\n"), 6) << out;

  // The other pool's next spell an interval later.
  KNL_gGlobals.frameSyncCount += MEM_POOL_DRY_REPORT_FRAMES;
  testing::internal::CaptureStdout();
  drySpellOf(other, otherHeld, 5);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(linesWith(out, " ran dry 1 more times (4 allocations refused) since its last report"), 1) << out;
  EXPECT_EQ(linesWith(out, " serves again after refusing 5 allocations"), 1) << out;
  EXPECT_EQ(linesWith(out, "  Hdr @ "), MEM_POOL_DRY_DUMP_BLOCKS) << out;
  EXPECT_EQ(linesWith(out, "  ... and 3 more blocks not listed"), 1) << out;
  EXPECT_EQ(linesWith(out, "\n"), MEM_POOL_DRY_DUMP_BLOCKS + 5) << out;
  KNL_gGlobals.frameSyncCount = savedFrames;
  MEM_BufPoolFree(&pool, first);
  MEM_BufPoolFree(&pool, second);
  MEM_BufPoolFree(&other, otherHeld);
  for (void* block : otherRest) MEM_BufPoolFree(&other, block);
}

void hostDrop(QRN_Handle, QRN_SocketMsg* msg) { QRN_FreeSocketMsg(msg); }

TEST(LhapiFrameEntry, RunsHalShimBoardPcmThenOneFrameSync) {
  lhapiInit(0);
  QRN_HapiInit(hostDrop, nullptr);
  calls().clear();
  lhapiKNL_RunReadyThreads();
  lhapiKNL_RunReadyThreads();
  EXPECT_EQ(calls(), (std::vector<std::string>{"ingress 0", "egress 0", "ingress 1", "egress 1"}));
  EXPECT_EQ(KNL_gGlobals.frameSyncCount, 2u);
  EXPECT_EQ(KNL_gGlobals.frameSyncNestingLevel, 0u);
  EXPECT_EQ(gKnlFrameSyncCount, 0u);
}

// The tick profile: off, it counts nothing; on, it has every tick in its distribution, names the
// stage where the slowest one spent its time and the page faults the kernel served it, and counts
// the faulting ticks among all.
TEST(LhapiFrameEntry, TheTickProfileFindsTheSlowTickAndItsStage) {
  ::setenv("ORVOX_TICK_PROFILE", "0", 1);
  lhapiInit(0);
  ::unsetenv("ORVOX_TICK_PROFILE");
  QRN_HapiInit(hostDrop, nullptr);
  char report[2048];
  for (int i = 0; i < 3; ++i) lhapiKNL_RunReadyThreads();
  lhapiTickProfileReport(report, sizeof report);
  EXPECT_EQ(std::string(report).rfind("tick profile: 0 ticks", 0), 0u) << report;

  ::setenv("ORVOX_TICK_PROFILE", "yes", 1);  // any value but "0" switches it on, as for every switch
  lhapiInit(0);
  ::unsetenv("ORVOX_TICK_PROFILE");
  QRN_HapiInit(hostDrop, nullptr);
  gSlowIngressTick = KNL_gGlobals.frameSyncCount + 6;  // the seventh tick from here
  for (int i = 0; i < 20; ++i) lhapiKNL_RunReadyThreads();
  gSlowIngressTick = ~0u;
  lhapiTickProfileReport(report, sizeof report);
  const std::string text(report);
  EXPECT_EQ(text.rfind("tick profile: 20 ticks", 0), 0u) << text;
  // The slowest tick comes first, and its time is the ingress stage's.
  const size_t first = text.find("\n  tick ");
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.compare(first, 11, "\n  tick 6: "), 0) << text;
  const double cpuUs = std::atof(text.c_str() + text.find("cpu ", first) + 4);
  const double ingressUs = std::atof(text.c_str() + text.find("pcm in ", first) + 7);
  EXPECT_GE(cpuUs, kSlowIngressNs / 1000.0) << text;
  EXPECT_GE(ingressUs, kSlowIngressNs / 1000.0) << text;
  EXPECT_GE(ingressUs, 0.9 * cpuUs) << text;
  const size_t line = text.find('\n', first + 1);
  EXPECT_GE(std::atol(text.c_str() + text.find("faults ", first) + 7),
            static_cast<long>(kSlowIngressPages)) << text;
  EXPECT_GE(std::atoi(text.c_str() + text.find(", cpu ", first) + 6), 0) << text;
  // The host's steal and the interrupts are counted over a window that holds the whole tick.
  const size_t around = text.find("around it (", first);
  ASSERT_LT(around, line) << text;
  EXPECT_GE(std::atof(text.c_str() + around + 11), kSlowIngressNs / 1e6) << text;
  EXPECT_LT(text.find(" interrupts ", around), line) << text;
  const size_t service = text.find("tick profile: kernel service inside ticks: ");
  ASSERT_LT(service, first) << text;
  EXPECT_GE(std::atol(text.c_str() + text.find("with page faults (", service) + 18),
            static_cast<long>(kSlowIngressPages)) << text;
  // Nineteen quick ticks and one of 2 ms: the median is small, the maximum is that tick.
  const double p50 = std::atof(text.c_str() + text.find(" p50 ") + 5);
  const double max = std::atof(text.c_str() + text.find(" max ") + 5);
  EXPECT_LT(p50, kSlowIngressNs / 1000.0) << text;
  EXPECT_DOUBLE_EQ(max, cpuUs) << text;
  lhapiInit(0);
}

}  // namespace

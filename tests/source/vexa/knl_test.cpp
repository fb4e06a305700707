// Kernel threads: crediting, ready order, deferred changes and the ingress-overrun cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "knl/knl.h"
#include "rm/rm.h"
#include "vexa_test_util.h"

namespace {

using vexa_test::hostLog;
using vexa_test::tick;

struct Probe {
  KNL_Thread thread{};
  std::string name;
  std::vector<std::string>* runs = nullptr;
  std::function<void(Probe&)> body;
};

void probeBody(void* context) {
  auto* p = static_cast<Probe*>(context);
  p->runs->push_back(p->name);
  if (p->body) p->body(*p);
}

class KnlTest : public ::testing::Test {
 protected:
  void SetUp() override { vexa_test::startFramework(); }

  Probe& make(const std::string& name, uint16_t frameSize, KNL_ThreadPriority priority) {
    probes_.push_back(std::make_unique<Probe>());
    Probe& p = *probes_.back();
    p.name = name;
    p.runs = &runs_;
    KNL_InitThread(&p.thread, probeBody, &p);
    p.thread.newSamples = KNL_NEWSAMPLES_PER_TICK;
    LhapiLockGuard lock;
    KNL_SetThreadFrameSize(&p.thread, frameSize);
    if (frameSize != 0) KNL_SetThreadPriority_Unprotected(&p.thread, priority);
    return p;
  }

  int count(const std::string& name) const {
    return static_cast<int>(std::count(runs_.begin(), runs_.end(), name));
  }

  void TearDown() override {
    for (auto& p : probes_) KNL_TermThread(&p->thread);
  }

  std::vector<std::unique_ptr<Probe>> probes_;
  std::vector<std::string> runs_;
};

TEST_F(KnlTest, ThreadsRunOncePerFrameOfCreditedSamples) {
  make("f40", 40, 216);
  make("f80", 80, 432);
  make("f0", 0, 0);
  std::vector<int> f80Ticks;
  for (int t = 1; t <= 8; ++t) {
    const int before = count("f80");
    tick();
    if (count("f80") != before) f80Ticks.push_back(t);
  }
  EXPECT_EQ(count("f40"), 8);
  EXPECT_EQ(f80Ticks, (std::vector<int>{2, 4, 6, 8}));
  EXPECT_EQ(count("f0"), 0);
  EXPECT_EQ(KNL_gGlobals.frameSyncCount, 8u);
  EXPECT_EQ(KNL_gGlobals.frameSyncNestingLevel, 0u);
}

TEST_F(KnlTest, MorePendingSamplesRunFirstThenHigherPriority) {
  Probe& low = make("low", 40, 216);
  Probe& high = make("high", 40, 472);
  // Equal credit: the higher priority runs first.
  tick();
  EXPECT_EQ(runs_, (std::vector<std::string>{"high", "low"}));
  runs_.clear();
  // One frame of extra credit for the low-priority thread: it runs first, and once it is level
  // with the other the priority decides; a thread still due runs again in the same pass.
  {
    LhapiLockGuard lock;
    low.thread.semaphore = static_cast<int16_t>(low.thread.semaphore + 40);
  }
  tick();
  EXPECT_EQ(runs_, (std::vector<std::string>{"low", "high", "low"}));
  runs_.clear();
  // Threads made ready by one frame sync, credited in ascending priority, take their places by
  // pending samples whatever the order they are credited in: low 40, mid 80, high none left over.
  Probe& mid = make("mid", 40, 344);
  {
    LhapiLockGuard lock;
    EXPECT_EQ(high.thread.semaphore, -40);
    low.thread.semaphore = 0;
    mid.thread.semaphore = 40;
  }
  tick();
  EXPECT_EQ(runs_, (std::vector<std::string>{"mid", "mid", "low", "high", "mid", "low"}));
}

TEST_F(KnlTest, ChangesRequestedByABodyApplyAfterItReturns) {
  Probe& p = make("p", 40, 216);
  uint16_t seenInBody = 0;
  p.body = [&seenInBody](Probe& self) {
    if (self.thread.requestSet == 0 && self.thread.frameSize == 40) {
      self.thread.requestSet = KNL_REQUEST_FRAMESIZE | KNL_REQUEST_PRIORITY;
      self.thread.requestFrameSizeValue = 80;
      self.thread.requestPriorityValue = 432;
    }
    seenInBody = self.thread.frameSize;
  };
  tick();
  EXPECT_EQ(seenInBody, 40);
  EXPECT_EQ(p.thread.frameSize, 80);
  EXPECT_EQ(p.thread.priority, 432);
  EXPECT_EQ(p.thread.requestSet, 0);
  EXPECT_EQ(p.thread.state, KNL_STATE_WAITING);
  tick(4);
  EXPECT_EQ(count("p"), 3);  // once at 40, then every second tick at 80
  // A requested frame size of 0 suspends the thread for good.
  p.body = [](Probe& self) {
    self.thread.requestSet = KNL_REQUEST_FRAMESIZE;
    self.thread.requestFrameSizeValue = 0;
  };
  tick(2);
  EXPECT_EQ(p.thread.state, KNL_STATE_SUSPENDED);
  const int runs = count("p");
  tick(4);
  EXPECT_EQ(count("p"), runs);
}

// The quick run of the one thread that has it, or of the body of a thread, stands for the whole
// run when it says so: the body stays out, the frame still counts; otherwise the body runs as usual.
void otherBody(void* context) { probeBody(context); }
int gQuickCalls = 0;
bool gQuickDoesAll = true;
bool quickProbe(void*) {
  ++gQuickCalls;
  return gQuickDoesAll;
}

TEST_F(KnlTest, AQuickRunStandsForTheWholeRunOnlyWhenItSaysSo) {
  // The resource manager's runs with nothing queued leave no socket current, as its body does.
  QRN_gSocketContext.pCurrentSocket = QRN_RESMAN_CONTEXT;
  tick();
  EXPECT_EQ(QRN_gSocketContext.pCurrentSocket, nullptr);
  Probe& p = make("p", 80, 432);
  vexa_test::AssertCounter asserts;
  KNL_SetThreadQuickRun(&p.thread, quickProbe);  // the resource manager holds the place
  EXPECT_EQ(asserts.stop(), 1);
  KNL_SetThreadQuickRun(&RM_gThread, nullptr);
  KNL_SetThreadQuickRun(&p.thread, quickProbe);
  gQuickCalls = 0;
  gQuickDoesAll = true;
  tick(4);
  EXPECT_EQ(gQuickCalls, 2);
  EXPECT_EQ(count("p"), 0);
  EXPECT_EQ(p.thread.state, KNL_STATE_WAITING);
  gQuickDoesAll = false;
  tick(4);
  EXPECT_EQ(gQuickCalls, 4);
  EXPECT_EQ(count("p"), 2);
  // Given to a body, it stands for the runs of the threads with that body that may run quick, and
  // of no other.
  KNL_SetThreadQuickRun(&p.thread, nullptr);
  Probe& q = make("q", 80, 432);
  Probe& r = make("r", 80, 433);
  q.thread.threadFunc = otherBody;
  r.thread.threadFunc = otherBody;
  q.thread.mayRunQuick = 1;
  p.thread.mayRunQuick = 1;
  ASSERT_EQ(KNL_SetBodyQuickRun(otherBody, quickProbe), 1);
  gQuickCalls = 0;
  gQuickDoesAll = true;
  tick(4);
  EXPECT_EQ(gQuickCalls, 2);
  EXPECT_EQ(count("q"), 0);
  EXPECT_EQ(count("r"), 2);
  EXPECT_EQ(count("p"), 4);
  EXPECT_EQ(KNL_SetBodyQuickRun(otherBody, nullptr), 1);
  tick(4);
  EXPECT_EQ(gQuickCalls, 2);
  EXPECT_EQ(count("q"), 2);
}

TEST_F(KnlTest, TicksDuringALongRunStartAndEndAnOverrunCycle) {
  Probe& longRun = make("long", 40, 472);
  make("w", 40, 216);
  int syncsInside = 0;
  longRun.body = [&syncsInside](Probe&) {
    if (syncsInside == 0) {
      // Nine ticks arrive while this body runs: credit piles up until it reaches six ticks, then
      // crediting stops.
      for (syncsInside = 1; syncsInside <= 9; ++syncsInside) KNL_FrameSync();
    }
  };
  tick();
  ASSERT_EQ(hostLog().size(), 2u);
  EXPECT_EQ(hostLog()[0].header, HAPI_RM_KNL_OVERRUN_EVT);
  EXPECT_EQ(hostLog()[0].handle, HAPIRESMAN);
  EXPECT_EQ(hostLog()[0].op1, 1);
  EXPECT_EQ(hostLog()[1].header, HAPI_RM_KNL_OVERRUN_EVT);
  EXPECT_EQ(hostLog()[1].op1, 0);
  EXPECT_EQ(hostLog()[1].op2, 10);  // frame syncs so far
  EXPECT_LT(hostLog()[0].op2, hostLog()[1].op2);
  // The pass drained every due thread before the flush.
  EXPECT_GE(count("w"), 6);
  EXPECT_EQ(KNL_gGlobals.cpuStatus & (KNL_INGRESS_OVERRUN | KNL_INGRESS_OVERRUN_RESET), 0u);
  EXPECT_NE(KNL_gGlobals.cpuStatus & KNL_INGRESS_OVERRUN_FLUSH, 0u);
  EXPECT_GT(longRun.thread.overrunCount, 0);
  tick();
  EXPECT_NE(KNL_gGlobals.cpuStatus & KNL_INGRESS_OVERRUN_RESET, 0u);
  EXPECT_EQ(KNL_gGlobals.cpuStatus & KNL_INGRESS_OVERRUN_FLUSH, 0u);
  EXPECT_EQ(hostLog().size(), 2u);
}

TEST_F(KnlTest, ConsistencyChecksLogAndCarryOn) {
  Probe& p = make("p", 40, 216);
  vexa_test::AssertCounter asserts;
  {
    LhapiLockGuard lock;
    KNL_SetThreadPriority_Unprotected(&p.thread, 0x100);  // no room for a frame size
  }
  EXPECT_EQ(KNL_GetUserContext(), nullptr);  // no running thread
  p.body = [](Probe& self) { KNL_TermThread(&self.thread); };  // terminating itself is refused
  tick();
  EXPECT_EQ(asserts.stop(), 3);
  EXPECT_EQ(p.thread.threadFunc, probeBody);
  EXPECT_EQ(p.thread.state, KNL_STATE_WAITING);
}

}  // namespace

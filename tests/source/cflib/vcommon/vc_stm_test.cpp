// The table-driven state-machine engine and its event ring.
#include <gtest/gtest.h>

#include <vector>

#include "vc_stm.h"

namespace {

std::vector<int> gTrace;
int32_t a1(void*) { gTrace.push_back(1); return 0; }
int32_t a2(void*) { gTrace.push_back(2); return 0; }
int32_t a3(void*) { gTrace.push_back(3); return 0; }
int32_t tick(void*) { gTrace.push_back(100); return 0; }

using Row = VCZSTMROW<3>;
extern const Row sIdle[];
extern const Row sBusy[];
extern const Row sDead[];
const Row sIdle[] = {
    {0, sIdle, {tick, nullptr, nullptr}},
    {5, sBusy, {a1, a2, nullptr}},
    {6, sBusy, {a1, nullptr, a3}},  // a3 behind a null slot never runs
    {-1, nullptr, {nullptr, nullptr, nullptr}},
};
const Row sBusy[] = {
    {0, sBusy, {a3, nullptr, nullptr}},
    {7, sIdle, {nullptr, nullptr, nullptr}},
    {-1, nullptr, {nullptr, nullptr, nullptr}},
};
const Row sDead[] = {{0, sDead, {tick, nullptr, nullptr}}, {-1, nullptr, {nullptr, nullptr, nullptr}}};

TEST(VcStm, TransitionsRunTheirActionsInOrderUpToTheFirstEmptySlot) {
  gTrace.clear();
  EXPECT_EQ(vcfStmEventHandler<3>(sIdle, 5, nullptr), sBusy);
  EXPECT_EQ(gTrace, (std::vector<int>{1, 2}));
  gTrace.clear();
  EXPECT_EQ(vcfStmEventHandler<3>(sIdle, 6, nullptr), sBusy);
  EXPECT_EQ(gTrace, (std::vector<int>{1}));
}

TEST(VcStm, UnknownZeroNegativeEventsAndBareStatesChangeNothing) {
  gTrace.clear();
  for (VCESTMEVT ev : {9, 0, -1, -32767}) EXPECT_EQ(vcfStmEventHandler<3>(sIdle, ev, nullptr), sIdle);
  for (VCESTMEVT ev : {0, 5, 7}) EXPECT_EQ(vcfStmEventHandler<3>(sDead, ev, nullptr), sDead);
  EXPECT_TRUE(gTrace.empty());
  EXPECT_EQ(vcfStmEventHandler<3>(nullptr, 5, nullptr), nullptr);
  vcfStmExecuteFlist<3>(nullptr, nullptr);
  EXPECT_TRUE(gTrace.empty());
}

TEST(VcStm, APassDrainsEventsInOrderThenRunsTheReachedStateOnce) {
  VCZSTMEVQN<2> q;
  vcfStmInitQueue(&q);
  vcfStmPutEvent(&q, 5);
  vcfStmPutEvent(&q, 7);
  gTrace.clear();
  const Row* s = vcfStmRun<3>(sIdle, &q, nullptr);
  EXPECT_EQ(s, sIdle);  // 5 took it to busy, 7 back to idle
  EXPECT_EQ(gTrace, (std::vector<int>{1, 2, 100}));
  VCESTMEVT ev;
  EXPECT_EQ(vcfStmGetEvent(&q, &ev), 0);
}

TEST(VcStm, QueueCountsWrapWithoutLosingEvents) {
  VCZSTMEVQN<32> q;
  vcfStmInitQueue(&q);
  q.roff = q.woff = 65530;
  int next = 1;
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 3; ++i) vcfStmPutEvent(&q, next + i);
    VCESTMEVT ev = 0;
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(vcfStmGetEvent(&q, &ev), 1);
      EXPECT_EQ(ev, next + i);
    }
    EXPECT_EQ(vcfStmGetEvent(&q, &ev), 0);
    next += 3;
  }
  EXPECT_LT(q.woff, 100);  // wrapped through 65535
}

TEST(VcStm, RowWidthsMatchEveryFamily) {
  EXPECT_EQ(sizeof(VCZSTMROW<1>), vcStmRowBytes(1));
  EXPECT_EQ(sizeof(VCZSTMROW<3>), vcStmRowBytes(3));
  // The generic handler walks any family given its width.
  gTrace.clear();
  const void* s = vcfStmEventHandlerX(sIdle, 5, nullptr, sizeof(Row), 3);
  EXPECT_EQ(s, sBusy);
}

}  // namespace

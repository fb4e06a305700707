#include "sme.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The context of the test machines: a trace of the actions that ran.
struct Trace {
  std::string calls;
};

SME_EVENT actA(void *ctx) {
  static_cast<Trace *>(ctx)->calls += "A";
  return SME_NO_EVENT;
}
SME_EVENT actB7(void *ctx) {
  static_cast<Trace *>(ctx)->calls += "B";
  return 7;
}
SME_EVENT actC(void *ctx) {
  static_cast<Trace *>(ctx)->calls += "C";
  return SME_NO_EVENT;
}
SME_EVENT actD8(void *ctx) {
  static_cast<Trace *>(ctx)->calls += "D";
  return 8;
}
SME_EVENT actE(void *ctx) {
  static_cast<Trace *>(ctx)->calls += "E";
  return SME_NO_EVENT;
}

extern const SME_STATE stateIdle[];
extern const SME_STATE stateRinging[];
extern const SME_STATE stateActive[];
extern const SME_STATE stateDone[];

const SME_STATE stateIdle[] = {
    {3, stateRinging, {actA, nullptr, nullptr}},
    {3, stateDone, {actE, nullptr, nullptr}},  // never reached: the first row for 3 wins
    {4, stateRinging, {actA, actB7, actC}},
    {5, stateActive, {nullptr, actC, nullptr}},
    {SME_NO_EVENT, nullptr, {nullptr, nullptr, nullptr}},
};

const SME_STATE stateRinging[] = {
    {7, stateActive, {actD8, actE, nullptr}},
    {SME_NO_EVENT, nullptr, {nullptr, nullptr, nullptr}},
};

const SME_STATE stateActive[] = {
    {8, stateDone, {actA, actA, actA}},
    {SME_NO_EVENT, nullptr, {nullptr, nullptr, nullptr}},
};

const SME_STATE stateDone[] = {
    {SME_NO_EVENT, nullptr, {nullptr, nullptr, nullptr}},
};

TEST(Sme, FirstMatchingRowWins) {
  Trace trace;
  unsigned count = 99;
  EXPECT_EQ(smeProcess(stateIdle, &trace, 3, &count), stateRinging);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(trace.calls, "A");
}

TEST(Sme, FollowUpEventsChainAcrossStates) {
  Trace trace;
  unsigned count = 0;
  // Event 4: A, then B returns 7 (C is skipped); in Ringing 7 runs D, which returns 8 (E is
  // skipped); in Active 8 runs all three actions and ends in Done.
  EXPECT_EQ(smeProcess(stateIdle, &trace, 4, &count), stateDone);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(trace.calls, "ABDAAA");
}

TEST(Sme, FollowUpThatTheNewStateIgnoresEndsThere) {
  const SME_STATE ringingIgnoring[] = {
      {SME_NO_EVENT, nullptr, {nullptr, nullptr, nullptr}},
  };
  const SME_STATE start[] = {
      {1, ringingIgnoring, {actB7, nullptr, nullptr}},
      {SME_NO_EVENT, nullptr, {nullptr, nullptr, nullptr}},
  };
  Trace trace;
  unsigned count = 0;
  EXPECT_EQ(smeProcess(start, &trace, 1, &count), ringingIgnoring);
  EXPECT_EQ(count, 1u);
}

TEST(Sme, UnlistedEventAndNoEventLeaveTheState) {
  Trace trace;
  unsigned count = 99;
  EXPECT_EQ(smeProcess(stateRinging, &trace, 3, &count), stateRinging);
  EXPECT_EQ(count, 0u);
  count = 99;
  // With no event the rows are not even read.
  EXPECT_EQ(smeProcess(stateDone + 1, &trace, SME_NO_EVENT, &count), stateDone + 1);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(trace.calls, "");
}

TEST(Sme, RowWhoseFirstActionIsAbsentRunsNothingButMoves) {
  Trace trace;
  unsigned count = 0;
  EXPECT_EQ(smeProcess(stateIdle, &trace, 5, &count), stateActive);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(trace.calls, "");
  EXPECT_EQ(smeProcess(stateIdle, &trace, 5, nullptr), stateActive);
}

}  // namespace

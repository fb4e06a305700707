#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "../util/stdoutCapture.h"
#include "vosTestSupport.h"

namespace {

using namespace std::chrono_literals;

// The test's own thread takes part as a registered task, as every task of the layer does.
class VosEvents : public VosTest {
 protected:
  void SetUp() override {
    VosTest::SetUp();
    self_ = pthread_self();
    ASSERT_EQ(vosEventRegisterTask(self_), VOS_STATUS_OK);
  }
  void TearDown() override {
    EXPECT_EQ(vosEventUnRegisterTask(self_), VOS_STATUS_OK);
    VosTest::TearDown();
  }
  VOS_TASK_ID self_{};
};

TEST_F(VosEvents, SendWakesTheOwnerAndPendingEventsReturnAtOnce) {
  VOS_EVENT event;
  ASSERT_EQ(vosEventCreate(self_, &event), VOS_STATUS_OK);
  EXPECT_EQ(event.eventBit, 1u);
  EXPECT_EQ(vosEventTimedReceive(&event, 0), VOS_STATUS_TIMEOUT);
  EXPECT_EQ(vosEventTimedReceive(&event, 20), VOS_STATUS_TIMEOUT);

  vosEventSend(&event);
  EXPECT_EQ(vosEventTimedReceive(&event, 0), VOS_STATUS_OK);
  EXPECT_EQ(vosEventTimedReceive(&event, 0), VOS_STATUS_TIMEOUT);

  std::thread sender([&] {
    std::this_thread::sleep_for(20ms);
    vosEventSend(&event);
  });
  EXPECT_EQ(vosEventReceive(&event), VOS_STATUS_OK);
  sender.join();
  EXPECT_EQ(vosEventDestroy(&event), VOS_STATUS_OK);
}

TEST_F(VosEvents, AnotherEventOfTheSameTaskDoesNotEndTheWait) {
  VOS_EVENT wanted, other;
  ASSERT_EQ(vosEventCreate(self_, &wanted), VOS_STATUS_OK);
  ASSERT_EQ(vosEventCreate(self_, &other), VOS_STATUS_OK);
  EXPECT_EQ(other.eventBit, 2u);
  std::thread sender([&] {
    std::this_thread::sleep_for(10ms);
    vosEventSend(&other);
  });
  EXPECT_EQ(vosEventTimedReceive(&wanted, 80), VOS_STATUS_TIMEOUT);
  sender.join();
  EXPECT_EQ(vosEventTimedReceive(&other, 0), VOS_STATUS_OK);
}

TEST_F(VosEvents, OnlyTheOwnerMayWait) {
  VOS_EVENT event;
  ASSERT_EQ(vosEventCreate(self_, &event), VOS_STATUS_OK);
  VOS_STATUS status = VOS_STATUS_OK;
  StdoutCapture capture;
  std::thread([&] { status = vosEventTimedReceive(&event, 0); }).join();
  std::string out = capture.finish();
  EXPECT_EQ(status, VOS_STATUS_ERR);
  EXPECT_NE(out.find("ERROR: vosEventTimedReceive - calling taskId"), std::string::npos) << out;
}

TEST_F(VosEvents, ThirtyTwoEventsPerTask) {
  VOS_EVENT events[32];
  for (auto &event : events) {
    ASSERT_EQ(vosEventCreate(self_, &event), VOS_STATUS_OK);
  }
  EXPECT_EQ(events[31].eventBit, 0x80000000u);
  VOS_EVENT extra;
  StdoutCapture capture;
  EXPECT_EQ(vosEventCreate(self_, &extra), VOS_STATUS_ERR);
  EXPECT_NE(capture.finish().find("newEvent() - no more free event for this task"),
            std::string::npos);
  EXPECT_EQ(extra.eventBit, 0u);
  vosEventDestroy(&events[5]);
  ASSERT_EQ(vosEventCreate(self_, &extra), VOS_STATUS_OK);
  EXPECT_EQ(extra.eventBit, 1u << 5);
}

TEST_F(VosEvents, SetsWaitForAnyOrAll) {
  VOS_EVENT a, b, c;
  vosEventCreate(self_, &a);
  vosEventCreate(self_, &b);
  vosEventCreate(self_, &c);
  VOS_EVENT_SET set;
  ASSERT_EQ(vosEventSetCreate(self_, &set), VOS_STATUS_OK);
  vosEventSetAddEvent(&set, &a);
  vosEventSetAddEvent(&set, &b);

  vosEventSend(&b);
  vosEventSend(&c);
  ASSERT_EQ(vosEventSetTimedReceive(&set, VOS_EVENT_SET_WAIT_MODE_ANY, 0), VOS_STATUS_OK);
  EXPECT_FALSE(vosEventSetIsEventSet(&set, &a));
  EXPECT_TRUE(vosEventSetIsEventSet(&set, &b));
  EXPECT_FALSE(vosEventSetIsEventSet(&set, &b));
  // c is not in the set and stays pending.
  EXPECT_EQ(vosEventTimedReceive(&c, 0), VOS_STATUS_OK);

  vosEventSend(&a);
  EXPECT_EQ(vosEventSetTimedReceive(&set, VOS_EVENT_SET_WAIT_MODE_ALL, 20), VOS_STATUS_TIMEOUT);
  std::thread sender([&] {
    std::this_thread::sleep_for(10ms);
    vosEventSend(&b);
  });
  ASSERT_EQ(vosEventSetTimedReceive(&set, VOS_EVENT_SET_WAIT_MODE_ALL, 5000), VOS_STATUS_OK);
  sender.join();
  EXPECT_TRUE(vosEventSetIsEventSet(&set, &a));
  EXPECT_TRUE(vosEventSetIsEventSet(&set, &b));

  VOS_EVENT foreign{1, (a.taskIndex + 1) % VOS_EVENT_MAX_TASKS};
  StdoutCapture capture;
  EXPECT_EQ(vosEventSetAddEvent(&set, &foreign), VOS_STATUS_ERR);
  EXPECT_NE(capture.finish().find("ERROR: vosEventSetAddEvent - eventSet taskIndex"),
            std::string::npos);
}

using VosMsgQ = VosEvents;

VOS_MSGQ_MSG message(uint32_t tag) {
  VOS_MSGQ_MSG msg{};
  for (uint32_t i = 0; i < 8; ++i) msg.buffer[i] = tag * 100 + i;
  return msg;
}

TEST_F(VosMsgQ, KeepsOrderAndRefusesBeyondItsDepth) {
  VOS_MSGQ q = 0;
  ASSERT_EQ(vosMsgQCreate("q", 3, &q), VOS_STATUS_OK);
  EXPECT_EQ(q, 1u);
  for (uint32_t i = 1; i <= 3; ++i) {
    VOS_MSGQ_MSG msg = message(i);
    EXPECT_EQ(vosMsgQSend(q, &msg), VOS_STATUS_OK);
  }
  VOS_MSGQ_MSG overflow = message(4);
  StdoutCapture capture;
  EXPECT_EQ(vosMsgQSend(q, &overflow), VOS_STATUS_ERR);
  EXPECT_NE(capture.finish().find("Free message buffer pool empty - queue id 1"),
            std::string::npos);
  for (uint32_t i = 1; i <= 3; ++i) {
    VOS_MSGQ_MSG msg{};
    ASSERT_EQ(vosMsgQTimedReceive(q, 0, &msg), VOS_STATUS_OK);
    EXPECT_EQ(msg.buffer[0], i * 100);
    EXPECT_EQ(msg.buffer[7], i * 100 + 7);
  }
  VOS_MSGQ_MSG none{};
  EXPECT_EQ(vosMsgQTimedReceive(q, 20, &none), VOS_STATUS_TIMEOUT);
  // Elements return to the pool once received.
  for (uint32_t i = 0; i < 3; ++i) {
    VOS_MSGQ_MSG msg = message(i);
    EXPECT_EQ(vosMsgQSend(q, &msg), VOS_STATUS_OK);
  }
  EXPECT_EQ(vosMsgQDestroy(q), VOS_STATUS_OK);
  VOS_MSGQ_MSG msg = message(1);
  EXPECT_EQ(vosMsgQSend(q, &msg), VOS_STATUS_ERR);
}

TEST_F(VosMsgQ, SeventeenthQueueFails) {
  VOS_MSGQ queues[VOS_MSGQ_MAX_QUEUES];
  for (int i = 0; i < VOS_MSGQ_MAX_QUEUES; ++i) {
    ASSERT_EQ(vosMsgQCreate("q", 200, &queues[i]), VOS_STATUS_OK);
    EXPECT_EQ(queues[i], static_cast<VOS_MSGQ>(i + 1));
  }
  VOS_MSGQ extra = 0;
  StdoutCapture capture;
  EXPECT_EQ(vosMsgQCreate("q17", 10, &extra), VOS_STATUS_ERR);
  EXPECT_NE(capture.finish().find("q17"), std::string::npos);
  // A depth above the pool holds the pool's 100 messages.
  for (int i = 0; i < VOS_MSGQ_MAX_DEPTH; ++i) {
    VOS_MSGQ_MSG msg = message(static_cast<uint32_t>(i));
    ASSERT_EQ(vosMsgQSend(queues[0], &msg), VOS_STATUS_OK);
  }
  StdoutCapture quiet;
  VOS_MSGQ_MSG msg = message(0);
  EXPECT_EQ(vosMsgQSend(queues[0], &msg), VOS_STATUS_ERR);
  quiet.finish();
  for (VOS_MSGQ q : queues) vosMsgQDestroy(q);
  EXPECT_EQ(vosMsgQCreate("again", 1, &extra), VOS_STATUS_OK);
  vosMsgQDestroy(extra);
}

TEST_F(VosMsgQ, EventBasedQueueWakesItsOwner) {
  VOS_MSGQ q = 0;
  ASSERT_EQ(vosMsgQCreateEventBased("evq", 4, self_, &q), VOS_STATUS_OK);
  VOS_EVENT event{};
  ASSERT_EQ(vosMsgQGetEvent(q, &event), VOS_STATUS_OK);
  EXPECT_NE(event.eventBit, 0u);

  VOS_MSGQ_MSG first = message(1), second = message(2);
  vosMsgQSend(q, &first);
  vosMsgQSend(q, &second);
  VOS_MSGQ_MSG got{};
  ASSERT_EQ(vosMsgQTimedReceive(q, 0, &got), VOS_STATUS_OK);
  EXPECT_EQ(got.buffer[0], 100u);
  ASSERT_EQ(vosMsgQTimedReceive(q, 0, &got), VOS_STATUS_OK);
  EXPECT_EQ(got.buffer[0], 200u);
  // The event of the messages already taken does not end the next wait.
  EXPECT_EQ(vosMsgQTimedReceive(q, 20, &got), VOS_STATUS_TIMEOUT);

  std::thread sender([&] {
    std::this_thread::sleep_for(10ms);
    VOS_MSGQ_MSG third = message(3);
    vosMsgQSend(q, &third);
  });
  ASSERT_EQ(vosMsgQReceive(q, &got), VOS_STATUS_OK);
  EXPECT_EQ(got.buffer[0], 300u);
  sender.join();
  vosMsgQDestroy(q);
}

using VosTimer = VosEvents;

TEST_F(VosTimer, RepeatingTimerFiresUntilStopped) {
  VOS_TIMER timer;
  ASSERT_EQ(vosTimerCreate(&timer), VOS_STATUS_OK);
  ASSERT_EQ(vosTimerStart(&timer, 20, VOS_TIMER_MODE_REPEAT), VOS_STATUS_OK);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(vosTimerWait(&timer), VOS_STATUS_OK);
  }
  EXPECT_EQ(vosTimerStop(&timer), VOS_STATUS_OK);
  // An expiry the timer task sent before it took in the stop may still come, one at most: after
  // it the stop is taken before any further time-out. Then the timer stays quiet.
  VOS_EVENT event;
  vosTimerGetEvent(&timer, &event);
  vosEventClear(&event);
  int strays = 0;
  while (strays <= 1 && vosEventTimedReceive(&event, 100) == VOS_STATUS_OK) ++strays;
  EXPECT_LE(strays, 1) << "the timer kept firing after its stop";
  StdoutCapture capture;
  EXPECT_EQ(vosTimerWait(&timer), VOS_STATUS_ERR);
  EXPECT_EQ(vosTimerRestart(&timer), VOS_STATUS_ERR);
  std::string out = capture.finish();
  EXPECT_NE(out.find("vosTimerWait - Timer not running. Can't wait for it..."), std::string::npos);
  EXPECT_NE(out.find("vosTimerRestart - Timer not started. Can't restart..."), std::string::npos);
  EXPECT_EQ(vosTimerDestroy(&timer), VOS_STATUS_OK);
}

TEST_F(VosTimer, SingleShotFiresOnceAndCanBeRestarted) {
  VOS_TIMER timer;
  ASSERT_EQ(vosTimerCreate(&timer), VOS_STATUS_OK);
  ASSERT_EQ(vosTimerStart(&timer, 15, VOS_TIMER_MODE_ONCE), VOS_STATUS_OK);
  EXPECT_EQ(vosTimerWait(&timer), VOS_STATUS_OK);
  VOS_EVENT event;
  vosTimerGetEvent(&timer, &event);
  EXPECT_EQ(vosEventTimedReceive(&event, 80), VOS_STATUS_TIMEOUT);

  ASSERT_EQ(vosTimerStart(&timer, 15, VOS_TIMER_MODE_ONCE), VOS_STATUS_OK);
  // Waiting after the expiry still collects it.
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(vosTimerWait(&timer), VOS_STATUS_OK);
  EXPECT_EQ(vosTimerDestroy(&timer), VOS_STATUS_OK);
}

TEST_F(VosTimer, OnlyTheOwnerControlsTheTimer) {
  VOS_TIMER timer;
  ASSERT_EQ(vosTimerCreate(&timer), VOS_STATUS_OK);
  VOS_STATUS start = VOS_STATUS_OK, stop = VOS_STATUS_OK;
  StdoutCapture capture;
  std::thread([&] {
    start = vosTimerStart(&timer, 10, VOS_TIMER_MODE_REPEAT);
    stop = vosTimerStop(&timer);
  }).join();
  std::string out = capture.finish();
  EXPECT_EQ(start, VOS_STATUS_ERR);
  EXPECT_EQ(stop, VOS_STATUS_ERR);
  EXPECT_NE(out.find("vosTimerStart - Calling task does not own timer"), std::string::npos);
  EXPECT_NE(out.find("vosTimerStop - Calling task does not own timer"), std::string::npos);
  EXPECT_EQ(vosTimerDestroy(&timer), VOS_STATUS_OK);
}

TEST_F(VosTimer, TimersDoNotUseUpEventRecords) {
  for (int i = 0; i < VOS_EVENT_MAX_TASKS + 2; ++i) {
    VOS_TIMER timer;
    ASSERT_EQ(vosTimerCreate(&timer), VOS_STATUS_OK) << "timer " << i;
    ASSERT_EQ(vosTimerStart(&timer, 5, VOS_TIMER_MODE_REPEAT), VOS_STATUS_OK);
    EXPECT_EQ(vosTimerWait(&timer), VOS_STATUS_OK);
    EXPECT_EQ(vosTimerDestroy(&timer), VOS_STATUS_OK);
  }
}

}  // namespace

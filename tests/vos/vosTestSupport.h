// Helpers shared by the OS layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "vos.h"

// Starts and stops the OS layer around each test, so every test sees fresh module tables.
class VosTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(vosInit(), VOS_STATUS_OK); }
  void TearDown() override { ASSERT_EQ(vosTerm(), VOS_STATUS_OK); }
};

// Runs fn on its own thread and tells whether it finished within the time given; a thread that
// did not finish is left running detached (the caller must release it).
inline bool finishesWithin(std::function<void()> fn, std::chrono::milliseconds limit) {
  auto task = std::make_shared<std::packaged_task<void()>>(std::move(fn));
  auto done = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  return done.wait_for(limit) == std::future_status::ready;
}

inline long long elapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

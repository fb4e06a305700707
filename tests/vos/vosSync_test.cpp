#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "../util/stdoutCapture.h"
#include "vosTestSupport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int32_t valueOf(VOS_SEMLITE &sem) {
  pthread_mutex_lock(&sem.lock);
  int32_t value = sem.value;
  pthread_mutex_unlock(&sem.lock);
  return value;
}

using SemLite = VosTest;

TEST_F(SemLite, GivesWithoutWaiterAreRemembered) {
  VOS_SEMLITE sem;
  vosSemLiteCreate("t", 0, 1, &sem);
  vosSemLiteGive(&sem);
  vosSemLiteGive(&sem);
  EXPECT_TRUE(finishesWithin(
      [&] {
        vosSemLiteTake(&sem);
        vosSemLiteTake(&sem);
      },
      5s));
  EXPECT_EQ(valueOf(sem), 0);
  vosSemLiteDestroy(&sem);
}

TEST_F(SemLite, ExpiredTimedTakeKeepsItsPlaceAndConsumesTheNextGive) {
  VOS_SEMLITE sem;
  vosSemLiteCreate("t", 0, 1, &sem);
  auto start = Clock::now();
  EXPECT_EQ(vosSemLiteTimedTake(&sem, 50), VOS_STATUS_OK);
  EXPECT_GE(elapsedMs(start), 45);
  EXPECT_EQ(valueOf(sem), -1);

  // The give wakes nobody; it only pays back the expired take.
  vosSemLiteGive(&sem);
  EXPECT_EQ(valueOf(sem), 0);

  start = Clock::now();
  EXPECT_EQ(vosSemLiteTimedTake(&sem, 30), VOS_STATUS_OK);
  EXPECT_GE(elapsedMs(start), 25);
  EXPECT_EQ(valueOf(sem), -1);
  vosSemLiteDestroy(&sem);
}

TEST_F(SemLite, TimedTakeReturnsAtOnceWhenCounted) {
  VOS_SEMLITE sem;
  vosSemLiteCreate("t", 1, 1, &sem);
  EXPECT_TRUE(finishesWithin([&] { vosSemLiteTimedTake(&sem, 60000); }, 5s));
  EXPECT_EQ(valueOf(sem), 0);
  vosSemLiteDestroy(&sem);
}

TEST_F(SemLite, UntimedTakeIgnoresSpuriousWakeUps) {
  VOS_SEMLITE sem;
  vosSemLiteCreate("t", 0, 1, &sem);
  std::atomic<bool> returned{false};
  std::thread taker([&] {
    vosSemLiteTake(&sem);
    returned = true;
  });
  while (valueOf(sem) != -1) {
    std::this_thread::sleep_for(1ms);
  }
  // Wake the condition variable without a give, as a spurious wake-up would.
  for (int i = 0; i < 5; ++i) {
    pthread_mutex_lock(&sem.lock);
    pthread_cond_broadcast(&sem.cond);
    pthread_mutex_unlock(&sem.lock);
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_FALSE(returned);
  vosSemLiteGive(&sem);
  taker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(valueOf(sem), 0);
  vosSemLiteDestroy(&sem);
}

TEST_F(SemLite, EachGiveReleasesOneWaiter) {
  VOS_SEMLITE sem;
  vosSemLiteCreate("t", 0, 1, &sem);
  std::atomic<int> released{0};
  std::thread a([&] { vosSemLiteTake(&sem); ++released; });
  std::thread b([&] { vosSemLiteTake(&sem); ++released; });
  while (valueOf(sem) != -2) {
    std::this_thread::sleep_for(1ms);
  }
  vosSemLiteGive(&sem);
  while (released < 1) {
    std::this_thread::sleep_for(1ms);
  }
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(released, 1);
  vosSemLiteGive(&sem);
  a.join();
  b.join();
  EXPECT_EQ(released, 2);
  EXPECT_EQ(valueOf(sem), 0);
  vosSemLiteDestroy(&sem);
}

TEST(VosTimeCalc, DeltaAcrossTheWrap) {
  VOS_TIME_MS delta = 0;
  vosTimeCalcDeltaMs(41943030u, 0u, &delta);
  EXPECT_EQ(delta, 1u);
  vosTimeCalcDeltaMs(100u, 250u, &delta);
  EXPECT_EQ(delta, 150u);
  vosTimeCalcDeltaMs(41943000u, 20u, &delta);
  EXPECT_EQ(delta, 51u);
  vosTimeCalcDeltaMs(7u, 7u, &delta);
  EXPECT_EQ(delta, 0u);
}

using VosTime = VosTest;

TEST_F(VosTime, ClockStaysInItsRangeAndAdvances) {
  VOS_TIME_MS first = 0;
  ASSERT_EQ(vosTimeGetMs(&first), VOS_STATUS_OK);
  EXPECT_LE(first, VOS_TIME_MS_MAX);
  EXPECT_EQ(first % 10, 0u);
  vosSleep(40);
  VOS_TIME_MS second = 0;
  ASSERT_EQ(vosTimeGetMs(&second), VOS_STATUS_OK);
  VOS_TIME_MS delta = 0;
  vosTimeCalcDeltaMs(first, second, &delta);
  EXPECT_GE(delta, 20u);
}

TEST_F(VosTime, SettingTheWallClockIsRefusedAndReported) {
  StdoutCapture capture;
  EXPECT_EQ(vosTimeSetWallTime(0), VOS_STATUS_ERR);
  std::string out = capture.finish();
  EXPECT_NE(out.find("returned by vosTimeSetWallTime: No such file or directory (2)"),
            std::string::npos)
      << out;
}

using VosMutex = VosTest;

TEST_F(VosMutex, RecursiveLockIsFreeAfterAsManyReleases) {
  VOS_MUTEX mutex = nullptr;
  ASSERT_EQ(vosMutexCreate("m", &mutex), VOS_STATUS_OK);
  EXPECT_EQ(vosMutexAcquire(mutex), VOS_STATUS_OK);
  EXPECT_EQ(vosMutexAcquire(mutex), VOS_STATUS_OK);
  EXPECT_EQ(vosMutexRelease(mutex), VOS_STATUS_OK);
  VOS_STATUS other = VOS_STATUS_OK;
  std::thread([&] { other = vosMutexTimedAcquire(mutex, 0); }).join();
  EXPECT_EQ(other, VOS_STATUS_TIMEOUT);
  EXPECT_EQ(vosMutexRelease(mutex), VOS_STATUS_OK);
  std::thread([&] {
    other = vosMutexTimedAcquire(mutex, 0);
    vosMutexRelease(mutex);
  }).join();
  EXPECT_EQ(other, VOS_STATUS_OK);
  EXPECT_EQ(vosMutexDestroy(mutex), VOS_STATUS_OK);
}

TEST_F(VosMutex, TimedAcquireGivesUpOrWaitsForTheHolder) {
  VOS_MUTEX mutex = nullptr;
  ASSERT_EQ(vosMutexCreate("m", &mutex), VOS_STATUS_OK);
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    vosMutexAcquire(mutex);
    held = true;
    while (!release) {
      std::this_thread::sleep_for(1ms);
    }
    vosMutexRelease(mutex);
  });
  while (!held) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(vosMutexTimedAcquire(mutex, 0), VOS_STATUS_TIMEOUT);
  auto start = Clock::now();
  EXPECT_EQ(vosMutexTimedAcquire(mutex, 25), VOS_STATUS_TIMEOUT);
  EXPECT_GE(elapsedMs(start), 25);

  std::thread releaser([&] {
    std::this_thread::sleep_for(30ms);
    release = true;
  });
  EXPECT_EQ(vosMutexTimedAcquire(mutex, VOS_WAIT_FOREVER), VOS_STATUS_OK);
  EXPECT_TRUE(release);
  vosMutexRelease(mutex);
  holder.join();
  releaser.join();
  vosMutexDestroy(mutex);
}

TEST_F(VosMutex, MissingHandleIsReportedNotFatal) {
  StdoutCapture capture;
  EXPECT_EQ(vosMutexAcquire(nullptr), VOS_STATUS_ERR);
  EXPECT_EQ(vosMutexTimedAcquire(nullptr, 5), VOS_STATUS_ERR);
  EXPECT_EQ(vosMutexRelease(nullptr), VOS_STATUS_ERR);
  EXPECT_EQ(vosMutexCreate("m", nullptr), VOS_STATUS_ERR);
  std::string out = capture.finish();
  EXPECT_NE(out.find("returned by vosMutexAcquire: Invalid argument (22)"), std::string::npos);
  EXPECT_NE(out.find("returned by vosMutexTimedAcquire: Invalid argument (22)"), std::string::npos);
  EXPECT_NE(out.find("returned by vosMutexRelease: Invalid argument (22)"), std::string::npos);
  EXPECT_NE(out.find("returned by vosMutexCreate: Invalid argument (22)"), std::string::npos) << out;
}

TEST_F(VosMutex, CriticalSectionsAreRecursiveMutexes) {
  VOS_CRITSECT section = nullptr;
  ASSERT_EQ(vosCritSectCreate(&section), VOS_STATUS_OK);
  EXPECT_EQ(vosCritSectEnter(section), VOS_STATUS_OK);
  EXPECT_EQ(vosCritSectEnter(section), VOS_STATUS_OK);
  EXPECT_EQ(vosCritSectLeave(section), VOS_STATUS_OK);
  EXPECT_EQ(vosCritSectLeave(section), VOS_STATUS_OK);
  EXPECT_EQ(vosCritSectDestroy(section), VOS_STATUS_OK);
}

using VosSem = VosTest;

TEST_F(VosSem, CountsGivesAndTimesOut) {
  VOS_SEM sem;
  ASSERT_EQ(vosSemCreate("s", 1, 1, &sem), VOS_STATUS_OK);
  EXPECT_EQ(vosSemTimedTake(&sem, 0), VOS_STATUS_OK);
  EXPECT_EQ(vosSemTimedTake(&sem, 0), VOS_STATUS_TIMEOUT);
  auto start = Clock::now();
  EXPECT_EQ(vosSemTimedTake(&sem, 30), VOS_STATUS_TIMEOUT);
  EXPECT_GE(elapsedMs(start), 30);
  EXPECT_EQ(vosSemGive(&sem), VOS_STATUS_OK);
  EXPECT_EQ(vosSemGive(&sem), VOS_STATUS_OK);
  EXPECT_EQ(vosSemTake(&sem), VOS_STATUS_OK);
  EXPECT_EQ(vosSemTimedTake(&sem, VOS_WAIT_FOREVER), VOS_STATUS_OK);

  std::thread giver([&] {
    std::this_thread::sleep_for(20ms);
    vosSemGive(&sem);
  });
  EXPECT_EQ(vosSemTimedTake(&sem, 5000), VOS_STATUS_OK);
  giver.join();
  EXPECT_EQ(vosSemDestroy(&sem), VOS_STATUS_OK);
}

}  // namespace

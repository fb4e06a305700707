#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../util/stdoutCapture.h"
#include "vosTestSupport.h"

namespace {

using namespace std::chrono_literals;

// What a test task records about itself, and a semaphore that holds it in its main function.
struct TaskProbe {
  std::mutex lock;
  std::vector<std::string> calls;
  std::atomic<pid_t> tid{0};
  std::atomic<bool> mainRunning{false};
  VOS_SEMLITE hold;

  TaskProbe() { vosSemLiteCreate("hold", 0, 1, &hold); }
  ~TaskProbe() { vosSemLiteDestroy(&hold); }

  void record(const std::string &call) {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(call);
  }
  std::vector<std::string> recorded() {
    std::lock_guard<std::mutex> guard(lock);
    return calls;
  }
  void waitUntilRunning() {
    while (!mainRunning) {
      std::this_thread::sleep_for(1ms);
    }
  }
};

void probeInit(VOS_TASK_ARG arg) { static_cast<TaskProbe *>(arg)->record("init"); }

void probeDeinit(VOS_TASK_ARG arg) { static_cast<TaskProbe *>(arg)->record("deinit"); }

void probeMainReturns(VOS_TASK_ARG arg) {
  auto *probe = static_cast<TaskProbe *>(arg);
  probe->tid = static_cast<pid_t>(syscall(SYS_gettid));
  probe->record("main");
  probe->mainRunning = true;
}

void probeMainBlocks(VOS_TASK_ARG arg) {
  auto *probe = static_cast<TaskProbe *>(arg);
  probe->tid = static_cast<pid_t>(syscall(SYS_gettid));
  probe->record("main");
  probe->mainRunning = true;
  vosSemLiteTake(&probe->hold);
  probe->record("released");
}

std::string threadName(pid_t tid) {
  std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

VOS_STATUS startProbe(const char *name, TaskProbe &probe, VOS_TASK_ENTRY main,
                      VOS_TASK_INIT_FNC init, VOS_TASK_DEINIT_FNC deinit, VOS_TASK_ID &id,
                      VOS_TASK_CLASS taskClass = VOS_TASK_CLASS_MED) {
  VOS_TASK_EXTENDED_ARG arg{VOS_TASK_AFFINITY_ALL_TP, &probe};
  return vosTaskCreateMain(name, 8192, taskClass, init, main, deinit, &arg, &id, VOS_FALSE,
                           VOS_TASKSTART_RUNNING);
}

using VosTask = VosTest;

TEST_F(VosTask, RunsInitMainDeinitInOrderWithItsArgument) {
  TaskProbe probe;
  VOS_TASK_ID id{};
  ASSERT_EQ(startProbe("order", probe, probeMainReturns, probeInit, probeDeinit, id), VOS_STATUS_OK);
  EXPECT_EQ(vosTaskWaitForDone(id), VOS_STATUS_OK);
  EXPECT_EQ(probe.recorded(), (std::vector<std::string>{"init", "main", "deinit"}));
}

TEST_F(VosTask, WithoutInitAndDeinitOnlyMainRuns) {
  TaskProbe probe;
  VOS_TASK_ID id{};
  ASSERT_EQ(startProbe("plain", probe, probeMainReturns, nullptr, nullptr, id), VOS_STATUS_OK);
  EXPECT_EQ(vosTaskWaitForDone(id), VOS_STATUS_OK);
  EXPECT_EQ(probe.recorded(), (std::vector<std::string>{"main"}));
}

TEST_F(VosTask, ThreadIsNamedVoicePlusTaskName) {
  TaskProbe shortName;
  TaskProbe longName;
  VOS_TASK_ID a{}, b{};
  ASSERT_EQ(startProbe("HCAS", shortName, probeMainBlocks, nullptr, nullptr, a), VOS_STATUS_OK);
  const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
  ASSERT_EQ(startProbe(forty.c_str(), longName, probeMainBlocks, nullptr, nullptr, b),
            VOS_STATUS_OK);
  shortName.waitUntilRunning();
  longName.waitUntilRunning();
  EXPECT_EQ(threadName(shortName.tid), "voice-HCAS");
  // The system keeps 15 characters of the name.
  EXPECT_EQ(threadName(longName.tid), ("voice-" + forty).substr(0, 15));
  vosSemLiteGive(&shortName.hold);
  vosSemLiteGive(&longName.hold);
  EXPECT_EQ(vosTaskWaitForDone(a), VOS_STATUS_OK);
  EXPECT_EQ(vosTaskWaitForDone(b), VOS_STATUS_OK);
}

TEST_F(VosTask, CancelEndsATaskBlockedInAWaitWithoutItsDeinit) {
  TaskProbe probe;
  VOS_TASK_ID id{};
  ASSERT_EQ(startProbe("blocked", probe, probeMainBlocks, probeInit, probeDeinit, id),
            VOS_STATUS_OK);
  probe.waitUntilRunning();
  while (true) {
    pthread_mutex_lock(&probe.hold.lock);
    int32_t value = probe.hold.value;
    pthread_mutex_unlock(&probe.hold.lock);
    if (value < 0) break;
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(vosTaskProceedToShutdown(id), VOS_STATUS_OK);
  EXPECT_EQ(vosTaskWaitForDone(id), VOS_STATUS_OK);
  EXPECT_EQ(probe.recorded(), (std::vector<std::string>{"init", "main"}));

  // The cancelled taker left the semaphore usable: its lock is free and a give is remembered.
  vosSemLiteGive(&probe.hold);
  EXPECT_TRUE(finishesWithin([&] { vosSemLiteTake(&probe.hold); }, 5s));
  EXPECT_EQ(probe.hold.value, 0);
}

TEST_F(VosTask, SeventeenthTaskRunsWithoutEventRecordAndSaysSo) {
  constexpr int kTasks = VOS_EVENT_MAX_TASKS + 1;
  std::vector<std::unique_ptr<TaskProbe>> probes;
  std::vector<VOS_TASK_ID> ids(kTasks);
  std::vector<VOS_STATUS> started;
  StdoutCapture capture;
  for (int i = 0; i < kTasks; ++i) {
    probes.push_back(std::make_unique<TaskProbe>());
    std::string name = "t" + std::to_string(i);
    started.push_back(startProbe(name.c_str(), *probes[i], probeMainBlocks, nullptr, nullptr, ids[i]));
    if (started.back() != VOS_STATUS_OK) break;
    probes[i]->waitUntilRunning();
  }
  std::string out = capture.finish();
  EXPECT_EQ(started, std::vector<VOS_STATUS>(kTasks, VOS_STATUS_OK)) << out;

  // Only the seventeenth complains.
  const std::string complaint = "vosEventRegisterTask() - No free entries in TCB list";
  size_t first = out.find(complaint);
  EXPECT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find(complaint, first + 1), std::string::npos);

  if (started.size() == kTasks) {
    // The first sixteen can create events; the seventeenth cannot.
    VOS_EVENT event;
    EXPECT_EQ(vosEventCreate(ids[0], &event), VOS_STATUS_OK);
    StdoutCapture quiet;
    EXPECT_EQ(vosEventCreate(ids[kTasks - 1], &event), VOS_STATUS_ERR);
    quiet.finish();
  }

  for (size_t i = 0; i < started.size(); ++i) {
    if (started[i] != VOS_STATUS_OK) continue;
    vosSemLiteGive(&probes[i]->hold);
    EXPECT_EQ(vosTaskWaitForDone(ids[i]), VOS_STATUS_OK);
    EXPECT_EQ(probes[i]->recorded().back(), "released");
  }
}

TEST_F(VosTask, DestroyReleasesTheEventRecord) {
  std::vector<std::unique_ptr<TaskProbe>> probes;
  for (int round = 0; round < VOS_EVENT_MAX_TASKS + 4; ++round) {
    probes.push_back(std::make_unique<TaskProbe>());
    VOS_TASK_ID id{};
    ASSERT_EQ(startProbe("cycle", *probes.back(), probeMainBlocks, nullptr, nullptr, id),
              VOS_STATUS_OK);
    probes.back()->waitUntilRunning();
    VOS_EVENT event;
    ASSERT_EQ(vosEventCreate(id, &event), VOS_STATUS_OK) << "round " << round;
    EXPECT_EQ(vosTaskDestroy(id), VOS_STATUS_OK);
  }
}

TEST_F(VosTask, BadPriorityIsAnErrorAndLeavesNoBlockInUse) {
  TaskProbe probe;
  VOS_TASK_ID id{};
  StdoutCapture capture;
  // Priority 0 is outside the SCHED_FIFO range; the failure is the call's result, not errno.
  for (int i = 0; i < VOS_MAX_TASKS + 1; ++i) {
    EXPECT_EQ(startProbe("bad", probe, probeMainReturns, nullptr, nullptr, id, 0), VOS_STATUS_ERR);
  }
  std::string out = capture.finish();
  EXPECT_NE(out.find("vosTaskCreate [195]: Error: 22"), std::string::npos) << out;
  EXPECT_NE(out.find("returned by vosTaskCreate: Invalid argument (22)"), std::string::npos);
  ASSERT_EQ(startProbe("good", probe, probeMainReturns, nullptr, nullptr, id, 50), VOS_STATUS_OK);
  EXPECT_EQ(vosTaskWaitForDone(id), VOS_STATUS_OK);
  EXPECT_EQ(probe.recorded(), (std::vector<std::string>{"main"}));
}

TEST_F(VosTask, PlainCreateRunsTheEntryWithTheArgument) {
  static std::atomic<void *> seen{nullptr};
  int marker = 0;
  VOS_TASK_EXTENDED_ARG arg{VOS_TASK_AFFINITY_TP0, &marker};
  VOS_TASK_ID id{};
  ASSERT_EQ(vosTaskCreate("raw", 0, VOS_TASK_CLASS_LOW, [](VOS_TASK_ARG a) { seen = a; }, &arg, &id),
            VOS_STATUS_OK);
  EXPECT_EQ(vosTaskWaitForDone(id), VOS_STATUS_OK);
  EXPECT_EQ(seen.load(), &marker);
  ASSERT_EQ(vosTaskCreate("noarg", 0, 60, [](VOS_TASK_ARG a) { seen = a; }, nullptr, &id),
            VOS_STATUS_OK);
  EXPECT_EQ(vosTaskWaitForDone(id), VOS_STATUS_OK);
  EXPECT_EQ(seen.load(), nullptr);
}

TEST(VosTaskPriority, ClassesAndNativePriorities) {
  EXPECT_EQ(vosTaskCalcTaskClass(85), VOS_TASK_CLASS_MED);
  EXPECT_EQ(vosTaskCalcTaskClass(99), VOS_TASK_CLASS_HIGH);
  EXPECT_EQ(vosTaskCalcTaskClass(50), 50u);
  EXPECT_EQ(vosTaskCalcTaskClass(0), VOS_TASK_CLASS_END);
  EXPECT_EQ(vosTaskCalcNativePriority(VOS_TASK_CLASS_MED_LOW), 80u);
  EXPECT_EQ(vosTaskCalcNativePriority(0x8006), 0u);
  EXPECT_EQ(vosTaskCalcNativePriority(0x800D), 0u);
  EXPECT_EQ(vosTaskCalcNativePriority(32782), 32782u);
  EXPECT_EQ(vosTaskCalcNativePriority(42), 42u);

  VOS_TASK_CLASS_PRIORITY_TABLE table{};
  for (int i = 0; i < VOS_TASK_NUM_CLASS_PRIORITIES; ++i) table.priorityLevel[i] = 10 + i;
  ASSERT_EQ(vosTaskSetClassPriorities(&table), VOS_STATUS_OK);
  EXPECT_EQ(vosTaskCalcNativePriority(VOS_TASK_CLASS_MED), 12u);
  EXPECT_EQ(vosTaskCalcTaskClass(22), 0x800Du);
  EXPECT_EQ(vosTaskCalcTaskClass(23), 0x800Eu);
  VOS_TASK_CLASS_PRIORITY_TABLE original{{99, 90, 85, 80, 75}};
  vosTaskSetClassPriorities(&original);
}

}  // namespace

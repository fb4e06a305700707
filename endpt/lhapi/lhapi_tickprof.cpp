// The DSP tick's profile. Everything but the report and the reset runs on the tick thread; the
// lock only keeps a report from reading a tick half recorded.
#include "lhapi_tickprof.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "envFlag.h"

bool gLhapiTickProfileOn = false;

namespace {

constexpr int64_t kBucketNs = 10000;  // the distribution in steps of 10 us
constexpr size_t kBuckets = 1000;     // up to 10 ms; longer ticks go to the last bucket
constexpr size_t kSlowest = 8;

struct ThreadLabel {
  int slot = -1;  // -1: not a VHD's thread
  unsigned type = 0;
  bool ingress = false;
};

struct TickRecord {
  int64_t cpuNs = 0;
  int64_t wallNs = 0;
  std::array<int64_t, LHAPI_TICK_NUM_STAGES> stageNs{};
  int threadsRun = 0;
  int64_t longestThreadNs = 0;
  char longestThread[64] = "";
  int64_t longestServiceNs = 0;
  uint16_t longestService = 0;
  int64_t probeNs[2] = {0, 0};  // the speed probe before and after the tick's work
  long minorFaults = 0;
  long majorFaults = 0;
  long voluntarySwitches = 0;
  long involuntarySwitches = 0;
  // The processors the tick began and ended on, and the host's steal time (ms, in /proc/stat's
  // 10 ms steps) on them and on all processors over the window from the last reading up to the
  // tick's end: the only time the guest kernel knows the host took from it.
  int cpu[2] = {-1, -1};
  int64_t stealMs = 0, stealAllMs = 0, windowNs = 0;
  int64_t interrupts = 0, softirqs = 0;  // all processors, over the same window
  uint64_t index = 0;
};

// /proc/stat's steal counters and the machine's interrupt counts, read on the tick thread between
// ticks (about 10 us a reading). Without interrupt time accounting in the kernel, interrupts served
// while the thread runs are charged to it as its own processor time.
constexpr int kMaxCpus = 256;
constexpr uint64_t kStatBaselineTicks = 20;  // a fresh baseline every 100 ms
struct StatReading {
  int64_t atNs = 0;
  int64_t stealAllMs = 0;
  std::array<int64_t, kMaxCpus> stealMs{};
  int64_t interrupts = 0, softirqs = 0;  // all processors
};

struct Profile {
  std::mutex lock;
  std::array<uint64_t, kBuckets> histogram{};
  uint64_t ticks = 0;
  int64_t totalCpuNs = 0;
  int64_t fastestProbeNs = 0;
  std::array<TickRecord, kSlowest> slowest{};  // slowest first; cpuNs 0: unused
  // Over all ticks: what the kernel did for the thread inside them.
  uint64_t ticksWithFaults = 0, ticksWithSwitches = 0, lastTickWithFaults = 0;
  long minorFaults = 0, majorFaults = 0, voluntarySwitches = 0, involuntarySwitches = 0;
  StatReading firstStat, stat;
  int statFd = -1;
  // The tick under way.
  TickRecord current;
  const void* longestThread = nullptr;
  ThreadLabel runningLabel, longestLabel;
  int64_t startCpuNs = 0, startWallNs = 0, stageStartNs = 0;
  rusage startUsage{};
};

Profile& profile() {
  static Profile p;
  return p;
}

int64_t threadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void describeThread(const ThreadLabel& label, const void* thread, char* text, size_t size) {
  if (thread == nullptr) {
    std::snprintf(text, size, "none");
  } else if (label.slot >= 0) {
    std::snprintf(text, size, "VHD %d (type %u) %s", label.slot, label.type,
                  label.ingress ? "ingress" : "egress");
  } else {
    std::snprintf(text, size, "thread %p", thread);
  }
}

// Reads the steal column of /proc/stat (USER_HZ units, 10 ms) for all processors and each one,
// and the counts of interrupts and soft interrupts.
bool readStat(int fd, StatReading& out) {
  char text[16384];
  const ssize_t n = fd >= 0 ? pread(fd, text, sizeof text - 1, 0) : -1;
  if (n <= 0) return false;
  text[n] = '\0';
  const long msPerUnit = 1000 / std::max(1L, sysconf(_SC_CLK_TCK));
  for (char* line = text; line != nullptr && *line != '\0';) {
    char* next = std::strchr(line, '\n');
    if (next != nullptr) *next++ = '\0';
    long long v[8] = {};
    if (std::strncmp(line, "cpu", 3) == 0) {
      int cpu = -1;
      const char* fields = line + 3;
      if (*fields != ' ') cpu = static_cast<int>(std::strtol(fields, const_cast<char**>(&fields), 10));
      if (std::sscanf(fields, "%lld %lld %lld %lld %lld %lld %lld %lld", &v[0], &v[1], &v[2], &v[3],
                      &v[4], &v[5], &v[6], &v[7]) == 8) {
        if (cpu < 0) out.stealAllMs = v[7] * msPerUnit;
        else if (cpu < kMaxCpus) out.stealMs[static_cast<size_t>(cpu)] = v[7] * msPerUnit;
      }
    } else if (std::sscanf(line, "intr %lld", &v[0]) == 1) {
      out.interrupts = v[0];
    } else if (std::sscanf(line, "softirq %lld", &v[0]) == 1) {
      out.softirqs = v[0];
    }
    line = next;
  }
  out.atNs = lhapiTickProfileNowNs();
  return true;
}

int64_t cpuStealMs(const StatReading& r, int cpu) {
  return cpu >= 0 && cpu < kMaxCpus ? r.stealMs[static_cast<size_t>(cpu)] : 0;
}

// A fixed piece of work, timed: in a tick that took long, a probe as slow as the work shows that
// the processor ran slowly (shared with other loads, or held by the host), not that there was
// more work to do.
int64_t speedProbeNs() {
  const int64_t start = lhapiTickProfileNowNs();
  uint32_t x = 1;
  for (int i = 0; i < 2000; ++i) {
    x = x * 1664525u + 1013904223u;
    asm volatile("" : "+r"(x));
  }
  return lhapiTickProfileNowNs() - start;
}

double perMs(int64_t count, int64_t ns) {
  return ns > 0 ? static_cast<double>(count) * 1e6 / static_cast<double>(ns) : 0;
}

// Percentile `p` (0..1) of the distribution: the upper edge of its bucket, in microseconds.
double percentileUs(const Profile& p, double fraction) {
  const auto wanted = static_cast<uint64_t>(fraction * static_cast<double>(p.ticks) + 0.5);
  uint64_t seen = 0;
  for (size_t i = 0; i < kBuckets; ++i) {
    seen += p.histogram[i];
    if (seen >= std::max<uint64_t>(wanted, 1)) return static_cast<double>((i + 1) * kBucketNs) / 1000;
  }
  return static_cast<double>(kBuckets * kBucketNs) / 1000;
}

}  // namespace

int64_t lhapiTickProfileNowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void lhapiTickProfileInit() {
  lhapiTickProfileReset();
  gLhapiTickProfileOn = envFlagOn("ORVOX_TICK_PROFILE");
}

void lhapiTickProfileReset() {
  Profile& p = profile();
  std::lock_guard<std::mutex> guard(p.lock);
  p.histogram.fill(0);
  p.ticks = 0;
  p.totalCpuNs = 0;
  p.fastestProbeNs = 0;
  p.slowest.fill(TickRecord{});
  p.ticksWithFaults = p.ticksWithSwitches = p.lastTickWithFaults = 0;
  p.minorFaults = p.majorFaults = p.voluntarySwitches = p.involuntarySwitches = 0;
  if (p.statFd < 0) p.statFd = open("/proc/stat", O_RDONLY | O_CLOEXEC);
  p.stat = StatReading{};
  readStat(p.statFd, p.stat);
  p.firstStat = p.stat;
}

void lhapiTickProfileBegin() {
  if (!gLhapiTickProfileOn) return;
  Profile& p = profile();
  p.current = TickRecord{};
  p.longestThread = nullptr;
  p.runningLabel = p.longestLabel = ThreadLabel{};
  getrusage(RUSAGE_THREAD, &p.startUsage);
  p.current.cpu[0] = sched_getcpu();
  p.current.probeNs[0] = speedProbeNs();
  p.startCpuNs = threadCpuNs();
  p.startWallNs = p.stageStartNs = lhapiTickProfileNowNs();
}

void lhapiTickProfileStageEnd(LHAPI_TICK_STAGE stage) {
  if (!gLhapiTickProfileOn) return;
  Profile& p = profile();
  const int64_t now = lhapiTickProfileNowNs();
  p.current.stageNs[stage] += now - p.stageStartNs;
  p.stageStartNs = now;
}

void lhapiTickProfileVhdThread(int slot, unsigned type, bool ingress) {
  profile().runningLabel = ThreadLabel{slot, type, ingress};
}

void lhapiTickProfileThreadRan(const void* thread, int64_t ns) {
  Profile& p = profile();
  p.current.threadsRun += 1;
  if (ns > p.current.longestThreadNs) {
    p.current.longestThreadNs = ns;
    p.longestThread = thread;
    p.longestLabel = p.runningLabel;
  }
  p.runningLabel = ThreadLabel{};
}

void lhapiTickProfileServiceRan(uint16_t service, int64_t ns) {
  TickRecord& r = profile().current;
  if (ns > r.longestServiceNs) {
    r.longestServiceNs = ns;
    r.longestService = service;
  }
}

namespace {

// The kernel's service to the thread over the tick just ended, into the record and the totals.
void countKernelService(Profile& p, TickRecord& r) {
  rusage now{};
  getrusage(RUSAGE_THREAD, &now);
  r.minorFaults = now.ru_minflt - p.startUsage.ru_minflt;
  r.majorFaults = now.ru_majflt - p.startUsage.ru_majflt;
  r.voluntarySwitches = now.ru_nvcsw - p.startUsage.ru_nvcsw;
  r.involuntarySwitches = now.ru_nivcsw - p.startUsage.ru_nivcsw;
  p.minorFaults += r.minorFaults;
  p.majorFaults += r.majorFaults;
  p.voluntarySwitches += r.voluntarySwitches;
  p.involuntarySwitches += r.involuntarySwitches;
  if (r.minorFaults + r.majorFaults > 0) {
    p.ticksWithFaults += 1;
    p.lastTickWithFaults = p.ticks;
  }
  if (r.voluntarySwitches + r.involuntarySwitches > 0) p.ticksWithSwitches += 1;
}

// The host's steal time over the window from the last reading to now, on the tick's processors
// and on all of them, and the machine's interrupts meanwhile. Read after a slow tick, and every so
// often for a recent baseline.
void countStat(Profile& p, TickRecord* slow) {
  StatReading now;
  if (!readStat(p.statFd, now)) return;
  if (slow != nullptr) {
    slow->stealAllMs = now.stealAllMs - p.stat.stealAllMs;
    slow->stealMs = cpuStealMs(now, slow->cpu[0]) - cpuStealMs(p.stat, slow->cpu[0]);
    if (slow->cpu[1] != slow->cpu[0])
      slow->stealMs += cpuStealMs(now, slow->cpu[1]) - cpuStealMs(p.stat, slow->cpu[1]);
    slow->windowNs = now.atNs - p.stat.atNs;
    slow->interrupts = now.interrupts - p.stat.interrupts;
    slow->softirqs = now.softirqs - p.stat.softirqs;
  }
  p.stat = now;
}

}  // namespace

void lhapiTickProfileEnd() {
  if (!gLhapiTickProfileOn) return;
  Profile& p = profile();
  TickRecord& r = p.current;
  r.cpuNs = threadCpuNs() - p.startCpuNs;
  r.wallNs = lhapiTickProfileNowNs() - p.startWallNs;
  r.cpu[1] = sched_getcpu();
  r.probeNs[1] = speedProbeNs();
  std::lock_guard<std::mutex> guard(p.lock);
  countKernelService(p, r);
  for (int64_t probe : r.probeNs) {
    if (p.fastestProbeNs == 0 || probe < p.fastestProbeNs) p.fastestProbeNs = probe;
  }
  r.index = p.ticks++;
  p.totalCpuNs += r.cpuNs;
  p.histogram[std::min<size_t>(static_cast<size_t>(std::max<int64_t>(r.cpuNs, 0) / kBucketNs),
                               kBuckets - 1)] += 1;
  if (r.cpuNs <= p.slowest.back().cpuNs) {
    if (p.ticks % kStatBaselineTicks == 0) countStat(p, nullptr);
    return;
  }
  // One of the slowest: the host's steal around it, and who ran longest.
  countStat(p, &r);
  describeThread(p.longestLabel, p.longestThread, r.longestThread, sizeof r.longestThread);
  auto at = std::find_if(p.slowest.begin(), p.slowest.end(),
                         [&](const TickRecord& s) { return r.cpuNs > s.cpuNs; });
  std::move_backward(at, p.slowest.end() - 1, p.slowest.end());
  *at = r;
}

size_t lhapiTickProfileReport(char* text, size_t size) {
  if (size == 0) return 0;
  Profile& p = profile();
  std::lock_guard<std::mutex> guard(p.lock);
  size_t used = 0;
  auto put = [&](const char* format, auto... args) {
    if (used >= size) return;
    const int n = std::snprintf(text + used, size - used, format, args...);
    if (n > 0) used = std::min(size - 1, used + static_cast<size_t>(n));
  };
  const int64_t statNs = p.stat.atNs - p.firstStat.atNs;
  const double avgUs = p.ticks ? static_cast<double>(p.totalCpuNs) / static_cast<double>(p.ticks) / 1000 : 0;
  put("tick profile: %llu ticks, cpu us avg %.1f p50 %.0f p99 %.0f p99.9 %.0f p99.99 %.0f max %.1f\n",
      static_cast<unsigned long long>(p.ticks), avgUs, percentileUs(p, 0.5), percentileUs(p, 0.99),
      percentileUs(p, 0.999), percentileUs(p, 0.9999),
      static_cast<double>(p.slowest.front().cpuNs) / 1000);
  put("tick profile: kernel service inside ticks: %llu ticks with page faults (%ld minor, %ld major, "
      "the last in tick %llu), "
      "%llu with context switches (%ld voluntary, %ld involuntary); over %.0f s on all processors "
      "host steal %lld ms, interrupts %.1f/ms, soft %.1f/ms\n",
      static_cast<unsigned long long>(p.ticksWithFaults), p.minorFaults, p.majorFaults,
      static_cast<unsigned long long>(p.lastTickWithFaults),
      static_cast<unsigned long long>(p.ticksWithSwitches), p.voluntarySwitches,
      p.involuntarySwitches, static_cast<double>(statNs) / 1e9,
      static_cast<long long>(p.stat.stealAllMs - p.firstStat.stealAllMs),
      perMs(p.stat.interrupts - p.firstStat.interrupts, statNs),
      perMs(p.stat.softirqs - p.firstStat.softirqs, statNs));
  for (const TickRecord& r : p.slowest) {
    if (r.cpuNs == 0) break;
    char service[24];
    if (r.longestService == LHAPI_TICK_HOST_MESSAGES) {
      std::snprintf(service, sizeof service, "host messages");
    } else {
      std::snprintf(service, sizeof service, "service 0x%02x", r.longestService);
    }
    put("  tick %llu: cpu %.1f us, wall %.1f us (messages %.1f, pcm in %.1f, pcm out %.1f, "
        "threads %.1f: %d run, longest %.1f us %s, longest block %.1f us %s), "
        "speed probe %.1f/%.1f us (fastest %.1f), faults %ld/%ld, switches %ld/%ld, "
        "cpu %d/%d, around it (%.1f ms) steal %lld ms (all processors %lld), interrupts %.1f/ms, "
        "soft %.1f/ms\n",
        static_cast<unsigned long long>(r.index), static_cast<double>(r.cpuNs) / 1000,
        static_cast<double>(r.wallNs) / 1000, static_cast<double>(r.stageNs[LHAPI_TICK_SHIM]) / 1000,
        static_cast<double>(r.stageNs[LHAPI_TICK_INGRESS]) / 1000,
        static_cast<double>(r.stageNs[LHAPI_TICK_EGRESS]) / 1000,
        static_cast<double>(r.stageNs[LHAPI_TICK_THREADS]) / 1000, r.threadsRun,
        static_cast<double>(r.longestThreadNs) / 1000, r.longestThread,
        static_cast<double>(r.longestServiceNs) / 1000, service,
        static_cast<double>(r.probeNs[0]) / 1000, static_cast<double>(r.probeNs[1]) / 1000,
        static_cast<double>(p.fastestProbeNs) / 1000, r.minorFaults, r.majorFaults,
        r.voluntarySwitches, r.involuntarySwitches, r.cpu[0], r.cpu[1],
        static_cast<double>(r.windowNs) / 1e6, static_cast<long long>(r.stealMs),
        static_cast<long long>(r.stealAllMs), perMs(r.interrupts, r.windowNs),
        perMs(r.softirqs, r.windowNs));
  }
  return used;
}

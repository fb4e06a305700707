// A witness for the DSP tick's slowest ticks: next to the daemon, every 5 ms it does one fixed
// piece of pure arithmetic (no memory traffic, no system call, about as long as a loaded tick)
// and keeps the distribution of the thread's processor time for it. The piece never varies, so
// whatever stretches it is not its own work: a tail like the tick's means the machine (the host of
// a virtual machine that takes the processor away without the guest seeing steal time, or another
// load) stretched the tick too. Runs until SIGINT or SIGTERM, or for the seconds given, then
// prints its distribution and its slowest pieces.
//   stall_witness [seconds]
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int64_t kPeriodNs = 5000000;
constexpr int kPieceSteps = 200000;  // about 0.2 ms on a 3 GHz core
constexpr int64_t kBucketNs = 10000;
constexpr size_t kBuckets = 1000;
constexpr size_t kSlowest = 5;

std::atomic<bool> stop{false};

int64_t clockNs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void fixedPiece() {
  uint32_t x = 1;
  for (int i = 0; i < kPieceSteps; ++i) {
    x = x * 1664525u + 1013904223u;
    asm volatile("" : "+r"(x));
  }
}

struct Piece {
  int64_t cpuNs = 0, wallNs = 0;
  long switches = 0, faults = 0;
  uint64_t index = 0;
};

struct Witness {
  std::array<uint64_t, kBuckets> histogram{};
  std::array<Piece, kSlowest> slowest{};
  uint64_t pieces = 0, overOneMs = 0, overOneMsSwitched = 0;

  void add(const Piece& piece) {
    histogram[std::min<size_t>(static_cast<size_t>(piece.cpuNs / kBucketNs), kBuckets - 1)] += 1;
    if (piece.cpuNs > 1000000) {
      overOneMs += 1;
      if (piece.switches > 0) overOneMsSwitched += 1;
    }
    auto at = std::find_if(slowest.begin(), slowest.end(),
                           [&](const Piece& s) { return piece.cpuNs > s.cpuNs; });
    if (at == slowest.end()) return;
    std::move_backward(at, slowest.end() - 1, slowest.end());
    *at = piece;
  }

  double percentileUs(double fraction) const {
    const auto wanted = std::max<uint64_t>(static_cast<uint64_t>(fraction * static_cast<double>(pieces) + 0.5), 1);
    uint64_t seen = 0;
    for (size_t i = 0; i < kBuckets; ++i) {
      seen += histogram[i];
      if (seen >= wanted) return static_cast<double>((i + 1) * kBucketNs) / 1000;
    }
    return static_cast<double>(kBuckets * kBucketNs) / 1000;
  }

  void print() const {
    std::printf("witness: %llu pieces of fixed arithmetic, cpu us p50 %.0f p99 %.0f p99.9 %.0f "
                "p99.99 %.0f max %.1f; %llu over 1 ms (%llu of them with a context switch)\n",
                static_cast<unsigned long long>(pieces), percentileUs(0.5), percentileUs(0.99),
                percentileUs(0.999), percentileUs(0.9999),
                static_cast<double>(slowest.front().cpuNs) / 1000,
                static_cast<unsigned long long>(overOneMs),
                static_cast<unsigned long long>(overOneMsSwitched));
    for (const Piece& p : slowest) {
      if (p.cpuNs == 0) break;
      std::printf("  piece %llu: cpu %.1f us, wall %.1f us, switches %ld, faults %ld\n",
                  static_cast<unsigned long long>(p.index), static_cast<double>(p.cpuNs) / 1000,
                  static_cast<double>(p.wallNs) / 1000, p.switches, p.faults);
    }
  }
};

Piece timedPiece(uint64_t index) {
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  const int64_t wall = clockNs(CLOCK_MONOTONIC), cpu = clockNs(CLOCK_THREAD_CPUTIME_ID);
  fixedPiece();
  Piece piece;
  piece.cpuNs = clockNs(CLOCK_THREAD_CPUTIME_ID) - cpu;
  piece.wallNs = clockNs(CLOCK_MONOTONIC) - wall;
  getrusage(RUSAGE_THREAD, &after);
  piece.switches = after.ru_nvcsw - before.ru_nvcsw + after.ru_nivcsw - before.ru_nivcsw;
  piece.faults = after.ru_minflt - before.ru_minflt + after.ru_majflt - before.ru_majflt;
  piece.index = index;
  return piece;
}

}  // namespace

int main(int argc, char** argv) {
  const long seconds = argc > 1 ? std::atol(argv[1]) : 0;
  std::signal(SIGINT, [](int) { stop = true; });
  std::signal(SIGTERM, [](int) { stop = true; });
  setvbuf(stdout, nullptr, _IOLBF, 0);
  static Witness witness;
  const int64_t start = clockNs(CLOCK_MONOTONIC);
  int64_t next = start;
  while (!stop && (seconds <= 0 || next - start < seconds * 1000000000LL)) {
    witness.add(timedPiece(witness.pieces++));
    next += kPeriodNs;
    const timespec at{static_cast<time_t>(next / 1000000000LL), static_cast<long>(next % 1000000000LL)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
  }
  witness.print();
  return 0;
}

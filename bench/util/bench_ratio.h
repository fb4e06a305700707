// Console reporter that, after the usual table, prints peer time / our time for named pairs of
// benchmarks run in the same process on the same input (above 1: ours is faster). With
// repetitions the medians are compared.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orvox_bench {

struct RatioPair {
  std::string label;
  std::string ours;
  std::string peer;
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::vector<RatioPair> pairs) : pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      if (r.error_occurred) failed_ = true;
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
      cpu_[r.run_name.str()] = r.GetAdjustedCPUTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& p : pairs_) {
      const auto ours = cpu_.find(p.ours), peer = cpu_.find(p.peer);
      if (ours == cpu_.end() || peer == cpu_.end() || ours->second <= 0) continue;
      std::printf("ratio peer/ours %-34s %.2f\n", p.label.c_str(), peer->second / ours->second);
    }
  }

  // True when a benchmark stopped with an error (a peer and ours that disagree, a missed detection).
  bool failed() const { return failed_; }

 private:
  bool failed_ = false;
  std::vector<RatioPair> pairs_;
  std::map<std::string, double> cpu_;
};

inline int runWithRatios(int argc, char** argv, std::vector<RatioPair> pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(std::move(pairs));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}

}  // namespace orvox_bench

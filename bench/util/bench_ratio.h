// Console reporter that, after the usual table, prints peer time / our time for named pairs of
// benchmarks run in the same process on the same input (above 1: ours is faster). With
// repetitions the medians are compared. Given a median label, the median of the pairs' ratios
// follows them.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
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
  explicit RatioReporter(std::vector<RatioPair> pairs, std::string medianLabel = {})
      : pairs_(std::move(pairs)), medianLabel_(std::move(medianLabel)) {}

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
    std::vector<double> ratios;
    for (const auto& p : pairs_) {
      const auto ours = cpu_.find(p.ours), peer = cpu_.find(p.peer);
      if (ours == cpu_.end() || peer == cpu_.end() || ours->second <= 0) continue;
      ratios.push_back(peer->second / ours->second);
      std::printf("ratio peer/ours %-34s %.2f\n", p.label.c_str(), ratios.back());
    }
    if (medianLabel_.empty() || ratios.empty()) return;
    std::sort(ratios.begin(), ratios.end());
    const size_t n = ratios.size();
    const double median = n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
    std::printf("ratio peer/ours %-34s %.2f\n", medianLabel_.c_str(), median);
  }

  // True when a benchmark stopped with an error (a peer and ours that disagree, a missed detection).
  bool failed() const { return failed_; }

 private:
  bool failed_ = false;
  std::vector<RatioPair> pairs_;
  std::string medianLabel_;
  std::map<std::string, double> cpu_;
};

inline int runWithRatios(int argc, char** argv, std::vector<RatioPair> pairs, std::string medianLabel = {}) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(std::move(pairs), std::move(medianLabel));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}

}  // namespace orvox_bench

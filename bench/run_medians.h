// run_medians.h: collects a Google Benchmark run's results per benchmark and
// gives the median over its repetitions, for the tables the tools print.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace mervalt::bench {

// A reporter given to RunSpecifiedBenchmarks keeps its own colour setting:
// colour only on a terminal, so that logs stay plain.
inline benchmark::ConsoleReporter::OutputOptions consoleOptions() {
  return isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                               : benchmark::ConsoleReporter::OO_Tabular;
}

class RunMedians {
 public:
  using Run = benchmark::BenchmarkReporter::Run;

  // Every repetition counts; with --benchmark_report_aggregates_only the
  // median aggregate is all that arrives, and it stands for them.
  void add(const Run& r) {
    Samples& s = samples_[key(r.run_name.function_name, r.threads)];
    if (r.error_occurred) {
      s.failed = true;
      return;
    }
    bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
    if (r.run_type != Run::RT_Iteration && !median) return;
    if (median) s = {.failed = s.failed, .seconds = {}, .cpuSeconds = {}, .counters = {}};
    s.seconds.push_back(r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit));
    s.cpuSeconds.push_back(r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit));
    for (const auto& [name, counter] : r.counters) s.counters[name].push_back(counter.value);
  }

  bool failed(const std::string& name, int threads = 1) const { return find(name, threads).failed; }
  bool measured(const std::string& name, int threads = 1) const { return !find(name, threads).seconds.empty(); }

  // Real time per iteration, in seconds; 0 when not measured.
  double seconds(const std::string& name, int threads = 1) const { return median(find(name, threads).seconds); }

  // CPU time per iteration (all threads' together), in seconds: unlike real
  // time it leaves out the time other processes held the core.
  double cpuSeconds(const std::string& name, int threads = 1) const {
    return median(find(name, threads).cpuSeconds);
  }

  double counter(const std::string& name, const std::string& counterName, int threads = 1) const {
    const Samples& s = find(name, threads);
    auto it = s.counters.find(counterName);
    return it == s.counters.end() ? 0 : median(it->second);
  }

 private:
  struct Samples {
    bool failed = false;
    std::vector<double> seconds, cpuSeconds;
    std::map<std::string, std::vector<double>> counters;
  };

  static std::string key(const std::string& name, int threads) { return name + "#" + std::to_string(threads); }

  const Samples& find(const std::string& name, int threads) const {
    static const Samples kNone;
    auto it = samples_.find(key(name, threads));
    return it == samples_.end() ? kNone : it->second;
  }

  static double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }

  std::map<std::string, Samples> samples_;
};

}  // namespace mervalt::bench

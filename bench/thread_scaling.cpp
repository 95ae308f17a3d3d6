// thread_scaling.cpp: every benchmark workload rendered by one and by two
// threads of one process at once, in renders per second of wall time, with
// page faults per call: as whole calls, and through one compiled template
// that the threads share. Ends with a table of the speedup from the second
// thread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mervalt.h"
#include "mervalt_engine.h"
#include "run_medians.h"
#include "thread_faults.h"
#include "workloads.h"

namespace {

using namespace mervalt::bench;

// A workload and, for the shared-template runs, its template compiled once.
struct Subject {
  const Workload* w;
  mervalt_template* compiled = nullptr;
};

bool renderOnce(const Subject& s) {
  const Workload& w = *s.w;
  char* out = nullptr;
  std::size_t len = 0;
  if (s.compiled) {
    if (mervalt_template_render(s.compiled, w.json.data(), w.json.size(), &out, &len, nullptr) != MERVALT_OK)
      return false;
    benchmark::DoNotOptimize(out);
    mervalt_output_free(out, len);
    return true;
  }
  if (mervalt_render_json(w.templateText.data(), w.templateText.size(), w.json.data(), w.json.size(), &out, &len))
    return false;
  benchmark::DoNotOptimize(out);
  mervalt_free(out, len);
  return true;
}

// Runs on each thread. The call before the timed loop warms that thread's
// block cache, as a long-lived host thread finds it.
void renderOnThreads(benchmark::State& state, const Subject* w) {
  if (!renderOnce(*w)) {
    state.SkipWithError("the call failed (returned 1)");
    for (auto _ : state) {
    }
    return;
  }
  int64_t faultsBefore = threadMinorFaults();
  for (auto _ : state) {
    if (!renderOnce(*w)) {
      state.SkipWithError("the call failed (returned 1)");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  // Summed over the threads, divided by the calls of all of them.
  state.counters["faults_per_call"] =
      benchmark::Counter(static_cast<double>(threadMinorFaults() - faultsBefore), benchmark::Counter::kAvgIterations);
}

class ScalingReporter : public benchmark::ConsoleReporter {
 public:
  ScalingReporter() : ConsoleReporter(consoleOptions()) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) medians_.add(r);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    // By CPU time: twice the CPU time per render alone over that on two
    // threads at once. It sees the two threads slow each other (caches,
    // memory, locks) but not another process taking a core, so on a busy
    // machine it says what the wall-time ratio would be on an idle one.
    std::printf("\n%-27s %14s %14s %8s %8s %14s %14s\n", "workload (shared: compiled once)", "renders/s 1T", "renders/s 2T", "2T/1T",
                "by CPU", "faults/call 1T", "faults/call 2T");
    for (const char* kind : {"scaling/", "shared/"})
      for (const Workload& w : allWorkloads()) {
        std::string name = kind + w.name;
        if (!medians_.measured(name, 1) && !medians_.failed(name, 1)) continue;
        if (medians_.failed(name, 1) || medians_.failed(name, 2)) {
          std::printf("%-27s failed (the call returned 1)\n", name.c_str());
          continue;
        }
        double one = medians_.counter(name, "items_per_second", 1), two = medians_.counter(name, "items_per_second", 2);
        double byCpu = 2 * medians_.cpuSeconds(name, 1) / medians_.cpuSeconds(name, 2);
        std::printf("%-27s %14.1f %14.1f %8.2f %8.2f %14.1f %14.1f%s\n", name.c_str(), one, two, two / one, byCpu,
                    medians_.counter(name, "faults_per_call", 1), medians_.counter(name, "faults_per_call", 2),
                    two / one < 1.8 ? "  under 1.8" : "");
      }
  }

 private:
  RunMedians medians_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<Subject> subjects;
  mervalt_engine* engine = mervalt_engine_new();
  for (const Workload& w : allWorkloads()) {
    subjects.push_back({&w});
    mervalt_template* t = nullptr;
    if (mervalt_compile(engine, w.templateText.data(), w.templateText.size(), &t, nullptr) == MERVALT_OK)
      subjects.push_back({&w, t});
  }
  for (const Subject& s : subjects)
    benchmark::RegisterBenchmark(((s.compiled ? "shared/" : "scaling/") + s.w->name).c_str(), renderOnThreads, &s)
        ->Threads(1)
        ->Threads(2)
        ->UseRealTime();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ScalingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const Subject& s : subjects) mervalt_template_free(s.compiled);
  mervalt_engine_free(engine);
  return 0;
}

// size_sweep.cpp: the cost of a call as the template, the JSON document or
// the output grows, per KB of the growing quantity, with page faults per
// call. Ends with a table per sweep and each point's cost against the best.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "mervalt.h"
#include "run_medians.h"
#include "sweep_inputs.h"
#include "thread_faults.h"
#include "workloads.h"

namespace {

using namespace mervalt::bench;

enum class Grows { Template, Json, Output };

// One size of a sweep. Its texts are made on first use, so that a filtered
// run does not build 32 MB documents it never renders.
struct Point {
  using Make = std::function<void(std::string& templateText, std::string& json)>;
  Point(std::string n, Grows g, Make m) : name(std::move(n)), grows(g), make(std::move(m)) {}

  std::string name;
  Grows grows;
  Make make;
  std::string templateText, json;
  bool made = false;
};

struct Sweep {
  std::string name;
  std::vector<Point> points;
};

struct Call {
  int rc;
  std::size_t outBytes;
};

Call renderOnce(const Point& p) {
  char* out = nullptr;
  std::size_t len = 0;
  int rc = mervalt_render_json(p.templateText.data(), p.templateText.size(), p.json.data(), p.json.size(), &out, &len);
  if (rc == 0) mervalt_free(out, len);
  return {rc, len};
}

void sweepPoint(benchmark::State& state, Point* p) {
  if (!p->made) {
    p->make(p->templateText, p->json);
    p->made = true;
  }
  // The first call finds a point the engine refuses, and warms the thread's
  // block cache as any call after the first finds it.
  Call first = renderOnce(*p);
  if (first.rc != 0) {
    state.SkipWithError("the call failed (returned 1)");
    for (auto _ : state) {
    }
    return;
  }
  std::size_t swept = p->grows == Grows::Template ? p->templateText.size()
                      : p->grows == Grows::Json   ? p->json.size()
                                                  : first.outBytes;
  int64_t faultsBefore = threadMinorFaults();
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    char* out = nullptr;
    std::size_t len = 0;
    if (mervalt_render_json(p->templateText.data(), p->templateText.size(), p->json.data(), p->json.size(), &out,
                            &len) != 0) {
      state.SkipWithError("the call failed (returned 1)");
      break;
    }
    benchmark::DoNotOptimize(out);
    mervalt_free(out, len);
  }
  double micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  int64_t faults = threadMinorFaults() - faultsBefore;
  double calls = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  state.counters["bytes"] = static_cast<double>(swept);
  state.counters["us_per_KB"] = micros / calls / (static_cast<double>(swept) / 1024);
  state.counters["faults_per_call"] = static_cast<double>(faults) / calls;
}

std::string sizeText(double bytes) {
  char s[32];
  if (bytes >= 1 << 20)
    std::snprintf(s, sizeof s, "%.1f MB", bytes / (1 << 20));
  else
    std::snprintf(s, sizeof s, "%.1f KB", bytes / 1024);
  return s;
}

// Sizes from `from` to `to` bytes, doubling.
std::vector<std::size_t> doubling(std::size_t from, std::size_t to) {
  std::vector<std::size_t> sizes;
  for (std::size_t n = from; n <= to; n *= 2) sizes.push_back(n);
  return sizes;
}

std::vector<Sweep> sweeps() {
  std::vector<Sweep> all(5);
  all[0].name = "template";
  // Doubling, with the sizes between from 6 KB to 96 KB as well: a cliff
  // there is what this sweep watches for.
  std::vector<std::size_t> copiesList = doubling(8, 16384);
  for (std::size_t copies : doubling(48, 768)) copiesList.push_back(copies);
  std::sort(copiesList.begin(), copiesList.end());
  for (std::size_t copies : copiesList)
    all[0].points.emplace_back("template/" + std::to_string(copies) + "_sections", Grows::Template,
                             [copies](std::string& t, std::string& j) {
                               t = repeatedSection(copies);
                               j = kProductSectionData;
                             });
  all[1].name = "json_records";
  all[2].name = "json_integers";
  for (std::size_t bytes : doubling(1024, std::size_t{32} << 20)) {
    all[1].points.emplace_back("json_records/" + std::to_string(bytes), Grows::Json,
                             [bytes](std::string&, std::string& j) { j = productRecordsJson(bytes); });
    all[2].points.emplace_back("json_integers/" + std::to_string(bytes), Grows::Json,
                             [bytes](std::string&, std::string& j) { j = integerArrayJson(bytes); });
  }
  all[3].name = "output_rows";
  all[4].name = "output_escape";
  for (std::size_t bytes : doubling(1024, std::size_t{16} << 20)) {
    all[3].points.emplace_back("output_rows/" + std::to_string(bytes), Grows::Output,
                             [bytes](std::string& t, std::string& j) {
                               t = tableRowsTemplate(bytes);
                               j = kTableRowsData;
                             });
    all[4].points.emplace_back("output_escape/" + std::to_string(bytes), Grows::Output,
                             [bytes](std::string& t, std::string& j) {
                               t = kEscapedTextTemplate;
                               j = escapedTextJson(bytes);
                             });
  }
  return all;
}

// The usual console output, then per sweep: each size's cost per KB and page
// faults per call (medians over repetitions), and its cost against the
// sweep's best point. The goal is that no point costs over 1.5 times the best.
class SweepReporter : public benchmark::ConsoleReporter {
 public:
  explicit SweepReporter(const std::vector<Sweep>& sweeps) : ConsoleReporter(consoleOptions()), sweeps_(sweeps) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) medians_.add(r);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const Sweep& sweep : sweeps_) printSweep(sweep);
  }

 private:
  // Wall time is the measure; CPU time beside it tells a point that costs
  // more from one that lost its core to another process.
  double wallPerKB(const Point& p) const { return medians_.counter(p.name, "us_per_KB"); }
  double cpuPerKB(const Point& p) const {
    return medians_.cpuSeconds(p.name) * 1e6 / (medians_.counter(p.name, "bytes") / 1024);
  }

  void printSweep(const Sweep& sweep) const {
    double best = 0, bestCpu = 0;
    bool any = false;
    for (const Point& p : sweep.points) {
      any = any || medians_.failed(p.name) || medians_.measured(p.name);
      if (!medians_.measured(p.name)) continue;
      if (best == 0 || wallPerKB(p) < best) best = wallPerKB(p);
      if (bestCpu == 0 || cpuPerKB(p) < bestCpu) bestCpu = cpuPerKB(p);
    }
    if (!any) return;  // filtered out
    const int indent = static_cast<int>(sweep.name.size());
    std::printf("\n%s: %10s %10s %8s %10s %8s %12s\n", sweep.name.c_str(), "size", "us/KB", "vs best", "cpu us/KB",
                "vs best", "faults/call");
    double worst = 0, worstCpu = 0;
    std::string worstSize, worstCpuSize;
    for (const Point& p : sweep.points) {
      if (medians_.failed(p.name)) {
        std::printf("%*s  %-28s  failed (the call returned 1)\n", indent, "", p.name.c_str());
        continue;
      }
      if (!medians_.measured(p.name)) continue;
      double ratio = wallPerKB(p) / best, cpuRatio = cpuPerKB(p) / bestCpu;
      std::string size = sizeText(medians_.counter(p.name, "bytes"));
      std::printf("%*s  %10s %10.3f %8.2f %10.3f %8.2f %12.1f%s\n", indent, "", size.c_str(), wallPerKB(p), ratio,
                  cpuPerKB(p), cpuRatio, medians_.counter(p.name, "faults_per_call"), ratio > 1.5 ? "  over 1.5" : "");
      if (ratio > worst) worst = ratio, worstSize = size;
      if (cpuRatio > worstCpu) worstCpu = cpuRatio, worstCpuSize = size;
    }
    std::printf("%*s  worst %.2f times the best (at %s; the goal is at most 1.5); in CPU time %.2f (at %s)\n", indent,
                "", worst, worstSize.c_str(), worstCpu, worstCpuSize.c_str());
  }

  const std::vector<Sweep>& sweeps_;
  RunMedians medians_;
};

}  // namespace

int main(int argc, char** argv) {
  static std::vector<Sweep> all = sweeps();
  for (Sweep& sweep : all)
    for (Point& p : sweep.points) benchmark::RegisterBenchmark(p.name.c_str(), sweepPoint, &p);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SweepReporter reporter(all);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

// render_bench.cpp: whole render calls per workload beside their floors: a
// simdjson parse of the same JSON, the hand-written product page, and
// optionally another build of the library. Ends with a table of ratios.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <simdjson.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "mervalt.h"
#include "mervalt_engine.h"
#include "product_page/floor.h"
#include "workloads.h"

namespace {

using mervalt::bench::Workload;
using RenderFn = int (*)(const char*, size_t, const char*, size_t, char**, size_t*);
using FreeFn = void (*)(char*, size_t);

// The library under test, or another build of it loaded from
// MERVALT_BASELINE_LIB (for example a build of an earlier commit).
struct Library {
  RenderFn render;
  FreeFn free;
};

const Library kThisLibrary{mervalt_render_json, mervalt_free};

// One call per iteration. Throughput counts the JSON bytes, so a render and
// the parse-only floors of a workload compare directly.
void renderCall(benchmark::State& state, const Workload* w, const std::string* tpl, Library lib) {
  std::size_t outBytes = 0;
  for (auto _ : state) {
    char* out = nullptr;
    std::size_t len = 0;
    if (lib.render(tpl->data(), tpl->size(), w->json.data(), w->json.size(), &out, &len) != 0) {
      state.SkipWithError("the call failed");
      break;
    }
    benchmark::DoNotOptimize(out);
    outBytes = len;
    lib.free(out, len);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->json.size()));
  state.counters["output_bytes"] = static_cast<double>(outBytes);
}

// The same template compiled once through the engine interface, rendered
// per iteration (the JSON is still read by every render).
void renderCompiled(benchmark::State& state, const Workload* w) {
  mervalt_engine* engine = mervalt_engine_new();
  mervalt_template* tpl = nullptr;
  if (mervalt_compile(engine, w->templateText.data(), w->templateText.size(), &tpl, nullptr) != MERVALT_OK) {
    state.SkipWithError("the template did not compile");
    mervalt_engine_free(engine);
    return;
  }
  for (auto _ : state) {
    char* out = nullptr;
    std::size_t len = 0;
    if (mervalt_template_render(tpl, w->json.data(), w->json.size(), &out, &len, nullptr) != MERVALT_OK) {
      state.SkipWithError("the render failed");
      break;
    }
    benchmark::DoNotOptimize(out);
    mervalt_output_free(out, len);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->json.size()));
  mervalt_template_free(tpl);
  mervalt_engine_free(engine);
}

// simdjson's DOM parse of the JSON, with a parser made per call (what a
// call would pay) or one parser reused across calls.
void parseJson(benchmark::State& state, const Workload* w, bool newParser) {
  simdjson::padded_string padded(w->json);
  simdjson::dom::parser reused;
  for (auto _ : state) {
    simdjson::dom::parser fresh;
    simdjson::dom::element doc;
    if ((newParser ? fresh : reused).parse(padded).get(doc) != simdjson::SUCCESS) {
      state.SkipWithError("the JSON did not parse");
      break;
    }
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->json.size()));
}

void productPageFloor(benchmark::State& state, const Workload* w) {
  simdjson::padded_string padded(w->json);
  for (auto _ : state) benchmark::DoNotOptimize(renderProductPageFloor(padded));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->json.size()));
}

// Prints the usual console output, then a table of each workload's whole
// call against its floors (medians when the runs are repeated).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      double micros = r.GetAdjustedRealTime() * 1e6 / benchmark::GetTimeUnitMultiplier(r.time_unit);
      if (r.run_type == Run::RT_Iteration) {
        times_[r.run_name.str()].push_back(micros);
      } else if (r.aggregate_name == "median") {
        times_[r.run_name.str()] = {micros};  // the median of the repetitions
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-22s %10s %10s %10s %7s %10s %10s %7s %10s %8s\n", "workload (us)", "whole call", "compiled",
                "floor", "ratio", "data only", "DOM parse", "ratio", "baseline", "speedup");
    for (const Workload& w : mervalt::bench::allWorkloads()) {
      double call = median("render/" + w.name), floor = median("floor/" + w.name);
      double compiled = median("compiled/" + w.name);
      double data = median("data_only/" + w.name), parse = median("json_parse_new_parser/" + w.name);
      double base = median("baseline/" + w.name);
      std::printf("%-22s %10.1f %10.1f %10s %7s %10.1f %10.1f %7.2f %10s %8s\n", w.name.c_str(), call, compiled,
                  cell(floor).c_str(), ratio(call, floor).c_str(), data, parse, data / parse, cell(base).c_str(),
                  ratio(base, call).c_str());
    }
    printPerProduct();
  }

 private:
  double median(const std::string& name) {
    auto it = times_.find(name);
    if (it == times_.end() || it->second.empty()) return 0;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  static std::string cell(double v) {
    if (v <= 0) return "-";
    char s[32];
    std::snprintf(s, sizeof s, "%.1f", v);
    return s;
  }
  static std::string ratio(double a, double b) {
    if (a <= 0 || b <= 0) return "-";
    char s[32];
    std::snprintf(s, sizeof s, "%.2f", a / b);
    return s;
  }

  // How the cost of the product page grows: time per product at each size.
  void printPerProduct() {
    std::vector<std::pair<int, double>> perProduct;
    for (const Workload& w : mervalt::bench::allWorkloads())
      if (w.products > 0 && median("render/" + w.name) > 0)
        perProduct.emplace_back(w.products, median("render/" + w.name) / w.products);
    if (perProduct.size() < 2) return;
    std::printf("\nproduct page, whole call per product:");
    for (auto [n, us] : perProduct) std::printf("  %d products %.3f us", n, us);
    std::printf("  (largest / smallest %.2f)\n", perProduct.back().second / perProduct.front().second);
  }

  std::map<std::string, std::vector<double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  Library baseline{nullptr, nullptr};
  if (const char* path = std::getenv("MERVALT_BASELINE_LIB"); path && *path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
      return 1;
    }
    baseline = {reinterpret_cast<RenderFn>(dlsym(handle, "mervalt_render_json")),
                reinterpret_cast<FreeFn>(dlsym(handle, "mervalt_free"))};
  }
  static const std::string kEmpty;
  for (const Workload& w : mervalt::bench::allWorkloads()) {
    benchmark::RegisterBenchmark(("render/" + w.name).c_str(), renderCall, &w, &w.templateText, kThisLibrary);
    benchmark::RegisterBenchmark(("compiled/" + w.name).c_str(), renderCompiled, &w);
    if (w.products > 0) benchmark::RegisterBenchmark(("floor/" + w.name).c_str(), productPageFloor, &w);
    if (baseline.render)
      benchmark::RegisterBenchmark(("baseline/" + w.name).c_str(), renderCall, &w, &w.templateText, baseline);
    benchmark::RegisterBenchmark(("data_only/" + w.name).c_str(), renderCall, &w, &kEmpty, kThisLibrary);
    benchmark::RegisterBenchmark(("json_parse_new_parser/" + w.name).c_str(), parseJson, &w, true);
    benchmark::RegisterBenchmark(("json_parse_only/" + w.name).c_str(), parseJson, &w, false);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

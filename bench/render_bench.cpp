// render_bench.cpp: whole render calls per workload, next to a plain JSON parse of the same data.
#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <string>

#include "mervalt.h"
#include "workloads.h"

namespace {

using mervalt::bench::Workload;

// Throughput counts the JSON bytes, so the render and the parse-only
// baseline of a workload are directly comparable.
void renderCall(benchmark::State& state, const Workload* w) {
  std::size_t outBytes = 0;
  for (auto _ : state) {
    char* out = nullptr;
    std::size_t len = 0;
    if (mervalt_render_json(w->templateText.data(), w->templateText.size(), w->json.data(), w->json.size(), &out,
                            &len) != 0) {
      state.SkipWithError("the template did not render");
      break;
    }
    benchmark::DoNotOptimize(out);
    outBytes = len;
    mervalt_free(out, len);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->json.size()));
  state.counters["json_bytes"] = static_cast<double>(w->json.size());
  state.counters["output_bytes"] = static_cast<double>(outBytes);
}

// A whole call with an empty template: what reading the JSON into values
// costs, so that the render's own share of `render/` is visible.
void readDataOnly(benchmark::State& state, const Workload* w) {
  for (auto _ : state) {
    char* out = nullptr;
    std::size_t len = 0;
    if (mervalt_render_json("", 0, w->json.data(), w->json.size(), &out, &len) != 0) {
      state.SkipWithError("the call failed");
      break;
    }
    benchmark::DoNotOptimize(out);
    mervalt_free(out, len);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->json.size()));
}

void parseJsonOnly(benchmark::State& state, const Workload* w) {
  simdjson::dom::parser parser;
  simdjson::padded_string padded(w->json);
  for (auto _ : state) {
    simdjson::dom::element doc;
    if (parser.parse(padded).get(doc) != simdjson::SUCCESS) {
      state.SkipWithError("the JSON did not parse");
      break;
    }
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->json.size()));
}

}  // namespace

int main(int argc, char** argv) {
  for (const Workload& w : mervalt::bench::allWorkloads()) {
    benchmark::RegisterBenchmark(("render/" + w.name).c_str(), renderCall, &w);
    benchmark::RegisterBenchmark(("data_only/" + w.name).c_str(), readDataOnly, &w);
    benchmark::RegisterBenchmark(("json_parse_only/" + w.name).c_str(), parseJsonOnly, &w);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

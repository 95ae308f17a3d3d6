// check_bench.cpp: checking the product page and its card partial beside
// parsing them alone, through the engine interface: each iteration makes an
// engine, adds the partial (parsing it) and then compiles or checks the page.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "mervalt_engine.h"
#include "workloads.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

const std::string& card() {
  static const std::string text = readFile(MERVALT_PRODUCT_PAGE_SOURCE "/card.liquid");
  return text;
}

const mervalt::bench::Workload& page() {
  for (const mervalt::bench::Workload& w : mervalt::bench::allWorkloads())
    if (w.name == "product_page_200") return w;
  std::abort();
}

// An engine holding the card partial, parsed now.
mervalt_engine* engineWithCard() {
  mervalt_engine* e = mervalt_engine_new();
  mervalt_engine_add_partial(e, "card", 4, card().data(), card().size(), nullptr);
  return e;
}

void parseOnly(benchmark::State& state) {
  const std::string& source = page().templateText;
  for (auto _ : state) {
    mervalt_engine* e = engineWithCard();
    mervalt_template* tpl = nullptr;
    if (mervalt_compile(e, source.data(), source.size(), &tpl, nullptr) != MERVALT_OK) state.SkipWithError("compile");
    mervalt_template_free(tpl);
    mervalt_engine_free(e);
  }
}

// With `withData`, the page's 124 KB of JSON too: read, and its names known.
void check(benchmark::State& state, bool withData) {
  const std::string& source = page().templateText;
  const std::string json = withData ? page().json : std::string();
  std::size_t findings = 0;
  for (auto _ : state) {
    mervalt_engine* e = engineWithCard();
    char* report = nullptr;
    std::size_t len = 0;
    if (mervalt_check(e, source.data(), source.size(), json.data(), json.size(), &report, &len, nullptr) != MERVALT_OK)
      state.SkipWithError("check");
    findings = len;
    mervalt_output_free(report, len);
    mervalt_engine_free(e);
  }
  state.counters["report_bytes"] = static_cast<double>(findings);
}

BENCHMARK(parseOnly)->Name("product_page/parse_page_and_card");
BENCHMARK_CAPTURE(check, no_data, false)->Name("product_page/check_page_and_card");
BENCHMARK_CAPTURE(check, with_data, true)->Name("product_page/check_page_and_card_with_data");

}  // namespace

BENCHMARK_MAIN();

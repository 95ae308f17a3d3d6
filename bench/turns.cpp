// turns.cpp: renders one workload with one engine (mervalt or the
// hand-written floor) in a loop for a fixed time and prints renders per
// second; turns.sh runs it in fresh processes, taking turns.
#include <simdjson.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>

#include "mervalt.h"
#include "product_page/floor.h"
#include "workloads.h"

namespace {

using Clock = std::chrono::steady_clock;

// Calls `render` until `seconds` have passed; returns the number of calls.
long long loopFor(double seconds, const std::function<void()>& render) {
  auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  long long calls = 0;
  do {
    render();
    ++calls;
  } while (Clock::now() < end);
  return calls;
}

int usage() {
  std::fprintf(stderr,
               "usage: mervalt_turns mervalt|floor WORKLOAD [SECONDS [WARMUP_SECONDS]]\n"
               "  Renders WORKLOAD (product_page_200, product_page_5000; mervalt also any other\n"
               "  benchmark workload) for SECONDS (default 2) after WARMUP_SECONDS (default 0.3).\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) return usage();
  const std::string engine = argv[1], name = argv[2];
  const double seconds = argc > 3 ? std::atof(argv[3]) : 2.0, warmup = argc > 4 ? std::atof(argv[4]) : 0.3;
  const mervalt::bench::Workload* w = nullptr;
  for (const auto& candidate : mervalt::bench::allWorkloads())
    if (candidate.name == name) w = &candidate;
  if (!w || seconds <= 0 || (engine != "mervalt" && engine != "floor") || (engine == "floor" && w->products == 0))
    return usage();

  std::function<void()> render;
  const simdjson::padded_string padded(w->json);
  if (engine == "mervalt") {
    render = [w] {
      char* out = nullptr;
      std::size_t len = 0;
      if (mervalt_render_json(w->templateText.data(), w->templateText.size(), w->json.data(), w->json.size(), &out,
                              &len) != 0) {
        std::fprintf(stderr, "mervalt_turns: the call failed\n");
        std::exit(1);
      }
      mervalt_free(out, len);
    };
  } else {
    render = [&padded] {
      volatile std::size_t len = renderProductPageFloor(padded);
      (void)len;
    };
  }
  try {
    loopFor(warmup, render);
    auto start = Clock::now();
    long long calls = loopFor(seconds, render);
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%s %s %.1f renders/s (%lld renders in %.3f s)\n", engine.c_str(), name.c_str(), calls / elapsed,
                calls, elapsed);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mervalt_turns: %s\n", e.what());
    return 1;
  }
  return 0;
}

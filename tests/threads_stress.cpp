// threads_stress.cpp: many threads render a mix of every case file, the
// example page and the benchmark workloads at once, over shared input
// buffers, and every result must equal the single-threaded one. Built with
// ThreadSanitizer (the `tsan` preset), it also proves that a call touches no
// memory another call can see, the per-thread caches included, and that a
// template compiled once is rendered by all threads at once without any of
// them writing into it: every other round goes through the engine interface,
// each job's template compiled once and shared.
//
//   mervalt_threads [--threads=N] [--rounds=N]
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "case_file.h"
#include "mervalt.h"
#include "mervalt_engine.h"
#include "workloads.h"

namespace {

namespace fs = std::filesystem;

int gThreads = 16;
int gRounds = 3;

struct Job {
  std::string name;
  std::string templateText;
  std::string json;
  bool required = false;  // kept however long it takes
  const mervalt_template* compiled = nullptr;  // null when it does not compile
};

struct Result {
  int rc = -1;
  std::string out;
  bool operator==(const Result&) const = default;
};

Result render(const Job& job) {
  char* out = nullptr;
  std::size_t len = 0;
  Result r;
  r.rc = mervalt_render_json(job.templateText.data(), job.templateText.size(), job.json.data(), job.json.size(),
                             &out, &len);
  if (r.rc == 0) {
    r.out.assign(out, len);
    mervalt_free(out, len);
  }
  return r;
}

// The same through the job's compiled template, shared by every thread.
Result renderCompiled(const Job& job) {
  Result r;
  r.rc = 1;  // a template that does not compile fails like a call that cannot parse it
  if (!job.compiled) return r;
  char* out = nullptr;
  std::size_t len = 0;
  r.rc = mervalt_template_render(job.compiled, job.json.data(), job.json.size(), &out, &len, nullptr) ==
                 MERVALT_OK
             ? 0
             : 1;
  if (r.rc == 0) {
    r.out.assign(out, len);
    mervalt_output_free(out, len);
  }
  return r;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every case but those of limits.txt, which run up to the render bounds on
// purpose; the example page; the workloads.
std::vector<Job> allJobs() {
  std::vector<Job> jobs;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(MERVALT_SOURCE_DIR "/tests/cases"))
    if (entry.path().extension() == ".txt" && entry.path().stem() != "limits") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files)
    for (const auto& c : mervalt::test::parseCaseFile(file.filename().string(), readFile(file)))
      jobs.push_back({file.stem().string() + ": " + c.title, c.templateText, c.data.value_or("")});
  jobs.push_back({"examples/products", readFile(MERVALT_SOURCE_DIR "/examples/products.liquid"),
                  readFile(MERVALT_SOURCE_DIR "/examples/products.json"), true});
  for (const auto& w : mervalt::bench::allWorkloads())
    jobs.push_back({"workload " + w.name, w.templateText, w.json, true});
  return jobs;
}

// A case that takes this long alone checks speed on a large input: many
// threads would repeat it for minutes under the sanitizer and add nothing.
constexpr double kSlowCaseSeconds = 0.05;

TEST(Threads, EveryThreadGetsTheSingleThreadedResults) {
  std::vector<Job> jobs;
  std::vector<Result> expected;
  for (Job& job : allJobs()) {
    auto start = std::chrono::steady_clock::now();
    Result r = render(job);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!job.required && seconds > kSlowCaseSeconds) continue;
    jobs.push_back(std::move(job));
    expected.push_back(std::move(r));
  }
  ASSERT_GT(jobs.size(), 300u);
  mervalt_engine* engine = mervalt_engine_new();
  for (Job& job : jobs) {
    mervalt_template* t = nullptr;
    if (mervalt_compile(engine, job.templateText.data(), job.templateText.size(), &t, nullptr) == MERVALT_OK)
      job.compiled = t;
  }
  mervalt_engine_free(engine);

  // Each thread starts at a different job, so that different inputs run side
  // by side; mismatches are counted per job.
  std::vector<std::atomic<int>> mismatches(jobs.size());
  std::atomic<long> renders{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < gThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < gRounds; ++round)
        for (std::size_t k = 0; k < jobs.size(); ++k) {
          std::size_t i = (k + static_cast<std::size_t>(t) * jobs.size() / gThreads) % jobs.size();
          Result r = (round + t) % 2 == 0 ? render(jobs[i]) : renderCompiled(jobs[i]);
          if (!(r == expected[i])) ++mismatches[i];
          ++renders;
        }
    });
  }
  for (auto& thread : threads) thread.join();
  for (std::size_t i = 0; i < jobs.size(); ++i) EXPECT_EQ(mismatches[i], 0) << jobs[i].name;
  for (Job& job : jobs) mervalt_template_free(const_cast<mervalt_template*>(job.compiled));
  std::printf("%d threads, %ld renders of %zu jobs\n", gThreads, renders.load(), jobs.size());
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.starts_with("--threads=")) gThreads = std::atoi(argv[i] + 10);
    if (arg.starts_with("--rounds=")) gRounds = std::atoi(argv[i] + 9);
  }
  return RUN_ALL_TESTS();
}

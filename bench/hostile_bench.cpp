// hostile_bench.cpp: times the hostile inputs, and any inputs given as files,
// one render per fresh child process: wall time and peak memory above a child
// that renders an empty template. A measurement, not a test: it always exits 0.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hostile_inputs.h"
#include "mervalt.h"

namespace {

constexpr double kSlowSeconds = 0.5;
constexpr double kLargeMebibytes = 256;

struct Input {
  std::string name;
  std::string templateText, json;
};

struct ChildRun {
  enum { Rendered, Failed, Killed } result;
  double wallSeconds;  // from fork to the child reaped
  double callSeconds;  // the call alone, as the child timed it
  long maxRssKiB;
};

// What the child sends back: the call's result and how long it took.
struct CallReport {
  int rc;
  double seconds;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Forks a child that renders the input once and reports the result and the
// call's time through a pipe; a child still running after `timeout` seconds
// is killed. The texts are made before the fork, so the baseline child holds
// them too and the difference in peak memory is the call's alone.
ChildRun runChild(const std::string& tpl, const std::string& json, double timeout) {
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("pipe");
    std::exit(0);
  }
  std::fflush(stdout);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    auto callStart = std::chrono::steady_clock::now();
    char* out = nullptr;
    std::size_t len = 0;
    int rc = mervalt_render_json(tpl.data(), tpl.size(), json.data(), json.size(), &out, &len);
    if (rc == 0) mervalt_free(out, len);
    CallReport report{rc, secondsSince(callStart)};
    bool sent = write(fds[1], &report, sizeof report) == static_cast<ssize_t>(sizeof report);
    _exit(sent ? 0 : 3);
  }
  close(fds[1]);
  CallReport report{-1, 0};
  pollfd wait{fds[0], POLLIN, 0};
  if (poll(&wait, 1, static_cast<int>(timeout * 1000)) == 1) {
    if (read(fds[0], &report, sizeof report) != static_cast<ssize_t>(sizeof report)) report.rc = -1;
  } else {
    kill(pid, SIGKILL);
  }
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  ChildRun run{ChildRun::Killed, secondsSince(start), report.seconds, usage.ru_maxrss};
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && report.rc >= 0)
    run.result = report.rc == 0 ? ChildRun::Rendered : ChildRun::Failed;
  return run;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Row {
  const char* result;
  double wallSeconds, callSeconds, peakMiB;
};

// `runs` renders, each beside its own baseline child; medians of them.
Row measure(const Input& in, int runs, double timeout) {
  static const std::string kEmpty;
  std::vector<double> wall, call, peak;
  const char* result = "rendered";
  for (int i = 0; i < runs; ++i) {
    ChildRun base = runChild(kEmpty, kEmpty, timeout);
    ChildRun r = runChild(in.templateText, in.json, timeout);
    if (r.result == ChildRun::Killed) return {"killed", r.wallSeconds, 0, 0};  // a timeout or a crash: once is enough
    if (r.result == ChildRun::Failed) result = "failed";
    wall.push_back(r.wallSeconds);
    call.push_back(r.callSeconds);
    peak.push_back(std::max(0.0, static_cast<double>(r.maxRssKiB - base.maxRssKiB) / 1024));
  }
  return {result, median(wall), median(call), median(peak)};
}

// A corpus file of the render fuzzer: template bytes up to the first NUL,
// the JSON after it.
bool readCorpusFile(const std::string& path, Input& in) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  std::string bytes = s.str();
  std::size_t nul = bytes.find('\0');
  if (nul == std::string::npos)
    in = {path, bytes, ""};
  else
    in = {path, bytes.substr(0, nul), bytes.substr(nul + 1)};
  return true;
}

void usage() {
  std::fprintf(stderr,
               "usage: mervalt_hostile [--runs=N] [--timeout=SECONDS] [--files-only] [FILE...]\n"
               "  Times every hostile input of the tests, then each FILE (template<NUL>json),\n"
               "  one render per child process, N runs each (default 3), medians.\n");
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  double timeout = 60;
  bool table = true;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--runs=", 0) == 0) {
      runs = std::max(1, std::atoi(arg.c_str() + 7));
    } else if (arg.rfind("--timeout=", 0) == 0) {
      timeout = std::atof(arg.c_str() + 10);
    } else if (arg == "--files-only") {
      table = false;
    } else if (arg == "-h" || arg == "--help") {
      usage();
      return 0;
    } else {
      files.push_back(arg);
    }
  }

  const std::vector<mervalt::test::Hostile> hostile = table ? mervalt::test::hostileInputs()
                                                           : std::vector<mervalt::test::Hostile>{};
  int width = 20;  // the longest name, so that the columns line up
  for (const auto& h : hostile) width = std::max(width, static_cast<int>(std::strlen(h.name)));
  for (const std::string& path : files) width = std::max(width, static_cast<int>(path.size()));
  std::printf("%-*s %-9s %9s %9s %9s\n", width, "input", "result", "seconds", "call s", "peak MiB");
  int marked = 0, count = 0;
  auto report = [&](const Input& in) {
    Row row = measure(in, runs, timeout);
    bool slow = row.wallSeconds > kSlowSeconds, large = row.peakMiB > kLargeMebibytes;
    std::printf("%-*s %-9s %9.3f %9.3f %9.1f%s%s\n", width, in.name.c_str(), row.result, row.wallSeconds,
                row.callSeconds, row.peakMiB, slow ? "  over 0.5 s" : "", large ? "  over 256 MiB" : "");
    marked += slow || large;
    ++count;
  };
  for (const mervalt::test::Hostile& h : hostile) report({h.name, h.templateText.get(), h.json.get()});
  for (const std::string& path : files) {
    Input in;
    if (readCorpusFile(path, in))
      report(in);
    else
      std::printf("%-*s cannot be read\n", width, path.c_str());
  }
  std::printf("%d of %d inputs over 0.5 s or 256 MiB (medians of %d runs)\n", marked, count, runs);
  return 0;
}

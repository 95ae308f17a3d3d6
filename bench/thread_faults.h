// thread_faults.h: the calling thread's minor page faults so far, for the
// benchmarks' faults-per-call counters.
#pragma once

#include <sys/resource.h>

#include <cstdint>

namespace mervalt::bench {

// RUSAGE_THREAD, so that other threads of the run (Google Benchmark's, or a
// second rendering thread) do not count against this one's calls.
inline int64_t threadMinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

}  // namespace mervalt::bench

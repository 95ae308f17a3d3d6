// workloads.h: the benchmark inputs, each a template with a generated JSON document.
#pragma once

#include <string>
#include <vector>

namespace mervalt::bench {

struct Workload {
  std::string name;
  std::string templateText;
  std::string json;
};

// Every workload, generated deterministically on first use. Add a workload
// by writing a generator in workloads.cpp and listing it in allWorkloads().
const std::vector<Workload>& allWorkloads();

}  // namespace mervalt::bench

// workloads.h: the benchmark inputs, each a template with a JSON document.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mervalt::bench {

struct Workload {
  std::string name;
  std::string templateText;
  std::string json;
  int products = 0;  // the product page: how many products (it has a hand-written floor)
};

// Every workload, made on first use: the generated ones deterministically,
// the product page from the files generated at build time.
const std::vector<Workload>& allWorkloads();

// {"products": [...]} of product records, grown until it reaches about
// `bytes` (the data of output_heavy; the size sweeps take it at any size).
std::string productRecordsJson(std::size_t bytes);

}  // namespace mervalt::bench

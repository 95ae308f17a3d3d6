// checker.h: the template checker: a template's text (with its data and the
// partials it may include, when known) in, its findings and the data paths
// it reads out. Nothing here renders; the language's behaviour is untouched.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "check/finding.h"
#include "check/partial_catalog.h"
#include "data/value.h"
#include "parse/node.h"

namespace mervalt::check {

struct CheckRequest {
  std::string_view source;
  const Value* data = nullptr;  // with data, names it lacks can be reported
  PartialCatalog* partials = nullptr;
  CodeSet disabled = 0;
};

// A data path the template reads ("products[].title"), where it is first read.
struct DataPath {
  std::string path;
  SourcePosition at;
  std::string partial;  // the partial it is read in, "" for the template
  std::string file;     // that partial's file, when it came from one
};

struct CheckResult {
  std::vector<Finding> findings;  // the template's in text order, then each partial's in order of first use
  std::vector<DataPath> paths;    // in order of first use
};

CheckResult checkTemplate(const CheckRequest& request);

// The data paths of a template parsed before.
std::vector<DataPath> dataPaths(const Tree& tree, PartialCatalog& partials);

}  // namespace mervalt::check

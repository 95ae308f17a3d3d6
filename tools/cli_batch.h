// cli_batch.h: `mervalt --each RECORDS TEMPLATE`, a template rendered against every line of an NDJSON file.
#pragma once

#include <optional>
#include <string>

#include "render_limits.h"

namespace mervalt::cli {

struct BatchOptions {
  std::string templatePath;
  std::string recordsPath;
  std::optional<std::string> outputPattern;  // -o: a template naming each record's file
  std::optional<std::string> partialsDir;
  LimitSettings limits;
  unsigned jobs = 0;             // threads; 0: one per core
  std::optional<bool> progress;  // forced on or off; else when standard error is a terminal
};

// Runs the batch and returns the exit status: 0 when every record rendered,
// 1 when some failed or the template (or a partial file) does not parse, 2
// for input that cannot be read, output that cannot be written or a bad -o
// pattern.
int runBatch(const BatchOptions& options);

}  // namespace mervalt::cli

// cli_report.h: the lines the tool writes to standard error about a render
// that failed and about data it cannot read.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "data/json_check.h"

namespace mervalt::cli {

// How the tool names its inputs in messages.
struct Sources {
  std::string templateName;                         // the path given, or "<stdin>"
  std::map<std::string, std::string> partialFiles;  // template name -> file, for partials read from files
};

// The line about the failure in flight; call it inside a catch block.
//   main template:        page.liquid:12:3: error: unknown tag 'endfo'
//   partial from data:    page.liquid: in partial 'card' 3:5: error: ...
//   partial from a file:  parts/card.liquid:3:5: error: ... (partial 'card' of page.liquid)
//   render limits:        mervalt: page.liquid: more than 10,000,000 loop iterations and inclusions
std::string describeRenderFailure(const Sources& sources);

// The line about the failure in flight of the record on `line` of the
// records file `recordsName`; call it inside a catch block.
//   unreadable JSON:      records.ndjson:7:15: error: trailing comma before ']'
//   partial from data:    records.ndjson:7: error: in partial 'card' 2:4: unknown tag 'endfo'
//   render limits:        records.ndjson:7: error: more than 10,000,000 loop iterations and inclusions
std::string describeRecordFailure(const std::string& recordsName, uint64_t line);

// "data.json:2:13: warning: trailing comma before ']'; rendering without data",
// or with `strict` "data.json:2:13: error: trailing comma before ']'".
std::string describeDataProblem(const std::string& dataName, const JsonProblem& problem, bool strict);

}  // namespace mervalt::cli

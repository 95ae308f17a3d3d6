// report_json.h: findings and data paths as JSON objects, for editors, CI
// annotations and the engine interface. Written by hand: every text is
// escaped, and bytes that are not UTF-8 become U+FFFD.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "check/checker.h"
#include "check/finding.h"
#include "data/json_text.h"

namespace mervalt::check {

// {"file":…,"line":…,"column":…,"severity":…,"code":…,"message":…,
//  "partial":…,"suggestion":…}: "file" only when `file` is not empty,
// "partial" and "suggestion" only when the finding has them.
void appendFindingJson(std::string& out, const Finding& f, std::string_view file);

// {"file":…,"path":…,"line":…,"column":…,"partial":…}, likewise.
void appendPathJson(std::string& out, const DataPath& p, std::string_view file);

// "[" items joined by "," "]".
std::string jsonArray(const std::vector<std::string>& items);

}  // namespace mervalt::check

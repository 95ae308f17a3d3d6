// json_check.h: where and why a JSON document is unreadable, by the rules the
// library reads data with: strict RFC 8259, valid UTF-8, no key repeated within
// one object, nesting at most 128 deep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mervalt {

struct JsonProblem {
  std::size_t offset;   // byte offset into the document
  uint32_t line;        // 1-based, counting line feeds
  uint32_t column;      // 1-based, in bytes
  std::string message;  // short and lower case: "trailing comma before ']'"
};

// The first reason why the library would read `json` as no data, or nothing
// when it reads the document. An empty text is no document, not a problem;
// text of only whitespace is a problem.
std::optional<JsonProblem> findJsonProblem(std::string_view json);

}  // namespace mervalt

// json_check.h: where and why a JSON document is unreadable, by the rules the
// library reads data with: strict RFC 8259, valid UTF-8, no key repeated within
// one object, nesting at most 128 deep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace mervalt {

struct JsonProblem {
  std::size_t offset;   // byte offset into the document
  uint32_t line;        // 1-based, counting line feeds
  uint32_t column;      // 1-based, in bytes
  std::string message;  // short and lower case: "trailing comma before ']'"
};

// A document that does not read where it must (strict data): the render
// fails, saying where and why.
struct DataError : std::runtime_error {
  explicit DataError(JsonProblem p) : std::runtime_error(p.message), problem(std::move(p)) {}
  JsonProblem problem;
};

// The first reason why the library would read `json` as no data, or nothing
// when it reads the document. An empty text is no document, not a problem;
// text of only whitespace is a problem.
std::optional<JsonProblem> findJsonProblem(std::string_view json);

}  // namespace mervalt

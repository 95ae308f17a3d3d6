// parser.h: the recursive-descent parser that turns a template text into
// its syntax tree (node.h), and the failure it reports when the text does
// not parse.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "parse/names.h"
#include "parse/node.h"
#include "render_limits.h"

namespace mervalt {

class Arena;

// A template that does not parse; the call fails. `message` is for the
// template's author, `line` and `column` say where it applies, and `opened`
// where the block it concerns begins (what() adds "(opened at L:C)"). The
// positions are in the template that failed: the main one, or the partial
// named by `partial` when an include or render tag parsed it.
struct ParseError : std::runtime_error {
  ParseError(const std::string& message, SourcePosition at, std::optional<SourcePosition> opened = {});
  std::string message;
  uint32_t line;
  uint32_t column;
  std::optional<SourcePosition> opened;
  std::string partial;
};

// The operator a comparison or and/or text names; Eq for an empty text.
Operator operatorOf(std::string_view op);

// Parses `source` into a tree allocated in `arena`, numbering its names in
// `names`. Throws ParseError (malformed template or nesting beyond
// kMaxParseDepth) or std::bad_alloc. The tree points into `source` and into
// `arena`; both must outlive it.
Tree parseTemplate(std::string_view source, Arena& arena, NameTable& names);

}  // namespace mervalt

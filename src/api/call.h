// call.h: one render from start to end: read the JSON, parse the template
// (or take one compiled before), render, hand the output back.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "memory/arena.h"
#include "parse/names.h"
#include "parse/node.h"
#include "render/partials.h"
#include "render_limits.h"

namespace mervalt {

// What a render did, for tests and tools: filled in also when the render
// fails (the heap knows the call's peak memory).
struct CallStats {
  uint64_t work = 0;
  uint64_t iterations = 0;
};

// The JSON side of a render. With `padded`, kJsonPadding readable bytes
// follow the text (see json_input.h), which spares the render a copy of it.
// With `strict`, a text that does not read fails the render (DataError)
// instead of reading as no data.
struct JsonInput {
  template <class Text>
    requires std::convertible_to<const Text&, std::string_view>
  JsonInput(const Text& t, bool isPadded = false, bool isStrict = false)
      : text(t), padded(isPadded), strict(isStrict) {}

  std::string_view text;
  bool padded;
  bool strict;
};

// A template compiled before the render: its tree, the table numbering its
// names, and the host's named partials (or null).
struct CompiledTree {
  const Tree& tree;
  const NameTable& names;
  const PartialLibrary* library;
};

// The first block of the arena a template is compiled into: a tree takes a
// few times the text's size.
inline std::size_t compileArenaHint(std::size_t templateBytes) { return 4 * templateBytes; }

// Renders `templateText` against `json` within `limits` (the memory bound
// is the heap's). Throws ParseError, DataError, LimitExceeded or
// std::bad_alloc; `heap` is the upstream of every arena.
std::pair<char*, std::size_t> renderCall(std::string_view templateText, const JsonInput& json, HeapResource& heap,
                                         const Limits& limits, CallStats* stats = nullptr);

// The same for a compiled template.
std::pair<char*, std::size_t> renderCompiled(const CompiledTree& compiled, const JsonInput& json,
                                             HeapResource& heap, const Limits& limits,
                                             CallStats* stats = nullptr);

}  // namespace mervalt

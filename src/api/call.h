// call.h: one whole call of the library: read the JSON, parse the
// template, render, hand the output back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "memory/arena.h"
#include "render_limits.h"

namespace mervalt {

// What a call's render did, for tests and tools: filled in also when the
// render fails (the heap knows the call's peak memory).
struct CallStats {
  uint64_t work = 0;
  uint64_t iterations = 0;
};

// Renders one call within `limits` (the memory bound is the heap's). Throws
// ParseError, LimitExceeded or std::bad_alloc; `heap` is the upstream of
// every arena. With `jsonPadded`, kJsonPadding readable bytes follow the
// JSON text (see json_input.h), which spares the call a copy of it.
std::pair<char*, std::size_t> renderCall(std::string_view templateText, std::string_view json,
                                         HeapResource& heap, const Limits& limits, bool jsonPadded = false,
                                         CallStats* stats = nullptr);

}  // namespace mervalt

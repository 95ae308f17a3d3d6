// compiled_template.h: a template parsed once and rendered any number of
// times, on any number of threads at once: its text, its immutable tree, the
// numbering of its names, and what it took of its engine when compiled.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "api/call.h"
#include "engine/partial_set.h"
#include "memory/arena.h"
#include "parse/names.h"
#include "parse/node.h"
#include "render_limits.h"

namespace mervalt {

// What an engine applies to the templates compiled from it.
struct EngineSettings {
  LimitSettings limits;
  bool strictData = false;
  uint32_t disabledChecks = 0;  // codes mervalt_check leaves out, one bit each (check/finding.h)
};

class CompiledTemplate {
 public:
  // Parses `source`; throws ParseError or std::bad_alloc.
  CompiledTemplate(std::string_view source, const EngineSettings& settings,
                   std::shared_ptr<const PartialSet> partials);
  CompiledTemplate(const CompiledTemplate&) = delete;
  CompiledTemplate& operator=(const CompiledTemplate&) = delete;

  // Renders against `json` (kJsonPadding readable bytes follow it when
  // `padded`). Throws ParseError (a partial from the data), DataError (strict
  // data), LimitExceeded or std::bad_alloc.
  std::pair<char*, std::size_t> render(std::string_view json, bool padded = false,
                                       CallStats* stats = nullptr) const;

  const Tree& tree() const { return tree_; }
  std::string_view source() const { return source_; }
  const PartialSet& partials() const { return *partials_; }

 private:
  std::string source_;
  EngineSettings settings_;
  std::shared_ptr<const PartialSet> partials_;
  HeapResource heap_;
  Arena arena_;
  NameTable names_;
  Tree tree_;
};

}  // namespace mervalt

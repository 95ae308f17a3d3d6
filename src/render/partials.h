// partials.h: the other templates a render includes: found in the data's
// template store or among the templates the host gave by name, each parsed
// once per render (or once per engine), with the render's memo table for it.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "memory/arena.h"
#include "parse/names.h"
#include "parse/node.h"
#include "render/memo.h"

namespace mervalt {

// A partial ready to render: its tree and this render's memo table for it.
struct PartialTree {
  Tree tree;
  NodeMemo* memo;
};

// Templates that a host named ahead of the render, parsed once: the engine's
// partials. Their names are numbered in the table the template was compiled
// with, so that they share its variables.
class PartialLibrary {
 public:
  virtual ~PartialLibrary() = default;
  // The tree of the template named `name`, or null.
  virtual const Tree* find(std::string_view name) const = 0;
};

class Partials {
 public:
  Partials(Arena& arena, NameTable& names, const PartialLibrary* library)
      : arena_(arena), names_(names), library_(library), bySource_(arena.resource()),
        byAddress_(arena.resource()), byTree_(arena.resource()) {}

  // The partial of a source text seen before in this render (found by the
  // text's address, without reading it), or null.
  const PartialTree* seen(std::string_view source) const {
    auto it = byAddress_.find(source.data());
    return it != byAddress_.end() && it->second.first == source.size() ? it->second.second : nullptr;
  }
  // The partial of a source text, parsed the first time its bytes are seen.
  // Throws ParseError when it does not parse.
  const PartialTree& parse(std::string_view source);
  // The partial the host named `name`, or null.
  const PartialTree* named(std::string_view name);
  // The template store of the data ("__templates", else "templates"),
  // looked up once.
  const std::optional<Value>& dataStore(const Value& data) {
    if (!dataStore_) {
      std::optional<Value> v = get(data, "__templates");
      dataStore_ = v ? v : get(data, "templates");
    }
    return *dataStore_;
  }

 private:
  const PartialTree& withMemo(const Tree& tree);

  Arena& arena_;
  NameTable& names_;
  const PartialLibrary* library_;
  NameMap<const PartialTree*> bySource_;
  std::pmr::unordered_map<const char*, std::pair<std::size_t, const PartialTree*>> byAddress_;
  std::pmr::unordered_map<const Node*, PartialTree*> byTree_;
  std::optional<std::optional<Value>> dataStore_;
};

}  // namespace mervalt

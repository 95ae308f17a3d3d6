// partial_set.h: the partials an engine holds, as one immutable snapshot.
// Adding a partial makes a new set that shares the partials parsed before;
// a template compiled from the engine keeps the set it saw, so that later
// changes to the engine never reach it.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "memory/arena.h"
#include "parse/names.h"
#include "parse/node.h"
#include "render/partials.h"

namespace mervalt {

// One partial: its name, its text and its tree, parsed once.
struct ParsedPartial {
  ParsedPartial(std::string n, std::string s) : name(std::move(n)), source(std::move(s)), arena(&heap) {}
  std::string name;
  std::string source;
  HeapResource heap;
  Arena arena;
  Tree tree;
};

class PartialSet final : public PartialLibrary {
 public:
  PartialSet();
  // This set with the partial `name` added or replaced: parsed with the
  // numbering of this set's names. Throws ParseError naming the partial.
  std::shared_ptr<const PartialSet> with(std::string_view name, std::string_view source) const;

  const Tree* find(std::string_view name) const override;
  // Numbers every name the partials read or bind; a template compiled with
  // this set numbers its own names after these.
  const NameTable& names() const { return names_; }
  // The bytes of all partials' texts.
  std::size_t sourceBytes() const { return sourceBytes_; }
  std::size_t size() const { return partials_.size(); }
  // Calls f(name, tree) for every partial, in name order.
  template <class F>
  void forEach(F f) const {
    for (const auto& [name, partial] : partials_) f(std::string_view(name), partial->tree);
  }

 private:
  HeapResource heap_;
  Arena arena_;  // the names' keys
  NameTable names_;
  std::map<std::string, std::shared_ptr<const ParsedPartial>, std::less<>> partials_;
  std::size_t sourceBytes_ = 0;
};

}  // namespace mervalt

// partials.cpp: parsing the templates a render includes, once each.
#include "render/partials.h"

#include "parse/parser.h"

namespace mervalt {

const PartialTree& Partials::parse(std::string_view source) {
  const PartialTree* partial;
  if (auto it = bySource_.find(source); it != bySource_.end()) {
    partial = it->second;
  } else {
    partial = &withMemo(parseTemplate(source, arena_, names_));
    bySource_.emplace(source, partial);
  }
  byAddress_.insert_or_assign(source.data(), std::pair{source.size(), partial});
  return *partial;
}

const PartialTree* Partials::named(std::string_view name) {
  if (!library_) return nullptr;
  const Tree* tree = library_->find(name);
  return tree ? &withMemo(*tree) : nullptr;
}

const PartialTree& Partials::withMemo(const Tree& tree) {
  auto [it, added] = byTree_.try_emplace(tree.root, nullptr);
  if (added) it->second = arena_.make<PartialTree>(PartialTree{tree, newMemoTable(arena_, tree.memoCount)});
  return *it->second;
}

}  // namespace mervalt

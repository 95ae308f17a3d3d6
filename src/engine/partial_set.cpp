// partial_set.cpp: adding a partial to a copy of a set.
#include "engine/partial_set.h"

#include <utility>
#include <vector>

#include "parse/parser.h"

namespace mervalt {

PartialSet::PartialSet() : arena_(&heap_), names_(arena_.resource()) {}

std::shared_ptr<const PartialSet> PartialSet::with(std::string_view name, std::string_view source) const {
  auto next = std::make_shared<PartialSet>();
  // The names keep their numbers (the partials parsed before refer to them)
  // and their keys are the set's own: a later set may drop the partial whose
  // text a name first came from.
  auto own = [&](std::string_view n, uint32_t id) {
    if (next->names_.find(n) < 0) next->names_.add(next->arena_.copy(n), id);
  };
  names_.forEach(own);
  auto partial = std::make_shared<ParsedPartial>(std::string(name), std::string(source));
  NameTable added(partial->arena.resource(), &next->names_);
  try {
    partial->tree = parseTemplate(partial->source, partial->arena, added);
  } catch (ParseError& e) {
    e.partial = partial->name;
    throw;
  }
  std::vector<std::pair<std::string_view, uint32_t>> fresh;
  added.forEach([&](std::string_view n, uint32_t id) {
    if (next->names_.find(n) < 0) fresh.emplace_back(n, id);
  });
  for (const auto& [n, id] : fresh) own(n, id);
  next->partials_ = partials_;
  next->partials_.insert_or_assign(partial->name, std::move(partial));
  for (const auto& [n, p] : next->partials_) next->sourceBytes_ += p->source.size();
  return next;
}

const Tree* PartialSet::find(std::string_view name) const {
  auto it = partials_.find(name);
  return it == partials_.end() ? nullptr : &it->second->tree;
}

}  // namespace mervalt

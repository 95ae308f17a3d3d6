// partial_catalog.cpp: partials by name, parsed once when first reached.
#include "check/partial_catalog.h"

namespace mervalt::check {

PartialCatalog::PartialCatalog() : arena_(&heap_), names_(arena_.resource()) {}

void PartialCatalog::addText(std::string_view name, std::string_view text, std::string_view file) {
  known_ = true;
  auto [it, added] = entries_.try_emplace(std::string(name));
  if (!added) return;
  PartialEntry& e = it->second;
  e.name = name;
  e.file = file;
  e.text = text;
}

void PartialCatalog::addTree(std::string_view name, const Tree* tree) {
  known_ = true;
  auto [it, added] = entries_.try_emplace(std::string(name));
  if (!added) return;
  PartialEntry& e = it->second;
  e.name = name;
  e.tree = tree;
  e.parsed = true;
}

void PartialCatalog::addDataStore(const Value& data) {
  std::optional<Value> store = get(data, "__templates");
  if (!store) store = get(data, "templates");
  if (!store) return;
  known_ = true;
  if (!store->is(Kind::Object)) return;
  const ObjectMap& map = store->map();
  for (std::size_t i = 0; i < map.size(); ++i) {
    const Value& v = map.valueAt(i);
    if (v.is(Kind::String) && !v.str().empty()) addText(map.keyAt(i), v.str());
  }
}

PartialEntry* PartialCatalog::find(std::string_view name) {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second;
}

const Tree* PartialCatalog::treeOf(PartialEntry& entry) {
  if (entry.parsed) return entry.tree;
  entry.parsed = true;
  try {
    entry.tree = arena_.make<Tree>(parseTemplate(entry.text, arena_, names_));
  } catch (ParseError& e) {
    e.partial = entry.name;
    entry.error = e;
  }
  return entry.tree;
}

std::vector<std::string_view> PartialCatalog::names() const {
  std::vector<std::string_view> out;
  for (const auto& [name, e] : entries_) out.push_back(name);
  return out;
}

}  // namespace mervalt::check

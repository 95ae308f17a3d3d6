// names.h: the variable names of one call, each numbered once, so that the
// renderer keeps a variable's value at its number instead of hashing names.
#pragma once

#include <cstdint>
#include <functional>
#include <memory_resource>
#include <string_view>
#include <unordered_map>

namespace mervalt {

// FNV-1a: names are short, so a simple byte loop beats a general-purpose hash.
struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
};

template <class V>
using NameMap = std::pmr::unordered_map<std::string_view, V, StringHash, std::equal_to<>>;

// The parser numbers every name a template reads or binds; the renderer adds
// the few it makes while rendering. A table may continue the numbering of
// another, immutable one (its base): a compiled template numbers its names
// after its engine's partials, and each render after its template, so that
// one tree serves every render. Names are borrowed and must live as long as
// the table (they point into template texts or an arena).
class NameTable {
 public:
  // Names with a fixed number, which the renderer treats specially.
  static constexpr uint32_t kForloop = 0;
  static constexpr uint32_t kTablerowloop = 1;
  static constexpr uint32_t kTemplates = 2;
  static constexpr uint32_t kHiddenTemplates = 3;  // "__templates"

  explicit NameTable(std::pmr::memory_resource* mr) : ids_(mr) {
    for (std::string_view fixed : {"forloop", "tablerowloop", "templates", "__templates"}) intern(fixed);
  }
  // A table numbering after `base`, which must outlive it and not change.
  NameTable(std::pmr::memory_resource* mr, const NameTable* base)
      : base_(base), first_(static_cast<uint32_t>(base->size())), ids_(mr) {}

  uint32_t intern(std::string_view name) {
    if (base_)
      if (int64_t id = base_->find(name); id >= 0) return static_cast<uint32_t>(id);
    auto [it, added] = ids_.try_emplace(name, first_ + static_cast<uint32_t>(ids_.size()));
    return it->second;
  }
  // The number of `name`, or -1 when no template of the call names it.
  int64_t find(std::string_view name) const {
    if (base_)
      if (int64_t id = base_->find(name); id >= 0) return id;
    auto it = ids_.find(name);
    return it == ids_.end() ? int64_t{-1} : int64_t{it->second};
  }
  std::size_t size() const { return first_ + ids_.size(); }

  // Calls f(name, number) for every name, the base's included.
  template <class F>
  void forEach(F f) const {
    if (base_) base_->forEach(f);
    for (const auto& [name, id] : ids_) f(name, id);
  }
  // Numbers `name` as `id`, for a copy of a whole table (which numbers its
  // names densely from 0, as every table without a base does).
  void add(std::string_view name, uint32_t id) { ids_.emplace(name, id); }

 private:
  const NameTable* base_ = nullptr;
  uint32_t first_ = 0;  // the number of the first name of this table's own
  NameMap<uint32_t> ids_;
};

}  // namespace mervalt

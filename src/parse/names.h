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
// the few it makes while rendering. Names are borrowed and must live as long
// as the call (they point into template texts or the call arena).
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

  uint32_t intern(std::string_view name) {
    auto [it, added] = ids_.try_emplace(name, static_cast<uint32_t>(ids_.size()));
    return it->second;
  }
  // The number of `name`, or -1 when no template of the call names it.
  int64_t find(std::string_view name) const {
    auto it = ids_.find(name);
    return it == ids_.end() ? int64_t{-1} : int64_t{it->second};
  }
  std::size_t size() const { return ids_.size(); }

 private:
  NameMap<uint32_t> ids_;
};

}  // namespace mervalt

// lists.h: what the array filters share: a list that keeps a subset of its
// input, and the property-name argument.
#pragma once

#include <optional>
#include <string_view>

#include "memory/arena.h"
#include "filters/dispatch.h"
#include "filters/filters.h"

namespace mervalt {

// A fixed-capacity list for filters that keep a subset of their input.
class Kept {
 public:
  Kept(Arena& arena, std::size_t capacity)
      : data_(capacity == 0 ? nullptr : arena.allocArray<Value>(capacity)) {}
  void push(const Value& v) { data_[size_++] = v; }
  Value finish() const { return Value::array({data_, size_}); }

 private:
  Value* data_;
  std::size_t size_ = 0;
};

// The first argument as a property name: only a string counts.
inline std::optional<std::string_view> propertyArg(Renderer& r, Args args) {
  if (!hasArg(args, 0)) return std::nullopt;
  Value v = evalArg(r, args, 0);
  if (!v.is(Kind::String)) return std::nullopt;
  return v.str();
}

}  // namespace mervalt

// value.cpp: placeholder.
#include "value.h"
namespace mervalt {
void ObjectMap::put(std::string_view key, const Value& value) { entries_.push_back({key, value, 0}); }
const Value* ObjectMap::get(std::string_view key) const {
  for (auto& e : entries_) if (e.key == key) return &e.value;
  return nullptr;
}
std::string_view kindName(Kind) { return ""; }
bool isTruthy(const Value& v) { return !(v.isNil() || ((v.is(Kind::Boolean) || v.is(Kind::BooleanDrop)) && !v.asBool())); }
bool isBlank(const Value&) { return false; }
bool eql(const Value&, const Value&) { return false; }
bool contains(const Value&, const Value&) { return false; }
std::optional<Value> get(const Value& v, std::string_view name) {
  if (v.is(Kind::Object)) if (auto* p = v.map().get(name)) return *p;
  return std::nullopt;
}
std::optional<Value> getIndex(const Value&, int64_t) { return std::nullopt; }
std::optional<int64_t> readWholeInteger(std::string_view) { return std::nullopt; }
}  // namespace mervalt

// loops.cpp: the forloop and tablerowloop objects and the offset: continue
// positions of a render.
#include "render/loops.h"

namespace mervalt {
namespace {

constexpr std::string_view kTablerowloopKeys[] = {"col",   "col0",   "col_first", "col_last",
                                                  "row",   "index",  "index0",    "first",
                                                  "last",  "length", "rindex",    "rindex0"};
constexpr Shape kTablerowloopShape{kTablerowloopKeys, 12};

}  // namespace

Value Loops::forloopObject(std::size_t k) {
  if (k >= visible()) return Value();
  LoopRecord& rec = forLoops_[base_ + k];
  if (rec.object.is(Kind::Object)) return rec.object;
  const Value values[] = {Value::integer(rec.index()), Value::integer(rec.index0),  Value::boolean(rec.first()),
                          Value::boolean(rec.last()),  Value::integer(rec.length), Value::integer(rec.rindex()),
                          Value::integer(rec.rindex0()), Value::string(rec.name),
                          Value::integer(static_cast<int64_t>(k) - 1)};
  // The innermost loop's object also names its parent's record.
  const Shape& shape = k > 0 ? kForloopShapeWithParent : kForloopShape;
  rec.object = Value::object(ObjectMap::make(arena_, shape, std::span(values, shape.size())));
  objectBuilt_ = true;
  return rec.object;
}

std::optional<Value> Loops::member(ForloopMember m) {
  const LoopRecord& rec = forLoops_.back();
  std::size_t k = visible() - 1;
  switch (m) {
    case ForloopMember::Index: return Value::integer(rec.index());
    case ForloopMember::Index0: return Value::integer(rec.index0);
    case ForloopMember::First: return Value::boolean(rec.first());
    case ForloopMember::Last: return Value::boolean(rec.last());
    case ForloopMember::Length: return Value::integer(rec.length);
    case ForloopMember::Rindex: return Value::integer(rec.rindex());
    case ForloopMember::Rindex0: return Value::integer(rec.rindex0());
    case ForloopMember::Name: return Value::string(rec.name);
    case ForloopMember::Parentloop: return k > 0 ? forloopObject(k - 1) : Value::nil();
    case ForloopMember::None: return std::nullopt;  // look it up on the real object
  }
  // Not reached: the switch names every value, but GCC wants a return here.
  return std::nullopt;
}

Value Loops::tablerowloopObject() {
  if (tablerows_.empty()) return Value();
  TablerowInfo& t = tablerows_.back();
  if (t.object.is(Kind::Object)) return t.object;
  const Value values[] = {Value::integer(t.col),    Value::integer(t.col0),   Value::boolean(t.colFirst),
                          Value::boolean(t.colLast), Value::integer(t.row),   Value::integer(t.index),
                          Value::integer(t.index0),  Value::boolean(t.first), Value::boolean(t.last),
                          Value::integer(t.length),  Value::integer(t.rindex), Value::integer(t.rindex0)};
  t.object = Value::object(ObjectMap::make(arena_, kTablerowloopShape, values));
  objectBuilt_ = true;
  return t.object;
}

Loops::Stop& Loops::stopOf(std::string_view key) {
  auto it = stops_.find(key);
  if (it == stops_.end()) {
    Stop* stop = arena_.make<Stop>(Stop{arena_.copy(key), 0});
    it = stops_.emplace(stop->key, stop).first;
  }
  return *it->second;
}

}  // namespace mervalt

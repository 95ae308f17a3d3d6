// property_filters.cpp: where, reject, find, find_index, has, map and sum,
// the filters that look into the elements of a collection by a property.
//
// Each filter has its own rules for non-object and nil elements and for a
// missing or nil second argument; they are kept separate on purpose.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "filters/dispatch.h"
#include "filters/filters.h"

namespace mervalt {
namespace {

using ValueList = std::pmr::vector<Value>;

Value emptyArray() { return Value::array({}); }

Value singleton(Renderer& r, const Value& v) {
  Value* one = r.scratch().allocArray<Value>(1);
  one[0] = v;
  return Value::array({one, 1});
}

Value finishList(Renderer& r, const ValueList& list) {
  return Value::array(r.scratch().copyArray<Value>(std::span<const Value>(list)));
}

// Byte substring test in linear time; an empty needle occurs everywhere.
bool containsText(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return true;
  if (hay.size() < needle.size()) return false;  // also keeps a null empty text from memmem
  return memmem(hay.data(), hay.size(), needle.data(), needle.size()) != nullptr;
}

// A display text made for matching only: without memory for it, no match.
std::optional<std::string_view> tryDisplay(Renderer& r, const Value& v) {
  try {
    return r.display(v);
  } catch (const LimitExceeded&) {
    throw;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

bool textContains(Renderer& r, const Value& v, std::string_view p) {
  std::optional<std::string_view> t = tryDisplay(r, v);
  return t && containsText(*t, p);
}

bool textEquals(Renderer& r, const Value& v, std::string_view p) {
  std::optional<std::string_view> t = tryDisplay(r, v);
  return t && *t == p;
}

std::optional<Value> optionalArg(Renderer& r, Args args, std::size_t i) {
  if (!hasArg(args, i)) return std::nullopt;
  return evalArg(r, args, i);
}

// The test of where and reject: truthiness when the target is absent or nil,
// else equality with the target.
struct Test {
  std::optional<Value> target;
  bool passes(const Value& v) const {
    if (!target || target->isNil()) return isTruthy(v);
    return eql(v, *target);
  }
};

// Depth-first walk of reject over an array, flattening nested arrays. A nil
// element at any depth stops the walk; the answer is then false.
bool rejectWalk(Renderer& r, ValueList& out, std::span<const Value> items, PropertyName& p,
                const Test& test) {
  for (const Value& e : items) {
    switch (e.kind()) {
      case Kind::Nil: return false;
      case Kind::String:
        if (!containsText(e.str(), p.name)) out.push_back(e);
        break;
      case Kind::Array:
        if (!rejectWalk(r, out, e.items(), p, test)) return false;
        break;
      case Kind::Object:
        if (!test.passes(p.of(e))) out.push_back(e);
        break;
      case Kind::Boolean:
      case Kind::Integer:
      case Kind::Float:
      case Kind::Empty:
      case Kind::Blank:
      case Kind::Range:
      case Kind::Error:
      case Kind::BooleanDrop:
        if (!containsText(r.display(e), p.name)) out.push_back(e);
        break;
    }
  }
  return true;
}

// Every entry of an object as a [key, value] pair, in insertion order.
Value entryPairs(Renderer& r, const ObjectMap& m) {
  std::size_t n = m.size();
  Value* pairs = r.scratch().allocArray<Value>(n);
  Value* cells = r.scratch().allocArray<Value>(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    cells[2 * i] = Value::string(m.keyAt(i));
    cells[2 * i + 1] = m.valueAt(i);
    pairs[i] = Value::array({cells + 2 * i, 2});
  }
  return Value::array({pairs, n});
}

// Position of the first element whose display text contains p; a nil
// element ends the search without a match.
std::optional<std::size_t> findByText(Renderer& r, std::span<const Value> items,
                                      std::string_view p) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].isNil()) return std::nullopt;
    if (textContains(r, items[i], p)) return i;
  }
  return std::nullopt;
}

// Position of the first object element whose key p holds a value equal to
// the target; a nil element ends the search without a match.
std::optional<std::size_t> findByTarget(std::span<const Value> items, std::string_view p,
                                        const Value& target) {
  PropertyName property(p);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Value& e = items[i];
    if (e.isNil()) return std::nullopt;
    if (!e.is(Kind::Object)) continue;
    const Value* v = property.in(e.map());
    if (v != nullptr && eql(*v, target)) return i;
  }
  return std::nullopt;
}

bool anyNil(std::span<const Value> items) {
  for (const Value& e : items) {
    if (e.isNil()) return true;
  }
  return false;
}

// has over an array whose elements are all non-nil, with a string property.
bool arrayHas(Renderer& r, std::span<const Value> items, std::string_view k,
              const std::optional<Value>& target) {
  bool sawObject = false;
  PropertyName property(k);
  for (const Value& e : items) {
    if (!e.is(Kind::Object)) continue;
    sawObject = true;
    const Value* v = property.in(e.map());
    if (v == nullptr) continue;
    if (!target) {
      if (isTruthy(*v)) return true;
    } else if (target->isNil() ? !v->isNil() : eql(*v, *target)) {
      return true;
    }
  }
  if (sawObject || target) return false;
  for (const Value& e : items) {
    if (textContains(r, e, k)) return true;
  }
  return false;
}

void mapWalk(ValueList& out, std::span<const Value> items, PropertyName& p) {
  for (const Value& e : items) {
    if (e.is(Kind::Array)) {
      mapWalk(out, e.items(), p);
    } else {
      out.push_back(p.of(e));
    }
  }
}

struct Total {
  double sum = 0;
  bool sawFloat = false;
};

// Adds numbers and numeric strings at any depth; an object contributes the
// value of the property, added without a property.
void addUp(Total& t, const Value& v, std::optional<std::string_view> prop) {
  switch (v.kind()) {
    case Kind::Integer: t.sum += static_cast<double>(v.asInt()); return;
    case Kind::Float:
      t.sum += v.asFloat();
      t.sawFloat = true;
      return;
    case Kind::String:
      if (auto i = readWholeInteger(v.str())) {
        t.sum += static_cast<double>(*i);
      } else if (auto f = readWholeFloat(v.str())) {
        t.sum += *f;
        t.sawFloat = true;
      }
      return;
    case Kind::Array:
      for (const Value& e : v.items()) addUp(t, e, prop);
      return;
    case Kind::Object:
      if (prop) {
        if (auto x = get(v, *prop)) addUp(t, *x, std::nullopt);
      }
      return;
    case Kind::Nil:
    case Kind::Boolean:
    case Kind::Empty:
    case Kind::Blank:
    case Kind::Range:
    case Kind::Error:
    case Kind::BooleanDrop: return;
  }
}

int64_t toIntSaturating(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775808.0) return INT64_MAX;
  if (x <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(x);
}

}  // namespace

Value filterWhere(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  Value property = evalArg(r, args, 0);
  if (property.isNil()) return emptyArray();
  std::string_view p = r.display(property);
  if (p.empty()) return in;
  Test test{optionalArg(r, args, 1)};
  if (!in.is(Kind::Array)) return in;
  std::span<const Value> items = in.items();
  Value* out = items.empty() ? nullptr : r.scratch().allocArray<Value>(items.size());
  std::size_t kept = 0;
  PropertyName name(p);
  for (const Value& e : items) {
    if (test.passes(name.of(e))) out[kept++] = e;
  }
  return Value::array({out, kept});
}

Value filterReject(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  Value property = evalArg(r, args, 0);
  if (!property.is(Kind::String)) return emptyArray();
  std::string_view p = property.str();
  Test test{optionalArg(r, args, 1)};
  switch (in.kind()) {
    case Kind::Nil: return emptyArray();
    case Kind::String: return containsText(in.str(), p) ? emptyArray() : singleton(r, in);
    case Kind::Array: {
      ValueList out(r.scratch().resource());
      PropertyName property(p);
      if (!rejectWalk(r, out, in.items(), property, test)) return Value::nil();
      return finishList(r, out);
    }
    case Kind::Object: {
      const Value* v = in.map().get(p);
      if (v != nullptr && test.passes(*v)) return emptyArray();
      return entryPairs(r, in.map());
    }
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Float:
    case Kind::Empty:
    case Kind::Blank:
    case Kind::Range:
    case Kind::Error:
    case Kind::BooleanDrop: return in;
  }
  return in;
}

Value filterFind(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  std::string_view p = r.display(evalArg(r, args, 0));
  std::optional<Value> target = optionalArg(r, args, 1);
  if (in.is(Kind::String)) {
    if (!containsText(in.str(), p)) return Value::nil();
    return !target || textEquals(r, *target, p) ? in : Value::nil();
  }
  if (in.is(Kind::Array)) {
    std::span<const Value> items = in.items();
    auto at = target ? findByTarget(items, p, *target) : findByText(r, items, p);
    return at ? items[*at] : Value::nil();
  }
  if (in.is(Kind::Object)) {
    const Value* v = in.map().get(p);
    return v != nullptr && (!target || eql(*v, *target)) ? in : Value::nil();
  }
  return Value::nil();
}

Value filterFindIndex(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return Value::nil();
  std::string_view p = r.display(evalArg(r, args, 0));
  std::optional<Value> target = optionalArg(r, args, 1);
  if (in.is(Kind::String)) {
    if (!containsText(in.str(), p)) return Value::nil();
    bool match = !target || target->isNil() || textEquals(r, *target, p);
    return match ? Value::integer(0) : Value::nil();
  }
  if (in.is(Kind::Array)) {
    if (target && target->isNil()) return Value::nil();
    std::span<const Value> items = in.items();
    auto at = target ? findByTarget(items, p, *target) : findByText(r, items, p);
    return at ? Value::integer(static_cast<int64_t>(*at)) : Value::nil();
  }
  if (in.is(Kind::Object)) {
    const Value* v = in.map().get(p);
    if (v == nullptr) return Value::nil();
    if (!target) return Value::integer(0);
    if (target->isNil()) return Value::nil();
    return eql(*v, *target) ? Value::integer(0) : Value::nil();
  }
  return Value::nil();
}

Value filterHas(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return Value::boolean(false);
  Value k = evalArg(r, args, 0);
  std::optional<Value> target = optionalArg(r, args, 1);
  if (in.is(Kind::String))
    return Value::boolean(k.is(Kind::String) && containsText(in.str(), k.str()));
  if (in.is(Kind::Array)) {
    if (anyNil(in.items())) return Value::boolean(false);
    if (!k.is(Kind::String)) return Value::boolean(contains(in, k));
    return Value::boolean(arrayHas(r, in.items(), k.str(), target));
  }
  if (in.is(Kind::Object) && k.is(Kind::String)) {
    const Value* v = in.map().get(k.str());
    if (v == nullptr) return Value::boolean(false);
    if (!target) return Value::boolean(true);
    return Value::boolean(target->isNil() ? !v->isNil() : eql(*v, *target));
  }
  return Value::boolean(false);
}

Value filterMap(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  Value property = evalArg(r, args, 0);
  if (!property.is(Kind::String)) return emptyArray();
  std::string_view p = property.str();
  if (in.is(Kind::Array)) {
    ValueList out(r.scratch().resource());
    out.reserve(in.items().size());
    PropertyName property(p);
    mapWalk(out, in.items(), property);
    return finishList(r, out);
  }
  if (in.is(Kind::Object)) {
    const Value* v = in.map().get(p);
    return v != nullptr ? singleton(r, *v) : emptyArray();
  }
  return emptyArray();
}

Value filterSum(Renderer& r, const Value& in, Args args) {
  std::optional<std::string_view> prop;
  if (hasArg(args, 0)) {
    Value v = evalArg(r, args, 0);
    if (v.is(Kind::String)) prop = v.str();
  }
  Total t;
  addUp(t, in, prop);
  if (t.sawFloat) return Value::floating(t.sum);
  return Value::integer(toIntSaturating(t.sum));
}

}  // namespace mervalt

// array_filters.cpp: first, last, slice, split, join, concat, reverse and
// compact.
//
// Arrays are never changed in place: reordering and filtering copy element
// handles into new lists in the scratch arena, and first/last/slice hand back
// parts of their input.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "filters/dispatch.h"
#include "filters/filters.h"
#include "filters/lists.h"

namespace mervalt {
namespace {

using ValueList = std::pmr::vector<Value>;

Value emptyArray() { return Value::array({}); }

Value finishList(Renderer& r, const ValueList& list) {
  return Value::array(r.scratch().copyArray<Value>(std::span<const Value>(list)));
}

// Slice bounds: integers as they are, strings read whole, else `fallback`.
int64_t sliceNumber(const Value& v, int64_t fallback) {
  if (v.is(Kind::Integer)) return v.asInt();
  if (v.is(Kind::String)) return readWholeInteger(v.str()).value_or(fallback);
  return fallback;
}

// Byte search in linear time (memmem is a two-way search, unlike a naive
// find, which is quadratic on repetitive text).
std::size_t findBytes(std::string_view hay, std::size_t from, std::string_view needle) {
  if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
  if (from >= hay.size()) return std::string_view::npos;
  const void* p = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
  return p == nullptr ? std::string_view::npos
                      : static_cast<std::size_t>(static_cast<const char*>(p) - hay.data());
}

// Maximal runs of bytes that are not whitespace (space and bytes 9 to 13).
// The words of `s`, in one pass when they are few: their places wait in a
// small buffer until the list can be made at its exact size.
Value splitWords(Renderer& r, std::string_view s) {
  constexpr std::size_t kFew = 32;
  std::string_view few[kFew];
  std::size_t count = 0;
  const char* p = s.data();
  std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    while (i < n && isWordSpace(static_cast<unsigned char>(p[i]))) ++i;
    std::size_t start = i;
    while (i < n && !isWordSpace(static_cast<unsigned char>(p[i]))) ++i;
    if (i == start) break;
    if (count < kFew) few[count] = {p + start, i - start};
    ++count;
  }
  Kept out(r.scratch(), count);
  if (count <= kFew) {
    for (std::size_t k = 0; k < count; ++k) out.push(Value::string(few[k]));
    return out.finish();
  }
  for (std::size_t i = 0; i < n;) {
    while (i < n && isWordSpace(static_cast<unsigned char>(p[i]))) ++i;
    std::size_t start = i;
    while (i < n && !isWordSpace(static_cast<unsigned char>(p[i]))) ++i;
    if (i > start) out.push(Value::string({p + start, i - start}));
  }
  return out.finish();
}

Value splitBytes(Renderer& r, std::string_view s) {
  Kept out(r.scratch(), s.size());
  for (std::size_t i = 0; i < s.size(); ++i) out.push(Value::string(s.substr(i, 1)));
  return out.finish();
}

// Every piece between separators, empty pieces included.
Value splitOn(Renderer& r, std::string_view s, std::string_view sep) {
  std::size_t count = 1;
  for (std::size_t at = findBytes(s, 0, sep); at != std::string_view::npos;
       at = findBytes(s, at + sep.size(), sep)) {
    ++count;
  }
  Kept out(r.scratch(), count);
  std::size_t start = 0;
  for (std::size_t at = findBytes(s, 0, sep); at != std::string_view::npos;
       at = findBytes(s, start, sep)) {
    out.push(Value::string(s.substr(start, at - start)));
    start = at + sep.size();
  }
  out.push(Value::string(s.substr(start)));
  return out.finish();
}

// Adds every non-array, non-nil element at any depth. Depth follows the
// data's nesting, which the data reader bounds.
void flattenWithoutNil(ValueList& out, std::span<const Value> items) {
  for (const Value& e : items) {
    if (e.is(Kind::Array)) {
      flattenWithoutNil(out, e.items());
    } else if (!e.isNil()) {
      out.push_back(e);
    }
  }
}

}  // namespace

Value filterFirst(Renderer& r, const Value& in) {
  switch (in.kind()) {
    case Kind::String:
      return in.str().empty() ? Value::nil() : Value::string(in.str().substr(0, 1));
    case Kind::Array: return in.items().empty() ? Value::nil() : in.items().front();
    case Kind::Object: {
      if (in.map().empty()) return Value::nil();
      Value* pair = r.scratch().allocArray<Value>(2);
      pair[0] = Value::string(in.map().keyAt(0));
      pair[1] = in.map().valueAt(0);
      return Value::array({pair, 2});
    }
    case Kind::Nil:
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Float:
    case Kind::Empty:
    case Kind::Blank:
    case Kind::Range:
    case Kind::Error:
    case Kind::BooleanDrop: return Value::nil();
  }
  return Value::nil();
}

Value filterLast(Renderer&, const Value& in) {
  if (in.is(Kind::String)) {
    std::string_view s = in.str();
    return s.empty() ? Value::nil() : Value::string(s.substr(s.size() - 1));
  }
  if (in.is(Kind::Array)) return in.items().empty() ? Value::nil() : in.items().back();
  return Value::nil();
}

Value filterReverse(Renderer& r, const Value& in) {
  if (in.is(Kind::String)) {
    std::string_view s = in.str();
    if (s.empty()) return in;
    char* p = static_cast<char*>(r.scratch().allocate(s.size(), 1));
    std::reverse_copy(s.begin(), s.end(), p);
    return Value::string({p, s.size()});
  }
  if (in.is(Kind::Array)) {
    std::span<const Value> items = in.items();
    if (items.empty()) return in;
    Value* out = r.scratch().allocArray<Value>(items.size());
    std::reverse_copy(items.begin(), items.end(), out);
    return Value::array({out, items.size()});
  }
  return in;
}

Value filterSlice(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  int64_t start = sliceNumber(evalArg(r, args, 0), 0);
  bool isString = in.is(Kind::String);
  if (!isString && !in.is(Kind::Array)) return Value::string("");
  Value none = isString ? Value::string("") : emptyArray();
  auto size = static_cast<int64_t>(isString ? in.str().size() : in.items().size());
  if (start < 0) start = std::max<int64_t>(start + size, 0);
  if (start >= size) return none;
  int64_t length = hasArg(args, 1) ? sliceNumber(evalArg(r, args, 1), 1) : 1;
  if (length <= 0) return none;
  int64_t count = std::min(length, size - start);
  auto from = static_cast<std::size_t>(start);
  auto len = static_cast<std::size_t>(count);
  if (isString) return Value::string(in.str().substr(from, len));
  return Value::array(in.items().subspan(from, len));
}

Value filterSplit(Renderer& r, const Value& in, Args args) {
  std::string_view s = r.display(in);
  if (s.empty()) return emptyArray();
  if (!hasArg(args, 0)) return splitWords(r, s);
  Value sepValue = evalArg(r, args, 0);
  std::string_view sep = sepValue.isNil() ? std::string_view() : r.display(sepValue);
  if (sep.empty()) return splitBytes(r, s);
  if (sep == " ") return splitWords(r, s);
  if (s == sep) return emptyArray();
  return splitOn(r, s, sep);
}

namespace {

std::string_view joinSeparator(Renderer& r, Args args) {
  return hasArg(args, 0) ? r.display(evalArg(r, args, 0)) : std::string_view(" ");
}

// The elements' display texts with `sep` between them; empty arrays among
// them are left out.
template <class Sink>
void appendJoined(Sink& out, std::span<const Value> items, std::string_view sep) {
  bool first = true;
  for (const Value& e : items) {
    if (e.is(Kind::Array) && e.items().empty()) continue;
    if (!first) out.append(sep);
    first = false;
    if (e.is(Kind::String)) {
      out.append(e.str());
    } else {
      appendDisplay(out, e);
    }
  }
}

// Strings alone are joined at their exact size in one allocation; false for
// arrays holding anything else.
bool joinStrings(Renderer& r, std::span<const Value> items, std::string_view sep, Value& out) {
  std::size_t n = 0;
  for (const Value& e : items) {
    if (!e.is(Kind::String)) return false;
    n += e.str().size() + sep.size();
  }
  n = items.empty() ? 0 : n - sep.size();
  if (n == 0) {
    out = Value::string({});
    return true;
  }
  char* p = r.scratch().allocArray<char>(n);
  char* w = p;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) w = std::copy(sep.begin(), sep.end(), w);
    w = std::copy(items[i].str().begin(), items[i].str().end(), w);
  }
  out = Value::string({p, n});
  return true;
}

}  // namespace

Value filterJoin(Renderer& r, const Value& in, Args args) {
  std::string_view sep = joinSeparator(r, args);
  if (!in.is(Kind::Array)) return in;
  if (Value joined; joinStrings(r, in.items(), sep, joined)) return joined;
  std::pmr::string& out = newText(r.scratch());
  appendJoined(out, in.items(), sep);
  return Value::string(out);
}

void emitJoin(Renderer& r, const Value& in, Args args) {
  std::string_view sep = joinSeparator(r, args);
  if (in.is(Kind::Array)) {
    appendJoined(r.output(), in.items(), sep);
  } else {
    appendDisplay(r.output(), in);
  }
}

Value filterConcat(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  Value arg = evalArg(r, args, 0);
  ValueList out(r.scratch().resource());
  if (in.is(Kind::Array)) {
    flattenWithoutNil(out, in.items());
  } else if (!in.isNil()) {
    out.push_back(in);
  }
  if (arg.is(Kind::Array)) {
    out.insert(out.end(), arg.items().begin(), arg.items().end());
  } else if (!arg.isNil()) {
    out.push_back(arg);
  }
  return finishList(r, out);
}

Value filterCompact(Renderer& r, const Value& in, Args args) {
  std::optional<std::string_view> prop = propertyArg(r, args);
  if (in.isNil()) return emptyArray();
  if (!in.is(Kind::Array)) {
    Value* one = r.scratch().allocArray<Value>(1);
    one[0] = in;
    return Value::array({one, 1});
  }
  Kept out(r.scratch(), in.items().size());
  for (const Value& e : in.items()) {
    if (prop) {
      if (!e.is(Kind::Object)) continue;
      const Value* v = e.map().get(*prop);
      if (v != nullptr && !v->isNil()) out.push(e);
    } else if (!e.isNil()) {
      out.push(e);
    }
  }
  return out.finish();
}



}  // namespace mervalt

// dispatch.h: the filter table, the calling convention and shared coercions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "filters/filter_table.h"
#include "filters/filters.h"
#include "parse/node.h"
#include "render/renderer.h"
#include "data/value.h"

namespace mervalt {

// The handler and the emitter (null when there is none) of a filter number
// from the table (filter_table.h); null for kUnknownFilter.
FilterFn filterFunction(FilterId id);
EmitFn filterEmitter(FilterId id);

// Numeric view of a value: integers and floats as doubles, strings by their
// longest numeric prefix, everything else 0.
double textToNumber(const Value& v);
inline double toNumber(const Value& v) {
  if (v.is(Kind::Integer)) return static_cast<double>(v.asInt());
  if (v.is(Kind::Float)) return v.asFloat();
  return textToNumber(v);
}

// Optional sign and the digit run after it; 0 when there is none or it
// overflows. Leading spaces are not skipped.
int64_t laxParseInt(std::string_view s);

// Reads a whole text as a decimal floating-point number (optional sign,
// digits, fraction, exponent); nothing on any other text.
std::optional<double> readWholeFloat(std::string_view s);

// A property read from many values in turn, as the array filters do: objects
// of one shape find it where the previous one had it.
struct PropertyName {
  std::string_view name;
  LookupCache cache;

  explicit PropertyName(std::string_view n) : name(n) {}
  // The property of `v` as a variable path reads it (nil when absent).
  Value of(const Value& v) {
    if (v.is(Kind::Object))
      if (const Value* found = v.map().get(name, cache)) return *found;
    return get(v, name, cache).value_or(Value::nil());
  }
  const Value* in(const ObjectMap& m) { return m.get(name, cache); }
};

// Argument access for handlers: arguments are evaluated only on demand.
inline bool hasArg(std::span<const Node> args, std::size_t i) { return i < args.size(); }
inline Value evalArg(Renderer& r, std::span<const Node> args, std::size_t i) {
  return r.evaluate(args[i]);
}

}  // namespace mervalt

// json_input.cpp: reading the JSON document of a call into Values in the call arena.
#include "json_input.h"

#include <simdjson.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <memory_resource>
#include <system_error>
#include <vector>

#include "arena.h"

namespace mervalt {

namespace {

namespace od = simdjson::ondemand;

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A scalar token as the reader hands it over runs up to the next token, so it
// may carry the whitespace that follows it.
std::string_view trimTrailingSpace(std::string_view token) {
  std::size_t n = token.size();
  while (n > 0 && isJsonSpace(token[n - 1])) --n;
  return token.substr(0, n);
}

const char* skipDigits(const char* p, const char* end) {
  while (p != end && isDigit(*p)) ++p;
  return p;
}

// Whether a number that does not fit a double lies above its range (rather
// than below it): the decimal exponent of its first significant digit.
bool overflowsUp(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  if (*p == '-') ++p;
  int64_t magnitude = 0;  // decimal exponent of the first significant digit
  bool seen = false;
  for (; p != end && isDigit(*p); ++p) {
    if (*p != '0') seen = true;
    if (seen) ++magnitude;
  }
  if (p != end && *p == '.') {
    for (++p; p != end && isDigit(*p) && !seen; ++p) {
      if (*p != '0') seen = true;
      --magnitude;
    }
    p = skipDigits(p, end);
  }
  if (p == end) return magnitude > 0;
  ++p;  // 'e' or 'E'
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t exponent = 0;
  for (; p != end; ++p) {
    if (exponent < 100000000) exponent = exponent * 10 + (*p - '0');
  }
  return magnitude + (negative ? -exponent : exponent) > 0;
}

enum class NumberKind : uint8_t { Invalid, Integer, Float, OutOfRange };

// Reads one number token by the RFC 8259 grammar. Integers that fit 64 bits
// are integers; "-0" and every number with a fraction or exponent are floats;
// integers beyond 64 bits and floats beyond the double range are out of
// range. The result goes out through scalars rather than a Value, which lets
// the caller build its Value in registers.
NumberKind readNumber(std::string_view text, int64_t& integer, double& floating) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* p = begin;
  bool negative = p != end && *p == '-';
  if (negative) ++p;
  if (p == end || !isDigit(*p)) return NumberKind::Invalid;
  const char* intDigits = p;
  p = *p == '0' ? p + 1 : skipDigits(p, end);
  std::size_t intCount = static_cast<std::size_t>(p - intDigits);
  bool isFloat = false;
  if (p != end && *p == '.') {
    const char* digits = ++p;
    p = skipDigits(p, end);
    if (p == digits) return NumberKind::Invalid;
    isFloat = true;
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* digits = p;
    p = skipDigits(p, end);
    if (p == digits) return NumberKind::Invalid;
    isFloat = true;
  }
  if (p != end) return NumberKind::Invalid;
  if (!isFloat && negative && intCount == 1 && *intDigits == '0') {
    floating = -0.0;
    return NumberKind::Float;
  }
  if (!isFloat && intCount <= 18) {
    // Up to 18 digits cannot overflow; longer ones take the checked path.
    int64_t acc = 0;
    for (const char* q = intDigits; q != p; ++q) acc = acc * 10 + (*q - '0');
    integer = negative ? -acc : acc;
    return NumberKind::Integer;
  }
  if (!isFloat) {
    if (std::from_chars(begin, end, integer).ec == std::errc()) return NumberKind::Integer;
    return NumberKind::OutOfRange;
  }
  if (std::from_chars(begin, end, floating).ec == std::errc()) return NumberKind::Float;
  if (overflowsUp(text)) return NumberKind::OutOfRange;
  // Below the smallest subnormal: the correctly rounded value is a zero.
  floating = negative ? -0.0 : 0.0;
  return NumberKind::Float;
}

// The Value of a number token; false when the token is not a JSON number.
[[gnu::always_inline]] inline bool numberValue(std::string_view text, Value& out) {
  int64_t integer = 0;
  double floating = 0;
  switch (readNumber(text, integer, floating)) {
    case NumberKind::Invalid: return false;
    case NumberKind::Integer: out = Value::integer(integer); return true;
    case NumberKind::Float: out = Value::floating(floating); return true;
    case NumberKind::OutOfRange: out = Value::nil(); return true;
  }
  return false;
}

int64_t rangeBound(const Value& v) {
  if (v.is(Kind::Integer)) return v.asInt();
  if (v.is(Kind::Float)) return truncateToInt64(v.asFloat());
  return 0;
}

// An object with the reserved range key: the range of its "start" and "end",
// or nil when either is missing.
Value rangeFrom(const ObjectMap& m) {
  const Value* start = m.get("start");
  const Value* end = m.get("end");
  if (!start || !end) return Value::nil();
  return Value::range(rangeBound(*start), rangeBound(*end));
}

// An object with the reserved drop key: its "display" text and whether its
// "truthy" is exactly true, or nil when either is missing.
Value dropFrom(const ObjectMap& m) {
  const Value* truthy = m.get("truthy");
  const Value* display = m.get("display");
  if (!truthy || !display) return Value::nil();
  bool flag = truthy->is(Kind::Boolean) && truthy->asBool();
  return Value::drop(display->is(Kind::String) ? display->str() : std::string_view(), flag);
}

constexpr std::string_view kRangeKey = "_mervalt_range";
constexpr std::string_view kDropKey = "_mervalt_boolean_drop";

// Walks the reader's values depth first and builds Values in the arena.
// Open arrays and objects are frames on an explicit stack, so that no input
// deepens the thread's stack. Elements and entries of the open containers
// wait on two shared stacks until their container is complete and its exact
// size is known. Methods return false once the document proves unreadable.
class Converter {
 public:
  explicit Converter(Arena& arena)
      : arena_(arena), frames_(arena.resource()), values_(arena.resource()), keys_(arena.resource()) {
    frames_.reserve(16);
    values_.reserve(64);
    keys_.reserve(32);
  }

  // Reads the outermost array or object of `doc`.
  bool root(od::document& doc, od::json_type type, Value& out) {
    if (type == od::json_type::array) {
      od::array a;
      if (doc.get_array().get(a) != simdjson::SUCCESS || !openArray(a)) return false;
    } else {
      od::object o;
      if (doc.get_object().get(o) != simdjson::SUCCESS || !openObject(o)) return false;
    }
    if (!run()) return false;
    out = values_.back();
    return true;
  }

 private:
  struct Frame {
    od::array_iterator items;    // arrays
    od::object_iterator fields;  // objects
    std::size_t base;            // first element or key of this container on its stack
    bool isObject;
    bool started;   // a child has been visited; the next visit moves past it
    bool reserved;  // a key that makes the object a range or a drop was seen
  };

  bool run() {
    while (!frames_.empty()) {
      od::value child;
      bool more;
      if (!nextChild(frames_.back(), child, more)) return false;
      if (!more) {
        if (!close()) return false;
        continue;
      }
      od::json_type type;
      if (child.type().get(type) != simdjson::SUCCESS) return false;
      if (type == od::json_type::array || type == od::json_type::object) {
        if (!open(child, type)) return false;
        continue;
      }
      Value v;
      if (!scalar(child, type, v)) return false;
      values_.push_back(v);
    }
    return true;
  }

  bool open(od::value& v, od::json_type type) {
    if (frames_.size() >= static_cast<std::size_t>(kMaxJsonDepth)) return false;
    if (type == od::json_type::array) {
      od::array a;
      return v.get_array().get(a) == simdjson::SUCCESS && openArray(a);
    }
    od::object o;
    return v.get_object().get(o) == simdjson::SUCCESS && openObject(o);
  }

  bool openArray(od::array& a) {
    Frame f{};
    if (a.begin().get(f.items) != simdjson::SUCCESS) return false;
    f.base = values_.size();
    frames_.push_back(f);
    return true;
  }

  bool openObject(od::object& o) {
    Frame f{};
    if (o.begin().get(f.fields) != simdjson::SUCCESS) return false;
    f.base = keys_.size();
    f.isObject = true;
    frames_.push_back(f);
    return true;
  }

  // Moves to the next element or entry of `f`; for an entry, stacks its key.
  bool nextChild(Frame& f, od::value& child, bool& more) {
    if (f.isObject) {
      if (f.started) ++f.fields;
      f.started = true;
      more = f.fields != f.fields;  // "still open"; the argument is not used
      if (!more) return true;
      od::field field;
      std::string_view key;
      if ((*f.fields).get(field) != simdjson::SUCCESS) return false;
      if (field.unescaped_key().get(key) != simdjson::SUCCESS) return false;
      f.reserved = f.reserved || key == kRangeKey || key == kDropKey;
      keys_.push_back(arena_.copy(key));
      child = field.value();
      return true;
    }
    if (f.started) ++f.items;
    f.started = true;
    more = f.items != f.items;
    return !more || (*f.items).get(child) == simdjson::SUCCESS;
  }

  bool scalar(od::value& v, od::json_type type, Value& out) {
    switch (type) {
      case od::json_type::number: return numberValue(trimTrailingSpace(v.raw_json_token()), out);
      case od::json_type::string: {
        std::string_view s;
        if (v.get_string().get(s) != simdjson::SUCCESS) return false;
        out = Value::string(arena_.copy(s));
        return true;
      }
      case od::json_type::boolean: {
        bool b;
        if (v.get_bool().get(b) != simdjson::SUCCESS) return false;
        out = Value::boolean(b);
        return true;
      }
      case od::json_type::null: {
        bool isNull = false;
        out = Value::nil();
        return v.is_null().get(isNull) == simdjson::SUCCESS && isNull;
      }
      case od::json_type::array:
      case od::json_type::object: return false;
    }
    return false;
  }

  // Completes the innermost container and stacks its Value.
  bool close() {
    Frame f = frames_.back();
    frames_.pop_back();
    if (f.isObject) return closeObject(f);
    std::size_t n = values_.size() - f.base;
    std::span<const Value> items(values_.data() + f.base, n);
    Value array = Value::array(arena_.copyArray(items));
    values_.resize(f.base);
    values_.push_back(array);
    return true;
  }

  // Builds the map of the object's entries; a repeated key makes the
  // document unreadable.
  bool closeObject(const Frame& f) {
    std::size_t n = keys_.size() - f.base;
    std::size_t valueBase = values_.size() - n;
    ObjectMap* map = arena_.make<ObjectMap>(arena_.resource());
    map->reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (!map->putIfAbsent(keys_[f.base + i], values_[valueBase + i])) return false;
    }
    keys_.resize(f.base);
    values_.resize(valueBase);
    if (f.reserved && map->get(kRangeKey)) {
      values_.push_back(rangeFrom(*map));
    } else if (f.reserved && map->get(kDropKey)) {
      values_.push_back(dropFrom(*map));
    } else {
      values_.push_back(Value::object(map));
    }
    return true;
  }

  Arena& arena_;
  std::pmr::vector<Frame> frames_;
  std::pmr::vector<Value> values_;
  std::pmr::vector<std::string_view> keys_;
};

// A document that is a single scalar: its token must be the last one.
bool readRootScalar(od::document& doc, od::json_type type, std::string_view json,
                    Arena& arena, Value& out) {
  std::string_view token;
  if (doc.raw_json_token().get(token) != simdjson::SUCCESS) return false;
  if (token.data() + token.size() != json.data() + json.size()) return false;
  switch (type) {
    case od::json_type::number: return numberValue(trimTrailingSpace(token), out);
    case od::json_type::string: {
      std::string_view s;
      if (doc.get_string().get(s) != simdjson::SUCCESS) return false;
      out = Value::string(arena.copy(s));
      return true;
    }
    case od::json_type::boolean: {
      bool b;
      if (doc.get_bool().get(b) != simdjson::SUCCESS) return false;
      out = Value::boolean(b);
      return true;
    }
    case od::json_type::null: {
      bool isNull = false;
      return doc.is_null().get(isNull) == simdjson::SUCCESS && isNull;
    }
    case od::json_type::array:
    case od::json_type::object: return false;
  }
  return false;
}

bool readRoot(od::document& doc, std::string_view json, Arena& arena, Value& out) {
  od::json_type type;
  if (doc.type().get(type) != simdjson::SUCCESS) return false;
  if (type != od::json_type::array && type != od::json_type::object) {
    return readRootScalar(doc, type, json, arena, out);
  }
  Converter convert(arena);
  if (!convert.root(doc, type, out)) return false;
  // Anything after the outermost array or object is trailing content.
  const char* rest = nullptr;
  return doc.current_location().get(rest) == simdjson::OUT_OF_BOUNDS;
}

}  // namespace

Value readJsonDocument(std::string_view json, Arena& arena) {
  // The reader scans in blocks and needs readable padding past the text.
  simdjson::padded_string padded(json);
  if (padded.data() == nullptr) return Value::nil();
  od::parser parser;
  od::document doc;
  if (parser.iterate(padded).get(doc) != simdjson::SUCCESS) return Value::nil();
  Value out;
  if (!readRoot(doc, std::string_view(padded.data(), padded.size()), arena, out)) {
    return Value::nil();
  }
  return out;
}

}  // namespace mervalt

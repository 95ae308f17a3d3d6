// json_input.cpp: reading the JSON document of a call into Values in the call
// arena. simdjson's On-Demand parser finds the document's structure, checks
// its UTF-8 and its strings, and walks it; the walk checks the grammar and
// builds the Values. Each thread keeps one parser, whose buffers serve its
// next documents.
#include "data/json_input.h"

#include <simdjson.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <system_error>

#include "memory/arena.h"
#include "memory/thread_cache.h"

namespace mervalt {

namespace {

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

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
  const char* fraction = nullptr;
  if (p != end && *p == '.') {
    const char* digits = ++p;
    p = skipDigits(p, end);
    if (p == digits) return NumberKind::Invalid;
    isFloat = true;
    fraction = digits;
  }
  bool hasExponent = p != end && (*p == 'e' || *p == 'E');
  if (hasExponent) {
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
  if (!hasExponent && fraction != nullptr && (p - intDigits) - 1 <= 15) {
    // A decimal of at most 15 digits: its digits and the power of ten that
    // divides them are exact doubles, so one division rounds correctly.
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    int64_t digits = 0;
    for (const char* q = intDigits; q != p; ++q)
      if (*q != '.') digits = digits * 10 + (*q - '0');
    double value = static_cast<double>(digits) / kPowers[p - fraction];
    floating = negative ? -value : value;
    return NumberKind::Float;
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
Value rangeFrom(const ObjectMap& m, Arena& arena) {
  const Value* start = m.get("start");
  const Value* end = m.get("end");
  if (!start || !end) return Value::nil();
  return Value::range(arena, rangeBound(*start), rangeBound(*end));
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

// A stack in the arena that grows by doubling; what it gives up stays in the
// arena, at most as much again as it holds at its largest.
template <class T>
class ArenaStack {
 public:
  explicit ArenaStack(Arena& arena) : arena_(arena) {}
  std::size_t size() const { return size_; }
  T* at(std::size_t i) { return data_ + i; }
  void push(const T& v) {
    if (size_ == cap_) grow();
    data_[size_++] = v;
  }
  void resize(std::size_t n) { size_ = n; }

 private:
  void grow() {
    std::size_t cap = cap_ == 0 ? 64 : cap_ * 2;
    T* data = arena_.allocArray<T>(cap);
    if (size_ != 0) std::memcpy(static_cast<void*>(data), data_, size_ * sizeof(T));
    data_ = data;
    cap_ = cap;
  }

  Arena& arena_;
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t cap_ = 0;
};

namespace od = simdjson::ondemand;

// Builds Values by walking a document with the On-Demand parser. Arrays and
// objects recurse, at most kMaxJsonDepth deep; their elements and keys wait
// on two shared stacks until the container is complete and its size known.
// Strings without escapes are borrowed from the padded copy of the text,
// which lives as long as the call; the others are unescaped into the arena.
// A failure is the flag `failed_`, which keeps the walk free of error
// plumbing: every step after a failure is skipped.
class Builder {
 public:
  Builder(Arena& arena, std::string_view text) : arena_(arena), text_(text), values_(arena), keys_(arena) {}

  bool document(od::document& doc, Value& out) {
    od::json_type type;
    if (doc.type().get(type) != simdjson::SUCCESS) return false;
    if (type == od::json_type::array || type == od::json_type::object) {
      od::value root;
      if (doc.get_value().get(root) != simdjson::SUCCESS) return false;
      out = container(root, type == od::json_type::object, 1);
      // Nothing may follow the value.
      const char* rest = nullptr;
      return !failed_ && doc.current_location().get(rest) == simdjson::OUT_OF_BOUNDS;
    }
    std::string_view token;
    if (doc.raw_json_token().get(token) != simdjson::SUCCESS) return false;
    // A scalar document: its token must run to the end of the text.
    if (token.data() + token.size() != text_.data() + text_.size()) return false;
    out = type == od::json_type::string ? string(doc, token) : scalar(token);
    return !failed_;
  }

 private:
  static std::string_view trimmed(std::string_view t) {
    while (!t.empty() && isJsonSpace(t.back())) t.remove_suffix(1);
    return t;
  }

  Value fail() {
    failed_ = true;
    return Value();
  }

  // The ondemand values are used in place, never copied: a copy of one
  // reads back the fields just written, which stalls the processor. The
  // value's kind is its token's first byte; scalars are read from the token.
  Value value(od::value& v, std::string_view token, std::size_t depth) {
    switch (token[0]) {
      case '[': return container(v, false, depth + 1);
      case '{': return container(v, true, depth + 1);
      case '"': return string(v, token);
      default: return scalar(token);
    }
  }

  // Kept out of line: only containers recurse.
  [[gnu::noinline]] Value container(od::value& v, bool isObject, std::size_t depth) {
    return isObject ? object(v, depth) : array(v, depth);
  }

  Value scalar(std::string_view token) {
    std::string_view t = trimmed(token);
    switch (t[0]) {
      case 't': return t == "true" ? Value::boolean(true) : fail();
      case 'f': return t == "false" ? Value::boolean(false) : fail();
      case 'n': return t == "null" ? Value::nil() : fail();
      default: {
        Value out;
        return numberValue(t, out) ? out : fail();
      }
    }
  }

  // A string: borrowed when it has no escape, else unescaped (which also
  // checks the escapes).
  template <class Source>
  Value string(Source& v, std::string_view token) {
    std::string_view t = trimmed(token);
    if (t.size() < 2 || t.back() != '"') return fail();
    std::string_view body = t.substr(1, t.size() - 2);
    if (!hasEscape(body)) return Value::string(body);
    std::string_view s;
    if (v.get_string().get(s) != simdjson::SUCCESS) return fail();
    return Value::string(arena_.copy(s));
  }

  // Whether `body` holds a backslash. Strings come in text order, so one
  // search finds the next backslash for all the strings before it.
  bool hasEscape(std::string_view body) {
    std::size_t begin = static_cast<std::size_t>(body.data() - text_.data());
    if (nextEscape_ < begin) {
      const void* hit = std::memchr(body.data(), '\\', text_.size() - begin);
      nextEscape_ = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : text_.size();
    }
    return nextEscape_ < begin + body.size();
  }

  Value array(od::value& v, std::size_t depth) {
    if (depth > static_cast<std::size_t>(kMaxJsonDepth)) return fail();
    od::array a;
    if (v.get_array().get(a) != simdjson::SUCCESS) return fail();
    std::size_t base = values_.size();
    for (auto item : a) {
      if (item.error() != simdjson::SUCCESS) return fail();
      od::value&& element = std::move(item).value_unsafe();
      Value e = value(element, element.raw_json_token(), depth);
      if (failed_) return Value();
      values_.push(e);
    }
    std::span<const Value> items(values_.at(base), values_.size() - base);
    Value out = Value::array(arena_.copyArray(items));
    values_.resize(base);
    return out;
  }

  Value object(od::value& v, std::size_t depth) {
    if (depth > static_cast<std::size_t>(kMaxJsonDepth)) return fail();
    od::object o;
    if (v.get_object().get(o) != simdjson::SUCCESS) return fail();
    std::size_t valueBase = values_.size(), keyBase = keys_.size();
    for (auto entry : o) {
      if (entry.error() != simdjson::SUCCESS) return fail();
      od::field&& field = std::move(entry).value_unsafe();
      od::value& v = field.value();
      std::string_view token = v.raw_json_token();
      std::string_view k = key(field, token.data());
      if (failed_) return Value();
      keys_.push(k);
      Value e = value(v, token, depth);
      if (failed_) return Value();
      values_.push(e);
    }
    std::size_t n = values_.size() - valueBase;
    std::span<const Value> items(values_.at(valueBase), n);
    std::span<const std::string_view> keys(keys_.at(keyBase), n);
    Value out = close(keys, items, depth);
    values_.resize(valueBase);
    keys_.resize(keyBase);
    return out;
  }

  // A key: borrowed when it has no escape. Its closing quote is the last
  // one before the colon that precedes `value`, the first byte of the value.
  std::string_view key(od::field& field, const char* value) {
    const char* begin = field.key().raw();
    const char* end = value;
    do --end;
    while (end > begin && isJsonSpace(*end));  // the colon
    do --end;
    while (end > begin && isJsonSpace(*end));  // the closing quote
    std::string_view raw(begin, static_cast<std::size_t>(end - begin));
    if (!hasEscape(raw)) return raw;
    std::string_view k;
    if (field.unescaped_key().get(k) != simdjson::SUCCESS) return fail(), std::string_view();
    return arena_.copy(k);
  }

  // Completes an object; fails for one that repeats a key.
  Value close(std::span<const std::string_view> keys, std::span<const Value> items, std::size_t depth) {
    const Shape* shape = shapeOf(keys, depth);
    if (shape == nullptr) return fail();
    const ObjectMap* map = ObjectMap::make(arena_, *shape, items);
    if (shape->has(Shape::kRangeKey)) return rangeFrom(*map, arena_);
    if (shape->has(Shape::kDropKey)) return dropFrom(*map);
    return Value::object(map);
  }

  // The records of an array usually share their keys: the last two shapes
  // made at this depth are tried before a new one is made (and checked for
  // repeated keys).
  const Shape* shapeOf(std::span<const std::string_view> keys, std::size_t depth) {
    const Shape** recent = recentShapes_[depth - 1];
    for (int i = 0; i < 2; ++i) {
      if (recent[i] != nullptr && sameKeys(*recent[i], keys)) {
        if (i == 1) std::swap(recent[0], recent[1]);
        return recent[0];
      }
    }
    const Shape* shape = keys.empty() ? &kNoKeys : Shape::make(arena_, keys);
    if (shape != nullptr) {
      recent[1] = recent[0];
      recent[0] = shape;
    }
    return shape;
  }

  // Whether `shape` has exactly these keys. Every key of the document lies in
  // the padded text or in an arena block with the same padding after it, so
  // a short key is compared with two whole-word reads.
  static bool sameKeys(const Shape& shape, std::span<const std::string_view> keys) {
    if (shape.size() != keys.size()) return false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      std::string_view a = shape.key(i), b = keys[i];
      if (a.size() != b.size()) return false;
      if (a.size() > 16 || std::endian::native != std::endian::little) {
        if (a != b) return false;
        continue;
      }
      uint64_t wa[2], wb[2];
      std::memcpy(wa, a.data(), 16);
      std::memcpy(wb, b.data(), 16);
      std::size_t n = a.size();
      uint64_t lowMask = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
      uint64_t highMask = n <= 8 ? 0 : n == 16 ? ~uint64_t{0} : (uint64_t{1} << (8 * (n - 8))) - 1;
      if (((wa[0] ^ wb[0]) & lowMask) != 0 || ((wa[1] ^ wb[1]) & highMask) != 0) return false;
    }
    return true;
  }

  static constexpr Shape kNoKeys{nullptr, 0};

  Arena& arena_;
  std::string_view text_;
  ArenaStack<Value> values_;
  ArenaStack<std::string_view> keys_;
  std::size_t nextEscape_ = 0;  // the next backslash at or after the last string checked
  bool failed_ = false;
  const Shape* recentShapes_[kMaxJsonDepth][2] = {};
};

// Each thread keeps one parser: its buffers grow to the largest document it
// read and serve the next one without being allocated and faulted in again,
// as long as they fit the thread's share (kMaxThreadReaderBytes).
class ParserCache {
 public:
  // The thread's parser, taken out of the cache for one document (a new one
  // when none is kept).
  static std::unique_ptr<od::parser> take() {
    std::unique_ptr<od::parser>& kept = slot();
    return kept ? std::move(kept) : std::make_unique<od::parser>(SIZE_MAX);
  }
  // Keeps the parser for the next document when its buffers fit.
  static void give(std::unique_ptr<od::parser> parser) {
    std::size_t bytes = bytesOf(*parser);
    if (bytes > kMaxThreadReaderBytes) return;
    setReaderBytes(bytes);
    slot() = std::move(parser);
  }

 private:
  // simdjson keeps four bytes of structural index and five thirds of a byte
  // of string buffer for each byte of its capacity.
  static std::size_t bytesOf(const od::parser& p) { return p.capacity() * 4 + p.capacity() * 5 / 3; }
  static std::unique_ptr<od::parser>& slot() {
    thread_local std::unique_ptr<od::parser> kept;
    return kept;
  }
};

}  // namespace

static_assert(kJsonPadding == simdjson::SIMDJSON_PADDING);

Value readJsonDocument(std::string_view json, Arena& arena, bool padded, bool* readable) {
  if (readable) *readable = false;
  // The parser scans in blocks and needs readable padding past the text.
  const char* text = json.data();
  if (!padded) {
    char* copy = arena.allocArray<char>(json.size() + kJsonPadding);
    std::memcpy(copy, json.data(), json.size());
    std::memset(copy + json.size(), ' ', kJsonPadding);
    text = copy;
  }
  struct Lease {
    std::unique_ptr<od::parser> parser = ParserCache::take();
    ~Lease() { ParserCache::give(std::move(parser)); }
  } lease;
  od::document doc;
  auto error = lease.parser->iterate(text, json.size(), json.size() + kJsonPadding).get(doc);
  if (error == simdjson::MEMALLOC) throw std::bad_alloc();
  if (error != simdjson::SUCCESS) return Value::nil();
  Builder builder(arena, std::string_view(text, json.size()));
  Value out;
  if (!builder.document(doc, out)) return Value::nil();
  if (readable) *readable = true;
  return out;
}

}  // namespace mervalt

// json_input.cpp: reading the JSON document of a call into Values in the call
// arena. simdjson finds the document's structure and checks its UTF-8 and its
// strings; one pass over that structure checks the grammar and builds the
// Values.
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

// Builds Values from the structural index of a document in one forward pass.
// The index lists the position of every bracket, brace, colon and comma and
// the first byte of every string, number and literal; this pass checks the
// grammar between them and reads each scalar. Open arrays and objects are
// frames on an explicit stack, so no input deepens the thread's stack, and
// their elements and keys wait on two shared stacks until the container is
// complete and its size known. Strings without escapes are borrowed from the
// padded copy of the text, which lives as long as the call.
class Builder {
 public:
  Builder(Arena& arena, std::string_view text, std::span<const uint32_t> index,
          const simdjson::internal::dom_parser_implementation& reader)
      : arena_(arena), text_(text), index_(index), reader_(reader), values_(arena), keys_(arena) {}

  // The document's Value; false when the document proves unreadable.
  // Values and texts travel as return values (in registers) and a failure
  // as the flag `failed_`, which keeps the loop free of stores that later
  // loads would wait for.
  bool build(Value& out) {
    std::size_t pos = 0;
    for (;;) {
      bool opened = false;
      Value v = openOrRead(pos, opened);
      if (failed_) return false;
      if (opened) continue;  // its first element comes next
      // Attach the finished value; every closing bracket finishes another.
      for (;;) {
        if (depth_ == 0) {
          out = v;
          return pos == index_.size();
        }
        values_.push(v);
        if (pos == index_.size()) return false;
        char sep = charAt(pos++);
        Frame& f = frames_[depth_ - 1];
        if (sep == ',') {
          if (f.isObject && !readKey(pos)) return false;
          break;
        }
        if (sep != (f.isObject ? '}' : ']')) return false;
        v = close(f);
        if (failed_) return false;
        --depth_;
      }
    }
  }

 private:
  struct Frame {
    std::size_t valueBase;  // first element of this container on values_
    std::size_t keyBase;    // first key of this object on keys_
    bool isObject;
  };

  char charAt(std::size_t pos) const { return text_[index_[pos]]; }

  // The token at `pos` up to the next structural position, without the JSON
  // whitespace after it.
  std::string_view token(std::size_t pos) const {
    std::size_t begin = index_[pos];
    std::size_t end = pos + 1 < index_.size() ? index_[pos + 1] : text_.size();
    // Most tokens run right up to the next one; JSON whitespace is rarely
    // more than a space or a line break.
    while (end > begin && isJsonSpace(text_[end - 1])) --end;
    return {text_.data() + begin, end - begin};
  }

  Value fail() {
    failed_ = true;
    return Value();
  }

  // Reads the value at `pos`, or opens the container there (sets `opened`;
  // an empty container is read whole).
  Value openOrRead(std::size_t& pos, bool& opened) {
    if (pos == index_.size()) return fail();
    char c = charAt(pos);
    if (c != '[' && c != '{') return scalar(pos++);
    if (depth_ == static_cast<std::size_t>(kMaxJsonDepth)) return fail();
    ++pos;
    if (pos == index_.size()) return fail();
    bool isObject = c == '{';
    if (charAt(pos) == (isObject ? '}' : ']')) {
      ++pos;
      return isObject ? Value::object(ObjectMap::make(arena_, kNoKeys, {})) : Value::array({});
    }
    frames_[depth_++] = Frame{values_.size(), keys_.size(), isObject};
    opened = true;
    if (isObject && !readKey(pos)) return fail();
    return Value();
  }

  // A key and its colon; `pos` moves to the value.
  bool readKey(std::size_t& pos) {
    if (pos + 1 >= index_.size() || charAt(pos) != '"' || charAt(pos + 1) != ':') return false;
    std::string_view key = string(pos);
    if (key.data() == nullptr) return false;
    keys_.push(key);
    pos += 2;
    return true;
  }

  Value scalar(std::size_t pos) {
    std::string_view t = token(pos);
    switch (t[0]) {
      case '"': {
        std::string_view s = string(pos);
        return s.data() ? Value::string(s) : fail();
      }
      case 't': return t == "true" ? Value::boolean(true) : fail();
      case 'f': return t == "false" ? Value::boolean(false) : fail();
      case 'n': return t == "null" ? Value::nil() : fail();
      default: {
        Value v;
        return numberValue(t, v) ? v : fail();
      }
    }
  }

  // The string whose opening quote is at `pos`: borrowed from the text when
  // it has no escapes (the reader has checked its bytes already), else
  // unescaped into the arena, which also checks the escapes. A null view
  // when it does not read.
  [[gnu::always_inline]] std::string_view string(std::size_t pos) {
    std::string_view t = token(pos);
    if (t.size() < 2 || t.back() != '"') return {};
    std::string_view body = t.substr(1, t.size() - 2);
    if (!hasEscape(body)) return body;
    return unescape(body);
  }

  [[gnu::noinline]] std::string_view unescape(std::string_view body) {
    auto* dst = arena_.allocArray<uint8_t>(body.size() + simdjson::SIMDJSON_PADDING);
    uint8_t* end = reader_.parse_string(reinterpret_cast<const uint8_t*>(body.data()), dst);
    if (end == nullptr) return {};
    return {reinterpret_cast<const char*>(dst), static_cast<std::size_t>(end - dst)};
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

  // Completes the innermost container; fails for an object that repeats a
  // key.
  Value close(const Frame& f) {
    std::size_t n = values_.size() - f.valueBase;
    std::span<const Value> items(values_.at(f.valueBase), n);
    values_.resize(f.valueBase);
    if (!f.isObject) return Value::array(arena_.copyArray(items));
    std::span<const std::string_view> keys(keys_.at(f.keyBase), n);
    keys_.resize(f.keyBase);
    const Shape* shape = shapeOf(keys);
    if (shape == nullptr) return fail();
    const ObjectMap* map = ObjectMap::make(arena_, *shape, items);
    if (shape->has(Shape::kRangeKey)) return rangeFrom(*map, arena_);
    if (shape->has(Shape::kDropKey)) return dropFrom(*map);
    return Value::object(map);
  }

  // The records of an array usually share their keys: the last two shapes
  // made at this depth are tried before a new one is made (and checked for
  // repeated keys).
  const Shape* shapeOf(std::span<const std::string_view> keys) {
    const Shape** recent = recentShapes_[depth_ - 1];
    for (int i = 0; i < 2; ++i) {
      if (recent[i] != nullptr && sameKeys(*recent[i], keys)) {
        if (i == 1) std::swap(recent[0], recent[1]);
        return recent[0];
      }
    }
    const Shape* shape = Shape::make(arena_, keys);
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
  std::span<const uint32_t> index_;
  const simdjson::internal::dom_parser_implementation& reader_;
  ArenaStack<Value> values_;
  ArenaStack<std::string_view> keys_;
  std::size_t depth_ = 0;
  std::size_t nextEscape_ = 0;  // the next backslash at or after the last string checked
  bool failed_ = false;
  Frame frames_[kMaxJsonDepth];
  const Shape* recentShapes_[kMaxJsonDepth][2] = {};
};

}  // namespace

static_assert(kJsonPadding == simdjson::SIMDJSON_PADDING);

Value readJsonDocument(std::string_view json, Arena& arena, bool padded, bool* readable) {
  if (readable) *readable = false;
  // The reader scans in blocks and needs readable padding past the text.
  const char* text = json.data();
  if (!padded) {
    char* copy = arena.allocArray<char>(json.size() + kJsonPadding);
    std::memcpy(copy, json.data(), json.size());
    std::memset(copy + json.size(), ' ', kJsonPadding);
    text = copy;
  }

  std::unique_ptr<simdjson::internal::dom_parser_implementation> reader;
  auto error = simdjson::get_active_implementation()->create_dom_parser_implementation(
      json.size(), kMaxJsonDepth, reader);
  if (error == simdjson::MEMALLOC) throw std::bad_alloc();
  if (error != simdjson::SUCCESS) return Value::nil();
  if (reader->stage1(reinterpret_cast<const uint8_t*>(text), json.size(), simdjson::stage1_mode::regular) !=
      simdjson::SUCCESS)
    return Value::nil();
  std::span<const uint32_t> index(reader->structural_indexes.get(), reader->n_structural_indexes);
  Builder builder(arena, std::string_view(text, json.size()), index, *reader);
  Value out;
  if (!builder.build(out)) return Value::nil();
  if (readable) *readable = true;
  return out;
}

}  // namespace mervalt

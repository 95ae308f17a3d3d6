// value.h: the dynamic Value of the engine, its object map and its operations.
#pragma once

#include <cstddef>
#include <cmath>
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace mervalt {

class Arena;
class ObjectMap;

// Kinds in their fixed tag order; the order shows through comparison error
// messages (kindName) and kind-dependent behaviour elsewhere.
enum class Kind : uint8_t {
  Nil,
  Boolean,
  Integer,
  Float,
  String,
  Array,
  Object,
  Empty,
  Blank,
  Range,
  Error,
  BooleanDrop,
};

// A tagged union, copied by value. Strings, element lists and maps are
// borrowed handles into an arena; copies share them and nothing is ever
// modified in place after construction (except maps while being built).
class Value {
 public:
  Value() : kind_(Kind::Nil), flag_(false) { u_.i = 0; }

  static Value nil() { return Value(); }
  static Value boolean(bool b) { Value v(Kind::Boolean); v.flag_ = b; return v; }
  static Value integer(int64_t i) { Value v(Kind::Integer); v.u_.i = i; return v; }
  static Value floating(double d) { Value v(Kind::Float); v.u_.f = d; return v; }
  static Value string(std::string_view s) { return bytes(Kind::String, s); }
  static Value error(std::string_view message) { return bytes(Kind::Error, message); }
  static Value drop(std::string_view display, bool truthy) {
    Value v = bytes(Kind::BooleanDrop, display);
    v.flag_ = truthy;
    return v;
  }
  static Value array(std::span<const Value> items) {
    Value v(Kind::Array);
    v.u_.a = {items.data(), items.size()};
    return v;
  }
  static Value object(ObjectMap* map) { Value v(Kind::Object); v.u_.o = map; return v; }
  static Value empty() { return Value(Kind::Empty); }
  static Value blank() { return Value(Kind::Blank); }
  static Value range(int64_t start, int64_t end) {
    Value v(Kind::Range);
    v.u_.r = {start, end};
    return v;
  }

  Kind kind() const { return kind_; }
  bool is(Kind k) const { return kind_ == k; }
  bool isNil() const { return kind_ == Kind::Nil; }
  bool isNumber() const { return kind_ == Kind::Integer || kind_ == Kind::Float; }

  bool asBool() const { return flag_; }           // Boolean value, BooleanDrop truthy flag
  int64_t asInt() const { return u_.i; }          // Integer
  double asFloat() const { return u_.f; }         // Float
  std::string_view str() const { return {u_.s.ptr, u_.s.len}; }  // String, Error, BooleanDrop text
  std::span<const Value> items() const { return {u_.a.ptr, u_.a.len}; }  // Array
  ObjectMap& map() const { return *u_.o; }        // Object
  int64_t rangeStart() const { return u_.r.start; }
  int64_t rangeEnd() const { return u_.r.end; }

 private:
  explicit Value(Kind k) : kind_(k), flag_(false) { u_.r = {0, 0}; }
  static Value bytes(Kind k, std::string_view s) {
    Value v(k);
    v.u_.s = {s.data(), s.size()};
    return v;
  }

  Kind kind_;
  bool flag_;
  union {
    int64_t i;
    double f;
    struct { const char* ptr; std::size_t len; } s;
    struct { const Value* ptr; std::size_t len; } a;
    ObjectMap* o;
    struct { int64_t start, end; } r;
  } u_;
};

// Insertion-ordered map from byte-string keys to Values. Keys are borrowed:
// whoever builds the map keeps their bytes alive as long as the map. Small
// maps are searched linearly by hash; larger ones build an index.
class ObjectMap {
 public:
  explicit ObjectMap(std::pmr::memory_resource* mr) : entries_(mr), index_(mr) {}

  // Replaces the value of an existing key in place (keeping its position and
  // its first key bytes); appends a new key at the end.
  void put(std::string_view key, const Value& value);
  // Appends a new key and returns true; leaves the map unchanged and returns
  // false when the key is already present.
  bool putIfAbsent(std::string_view key, const Value& value);
  // Makes room for `n` entries in all, so that filling a map of known size
  // grows its storage once.
  void reserve(std::size_t n);
  const Value* get(std::string_view key) const;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  std::string_view keyAt(std::size_t i) const { return entries_[i].key; }
  const Value& valueAt(std::size_t i) const { return entries_[i].value; }

 private:
  struct Entry {
    std::string_view key;
    Value value;
    uint32_t hash;
  };
  std::ptrdiff_t find(std::string_view key, uint32_t hash) const;
  void append(std::string_view key, const Value& value, uint32_t hash);
  void rebuildIndex();

  std::pmr::vector<Entry> entries_;
  std::pmr::vector<uint32_t> index_;  // open addressing: entry position + 1, 0 = free
};

// The kind words used in comparison error messages ("NilClass", "Hash", ...).
std::string_view kindName(Kind k);

bool isTruthy(const Value& v);
// Blank: nil, empty, blank, strings of only space/tab/LF/CR, empty arrays and objects.
bool isBlank(const Value& v);
bool eql(const Value& a, const Value& b);
bool contains(const Value& container, const Value& needle);
// Named property access: object keys, then size/first/last and array indexes.
std::optional<Value> get(const Value& v, std::string_view name);
std::optional<Value> getIndex(const Value& v, int64_t index);

// Trim whitespace (space, tab, line feed, carriage return).
inline bool isTrimSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
// Word separators: space and the bytes 9 to 13.
inline bool isWordSpace(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

// Truncates toward zero, saturating at the 64-bit limits; NaN gives 0.
inline int64_t truncateToInt64(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return INT64_MAX;
  if (d <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(d);
}

// Reads a whole text as a signed 64-bit decimal integer: optional sign, digits,
// single underscores between digits. Anything else, or overflow, gives nothing.
std::optional<int64_t> readWholeInteger(std::string_view s);

}  // namespace mervalt

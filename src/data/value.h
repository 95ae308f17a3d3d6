// value.h: the dynamic Value of the engine, its object map and its operations.
#pragma once

#include <cstddef>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "memory/arena.h"

namespace mervalt {

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

// The bounds of a range Value, kept out of line so that a Value stays two
// words long.
struct RangeBounds {
  int64_t start, end;
};

// A tagged union of two words, copied by value. Strings, element lists, maps
// and range bounds are borrowed handles into an arena (or the template
// text); copies share them and nothing is modified after construction.
// Lengths are 32-bit: a call never holds 4 GiB (kMaxCallMemory), and a
// longer text from the caller fails the call (std::bad_alloc).
class Value {
 public:
  Value() : head_(head(Kind::Nil)) { u_.i = 0; }

  static Value nil() { return Value(); }
  static Value boolean(bool b) { return Value(head(Kind::Boolean, b), 0); }
  static Value integer(int64_t i) { return Value(head(Kind::Integer), i); }
  static Value floating(double d) {
    Value v(head(Kind::Float), 0);
    v.u_.f = d;
    return v;
  }
  static Value string(std::string_view s) { return bytes(Kind::String, s); }
  static Value error(std::string_view message) { return bytes(Kind::Error, message); }
  static Value drop(std::string_view display, bool truthy) { return bytes(Kind::BooleanDrop, display, truthy); }
  static Value array(std::span<const Value> items) {
    Value v(head(Kind::Array, false, checkedLength(items.size())), 0);
    v.u_.a = items.data();
    return v;
  }
  static Value object(const ObjectMap* map) {
    Value v(head(Kind::Object), 0);
    v.u_.o = map;
    return v;
  }
  static Value empty() { return Value(head(Kind::Empty), 0); }
  static Value blank() { return Value(head(Kind::Blank), 0); }
  // A range whose bounds live in `arena`.
  static Value range(Arena& arena, int64_t start, int64_t end);

  Kind kind() const { return static_cast<Kind>(head_ & 0xff); }
  bool is(Kind k) const { return kind() == k; }
  bool isNil() const { return kind() == Kind::Nil; }
  bool isNumber() const { return kind() == Kind::Integer || kind() == Kind::Float; }

  bool asBool() const { return (head_ >> 8) & 1; }  // Boolean value, BooleanDrop truthy flag
  int64_t asInt() const { return u_.i; }            // Integer
  double asFloat() const { return u_.f; }           // Float
  std::string_view str() const { return {u_.s, length()}; }       // String, Error, BooleanDrop text
  std::span<const Value> items() const { return {u_.a, length()}; }  // Array
  const ObjectMap& map() const { return *u_.o; }    // Object
  int64_t rangeStart() const { return u_.r->start; }
  int64_t rangeEnd() const { return u_.r->end; }

 private:
  Value(uint64_t h, int64_t payload) : head_(h) { u_.i = payload; }
  // The kind, the flag and the length share one word, written whole: a
  // Value built in pieces would make the next read of it wait.
  static constexpr uint64_t head(Kind k, bool flag = false, uint32_t length = 0) {
    return static_cast<uint64_t>(k) | static_cast<uint64_t>(flag) << 8 | static_cast<uint64_t>(length) << 32;
  }
  std::size_t length() const { return static_cast<std::size_t>(head_ >> 32); }
  static uint32_t checkedLength(std::size_t n) {
    if (n > UINT32_MAX) throw std::bad_alloc();
    return static_cast<uint32_t>(n);
  }
  static Value bytes(Kind k, std::string_view s, bool flag = false) {
    Value v(head(k, flag, checkedLength(s.size())), 0);
    v.u_.s = s.data();
    return v;
  }

  uint64_t head_;  // kind (bits 0-7), flag (bit 8), String/Error/BooleanDrop bytes or Array elements (bits 32-63)
  union {
    int64_t i;
    double f;
    const char* s;
    const Value* a;
    const ObjectMap* o;
    const RangeBounds* r;
  } u_;
};
static_assert(sizeof(Value) == 16);

// The keys of an object, in order. Objects with the same keys in the same
// order (the records of a JSON array, the loop objects) share one Shape, so
// a lookup can remember where it found a name and skip the search next time.
// Keys are borrowed: whoever builds the shape keeps their bytes alive.
class Shape {
 public:
  // Which reserved keys the shape holds; display and the JSON reader only
  // look further when one is set.
  enum Flag : uint8_t {
    kRangeKey = 1,    // _mervalt_range
    kDropKey = 2,     // _mervalt_boolean_drop
    kReservedKey = 4  // any key starting with "_mervalt_"
  };

  // A shape over `n` keys that are known to be distinct and few (at most
  // kLinearLimit); usable in constant expressions for fixed shapes.
  constexpr Shape(const std::string_view* keys, uint32_t n) : keys_(keys), size_(n) {}

  // A shape of `keys` (copied into `arena`), or null when a key repeats.
  static const Shape* make(Arena& arena, std::span<const std::string_view> keys);

  std::size_t size() const { return size_; }
  std::string_view key(std::size_t i) const { return keys_[i]; }
  bool sameKeys(std::span<const std::string_view> keys) const;
  bool has(Flag f) const { return (flags_ & f) != 0; }
  // The position of `key`, or -1.
  int32_t find(std::string_view key) const;

  // Shapes up to this size are searched linearly; larger ones keep a hash
  // index built with the shape.
  static constexpr std::size_t kLinearLimit = 16;

 private:
  const std::string_view* keys_;
  uint32_t size_;
  uint32_t mask_ = 0;
  const uint32_t* index_ = nullptr;  // open addressing: position + 1, 0 = free
  uint8_t flags_ = 0;
};

// Where a lookup of one name found it last time: the shape and the position.
// A syntax tree node keeps one for the name it reads.
struct LookupCache {
  const Shape* shape = nullptr;
  int32_t position = -1;
};

// An object: a shape and one value per key, in the shape's order.
class ObjectMap {
 public:
  ObjectMap(const Shape* shape, const Value* values) : shape_(shape), values_(values) {}

  // An object of `shape` with a copy of `values` (one per key) in `arena`,
  // the values right after the map in one allocation.
  static const ObjectMap* make(Arena& arena, const Shape& shape, std::span<const Value> values) {
    void* mem = arena.allocate(sizeof(ObjectMap) + values.size() * sizeof(Value), alignof(Value));
    auto* copy = reinterpret_cast<Value*>(static_cast<char*>(mem) + sizeof(ObjectMap));
    if (!values.empty()) std::memcpy(static_cast<void*>(copy), values.data(), values.size() * sizeof(Value));
    return new (mem) ObjectMap(&shape, copy);
  }
  // An object of the given entries, or null when a key repeats.
  static const ObjectMap* fromEntries(Arena& arena, std::span<const std::string_view> keys,
                                      std::span<const Value> values);

  std::size_t size() const { return shape_->size(); }
  bool empty() const { return shape_->size() == 0; }
  const Shape& shape() const { return *shape_; }
  std::string_view keyAt(std::size_t i) const { return shape_->key(i); }
  const Value& valueAt(std::size_t i) const { return values_[i]; }

  const Value* get(std::string_view key) const {
    int32_t at = shape_->find(key);
    return at < 0 ? nullptr : &values_[at];
  }
  // The same, remembering the position in `cache` for the next object of
  // the same shape.
  const Value* get(std::string_view key, LookupCache& cache) const {
    if (shape_ != cache.shape) {
      cache.shape = shape_;
      cache.position = shape_->find(key);
    }
    return cache.position < 0 ? nullptr : &values_[cache.position];
  }

 private:
  const Shape* shape_;
  const Value* values_;
};

// A fast hash of a text, eight bytes at a time; only its spread matters (the
// tables that use it compare the texts themselves).
uint64_t hashText(std::string_view s);

// The kind words used in comparison error messages ("NilClass", "Hash", ...).
std::string_view kindName(Kind k);

// Only nil and false are false (and a drop that says so).
inline bool isTruthy(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil: return false;
    case Kind::Boolean:
    case Kind::BooleanDrop: return v.asBool();
    default: return true;
  }
}
// Blank: nil, empty, blank, strings of only space/tab/LF/CR, empty arrays and objects.
bool isBlank(const Value& v);
bool eql(const Value& a, const Value& b);
bool contains(const Value& container, const Value& needle);
// Named property access: object keys, then size/first/last and array indexes.
std::optional<Value> get(const Value& v, std::string_view name);
// The same, with a lookup cache for object keys.
std::optional<Value> get(const Value& v, std::string_view name, LookupCache& cache);
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

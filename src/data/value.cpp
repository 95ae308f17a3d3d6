// value.cpp: the object map and the operations shared by every kind of Value.
#include "data/value.h"

#include "memory/arena.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <new>

namespace mervalt {

namespace {

constexpr std::size_t kMinIndexSlots = 32;

// Nil, or a string, array or object of length zero: what `empty` equals.
bool isEmptyLike(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil: return true;
    case Kind::String: return v.str().empty();
    case Kind::Array: return v.items().empty();
    case Kind::Object: return v.map().empty();
    default: return false;
  }
}

bool isSpaceOnly(std::string_view s) {
  for (unsigned char c : s) {
    if (!isTrimSpace(c)) return false;
  }
  return true;
}

bool sameArrays(std::span<const Value> a, std::span<const Value> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!eql(a[i], b[i])) return false;
  }
  return true;
}

// Rules 5 and on: both operands are neither `empty` nor `blank`.
bool eqlPlain(const Value& a, const Value& b) {
  switch (a.kind()) {
    case Kind::Nil: return b.isNil();
    case Kind::Boolean: return b.is(Kind::Boolean) && a.asBool() == b.asBool();
    case Kind::Integer:
      if (b.is(Kind::Integer)) return a.asInt() == b.asInt();
      return b.is(Kind::Float) && static_cast<double>(a.asInt()) == b.asFloat();
    case Kind::Float:
      if (b.is(Kind::Float)) return a.asFloat() == b.asFloat();
      return b.is(Kind::Integer) && a.asFloat() == static_cast<double>(b.asInt());
    case Kind::String: return b.is(Kind::String) && a.str() == b.str();
    case Kind::Array: return b.is(Kind::Array) && sameArrays(a.items(), b.items());
    case Kind::Object: return false;
    case Kind::Range:
      return b.is(Kind::Range) && a.rangeStart() == b.rangeStart() && a.rangeEnd() == b.rangeEnd();
    case Kind::Error: return b.is(Kind::Error) && a.str() == b.str();
    case Kind::BooleanDrop:
      return b.is(Kind::BooleanDrop) && a.asBool() == b.asBool() && a.str() == b.str();
    case Kind::Empty:
    case Kind::Blank: return false;
  }
  // Not reached: the switch names every value, but GCC wants a return here.
  return false;
}

std::optional<Value> arrayProperty(const Value& v, std::string_view name) {
  unsigned char first = static_cast<unsigned char>(name[0]);
  if (first == '-' || (first >= '0' && first <= '9')) {
    if (auto index = readWholeInteger(name)) return getIndex(v, *index);
  }
  std::span<const Value> items = v.items();
  if (name == "size") return Value::integer(static_cast<int64_t>(items.size()));
  if (items.empty()) return std::nullopt;
  if (name == "first") return items.front();
  if (name == "last") return items.back();
  return std::nullopt;
}

std::optional<Value> rangeProperty(const Value& v, std::string_view name) {
  int64_t start = v.rangeStart();
  int64_t end = v.rangeEnd();
  if (name == "first") return Value::integer(start);
  if (name == "last") return Value::integer(end);
  if (name != "size") return std::nullopt;
  if (start > end) return Value::integer(0);
  // end - start + 1 in unsigned arithmetic; saturates for the widest ranges.
  uint64_t span = static_cast<uint64_t>(end) - static_cast<uint64_t>(start);
  if (span >= static_cast<uint64_t>(INT64_MAX)) return Value::integer(INT64_MAX);
  return Value::integer(static_cast<int64_t>(span + 1));
}

}  // namespace

namespace {

uint64_t load64(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The last 0 to 7 bytes of a key as one word, read with at most two loads
// of whole words, so that no byte-wise copy stalls the word read after it.
uint64_t loadTail(const char* p, std::size_t n) {
  if (n >= 4) {
    uint32_t lo;
    uint32_t hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    return (static_cast<uint64_t>(hi) << 32) | lo;
  }
  if (n == 0) return 0;
  auto byte = [p](std::size_t i) { return static_cast<uint64_t>(static_cast<unsigned char>(p[i])); };
  return byte(0) | (byte(n / 2) << 8) | (byte(n - 1) << 16);
}

uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 29;
  return h;
}

}  // namespace

uint64_t hashText(std::string_view s) {
  const char* p = s.data();
  std::size_t n = s.size();
  uint64_t h = 0x9e3779b97f4a7c15ULL ^ (n * 0xc2b2ae3d27d4eb4fULL);
  for (; n >= 8; p += 8, n -= 8) h = mix(h ^ load64(p)) * 0x9e3779b97f4a7c15ULL;
  h = mix(h ^ loadTail(p, n));
  return h ^ (h >> 32);
}

// ------------------------------------------------------------ Shape, ObjectMap

namespace {

constexpr std::string_view kReservedPrefix = "_mervalt_";

bool samePairwise(std::span<const std::string_view> keys) {
  for (std::size_t i = 1; i < keys.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (keys[i] == keys[j]) return true;
    }
  }
  return false;
}

}  // namespace

const Shape* Shape::make(Arena& arena, std::span<const std::string_view> keys) {
  if (keys.size() >= UINT32_MAX / 2) throw std::bad_alloc();
  auto* copy = arena.allocArray<std::string_view>(keys.size());
  uint8_t flags = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    copy[i] = keys[i];
    if (keys[i].starts_with(kReservedPrefix)) {
      flags |= kReservedKey;
      if (keys[i] == "_mervalt_range") flags |= kRangeKey;
      if (keys[i] == "_mervalt_boolean_drop") flags |= kDropKey;
    }
  }
  auto* shape = arena.make<Shape>(copy, static_cast<uint32_t>(keys.size()));
  shape->flags_ = flags;
  if (keys.size() <= kLinearLimit) return samePairwise(keys) ? nullptr : shape;

  // Larger shapes get a hash index at most half full; building it finds
  // repeated keys on the way.
  std::size_t slots = std::max(kMinIndexSlots, std::bit_ceil(keys.size() * 2));
  uint32_t* index = arena.allocArray<uint32_t>(slots);
  std::memset(index, 0, slots * sizeof(uint32_t));
  std::size_t mask = slots - 1;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::size_t slot = hashText(keys[i]) & mask;
    for (; index[slot] != 0; slot = (slot + 1) & mask) {
      if (copy[index[slot] - 1] == keys[i]) return nullptr;
    }
    index[slot] = static_cast<uint32_t>(i + 1);
  }
  shape->index_ = index;
  shape->mask_ = static_cast<uint32_t>(mask);
  return shape;
}

bool Shape::sameKeys(std::span<const std::string_view> keys) const {
  if (keys.size() != size_) return false;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] != keys_[i]) return false;
  }
  return true;
}

int32_t Shape::find(std::string_view key) const {
  if (index_ == nullptr) {
    for (uint32_t i = 0; i < size_; ++i) {
      if (keys_[i] == key) return static_cast<int32_t>(i);
    }
    return -1;
  }
  for (std::size_t slot = hashText(key) & mask_;; slot = (slot + 1) & mask_) {
    uint32_t at = index_[slot];
    if (at == 0) return -1;
    if (keys_[at - 1] == key) return static_cast<int32_t>(at - 1);
  }
}

const ObjectMap* ObjectMap::fromEntries(Arena& arena, std::span<const std::string_view> keys,
                                        std::span<const Value> values) {
  const Shape* shape = Shape::make(arena, keys);
  return shape ? make(arena, *shape, values) : nullptr;
}

Value Value::range(Arena& arena, int64_t start, int64_t end) {
  Value v(head(Kind::Range), 0);
  v.u_.r = arena.make<RangeBounds>(RangeBounds{start, end});
  return v;
}

// --------------------------------------------------------------- operations

std::string_view kindName(Kind k) {
  switch (k) {
    case Kind::Nil: return "NilClass";
    case Kind::Boolean: return "Boolean";
    case Kind::Integer: return "Integer";
    case Kind::Float: return "Float";
    case Kind::String: return "String";
    case Kind::Array: return "Array";
    case Kind::Object: return "Hash";
    case Kind::Empty: return "Empty";
    case Kind::Blank: return "Blank";
    case Kind::Range: return "Range";
    case Kind::Error: return "Error";
    case Kind::BooleanDrop: return "BooleanDrop";
  }
  // Not reached: the switch names every value, but GCC wants a return here.
  return "";
}

bool isBlank(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
    case Kind::Empty:
    case Kind::Blank: return true;
    case Kind::String: return isSpaceOnly(v.str());
    case Kind::Array: return v.items().empty();
    case Kind::Object: return v.map().empty();
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Float:
    case Kind::Range:
    case Kind::Error:
    case Kind::BooleanDrop: return false;
  }
  // Not reached: the switch names every value, but GCC wants a return here.
  return false;
}

// `blank` and `empty` are matched first and asymmetrically: neither equals
// itself, and `empty` on the left accepts nil.
bool eql(const Value& a, const Value& b) {
  if (a.is(Kind::Blank)) return !b.is(Kind::Empty) && !b.is(Kind::Blank) && isBlank(b);
  if (a.is(Kind::Empty)) return !b.is(Kind::Empty) && isEmptyLike(b);
  if (b.is(Kind::Blank)) return isBlank(a);
  if (b.is(Kind::Empty)) return isEmptyLike(a);
  return eqlPlain(a, b);
}

namespace {

// Byte search in time linear in both texts: memmem is a two-way search, where
// string_view's find is quadratic on repetitive texts.
bool hasSubstring(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return true;
  if (hay.size() < needle.size()) return false;
  return memmem(hay.data(), hay.size(), needle.data(), needle.size()) != nullptr;
}

}  // namespace

bool contains(const Value& container, const Value& needle) {
  if (needle.isNil() || (needle.is(Kind::Boolean) && !needle.asBool())) return false;
  if (container.is(Kind::String)) {
    std::string_view hay = container.str();
    if (needle.is(Kind::String)) return hasSubstring(hay, needle.str());
    if (!needle.is(Kind::Integer)) return false;
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, needle.asInt());
    return hasSubstring(hay, std::string_view(digits, static_cast<std::size_t>(res.ptr - digits)));
  }
  if (!container.is(Kind::Array)) return false;
  for (const Value& e : container.items()) {
    if (eql(e, needle)) return true;
  }
  return false;
}

std::optional<Value> get(const Value& v, std::string_view name) {
  if (name.empty()) return std::nullopt;
  switch (v.kind()) {
    case Kind::Object:
      if (const Value* found = v.map().get(name)) return *found;
      if (name == "size") return Value::integer(static_cast<int64_t>(v.map().size()));
      return std::nullopt;
    case Kind::Array: return arrayProperty(v, name);
    case Kind::String:
      if (name == "size") return Value::integer(static_cast<int64_t>(v.str().size()));
      return std::nullopt;
    case Kind::Range: return rangeProperty(v, name);
    default: return std::nullopt;
  }
}

std::optional<Value> get(const Value& v, std::string_view name, LookupCache& cache) {
  if (!v.is(Kind::Object) || name.empty()) return get(v, name);
  if (const Value* found = v.map().get(name, cache)) return *found;
  if (name == "size") return Value::integer(static_cast<int64_t>(v.map().size()));
  return std::nullopt;
}

std::optional<Value> getIndex(const Value& v, int64_t index) {
  std::size_t n;
  if (v.is(Kind::Array)) {
    n = v.items().size();
  } else if (v.is(Kind::String)) {
    n = v.str().size();
  } else {
    return std::nullopt;
  }
  uint64_t at = static_cast<uint64_t>(index);
  if (index < 0) {
    // -index in unsigned arithmetic, so INT64_MIN needs no special case.
    uint64_t back = 0 - at;
    if (back > n) return std::nullopt;
    at = n - back;
  } else if (at >= n) {
    return std::nullopt;
  }
  if (v.is(Kind::Array)) return v.items()[at];
  return Value::string(v.str().substr(at, 1));
}

std::optional<int64_t> readWholeInteger(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return std::nullopt;
  // Accumulate toward the negative side so that INT64_MIN is reachable.
  int64_t acc = 0;
  bool lastWasDigit = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '_') {
      if (!lastWasDigit || i + 1 == s.size()) return std::nullopt;
      lastWasDigit = false;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    int digit = c - '0';
    if (acc < (INT64_MIN + digit) / 10) return std::nullopt;
    acc = acc * 10 - digit;
    lastWasDigit = true;
  }
  if (negative) return acc;
  if (acc == INT64_MIN) return std::nullopt;
  return -acc;
}

}  // namespace mervalt

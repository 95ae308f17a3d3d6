// order_filters.cpp: uniq, sort and sort_natural.
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

// uniq: duplicates are found through a hash that agrees with eql, so the walk
// stays linear. Three classes of value need care:
//  - Plain: eql to another Plain value only when their hashes agree.
//  - NeverEqual: eql to no Plain value (NaN, objects nested in arrays, and
//    arrays holding either); such values skip the table.
//  - Irregular: holds `empty` or `blank` below the top level; these literals
//    are eql to values of several shapes, so such values are compared one by
//    one with everything kept. Templates cannot nest them, so this is rare.
// A top-level `empty` or `blank` is handled by flags: what it matches depends
// only on whether some kept value is eql to it.

enum class EqualityClass : uint8_t { Plain, NeverEqual, Irregular };

struct Hashed {
  uint64_t hash;
  EqualityClass shape;
};

uint64_t mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}

uint64_t hashBytes(std::string_view s) { return mix(hashText(s)); }

// Integers and floats hash by their double value, so 1 and 1.0 collide;
// -0.0 hashes like 0.0.
uint64_t hashNumber(double d) {
  if (d == 0) d = 0.0;
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return mix(bits ^ 0x2545f4914f6cdd1dULL);
}

EqualityClass worse(EqualityClass a, EqualityClass b) {
  return static_cast<EqualityClass>(std::max(static_cast<uint8_t>(a), static_cast<uint8_t>(b)));
}

uint64_t tagged(Kind k, uint64_t h) {
  return mix(h + 0x9e3779b97f4a7c15ULL * (static_cast<uint64_t>(k) + 1));
}

// Hash of a value as eql sees it (inside arrays, and as an object's value).
Hashed hashNested(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil: return {tagged(Kind::Nil, 0), EqualityClass::Plain};
    case Kind::Boolean: return {tagged(Kind::Boolean, v.asBool()), EqualityClass::Plain};
    case Kind::Integer: return {hashNumber(static_cast<double>(v.asInt())), EqualityClass::Plain};
    case Kind::Float:
      if (std::isnan(v.asFloat())) return {0, EqualityClass::NeverEqual};
      return {hashNumber(v.asFloat()), EqualityClass::Plain};
    case Kind::String:
    case Kind::Error: return {tagged(v.kind(), hashBytes(v.str())), EqualityClass::Plain};
    case Kind::BooleanDrop:
      return {tagged(Kind::BooleanDrop, hashBytes(v.str()) ^ v.asBool()), EqualityClass::Plain};
    case Kind::Range:
      return {tagged(Kind::Range, mix(static_cast<uint64_t>(v.rangeStart())) ^
                                      static_cast<uint64_t>(v.rangeEnd())),
              EqualityClass::Plain};
    case Kind::Array: {
      Hashed out{tagged(Kind::Array, v.items().size()), EqualityClass::Plain};
      for (const Value& e : v.items()) {
        Hashed h = hashNested(e);
        out.shape = worse(out.shape, h.shape);
        out.hash = mix(out.hash * 31 + h.hash);
      }
      return out;
    }
    case Kind::Object: return {0, EqualityClass::NeverEqual};
    case Kind::Empty:
    case Kind::Blank: return {0, EqualityClass::Irregular};
  }
  return {0, EqualityClass::NeverEqual};
}

// An object compared by the duplicate-object rule: entry order does not
// count, so the entries' hashes are summed.
Hashed hashEntries(const ObjectMap& m) {
  Hashed out{tagged(Kind::Object, m.size()), EqualityClass::Plain};
  uint64_t sum = 0;
  for (std::size_t i = 0; i < m.size(); ++i) {
    Hashed h = hashNested(m.valueAt(i));
    out.shape = worse(out.shape, h.shape);
    sum += mix(hashBytes(m.keyAt(i)) + 0x9e3779b97f4a7c15ULL * h.hash);
  }
  out.hash = mix(out.hash ^ sum);
  return out;
}

// Same size, and every key of `a` present in `b` with an eql value.
bool sameEntries(const ObjectMap& a, const ObjectMap& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const Value* other = b.get(a.keyAt(i));
    if (other == nullptr || !eql(a.valueAt(i), *other)) return false;
  }
  return true;
}

class Deduper {
 public:
  // `objectRule`: objects are compared by their entries rather than by eql.
  Deduper(Arena& arena, std::size_t capacity, bool objectRule)
      : kept_(arena.allocArray<Value>(std::max<std::size_t>(capacity, 1))),
        irregular_(arena.resource()),
        objectRule_(objectRule) {
    std::size_t slots = 16;
    while (slots < capacity * 2) {
      if (slots > SIZE_MAX / 4) throw std::bad_alloc();
      slots *= 2;
    }
    slots_ = arena.allocArray<Slot>(slots);
    std::memset(static_cast<void*>(slots_), 0, slots * sizeof(Slot));
    mask_ = slots - 1;
  }

  // True when `x` duplicates a value kept earlier; otherwise `x` is kept.
  bool seen(const Value& x) {
    if (x.is(Kind::Empty)) return seenLiteral(x, emptyMatched_, keptEmpty_);
    if (x.is(Kind::Blank)) return seenLiteral(x, blankMatched_, keptBlank_);
    bool byEntries = objectRule_ && x.is(Kind::Object);
    if (!byEntries) {
      if (keptEmpty_ && eql(x, Value::empty())) return true;
      if (keptBlank_ && eql(x, Value::blank())) return true;
    }
    for (std::size_t i : irregular_) {
      if (same(x, kept_[i])) return true;
    }
    Hashed h = byEntries ? hashEntries(x.map()) : hashNested(x);
    switch (h.shape) {
      case EqualityClass::Irregular:
        for (std::size_t i = 0; i < count_; ++i) {
          if (same(x, kept_[i])) return true;
        }
        irregular_.push_back(count_);
        keep(x);
        return false;
      case EqualityClass::NeverEqual: keep(x); return false;
      case EqualityClass::Plain: return seenPlain(x, h.hash);
    }
    return false;
  }

 private:
  struct Slot {
    uint64_t hash;
    std::size_t index1;  // kept position + 1; 0 marks a free slot
  };

  bool same(const Value& x, const Value& kept) const {
    if (objectRule_ && x.is(Kind::Object)) {
      return kept.is(Kind::Object) && sameEntries(x.map(), kept.map());
    }
    return eql(x, kept);
  }

  bool seenLiteral(const Value& x, bool matched, bool& keptFlag) {
    if (matched) return true;
    keptFlag = true;
    keep(x);
    return false;
  }

  bool seenPlain(const Value& x, uint64_t hash) {
    std::size_t i = hash & mask_;
    for (; slots_[i].index1 != 0; i = (i + 1) & mask_) {
      if (slots_[i].hash == hash && same(x, kept_[slots_[i].index1 - 1])) return true;
    }
    slots_[i] = {hash, count_ + 1};
    keep(x);
    return false;
  }

  void keep(const Value& x) {
    emptyMatched_ = emptyMatched_ || eql(Value::empty(), x);
    blankMatched_ = blankMatched_ || eql(Value::blank(), x);
    kept_[count_++] = x;
  }

  Value* kept_;
  std::size_t count_ = 0;
  Slot* slots_ = nullptr;
  std::size_t mask_ = 0;
  std::pmr::vector<std::size_t> irregular_;
  bool objectRule_;
  bool keptEmpty_ = false, keptBlank_ = false;
  bool emptyMatched_ = false, blankMatched_ = false;
};

// ---------------------------------------------------------------------------
// sort and sort_natural: a stable bottom-up merge sort over element
// positions, with each element's comparison key (value, text) made once.

enum class TextState : uint8_t { Missing, Ready, Failed };

struct SortKey {
  Value v;
  std::string_view text;
  uint64_t prefix = 0;  // the text's first 8 bytes, big-endian, zero-padded
  TextState state = TextState::Missing;
};

// Comparing these words orders texts by their first 8 bytes, so most
// comparisons of a sort need no byte loop.
uint64_t textPrefix(std::string_view t) {
  unsigned char bytes[8] = {};
  if (!t.empty()) std::memcpy(bytes, t.data(), std::min<std::size_t>(t.size(), 8));
  uint64_t p = 0;
  for (unsigned char b : bytes) p = (p << 8) | b;
  return p;
}

std::string_view foldCase(Arena& arena, std::string_view t) {
  auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  if (std::none_of(t.begin(), t.end(), upper)) return t;
  char* p = static_cast<char*>(arena.allocate(t.size(), 1));
  for (std::size_t i = 0; i < t.size(); ++i)
    p[i] = upper(t[i]) ? static_cast<char>(t[i] + 32) : t[i];
  return {p, t.size()};
}

// The key's text, made on first use. Without memory for it the text is
// missing, and a comparison that needs it answers "not less".
const std::string_view* keyText(Renderer& r, SortKey& k, bool fold) {
  if (k.state == TextState::Missing) {
    try {
      std::string_view t = r.display(k.v);
      k.text = fold ? foldCase(r.scratch(), t) : t;
      k.prefix = textPrefix(k.text);
      k.state = TextState::Ready;
    } catch (const LimitExceeded&) {
      throw;
    } catch (const std::bad_alloc&) {
      k.state = TextState::Failed;
    }
  }
  return k.state == TextState::Ready ? &k.text : nullptr;
}

double numberOf(const Value& v) {
  return v.is(Kind::Integer) ? static_cast<double>(v.asInt()) : v.asFloat();
}

bool textLess(Renderer& r, SortKey& a, SortKey& b, bool fold) {
  const std::string_view* ta = keyText(r, a, fold);
  const std::string_view* tb = keyText(r, b, fold);
  if (ta == nullptr || tb == nullptr) return false;
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  return ta->compare(*tb) < 0;
}

// `nil` sorts after everything and keeps its order.
bool sortLess(Renderer& r, SortKey& a, SortKey& b) {
  if (a.v.isNil()) return false;
  if (b.v.isNil()) return true;
  if (a.v.isNumber() && b.v.isNumber()) return numberOf(a.v) < numberOf(b.v);
  return textLess(r, a, b, false);
}

bool naturalLess(Renderer& r, SortKey& a, SortKey& b) {
  if (a.v.isNil()) return false;
  if (b.v.isNil()) return true;
  return textLess(r, a, b, true);
}

// Stable: on a tie the left run's element goes first. Works with any
// comparison, transitive or not.
template <class T, class Less>
void mergeSort(T* order, T* buffer, std::size_t n, Less less) {
  T* src = order;
  T* dst = buffer;
  for (std::size_t width = 1; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      std::size_t mid = std::min(lo + width, n);
      std::size_t hi = std::min(mid + width, n);
      std::size_t i = lo, j = mid, k = lo;
      // Without a branch on the comparison, which random data mispredicts.
      while (i < mid && j < hi) {
        bool right = less(src[j], src[i]);
        dst[k++] = right ? src[j] : src[i];
        j += right;
        i += !right;
      }
      while (i < mid) dst[k++] = src[i++];
      while (j < hi) dst[k++] = src[j++];
    }
    std::swap(src, dst);
    if (width > n / 2) break;
  }
  if (src != order) std::memcpy(static_cast<void*>(order), src, n * sizeof(T));
}

enum class SortMode : uint8_t { Plain, Natural };

using KeyedPosition = std::pair<uint64_t, std::size_t>;

// A stable sort of (key, position) pairs by key: least significant byte
// first, skipping the bytes that every key shares. `tmp` holds n pairs; the
// result is in `a` or in `tmp`, whichever is returned.
KeyedPosition* radixSort(KeyedPosition* a, KeyedPosition* tmp, std::size_t n) {
  std::size_t counts[8][256] = {};
  for (std::size_t i = 0; i < n; ++i)
    for (int d = 0; d < 8; ++d) ++counts[d][(a[i].first >> (8 * d)) & 0xff];
  for (int d = 0; d < 8; ++d) {
    std::size_t* c = counts[d];
    if (c[(a[0].first >> (8 * d)) & 0xff] == n) continue;  // one value of this byte for all
    std::size_t sum = 0;
    for (std::size_t& x : std::span(c, 256)) {
      std::size_t k = x;
      x = sum;
      sum += k;
    }
    for (std::size_t i = 0; i < n; ++i) tmp[c[(a[i].first >> (8 * d)) & 0xff]++] = a[i];
    std::swap(a, tmp);
  }
  return a;
}

// Orders doubles as unsigned words do: negative values flip every bit,
// others only the sign. Negative zero counts as zero, as `<` has it.
uint64_t orderedBits(double d) {
  if (d == 0) d = 0;
  uint64_t bits = std::bit_cast<uint64_t>(d);
  return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
}

// Arrays whose keys are all numbers (none NaN) or all strings, nils aside,
// are totally ordered by the comparison, so any stable sort gives the
// merge sort's order: they are sorted by plain keys made once, numbers
// through their bits and texts by their first 8 bytes, then by the whole
// text among those that share them. Nils keep their order after everything.
// False when the keys are of another mix.
bool sortUniform(Renderer& r, const Value* keys, std::size_t* order, std::size_t n, SortMode mode) {
  bool numbers = mode == SortMode::Plain, texts = true;
  for (std::size_t i = 0; i < n && (numbers || texts); ++i) {
    const Value& v = keys[i];
    if (v.isNil()) continue;
    numbers = numbers && v.isNumber() && !std::isnan(numberOf(v));
    texts = texts && v.is(Kind::String);
  }
  if (!numbers && !texts) return false;
  std::size_t m = 0;  // non-nil keys first, in order; nils after them
  for (std::size_t i = 0; i < n; ++i)
    if (!keys[i].isNil()) order[m++] = i;
  for (std::size_t i = 0, k = m; i < n; ++i)
    if (keys[i].isNil()) order[k++] = i;
  Arena& arena = r.scratch();
  auto* pairs = arena.allocArray<KeyedPosition>(2 * m);
  if (numbers) {
    for (std::size_t k = 0; k < m; ++k) pairs[k] = {orderedBits(numberOf(keys[order[k]])), order[k]};
    KeyedPosition* sorted = m > 0 ? radixSort(pairs, pairs + m, m) : pairs;
    for (std::size_t k = 0; k < m; ++k) order[k] = sorted[k].second;
    return true;
  }
  auto* text = arena.allocArray<std::string_view>(n);
  for (std::size_t k = 0; k < m; ++k) {
    std::size_t i = order[k];
    text[i] = mode == SortMode::Natural ? foldCase(arena, keys[i].str()) : keys[i].str();
    pairs[k] = {textPrefix(text[i]), i};
  }
  KeyedPosition* sorted = m > 0 ? radixSort(pairs, pairs + m, m) : pairs;
  KeyedPosition* spare = sorted == pairs ? pairs + m : pairs;
  // Texts that share their first 8 bytes, now side by side in their
  // original order, are ordered by their next 8 bytes, then by the rest.
  auto byText = [text](const KeyedPosition& a, const KeyedPosition& b) {
    return a.first != b.first ? a.first < b.first : text[a.second].compare(text[b.second]) < 0;
  };
  for (std::size_t lo = 0; lo < m;) {
    std::size_t hi = lo + 1;
    while (hi < m && sorted[hi].first == sorted[lo].first) ++hi;
    if (hi - lo > 1) {
      for (std::size_t k = lo; k < hi; ++k) {
        std::string_view t = text[sorted[k].second];
        sorted[k].first = textPrefix(t.size() > 8 ? t.substr(8) : std::string_view());
      }
      mergeSort(sorted + lo, spare + lo, hi - lo, byText);
    }
    lo = hi;
  }
  for (std::size_t k = 0; k < m; ++k) order[k] = sorted[k].second;
  return true;
}

Value sortArray(Renderer& r, const Value& in, Args args, SortMode mode) {
  std::optional<std::string_view> prop = propertyArg(r, args);
  PropertyName property(prop.value_or(std::string_view()));
  if (!in.is(Kind::Array) || in.items().empty()) return in;
  std::span<const Value> items = in.items();
  std::size_t n = items.size();
  // A sort compares about n log n times, where the filter's charge counts
  // each element once: the comparisons are charged before they are made, so
  // that sorting large lists in a loop stays within the work bound.
  r.chargeWork(static_cast<uint64_t>(n) * static_cast<uint64_t>(std::bit_width(n)));
  Arena& arena = r.scratch();
  Value* values = arena.allocArray<Value>(n);
  std::size_t* order = arena.allocArray<std::size_t>(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Value& e = items[i];
    Value v = e;
    if (prop) {
      v = property.of(e);
    } else if (mode == SortMode::Natural && e.is(Kind::Object) && e.map().size() == 1) {
      v = e.map().valueAt(0);
    }
    values[i] = v;
    order[i] = i;
  }
  if (!sortUniform(r, values, order, n, mode)) {
    SortKey* keys = arena.allocArray<SortKey>(n);
    for (std::size_t i = 0; i < n; ++i) new (&keys[i]) SortKey{values[i], {}, 0, TextState::Missing};
    std::size_t* buffer = arena.allocArray<std::size_t>(n);
    if (mode == SortMode::Plain) {
      mergeSort(order, buffer, n, [&](std::size_t a, std::size_t b) { return sortLess(r, keys[a], keys[b]); });
    } else {
      mergeSort(order, buffer, n, [&](std::size_t a, std::size_t b) { return naturalLess(r, keys[a], keys[b]); });
    }
  }
  Value* out = arena.allocArray<Value>(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = items[order[i]];
  return Value::array({out, n});
}

}  // namespace

Value filterUniq(Renderer& r, const Value& in, Args args) {
  std::optional<std::string_view> prop = propertyArg(r, args);
  PropertyName property(prop.value_or(std::string_view()));
  if (!in.is(Kind::Array)) return in;
  std::span<const Value> items = in.items();
  Deduper seen(r.scratch(), items.size(), !prop);
  Kept out(r.scratch(), items.size());
  for (const Value& e : items) {
    Value key = e;
    if (prop) {
      const Value* v = e.is(Kind::Object) ? property.in(e.map()) : nullptr;
      key = v != nullptr ? *v : Value::nil();
    }
    if (!seen.seen(key)) out.push(e);
  }
  return out.finish();
}

Value filterSort(Renderer& r, const Value& in, Args args) {
  return sortArray(r, in, args, SortMode::Plain);
}

Value filterSortNatural(Renderer& r, const Value& in, Args args) {
  return sortArray(r, in, args, SortMode::Natural);
}

}  // namespace mervalt

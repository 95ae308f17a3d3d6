// array_filters_test.cpp: uniq and the sorts against their pairwise
// definitions on random mixed arrays, including values templates cannot build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "memory/arena.h"
#include "filters/filters.h"
#include "render/output.h"
#include "api/call.h"
#include "render/renderer.h"
#include "data/value.h"

namespace mervalt {
namespace {

class ArrayFiltersTest : public ::testing::Test {
 protected:
  Value arr(std::vector<Value> items) {
    return Value::array(arena.copyArray(std::span<const Value>(items.data(), items.size())));
  }
  Value obj(std::vector<std::pair<std::string_view, Value>> entries) {
    std::vector<std::string_view> keys;
    std::vector<Value> values;
    for (auto& [k, v] : entries) keys.push_back(k), values.push_back(v);
    return Value::object(ObjectMap::fromEntries(arena, keys, values));
  }
  // A small random value: scalars that collide under equality (1, 1.0, -0.0,
  // NaN, "", " "), the empty and blank literals, arrays and objects.
  Value randomValue(int depth) {
    switch (std::uniform_int_distribution<int>(0, depth > 0 ? 13 : 11)(rng)) {
      case 0: return Value::nil();
      case 1: return Value::boolean(rng() % 2 == 0);
      case 2: return Value::integer(static_cast<int64_t>(rng() % 3));
      case 3: return Value::floating(static_cast<double>(rng() % 3));
      case 4: return Value::floating(-0.0);
      case 5: return Value::floating(std::numeric_limits<double>::quiet_NaN());
      case 6: return Value::string(rng() % 2 ? "" : " ");
      case 7: return Value::string(rng() % 2 ? "1" : "a");
      case 8: return Value::empty();
      case 9: return Value::blank();
      case 10: return Value::range(arena, 1, static_cast<int64_t>(rng() % 2 + 1));
      case 11: return Value::error("e");
      case 12: {
        std::vector<Value> items;
        for (int n = static_cast<int>(rng() % 3); n > 0; --n)
          items.push_back(randomValue(depth - 1));
        return arr(items);
      }
      default: {
        std::vector<std::pair<std::string_view, Value>> entries;
        static constexpr std::string_view kKeys[] = {"a", "b", "x"};
        for (std::string_view k : kKeys) {
          if (rng() % 2) entries.emplace_back(k, randomValue(depth - 1));
        }
        return obj(entries);
      }
    }
  }

  std::vector<Value> randomArray(std::size_t maxSize) {
    std::vector<Value> items;
    for (std::size_t n = rng() % (maxSize + 1); n > 0; --n) items.push_back(randomValue(2));
    return items;
  }

  static bool sameEntries(const Value& a, const Value& b) {
    if (a.map().size() != b.map().size()) return false;
    for (std::size_t i = 0; i < a.map().size(); ++i) {
      const Value* v = b.map().get(a.map().keyAt(i));
      if (v == nullptr || !eql(a.map().valueAt(i), *v)) return false;
    }
    return true;
  }

  // The definition of uniq without a property, compared pairwise.
  static std::vector<std::size_t> referenceUniq(const std::vector<Value>& items) {
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const Value& x = items[i];
      bool dup = std::any_of(kept.begin(), kept.end(), [&](std::size_t k) {
        const Value& y = items[k];
        if (x.is(Kind::Object)) return y.is(Kind::Object) && sameEntries(x, y);
        return eql(x, y);
      });
      if (!dup) kept.push_back(i);
    }
    return kept;
  }

  // Whether two Values are the same handle: same kind and same payload bits.
  static bool sameHandle(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
      case Kind::Boolean: return a.asBool() == b.asBool();
      case Kind::Integer: return a.asInt() == b.asInt();
      case Kind::Float:
        return std::signbit(a.asFloat()) == std::signbit(b.asFloat()) &&
               (a.asFloat() == b.asFloat() || (std::isnan(a.asFloat()) && std::isnan(b.asFloat())));
      case Kind::String:
      case Kind::Error: return a.str().data() == b.str().data() && a.str().size() == b.str().size();
      case Kind::Array:
        return a.items().data() == b.items().data() && a.items().size() == b.items().size();
      case Kind::Object: return &a.map() == &b.map();
      case Kind::Range: return a.rangeStart() == b.rangeStart() && a.rangeEnd() == b.rangeEnd();
      default: return true;
    }
  }

  // Positions of `result`'s elements in `items`, matched by handle (each
  // element is found at or after the previous match).
  static std::vector<std::size_t> positions(const std::vector<Value>& items, const Value& result) {
    std::vector<std::size_t> out;
    std::size_t from = 0;
    for (const Value& v : result.items()) {
      while (from < items.size() && !sameHandle(items[from], v)) ++from;
      out.push_back(from++);
    }
    return out;
  }

  HeapResource heap;
  Arena arena{&heap};
  OutputBuffer output{heap, {}};
  NameTable names{arena.resource()};
  Renderer r{arena, Value::nil(), output, names, {}};
  std::mt19937_64 rng{12345};
};

TEST_F(ArrayFiltersTest, UniqAgreesWithThePairwiseDefinition) {
  for (int round = 0; round < 3000; ++round) {
    std::vector<Value> items = randomArray(14);
    Value result = filterUniq(r, arr(items), {});
    ASSERT_EQ(positions(items, result), referenceUniq(items)) << "round " << round;
  }
}

TEST_F(ArrayFiltersTest, UniqComparesNestedEmptyAndBlankLikeEquality) {
  Value e = Value::empty();
  // [nil] equals [empty] and [""] equals [empty], but [nil] and [""] differ.
  std::vector<Value> first{arr({Value::nil()}), arr({Value::string("")}), arr({e})};
  EXPECT_EQ(positions(first, filterUniq(r, arr(first), {})), (std::vector<std::size_t>{0, 1}));
  std::vector<Value> second{arr({e}), arr({Value::string("")}), arr({Value::nil()})};
  EXPECT_EQ(positions(second, filterUniq(r, arr(second), {})), (std::vector<std::size_t>{0}));
  std::vector<Value> objects{obj({{"a", Value::nil()}}), obj({{"a", e}}),
                             obj({{"a", Value::blank()}})};
  EXPECT_EQ(positions(objects, filterUniq(r, arr(objects), {})), (std::vector<std::size_t>{0}));
}

// On values where the comparison is a strict weak order, the merge sort must
// give exactly what a stable sort gives.
TEST_F(ArrayFiltersTest, SortsMatchAStableSortOnConsistentInputs) {
  // Words sharing their first 8 bytes, and numbers of both signs, zeros of
  // both signs and integers beyond a double's precision.
  static constexpr std::string_view kWords[] = {"a", "A", "b", "B", "ab", "aB", "", "é",
                                                "abcdefgh", "abcdefghij", "abcdefghiJ", "Abcdefghi"};
  static constexpr double kFloats[] = {-2.5, -0.0, 0.0, 0.5, 1.0, 2.5, -1e300, 1e300};
  for (int round = 0; round < 500; ++round) {
    std::vector<Value> words, numbers;
    for (std::size_t n = rng() % 70; n > 0; --n) {
      words.push_back(rng() % 6 == 0 ? Value::nil() : Value::string(kWords[rng() % 12]));
      int64_t big = (int64_t{1} << 60) + static_cast<int64_t>(rng() % 3);
      numbers.push_back(rng() % 6 == 0 ? Value::nil()
                        : rng() % 2    ? Value::integer(rng() % 4 == 0 ? big : static_cast<int64_t>(rng() % 5) - 2)
                                       : Value::floating(kFloats[rng() % 8]));
    }
    auto check = [&](const std::vector<Value>& items, auto filter, auto less) {
      std::vector<std::size_t> expected(items.size());
      for (std::size_t i = 0; i < items.size(); ++i) expected[i] = i;
      std::stable_sort(expected.begin(), expected.end(),
                       [&](std::size_t a, std::size_t b) { return less(items[a], items[b]); });
      Value sorted = filter(r, arr(items), {});
      std::vector<std::size_t> got;
      if (sorted.is(Kind::Array)) {
        for (const Value& v : sorted.items()) {
          for (std::size_t i = 0; i < items.size(); ++i) {
            bool taken = std::find(got.begin(), got.end(), i) != got.end();
            if (!taken && sameHandle(items[i], v)) {
              got.push_back(i);
              break;
            }
          }
        }
      }
      if (items.empty()) got = expected;
      ASSERT_EQ(got, expected) << "round " << round;
    };
    auto nilLast = [](auto inner) {
      return [inner](const Value& a, const Value& b) {
        if (a.isNil()) return false;
        if (b.isNil()) return true;
        return inner(a, b);
      };
    };
    auto fold = [](std::string_view s) {
      std::string out(s);
      for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
      return out;
    };
    check(words, filterSort,
          nilLast([](const Value& a, const Value& b) { return a.str() < b.str(); }));
    check(words, filterSortNatural,
          nilLast([&](const Value& a, const Value& b) { return fold(a.str()) < fold(b.str()); }));
    auto num = [](const Value& v) {
      return v.is(Kind::Integer) ? static_cast<double>(v.asInt()) : v.asFloat();
    };
    check(numbers, filterSort,
          nilLast([&](const Value& a, const Value& b) { return num(a) < num(b); }));
  }
}

}  // namespace
}  // namespace mervalt

// value_test.cpp: the object map and the truthiness, equality, containment and access rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "memory/arena.h"
#include "data/value.h"

namespace mervalt {
namespace {

class ValueTest : public ::testing::Test {
 protected:
  Value obj(std::initializer_list<std::pair<std::string_view, Value>> entries) {
    std::vector<std::string_view> keys;
    std::vector<Value> values;
    for (auto& [k, v] : entries) keys.push_back(k), values.push_back(v);
    return Value::object(ObjectMap::fromEntries(arena, keys, values));
  }
  Value arr(std::initializer_list<Value> items) {
    return Value::array(arena.copyArray(std::span<const Value>(items.begin(), items.size())));
  }

  Arena arena{std::pmr::new_delete_resource()};
};

TEST_F(ValueTest, ShapesFindKeysAndRejectRepeatsAcrossTheIndexThreshold) {
  for (int size : {0, 3, 16, 17, 40, 2000}) {
    std::vector<std::string> names;
    for (int i = 0; i < size; ++i) names.push_back("k" + std::to_string(i * 7919 % 10007));
    std::vector<std::string_view> keys(names.begin(), names.end());
    std::vector<Value> values;
    for (int i = 0; i < size; ++i) values.push_back(Value::integer(i));
    const ObjectMap* m = ObjectMap::fromEntries(arena, keys, values);
    ASSERT_NE(m, nullptr) << size;
    ASSERT_EQ(m->size(), static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
      std::string copy = names[i];  // equal bytes elsewhere
      ASSERT_EQ(m->keyAt(i), names[i]);
      ASSERT_EQ(m->get(copy)->asInt(), i) << size;
      LookupCache cache;
      ASSERT_EQ(m->get(copy, cache)->asInt(), i) << size;
      ASSERT_EQ(m->get(copy, cache)->asInt(), i) << size;
    }
    EXPECT_EQ(m->get("k"), nullptr);
    EXPECT_EQ(m->get(""), nullptr);
    if (size < 2) continue;
    keys.back() = keys.front();
    EXPECT_EQ(ObjectMap::fromEntries(arena, keys, values), nullptr) << size;
  }
}

TEST_F(ValueTest, ALookupCacheFollowsTheShape) {
  Value a = obj({{"x", Value::integer(1)}, {"y", Value::integer(2)}});
  Value b = obj({{"y", Value::integer(3)}, {"x", Value::integer(4)}});
  LookupCache cache;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(a.map().get("x", cache)->asInt(), 1);
    EXPECT_EQ(b.map().get("x", cache)->asInt(), 4);
  }
  EXPECT_EQ(a.map().get("z", cache), nullptr);
  EXPECT_EQ(a.map().get("z", cache), nullptr);
}

TEST_F(ValueTest, TruthinessAndBlankness) {
  struct Row { Value v; bool truthy, blank; };
  Row rows[] = {
      {Value::nil(), false, true},
      {Value::boolean(false), false, false},
      {Value::boolean(true), true, false},
      {Value::integer(0), true, false},
      {Value::floating(0.0), true, false},
      {Value::string(""), true, true},
      {Value::string(" \t\r\n"), true, true},
      {Value::string(" \f"), true, false},
      {Value::string("\v"), true, false},
      {arr({}), true, true},
      {arr({Value::nil()}), true, false},
      {obj({}), true, true},
      {Value::empty(), true, true},
      {Value::blank(), true, true},
      {Value::range(arena, 1, 0), true, false},
      {Value::error(""), true, false},
      {Value::drop("", false), false, false},
      {Value::drop("", true), true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(kindName(r.v.kind()));
    EXPECT_EQ(isTruthy(r.v), r.truthy);
    EXPECT_EQ(isBlank(r.v), r.blank);
  }
}

TEST_F(ValueTest, EqualityRules) {
  Value o = obj({{"a", Value::integer(1)}});
  Value nan = Value::floating(std::numeric_limits<double>::quiet_NaN());
  struct Row { Value a, b; bool equal; const char* what; };
  Row rows[] = {
      {Value::blank(), Value::blank(), false, "blank never equals blank"},
      {Value::blank(), Value::empty(), false, "blank never equals empty"},
      {Value::blank(), Value::string(" \n"), true, "blank left: isBlank"},
      {Value::blank(), Value::nil(), true, "blank left: nil"},
      {Value::blank(), Value::boolean(false), false, "false is not blank"},
      {Value::empty(), Value::empty(), false, "empty never equals empty"},
      {Value::empty(), Value::blank(), false, "empty left, blank right"},
      {Value::empty(), Value::nil(), true, "empty left: nil"},
      {Value::empty(), Value::string(" "), false, "empty wants length zero"},
      {Value::empty(), arr({}), true, "empty array"},
      {Value::empty(), obj({}), true, "empty object"},
      {Value::empty(), Value::integer(0), false, "zero is not empty"},
      {Value::string(""), Value::blank(), true, "empty string and blank"},
      {Value::string("\t"), Value::blank(), true, "space string and blank"},
      {Value::integer(0), Value::blank(), false, "integer and blank"},
      {Value::nil(), Value::empty(), true, "nil and empty"},
      {arr({}), Value::empty(), true, "empty array right"},
      {Value::string("a"), Value::empty(), false, "non-empty string right"},
      {Value::nil(), Value::nil(), true, "nil"},
      {Value::nil(), Value::boolean(false), false, "nil and false"},
      {Value::integer(1), Value::floating(1.0), true, "integer and float"},
      {Value::floating(1.0), Value::integer(1), true, "float and integer"},
      {Value::integer(9007199254740993), Value::floating(9007199254740992.0), true, "beyond 2^53"},
      {nan, nan, false, "NaN"},
      {Value::floating(0.0), Value::floating(-0.0), true, "signed zeros"},
      {Value::integer(1), Value::string("1"), false, "integer and string"},
      {Value::string("ab"), Value::string("ab"), true, "strings"},
      {Value::string("ab"), Value::string("a"), false, "string prefix"},
      {arr({Value::integer(1), arr({})}), arr({Value::floating(1), arr({})}), true, "arrays"},
      {arr({Value::integer(1)}), arr({Value::integer(1), Value::nil()}), false, "array lengths"},
      {o, o, false, "an object never equals itself"},
      {Value::range(arena, 1, 2), Value::range(arena, 1, 2), true, "ranges"},
      {Value::range(arena, 1, 2), Value::range(arena, 1, 3), false, "range ends"},
      {Value::error("x"), Value::error("x"), true, "errors"},
      {Value::error("x"), Value::string("x"), false, "error and string"},
      {Value::drop("y", true), Value::drop("y", true), true, "drops"},
      {Value::drop("y", true), Value::drop("y", false), false, "drop flags"},
      {Value::drop("y", true), Value::boolean(true), false, "drop and boolean"},
  };
  for (const Row& r : rows) EXPECT_EQ(eql(r.a, r.b), r.equal) << r.what;
}

TEST_F(ValueTest, Containment) {
  struct Row { Value c, n; bool found; const char* what; };
  Row rows[] = {
      {Value::string("a1b"), Value::integer(1), true, "integer as text"},
      {Value::string("a-12"), Value::integer(-12), true, "negative integer as text"},
      {Value::string("abc"), Value::string(""), true, "empty needle"},
      {Value::string("true"), Value::boolean(true), false, "boolean needle"},
      {Value::string(""), Value::nil(), false, "nil needle"},
      {Value::string("1.5"), Value::floating(1.5), false, "float needle"},
      {arr({Value::integer(1), Value::string("x")}), Value::floating(1.0), true, "array by eql"},
      {arr({Value::boolean(false)}), Value::boolean(false), false, "false needle"},
      {arr({Value::nil()}), Value::nil(), false, "nil needle in array"},
      {arr({Value::string(" ")}), Value::blank(), true, "blank needle"},
      {obj({{"a", Value::integer(1)}}), Value::string("a"), false, "object keys"},
      {Value::range(arena, 1, 5), Value::integer(3), false, "range"},
  };
  for (const Row& r : rows) EXPECT_EQ(contains(r.c, r.n), r.found) << r.what;
}

std::string show(const std::optional<Value>& v) {
  if (!v) return "absent";
  if (v->is(Kind::Integer)) return std::to_string(v->asInt());
  if (v->is(Kind::String)) return "'" + std::string(v->str()) + "'";
  return std::string(kindName(v->kind()));
}

TEST_F(ValueTest, NamedAccess) {
  Value a = arr({Value::integer(10), Value::integer(20), Value::integer(30)});
  Value o = obj({{"size", Value::string("mine")}, {"x", Value::integer(1)}});
  struct Row { Value v; std::string_view name; std::string want; };
  Row rows[] = {
      {a, "0", "10"}, {a, "-1", "30"}, {a, "-3", "10"}, {a, "3", "absent"},
      {a, "-4", "absent"}, {a, "0_1", "20"}, {a, "+1", "absent"}, {a, "1x", "absent"},
      {a, "-", "absent"}, {a, "01", "20"}, {a, "1_", "absent"},
      {a, "-9223372036854775808", "absent"}, {a, "99999999999999999999", "absent"},
      {a, "first", "10"}, {a, "last", "30"}, {a, "size", "3"}, {a, "", "absent"},
      {arr({}), "first", "absent"}, {arr({}), "size", "0"},
      {o, "size", "'mine'"}, {o, "x", "1"}, {o, "first", "absent"},
      {obj({{"a", Value::nil()}}), "size", "1"}, {obj({{"", Value::integer(1)}}), "", "absent"},
      {Value::string("héllo"), "size", "6"}, {Value::string("ab"), "first", "absent"},
      {Value::range(arena, 5, 3), "size", "0"}, {Value::range(arena, 3, 5), "size", "3"},
      {Value::range(arena, 3, 5), "first", "3"}, {Value::range(arena, 3, 5), "last", "5"},
      {Value::range(arena, INT64_MIN, INT64_MAX), "size", std::to_string(INT64_MAX)},
      {Value::range(arena, -1, INT64_MAX - 1), "size", std::to_string(INT64_MAX)},
      {Value::integer(5), "size", "absent"}, {Value::nil(), "size", "absent"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(show(get(r.v, r.name)), r.want) << kindName(r.v.kind()) << " " << r.name;
  }
}

TEST_F(ValueTest, IndexAccessCountsBytesAndBothEnds) {
  Value s = Value::string("a\xC3\xA9");
  EXPECT_EQ(show(getIndex(s, 1)), "'\xC3'");
  EXPECT_EQ(getIndex(s, 1)->str().data(), s.str().data() + 1);
  EXPECT_EQ(show(getIndex(s, -3)), "'a'");
  EXPECT_EQ(show(getIndex(s, 3)), "absent");
  EXPECT_EQ(show(getIndex(s, -4)), "absent");
  EXPECT_EQ(show(getIndex(s, INT64_MIN)), "absent");
  EXPECT_EQ(show(getIndex(s, INT64_MAX)), "absent");
  Value a = arr({Value::integer(1), Value::integer(2)});
  EXPECT_EQ(show(getIndex(a, -2)), "1");
  EXPECT_EQ(show(getIndex(a, INT64_MIN)), "absent");
  EXPECT_EQ(show(getIndex(Value::range(arena, 1, 5), 0)), "absent");
}

TEST(ReadWholeInteger, Forms) {
  struct Row { std::string_view text; std::optional<int64_t> want; };
  Row rows[] = {
      {"0", 0}, {"-0", 0}, {"+7", 7}, {"007", 7}, {"1_000", 1000}, {"-1_2_3", -123},
      {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt}, {"-9223372036854775809", std::nullopt},
      {"", std::nullopt}, {"-", std::nullopt}, {"+", std::nullopt}, {"_1", std::nullopt},
      {"1_", std::nullopt}, {"1__0", std::nullopt}, {"-_1", std::nullopt}, {" 1", std::nullopt},
      {"1 ", std::nullopt}, {"1.0", std::nullopt}, {"--1", std::nullopt}, {"1e3", std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(readWholeInteger(r.text), r.want) << "'" << r.text << "'";
}

}  // namespace
}  // namespace mervalt

// display_text_test.cpp: the display text of floats, collections and reserved-key objects.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "memory/arena.h"
#include "data/display_text.h"
#include "data/json_input.h"
#include "data/value.h"

namespace mervalt {
namespace {

std::string floatText(double f) {
  std::pmr::string s;
  appendFloat(s, f);
  return std::string(s);
}

TEST(FloatText, WorkedExamplesAndEdges) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row { double value; const char* text; };
  Row rows[] = {
      // scientific from 1e15 on, two significant digits
      {1e15, "1.0e15"}, {1.25e15, "1.3e15"}, {-2e20, "-2.0e20"}, {9.96e20, "1.0e21"},
      {1.2e300, "1.2e300"}, {inf, "inf"}, {-inf, "-inf"}, {999999999999999.9, "999999999999999.9"},
      // below 0.0001: scientific only near a whole mantissa
      {0.00001, "1.0e-5"}, {0.00005, "5.0e-5"}, {-0.0000003, "-3.0e-7"}, {0.000012, "0.0"},
      {-0.000012, "0.0"}, {0.000099999, "1.0e-4"}, {5e-324, "0.0"},
      // positional with the cleanup of zero and nine runs
      {0.1, "0.1"}, {0.1 + 0.2, "0.3"}, {1.5, "1.5"}, {5.0, "5.0"}, {100.0, "100.0"},
      {-2.5, "-2.5"}, {0.0, "0.0"}, {-0.0, "0.0"}, {123.456, "123.456"}, {0.0001, "0.0001"},
      {0.1234567890123456, "0.123456789012346"}, {0.1999999, "0.2"}, {0.9999999, "1.0"},
      {-0.9999999, "-1.0"}, {1e14, "100000000000000.0"}, {3.0, "3.0"}, {2.675, "2.675"},
      {1.0 / 3, "0.333333333333333"}, {2.0 / 3, "0.666666666666667"},
      {0.7999999999999999, "0.8"}, {3.0000001, "3.0000001"}, {12.3456789, "12.3456789"},
      {-1.0 / 3, "-0.333333333333333"}, {123456789.123, "123456789.123"},
      // shortest digits that end in a run of nines still get the cleanup
      {6731051.15499999, "6731051.155"}, {47934.689999989, "47934.69"}, {7466618266.99999, "7466618267.0"},
      {nan, "nan"}, {-nan, "-nan"},
  };
  for (const Row& r : rows) EXPECT_EQ(floatText(r.value), r.text) << r.value;
}

class DisplayTest : public ::testing::Test {
 protected:
  std::string text(const Value& v) { return std::string(toString(v, arena)); }
  std::string json(std::string_view doc) {
    Value v = readJsonDocument(doc, arena);
    EXPECT_FALSE(v.isNil()) << doc;
    return text(v);
  }
  Arena arena{std::pmr::new_delete_resource()};
};

TEST_F(DisplayTest, ScalarsAndCollections) {
  EXPECT_EQ(text(Value::integer(INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(text(Value::integer(0)), "0");
  EXPECT_EQ(text(Value::nil()), "");
  EXPECT_EQ(text(Value::empty()), "");
  EXPECT_EQ(text(Value::blank()), "");
  EXPECT_EQ(text(Value::boolean(false)), "false");
  EXPECT_EQ(text(Value::range(arena, 3, 1)), "3..1");
  EXPECT_EQ(text(Value::range(arena, -3, 2)), "-3..2");
  EXPECT_EQ(text(Value::drop("yes", false)), "yes");
  EXPECT_EQ(text(Value::error("boom")), "boom");
  EXPECT_EQ(json(R"([1, [2, 3], "a", null, true, 1.5])"), "123atrue1.5");
  EXPECT_EQ(json("[]"), "");
}

TEST_F(DisplayTest, StringsHandBackTheirOwnBytes) {
  Value s = Value::string("abc");
  EXPECT_EQ(toString(s, arena).data(), s.str().data());
}

TEST_F(DisplayTest, ObjectInspectForm) {
  struct Row { const char* doc; const char* text; };
  Row rows[] = {
      {R"({"a":1,"b":"x"})", R"({"a"=>1, "b"=>"x"})"},
      {R"({})", "{}"},
      {R"({"":null,"n":null})", R"({""=>, "n"=>})"},
      {R"({"q":"say \"hi\""})", R"({"q"=>"say "hi""})"},
      {R"({":a":1})", "{:a=>1}"},
      {R"({"l":[1,"s",[2,"t"],{"k":"v"},null]})", R"({"l"=>[1, "s", 2t, {"k"=>"v"}, ]})"},
      {R"({"o":{"p":{}}})", R"({"o"=>{"p"=>{}}})"},
      {R"({"r":{"_mervalt_range":1,"start":1,"end":3},"f":0.5})", R"({"r"=>1..3, "f"=>0.5})"},
      // reserved keys, in the order they are tried
      {R"({"a":1,"_mervalt_recursive":false,"_mervalt_custom_to_s":"c"})", "{...}"},
      {R"({"_mervalt_custom_to_s":"custom","_mervalt_symbol":1,"name":"n"})", "custom"},
      {R"({"_mervalt_custom_to_s":5})", R"({"_mervalt_custom_to_s"=>5})"},
      {R"({"_mervalt_custom_to_s":5,"_mervalt_symbol":true,"name":"sym"})", ":sym"},
      {R"({"_mervalt_symbol":true,"name":7})", R"({"_mervalt_symbol"=>true, "name"=>7})"},
      {R"({"_mervalt_symbol":true})", R"({"_mervalt_symbol"=>true})"},
      {R"({"_mervalt_has_symbol_keys":true,":b":1})", "{:b=>1}"},
      {R"({"x":1,"_mervalt_has_hash_keys":true,"_mervalt_has_symbol_keys":1})", R"({"x"=>1})"},
      {R"({"_mervalt_has_hash_keys":true})", "{}"},
      {R"({"_mervalt_hash_key:{\"a\"=>1}":2})", R"({{"a"=>1}=>2})"},
      {R"({"_mervalt_hash_key":2})", R"({"_mervalt_hash_key"=>2})"},
      {R"({"s":{"_mervalt_symbol":1,"name":"x"},"d":{"_mervalt_boolean_drop":1,"truthy":0,"display":"D"}})",
       R"({"s"=>:x, "d"=>D})"},
  };
  for (const Row& r : rows) EXPECT_EQ(json(r.doc), r.text) << r.doc;
}

}  // namespace
}  // namespace mervalt

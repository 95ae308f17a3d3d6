// json_input_test.cpp: which documents are readable and how JSON becomes Values.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "small_stack.h"
#include "memory/arena.h"
#include "data/display_text.h"
#include "data/json_input.h"
#include "data/value.h"

namespace mervalt {
namespace {

// "Kind:text" of the value read from `doc`, or "nil" (what unreadable documents give).
std::string readAs(std::string_view doc) {
  Arena arena(std::pmr::new_delete_resource());
  Value v = readJsonDocument(doc, arena);
  if (v.isNil()) return "nil";
  return std::string(kindName(v.kind())) + ":" + std::string(toString(v, arena));
}

std::string nested(int depth, std::string_view inner = "1") {
  return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

TEST(JsonInput, StrictSyntax) {
  struct Row { std::string doc; const char* want; };
  Row rows[] = {
      {" \t\r\n[1,\n2]\r\n", "Array:12"}, {"{}", "Hash:{}"}, {"\"x\"", "String:x"},
      {"true", "Boolean:true"}, {"false ", "Boolean:false"}, {"12", "Integer:12"},
      {"", "nil"}, {"   ", "nil"}, {"[1] [2]", "nil"}, {"[1]]", "nil"},
      {"[1],", "nil"}, {"{\"a\":1}}", "nil"}, {"1 2", "nil"},
      {"\"x\" 1", "nil"}, {"true x", "nil"}, {"[1,]", "nil"},
      {"[,1]", "nil"}, {"[1 2]", "nil"}, {"{\"a\":1,}", "nil"},
      {"{\"a\" 1}", "nil"}, {"{\"a\":1 \"b\":2}", "nil"}, {"{1:2}", "nil"},
      {"{a:1}", "nil"}, {"{'a':1}", "nil"}, {"{\"a\"}", "nil"},
      {"[[1]", "nil"}, {"{\"a\":[1}", "nil"}, {"[\"a\"\"b\"]", "nil"},
      {"/*c*/1", "nil"}, {"[1]//c", "nil"}, {"[nul]", "nil"},
      {"[truex]", "nil"}, {"nulll", "nil"}, {"[\f]", "nil"},
      {"\xEF\xBB\xBF[]", "nil"}, {"[\"a\x01\"]", "nil"},
      {"[\"\xFF\"]", "nil"}, {"[\"\xED\xA0\x80\"]", "nil"}, {"[\"\\x\"]", "nil"},
      {"[\"\\u12\"]", "nil"}, {std::string("[\"a\0\"]", 6), "nil"},
      {"[\"\\u00e9\\n\"]", "Array:\xC3\xA9\n"}, {"\"\\uD834\\uDD1E\"", "String:\xF0\x9D\x84\x9E"},
      // lone surrogate escapes
      {"\"\\ud800\"", "nil"}, {"\"\\udc00\"", "nil"}, {"\"\\ud800x\"", "nil"},
      {"\"\\ud800\\u0041\"", "nil"}, {"\"\\udc00\\ud800\"", "nil"},
      {"{\"\\ud800\":1}", "nil"},
  };
  for (const Row& r : rows) EXPECT_EQ(readAs(r.doc), r.want) << r.doc;
}

TEST(JsonInput, NumberClassification) {
  struct Row { const char* doc; const char* want; };
  Row rows[] = {
      {"10", "Integer:10"}, {"-0", "Float:0.0"}, {"0", "Integer:0"}, {"1.0", "Float:1.0"},
      {"1e2", "Float:100.0"}, {"1E-2", "Float:0.01"}, {"-0.0", "Float:0.0"},
      {"9223372036854775807", "Integer:9223372036854775807"},
      {"-9223372036854775808", "Integer:-9223372036854775808"},
      {"[9223372036854775808]", "Array:"}, {"[-9223372036854775809]", "Array:"},
      {"[18446744073709551616]", "Array:"}, {"[1e400]", "Array:"}, {"[-1e400]", "Array:"},
      {"1.7976931348623157e308", "Float:1.8e308"}, {"[1.7976931348623159e308]", "Array:"},
      {"1e300", "Float:1.0e300"}, {"1e-400", "Float:0.0"}, {"[1e00000000000000000000001]", "Array:10.0"},
      {"0.1e-99999999999999999999", "Float:0.0"}, {"123456789012345678901234567890e-10", "Float:1.2e19"},
      {"999999999999999999", "Integer:999999999999999999"},
      {"-999999999999999999", "Integer:-999999999999999999"},
      {"1000000000000000000", "Integer:1000000000000000000"},
      {"-1234567890123456789", "Integer:-1234567890123456789"}, {"-0e0", "Float:0.0"},
      {"01", "nil"}, {"-01", "nil"}, {"[00]", "nil"}, {"-00", "nil"}, {"1.", "nil"}, {".5", "nil"},
      {"+1", "nil"}, {"1.e5", "nil"}, {"1e", "nil"}, {"1e+", "nil"},
      {"-", "nil"}, {"[1x]", "nil"}, {"0x10", "nil"}, {"[Infinity]", "nil"},
      {"[NaN]", "nil"}, {"[-]", "nil"},
  };
  for (const Row& r : rows) EXPECT_EQ(readAs(r.doc), r.want) << r.doc;
}

TEST(JsonInput, NumbersOutOfRangeAreNilInsideReadableDocuments) {
  Arena arena(std::pmr::new_delete_resource());
  Value v = readJsonDocument(R"({"big":9223372036854775808,"inf":1e400,"ok":1})", arena);
  ASSERT_TRUE(v.is(Kind::Object));
  EXPECT_TRUE(v.map().get("big")->isNil());
  EXPECT_TRUE(v.map().get("inf")->isNil());
  EXPECT_EQ(v.map().get("ok")->asInt(), 1);
  Value z = readJsonDocument("-0", arena);
  EXPECT_TRUE(z.is(Kind::Float) && std::signbit(z.asFloat()));
  EXPECT_EQ(readJsonDocument("1e-400", arena).asFloat(), 0.0);
  EXPECT_EQ(readJsonDocument("4e-324", arena).asFloat(), 5e-324);
}

TEST(JsonInput, RepeatedKeysMakeTheDocumentUnreadable) {
  std::string wide = "{";
  for (int i = 0; i < 500; ++i) wide += "\"key" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  std::string readable = wide + "\"last\":0}";
  std::string repeated = wide + "\"key250\":0}";
  struct Row { std::string doc; const char* want; };
  Row rows[] = {
      {R"({"a":1,"a":1})", "nil"},
      {R"({"a":1,"\u0061":2})", "nil"},
      {R"({"\u00e9":1,"é":2})", "nil"},
      {R"([1,{"x":{"k":1,"b":2,"k":3}}])", "nil"},
      {R"({"_mervalt_range":1,"start":1,"end":2,"end":3})", "nil"},
      {R"({"a":{"a":1},"b":{"a":2}})", R"(Hash:{"a"=>{"a"=>1}, "b"=>{"a"=>2}})"},
      {R"({"A":1,"a":2,"a ":3})", R"(Hash:{"A"=>1, "a"=>2, "a "=>3})"},
      {repeated, "nil"},
  };
  for (const Row& r : rows) EXPECT_EQ(readAs(r.doc), r.want) << r.doc;
  Arena arena(std::pmr::new_delete_resource());
  Value v = readJsonDocument(readable, arena);
  ASSERT_TRUE(v.is(Kind::Object));
  ASSERT_EQ(v.map().size(), 501u);
  EXPECT_EQ(v.map().keyAt(499), "key499");
  EXPECT_EQ(v.map().get("key321")->asInt(), 321);
}

TEST(JsonInput, ValuesOutliveTheText) {
  Arena arena(std::pmr::new_delete_resource());
  std::string doc = R"({"zebra":"z","apple":["a"]})";
  Value v = readJsonDocument(doc, arena);
  doc.assign(doc.size(), '#');
  ASSERT_TRUE(v.is(Kind::Object));
  EXPECT_EQ(v.map().keyAt(0), "zebra");
  EXPECT_EQ(v.map().valueAt(0).str(), "z");
  EXPECT_EQ(v.map().valueAt(1).items()[0].str(), "a");
}

TEST(JsonInput, ReservedKeys) {
  struct Row { const char* doc; const char* want; };
  Row rows[] = {
      {R"({"_mervalt_range":true,"start":1,"end":5})", "Range:1..5"},
      {R"({"_mervalt_range":null,"start":1.9,"end":-2.7,"x":1})", "Range:1..-2"},
      {R"({"end":3,"start":"7","_mervalt_range":0})", "Range:0..3"},
      {R"({"_mervalt_range":1,"start":1e300,"end":-1e300})",
       "Range:9223372036854775807..-9223372036854775808"},
      {R"({"_mervalt_range":1,"start":true,"end":[1]})", "Range:0..0"},
      {R"({"_mervalt_range":1,"start":99999999999999999999,"end":{"_mervalt_range":1,"start":1,"end":2}})",
       "Range:0..0"},
      {R"({"_mervalt_range":1,"start":1})", "nil"},
      {R"({"_mervalt_range":1,"end":1})", "nil"},
      {R"({"_mervalt_boolean_drop":1,"_mervalt_range":1,"start":2,"end":1})", "Range:2..1"},
      {R"({"_mervalt_boolean_drop":1,"_mervalt_range":1,"truthy":true,"display":"d"})", "nil"},
      {R"({"_mervalt_boolean_drop":1,"truthy":false,"display":"no"})", "BooleanDrop:no"},
      {R"({"_mervalt_boolean_drop":1,"truthy":true,"display":5})", "BooleanDrop:"},
      {R"({"_mervalt_boolean_drop":1,"truthy":true})", "nil"},
      {R"({"_mervalt_boolean_drop":1,"display":"x"})", "nil"},
      {R"({"_mervalt_range":1,"start":1,"end":2,"bad":[1,]})", "nil"},
      {R"([{"_mervalt_range":1,"start":1,"end":2}])", "Array:1..2"},
      {R"({"_mervalt_symbol":1,"name":"s"})", "Hash::s"},
      {R"({"_mervalt_rangex":1,"start":1,"end":2})", R"(Hash:{"_mervalt_rangex"=>1, "start"=>1, "end"=>2})"},
  };
  for (const Row& r : rows) EXPECT_EQ(readAs(r.doc), r.want) << r.doc;

  // Only JSON true makes a drop truthy.
  Arena arena(std::pmr::new_delete_resource());
  auto truthy = [&](std::string_view flag) {
    std::string doc = R"({"_mervalt_boolean_drop":0,"display":"","truthy":)" + std::string(flag) + "}";
    return isTruthy(readJsonDocument(doc, arena));
  };
  EXPECT_TRUE(truthy("true"));
  for (std::string_view flag : {"1", "\"true\"", "false", "null"}) EXPECT_FALSE(truthy(flag)) << flag;
}

TEST(JsonInput, DepthBound) {
  EXPECT_EQ(readAs(nested(kMaxJsonDepth)), "Array:1");
  EXPECT_EQ(readAs(nested(kMaxJsonDepth + 1)), "nil");
  std::string objects, inspect;
  for (int i = 0; i < kMaxJsonDepth; ++i) {
    objects += "{\"a\":";
    inspect += "{\"a\"=>";
  }
  std::string closing(kMaxJsonDepth, '}');
  EXPECT_EQ(readAs(objects + "1" + closing), "Hash:" + inspect + "1" + closing);
  EXPECT_EQ(readAs("[" + objects + "1" + closing + "]"), "nil");
  EXPECT_EQ(readAs(nested(100000)), "nil");
}

// The document is read on the caller's thread, which may have a small stack.
TEST(JsonInput, DeepestDocumentFitsInASmallThreadStack) {
  std::string inner;
  for (int i = 0; i < kMaxJsonDepth - 1; ++i) inner += i % 2 ? "[" : "{\"k\":";
  std::string closing;
  for (int i = kMaxJsonDepth - 2; i >= 0; --i) closing += i % 2 ? "]" : "}";
  const std::string doc = "[" + inner + "\"leaf\"" + closing + "]";
  std::string text;
  ASSERT_TRUE(mervalt::test::runOnSmallStack([&] {
    Arena arena(std::pmr::new_delete_resource());
    text = std::string(toString(readJsonDocument(doc, arena), arena));
  }));
  EXPECT_NE(text.find("leaf"), std::string::npos);
}

TEST(JsonInput, ArenaExhaustionThrowsAndNothingElse) {
  std::string doc = "[";
  for (int i = 0; i < 3000; ++i) doc += R"({"a":[1,2,{"b":"text","c":[true,null,1.5]}],"d":"more"},)";
  doc += "0]";
  bool succeeded = false;
  for (uint64_t failAt = 1; !succeeded && failAt < 200; ++failAt) {
    HeapResource heap({}, failAt);
    Arena arena(&heap);
    try {
      Value v = readJsonDocument(doc, arena);
      ASSERT_TRUE(v.is(Kind::Array));
      succeeded = true;
    } catch (const std::bad_alloc&) {
    }
  }
  EXPECT_TRUE(succeeded);
}

}  // namespace
}  // namespace mervalt

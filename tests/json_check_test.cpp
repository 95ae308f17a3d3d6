// json_check_test.cpp: where and why a data document is unreadable, and that
// the verdict agrees with the library's own reading of the document.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "data/json_check.h"
#include "mervalt.h"

namespace mervalt {
namespace {

// "LINE:COLUMN: message", or "ok".
std::string problem(std::string_view json) {
  std::optional<JsonProblem> p = findJsonProblem(json);
  if (!p) return "ok";
  return std::to_string(p->line) + ":" + std::to_string(p->column) + ": " + p->message;
}

TEST(JsonCheck, NamesTheProblemAndWhereItIs) {
  struct Case {
    std::string_view json, report;
  } cases[] = {
      {"{\n  \"a\": [1, 2,],\n}", "2:13: trailing comma before ']'"},
      {"[1 2]", "1:4: missing ',' before '2'"},
      {"{\"a\" 1}", "1:6: expected ':' after the key, found '1'"},
      {"{a: 1}", "1:2: expected a double-quoted key, found 'a'"},
      {"{\"a\": }", "1:7: expected a value, found '}'"},
      {"[tru]", "1:2: invalid literal 'tru'"},
      {"[01]", "1:2: invalid number '01'"},
      {"[1]\n// note", "2:1: unexpected '/' after the JSON value"},
      {"/* note */ [1]", "1:1: comments are not allowed"},
      {"{'a': 1}", "1:2: strings need double quotes"},
      {"[1, [2]", "1:1: '[' is never closed"},
      {"[\"a\\q\"]", "1:4: invalid escape '\\q'"},
      {"[\"\\uD800 \"]", "1:3: unpaired surrogate '\\uD800'"},
      {"[\"tab\there\"]", "1:6: unescaped control character 0x09 in a string"},
      {"[\"\xff\"]", "1:3: invalid UTF-8"},
      {"[\"\xc0\xaf\"]", "1:3: invalid UTF-8"},          // an overlong form
      {"[\"\xed\xa0\x80\"]", "1:3: invalid UTF-8"},      // a surrogate
      {"[\"\xf4\x90\x80\x80\"]", "1:3: invalid UTF-8"},  // beyond U+10FFFF
      {"[\"\\u12\"]", "1:3: invalid escape '\\u12'"},
      {"[\"\\uDC00\"]", "1:3: unpaired surrogate '\\uDC00'"},
      {"[\"a\\\x01\"]", "1:5: unescaped control character 0x01 in a string"},
      {"[\x01]", "1:2: expected a value, found '\\x01'"},
      {"[1e]", "1:2: invalid number '1e'"},
      {",", "1:1: unexpected ','"},
      {"[\"abc", "1:2: string is never closed"},
      {"{\"a\": 1, \"\\u0061\": 2}", "1:10: key \"a\" repeated within one object"},
      {" \n ", "1:1: no JSON value, only whitespace"},
      {"", "ok"},
      {"{\"x\": {\"a\": 1}, \"y\": {\"a\": 1}}", "ok"},
  };
  for (const Case& c : cases) EXPECT_EQ(problem(c.json), c.report) << c.json;
}

// Whether the library reads the document: every document below that it reads
// is an array, an object or a string, which shows a size to the template.
bool libraryReads(const std::string& json) {
  const char* tpl = "{{ size }}";
  char* out = nullptr;
  std::size_t len = 0;
  if (mervalt_render_json(tpl, std::strlen(tpl), json.data(), json.size(), &out, &len) != 0) return false;
  mervalt_free(out, len);
  return len != 0;
}

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonCheck, AgreesWithTheLibrary) {
  const std::string documents[] = {
      "[1, 2.5e3, -0, true, false, null, \"\\u00e9\\ud83d\\ude00\", {}]",
      "{\"a\": {\"a\": 1}, \"b\": [99999999999999999999, 1e400]}",
      " \"text\" ",
      "[1,]",
      "[1] x",
      "\"a\" \"b\"",
      "[\"\\ud800\"]",
      "[\"\\udc00\\ud800\"]",
      "[\"\\x\"]",
      "[\"\x01\"]",
      "[\"\xc0\x80\"]",
      "[\"\xed\xa0\x80\"]",
      "{\"k\": 1, \"k\": 1}",
      "[-]",
      "[1.]",
      "[.5]",
      "[1e5x]",
      "[nul]",
      "{\"a\" 1}",
      nested(128),
      nested(129),
      "{\"a\":" + nested(127) + "}",
      "{\"a\":" + nested(128) + "}",
  };
  for (const std::string& json : documents)
    EXPECT_EQ(!findJsonProblem(json).has_value(), libraryReads(json)) << json.substr(0, 60);
}

}  // namespace
}  // namespace mervalt

// parse_error_test.cpp: what a template that does not parse reports, and where.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "memory/arena.h"
#include "parse/parser.h"
#include "api/call.h"
#include "render/renderer.h"

namespace mervalt {
namespace {

// "LINE:COLUMN: what()" of the failure, or "parsed".
std::string failure(std::string_view source) {
  HeapResource heap;
  Arena arena(&heap);
  NameTable names(arena.resource());
  try {
    parseTemplate(source, arena, names);
    return "parsed";
  } catch (const ParseError& e) {
    return std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.what();
  }
}

struct Case {
  std::string_view source;
  std::string_view report;
};

void expectReports(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(failure(c.source), c.report) << "template: " << c.source;
}

TEST(ParseErrors, UnclosedDelimitersPointAtTheirOpener) {
  expectReports({
      {"a\n {{ name", "2:2: '{{' is never closed"},
      {"{{ name ", "1:1: '{{' is never closed"},
      {"x {{", "1:3: '{{' is never closed"},
      {"{% if a %}b\n{%- if c", "2:1: '{%-' is never closed"},
      {"{% if a %}{% endif", "1:11: '{%' is never closed"},
  });
}

TEST(ParseErrors, TagsOutOfPlaceNameTheOpenBlock) {
  expectReports({
      {"{% if a %}\n  {% for x in y %}\n{% endif %}",
       "3:4: 'endif' does not close the open 'for' (opened at 2:3)"},
      {"{% capture x %}{% else %}", "1:19: 'else' is not allowed in 'capture' (opened at 1:1)"},
      {"{% endfor %}", "1:4: 'endfor' without an open 'for'"},
      {"{% when 1 %}", "1:4: 'when' outside of any block"},
      {"{% case x %}{% assign y = 1 %}", "1:16: 'assign' is not allowed directly in 'case' (opened at 1:1)"},
      // A case ends at an output before its first when; comments hide their tags.
      {"{% case x %}{{ y }}{% endcase %}", "1:23: 'endcase' without an open 'case'"},
      {"{% if a %}{% comment %}{% for %}{% endcomment %}{% endfor %}",
       "1:52: 'endfor' does not close the open 'if' (opened at 1:1)"},
      {"{% endfo %}", "1:4: unknown tag 'endfo'"},
      {"{% %}", "1:4: a tag without a name"},
      {"{% @ %}", "1:4: expected a tag name, found character '@'"},
  });
}

TEST(ParseErrors, ExpressionsAndTagArguments) {
  expectReports({
      {"{{ | a }}", "1:4: unexpected '|' in expression"},
      {"{% if a and , %}", "1:13: unexpected ',' in expression"},
      {"{% if %}", "1:7: expected an expression before '%}'"},
      {"{{ a | }}", "1:8: expected a filter name after '|', found '}}'"},
      {"{{ x.blank }}", "1:6: expected a property name after '.', found 'blank'"},
      {"{{ (1..3 }}", "1:10: expected ')' after '3', found '}}'"},
      {"{% for i x %}", "1:10: expected 'in' after 'i', found 'x'"},
      {"{% for 1 in x %}", "1:8: expected a loop variable after 'for', found '1'"},
      {"{% echo a junk %}", "1:11: unexpected 'junk' in 'echo' tag"},
      {"{% cycle 'a' 'b' 'c' %}", "1:18: unexpected string 'c' in 'cycle' tag"},
      {"{% if a %}{% endif x %}", "1:20: unexpected 'x' in 'endif' tag"},
      {"{% assign = 1 %}", "1:11: expected a variable name after 'assign', found '='"},
  });
}

TEST(ParseErrors, LiquidStatementsReportWhereTheyAreWritten) {
  expectReports({
      {"{% liquid\n  assign a = 1\n  if a\n    endfor\n  endif\n%}",
       "4:5: 'endfor' does not close the open 'if' (opened at 3:3)"},
      {"x\n{% liquid\n  liquid echo a junk\n%}", "3:17: unexpected 'junk' in 'echo' tag"},
  });
}

TEST(ParseErrors, NestingBeyondTheBoundIsReportedWhereItHappens) {
  std::string deep;
  for (int i = 0; i <= kMaxParseDepth; ++i) deep += "{% if a %}";
  EXPECT_EQ(failure(deep), "1:" + std::to_string(kMaxParseDepth * 10 + 7) +
                               ": blocks and expressions nest deeper than " + std::to_string(kMaxParseDepth) +
                               " levels");
}

// A partial that does not parse is named, with the position in its own text.
TEST(ParseErrors, PartialsAreNamed) {
  auto partialFailure = [](std::string_view json) {
    HeapResource heap;
    try {
      renderCall("{% for i in (1..2) %}{% render 'outer' %}{% endfor %}", json, heap, {});
      return std::string("rendered");
    } catch (const ParseError& e) {
      return e.partial + " " + std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.what();
    }
  };
  EXPECT_EQ(partialFailure(R"({"templates": {"outer": "ok\n{% endfo %}"}})"),
            "outer 2:4: unknown tag 'endfo'");
  // The innermost partial is named, not the one that includes it.
  EXPECT_EQ(partialFailure(R"({"templates": {"outer": "{% include 'inner' %}", "inner": "{{ x"}})"),
            "inner 1:1: '{{' is never closed");
}

}  // namespace
}  // namespace mervalt

// lexer_test.cpp: token streams of the template scanner for tricky input.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "parse/lexer.h"

namespace mervalt {
namespace {

std::string kindName(TokenKind k) {
  static constexpr std::string_view kNames[] = {
      "Text",   "String", "Integer", "Float",  "RawText", "Identifier", "Nil",    "True",   "False",  "Blank",
      "Empty",  "Body",   "Hash",    "{{",     "}}",      "{%",         "%}",     "{{-",    "-}}",    "{%-",
      "-%}",    "|",      ".",       ",",      ":",       "(",          ")",      "[",      "]",      "..",
      "==",     "!=",     "<",       ">",      "<=",      ">=",         "=",
  };
  auto v = static_cast<std::size_t>(k);
  if (v < std::size(kNames)) return std::string(kNames[v]);
  if (k == TokenKind::EndOfInput) return "EOI";
  if (k == TokenKind::Invalid) return "Invalid";
  return "Kw";
}

// Kinds separated by spaces; tokens that carry text other than their fixed
// spelling show it in quotes. Invalid tokens show the scanner's message.
std::string dump(std::string_view source) {
  std::string out;
  for (const Token& t : scanTemplate(source)) {
    if (!out.empty()) out += ' ';
    std::string name = kindName(t.kind);
    out += name;
    bool fixed = name != "Kw" && (name.front() < 'A' || name.front() > 'Z') && t.text == name;
    if (t.kind == TokenKind::Invalid)
      out += "\"" + std::string(scanMessage(t)) + "\"";
    else if (!fixed && t.kind != TokenKind::EndOfInput && t.kind != TokenKind::Hash)
      out += "\"" + std::string(t.text) + "\"";
  }
  return out;
}

struct ScanCase {
  std::string_view source;
  std::string_view tokens;
};

TEST(Scanner, TokenStreams) {
  const ScanCase cases[] = {
      {"", "EOI"},
      {"abc", "Text\"abc\" EOI"},
      {"a{{b}}c", "Text\"a\" {{ Identifier\"b\" }} Text\"c\" EOI"},
      {"a { b % c {", "Text\"a { b % c {\" EOI"},
      // The one "-" closes a trimmed output on both sides.
      {"{{-}}", "{{- -}}\"}}\" EOI"},
      {"{{- }}", "{{- -}}\"}}\" EOI"},
      {"{{ x -}}{%- y -%}", "{{ Identifier\"x\" -}} {%- Identifier\"y\" -%} EOI"},
      // Trailing whitespace in an unfinished output or tag is reported.
      {"{{ x ", "{{ Identifier\"x\" Invalid\"Unexpected end of input in output\" EOI"},
      {"{{ x", "{{ Identifier\"x\" EOI"},
      {"{% x \n", "{% Identifier\"x\" Invalid\"Unexpected end of input in tag\" EOI"},
      {"{{", "{{ EOI"},
      // Strings: no escapes, a backslash protects the next byte, closers end them.
      {"{{ 'it''s' }}", "{{ String\"it\" String\"s\" }} EOI"},
      {"{{ \"a\\\"b\" }}", "{{ String\"a\\\"b\" }} EOI"},
      {"{{ 'abc }}", "{{ String\"abc \" }} EOI"},
      {"{% x 'abc -%}", "{% Identifier\"x\" String\"abc \" -%} EOI"},
      {"{{ 'a\\", "{{ String\"a\\\" EOI"},
      // A bar in a string of blanks starts a filter unless a colon follows its name.
      {"{{ ' | upcase }}", "{{ String\" \" | Identifier\"upcase\" }} EOI"},
      {"{{ ' |x:1' }}", "{{ String\" |x:1\" }} EOI"},
      {"{{ 'a | upcase' }}", "{{ String\"a | upcase\" }} EOI"},
      {"{{ '| 1' }}", "{{ String\"| 1\" }} EOI"},
      // Numbers, ranges and names that start with digits.
      {"{{ -5 -5.25 - 5 }}", "{{ Integer\"-5\" Float\"-5.25\" Identifier\"-\" Integer\"5\" }} EOI"},
      {"{{ (1...3) 1..5 1. }}",
       "{{ ( Integer\"1\" ..\"...\" Integer\"3\" ) Integer\"1\" .. Integer\"5\" Integer\"1\" . }} EOI"},
      {"{{ 3abc -2x 1.5e3 1.5.3 }}",
       "{{ Identifier\"3abc\" Identifier\"-2x\" Identifier\"1.5e3\" Float\"1.5\" . Integer\"3\" }} EOI"},
      // Names take "-" and a final "?", but not a closer's "-".
      {"{{ x | a-b? }}", "{{ Identifier\"x\" | Identifier\"a-b?\" }} EOI"},
      {"{{ x-}}", "{{ Identifier\"x\" -}} EOI"},
      {"{{ x- }}", "{{ Identifier\"x-\" }} EOI"},
      {"{{ empty? a?b }}", "{{ Identifier\"empty?\" Identifier\"a?\" Identifier\"b\" }} EOI"},
      {"{% a -%}", "{% Identifier\"a\" -%} EOI"},
      {"{{ a -%} }}", "{{ Identifier\"a\" Invalid\"-\" Invalid\"%\" Invalid\"}\" }} EOI"},
      // Operators.
      {"{{ a <> b != c ! d }}",
       "{{ Identifier\"a\" !=\"<>\" Identifier\"b\" != Identifier\"c\" Invalid\"Unexpected character: !\" "
       "Identifier\"d\" }} EOI"},
      {"{{ a=>b == <= >= < > @ }}",
       "{{ Identifier\"a\" = > Identifier\"b\" == <= >= < > Invalid\"@\" }} EOI"},
      // Keywords are exact and case-sensitive.
      {"{{ NULL null True true nil }}", "{{ Identifier\"NULL\" Nil\"null\" Identifier\"True\" True\"true\" Nil\"nil\" }} EOI"},
      // "#" comments out the rest of a tag, whatever it holds.
      {"{% if x # note %}", "{% Kw\"if\" Identifier\"x\" Hash %} EOI"},
      {"{% # a {{ 'b %}c", "{% Hash %} Text\"c\" EOI"},
      {"{%- # a -%}", "{%- Hash -%} EOI"},
      {"{% # never closed", "{% Hash Invalid\"Unexpected end of input in tag\" EOI"},
      // The liquid tag's body is one token.
      {"{%liquid\nassign a = 1\n%}", "{% Kw\"liquid\" Body\"\nassign a = 1\n\" %} EOI"},
      {"{% liquid echo a-%}b", "{% Kw\"liquid\" Body\" echo a\" -%} Text\"b\" EOI"},
      {"{% liquid %}", "{% Kw\"liquid\" Body\" \" %} EOI"},
      {"{%liquid-%}", "{% Kw\"liquid\" -%} EOI"},
      {"{% liquid {{ x", "{% Kw\"liquid\" Body\" {{ x\" EOI"},
      {"{% x liquid %}", "{% Identifier\"x\" Kw\"liquid\" %} EOI"},
  };
  for (const ScanCase& c : cases) EXPECT_EQ(dump(c.source), c.tokens) << "source: " << c.source;
}

TEST(Scanner, RawBlocks) {
  const ScanCase cases[] = {
      {"{% raw %}{{ a }}{% endif %}{%- endraw -%}",
       "{% Kw\"raw\" %} RawText\"{{ a }}{% endif %}\" {%- Kw\"endraw\" -%} EOI"},
      {"{% raw %}{% endraw %}", "{% Kw\"raw\" %} RawText\"\" {% Kw\"endraw\" %} EOI"},
      {"{% raw %}", "{% Kw\"raw\" %} EOI"},
      {"{% raw %}a{{b", "{% Kw\"raw\" %} RawText\"a{{b\" EOI"},
      // Only spaces and tabs may stand between "{%" and "endraw"; what follows it is not checked.
      {"{% raw %}a{%\t endraw\t%}b", "{% Kw\"raw\" %} RawText\"a\" {% Kw\"endraw\" %} Text\"b\" EOI"},
      {"{% raw %}a{%\nendraw %}b{% endraw %}", "{% Kw\"raw\" %} RawText\"a{%\nendraw %}b\" {% Kw\"endraw\" %} EOI"},
      {"{% raw %}a{% endrawx y %}", "{% Kw\"raw\" %} RawText\"a\" {% Kw\"endraw\" Text\"x y %}\" EOI"},
      // Only the first token of a tag makes it a raw tag.
      {"{% x raw %}{{ a }}", "{% Identifier\"x\" Kw\"raw\" %} {{ Identifier\"a\" }} EOI"},
  };
  for (const ScanCase& c : cases) EXPECT_EQ(dump(c.source), c.tokens) << "source: " << c.source;
}

TEST(Scanner, KeywordsCoverTheirKindsInOrder) {
  const char* const words[] = {
      "if",       "elsif",    "else",        "endif",     "unless",    "endunless", "case",     "when",
      "endcase",  "for",      "endfor",      "break",     "continue",  "in",        "assign",   "capture",
      "endcapture", "increment", "decrement", "cycle",    "tablerow",  "endtablerow", "include", "render",
      "raw",      "endraw",   "comment",     "endcomment", "liquid",   "echo",      "and",      "or",
      "not",      "contains", "with",        "as",        "limit",     "offset",    "reversed", "cols",
      "ifchanged", "endifchanged", "doc",    "enddoc",
  };
  static_assert(std::size(words) == 44);
  for (std::size_t i = 0; i < std::size(words); ++i) {
    std::string source = std::string("{{ ") + words[i] + " }}";
    auto t = scanTemplate(source);
    EXPECT_EQ(static_cast<int>(t[1].kind), 37 + static_cast<int>(i)) << words[i];
    EXPECT_EQ(t[1].text, words[i]);
  }
  EXPECT_EQ(keywordKind("blank"), TokenKind::Blank);
  EXPECT_EQ(keywordKind("empty"), TokenKind::Empty);
  EXPECT_EQ(keywordKind("false"), TokenKind::False);
  EXPECT_EQ(keywordKind("i"), TokenKind::Identifier);
  EXPECT_EQ(keywordKind("endifchangedx"), TokenKind::Identifier);
}

TEST(Scanner, LinesAndColumns) {
  auto t = scanTemplate("ab\n{{ x\n  y }}\n{% # c\n %}z");
  ASSERT_GE(t.size(), 9u);
  auto at = [&](std::size_t i) { return std::pair<uint32_t, uint32_t>(t[i].line, t[i].column); };
  EXPECT_EQ(at(0), (std::pair<uint32_t, uint32_t>(1, 1)));  // Text "ab\n"
  EXPECT_EQ(at(1), (std::pair<uint32_t, uint32_t>(2, 1)));  // {{
  EXPECT_EQ(at(2), (std::pair<uint32_t, uint32_t>(2, 4)));  // x
  EXPECT_EQ(at(3), (std::pair<uint32_t, uint32_t>(3, 3)));  // y
  EXPECT_EQ(at(4), (std::pair<uint32_t, uint32_t>(3, 5)));  // }}
  EXPECT_EQ(at(7), (std::pair<uint32_t, uint32_t>(4, 4)));  // Hash
  EXPECT_EQ(at(8), (std::pair<uint32_t, uint32_t>(5, 2)));  // %}
  EXPECT_EQ(t.back().kind, TokenKind::EndOfInput);
  EXPECT_EQ(at(t.size() - 1), (std::pair<uint32_t, uint32_t>(5, 5)));
}

// A "!" becomes an Invalid token whose text is the source byte, so that an
// if condition can report it as the operator written.
TEST(Scanner, InvalidTokensKeepTheirSourceText) {
  auto t = scanTemplate("{{ a ! b }}");
  ASSERT_EQ(t[2].kind, TokenKind::Invalid);
  EXPECT_EQ(t[2].text, "!");
  EXPECT_EQ(scanMessage(t[2]), "Unexpected character: !");
}

}  // namespace
}  // namespace mervalt

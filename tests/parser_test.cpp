// parser_test.cpp: tree shapes, parse failures and the nesting bound.
#include <gtest/gtest.h>
#include <pthread.h>

#include <span>
#include <string>
#include <string_view>

#include "small_stack.h"
#include "memory/arena.h"
#include "filters/filter_table.h"
#include "parse/parser.h"

namespace mervalt {
namespace {

const char* kindName(NodeKind k) {
  static constexpr const char* kNames[] = {
      "Root",    "Text",      "Output",    "Variable",  "String",   "Integer",  "Float",   "Boolean",
      "Nil",     "Empty",     "Blank",     "Range",     "Filter",   "Property", "Index",   "If",
      "Unless",  "Elsif",     "Else",      "For",       "Assign",   "Capture",  "Case",    "When",
      "Cycle",   "Increment", "Decrement", "Tablerow",  "Include",  "Render",   "Raw",     "Comment",
      "InlineComment", "Liquid", "Echo",   "Break",     "Continue", "Ifchanged", "Doc",    "Arg",
      "Cmp",     "Logical",   "Filtered",
  };
  return kNames[static_cast<int>(k)];
}

// The main text of a node, its name (a filter's, an alias) and its operator.
struct Texts {
  std::string_view text, name, op, invalidOp;
};

Texts textsOf(const Node& n) {
  switch (n.kind) {
    case NodeKind::Text:
    case NodeKind::Raw: return {n.text.content, {}, {}, {}};
    case NodeKind::Variable: return {n.variable.name, {}, {}, {}};
    case NodeKind::String:
    case NodeKind::Integer:
    case NodeKind::Float:
    case NodeKind::Boolean: return {n.literal.text, {}, {}, {}};
    case NodeKind::Property: return {n.property.member, {}, {}, {}};
    case NodeKind::Filter: return {{}, n.filter.name, {}, {}};
    case NodeKind::NamedArgument: return {n.argument.key, n.argument.alias, {}, {}};
    case NodeKind::For:
    case NodeKind::Tablerow: return {n.loop.variable, {}, {}, n.kind == NodeKind::For ? "" : ""};
    case NodeKind::Assign:
    case NodeKind::Capture: return {n.target.name, {}, {}, {}};
    case NodeKind::Cycle: return {n.cycle.group, {}, {}, {}};
    case NodeKind::Increment:
    case NodeKind::Decrement: return {n.counter.name, {}, {}, {}};
    case NodeKind::Comparison:
    case NodeKind::Logical: return {{}, {}, n.op.text, {}};
    case NodeKind::If:
    case NodeKind::Unless:
    case NodeKind::Elsif: return {{}, {}, {}, n.condition.invalidOperator};
    default: return {};
  }
}

// Kind, then "text" (always shown for variables), then :name, the operator,
// !invalid-operator and the set trim flags as <l r el er>; children in [...],
// filter arguments in (...).
std::string dump(const Node& n) {
  std::string s = kindName(n.kind);
  Texts t = textsOf(n);
  if (!t.text.empty() || n.kind == NodeKind::Variable) s += "\"" + std::string(t.text) + "\"";
  if (!t.name.empty()) s += ":" + std::string(t.name);
  if (!t.op.empty()) s += " " + std::string(t.op);
  if (!t.invalidOp.empty()) s += " !" + std::string(t.invalidOp);
  std::string flags;
  if (n.trimLeft) flags += " l";
  if (n.trimRight) flags += " r";
  if (n.endTrimLeft) flags += " el";
  if (n.endTrimRight) flags += " er";
  if (!flags.empty()) s += "<" + flags.substr(1) + ">";
  auto list = [](std::span<const Node> nodes) {
    std::string out;
    for (const Node& c : nodes) out += (out.empty() ? "" : ", ") + dump(c);
    return out;
  };
  if (!n.children.empty()) s += "[" + list(n.children) + "]";
  if (n.kind == NodeKind::Filter) s += "(" + list(n.filterArgs()) + ")";
  return s;
}

// The dump of the Root's children, or "FAIL".
std::string parsed(std::string_view source) {
  HeapResource heap;
  Arena arena(&heap);
  NameTable names(arena.resource());
  try {
    const Node& root = *parseTemplate(source, arena, names).root;
    std::string out;
    for (const Node& c : root.children) out += (out.empty() ? "" : ", ") + dump(c);
    return out;
  } catch (const ParseError&) {
    return "FAIL";
  }
}

struct ShapeCase {
  std::string_view source;
  std::string_view tree;
};

void expectShapes(std::initializer_list<ShapeCase> cases) {
  for (const ShapeCase& c : cases) EXPECT_EQ(parsed(c.source), c.tree) << "template: " << c.source;
}

TEST(Parser, Outputs) {
  expectShapes({
      {"", ""},
      {"abc", "Text\"abc\""},
      {"{{ }}", "Output[String]"},
      {"{{-}}", "Output<l r>[String]"},
      {"{{ a.b[0]['c'] }}", "Output[Index[Index[Property\"b\"[Variable\"a\"], Integer\"0\"], String\"c\"]]"},
      {"{{ ['x'] }}", "Output[Variable\"x\"]"},
      {"{{ ['a b'].c }}", "Output[Property\"c\"[Variable\"a b\"]]"},
      {"{{ [k] }}", "Output[Index[Variable\"\", Variable\"k\"]]"},
      {"{{ a[b == 1 or c] }}", "Output[Index[Variable\"a\", Logical or[Cmp ==[Variable\"b\", Integer\"1\"], Variable\"c\"]]]"},
      {"{{ a=>b }}", "Output[Property\"b\"[Variable\"a\"]]"},
      {"{{ a | f: 1, k: 2 | g }}",
       "Output[Variable\"a\", Filter:f(Integer\"1\", Arg\"k\"[Integer\"2\"]), Filter:g()]"},
      // Junk after the expression, a filter name or an argument is skipped.
      {"{{ a b c }}", "Output[Variable\"a\"]"},
      {"{{ a == b }}", "Output[Variable\"a\"]"},
      {"{{ a ! b }}", "Output[Variable\"a\"]"},
      {"{{ x | f 1 }}", "Output[Variable\"x\", Filter:f()]"},
      {"{{ x | f: 1 2, 3 }}", "Output[Variable\"x\", Filter:f(Integer\"1\", Integer\"3\")]"},
      {"{{ x | f junk: 1 }}", "Output[Variable\"x\", Filter:f(Integer\"1\")]"},
      {"{{ cycle }}", "Output[Variable\"cycle\"]"},
      {"{{ blank }}{{ blank.size }}{{ empty[0] }}",
       "Output[Blank], Output[Property\"size\"[Variable\"blank\"]], Output[Index[Variable\"empty\", Integer\"0\"]]"},
      {"{{ nil }}{{ true }}{{ 1.5 }}", "Output[Nil], Output[Boolean\"true\"], Output[Float\"1.5\"]"},
      {"a{{- b -}}c", "Text\"a\", Output<l r>[Variable\"b\"], Text\"c\""},
  });
}

TEST(Parser, Parentheses) {
  expectShapes({
      {"{{ (1..3) }}", "Output[Range[Integer\"1\", Integer\"3\"]]"},
      {"{{ (a..b.c) }}", "Output[Range[Variable\"a\", Property\"c\"[Variable\"b\"]]]"},
      {"{{ (x) }}", "Output[Variable\"x\"]"},
      {"{{ (a | upcase) }}", "Output[Filtered[Variable\"a\", Filter:upcase()]]"},
      // and/or group from the left inside parentheses, from the right elsewhere.
      {"{{ (a == 1 and b or c) }}",
       "Output[Logical or[Logical and[Cmp ==[Variable\"a\", Integer\"1\"], Variable\"b\"], Variable\"c\"]]"},
      {"{{ (a and b == c) }}", "Output[Logical and[Variable\"a\", Cmp ==[Variable\"b\", Variable\"c\"]]]"},
      // After a filter, everything up to the ")" is junk of that filter.
      {"{{ (a | size > 2) }}", "Output[Filtered[Variable\"a\", Filter:size()]]"},
  });
}

TEST(Parser, Conditions) {
  expectShapes({
      {"{% if a and b or c %}{% endif %}",
       "If[Logical and[Variable\"a\", Logical or[Variable\"b\", Variable\"c\"]]]"},
      {"{% if a == 1 or b contains 'x' %}{% endif %}",
       "If[Logical or[Cmp ==[Variable\"a\", Integer\"1\"], Cmp contains[Variable\"b\", String\"x\"]]]"},
      {"{% if a <> b %}{% endif %}", "If[Cmp <>[Variable\"a\", Variable\"b\"]]"},
      // One comparison per operand: the rest is an invalid operator.
      {"{% if a == b == c %}x{% endif %}", "If !==[Cmp ==[Variable\"a\", Variable\"b\"], Text\"x\"]"},
      {"{% if a = b %}x{% endif %}", "If !=[Variable\"a\", Text\"x\"]"},
      {"{% if a ! b %}x{% endif %}", "If !![Variable\"a\", Text\"x\"]"},
      {"{% if a # note %}x{% endif %}", "If[Variable\"a\", Text\"x\"]"},
      {"{% if a %}x{% elsif b junk %}y{% endif %}",
       "If[Variable\"a\", Text\"x\", Elsif !junk[Variable\"b\", Text\"y\"]]"},
  });
}

TEST(Parser, IfChains) {
  expectShapes({
      {"{% if a %}x{% elsif b %}y{% else %}z{% endif %}",
       "If[Variable\"a\", Text\"x\", Elsif[Variable\"b\", Text\"y\", Else[Text\"z\"]]]"},
      {"{%- if a -%}x{%- endif -%}", "If<l r el er>[Variable\"a\", Text\"x\"]"},
      // End tag flags go to the head even when the end is met in a branch.
      {"{% if a %}{%- else -%}{%- endif -%}", "If<el er>[Variable\"a\", Else<l r>]"},
      {"{% unless a %}{% elsif b -%}{%- endunless %}", "Unless<el>[Variable\"a\", Elsif<r>[Variable\"b\"]]"},
      // An else may be followed by more branches, which nest in it.
      {"{% if a %}{% else junk %}{% elsif b %}{% endif %}", "If[Variable\"a\", Else[Elsif[Variable\"b\"]]]"},
      {"{% if a %}x", "If[Variable\"a\", Text\"x\"]"},
      {"{% if a %}{% if b %}{% endif %}y{% endif %}z",
       "If[Variable\"a\", If[Variable\"b\"], Text\"y\"], Text\"z\""},
  });
}

TEST(Parser, Loops) {
  expectShapes({
      {"{% for i in (1..3) reversed, limit: 2 offset: continue %}{{ i }}{% else %}none{% endfor %}",
       "For\"i\"[Range[Integer\"1\", Integer\"3\"], Arg\"reversed\", Arg\"limit\"[Integer\"2\"], "
       "Arg\"offset\"[String\"continue\"], Output[Variable\"i\"], Else[Text\"none\"]]"},
      {"{% for i in a, limit: n %}{% endfor %}", "For\"i\"[Variable\"a\", Arg\"limit\"[Variable\"n\"]]"},
      // The endfor's right flag goes to the For; its left flag and an else's left flag are not kept.
      {"{%- for i in a -%}{%- else -%}{%- endfor -%}", "For\"i\"<l r er>[Variable\"a\", Else<r>]"},
      {"{% for i in a %}{% else %}{% else %}x{% endfor %}", "For\"i\"[Variable\"a\", Else[Else[Text\"x\"]]]"},
      {"{% tablerow c in x cols: 2 limit: 3 offset: o %}{% endtablerow -%}",
       "Tablerow\"c\"<er>[Variable\"x\", Arg\"cols\"[Integer\"2\"], Arg\"limit\"[Integer\"3\"], "
       "Arg\"offset\"[Variable\"o\"]]"},
      {"{% for i in a %}{% break %}{% continue %}{% endfor %}", "For\"i\"[Variable\"a\", Break, Continue]"},
  });
}

TEST(Parser, Case) {
  expectShapes({
      {"{% case x %} junk {% when 1, 2 or 3 %}a{% when 'b' %}b{% else %}c{% endcase %}",
       "Case[Variable\"x\", When[Integer\"1\", Integer\"2\", Integer\"3\", Text\"a\"], "
       "When[String\"b\", Text\"b\"], Else[Text\"c\"]]"},
      {"{% case x y %}{%- when 1, or 2, %}a{% when 3 4 -%}{%- endcase -%}",
       "Case<el er>[Variable\"x\", When<l>[Integer\"1\", Integer\"2\", Text\"a\"], When<r>[Integer\"3\"]]"},
      {"{% case x %}{% else %}a{% when 1 %}b", "Case[Variable\"x\", Else[Text\"a\"], When[Integer\"1\", Text\"b\"]]"},
      // An output directly in a case ends it; the rest belongs to the enclosing body.
      {"{% case x %}{{ y }}{% endcase %}", "FAIL"},
      {"{% case x %}{{ y }}", "Case[Variable\"x\"], Output[Variable\"y\"]"},
  });
}

TEST(Parser, OtherBlocks) {
  expectShapes({
      {"{% capture 'x' %}a{% endcapture %}", "Capture\"x\"[Text\"a\"]"},
      {"{% capture \"'y'\" -%}{%- endcapture -%}", "Capture\"y\"<r er>"},
      {"{% capture 5 %}{% endcapture %}", "Capture\"5\""},
      {"{% ifchanged -%}a{% endifchanged -%}", "Ifchanged<r er>[Text\"a\"]"},
      {"{% comment %}{% comment %}a{% endcomment %}b{% endcomment %}c", "Comment, Text\"c\""},
      {"{%- comment x -%}{% raw %}{% endcomment %}{% endraw %}{%- endcomment y -%}c",
       "Comment<l r el er>, Text\"c\""},
      {"{% comment %}{% if %}{{ unclosed", "Comment"},
      {"{% doc %}{% doc %}{% if %}{%- enddoc -%}x", "Doc<el er>, Text\"x\""},
      {"{% doc %}a", "Doc"},
      {"{% raw %}{% if %}{% endraw %}", "Raw\"{% if %}\""},
      {"{% raw -%} a {%- endraw -%}", "Raw\" a \"<r el er>"},
      {"{% raw %}x{% endraw y %}z", "Raw\"x\", Text\"y %}z\""},
      {"{% raw %}", "Raw"},
  });
}

TEST(Parser, SimpleTags) {
  expectShapes({
      {"{% assign x = 'a' | upcase | append: 'b' %}",
       "Assign\"x\"[String\"a\", Filter:upcase(), Filter:append(String\"b\")]"},
      {"{% assign x = a == b %}", "Assign\"x\"[Variable\"a\"]"},
      {"{% assign x = 1 junk -%}", "Assign\"x\"<r>[Integer\"1\"]"},
      {"{% assign x = 1 # note %}", "Assign\"x\"[Integer\"1\"]"},
      {"{% assign 1 = 2 %}", "Assign\"1\"[Integer\"2\"]"},
      {"{% echo %}", "Echo"},
      {"{% echo a == 1 | f %}", "Echo[Cmp ==[Variable\"a\", Integer\"1\"], Filter:f()]"},
      {"{% cycle 'a', 'b' %}", "Cycle[String\"a\", String\"b\"]"},
      {"{% cycle 'g': 'a', b %}", "Cycle\"g\"[String\"a\", Variable\"b\"]"},
      {"{% cycle g: 'a' %}", "Cycle\"g\"[String\"a\"]"},
      {"{% cycle 'a' 'b' %}", "Cycle[String\"a\", String\"b\"]"},
      {"{% cycle %}{% cycle 'g': %}", "Cycle, Cycle\"g\""},
      {"{%- increment n -%}{% decrement n %}", "Increment\"n\"<l r>, Decrement\"n\""},
      {"{%- # note -%}", "InlineComment<l r>"},
      {"{% render 'card' with product as p, size: 2 %}",
       "Render[String\"card\", Arg\"with\":p[Variable\"product\"], Arg\"size\"[Integer\"2\"]]"},
      {"{% include 'a' for items a: 1 b: x.y %}",
       "Include[String\"a\", Arg\"for\"[Variable\"items\"], Arg\"a\"[Integer\"1\"], "
       "Arg\"b\"[Property\"y\"[Variable\"x\"]]]"},
      {"{% include name, %}", "Include[Variable\"name\"]"},
  });
}

TEST(Parser, LiquidTag) {
  expectShapes({
      {"{% liquid\n  assign a = 1\n  # note\n\n  if a\n echo a\n  endif\n%}",
       "Liquid[Assign\"a\"[Integer\"1\"], If[Variable\"a\", Echo[Variable\"a\"]]]"},
      {"{% liquid %}{%liquid%}{%- liquid -%}", "Liquid, Liquid, Liquid<l r>"},
      {"{% liquid\r\n echo 'a'\r\n\r\n  liquid cycle 1, 2\r\n%}",
       "Liquid[Echo[String\"a\"], Liquid[Cycle[Integer\"1\", Integer\"2\"]]]"},
      // Comment and raw lines act on the following lines as in a template.
      {"{% liquid comment\n echo a\nendcomment\necho b %}", "Liquid[Comment, Echo[Variable\"b\"]]"},
      {"{% liquid\nraw\n{{ a }}\nendraw %}", "Liquid[Raw\"{% {{ a }} %}\"]"},
  });
}

TEST(Parser, Failures) {
  const char* const templates[] = {
      // Outputs and expressions.
      "{{ a", "{{", "{%", "{{ a | }}", "{{ | a }}", "{{ limit }}", "{{ not a }}", "{{ x.blank }}", "{{ x.limit }}",
      "{{ a. }}", "{{ a=>1 }}", "{{ a[1 }}", "{{ (1..2 }}", "{{ (1 }}", "{{ (a | 1) }}", "{{ [1 }}",
      "{{ a | f: }}", "{{ x ",
      // Tag names.
      "{% %}", "{% section 'x' %}", "{% endif %}", "{% else %}", "{% when 1 %}", "{% If a %}{% endif %}",
      "{% if a %}{% endfor %}", "{% for i in a %}{% else %}{% endif %}",
      // Block tags.
      "{% if %}", "{% if a", "{% if a %}{% endif x %}", "{% if a %}{% elsif %}", "{% if a %}{% else",
      "{% unless a = b %}{% endunless %}", "{% unless a b %}", "{% for i in x foo %}", "{% for 1 in x %}",
      "{% for i x %}", "{% for i in x limit 2 %}", "{% for i in x cols: 2 %}", "{% for i in x %}{% endfor x %}",
      "{% for i in x %}{% else x %}", "{% tablerow c in x cols: 2, limit: 3 %}", "{% tablerow c in x reversed %}",
      "{% tablerow c in x offset: continue %}", "{% case x %}{% assign y = 1 %}{% endcase %}",
      "{% case x %}{% when %}", "{% case x %}{% else x %}", "{% case x %}{% endcase x %}", "{% case x",
      "{% capture %}", "{% capture a b %}", "{% capture a.b %}", "{% ifchanged x %}", "{% capture a %}{% else %}",
      "{% comment", "{% comment %}{% endcomment", "{% doc x %}", "{% doc %}{% enddoc", "{% doc %}{% enddoc %}{% enddoc %}", "{% raw x %}",
      // Simple tags.
      "{% assign = 1 %}", "{% assign x 1 %}", "{% assign a.b = 1 %}", "{% assign x = %}", "{% assign x = 1",
      "{% echo a junk %}", "{% echo x # note %}", "{% cycle 'a' 'b' 'c' %}", "{% cycle x y %}", "{% cycle 'a',",
      "{% increment %}", "{% increment limit %}", "{% increment a b %}", "{% break x %}", "{% # a",
      "{% include 'a' with %}", "{% include 'a' with b as %}", "{% include 'a' k 1 %}", "{% include 'a' limit: 1 %}",
      "{% render 'a' with x with y %}", "{% include %}",
      // The liquid tag.
      "{% liquid foo %}", "{% liquid\nif a\nelsif\nendif %}", "{% liquid echo a %", "{% liquid echo a b %}",
      "{% liquid %} x {% liquid echo a b %}",
  };
  for (const char* t : templates) EXPECT_EQ(parsed(t), "FAIL") << "template: " << t;
}

TEST(Parser, LiteralConstants) {
  HeapResource heap;
  Arena arena(&heap);
  const std::string source =
      "{% echo 42 %}{% echo -7 %}{% echo 99999999999999999999 %}{% echo 2.5 %}{% echo -0.125 %}"
      "{% echo 1" + std::string(400, '0') + ".5 %}{% echo true %}{% echo false %}{% echo 's' %}"
      "{% echo nil %}{% echo empty %}{% echo blank %}";
  NameTable names(arena.resource());
  const Node& root = *parseTemplate(source, arena, names).root;
  ASSERT_EQ(root.children.size(), 12u);
  auto constant = [&](std::size_t i) { return root.children[i].children[0].literal.value; };
  EXPECT_EQ(constant(0).asInt(), 42);
  EXPECT_EQ(constant(1).asInt(), -7);
  EXPECT_TRUE(constant(2).is(Kind::Integer));
  EXPECT_EQ(constant(2).asInt(), 0);  // does not fit: 0
  EXPECT_EQ(constant(3).asFloat(), 2.5);
  EXPECT_EQ(constant(4).asFloat(), -0.125);
  EXPECT_TRUE(constant(5).is(Kind::Float));
  EXPECT_EQ(constant(5).asFloat(), 0.0);  // out of range: 0.0
  EXPECT_TRUE(constant(6).is(Kind::Boolean) && constant(6).asBool());
  EXPECT_TRUE(constant(7).is(Kind::Boolean) && !constant(7).asBool());
  EXPECT_TRUE(constant(8).is(Kind::String));
  EXPECT_EQ(constant(8).str(), "s");
  EXPECT_TRUE(constant(9).is(Kind::Nil));
  EXPECT_TRUE(constant(10).is(Kind::Empty));
  EXPECT_TRUE(constant(11).is(Kind::Blank));
}

TEST(Parser, FiltersAreLookedUpOnce) {
  HeapResource heap;
  Arena arena(&heap);
  NameTable names(arena.resource());
  const Node& out = parseTemplate("{{ a | upcase | no_such_filter }}", arena, names).root->children[0];
  ASSERT_EQ(out.children.size(), 3u);
  EXPECT_EQ(out.children[1].filter.id, findFilterId("upcase"));
  EXPECT_NE(out.children[1].filter.id, kUnknownFilter);
  EXPECT_EQ(out.children[2].filter.id, kUnknownFilter);
}

// The structure-aware fuzz target writes filters from this list.
TEST(Parser, EveryListedFilterNameIsFound) {
  std::span<const std::string_view> names = filterNames();
  EXPECT_EQ(names.size(), 63u);
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(findFilterId(names[i]), i) << names[i];
}

// ---- the nesting bound ----

std::string repeat(std::string_view s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Templates nested `n` levels deep in each of the ways the bound counts.
struct DeepForm {
  const char* name;
  std::string (*make)(int n);
};

const DeepForm kDeepForms[] = {
    {"if blocks", [](int n) { return repeat("{% if a %}", n) + "x" + repeat("{% endif %}", n); }},
    {"unclosed for blocks", [](int n) { return repeat("{% for i in a %}", n); }},
    {"mixed blocks",
     [](int n) {
       return repeat("{% case a %}{% when 1 %}{% capture c %}{% unless b %}{% ifchanged %}{% tablerow i in a %}",
                     n / 5) +
              repeat("{% if a %}", n % 5);
     }},
    {"elsif chain", [](int n) { return "{% if a %}" + repeat("{% elsif b %}", n - 1) + "{% endif %}"; }},
    {"for else chain", [](int n) { return "{% for i in a %}" + repeat("{% else %}", n - 1) + "{% endfor %}"; }},
    {"parentheses", [](int n) { return "{{ " + repeat("(", n) + "1" + repeat(")", n) + " }}"; }},
    {"brackets", [](int n) { return "{{ " + repeat("a[", n) + "1" + repeat("]", n) + " }}"; }},
    {"property chain", [](int n) { return "{{ a" + repeat(".b", n) + " }}"; }},
    {"index chain", [](int n) { return "{{ a" + repeat("[0]", n) + " }}"; }},
    {"and/or chain", [](int n) { return "{% echo a" + repeat(" and a", n) + " %}"; }},
    {"grouped and/or chain", [](int n) { return "{{ (a" + repeat(" or a", n - 1) + ") }}"; }},
    {"filter arguments",
     [](int n) {
       return "{{ " + repeat("(a | f: ", n / 2) + repeat("(", n % 2) + "1" + repeat(")", n / 2 + n % 2) + " }}";
     }},
    {"liquid tags", [](int n) { return "{% " + repeat("liquid ", n) + "echo 1 %}"; }},
    {"blocks in a liquid tag",
     [](int n) { return "{% liquid\n" + repeat("if a\n", n - 1) + "echo 1\n" + repeat("endif\n", n - 1) + "%}"; }},
};

TEST(ParseDepth, TheBoundIsExact) {
  for (const DeepForm& f : kDeepForms) {
    EXPECT_NE(parsed(f.make(kMaxParseDepth)), "FAIL") << f.name;
    EXPECT_EQ(parsed(f.make(kMaxParseDepth + 1)), "FAIL") << f.name;
  }
  // The ways combine: a property chain inside nested blocks counts on top of them.
  EXPECT_NE(parsed(repeat("{% if a %}", 50) + "{{ a" + repeat(".b", 50) + " }}"), "FAIL");
  EXPECT_EQ(parsed(repeat("{% if a %}", 50) + "{{ a" + repeat(".b", 51) + " }}"), "FAIL");
  // Siblings do not nest: long lists and long filter chains are fine.
  EXPECT_NE(parsed(repeat("{% if a %}{% endif %}", 5000)), "FAIL");
  EXPECT_NE(parsed("{{ a" + repeat(" | f: 1, 2", 5000) + " }}"), "FAIL");
  EXPECT_NE(parsed("{% case a %}" + repeat("{% when 1 %}x", 5000) + "{% endcase %}"), "FAIL");
}

std::string parsedOnSmallStack(const std::string& source) {
  std::string result;
  if (!mervalt::test::runOnSmallStack([&] { result = parsed(source).substr(0, 40); }))
    return "no thread";
  return result;
}

// The deepest accepted nesting of every form fits a small stack, and far
// deeper input fails cleanly instead of overflowing it.
TEST(ParseDepth, DeepInputOnASmallStack) {
  for (const DeepForm& f : kDeepForms) {
    EXPECT_NE(parsedOnSmallStack(f.make(kMaxParseDepth)), "FAIL") << f.name;
    EXPECT_EQ(parsedOnSmallStack(f.make(100000)), "FAIL") << f.name;
  }
}

}  // namespace
}  // namespace mervalt

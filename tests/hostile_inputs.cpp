// hostile_inputs.cpp: the adversarial inputs. Each fails against the bound
// that stops it, or renders within the memory it states.
#include "hostile_inputs.h"

#include <string_view>

namespace mervalt::test {
namespace {

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::string nest(std::string_view open, std::string_view close, std::size_t n, std::string_view inner = "x") {
  return repeat(open, n) + std::string(inner) + repeat(close, n);
}

constexpr std::size_t kDeep = 100000;

std::string big() { return "{\"big\": \"" + repeat("lorem ipsum ", 350000) + "\"}"; }  // about 4 MiB

std::string selfStore() {
  return R"({"templates": {"a": "a{% include 'a' %}", "r": "r{% render 'r' %}",
      "p": "{% include 'q' %}", "q": "{% render 'p' %}", "two": "{% include 'two' %}{% include 'two' %}",
      "fan": "{% render 'fan' for ten %}"}, "ten": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]})";
}

// Partials that write a text twice: doubling through include and render.
const char* const kTwiceStore = R"({"templates": {"twice": "{{ s }}{{ s }}"}})";

// k0 .. k99999.
std::string manyKeys() {
  std::string json = "{";
  for (int i = 0; i < 100000; ++i) json += (i ? ",\"k" : "\"k") + std::to_string(i) + "\": " + std::to_string(i);
  return json + "}";
}

// "k1 " beside "K1", and one key written twice, once escaped: the document
// repeats a key and is no data.
std::string dupKeys() {
  std::string json = "{";
  for (int i = 0; i < 100000; ++i)
    json += (i ? ",\"k" : "\"k") + std::to_string(i) + " \": 0,\"K" + std::to_string(i) + "\": 1";
  return json + ", \"a\": 1, \"\\u0061\": 2}";
}

// A text doubled 64 times, by `body` inside a capture of s in a loop.
std::string doubling(std::string_view body) {
  return "{% assign s = 'ab' %}{% for i in (1..64) %}{% capture s %}" + std::string(body) +
         "{% endcapture %}{% endfor %}";
}

// A list doubled 40 times with concat, then `use` applied to it each time.
std::string listDoubling(std::string_view use) {
  return "{% assign a = 'x,y' | split: ',' %}{% for i in (1..40) %}{% assign a = a | concat: a %}" +
         std::string(use) + "{% endfor %}";
}

}  // namespace

const char* outcomeName(Outcome o) {
  switch (o) {
    case Outcome::Renders: return "renders";
    case Outcome::DoesNotParse: return "does not parse";
    case Outcome::Depth: return "fails on the depth bound";
    case Outcome::Iterations: return "fails on the iteration bound";
    case Outcome::Work: return "fails on the work bound";
    case Outcome::Output: return "fails on the output bound";
    case Outcome::Memory: return "fails on the memory bound";
  }
  return "?";
}

std::vector<Hostile> hostileInputs() {
  using enum Outcome;
  return {
      // Nesting of every kind, far past the bounds.
      {"if blocks", [] { return nest("{% if true %}", "{% endif %}", kDeep); }, "", DoesNotParse, 160},
      {"unless blocks", [] { return nest("{% unless false %}", "{% endunless %}", kDeep); }, "", DoesNotParse, 160},
      {"for blocks", [] { return nest("{% for i in (1..2) %}", "{% endfor %}", kDeep); }, "", DoesNotParse, 160},
      {"tablerow blocks", [] { return nest("{% tablerow i in (1..2) %}", "{% endtablerow %}", kDeep); }, "",
       DoesNotParse, 160},
      {"case blocks", [] { return nest("{% case 1 %}{% when 1 %}", "{% endcase %}", kDeep); }, "", DoesNotParse, 160},
      {"capture blocks", [] { return nest("{% capture c %}", "{% endcapture %}", kDeep); }, "", DoesNotParse, 160},
      {"ifchanged blocks", [] { return nest("{% ifchanged %}", "{% endifchanged %}", kDeep); }, "", DoesNotParse, 160},
      {"comment blocks", [] { return nest("{% comment %}", "{% endcomment %}", kDeep); }, "", Renders, 160},
      {"liquid tag blocks", [] { return "{% liquid " + nest("if true\n", "endif\n", kDeep, "echo 1\n") + "%}"; }, "",
       DoesNotParse, 160},
      {"unclosed blocks", [] { return repeat("{% for i in (1..2) %}{% if true %}", kDeep); }, "", DoesNotParse, 160},
      {"parentheses", [] { return "{{ " + nest("(", ")", kDeep, "1") + " }}"; }, "", DoesNotParse, 160},
      {"brackets", [] { return "{{ a" + nest("[a", "]", kDeep, "") + " }}"; }, "", DoesNotParse, 160},
      {"property chain", [] { return "{{ a" + repeat(".b", kDeep) + " }}"; }, "", DoesNotParse, 160},
      {"and/or chain", [] { return "{% if " + repeat("a or ", kDeep) + "a %}x{% endif %}"; }, "", DoesNotParse, 160},
      {"ranges in ranges", [] { return "{{ " + nest("(1..", ")", kDeep, "2") + " }}"; }, "", DoesNotParse, 160},
      {"filter chain", [] { return "{{ 'a'" + repeat(" | upcase", kDeep) + " }}"; }, "", Renders, 160},
      {"filter chain that grows a text", [] { return "{{ 'a'" + repeat(" | append: 'b'", kDeep) + " | size }}"; }, "",
       Memory, 256},
      // Partials that include themselves or each other.
      {"self include", "{% include 'a' %}", selfStore, Depth, 64},
      {"self render", "{% render 'r' %}", selfStore, Depth, 64},
      {"include and render of each other", "{% include 'p' %}", selfStore, Depth, 64},
      {"a partial including itself twice", "{% include 'two' %}", selfStore, Depth, 64},
      {"a partial rendering itself for an array", "{% render 'fan' %}", selfStore, Depth, 64},
      // Huge ranges.
      {"loop over a huge range", "{% for i in (1..4000000000000000000) %}{% endfor %}", "", Iterations, 16},
      {"tablerow over a huge range", "{% tablerow i in (1..4000000000000000000) %}{% endtablerow %}", "", Memory,
       256},
      {"huge range for a filter", "{{ (1..4000000000000000000) | size }}", "", Memory, 16},
      {"range for a filter in a loop", "{% for i in (1..100000) %}{{ (1..1000) | size }}{% endfor %}", "", Work, 64},
      {"widest range with a limit",
       "{% for i in (-9223372036854775807..9223372036854775807) limit: 2 %}{{ i }},{% endfor %}", "", Renders, 16},
      {"a large range sorted", "{{ (1..9000000) | sort | size }}", "", Memory, 256},
      {"a large range joined", "{{ (1..5000000) | join: 'x, y, z, x, y, z' }}", "", Memory, 256},
      // Texts and lists that double.
      {"append doubling", "{% assign s = 'ab' %}{% for i in (1..64) %}{% assign s = s | append: s %}{% endfor %}", "",
       Memory, 256},
      {"capture doubling", [] { return doubling("{{ s }}{{ s }}"); }, "", Memory, 256},
      {"ifchanged doubling", [] { return doubling("{% ifchanged %}{{ s }}{{ s }}{% endifchanged %}"); }, "", Memory,
       256},
      {"tablerow doubling", [] { return doubling("{% tablerow t in (1..2) %}{{ s }}{% endtablerow %}"); }, "", Memory,
       256},
      {"include doubling", [] { return doubling("{% include 'twice' %}"); }, kTwiceStore, Memory, 256},
      {"render doubling", [] { return doubling("{% render 'twice', s: s %}"); }, kTwiceStore, Memory, 256},
      {"cycle doubling", [] { return doubling("{% cycle s %}{{ s }}"); }, "", Memory, 256},
      {"replace growing",
       "{% assign s = 'aa' %}{% for i in (1..64) %}{% assign s = s | replace: 'a', 'aa' %}{% endfor %}", "", Memory,
       256},
      {"output doubling",
       "{% assign s = 'ab' %}{% for i in (1..64) %}{{ s }}{% assign s = s | append: s %}{% endfor %}", "", Memory,
       256},
      {"concat doubling", [] { return listDoubling(""); }, "", Memory, 256},
      {"concat doubling, sorted", [] { return listDoubling("{% assign b = a | sort_natural %}"); }, "", Work, 256},
      {"concat doubling, filtered", [] { return listDoubling("{% assign b = a | where: 'x' %}"); }, "", Memory, 256},
      {"concat doubling, as JSON", [] { return listDoubling("{% assign j = a | json %}"); }, "", Memory, 256},
      // Sorts compare n log n times: large lists sorted in a loop meet the work bound.
      {"large sorts in a loop", "{% for i in (1..30) %}{{ (1..150000) | sort_natural | size }}{% endfor %}", "", Work,
       64},
      // Huge texts split and searched.
      {"split into bytes", "{{ big | split: '' | size }}", big, Renders, 256},
      {"split into words and joined", "{{ big | split: ' ' | join: ',' | size }}", big, Renders, 256},
      // A few passes over a large document fit the work it brings along.
      {"split in a loop", "{% for i in (1..20) %}{{ big | split: ' ' | size }}{% endfor %}", big, Renders, 256},
      {"contains in a loop", "{% for i in (1..10000) %}{% if big contains 'x' %}{% endif %}{% endfor %}", big, Work,
       64},
      {"repeated filters in nested loops",
       "{% for i in (1..1000) %}{% for j in (1..1000) %}{{ big | upcase | downcase | size }}{% endfor %}{% endfor %}",
       big, Work, 256},
      // Data built to hurt.
      {"deep JSON arrays", "{{ size }}", [] { return nest("[", "]", kDeep, "1"); }, Renders, 64},
      {"deep JSON objects", "{{ size }}", [] { return nest("{\"a\":", "}", kDeep, "1"); }, Renders, 64},
      {"a long key", "{{ [k] | size }}",
       [] { return "{\"" + repeat("k", 1 << 22) + "\": 1, \"k\": \"" + repeat("k", 1 << 22) + "\"}"; }, Renders,
       128},
      {"a long variable name", [] { return "{{ " + repeat("v", 1 << 22) + " }}"; }, "", Renders, 256},
      {"many keys", "{{ k99999 }}{{ k0 }}{{ k50000 }}", manyKeys, Renders, 128},
      {"keys that look alike, one repeated", "{{ a }}{{ k1 }}", dupKeys, Renders, 128},
      // Bytes that are not UTF-8.
      {"invalid UTF-8 in text and strings", "\xff\xfe{{ '\xc0\xaf\xed\xa0\x80' | upcase }}\x80", "", Renders, 16},
      {"invalid UTF-8 in a tag", "{% \xff %}", "", DoesNotParse, 16},
      {"invalid UTF-8 in a name", "{{ a\xc3 }}", "", Renders, 16},
  };
}

}  // namespace mervalt::test

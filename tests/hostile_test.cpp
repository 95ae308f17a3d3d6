// hostile_test.cpp: adversarial inputs, each run on a small stack and
// required to render or to fail cleanly within a stated time and memory.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <concepts>
#include <cstdint>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "memory/arena.h"
#include "mervalt.h"
#include "render/renderer.h"
#include "small_stack.h"

namespace {

// Sanitizer and coverage builds run several times slower than an optimised
// build; the time bounds below are for an optimised one.
#ifdef MERVALT_TEST_SLOW_BUILD
constexpr double kTimeScale = 15;
#else
constexpr double kTimeScale = 1;
#endif

enum class Outcome { Renders, Fails };

// A template or a document: a literal, or made by a function only when the
// test that needs it runs (every process of the test suite registers the
// table below).
class Text {
 public:
  using Make = std::string (*)();
  Text(const char* literal) : literal_(literal) {}
  template <std::convertible_to<Make> F>
  Text(F make) : make_(make) {}
  std::string get() const { return make_ ? make_() : literal_; }

 private:
  const char* literal_ = "";
  Make make_ = nullptr;
};

struct Hostile {
  const char* name;
  Text templateText;
  Text json;
  Outcome outcome;
  double seconds;         // at most, in an optimised build
  std::size_t mebibytes;  // the call's peak memory, at most
};

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

std::vector<Hostile> hostileInputs() {
  using enum Outcome;
  return {
      // Nesting of every kind, far past the bounds.
      {"if blocks", [] { return nest("{% if true %}", "{% endif %}", kDeep); }, "", Fails, 0.5, 64},
      {"unless blocks", [] { return nest("{% unless false %}", "{% endunless %}", kDeep); }, "", Fails, 0.5, 64},
      {"for blocks", [] { return nest("{% for i in (1..2) %}", "{% endfor %}", kDeep); }, "", Fails, 0.5, 64},
      {"tablerow blocks", [] { return nest("{% tablerow i in (1..2) %}", "{% endtablerow %}", kDeep); }, "", Fails, 0.5,
       64},
      {"case blocks", [] { return nest("{% case 1 %}{% when 1 %}", "{% endcase %}", kDeep); }, "", Fails, 0.5, 64},
      {"capture blocks", [] { return nest("{% capture c %}", "{% endcapture %}", kDeep); }, "", Fails, 0.5, 64},
      {"ifchanged blocks", [] { return nest("{% ifchanged %}", "{% endifchanged %}", kDeep); }, "", Fails, 0.5, 64},
      {"comment blocks", [] { return nest("{% comment %}", "{% endcomment %}", kDeep); }, "", Renders, 0.5, 64},
      {"liquid tag blocks", [] { return "{% liquid " + nest("if true\n", "endif\n", kDeep, "echo 1\n") + "%}"; }, "",
       Fails, 0.5, 64},
      {"unclosed blocks", [] { return repeat("{% for i in (1..2) %}{% if true %}", kDeep); }, "", Fails, 0.5, 64},
      {"parentheses", [] { return "{{ " + nest("(", ")", kDeep, "1") + " }}"; }, "", Fails, 0.5, 64},
      {"brackets", [] { return "{{ a" + nest("[a", "]", kDeep, "") + " }}"; }, "", Fails, 0.5, 64},
      {"property chain", [] { return "{{ a" + repeat(".b", kDeep) + " }}"; }, "", Fails, 0.5, 64},
      {"and/or chain", [] { return "{% if " + repeat("a or ", kDeep) + "a %}x{% endif %}"; }, "", Fails, 0.5, 64},
      {"ranges in ranges", [] { return "{{ " + nest("(1..", ")", kDeep, "2") + " }}"; }, "", Fails, 0.5, 64},
      {"filter chain", [] { return "{{ 'a'" + repeat(" | upcase", kDeep) + " }}"; }, "", Renders, 0.5, 64},
      {"filter chain that grows a text", [] { return "{{ 'a'" + repeat(" | append: 'b'", kDeep) + " | size }}"; }, "",
       Fails, 0.5, 256},
      // Partials that include themselves or each other.
      {"self include", "{% include 'a' %}", selfStore, Fails, 0.5, 64},
      {"self render", "{% render 'r' %}", selfStore, Fails, 0.5, 64},
      {"include and render of each other", "{% include 'p' %}", selfStore, Fails, 0.5, 64},
      {"a partial including itself twice", "{% include 'two' %}", selfStore, Fails, 1, 64},
      {"a partial rendering itself for an array", "{% render 'fan' %}", selfStore, Fails, 1, 64},
      // Huge ranges.
      {"loop over a huge range", "{% for i in (1..4000000000000000000) %}{% endfor %}", "", Fails, 1, 16},
      {"tablerow over a huge range", "{% tablerow i in (1..4000000000000000000) %}{% endtablerow %}", "", Fails, 3,
       512},
      {"huge range for a filter", "{{ (1..4000000000000000000) | size }}", "", Fails, 0.1, 16},
      {"range for a filter in a loop", "{% for i in (1..100000) %}{{ (1..1000) | size }}{% endfor %}", "", Fails, 1,
       512},
      {"widest range with a limit",
       "{% for i in (-9223372036854775807..9223372036854775807) limit: 2 %}{{ i }},{% endfor %}", "", Renders, 0.1, 16},
      // Texts that double.
      {"append doubling", "{% assign s = 'ab' %}{% for i in (1..64) %}{% assign s = s | append: s %}{% endfor %}", "",
       Fails, 1, 1024},
      {"capture doubling",
       "{% assign s = 'ab' %}{% for i in (1..64) %}{% capture s %}{{ s }}{{ s }}{% endcapture %}{% endfor %}", "",
       Fails, 3, 2048},
      {"replace growing",
       "{% assign s = 'aa' %}{% for i in (1..64) %}{% assign s = s | replace: 'a', 'aa' %}{% endfor %}", "", Fails, 3,
       1024},
      {"output doubling",
       "{% assign s = 'ab' %}{% for i in (1..64) %}{{ s }}{% assign s = s | append: s %}{% endfor %}", "", Fails, 1,
       2048},
      // Huge texts split and searched.
      {"split into bytes", "{{ big | split: '' | size }}", big, Renders, 1, 256},
      {"split into words and joined", "{{ big | split: ' ' | join: ',' | size }}", big, Renders, 1, 256},
      // A few passes over a large document fit the work it brings along.
      {"split in a loop", "{% for i in (1..20) %}{{ big | split: ' ' | size }}{% endfor %}", big, Renders, 2, 1024},
      {"contains in a loop", "{% for i in (1..10000) %}{% if big contains 'x' %}{% endif %}{% endfor %}", big, Fails,
       0.5, 64},
      {"repeated filters in nested loops",
       "{% for i in (1..1000) %}{% for j in (1..1000) %}{{ big | upcase | downcase | size }}{% endfor %}{% endfor %}",
       big, Fails, 1, 1024},
      // Data built to hurt.
      {"deep JSON arrays", "{{ size }}", [] { return nest("[", "]", kDeep, "1"); }, Renders, 0.5, 64},
      {"deep JSON objects", "{{ size }}", [] { return nest("{\"a\":", "}", kDeep, "1"); }, Renders, 0.5, 64},
      {"a long key", "{{ [k] | size }}",
       [] { return "{\"" + repeat("k", 1 << 22) + "\": 1, \"k\": \"" + repeat("k", 1 << 22) + "\"}"; }, Renders, 0.5,
       128},
      {"a long variable name", [] { return "{{ " + repeat("v", 1 << 22) + " }}"; }, "", Renders, 0.5, 256},
      {"many keys", "{{ k99999 }}{{ k0 }}{{ k50000 }}", manyKeys, Renders, 0.5, 128},
      {"keys that look alike, one repeated", "{{ a }}{{ k1 }}", dupKeys, Renders, 0.5, 128},
      // Bytes that are not UTF-8.
      {"invalid UTF-8 in text and strings", "\xff\xfe{{ '\xc0\xaf\xed\xa0\x80' | upcase }}\x80", "", Renders, 0.1, 16},
      {"invalid UTF-8 in a tag", "{% \xff %}", "", Fails, 0.1, 16},
      {"invalid UTF-8 in a name", "{{ a\xc3 }}", "", Renders, 0.1, 16},
  };
}

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

class HostileInput : public testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, RendersOrFailsCleanlyInTimeAndMemory) {
  const Hostile& h = GetParam();
  const std::string templateText = h.templateText.get(), json = h.json.get();
  bool rendered = false;
  std::size_t peak = 0;
  double seconds = 0;
  ASSERT_TRUE(mervalt::test::runOnSmallStack([&] {
    mervalt::HeapResource heap;
    auto start = std::chrono::steady_clock::now();
    try {
      auto [p, len] = mervalt::renderCall(templateText, json, heap);
      mervalt_free(p, len);
      rendered = true;
    } catch (const std::exception&) {
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peak = heap.peak();
  }));
  EXPECT_EQ(rendered, h.outcome == Outcome::Renders) << (rendered ? "rendered" : "failed");
  EXPECT_LE(seconds, h.seconds * kTimeScale);
  EXPECT_LE(peak, h.mebibytes << 20);
}

std::string caseName(const testing::TestParamInfo<Hostile>& info) {
  std::string out;
  for (const char* c = info.param.name; *c; ++c) out += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return out;
}

INSTANTIATE_TEST_SUITE_P(Adversarial, HostileInput, testing::ValuesIn(hostileInputs()), caseName);

}  // namespace

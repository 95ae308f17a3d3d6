// api_test.cpp: whole calls under memory failure, on many threads, and on a small stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "small_stack.h"
#include "memory/arena.h"
#include "data/json_input.h"
#include "mervalt.h"
#include "parse/parser.h"
#include "api/call.h"
#include "render/renderer.h"

namespace {

struct Result {
  int rc = -1;
  std::string out;
  bool operator==(const Result&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Result& r) {
  return os << "{rc " << r.rc << ", \"" << r.out << "\"}";
}

Result render(const std::string& tpl, const std::string& json = {}) {
  char* out = nullptr;
  std::size_t len = 0;
  Result r;
  r.rc = mervalt_render_json(tpl.data(), tpl.size(), json.data(), json.size(), &out, &len);
  if (r.rc == 0) {
    r.out.assign(out, len);
    mervalt_free(out, len);
  }
  return r;
}

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// A template that touches most of the machinery: assignment, capture, loops
// with conditionals, filters over strings and arrays, and an include.
const char* const kShopTemplate =
    "{% assign title = shop.name | upcase %}{{ title }} ({{ products | size }})\n"
    "{% for p in products %}{% if p.price > 10 %}{% include 'card' with p %}"
    "{% else %}{{ p.name | downcase | append: '!' }}{% endif %}{% unless forloop.last %}, {% endunless %}"
    "{% endfor %}\n"
    "{% capture names %}{{ products | map: 'name' | sort | join: '/' }}{% endcapture %}{{ names | truncate: 20 }}\n"
    "{% for t in shop.tags reversed %}{% case t %}{% when 'new' %}NEW{% else %}{{ t | capitalize }}{% endcase %} {% endfor %}\n"
    "{{ shop.opened | plus: 1 }} {{ products | where: 'price', 5 | map: 'name' | first | default: 'none' }}";

const char* const kShopData =
    R"({"shop": {"name": "Corner", "tags": ["new", "cheap", "local"], "opened": 1999},
        "products": [{"name": "Tea", "price": 5}, {"name": "Kettle", "price": 25.5},
                     {"name": "Cup", "price": 12}, {"name": "Spoon", "price": 2}],
        "templates": {"card": "[{{ card.name | upcase }} {{ card.price | times: 2 }}]"}})";

TEST(OutOfMemory, EveryFailingAllocationFailsTheCallCleanly) {
  mervalt::HeapResource unlimited;
  auto [base, baseLen] = mervalt::renderCall(kShopTemplate, kShopData, unlimited, {});
  const std::string expected(base, baseLen);
  mervalt_free(base, baseLen);
  const uint64_t needed = unlimited.allocations();
  ASSERT_GT(needed, 0u);
  ASSERT_LT(needed, 100000u);

  // Failing any one of the allocations the call makes must fail the whole
  // call with bad_alloc, free everything (LeakSanitizer checks) and never
  // hand out a half-rendered result.
  for (uint64_t n = 1; n <= needed; ++n) {
    mervalt::HeapResource heap({}, n);
    try {
      auto [p, len] = mervalt::renderCall(kShopTemplate, kShopData, heap, {});
      mervalt_free(p, len);
      ADD_FAILURE() << "allocation " << n << " of " << needed << " failed but the call succeeded";
    } catch (const std::bad_alloc&) {
    } catch (const std::exception& e) {
      ADD_FAILURE() << "allocation " << n << " failed with " << e.what() << " instead of bad_alloc";
    }
  }

  mervalt::HeapResource enough({}, needed + 1);
  auto [p, len] = mervalt::renderCall(kShopTemplate, kShopData, enough, {});
  EXPECT_EQ(std::string(p, len), expected);
  mervalt_free(p, len);
}

TEST(Concurrency, ThreadsRenderingAtOnceGetTheSingleThreadedResults) {
  const std::vector<std::pair<std::string, std::string>> jobs = {
      {kShopTemplate, kShopData},
      {"{% for i in (1..50) %}{{ i | times: i | modulo: 7 }}{% cycle 'a', 'b' %}{% endfor %}", ""},
      {"{{ s | split: ',' | reverse | join: '-' | md5 }}", R"({"s": "a,b,c,d"})"},
      {"{% for x in xs %}{% increment c %}{{ x.k }}{% endfor %}{{ xs | map: 'k' | uniq | size }}",
       R"({"xs": [{"k": 1}, {"k": 2}, {"k": 1}]})"},
      {"{% include 'a' %}", R"({"templates": {"a": "A{% include 'b' %}", "b": "B{{ v }}"}, "v": 3})"},
      {"{{ d | date: '%Y-%m-%d %H:%M' }} {{ 'x<y' | escape }} {{ obj | json }}",
       R"({"d": 86400, "obj": {"a": [1, 2.5, null, "q"]}})"},
      {"{% tablerow n in ns cols:2 %}{{ n }}{% endtablerow %}", R"({"ns": [1, 2, 3]})"},
      {"{{ missing | default: 'dflt' }} {{ 3.14159 | round: 2 }} {{ 'Hello World' | slice: 1, 3 }}", ""},
  };
  std::vector<Result> expected;
  for (const auto& [t, j] : jobs) expected.push_back(render(t, j));

  constexpr int kRounds = 200;
  std::vector<int> mismatches(jobs.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    threads.emplace_back([&, i] {
      for (int k = 0; k < kRounds; ++k)
        if (!(render(jobs[i].first, jobs[i].second) == expected[i])) ++mismatches[i];
    });
  }
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < jobs.size(); ++i) EXPECT_EQ(mismatches[i], 0) << "job " << i;
}

// Calls run on a thread with a small stack, as hosts with many threads have.
// The optimised build checks the real budget. Under AddressSanitizer frames
// grow more than tenfold (redzones around every local), so that build gets
// the usual 8 MiB: there the test checks that recursion stays bounded.
Result renderOnSmallStack(const std::string& tpl, const std::string& json = {}) {
  Result result;
  if (!mervalt::test::runOnSmallStack([&] { result = render(tpl, json); })) ADD_FAILURE() << "no thread";
  return result;
}

constexpr std::size_t kHuge = 100000;
const Result kFails{1, ""};

TEST(SmallStack, DeepExpressionsFailToParse) {
  EXPECT_EQ(renderOnSmallStack("{{ " + repeat("(", kHuge) + "1" + repeat(")", kHuge) + " }}"), kFails);
  EXPECT_EQ(renderOnSmallStack("{{ a" + repeat("[a", kHuge) + repeat("]", kHuge) + " }}"), kFails);
  EXPECT_EQ(renderOnSmallStack("{{ a" + repeat(".b", kHuge) + " }}"), kFails);
  EXPECT_EQ(renderOnSmallStack("{% if " + repeat("a or ", kHuge) + "a %}x{% endif %}"), kFails);
  EXPECT_EQ(renderOnSmallStack("{{ a[" + repeat("(", kHuge) + "}}"), kFails);
}

TEST(SmallStack, ModerateExpressionNestingRenders) {
  EXPECT_EQ(renderOnSmallStack("{{ a" + repeat("[a", 20) + repeat("]", 20) + " }}|"), (Result{0, "|"}));
  EXPECT_EQ(renderOnSmallStack("{{ a" + repeat(".b", 20) + " }}|"), (Result{0, "|"}));
  // A long filter chain is a list, not a nesting.
  EXPECT_EQ(renderOnSmallStack("{{ 'a'" + repeat(" | upcase", 20000) + " }}"), (Result{0, "A"}));
}

TEST(SmallStack, DeepBlocksFailToParse) {
  EXPECT_EQ(renderOnSmallStack(repeat("{% if true %}", kHuge) + repeat("{% endif %}", kHuge)), kFails);
  EXPECT_EQ(renderOnSmallStack(repeat("{% for i in (1..1) %}", kHuge) + repeat("{% endfor %}", kHuge)), kFails);
  EXPECT_EQ(renderOnSmallStack(repeat("{% capture c %}", kHuge) + repeat("{% endcapture %}", kHuge)), kFails);
  EXPECT_EQ(renderOnSmallStack(repeat("{% if true %}", kHuge)), kFails);
}

TEST(SmallStack, ModerateBlockNestingRenders) {
  const int n = mervalt::kMaxParseDepth / 2;
  EXPECT_EQ(renderOnSmallStack(repeat("{% if true %}", n) + "x" + repeat("{% endif %}", n)), (Result{0, "x"}));
  EXPECT_EQ(renderOnSmallStack(repeat("{% for i in (1..1) %}", n) + "{{ i }}" + repeat("{% endfor %}", n)),
            (Result{0, "1"}));
}

std::string nestedArrays(int depth, const std::string& leaf) {
  return repeat("[", depth) + leaf + repeat("]", depth);
}

TEST(SmallStack, JsonDeeperThanTheBoundIsNoData) {
  const std::string tpl = "{{ size }}:{{ first }}";
  EXPECT_EQ(renderOnSmallStack(tpl, nestedArrays(kHuge, "7")), (Result{0, ":"}));
  EXPECT_EQ(renderOnSmallStack(tpl, repeat("{\"a\":", kHuge) + "1" + repeat("}", kHuge)), (Result{0, ":"}));
  EXPECT_EQ(renderOnSmallStack(tpl, nestedArrays(mervalt::kMaxJsonDepth + 1, "7")), (Result{0, ":"}));
  // At the bound the document is still read, and displays through every level.
  EXPECT_EQ(renderOnSmallStack(tpl, nestedArrays(mervalt::kMaxJsonDepth, "7")), (Result{0, "1:7"}));
  EXPECT_EQ(renderOnSmallStack("{{ first | json }}", nestedArrays(mervalt::kMaxJsonDepth, "7")),
            (Result{0, nestedArrays(mervalt::kMaxJsonDepth - 1, "7")}));
}

TEST(SmallStack, SelfIncludingTemplatesFail) {
  EXPECT_EQ(renderOnSmallStack("{% include 'self' %}", R"({"templates": {"self": "a{% include 'self' %}"}})"),
            kFails);
  EXPECT_EQ(renderOnSmallStack("{% render 'self' %}", R"({"templates": {"self": "a{% render 'self' %}"}})"),
            kFails);
  EXPECT_EQ(renderOnSmallStack("{% include 'a' %}",
                               R"({"templates": {"a": "{% include 'b' %}", "b": "{% include 'a' %}"}})"),
            kFails);
  // Includes inside deeply nested blocks inside includes: the render depth
  // bound counts both.
  const int n = mervalt::kMaxParseDepth - 2;
  const std::string deep = repeat("{% if true %}", n) + "{% include 't' %}" + repeat("{% endif %}", n);
  EXPECT_EQ(renderOnSmallStack(deep, R"({"templates": {"t": ")" + deep + R"("}})"), kFails);
}

TEST(SmallStack, ShallowIncludeChainsRender) {
  EXPECT_EQ(renderOnSmallStack("{% include 'a' %}",
                               R"({"templates": {"a": "a{% include 'b' %}", "b": "b{% render 'c' %}", "c": "c"}})"),
            (Result{0, "abc"}));
}

}  // namespace

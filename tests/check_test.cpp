// check_test.cpp: the template checker: each code's findings and near
// misses, the data paths, the filter table's arguments against what the
// handlers read, and the repository's own templates (the examples and the
// benchmark page give nothing; the case files give what check_expected.txt
// lists, each with its reason).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "api/call.h"
#include "case_file.h"
#include "check/checker.h"
#include "check/report_json.h"
#include "data/json_input.h"
#include "filters/filter_signatures.h"
#include "filters/filter_table.h"
#include "hostile_inputs.h"
#include "memory/arena.h"

namespace {

namespace fs = std::filesystem;
using namespace mervalt;

std::string readText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A check of one text, with optional data and partials from files.
struct Input {
  std::string source;
  std::optional<std::string> data = std::nullopt;
  std::map<std::string, std::string> partials = {};  // name -> text, as from --partials
};

// Findings as "LINE:COLUMN code[ suggestion]", "in partial 'p' " before
// those of a partial.
std::vector<std::string> findings(const Input& run, check::CodeSet disabled = 0) {
  HeapResource heap;
  Arena arena(&heap);
  check::PartialCatalog catalog;
  Value data;
  if (run.data) {
    data = readJsonDocument(*run.data, arena);
    catalog.addDataStore(data);
  }
  for (const auto& [name, text] : run.partials) catalog.addText(name, text, name + ".liquid");
  check::CheckResult result = check::checkTemplate({run.source, run.data ? &data : nullptr, &catalog, disabled});
  std::vector<std::string> out;
  for (const check::Finding& f : result.findings) {
    std::string line = f.partial.empty() ? "" : "in partial '" + f.partial + "' ";
    line += std::to_string(f.at.line) + ":" + std::to_string(f.at.column) + " " + std::string(check::codeName(f.code));
    if (!f.suggestion.empty()) line += " " + f.suggestion;
    out.push_back(line);
  }
  return out;
}

using Lines = std::vector<std::string>;

struct CodeCase {
  const char* what;
  Input run;
  Lines expected;
};

// Each code: a finding and the near miss that must not be one.
const CodeCase kCodeCases[] = {
    {"syntax: the first parse error", {"a\n{% endfo %}"}, {"2:4 syntax"}},
    {"unknown filter, with a name two edits away", {"{{ x | upcsae }}{{ x | zzzzzzz }}"},
     {"1:8 unknown-filter upcase", "1:24 unknown-filter"}},
    {"known filters, exact case only", {"{{ x | upcase | Upcase }}"}, {"1:17 unknown-filter upcase"}},
    {"too few and too many arguments", {"{{ x | append }}{{ x | upcase: 1 }}{{ x | slice: 1, 2, 3 }}"},
     {"1:8 filter-arguments", "1:24 filter-arguments", "1:43 filter-arguments"}},
    {"optional arguments", {"{{ x | slice: 1 }}{{ x | truncate }}{{ x | replace: 'a' }}{{ x | join }}"}, {}},
    {"keyword arguments", {"{{ x | default: 1, allow_false: true }}{{ x | default: 1, allow_flase: true }}{{ x | round: digits: 2 }}"},
     {"1:59 filter-arguments allow_false", "1:93 filter-arguments"}},
    {"missing partial, only when partials are known",
     {"{% include 'crad' %}{% render 'card' %}", std::nullopt, {{"card", "x"}}},
     {"1:12 missing-partial card"}},
    {"no partials given: nothing is missing", {"{% include 'crad' %}"}, {}},
    {"the data's store counts", {"{% include 'a' %}{% include 'b' %}", R"({"templates": {"a": "x"}})"},
     {"1:29 missing-partial"}},
    {"a template that sets the store decides itself", {"{% assign templates = t %}{% include 'zz' %}", R"({"t": {}})"}, {}},
    {"undefined variable, with a suggestion from the data",
     {"{{ prodcut.title }}{{ product.title }}", R"({"product": {"title": "T"}})"},
     {"1:4 undefined-variable product"}},
    {"bound earlier in text order, in a branch or a loop",
     {"{% if c %}{% assign a = 1 %}{% endif %}{{ a }}{% for i in (1..2) %}{% assign b = i %}{% endfor %}{{ b }}"
      "{% capture d %}x{% endcapture %}{{ d }}{% increment e %}{{ e }}", R"({"c": true})"},
     {}},
    {"read before it is assigned", {"{{ a }}{% assign a = 1 %}{{ a }}", "{}"}, {"1:4 undefined-variable"}},
    {"a loop's variable lasts for its body; a later iteration sees what the body assigns",
     {"{% for p in ps %}{{ p }}{{ forloop.index }}{{ prev }}{% assign prev = p %}{% endfor %}{{ p }}",
      R"({"ps": [1]})"},
     {"1:90 undefined-variable"}},
    {"undefined-variable only with data", {"{{ nothing }}"}, {}},
    {"include shares its caller's variables, render sees its arguments and the data",
     {"{% assign a = 1 %}{% include 'inc' x: 2 %}{% render 'ren', y: a %}{{ z }}", R"({"d": 1})",
      {{"inc", "{{ a }}{{ x }}{% assign z = 3 %}"}, {"ren", "{{ a }}{{ y }}{{ d }}"}}},
     {"in partial 'ren' 1:4 undefined-variable"}},
    {"silent after an include it cannot follow",
     {"{{ a }}{% include name %}{{ b }}{% assign c = 1 %}{% include name %}", R"({"name": "n"})"},
     {"1:4 undefined-variable"}},
    {"unused assign and capture; a later read, a loop, an underscore",
     {"{% assign a = 1 %}{% capture b %}{% endcapture %}{% assign c = 1 %}{{ c }}"
      "{% for i in (1..2) %}{{ d }}{% assign d = i %}{% endfor %}{% assign _e = 1 %}"},
     {"1:1 unused-assign", "1:19 unused-assign"}},
    {"read by an include after it, not by a render",
     {"{% assign a = 1 %}{% assign b = 1 %}{% include 'inc' %}{% render 'ren' %}", std::nullopt,
      {{"inc", "{{ a }}"}, {"ren", "{{ b }}"}}},
     {"1:19 unused-assign"}},
    {"an assignment inside a render stays there", {"{% render 'ren' %}", std::nullopt, {{"ren", "{% assign x = 1 %}"}}},
     {"in partial 'ren' 1:1 unused-assign"}},
    {"a computed name may read anything", {"{% assign a = 1 %}{{ [key] }}"}, {}},
    {"invalid operators", {"{% if a = 1 %}{% endif %}{% if a && b %}{% endif %}{% if a == 1 %}{% endif %}"},
     {"1:1 invalid-operator ==", "1:26 invalid-operator and"}},
    {"branches after else",
     {"{% if a %}{% else %}{% elsif b %}{% endif %}{% for i in x %}{% else %}{% else %}{% endfor %}"
      "{% if a %}{% elsif b %}{% else %}{% endif %}"},
     {"1:21 unreachable-branch", "1:71 unreachable-branch"}},
    {"a partial that does not parse", {"{% include 'p' %}", std::nullopt, {{"p", "{{ x"}}}, {"in partial 'p' 1:1 syntax"}},
    {"a partial that includes itself", {"{% include 'p' %}", std::nullopt, {{"p", "{% include 'p' %}"}}}, {}},
};

TEST(Check, EachCodeFindsAndMisses) {
  for (const CodeCase& c : kCodeCases) EXPECT_EQ(findings(c.run), c.expected) << c.what;
}

TEST(Check, DisabledCodesAreSilent) {
  Input input{"{{ x | nope | append }}{% assign y = 1 %}"};
  EXPECT_EQ(findings(input, check::codeBit(check::CheckCode::UnknownFilter) | check::codeBit(check::CheckCode::UnusedAssign)),
            Lines{"1:15 filter-arguments"});
}

std::vector<std::string> paths(const Input& run) {
  HeapResource heap;
  Arena arena(&heap);
  check::PartialCatalog catalog;
  for (const auto& [name, text] : run.partials) catalog.addText(name, text);
  std::vector<std::string> out;
  for (const check::DataPath& p : check::checkTemplate({run.source, nullptr, &catalog, 0}).paths)
    out.push_back(p.path + " " + (p.partial.empty() ? "" : p.partial + ":") + std::to_string(p.at.line) + ":" +
                  std::to_string(p.at.column));
  return out;
}

TEST(Check, DataPathsFollowLoopsAliasesAndArguments) {
  Input input{"{{ shop.name }}{% for p in products %}{{ p.title }}{% assign v = p.variants %}"
          "{% for x in v %}{{ x.price | times: rate }}{% endfor %}{% endfor %}"
          "{% assign n = products | size %}{{ n.x }}{{ a[0].b }}{{ a[i].c }}{{ a['k'] }}"
          "{% render 'card' with shop.owner as o, extra: shop %}",
          std::nullopt,
          {{"card", "{{ o.name }}{{ extra.tax }}"}}};
  EXPECT_EQ(paths(input), (Lines{"shop.name 1:4", "products 1:28", "products[].title 1:42",
                               "products[].variants 1:66", "products[].variants[].price 1:98", "rate 1:115",
                               "a[0].b 1:190", "i 1:204", "a 1:202", "a.k 1:214", "shop.owner 1:245",
                               "shop 1:269", "shop.owner.name card:1:4", "shop.tax card:1:16"}));
}

TEST(Check, FindingsAsJson) {
  check::Finding f{check::CheckCode::UnknownFilter, {2, 5}, "say \"hi\"\n\xff", "upcase", "card", ""};
  std::string out;
  check::appendFindingJson(out, f, "a.liquid");
  EXPECT_EQ(out, R"({"file":"a.liquid","line":2,"column":5,"severity":"warning","code":"unknown-filter",)"
                 R"("message":"say \"hi\"\n\ufffd","partial":"card","suggestion":"upcase"})");
}

// The work a render of `tpl` counts: one unit more for every variable
// argument a filter evaluates.
uint64_t workOf(const std::string& tpl) {
  std::string_view data = R"({"a": "a"})";
  Limits limits = limitsFor(tpl.size(), data.size(), {});
  HeapResource heap(limits);
  CallStats stats;
  std::pair<char*, std::size_t> out = renderCall(tpl, JsonInput(data), heap, limits, &stats);
  std::free(out.first);
  return stats.work;
}

std::string callWith(std::string_view input, std::string_view filter, std::size_t args) {
  std::string tpl = "{{ '" + std::string(input) + "' | " + std::string(filter);
  for (std::size_t i = 0; i < args; ++i) tpl += (i ? ", a" : ": a");
  return tpl + " }}";
}

// The table says how many positional arguments a handler reads: one more is
// never evaluated, and (for a filter that takes any) the last one is, on an
// empty or on a short input.
TEST(Check, FilterSignaturesMatchWhatHandlersRead) {
  for (FilterId id = 0; id < kFilterCount; ++id) {
    const FilterSignature& s = filterSignature(id);
    ASSERT_EQ(s.name, filterNames()[id]);
    EXPECT_LE(s.needs, s.takes) << s.name;
    bool readsLast = s.takes == 0;
    for (std::string_view input : {"", "abc"}) {
      uint64_t work = workOf(callWith(input, s.name, s.takes));
      EXPECT_EQ(work, workOf(callWith(input, s.name, s.takes + 1))) << s.name;
      if (s.takes > 0 && work != workOf(callWith(input, s.name, s.takes - 1))) readsLast = true;
    }
    EXPECT_TRUE(readsLast) << s.name;
  }
}

// Text lines of a check, as the tool writes them but with the case's name
// for the file.
std::vector<std::string> caseFindings(const test::Case& c) {
  Input input{c.templateText, c.data, {}};
  std::vector<std::string> out;
  for (const std::string& f : findings(input))
    out.push_back(fs::path(c.file).filename().string() + " | " + c.title + " | " + f);
  return out;
}

TEST(Check, RepositoryExamplesGiveNothing) {
  Input products{readText(MERVALT_SOURCE_DIR "/examples/products.liquid"),
               readText(MERVALT_SOURCE_DIR "/examples/products.json"), {}};
  EXPECT_EQ(findings(products), Lines{});
  Input page{readText(MERVALT_PRODUCT_PAGE_SOURCE "/page.liquid"),
           readText(MERVALT_PRODUCT_PAGE_DATA "/products.json"),
           {{"card", readText(MERVALT_PRODUCT_PAGE_SOURCE "/card.liquid")}}};
  EXPECT_EQ(findings(page), Lines{});
}

// Adversarial templates and documents (nesting, partials that include
// themselves, huge texts, invalid UTF-8) are checked to the end.
TEST(Check, HostileInputsAreChecked) {
  for (const test::Hostile& h : test::hostileInputs()) {
    Input input{h.templateText.get(), h.json.get()};
    if (input.data->empty()) input.data.reset();
    std::vector<std::string> found = findings(input);
    if (h.outcome == test::Outcome::DoesNotParse) {
      EXPECT_FALSE(found.empty()) << h.name;
    }
  }
}

// check_expected.txt: finding lines, each block of them after a "# reason".
TEST(Check, CaseFilesGiveTheAnnotatedFindings) {
  std::vector<std::string> actual;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(MERVALT_SOURCE_DIR "/tests/cases")) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files)
    for (const test::Case& c : test::parseCaseFile(file.string(), readText(file)))
      for (std::string& line : caseFindings(c)) actual.push_back(std::move(line));
  std::vector<std::string> expected;
  std::istringstream list(readText(MERVALT_SOURCE_DIR "/tests/check_expected.txt"));
  bool reasoned = false;
  for (std::string line; std::getline(list, line);) {
    if (line.empty()) reasoned = false;
    if (line.starts_with("#")) reasoned = true;
    if (line.empty() || line.starts_with("#")) continue;
    EXPECT_TRUE(reasoned) << "no reason before: " << line;
    expected.push_back(line);
  }
  if (const char* out = std::getenv("MERVALT_CHECK_ACTUAL")) {
    std::ofstream dump(out);
    for (const std::string& line : actual) dump << line << "\n";
  }
  std::multiset<std::string> want(expected.begin(), expected.end()), got(actual.begin(), actual.end());
  for (const std::string& line : got)
    if (!want.count(line)) ADD_FAILURE() << "a finding not in check_expected.txt: " << line;
  for (const std::string& line : want)
    if (!got.count(line)) ADD_FAILURE() << "check_expected.txt lists what is not found: " << line;
}

}  // namespace

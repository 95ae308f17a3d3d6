// engine_test.cpp: the engine interface: errors and their places, limits and
// their statuses, partials and their scoping, templates that outlive their
// engine, threads sharing one template, and equivalence with
// mervalt_render_json over the fuzz regression inputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mervalt.h"
#include "mervalt_engine.h"

namespace {

// What a call gave: its status, the output or the error's fields.
struct Outcome {
  Outcome(int s, std::string t = "", std::string p = "", uint32_t l = 0, uint32_t c = 0)
      : status(s), text(std::move(t)), partial(std::move(p)), line(l), column(c) {}
  int status;
  std::string text;  // the output, or the error's message
  std::string partial;
  uint32_t line, column;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "{" << mervalt_status_string(o.status) << ", \"" << o.text << "\", partial \"" << o.partial
            << "\", " << o.line << ":" << o.column << "}";
}

Outcome outcome(int status, char* out, std::size_t len, mervalt_error* error) {
  Outcome o{status};
  if (status == MERVALT_OK) {
    o.text.assign(out, len);
    mervalt_output_free(out, len);
  } else if (error) {
    o.text = error->message;
    o.partial = error->partial ? error->partial : "";
    o.line = error->line;
    o.column = error->column;
    mervalt_error_free(error);
  }
  return o;
}

// An engine set up by the test, freed with it.
class Engine {
 public:
  Engine() : e_(mervalt_engine_new()) {}
  ~Engine() { mervalt_engine_free(e_); }
  mervalt_engine* get() { return e_; }

  Outcome addPartial(const std::string& name, const std::string& source) {
    mervalt_error* error = nullptr;
    int status = mervalt_engine_add_partial(e_, name.data(), name.size(), source.data(), source.size(), &error);
    return outcome(status, nullptr, 0, error);
  }
  Outcome check(const std::string& source, const std::string& json = "") {
    char* out = nullptr;
    std::size_t len = 0;
    mervalt_error* error = nullptr;
    int status = mervalt_check(e_, source.data(), source.size(), json.data(), json.size(), &out, &len, &error);
    return outcome(status, out, len, error);
  }
  Outcome render(const std::string& source, const std::string& json = "") {
    char* out = nullptr;
    std::size_t len = 0;
    mervalt_error* error = nullptr;
    int status = mervalt_engine_render(e_, source.data(), source.size(), json.empty() ? nullptr : json.data(),
                                       json.size(), &out, &len, &error);
    return outcome(status, out, len, error);
  }

 private:
  mervalt_engine* e_;
};

Outcome ok(const std::string& text) { return {MERVALT_OK, text}; }

TEST(Engine, ErrorsSayWhyAndWhere) {
  Engine e;
  EXPECT_EQ(e.render("{% for x in y %}\n{% if x %}\n{% endfor %}"),
            (Outcome{MERVALT_ERROR_SYNTAX, "'endfor' does not close the open 'if' (opened at 2:1)", "", 3, 4}));
  EXPECT_EQ(e.addPartial("card", "ok\n  {{ x"),
            (Outcome{MERVALT_ERROR_SYNTAX, "'{{' is never closed", "card", 2, 3}));
  EXPECT_EQ(e.render("{% include 'bad' %}", R"({"templates": {"bad": "{% endif %}"}})"),
            (Outcome{MERVALT_ERROR_SYNTAX, "'endif' without an open 'if'", "bad", 1, 4}));
  // Strict data: where the JSON stops being readable.
  EXPECT_EQ(e.render("{{ a }}", "{\"a\": [1,]}"), ok(""));
  mervalt_engine_set_strict_data(e.get(), 1);
  EXPECT_EQ(e.render("{{ a }}", "{\"a\": [1,]}"),
            (Outcome{MERVALT_ERROR_DATA, "trailing comma before ']'", "", 1, 9}));
  EXPECT_EQ(e.render("{{ a }}", "{\"a\": 1}"), ok("1"));
}

// The checker through the engine: its partials after the data's store,
// disabled codes, unreadable data, and the data paths of a compiled template.
TEST(Engine, ChecksTemplatesAndListsTheirDataPaths) {
  Engine e;
  ASSERT_EQ(e.addPartial("card", "{{ p.title | upcsae }}{% assign t = 1 %}").status, MERVALT_OK);
  EXPECT_EQ(e.check("{% render 'card', p: item %}{% include 'crad' %}"),
            ok(R"([{"line":1,"column":40,"severity":"warning","code":"missing-partial",)"
               R"("message":"no partial named 'crad': the tag writes 'Liquid error (line 1): Could not find asset crad'; )"
               R"(did you mean 'card'?","suggestion":"card"},)"
               R"({"line":1,"column":14,"severity":"warning","code":"unknown-filter",)"
               R"("message":"unknown filter 'upcsae', which passes its input through; did you mean 'upcase'?",)"
               R"("partial":"card","suggestion":"upcase"},)"
               R"({"line":1,"column":23,"severity":"warning","code":"unused-assign",)"
               R"("message":"'t' is assigned here and never read afterwards","partial":"card"}])"));
  EXPECT_EQ(mervalt_engine_disable_check(e.get(), "unknown-filter", 14), MERVALT_OK);
  EXPECT_EQ(mervalt_engine_disable_check(e.get(), "unused-assign", 13), MERVALT_OK);
  EXPECT_EQ(mervalt_engine_disable_check(e.get(), "no-such-code", 12), MERVALT_ERROR_ARGUMENT);
  EXPECT_EQ(e.check("{% render 'card' %}{{ x }}", R"({"templates": {"card": "{{ y }}"}})"),
            ok(R"([{"line":1,"column":23,"severity":"warning","code":"undefined-variable",)"
               R"("message":"'x' is not defined here: nothing assigns it before this and the data has no 'x'"},)"
               R"({"line":1,"column":4,"severity":"warning","code":"undefined-variable",)"
               R"("message":"'y' is not defined here: nothing assigns it before this and the data has no 'y'",)"
               R"("partial":"card"}])"));
  EXPECT_EQ(e.check("{{ x"), ok(R"([{"line":1,"column":1,"severity":"error","code":"syntax",)"
                                R"("message":"'{{' is never closed"}])"));
  EXPECT_EQ(e.check("{{ x }}", "{\"x\": [1,]}"), (Outcome{MERVALT_ERROR_DATA, "trailing comma before ']'", "", 1, 9}));

  mervalt_template* tpl = nullptr;
  std::string source = "{% for p in products %}{% render 'card' with p as p %}{% endfor %}";
  ASSERT_EQ(mervalt_compile(e.get(), source.data(), source.size(), &tpl, nullptr), MERVALT_OK);
  char* out = nullptr;
  std::size_t len = 0;
  int status = mervalt_template_variables(tpl, &out, &len, nullptr);
  EXPECT_EQ(outcome(status, out, len, nullptr),
            ok(R"([{"path":"products","line":1,"column":13},{"path":"products[]","line":1,"column":46},)"
               R"({"path":"products[].title","line":1,"column":4,"partial":"card"}])"));
  mervalt_template_free(tpl);
}

TEST(Engine, EachLimitFailsWithItsStatusAndValue) {
  struct Row {
    mervalt_limit limit;
    uint64_t value;
    std::string source;
    Outcome expected;
  };
  const std::vector<Row> rows = {
      {MERVALT_LIMIT_WORK, 500, "{% for i in (1..1000) %}{{ i }}{% endfor %}",
       {MERVALT_ERROR_WORK, "more than 500 units of work"}},
      {MERVALT_LIMIT_ITERATIONS, 10, "{% for i in (1..11) %}{% endfor %}",
       {MERVALT_ERROR_ITERATIONS, "more than 10 loop iterations and inclusions"}},
      {MERVALT_LIMIT_DEPTH, 2, "{% if true %}{% if true %}{% if true %}x{% endif %}{% endif %}{% endif %}",
       {MERVALT_ERROR_DEPTH, "rendering nests deeper than 2 levels (blocks, include and render)"}},
      {MERVALT_LIMIT_OUTPUT, 100, "{% for i in (1..200) %}x{% endfor %}",
       {MERVALT_ERROR_OUTPUT, "the output would be larger than 100 bytes"}},
      {MERVALT_LIMIT_MEMORY, 1 << 20, "{{ (1..100000) | join: ',' }}",
       {MERVALT_ERROR_MEMORY_LIMIT, "rendering would hold more than 1 MiB of memory"}},
  };
  for (const Row& r : rows) {
    Engine e;
    ASSERT_EQ(mervalt_engine_set_limit(e.get(), r.limit, r.value), MERVALT_OK);
    EXPECT_EQ(e.render(r.source), r.expected) << r.source;
    // A bound above the default lets the same template render.
    ASSERT_EQ(mervalt_engine_set_limit(e.get(), r.limit, 0), MERVALT_OK);
    EXPECT_EQ(e.render(r.source).status, MERVALT_OK) << r.source;
  }
  Engine e;
  EXPECT_EQ(mervalt_engine_set_limit(e.get(), MERVALT_LIMIT_DEPTH, 101), MERVALT_ERROR_ARGUMENT);
  EXPECT_EQ(mervalt_engine_set_limit(e.get(), static_cast<mervalt_limit>(9), 1), MERVALT_ERROR_ARGUMENT);
}

TEST(Engine, PartialsComeAfterTheDataStoreWithTheSameScoping) {
  Engine e;
  ASSERT_EQ(e.addPartial("card", "[{{ v }}{% assign w = 'set' %}]").status, MERVALT_OK);
  ASSERT_EQ(e.addPartial("both", "engine").status, MERVALT_OK);
  const std::string json = R"({"v": "data", "templates": {"both": "data's"}})";
  EXPECT_EQ(e.render("{% assign v = 'mine' %}{% include 'card' %}{{ w }}|{% render 'card' %}|{% include 'both' %}",
                     json),
            ok("[mine]set|[data]|data's"));
  // Replacing a partial; a name holding a NUL byte.
  ASSERT_EQ(e.addPartial("card", "new").status, MERVALT_OK);
  EXPECT_EQ(e.render("{% include 'card' %}"), ok("new"));
  EXPECT_EQ(e.addPartial(std::string("a\0b", 3), "x").status, MERVALT_ERROR_ARGUMENT);
}

TEST(Engine, ATemplateKeepsWhatItCompiledWith) {
  auto* e = mervalt_engine_new();
  const std::string card = "card:{{ x }}", page = "{% include 'card' %}|{{ 'abc' | size }}";
  ASSERT_EQ(mervalt_engine_add_partial(e, "card", 4, card.data(), card.size(), nullptr), MERVALT_OK);
  mervalt_template* t = nullptr;
  ASSERT_EQ(mervalt_compile(e, page.data(), page.size(), &t, nullptr), MERVALT_OK);
  ASSERT_EQ(mervalt_engine_add_partial(e, "card", 4, "changed", 7, nullptr), MERVALT_OK);
  mervalt_engine_set_limit(e, MERVALT_LIMIT_WORK, 1);
  mervalt_engine_free(e);

  // Two threads render the one template at once, many times.
  const std::string json = R"({"x": 7})";
  std::vector<std::string> results(2);
  auto work = [&](std::string& result) {
    for (int i = 0; i < 200; ++i) {
      char* out = nullptr;
      std::size_t len = 0;
      if (mervalt_template_render(t, json.data(), json.size(), &out, &len, nullptr) != MERVALT_OK) return;
      result.assign(out, len);
      mervalt_output_free(out, len);
    }
  };
  std::thread a(work, std::ref(results[0])), b(work, std::ref(results[1]));
  a.join();
  b.join();
  EXPECT_EQ(results[0], "card:7|3");
  EXPECT_EQ(results[1], "card:7|3");
  mervalt_template_free(t);
}

TEST(Engine, NullArgumentsAreRefused) {
  Engine e;
  mervalt_error* error = nullptr;
  char* out = nullptr;
  std::size_t len = 0;
  EXPECT_EQ(mervalt_compile(nullptr, "x", 1, nullptr, &error), MERVALT_ERROR_ARGUMENT);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->status, MERVALT_ERROR_ARGUMENT);
  mervalt_error_free(error);
  EXPECT_EQ(mervalt_template_render(nullptr, nullptr, 0, &out, &len, nullptr), MERVALT_ERROR_ARGUMENT);
  EXPECT_EQ(mervalt_engine_render(e.get(), nullptr, 3, nullptr, 0, &out, &len, nullptr), MERVALT_ERROR_ARGUMENT);
  EXPECT_STREQ(mervalt_status_string(MERVALT_ERROR_OUTPUT), "output limit");
  EXPECT_STREQ(mervalt_status_string(42), "unknown status");
  EXPECT_STREQ(mervalt_engine_version(), MERVALT_VERSION_STRING);
}

// Every fuzz regression input renders alike through both libraries'
// functions: compiled, in one call, and through mervalt_render_json.
TEST(Engine, RendersAsTheCallInterfaceOnTheFuzzRegressions) {
  std::optional<std::string> plain, compiled, once;
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(MERVALT_RENDER_REGRESSIONS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t nul = bytes.find('\0');
    std::string tpl = bytes.substr(0, nul), json = nul == std::string::npos ? "" : bytes.substr(nul + 1);
    char* out = nullptr;
    std::size_t len = 0;
    int rc = mervalt_render_json(tpl.data(), tpl.size(), json.data(), json.size(), &out, &len);
    Outcome viaCall{rc == 0 ? MERVALT_OK : 1, rc == 0 ? std::string(out, len) : ""};
    if (rc == 0) mervalt_free(out, len);
    Engine e;
    Outcome viaEngine = e.render(tpl, json);
    Outcome viaTemplate{-1};
    mervalt_template* t = nullptr;
    if (mervalt_compile(e.get(), tpl.data(), tpl.size(), &t, nullptr) == MERVALT_OK) {
      int status = mervalt_template_render(t, json.data(), json.size(), &out, &len, nullptr);
      viaTemplate = outcome(status, out, len, nullptr);
      mervalt_template_free(t);
    }
    auto shape = [](const Outcome& o) {
      return Outcome{o.status == MERVALT_OK ? 0 : 1, o.status == MERVALT_OK ? o.text : ""};
    };
    EXPECT_EQ(shape(viaEngine), viaCall) << entry.path();
    if (viaTemplate.status != -1) {
      EXPECT_EQ(shape(viaTemplate), viaCall) << entry.path();
    }
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace

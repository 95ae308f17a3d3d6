// case_runner.cpp: runs the data-driven cases of tests/cases/*.txt through the C interface,
// and requires the engine interface to give the same result for each: the
// template compiled and then rendered, and compiled and rendered in one call.
//
// The file format is described in case_file.h.
//
// Every case is its own test, named after its file and its title. The
// MERVALT_CASE_FILES environment variable (paths separated by ':') limits the
// run to some files; without it every file in the cases directory runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "case_file.h"
#include "mervalt.h"
#include "mervalt_engine.h"

namespace mervalt::test {

void PrintTo(const Case& c, std::ostream* os) { *os << c.file << ":" << c.line << " " << c.title; }

}  // namespace mervalt::test

namespace {

using mervalt::test::Case;

// gtest names allow letters, digits and underscores only.
std::string identifier(std::string_view s) {
  std::string out;
  for (char c : s) {
    bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (word) out += c;
    else if (!out.empty() && out.back() != '_') out += '_';
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out.empty() ? "unnamed" : out;
}

std::vector<std::filesystem::path> caseFiles() {
  std::vector<std::filesystem::path> files;
  if (const char* only = std::getenv("MERVALT_CASE_FILES"); only && *only) {
    std::stringstream list(only);
    for (std::string p; std::getline(list, p, ':');)
      if (!p.empty()) files.emplace_back(p);
    return files;
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(MERVALT_CASES_DIR, ec))
    if (entry.path().extension() == ".txt") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<Case> loadCases() {
  std::vector<Case> all;
  std::map<std::string, int> used;
  for (const auto& path : caseFiles()) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Case> cases;
    if (!in.good() && !in.eof()) {
      Case c;
      c.file = path.filename().string();
      c.title = "file could not be read";
      c.formatError = "cannot read " + path.string();
      cases.push_back(c);
    } else {
      cases = mervalt::test::parseCaseFile(path.filename().string(), text);
    }
    for (Case& c : cases) {
      std::string name = identifier(path.stem().string()) + "__" + identifier(c.title);
      int n = ++used[name];
      c.testName = n == 1 ? name : name + "_" + std::to_string(n);
      all.push_back(std::move(c));
    }
  }
  return all;
}

// Bytes shown with C escapes, so that whitespace and control bytes are visible.
std::string visible(std::string_view s) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string describeMismatch(std::string_view expected, std::string_view actual) {
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  std::size_t line = 1 + std::count(expected.begin(), expected.begin() + at, '\n');
  std::size_t lineStart = expected.substr(0, at).rfind('\n');
  std::size_t column = at - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
  std::size_t from = at > 20 ? at - 20 : 0;
  std::ostringstream os;
  os << "output differs at byte " << at << " (line " << line << ", column " << column << ")\n"
     << "  expected: \"" << visible(expected.substr(from, 60)) << "\"" << (from ? " (from byte " + std::to_string(from) + ")" : "") << "\n"
     << "  actual:   \"" << visible(actual.substr(from, 60)) << "\"\n"
     << "whole expected (" << expected.size() << " bytes): \"" << visible(expected) << "\"\n"
     << "whole actual   (" << actual.size() << " bytes): \"" << visible(actual) << "\"";
  return os.str();
}

// The result of a render: the bytes, or nothing when it failed.
using Result = std::optional<std::string>;

Result taken(int rc, char*& out, std::size_t& len) {
  if (rc != 0) return std::nullopt;
  std::string bytes(out, len);
  mervalt_output_free(out, len);
  return bytes;
}

// The same template and data through the engine interface, with its
// default settings: compiled, then rendered; and in one call.
std::pair<Result, Result> throughEngine(const std::string& tpl, const std::string& json) {
  mervalt_engine* engine = mervalt_engine_new();
  char* out = nullptr;
  std::size_t len = 0;
  Result compiled;
  mervalt_template* t = nullptr;
  if (mervalt_compile(engine, tpl.data(), tpl.size(), &t, nullptr) == MERVALT_OK) {
    int rc = mervalt_template_render(t, json.data(), json.size(), &out, &len, nullptr);
    compiled = taken(rc, out, len);
    mervalt_template_free(t);
  }
  int rc = mervalt_engine_render(engine, tpl.data(), tpl.size(), json.data(), json.size(), &out, &len, nullptr);
  Result once = taken(rc, out, len);
  mervalt_engine_free(engine);
  return {compiled, once};
}

class CaseTest : public testing::TestWithParam<Case> {};

TEST_P(CaseTest, Run) {
  const Case& c = GetParam();
  SCOPED_TRACE(c.file + ":" + std::to_string(c.line) + ": " + c.title);
  ASSERT_TRUE(c.formatError.empty()) << "malformed case: " << c.formatError;

  static const char kUntouched = 0;
  char* out = const_cast<char*>(&kUntouched);
  std::size_t outLen = 0xdeadbeef;
  const std::string& json = c.data ? *c.data : std::string();
  int rc = mervalt_render_json(c.templateText.data(), c.templateText.size(), json.data(), json.size(), &out, &outLen);
  Result plain = rc == 0 ? Result(std::string(out, outLen)) : std::nullopt;
  auto [compiled, once] = throughEngine(c.templateText, json);
  EXPECT_EQ(compiled, plain) << "a compiled template renders otherwise";
  EXPECT_EQ(once, plain) << "mervalt_engine_render renders otherwise";

  if (c.fails) {
    EXPECT_EQ(rc, 1) << "the call should fail; it rendered \"" << (rc == 0 ? visible({out, outLen}) : "") << "\"";
    if (rc == 0) {
      mervalt_free(out, outLen);
      return;
    }
    EXPECT_EQ(out, &kUntouched) << "a failed call changed *out_ptr";
    EXPECT_EQ(outLen, 0xdeadbeefu) << "a failed call changed *out_len";
    return;
  }
  ASSERT_EQ(rc, 0) << "the call failed (the template should render)";
  std::string actual(out, outLen);
  mervalt_free(out, outLen);
  if (actual != *c.expect) ADD_FAILURE() << describeMismatch(*c.expect, actual);
}

INSTANTIATE_TEST_SUITE_P(Cases, CaseTest, testing::ValuesIn(loadCases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.testName; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CaseTest);

}  // namespace

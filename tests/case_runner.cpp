// case_runner.cpp: runs the data-driven cases of tests/cases/*.txt through the C interface.
//
// File format: `=== name` starts a case; `--- template`, `--- data`, `--- expect`
// and `--- fails` start its sections. A section holds the lines up to the next
// marker, without the newline before that marker. A marker ending in
// ` escaped` has \n \r \t \v \f \\ and \xNN decoded in its section.
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

#include "mervalt.h"

namespace {

struct Case {
  std::string file;  // file name, for messages
  int line = 0;      // line of the `===` marker
  std::string title;
  std::string testName;
  std::string templateText;
  std::optional<std::string> data;
  std::optional<std::string> expect;
  bool fails = false;
  std::string formatError;  // the case is malformed; the test reports this
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.file << ":" << c.line << " " << c.title; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the escapes of an ` escaped` section; nullopt on an unknown or
// incomplete escape, so that a typo cannot silently change a case.
std::optional<std::string> decodeEscapes(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    switch (s[i]) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'v': out += '\v'; break;
      case 'f': out += '\f'; break;
      case '\\': out += '\\'; break;
      case 'x': {
        int hi = i + 1 < s.size() ? hexDigit(s[i + 1]) : -1;
        int lo = i + 2 < s.size() ? hexDigit(s[i + 2]) : -1;
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

// A `--- word` line, or `--- word escaped`.
struct Marker {
  std::string section;
  bool escaped = false;
};

std::optional<Marker> parseMarker(std::string_view line) {
  if (!line.starts_with("--- ")) return std::nullopt;
  std::string_view rest = line.substr(4);
  Marker m;
  if (rest.ends_with(" escaped")) {
    m.escaped = true;
    rest.remove_suffix(8);
  }
  if (rest.empty() || !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
    return std::nullopt;
  m.section = rest;
  return m;
}

class CaseFileParser {
 public:
  explicit CaseFileParser(std::string fileName) : fileName_(std::move(fileName)) {}

  std::vector<Case> parse(const std::string& text) {
    std::size_t pos = 0;
    int lineNo = 0;
    while (pos <= text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string_view line(text.data() + pos, end - pos);
      ++lineNo;
      // A final newline does not start an empty last line.
      if (!(end == text.size() && line.empty())) handleLine(line, lineNo);
      pos = end + 1;
    }
    finishCase();
    return std::move(cases_);
  }

 private:
  void handleLine(std::string_view line, int lineNo) {
    if (line.starts_with("=== ") || line == "===") {
      finishCase();
      current_ = Case{};
      current_->file = fileName_;
      current_->line = lineNo;
      current_->title = std::string(line.size() > 4 ? line.substr(4) : std::string_view{});
      return;
    }
    if (!current_) return;  // text before the first case is commentary
    if (auto marker = parseMarker(line)) {
      finishSection();
      startSection(*marker);
      return;
    }
    if (!section_) {
      fail("text outside any section: " + std::string(line));
      return;
    }
    lines_.emplace_back(line);
  }

  void startSection(const Marker& m) {
    static const char* const kKnown[] = {"template", "data", "expect", "fails"};
    if (std::find(std::begin(kKnown), std::end(kKnown), m.section) == std::end(kKnown)) {
      fail("unknown section '--- " + m.section + "'");
      return;
    }
    if (seen_.count(m.section)) fail("section '--- " + m.section + "' appears twice");
    seen_[m.section] = true;
    section_ = m;
    lines_.clear();
  }

  void finishSection() {
    if (!section_ || !current_) {
      section_.reset();
      return;
    }
    std::string content;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      if (i) content += '\n';
      content += lines_[i];
    }
    if (section_->escaped) {
      auto decoded = decodeEscapes(content);
      if (!decoded) fail("bad escape in '--- " + section_->section + " escaped'");
      content = decoded.value_or("");
    }
    const std::string& name = section_->section;
    if (name == "template") current_->templateText = content;
    if (name == "data") current_->data = content;
    if (name == "expect") current_->expect = content;
    if (name == "fails") {
      current_->fails = true;
      if (content.find_first_not_of(" \t\r\n") != std::string::npos) fail("'--- fails' must be empty");
    }
    section_.reset();
    lines_.clear();
  }

  void finishCase() {
    finishSection();
    if (!current_) return;
    if (!seen_.count("template")) fail("no '--- template' section");
    if (current_->fails == current_->expect.has_value()) fail("needs exactly one of '--- expect' and '--- fails'");
    cases_.push_back(std::move(*current_));
    current_.reset();
    seen_.clear();
  }

  void fail(const std::string& message) {
    if (current_ && current_->formatError.empty()) current_->formatError = message;
  }

  std::string fileName_;
  std::vector<Case> cases_;
  std::optional<Case> current_;
  std::optional<Marker> section_;
  std::vector<std::string> lines_;
  std::map<std::string, bool> seen_;
};

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
      cases = CaseFileParser(path.filename().string()).parse(text);
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

// case_file.cpp: the parser of the case file format (see case_file.h).
#include "case_file.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <string_view>

namespace mervalt::test {
namespace {

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

}  // namespace

std::vector<Case> parseCaseFile(const std::string& fileName, const std::string& text) {
  return CaseFileParser(fileName).parse(text);
}

}  // namespace mervalt::test

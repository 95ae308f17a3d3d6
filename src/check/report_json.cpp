// report_json.cpp: JSON objects for findings and data paths.
#include "check/report_json.h"

#include <cstdio>

namespace mervalt::check {
namespace {

// The length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8Length(std::string_view s) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char c = byte(0);
  std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || n > s.size() || (n == 2 && c < 0xC2)) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  if (n == 3) {
    unsigned char d = byte(1);
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0)) return 0;  // overlong, surrogates
  }
  if (n == 4) {
    unsigned char d = byte(1);
    if ((c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90) || c > 0xF4) return 0;
  }
  return n;
}

void appendEscaped(std::string& out, char c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  if (static_cast<unsigned char>(c) < 0x20) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
    out += escaped;
  } else {
    out += c;
  }
}

void appendField(std::string& out, std::string_view key, std::string_view text) {
  out += ",\"";
  out += key;
  out += "\":";
  appendJsonString(out, text);
}

void appendNumber(std::string& out, std::string_view key, uint32_t n) {
  out += ",\"";
  out += key;
  out += "\":";
  out += std::to_string(n);
}

// The opening brace and, when given, the file: every object starts alike.
void openObject(std::string& out, std::string_view file) {
  out += '{';
  if (!file.empty()) appendField(out, "file", file);
}

void closeObject(std::string& out, std::size_t start) {
  if (out[start + 1] == ',') out.erase(start + 1, 1);
  out += '}';
}

}  // namespace

void appendJsonString(std::string& out, std::string_view s) {
  out += '"';
  while (!s.empty()) {
    std::size_t n = utf8Length(s);
    if (n == 0) {
      out += "\\ufffd";
      n = 1;
    } else if (n == 1) {
      appendEscaped(out, s[0]);
    } else {
      out.append(s.substr(0, n));
    }
    s.remove_prefix(n);
  }
  out += '"';
}

void appendFindingJson(std::string& out, const Finding& f, std::string_view file) {
  std::size_t start = out.size();
  openObject(out, file);
  appendNumber(out, "line", f.at.line);
  appendNumber(out, "column", f.at.column);
  appendField(out, "severity", severityName(severityOf(f.code)));
  appendField(out, "code", codeName(f.code));
  appendField(out, "message", f.message);
  if (!f.partial.empty()) appendField(out, "partial", f.partial);
  if (!f.suggestion.empty()) appendField(out, "suggestion", f.suggestion);
  closeObject(out, start);
}

void appendPathJson(std::string& out, const DataPath& p, std::string_view file) {
  std::size_t start = out.size();
  openObject(out, file);
  appendField(out, "path", p.path);
  appendNumber(out, "line", p.at.line);
  appendNumber(out, "column", p.at.column);
  if (!p.partial.empty()) appendField(out, "partial", p.partial);
  closeObject(out, start);
}

std::string jsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += items[i];
  }
  return out + "]";
}

}  // namespace mervalt::check

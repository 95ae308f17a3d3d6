// json_text.cpp: texts written as JSON strings.
#include "data/json_text.h"

#include <cstdio>

namespace mervalt {
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

}  // namespace mervalt

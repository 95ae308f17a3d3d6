// quoting.h: how a piece of the author's input is shown inside a message.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace mervalt {

// `text` between `quote`s, cut short after `limit` bytes (marked "..."), with
// control and non-ASCII bytes written as \xNN so a message stays one line of
// plain text whatever the input holds.
inline std::string quoted(std::string_view text, char quote, std::size_t limit) {
  bool cut = text.size() > limit;
  if (cut) text = text.substr(0, limit);
  std::string out(1, quote);
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7f) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (cut) out += "...";
  out += quote;
  return out;
}

}  // namespace mervalt

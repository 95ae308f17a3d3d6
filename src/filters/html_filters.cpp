// html_filters.cpp: filters that prepare text for HTML and URLs: escaping,
// tag stripping, line breaks and form-style percent encoding.
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "memory/arena.h"
#include "render/renderer.h"
#include "filters/filters.h"

namespace mervalt {
namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

// Entity of a byte that HTML escaping replaces, or an empty view.
std::string_view entityOf(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return {};
  }
}

// The bytes that escaping replaces, for the bytes that the wide scan leaves.
constexpr auto kEscapable = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {'&', '<', '>', '"', '\''}) t[c] = true;
  return t;
}();

// The position of the first byte in `s` from `i` on that escaping replaces,
// or the size of `s`. Sixteen bytes at a time where the processor allows.
std::size_t findEscapable(std::string_view s, std::size_t i) {
  const char* p = s.data();
  std::size_t n = s.size();
#if defined(__SSE2__)
  const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'),
                quot = _mm_set1_epi8('"'), apos = _mm_set1_epi8('\'');
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)),
                               _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, quot)),
                                            _mm_cmpeq_epi8(v, apos)));
    if (int mask = _mm_movemask_epi8(hit); mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i)
    if (kEscapable[static_cast<unsigned char>(p[i])]) return i;
  return n;
}

// The position of the first '<' or '>' in `s` from `i` on, or the size of
// `s`; sixteen bytes at a time where the processor allows.
std::size_t findAngle(std::string_view s, std::size_t i) {
  const char* p = s.data();
  std::size_t n = s.size();
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>');
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt));
    if (int mask = _mm_movemask_epi8(hit); mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
#endif
  while (i < n && p[i] != '<' && p[i] != '>') ++i;
  return i;
}

// Writes `s` with & < > " ' as entities.
template <class Sink>
void appendEscaped(Sink& out, std::string_view s) {
  std::size_t run = 0;  // start of the bytes not yet written
  for (std::size_t i = findEscapable(s, 0); i < s.size(); i = findEscapable(s, run)) {
    out.append(s.substr(run, i - run));
    out.append(entityOf(s[i]));
    run = i + 1;
  }
  out.append(s.substr(run));
}

bool isAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

bool isUrlSafe(char c) { return isAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

// Length of the entity starting with the "&" at `i` ("&" + 1 to 8 bytes of
// [0-9A-Za-z#] + ";"), or 0 when there is none.
std::size_t existingEntityLength(std::string_view s, std::size_t i) {
  constexpr std::size_t kWindow = 9;  // bytes looked at after the "&"
  std::size_t end = s.size() - 1 - i < kWindow ? s.size() - 1 : i + kWindow;
  std::size_t j = i + 1;
  while (j <= end && (isAsciiAlnum(s[j]) || s[j] == '#')) ++j;
  if (j <= end && j >= i + 2 && s[j] == ';') return j - i + 1;
  return 0;
}

// Whether the bytes at `i` begin with `word` (lower case), ignoring ASCII case.
bool startsWithNoCase(std::string_view s, std::size_t i, std::string_view word) {
  if (s.size() - i < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k) {
    char c = s[i + k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[k]) return false;
  }
  return true;
}

std::pmr::string& newTextFor(Renderer& r, std::size_t reserve) {
  std::pmr::string& out = newText(r.scratch());
  out.reserve(reserve);
  return out;
}

}  // namespace

Value filterEscape(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  if (findEscapable(s, 0) == s.size()) return Value::string(s);
  std::pmr::string& out = newTextFor(r, s.size() + s.size() / 8 + 16);
  appendEscaped(out, s);
  return Value::string(out);
}

void emitEscape(Renderer& r, const Value& in, Args) { appendEscaped(r.output(), r.display(in)); }

Value filterEscapeOnce(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  std::pmr::string& out = newTextFor(r, s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '&') {
      if (std::size_t len = existingEntityLength(s, i); len != 0) {
        out.append(s.substr(i, len));
        i += len - 1;
        continue;
      }
    }
    std::string_view entity = entityOf(c);
    if (entity.empty()) {
      out.push_back(c);
    } else {
      out.append(entity);
    }
  }
  return Value::string(out);
}

Value filterStripHtml(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  BoundedText out(r.scratch(), s.size());  // only drops bytes
  bool inComment = false, inTag = false, inRaw = false;
  std::size_t i = 0, n = s.size();
  while (i < n) {
    if (inComment) {
      std::size_t end = s.find("-->", i);
      if (end == std::string_view::npos) break;
      inComment = false;
      i = end + 3;
      continue;
    }
    // Copy (or skip) the run of plain bytes up to the next angle bracket.
    std::size_t j = findAngle(s, i);
    if (!inTag && !inRaw) out.append(s.substr(i, j - i));
    if (j == n) break;
    i = j;
    if (s[i] == '>') {
      if (inTag) {
        inTag = false;
      } else if (!inRaw) {
        out.push_back('>');
      }
      ++i;
      continue;
    }
    if (n - i >= 4 && s[i + 1] == '!' && s[i + 2] == '-' && s[i + 3] == '-') {
      inComment = true;
      i += 4;
      continue;
    }
    // Only a tag whose name starts with an s can open or close a script or
    // style; the others need no closer look.
    char next = i + 1 < n ? s[i + 1] : '\0';
    if ((next | 0x20) == 's') {
      if (startsWithNoCase(s, i, "<script") || startsWithNoCase(s, i, "<style")) inRaw = true;
    } else if (next == '/' && i + 2 < n && (s[i + 2] | 0x20) == 's') {
      if (startsWithNoCase(s, i, "</script>") || startsWithNoCase(s, i, "</style>")) inRaw = false;
    }
    inTag = true;
    ++i;
  }
  return Value::string(out.finish());
}

Value filterNewlineToBr(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  std::pmr::string& out = newTextFor(r, s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    if (c == '\n') {
      out.append("<br />\n");
    } else {
      out.push_back(c);
    }
  }
  return Value::string(out);
}

Value filterStripNewlines(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  std::pmr::string& out = newTextFor(r, s.size());
  for (char c : s) {
    if (c != '\n' && c != '\r') out.push_back(c);
  }
  return Value::string(out);
}

Value filterUrlEncode(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  std::pmr::string& out = newTextFor(r, s.size());
  for (char c : s) {
    if (isUrlSafe(c)) {
      out.push_back(c);
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      auto b = static_cast<unsigned char>(c);
      out.push_back('%');
      out.push_back(kHexUpper[b >> 4]);
      out.push_back(kHexUpper[b & 15]);
    }
  }
  return Value::string(out);
}

Value filterUrlDecode(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  std::pmr::string& out = newTextFor(r, s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '%' && s.size() - i > 2 && isHexDigit(s[i + 1]) && isHexDigit(s[i + 2])) {
      out.push_back(static_cast<char>(hexValue(s[i + 1]) << 4 | hexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(c == '+' ? ' ' : c);
    }
  }
  return Value::string(out);
}

}  // namespace mervalt

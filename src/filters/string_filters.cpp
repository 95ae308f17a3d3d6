// string_filters.cpp: filters that work on the display text of their input:
// trimming, ASCII case mapping, append/prepend, the remove and replace
// families, truncate, truncatewords and t.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "memory/arena.h"
#include "render/renderer.h"
#include "filters/dispatch.h"
#include "filters/filters.h"

namespace mervalt {
namespace {

constexpr std::string_view kDefaultEllipsis = "...";
constexpr int64_t kDefaultTruncateLength = 50;
constexpr int64_t kDefaultTruncateWords = 15;

// Sum of sizes that throws std::bad_alloc instead of wrapping around.
std::size_t addSizes(std::size_t a, std::size_t b) {
  if (a > SIZE_MAX - b) throw std::bad_alloc();
  return a + b;
}

std::size_t mulSizes(std::size_t a, std::size_t b) {
  if (b != 0 && a > SIZE_MAX / b) throw std::bad_alloc();
  return a * b;
}

// Copies `s` to `dst` and returns the end of the copy.
char* put(char* dst, std::string_view s) { return copyBytes(dst, s.data(), s.size()); }

// A string Value of the concatenated parts, built in one exact allocation.
Value concatText(Renderer& r, std::string_view a, std::string_view b, std::string_view c = {}) {
  std::size_t n = addSizes(addSizes(a.size(), b.size()), c.size());
  if (n == 0) return Value::string({});
  char* p = r.scratch().allocArray<char>(n);
  put(put(put(p, a), b), c);
  return Value::string({p, n});
}

char toUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char toLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

template <class Map>
Value mapBytes(Renderer& r, const Value& in, Map map) {
  std::string_view s = r.display(in);
  if (s.empty()) return Value::string({});
  char* p = r.scratch().allocArray<char>(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) p[i] = map(i, s[i]);
  return Value::string({p, s.size()});
}

// The same, written straight into the output.
template <class Map>
void emitMappedBytes(Renderer& r, const Value& in, Map map) {
  std::string_view s = r.display(in);
  char* p = r.output().reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) p[i] = map(i, s[i]);
  r.output().commit(s.size());
}

// Finds a needle in texts in time linear in text plus needle. Short needles
// use string_view's search (at most a small constant of compares per byte);
// long ones use a Knuth-Morris-Pratt table in the scratch arena, so that no
// input can make a search quadratic.
class Searcher {
 public:
  static constexpr std::size_t kShortNeedle = 16;

  Searcher(std::string_view needle, Arena& arena) : needle_(needle) {
    if (needle.size() <= kShortNeedle) return;
    fail_ = arena.allocArray<std::size_t>(needle.size());
    fail_[0] = 0;
    std::size_t k = 0;
    for (std::size_t i = 1; i < needle.size(); ++i) {
      while (k > 0 && needle[i] != needle[k]) k = fail_[k - 1];
      if (needle[i] == needle[k]) ++k;
      fail_[i] = k;
    }
  }

  // Start of the first occurrence at or after `from`, or npos.
  std::size_t find(std::string_view text, std::size_t from) const {
    if (needle_.size() == 1) {
      if (from >= text.size()) return std::string_view::npos;
      const void* hit = std::memchr(text.data() + from, needle_[0], text.size() - from);
      return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
    }
    if (fail_ == nullptr) return text.find(needle_, from);
    std::size_t k = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
      k = step(k, text[i]);
      if (k == needle_.size()) return i + 1 - k;
    }
    return std::string_view::npos;
  }

  // Start of the occurrence that begins furthest to the right, or npos.
  std::size_t findLast(std::string_view text) const {
    if (fail_ == nullptr) return text.rfind(needle_);
    std::size_t last = std::string_view::npos;
    std::size_t k = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      k = step(k, text[i]);
      if (k == needle_.size()) {
        last = i + 1 - k;
        k = fail_[k - 1];  // keep overlapping matches in view
      }
    }
    return last;
  }

 private:
  std::size_t step(std::size_t k, char c) const {
    while (k > 0 && c != needle_[k]) k = fail_[k - 1];
    return c == needle_[k] ? k + 1 : k;
  }

  std::string_view needle_;
  std::size_t* fail_ = nullptr;
};

// Every non-overlapping occurrence of `needle` (non-empty) in `s` replaced by
// `with`, scanning from the left. The occurrences are counted first, so the
// result is built once at its exact size; without any, it is the text itself.
Value replaceAll(Renderer& r, std::string_view s, std::string_view needle, std::string_view with) {
  if (needle.size() > s.size()) return Value::string(s);
  Searcher searcher(needle, r.scratch());
  std::size_t hits = 0;
  for (std::size_t at = searcher.find(s, 0); at != std::string_view::npos; at = searcher.find(s, at + needle.size()))
    ++hits;
  if (hits == 0) return Value::string(s);
  std::size_t n = addSizes(s.size() - hits * needle.size(), mulSizes(hits, with.size()));
  if (n == 0) return Value::string({});
  char* p = r.scratch().allocArray<char>(n);
  char* w = p;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = searcher.find(s, pos)) != std::string_view::npos; pos = hit + needle.size())
    w = put(put(w, s.substr(pos, hit - pos)), with);
  put(w, s.substr(pos));
  return Value::string({p, n});
}

// The search text of the remove family, or nothing when the input must be
// returned unchanged (no argument, nil, or an empty text).
std::optional<std::string_view> searchText(Renderer& r, Args args) {
  if (!hasArg(args, 0)) return std::nullopt;
  Value a = evalArg(r, args, 0);
  if (a.isNil()) return std::nullopt;
  std::string_view text = r.display(a);
  if (text.empty()) return std::nullopt;
  return text;
}

// Start of the first or last occurrence of a non-empty needle, or npos.
std::size_t findOne(Renderer& r, std::string_view s, std::string_view needle, bool last) {
  if (needle.size() > s.size()) return std::string_view::npos;
  Searcher searcher(needle, r.scratch());
  return last ? searcher.findLast(s) : searcher.find(s, 0);
}

Value removeOne(Renderer& r, const Value& in, Args args, bool last) {
  std::optional<std::string_view> needle = searchText(r, args);
  if (!needle) return in;
  std::string_view s = r.display(in);
  std::size_t hit = findOne(r, s, *needle, last);
  if (hit == std::string_view::npos) return in;
  return concatText(r, s.substr(0, hit), s.substr(hit + needle->size()));
}

// Both arguments of the replace family, evaluated in order before any search.
struct ReplaceArgs {
  std::string_view search;
  std::string_view with;
  bool searching;  // false: the search text is nil or empty
};

ReplaceArgs replaceArgs(Renderer& r, Args args) {
  Value a = evalArg(r, args, 0);
  std::string_view search = r.display(a);
  std::string_view with = hasArg(args, 1) ? r.display(evalArg(r, args, 1)) : std::string_view{};
  return {search, with, !a.isNil() && !search.empty()};
}

Value replaceOne(Renderer& r, const Value& in, Args args, bool last) {
  if (!hasArg(args, 0)) return in;
  ReplaceArgs ra = replaceArgs(r, args);
  std::string_view s = r.display(in);
  if (!ra.searching) return last ? concatText(r, s, ra.with) : concatText(r, ra.with, s);
  std::size_t hit = findOne(r, s, ra.search, last);
  if (hit == std::string_view::npos) return in;
  return concatText(r, s.substr(0, hit), ra.with, s.substr(hit + ra.search.size()));
}

// An empty search text puts the replacement before every byte and at the end.
Value interleave(Renderer& r, std::string_view s, std::string_view with) {
  std::size_t n = addSizes(mulSizes(addSizes(s.size(), 1), with.size()), s.size());
  if (n == 0) return Value::string({});
  char* p = r.scratch().allocArray<char>(n);
  char* w = p;
  for (char c : s) {
    w = put(w, with);
    *w++ = c;
  }
  put(w, with);
  return Value::string({p, n});
}

std::string_view ellipsisArg(Renderer& r, Args args) {
  return hasArg(args, 1) ? r.display(evalArg(r, args, 1)) : kDefaultEllipsis;
}

}  // namespace

Value filterT(Renderer& r, const Value& in) {
  return concatText(r, "translated-", r.display(in), "-");
}

Value filterStrip(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  std::size_t b = 0, e = s.size();
  while (b < e && isTrimSpace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && isTrimSpace(static_cast<unsigned char>(s[e - 1]))) --e;
  return Value::string(s.substr(b, e - b));
}

Value filterLstrip(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  std::size_t b = 0;
  while (b < s.size() && isTrimSpace(static_cast<unsigned char>(s[b]))) ++b;
  return Value::string(s.substr(b));
}

Value filterRstrip(Renderer& r, const Value& in) {
  std::string_view s = r.display(in);
  std::size_t e = s.size();
  while (e > 0 && isTrimSpace(static_cast<unsigned char>(s[e - 1]))) --e;
  return Value::string(s.substr(0, e));
}

Value filterUpcase(Renderer& r, const Value& in) {
  return mapBytes(r, in, [](std::size_t, char c) { return toUpper(c); });
}

Value filterDowncase(Renderer& r, const Value& in) {
  return mapBytes(r, in, [](std::size_t, char c) { return toLower(c); });
}

Value filterCapitalize(Renderer& r, const Value& in) {
  return mapBytes(r, in, [](std::size_t i, char c) { return i == 0 ? toUpper(c) : toLower(c); });
}

void emitUpcase(Renderer& r, const Value& in, Args) {
  emitMappedBytes(r, in, [](std::size_t, char c) { return toUpper(c); });
}

void emitDowncase(Renderer& r, const Value& in, Args) {
  emitMappedBytes(r, in, [](std::size_t, char c) { return toLower(c); });
}

void emitCapitalize(Renderer& r, const Value& in, Args) {
  emitMappedBytes(r, in, [](std::size_t i, char c) { return i == 0 ? toUpper(c) : toLower(c); });
}

Value filterAppend(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  std::string_view a = r.display(evalArg(r, args, 0));
  return concatText(r, r.display(in), a);
}

void emitAppend(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return appendDisplay(r.output(), in);
  std::string_view a = r.display(evalArg(r, args, 0));
  r.output().append(r.display(in));
  r.output().append(a);
}

Value filterPrepend(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  std::string_view a = r.display(evalArg(r, args, 0));
  return concatText(r, a, r.display(in));
}

void emitPrepend(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return appendDisplay(r.output(), in);
  std::string_view a = r.display(evalArg(r, args, 0));
  std::string_view s = r.display(in);
  r.output().append(a);
  r.output().append(s);
}

Value filterRemove(Renderer& r, const Value& in, Args args) {
  std::optional<std::string_view> needle = searchText(r, args);
  if (!needle) return in;
  return replaceAll(r, r.display(in), *needle, {});
}

Value filterRemoveFirst(Renderer& r, const Value& in, Args args) {
  return removeOne(r, in, args, false);
}

Value filterRemoveLast(Renderer& r, const Value& in, Args args) {
  return removeOne(r, in, args, true);
}

Value filterReplace(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  ReplaceArgs ra = replaceArgs(r, args);
  std::string_view s = r.display(in);
  if (!ra.searching) return interleave(r, s, ra.with);
  return replaceAll(r, s, ra.search, ra.with);
}

Value filterReplaceFirst(Renderer& r, const Value& in, Args args) {
  return replaceOne(r, in, args, false);
}

Value filterReplaceLast(Renderer& r, const Value& in, Args args) {
  return replaceOne(r, in, args, true);
}

namespace {

// What truncate keeps: the whole text, or a head and the ellipsis.
struct Truncation {
  std::string_view head;
  std::string_view ellipsis;
  bool whole;
};

Truncation truncation(Renderer& r, const Value& in, Args args) {
  int64_t length = kDefaultTruncateLength;
  if (hasArg(args, 0)) {
    Value v = evalArg(r, args, 0);
    if (v.is(Kind::Integer) && v.asInt() > 0) length = v.asInt();
  }
  std::string_view ellipsis = ellipsisArg(r, args);
  std::string_view s = r.display(in);
  auto limit = static_cast<uint64_t>(length);
  if (s.size() <= limit) return {s, {}, true};
  std::size_t keep = ellipsis.size() > limit ? 0 : static_cast<std::size_t>(limit - ellipsis.size());
  return {s.substr(0, keep), ellipsis, false};
}

}  // namespace

Value filterTruncate(Renderer& r, const Value& in, Args args) {
  Truncation t = truncation(r, in, args);
  return t.whole ? in : concatText(r, t.head, t.ellipsis);
}

void emitTruncate(Renderer& r, const Value& in, Args args) {
  Truncation t = truncation(r, in, args);
  r.output().append(t.head);
  r.output().append(t.ellipsis);
}

Value filterTruncatewords(Renderer& r, const Value& in, Args args) {
  int64_t limit = kDefaultTruncateWords;
  if (hasArg(args, 0)) {
    Value v = evalArg(r, args, 0);
    if (v.is(Kind::Integer)) limit = v.asInt() < 1 ? 1 : v.asInt();
  }
  std::string_view ellipsis = ellipsisArg(r, args);
  std::string_view s = r.display(in);

  std::pmr::string& out = newText(r.scratch());
  out.reserve(addSizes(s.size(), ellipsis.size()));
  int64_t words = 0;
  std::size_t i = 0;
  while (true) {
    while (i < s.size() && isWordSpace(static_cast<unsigned char>(s[i]))) ++i;
    if (i == s.size()) break;
    if (words == limit) {  // a word beyond the limit: the text was cut
      out.append(ellipsis);
      break;
    }
    std::size_t start = i;
    while (i < s.size() && !isWordSpace(static_cast<unsigned char>(s[i]))) ++i;
    if (words > 0) out.push_back(' ');
    out.append(s.substr(start, i - start));
    ++words;
  }
  return Value::string(out);
}

}  // namespace mervalt

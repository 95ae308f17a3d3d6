// dispatch.cpp: the filter table, default, size and the shared numeric
// coercions.
#include "filters/dispatch.h"

#include <array>
#include <charconv>
#include <cmath>

#include "filters/filters.h"

namespace mervalt {
namespace {

using NoArgFn = Value (*)(Renderer&, const Value&);

// Adapts a handler that takes no arguments: whatever is written after its
// name is never evaluated.
template <NoArgFn F>
Value noArgs(Renderer& r, const Value& in, std::span<const Node>) {
  return F(r, in);
}

struct FilterEntry {
  std::string_view name;
  FilterFn fn;
};

// Sorted by name length, so that a lookup compares only names of its length.
constexpr std::array<FilterEntry, 63> kFilters{{
    {"t", noArgs<filterT>},
    {"md5", noArgs<filterMd5>},
    {"has", filterHas},
    {"sum", filterSum},
    {"map", filterMap},
    {"abs", noArgs<filterAbs>},
    {"json", noArgs<filterJson>},
    {"plus", filterPlus},
    {"uniq", filterUniq},
    {"find", filterFind},
    {"sort", filterSort},
    {"last", noArgs<filterLast>},
    {"ceil", noArgs<filterCeil>},
    {"size", noArgs<filterSize>},
    {"join", filterJoin},
    {"date", filterDate},
    {"split", filterSplit},
    {"times", filterTimes},
    {"minus", filterMinus},
    {"strip", noArgs<filterStrip>},
    {"slice", filterSlice},
    {"first", noArgs<filterFirst>},
    {"floor", noArgs<filterFloor>},
    {"round", filterRound},
    {"where", filterWhere},
    {"lstrip", noArgs<filterLstrip>},
    {"sha256", noArgs<filterSha256>},
    {"reject", filterReject},
    {"modulo", filterModulo},
    {"append", filterAppend},
    {"remove", filterRemove},
    {"upcase", noArgs<filterUpcase>},
    {"escape", noArgs<filterEscape>},
    {"rstrip", noArgs<filterRstrip>},
    {"concat", filterConcat},
    {"prepend", filterPrepend},
    {"replace", filterReplace},
    {"reverse", noArgs<filterReverse>},
    {"compact", filterCompact},
    {"at_most", filterAtMost},
    {"default", filterDefault},
    {"downcase", noArgs<filterDowncase>},
    {"truncate", filterTruncate},
    {"at_least", filterAtLeast},
    {"strip_html", noArgs<filterStripHtml>},
    {"find_index", filterFindIndex},
    {"url_decode", noArgs<filterUrlDecode>},
    {"divided_by", filterDividedBy},
    {"url_encode", noArgs<filterUrlEncode>},
    {"capitalize", noArgs<filterCapitalize>},
    {"remove_last", filterRemoveLast},
    {"escape_once", noArgs<filterEscapeOnce>},
    {"sort_natural", filterSortNatural},
    {"replace_last", filterReplaceLast},
    {"remove_first", filterRemoveFirst},
    {"replace_first", filterReplaceFirst},
    {"newline_to_br", noArgs<filterNewlineToBr>},
    {"base64_decode", noArgs<filterBase64Decode>},
    {"base64_encode", noArgs<filterBase64Encode>},
    {"truncatewords", filterTruncatewords},
    {"strip_newlines", noArgs<filterStripNewlines>},
    {"base64_url_safe_encode", noArgs<filterBase64UrlSafeEncode>},
    {"base64_url_safe_decode", noArgs<filterBase64UrlSafeDecode>},
}};

constexpr std::size_t kMaxNameLength = 22;

// kBuckets[len] is the index of the first entry whose name is `len` or longer.
constexpr std::array<std::size_t, kMaxNameLength + 2> kBuckets = [] {
  std::array<std::size_t, kMaxNameLength + 2> b{};
  std::size_t pos = 0;
  for (std::size_t len = 0; len <= kMaxNameLength + 1; ++len) {
    while (pos < kFilters.size() && kFilters[pos].name.size() < len) ++pos;
    b[len] = pos;
  }
  return b;
}();

static_assert(
    [] {
      for (std::size_t i = 1; i < kFilters.size(); ++i)
        if (kFilters[i - 1].name.size() > kFilters[i].name.size()) return false;
      return true;
    }(),
    "the filter table must be sorted by name length");

// The names alone, in the table's order.
constexpr auto kFilterNames = [] {
  std::array<std::string_view, kFilters.size()> names{};
  for (std::size_t i = 0; i < kFilters.size(); ++i) names[i] = kFilters[i].name;
  return names;
}();

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the longest numeric prefix: sign, digits, one fraction, one
// exponent. 0 when there is no digit.
std::size_t numericPrefix(std::string_view s) {
  std::size_t n = s.size(), i = 0;
  if (n == 0) return 0;
  if (s[0] == '+' || s[0] == '-') i = 1;
  bool seenDot = false, seenExp = false;
  while (i < n) {
    char c = s[i];
    if (isDigit(c)) {
      ++i;
    } else if (c == '.' && !seenDot && !seenExp && i + 1 < n && isDigit(s[i + 1])) {
      seenDot = true;
      ++i;
    } else if ((c == 'e' || c == 'E') && i > 0 && !seenExp && i + 1 < n) {
      if (isDigit(s[i + 1])) {
        seenExp = true;
        ++i;
      } else if ((s[i + 1] == '+' || s[i + 1] == '-') && i + 2 < n && isDigit(s[i + 2])) {
        seenExp = true;
        i += 2;
      } else {
        break;
      }
    } else {
      break;
    }
  }
  if (i == 1 && (s[0] == '+' || s[0] == '-')) return 0;
  return i;
}

// Reads a complete decimal number text with from_chars, which rejects a
// leading '+'. Overflow reads as infinity and underflow as zero.
std::optional<double> readDecimal(std::string_view s) {
  bool plus = !s.empty() && s[0] == '+';
  std::string_view body = plus ? s.substr(1) : s;
  if (plus && !body.empty() && body[0] == '-') return std::nullopt;
  double d = 0;
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), d);
  if (ptr != body.data() + body.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    bool neg = body[0] == '-';
    std::size_t e = body.find_first_of("eE");
    bool huge = e == std::string_view::npos || body[e + 1] != '-';
    return huge ? (neg ? -HUGE_VAL : HUGE_VAL) : (neg ? -0.0 : 0.0);
  }
  if (ec != std::errc()) return std::nullopt;
  return d;
}

}  // namespace

std::span<const std::string_view> filterNames() { return kFilterNames; }

FilterFn findFilter(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return nullptr;
  for (std::size_t i = kBuckets[name.size()]; i < kBuckets[name.size() + 1]; ++i)
    if (kFilters[i].name == name) return kFilters[i].fn;
  return nullptr;
}

EmitFn findEmitter(std::string_view name) {
  static constexpr std::pair<std::string_view, EmitFn> kEmitters[] = {
      {"escape", emitEscape},     {"join", emitJoin},         {"truncate", emitTruncate},
      {"append", emitAppend},     {"prepend", emitPrepend},   {"upcase", emitUpcase},
      {"downcase", emitDowncase}, {"capitalize", emitCapitalize},
  };
  for (const auto& [n, fn] : kEmitters)
    if (n == name) return fn;
  return nullptr;
}

// The slow half of toNumber: strings by their numeric prefix, the rest 0.
double textToNumber(const Value& v) {
  switch (v.kind()) {
    case Kind::String: {
      std::size_t len = numericPrefix(v.str());
      if (len == 0) return 0;
      return readDecimal(v.str().substr(0, len)).value_or(0);
    }
    default: return 0;
  }
}

int64_t laxParseInt(std::string_view s) {
  if (s.empty()) return 0;
  std::size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
  std::size_t start = i;
  while (i < s.size() && isDigit(s[i])) ++i;
  if (i == start) return 0;
  uint64_t mag = 0;
  auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + i, mag);
  if (ec != std::errc() || ptr != s.data() + i) return 0;
  bool neg = s[0] == '-';
  if (!neg && mag > static_cast<uint64_t>(INT64_MAX)) return 0;
  if (neg && mag > static_cast<uint64_t>(INT64_MAX) + 1) return 0;
  return neg ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
}

std::optional<double> readWholeFloat(std::string_view s) {
  // Only plain decimal forms: no "inf", "nan" or hexadecimal.
  for (char c : s)
    if (!(isDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-')) return std::nullopt;
  if (s.empty()) return std::nullopt;
  return readDecimal(s);
}

Value filterDefault(Renderer& r, const Value& in, Args args) {
  bool allowFalse = false;
  const Node* fallback = nullptr;
  for (const Node& a : args) {
    if (a.kind == NodeKind::NamedArgument && a.text == "allow_false") {
      if (!a.children.empty()) allowFalse = isTruthy(r.evaluate(a.children[0]));
    } else if (!fallback) {
      fallback = &a;
    }
  }
  bool isEmpty = false;
  switch (in.kind()) {
    case Kind::Nil:
    case Kind::Empty:
    case Kind::Blank: isEmpty = true; break;
    case Kind::Boolean:
    case Kind::BooleanDrop: isEmpty = !in.asBool() && !allowFalse; break;
    case Kind::String: isEmpty = in.str().empty(); break;
    case Kind::Array: isEmpty = in.items().empty(); break;
    case Kind::Object: isEmpty = in.map().empty(); break;
    case Kind::Integer:
    case Kind::Float:
    case Kind::Range:
    case Kind::Error: isEmpty = false; break;
  }
  if (!isEmpty) return in;
  if (!fallback) return Value::string("");
  return r.evaluate(*fallback);
}

Value filterSize(Renderer&, const Value& in) {
  switch (in.kind()) {
    case Kind::String: return Value::integer(static_cast<int64_t>(in.str().size()));
    case Kind::Array: return Value::integer(static_cast<int64_t>(in.items().size()));
    case Kind::Object: return Value::integer(static_cast<int64_t>(in.map().size()));
    default: return Value::integer(0);
  }
}

}  // namespace mervalt

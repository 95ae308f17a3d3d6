// display_text.cpp: the text written for each kind of Value, floats and objects included.
#include "data/display_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "memory/arena.h"
#include "render/output.h"

namespace mervalt {

namespace {

// A fixed buffer sink for the texts of numbers and ranges (at most 42 bytes).
struct SmallText {
  char buf[64];
  std::size_t len = 0;
  void append(std::string_view s) {
    std::memcpy(buf + len, s.data(), s.size());
    len += s.size();
  }
  void push_back(char c) { buf[len++] = c; }
  std::string_view view() const { return {buf, len}; }
};

constexpr int kFractionDigits = 15;
constexpr double kScientificFrom = 1e15;
constexpr double kTinyBelow = 0.0001;
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The shortest decimal digits that read back as a finite double:
// value = digit[0] . digit[1..count) x 10^exponent.
struct Digits {
  char digit[24];
  int count = 0;
  int exponent = 0;
  bool negative = false;
};

Digits shortestDigits(double f) {
  char text[40];
  auto res = std::to_chars(text, text + sizeof text, f, std::chars_format::scientific);
  Digits d;
  const char* p = text;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  for (; *p != 'e'; ++p) {
    if (*p != '.') d.digit[d.count++] = *p;
  }
  ++p;  // 'e'
  bool negExp = *p == '-';
  ++p;  // the exponent's sign is always written
  int e = 0;
  std::from_chars(p, res.ptr, e);
  d.exponent = negExp ? -e : e;
  return d;
}

// Two significant digits: "1.3e15", "-3.0e-7"; infinities print "inf".
template <class Sink>
void appendScientific(Sink& out, double f) {
  if (std::signbit(f)) out.push_back('-');
  if (std::isinf(f)) {
    out.append("inf");
    return;
  }
  Digits d = shortestDigits(f);
  int lead = (d.digit[0] - '0') * 10 + (d.count > 1 ? d.digit[1] - '0' : 0);
  int exponent = d.exponent;
  if (d.count > 2 && d.digit[2] >= '5') ++lead;
  if (lead == 100) {
    lead = 10;
    ++exponent;
  }
  out.push_back(static_cast<char>('0' + lead / 10));
  out.push_back('.');
  out.push_back(static_cast<char>('0' + lead % 10));
  out.push_back('e');
  appendInteger(out, int64_t{exponent});
}

// f (finite, |f| < 1e15) in positional form with exactly 15 fraction digits:
// the shortest digits rounded at the 16th decimal by that digit alone.
SmallText positional(double f) {
  Digits d = shortestDigits(f);
  int intDigits = d.exponent >= 0 ? d.exponent + 1 : 1;
  int total = intDigits + kFractionDigits;
  // Digit at place 10^q is digit[exponent - q]; q runs from intDigits-1 to -16.
  auto digitAt = [&](int q) {
    int i = d.exponent - q;
    return i >= 0 && i < d.count ? d.digit[i] - '0' : 0;
  };
  char work[40];
  for (int j = 0; j < total; ++j) work[j] = static_cast<char>('0' + digitAt(intDigits - 1 - j));
  bool carry = digitAt(-kFractionDigits - 1) >= 5;
  for (int j = total - 1; carry && j >= 0; --j) {
    carry = work[j] == '9';
    work[j] = carry ? '0' : static_cast<char>(work[j] + 1);
  }
  SmallText s;
  if (d.negative) s.push_back('-');
  if (carry) s.push_back('1');
  s.append(std::string_view(work, static_cast<std::size_t>(intDigits)));
  s.push_back('.');
  s.append(std::string_view(work + intDigits, kFractionDigits));
  return s;
}

// Drops trailing zeros but keeps the first digit after the point.
std::string_view trimZeros(std::string_view s) {
  std::size_t point = s.find('.');
  std::size_t end = s.size();
  while (end > point + 2 && s[end - 1] == '0') --end;
  return s.substr(0, end);
}

template <class Sink>
void appendWholeFloat(Sink& out, double r) {
  appendInteger(out, static_cast<int64_t>(r));
  out.append(".0");
}

// Removes the noise of binary fractions: a run of five or more zeros or
// nines among the 15 fraction digits rounds the value just before the run.
template <class Sink>
void appendPositional(Sink& out, double f) {
  SmallText s = positional(f);
  std::string_view text = s.view();
  std::string_view fraction = text.substr(text.size() - kFractionDigits);
  int zeros = 0;
  int nines = 0;
  for (int pos = kFractionDigits; pos >= 1; --pos) {
    char c = fraction[static_cast<std::size_t>(pos - 1)];
    if (c == '0') {
      ++zeros;
      nines = 0;
    } else if (c == '9') {
      ++nines;
      zeros = 0;
    } else if (nines >= 5 || zeros >= 5) {
      double scale = kPowersOfTen[pos];
      double r = std::round(f * scale) / scale;
      if (r == std::trunc(r) && std::fabs(r) < kScientificFrom) {
        appendWholeFloat(out, r);
      } else {
        SmallText rs = positional(r);
        out.append(trimZeros(rs.view()));
      }
      return;
    } else {
      zeros = 0;
      nines = 0;
    }
  }
  if (nines >= 5 || zeros >= 5) {
    double r = std::round(f);
    if (std::fabs(r) < kScientificFrom) {
      appendWholeFloat(out, r);
      return;
    }
  }
  out.append(trimZeros(text));
}

// Tiny magnitudes print in scientific form only when they are close to a
// whole multiple of their power of ten; otherwise they print as zero.
template <class Sink>
void appendTiny(Sink& out, double f) {
  double a = std::fabs(f);
  double e = std::floor(std::log10(a));
  double m = a / std::pow(10.0, e);
  if (std::fabs(m - std::round(m)) < 0.01) {
    appendScientific(out, f);
  } else {
    out.append("0.0");
  }
}

template <class Sink>
void appendQuoted(Sink& out, std::string_view s) {
  out.push_back('"');
  out.append(s);
  out.push_back('"');
}

constexpr std::string_view kHashKeyPrefix = "_mervalt_hash_key:";

template <class Sink>
void appendInspectKey(Sink& out, std::string_view key) {
  if (!key.empty() && key[0] == ':') {
    out.append(key);
  } else if (key.starts_with(kHashKeyPrefix)) {
    out.append(key.substr(kHashKeyPrefix.size()));
  } else {
    appendQuoted(out, key);
  }
}

// The text of an object that a reserved key gives it, if any.
template <class Sink>
bool appendOwnText(Sink& out, const ObjectMap& m) {
  if (m.empty()) {
    out.append("{}");
    return true;
  }
  if (m.get("_mervalt_recursive")) {
    out.append("{...}");
    return true;
  }
  const Value* custom = m.get("_mervalt_custom_to_s");
  if (custom && custom->is(Kind::String)) {
    out.append(custom->str());
    return true;
  }
  const Value* name = m.get("_mervalt_symbol") ? m.get("name") : nullptr;
  if (name && name->is(Kind::String)) {
    out.push_back(':');
    out.append(name->str());
    return true;
  }
  return false;
}

// Writes the separator, the key and "=>" of an entry; false for the marker
// keys that the inspect form leaves out.
template <class Sink>
bool appendEntryHead(Sink& out, std::string_view key, bool& first) {
  if (key == "_mervalt_has_hash_keys" || key == "_mervalt_has_symbol_keys") return false;
  if (!first) out.append(", ");
  first = false;
  appendInspectKey(out, key);
  out.append("=>");
  return true;
}

template <class Sink>
void appendSeparator(Sink& out, std::size_t i) {
  if (i != 0) out.append(", ");
}

// The recursive functions below keep their frames small: everything that
// does not recurse is done in helpers, since nesting may be deep.
template <class Sink>
void appendInspectItem(Sink& out, const Value& v) {
  if (v.is(Kind::String)) {
    appendQuoted(out, v.str());
  } else {
    appendDisplay(out, v);
  }
}

template <class Sink>
void appendInspectList(Sink& out, std::span<const Value> items) {
  out.push_back('[');
  for (std::size_t i = 0; i < items.size(); ++i) {
    appendSeparator(out, i);
    appendInspectItem(out, items[i]);
  }
  out.push_back(']');
}

template <class Sink>
void appendObject(Sink& out, const ObjectMap& m) {
  if (appendOwnText(out, m)) return;
  out.push_back('{');
  bool first = true;
  for (std::size_t i = 0; i < m.size(); ++i) {
    if (!appendEntryHead(out, m.keyAt(i), first)) continue;
    const Value& v = m.valueAt(i);
    if (v.is(Kind::Array)) {
      appendInspectList(out, v.items());
    } else {
      appendInspectItem(out, v);
    }
  }
  out.push_back('}');
}

template <class Sink>
void appendScalar(Sink& out, const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
    case Kind::Empty:
    case Kind::Blank: return;
    case Kind::Boolean: out.append(v.asBool() ? "true" : "false"); return;
    case Kind::Integer: appendInteger(out, v.asInt()); return;
    case Kind::Float: appendFloat(out, v.asFloat()); return;
    case Kind::String:
    case Kind::Error:
    case Kind::BooleanDrop: out.append(v.str()); return;
    case Kind::Range:
      appendInteger(out, v.rangeStart());
      out.append("..");
      appendInteger(out, v.rangeEnd());
      return;
    case Kind::Array:
    case Kind::Object: return;  // appendDisplay handles these
  }
}

}  // namespace

template <class Sink>
void appendInteger(Sink& out, int64_t i) {
  char text[24];
  auto res = std::to_chars(text, text + sizeof text, i);
  out.append(std::string_view(text, static_cast<std::size_t>(res.ptr - text)));
}

// Most floats in real data are short decimals (prices, ratings, shares): the
// nearest double to N / 10^j for a small j. Such a value's shortest digits
// are those of N, found here without a general conversion; the same rule as
// below then makes them the display text. False, and nothing written, when
// the value is not one of them.
//
// One test covers every count of decimals up to four: when the value is the
// nearest double to N / 10^4 it is so for N without its trailing zeros and
// fewer decimals, and no shorter decimal rounds to it. With at most four
// decimals no run of five zeros or nines can form among them, so their
// cleanup never changes the digits.
template <class Sink>
bool appendShortDecimal(Sink& out, double f) {
  constexpr int kDecimals = 4;
  constexpr double kScale = 1e4;
  // Below 1e11, a * 10^4 stays under 2^51, so adding and taking away 1.5 *
  // 2^52 rounds it to an integer exactly, and its rounding error cannot
  // move it to another integer.
  constexpr double kRound = 6755399441055744.0;
  double a = std::fabs(f);
  if (!(a < 1e11)) return false;
  double n = (a * kScale + kRound) - kRound;
  if (n / kScale != a) return false;
  auto digits = static_cast<uint64_t>(n);
  int decimals = kDecimals;
  while (decimals > 0 && digits % 10 == 0) {
    digits /= 10;
    --decimals;
  }
  char text[32];
  char* end = text + sizeof text;
  char* p = end;
  for (int k = 0; k < decimals; ++k, digits /= 10) *--p = static_cast<char>('0' + digits % 10);
  if (decimals > 0) *--p = '.';
  do *--p = static_cast<char>('0' + digits % 10);
  while ((digits /= 10) != 0);
  if (f < 0) *--p = '-';
  out.append(std::string_view(p, static_cast<std::size_t>(end - p)));
  if (decimals == 0) out.append(".0");
  return true;
}

// The common case of positional form, without the work of the general one:
// a value whose shortest digits number at most 15, with at most 10 after the
// point and the last of them not a 9, prints exactly those digits (the
// cleanup of zero and nine runs meets the run of padding zeros first and
// rounds the value back to itself). False, and nothing written, otherwise.
template <class Sink>
bool appendShortPositional(Sink& out, double f) {
  char text[48];
  auto res = std::to_chars(text, text + sizeof text, f, std::chars_format::fixed);
  if (res.ec != std::errc()) return false;
  std::string_view t(text, static_cast<std::size_t>(res.ptr - text));
  std::size_t point = t.find('.');
  std::size_t fraction = point == std::string_view::npos ? 0 : t.size() - point - 1;
  std::size_t significant = 0;
  for (char c : t) {
    if (c >= '1' && c <= '9') ++significant;
    else if (c == '0' && significant != 0) ++significant;
  }
  if (fraction > 10 || significant > 15 || (fraction != 0 && t.back() == '9')) return false;
  out.append(t);
  if (fraction == 0) out.append(".0");
  return true;
}

template <class Sink>
void appendFloat(Sink& out, double f) {
  if (std::isnan(f)) {
    out.append(std::signbit(f) ? "-nan" : "nan");
    return;
  }
  double a = std::fabs(f);
  if (a >= kScientificFrom) {
    appendScientific(out, f);
  } else if (a == 0) {
    out.append("0.0");
  } else if (a < kTinyBelow) {
    appendTiny(out, f);
  } else if (!appendShortDecimal(out, f) && !appendShortPositional(out, f)) {
    appendPositional(out, f);
  }
}

template <class Sink>
void appendDisplay(Sink& out, const Value& v) {
  if (v.is(Kind::Array)) {
    for (const Value& e : v.items()) appendDisplay(out, e);
  } else if (v.is(Kind::Object)) {
    appendObject(out, v.map());
  } else {
    appendScalar(out, v);
  }
}

std::string_view toString(const Value& v, Arena& arena) {
  switch (v.kind()) {
    case Kind::String:
    case Kind::Error:
    case Kind::BooleanDrop: return v.str();
    case Kind::Nil:
    case Kind::Empty:
    case Kind::Blank: return {};
    case Kind::Boolean: return v.asBool() ? "true" : "false";
    case Kind::Integer:
    case Kind::Float:
    case Kind::Range: {
      SmallText s;
      appendScalar(s, v);
      return arena.copy(s.view());
    }
    case Kind::Array:
    case Kind::Object: {
      std::pmr::string& s = newText(arena);
      appendDisplay(s, v);
      return s;
    }
  }
  return {};
}

template void appendDisplay<OutputBuffer>(OutputBuffer&, const Value&);
template void appendDisplay<std::pmr::string>(std::pmr::string&, const Value&);
template void appendInteger<OutputBuffer>(OutputBuffer&, int64_t);
template void appendInteger<std::pmr::string>(std::pmr::string&, int64_t);
template void appendFloat<OutputBuffer>(OutputBuffer&, double);
template void appendFloat<std::pmr::string>(std::pmr::string&, double);

}  // namespace mervalt

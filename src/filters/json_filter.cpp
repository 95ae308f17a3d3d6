// json_filter.cpp: the json filter, compact JSON text of any Value.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory_resource>
#include <string>
#include <string_view>

#include "memory/arena.h"
#include "render/renderer.h"
#include "filters/filters.h"

namespace mervalt {
namespace {

void appendInt(std::pmr::string& out, int64_t i) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, res.ptr);
}

// Shortest digits that read back as `d`, always laid out positionally: 3.0
// is 3, -0.0 is -0, 1e23 is 1 and 23 zeros. (std::to_chars in fixed format
// would print the exact binary value of large numbers, 99999999999999991611392
// for 1e23, so the shortest digits are taken in scientific form and placed
// here.)
void appendNumber(std::pmr::string& out, double d) {
  if (std::isnan(d)) {
    out.append("nan");
    return;
  }
  if (std::isinf(d)) {
    out.append(d < 0 ? "-inf" : "inf");
    return;
  }
  char sci[32];  // at most 17 digits, point, "e-324"
  auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(d), std::chars_format::scientific);
  std::string_view text(sci, static_cast<std::size_t>(res.ptr - sci));
  std::size_t e = text.find('e');
  char digits[20];
  std::size_t count = 0;
  for (char c : text.substr(0, e)) {
    if (c != '.') digits[count++] = c;
  }
  int exponent = 0;
  std::string_view exp = text.substr(e + 1);
  if (exp.front() == '+') exp.remove_prefix(1);
  std::from_chars(exp.data(), exp.data() + exp.size(), exponent);

  if (std::signbit(d)) out.push_back('-');
  std::string_view all(digits, count);
  long point = long{exponent} + 1;  // digits before the decimal point
  if (point <= 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(all);
  } else if (static_cast<std::size_t>(point) >= count) {
    out.append(all);
    out.append(static_cast<std::size_t>(point) - count, '0');
  } else {
    out.append(all.substr(0, static_cast<std::size_t>(point)));
    out.push_back('.');
    out.append(all.substr(static_cast<std::size_t>(point)));
  }
}

// A JSON string with the five escapes; every other byte stays as it is.
void appendQuoted(std::pmr::string& out, std::string_view s) {
  out.push_back('"');
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < s.size(); ++i) {
    char escape = 0;
    switch (s[i]) {
      case '"': escape = '"'; break;
      case '\\': escape = '\\'; break;
      case '\t': escape = 't'; break;
      case '\n': escape = 'n'; break;
      case '\r': escape = 'r'; break;
      default: continue;
    }
    out.append(s.substr(run, i - run));
    out.push_back('\\');
    out.push_back(escape);
    run = i + 1;
  }
  out.append(s.substr(run));
  out.push_back('"');
}

// Bytes between double quotes without any escaping (keys, errors, drops).
void appendRaw(std::pmr::string& out, std::string_view s) {
  out.push_back('"');
  out.append(s);
  out.push_back('"');
}

// Recursion follows the nesting of the data, which the JSON reader bounds.
void appendJson(std::pmr::string& out, const Value& v) {
  switch (v.kind()) {
    case Kind::Nil: out.append("null"); return;
    case Kind::Boolean: out.append(v.asBool() ? "true" : "false"); return;
    case Kind::Integer: appendInt(out, v.asInt()); return;
    case Kind::Float: appendNumber(out, v.asFloat()); return;
    case Kind::String: appendQuoted(out, v.str()); return;
    case Kind::Array: {
      out.push_back('[');
      bool first = true;
      for (const Value& item : v.items()) {
        if (!first) out.push_back(',');
        first = false;
        appendJson(out, item);
      }
      out.push_back(']');
      return;
    }
    case Kind::Object: {
      const ObjectMap& map = v.map();
      out.push_back('{');
      for (std::size_t i = 0; i < map.size(); ++i) {
        if (i > 0) out.push_back(',');
        appendRaw(out, map.keyAt(i));
        out.push_back(':');
        appendJson(out, map.valueAt(i));
      }
      out.push_back('}');
      return;
    }
    case Kind::Empty:
    case Kind::Blank: out.append("\"\""); return;
    case Kind::Range:
      out.push_back('"');
      appendInt(out, v.rangeStart());
      out.append("..");
      appendInt(out, v.rangeEnd());
      out.push_back('"');
      return;
    case Kind::Error:
    case Kind::BooleanDrop: appendRaw(out, v.str()); return;
  }
}

}  // namespace

Value filterJson(Renderer& r, const Value& in) {
  std::pmr::string& out = newText(r.scratch());
  appendJson(out, in);
  return Value::string(out);
}

}  // namespace mervalt

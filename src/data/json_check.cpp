// json_check.cpp: where and why a JSON document is unreadable. The verdict
// comes from walking the document with simdjson as the library's reader does;
// the position and the wording come from the bytes where the walk stopped.
#include "data/json_check.h"

#include <simdjson.h>

#include <cstdio>
#include <unordered_set>
#include <vector>

#include "data/quoting.h"

namespace mervalt {
namespace {

namespace od = simdjson::ondemand;

constexpr std::size_t kNone = std::string_view::npos;

// The deepest nesting of arrays and objects that the library reads. The
// agreement test (json_check_test.cpp) keeps the two in step.
constexpr int kMaxDepth = 128;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool endsValue(char c) { return c == '"' || c == ']' || c == '}' || isDigit(c) || isLetter(c); }
bool startsValue(char c) { return c == '"' || c == '[' || c == '{' || c == '-' || isDigit(c) || isLetter(c); }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// `s` in `quote`s for a message, cut short after 24 bytes.
std::string shown(std::string_view s, char quote = '\'') { return quoted(s, quote, 24); }

// The token that starts at `at`: a string, a run of letters, digits and
// number signs, or else the one byte there.
std::string_view tokenAt(std::string_view text, std::size_t at) {
  std::size_t end = at;
  if (at < text.size() && text[at] == '"') {
    for (++end; end < text.size() && text[end] != '"'; ++end)
      if (text[end] == '\\') ++end;
    return text.substr(at, end + 1 - at);
  }
  while (end < text.size() && (isLetter(text[end]) || isDigit(text[end]) || text[end] == '-' ||
                               text[end] == '+' || text[end] == '.'))
    ++end;
  return text.substr(at, end > at ? end - at : 1);
}

// -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
bool isJsonNumber(std::string_view s) {
  std::size_t i = 0, n = s.size();
  auto digits = [&] {
    std::size_t start = i;
    while (i < n && isDigit(s[i])) ++i;
    return i > start;
  };
  if (i < n && s[i] == '-') ++i;
  if (i < n && s[i] == '0') {
    ++i;
  } else if (!digits()) {
    return false;
  }
  if (i < n && s[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == n;
}

std::size_t firstInvalidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80                 ? 1
                      : c >= 0xC2 && c <= 0xDF ? 2
                      : c >= 0xE0 && c <= 0xEF ? 3
                      : c >= 0xF0 && c <= 0xF4 ? 4
                                               : 0;
    if (len == 0 || s.size() - i < len) return i;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
    i += len;
  }
  return kNone;
}

// The first control byte inside a string, and the opening quote of a string
// that the text ends in.
struct StringBytes {
  std::size_t control = kNone;
  std::size_t unclosed = kNone;
};

StringBytes scanStrings(std::string_view s) {
  StringBytes found;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '"') continue;
    std::size_t open = i++;
    for (; i < s.size() && s[i] != '"'; ++i) {
      if (static_cast<unsigned char>(s[i]) < 0x20 && found.control == kNone) found.control = i;
      if (s[i] == '\\' && i + 1 < s.size()) {
        ++i;
        if (static_cast<unsigned char>(s[i]) < 0x20 && found.control == kNone) found.control = i;
      }
    }
    if (i >= s.size()) {
      found.unclosed = open;
      break;
    }
  }
  return found;
}

// The code unit of the four hex digits at `s[at]`, or -1.
long hex4(std::string_view s, std::size_t at) {
  if (at > s.size() || s.size() - at < 4) return -1;
  for (std::size_t k = 0; k < 4; ++k)
    if (!isHex(s[at + k])) return -1;
  return std::strtol(std::string(s.substr(at, 4)).c_str(), nullptr, 16);
}

// The first escape that does not decode in the string opening at `quote`:
// its offset, and the message in `message`.
std::size_t firstBadEscape(std::string_view s, std::size_t quote, std::string& message) {
  for (std::size_t i = quote + 1; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] != '\\') continue;
    char e = i + 1 < s.size() ? s[i + 1] : '\0';
    if (e != 'u') {
      if (std::string_view("\"\\/bfnrt").find(e) == kNone) {
        message = "invalid escape " + shown(s.substr(i, 2));
        return i;
      }
      ++i;
      continue;
    }
    long unit = hex4(s, i + 2);
    if (unit < 0) {
      std::size_t end = i + 2;
      while (end < s.size() && end < i + 6 && isHex(s[end])) ++end;
      message = "invalid escape " + shown(s.substr(i, end - i));
      return i;
    }
    bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
    long next = high && s.substr(i + 6, 2) == "\\u" ? hex4(s, i + 8) : -1;
    if (low || (high && !(next >= 0xDC00 && next <= 0xDFFF))) {
      message = "unpaired surrogate " + shown(s.substr(i, 6));
      return i;
    }
    i += high ? 11 : 5;
  }
  message = "invalid string";
  return quote;
}

// Walks the document as the library's reader does. Each step returns false
// once it has recorded the first problem.
class Walker {
 public:
  Walker(std::string_view text, od::document& doc) : text_(text), doc_(doc) {}

  bool document();

  std::size_t offset = 0;
  std::string message;

 private:
  bool value(od::value v, int depth);
  bool array(od::value v, int depth);
  bool object(od::value v, int depth);
  bool rootScalar(od::json_type type);
  bool number(std::string_view token);
  // A string opening at `quote` that does not decode: names its first bad escape.
  bool badString(std::size_t quote) {
    std::string why;
    std::size_t at = firstBadEscape(text_, quote, why);
    return failAt(at, why);
  }

  bool failAt(std::size_t at, std::string why) {
    offset = at;
    message = std::move(why);
    return false;
  }
  bool fail(simdjson::error_code e);
  std::size_t here() {
    const char* p = nullptr;
    if (doc_.current_location().get(p) != simdjson::SUCCESS || p < text_.data()) return text_.size();
    return std::min(static_cast<std::size_t>(p - text_.data()), text_.size());
  }
  std::size_t offsetOf(const char* p) const { return static_cast<std::size_t>(p - text_.data()); }
  std::size_t previousByte(std::size_t at) const {
    while (at > 0)
      if (!isSpace(text_[--at])) return at;
    return kNone;
  }
  bool keyBefore(std::size_t closingQuote) const;

  std::string_view text_;
  od::document& doc_;
  std::vector<std::size_t> open_;  // offsets of the arrays and objects being walked
  std::vector<bool> inObject_;
};

bool Walker::document() {
  od::json_type type;
  if (doc_.type().get(type) != simdjson::SUCCESS) return fail(simdjson::TAPE_ERROR);
  if (type != od::json_type::array && type != od::json_type::object) return rootScalar(type);
  od::value root;
  if (auto e = doc_.get_value().get(root)) return fail(e);
  if (!value(root, 0)) return false;
  const char* rest = nullptr;
  if (doc_.current_location().get(rest) == simdjson::OUT_OF_BOUNDS) return true;
  std::size_t at = rest ? offsetOf(rest) : text_.size();
  return failAt(at, "unexpected " + shown(tokenAt(text_, at)) + " after the JSON value");
}

// A document that is one scalar: its token runs to the end of the text.
bool Walker::rootScalar(od::json_type type) {
  std::string_view token;
  if (doc_.raw_json_token().get(token) != simdjson::SUCCESS) return fail(simdjson::TAPE_ERROR);
  std::size_t end = offsetOf(token.data()) + token.size();
  if (end != text_.size())
    return failAt(end, "unexpected " + shown(tokenAt(text_, end)) + " after the JSON value");
  bool ok = false;
  std::string_view s;
  bool b;
  switch (type) {
    case od::json_type::number: {
      while (!token.empty() && isSpace(token.back())) token.remove_suffix(1);
      return number(token);
    }
    case od::json_type::string:
      return doc_.get_string().get(s) == simdjson::SUCCESS || badString(offsetOf(token.data()));
    case od::json_type::boolean: ok = doc_.get_bool().get(b) == simdjson::SUCCESS; break;
    case od::json_type::null: ok = doc_.is_null().get(b) == simdjson::SUCCESS && b; break;
    case od::json_type::array:
    case od::json_type::object: break;
  }
  return ok || fail(simdjson::INCORRECT_TYPE);
}

bool Walker::number(std::string_view token) {
  if (isJsonNumber(token)) return true;
  return failAt(offsetOf(token.data()), "invalid number " + shown(tokenAt(text_, offsetOf(token.data()))));
}

bool Walker::value(od::value v, int depth) {
  od::json_type type;
  if (auto e = v.type().get(type)) return fail(e);
  switch (type) {
    case od::json_type::array: return array(v, depth + 1);
    case od::json_type::object: return object(v, depth + 1);
    case od::json_type::number: {
      std::string_view token = v.raw_json_token();
      while (!token.empty() && isSpace(token.back())) token.remove_suffix(1);
      return number(token);
    }
    case od::json_type::string: {
      std::size_t quote = offsetOf(v.raw_json_token().data());
      std::string_view s;
      return v.get_string().get(s) == simdjson::SUCCESS || badString(quote);
    }
    case od::json_type::boolean: {
      bool b;
      if (auto e = v.get_bool().get(b)) return fail(e);
      return true;
    }
    case od::json_type::null: {
      bool isNull = false;
      if (auto e = v.is_null().get(isNull)) return fail(e);
      return isNull || fail(simdjson::INCORRECT_TYPE);
    }
  }
  return fail(simdjson::TAPE_ERROR);
}

bool Walker::array(od::value v, int depth) {
  std::size_t start = here();
  if (depth > kMaxDepth) return failAt(start, "nesting deeper than " + std::to_string(kMaxDepth) + " levels");
  od::array a;
  if (auto e = v.get_array().get(a)) return fail(e);
  open_.push_back(start);
  inObject_.push_back(false);
  for (auto item : a) {
    od::value element;
    if (auto e = std::move(item).get(element)) return fail(e);
    if (!value(element, depth)) return false;
  }
  open_.pop_back();
  inObject_.pop_back();
  return true;
}

bool Walker::object(od::value v, int depth) {
  std::size_t start = here();
  if (depth > kMaxDepth) return failAt(start, "nesting deeper than " + std::to_string(kMaxDepth) + " levels");
  od::object o;
  if (auto e = v.get_object().get(o)) return fail(e);
  open_.push_back(start);
  inObject_.push_back(true);
  std::unordered_set<std::string> keys;
  for (auto entry : o) {
    od::field field;
    std::string_view key;
    if (auto e = std::move(entry).get(field)) return fail(e);
    std::size_t keyAt = offsetOf(field.key().raw()) - 1;  // the opening quote; unescaping consumes the key
    if (field.unescaped_key().get(key) != simdjson::SUCCESS) return badString(keyAt);
    if (!keys.emplace(key).second)
      return failAt(keyAt, "key " + shown(key, '"') + " repeated within one object");
    if (!value(field.value(), depth)) return false;
  }
  open_.pop_back();
  inObject_.pop_back();
  return true;
}

// Whether the string that closes at `closingQuote` is an object key: the
// byte before its opening quote is "{" or ",".
bool Walker::keyBefore(std::size_t closingQuote) const {
  std::size_t i = closingQuote;
  while (i > 0) {
    --i;
    if (text_[i] != '"') continue;
    std::size_t slashes = 0;
    while (i > slashes && text_[i - 1 - slashes] == '\\') ++slashes;
    if (slashes % 2 == 0) break;
  }
  std::size_t before = previousByte(i);
  return before != kNone && (text_[before] == '{' || text_[before] == ',');
}

// Names the problem where the walk stopped, from the bytes around it.
bool Walker::fail(simdjson::error_code e) {
  std::size_t at = here();
  if (at >= text_.size()) {
    if (open_.empty()) return failAt(text_.size(), "unexpected end of the document");
    return failAt(open_.back(), shown(text_.substr(open_.back(), 1)) + " is never closed");
  }
  char c = text_[at];
  std::size_t prev = previousByte(at);
  char p = prev == kNone ? '\0' : text_[prev];
  bool inObject = !inObject_.empty() && inObject_.back();
  if ((c == ']' || c == '}') && p == ',')
    return failAt(prev, "trailing comma before " + shown(text_.substr(at, 1)));
  if (c == '/') return failAt(at, "comments are not allowed");
  if (c == '\'') return failAt(at, "strings need double quotes");
  if (e == simdjson::STRING_ERROR && c == '"') return badString(at);
  if (inObject && (p == '{' || p == ',') && c != '"')
    return failAt(at, "expected a double-quoted key, found " + shown(tokenAt(text_, at)));
  if (p == '"' && inObject && keyBefore(prev) && c != ':')
    return failAt(at, "expected ':' after the key, found " + shown(tokenAt(text_, at)));
  if (endsValue(p) && startsValue(c)) return failAt(at, "missing ',' before " + shown(tokenAt(text_, at)));
  bool valueDue = p == ':' || p == '[' || (p == ',' && !inObject);
  if (valueDue && !startsValue(c)) return failAt(at, "expected a value, found " + shown(text_.substr(at, 1)));
  if (c == ',' || c == ':' || c == ']' || c == '}')
    return failAt(at, "unexpected " + shown(text_.substr(at, 1)));
  if (isDigit(c) || c == '-' || c == '+' || c == '.')
    return failAt(at, "invalid number " + shown(tokenAt(text_, at)));
  if (isLetter(c)) return failAt(at, "invalid literal " + shown(tokenAt(text_, at)));
  return failAt(at, "unexpected " + shown(text_.substr(at, 1)));
}

// Problems that simdjson finds in the whole text before any walking, located
// by scanning the bytes.
JsonProblem textProblem(std::string_view text, simdjson::error_code e) {
  if (e == simdjson::EMPTY) return {0, 0, 0, "no JSON value, only whitespace"};
  if (e == simdjson::UTF8_ERROR) {
    std::size_t at = firstInvalidUtf8(text);
    if (at != kNone) return {at, 0, 0, "invalid UTF-8"};
  }
  StringBytes strings = scanStrings(text);
  if (e == simdjson::UNESCAPED_CHARS && strings.control != kNone) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(text[strings.control]));
    return {strings.control, 0, 0, std::string("unescaped control character ") + hex + " in a string"};
  }
  if (e == simdjson::UNCLOSED_STRING && strings.unclosed != kNone)
    return {strings.unclosed, 0, 0, "string is never closed"};
  return {0, 0, 0, std::string("not valid JSON: ") + simdjson::error_message(e)};
}

void setLineAndColumn(std::string_view text, JsonProblem& problem) {
  problem.line = 1;
  problem.column = 1;
  for (std::size_t i = 0; i < problem.offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++problem.line;
      problem.column = 1;
    } else {
      ++problem.column;
    }
  }
}

}  // namespace

std::optional<JsonProblem> findJsonProblem(std::string_view json) {
  if (json.empty()) return std::nullopt;
  simdjson::padded_string padded(json);
  std::string_view text(padded.data(), padded.size());
  od::parser parser;
  od::document doc;
  JsonProblem problem{};
  if (auto e = parser.iterate(padded).get(doc)) {
    problem = textProblem(text, e);
  } else {
    Walker walker(text, doc);
    if (walker.document()) return std::nullopt;
    problem = {walker.offset, 0, 0, walker.message};
  }
  setLineAndColumn(json, problem);
  return problem;
}

}  // namespace mervalt

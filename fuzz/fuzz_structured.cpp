// fuzz_structured.cpp: templates, partials and JSON documents built from the fuzzer's bytes, rendered like fuzz_render's inputs.
//
// The bytes are not text but the choices of a generator: which tag, which
// filter, which argument, how deep, which value. Every byte string makes a
// template that uses the language's tags and the filter table's names in
// their proper forms, so the fuzzer's coverage feedback steers the structure
// of templates and data rather than their spelling, and most inputs reach
// the renderer and the filters instead of failing to parse. fuzz_render
// keeps fuzzing the spelling. A choice that finds the bytes used up takes
// its first option, which always ends the structure being built.
//
// With MERVALT_FUZZ_SHOW set in the environment, each input's template and
// document are written to standard error before they are rendered (for
// reading a saved input with the replay program).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filters/filter_table.h"
#include "fuzz_check.h"

namespace {

// Keys of the generated documents, and so the variables and properties the
// templates read.
constexpr std::string_view kKeys[] = {"a",     "b",    "n",  "s", "name",      "title", "price", "tags",
                                      "items", "user", "id", "k", "available", "list",  "x"};

// Members that only some values have: loop objects, sizes, ends.
constexpr std::string_view kMembers[] = {"size",   "first",   "last",   "index",     "index0",
                                         "rindex", "rindex0", "length", "name",      "parentloop",
                                         "col",    "col0",    "row",    "col_first", "col_last"};

// Texts for string values, literal arguments and raw blocks: words, lists,
// markup and entities, dates and formats, base64, numbers written as text,
// URL escapes, multi-byte UTF-8, whitespace, and Liquid delimiters.
constexpr std::string_view kTexts[] = {
    "",
    " ",
    "a",
    "Hello World",
    "hello world",
    "  padded\t\n",
    "a,b,c",
    "a b  c",
    "one two three four five",
    "<p class=\"x\">a &amp; b</p>",
    "<script>x</script><!-- c --><b>bold</b><br/>",
    "&lt;&gt;&amp;&#39;&quot;",
    "2016-03-14",
    "March 14, 2016",
    "1458000000",
    "2024-02-29 13:45:00",
    "Tue, 1 Jan 2019 00:00:00 +0000",
    "now",
    "%Y-%m-%d %H:%M:%S",
    "aGVsbG8gd29ybGQ=",
    "aGk_-w",
    "h\xc3\xa9llo w\xc3\xb6rld \xe2\x80\x94",
    "3.5",
    "-7",
    "10",
    "x%20y+z%2",
    "line\nbreak\r\n",
    ",",
    "-",
    "name",
    "price",
    "true",
    "{{ a }}",
    "{% if %}",
    "...",
};

// Text between tags: mostly whitespace and markup, for whitespace control
// and the blank-block rule.
constexpr std::string_view kTextNodes[] = {" ",  "\n",   "  \n  ",  "x",  "Hello ",
                                           ", ", "<li>", "</li>\n", "\t", "\xc3\xa9"};

constexpr std::string_view kIntegers[] = {"0",
                                          "1",
                                          "2",
                                          "3",
                                          "5",
                                          "10",
                                          "-1",
                                          "-3",
                                          "100",
                                          "1000000",
                                          "42",
                                          "7",
                                          "1458000000",
                                          "9007199254740993",
                                          "-9223372036854775808",
                                          "18446744073709551616"};
constexpr std::string_view kFloats[] = {"0.5",   "1.5",  "-2.25",   "3.0", "0.1",
                                        "100.0", "-0.0", "123.456", "1e3", "1e308"};
// Arguments of the date filter.
constexpr std::string_view kFormats[] = {"%Y-%m-%d %H:%M:%S", "%a %b %e %y %s %%", "%d/%m", "%Q %", "%B %-d"};

constexpr std::string_view kComparisons[] = {"==", "!=", "<>", "<", ">", "<=", ">=", "contains", "="};
constexpr std::string_view kPartials[] = {"p0", "p1", "p2", "missing"};
constexpr std::size_t kStoredPartials = 3;  // p0..p2 are in the document's store

// Partials that use what include and render give them: the value bound to
// their name or alias, the arguments, the loop object of the "for" form, the
// caller's variables (include) or their absence (render), counters and
// cycles, break, and inclusion of themselves.
constexpr std::string_view kPartialTexts[] = {
    "[{{ p0 }}{{ p1 }}{{ p2 }}|{{ v }}|{{ a }}]{% assign a = 'set' %}",
    "{{ forloop.index }}/{{ forloop.length }}:{{ item.name }}{% if forloop.last %}.{% endif %}",
    "{% for x in items %}{{ x.name | upcase }}{% break %}{% endfor %}{{ n | plus: 1 }}",
    "{% increment n %}{% cycle 'a', 'b' %}{% ifchanged %}{{ n }}{% endifchanged %}",
    "{{ a }}{% if a %}{% include 'p1' a: nil %}{% endif %}",
    "{% include 'p2' %}",
    "x{% break %}y",
    "{% render 'p0' with user as v, a: 1 %}",
};

// Sizes: nodes of the main template and of each partial, block nesting, and
// values in the document.
constexpr int kTemplateNodes = 60;
constexpr int kPartialNodes = 15;
constexpr int kBlockDepth = 4;
constexpr int kDocumentValues = 80;

// The fuzzer's bytes read as choices, front to back; 0 once they run out.
// The writers below never make two choices within one expression: the order
// in which operands are evaluated is the compiler's, and the replay programs
// (g++) must build the same template from a saved input as the fuzzer (clang).
class Choices {
 public:
  explicit Choices(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // A number below n (n up to 256).
  std::size_t below(std::size_t n) { return n > 1 && pos_ < bytes_.size() ? bytes_[pos_++] % n : 0; }
  bool flag() { return below(2) == 1; }
  // One in n.
  bool rarely(std::size_t n) { return below(n) == n - 1; }
  template <class T, std::size_t N>
  const T& pick(const T (&options)[N]) {
    return options[below(N)];
  }
  // Up to `max` bytes taken as they are.
  std::string_view raw(std::size_t max) {
    std::size_t n = below(max + 1);
    n = std::min(n, bytes_.size() - pos_);
    std::string_view s(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
    pos_ += n;
    return s;
  }

 private:
  std::span<const uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// A string in the JSON text.
void appendJsonString(std::string& out, std::string_view s) {
  out += '"';
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

// Writes templates: nodes with tags in their proper forms, either as
// delimited tags or as the lines of a liquid tag.
class TemplateWriter {
 public:
  explicit TemplateWriter(Choices& c) : c_(c) {}

  std::string write(int nodes, int depth) {
    budget_ = nodes;
    scope_.clear();
    loops_ = 0;
    std::string out;
    body(out, depth, false);
    return out;
  }

 private:
  // Nodes until the choices say stop (one in four) or the budget is spent.
  void body(std::string& out, int depth, bool lines) {
    while (budget_ > 0 && c_.below(4) != 0) {
      --budget_;
      node(out, depth, lines);
    }
  }

  // The opening and closing of a tag: delimiters with or without whitespace
  // control, or in a liquid tag a line of its own.
  void tag(std::string& out, bool lines, std::string_view content) {
    if (lines) {
      out.append(content).append("\n");
      return;
    }
    std::size_t trim = c_.below(4);
    out += (trim & 1) ? "{%- " : "{% ";
    out.append(content);
    out += (trim & 2) ? " -%}" : " %}";
  }

  void node(std::string& out, int depth, bool lines) {
    if (depth <= 0) return leaf(out, lines);
    switch (c_.below(16)) {
      case 0: return leaf(out, lines);
      case 1: return ifTag(out, depth, lines, "if", "endif");
      case 2: return ifTag(out, depth, lines, "unless", "endunless");
      case 3: return caseTag(out, depth, lines);
      case 4:
      case 5: return forTag(out, depth, lines);
      case 6: return tablerowTag(out, depth, lines);
      case 7: {
        std::string name(newName());
        tag(out, lines, "capture " + name);
        body(out, depth - 1, lines);
        tag(out, lines, "endcapture");
        scope_.push_back(name);
        return;
      }
      case 8:
        tag(out, lines, "ifchanged");
        body(out, depth - 1, lines);
        return tag(out, lines, "endifchanged");
      case 9: {
        if (lines) return leaf(out, lines);
        std::size_t trim = c_.below(4);
        out += (trim & 1) ? "{%- liquid\n" : "{% liquid\n";
        body(out, depth - 1, true);
        out += (trim & 2) ? "-%}" : "%}";
        return;
      }
      case 10: {
        if (lines) return leaf(out, lines);
        bool doc = c_.flag();
        tag(out, false, doc ? "doc" : "comment");
        body(out, depth - 1, false);
        return tag(out, false, doc ? "enddoc" : "endcomment");
      }
      default: return leaf(out, lines);
    }
  }

  // Nodes without a body.
  void leaf(std::string& out, bool lines) {
    switch (c_.below(14)) {
      case 0:
        if (lines) return tag(out, true, "echo " + filtered(2));
        out += c_.rarely(8) ? std::string(c_.raw(6)) : std::string(c_.pick(kTextNodes));
        return;
      case 1:
      case 2:
      case 3:
        if (lines) return tag(out, true, "echo " + filtered(2));
        out += c_.flag() ? "{{- " : "{{ ";
        out += filtered(2);
        out += c_.flag() ? " -}}" : " }}";
        return;
      case 4: return tag(out, lines, "echo " + filtered(2));
      case 5:
      case 6: {
        std::string name(newName());
        tag(out, lines, "assign " + name + " = " + filtered(2));
        scope_.push_back(name);
        return;
      }
      case 7: {
        std::string content = c_.flag() ? "increment " : "decrement ";
        return tag(out, lines, content + std::string(c_.pick(kKeys)));
      }
      case 8: return cycleTag(out, lines);
      case 9:
      case 10: return includeTag(out, lines);
      case 11: return tag(out, lines, loops_ > 0 || c_.rarely(4) ? (c_.flag() ? "break" : "continue") : "# note");
      case 12:
        if (lines) return tag(out, true, "# a comment line");
        out += "{% raw %}";
        out += c_.pick(kTexts);
        out += "{% endraw %}";
        return;
      default: return tag(out, lines, "# " + std::string(c_.pick(kTexts).substr(0, 8)));
    }
  }

  void ifTag(std::string& out, int depth, bool lines, std::string_view open, std::string_view close) {
    tag(out, lines, std::string(open) + " " + condition(2));
    body(out, depth - 1, lines);
    for (std::size_t n = c_.below(3); n > 0; --n) {
      tag(out, lines, "elsif " + condition(2));
      body(out, depth - 1, lines);
    }
    if (c_.flag()) {
      tag(out, lines, "else");
      body(out, depth - 1, lines);
    }
    tag(out, lines, close);
  }

  void caseTag(std::string& out, int depth, bool lines) {
    tag(out, lines, "case " + expression(2));
    for (std::size_t n = c_.below(4); n > 0; --n) {
      std::string when = "when " + expression(1);
      for (std::size_t more = c_.below(3); more > 0; --more) {
        when += c_.flag() ? ", " : " or ";
        when += expression(1);
      }
      tag(out, lines, when);
      body(out, depth - 1, lines);
    }
    if (c_.flag()) {
      tag(out, lines, "else");
      body(out, depth - 1, lines);
    }
    tag(out, lines, "endcase");
  }

  // A collection to loop over: mostly a variable, else a range or a text.
  std::string collection() {
    switch (c_.below(4)) {
      case 0: return variable(2);
      case 1: return range();
      case 2: return quoted(c_.pick(kTexts));
      default: return variable(1);
    }
  }

  void forTag(std::string& out, int depth, bool lines) {
    std::string name(newName());
    std::string head = "for " + name + " in " + collection();
    if (c_.flag()) head += " reversed";
    if (c_.flag()) head += " limit: " + expression(0);
    if (c_.flag()) head += " offset: " + (c_.flag() ? std::string("continue") : expression(0));
    tag(out, lines, head);
    loopBody(out, depth, lines, name);
    if (c_.flag()) {
      tag(out, lines, "else");
      body(out, depth - 1, lines);
    }
    tag(out, lines, "endfor");
  }

  void tablerowTag(std::string& out, int depth, bool lines) {
    std::string name(newName());
    std::string head = "tablerow " + name + " in " + collection();
    if (c_.flag()) head += " cols: " + expression(0);
    if (c_.flag()) head += " limit: " + expression(0);
    if (c_.flag()) head += " offset: " + expression(0);
    tag(out, lines, head);
    loopBody(out, depth, lines, name);
    tag(out, lines, "endtablerow");
  }

  void loopBody(std::string& out, int depth, bool lines, const std::string& name) {
    scope_.push_back(name);
    ++loops_;
    body(out, depth - 1, lines);
    --loops_;
  }

  void cycleTag(std::string& out, bool lines) {
    std::string content = "cycle ";
    if (c_.flag()) content += quoted(c_.flag() ? "g1" : "g2") + ": ";
    content += expression(0);
    for (std::size_t n = c_.below(4); n > 0; --n) content += ", " + expression(0);
    tag(out, lines, content);
  }

  // include or render: a stored partial (or one the store lacks), with or
  // for a value, named arguments.
  void includeTag(std::string& out, bool lines) {
    std::string content = c_.flag() ? "render " : "include ";
    content += c_.rarely(8) ? variable(0) : quoted(c_.pick(kPartials));
    bool clause = false;
    switch (c_.below(3)) {
      case 1:
        content += " with " + expression(1);
        clause = true;
        break;
      case 2:
        content += " for " + collection();
        clause = true;
        break;
      default: break;
    }
    if (clause && c_.flag()) content += " as " + std::string(newName());
    for (std::size_t n = c_.below(3), i = 0; i < n; ++i) {
      content += clause || i > 0 ? ", " : " ";
      content += c_.pick(kKeys);
      content += ": " + expression(1);
    }
    tag(out, lines, content);
  }

  // A condition: comparisons and values joined by and/or.
  std::string condition(int depth) {
    std::string out = comparison(depth);
    for (std::size_t n = c_.below(3); n > 0; --n) {
      out += c_.flag() ? " and " : " or ";
      out += comparison(depth);
    }
    return out;
  }

  std::string comparison(int depth) {
    std::string left = expression(depth);
    if (c_.below(4) == 0) return left;
    std::string op(c_.pick(kComparisons));
    return left + " " + op + " " + expression(depth);
  }

  // A value and its filters.
  std::string filtered(int depth) {
    std::string out = expression(depth);
    for (std::size_t n = c_.below(4); n > 0; --n) out += filter(depth);
    return out;
  }

  std::string filter(int depth) {
    std::span<const std::string_view> names = mervalt::filterNames();
    std::string out = " | ";
    out += c_.rarely(32) ? std::string_view("no_such_filter") : names[c_.below(names.size())];
    std::size_t args = c_.below(4);
    for (std::size_t i = 0; i < args; ++i) {
      out += i == 0 ? ": " : ", ";
      if (c_.rarely(8)) out += c_.flag() ? "allow_false: " : std::string(c_.pick(kKeys)) + ": ";
      out += argument(depth - 1);
    }
    return out;
  }

  // An argument of a filter: a number, a property name, a text, a date
  // format or any value.
  std::string argument(int depth) {
    switch (c_.below(5)) {
      case 0: return std::string(c_.pick(kIntegers));
      case 1: return quoted(c_.pick(kKeys));
      case 2: return quoted(c_.pick(kTexts));
      case 3: return quoted(c_.pick(kFormats));
      default: return expression(depth);
    }
  }

  std::string expression(int depth) {
    switch (c_.below(8)) {
      case 0: return std::string(c_.pick(kIntegers));
      case 1:
      case 2: return variable(depth);
      case 3: return quoted(c_.pick(kTexts));
      case 4: return std::string(c_.pick(kFloats));
      case 5: {
        static constexpr std::string_view kConstants[] = {"nil", "true", "false", "empty", "blank"};
        return std::string(c_.pick(kConstants));
      }
      case 6: return range();
      default: return quoted(c_.pick(kKeys));
    }
  }

  std::string range() {
    auto end = [&]() -> std::string {
      switch (c_.below(4)) {
        case 0: return std::to_string(static_cast<int>(c_.below(12)) - 2);
        case 1: return variable(0);
        case 2: return std::string(c_.pick(kFloats));
        default: return std::to_string(c_.below(40));
      }
    };
    std::string first = end();
    return "(" + first + ".." + end() + ")";
  }

  // A variable: a document key, a name the template bound, or a loop object,
  // then properties, members and indexes.
  std::string variable(int depth) {
    std::string out;
    std::size_t from = c_.below(5);
    if (from == 1 && !scope_.empty()) {
      out = scope_[c_.below(std::min<std::size_t>(scope_.size(), 256))];
    } else if (from == 2 && loops_ > 0) {
      out = c_.flag() ? "forloop." : "tablerowloop.";
      out += c_.pick(kMembers);
    } else if (from == 3 && c_.flag()) {
      out = "[" + quoted(c_.pick(kKeys)) + "]";
    } else {
      out = c_.pick(kKeys);
    }
    for (std::size_t n = c_.below(4); n > 0; --n) {
      switch (c_.below(6)) {
        case 0: out += "." + std::string(c_.pick(kKeys)); break;
        case 1: out += "." + std::string(c_.pick(kMembers)); break;
        case 2: out += "[" + std::to_string(static_cast<int>(c_.below(5)) - 1) + "]"; break;
        case 3: out += "[" + quoted(c_.pick(kKeys)) + "]"; break;
        case 4:
          if (depth > 0) {
            out += "[" + variable(depth - 1) + "]";
            break;
          }
          [[fallthrough]];
        default: out += "." + std::string(c_.pick(kKeys)); break;
      }
    }
    return out;
  }

  // A name to bind: mostly a document key, so that it shadows data.
  std::string_view newName() {
    static constexpr std::string_view kLocals[] = {"v", "w", "item", "i"};
    return c_.flag() ? c_.pick(kKeys) : c_.pick(kLocals);
  }

  // A string literal in the quote the text does not contain.
  static std::string quoted(std::string_view text) {
    char q = text.find('\'') == std::string_view::npos ? '\'' : '"';
    return q + std::string(text) + q;
  }

  Choices& c_;
  int budget_ = 0;
  int loops_ = 0;
  std::vector<std::string> scope_;
};

// Writes JSON documents of records, lists and scalars, the reserved keys
// among them, with the partials in the template store.
class DocumentWriter {
 public:
  explicit DocumentWriter(Choices& c) : c_(c) {}

  std::string write(const std::vector<std::string>& partials) {
    budget_ = kDocumentValues;
    std::string out;
    switch (c_.below(10)) {
      case 0:  // the usual: an object of keys
      case 1:
      case 2:
      case 3:
      case 4:
      case 5:
      case 6: break;
      case 7: value(out, 3); return out;
      case 8: return out;  // no document
      default: {
        // Unreadable: what would be an object, cut short or with a key twice.
        object(out, 3, partials);
        if (c_.flag() && out.size() > 2) {
          out.resize(out.size() - 1 - c_.below(std::min<std::size_t>(out.size() - 1, 256)));
        } else {
          out.insert(1, "\"a\": 1, \"a\": 2, ");
        }
        return out;
      }
    }
    object(out, 3, partials);
    return out;
  }

 private:
  void object(std::string& out, int depth, const std::vector<std::string>& partials) {
    out += '{';
    bool any = false;
    auto key = [&](std::string_view k) {
      if (any) out += ", ";
      any = true;
      appendJsonString(out, k);
      out += ": ";
    };
    uint32_t used = 0;
    for (std::size_t n = c_.below(9); n > 0 && budget_ > 0; --n) {
      std::size_t k = c_.below(std::size(kKeys));
      if (used & (1u << k)) continue;
      used |= 1u << k;
      key(kKeys[k]);
      field(out, kKeys[k], depth - 1);
    }
    if (c_.rarely(16)) {
      // Wide: more keys than a record is searched through one by one.
      for (std::size_t i = 0; i < 20; ++i) {
        key("f" + std::to_string(i));
        out += std::to_string(i);
      }
    }
    if (!partials.empty()) {
      key(c_.rarely(8) ? "__templates" : "templates");
      out += '{';
      for (std::size_t i = 0; i < partials.size(); ++i) {
        if (i) out += ", ";
        appendJsonString(out, kPartials[i]);
        out += ": ";
        appendJsonString(out, partials[i]);
      }
      out += '}';
    }
    out += '}';
  }

  // The value of a key, mostly of the kind its name suggests, as records
  // of real data have: a list of records under "items", a price that is a
  // number, a title that is text.
  void field(std::string& out, std::string_view key, int depth) {
    if (c_.rarely(4) || depth <= 0) return value(out, depth);
    --budget_;
    if (key == "items") return records(out);
    if (key == "user") {
      out += "{\"name\": ";
      appendJsonString(out, c_.pick(kTexts));
      out += ", \"id\": ";
      out += c_.pick(kIntegers);
      out += ", \"tags\": [\"a\", \"vip\"], \"available\": ";
      out += c_.flag() ? "true}" : "false}";
      return;
    }
    if (key == "n" || key == "id" || key == "price") {
      out += c_.flag() ? c_.pick(kIntegers) : c_.pick(kFloats);
      return;
    }
    if (key == "s" || key == "name" || key == "title") return appendJsonString(out, c_.pick(kTexts));
    if (key == "available") {
      out += c_.flag() ? "true" : "false";
      return;
    }
    if (key == "tags" || key == "list") {
      out += '[';
      for (std::size_t n = c_.below(6), i = 0; i < n; ++i) {
        if (i) out += ", ";
        if (key == "tags") {
          appendJsonString(out, c_.pick(kTexts));
        } else {
          out += c_.flag() ? c_.pick(kIntegers) : c_.pick(kFloats);
        }
      }
      out += ']';
      return;
    }
    value(out, depth);
  }

  // A list of records, the input of where, map, sort and their kind.
  void records(std::string& out) {
    out += '[';
    for (std::size_t n = c_.below(6), i = 0; i < n; ++i) {
      if (i) out += ", ";
      out += "{\"id\": " + std::to_string(i) + ", \"name\": ";
      appendJsonString(out, c_.pick(kTexts));
      out += ", \"price\": ";
      out += c_.flag() ? c_.pick(kIntegers) : c_.pick(kFloats);
      out += ", \"available\": ";
      out += c_.flag() ? "true" : (c_.flag() ? "false" : "null");
      if (c_.flag()) out += ", \"tags\": [\"a\", \"b\"]";
      out += '}';
    }
    out += ']';
  }

  void value(std::string& out, int depth) {
    --budget_;
    std::size_t kind = budget_ > 0 && depth > 0 ? c_.below(12) : c_.below(5);
    switch (kind) {
      case 0: out += "null"; return;
      case 1: out += c_.flag() ? "true" : "false"; return;
      case 2: out += c_.pick(kIntegers); return;
      case 3: out += c_.pick(kFloats); return;
      case 4: appendJsonString(out, c_.rarely(4) ? c_.raw(12) : c_.pick(kTexts)); return;
      case 5:
      case 6: {
        out += '[';
        for (std::size_t n = c_.below(6), i = 0; i < n; ++i) {
          if (i) out += ", ";
          value(out, depth - 1);
        }
        out += ']';
        return;
      }
      case 7:
      case 8: {
        static const std::vector<std::string> kNone;
        object(out, depth - 1, kNone);
        return;
      }
      case 9: return records(out);
      default: return reserved(out);
    }
  }

  // The objects that stand for values plain JSON cannot express.
  void reserved(std::string& out) {
    auto bound = [&] { return c_.rarely(8) ? std::string("1.5") : std::to_string(static_cast<int>(c_.below(24)) - 3); };
    switch (c_.below(7)) {
      case 0: {
        out += "{\"_mervalt_range\": true, \"start\": " + bound();
        if (!c_.rarely(8)) out += ", \"end\": " + bound();
        out += '}';
        return;
      }
      case 1:
        out += "{\"_mervalt_boolean_drop\": true, \"truthy\": ";
        out += c_.flag() ? "true" : "false";
        out += ", \"display\": ";
        appendJsonString(out, c_.pick(kTexts));
        out += '}';
        return;
      case 2: out += "{\"_mervalt_recursive\": true, \"a\": 1}"; return;
      case 3:
        out += "{\"_mervalt_custom_to_s\": ";
        appendJsonString(out, c_.pick(kTexts));
        out += ", \"a\": 1}";
        return;
      case 4: out += "{\"_mervalt_symbol\": true, \"name\": \"sym\"}"; return;
      case 5: out += "{\"_mervalt_has_symbol_keys\": true, \":a\": 1, \"b\": \"two\"}"; return;
      default: out += "{\"_mervalt_has_hash_keys\": true, \"_mervalt_hash_key:{\\\"a\\\"=>1}\": 2, \"k\": [3]}"; return;
    }
  }

  Choices& c_;
  int budget_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Choices choices({data, size});
  TemplateWriter templates(choices);
  std::string main = templates.write(kTemplateNodes, kBlockDepth);
  std::vector<std::string> partials;
  for (std::size_t i = 0; i < kStoredPartials; ++i) {
    // An empty text would not count as a stored partial.
    std::string text = choices.flag() ? templates.write(kPartialNodes, kBlockDepth - 1) : std::string();
    partials.push_back(text.empty() ? std::string(choices.pick(kPartialTexts)) : std::move(text));
  }
  std::string json = DocumentWriter(choices).write(partials);

  static const bool show = std::getenv("MERVALT_FUZZ_SHOW") != nullptr;
  if (show) std::fprintf(stderr, "--- template\n%s\n--- data\n%s\n", main.c_str(), json.c_str());
  mervalt::fuzzing::checkRender(main, json);
  return 0;
}

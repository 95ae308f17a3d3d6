// tablerow.cpp: the tablerow tag and the tags with state of their own:
// cycle, increment/decrement and ifchanged.
#include <charconv>
#include <cmath>
#include <limits>

#include "render/tags/tags.h"

namespace mervalt::tags {
namespace {

constexpr std::string_view kInvalidInteger = "Liquid error (line 1): invalid integer";

struct TablerowParams {
  uint64_t cols = 0;
  bool hasCols = false;
  bool colsNil = false;
  uint64_t limit = 0;
  bool hasLimit = false;
  uint64_t offset = 0;
  bool invalid = false;  // a boolean where a number belongs: only the message is written
};

uint64_t nonNegative(int64_t v) { return v > 0 ? static_cast<uint64_t>(v) : 0; }

uint64_t countFromText(std::string_view s) {
  std::optional<int64_t> v = readWholeInteger(s);
  return v ? nonNegative(*v) : 0;
}

uint64_t colsFromFloat(double d) {
  if (!(d > 0)) return 0;  // also NaN
  if (d >= 9.2e18) return static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return static_cast<uint64_t>(d);
}

void readCols(const Value& v, TablerowParams& p) {
  p.hasCols = true;
  p.cols = 0;
  switch (v.kind()) {
    case Kind::Integer: p.cols = nonNegative(v.asInt()); return;
    case Kind::Float: p.cols = colsFromFloat(v.asFloat()); return;
    case Kind::String: p.cols = countFromText(v.str()); return;
    case Kind::Nil: p.colsNil = true; return;
    case Kind::Boolean: p.invalid = true; return;
    case Kind::Array:
    case Kind::Object:
    case Kind::Empty:
    case Kind::Blank:
    case Kind::Range:
    case Kind::Error:
    case Kind::BooleanDrop: return;
  }
}

// limit and offset: integers and numeric texts count, other kinds are 0.
uint64_t readCount(const Value& v) {
  if (v.is(Kind::Integer)) return nonNegative(v.asInt());
  if (v.is(Kind::String)) return countFromText(v.str());
  return 0;
}

// cols, limit and offset in written order. Stops at the first boolean that
// makes the tag fail.
TablerowParams parseTablerowParams(Renderer& r, std::span<const Node> args, const Value& collection) {
  TablerowParams p;
  for (const Node& arg : args) {
    if (arg.kind != NodeKind::NamedArgument || arg.children.empty()) continue;
    std::string_view key = arg.argument.key;
    bool cols = key == "cols", limit = key == "limit", offset = key == "offset";
    if (!cols && !limit && !offset) continue;
    Value v = r.evaluate(arg.children[0]);
    if (cols) {
      readCols(v, p);
    } else if (limit) {
      p.invalid = v.is(Kind::Boolean) && !collection.isNil();
      p.limit = readCount(v);
      p.hasLimit = true;
    } else {
      p.invalid = v.is(Kind::Boolean);
      p.offset = readCount(v);
    }
    if (p.invalid) return p;
  }
  return p;
}

void appendNumber(OutputBuffer& out, uint64_t v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append({buf, static_cast<std::size_t>(res.ptr - buf)});
}

void openRow(OutputBuffer& out, uint64_t row) {
  out.append("<tr class=\"row");
  appendNumber(out, row);
  out.append("\">\n");
}

void openCell(OutputBuffer& out, uint64_t col) {
  out.append("<td class=\"col");
  appendNumber(out, col);
  out.append("\">");
}

int64_t clampToInt64(uint64_t v) {
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(v < kMax ? v : kMax);
}

TablerowInfo cellInfo(uint64_t i, uint64_t n, uint64_t cols, bool colsNil) {
  uint64_t col0 = i % cols;
  int64_t index0 = clampToInt64(i), length = clampToInt64(n);
  return TablerowInfo{clampToInt64(col0 + 1), clampToInt64(col0), clampToInt64(i / cols + 1),
                      index0 + 1, index0, length, length - index0, length - index0 - 1,
                      col0 == 0, !colsNil && (col0 + 1 == cols || i + 1 == n),
                      i == 0, i + 1 == n};
}

// Renders one cell's body with its record pushed; false when a break ended
// the table (the cell and row are closed then).
bool renderCell(Renderer& r, std::span<const Node> body, const TablerowInfo& info) {
  r.loops().beginCell(info);
  Flow f = r.renderSequence(body);
  r.loops().endCell();
  if (f == Flow::Break) {
    r.output().append("</td></tr>\n");
    return false;
  }
  r.output().append("</td>");
  return true;
}

// A string is laid out as one cell holding the whole string.
void renderStringTable(Renderer& r, const Node& node, std::span<const Node> body, const Value& s) {
  OutputBuffer& out = r.output();
  if (s.str().empty()) {
    out.append("<tr class=\"row1\">\n</tr>\n");
    return;
  }
  openRow(out, 1);
  openCell(out, 1);
  r.variables().set(node.loop.slot, s);
  int64_t length = clampToInt64(s.str().size());
  if (renderCell(r, body, TablerowInfo{1, 0, 1, 1, 0, length, 1, 0, true, true, true, true}))
    out.append("</tr>\n");
}

}  // namespace

Flow renderTablerow(Renderer& r, const Node& node) {
  if (node.children.empty() || node.loop.variable.empty()) return Flow::Normal;
  OutputBuffer& out = r.output();
  Value collection = r.evaluate(node.children[0]);
  std::span<const Node> rest = node.children.subspan(1);
  TablerowParams p = parseTablerowParams(r, rest, collection);
  if (p.invalid) {
    out.append(kInvalidInteger);
    return Flow::Normal;
  }
  std::size_t b = 0;
  while (b < rest.size() && rest[b].kind == NodeKind::NamedArgument) ++b;
  std::span<const Node> body = rest.subspan(b);

  uint64_t count = 0;
  if (collection.is(Kind::Array)) {
    count = collection.items().size();
  } else if (collection.is(Kind::Range)) {
    if (collection.rangeEnd() < collection.rangeStart()) return Flow::Normal;
    uint64_t span = static_cast<uint64_t>(collection.rangeEnd()) - static_cast<uint64_t>(collection.rangeStart());
    count = span == std::numeric_limits<uint64_t>::max() ? span : span + 1;
  } else if (collection.is(Kind::String)) {
    renderStringTable(r, node, body, collection);
    return Flow::Normal;
  } else {
    return Flow::Normal;
  }

  uint64_t remaining = count > p.offset ? count - p.offset : 0;
  uint64_t n = p.hasLimit && p.limit < remaining ? p.limit : remaining;
  if (n == 0) {
    out.append("<tr class=\"row1\">\n</tr>\n");
    return Flow::Normal;
  }
  uint64_t cols = p.hasCols && p.cols != 0 ? p.cols : n;
  for (uint64_t i = 0; i < n; ++i) {
    r.countIteration();
    if (i % cols == 0) {
      if (i != 0) out.append("</tr>\n");
      openRow(out, i / cols + 1);
    }
    openCell(out, i % cols + 1);
    uint64_t pos = p.offset + i;
    Value item = collection.is(Kind::Array)
                     ? collection.items()[pos]
                     : Value::integer(static_cast<int64_t>(static_cast<uint64_t>(collection.rangeStart()) + pos));
    r.variables().set(node.loop.slot, item);
    if (!renderCell(r, body, cellInfo(i, n, cols, p.colsNil))) return Flow::Normal;
  }
  out.append("</tr>\n");
  return Flow::Normal;
}

namespace {

// A cycle of literals without a group name has the same key every time: its
// node's memo keeps where its position lives in the running frame.
struct CycleMemo {
  const void* frame;
  uint64_t* position;
};

// Writes the value at `position` and moves on to the next.
void advanceCycle(Renderer& r, const Node& node, uint64_t& position) {
  uint64_t p = position;
  position = p + 1 < node.children.size() ? p + 1 : 0;
  if (p < node.children.size()) appendDisplay(r.output(), r.evaluate(node.children[p]));
}

}  // namespace

// The group is keyed by the display text of the named variable, or else by
// the values' display texts joined with ",". The key is built on the stack
// and copied into the arena only the first time it is seen.
void renderCycle(Renderer& r, const Node& node) {
  if (node.children.empty()) return;
  Counters& counters = r.counters();
  CycleMemo* memo = node.cycle.memo != kNoMemo ? static_cast<CycleMemo*>(r.memo(node.cycle.memo).state) : nullptr;
  if (memo && memo->frame == counters.cycleFrame()) {
    advanceCycle(r, node, *memo->position);
    return;
  }
  char buf[256];
  std::pmr::monotonic_buffer_resource mr(buf, sizeof buf, r.scratch().resource());
  std::pmr::string key(&mr);
  if (!node.cycle.group.empty()) {
    appendDisplay(key, r.resolveVariable(node.cycle.slot, node.cycle.group));
  } else {
    for (std::size_t i = 0; i < node.children.size(); ++i) {
      if (i != 0) key.push_back(',');
      appendDisplay(key, r.evaluate(node.children[i]));
    }
  }
  uint64_t& position = counters.cyclePosition(key);
  if (node.cycle.memo != kNoMemo)
    r.memo(node.cycle.memo).state = r.scratch().make<CycleMemo>(CycleMemo{counters.cycleFrame(), &position});
  advanceCycle(r, node, position);
}

void renderCounter(Renderer& r, const Node& node, bool up) {
  if (node.counter.name.empty()) return;
  appendDisplay(r.output(), Value::integer(r.counters().step(node.counter.name, up)));
}

// The body is kept only when it wrote something other than what the last
// ifchanged block wrote. Trimming inside may cut below the start; what was
// written is then nothing.
Flow renderIfchanged(Renderer& r, const Node& node) {
  OutputBuffer& out = r.output();
  std::size_t start = out.size();
  Flow f = r.renderSequence(node.children);
  if (f != Flow::Normal) return f;
  std::string_view written = out.size() > start ? out.from(start) : std::string_view();
  if (r.counters().ifchangedRepeats(written)) out.truncate(start);
  return Flow::Normal;
}

}  // namespace mervalt::tags

// loops.cpp: the for tag, its loop records, the forloop object and the keys
// under which offset: continue remembers where a loop stopped.
#include <algorithm>
#include <limits>

#include "render/tags/tags.h"

namespace mervalt::tags {
namespace {

struct ForLoopParams {
  uint64_t limit = 0;
  bool hasLimit = false;
  uint64_t offset = 0;
  bool offsetContinue = false;
  bool reversed = false;
};

uint64_t nonNegative(int64_t v) { return v > 0 ? static_cast<uint64_t>(v) : 0; }

// A count written as text: a whole decimal integer; negative or unreadable is 0.
uint64_t countFromText(std::string_view s) {
  std::optional<int64_t> v = readWholeInteger(s);
  return v ? nonNegative(*v) : 0;
}

void readOffset(const Value& v, ForLoopParams& p) {
  if (v.is(Kind::String) && v.str() == "continue") {
    p.offsetContinue = true;
  } else if (v.is(Kind::String)) {
    p.offset = countFromText(v.str());
    p.offsetContinue = false;
  } else if (v.is(Kind::Integer)) {
    p.offset = nonNegative(v.asInt());
    p.offsetContinue = false;
  }
}

void readLimit(const Value& v, ForLoopParams& p) {
  p.hasLimit = true;
  if (v.is(Kind::String))
    p.limit = countFromText(v.str());
  else if (v.is(Kind::Integer))
    p.limit = nonNegative(v.asInt());
  else
    p.limit = 0;
}

// limit, offset and reversed, in written order; a later one of a name wins.
ForLoopParams parseForLoopParams(Renderer& r, std::span<const Node> params) {
  ForLoopParams p;
  for (const Node& arg : params) {
    if (arg.kind != NodeKind::NamedArgument || arg.argument.key.empty()) continue;
    std::string_view key = arg.argument.key;
    if (key == "reversed") {
      p.reversed = true;
    } else if (arg.children.empty()) {
      continue;
    } else if (key == "offset") {
      readOffset(r.evaluate(arg.children[0]), p);
    } else if (key == "limit") {
      readLimit(r.evaluate(arg.children[0]), p);
    }
  }
  return p;
}

}  // namespace

void appendNodeKey(std::pmr::string& out, const Node& node) {
  switch (node.kind) {
    case NodeKind::Variable: out.append(node.variable.name); return;
    case NodeKind::String:
    case NodeKind::Integer:
    case NodeKind::Float:
    case NodeKind::Boolean:
    case NodeKind::Nil:
      out.append(node.literal.text.empty() ? std::string_view("nil") : node.literal.text);
      return;
    case NodeKind::Range:
      out.push_back('(');
      if (!node.children.empty()) appendNodeKey(out, node.children[0]);
      out.append("..");
      if (node.children.size() > 1) appendNodeKey(out, node.children[1]);
      out.push_back(')');
      return;
    case NodeKind::Property:
      if (!node.children.empty()) appendNodeKey(out, node.children[0]);
      out.push_back('.');
      out.append(node.property.member);
      return;
    case NodeKind::Index:
      if (!node.children.empty()) appendNodeKey(out, node.children[0]);
      out.push_back('[');
      if (node.children.size() > 1) appendNodeKey(out, node.children[1]);
      out.push_back(']');
      return;
    default: out.append("<expr>"); return;
  }
}

namespace {

// Where this loop stops for offset: continue, keyed by its name (variable,
// "-", continue key). The key is built in a stack buffer, so that a loop run
// again and again adds nothing to the arena, and looked up once per render:
// the node's memo keeps the place. Kept out of line so the buffer is not
// part of the recursion through loop bodies.
[[gnu::noinline]] Loops::Stop& loopStop(Renderer& r, const Node& node) {
  void*& memo = r.memo(node.loop.memo).state;
  if (memo) return *static_cast<Loops::Stop*>(memo);
  char buf[256];
  std::pmr::monotonic_buffer_resource mr(buf, sizeof buf, r.scratch().resource());
  std::pmr::string name(&mr);
  name.append(node.loop.variable);
  name.push_back('-');
  appendNodeKey(name, node.children[0]);
  Loops::Stop& stop = r.loops().stopOf(name);
  memo = &stop;
  return stop;
}

// The items of a collection, addressed by position. Ranges and objects are
// not expanded up front: only the items the loop reaches are made.
struct ItemSource {
  enum class Form : uint8_t { List, Range, Pairs, Single } form = Form::List;
  std::span<const Value> list;
  const ObjectMap* map = nullptr;
  Value single;  // the string, or the range start
  uint64_t count = 0;
};

// Items of an iterable collection; nothing for the other kinds.
std::optional<ItemSource> itemsOf(const Value& c) {
  ItemSource s;
  switch (c.kind()) {
    case Kind::Array:
      s.list = c.items();
      s.count = s.list.size();
      return s;
    case Kind::Object:
      s.form = ItemSource::Form::Pairs;
      s.map = &c.map();
      s.count = s.map->size();
      return s;
    case Kind::Range: {
      s.form = ItemSource::Form::Range;
      s.single = c;
      if (c.rangeEnd() < c.rangeStart()) return s;
      // end - start + 1 in unsigned arithmetic; the one size that does not fit
      // (the whole int64 span) is capped, which no loop can tell apart.
      uint64_t span = static_cast<uint64_t>(c.rangeEnd()) - static_cast<uint64_t>(c.rangeStart());
      s.count = span == std::numeric_limits<uint64_t>::max() ? span : span + 1;
      return s;
    }
    case Kind::String:
      s.form = ItemSource::Form::Single;
      s.single = c;
      s.count = 1;
      return s;
    case Kind::Nil:
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Float:
    case Kind::Empty:
    case Kind::Blank:
    case Kind::Error:
    case Kind::BooleanDrop: return std::nullopt;
  }
  // Not reached: the switch names every value, but GCC wants a return here.
  return std::nullopt;
}

// One entry of an object as the pair [key, value].
Value objectToKeyValuePair(Renderer& r, const ObjectMap& map, std::size_t i) {
  Value* pair = r.scratch().allocArray<Value>(2);
  new (&pair[0]) Value(Value::string(map.keyAt(i)));
  new (&pair[1]) Value(map.valueAt(i));
  return Value::array({pair, 2});
}

Value itemAt(Renderer& r, const ItemSource& s, uint64_t i) {
  switch (s.form) {
    case ItemSource::Form::List: return s.list[i];
    case ItemSource::Form::Pairs: return objectToKeyValuePair(r, *s.map, i);
    case ItemSource::Form::Range:
      return Value::integer(static_cast<int64_t>(static_cast<uint64_t>(s.single.rangeStart()) + i));
    case ItemSource::Form::Single: return s.single;
  }
  // Not reached: the switch names every value, but GCC wants a return here.
  return Value();
}

// The body: children after the collection and the parameters, before the else.
std::span<const Node> forBody(const Node& node) {
  std::span<const Node> rest = node.children.subspan(1);
  std::size_t b = 0;
  while (b < rest.size() && rest[b].kind == NodeKind::NamedArgument) ++b;
  std::size_t e = rest.size();
  if (e > b && rest[e - 1].kind == NodeKind::Else) --e;
  return rest.subspan(b, e - b);
}

void renderElseBranch(Renderer& r, const Node& node) {
  for (const Node& child : node.children.subspan(1)) {
    if (child.kind != NodeKind::Else) continue;
    (void)r.renderSequence(child.children);  // break/continue end the branch here
    return;
  }
}

int64_t clampToInt64(uint64_t v) {
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(std::min(v, kMax));
}

struct LoopWindow {
  uint64_t first;  // position of the first selected item
  uint64_t n;      // number of iterations
};

// Runs the n iterations; the loop variable holds each item in turn and a
// loop record describes the iteration. Break and continue end here.
void renderForLoopBody(Renderer& r, const Node& node, const ItemSource& items, LoopWindow w,
                       bool reversed, std::string_view loopName) {
  std::span<const Node> body = forBody(node);
  // One record serves every iteration; loops in the body stack theirs on
  // top of it (which may move it, so it is found by its place).
  Loops& loops = r.loops();
  std::size_t at = loops.begin(clampToInt64(w.n), loopName);
  for (uint64_t i = 0; i < w.n; ++i) {
    r.countIteration();
    uint64_t pick = reversed ? w.n - 1 - i : i;
    r.variables().set(node.loop.slot, itemAt(r, items, w.first + pick));
    loops.moveTo(at, clampToInt64(i));
    if (r.renderChildrenWithTrim(body, node.trimRight) == Flow::Break) break;
  }
  loops.end();
}

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
  return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// A loop ready to run: what it iterates and which window of it.
struct LoopPlan {
  ItemSource items;
  LoopWindow window{0, 0};
  bool reversed = false;
  Loops::Stop* stop = nullptr;  // its name and where it stops for offset: continue
};

// Evaluates the collection and the parameters and selects the window; false
// when the collection cannot be iterated. Kept out of line so that its locals
// are off the stack while the body renders.
[[gnu::noinline]] bool planLoop(Renderer& r, const Node& node, LoopPlan& plan) {
  Value collection = r.evaluate(node.children[0]);
  ForLoopParams params = parseForLoopParams(r, node.children.subspan(1));
  Loops::Stop& stop = loopStop(r, node);
  std::optional<ItemSource> items = itemsOf(collection);
  if (!items) return false;
  uint64_t offset = params.offsetContinue ? stop.position : params.offset;
  uint64_t remaining = items->count > offset ? items->count - offset : 0;
  plan.items = *items;
  plan.window = LoopWindow{offset, params.hasLimit ? std::min(remaining, params.limit) : remaining};
  plan.reversed = params.reversed;
  plan.stop = &stop;
  return true;
}

}  // namespace

Flow renderFor(Renderer& r, const Node& node) {
  if (node.children.empty() || node.loop.variable.empty()) return Flow::Normal;
  LoopPlan plan;
  if (!planLoop(r, node, plan)) return Flow::Normal;
  if (plan.window.n == 0) {
    renderElseBranch(r, node);
    return Flow::Normal;
  }

  Binding before = r.variables().save(node.loop.slot);
  std::size_t start = r.output().size();

  renderForLoopBody(r, node, plan.items, plan.window, plan.reversed, plan.stop->key);
  plan.stop->position = saturatingAdd(plan.window.first, plan.window.n);

  r.stripEmptyBlockWhitespace(start, node.children);
  r.variables().restore(node.loop.slot, before);
  return Flow::Normal;
}

std::string_view continueKey(Renderer& r, const Node& expr) {
  std::pmr::string& key = newText(r.scratch());
  appendNodeKey(key, expr);
  return key;
}

}  // namespace mervalt::tags

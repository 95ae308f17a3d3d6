// renderer.h: the Renderer walks the syntax tree and writes the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory_resource>
#include <optional>
#include <stdexcept>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "render_limits.h"
#include "memory/arena.h"
#include "data/display_text.h"
#include "parse/names.h"
#include "render/output.h"
#include "parse/parser.h"
#include "render/scope.h"
#include "data/value.h"

namespace mervalt {

// How a body ended: normally, or by a break/continue tag that travels up to
// the nearest loop. Failures (out of memory, a partial that does not parse,
// nesting too deep) are exceptions and end the whole call.
enum class Flow : uint8_t { Normal, Break, Continue };

// The keys of a forloop object, and of one that also names its parent loop's
// record (read back by `forloop.parentloop`).
inline constexpr std::string_view kForloopKeys[] = {"index",  "index0", "first",   "last",
                                                    "length", "rindex", "rindex0", "name",
                                                    "_parentloop_index"};
inline constexpr Shape kForloopShape{kForloopKeys, 8};
inline constexpr Shape kForloopShapeWithParent{kForloopKeys, 9};

// One running iteration of a for loop; the other members of the forloop
// object follow from the position and the length.
struct LoopRecord {
  LoopRecord(int64_t i, int64_t n, std::string_view loopName) : index0(i), length(n), name(loopName) {}

  int64_t index0, length;
  std::string_view name;  // loop variable, "-", continue key
  Value object = {};      // the forloop object once built, shared by every access in this iteration

  int64_t index() const { return index0 + 1; }
  int64_t rindex() const { return length - index0; }
  int64_t rindex0() const { return length - index0 - 1; }
  bool first() const { return index0 == 0; }
  bool last() const { return index0 + 1 == length; }
};

// One running cell of a tablerow loop.
struct TablerowInfo {
  int64_t col, col0, row, index, index0, length, rindex, rindex0;
  bool colFirst, colLast, first, last;
  Value object = {};  // the tablerowloop object once built, shared by every access in this cell
};

// A binding installed for an included or rendered template.
struct LocalOverride {
  uint32_t slot;
  Value value;
};

// An argument of a running include or render tag, with what its variable's
// place held before (for the forms that put it back).
struct BoundArg {
  uint32_t slot;
  Value value;
  Binding saved;
};

class Renderer {
 public:
  // `arena` holds every Value, key and text made while rendering; `data` is
  // the outermost scope; `names` numbers the names of every template the
  // call renders (the main template is parsed with it first).
  Renderer(Arena& arena, Value data, OutputBuffer& output, NameTable& names, const Limits& limits);
  // The same with a table of its own.
  Renderer(Arena& arena, Value data, OutputBuffer& output, const Limits& limits);

  // Renders the Root of the main template.
  void renderRoot(const Node& root);

  Flow renderNode(const Node& node);
  Flow renderChildrenWithTrim(std::span<const Node> nodes, bool trimFirst);
  // Renders each node with renderNode, no whitespace control between them.
  Flow renderSequence(std::span<const Node> nodes);
  // Blank-block rule: a block without output nodes that wrote only
  // whitespace since `start` is erased.
  void stripEmptyBlockWhitespace(std::size_t start, std::span<const Node> nodes);
  static bool hasOutputNodesInNode(const Node& node);
  // Removes whitespace from the end of the output, never below `floor`
  // (nor below the start of the capture being rendered).
  void stripTrailingWhitespace(std::size_t floor = 0);
  // Appends `text` without its leading whitespace.
  void appendTrimmedLeft(std::string_view text);

  // Expression evaluation. Throws std::bad_alloc only.
  Value evaluate(const Node& node) {
    // Literals are the most common arguments: their value is ready.
    if (node.kind >= NodeKind::String && node.kind <= NodeKind::Blank) return node.constant;
    return evaluateExpression(node);
  }
  Value evaluateExpression(const Node& node);
  // A variable by the number of its name: loop objects, include bindings,
  // assigned variables, counters, then the data.
  Value resolveVariable(uint32_t slot, std::string_view name, LookupCache* cache = nullptr) {
    // An assigned or bound variable, when no loop object or include binding
    // can stand in front of it.
    if (slot > NameTable::kTablerowloop && locals_.empty())
      if (const Value* v = scope_.find(slot)) return *v;
    return resolveName(slot, name, cache);
  }
  Value resolveName(uint32_t slot, std::string_view name, LookupCache* cache);
  // A variable named by a text made while rendering.
  Value resolveVariable(std::string_view name);
  // children[0] evaluated, then every Filter child applied in order.
  Value evaluateFiltered(std::span<const Node> chain);
  Value applyFilter(const Value& input, const Node& filter) {
    // An unknown filter passes its input on, a range as its array too.
    Value in = filterInput(input);
    if (!filter.filter) return in;
    Value out = filter.filter(*this, in, filter.args);
    // Charged once the filter is done: one filter's own work is bounded by
    // the memory it may take.
    chargeWork(kFilterCallWork + (filter.member != 0 ? 0 : workOf(in)) + workOf(out));
    return out;
  }
  // What a filter receives for `input`: a range as the array of its integers.
  Value filterInput(const Value& input) { return input.is(Kind::Range) ? expandRange(input) : input; }
  // A condition carrying an unrecognised operator: the value to test, or
  // nothing when the operator must be reported.
  std::optional<Value> evaluateConditionWithInvalidOp(const Node& condition);

  // Counts one loop iteration or inclusion against its bound.
  void countIteration() {
    if (++iterations_ > limits_.iterations) exceeded(LimitKind::Iterations, limits_.iterations);
  }
  // Counts work against its bound.
  void chargeWork(uint64_t units) {
    work_ += units;
    if (work_ > limits_.work) exceeded(LimitKind::Work, limits_.work);
  }
  // Work and iterations so far.
  uint64_t workDone() const { return work_; }
  uint64_t iterationsDone() const { return iterations_; }
  // The work of handling a value once: its elements, or its bytes.
  static uint64_t workOf(const Value& v) {
    if (v.is(Kind::String)) return v.str().size() / kBytesPerWorkUnit;
    if (v.is(Kind::Array)) return v.items().size();
    if (v.is(Kind::Object)) return v.map().size();
    return 0;
  }

  Arena& scratch() { return arena_; }
  OutputBuffer& output() { return output_; }
  std::string_view display(const Value& v) { return v.is(Kind::String) ? v.str() : toString(v, arena_); }

 private:
  friend struct DepthGuard;

  // Tags (one source file per family under tags/).
  Flow renderIf(const Node& node);
  Flow renderIfBody(std::span<const Node> nodes, bool trim);
  Flow renderElsifChain(std::span<const Node> nodes, bool trim);
  Flow renderUnless(const Node& node);
  Flow renderUnlessElsifChain(const Node& node, bool trim);
  Flow renderCase(const Node& node);
  Flow renderWhenBody(std::span<const Node> body, bool trimRight);
  Flow renderFor(const Node& node);
  Flow renderTablerow(const Node& node);
  void renderCycle(const Node& node);
  void advanceCycle(const Node& node, uint64_t& position);
  void renderIncrement(const Node& node, bool up);
  Flow renderIfchanged(const Node& node);
  Flow renderIncludeOrRender(const Node& node, bool isRender);
  Flow renderCapture(const Node& node);
  void renderRaw(const Node& node);
  Flow renderTrimmed(std::span<const Node> nodes, bool trimNext, bool stopAtBranch);

  void renderOutput(const Node& node);

  // Evaluation helpers.
  Value expandRange(const Value& range);
  Value evaluateProperty(const Node& node);
  Value evaluateIndex(const Node& node);
  Value evaluateRange(const Node& node);
  Value evaluateComparison(const Node& node);
  Value evaluateLogical(const Node& node);
  Value compareLess(const Value& l, const Value& r, bool greater);
  Value comparisonError(const Value& l, const Value& r);
  std::optional<Value> forloopMember(ForloopMember member);

 public:
  // Loop state, shared with the tag sources. Loops are numbered from the
  // first one the running frame sees.
  Value buildForloopObject(std::size_t k);
  std::size_t visibleLoops() const { return loopStack_.size() - loopBase_; }
  Value buildTablerowloopObject();
  std::string_view buildContinueKey(const Node& expr);

  // The parsed tree of an included template source, parsed once per call.
  const Node& parseCached(std::string_view source);
  // The number of a name met while rendering.
  uint32_t nameSlot(std::string_view name);
  void bindLocal(uint32_t slot, const Value& v);
  void unbindLocal(uint32_t slot);

  [[noreturn, gnu::noinline]] void exceeded(LimitKind kind, uint64_t limit) const {
    throw LimitExceeded(kind, limit, limits_.isDefault(kind));
  }

  Arena& arena_;
  Value data_;
  OutputBuffer& output_;
  NameTable& names_;
  Limits limits_;
  std::size_t captureFloor_ = 0;  // trimming never reaches below the running capture
  bool keptObject_ = false;       // a loop object was built and kept since the output began
  uint32_t depth_ = 0;
  uint64_t iterations_ = 0;
  uint64_t work_ = 0;

  Scope scope_;  // assigned and bound variables, by name number
  // Bindings of running includes, which hide every other scope; few, and
  // searched from the most recent.
  std::pmr::vector<LocalOverride> locals_;
  std::pmr::vector<BoundArg> boundArgs_;  // arguments of the running include/render tags
  // Counters and cycle positions of the running frame (render starts its
  // own); made on first use.
  NameMap<int64_t>* counters_ = nullptr;
  NameMap<uint64_t>* cyclePositions_ = nullptr;
  NameMap<uint64_t> continueOffsets_;
  // Running for loops; a render sees only those from loopBase_ on, and
  // numbers them from there.
  std::pmr::vector<LoopRecord> loopStack_;
  std::size_t loopBase_ = 0;
  std::pmr::vector<TablerowInfo> tablerowStack_;
  std::optional<std::string_view> ifchangedLast_;
  NameMap<const Node*> templateCache_;
  std::pmr::unordered_map<const char*, std::pair<std::size_t, const Node*>> sourceAddresses_;
  using ContinueSlot = NameMap<uint64_t>::value_type;
  // The template store in the data ("__templates", else "templates"), looked
  // up on the first include.
  std::optional<std::optional<Value>> dataTemplateStore_;
};

// Counts one level of render nesting for the lifetime of a scope; throws
// LimitExceeded beyond the depth bound.
struct DepthGuard {
  explicit DepthGuard(Renderer& r) : r_(r) {
    if (++r_.depth_ > r_.limits_.depth) {
      --r_.depth_;
      r_.exceeded(LimitKind::Depth, r_.limits_.depth);
    }
  }
  ~DepthGuard() { --r_.depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  Renderer& r_;
};

// What a call's render did, for tests and tools: filled in also when the
// render fails (the heap knows the call's peak memory).
struct CallStats {
  uint64_t work = 0;
  uint64_t iterations = 0;
};

// Renders one call: reads the JSON, parses, renders, within `limits` (the
// memory bound is the heap's). Throws ParseError, LimitExceeded or
// std::bad_alloc; `heap` is the upstream of every arena. With `jsonPadded`,
// kJsonPadding readable bytes follow the JSON text (see json_input.h), which
// spares the call a copy of it.
std::pair<char*, std::size_t> renderCall(std::string_view templateText, std::string_view json,
                                         HeapResource& heap, const Limits& limits, bool jsonPadded = false,
                                         CallStats* stats = nullptr);

}  // namespace mervalt

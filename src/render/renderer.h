// renderer.h: the Renderer walks a syntax tree and writes the output. Its
// state is its own; tags and filters reach it through the public members
// below: evaluating, writing, scratch memory, the work budget, and the
// pieces of state each tag keeps (variables, loops, counters, partials).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <span>
#include <string_view>

#include "data/display_text.h"
#include "data/value.h"
#include "memory/arena.h"
#include "parse/names.h"
#include "parse/node.h"
#include "render/counters.h"
#include "render/loops.h"
#include "render/memo.h"
#include "render/output.h"
#include "render/partials.h"
#include "render/scope.h"
#include "render_limits.h"

namespace mervalt {

// How a body ended: normally, or by a break/continue tag that travels up to
// the nearest loop. Failures (out of memory, a partial that does not parse,
// a bound exceeded) are exceptions and end the whole render.
enum class Flow : uint8_t { Normal, Break, Continue };

class Renderer {
 public:
  // `arena` holds every Value, key and text made while rendering; `data` is
  // the outermost scope; `names` numbers the names of every template the
  // render reads (the main template's first), and grows with the partials
  // parsed while rendering; `library` holds the host's named partials.
  Renderer(Arena& arena, Value data, OutputBuffer& output, NameTable& names, const Limits& limits,
           const PartialLibrary* library = nullptr);

  // Renders a whole template.
  void renderRoot(const Tree& tree);

  // ---- rendering nodes ----
  Flow renderNode(const Node& node);
  // Siblings with whitespace control; `trimFirst` drops the leading
  // whitespace of a first text node.
  Flow renderChildrenWithTrim(std::span<const Node> nodes, bool trimFirst);
  // The same, stopping at the first elsif or else of an if chain.
  Flow renderBranch(std::span<const Node> nodes, bool trimFirst);
  // Each node with renderNode, no whitespace control between them.
  Flow renderSequence(std::span<const Node> nodes);
  // The top-level nodes of another template, as an include renders them.
  Flow renderPartial(const PartialTree& partial);

  // ---- writing ----
  OutputBuffer& output() { return output_; }
  // Removes whitespace from the end of the output, never below `floor`
  // (nor below the start of the capture being rendered).
  void stripTrailingWhitespace(std::size_t floor = 0);
  // Appends `text` without its leading whitespace.
  void appendTrimmedLeft(std::string_view text);
  // Blank-block rule: a block without output nodes that wrote only
  // whitespace since `start` is erased.
  void stripEmptyBlockWhitespace(std::size_t start, std::span<const Node> nodes);

  // ---- expressions ----
  Value evaluate(const Node& node) {
    // Literals are the most common arguments: their value is ready.
    if (isLiteralKind(node.kind)) return node.literal.value;
    return evaluateExpression(node);
  }
  // children[0] evaluated, then every Filter child applied in order.
  Value evaluateFiltered(std::span<const Node> chain);
  // A condition followed by an unrecognised operator: the value to test, or
  // nothing when the operator must be reported.
  std::optional<Value> evaluateConditionWithInvalidOp(const Node& condition, std::string_view invalidOp);
  // A variable by the number of its name: loop objects, include bindings,
  // assigned variables, counters, then the data.
  Value resolveVariable(uint32_t slot, std::string_view name, LookupCache* cache = nullptr) {
    // An assigned or bound variable, when no loop object or include binding
    // can stand in front of it.
    if (slot > NameTable::kTablerowloop && locals_.empty())
      if (const Value* v = scope_.find(slot)) return *v;
    return resolveName(slot, name, cache);
  }
  // A variable named by a text made while rendering.
  Value resolveVariable(std::string_view name);
  // The display text of a value, made in scratch memory when it is not a string.
  std::string_view display(const Value& v) { return v.is(Kind::String) ? v.str() : toString(v, arena_); }

  // ---- memory and budget ----
  Arena& scratch() { return arena_; }
  // Counts one loop iteration or inclusion against its bound.
  void countIteration() {
    if (++iterations_ > limits_.iterations) exceeded(LimitKind::Iterations, limits_.iterations);
  }
  // Counts work against its bound.
  void chargeWork(uint64_t units) {
    work_ += units;
    if (work_ > limits_.work) exceeded(LimitKind::Work, limits_.work);
  }
  // The work of handling a value once: its elements, or its bytes.
  static uint64_t workOf(const Value& v) {
    if (v.is(Kind::String)) return v.str().size() / kBytesPerWorkUnit;
    if (v.is(Kind::Array)) return v.items().size();
    if (v.is(Kind::Object)) return v.map().size();
    return 0;
  }
  uint64_t workDone() const { return work_; }
  uint64_t iterationsDone() const { return iterations_; }

  // ---- what the tags keep ----
  NodeMemo& memo(MemoId id) { return memo_[id]; }
  Scope& variables() { return scope_; }
  Locals& locals() { return locals_; }
  BindingStack& pendingBindings() { return pending_; }
  Loops& loops() { return loops_; }
  Counters& counters() { return counters_; }
  Partials& partials() { return partials_; }
  const Value& data() const { return data_; }
  // The number of a name met while rendering.
  uint32_t nameSlot(std::string_view name);
  // Makes room in the variables for names numbered since (partials parsed).
  void fitNames() { scope_.resize(names_.size()); }

 private:
  friend struct DepthGuard;

  Flow renderTrimmed(std::span<const Node> nodes, bool trimNext, bool stopAtBranch);
  void renderOutput(const Node& node);
  Flow renderCapture(const Node& node);
  void renderRaw(const Node& node);
  static bool hasOutputNodesInNode(const Node& node);

  Value evaluateExpression(const Node& node);
  Value resolveName(uint32_t slot, std::string_view name, LookupCache* cache);
  Value applyFilter(const Value& input, const Node& filter);
  // What a filter receives for `input`: a range as the array of its integers.
  Value filterInput(const Value& input) { return input.is(Kind::Range) ? expandRange(input) : input; }
  Value expandRange(const Value& range);
  Value evaluateProperty(const Node& node);
  Value evaluateIndex(const Node& node);
  Value evaluateRange(const Node& node);
  Value evaluateComparison(const Node& node);
  Value evaluateLogical(const Node& node);
  Value compareLess(const Value& l, const Value& r, bool greater);
  Value comparisonError(const Value& l, const Value& r);

  [[noreturn, gnu::noinline]] void exceeded(LimitKind kind, uint64_t limit) const {
    throw LimitExceeded(kind, limit, limits_.isDefault(kind));
  }

  Arena& arena_;
  Value data_;
  OutputBuffer& output_;
  NameTable& names_;
  Limits limits_;
  NodeMemo* memo_ = nullptr;       // the memo table of the tree being rendered
  std::size_t captureFloor_ = 0;  // trimming never reaches below the running capture
  uint32_t depth_ = 0;
  uint64_t iterations_ = 0;
  uint64_t work_ = 0;

  Scope scope_;  // assigned and bound variables, by name number
  Locals locals_;
  BindingStack pending_;
  Loops loops_;
  Counters counters_;
  Partials partials_;
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

}  // namespace mervalt

// evaluation.cpp: turns expression nodes into Values: variables through the
// scopes, property and index access, ranges, comparisons, and/or, filters.
#include <cmath>

#include "filters/dispatch.h"
#include "render/renderer.h"

namespace mervalt {
namespace {

constexpr std::string_view kInvalidInteger = "Liquid error (line 1): invalid integer";

int64_t rangeBound(const Value& v) {
  switch (v.kind()) {
    case Kind::Integer: return v.asInt();
    case Kind::Float: return truncateToInt64(v.asFloat());
    case Kind::String: return laxParseInt(v.str());
    default: return 0;
  }
}

}  // namespace

Value Renderer::evaluateExpression(const Node& node) {
  chargeWork(1);
  switch (node.kind) {
    case NodeKind::Variable:
      return resolveVariable(node.variable.slot, node.variable.name, &memo_[node.variable.memo].lookup);
    case NodeKind::String:
    case NodeKind::Integer:
    case NodeKind::Float:
    case NodeKind::Boolean:
    case NodeKind::Nil:
    case NodeKind::Empty:
    case NodeKind::Blank: return node.literal.value;
    case NodeKind::Range: return evaluateRange(node);
    case NodeKind::Property: return evaluateProperty(node);
    case NodeKind::Index: return evaluateIndex(node);
    case NodeKind::Comparison: return evaluateComparison(node);
    case NodeKind::Logical: return evaluateLogical(node);
    case NodeKind::FilteredExpression:
      return node.children.empty() ? Value::nil() : evaluateFiltered(node.children);
    default: return Value::nil();
  }
}

Value Renderer::resolveName(uint32_t slot, std::string_view name, LookupCache* cache) {
  if (slot == NameTable::kTablerowloop && loops_.inTablerow()) return loops_.tablerowloopObject();
  if (slot == NameTable::kForloop && loops_.visible() != 0) return loops_.forloopObject(loops_.visible() - 1);
  if (const Value* v = locals_.find(slot)) return *v;
  if (const Value* v = scope_.find(slot)) return *v;
  if (std::optional<int64_t> counter = counters_.find(name)) return Value::integer(*counter);
  std::optional<Value> v = cache ? get(data_, name, *cache) : get(data_, name);
  return v.value_or(Value::nil());
}

Value Renderer::resolveVariable(std::string_view name) {
  int64_t slot = names_.find(name);
  if (slot >= 0) return resolveVariable(static_cast<uint32_t>(slot), name);
  // No template names it, so nothing can have bound it.
  if (std::optional<int64_t> counter = counters_.find(name)) return Value::integer(*counter);
  return get(data_, name).value_or(Value::nil());
}

Value Renderer::evaluateFiltered(std::span<const Node> chain) {
  Value v = evaluate(chain[0]);
  for (const Node& n : chain.subspan(1))
    if (n.kind == NodeKind::Filter) v = applyFilter(v, n);
  return v;
}

Value Renderer::applyFilter(const Value& input, const Node& filter) {
  // An unknown filter passes its input on, a range as its array too.
  Value in = filterInput(input);
  FilterFn fn = filterFunction(filter.filter.id);
  if (!fn) return in;
  Value out = fn(*this, in, filter.filterArgs());
  // Charged once the filter is done: one filter's own work is bounded by
  // the memory it may take.
  chargeWork(kFilterCallWork + (filter.filter.readsOneField ? 0 : workOf(in)) + workOf(out));
  return out;
}

Value Renderer::expandRange(const Value& range) {
  int64_t start = range.rangeStart(), end = range.rangeEnd();
  uint64_t count = end < start ? 0 : static_cast<uint64_t>(end) - static_cast<uint64_t>(start) + 1;
  // Every integer is one Value: the memory and the work are charged before
  // the first one is written. A count whose size does not fit a size (the
  // whole 64-bit span among them) is beyond any memory bound.
  if (count > SIZE_MAX / sizeof(Value) || (count == 0 && end >= start)) exceeded(LimitKind::Memory, limits_.memory);
  Value* items = arena_.allocArray<Value>(count);
  chargeWork(count);
  for (uint64_t i = 0; i < count; ++i) items[i] = Value::integer(start + static_cast<int64_t>(i));
  return Value::array({items, count});
}

Value Renderer::evaluateProperty(const Node& node) {
  if (node.children.empty()) return Value::nil();
  const Node& objNode = node.children[0];
  ForloopMember member = node.property.forloop;
  if (member != ForloopMember::None && objNode.kind == NodeKind::Variable &&
      objNode.variable.slot == NameTable::kForloop && loops_.visible() != 0)
    if (auto v = loops_.member(member)) return *v;
  Value obj = objNode.kind == NodeKind::Variable
                  ? resolveVariable(objNode.variable.slot, objNode.variable.name, &memo_[objNode.variable.memo].lookup)
                  : evaluateExpression(objNode);
  std::string_view m = node.property.member;
  if (obj.is(Kind::Object)) {
    const ObjectMap& map = obj.map();
    if (member == ForloopMember::Parentloop) {
      // Any integer here names a loop record; one that names none
      // (negative, or beyond the running loops) gives nil.
      const Value* idx = map.get("_parentloop_index");
      if (idx && idx->is(Kind::Integer))
        return idx->asInt() < 0 ? Value::nil() : loops_.forloopObject(static_cast<std::size_t>(idx->asInt()));
    }
    if (const Value* v = map.get(m, memo_[node.property.memo].lookup)) return *v;
    if (member == ForloopMember::First && !map.empty()) {
      Value* pair = arena_.allocArray<Value>(2);
      pair[0] = Value::string(map.keyAt(0));
      pair[1] = map.valueAt(0);
      return Value::array({pair, 2});
    }
    return m == "size" ? Value::integer(static_cast<int64_t>(map.size())) : Value::nil();
  }
  return get(obj, m).value_or(Value::nil());
}

Value Renderer::evaluateIndex(const Node& node) {
  if (node.children.size() < 2) return Value::nil();
  const Node& objNode = node.children[0];
  Value obj = evaluate(objNode);
  Value key = evaluate(node.children[1]);
  if (objNode.kind == NodeKind::Variable && objNode.variable.name.empty())
    return key.is(Kind::String) ? resolveVariable(key.str()) : Value::nil();
  if (key.is(Kind::Integer)) return getIndex(obj, key.asInt()).value_or(Value::nil());
  if (key.is(Kind::String)) return get(obj, key.str()).value_or(Value::nil());
  return Value::nil();
}

Value Renderer::evaluateRange(const Node& node) {
  if (node.children.size() < 2) return Value::nil();
  Value start = evaluate(node.children[0]);
  Value end = evaluate(node.children[1]);
  if (start.is(Kind::Float) && node.children[0].kind != NodeKind::Float) return Value::error(kInvalidInteger);
  if (end.is(Kind::Float) && node.children[1].kind != NodeKind::Float) return Value::error(kInvalidInteger);
  return Value::range(arena_, rangeBound(start), rangeBound(end));
}

Value Renderer::evaluateComparison(const Node& node) {
  if (node.children.size() < 2) return Value::boolean(false);
  Value l = evaluate(node.children[0]);
  Value r = evaluate(node.children[1]);
  chargeWork(workOf(l) + workOf(r));
  switch (node.op.op) {
    case Operator::Eq: return Value::boolean(eql(l, r));
    case Operator::Ne: return Value::boolean(!eql(l, r));
    case Operator::Lt: return compareLess(l, r, false);
    case Operator::Gt: return compareLess(l, r, true);
    case Operator::Le:
    case Operator::Ge:
      if (l.isNil() || r.isNil()) return Value::boolean(false);
      if (eql(l, r)) return Value::boolean(true);
      return compareLess(l, r, node.op.op == Operator::Ge);
    case Operator::Contains: return Value::boolean(contains(l, r));
    case Operator::And:
    case Operator::Or:
    case Operator::Unknown: return Value::boolean(false);
  }
  // Not reached: the switch names every value, but GCC wants a return here.
  return Value::boolean(false);
}

// `<` (or `>` when `greater`): numbers as doubles, strings bytewise; any other
// pair is the comparison error, which names the left kind and the right text.
Value Renderer::compareLess(const Value& l, const Value& r, bool greater) {
  if (l.isNil() || r.isNil()) return Value::boolean(false);
  if (l.isNumber()) {
    if (!r.isNumber()) return comparisonError(l, r);
    double a = l.is(Kind::Integer) ? static_cast<double>(l.asInt()) : l.asFloat();
    double b = r.is(Kind::Integer) ? static_cast<double>(r.asInt()) : r.asFloat();
    return Value::boolean(greater ? a > b : a < b);
  }
  if (l.is(Kind::String) && r.is(Kind::String)) {
    int c = l.str().compare(r.str());
    return Value::boolean(greater ? c > 0 : c < 0);
  }
  return comparisonError(l, r);
}

Value Renderer::comparisonError(const Value& l, const Value& r) {
  std::pmr::string& s = newText(arena_);
  s.append("Liquid error (templates/test line 1): comparison of ");
  s.append(kindName(l.kind()));
  s.append(" with ");
  appendDisplay(s, r);
  s.append(" failed");
  return Value::error(s);
}

Value Renderer::evaluateLogical(const Node& node) {
  if (node.children.size() < 2) return Value::boolean(false);
  // An empty operator text reads as "and".
  Operator op = node.op.op;
  bool left = isTruthy(evaluate(node.children[0]));
  if (op == Operator::Or) return Value::boolean(left || isTruthy(evaluate(node.children[1])));
  if (op == Operator::And || op == Operator::Eq) return Value::boolean(left && isTruthy(evaluate(node.children[1])));
  return Value::boolean(false);
}

std::optional<Value> Renderer::evaluateConditionWithInvalidOp(const Node& condition, std::string_view op) {
  if (condition.kind == NodeKind::Logical) return evaluateLogical(condition);
  if (!op.empty() && (op[0] == '&' || op[0] == '.' || op[0] == '|')) return evaluate(condition);
  return std::nullopt;
}

}  // namespace mervalt

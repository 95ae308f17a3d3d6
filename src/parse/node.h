// node.h: the syntax tree. A parsed template is an immutable tree of Nodes:
// nothing writes into a node once the parser has finished it, so one tree
// serves any number of renders at once. What a render learns about a node
// (where a lookup found a name, which partial a tag rendered) lives in the
// render's own memo table, at the number the node got when it was parsed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "data/value.h"

namespace mervalt {

enum class NodeKind : uint8_t {
  Root,
  Text,
  Output,
  Variable,
  String,
  Integer,
  Float,
  Boolean,
  Nil,
  Empty,
  Blank,
  Range,
  Filter,
  Property,
  Index,
  If,
  Unless,
  Elsif,
  Else,
  For,
  Assign,
  Capture,
  Case,
  When,
  Cycle,
  Increment,
  Decrement,
  Tablerow,
  Include,
  Render,
  Raw,
  Comment,
  InlineComment,
  Liquid,
  Echo,
  Break,
  Continue,
  Ifchanged,
  Doc,
  NamedArgument,
  Comparison,
  Logical,
  FilteredExpression,
};

// Expressions: what evaluates to a value.
inline bool isExpressionKind(NodeKind k) {
  return (k >= NodeKind::Variable && k <= NodeKind::Index) ||
         (k >= NodeKind::NamedArgument && k <= NodeKind::FilteredExpression);
}
// Literals: their value is ready when parsed.
inline bool isLiteralKind(NodeKind k) { return k >= NodeKind::String && k <= NodeKind::Blank; }

// A place in a template text: 1-based line and column, counted in bytes.
struct SourcePosition {
  uint32_t line = 0;
  uint32_t column = 0;
};

// The operator of a Comparison or Logical node.
enum class Operator : uint8_t { Eq, Ne, Lt, Gt, Le, Ge, Contains, And, Or, Unknown };

// The members of a forloop object that a running loop answers directly.
enum class ForloopMember : uint8_t { None, Index, Index0, First, Last, Length, Rindex, Rindex0, Name, Parentloop };

// A node's number in its tree's memo table; kNoMemo for nodes that keep none.
using MemoId = uint32_t;
inline constexpr MemoId kNoMemo = UINT32_MAX;

// A filter's number in the filter table; kUnknownFilter for a name that is
// not in it (such a filter passes its input through).
using FilterId = uint8_t;
inline constexpr FilterId kUnknownFilter = UINT8_MAX;

struct Node;

// ---- what each kind keeps besides its children ----

// Text, Raw: the text as written.
struct TextData {
  std::string_view content;
};
// Output, Echo (children: the expression, then its filters): whether the
// last filter writes straight into the output.
struct OutputData {
  bool lastFilterEmits;
};
// String, Integer, Float, Boolean, Nil, Empty, Blank: the value and the
// literal as written (a string's contents between the quotes).
struct LiteralData {
  Value value;
  std::string_view text;
};
// Variable: the name ("" for the scope itself, as in [key]) and its number.
struct VariableData {
  std::string_view name;
  uint32_t slot;
  MemoId memo;  // where the data lookup found the name
};
// Property (child: the object): the member name.
struct PropertyData {
  std::string_view member;
  MemoId memo;  // where the lookup found the member
  ForloopMember forloop;
};
// Filter: the name, its table entry and its arguments, positional and
// NamedArgument mixed, in written order.
struct FilterData {
  std::string_view name;
  const Node* args;
  uint32_t argCount;
  FilterId id;
  bool readsOneField;  // size, first, last: charged for their result only
};
// Comparison, Logical (children: left and right).
struct OperatorData {
  std::string_view text;
  Operator op;
};
// If, Unless, Elsif (children: the condition, the body, then the next
// branch): the token after the condition when it is not the tag's close,
// reported as an unknown operator.
struct ConditionData {
  std::string_view invalidOperator;
};
// For, Tablerow (children: the collection, NamedArgument parameters, the
// body, and for a for loop an Else): the loop variable.
struct LoopData {
  std::string_view variable;
  uint32_t slot;
  MemoId memo;  // for: where its offset: continue position lives
};
// Assign (children: the expression and its filters), Capture (children:
// the body): the variable set.
struct TargetData {
  std::string_view name;
  uint32_t slot;
};
// Cycle (children: the values): the group name when one is written.
struct CycleData {
  std::string_view group;
  uint32_t slot;  // the group's number when it names a variable
  MemoId memo;    // where a cycle of literals keeps its position
};
// Increment, Decrement: the counter.
struct CounterData {
  std::string_view name;
};
// Include, Render (children: the template name, then NamedArgument
// arguments).
struct InclusionData {
  uint32_t nameSlot;  // the name's number when it is written as a string
  MemoId memo;        // the other template found last
};
// NamedArgument (child: the value; none for a loop's `reversed`): the key,
// and for include/render `with`/`for` the alias written after `as`.
struct ArgumentData {
  std::string_view key;
  std::string_view alias;
  uint32_t slot;  // the number of the name it binds (the alias, or the key)
};

// One node. Nodes, their child lists and their texts live in the tree's
// arena (or point into the template text). Kinds not listed above keep
// nothing but their children.
struct Node {
  Node() : text{} {}

  std::span<const Node> children;
  union {
    TextData text;
    OutputData output;
    LiteralData literal;
    VariableData variable;
    PropertyData property;
    FilterData filter;
    OperatorData op;
    ConditionData condition;
    LoopData loop;
    TargetData target;
    CycleData cycle;
    CounterData counter;
    InclusionData inclusion;
    ArgumentData argument;
  };
  SourcePosition at;  // the opening delimiter of a tag or output; an expression's first token
  NodeKind kind = NodeKind::Root;
  bool trimLeft = false;      // opened with "{{-" or "{%-"
  bool trimRight = false;     // closed with "-}}" or "-%}"
  bool endTrimLeft = false;   // a block's end tag opened with "{%-"
  bool endTrimRight = false;  // a block's end tag closed with "-%}"

  std::span<const Node> filterArgs() const { return {filter.args, filter.argCount}; }
};

// A parsed template: its root and the size of the memo table a render of it
// needs.
struct Tree {
  const Node* root = nullptr;
  uint32_t memoCount = 0;
};

}  // namespace mervalt

// parser.h: the syntax tree and the recursive-descent parser that builds it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "render_limits.h"
#include "parse/lexer.h"
#include "parse/names.h"
#include "data/value.h"

namespace mervalt {

class Arena;
class Renderer;
struct Node;
using FilterFn = Value (*)(Renderer&, const Value& input, std::span<const Node> args);
using EmitFn = void (*)(Renderer&, const Value& input, std::span<const Node> args);

// Values are fixed; the renderer dispatches on them.
enum class NodeKind : uint8_t {
  Root = 0,
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
  Unused42,
  FilteredExpression,
};

// Expression kinds are Variable..Index and NamedArgument..FilteredExpression.
inline bool isExpressionKind(NodeKind k) {
  auto v = static_cast<uint8_t>(k);
  return (v >= 3 && v <= 14) || (v >= 39 && v <= 43);
}

// One node of the tree. Nodes, their child lists and their texts live in the
// call arena (or point into the template text), so the tree needs no
// destruction. Lists are finished arrays: a node is complete before its
// parent takes it.
struct Node {
  std::string_view text;       // main text (see NodeKind); literal text as written
  std::string_view name;       // Filter: filter name; include/render with/for: the `as` alias
  std::string_view op;         // Comparison: "==", "!=", "<>", "<", ">", "<=", ">=", "contains"; Logical: "and"/"or"
  std::string_view invalidOp;  // If/Elsif condition: text of the token after it, if not a tag close
  std::span<const Node> children;
  std::span<const Node> args;  // Filter arguments, positional and NamedArgument mixed
  Value constant;              // literal kinds (String..Blank): the value, computed once by the parser
  FilterFn filter = nullptr;   // Filter: the handler, looked up once by the parser; null if unknown
  EmitFn emit = nullptr;       // Output/Echo: the last filter's emitter, if it has one
  // Where an object lookup of this node's name found it last (Property: the
  // member; Variable: the name in the data; include/render: the template).
  mutable LookupCache cache;
  // The number of the name this node reads or binds (Variable, Assign,
  // Capture, For, Tablerow, Cycle group, NamedArgument key or `as` alias;
  // Include/Render: the template name when it is written as a string).
  uint32_t slot = 0;
  // What rendering worked out once for this node and keeps for the rest of
  // the call: For, its continue slot; Include/Render, the other template's
  // last parsed tree.
  mutable const void* memo = nullptr;
  // Property: which forloop member `text` names (ForloopMember), so that a
  // running loop answers it without building its object. Comparison and
  // Logical: the Operator of `op`. Filter: 1 when the filter reads one field
  // of its input whatever its size.
  uint8_t member = 0;
  NodeKind kind = NodeKind::Root;
  bool trimLeft = false;
  bool trimRight = false;
  bool endTrimLeft = false;
  bool endTrimRight = false;
};

// A place in a template text: 1-based line and column, counted in bytes.
struct SourcePosition {
  uint32_t line = 0;
  uint32_t column = 0;
};

// A template that does not parse; the call fails. `message` is for the
// template's author, `line` and `column` say where it applies, and `opened`
// where the block it concerns begins (what() adds "(opened at L:C)"). The
// positions are in the template that failed: the main one, or the partial
// named by `partial` when an include or render tag parsed it.
struct ParseError : std::runtime_error {
  ParseError(const std::string& message, SourcePosition at, std::optional<SourcePosition> opened = {});
  std::string message;
  uint32_t line;
  uint32_t column;
  std::optional<SourcePosition> opened;
  std::string partial;
};

// The operator of a Comparison or Logical node, read once from its text.
enum class Operator : uint8_t { Eq, Ne, Lt, Gt, Le, Ge, Contains, And, Or, Unknown };

// The operator a comparison or and/or text names; Eq for an empty text.
Operator operatorOf(std::string_view op);

// The members of a forloop object that a running loop answers directly.
enum class ForloopMember : uint8_t {
  None,
  Index,
  Index0,
  First,
  Last,
  Length,
  Rindex,
  Rindex0,
  Name,
  Parentloop,
};

// Parses `source` into a Root node allocated in `arena`, numbering its names
// in `names`. Throws ParseError (malformed template or nesting beyond
// kMaxParseDepth) or std::bad_alloc. The tree points into `source` and into
// `arena`; both must outlive it.
const Node& parseTemplate(std::string_view source, Arena& arena, NameTable& names);
// The same with a table of its own, for a tree that is only inspected.
const Node& parseTemplate(std::string_view source, Arena& arena);

}  // namespace mervalt

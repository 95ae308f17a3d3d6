// parser.cpp: the recursive-descent parser's driver, its failures, the
// template pieces and the expressions.
#include "parse/parser.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "filters/filter_table.h"
#include "parse/parse_messages.h"
#include "parse/parser_impl.h"

namespace mervalt {
namespace {

// Literal numbers keep their text; their values are read once here, and a
// literal out of range reads as 0.
int64_t readInteger(std::string_view text) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return ec == std::errc() && end == text.data() + text.size() ? v : 0;
}

double readFloat(std::string_view text) {
  double v = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return ec == std::errc() && end == text.data() + text.size() ? v : 0.0;
}

ForloopMember forloopMember(std::string_view m) {
  static constexpr std::pair<std::string_view, ForloopMember> kMembers[] = {
      {"index", ForloopMember::Index},   {"index0", ForloopMember::Index0},
      {"first", ForloopMember::First},   {"last", ForloopMember::Last},
      {"length", ForloopMember::Length}, {"rindex", ForloopMember::Rindex},
      {"rindex0", ForloopMember::Rindex0}, {"name", ForloopMember::Name},
      {"parentloop", ForloopMember::Parentloop}};
  for (const auto& [name, member] : kMembers)
    if (m == name) return member;
  return ForloopMember::None;
}

}  // namespace

namespace detail {

// ---- failures ----

// At the end of the text the failure is about the output or tag left open.
void Parser::fail(const Token& at, const std::string& message, std::optional<SourcePosition> opened) const {
  bool atEnd = at.kind == K::EndOfInput || at.problem == ScanProblem::EndInOutput ||
               at.problem == ScanProblem::EndInTag;
  if (const Token* opener = atEnd ? unclosedOpener(toks_) : nullptr) failNeverClosed(*opener);
  throw ParseError(message, {at.line, at.column}, opened);
}

void Parser::failUnexpected() const { fail(cur(), "unexpected " + describeToken(cur())); }

void Parser::failNeverClosed(const Token& opener) const {
  throw ParseError(quoteForMessage(opener.text) + " is never closed", {opener.line, opener.column});
}

// "expected WHAT after PREVIOUS, found CURRENT"
void Parser::failExpected(std::string_view what) const {
  std::string message(what);
  if (pos_ > 0) message += " after " + describeToken(toks_[pos_ - 1]);
  fail(cur(), "expected " + message + ", found " + describeToken(cur()));
}

void Parser::failExpected(K k) const {
  switch (k) {
    case K::RParen: failExpected("')'");
    case K::RBracket: failExpected("']'");
    case K::KwIn: failExpected("'in'");
    case K::Colon: failExpected("':'");
    case K::Equals: failExpected("'='");
    default: failExpected("another token");
  }
}

// An expression was required; a closer means it was left out.
void Parser::failInExpression() const {
  K k = kind();
  if (isTagClose(k) || isOutputClose(k)) fail(cur(), "expected an expression before " + describeToken(cur()));
  fail(cur(), "unexpected " + describeToken(cur()) + " in expression");
}

// The current tag (the name after the last opener) cannot go on here.
void Parser::failInTag() const {
  std::string_view name = "?";
  for (std::size_t i = pos_; i-- > 0;) {
    if (isTagOpen(toks_[i].kind)) {
      name = toks_[i + 1].kind == K::Hash ? "#" : toks_[i + 1].text;
      break;
    }
  }
  fail(cur(), "unexpected " + describeToken(cur()) + " in " + quoteForMessage(name) + " tag");
}

// The current token is the name after a tag opener.
void Parser::failMisplacedTag() const {
  if (kind() == K::EndOfInput) failUnexpected();
  ParseProblem problem = misplacedTag(toks_, pos_);
  fail(cur(), problem.message, problem.opened);
}

// The current token is a tag opener directly inside a case.
void Parser::failInCase() const {
  const Token& name = toks_[pos_ + 1];
  std::optional<SourcePosition> opened;
  if (std::optional<OpenBlock> block = innermostOpenBlock(toks_, pos_)) opened = block->at;
  fail(name, describeToken(name) + " is not allowed directly in 'case'", opened);
}

void Parser::failTooDeep() const {
  fail(cur(), "blocks and expressions nest deeper than " + std::to_string(kMaxParseDepth) + " levels");
}

// ---- template pieces ----

// template -> { Text | output | tag }
void Parser::parseTopLevel() {
  while (kind() != K::EndOfInput) {
    if (parsePlainPiece()) continue;
    if (!isTagOpen(kind())) failUnexpected();
    parseTag();
  }
}

// Text and outputs, which every body may hold; false at any other token.
bool Parser::parsePlainPiece() {
  K k = kind();
  if (k == K::Text) {
    const Token& t = take();
    openText(NodeKind::Text, positionOf(t), t.text);
    return true;
  }
  if (isOutputOpen(k)) {
    parseOutput();
    return true;
  }
  return false;
}

void Parser::setEmitter(std::size_t self) {
  std::span<const Node> chain = stack_[self].children;
  bool emits = chain.size() > 1 && chain.back().kind == NodeKind::Filter && filterEmits(chain.back().filter.id);
  stack_[self].output = OutputData{emits};
}

// output -> "{{" [ primary { "|" filter } ] junk* "}}"
void Parser::parseOutput() {
  const Token& opener = take();
  bool trimLeft = opener.kind == K::OutputOpenTrim;
  std::size_t self = open(NodeKind::Output, positionOf(opener));
  if (isOutputClose(kind())) {
    pushString(here(), {});
  } else {
    parsePrimary();
    while (kind() == K::Pipe) {
      take();
      parseFilter();
    }
  }
  while (!isOutputClose(kind()) && kind() != K::EndOfInput) take();
  if (!isOutputClose(kind())) failNeverClosed(opener);
  close(self);
  setEmitter(self);
  at(self).trimLeft = trimLeft;
  at(self).trimRight = take().kind == K::OutputCloseTrim;
}

// ---- expressions ----

// primary -> literal | variable | "(" parenthesized ")"
void Parser::parsePrimary() {
  switch (kind()) {
    case K::String:
    case K::Integer:
    case K::Float:
    case K::Nil:
    case K::True:
    case K::False: return pushLiteral(take());
    case K::Identifier:
    case K::LBracket:
    case K::KwIncrement:
    case K::KwDecrement:
    case K::KwCycle:
    case K::KwTablerow:
    case K::KwInclude:
    case K::KwRender:
    case K::KwLiquid:
    case K::KwEcho:
    case K::KwIfchanged: return parseVariable();
    case K::Blank:
    case K::Empty: {
      K next = kindAt(1);
      if (next == K::LBracket || next == K::Dot) return parseVariable();  // a variable named blank/empty
      return pushLiteral(take());
    }
    case K::LParen: return parseParenthesized();
    default: failInExpression();
  }
}

void Parser::pushLiteral(const Token& t) {
  SourcePosition where = positionOf(t);
  switch (t.kind) {
    case K::String: return pushString(where, t.text);
    case K::Integer: return pushLiteral(NodeKind::Integer, where, t.text, Value::integer(readInteger(t.text)));
    case K::Float: return pushLiteral(NodeKind::Float, where, t.text, Value::floating(readFloat(t.text)));
    case K::Nil: return pushLiteral(NodeKind::Nil, where, {}, Value::nil());
    case K::True:
    case K::False: return pushLiteral(NodeKind::Boolean, where, t.text, Value::boolean(t.kind == K::True));
    case K::Blank: return pushLiteral(NodeKind::Blank, where, {}, Value::blank());
    case K::Empty: return pushLiteral(NodeKind::Empty, where, {}, Value::empty());
    default: failInExpression();
  }
}

// parenthesized -> primary ".." primary
//               | primary { "|" filter } [ cmp primary ] { and|or primary [ cmp primary ] }
// Inside parentheses and/or group from the left.
void Parser::parseParenthesized() {
  take();
  Level level(*this);
  std::size_t first = stack_.size();
  parsePrimary();
  if (kind() == K::DotDot) {
    take();
    parsePrimary();
    expect(K::RParen);
    return joinTop(NodeKind::Range);
  }
  if (kind() == K::Pipe) {
    open(NodeKind::FilteredExpression, stack_[first].at);
    std::rotate(stack_.begin() + static_cast<std::ptrdiff_t>(first), stack_.end() - 1, stack_.end());
    while (kind() == K::Pipe) {
      take();
      parseFilter();
    }
    close(first);
  }
  if (isComparison(kind())) {
    std::string_view op = take().text;
    parsePrimary();
    joinOperator(NodeKind::Comparison, op);
  }
  int held = 0;  // every and/or nests the tree one level deeper
  while (isAndOr(kind())) {
    std::string_view op = take().text;
    enterLevel();
    ++held;
    parsePrimary();
    if (isComparison(kind())) {
      std::string_view cmp = take().text;
      parsePrimary();
      joinOperator(NodeKind::Comparison, cmp);
    }
    joinOperator(NodeKind::Logical, op);
  }
  depth_ -= held;
  expect(K::RParen);
}

// variable -> ( name | "[" ( String | logical ) "]" ) { "." name | "=>" name | "[" key "]" }
void Parser::parseVariable() {
  int held = 0;  // every member access nests the tree one level deeper
  auto pushVariable = [&](SourcePosition where, std::string_view name) {
    open(NodeKind::Variable, where);
    top().variable = VariableData{name, number(name), newMemo()};
  };
  if (kind() == K::LBracket) {
    SourcePosition where = here();
    take();
    enterLevel();
    ++held;
    if (kind() == K::String) {
      pushVariable(where, take().text);
    } else {
      pushVariable(where, {});  // a key looked up in the scope itself
      parseLogical();
      joinTop(NodeKind::Index);
    }
    expect(K::RBracket);
  } else {
    SourcePosition where = here();
    pushVariable(where, take().text);
  }
  for (;;) {
    K k = kind();
    if (k == K::Dot || (k == K::Equals && kindAt(1) == K::Gt)) {
      take();
      if (k == K::Equals) take();
      if (kind() != K::Identifier) failExpected("a property name");
      enterLevel();
      ++held;
      std::string_view member = take().text;
      wrapTop(NodeKind::Property);
      top().property = PropertyData{member, newMemo(), forloopMember(member)};
    } else if (k == K::LBracket) {
      take();
      enterLevel();
      ++held;
      if (kind() == K::String) {
        SourcePosition where = here();
        pushString(where, take().text);
      } else {
        parseLogical();
      }
      joinTop(NodeKind::Index);
      expect(K::RBracket);
    } else {
      break;
    }
  }
  depth_ -= held;
}

// filter -> name junk* [ ":" arg junk* { "," arg junk* } ]   (the "|" is taken)
void Parser::parseFilter() {
  if (kind() != K::Identifier) failExpected("a filter name");
  std::size_t self = open(NodeKind::Filter, here());
  std::string_view name = take().text;
  // size, first and last read one field of their input whatever its size;
  // the renderer charges the other filters for their input's size.
  bool oneField = name == "size" || name == "first" || name == "last";
  at(self).filter = FilterData{name, nullptr, 0, findFilterId(name), oneField};
  skipFilterJunk(K::Colon);
  if (kind() != K::Colon) return;
  take();
  parseFilterArg();
  for (;;) {
    skipFilterJunk(K::Comma);
    if (kind() != K::Comma) break;
    take();
    parseFilterArg();
  }
  std::span<const Node> args = popAbove(self);
  at(self).filter.args = args.data();
  at(self).filter.argCount = static_cast<uint32_t>(args.size());
}

// Skips tokens up to the end of the filter or up to `stop`.
void Parser::skipFilterJunk(K stop) {
  for (;;) {
    K k = kind();
    if (isOutputClose(k) || isTagClose(k) || k == K::Pipe || k == stop || k == K::RParen ||
        k == K::EndOfInput)
      return;
    take();
  }
}

// arg -> name ":" primary | primary
void Parser::parseFilterArg() {
  Level level(*this);
  if (kind() == K::Identifier && kindAt(1) == K::Colon) {
    SourcePosition where = here();
    std::string_view key = take().text;
    take();
    parsePrimary();
    std::size_t arg = wrapTop(NodeKind::NamedArgument);
    at(arg).at = where;
    at(arg).argument = ArgumentData{key, {}, 0};
    return;
  }
  parsePrimary();
}

// logical -> primary [ cmp primary ] [ (and|or) logical ]   (groups from the right)
void Parser::parseLogical() {
  parsePrimary();
  if (isComparison(kind())) {
    std::string_view op = take().text;
    parsePrimary();
    joinOperator(NodeKind::Comparison, op);
  }
  if (!isAndOr(kind())) return;
  std::string_view op = take().text;
  Level level(*this);
  parseLogical();
  joinOperator(NodeKind::Logical, op);
}

}  // namespace detail

Operator operatorOf(std::string_view op) {
  static constexpr std::pair<std::string_view, Operator> kOperators[] = {
      {"", Operator::Eq},  {"==", Operator::Eq}, {"!=", Operator::Ne}, {"<>", Operator::Ne},
      {"<", Operator::Lt}, {">", Operator::Gt},  {"<=", Operator::Le}, {">=", Operator::Ge},
      {"contains", Operator::Contains}, {"and", Operator::And}, {"or", Operator::Or}};
  for (const auto& [text, code] : kOperators)
    if (op == text) return code;
  return Operator::Unknown;
}

Tree parseTemplate(std::string_view source, Arena& arena, NameTable& names) {
  // The tokens and the work stack take memory the thread already holds, and
  // give it back when the parse is done.
  Arena scratch(arena.upstream(), source.size() * 2 + 4096);
  detail::Parser parser(arena, scratch, names);
  return parser.parseAll(source);
}

}  // namespace mervalt

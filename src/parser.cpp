// parser.cpp: the recursive-descent parser: template pieces, expressions,
// block tags, simple tags and the rewrite of the liquid tag.
#include "parser.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "arena.h"
#include "filters/dispatch.h"
#include "filters/filters.h"
#include "parse_messages.h"

namespace mervalt {
namespace {

using K = TokenKind;

bool isTagOpen(K k) { return k == K::TagOpen || k == K::TagOpenTrim; }
bool isTagClose(K k) { return k == K::TagClose || k == K::TagCloseTrim; }
bool isOutputOpen(K k) { return k == K::OutputOpen || k == K::OutputOpenTrim; }
bool isOutputClose(K k) { return k == K::OutputClose || k == K::OutputCloseTrim; }
bool isComparison(K k) { return (k >= K::Eq && k <= K::Ge) || k == K::KwContains; }
bool isAndOr(K k) { return k == K::KwAnd || k == K::KwOr; }

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

bool isStatementSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Calls `f` with each statement of a liquid tag body: every line stripped of
// spaces, tabs and carriage returns, except blank lines and "#" comments.
template <class F>
void forEachLiquidStatement(std::string_view body, F f) {
  while (!body.empty()) {
    std::size_t nl = body.find('\n');
    std::string_view line = body.substr(0, nl);
    body = nl == std::string_view::npos ? std::string_view() : body.substr(nl + 1);
    while (!line.empty() && isStatementSpace(line.front())) line.remove_prefix(1);
    while (!line.empty() && isStatementSpace(line.back())) line.remove_suffix(1);
    if (!line.empty() && line.front() != '#') f(line);
  }
}

// Every parse function leaves the node it parsed on top of a shared work
// stack. A node under construction sits on that stack with its children
// pushed above it; `close` copies them into the arena as its child list.
// Nodes are therefore never held in the frames of the recursive functions,
// which keeps those frames small (see kMaxParseDepth), and a node refers to
// the stack only by index, since pushing may move the stack.
class Parser {
 public:
  Parser(Arena& arena, NameTable& names) : arena_(arena), names_(names) {}

  const Node& parseAll(std::string_view source) {
    std::vector<Token> tokens = scanTemplate(source);
    toks_ = tokens;
    pos_ = 0;
    stack_.reserve(64);
    std::size_t root = open(NodeKind::Root);
    parseTopLevel();
    close(root);
    return *arena_.make<Node>(stack_[root]);
  }

 private:
  // One level of nesting for the lifetime of a scope.
  class Level {
   public:
    explicit Level(Parser& p) : p_(p) { p_.enterLevel(); }
    ~Level() { --p_.depth_; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

   private:
    Parser& p_;
  };

  void enterLevel() {
    if (depth_ >= kMaxParseDepth) failTooDeep();
    ++depth_;
  }

  // Token access. The token list always ends with EndOfInput, and taking
  // that last token leaves the position on it.
  const Token& cur() const { return toks_[pos_]; }
  K kind() const { return toks_[pos_].kind; }
  K kindAt(std::size_t ahead) const {
    std::size_t i = pos_ + ahead;
    return i < toks_.size() ? toks_[i].kind : K::EndOfInput;
  }
  const Token& take() {
    const Token& t = toks_[pos_];
    if (pos_ + 1 < toks_.size()) ++pos_;
    return t;
  }
  void expect(K k) {
    if (kind() != k) failExpected(k);
    take();
  }

  // ---- failures ----
  // Each throws ParseError with a message about the current token (or the
  // output or tag that the text ends inside of). Out of line, so that the
  // recursive parse functions keep small frames.
  [[noreturn]] void fail(const Token& at, const std::string& message,
                         std::optional<SourcePosition> opened = {}) const;
  [[noreturn]] void failUnexpected() const;
  [[noreturn]] void failNeverClosed(const Token& opener) const;
  [[noreturn]] void failExpected(std::string_view what) const;
  [[noreturn]] void failExpected(K k) const;
  [[noreturn]] void failInExpression() const;
  [[noreturn]] void failInTag() const;
  [[noreturn]] void failMisplacedTag() const;
  [[noreturn]] void failInCase() const;
  [[noreturn]] void failTooDeep() const;

  // ---- the work stack ----
  Node& at(std::size_t i) { return stack_[i]; }
  Node& top() { return stack_.back(); }
  // Pushes a new node and returns its index.
  std::size_t open(NodeKind kind, std::string_view text = {}) {
    Node& n = stack_.emplace_back();
    n.kind = kind;
    n.text = text;
    return stack_.size() - 1;
  }
  void pushConstant(NodeKind kind, std::string_view text, Value value) {
    open(kind, text);
    top().constant = value;
  }
  void pushString(std::string_view text) { pushConstant(NodeKind::String, text, Value::string(text)); }
  [[gnu::noinline]] void pushLiteral(const Token& t);
  // The nodes above `self` become its children (or, for a filter, its args).
  std::span<const Node> popAbove(std::size_t self) {
    std::span<const Node> pending(stack_.data() + self + 1, stack_.size() - self - 1);
    std::span<const Node> list = arena_.copyArray<Node>(pending);
    stack_.resize(self + 1);
    return list;
  }
  void close(std::size_t self) { stack_[self].children = popAbove(self); }
  // An output whose last filter can write straight into the output.
  void setEmitter(std::size_t self) {
    std::span<const Node> chain = stack_[self].children;
    if (chain.size() > 1 && chain.back().kind == NodeKind::Filter && chain.back().filter)
      stack_[self].emit = findEmitter(chain.back().name);
  }
  // Numbers the name that node `i` reads or binds (its text).
  void numberName(std::size_t i) { stack_[i].slot = names_.intern(stack_[i].text); }
  // The top node becomes the only child of a new node of `kind`.
  void wrapTop(NodeKind kind, std::string_view text) {
    std::size_t first = stack_.size() - 1;
    open(kind, text);
    std::swap(stack_[first], stack_[first + 1]);
    close(first);
  }
  // The nodes from `first` up become the children of a new node of `kind`.
  void collapse(std::size_t first, NodeKind kind, std::string_view op = {}) {
    open(kind);
    std::rotate(stack_.begin() + static_cast<std::ptrdiff_t>(first), stack_.end() - 1, stack_.end());
    stack_[first].op = op;
    close(first);
  }
  // The top two nodes become the children of a new node of `kind`.
  void joinTop(NodeKind kind, std::string_view op) {
    collapse(stack_.size() - 2, kind, op);
    top().member = static_cast<uint8_t>(operatorOf(op));
  }

  // Closing a tag: the close must come now, or after any junk.
  void expectClose(std::size_t self) {
    if (!isTagClose(kind())) failInTag();
    at(self).trimRight = take().kind == K::TagCloseTrim;
  }
  bool skipToClose() {
    while (!isTagClose(kind())) {
      if (kind() == K::EndOfInput) failUnexpected();
      take();
    }
    return take().kind == K::TagCloseTrim;
  }
  // An end tag directly followed by its close: the opener's and the close's trim flags.
  std::pair<bool, bool> takeEndTag() {
    bool left = take().kind == K::TagOpenTrim;
    take();
    if (!isTagClose(kind())) failInTag();
    return {left, take().kind == K::TagCloseTrim};
  }

  void parseTopLevel();
  bool parsePlainPiece();
  void parseOutput();

  void parsePrimary();
  void parseParenthesized();
  void parseVariable();
  void parseFilter();
  void parseFilterArg();
  void parseLogical();
  void skipFilterJunk(K stop);

  void parseTag();
  void parseCondition(std::size_t owner, bool strict);
  void parseIf(NodeKind kind);
  void parseIfBody(std::size_t head, K endKeyword);
  void parseBranch(std::size_t head, K endKeyword);
  void parseBodyUntil(std::size_t head, K endKeyword, bool allowElse);
  void parseLoopElse(std::size_t head, K endKeyword);
  void parseCase();
  void parseCaseBody(std::size_t self);
  void parseWhen();
  void parseCaseElse();
  void parseWhenBody();
  void parseFor();
  void parseTablerow();
  void parseLoopParameter(bool forLoop);
  void parseCapture();
  void parseIfchanged();
  void parseComment();
  void parseDoc();
  void parseRaw();

  void parseAssign();
  void parseEcho();
  void parseCycle();
  void parseNamed(NodeKind kind);
  void parseBare(NodeKind kind);
  void parseIncludeOrRender(NodeKind kind);
  void parseLiquid();
  std::string_view rewriteLiquidBody(std::string_view body);
  [[noreturn]] static void relocateToBody(const ParseError& e, const Token& body);

  Arena& arena_;
  NameTable& names_;
  std::span<const Token> toks_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::vector<Node> stack_;
};

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
    open(NodeKind::Text, take().text);
    return true;
  }
  if (isOutputOpen(k)) {
    parseOutput();
    return true;
  }
  return false;
}

// output -> "{{" [ primary { "|" filter } ] junk* "}}"
void Parser::parseOutput() {
  const Token& opener = take();
  bool trimLeft = opener.kind == K::OutputOpenTrim;
  std::size_t self = open(NodeKind::Output);
  if (isOutputClose(kind())) {
    pushString({});
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
  switch (t.kind) {
    case K::String: return pushString(t.text);
    case K::Integer: return pushConstant(NodeKind::Integer, t.text, Value::integer(readInteger(t.text)));
    case K::Float: return pushConstant(NodeKind::Float, t.text, Value::floating(readFloat(t.text)));
    case K::Nil: return pushConstant(NodeKind::Nil, {}, Value::nil());
    case K::True:
    case K::False: return pushConstant(NodeKind::Boolean, t.text, Value::boolean(t.kind == K::True));
    case K::Blank: return pushConstant(NodeKind::Blank, {}, Value::blank());
    case K::Empty: return pushConstant(NodeKind::Empty, {}, Value::empty());
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
    return joinTop(NodeKind::Range, {});
  }
  if (kind() == K::Pipe) {
    while (kind() == K::Pipe) {
      take();
      parseFilter();
    }
    collapse(first, NodeKind::FilteredExpression);
  }
  if (isComparison(kind())) {
    std::string_view op = take().text;
    parsePrimary();
    joinTop(NodeKind::Comparison, op);
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
      joinTop(NodeKind::Comparison, cmp);
    }
    joinTop(NodeKind::Logical, op);
  }
  depth_ -= held;
  expect(K::RParen);
}

// variable -> ( name | "[" ( String | logical ) "]" ) { "." name | "=>" name | "[" key "]" }
void Parser::parseVariable() {
  int held = 0;  // every member access nests the tree one level deeper
  if (kind() == K::LBracket) {
    take();
    enterLevel();
    ++held;
    if (kind() == K::String) {
      numberName(open(NodeKind::Variable, take().text));
    } else {
      open(NodeKind::Variable);  // a key looked up in the scope itself
      parseLogical();
      joinTop(NodeKind::Index, {});
    }
    expect(K::RBracket);
  } else {
    numberName(open(NodeKind::Variable, take().text));
  }
  for (;;) {
    K k = kind();
    if (k == K::Dot || (k == K::Equals && kindAt(1) == K::Gt)) {
      take();
      if (k == K::Equals) take();
      if (kind() != K::Identifier) failExpected("a property name");
      enterLevel();
      ++held;
      wrapTop(NodeKind::Property, take().text);
      top().member = static_cast<uint8_t>(forloopMember(top().text));
    } else if (k == K::LBracket) {
      take();
      enterLevel();
      ++held;
      if (kind() == K::String)
        pushString(take().text);
      else
        parseLogical();
      joinTop(NodeKind::Index, {});
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
  std::size_t self = open(NodeKind::Filter);
  std::string_view name = take().text;
  at(self).name = name;
  at(self).filter = findFilter(name);
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
  at(self).args = popAbove(self);
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
    std::string_view key = take().text;
    take();
    parsePrimary();
    return wrapTop(NodeKind::NamedArgument, key);
  }
  parsePrimary();
}

// logical -> primary [ cmp primary ] [ (and|or) logical ]   (groups from the right)
void Parser::parseLogical() {
  parsePrimary();
  if (isComparison(kind())) {
    std::string_view op = take().text;
    parsePrimary();
    joinTop(NodeKind::Comparison, op);
  }
  if (!isAndOr(kind())) return;
  std::string_view op = take().text;
  Level level(*this);
  parseLogical();
  joinTop(NodeKind::Logical, op);
}

// ---- tags ----

// Each handler takes the tag name and pushes exactly one node.
void Parser::parseTag() {
  bool trimLeft = take().kind == K::TagOpenTrim;
  std::size_t self = stack_.size();
  switch (kind()) {
    case K::KwIf: parseIf(NodeKind::If); break;
    case K::KwUnless: parseIf(NodeKind::Unless); break;
    case K::KwCase: parseCase(); break;
    case K::KwFor: parseFor(); break;
    case K::KwTablerow: parseTablerow(); break;
    case K::KwCapture: parseCapture(); break;
    case K::KwIfchanged: parseIfchanged(); break;
    case K::KwComment: parseComment(); break;
    case K::KwDoc: parseDoc(); break;
    case K::KwRaw: parseRaw(); break;
    case K::KwAssign: parseAssign(); break;
    case K::KwEcho: parseEcho(); break;
    case K::KwCycle: parseCycle(); break;
    case K::KwIncrement: parseNamed(NodeKind::Increment); break;
    case K::KwDecrement: parseNamed(NodeKind::Decrement); break;
    case K::KwBreak: parseBare(NodeKind::Break); break;
    case K::KwContinue: parseBare(NodeKind::Continue); break;
    case K::Hash: parseBare(NodeKind::InlineComment); break;
    case K::KwInclude: parseIncludeOrRender(NodeKind::Include); break;
    case K::KwRender: parseIncludeOrRender(NodeKind::Render); break;
    case K::KwLiquid: parseLiquid(); break;
    default: failMisplacedTag();  // unknown names, misplaced else/when/end tags, "{% %}"
  }
  at(self).trimLeft = trimLeft;
}

// The condition of if/elsif/unless and the tag close after it. In if and
// elsif a token other than the close is kept as the condition's invalid
// operator (reported when rendering) and skipped with everything after it;
// `strict` (unless) requires the close right away.
void Parser::parseCondition(std::size_t owner, bool strict) {
  parseLogical();
  if (isTagClose(kind())) {
    at(owner).trimRight = take().kind == K::TagCloseTrim;
    return;
  }
  if (strict) failInTag();
  top().invalidOp = cur().text;
  at(owner).trimRight = skipToClose();
}

// if -> condition body [ elsif... | else... ] endif   (unless alike)
void Parser::parseIf(NodeKind kind) {
  take();
  Level level(*this);
  std::size_t self = open(kind);
  parseCondition(self, kind == NodeKind::Unless);
  parseIfBody(self, kind == NodeKind::If ? K::KwEndif : K::KwEndunless);
  close(self);
}

// Body of an if/unless chain up to its end tag; an elsif or else takes the
// rest of the chain into itself. The end tag's flags go to the head node.
void Parser::parseIfBody(std::size_t head, K endKeyword) {
  for (;;) {
    if (parsePlainPiece()) continue;
    if (!isTagOpen(kind())) return;  // unterminated: the block ends here
    K name = kindAt(1);
    if (name == endKeyword) {
      auto [left, right] = takeEndTag();
      at(head).endTrimLeft = left;
      at(head).endTrimRight = right;
      return;
    }
    if (name == K::KwElsif || name == K::KwElse) return parseBranch(head, endKeyword);
    parseTag();
  }
}

// elsif -> condition body...; else -> junk* body...
void Parser::parseBranch(std::size_t head, K endKeyword) {
  bool trimLeft = take().kind == K::TagOpenTrim;
  Level level(*this);
  bool isElsif = take().kind == K::KwElsif;
  std::size_t self = open(isElsif ? NodeKind::Elsif : NodeKind::Else);
  at(self).trimLeft = trimLeft;
  if (isElsif)
    parseCondition(self, false);
  else
    at(self).trimRight = skipToClose();
  parseIfBody(head, endKeyword);
  close(self);
}

// Body of for, tablerow, capture and ifchanged up to the end tag. Only the
// end tag's right flag is kept, on the head node.
void Parser::parseBodyUntil(std::size_t head, K endKeyword, bool allowElse) {
  for (;;) {
    if (parsePlainPiece()) continue;
    if (!isTagOpen(kind())) return;
    K name = kindAt(1);
    if (allowElse && name == K::KwElse) return parseLoopElse(head, endKeyword);
    if (name == endKeyword) {
      at(head).endTrimRight = takeEndTag().second;
      return;
    }
    parseTag();
  }
}

// The else of a for loop; it may hold a further else.
void Parser::parseLoopElse(std::size_t head, K endKeyword) {
  take();
  take();
  std::size_t self = open(NodeKind::Else);
  expectClose(self);
  Level level(*this);
  parseBodyUntil(head, endKeyword, true);
  close(self);
}

// case -> primary junk* close { Text | when | else } endcase
void Parser::parseCase() {
  take();
  Level level(*this);
  std::size_t self = open(NodeKind::Case);
  parsePrimary();
  while (!isTagClose(kind()) && kind() != K::EndOfInput) take();
  expectClose(self);
  parseCaseBody(self);
  close(self);
}

void Parser::parseCaseBody(std::size_t self) {
  for (;;) {
    K k = kind();
    if (k == K::Text) {  // text before the first when renders nothing
      take();
      continue;
    }
    if (!isTagOpen(k)) return;
    K name = kindAt(1);
    if (name == K::KwWhen) {
      parseWhen();
    } else if (name == K::KwElse) {
      parseCaseElse();
    } else if (name == K::KwEndcase) {
      auto [left, right] = takeEndTag();
      at(self).endTrimLeft = left;
      at(self).endTrimRight = right;
      return;
    } else {
      failInCase();
    }
  }
}

// when -> primary { ("," | or) [or] primary } junk* close body...
void Parser::parseWhen() {
  bool trimLeft = take().kind == K::TagOpenTrim;
  take();
  std::size_t self = open(NodeKind::When);
  at(self).trimLeft = trimLeft;
  for (;;) {
    parsePrimary();
    K k = kind();
    if (k != K::Comma && k != K::KwOr) break;
    take();
    if (kind() == K::KwOr) take();
    if (isTagClose(kind())) break;
  }
  at(self).trimRight = skipToClose();
  parseWhenBody();
  close(self);
}

void Parser::parseCaseElse() {
  bool trimLeft = take().kind == K::TagOpenTrim;
  take();
  std::size_t self = open(NodeKind::Else);
  at(self).trimLeft = trimLeft;
  expectClose(self);
  parseWhenBody();
  close(self);
}

void Parser::parseWhenBody() {
  for (;;) {
    if (parsePlainPiece()) continue;
    if (!isTagOpen(kind())) return;
    K name = kindAt(1);
    if (name == K::KwElse || name == K::KwWhen || name == K::KwEndcase) return;
    parseTag();
  }
}

// for -> name in logical [","] { param [","] } close body... [else body...] endfor
void Parser::parseFor() {
  take();
  Level level(*this);
  std::size_t self = open(NodeKind::For);
  if (kind() != K::Identifier) failExpected("a loop variable");
  at(self).text = take().text;
  numberName(self);
  expect(K::KwIn);
  parseLogical();
  if (kind() == K::Comma) take();
  for (K k = kind(); k == K::KwLimit || k == K::KwOffset || k == K::KwReversed; k = kind()) {
    parseLoopParameter(true);
    if (kind() == K::Comma) take();
  }
  expectClose(self);
  parseBodyUntil(self, K::KwEndfor, true);
  close(self);
}

// tablerow -> name in logical { (limit|offset|cols) ":" primary } close body... endtablerow
void Parser::parseTablerow() {
  take();
  Level level(*this);
  std::size_t self = open(NodeKind::Tablerow);
  if (kind() != K::Identifier) failExpected("a loop variable");
  at(self).text = take().text;
  numberName(self);
  expect(K::KwIn);
  parseLogical();
  for (K k = kind(); k == K::KwLimit || k == K::KwOffset || k == K::KwCols; k = kind())
    parseLoopParameter(false);
  expectClose(self);
  parseBodyUntil(self, K::KwEndtablerow, false);
  close(self);
}

// param -> reversed | name ":" ( primary | continue )
void Parser::parseLoopParameter(bool forLoop) {
  const Token& t = take();
  std::size_t self = open(NodeKind::NamedArgument, t.text);
  if (t.kind == K::KwReversed) return;
  expect(K::Colon);
  if (forLoop && t.kind == K::KwOffset && kind() == K::KwContinue)
    pushString(take().text);
  else
    parsePrimary();
  close(self);
}

// capture -> (String | Integer | name) close body... endcapture
void Parser::parseCapture() {
  take();
  std::size_t self = open(NodeKind::Capture);
  K k = kind();
  if (k != K::String && k != K::Integer && k != K::Identifier) failExpected("a variable name");
  std::string_view name = take().text;
  // A string whose contents are themselves quoted names the inner text.
  if (k == K::String && name.size() >= 2 && (name.front() == '\'' || name.front() == '"'))
    name = name.substr(1, name.size() - 2);
  at(self).text = name;
  numberName(self);
  expectClose(self);
  Level level(*this);
  parseBodyUntil(self, K::KwEndcapture, false);
  close(self);
}

void Parser::parseIfchanged() {
  take();
  std::size_t self = open(NodeKind::Ifchanged);
  expectClose(self);
  Level level(*this);
  parseBodyUntil(self, K::KwEndifchanged, false);
  close(self);
}

// Drops everything up to the matching endcomment; comments nest, and tags
// inside a raw block within the comment do not count.
void Parser::parseComment() {
  take();
  std::size_t self = open(NodeKind::Comment);
  at(self).trimRight = skipToClose();
  int64_t open = 1;
  bool inRaw = false;
  for (K k = kind(); k != K::EndOfInput; k = kind()) {
    if (isTagOpen(k)) {
      K name = kindAt(1);
      if (name == K::KwRaw) {
        inRaw = true;
      } else if (name == K::KwEndraw) {
        inRaw = false;
      } else if (!inRaw && name == K::KwComment) {
        ++open;
      } else if (!inRaw && name == K::KwEndcomment && --open == 0) {
        at(self).endTrimLeft = take().kind == K::TagOpenTrim;
        take();
        at(self).endTrimRight = skipToClose();
        return;
      }
    }
    take();
  }
}

// Drops everything up to the first enddoc; docs do not nest.
void Parser::parseDoc() {
  take();
  std::size_t self = open(NodeKind::Doc);
  expectClose(self);
  for (K k = kind(); k != K::EndOfInput; k = kind()) {
    if (isTagOpen(k) && kindAt(1) == K::KwEnddoc) {
      at(self).endTrimLeft = take().kind == K::TagOpenTrim;
      take();
      at(self).endTrimRight = skipToClose();
      return;
    }
    take();
  }
}

// The scanner has already cut the body into one RawText token.
void Parser::parseRaw() {
  take();
  std::size_t self = open(NodeKind::Raw);
  expectClose(self);
  if (kind() == K::RawText) at(self).text = take().text;
  if (isTagOpen(kind()) && kindAt(1) == K::KwEndraw) {
    at(self).endTrimLeft = take().kind == K::TagOpenTrim;
    take();
    if (isTagClose(kind())) at(self).endTrimRight = take().kind == K::TagCloseTrim;
  }
}

// assign -> (name | Integer) "=" primary { "|" filter } junk* close
void Parser::parseAssign() {
  take();
  std::size_t self = open(NodeKind::Assign);
  K k = kind();
  if (k != K::Identifier && k != K::Integer) failExpected("a variable name");
  at(self).text = take().text;
  numberName(self);
  expect(K::Equals);
  parsePrimary();
  while (kind() == K::Pipe) {
    take();
    parseFilter();
  }
  close(self);
  at(self).trimRight = skipToClose();
}

// echo -> [ logical { "|" filter } ] close
void Parser::parseEcho() {
  take();
  std::size_t self = open(NodeKind::Echo);
  if (!isTagClose(kind())) {
    parseLogical();
    while (kind() == K::Pipe) {
      take();
      parseFilter();
    }
    close(self);
    setEmitter(self);
  }
  expectClose(self);
}

// cycle -> [ (String | name) ":" ] [ value { "," value } ] close
// A first value written as a string may omit the comma after it.
void Parser::parseCycle() {
  take();
  std::size_t self = open(NodeKind::Cycle);
  K k = kind();
  if ((k == K::String || k == K::Identifier) && kindAt(1) == K::Colon) {
    at(self).text = take().text;
    numberName(self);
    take();
  } else if (k == K::String) {
    pushString(take().text);
    if (kind() == K::Comma) take();
  }
  while (!isTagClose(kind())) {
    parsePrimary();
    if (kind() == K::Comma) {
      take();
      continue;
    }
    if (!isTagClose(kind())) failInTag();
  }
  close(self);
  expectClose(self);
}

// increment/decrement -> name close
void Parser::parseNamed(NodeKind kind) {
  take();
  std::size_t self = open(kind);
  if (this->kind() != K::Identifier) failExpected("a counter name");
  at(self).text = take().text;
  expectClose(self);
}

// break, continue and the inline comment: nothing but the close.
void Parser::parseBare(NodeKind kind) {
  take();
  expectClose(open(kind));
}

// include/render -> primary [ (with|for) primary [as name] ] { [","] name ":" primary } close
void Parser::parseIncludeOrRender(NodeKind kind) {
  take();
  std::size_t self = open(kind);
  if (this->kind() == K::String) at(self).slot = names_.intern(cur().text);
  parsePrimary();
  if (this->kind() == K::KwWith || this->kind() == K::KwFor) {
    std::size_t arg = open(NodeKind::NamedArgument, take().text);
    parsePrimary();
    close(arg);
    if (this->kind() == K::KwAs) {
      take();
      if (this->kind() != K::Identifier) failExpected("a name");
      at(arg).name = take().text;
      at(arg).slot = names_.intern(at(arg).name);
    }
  }
  for (;;) {
    if (this->kind() == K::Comma) take();
    if (this->kind() != K::Identifier) break;
    std::size_t arg = open(NodeKind::NamedArgument, take().text);
    numberName(arg);
    expect(K::Colon);
    parsePrimary();
    close(arg);
  }
  close(self);
  expectClose(self);
}

// liquid -> LiquidBody close. Each statement line becomes a tag of its own
// and the rewritten text is parsed in place of the body.
void Parser::parseLiquid() {
  take();
  std::size_t self = open(NodeKind::Liquid);
  const Token* bodyToken = kind() == K::LiquidBody ? &take() : nullptr;
  std::string_view code = rewriteLiquidBody(bodyToken ? bodyToken->text : std::string_view());
  if (!code.empty()) {
    Level level(*this);
    std::vector<Token> tokens = scanTemplate(code);
    std::span<const Token> outerTokens = toks_;
    std::size_t outerPos = pos_;
    toks_ = tokens;
    pos_ = 0;
    try {
      parseTopLevel();
    } catch (const ParseError& e) {
      relocateToBody(e, *bodyToken);
    }
    close(self);
    toks_ = outerTokens;
    pos_ = outerPos;
  }
  expectClose(self);
}

// A failure in the rewritten text of a liquid tag, thrown again with its
// positions moved to where the statement was written in the tag's body
// (`body`, a token). The rewritten text is one line: "{% " statement " %}"
// for each statement in turn.
void Parser::relocateToBody(const ParseError& e, const Token& body) {
  auto relocate = [&](SourcePosition at) {
    std::size_t offset = at.column - 1, start = 0;
    const char* spot = body.text.data() + body.text.size();
    forEachLiquidStatement(body.text, [&](std::string_view s) {
      std::size_t end = start + s.size() + 6;
      if (offset >= start && offset < end) {
        std::size_t in = offset - start;  // within "{% " statement " %}"
        spot = s.data() + (in < 3 ? 0 : std::min(in - 3, s.size()));
      }
      start = end;
    });
    SourcePosition out{body.line, body.column};
    for (const char* p = body.text.data(); p != spot; ++p) {
      if (*p == '\n') {
        ++out.line;
        out.column = 1;
      } else {
        ++out.column;
      }
    }
    return out;
  };
  std::optional<SourcePosition> opened;
  if (e.opened) opened = relocate(*e.opened);
  throw ParseError(e.message, relocate({e.line, e.column}), opened);
}

// "{% statement %}" for every statement, concatenated, in the arena.
std::string_view Parser::rewriteLiquidBody(std::string_view body) {
  std::size_t total = 0;
  forEachLiquidStatement(body, [&](std::string_view s) { total += s.size() + 6; });
  if (total == 0) return {};
  char* out = arena_.allocArray<char>(total);
  std::size_t at = 0;
  forEachLiquidStatement(body, [&](std::string_view s) {
    std::memcpy(out + at, "{% ", 3);
    std::memcpy(out + at + 3, s.data(), s.size());
    std::memcpy(out + at + 3 + s.size(), " %}", 3);
    at += s.size() + 6;
  });
  return {out, total};
}

}  // namespace

Operator operatorOf(std::string_view op) {
  static constexpr std::pair<std::string_view, Operator> kOperators[] = {
      {"", Operator::Eq},  {"==", Operator::Eq}, {"!=", Operator::Ne}, {"<>", Operator::Ne},
      {"<", Operator::Lt}, {">", Operator::Gt},  {"<=", Operator::Le}, {">=", Operator::Ge},
      {"contains", Operator::Contains}, {"and", Operator::And}, {"or", Operator::Or}};
  for (const auto& [text, code] : kOperators)
    if (op == text) return code;
  return Operator::Unknown;
}

const Node& parseTemplate(std::string_view source, Arena& arena, NameTable& names) {
  Parser parser(arena, names);
  return parser.parseAll(source);
}

const Node& parseTemplate(std::string_view source, Arena& arena) {
  NameTable& names = *arena.make<NameTable>(arena.resource());
  return parseTemplate(source, arena, names);
}

}  // namespace mervalt

// parser_impl.h: the recursive-descent parser's class, shared by its three
// source files: parser.cpp (template pieces, expressions, failures),
// parse_block_tags.cpp and parse_simple_tags.cpp.
#pragma once

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "memory/arena.h"
#include "parse/lexer.h"
#include "parse/names.h"
#include "parse/parser.h"

namespace mervalt::detail {

using K = TokenKind;

inline bool isTagOpen(K k) { return k == K::TagOpen || k == K::TagOpenTrim; }
inline bool isTagClose(K k) { return k == K::TagClose || k == K::TagCloseTrim; }
inline bool isOutputOpen(K k) { return k == K::OutputOpen || k == K::OutputOpenTrim; }
inline bool isOutputClose(K k) { return k == K::OutputClose || k == K::OutputCloseTrim; }
inline bool isComparison(K k) { return (k >= K::Eq && k <= K::Ge) || k == K::KwContains; }
inline bool isAndOr(K k) { return k == K::KwAnd || k == K::KwOr; }

// Every parse function leaves the node it parsed on top of a shared work
// stack. A node under construction sits on that stack with its children
// pushed above it; `close` copies them into the arena as its child list.
// Nodes are therefore never held in the frames of the recursive functions,
// which keeps those frames small (see kMaxParseDepth), and a node refers to
// the stack only by index, since pushing may move the stack.
class Parser {
 public:
  // The tree goes into `arena`; the tokens and the work stack into
  // `scratch`, which the caller releases when the parse is done.
  Parser(Arena& arena, Arena& scratch, NameTable& names)
      : arena_(arena), scratch_(scratch), names_(names), stack_(scratch.resource()) {}

  Tree parseAll(std::string_view source) {
    TokenList tokens = scanTemplate(source, scratch_.resource());
    toks_ = tokens;
    pos_ = 0;
    stack_.reserve(64);
    std::size_t root = open(NodeKind::Root, {1, 1});
    parseTopLevel();
    close(root);
    return Tree{arena_.make<Node>(stack_[root]), memoCount_};
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
  static SourcePosition positionOf(const Token& t) { return {t.line, t.column}; }
  SourcePosition here() const { return positionOf(cur()); }

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
  std::size_t open(NodeKind kind, SourcePosition where) {
    Node& n = stack_.emplace_back();
    n.kind = kind;
    n.at = where;
    return stack_.size() - 1;
  }
  std::size_t openText(NodeKind kind, SourcePosition where, std::string_view text) {
    std::size_t i = open(kind, where);
    stack_[i].text = TextData{text};
    return i;
  }
  void pushLiteral(NodeKind kind, SourcePosition where, std::string_view text, Value value) {
    open(kind, where);
    top().literal = LiteralData{value, text};
  }
  void pushString(SourcePosition where, std::string_view text) {
    pushLiteral(NodeKind::String, where, text, Value::string(text));
  }
  [[gnu::noinline]] void pushLiteral(const Token& t);
  // The nodes above `self` become its children (or, for a filter, its args).
  std::span<const Node> popAbove(std::size_t self) {
    std::span<const Node> pending(stack_.data() + self + 1, stack_.size() - self - 1);
    std::span<const Node> list = arena_.copyArray<Node>(pending);
    stack_.resize(self + 1);
    return list;
  }
  void close(std::size_t self) { stack_[self].children = popAbove(self); }
  // An output or echo whose last filter can write straight into the output.
  void setEmitter(std::size_t self);
  uint32_t number(std::string_view name) { return names_.intern(name); }
  MemoId newMemo() { return memoCount_++; }
  // The top node becomes the only child of a new node of `kind`, which takes
  // the child's position; returns the new node's index.
  std::size_t wrapTop(NodeKind kind) {
    std::size_t first = stack_.size() - 1;
    open(kind, stack_[first].at);
    std::swap(stack_[first], stack_[first + 1]);
    close(first);
    return first;
  }
  // The top two nodes become the children of a new node of `kind`.
  void joinTop(NodeKind kind) {
    std::size_t first = stack_.size() - 2;
    open(kind, stack_[first].at);
    std::rotate(stack_.begin() + static_cast<std::ptrdiff_t>(first), stack_.end() - 1, stack_.end());
    close(first);
  }
  void joinOperator(NodeKind kind, std::string_view op) {
    joinTop(kind);
    top().op = OperatorData{op, operatorOf(op)};
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
  void parseCounter(NodeKind kind);
  void parseBare(NodeKind kind);
  void parseIncludeOrRender(NodeKind kind);
  void parseLiquid();

  Arena& arena_;
  Arena& scratch_;
  NameTable& names_;
  std::span<const Token> toks_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  SourcePosition tagAt_;  // the opener of the tag being parsed
  MemoId memoCount_ = 0;
  std::pmr::vector<Node> stack_;
};

}  // namespace mervalt::detail

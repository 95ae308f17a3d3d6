// parse_simple_tags.cpp: the tags without a body (assign, echo, cycle,
// increment and decrement, break, continue, the inline comment, include and
// render) and the liquid tag, whose lines are parsed as tags of their own.
#include <algorithm>
#include <cstring>

#include "parse/parse_messages.h"
#include "parse/parser_impl.h"

namespace mervalt::detail {
namespace {

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

// "{% statement %}" for every statement, concatenated, in the arena.
std::string_view rewriteLiquidBody(Arena& arena, std::string_view body) {
  std::size_t total = 0;
  forEachLiquidStatement(body, [&](std::string_view s) { total += s.size() + 6; });
  if (total == 0) return {};
  char* out = arena.allocArray<char>(total);
  std::size_t at = 0;
  forEachLiquidStatement(body, [&](std::string_view s) {
    std::memcpy(out + at, "{% ", 3);
    std::memcpy(out + at + 3, s.data(), s.size());
    std::memcpy(out + at + 3 + s.size(), " %}", 3);
    at += s.size() + 6;
  });
  return {out, total};
}

// Moves the tokens of a rewritten liquid body (one line: "{% " statement
// " %}" for each statement) to where their statements stand in the body
// token `body`. A token within a statement keeps its place in it; one in
// the added delimiters goes to the statement's start.
void relocateLiquidTokens(TokenList& tokens, const Token& body) {
  struct Statement {
    std::size_t start, end;  // in the rewritten line
    std::string_view text;
  };
  std::vector<Statement> statements;
  std::size_t start = 0;
  forEachLiquidStatement(body.text, [&](std::string_view s) {
    statements.push_back({start, start + s.size() + 6, s});
    start += s.size() + 6;
  });
  // Tokens come in order, so one walk through the body finds every place.
  const char* walked = body.text.data();
  SourcePosition at{body.line, body.column};
  std::size_t k = 0;
  for (Token& t : tokens) {
    std::size_t offset = t.column - 1;
    while (k < statements.size() && offset >= statements[k].end) ++k;
    const char* spot = body.text.data() + body.text.size();
    if (k < statements.size() && offset >= statements[k].start) {
      std::size_t in = offset - statements[k].start;  // within "{% " statement " %}"
      spot = statements[k].text.data() + (in < 3 ? 0 : std::min(in - 3, statements[k].text.size()));
    }
    if (spot < walked) {  // not reached in order: count again from the start
      walked = body.text.data();
      at = {body.line, body.column};
    }
    for (; walked != spot; ++walked) {
      if (*walked == '\n') {
        ++at.line;
        at.column = 1;
      } else {
        ++at.column;
      }
    }
    t.line = at.line;
    t.column = at.column;
  }
}

}  // namespace

// assign -> (name | Integer) "=" primary { "|" filter } junk* close
void Parser::parseAssign() {
  take();
  std::size_t self = open(NodeKind::Assign, tagAt_);
  K k = kind();
  if (k != K::Identifier && k != K::Integer) failExpected("a variable name");
  std::string_view name = take().text;
  at(self).target = TargetData{name, number(name)};
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
  std::size_t self = open(NodeKind::Echo, tagAt_);
  at(self).output = OutputData{false};
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
  std::size_t self = open(NodeKind::Cycle, tagAt_);
  at(self).cycle = CycleData{{}, 0, kNoMemo};
  K k = kind();
  if ((k == K::String || k == K::Identifier) && kindAt(1) == K::Colon) {
    std::string_view group = take().text;
    at(self).cycle = CycleData{group, number(group), kNoMemo};
    take();
  } else if (k == K::String) {
    SourcePosition where = here();
    pushString(where, take().text);
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
  // A cycle of literals without a group name has the same key every time:
  // a render remembers where its position lives.
  bool constantKey = at(self).cycle.group.empty();
  for (const Node& c : at(self).children) constantKey = constantKey && isLiteralKind(c.kind);
  if (constantKey && !at(self).children.empty()) at(self).cycle.memo = newMemo();
  expectClose(self);
}

// increment/decrement -> name close
void Parser::parseCounter(NodeKind kind) {
  take();
  std::size_t self = open(kind, tagAt_);
  if (this->kind() != K::Identifier) failExpected("a counter name");
  at(self).counter = CounterData{take().text};
  expectClose(self);
}

// break, continue and the inline comment: nothing but the close.
void Parser::parseBare(NodeKind kind) {
  take();
  expectClose(open(kind, tagAt_));
}

// include/render -> primary [ (with|for) primary [as name] ] { [","] name ":" primary } close
void Parser::parseIncludeOrRender(NodeKind kind) {
  take();
  std::size_t self = open(kind, tagAt_);
  at(self).inclusion = InclusionData{this->kind() == K::String ? number(cur().text) : 0, newMemo()};
  parsePrimary();
  if (this->kind() == K::KwWith || this->kind() == K::KwFor) {
    SourcePosition where = here();
    std::size_t arg = open(NodeKind::NamedArgument, where);
    at(arg).argument = ArgumentData{take().text, {}, 0};
    parsePrimary();
    close(arg);
    if (this->kind() == K::KwAs) {
      take();
      if (this->kind() != K::Identifier) failExpected("a name");
      std::string_view alias = take().text;
      at(arg).argument.alias = alias;
      at(arg).argument.slot = number(alias);
    }
  }
  for (;;) {
    if (this->kind() == K::Comma) take();
    if (this->kind() != K::Identifier) break;
    SourcePosition where = here();
    std::size_t arg = open(NodeKind::NamedArgument, where);
    std::string_view key = take().text;
    at(arg).argument = ArgumentData{key, {}, number(key)};
    expect(K::Colon);
    parsePrimary();
    close(arg);
  }
  close(self);
  expectClose(self);
}

// liquid -> LiquidBody close. Each statement line becomes a tag of its own;
// the statements are rewritten as "{% statement %}" one after another and
// scanned, and every token is moved back to where its statement was written
// in the body, so that nodes and failures name the author's lines.
void Parser::parseLiquid() {
  take();
  std::size_t self = open(NodeKind::Liquid, tagAt_);
  const Token* bodyToken = kind() == K::LiquidBody ? &take() : nullptr;
  std::string_view body = bodyToken ? bodyToken->text : std::string_view();
  std::string_view code = rewriteLiquidBody(arena_, body);
  if (!code.empty()) {
    Level level(*this);
    TokenList tokens = scanTemplate(code, scratch_.resource());
    relocateLiquidTokens(tokens, *bodyToken);
    std::span<const Token> outerTokens = toks_;
    std::size_t outerPos = pos_;
    toks_ = tokens;
    pos_ = 0;
    parseTopLevel();
    close(self);
    toks_ = outerTokens;
    pos_ = outerPos;
  }
  expectClose(self);
}

}  // namespace mervalt::detail

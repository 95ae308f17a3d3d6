// parse_simple_tags.cpp: the tags without a body (assign, echo, cycle,
// increment and decrement, break, continue, the inline comment, include and
// render) and the liquid tag, whose lines are parsed as tags of their own.
#include <cstring>

#include "filters/dispatch.h"
#include "filters/filters.h"
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

}  // namespace

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

}  // namespace mervalt::detail

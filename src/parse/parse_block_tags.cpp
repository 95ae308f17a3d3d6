// parse_block_tags.cpp: the tags with a body: if/unless with elsif and
// else, case/when, for and tablerow with their parameters, capture,
// ifchanged, comment, doc and raw.
#include "parse/parse_messages.h"
#include "parse/parser_impl.h"

namespace mervalt::detail {

// ---- tags ----

// Each handler takes the tag name and pushes exactly one node.
void Parser::parseTag() {
  SourcePosition outer = tagAt_;
  tagAt_ = here();
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
    case K::KwIncrement: parseCounter(NodeKind::Increment); break;
    case K::KwDecrement: parseCounter(NodeKind::Decrement); break;
    case K::KwBreak: parseBare(NodeKind::Break); break;
    case K::KwContinue: parseBare(NodeKind::Continue); break;
    case K::Hash: parseBare(NodeKind::InlineComment); break;
    case K::KwInclude: parseIncludeOrRender(NodeKind::Include); break;
    case K::KwRender: parseIncludeOrRender(NodeKind::Render); break;
    case K::KwLiquid: parseLiquid(); break;
    default: failMisplacedTag();  // unknown names, misplaced else/when/end tags, "{% %}"
  }
  at(self).trimLeft = trimLeft;
  tagAt_ = outer;
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
  at(owner).condition = ConditionData{cur().text};
  at(owner).trimRight = skipToClose();
}

// if -> condition body [ elsif... | else... ] endif   (unless alike)
void Parser::parseIf(NodeKind kind) {
  take();
  Level level(*this);
  std::size_t self = open(kind, tagAt_);
  at(self).condition = ConditionData{};
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
  SourcePosition where = here();
  bool trimLeft = take().kind == K::TagOpenTrim;
  Level level(*this);
  bool isElsif = take().kind == K::KwElsif;
  std::size_t self = open(isElsif ? NodeKind::Elsif : NodeKind::Else, where);
  if (isElsif) at(self).condition = ConditionData{};
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
  SourcePosition where = here();
  take();
  take();
  std::size_t self = open(NodeKind::Else, where);
  expectClose(self);
  Level level(*this);
  parseBodyUntil(head, endKeyword, true);
  close(self);
}

// case -> primary junk* close { Text | when | else } endcase
void Parser::parseCase() {
  take();
  Level level(*this);
  std::size_t self = open(NodeKind::Case, tagAt_);
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
  SourcePosition where = here();
  bool trimLeft = take().kind == K::TagOpenTrim;
  take();
  std::size_t self = open(NodeKind::When, where);
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
  SourcePosition where = here();
  bool trimLeft = take().kind == K::TagOpenTrim;
  take();
  std::size_t self = open(NodeKind::Else, where);
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
  std::size_t self = open(NodeKind::For, tagAt_);
  if (kind() != K::Identifier) failExpected("a loop variable");
  std::string_view variable = take().text;
  at(self).loop = LoopData{variable, number(variable), newMemo()};
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
  std::size_t self = open(NodeKind::Tablerow, tagAt_);
  if (kind() != K::Identifier) failExpected("a loop variable");
  std::string_view variable = take().text;
  at(self).loop = LoopData{variable, number(variable), kNoMemo};
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
  std::size_t self = open(NodeKind::NamedArgument, positionOf(t));
  at(self).argument = ArgumentData{t.text, {}, 0};
  if (t.kind == K::KwReversed) return;
  expect(K::Colon);
  if (forLoop && t.kind == K::KwOffset && kind() == K::KwContinue) {
    SourcePosition where = here();
    pushString(where, take().text);
  } else
    parsePrimary();
  close(self);
}

// capture -> (String | Integer | name) close body... endcapture
void Parser::parseCapture() {
  take();
  std::size_t self = open(NodeKind::Capture, tagAt_);
  K k = kind();
  if (k != K::String && k != K::Integer && k != K::Identifier) failExpected("a variable name");
  std::string_view name = take().text;
  // A string whose contents are themselves quoted names the inner text.
  if (k == K::String && name.size() >= 2 && (name.front() == '\'' || name.front() == '"'))
    name = name.substr(1, name.size() - 2);
  at(self).target = TargetData{name, number(name)};
  expectClose(self);
  Level level(*this);
  parseBodyUntil(self, K::KwEndcapture, false);
  close(self);
}

void Parser::parseIfchanged() {
  take();
  std::size_t self = open(NodeKind::Ifchanged, tagAt_);
  expectClose(self);
  Level level(*this);
  parseBodyUntil(self, K::KwEndifchanged, false);
  close(self);
}

// Drops everything up to the matching endcomment; comments nest, and tags
// inside a raw block within the comment do not count.
void Parser::parseComment() {
  take();
  std::size_t self = open(NodeKind::Comment, tagAt_);
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
  std::size_t self = open(NodeKind::Doc, tagAt_);
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
  std::size_t self = openText(NodeKind::Raw, tagAt_, {});
  expectClose(self);
  if (kind() == K::RawText) at(self).text = TextData{take().text};
  if (isTagOpen(kind()) && kindAt(1) == K::KwEndraw) {
    at(self).endTrimLeft = take().kind == K::TagOpenTrim;
    take();
    if (isTagClose(kind())) at(self).endTrimRight = take().kind == K::TagCloseTrim;
  }
}

}  // namespace mervalt::detail

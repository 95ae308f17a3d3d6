// lexer.h: cuts template text into tokens in one forward pass.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace mervalt {

// Values are fixed: the parser tests ranges of them (comparison operators are
// Eq..Ge, keywords KwIf..KwEnddoc).
enum class TokenKind : uint8_t {
  Text = 0,
  String = 1,
  Integer = 2,
  Float = 3,
  RawText = 4,
  Identifier = 5,
  Nil = 6,
  True = 7,
  False = 8,
  Blank = 9,
  Empty = 10,
  LiquidBody = 11,
  Hash = 12,
  OutputOpen = 13,
  OutputClose = 14,
  TagOpen = 15,
  TagClose = 16,
  OutputOpenTrim = 17,
  OutputCloseTrim = 18,
  TagOpenTrim = 19,
  TagCloseTrim = 20,
  Pipe = 21,
  Dot = 22,
  Comma = 23,
  Colon = 24,
  LParen = 25,
  RParen = 26,
  LBracket = 27,
  RBracket = 28,
  DotDot = 29,
  Eq = 30,
  Ne = 31,
  Lt = 32,
  Gt = 33,
  Le = 34,
  Ge = 35,
  Equals = 36,
  KwIf = 37,
  KwElsif,
  KwElse,
  KwEndif,
  KwUnless,
  KwEndunless,
  KwCase,
  KwWhen,
  KwEndcase,
  KwFor,
  KwEndfor,
  KwBreak,
  KwContinue,
  KwIn,
  KwAssign,
  KwCapture,
  KwEndcapture,
  KwIncrement,
  KwDecrement,
  KwCycle,
  KwTablerow,
  KwEndtablerow,
  KwInclude,
  KwRender,
  KwRaw,
  KwEndraw,
  KwComment,
  KwEndcomment,
  KwLiquid,
  KwEcho,
  KwAnd,
  KwOr,
  KwNot,
  KwContains,
  KwWith,
  KwAs,
  KwLimit,
  KwOffset,
  KwReversed,
  KwCols,
  KwIfchanged,
  KwEndifchanged,
  KwDoc,
  KwEnddoc = 80,
  EndOfInput = 81,
  Invalid = 82,
};

struct Token {
  std::string_view text;
  uint32_t line = 1;
  uint32_t column = 1;
  TokenKind kind = TokenKind::EndOfInput;
};

// Scans the whole template. Never fails on malformed text: problems become
// Invalid tokens. The result always ends with one EndOfInput token.
std::vector<Token> scanTemplate(std::string_view source);

}  // namespace mervalt

// lexer.h: cuts template text into tokens in one forward pass.
#pragma once

#include <cstdint>
#include <string_view>
#include <memory_resource>
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

// Why the scanner made an Invalid token (None for the other kinds).
enum class ScanProblem : uint8_t {
  None,
  UnknownCharacter,  // one byte that starts no token; also a lone "-" before a closer
  Bang,              // a "!" not followed by "="
  EndInOutput,       // the text ended inside an output, after whitespace
  EndInTag,          // the text ended inside a tag, after whitespace or in a "#" comment
};

// `text` is a slice of the scanned text (for a String, the bytes between the
// quotes). An Invalid token's text is its source bytes ("!" for the bang,
// empty at the end of the text): an if condition reports that text as its
// unknown operator. The scanner's message for the token is scanMessage().
struct Token {
  std::string_view text;
  uint32_t line = 1;
  uint32_t column = 1;
  TokenKind kind = TokenKind::EndOfInput;
  ScanProblem problem = ScanProblem::None;
};

using TokenList = std::pmr::vector<Token>;

// Scans the whole template into `memory`. Never fails on malformed text:
// problems become Invalid tokens. The result always ends with one
// EndOfInput token.
TokenList scanTemplate(std::string_view source,
                       std::pmr::memory_resource* memory = std::pmr::get_default_resource());

// The scanner's message for an Invalid token ("Unexpected character: !",
// "Unexpected end of input in tag", ...); the token's text otherwise.
std::string_view scanMessage(const Token& token);

// The kind of a keyword spelled exactly `name`, or Identifier.
TokenKind keywordKind(std::string_view name);

}  // namespace mervalt

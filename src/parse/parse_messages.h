// parse_messages.h: what the author of a template that does not parse is
// told: how tokens are named in a message, and the open output, tag or block
// that a failure concerns.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "parse/lexer.h"
#include "parse/parser.h"

namespace mervalt {

// A token as the author wrote it: 'endfo', string 'x', character '@', '%}',
// the end of the template.
std::string describeToken(const Token& token);

// `text` in single quotes, or in double quotes when it holds a single quote;
// long texts are cut short, control and non-ASCII bytes written as \xNN.
std::string quoteForMessage(std::string_view text);

// The output or tag opener that the text ends inside of: the last opener of
// `tokens` when no closer follows it.
const Token* unclosedOpener(std::span<const Token> tokens);

// A block tag (if, for, case, ...) that is open after the first `end` tokens.
struct OpenBlock {
  std::string_view name;
  SourcePosition at;
};

// The innermost block still open after `tokens[0, end)`, skipping comments and
// doc blocks as the parser does.
std::optional<OpenBlock> innermostOpenBlock(std::span<const Token> tokens, std::size_t end);

// What a failure says, and where the block it concerns was opened, if any.
struct ParseProblem {
  std::string message;
  std::optional<SourcePosition> opened;
};

// Why `tokens[at]`, the token after a tag opener, cannot begin a tag there:
// an unknown name, or an end, else, elsif or when tag outside of its block.
ParseProblem misplacedTag(std::span<const Token> tokens, std::size_t at);

}  // namespace mervalt

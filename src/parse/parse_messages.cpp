// parse_messages.cpp: the wording of parse failures and the context they
// name. Only failing parses come here, so plain scans of the tokens do.
#include "parse/parse_messages.h"

#include <vector>

#include "data/quoting.h"

namespace mervalt {
namespace {

using K = TokenKind;

bool isOpener(K k) {
  return k == K::OutputOpen || k == K::OutputOpenTrim || k == K::TagOpen || k == K::TagOpenTrim;
}
bool isCloser(K k) {
  return k == K::OutputClose || k == K::OutputCloseTrim || k == K::TagClose || k == K::TagCloseTrim;
}
bool isTagOpen(K k) { return k == K::TagOpen || k == K::TagOpenTrim; }

// The end keyword of a block tag, or EndOfInput for any other tag name.
K endKeywordOf(K name) {
  switch (name) {
    case K::KwIf: return K::KwEndif;
    case K::KwUnless: return K::KwEndunless;
    case K::KwCase: return K::KwEndcase;
    case K::KwFor: return K::KwEndfor;
    case K::KwTablerow: return K::KwEndtablerow;
    case K::KwCapture: return K::KwEndcapture;
    case K::KwIfchanged: return K::KwEndifchanged;
    default: return K::EndOfInput;
  }
}

bool isEndKeyword(K k) {
  switch (k) {
    case K::KwEndif:
    case K::KwEndunless:
    case K::KwEndcase:
    case K::KwEndfor:
    case K::KwEndtablerow:
    case K::KwEndcapture:
    case K::KwEndifchanged:
    case K::KwEndcomment:
    case K::KwEndraw:
    case K::KwEnddoc: return true;
    default: return false;
  }
}

bool isKeyword(K k) { return k >= K::KwIf && k <= K::KwEnddoc; }

// The index of the last token of a comment (nested, raw-aware) or doc block
// whose opener is at `open`, or `end` when it runs past it.
std::size_t skipCommentOrDoc(std::span<const Token> tokens, std::size_t open, std::size_t end) {
  bool doc = tokens[open + 1].kind == K::KwDoc;
  int depth = 1;
  bool inRaw = false;
  for (std::size_t i = open + 2; i + 1 < end; ++i) {
    if (!isTagOpen(tokens[i].kind)) continue;
    K name = tokens[i + 1].kind;
    if (doc) {
      if (name == K::KwEnddoc) return i + 1;
      continue;
    }
    if (name == K::KwRaw) inRaw = true;
    if (name == K::KwEndraw) inRaw = false;
    if (inRaw) continue;
    if (name == K::KwComment) ++depth;
    if (name == K::KwEndcomment && --depth == 0) return i + 1;
  }
  return end;
}

std::string inQuotes(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

ParseError::ParseError(const std::string& message, SourcePosition at, std::optional<SourcePosition> opened)
    : std::runtime_error(opened ? message + " (opened at " + std::to_string(opened->line) + ":" +
                                      std::to_string(opened->column) + ")"
                                : message),
      message(message),
      line(at.line),
      column(at.column),
      opened(opened) {}

std::string quoteForMessage(std::string_view text) {
  constexpr std::size_t kShown = 30;
  bool hasQuote = text.substr(0, kShown).find('\'') != std::string_view::npos;
  return quoted(text, hasQuote ? '"' : '\'', kShown);
}

std::string describeToken(const Token& token) {
  switch (token.kind) {
    case K::EndOfInput: return "the end of the template";
    case K::Text: return "text";
    case K::RawText: return "raw text";
    case K::LiquidBody: return "the body of 'liquid'";
    case K::Hash: return "'#'";
    case K::String: return "string " + quoteForMessage(token.text);
    case K::Invalid:
      if (token.problem == ScanProblem::EndInOutput || token.problem == ScanProblem::EndInTag)
        return "the end of the template";
      return "character " + quoteForMessage(token.text);
    default: return quoteForMessage(token.text);
  }
}

const Token* unclosedOpener(std::span<const Token> tokens) {
  for (std::size_t i = tokens.size(); i-- > 0;) {
    if (isCloser(tokens[i].kind)) return nullptr;
    if (isOpener(tokens[i].kind)) return &tokens[i];
  }
  return nullptr;
}

std::optional<OpenBlock> innermostOpenBlock(std::span<const Token> tokens, std::size_t end) {
  struct Open {
    OpenBlock block;
    K endKeyword;
    bool inBranch;  // case: a when or else has begun
  };
  std::vector<Open> open;
  for (std::size_t i = 0; i + 1 < end; ++i) {
    K k = tokens[i].kind;
    // Before its first when, a case ends at an output.
    if (isOpener(k) && !isTagOpen(k) && !open.empty() && open.back().endKeyword == K::KwEndcase &&
        !open.back().inBranch)
      open.pop_back();
    if (!isTagOpen(k)) continue;
    const Token& name = tokens[i + 1];
    if (name.kind == K::KwComment || name.kind == K::KwDoc) {
      i = skipCommentOrDoc(tokens, i, end);
    } else if (K endKeyword = endKeywordOf(name.kind); endKeyword != K::EndOfInput) {
      open.push_back({{name.text, {tokens[i].line, tokens[i].column}}, endKeyword, false});
    } else if (!open.empty() && name.kind == open.back().endKeyword) {
      open.pop_back();
    } else if (!open.empty() && (name.kind == K::KwWhen || name.kind == K::KwElse)) {
      open.back().inBranch = true;
    }
  }
  if (open.empty()) return std::nullopt;
  return open.back().block;
}

ParseProblem misplacedTag(std::span<const Token> tokens, std::size_t index) {
  const Token& name = tokens[index];
  std::optional<OpenBlock> block = innermostOpenBlock(tokens, index - 1);
  std::optional<SourcePosition> opened;
  if (block) opened = block->at;
  if (isEndKeyword(name.kind)) {
    if (block) return {inQuotes(name.text) + " does not close the open " + inQuotes(block->name), opened};
    return {inQuotes(name.text) + " without an open " + inQuotes(name.text.substr(3)), {}};
  }
  if (name.kind == K::KwElse || name.kind == K::KwElsif || name.kind == K::KwWhen) {
    if (block) return {inQuotes(name.text) + " is not allowed in " + inQuotes(block->name), opened};
    return {inQuotes(name.text) + " outside of any block", {}};
  }
  if (name.kind == K::Identifier || isKeyword(name.kind))
    return {"unknown tag " + quoteForMessage(name.text), {}};
  if (name.kind == K::TagClose || name.kind == K::TagCloseTrim) return {"a tag without a name", {}};
  return {"expected a tag name, found " + describeToken(name), {}};
}

}  // namespace mervalt

// lexer.cpp: the single-pass template scanner, its expression tokenizer and
// the keyword table.
#include "parse/lexer.h"

#include <array>
#include <cstring>

namespace mervalt {
namespace {

using K = TokenKind;

struct Keyword {
  std::string_view spelling;
  TokenKind kind;
};

// Sorted by length so that a lookup compares only the words of the name's
// length (kKeywordStart below). Every spelling is 2 to 12 bytes long.
constexpr std::array<Keyword, 50> kKeywords{{
    {"if", K::KwIf},
    {"in", K::KwIn},
    {"or", K::KwOr},
    {"as", K::KwAs},
    {"for", K::KwFor},
    {"raw", K::KwRaw},
    {"and", K::KwAnd},
    {"not", K::KwNot},
    {"doc", K::KwDoc},
    {"nil", K::Nil},
    {"else", K::KwElse},
    {"case", K::KwCase},
    {"when", K::KwWhen},
    {"echo", K::KwEcho},
    {"with", K::KwWith},
    {"cols", K::KwCols},
    {"null", K::Nil},
    {"true", K::True},
    {"elsif", K::KwElsif},
    {"endif", K::KwEndif},
    {"break", K::KwBreak},
    {"cycle", K::KwCycle},
    {"limit", K::KwLimit},
    {"false", K::False},
    {"blank", K::Blank},
    {"empty", K::Empty},
    {"unless", K::KwUnless},
    {"endfor", K::KwEndfor},
    {"assign", K::KwAssign},
    {"render", K::KwRender},
    {"endraw", K::KwEndraw},
    {"liquid", K::KwLiquid},
    {"offset", K::KwOffset},
    {"enddoc", K::KwEnddoc},
    {"endcase", K::KwEndcase},
    {"capture", K::KwCapture},
    {"include", K::KwInclude},
    {"comment", K::KwComment},
    {"continue", K::KwContinue},
    {"tablerow", K::KwTablerow},
    {"contains", K::KwContains},
    {"reversed", K::KwReversed},
    {"endunless", K::KwEndunless},
    {"increment", K::KwIncrement},
    {"decrement", K::KwDecrement},
    {"ifchanged", K::KwIfchanged},
    {"endcapture", K::KwEndcapture},
    {"endcomment", K::KwEndcomment},
    {"endtablerow", K::KwEndtablerow},
    {"endifchanged", K::KwEndifchanged},
}};

constexpr std::size_t kMaxKeywordLength = 12;

// kKeywordStart[n] is the index of the first keyword of length n or more.
constexpr std::array<std::size_t, kMaxKeywordLength + 2> keywordStarts() {
  std::array<std::size_t, kMaxKeywordLength + 2> start{};
  for (std::size_t len = 0; len < start.size(); ++len) {
    std::size_t i = 0;
    while (i < kKeywords.size() && kKeywords[i].spelling.size() < len) ++i;
    start[len] = i;
  }
  return start;
}
constexpr auto kKeywordStart = keywordStarts();

constexpr bool keywordsSorted() {
  for (std::size_t i = 1; i < kKeywords.size(); ++i)
    if (kKeywords[i - 1].spelling.size() > kKeywords[i].spelling.size()) return false;
  return kKeywords.front().spelling.size() == 2 && kKeywords.back().spelling.size() == kMaxKeywordLength;
}
static_assert(keywordsSorted(), "keyword table must be sorted by length");

// Byte classes, looked up once per byte.
enum : uint8_t { kDigit = 1, kLetter = 2, kUnderscore = 4, kSpace = 8 };
constexpr std::array<uint8_t, 256> kByteClass = [] {
  std::array<uint8_t, 256> c{};
  for (int b = '0'; b <= '9'; ++b) c[b] = kDigit;
  for (int b = 'a'; b <= 'z'; ++b) c[b] = kLetter;
  for (int b = 'A'; b <= 'Z'; ++b) c[b] = kLetter;
  c['_'] = kUnderscore;
  // Whitespace between tokens: space and the bytes 9 to 13.
  for (int b : {' ', '\t', '\n', '\v', '\f', '\r'}) c[b] = kSpace;
  return c;
}();

bool isDigit(unsigned char c) { return kByteClass[c] & kDigit; }
bool isNameStart(unsigned char c) { return kByteClass[c] & (kLetter | kUnderscore); }
bool isNameByte(unsigned char c) { return kByteClass[c] & (kLetter | kUnderscore | kDigit); }
bool isTokenSpace(unsigned char c) { return kByteClass[c] & kSpace; }
// Whitespace that may make up a string cut short before a filter.
bool isLineSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class Scanner {
 public:
  Scanner(std::string_view source, TokenList& out) : src_(source), out_(out) {}

  void run() {
    while (pos_ < src_.size()) {
      switch (mode_) {
        case Mode::Text: scanText(); break;
        case Mode::Output: scanOutput(); break;
        case Mode::Tag: liquidBody_ ? scanLiquidBody() : scanTag(); break;
        case Mode::Raw: scanRaw(); break;
      }
    }
    out_.push_back(Token{{}, line_, column(), K::EndOfInput, ScanProblem::None});
  }

 private:
  enum class Mode : uint8_t { Text, Output, Tag, Raw };

  std::size_t size() const { return src_.size(); }
  unsigned char byteAt(std::size_t i) const { return i < src_.size() ? static_cast<unsigned char>(src_[i]) : 0; }
  bool startsAt(std::size_t i, std::string_view s) const {
    if (i > src_.size() || src_.size() - i < s.size()) return false;
    for (std::size_t k = 0; k < s.size(); ++k)
      if (src_[i + k] != s[k]) return false;
    return true;
  }
  // The first "%}" at or after `from`, or npos.
  std::size_t findTagClose(std::size_t from) const { return src_.find("%}", from); }

  // Moves past n bytes, counting lines. Columns are derived from the start
  // of the current line.
  void consume(std::size_t n) {
    std::size_t end = pos_ + n;
    if (n <= 16) {
      for (std::size_t i = pos_; i < end; ++i)
        if (src_[i] == '\n') newLine(i);
    } else {
      const char* base = src_.data();
      std::size_t i = pos_;
      while (const void* nl = std::memchr(base + i, '\n', end - i)) {
        i = static_cast<std::size_t>(static_cast<const char*>(nl) - base);
        newLine(i++);
      }
    }
    pos_ = end;
  }
  void newLine(std::size_t at) {
    ++line_;
    lineStart_ = at + 1;
  }
  uint32_t column() const { return static_cast<uint32_t>(pos_ - lineStart_ + 1); }

  void emit(TokenKind kind, std::string_view text, std::size_t consumed,
            ScanProblem problem = ScanProblem::None) {
    out_.push_back(Token{text, line_, column(), kind, problem});
    consume(consumed);
  }
  // A token whose text is the `n` source bytes at the current position.
  void emitSource(TokenKind kind, std::size_t n) { emit(kind, src_.substr(pos_, n), n); }
  // The same for bytes known to hold no line feed (names, numbers, operators).
  void emitWord(TokenKind kind, std::size_t n) {
    out_.push_back(Token{src_.substr(pos_, n), line_, column(), kind, ScanProblem::None});
    pos_ += n;
  }

  // Skips whitespace; true when at least one byte was skipped.
  bool skipSpace() {
    std::size_t start = pos_;
    while (pos_ < size() && isTokenSpace(byteAt(pos_))) {
      if (src_[pos_] == '\n') newLine(pos_);
      ++pos_;
    }
    return pos_ != start;
  }

  void scanText();
  void scanOutput();
  void scanTag();
  void scanInlineComment();
  void scanLiquidBody();
  void scanRaw();
  void closeTag(TokenKind kind, std::size_t n);

  TokenKind scanExpression();
  void scanString();
  void scanNumber();
  void scanName();
  void scanPunctuation();

  std::string_view src_;
  TokenList& out_;
  std::size_t pos_ = 0;
  std::size_t lineStart_ = 0;
  uint32_t line_ = 1;
  Mode mode_ = Mode::Text;
  bool atTagName_ = false;  // the next expression token is the first of its tag
  bool liquidBody_ = false;
  bool rawPending_ = false;
};

// Literal text up to the next "{{" or "{%", then that opener.
void Scanner::scanText() {
  std::size_t i = pos_;
  for (;;) {
    const void* brace = std::memchr(src_.data() + i, '{', size() - i);
    if (!brace) {
      i = size();
      break;
    }
    i = static_cast<std::size_t>(static_cast<const char*>(brace) - src_.data());
    unsigned char next = byteAt(i + 1);
    if (next == '{' || next == '%') break;
    ++i;
  }
  if (i > pos_) emitSource(K::Text, i - pos_);
  if (pos_ >= size()) return;
  bool output = byteAt(pos_ + 1) == '{';
  bool trim = byteAt(pos_ + 2) == '-';
  if (output) {
    emitWord(trim ? K::OutputOpenTrim : K::OutputOpen, trim ? 3 : 2);
    mode_ = Mode::Output;
  } else {
    emitWord(trim ? K::TagOpenTrim : K::TagOpen, trim ? 3 : 2);
    mode_ = Mode::Tag;
    atTagName_ = true;
    liquidBody_ = false;
  }
}

void Scanner::scanOutput() {
  if (skipSpace() && pos_ >= size()) {
    emit(K::Invalid, {}, 0, ScanProblem::EndInOutput);
    return;
  }
  if (pos_ >= size()) return;
  unsigned char c = byteAt(pos_);
  if (c != '}' && c != '-') {
    scanExpression();
  } else if (startsAt(pos_, "}}")) {
    // "{{-}}": the one "-" is read as belonging to both delimiters.
    bool afterTrimOpen = !out_.empty() && out_.back().kind == K::OutputOpenTrim;
    emitWord(afterTrimOpen ? K::OutputCloseTrim : K::OutputClose, 2);
    mode_ = Mode::Text;
  } else if (startsAt(pos_, "-}}")) {
    emitWord(K::OutputCloseTrim, 3);
    mode_ = Mode::Text;
  } else {
    scanExpression();
  }
}

void Scanner::closeTag(TokenKind kind, std::size_t n) {
  emitWord(kind, n);
  mode_ = rawPending_ ? Mode::Raw : Mode::Text;
}

void Scanner::scanTag() {
  if (skipSpace() && pos_ >= size()) {
    emit(K::Invalid, {}, 0, ScanProblem::EndInTag);
    return;
  }
  if (pos_ >= size()) return;
  unsigned char c = byteAt(pos_);
  if (c == '-' && startsAt(pos_, "-%}")) return closeTag(K::TagCloseTrim, 3);
  if (c == '%' && startsAt(pos_, "%}")) return closeTag(K::TagClose, 2);
  if (c == '#') return scanInlineComment();
  TokenKind kind = scanExpression();
  if (atTagName_) {
    if (kind == K::KwRaw) rawPending_ = true;
    if (kind == K::KwLiquid) liquidBody_ = true;
  }
  atTagName_ = false;
}

// "#" starts a comment that runs to the tag's closer, whatever it holds.
void Scanner::scanInlineComment() {
  emit(K::Hash, {}, 1);
  std::size_t close = findTagClose(pos_);
  if (close == std::string_view::npos) {
    consume(size() - pos_);
    emit(K::Invalid, {}, 0, ScanProblem::EndInTag);
    return;
  }
  bool trim = close > pos_ && src_[close - 1] == '-';
  std::size_t closer = trim ? close - 1 : close;
  consume(closer - pos_);
  emitWord(trim ? K::TagCloseTrim : K::TagClose, trim ? 3 : 2);
  mode_ = Mode::Text;
}

// After the "liquid" keyword: everything up to the closer is one token.
void Scanner::scanLiquidBody() {
  if (startsAt(pos_, "%}") || startsAt(pos_, "-%}")) {
    bool trim = byteAt(pos_) == '-';
    emitWord(trim ? K::TagCloseTrim : K::TagClose, trim ? 3 : 2);
    mode_ = Mode::Text;
    liquidBody_ = false;
    return;
  }
  std::size_t close = findTagClose(pos_);
  std::size_t end = size();
  if (close != std::string_view::npos) end = close > pos_ && src_[close - 1] == '-' ? close - 1 : close;
  emitSource(K::LiquidBody, end - pos_);
}

// The body of a raw block runs to the first "{%" [-] [spaces/tabs] "endraw".
void Scanner::scanRaw() {
  auto skipBlanks = [this](std::size_t i) {
    while (byteAt(i) == ' ' || byteAt(i) == '\t') ++i;
    return i;
  };
  std::size_t open = pos_;
  for (;;) {
    open = src_.find("{%", open);
    if (open == std::string_view::npos) break;
    std::size_t word = skipBlanks(open + 2 + (byteAt(open + 2) == '-' ? 1 : 0));
    if (startsAt(word, "endraw")) break;
    open += 2;
  }
  mode_ = Mode::Text;
  if (open == std::string_view::npos) {
    emitSource(K::RawText, size() - pos_);
    return;
  }
  emitSource(K::RawText, open - pos_);
  bool trim = byteAt(pos_ + 2) == '-';
  emitWord(trim ? K::TagOpenTrim : K::TagOpen, trim ? 3 : 2);
  consume(skipBlanks(pos_) - pos_);
  emitWord(K::KwEndraw, 6);
  consume(skipBlanks(pos_) - pos_);
  if (startsAt(pos_, "-%}"))
    emitWord(K::TagCloseTrim, 3);
  else if (startsAt(pos_, "%}"))
    emitWord(K::TagClose, 2);
  rawPending_ = false;
}

// One token of an output or tag; `pos_` is on a byte that is not whitespace.
TokenKind Scanner::scanExpression() {
  unsigned char c = byteAt(pos_);
  if (c == '\'' || c == '"') {
    scanString();
  } else if (isDigit(c) || (c == '-' && isDigit(byteAt(pos_ + 1)))) {
    scanNumber();
  } else if (c == '-') {
    // A lone minus is a name, except in front of a closer it cannot belong to.
    bool beforeCloser = startsAt(pos_ + 1, "%}") || startsAt(pos_ + 1, "}}");
    if (beforeCloser)
      emit(K::Invalid, src_.substr(pos_, 1), 1, ScanProblem::UnknownCharacter);
    else
      emitWord(K::Identifier, 1);
  } else if (isNameStart(c)) {
    scanName();
  } else {
    scanPunctuation();
  }
  return out_.back().kind;
}

// A quoted string. It also ends, unterminated, in front of a closer, and in
// front of a bar that starts a filter while the string holds only whitespace.
void Scanner::scanString() {
  char quote = src_[pos_];
  std::size_t i = pos_ + 1;
  bool onlySpace = true;
  bool closed = false;
  while (i < size()) {
    unsigned char c = byteAt(i);
    if (c == '\\') {
      i = i + 2 < size() ? i + 2 : size();
      onlySpace = false;
      continue;
    }
    if (c == static_cast<unsigned char>(quote)) {
      closed = true;
      break;
    }
    if ((c == '%' || c == '-' || c == '}') &&
        (startsAt(i, "%}") || startsAt(i, "-%}") || startsAt(i, "-}}") || startsAt(i, "}}")))
      break;
    if (c == '|' && onlySpace) {
      std::size_t k = i + 1;
      while (byteAt(k) == ' ' || byteAt(k) == '\t') ++k;
      if (isNameStart(byteAt(k))) {
        while (isNameByte(byteAt(k))) ++k;
        while (byteAt(k) == ' ' || byteAt(k) == '\t') ++k;
        if (byteAt(k) != ':') break;
      }
    }
    if (!isLineSpace(c)) onlySpace = false;
    ++i;
  }
  std::string_view text = src_.substr(pos_ + 1, i - pos_ - 1);
  emit(K::String, text, i - pos_ + (closed ? 1 : 0));
}

void Scanner::scanNumber() {
  std::size_t i = pos_;
  if (byteAt(i) == '-') ++i;
  while (isDigit(byteAt(i))) ++i;
  TokenKind kind = K::Integer;
  if (byteAt(i) == '.' && isDigit(byteAt(i + 1))) {
    ++i;
    while (isDigit(byteAt(i))) ++i;
    kind = K::Float;
  }
  if (isNameStart(byteAt(i))) {
    while (isNameByte(byteAt(i))) ++i;
    kind = K::Identifier;
  }
  emitWord(kind, i - pos_);
}

void Scanner::scanName() {
  std::size_t i = pos_ + 1;
  for (;;) {
    unsigned char c = byteAt(i);
    if (isNameByte(c)) {
      ++i;
    } else if (c == '-') {
      // "-" belongs to the name unless it starts a closer.
      if (i + 2 < size() && (startsAt(i + 1, "%}") || startsAt(i + 1, "}}"))) break;
      ++i;
    } else {
      break;
    }
  }
  if (byteAt(i) == '?') ++i;
  std::string_view name = src_.substr(pos_, i - pos_);
  emitWord(keywordKind(name), name.size());
}

void Scanner::scanPunctuation() {
  unsigned char c = byteAt(pos_);
  unsigned char next = byteAt(pos_ + 1);
  switch (c) {
    case '|': return emitWord(K::Pipe, 1);
    case ',': return emitWord(K::Comma, 1);
    case ':': return emitWord(K::Colon, 1);
    case '(': return emitWord(K::LParen, 1);
    case ')': return emitWord(K::RParen, 1);
    case '[': return emitWord(K::LBracket, 1);
    case ']': return emitWord(K::RBracket, 1);
    case '.': {
      if (next != '.') return emitWord(K::Dot, 1);
      std::size_t i = pos_;
      while (byteAt(i) == '.') ++i;
      return emitWord(K::DotDot, i - pos_);
    }
    case '=': return next == '=' ? emitWord(K::Eq, 2) : emitWord(K::Equals, 1);
    case '!':
      if (next == '=') return emitWord(K::Ne, 2);
      return emit(K::Invalid, src_.substr(pos_, 1), 1, ScanProblem::Bang);
    case '<':
      if (next == '=') return emitWord(K::Le, 2);
      if (next == '>') return emitWord(K::Ne, 2);
      return emitWord(K::Lt, 1);
    case '>': return next == '=' ? emitWord(K::Ge, 2) : emitWord(K::Gt, 1);
    default: return emit(K::Invalid, src_.substr(pos_, 1), 1, ScanProblem::UnknownCharacter);
  }
}

}  // namespace

TokenKind keywordKind(std::string_view name) {
  if (name.size() < 2 || name.size() > kMaxKeywordLength) return K::Identifier;
  for (std::size_t i = kKeywordStart[name.size()]; i < kKeywordStart[name.size() + 1]; ++i) {
    std::string_view k = kKeywords[i].spelling;
    if (k[0] == name[0] && std::memcmp(k.data(), name.data(), name.size()) == 0) return kKeywords[i].kind;
  }
  return K::Identifier;
}

TokenList scanTemplate(std::string_view source, std::pmr::memory_resource* memory) {
  TokenList tokens(memory);
  tokens.reserve(source.size() / 8 + 16);  // most templates hold fewer; the list grows for the others
  Scanner(source, tokens).run();
  return tokens;
}

std::string_view scanMessage(const Token& token) {
  switch (token.problem) {
    case ScanProblem::None:
    case ScanProblem::UnknownCharacter: return token.text;
    case ScanProblem::Bang: return "Unexpected character: !";
    case ScanProblem::EndInOutput: return "Unexpected end of input in output";
    case ScanProblem::EndInTag: return "Unexpected end of input in tag";
  }
  return token.text;
}

}  // namespace mervalt

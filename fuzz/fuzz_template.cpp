// fuzz_template.cpp: the template front end alone (scanner and parser) on
// arbitrary bytes. Beyond not crashing, it checks what the renderer and the
// command line's diagnostics rely on: the token list ends with one
// EndOfInput and points into the text, a parse failure names a place inside
// the text, and a tree that parses is no deeper than the nesting bound allows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>

#include "memory/arena.h"
#include "parse/lexer.h"
#include "parse/parser.h"

namespace {

// Each level of block or expression nesting adds at most this many tree
// levels (a tag, its branch, the branch's body; a filter and its argument).
constexpr int kTreeLevelsPerNesting = 3;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "front end check failed: %s\n", what);
  std::abort();
}

bool inside(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

void checkTokens(std::string_view source) {
  auto tokens = mervalt::scanTemplate(source);
  if (tokens.empty() || tokens.back().kind != mervalt::TokenKind::EndOfInput) fail("no EndOfInput at the end");
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const mervalt::Token& t = tokens[i];
    if (t.kind == mervalt::TokenKind::EndOfInput && i + 1 != tokens.size()) fail("EndOfInput before the end");
    if (!t.text.empty() && !inside(t.text, source)) fail("token text outside the template");
    if (t.line < 1 || t.column < 1) fail("token position below 1:1");
  }
}

// A parse failure must name a line of the text, and a column at most one past
// that line's last byte (lines end at line feeds, columns count bytes).
void checkPosition(std::string_view source, uint32_t line, uint32_t column) {
  if (line < 1 || column < 1) fail("parse error position below 1:1");
  std::size_t start = 0;
  for (uint32_t l = 1; l < line; ++l) {
    std::size_t feed = source.find('\n', start);
    if (feed == std::string_view::npos) fail("parse error on a line the template does not have");
    start = feed + 1;
  }
  std::size_t end = source.find('\n', start);
  std::size_t length = (end == std::string_view::npos ? source.size() : end) - start;
  if (column > length + 1) fail("parse error beyond the end of its line");
}

int treeDepth(const mervalt::Node& node, int limit) {
  if (limit == 0) return 1;
  int deepest = 0;
  std::span<const mervalt::Node> args =
      node.kind == mervalt::NodeKind::Filter ? node.filterArgs() : std::span<const mervalt::Node>();
  for (std::span<const mervalt::Node> list : {node.children, args})
    for (const mervalt::Node& child : list) {
      int d = treeDepth(child, limit - 1);
      if (d > deepest) deepest = d;
    }
  return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view source(reinterpret_cast<const char*>(data), size);
  checkTokens(source);
  mervalt::HeapResource heap;
  mervalt::Arena arena(&heap);
  mervalt::NameTable names(arena.resource());
  try {
    const mervalt::Node& root = *mervalt::parseTemplate(source, arena, names).root;
    const int bound = kTreeLevelsPerNesting * (mervalt::kMaxParseDepth + 1);
    if (treeDepth(root, bound + 1) > bound) fail("syntax tree deeper than the nesting bound allows");
  } catch (const mervalt::ParseError& e) {
    checkPosition(source, e.line, e.column);
    if (e.message.empty()) fail("parse error without a message");
  } catch (const std::bad_alloc&) {
  }
  return 0;
}

// whitespace.cpp: whitespace control between siblings, trimming of the
// output, and the rule that erases blocks which wrote only whitespace.
#include "render/renderer.h"

namespace mervalt {
namespace {

// Block kinds: the flag acting on the text after them is their end tag's.
constexpr uint64_t kindBit(NodeKind k) { return uint64_t{1} << static_cast<unsigned>(k); }
constexpr uint64_t kBlockKinds = kindBit(NodeKind::If) | kindBit(NodeKind::Unless) | kindBit(NodeKind::For) |
                                 kindBit(NodeKind::Capture) | kindBit(NodeKind::Case) | kindBit(NodeKind::Tablerow) |
                                 kindBit(NodeKind::Raw) | kindBit(NodeKind::Comment) | kindBit(NodeKind::Doc);
static_assert(static_cast<unsigned>(NodeKind::FilteredExpression) < 64);

bool isBlockKind(NodeKind k) { return (kBlockKinds & kindBit(k)) != 0; }

bool allTrimSpace(std::string_view s) {
  for (char c : s)
    if (!isTrimSpace(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

Flow Renderer::renderChildrenWithTrim(std::span<const Node> nodes, bool trimFirst) {
  return renderTrimmed(nodes, trimFirst, false);
}

Flow Renderer::renderBranch(std::span<const Node> nodes, bool trim) {
  return renderTrimmed(nodes, trim, true);
}

// Siblings with whitespace control: a node's trim_left eats whitespace
// already written; the previous node's right flag eats the leading
// whitespace of a following text node. With `stopAtBranch`, rendering ends
// at the first elsif/else of an if chain.
Flow Renderer::renderTrimmed(std::span<const Node> nodes, bool trimNext, bool stopAtBranch) {
  chargeWork(nodes.size());
  for (const Node& node : nodes) {
    if (stopAtBranch && (node.kind == NodeKind::Elsif || node.kind == NodeKind::Else)) break;
    if (node.trimLeft) stripTrailingWhitespace();
    if (node.kind == NodeKind::Text) {
      if (trimNext && !node.text.content.empty()) {
        appendTrimmedLeft(node.text.content);
        trimNext = false;
      } else {
        output_.append(node.text.content);
        trimNext = node.trimRight;
      }
      continue;
    }
    Flow f = renderNode(node);
    if (f != Flow::Normal) return f;
    trimNext = isBlockKind(node.kind) ? node.endTrimRight : node.trimRight;
  }
  return Flow::Normal;
}

void Renderer::stripTrailingWhitespace(std::size_t floor) {
  if (floor < captureFloor_) floor = captureFloor_;
  std::size_t n = output_.size();
  const char* d = output_.data();
  while (n > floor && isTrimSpace(static_cast<unsigned char>(d[n - 1]))) --n;
  output_.truncate(n);
}

void Renderer::appendTrimmedLeft(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isTrimSpace(static_cast<unsigned char>(text[i]))) ++i;
  output_.append(text.substr(i));
}

void Renderer::stripEmptyBlockWhitespace(std::size_t start, std::span<const Node> nodes) {
  // Only output that is all whitespace can be erased; checking the bytes
  // first spares the walk over the block in the common cases.
  if (output_.size() <= start || !allTrimSpace(output_.from(start))) return;
  for (const Node& n : nodes)
    if (hasOutputNodesInNode(n)) return;
  output_.truncate(start);
}

bool Renderer::hasOutputNodesInNode(const Node& node) {
  switch (node.kind) {
    case NodeKind::Output:
    case NodeKind::Echo:
    case NodeKind::Cycle:
    case NodeKind::Raw: return true;
    case NodeKind::Text: return !allTrimSpace(node.text.content);
    case NodeKind::Capture: return false;
    default:
      for (const Node& child : node.children)
        if (hasOutputNodesInNode(child)) return true;
      return false;
  }
}

}  // namespace mervalt

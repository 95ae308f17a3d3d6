// conditionals.cpp: if/elsif/else, unless and case.
#include "render/tags/tags.h"

namespace mervalt::tags {
namespace {

constexpr std::string_view kUnknownOperator = "Liquid error (line 1): Unknown operator ";

bool isBranch(const Node& n) { return n.kind == NodeKind::Elsif || n.kind == NodeKind::Else; }

// The body of an if before its first elsif/else holds nothing but blank text
// and comments: an unknown operator in its condition is then not reported.
bool bodyIsSilent(std::span<const Node> body) {
  for (const Node& n : body) {
    if (isBranch(n)) break;
    if (n.kind == NodeKind::Comment || n.kind == NodeKind::InlineComment) continue;
    if (n.kind != NodeKind::Text) return false;
    for (char c : n.text.content)
      if (!isTrimSpace(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

const Node* firstBranch(std::span<const Node> nodes) {
  for (const Node& n : nodes)
    if (isBranch(n)) return &n;
  return nullptr;
}

// Finds the chosen elsif/else branch among `nodes` and renders it. `trim` is
// the right flag of the tag before the branch; it drops leading whitespace of
// the branch's first text.
Flow renderElsifChain(Renderer& r, std::span<const Node> nodes, bool trim) {
  for (;;) {
    const Node* branch = nullptr;
    for (const Node& n : nodes)
      if ((n.kind == NodeKind::Elsif && !n.children.empty()) || n.kind == NodeKind::Else) {
        branch = &n;
        break;
      }
    if (!branch) return Flow::Normal;
    if (branch->kind == NodeKind::Else)
      return r.renderChildrenWithTrim(branch->children, trim || branch->trimRight);
    const Node& cond = branch->children[0];
    std::string_view invalidOp = branch->condition.invalidOperator;
    bool truth;
    if (!invalidOp.empty()) {
      std::optional<Value> v = r.evaluateConditionWithInvalidOp(cond, invalidOp);
      if (!v) {
        r.output().append(kUnknownOperator);
        r.output().append(invalidOp);
        return Flow::Normal;
      }
      truth = isTruthy(*v);
    } else {
      truth = isTruthy(r.evaluate(cond));
    }
    if (truth) return r.renderBranch(branch->children.subspan(1), trim || branch->trimRight);
    nodes = branch->children;
    trim = branch->trimRight;
  }
}

Flow renderUnlessElsifChain(Renderer& r, const Node& first, bool trim) {
  const Node* node = &first;
  for (;;) {
    if (node->kind == NodeKind::Else) return r.renderChildrenWithTrim(node->children, trim || node->trimRight);
    if (node->kind != NodeKind::Elsif || node->children.empty()) return Flow::Normal;
    if (isTruthy(r.evaluate(node->children[0])))
      return r.renderBranch(node->children.subspan(1), trim || node->trimRight);
    const Node* next = firstBranch(node->children.subspan(1));
    if (!next) return Flow::Normal;
    trim = node->trimRight;
    node = next;
  }
}

}  // namespace

Flow renderIf(Renderer& r, const Node& node) {
  // if -> condition body... [Elsif | Else]
  if (node.children.empty()) return Flow::Normal;
  OutputBuffer& out = r.output();
  std::size_t start = out.size();
  const Node& cond = node.children[0];
  std::span<const Node> body = node.children.subspan(1);
  std::string_view invalidOp = node.condition.invalidOperator;
  bool invalid = !invalidOp.empty();
  bool truth;
  if (!invalid) {
    Value v = r.evaluate(cond);
    if (v.is(Kind::Error)) {
      out.append(v.str());
      return Flow::Normal;
    }
    truth = isTruthy(v);
  } else {
    std::optional<Value> v = r.evaluateConditionWithInvalidOp(cond, invalidOp);
    if (!v) {
      if (!bodyIsSilent(body)) {
        out.append(kUnknownOperator);
        out.append(invalidOp);
      }
      return Flow::Normal;
    }
    truth = isTruthy(*v);
  }
  Flow f = truth ? r.renderBranch(body, node.trimRight) : renderElsifChain(r, node.children, node.trimRight);
  if (f != Flow::Normal) return f;
  if (invalid) {
    if (node.endTrimLeft) r.stripTrailingWhitespace();
    return Flow::Normal;
  }
  if (node.endTrimLeft) r.stripTrailingWhitespace(start);
  r.stripEmptyBlockWhitespace(start, node.children);
  return Flow::Normal;
}

Flow renderUnless(Renderer& r, const Node& node) {
  // unless -> condition body... [Elsif | Else]
  if (node.children.empty()) return Flow::Normal;
  std::size_t start = r.output().size();
  Flow f = Flow::Normal;
  if (!isTruthy(r.evaluate(node.children[0]))) {
    f = r.renderBranch(node.children.subspan(1), node.trimRight);
  } else if (const Node* branch = firstBranch(node.children.subspan(1))) {
    if (branch->kind == NodeKind::Else) {
      f = r.renderChildrenWithTrim(branch->children, branch->trimRight || node.trimRight);
    } else if (!branch->children.empty()) {
      if (isTruthy(r.evaluate(branch->children[0]))) {
        f = r.renderBranch(branch->children.subspan(1), branch->trimRight || node.trimRight);
      } else if (const Node* next = firstBranch(branch->children.subspan(1))) {
        f = renderUnlessElsifChain(r, *next, branch->trimRight);
      }
    }
  }
  if (f != Flow::Normal) return f;
  if (node.endTrimLeft) r.stripTrailingWhitespace();
  r.stripEmptyBlockWhitespace(start, node.children);
  return Flow::Normal;
}

namespace {

bool caseMatches(const Value& subject, const Value& value) {
  if (subject.is(Kind::Empty)) return value.is(Kind::Empty);
  if (subject.is(Kind::Blank)) return value.is(Kind::Blank);
  return eql(subject, value);
}

// The body of a when/else: no whitespace control between its nodes, except
// that the tag's right trim drops the leading whitespace of a first text.
Flow renderWhenBody(Renderer& r, std::span<const Node> body, bool trimRight) {
  r.chargeWork(body.size());
  for (std::size_t i = 0; i < body.size(); ++i) {
    const Node& n = body[i];
    if (i == 0 && trimRight && n.kind == NodeKind::Text && !n.text.content.empty()) {
      r.appendTrimmedLeft(n.text.content);
      continue;
    }
    Flow f = r.renderNode(n);
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

}  // namespace

Flow renderCase(Renderer& r, const Node& node) {
  // case -> subject (When | Else)...
  if (node.children.empty()) return Flow::Normal;
  std::size_t start = r.output().size();
  Value subject = r.evaluate(node.children[0]);
  bool matched = false;
  for (const Node& child : node.children.subspan(1)) {
    if (child.kind == NodeKind::When) {
      if (child.trimLeft) r.stripTrailingWhitespace();
      std::size_t bodyStart = 0, matches = 0;
      while (bodyStart < child.children.size() && isExpressionKind(child.children[bodyStart].kind)) {
        if (caseMatches(subject, r.evaluate(child.children[bodyStart]))) ++matches;
        ++bodyStart;
      }
      for (std::size_t rep = 0; rep < matches; ++rep) {
        Flow f = renderWhenBody(r, child.children.subspan(bodyStart), child.trimRight);
        if (f != Flow::Normal) return f;
      }
      if (matches > 0) matched = true;
    } else if (child.kind == NodeKind::Else) {
      if (child.trimLeft) r.stripTrailingWhitespace();
      if (matched) continue;
      Flow f = renderWhenBody(r, child.children, child.trimRight);
      if (f != Flow::Normal) return f;
    }
  }
  if (node.endTrimLeft) r.stripTrailingWhitespace();
  r.stripEmptyBlockWhitespace(start, node.children);
  return Flow::Normal;
}

}  // namespace mervalt::tags

// node_checks.cpp: unknown-filter, filter-arguments, invalid-operator and
// unreachable-branch, each read off one node.
#include "check/node_checks.h"

#include "check/nearest_name.h"
#include "filters/filter_signatures.h"
#include "filters/filter_table.h"

namespace mervalt::check {
namespace {

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

class NodeChecker {
 public:
  explicit NodeChecker(std::vector<Finding>& out) : out_(out) {}

  void visit(const Node& n) {
    if (n.kind == NodeKind::Filter) checkFilter(n);
    if (n.kind == NodeKind::If || n.kind == NodeKind::Elsif) checkOperator(n);
    if (n.kind == NodeKind::Else) checkAfterElse(n);
    for (const Node& c : n.children) visit(c);
    if (n.kind == NodeKind::Filter)
      for (const Node& a : n.filterArgs()) visit(a);
  }

 private:
  void add(CheckCode code, SourcePosition at, std::string message, std::string suggestion = {}) {
    out_.push_back(Finding{code, at, std::move(message), std::move(suggestion), {}, {}});
  }

  void checkFilter(const Node& n) {
    if (n.filter.id == kUnknownFilter) return unknownFilter(n);
    const FilterSignature& s = filterSignature(n.filter.id);
    // A keyword the filter does not know takes a positional place, as nil:
    // reported as such, it is not also reported as a missing argument.
    std::size_t positional = 0;
    bool unknownKeywords = false;
    for (const Node& a : n.filterArgs()) {
      if (a.kind != NodeKind::NamedArgument) {
        ++positional;
      } else if (a.argument.key != s.keyword) {
        unknownKeyword(n, s, a);
        unknownKeywords = true;
      }
    }
    if ((positional < s.needs && !unknownKeywords) || positional > s.takes)
      add(CheckCode::FilterArguments, n.at,
          quoted(s.name) + " takes " + describeArity(s) + ", given " + std::to_string(positional));
  }

  void unknownFilter(const Node& n) {
    std::string message = "unknown filter " + quoted(n.filter.name) + ", which passes its input through";
    std::optional<std::string_view> near = nearestName(n.filter.name, filterNames());
    if (near) message += "; did you mean " + quoted(*near) + "?";
    add(CheckCode::UnknownFilter, n.at, std::move(message), std::string(near.value_or("")));
  }

  void unknownKeyword(const Node& n, const FilterSignature& s, const Node& a) {
    std::string message = quoted(s.name) + " has no keyword argument " + quoted(a.argument.key);
    std::string suggestion;
    if (!s.keyword.empty()) {
      std::string_view known[] = {s.keyword};
      if (std::optional<std::string_view> near = nearestName(a.argument.key, known)) suggestion = *near;
    }
    if (!suggestion.empty()) message += "; did you mean " + quoted(suggestion) + "?";
    add(CheckCode::FilterArguments, a.at.line ? a.at : n.at, std::move(message), std::move(suggestion));
  }

  // A token left after the condition: "&", "." or "|" cut the condition
  // short, anything else makes the render write an error instead.
  void checkOperator(const Node& n) {
    std::string_view op = n.condition.invalidOperator;
    if (op.empty()) return;
    std::string suggestion = op == "=" ? "==" : op.starts_with("&") ? "and" : op.starts_with("|") ? "or" : "";
    bool ignored = op[0] == '&' || op[0] == '.' || op[0] == '|';
    std::string message = quoted(op) + " is not an operator: " +
                          (ignored ? "the condition ends before it and the rest is ignored"
                                   : "the tag renders 'Liquid error (line 1): Unknown operator " + std::string(op) + "'");
    if (!suggestion.empty()) message += "; did you mean " + quoted(suggestion) + "?";
    add(CheckCode::InvalidOperator, n.at, std::move(message), std::move(suggestion));
  }

  // Nothing after an else renders: the branch chain ends there.
  void checkAfterElse(const Node& n) {
    for (const Node& c : n.children) {
      if (c.kind != NodeKind::Elsif && c.kind != NodeKind::Else) continue;
      add(CheckCode::UnreachableBranch, c.at,
          std::string(c.kind == NodeKind::Elsif ? "'elsif'" : "a second 'else'") + " after 'else' never renders");
      return;
    }
  }

  std::vector<Finding>& out_;
};

}  // namespace

std::vector<Finding> checkNodes(const Tree& tree) {
  std::vector<Finding> out;
  NodeChecker(out).visit(*tree.root);
  return out;
}

}  // namespace mervalt::check

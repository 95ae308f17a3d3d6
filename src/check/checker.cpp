// checker.cpp: parses the template, walks it with its partials, runs every
// check that is not disabled and puts the findings in file order.
#include "check/checker.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "check/nearest_name.h"
#include "check/node_checks.h"
#include "check/scope_checks.h"
#include "check/template_walk.h"
#include "memory/arena.h"
#include "parse/parser.h"

namespace mervalt::check {
namespace {

// Findings of one source (0: the template, n: the walk's partial n).
struct Located {
  uint32_t source;
  Finding finding;
};

void nameSource(const WalkRecord& r, uint32_t source, std::string& partial, std::string& file) {
  if (source == 0) return;
  const PartialEntry& e = *r.sources[source - 1];
  partial = e.name;
  file = e.file;
}

Finding syntaxFinding(const ParseError& e) {
  return Finding{CheckCode::Syntax, {e.line, e.column}, e.what(), {}, {}, {}};
}

// The tree checks of the template and of every partial the walk reached.
void addNodeFindings(const Tree& tree, const WalkRecord& r, std::vector<Located>& out) {
  for (Finding& f : checkNodes(tree)) out.push_back({0, std::move(f)});
  for (uint32_t s = 1; s <= r.sources.size(); ++s) {
    const PartialEntry& e = *r.sources[s - 1];
    if (e.error) out.push_back({s, syntaxFinding(*e.error)});
    if (e.tree)
      for (Finding& f : checkNodes(*e.tree)) out.push_back({s, std::move(f)});
  }
}

void addPlaced(std::vector<PlacedFinding> placed, std::vector<Located>& out) {
  for (PlacedFinding& p : placed)
    out.push_back({p.place.source, Finding{p.code, p.place.at, std::move(p.message), std::move(p.suggestion), {}, {}}});
}

void addMissing(const WalkRecord& r, PartialCatalog& catalog, std::vector<Located>& out) {
  std::vector<std::string_view> known = catalog.names();
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> seen;
  for (const MissingPartial& m : r.missing) {
    if (!seen.insert({m.place.source, m.place.at.line, m.place.at.column}).second) continue;
    std::string message = "no partial named '" + m.name + "': the tag writes 'Liquid error (line 1): Could not find asset " +
                          m.name + "'";
    std::optional<std::string_view> near = nearestName(m.name, known);
    if (near) message += "; did you mean '" + std::string(*near) + "'?";
    out.push_back({m.place.source, Finding{CheckCode::MissingPartial, m.place.at, std::move(message),
                                           std::string(near.value_or("")), {}, {}}});
  }
}

// Sorted by source, then place; the disabled codes dropped; partials named.
std::vector<Finding> finish(std::vector<Located> all, const WalkRecord& r, CodeSet disabled) {
  std::stable_sort(all.begin(), all.end(), [](const Located& a, const Located& b) {
    return std::tie(a.source, a.finding.at.line, a.finding.at.column) <
           std::tie(b.source, b.finding.at.line, b.finding.at.column);
  });
  std::vector<Finding> out;
  for (Located& l : all) {
    if (disabled & codeBit(l.finding.code)) continue;
    nameSource(r, l.source, l.finding.partial, l.finding.file);
    out.push_back(std::move(l.finding));
  }
  return out;
}

std::vector<DataPath> pathsOf(const WalkRecord& r) {
  std::vector<DataPath> out;
  std::set<std::string_view> seen;
  for (const PathRead& p : r.paths) {
    if (!seen.insert(p.path).second) continue;
    DataPath d{p.path, p.place.at, {}, {}};
    nameSource(r, p.place.source, d.partial, d.file);
    out.push_back(std::move(d));
  }
  return out;
}

}  // namespace

CheckResult checkTemplate(const CheckRequest& request) {
  HeapResource heap;
  Arena arena(&heap, request.source.size() * 4 + 4096);
  NameTable names(arena.resource());
  Tree tree;
  try {
    tree = parseTemplate(request.source, arena, names);
  } catch (const ParseError& e) {
    CheckResult failed;
    if (!(request.disabled & codeBit(CheckCode::Syntax))) failed.findings.push_back(syntaxFinding(e));
    return failed;
  }
  PartialCatalog none;
  PartialCatalog& catalog = request.partials ? *request.partials : none;
  WalkRecord record = walkTemplate(tree, catalog);
  std::vector<Located> all;
  addNodeFindings(tree, record, all);
  addMissing(record, catalog, all);
  if (request.data) addPlaced(findUndefinedVariables(record, *request.data), all);
  addPlaced(findUnusedAssigns(record), all);
  CheckResult result;
  result.paths = pathsOf(record);
  result.findings = finish(std::move(all), record, request.disabled);
  return result;
}

std::vector<DataPath> dataPaths(const Tree& tree, PartialCatalog& partials) {
  return pathsOf(walkTemplate(tree, partials));
}

}  // namespace mervalt::check

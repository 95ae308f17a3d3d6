// scope_checks.cpp: undefined-variable and unused-assign over a walk record.
#include "check/scope_checks.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "check/nearest_name.h"

namespace mervalt::check {
namespace {

bool isAssignment(BindKind k) { return k == BindKind::Assign || k == BindKind::Capture; }

// The widest loop around an event, whose span holds every other one.
const LoopSpan* outermost(const WalkRecord& r, uint32_t loop) {
  if (loop == kNone) return nullptr;
  while (r.loops[loop].parent != kNone) loop = r.loops[loop].parent;
  return &r.loops[loop];
}

// Whether the sorted `ats` hold one inside the loops around `loop`.
bool anyAround(const WalkRecord& r, const std::vector<uint32_t>& ats, uint32_t loop) {
  const LoopSpan* span = outermost(r, loop);
  if (!span) return false;
  auto it = std::lower_bound(ats.begin(), ats.end(), span->start);
  return it != ats.end() && *it <= span->end;
}

bool anyAfterOrAround(const WalkRecord& r, const std::vector<uint32_t>& ats, uint32_t at, uint32_t loop) {
  return !ats.empty() && (ats.back() > at || anyAround(r, ats, loop));
}

bool anyBeforeOrAround(const WalkRecord& r, const std::vector<uint32_t>& ats, uint32_t at, uint32_t loop) {
  return !ats.empty() && (ats.front() < at || anyAround(r, ats, loop));
}

// Where the events of one frame happen, in text order.
struct FrameIndex {
  std::map<std::pair<uint32_t, std::string_view>, std::vector<uint32_t>> reads;  // (frame, name)
  std::vector<std::vector<uint32_t>> opaque;                                     // by frame
};

FrameIndex indexOf(const WalkRecord& r) {
  FrameIndex index;
  index.opaque.resize(r.dynamicFrames.size());
  for (const Read& read : r.reads) index.reads[{read.frame, read.name}].push_back(read.at);
  for (const Opaque& o : r.opaque) index.opaque[o.frame].push_back(o.at);
  return index;
}

// Whether `b` binds the name for a read at `at` in the loops `loop`: before
// it and still in force, or anywhere in a loop around the read (a later
// iteration sees it).
bool binds(const WalkRecord& r, const Bind& b, uint32_t at, uint32_t loop) {
  if (b.at < at && (b.until == kNone || at <= b.until)) return true;
  return b.until == kNone && insideLoops(r, loop, b.at);
}

bool isBound(const WalkRecord& r, const Read& read) {
  auto it = r.bindsByName.find(read.name);
  if (it == r.bindsByName.end()) return false;
  for (uint32_t i : it->second) {
    const Bind& b = r.binds[i];
    if (b.frame == read.frame && binds(r, b, read.at, read.loop)) return true;
  }
  return false;
}

// Names bound for the read, and the data's top-level names.
std::vector<std::string_view> namesInScope(const WalkRecord& r, const Read& read, const Value& data) {
  std::set<std::string_view> names;
  for (const Bind& b : r.binds)
    if (b.frame == read.frame && binds(r, b, read.at, read.loop)) names.insert(b.name);
  if (data.is(Kind::Object))
    for (std::size_t i = 0; i < data.map().size(); ++i) names.insert(data.map().keyAt(i));
  return {names.begin(), names.end()};
}

PlacedFinding undefinedFinding(const WalkRecord& r, const Read& read, const Value& data) {
  std::string name(read.name);
  PlacedFinding f{CheckCode::UndefinedVariable, read.place,
                  "'" + name + "' is not defined here: nothing assigns it before this and the data has no '" + name +
                      "'",
                  {}};
  std::vector<std::string_view> names = namesInScope(r, read, data);
  if (std::optional<std::string_view> near = nearestName(read.name, names)) {
    f.suggestion = *near;
    f.message += "; did you mean '" + f.suggestion + "'?";
  }
  return f;
}

// Whether anything after `b` (or in a loop around it) may read its name: a
// read of it, or an include the walk could not follow.
bool isRead(const WalkRecord& r, const Bind& b, const FrameIndex& index) {
  if (r.dynamicFrames[b.frame]) return true;
  auto reads = index.reads.find({b.frame, b.name});
  if (reads != index.reads.end() && anyAfterOrAround(r, reads->second, b.at, b.loop)) return true;
  return anyAfterOrAround(r, index.opaque[b.frame], b.at, b.loop);
}

using PlaceKey = std::tuple<uint32_t, uint32_t, uint32_t>;
PlaceKey keyOf(const Place& p) { return {p.source, p.at.line, p.at.column}; }

}  // namespace

std::vector<PlacedFinding> findUndefinedVariables(const WalkRecord& record, const Value& data) {
  FrameIndex index = indexOf(record);
  std::vector<PlacedFinding> out;
  std::set<PlaceKey> seen;
  for (const Read& read : record.reads) {
    if (!read.reported || get(data, read.name).has_value()) continue;
    if (anyBeforeOrAround(record, index.opaque[read.frame], read.at, read.loop) || isBound(record, read)) continue;
    if (!seen.insert(keyOf(read.place)).second) continue;
    out.push_back(undefinedFinding(record, read, data));
  }
  return out;
}

std::vector<PlacedFinding> findUnusedAssigns(const WalkRecord& record) {
  FrameIndex index = indexOf(record);
  // A partial walked from several places: its assignment counts as read
  // when any of them reads it.
  std::map<PlaceKey, std::pair<const Bind*, bool>> assignments;
  for (const Bind& b : record.binds) {
    if (!isAssignment(b.kind) || b.name.empty() || b.name.front() == '_') continue;
    auto [it, added] = assignments.try_emplace(keyOf(b.place), &b, false);
    it->second.second = it->second.second || isRead(record, b, index);
  }
  std::vector<PlacedFinding> out;
  for (const auto& [key, entry] : assignments) {
    if (entry.second) continue;
    const Bind& b = *entry.first;
    std::string verb = b.kind == BindKind::Capture ? "captured" : "assigned";
    out.push_back({CheckCode::UnusedAssign, b.place, "'" + std::string(b.name) + "' is " + verb +
                                                         " here and never read afterwards", {}});
  }
  return out;
}

}  // namespace mervalt::check

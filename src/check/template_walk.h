// template_walk.h: one walk of a template in text order that follows include
// and render into the partials they name (literal names only) and records
// what the scope checks and the data paths need: every name read and bound,
// its frame (a render starts a new one), its place in text order and the
// loops around it, and the points after which nothing can be known.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "check/partial_catalog.h"
#include "parse/node.h"

namespace mervalt::check {

inline constexpr uint32_t kNone = UINT32_MAX;

// A place in the template (source 0) or in the partial walked as source n.
struct Place {
  uint32_t source;
  SourcePosition at;
};

enum class BindKind : uint8_t { Assign, Capture, Counter, LoopVariable, LoopObject, Argument };

struct Bind {
  std::string_view name;
  uint32_t frame;
  uint32_t at;     // the bind's number in text order
  uint32_t until;  // where a scoped bind (loop variable, argument) ends; kNone while in force
  uint32_t loop;   // the innermost loop of the frame around it, or kNone
  Place place;
  BindKind kind;
  bool hasAlias;      // it stands for a data path:
  std::string alias;  // "products[]" for the variable of a loop over products
};

struct Read {
  std::string_view name;
  uint32_t frame;
  uint32_t at;
  uint32_t loop;
  Place place;
  bool reported;  // false for reads the author does not write as names (a cycle's group, an include's store)
};

// A loop body in text order, inside its parent loop of the same frame.
struct LoopSpan {
  uint32_t start;
  uint32_t end;
  uint32_t parent;
};

// An include of a template the walk cannot follow: it may read and bind anything.
struct Opaque {
  uint32_t frame;
  uint32_t at;
  uint32_t loop;
};

struct PathRead {
  std::string path;
  Place place;
};

struct MissingPartial {
  Place place;
  std::string name;
};

struct WalkRecord {
  std::vector<Bind> binds;
  std::vector<Read> reads;
  std::vector<LoopSpan> loops;
  std::vector<Opaque> opaque;
  std::vector<PathRead> paths;  // data paths in the order read
  std::vector<MissingPartial> missing;
  std::vector<bool> dynamicFrames;  // a frame that looks up a name it computes ({{ [key] }})
  std::vector<PartialEntry*> sources;  // source n > 0 is sources[n - 1]
  std::unordered_map<std::string_view, std::vector<uint32_t>> bindsByName;
};

// Walks `tree` (source 0) and the partials of `catalog` that it reaches.
WalkRecord walkTemplate(const Tree& tree, PartialCatalog& catalog);

// Whether `at` lies inside `loop` or a loop around it.
bool insideLoops(const WalkRecord& r, uint32_t loop, uint32_t at);

}  // namespace mervalt::check

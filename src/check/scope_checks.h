// scope_checks.h: the two checks that follow names through a walk record:
// names read where nothing binds them (undefined-variable) and variables
// assigned that nothing reads afterwards (unused-assign).
#pragma once

#include <string>
#include <vector>

#include "check/finding.h"
#include "check/template_walk.h"
#include "data/value.h"

namespace mervalt::check {

struct PlacedFinding {
  CheckCode code;
  Place place;
  std::string message;
  std::string suggestion;
};

// Reads that nothing earlier in text order binds (nor a bind anywhere in a
// loop around the read), and that `data` has no key for. Silent in a frame
// after an include the walk could not follow.
std::vector<PlacedFinding> findUndefinedVariables(const WalkRecord& record, const Value& data);

// assign and capture targets that no read after them (or anywhere in a loop
// around them) names, nor an include the walk could not follow, nor a
// computed name lookup. Names that begin with "_" are meant to go unread.
std::vector<PlacedFinding> findUnusedAssigns(const WalkRecord& record);

}  // namespace mervalt::check

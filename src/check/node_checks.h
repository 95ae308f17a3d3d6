// node_checks.h: the checks one syntax tree answers by itself, node by node:
// unknown filters, filter arguments, invalid operators in conditions and
// branches that can never render.
#pragma once

#include <vector>

#include "check/finding.h"
#include "parse/node.h"

namespace mervalt::check {

// Findings of `tree`, without `partial` and `file` (the caller knows them).
std::vector<Finding> checkNodes(const Tree& tree);

}  // namespace mervalt::check

// filter_table.h: the names of the filter table, as the parser and the
// template checker see it: a name's number, and what the renderer will be
// able to do with it. Nothing here depends on the renderer.
#pragma once

#include <span>
#include <string_view>

#include "parse/node.h"

namespace mervalt {

// The number of a filter name, or kUnknownFilter for a name that is not in
// the table (exact, case-sensitive match).
FilterId findFilterId(std::string_view name);

// Whether the filter can write its result straight into the output when it
// is the last filter of an output.
bool filterEmits(FilterId id);

// Every name of the table, in table order (a name's number is its index).
std::span<const std::string_view> filterNames();

}  // namespace mervalt

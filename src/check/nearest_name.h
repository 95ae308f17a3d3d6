// nearest_name.h: the "did you mean" of the checker: the known name closest
// to a misspelt one, within two edits.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace mervalt::check {

// Edits between two names: insertions, deletions, substitutions and swaps
// of neighbours, each one edit; anything above `cap` reads as cap + 1.
std::size_t editDistance(std::string_view a, std::string_view b, std::size_t cap);

// The candidate fewest edits from `name` (at most two, and fewer than the
// name has bytes, so that "a" does not suggest "b"); the first such in the
// list on a tie. Nothing when `name` itself is a candidate.
std::optional<std::string_view> nearestName(std::string_view name, std::span<const std::string_view> candidates);

}  // namespace mervalt::check

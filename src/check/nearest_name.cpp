// nearest_name.cpp: bounded edit distance and the closest known name.
#include "check/nearest_name.h"

#include <algorithm>
#include <vector>

namespace mervalt::check {

// Optimal string alignment over three rows; names are short.
std::size_t editDistance(std::string_view a, std::string_view b, std::size_t cap) {
  std::size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (gap > cap) return cap + 1;
  std::vector<std::size_t> before(b.size() + 1), prev(b.size() + 1), cur(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    cur[0] = i;
    std::size_t rowMin = cur[0];
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) cur[j] = std::min(cur[j], before[j - 2] + 1);
      rowMin = std::min(rowMin, cur[j]);
    }
    if (rowMin > cap) return cap + 1;
    std::swap(before, prev);
    std::swap(prev, cur);
  }
  return std::min(prev[b.size()], cap + 1);
}

std::optional<std::string_view> nearestName(std::string_view name, std::span<const std::string_view> candidates) {
  constexpr std::size_t kMaxEdits = 2;
  std::optional<std::string_view> best;
  std::size_t bestDistance = kMaxEdits + 1;
  for (std::string_view c : candidates) {
    if (c == name) return std::nullopt;
    std::size_t d = editDistance(name, c, kMaxEdits);
    if (d < bestDistance && d < name.size()) {
      best = c;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace mervalt::check

// counters.cpp: counters, cycle positions and ifchanged's memory.
#include "render/counters.h"

namespace mervalt {

int64_t Counters::step(std::string_view name, bool up) {
  if (!counters_) counters_ = arena_.make<NameMap<int64_t>>(arena_.resource());
  auto it = counters_->try_emplace(name, 0).first;
  // Unsigned steps: a counter cannot overflow into undefined behaviour.
  uint64_t current = static_cast<uint64_t>(it->second);
  it->second = static_cast<int64_t>(up ? current + 1 : current - 1);
  return static_cast<int64_t>(up ? current : current - 1);
}

std::optional<int64_t> Counters::find(std::string_view name) const {
  if (!counters_) return std::nullopt;
  auto it = counters_->find(name);
  if (it == counters_->end()) return std::nullopt;
  return it->second;
}

uint64_t& Counters::cyclePosition(std::string_view key) {
  if (!cycles_) cycles_ = arena_.make<NameMap<uint64_t>>(arena_.resource());
  auto it = cycles_->find(key);
  if (it == cycles_->end()) it = cycles_->emplace(arena_.copy(key), 0).first;
  return it->second;  // elements stay put when the map rehashes
}

bool Counters::ifchangedRepeats(std::string_view written) {
  if (ifchangedLast_ && *ifchangedLast_ == written) return true;
  ifchangedLast_ = arena_.copy(written);
  return false;
}

}  // namespace mervalt

// counters.h: the state that increment/decrement, cycle and ifchanged keep
// through a render. A rendered template starts with counters and cycle
// positions of its own; ifchanged's memory is shared by all.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "memory/arena.h"
#include "parse/names.h"

namespace mervalt {

class Counters {
 public:
  explicit Counters(Arena& arena) : arena_(arena) {}

  // increment (`up`) or decrement the counter `name`; the value to write.
  int64_t step(std::string_view name, bool up);
  // The counter's value, when the running frame has one of that name.
  std::optional<int64_t> find(std::string_view name) const;

  // The position of the cycle group `key` in the running frame (0 at first),
  // a place that stays put while the frame runs. `key` is copied when new.
  uint64_t& cyclePosition(std::string_view key);
  // Identifies the running frame's cycle positions, so that a position
  // remembered in a node's memo is used only in the frame it belongs to.
  const void* cycleFrame() const { return cycles_; }

  // Whether `written` repeats what the last ifchanged block wrote; if not,
  // it becomes the text to compare the next one with.
  bool ifchangedRepeats(std::string_view written);

  // For the lifetime of a render tag: counters and cycle positions of its
  // own, the caller's back afterwards.
  class Isolated {
   public:
    explicit Isolated(Counters& c) : c_(c), counters_(c.counters_), cycles_(c.cycles_) {
      c.counters_ = nullptr;
      c.cycles_ = nullptr;
    }
    ~Isolated() {
      c_.counters_ = counters_;
      c_.cycles_ = cycles_;
    }
    Isolated(const Isolated&) = delete;
    Isolated& operator=(const Isolated&) = delete;

   private:
    Counters& c_;
    NameMap<int64_t>* counters_;
    NameMap<uint64_t>* cycles_;
  };

 private:
  Arena& arena_;
  // Made on first use.
  NameMap<int64_t>* counters_ = nullptr;
  NameMap<uint64_t>* cycles_ = nullptr;
  std::optional<std::string_view> ifchangedLast_;
};

}  // namespace mervalt

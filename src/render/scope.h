// scope.h: the renderer's variables, kept by name number, and the frames
// that let a rendered template start with none of its caller's variables.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "data/value.h"

namespace mervalt {

// One variable's place. A value counts only in the frame that set it; a
// frame records a place the first time it changes it, so that leaving the
// frame puts back what its caller had.
struct Binding {
  Value value;
  uint32_t frame = 0;    // the frame whose value this is; 0 = not set
  uint32_t touched = 0;  // the last frame that recorded this place
};

class Scope {
 public:
  explicit Scope(std::pmr::memory_resource* mr) : slots_(mr), undo_(mr) {}

  // Makes room for names numbered below `n`.
  void resize(std::size_t n) {
    if (n > slots_.size()) slots_.resize(n);
  }

  const Value* find(uint32_t slot) const {
    const Binding& b = slots_[slot];
    return b.frame == frame_ ? &b.value : nullptr;
  }
  void set(uint32_t slot, const Value& v) {
    Binding& b = record(slot);
    b.value = v;
    b.frame = frame_;
  }
  void erase(uint32_t slot) { record(slot).frame = 0; }

  // The place as it is, to be put back exactly with restore().
  Binding save(uint32_t slot) const { return slots_[slot]; }
  void restore(uint32_t slot, const Binding& saved) {
    Binding& b = record(slot);
    b.value = saved.value;
    b.frame = saved.frame;
  }

  // A frame in which no variable of the enclosing frames is visible; when
  // it ends, every place it changed is as it was.
  class Isolated {
   public:
    explicit Isolated(Scope& s) : s_(s), outer_(s.frame_), mark_(s.undo_.size()) { s.frame_ = ++s.lastFrame_; }
    ~Isolated() {
      while (s_.undo_.size() > mark_) {
        const Undo& u = s_.undo_.back();
        s_.slots_[u.slot] = u.before;
        s_.undo_.pop_back();
      }
      s_.frame_ = outer_;
    }
    Isolated(const Isolated&) = delete;
    Isolated& operator=(const Isolated&) = delete;

   private:
    Scope& s_;
    uint32_t outer_;
    std::size_t mark_;
  };

 private:
  struct Undo {
    uint32_t slot;
    Binding before;
  };

  Binding& record(uint32_t slot) {
    Binding& b = slots_[slot];
    if (b.touched != frame_ && frame_ != kOutermost) {
      undo_.push_back(Undo{slot, b});
      b.touched = frame_;
    }
    return b;
  }

  static constexpr uint32_t kOutermost = 1;
  std::pmr::vector<Binding> slots_;
  std::pmr::vector<Undo> undo_;
  uint32_t frame_ = kOutermost;
  uint32_t lastFrame_ = kOutermost;
};

}  // namespace mervalt

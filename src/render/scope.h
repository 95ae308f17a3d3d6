// scope.h: the renderer's variables, kept by name number, and the frames
// that let a rendered template start with none of its caller's variables.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <span>
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

// Bindings waiting for an included template: the place of a name, the value
// it gets, and what the place held before (for the forms that put it back).
// Every running include tag keeps its own on one shared stack, from the
// height the stack had when the tag began.
struct PendingBinding {
  uint32_t slot;
  Value value;
  Binding saved;
};

class BindingStack {
 public:
  explicit BindingStack(std::pmr::memory_resource* mr) : items_(mr) {}
  std::size_t height() const { return items_.size(); }
  void push(const PendingBinding& b) { items_.push_back(b); }
  // The bindings from `base` up.
  std::span<PendingBinding> from(std::size_t base) {
    return std::span<PendingBinding>(items_).subspan(base);
  }
  void cutTo(std::size_t base) { items_.resize(base); }

 private:
  std::pmr::vector<PendingBinding> items_;
};

// The bindings of running include tags, which hide every other scope while
// the included template renders; few, and searched from the most recent.
class Locals {
 public:
  explicit Locals(std::pmr::memory_resource* mr) : bound_(mr) {}

  bool empty() const { return bound_.empty(); }
  const Value* find(uint32_t slot) const {
    for (std::size_t i = bound_.size(); i-- > 0;)
      if (bound_[i].slot == slot) return &bound_[i].value;
    return nullptr;
  }
  // Binds `slot`, replacing its binding if it has one.
  void bind(uint32_t slot, const Value& v) {
    for (Bound& b : bound_) {
      if (b.slot == slot) {
        b.value = v;
        return;
      }
    }
    bound_.push_back(Bound{slot, v});
  }
  // Removes the binding of `slot` (whoever made it).
  void unbind(uint32_t slot) {
    for (std::size_t i = bound_.size(); i-- > 0;) {
      if (bound_[i].slot == slot) {
        bound_.erase(bound_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }

 private:
  struct Bound {
    uint32_t slot;
    Value value;
  };
  std::pmr::vector<Bound> bound_;
};

}  // namespace mervalt

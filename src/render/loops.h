// loops.h: the running for and tablerow loops of a render, the objects their
// bodies read (forloop, tablerowloop), and where loops stopped for
// offset: continue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <string_view>
#include <vector>

#include "data/value.h"
#include "memory/arena.h"
#include "parse/names.h"
#include "parse/node.h"

namespace mervalt {

// One running iteration of a for loop; the other members of the forloop
// object follow from the position and the length.
struct LoopRecord {
  LoopRecord(int64_t i, int64_t n, std::string_view loopName) : index0(i), length(n), name(loopName) {}

  int64_t index0, length;
  std::string_view name;  // loop variable, "-", continue key
  Value object = {};      // the forloop object once built, shared by every access in this iteration

  int64_t index() const { return index0 + 1; }
  int64_t rindex() const { return length - index0; }
  int64_t rindex0() const { return length - index0 - 1; }
  bool first() const { return index0 == 0; }
  bool last() const { return index0 + 1 == length; }
};

// One running cell of a tablerow loop.
struct TablerowInfo {
  int64_t col, col0, row, index, index0, length, rindex, rindex0;
  bool colFirst, colLast, first, last;
  Value object = {};  // the tablerowloop object once built, shared by every access in this cell
};

// The keys of a forloop object, and of one that also names its parent loop's
// record (read back by `forloop.parentloop`).
inline constexpr std::string_view kForloopKeys[] = {"index",  "index0", "first",   "last",
                                                    "length", "rindex", "rindex0", "name",
                                                    "_parentloop_index"};
inline constexpr Shape kForloopShape{kForloopKeys, 8};
inline constexpr Shape kForloopShapeWithParent{kForloopKeys, 9};

class Loops {
 public:
  explicit Loops(Arena& arena)
      : arena_(arena), forLoops_(arena.resource()), tablerows_(arena.resource()), stops_(arena.resource()) {}

  // ---- for loops ----
  // Starts a loop of `length` iterations named `name`; returns its place.
  std::size_t begin(int64_t length, std::string_view name) {
    forLoops_.emplace_back(0, length, name);
    return forLoops_.size() - 1;
  }
  // Moves the loop at `place` to its iteration `index0`.
  void moveTo(std::size_t place, int64_t index0) {
    LoopRecord& r = forLoops_[place];
    r.index0 = index0;
    r.object = Value();
  }
  void end() { forLoops_.pop_back(); }
  // The loops the running template sees (a rendered template sees none of
  // its caller's).
  std::size_t visible() const { return forLoops_.size() - base_; }
  // The forloop object of visible loop `k` (0 = outermost); nil when there
  // is none.
  Value forloopObject(std::size_t k);
  // A member of the innermost visible loop's forloop object, answered
  // without building it; nothing for members it does not answer directly.
  std::optional<Value> member(ForloopMember m);

  // ---- tablerow ----
  void beginCell(const TablerowInfo& info) { tablerows_.push_back(info); }
  void endCell() { tablerows_.pop_back(); }
  bool inTablerow() const { return !tablerows_.empty(); }
  Value tablerowloopObject();

  // ---- offset: continue ----
  // Where the loop named `key` stopped last (0 at first): a place that
  // stays put for the whole render. `key` is copied when new.
  struct Stop {
    std::string_view key;
    uint64_t position;
  };
  Stop& stopOf(std::string_view key);

  // Whether a loop object was built since the last call (an output that
  // built one must keep its memory).
  bool takeObjectBuilt() {
    bool built = objectBuilt_;
    objectBuilt_ = false;
    return built;
  }

  // For the lifetime of a render tag: the running loops are hidden.
  class Hidden {
   public:
    explicit Hidden(Loops& l) : l_(l), base_(l.base_) { l.base_ = l.forLoops_.size(); }
    ~Hidden() { l_.base_ = base_; }
    Hidden(const Hidden&) = delete;
    Hidden& operator=(const Hidden&) = delete;

   private:
    Loops& l_;
    std::size_t base_;
  };

 private:
  Arena& arena_;
  std::pmr::vector<LoopRecord> forLoops_;
  std::size_t base_ = 0;
  std::pmr::vector<TablerowInfo> tablerows_;
  NameMap<Stop*> stops_;
  bool objectBuilt_ = false;
};

}  // namespace mervalt

// memo.h: what one render learns about the nodes of one tree. A tree is
// immutable; each render keeps a table with one entry per node that asked
// for one when it was parsed (MemoId), so that a lookup or a tag can start
// from what it found the last time.
#pragma once

#include <cstdint>

#include "data/value.h"
#include "memory/arena.h"

namespace mervalt {

struct NodeMemo {
  // Variable, Property, Include/Render: where an object lookup of the name
  // found it last.
  LookupCache lookup;
  // For: its offset: continue slot; Cycle: its position; Include/Render:
  // the other template found last.
  void* state = nullptr;
};

// A table for `count` nodes, in `arena`.
inline NodeMemo* newMemoTable(Arena& arena, uint32_t count) {
  NodeMemo* table = arena.allocArray<NodeMemo>(count);
  for (uint32_t i = 0; i < count; ++i) new (&table[i]) NodeMemo();
  return table;
}

}  // namespace mervalt

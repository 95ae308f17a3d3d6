// output.cpp: the render output buffer.
#include "render/output.h"

#include <cstdint>
#include <algorithm>
#include <new>

#include "memory/arena.h"

namespace mervalt {

namespace {

// The growth step: capacity plus half of it plus 128, saturating.
std::size_t nextCapacity(std::size_t cap) {
  std::size_t step = cap / 2 + 128;
  return cap > SIZE_MAX - step ? SIZE_MAX : cap + step;
}

}  // namespace

void OutputBuffer::reserveForNodes(std::size_t topLevelNodes) {
  std::size_t target = topLevelNodes > SIZE_MAX / 256 ? SIZE_MAX : topLevelNodes * 256;
  if (target < 4096) target = 4096;
  std::size_t cap = cap_;
  while (cap < target) cap = nextCapacity(cap);
  try {
    setCapacity(cap);
  } catch (const std::bad_alloc&) {
    // A failed reservation is harmless: the buffer grows on demand.
  }
}

void OutputBuffer::grow(std::size_t extra) {
  if (extra > limit_ - len_) throw LimitExceeded(LimitKind::Output, limit_, defaultLimit_);
  std::size_t need = len_ + extra;
  std::size_t cap = cap_;
  while (cap < need) cap = nextCapacity(cap);
  setCapacity(cap);
}

void OutputBuffer::setCapacity(std::size_t cap) {
  if (cap > limit_) cap = std::max<std::size_t>(limit_, len_);
  heap_.charge(cap > cap_ ? cap - cap_ : 0);
  void* p = std::realloc(data_, cap == 0 ? 1 : cap);
  if (!p) throw std::bad_alloc();
  data_ = static_cast<char*>(p);
  cap_ = cap;
}

std::pair<char*, std::size_t> OutputBuffer::detach() {
  if (len_ == 0) {
    std::free(data_);
    data_ = nullptr;
    cap_ = 0;
    return {nullptr, 0};
  }
  if (cap_ != len_) {
    heap_.charge(0);
    if (void* p = std::realloc(data_, len_)) data_ = static_cast<char*>(p);
  }
  std::pair<char*, std::size_t> result{data_, len_};
  data_ = nullptr;
  len_ = cap_ = 0;
  return result;
}

}  // namespace mervalt

// arena.cpp: the arena's blocks and the counting heap below them.
#include "memory/arena.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "memory/thread_cache.h"

namespace mervalt {

void* HeapResource::do_allocate(std::size_t bytes, std::size_t align) {
  if (align > kBlockAlign) throw std::bad_alloc();
  charge(bytes);
  try {
    return takeBlock(bytes);
  } catch (...) {
    release(bytes);
    throw;
  }
}

void HeapResource::do_deallocate(void* p, std::size_t bytes, std::size_t) {
  release(bytes);
  returnBlock(p, bytes);
}

// Before the first block, the arena points at this empty block, so that a
// request of zero bytes still gets a non-null address.
namespace {
alignas(64) char kNoBlock[1];
}  // namespace

Arena::Arena(std::pmr::memory_resource* upstream, std::size_t sizeHint)
    : upstream_(upstream),
      cur_(kNoBlock),
      end_(kNoBlock),
      nextSize_(std::bit_ceil(std::clamp(sizeHint, kMinBlockBytes, std::size_t{1} << 40))) {}

Arena::~Arena() {
  releaseBlocksAfter(nullptr);
  releaseOwnBlocksAfter(0);
}

// Starts a new block for the request: the next size in the doubling
// sequence. A request larger than that gets a block of its own, of its own
// size, so that a large text or list is charged what it takes; allocation
// goes on in the block it was in.
void* Arena::allocateSlow(std::size_t bytes, std::size_t align) {
  if (bytes > SIZE_MAX / 4 || align > kBlockAlign) throw std::bad_alloc();
  std::size_t need = bytes + align + sizeof(Block);
  if (need > nextSize_ && bytes >= kOwnBlockFloor) return allocateOwnBlock(bytes, align);
  std::size_t size = nextSize_;
  while (size < need) size *= 2;
  auto* b = static_cast<Block*>(upstream_->allocate(size, kBlockAlign));
  *b = Block{blocks_, size, 0, nullptr};
  blocks_ = b;
  cur_ = reinterpret_cast<char*>(b + 1);
  end_ = reinterpret_cast<char*>(b) + size;
  if (nextSize_ < (std::size_t{1} << 30)) nextSize_ *= 2;
  return allocate(bytes, align);
}

void* Arena::allocateOwnBlock(std::size_t bytes, std::size_t align) {
  std::size_t need = bytes + align + sizeof(Block);
  std::size_t size = (need + kMinBlockBytes - 1) / kMinBlockBytes * kMinBlockBytes;
  auto* b = static_cast<Block*>(upstream_->allocate(size, kBlockAlign));
  char* p = reinterpret_cast<char*>(b + 1);
  p += (align - reinterpret_cast<uintptr_t>(p)) & (align - 1);
  *b = Block{own_, size, ++ownMade_, p};
  own_ = b;
#ifdef MERVALT_ASAN
  ASAN_UNPOISON_MEMORY_REGION(p, bytes);
#endif
  return p;
}

void Arena::releaseBlocksAfter(const void* block) {
  while (blocks_ && blocks_ != block) {
    Block* b = blocks_;
    blocks_ = b->previous;
    upstream_->deallocate(b, b->size, kBlockAlign);
  }
}

void Arena::releaseOwnBlocksAfter(uint64_t number) {
  while (own_ && own_->number > number) {
    Block* b = own_;
    own_ = b->previous;
    upstream_->deallocate(b, b->size, kBlockAlign);
  }
}

void Arena::releaseOwnBlock(void* payload) {
  for (Block** link = &own_; *link; link = &(*link)->previous) {
    Block* b = *link;
    if (b->payload != payload) continue;
    *link = b->previous;
    upstream_->deallocate(b, b->size, kBlockAlign);
    return;
  }
}

}  // namespace mervalt

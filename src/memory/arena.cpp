// arena.cpp: the arena's blocks, the per-thread cache they come from, and the
// counting heap below them.
#include "memory/arena.h"

#include <algorithm>
#include <bit>
#include <cstdlib>


namespace mervalt {
namespace {

constexpr std::size_t kMinBlock = std::size_t{64} << 10;
constexpr std::size_t kBlockAlign = 64;

bool isCacheableBlock(std::size_t bytes) {
  return bytes >= kMinBlock && bytes <= kMaxCachedBlockBytes && std::has_single_bit(bytes);
}

// Marks memory that sits in the cache as unusable, so that AddressSanitizer
// reports any use of a block after its arena has died.
void poison(void* p, std::size_t n) {
#ifdef MERVALT_ASAN
  ASAN_POISON_MEMORY_REGION(p, n);
#else
  (void)p, (void)n;
#endif
}
void unpoison(void* p, std::size_t n) {
#ifdef MERVALT_ASAN
  ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
  (void)p, (void)n;
#endif
}

// The blocks one thread keeps between calls (see kMaxCachedBlockBytes).
class BlockCache {
 public:
  BlockCache() = default;
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;
  ~BlockCache() {
    while (count_ > 0) release(0);
  }

  // A kept block of exactly `size` bytes, or null. The most recently kept
  // one goes first.
  void* take(std::size_t size) {
    for (std::size_t i = count_; i-- > 0;) {
      if (blocks_[i].size != size) continue;
      void* p = blocks_[i].p;
      remove(i);
      bytes_ -= size;
      unpoison(p, size);
      return p;
    }
    return nullptr;
  }

  // Keeps the block, making room under the cap by freeing the blocks kept
  // longest ago: the sizes a thread renders with now are the ones it will
  // ask for next. False (the caller frees it) for a block above the cap.
  bool keep(void* p, std::size_t size) {
    if (size > kMaxCachedBlockBytes) return false;
    while (count_ == kSlots || size > kMaxCachedBlockBytes - bytes_) release(0);
    poison(p, size);
    blocks_[count_++] = {p, size};
    bytes_ += size;
    return true;
  }

 private:
  static constexpr std::size_t kSlots = 16;
  struct Entry {
    void* p;
    std::size_t size;
  };
  void remove(std::size_t i) {
    for (; i + 1 < count_; ++i) blocks_[i] = blocks_[i + 1];
    --count_;
  }
  // Frees the block at position i.
  void release(std::size_t i) {
    Entry e = blocks_[i];
    remove(i);
    bytes_ -= e.size;
    unpoison(e.p, e.size);
    ::operator delete(e.p, std::align_val_t(kBlockAlign));
  }

  Entry blocks_[kSlots];  // oldest first
  std::size_t count_ = 0;
  std::size_t bytes_ = 0;
};

BlockCache& threadCache() {
  thread_local BlockCache cache;
  return cache;
}

}  // namespace

void* HeapResource::do_allocate(std::size_t bytes, std::size_t align) {
  charge(bytes);
  if (isCacheableBlock(bytes) && align <= kBlockAlign) {
    if (void* p = threadCache().take(bytes)) return p;
  }
  try {
    return ::operator new(bytes, std::align_val_t(std::max(align, kBlockAlign)));
  } catch (...) {
    release(bytes);
    throw;
  }
}

void HeapResource::do_deallocate(void* p, std::size_t bytes, std::size_t align) {
  release(bytes);
  if (isCacheableBlock(bytes) && align <= kBlockAlign && threadCache().keep(p, bytes)) return;
  ::operator delete(p, std::align_val_t(std::max(align, kBlockAlign)));
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
      nextSize_(std::bit_ceil(std::clamp(sizeHint, kMinBlock, std::size_t{1} << 40))) {}

Arena::~Arena() {
  while (blocks_) {
    Block* b = blocks_;
    blocks_ = b->previous;
    upstream_->deallocate(b, b->size, kBlockAlign);
  }
}

// Starts a new block for the request: the next size in the doubling
// sequence. A request larger than that gets a block of its own, of its own
// size, so that a large text or list is charged what it takes; allocation
// goes on in the block it was in.
void* Arena::allocateSlow(std::size_t bytes, std::size_t align) {
  if (bytes > SIZE_MAX / 4 || align > kBlockAlign) throw std::bad_alloc();
  std::size_t need = bytes + align + sizeof(Block);
  bool own = need > nextSize_;
  std::size_t size = own ? (need + kMinBlock - 1) / kMinBlock * kMinBlock : nextSize_;
  auto* b = static_cast<Block*>(upstream_->allocate(size, kBlockAlign));
  b->previous = blocks_;
  b->size = size;
  blocks_ = b;
  char* p = reinterpret_cast<char*>(b + 1);
  if (own) {
    p += (align - reinterpret_cast<uintptr_t>(p)) & (align - 1);
#ifdef MERVALT_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, bytes);
#endif
    return p;
  }
  cur_ = p;
  end_ = reinterpret_cast<char*>(b) + size;
  if (nextSize_ < (std::size_t{1} << 30)) nextSize_ *= 2;
  return allocate(bytes, align);
}

void Arena::releaseBlocksAfter(const void* block) {
  while (blocks_ && blocks_ != block) {
    Block* b = blocks_;
    blocks_ = b->previous;
    upstream_->deallocate(b, b->size, kBlockAlign);
  }
}

}  // namespace mervalt

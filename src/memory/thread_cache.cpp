// thread_cache.cpp: the blocks a thread keeps, and where fresh ones come from.
#include "memory/thread_cache.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>

#include "memory/arena.h"

namespace mervalt {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

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

void* systemBlock(std::size_t bytes) {
  if (bytes < kHugePage) return ::operator new(bytes, std::align_val_t(kBlockAlign));
  std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (!p) throw std::bad_alloc();
  madvise(p, rounded, MADV_HUGEPAGE);
  return p;
}

void freeSystemBlock(void* p, std::size_t bytes) {
  if (bytes < kHugePage)
    ::operator delete(p, std::align_val_t(kBlockAlign));
  else
    std::free(p);
}

// The blocks one thread keeps between calls.
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

  // Keeps the block, making room under the budget by freeing the blocks kept
  // longest ago: the sizes a thread renders with now are the ones it will
  // ask for next. False (the caller frees it) for a block above the budget.
  bool keep(void* p, std::size_t size) {
    if (size > budget()) return false;
    while (count_ == kSlots || size > budget() - bytes_) release(0);
    poison(p, size);
    blocks_[count_++] = {p, size};
    bytes_ += size;
    return true;
  }

  void setReaderBytes(std::size_t bytes) {
    readerBytes_ = std::min(bytes, kMaxThreadCacheBytes);
    while (count_ > 0 && bytes_ > budget()) release(0);
  }

 private:
  static constexpr std::size_t kSlots = 16;
  struct Entry {
    void* p;
    std::size_t size;
  };
  std::size_t budget() const { return kMaxThreadCacheBytes - readerBytes_; }
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
    freeSystemBlock(e.p, e.size);
  }

  Entry blocks_[kSlots];  // oldest first
  std::size_t count_ = 0;
  std::size_t bytes_ = 0;
  std::size_t readerBytes_ = 0;
};

BlockCache& threadCache() {
  thread_local BlockCache cache;
  return cache;
}

bool isCacheable(std::size_t bytes) { return bytes >= kMinBlockBytes && std::has_single_bit(bytes); }

}  // namespace

void* takeBlock(std::size_t bytes) {
  if (isCacheable(bytes))
    if (void* p = threadCache().take(bytes)) return p;
  return systemBlock(bytes);
}

void returnBlock(void* block, std::size_t bytes) {
  if (isCacheable(bytes) && threadCache().keep(block, bytes)) return;
  freeSystemBlock(block, bytes);
}

void setReaderBytes(std::size_t bytes) { threadCache().setReaderBytes(bytes); }

}  // namespace mervalt

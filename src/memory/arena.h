// arena.h: the per-call memory of a render and the heap it is carved from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "render_limits.h"

#if defined(__SANITIZE_ADDRESS__)
#define MERVALT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MERVALT_ASAN 1
#endif
#endif
#ifdef MERVALT_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace mervalt {

// Copies n bytes: short runs, the usual pieces of text, inline with two
// overlapping moves of a fixed size, longer ones by memcpy. Returns the end
// of the copy.
inline char* copyBytes(char* d, const char* s, std::size_t n) {
  if (n >= 8 && n <= 16) {
    std::memcpy(d, s, 8);
    std::memcpy(d + n - 8, s + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::memcpy(d, s, 4);
    std::memcpy(d + n - 4, s + n - 4, 4);
  } else if (n < 4) {
    for (std::size_t i = 0; i < n; ++i) d[i] = s[i];
  } else {
    std::memcpy(d, s, n);
  }
  return d + n;
}

// The heap below every arena of a call. It holds the call to its memory
// bound, and counts allocations so that tests can make the Nth one fail; in
// normal use `failAt` is 0 and nothing fails except a real out-of-memory
// condition or the bound. Failure is std::bad_alloc.
class HeapResource final : public std::pmr::memory_resource {
 public:
  explicit HeapResource(const Limits& limits = {}, uint64_t failAt = 0)
      : failAt_(failAt), limit_(limits.memory), defaultLimit_(limits.isDefault(LimitKind::Memory)) {}

  // Counts one allocation of `bytes` and throws std::bad_alloc if it is the
  // one chosen to fail, or LimitExceeded if the call would hold more than its
  // bound. The output buffer calls this before it grows with realloc.
  void charge(std::size_t bytes) {
    ++count_;
    if (failAt_ != 0 && count_ >= failAt_) throw std::bad_alloc();
    if (bytes > limit_ - used_) throw LimitExceeded(LimitKind::Memory, limit_, defaultLimit_);
    used_ += bytes;
    if (used_ > peak_) peak_ = used_;
  }
  // Gives back bytes that charge() counted.
  void release(std::size_t bytes) { used_ -= bytes < used_ ? bytes : used_; }
  uint64_t allocations() const { return count_; }
  // The bytes held now.
  std::size_t used() const { return used_; }
  // The most bytes held at once so far.
  std::size_t peak() const { return peak_; }

 private:
  void* do_allocate(std::size_t bytes, std::size_t align) override;
  void do_deallocate(void* p, std::size_t bytes, std::size_t align) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  uint64_t failAt_;
  uint64_t count_ = 0;
  uint64_t limit_;
  bool defaultLimit_;
  uint64_t used_ = 0;
  std::size_t peak_ = 0;
};

// A monotonic arena: allocation is a pointer bump, nothing is freed until the
// arena dies. Every Value, string, syntax tree node and renderer structure of
// one call lives in one of these. Blocks come from the upstream resource in
// powers of two, the first one sized from a hint so that a typical call takes
// one or two blocks.
class Arena final : public std::pmr::memory_resource {
 public:
  explicit Arena(std::pmr::memory_resource* upstream, std::size_t sizeHint = 0);
  ~Arena() override;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  std::pmr::memory_resource* resource() { return this; }
  // Where the arena's blocks come from.
  std::pmr::memory_resource* upstream() const { return upstream_; }

  void* allocate(std::size_t bytes, std::size_t align = alignof(std::max_align_t)) {
    std::size_t pad = (align - reinterpret_cast<uintptr_t>(cur_)) & (align - 1);
    if (bytes + pad <= static_cast<std::size_t>(end_ - cur_)) {
      char* p = cur_ + pad;
      cur_ = p + bytes;
#ifdef MERVALT_ASAN
      ASAN_UNPOISON_MEMORY_REGION(p, bytes);
#endif
      return p;
    }
    return allocateSlow(bytes, align);
  }

  // A point to come back to: everything allocated after it can be released
  // at once when nothing refers to it any more.
  struct Mark {
    const void* block;
    char* cur;
    char* end;
    std::size_t nextSize;
    uint64_t ownBlocks;
  };
  Mark mark() const { return {blocks_, cur_, end_, nextSize_, ownMade_}; }
  // Releases what was allocated since `m`: the blocks taken since go back
  // to the heap, and allocation goes on from where it stood.
  void release(Mark m) {
#ifdef MERVALT_ASAN
    char* used = m.end == end_ ? cur_ : m.end;
    ASAN_POISON_MEMORY_REGION(m.cur, static_cast<std::size_t>(used - m.cur));
#endif
    if (m.block != blocks_) releaseBlocksAfter(m.block);
    if (m.ownBlocks != ownMade_) releaseOwnBlocksAfter(m.ownBlocks);
    cur_ = m.cur;
    end_ = m.end;
    nextSize_ = m.nextSize;
  }

  // Uninitialised storage for `n` objects of a trivially copyable T; throws
  // std::bad_alloc when the byte count would overflow.
  template <class T>
  T* allocArray(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
  }

  template <class T>
  std::span<T> copyArray(std::span<const T> src) {
    if (src.empty()) return {};
    T* p = allocArray<T>(src.size());
    std::memcpy(static_cast<void*>(p), src.data(), src.size() * sizeof(T));
    return {p, src.size()};
  }

  template <class T, class... Args>
  T* make(Args&&... args) {
    return new (allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
  }

  // Gives back the last `n` bytes handed out, ending at `end`, when nothing
  // was allocated after them (otherwise they stay unused until the arena
  // dies).
  void giveBack(char* end, std::size_t n) {
    if (end + n == cur_) cur_ = end;
  }

  std::string_view copy(std::string_view s) {
    if (s.empty()) return {};
    char* p = static_cast<char*>(allocate(s.size(), 1));
    copyBytes(p, s.data(), s.size());
    return {p, s.size()};
  }

 private:
  struct Block {
    Block* previous;
    std::size_t size;
    uint64_t number;  // own blocks: the how-manieth own block of the arena
    void* payload;    // own blocks: the one allocation they hold
  };

  void* do_allocate(std::size_t bytes, std::size_t align) override { return allocate(bytes, align); }
  // Containers in the arena give back what they outgrew. Only a block of its
  // own (a large request) can go back before the arena dies: a growing list
  // or text then holds its current storage, not every size it passed.
  void do_deallocate(void* p, std::size_t bytes, std::size_t) override {
    if (bytes >= kOwnBlockFloor) releaseOwnBlock(p);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
  void* allocateSlow(std::size_t bytes, std::size_t align);
  void* allocateOwnBlock(std::size_t bytes, std::size_t align);
  void releaseBlocksAfter(const void* block);
  void releaseOwnBlocksAfter(uint64_t number);
  void releaseOwnBlock(void* payload);

  // Requests smaller than this never get a block of their own.
  static constexpr std::size_t kOwnBlockFloor = std::size_t{32} << 10;

  std::pmr::memory_resource* upstream_;
  Block* blocks_ = nullptr;  // the blocks allocation bumps through, newest first
  Block* own_ = nullptr;     // blocks of one large request each, newest first
  uint64_t ownMade_ = 0;
  char* cur_;
  char* end_;
  std::size_t nextSize_;  // the size of the next block; doubles with every block
};

// A text written into the arena within a size known in advance (a filter
// that only drops bytes writes at most its input); what it does not use is
// given back when it is done.
class BoundedText {
 public:
  BoundedText(Arena& arena, std::size_t bound)
      : arena_(arena), begin_(arena.allocArray<char>(bound == 0 ? 1 : bound)), cur_(begin_), bound_(bound) {}
  void append(std::string_view s) { cur_ = copyBytes(cur_, s.data(), s.size()); }
  void push_back(char c) { *cur_++ = c; }
  std::string_view finish() {
    std::size_t n = static_cast<std::size_t>(cur_ - begin_);
    arena_.giveBack(cur_, bound_ - n);
    return {begin_, n};
  }

 private:
  Arena& arena_;
  char* begin_;
  char* cur_;
  std::size_t bound_;
};

// A growable text that lives in the arena, object and bytes both, so a view of
// it stays valid for the whole call without a final copy.
inline std::pmr::string& newText(Arena& arena) {
  return *arena.make<std::pmr::string>(arena.resource());
}

}  // namespace mervalt

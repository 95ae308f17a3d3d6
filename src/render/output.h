// output.h: the growable byte buffer that a render writes into.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "render_limits.h"
#include "memory/arena.h"

namespace mervalt {

class HeapResource;

// Heap bytes from malloc/realloc, so that the finished buffer can be handed
// to the caller and released with free(). Grows by capacity/2 + 128.
class OutputBuffer {
 public:
  OutputBuffer(HeapResource& heap, const Limits& limits)
      : heap_(heap), limit_(limits.output), defaultLimit_(limits.isDefault(LimitKind::Output)) {}
  ~OutputBuffer() { std::free(data_); }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // Reserves 256 bytes per top-level node, at least 4096; a failure here is
  // ignored and the buffer simply grows later.
  void reserveForNodes(std::size_t topLevelNodes);

  void append(std::string_view s) {
    std::size_t n = s.size();
    if (n > cap_ - len_) grow(n);
    mervalt::copyBytes(data_ + len_, s.data(), n);
    len_ += n;
  }
  // Room for `n` more bytes at the end, to be filled and then taken into the
  // output with commit(n).
  char* reserve(std::size_t n) {
    if (n > cap_ - len_) grow(n);
    return data_ + len_;
  }
  void commit(std::size_t n) { len_ += n; }

  void push_back(char c) {
    if (len_ == cap_) grow(1);
    data_[len_++] = c;
  }

  std::size_t size() const { return len_; }
  const char* data() const { return data_; }
  std::string_view view() const { return {data_, len_}; }
  std::string_view from(std::size_t start) const { return {data_ + start, len_ - start}; }
  char back() const { return data_[len_ - 1]; }
  void truncate(std::size_t n) { if (n < len_) len_ = n; }

  // Shrinks the block to the length and gives it up. An empty result frees
  // the block and yields {nullptr, 0}.
  std::pair<char*, std::size_t> detach();

 private:
  void grow(std::size_t extra);
  void setCapacity(std::size_t cap);

  HeapResource& heap_;
  uint64_t limit_;
  bool defaultLimit_;
  char* data_ = nullptr;
  std::size_t len_ = 0;
  std::size_t cap_ = 0;
};

}  // namespace mervalt

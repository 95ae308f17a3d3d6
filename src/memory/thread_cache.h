// thread_cache.h: the memory one thread keeps between calls: raw arena
// blocks and the JSON reader's buffers. A call that finds them reuses pages
// already mapped instead of faulting fresh ones in and handing them back; a
// thread keeps at most kMaxThreadCacheBytes, released when the thread ends.
// Nothing kept carries over into a result: a block is raw memory to the
// arena that takes it next, and the reader's buffers are rewritten by each
// document it reads.
#pragma once

#include <cstddef>

namespace mervalt {

// What one thread keeps at most, blocks and reader together. A server with
// 64 threads keeps at most 2 GiB of address space this way, and less of it
// in memory: only the pages its calls touched.
inline constexpr std::size_t kMaxThreadCacheBytes = std::size_t{32} << 20;

// The share of it the JSON reader may keep for its buffers; the blocks get
// the rest.
inline constexpr std::size_t kMaxThreadReaderBytes = std::size_t{24} << 20;

// Blocks of memory for arenas: powers of two from kMinBlockBytes, and
// larger blocks of other sizes for single large requests. Blocks of 2 MiB
// and more are aligned for and asked to be backed by huge pages, which a
// large call then faults in a few hundred times fewer.
inline constexpr std::size_t kMinBlockBytes = std::size_t{64} << 10;
inline constexpr std::size_t kBlockAlign = 64;

// A block of `bytes`, from this thread's cache or the system; throws
// std::bad_alloc.
void* takeBlock(std::size_t bytes);
// Gives a block back: kept for this thread's next calls when the cache has
// room, otherwise returned to the system.
void returnBlock(void* block, std::size_t bytes);

// The JSON reader tells how much its kept buffers take, so that the blocks
// kept beside them stay within kMaxThreadCacheBytes.
void setReaderBytes(std::size_t bytes);

}  // namespace mervalt

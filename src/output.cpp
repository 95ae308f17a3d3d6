// output.cpp: placeholder.
#include "output.h"
#include "arena.h"
namespace mervalt {
void* HeapResource::do_allocate(std::size_t bytes, std::size_t align) {
  charge();
  return ::operator new(bytes, std::align_val_t(align));
}
void HeapResource::do_deallocate(void* p, std::size_t, std::size_t align) {
  ::operator delete(p, std::align_val_t(align));
}
void OutputBuffer::grow(std::size_t) {}
std::pair<char*, std::size_t> OutputBuffer::detach() { return {nullptr, 0}; }
}  // namespace mervalt

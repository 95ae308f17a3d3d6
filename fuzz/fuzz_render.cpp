// fuzz_render.cpp: template bytes up to the first NUL, JSON bytes after it,
// rendered twice within the fuzzing bounds (fuzz_check.h): a call depends on
// nothing but its input, whatever memory the previous call left behind in
// the thread's block cache, and a failure against a bound repeats exactly.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::size_t nul = bytes.find('\0');
  std::string_view templateText = bytes.substr(0, nul);
  std::string_view json = nul == std::string_view::npos ? std::string_view() : bytes.substr(nul + 1);
  mervalt::fuzzing::checkRender(templateText, json);
  return 0;
}

// fuzz_render.cpp: template bytes up to the first NUL, JSON bytes after it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mervalt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const void* nul = std::memchr(bytes, 0, size);
  std::size_t templateLen = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
  const char* json = nul ? bytes + templateLen + 1 : bytes + size;
  std::size_t jsonLen = nul ? size - templateLen - 1 : 0;

  char* out = nullptr;
  std::size_t outLen = 0;
  if (mervalt_render_json(bytes, templateLen, json, jsonLen, &out, &outLen) == 0) mervalt_free(out, outLen);
  return 0;
}

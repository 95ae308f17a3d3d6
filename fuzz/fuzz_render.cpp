// fuzz_render.cpp: template bytes up to the first NUL, JSON bytes after it.
// Every input is rendered twice and must give the same result both times: a
// call depends on nothing but its input, whatever memory the previous call
// left behind in the thread's block cache.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mervalt.h"

namespace {

struct Rendered {
  int rc = 1;
  std::string bytes;
};

Rendered render(const char* tpl, std::size_t tplLen, const char* json, std::size_t jsonLen) {
  char* out = nullptr;
  std::size_t outLen = 0;
  Rendered r;
  r.rc = mervalt_render_json(tpl, tplLen, json, jsonLen, &out, &outLen);
  if (r.rc == 0) {
    r.bytes.assign(out, outLen);
    mervalt_free(out, outLen);
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const void* nul = std::memchr(bytes, 0, size);
  std::size_t templateLen = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
  const char* json = nul ? bytes + templateLen + 1 : bytes + size;
  std::size_t jsonLen = nul ? size - templateLen - 1 : 0;

  Rendered first = render(bytes, templateLen, json, jsonLen);
  Rendered second = render(bytes, templateLen, json, jsonLen);
  if (first.rc != second.rc || first.bytes != second.bytes) {
    std::fprintf(stderr, "the same input rendered differently: result %d (%zu bytes), then %d (%zu bytes)\n",
                 first.rc, first.bytes.size(), second.rc, second.bytes.size());
    std::abort();
  }
  return 0;
}

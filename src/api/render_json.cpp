// api.cpp: the two exported functions. No exception crosses this boundary.
#include "mervalt.h"

#include <cstdlib>
#include <string_view>

#include "memory/arena.h"
#include "api/call.h"

namespace {

// The address handed out for an empty result: not an allocation, never freed.
char kEmptyResult[1] = {0};

}  // namespace

extern "C" MERVALT_API int mervalt_render_json(const char* template_ptr, size_t template_len,
                                               const char* json_ptr, size_t json_len,
                                               char** out_ptr, size_t* out_len) {
  if (!out_ptr || !out_len) return 1;
  if ((!template_ptr && template_len != 0) || (!json_ptr && json_len != 0)) return 1;
  try {
    mervalt::Limits limits = mervalt::limitsFor(template_len, json_len);
    mervalt::HeapResource heap(limits);
    auto [ptr, len] = mervalt::renderCall({template_ptr, template_len}, std::string_view(json_ptr, json_len), heap,
                                          limits);
    *out_ptr = len == 0 ? kEmptyResult : ptr;
    *out_len = len;
    return 0;
  } catch (...) {
    return 1;
  }
}

extern "C" MERVALT_API void mervalt_free(char* ptr, size_t len) {
  if (len != 0) std::free(ptr);
}

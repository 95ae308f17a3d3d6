// api.cpp: placeholder.
#include "mervalt.h"
extern "C" int mervalt_render_json(const char*, size_t, const char*, size_t, char**, size_t*) { return 1; }
extern "C" void mervalt_free(char*, size_t) {}
